#include "app/product_config.h"

#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

#include <utf8.h>

#include "app/settings.h"
#include "platform/fs.h"

namespace app {
namespace {

// Recovery.dat is a few hundred bytes; anything near this size is not ours.
constexpr std::uintmax_t kMaxProductFileBytes = 1u << 20;

constexpr const char* kBaseNames[] = {"Brand", "Version", "Language", "Owner", "Detail", "ReportServer"};

std::string LoadBase(const std::filesystem::path& file, std::vector<std::pair<std::string, std::string>>& entries) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  if (in) text << in.rdbuf();
  for (const char* name : kBaseNames) {
    std::string value;
    if (FindIniValue(text.str(), "Setting", name, value)) entries.emplace_back(ConfigKey(name), value);
  }
  const char* required[] = {"Brand", "Version", "Language"};
  for (int i = 0; i < 3; ++i) {
    bool found = false;
    for (const auto& entry : entries) found = found || (entry.first == ConfigKey(required[i]) && !entry.second.empty());
    if (!found) return "ReadBaseCfg err " + std::to_string(i + 1);
  }
  return {};
}

std::string ReadProductFile(const std::filesystem::path& file, std::string& bytes) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return "GetSoftCfgFromFile err 1";
  std::error_code ec;
  const std::uintmax_t size = std::filesystem::file_size(file, ec);
  if (ec || size > kMaxProductFileBytes) return "GetSoftCfgFromFile err 5";
  if (size == 0) return "GetSoftCfgFromFile err 2";
  if (size % 2 != 0) return "GetSoftCfgFromFile err 4";
  bytes.assign(static_cast<std::size_t>(size), '\0');
  if (!in.read(bytes.data(), static_cast<std::streamsize>(size))) return "GetSoftCfgFromFile err 5";
  return {};
}

std::string ParseProduct(std::string_view text, std::vector<std::pair<std::string, std::string>>& entries) {
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0) continue;
    entries.emplace_back(ConfigKey(line.substr(0, colon + 1)), std::string(line.substr(colon + 1)));
  }
  return entries.empty() ? "InitSoftCfg err 1" : "";
}

}  // namespace

std::string ConfigKey(std::string_view name) {
  std::string key = platform::AsciiLower(std::string(name));
  if (key.empty() || key.back() != ':') key += ':';
  return key;
}

std::string ScrambleProductText(std::string_view utf8) {
  std::u16string units = u"\uFEFF";
  utf8::utf8to16(utf8.begin(), utf8.end(), std::back_inserter(units));
  std::string bytes;
  for (const char16_t unit : units) {
    const auto scrambled = static_cast<std::uint16_t>(unit ^ kProductScrambleKey);
    bytes += static_cast<char>(scrambled & 0xFF);
    bytes += static_cast<char>(scrambled >> 8);
  }
  return bytes;
}

bool UnscrambleProductText(std::string_view bytes, std::string& utf8) {
  if (bytes.size() % 2 != 0) return false;
  std::u16string units;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const auto unit = static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[i]) |
                                                 (static_cast<unsigned char>(bytes[i + 1]) << 8));
    units += static_cast<char16_t>(unit ^ kProductScrambleKey);
  }
  if (units.empty() || units.front() != u'\uFEFF') return false;
  try {
    utf8.clear();
    utf8::utf16to8(units.begin() + 1, units.end(), std::back_inserter(utf8));
  } catch (const utf8::exception&) {
    return false;
  }
  return true;
}

std::string CProductConfig::Load(const std::filesystem::path& folder) {
  base_.clear();
  product_.clear();
  std::vector<std::pair<std::string, std::string>> base;
  std::vector<std::pair<std::string, std::string>> product;
  if (std::string error = LoadBase(folder / "Base.dat", base); !error.empty()) return error;
  std::string bytes;
  if (std::string error = ReadProductFile(folder / "Recovery.dat", bytes); !error.empty()) return error;
  std::string text;
  if (!UnscrambleProductText(bytes, text)) return "InitSoftCfg err 1";
  if (std::string error = ParseProduct(text, product); !error.empty()) return error;
  base_ = std::move(base);
  product_ = std::move(product);
  return {};
}

std::string CProductConfig::Find(const std::vector<std::pair<std::string, std::string>>& entries,
                                 const std::string& key) {
  for (const auto& entry : entries) {
    if (entry.first == key) return entry.second;
  }
  return {};
}

std::string CProductConfig::Base(std::string_view name) const { return Find(base_, ConfigKey(name)); }

std::string CProductConfig::Product(std::string_view name) const {
  const std::string key = ConfigKey(name);
  const std::string versioned = ConfigKey(Base("Version") + "-" + key);
  for (const auto& entry : product_) {
    if (entry.first == versioned) return entry.second;
  }
  return Find(product_, "default-" + key);
}

std::vector<std::string> CProductConfig::Links() const {
  std::vector<std::string> links;
  for (int i = 1;; ++i) {
    std::string link = Product("link" + std::to_string(i));
    if (link.empty()) break;
    links.push_back(std::move(link));
  }
  return links;
}

std::string CProductConfig::ProductText(std::string_view channelText) const {
  return Base("Owner") + "-" + Base("Version") + "-" + std::string(channelText);
}

}  // namespace app
