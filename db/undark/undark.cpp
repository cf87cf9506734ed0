// The deleted-row scanner. The file format it reads and the layout table are
// in docs/formats/undark.md.
#include "db/undark/undark.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <cstdint>
#include <memory>
#include <new>
#include <optional>

#include "db/text.h"
#include "db/undark/layouts.h"
#include "platform/fs.h"
#include "platform/mapped_file.h"

namespace db::undark {
namespace {

// Real varints take at most 9 bytes. Longer runs of bytes with the high bit
// set are junk; following them without end would make a page of 0xFF bytes
// cost quadratic time, so a varint longer than this fails its attempt.
constexpr std::size_t kMaxVarintBytes = 64;
// A record's body may not start before this many bytes from a page end when
// the scan moves on (a page holds no record in its last ten bytes).
constexpr std::size_t kPageTailBytes = 10;
constexpr std::size_t kPageHeaderSkip = 14;
// The database file header at the start of page 1.
constexpr std::size_t kFileHeaderBytes = 100;
// Layout 9 reads its second mode's records with this many columns.
constexpr int kLayout9SecondModeColumns = 23;
constexpr std::uint64_t kUuidSerialType = 85;

struct Varint {
  std::uint64_t value = 0;
  std::size_t start = 0;
  std::size_t end = 0;  // the position after its last byte
};

struct Column {
  std::uint8_t type = kTypeNull;
  std::size_t offset = 0;  // within the record body
  std::size_t size = 0;
};

bool IsTextType(std::uint64_t serialType) { return serialType >= 13 && (serialType & 1u) != 0; }

// Whether every serial type rule allows takes no body bytes (NULL, 0, 1):
// a column of such a rule may be left unknown without losing where the
// body's values lie.
bool TakesNoBodyBytes(Rule rule) { return rule != 0 && (rule & ~SerialTypes({0, 8, 9})) == 0; }

std::size_t BigEndian16(const std::uint8_t* bytes) { return (std::size_t{bytes[0]} << 8) | bytes[1]; }

// Type code and size in the body of a serial type; false for the reserved
// types 10 and 11.
bool DescribeSerialType(std::uint64_t serialType, std::uint8_t& type, std::uint64_t& size) {
  static constexpr std::uint8_t kFixedSizes[10] = {0, 1, 2, 3, 4, 6, 8, 8, 0, 0};
  if (serialType < 10) {
    type = static_cast<std::uint8_t>(serialType);
    size = kFixedSizes[serialType];
    return true;
  }
  if (serialType < 12) return false;
  type = (serialType & 1u) != 0 ? kTypeText : kTypeBlob;
  size = (serialType - type) / 2;
  return true;
}

std::int64_t SignedBigEndian(const std::uint8_t* bytes, std::size_t size) {
  std::uint64_t value = (bytes[0] & 0x80u) != 0 ? ~std::uint64_t{0} : 0;
  for (std::size_t i = 0; i < size; ++i) value = (value << 8) | bytes[i];
  return static_cast<std::int64_t>(value);
}

// "%f" of a double; the largest double takes 316 characters that way.
std::string FormatDouble(double value) {
  char text[400];
  const int length = std::snprintf(text, sizeof text, "%f", value);
  return std::string(text, length > 0 ? static_cast<std::size_t>(length) : 0);
}

// One scan of one file image with one layout.
class Scanner {
 public:
  // layoutNumber is -1 for a layout made at run time (no numbered layout's
  // special rules).
  Scanner(std::span<const std::uint8_t> image, std::size_t fileSize, std::size_t pageSize, int layoutNumber,
          const Layout& layout, int expectedColumns, const UndarkPlacedRowSink& sink)
      : image_(image),
        fileSize_(fileSize),
        pageSize_(pageSize),
        layoutNumber_(layoutNumber),
        layout_(layout),
        baseColumns_(expectedColumns >= 1 ? std::min(expectedColumns, kMaxColumns) : layout.columns),
        sink_(sink) {
    int triggers = 0;
    for (int byte = 0; byte < 256; ++byte) {
      if (layout.trigger[static_cast<std::size_t>(byte)]) {
        ++triggers;
        singleTrigger_ = byte;
      }
    }
    if (triggers != 1) singleTrigger_ = -1;
  }

  void Run() {
    for (std::size_t pageStart = 0; pageStart < fileSize_; pageStart += pageSize_) ScanPage(pageStart);
  }

 private:
  enum class Outcome { kRow, kNone, kAbandon };

  int ColumnCount() const { return secondMode_ ? kLayout9SecondModeColumns : baseColumns_; }

  void ScanPage(std::size_t pageStart) {
    const std::size_t pageLimit = pageStart + pageSize_ - kPageTailBytes;
    secondMode_ = false;
    std::size_t x = pageStart + kPageHeaderSkip;
    while (true) {
      // Zero bytes are passed over; only here and after a row is the page
      // end looked at, so a run of other bytes is followed into the next page.
      while (x < image_.size() && image_[x] == 0) {
        if (++x >= pageLimit) return;
      }
      if (x >= image_.size()) return;
      std::size_t next = x + 1;
      if (TryStartByte(x, next) == Outcome::kRow) {
        // A record that takes no body bytes before its texts (a caller's
        // column count of 1, say) resumes where it started: go on past the
        // start byte, or the same row would be found for ever.
        next = std::max(next, x + 1);
        if (next >= pageLimit) return;
      }
      x = next;
    }
  }

