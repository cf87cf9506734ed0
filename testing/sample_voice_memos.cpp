#include "testing/sample_voice_memos.h"

#include <cstdio>

#include "testing/sample_backup.h"
#include "testing/sql_literal.h"

namespace sample {
namespace {

// Core Data numbers its entities; the store's only one, Recording, is 1.
constexpr int kRecordingEntity = 1;
// CloudRecordings.db's entities in Core Data's (alphabetical) order.
constexpr int kCloudRecordingEntity = 1;
constexpr int kFolderEntity = 2;

// The two tables with the columns named in docs/formats/voice_memos.md and
// Core Data's own (a phone's store has more), and the bookkeeping tables.
constexpr char kCloudRecordingsSchema[] =
    "CREATE TABLE ZCLOUDRECORDING ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZFOLDER INTEGER, "
    "ZDATE TIMESTAMP, ZDURATION FLOAT, ZEVICTIONDATE TIMESTAMP, ZLOCALDURATION FLOAT, "
    "ZCUSTOMLABEL VARCHAR, ZCUSTOMLABELFORSORTING VARCHAR, ZENCRYPTEDTITLE VARCHAR, ZPATH VARCHAR, "
    "ZUNIQUEID VARCHAR, ZAUDIODIGEST BLOB );\n"
    "CREATE INDEX ZCLOUDRECORDING_ZFOLDER_INDEX ON ZCLOUDRECORDING (ZFOLDER);\n"
    "CREATE TABLE ZFOLDER ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZENCRYPTEDNAME VARCHAR );\n"
    "CREATE TABLE Z_PRIMARYKEY (Z_ENT INTEGER PRIMARY KEY, Z_NAME VARCHAR, Z_SUPER INTEGER, Z_MAX INTEGER);\n"
    "CREATE TABLE Z_METADATA (Z_VERSION INTEGER PRIMARY KEY, Z_UUID VARCHAR(255), Z_PLIST BLOB);\n"
    "INSERT INTO Z_METADATA VALUES (1, 'C0F5E8A2-3B71-4D2C-9E46-71A0B3D5C9E2', NULL);\n";

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

std::vector<std::uint8_t> AudioFile(const std::string& brand, const std::string& note) {
  std::vector<std::uint8_t> bytes;
  PutBox(bytes, "ftyp", brand + std::string("\0\0\0\0", 4) + brand + "mp42isom");
  PutBox(bytes, "free", note);
  PutBox(bytes, "mdat", std::string(32, '\x21'));
  return bytes;
}

// A UUID-shaped text made from a number, so each row's differs.
std::string SampleUuid(std::size_t n) {
  char text[40];
  std::snprintf(text, sizeof text, "5E3A%04X-7C1D-4B8E-A2F0-%012zX", static_cast<unsigned>(n), n * 7919);
  return text;
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
  return AudioFile("M4A ", memo.path + " " + memo.label);
}

std::vector<std::uint8_t> CloudRecordingAudio(const SampleCloudRecording& recording) {
  const bool quickTime = recording.path.ends_with(".qta");
  return AudioFile(quickTime ? "qt  " : "M4A ", recording.path + " " + recording.title + recording.customLabel);
}

std::string CloudRecordingsSql(const std::vector<SampleCloudRecording>& recordings) {
  std::string sql = kCloudRecordingsSchema;
  std::vector<std::string> folders;
  auto folderPk = [&folders](const std::string& name) -> std::size_t {
    for (std::size_t i = 0; i < folders.size(); ++i) {
      if (folders[i] == name) return i + 1;
    }
    folders.push_back(name);
    return folders.size();
  };
  std::string rows;
  for (std::size_t i = 0; i < recordings.size(); ++i) {
    const SampleCloudRecording& r = recordings[i];
    const std::string folder = r.folder.empty() ? "NULL" : std::to_string(folderPk(r.folder));
    const std::string eviction = r.evictionAppleSeconds == 0 ? "NULL" : SqlReal(r.evictionAppleSeconds);
    rows += "INSERT INTO ZCLOUDRECORDING VALUES (" + std::to_string(i + 1) + ", " +
            std::to_string(kCloudRecordingEntity) + ", 3, " + folder + ", " + SqlReal(r.appleSeconds) + ", " +
            SqlReal(r.notSynced ? 0 : r.durationSeconds) + ", " + eviction + ", " + SqlReal(r.durationSeconds) +
            ", " + SqlTextOrNull(r.customLabel) + ", " + SqlTextOrNull(r.labelForSorting) + ", " +
            SqlTextOrNull(r.title) + ", " + SqlTextOrNull(r.path) + ", " + SqlText(SampleUuid(i + 1)) +
            ", X'" + std::string(40, 'a') + "');\n";
  }
  for (std::size_t i = 0; i < folders.size(); ++i) {
    sql += "INSERT INTO ZFOLDER VALUES (" + std::to_string(i + 1) + ", " + std::to_string(kFolderEntity) + ", 1, " +
           SqlText(folders[i]) + ");\n";
  }
  sql += rows;
  sql += "INSERT INTO Z_PRIMARYKEY VALUES (" + std::to_string(kCloudRecordingEntity) + ", 'CloudRecording', 0, " +
         std::to_string(recordings.size()) + ");\n";
  sql += "INSERT INTO Z_PRIMARYKEY VALUES (" + std::to_string(kFolderEntity) + ", 'Folder', 0, " +
         std::to_string(folders.size()) + ");\n";
  return sql;
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

std::vector<SampleCloudRecording> SampleCloudRecordings() {
  // 718601412 is 2023-10-10 11:30:12 in Beijing (UTC+8).
  std::vector<SampleCloudRecording> recordings(7);
  recordings[0] = {718601412.0, 1520.5, "周一例会", "公司", "公司", "20231010 113012.m4a", "工作"};
  recordings[1] = {718892100.0, 95.25, "", "家 3", "家 3", "20231013 201500.m4a", ""};
  recordings[1].notSynced = true;
  recordings[2] = {719103600.0, 42.0, "银行卡密码提示", "家", "家", "20231016 070000.m4a", ""};
  recordings[2].evictionAppleSeconds = 719190000.0;  // 2023-10-17 07:00:00 in Beijing
  recordings[3] = {731066701.0, 61.75, "生日歌", "家", "家", "20240302 180501.qta", "家人"};
  recordings[4] = {731153101.0, 12.5, "", "", "吉他练习", "20240303 180501.m4a", "家人"};
  recordings[5] = {731239501.0, 300.0, "讲座", "图书馆", "图书馆", "20240304 180501.m4a", ""};
  recordings[5].audioInBackup = false;
  // Moved over from Recordings.db: the same file, now with a title.
  recordings[6] = {625975512.0, 1834.5, "会议", "", "", "20201102 100512.m4a", "工作"};
  return recordings;
}

void AddCloudRecordings(SampleBackupBuilder& builder, const std::vector<SampleCloudRecording>& recordings) {
  auto held = [&builder](const std::string& relativePath) {
    for (const BackupFile& file : builder.Files()) {
      if (file.domain == kVoiceMemosDomain && file.relativePath == relativePath) return true;
    }
    return false;
  };
  if (!held("Media")) builder.AddFolder(kVoiceMemosDomain, "Media");
  if (!held("Media/Recordings")) builder.AddFolder(kVoiceMemosDomain, "Media/Recordings");
  builder.AddDatabase(kVoiceMemosDomain, kCloudRecordingsRelativePath, SqliteFile(CloudRecordingsSql(recordings)));
  for (const SampleCloudRecording& recording : recordings) {
    const std::string relativePath = kVoiceMemosFolder + LastComponent(recording.path);
    if (!recording.audioInBackup || recording.path.empty() || held(relativePath)) continue;
    builder.AddFile(kVoiceMemosDomain, relativePath, CloudRecordingAudio(recording));
  }
}

void AddVoiceMemosApp(SampleBackupBuilder& builder) {
  AddVoiceMemos(builder, SampleVoiceMemos());
  AddCloudRecordings(builder, SampleCloudRecordings());
}

}  // namespace sample
