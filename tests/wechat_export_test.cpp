#include "chat/wechat_export.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "backup/file_list_db.h"
#include "chat/wechat_account.h"
#include "chat/wechat_contacts.h"
#include "platform/fs.h"
#include "readers/attachment_db.h"
#include "readers/categories.h"
#include "readers/category_readers.h"
#include "testing/sample_backup.h"
#include "testing/sample_wechat.h"

namespace {

namespace fs = std::filesystem;
using sample::BackupMode;

// A second account on the same phone: its own folder, contacts and files.
sample::WxSettings SecondSettings() {
  sample::WxSettings settings;
  settings.userName = "wxid_velmora02";
  settings.displayName = "陈晨";
  settings.weChatId = "chen_chen";
  settings.avatarSmall = "http://wx.qlogo.cn/mmhead/ver_1/velmora02/132";
  settings.avatarLarge = "http://wx.qlogo.cn/mmhead/ver_1/velmora02/0";
  return settings;
}

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
    ASSERT_EQ(index_.Open(temp_.Path().string(), -1), 1);
  }
  int Analyse(int category) { return readers::RunAnalysis(category, index_, holder_, nullptr); }

  platform::TempFolder temp_{"velmora-wxexport"};
  backup::CFileListDB index_;
  std::unique_ptr<readers::CategoryReaders> holder_;
};

// Several accounts: the analysis asks for a choice; each choice lists that
// account's own records and nothing of the other's.
TEST_P(TwoAccountsTest, EachCategoryAsksForAnAccountAndListsTheChosenOne) {
  for (int category : {readers::kCategoryWeChatContacts, readers::kCategoryWeChat}) {
    SCOPED_TRACE(category);
    EXPECT_EQ(Analyse(category), readers::kAnalysisChooseAccount);
    const auto accounts = readers::WxAccountsOf(*holder_);
    ASSERT_EQ(accounts.size(), 2u);
    EXPECT_EQ(accounts[0]->userName, "wxid_velmora01");
    EXPECT_EQ(accounts[1]->alias, "chen_chen");
    for (std::size_t chosen : {0u, 1u}) {
      holder_->account = chosen;
      const auto list = readers::ResultListOf(*holder_);
      if (category == readers::kCategoryWeChat) continue;  // these accounts hold no messages
      ASSERT_FALSE(list.empty());
      for (const db::BaseItem* record : list) {
        EXPECT_EQ(static_cast<const chat::DBITEM_WxFriend*>(record)->owner, accounts[chosen]);
      }
    }
  }

  EXPECT_EQ(Analyse(readers::kCategoryWeChatAttachments), readers::kAnalysisChooseAccount);
  ASSERT_TRUE(holder_->attachments);
  ASSERT_EQ(holder_->attachments->accountReaders.size(), 2u);
  const auto accounts = readers::WxAccountsOf(*holder_);
  ASSERT_EQ(accounts.size(), 2u);
  for (std::size_t chosen : {0u, 1u}) {
    EXPECT_EQ(accounts[chosen]->attachmentReader, holder_->attachments->accountReaders[chosen].get());
    holder_->account = chosen;
    const auto tops = readers::ResultListOf(*holder_);
    ASSERT_EQ(tops.size(), 5u);  // 全部文件, 图片, 视频, 语音, 其他
    const auto& all = *static_cast<const readers::DBITEM_AttachmentFriend*>(tops[0]);
    EXPECT_EQ(all.fileCount, 1);
    const auto& files = holder_->attachments->accountReaders[chosen]->Attachments();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0]->fileName, accounts[chosen]->alias + ".jpg");
  }
  // A choice past the accounts lists nothing rather than another account.
  holder_->account = 2;
  EXPECT_TRUE(readers::ResultListOf(*holder_).empty());
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
  ASSERT_EQ(index.Open(temp.Path().string(), -1), 1);
  std::unique_ptr<readers::CategoryReaders> holder;
  for (int category : {readers::kCategoryWeChatContacts, readers::kCategoryWeChat,
                       readers::kCategoryWeChatAttachments}) {
    EXPECT_EQ(readers::RunAnalysis(category, index, holder, nullptr), readers::kAnalysisNothing) << category;
    EXPECT_TRUE(readers::WxAccountsOf(*holder).empty());
    EXPECT_TRUE(readers::ResultListOf(*holder).empty());
  }
}

}  // namespace
