// The chat data package: a 7z archive of the WeChat or QQ files of every
// catalogued backup, read back with libarchive.
#include "recovery/chat_package.h"

#include <gtest/gtest.h>

#include <archive.h>
#include <archive_entry.h>

#include <fstream>
#include <map>
#include <set>

#include "platform/fs.h"
#include "testing/folder_snapshot.h"
#include "testing/sample_backup.h"

namespace {

namespace fs = std::filesystem;

// Every file entry of an archive with its bytes; folders map to "/".
std::map<std::string, std::string> ReadArchive(const fs::path& path) {
  std::map<std::string, std::string> entries;
  archive* reader = archive_read_new();
  archive_read_support_format_7zip(reader);
  archive_read_support_filter_all(reader);
  if (archive_read_open_filename(reader, path.c_str(), 1 << 14) != ARCHIVE_OK) {
    archive_read_free(reader);
    return entries;
  }
  archive_entry* entry = nullptr;
  while (archive_read_next_header(reader, &entry) == ARCHIVE_OK) {
    std::string name = archive_entry_pathname(entry);
    if (archive_entry_filetype(entry) == AE_IFDIR) {
      if (!name.empty() && name.back() == '/') name.pop_back();
      entries[name] = "/";
      continue;
    }
    std::string bytes;
    char buffer[4096];
    la_ssize_t n = 0;
    while ((n = archive_read_data(reader, buffer, sizeof buffer)) > 0) bytes.append(buffer, static_cast<std::size_t>(n));
    entries[name] = bytes;
  }
  archive_read_free(reader);
  return entries;
}

// The progress values as a window would show them.
class Progress : public exporting::IExportProgress {
 public:
  void SetProgress(float percent) override { values.push_back(percent); }
  void AddProgress(float delta) override { values.push_back(values.empty() ? delta : values.back() + delta); }
  std::vector<float> values;
};

std::set<std::string> Names(const std::map<std::string, std::string>& entries) {
  std::set<std::string> names;
  for (const auto& [name, bytes] : entries) names.insert(name);
  return names;
}

class ChatPackageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sample::SampleBackupBuilder first;
    first.AddText("AppDomain-com.tencent.xin", "Documents/MM.sqlite", "wechat one");
    // Current builds keep the chats in message_<n>.sqlite, each with its log.
    first.AddText("AppDomain-com.tencent.xin", "Documents/0123/DB/message_1.sqlite", "wechat message_1");
    first.AddText("AppDomain-com.tencent.xin", "Documents/0123/DB/message_1.sqlite-wal", "wechat message_1 log");
    first.AddText("AppDomain-com.tencent.mqq", "Documents/QQ.db", "qq one");
    first.AddText("HomeDomain", "Library/SMS/sms.db", "not packed");
    first.Write(root_ / "b1", sample::BackupMode::kManifestDb);

    sample::SampleBackupBuilder second = first;
    second.Write(root_ / "b2", sample::BackupMode::kManifestDb);
    // A manifest that is no database: the backup cannot be opened.
    std::ofstream(root_ / "b2" / "Manifest.db", std::ios::binary | std::ios::trunc) << "not a database at all";

    sample::SampleBackupBuilder third;
    third.AddText("AppDomain-com.tencent.xin", "Documents/MM.sqlite", "wechat three");
    third.AddText("AppDomain-com.tencent.tim", "Documents/tim.db", "tim three");
    third.Write(root_ / "b3", sample::BackupMode::kManifestMbdb);
    backups_ = {root_ / "b1", root_ / "b2", root_ / "b3"};
  }

  platform::TempFolder temp_{"package-test"};
  fs::path root_ = temp_.Path() / "backups";
  fs::path out_ = temp_.Path() / "out";
  std::vector<fs::path> backups_;
};

TEST_F(ChatPackageTest, NamesAndDomains) {
  EXPECT_EQ(recovery::ChatPackageFileName(recovery::ChatPackageApp::kWeChat), "wx.7z");
  EXPECT_EQ(recovery::ChatPackageFileName(recovery::ChatPackageApp::kQQ), "QQ.7z");
  EXPECT_EQ(recovery::ChatPackageDomains(recovery::ChatPackageApp::kWeChat),
            (std::vector<std::string>{"AppDomain-com.tencent.xin"}));
  EXPECT_EQ(recovery::ChatPackageDomains(recovery::ChatPackageApp::kQQ),
            (std::vector<std::string>{"AppDomain-com.tencent.mqq", "AppDomain-com.tencent.tim"}));
}

