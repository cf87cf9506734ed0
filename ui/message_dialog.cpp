#include "ui/message_dialog.h"

#include <iostream>

namespace ui {

int MessageBoxResultOf(const std::string& controlName) {
  if (controlName == "itunes" || controlName == "yes") return toolkit::kResultOk;
  if (controlName == "no" || controlName == "confirm" || controlName == "closebtn") return toolkit::kResultCancel;
  return 0;
}

CMessageDialog::CMessageDialog(toolkit::CWindow* parent, int withConfirm, std::string skinFile)
    : parent_(parent), withConfirm_(withConfirm), skinFile_(std::move(skinFile)) {
  if (skinFile_.empty()) skinFile_ = withConfirm_ == 1 ? "message.xml" : "message1.xml";
}

void CMessageDialog::SetTexts(const std::string& caption, const std::string& message, bool relayoutOnShow) {
  caption_ = caption;
  message_ = message;
  relayoutOnShow_ = relayoutOnShow;
  if (!Widget()) return;
  if (toolkit::CControl* title = Find("title")) title->SetText(caption_);
  if (toolkit::CControl* text = Find("msessage")) text->SetText(message_);
}

int CMessageDialog::ShowModal(toolkit::CWindow* parent) {
  if (parent) parent_ = parent;
  if (!Widget() && !Create(skinFile_, "提示", parent_)) {
    std::cerr << LastError() << '\n';
    return toolkit::kResultCancel;
  }
  SetTopmost(true);
  return CWindow::ShowModal(parent_);
}

void CMessageDialog::OnCreate() {
  if (!caption_.empty())
    if (toolkit::CControl* title = Find("title")) title->SetText(caption_);
  if (!message_.empty())
    if (toolkit::CControl* text = Find("msessage")) text->SetText(message_);
  auto label = [this](const char* name, const std::string& text) {
    toolkit::CControl* button = Find(name);
    if (!button || text.empty()) return;
    button->SetText(text);
    button->SetVisible(true);
  };
  label("itunes", firstButtonText);
  label("no", secondButtonText);
  if (withConfirm_ == 0)
    if (toolkit::CControl* confirm = Find("confirm")) confirm->SetVisible(false);
}

void CMessageDialog::OnShow() {
  if (relayoutOnShow_) FitHeightToContent();
}

void CMessageDialog::OnNotify(const toolkit::Notification& notification) {
  if (notification.kind != "click") return;
  if (const int result = MessageBoxResultOf(notification.name)) Close(result);
}

}  // namespace ui
