#pragma once
// File-system helpers for reading backups. None of them follows a symbolic
// link, so a link cycle inside a backup cannot make a walk run for ever, and
// none of them writes anything except TempFolder, which writes only below the
// temporary root.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace platform {

namespace fs = std::filesystem;

// One entry of a folder listing.
struct FolderEntry {
  std::string name;
  bool isFolder = false;  // a real folder, not a link to one
  bool isFile = false;    // a regular file, not a link to one
};

// The entries of a folder sorted by name, without "." and "..", symbolic
// links reported as neither file nor folder. Empty when the folder cannot be
// listed.
std::vector<FolderEntry> ListFolder(const fs::path& folder);

// True when path names a regular file (a link to a file does not count).
bool IsRegularFile(const fs::path& path);
// True when path names a folder (a link to a folder does not count).
bool IsFolder(const fs::path& path);
// True when path names a folder or a link to one: for a folder the user
// names, which may well be a link, unlike the entries of a walk.
bool IsFolderOrLinkToOne(const fs::path& path);

// Resolves a relative path below base, matching each component ignoring ASCII
// case where no exact match exists (backups made on case-insensitive file
// systems name "Manifest.db" as "manifest.db" too). Separators may be '/' or
// '\\'. Returns the existing path, or nothing. Links are not followed.
std::optional<fs::path> FindIgnoringCase(const fs::path& base, const std::string& relative);

// ASCII-only case folding, as the backup formats compare names.
std::string AsciiLower(std::string text);
bool EqualsIgnoringAsciiCase(const std::string& a, const std::string& b);

// The root for temporary folders: $VELMORA_TEMP_DIR when set, else the
// system's temporary folder.
fs::path TempRoot();

// A private folder below TempRoot(), made on construction and removed with
// everything in it on destruction. Not copyable; movable.
class TempFolder {
 public:
  // Throws std::filesystem::filesystem_error when the folder cannot be made.
  explicit TempFolder(const std::string& prefix = "velmora");
  ~TempFolder();
  TempFolder(TempFolder&& other) noexcept;
  TempFolder& operator=(TempFolder&& other) noexcept;
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const fs::path& Path() const { return path_; }

 private:
  fs::path path_;
};

// Reads a whole file. Returns nothing when it cannot be opened or read (a
// folder opens but cannot be read: that too gives nothing, never an
// exception).
std::optional<std::vector<std::uint8_t>> ReadWholeFile(const fs::path& path);
// Reads the first maxBytes bytes of a file, or all of a shorter one: for a
// look at a header without loading a database that may be large. Returns
// nothing when it cannot be opened or read, as ReadWholeFile.
std::optional<std::vector<std::uint8_t>> ReadFileStart(const fs::path& path, std::size_t maxBytes);

}  // namespace platform