TEST_F(ChatPackageTest, ABackupWithABrokenManifestKeepsItsNumberButGetsNoFolder) {
  struct Case {
    const char* label;
    recovery::ChatPackageApp app;
    std::string first;  // the content expected in bak01
    std::string third;  // and in bak03
    std::vector<std::string> firstMore;  // further contents of bak01
  };
  const Case cases[] = {
      {"wechat", recovery::ChatPackageApp::kWeChat, "wechat one", "wechat three", {"wechat message_1", "wechat message_1 log"}},
      {"qq", recovery::ChatPackageApp::kQQ, "qq one", "tim three", {}},
  };
  const auto before = sample::SnapshotFolder(root_);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    fs::create_directories(out_);
    const fs::path archive = out_ / recovery::ChatPackageFileName(c.app);
    Progress progress;
    const auto result = recovery::RunChatPackage(c.app, backups_, archive, &progress);
    ASSERT_TRUE(result.written) << result.error;
    EXPECT_EQ(result.backupsPacked, 2);
    EXPECT_EQ(result.filesSkipped, 0);

    const auto entries = ReadArchive(archive);
    const auto names = Names(entries);
    EXPECT_TRUE(names.count("backup/bak01/Manifest.db"));
    EXPECT_TRUE(names.count("backup/bak03/Manifest.mbdb"));
    for (const auto& name : names) {
      EXPECT_EQ(name.rfind("backup/bak02", 0), std::string::npos) << name;
      EXPECT_EQ(name.find("sms"), std::string::npos) << name;
    }
    std::multiset<std::string> contents;
    for (const auto& [name, bytes] : entries) {
      if (name.find("Manifest") == std::string::npos && bytes != "/") contents.insert(name.substr(0, 12) + ":" + bytes);
    }
    std::multiset<std::string> expected{"backup/bak01:" + c.first, "backup/bak03:" + c.third};
    for (const std::string& more : c.firstMore) expected.insert("backup/bak01:" + more);
    EXPECT_EQ(contents, expected);
    // The stored files keep their place: bak01/<xx>/<40 hex digits>.
    for (const auto& [name, bytes] : entries) {
      if (bytes == c.first) {
        EXPECT_TRUE(fs::exists(root_ / "b1" / name.substr(13))) << name;
      }
    }
    // The manifest copy is the backup's own.
    EXPECT_EQ(entries.at("backup/bak01/Manifest.db").size(), fs::file_size(root_ / "b1" / "Manifest.db"));
    ASSERT_FALSE(progress.values.empty());
    EXPECT_EQ(progress.values.front(), 2.0f);
    EXPECT_EQ(progress.values.back(), 100.0f);
    for (std::size_t i = 1; i < progress.values.size(); ++i) EXPECT_GE(progress.values[i], progress.values[i - 1]);
    EXPECT_LE(progress.values[progress.values.size() - 2], 90.0f);
  }
  EXPECT_EQ(sample::SnapshotFolder(root_), before);
  // Nothing but the two archives is left in the folder.
  std::set<std::string> left;
  for (const auto& entry : fs::directory_iterator(out_)) left.insert(entry.path().filename().string());
  EXPECT_EQ(left, (std::set<std::string>{"QQ.7z", "wx.7z"}));
}

TEST_F(ChatPackageTest, ASecondPackageReplacesTheFirst) {
  fs::create_directories(out_);
  const fs::path archive = out_ / "wx.7z";
  std::ofstream(archive, std::ios::binary) << "an older archive";
  ASSERT_TRUE(recovery::RunChatPackage(recovery::ChatPackageApp::kWeChat, {backups_[0]}, archive, nullptr).written);
  const auto names = Names(ReadArchive(archive));
  EXPECT_TRUE(names.count("backup/bak01/Manifest.db"));
  EXPECT_FALSE(names.count("backup/bak02"));
}

TEST_F(ChatPackageTest, AFailedPackageLeavesTheOlderArchiveAndSaysSo) {
  // The target folder does not exist: nothing can be written there.
  const fs::path archive = out_ / "missing" / "wx.7z";
  const auto result = recovery::RunChatPackage(recovery::ChatPackageApp::kWeChat, backups_, archive, nullptr);
  EXPECT_FALSE(result.written);
  EXPECT_FALSE(result.error.empty());
  EXPECT_FALSE(fs::exists(archive));
}

TEST_F(ChatPackageTest, RefusesToWriteInsideABackup) {
  const auto before = sample::SnapshotFolder(root_);
  const auto result =
      recovery::RunChatPackage(recovery::ChatPackageApp::kQQ, backups_, root_ / "b3" / "QQ.7z", nullptr);
  EXPECT_FALSE(result.written);
  EXPECT_EQ(sample::SnapshotFolder(root_), before);
}

TEST_F(ChatPackageTest, NoBackupsGiveAnArchiveWithAnEmptyBackupFolder) {
  fs::create_directories(out_);
  const auto result = recovery::RunChatPackage(recovery::ChatPackageApp::kQQ, {}, out_ / "QQ.7z", nullptr);
  ASSERT_TRUE(result.written) << result.error;
  EXPECT_EQ(Names(ReadArchive(out_ / "QQ.7z")), (std::set<std::string>{"backup"}));
}

}  // namespace
