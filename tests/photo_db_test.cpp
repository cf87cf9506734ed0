#include "readers/photo_db.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "backup/file_list_db.h"
#include "export/export_writer.h"
#include "platform/fs.h"
#include "testing/folder_snapshot.h"
#include "testing/progress_recorder.h"
#include "testing/sample_backup.h"
#include "testing/sample_media.h"

namespace readers {
namespace {

namespace fs = std::filesystem;
using sample::BackupMode;
using sample::SampleAsset;
using sample::SampleLibraryMedia;
using sample::SampleUnlistedMedia;

using FileMap = std::map<std::string, std::vector<std::uint8_t>>;

std::vector<std::uint8_t> Bytes(const fs::path& path) {
  return platform::ReadWholeFile(path).value_or(std::vector<std::uint8_t>{});
}

std::vector<std::uint8_t> AsBytes(const std::string& text) { return {text.begin(), text.end()}; }

// The files of a folder (not below it) with their bytes; a folder maps to "<folder>".
FileMap FilesIn(const fs::path& folder) {
  FileMap files;
  for (const platform::FolderEntry& entry : platform::ListFolder(folder)) {
    files[entry.name] = entry.isFile ? Bytes(folder / entry.name) : AsBytes("<folder>");
  }
  return files;
}

std::string ModeName(BackupMode mode) {
  switch (mode) {
    case BackupMode::kManifestDb: return "ManifestDb";
    case BackupMode::kManifestMbdb: return "ManifestMbdb";
    default: return "Folder";
  }
}

// A folder keeps no birth times: the reader takes a file's modification
// time, which a copy from the phone keeps. Set them as such a copy would.
void KeepBirthTimesAsModified(const fs::path& folder, const std::vector<SampleUnlistedMedia>& unlisted) {
  for (const SampleUnlistedMedia& media : unlisted) {
    const auto time = std::chrono::file_clock::from_sys(std::chrono::sys_seconds(std::chrono::seconds(media.birth)));
    fs::last_write_time(folder / media.relativePath, time);
  }
}

// A backup holding a camera roll, written in one form, opened as an
// analysis opens it, with the photo reader loaded on its library.
class PhotoBackup {
 public:
  PhotoBackup(BackupMode mode, int videoMode,
              const std::vector<SampleLibraryMedia>& library = sample::SampleLibrary(),
              const std::vector<SampleUnlistedMedia>& unlisted = sample::SampleUnlistedFiles(),
              const std::vector<std::pair<std::string, std::vector<std::uint8_t>>>& extraFiles = {})
      : reader_(&index_, videoMode) {
    sample::SampleBackupBuilder builder;
    sample::AddPhotosLibrary(builder, library, unlisted);
    for (const auto& [relativePath, bytes] : extraFiles) {
      builder.AddFile(sample::kCameraRollDomain, relativePath, bytes);
    }
    Load(builder, mode, unlisted);
  }

  // A backup of an asset library (iOS 8 on) in the asset table assetTable.
  PhotoBackup(BackupMode mode, int videoMode, const std::vector<SampleAsset>& assets,
              const std::vector<SampleUnlistedMedia>& unlisted, const std::string& assetTable = "ZASSET",
              const std::vector<std::pair<std::string, std::vector<std::uint8_t>>>& extraFiles = {})
      : reader_(&index_, videoMode) {
    sample::SampleBackupBuilder builder;
    sample::AddAssetLibrary(builder, assets, unlisted, assetTable);
    for (const auto& [relativePath, bytes] : extraFiles) {
      builder.AddFile(sample::kCameraRollDomain, relativePath, bytes);
    }
    Load(builder, mode, unlisted);
  }

  void Load(const sample::SampleBackupBuilder& builder, BackupMode mode,
            const std::vector<SampleUnlistedMedia>& unlisted) {
    builder.Write(folder_.Path(), mode);
    if (mode == BackupMode::kFolder) KeepBirthTimesAsModified(folder_.Path(), unlisted);
    snapshot_ = sample::SnapshotFolder(folder_.Path());
    if (!index_.Open(folder_.Path().string(), -1).Ok()) return;
    std::vector<std::string> paths;
    index_.FindFilePaths(sample::kPhotosLibraryPath, sample::kCameraRollDomain, paths, false);
    if (paths.empty()) return;
    loaded_ = reader_.LoadPhotos(paths[0], {&rows_[0], &rows_[1], &rows_[2]}, recorder_.Progress()).Ok() ? 1 : 0;
  }

  int Loaded() const { return loaded_; }
  // The progress the load reported.
  std::vector<int> ProgressValues() { return recorder_.Values(); }
  CPhotoDB& Reader() { return reader_; }
  const fs::path& Folder() const { return folder_.Path(); }
  void* Row(int which) { return &rows_[which]; }
  bool Unchanged() const { return sample::SnapshotFolder(folder_.Path()) == snapshot_; }

  const DBITEM_PhotoItem* Item(const std::string& mediaName) const {
    for (const auto& item : reader_.PhotoItems()) {
      if (item->mediaName == mediaName) return item.get();
    }
    return nullptr;
  }
  // The media of library row pk, or null.
  const DBITEM_PhotoItem* ItemByPk(std::int32_t pk) const {
    for (const auto& item : reader_.PhotoItems()) {
      if (item->pk == pk) return item.get();
    }
    return nullptr;
  }
  // The names of the media not from the library (deleted files), sorted.
  std::set<std::string> UnlistedNames() const {
    std::set<std::string> names;
    for (const auto& item : reader_.PhotoItems()) {
      if (item->pk == 0) names.insert(item->mediaName);
    }
    return names;
  }
  const DBITEM_PhotoFriend* Album(const std::string& name) const {
    for (const auto& album : reader_.DayAlbums()) {
      if (album->albumName == name) return album.get();
    }
    return nullptr;
  }

