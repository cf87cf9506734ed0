#include "readers/voice_memo_db.h"

#include <set>
#include <system_error>
#include <utility>

#include "backup/encrypted_backup.h"
#include "backup/file_list_db.h"
#include "db/item_time.h"
#include "db/text.h"
#include "export/export_writer.h"
#include "platform/fs.h"

namespace readers {
namespace {

namespace fs = std::filesystem;

constexpr int kRecordingKind = 0;
constexpr int kFolderKind = 1;  // CloudRecordings.db only
constexpr char kRecordingTable[] = "ZRECORDING";
constexpr char kCloudRecordingTable[] = "ZCLOUDRECORDING";
constexpr char kFolderTable[] = "ZFOLDER";
constexpr char kMediaDomain[] = "MediaDomain";
// The extension of an export copy whose own file gives none: the format
// the app recorded in before ".qta".
constexpr char kAudioExtension[] = ".m4a";
constexpr char kFallbackName[] = "录音";

// One ZFOLDER row of CloudRecordings.db: a folder the owner made.
class FolderItem : public db::BaseItem {
 public:
  std::int64_t pk = 0;
  std::string name;
};

// The identity of a recording across the two stores (see VoiceMemoList).
std::string RecordingKey(const DBITEM_NoteVoice& recording) {
  if (!recording.fileName.empty()) return "f" + platform::AsciiLower(recording.fileName);
  return "d" + std::to_string(recording.recordedValue);
}

}  // namespace

CNoteVoiceDB::CNoteVoiceDB(backup::CFileListDB* index) : index_(index) {}

CNoteVoiceDB::~CNoteVoiceDB() = default;

std::string CNoteVoiceDB::GetTableName(int tableKind) {
  if (tableKind == kRecordingKind && openParam == kVoiceMemoRecordings) return kRecordingTable;
  if (tableKind == kRecordingKind && openParam == kVoiceMemoCloudRecordings) return kCloudRecordingTable;
  if (tableKind == kFolderKind && openParam == kVoiceMemoCloudRecordings) return kFolderTable;
  return "";
}

void CNoteVoiceDB::ParseRow(int tableKind, std::unique_ptr<db::BaseItem>& out, db::CppSQLite3Query& query) {
  const bool cloud = openParam == kVoiceMemoCloudRecordings;
  if (tableKind == kFolderKind && cloud) {
    auto folder = std::make_unique<FolderItem>();
    folder->pk = query.GetInt64Field(query.FieldIndex("Z_PK"));
    folder->name = db::FieldText(query, "ZENCRYPTEDNAME");
    out = std::move(folder);
    return;
  }
  if (tableKind != kRecordingKind || (openParam != kVoiceMemoRecordings && !cloud)) {
    CDbSqlite::ParseRow(tableKind, out, query);
    return;
  }
  auto recording = std::make_unique<DBITEM_NoteVoice>();
  recording->recordedValue = query.GetIntField(query.FieldIndex("ZDATE"));
  recording->time = db::UnixFromAppleSeconds(recording->recordedValue);
  recording->duration = static_cast<float>(query.GetFloatField(query.FieldIndex("ZDURATION")));
  recording->label = db::FieldText(query, "ZCUSTOMLABEL");
  const std::string path = db::FieldText(query, "ZPATH");
  recording->fileName = exporting::LastPathComponent(path);
  if (cloud) {
    ParseCloudRecording(*recording, query);
    // The newer store names the file relative to Media/Recordings, often
    // by its name alone.
    FindAudioFile(*recording);
  } else if (path.find_first_of("/\\") != std::string::npos) {
    // In the older store a ZPATH without a folder names no file the backup
    // keeps.
    FindAudioFile(*recording);
  }
  out = std::move(recording);
}

void CNoteVoiceDB::ParseCloudRecording(DBITEM_NoteVoice& recording, db::CppSQLite3Query& query) const {
  // The app shows the title the owner gave; a recording never renamed has
  // only its place name as label.
  for (const char* column : {"ZENCRYPTEDTITLE", "ZCUSTOMLABEL", "ZCUSTOMLABELFORSORTING"}) {
    recording.label = db::FieldText(query, column);
    if (!recording.label.empty()) break;
  }
  // ZDURATION stays 0 until the recording was synced; the phone's own
  // length is in ZLOCALDURATION.
  if (recording.duration <= 0) {
    recording.duration = static_cast<float>(query.GetFloatField(query.FieldIndex("ZLOCALDURATION")));
  }
  recording.uniqueId = db::FieldText(query, "ZUNIQUEID");
  if (const auto folder = folderNames_.find(query.GetInt64Field(query.FieldIndex("ZFOLDER")));
      folder != folderNames_.end()) {
    recording.folder = folder->second;
  }
  // A recording the owner deleted stays a row for a while, in Recently
  // Deleted, with the date it went there.
  const int eviction = query.FieldIndex("ZEVICTIONDATE");
  if (query.GetFieldType(eviction) != db::kSqliteNullType) {
    recording.deleted = 1;
    recording.deletedFrom = db::BaseItem::DeletedFrom::kRecentlyDeleted;
    recording.deletedAt = db::UnixFromAppleSeconds(query.GetFloatField(eviction));
  }
}

void CNoteVoiceDB::FindAudioFile(DBITEM_NoteVoice& recording) const {
  if (index_ == nullptr || recording.fileName.empty()) return;
  backup::FileRecordList found;
  if (index_->Mode() == backup::SourceManifestMbdb) {
    // The mbdb lookup compares the domain whole and the path literally: no
    // wildcards there.
    index_->FindFileRecords(recording.fileName, kMediaDomain, found, true);
  } else {
    // The manifest database matches with LIKE, the folder search by
    // substring (the percent signs dropped, the domain not used).
    index_->FindFileRecords("%" + recording.fileName, std::string("%") + kMediaDomain + "%", found, true);
  }
  // Every lookup matches by the end of the path (LIKE also takes '_' for any
  // character): only a file of exactly that name is the recording's.
  for (const auto& record : found) {
    if (!platform::EqualsIgnoringAsciiCase(exporting::LastPathComponent(record->relativePath), recording.fileName)) continue;
    recording.audioPath = record->storedPath;
    recording.audioSize = record->size;
    if (recording.audioSize <= 0) {
      // The mbdb index and a folder backup give no size: the stored file's.
      recording.audioSize = backup::StoredFileSize(record->storedPath).value_or(0);
    }
    return;
  }
}

base::Status CNoteVoiceDB::Open(const std::string& path, int param) {
  recordings_.clear();
  folderNames_.clear();
  if (base::Status opened = CDbSqlite::Open(path, param); !opened.Ok()) return opened;
  if (openParam != kVoiceMemoRecordings && openParam != kVoiceMemoCloudRecordings) return {};
  if (openParam == kVoiceMemoCloudRecordings) {
    // The folders first: each recording is given its folder's name as it is
    // read. A store without ZFOLDER has recordings without folders.
    db::ItemList folders;
    LoadTable(kFolderKind, folders);
    for (const auto& item : folders) {
      const auto& folder = static_cast<const FolderItem&>(*item);
      folderNames_.emplace(folder.pk, folder.name);
    }
  }
  db::ItemList loaded;
  LoadTable(kRecordingKind, loaded);
  for (auto& item : loaded) {
    // Kind 0 rows are made by ParseRow above, always as recordings.
    recordings_.emplace_back(static_cast<DBITEM_NoteVoice*>(item.release()));
  }
  folderNames_.clear();
  return {};
}

std::vector<db::BaseItem*> CNoteVoiceDB::RecordingItems() const { return db::ItemPointers(recordings_); }

std::vector<db::BaseItem*> VoiceMemoList(const CNoteVoiceDB* cloud, const CNoteVoiceDB* older) {
  std::vector<db::BaseItem*> list;
  std::set<std::string> keys;
  if (cloud != nullptr) {
    for (const auto& recording : cloud->Recordings()) {
      keys.insert(RecordingKey(*recording));
      list.push_back(recording.get());
    }
  }
  if (older != nullptr) {
    for (const auto& recording : older->Recordings()) {
      if (keys.count(RecordingKey(*recording)) == 0) list.push_back(recording.get());
    }
  }
  return list;
}

std::string VoiceMemoExportName(const DBITEM_NoteVoice& recording) {
  std::string name = exporting::SafeFileStem(recording.label);
  if (name.empty()) {
    std::string own = recording.fileName;
    const auto dot = own.rfind('.');
    if (dot != std::string::npos && dot > 0) own.resize(dot);
    name = exporting::SafeFileStem(own);
  }
  return name.empty() ? std::string(kFallbackName) : name;
}

int ExportVoiceMemos(const std::vector<db::BaseItem*>& records, const std::filesystem::path& destination,
                     const exporting::IExportProgress* progress) {
  std::vector<const DBITEM_NoteVoice*> memos;
  for (const db::BaseItem* item : records) {
    if (const auto* memo = dynamic_cast<const DBITEM_NoteVoice*>(item)) memos.push_back(memo);
  }
  if (memos.empty()) return 0;
  const fs::path folder = destination / kVoiceMemoFolderName;
  std::error_code error;
  fs::create_directories(folder, error);
  if (!platform::IsFolder(folder)) return 0;
  int copied = 0;
  for (const DBITEM_NoteVoice* memo : memos) {
    if (exporting::Cancelled(progress)) return copied;
    // A memo whose audio the backup does not hold (or holds as anything but
    // a plain file) has nothing to copy.
    if (memo->audioPath.empty() || !backup::ReadyStoredFile(memo->audioPath)) continue;
    // The copy keeps its file's own format: a ".qta" recording named ".m4a"
    // would not open.
    std::string extension = exporting::SafeFileNameParts(memo->fileName).extension;
    if (extension.empty()) extension = kAudioExtension;
    if (exporting::CopyUnderFreeName(memo->audioPath, folder, {VoiceMemoExportName(*memo), extension}, progress)) ++copied;
  }
  return copied;
}

}  // namespace readers
