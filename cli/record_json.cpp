#include "cli/record_json.h"

#include "chat/qq_account.h"
#include "chat/qq_messages.h"
#include "chat/wechat_account.h"
#include "chat/wechat_contacts.h"
#include "chat/wechat_messages.h"
#include "chat/whatsapp_db.h"
#include "readers/address_book_db.h"
#include "readers/attachment_db.h"
#include "readers/calendar_db.h"
#include "readers/call_history_db.h"
#include "readers/message_db.h"
#include "readers/note_db.h"
#include "readers/photo_db.h"
#include "readers/safari_db.h"
#include "readers/voice_memo_db.h"

namespace cli {
namespace {

// A record time (Unix seconds) as a number; null for no time.
nlohmann::ordered_json TimeJson(double time) {
  if (time == 0) return nullptr;
  return time;
}

// The fields of each record type, under the names the code uses.
void AddOwnFields(const db::BaseItem& record, nlohmann::ordered_json& out) {
  if (const auto* contact = dynamic_cast<const readers::DBITEM_AdrBFriend*>(&record)) {
    out["rowId"] = contact->rowId;
    out["displayName"] = contact->displayName;
    out["firstName"] = contact->firstName;
    out["lastName"] = contact->lastName;
    out["mobile"] = contact->mobile;
    out["phones"] = contact->phones;
    out["email"] = contact->email;
    out["homePage"] = contact->homePage;
    out["noteText"] = contact->noteText;
  } else if (const auto* message = dynamic_cast<const readers::DBITEM_Message*>(&record)) {
    out["rowId"] = message->rowId;
    out["guid"] = message->guid;
    out["address"] = message->address;
    out["text"] = message->text;
    out["isSent"] = message->isSent;
    out["account"] = message->account;
  } else if (const auto* conversation = dynamic_cast<const readers::DBITEM_MsgFriend*>(&record)) {
    out["name"] = conversation->name;
    out["address"] = conversation->address;
    out["deletedMessageCount"] = conversation->deletedMessageCount;
  } else if (const auto* call = dynamic_cast<const readers::DBITEM_CallHistory*>(&record)) {
    out["name"] = call->name;
    out["address"] = call->address;
    out["duration"] = call->duration;
    out["outgoing"] = call->Outgoing();
    out["location"] = call->location;
    out["serviceProvider"] = call->serviceProvider;
  } else if (const auto* page = dynamic_cast<const readers::DBITEM_Safari*>(&record)) {
    out["isBookmark"] = page->isBookmark != 0;
    out["pageTitle"] = page->pageTitle;
    out["pageUrl"] = page->pageUrl;
  } else if (const auto* note = dynamic_cast<const readers::DBITEM_Note*>(&record)) {
    out["noteId"] = note->noteId;
    out["titleText"] = note->titleText;
    out["snippet"] = note->snippet;
    out["body"] = note->body;
    out["attachments"] = note->attachments;
  } else if (const auto* item = dynamic_cast<const readers::DBITEM_CalendarFriend*>(&record)) {
    out["rowId"] = item->rowId;
    out["entityType"] = item->entityType;
    out["summary"] = item->summary;
    out["endDate"] = TimeJson(item->endDate);
    out["completionDate"] = TimeJson(item->completionDate);
    out["locationTitle"] = item->locationTitle;
    out["priority"] = item->priority;
    out["description"] = item->description;
  } else if (const auto* memo = dynamic_cast<const readers::DBITEM_NoteVoice*>(&record)) {
    out["label"] = memo->label;
    out["duration"] = memo->duration;
    out["audioPath"] = memo->audioPath;
    out["audioSize"] = memo->audioSize;
  } else if (const auto* chatMessage = dynamic_cast<const chat::DBITEM_WhatsApp*>(&record)) {
    out["rowId"] = chatMessage->rowId;
    out["isFromMe"] = chatMessage->isFromMe;
    out["fromJid"] = chatMessage->fromJid;
    out["pushName"] = chatMessage->pushName;
    out["toJid"] = chatMessage->toJid;
    out["text"] = chatMessage->text;
  } else if (const auto* qqMessage = dynamic_cast<const chat::DBITEM_QqChat*>(&record)) {
    const auto* sender = dynamic_cast<const chat::DBITEM_QqFriend*>(record.sender);
    out["msgId"] = qqMessage->msgId;
    out["msgType"] = qqMessage->msgType;
    out["flag"] = qqMessage->flag;
    out["senderUin"] = qqMessage->senderUin;
    out["sender"] = sender != nullptr ? sender->userName : std::string();
    out["senderName"] = sender != nullptr ? sender->DisplayName() : std::string();
    out["fromMe"] = dynamic_cast<const chat::CQqLocalUser*>(record.sender) != nullptr;
    out["content"] = qqMessage->content;
    out["mediaPath"] = qqMessage->mediaPath;
  } else if (const auto* qqContact = dynamic_cast<const chat::DBITEM_QqFriend*>(&record)) {
    out["userName"] = qqContact->userName;
    out["type"] = qqContact->type;
    out["avatarUrl"] = qqContact->AvatarUrl();
    out["deletedConversation"] = qqContact->deletedConversation != 0;
    out["deletedMessageCount"] = qqContact->deletedCount;
  } else if (const auto* wxMessage = dynamic_cast<const chat::DBITEM_WxChat*>(&record)) {
    const auto* sender = dynamic_cast<const chat::DBITEM_WxFriend*>(record.sender);
    out["localId"] = wxMessage->localId;
    out["msgType"] = wxMessage->msgType;
    out["direction"] = wxMessage->direction;
    out["sender"] = sender != nullptr ? sender->userName : std::string();
    out["senderName"] = sender != nullptr ? sender->DisplayName() : std::string();
    out["fromMe"] = dynamic_cast<const chat::CWxLocalUser*>(record.sender) != nullptr;
    out["text"] = wxMessage->ShownText();
    out["mediaPath"] = wxMessage->mediaPath;
  } else if (const auto* wxContact = dynamic_cast<const chat::DBITEM_WxFriend*>(&record)) {
    out["userName"] = wxContact->userName;
    out["kind"] = wxContact->kind;
    out["encodeUserName"] = wxContact->encodeUserName;
    out["remarks"] = wxContact->remarks;
    out["address"] = wxContact->address;
    out["signature"] = wxContact->signature;
    out["avatarUrl"] = wxContact->AvatarUrl();
    nlohmann::ordered_json members = nlohmann::ordered_json::array();
    for (const chat::DBITEM_WxFriend* member : wxContact->members) members.push_back(member->userName);
    out["members"] = std::move(members);
    out["deletedMessageCount"] = wxContact->deletedCount;
  } else if (const auto* chatConversation = dynamic_cast<const chat::DBITEM_WhatsAppFriend*>(&record)) {
    out["jid"] = chatConversation->jid;
    out["deletedMessageCount"] = chatConversation->deletedMessageCount;
  } else if (const auto* media = dynamic_cast<const readers::DBITEM_PhotoItem*>(&record)) {
    out["kind"] = media->mediaKind;
    out["mediaName"] = media->mediaName;
    out["size"] = media->size;
    out["dateText"] = media->dateText;
    out["birth"] = TimeJson(static_cast<double>(media->birth));
    out["lastModified"] = TimeJson(static_cast<double>(media->lastModified));
    out["pixelWidth"] = media->pixelWidth;
    out["pixelHeight"] = media->pixelHeight;
    out["storedPath"] = media->storedPath;
    out["thumbnailPath"] = media->thumbnailPath;
  } else if (const auto* file = dynamic_cast<const readers::DBITEM_Attachment*>(&record)) {
    out["kind"] = file->mediaType;
    out["fileName"] = file->fileName;
    out["relativePath"] = file->relativePath;
    out["size"] = file->size;
    out["birth"] = TimeJson(static_cast<double>(file->birth));
    out["lastModified"] = TimeJson(static_cast<double>(file->lastModified));
    out["storedPath"] = file->storedPath;
  } else if (const auto* album = dynamic_cast<const readers::DBITEM_PhotoFriend*>(&record)) {
    out["albumName"] = album->albumName;
  } else if (const auto* group = dynamic_cast<const readers::DBITEM_AttachmentFriend*>(&record)) {
    out["groupName"] = group->groupName;
    out["fileCount"] = group->fileCount;
    out["markCounts"] = group->markCounts;
  }
}

}  // namespace

std::vector<const db::BaseItem*> Members(const db::BaseItem& record) {
  std::vector<const db::BaseItem*> members;
  if (const auto* group = dynamic_cast<const db::FriendItem*>(&record)) {
    for (const db::BaseItem* member : group->items) {
      if (member != nullptr) members.push_back(member);
    }
  }
  return members;
}

nlohmann::ordered_json RecordJson(const db::BaseItem& record) {
  nlohmann::ordered_json out;
  out["title"] = record.Title();
  out["deleted"] = record.deleted != 0;
  out["time"] = TimeJson(record.time);
  AddOwnFields(record, out);
  return out;
}

nlohmann::ordered_json GroupJson(const db::BaseItem& group) {
  nlohmann::ordered_json out = RecordJson(group);
  nlohmann::ordered_json records = nlohmann::ordered_json::array();
  for (const db::BaseItem* member : Members(group)) records.push_back(RecordJson(*member));
  out["records"] = std::move(records);
  return out;
}

}  // namespace cli