  // Tries the start byte s; sets next to where the scan goes on.
  Outcome TryStartByte(std::size_t s, std::size_t& next) {
    // One test per start byte for the trigger-window layouts, which most
    // scans use: this runs for every non-zero byte of the file.
    if (otherStart_) return anchored_ ? TryAnchored(s, next) : TryPrefix(s, next);
    bool attemptedAtStart = false;
    const std::size_t windowEnd = s + static_cast<std::size_t>(layout_.window);
    for (std::size_t t = NextTrigger(s); t < windowEnd && t < image_.size(); t = NextTrigger(t + 1)) {
      std::size_t begin = t;
      int firstColumn = 1;
      switch (layout_.start) {
        case Start::kColumn0BeforeTrigger: {
          const auto column0 = TextTypeBefore(t);
          if (!column0) {
            next = t + 1;
            return Outcome::kAbandon;
          }
          begin = *column0;
          firstColumn = 0;
          break;
        }
        case Start::kTwoVarintsBefore: {
          const auto column2 = VarintEndingAt(t);
          const auto column1 = column2 ? VarintEndingAt(column2->start) : std::nullopt;
          if (!column1) {
            next = t + 1;
            return Outcome::kAbandon;
          }
          begin = column1->start;
          break;
        }
        case Start::kColumn1AtStartByte:
          // Every trigger of the window would repeat the same attempt at s.
          if (attemptedAtStart) continue;
          attemptedAtStart = true;
          begin = s;
          break;
        case Start::kColumn0AtTrigger: firstColumn = 0; break;
        case Start::kColumn2AfterTextByte: firstColumn = 2; break;
        default: break;
      }
      if (Attempt(begin, firstColumn, next)) return Outcome::kRow;
    }
    return Outcome::kNone;
  }

  // Layouts made at run time: a trigger at s itself (their window is 1;
  // a wider one tries each trigger in it).
  Outcome TryAnchored(std::size_t s, std::size_t& next) {
    const std::size_t windowEnd = s + static_cast<std::size_t>(layout_.window);
    for (std::size_t t = NextTrigger(s); t < windowEnd && t < image_.size(); t = NextTrigger(t + 1)) {
      if (AttemptAnchored(t, next)) return Outcome::kRow;
    }
    return Outcome::kNone;
  }

  Outcome TryPrefix(std::size_t s, std::size_t& next) {
    const auto first = ReadVarint(s + 2);
    const auto second = first ? ReadVarint(first->end) : std::nullopt;
    if (!second) return Outcome::kNone;
    auto shortBlob = [](std::uint64_t v) { return v >= 2 && v <= 12 && v % 2 == 0; };
    if (shortBlob(first->value) || shortBlob(second->value) || first->value + second->value == 0) {
      return Outcome::kNone;
    }
    return Attempt(s + 2, 1, next) ? Outcome::kRow : Outcome::kNone;
  }

  // The first position from `from` on that holds a trigger byte (the image
  // size when there is none). The answer is kept: start bytes move forward,
  // so most calls are answered without looking at a byte, and the scan does
  // one pass over the bytes however wide the window.
  std::size_t NextTrigger(std::size_t from) {
    if (from >= triggerFrom_ && from <= triggerAt_) return triggerAt_;
    std::size_t p = from;
    if (singleTrigger_ >= 0) {
      const void* hit = p < image_.size() ? std::memchr(image_.data() + p, singleTrigger_, image_.size() - p) : nullptr;
      p = hit != nullptr ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(hit) - image_.data())
                         : image_.size();
    } else {
      while (p < image_.size() && !layout_.trigger[image_[p]]) ++p;
    }
    triggerFrom_ = from;
    triggerAt_ = p;
    return p;
  }

  // Column 0 of layouts 13 and 19: the first varint read forward from the
  // four bytes before t, nearest first, whose value is a text type.
  std::optional<std::size_t> TextTypeBefore(std::size_t t) const {
    for (std::size_t back = 1; back <= 4 && back <= t; ++back) {
      const auto varint = ReadVarint(t - back);
      if (varint && IsTextType(varint->value)) return t - back;
    }
    return std::nullopt;
  }

  std::optional<Varint> ReadVarint(std::size_t position) const {
    Varint varint;
    varint.start = position;
    std::size_t p = position;
    while (true) {
      if (p >= image_.size() || p - position >= kMaxVarintBytes) return std::nullopt;
      const std::uint8_t byte = image_[p++];
      varint.value = (varint.value << 7) | (byte & 0x7Fu);
      if ((byte & 0x80u) == 0) break;
    }
    varint.end = p;
    return varint;
  }

  // The varint that ends exactly at y, trying the starts y-3, y-2, y-1.
  std::optional<Varint> VarintEndingAt(std::size_t y) const {
    for (std::size_t back = 3; back >= 1; --back) {
      if (back > y) continue;
      const auto varint = ReadVarint(y - back);
      if (varint && varint->end == y) return varint;
    }
    return std::nullopt;
  }

  bool CheckColumn(int k, std::uint64_t serialType) {
    if (layoutNumber_ == 9 && k == 18) {
      if (secondMode_) return serialType == kUuidSerialType;
      if (serialType == kUuidSerialType) secondMode_ = true;  // for the rest of the page
      return true;
    }
    if (layoutNumber_ == 9 && k == 19) return secondMode_ || serialType == kUuidSerialType;
    return Allows(layout_.rules[static_cast<std::size_t>(k)], serialType);
  }

  // Walks a record header from h, storing columns from firstColumn on. On
  // success produces the row and sets resume.
  bool Attempt(std::size_t h, int firstColumn, std::size_t& resume) {
    std::size_t bodyOffset = 0;
    columns_[0] = Column{};
    const std::size_t headerStart = firstColumn == 2 ? h - 1 : h;
    if (firstColumn == 2) {
      // Layout 3: column 1's serial type is the one byte before the trigger,
      // taken as a text whatever its parity.
      if (h == 0) return false;
      const std::uint8_t byte = image_[h - 1];
      if (byte < 12 || byte >= 128) return false;
      columns_[1] = Column{kTypeText, 0, static_cast<std::size_t>((byte - 13) / 2)};
      bodyOffset = columns_[1].size;
    }
    std::size_t column1Position = firstColumn == 1 ? h : 0;
    int last = firstColumn - 1;
    if (!ReadColumnsForward(h, firstColumn, bodyOffset, last, column1Position)) return false;
    // The body must lie inside the file image (and its trailing zero byte).
    if (h > image_.size() || bodyOffset > image_.size() - h) return false;
    ProduceRow(h, last, column1Position, headerStart);
    resume = ResumeAfter(h, last);
    return true;
  }

