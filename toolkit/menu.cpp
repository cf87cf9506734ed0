#include "toolkit/menu.h"

#include <QAction>
#include <QMenu>

#include "platform/paths.h"
#include "toolkit/qt_text.h"
#include "toolkit/builder.h"
#include "toolkit/skin.h"

namespace toolkit {
namespace {

void AddItems(QMenu* menu, const SkinNode& node) {
  for (const SkinNode& child : node.children) {
    if (child.className == "MenuSeparator") {
      menu->addSeparator();
    } else if (child.className == "Menu") {
      AddItems(menu->addMenu(ToQString(child.Attribute("text"))), child);
    } else if (child.className == "MenuItem") {
      QAction* action = menu->addAction(ToQString(child.Attribute("text")));
      action->setData(ToQString(child.Attribute("name")));
      action->setEnabled(ParseBool(child.Attribute("enabled"), true));
      if (child.HasAttribute("image")) action->setIcon(QIcon(LoadSkinPixmap(child.Attribute("image"))));
    }
  }
}

}  // namespace

CMenuEx::CMenuEx() = default;
CMenuEx::~CMenuEx() = default;

bool CMenuEx::Load(const std::string& skinFile) {
  SkinLoad load = LoadSkinOf("Menu", skinFile, platform::SkinFolder());
  if (!load.root) {
    lastError_ = load.error;
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
  return FromQString(chosen->data().toString());
}

}  // namespace toolkit
