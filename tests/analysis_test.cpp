#include "recovery/analysis.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <limits>
#include <map>
#include <regex>
#include <set>

#include "backup/encrypted_backup.h"
#include "backup/file_list_db.h"
#include "base/categories.h"
#include "platform/fs.h"
#include "platform/message_target.h"
#include "platform/text_codec.h"
#include "readers/calendar_db.h"
#include "export/export_writer.h"
#include "readers/attachment_db.h"
#include "readers/message_db.h"
#include "readers/record_filter.h"
#include "readers/voice_memo_db.h"
#include "recovery/category_registry.h"
#include "recovery/recovery_run.h"
#include "testing/folder_snapshot.h"
#include "testing/sample_backup.h"

namespace {

namespace fs = std::filesystem;
using sample::BackupMode;

class DoneTarget : public platform::IMessageTarget {
 public:
  void Post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t) override {
    if (message == platform::kWmAnalysisDone) outcomes.push_back(static_cast<int>(wParam));
  }
  std::vector<int> outcomes;
};

TEST(Categories, ParsesNumbersAndNames) {
  struct Case {
    std::string text;
    std::optional<int> expected;
  };
  const Case cases[] = {{"5", 5},       {"messages", 5}, {"voice-memos", 11}, {"whatsapp-files", 17},
                        {"18", {}},     {"-1", {}},      {"Messages", {}},    {"5x", {}}};
  for (const Case& c : cases) EXPECT_EQ(base::ParseCategory(c.text), c.expected) << c.text;
}

// Every row of the table has a reader of its own category, and the names the
// command line and the export use are unique where they name one category.
TEST(Categories, EveryRowHasAReaderAndUniqueNames) {
  std::set<std::string_view> cliNames;
  for (const base::CategoryInfo& info : base::AllCategories()) {
    SCOPED_TRACE(info.cliName);
    EXPECT_TRUE(cliNames.insert(info.cliName).second);
    EXPECT_EQ(base::ParseCategory(std::string(info.cliName)), info.number);
    EXPECT_FALSE(info.displayName.empty());
    EXPECT_FALSE(info.fileName.empty());
    const auto reader = recovery::MakeCategoryReader(info.number);
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(&reader->Category(), &info);
  }
  EXPECT_EQ(cliNames.size(), static_cast<std::size_t>(base::kCategoryCount));
  EXPECT_EQ(recovery::MakeCategoryReader(base::kCategoryCount), nullptr);
  EXPECT_EQ(recovery::MakeCategoryReader(-1), nullptr);
  EXPECT_EQ(base::FindCategory(18), nullptr);
}

class AnalysisTest : public ::testing::Test {
 protected:
  fs::path Write(BackupMode mode) {
    const fs::path folder = temp_.Path() / ("backup" + std::to_string(static_cast<int>(mode)));
    if (!fs::exists(folder)) sample::AppsDemoBackup().Write(folder, mode);
    return folder;
  }
  platform::TempFolder temp_{"velmora-analysis"};
};

TEST_F(AnalysisTest, EachCategoryListsLiveAndDeletedRecordsInEveryForm) {
  for (BackupMode mode : {BackupMode::kManifestDb, BackupMode::kManifestMbdb, BackupMode::kFolder}) {
    const fs::path folder = Write(mode);
    const auto before = sample::SnapshotFolder(folder);
    for (int category : {base::kCategoryCalls, base::kCategoryContacts, base::kCategoryMessages,
                         base::kCategorySafari, base::kCategoryCalendar, base::kCategoryReminders,
                         base::kCategoryNotes, base::kCategoryWhatsApp, base::kCategoryVoiceMemos}) {
      backup::CFileListDB index;
      ASSERT_TRUE(index.Open(folder.string(), -1).Ok());
      std::unique_ptr<readers::ICategoryReader> reader;
      DoneTarget target;
      EXPECT_EQ(recovery::RunAnalysis(category, index, reader, &target), recovery::kAnalysisListed)
          << category << " in mode " << static_cast<int>(mode);
      EXPECT_EQ(target.outcomes, std::vector<int>{recovery::kAnalysisListed});
      const auto list = reader->ResultList();
      ASSERT_FALSE(list.empty());
      const bool anyDeleted = std::any_of(list.begin(), list.end(), [](auto* r) { return r->deleted != 0; });
      // Voice memos: the recording in Recently Deleted (deleted rows are not
      // rebuilt).
      EXPECT_TRUE(anyDeleted) << category << " in mode " << static_cast<int>(mode);
    }
    EXPECT_EQ(sample::SnapshotFolder(folder), before);
  }
}

