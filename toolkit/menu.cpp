#include "toolkit/menu.h"

#include <QAction>
#include <QMenu>

#include "platform/paths.h"
#include "toolkit/builder.h"
#include "toolkit/skin.h"

namespace toolkit {
namespace {

QString Q(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

void AddItems(QMenu* menu, const SkinNode& node) {
  for (const SkinNode& child : node.children) {
    if (child.className == "MenuSeparator") {
      menu->addSeparator();
    } else if (child.className == "Menu") {
      AddItems(menu->addMenu(Q(child.Attribute("text"))), child);
    } else if (child.className == "MenuItem") {
      QAction* action = menu->addAction(Q(child.Attribute("text")));
      action->setData(Q(child.Attribute("name")));
      action->setEnabled(ParseBool(child.Attribute("enabled"), true));
      if (child.HasAttribute("image")) action->setIcon(QIcon(LoadSkinPixmap(child.Attribute("image"))));
    }
  }
}

}  // namespace

CMenuEx::CMenuEx() = default;
CMenuEx::~CMenuEx() = default;

bool CMenuEx::Load(const std::string& skinFile) {
  SkinLoad load = LoadSkin(skinFile, platform::SkinFolder());
  if (!load.root) {
    lastError_ = load.error;
    return false;
  }
  if (load.root->className != "Menu") {
    lastError_ = "Skin " + skinFile + ": the root element is <" + load.root->className + ">, not <Menu>";
    return false;
  }
  menu_ = std::make_unique<QMenu>();
  menu_->setObjectName("skin_menu");
  AddItems(menu_.get(), *load.root);
  return true;
}

std::string CMenuEx::Popup(int x, int y) {
  if (!menu_) return {};
  const QAction* chosen = menu_->exec(QPoint(x, y));
  if (!chosen) return {};
  const QByteArray name = chosen->data().toString().toUtf8();
  return std::string(name.constData(), static_cast<std::size_t>(name.size()));
}

}  // namespace toolkit
