#include "platform/fs.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <system_error>

#include "platform/environment.h"

namespace platform {

std::vector<FolderEntry> ListFolder(const fs::path& folder) {
  std::vector<FolderEntry> entries;
  std::error_code ec;
  fs::directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec);
  if (ec) return entries;
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    if (ec) break;
    std::error_code typeError;
    const fs::file_status status = it->symlink_status(typeError);
    FolderEntry entry;
    entry.name = it->path().filename().string();
    entry.isFolder = !typeError && fs::is_directory(status);
    entry.isFile = !typeError && fs::is_regular_file(status);
    entries.push_back(std::move(entry));
  }
  std::sort(entries.begin(), entries.end(),
            [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
  return entries;
}

bool IsRegularFile(const fs::path& path) {
  std::error_code ec;
  return fs::is_regular_file(fs::symlink_status(path, ec)) && !ec;
}

bool IsFolder(const fs::path& path) {
  std::error_code ec;
  return fs::is_directory(fs::symlink_status(path, ec)) && !ec;
}

bool IsFolderOrLinkToOne(const fs::path& path) {
  std::error_code ec;
  return fs::is_directory(path, ec) && !ec;
}

std::string AsciiLower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

bool EqualsIgnoringAsciiCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && AsciiLower(a) == AsciiLower(b);
}

std::optional<fs::path> FindIgnoringCase(const fs::path& base, const std::string& relative) {
  fs::path current = base;
  std::string::size_type start = 0;
  while (start <= relative.size()) {
    std::string::size_type end = relative.find_first_of("/\\", start);
    if (end == std::string::npos) end = relative.size();
    const std::string part = relative.substr(start, end - start);
    start = end + 1;
    if (part.empty() || part == ".") continue;
    if (part == "..") return std::nullopt;  // a lookup stays inside its base
    std::error_code ec;
    const fs::path exact = current / part;
    if (fs::exists(fs::symlink_status(exact, ec)) && !ec && !fs::is_symlink(fs::symlink_status(exact, ec))) {
      current = exact;
      continue;
    }
    bool found = false;
    for (const FolderEntry& entry : ListFolder(current)) {
      if ((entry.isFile || entry.isFolder) && EqualsIgnoringAsciiCase(entry.name, part)) {
        current /= entry.name;
        found = true;
        break;
      }
    }
    if (!found) return std::nullopt;
  }
  if (current == base) return std::nullopt;
  return current;
}

fs::path TempRoot() {
  if (const std::string root = EnvironmentValue("VELMORA_TEMP_DIR"); !root.empty()) return fs::path(root);
  std::error_code ec;
  fs::path root = fs::temp_directory_path(ec);
  return ec ? fs::path("/tmp") : root;
}

TempFolder::TempFolder(const std::string& prefix) {
  fs::path root = TempRoot();
  fs::create_directories(root);
  std::string pattern = (root / (prefix + "-XXXXXX")).string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    throw fs::filesystem_error("cannot make a temporary folder", root,
                               std::error_code(errno, std::generic_category()));
  }
  path_ = pattern;
}

TempFolder::~TempFolder() {
  if (path_.empty()) return;
  std::error_code ec;
  fs::remove_all(path_, ec);
}

TempFolder::TempFolder(TempFolder&& other) noexcept : path_(std::move(other.path_)) {
  other.path_.clear();
}

TempFolder& TempFolder::operator=(TempFolder&& other) noexcept {
  if (this != &other) {
    std::error_code ec;
    if (!path_.empty()) fs::remove_all(path_, ec);
    path_ = std::move(other.path_);
    other.path_.clear();
  }
  return *this;
}

std::optional<std::vector<std::uint8_t>> ReadWholeFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::vector<std::uint8_t> bytes;
  char buffer[65536];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
    bytes.insert(bytes.end(), buffer, buffer + in.gcount());
  }
  if (in.bad()) return std::nullopt;
  return bytes;
}

std::optional<std::vector<std::uint8_t>> ReadFileStart(const fs::path& path, std::size_t maxBytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::vector<std::uint8_t> bytes(maxBytes);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(maxBytes));
  if (in.bad()) return std::nullopt;
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  return bytes;
}

}  // namespace platform
