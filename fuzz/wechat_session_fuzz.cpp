// Session summary files and article texts come from a backup: the walk over
// a session file must end and stay inside the bytes whatever they hold, and
// the article renderer must cope with any text (the same bytes serve as one).
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "chat/wechat_messages.h"
#include "chat/wechat_session.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  const auto records = chat::ParseSessionRecords(bytes);
  // Each record uses up at least one byte of its own: more records than
  // bytes means the walk went back over the data.
  if (records.size() > size) __builtin_trap();
  const std::string text(bytes.begin(), bytes.end());
  const std::string html = chat::RenderAppMessage(text);
  // A text that is no article comes back escaped, never lost.
  if (!text.empty() && html.empty() && text.find('<') == std::string::npos) __builtin_trap();
  return 0;
}
