#include "ui/main_frame.h"

#include "ui/message_dialog.h"

namespace ui {

bool CMainFrame::CreateFrame(const std::string& windowText) {
  SetMainWindow(true);
  return Create("FrameWnd.xml", windowText);
}

void CMainFrame::OnCreate() { ShowMaximisedButtons(); }

void CMainFrame::ShowPage(int n) {
  if (n < -1 || n >= kPageCount) return;
  if (n != -1) currentPage_ = n;
  if (toolkit::CControl* source = Find("l_list")) source->SetVisible(false);
  for (int page = 0; page < kPageCount; ++page)
    if (toolkit::CControl* control = Find(kPageNames[page])) control->SetVisible(page == currentPage_);
  if (toolkit::CControl* bar = Find("selectbar")) bar->SetVisible(currentPage_ == 2);
}

void CMainFrame::ShowSourcePage() {
  for (const char* page : kPageNames)
    if (toolkit::CControl* control = Find(page)) control->SetVisible(false);
  if (toolkit::CControl* bar = Find("selectbar")) bar->SetVisible(false);
  if (toolkit::CControl* source = Find("l_list")) source->SetVisible(true);
}

bool CMainFrame::ConfirmExit() {
  CMessageDialog box(this, 0);
  box.SetTexts("询问", "\r\n强烈建议您立即恢复丢失的数据，以免被覆盖造成不必要的损失！\r\n\r\n您确定要退出本软件吗？", true);
  box.firstButtonText = "退出";
  box.secondButtonText = "取消";
  if (box.ShowModal(this) != toolkit::kResultOk) return false;
  Close(0);
  return true;
}

std::optional<int> CMainFrame::OnSystemClose() {
  ConfirmExit();
  return std::nullopt;  // ConfirmExit closed the window when the user agreed
}

void CMainFrame::OnNotify(const toolkit::Notification& notification) {
  if (notification.kind == "click") {
    OnClick(notification.name);
  } else if (notification.kind == "selectchanged") {
    toolkit::CControl* tabs = Find("tl_main");
    if (!tabs) return;
    if (notification.name == "opt_recovery_from_device") tabs->SelectTab(0);
    if (notification.name == "opt_recovery_from_itunes") tabs->SelectTab(1);
    if (notification.name == "opt_recovery_for_pc_data") tabs->SelectTab(2);
  }
}

void CMainFrame::OnClick(const std::string& name) {
  if (name == "btn_close") {
    ConfirmExit();
  } else if (name == "btn_min") {
    Minimise();
  } else if (name == "btn_max") {
    Maximise();
    ShowMaximisedButtons();
  } else if (name == "btn_restore") {
    Restore();
    ShowMaximisedButtons();
  } else if (name == "btn_contacts") {
    ShowSourcePage();
  } else if (name == "btn_return") {
    ShowPage(3);
  }
}

void CMainFrame::ShowMaximisedButtons() {
  const bool maximised = IsMaximised();
  if (toolkit::CControl* max = Find("btn_max")) max->SetVisible(!maximised);
  if (toolkit::CControl* restore = Find("btn_restore")) restore->SetVisible(maximised);
}

}  // namespace ui
