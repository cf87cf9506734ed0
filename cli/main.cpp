// velmora: the command line of the system. Git-like: `velmora help`,
// `velmora <command> --help`, `velmora --version`.

#include <exception>
#include <iostream>

#include <CLI/CLI.hpp>

#include "cli/commands.h"
#include "cli/output.h"

int main(int argc, char** argv) {
  CLI::App app{"velmora: recovers messages, contacts, calls, notes, photos and chats from iPhone backups",
               "velmora"};
  app.set_version_flag("--version", std::string("velmora ") + VELMORA_VERSION);
  app.require_subcommand(1);
  app.fallthrough(false);

  int exitCode = cli::kExitDone;
  cli::AddBackupsCommand(app, exitCode);
  cli::AddInfoCommand(app, exitCode);
  cli::AddFilesCommand(app, exitCode);
  cli::AddAnalyseCommand(app, exitCode);
  cli::AddRecoverCommand(app, exitCode);
  cli::AddPackageCommand(app, exitCode);
  cli::AddPlistCommand(app, exitCode);
  cli::AddScanCommand(app, exitCode);
  cli::AddDemoCommand(app, exitCode);
  CLI::App* help = app.add_subcommand("help", "Show the commands, or the options of one command");
  std::string helpTopic;
  help->add_option("command", helpTopic, "The command to explain");
  help->callback([&] {
    CLI::App* topic = nullptr;
    if (!helpTopic.empty()) {
      try {
        topic = app.get_subcommand(helpTopic);
      } catch (const CLI::OptionNotFound&) {
        std::cerr << "velmora: no command '" << helpTopic << "'\n";
        exitCode = cli::kExitUsage;
        return;
      }
    }
    // The formatter directly: App::help() would explain the chosen
    // subcommand, which is "help" itself.
    std::cout << (topic != nullptr ? topic->help("velmora")
                                   : app.get_formatter()->make_help(&app, "velmora", CLI::AppFormatMode::Normal));
  });

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    std::cout << app.help();
    return cli::kExitDone;
  } catch (const CLI::CallForVersion&) {
    std::cout << app.version() << '\n';
    return cli::kExitDone;
  } catch (const CLI::ParseError& e) {
    std::cerr << "velmora: " << e.what() << "\n(see 'velmora help')\n";
    return cli::kExitUsage;
  } catch (const std::exception& e) {
    // Last resort: a bug fails this command and says so.
    std::cerr << "velmora: internal error: " << e.what() << '\n';
    return cli::kExitUnreadable;
  }
  return exitCode;
}
