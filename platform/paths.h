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

// The user's home folder ($HOME); empty when it is unset.
std::filesystem::path HomeFolder();

// The user's configuration folder, where the settings file and the
// program's persistent values live: $VELMORA_CONFIG_DIR, else
// $XDG_CONFIG_HOME/velmora, else $HOME/.config/velmora. Not created here.
std::filesystem::path ConfigFolder();

// The user's data folder (avatar cache and other working files):
// $VELMORA_USER_DATA_DIR, else $XDG_DATA_HOME/velmora, else
// $HOME/.local/share/velmora. Not created here.
std::filesystem::path UserDataFolder();

// Where iTunes or Finder keeps the device backups of this user:
// $VELMORA_BACKUP_ROOT, else on Windows %APPDATA%/Apple Computer/MobileSync/Backup,
// on macOS ~/Library/Application Support/MobileSync/Backup, elsewhere
// $XDG_DATA_HOME/MobileSync/Backup ($XDG_DATA_HOME defaulting to
// ~/.local/share). Empty when no home folder can be told. Not made here.
std::filesystem::path ITunesBackupRoot();

// The program's own backup folder: $VELMORA_APP_BACKUP_DIR, else
// UserDataFolder()/backup; empty when no home folder can be told. Not made
// here.
std::filesystem::path AppBackupFolder();

}  // namespace platform