 private:
  platform::TempFolder folder_{"velmora-photo-backup"};
  backup::CFileListDB index_;
  CPhotoDB reader_;
  int rows_[3] = {0, 0, 0};
  sample::ProgressRecorder recorder_;
  int loaded_ = -1;
  sample::FolderSnapshot snapshot_;
};

std::vector<std::string> Names(const std::vector<db::BaseItem*>& records) {
  std::vector<std::string> names;
  for (const db::BaseItem* record : records) {
    if (const auto* album = dynamic_cast<const DBITEM_PhotoFriend*>(record)) names.push_back(album->albumName);
    if (const auto* item = dynamic_cast<const DBITEM_PhotoItem*>(record)) names.push_back(item->mediaName);
  }
  return names;
}

std::set<std::string> AllMediaNames(const CPhotoDB& reader) {
  std::set<std::string> names;
  for (const auto& item : reader.PhotoItems()) names.insert(item->mediaName);
  return names;
}

SampleLibraryMedia LibraryMedia(const std::string& name) {
  for (const SampleLibraryMedia& media : sample::SampleLibrary()) {
    if (media.name == name) return media;
  }
  return {};
}

std::vector<std::uint8_t> UnlistedBytes(const std::string& fileName) {
  for (const SampleUnlistedMedia& media : sample::SampleUnlistedFiles()) {
    if (media.relativePath.ends_with("/" + fileName)) return sample::SampleMediaFile(fileName, media.variant);
  }
  return {};
}

class PhotoForms : public ::testing::TestWithParam<BackupMode> {};

TEST_P(PhotoForms, PhotosGroupLibraryAndUnlistedPicturesByDay) {
  PhotoBackup backup(GetParam(), kPhotoModePhotos);
  ASSERT_EQ(backup.Loaded(), 1);
  const CPhotoDB& reader = backup.Reader();

  const auto& top = reader.TopAlbums();
  ASSERT_EQ(top.size(), 3u);
  EXPECT_EQ(top[0]->Title(), "全部照片");
  EXPECT_EQ(top[1]->Title(), "相机胶卷");
  EXPECT_EQ(top[2]->Title(), "已恢复");
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(top[i]->subListIndex, i);
    EXPECT_EQ(top[i]->row, backup.Row(i));
  }
  // Newest first; the screenshot without an EXIF time is last. The days
  // holding a deleted picture (11-05 beside its two live ones, 11-09) are
  // not under the camera roll.
  EXPECT_EQ(Names(top[0]->items), (std::vector<std::string>{"2016-11-09", "2016-11-08", "2016-11-05", ""}));
  EXPECT_EQ(Names(top[1]->items), (std::vector<std::string>{"2016-11-08", ""}));
  EXPECT_EQ(Names(top[2]->items), (std::vector<std::string>{"2016-11-09", "2016-11-05"}));

  // The videos (IMG_0003.MOV, IMG_0004.mov) belong to the video mode; no
  // thumbnail and no video preview is a deleted picture.
  EXPECT_EQ(AllMediaNames(reader), (std::set<std::string>{"IMG_0001.JPG", "IMG_0002.JPG", "IMG_0005.JPG",
                                                          "IMG_0006.JPG", "IMG_0007.PNG", "IMG_0010.JPG",
                                                          "IMG_0011.PNG"}));
  const DBITEM_PhotoFriend* day = backup.Album("2016-11-05");
  ASSERT_NE(day, nullptr);
  EXPECT_EQ(Names(day->subLists[0]), (std::vector<std::string>{"IMG_0001.JPG", "IMG_0002.JPG", "IMG_0010.JPG"}));
  EXPECT_EQ(Names(day->subLists[1]), (std::vector<std::string>{"IMG_0001.JPG", "IMG_0002.JPG"}));
  EXPECT_EQ(Names(day->subLists[2]), (std::vector<std::string>{"IMG_0010.JPG"}));
  EXPECT_EQ(day->deleted, 1);
  EXPECT_EQ(day->time, 1478275200);  // 2016-11-05 00:00 Beijing time
  EXPECT_EQ(backup.Album("")->time, 0);
  EXPECT_EQ(backup.Album("2016-11-08")->deleted, 0);

  const DBITEM_PhotoItem* first = backup.Item("IMG_0001.JPG");
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->pk, 1);
  EXPECT_EQ(first->mediaKind, kMediaPicture);
  EXPECT_EQ(first->deleted, 0);
  EXPECT_EQ(first->dateText, "2016-11-05 08:53:20");
  EXPECT_EQ(first->time, 1478307200);
  EXPECT_EQ(first->pixelHeight, 2448);
  EXPECT_EQ(first->pixelWidth, 3264);
  EXPECT_EQ(first->Title(), first->storedPath);
  EXPECT_EQ(first->parent, day);
  const SampleLibraryMedia firstMedia = LibraryMedia("IMG_0001.JPG");
  EXPECT_EQ(Bytes(first->storedPath), sample::LibraryFileBytes(firstMedia));
  EXPECT_EQ(first->fileSizeValue, static_cast<std::int64_t>(sample::LibraryFileBytes(firstMedia).size()));
  EXPECT_EQ(Bytes(first->thumbnailPath), sample::LibraryThumbnailBytes(firstMedia));

  // Without a thumbnail the picture is its own preview.
  EXPECT_EQ(backup.Item("IMG_0002.JPG")->thumbnailPath, backup.Item("IMG_0002.JPG")->storedPath);
  // A row whose file the backup lacks is listed with its name, size and
  // date, and says so.
  const DBITEM_PhotoItem* missing = backup.Item("IMG_0006.JPG");
  ASSERT_NE(missing, nullptr);
  EXPECT_EQ(missing->remark, "原图不在备份中");
  EXPECT_EQ(missing->storedPath, "");
  EXPECT_EQ(missing->Title(), "IMG_0006.JPG");
  EXPECT_EQ(missing->deleted, 0);
  EXPECT_EQ(missing->dateText, "2016-11-08 10:00:00");
  EXPECT_EQ(missing->fileSizeValue,
            static_cast<std::int64_t>(sample::LibraryFileBytes(LibraryMedia("IMG_0006.JPG")).size()));
  EXPECT_EQ(first->remark, "");
  // Found in Media/DCIM/101APPLE/, with the thumbnail of that folder.
  const DBITEM_PhotoItem* other = backup.Item("IMG_0005.JPG");
  EXPECT_EQ(other->deleted, 0);
  EXPECT_EQ(Bytes(other->storedPath), sample::LibraryFileBytes(LibraryMedia("IMG_0005.JPG")));
  EXPECT_EQ(Bytes(other->thumbnailPath), sample::LibraryThumbnailBytes(LibraryMedia("IMG_0005.JPG")));

