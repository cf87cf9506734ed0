#pragma once
// The databases of the yield benchmark: per data category one or more
// shapes of the phone's real tables, each knowing where its database lies
// in a backup, which tables it has, the rows every phone has in it (handles,
// chats, folders, lists: no token) and the rows of one item, the unit that
// carries one token: a message with its chat link, a contact with its
// numbers and full-text row, a note object with its note data, a page with
// its visit. Values are what the phone writes: its time units, UUIDs where
// the table has them, texts of varied length, NULL where it leaves one.
//
// Thread-safety: a shape is used by one thread; its random values come from
// the generator it is handed, so a fixed seed gives the same rows.

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench/yield_schema.h"
#include "testing/sample_backup.h"

namespace yield {

using Random = std::mt19937_64;

// One row an item or the setup writes. counted: the row holds the item's
// token in a field the reader shows, so its bytes in the file make the
// item recoverable.
struct ShapeRow {
  std::string table;
  std::int64_t rowid = 0;
  RowValues values;
  bool counted = false;
};

class Shape {
 public:
  Shape(std::string categoryName, std::string shapeName, int number, std::string backupDomain, std::string path)
      : category(std::move(categoryName)),
        name(std::move(shapeName)),
        categoryNumber(number),
        domain(std::move(backupDomain)),
        relativePath(std::move(path)) {}
  virtual ~Shape() = default;

  // Adds the shape's tables, read from the schema files in schemas.
  // Throws std::runtime_error when a file is missing or unreadable.
  virtual void Prepare(Schema& schema, const fs::path& schemas) = 0;
  // The rows written before any item (none unless a shape has some).
  virtual std::vector<ShapeRow> SetupRows(Random& random) {
    (void)random;
    return {};
  }
  // The rows of item number `item` (1, 2, ...) carrying token.
  virtual std::vector<ShapeRow> ItemRows(int item, const std::string& token, Random& random) = 0;
  // Files the reader needs besides the database (a chat account's own).
  virtual void AddCompanionFiles(sample::SampleBackupBuilder& builder) const { (void)builder; }

  const std::string category;
  const std::string name;
  const int categoryNumber;
  const std::string domain;
  const std::string relativePath;

 protected:
  // The next rowid of a table: 1, 2, ... (never one used before, as an
  // AUTOINCREMENT table or Core Data hands them out).
  std::int64_t Next(const std::string& table) { return ++lastRowid_[table]; }

 private:
  std::map<std::string, std::int64_t> lastRowid_;
};

// Every shape, in the order the table lists them.
std::vector<std::unique_ptr<Shape>> MakeShapes();

}  // namespace yield
