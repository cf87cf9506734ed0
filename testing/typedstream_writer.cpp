// Writes archived attributed strings; the layout is in docs/formats/typedstream.md.
#include "testing/typedstream_writer.h"

#include <cstddef>
#include <initializer_list>
#include <string_view>
#include <utility>

namespace sample {
namespace {

constexpr std::uint8_t kTagInt16 = 0x81;
constexpr std::uint8_t kTagInt32 = 0x82;
constexpr std::uint8_t kTagNew = 0x84;
constexpr std::uint8_t kTagNil = 0x85;
constexpr std::uint8_t kTagEnd = 0x86;
// References count from this value (byte 0x92) for the first item of a table.
constexpr std::int64_t kFirstReference = -110;

struct ClassName {
  std::string_view name;
  std::int64_t version;
};

// The archive being written, with its two tables of earlier items: shared
// strings (types and class names), and objects and classes together. An item
// written a second time becomes a reference to its first place in its table.
class Archive {
 public:
  Archive() {
    Byte(4);
    Integer(11);
    Raw("streamtyped");
    Integer(1000);
  }

  std::vector<std::uint8_t> Take() { return std::move(bytes_); }

  void Byte(std::uint8_t byte) { bytes_.push_back(byte); }
  void Raw(std::string_view text) { bytes_.insert(bytes_.end(), text.begin(), text.end()); }

  void Integer(std::int64_t value) {
    if (value >= kFirstReference && value <= 127) {
      Byte(static_cast<std::uint8_t>(value));
    } else if (value >= -32768 && value <= 32767) {
      Byte(kTagInt16);
      LittleEndian(static_cast<std::uint32_t>(value), 2);
    } else {
      Byte(kTagInt32);
      LittleEndian(static_cast<std::uint32_t>(value), 4);
    }
  }

  void SharedString(std::string_view text) {
    for (std::size_t i = 0; i < strings_.size(); ++i) {
      if (strings_[i] == text) {
        Reference(i);
        return;
      }
    }
    strings_.emplace_back(text);
    Byte(kTagNew);
    Integer(static_cast<std::int64_t>(text.size()));
    Raw(text);
  }

  // The type "@" and a new object of the class chain (the class first, then
  // its superclasses): new classes until one written before, which becomes a
  // reference, or until the chain's end, which is written as nil. The caller
  // writes the object's content and its end.
  void NewObject(std::initializer_list<ClassName> chain) {
    SharedString("@");
    Byte(kTagNew);
    objects_.emplace_back();
    for (const ClassName& cls : chain) {
      for (std::size_t i = 0; i < objects_.size(); ++i) {
        if (objects_[i] == cls.name) {
          Reference(i);
          return;
        }
      }
      Byte(kTagNew);
      objects_.emplace_back(cls.name);
      SharedString(cls.name);
      Integer(cls.version);
    }
    Byte(kTagNil);
  }

  void End() { Byte(kTagEnd); }

 private:
  void Reference(std::size_t index) { Integer(kFirstReference + static_cast<std::int64_t>(index)); }

  void LittleEndian(std::uint32_t value, int widthBytes) {
    for (int i = 0; i < widthBytes; ++i) Byte(static_cast<std::uint8_t>(value >> (8 * i)));
  }

  std::vector<std::uint8_t> bytes_;
  std::vector<std::string> strings_;
  std::vector<std::string> objects_;  // a class's name; empty for an object
};

// The string's length as NSString counts it: UTF-16 units, two for a
// character beyond the basic plane (a four-byte UTF-8 sequence).
std::int64_t Utf16Length(const std::string& utf8) {
  std::int64_t units = 0;
  for (char c : utf8) {
    const auto byte = static_cast<std::uint8_t>(c);
    if ((byte & 0xC0) != 0x80) ++units;
    if (byte >= 0xF0) ++units;
  }
  return units;
}

}  // namespace

std::vector<std::uint8_t> ArchivedAttributedString(const std::string& utf8, bool mutableForm) {
  Archive archive;
  if (mutableForm) {
    archive.NewObject({{"NSMutableAttributedString", 0}, {"NSAttributedString", 0}, {"NSObject", 0}});
    archive.NewObject({{"NSMutableString", 1}, {"NSString", 1}, {"NSObject", 0}});
  } else {
    archive.NewObject({{"NSAttributedString", 0}, {"NSObject", 0}});
    archive.NewObject({{"NSString", 1}, {"NSObject", 0}});
  }
  archive.SharedString("+");
  archive.Integer(static_cast<std::int64_t>(utf8.size()));
  archive.Raw(utf8);
  archive.End();
  // One run over the whole string: a count and the run's length, then its
  // attributes, a dictionary of one entry whose value is the message part 0.
  archive.SharedString("iI");
  archive.Integer(1);
  archive.Integer(Utf16Length(utf8));
  archive.NewObject({{"NSDictionary", 0}, {"NSObject", 0}});
  archive.SharedString("i");
  archive.Integer(1);
  archive.NewObject({{"NSString", 1}, {"NSObject", 0}});
  archive.SharedString("+");
  archive.Integer(29);
  archive.Raw("__kIMMessagePartAttributeName");
  archive.End();
  archive.NewObject({{"NSNumber", 0}, {"NSValue", 0}, {"NSObject", 0}});
  // The number's type as a C string (0x84, then the shared string "i"), then
  // the value under that type.
  archive.SharedString("*");
  archive.Byte(kTagNew);
  archive.SharedString("i");
  archive.SharedString("i");
  archive.Integer(0);
  archive.End();  // the number
  archive.End();  // the dictionary
  archive.End();  // the attributed string
  return archive.Take();
}

}  // namespace sample
