#include "cli/analysis.h"

#include <exception>
#include <iostream>
#include <thread>

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

int AnalyseBackup(const std::string& backup, int category, Analysis& analysis) {
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
  analysis.list = readers::ResultListOf(*analysis.holder);
  return kExitDone;
}

}  // namespace cli
