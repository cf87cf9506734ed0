// Writes the property lists of sample backups; layouts in docs/formats/plist.md.
#include "testing/plist_writer.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cstdio>
#include <iterator>
#include <map>
#include <string_view>

#include <utf8.h>

namespace sample {
namespace {

using ByteVector = std::vector<std::uint8_t>;

constexpr std::int64_t kAppleEpochUnixSeconds = 978307200;  // 2001-01-01 00:00:00 UTC

// Marker types (high four bits of an object's first byte).
constexpr std::uint8_t kTypeInteger = 0x1;
constexpr std::uint8_t kTypeData = 0x4;
constexpr std::uint8_t kTypeAscii = 0x5;
constexpr std::uint8_t kTypeUtf16 = 0x6;
constexpr std::uint8_t kTypeArray = 0xA;
constexpr std::uint8_t kTypeDictionary = 0xD;

void AppendBigEndian(ByteVector& out, std::uint64_t value, int widthBytes) {
  for (int shift = (widthBytes - 1) * 8; shift >= 0; shift -= 8) {
    out.push_back(static_cast<std::uint8_t>(value >> shift));
  }
}

// The fewest of 1, 2, 4 or 8 bytes that hold value.
int WidthFor(std::uint64_t value) {
  if (value <= 0xFF) return 1;
  if (value <= 0xFFFF) return 2;
  if (value <= 0xFFFFFFFF) return 4;
  return 8;
}

std::uint8_t Log2(int widthBytes) { return static_cast<std::uint8_t>(std::countr_zero(static_cast<unsigned>(widthBytes))); }

std::uint8_t Marker(std::uint8_t type, std::uint64_t lowBits) {
  return static_cast<std::uint8_t>((type << 4) | lowBits);
}

// Readers take 1, 2 and 4-byte integers as unsigned, so a negative one needs 8.
void AppendInteger(ByteVector& out, std::int64_t value) {
  const int widthBytes = value < 0 ? 8 : WidthFor(static_cast<std::uint64_t>(value));
  out.push_back(Marker(kTypeInteger, Log2(widthBytes)));
  AppendBigEndian(out, static_cast<std::uint64_t>(value), widthBytes);
}

// A length or count of 15 and more goes into an integer object after the marker.
void AppendMarkerAndLength(ByteVector& out, std::uint8_t type, std::uint64_t length) {
  if (length < 15) {
    out.push_back(Marker(type, length));
    return;
  }
  out.push_back(Marker(type, 0x0F));
  AppendInteger(out, static_cast<std::int64_t>(length));
}

void AppendText(ByteVector& out, const std::string& text) {
  const bool ascii = std::all_of(text.begin(), text.end(),
                                 [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  if (ascii) {
    AppendMarkerAndLength(out, kTypeAscii, text.size());
    out.insert(out.end(), text.begin(), text.end());
    return;
  }
  const std::string valid = utf8::replace_invalid(text);
  std::vector<std::uint16_t> units;
  utf8::utf8to16(valid.begin(), valid.end(), std::back_inserter(units));
  AppendMarkerAndLength(out, kTypeUtf16, units.size());
  for (std::uint16_t unit : units) AppendBigEndian(out, unit, 2);
}

void AppendDouble(ByteVector& out, std::uint8_t marker, double value) {
  out.push_back(marker);
  AppendBigEndian(out, std::bit_cast<std::uint64_t>(value), 8);
}

// The complete bytes of a scalar object; equal bytes mean an equal value.
ByteVector EncodeScalar(const PlistNode& node) {
  ByteVector out;
  switch (node.kind) {
    case PlistNode::Kind::kText: AppendText(out, node.text); break;
    case PlistNode::Kind::kInteger: AppendInteger(out, node.integer); break;
    case PlistNode::Kind::kReal: AppendDouble(out, 0x23, node.real); break;
    case PlistNode::Kind::kBoolean: out.push_back(node.boolean ? 0x09 : 0x08); break;
    case PlistNode::Kind::kData:
      AppendMarkerAndLength(out, kTypeData, node.data.size());
      out.insert(out.end(), node.data.begin(), node.data.end());
      break;
    case PlistNode::Kind::kDate:
      AppendDouble(out, 0x33, static_cast<double>(node.dateUnixSeconds - kAppleEpochUnixSeconds));
      break;
    case PlistNode::Kind::kUid: {
      const int widthBytes = WidthFor(node.uid);
      out.push_back(Marker(0x8, static_cast<std::uint64_t>(widthBytes - 1)));
      AppendBigEndian(out, node.uid, widthBytes);
      break;
    }
    case PlistNode::Kind::kDictionary:
    case PlistNode::Kind::kArray: break;
  }
  return out;
}

class BinaryWriter {
 public:
  ByteVector Write(const PlistNode& root);

 private:
  struct Object {
    ByteVector scalar;              // a scalar's complete bytes
    std::uint8_t containerType = 0;  // kTypeArray or kTypeDictionary; 0 for a scalar
    std::uint64_t count = 0;         // items, or dictionary entries
    std::vector<std::uint64_t> refs;
  };

  std::uint64_t Flatten(const PlistNode& node);
  std::uint64_t AddScalar(ByteVector bytes, bool shared);

  std::vector<Object> objects_;
  // Keyed by the scalar's bytes as a string: a map keyed by byte vectors
  // trips a false stringop warning of g++ 12 at -O3.
  std::map<std::string, std::uint64_t> sharedScalars_;
};

std::uint64_t BinaryWriter::AddScalar(ByteVector bytes, bool shared) {
  if (shared) {
    std::string key(bytes.begin(), bytes.end());
    const auto found = sharedScalars_.find(key);
    if (found != sharedScalars_.end()) return found->second;
    sharedScalars_.emplace(std::move(key), objects_.size());
  }
  objects_.push_back(Object{std::move(bytes), 0, 0, {}});
  return objects_.size() - 1;
}

// Object numbers follow the order Apple's writer gives them: a container, then
// its keys, then its values (or items), each depth first.
std::uint64_t BinaryWriter::Flatten(const PlistNode& node) {
  if (node.kind == PlistNode::Kind::kArray) {
    const std::uint64_t index = objects_.size();
    objects_.push_back(Object{{}, kTypeArray, node.items.size(), {}});
    std::vector<std::uint64_t> refs;
    for (const PlistNode& item : node.items) refs.push_back(Flatten(item));
    objects_[index].refs = std::move(refs);
    return index;
  }
  if (node.kind == PlistNode::Kind::kDictionary) {
    const std::uint64_t index = objects_.size();
    objects_.push_back(Object{{}, kTypeDictionary, node.entries.size(), {}});
    std::vector<std::uint64_t> refs;
    for (const PlistEntry& entry : node.entries) refs.push_back(Flatten(PlistNode::Text(entry.key)));
    for (const PlistEntry& entry : node.entries) refs.push_back(Flatten(entry.value));
    objects_[index].refs = std::move(refs);
    return index;
  }
  return AddScalar(EncodeScalar(node), node.shared);
}

ByteVector BinaryWriter::Write(const PlistNode& root) {
  Flatten(root);
  const int refWidth = WidthFor(objects_.size());
  ByteVector out = {'b', 'p', 'l', 'i', 's', 't', '0', '0'};
  std::vector<std::uint64_t> offsets;
  offsets.reserve(objects_.size());
  for (const Object& object : objects_) {
    offsets.push_back(out.size());
    if (object.containerType == 0) {
      out.insert(out.end(), object.scalar.begin(), object.scalar.end());
      continue;
    }
    AppendMarkerAndLength(out, object.containerType, object.count);
    for (std::uint64_t ref : object.refs) AppendBigEndian(out, ref, refWidth);
  }
  const std::uint64_t offsetTableStart = out.size();
  const int offsetWidth = WidthFor(offsetTableStart);
  for (std::uint64_t offset : offsets) AppendBigEndian(out, offset, offsetWidth);
  // Trailer: five unused bytes, sort version, offset size, reference size,
  // object count, top object, offset table start.
  out.insert(out.end(), 6, 0);
  out.push_back(static_cast<std::uint8_t>(offsetWidth));
  out.push_back(static_cast<std::uint8_t>(refWidth));
  AppendBigEndian(out, objects_.size(), 8);
  AppendBigEndian(out, 0, 8);
  AppendBigEndian(out, offsetTableStart, 8);
  return out;
}

// ---------------------------------------------------------------------------
// XML

std::string EscapeXml(std::string_view text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': escaped += "&amp;"; break;
      case '<': escaped += "&lt;"; break;
      case '>': escaped += "&gt;"; break;
      default: escaped += c;
    }
  }
  return escaped;
}

std::string EncodeBase64(const ByteVector& bytes) {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::size_t taken = std::min<std::size_t>(3, bytes.size() - i);
    std::uint32_t group = std::uint32_t{bytes[i]} << 16;
    if (taken > 1) group |= std::uint32_t{bytes[i + 1]} << 8;
    if (taken > 2) group |= bytes[i + 2];
    for (std::size_t sextet = 0; sextet < 4; ++sextet) {
      text += sextet <= taken ? kAlphabet[(group >> (18 - 6 * sextet)) & 0x3F] : '=';
    }
  }
  return text;
}

std::string FormatXmlDate(std::int64_t unixSeconds) {
  // Civil date from days since 1970-01-01 (proleptic Gregorian).
  const std::int64_t days = (unixSeconds >= 0 ? unixSeconds : unixSeconds - 86399) / 86400;
  const std::int64_t secondOfDay = unixSeconds - days * 86400;
  const std::int64_t shifted = days + 719468;
  const std::int64_t era = (shifted >= 0 ? shifted : shifted - 146096) / 146097;
  const std::int64_t dayOfEra = shifted - era * 146097;
  const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const std::int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;  // March = 0
  const std::int64_t day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
  const std::int64_t month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
  const std::int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
  char text[128];  // room for any 64-bit year
  std::snprintf(text, sizeof text, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lldZ", static_cast<long long>(year),
                static_cast<long long>(month), static_cast<long long>(day),
                static_cast<long long>(secondOfDay / 3600), static_cast<long long>(secondOfDay / 60 % 60),
                static_cast<long long>(secondOfDay % 60));
  return text;
}

std::string FormatReal(double value) {
  std::array<char, 64> text{};
  const auto result = std::to_chars(text.data(), text.data() + text.size(), value);
  return std::string(text.data(), result.ptr);
}

void WriteXmlNode(std::string& out, const PlistNode& node, int depth) {
  const std::string indent(static_cast<std::size_t>(depth), '\t');
  const auto element = [&](std::string_view name, const std::string& content) {
    out += indent + "<" + std::string(name) + ">" + content + "</" + std::string(name) + ">\n";
  };
  switch (node.kind) {
    case PlistNode::Kind::kDictionary:
      if (node.entries.empty()) {
        out += indent + "<dict/>\n";
        break;
      }
      out += indent + "<dict>\n";
      for (const PlistEntry& entry : node.entries) {
        out += indent + "\t<key>" + EscapeXml(entry.key) + "</key>\n";
        WriteXmlNode(out, entry.value, depth + 1);
      }
      out += indent + "</dict>\n";
      break;
    case PlistNode::Kind::kArray:
      if (node.items.empty()) {
        out += indent + "<array/>\n";
        break;
      }
      out += indent + "<array>\n";
      for (const PlistNode& item : node.items) WriteXmlNode(out, item, depth + 1);
      out += indent + "</array>\n";
      break;
    case PlistNode::Kind::kText: element("string", EscapeXml(node.text)); break;
    case PlistNode::Kind::kInteger: element("integer", std::to_string(node.integer)); break;
    case PlistNode::Kind::kReal: element("real", FormatReal(node.real)); break;
    case PlistNode::Kind::kBoolean: out += indent + (node.boolean ? "<true/>\n" : "<false/>\n"); break;
    case PlistNode::Kind::kDate: element("date", FormatXmlDate(node.dateUnixSeconds)); break;
    case PlistNode::Kind::kData: {
      // Base64 in lines of 68 characters at the element's indentation, as Apple writes it.
      const std::string base64 = EncodeBase64(node.data);
      out += indent + "<data>\n";
      for (std::size_t i = 0; i < base64.size(); i += 68) out += indent + base64.substr(i, 68) + "\n";
      out += indent + "</data>\n";
      break;
    }
    case PlistNode::Kind::kUid:
      out += indent + "<dict>\n" + indent + "\t<key>CF$UID</key>\n" + indent + "\t<integer>" +
             std::to_string(node.uid) + "</integer>\n" + indent + "</dict>\n";
      break;
  }
}

// ---------------------------------------------------------------------------
// Keyed archive of an MBFile

// A class description: {"$classname": classes[0], "$classes": classes}. Real
// archives store "MBFile" once for both places but "NSMutableData" twice (the
// list's copy is an object of its own); nameStoredTwice copies that.
PlistNode ClassNode(std::vector<std::string> classes, bool nameStoredTwice) {
  PlistNode classNames = PlistNode::Array({});
  for (std::string& name : classes) classNames.Append(PlistNode::Text(std::move(name)));
  classNames.items.front().shared = !nameStoredTwice;
  PlistNode node = PlistNode::Dictionary({});
  node.Add("$classname", PlistNode::Text(classNames.items.front().text));
  node.Add("$classes", std::move(classNames));
  return node;
}

// The file dictionary's key order: real archives keep the order of their
// dictionary's hash table, which depends on the set of keys. These three orders
// are those of iOS 14 archives with the same keys.
std::vector<std::string_view> FileKeyOrder(bool hasDigest, bool hasKey) {
  if (hasDigest) {
    std::vector<std::string_view> order = {"LastModified", "ProtectionClass", "Flags", "GroupID", "$class",
                                           "LastStatusChange", "RelativePath", "Birth", "EncryptionKey",
                                           "Size", "Mode", "UserID", "Digest", "InodeNumber"};
    if (!hasKey) order.erase(std::find(order.begin(), order.end(), "EncryptionKey"));
    return order;
  }
  if (hasKey) {
    return {"LastModified", "Flags", "GroupID", "$class", "LastStatusChange", "RelativePath", "Birth",
            "EncryptionKey", "Size", "Mode", "UserID", "InodeNumber", "ProtectionClass"};
  }
  return {"LastModified", "Flags", "GroupID", "$class", "LastStatusChange", "RelativePath", "Birth", "Size",
          "InodeNumber", "Mode", "UserID", "ProtectionClass"};
}

}  // namespace