  // An unlisted file: deleted, dated by its birth (with FormatItemTime's
  // trailing blank), its own preview, no shooting time.
  const DBITEM_PhotoItem* deleted = backup.Item("IMG_0010.JPG");
  EXPECT_EQ(deleted->deleted, 1);
  EXPECT_EQ(deleted->mediaKind, kMediaPicture);
  EXPECT_EQ(deleted->pk, 0);
  EXPECT_EQ(deleted->dateText, "2016-11-05 12:00:00 ");
  EXPECT_EQ(deleted->birth, 1478318400);
  EXPECT_EQ(deleted->time, 0);
  EXPECT_EQ(deleted->thumbnailPath, deleted->storedPath);
  EXPECT_EQ(Bytes(deleted->storedPath), UnlistedBytes("IMG_0010.JPG"));
  EXPECT_EQ(deleted->size, static_cast<std::int64_t>(UnlistedBytes("IMG_0010.JPG").size()));
  EXPECT_EQ(deleted->fileSizeValue, deleted->size);
  EXPECT_EQ(backup.Item("IMG_0011.PNG")->dateText, "2016-11-09 21:30:00 ");

  for (const int value : backup.ProgressValues()) EXPECT_LE(value, 100);
  EXPECT_TRUE(backup.Unchanged());
}

TEST_P(PhotoForms, VideosKeepTheirWholeSizeAndNoPreviewIsADeletedVideo) {
  PhotoBackup backup(GetParam(), kPhotoModeVideos);
  ASSERT_EQ(backup.Loaded(), 1);
  const CPhotoDB& reader = backup.Reader();
  const auto& top = reader.TopAlbums();
  ASSERT_EQ(top.size(), 3u);
  EXPECT_EQ(top[0]->Title(), "全部视频");
  EXPECT_EQ(top[1]->Title(), "相机胶卷");
  EXPECT_EQ(top[2]->Title(), "其它视频");
  EXPECT_EQ(Names(top[0]->items), (std::vector<std::string>{"2016-11-10", "2016-11-07", "2016-11-06"}));
  EXPECT_EQ(Names(top[1]->items), (std::vector<std::string>{"2016-11-07", "2016-11-06"}));
  EXPECT_EQ(Names(top[2]->items), (std::vector<std::string>{"2016-11-10"}));
  // A lower-case ".mov" is a video as well; the videos' previews
  // (IMG_0003.JPG, IMG_0004.JPG) are not scanned.
  EXPECT_EQ(AllMediaNames(reader),
            (std::set<std::string>{"IMG_0003.MOV", "IMG_0004.mov", "IMG_0012.MOV", "IMG_0013.MP4"}));
  EXPECT_EQ(backup.Item("IMG_0004.mov")->mediaKind, kMediaVideo);
  EXPECT_EQ(backup.Item("IMG_0004.mov")->deleted, 0);

  const DBITEM_PhotoItem* video = backup.Item("IMG_0003.MOV");
  ASSERT_NE(video, nullptr);
  EXPECT_EQ(video->mediaKind, kMediaVideo);
  EXPECT_EQ(video->deleted, 0);
  EXPECT_EQ(video->fileSizeValue, 5368709120);  // 5 GB, not the 1 GB of its low 32 bits
  EXPECT_EQ(video->size, 5368709120);
  EXPECT_EQ(Bytes(video->storedPath), sample::LibraryFileBytes(LibraryMedia("IMG_0003.MOV")));
  EXPECT_EQ(Bytes(video->thumbnailPath), sample::LibraryThumbnailBytes(LibraryMedia("IMG_0003.MOV")));

  const DBITEM_PhotoFriend* day = backup.Album("2016-11-10");
  ASSERT_NE(day, nullptr);
  EXPECT_EQ(Names(day->subLists[2]), (std::vector<std::string>{"IMG_0012.MOV", "IMG_0013.MP4"}));
  EXPECT_TRUE(day->subLists[1].empty());
  EXPECT_EQ(backup.Item("IMG_0012.MOV")->mediaKind, kMediaVideo);
  EXPECT_EQ(backup.Item("IMG_0013.MP4")->mediaKind, kMediaOtherVideo);
  EXPECT_EQ(backup.Item("IMG_0013.MP4")->dateText, "2016-11-10 23:59:59 ");
  EXPECT_TRUE(backup.Unchanged());
}

TEST_P(PhotoForms, UnlistedFilesAreFoundByTheirWholeExtension) {
  struct Case {
    const char* fileName;
    int photoKind;  // 0: not listed in that mode
    int videoKind;
  };
  const std::vector<Case> cases = {
      {"a.jpg", kMediaPicture, 0},   {"b.JPEG", kMediaPicture, 0}, {"c.heic", kMediaPicture, 0},
      {"d.HEIC", kMediaPicture, 0},  {"e.png", kMediaPicture, 0},  {"f.gif", kMediaPicture, 0},
      {"g.TIFF", kMediaPicture, 0},  {"h.bmp", kMediaPicture, 0},  {"i.tga", kMediaPicture, 0},
      {"j.jpg.tmp", 0, 0},           {"k.jpgx", 0, 0},             {"l.txt", 0, 0},
      {"m.mov", 0, kMediaVideo},     {"n.AVI", 0, kMediaOtherVideo}, {"o.mp4", 0, kMediaOtherVideo},
      {"p.mov.part", 0, 0},          {"q.m4v", 0, kMediaOtherVideo}, {"r.MP4", 0, kMediaOtherVideo},
      {"jpg", 0, 0},
  };
  std::vector<SampleUnlistedMedia> unlisted;
  for (std::size_t i = 0; i < cases.size(); ++i) {
    // Half below DCIM, half below PhotoData: both are the camera roll's.
    const std::string folder = i % 2 == 0 ? "Media/DCIM/102APPLE/" : "Media/PhotoData/MISC/";
    unlisted.push_back({folder + cases[i].fileName, 1478318400, static_cast<int>(i)});
  }
  for (const int videoMode : {kPhotoModePhotos, kPhotoModeVideos}) {
    SCOPED_TRACE(videoMode);
    PhotoBackup backup(GetParam(), videoMode, std::vector<SampleLibraryMedia>{}, unlisted);
    ASSERT_EQ(backup.Loaded(), 1);
    for (const Case& c : cases) {
      SCOPED_TRACE(c.fileName);
      const int expected = videoMode == kPhotoModeVideos ? c.videoKind : c.photoKind;
      const DBITEM_PhotoItem* item = backup.Item(c.fileName);
      ASSERT_EQ(item != nullptr, expected != 0);
      if (item == nullptr) continue;
      EXPECT_EQ(item->mediaKind, expected);
      EXPECT_EQ(item->deleted, 1);
      EXPECT_EQ(item->dateText, "2016-11-05 12:00:00 ");
    }
  }
}

