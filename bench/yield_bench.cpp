// yield_bench: how many deleted rows the readers give back, on databases
// shaped as current phones write them.
//
// Per data category it builds one database per table shape of the phone
// (read at run time from the CREATE statements in ../shared/ios-schemas,
// bench/yield_shapes.cpp) and lives through what a phone does to it, with
// secure_delete off and in WAL mode:
//   1. items written in small transactions (a message with its chat link, a
//      contact with its numbers and full-text row, a note with its data...),
//      each carrying a unique token ("YB" and six digits) at the front of
//      the text the reader shows (message text, contact name, note title,
//      call address, event or reminder title, page address and title, chat
//      message text);
//   2. a fifth of them deleted, as single rows and as runs, then new items
//      written over part of the freed space; then a checkpoint;
//   3. after the checkpoint, without another: some items the checkpoint had
//      copied into the main file deleted; new items written and half of them
//      deleted in later transactions, so that they live only in older frames
//      of the -wal file; a few more items written. The -wal stays beside the
//      database, as a backup keeps it.
// Then the category's reader runs as the program runs it on a folder holding
// the database (recovery::RunAnalysis on the backup index), and its records
// are matched back to the items by their tokens (in the record's JSON):
//   live      tokens of live items among records not marked deleted
//   deleted   tokens of deleted items still in the file among records marked
//             deleted
//   false     records marked deleted that carry no token, or only tokens of
//             live items or of none
//   wal       deleted items found whose record is marked deletedFrom wal
// and beside it, where Debian's sqlite3 program is installed, how many of
// the deleted items still in the file `sqlite3 COPY .recover` prints.
//
// Ground truth, "still in the file": a deleted item counts when the bytes of
// one of its token-bearing rows remain in the main file or in the -wal: the
// record as SQLite serialises it (testing/sqlite_record.h: the serial types
// after the column's affinity, integers in the smallest type, 0 and 1 as
// types 8 and 9 of schema format 4, integral values of REAL columns as
// integers, texts and blobs by length), from its second serial type through
// the end of its body, found intact. A freed cell loses at most its first
// four bytes to SQLite's free-block header, which covers the payload size,
// the rowid and the start of the header, never the second serial type. Rows
// are kept smaller than a page; an item with a row that would spill into
// overflow pages is left out of the deleted counts (listed as "overflow").
//
// Usage: yield_bench [--rows N] [--schemas DIR] [--only CATEGORY]
//   --rows     items per category, split over its shapes (default 2500)
//   --schemas  the schema folder (default ../shared/ios-schemas beside the
//              repository, else beside the current directory); when absent
//              the bench says so and measures nothing
//   --only     one category by the name the table shows

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fstream>
#include <iostream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <unordered_map>
#include <vector>

#include "backup/file_list_db.h"
#include "bench/yield_schema.h"
#include "bench/yield_shapes.h"
#include "platform/fs.h"
#include "readers/category_reader.h"
#include "recovery/analysis.h"
#include "testing/sample_backup.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;
using yield::Random;

constexpr std::uint64_t kSeed = 20240301;
constexpr std::size_t kItemsPerTransaction = 20;
constexpr std::size_t kTokenLength = 8;  // "YB" and six digits

std::string Token(std::size_t item) {
  char text[16];
  std::snprintf(text, sizeof text, "YB%06zu", item);
  return text;
}

// Every token in text, as item numbers.
std::vector<std::size_t> TokensIn(const std::string& text) {
  std::vector<std::size_t> items;
  for (std::size_t at = text.find("YB"); at != std::string::npos; at = text.find("YB", at + 2)) {
    if (at + kTokenLength > text.size()) break;
    std::size_t number = 0;
    bool digits = true;
    for (std::size_t i = at + 2; i < at + kTokenLength && digits; ++i) {
      digits = text[i] >= '0' && text[i] <= '9';
      number = number * 10 + static_cast<std::size_t>(text[i] - '0');
    }
    if (digits) items.push_back(number);
  }
  return items;
}

struct Item {
  std::vector<yield::WrittenRow> rows;     // every row, for its deletion
  std::vector<Bytes> countedRecords;       // the records of its token-bearing rows
  bool deleted = false;
  bool inFile = false;    // deleted, and the bytes of a counted row remain
  bool onlyInWal = false;  // ... in the -wal only
  bool overflow = false;  // a counted row spills into overflow pages
};

// ---- The life of one database ----

class Lifecycle {
 public:
  Lifecycle(yield::Shape& shape, const fs::path& schemas) : shape_(shape), random_(kSeed) {
    shape_.Prepare(schema_, schemas);
  }

