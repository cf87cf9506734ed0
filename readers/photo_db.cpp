#include "readers/photo_db.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <optional>
#include <system_error>
#include <utility>

#include "backup/encrypted_backup.h"
#include "db/item_time.h"
#include "db/progress.h"
#include "db/text.h"
#include "export/export_writer.h"
#include "platform/fs.h"
#include "platform/local_time.h"
#include "readers/camera_roll_files.h"

namespace readers {

namespace fs = std::filesystem;

// What a library row says of one media, whichever table it came from.
struct LibraryRow {
  std::int32_t pk = 0;
  std::string name;       // the file's name in its folder
  std::string directory;  // the file's folder below Media/ ("DCIM/100APPLE"); empty when the row names none
  // The iOS 7 library's folder is only a hint: past it the file is looked for
  // in DCIM/100APPLE and then in every DCIM folder by name.
  bool directoryIsHint = false;
  bool video = false;
  std::int64_t fileSize = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::string dateText;
  double time = 0;
  bool trashed = false;
  double trashedAt = 0;
};

namespace {

// Table kinds: the iOS 7 library read from its attribute rows alone, and the
// asset library (ZASSET from iOS 14, ZGENERICASSET before) with the
// attribute rows its assets point to.
constexpr int kLibraryKind = 0;
constexpr int kAttributesKind = 1;
constexpr int kAssetKind = 2;
constexpr char kLibraryTable[] = "ZADDITIONALASSETATTRIBUTES";
constexpr const char* kAssetTables[] = {"ZASSET", "ZGENERICASSET"};
// ZKIND of an asset; other values are typed by the file's extension.
constexpr std::int64_t kAssetKindPhoto = 0;
constexpr std::int64_t kAssetKindVideo = 1;
// ZTRASHEDSTATE of an asset in the Recently Deleted album.
constexpr std::int64_t kTrashedState = 1;
constexpr char kMediaPrefix[] = "Media/";
constexpr char kDcimFolder[] = "DCIM/";
constexpr char kFirstDcimFolder[] = "DCIM/100APPLE";
constexpr char kThumbnailPrefix[] = "Media/PhotoData/Thumbnails/V2/";
constexpr char kThumbnailName[] = "/5003.JPG";
constexpr char kPreviewPrefix[] = "Media/PhotoData/Metadata/";
// A Live Photo keeps its motion as a QuickTime file of the picture's stem
// beside it; the camera writes its pictures as HEIC (since iOS 11) or JPEG.
constexpr char kLivePhotoMotionExtension[] = ".MOV";
constexpr const char* kLivePhotoPictureExtensions[] = {".HEIC", ".JPG"};
constexpr char kOriginalMissing[] = "原图不在备份中";
// A day album is keyed by the date part of its media's date text.
constexpr std::size_t kDateKeyUnits = 10;
// Progress of a load: the unlisted-file scans take 50 percent in photo mode
// and 30 in video mode, filling the camera roll 40.
constexpr float kPhotoScanShare = 50;
constexpr float kVideoScanShare = 30;
constexpr double kCameraRollShare = 40;
constexpr double kExportShare = 98;
constexpr double kShareEpsilon = 0.00001;
constexpr char kFallbackExportName[] = "媒体";

struct UnlistedScan {
  const char* extension;
  int kind;
};
// Besides the suffixes the phone's first cameras wrote, screenshots (.png),
// .jpeg imports and HEIC photos (the camera's default since iOS 11).
constexpr UnlistedScan kPhotoScans[] = {{"jpg", kMediaPicture}, {"tiff", kMediaPicture}, {"bmp", kMediaPicture},
                                        {"tga", kMediaPicture}, {"gif", kMediaPicture},  {"png", kMediaPicture},
                                        {"jpeg", kMediaPicture}, {"heic", kMediaPicture}};
// The camera records QuickTime (.mov); saved and shared videos are MPEG-4
// (.mp4, .m4v).
constexpr UnlistedScan kVideoScans[] = {
    {"mov", kMediaVideo}, {"avi", kMediaOtherVideo}, {"mp4", kMediaOtherVideo}, {"m4v", kMediaOtherVideo}};

// A library name must name a file in a folder, not a path.
bool IsPlainFileName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find_first_of("/\\") == std::string::npos;
}

// A library folder below Media/ ("DCIM/100APPLE"): plain names joined by
// '/', nothing that climbs out of Media/.
bool IsPlainFolderPath(const std::string& path) {
  if (path.empty()) return false;
  std::size_t start = 0;
  while (true) {
    const std::size_t slash = path.find('/', start);
    if (!IsPlainFileName(path.substr(start, slash == std::string::npos ? std::string::npos : slash - start))) {
      return false;
    }
    if (slash == std::string::npos) return true;
    start = slash + 1;
  }
}

std::string FileStem(const std::string& name) {
  const auto dot = name.rfind('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

// A library that does not say what a media is: by its extension, ignoring case.
bool HasVideoExtension(const std::string& name) {
  const auto dot = name.rfind('.');
  if (dot == std::string::npos) return false;
  const std::string extension = platform::AsciiLower(name.substr(dot + 1));
  return std::any_of(std::begin(kVideoScans), std::end(kVideoScans),
                     [&extension](const UnlistedScan& scan) { return extension == scan.extension; });
}

// EXIF writes "2016:11:05 08:53:20"; the date's two colons become dashes.
std::string DateTextFromExif(std::string text) {
  const auto first = text.find(':');
  if (first == std::string::npos) return text;
  text[first] = '-';
  const auto second = text.find(':', first + 1);
  if (second != std::string::npos) text[second] = '-';
  return text;
}

std::int32_t Int32Field(const db::CppSQLite3Query& query, const char* column) {
  return static_cast<std::int32_t>(query.GetInt64Field(query.FieldIndex(column)));
}

// An encrypted backup's file is not decrypted for its size: its manifest
// record gives it.
std::int64_t StoredFileSize(const std::string& path) { return backup::StoredFileSize(path).value_or(0); }

// The folder of a relative path, without its trailing '/'.
std::string FolderOf(const std::string& relativePath) {
  const auto slash = relativePath.rfind('/');
  return slash == std::string::npos ? std::string() : relativePath.substr(0, slash);
}

// The motion of a Live Photo whose picture is at relativePath, or null.
const CameraRollFile* LivePhotoMotionOf(const CameraRollFiles& files, const std::string& relativePath) {
  return files.Find(FolderOf(relativePath) + "/" + FileStem(exporting::LastPathComponent(relativePath)) +
                    kLivePhotoMotionExtension);
}

// Whether the .mov at relativePath is a Live Photo's motion: a picture of
// its stem is in its folder.
bool IsLivePhotoMotion(const CameraRollFiles& files, const std::string& relativePath) {
  const std::string stem = FolderOf(relativePath) + "/" + FileStem(exporting::LastPathComponent(relativePath));
  return std::any_of(std::begin(kLivePhotoPictureExtensions), std::end(kLivePhotoPictureExtensions),
                     [&](const char* extension) { return files.Find(stem + extension) != nullptr; });
}

// The files the backup holds for a library row; any of them may be missing.
struct LibraryFiles {
  const CameraRollFile* media = nullptr;
  std::string thumbnailPath;  // stored path
  std::string previewPath;    // a video's preview picture
  std::string motionPath;     // a Live Photo's motion
};

// Looks in the folder the row names: past 9999 pictures the phone starts
// again at IMG_0001 in 101APPLE, so a name alone can stand for two files.
// Only the iOS 7 library, whose folder column is not always right, looks
// further (DCIM/100APPLE, then every DCIM folder by name). The thumbnail,
// the preview and the motion are under the media's own folder.
LibraryFiles FindLibraryFiles(const CameraRollFiles& files, const LibraryRow& row) {
  LibraryFiles found;
  if (!row.directory.empty()) found.media = files.Find(kMediaPrefix + row.directory + "/" + row.name);
  if (found.media == nullptr && (row.directory.empty() || row.directoryIsHint)) {
    found.media = files.Find(std::string(kMediaPrefix) + kFirstDcimFolder + "/" + row.name);
    if (found.media == nullptr) found.media = files.FindInDcim(row.name);
  }
  const std::size_t prefix = std::size(kMediaPrefix) - 1;
  const std::string directory =
      found.media != nullptr ? FolderOf(found.media->relativePath).substr(prefix) : row.directory;
  if (directory.empty()) return found;
  if (const CameraRollFile* thumbnail = files.Find(kThumbnailPrefix + directory + "/" + row.name + kThumbnailName)) {
    found.thumbnailPath = thumbnail->storedPath;
  }
  if (row.video) {
    if (const CameraRollFile* preview = files.Find(kPreviewPrefix + directory + "/" + FileStem(row.name) + ".JPG")) {
      found.previewPath = preview->storedPath;
    }
  } else if (const CameraRollFile* motion = LivePhotoMotionOf(files, kMediaPrefix + directory + "/" + row.name)) {
    found.motionPath = motion->storedPath;
  }
  return found;
}

std::unique_ptr<DBITEM_PhotoFriend> MakeAlbum(const std::string& name, int subListIndex, void* row) {
  auto album = std::make_unique<DBITEM_PhotoFriend>();
  album->albumName = name;
  album->subListIndex = subListIndex;
  album->row = row;
  return album;
}

void SortNewestFirst(std::vector<db::BaseItem*>& albums) {
  std::stable_sort(albums.begin(), albums.end(),
                   [](const db::BaseItem* a, const db::BaseItem* b) { return a->time > b->time; });
}

}  // namespace

// ---- CPhotoDB ----

CPhotoDB::CPhotoDB(backup::CFileListDB* index, int videoMode) : index_(index), videoMode_(videoMode) {}

CPhotoDB::~CPhotoDB() = default;

std::string CPhotoDB::GetTableName(int tableKind) {
  if (openParam != 0) return "";
  switch (tableKind) {
    case kLibraryKind:
    case kAttributesKind: return kLibraryTable;
    case kAssetKind: return assetTable_;
    default: return "";
  }
}

void CPhotoDB::ParseRow(int tableKind, std::unique_ptr<db::BaseItem>& out, db::CppSQLite3Query& query) {
  if (openParam != 0) {
    CDbSqlite::ParseRow(tableKind, out, query);
    return;
  }
  switch (tableKind) {
    case kLibraryKind: ParseLibraryRow(query); break;
    case kAttributesKind: ParseAttributesRow(query); break;
    case kAssetKind: ParseAssetRow(query); break;
    default: CDbSqlite::ParseRow(tableKind, out, query); break;
  }
}

// The iOS 7 library: ZORIGINALPATH names the DCIM folder, the name's
// extension the kind, the EXIF time the day.
void CPhotoDB::ParseLibraryRow(db::CppSQLite3Query& query) {
  LibraryRow row;
  row.pk = Int32Field(query, "Z_PK");
  row.name = db::FieldText(query, "ZORIGINALFILENAME");
  const std::string originalPath = db::FieldText(query, "ZORIGINALPATH");
  if (originalPath.rfind(kDcimFolder, 0) == 0 && IsPlainFolderPath(originalPath)) row.directory = originalPath;
  row.directoryIsHint = true;
  row.video = HasVideoExtension(row.name);
  row.fileSize = query.GetInt64Field(query.FieldIndex("ZORIGINALFILESIZE"));
  row.width = Int32Field(query, "ZORIGINALWIDTH");
  row.height = Int32Field(query, "ZORIGINALHEIGHT");
  row.dateText = DateTextFromExif(db::FieldText(query, "ZEXIFTIMESTAMPSTRING"));
  row.time = static_cast<double>(ParseDateText(row.dateText));
  FileLibraryRow(row);
}

void CPhotoDB::ParseAttributesRow(db::CppSQLite3Query& query) {
  AssetAttributes& attributes = attributesByAsset_[query.GetInt64Field(query.FieldIndex("ZASSET"))];
  attributes.fileSize = query.GetInt64Field(query.FieldIndex("ZORIGINALFILESIZE"));
  attributes.width = Int32Field(query, "ZORIGINALWIDTH");
  attributes.height = Int32Field(query, "ZORIGINALHEIGHT");
  attributes.exifTimestamp = db::FieldText(query, "ZEXIFTIMESTAMPSTRING");
}

// The asset library: ZDIRECTORY and ZFILENAME place the file, ZKIND says
// photo or video, ZDATECREATED the day, ZTRASHEDSTATE the Recently Deleted
// album; the attribute row adds the original's size and pixels.
void CPhotoDB::ParseAssetRow(db::CppSQLite3Query& query) {
  LibraryRow row;
  row.pk = Int32Field(query, "Z_PK");
  row.name = db::FieldText(query, "ZFILENAME");
  if (const std::string directory = db::FieldText(query, "ZDIRECTORY"); IsPlainFolderPath(directory)) {
    row.directory = directory;
  }
  const std::int64_t kind = query.GetInt64Field(query.FieldIndex("ZKIND"), -1);
  row.video = kind == kAssetKindVideo || (kind != kAssetKindPhoto && HasVideoExtension(row.name));
  row.width = Int32Field(query, "ZWIDTH");
  row.height = Int32Field(query, "ZHEIGHT");
  std::string exifTimestamp;
  if (const auto found = attributesByAsset_.find(row.pk); found != attributesByAsset_.end()) {
    const AssetAttributes& attributes = found->second;
    row.fileSize = attributes.fileSize;
    // The original's pixels; the asset's own are those of its current edit.
    if (attributes.width > 0 && attributes.height > 0) {
      row.width = attributes.width;
      row.height = attributes.height;
    }
    exifTimestamp = attributes.exifTimestamp;
  }
  // ZDATECREATED is the moment itself; the EXIF text, the camera's clock
  // where the picture was taken, is only a fallback.
  row.time = db::UnixFromAppleSeconds(query.GetFloatField(query.FieldIndex("ZDATECREATED")));
  std::string dateText = row.time > 0 ? db::FormatItemTime(row.time) : std::string();
  if (!dateText.empty() && dateText.back() == ' ') dateText.pop_back();
  if (dateText.empty()) {
    dateText = DateTextFromExif(exifTimestamp);
    row.time = static_cast<double>(ParseDateText(dateText));
  }
  row.dateText = dateText;
  row.trashed = query.GetInt64Field(query.FieldIndex("ZTRASHEDSTATE")) == kTrashedState;
  if (row.trashed) row.trashedAt = db::UnixFromAppleSeconds(query.GetFloatField(query.FieldIndex("ZTRASHEDDATE")));
  FileLibraryRow(row);
}

void CPhotoDB::FileLibraryRow(const LibraryRow& row) {
  if (!files_ || !IsPlainFileName(row.name)) return;
  const LibraryFiles found = FindLibraryFiles(*files_, row);
  if (row.video != (videoMode_ == kPhotoModeVideos)) {
    // The other mode lists this row; its files are still the library's,
    // not deleted media of this mode.
    for (const std::string& path :
         {found.media != nullptr ? found.media->storedPath : std::string(), found.thumbnailPath, found.previewPath,
          found.motionPath}) {
      if (!path.empty()) itemsByPath_.emplace(path, nullptr);
    }
    return;
  }
  auto item = std::make_unique<DBITEM_PhotoItem>();
  item->mediaKind = row.video ? kMediaVideo : kMediaPicture;
  item->pk = row.pk;
  item->mediaName = row.name;
  item->fileSizeValue = row.fileSize;
  item->pixelHeight = row.height;
  item->pixelWidth = row.width;
  item->dateText = row.dateText;
  item->time = row.time;
  if (found.media != nullptr) {
    item->storedPath = found.media->storedPath;
    if (item->fileSizeValue <= 0) item->fileSizeValue = found.media->size;
  } else {
    // Optimized storage keeps the original in iCloud only: the library
    // still knows the media, and the backup may still hold its thumbnail.
    item->remark = kOriginalMissing;
  }
  item->size = item->fileSizeValue;
  item->thumbnailPath = found.thumbnailPath;
  item->livePhotoMotionPath = found.motionPath;
  if (row.trashed) {
    item->deleted = 1;
    item->deletedFrom = db::BaseItem::DeletedFrom::kRecentlyDeleted;
    item->deletedAt = row.trashedAt;
  }
  PlaceMedia(std::move(item), found.previewPath);
}

bool CPhotoDB::PlaceMedia(std::unique_ptr<DBITEM_PhotoItem> owned, const std::string& previewPath) {
  if (owned->mediaName.empty()) return false;
  DBITEM_PhotoItem* item = owned.get();
  photoItems_.push_back(std::move(owned));
  for (const std::string& path : {previewPath, item->storedPath, item->thumbnailPath, item->livePhotoMotionPath}) {
    if (!path.empty()) itemsByPath_[path] = item;
  }
  if (item->thumbnailPath.empty()) item->thumbnailPath = item->storedPath;
  DBITEM_PhotoFriend& album = DayAlbum(item->dateText);
  item->parent = &album;
  album.subLists[0].push_back(item);
  album.subLists[item->deleted != 0 ? 2 : 1].push_back(item);
  if (item->deleted != 0) {
    ++album.deletedCount;
    if (album.deleted == 0) {
      album.deleted = 1;
      extraAlbum_->items.push_back(&album);
    }
  }
  return true;
}

DBITEM_PhotoFriend& CPhotoDB::DayAlbum(const std::string& dateText) {
  const std::string key = db::LeftUtf16(dateText, kDateKeyUnits);
  if (const auto found = albumsByDate_.find(key); found != albumsByDate_.end()) return *found->second;
  auto album = std::make_unique<DBITEM_PhotoFriend>();
  album->albumName = key;
  album->time = static_cast<double>(ParseDateText(key));
  album->parent = rootAlbum_.get();
  DBITEM_PhotoFriend& made = *album;
  rootAlbum_->items.push_back(&made);
  albumsByDate_.emplace(key, &made);
  dayAlbums_.push_back(std::move(album));
  return made;
}

void CPhotoDB::AddUnlistedFiles(const std::string& extension, int kind) {
  const std::vector<const CameraRollFile*> found = files_->WithExtension(extension);
  for (auto it = found.rbegin(); it != found.rend(); ++it) {
    const CameraRollFile& file = **it;
    if (itemsByPath_.count(file.storedPath) != 0) continue;
    // A Live Photo's motion goes with its picture, listed or deleted.
    if (kind == kMediaVideo && IsLivePhotoMotion(*files_, file.relativePath)) continue;
    auto item = std::make_unique<DBITEM_PhotoItem>();
    item->lastModified = file.lastModified;
    item->lastStatusChange = file.lastStatusChange;
    item->birth = file.birth;
    item->size = file.size > 0 ? file.size : StoredFileSize(file.storedPath);
    item->storedPath = file.storedPath;
    item->thumbnailPath = file.storedPath;
    item->mediaKind = kind;
    item->mediaName = exporting::LastPathComponent(file.relativePath);
    item->fileSizeValue = item->size;
    if (kind == kMediaPicture) {
      const CameraRollFile* motion = LivePhotoMotionOf(*files_, file.relativePath);
      if (motion != nullptr && itemsByPath_.count(motion->storedPath) == 0) {
        item->livePhotoMotionPath = motion->storedPath;
      }
    }
    // Without a birth time the day is unknown: an empty date rather than
    // the 2001-01-01 a zero time would read as.
    item->dateText = file.birth > 0 ? db::FormatItemTime(static_cast<double>(file.birth)) : std::string();
    item->deleted = 1;
    PlaceMedia(std::move(item));
  }
}

void CPhotoDB::SortTopAlbums() {
  SortNewestFirst(rootAlbum_->items);
  SortNewestFirst(extraAlbum_->items);
  SortNewestFirst(cameraRollAlbum_->items);
}

void CPhotoDB::Reset() {
  topAlbums_.clear();
  rootAlbum_.reset();
  cameraRollAlbum_.reset();
  extraAlbum_.reset();
  albumsByDate_.clear();
  itemsByPath_.clear();
  attributesByAsset_.clear();
  dayAlbums_.clear();
  photoItems_.clear();
  files_.reset();
  assetTable_.clear();
  columnCount_ = 0;
}

// The asset table this library has, when it places its files by ZFILENAME;
// empty for the iOS 7 library, which is read from its attribute rows.
std::string CPhotoDB::FindAssetTable() {
  for (const char* table : kAssetTables) {
    if (!HasTable(table)) continue;
    const std::vector<std::string> columns = ColumnNames(table);
    if (std::find(columns.begin(), columns.end(), "ZFILENAME") != columns.end()) return table;
  }
  return {};
}

base::Status CPhotoDB::LoadPhotos(const std::string& libraryPath, std::array<void*, 3> albumRows,
                                 db::AnalysisProgress* progress) {
  Reset();
  const bool videos = videoMode_ == kPhotoModeVideos;
  rootAlbum_ = MakeAlbum(videos ? "全部视频" : "全部照片", 0, albumRows[0]);
  cameraRollAlbum_ = MakeAlbum("相机胶卷", 1, albumRows[1]);
  extraAlbum_ = MakeAlbum(videos ? "其它视频" : "已恢复", 2, albumRows[2]);
  topAlbums_ = {rootAlbum_.get(), cameraRollAlbum_.get(), extraAlbum_.get()};
  base::Status opened = index_ != nullptr ? index_->OpenDatabase(*this, libraryPath, 0) : Open(libraryPath, 0);
  if (!opened.Ok()) return opened;

  files_ = std::make_unique<CameraRollFiles>(index_);
  db::ItemList handedBack;  // stays empty: rows are filed by ParseRow
  assetTable_ = FindAssetTable();
  if (assetTable_.empty()) {
    columnCount_ = LoadTable(kLibraryKind, handedBack);
  } else {
    if (HasTable(kLibraryTable)) LoadTable(kAttributesKind, handedBack);
    columnCount_ = LoadTable(kAssetKind, handedBack);
    attributesByAsset_.clear();
  }
  const auto scan = [this, progress](const auto& scans, float share) {
    for (const UnlistedScan& each : scans) {
      AddUnlistedFiles(each.extension, each.kind);
      db::ReportProgress(progress, true, share / static_cast<float>(std::size(scans)));
    }
  };
  if (videos) {
    scan(kVideoScans, kVideoScanShare);
  } else {
    scan(kPhotoScans, kPhotoScanShare);
  }
  files_.reset();

  const double step = kCameraRollShare / (static_cast<double>(dayAlbums_.size()) + kShareEpsilon);
  for (db::BaseItem* album : rootAlbum_->items) {
    if (album->deleted != 0) continue;
    cameraRollAlbum_->items.push_back(album);
    db::ReportProgress(progress, true, static_cast<float>(step));
  }
  SortTopAlbums();
  return {};
}

// ---- dates and export ----

std::int64_t ParseDateText(const std::string& text) {
  if (text.empty()) return 0;
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d:%2d", &year, &month, &day, &hour, &minute, &second) != 6) {
    hour = minute = second = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2d", &year, &month, &day) != 3) return 0;
  }
  // A damaged date is no date: mktime would carry month 13 into a new year.
  if (year < 1 || month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 || hour > 23 || minute < 0 ||
      minute > 59 || second < 0 || second > 60) {
    return 0;
  }
  std::tm local{};
  local.tm_year = year - 1900;
  local.tm_mon = month - 1;
  local.tm_mday = day;
  local.tm_hour = hour;
  local.tm_min = minute;
  local.tm_sec = second;
  local.tm_isdst = -1;
  return platform::UnixFromLocalTime(local).value_or(0);
}

namespace {

exporting::FileNameParts ExportNameParts(const DBITEM_PhotoItem& item) {
  exporting::FileNameParts parts = exporting::SafeFileNameParts(item.mediaName);
  if (parts.stem.empty()) parts = exporting::SafeFileNameParts(exporting::LastPathComponent(item.storedPath));
  if (parts.stem.empty()) parts.stem = kFallbackExportName;
  return parts;
}

std::string AlbumFolderName(std::string albumName) {
  std::replace(albumName.begin(), albumName.end(), ':', '-');
  return exporting::SanitiseFileName(albumName);
}

}  // namespace

std::string PhotoExportName(const DBITEM_PhotoItem& item) {
  const exporting::FileNameParts parts = ExportNameParts(item);
  return parts.stem + parts.extension;
}

int ExportPhotos(const fs::path& destination, const std::vector<db::BaseItem*>& dayAlbums,
                 const DBITEM_PhotoFriend& topAlbum, exporting::IExportProgress* progress) {
  if (topAlbum.subListIndex < 0 || static_cast<std::size_t>(topAlbum.subListIndex) >= db::kSubListCount) return 0;
  const double albumShare = kExportShare / (static_cast<double>(dayAlbums.size()) + kShareEpsilon);
  int copied = 0;
  for (const db::BaseItem* record : dayAlbums) {
    const auto* album = dynamic_cast<const DBITEM_PhotoFriend*>(record);
    if (album == nullptr) continue;
    const std::vector<db::BaseItem*>& media = album->subLists[static_cast<std::size_t>(topAlbum.subListIndex)];
    fs::path folder = destination;
    if (const std::string name = AlbumFolderName(album->albumName); !name.empty()) folder /= name;
    // The folder is made for the first ticked media, so that an album with
    // nothing ticked leaves no empty folder.
    std::optional<bool> folderReady;
    for (const db::BaseItem* entry : media) {
      if (exporting::Cancelled(progress)) return copied;
      const auto* item = dynamic_cast<const DBITEM_PhotoItem*>(entry);
      if (item == nullptr || item->checked == 0) continue;
      // A media whose original the backup lacks has nothing to copy, and
      // makes no folder.
      if (backup::ReadyStoredFile(item->storedPath)) {
        if (!folderReady) {
          std::error_code error;
          fs::create_directories(folder, error);
          folderReady = platform::IsFolder(folder);
        }
        fs::path copiedTo;
        if (*folderReady && exporting::CopyUnderFreeName(item->storedPath, folder, ExportNameParts(*item), progress, &copiedTo)) {
          ++copied;
          // A Live Photo's motion is part of the picture: it goes beside the
          // copy, under the copy's stem.
          if (!item->livePhotoMotionPath.empty() && backup::ReadyStoredFile(item->livePhotoMotionPath)) {
            const exporting::FileNameParts motion = {copiedTo.stem().string(), kLivePhotoMotionExtension};
            copied += exporting::CopyUnderFreeName(item->livePhotoMotionPath, folder, motion, progress) ? 1 : 0;
          }
        }
      }
      if (progress != nullptr) {
        progress->AddProgress(static_cast<float>(albumShare / static_cast<double>(media.size())));
      }
    }
  }
  return copied;
}

}  // namespace readers
