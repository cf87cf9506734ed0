#include "chat/qq_export.h"
#include "chat/wechat_export.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "backup/file_list_db.h"
#include "chat/qq_account.h"
#include "chat/qq_messages.h"
#include "chat/wechat_account.h"
#include "chat/wechat_contacts.h"
#include "chat/wechat_messages.h"
#include "base/categories.h"
#include "platform/fs.h"
#include "platform/text_codec.h"
#include "readers/attachment_db.h"
#include "recovery/analysis.h"
#include "recovery/recovery_run.h"
#include "testing/folder_snapshot.h"
#include "testing/sample_backup.h"
#include "testing/sample_wechat.h"
#include "testing/sample_wechat_split.h"

namespace {

namespace fs = std::filesystem;
using sample::BackupMode;

// A second account on the same phone: its own folder, contacts and files.
sample::WxSettings SecondSettings() { return sample::WxSplitSettings(); }

// Two accounts, each with one picture in its own folder.
sample::SampleBackupBuilder TwoAccounts() {
  sample::SampleBackupBuilder builder;
  sample::AddWeChatAccount(builder, sample::WxSampleSettings(),
                           sample::WxSampleContactsSql(sample::WxFriendShape::kNameFirst));
  sample::AddWeChatAccount(builder, SecondSettings(), sample::WxSampleContactsSql(sample::WxFriendShape::kNameLast));
  for (const auto& settings : {sample::WxSampleSettings(), SecondSettings()}) {
    const std::string folder = "Documents/" + sample::WxUserMd5(settings.userName);
    builder.AddFile(sample::kWxDomain, folder + "/Img/" + settings.weChatId + ".jpg", {0xFF, 0xD8, 0xFF, 0xD9});
  }
  return builder;
}

class TwoAccountsTest : public ::testing::TestWithParam<BackupMode> {
 protected:
  void SetUp() override {
    TwoAccounts().Write(temp_.Path(), GetParam());
    ASSERT_TRUE(index_.Open(temp_.Path().string(), -1).Ok());
  }
  int Analyse(int category) { return recovery::RunAnalysis(category, index_, reader_, nullptr); }

  platform::TempFolder temp_{"velmora-wxexport"};
  backup::CFileListDB index_;
  std::unique_ptr<readers::ICategoryReader> reader_;
};

// Several accounts: the analysis asks for a choice; each choice lists that
// account's own records and nothing of the other's.
TEST_P(TwoAccountsTest, EachCategoryAsksForAnAccountAndListsTheChosenOne) {
  for (int category : {base::kCategoryWeChatContacts, base::kCategoryWeChat}) {
    SCOPED_TRACE(category);
    EXPECT_EQ(Analyse(category), recovery::kAnalysisChooseAccount);
    const auto accounts = reader_->Accounts();
    ASSERT_EQ(accounts.size(), 2u);
    EXPECT_EQ(accounts[0].userName, "wxid_velmora01");
    EXPECT_EQ(accounts[1].id, "chen_chen");
    for (std::size_t chosen : {0u, 1u}) {
      reader_->ChooseAccount(chosen);
      const auto list = reader_->ResultList();
      if (category == base::kCategoryWeChat) continue;  // these accounts hold no messages
      ASSERT_FALSE(list.empty());
      for (const db::BaseItem* record : list) {
        EXPECT_EQ(static_cast<const chat::DBITEM_WxFriend*>(record)->owner->userName, accounts[chosen].userName);
      }
    }
  }

  EXPECT_EQ(Analyse(base::kCategoryWeChatAttachments), recovery::kAnalysisChooseAccount);
  const auto accounts = reader_->Accounts();
  ASSERT_EQ(accounts.size(), 2u);
  for (std::size_t chosen : {0u, 1u}) {
    reader_->ChooseAccount(chosen);
    const auto tops = reader_->ResultList();
    ASSERT_EQ(tops.size(), 5u);  // 全部文件, 图片, 视频, 语音, 其他
    const auto& all = *static_cast<const readers::DBITEM_AttachmentFriend*>(tops[0]);
    EXPECT_EQ(all.fileCount, 1);
    // Each account's files are its own: the one picture named after it.
    ASSERT_EQ(all.items.size(), 1u);
    const auto& files = static_cast<const db::FriendItem*>(all.items[0])->subLists[0];
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(static_cast<const readers::DBITEM_Attachment*>(files[0])->fileName, accounts[chosen].id + ".jpg");
  }
  // A choice past the accounts lists nothing rather than another account.
  reader_->ChooseAccount(2);
  EXPECT_TRUE(reader_->ResultList().empty());
}

std::string FormName(const ::testing::TestParamInfo<BackupMode>& form) {
  switch (form.param) {
    case BackupMode::kManifestDb: return "ManifestDb";
    case BackupMode::kManifestMbdb: return "ManifestMbdb";
    case BackupMode::kFolder: return "Folder";
  }
  return "Unknown";
}

INSTANTIATE_TEST_SUITE_P(Forms, TwoAccountsTest,
                         ::testing::Values(BackupMode::kManifestDb, BackupMode::kManifestMbdb, BackupMode::kFolder),
                         FormName);

TEST(WeChatAnalysis, NoAccountListsNothing) {
  platform::TempFolder temp{"velmora-wxnone"};
  sample::SampleBackupBuilder builder;
  builder.AddFile("HomeDomain", "Library/Preferences/x.plist", {'x'});
  builder.Write(temp.Path(), BackupMode::kManifestDb);
  backup::CFileListDB index;
  ASSERT_TRUE(index.Open(temp.Path().string(), -1).Ok());
  std::unique_ptr<readers::ICategoryReader> reader;
  for (int category : {base::kCategoryWeChatContacts, base::kCategoryWeChat,
                       base::kCategoryWeChatAttachments}) {
    EXPECT_EQ(recovery::RunAnalysis(category, index, reader, nullptr), recovery::kAnalysisNothing) << category;
    EXPECT_TRUE(reader->Accounts().empty());
    EXPECT_TRUE(reader->ResultList().empty());
  }
}

std::string ReadFile(const fs::path& file) {
  const auto bytes = platform::ReadWholeFile(file).value_or(std::vector<std::uint8_t>{});
  return std::string(bytes.begin(), bytes.end());
}

std::size_t CountFiles(const fs::path& folder, const std::string& name) {
  std::size_t count = 0;
  if (!fs::is_directory(folder)) return 0;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    count += entry.is_regular_file() && (name.empty() || entry.path().filename() == name) ? 1 : 0;
  }
  return count;
}

