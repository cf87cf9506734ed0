#pragma once
// Records the analysis progress the readers post, for tests: hand Progress()
// to the reader under test.

#include <mutex>
#include <vector>

#include "db/progress.h"
#include "platform/message_target.h"

namespace sample {

class ProgressRecorder : public platform::IMessageTarget {
 public:
  ProgressRecorder() = default;
  ProgressRecorder(const ProgressRecorder&) = delete;
  ProgressRecorder& operator=(const ProgressRecorder&) = delete;

  void Post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) override;
  // The values posted so far, in order.
  std::vector<int> Values();
  // The progress that posts to this recorder.
  db::AnalysisProgress* Progress() { return &progress_; }

 private:
  std::mutex mutex_;
  std::vector<int> values_;
  db::AnalysisProgress progress_{this};
};

}  // namespace sample
