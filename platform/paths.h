#pragma once
// Where the program's own files are. Every root can be moved by an
// environment variable, so that tests and the demo never touch a user's
// folders.

#include <filesystem>

namespace platform {

// The skin folder (window skins, images, HTML assets): $VELMORA_SKIN_DIR,
// else <executable>/../share/velmora/skin when it exists, else the source
// tree's skin folder. The first is <prefix>/share/velmora/skin of an install
// and, for the programs in <build>/cli, <build>/tests and <build>/bench,
// <build>/share/velmora/skin, which the build fills with the skin files and
// the packed chat site assets (html/assets.7z, not in the source tree).
std::filesystem::path SkinFolder();

// The program's own data files (product configuration, device model
// names): $VELMORA_DATA_DIR, else <prefix>/share/velmora/data beside the
// installed executable, else the source tree's data folder.
std::filesystem::path ProgramDataFolder();

// The folder of the running executable; empty when it cannot be told.
std::filesystem::path ExecutableFolder();

}  // namespace platform
