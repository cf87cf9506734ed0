#include "testing/sample_voice_memos.h"

#include <cstdio>

#include "testing/sample_backup.h"
#include "testing/sql_literal.h"

namespace sample {
namespace {

// Core Data numbers its entities; the store's only one, Recording, is 1.
constexpr int kRecordingEntity = 1;

void PutBigEndian32(std::vector<std::uint8_t>& out, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(value >> shift));
}

void PutBox(std::vector<std::uint8_t>& out, const char (&type)[5], const std::string& payload) {
  PutBigEndian32(out, static_cast<std::uint32_t>(8 + payload.size()));
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), payload.begin(), payload.end());
}

std::string LastComponent(const std::string& path) {
  const auto slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::string VoiceMemosSql(const std::vector<SampleVoiceMemo>& memos) {
  std::string sql =
      "CREATE TABLE ZRECORDING ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZITUNESPERSISTENTID INTEGER, "
      "ZLABELPRESET INTEGER, ZPENDINGRESTORE INTEGER, ZSYNCED INTEGER, ZDATE TIMESTAMP, ZDURATION FLOAT, "
      "ZCUSTOMLABEL VARCHAR, ZPATH VARCHAR );\n"
      "CREATE TABLE Z_PRIMARYKEY (Z_ENT INTEGER PRIMARY KEY, Z_NAME VARCHAR, Z_SUPER INTEGER, Z_MAX INTEGER);\n"
      "CREATE TABLE Z_METADATA (Z_VERSION INTEGER PRIMARY KEY, Z_UUID VARCHAR(255), Z_PLIST BLOB);\n"
      "INSERT INTO Z_METADATA VALUES (1, '6A1F0C3E-98B2-4C51-A0D4-2E7B91C35F08', NULL);\n";
  sql += "INSERT INTO Z_PRIMARYKEY VALUES (" + std::to_string(kRecordingEntity) + ", 'Recording', 0, " +
         std::to_string(memos.size()) + ");\n";
  for (std::size_t i = 0; i < memos.size(); ++i) {
    const SampleVoiceMemo& memo = memos[i];
    sql += "INSERT INTO ZRECORDING VALUES (" + std::to_string(i + 1) + ", " + std::to_string(kRecordingEntity) +
           ", 1, " + std::to_string(7230000000000000000ll + static_cast<long long>(i)) + ", " +
           (memo.label.empty() ? "0" : "1") + ", 0, 1, " + SqlReal(memo.appleSeconds) + ", " +
           SqlReal(memo.durationSeconds) + ", " + SqlTextOrNull(memo.label) + ", " + SqlTextOrNull(memo.path) + ");\n";
  }
  return sql;
}

std::vector<std::uint8_t> VoiceMemoAudio(const SampleVoiceMemo& memo) {
  std::vector<std::uint8_t> bytes;
  PutBox(bytes, "ftyp", std::string("M4A ") + std::string("\0\0\0\0", 4) + "M4A mp42isom");
  PutBox(bytes, "free", memo.path + " " + memo.label);
  PutBox(bytes, "mdat", std::string(32, '\x21'));
  return bytes;
}

std::string VoiceMemoAudioRelativePath(const SampleVoiceMemo& memo) {
  return kVoiceMemosFolder + LastComponent(memo.path);
}

std::vector<SampleVoiceMemo> SampleVoiceMemos() {
  // 625975512 is 2020-11-02 10:05:12 in Beijing (UTC+8).
  return {
      {625975512.0, 1834.5, "会议", "/var/mobile/Media/Recordings/20201102 100512.m4a", true},
      {626167801.0, 912.25, "会议", "/var/mobile/Media/Recordings/20201104 153001.m4a", true},
      {626228133.0, 15.75, "", "/var/mobile/Media/Recordings/20201105 081533.m4a", true},
      {626358600.0, 240.0, "吉他/第2段", "/var/mobile/Media/Recordings/20201106 203000.m4a", true},
      {626433421.0, 63.5, "电话录音", "/var/mobile/Media/Recordings/20201107 171701.m4a", false},
  };
}

void AddVoiceMemos(SampleBackupBuilder& builder, const std::vector<SampleVoiceMemo>& memos) {
  builder.AddFolder(kVoiceMemosDomain, "Media");
  builder.AddFolder(kVoiceMemosDomain, "Media/Recordings");
  builder.AddDatabase(kVoiceMemosDomain, kVoiceMemosRelativePath, SqliteFile(VoiceMemosSql(memos)));
  for (const SampleVoiceMemo& memo : memos) {
    if (!memo.audioInBackup || memo.path.find_first_of("/\\") == std::string::npos) continue;
    builder.AddFile(kVoiceMemosDomain, VoiceMemoAudioRelativePath(memo), VoiceMemoAudio(memo));
  }
}

void AddVoiceMemosApp(SampleBackupBuilder& builder) { AddVoiceMemos(builder, SampleVoiceMemos()); }

}  // namespace sample