PlistNode PlistNode::Text(std::string value) {
  PlistNode node;
  node.kind = Kind::kText;
  node.text = std::move(value);
  return node;
}

PlistNode PlistNode::Integer(std::int64_t value) {
  PlistNode node;
  node.kind = Kind::kInteger;
  node.integer = value;
  return node;
}

PlistNode PlistNode::Real(double value) {
  PlistNode node;
  node.kind = Kind::kReal;
  node.real = value;
  return node;
}

PlistNode PlistNode::Boolean(bool value) {
  PlistNode node;
  node.kind = Kind::kBoolean;
  node.boolean = value;
  return node;
}

PlistNode PlistNode::Data(std::vector<std::uint8_t> value) {
  PlistNode node;
  node.kind = Kind::kData;
  node.data = std::move(value);
  return node;
}

PlistNode PlistNode::Date(std::int64_t unixSeconds) {
  PlistNode node;
  node.kind = Kind::kDate;
  node.dateUnixSeconds = unixSeconds;
  return node;
}

PlistNode PlistNode::Uid(std::uint64_t value) {
  PlistNode node;
  node.kind = Kind::kUid;
  node.uid = value;
  return node;
}

PlistNode PlistNode::Array(std::vector<PlistNode> values) {
  PlistNode node;
  node.kind = Kind::kArray;
  node.items = std::move(values);
  return node;
}

