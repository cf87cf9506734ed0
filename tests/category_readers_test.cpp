#include "readers/category_readers.h"

#include <gtest/gtest.h>

#include <fstream>

#include "backup/file_list_db.h"
#include "export/recovery_run.h"
#include "platform/fs.h"
#include "platform/message_target.h"
#include "platform/text_codec.h"
#include "readers/categories.h"
#include "readers/message_db.h"
#include "readers/record_filter.h"
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
  for (const Case& c : cases) EXPECT_EQ(readers::ParseCategory(c.text), c.expected) << c.text;
  EXPECT_TRUE(readers::IsCategoryBuilt(readers::kCategorySafari));
  EXPECT_FALSE(readers::IsCategoryBuilt(readers::kCategoryNotes));
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
    for (int category : {readers::kCategoryCalls, readers::kCategoryContacts, readers::kCategoryMessages,
                         readers::kCategorySafari}) {
      backup::CFileListDB index;
      ASSERT_EQ(index.Open(folder.string(), -1), 1);
      std::unique_ptr<readers::CategoryReaders> holder;
      DoneTarget target;
      EXPECT_EQ(readers::RunAnalysis(category, index, holder, &target), readers::kAnalysisListed)
          << category << " in mode " << static_cast<int>(mode);
      EXPECT_EQ(target.outcomes, std::vector<int>{readers::kAnalysisListed});
      const auto list = readers::ResultListOf(*holder);
      ASSERT_FALSE(list.empty());
      const bool anyDeleted = std::any_of(list.begin(), list.end(), [](auto* r) { return r->deleted != 0; });
      // Folder backups have no History.db path: their Safari list is bookmarks alone.
      if (!(mode == BackupMode::kFolder && category == readers::kCategorySafari)) {
        EXPECT_TRUE(anyDeleted) << category << " in mode " << static_cast<int>(mode);
      }
    }
    EXPECT_EQ(sample::SnapshotFolder(folder), before);
  }
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
  ASSERT_EQ(index.Open(folder.string(), -1), 1);
  std::unique_ptr<readers::CategoryReaders> holder;
  EXPECT_EQ(readers::RunAnalysis(readers::kCategoryContacts, index, holder, nullptr), readers::kAnalysisNothing);
  EXPECT_EQ(holder->contacts, nullptr);

  EXPECT_EQ(readers::RunAnalysis(readers::kCategoryMessages, index, holder, nullptr), readers::kAnalysisListed);
  for (db::BaseItem* record : readers::ResultListOf(*holder)) {
    const auto* conversation = dynamic_cast<readers::DBITEM_MsgFriend*>(record);
    ASSERT_NE(conversation, nullptr);
    // No contacts: every conversation is named by its address (or the
    // unknown-number name of a conversation rebuilt without one).
    if (!conversation->address.empty()) {
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
  EXPECT_EQ(exporting::RecoveryLabel(folder.string()), "Lin's iPhone");
  EXPECT_EQ(exporting::RecoveryLabel((temp_.Path() / "plain").string()), "指定目录_plain");

  backup::CFileListDB index;
  ASSERT_EQ(index.Open(folder.string(), -1), 1);
  std::unique_ptr<readers::CategoryReaders> holder;
  readers::RunAnalysis(readers::kCategoryMessages, index, holder, nullptr);
  const auto deleted = readers::FilterRecords(readers::ResultListOf(*holder), 1, "");
  ASSERT_FALSE(deleted.empty());
  const fs::path written = exporting::RunRecovery(*holder, deleted, temp_.Path() / "out", "Lin's iPhone", nullptr);
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
  };
  for (const auto& [from, to] : files) {
    fs::create_directories((folder / to).parent_path());
    fs::copy_file(real / from, folder / to);
  }
  struct Case {
    int category;
    std::size_t atLeast;  // what the files hold
  };
  // The iOS 7 phone's messages (one conversation), its twelve bookmark rows;
  // its address book holds no person and its calls are in an older table.
  const Case cases[] = {{readers::kCategoryMessages, 1},
                        {readers::kCategorySafari, 12},
                        {readers::kCategoryContacts, 0},
                        {readers::kCategoryCalls, 0}};
  for (const Case& c : cases) {
    backup::CFileListDB index;
    ASSERT_EQ(index.Open(folder.string(), -1), 1);
    std::unique_ptr<readers::CategoryReaders> holder;
    const int outcome = readers::RunAnalysis(c.category, index, holder, nullptr);
    const auto list = readers::ResultListOf(*holder);
    EXPECT_GE(list.size(), c.atLeast) << c.category;
    EXPECT_EQ(outcome, list.empty() ? readers::kAnalysisNothing : readers::kAnalysisListed);
  }
}

}  // namespace
