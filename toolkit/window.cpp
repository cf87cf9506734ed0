#include "toolkit/window.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QPixmap>
#include <QScreen>
#include <QThread>
#include <QVBoxLayout>
#include <QWidget>

#include "platform/paths.h"
#include "toolkit/builder.h"
#include "toolkit/qt_text.h"
#include "toolkit/window_widget.h"

namespace toolkit {
namespace {

// A shadow step is this many pixels wide.
constexpr int kShadowStepPixels = 4;

bool IsCaptionExempt(const QWidget* widget, const QWidget* stop) {
  for (; widget && widget != stop; widget = widget->parentWidget()) {
    const QString skinClass = widget->property("skinclass").toString();
    if (skinClass == "Button" || skinClass == "Option" || skinClass == "Text") return true;
  }
  return false;
}

}  // namespace

CWindow::CWindow() = default;

CWindow::~CWindow() {
  // Widgets may still signal while they are torn down; the controls they
  // would report are kept until the widgets are gone, and nothing more is
  // dispatched to the (already destroyed) derived window.
  destroying_ = true;
  widget_.reset();
  controls_.clear();
}

bool CWindow::Create(const std::string& skinFile, const std::string& windowText, CWindow* parent) {
  SkinLoad load = LoadSkinOf("Window", skinFile, platform::SkinFolder());
  if (!load.root) {
    lastError_ = load.error;
    return false;
  }
  skin_ = std::move(*load.root);
  parent_ = parent;
  BuildFrame();
  if (!windowText.empty()) {
    SetWindowText(windowText);
  } else if (CControl* caption = Find("windowtext")) {
    widget_->setWindowTitle(ToQString(caption->Text()));
  }
  OnCreate();
  return true;
}

void CWindow::BuildFrame() {
  widget_ = std::make_unique<WindowWidget>(this);
  auto* outer = new QVBoxLayout(widget_.get());
  outer->setContentsMargins(0, 0, 0, 0);
  auto* frame = new QFrame(widget_.get());
  frame->setObjectName("window_frame");
  frame->setProperty("skinclass", "Window");
  if (skin_.HasAttribute("style")) frame->setProperty("vstyle", ToQString(skin_.Attribute("style")));
  outer->addWidget(frame);
  content_ = frame;
  MakeBoxLayout(skin_, frame, true);

  if (const auto corner = ParseSize(skin_.Attribute("roundcorner")))
    widget_->cornerRadius = corner->first;
  else if (!skin_.Attribute("roundcorner").empty())
    widget_->cornerRadius = std::atoi(skin_.Attribute("roundcorner").c_str());
  if (widget_->cornerRadius > 0)
    frame->setStyleSheet(QString("QFrame#window_frame { border-radius: %1px; }").arg(widget_->cornerRadius));

  for (const SkinNode& child : skin_.children)
    BuildControl(this, child, frame, [this](std::unique_ptr<CControl> control) {
      controls_.push_back(std::move(control));
    });

  SetShadow(std::atoi(skin_.Attribute("shadowsize").c_str()),
            skin_.HasAttribute("shadowdarkness") ? std::atoi(skin_.Attribute("shadowdarkness").c_str()) : 100);
  if (const auto minimum = ParseSize(skin_.Attribute("mininfo")))
    frame->setMinimumSize(minimum->first, minimum->second);
  if (const auto size = ParseSize(skin_.Attribute("size"))) {
    const int margin = widget_->shadowMargin;
    widget_->resize(size->first + 2 * margin, size->second + 2 * margin);
  } else {
    widget_->adjustSize();
  }
}

CControl* CWindow::Find(std::string_view name) const {
  if (name.empty()) return nullptr;
  for (const auto& control : controls_)
    if (control->Name() == name) return control.get();
  return nullptr;
}

CList* CWindow::FindList(std::string_view name) const {
  if (name.empty()) return nullptr;
  for (const auto& control : controls_)
    if (control->Name() == name)
      if (auto* list = dynamic_cast<CList*>(control.get())) return list;
  return nullptr;
}

std::string CWindow::WindowText() const {
  if (!widget_) return {};
  return FromQString(widget_->windowTitle());
}

void CWindow::SetWindowText(const std::string& text) {
  if (widget_) widget_->setWindowTitle(ToQString(text));
  // A frameless window draws its own caption: the skin's "windowtext"
  // label carries the window text.
  if (CControl* caption = Find("windowtext")) caption->SetText(text);
}

void CWindow::Show() {
  if (!widget_) return;
  shown_ = true;
  widget_->show();
  widget_->raise();
  widget_->activateWindow();
}

void CWindow::Hide() {
  shown_ = false;
  if (widget_) widget_->hide();
}

bool CWindow::IsShown() const { return shown_ && widget_ && widget_->isVisible(); }

void CWindow::CentreOver(const CWindow* other) {
  if (!widget_) return;
  QRect area;
  if (other && other->widget_ && other->widget_->isVisible())
    area = other->widget_->frameGeometry();
  else if (QScreen* screen = QGuiApplication::primaryScreen())
    area = screen->availableGeometry();
  if (area.isEmpty()) return;
  QRect geometry = widget_->frameGeometry();
  geometry.moveCenter(area.center());
  widget_->move(geometry.topLeft());
}

void CWindow::SetTopmost(bool topmost) {
  if (!widget_) return;
  const bool visible = widget_->isVisible();
  widget_->setWindowFlag(Qt::WindowStaysOnTopHint, topmost);
  if (visible) widget_->show();  // changing flags hides a shown window
}

void CWindow::Minimise() {
  if (widget_) widget_->showMinimized();
}

void CWindow::Maximise() {
  if (widget_) widget_->showMaximized();
}

void CWindow::Restore() {
  if (widget_) widget_->showNormal();
}

bool CWindow::IsMaximised() const { return widget_ && widget_->isMaximized(); }

void CWindow::SetShadow(int size, int darkness) {
  if (!widget_) return;
  const int oldMargin = widget_->shadowMargin;
  widget_->shadowMargin = std::clamp(size, 0, 16) * kShadowStepPixels;
  widget_->shadowDarkness = std::clamp(darkness, 0, 255);
  const int grow = 2 * (widget_->shadowMargin - oldMargin);
  widget_->resize(widget_->width() + grow, widget_->height() + grow);
  widget_->UpdateFrameShape();
  widget_->update();
}

void CWindow::FitHeightToContent() {
  // Only a shown window lays out at once when it is resized.
  if (!widget_ || !content_ || IsMaximised() || !widget_->isVisible()) return;
  // A wrapping text shorter than its lines need is what a longer message
  // leaves behind; the window grows by the largest shortfall until none is
  // left (texts stacked above each other take a few rounds).
  for (int round = 0; round < 4; ++round) {
    content_->layout()->activate();
    int shortfall = 0;
    for (const QLabel* label : content_->findChildren<QLabel*>()) {
      if (!label->wordWrap() || !label->isVisibleTo(content_)) continue;
      shortfall = std::max(shortfall, label->heightForWidth(label->width()) - label->height());
    }
    if (shortfall <= 0) return;
    widget_->resize(widget_->width(), widget_->height() + shortfall);
  }
}

int CWindow::ShowModal(CWindow* parent) {
  if (!widget_) return kResultCancel;
  CentreOver(parent ? parent : parent_);
  widget_->setWindowModality(Qt::ApplicationModal);
  closedResult_.reset();
  QEventLoop loop;
  modalLoop_ = &loop;
  Show();
  const int result = closedResult_ ? *closedResult_ : loop.exec();
  modalLoop_ = nullptr;
  Hide();
  widget_->setWindowModality(Qt::NonModal);
  return result;
}

void CWindow::Close(int result) {
  closedResult_ = result;
  if (modalLoop_) modalLoop_->exit(result);
  Hide();
  // Only a running event loop is ended: an exit asked for while none runs
  // would stay pending and end every later loop, modal ones too, at once.
  if (mainWindow_ && QThread::currentThread()->loopLevel() > 0) QCoreApplication::exit(result);
}

void CWindow::SetTimer(int id, int intervalMs) {
  if (!widget_) return;
  KillTimer(id);
  const int qtId = widget_->startTimer(std::max(intervalMs, 0));
  if (qtId != 0) timers_[id] = qtId;
}

void CWindow::KillTimer(int id) {
  const auto found = timers_.find(id);
  if (found == timers_.end()) return;
  if (widget_) widget_->killTimer(found->second);
  timers_.erase(found);
}

bool CWindow::HasTimer(int id) const { return timers_.count(id) != 0; }

void CWindow::Post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
  if (widget_) PostWindowMessage(widget_.get(), message, wParam, lParam);
}

