#pragma once
// The password dialog of an encrypted backup: asks for the backup password
// (the one set with "encrypt local backup" in iTunes or Finder) and is
// shown again, with an error line, when the password was wrong. UI thread
// only.
//
// The password leaves the dialog once, through TakePassword; the dialog
// overwrites its own copy and empties the field as soon as it has no more
// use for them, and never prints or logs it.

#include <optional>
#include <string>

#include "toolkit/window.h"

namespace ui {

class CPasswordDialog : public toolkit::CWindow {
 public:
  CPasswordDialog() = default;
  // Overwrites a password that was never taken.
  ~CPasswordDialog() override;

  // Shows the dialog modally (topmost, centred over parent) with an empty
  // field. Returns 1 when the user confirmed a password ("btn_OK", or Enter
  // in the field); TakePassword then hands it over. Returns 2 for
  // "btn_Cancel", the close button or a close by the system, with no
  // password kept. An OK with an empty field does not close: it shows
  // "请输入密码" in the error line. A skin that cannot be loaded shows
  // nothing and returns 2, with the reason on stderr. May be called again
  // on the same dialog (after a wrong password, with SetError first).
  int ShowModal(toolkit::CWindow* parent = nullptr);

  // The password of the last ShowModal that returned 1, handed over once:
  // the dialog keeps no copy, and a second call, or a call after a cancel,
  // returns an empty string. The caller owns the text and should overwrite
  // it when done with it.
  std::string TakePassword();

  // The red line under the field, such as "密码错误，请重新输入"; empty
  // hides it. Set before ShowModal it shows when the dialog opens; it is
  // hidden again when the dialog closes.
  void SetError(const std::string& text);

 protected:
  void OnCreate() override;
  void OnShow() override;
  void OnNotify(const toolkit::Notification& notification) override;
  std::optional<int> OnSystemClose() override;

 private:
  void Confirm();
  void Finish(int result);
  // Empties the field and hides the error line, so that the typed text
  // does not stay in the widget and the next showing starts clean.
  void ResetControls();

  std::string password_;
  std::string error_;
};

}  // namespace ui
