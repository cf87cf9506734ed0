#pragma once
// The toolkit's side of a desktop program: the application object with the
// look (theme and fonts from the skin folder), the event loop, and the
// platform's folder picker. UI thread only.

#include <memory>
#include <optional>
#include <string>

class QApplication;

namespace toolkit {

class CApplication {
 public:
  // Creates the application object for the process (one at a time). argc
  // and argv must outlive it. Loads "theme.qss" from the skin folder when
  // it is there and picks a font that has the Chinese glyphs.
  CApplication(int& argc, char** argv);
  ~CApplication();
  CApplication(const CApplication&) = delete;
  CApplication& operator=(const CApplication&) = delete;

  // Runs the event loop until the main window closes; returns the exit
  // value.
  int Exec();

 private:
  std::unique_ptr<QApplication> application_;
};

// The look every window shares: the skin folder's "theme.qss", empty when
// it cannot be read.
std::string LoadTheme();

// Opens folder in the desktop's file manager. False when the desktop could
// not be asked to.
bool OpenInFileManager(const std::string& folder);

// The platform's folder picker, owned by no window, starting at startFolder.
// The chosen folder's path, or nullopt when the user cancelled.
std::optional<std::string> PickFolder(const std::string& startFolder, const std::string& caption);

}  // namespace toolkit
