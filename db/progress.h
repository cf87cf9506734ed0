#pragma once
// Analysis progress: the readers report a percentage, which goes to the
// analysis's message target as kWmAnalysisProgress (lParam = percent). The
// analysis makes one AnalysisProgress and hands it to the readers it runs;
// nothing about progress is kept process-wide.

#include <mutex>

#include "platform/message_target.h"

namespace db {

class AnalysisProgress {
 public:
  // target may be null (nothing is posted); it must outlive this object.
  explicit AnalysisProgress(platform::IMessageTarget* target) : target_(target) {}

  // Posts a new percentage: percent itself, or the last posted value plus
  // percent when relative is set. Thread-safe.
  void Report(bool relative, float percent);

 private:
  std::mutex mutex_;
  platform::IMessageTarget* target_;
  float lastValue_ = 0;
};

// progress->Report(relative, percent) when progress is not null: readers run
// without a progress where nobody watches (tests, tools).
void ReportProgress(AnalysisProgress* progress, bool relative, float percent);

}  // namespace db
