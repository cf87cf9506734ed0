#pragma once
// CNoteVoiceDB: the voice memos of a backup (data category 11), from either
// of the two stores the Voice Memos app has kept in MediaDomain
// Media/Recordings/:
//   Recordings.db       up to iOS 11: every row of ZRECORDING
//   CloudRecordings.db  from iOS 12: every row of ZCLOUDRECORDING, with its
//                       title, its folder (ZFOLDER) and, for a recording in
//                       Recently Deleted (ZEVICTIONDATE set), its deletion
// Each row becomes a DBITEM_NoteVoice; the recording's audio file, named by
// the last component of ZPATH, is looked up in the backup's MediaDomain. A
// recording whose audio the backup lacks is still listed. Rows deleted from
// the file are not recovered. The layout is in docs/formats/voice_memos.md.
//
// ExportVoiceMemos copies the audio files of chosen memos out, named after
// their labels.
//
// Threads: Open runs on the analysis worker; afterwards the records are only
// read (by the browser and the recovery run) until the reader is destroyed.

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "db/db_sqlite.h"

namespace backup {
class CFileListDB;
}
namespace exporting {
class IExportProgress;
}

namespace readers {

// The folder, below the export destination, that receives the audio files.
inline constexpr char kVoiceMemoFolderName[] = "语音备忘录";

// One recording. Texts and paths are UTF-8.
class DBITEM_NoteVoice : public db::BaseItem {
 public:
  const std::string& Title() const override { return label; }
  const std::string& SearchText() const override { return label; }

  std::int32_t recordedValue = 0;  // ZDATE as an integer: seconds since 2001 as stored
  float duration = 0;              // ZDURATION (else ZLOCALDURATION), seconds
  // The name the app shows: ZCUSTOMLABEL in Recordings.db; in
  // CloudRecordings.db ZENCRYPTEDTITLE (plain text despite its name), else
  // ZCUSTOMLABEL, else ZCUSTOMLABELFORSORTING.
  std::string label;
  std::string folder;              // the name of its folder (CloudRecordings.db ZFOLDER); empty for none
  std::string uniqueId;            // ZUNIQUEID (CloudRecordings.db)
  std::string fileName;            // the last component of ZPATH, e.g. "20131210 093012.m4a"; may be empty
  std::string audioPath;           // where the audio file is stored in the backup; empty when not found
  std::int64_t audioSize = 0;      // its size in bytes (from the manifest where it has one)
  // time: recordedValue as Unix seconds. deleted: 1 for a recording in
  // Recently Deleted, deletedFrom kRecentlyDeleted, deletedAt its
  // ZEVICTIONDATE as Unix seconds.
};

// Open params of CNoteVoiceDB: which of the two stores the file is.
inline constexpr int kVoiceMemoRecordings = 0;       // Recordings.db
inline constexpr int kVoiceMemoCloudRecordings = 1;  // CloudRecordings.db

class CNoteVoiceDB : public db::CDbSqlite {
 public:
  // index: the analysis's backup file index, used to find the audio files
  // (not owned; may be null: then no audio is found). Must outlive Open.
  explicit CNoteVoiceDB(backup::CFileListDB* index);
  ~CNoteVoiceDB() override;

  // Kind 0: "ZRECORDING" (kVoiceMemoRecordings) or "ZCLOUDRECORDING"
  // (kVoiceMemoCloudRecordings); kind 1: "ZFOLDER" (kVoiceMemoCloudRecordings).
  // "" otherwise.
  std::string GetTableName(int tableKind) override;
  // Kind 0: one recording row into a DBITEM_NoteVoice, with its audio file
  // looked up; kind 1: one folder row (used inside Open only).
  void ParseRow(int tableKind, std::unique_ptr<db::BaseItem>& out, db::CppSQLite3Query& query) override;
  // Loads the recordings of the store param names (kVoiceMemoRecordings or
  // kVoiceMemoCloudRecordings; any other param loads nothing). Returns the
  // base's status (and no records) when the database cannot be opened, else
  // ok; a store without its recording table opens with none.
  base::Status Open(const std::string& path, int param) override;

  // In table order. Owned here; they outlive Close.
  const std::vector<std::unique_ptr<DBITEM_NoteVoice>>& Recordings() const { return recordings_; }
  // The same records as plain pointers, for the browser and the export.
  std::vector<db::BaseItem*> RecordingItems() const;

 private:
  void FindAudioFile(DBITEM_NoteVoice& recording) const;
  void ParseCloudRecording(DBITEM_NoteVoice& recording, db::CppSQLite3Query& query) const;

  backup::CFileListDB* index_;
  std::vector<std::unique_ptr<DBITEM_NoteVoice>> recordings_;
  std::map<std::int64_t, std::string> folderNames_;  // ZFOLDER Z_PK -> ZENCRYPTEDNAME, inside Open only
};

// The recordings of both stores in one list, without repeats: those of
// CloudRecordings.db (cloud) in table order, then those of Recordings.db
// (older) that cloud does not hold as well. A phone that moved its memos to
// the newer store may keep the older one beside it; a recording is the same
// in both when its file name is (ignoring ASCII case), or, without a file
// name, when its date is. Either reader may be null. The records belong to
// the readers.
std::vector<db::BaseItem*> VoiceMemoList(const CNoteVoiceDB* cloud, const CNoteVoiceDB* older);

// The file name of a recording's export copy, without its extension: the
// label passed through exporting::SanitiseFileName and cut to 60 UTF-16
// units (so the name stays within a file system's name length); when that
// leaves nothing, the recording's own file name without its extension,
// sanitised the same way; when that too is empty, "录音".
std::string VoiceMemoExportName(const DBITEM_NoteVoice& recording);

// Copies the audio files of the given recordings (other record types and
// recordings without an audio file are passed over) into
// destination/"语音备忘录", made when missing, as <name><extension> with the
// name of VoiceMemoExportName and the extension of the recording's own file
// (".m4a", or ".qta" as recent phones record), ".m4a" when it has none. An
// existing file is never overwritten: a later recording whose name is taken
// gets "<name> 2.m4a", "<name> 3.m4a" and so on, so every recording is
// copied once. Returns the number of files copied;
// a file that cannot be copied (missing from the backup, unreadable) is not
// counted and the rest go on. Stops before the next file, and within a long
// copy (removed then), once progress (may be null) asks to stop. Runs on the
// recovery worker.
int ExportVoiceMemos(const std::vector<db::BaseItem*>& records, const std::filesystem::path& destination,
                     const exporting::IExportProgress* progress = nullptr);

}  // namespace readers
