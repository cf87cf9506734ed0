#pragma once
// The table layouts the scanner recognises: per layout the column count, the
// serial-type bytes that start a decoding attempt, how far ahead of a start
// byte to look for them, where decoding begins, and the serial types each
// checked column may have. The numbered table is written out in
// docs/formats/undark.md; a reader that knows a table the numbers do not
// cover (a WeChat conversation's Chat_<md5>, say) makes its own layout with
// LayoutBuilder.
//
// Threads: FindLayout's table is made once and only read after; a
// LayoutBuilder belongs to the thread that fills it.

#include <array>
#include <cstdint>
#include <initializer_list>

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
  // Made at run time: the anchor column's serial type at T, the columns
  // before it the single bytes right before T (an integer or NULL serial
  // type takes one byte), the header size before those.
  kAnchorAtTrigger,
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
  // kAnchorAtTrigger only: the column whose serial type is the trigger, and
  // the INTEGER PRIMARY KEY column (stored as NULL; its value is the row id),
  // -1 when the table has none.
  int anchor = 0;
  int primaryKey = -1;
  // kAnchorAtTrigger only: a record whose TEXT values are not valid UTF-8
  // or hold a zero byte, or whose column allowing only the UUID's text
  // (kUuid) holds no UUID, is no record of the table; the scan then tries
  // the next start byte rather than going on past it.
  bool textsMustDecode = false;
  std::array<Rule, kMaxColumns> rules{};
};

// The rule that allows exactly the listed serial types (0-11; 85 for the
// 36-byte TEXT of a UUID). Other numbers are left out.
Rule SerialTypes(std::initializer_list<int> types);

// Fills one layout: every column first gets defaultRule, then the listed
// columns their own. Column numbers outside 0..kMaxColumns-1 and triggers
// outside 0..255 are left out; the scan refuses a layout whose column count,
// anchor or primary key does not fit (see UndarkScan).
//
// A reader's layout for WeChat's Chat_<md5> in its declared column order:
//   LayoutBuilder::Anchored(9, 3, {4})        // CreateTime, a 4-byte integer
//       .Column({0}, SerialTypes({8, 9}))     // TableVer
//       .PrimaryKey(1)                        // MesLocalID
//       .Column({4}, kText | SerialTypes({0}))
//       ...
//       .Build();
class LayoutBuilder {
 public:
  LayoutBuilder(int columns, std::initializer_list<int> triggers, int window, Start start, Rule defaultRule = kAny);
  // A layout of columns columns that starts at the anchor column's serial
  // type, one of triggers (Start::kAnchorAtTrigger, window 1).
  static LayoutBuilder Anchored(int columns, int anchor, std::initializer_list<int> triggers,
                                Rule defaultRule = kAny);
  // Numbered layouts: column 0 is the row id read before column 1.
  LayoutBuilder& RowId();
  // Anchored layouts: column is the INTEGER PRIMARY KEY; its serial type
  // must be 0 and its value is the cell's row id.
  LayoutBuilder& PrimaryKey(int column);
  LayoutBuilder& Column(std::initializer_list<int> columns, Rule rule);
  LayoutBuilder& ColumnRange(int first, int last, Rule rule);
  Layout Build() const { return layout_; }

 private:
  Layout layout_;
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
