#pragma once
// Property lists, XML and binary ("bplist00"), read into a tree of values.
// The reader only reads; the formats are laid out in docs/formats/plist.md.
//
// Thread-safety: stateless; any thread may call it.

#include <cstddef>
#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <typeinfo>
#include <variant>
#include <vector>

namespace backup {

class PlistValue;

// Dictionary keys are UTF-8 text, ordered by key.
using PlistDictionary = std::map<std::string, PlistValue>;
using PlistArray = std::vector<PlistValue>;
using PlistData = std::vector<std::uint8_t>;

namespace Plist {

// A point in time, whole seconds since 1970-01-01 00:00 UTC.
class Date {
 public:
  // A new date holds the current time.
  Date();
  explicit Date(std::int64_t unixSeconds) : unixSeconds_(unixSeconds) {}

  // Sets the date from a calendar time in UTC, whatever the machine's time
  // zone. Throws Plist::Error("Plist::Date::set() date invalid") for a date
  // that cannot be represented (a month of 13, say).
  void Set(int year, int month, int day, int hour, int minute, int second);

  std::int64_t UnixSeconds() const { return unixSeconds_; }
  bool operator==(const Date&) const = default;

 private:
  std::int64_t unixSeconds_;
};

// The reader's one failure. what() is one of the texts of the reader, e.g.
// "Plist: Empty plist data" or "Out of bounds getRange".
class Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Raised by PlistValue::As when the value holds another type.
class BadCast : public std::bad_cast {
 public:
  const char* what() const noexcept override {
    return "boost::bad_any_cast: failed conversion using boost::any_cast";
  }
};

}  // namespace Plist

// One value of a property list: exactly one of dictionary, array, text
// (UTF-8), 64-bit integer, real, boolean, data or date. Callers test the held
// type with Is<T>() before they convert with As<T>().
class PlistValue {
 public:
  using Variant = std::variant<PlistDictionary, PlistArray, std::string, std::int64_t, double, bool,
                               PlistData, Plist::Date>;

  PlistValue() : value_(PlistDictionary{}) {}
  template <typename T>
  PlistValue(T v) : value_(std::move(v)) {}  // NOLINT: implicit by design, like the variant it wraps

  template <typename T>
  bool Is() const {
    return std::holds_alternative<T>(value_);
  }

  // The held value; throws Plist::BadCast when it holds another type.
  template <typename T>
  const T& As() const {
    if (const T* p = std::get_if<T>(&value_)) return *p;
    throw Plist::BadCast();
  }

  // The value under key in a dictionary, or nullptr when this is no
  // dictionary or the key is absent. The pointer lives as long as this value.
  const PlistValue* Find(const std::string& key) const;

  const Variant& Raw() const { return value_; }

  // Same held type and equal contents, compared all the way down.
  bool operator==(const PlistValue&) const = default;

 private:
  Variant value_;
};

// Decodes a property list held in memory: binary when it starts with
// "bplist00", XML otherwise. Returns the top-level value. Throws Plist::Error;
// nothing is partially returned. Hostile input (self-referencing objects,
// lengths past the end, deep nesting) fails with Plist::Error, never a crash.
PlistValue ReadPlistBuffer(const std::uint8_t* bytes, std::size_t length);

// Reads a whole file (binary mode) and decodes it with ReadPlistBuffer.
// Throws Plist::Error("Can't open file.") or ("Can't read zero length data").
PlistValue ReadPlistFile(const std::string& path);

}  // namespace backup
