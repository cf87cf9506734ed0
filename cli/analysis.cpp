#include "cli/analysis.h"

#include <exception>
#include <iostream>
#include <thread>

#include "chat/qq_account.h"
#include "chat/wechat_account.h"
#include "cli/output.h"
#include "cli/progress_bar.h"
#include "db/progress.h"
#include "platform/fs.h"
#include "readers/categories.h"

namespace cli {

int CategoryArgument(const std::string& text) {
  const auto category = readers::ParseCategory(text);
  if (!category) {
    std::cerr << "velmora: no category '" << text << "': a number 0-17 or one of";
    for (int i = 0; i < readers::kCategoryCount; ++i) std::cerr << ' ' << readers::CategoryCliName(i);
    std::cerr << '\n';
    return -1;
  }
  if (!readers::IsCategoryBuilt(*category)) {
    std::cerr << "velmora: the category " << readers::CategoryCliName(*category) << " (" << *category
              << ") cannot be analysed yet\n";
    return -1;
  }
  return *category;
}

int AnalyseBackup(const std::string& backup, int category, Analysis& analysis, int account) {
  if (!platform::IsFolderOrLinkToOne(backup)) return ReportNoBackup("no folder " + backup);
  if (analysis.index.Open(backup, -1) == 0) return ReportNoBackup(OpenFailure(analysis.index, backup));
  ProgressBar bar("分析");
  db::SetProgressTarget(&bar);
  std::exception_ptr failure;
  // The analysis runs on its own worker, as in the desktop program; this
  // thread only waits for it.
  std::thread worker([&] {
    try {
      readers::RunAnalysis(category, analysis.index, analysis.holder, nullptr);
    } catch (...) {
      failure = std::current_exception();
    }
  });
  worker.join();
  db::SetProgressTarget(nullptr);
  if (failure) std::rethrow_exception(failure);
  bar.SetProgress(100);
  const std::size_t accounts = readers::ChatAccountCount(*analysis.holder);
  if (account >= 0) {
    if (static_cast<std::size_t>(account) >= accounts) {
      std::cerr << "velmora: no account " << account << ": this backup has " << accounts << " account"
                << (accounts == 1 ? "" : "s") << " of this app\n";
      return kExitUsage;
    }
    analysis.holder->account = static_cast<std::size_t>(account);
  } else if (accounts > 1) {
    analysis.chooseAccount = true;
    return kExitDone;
  }
  analysis.list = readers::ResultListOf(*analysis.holder);
  return kExitDone;
}

namespace {

// One line of the account list: its user name, display name and the
// number people know it by (a WeChat ID, a QQ number).
struct AccountLine {
  std::string userName;
  std::string displayName;
  std::string id;
};

std::vector<AccountLine> AccountLines(const readers::CategoryReaders& holder) {
  std::vector<AccountLine> lines;
  for (const chat::CWxLocalUser* account : readers::WxAccountsOf(holder)) {
    lines.push_back({account->userName, account->DisplayName(), account->alias});
  }
  for (const chat::CQqLocalUser* account : readers::QqAccountsOf(holder)) {
    lines.push_back({account->userName, account->DisplayName(), account->uin});
  }
  return lines;
}

}  // namespace

nlohmann::ordered_json AccountsJson(const Analysis& analysis) {
  nlohmann::ordered_json list = nlohmann::ordered_json::array();
  const bool qq = analysis.holder->category == readers::kCategoryQq;
  const auto lines = AccountLines(*analysis.holder);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    nlohmann::ordered_json entry;
    entry["index"] = i;
    entry["userName"] = lines[i].userName;
    entry["displayName"] = lines[i].displayName;
    entry[qq ? "qqNumber" : "weChatId"] = lines[i].id;
    list.push_back(std::move(entry));
  }
  return list;
}

void PrintAccounts(const Analysis& analysis) {
  const auto lines = AccountLines(*analysis.holder);
  std::cout << "Accounts: " << lines.size() << " (choose one with --account N)\n";
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::cout << "  " << i << "  " << lines[i].userName << "  " << lines[i].displayName << "  " << lines[i].id << '\n';
  }
}

}  // namespace cli
