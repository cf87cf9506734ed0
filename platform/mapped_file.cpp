#include "platform/mapped_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>

namespace platform {

MappedFile::~MappedFile() {
  if (data_ != nullptr) ::munmap(const_cast<std::uint8_t*>(data_), mappedBytes_);
}

MappedFile::MappedFile(MappedFile&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      fileSize_(std::exchange(other.fileSize_, 0)),
      mappedBytes_(std::exchange(other.mappedBytes_, 0)) {}

MappedFile& MappedFile::operator=(MappedFile&& other) noexcept {
  if (this != &other) {
    if (data_ != nullptr) ::munmap(const_cast<std::uint8_t*>(data_), mappedBytes_);
    data_ = std::exchange(other.data_, nullptr);
    fileSize_ = std::exchange(other.fileSize_, 0);
    mappedBytes_ = std::exchange(other.mappedBytes_, 0);
  }
  return *this;
}

MappedFile MappedFile::Open(const std::string& path, Error& error) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || info.st_size < 0) {
    error = Error::kCannotAccess;
    return {};
  }
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = Error::kCannotOpen;
    return {};
  }
  const auto fileSize = static_cast<std::size_t>(info.st_size);
  const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  // Room for the file and at least one more byte, in whole pages: the part
  // after the file's last page is anonymous memory, which reads as zero, and
  // the rest of the file's last page reads as zero too.
  const std::size_t mappedBytes = (fileSize / page + 1) * page;
  void* base = ::mmap(nullptr, mappedBytes, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (base == MAP_FAILED) {
    ::close(fd);
    error = Error::kNoMemory;
    return {};
  }
  if (fileSize > 0 &&
      ::mmap(base, fileSize, PROT_READ, MAP_PRIVATE | MAP_FIXED | MAP_POPULATE, fd, 0) == MAP_FAILED) {
    ::munmap(base, mappedBytes);
    ::close(fd);
    error = Error::kNoMemory;
    return {};
  }
  ::close(fd);
  MappedFile mapped;
  mapped.data_ = static_cast<const std::uint8_t*>(base);
  mapped.fileSize_ = fileSize;
  mapped.mappedBytes_ = mappedBytes;
  error = Error::kNone;
  return mapped;
}

}  // namespace platform