// A stop asked for ends the analysis at its next progress report; its
// half-loaded records are dropped and the outcome says it stopped.
TEST_F(AnalysisTest, AStoppedAnalysisEndsAtItsNextReportAndKeepsNothing) {
  const fs::path folder = Write(BackupMode::kManifestDb);
  class StopOnFirstProgress : public platform::IMessageTarget {
   public:
    explicit StopOnFirstProgress(std::atomic<bool>& stop) : stop_(stop) {}
    void Post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t) override {
      if (message == platform::kWmAnalysisProgress) {
        ++reports;
        stop_ = true;
      }
      if (message == platform::kWmAnalysisDone) outcomes.push_back(static_cast<int>(wParam));
    }
    int reports = 0;
    std::vector<int> outcomes;

   private:
    std::atomic<bool>& stop_;
  };
  for (bool before : {true, false}) {
    std::atomic<bool> stop = before;
    StopOnFirstProgress target(stop);
    backup::CFileListDB index;
    ASSERT_TRUE(index.Open(folder.string(), -1).Ok());
    std::unique_ptr<readers::ICategoryReader> reader;
    EXPECT_EQ(recovery::RunAnalysis(base::kCategoryMessages, index, reader, &target, {}, &stop),
              recovery::kAnalysisStopped);
    EXPECT_EQ(reader, nullptr);
    EXPECT_EQ(target.outcomes, std::vector<int>{recovery::kAnalysisStopped});
    EXPECT_EQ(target.reports, before ? 0 : 1);
  }
  // Not asked to stop: the same analysis lists its records.
  std::atomic<bool> never = false;
  backup::CFileListDB index;
  ASSERT_TRUE(index.Open(folder.string(), -1).Ok());
  std::unique_ptr<readers::ICategoryReader> reader;
  EXPECT_EQ(recovery::RunAnalysis(base::kCategoryMessages, index, reader, nullptr, {}, &never), recovery::kAnalysisListed);
}

TEST_F(AnalysisTest, AMissingDatabaseListsNothingAndMessagesGoOnWithoutContacts) {
  sample::SampleBackupBuilder builder;
  const sample::SampleBackupBuilder apps = sample::AppsDemoBackup();
  for (const auto& file : apps.Files()) {
    if (file.relativePath.find("AddressBook") == std::string::npos) builder.AddFile(file);
  }
  const fs::path folder = temp_.Path() / "no-contacts";
  builder.Write(folder, BackupMode::kManifestDb);

  backup::CFileListDB index;
  ASSERT_TRUE(index.Open(folder.string(), -1).Ok());
  std::unique_ptr<readers::ICategoryReader> reader;
  EXPECT_EQ(recovery::RunAnalysis(base::kCategoryContacts, index, reader, nullptr), recovery::kAnalysisNothing);
  EXPECT_TRUE(reader->ResultList().empty());
  // An app that is not on the phone is no problem.
  EXPECT_TRUE(reader->Problems().empty());

  EXPECT_EQ(recovery::RunAnalysis(base::kCategoryMessages, index, reader, nullptr), recovery::kAnalysisListed);
  for (db::BaseItem* record : reader->ResultList()) {
    const auto* conversation = dynamic_cast<readers::DBITEM_MsgFriend*>(record);
    ASSERT_NE(conversation, nullptr);
    // No contacts: every conversation with one peer is named by its
    // address (a group by its own name or its members').
    if (!conversation->isGroup) {
      EXPECT_EQ(conversation->name, conversation->address);
    }
  }
}

TEST(RecordFilter, ViewFilterAndSearchReachIntoConversations) {
  readers::DBITEM_MsgFriend live;
  live.name = "张伟";
  readers::DBITEM_MsgFriend deleted;
  deleted.name = "王芳";
  deleted.deleted = 1;
  auto message = std::make_unique<readers::DBITEM_Message>();
  message->text = "明天的会议改到三点";
  live.File(std::move(message), false);
  const std::vector<db::BaseItem*> list = {&live, &deleted};
  EXPECT_EQ(readers::FilterRecords(list, 0, ""), list);
  EXPECT_EQ(readers::FilterRecords(list, 1, ""), std::vector<db::BaseItem*>{&deleted});
  EXPECT_EQ(readers::FilterRecords(list, 2, ""), std::vector<db::BaseItem*>{&live});
  EXPECT_EQ(readers::FilterRecords(list, 0, "王"), std::vector<db::BaseItem*>{&deleted});
  EXPECT_EQ(readers::FilterRecords(list, 0, "会议"), std::vector<db::BaseItem*>{&live});
  EXPECT_TRUE(readers::FilterRecords(list, 1, "会议").empty());
}

