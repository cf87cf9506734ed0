// libFuzzer target for the message body archives of sms.db (attributedBody):
// the input is read as an archive, the text of the attributed string taken
// as the messages reader takes it. An archive that is damaged, foreign or cut
// off, giving an empty text, is an expected outcome; a crash, a sanitizer
// report, a hang, text that is not valid UTF-8 or longer than the input
// allows is a finding.
//
// The input goes through three times: as given; after a real header and an
// attributed string's opening up to its string object, so that the fuzzed
// bytes reach the string's classes, type and length without the fuzzer first
// learning the header; and as the text of an archive from the sample writer,
// which must come back as written (repaired where it is no valid UTF-8).
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "db/text.h"
#include "db/typedstream.h"
#include "testing/typedstream_writer.h"

namespace {

using namespace std::string_view_literals;

void CheckText(const std::string& text, std::size_t inputSize) {
  // A repaired invalid byte widens to three; nothing else adds bytes.
  if (text.size() > 3 * inputSize) __builtin_trap();
  if (db::RepairUtf8(text) != text) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  CheckText(db::AttributedBodyText(bytes), size);

  static constexpr std::string_view kOpening =
      "\x04\x0bstreamtyped\x81\xe8\x03\x84\x01@\x84\x84\x84\x12NSAttributedString\x00"
      "\x84\x84\x08NSObject\x00\x85\x92\x84"sv;
  std::vector<std::uint8_t> opened(kOpening.begin(), kOpening.end());
  opened.insert(opened.end(), bytes.begin(), bytes.end());
  CheckText(db::AttributedBodyText(opened), opened.size());

  const std::string text(bytes.begin(), bytes.end());
  if (db::AttributedBodyText(sample::ArchivedAttributedString(text)) != db::RepairUtf8(text)) __builtin_trap();
  return 0;
}
