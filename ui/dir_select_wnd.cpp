#include "ui/dir_select_wnd.h"

#include <iostream>

#include "backup/catalogue.h"
#include "toolkit/application.h"

namespace ui {

std::string DefaultSaveFolder() {
  const std::filesystem::path base = backup::DefaultBackupFolder(backup::BackupFolderCandidates());
  return (base.empty() ? std::filesystem::path("RecoverySave") : base / "RecoverySave").string();
}

CDirSelectWnd::CDirSelectWnd() : chosenFolder(DefaultSaveFolder()), picker(toolkit::PickFolder) {}

int CDirSelectWnd::ShowModal(const std::string& caption, toolkit::CWindow* parent) {
  if (!Widget() && !Create("DirSelect.xml", caption, parent)) {
    std::cerr << LastError() << '\n';
    chosenFolder.clear();
    return toolkit::kResultCancel;
  }
  SetWindowText(caption);
  SetTopmost(true);
  return CWindow::ShowModal(parent);
}

void CDirSelectWnd::OnCreate() {
  if (!prompt.empty())
    if (toolkit::CControl* message = Find("msg")) message->SetText(prompt);
  if (toolkit::CControl* path = Find("SavePath")) path->SetText(chosenFolder);
}

void CDirSelectWnd::OnNotify(const toolkit::Notification& notification) {
  if (notification.kind != "click") return;
  const std::string& name = notification.name;
  if (name == "btn_choose_folder") {
    if (!picker) return;
    toolkit::CControl* path = Find("SavePath");
    const std::optional<std::string> picked = picker(path ? path->Text() : chosenFolder, WindowText());
    if (!picked) return;
    chosenFolder = *picked;
    if (path) path->SetText(chosenFolder);
  } else if (name == "btn_OK") {
    Finish(toolkit::kResultOk);
  } else if (name == "btn_Cancel" || name == "closebtn") {
    Finish(toolkit::kResultCancel);
  }
}

std::optional<int> CDirSelectWnd::OnSystemClose() {
  chosenFolder.clear();
  return toolkit::kResultCancel;
}

void CDirSelectWnd::Finish(int result) {
  if (result == toolkit::kResultOk) {
    toolkit::CControl* path = Find("SavePath");
    chosenFolder = path ? path->Text() : chosenFolder;
  } else {
    chosenFolder.clear();
  }
  Close(result);
}

}  // namespace ui