TEST_F(AnalysisTest, RecoveryWritesTheTickedRecordsUnderTheLabel) {
  const fs::path folder = Write(BackupMode::kManifestDb);
  EXPECT_EQ(recovery::RecoveryLabel(folder.string()), "Lin's iPhone");
  EXPECT_EQ(recovery::RecoveryLabel((temp_.Path() / "plain").string()), "指定目录_plain");

  backup::CFileListDB index;
  ASSERT_TRUE(index.Open(folder.string(), -1).Ok());
  std::unique_ptr<readers::ICategoryReader> reader;
  recovery::RunAnalysis(base::kCategoryMessages, index, reader, nullptr);
  const auto deleted = readers::FilterRecords(reader->ResultList(), 1, "");
  ASSERT_FALSE(deleted.empty());
  fs::path written;
  ASSERT_TRUE(recovery::RunRecovery(*reader, deleted, temp_.Path() / "out", "Lin's iPhone", nullptr, written).Ok());
  EXPECT_EQ(written.filename(), "短信");
  EXPECT_EQ(written.parent_path().parent_path().filename(), "LinsiPhone");
  std::ifstream csv(written / "表格格式" / "短信.csv", std::ios::binary);
  std::stringstream text;
  text << csv.rdbuf();
  const std::string table = platform::Gb18030ToUtf8(text.str());
  EXPECT_EQ(table.rfind("名称,日期,类型,内容\r\n", 0), 0u);
  std::ifstream page(written / "网页格式" / "短信.html", std::ios::binary);
  std::stringstream html;
  html << page.rdbuf();
  EXPECT_NE(html.str().find("<IMG src=image/DeleteFlag.png>"), std::string::npos);
  EXPECT_TRUE(fs::exists(written / "网页格式" / "image" / "DeleteFlag.png"));
}

std::string ReadCsv(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return platform::Gb18030ToUtf8(bytes.str());
}

TEST_F(AnalysisTest, EachAppIsRecoveredToItsTableOrFiles) {
  const fs::path folder = Write(BackupMode::kManifestDb);
  struct Case {
    int category;
    const char* folderName;  // the category's folder and file name
    const char* header;      // the table's first line; empty: files are copied
  };
  const Case cases[] = {
      {base::kCategoryCalendar, "日历", "标题,开始日期,结束日期,位置,备注\r\n"},
      {base::kCategoryReminders, "提醒事项", "标题,列表,状态,日期,位置,优先级,备注\r\n"},
      {base::kCategoryNotes, "备忘录", "标题,日期,备注\r\n"},
      {base::kCategoryWhatsApp, "WhatsApp", "名称,日期,类型,内容\r\n"},
      {base::kCategoryVoiceMemos, "语音备忘录", ""},
  };
  for (const Case& c : cases) {
    backup::CFileListDB index;
    ASSERT_TRUE(index.Open(folder.string(), -1).Ok());
    std::unique_ptr<readers::ICategoryReader> reader;
    recovery::RunAnalysis(c.category, index, reader, nullptr);
    const auto list = reader->ResultList();
    ASSERT_FALSE(list.empty()) << c.category;
    for (db::BaseItem* record : list) record->checked = 1;
    fs::path written;
    ASSERT_TRUE(recovery::RunRecovery(*reader, list, temp_.Path() / "apps-out", "Lin's iPhone", nullptr, written).Ok());
    EXPECT_EQ(written.filename(), c.folderName);
    if (*c.header != '\0') {
      const std::string table = ReadCsv(written / "表格格式" / (std::string(c.folderName) + ".csv"));
      EXPECT_EQ(table.rfind(c.header, 0), 0u) << c.category;
      // One line per record (a conversation: one per message), after the header.
      EXPECT_GT(std::count(table.begin(), table.end(), '\n'), 1) << c.category;
      EXPECT_TRUE(fs::exists(written / "网页格式" / (std::string(c.folderName) + ".html"))) << c.category;
    } else {
      EXPECT_FALSE(fs::exists(written / "表格格式"));
      std::size_t copied = 0;
      for (const auto& entry : fs::directory_iterator(written / "语音备忘录")) copied += entry.is_regular_file() ? 1 : 0;
      // Every recording the sample holds a file for is copied, one file each.
      std::size_t withAudio = 0;
      for (db::BaseItem* record : list) withAudio += !static_cast<readers::DBITEM_NoteVoice*>(record)->audioPath.empty();
      EXPECT_EQ(copied, withAudio);
      EXPECT_GT(copied, 1u);
    }
  }
}

