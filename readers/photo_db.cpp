#include "readers/photo_db.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <optional>
#include <system_error>
#include <utility>

#include "backup/mbdb.h"
#include "db/item_time.h"
#include "db/progress.h"
#include "db/text.h"
#include "export/export_writer.h"
#include "platform/fs.h"
#include "platform/local_time.h"

namespace readers {

namespace fs = std::filesystem;

namespace {

constexpr int kLibraryKind = 0;
constexpr char kLibraryTable[] = "ZADDITIONALASSETATTRIBUTES";
constexpr char kCameraRollDomain[] = "CameraRollDomain";
constexpr char kDcimPrefix[] = "Media/DCIM/";
constexpr char kFirstDcimFolder[] = "100APPLE";
constexpr char kThumbnailPrefix[] = "Media/PhotoData/Thumbnails/V2/DCIM/";
constexpr char kThumbnailName[] = "/5003.JPG";
constexpr char kPreviewPrefix[] = "Media/PhotoData/Metadata/DCIM/";
// In a folder backup there are no domains: the camera roll is these trees.
constexpr const char* kFolderModeRoots[] = {"Media/DCIM", "Media/PhotoData"};
// No camera roll nests deeper; the walk recurses once per level.
constexpr int kMaxFolderDepth = 64;
// A day album is keyed by the date part of its media's date text.
constexpr std::size_t kDateKeyUnits = 10;
// Progress of a load: the unlisted-file scans take 50 percent in photo mode
// (10 in each of the video mode's three), filling the camera roll 40.
constexpr float kPhotoScanShare = 50;
constexpr float kVideoScanStep = 10;
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
constexpr UnlistedScan kVideoScans[] = {{"mov", kMediaVideo}, {"avi", kMediaOtherVideo}, {"mp4", kMediaOtherVideo}};

bool EndsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// A library name must name a file in a DCIM folder, not a path.
bool IsPlainFileName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find_first_of("/\\") == std::string::npos;
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

std::int64_t ModifiedSeconds(const fs::path& path) {
  std::error_code error;
  const auto written = fs::last_write_time(path, error);
  if (error) return 0;
  const auto since = std::chrono::file_clock::to_sys(written).time_since_epoch();
  return std::max<std::int64_t>(0, std::chrono::duration_cast<std::chrono::seconds>(since).count());
}

std::int64_t StoredFileSize(const std::string& path) {
  std::error_code error;
  const auto size = fs::file_size(path, error);
  return error ? 0 : static_cast<std::int64_t>(size);
}

}  // namespace

// ---- CameraRollFiles ----

// One file of the camera roll as the backup file index lists it.
struct CameraRollFile {
  std::string relativePath;  // inside the domain, '/'-separated
  std::string storedPath;
  std::int64_t birth = 0;    // Unix seconds; 0 when unknown
  std::int64_t lastModified = 0;
  std::int64_t lastStatusChange = 0;
  std::int64_t size = 0;
};

// Every file of CameraRollDomain, read once, with hash indexes by path
// (ignoring ASCII case, as the manifest lookups and a case-insensitive file
// system do), by name within Media/DCIM/<folder>/ and by extension.
class CameraRollFiles {
 public:
  explicit CameraRollFiles(backup::CFileListDB* index) {
    if (index == nullptr) return;
    switch (index->Mode()) {
      case backup::SourceManifestDb: ReadManifestDb(*index); break;
      case backup::SourceManifestMbdb: ReadManifestMbdb(*index); break;
      default: ReadFolder(*index); break;
    }
  }

  // The file at relativePath ignoring ASCII case, the one of exactly that
  // case first; null when there is none.
  const CameraRollFile* Find(const std::string& relativePath) const {
    const auto found = byLowerPath_.find(platform::AsciiLower(relativePath));
    if (found == byLowerPath_.end()) return nullptr;
    for (const std::size_t at : found->second) {
      if (files_[at].relativePath == relativePath) return &files_[at];
    }
    return &files_[found->second.front()];
  }

  // A file named name directly in any folder of Media/DCIM/: the one of
  // exactly that case first, then the first folder by name.
  const CameraRollFile* FindInDcim(const std::string& name) const {
    const auto found = dcimByLowerName_.find(platform::AsciiLower(name));
    if (found == dcimByLowerName_.end()) return nullptr;
    const CameraRollFile* best = nullptr;
    for (const std::size_t at : found->second) {
      const CameraRollFile& file = files_[at];
      const bool exact = exporting::LastPathComponent(file.relativePath) == name;
      const bool bestExact = best != nullptr && exporting::LastPathComponent(best->relativePath) == name;
      if (best == nullptr || (exact && !bestExact) ||
          (exact == bestExact && file.relativePath < best->relativePath)) {
        best = &file;
      }
    }
    return best;
  }

  // The files whose name ends in "." + extension (lower case), in the
  // index's order.
  std::vector<const CameraRollFile*> WithExtension(const std::string& extension) const {
    std::vector<const CameraRollFile*> found;
    if (const auto it = byExtension_.find(extension); it != byExtension_.end()) {
      for (const std::size_t at : it->second) found.push_back(&files_[at]);
    }
    return found;
  }

