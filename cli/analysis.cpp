#include "cli/analysis.h"

#include <algorithm>
#include <exception>
#include <iostream>
#include <thread>

#include "base/categories.h"
#include "cli/output.h"
#include "cli/progress_bar.h"
#include "platform/fs.h"
#include "recovery/analysis.h"

namespace cli {

int CategoryArgument(const std::string& text) {
  const auto category = base::ParseCategory(text);
  if (!category) {
    std::cerr << "velmora: no category '" << text << "': a number 0-17 or one of";
    for (const base::CategoryInfo& info : base::AllCategories()) std::cerr << ' ' << info.cliName;
    std::cerr << '\n';
    return -1;
  }
  return *category;
}

int AnalyseBackup(const std::string& backup, int category, Analysis& analysis, int account,
                  const PasswordSource& password) {
  if (!platform::IsFolderOrLinkToOne(backup)) return ReportNoBackup("no folder " + backup);
  if (const int opened = OpenBackupIndex(analysis.index, backup, password); opened != kExitDone) return opened;
  std::exception_ptr failure;
  {
    ProgressBar bar("分析");
    // The analysis runs on its own worker, as in the desktop program; this
    // thread only waits for it.
    std::thread worker([&] {
      try {
        recovery::RunAnalysis(category, analysis.index, analysis.reader, &bar);
      } catch (...) {
        failure = std::current_exception();
      }
    });
    worker.join();
    if (failure) std::rethrow_exception(failure);
    bar.SetProgress(100);
  }
  if (!analysis.reader) return kExitUsage;
  for (const readers::FileProblem& problem : analysis.reader->Problems()) {
    std::cerr << "velmora: warning: cannot read " << problem.status.Text() << '\n';
  }
  const std::size_t accounts = analysis.reader->Accounts().size();
  if (account >= 0) {
    if (static_cast<std::size_t>(account) >= accounts) {
      std::cerr << "velmora: no account " << account << ": this backup has " << accounts << " account"
                << (accounts == 1 ? "" : "s") << " of this app\n";
      return kExitUsage;
    }
    analysis.reader->ChooseAccount(static_cast<std::size_t>(account));
  } else if (accounts > 1) {
    analysis.chooseAccount = true;
    return kExitDone;
  }
  analysis.list = analysis.reader->ResultList();
  return kExitDone;
}

bool RequiredFileFailed(const Analysis& analysis) {
  const auto& problems = analysis.reader->Problems();
  return std::any_of(problems.begin(), problems.end(), [](const readers::FileProblem& p) { return p.required; });
}

nlohmann::ordered_json AccountsJson(const Analysis& analysis) {
  nlohmann::ordered_json list = nlohmann::ordered_json::array();
  const bool qq = analysis.reader->Category().number == base::kCategoryQq;
  const auto accounts = analysis.reader->Accounts();
  for (std::size_t i = 0; i < accounts.size(); ++i) {
    nlohmann::ordered_json entry;
    entry["index"] = i;
    entry["userName"] = accounts[i].userName;
    entry["displayName"] = accounts[i].displayName;
    entry[qq ? "qqNumber" : "weChatId"] = accounts[i].id;
    if (qq) {
      entry["chatsEncrypted"] = accounts[i].chatsEncrypted;
      entry["notice"] = accounts[i].notice;
    }
    list.push_back(std::move(entry));
  }
  return list;
}

void PrintAccounts(const Analysis& analysis) {
  const auto accounts = analysis.reader->Accounts();
  std::cout << "Accounts: " << accounts.size() << " (choose one with --account N)\n";
  for (std::size_t i = 0; i < accounts.size(); ++i) {
    std::cout << "  " << i << "  " << accounts[i].userName << "  " << accounts[i].displayName << "  "
              << accounts[i].id;
    if (!accounts[i].notice.empty()) std::cout << "  " << accounts[i].notice;
    std::cout << '\n';
  }
}

std::string ChosenAccountNotice(const Analysis& analysis) {
  if (!analysis.reader || analysis.chooseAccount) return {};
  const auto accounts = analysis.reader->Accounts();
  const std::size_t chosen = analysis.reader->ChosenAccount();
  return chosen < accounts.size() ? accounts[chosen].notice : std::string();
}

}  // namespace cli
