#pragma once
// The backup catalogue: the backups already on this computer, found in the
// immediate subfolders of a few roots, each with the summary its Info.plist
// gives and the size of its folder, computed in the background.
//
// Roots, in the order searched (DefaultCatalogueRoots):
//   1. the configured backup folder, when one is set;
//   2. the program's own backup folder (platform::AppBackupFolder);
//   3. the iTunes/Finder backup root (platform::ITunesBackupRoot).
// A root that names the same folder as an earlier one is searched once.

#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace backup {

// A local date and time; all zero when the backup's time is unknown.
struct BackupTime {
  int year = 0;
  int month = 0;
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
};

// "YYYY-MM-DD HH:MM:SS" with the month, day and time two digits wide.
std::string FormatBackupTime(const BackupTime& time);

// Unix seconds as the local time of this process (TZ applies).
BackupTime LocalBackupTime(std::int64_t unixSeconds);

struct BackupEntry {
  std::string folder;
  std::string deviceName;     // every character of the phone's name, UTF-8
  BackupTime backupTime;      // "Last Backup Date" in local time
  std::string sizeText;       // FormatByteSize of the folder; empty until known
  std::optional<std::uint64_t> sizeBytes;  // set together with sizeText
  std::string systemVersion;  // "Product Version", e.g. "14.3"
  std::string productType;    // "Product Type", e.g. "iPhone12,1"
  std::string model;          // the marketing name, or productType when unknown
  bool encrypted = false;     // Manifest.plist says IsEncrypted: it opens with its password
  int index = 0;              // the entry's position in the catalogue, from 0
};

// Product types (iPhone12,1) to marketing names (iPhone 11), read from the
// program's devconf.xml:
//   <devices><device type="iPhone12,1" name="iPhone 11"/>...</devices>
// Types are matched whole, so iPhone1,1 never takes iPhone1,10's name.
class CModelNames {
 public:
  // Reads path; returns false (and knows no names) when it is missing or is
  // not such a file.
  bool Load(const std::filesystem::path& path);
  // The marketing name of productType, or productType itself when unknown.
  std::string ModelOf(const std::string& productType) const;
  std::size_t Size() const { return names_.size(); }

 private:
  std::map<std::string, std::string> names_;
};

// devconf.xml in platform::ProgramDataFolder().
std::filesystem::path DefaultModelNamesPath();

// The summary of one backup folder, size not yet known and index 0. Nothing
// when the folder does not exist or has no Info.plist (XML or binary) that
// can be read.
std::optional<BackupEntry> ReadBackupInfo(const std::filesystem::path& folder, const CModelNames& models);

// The bytes of every regular file below folder, its subfolders included, in
// whole 64-bit sizes. Symbolic links are not followed nor counted; entries
// that cannot be read are passed over. 0 for a missing folder.
std::uint64_t FolderSize(const std::filesystem::path& folder);

// total + fileBytes, held at the largest count instead of wrapping round.
std::uint64_t AddFileSize(std::uint64_t total, std::uint64_t fileBytes);

// "5 B", "2 K", "1 M", "5120 G": divided by 1024 rounding up, at most three
// times, while the count is 1024 or more.
std::string FormatByteSize(std::uint64_t bytes);

// The roots to search: configuredFolder (when not empty), then
// platform::AppBackupFolder() and platform::ITunesBackupRoot(), each once.
std::vector<std::filesystem::path> DefaultCatalogueRoots(const std::filesystem::path& configuredFolder);

// The folder new backups go to when the settings name none: "IphoneBackups"
// at the root of the candidate file system with the most free space
// available to the user (compared in whole MiB; the first wins a tie). A
// candidate that does not exist or that the user cannot write to is passed
// over. Empty when none is left.
std::filesystem::path DefaultBackupFolder(const std::vector<std::filesystem::path>& candidates);

// The candidates of this machine: the user's home folder, then the mount
// points listed in /proc/self/mounts that are real folders (pseudo file
// systems such as proc, sysfs and tmpfs are left out).
std::vector<std::filesystem::path> BackupFolderCandidates();

// Whether two roots name the same folder: the same existing folder, or the
// same text once made absolute and normal.
bool SameRoot(const std::filesystem::path& a, const std::filesystem::path& b);

// The catalogue. Build on one thread (the UI thread); the size threads it
// starts call onSizeReady on their own thread. Destruction waits for them.
class CBackupCatalogue {
 public:
  // Called with an entry's index once its size text is set; from a size
  // thread. Must not call back into Build.
  using SizeReady = std::function<void(int index)>;

  CBackupCatalogue() = default;
  ~CBackupCatalogue();
  CBackupCatalogue(const CBackupCatalogue&) = delete;
  CBackupCatalogue& operator=(const CBackupCatalogue&) = delete;

  // Fills the catalogue from roots (duplicates searched once) unless it is
  // already built: each immediate subfolder (links passed over) in name
  // order that ReadBackupInfo accepts becomes an entry. A root that cannot
  // be listed adds nothing. With computeSizes, one thread per entry computes
  // its size. Returns the number of entries.
  std::size_t Build(const std::vector<std::filesystem::path>& roots, const CModelNames& models,
                    bool computeSizes = true, SizeReady onSizeReady = nullptr);

  bool IsBuilt() const;
  // A copy of the entries, with the size texts known so far.
  std::vector<BackupEntry> Entries() const;
  std::size_t Size() const;
  // Blocks until every size thread has set its entry's size.
  void WaitForSizes();

 private:
  void ComputeSize(std::size_t index, std::filesystem::path folder);

  mutable std::mutex mutex_;
  std::condition_variable sizesDone_;
  std::vector<BackupEntry> entries_;
  std::vector<std::thread> sizeThreads_;
  std::size_t pendingSizes_ = 0;
  SizeReady onSizeReady_;
  bool built_ = false;
};

}  // namespace backup
