#include "testing/folder_snapshot.h"

#include "platform/fs.h"

namespace sample {

FolderSnapshot SnapshotFolder(const std::filesystem::path& folder) {
  namespace fs = std::filesystem;
  FolderSnapshot snapshot;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string relative = fs::relative(it->path(), folder).string();
    if (it->is_symlink()) {
      snapshot[relative] = {'@'};
    } else if (it->is_directory()) {
      snapshot[relative] = {'/'};
    } else {
      auto bytes = platform::ReadWholeFile(it->path());
      snapshot[relative] = bytes ? std::vector<unsigned char>(bytes->begin(), bytes->end())
                                 : std::vector<unsigned char>{'?'};
    }
  }
  return snapshot;
}

}  // namespace sample
