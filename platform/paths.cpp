#include "platform/paths.h"

#include <cstdlib>
#include <system_error>

namespace platform {

std::filesystem::path ExecutableFolder() {
  std::error_code ec;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::filesystem::path() : self.parent_path();
}

std::filesystem::path SkinFolder() {
  if (const char* skin = std::getenv("VELMORA_SKIN_DIR"); skin != nullptr && *skin != '\0') return skin;
  std::error_code ec;
  const std::filesystem::path installed = ExecutableFolder() / ".." / "share" / "velmora" / "skin";
  if (!ExecutableFolder().empty() && std::filesystem::is_directory(installed, ec)) return installed;
  return VELMORA_SOURCE_SKIN_DIR;
}

std::filesystem::path ProgramDataFolder() {
  if (const char* data = std::getenv("VELMORA_DATA_DIR"); data != nullptr && *data != '\0') return data;
  std::error_code ec;
  const std::filesystem::path installed = ExecutableFolder() / ".." / "share" / "velmora" / "data";
  if (!ExecutableFolder().empty() && std::filesystem::is_directory(installed, ec)) return installed;
  return VELMORA_SOURCE_DATA_DIR;
}

namespace {

std::filesystem::path FromEnvironment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? std::filesystem::path(value) : std::filesystem::path();
}

}  // namespace

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

namespace {

// An environment value, or nothing when it is unset or empty.
const char* NonEmptyEnv(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : nullptr;
}

// The XDG rule: the variable when set, else the given folder below $HOME
// (the current folder as a last resort, so a bare environment still works).
std::filesystem::path XdgRoot(const char* variable, const char* belowHome) {
  if (const char* root = NonEmptyEnv(variable)) return root;
  if (const char* home = NonEmptyEnv("HOME")) return std::filesystem::path(home) / belowHome;
  return std::filesystem::path(belowHome);
}

}  // namespace

std::filesystem::path ConfigFolder() {
  if (const char* config = NonEmptyEnv("VELMORA_CONFIG_DIR")) return config;
  return XdgRoot("XDG_CONFIG_HOME", ".config") / "velmora";
}

std::filesystem::path UserDataFolder() {
  if (const char* data = NonEmptyEnv("VELMORA_USER_DATA_DIR")) return data;
  return XdgRoot("XDG_DATA_HOME", ".local/share") / "velmora";
}

}  // namespace platform
