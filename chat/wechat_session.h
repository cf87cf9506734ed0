#pragma once
// The session summary files of a WeChat account (<md5>/session/data/...):
// one small file per conversation that keeps its last message, read by a
// tolerant walk over its protocol-buffer-like fields. The format is laid out
// in docs/formats/wechat_session.md.
//
// Every file comes from a backup and is untrusted: nothing is read outside
// the bytes given, the walk always ends, and a damaged file yields fewer
// records, never a failure.
//
// The account-level steps that find these files, read them and tie them to
// conversations (RegisterSessionFile, ReadSessionFiles) are declared with
// the messages in wechat_messages.h and live beside the parser.
//
// Threads: ParseSessionRecords is stateless; any thread may call it.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace chat {

// Tags of the records the walk hands back besides the file's own tags: the
// 16 raw bytes after the marker block's 08 00 10, and the text after them.
inline constexpr std::uint8_t kSessionMarkerBytesTag = 0xFF;
inline constexpr std::uint8_t kSessionMarkerTextTag = 0xF0;
// Tags of the file this system reads (record 0 is the conversation's user
// name whatever its tag).
inline constexpr std::uint8_t kSessionDisplayNameTag = 0x22;
inline constexpr std::uint8_t kSessionSenderTag = 0x52;
inline constexpr std::uint8_t kSessionTextTag = 0x5A;

// One field of a session file: its tag byte and its text (UTF-8 cut at the
// first zero byte, damaged sequences repaired; the 0xFF record holds its 16
// bytes as stored).
struct SessionRecord {
  std::uint8_t tag;
  std::string text;
};

// The fields of a session file in stored order. Stops at the first field
// that would end beyond the data (after one retry from the marker block when
// the file has one) and at a marker block that runs past the end; the
// records before stay.
std::vector<SessionRecord> ParseSessionRecords(std::span<const std::uint8_t> data);

}  // namespace chat
