#include "readers/voice_memo_db.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "backup/file_list_db.h"
#include "base/categories.h"
#include "db/item_time.h"
#include "platform/fs.h"
#include "readers/category_readers.h"
#include "testing/folder_snapshot.h"
#include "testing/sample_backup.h"
#include "testing/sample_voice_memos.h"

namespace readers {
namespace {

namespace fs = std::filesystem;
using sample::BackupMode;
using sample::SampleCloudRecording;
using sample::SampleVoiceMemo;

std::vector<std::uint8_t> Bytes(const fs::path& path) {
  return platform::ReadWholeFile(path).value_or(std::vector<std::uint8_t>{});
}

// The files of a folder (not below it) with their bytes.
std::map<std::string, std::vector<std::uint8_t>> FilesIn(const fs::path& folder) {
  std::map<std::string, std::vector<std::uint8_t>> files;
  for (const platform::FolderEntry& entry : platform::ListFolder(folder)) {
    files[entry.name] = entry.isFile ? Bytes(folder / entry.name) : std::vector<std::uint8_t>{};
  }
  return files;
}

// A backup holding memos, written in one form, opened as an analysis opens
// it, with the voice memo reader opened on the database the category finds.
class VoiceMemoBackup {
 public:
  VoiceMemoBackup(const std::vector<SampleVoiceMemo>& memos, BackupMode mode,
                  const std::vector<std::pair<std::string, std::string>>& extraFiles = {}) {
    sample::SampleBackupBuilder builder;
    sample::AddVoiceMemos(builder, memos);
    for (const auto& [relativePath, text] : extraFiles) builder.AddText(sample::kVoiceMemosDomain, relativePath, text);
    builder.Write(folder_.Path(), mode);
    if (!index_.Open(folder_.Path().string(), -1).Ok()) return;
    std::vector<std::string> paths;
    const bool folderMode = index_.Mode() == backup::SourceFolder;
    index_.FindFilePaths(folderMode ? "Media/Recordings/Recordings.db" : "/Recordings.db", "MediaDomain", paths,
                         false);
    if (!paths.empty()) opened_ = reader_.Open(paths[0], 0).Ok() ? 1 : 0;
  }

  int Opened() const { return opened_; }
  CNoteVoiceDB& Reader() { return reader_; }
  const fs::path& Folder() const { return folder_.Path(); }