TEST_P(PhotoForms, LibraryFilesAreFoundByTheirExactName) {
  struct Case {
    std::string name;        // ZORIGINALFILENAME
    std::string storedAt;    // where the backup holds a file for it ("" none)
    bool found;              // the row has that file; else it is listed without one
    bool listed;             // the row is listed at all (a name that is no file name is not)
  };
  const std::vector<Case> cases = {
      {"IMG_0100.JPG", "Media/DCIM/100APPLE/IMG_0100.JPG", true, true},
      {"IMG_0101.JPG", "Media/DCIM/102APPLE/IMG_0101.JPG", true, true},
      {"img_0102.jpg", "Media/DCIM/100APPLE/IMG_0102.JPG", true, true},
      {"IMG_0_03.JPG", "Media/DCIM/100APPLE/IMGx0x03.JPG", false, true},
      {"0104.JPG", "Media/DCIM/100APPLE/IMG_0104.JPG", false, true},
      {"IMG_0105.JPG", "Media/DCIM/100APPLE/old/IMG_0105.JPG", false, true},
      {"IMG_0106.JPG", "Media/PhotoData/IMG_0106.JPG", false, true},
      {"../100APPLE/IMG_0107.JPG", "Media/DCIM/100APPLE/IMG_0107.JPG", false, false},
      {"", "", false, false},
  };
  std::vector<SampleLibraryMedia> library;
  std::vector<std::pair<std::string, std::vector<std::uint8_t>>> files;
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SampleLibraryMedia media;
    media.name = cases[i].name;
    media.exifTimestamp = "2016:11:05 08:00:00";
    media.fileInBackup = false;
    library.push_back(media);
    if (!cases[i].storedAt.empty()) files.push_back({cases[i].storedAt, sample::SampleJpeg(static_cast<int>(i))});
  }
  // 100APPLE comes first even when another folder holds the same name.
  files.push_back({"Media/DCIM/101APPLE/IMG_0100.JPG", AsBytes("the other IMG_0100.JPG")});

  PhotoBackup backup(GetParam(), kPhotoModePhotos, library, {}, files);
  ASSERT_EQ(backup.Loaded(), 1);
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].name);
    const DBITEM_PhotoItem* item = nullptr;
    for (const auto& candidate : backup.Reader().PhotoItems()) {
      if (candidate->pk == static_cast<std::int32_t>(i + 1)) item = candidate.get();
    }
    ASSERT_EQ(item != nullptr, cases[i].listed);
    if (item == nullptr) continue;
    if (cases[i].found) {
      EXPECT_EQ(Bytes(item->storedPath), sample::SampleJpeg(static_cast<int>(i)));
      EXPECT_EQ(item->remark, "");
    } else {
      EXPECT_EQ(item->storedPath, "");
      EXPECT_EQ(item->remark, "原图不在备份中");
    }
  }
}

// Past 9999 pictures the phone starts again at IMG_0001 in 101APPLE: each
// row keeps the file of the folder it names, and neither file, nor its
// thumbnail, comes back as a deleted picture.
TEST_P(PhotoForms, RowsOfOneNameInTwoFoldersKeepTheirOwnFiles) {
  std::vector<SampleLibraryMedia> library(2);
  for (std::size_t i = 0; i < library.size(); ++i) {
    library[i].name = "IMG_0001.JPG";
    library[i].folder = i == 0 ? "100APPLE" : "101APPLE";
    library[i].exifTimestamp = "2016:11:05 08:00:00";
    library[i].variant = static_cast<int>(i) + 40;
  }
  PhotoBackup backup(GetParam(), kPhotoModePhotos, library, {}, {});
  ASSERT_EQ(backup.Loaded(), 1);
  ASSERT_EQ(backup.Reader().PhotoItems().size(), 2u);
  for (const auto& item : backup.Reader().PhotoItems()) {
    SCOPED_TRACE(item->pk);
    EXPECT_EQ(item->deleted, 0);
    EXPECT_EQ(Bytes(item->storedPath), sample::LibraryFileBytes(library[static_cast<std::size_t>(item->pk - 1)]));
  }
  EXPECT_TRUE(backup.Reader().TopAlbums()[2]->items.empty());
}

INSTANTIATE_TEST_SUITE_P(Forms, PhotoForms,
                         ::testing::Values(BackupMode::kManifestDb, BackupMode::kManifestMbdb, BackupMode::kFolder),
                         [](const auto& form) { return ModeName(form.param); });

// ---- the asset library of iOS 8 on ----

struct AssetForm {
  BackupMode mode;
  const char* assetTable;  // ZASSET from iOS 14, ZGENERICASSET before
};

void PrintTo(const AssetForm& form, std::ostream* out) { *out << ModeName(form.mode) << " " << form.assetTable; }

class AssetForms : public ::testing::TestWithParam<AssetForm> {};

bool Holds(const std::vector<db::BaseItem*>& list, const db::BaseItem* item) {
  return std::find(list.begin(), list.end(), item) != list.end();
}

