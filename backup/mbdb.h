#pragma once
// Manifest.mbdb, the manifest of older backups: a header and a list of file
// records. The format is laid out in docs/formats/mbdb.md.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace backup {

struct MbdbRecord {
  // Strings as read; absent ones (length 0xFFFF) are nullopt.
  std::optional<std::string> domain;
  std::optional<std::string> path;
  std::optional<std::string> linkTarget;
  std::optional<std::string> dataHash;
  std::optional<std::string> encryptionKey;
  std::uint16_t mode = 0;
  std::uint32_t inodeHigh = 0;
  std::uint32_t inodeLow = 0;
  std::uint32_t userId = 0;
  std::uint32_t groupId = 0;
  std::uint32_t lastModified = 0;
  std::uint32_t lastAccessed = 0;
  std::uint32_t created = 0;
  std::uint64_t size = 0;
  std::uint8_t flag = 0;
  std::vector<std::pair<std::string, std::string>> properties;
  std::size_t lengthBytes = 0;  // the record's length in the file

  bool IsRegularFile() const { return (mode & 0xF000) == 0x8000; }
};

// The parsed manifest: its records in file order (each holds copies of its
// strings, so the file's bytes are not kept).
class MbdbIndex {
 public:
  // Parses a manifest held in memory. Returns nothing when the header is not
  // "mbdb" 5.0 or the buffer is empty. A record cut short ends the walk; the
  // records before it are kept (and a line goes to stderr).
  static std::optional<MbdbIndex> Parse(std::span<const std::uint8_t> data);
  // Reads and parses a file; nothing when it cannot be read or parsed.
  static std::optional<MbdbIndex> ParseFile(const std::string& path);

  const std::vector<MbdbRecord>& Records() const { return records_; }
  std::size_t Count() const { return records_.size(); }

 private:
  std::vector<MbdbRecord> records_;
};

// Parses one record at offset of data; nothing when it runs past the end.
std::optional<MbdbRecord> ParseMbdbRecord(std::span<const std::uint8_t> data, std::size_t offset);

}  // namespace backup
