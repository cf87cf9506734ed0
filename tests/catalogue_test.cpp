// The backup catalogue: roots, Info.plist summaries, model names, sizes.
// CTest runs this with TZ=CST-8, so local time is UTC+8.
#include "backup/catalogue.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <fstream>
#include <mutex>
#include <set>

#include "platform/fs.h"
#include "testing/folder_snapshot.h"
#include "testing/sample_backup.h"

namespace {

namespace fs = std::filesystem;

void WriteText(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

// A small backup: a Manifest.db with one file and the device's Info.plist.
void WriteBackup(const fs::path& folder, const sample::DeviceInfo& device,
                 sample::BackupMode mode = sample::BackupMode::kManifestDb) {
  sample::SampleBackupBuilder builder;
  builder.SetDevice(device);
  builder.AddText("HomeDomain", "Library/Preferences/a.plist", "abc");
  builder.Write(folder, mode);
}

class CatalogueTest : public ::testing::Test {
 protected:
  fs::path Devconf(const std::string& devices) {
    const fs::path path = temp_.Path() / "devconf.xml";
    WriteText(path, "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<devices>\n" + devices + "</devices>\n");
    return path;
  }

  platform::TempFolder temp_{"catalogue-test"};
};

TEST_F(CatalogueTest, ListsEachBackupOfEachRootAndSkipsFoldersWithoutInfoPlist) {
  const fs::path rootA = temp_.Path() / "a";
  const fs::path rootB = temp_.Path() / "b";
  sample::DeviceInfo first;
  first.deviceName = "First";
  WriteBackup(rootA / "one", first);
  fs::create_directories(rootA / "empty");  // no Info.plist: no entry
  WriteText(rootA / "notes.txt", "a file is no backup");
  sample::DeviceInfo second;
  second.deviceName = "Second";
  WriteBackup(rootB / "two", second, sample::BackupMode::kManifestMbdb);

  backup::CModelNames models;
  backup::CBackupCatalogue catalogue;
  EXPECT_EQ(catalogue.Build({rootA, temp_.Path() / "missing", rootB}, models, false), 2u);
  EXPECT_TRUE(catalogue.IsBuilt());
  const auto entries = catalogue.Entries();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].deviceName, "First");
  EXPECT_EQ(entries[0].folder, (rootA / "one").string());
  EXPECT_EQ(entries[0].index, 0);
  EXPECT_EQ(entries[1].deviceName, "Second");
  EXPECT_EQ(entries[1].index, 1);
  EXPECT_EQ(entries[1].systemVersion, "14.3");
  EXPECT_TRUE(entries[0].sizeText.empty());  // sizes not asked for

  // Built once: a second build changes nothing.
  EXPECT_EQ(catalogue.Build({rootB}, models, false), 2u);
  EXPECT_EQ(catalogue.Entries()[0].deviceName, "First");
}

TEST_F(CatalogueTest, TheSameRootTwiceIsSearchedOnce) {
  const fs::path appBackup = temp_.Path() / "app" / "backup";
  WriteBackup(appBackup / "x", sample::DeviceInfo{});
  backup::CModelNames models;
  backup::CBackupCatalogue catalogue;
  // The configured folder is the program's own backup folder, written two
  // ways.
  catalogue.Build({appBackup, temp_.Path() / "app" / "." / "backup" / ""}, models, false);
  EXPECT_EQ(catalogue.Size(), 1u);
}

TEST_F(CatalogueTest, DefaultRootsListTheProgramsBackupFolderOnce) {
  const fs::path appBackup = temp_.Path() / "app-backup";
  const fs::path itunes = temp_.Path() / "itunes";
  ::setenv("VELMORA_APP_BACKUP_DIR", appBackup.c_str(), 1);
  ::setenv("VELMORA_BACKUP_ROOT", itunes.c_str(), 1);
  const auto configuredIsAppFolder = backup::DefaultCatalogueRoots(appBackup);
  const auto configuredElsewhere = backup::DefaultCatalogueRoots(temp_.Path() / "mine");
  const auto nothingConfigured = backup::DefaultCatalogueRoots({});
  ::unsetenv("VELMORA_APP_BACKUP_DIR");
  ::unsetenv("VELMORA_BACKUP_ROOT");
  EXPECT_EQ(configuredIsAppFolder, (std::vector<fs::path>{appBackup, itunes}));
  EXPECT_EQ(configuredElsewhere, (std::vector<fs::path>{temp_.Path() / "mine", appBackup, itunes}));
  EXPECT_EQ(nothingConfigured, (std::vector<fs::path>{appBackup, itunes}));
}

