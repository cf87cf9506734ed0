#include "testing/progress_recorder.h"

namespace sample {

void ProgressRecorder::Post(std::uint32_t message, std::uintptr_t, std::intptr_t lParam) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (message == platform::kWmAnalysisProgress) values_.push_back(static_cast<int>(lParam));
}

std::vector<int> ProgressRecorder::Values() {
  std::lock_guard<std::mutex> lock(mutex_);
  return values_;
}

}  // namespace sample
