// velmora scan DBFILE --layout N: the records of one table layout found in
// the raw bytes of a database file, live and deleted alike.

#include <iostream>

#include "cli/commands.h"
#include "cli/output.h"
#include "db/undark/undark.h"

namespace cli {
namespace {

struct ScanOptions {
  std::string file;
  int layout = -1;
  int columns = -1;
  bool json = false;
  bool count = false;
};

std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    hex += kDigits[c >> 4];
    hex += kDigits[c & 15];
  }
  return hex;
}

std::string ShownText(const db::undark::UndarkValue& value) {
  return value.type == db::undark::kTypeBlob ? Hex(value.text) : value.text;
}

// One line per row: tabs between values, so tabs, line breaks and
// backslashes inside a value are written as \t, \n, \r and \\.
std::string Escaped(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\\': out += "\\\\"; break;
      default: out += c;
    }
  }
  return out;
}

nlohmann::ordered_json ValueJson(const db::undark::UndarkValue& value) {
  nlohmann::ordered_json out;
  out["type"] = value.type;
  out["text"] = ShownText(value);
  if (value.type == db::undark::kTypeDouble) {
    out["number"] = value.real;
  } else {
    out["number"] = value.number;
  }
  return out;
}

int RunScan(const ScanOptions& options) {
  if (db::undark::LayoutColumnCount(options.layout) == 0) {
    std::cerr << "velmora: no table layout " << options.layout << " (layouts 0-22 but 6, 11, 20)\n";
    return kExitUsage;
  }
  // Rows are printed as they are found: a large file can give millions.
  std::size_t count = 0;
  auto printRow = [&](db::undark::UndarkRow& row) {
    if (options.count) {
    } else if (options.json) {
      nlohmann::ordered_json values = nlohmann::ordered_json::array();
      for (const auto& value : row) values.push_back(ValueJson(value));
      std::cout << (count == 0 ? "[\n  " : ",\n  ")
                << values.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
    } else {
      for (std::size_t i = 0; i < row.size(); ++i) std::cout << (i == 0 ? "" : "\t") << Escaped(ShownText(row[i]));
      std::cout << '\n';
    }
    ++count;
  };
  const base::Status status = db::undark::UndarkScan(options.file, options.layout, options.columns, printRow);
  if (!status.Ok()) {
    std::cerr << "velmora: cannot scan " << status.Text() << '\n';
    return kExitUnreadable;
  }
  if (options.count) {
    std::cout << count << '\n';
  } else if (options.json) {
    std::cout << (count == 0 ? "[]\n" : "\n]\n");
  }
  return kExitDone;
}

}  // namespace

void AddScanCommand(CLI::App& app, int& exitCode) {
  auto options = std::make_shared<ScanOptions>();
  CLI::App* command = app.add_subcommand(
      "scan", "Find the records of a table layout in the raw bytes of a database file, deleted ones included");
  command->add_option("DBFILE", options->file, "The database file (only read)")->required();
  command->add_option("--layout", options->layout, "The table layout, 0-22")->required();
  command->add_option("--columns", options->columns,
                      "The column count every record must have (default: the layout's)");
  command->add_flag("--json", options->json,
                    "Print a JSON array of rows, each an array of {\"type\", \"text\", \"number\"}");
  command->add_flag("--count", options->count, "Print only the number of rows");
  command->callback([options, &exitCode] { exitCode = RunScan(*options); });
}

}  // namespace cli
