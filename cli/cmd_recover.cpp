// velmora recover BACKUP CATEGORY --out DIR: writes the records of one
// category (all, or those the filters keep) as CSV tables and HTML pages.

#include <iostream>

#include "cli/analysis.h"
#include "cli/commands.h"
#include "cli/media.h"
#include "cli/output.h"
#include "cli/progress_bar.h"
#include "base/categories.h"
#include "readers/record_filter.h"
#include "recovery/recovery_run.h"

namespace cli {

int RunRecover(const RecoverOptions& options) {
  const int category = CategoryArgument(options.category);
  if (category < 0) return kExitUsage;
  Analysis analysis;
  if (const int status = AnalyseBackup(options.backup, category, analysis, options.account, options.password); status != kExitDone) {
    return status;
  }
  if (analysis.chooseAccount) {
    std::cerr << "velmora: this backup holds " << analysis.reader->Accounts().size()
              << " accounts: choose one with --account N (`velmora analyse` lists them)\n";
    return kExitUsage;
  }
  // Tick what the filters keep, as a user ticks rows in the record browser:
  // records of a list, or the files of one top group of a media category.
  std::vector<db::BaseItem*> selection;
  const db::FriendItem* top = nullptr;
  if (analysis.reader->Category().kind == base::CategoryKind::kMedia) {
    if (options.group < 0 || static_cast<std::size_t>(options.group) >= analysis.list.size()) {
      if (!analysis.list.empty()) {
        std::cerr << "velmora: --group is 0-" << analysis.list.size() - 1 << " here\n";
        return kExitUsage;
      }
    } else {
      top = dynamic_cast<const db::FriendItem*>(analysis.list[static_cast<std::size_t>(options.group)]);
    }
    if (top != nullptr && TickMediaFiles(*top, options.deletedOnly, options.search) > 0) {
      selection = recovery::TickedDayGroups(*top);
    }
  } else {
    selection = readers::FilterRecords(analysis.list, options.deletedOnly ? 1 : 0, options.search);
    for (db::BaseItem* record : selection) record->checked = 1;
  }
  // Chats the backup holds locked are said, not exported as empty pages;
  // what could be read is recovered as usual.
  const std::string notice = ChosenAccountNotice(analysis);
  if (!notice.empty()) std::cerr << "velmora: " << notice << '\n';
  if (selection.empty()) {
    if (notice.empty() || !analysis.list.empty()) std::cerr << "velmora: nothing to recover\n";
    return kExitDone;
  }
  const std::string label = options.label.empty() ? recovery::RecoveryLabel(options.backup) : options.label;
  std::filesystem::path folder;
  base::Status written;
  {
    ProgressBar bar("导出");
    written = recovery::RunRecovery(*analysis.reader, selection, options.out, label, &bar, folder, top);
  }
  if (!written.Ok()) {
    std::cerr << "velmora: cannot write the export below " << options.out << ": " << written.Text() << '\n';
    return kExitUnreadable;
  }
  std::cout << folder.string() << '\n';
  // What a damaged file held could not be recovered: the export is partial.
  return RequiredFileFailed(analysis) ? kExitUnreadable : kExitDone;
}

void AddRecoverCommand(CLI::App& app, int& exitCode) {
  auto options = std::make_shared<RecoverOptions>();
  CLI::App* command =
      app.add_subcommand("recover", "Write the records of one category as CSV tables and HTML pages, or copy its media files");
  command->add_option("BACKUP", options->backup, "The backup folder")->required();
  command->add_option("CATEGORY", options->category, "A number 0-17 or a name: calls, contacts, messages, safari, ...")
      ->required();
  command->add_option("--out", options->out, "The folder to write into")->required();
  command->add_flag("--deleted-only", options->deletedOnly, "Only records rebuilt from deleted rows");
  command->add_option("--search", options->search, "Only records (or conversations) whose text contains this");
  command->add_option("--group", options->group,
                      "Media categories: the top group whose files are copied (0 all, as `analyse` lists them)");
  command->add_option("--account", options->account,
                      "Chat categories: the account to recover (0, 1 ... as `velmora analyse` lists them)")
      ->check(CLI::NonNegativeNumber);
  command->add_option("--label", options->label,
                      "The name of the source folder (default: the device name, else 指定目录_<folder>)");
  AddPasswordOption(command, options->password);
  command->callback([options, &exitCode] { exitCode = RunRecover(*options); });
}

}  // namespace cli
