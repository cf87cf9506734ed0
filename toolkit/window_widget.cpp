#include "toolkit/window_widget.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QEvent>
#include <QLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QRegion>
#include <QTimerEvent>
#include <QWindow>

namespace toolkit {
namespace {

const QEvent::Type kPostedMessageEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

class PostedMessage : public QEvent {
 public:
  PostedMessage(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam)
      : QEvent(kPostedMessageEvent), message_(message), wParam_(wParam), lParam_(lParam) {}
  std::uint32_t message_;
  std::uintptr_t wParam_;
  std::intptr_t lParam_;
};

Qt::Edges EdgesOf(HitArea area) {
  switch (area) {
    case HitArea::kLeft: return Qt::LeftEdge;
    case HitArea::kRight: return Qt::RightEdge;
    case HitArea::kTop: return Qt::TopEdge;
    case HitArea::kBottom: return Qt::BottomEdge;
    case HitArea::kTopLeft: return Qt::TopEdge | Qt::LeftEdge;
    case HitArea::kTopRight: return Qt::TopEdge | Qt::RightEdge;
    case HitArea::kBottomLeft: return Qt::BottomEdge | Qt::LeftEdge;
    case HitArea::kBottomRight: return Qt::BottomEdge | Qt::RightEdge;
    default: return {};
  }
}

Qt::CursorShape CursorOf(HitArea area) {
  switch (area) {
    case HitArea::kLeft:
    case HitArea::kRight: return Qt::SizeHorCursor;
    case HitArea::kTop:
    case HitArea::kBottom: return Qt::SizeVerCursor;
    case HitArea::kTopLeft:
    case HitArea::kBottomRight: return Qt::SizeFDiagCursor;
    case HitArea::kTopRight:
    case HitArea::kBottomLeft: return Qt::SizeBDiagCursor;
    default: return Qt::ArrowCursor;
  }
}

}  // namespace

WindowWidget::WindowWidget(CWindow* owner) : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint), owner_(owner) {
  setAttribute(Qt::WA_TranslucentBackground);
  setMouseTracking(true);
}

void PostWindowMessage(WindowWidget* widget, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
  QCoreApplication::postEvent(widget, new PostedMessage(message, wParam, lParam));
}

void WindowWidget::UpdateFrameShape() {
  QWidget* content = owner_->content_;
  if (!content) return;
  const int margin = isMaximized() ? 0 : shadowMargin;
  layout()->setContentsMargins(margin, margin, margin, margin);
  if (cornerRadius > 0 && !isMinimized() && !isMaximized() && content->width() > 0) {
    QPainterPath path;
    path.addRoundedRect(QRectF(content->rect()), cornerRadius, cornerRadius);
    content->setMask(QRegion(path.toFillPolygon().toPolygon()));
  } else {
    content->clearMask();
  }
}

bool WindowWidget::event(QEvent* event) {
  if (event->type() == kPostedMessageEvent) {
    auto* posted = static_cast<PostedMessage*>(event);
    owner_->DispatchMessage(posted->message_, posted->wParam_, posted->lParam_);
    return true;
  }
  if (event->type() == QEvent::WindowStateChange) UpdateFrameShape();
  return QWidget::event(event);
}

void WindowWidget::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (owner_->content_) {
    layout()->activate();
    UpdateFrameShape();
  }
}

void WindowWidget::paintEvent(QPaintEvent* /*event*/) {
  if (shadowMargin <= 0 || isMaximized()) return;
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  // Rings from the outside in, each a little darker: a soft shadow
  // without a blur pass.
  for (int i = 0; i < shadowMargin; ++i) {
    const double closeness = static_cast<double>(i + 1) / shadowMargin;
    const int alpha = static_cast<int>(shadowDarkness * closeness * closeness / 3.0);
    painter.setPen(QPen(QColor(0, 0, 0, alpha), 1));
    painter.setBrush(Qt::NoBrush);
    const QRectF ring = QRectF(rect()).adjusted(i + 0.5, i + 0.5, -i - 0.5, -i - 0.5);
    const double radius = cornerRadius + (shadowMargin - i);
    painter.drawRoundedRect(ring, radius, radius);
  }
}

void WindowWidget::timerEvent(QTimerEvent* event) { owner_->DispatchTimer(event->timerId()); }

void WindowWidget::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (!event->spontaneous()) owner_->DispatchShown();
}

void WindowWidget::closeEvent(QCloseEvent* event) {
  event->ignore();
  owner_->DispatchSystemClose();
}

void WindowWidget::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
  const QPoint inContent = owner_->content_->mapFrom(this, event->position().toPoint());
  const HitArea area = owner_->HitTest(inContent.x(), inContent.y());
  if (area == HitArea::kClient) return QWidget::mousePressEvent(event);
  // The window system moves and sizes the window where it can; the
  // manual fallback serves platforms that cannot (offscreen, some X11).
  QWindow* handle = windowHandle();
  const bool system = handle && (area == HitArea::kCaption ? handle->startSystemMove()
                                                             : handle->startSystemResize(EdgesOf(area)));
  if (!system) {
    dragArea_ = area;
    dragStart_ = event->globalPosition().toPoint();
    dragGeometry_ = geometry();
  }
  event->accept();
}

void WindowWidget::mouseMoveEvent(QMouseEvent* event) {
  if (dragArea_ == HitArea::kClient) {
    const QPoint inContent = owner_->content_->mapFrom(this, event->position().toPoint());
    setCursor(CursorOf(owner_->HitTest(inContent.x(), inContent.y())));
    return QWidget::mouseMoveEvent(event);
  }
  const QPoint delta = event->globalPosition().toPoint() - dragStart_;
  QRect target = dragGeometry_;
  if (dragArea_ == HitArea::kCaption) {
    target.moveTopLeft(dragGeometry_.topLeft() + delta);
  } else {
    const Qt::Edges edges = EdgesOf(dragArea_);
    if (edges & Qt::LeftEdge) target.setLeft(target.left() + delta.x());
    if (edges & Qt::RightEdge) target.setRight(target.right() + delta.x());
    if (edges & Qt::TopEdge) target.setTop(target.top() + delta.y());
    if (edges & Qt::BottomEdge) target.setBottom(target.bottom() + delta.y());
    if (target.width() < minimumWidth() || target.height() < minimumHeight()) return;
  }
  setGeometry(target);
}

void WindowWidget::mouseReleaseEvent(QMouseEvent* event) {
  dragArea_ = HitArea::kClient;
  QWidget::mouseReleaseEvent(event);
}

void WindowWidget::mouseDoubleClickEvent(QMouseEvent* event) {
  const QPoint inContent = owner_->content_->mapFrom(this, event->position().toPoint());
  const bool resizable = ParseRect(owner_->skin_.Attribute("sizebox")).has_value();
  if (resizable && owner_->HitTest(inContent.x(), inContent.y()) == HitArea::kCaption) {
    isMaximized() ? owner_->Restore() : owner_->Maximise();
    return;
  }
  QWidget::mouseDoubleClickEvent(event);
}

}  // namespace toolkit
