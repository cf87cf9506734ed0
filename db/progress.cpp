#include "db/progress.h"

#include <mutex>

namespace db {
namespace {

struct ProgressState {
  std::mutex mutex;
  platform::IMessageTarget* target = nullptr;
  float lastValue = 0;
};

ProgressState& State() {
  static ProgressState state;
  return state;
}

}  // namespace

void SetProgressTarget(platform::IMessageTarget* target) {
  ProgressState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.target = target;
  state.lastValue = 0;
}

void ReportProgress(bool relative, float percent) {
  ProgressState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  if (state.target == nullptr) return;
  state.lastValue = relative ? state.lastValue + percent : percent;
  state.target->Post(platform::kWmAnalysisProgress, 0, static_cast<std::intptr_t>(state.lastValue));
}

}  // namespace db
