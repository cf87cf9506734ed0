// velmora plist FILE: the value tree of a property list.

#include <iostream>
#include <sstream>

#include "backup/plist.h"
#include "cli/commands.h"
#include "cli/output.h"

namespace cli {
namespace {

struct PlistOptions {
  std::string file;
  bool json = false;
};

std::string Base64(const backup::PlistData& data) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  std::size_t i = 0;
  for (; i + 2 < data.size(); i += 3) {
    const unsigned v = (data[i] << 16) | (data[i + 1] << 8) | data[i + 2];
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
  }
  if (i < data.size()) {
    const unsigned v = (data[i] << 16) | (i + 1 < data.size() ? data[i + 1] << 8 : 0);
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += i + 1 < data.size() ? kAlphabet[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

nlohmann::ordered_json ToJson(const backup::PlistValue& value) {
  using namespace backup;
  if (value.Is<PlistDictionary>()) {
    nlohmann::ordered_json out = nlohmann::ordered_json::object();
    for (const auto& [key, child] : value.As<PlistDictionary>()) out[key] = ToJson(child);
    return out;
  }
  if (value.Is<PlistArray>()) {
    nlohmann::ordered_json out = nlohmann::ordered_json::array();
    for (const auto& child : value.As<PlistArray>()) out.push_back(ToJson(child));
    return out;
  }
  if (value.Is<std::string>()) return value.As<std::string>();
  if (value.Is<std::int64_t>()) return value.As<std::int64_t>();
  if (value.Is<double>()) return value.As<double>();
  if (value.Is<bool>()) return value.As<bool>();
  if (value.Is<PlistData>()) return {{"$data", Base64(value.As<PlistData>())}};
  return {{"$date", value.As<Plist::Date>().UnixSeconds()}};
}

// An indented text tree: "key: value" lines, children two spaces deeper.
void PrintText(std::ostream& out, const backup::PlistValue& value, int depth) {
  using namespace backup;
  const std::string indent(static_cast<std::size_t>(depth) * 2, ' ');
  auto leaf = [](const PlistValue& v) -> std::string {
    if (v.Is<std::string>()) return v.As<std::string>();
    if (v.Is<std::int64_t>()) return std::to_string(v.As<std::int64_t>());
    if (v.Is<double>()) {
      std::ostringstream text;
      text << v.As<double>();
      return text.str();
    }
    if (v.Is<bool>()) return v.As<bool>() ? "true" : "false";
    if (v.Is<PlistData>()) {
      return "<" + std::to_string(v.As<PlistData>().size()) + " bytes> " + Base64(v.As<PlistData>());
    }
    return FormatUtc(v.As<Plist::Date>().UnixSeconds()) + " UTC";
  };
  auto isContainer = [](const PlistValue& v) { return v.Is<PlistDictionary>() || v.Is<PlistArray>(); };
  if (value.Is<PlistDictionary>()) {
    for (const auto& [key, child] : value.As<PlistDictionary>()) {
      out << indent << key << ':';
      if (isContainer(child)) {
        out << '\n';
        PrintText(out, child, depth + 1);
      } else {
        out << ' ' << leaf(child) << '\n';
      }
    }
  } else if (value.Is<PlistArray>()) {
    std::size_t i = 0;
    for (const auto& child : value.As<PlistArray>()) {
      out << indent << '[' << i++ << ']';
      if (isContainer(child)) {
        out << '\n';
        PrintText(out, child, depth + 1);
      } else {
        out << ' ' << leaf(child) << '\n';
      }
    }
  } else {
    out << indent << leaf(value) << '\n';
  }
}

int RunPlist(const PlistOptions& options) {
  backup::PlistValue top;
  try {
    top = backup::ReadPlistFile(options.file);
  } catch (const backup::Plist::Error& e) {
    std::cerr << e.what() << '\n';
    return kExitUnreadable;
  }
  if (options.json) {
    PrintJson(std::cout, ToJson(top));
  } else {
    PrintText(std::cout, top, 0);
  }
  return kExitDone;
}

}  // namespace

void AddPlistCommand(CLI::App& app, int& exitCode) {
  auto options = std::make_shared<PlistOptions>();
  CLI::App* command = app.add_subcommand("plist", "Show the values of a property list (XML or binary)");
  command->add_option("FILE", options->file, "The property list file")->required();
  command->add_flag("--json", options->json,
                    "Print JSON: data as {\"$data\": base64}, dates as {\"$date\": Unix seconds}");
  command->callback([options, &exitCode] { exitCode = RunPlist(*options); });
}

}  // namespace cli
