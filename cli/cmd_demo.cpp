// velmora demo: builds the built-in sample backup in its three forms (and an
// encrypted copy) and shows what velmora finds in each.

#include <iostream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cli/commands.h"
#include "cli/output.h"
#include "platform/fs.h"
#include "testing/sample_backup.h"

namespace cli {
namespace {

struct DemoOptions {
  std::string out;
};

// Analyses category (of account, when given) showing its first records,
// then recovers it into out.
int ShowCategory(const std::string& backup, const std::string& out, const char* category, std::optional<int> account) {
  const std::string accountOption = account ? " --account " + std::to_string(*account) : "";
  std::cout << "\n$ velmora analyse " << backup << " " << category << accountOption << " --first 5\n" << std::flush;
  AnalyseOptions analyse;
  analyse.backup = backup;
  analyse.category = category;
  analyse.first = 5;
  if (account) analyse.account = *account;
  int status = RunAnalyse(analyse);
  std::cout << "\n$ velmora recover " << backup << " " << category << accountOption << " --out " << out << "\n"
            << std::flush;
  RecoverOptions recover;
  recover.backup = backup;
  recover.category = category;
  recover.out = out;
  if (account) recover.account = *account;
  return std::max(status, RunRecover(recover));
}

int RunDemo(const DemoOptions& options) {
  std::optional<platform::TempFolder> temporary;
  std::filesystem::path root;
  if (options.out.empty()) {
    temporary.emplace("velmora-demo");
    root = temporary->Path();
  } else {
    root = options.out;
  }
  sample::WriteDemoBackups(root);
  std::cout << "Sample backups written below " << root.string() << "\n";

  int status = kExitDone;
  // The catalogue of the sample backups: only the demo's own folder, so the
  // demo shows its three forms even where the user keeps other backups.
  std::cout << "\n$ velmora backups --no-default-roots --root " << root.string() << "\n" << std::flush;
  BackupsOptions backups;
  backups.roots = {root.string()};
  backups.noDefaultRoots = true;
  status = std::max(status, RunBackups(backups));
  for (const char* form : {"manifest-db", "manifest-mbdb", "folder"}) {
    const std::string backup = (root / form).string();
    std::cout << "\n$ velmora info " << backup << "\n" << std::flush;
    status = std::max(status, RunInfo({backup, false, {}}));
    const char* relativePath = "Library/SMS/sms.db";
    std::cout << "\n$ velmora files " << backup << " HomeDomain " << relativePath << "\n" << std::flush;
    status = std::max(status, RunFiles({backup, "HomeDomain", relativePath, false, -1, false, {}}));
  }
  // The whole job on one form: what each app holds, and its recovery.
  const std::string backup = (root / "manifest-db").string();
  const std::string out = (root / "recovered").string();
  for (const char* category : {"contacts", "messages", "calls", "safari", "notes", "calendar", "reminders",
                               "voice-memos", "whatsapp", "photos", "videos", "message-attachments",
                               "whatsapp-files"}) {
    status = std::max(status, ShowCategory(backup, out, category, std::nullopt));
  }
  // The chat apps keep one set of data per account: the first analysis
  // lists the accounts, the next ones read one each. The phone has two
  // WeChat accounts (the second kept as current builds keep it, its chats in
  // message_<n>.sqlite), and a QQ, a TIM and a current QQ account (its chats
  // encrypted).
  const std::vector<std::pair<const char*, std::vector<int>>> chatApps = {
      {"wechat-contacts", {0}}, {"wechat", {0, 1}}, {"wechat-attachments", {0}}, {"qq", {0, 2}}};
  for (const auto& [category, shown] : chatApps) {
    std::cout << "\n$ velmora analyse " << backup << " " << category << "\n" << std::flush;
    AnalyseOptions accounts;
    accounts.backup = backup;
    accounts.category = category;
    status = std::max(status, RunAnalyse(accounts));
    for (int account : shown) status = std::max(status, ShowCategory(backup, out, category, account));
  }
  // The same backup written encrypted, as a phone with "encrypt local
  // backup" turned on writes it: it opens with its password.
  const std::string encrypted = (root / "encrypted").string();
  std::cout << "\nThe encrypted copy's password is \"" << sample::kDemoBackupPassword
            << "\" (give it with --password-stdin or VELMORA_BACKUP_PASSWORD)\n";
  PasswordSource password;
  password.given = sample::kDemoBackupPassword;
  std::cout << "\n$ VELMORA_BACKUP_PASSWORD=" << sample::kDemoBackupPassword << " velmora info " << encrypted << "\n"
            << std::flush;
  status = std::max(status, RunInfo({encrypted, false, password}));
  for (const char* category : {"messages", "calls"}) {
    std::cout << "\n$ printf '%s\\n' " << sample::kDemoBackupPassword << " | velmora analyse " << encrypted << " "
              << category << " --first 5 --password-stdin\n"
              << std::flush;
    AnalyseOptions analyse;
    analyse.backup = encrypted;
    analyse.category = category;
    analyse.first = 5;
    analyse.password = password;
    status = std::max(status, RunAnalyse(analyse));
  }
  std::cout << "\nThe recovered tables and pages are below " << out
            << (options.out.empty() ? " (a temporary folder, removed now; keep it with --out DIR)" : "") << "\n";
  return status;
}

}  // namespace

void AddDemoCommand(CLI::App& app, int& exitCode) {
  auto options = std::make_shared<DemoOptions>();
  CLI::App* command = app.add_subcommand("demo", "Build the built-in sample backup and show what velmora finds in it");
  command->add_option("--out", options->out, "Keep the sample backups in this folder (default: a temporary folder)");
  command->callback([options, &exitCode] { exitCode = RunDemo(*options); });
}

}  // namespace cli
