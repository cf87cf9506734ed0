#pragma once
// Sample voice memos: Recordings.db with ZRECORDING as iOS 7.1.2 has it
// (11 columns: Z_PK, Z_ENT, Z_OPT, ZITUNESPERSISTENTID, ZLABELPRESET,
// ZPENDINGRESTORE, ZSYNCED, ZDATE, ZDURATION, ZCUSTOMLABEL, ZPATH) and the
// Core Data bookkeeping tables, and the small audio files its ZPATHs name,
// stored in MediaDomain under Media/Recordings/ as the phone keeps them.
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

// Adds Recordings.db made from memos at MediaDomain
// Media/Recordings/Recordings.db (with its folders) and the audio file of
// every memo whose audioInBackup is set and whose ZPATH has a folder.
void AddVoiceMemos(SampleBackupBuilder& builder, const std::vector<SampleVoiceMemo>& memos);
// AddVoiceMemos with SampleVoiceMemos().
void AddVoiceMemosApp(SampleBackupBuilder& builder);

}  // namespace sample
