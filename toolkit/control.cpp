#include "toolkit/control.h"

#include <algorithm>

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QLayout>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStackedWidget>
#include <QTextBrowser>

#include "toolkit/builder.h"
#include "toolkit/qt_text.h"
#include "toolkit/window.h"

namespace toolkit {

CControl::CControl(CWindow* window, const SkinNode& node, QWidget* widget)
    : window_(window), name_(node.Attribute("name")), className_(node.className), attributes_(node.attributes),
      widget_(widget) {}

std::string CControl::Attribute(std::string_view key) const {
  for (const auto& [name, value] : attributes_)
    if (name == key) return value;
  return {};
}

std::string CControl::Text() const {
  if (auto* label = qobject_cast<QLabel*>(widget_)) return FromQString(label->text());
  if (auto* button = qobject_cast<QAbstractButton*>(widget_)) return FromQString(button->text());
  if (auto* edit = qobject_cast<QLineEdit*>(widget_)) return FromQString(edit->text());
  if (auto* combo = qobject_cast<QComboBox*>(widget_)) return FromQString(combo->currentText());
  if (auto* browser = qobject_cast<QTextBrowser*>(widget_)) return FromQString(browser->toPlainText());
  return {};
}

void CControl::SetText(const std::string& text) {
  if (className_ == "Picture") return;
  if (auto* label = qobject_cast<QLabel*>(widget_)) {
    label->setText(ToQString(text));
  } else if (auto* button = qobject_cast<QAbstractButton*>(widget_)) {
    // A lone "&" would become a keyboard mnemonic and vanish from the caption.
    button->setText(ToQString(text).replace("&", "&&"));
  } else if (auto* edit = qobject_cast<QLineEdit*>(widget_)) {
    edit->setText(ToQString(text));
  } else if (auto* browser = qobject_cast<QTextBrowser*>(widget_)) {
    browser->setHtml(ToQString(text));
  }
}

void CControl::SetToolTip(const std::string& text) { widget_->setToolTip(ToQString(text)); }

bool CControl::IsVisible() const { return !widget_->isHidden(); }
void CControl::SetVisible(bool visible) { widget_->setVisible(visible); }
bool CControl::IsEnabled() const { return widget_->isEnabled(); }
void CControl::SetEnabled(bool enabled) { widget_->setEnabled(enabled); }

bool CControl::IsSelected() const {
  auto* button = qobject_cast<QAbstractButton*>(widget_);
  return button && button->isCheckable() && button->isChecked();
}

void CControl::SetSelected(bool selected) {
  if (auto* button = qobject_cast<QAbstractButton*>(widget_); button && button->isCheckable())
    button->setChecked(selected);
}

int CControl::Value() const {
  auto* bar = qobject_cast<QProgressBar*>(widget_);
  return bar ? bar->value() : 0;
}

void CControl::SetValue(int value) {
  if (auto* bar = qobject_cast<QProgressBar*>(widget_))
    bar->setValue(std::clamp(value, bar->minimum(), bar->maximum()));
}

int CControl::CurrentTab() const {
  auto* stack = qobject_cast<QStackedWidget*>(widget_);
  return stack ? stack->currentIndex() : -1;
}

bool CControl::SelectTab(int index) {
  auto* stack = qobject_cast<QStackedWidget*>(widget_);
  if (!stack || index < 0 || index >= stack->count()) return false;
  stack->setCurrentIndex(index);
  return true;
}

void CControl::AddItem(const std::string& text) {
  if (auto* combo = qobject_cast<QComboBox*>(widget_)) combo->addItem(ToQString(text));
}

void CControl::ClearItems() {
  if (auto* combo = qobject_cast<QComboBox*>(widget_)) combo->clear();
}

int CControl::ItemCount() const {
  auto* combo = qobject_cast<QComboBox*>(widget_);
  return combo ? combo->count() : 0;
}

int CControl::CurrentIndex() const {
  auto* combo = qobject_cast<QComboBox*>(widget_);
  return combo ? combo->currentIndex() : -1;
}

void CControl::SetCurrentIndex(int index) {
  if (auto* combo = qobject_cast<QComboBox*>(widget_); combo && index >= -1 && index < combo->count())
    combo->setCurrentIndex(index);
}

void CControl::SetImage(const std::string& imageAttribute) {
  image_ = imageAttribute;
  const QPixmap pixmap = LoadSkinPixmap(imageAttribute);
  if (auto* label = qobject_cast<QLabel*>(widget_)) {
    if (pixmap.isNull())
      label->clear();
    else
      label->setPixmap(pixmap);
  } else if (auto* button = qobject_cast<QAbstractButton*>(widget_)) {
    button->setIcon(QIcon(pixmap));
    if (!pixmap.isNull()) button->setIconSize(pixmap.size());
  }
}

bool CControl::Contains(const CControl& other) const {
  return other.widget_ != widget_ && widget_->isAncestorOf(other.widget_);
}

ScreenRect CControl::GlobalRect() const {
  const QPoint origin = widget_->mapToGlobal(QPoint(0, 0));
  return {origin.x(), origin.y(), widget_->width(), widget_->height()};
}

CListRow::CListRow(CList* list, QWidget* widget) : list_(list), widget_(widget) {}
CListRow::~CListRow() = default;

CControl* CListRow::Find(std::string_view name) const {
  for (const auto& control : controls_)
    if (control->Name() == name) return control.get();
  return nullptr;
}

int CListRow::Index() const { return list_->IndexOf(this); }

void CListRow::Adopt(std::unique_ptr<CControl> control) { controls_.push_back(std::move(control)); }

CList::CList(CWindow* window, const SkinNode& node, QWidget* widget) : CControl(window, node, widget) {}

CList::~CList() = default;

namespace {

// A row skin's own height is a fixed (minimum) height, which the size hint
// of its layout does not report.
int RowHeight(const QWidget& row) { return std::max(row.sizeHint().height(), row.minimumHeight()); }

}  // namespace

CListRow* CList::AddRow(const std::string& rowSkinFile) {
  lastRowError_.clear();
  const SkinNode* skin = CachedRowSkin(rowSkinFile, lastRowError_);
  if (!skin) return nullptr;
  auto row = std::make_unique<CListRow>(this, nullptr);
  CListRow* built = row.get();
  built->widget_ = BuildControl(
      Window(), *skin, nullptr, [built](std::unique_ptr<CControl> control) { built->Adopt(std::move(control)); },
      built);
  rows_.push_back(std::move(row));
  auto* list = static_cast<QListWidget*>(Widget());
  auto* item = new QListWidgetItem(list);
  item->setSizeHint(QSize(0, RowHeight(*built->widget_)));
  list->setItemWidget(item, built->widget_);  // the list owns the row's widgets from here
  return built;
}

CListRow* CList::RowAt(int index) const {
  if (index < 0 || index >= RowCount()) return nullptr;
  return rows_[static_cast<std::size_t>(index)].get();
}

int CList::IndexOf(const CListRow* row) const {
  for (std::size_t i = 0; i < rows_.size(); ++i)
    if (rows_[i].get() == row) return static_cast<int>(i);
  return -1;
}

void CList::RemoveAll() {
  auto* list = static_cast<QListWidget*>(Widget());
  const QSignalBlocker quiet(list);
  list->clear();
  rows_.clear();
}

int CList::SelectedIndex() const { return static_cast<QListWidget*>(Widget())->currentRow(); }

void CList::Select(int index) {
  auto* list = static_cast<QListWidget*>(Widget());
  if (index < -1 || index >= list->count()) return;
  const QSignalBlocker quiet(list);
  list->setCurrentRow(index);
}

void CList::RedrawRow(int index) {
  CListRow* row = RowAt(index);
  if (!row) return;
  auto* list = static_cast<QListWidget*>(Widget());
  QListWidgetItem* item = list->item(index);
  if (QLayout* layout = row->Widget()->layout()) layout->activate();
  item->setSizeHint(QSize(0, RowHeight(*row->Widget())));
  row->Widget()->update();
}

}  // namespace toolkit
