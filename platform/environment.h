#pragma once
// The process environment, the one place the program reads it (or, for the
// window system's platform, sets it).
//
// Threads: reading is safe while no thread sets a value; set values only
// at start-up, before other threads run.

#include <string>

namespace platform {

// The value of the environment variable name; empty when it is unset or
// empty (the program treats both alike).
std::string EnvironmentValue(const char* name);

// Sets name to value unless it is set already (so the user's own choice
// stands). Returns false when the environment could not be changed.
bool SetEnvironmentDefault(const char* name, const char* value);

}  // namespace platform