PlistNode PlistNode::Dictionary(std::vector<PlistEntry> values) {
  PlistNode node;
  node.kind = Kind::kDictionary;
  node.entries = std::move(values);
  return node;
}

PlistNode& PlistNode::Add(std::string key, PlistNode value) {
  entries.push_back(PlistEntry{std::move(key), std::move(value)});
  return *this;
}

PlistNode& PlistNode::Append(PlistNode value) {
  items.push_back(std::move(value));
  return *this;
}

std::vector<std::uint8_t> WriteBinaryPlist(const PlistNode& root) { return BinaryWriter().Write(root); }

std::string WriteXmlPlist(const PlistNode& root) {
  std::string out =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
      "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
      "<plist version=\"1.0\">\n";
  WriteXmlNode(out, root, 0);
  out += "</plist>\n";
  return out;
}

std::vector<std::uint8_t> MakeManifestFileBlob(const ManifestFileInfo& info) {
  const bool hasDigest = !info.digest.empty();
  const bool hasKey = !info.encryptionKey.empty();
  // $objects: "$null", the file, its path, then what the file refers to, then its class.
  PlistNode objects = PlistNode::Array({PlistNode::Text("$null"), PlistNode(), PlistNode::Text(info.relativePath)});
  std::uint64_t digestUid = 0;
  std::uint64_t keyUid = 0;
  if (hasDigest) {
    digestUid = objects.items.size();
    objects.Append(PlistNode::Data(info.digest));
  }
  if (hasKey) {
    keyUid = objects.items.size();
    objects.Append(PlistNode::Dictionary({{"NS.data", PlistNode::Data(info.encryptionKey)},
                                          {"$class", PlistNode::Uid(keyUid + 1)}}));
    objects.Append(ClassNode({"NSMutableData", "NSData", "NSObject"}, true));
  }
  const std::uint64_t classUid = objects.items.size();
  objects.Append(ClassNode({"MBFile", "NSObject"}, false));

  PlistNode size = PlistNode::Integer(info.size);
  size.shared = false;  // Apple's writer gives the 64-bit size an object of its own
  const std::map<std::string_view, PlistNode> fields = {
      {"LastModified", PlistNode::Integer(info.lastModified)},
      {"ProtectionClass", PlistNode::Integer(info.protectionClass)},
      {"Flags", PlistNode::Integer(info.flags)},
      {"GroupID", PlistNode::Integer(info.groupId)},
      {"$class", PlistNode::Uid(classUid)},
      {"LastStatusChange", PlistNode::Integer(info.lastStatusChange)},
      {"RelativePath", PlistNode::Uid(2)},
      {"Birth", PlistNode::Integer(info.birth)},
      {"EncryptionKey", PlistNode::Uid(keyUid)},
      {"Size", size},
      {"Mode", PlistNode::Integer(info.mode)},
      {"UserID", PlistNode::Integer(info.userId)},
      {"Digest", PlistNode::Uid(digestUid)},
      {"InodeNumber", PlistNode::Integer(info.inode)},
  };
  PlistNode& file = objects.items[1];
  for (std::string_view key : FileKeyOrder(hasDigest, hasKey)) file.Add(std::string(key), fields.at(key));

  const PlistNode archive = PlistNode::Dictionary({
      {"$version", PlistNode::Integer(100000)},
      {"$archiver", PlistNode::Text("NSKeyedArchiver")},
      {"$top", PlistNode::Dictionary({{"root", PlistNode::Uid(1)}})},
      {"$objects", std::move(objects)},
  });
  return WriteBinaryPlist(archive);
}

}  // namespace sample