  // Reads header varints forward from h for the columns from firstColumn on,
  // giving each its place in the body from bodyOffset on. Leaves h at the
  // header's end, bodyOffset at the body's size and last at the last column
  // stored. False when a column fails its rule or cannot be read.
  bool ReadColumnsForward(std::size_t& headerPosition, int firstColumn, std::size_t& bodySize, int& lastColumn,
                          std::size_t& column1At) {
    // The walk works on locals, written back once it succeeds: the loop is
    // the scan's hottest, and references would keep its state in memory.
    std::size_t h = headerPosition;
    std::size_t bodyOffset = bodySize;
    int last = lastColumn;
    std::size_t column1Position = column1At;
    int k = firstColumn;
    for (int position = firstColumn; position < ColumnCount(); ++position) {
      const auto varint = ReadVarint(h);
      if (!varint) return false;
      if (k == 1) column1Position = h;
      if (layoutNumber_ == 22 && k == 46 && varint->value != 0) {
        columns_[46] = Column{};
        last = 46;
        break;  // the header ends here; h stays before this varint
      }
      if (layoutNumber_ == 13 && k == 13 && varint->value != 0 && varint->value != 8) break;
      h = varint->end;
      if (varint->end - varint->start >= 8) continue;  // uses a position, stores nothing
      if (k >= kMaxColumns || !CheckColumn(k, varint->value)) return false;
      Column column;
      std::uint64_t size = 0;
      if (!DescribeSerialType(varint->value, column.type, size) || size > pageSize_) return false;
      column.offset = bodyOffset;
      column.size = static_cast<std::size_t>(size);
      bodyOffset += column.size;
      columns_[static_cast<std::size_t>(k)] = column;
      last = k++;
    }
    headerPosition = h;
    bodySize = bodyOffset;
    lastColumn = last;
    column1At = column1Position;
    return true;
  }

  // Where the scan goes on after a row whose body starts at bodyStart: past
  // its values but for its texts, which may hold older records.
  std::size_t ResumeAfter(std::size_t bodyStart, int last) const {
    std::size_t resume = bodyStart;
    for (int i = 0; i <= last; ++i) {
      if (columns_[static_cast<std::size_t>(i)].type != kTypeText) resume += columns_[static_cast<std::size_t>(i)].size;
    }
    return resume;
  }

  // Layouts made at run time: the anchor column's serial type is the
  // trigger at t, the columns before it are the single bytes right before t
  // and the header size the byte before those; from t on the header is read
  // forward. See "Layouts made at run time" in docs/formats/undark.md.
  bool AttemptAnchored(std::size_t t, std::size_t& resume) {
    const auto anchor = static_cast<std::size_t>(layout_.anchor);
    // The record header starts past the 100-byte file header (whose schema
    // format, 4 at byte 47, would otherwise trigger on every file).
    if (t < kFileHeaderBytes + anchor + 1) return false;
    BeforeAnchor before;
    if (!ColumnsBeforeAnchor(t, false, before) &&
        !(before.column1Shortenable && ColumnsBeforeAnchor(t, true, before))) {
      return false;
    }
    // A page's cell pointers (two-byte offsets, often small) read as the
    // header of a narrow table's record; no record starts among them.
    if (before.column0 < CellPointersEnd(before.column0 - before.column0 % pageSize_)) return false;
    std::size_t h = t;
    int last = layout_.anchor - 1;
    std::size_t column1Position = 0;
    std::size_t bodyOffset = before.bodyBytes;
    if (!ReadColumnsForward(h, layout_.anchor, bodyOffset, last, column1Position)) return false;
    if (h > image_.size() || bodyOffset > image_.size() - h) return false;
    // A free block header's last byte with its high bit set, on column 0,
    // reads as the first byte of column 1's serial type. When column 0 then
    // reads as a column whose header size does not read back before it,
    // the reading with column 0 overwritten and column 1 one byte shorter
    // holds when a free block header ends on column 0.
    BeforeAnchor shorter;
    if (before.column1Shortenable && !before.column0Overwritten && !HeaderStartBefore(before.column0, h) &&
        ColumnsBeforeAnchor(t, true, shorter) && FreeBlockHeaderBefore(shorter.column0 + 1, h)) {
      for (std::size_t k = anchor; k <= static_cast<std::size_t>(last); ++k) {
        columns_[k].offset = columns_[k].offset - before.bodyBytes + shorter.bodyBytes;
      }
      bodyOffset = bodyOffset - before.bodyBytes + shorter.bodyBytes;
      before = shorter;
    } else if (before.column1Shortenable && !before.column0Overwritten) {
      ColumnsBeforeAnchor(t, false, before);  // the columns as first read
    }
    const std::size_t column0 = before.column0;
    const bool column0Overwritten = before.column0Overwritten;
    // Before column 0 must end the header size and before that the cell's
    // start, or the free block header SQLite wrote over the cell's start:
    // without that check a table of few integer columns would read rows
    // out of any run of small bytes (a row id equal to the header size
    // reads as the header size of a record one byte earlier).
    if (!column0Overwritten) {
      const auto headerStart = HeaderStartBefore(column0, h);
      if (headerStart ? !CellStartReadsBack(*headerStart, h, bodyOffset) : !FreeBlockHeaderBefore(column0, h)) {
        return false;
      }
    }
    // An overwritten column 0 is the last byte of that free block header;
    // without one there, column 0 is a byte of a live record that its rule
    // does not allow (a row of another shape, read from the wrong place).
    if (column0Overwritten && !FreeBlockHeaderBefore(column0 + 1, h)) return false;
    if (layout_.textsMustDecode && !TextsDecode(h, last)) return false;
    anchoredRowId_ = column0Overwritten ? std::nullopt : RowIdFromCellStart(column0, h, bodyOffset);
    ProduceRow(h, last, 0, column0 - 1);
    resume = ResumeAfter(h, last);
    return true;
  }

