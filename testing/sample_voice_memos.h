#pragma once
// Sample voice memos in the two stores the Voice Memos app has kept, and
// the small audio files they name, stored in MediaDomain under
// Media/Recordings/ as the phone keeps them:
//   Recordings.db       ZRECORDING as iOS 7.1.2 has it (11 columns: Z_PK,
//                       Z_ENT, Z_OPT, ZITUNESPERSISTENTID, ZLABELPRESET,
//                       ZPENDINGRESTORE, ZSYNCED, ZDATE, ZDURATION,
//                       ZCUSTOMLABEL, ZPATH) and the Core Data bookkeeping
//                       tables
//   CloudRecordings.db  iOS 12 and later: ZCLOUDRECORDING and ZFOLDER with
//                       the columns the app's recordings are known by
//                       (docs/formats/voice_memos.md), the bookkeeping tables
//
// Thread-safe.

#include <cstdint>
#include <string>
#include <vector>

namespace sample {

class SampleBackupBuilder;

inline constexpr char kVoiceMemosDomain[] = "MediaDomain";
inline constexpr char kVoiceMemosRelativePath[] = "Media/Recordings/Recordings.db";
inline constexpr char kVoiceMemosFolder[] = "Media/Recordings/";
inline constexpr char kCloudRecordingsRelativePath[] = "Media/Recordings/CloudRecordings.db";

struct SampleVoiceMemo {
  double appleSeconds = 0;     // ZDATE, seconds since 2001-01-01 UTC
  double durationSeconds = 0;  // ZDURATION
  std::string label;           // ZCUSTOMLABEL; NULL when empty
  std::string path;            // ZPATH, e.g. "/var/mobile/Media/Recordings/20201102 100512.m4a"
  bool audioInBackup = true;   // whether the backup holds the file ZPATH names
};

// A whole Recordings.db: the schema and every memo inserted in order
// (Z_PK 1, 2, ...). SQL text for sample::SqliteFile.
std::string VoiceMemosSql(const std::vector<SampleVoiceMemo>& memos);

// The audio file of a memo: a small MPEG-4 audio file (an "M4A " ftyp box
// and a free box naming the memo, so each file's bytes differ).
std::vector<std::uint8_t> VoiceMemoAudio(const SampleVoiceMemo& memo);

// Where the backup keeps a memo's audio: kVoiceMemosFolder followed by the
// last component of its ZPATH.
std::string VoiceMemoAudioRelativePath(const SampleVoiceMemo& memo);

// Five memos of November 2020: two labelled "会议", one without a label,
// one whose label holds a slash ("吉他/第2段"), and one ("电话录音") whose
// audio file the backup does not hold.
std::vector<SampleVoiceMemo> SampleVoiceMemos();

// One ZCLOUDRECORDING row of CloudRecordings.db.
struct SampleCloudRecording {
  double appleSeconds = 0;          // ZDATE, seconds since 2001-01-01 UTC
  double durationSeconds = 0;       // ZLOCALDURATION; ZDURATION too unless notSynced
  std::string title;                // ZENCRYPTEDTITLE; NULL when empty
  std::string customLabel;          // ZCUSTOMLABEL; NULL when empty
  std::string labelForSorting;      // ZCUSTOMLABELFORSORTING; NULL when empty
  std::string path;                 // ZPATH, relative to Media/Recordings, e.g. "20231009 093012.m4a"
  std::string folder;               // the ZENCRYPTEDNAME of its ZFOLDER; no folder when empty
  double evictionAppleSeconds = 0;  // ZEVICTIONDATE, set for one in Recently Deleted; NULL when 0
  bool notSynced = false;           // ZDURATION 0: only the phone's own length is known
  bool audioInBackup = true;        // whether the backup holds the file ZPATH names
};

// A whole CloudRecordings.db: the schema, one ZFOLDER row per distinct
// folder name (in order of first use), every recording in order (Z_PK 1,
// 2, ...). SQL text for sample::SqliteFile.
std::string CloudRecordingsSql(const std::vector<SampleCloudRecording>& recordings);

// The audio file of a recording: as VoiceMemoAudio, a QuickTime file ("qt  "
// brand) for a ".qta" path.
std::vector<std::uint8_t> CloudRecordingAudio(const SampleCloudRecording& recording);

// Recordings of an iOS 17 phone: a titled one in folder "工作", one with
// only its place label "家 3" (and ZDURATION 0), one in Recently Deleted,
// one ".qta" in folder "家人", one titled only in ZCUSTOMLABELFORSORTING,
// one whose audio the backup lacks, and "会议" of 2020-11-02, the first
// memo of SampleVoiceMemos() moved over from Recordings.db under the same
// file name.
std::vector<SampleCloudRecording> SampleCloudRecordings();

// Adds CloudRecordings.db made from recordings at MediaDomain
// Media/Recordings/CloudRecordings.db (with its folders) and the audio file
// of every recording whose audioInBackup is set, under kVoiceMemosFolder
// and the last component of its ZPATH; a file the builder already holds
// (one Recordings.db names too) is not added again.
void AddCloudRecordings(SampleBackupBuilder& builder, const std::vector<SampleCloudRecording>& recordings);

// Adds Recordings.db made from memos at MediaDomain
// Media/Recordings/Recordings.db (with its folders) and the audio file of
// every memo whose audioInBackup is set and whose ZPATH has a folder.
void AddVoiceMemos(SampleBackupBuilder& builder, const std::vector<SampleVoiceMemo>& memos);
// AddVoiceMemos with SampleVoiceMemos(), then AddCloudRecordings with
// SampleCloudRecordings(): a phone that keeps both stores.
void AddVoiceMemosApp(SampleBackupBuilder& builder);

}  // namespace sample