// What a backup's category holds, every account of it, as JSON lines with
// the stored files' place written as STORED/<file name>; and the category's
// records recovered below out.
std::string CategoryAsRead(const fs::path& backup, const std::string& password, int category, const fs::path& out) {
  backup::CFileListDB index;
  index.SetPassword(password);
  if (!index.Open(backup.string(), -1).Ok()) return "cannot open";
  std::unique_ptr<readers::ICategoryReader> reader;
  recovery::RunAnalysis(category, index, reader, nullptr);
  std::string text;
  const std::size_t accounts = std::max<std::size_t>(1, reader->Accounts().size());
  for (std::size_t account = 0; account < accounts; ++account) {
    reader->ChooseAccount(account);
    const auto list = reader->ResultList();
    for (db::BaseItem* record : list) text += reader->GroupJson(*record).dump() + "\n";
    if (reader->Category().kind == base::CategoryKind::kMedia || list.empty()) continue;
    for (db::BaseItem* record : list) record->checked = 1;
    fs::path written;
    recovery::RunRecovery(*reader, list, out / std::to_string(account), "L", nullptr, written);
  }
  for (std::string::size_type at; (at = text.find(index.StoredFilesRoot())) != std::string::npos;) {
    text.replace(at, index.StoredFilesRoot().size(), "STORED");
  }
  return std::regex_replace(text, std::regex("STORED/[0-9a-f]{2}/"), "STORED/");
}

// Every category reads the same records through an encrypted copy of the
// demo backup as through the plain one and recovers the same files; the
// encrypted backup stays as it was, and its decrypted copies go with the run.
TEST_F(AnalysisTest, EveryCategoryReadsAndRecoversTheSameThroughAnEncryptedCopy) {
  const fs::path tempRoot = temp_.Path() / "tmp";
  ::setenv("VELMORA_TEMP_DIR", tempRoot.c_str(), 1);
  const fs::path plain = Write(BackupMode::kManifestDb);
  sample::BackupEncryption encryption;
  const fs::path encrypted = temp_.Path() / "encrypted";
  sample::AppsDemoBackup().Write(encrypted, BackupMode::kManifestDb, &encryption);
  const auto before = sample::SnapshotFolder(encrypted);
  for (const base::CategoryInfo& info : base::AllCategories()) {
    const std::string name(info.cliName);
    const std::string fromPlain = CategoryAsRead(plain, "", info.number, temp_.Path() / "out-plain" / name);
    const std::string fromEncrypted =
        CategoryAsRead(encrypted, encryption.password, info.number, temp_.Path() / "out-encrypted" / name);
    EXPECT_GT(fromPlain.size(), 100u) << name;
    EXPECT_EQ(fromEncrypted, fromPlain) << name;
  }
  EXPECT_EQ(sample::SnapshotFolder(temp_.Path() / "out-encrypted"), sample::SnapshotFolder(temp_.Path() / "out-plain"));
  EXPECT_GT(sample::SnapshotFolder(temp_.Path() / "out-plain").size(), 40u);
  EXPECT_EQ(sample::SnapshotFolder(encrypted), before);
  backup::ForgetDecryptedBackups();
  EXPECT_TRUE(fs::is_empty(tempRoot));
  ::unsetenv("VELMORA_TEMP_DIR");
}

// Media categories list top groups whose day groups hold the files; the
// camera roll's unlisted files are deleted ones, under the third album.
TEST_F(AnalysisTest, MediaCategoriesGroupTheirFilesByDayInEveryForm) {
  for (BackupMode mode : {BackupMode::kManifestDb, BackupMode::kManifestMbdb, BackupMode::kFolder}) {
    const fs::path folder = Write(mode);
    const auto before = sample::SnapshotFolder(folder);
    for (int category : {base::kCategoryPhotos, base::kCategoryVideos, base::kCategoryNotesAttachments,
                         base::kCategoryMessageAttachments, base::kCategoryWhatsAppFiles}) {
      backup::CFileListDB index;
      ASSERT_TRUE(index.Open(folder.string(), -1).Ok());
      std::unique_ptr<readers::ICategoryReader> reader;
      const int outcome = recovery::RunAnalysis(category, index, reader, nullptr);
      const auto tops = reader->ResultList();
      const bool media = category == base::kCategoryPhotos || category == base::kCategoryVideos;
      ASSERT_EQ(tops.size(), media ? 3u : 5u) << category << " in mode " << static_cast<int>(mode);
      EXPECT_EQ(outcome, recovery::kAnalysisListed);
      const auto& all = static_cast<db::FriendItem*>(tops[0])->items;
      EXPECT_FALSE(all.empty()) << category << " in mode " << static_cast<int>(mode);
      if (media) {
        // Every day album under 已恢复 holds a deleted file; none of them is
        // under 相机胶卷.
        const auto& recovered = static_cast<db::FriendItem*>(tops[2])->items;
        const auto& cameraRoll = static_cast<db::FriendItem*>(tops[1])->items;
        EXPECT_FALSE(recovered.empty()) << category << " in mode " << static_cast<int>(mode);
        for (db::BaseItem* day : recovered) {
          EXPECT_FALSE(static_cast<db::FriendItem*>(day)->subLists[2].empty());
          EXPECT_EQ(std::count(cameraRoll.begin(), cameraRoll.end(), day), 0);
        }
      }
    }
    EXPECT_EQ(sample::SnapshotFolder(folder), before);
  }
}

