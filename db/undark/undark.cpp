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
  Scanner(std::span<const std::uint8_t> image, std::size_t fileSize, std::size_t pageSize, int layoutNumber,
          const Layout& layout, int expectedColumns, const UndarkRowSink& sink)
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
    if (layout_.start == Start::kPrefixTest) return TryPrefix(s, next);
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
    // The body must lie inside the file image (and its trailing zero byte).
    if (h > image_.size() || bodyOffset > image_.size() - h) return false;
    ProduceRow(h, last, column1Position);
    resume = h;
    for (int i = 0; i <= last; ++i) {
      if (columns_[static_cast<std::size_t>(i)].type != kTypeText) resume += columns_[static_cast<std::size_t>(i)].size;
    }
    return true;
  }

  std::int64_t RowIdBefore(std::size_t column1Position) const {
    if (!layout_.rowId || column1Position == 0) return 0;
    // Column 0's serial type is the one byte before column 1; before it end
    // the header size and, before that, the cell's row id.
    const auto headerSize = VarintEndingAt(column1Position - 1);
    const auto rowId = headerSize ? VarintEndingAt(headerSize->start) : std::nullopt;
    return rowId ? static_cast<std::int64_t>(rowId->value) : 0;
  }

  void ProduceRow(std::size_t bodyStart, int last, std::size_t column1Position) {
    row_.resize(static_cast<std::size_t>(last + 1));
    std::size_t count = 0;
    for (int i = 0; i <= last; ++i) {
      const Column& column = columns_[static_cast<std::size_t>(i)];
      UndarkValue& value = row_[count];
      if (i == 0 && column.type == kTypeNull) {
        value.type = kTypeRowId;
        value.text = std::to_string(static_cast<std::int32_t>(RowIdBefore(column1Position)));
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
    sink_(row_);
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
  const UndarkRowSink& sink_;
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

base::Status ScanImage(std::span<const std::uint8_t> image, std::size_t fileSize, int layoutNumber,
                       int expectedColumns, const UndarkRowSink& sink, const std::string& path) {
  const Layout* layout = FindLayout(layoutNumber);
  if (layout == nullptr) return base::Status::Unreadable(path, "no table layout " + std::to_string(layoutNumber));
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

}  // namespace

int LayoutColumnCount(int layout) {
  const Layout* found = FindLayout(layout);
  return found != nullptr ? found->columns : 0;
}

base::Status UndarkScan(const std::string& path, int layout, int expectedColumns, const UndarkRowSink& sink) {
  platform::MappedFile::Error error = platform::MappedFile::Error::kNone;
  const platform::MappedFile file = platform::MappedFile::Open(path, error);
  switch (error) {
    case platform::MappedFile::Error::kCannotAccess:
      return base::Status::NotFound(path, "no such file, or its size cannot be read");
    case platform::MappedFile::Error::kCannotOpen: return base::Status::Unreadable(path, "cannot be opened for reading");
    case platform::MappedFile::Error::kNoMemory:
      return base::Status::Unreadable(path, "not enough memory to map the file");
    case platform::MappedFile::Error::kNone: break;
  }
  return ScanImage(file.BytesWithTrailingZero(), file.FileSize(), layout, expectedColumns, sink, path);
}

base::Status UndarkScan(const std::string& path, int layout, int expectedColumns, UndarkRowList& rows) {
  return UndarkScan(path, layout, expectedColumns, [&rows](UndarkRow& row) { rows.push_back(std::move(row)); });
}

base::Status UndarkScanBytes(std::span<const std::uint8_t> fileBytes, int layout, int expectedColumns,
                             const UndarkRowSink& sink) {
  std::vector<std::uint8_t> image(fileBytes.size() + 1, 0);
  std::copy(fileBytes.begin(), fileBytes.end(), image.begin());
  return ScanImage(image, fileBytes.size(), layout, expectedColumns, sink, "");
}

base::Status UndarkScanBytes(std::span<const std::uint8_t> fileBytes, int layout, int expectedColumns, UndarkRowList& rows) {
  return UndarkScanBytes(fileBytes, layout, expectedColumns, [&rows](UndarkRow& row) { rows.push_back(std::move(row)); });
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