// The demo account's chats in every backup form: conversations with live
// and deleted messages, every message with a sender, and a recovery that
// writes one page and one table per conversation and copies its pictures,
// leaving the backup as it was.
// The demo backup in one form, opened; the test checks at its end that the
// backup is as it was.
class DemoBackupTest : public ::testing::TestWithParam<BackupMode> {
 protected:
  void SetUp() override {
    sample::AppsDemoBackup().Write(folder_, GetParam());
    before_ = sample::SnapshotFolder(folder_);
    ASSERT_TRUE(index_.Open(folder_.string(), -1).Ok());
  }
  void TearDown() override { EXPECT_EQ(sample::SnapshotFolder(folder_), before_); }

  platform::TempFolder temp_{"velmora-chatdemo"};
  fs::path folder_ = temp_.Path() / "demo";
  sample::FolderSnapshot before_;
  backup::CFileListDB index_;
  std::unique_ptr<readers::ICategoryReader> reader_;
};

TEST_P(DemoBackupTest, WeChatChatsAreListedAndWrittenAsASite) {
  // Two accounts: the older layout (MM.sqlite) and the current one
  // (message_<n>.sqlite).
  ASSERT_EQ(recovery::RunAnalysis(base::kCategoryWeChat, index_, reader_, nullptr), recovery::kAnalysisChooseAccount);
  const auto accounts = reader_->Accounts();
  ASSERT_EQ(accounts.size(), 2u);
  for (std::size_t chosen = 0; chosen < accounts.size(); ++chosen) {
    SCOPED_TRACE(accounts[chosen].userName);
    reader_->ChooseAccount(chosen);
    const auto list = reader_->ResultList();
    ASSERT_GE(list.size(), 2u);
    std::size_t messages = 0;
    std::size_t deleted = 0;
    std::size_t pictures = 0;
    bool room = false;
    for (const db::BaseItem* record : list) {
      const auto& conversation = *static_cast<const chat::DBITEM_WxFriend*>(record);
      room = room || conversation.kind == chat::kWxKindChatRoom;
      ASSERT_FALSE(conversation.items.empty()) << conversation.userName;
      std::int32_t conversationDeleted = 0;
      for (const db::BaseItem* item : conversation.items) {
        const auto& message = *static_cast<const chat::DBITEM_WxChat*>(item);
        EXPECT_NE(message.sender, nullptr) << conversation.userName << ": " << message.ShownText();
        ++messages;
        conversationDeleted += message.deleted;
        const bool stored = !message.mediaPath.empty() && message.mediaPath.rfind("http", 0) != 0;
        const bool media = message.msgType == chat::kWxMsgPicture || message.msgType == chat::kWxMsgVideo;
        pictures += media && stored ? 1 : 0;
      }
      EXPECT_EQ(conversation.deletedCount, conversationDeleted) << conversation.userName;
      deleted += static_cast<std::size_t>(conversationDeleted);
    }
    EXPECT_TRUE(room);
    EXPECT_GT(deleted, 0u);
    if (chosen == 0) {
      EXPECT_GT(pictures, 0u);  // the second account's chats are texts
    }

    for (db::BaseItem* record : list) record->checked = 1;
    fs::path written;
    const fs::path out = temp_.Path() / ("out" + std::to_string(chosen));
    ASSERT_TRUE(recovery::RunRecovery(*reader_, list, out, "Lin's iPhone", nullptr, written).Ok());
    EXPECT_EQ(written.filename(), "微信聊天记录");
    const std::string table = platform::Gb18030ToUtf8(ReadFile(written / "表格格式" / "微信聊天记录.csv"));
    EXPECT_EQ(table.rfind(chat::kWxChatsCsvHeader, 0), 0u);
    EXPECT_EQ(static_cast<std::size_t>(std::count(table.begin(), table.end(), '\n')), messages + 1);
    const fs::path site = written / "网页格式" / accounts[chosen].displayName;
    EXPECT_TRUE(fs::exists(site / "全部微信聊天记录.html"));
    EXPECT_TRUE(fs::exists(site / "assets" / "navigation.html"));
    EXPECT_TRUE(fs::exists(site / "assets" / "js" / "page.js"));
    const std::string navigation = ReadFile(site / "assets" / "navigation.html");
    EXPECT_GT(static_cast<std::size_t>(std::count(navigation.begin(), navigation.end(), '\n')), list.size());
    std::size_t pages = 0;
    for (const auto& entry : fs::directory_iterator(site)) {
      if (entry.is_directory() && entry.path().filename() != "assets") {
        pages += CountFiles(entry.path(), entry.path().filename().string() + "的微信聊天记录.html");
      }
    }
    EXPECT_EQ(pages, list.size());
    EXPECT_EQ(CountFiles(written / "表格格式" / accounts[chosen].displayName, ""), list.size());
    std::size_t copied = 0;
    for (const auto& entry : fs::recursive_directory_iterator(site)) {
      copied += entry.is_regular_file() && entry.path().parent_path().filename() == "微信附件" ? 1 : 0;
    }
    EXPECT_EQ(copied, pictures);
  }
}

