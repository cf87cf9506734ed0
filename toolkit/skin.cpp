#include "toolkit/skin.h"

#include <charconv>
#include <fstream>
#include <sstream>

#include <pugixml.hpp>

namespace toolkit {
namespace {

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// Splits "a,b,c" into integers; nullopt when any part is not one.
std::optional<std::vector<int>> ParseInts(std::string_view text) {
  std::vector<int> values;
  while (true) {
    const std::size_t comma = text.find(',');
    const std::string_view part = Trim(text.substr(0, comma));
    int value = 0;
    const auto [end, ec] = std::from_chars(part.data(), part.data() + part.size(), value);
    if (part.empty() || ec != std::errc{} || end != part.data() + part.size()) return std::nullopt;
    values.push_back(value);
    if (comma == std::string_view::npos) return values;
    text.remove_prefix(comma + 1);
  }
}

// The text between key + "='" and the next "'"; nullopt when key is absent.
std::optional<std::string_view> QuotedValue(std::string_view text, std::string_view key) {
  const std::string opener = std::string(key) + "='";
  const std::size_t start = text.find(opener);
  if (start == std::string_view::npos) return std::nullopt;
  const std::size_t valueStart = start + opener.size();
  const std::size_t end = text.find('\'', valueStart);
  if (end == std::string_view::npos) return text.substr(valueStart);
  return text.substr(valueStart, end - valueStart);
}

struct Converter {
  int nodes = 0;
  std::string error;

  bool Convert(const pugi::xml_node& element, SkinNode& out, int depth) {
    if (depth > kMaxSkinDepth) {
      error = "nested deeper than " + std::to_string(kMaxSkinDepth) + " elements";
      return false;
    }
    if (++nodes > kMaxSkinNodes) {
      error = "more than " + std::to_string(kMaxSkinNodes) + " elements";
      return false;
    }
    out.className = element.name();
    for (const pugi::xml_attribute& attribute : element.attributes())
      out.attributes.emplace_back(attribute.name(), attribute.value());
    for (const pugi::xml_node& child : element.children()) {
      if (child.type() != pugi::node_element) continue;
      SkinNode& converted = out.children.emplace_back();
      if (!Convert(child, converted, depth + 1)) return false;
    }
    return true;
  }
};

}  // namespace

std::string SkinNode::Attribute(std::string_view key) const {
  for (const auto& [name, value] : attributes)
    if (name == key) return value;
  return {};
}

bool SkinNode::HasAttribute(std::string_view key) const {
  for (const auto& attribute : attributes)
    if (attribute.first == key) return true;
  return false;
}

SkinLoad ParseSkin(std::string_view xml, const std::string& nameForErrors) {
  SkinLoad load;
  pugi::xml_document document;
  const pugi::xml_parse_result parsed = document.load_buffer(xml.data(), xml.size(), pugi::parse_default, pugi::encoding_utf8);
  if (!parsed) {
    load.error = "Skin " + nameForErrors + ": " + parsed.description() + " at byte " + std::to_string(parsed.offset);
    return load;
  }
  const pugi::xml_node element = document.document_element();
  if (!element) {
    load.error = "Skin " + nameForErrors + ": no element";
    return load;
  }
  Converter converter;
  SkinNode root;
  if (!converter.Convert(element, root, 0)) {
    load.error = "Skin " + nameForErrors + ": " + converter.error;
    return load;
  }
  load.root = std::move(root);
  return load;
}

SkinLoad LoadSkin(const std::filesystem::path& file, const std::filesystem::path& skinFolder) {
  const std::filesystem::path path = file.is_absolute() ? file : skinFolder / file;
  std::ifstream in(path, std::ios::binary);
  if (!in) return SkinLoad{std::nullopt, "Skin " + path.string() + ": cannot be opened"};
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return ParseSkin(bytes.str(), path.string());
}

SkinLoad LoadSkinOf(const std::string& rootClass, const std::filesystem::path& file,
                    const std::filesystem::path& skinFolder) {
  SkinLoad load = LoadSkin(file, skinFolder);
  if (load.root && load.root->className != rootClass) {
    load.error = "Skin " + file.string() + ": the root element is <" + load.root->className + ">, not <" +
                 rootClass + ">";
    load.root.reset();
  }
  return load;
}

std::optional<std::pair<int, int>> ParseSize(std::string_view text) {
  const auto values = ParseInts(text);
  if (!values || values->size() != 2) return std::nullopt;
  return std::pair{(*values)[0], (*values)[1]};
}

std::optional<Rect4> ParseRect(std::string_view text) {
  const auto values = ParseInts(text);
  if (!values || values->size() != 4) return std::nullopt;
  return Rect4{(*values)[0], (*values)[1], (*values)[2], (*values)[3]};
}

ImageRef ParseImage(std::string_view text) {
  ImageRef image;
  if (const auto file = QuotedValue(text, "file")) {
    image.file = std::string(*file);
    if (const auto dest = QuotedValue(text, "dest")) image.dest = ParseRect(*dest);
  } else {
    image.file = std::string(Trim(text));
  }
  return image;
}

bool ParseBool(std::string_view text, bool fallback) {
  if (text == "true" || text == "1") return true;
  if (text == "false" || text == "0") return false;
  return fallback;
}

std::optional<unsigned> ParseColour(std::string_view text) {
  if (text.size() != 7 && text.size() != 9) return std::nullopt;
  if (text.front() != '#') return std::nullopt;
  unsigned value = 0;
  const auto [end, ec] = std::from_chars(text.data() + 1, text.data() + text.size(), value, 16);
  if (ec != std::errc{} || end != text.data() + text.size()) return std::nullopt;
  if (text.size() == 7) value |= 0xFF000000u;
  return value;
}

}  // namespace toolkit