// The demo's photo library is today's: its JSON says which photo is in
// Recently Deleted (and since when), which is a file the library no longer
// names, and which the library lists without its original in the backup.
TEST_F(AnalysisTest, PhotosSayWhereEachDeletedOneWasFoundAndWhichOriginalIsMissing) {
  const fs::path folder = Write(BackupMode::kManifestDb);
  backup::CFileListDB index;
  ASSERT_TRUE(index.Open(folder.string(), -1).Ok());
  std::unique_ptr<readers::ICategoryReader> reader;
  ASSERT_EQ(recovery::RunAnalysis(base::kCategoryPhotos, index, reader, nullptr), recovery::kAnalysisListed);
  std::map<std::string, std::string> deletedFrom;  // name: where
  std::map<std::string, std::string> remarks;      // name: remark
  for (const db::BaseItem* day : readers::Members(*reader->ResultList()[0])) {
    for (const db::BaseItem* media : static_cast<const db::FriendItem*>(day)->subLists[0]) {
      const nlohmann::ordered_json json = reader->RecordJson(*media);
      const std::string name = json["mediaName"].get<std::string>();
      if (json["deleted"].get<bool>()) deletedFrom[name] = json["deletedFrom"].get<std::string>();
      if (json.value("deletedFrom", "") == "recently-deleted") {
        EXPECT_EQ(json["deletedAt"], 1683720000) << name;  // 2023-05-10 20:00:00 Beijing time
      }
      if (!json["remark"].get<std::string>().empty()) remarks[name] = json["remark"].get<std::string>();
    }
  }
  EXPECT_EQ(deletedFrom, (std::map<std::string, std::string>{{"IMG_0005.HEIC", "recently-deleted"},
                                                             {"IMG_0010.HEIC", "free-space"}}));
  EXPECT_EQ(remarks, (std::map<std::string, std::string>{{"IMG_0006.HEIC", "原图不在备份中"}}));
}

// The message attachments are the files sms.db's attachment table names,
// typed by their MIME type whatever their extension (.heic, .caf), and the
// files of the attachment folder that no row names; the voice memos that
// MediaDomain holds as well are not among them.
TEST_F(AnalysisTest, MessageAttachmentsAreTheFilesSmsDbNamesAndTheirFolderHolds) {
  for (BackupMode mode : {BackupMode::kManifestDb, BackupMode::kManifestMbdb, BackupMode::kFolder}) {
    SCOPED_TRACE(static_cast<int>(mode));
    const fs::path folder = Write(mode);
    backup::CFileListDB index;
    ASSERT_TRUE(index.Open(folder.string(), -1).Ok());
    std::unique_ptr<readers::ICategoryReader> reader;
    ASSERT_EQ(recovery::RunAnalysis(base::kCategoryMessageAttachments, index, reader, nullptr),
              recovery::kAnalysisListed);
    const auto tops = reader->ResultList();
    ASSERT_EQ(tops.size(), 5u);
    std::vector<std::set<std::string>> names(5);
    for (std::size_t type = 1; type < 5; ++type) {
      for (const db::BaseItem* day : static_cast<db::FriendItem*>(tops[type])->items) {
        for (const db::BaseItem* file : static_cast<const db::FriendItem*>(day)->subLists[type]) {
          names[type].insert(static_cast<const readers::DBITEM_Attachment*>(file)->fileName);
        }
      }
    }
    EXPECT_EQ(names[1], (std::set<std::string>{"IMG_2041.JPG", "IMG_3001.PNG", "IMG_4821.HEIC"}));
    EXPECT_EQ(names[2], (std::set<std::string>{"IMG_2042.MOV"}));
    EXPECT_EQ(names[3], (std::set<std::string>{"Audio Message.caf"}));
    EXPECT_EQ(names[4], (std::set<std::string>{"合同.pdf"}));
  }
}

