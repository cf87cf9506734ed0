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
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "readers/note_db.h"
#include "testing/sample_notes.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  const std::vector<std::uint8_t> inflated = readers::GunzipBytes(bytes);
  if (inflated.size() > readers::kMaxInflatedBytes) __builtin_trap();
  readers::ExtractNoteText(bytes);
  const std::vector<std::uint8_t> wrapped = sample::GzipBytes({data, data + size});
  readers::ExtractNoteText(wrapped);
  // The same bytes as the HTML body of an older note.
  readers::NoteHtmlToText(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
