#include "chat/wechat_export.h"

#include <string>
#include <utility>

#include "backup/file_list_db.h"
#include "chat/wechat_account.h"
#include "chat/wechat_contacts.h"
#include "chat/wechat_messages.h"

namespace chat {
namespace {

// The chat site reads a WeChat conversation through this view; the records
// stay where the analysis put them.
class WxConversation : public exporting::ChatConversation {
 public:
  explicit WxConversation(const DBITEM_WxFriend& conversation) : conversation_(conversation) {
    displayName = conversation.DisplayName();
    userName = conversation.userName;
    avatarUrl = conversation.AvatarUrl();
    chatRoom = conversation.kind == kWxKindChatRoom;
    deleted = conversation.deleted != 0;
    deletedCount = conversation.deletedCount;
  }

  std::size_t MessageCount() const override { return conversation_.items.size(); }

  exporting::ChatMessageView Message(std::size_t index) const override {
    exporting::ChatMessageView view;
    const db::BaseItem* item = conversation_.items.at(index);
    view.time = item->time;
    view.deleted = item->deleted != 0;
    // Every message names its sender; a record of another type would be a
    // fault of the reader, shown as an unnamed message rather than lost.
    if (const auto* sender = dynamic_cast<const DBITEM_WxFriend*>(item->sender)) {
      view.senderDisplayName = sender->DisplayName();
      view.senderUserName = sender->userName;
      view.senderAvatarUrl = sender->AvatarUrl();
      view.fromOwner = conversation_.owner != nullptr && sender == conversation_.owner;
      view.fromConversation = sender == &conversation_;
    }
    if (const auto* message = dynamic_cast<const DBITEM_WxChat*>(item)) {
      view.picture = message->msgType == kWxMsgPicture || message->msgType == kWxMsgVideo ||
                     message->msgType == kWxMsgEmoji;
      view.mediaPath = message->mediaPath;
      view.text = message->ShownText();
      view.contentHtml = RenderAppMessage(view.text);
    }
    return view;
  }

 private:
  const DBITEM_WxFriend& conversation_;
};

}  // namespace

std::unique_ptr<exporting::ChatConversation> WxConversationView(const DBITEM_WxFriend& conversation) {
  return std::make_unique<WxConversation>(conversation);
}

int ExportChatCategory(exporting::CExportWriter& writer, CWxLocalUser& account,
                       const std::vector<db::BaseItem*>& selection) {
  if (writer.Category() == kCategoryWxContacts) {
    WriteWxContactsCsv(writer, selection);
    return writer.Finish();
  }
  std::vector<const DBITEM_WxFriend*> conversations;
  for (const db::BaseItem* item : selection) {
    if (const auto* conversation = dynamic_cast<const DBITEM_WxFriend*>(item)) conversations.push_back(conversation);
  }
  writer.BeginList(static_cast<int>(conversations.size()));
  writer.SetHeader(kWxChatsCsvHeader);
  exporting::ChatAccountView view;
  view.displayName = account.DisplayName();
  if (account.fileIndex != nullptr) view.mediaRoot = account.fileIndex->BackupFolder();
  writer.SetAccount(view);
  for (const DBITEM_WxFriend* conversation : conversations) {
    if (!conversation->items.empty()) writer.AddConversation(WxConversationView(*conversation));
  }
  return writer.Finish();
}

}  // namespace chat
