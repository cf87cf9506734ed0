#include "db/wal_companion.h"

#include <map>
#include <mutex>

namespace db {
namespace {

std::mutex& RegistryMutex() {
  static std::mutex mutex;
  return mutex;
}

std::map<std::string, std::string>& Registry() {
  static std::map<std::string, std::string> registry;
  return registry;
}

bool IsNonEmptyFile(const std::string& path) {
  std::error_code ec;
  if (!platform::IsRegularFile(path)) return false;
  const auto size = std::filesystem::file_size(path, ec);
  return !ec && size > 0;
}

}  // namespace

void RegisterWalCompanion(const std::string& databasePath, const std::string& walPath) {
  std::lock_guard<std::mutex> lock(RegistryMutex());
  Registry()[databasePath] = walPath;
}

std::optional<std::string> WalCompanionOf(const std::string& databasePath) {
  std::string candidate;
  {
    std::lock_guard<std::mutex> lock(RegistryMutex());
    const auto it = Registry().find(databasePath);
    candidate = it != Registry().end() ? it->second : databasePath + "-wal";
  }
  if (IsNonEmptyFile(candidate)) return candidate;
  return std::nullopt;
}

WorkingCopy::WorkingCopy(const std::string& databasePath, const std::string& walPath)
    : folder_("velmora-db") {
  namespace fs = std::filesystem;
  const fs::path name = fs::path(databasePath).filename();
  const fs::path copy = folder_.Path() / name;
  fs::copy_file(databasePath, copy);
  fs::copy_file(walPath, fs::path(copy.string() + "-wal"));
  databasePath_ = copy.string();
}

}  // namespace db
