#include "app/settings.h"

#include <fstream>
#include <mutex>
#include <sstream>
#include <system_error>
#include <vector>

#include "platform/fs.h"
#include "platform/paths.h"
#include "platform/replace_file.h"

namespace app {
namespace {

std::mutex& WriteMutex() {
  static std::mutex mutex;
  return mutex;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) text.remove_suffix(1);
  return text;
}

bool SameName(std::string_view a, std::string_view b) {
  return platform::EqualsIgnoringAsciiCase(std::string(Trim(a)), std::string(Trim(b)));
}

std::vector<std::string_view> SplitLines(std::string_view text) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    lines.push_back(text.substr(0, end));
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return lines;
}

// The section name of a "[name]" line, or false for any other line.
bool SectionOf(std::string_view line, std::string_view& name) {
  line = Trim(line);
  if (line.size() < 2 || line.front() != '[' || line.back() != ']') return false;
  name = line.substr(1, line.size() - 2);
  return true;
}

// Splits a "key=value" line; false for lines without "=" (comments, blanks).
bool KeyValueOf(std::string_view line, std::string_view& key, std::string_view& value) {
  const std::size_t equals = line.find('=');
  if (equals == std::string_view::npos) return false;
  key = Trim(line.substr(0, equals));
  value = Trim(line.substr(equals + 1));
  return !key.empty() && key.front() != ';';
}

std::string ReadText(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return {};
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool Storable(std::string_view section, std::string_view key, std::string_view value) {
  const auto hasBreak = [](std::string_view text) { return text.find_first_of("\r\n") != std::string_view::npos; };
  if (Trim(section).empty() || Trim(key).empty()) return false;
  if (hasBreak(section) || hasBreak(key) || hasBreak(value)) return false;
  return section.find(']') == std::string_view::npos && key.find('=') == std::string_view::npos &&
         Trim(key).front() != ';';
}

// The new text of the file with (section, key) set to value.
std::string WithValue(std::string_view oldText, std::string_view section, std::string_view key,
                      std::string_view value) {
  const std::string entry = std::string(Trim(key)) + "=" + std::string(value);
  std::string out;
  bool inSection = false;
  bool done = false;
  std::size_t sectionEnd = std::string::npos;  // after the wanted section's last non-blank line
  for (const std::string_view line : SplitLines(oldText)) {
    std::string_view name;
    std::string_view lineKey;
    std::string_view lineValue;
    if (SectionOf(line, name)) {
      inSection = SameName(name, section);
    } else if (inSection && !done && KeyValueOf(line, lineKey, lineValue) && SameName(lineKey, key)) {
      out += entry + "\n";
      done = true;
      continue;
    }
    // Lines are rewritten with "\n" alone, so a file from Windows does not
    // end up with mixed line ends.
    out.append(line.substr(0, line.size() - (!line.empty() && line.back() == '\r' ? 1 : 0)));
    out += "\n";
    if (inSection && !Trim(line).empty()) sectionEnd = out.size();
  }
  if (done) return out;
  if (sectionEnd != std::string::npos) return out.insert(sectionEnd, entry + "\n");
  return out + "[" + std::string(Trim(section)) + "]\n" + entry + "\n";
}

}  // namespace

std::filesystem::path SettingsFilePath() { return platform::ConfigFolder() / "Velmora.ini"; }

std::filesystem::path RegistryFilePath() { return platform::ConfigFolder() / "registry.ini"; }

bool FindIniValue(std::string_view iniText, std::string_view section, std::string_view key, std::string& value) {
  bool inSection = false;
  for (const std::string_view line : SplitLines(iniText)) {
    std::string_view name;
    std::string_view lineKey;
    std::string_view lineValue;
    if (SectionOf(line, name)) {
      inSection = SameName(name, section);
    } else if (inSection && KeyValueOf(line, lineKey, lineValue) && SameName(lineKey, key)) {
      value = std::string(lineValue);
      return true;
    }
  }
  return false;
}

std::string ReadIniValue(const std::filesystem::path& file, std::string_view section, std::string_view key,
                         std::string_view fallback) {
  std::string value;
  if (FindIniValue(ReadText(file), section, key, value)) return value;
  return std::string(fallback);
}

bool WriteIniValue(const std::filesystem::path& file, std::string_view section, std::string_view key,
                   std::string_view value) {
  if (!Storable(section, key, value)) return false;
  const std::lock_guard lock(WriteMutex());
  std::error_code ec;
  if (file.has_parent_path()) std::filesystem::create_directories(file.parent_path(), ec);
  if (ec) return false;
  if (std::filesystem::exists(file, ec) && !std::ifstream(file, std::ios::binary)) return false;
  // Written whole or not at all: an interruption leaves the old file.
  return !platform::ReplaceFile(file, WithValue(ReadText(file), section, key, value));
}

std::string ReadSetting(std::string_view section, std::string_view key, std::string_view fallback) {
  return ReadIniValue(SettingsFilePath(), section, key, fallback);
}

bool WriteSetting(std::string_view section, std::string_view key, std::string_view value) {
  return WriteIniValue(SettingsFilePath(), section, key, value);
}

}  // namespace app
