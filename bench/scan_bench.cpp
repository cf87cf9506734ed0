// scan_bench: how fast the deleted-row scanner reads an sms.db, against
// SQLite reading the same table.
//
//   scan_bench [--size-mb N] [--runs N] [--reuse | --build-only] [PATH]
//
// Builds an iOS 14 sms.db of about N MB (default 400; MB = 10^6 bytes) at
// PATH, or in a temporary folder removed at the end, with a quarter of its
// messages deleted. With --reuse an existing file at PATH is taken as it is;
// --build-only stops once the file is written.
// Then it times the scan of the message table (layout 8, 74 columns), once
// handing rows to a sink that counts them and once into a row list, and
// SQLite's `SELECT *` of the table stepping every row and reading every
// column. Each is run once untimed, so that all read a file in the page
// cache, then N times (default 3); the best time is printed.

#include <sqlite3.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <unordered_set>

#include "bench/large_sms_db.h"
#include "db/undark/undark.h"
#include "platform/fs.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kMessageLayout = 8;
constexpr int kMessageColumns = 74;
constexpr double kBytesPerMb = 1e6;

struct Options {
  std::uint64_t sizeMb = 400;
  int runs = 3;
  bool reuse = false;
  bool buildOnly = false;
  std::string path;
};

[[noreturn]] void Usage() {
  std::fprintf(stderr, "usage: scan_bench [--size-mb N] [--runs N] [--reuse | --build-only] [PATH]\n");
  std::exit(2);
}

Options ParseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if ((arg == "--size-mb" || arg == "--runs") && i + 1 < argc) {
      const long value = std::strtol(argv[++i], nullptr, 10);
      if (value < 1) Usage();
      if (arg == "--runs") {
        options.runs = static_cast<int>(value);
      } else {
        options.sizeMb = static_cast<std::uint64_t>(value);
      }
    } else if (arg == "--reuse") {
      options.reuse = true;
    } else if (arg == "--build-only") {
      options.buildOnly = true;
    } else if (!arg.empty() && arg[0] != '-' && options.path.empty()) {
      options.path = arg;
    } else {
      Usage();
    }
  }
  if ((options.reuse || options.buildOnly) && options.path.empty()) Usage();
  if (options.reuse && options.buildOnly) Usage();
  return options;
}

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

struct Timing {
  double firstSeconds = 0;  // the warm-up call
  double bestSeconds = 0;   // the best of the timed calls after it
};

// Calls scan once to warm up, then runs times, timing every call; prepare
// runs untimed before each.
template <typename Scan, typename Prepare = void (*)()>
Timing TimeRuns(int runs, const Scan& scan, const Prepare& prepare = [] {}) {
  Timing timing;
  for (int run = 0; run <= runs; ++run) {
    prepare();
    const Clock::time_point start = Clock::now();
    scan();
    const double seconds = SecondsSince(start);
    if (run == 0) {
      timing.firstSeconds = seconds;
    } else if (run == 1 || seconds < timing.bestSeconds) {
      timing.bestSeconds = seconds;
    }
  }
  return timing;
}

void CheckScan(const base::Status& status) {
  if (!status.Ok()) throw std::runtime_error("scan failed: " + status.Text());
}

struct RowCounts {
  std::size_t rows = 0;
  std::size_t full = 0;  // with the table's column count
};

// Scans handing each row to a sink that only counts, as a reader that
// converts rows one by one would see it.
Timing TimeStreamingScan(const fs::path& path, int runs, RowCounts& counts) {
  return TimeRuns(runs, [&] {
    counts = {};
    CheckScan(db::undark::UndarkScan(path.string(), kMessageLayout, kMessageColumns,
                                     [&counts](const db::undark::UndarkRow& row) {
                                       ++counts.rows;
                                       if (row.size() == kMessageColumns) ++counts.full;
                                     }));
  });
}

// Scans into a row list, the list freed outside the timing. The first call
// also pays for the process's heap growing to the list's size.
Timing TimeListScan(const fs::path& path, int runs) {
  db::undark::UndarkRowList rows;
  return TimeRuns(
      runs, [&] { CheckScan(db::undark::UndarkScan(path.string(), kMessageLayout, kMessageColumns, rows)); },
      [&] { rows = {}; });
}

// Steps every row of SELECT * and reads every column by its type; returns
// the rows stepped and adds to checksum so that nothing is skipped.
std::int64_t SelectAll(const fs::path& path, std::uint64_t& checksum) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    throw std::runtime_error("cannot open " + path.string());
  }
  sqlite3_stmt* select = nullptr;
  if (sqlite3_prepare_v2(db, "SELECT * FROM message", -1, &select, nullptr) != SQLITE_OK) {
    const std::string text = sqlite3_errmsg(db);
    sqlite3_close(db);
    throw std::runtime_error(text);
  }
  std::int64_t rows = 0;
  const int columns = sqlite3_column_count(select);
  while (sqlite3_step(select) == SQLITE_ROW) {
    ++rows;
    for (int column = 0; column < columns; ++column) {
      switch (sqlite3_column_type(select, column)) {
        case SQLITE_INTEGER:
          checksum += static_cast<std::uint64_t>(sqlite3_column_int64(select, column));
          break;
        case SQLITE_FLOAT:
          checksum += static_cast<std::uint64_t>(sqlite3_column_double(select, column));
          break;
        case SQLITE_TEXT: {
          const unsigned char* text = sqlite3_column_text(select, column);
          const int bytes = sqlite3_column_bytes(select, column);
          checksum += static_cast<std::uint64_t>(bytes) + (bytes > 0 ? text[bytes - 1] : 0U);
          break;
        }
        case SQLITE_BLOB: {
          const auto* blob = static_cast<const unsigned char*>(sqlite3_column_blob(select, column));
          const int bytes = sqlite3_column_bytes(select, column);
          checksum += static_cast<std::uint64_t>(bytes) + (bytes > 0 ? blob[bytes - 1] : 0U);
          break;
        }
        default:
          break;
      }
    }
  }
  sqlite3_finalize(select);
  sqlite3_close(db);
  return rows;
}

