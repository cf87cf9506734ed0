#include "ui/progress_wnd.h"

#include <chrono>
#include <cmath>
#include <iostream>
#include <thread>

namespace ui {
namespace {

// Asks the UI thread to show percentValue_.
constexpr std::uint32_t kShowPercentMessage = 0x0401;

}  // namespace

std::string PercentText(float percent) {
  return std::to_string(static_cast<long long>(std::trunc(percent))) + "%";
}

int CProgressWnd::ShowModal(const std::string& caption, toolkit::CWindow* parent) {
  if (!Widget() && !Create("ProgressDlg.xml", caption, parent)) {
    std::cerr << LastError() << '\n';
    ready_ = true;  // a worker must not wait for a window that never shows
    cancelled_ = true;
    return toolkit::kResultCancel;
  }
  SetWindowText(caption);
  SetTopmost(true);
  const int result = CWindow::ShowModal(parent);
  if (result == toolkit::kResultCancel) cancelled_ = true;
  return result;
}

void CProgressWnd::SetProgress(float percent) {
  while (!ready_.load()) std::this_thread::sleep_for(std::chrono::milliseconds(30));
  percentValue_.store(percent);
  Post(kShowPercentMessage, 0, 0);
  if (percent >= 100.0F) Post(toolkit::kWmClose, 0, 0);
}

void CProgressWnd::AddProgress(float delta) {
  float current = percentValue_.load();
  while (!percentValue_.compare_exchange_weak(current, current + delta)) {
  }
  Post(kShowPercentMessage, 0, 0);
}

void CProgressWnd::OnCreate() {
  bar_ = Find("ProgressBar");
  valueLabel_ = Find("prg_value");
  if (!titleText.empty())
    if (toolkit::CControl* title = Find("Title")) title->SetText(titleText);
}

void CProgressWnd::OnShow() { ready_ = true; }

void CProgressWnd::OnNotify(const toolkit::Notification& notification) {
  if (notification.kind != "click") return;
  if (notification.name == "btn_OK") Close(toolkit::kResultOk);
  if (notification.name == "btn_Cancel" || notification.name == "closebtn") Close(toolkit::kResultCancel);
}

void CProgressWnd::OnMessage(std::uint32_t message, std::uintptr_t /*wParam*/, std::intptr_t /*lParam*/) {
  if (message == kShowPercentMessage) ShowPercent();
}

void CProgressWnd::ShowPercent() {
  const float percent = percentValue_.load();
  if (bar_) bar_->SetValue(static_cast<int>(percent));
  if (valueLabel_) valueLabel_->SetText(PercentText(percent));
}

}  // namespace ui
