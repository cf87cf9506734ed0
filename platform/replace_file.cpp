#include "platform/replace_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <string>
#include <utility>
#include <vector>

namespace platform {
namespace {

namespace fs = std::filesystem;

// How many temporary names are tried when one exists already (left by a
// run that crashed, or made by a writer in another process this instant).
constexpr int kTemporaryNameAttempts = 16;

std::error_code LastError() { return std::error_code(errno, std::generic_category()); }

// An open descriptor, closed when it goes out of scope.
class Descriptor {
 public:
  Descriptor() = default;
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() { Close(); }
  Descriptor(Descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Descriptor& operator=(Descriptor&& other) noexcept {
    if (this != &other) {
      Close();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;

  int Get() const { return fd_; }
  // Closes now; false when the close failed, which for a file just written
  // can be the first report of a failed write.
  bool Close() {
    if (fd_ < 0) return true;
    return ::close(std::exchange(fd_, -1)) == 0;
  }

 private:
  int fd_ = -1;
};

// The reason opening entry of folder failed, a link there told as such.
std::error_code OpenError(int folder, const std::string& entry) {
  const std::error_code error = LastError();
  struct stat status {};
  if (::fstatat(folder, entry.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(status.st_mode)) {
    return std::make_error_code(std::errc::too_many_symbolic_link_levels);
  }
  return error;
}

// Opens an absolute folder one component at a time from the root, refusing
// a link at every step: a check of the path first and an open after it
// would leave a moment in which a link could be put in its way. ".." steps
// up from the folder reached, which holds no link. The folders on the way
// are only passed through (they need not be readable); the last is opened
// for reading, so that it can be flushed.
std::error_code OpenFolderWithoutLinks(const fs::path& folder, Descriptor& out) {
#ifdef O_PATH
  constexpr int kPassFlags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
#else
  constexpr int kPassFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
#endif
  constexpr int kLastFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
  std::vector<std::string> parts;
  for (const fs::path& part : folder.relative_path()) {
    if (!part.empty() && part != ".") parts.push_back(part.string());  // empty: a trailing separator
  }
  Descriptor current(::open("/", parts.empty() ? kLastFlags : kPassFlags));
  if (current.Get() < 0) return LastError();
  for (std::size_t i = 0; i < parts.size(); ++i) {
    Descriptor next(::openat(current.Get(), parts[i].c_str(), i + 1 == parts.size() ? kLastFlags : kPassFlags));
    if (next.Get() < 0) return OpenError(current.Get(), parts[i]);
    current = std::move(next);
  }
  out = std::move(current);
  return {};
}

std::string TemporaryName(const std::string& name) {
  static std::atomic<unsigned> counter{0};
  return "." + name + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
}

// Makes a new temporary file in folder; its name goes to temporaryName.
std::error_code CreateTemporary(int folder, const std::string& name, std::string& temporaryName, Descriptor& out) {
  for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
    temporaryName = TemporaryName(name);
    Descriptor file(
        ::openat(folder, temporaryName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (file.Get() >= 0) {
      out = std::move(file);
      return {};
    }
    if (errno != EEXIST) return LastError();
  }
  return std::make_error_code(std::errc::file_exists);
}

// Writes, flushes and closes the temporary file, then renames it over name.
std::error_code FillAndRename(int folder, Descriptor file, const std::string& temporaryName, const std::string& name,
                              const std::function<bool(int descriptor)>& write) {
  if (!write(file.Get())) return std::make_error_code(std::errc::io_error);
  if (::fsync(file.Get()) != 0) return LastError();
  if (!file.Close()) return LastError();
  if (::renameat(folder, temporaryName.c_str(), folder, name.c_str()) != 0) return LastError();
  return {};
}

}  // namespace

std::error_code ReplaceFileWith(const fs::path& target, const std::function<bool(int descriptor)>& write) {
  std::error_code error;
  const fs::path absolute = fs::absolute(target, error);
  if (error) return error;
  const std::string name = absolute.filename().string();
  if (name.empty() || name == "." || name == "..") return std::make_error_code(std::errc::invalid_argument);

  // The folder as the user's own links lead to it (a configuration folder
  // kept elsewhere, /home itself a link on some systems), resolved once; it
  // is then opened without following any link, so none can be swapped in
  // meanwhile.
  const fs::path folderPath = fs::canonical(absolute.parent_path(), error);
  if (error) return error;
  Descriptor folder;
  if ((error = OpenFolderWithoutLinks(folderPath, folder))) return error;
  struct stat status {};
  if (::fstatat(folder.Get(), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(status.st_mode)) {
    return std::make_error_code(std::errc::too_many_symbolic_link_levels);
  }
  std::string temporaryName;
  Descriptor file;
  if ((error = CreateTemporary(folder.Get(), name, temporaryName, file))) return error;
  try {
    error = FillAndRename(folder.Get(), std::move(file), temporaryName, name, write);
  } catch (...) {
    ::unlinkat(folder.Get(), temporaryName.c_str(), 0);
    throw;
  }
  if (error) {
    ::unlinkat(folder.Get(), temporaryName.c_str(), 0);
    return error;
  }
  // The rename is on the disk only once the folder is. A file system that
  // cannot flush a folder (EINVAL) keeps its renames by its own means.
  if (::fsync(folder.Get()) != 0 && errno != EINVAL) return LastError();
  return {};
}

std::error_code ReplaceFile(const fs::path& target, std::string_view bytes) {
  return ReplaceFileWith(target, [bytes](int descriptor) { return WriteAll(descriptor, bytes); });
}

bool WriteAll(int descriptor, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(descriptor, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

}  // namespace platform
