#pragma once
// The progress window of a recovery run: a bar and a percentage that a
// worker thread drives while the user-interface thread runs the window's
// modal loop.

#include <atomic>
#include <string>

#include "export/export_writer.h"
#include "toolkit/window.h"

namespace ui {

class CProgressWnd : public toolkit::CWindow, public exporting::IExportProgress {
 public:
  CProgressWnd() = default;

  // UI thread: shows the window modally with the caption and returns 1
  // ("btn_OK"), 2 ("btn_Cancel", the close button, a close by the system)
  // or 0 (SetProgress reached 100). A skin that cannot be loaded returns 2
  // at once, and the progress calls no longer wait.
  int ShowModal(const std::string& caption, toolkit::CWindow* parent = nullptr);

  // Any thread but the UI thread: waits (polling every 30 ms) until the
  // window is shown, then shows percent; at 100 or more it closes the
  // window, which ends the modal loop with 0.
  void SetProgress(float percent) override;
  // Any thread, no waiting: adds delta to the percentage and shows it (a
  // value past 100 shows as it is; only SetProgress closes). Call after the
  // window is shown (callers first call SetProgress).
  void AddProgress(float delta) override;

  // Any thread: true once the user closed the window without it reaching
  // 100 ("btn_Cancel", the close button, a close by the system, a skin that
  // could not be loaded), so the run stops at its next record.
  bool Cancelled() const override { return cancelled_.load(); }

  float PercentValue() const { return percentValue_.load(); }

  // Shown in the label "Title" when not empty.
  std::string titleText;

 protected:
  void OnCreate() override;
  void OnShow() override;
  void OnNotify(const toolkit::Notification& notification) override;
  void OnMessage(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) override;

 private:
  void ShowPercent();

  toolkit::CControl* bar_ = nullptr;
  toolkit::CControl* valueLabel_ = nullptr;
  std::atomic<float> percentValue_{0.0F};
  // True once the bar exists and the window is visible (or it never will be).
  std::atomic<bool> ready_{false};
  std::atomic<bool> cancelled_{false};
};

// The label text of a percentage: the integer part and "%".
std::string PercentText(float percent);

}  // namespace ui