  // Runs the whole life and returns the database with its -wal.
  std::unique_ptr<sample::SqliteFile> Run(std::size_t count) {
    // Durability is of no use to a file built for one run; the bytes are
    // the same without the waits.
    std::string setup = "PRAGMA synchronous=OFF;" + schema_.Sql() + "BEGIN;";
    for (const yield::ShapeRow& row : shape_.SetupRows(random_)) {
      // A version's file may lack a table of another's (iOS 16's address
      // book dump has no label table); its setup rows are left out.
      if (!schema_.Has(row.table)) continue;
      yield::WrittenRow written;
      setup += schema_.InsertSql(row.table, row.rowid, row.values, written);
    }
    setup += "COMMIT;";
    setup += Insert(count);
    setup += DeleteShare(Live(0), count / 5);
    setup += Insert(count * 8 / 100);

    std::string recent = DeleteShare(Live(0), count / 25);
    const std::size_t walOnlyFrom = items_.size() + 1;
    recent += Insert(count * 6 / 100);
    recent += DeleteShare(Live(walOnlyFrom), count * 3 / 100);
    recent += Insert(count * 2 / 100);
    return std::make_unique<sample::SqliteFile>(setup, recent, sample::SqliteFile::Journal::kWalPending);
  }

  std::vector<Item>& Items() { return items_; }

 private:
  std::string Insert(std::size_t count) {
    std::string sql;
    for (std::size_t i = 0; i < count; ++i) {
      if (i % kItemsPerTransaction == 0) sql += "BEGIN;";
      Item item;
      const std::size_t number = items_.size() + 1;
      for (const yield::ShapeRow& row : shape_.ItemRows(static_cast<int>(number), Token(number), random_)) {
        yield::WrittenRow written;
        sql += schema_.InsertSql(row.table, row.rowid, row.values, written);
        if (row.counted) item.countedRecords.push_back(written.record);
        item.rows.push_back(std::move(written));
      }
      items_.push_back(std::move(item));
      if (i % kItemsPerTransaction == kItemsPerTransaction - 1 || i + 1 == count) sql += "COMMIT;";
    }
    return sql;
  }

  // Live items numbered from `from` on (1-based), in order.
  std::vector<std::size_t> Live(std::size_t from) const {
    std::vector<std::size_t> live;
    for (std::size_t i = from == 0 ? 0 : from - 1; i < items_.size(); ++i) {
      if (!items_[i].deleted) live.push_back(i);
    }
    return live;
  }

  // Deletes target of the candidates as a phone does: half the time one
  // item, else a run of 2 to 12 neighbours; one transaction each.
  std::string DeleteShare(const std::vector<std::size_t>& candidates, std::size_t target) {
    target = std::min(target, candidates.size());
    std::vector<bool> taken(candidates.size());
    std::size_t done = 0;
    std::string sql;
    while (done < target) {
      const std::size_t start = std::uniform_int_distribution<std::size_t>(0, candidates.size() - 1)(random_);
      const std::size_t length = random_() % 2 == 0 ? 1 : 2 + random_() % 11;
      std::string run;
      for (std::size_t k = start; k < candidates.size() && k < start + length && done < target; ++k) {
        if (taken[k]) continue;
        taken[k] = true;
        ++done;
        Item& item = items_[candidates[k]];
        item.deleted = true;
        for (const yield::WrittenRow& row : item.rows) {
          run += "DELETE FROM \"" + row.table + "\" WHERE rowid=" + std::to_string(row.rowid) + ";";
        }
      }
      if (!run.empty()) sql += "BEGIN;" + run + "COMMIT;";
    }
    return sql;
  }

  yield::Shape& shape_;
  yield::Schema schema_;
  Random random_;
  std::vector<Item> items_;
};

// ---- Ground truth ----

std::size_t PageSize(const Bytes& database) {
  if (database.size() < 100) return 4096;
  const std::size_t size = (std::size_t{database[16]} << 8) | database[17];
  return size == 1 ? 65536 : size;
}

// Finds many byte strings in a file in one pass: each is looked up by 8
// bytes of it (its token where it holds one, else its middle), then
// compared whole.
class ByteFinder {
 public:
  void Add(std::size_t id, const Bytes& needle, const std::string& token) {
    if (needle.size() < 8) return;
    const auto at = std::search(needle.begin(), needle.end(), token.begin(), token.end());
    const std::size_t anchor = at != needle.end() ? static_cast<std::size_t>(at - needle.begin()) : needle.size() / 2 - 4;
    std::uint64_t key = 0;
    std::memcpy(&key, needle.data() + anchor, 8);
    entries_[key].push_back({id, anchor, &needle});
  }

