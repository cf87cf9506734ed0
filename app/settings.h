#pragma once
// The user's settings: "Velmora.ini" and the persistent program values
// ("registry.ini"), both INI files in the user's configuration folder
// (platform::ConfigFolder(): $VELMORA_CONFIG_DIR, else
// $XDG_CONFIG_HOME/velmora).
//
// INI layout: "[section]" lines, then "key=value" lines; text is UTF-8
// (a leading byte-order mark is ignored); section and key names compare
// ignoring ASCII case and surrounding blanks, like the Windows profile calls
// they replace. There is no cache: every read opens the file, every write
// replaces it at once.
//
// Thread safety: all functions may be called from any thread; writes within
// the process are serialised, and a write replaces the file through a
// temporary file and a rename, so a reader (or a crash mid-write) sees
// either the old file or the new one, never a torn one.

#include <filesystem>
#include <string>
#include <string_view>

namespace app {

// The storage section and its keys: the folder of the device backups and
// the last folder a recovery was written to.
inline constexpr char kStorageSection[] = "存储配置";
inline constexpr char kBackupPathKey[] = "BackupPath";
inline constexpr char kSavePathKey[] = "SavePath";

// The settings file: platform::ConfigFolder() / "Velmora.ini".
std::filesystem::path SettingsFilePath();

// The persistent program values that the Windows form keeps in the registry
// (RunNum, JoinImproveSoft, Detail): platform::ConfigFolder() / "registry.ini".
std::filesystem::path RegistryFilePath();

// The value of key in section of Velmora.ini, or fallback when the file,
// the section or the key is absent or the file cannot be read.
// Example: ReadSetting(kStorageSection, kBackupPathKey, "").
std::string ReadSetting(std::string_view section, std::string_view key, std::string_view fallback = {});

// Stores value under (section, key) in Velmora.ini, creating the folder,
// the file, the section or the key as needed and keeping every other line.
// Returns false, leaving the file as it was, when the folder cannot be
// made, the file cannot be written (a link in place of the file is refused,
// platform/replace_file.h), or a name or the value cannot be stored
// in an INI line (a line break anywhere, "=" in the key, "]" in the
// section, an empty section or key).
bool WriteSetting(std::string_view section, std::string_view key, std::string_view value);

// The same two operations on any INI file.
std::string ReadIniValue(const std::filesystem::path& file, std::string_view section, std::string_view key,
                         std::string_view fallback = {});
bool WriteIniValue(const std::filesystem::path& file, std::string_view section, std::string_view key,
                   std::string_view value);

// The value of key in the section of INI text already in memory; false when
// absent. Used for the product configuration as well.
bool FindIniValue(std::string_view iniText, std::string_view section, std::string_view key, std::string& value);

}  // namespace app
