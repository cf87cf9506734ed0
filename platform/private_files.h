#pragma once
// Files that hold what must not be seen by others: the decrypted contents of
// an encrypted backup. They live in a private folder (mode 0700) that goes
// when the run ends, however it ends.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace platform {

namespace fs = std::filesystem;

// Removes folder once this process has ended, however it ends (a normal
// end, a stop by a signal, a crash): a small watcher process, outside the
// terminal's process group, waits for the end of this one and then removes
// the folder. Returns false when no watcher could be started.
bool RemoveWhenProcessEnds(const fs::path& folder);

// A new file readable and writable by its owner only (0600), never an
// existing file or a link: written in pieces, then either kept or removed.
class PrivateFileWriter {
 public:
  // Creates path; Ok() tells whether it was created.
  explicit PrivateFileWriter(const fs::path& path);
  ~PrivateFileWriter();
  PrivateFileWriter(const PrivateFileWriter&) = delete;
  PrivateFileWriter& operator=(const PrivateFileWriter&) = delete;

  bool Ok() const { return fd_ >= 0 && !failed_; }
  bool Write(const std::uint8_t* bytes, std::size_t size);
  // Cuts the file to size bytes.
  bool Truncate(std::uint64_t size);
  // Closes the file; false when any write, the cut or the close failed.
  bool Close();

 private:
  int fd_ = -1;
  bool failed_ = false;
};

// Reads a line from the terminal with echo off, after showing prompt on it.
// False when standard input is no terminal (nobody to ask).
bool ReadSecretLineFromTerminal(const char* prompt, std::string& line);

}  // namespace platform
