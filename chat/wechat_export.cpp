#include "chat/wechat_export.h"

#include <string>
#include <utility>

#include "backup/file_list_db.h"
#include "base/categories.h"
#include "chat/conversation_view.h"
#include "chat/wechat_account.h"
#include "chat/wechat_contacts.h"
#include "chat/wechat_messages.h"

namespace chat {

std::unique_ptr<exporting::ChatConversation> WxConversationView(const DBITEM_WxFriend& conversation) {
  auto describe = [](const DBITEM_WxChat& message, exporting::ChatMessageView& view) {
    view.picture = message.msgType == kWxMsgPicture || message.msgType == kWxMsgVideo || message.msgType == kWxMsgEmoji;
    view.mediaPath = message.mediaPath;
    view.text = message.ShownText();
    view.contentHtml = RenderAppMessage(view.text);
  };
  auto view = std::make_unique<ConversationView<DBITEM_WxFriend, DBITEM_WxChat, decltype(describe)>>(conversation,
                                                                                                     describe);
  view->chatRoom = conversation.kind == kWxKindChatRoom;
  view->deleted = conversation.deleted != 0;
  return view;
}

base::Status ExportChatCategory(exporting::CExportWriter& writer, CWxLocalUser& account,
                       const std::vector<db::BaseItem*>& selection) {
  if (writer.Category() == base::kCategoryWeChatContacts) {
    WriteWxContactsCsv(writer, selection);
    return writer.Finish();
  }
  std::vector<std::unique_ptr<exporting::ChatConversation>> conversations;
  for (const db::BaseItem* item : selection) {
    if (const auto* conversation = dynamic_cast<const DBITEM_WxFriend*>(item)) {
      conversations.push_back(WxConversationView(*conversation));
    }
  }
  exporting::ChatAccountView view;
  view.displayName = account.DisplayName();
  if (account.fileIndex != nullptr) view.mediaRoot = account.fileIndex->StoredFilesRoot();
  const int selected = static_cast<int>(conversations.size());
  return exporting::ExportConversations(writer, kWxChatsCsvHeader, std::move(view), selected, std::move(conversations));
}

}  // namespace chat
