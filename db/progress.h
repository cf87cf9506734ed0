#pragma once
// Analysis progress: the readers report a percentage, which goes to the
// analysis's message target as kWmAnalysisProgress (lParam = percent). The
// analysis makes one AnalysisProgress and hands it to the readers it runs;
// nothing about progress is kept process-wide.

#include <atomic>
#include <exception>
#include <mutex>

#include "platform/message_target.h"

namespace db {

// Thrown by AnalysisProgress::Report once the analysis was asked to stop:
// it unwinds the readers, whose results are then dropped whole.
class AnalysisStopped : public std::exception {
 public:
  const char* what() const noexcept override { return "the analysis was stopped"; }
};

class AnalysisProgress {
 public:
  // target may be null (nothing is posted); it must outlive this object.
  // stop, when given, asks the analysis to stop: it is read at every report.
  explicit AnalysisProgress(platform::IMessageTarget* target, const std::atomic<bool>* stop = nullptr)
      : target_(target), stop_(stop) {}

  // Posts a new percentage: percent itself, or the last posted value plus
  // percent when relative is set. Thread-safe. Throws AnalysisStopped
  // instead once stop is set.
  void Report(bool relative, float percent);

 private:
  std::mutex mutex_;
  platform::IMessageTarget* target_;
  const std::atomic<bool>* stop_;
  float lastValue_ = 0;
};

// progress->Report(relative, percent) when progress is not null: readers run
// without a progress where nobody watches (tests, tools).
void ReportProgress(AnalysisProgress* progress, bool relative, float percent);

}  // namespace db
