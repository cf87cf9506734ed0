// velmora analyse BACKUP CATEGORY: what one data category of a backup holds,
// live and deleted records alike.

#include <cmath>
#include <iostream>

#include "cli/analysis.h"
#include "cli/commands.h"
#include "cli/media.h"
#include "cli/output.h"
#include "base/categories.h"
#include "db/item_time.h"
#include "db/text.h"

namespace cli {
namespace {

// A record's title on one summary line: line breaks and tabs (a note's body
// is its title) become blanks, and a long text is cut.
std::string SummaryTitle(const std::string& title) {
  constexpr std::size_t kMaxUnits = 60;
  std::string line;
  for (char c : title) {
    const bool blank = c == '\r' || c == '\n' || c == '\t';
    if (blank && (line.empty() || line.back() == ' ')) continue;
    line += blank ? ' ' : c;
  }
  const std::string cut = db::LeftUtf16(line, kMaxUnits);
  return cut.size() < line.size() ? cut + "…" : line;
}

}  // namespace

int RunAnalyse(const AnalyseOptions& options) {
  const int category = CategoryArgument(options.category);
  if (category < 0) return kExitUsage;
  Analysis analysis;
  if (const int status = AnalyseBackup(options.backup, category, analysis, options.account, options.password); status != kExitDone) {
    return status;
  }
  // A file the category needs could not be read: what is shown is only part
  // of what the phone holds, and the exit status says so.
  const int done = RequiredFileFailed(analysis) ? kExitUnreadable : kExitDone;
  const readers::ICategoryReader& reader = *analysis.reader;
  const base::CategoryInfo& info = reader.Category();
  if (analysis.chooseAccount) {
    if (options.json) {
      nlohmann::ordered_json out;
      out["category"] = category;
      out["accounts"] = AccountsJson(analysis);
      PrintJson(std::cout, out);
    } else {
      PrintAccounts(analysis);
    }
    return done;
  }
  if (info.chatAccounts && reader.Accounts().empty()) {
    std::cerr << "velmora: " << (category == base::kCategoryQq ? "未找到QQ本地帐号" : "未找到微信本地帐号") << '\n';
  }
  if (info.kind == base::CategoryKind::kMedia) {
    if (options.json) {
      nlohmann::ordered_json out;
      out["category"] = category;
      out["groups"] = MediaGroupsJson(reader, analysis.list);
      ShowBackupPaths(out, analysis.index);
      PrintJson(std::cout, out);
    } else {
      PrintMediaSummary(analysis.list, options.first);
    }
    return done;
  }
  const bool grouped = info.kind == base::CategoryKind::kConversations;
  // Chats in the backup that cannot be read (QQ's encrypted current
  // builds): said beside what was read, or instead of an empty list. The
  // data is there but locked: no failure of the program.
  const std::string notice = ChosenAccountNotice(analysis);
  if (options.json) {
    nlohmann::ordered_json out;
    out["category"] = category;
    if (const auto accounts = reader.Accounts();
        category == base::kCategoryQq && reader.ChosenAccount() < accounts.size()) {
      out["chatsEncrypted"] = accounts[reader.ChosenAccount()].chatsEncrypted;
      out["notice"] = notice;
    }
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const db::BaseItem* record : analysis.list) {
      list.push_back(grouped ? reader.GroupJson(*record) : reader.RecordJson(*record));
    }
    out[grouped ? "groups" : "records"] = std::move(list);
    ShowBackupPaths(out, analysis.index);
    PrintJson(std::cout, out);
    return done;
  }
  if (!notice.empty() && analysis.list.empty()) {
    std::cout << notice << '\n';
    return done;
  }
  std::size_t records = 0;
  std::size_t deleted = 0;
  for (const db::BaseItem* record : analysis.list) {
    if (grouped) {
      for (const db::BaseItem* member : readers::Members(*record)) {
        ++records;
        deleted += member->deleted != 0 ? 1 : 0;
      }
    } else {
      ++records;
      deleted += record->deleted != 0 ? 1 : 0;
    }
  }
  if (grouped) std::cout << "Groups:  " << analysis.list.size() << '\n';
  std::cout << "Records: " << records << '\n' << "Deleted: " << deleted << '\n';
  int shown = 0;
  for (const db::BaseItem* record : analysis.list) {
    if (shown++ >= options.first) break;
    std::cout << (record->deleted != 0 ? "  [已删除] " : "  ") << (record->time != 0 ? db::FormatItemTime(record->time) : "")
              << SummaryTitle(record->Title());
    if (grouped) std::cout << " (" << readers::Members(*record).size() << ")";
    std::cout << '\n';
  }
  if (analysis.list.size() > static_cast<std::size_t>(options.first)) {
    std::cout << "  ... " << analysis.list.size() - static_cast<std::size_t>(options.first) << " more\n";
  }
  if (!notice.empty()) std::cout << notice << '\n';
  return done;
}

void AddAnalyseCommand(CLI::App& app, int& exitCode) {
  auto options = std::make_shared<AnalyseOptions>();
  CLI::App* command = app.add_subcommand("analyse", "List what one data category of a backup holds, deleted records included");
  command->add_option("BACKUP", options->backup, "The backup folder")->required();
  command->add_option("CATEGORY", options->category,
                      "A number 0-17 or a name: calls, contacts, messages, safari, ...")
      ->required();
  command->add_flag("--json", options->json,
                    "Print JSON: {\"category\", \"records\"}, or {\"category\", \"groups\"} for conversations "
                    "and for media (top groups with their \"days\")");
  command->add_option("--first", options->first, "How many records the text summary shows (default 20)")
      ->check(CLI::NonNegativeNumber);
  command->add_option("--account", options->account,
                      "Chat categories: the account to list (0, 1 ...); without it a backup of several "
                      "accounts lists the accounts")
      ->check(CLI::NonNegativeNumber);
  AddPasswordOption(command, options->password);
  command->callback([options, &exitCode] { exitCode = RunAnalyse(*options); });
}

}  // namespace cli
