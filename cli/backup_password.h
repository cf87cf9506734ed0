#pragma once
// The password of an encrypted backup, for the commands that open one. It
// never comes from the command line itself (`ps` would show it): it is read
// from standard input (--password-stdin, one line), from the environment
// (VELMORA_BACKUP_PASSWORD), or asked for on the terminal without echo.

#include <string>

#include <CLI/CLI.hpp>

#include "backup/file_list_db.h"

namespace cli {

struct PasswordSource {
  bool fromStdin = false;  // --password-stdin
  // Set by the demo for its own sample backup; never from the command line.
  std::string given;
};

// Adds --password-stdin to command.
void AddPasswordOption(CLI::App* command, PasswordSource& source);

// Opens index on folder. An encrypted backup that this run has not unlocked
// yet takes its password from source, else the environment, else a prompt
// on the terminal; the key derivation draws its progress on stderr. Returns
// 0 when the backup is open; otherwise prints why on stderr and returns 1
// ("this backup is encrypted: give its password ...", "wrong password", or
// "未发现备份信息: ..." for a damaged one).
int OpenBackupIndex(backup::CFileListDB& index, const std::string& folder, const PasswordSource& source);

}  // namespace cli
