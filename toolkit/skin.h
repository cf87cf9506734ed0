#pragma once
// Skin files: the XML that describes a window, a list row or a menu. The
// format is our own and small (docs/formats/skin.md); this part only reads
// it into a tree and parses the attribute forms, it builds no widgets.

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace toolkit {

// One element of a skin file: its element name (the control's class, such as
// "Button" or "VerticalLayout"), its attributes in file order and its child
// elements.
struct SkinNode {
  std::string className;
  std::vector<std::pair<std::string, std::string>> attributes;
  std::vector<SkinNode> children;

  // The attribute's value as written, or empty when it is absent.
  std::string Attribute(std::string_view key) const;
  bool HasAttribute(std::string_view key) const;
};

// The outcome of loading a skin: the root element, or an error text naming
// the file and what is wrong with it.
struct SkinLoad {
  std::optional<SkinNode> root;
  std::string error;
};

// Reads a skin file. A relative name is looked up in skinFolder. Fails with
// a clear error for a missing file, malformed XML, an empty document, or a
// tree deeper than kMaxSkinDepth or larger than kMaxSkinNodes (a skin is
// ours, but a damaged one must not take the program down).
SkinLoad LoadSkin(const std::filesystem::path& file, const std::filesystem::path& skinFolder);
SkinLoad ParseSkin(std::string_view xml, const std::string& nameForErrors);
// LoadSkin, failing also when the root element is not rootClass ("Window",
// "Menu").
SkinLoad LoadSkinOf(const std::string& rootClass, const std::filesystem::path& file,
                    const std::filesystem::path& skinFolder);

inline constexpr int kMaxSkinDepth = 64;
inline constexpr int kMaxSkinNodes = 20000;

// "w,h" → the pair; nullopt when not two integers.
std::optional<std::pair<int, int>> ParseSize(std::string_view text);

// "l,t,r,b" → the four values; nullopt when not four integers.
struct Rect4 {
  int left = 0, top = 0, right = 0, bottom = 0;
};
std::optional<Rect4> ParseRect(std::string_view text);

// The picture attribute: either a plain file name or the quoted form
// "file='name.png' dest='l,t,r,b'". file is empty when none is named.
struct ImageRef {
  std::string file;
  std::optional<Rect4> dest;
};
ImageRef ParseImage(std::string_view text);

// "true"/"false" (also "1"/"0"); fallback for anything else.
bool ParseBool(std::string_view text, bool fallback);

// "#RRGGBB" or "#AARRGGBB" → 0xAARRGGBB; nullopt for anything else.
std::optional<unsigned> ParseColour(std::string_view text);

}  // namespace toolkit
