#pragma once
// The controls of a skin window as the window logic sees them: found by
// name, read and changed through plain values. Widgets stay behind this
// interface so that windows are written against the toolkit, not Qt.
//
// Every call here is for the user-interface thread only.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "toolkit/skin.h"

class QWidget;

namespace toolkit {

class CWindow;
class CList;
class CListRow;

// A rectangle in screen coordinates (pixels).
struct ScreenRect {
  int x = 0, y = 0, width = 0, height = 0;
};

class CControl {
 public:
  CControl(CWindow* window, const SkinNode& node, QWidget* widget);
  virtual ~CControl() = default;
  CControl(const CControl&) = delete;
  CControl& operator=(const CControl&) = delete;

  // The "name" attribute (may be empty) and the skin element's class name.
  const std::string& Name() const { return name_; }
  const std::string& ClassName() const { return className_; }
  // An attribute of the control's skin element as written; empty when absent.
  std::string Attribute(std::string_view key) const;

  // The text a control shows: a label's or button's text, an edit's
  // content, an option's caption, a combo box's current entry. Setting it
  // on a combo box or a picture does nothing.
  std::string Text() const;
  void SetText(const std::string& text);
  void SetToolTip(const std::string& text);

  // The control's own visibility flag: false once hidden, even while its
  // window is not shown yet.
  bool IsVisible() const;
  void SetVisible(bool visible);
  bool IsEnabled() const;
  void SetEnabled(bool enabled);

  // Options and tick boxes: whether ticked / chosen. Setting it sends no
  // notification (only the user's clicks do).
  bool IsSelected() const;
  void SetSelected(bool selected);

  // Progress bars: the value inside their range (0-100 unless the skin sets
  // min and max). Other controls answer 0 and ignore the call.
  int Value() const;
  void SetValue(int value);

  // Tab layouts: the shown child (0-based); SelectTab is false for an index
  // out of range and changes nothing then.
  int CurrentTab() const;
  bool SelectTab(int index);

  // Combo boxes: their entries and the chosen one (-1 for none).
  void AddItem(const std::string& text);
  void ClearItems();
  int ItemCount() const;
  int CurrentIndex() const;
  void SetCurrentIndex(int index);

  // Pictures and buttons: the image attribute's form ("file='a.png'
  // dest='0,0,16,16'" or a plain file name) looked up in the skin folder.
  // A file that does not load leaves the control without an image.
  std::string Image() const { return image_; }
  void SetImage(const std::string& imageAttribute);

  // A number the window logic attaches to the control (a record, an index).
  std::uintptr_t Tag() const { return tag_; }
  void SetTag(std::uintptr_t tag) { tag_ = tag; }

  // True when other lies inside this control (a child at any depth).
  bool Contains(const CControl& other) const;
  ScreenRect GlobalRect() const;

  // The list row the control belongs to, or null outside any list.
  CListRow* Row() const { return row_; }
  void SetRow(CListRow* row) { row_ = row; }

  CWindow* Window() const { return window_; }
  // For the toolkit itself and for widget tests.
  QWidget* Widget() const { return widget_; }

 private:
  CWindow* window_;
  std::string name_;
  std::string className_;
  std::vector<std::pair<std::string, std::string>> attributes_;
  QWidget* widget_;
  std::string image_;
  std::uintptr_t tag_ = 0;
  CListRow* row_ = nullptr;
};

// One row of a list: the controls built from its row skin, found by name
// within the row.
class CListRow {
 public:
  CListRow(CList* list, QWidget* widget);
  ~CListRow();
  CListRow(const CListRow&) = delete;
  CListRow& operator=(const CListRow&) = delete;

  CControl* Find(std::string_view name) const;
  std::uintptr_t Tag() const { return tag_; }
  void SetTag(std::uintptr_t tag) { tag_ = tag; }
  // The row's place in its list (0-based).
  int Index() const;
  CList* List() const { return list_; }
  QWidget* Widget() const { return widget_; }

  // Takes ownership of a control built for this row.
  void Adopt(std::unique_ptr<CControl> control);

 private:
  friend class CList;
  CList* list_;
  QWidget* widget_;
  std::vector<std::unique_ptr<CControl>> controls_;
  std::uintptr_t tag_ = 0;
};

// A list whose rows are built from row skin files.
class CList : public CControl {
 public:
  CList(CWindow* window, const SkinNode& node, QWidget* widget);
  ~CList() override;

  // Appends a row built from the row skin (a relative name is looked up in
  // the skin folder). Null, with nothing added, when the skin cannot be
  // loaded; LastRowError tells why.
  CListRow* AddRow(const std::string& rowSkinFile);
  const std::string& LastRowError() const { return lastRowError_; }
  int RowCount() const { return static_cast<int>(rows_.size()); }
  // Null for an index out of range.
  CListRow* RowAt(int index) const;
  int IndexOf(const CListRow* row) const;
  void RemoveAll();

  // The chosen row, -1 for none. Select sends no notification.
  int SelectedIndex() const;
  void Select(int index);
  // Lays out and repaints one row after its controls changed (its height
  // may have changed with its texts).
  void RedrawRow(int index);

 private:
  std::vector<std::unique_ptr<CListRow>> rows_;
  std::string lastRowError_;
};

}  // namespace toolkit
