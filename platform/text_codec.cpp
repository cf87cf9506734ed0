#include "platform/text_codec.h"

#include <iconv.h>

#include <cerrno>
#include <vector>

namespace platform {
namespace {

// Converts with iconv, replacing each byte that cannot be converted by
// `replacement` and going on, so that a damaged text loses one character,
// never the rest of the line.
std::string Convert(const char* to, const char* from, std::string_view input,
                    std::string_view replacement) {
  iconv_t cd = ::iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::string(input);
  std::string output;
  std::vector<char> buffer(4096);
  char* in = const_cast<char*>(input.data());
  size_t inLeft = input.size();
  while (inLeft > 0) {
    char* out = buffer.data();
    size_t outLeft = buffer.size();
    const size_t rc = ::iconv(cd, &in, &inLeft, &out, &outLeft);
    output.append(buffer.data(), buffer.size() - outLeft);
    if (rc == static_cast<size_t>(-1)) {
      if (errno == E2BIG) continue;
      // EILSEQ or EINVAL (a cut sequence at the end): skip one byte.
      output.append(replacement);
      ++in;
      --inLeft;
    }
  }
  char* out = buffer.data();
  size_t outLeft = buffer.size();
  ::iconv(cd, nullptr, nullptr, &out, &outLeft);
  output.append(buffer.data(), buffer.size() - outLeft);
  ::iconv_close(cd);
  return output;
}

}  // namespace

std::string Utf8ToGb18030(std::string_view utf8) { return Convert("GB18030", "UTF-8", utf8, "?"); }

std::string Gb18030ToUtf8(std::string_view gb) {
  return Convert("UTF-8", "GB18030", gb, "\xEF\xBF\xBD");
}

}  // namespace platform