  // Whether the TEXT values of columns 0..last, in the body starting at
  // bodyStart, are valid UTF-8 without a zero byte, and a column allowing
  // only the UUID's text holds a UUID.
  bool TextsDecode(std::size_t bodyStart, int last) const {
    for (int k = 0; k <= last; ++k) {
      const Column& column = columns_[static_cast<std::size_t>(k)];
      if (column.type != kTypeText) continue;
      const std::string_view text(reinterpret_cast<const char*>(image_.data() + bodyStart + column.offset), column.size);
      if (text.find('\0') != std::string_view::npos || !db::IsValidUtf8(text)) return false;
      const Rule rule = layout_.rules[static_cast<std::size_t>(k)];
      if ((rule & kUuid) != 0 && (rule & kText) == 0 && !db::IsUuidText(text)) return false;
    }
    return true;
  }

  // Where the cell pointer array of the b-tree page at pageStart ends, when
  // its header reads as a b-tree page's (a page type, and cell pointers
  // that end before the cell content area starts); else the page's start.
  std::size_t CellPointersEnd(std::size_t pageStart) {
    if (pageStart == pointersPage_) return pointersEnd_;
    pointersPage_ = pageStart;
    pointersEnd_ = pageStart;
    const std::size_t header = pageStart + (pageStart == 0 ? kFileHeaderBytes : 0);
    if (header + 12 > image_.size()) return pointersEnd_;
    const std::uint8_t type = image_[header];
    if (type != 2 && type != 5 && type != 10 && type != 13) return pointersEnd_;
    const std::size_t headerBytes = type == 2 || type == 5 ? 12 : 8;
    const std::size_t cells = BigEndian16(image_.data() + header + 3);
    std::size_t contentStart = BigEndian16(image_.data() + header + 5);
    if (contentStart == 0) contentStart = 65536;
    const std::size_t end = header - pageStart + headerBytes + 2 * cells;
    if (end <= contentStart && contentStart <= pageSize_) pointersEnd_ = pageStart + end;
    return pointersEnd_;
  }

  // The columns before the anchor as ColumnsBeforeAnchor read them.
  struct BeforeAnchor {
    std::size_t column0 = 0;  // where column 0's serial type is
    std::size_t bodyBytes = 0;  // the body bytes they take
    bool column0Overwritten = false;
    // Column 0 takes no body bytes and column 1's serial type was read
    // with more than one byte: a shorter reading may hold (see
    // AttemptAnchored).
    bool column1Shortenable = false;
  };

  // Reads the serial types of the columns before the anchor backward from
  // t into columns_: a serial type's last byte has its high bit clear and
  // its other bytes have it set, so the varints ending at t part
  // unambiguously, but for column 0's byte when a free block header
  // overwrote it. shortenColumn1 reads column 1 without its first byte
  // (which is then column 0's, overwritten).
  bool ColumnsBeforeAnchor(std::size_t t, bool shortenColumn1, BeforeAnchor& before) {
    const auto anchor = static_cast<std::size_t>(layout_.anchor);
    std::size_t end = t;
    before = BeforeAnchor{};
    for (std::size_t k = anchor; k-- > 0;) {
      Column column;
      const Rule rule = layout_.rules[k];
      // A column whose every type takes no body bytes has a one-byte serial
      // type; column 0 of that kind may also be the last byte of a free
      // block header, whose high bit may be set.
      const bool singleByte = TakesNoBodyBytes(rule);
      std::optional<std::size_t> start = singleByte ? std::optional<std::size_t>(end - 1) : VarintStartEndingAt(end);
      if (k == 1 && start && *start + 1 < end && TakesNoBodyBytes(layout_.rules[0])) {
        before.column1Shortenable = true;
        if (shortenColumn1) ++*start;
      }
      if (!start || *start < kFileHeaderBytes || !DescribeColumnAt(*start, end, rule, column)) {
        // When SQLite frees a cell between other cells it writes a free
        // block's next offset and size over the cell's first four bytes; in
        // a short cell with a small row id the size's low byte lands on
        // column 0's serial type. A column whose every allowed type takes no
        // body bytes is then left unknown, and the body stays where it was.
        if (k != 0 || !singleByte) return false;
        before.column0Overwritten = true;
        column = Column{};
      }
      columns_[k] = column;
      end = start.value_or(end - 1);
    }
    if (shortenColumn1 && !before.column0Overwritten) return false;
    before.column0 = end;
    for (std::size_t k = 0; k < anchor; ++k) {
      columns_[k].offset = before.bodyBytes;
      before.bodyBytes += columns_[k].size;
    }
    return true;
  }

  // The start of the varint whose last byte is the one before end: the bytes
  // before that with their high bit set (a serial type takes at most nine
  // bytes). Nothing when the byte before end has its high bit set.
  std::optional<std::size_t> VarintStartEndingAt(std::size_t end) const {
    if (end == 0 || image_[end - 1] >= 0x80) return std::nullopt;
    std::size_t start = end - 1;
    while (start > 0 && end - start < 9 && image_[start - 1] >= 0x80) --start;
    return start;
  }

  // A column whose serial type is the varint from start to end, when rule
  // allows it.
  bool DescribeColumnAt(std::size_t start, std::size_t end, Rule rule, Column& column) const {
    const auto varint = ReadVarint(start);
    std::uint64_t size = 0;
    if (!varint || varint->end != end || !Allows(rule, varint->value) ||
        !DescribeSerialType(varint->value, column.type, size) || size > pageSize_) {
      return false;
    }
    column.size = static_cast<std::size_t>(size);
    return true;
  }

