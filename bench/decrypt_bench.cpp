// decrypt_bench: what opening an encrypted backup costs, timed.
//
// 1. Decryption speed: an encrypted backup holding one large video (512 MB
//    by default) and 2,000 pictures of 100 KB; each file is decrypted as a
//    reader first asks for it (streamed into the run's private folder).
// 2. The password's key derivation with a phone's round counts (10,000,000
//    PBKDF2-SHA256 rounds, then 10,000 PBKDF2-SHA1 rounds).
// 3. The messages category analysed through a plain backup and through its
//    encrypted twin (the phone's round counts): the demo's sample backup, and
//    one with a large sms.db (200 MB by default). An encrypted run opens the
//    backup afresh, so it includes the derivation and the decryption of
//    Manifest.db and of the files the category reads.
//
// Usage: decrypt_bench [--file-mb N] [--sms-mb N] [--runs N] [FOLDER]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include "backup/encrypted_backup.h"
#include "backup/file_list_db.h"
#include "backup/keybag.h"
#include "base/categories.h"
#include "large_sms_db.h"
#include "platform/fs.h"
#include "recovery/analysis.h"
#include "testing/sample_backup.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Options {
  int fileMb = 512;
  int smsMb = 200;
  int runs = 3;
  std::string folder;
};

constexpr std::uint32_t kPhoneSha256Rounds = 10'000'000;
constexpr std::uint32_t kPhoneSha1Rounds = 10'000;

