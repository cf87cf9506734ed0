#pragma once
// CPhotoDB: the photos (data category 12) or the videos (category 13) of a
// backup's camera roll, grouped into one album per day.
//
// The photo library Photos.sqlite names the media the phone still shows
// (docs/formats/photos_sqlite.md): from iOS 8 one row per media in its asset
// table (ZASSET from iOS 14, ZGENERICASSET before), which places the file at
// Media/<ZDIRECTORY>/<ZFILENAME> in CameraRollDomain, says photo or video in
// ZKIND and marks Recently Deleted in ZTRASHEDSTATE; the iOS 7 library is
// read from ZADDITIONALASSETATTRIBUTES alone (ZORIGINALPATH, the name's
// extension). Past 9999 pictures the phone opens 101APPLE and numbers from
// IMG_0001 again, so a row's file is taken from its own folder. Beside a
// media are its 5003.JPG thumbnail under Media/PhotoData/Thumbnails/V2/,
// a video's preview picture under Media/PhotoData/Metadata/, and a Live
// Photo's motion: a .MOV of the picture's stem in its folder, which is part
// of the picture, not a video. A media whose original the backup lacks (the
// phone's optimized storage keeps it in iCloud) is listed with the remark
// "原图不在备份中". Every further picture or video file of the camera roll
// that no library row accounts for is listed as deleted: the phone removes
// a deleted photo's row, while the backup may still hold its file. Those
// land in day albums named after the file's birth date.
//
// Albums: three top albums ("全部照片"/"全部视频" with every day album,
// "相机胶卷" with the days that hold no deleted media, "已恢复"/"其它视频"
// with the days that do). A day album files its media in FriendItem sub-list
// 0 (all), 1 (live) and 2 (deleted); a top album's subListIndex says which
// one it shows.
//
// Camera-roll files are listed once per load from the backup file index (a
// query of Manifest.db, a pass over Manifest.mbdb, or a walk of the folder's
// Media/DCIM and Media/PhotoData), so filing a library row costs hash
// look-ups, not a search of the manifest.
//
// Threads: LoadPhotos runs on the analysis worker; afterwards the records
// are only read (by the browser and the recovery run) until the reader is
// destroyed. ExportPhotos runs on the recovery worker.

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "backup/file_list_db.h"
#include "db/db_sqlite.h"
#include "db/progress.h"
#include "db/items.h"

namespace exporting {
class IExportProgress;
}

namespace readers {

inline constexpr int kMediaPicture = 1;
inline constexpr int kMediaVideo = 2;       // a video the library lists, or an unlisted .mov file
inline constexpr int kMediaOtherVideo = 3;  // an unlisted .mp4, .m4v or .avi file

inline constexpr int kPhotoModePhotos = 0;
inline constexpr int kPhotoModeVideos = 1;

// One picture or video. Of the DBITEM_FileList fields it uses storedPath
// (the media file in the backup; empty when the backup lacks the original),
// size, birth, lastModified and lastStatusChange; texts and paths are UTF-8.
class DBITEM_PhotoItem : public backup::DBITEM_FileList {
 public:
  // The stored file, or the name when the backup lacks the original.
  const std::string& Title() const override { return storedPath.empty() ? mediaName : storedPath; }
  const std::string& SearchText() const override { return mediaName; }

  int mediaKind = kMediaPicture;
  std::int32_t pk = 0;            // Z_PK of the library row; 0 for an unlisted file
  std::int32_t pixelHeight = 0;   // ZORIGINALHEIGHT
  std::int32_t pixelWidth = 0;    // ZORIGINALWIDTH
  std::int64_t fileSizeValue = 0; // ZORIGINALFILESIZE, or the file's size; whole, never cut to 32 bits
  std::string dateText;           // "2016-11-05 08:53:20" (a deleted file's birth has a trailing blank); may be empty
  std::string mediaName;          // the file name, e.g. "IMG_0001.JPG"
  std::string thumbnailPath;      // stored path of the picture to show as preview; empty without one
  std::string livePhotoMotionPath;  // stored path of a Live Photo's .MOV beside the picture; may be empty
  std::string remark;             // "原图不在备份中" for a library row whose file the backup lacks
  // deleted: 1 for an unlisted file, and for a library row in Recently
  // Deleted (deletedFrom kRecentlyDeleted, deletedAt its ZTRASHEDDATE).
  // time: the shooting time in Unix seconds for a library row (ZDATECREATED,
  // or ParseDateText of dateText), 0 for an unlisted file.
};

// An album: a top album lists day albums in items; a day album files media
// in subLists 0 (all), 1 (live) and 2 (deleted), in the order they were
// filed. A day album's deleted is 1 when it holds a deleted media.
class DBITEM_PhotoFriend : public db::FriendItem {
 public:
  const std::string& Title() const override { return albumName; }
  const std::string& SearchText() const override { return albumName; }

  // A top album's name, or a day album's date "2016-11-05" (empty for media
  // without a date).
  std::string albumName;
  // time: a day album's date at 00:00 local time (ParseDateText), 0 without
  // one. deletedCount: a day album's number of deleted media.
};

class CameraRollFiles;
struct LibraryRow;

// The attribute row (ZADDITIONALASSETATTRIBUTES) of an asset, read with it.
struct AssetAttributes {
  std::int64_t fileSize = 0;  // ZORIGINALFILESIZE
  std::int32_t width = 0;     // ZORIGINALWIDTH
  std::int32_t height = 0;    // ZORIGINALHEIGHT
  std::string exifTimestamp;  // ZEXIFTIMESTAMPSTRING
};

class CPhotoDB : public db::CDbSqlite {
 public:
  // index: the analysis's backup file index (not owned; may be null: then
  // no file is found and every library row is dropped); must outlive
  // LoadPhotos. videoMode: kPhotoModeVideos for the videos, else the photos.
  CPhotoDB(backup::CFileListDB* index, int videoMode);
  ~CPhotoDB() override;

