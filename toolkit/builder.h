#pragma once
// Builds widgets from skin elements (the toolkit's own; window logic uses
// CWindow and CControl). UI thread only.

#include <functional>
#include <memory>
#include <string>

#include "toolkit/control.h"
#include "toolkit/skin.h"

class QBoxLayout;
class QPixmap;
class QWidget;

namespace toolkit {

class CWindow;

// Receives each control built, parent before children, in skin order.
using ControlSink = std::function<void(std::unique_ptr<CControl>)>;

// Builds the widget of node and of its children under parent and hands
// each control to sink. row, when given, is set on every control built (a
// list row's controls). Unknown element names build a plain container, so
// a skin from a newer program still opens.
QWidget* BuildControl(CWindow* window, const SkinNode& node, QWidget* parent, const ControlSink& sink,
                      CListRow* row = nullptr);

// Gives widget a vertical or horizontal box with the element's padding
// (inner margins, "l,t,r,b") and childpadding (spacing), both 0 by default.
QBoxLayout* MakeBoxLayout(const SkinNode& node, QWidget* widget, bool vertical);

// Applies the size, visibility, style and colour attributes shared by every
// element to a widget.
void ApplyCommonAttributes(const SkinNode& node, QWidget* widget);

// The picture of an image attribute ("file='a.png' dest='0,0,16,16'" or a
// plain name) from the skin folder, scaled to dest when given; a null
// pixmap when no file loads.
QPixmap LoadSkinPixmap(const std::string& imageAttribute);

// A row skin parsed once per file for the life of the program (rows are
// built by the hundred from a few files). Null, with error, when the file
// cannot be loaded.
const SkinNode* CachedRowSkin(const std::string& file, std::string& error);

}  // namespace toolkit