struct SelectFigures {
  double bestSeconds = 0;
  std::int64_t rows = 0;
  std::uint64_t checksum = 0;
};

SelectFigures TimeSelect(const fs::path& path, int runs) {
  SelectFigures figures;
  figures.bestSeconds = TimeRuns(runs, [&] { figures.rows = SelectAll(path, figures.checksum); }).bestSeconds;
  return figures;
}

std::unordered_set<std::string> LiveGuids(const fs::path& path) {
  std::unordered_set<std::string> guids;
  sqlite3* db = nullptr;
  sqlite3_stmt* select = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
      sqlite3_prepare_v2(db, "SELECT guid FROM message", -1, &select, nullptr) == SQLITE_OK) {
    while (sqlite3_step(select) == SQLITE_ROW) {
      const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(select, 0));
      if (text != nullptr) guids.emplace(text);
    }
  }
  sqlite3_finalize(select);
  sqlite3_close(db);
  return guids;
}

// The distinct guids of rows found that are no longer in the table: the
// deleted messages the scan brings back.
std::size_t DeletedMessagesFound(const fs::path& path) {
  const std::unordered_set<std::string> liveGuids = LiveGuids(path);
  std::unordered_set<std::string> deletedGuids;
  CheckScan(db::undark::UndarkScan(path.string(), kMessageLayout, kMessageColumns,
                                   [&](const db::undark::UndarkRow& row) {
                                     if (row.size() > 1 && row[1].type == db::undark::kTypeText &&
                                         !liveGuids.contains(row[1].text)) {
                                       deletedGuids.insert(row[1].text);
                                     }
                                   }));
  return deletedGuids.size();
}

long PeakMemoryMb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss / 1024;
}

bench::LargeSmsDbFigures PrepareDatabase(const Options& options, const fs::path& path) {
  if (options.reuse) return bench::ReadLargeSmsDbFigures(path);
  std::printf("building %s (%llu MB) ...\n", path.c_str(), static_cast<unsigned long long>(options.sizeMb));
  std::fflush(stdout);
  const Clock::time_point start = Clock::now();
  const bench::LargeSmsDbFigures figures =
      bench::WriteLargeSmsDb(path, options.sizeMb * static_cast<std::uint64_t>(kBytesPerMb));
  std::printf("built in %.1f s\n", SecondsSince(start));
  return figures;
}

void Run(const Options& options, const fs::path& path) {
  const bench::LargeSmsDbFigures db = PrepareDatabase(options, path);
  const double fileMb = static_cast<double>(db.fileBytes) / kBytesPerMb;
  std::printf("file: %s, %.1f MB (%llu pages of %d bytes), %lld messages written, %lld deleted\n", path.c_str(),
              fileMb, static_cast<unsigned long long>(db.fileBytes / static_cast<std::uint64_t>(db.pageSize)),
              db.pageSize, static_cast<long long>(db.rowsWritten), static_cast<long long>(db.rowsDeleted));
  std::fflush(stdout);
  if (options.buildOnly) return;

  RowCounts counts;
  const double scanSeconds = TimeStreamingScan(path, options.runs, counts).bestSeconds;
  std::printf("scan: %.1f MB/s (%.2f s), rows found: %zu (of which %zu with %d values)\n", fileMb / scanSeconds,
              scanSeconds, counts.rows, counts.full, kMessageColumns);
  std::fflush(stdout);
  const Timing list = TimeListScan(path, options.runs);
  const double listSeconds = list.bestSeconds;
  std::printf("scan into a row list: %.1f MB/s (%.2f s; the first, on a fresh heap, %.2f s)\n", fileMb / listSeconds,
              listSeconds, list.firstSeconds);
  std::printf("deleted messages found: %zu of %lld (distinct guids no longer in the table)\n",
              DeletedMessagesFound(path), static_cast<long long>(db.rowsDeleted));
  std::fflush(stdout);

  const SelectFigures select = TimeSelect(path, options.runs);
  std::printf("sqlite select *: %.2f s (%lld rows, %.1f MB/s; checksum %llu)\n", select.bestSeconds,
              static_cast<long long>(select.rows), fileMb / select.bestSeconds,
              static_cast<unsigned long long>(select.checksum % 1000000007ULL));
  std::printf("ratio scan/select: %.2f (scan into a row list: %.2f)\n", scanSeconds / select.bestSeconds,
              listSeconds / select.bestSeconds);
  std::printf("best of %d runs after one warm-up each; peak memory %ld MB\n", options.runs, PeakMemoryMb());
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const Options options = ParseOptions(argc, argv);
    std::optional<platform::TempFolder> folder;
    fs::path path = options.path;
    if (path.empty()) {
      folder.emplace("velmora-scan-bench");
      path = folder->Path() / "sms.db";
    }
    Run(options, path);
    return 0;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "scan_bench: %s\n", error.what());
    return 1;
  }
}
