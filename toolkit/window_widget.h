#pragma once
// The top-level widget of a skin window (the toolkit's own): the
// transparent margin that carries the shadow, the content frame inside it,
// moving and sizing by the caption and size box, and the delivery of posted
// messages, timers, showing and system closes to its CWindow.

#include <cstdint>

#include <QPoint>
#include <QRect>
#include <QWidget>

#include "toolkit/window.h"

namespace toolkit {

class WindowWidget : public QWidget {
 public:
  explicit WindowWidget(CWindow* owner);

  int shadowMargin = 0;
  int shadowDarkness = 0;
  int cornerRadius = 0;

  // Lays the content frame inside the shadow (none when maximised) and
  // clips it to its rounded corners.
  void UpdateFrameShape();

 protected:
  bool event(QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void timerEvent(QTimerEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  CWindow* owner_;
  HitArea dragArea_ = HitArea::kClient;
  QPoint dragStart_;
  QRect dragGeometry_;
};

// Any thread: queues (message, wParam, lParam) for the widget's CWindow.
void PostWindowMessage(WindowWidget* widget, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam);

}  // namespace toolkit
