#pragma once
// Property list writer for the sample-backup builder: Info.plist and the keyed
// archives of the Manifest.db "file" column, shaped like the ones an iPhone
// backup holds, so that tests, the demo and the benchmarks read real-shaped
// input. The layouts are in docs/formats/plist.md. The product itself never
// writes property lists.
//
// Thread-safety: stateless; any thread may call it.

#include <cstdint>
#include <string>
#include <vector>

namespace sample {

struct PlistEntry;

// One value to write. Unlike backup::PlistValue it keeps the order of
// dictionary entries (the order decides the object layout of a binary list) and
// has UIDs, the object references of keyed archives.
struct PlistNode {
  enum class Kind { kDictionary, kArray, kText, kInteger, kReal, kBoolean, kData, kDate, kUid };

  Kind kind = Kind::kDictionary;
  std::string text;                    // kText, UTF-8
  std::int64_t integer = 0;            // kInteger
  double real = 0.0;                   // kReal
  bool boolean = false;                // kBoolean
  std::vector<std::uint8_t> data;      // kData
  std::int64_t dateUnixSeconds = 0;    // kDate
  std::uint64_t uid = 0;               // kUid
  std::vector<PlistEntry> entries;     // kDictionary, written in this order
  std::vector<PlistNode> items;        // kArray
  // A binary list normally stores equal scalars once and refers to that object
  // from every place; Apple's writer does so for most numbers but gives some
  // 64-bit ones (a file's "Size") an object of their own. false copies that.
  bool shared = true;

  static PlistNode Text(std::string value);
  static PlistNode Integer(std::int64_t value);
  static PlistNode Real(double value);
  static PlistNode Boolean(bool value);
  static PlistNode Data(std::vector<std::uint8_t> value);
  static PlistNode Date(std::int64_t unixSeconds);
  static PlistNode Uid(std::uint64_t value);
  static PlistNode Array(std::vector<PlistNode> values);
  static PlistNode Dictionary(std::vector<PlistEntry> values);

  // Appends an entry to a dictionary or an item to an array; returns *this.
  PlistNode& Add(std::string key, PlistNode value);
  PlistNode& Append(PlistNode value);
};

struct PlistEntry {
  std::string key;
  PlistNode value;
};

// A binary ("bplist00") list of root: objects in the order Apple's and
// Python's writers use (a container, then its keys, then its values, depth
// first), equal scalars stored once, the smallest integer, reference and
// offset sizes. Text is ASCII when every byte is below 0x80, UTF-16 otherwise
// (invalid UTF-8 is replaced). Readable by Python's plistlib.
std::vector<std::uint8_t> WriteBinaryPlist(const PlistNode& root);

// An XML list of root with the usual declaration and DOCTYPE, one tab per
// level. A UID is written as Apple writes it in XML: <dict><key>CF$UID</key>
// <integer>n</integer></dict>.
std::string WriteXmlPlist(const PlistNode& root);

// What a Manifest.db row's "file" blob says about one file or folder.
struct ManifestFileInfo {
  std::string relativePath;
  std::int64_t size = 0;
  std::int64_t birth = 0;             // Unix seconds
  std::int64_t lastModified = 0;      // Unix seconds
  std::int64_t lastStatusChange = 0;  // Unix seconds
  std::int64_t mode = 0100644;        // regular file, rw-r--r--; folders 040755
  std::int64_t inode = 0;
  std::int64_t userId = 501;          // "mobile"
  std::int64_t groupId = 501;
  std::int64_t protectionClass = 3;   // what most files carry; folders carry 0
  std::int64_t flags = 0;
  std::vector<std::uint8_t> digest;         // empty: no "Digest"
  std::vector<std::uint8_t> encryptionKey;  // empty: no "EncryptionKey" (unencrypted backups)
};

// The NSKeyedArchiver list of an MBFile, as iOS 14 writes it into the "file"
// column: $objects = ["$null", the file's dictionary, the relative path,
// [digest], [key wrapper, NSMutableData class], MBFile class]. The dictionary's
// key order is the one real archives of the same shape have.
std::vector<std::uint8_t> MakeManifestFileBlob(const ManifestFileInfo& info);

}  // namespace sample
