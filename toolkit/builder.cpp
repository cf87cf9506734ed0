#include "toolkit/builder.h"

#include <algorithm>
#include <cstdlib>
#include <map>

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTextBrowser>
#include <QVBoxLayout>

#include "platform/paths.h"
#include "toolkit/qt_text.h"
#include "toolkit/window.h"

namespace toolkit {
namespace {

void Notify(CControl* control, const char* kind, int index = -1, const std::string& text = {}) {
  Notification notification{control->Name(), kind, control, nullptr, -1, index, text};
  if (CListRow* row = control->Row()) {
    notification.list = row->List();
    notification.row = row->Index();
  }
  control->Window()->DispatchNotification(notification);
}

Qt::Alignment AlignmentOf(const SkinNode& node, Qt::Alignment fallback) {
  const std::string align = node.Attribute("align");
  Qt::Alignment horizontal = fallback & Qt::AlignHorizontal_Mask;
  if (align == "left") horizontal = Qt::AlignLeft;
  if (align == "center") horizontal = Qt::AlignHCenter;
  if (align == "right") horizontal = Qt::AlignRight;
  const std::string valign = node.Attribute("valign");
  Qt::Alignment vertical = Qt::AlignVCenter;
  if (valign == "top") vertical = Qt::AlignTop;
  if (valign == "bottom") vertical = Qt::AlignBottom;
  return horizontal | vertical;
}


// Option groups are per window and per group name; Qt's button group makes
// the options of one group exclusive wherever they sit in the tree.
QButtonGroup* GroupFor(CWindow* window, QWidget* anyWidget, const std::string& group) {
  QWidget* top = window ? window->Widget() : anyWidget->window();
  const QString objectName = "optiongroup:" + ToQString(group);
  auto* existing = top->findChild<QButtonGroup*>(objectName, Qt::FindDirectChildrenOnly);
  if (existing) return existing;
  auto* created = new QButtonGroup(top);
  created->setObjectName(objectName);
  created->setExclusive(true);
  return created;
}

}  // namespace

QBoxLayout* MakeBoxLayout(const SkinNode& node, QWidget* widget, bool vertical) {
  auto* layout = vertical ? static_cast<QBoxLayout*>(new QVBoxLayout(widget)) : new QHBoxLayout(widget);
  const auto padding = ParseRect(node.Attribute("padding"));
  if (padding)
    layout->setContentsMargins(padding->left, padding->top, padding->right, padding->bottom);
  else
    layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(std::atoi(node.Attribute("childpadding").c_str()));
  return layout;
}

QPixmap LoadSkinPixmap(const std::string& imageAttribute) {
  const ImageRef image = ParseImage(imageAttribute);
  if (image.file.empty()) return {};
  const std::filesystem::path path = platform::SkinFolder() / image.file;
  QPixmap pixmap(ToQString(path.string()));
  if (!pixmap.isNull() && image.dest) {
    const int width = image.dest->right - image.dest->left;
    const int height = image.dest->bottom - image.dest->top;
    if (width > 0 && height > 0)
      pixmap = pixmap.scaled(width, height, Qt::KeepAspectRatio, Qt::SmoothTransformation);
  }
  return pixmap;
}

namespace {

QWidget* CreateWidget(CWindow* window, const SkinNode& node, QWidget* parent) {
  const std::string& kind = node.className;
  if (kind == "Label" || kind == "Text" || kind == "Picture") {
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(ParseBool(node.Attribute("wordwrap"), kind == "Text"));
    label->setAlignment(AlignmentOf(node, kind == "Picture" ? Qt::AlignHCenter : Qt::AlignLeft));
    return label;
  }
  if (kind == "RichText") {
    auto* browser = new QTextBrowser(parent);
    browser->setOpenLinks(false);
    browser->setFrameShape(QFrame::NoFrame);
    return browser;
  }
  if (kind == "Button") {
    auto* button = new QPushButton(parent);
    button->setCursor(Qt::PointingHandCursor);
    button->setFocusPolicy(Qt::NoFocus);
    return button;
  }
  if (kind == "Option") {
    auto* option = new QRadioButton(parent);
    option->setCursor(Qt::PointingHandCursor);
    const std::string group = node.Attribute("group");
    if (group.empty())
      option->setAutoExclusive(false);
    else
      GroupFor(window, parent, group)->addButton(option);
    option->setChecked(ParseBool(node.Attribute("selected"), false));
    return option;
  }
  if (kind == "CheckBox") {
    auto* box = new QCheckBox(parent);
    box->setChecked(ParseBool(node.Attribute("selected"), false));
    return box;
  }
  if (kind == "Edit") {
    auto* edit = new QLineEdit(parent);
    edit->setReadOnly(ParseBool(node.Attribute("readonly"), false));
    if (ParseBool(node.Attribute("password"), false)) edit->setEchoMode(QLineEdit::Password);
    edit->setPlaceholderText(ToQString(node.Attribute("prompt")));
    return edit;
  }
  if (kind == "Combo") {
    auto* combo = new QComboBox(parent);
    for (const SkinNode& item : node.children)
      if (item.className == "Item") combo->addItem(ToQString(item.Attribute("text")));
    return combo;
  }
  if (kind == "Progress") {
    auto* bar = new QProgressBar(parent);
    const int minimum = node.HasAttribute("min") ? std::atoi(node.Attribute("min").c_str()) : 0;
    const int maximum = node.HasAttribute("max") ? std::atoi(node.Attribute("max").c_str()) : 100;
    // min = max (both 0) is Qt's busy bar, for work of unknown length.
    bar->setRange(minimum, std::max(maximum, minimum));
    bar->setValue(std::atoi(node.Attribute("value").c_str()));
    bar->setTextVisible(false);
    return bar;
  }
  if (kind == "List") {
    auto* list = new QListWidget(parent);
    list->setFrameShape(QFrame::NoFrame);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    return list;
  }
  if (kind == "TabLayout") return new QStackedWidget(parent);
  auto* frame = new QFrame(parent);
  if (kind == "HorizontalLayout")
    MakeBoxLayout(node, frame, false);
  else if (kind == "Control")
    frame->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
  else
    MakeBoxLayout(node, frame, true);  // VerticalLayout, Container, and unknown elements
  return frame;
}

void Connect(CControl* control) {
  QWidget* widget = control->Widget();
  const std::string& kind = control->ClassName();
  if (kind == "Button") {
    QObject::connect(static_cast<QAbstractButton*>(widget), &QAbstractButton::clicked,
                     [control] { Notify(control, "click"); });
  } else if (kind == "Option") {
    // Only the option the user chose reports; the one that lost its mark
    // in the same group stays quiet, as a click chose one thing.
    QObject::connect(static_cast<QAbstractButton*>(widget), &QAbstractButton::clicked, [control](bool checked) {
      if (checked || control->Attribute("group").empty()) Notify(control, "selectchanged");
    });
  } else if (kind == "CheckBox") {
    QObject::connect(static_cast<QAbstractButton*>(widget), &QAbstractButton::clicked,
                     [control] { Notify(control, "selectchanged"); });
  } else if (kind == "Edit") {
    auto* edit = static_cast<QLineEdit*>(widget);
    QObject::connect(edit, &QLineEdit::textEdited, [control] { Notify(control, "textchanged"); });
    QObject::connect(edit, &QLineEdit::returnPressed, [control] { Notify(control, "return"); });
  } else if (kind == "Combo") {
    QObject::connect(static_cast<QComboBox*>(widget), &QComboBox::activated,
                     [control](int index) { Notify(control, "itemselect", index); });
  } else if (kind == "RichText") {
    QObject::connect(static_cast<QTextBrowser*>(widget), &QTextBrowser::anchorClicked, [control](const QUrl& url) {
      Notify(control, "link", -1, FromQString(url.toString()));
    });
  } else if (kind == "List") {
    auto* list = static_cast<QListWidget*>(widget);
    QObject::connect(list, &QListWidget::currentRowChanged, [control](int index) {
      if (index < 0) return;
      Notification notification{control->Name(), "itemselect", control, static_cast<CList*>(control), index, index, {}};
      control->Window()->DispatchNotification(notification);
    });
    QObject::connect(list, &QListWidget::itemDoubleClicked, [control, list](QListWidgetItem* item) {
      const int index = list->row(item);
      Notification notification{control->Name(), "itemactivate", control, static_cast<CList*>(control), index, index, {}};
      control->Window()->DispatchNotification(notification);
    });
  }
}

void AddToParent(const SkinNode& node, QWidget* parent, QWidget* child) {
  if (auto* stack = qobject_cast<QStackedWidget*>(parent)) {
    stack->addWidget(child);
    return;
  }
  if (QLayout* layout = parent ? parent->layout() : nullptr) {
    auto* box = qobject_cast<QBoxLayout*>(layout);
    if (!box) {
      layout->addWidget(child);
      return;
    }
    const std::string align = node.Attribute("layoutalign");
    Qt::Alignment alignment;
    if (align == "center") alignment = Qt::AlignCenter;
    if (align == "left") alignment = Qt::AlignLeft | Qt::AlignVCenter;
    if (align == "right") alignment = Qt::AlignRight | Qt::AlignVCenter;
    box->addWidget(child, 0, alignment);
  }
}

}  // namespace

void ApplyCommonAttributes(const SkinNode& node, QWidget* widget) {
  const std::string name = node.Attribute("name");
  if (!name.empty()) widget->setObjectName(ToQString(name));
  widget->setProperty("skinclass", ToQString(node.className));
  if (node.HasAttribute("style")) widget->setProperty("vstyle", ToQString(node.Attribute("style")));
  auto intAttribute = [&node](const char* key) { return std::atoi(node.Attribute(key).c_str()); };
  if (node.HasAttribute("width")) widget->setFixedWidth(intAttribute("width"));
  if (node.HasAttribute("height")) widget->setFixedHeight(intAttribute("height"));
  if (node.HasAttribute("minwidth")) widget->setMinimumWidth(intAttribute("minwidth"));
  if (node.HasAttribute("minheight")) widget->setMinimumHeight(intAttribute("minheight"));
  if (node.HasAttribute("maxwidth")) widget->setMaximumWidth(intAttribute("maxwidth"));
  if (node.HasAttribute("maxheight")) widget->setMaximumHeight(intAttribute("maxheight"));
  if (!node.Attribute("tooltip").empty()) widget->setToolTip(ToQString(node.Attribute("tooltip")));
  widget->setEnabled(ParseBool(node.Attribute("enabled"), true));

  QString sheet;
  if (const auto colour = ParseColour(node.Attribute("bkcolor")))
    sheet += QString("background-color: #%1;").arg(*colour & 0xFFFFFFu, 6, 16, QChar('0'));
  if (const auto colour = ParseColour(node.Attribute("textcolor")))
    sheet += QString("color: #%1;").arg(*colour & 0xFFFFFFu, 6, 16, QChar('0'));
  if (node.HasAttribute("font")) sheet += QString("font-size: %1px;").arg(intAttribute("font"));
  if (ParseBool(node.Attribute("bold"), false)) sheet += "font-weight: bold;";
  if (!sheet.isEmpty()) widget->setStyleSheet(sheet);
}

QWidget* BuildControl(CWindow* window, const SkinNode& node, QWidget* parent, const ControlSink& sink, CListRow* row) {
  if (node.className == "Item") return nullptr;  // a combo box entry, read with its box
  QWidget* widget = CreateWidget(window, node, parent);
  ApplyCommonAttributes(node, widget);
  std::unique_ptr<CControl> control = node.className == "List" ? std::make_unique<CList>(window, node, widget)
                                                                : std::make_unique<CControl>(window, node, widget);
  control->SetRow(row);
  if (node.HasAttribute("text")) control->SetText(node.Attribute("text"));
  if (node.HasAttribute("image")) control->SetImage(node.Attribute("image"));
  Connect(control.get());
  AddToParent(node, parent, widget);
  CControl* built = control.get();
  sink(std::move(control));
  for (const SkinNode& child : node.children) BuildControl(window, child, widget, sink, row);
  if (node.className == "TabLayout") built->SelectTab(std::atoi(node.Attribute("selectedid").c_str()));
  if (!ParseBool(node.Attribute("visible"), true)) widget->setVisible(false);
  return widget;
}

const SkinNode* CachedRowSkin(const std::string& file, std::string& error) {
  static std::map<std::filesystem::path, SkinNode> cache;
  const std::filesystem::path path = std::filesystem::path(file).is_absolute() ? std::filesystem::path(file)
                                                                                : platform::SkinFolder() / file;
  if (auto found = cache.find(path); found != cache.end()) return &found->second;
  SkinLoad load = LoadSkin(path, platform::SkinFolder());
  if (!load.root) {
    error = load.error;
    return nullptr;
  }
  return &cache.emplace(path, std::move(*load.root)).first->second;
}

}  // namespace toolkit