  // Adds to found the ids of the needles that occur in file.
  void Scan(const Bytes& file, std::set<std::size_t>& found) const {
    for (std::size_t p = 0; p + 8 <= file.size(); ++p) {
      std::uint64_t key = 0;
      std::memcpy(&key, file.data() + p, 8);
      const auto entry = entries_.find(key);
      if (entry == entries_.end()) continue;
      for (const Needle& needle : entry->second) {
        if (p < needle.anchor || p - needle.anchor + needle.bytes->size() > file.size()) continue;
        if (std::equal(needle.bytes->begin(), needle.bytes->end(), file.begin() + static_cast<std::ptrdiff_t>(p - needle.anchor))) {
          found.insert(needle.id);
        }
      }
    }
  }

 private:
  struct Needle {
    std::size_t id;
    std::size_t anchor;
    const Bytes* bytes;
  };
  std::unordered_map<std::uint64_t, std::vector<Needle>> entries_;
};

void MarkInFile(std::vector<Item>& items, const Bytes& database, const Bytes& wal) {
  const std::size_t maxLocal = sample::MaxLocalPayload(PageSize(database));
  std::vector<Bytes> needles;
  std::vector<std::size_t> owners;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (!items[i].deleted) continue;
    for (const Bytes& record : items[i].countedRecords) {
      if (record.size() > maxLocal) items[i].overflow = true;
      needles.emplace_back(record.begin() + static_cast<std::ptrdiff_t>(sample::SecondSerialTypeOffset(record)),
                           record.end());
      owners.push_back(i);
    }
  }
  ByteFinder finder;
  for (std::size_t n = 0; n < needles.size(); ++n) finder.Add(n, needles[n], Token(owners[n] + 1));
  std::set<std::size_t> inDatabase;
  std::set<std::size_t> inWal;
  finder.Scan(database, inDatabase);
  finder.Scan(wal, inWal);
  for (const std::size_t n : inWal) {
    Item& item = items[owners[n]];
    item.inFile = !item.overflow;
    item.onlyInWal = item.inFile;
  }
  for (const std::size_t n : inDatabase) {
    Item& item = items[owners[n]];
    item.inFile = !item.overflow;
    item.onlyInWal = false;
  }
}

// ---- What the reader and .recover give back ----

struct Tally {
  std::size_t live = 0, liveFound = 0;
  std::size_t deleted = 0, inFile = 0, onlyInWal = 0, overflow = 0, deletedFound = 0, walMarked = 0;
  std::size_t deletedRecords = 0, falseRecords = 0, goneButFound = 0;
  long recoverFound = -1;  // -1: not run
  std::string problem;
  double seconds = 0;
};

void Visit(const readers::ICategoryReader& reader, const db::BaseItem& record, const std::vector<Item>& items,
           std::set<std::size_t>& liveFound, std::set<std::size_t>& deletedFound, std::set<std::size_t>& walMarked,
           Tally& tally) {
  if (dynamic_cast<const db::FriendItem*>(&record) != nullptr) {
    for (const db::BaseItem* member : readers::Members(record)) {
      Visit(reader, *member, items, liveFound, deletedFound, walMarked, tally);
    }
    return;
  }
  bool hit = false;
  for (const std::size_t number : TokensIn(reader.RecordJson(record).dump())) {
    if (number == 0 || number > items.size()) continue;
    const Item& item = items[number - 1];
    if (record.deleted == 0) {
      if (!item.deleted) liveFound.insert(number);
    } else if (item.inFile) {
      hit = true;
      deletedFound.insert(number);
      if (record.deletedFrom == db::BaseItem::DeletedFrom::kWal) walMarked.insert(number);
    } else if (item.deleted && !item.overflow) {
      hit = true;
      ++tally.goneButFound;
    }
  }
  if (record.deleted != 0) {
    ++tally.deletedRecords;
    if (!hit) ++tally.falseRecords;
  }
}

