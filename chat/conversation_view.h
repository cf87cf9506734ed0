#pragma once
// A chat reader's conversation record as the chat site reads it: the
// sender, direction, time and deleted flag of each message are the same for
// every chat app; what a message shows (its text, markup and picture) is the
// reader's, given by describe(message, view).
//
// Threads: the recovery worker.

#include <cstddef>
#include <utility>

#include "db/items.h"
#include "export/chat_site.h"

namespace chat {

// Friend: the app's contact record (DisplayName(), userName, AvatarUrl(),
// owner, items); Record: its message record.
template <class Friend, class Record, class Describe>
class ConversationView final : public exporting::ChatConversation {
 public:
  // conversation must outlive the view.
  ConversationView(const Friend& conversation, Describe describe)
      : conversation_(conversation), describe_(std::move(describe)) {
    displayName = conversation.DisplayName();
    userName = conversation.userName;
    avatarUrl = conversation.AvatarUrl();
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
    if (const auto* sender = dynamic_cast<const Friend*>(item->sender)) {
      view.senderDisplayName = sender->DisplayName();
      view.senderUserName = sender->userName;
      view.senderAvatarUrl = sender->AvatarUrl();
      view.fromOwner = conversation_.owner != nullptr && sender == conversation_.owner;
      view.fromConversation = sender == &conversation_;
    }
    if (const auto* message = dynamic_cast<const Record*>(item)) describe_(*message, view);
    return view;
  }

 private:
  const Friend& conversation_;
  Describe describe_;
};

}  // namespace chat