 private:
  void Add(CameraRollFile file) {
    const std::size_t at = files_.size();
    const std::string lower = platform::AsciiLower(file.relativePath);
    byLowerPath_[lower].push_back(at);
    const std::string dcim = platform::AsciiLower(kDcimPrefix);
    if (lower.compare(0, dcim.size(), dcim) == 0) {
      const auto slash = lower.find('/', dcim.size());
      if (slash != std::string::npos && slash > dcim.size() && lower.find('/', slash + 1) == std::string::npos) {
        dcimByLowerName_[lower.substr(slash + 1)].push_back(at);
      }
    }
    const std::string name = exporting::LastPathComponent(lower);
    if (const auto dot = name.rfind('.'); dot != std::string::npos) byExtension_[name.substr(dot + 1)].push_back(at);
    files_.push_back(std::move(file));
  }

  // One query of Manifest.db: LIKE '%' takes every regular file of the domain.
  void ReadManifestDb(backup::CFileListDB& index) {
    backup::FileRecordList records;
    index.FindFileRecords("", kCameraRollDomain, records, false);
    for (const auto& record : records) {
      Add({record->relativePath, record->storedPath, record->birth, record->lastModified,
           record->lastStatusChange, record->size});
    }
  }

  // The index's mbdb lookup matches a literal suffix, which cannot list a
  // whole domain; the manifest's records carry the times and sizes besides.
  void ReadManifestMbdb(backup::CFileListDB& index) {
    const backup::MbdbIndex* manifest = index.Mbdb();
    if (manifest == nullptr) return;
    for (const backup::MbdbRecord& record : manifest->Records()) {
      if (!record.domain || !record.path || record.path->empty() || !record.IsRegularFile()) continue;
      if (!platform::EqualsIgnoringAsciiCase(*record.domain, kCameraRollDomain)) continue;
      const std::string fileID = backup::MbdbFileId(*record.domain, *record.path);
      // The manifest holds no status-change time of its own.
      Add({*record.path, index.StoredPathOf(fileID), record.created, record.lastModified, 0,
           static_cast<std::int64_t>(std::min<std::uint64_t>(record.size, INT64_MAX))});
    }
  }

  // A folder keeps no birth times: a file's modification time is the
  // nearest date it has (a copy that keeps times keeps the phone's).
  void ReadFolder(backup::CFileListDB& index) {
    const fs::path base = index.BackupFolder();
    for (const char* root : kFolderModeRoots) {
      const auto found = platform::FindIgnoringCase(base, root);
      if (found && platform::IsFolder(*found)) Walk(*found, found->lexically_relative(base).generic_string(), 0);
    }
  }

  void Walk(const fs::path& folder, const std::string& relative, int depth) {
    if (depth > kMaxFolderDepth) return;
    for (const platform::FolderEntry& entry : platform::ListFolder(folder)) {
      const fs::path full = folder / entry.name;
      const std::string path = relative + "/" + entry.name;
      if (entry.isFolder) {
        Walk(full, path, depth + 1);
      } else if (entry.isFile) {
        const std::int64_t modified = ModifiedSeconds(full);
        Add({path, full.string(), modified, modified, 0, StoredFileSize(full.string())});
      }
    }
  }

