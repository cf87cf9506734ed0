#include "db/progress.h"

namespace db {

void AnalysisProgress::Report(bool relative, float percent) {
  if (stop_ != nullptr && stop_->load()) throw AnalysisStopped();
  std::lock_guard<std::mutex> lock(mutex_);
  lastValue_ = relative ? lastValue_ + percent : percent;
  if (target_ != nullptr) {
    target_->Post(platform::kWmAnalysisProgress, 0, static_cast<std::intptr_t>(lastValue_));
  }
}

void ReportProgress(AnalysisProgress* progress, bool relative, float percent) {
  if (progress != nullptr) progress->Report(relative, percent);
}

}  // namespace db
