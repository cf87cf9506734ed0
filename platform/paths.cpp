#include "platform/paths.h"

#include <system_error>

#include "platform/environment.h"

namespace platform {

std::filesystem::path ExecutableFolder() {
  std::error_code ec;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::filesystem::path() : self.parent_path();
}

namespace {

// An environment value, or an empty path when it is unset or empty.
std::filesystem::path FromEnvironment(const char* name) { return EnvironmentValue(name); }

// A folder the program ships: the variable when set, else
// <prefix>/share/velmora/<name> beside the installed executable, else the
// source tree's folder (a program run from its build folder).
std::filesystem::path ShippedFolder(const char* variable, const char* name, const char* sourceFolder) {
  if (auto folder = FromEnvironment(variable); !folder.empty()) return folder;
  std::error_code ec;
  const std::filesystem::path executable = ExecutableFolder();
  const std::filesystem::path installed = executable / ".." / "share" / "velmora" / name;
  if (!executable.empty() && std::filesystem::is_directory(installed, ec)) return installed;
  return sourceFolder;
}

// The XDG rule: the variable when set, else the given folder below $HOME
// (the current folder as a last resort, so a bare environment still works).
std::filesystem::path XdgRoot(const char* variable, const char* belowHome) {
  if (auto root = FromEnvironment(variable); !root.empty()) return root;
  if (auto home = HomeFolder(); !home.empty()) return home / belowHome;
  return std::filesystem::path(belowHome);
}

}  // namespace

std::filesystem::path HomeFolder() { return FromEnvironment("HOME"); }

std::filesystem::path SkinFolder() { return ShippedFolder("VELMORA_SKIN_DIR", "skin", VELMORA_SOURCE_SKIN_DIR); }

std::filesystem::path ProgramDataFolder() {
  return ShippedFolder("VELMORA_DATA_DIR", "data", VELMORA_SOURCE_DATA_DIR);
}

std::filesystem::path ITunesBackupRoot() {
  if (auto root = FromEnvironment("VELMORA_BACKUP_ROOT"); !root.empty()) return root;
#if defined(_WIN32)
  const std::filesystem::path appData = FromEnvironment("APPDATA");
  return appData.empty() ? appData : appData / "Apple Computer" / "MobileSync" / "Backup";
#elif defined(__APPLE__)
  const std::filesystem::path home = FromEnvironment("HOME");
  return home.empty() ? home : home / "Library" / "Application Support" / "MobileSync" / "Backup";
#else
  std::filesystem::path data = FromEnvironment("XDG_DATA_HOME");
  if (data.empty()) {
    const std::filesystem::path home = FromEnvironment("HOME");
    if (home.empty()) return home;
    data = home / ".local" / "share";
  }
  return data / "MobileSync" / "Backup";
#endif
}

std::filesystem::path AppBackupFolder() {
  if (auto folder = FromEnvironment("VELMORA_APP_BACKUP_DIR"); !folder.empty()) return folder;
  // The program's own backups are the user's data, not the install's.
  const std::filesystem::path data = UserDataFolder();
  return data.empty() ? data : data / "backup";
}

std::filesystem::path ConfigFolder() {
  if (auto config = FromEnvironment("VELMORA_CONFIG_DIR"); !config.empty()) return config;
  return XdgRoot("XDG_CONFIG_HOME", ".config") / "velmora";
}

std::filesystem::path UserDataFolder() {
  if (auto data = FromEnvironment("VELMORA_USER_DATA_DIR"); !data.empty()) return data;
  return XdgRoot("XDG_DATA_HOME", ".local/share") / "velmora";
}

}  // namespace platform