// Each asset of the sample where it belongs: in the mode its ZKIND says
// (an .MP4 is a video), with the file of its own folder (IMG_0001.HEIC of
// 100APPLE and of 101APPLE), Recently Deleted as deleted with its date, a
// missing original listed by name with its thumbnail, a Live Photo with its
// motion.
TEST_P(AssetForms, EachAssetIsFiledByItsKindFolderAndState) {
  const std::vector<SampleAsset> assets = sample::SampleAssets();
  struct Case {
    const char* trace;
    std::size_t asset;  // index in SampleAssets()
    int videoMode;      // the mode that lists it
    int kind;
    const char* dateText;
    double deletedAt;   // set: in Recently Deleted
    bool inBackup;
    bool motion;
  };
  const std::vector<Case> cases = {
      {"photo", 0, kPhotoModePhotos, kMediaPicture, "2023-05-01 09:00:00", 0, true, false},
      {"Live Photo", 1, kPhotoModePhotos, kMediaPicture, "2023-05-01 10:30:00", 0, true, true},
      {"MP4 video", 2, kPhotoModeVideos, kMediaVideo, "2023-05-02 18:00:00", 0, true, false},
      {"MOV video", 3, kPhotoModeVideos, kMediaVideo, "2023-05-02 19:00:00", 0, true, false},
      {"same name in 101APPLE", 4, kPhotoModePhotos, kMediaPicture, "2023-05-03 08:00:00", 0, true, false},
      {"Recently Deleted", 5, kPhotoModePhotos, kMediaPicture, "2023-05-03 12:00:00", 1683720000, true, false},
      {"original not in backup", 6, kPhotoModePhotos, kMediaPicture, "2023-05-04 07:00:00", 0, false, false},
  };
  for (const int videoMode : {kPhotoModePhotos, kPhotoModeVideos}) {
    SCOPED_TRACE(videoMode);
    PhotoBackup backup(GetParam().mode, videoMode, assets, sample::SampleAssetUnlistedFiles(),
                       GetParam().assetTable);
    ASSERT_EQ(backup.Loaded(), 1);
    for (const Case& c : cases) {
      SCOPED_TRACE(c.trace);
      const SampleAsset& asset = assets[c.asset];
      const DBITEM_PhotoItem* item = backup.ItemByPk(static_cast<std::int32_t>(c.asset + 1));
      ASSERT_EQ(item != nullptr, c.videoMode == videoMode);
      if (item == nullptr) continue;
      EXPECT_EQ(item->mediaKind, c.kind);
      EXPECT_EQ(item->mediaName, asset.fileName);
      EXPECT_EQ(item->dateText, c.dateText);
      EXPECT_EQ(item->time, static_cast<double>(asset.created));
      EXPECT_EQ(item->pixelWidth, asset.width);
      EXPECT_EQ(item->deleted, c.deletedAt != 0 ? 1 : 0);
      EXPECT_EQ(item->deletedAt, c.deletedAt);
      if (c.deletedAt != 0) {
        EXPECT_EQ(item->deletedFrom, db::BaseItem::DeletedFrom::kRecentlyDeleted);
      }
      const auto* day = static_cast<const DBITEM_PhotoFriend*>(item->parent);
      ASSERT_NE(day, nullptr);
      EXPECT_EQ(Holds(day->subLists[2], item), c.deletedAt != 0);
      if (c.deletedAt != 0) {
        EXPECT_TRUE(Holds(backup.Reader().TopAlbums()[2]->items, day));
      }
      EXPECT_EQ(Bytes(item->thumbnailPath), sample::AssetThumbnailBytes(asset));
      EXPECT_EQ(Bytes(item->livePhotoMotionPath),
                c.motion ? sample::AssetMotionBytes(asset) : std::vector<std::uint8_t>{});
      EXPECT_EQ(item->fileSizeValue, static_cast<std::int64_t>(sample::AssetFileBytes(asset).size()));
      if (c.inBackup) {
        EXPECT_EQ(Bytes(item->storedPath), sample::AssetFileBytes(asset));
        EXPECT_EQ(item->remark, "");
      } else {
        EXPECT_EQ(item->storedPath, "");
        EXPECT_EQ(item->Title(), asset.fileName);
        EXPECT_EQ(item->remark, "原图不在备份中");
      }
    }
    EXPECT_TRUE(backup.Unchanged());
  }
}

// The files no asset names are deleted media; a Live Photo's motion, of the
// library's Live Photo or of a deleted one, is no video of its own.
TEST_P(AssetForms, UnlistedFilesAreDeletedMediaButLivePhotoMotionsAreNoVideos) {
  PhotoBackup photos(GetParam().mode, kPhotoModePhotos, sample::SampleAssets(), sample::SampleAssetUnlistedFiles(),
                     GetParam().assetTable);
  ASSERT_EQ(photos.Loaded(), 1);
  EXPECT_EQ(photos.UnlistedNames(), (std::set<std::string>{"IMG_0010.HEIC"}));
  const DBITEM_PhotoItem* deleted = photos.Item("IMG_0010.HEIC");
  EXPECT_EQ(deleted->deleted, 1);
  EXPECT_EQ(Bytes(deleted->livePhotoMotionPath), sample::SampleMediaFile("IMG_0010.MOV", 3110));
  const auto& top = photos.Reader().TopAlbums();
  EXPECT_EQ(Names(top[0]->items), (std::vector<std::string>{"2023-05-05", "2023-05-04", "2023-05-03", "2023-05-01"}));
  EXPECT_EQ(Names(top[1]->items), (std::vector<std::string>{"2023-05-04", "2023-05-01"}));
  EXPECT_EQ(Names(top[2]->items), (std::vector<std::string>{"2023-05-05", "2023-05-03"}));

  PhotoBackup videos(GetParam().mode, kPhotoModeVideos, sample::SampleAssets(), sample::SampleAssetUnlistedFiles(),
                     GetParam().assetTable);
  ASSERT_EQ(videos.Loaded(), 1);
  EXPECT_EQ(AllMediaNames(videos.Reader()), (std::set<std::string>{"IMG_0003.MP4", "IMG_0004.MOV", "IMG_0011.mp4"}));
  const DBITEM_PhotoItem* video = videos.Item("IMG_0011.mp4");
  EXPECT_EQ(video->deleted, 1);
  EXPECT_EQ(video->mediaKind, kMediaOtherVideo);
  EXPECT_EQ(video->dateText, "2023-05-06 09:00:00 ");
  EXPECT_EQ(Names(videos.Reader().TopAlbums()[2]->items), std::vector<std::string>{"2023-05-06"});
  EXPECT_TRUE(photos.Unchanged());
  EXPECT_TRUE(videos.Unchanged());
}