void RunReader(const yield::Shape& shape, const sample::SqliteFile& database, const std::vector<Item>& items,
               Tally& tally) {
  platform::TempFolder folder("velmora-yield");
  sample::SampleBackupBuilder builder;
  builder.AddDatabase(shape.domain, shape.relativePath, database);
  shape.AddCompanionFiles(builder);
  builder.Write(folder.Path() / "backup", sample::BackupMode::kFolder);
  backup::CFileListDB index;
  if (const base::Status opened = index.Open((folder.Path() / "backup").string(), -1); !opened.Ok()) {
    tally.problem = opened.Text();
    return;
  }
  std::unique_ptr<readers::ICategoryReader> reader;
  recovery::RunAnalysis(shape.categoryNumber, index, reader, nullptr);
  if (!reader) {
    tally.problem = "no reader";
    return;
  }
  for (const readers::FileProblem& problem : reader->Problems()) tally.problem += problem.status.Text() + "; ";
  reader->ChooseAccount(0);
  std::set<std::size_t> liveFound, deletedFound, walMarked;
  for (const db::BaseItem* record : reader->ResultList()) {
    if (record != nullptr) Visit(*reader, *record, items, liveFound, deletedFound, walMarked, tally);
  }
  tally.liveFound = liveFound.size();
  tally.deletedFound = deletedFound.size();
  tally.walMarked = walMarked.size();
}

// Runs `sqlite3 database .recover`, its output into output; returns the
// first line it wrote on stderr when it failed, else "".
std::string RunRecover(const fs::path& database, const fs::path& output) {
  const fs::path errors = output.string() + ".err";
  const std::string command =
      "sqlite3 '" + database.string() + "' .recover > '" + output.string() + "' 2> '" + errors.string() + "'";
  if (std::system(command.c_str()) == 0) return "";
  std::ifstream in(errors);
  std::string text;
  for (std::string line; std::getline(in, line);) text += (text.empty() ? "" : " ") + line;
  return text.empty() ? "exit status not 0" : text;
}

// The sqlite3 program's version, and whether its .recover works: Debian's
// library may lack the sqlite_dbpage table it reads. available is false
// without the program.
struct RecoverTool {
  bool available = false;
  std::string version;
  std::string failure;  // why .recover does not run; "" when it does
};

RecoverTool ProbeRecover() {
  RecoverTool tool;
  FILE* pipe = popen("sqlite3 -version 2>/dev/null", "r");
  if (pipe == nullptr) return tool;
  char line[256] = {};
  const bool read = std::fgets(line, sizeof line, pipe) != nullptr;
  pclose(pipe);
  if (!read) return tool;
  tool.available = true;
  tool.version = std::string(line).substr(0, std::string(line).find(' '));
  platform::TempFolder folder("velmora-yield-probe");
  sample::SqliteFile("CREATE TABLE t (a TEXT); INSERT INTO t VALUES ('probe');").WriteTo(folder.Path() / "probe.db");
  tool.failure = RunRecover(folder.Path() / "probe.db", folder.Path() / "probe.sql");
  const std::string dbpage = "sqlite3 '" + (folder.Path() / "probe.db").string() +
                             "' 'SELECT count(*) FROM sqlite_dbpage;' > /dev/null 2>&1";
  if (!tool.failure.empty() && std::system(dbpage.c_str()) != 0) {
    tool.failure += " (its library has no sqlite_dbpage table, which .recover reads)";
  }
  return tool;
}

// Tokens of in-file deleted items in what `sqlite3 COPY .recover` prints, on
// a copy of the database and its -wal; -1 when it fails.
long RecoverFound(const sample::SqliteFile& database, const std::vector<Item>& items) {
  platform::TempFolder folder("velmora-yield-recover");
  const fs::path copy = folder.Path() / "copy.db";
  const fs::path output = folder.Path() / "recovered.sql";
  database.WriteTo(copy);
  if (!RunRecover(copy, output).empty()) return -1;
  std::ifstream in(output, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  std::set<std::size_t> found;
  for (const std::size_t number : TokensIn(text.str())) {
    if (number >= 1 && number <= items.size() && items[number - 1].inFile) found.insert(number);
  }
  return static_cast<long>(found.size());
}

// ---- Output ----

std::string Ratio(std::size_t part, std::size_t whole) { return std::to_string(part) + "/" + std::to_string(whole); }

std::string Percent(std::size_t part, std::size_t whole) {
  if (whole == 0) return "-";
  char text[16];
  std::snprintf(text, sizeof text, "%.1f%%", 100.0 * static_cast<double>(part) / static_cast<double>(whole));
  return text;
}

void PrintRow(const std::vector<std::string>& cells) {
  static const int kWidths[] = {-10, -30, 12, 12, 8, 9, 8, 5, 9};
  for (std::size_t i = 0; i < cells.size(); ++i) std::printf("%*s ", kWidths[i], cells[i].c_str());
  std::printf("\n");
}

struct Options {
  std::size_t rows = 2500;
  fs::path schemas;
  std::string only;
};

bool ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    if (i + 1 >= argc) return false;
    const std::string value = argv[++i];
    if (option == "--rows") options.rows = static_cast<std::size_t>(std::max(10L, std::atol(value.c_str())));
    else if (option == "--schemas") options.schemas = value;
    else if (option == "--only") options.only = value;
    else return false;
  }
  return true;
}

