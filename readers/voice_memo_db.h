#pragma once
// CNoteVoiceDB: the voice memos of a backup (Recordings.db in MediaDomain,
// data category 11). Every row of ZRECORDING becomes a DBITEM_NoteVoice; the
// recording's audio file, named by the last component of ZPATH, is looked up
// in the backup's MediaDomain. Deleted memos are not recovered.
//
// ExportVoiceMemos copies the audio files of chosen memos out, named after
// their labels.
//
// Threads: Open runs on the analysis worker; afterwards the records are only
// read (by the browser and the recovery run) until the reader is destroyed.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "db/db_sqlite.h"

namespace backup {
class CFileListDB;
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
  float duration = 0;              // ZDURATION, seconds
  std::string label;               // ZCUSTOMLABEL
  std::string fileName;            // the last component of ZPATH, e.g. "20131210 093012.m4a"; may be empty
  std::string audioPath;           // where the audio file is stored in the backup; empty when not found
  std::int64_t audioSize = 0;      // its size in bytes (from the manifest where it has one)
  // time: recordedValue as Unix seconds.
};

class CNoteVoiceDB : public db::CDbSqlite {
 public:
  // index: the analysis's backup file index, used to find the audio files
  // (not owned; may be null: then no audio is found). Must outlive Open.
  explicit CNoteVoiceDB(backup::CFileListDB* index);
  ~CNoteVoiceDB() override;

  // Kind 0: "ZRECORDING" while opened with param 0, else "".
  std::string GetTableName(int tableKind) override;
  // Kind 0: one ZRECORDING row into a DBITEM_NoteVoice, with its audio file
  // looked up.
  void ParseRow(int tableKind, std::unique_ptr<db::BaseItem>& out, db::CppSQLite3Query& query) override;
  // Loads the recordings (param 0). Returns the base's status (and no records)
  // when the database cannot be opened, else ok; a store without ZRECORDING
  // opens with none.
  base::Status Open(const std::string& path, int param) override;

  // In table order. Owned here; they outlive Close.
  const std::vector<std::unique_ptr<DBITEM_NoteVoice>>& Recordings() const { return recordings_; }
  // The same records as plain pointers, for the browser and the export.
  std::vector<db::BaseItem*> RecordingItems() const;

 private:
  void FindAudioFile(DBITEM_NoteVoice& recording) const;

  backup::CFileListDB* index_;
  std::vector<std::unique_ptr<DBITEM_NoteVoice>> recordings_;
};

// The file name of a recording's export copy, without the ".m4a": the
// label passed through exporting::SanitiseFileName and cut to 60 UTF-16
// units (so the name stays within a file system's name length); when that
// leaves nothing, the recording's own file name without its extension,
// sanitised the same way; when that too is empty, "录音".
std::string VoiceMemoExportName(const DBITEM_NoteVoice& recording);

// Copies the audio files of the given recordings (other record types and
// recordings without an audio file are passed over) into
// destination/"语音备忘录", made when missing, as <name>.m4a with the name
// of VoiceMemoExportName. An existing file is never overwritten: a later
// recording whose name is taken gets "<name> 2.m4a", "<name> 3.m4a" and so
// on, so every recording is copied once. Returns the number of files copied;
// a file that cannot be copied (missing from the backup, unreadable) is not
// counted and the rest go on. Runs on the recovery worker.
int ExportVoiceMemos(const std::vector<db::BaseItem*>& records, const std::filesystem::path& destination);

}  // namespace readers
