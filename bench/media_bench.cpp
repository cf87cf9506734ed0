// media_bench: grouping the media of a large backup, timed.
//
// Builds a Manifest.db backup of a phone with 20,000 camera-roll media
// (15,000 pictures and videos the photo library lists, spread over three
// DCIM folders, each with its thumbnail, and 5,000 files the library no
// longer lists) among 200,000 manifest rows in all: message attachments,
// WhatsApp media, notes attachments and other apps' files. The stored files
// are empty: grouping reads the manifest and the library, not the media.
// Then it analyses the photos, videos and attachment categories, each run
// once to warm up and then timed, and prints the time, the top groups' day
// counts and the files found.
//
// Usage: media_bench [--media N] [--rows N] [--reuse] [FOLDER]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>

#include "backup/file_list_db.h"
#include "platform/fs.h"
#include "base/categories.h"
#include "recovery/analysis.h"
#include "testing/sample_backup.h"
#include "testing/sample_media.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Options {
  int media = 20000;
  int rows = 200000;
  bool reuse = false;
  std::string folder;
};

// 2016-01-01 08:00 in UTC+8; the media are spread over about 600 days.
constexpr std::int64_t kFirstDay = 1451606400;
constexpr std::int64_t kDay = 86400;

std::string Number(int value, int width) {
  std::string text = std::to_string(value);
  return std::string(static_cast<std::size_t>(std::max(0, width - static_cast<int>(text.size()))), '0') + text;
}

