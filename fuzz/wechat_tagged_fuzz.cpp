// Fuzz target of the WeChat contact blob decoders: the tagged-field decoder
// (remarks, chat-room data) and the profile decoder read only inside the
// bytes they are given, whatever those bytes are.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "chat/wechat_contacts.h"
#include "chat/wechat_tagged.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  for (const chat::TaggedField& field : chat::DecodeTagged(bytes)) {
    // The chat-room member list is the XML inside a field.
    if (field.tag == 0x32) chat::ParseRoomMembers(field.text, nullptr);
  }
  chat::DecodeProfile(bytes);
  chat::AvatarUrlOf(std::string(bytes.begin(), bytes.end()));
  return 0;
}
