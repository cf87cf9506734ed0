#pragma once
// The command line's progress: analysis messages and recovery progress drawn
// as one bar on stderr, when stderr is a terminal.

#include <mutex>

#include "export/export_writer.h"
#include "platform/message_target.h"

namespace cli {

class ProgressBar : public platform::IMessageTarget, public exporting::IExportProgress {
 public:
  // title: what the bar stands for ("分析", "导出").
  explicit ProgressBar(const char* title);
  ~ProgressBar() override;

  void Post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) override;
  void SetProgress(float percent) override;
  void AddProgress(float delta) override;

 private:
  void Draw();

  std::mutex mutex_;
  const char* title_;
  bool enabled_;
  bool drawn_ = false;
  float percent_ = 0;
};

}  // namespace cli
