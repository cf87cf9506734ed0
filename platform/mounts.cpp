#include "platform/mounts.h"

#include <unistd.h>

#include <fstream>
#include <sstream>

namespace platform {

std::vector<MountedFileSystem> MountedFileSystems() {
  std::vector<MountedFileSystem> mounts;
  std::ifstream list("/proc/self/mounts");
  std::string line;
  while (std::getline(list, line)) {
    std::istringstream fields(line);
    std::string device;
    MountedFileSystem mount;
    std::string folder;
    if (!(fields >> device >> folder >> mount.type)) continue;
    mount.folder = folder;
    mounts.push_back(std::move(mount));
  }
  return mounts;
}

bool CanWriteInto(const std::filesystem::path& folder) { return ::access(folder.c_str(), W_OK) == 0; }

}  // namespace platform
