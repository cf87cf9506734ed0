// libFuzzer target for the deleted-row scanner: the input is a whole
// database file image, scanned for every assigned layout with its own column
// count, and for the message layout with the iOS 14 table's 74 columns as the
// messages reader asks. Any status is an expected outcome; a crash, a
// sanitizer report, a hang or runaway memory is a finding.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "db/undark/undark.h"

namespace {

constexpr std::array kLayouts = {0, 1, 2, 3, 4, 5, 7, 8, 9, 10, 12, 13, 14, 15, 16, 17, 18, 19, 21, 22};
constexpr int kMessageLayout = 8;
constexpr int kIos14MessageColumns = 74;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  for (const int layout : kLayouts) {
    db::undark::UndarkRowList rows;
    db::undark::UndarkScanBytes(bytes, layout, 0, rows);
  }
  db::undark::UndarkRowList rows;
  db::undark::UndarkScanBytes(bytes, kMessageLayout, kIos14MessageColumns, rows);
  return 0;
}
