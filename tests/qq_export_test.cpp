#include "chat/qq_export.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "backup/file_list_db.h"
#include "chat/qq_account.h"
#include "chat/qq_messages.h"
#include "export/recovery_run.h"
#include "platform/fs.h"
#include "platform/text_codec.h"
#include "readers/categories.h"
#include "readers/category_readers.h"
#include "testing/folder_snapshot.h"
#include "testing/sample_backup.h"

namespace {

namespace fs = std::filesystem;
using sample::BackupMode;

std::string ReadFile(const fs::path& file) {
  const auto bytes = platform::ReadWholeFile(file).value_or(std::vector<std::uint8_t>{});
  return std::string(bytes.begin(), bytes.end());
}

class DemoQqTest : public ::testing::TestWithParam<BackupMode> {
 protected:
  platform::TempFolder temp_{"velmora-qqdemo"};
};

// The demo phone's QQ and TIM accounts in every backup form: the analysis
// asks for one (a plain folder holds QQ's alone), each lists its own
// conversations with a sender for every
// message, and the recovery writes the QQ site and tables, the picture
// placeholder copied beside the page, leaving the backup as it was.
TEST_P(DemoQqTest, AccountsAreChosenAndTheirChatsWrittenAsASite) {
  const fs::path folder = temp_.Path() / "demo";
  sample::AppsDemoBackup().Write(folder, GetParam());
  const auto before = sample::SnapshotFolder(folder);
  backup::CFileListDB index;
  ASSERT_EQ(index.Open(folder.string(), -1), 1);
  std::unique_ptr<readers::CategoryReaders> holder;
  // A plain folder has no domains: TIM's files are not told from QQ's, so
  // only the QQ account is read there.
  const bool folderForm = GetParam() == BackupMode::kFolder;
  ASSERT_EQ(readers::RunAnalysis(readers::kCategoryQq, index, holder, nullptr),
            folderForm ? readers::kAnalysisListed : readers::kAnalysisChooseAccount);
  const auto accounts = readers::QqAccountsOf(*holder);
  ASSERT_EQ(accounts.size(), folderForm ? 1u : 2u);
  EXPECT_EQ(accounts[0]->isTim, 0);
  if (!folderForm) {
    EXPECT_EQ(accounts[1]->isTim, 1);
    EXPECT_EQ(accounts[1]->userName, accounts[1]->uin + "(TIM)");
  }
  for (std::size_t chosen = 0; chosen < accounts.size(); ++chosen) {
    holder->account = chosen;
    for (const db::BaseItem* record : readers::ResultListOf(*holder)) {
      EXPECT_EQ(static_cast<const chat::DBITEM_QqFriend*>(record)->owner, accounts[chosen]);
    }
  }

  holder->account = 0;
  const auto list = readers::ResultListOf(*holder);
  ASSERT_GE(list.size(), 2u);
  std::size_t messages = 0;
  std::size_t deleted = 0;
  std::size_t pictures = 0;
  for (const db::BaseItem* record : list) {
    const auto& conversation = *static_cast<const chat::DBITEM_QqFriend*>(record);
    ASSERT_FALSE(conversation.items.empty());
    std::int32_t conversationDeleted = 0;
    for (const db::BaseItem* item : conversation.items) {
      const auto& message = *static_cast<const chat::DBITEM_QqChat*>(item);
      EXPECT_NE(message.sender, nullptr) << conversation.userName << ": " << message.content;
      ++messages;
      conversationDeleted += message.deleted;
      pictures += message.msgType == chat::kQqMsgPicture ? 1 : 0;
    }
    EXPECT_EQ(conversation.deletedCount, conversationDeleted) << conversation.userName;
    deleted += static_cast<std::size_t>(conversationDeleted);
  }
  EXPECT_GT(deleted, 0u);
  EXPECT_GT(pictures, 0u);

  for (db::BaseItem* record : list) record->checked = 1;
  const fs::path written = exporting::RunRecovery(*holder, list, temp_.Path() / "out", "Lin's iPhone", nullptr);
  ASSERT_FALSE(written.empty());
  EXPECT_EQ(written.filename(), "QQ聊天记录");
  const std::string table = platform::Gb18030ToUtf8(ReadFile(written / "表格格式" / "QQ聊天记录.csv"));
  EXPECT_EQ(table.rfind(chat::kQqChatsCsvHeader, 0), 0u);
  const fs::path site = written / "网页格式" / exporting::SafeFileStem(accounts[0]->DisplayName());
  EXPECT_TRUE(fs::exists(site / "全部QQ聊天记录.html"));
  EXPECT_TRUE(fs::exists(site / "assets" / "navigation.html"));
  std::size_t pages = 0;
  std::size_t placeholders = 0;
  for (const auto& entry : fs::recursive_directory_iterator(site)) {
    const std::string name = entry.path().filename().string();
    pages += name.ends_with("的QQ聊天记录.html") ? 1 : 0;
    placeholders += name == "movietype.png" ? 1 : 0;
  }
  EXPECT_EQ(pages, list.size());
  EXPECT_GT(placeholders, 0u);
  EXPECT_EQ(sample::SnapshotFolder(folder), before);
}

std::string FormName(const ::testing::TestParamInfo<BackupMode>& form) {
  switch (form.param) {
    case BackupMode::kManifestDb: return "ManifestDb";
    case BackupMode::kManifestMbdb: return "ManifestMbdb";
    case BackupMode::kFolder: return "Folder";
  }
  return "Unknown";
}

INSTANTIATE_TEST_SUITE_P(Forms, DemoQqTest,
                         ::testing::Values(BackupMode::kManifestDb, BackupMode::kManifestMbdb, BackupMode::kFolder),
                         FormName);

}  // namespace
