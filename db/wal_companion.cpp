#include "db/wal_companion.h"

#include <filesystem>
#include <system_error>

namespace db {
namespace {

bool IsNonEmptyFile(const std::string& path) {
  std::error_code ec;
  if (!platform::IsRegularFile(path)) return false;
  const auto size = std::filesystem::file_size(path, ec);
  return !ec && size > 0;
}

}  // namespace

std::optional<std::string> WalCompanionOf(const std::string& databasePath, const std::string& storedWalPath) {
  const std::string candidate = storedWalPath.empty() ? databasePath + "-wal" : storedWalPath;
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