  // While opened with param 0: kinds 0 (the iOS 7 library) and 1 (the
  // attribute rows of an asset library) "ZADDITIONALASSETATTRIBUTES", kind 2
  // the asset table found at load; else "".
  std::string GetTableName(int tableKind) override;
  // Kinds 0 and 2: one library row, filed by the reader itself (nothing is
  // handed back); rows of the other mode are not filed but their files are
  // known. Kind 1: an attribute row, kept for its asset.
  void ParseRow(int tableKind, std::unique_ptr<db::BaseItem>& out, db::CppSQLite3Query& query) override;

  // Lists the media: creates the top albums (each top album's row is set to
  // its handle in albumRows, the browser's three album rows, which may be
  // null), opens the library at libraryPath, files its rows and the unlisted
  // camera-roll files, and sorts the albums newest first. Returns the open's
  // status when the library cannot be opened (the top albums are then
  // empty), else ok. Drops what an earlier call listed. Reports analysis
  // progress to progress (may be null).
  base::Status LoadPhotos(const std::string& libraryPath, std::array<void*, 3> albumRows,
                          db::AnalysisProgress* progress = nullptr);

  // The three top albums: all media, camera roll, recovered (photos) or
  // other videos (videos). Empty before LoadPhotos.
  const std::vector<DBITEM_PhotoFriend*>& TopAlbums() const { return topAlbums_; }
  // The day albums in the order they were made. Owned here.
  const std::vector<std::unique_ptr<DBITEM_PhotoFriend>>& DayAlbums() const { return dayAlbums_; }
  // Every filed media in the order it was filed. Owned here.
  const std::vector<std::unique_ptr<DBITEM_PhotoItem>>& PhotoItems() const { return photoItems_; }
  int VideoMode() const { return videoMode_; }

 private:
  void ParseLibraryRow(db::CppSQLite3Query& query);
  void ParseAttributesRow(db::CppSQLite3Query& query);
  void ParseAssetRow(db::CppSQLite3Query& query);
  void FileLibraryRow(const LibraryRow& row);
  std::string FindAssetTable();
  // Files item in its day album and records its stored paths (and
  // previewPath) as known; false (and item is dropped) when it has no name.
  bool PlaceMedia(std::unique_ptr<DBITEM_PhotoItem> item, const std::string& previewPath = "");
  DBITEM_PhotoFriend& DayAlbum(const std::string& dateText);
  void AddUnlistedFiles(const std::string& extension, int kind);
  void SortTopAlbums();
  void Reset();

  backup::CFileListDB* index_;
  int videoMode_;
  std::unique_ptr<DBITEM_PhotoFriend> rootAlbum_;
  std::unique_ptr<DBITEM_PhotoFriend> cameraRollAlbum_;
  std::unique_ptr<DBITEM_PhotoFriend> extraAlbum_;
  std::vector<DBITEM_PhotoFriend*> topAlbums_;
  std::vector<std::unique_ptr<DBITEM_PhotoItem>> photoItems_;
  std::vector<std::unique_ptr<DBITEM_PhotoFriend>> dayAlbums_;
  // Stored path of every file the library accounts for (media, thumbnail,
  // video preview) -> its media; null for the files of the other mode's rows.
  std::unordered_map<std::string, DBITEM_PhotoItem*> itemsByPath_;
  std::unordered_map<std::string, DBITEM_PhotoFriend*> albumsByDate_;
  // An asset library's attribute rows by their ZASSET, while its assets load.
  std::unordered_map<std::int64_t, AssetAttributes> attributesByAsset_;
  std::string assetTable_;  // "ZASSET", "ZGENERICASSET", or empty for the iOS 7 library
  int columnCount_ = 0;
  // The camera roll's files, while LoadPhotos runs.
  std::unique_ptr<CameraRollFiles> files_;
};

// A date text "2016-11-05 08:53:20" (or "2016-11-05", taken as 00:00:00) as
// Unix seconds, read as local time with daylight saving left to the system.
// 0 for an empty text, a text that does not begin with such a date, a field
// out of its range (month 13, minute 60) or a date the system cannot convert.
std::int64_t ParseDateText(const std::string& text);

// The name a media gets in its day folder: mediaName passed through
// exporting::SanitiseFileName with its stem cut to 60 UTF-16 units; when
// that leaves nothing, the stored file's own name treated the same way; when
// that too is empty, "媒体".
std::string PhotoExportName(const DBITEM_PhotoItem& item);

// Copies the ticked media of the given day albums (other record types are
// passed over), from the sub-list topAlbum shows, into
// destination/<album name>/, the name with ':' made '-' and sanitised (an
// album whose name sanitises to nothing puts its media in destination
// itself). Each copy is named PhotoExportName; an existing file is never
// overwritten: a name already taken gets "<stem> 2<extension>", then 3 and
// so on. A Live Photo's motion is copied beside its picture as
// "<the copy's stem>.MOV". Returns the number of files copied; a media whose
// file cannot be copied (or is not in the backup) is passed over. Adds each day album's share of 98 percent to
// progress (may be null) as its ticked media are handled; stops before the
// next file, and within a long copy (removed then), once progress asks to
// stop. Runs on the recovery worker.
int ExportPhotos(const std::filesystem::path& destination, const std::vector<db::BaseItem*>& dayAlbums,
                 const DBITEM_PhotoFriend& topAlbum, exporting::IExportProgress* progress);

}  // namespace readers
