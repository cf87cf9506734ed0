// libFuzzer target for the note text of NoteStore.sqlite: the input is a
// ZDATA blob, inflated and searched for the note's text as the notes reader
// does it. A blob that is no gzip, holds no text or breaks off is an
// expected outcome; a crash, a sanitizer report, a hang or memory beyond the
// inflate bound is a finding.
//
// The input goes through twice: as given, and wrapped into a gzip stream so
// that the text search sees fuzzed bytes even where the fuzzer has not
// learned the gzip format; and as the HTML body of a note of the older
// notes app.
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "readers/note_db.h"

namespace {

std::vector<std::uint8_t> Gzip(std::span<const std::uint8_t> bytes) {
  z_stream stream{};
  if (deflateInit2(&stream, Z_BEST_SPEED, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) return {};
  std::vector<std::uint8_t> out(deflateBound(&stream, static_cast<uLong>(bytes.size())) + 32);
  stream.next_in = const_cast<Bytef*>(bytes.data());
  stream.avail_in = static_cast<uInt>(bytes.size());
  stream.next_out = out.data();
  stream.avail_out = static_cast<uInt>(out.size());
  const int result = deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return result == Z_STREAM_END ? out : std::vector<std::uint8_t>{};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  const std::vector<std::uint8_t> inflated = readers::GunzipBytes(bytes);
  if (inflated.size() > readers::kMaxInflatedBytes) __builtin_trap();
  readers::ExtractNoteText(bytes);
  const std::vector<std::uint8_t> wrapped = Gzip(bytes);
  readers::ExtractNoteText(wrapped);
  // The same bytes as the HTML body of an older note.
  readers::NoteHtmlToText(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