HitArea CWindow::HitTest(int x, int y) const {
  if (!content_) return HitArea::kClient;
  const int width = content_->width();
  const int height = content_->height();
  if (x < 0 || y < 0 || x >= width || y >= height) return HitArea::kClient;
  if (const auto box = ParseRect(skin_.Attribute("sizebox")); box && !IsMaximised()) {
    const bool left = x < box->left, right = x >= width - box->right;
    const bool top = y < box->top, bottom = y >= height - box->bottom;
    if (top && left) return HitArea::kTopLeft;
    if (top && right) return HitArea::kTopRight;
    if (bottom && left) return HitArea::kBottomLeft;
    if (bottom && right) return HitArea::kBottomRight;
    if (left) return HitArea::kLeft;
    if (right) return HitArea::kRight;
    if (top) return HitArea::kTop;
    if (bottom) return HitArea::kBottom;
  }
  if (const auto caption = ParseRect(skin_.Attribute("caption"))) {
    const bool inside = x >= caption->left && x < width - caption->right && y >= caption->top && y < caption->bottom;
    if (inside && !IsCaptionExempt(content_->childAt(x, y), content_)) return HitArea::kCaption;
  }
  return HitArea::kClient;
}

bool CWindow::RenderToPng(const std::filesystem::path& file) const {
  if (!widget_) return false;
  return widget_->grab().save(ToQString(file.string()), "PNG");
}

QWidget* CWindow::Widget() const { return widget_.get(); }
QWidget* CWindow::ContentWidget() const { return content_; }

void CWindow::DispatchNotification(const Notification& notification) {
  if (!destroying_) OnNotify(notification);
}

void CWindow::DispatchMessage(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
  if (destroying_) return;
  if (message == kWmClose) {
    Close(static_cast<int>(wParam));
    return;
  }
  OnMessage(message, wParam, lParam);
}

void CWindow::DispatchTimer(int qtTimerId) {
  if (destroying_) return;
  for (const auto& [id, qtId] : timers_)
    if (qtId == qtTimerId) {
      OnTimer(id);
      return;
    }
}

void CWindow::DispatchShown() {
  if (!destroying_) OnShow();
}

bool CWindow::DispatchSystemClose() {
  if (destroying_) return false;
  const std::optional<int> result = OnSystemClose();
  if (!result) return false;
  Close(*result);
  return true;
}

}  // namespace toolkit
