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
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"

namespace exporting {

class CExportWriter;

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
  // The program's own pictures a reader may show instead of a message's
  // (a placeholder for a picture it cannot find): copied from inside this
  // folder too. Empty: none.
  std::filesystem::path programMediaRoot;
};

// The export step of a chat category on a writer whose category (0 or 2)
// was begun: BeginList with selectedCount, the header, the account, every
// conversation that holds a message (in order; the others get no page),
// then Finish, whose status it returns.
base::Status ExportConversations(CExportWriter& writer, std::string_view header, ChatAccountView account,
                                 int selectedCount, std::vector<std::unique_ptr<ChatConversation>> conversations);

// The pieces of the chat site. Texts from the phone are escaped where these
// put them into markup; contentHtml is used as the reader made it.

// A placeholder and the text that replaces it.
struct TemplateValue {
  std::string_view placeholder;  // "$Title"
  std::string_view value;
};

// The template with every placeholder replaced, in one pass over the
// template: an inserted value is never searched again, so a name holding
// "$Title" stays text whatever the order of the values. Where two
// placeholders start alike, the longer one is matched.
std::string FillTemplate(std::string_view text, std::initializer_list<TemplateValue> values);

// Whether a text begins with "http" in any case: an address used as it is.
bool BeginsWithHttp(std::string_view text);

// A file or folder name as a piece of a relative address in a page: the
// bytes that would end or redirect the address (%, #, ?, quotes, blanks,
// control characters, < > & ' \ and the like, and the colon, which would
// make the piece a scheme) percent-encoded; other UTF-8 bytes stay. The
// result needs no further escaping in an attribute.
std::string UrlPathPart(std::string_view name);

// The frame page (全部<display name>.html) with $AppName filled; $UserName
// stays for the first conversation.
std::string FramePage(std::string_view appName);
// The navigation page with $AppType filled; $ListContent stays for the rows.
std::string NavigationPage(std::string_view appWord);

// A conversation's row of the navigation list; name and title are its
// folder name and page title (without ".html").
std::string NavigationRow(const ChatConversation& conversation, const std::string& name, const std::string& title);

// A message of a chat page. imagePath is the picture's address as the page
// uses it (an "http" address or "<app word>附件/<file>", already encoded);
// ignored for a text message.
std::string MessageFragment(const ChatMessageView& message, const std::string& imagePath);

// A whole chat page around the fragments.
std::string ChatPage(const std::string& title, const std::string& messageList);

// The conversation's header line of its own CSV file, by category.
std::string_view ConversationCsvHeader(int category);

// A message's CSV line (ending in "\r\n"): for WeChat (2) "conversation,
// sender/user name,time,direction,text" with every line break removed; for
// QQ (0) the same, or without "/user name" when the sender's display name is
// its user name, line breaks inside the text kept. Names that hold a comma,
// quote or line break and the text pass db::CsvQuoteField, so the field
// markers are in the line.
std::string ChatCsvLine(int category, const ChatConversation& conversation, const ChatMessageView& message);

// Unpacks the site's assets (a 7z archive) into folder. Only regular files
// and folders are taken, by names that stay inside folder (no "..", no
// absolute names, no links) and within size limits; nothing is written
// through a link found in folder. Returns whether the archive could be read
// to its end and every file of it was written; false for a missing archive.
bool UnpackSiteAssets(const std::filesystem::path& archive, const std::filesystem::path& folder);

// Copies a picture of a message into folder (the conversation's attachment
// folder) and returns its file name there, or "" when nothing is there to
// show: an empty path, a path that is not a regular file inside mediaRoot
// (checked after resolving links, so a link cannot lead out), or a name that
// sanitises to nothing. A relative path counts from mediaRoot. A file of the
// same name already in folder is kept and used.
std::string CopyChatPicture(const std::string& mediaPath, const std::filesystem::path& mediaRoot,
                            const std::filesystem::path& folder);

}  // namespace exporting
