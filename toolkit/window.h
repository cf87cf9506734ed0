#pragma once
// A window built from a skin file: frameless, with rounded corners and a
// drop shadow, dragged by its caption area and resized by its size box.
// Window logic derives from CWindow and overrides the On* handlers; it
// reaches its controls by name and never touches Qt itself.
//
// Everything here runs on the user-interface thread except Post, which any
// thread may call.

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/message_target.h"
#include "toolkit/control.h"
#include "toolkit/skin.h"

class QEventLoop;
class QPoint;
class QWidget;

namespace toolkit {

class WindowWidget;

// The close message: posted with the result as wParam, it closes the window
// and ends its modal loop with that result (any thread may post it).
inline constexpr std::uint32_t kWmClose = 0x0010;

// The usual modal results.
inline constexpr int kResultOk = 1;
inline constexpr int kResultCancel = 2;

// A notification from a control: its name, the kind ("click",
// "selectchanged", "itemselect", "textchanged", "return" (Enter in an
// edit), "itemactivate", "link"), the control, and for controls inside a
// list the list and the row.
// itemselect of a list or combo box carries the chosen index in index;
// link carries the address in text.
struct Notification {
  std::string name;
  std::string kind;
  CControl* control = nullptr;
  CList* list = nullptr;
  int row = -1;
  int index = -1;
  std::string text;
};

// Where a point of the window lies for moving and sizing.
enum class HitArea { kClient, kCaption, kLeft, kRight, kTop, kBottom, kTopLeft, kTopRight, kBottomLeft, kBottomRight };

class CWindow : public platform::IMessageTarget {
 public:
  CWindow();
  ~CWindow() override;
  CWindow(const CWindow&) = delete;
  CWindow& operator=(const CWindow&) = delete;

  // Builds the window from its skin (a relative name is looked up in the
  // skin folder) with the window text; parent, when given, owns the window
  // on screen (it stays above it). False, with LastError, when the skin
  // cannot be loaded or its root is no <Window>; the window stays empty.
  // Calls OnCreate on success. Call once.
  bool Create(const std::string& skinFile, const std::string& windowText, CWindow* parent = nullptr);
  const std::string& LastError() const { return lastError_; }

  // Controls by name; null when the skin has none of that name (or of the
  // list class). With several of one name, the first in skin order.
  CControl* Find(std::string_view name) const;
  CList* FindList(std::string_view name) const;

  // The window text; the skin's label named "windowtext", when it has one,
  // shows it.
  std::string WindowText() const;
  void SetWindowText(const std::string& text);

  void Show();
  void Hide();
  // True from Show until the window is hidden or closed.
  bool IsShown() const;
  void CentreOver(const CWindow* other);
  void SetTopmost(bool topmost);
  void Minimise();
  void Maximise();
  void Restore();
  bool IsMaximised() const;
  // The drop shadow: size in steps of 4 pixels around the frame, darkness
  // the opacity (0-255) next to it. The skin's shadow attributes set the
  // first values.
  void SetShadow(int size, int darkness);

  // Grows a shown window to the height its wrapping texts need at its
  // present width (a message of several lines); never shrinks it. Does
  // nothing while the window is hidden (call it from OnShow).
  void FitHeightToContent();

  // Shows the window modally (every other window blocked) and returns the
  // value it was closed with. A window closed before its loop ran returns
  // that value at once.
  int ShowModal(CWindow* parent = nullptr);
  // Closes the window with a result: ends the modal loop, or hides the
  // window and, for the main window, ends the program's event loop.
  void Close(int result = 0);
  // The program's event loop ends when this window is closed.
  void SetMainWindow(bool main) { mainWindow_ = main; }

  // Timers by number; a timer set again with the same number restarts.
  void SetTimer(int id, int intervalMs);
  void KillTimer(int id);
  bool HasTimer(int id) const;

  // Any thread: delivers OnMessage (message, wParam, lParam) on the
  // user-interface thread; kWmClose closes the window. The window must
  // outlive the call; messages still queued when it is destroyed are
  // dropped.
  void Post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) override;

  // Where a point (in window content coordinates) lies: the size box edges
  // (not when maximised), the caption rectangle except over controls of the
  // classes "Button", "Option" and "Text", else the client area.
  HitArea HitTest(int x, int y) const;

  // Renders the window as it would show (laid out, not necessarily shown)
  // to a PNG file. False when the file cannot be written.
  bool RenderToPng(const std::filesystem::path& file) const;

  // For the toolkit itself and for widget tests.
  QWidget* Widget() const;
  QWidget* ContentWidget() const;

  // The toolkit's entry points for its widgets (not for window logic).
  void DispatchNotification(const Notification& notification);
  void DispatchMessage(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam);
  void DispatchTimer(int qtTimerId);
  void DispatchShown();
  // A close asked by the system (the window manager's close button, a
  // shortcut): OnSystemClose decides the result; false keeps the window.
  bool DispatchSystemClose();

 protected:
  virtual void OnCreate() {}
  virtual void OnShow() {}
  virtual void OnNotify(const Notification& /*notification*/) {}
  virtual void OnTimer(int /*id*/) {}
  virtual void OnMessage(std::uint32_t /*message*/, std::uintptr_t /*wParam*/, std::intptr_t /*lParam*/) {}
  // The result of a close asked by the system; nullopt keeps the window
  // open. The default closes with kResultCancel.
  virtual std::optional<int> OnSystemClose() { return kResultCancel; }

 private:
  friend class WindowWidget;
  void BuildFrame();

  std::unique_ptr<WindowWidget> widget_;
  QWidget* content_ = nullptr;
  SkinNode skin_;
  std::vector<std::unique_ptr<CControl>> controls_;
  std::string lastError_;
  std::map<int, int> timers_;  // our number → Qt's timer id
  QEventLoop* modalLoop_ = nullptr;
  std::optional<int> closedResult_;
  CWindow* parent_ = nullptr;
  bool shown_ = false;
  bool mainWindow_ = false;
  bool destroying_ = false;
};

}  // namespace toolkit
