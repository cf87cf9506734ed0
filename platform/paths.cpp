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

}  // namespace platform
