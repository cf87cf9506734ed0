#include "testing/sqlite_record.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <span>
#include <stdexcept>

#include "testing/sql_literal.h"

namespace sample {
namespace {

using Bytes = std::vector<std::uint8_t>;

bool Contains(const std::string& upper, const char* part) { return upper.find(part) != std::string::npos; }

// SQLite's varint: big-endian groups of 7 bits, the high bit set on all but
// the last byte. Serial types and header sizes never need the 9-byte form.
void PutVarint(Bytes& out, std::uint64_t value) {
  if (value >= (std::uint64_t{1} << 56)) throw std::invalid_argument("record: varint beyond 8 bytes");
  std::uint8_t groups[8];
  int count = 0;
  do {
    groups[count++] = static_cast<std::uint8_t>((value & 0x7F) | 0x80);
    value >>= 7;
  } while (value != 0);
  groups[0] &= 0x7F;
  while (count > 0) out.push_back(groups[--count]);
}

std::size_t VarintLength(std::uint64_t value) {
  Bytes bytes;
  PutVarint(bytes, value);
  return bytes.size();
}

// Length of the varint starting at offset, or 0 when it runs past the end.
std::size_t VarintLengthAt(const Bytes& bytes, std::size_t offset) {
  for (std::size_t length = 1; length <= 9 && offset + length <= bytes.size(); ++length) {
    if ((bytes[offset + length - 1] & 0x80) == 0 || length == 9) return length;
  }
  return 0;
}

// A real that SQLite keeps as an integer: integral and strictly inside the
// 64-bit range (sqlite3VdbeIntegerAffinity).
bool IntegralReal(double value, std::int64_t& integer) {
  if (!(value > -9223372036854775808.0 && value < 9223372036854775808.0)) return false;
  integer = static_cast<std::int64_t>(value);
  return static_cast<double>(integer) == value && integer != INT64_MIN && integer != INT64_MAX;
}

// A text that a numeric column stores as a number: a decimal integer or
// real, spaces around it allowed.
bool NumberOfText(const std::string& text, RecordValue& number) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && std::isspace(static_cast<unsigned char>(text[begin])) != 0) ++begin;
  while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1])) != 0) --end;
  const std::string core = text.substr(begin, end - begin);
  if (core.empty() || core.find_first_not_of("0123456789+-.eE") != std::string::npos) return false;
  if (std::isdigit(static_cast<unsigned char>(core.back())) == 0 && core.back() != '.') return false;
  char* stop = nullptr;
  errno = 0;
  if (core.find_first_of(".eE") == std::string::npos) {
    const long long integer = std::strtoll(core.c_str(), &stop, 10);
    if (errno == 0 && *stop == '\0') {
      number = RecordValue::Integer(integer);
      return true;
    }
  }
  errno = 0;
  const double real = std::strtod(core.c_str(), &stop);
  if (*stop != '\0' || !std::isfinite(real)) return false;
  number = RecordValue::Real(real);
  return true;
}

RecordValue WithAffinity(RecordValue value, Affinity affinity) {
  using Kind = RecordValue::Kind;
  if (affinity == Affinity::kBlob) return value;
  if (affinity == Affinity::kText) {
    if (value.kind == Kind::kInteger) return RecordValue::Text(std::to_string(value.integer));
    if (value.kind == Kind::kReal) throw std::invalid_argument("record: a real into a TEXT column");
    return value;
  }
  if (value.kind == Kind::kText) {
    RecordValue number;
    if (NumberOfText(value.bytes, number)) value = number;
  }
  std::int64_t integer = 0;
  if (value.kind == Kind::kReal && IntegralReal(value.real, integer)) return RecordValue::Integer(integer);
  return value;
}

int IntegerWidth(std::int64_t value) {
  if (value >= -128 && value <= 127) return 1;
  if (value >= -32768 && value <= 32767) return 2;
  if (value >= -8388608 && value <= 8388607) return 3;
  if (value >= INT32_MIN && value <= INT32_MAX) return 4;
  if (value >= -(std::int64_t{1} << 47) && value < (std::int64_t{1} << 47)) return 6;
  return 8;
}

