#include "platform/environment.h"

#include <cstdlib>

namespace platform {

std::string EnvironmentValue(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::string(value) : std::string();
}

bool SetEnvironmentDefault(const char* name, const char* value) { return ::setenv(name, value, 0) == 0; }

}  // namespace platform
