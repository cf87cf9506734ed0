// velmora demo: builds the built-in sample backup in its three forms and
// shows what velmora finds in each.

#include <iostream>

#include "cli/commands.h"
#include "cli/output.h"
#include "platform/fs.h"
#include "testing/sample_backup.h"

namespace cli {
namespace {

struct DemoOptions {
  std::string out;
};

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
    status = std::max(status, RunInfo({backup, false}));
    const char* relativePath = "Library/SMS/sms.db";
    std::cout << "\n$ velmora files " << backup << " HomeDomain " << relativePath << "\n" << std::flush;
    status = std::max(status, RunFiles({backup, "HomeDomain", relativePath, false, -1, false}));
  }
  // The whole job on one form: what each app holds, and its recovery.
  const std::string backup = (root / "manifest-db").string();
  const std::string out = (root / "recovered").string();
  for (const char* category : {"contacts", "messages", "calls", "safari", "notes", "calendar", "reminders",
                               "voice-memos", "whatsapp", "wechat-contacts", "wechat", "photos", "videos",
                               "message-attachments", "wechat-attachments", "whatsapp-files"}) {
    std::cout << "\n$ velmora analyse " << backup << " " << category << " --first 5\n" << std::flush;
    AnalyseOptions analyse;
    analyse.backup = backup;
    analyse.category = category;
    analyse.first = 5;
    status = std::max(status, RunAnalyse(analyse));
    std::cout << "\n$ velmora recover " << backup << " " << category << " --out " << out << "\n" << std::flush;
    RecoverOptions recover;
    recover.backup = backup;
    recover.category = category;
    recover.out = out;
    status = std::max(status, RunRecover(recover));
  }
  // The phone has a QQ and a TIM account: the first analysis lists them,
  // the next ones read the first.
  std::cout << "\n$ velmora analyse " << backup << " qq\n" << std::flush;
  AnalyseOptions accounts;
  accounts.backup = backup;
  accounts.category = "qq";
  status = std::max(status, RunAnalyse(accounts));
  std::cout << "\n$ velmora analyse " << backup << " qq --account 0 --first 5\n" << std::flush;
  AnalyseOptions qq = accounts;
  qq.account = 0;
  qq.first = 5;
  status = std::max(status, RunAnalyse(qq));
  std::cout << "\n$ velmora recover " << backup << " qq --account 0 --out " << out << "\n" << std::flush;
  RecoverOptions recoverQq;
  recoverQq.backup = backup;
  recoverQq.category = "qq";
  recoverQq.account = 0;
  recoverQq.out = out;
  status = std::max(status, RunRecover(recoverQq));
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
