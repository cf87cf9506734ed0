#pragma once
// The message box of the desktop program: a caption, a message and up to
// three buttons, shown modally over its parent. UI thread only.

#include <string>

#include "toolkit/window.h"

namespace ui {

class CMessageDialog : public toolkit::CWindow {
 public:
  // withConfirm 1: skin "message.xml" with its button "confirm"; 0: skin
  // "message1.xml" with "confirm" hidden. A non-empty skinFile replaces
  // either.
  CMessageDialog(toolkit::CWindow* parent, int withConfirm, std::string skinFile = {});

  // Stores the texts and, once the window exists, shows them. With
  // relayoutOnShow the window grows to the message's lines when shown.
  void SetTexts(const std::string& caption, const std::string& message, bool relayoutOnShow = false);

  // Shows the box modally (topmost, centred over parent) and returns 1 for
  // the first button ("itunes", or "yes"), 2 for "no", "confirm", the close
  // button or a close by the system. A skin that cannot be loaded shows
  // nothing and returns 2, with the reason on stderr.
  int ShowModal(toolkit::CWindow* parent);

  // Captions for the first ("itunes") and second ("no") buttons; empty
  // keeps the skin's. A button given a caption is shown.
  std::string firstButtonText;
  std::string secondButtonText;

  int WithConfirm() const { return withConfirm_; }
  const std::string& SkinFile() const { return skinFile_; }

 protected:
  void OnCreate() override;
  void OnShow() override;
  void OnNotify(const toolkit::Notification& notification) override;

 private:
  toolkit::CWindow* parent_;
  int withConfirm_;
  std::string skinFile_;
  std::string caption_;
  std::string message_;
  bool relayoutOnShow_ = false;
};

// The value of a click on a message box control; 0 for controls that do
// not close the box.
int MessageBoxResultOf(const std::string& controlName);

}  // namespace ui