// An asset row alone decides where its file is and what it is: its folder,
// never another folder's file of its name; ZKIND, or the extension where
// ZKIND is NULL.
TEST_P(AssetForms, AssetRowsArePlacedByTheirFolderAndTypedByTheirKind) {
  struct Case {
    const char* trace;
    const char* fileName;   // ZFILENAME
    const char* directory;  // ZDIRECTORY; "" NULL
    int kind;               // ZKIND; -1 NULL
    const char* storedAt;   // where the backup holds a file of its name
    int videoMode;          // the mode that lists it
    bool found;             // it gets that file
  };
  const std::vector<Case> cases = {
      {"lower-case .mov of ZKIND 1", "clip.mov", "DCIM/100APPLE", 1, "Media/DCIM/100APPLE/clip.mov", kPhotoModeVideos,
       true},
      {"NULL kind, .m4v", "IMG_0200.M4V", "DCIM/100APPLE", -1, "Media/DCIM/100APPLE/IMG_0200.M4V", kPhotoModeVideos,
       true},
      {"NULL kind, .jpg", "IMG_0201.JPG", "DCIM/100APPLE", -1, "Media/DCIM/100APPLE/IMG_0201.JPG", kPhotoModePhotos,
       true},
      {"the file of its name in another folder", "IMG_0202.HEIC", "DCIM/101APPLE", 0,
       "Media/DCIM/100APPLE/IMG_0202.HEIC", kPhotoModePhotos, false},
      {"a folder that climbs out: looked for by name", "IMG_0203.HEIC", "../DCIM/100APPLE", 0,
       "Media/DCIM/100APPLE/IMG_0203.HEIC", kPhotoModePhotos, true},
      {"no folder: looked for by name", "IMG_0204.HEIC", "", 0, "Media/DCIM/101APPLE/IMG_0204.HEIC",
       kPhotoModePhotos, true},
      {"a library folder outside DCIM", "7F3A.HEIC", "PhotoData/CPLAssets/group7", 0,
       "Media/PhotoData/CPLAssets/group7/7F3A.HEIC", kPhotoModePhotos, true},
  };
  std::vector<SampleAsset> assets;
  std::vector<std::pair<std::string, std::vector<std::uint8_t>>> files;
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SampleAsset asset;
    asset.fileName = cases[i].fileName;
    asset.directory = cases[i].directory;
    asset.kind = cases[i].kind;
    asset.created = 1683072000;
    asset.fileInBackup = false;
    asset.thumbnail = false;
    assets.push_back(asset);
    files.push_back({cases[i].storedAt, sample::SampleMediaFile(cases[i].fileName, 500 + static_cast<int>(i))});
  }
  for (const int videoMode : {kPhotoModePhotos, kPhotoModeVideos}) {
    SCOPED_TRACE(videoMode);
    PhotoBackup backup(GetParam().mode, videoMode, assets, {}, GetParam().assetTable, files);
    ASSERT_EQ(backup.Loaded(), 1);
    for (std::size_t i = 0; i < cases.size(); ++i) {
      SCOPED_TRACE(cases[i].trace);
      const DBITEM_PhotoItem* item = backup.ItemByPk(static_cast<std::int32_t>(i + 1));
      ASSERT_EQ(item != nullptr, cases[i].videoMode == videoMode);
      if (item == nullptr) continue;
      EXPECT_EQ(Bytes(item->storedPath),
                cases[i].found ? files[i].second : std::vector<std::uint8_t>{});
      EXPECT_EQ(item->remark, cases[i].found ? "" : "原图不在备份中");
    }
    // The other folder's IMG_0202.HEIC is a file no asset names.
    EXPECT_EQ(backup.UnlistedNames(),
              videoMode == kPhotoModePhotos ? std::set<std::string>{"IMG_0202.HEIC"} : std::set<std::string>{});
  }
}

INSTANTIATE_TEST_SUITE_P(Forms, AssetForms,
                         ::testing::Values(AssetForm{BackupMode::kManifestDb, "ZASSET"},
                                           AssetForm{BackupMode::kManifestMbdb, "ZASSET"},
                                           AssetForm{BackupMode::kFolder, "ZASSET"},
                                           AssetForm{BackupMode::kManifestDb, "ZGENERICASSET"},
                                           AssetForm{BackupMode::kManifestMbdb, "ZGENERICASSET"},
                                           AssetForm{BackupMode::kFolder, "ZGENERICASSET"}),
                         [](const auto& form) { return ModeName(form.param.mode) + form.param.assetTable; });

TEST(ParseDateText, ReadsALocalDateAndTimeOrADate) {
  // The tests run in Beijing time (TZ=CST-8).
  struct Case {
    const char* text;
    std::int64_t seconds;
  };
  const std::vector<Case> cases = {
      {"", 0},
      {"2016-11-05 08:53:20", 1478307200},
      {"2016-11-05 12:00:00 ", 1478318400},  // FormatItemTime's trailing blank
      {"2016-11-05", 1478275200},
      {"2016-11-05 08:53", 1478275200},      // no seconds: the date alone
      {"2016-11-05x", 1478275200},
      {"2016-1-5 8:3:2", 1451952182},
      {"2016:11:05 08:53:20", 0},            // EXIF's colons not yet made dashes
      {"photo", 0},
      {"2016-11", 0},
      {"2016-13-01", 0},
      {"2016-11-05 24:00:00", 0},
      {"-2016-11-05", 0},
      {"1970-01-01 08:00:00", 0},
      {"2038-01-19 11:14:08", 2147483648},   // past 32 bits
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ParseDateText(c.text), c.seconds);
  }
}

TEST(CPhotoDB, LibraryThatCannotBeOpenedGivesEmptyTopAlbums) {
  const platform::TempFolder folder("velmora-photo");
  backup::CFileListDB index;
  ASSERT_TRUE(index.Open(folder.Path().string(), -1).Ok());
  CPhotoDB reader(&index, kPhotoModePhotos);
  int rows[3] = {};
  EXPECT_FALSE(reader.LoadPhotos((folder.Path() / "Photos.sqlite").string(), {&rows[0], &rows[1], &rows[2]}).Ok());
  ASSERT_EQ(reader.TopAlbums().size(), 3u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_TRUE(reader.TopAlbums()[i]->items.empty());
    EXPECT_EQ(reader.TopAlbums()[i]->row, &rows[i]);
  }
  EXPECT_TRUE(reader.PhotoItems().empty());
  EXPECT_TRUE(reader.DayAlbums().empty());
  EXPECT_FALSE(fs::exists(folder.Path() / "Photos.sqlite"));
}

