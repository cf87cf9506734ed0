#pragma once
// The file systems mounted on the machine, and whether the user may write
// into a folder: what the choice of a default backup folder needs.
//
// Threads: any thread.

#include <filesystem>
#include <string>
#include <vector>

namespace platform {

struct MountedFileSystem {
  std::filesystem::path folder;  // where it is mounted
  std::string type;              // the file system's type, e.g. "ext4", "tmpfs"
};

// The mounted file systems in the order the system lists them; empty when
// the list cannot be read.
std::vector<MountedFileSystem> MountedFileSystems();

// True when the user running the program may create files in folder.
bool CanWriteInto(const std::filesystem::path& folder);

}  // namespace platform