TEST_F(CatalogueTest, BackupTimeIsLocalTime) {
  sample::DeviceInfo device;
  device.lastBackupDate = 1478307200;  // 2016-11-05T00:53:20Z
  WriteBackup(temp_.Path() / "r" / "b", device);
  backup::CModelNames models;
  const auto entry = backup::ReadBackupInfo(temp_.Path() / "r" / "b", models);
  ASSERT_TRUE(entry);
  EXPECT_EQ(backup::FormatBackupTime(entry->backupTime), "2016-11-05 08:53:20");
}

TEST_F(CatalogueTest, ReadsBinaryInfoPlistAndKeepsEveryCharacterOfTheName) {
  struct Case {
    const char* label;
    const char* name;
    bool binary;
  };
  const Case cases[] = {
      {"xml, ascii", "Lin's iPhone", false},
      {"binary, chinese", "林的iPhone", true},
      // An emoji and a Korean syllable: neither is in GBK.
      {"xml, outside gbk", "\xF0\x9F\x98\x80 \xED\x95\x9C iPhone", false},
      {"binary, outside gbk", "\xF0\x9F\x98\x80 \xED\x95\x9C iPhone", true},
  };
  backup::CModelNames models;
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    sample::DeviceInfo device;
    device.deviceName = c.name;
    device.binaryInfoPlist = c.binary;
    const fs::path folder = temp_.Path() / ("b" + std::to_string(n++));
    WriteBackup(folder, device);
    const auto entry = backup::ReadBackupInfo(folder, models);
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->deviceName, c.name);
    EXPECT_EQ(entry->systemVersion, "14.3");
    EXPECT_EQ(entry->productType, "iPhone12,1");
  }
}

TEST_F(CatalogueTest, NoEntryWithoutReadableInfoPlist) {
  backup::CModelNames models;
  EXPECT_FALSE(backup::ReadBackupInfo(temp_.Path() / "missing", models));
  fs::create_directories(temp_.Path() / "empty-plist");
  WriteText(temp_.Path() / "empty-plist" / "Info.plist", "");
  EXPECT_FALSE(backup::ReadBackupInfo(temp_.Path() / "empty-plist", models));
}

