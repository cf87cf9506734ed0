#pragma once
// Posted messages: how worker threads reach the window that follows their
// work. The desktop program delivers them on its UI thread; the command line
// turns them into progress on stderr.

#include <cstdint>

namespace platform {

// Message numbers shared by several subsystems.
inline constexpr std::uint32_t kWmAnalysisProgress = 0x816D;  // lParam = percent
inline constexpr std::uint32_t kWmAnalysisDone = 0x8170;      // wParam = outcome

// A receiver of posted messages. Post may be called from any thread and must
// not block; the receiver decides on which thread it acts on the message.
class IMessageTarget {
 public:
  virtual ~IMessageTarget() = default;
  virtual void Post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) = 0;
};

}  // namespace platform
