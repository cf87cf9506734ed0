#include "chat/qq_export.h"

#include <string>
#include <utility>

#include "backup/file_list_db.h"
#include "chat/conversation_view.h"
#include "chat/qq_account.h"
#include "chat/qq_messages.h"
#include "platform/paths.h"

namespace chat {

std::unique_ptr<exporting::ChatConversation> QqConversationView(const DBITEM_QqFriend& conversation) {
  auto describe = [](const DBITEM_QqChat& message, exporting::ChatMessageView& view) {
    view.picture = message.msgType == kQqMsgPicture;
    view.mediaPath = message.mediaPath;
    view.text = message.content;
    view.contentHtml = RenderQqMessage(message.content);
  };
  // A QQ group is not shown as a chat room: its record carries no class that
  // says so.
  auto view = std::make_unique<ConversationView<DBITEM_QqFriend, DBITEM_QqChat, decltype(describe)>>(conversation,
                                                                                                     describe);
  view->deleted = conversation.deletedConversation != 0 || conversation.deleted != 0;
  return view;
}

base::Status ExportQqChats(exporting::CExportWriter& writer, CQqLocalUser& account, const std::vector<db::BaseItem*>& selection) {
  std::vector<std::unique_ptr<exporting::ChatConversation>> conversations;
  for (const db::BaseItem* item : selection) {
    if (const auto* conversation = dynamic_cast<const DBITEM_QqFriend*>(item)) {
      conversations.push_back(QqConversationView(*conversation));
    }
  }
  exporting::ChatAccountView view;
  view.displayName = account.DisplayName();
  if (account.fileIndex != nullptr) view.mediaRoot = account.fileIndex->StoredFilesRoot();
  view.programMediaRoot = platform::SkinFolder();
  const int selected = static_cast<int>(conversations.size());
  return exporting::ExportConversations(writer, kQqChatsCsvHeader, std::move(view), selected, std::move(conversations));
}

}  // namespace chat
