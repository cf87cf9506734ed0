#include "cli/backup_password.h"

#include <iostream>

#include "backup/encrypted_backup.h"
#include "cli/output.h"
#include "cli/progress_bar.h"
#include "platform/environment.h"
#include "platform/private_files.h"

namespace cli {
namespace {

constexpr const char* kPasswordVariable = "VELMORA_BACKUP_PASSWORD";

// The password for an encrypted backup, or empty when none was given.
std::string PasswordFrom(const PasswordSource& source) {
  std::string password = source.given;
  if (!password.empty()) return password;
  if (source.fromStdin) {
    std::getline(std::cin, password);
    if (!password.empty() && password.back() == '\r') password.pop_back();
    return password;
  }
  password = platform::EnvironmentValue(kPasswordVariable);
  if (!password.empty()) return password;
  platform::ReadSecretLineFromTerminal("Backup password: ", password);
  return password;
}

}  // namespace

void AddPasswordOption(CLI::App* command, PasswordSource& source) {
  command->add_flag("--password-stdin", source.fromStdin,
                    "Read the password of an encrypted backup from the first line of standard input "
                    "(else from VELMORA_BACKUP_PASSWORD, else asked for on the terminal)");
}

int OpenBackupIndex(backup::CFileListDB& index, const std::string& folder, const PasswordSource& source) {
  base::Status opened = index.Open(folder, -1);
  if (opened.Kind() == base::Status::Code::kNeedsPassword) {
    index.SetPassword(PasswordFrom(source));
    ProgressBar bar("验证密码");
    index.SetUnlockProgress([&bar](int percent) { bar.SetProgress(static_cast<float>(percent)); });
    opened = index.Open(folder, -1);
    index.SetUnlockProgress(nullptr);
  }
  switch (opened.Kind()) {
    case base::Status::Code::kOk: return kExitDone;
    case base::Status::Code::kNeedsPassword:
    case base::Status::Code::kWrongPassword:
      std::cerr << "velmora: " << opened.Message() << '\n';
      return kExitUnreadable;
    default: return ReportNoBackup(opened.Text());
  }
}

}  // namespace cli
