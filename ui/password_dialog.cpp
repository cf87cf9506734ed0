#include "ui/password_dialog.h"

#include <iostream>

#include "backup/backup_crypto.h"

namespace ui {
namespace {

// Overwrites the text's bytes before letting it go, so that the freed
// memory does not keep the password.
void Wipe(std::string& text) { backup::WipeText(text); }

}  // namespace

CPasswordDialog::~CPasswordDialog() { Wipe(password_); }

int CPasswordDialog::ShowModal(toolkit::CWindow* parent) {
  Wipe(password_);
  if (!Widget() && !Create("password.xml", "提示", parent)) {
    std::cerr << LastError() << '\n';
    return toolkit::kResultCancel;
  }
  SetTopmost(true);
  return CWindow::ShowModal(parent);
}

std::string CPasswordDialog::TakePassword() {
  // A copy, not a move: moving a short string leaves its bytes behind in
  // the moved-from string's own buffer, where Wipe no longer sees them.
  std::string taken(password_);
  Wipe(password_);
  if (toolkit::CControl* field = Find("password")) field->SetText({});
  return taken;
}

void CPasswordDialog::SetError(const std::string& text) {
  error_ = text;
  toolkit::CControl* line = Find("error");
  if (!line) return;
  line->SetText(error_);
  line->SetVisible(!error_.empty());
}

void CPasswordDialog::OnCreate() { SetError(error_); }

void CPasswordDialog::OnShow() { FitHeightToContent(); }

void CPasswordDialog::OnNotify(const toolkit::Notification& notification) {
  const std::string& name = notification.name;
  if (notification.kind == "return" && name == "password") {
    Confirm();
  } else if (notification.kind == "click") {
    if (name == "btn_OK") Confirm();
    if (name == "btn_Cancel" || name == "closebtn") Finish(toolkit::kResultCancel);
  }
}

std::optional<int> CPasswordDialog::OnSystemClose() {
  Wipe(password_);
  ResetControls();
  return toolkit::kResultCancel;
}

void CPasswordDialog::Confirm() {
  toolkit::CControl* field = Find("password");
  std::string typed = field ? field->Text() : std::string();
  if (typed.empty()) {
    SetError("请输入密码");
    return;
  }
  Wipe(password_);
  password_ = typed;
  Wipe(typed);
  Finish(toolkit::kResultOk);
}

void CPasswordDialog::Finish(int result) {
  if (result != toolkit::kResultOk) Wipe(password_);
  ResetControls();
  Close(result);
}

void CPasswordDialog::ResetControls() {
  if (toolkit::CControl* field = Find("password")) field->SetText({});
  SetError({});
}

}  // namespace ui
