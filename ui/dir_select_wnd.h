#pragma once
// The folder dialog: shows the folder the export will be written to, lets
// the user type one or pick one with the platform's folder picker, and
// hands back the choice. UI thread only.

#include <functional>
#include <optional>
#include <string>

#include "toolkit/window.h"

namespace ui {

class CDirSelectWnd : public toolkit::CWindow {
 public:
  // The platform's folder picker: (start folder, caption) → the folder
  // chosen, nullopt when cancelled.
  using FolderPicker = std::function<std::optional<std::string>(const std::string&, const std::string&)>;

  CDirSelectWnd();

  // Shows the dialog modally with the window caption and returns 1 (OK:
  // chosenFolder holds the text of "SavePath") or 2 (cancel or close:
  // chosenFolder is empty). A skin that cannot be loaded returns 2.
  int ShowModal(const std::string& caption, toolkit::CWindow* parent = nullptr);

  // Before showing: the folder offered ("RecoverySave" on the writable file
  // system with the most free space by default); after: the result.
  std::string chosenFolder;
  // Shown above the folder when not empty.
  std::string prompt;
  // toolkit::PickFolder unless replaced.
  FolderPicker picker;

 protected:
  void OnCreate() override;
  void OnNotify(const toolkit::Notification& notification) override;
  std::optional<int> OnSystemClose() override;

 private:
  void Finish(int result);
};

// The folder offered before the user chooses one.
std::string DefaultSaveFolder();

}  // namespace ui