  // The start of the header-size varint that ends right before column 0
  // and equals the header's length (column0 up to headerEnd and itself).
  std::optional<std::size_t> HeaderStartBefore(std::size_t column0, std::size_t headerEnd) const {
    // A header of kMaxColumns nine-byte types is under 2^14 bytes: its size
    // takes at most 2 bytes.
    for (std::size_t length = 1; length <= 2 && length <= column0; ++length) {
      const auto varint = ReadVarint(column0 - length);
      if (varint && varint->end == column0 && varint->value == headerEnd - varint->start) return varint->start;
    }
    return std::nullopt;
  }

  // Whether the four bytes before blockEnd read as a free block's header
  // (next offset, size; big-endian, offsets within the page) that covers
  // the record header and lies inside its page.
  bool FreeBlockHeaderBefore(std::size_t blockEnd, std::size_t headerEnd) const {
    if (blockEnd < 4) return false;
    const std::size_t block = blockEnd - 4;
    const std::size_t inPage = block % pageSize_;
    const std::size_t next = BigEndian16(image_.data() + block);
    const std::size_t size = BigEndian16(image_.data() + block + 2);
    if (size < headerEnd - block || inPage + size > pageSize_) return false;
    return next == 0 || (next >= inPage + size && next + 4 <= pageSize_);
  }

  // The cell's row id when its first bytes read back: before column 0 the
  // header size equal to the header's length, before that the row id,
  // before that the payload length equal to the header's and the body's
  // sizes. Nothing when they do not (a free block's header lies over them).
  std::optional<std::int64_t> RowIdFromCellStart(std::size_t column0, std::size_t headerEnd, std::size_t bodySize) const {
    const auto headerStart = HeaderStartBefore(column0, headerEnd);
    if (!headerStart || *headerStart == 0 || image_[*headerStart - 1] >= 0x80) return std::nullopt;
    // The row id's last byte has its high bit clear and the ones before it
    // set; before them ends the payload length, whose last byte is clear.
    // Row ids of 2^56 and more take nine bytes and are not read back.
    std::size_t rowIdStart = *headerStart - 1;
    while (rowIdStart > 0 && *headerStart - rowIdStart < 8 && image_[rowIdStart - 1] >= 0x80) --rowIdStart;
    const auto rowId = ReadVarint(rowIdStart);
    if (!rowId || rowId->end != *headerStart) return std::nullopt;
    // The bytes before the payload length belong to something else and may
    // have their high bit set, so each length is tried.
    const std::uint64_t payload = (headerEnd - *headerStart) + bodySize;
    for (std::size_t length = 1; length <= 9 && length <= rowIdStart; ++length) {
      const auto varint = ReadVarint(rowIdStart - length);
      if (varint && varint->end == rowIdStart && varint->value == payload) return static_cast<std::int64_t>(rowId->value);
    }
    return std::nullopt;
  }

  // Whether the payload length payload ends right before end.
  bool PayloadEndsAt(std::size_t end, std::uint64_t payload) const {
    for (std::size_t length = 1; length <= 9 && length <= end; ++length) {
      const auto varint = ReadVarint(end - length);
      if (varint && varint->end == end && varint->value == payload) return true;
    }
    return false;
  }

  // Whether the cell of the record whose header runs from headerStart to
  // headerEnd reads back before it: its payload length right before the
  // header (an index b-tree's cell, as WITHOUT ROWID tables keep rows) or
  // before the row id (a table's), or a free block header over those bytes
  // (a freed cell).
  bool CellStartReadsBack(std::size_t headerStart, std::size_t headerEnd, std::size_t bodySize) const {
    const std::uint64_t payload = (headerEnd - headerStart) + bodySize;
    if (PayloadEndsAt(headerStart, payload)) return true;
    if (headerStart > 0 && image_[headerStart - 1] < 0x80) {
      std::size_t rowIdStart = headerStart - 1;
      while (rowIdStart > 0 && headerStart - rowIdStart < 9 && image_[rowIdStart - 1] >= 0x80) --rowIdStart;
      if (PayloadEndsAt(rowIdStart, payload)) return true;
    }
    // The free block header covers the cell's first four bytes: the
    // payload length and the row id may take up to five more.
    for (std::size_t back = 0; back <= 5 && back + 4 <= headerStart; ++back) {
      if (FreeBlockHeaderBefore(headerStart - back, headerEnd)) return true;
    }
    return false;
  }

  std::int64_t RowIdBefore(std::size_t column1Position) const {
    if (!layout_.rowId || column1Position == 0) return 0;
    // Column 0's serial type is the one byte before column 1; before it end
    // the header size and, before that, the cell's row id.
    const auto headerSize = VarintEndingAt(column1Position - 1);
    const auto rowId = headerSize ? VarintEndingAt(headerSize->start) : std::nullopt;
    return rowId ? static_cast<std::int64_t>(rowId->value) : 0;
  }

  // The text of the row id value: a numbered layout's read before column 1
  // ("0" when it cannot be), a layout made at run time's read back from the
  // cell's start (empty when it could not be).
  std::string RowIdText(std::size_t column1Position) const {
    if (!anchored_) return std::to_string(static_cast<std::int32_t>(RowIdBefore(column1Position)));
    return anchoredRowId_ ? std::to_string(*anchoredRowId_) : std::string();
  }

  // Decodes columns 0..last of the record whose body starts at bodyStart
  // and hands the row to the sink with the page of headerStart.
  void ProduceRow(std::size_t bodyStart, int last, std::size_t column1Position, std::size_t headerStart) {
    row_.resize(static_cast<std::size_t>(last + 1));
    std::size_t count = 0;
    for (int i = 0; i <= last; ++i) {
      const Column& column = columns_[static_cast<std::size_t>(i)];
      UndarkValue& value = row_[count];
      if (i == rowIdColumn_ && (anchored_ || column.type == kTypeNull)) {
        value.type = kTypeRowId;
        value.text = RowIdText(column1Position);
        value.number = -1;
        value.real = 0;
        ++count;
        continue;
      }
      const std::uint8_t* bytes = image_.data() + bodyStart + column.offset;
      if (layoutNumber_ == 7 && column.type == kTypeText && std::memchr(bytes, 0, column.size) != nullptr) {
        continue;  // a text with a zero byte is no contact text: the row comes out short
      }
      Decode(column, bytes, value);
      ++count;
    }
    row_.resize(count);
    sink_(row_, static_cast<std::uint32_t>(headerStart / pageSize_ + 1));
  }

