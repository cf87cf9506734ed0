#pragma once
// Menus from skin files: <Menu> with <MenuItem name=".." text=".."/>,
// <MenuSeparator/> and nested <Menu text=".."> for submenus. The window that
// pops a menu up acts on the chosen item's name. UI thread only.

#include <memory>
#include <string>

class QMenu;

namespace toolkit {

class CMenuEx {
 public:
  CMenuEx();
  ~CMenuEx();
  CMenuEx(const CMenuEx&) = delete;
  CMenuEx& operator=(const CMenuEx&) = delete;

  // Builds the menu from its skin (a relative name is looked up in the skin
  // folder). False, with LastError, when it cannot be read or its root is
  // no <Menu>.
  bool Load(const std::string& skinFile);
  const std::string& LastError() const { return lastError_; }

  // Shows the menu with its top left corner at the screen point and waits
  // for the user: the chosen item's name, or empty when the menu was
  // dismissed.
  std::string Popup(int x, int y);

  // For the toolkit's tests.
  QMenu* Menu() const { return menu_.get(); }

 private:
  std::unique_ptr<QMenu> menu_;
  std::string lastError_;
};

}  // namespace toolkit
