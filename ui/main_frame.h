#pragma once
// The main window: the source page, the category page and the pages of a
// running analysis, the account choice, the record browser and the empty
// result, built from "FrameWnd.xml". This is its frame: the pages, the
// source tabs and the window buttons; the workflow behind the pages comes
// with the record browser and the device link. UI thread only.

#include <string>

#include "toolkit/window.h"

namespace ui {

// The page controls, by page number.
inline constexpr const char* kPageNames[] = {"recoverying", "SelectUser", "ChatHistory", "extapps", "EmptyData"};
inline constexpr int kPageCount = 5;

class CMainFrame : public toolkit::CWindow {
 public:
  // Builds the window from "FrameWnd.xml" with the program's name as its
  // text. False, with LastError, when the skin cannot be loaded.
  bool CreateFrame(const std::string& windowText);

  // Shows page n (0-4, kPageNames) and hides the source page "l_list";
  // -1 shows the current page again. The bar "selectbar" shows only with
  // page 2. Other numbers change nothing.
  void ShowPage(int n);
  int CurrentPage() const { return currentPage_; }

  // Back to the source page (the start of the workflow).
  void ShowSourcePage();

  // Asks whether to leave; true when the user chose to, and the window is
  // then closed (which ends the program's event loop).
  bool ConfirmExit();

 protected:
  void OnCreate() override;
  void OnNotify(const toolkit::Notification& notification) override;
  std::optional<int> OnSystemClose() override;

 private:
  void OnClick(const std::string& name);
  void ShowMaximisedButtons();

  int currentPage_ = 3;
};

}  // namespace ui
