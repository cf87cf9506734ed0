#include "platform/copy_new_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <string_view>
#include <utility>

#include "platform/replace_file.h"

namespace platform {
namespace {

std::error_code LastError() { return std::error_code(errno, std::generic_category()); }

// Closes a descriptor when it goes out of scope.
struct Closer {
  int fd;
  ~Closer() {
    if (fd >= 0) ::close(fd);
  }
};

// Copies from in to out until the end of in, or until stop says so.
std::error_code CopyChunks(int in, int out, const std::function<bool()>& stop) {
  const auto buffer = std::make_unique_for_overwrite<char[]>(kCopyChunkBytes);
  while (true) {
    if (stop && stop()) return std::make_error_code(std::errc::operation_canceled);
    const ssize_t count = ::read(in, buffer.get(), kCopyChunkBytes);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) return LastError();
    if (count == 0) return {};
    if (!WriteAll(out, std::string_view(buffer.get(), static_cast<std::size_t>(count)))) return LastError();
  }
}

}  // namespace

std::error_code CopyToNewFile(const std::filesystem::path& source, const std::filesystem::path& target,
                              const std::function<bool()>& stop) {
  const Closer in{::open(source.c_str(), O_RDONLY | O_CLOEXEC)};
  if (in.fd < 0) return LastError();
  struct stat status {};
  if (::fstat(in.fd, &status) != 0) return LastError();
  if (!S_ISREG(status.st_mode)) return std::make_error_code(std::errc::invalid_argument);
  if (stop && stop()) return std::make_error_code(std::errc::operation_canceled);
  // O_EXCL with O_NOFOLLOW: a file or link made there meanwhile is refused,
  // never written through.
  Closer out{::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666)};
  if (out.fd < 0) return LastError();
  std::error_code error = CopyChunks(in.fd, out.fd, stop);
  if (!error && ::close(std::exchange(out.fd, -1)) != 0) error = LastError();
  if (error) {
    std::error_code ignored;
    std::filesystem::remove(target, ignored);
  }
  return error;
}

}  // namespace platform
