#pragma once
// The product configuration: two read-only stores of named text values
// installed with the program (platform::ProgramDataFolder(), i.e.
// <prefix>/share/velmora/data, or $VELMORA_DATA_DIR).
//
// "Base.dat" — an INI file (UTF-8); its section "Setting" holds the base
// settings. Names read: Brand, Version, Language, Owner, Detail and
// ReportServer ("a.b.c.d" or "a.b.c.d:port" of the report server; empty,
// the shipped value, means no report ever leaves the machine).
//
// "Recovery.dat" — the product entries: UTF-16LE text beginning with a
// byte-order mark, every 16-bit unit XOR-ed with kProductScrambleKey. One
// entry a line, "name:value" (the name up to the first colon, stored in
// lower case), names prefixed by a version and "-" or by "default-", e.g.
// "default-localname:Velmora". Names read: LocalName, Company, DisplayName
// and the web links "link1:", "link2:"... of the main window's menu.
//
// A loaded configuration is never reloaded; lookups may be made from any
// thread once Load has returned.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace app {

// The constant every UTF-16 unit of Recovery.dat is XOR-ed with. The
// scrambling only keeps casual edits out; it is not protection.
inline constexpr std::uint16_t kProductScrambleKey = 0x5E2D;

// The lookup form of a name: ASCII lower case, with ":" appended unless it
// already ends in one. "Brand" -> "brand:", "link1:" -> "link1:".
std::string ConfigKey(std::string_view name);

// Recovery.dat bytes for UTF-8 text (mark, UTF-16LE, scrambled), and back.
// UnscrambleProductText returns false for an odd byte count, a missing
// byte-order mark or broken UTF-16.
std::string ScrambleProductText(std::string_view utf8);
bool UnscrambleProductText(std::string_view bytes, std::string& utf8);

class CProductConfig {
 public:
  // Reads Base.dat and Recovery.dat from folder. Returns empty text on
  // success, else the loader's error text: "ReadBaseCfg err 1" / "err 2" /
  // "err 3" when Brand, Version or Language is missing or Base.dat cannot
  // be read; "GetSoftCfgFromFile err 1" (cannot open), "err 2" (empty),
  // "err 4" (odd size, not UTF-16), "err 5" (larger than 1 MiB or a read
  // failure) for Recovery.dat; "InitSoftCfg err 1" when its text cannot be
  // unscrambled or holds no entry. On failure the object stays empty.
  std::string Load(const std::filesystem::path& folder);

  // A base setting by name (ConfigKey rule); empty text when absent.
  std::string Base(std::string_view name) const;

  // A product entry: ConfigKey(name) prefixed by Base("Version") and "-",
  // else by "default-"; empty text when neither is present.
  std::string Product(std::string_view name) const;

  // The values of the product entries "link1:", "link2:"... in order,
  // stopping at the first number without a value.
  std::vector<std::string> Links() const;

  // Owner "-" Version "-" channelText: the product text of the start line.
  std::string ProductText(std::string_view channelText) const;

 private:
  static std::string Find(const std::vector<std::pair<std::string, std::string>>& entries, const std::string& key);

  std::vector<std::pair<std::string, std::string>> base_;
  std::vector<std::pair<std::string, std::string>> product_;
};

}  // namespace app
