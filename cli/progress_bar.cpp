#include "cli/progress_bar.h"

#include <algorithm>
#include <cstdio>

#include "platform/terminal.h"

namespace cli {

ProgressBar::ProgressBar(const char* title) : title_(title), enabled_(platform::StderrIsTerminal()) {}

ProgressBar::~ProgressBar() {
  if (drawn_) std::fputs("\n", stderr);
}

void ProgressBar::Post(std::uint32_t message, std::uintptr_t, std::intptr_t lParam) {
  if (message == platform::kWmAnalysisProgress) SetProgress(static_cast<float>(lParam));
}

void ProgressBar::SetProgress(float percent) {
  std::lock_guard<std::mutex> lock(mutex_);
  percent_ = percent;
  Draw();
}

void ProgressBar::AddProgress(float delta) {
  std::lock_guard<std::mutex> lock(mutex_);
  percent_ += delta;
  Draw();
}

void ProgressBar::Draw() {
  if (!enabled_) return;
  constexpr int kWidth = 30;
  const float shown = std::clamp(percent_, 0.0f, 100.0f);
  const int filled = static_cast<int>(shown * kWidth / 100);
  char bar[kWidth + 1];
  for (int i = 0; i < kWidth; ++i) bar[i] = i < filled ? '#' : '.';
  bar[kWidth] = '\0';
  std::fprintf(stderr, "\r%s [%s] %3d%%", title_, bar, static_cast<int>(shown));
  std::fflush(stderr);
  drawn_ = true;
}

}  // namespace cli
