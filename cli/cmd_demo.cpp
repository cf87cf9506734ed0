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
  for (const char* form : {"manifest-db", "manifest-mbdb", "folder"}) {
    const std::string backup = (root / form).string();
    std::cout << "\n$ velmora info " << backup << "\n" << std::flush;
    status = std::max(status, RunInfo({backup, false}));
    const char* relativePath = "Library/SMS/sms.db";
    std::cout << "\n$ velmora files " << backup << " HomeDomain " << relativePath << "\n" << std::flush;
    status = std::max(status, RunFiles({backup, "HomeDomain", relativePath, false, -1, false}));
    std::cout << "\n$ velmora files --search --json " << backup << " HomeDomain .plist\n" << std::flush;
    status = std::max(status, RunFiles({backup, "HomeDomain", ".plist", true, -1, true}));
  }
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