TEST(CPhotoDB, ReadsTheRealIos7PhotoLibrary) {
  const fs::path source =
      fs::path(VELMORA_SHARED_DIR) / "samples/OTAPKI-iphone/CameraRollDomain_Media_PhotoData_Photos.sqlite";
  if (!fs::exists(source)) GTEST_SKIP() << "no " << source;
  // The real library in a folder backup, once alone and once beside files
  // for its seven rows. Its ZGENERICASSET places them at DCIM/100APPLE/
  // IMG_0001.PNG to IMG_0007.PNG, screenshots of 2015-11-02 (ZDATECREATED;
  // no EXIF time), 640x960; sizes as the attribute rows give them, read
  // with sqlite3.
  const std::vector<std::int64_t> sizes = {41757, 53993, 38397, 35034, 41462, 65840, 76136};
  const std::vector<std::int64_t> created = {468108141, 468108177, 468108190, 468108198,
                                             468108203, 468108209, 468108226};
  for (const bool withFiles : {false, true}) {
    SCOPED_TRACE(withFiles);
    const platform::TempFolder folder("velmora-photo");
    const fs::path library = folder.Path() / sample::kPhotosLibraryPath;
    fs::create_directories(library.parent_path());
    fs::copy_file(source, library);
    fs::permissions(library, fs::perms::owner_read | fs::perms::owner_write);
    if (withFiles) {
      for (int i = 1; i <= 7; ++i) {
        sample::WriteBytes(folder.Path() / ("Media/DCIM/100APPLE/IMG_000" + std::to_string(i) + ".PNG"),
                           sample::SamplePngImage(i));
      }
    }
    backup::CFileListDB index;
    ASSERT_TRUE(index.Open(folder.Path().string(), -1).Ok());
    CPhotoDB reader(&index, kPhotoModePhotos);
    ASSERT_TRUE(reader.LoadPhotos(library.string(), {nullptr, nullptr, nullptr}).Ok());
    EXPECT_EQ(reader.LastError(), "");
    // Without the files the rows are still listed, marked as such.
    ASSERT_EQ(reader.PhotoItems().size(), 7u);
    ASSERT_EQ(reader.DayAlbums().size(), 1u);
    EXPECT_EQ(reader.DayAlbums()[0]->albumName, "2015-11-02");
    EXPECT_EQ(reader.DayAlbums()[0]->subLists[1].size(), 7u);
    EXPECT_EQ(Names(reader.TopAlbums()[1]->items), std::vector<std::string>{"2015-11-02"});
    for (int i = 0; i < 7; ++i) {
      const DBITEM_PhotoItem& item = *reader.PhotoItems()[static_cast<std::size_t>(i)];
      const std::string name = "IMG_000" + std::to_string(i + 1) + ".PNG";
      EXPECT_EQ(item.pk, i + 1);
      EXPECT_EQ(item.mediaName, name);
      EXPECT_EQ(item.fileSizeValue, sizes[static_cast<std::size_t>(i)]);
      EXPECT_EQ(item.pixelHeight, 960);
      EXPECT_EQ(item.pixelWidth, 640);
      EXPECT_EQ(item.time, static_cast<double>(created[static_cast<std::size_t>(i)] + 978307200));
      EXPECT_EQ(item.dateText.substr(0, 11), "2015-11-02 ");
      EXPECT_EQ(item.deleted, 0);
      EXPECT_EQ(item.remark, withFiles ? "" : "原图不在备份中");
      if (withFiles) {
        EXPECT_EQ(Bytes(item.storedPath), sample::SamplePngImage(i + 1));
      }
    }
  }
}

// Adds up the export's progress.
class ProgressSum : public exporting::IExportProgress {
 public:
  void SetProgress(float percent) override { total = percent; }
  void AddProgress(float delta) override { total += delta; }
  double total = 0;
};

TEST(ExportPhotos, CopiesTheTickedMediaOfTheShownSubListWithoutReplacingAFile) {
  PhotoBackup backup(BackupMode::kManifestDb, kPhotoModePhotos);
  ASSERT_EQ(backup.Loaded(), 1);
  const std::set<std::string> ticked = {"IMG_0001.JPG", "IMG_0010.JPG", "IMG_0005.JPG", "IMG_0011.PNG"};
  for (const auto& item : backup.Reader().PhotoItems()) item->checked = ticked.count(item->mediaName) != 0 ? 1 : 0;
  const auto& top = backup.Reader().TopAlbums();
  const std::vector<db::BaseItem*> days = top[0]->items;
  const platform::TempFolder destination("velmora-photo-export");
  const fs::path& out = destination.Path();

  ProgressSum progress;
  EXPECT_EQ(ExportPhotos(out, days, *top[0], &progress), 4);
  const auto jpeg1 = sample::LibraryFileBytes(LibraryMedia("IMG_0001.JPG"));
  const auto jpeg5 = sample::LibraryFileBytes(LibraryMedia("IMG_0005.JPG"));
  const auto jpeg10 = UnlistedBytes("IMG_0010.JPG");
  const auto png11 = UnlistedBytes("IMG_0011.PNG");
  EXPECT_EQ(FilesIn(out), (FileMap{{"2016-11-05", AsBytes("<folder>")},
                                   {"2016-11-08", AsBytes("<folder>")},
                                   {"2016-11-09", AsBytes("<folder>")}}));
  EXPECT_EQ(FilesIn(out / "2016-11-05"), (FileMap{{"IMG_0001.JPG", jpeg1}, {"IMG_0010.JPG", jpeg10}}));
  EXPECT_EQ(FilesIn(out / "2016-11-08"), (FileMap{{"IMG_0005.JPG", jpeg5}}));
  EXPECT_EQ(FilesIn(out / "2016-11-09"), (FileMap{{"IMG_0011.PNG", png11}}));
  // Each of the four days has 98 / 4 percent, of which a ticked media adds
  // its share of the day's list: 2 of 3, 1 of 2 (beside IMG_0006.JPG, whose
  // file is not in the backup), 1 of 1.
  EXPECT_NEAR(progress.total, 98.0 / 4 * (2.0 / 3 + 1.0 / 2 + 1), 0.01);

  // Again: the first copies stay as they were, the new ones are numbered.
  sample::WriteBytes(out / "2016-11-08" / "IMG_0005.JPG", AsBytes("changed since"));
  EXPECT_EQ(ExportPhotos(out, days, *top[0], nullptr), 4);
  EXPECT_EQ(FilesIn(out / "2016-11-05"), (FileMap{{"IMG_0001.JPG", jpeg1},
                                                  {"IMG_0001 2.JPG", jpeg1},
                                                  {"IMG_0010.JPG", jpeg10},
                                                  {"IMG_0010 2.JPG", jpeg10}}));
  EXPECT_EQ(FilesIn(out / "2016-11-08"), (FileMap{{"IMG_0005.JPG", AsBytes("changed since")},
                                                  {"IMG_0005 2.JPG", jpeg5}}));

  // "已恢复" shows the deleted sub-list: the ticked live IMG_0001.JPG and
  // IMG_0005.JPG are not on it.
  const platform::TempFolder recovered("velmora-photo-export");
  EXPECT_EQ(ExportPhotos(recovered.Path(), days, *top[2], nullptr), 2);
  EXPECT_EQ(FilesIn(recovered.Path() / "2016-11-05"), (FileMap{{"IMG_0010.JPG", jpeg10}}));
  EXPECT_EQ(FilesIn(recovered.Path() / "2016-11-09"), (FileMap{{"IMG_0011.PNG", png11}}));
  EXPECT_EQ(FilesIn(recovered.Path()).size(), 2u);
  EXPECT_TRUE(backup.Unchanged());
}

