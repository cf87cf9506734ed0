#include "backup/catalogue.h"

#include <cstdio>
#include <ctime>
#include <limits>
#include <set>
#include <system_error>
#include <utility>

#include <pugixml.hpp>

#include "backup/backup_info.h"
#include "backup/encrypted_backup.h"
#include "platform/fs.h"
#include "platform/local_time.h"
#include "platform/mounts.h"
#include "platform/paths.h"

namespace backup {

namespace fs = std::filesystem;

std::string FormatBackupTime(const BackupTime& time) {
  char text[64];
  std::snprintf(text, sizeof text, "%d-%02d-%02d %02d:%02d:%02d", time.year, time.month, time.day, time.hour,
                time.minute, time.second);
  return text;
}

BackupTime LocalBackupTime(std::int64_t unixSeconds) {
  BackupTime time;
  const std::optional<std::tm> converted = platform::LocalTime(unixSeconds);
  if (!converted) return time;
  const std::tm& local = *converted;
  time.year = local.tm_year + 1900;
  time.month = local.tm_mon + 1;
  time.day = local.tm_mday;
  time.hour = local.tm_hour;
  time.minute = local.tm_min;
  time.second = local.tm_sec;
  return time;
}

bool CModelNames::Load(const fs::path& path) {
  names_.clear();
  pugi::xml_document document;
  if (!document.load_file(path.c_str())) return false;
  const pugi::xml_node devices = document.child("devices");
  if (!devices) return false;
  for (const pugi::xml_node device : devices.children("device")) {
    const std::string type = device.attribute("type").as_string();
    const std::string name = device.attribute("name").as_string();
    // The first line of a type wins, as the file is read top down.
    if (!type.empty() && !name.empty()) names_.emplace(type, name);
  }
  return true;
}

std::string CModelNames::ModelOf(const std::string& productType) const {
  const auto found = names_.find(productType);
  return found != names_.end() ? found->second : productType;
}

fs::path DefaultModelNamesPath() { return platform::ProgramDataFolder() / "devconf.xml"; }

std::optional<BackupEntry> ReadBackupInfo(const fs::path& folder, const CModelNames& models) {
  if (!platform::IsFolderOrLinkToOne(folder)) return std::nullopt;
  const std::optional<InfoPlistSummary> summary = ReadInfoPlistSummary(folder.string());
  if (!summary) return std::nullopt;
  BackupEntry entry;
  entry.folder = folder.string();
  entry.deviceName = summary->deviceName;
  if (summary->lastBackupDate) entry.backupTime = LocalBackupTime(*summary->lastBackupDate);
  entry.systemVersion = summary->productVersion;
  entry.productType = summary->productType;
  entry.model = models.ModelOf(summary->productType);
  entry.encrypted = IsEncryptedBackup(entry.folder);
  return entry;
}

std::uint64_t AddFileSize(std::uint64_t total, std::uint64_t fileBytes) {
  const std::uint64_t room = std::numeric_limits<std::uint64_t>::max() - total;
  return fileBytes > room ? std::numeric_limits<std::uint64_t>::max() : total + fileBytes;
}

std::uint64_t FolderSize(const fs::path& folder) {
  // An explicit stack rather than recursion: a deep tree cannot exhaust the
  // thread's stack, and ListFolder never reports a link as a folder, so a
  // link cycle is never entered.
  std::uint64_t total = 0;
  std::vector<fs::path> pending{folder};
  while (!pending.empty()) {
    const fs::path current = std::move(pending.back());
    pending.pop_back();
    for (const platform::FolderEntry& entry : platform::ListFolder(current)) {
      const fs::path path = current / entry.name;
      if (entry.isFolder) {
        pending.push_back(path);
      } else if (entry.isFile) {
        std::error_code ec;
        const std::uintmax_t bytes = fs::file_size(path, ec);
        if (!ec) total = AddFileSize(total, static_cast<std::uint64_t>(bytes));
      }
    }
  }
  return total;
}

std::string FormatByteSize(std::uint64_t bytes) {
  static const char* const kUnits[] = {"B", "K", "M", "G"};
  std::size_t unit = 0;
  while (bytes >= 1024 && unit < 3) {
    bytes = (bytes - 1) / 1024 + 1;
    ++unit;
  }
  return std::to_string(bytes) + " " + kUnits[unit];
}

bool SameRoot(const fs::path& a, const fs::path& b) {
  std::error_code ec;
  if (fs::equivalent(a, b, ec) && !ec) return true;
  const fs::path absoluteA = fs::absolute(a, ec).lexically_normal();
  const fs::path absoluteB = fs::absolute(b, ec).lexically_normal();
  auto trimmed = [](fs::path path) {
    return path.has_filename() ? path : path.parent_path();
  };
  return trimmed(absoluteA) == trimmed(absoluteB);
}

std::vector<fs::path> DefaultCatalogueRoots(const fs::path& configuredFolder) {
  std::vector<fs::path> roots;
  auto add = [&roots](const fs::path& root) {
    if (root.empty()) return;
    for (const fs::path& known : roots) {
      if (SameRoot(known, root)) return;
    }
    roots.push_back(root);
  };
  add(configuredFolder);
  add(platform::AppBackupFolder());
  add(platform::ITunesBackupRoot());
  return roots;
}

CBackupCatalogue::~CBackupCatalogue() {
  for (std::thread& thread : sizeThreads_) {
    if (thread.joinable()) thread.join();
  }
}

std::size_t CBackupCatalogue::Build(const std::vector<fs::path>& roots, const CModelNames& models,
                                    bool computeSizes, SizeReady onSizeReady) {
  std::vector<fs::path> folders;
  {
    std::lock_guard lock(mutex_);
    if (built_) return entries_.size();
    std::vector<fs::path> searched;
    for (const fs::path& root : roots) {
      bool seen = false;
      for (const fs::path& known : searched) seen = seen || SameRoot(known, root);
      if (seen || root.empty()) continue;
      searched.push_back(root);
      for (const platform::FolderEntry& entry : platform::ListFolder(root)) {
        if (!entry.isFolder) continue;
        std::optional<BackupEntry> backup = ReadBackupInfo(root / entry.name, models);
        if (!backup) continue;
        backup->index = static_cast<int>(entries_.size());
        entries_.push_back(std::move(*backup));
        folders.push_back(root / entry.name);
      }
    }
    built_ = true;
    onSizeReady_ = std::move(onSizeReady);
    if (computeSizes) pendingSizes_ = entries_.size();
  }
  if (computeSizes) {
    for (std::size_t i = 0; i < folders.size(); ++i) {
      sizeThreads_.emplace_back(&CBackupCatalogue::ComputeSize, this, i, folders[i]);
    }
  }
  return folders.size();
}

void CBackupCatalogue::ComputeSize(std::size_t index, fs::path folder) {
  std::optional<std::uint64_t> bytes;
  try {
    bytes = FolderSize(folder);
  } catch (const std::exception&) {
    // Last resort: this entry's size stays unknown; the others go on.
  }
  SizeReady notify;
  {
    std::lock_guard lock(mutex_);
    if (bytes) {
      entries_[index].sizeBytes = *bytes;
      entries_[index].sizeText = FormatByteSize(*bytes);
    }
    notify = onSizeReady_;
  }
  // The callback runs before the entry counts as done, so that a waiter in
  // WaitForSizes sees every callback made.
  if (notify && bytes) {
    try {
      notify(static_cast<int>(index));
    } catch (const std::exception&) {
      // A failing listener does not stop the other entries.
    }
  }
  {
    std::lock_guard lock(mutex_);
    --pendingSizes_;
  }
  sizesDone_.notify_all();
}

bool CBackupCatalogue::IsBuilt() const {
  std::lock_guard lock(mutex_);
  return built_;
}

std::vector<BackupEntry> CBackupCatalogue::Entries() const {
  std::lock_guard lock(mutex_);
  return entries_;
}

std::size_t CBackupCatalogue::Size() const {
  std::lock_guard lock(mutex_);
  return entries_.size();
}

void CBackupCatalogue::WaitForSizes() {
  std::unique_lock lock(mutex_);
  sizesDone_.wait(lock, [this] { return pendingSizes_ == 0; });
}

std::filesystem::path DefaultBackupFolder(const std::vector<std::filesystem::path>& candidates) {
  constexpr std::uintmax_t kMiB = 1024 * 1024;
  std::filesystem::path best;
  std::uintmax_t bestMiB = 0;
  for (const std::filesystem::path& candidate : candidates) {
    std::error_code error;
    if (!std::filesystem::is_directory(candidate, error) || !platform::CanWriteInto(candidate)) continue;
    const std::filesystem::space_info space = std::filesystem::space(candidate, error);
    if (error) continue;
    const std::uintmax_t freeMiB = space.available / kMiB;
    if (best.empty() || freeMiB > bestMiB) {
      best = candidate;
      bestMiB = freeMiB;
    }
  }
  return best.empty() ? best : best / "IphoneBackups";
}

std::vector<std::filesystem::path> BackupFolderCandidates() {
  std::vector<std::filesystem::path> candidates;
  if (std::filesystem::path home = platform::HomeFolder(); !home.empty()) candidates.push_back(std::move(home));
  // Pseudo and memory file systems hold no backups worth keeping.
  static const std::set<std::string> kPseudo = {"proc",     "sysfs", "devtmpfs", "devpts", "tmpfs",  "cgroup",
                                                "cgroup2",  "mqueue", "securityfs", "debugfs", "tracefs", "pstore",
                                                "bpf",      "autofs", "hugetlbfs",  "configfs", "fusectl", "overlay"};
  for (const platform::MountedFileSystem& mount : platform::MountedFileSystems()) {
    if (kPseudo.count(mount.type) == 0) candidates.push_back(mount.folder);
  }
  return candidates;
}

}  // namespace backup