// The demo phone's QQ and TIM accounts in every backup form: the analysis
// asks for one (a plain folder holds QQ's alone), each lists its own
// conversations with a sender for every message, and the recovery writes
// the QQ site and tables, the picture placeholder copied beside the page.
TEST_P(DemoBackupTest, QqAccountsAreChosenAndTheirChatsWrittenAsASite) {
  // A plain folder has no domains: TIM's files are not told from QQ's, so
  // only the QQ account is read there.
  const bool folderForm = GetParam() == BackupMode::kFolder;
  // The current QQ build's account comes last, its chats encrypted.
  ASSERT_EQ(recovery::RunAnalysis(base::kCategoryQq, index_, reader_, nullptr), recovery::kAnalysisChooseAccount);
  const auto accounts = reader_->Accounts();
  ASSERT_EQ(accounts.size(), folderForm ? 2u : 3u);
  EXPECT_FALSE(accounts[0].userName.ends_with("(TIM)"));
  if (!folderForm) {
    EXPECT_EQ(accounts[1].userName, accounts[1].id + "(TIM)");
  }
  for (std::size_t i = 0; i < accounts.size(); ++i) EXPECT_EQ(accounts[i].chatsEncrypted, i + 1 == accounts.size());
  for (std::size_t chosen = 0; chosen < accounts.size(); ++chosen) {
    reader_->ChooseAccount(chosen);
    for (const db::BaseItem* record : reader_->ResultList()) {
      EXPECT_EQ(static_cast<const chat::DBITEM_QqFriend*>(record)->owner->userName, accounts[chosen].userName);
    }
  }

  reader_->ChooseAccount(0);
  const auto list = reader_->ResultList();
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
  fs::path written;
  ASSERT_TRUE(recovery::RunRecovery(*reader_, list, temp_.Path() / "out", "Lin's iPhone", nullptr, written).Ok());
  EXPECT_EQ(written.filename(), "QQ聊天记录");
  const std::string table = platform::Gb18030ToUtf8(ReadFile(written / "表格格式" / "QQ聊天记录.csv"));
  EXPECT_EQ(table.rfind(chat::kQqChatsCsvHeader, 0), 0u);
  const fs::path site = written / "网页格式" / exporting::SafeFileStem(accounts[0].displayName);
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
}

INSTANTIATE_TEST_SUITE_P(Forms, DemoBackupTest,
                         ::testing::Values(BackupMode::kManifestDb, BackupMode::kManifestMbdb, BackupMode::kFolder),
                         FormName);

}  // namespace