 private:
  platform::TempFolder folder_{"velmora-voice-backup"};
  backup::CFileListDB index_;
  CNoteVoiceDB reader_{&index_};
  int opened_ = -1;
};

class VoiceMemoForms : public ::testing::TestWithParam<BackupMode> {};

TEST_P(VoiceMemoForms, ListsEveryMemoWithItsAudioAndExportsEachOnce) {
  const std::vector<SampleVoiceMemo> memos = sample::SampleVoiceMemos();
  VoiceMemoBackup backup(memos, GetParam());
  ASSERT_EQ(backup.Opened(), 1);
  const auto before = sample::SnapshotFolder(backup.Folder());
  const auto& recordings = backup.Reader().Recordings();
  ASSERT_EQ(recordings.size(), memos.size());
  for (std::size_t i = 0; i < memos.size(); ++i) {
    SCOPED_TRACE(memos[i].path);
    const DBITEM_NoteVoice& recording = *recordings[i];
    EXPECT_EQ(recording.label, memos[i].label);
    EXPECT_EQ(recording.recordedValue, static_cast<std::int32_t>(memos[i].appleSeconds));
    EXPECT_EQ(recording.time, memos[i].appleSeconds + static_cast<double>(db::kAppleEpochOffsetSeconds));
    EXPECT_EQ(recording.duration, static_cast<float>(memos[i].durationSeconds));
    EXPECT_EQ(recording.Title(), memos[i].label);
    if (memos[i].audioInBackup) {
      const std::vector<std::uint8_t> audio = sample::VoiceMemoAudio(memos[i]);
      EXPECT_EQ(Bytes(recording.audioPath), audio);
      EXPECT_EQ(recording.audioSize, static_cast<std::int64_t>(audio.size()));
    } else {
      EXPECT_EQ(recording.audioPath, "");
      EXPECT_EQ(recording.audioSize, 0);
    }
  }

  // The memo whose audio is missing is not counted; the two "会议" both
  // arrive; the one without a label is named after its own file; the
  // slash in "吉他/第2段" makes no folder.
  const platform::TempFolder destination("velmora-voice-export");
  EXPECT_EQ(ExportVoiceMemos(backup.Reader().RecordingItems(), destination.Path()), 4);
  const auto exported = FilesIn(destination.Path() / kVoiceMemoFolderName);
  EXPECT_EQ(exported, (std::map<std::string, std::vector<std::uint8_t>>{
                          {"会议.m4a", sample::VoiceMemoAudio(memos[0])},
                          {"会议 2.m4a", sample::VoiceMemoAudio(memos[1])},
                          {"20201105081533.m4a", sample::VoiceMemoAudio(memos[2])},
                          {"吉他第2段.m4a", sample::VoiceMemoAudio(memos[3])},
                      }));
  EXPECT_EQ(FilesIn(destination.Path()).size(), 1u);
  EXPECT_EQ(sample::SnapshotFolder(backup.Folder()), before);
}

INSTANTIATE_TEST_SUITE_P(Forms, VoiceMemoForms,
                         ::testing::Values(BackupMode::kManifestDb, BackupMode::kManifestMbdb, BackupMode::kFolder),
                         [](const auto& form) {
                           switch (form.param) {
                             case BackupMode::kManifestDb: return std::string("ManifestDb");
                             case BackupMode::kManifestMbdb: return std::string("ManifestMbdb");
                             default: return std::string("Folder");
                           }
                         });

// A backup with either store or both, analysed through the category's
// reader as the analysis does.
struct StoresCase {
  const char* name;
  BackupMode mode;
  bool cloud;  // CloudRecordings.db (SampleCloudRecordings)
  bool older;  // Recordings.db (SampleVoiceMemos)
};
void PrintTo(const StoresCase& c, std::ostream* out) { *out << c.name; }

class VoiceMemoStores : public ::testing::TestWithParam<StoresCase> {};

TEST_P(VoiceMemoStores, ListsBothStoresWithoutRepeatsAndExportsEachFileInItsFormat) {
  const StoresCase& c = GetParam();
  sample::SampleBackupBuilder builder;
  if (c.older) sample::AddVoiceMemos(builder, sample::SampleVoiceMemos());
  if (c.cloud) sample::AddCloudRecordings(builder, sample::SampleCloudRecordings());
  const platform::TempFolder folder("velmora-voice-backup");
  builder.Write(folder.Path(), c.mode);
  const auto before = sample::SnapshotFolder(folder.Path());

  backup::CFileListDB index;
  ASSERT_TRUE(index.Open(folder.Path().string(), -1).Ok());
  auto reader = MakeVoiceMemosReader(*base::FindCategory(base::kCategoryVoiceMemos));
  ASSERT_TRUE(reader->Open(index).Ok());
  reader->Load({});
  EXPECT_TRUE(reader->Problems().empty());
  const std::vector<db::BaseItem*> list = reader->ResultList();

  // What the list shows: the cloud store's recordings in table order, then
  // the older store's that it does not hold ("会议" of 2020-11-02 moved
  // over under its file name, and is shown once, with its new folder).
  struct Shown {
    std::string label;
    std::string folder;
    int deleted;
    bool audio;
    bool operator==(const Shown&) const = default;
  };
  std::vector<Shown> expected;
  if (c.cloud) {
    expected = {{"周一例会", "工作", 0, true},      {"家 3", "", 0, true},  {"银行卡密码提示", "", 1, true},
                {"生日歌", "家人", 0, true},        {"吉他练习", "家人", 0, true}, {"讲座", "", 0, false},
                {"会议", "工作", 0, true}};
  }
  if (c.older) {
    if (!c.cloud) expected.push_back({"会议", "", 0, true});
    expected.insert(expected.end(),
                    {{"会议", "", 0, true}, {"", "", 0, true}, {"吉他/第2段", "", 0, true}, {"电话录音", "", 0, false}});
  }
  std::vector<Shown> shown;
  for (const db::BaseItem* item : list) {
    const auto& memo = dynamic_cast<const DBITEM_NoteVoice&>(*item);
    shown.push_back({memo.label, memo.folder, memo.deleted, !memo.audioPath.empty()});
  }
  ASSERT_EQ(shown.size(), expected.size());
  for (std::size_t i = 0; i < shown.size(); ++i) {
    EXPECT_TRUE(shown[i] == expected[i]) << i << ": " << shown[i].label << " / " << shown[i].folder;
  }

  if (c.cloud) {
    const std::vector<SampleCloudRecording> cloud = sample::SampleCloudRecordings();
    for (std::size_t i = 0; i < cloud.size(); ++i) {
      SCOPED_TRACE(cloud[i].path);
      const auto& memo = dynamic_cast<const DBITEM_NoteVoice&>(*list[i]);
      EXPECT_EQ(memo.time, cloud[i].appleSeconds + static_cast<double>(db::kAppleEpochOffsetSeconds));
      // ZDURATION, or the phone's own length while it is 0.
      EXPECT_EQ(memo.duration, static_cast<float>(cloud[i].durationSeconds));
      EXPECT_EQ(memo.fileName, cloud[i].path);
      if (memo.audioPath.empty() || i == 6) continue;  // the moved memo's file is Recordings.db's sample
      EXPECT_EQ(Bytes(memo.audioPath), sample::CloudRecordingAudio(cloud[i]));
    }
    // Recently Deleted: a deleted record with the date it went there.
    const nlohmann::ordered_json json = reader->RecordJson(*list[2]);
    EXPECT_EQ(json["deleted"], true);
    EXPECT_EQ(json["deletedFrom"], "recently-deleted");
    EXPECT_EQ(json["deletedAt"], 719190000.0 + static_cast<double>(db::kAppleEpochOffsetSeconds));
    EXPECT_EQ(reader->RecordJson(*list[0])["folder"], "工作");
    EXPECT_EQ(reader->RecordJson(*list[1]).contains("deletedFrom"), false);
  }

  // Every file the backup holds is copied once, in its own format.
  const platform::TempFolder destination("velmora-voice-export");
  std::size_t withAudio = 0;
  for (const Shown& one : shown) withAudio += one.audio ? 1 : 0;
  EXPECT_EQ(ExportVoiceMemos(list, destination.Path()), static_cast<int>(withAudio));
  const auto exported = FilesIn(destination.Path() / kVoiceMemoFolderName);
  EXPECT_EQ(exported.size(), withAudio);
  if (c.cloud) {
    EXPECT_EQ(exported.count("生日歌.qta"), 1u);
    EXPECT_EQ(exported.count("生日歌.m4a"), 0u);
    EXPECT_EQ(exported.count("家3.m4a"), 1u);  // names lose their blanks, as every export name does
  }
  if (c.older) {
    EXPECT_EQ(exported.count("20201105081533.m4a"), 1u);
  }
  EXPECT_EQ(sample::SnapshotFolder(folder.Path()), before);
}

INSTANTIATE_TEST_SUITE_P(
    Backups, VoiceMemoStores,
    ::testing::Values(StoresCase{"BothManifestDb", BackupMode::kManifestDb, true, true},
                      StoresCase{"BothManifestMbdb", BackupMode::kManifestMbdb, true, true},
                      StoresCase{"BothFolder", BackupMode::kFolder, true, true},
                      StoresCase{"CloudOnlyManifestDb", BackupMode::kManifestDb, true, false},
                      StoresCase{"CloudOnlyFolder", BackupMode::kFolder, true, false},
                      StoresCase{"OlderOnlyManifestMbdb", BackupMode::kManifestMbdb, false, true},
                      StoresCase{"OlderOnlyFolder", BackupMode::kFolder, false, true}),
    [](const auto& backup) { return std::string(backup.param.name); });

TEST(CNoteVoiceDB, CloudStoresOfOtherShapesListWhatTheyHold) {
  struct Case {
    const char* name;
    std::string sql;
    std::vector<std::string> labels;
  };
  const std::string recording =
      "CREATE TABLE ZCLOUDRECORDING (Z_PK INTEGER PRIMARY KEY, ZDATE TIMESTAMP, ZPATH VARCHAR, ZCUSTOMLABEL VARCHAR, "
      "ZFOLDER INTEGER);"
      "INSERT INTO ZCLOUDRECORDING VALUES (1, 700000000.5, '20230311 035320.m4a', '家', 4);";
  const std::vector<Case> cases = {
      // No ZFOLDER table, no title columns, no ZEVICTIONDATE: a live
      // recording named by its label, in no folder.
      {"FewColumns", recording, {"家"}},
      {"FolderRowMissing", recording + "CREATE TABLE ZFOLDER (Z_PK INTEGER PRIMARY KEY, ZENCRYPTEDNAME VARCHAR);", {"家"}},
      {"NoRecordingTable", "CREATE TABLE ZFOLDER (Z_PK INTEGER PRIMARY KEY, ZENCRYPTEDNAME VARCHAR);", {}},
      {"OlderStoreOpenedAsCloud", sample::VoiceMemosSql(sample::SampleVoiceMemos()), {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const platform::TempFolder folder("velmora-voice");
    const sample::SqliteFile database(c.sql);
    database.WriteTo(folder.Path() / "CloudRecordings.db");
    CNoteVoiceDB reader(nullptr);
    ASSERT_TRUE(reader.Open((folder.Path() / "CloudRecordings.db").string(), kVoiceMemoCloudRecordings).Ok());
    std::vector<std::string> labels;
    for (const auto& memo : reader.Recordings()) {
      labels.push_back(memo->label);
      EXPECT_EQ(memo->folder, "");
      EXPECT_EQ(memo->deleted, 0);
    }
    EXPECT_EQ(labels, c.labels);
  }
}

TEST(CNoteVoiceDB, FindsTheAudioByTheExactLastComponentOfItsPath) {
  struct Case {
    const char* name;
    std::string path;
    bool found;
  };
  // The backup holds, besides the memos' own files, "memo-1.m4a" and
  // "xmemo two.m4a" (which a memo does not name).
  const std::vector<Case> cases = {
      {"DeepFolders", "/var/mobile/a/b/c/d/memo one.m4a", true},
      {"BackslashFolders", "C:\\Recordings\\memo three.m4a", true},
      {"NoFolder", "memo four.m4a", false},
      {"EndsInSeparator", "/var/mobile/Media/Recordings/", false},
      {"WildcardLookAlike", "/var/mobile/Media/Recordings/memo_1.m4a", false},
      {"LongerNameEndingTheSame", "/var/mobile/Media/Recordings/two.m4a", false},
      {"MissingFromBackup", "/var/mobile/Media/Recordings/gone.m4a", false},
  };
  std::vector<SampleVoiceMemo> memos;
  for (const Case& c : cases) {
    const bool stored = c.found || std::string(c.name) == "NoFolder";
    memos.push_back({626000000, 10, c.name, c.path, stored});
  }
  for (const BackupMode mode : {BackupMode::kManifestDb, BackupMode::kManifestMbdb, BackupMode::kFolder}) {
    SCOPED_TRACE(static_cast<int>(mode));
    VoiceMemoBackup backup(memos, mode, {{"Media/Recordings/memo-1.m4a", "look-alike"},
                                         {"Media/Recordings/xmemo two.m4a", "look-alike"},
                                         {"Media/Recordings/memo four.m4a", "not named by a folder"}});
    ASSERT_EQ(backup.Opened(), 1);
    const auto& recordings = backup.Reader().Recordings();
    ASSERT_EQ(recordings.size(), cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i) {
      SCOPED_TRACE(cases[i].name);
      EXPECT_EQ(!recordings[i]->audioPath.empty(), cases[i].found);
      if (cases[i].found) {
        EXPECT_EQ(Bytes(recordings[i]->audioPath), sample::VoiceMemoAudio(memos[i]));
      }
    }
  }
}

TEST(ExportVoiceMemos, NamesFromLabelsStayInTheFolderAndNeverReplaceAFile) {
  const platform::TempFolder source("velmora-voice-audio");
  // Stored under numbered names, as a manifest backup stores files under
  // names of its own.
  int stored = 0;
  auto memo = [&](const std::string& label, const std::string& fileName, const std::string& content) {
    auto recording = std::make_unique<DBITEM_NoteVoice>();
    recording->label = label;
    recording->fileName = fileName;
    if (!content.empty()) {
      recording->audioPath = (source.Path() / std::to_string(++stored)).string();
      sample::WriteBytes(recording->audioPath, std::vector<std::uint8_t>(content.begin(), content.end()));
    }
    return recording;
  };
  std::vector<std::unique_ptr<DBITEM_NoteVoice>> memos;
  memos.push_back(memo("../x", "1.m4a", "up"));
  memos.push_back(memo("a/b\\c", "2.m4a", "slashes"));
  memos.push_back(memo("..", "20201105 081533.m4a", "dots"));
  memos.push_back(memo("", "", "nothing at all"));
  memos.push_back(memo("会议", "5.m4a", "first"));
  memos.push_back(memo("会议", "6.m4a", "second"));
  memos.push_back(memo("会议", "7.m4a", "third"));
  memos.push_back(memo("没有音频", "8.m4a", ""));
  auto missing = memo("音频不见了", "9.m4a", "");
  missing->audioPath = (source.Path() / "gone").string();
  memos.push_back(std::move(missing));
  memos.push_back(memo(std::string(300, 'L'), "10.m4a", "long"));
  std::vector<db::BaseItem*> records;
  for (const auto& recording : memos) records.push_back(recording.get());
  db::DBITEM_TbNameList notAMemo;
  records.push_back(&notAMemo);

  const platform::TempFolder destination("velmora-voice-export");
  const fs::path folder = destination.Path() / kVoiceMemoFolderName;
  // A file from an earlier export keeps its bytes.
  sample::WriteBytes(folder / "会议.m4a", {'o', 'l', 'd'});

  EXPECT_EQ(ExportVoiceMemos(records, destination.Path()), 8);
  auto asBytes = [](const std::string& text) { return std::vector<std::uint8_t>(text.begin(), text.end()); };
  EXPECT_EQ(FilesIn(folder), (std::map<std::string, std::vector<std::uint8_t>>{
                                 {"..x.m4a", asBytes("up")},
                                 {"abc.m4a", asBytes("slashes")},
                                 {"20201105081533.m4a", asBytes("dots")},
                                 {"录音.m4a", asBytes("nothing at all")},
                                 {"会议.m4a", asBytes("old")},
                                 {"会议 2.m4a", asBytes("first")},
                                 {"会议 3.m4a", asBytes("second")},
                                 {"会议 4.m4a", asBytes("third")},
                                 {std::string(60, 'L') + ".m4a", asBytes("long")},
                             }));
  EXPECT_EQ(FilesIn(destination.Path()).size(), 1u);

  // Nothing to export makes no folder.
  const platform::TempFolder empty("velmora-voice-export");
  EXPECT_EQ(ExportVoiceMemos({&notAMemo}, empty.Path()), 0);
  EXPECT_TRUE(FilesIn(empty.Path()).empty());
}

TEST(CNoteVoiceDB, MissingDatabaseGivesNoRecordings) {
  const platform::TempFolder folder("velmora-voice");
  CNoteVoiceDB reader(nullptr);
  EXPECT_FALSE(reader.Open((folder.Path() / "Recordings.db").string(), 0).Ok());
  EXPECT_TRUE(reader.Recordings().empty());
  EXPECT_FALSE(fs::exists(folder.Path() / "Recordings.db"));
}

TEST(CNoteVoiceDB, ReadsTheRealIos7RecordingsDatabase) {
  const fs::path source =
      fs::path(VELMORA_SHARED_DIR) / "samples/OTAPKI-iphone/MediaDomain_Media_Recordings_Recordings.db";
  if (!fs::exists(source)) GTEST_SKIP() << "no " << source;
  const platform::TempFolder folder("velmora-voice");
  const fs::path copy = folder.Path() / "Recordings.db";
  fs::copy_file(source, copy);
  fs::permissions(copy, fs::perms::owner_read | fs::perms::owner_write);

  // The phone had made no recording: ZRECORDING is empty (counted with
  // sqlite3; Z_PRIMARYKEY's Z_MAX for Recording is 0 too).
  CNoteVoiceDB reader(nullptr);
  EXPECT_TRUE(reader.Open(copy.string(), 0).Ok());
  EXPECT_TRUE(reader.Recordings().empty());
  EXPECT_EQ(reader.LastError(), "");
}

}  // namespace
}  // namespace readers