std::string ExifTime(std::int64_t unixSeconds) {
  const std::time_t t = static_cast<std::time_t>(unixSeconds);
  std::tm local{};
  localtime_r(&t, &local);
  char text[80];  // room for any int the fields could hold
  std::snprintf(text, sizeof text, "%04d:%02d:%02d %02d:%02d:%02d", local.tm_year + 1900, local.tm_mon + 1,
                local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
  return text;
}

void AddEmptyFile(sample::SampleBackupBuilder& builder, const std::string& domain, const std::string& path,
                  std::int64_t birth) {
  sample::BackupFile file;
  file.domain = domain;
  file.relativePath = path;
  file.birth = birth;
  file.lastModified = birth;
  file.lastStatusChange = birth;
  builder.AddFile(std::move(file));
}

void Build(const Options& options, const fs::path& folder) {
  sample::SampleBackupBuilder builder;
  const int listed = options.media * 3 / 4;
  std::vector<sample::SampleLibraryMedia> library;
  library.reserve(static_cast<std::size_t>(listed));
  for (int i = 0; i < listed; ++i) {
    sample::SampleLibraryMedia media;
    // A tenth are videos; the DCIM folders hold 9,999 names each.
    media.name = "IMG_" + Number(i % 9999 + 1, 4) + (i % 10 == 9 ? ".MOV" : ".JPG");
    media.folder = std::to_string(100 + i / 9999) + "APPLE";
    media.exifTimestamp = ExifTime(kFirstDay + (i % 600) * kDay + (i % 37) * 60);
    media.fileSize = 2000000 + i;
    media.height = 3024;
    media.width = 4032;
    media.variant = i;
    library.push_back(media);
  }
  std::vector<sample::SampleUnlistedMedia> unlisted;
  for (int i = 0; i < options.media - listed; ++i) {
    const char* extension = i % 5 == 4 ? ".MOV" : ".JPG";
    unlisted.push_back({"Media/DCIM/" + std::to_string(103 + i / 9999) + "APPLE/IMG_" + Number(i % 9999 + 1, 4) +
                            extension,
                        kFirstDay + (i % 700) * kDay, i});
  }
  sample::AddPhotosLibrary(builder, library, unlisted);
  // The other apps' files, until the manifest has its rows.
  const char* kExtensions[] = {".jpg", ".png", ".mov", ".mp4", ".opus", ".pdf", ".dat", ".plist", ".db", ".caf"};
  int i = 0;
  while (static_cast<int>(builder.Files().size()) < options.rows) {
    const std::int64_t birth = kFirstDay + (i % 900) * kDay + i % 3600;
    const std::string extension = kExtensions[i % 10];
    switch (i % 4) {
      case 0:
        AddEmptyFile(builder, "MediaDomain", "Library/SMS/Attachments/" + Number(i % 256, 2) + "/" + Number(i % 16, 2) +
                                                 "/AT" + std::to_string(i) + "/IMG_" + std::to_string(i) + extension,
                     birth);
        break;
      case 1:
        AddEmptyFile(builder, "AppDomainGroup-group.net.whatsapp.WhatsApp.shared",
                     "Message/Media/86138" + Number(i % 500, 6) + "@s.whatsapp.net/" + std::to_string(i % 16) + "/" +
                         std::to_string(i) + extension,
                     birth);
        break;
      case 2:
        AddEmptyFile(builder, "AppDomainGroup-group.com.apple.notes",
                     "Accounts/LocalAccount/Media/" + std::to_string(i) + "/Image" + extension, birth);
        break;
      default:
        AddEmptyFile(builder, "AppDomain-com.example.app" + std::to_string(i % 40),
                     "Library/Caches/" + std::to_string(i) + extension, birth);
        break;
    }
    ++i;
  }
  builder.Write(folder, sample::BackupMode::kManifestDb);
}

struct Result {
  double seconds = 0;
  std::vector<std::pair<std::string, std::size_t>> tops;  // name, day groups
  std::size_t files = 0;
};

Result Analyse(const fs::path& folder, int category) {
  backup::CFileListDB index;
  if (!index.Open(folder.string(), -1).Ok()) {
    std::cerr << "media_bench: cannot open " << folder << '\n';
    std::exit(1);
  }
  std::unique_ptr<readers::ICategoryReader> reader;
  const auto start = Clock::now();
  recovery::RunAnalysis(category, index, reader, nullptr);
  Result result;
  result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  for (db::BaseItem* item : reader->ResultList()) {
    const auto* top = static_cast<db::FriendItem*>(item);
    result.tops.emplace_back(top->Title(), top->items.size());
  }
  if (const auto list = reader->ResultList(); !list.empty()) {
    for (db::BaseItem* day : static_cast<db::FriendItem*>(list.front())->items) {
      result.files += static_cast<db::FriendItem*>(day)->subLists[0].size();
    }
  }
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--media" && i + 1 < argc) {
      options.media = std::atoi(argv[++i]);
    } else if (arg == "--rows" && i + 1 < argc) {
      options.rows = std::atoi(argv[++i]);
    } else if (arg == "--reuse") {
      options.reuse = true;
    } else if (!arg.empty() && arg[0] != '-' && options.folder.empty()) {
      options.folder = arg;
    } else {
      std::cerr << "usage: media_bench [--media N] [--rows N] [--reuse] [FOLDER]\n";
      return 2;
    }
  }
  platform::TempFolder temp("velmora-media-bench");
  const fs::path folder = options.folder.empty() ? temp.Path() / "backup" : fs::path(options.folder);
  if (!options.reuse || !fs::exists(folder / "Manifest.db")) {
    const auto start = Clock::now();
    Build(options, folder);
    std::printf("built %d media among %d manifest rows in %.1f s at %s\n", options.media, options.rows,
                std::chrono::duration<double>(Clock::now() - start).count(), folder.c_str());
  }
  for (int category : {base::kCategoryPhotos, base::kCategoryVideos, base::kCategoryNotesAttachments,
                       base::kCategoryMessageAttachments, base::kCategoryWhatsAppFiles}) {
    Analyse(folder, category);  // warm-up: the manifest in the page cache
    const Result result = Analyse(folder, category);
    std::printf("%-20s %6.2f s  %6zu files ", std::string(base::CategoryOf(category).cliName).c_str(), result.seconds,
                result.files);
    for (const auto& [name, days] : result.tops) std::printf(" %s:%zu", name.c_str(), days);
    std::printf(" (day groups)\n");
  }
  return 0;
}