  static void Decode(const Column& column, const std::uint8_t* bytes, UndarkValue& value) {
    value.type = column.type;
    value.number = -1;
    value.real = 0;
    value.text.clear();
    switch (column.type) {
      case 1: case 2: case 3: case 4:
        value.number = SignedBigEndian(bytes, column.size);
        value.text = std::to_string(static_cast<int>(value.number));  // "%d"
        break;
      case 5: case 6:
        value.number = SignedBigEndian(bytes, column.size);
        value.text = std::to_string(static_cast<long long>(value.number));  // "%lld"
        break;
      case kTypeDouble: {
        const auto bits = static_cast<std::uint64_t>(SignedBigEndian(bytes, 8));
        std::memcpy(&value.real, &bits, sizeof value.real);
        value.text = FormatDouble(value.real);
        value.number = UndarkValueToInt64(value);
        break;
      }
      // assign(count, char) rather than a literal: g++ 12 at -O3 warns
      // falsely about overlapping copies for the literal.
      case 8: value.text.assign(1, '0'); value.number = 0; break;
      case 9: value.text.assign(1, '1'); value.number = 1; break;
      case kTypeBlob:
      case kTypeText: value.text.assign(reinterpret_cast<const char*>(bytes), column.size); break;
      default: break;
    }
  }

  std::span<const std::uint8_t> image_;  // the file and one zero byte
  std::size_t fileSize_;
  std::size_t pageSize_;
  int layoutNumber_;
  const Layout& layout_;
  int baseColumns_;
  const UndarkPlacedRowSink& sink_;
  const bool anchored_ = layout_.start == Start::kAnchorAtTrigger;
  const bool otherStart_ = anchored_ || layout_.start == Start::kPrefixTest;
  // The column whose value is the row id: a numbered layout's column 0 when
  // it is NULL, a layout made at run time's primary key (-1 for none).
  const int rowIdColumn_ = anchored_ ? layout_.primaryKey : 0;
  // The row id of the anchored record being produced, when its cell's start
  // read back.
  std::optional<std::int64_t> anchoredRowId_;
  // The page whose cell pointers' end CellPointersEnd last read, and that end.
  std::size_t pointersPage_ = SIZE_MAX;
  std::size_t pointersEnd_ = 0;
  UndarkRow row_;  // reused for every row, so its texts keep their storage
  bool secondMode_ = false;
  int singleTrigger_ = -1;  // the one trigger byte of the layout, if it has one
  std::size_t triggerFrom_ = 1;
  std::size_t triggerAt_ = 0;  // first trigger at or after triggerFrom_
  std::array<Column, kMaxColumns> columns_{};
};

// The page size of a database image: a power of two from 512 to 32768 in
// bytes 16-17 (65536, written as 1, is not scanned), or 0.
std::size_t PageSizeOf(std::span<const std::uint8_t> image, std::size_t fileSize) {
  if (fileSize < 18) return 0;
  const std::size_t size = (std::size_t{image[16]} << 8) | image[17];
  if (size < 512 || (size & (size - 1)) != 0) return 0;
  return size;
}

// Why a layout made at run time cannot be scanned with, or empty when it
// can.
std::string LayoutProblem(const Layout& layout) {
  if (layout.columns < 1 || layout.columns > kMaxColumns) {
    return "its column count is not 1 to " + std::to_string(kMaxColumns);
  }
  if (layout.start != Start::kPrefixTest) {
    if (layout.window < 1) return "its trigger window is below 1";
    if (std::none_of(layout.trigger.begin(), layout.trigger.end(), [](bool trigger) { return trigger; })) {
      return "it has no trigger byte";
    }
  }
  if (layout.start != Start::kAnchorAtTrigger) {
    return layout.primaryKey == -1 ? std::string() : "a primary key is read by the anchored start only";
  }
  if (layout.anchor < 0 || layout.anchor >= layout.columns) return "its anchor is not one of its columns";
  if (layout.primaryKey < -1 || layout.primaryKey >= layout.columns) return "its primary key is not one of its columns";
  if (layout.primaryKey >= 0 && layout.rules[static_cast<std::size_t>(layout.primaryKey)] != SerialTypes({0})) {
    return "its primary key column allows more than NULL";
  }
  return {};
}

// The layout a scan uses: the numbered one, or madeLayout when it is given
// (a layout made at run time, which turns off the numbered layouts' special
// rules: layoutNumber and expectedColumns become -1). Nothing, with status
// set, when it cannot be used.
const Layout* ScanLayout(int& layoutNumber, const Layout* madeLayout, int& expectedColumns, const std::string& path,
                         base::Status& status) {
  if (madeLayout == nullptr) {
    const Layout* layout = FindLayout(layoutNumber);
    if (layout == nullptr) status = base::Status::Unreadable(path, "no table layout " + std::to_string(layoutNumber));
    return layout;
  }
  const std::string problem = LayoutProblem(*madeLayout);
  if (!problem.empty()) {
    status = base::Status::Unreadable(path, "the table layout cannot be used: " + problem);
    return nullptr;
  }
  layoutNumber = -1;
  expectedColumns = -1;
  return madeLayout;
}

// Scans a file image with the numbered layout, or with madeLayout when it is
// given (a layout made at run time).
base::Status ScanImage(std::span<const std::uint8_t> image, std::size_t fileSize, int layoutNumber,
                       const Layout* madeLayout, int expectedColumns, const UndarkPlacedRowSink& sink,
                       const std::string& path) {
  base::Status status;
  const Layout* layout = ScanLayout(layoutNumber, madeLayout, expectedColumns, path, status);
  if (layout == nullptr) return status;
  const std::size_t pageSize = PageSizeOf(image, fileSize);
  // An empty file is an empty database; any other file without a usable page
  // size cannot be cut into pages, so nothing in it can be told apart.
  if (pageSize == 0 && fileSize == 0) return {};
  // 65536, written as 1, is a valid page size that the scan passes over.
  if (pageSize == 0 && fileSize >= 18 && image[16] == 0 && image[17] == 1) return {};
  if (pageSize == 0) {
    return base::Status::Corrupt(path, "no usable page size in its header: not a SQLite database, or its first page is damaged");
  }
  // The column table is large; keep it off the caller's stack.
  auto scanner = std::make_unique<Scanner>(image, fileSize, pageSize, layoutNumber, *layout, expectedColumns, sink);
  scanner->Run();
  return {};
}

// The write-ahead log: a 32-byte header, then frames of a 24-byte header
// (the page number first, big-endian) and one page. See
// docs/formats/sqlite_wal.md.
constexpr std::size_t kWalHeaderBytes = 32;
constexpr std::size_t kWalFrameHeaderBytes = 24;
constexpr std::uint32_t kWalMagic = 0x377f0682;  // the low bit tells the checksums' byte order
// Frames are scanned this many at a time, copied page after page into one
// image, so a large log is not held twice.
constexpr std::size_t kWalFramesPerImage = 256;
constexpr std::size_t kDefaultPageSize = 4096;

std::uint32_t BigEndian32(const std::uint8_t* bytes) {
  return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) | (std::uint32_t{bytes[2]} << 8) | bytes[3];
}

