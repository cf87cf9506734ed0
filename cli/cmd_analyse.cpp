// velmora analyse BACKUP CATEGORY: what one data category of a backup holds,
// live and deleted records alike.

#include <cmath>
#include <iostream>

#include "cli/analysis.h"
#include "cli/commands.h"
#include "cli/media.h"
#include "cli/output.h"
#include "cli/record_json.h"
#include "db/item_time.h"
#include "db/text.h"
#include "readers/categories.h"
#include "readers/category_readers.h"

namespace cli {
namespace {

// Conversations: each group lists its messages.
bool IsGrouped(int category) {
  return category == readers::kCategoryMessages || category == readers::kCategoryWhatsApp ||
         category == readers::kCategoryWeChat || category == readers::kCategoryQq;
}

bool IsChatCategory(int category) {
  return category == readers::kCategoryQq || category == readers::kCategoryWeChatContacts ||
         category == readers::kCategoryWeChat || category == readers::kCategoryWeChatAttachments;
}

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
  if (const int status = AnalyseBackup(options.backup, category, analysis, options.account); status != kExitDone) {
    return status;
  }
  if (analysis.chooseAccount) {
    if (options.json) {
      nlohmann::ordered_json out;
      out["category"] = category;
      out["accounts"] = AccountsJson(analysis);
      PrintJson(std::cout, out);
    } else {
      PrintAccounts(analysis);
    }
    return kExitDone;
  }
  if (IsChatCategory(category) && readers::ChatAccountCount(*analysis.holder) == 0) {
    std::cerr << "velmora: " << (category == readers::kCategoryQq ? "未找到QQ本地帐号" : "未找到微信本地帐号") << '\n';
  }
  if (IsMediaCategory(category)) {
    if (options.json) {
      nlohmann::ordered_json out;
      out["category"] = category;
      out["groups"] = MediaGroupsJson(analysis.list);
      PrintJson(std::cout, out);
    } else {
      PrintMediaSummary(analysis.list, options.first);
    }
    return kExitDone;
  }
  const bool grouped = IsGrouped(category);
  if (options.json) {
    nlohmann::ordered_json out;
    out["category"] = category;
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const db::BaseItem* record : analysis.list) list.push_back(grouped ? GroupJson(*record) : RecordJson(*record));
    out[grouped ? "groups" : "records"] = std::move(list);
    PrintJson(std::cout, out);
    return kExitDone;
  }
  std::size_t records = 0;
  std::size_t deleted = 0;
  for (const db::BaseItem* record : analysis.list) {
    if (grouped) {
      for (const db::BaseItem* member : Members(*record)) {
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
    if (grouped) std::cout << " (" << Members(*record).size() << ")";
    std::cout << '\n';
  }
  if (analysis.list.size() > static_cast<std::size_t>(options.first)) {
    std::cout << "  ... " << analysis.list.size() - static_cast<std::size_t>(options.first) << " more\n";
  }
  return kExitDone;
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
  command->callback([options, &exitCode] { exitCode = RunAnalyse(*options); });
}

}  // namespace cli