TEST_F(CatalogueTest, ModelNamesMatchWholeProductTypes) {
  backup::CModelNames models;
  ASSERT_TRUE(models.Load(Devconf("  <device type=\"iPhone1,10\" name=\"Ten\"/>\n"
                                  "  <device type=\"iPhone1,1\" name=\"iPhone\"/>\n"
                                  "  <device type=\"iPad4,1\" name=\"iPad Air\"/>\n"
                                  "  <device type=\"iPad4,1\" name=\"later line\"/>\n")));
  struct Case {
    const char* type;
    const char* model;
  };
  const Case cases[] = {
      {"iPhone1,1", "iPhone"}, {"iPhone1,10", "Ten"}, {"iPad4,1", "iPad Air"},
      {"iPhone1,", "iPhone1,"}, {"iPhone99,9", "iPhone99,9"}, {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(models.ModelOf(c.type), c.model) << c.type;

  backup::CModelNames missing;
  EXPECT_FALSE(missing.Load(temp_.Path() / "none.xml"));
  EXPECT_EQ(missing.ModelOf("iPhone12,1"), "iPhone12,1");
}

TEST_F(CatalogueTest, TheProgramsDevconfNamesKnownModels) {
  backup::CModelNames models;
  ASSERT_TRUE(models.Load(backup::DefaultModelNamesPath()));
  EXPECT_EQ(models.ModelOf("iPhone12,1"), "iPhone 11");
  EXPECT_EQ(models.ModelOf("iPhone1,1"), "iPhone");
  EXPECT_EQ(models.ModelOf("iPhone16,2"), "iPhone 15 Pro Max");
  EXPECT_EQ(models.ModelOf("iPad13,18"), "iPad (10th generation)");
}

TEST_F(CatalogueTest, EntryModelComesFromTheNames) {
  backup::CModelNames models;
  ASSERT_TRUE(models.Load(Devconf("  <device type=\"iPhone12,1\" name=\"iPhone 11\"/>\n")));
  WriteBackup(temp_.Path() / "r" / "b", sample::DeviceInfo{});
  const auto entry = backup::ReadBackupInfo(temp_.Path() / "r" / "b", models);
  ASSERT_TRUE(entry);
  EXPECT_EQ(entry->model, "iPhone 11");
}

TEST(FormatByteSize, RoundsUpPerUnitUpToGigabytes) {
  struct Case {
    std::uint64_t bytes;
    const char* text;
  };
  const Case cases[] = {
      {0, "0 B"},
      {5, "5 B"},
      {1023, "1023 B"},
      {1024, "1 K"},
      {1025, "2 K"},
      {1048576, "1 M"},
      {1048577, "2 M"},
      {1073741824, "1 G"},
      {5ull << 40, "5120 G"},  // 5 TiB: no unit past G
      {UINT64_MAX, "17179869184 G"},
  };
  for (const Case& c : cases) EXPECT_EQ(backup::FormatByteSize(c.bytes), c.text) << c.bytes;
}

TEST(FolderSizeAdder, KeepsWholeSixtyFourBitSizes) {
  const std::uint64_t fiveGiB = 5ull << 30;
  EXPECT_EQ(backup::AddFileSize(0, fiveGiB), fiveGiB);  // not 1 GiB, as low 32 bits would give
  EXPECT_EQ(backup::AddFileSize(fiveGiB, 10), fiveGiB + 10);
  EXPECT_EQ(backup::AddFileSize(UINT64_MAX - 1, 5), UINT64_MAX);
}

TEST_F(CatalogueTest, FolderSizeAddsFilesBelowWithoutFollowingLinks) {
  const fs::path folder = temp_.Path() / "sized";
  WriteText(folder / "a", std::string(100, 'a'));
  WriteText(folder / "sub" / "b", std::string(23, 'b'));
  WriteText(temp_.Path() / "outside", std::string(1000, 'o'));
  std::error_code ec;
  fs::create_symlink(temp_.Path() / "outside", folder / "link-to-file", ec);
  fs::create_directory_symlink(folder, folder / "sub" / "cycle", ec);
  EXPECT_EQ(backup::FolderSize(folder), 123u);
  EXPECT_EQ(backup::FolderSize(temp_.Path() / "missing"), 0u);
}

TEST_F(CatalogueTest, FolderSizeCountsAFileOfFiveGibibytes) {
  const fs::path folder = temp_.Path() / "big";
  fs::create_directories(folder);
  { std::ofstream(folder / "sparse", std::ios::binary); }
  std::error_code ec;
  fs::resize_file(folder / "sparse", 5ull << 30, ec);  // sparse: takes no space
  if (ec) GTEST_SKIP() << "this file system cannot hold a sparse 5 GiB file: " << ec.message();
  WriteText(folder / "small", "12345");
  EXPECT_EQ(backup::FolderSize(folder), (5ull << 30) + 5);
  EXPECT_EQ(backup::FormatByteSize(backup::FolderSize(folder)), "6 G");
}

TEST_F(CatalogueTest, SizesArriveFromTheBackgroundAndNothingIsWritten) {
  const fs::path root = temp_.Path() / "root";
  WriteBackup(root / "one", sample::DeviceInfo{});
  WriteBackup(root / "two", sample::DeviceInfo{}, sample::BackupMode::kManifestMbdb);
  const auto before = sample::SnapshotFolder(root);
  std::atomic<int> calls{0};
  std::set<int> indexes;
  std::mutex indexesMutex;
  backup::CModelNames models;
  {
    backup::CBackupCatalogue catalogue;
    catalogue.Build({root}, models, true, [&](int index) {
      ++calls;
      std::lock_guard lock(indexesMutex);
      indexes.insert(index);
    });
    catalogue.WaitForSizes();
    const auto entries = catalogue.Entries();
    ASSERT_EQ(entries.size(), 2u);
    for (const auto& entry : entries) {
      ASSERT_TRUE(entry.sizeBytes);
      EXPECT_EQ(*entry.sizeBytes, backup::FolderSize(entry.folder));
      EXPECT_EQ(entry.sizeText, backup::FormatByteSize(*entry.sizeBytes));
    }
  }
  EXPECT_EQ(calls.load(), 2);
  EXPECT_EQ(indexes, (std::set<int>{0, 1}));
  EXPECT_EQ(sample::SnapshotFolder(root), before);
}

}  // namespace

namespace {

// New backups go below the writable candidate with the most free space; on
// one file system every candidate has the same, and the first one wins.
TEST(DefaultBackupFolder, TakesTheFirstWritableCandidateWithTheMostFreeSpace) {
  platform::TempFolder temp{"backup-folder"};
  const fs::path first = temp.Path() / "first";
  const fs::path second = temp.Path() / "second";
  fs::create_directories(first);
  fs::create_directories(second);
  EXPECT_EQ(backup::DefaultBackupFolder({temp.Path() / "missing", first, second}), first / "IphoneBackups");
  EXPECT_EQ(backup::DefaultBackupFolder({}), fs::path());
  EXPECT_EQ(backup::DefaultBackupFolder({temp.Path() / "missing"}), fs::path());
  if (::geteuid() != 0) {  // the superuser may write anywhere
    fs::permissions(first, fs::perms::owner_write, fs::perm_options::remove);
    EXPECT_EQ(backup::DefaultBackupFolder({first, second}), second / "IphoneBackups");
    fs::permissions(first, fs::perms::owner_write, fs::perm_options::add);
  }
  const auto candidates = backup::BackupFolderCandidates();
  ASSERT_FALSE(candidates.empty());
  for (const fs::path& candidate : candidates) EXPECT_NE(candidate, fs::path("/proc")) << candidate;
}

}  // namespace