bool IsPageSize(std::size_t size) { return size >= 512 && size <= 65536 && (size & (size - 1)) == 0; }

// The page size the log's frames are cut by: its header's when the header
// reads as one and agrees with the database's; else the database's; else
// SQLite's default. The log is never trusted for more than that.
std::size_t WalPageSize(std::span<const std::uint8_t> wal, std::size_t databasePageSize) {
  if (wal.size() >= kWalHeaderBytes && (BigEndian32(wal.data()) & ~1u) == kWalMagic) {
    const std::size_t size = BigEndian32(wal.data() + 8);
    if (IsPageSize(size) && (databasePageSize == 0 || size == databasePageSize)) return size;
  }
  return IsPageSize(databasePageSize) ? databasePageSize : kDefaultPageSize;
}

// Scans every frame of a log, in log order, whatever its salts and
// checksums say: frames after the last commit, and frames of earlier
// generations of the log past the current one, hold rows too. Each image
// holds a page of zeros first (the scan passes a file's first 100 bytes
// over) and then the frames' pages; the sink learns each row's page as the
// frame names it.
base::Status ScanWalImage(std::span<const std::uint8_t> wal, std::size_t databasePageSize, int layoutNumber,
                          const Layout* madeLayout, int expectedColumns, const UndarkPlacedRowSink& sink,
                          const std::string& path) {
  base::Status status;
  const Layout* layout = ScanLayout(layoutNumber, madeLayout, expectedColumns, path, status);
  if (layout == nullptr) return status;
  if (wal.size() <= kWalHeaderBytes) return {};
  const std::size_t pageSize = WalPageSize(wal, databasePageSize);
  const std::size_t frameBytes = kWalFrameHeaderBytes + pageSize;
  const std::size_t frames = (wal.size() - kWalHeaderBytes) / frameBytes;
  std::vector<std::uint8_t> image;
  std::vector<std::uint32_t> pageNumbers;
  const UndarkPlacedRowSink framed = [&](UndarkRow& row, std::uint32_t imagePage) {
    // Image page 1 is the page of zeros; a row starting there (it cannot)
    // or past the frames has no page.
    const std::size_t frame = imagePage >= 2 ? imagePage - 2 : pageNumbers.size();
    sink(row, frame < pageNumbers.size() ? pageNumbers[frame] : 0);
  };
  for (std::size_t first = 0; first < frames; first += kWalFramesPerImage) {
    const std::size_t count = std::min(kWalFramesPerImage, frames - first);
    image.assign((count + 1) * pageSize + 1, 0);
    pageNumbers.clear();
    for (std::size_t i = 0; i < count; ++i) {
      const std::uint8_t* frame = wal.data() + kWalHeaderBytes + (first + i) * frameBytes;
      pageNumbers.push_back(BigEndian32(frame));
      std::memcpy(image.data() + (i + 1) * pageSize, frame + kWalFrameHeaderBytes, pageSize);
    }
    auto scanner = std::make_unique<Scanner>(std::span<const std::uint8_t>(image), image.size() - 1, pageSize,
                                             layoutNumber, *layout, expectedColumns, framed);
    scanner->Run();
  }
  return {};
}

// What a file mapping's failure means to a scan of path.
base::Status MappingStatus(platform::MappedFile::Error error, const std::string& path) {
  switch (error) {
    case platform::MappedFile::Error::kCannotAccess:
      return base::Status::NotFound(path, "no such file, or its size cannot be read");
    case platform::MappedFile::Error::kCannotOpen: return base::Status::Unreadable(path, "cannot be opened for reading");
    case platform::MappedFile::Error::kNoMemory:
      return base::Status::Unreadable(path, "not enough memory to map the file");
    case platform::MappedFile::Error::kNone: break;
  }
  return {};
}

// Scans the file at path, mapped, with layout.
base::Status ScanFile(const std::string& path, int layoutNumber, const Layout* madeLayout, int expectedColumns,
                      const UndarkPlacedRowSink& sink) {
  platform::MappedFile::Error error = platform::MappedFile::Error::kNone;
  const platform::MappedFile file = platform::MappedFile::Open(path, error);
  if (base::Status status = MappingStatus(error, path); !status.Ok()) return status;
  return ScanImage(file.BytesWithTrailingZero(), file.FileSize(), layoutNumber, madeLayout, expectedColumns, sink,
                   path);
}

