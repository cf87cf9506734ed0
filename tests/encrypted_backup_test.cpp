#include "backup/encrypted_backup.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <thread>

#include "backup/file_list_db.h"
#include "backup/keybag.h"
#include "platform/fs.h"
#include "platform/private_files.h"
#include "testing/folder_snapshot.h"
#include "testing/sample_backup.h"

namespace {

namespace fs = std::filesystem;
using backup::CFileListDB;
using sample::BackupEncryption;
using sample::BackupMode;
using Code = base::Status::Code;

constexpr const char* kSmsPath = "Library/SMS/sms.db";

std::vector<std::uint8_t> Hex(const std::string& text) {
  std::vector<std::uint8_t> bytes;
  for (std::size_t i = 0; i + 1 < text.size(); i += 2) bytes.push_back(static_cast<std::uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
  return bytes;
}

// Reads the handle table of the demo's sms.db (with its log's newest row).
class HandleReader : public db::CDbSqlite {
 public:
  std::string GetTableName(int tableKind) override { return tableKind == 0 ? "handle" : ""; }
  void ParseRow(int tableKind, std::unique_ptr<db::BaseItem>& out, db::CppSQLite3Query& query) override {
    if (tableKind == 0) {
      out = std::make_unique<db::BaseItem>();
    } else {
      CDbSqlite::ParseRow(tableKind, out, query);
    }
  }
};

// The handles of sms.db as the index opens it, or -1 when it cannot.
int Handles(CFileListDB& index) {
  std::vector<std::string> paths;
  index.FindFilePaths(kSmsPath, "HomeDomain", paths, false);
  if (paths.size() != 1) return -1;
  HandleReader reader;
  if (!index.OpenDatabase(reader, paths[0], 0).Ok()) return -1;
  db::ItemList rows;
  reader.LoadTable(0, rows);
  return static_cast<int>(rows.size());
}

bool FolderIsEmpty(const fs::path& folder) {
  std::error_code ec;
  return fs::is_empty(folder, ec) && !ec;
}

class EncryptedBackupTest : public ::testing::Test {
 protected:
  // Decrypted copies go below this test's own temporary root, so that what
  // stays behind can be seen.
  EncryptedBackupTest() { ::setenv("VELMORA_TEMP_DIR", tempRoot_.c_str(), 1); }
  ~EncryptedBackupTest() override {
    backup::ForgetDecryptedBackups();
    ::unsetenv("VELMORA_TEMP_DIR");
  }

  fs::path Write(const sample::SampleBackupBuilder& builder, const std::string& name, BackupMode mode,
                 const BackupEncryption* encryption) {
    const fs::path folder = temp_.Path() / name;
    builder.Write(folder, mode, encryption);
    return folder;
  }

  platform::TempFolder temp_{"velmora-encrypted-test"};
  fs::path tempRoot_ = temp_.Path() / "tmp";
};

TEST(BackupCrypto, UnwrapsTheRfc3394KeyAndRefusesAWrongKek) {
  // RFC 3394, 4.6: 256 bits of key data wrapped with a 256-bit KEK.
  std::vector<std::uint8_t> kekBytes = Hex("000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F");
  const backup::SecretBytes kek(kekBytes.data(), kekBytes.size());
  const std::vector<std::uint8_t> wrapped =
      Hex("28C9F404C4B810F4CBCCB35CFB87F8263F5786E2D80ED326CBC7F0E71A99F43BFB988B9B7A02DD21");
  const auto key = backup::AesUnwrapKey(kek, wrapped.data(), wrapped.size());
  ASSERT_TRUE(key);
  EXPECT_EQ(std::vector<std::uint8_t>(key->Data(), key->Data() + key->Size()),
            Hex("00112233445566778899AABBCCDDEEFF000102030405060708090A0B0C0D0E0F"));
  kekBytes[0] ^= 1;
  const backup::SecretBytes otherKek(kekBytes.data(), kekBytes.size());
  EXPECT_FALSE(backup::AesUnwrapKey(otherKek, wrapped.data(), wrapped.size()));
  EXPECT_FALSE(backup::AesUnwrapKey(kek, wrapped.data(), 20));  // not whole half blocks
}

TEST(BackupCrypto, PaddingIsRemovedOnlyWhenItIsPadding) {
  struct Case {
    std::vector<std::uint8_t> block;
    std::size_t length;
  };
  std::vector<std::uint8_t> full(16, 16);
  std::vector<std::uint8_t> three(16, 'a');
  three[13] = three[14] = three[15] = 3;
  std::vector<std::uint8_t> broken = three;
  broken[13] = 4;
  std::vector<std::uint8_t> zero(16, 0);
  const Case cases[] = {{full, 0}, {three, 13}, {broken, 16}, {zero, 16}, {std::vector<std::uint8_t>(15, 1), 15}};
  for (const Case& c : cases) EXPECT_EQ(backup::LengthWithoutPadding(c.block.data(), c.block.size()), c.length);
}

TEST(Keybag, ReadsTheSampleKeybagAndUnlocksItWithItsPasswordOnly) {
  BackupEncryption settings;
  settings.password = "一二三 four";
  const sample::SampleEncryptor encryptor(settings);
  const std::vector<std::uint8_t> bytes = encryptor.Keybag();
  std::string why;
  const auto keybag = backup::Keybag::Parse(bytes.data(), bytes.size(), why);
  ASSERT_TRUE(keybag) << why;
  EXPECT_EQ(keybag->ClassKeys().size(), 11u);
  EXPECT_TRUE(keybag->HasSha256Step());
  EXPECT_EQ(keybag->Sha256Rounds(), settings.sha256Rounds);
  EXPECT_EQ(keybag->Sha1Rounds(), settings.sha1Rounds);

  std::string password = settings.password;
  const backup::SecretBytes right = backup::SecretBytes::FromText(password);
  EXPECT_TRUE(password.empty());
  backup::UnlockedKeybag unlocked;
  std::vector<int> progress;
  EXPECT_EQ(backup::UnlockedKeybag::Unlock(*keybag, right, unlocked, [&](int p) { progress.push_back(p); }),
            backup::UnlockedKeybag::Result::kUnlocked);
  ASSERT_FALSE(progress.empty());
  EXPECT_EQ(progress.back(), 100);
  EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
  std::vector<std::uint8_t> plainKey;
  const std::vector<std::uint8_t> stored = encryptor.NewStoredKey(3, plainKey);
  const auto unwrapped = unlocked.UnwrapStoredKey(stored);
  ASSERT_TRUE(unwrapped);
  EXPECT_EQ(std::vector<std::uint8_t>(unwrapped->Data(), unwrapped->Data() + unwrapped->Size()), plainKey);

  std::string wrongText = "一二三 fou";
  const backup::SecretBytes wrong = backup::SecretBytes::FromText(wrongText);
  backup::UnlockedKeybag locked;
  EXPECT_EQ(backup::UnlockedKeybag::Unlock(*keybag, wrong, locked), backup::UnlockedKeybag::Result::kWrongPassword);
  EXPECT_EQ(locked.ClassKey(3), nullptr);
}

// Damage of every kind is told as damage, with the record concerned, and
// never as a wrong password.
TEST(Keybag, RefusesDamagedKeybags) {
  const sample::SampleEncryptor encryptor(BackupEncryption{});
  const std::vector<std::uint8_t> good = encryptor.Keybag();
  // The first class key's WPKY record: tag, length, 40 bytes.
  const std::size_t firstWpky = [&] {
    for (std::size_t i = 0; i + 4 <= good.size(); ++i) {
      if (std::equal(good.begin() + static_cast<std::ptrdiff_t>(i), good.begin() + static_cast<std::ptrdiff_t>(i + 4),
                     "WPKY")) {
        return i;
      }
    }
    return std::size_t{0};
  }();
  ASSERT_GT(firstWpky, 0u);
  auto edited = [&](const std::function<void(std::vector<std::uint8_t>&)>& edit) {
    std::vector<std::uint8_t> bytes = good;
    edit(bytes);
    return bytes;
  };
  auto setNumber = [](std::vector<std::uint8_t>& bytes, const char* tag, std::uint32_t value) {
    for (std::size_t i = 0; i + 12 <= bytes.size(); ++i) {
      if (std::equal(bytes.begin() + static_cast<std::ptrdiff_t>(i), bytes.begin() + static_cast<std::ptrdiff_t>(i + 4), tag)) {
        for (int b = 0; b < 4; ++b) bytes[i + 8 + b] = static_cast<std::uint8_t>(value >> (24 - 8 * b));
        return;
      }
    }
  };
  struct Case {
    const char* what;
    std::vector<std::uint8_t> bytes;
  };
  const Case cases[] = {
      {"empty", {}},
      {"cut inside a record header", std::vector<std::uint8_t>(good.begin(), good.begin() + 6)},
      {"cut inside a value", std::vector<std::uint8_t>(good.begin(), good.end() - 3)},
      {"a length past the end", edited([&](auto& b) { b[firstWpky + 4] = 0x7f; })},
      {"a number of 3 bytes", edited([](auto& b) { b[7] = 3; })},
      {"no rounds", edited([&](auto& b) { setNumber(b, "ITER", 0); })},
      {"absurd rounds", edited([&](auto& b) { setNumber(b, "DPIC", 0xffffffff); })},
      {"a wrapped key of 39 bytes",
       edited([&](auto& b) {
         b[firstWpky + 7] = 39;
         b.erase(b.begin() + static_cast<std::ptrdiff_t>(firstWpky + 8));
       })},
      {"no key wrapped with the password", edited([&](auto& b) {
         for (std::size_t i = 0; i + 12 <= b.size(); ++i) {
           if (std::equal(b.begin() + static_cast<std::ptrdiff_t>(i), b.begin() + static_cast<std::ptrdiff_t>(i + 4), "CLAS")) {
             b[i + 12 + 11] = 1;  // the WRAP record that follows: device key only
           }
         }
       })},
  };
  for (const Case& c : cases) {
    std::string why;
    EXPECT_FALSE(backup::Keybag::Parse(c.bytes.data(), c.bytes.size(), why)) << c.what;
    EXPECT_FALSE(why.empty()) << c.what;
  }
}

// The demo's small backup reads the same through its encrypted twin, in
// both manifest forms, and reading changes nothing in the backup.
TEST_F(EncryptedBackupTest, OpensWithItsPasswordAndReadsAsThePlainTwin) {
  const sample::SampleBackupBuilder builder = sample::DemoBackup();
  for (BackupMode mode : {BackupMode::kManifestDb, BackupMode::kManifestMbdb}) {
    SCOPED_TRACE(static_cast<int>(mode));
    const std::string suffix = std::to_string(static_cast<int>(mode));
    BackupEncryption encryption;
    encryption.password = "pa55 wörd";
    encryption.sha256Step = mode == BackupMode::kManifestDb;
    const fs::path plain = Write(builder, "plain" + suffix, mode, nullptr);
    const fs::path encrypted = Write(builder, "encrypted" + suffix, mode, &encryption);
    EXPECT_FALSE(backup::IsEncryptedBackup(plain.string()));
    EXPECT_TRUE(backup::IsEncryptedBackup(encrypted.string()));
    const sample::FolderSnapshot before = sample::SnapshotFolder(encrypted);

    CFileListDB plainIndex;
    ASSERT_TRUE(plainIndex.Open(plain.string(), -1).Ok());
    EXPECT_FALSE(plainIndex.Encrypted());
    CFileListDB index;
    index.SetPassword(encryption.password);
    ASSERT_TRUE(index.Open(encrypted.string(), -1).Ok());
    EXPECT_TRUE(index.Encrypted());
    EXPECT_EQ(index.Mode(), plainIndex.Mode());
    EXPECT_EQ(index.CountFiles(), plainIndex.CountFiles());
    EXPECT_EQ(Handles(index), Handles(plainIndex));
    EXPECT_EQ(Handles(index), 3);

    // Every stored file decrypts to the bytes the phone had.
    for (const sample::BackupFile& file : builder.Files()) {
      if (file.isFolder) continue;
      std::vector<std::string> paths;
      index.FindFilePaths(file.relativePath, file.domain, paths, false);
      ASSERT_EQ(paths.size(), 1u) << file.relativePath;
      EXPECT_EQ(backup::StoredFileSize(paths[0]), static_cast<std::int64_t>(file.content.size()));
      ASSERT_TRUE(backup::ReadyStoredFile(paths[0])) << file.relativePath;
      EXPECT_EQ(platform::ReadWholeFile(paths[0]), file.content) << file.relativePath;
    }
    EXPECT_EQ(sample::SnapshotFolder(encrypted), before);
  }
}

TEST_F(EncryptedBackupTest, TellsAMissingOrWrongPasswordAndDamageApart) {
  const sample::SampleBackupBuilder builder = sample::DemoBackup();
  BackupEncryption encryption;
  const fs::path good = Write(builder, "good", BackupMode::kManifestDb, &encryption);
  BackupEncryption cutKeybag = encryption;
  cutKeybag.editKeybag = [](std::vector<std::uint8_t>& bytes) { bytes.resize(bytes.size() > 10 ? bytes.size() - 10 : 0); };
  BackupEncryption flippedManifestKey = encryption;
  flippedManifestKey.editManifestKey = [](std::vector<std::uint8_t>& bytes) { bytes[10] ^= 0x40; };
  BackupEncryption shortManifestKey = encryption;
  shortManifestKey.editManifestKey = [](std::vector<std::uint8_t>& bytes) { bytes.resize(12); };
  struct Case {
    const char* what;
    fs::path folder;
    std::string password;
    Code code;
    std::string message;
  };
  const Case cases[] = {
      {"no password", good, "", Code::kNeedsPassword, backup::kBackupNeedsPassword},
      {"wrong password", good, "velmora-dem0", Code::kWrongPassword, backup::kBackupWrongPassword},
      {"damaged keybag", Write(builder, "keybag", BackupMode::kManifestDb, &cutKeybag), encryption.password,
       Code::kCorrupt, "damaged keybag"},
      {"damaged manifest key", Write(builder, "flipped", BackupMode::kManifestDb, &flippedManifestKey),
       encryption.password, Code::kCorrupt, "damaged manifest key"},
      {"short manifest key", Write(builder, "short", BackupMode::kManifestDb, &shortManifestKey), encryption.password,
       Code::kCorrupt, "damaged manifest key"},
  };
  for (const Case& c : cases) {
    CFileListDB index;
    index.SetPassword(c.password);
    const base::Status status = index.Open(c.folder.string(), -1);
    EXPECT_EQ(status.Kind(), c.code) << c.what << ": " << status.Text();
    EXPECT_NE(status.Text().find(c.message), std::string::npos) << c.what << ": " << status.Text();
    EXPECT_FALSE(index.Encrypted()) << c.what;
  }
  // Nothing was left decrypted by the failures.
  EXPECT_TRUE(!fs::exists(tempRoot_) || FolderIsEmpty(tempRoot_));
}

// The password is derived once per run: a backup unlocked before opens
// again without it, and its files are decrypted only once.
TEST_F(EncryptedBackupTest, UnlocksOncePerRunAndDecryptsEachFileOnceWhenAsked) {
  const sample::SampleBackupBuilder builder = sample::DemoBackup();
  BackupEncryption encryption;
  const fs::path folder = Write(builder, "backup", BackupMode::kManifestDb, &encryption);
  CFileListDB first;
  first.SetPassword(encryption.password);
  ASSERT_TRUE(first.Open(folder.string(), -1).Ok());
  const fs::path privateFolder = first.StoredFilesRoot();
  ASSERT_EQ(privateFolder.parent_path(), tempRoot_);
  struct stat info {};
  ASSERT_EQ(::stat(privateFolder.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  // Only the manifest is decrypted until a reader asks for a file.
  std::vector<std::string> listed;
  for (const auto& entry : fs::directory_iterator(privateFolder)) listed.push_back(entry.path().filename().string());
  EXPECT_EQ(listed, std::vector<std::string>{"Manifest.db"});

  CFileListDB second;
  ASSERT_TRUE(second.Open(folder.string(), -1).Ok()) << "no password needed again in this run";
  EXPECT_EQ(second.StoredFilesRoot(), first.StoredFilesRoot());
  std::vector<std::string> paths;
  second.FindFilePaths(kSmsPath, "HomeDomain", paths, false);
  ASSERT_EQ(paths.size(), 1u);
  ASSERT_TRUE(backup::ReadyStoredFile(paths[0]));
  ASSERT_EQ(::stat(paths[0].c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  const auto written = fs::last_write_time(paths[0]);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ASSERT_TRUE(backup::ReadyStoredFile(paths[0]));
  EXPECT_EQ(fs::last_write_time(paths[0]), written);

  backup::ForgetDecryptedBackups();
  first.Close();
  second.Close();
  CFileListDB third;
  EXPECT_EQ(third.Open(folder.string(), -1).Kind(), Code::kNeedsPassword) << "forgotten: the password is needed again";
}

// A file whose wrapped key is damaged is reported unreadable; the rest of
// the backup still reads.
TEST_F(EncryptedBackupTest, AFileWhoseKeyIsDamagedIsUnreadableAndTheRestReads) {
  const sample::SampleBackupBuilder builder = sample::DemoBackup();
  BackupEncryption encryption;
  encryption.damagedKeyPath = kSmsPath;
  const fs::path folder = Write(builder, "backup", BackupMode::kManifestDb, &encryption);
  CFileListDB index;
  index.SetPassword(encryption.password);
  ASSERT_TRUE(index.Open(folder.string(), -1).Ok());
  std::vector<std::string> paths;
  index.FindFilePaths(kSmsPath, "HomeDomain", paths, false);
  ASSERT_EQ(paths.size(), 1u);
  HandleReader reader;
  const base::Status opened = index.OpenDatabase(reader, paths[0], 0);
  EXPECT_EQ(opened.Kind(), Code::kUnreadable);
  EXPECT_NE(opened.Message().find("key does not unwrap"), std::string::npos) << opened.Text();
  EXPECT_TRUE(opened.File().starts_with(folder.string())) << "named as the backup stores it: " << opened.File();
  ASSERT_EQ(reader.Problems().size(), 1u);
  std::string why;
  EXPECT_FALSE(backup::ReadyStoredFile(paths[0], &why));
  EXPECT_FALSE(why.empty());

  paths.clear();
  index.FindFilePaths("Library/Preferences/com.apple.springboard.plist", "HomeDomain", paths, false);
  ASSERT_EQ(paths.size(), 1u);
  EXPECT_TRUE(backup::ReadyStoredFile(paths[0]));
}

// A video is decrypted in pieces and cut to the size its record gives.
TEST_F(EncryptedBackupTest, LargeFilesAreDecryptedWholeAndCutToTheirSize) {
  sample::SampleBackupBuilder builder;
  std::mt19937 random(7);
  std::vector<std::uint8_t> video(3 * 1024 * 1024 + 5);
  for (auto& byte : video) byte = static_cast<std::uint8_t>(random());
  // Plain text that ends in what looks like padding must keep it.
  std::vector<std::uint8_t> paddedLooking(32, 'x');
  paddedLooking.insert(paddedLooking.end(), 16, 16);
  builder.AddFile("CameraRollDomain", "Media/DCIM/100APPLE/IMG_0001.MOV", video);
  builder.AddFile("HomeDomain", "Library/odd.bin", paddedLooking);
  builder.AddFile("HomeDomain", "Library/empty.bin", {});
  BackupEncryption encryption;
  const fs::path folder = Write(builder, "backup", BackupMode::kManifestDb, &encryption);
  CFileListDB index;
  index.SetPassword(encryption.password);
  ASSERT_TRUE(index.Open(folder.string(), -1).Ok());
  for (const sample::BackupFile& file : builder.Files()) {
    std::vector<std::string> paths;
    index.FindFilePaths(file.relativePath, file.domain, paths, false);
    ASSERT_EQ(paths.size(), 1u);
    ASSERT_TRUE(backup::ReadyStoredFile(paths[0])) << file.relativePath;
    EXPECT_EQ(platform::ReadWholeFile(paths[0]), file.content) << file.relativePath;
  }
}

// The private folder goes when the run ends, however it ends: here the
// process is killed.
TEST(PrivateFiles, TheFolderIsRemovedWhenTheProcessIsKilled) {
  platform::TempFolder parent("velmora-watch-test");
  const fs::path folder = parent.Path() / "private";
  fs::create_directories(folder / "inner");
  sample::WriteBytes(folder / "inner" / "secret", {1, 2, 3});
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    platform::RemoveWhenProcessEnds(folder);
    ::kill(::getpid(), SIGKILL);
    ::_exit(0);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_TRUE(WIFSIGNALED(status));
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (fs::exists(folder) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_FALSE(fs::exists(folder));
  EXPECT_TRUE(fs::exists(parent.Path())) << "only the folder named goes";
}

TEST(PrivateFiles, AWriterNeverOpensAnExistingFileOrLink) {
  platform::TempFolder folder("velmora-private-test");
  const fs::path target = folder.Path() / "target";
  sample::WriteBytes(target, {9});
  fs::create_symlink(target, folder.Path() / "link");
  for (const char* name : {"target", "link"}) {
    platform::PrivateFileWriter writer(folder.Path() / name);
    EXPECT_FALSE(writer.Ok()) << name;
    EXPECT_FALSE(writer.Write(reinterpret_cast<const std::uint8_t*>("x"), 1)) << name;
  }
  EXPECT_EQ(platform::ReadWholeFile(target), std::vector<std::uint8_t>{9});
  platform::PrivateFileWriter fresh(folder.Path() / "fresh");
  ASSERT_TRUE(fresh.Ok());
  EXPECT_TRUE(fresh.Write(reinterpret_cast<const std::uint8_t*>("abcdef"), 6));
  EXPECT_TRUE(fresh.Truncate(4));
  EXPECT_TRUE(fresh.Close());
  EXPECT_EQ(platform::ReadWholeFile(folder.Path() / "fresh"), (std::vector<std::uint8_t>{'a', 'b', 'c', 'd'}));
}

}  // namespace
