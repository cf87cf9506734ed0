#pragma once
// What a folder holds, to show that reading a backup changed nothing in it.

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace sample {

// Every entry below folder, by relative path, with its bytes (folders and
// links map to a marker). Two snapshots compare equal exactly when no file
// was created, changed or deleted.
using FolderSnapshot = std::map<std::string, std::vector<unsigned char>>;
FolderSnapshot SnapshotFolder(const std::filesystem::path& folder);

}  // namespace sample