// Scans the log at walPath, mapped, with layout; its database's page size
// is read from databasePath's header (0 when it cannot be).
base::Status ScanWalFile(const std::string& databasePath, const std::string& walPath, int layoutNumber,
                         const Layout* madeLayout, int expectedColumns, const UndarkPlacedRowSink& sink) {
  platform::MappedFile::Error error = platform::MappedFile::Error::kNone;
  const platform::MappedFile file = platform::MappedFile::Open(walPath, error);
  if (base::Status status = MappingStatus(error, walPath); !status.Ok()) return status;
  std::size_t databasePageSize = 0;
  if (const auto header = platform::ReadFileStart(databasePath, kFileHeaderBytes)) {
    databasePageSize = PageSizeOf(*header, header->size());
    if (header->size() >= 18 && (*header)[16] == 0 && (*header)[17] == 1) databasePageSize = 65536;
  }
  return ScanWalImage(file.BytesWithTrailingZero().first(file.FileSize()), databasePageSize, layoutNumber, madeLayout, expectedColumns, sink, walPath);
}

// Scans a copy of fileBytes with one zero byte after it, as a mapped file
// gives.
base::Status ScanCopy(std::span<const std::uint8_t> fileBytes, int layoutNumber, const Layout* madeLayout,
                      int expectedColumns, const UndarkPlacedRowSink& sink) {
  std::vector<std::uint8_t> image(fileBytes.size() + 1, 0);
  std::copy(fileBytes.begin(), fileBytes.end(), image.begin());
  return ScanImage(image, fileBytes.size(), layoutNumber, madeLayout, expectedColumns, sink, "");
}

UndarkPlacedRowSink Unplaced(const UndarkRowSink& sink) {
  return [&sink](UndarkRow& row, std::uint32_t) { sink(row); };
}

UndarkPlacedRowSink Appending(UndarkRowList& rows) {
  return [&rows](UndarkRow& row, std::uint32_t) { rows.push_back(std::move(row)); };
}

}  // namespace

int LayoutColumnCount(int layout) {
  const Layout* found = FindLayout(layout);
  return found != nullptr ? found->columns : 0;
}

base::Status UndarkScan(const std::string& path, int layout, int expectedColumns, const UndarkPlacedRowSink& sink) {
  return ScanFile(path, layout, nullptr, expectedColumns, sink);
}

base::Status UndarkScan(const std::string& path, int layout, int expectedColumns, const UndarkRowSink& sink) {
  return UndarkScan(path, layout, expectedColumns, Unplaced(sink));
}

base::Status UndarkScan(const std::string& path, int layout, int expectedColumns, UndarkRowList& rows) {
  return UndarkScan(path, layout, expectedColumns, Appending(rows));
}

base::Status UndarkScan(const std::string& path, const Layout& layout, const UndarkPlacedRowSink& sink) {
  return ScanFile(path, -1, &layout, -1, sink);
}

base::Status UndarkScanBytes(std::span<const std::uint8_t> fileBytes, int layout, int expectedColumns,
                             const UndarkPlacedRowSink& sink) {
  return ScanCopy(fileBytes, layout, nullptr, expectedColumns, sink);
}

base::Status UndarkScanBytes(std::span<const std::uint8_t> fileBytes, int layout, int expectedColumns,
                             const UndarkRowSink& sink) {
  return UndarkScanBytes(fileBytes, layout, expectedColumns, Unplaced(sink));
}

base::Status UndarkScanBytes(std::span<const std::uint8_t> fileBytes, int layout, int expectedColumns, UndarkRowList& rows) {
  return UndarkScanBytes(fileBytes, layout, expectedColumns, Appending(rows));
}

base::Status UndarkScanBytes(std::span<const std::uint8_t> fileBytes, const Layout& layout,
                             const UndarkPlacedRowSink& sink) {
  return ScanCopy(fileBytes, -1, &layout, -1, sink);
}

base::Status UndarkScanWal(const std::string& databasePath, const std::string& walPath, int layout,
                           int expectedColumns, const UndarkPlacedRowSink& sink) {
  return ScanWalFile(databasePath, walPath, layout, nullptr, expectedColumns, sink);
}

base::Status UndarkScanWal(const std::string& databasePath, const std::string& walPath, const Layout& layout,
                           const UndarkPlacedRowSink& sink) {
  return ScanWalFile(databasePath, walPath, -1, &layout, -1, sink);
}

base::Status UndarkScanWalBytes(std::span<const std::uint8_t> walBytes, std::size_t databasePageSize, int layout,
                                int expectedColumns, const UndarkPlacedRowSink& sink) {
  return ScanWalImage(walBytes, databasePageSize, layout, nullptr, expectedColumns, sink, "");
}

base::Status UndarkScanWalBytes(std::span<const std::uint8_t> walBytes, std::size_t databasePageSize,
                                const Layout& layout, const UndarkPlacedRowSink& sink) {
  return ScanWalImage(walBytes, databasePageSize, -1, &layout, -1, sink, "");
}

std::int64_t UndarkValueToInt64(const UndarkValue& value) {
  switch (value.type) {
    case 5:
    case 6: return value.number;
    case kTypeDouble:
      // Truncated toward zero; a double beyond the 64-bit range saturates
      // rather than being undefined.
      if (std::isnan(value.real)) return 0;
      if (value.real >= 9.2233720368547758e18) return INT64_MAX;
      if (value.real <= -9.2233720368547758e18) return INT64_MIN;
      return static_cast<std::int64_t>(value.real);
    default: return static_cast<std::int32_t>(static_cast<std::uint32_t>(value.number & 0xFFFFFFFF));
  }
}

std::string UndarkValueText(const UndarkValue& value) {
  const std::string_view text(value.text);
  return db::RepairUtf8(text.substr(0, text.find('\0')));
}

}  // namespace db::undark
