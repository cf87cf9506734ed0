#pragma once
// The table layouts the scanner recognises: per layout the column count, the
// serial-type bytes that start a decoding attempt, how far ahead of a start
// byte to look for them, where decoding begins, and the serial types each
// checked column may have. The table is written out in
// docs/formats/undark.md.

#include <array>
#include <cstdint>

namespace db::undark {

// The most columns a record may have; the column table holds this many.
inline constexpr int kMaxColumns = 1001;

// Where a decoding attempt begins, relative to the trigger T and the start
// byte S.
enum class Start : std::uint8_t {
  kColumn1AtTrigger,      // column 1's serial type at T
  kColumn1AtStartByte,    // layout 12: column 1 at S once a trigger is seen
  kPrefixTest,            // layouts 7, 22: column 1 at S + 2 after a prefix test
  kColumn0BeforeTrigger,  // layouts 13, 19: column 0 in the four bytes before T
  kColumn0AtTrigger,      // layout 18
  kTwoVarintsBefore,      // layout 21: column 1 two varints before T
  kColumn2AfterTextByte,  // layout 3: column 1 the byte before T, column 2 at T
};

// Allowed serial types of a column, as bits: bit t for the serial types 0 to
// 11, then any BLOB, any TEXT, and the 36-byte TEXT of a UUID (type 85).
using Rule = std::uint32_t;
inline constexpr Rule kBlob = 1u << 12;
inline constexpr Rule kText = 1u << 13;
inline constexpr Rule kUuid = 1u << 14;
inline constexpr Rule kAny = (1u << 15) - 1;
inline constexpr Rule kNotNull = kAny & ~Rule{1};

struct Layout {
  int columns = 0;  // 0: the number is not assigned
  std::array<bool, 256> trigger{};
  int window = 0;
  Start start = Start::kColumn1AtTrigger;
  bool rowId = false;  // the cell's row id stands in for column 0
  std::array<Rule, kMaxColumns> rules{};
};

inline constexpr int kLayoutCount = 23;

// The layout of a number, or nullptr when it is not assigned.
const Layout* FindLayout(int number);

// Whether rule allows the serial type.
inline bool Allows(Rule rule, std::uint64_t serialType) {
  if (serialType < 12) return (rule >> serialType) & 1u;
  if (serialType == 85 && (rule & kUuid) != 0) return true;
  return (rule & ((serialType & 1u) != 0 ? kText : kBlob)) != 0;
}

}  // namespace db::undark
