#pragma once
// What the export writer needs of a chat conversation to write the chat site
// (a frame page, a navigation list of conversations, one chat page per
// conversation with its copied pictures) and the conversation's CSV lines.
// The chat readers adapt their own records to these views, so the writer
// knows nothing of WeChat or QQ tables.
//
// Threads: made and read on the recovery worker.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace exporting {

// One message as the chat page and the CSV show it. Texts are UTF-8.
struct ChatMessageView {
  double time = 0;                 // Unix seconds
  std::string senderDisplayName;
  std::string senderUserName;
  std::string senderAvatarUrl;     // "" : the page shows the default icon
  bool fromOwner = false;          // sent by the local account: a "me" bubble on the right
  bool fromConversation = false;   // the sender is the conversation itself: "已接收" in the CSV, else "已发送"
  bool deleted = false;
  bool picture = false;            // shown with the picture template
  // A picture's image: an "http" address used as it is, or the stored file in
  // the backup, which the writer copies next to the page. "" : none.
  std::string mediaPath;
  // The message as page markup for the text template: the reader's own
  // rendering, with every text from the phone already escaped.
  std::string contentHtml;
  // The message as the CSV shows it (plain text).
  std::string text;
};

// One conversation of the chat site. The writer owns it until Finish.
class ChatConversation {
 public:
  virtual ~ChatConversation() = default;

  virtual std::size_t MessageCount() const = 0;
  // Message index (0 <= index < MessageCount()), in conversation order.
  virtual ChatMessageView Message(std::size_t index) const = 0;

  std::string displayName;      // may be empty: userName names the pages then
  std::string userName;
  std::string avatarUrl;        // "" : the default icon of a room or a contact
  bool chatRoom = false;
  bool deleted = false;         // known only from deleted data
  std::int32_t deletedCount = 0;  // its deleted messages
};

// The local account whose conversations a chat export writes.
struct ChatAccountView {
  std::string displayName;  // "" : "本地未知用户" names the site's folder
  // Stored media files are copied only from inside this folder (the backup's
  // folder); a path outside it is not copied. Empty: nothing is copied.
  std::filesystem::path mediaRoot;
};

}  // namespace exporting