fs::path DefaultSchemas() {
  for (const fs::path& root : {fs::path(VELMORA_SOURCE_DIR), fs::current_path()}) {
    const fs::path folder = root / ".." / "shared" / "ios-schemas";
    if (fs::is_directory(folder)) return folder;
  }
  return {};
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    std::cerr << "usage: yield_bench [--rows N] [--schemas DIR] [--only CATEGORY]\n";
    return 2;
  }
  if (options.schemas.empty()) options.schemas = DefaultSchemas();
  if (options.schemas.empty() || !fs::is_directory(options.schemas)) {
    std::cout << "yield_bench: no schema folder "
              << (options.schemas.empty() ? "../shared/ios-schemas" : options.schemas.string())
              << "; nothing measured\n";
    return 0;
  }
  const RecoverTool recover = ProbeRecover();
  const bool runRecover = recover.available && recover.failure.empty();
  std::vector<std::unique_ptr<yield::Shape>> shapes = yield::MakeShapes();
  std::unordered_map<std::string, std::size_t> shapesOfCategory;
  for (const auto& shape : shapes) ++shapesOfCategory[shape->category];

  std::printf("yield_bench: databases built with SQLite %s, secure_delete off, WAL; seed %llu; %zu items per category\n",
              sqlite3_libversion(), static_cast<unsigned long long>(kSeed), options.rows);
  if (!recover.available) {
    std::printf(".recover: no sqlite3 program (Debian's sqlite3 package)\n\n");
  } else {
    std::printf(".recover: sqlite3 %s%s%s\n\n", recover.version.c_str(),
                runRecover ? "" : ", which cannot recover here: ", recover.failure.c_str());
  }
  PrintRow({"category", "shape", "live", "deleted", "(%)", "false", "(%)", "wal", ".recover"});
  const auto begun = Clock::now();
  for (const auto& shape : shapes) {
    if (!options.only.empty() && shape->category != options.only) continue;
    const auto started = Clock::now();
    Tally tally;
    try {
      Lifecycle life(*shape, options.schemas);
      const auto database = life.Run(std::max<std::size_t>(10, options.rows / shapesOfCategory[shape->category]));
      std::vector<Item>& items = life.Items();
      MarkInFile(items, database->DatabaseBytes(), database->WalBytes());
      for (const Item& item : items) {
        tally.live += item.deleted ? 0 : 1;
        tally.deleted += item.deleted ? 1 : 0;
        tally.inFile += item.inFile ? 1 : 0;
        tally.onlyInWal += item.onlyInWal ? 1 : 0;
        tally.overflow += item.overflow ? 1 : 0;
      }
      RunReader(*shape, *database, items, tally);
      if (runRecover) tally.recoverFound = RecoverFound(*database, items);
    } catch (const std::exception& error) {
      tally.problem = error.what();
    }
    tally.seconds = std::chrono::duration<double>(Clock::now() - started).count();
    PrintRow({shape->category, shape->name, Ratio(tally.liveFound, tally.live), Ratio(tally.deletedFound, tally.inFile),
              Percent(tally.deletedFound, tally.inFile), std::to_string(tally.falseRecords),
              Percent(tally.falseRecords, tally.deletedRecords), std::to_string(tally.walMarked),
              tally.recoverFound < 0 ? "-" : Ratio(static_cast<std::size_t>(tally.recoverFound), tally.inFile)});
    std::printf("%10s   %zu deleted, %zu of them still in the file (%zu only in the -wal), %zu with overflow rows; %.1f s\n",
                "", tally.deleted, tally.inFile, tally.onlyInWal, tally.overflow, tally.seconds);
    if (tally.goneButFound > 0) {
      std::printf("%10s   %zu records of deleted items whose rows are no longer whole in the file\n", "",
                  tally.goneButFound);
    }
    if (!tally.problem.empty()) std::printf("%10s   problem: %s\n", "", tally.problem.c_str());
  }
  std::printf("\ntotal %.1f s\n", std::chrono::duration<double>(Clock::now() - begun).count());
  return 0;
}
