#include "readers/voice_memo_db.h"

#include <system_error>
#include <utility>

#include "backup/file_list_db.h"
#include "db/item_time.h"
#include "db/text.h"
#include "export/export_writer.h"
#include "platform/fs.h"

namespace readers {
namespace {

namespace fs = std::filesystem;

constexpr int kRecordingKind = 0;
constexpr char kRecordingTable[] = "ZRECORDING";
constexpr char kMediaDomain[] = "MediaDomain";
constexpr char kAudioExtension[] = ".m4a";
constexpr char kFallbackName[] = "录音";

}  // namespace

CNoteVoiceDB::CNoteVoiceDB(backup::CFileListDB* index) : index_(index) {}

CNoteVoiceDB::~CNoteVoiceDB() = default;

std::string CNoteVoiceDB::GetTableName(int tableKind) {
  if (openParam != 0 || tableKind != kRecordingKind) return "";
  return kRecordingTable;
}

void CNoteVoiceDB::ParseRow(int tableKind, std::unique_ptr<db::BaseItem>& out, db::CppSQLite3Query& query) {
  if (openParam != 0 || tableKind != kRecordingKind) {
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
  // A ZPATH without a folder names no file the backup keeps.
  if (path.find_first_of("/\\") != std::string::npos) FindAudioFile(*recording);
  out = std::move(recording);
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
    if (recording.audioSize <= 0 && platform::IsRegularFile(record->storedPath)) {
      // The mbdb index and a folder backup give no size: the stored file's.
      std::error_code error;
      const auto size = fs::file_size(record->storedPath, error);
      if (!error) recording.audioSize = static_cast<std::int64_t>(size);
    }
    return;
  }
}

base::Status CNoteVoiceDB::Open(const std::string& path, int param) {
  recordings_.clear();
  if (base::Status opened = CDbSqlite::Open(path, param); !opened.Ok()) return opened;
  if (openParam == 0) {
    db::ItemList loaded;
    LoadTable(kRecordingKind, loaded);
    for (auto& item : loaded) {
      // Kind 0 rows are made by ParseRow above, always as recordings.
      recordings_.emplace_back(static_cast<DBITEM_NoteVoice*>(item.release()));
    }
  }
  return {};
}

std::vector<db::BaseItem*> CNoteVoiceDB::RecordingItems() const { return db::ItemPointers(recordings_); }

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

int ExportVoiceMemos(const std::vector<db::BaseItem*>& records, const std::filesystem::path& destination) {
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
    // A memo whose audio the backup does not hold (or holds as anything but
    // a plain file) has nothing to copy.
    if (memo->audioPath.empty() || !platform::IsRegularFile(memo->audioPath)) continue;
    if (exporting::CopyUnderFreeName(memo->audioPath, folder, {VoiceMemoExportName(*memo), kAudioExtension})) ++copied;
  }
  return copied;
}

}  // namespace readers
