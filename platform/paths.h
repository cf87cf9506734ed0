#pragma once
// Where the program's own files are. Every root can be moved by an
// environment variable, so that tests and the demo never touch a user's
// folders.

#include <filesystem>

namespace platform {

// The skin folder (window skins, images, HTML assets): $VELMORA_SKIN_DIR,
// else <prefix>/share/velmora/skin beside the installed executable, else the
// source tree's skin folder (a program run from its build folder).
std::filesystem::path SkinFolder();

// The folder of the running executable; empty when it cannot be told.
std::filesystem::path ExecutableFolder();

}  // namespace platform