// Recovered messages keep their chats, their files and where they were
// deleted from: the group by its name in the table, the attachment files
// copied beside the page and shown or linked in their message's row, the
// Recently Deleted ones marked with their date; the JSON says where each
// deleted message was found.
TEST_F(AnalysisTest, MessagesAreRecoveredWithTheirChatsAttachmentsAndDeletions) {
  const fs::path folder = Write(BackupMode::kManifestDb);
  backup::CFileListDB index;
  ASSERT_TRUE(index.Open(folder.string(), -1).Ok());
  std::unique_ptr<readers::ICategoryReader> reader;
  ASSERT_EQ(recovery::RunAnalysis(base::kCategoryMessages, index, reader, nullptr), recovery::kAnalysisListed);
  const auto list = reader->ResultList();
  std::map<std::string, std::string> deletedFrom;  // text: where
  for (db::BaseItem* conversation : list) {
    conversation->checked = 1;
    for (const db::BaseItem* message : readers::Members(*conversation)) {
      const nlohmann::ordered_json json = reader->RecordJson(*message);
      if (json["deleted"].get<bool>()) {
        deletedFrom[json["text"].get<std::string>()] = json["deletedFrom"].get<std::string>();
        EXPECT_EQ(json["deletedAt"].is_null(), json["deletedFrom"] == "free-space") << json.dump();
      }
    }
  }
  EXPECT_EQ(deletedFrom, (std::map<std::string, std::string>{{"这条消息已经彻底删除了", "free-space"},
                                                             {"我的新地址是朝阳区望京街8号", "recently-deleted"},
                                                             {"收到", "recently-deleted"},
                                                             {"下次别叫他了", "recently-deleted"},
                                                             {"验证码482913，五分钟内有效", "recently-deleted"},
                                                             {"谢谢", "recently-deleted"}}));
  fs::path written;
  ASSERT_TRUE(recovery::RunRecovery(*reader, list, temp_.Path() / "messages-out", "Lin's iPhone", nullptr, written).Ok());
  const std::string table = ReadCsv(written / "表格格式" / "短信.csv");
  EXPECT_NE(table.find("周末爬山群,2024-03-09 11:01:00 ,发送,\"我报名\"\r\n"), std::string::npos);
  EXPECT_NE(table.find("周末爬山群,2024-03-09 11:02:00 ,接收,\"我也去\"\r\n"), std::string::npos);
  std::set<std::string> copied;
  for (const auto& entry : fs::directory_iterator(written / "网页格式" / "附件")) {
    copied.insert(entry.path().filename().string());
  }
  EXPECT_EQ(copied, (std::set<std::string>{"AudioMessage.caf", "IMG_2041.JPG", "IMG_2042.MOV", "IMG_4821.HEIC",
                                           "合同.pdf"}));
  std::ifstream in(written / "网页格式" / "短信.html", std::ios::binary);
  const std::string page((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::string attachments = exporting::FileHref("附件");
  EXPECT_NE(page.find("<img src=\"" + attachments + "/IMG_4821.HEIC\""), std::string::npos);
  EXPECT_NE(page.find("附件：<a href=\"" + attachments + "/%E5%90%88%E5%90%8C.pdf\""), std::string::npos);
  EXPECT_NE(page.find("附件：IMG_0099.HEIC（备份中没有此文件）"), std::string::npos);
  EXPECT_NE(page.find("最近删除 2024-03-10 10:00:00"), std::string::npos);
  // Who wrote in a group, which the table has no column for.
  EXPECT_NE(page.find("<small>+8618600002222</small>"), std::string::npos);
}

TEST_F(AnalysisTest, MediaRecoveryCopiesTheTickedFilesOfTheShownGroup) {
  const fs::path folder = Write(BackupMode::kManifestDb);
  for (int category : {base::kCategoryPhotos, base::kCategoryMessageAttachments}) {
    backup::CFileListDB index;
    ASSERT_TRUE(index.Open(folder.string(), -1).Ok());
    std::unique_ptr<readers::ICategoryReader> reader;
    recovery::RunAnalysis(category, index, reader, nullptr);
    const auto tops = reader->ResultList();
    ASSERT_FALSE(tops.empty());
    // Tick one file of each day of the first group; nothing else is copied.
    auto& all = *static_cast<db::FriendItem*>(tops[0]);
    std::size_t ticked = 0;
    for (db::BaseItem* day : all.items) {
      auto& files = static_cast<db::FriendItem*>(day)->subLists[static_cast<std::size_t>(all.subListIndex)];
      if (!files.empty()) {
        files.front()->checked = 1;
        ++ticked;
      }
    }
    const auto selection = recovery::TickedDayGroups(all);
    EXPECT_EQ(selection.size(), ticked);
    fs::path written;
    ASSERT_TRUE(
        recovery::RunRecovery(*reader, selection, temp_.Path() / "media-out", "Lin's iPhone", nullptr, written, &all)
            .Ok());
    std::size_t copied = 0;
    for (const auto& entry : fs::recursive_directory_iterator(written)) copied += entry.is_regular_file() ? 1 : 0;
    EXPECT_EQ(copied, ticked) << category;
    EXPECT_FALSE(fs::exists(written / "表格格式"));
  }
}

// Asks the run to stop once AddProgress was called `after` times (one call
// per record of a list, per copied file of a media group), and counts them.
class StoppingProgress : public exporting::IExportProgress {
 public:
  explicit StoppingProgress(int after) : after_(after) {}
  void SetProgress(float) override {}
  void AddProgress(float) override { ++adds; }
  bool Cancelled() const override { return adds >= after_; }
  int adds = 0;

 private:
  int after_;
};

std::string FileEnd(const fs::path& file, std::size_t size) {
  const auto bytes = platform::ReadWholeFile(file).value_or(std::vector<std::uint8_t>());
  const std::string text(bytes.begin(), bytes.end());
  return text.size() < size ? text : text.substr(text.size() - size);
}

// The tables and pages below folder, each checked to be whole: a table ends
// with a whole line, a page with its closing tag.
std::vector<fs::path> ExportedDocuments(const fs::path& folder) {
  std::vector<fs::path> documents;
  if (!fs::exists(folder)) return documents;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    const std::string extension = entry.path().extension().string();
    if (extension == ".csv") {
      EXPECT_EQ(FileEnd(entry.path(), 2), "\r\n") << entry.path();
    }
    if (extension == ".html") {
      EXPECT_EQ(FileEnd(entry.path(), 8), "</html>\n") << entry.path();
    }
    if (extension == ".csv" || extension == ".html") documents.push_back(entry.path());
  }
  return documents;
}

TEST_F(AnalysisTest, ARecoveryStoppedBeforeItBeginsMakesNoFolder) {
  const fs::path folder = Write(BackupMode::kManifestDb);
  backup::CFileListDB index;
  ASSERT_TRUE(index.Open(folder.string(), -1).Ok());
  std::unique_ptr<readers::ICategoryReader> reader;
  ASSERT_EQ(recovery::RunAnalysis(base::kCategoryMessages, index, reader, nullptr), recovery::kAnalysisListed);
  StoppingProgress progress(0);
  fs::path written;
  const base::Status status =
      recovery::RunRecovery(*reader, reader->ResultList(), temp_.Path() / "out", "L", &progress, written);
  EXPECT_EQ(status.Kind(), base::Status::Code::kCancelled);
  EXPECT_TRUE(written.empty());
  EXPECT_FALSE(fs::exists(temp_.Path() / "out"));
}

// A run stopped in the middle adds no record after the one it was stopped
// at, says it was stopped, and leaves no table or page that passes for the
// whole export: a list category writes neither; a chat category keeps the
// whole conversation pages written so far but not the site's frame page.
TEST_F(AnalysisTest, ARecoveryStoppedInTheMiddleStopsAtTheNextRecordAndLeavesNoPartialFile) {
  const fs::path folder = Write(BackupMode::kManifestDb);
  int run = 0;
  for (int category : {base::kCategoryMessages, base::kCategoryContacts, base::kCategoryCalls, base::kCategoryNotes,
                       base::kCategorySafari, base::kCategoryCalendar, base::kCategoryWhatsApp,
                       base::kCategoryWeChatContacts, base::kCategoryWeChat, base::kCategoryQq}) {
    SCOPED_TRACE(category);
    backup::CFileListDB index;
    ASSERT_TRUE(index.Open(folder.string(), -1).Ok());
    std::unique_ptr<readers::ICategoryReader> reader;
    recovery::RunAnalysis(category, index, reader, nullptr);
    const auto list = reader->ResultList();
    StoppingProgress whole(std::numeric_limits<int>::max());
    fs::path written;
    ASSERT_TRUE(recovery::RunRecovery(*reader, list, temp_.Path() / "whole", "L", &whole, written).Ok());
    ASSERT_GE(whole.adds, 4);
    for (int after : {1, whole.adds / 2, whole.adds - 3}) {
      SCOPED_TRACE(after);
      StoppingProgress stopping(after);
      const fs::path out = temp_.Path() / ("stopped" + std::to_string(++run));
      const base::Status status = recovery::RunRecovery(*reader, list, out, "L", &stopping, written);
      EXPECT_EQ(status.Kind(), base::Status::Code::kCancelled);
      EXPECT_LE(stopping.adds, after + 1);
      for (const fs::path& document : ExportedDocuments(out)) {
        EXPECT_EQ(base::CategoryOf(category).exportForm, base::ExportForm::kChatSite) << document;
        EXPECT_FALSE(document.filename().string().starts_with("全部")) << document;
      }
    }
  }
}

// A stopped media recovery copies no further file, and every copy it made is
// whole.
TEST_F(AnalysisTest, AStoppedMediaRecoveryCopiesNoFurtherFile) {
  const fs::path folder = Write(BackupMode::kManifestDb);
  for (int category : {base::kCategoryPhotos, base::kCategoryMessageAttachments}) {
    SCOPED_TRACE(category);
    backup::CFileListDB index;
    ASSERT_TRUE(index.Open(folder.string(), -1).Ok());
    std::unique_ptr<readers::ICategoryReader> reader;
    recovery::RunAnalysis(category, index, reader, nullptr);
    const auto tops = reader->ResultList();
    ASSERT_FALSE(tops.empty());
    auto& all = *static_cast<db::FriendItem*>(tops[0]);
    std::size_t ticked = 0;
    for (db::BaseItem* day : all.items) {
      for (db::BaseItem* file : static_cast<db::FriendItem*>(day)->subLists[static_cast<std::size_t>(all.subListIndex)]) {
        file->checked = 1;
        ++ticked;
      }
    }
    ASSERT_GE(ticked, 3U);
    StoppingProgress stopping(1);
    fs::path written;
    const base::Status status = recovery::RunRecovery(*reader, recovery::TickedDayGroups(all),
                                                      temp_.Path() / ("media" + std::to_string(category)), "L",
                                                      &stopping, written, &all);
    EXPECT_EQ(status.Kind(), base::Status::Code::kCancelled);
    EXPECT_EQ(stopping.adds, 1);
    std::size_t copied = 0;
    for (const auto& entry : fs::recursive_directory_iterator(written)) {
      if (!entry.is_regular_file()) continue;
      ++copied;
      std::error_code error;
      EXPECT_GT(fs::file_size(entry.path(), error), 0U) << entry.path();
    }
    // One record: a Live Photo's motion goes with its picture.
    EXPECT_LE(copied, category == base::kCategoryPhotos ? 2U : 1U);
  }
}

TEST_F(AnalysisTest, CalendarListsOnlyTheEntityTypeAskedFor) {
  const fs::path folder = Write(BackupMode::kManifestDb);
  for (int category : {base::kCategoryCalendar, base::kCategoryReminders}) {
    backup::CFileListDB index;
    ASSERT_TRUE(index.Open(folder.string(), -1).Ok());
    std::unique_ptr<readers::ICategoryReader> reader;
    recovery::RunAnalysis(category, index, reader, nullptr);
    const int wanted = category == base::kCategoryCalendar ? readers::kCalendarEvent : readers::kCalendarReminder;
    const auto list = reader->ResultList();
    ASSERT_FALSE(list.empty());
    for (db::BaseItem* record : list) {
      EXPECT_EQ(static_cast<readers::DBITEM_CalendarFriend*>(record)->entityType, wanted) << record->Title();
    }
  }
}

TEST(AnalysisRealFiles, Ios7FilesInAFolderBackupAreListed) {
  const fs::path real = fs::path(VELMORA_SHARED_DIR) / "samples" / "OTAPKI-iphone";
  if (!fs::is_directory(real)) GTEST_SKIP() << "no real iOS 7 files at " << real;
  platform::TempFolder temp("velmora-ios7");
  const fs::path folder = temp.Path() / "iPhone";
  const std::pair<const char*, const char*> files[] = {
      {"HomeDomain_Library_AddressBook_AddressBook.sqlitedb", "Library/AddressBook/AddressBook.sqlitedb"},
      {"HomeDomain_Library_SMS_sms.db", "Library/SMS/sms.db"},
      {"HomeDomain_Library_Safari_Bookmarks.db", "Library/Safari/Bookmarks.db"},
      {"WirelessDomain_Library_CallHistory_call_history.db", "Library/CallHistory/call_history.db"},
      {"HomeDomain_Library_Notes_notes.sqlite", "Library/Notes/notes.sqlite"},
      {"HomeDomain_Library_Calendar_Calendar.sqlitedb", "Library/Calendar/Calendar.sqlitedb"},
      {"MediaDomain_Media_Recordings_Recordings.db", "Media/Recordings/Recordings.db"},
  };
  for (const auto& [from, to] : files) {
    fs::create_directories((folder / to).parent_path());
    fs::copy_file(real / from, folder / to);
  }
  struct Case {
    int category;
    std::size_t atLeast;  // what the files hold
  };
  // The iOS 7 phone's messages (one conversation), its nine bookmarks (its
  // twelve bookmark rows less the three folders), its 130 calendar events;
  // its address book holds no person, its calls are in an older table, it
  // has no notes, reminders or recordings.
  const Case cases[] = {{base::kCategoryMessages, 1}, {base::kCategorySafari, 9},
                        {base::kCategoryContacts, 0}, {base::kCategoryCalls, 0},
                        {base::kCategoryCalendar, 130}, {base::kCategoryReminders, 0},
                        {base::kCategoryNotes, 0},    {base::kCategoryVoiceMemos, 0}};
  for (const Case& c : cases) {
    backup::CFileListDB index;
    ASSERT_TRUE(index.Open(folder.string(), -1).Ok());
    std::unique_ptr<readers::ICategoryReader> reader;
    const int outcome = recovery::RunAnalysis(c.category, index, reader, nullptr);
    const auto list = reader->ResultList();
    EXPECT_GE(list.size(), c.atLeast) << c.category;
    EXPECT_EQ(outcome, list.empty() ? recovery::kAnalysisNothing : recovery::kAnalysisListed);
  }
}

}  // namespace