TEST(ExportPhotos, ALivePhotoTakesItsMotionAlongAndAMissingOriginalCopiesNothing) {
  const std::vector<SampleAsset> assets = sample::SampleAssets();
  PhotoBackup backup(BackupMode::kManifestDb, kPhotoModePhotos, assets, sample::SampleAssetUnlistedFiles());
  ASSERT_EQ(backup.Loaded(), 1);
  // The library's Live Photo, the one whose original is not in the backup,
  // and the deleted Live Photo.
  for (const auto& item : backup.Reader().PhotoItems()) {
    item->checked = item->pk == 2 || item->pk == 7 || item->mediaName == "IMG_0010.HEIC" ? 1 : 0;
  }
  const auto& top = backup.Reader().TopAlbums();
  const platform::TempFolder destination("velmora-photo-export");
  const fs::path& out = destination.Path();
  EXPECT_EQ(ExportPhotos(out, top[0]->items, *top[0], nullptr), 4);
  const FileMap live = {{"IMG_0002.HEIC", sample::AssetFileBytes(assets[1])},
                        {"IMG_0002.MOV", sample::AssetMotionBytes(assets[1])}};
  EXPECT_EQ(FilesIn(out), (FileMap{{"2023-05-01", AsBytes("<folder>")}, {"2023-05-05", AsBytes("<folder>")}}));
  EXPECT_EQ(FilesIn(out / "2023-05-01"), live);
  EXPECT_EQ(FilesIn(out / "2023-05-05"),
            (FileMap{{"IMG_0010.HEIC", sample::SampleMediaFile("IMG_0010.HEIC", 110)},
                     {"IMG_0010.MOV", sample::SampleMediaFile("IMG_0010.MOV", 3110)}}));
  // Again: the motion keeps the stem its picture's copy got.
  EXPECT_EQ(ExportPhotos(out, top[0]->items, *top[0], nullptr), 4);
  FileMap twice = live;
  twice["IMG_0002 2.HEIC"] = sample::AssetFileBytes(assets[1]);
  twice["IMG_0002 2.MOV"] = sample::AssetMotionBytes(assets[1]);
  EXPECT_EQ(FilesIn(out / "2023-05-01"), twice);
  EXPECT_TRUE(backup.Unchanged());
}

TEST(ExportPhotos, NamesFromDataStayInTheirDayFolder) {
  const platform::TempFolder source("velmora-photo-source");
  std::vector<std::unique_ptr<DBITEM_PhotoItem>> items;
  auto media = [&](const std::string& name, const std::string& storedName, const std::string& content) {
    auto item = std::make_unique<DBITEM_PhotoItem>();
    item->mediaName = name;
    item->checked = 1;
    item->storedPath = (source.Path() / storedName).string();
    if (!content.empty()) sample::WriteBytes(item->storedPath, AsBytes(content));
    items.push_back(std::move(item));
    return items.back().get();
  };
  DBITEM_PhotoFriend day;
  day.albumName = "2016:11:05";
  for (DBITEM_PhotoItem* item :
       {media("../x.JPG", "1", "up"), media("a/b\\c.JPG", "2", "slashes"), media("..", "3f9c", "dots"),
        media("", "4e7d", "no name"), media("IMG_0001.JPG", "5", "first"), media("IMG_0001.JPG", "6", "second"),
        media("IMG_0002.JPG", "7", "unticked"), media(std::string(300, 'L') + ".JPG", "8", "long"),
        media("IMG_0003.JPG", "9", "")}) {  // the last one's stored file is missing
    day.subLists[0].push_back(item);
  }
  items[6]->checked = 0;
  DBITEM_PhotoFriend escaping;
  escaping.albumName = "../..";
  DBITEM_PhotoItem* loose = media("IMG_0004.JPG", "10", "loose");
  escaping.subLists[0].push_back(loose);
  DBITEM_PhotoFriend empty;
  empty.albumName = "2016-11-06";
  DBITEM_PhotoItem* unticked = media("IMG_0005.JPG", "11", "unticked");
  unticked->checked = 0;
  empty.subLists[0].push_back(unticked);
  DBITEM_PhotoFriend top;
  db::DBITEM_TbNameList notAnAlbum;

  const platform::TempFolder destination("velmora-photo-export");
  sample::WriteBytes(destination.Path() / "2016-11-05" / "IMG_0001.JPG", AsBytes("old"));
  EXPECT_EQ(ExportPhotos(destination.Path(), {&day, &escaping, &empty, &notAnAlbum}, top, nullptr), 8);
  EXPECT_EQ(FilesIn(destination.Path() / "2016-11-05"), (FileMap{
                                                            {"..x.JPG", AsBytes("up")},
                                                            {"abc.JPG", AsBytes("slashes")},
                                                            {"3f9c", AsBytes("dots")},
                                                            {"4e7d", AsBytes("no name")},
                                                            {"IMG_0001.JPG", AsBytes("old")},
                                                            {"IMG_0001 2.JPG", AsBytes("first")},
                                                            {"IMG_0001 3.JPG", AsBytes("second")},
                                                            {std::string(60, 'L') + ".JPG", AsBytes("long")},
                                                        }));
  // "../.." sanitises to nothing: its media go into the destination itself;
  // the album with nothing ticked makes no folder.
  EXPECT_EQ(FilesIn(destination.Path()), (FileMap{{"2016-11-05", AsBytes("<folder>")},
                                                  {"IMG_0004.JPG", AsBytes("loose")}}));
}

}  // namespace
}  // namespace readers
