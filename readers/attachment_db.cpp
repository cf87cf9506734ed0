#include "readers/attachment_db.h"

#include "backup/encrypted_backup.h"
#include "readers/sms_attachments.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <limits>
#include <optional>
#include <system_error>
#include <utility>

#include "backup/mbdb.h"
#include "base/categories.h"
#include "db/item_time.h"
#include "db/text.h"
#include "export/export_writer.h"
#include "platform/fs.h"
#include "platform/local_time.h"

namespace readers {
namespace {

namespace fs = std::filesystem;

constexpr int kFilesKind = 0;
// The app reader of the messages: a row of sms.db's attachment table.
constexpr int kSmsAttachmentRowKind = 1;
constexpr char kSeparator = fs::path::preferred_separator;

// Extensions and the media type they give. The words are distinct across
// the lists, so the order of the lists does not decide anything.
struct ExtensionType {
  std::string_view extension;
  int mediaType;
};
constexpr ExtensionType kExtensionTypes[] = {
    {"jpg", kAttachmentImage},       {"jpeg", kAttachmentImage},     {"png", kAttachmentImage},
    {"bmp", kAttachmentImage},       {"pic", kAttachmentImage},      {"pic_thum", kAttachmentImage},
    {"heic", kAttachmentImage},      {"heif", kAttachmentImage},     {"gif", kAttachmentImage},
    {"webp", kAttachmentImage},      {"m4v", kAttachmentVideo},      {"3gp", kAttachmentVideo},
    {"caf", kAttachmentVoice},       {"m4a", kAttachmentVoice},      {"amr", kAttachmentVoice},
    {"aac", kAttachmentVoice},       {"wav", kAttachmentVoice},
    {"pic_hd", kAttachmentImage},    {"thumb", kAttachmentImage},    {"video_thum", kAttachmentImage},
    {"mp4", kAttachmentVideo},       {"mov", kAttachmentVideo},      {"mpg", kAttachmentVideo},
    {"mkv", kAttachmentVideo},       {"mp4_temp", kAttachmentVideo}, {"mp3", kAttachmentVoice},
    {"aud", kAttachmentVoice},       {"opus", kAttachmentVoice},     {"pdf", kAttachmentOther},
    {"xlsx", kAttachmentOther},      {"record_thumb", kAttachmentOther}, {"tmp", kAttachmentOther},
    {"dat", kAttachmentOther},
};
// No extension on the lists is longer; a longer one need not be lowered.
constexpr std::size_t kLongestExtension = 12;

// The app's domain word (the manifest forms) and folder (the folder form).
struct CategoryFiles {
  int category;
  const char* clause;
  const char* domainWord;
  const char* folderPrefix;  // nullptr: the WeChat account folder decides
};
constexpr CategoryFiles kCategoryFiles[] = {
    {base::kCategoryNotesAttachments, "Files where flags=1 and domain like '%AppDomainGroup-group.com.apple.notes%'",
     "AppDomainGroup-group.com.apple.notes", "Accounts/"},
    // MediaDomain holds the voice memos and the messages' sticker cache
    // too; the attachments are the files of their own folder.
    {base::kCategoryMessageAttachments,
     "Files where flags=1 and domain like '%MediaDomain%' and relativePath like 'Library/SMS/Attachments/%'",
     "MediaDomain", "Library/SMS/Attachments/"},
    // The account folder is a value bound to the one parameter, escaped for
    // LIKE with '\'.
    {base::kCategoryWeChatAttachments,
     "Files where flags=1 and domain like '%AppDomain-com.tencent.xin%' and relativePath like ? escape '\\'",
     "AppDomain-com.tencent.xin", nullptr},
    {base::kCategoryWhatsAppFiles, "Files where flags=1 and domain like '%net.whatsapp%'", "net.whatsapp", "Message/"},
};

const CategoryFiles* FilesOf(int category) {
  for (const CategoryFiles& files : kCategoryFiles) {
    if (files.category == category) return &files;
  }
  return nullptr;
}

// The last second of the year 3000 in UTC: the range the platform's 64-bit
// local-time conversion accepts, as on the system's first platform.
constexpr std::int64_t kLastLocalSecond = 32535215999;
// Before this year a file's time is no Unix time a phone wrote but seconds
// since 2001, for the day groups (AttachmentDateKey).
constexpr int kFirstUnixYear = 2001;

// Deeper folders are not walked: no backup nests so deep, and the walk
// recurses once per level.
constexpr int kMaxWalkDepth = 256;

constexpr char kFallbackName[] = "文件";

bool LocalTime(std::int64_t seconds, std::tm& out) {
  if (seconds < 0 || seconds > kLastLocalSecond) return false;
  const std::optional<std::tm> local = platform::LocalTime(seconds);
  if (local) out = *local;
  return local.has_value();
}

char AsciiLowerChar(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool ContainsIgnoringAsciiCase(std::string_view text, std::string_view part) {
  if (part.empty()) return true;
  const auto at = std::search(text.begin(), text.end(), part.begin(), part.end(),
                              [](char a, char b) { return AsciiLowerChar(a) == AsciiLowerChar(b); });
  return at != text.end();
}

bool StartsWithIgnoringAsciiCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && ContainsIgnoringAsciiCase(text.substr(0, prefix.size()), prefix);
}

// The LIKE pattern of paths that contain "<folder>/", its own wildcards
// escaped so that the account folder matches only itself.
std::string AccountFolderPattern(const std::string& folder) {
  std::string pattern = "%";
  for (char c : folder) {
    if (c == '%' || c == '_' || c == '\\') pattern += '\\';
    pattern += c;
  }
  pattern += "/%";
  return pattern;
}

std::int64_t ClampToInt64(std::uint64_t value) {
  constexpr auto kMax = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
  return static_cast<std::int64_t>(std::min(value, kMax));
}

std::int64_t ModificationSeconds(const fs::path& path) {
  std::error_code error;
  const auto written = fs::last_write_time(path, error);
  if (error) return 0;
  const auto system = std::chrono::file_clock::to_sys(written);
  return std::chrono::duration_cast<std::chrono::seconds>(system.time_since_epoch()).count();
}

// The name a file is copied under: its own, else the stored file's, else a
// word for "file".
exporting::FileNameParts ExportNameParts(const DBITEM_Attachment& record) {
  exporting::FileNameParts parts = exporting::SafeFileNameParts(record.fileName);
  if (parts.stem.empty()) parts = exporting::SafeFileNameParts(exporting::LastPathComponent(record.storedPath));
  if (parts.stem.empty()) parts.stem = kFallbackName;
  return parts;
}

// The folder a day group's files go to, below destination.
fs::path DayFolder(const fs::path& destination, const std::string& groupName) {
  std::string name = groupName;
  std::replace(name.begin(), name.end(), ':', '-');
  name = exporting::SafeFileStem(name);
  return name.empty() ? destination : destination / name;
}

}  // namespace

int AttachmentTypeOf(std::string_view relativePath, bool& png) {
  png = false;
  const auto dot = relativePath.rfind('.');
  if (dot == std::string_view::npos) return 0;
  const std::string_view extension = relativePath.substr(dot + 1);
  if (extension.empty() || extension.size() > kLongestExtension) return 0;
  std::string lower(extension);
  std::transform(lower.begin(), lower.end(), lower.begin(), AsciiLowerChar);
  for (const ExtensionType& entry : kExtensionTypes) {
    if (entry.extension == lower) {
      png = lower == "png";
      return entry.mediaType;
    }
  }
  return 0;
}

std::string AttachmentDateKey(std::int64_t time) {
  std::tm local{};
  if (!LocalTime(time, local) || local.tm_year + 1900 < kFirstUnixYear) {
    if (time > std::numeric_limits<std::int64_t>::max() - db::kAppleEpochOffsetSeconds ||
        !LocalTime(time + db::kAppleEpochOffsetSeconds, local)) {
      return kUnknownDateKey;
    }
  }
  char key[32];
  std::snprintf(key, sizeof key, "%04d-%02d-%02d", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
  return key;
}

CAttachmentDB::CAttachmentDB(backup::CFileListDB* index, int category, int appMode)
    : index_(index), category_(category), appMode_(appMode) {}

CAttachmentDB::~CAttachmentDB() = default;

std::string CAttachmentDB::GetTableName(int tableKind) {
  const CategoryFiles* files = FilesOf(category_);
  if (tableKind != kFilesKind || openParam != 0 || files == nullptr) return "";
  return files->clause;
}

int CAttachmentDB::TypeOf(const std::string& relativePath, bool& png) const {
  const int byName = AttachmentTypeOf(relativePath, png);
  const auto named = namedFiles_.find(relativePath);
  return named != namedFiles_.end() ? named->second : byName;
}

void CAttachmentDB::ParseRow(int tableKind, std::unique_ptr<db::BaseItem>& out, db::CppSQLite3Query& query) {
  if (tableKind == kSmsAttachmentRowKind && appMode_ == kAppReaderMode) {
    const std::unique_ptr<DBITEM_SmsAttachment> attachment = ParseSmsAttachmentRow(query);
    if (!attachment->relativePath.empty()) namedFiles_[attachment->relativePath] = SmsAttachmentType(*attachment);
    return;
  }
  if (tableKind != kFilesKind || openParam != 0) {
    CDbSqlite::ParseRow(tableKind, out, query);
    return;
  }
  std::string relativePath = db::FieldText(query, "relativePath");
  bool png = false;
  const int mediaType = TypeOf(relativePath, png);
  if (mediaType == 0) return;
  std::string fileID = db::FieldText(query, "fileID");
  if (!backup::IsStoredFileName(fileID)) return;
  auto record = std::make_unique<DBITEM_Attachment>();
  record->mediaType = mediaType;
  record->pngMark = png ? kPngMark : kOtherMark;
  record->storedPath = index_ != nullptr ? index_->StoredPathOf(fileID)
                                         : DbFolder() + fileID.substr(0, 2) + kSeparator + fileID;
  record->fileID = std::move(fileID);
  record->domain = db::FieldText(query, "domain");
  record->relativePath = std::move(relativePath);
  record->flags = query.GetIntField(query.FieldIndex("flags"));
  const auto blob = query.GetFieldBlob(query.FieldIndex("file"));
  record->fileBlob.assign(blob.begin(), blob.end());
  FileAttachment(std::move(record));
}

int CAttachmentDB::LoadAttachmentReader(const std::string& path, std::array<void*, 5> browserRows, int openParameter) {
  MakeTopGroups(browserRows);
  const int sourceMode = index_ != nullptr ? index_->Mode() : backup::SourceManifestDb;
  if (appMode_ != kManifestReaderMode || sourceMode == backup::SourceManifestDb) {
    const base::Status opened = index_ != nullptr ? index_->OpenDatabase(*this, path, openParameter) : Open(path, openParameter);
    if (!opened.Ok()) return 0;
    // The app reader only proves the app's database is there, and for the
    // messages names the files sms.db knows; the files come from the
    // manifest reader.
    if (appMode_ == kAppReaderMode && openParameter == 0 && category_ == base::kCategoryMessageAttachments &&
        HasTable("attachment")) {
      db::ItemList unused;
      Query(kSmsAttachmentRowKind, kSmsAttachmentsAloneSql, unused);
    }
    if (openParameter != 0 || appMode_ != kManifestReaderMode) return 1;
    LoadManifest();
  } else {
    openParam = openParameter;
    if (openParameter != 0) return 1;
    if (sourceMode == backup::SourceManifestMbdb) {
      LoadMbdb();
    } else {
      LoadFolder();
    }
  }
  SortTopGroups();
  return 1;
}

void CAttachmentDB::MakeTopGroups(const std::array<void*, 5>& browserRows) {
  groupsByDate_.clear();
  topGroups_.clear();
  attachments_.clear();
  ownedGroups_.clear();
  for (std::size_t i = 0; i < kTopGroupNames.size(); ++i) {
    auto group = std::make_unique<DBITEM_AttachmentFriend>();
    group->groupName = kTopGroupNames[i];
    group->subListIndex = static_cast<std::int32_t>(i);
    group->row = browserRows[i];
    topGroups_.push_back(group.get());
    ownedGroups_.push_back(std::move(group));
  }
}

void CAttachmentDB::LoadManifest() {
  if (FilesOf(category_) == nullptr) return;
  db::ItemList unused;
  if (category_ == base::kCategoryWeChatAttachments) {
    // LoadTable runs no bound values; the same statement through Query.
    const int ran = Query(kFilesKind, "Select * From " + GetTableName(kFilesKind) + ";", unused,
                          {AccountFolderPattern(accountFolder)});
    columnCount_ = ran != 0 ? static_cast<int>(ColumnNames("Files").size()) : 0;
  } else {
    columnCount_ = LoadTable(kFilesKind, unused);
  }
}

bool CAttachmentDB::MatchesDomain(const std::string& domain) const {
  const CategoryFiles* files = FilesOf(category_);
  return files != nullptr && ContainsIgnoringAsciiCase(domain, files->domainWord);
}

bool CAttachmentDB::MatchesFolderPath(const std::string& relativePath) const {
  const CategoryFiles* files = FilesOf(category_);
  if (files == nullptr) return false;
  if (files->folderPrefix != nullptr) return StartsWithIgnoringAsciiCase(relativePath, files->folderPrefix);
  // Without domains an empty account folder would take every file of the
  // tree: it takes none.
  return !accountFolder.empty() && ContainsIgnoringAsciiCase(relativePath, accountFolder + "/");
}

void CAttachmentDB::LoadMbdb() {
  if (FilesOf(category_) == nullptr) return;
  const backup::MbdbIndex* manifest = index_ != nullptr ? index_->Mbdb() : nullptr;
  if (manifest == nullptr) return;
  const std::string accountPart = accountFolder + "/";
  for (const backup::MbdbRecord& entry : manifest->Records()) {
    if (!entry.domain || !entry.path || !entry.IsRegularFile() || !MatchesDomain(*entry.domain)) continue;
    if (category_ == base::kCategoryWeChatAttachments && !ContainsIgnoringAsciiCase(*entry.path, accountPart)) continue;
    if (category_ == base::kCategoryMessageAttachments && !MatchesFolderPath(*entry.path)) continue;
    bool png = false;
    const int mediaType = TypeOf(*entry.path, png);
    if (mediaType == 0) continue;
    auto record = std::make_unique<DBITEM_Attachment>();
    record->mediaType = mediaType;
    record->pngMark = png ? kPngMark : kOtherMark;
    // The stored name hashes the bytes as the manifest holds them.
    record->fileID = backup::MbdbFileId(*entry.domain, *entry.path);
    record->storedPath = index_->StoredPathOf(record->fileID);
    record->domain = db::RepairUtf8(*entry.domain);
    record->relativePath = db::RepairUtf8(*entry.path);
    record->flags = 1;
    record->lastModified = entry.lastModified;
    record->birth = entry.created;
    record->size = ClampToInt64(entry.size);
    FileAttachment(std::move(record));
  }
}

void CAttachmentDB::LoadFolder() {
  const CategoryFiles* files = FilesOf(category_);
  if (files == nullptr) return;
  const fs::path root = index_->BackupFolder();
  // (folder on disk, its path below root with a trailing '/', depth)
  struct Pending {
    fs::path folder;
    std::string relative;
    int depth;
  };
  std::vector<Pending> pending;
  if (files->folderPrefix != nullptr) {
    // Only the app's own folder is walked, found as the other folder-form
    // lookups find theirs: ignoring case, not through links.
    const auto found = platform::FindIgnoringCase(root, files->folderPrefix);
    if (!found || !platform::IsFolder(*found)) return;
    // The path below root as the disk spells it.
    pending.push_back({*found, db::RepairUtf8(found->lexically_relative(root).generic_string()) + "/", 0});
  } else {
    if (accountFolder.empty()) return;
    pending.push_back({root, "", 0});
  }
  // Depth first, names in order, so the files are found in a stable order.
  while (!pending.empty()) {
    Pending current = std::move(pending.back());
    pending.pop_back();
    if (current.depth > kMaxWalkDepth) continue;
    const std::vector<platform::FolderEntry> entries = platform::ListFolder(current.folder);
    for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry) {
      if (entry->isFolder) {
        pending.push_back({current.folder / entry->name, current.relative + entry->name + "/", current.depth + 1});
      }
    }
    for (const platform::FolderEntry& entry : entries) {
      if (!entry.isFile) continue;
      std::string relativePath = db::RepairUtf8(current.relative + entry.name);
      if (!MatchesFolderPath(relativePath)) continue;
      bool png = false;
      const int mediaType = TypeOf(relativePath, png);
      if (mediaType == 0) continue;
      const fs::path stored = current.folder / entry.name;
      auto record = std::make_unique<DBITEM_Attachment>();
      record->mediaType = mediaType;
      record->pngMark = png ? kPngMark : kOtherMark;
      record->storedPath = stored.string();
      record->relativePath = std::move(relativePath);
      record->flags = 1;
      record->birth = record->lastModified = ModificationSeconds(stored);
      std::error_code error;
      const auto size = fs::file_size(stored, error);
      record->size = error ? 0 : ClampToInt64(size);
      FileAttachment(std::move(record));
    }
  }
}

void CAttachmentDB::FileAttachment(std::unique_ptr<DBITEM_Attachment> owned) {
  DBITEM_Attachment& record = *owned;
  // The manifest's blob holds the times and size; the other forms set them
  // already and have no blob, which keeps them.
  backup::ParseFileMetadata(record);
  record.time = static_cast<double>(record.birth);
  record.timeValue = record.birth;
  attachments_.push_back(std::move(owned));

  const int type = record.mediaType;
  DBITEM_AttachmentFriend* day = DayGroupOf(record);
  DBITEM_AttachmentFriend* allGroup = topGroups_[0];
  DBITEM_AttachmentFriend* typeGroup = topGroups_[static_cast<std::size_t>(type)];
  if (day->subLists[static_cast<std::size_t>(type)].empty()) typeGroup->items.push_back(day);
  day->subLists[0].push_back(&record);
  day->subLists[static_cast<std::size_t>(type)].push_back(&record);
  record.parent = day;

  const auto mark = static_cast<std::size_t>(record.pngMark);
  allGroup->fileCount += 1;
  allGroup->markCounts[0] += 1;
  allGroup->markCounts[mark] += 1;
  if (record.pngMark == kPngMark) {
    day->markCounts[kPngMark] += 1;
  } else {
    day->markCounts[0] += 1;
    if (type == kAttachmentImage) day->markCounts[1] += 1;
  }
  typeGroup->fileCount += 1;
  if (type == kAttachmentImage) {
    typeGroup->markCounts[0] += 1;
    typeGroup->markCounts[mark] += 1;
  }
}

DBITEM_AttachmentFriend* CAttachmentDB::DayGroupOf(const DBITEM_Attachment& record) {
  std::string key = AttachmentDateKey(record.timeValue);
  const auto found = groupsByDate_.find(key);
  if (found != groupsByDate_.end()) return found->second;
  auto day = std::make_unique<DBITEM_AttachmentFriend>();
  day->groupName = key;
  day->time = record.time;
  DBITEM_AttachmentFriend* created = day.get();
  ownedGroups_.push_back(std::move(day));
  groupsByDate_.emplace(std::move(key), created);
  topGroups_[0]->items.push_back(created);
  return created;
}

void CAttachmentDB::SortTopGroups() {
  for (DBITEM_AttachmentFriend* group : topGroups_) {
    std::stable_sort(group->items.begin(), group->items.end(),
                     [](const db::BaseItem* a, const db::BaseItem* b) { return a->time > b->time; });
  }
}

AttachmentSet::AttachmentSet() = default;
AttachmentSet::~AttachmentSet() = default;

std::string ManifestPathOf(const backup::CFileListDB& index) {
  return index.Mode() == backup::SourceManifestDb ? index.DbPath() : index.DbFolder() + "Manifest.db";
}

int LoadAttachments(AttachmentSet& set, backup::CFileListDB& index, std::array<void*, 5> rows) {
  set.appReader.reset();
  set.manifestReader.reset();
  const int category = set.category;
  if (FilesOf(category) == nullptr || category == base::kCategoryWeChatAttachments) return 1;
  if (category == base::kCategoryNotesAttachments || category == base::kCategoryMessageAttachments) {
    std::vector<std::string> paths;
    int found = 0;
    if (category == base::kCategoryNotesAttachments) {
      found = index.FindFilePaths("NoteStore.sqlite", "AppDomainGroup-group.com.apple.notes", paths, false);
    } else {
      const bool folderMode = index.Mode() == backup::SourceFolder;
      found = index.FindFilePaths(folderMode ? "Library\\SMS\\sms.db" : "/sms.db", "HomeDomain", paths, false);
    }
    if (found != 0 && !paths.empty()) {
      set.appReader = std::make_unique<CAttachmentDB>(&index, category, kAppReaderMode);
      set.appReader->LoadAttachmentReader(paths[0], rows, category == base::kCategoryNotesAttachments ? 1 : 0);
    }
  }
  set.manifestReader = std::make_unique<CAttachmentDB>(&index, category, kManifestReaderMode);
  if (set.appReader) set.manifestReader->NameFiles(set.appReader->NamedFiles());
  set.manifestReader->LoadAttachmentReader(ManifestPathOf(index), rows, 0);
  return 1;
}

std::string AttachmentExportName(const DBITEM_Attachment& record) {
  const exporting::FileNameParts parts = ExportNameParts(record);
  return parts.stem + parts.extension;
}

int ExportAttachments(const std::filesystem::path& destination, const std::vector<db::BaseItem*>& dayGroups,
                      const DBITEM_AttachmentFriend& topGroup, exporting::IExportProgress* progress) {
  if (topGroup.subListIndex < 0 || static_cast<std::size_t>(topGroup.subListIndex) >= db::kSubListCount) return 0;
  const auto subList = static_cast<std::size_t>(topGroup.subListIndex);
  const double share = 98.0 / (static_cast<double>(dayGroups.size()) + 0.00001);
  int copied = 0;
  for (const db::BaseItem* item : dayGroups) {
    const auto* day = dynamic_cast<const DBITEM_AttachmentFriend*>(item);
    if (day == nullptr) continue;
    const fs::path folder = DayFolder(destination, day->groupName);
    std::error_code error;
    fs::create_directories(folder, error);
    const bool folderReady = platform::IsFolder(folder);
    const std::vector<db::BaseItem*>& files = day->subLists[subList];
    for (const db::BaseItem* member : files) {
      if (exporting::Cancelled(progress)) return copied;
      const auto* file = dynamic_cast<const DBITEM_Attachment*>(member);
      if (file == nullptr || file->checked == 0) continue;
      // A file the backup does not hold (or holds as anything but a plain
      // file) has nothing to copy.
      if (folderReady && backup::ReadyStoredFile(file->storedPath) &&
          exporting::CopyUnderFreeName(file->storedPath, folder, ExportNameParts(*file), progress)) {
        ++copied;
      }
      if (progress != nullptr) progress->AddProgress(static_cast<float>(share / static_cast<double>(files.size())));
    }
  }
  return copied;
}

}  // namespace readers