  std::vector<CameraRollFile> files_;
  std::unordered_map<std::string, std::vector<std::size_t>> byLowerPath_;
  std::unordered_map<std::string, std::vector<std::size_t>> dcimByLowerName_;
  std::unordered_map<std::string, std::vector<std::size_t>> byExtension_;
};

namespace {

// The files the backup holds for a library row.
struct LibraryFiles {
  const CameraRollFile* media = nullptr;
  std::string thumbnailPath;  // stored path, empty when missing
  std::string previewPath;    // a video's preview picture, empty when missing or not a video
};

// The DCIM folder a library row names in ZORIGINALPATH ("DCIM/101APPLE"),
// or empty when it names none.
std::string DcimFolderOf(const std::string& originalPath) {
  constexpr std::string_view kDcim = "DCIM/";
  if (originalPath.rfind(kDcim, 0) != 0) return {};
  std::string folder = originalPath.substr(kDcim.size());
  if (!folder.empty() && folder.back() == '/') folder.pop_back();
  return IsPlainFileName(folder) ? folder : std::string();
}

// Looks in the DCIM folder the row names first: past 9999 pictures the
// phone starts again at IMG_0001 in 101APPLE, so a name alone can stand for
// two files. Then in Media/DCIM/100APPLE/, where the phone files its first
// pictures, then in the other DCIM folders by exact name. The thumbnail and
// preview live under the same folder name.
std::optional<LibraryFiles> FindLibraryFiles(const CameraRollFiles& files, const std::string& name,
                                             const std::string& rowFolder, bool video) {
  if (!IsPlainFileName(name)) return std::nullopt;
  LibraryFiles found;
  if (!rowFolder.empty()) found.media = files.Find(std::string(kDcimPrefix) + rowFolder + "/" + name);
  if (found.media == nullptr) found.media = files.Find(std::string(kDcimPrefix) + kFirstDcimFolder + "/" + name);
  if (found.media == nullptr) found.media = files.FindInDcim(name);
  if (found.media == nullptr) return std::nullopt;
  // Both look-ups give "Media/DCIM/<folder>/<name>".
  const std::string& path = found.media->relativePath;
  const std::size_t folderStart = std::size(kDcimPrefix) - 1;
  const std::string folder = path.substr(folderStart, path.rfind('/') - folderStart);
  if (const CameraRollFile* thumbnail = files.Find(kThumbnailPrefix + folder + "/" + name + kThumbnailName)) {
    found.thumbnailPath = thumbnail->storedPath;
  }
  if (video) {
    const std::string previewName = name.substr(0, name.size() - 3) + "JPG";
    if (const CameraRollFile* preview = files.Find(kPreviewPrefix + folder + "/" + previewName)) {
      found.previewPath = preview->storedPath;
    }
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
  if (openParam != 0 || tableKind != kLibraryKind) return "";
  return kLibraryTable;
}

void CPhotoDB::ParseRow(int tableKind, std::unique_ptr<db::BaseItem>& out, db::CppSQLite3Query& query) {
  if (openParam != 0 || tableKind != kLibraryKind) {
    CDbSqlite::ParseRow(tableKind, out, query);
    return;
  }
  ParseLibraryRow(query);
}

void CPhotoDB::ParseLibraryRow(db::CppSQLite3Query& query) {
  if (!files_) return;
  const std::string name = db::FieldText(query, "ZORIGINALFILENAME");
  // The library names its videos with an upper-case ".MOV".
  const bool video = EndsWith(name, ".MOV");
  const std::optional<LibraryFiles> found =
      FindLibraryFiles(*files_, name, DcimFolderOf(db::FieldText(query, "ZORIGINALPATH")), video);
  if (video != (videoMode_ == kPhotoModeVideos)) {
    // The other mode lists this row; its file, thumbnail and preview are
    // still the library's, not deleted media of this mode.
    if (found) {
      for (const std::string& path : {found->media->storedPath, found->thumbnailPath, found->previewPath}) {
        if (!path.empty()) itemsByPath_.emplace(path, nullptr);
      }
    }
    return;
  }
  if (!found) return;
  auto item = std::make_unique<DBITEM_PhotoItem>();
  item->mediaKind = video ? kMediaVideo : kMediaPicture;
  item->pk = Int32Field(query, "Z_PK");
  item->mediaName = name;
  item->fileSizeValue = query.GetInt64Field(query.FieldIndex("ZORIGINALFILESIZE"));
  item->size = item->fileSizeValue;
  item->pixelHeight = Int32Field(query, "ZORIGINALHEIGHT");
  item->pixelWidth = Int32Field(query, "ZORIGINALWIDTH");
  item->dateText = DateTextFromExif(db::FieldText(query, "ZEXIFTIMESTAMPSTRING"));
  item->time = static_cast<double>(ParseDateText(item->dateText));
  item->storedPath = found->media->storedPath;
  item->thumbnailPath = found->thumbnailPath;
  PlaceMedia(std::move(item), found->previewPath);
}

bool CPhotoDB::PlaceMedia(std::unique_ptr<DBITEM_PhotoItem> owned, const std::string& previewPath) {
  if (owned->mediaName.empty()) return false;
  DBITEM_PhotoItem* item = owned.get();
  photoItems_.push_back(std::move(owned));
  if (!previewPath.empty()) itemsByPath_[previewPath] = item;
  itemsByPath_[item->storedPath] = item;
  if (!item->thumbnailPath.empty()) {
    itemsByPath_[item->thumbnailPath] = item;
  } else {
    item->thumbnailPath = item->storedPath;
  }
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
  dayAlbums_.clear();
  photoItems_.clear();
  files_.reset();
  columnCount_ = 0;
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
  columnCount_ = LoadTable(kLibraryKind, handedBack);
  if (videos) {
    for (const UnlistedScan& scan : kVideoScans) {
      AddUnlistedFiles(scan.extension, scan.kind);
      db::ReportProgress(progress, true, kVideoScanStep);
    }
  } else {
    for (const UnlistedScan& scan : kPhotoScans) {
      AddUnlistedFiles(scan.extension, scan.kind);
      db::ReportProgress(progress, true, kPhotoScanShare / static_cast<float>(std::size(kPhotoScans)));
    }
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
      const auto* item = dynamic_cast<const DBITEM_PhotoItem*>(entry);
      if (item == nullptr || item->checked == 0) continue;
      if (!folderReady) {
        std::error_code error;
        fs::create_directories(folder, error);
        folderReady = platform::IsFolder(folder);
      }
      if (*folderReady && platform::IsRegularFile(item->storedPath) &&
          exporting::CopyUnderFreeName(item->storedPath, folder, ExportNameParts(*item))) {
        ++copied;
      }
      if (progress != nullptr) {
        progress->AddProgress(static_cast<float>(albumShare / static_cast<double>(media.size())));
      }
    }
  }
  return copied;
}

}  // namespace readers
