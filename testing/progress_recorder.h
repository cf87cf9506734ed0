#pragma once
// Records the analysis progress the readers post, for tests: while it lives
// it is the process's progress target.

#include <mutex>
#include <vector>

#include "platform/message_target.h"

namespace sample {

class ProgressRecorder : public platform::IMessageTarget {
 public:
  ProgressRecorder();
  ~ProgressRecorder() override;
  ProgressRecorder(const ProgressRecorder&) = delete;
  ProgressRecorder& operator=(const ProgressRecorder&) = delete;

  void Post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) override;
  // The values posted so far, in order.
  std::vector<int> Values();

 private:
  std::mutex mutex_;
  std::vector<int> values_;
};

}  // namespace sample