void PutBigEndian(Bytes& out, std::uint64_t value, int width) {
  for (int shift = (width - 1) * 8; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(value >> shift));
}

// The serial type of a value, its body appended to body.
std::uint64_t Serialise(const RecordValue& value, Bytes& body) {
  using Kind = RecordValue::Kind;
  switch (value.kind) {
    case Kind::kNull:
      return 0;
    case Kind::kInteger: {
      if (value.integer == 0) return 8;
      if (value.integer == 1) return 9;
      const int width = IntegerWidth(value.integer);
      PutBigEndian(body, static_cast<std::uint64_t>(value.integer), width);
      return width == 6 ? 5 : width == 8 ? 6 : static_cast<std::uint64_t>(width);
    }
    case Kind::kReal: {
      std::uint64_t bits = 0;
      std::memcpy(&bits, &value.real, sizeof bits);
      PutBigEndian(body, bits, 8);
      return 7;
    }
    case Kind::kText:
    case Kind::kBlob:
      body.insert(body.end(), value.bytes.begin(), value.bytes.end());
      return 2 * value.bytes.size() + (value.kind == Kind::kText ? 13 : 12);
  }
  return 0;
}

}  // namespace

Affinity AffinityOf(std::string_view declaredType) {
  std::string upper(declaredType);
  std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return std::toupper(c); });
  if (Contains(upper, "INT")) return Affinity::kInteger;
  if (Contains(upper, "CHAR") || Contains(upper, "CLOB") || Contains(upper, "TEXT")) return Affinity::kText;
  if (upper.empty() || Contains(upper, "BLOB")) return Affinity::kBlob;
  if (Contains(upper, "REAL") || Contains(upper, "FLOA") || Contains(upper, "DOUB")) return Affinity::kReal;
  return Affinity::kNumeric;
}

std::string RecordValueSql(const RecordValue& value) {
  using Kind = RecordValue::Kind;
  switch (value.kind) {
    case Kind::kNull:
      return "NULL";
    case Kind::kInteger:
      return std::to_string(value.integer);
    case Kind::kReal: {
      std::string text = SqlReal(value.real);
      if (text.find_first_of(".eEn") == std::string::npos) text += ".0";
      return text;
    }
    case Kind::kText:
      return SqlText(value.bytes);
    case Kind::kBlob:
      return SqlBlob(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(value.bytes.data()),
                                                   value.bytes.size()));
  }
  return "NULL";
}

std::vector<std::uint8_t> SqliteRecord(const std::vector<RecordValue>& values, const std::vector<RecordColumn>& columns) {
  if (values.size() != columns.size()) throw std::invalid_argument("record: one value per column");
  Bytes types;
  Bytes body;
  for (std::size_t i = 0; i < values.size(); ++i) {
    const RecordValue stored =
        columns[i].rowidAlias ? RecordValue::Null() : WithAffinity(values[i], columns[i].affinity);
    PutVarint(types, Serialise(stored, body));
  }
  // The header size counts its own varint (sqlite3VdbeExec, OP_MakeRecord).
  std::uint64_t headerSize = types.size();
  if (headerSize <= 126) {
    headerSize += 1;
  } else {
    const std::size_t length = VarintLength(headerSize);
    headerSize += length;
    if (length < VarintLength(headerSize)) ++headerSize;
  }
  Bytes record;
  PutVarint(record, headerSize);
  record.insert(record.end(), types.begin(), types.end());
  record.insert(record.end(), body.begin(), body.end());
  return record;
}

std::size_t SecondSerialTypeOffset(const std::vector<std::uint8_t>& record) {
  const std::size_t sizeLength = VarintLengthAt(record, 0);
  if (sizeLength == 0) return record.size();
  std::uint64_t headerSize = 0;
  for (std::size_t i = 0; i < sizeLength; ++i) headerSize = (headerSize << 7) | (record[i] & 0x7F);
  const std::size_t firstLength = VarintLengthAt(record, sizeLength);
  if (firstLength == 0 || sizeLength + firstLength >= headerSize) return record.size();
  return sizeLength + firstLength;
}

}  // namespace sample
