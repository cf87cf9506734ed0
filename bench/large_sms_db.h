#pragma once
// A large sms.db for the benchmarks: the iOS 14 tables `handle` and `message`
// (with its guid index, as on the phone) filled with realistic messages up to
// a file size, then a quarter of the messages deleted with secure_delete off,
// so that their bytes stay in free blocks and free pages as on a phone.
//
// The rows are the same for the same size: the generator has a fixed seed.

#include <cstdint>
#include <filesystem>

namespace bench {

struct LargeSmsDbFigures {
  std::int64_t rowsWritten = 0;
  std::int64_t rowsDeleted = 0;
  std::uint64_t fileBytes = 0;
  int pageSize = 0;
};

// Writes the database at path, replacing a file already there. Rows are
// written until the file reaches targetBytes; the deleted quarter is every
// eighth row plus one run of consecutive rows (whole pages go to the free
// list). Throws std::runtime_error with SQLite's text when a statement fails.
// Not thread-safe with respect to the same path.
LargeSmsDbFigures WriteLargeSmsDb(const std::filesystem::path& path, std::uint64_t targetBytes);

// The figures of a database WriteLargeSmsDb wrote earlier: the rows written
// are the highest ROWID handed out, the deleted ones those no longer live.
// Throws std::runtime_error when the file cannot be read as such.
LargeSmsDbFigures ReadLargeSmsDbFigures(const std::filesystem::path& path);

}  // namespace bench
