#include "cli/analysis.h"

#include <exception>
#include <iostream>
#include <thread>

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
  const std::size_t accounts = readers::WxAccountsOf(*analysis.holder).size();
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

nlohmann::ordered_json AccountsJson(const Analysis& analysis) {
  nlohmann::ordered_json list = nlohmann::ordered_json::array();
  const auto accounts = readers::WxAccountsOf(*analysis.holder);
  for (std::size_t i = 0; i < accounts.size(); ++i) {
    nlohmann::ordered_json entry;
    entry["index"] = i;
    entry["userName"] = accounts[i]->userName;
    entry["displayName"] = accounts[i]->DisplayName();
    entry["weChatId"] = accounts[i]->alias;
    list.push_back(std::move(entry));
  }
  return list;
}

void PrintAccounts(const Analysis& analysis) {
  const auto accounts = readers::WxAccountsOf(*analysis.holder);
  std::cout << "Accounts: " << accounts.size() << " (choose one with --account N)\n";
  for (std::size_t i = 0; i < accounts.size(); ++i) {
    std::cout << "  " << i << "  " << accounts[i]->userName << "  " << accounts[i]->DisplayName() << "  "
              << accounts[i]->alias << '\n';
  }
}

}  // namespace cli
