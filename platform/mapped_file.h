#pragma once
// A whole file mapped into memory read-only, followed by at least one zero
// byte: the form in which the deleted-row scanner reads a database. Mapping
// instead of reading saves copying the file and faulting in fresh memory,
// which is most of the cost of scanning a large database.
//
// The file must not shrink while it is mapped (reading past a truncated end
// would fault); the files mapped here are backup files and private working
// copies, which nothing changes.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace platform {

class MappedFile {
 public:
  enum class Error { kNone, kCannotAccess, kCannotOpen, kNoMemory };

  MappedFile() = default;
  ~MappedFile();
  MappedFile(MappedFile&& other) noexcept;
  MappedFile& operator=(MappedFile&& other) noexcept;
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  // Maps path; on failure returns an empty object and sets error:
  // kCannotAccess when its size cannot be read, kCannotOpen when it cannot
  // be opened for reading, kNoMemory when it cannot be mapped.
  static MappedFile Open(const std::string& path, Error& error);

  // The file's bytes followed by one zero byte (size() == FileSize() + 1).
  std::span<const std::uint8_t> BytesWithTrailingZero() const { return {data_, fileSize_ + 1}; }
  std::size_t FileSize() const { return fileSize_; }

 private:
  const std::uint8_t* data_ = nullptr;
  std::size_t fileSize_ = 0;
  std::size_t mappedBytes_ = 0;
};

}  // namespace platform