double Seconds(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

std::vector<std::uint8_t> RandomBytes(std::size_t size, std::uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<std::uint8_t> bytes(size);
  for (std::size_t i = 0; i + 4 <= size; i += 4) {
    const std::uint32_t word = random();
    std::copy_n(reinterpret_cast<const std::uint8_t*>(&word), 4, bytes.begin() + static_cast<std::ptrdiff_t>(i));
  }
  return bytes;
}

sample::BackupEncryption PhoneEncryption() {
  sample::BackupEncryption encryption;
  encryption.password = "correct horse battery staple";
  encryption.sha256Rounds = kPhoneSha256Rounds;
  encryption.sha1Rounds = kPhoneSha1Rounds;
  return encryption;
}

// Opens folder (with password when given) and analyses the messages; the
// time of both, or a negative time when it fails.
double AnalyseMessages(const fs::path& folder, const std::string& password, std::size_t* records) {
  backup::ForgetDecryptedBackups();
  const auto start = Clock::now();
  backup::CFileListDB index;
  index.SetPassword(password);
  if (!index.Open(folder.string(), -1).Ok()) return -1;
  std::unique_ptr<readers::ICategoryReader> reader;
  recovery::RunAnalysis(base::kCategoryMessages, index, reader, nullptr);
  std::size_t count = 0;
  for (const db::BaseItem* group : reader->ResultList()) count += readers::Members(*group).size();
  const double seconds = Seconds(start);
  *records = count;
  return seconds;
}

void CompareMessages(const char* name, const sample::SampleBackupBuilder& builder, const fs::path& root, int runs,
                     double derivation) {
  const sample::BackupEncryption encryption = PhoneEncryption();
  const fs::path plain = root / (std::string(name) + "-plain");
  const fs::path encrypted = root / (std::string(name) + "-encrypted");
  fs::remove_all(plain);
  fs::remove_all(encrypted);
  builder.Write(plain, sample::BackupMode::kManifestDb);
  builder.Write(encrypted, sample::BackupMode::kManifestDb, &encryption);
  std::size_t records = 0;
  AnalyseMessages(plain, "", &records);  // warm the file cache for both
  AnalyseMessages(encrypted, encryption.password, &records);
  double bestPlain = 1e9;
  double bestEncrypted = 1e9;
  for (int run = 0; run < runs; ++run) {
    bestPlain = std::min(bestPlain, AnalyseMessages(plain, "", &records));
    bestEncrypted = std::min(bestEncrypted, AnalyseMessages(encrypted, encryption.password, &records));
  }
  // The aim: no more than the derivation plus 120 % of the plain run.
  const double limit = derivation + 1.2 * bestPlain;
  std::printf("%-6s messages %7zu  plain %.3f s  encrypted %.3f s  limit (derivation + 120 %% of plain) %.3f s: %s\n",
              name, records, bestPlain, bestEncrypted, limit, bestEncrypted <= limit ? "within" : "OVER");
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto number = [&](int& field) {
      if (i + 1 >= argc) {
        std::cerr << "decrypt_bench: " << arg << " needs a number\n";
        std::exit(2);
      }
      field = std::atoi(argv[++i]);
    };
    if (arg == "--file-mb") {
      number(options.fileMb);
    } else if (arg == "--sms-mb") {
      number(options.smsMb);
    } else if (arg == "--runs") {
      number(options.runs);
    } else if (arg == "--help" || arg.starts_with("-")) {
      std::cerr << "usage: decrypt_bench [--file-mb N] [--sms-mb N] [--runs N] [FOLDER]\n";
      return arg == "--help" ? 0 : 2;
    } else {
      options.folder = arg;
    }
  }
  std::optional<platform::TempFolder> temporary;
  fs::path root;
  if (options.folder.empty()) {
    temporary.emplace("velmora-decrypt-bench");
    root = temporary->Path();
  } else {
    root = options.folder;
    fs::create_directories(root);
  }

  // 1. Decryption speed.
  {
    sample::SampleBackupBuilder builder;
    builder.AddFile("CameraRollDomain", "Media/DCIM/100APPLE/IMG_0001.MOV",
                    RandomBytes(static_cast<std::size_t>(options.fileMb) << 20, 1));
    constexpr int kPictures = 2000;
    for (int i = 0; i < kPictures; ++i) {
      builder.AddFile("CameraRollDomain", "Media/DCIM/101APPLE/IMG_" + std::to_string(1000 + i) + ".JPG",
                      RandomBytes(100 * 1024, static_cast<std::uint32_t>(i + 2)));
    }
    sample::BackupEncryption encryption;  // small round counts: only the files are timed here
    const fs::path folder = root / "media-encrypted";
    fs::remove_all(folder);
    builder.Write(folder, sample::BackupMode::kManifestDb, &encryption);
    for (const char* group : {"video", "pictures"}) {
      const bool video = std::string(group) == "video";
      double best = 1e9;
      std::uint64_t bytes = 0;
      for (int run = 0; run < options.runs; ++run) {
        backup::ForgetDecryptedBackups();
        backup::CFileListDB index;
        index.SetPassword(encryption.password);
        if (!index.Open(folder.string(), -1).Ok()) return 1;
        backup::FileRecordList files;
        index.FindFileRecords(video ? "%.MOV" : "%.JPG", "CameraRollDomain", files, false);
        const auto start = Clock::now();
        bytes = 0;
        for (const auto& file : files) {
          if (!backup::ReadyStoredFile(file->storedPath)) return 1;
          bytes += static_cast<std::uint64_t>(file->size);
        }
        best = std::min(best, Seconds(start));
      }
      std::printf("decrypt  %-8s %8.1f MB in %.3f s = %.0f MB/s\n", group, bytes / 1048576.0, best,
                  bytes / 1048576.0 / best);
    }
    fs::remove_all(folder);
  }

  // 2. The key derivation with a phone's round counts.
  const sample::BackupEncryption encryption = PhoneEncryption();
  const sample::SampleEncryptor encryptor(encryption);
  const std::vector<std::uint8_t> keybagBytes = encryptor.Keybag();
  std::string why;
  const auto keybag = backup::Keybag::Parse(keybagBytes.data(), keybagBytes.size(), why);
  if (!keybag) return 1;
  std::string passwordText = encryption.password;
  const backup::SecretBytes password = backup::SecretBytes::FromText(passwordText);
  const auto start = Clock::now();
  if (!keybag->DeriveKey(password)) return 1;
  const double derivation = Seconds(start);
  std::printf("derive   %u SHA-256 + %u SHA-1 rounds: %.3f s\n", kPhoneSha256Rounds, kPhoneSha1Rounds, derivation);

  // 3. Messages through plain and encrypted twins.
  CompareMessages("demo", sample::AppsDemoBackup(), root, options.runs, derivation);
  {
    const fs::path smsPath = root / "large-sms.db";
    bench::WriteLargeSmsDb(smsPath, static_cast<std::uint64_t>(options.smsMb) << 20);
    sample::SampleBackupBuilder builder;
    auto bytes = platform::ReadWholeFile(smsPath);
    if (!bytes) return 1;
    builder.AddFile("HomeDomain", "Library/SMS/sms.db", std::move(*bytes));
    fs::remove(smsPath);
    CompareMessages("large", builder, root, options.runs, derivation);
  }
  return 0;
}
