#include "chat/chat_categories.h"

#include "backup/file_list_db.h"
#include "chat/qq_account.h"
#include "chat/qq_export.h"
#include "chat/qq_messages.h"
#include "chat/wechat_account.h"
#include "chat/wechat_contacts.h"
#include "chat/wechat_export.h"
#include "chat/wechat_messages.h"
#include "chat/whatsapp_db.h"
#include "export/export_writer.h"
#include "readers/attachment_db.h"
#include "readers/category_readers.h"

namespace chat {
namespace {

using readers::AccountSummary;
using readers::LoadContext;

constexpr readers::DatabaseLocation kWhatsApp = {"AppDomainGroup-group.net.whatsapp.WhatsApp.shared",
                                                 "ChatStorage.sqlite", "ChatStorage.sqlite"};
// Where newer app versions keep the phone numbers of "@lid" chats.
constexpr readers::DatabaseLocation kWhatsAppLids = {"AppDomainGroup-group.net.whatsapp.WhatsApp.shared",
                                                     "LID.sqlite", "LID.sqlite"};

// The accounts of a chat app are looked for in Load, where their databases
// are read too: Open only remembers the backup.
class ChatAccountsReader : public readers::ICategoryReader {
 public:
  using readers::ICategoryReader::ICategoryReader;

 protected:
  base::Status FindFiles(backup::CFileListDB&) override { return {}; }

  void FindAccounts(const LoadContext& context) {
    users_.progress = context.progress;
    found_ = users_.FindLocalUsers(Index(), Category().number) != 0;
  }

  CLocalUserList users_;
  bool found_ = false;
};

void DescribeWxRecord(const db::BaseItem& record, nlohmann::ordered_json& out) {
  if (const auto* message = dynamic_cast<const DBITEM_WxChat*>(&record)) {
    const auto* sender = dynamic_cast<const DBITEM_WxFriend*>(record.sender);
    out["localId"] = message->localId;
    out["msgType"] = message->msgType;
    out["direction"] = message->direction;
    out["sender"] = sender != nullptr ? sender->userName : std::string();
    out["senderName"] = sender != nullptr ? sender->DisplayName() : std::string();
    out["fromMe"] = dynamic_cast<const CWxLocalUser*>(record.sender) != nullptr;
    out["text"] = message->ShownText();
    out["mediaPath"] = message->mediaPath;
  } else if (const auto* contact = dynamic_cast<const DBITEM_WxFriend*>(&record)) {
    out["userName"] = contact->userName;
    out["kind"] = contact->kind;
    out["encodeUserName"] = contact->encodeUserName;
    out["remarks"] = contact->remarks;
    out["address"] = contact->address;
    out["signature"] = contact->signature;
    out["avatarUrl"] = contact->AvatarUrl();
    nlohmann::ordered_json members = nlohmann::ordered_json::array();
    for (const DBITEM_WxFriend* member : contact->members) members.push_back(member->userName);
    out["members"] = std::move(members);
    out["deletedMessageCount"] = contact->deletedCount;
  }
}

std::vector<AccountSummary> WxAccountSummaries(const CLocalUserList& users) {
  std::vector<AccountSummary> accounts;
  for (const auto& account : users.wxUsers) {
    // Every WeChat database found is read: nothing to tell of.
    accounts.push_back({account->userName, account->DisplayName(), account->alias, false, ""});
  }
  return accounts;
}

// WeChat contacts (1) list every contact of the chosen account; WeChat chats
// (2) the contacts that hold a message, in the account's order.
class WeChatReader : public ChatAccountsReader {
 public:
  using ChatAccountsReader::ChatAccountsReader;

  void Load(const LoadContext& context) override {
    FindAccounts(context);
    if (found_) users_.AnalyseWxUsers();
    const bool chats = Category().number == base::kCategoryWeChat;
    for (const auto& account : users_.wxUsers) {
      AddProblems(account->contactDb.get(), true);
      for (const auto& messages : account->messageDbs) AddProblems(messages.get(), chats);
      AddProblems(account->sessionDb.get(), false);
      AddProblems(account->ftsDb.get(), false);
    }
  }

  std::vector<AccountSummary> Accounts() const override { return WxAccountSummaries(users_); }

  std::vector<db::BaseItem*> ResultList() const override {
    std::vector<db::BaseItem*> list;
    const CWxLocalUser* account = ChosenWxAccount();
    if (account == nullptr) return list;
    const bool everyContact = Category().number == base::kCategoryWeChatContacts;
    for (const auto& contact : account->contacts) {
      if (everyContact || !contact->items.empty()) list.push_back(contact.get());
    }
    return list;
  }

  base::Status Export(exporting::CExportWriter& writer, const std::vector<db::BaseItem*>& selection,
                      const db::FriendItem*, exporting::IExportProgress*) const override {
    CWxLocalUser* account = ChosenWxAccount();
    return account != nullptr ? ExportChatCategory(writer, *account, selection) : writer.Finish();
  }

 protected:
  void DescribeRecord(const db::BaseItem& record, nlohmann::ordered_json& out) const override {
    DescribeWxRecord(record, out);
  }

 private:
  CWxLocalUser* ChosenWxAccount() const {
    return ChosenAccount() < users_.wxUsers.size() ? users_.wxUsers[ChosenAccount()].get() : nullptr;
  }
};

// WeChat's files (16): one manifest reader per account, limited to the
// account's folder; the accounts' contacts are not read.
class WeChatFilesReader : public ChatAccountsReader {
 public:
  using ChatAccountsReader::ChatAccountsReader;

  void Load(const LoadContext& context) override {
    FindAccounts(context);
    const std::string manifest = readers::ManifestPathOf(*Index());
    for (const auto& account : users_.wxUsers) {
      auto reader = std::make_unique<readers::CAttachmentDB>(Index(), base::kCategoryWeChatAttachments,
                                                             readers::kManifestReaderMode);
      reader->accountFolder = account->userMd5;
      account->attachmentReader = reader.get();
      reader->LoadAttachmentReader(manifest, context.groupRows, 0);
      AddProblems(reader.get(), true);
      accountReaders_.push_back(std::move(reader));
    }
  }

  std::vector<AccountSummary> Accounts() const override { return WxAccountSummaries(users_); }

  std::vector<db::BaseItem*> ResultList() const override {
    if (ChosenAccount() >= accountReaders_.size()) return {};
    const auto& groups = accountReaders_[ChosenAccount()]->TopGroups();
    return {groups.begin(), groups.end()};
  }

  base::Status Export(exporting::CExportWriter& writer, const std::vector<db::BaseItem*>& selection,
                      const db::FriendItem* topGroup, exporting::IExportProgress* progress) const override {
    if (const auto* group = dynamic_cast<const readers::DBITEM_AttachmentFriend*>(topGroup)) {
      readers::ExportAttachments(writer.Folder(), selection, *group, progress);
    }
    return writer.Failure();
  }

 protected:
  void DescribeRecord(const db::BaseItem& record, nlohmann::ordered_json& out) const override {
    readers::DescribeMediaRecord(record, out);
  }

 private:
  std::vector<std::unique_ptr<readers::CAttachmentDB>> accountReaders_;
};

// QQ and TIM: the chosen account's conversations that hold a message.
class QqReader : public ChatAccountsReader {
 public:
  using ChatAccountsReader::ChatAccountsReader;

  void Load(const LoadContext& context) override {
    FindAccounts(context);
    if (found_) users_.AnalyseQqUsers();
    for (const auto& account : users_.qqUsers) {
      AddProblems(account->qqDb.get(), true);
      AddProblems(account->ftsDb.get(), false);
    }
  }

  std::vector<AccountSummary> Accounts() const override {
    std::vector<AccountSummary> accounts;
    for (const auto& account : users_.qqUsers) {
      accounts.push_back(
          {account->userName, account->DisplayName(), account->uin, account->chatsEncrypted, account->ChatsNotice()});
    }
    return accounts;
  }

  std::vector<db::BaseItem*> ResultList() const override {
    std::vector<db::BaseItem*> list;
    const CQqLocalUser* account = ChosenQqAccount();
    if (account == nullptr) return list;
    for (const auto& contact : account->contacts) {
      if (!contact->items.empty()) list.push_back(contact.get());
    }
    return list;
  }

  base::Status Export(exporting::CExportWriter& writer, const std::vector<db::BaseItem*>& selection,
                      const db::FriendItem*, exporting::IExportProgress*) const override {
    CQqLocalUser* account = ChosenQqAccount();
    return account != nullptr ? ExportQqChats(writer, *account, selection) : writer.Finish();
  }

 protected:
  void DescribeRecord(const db::BaseItem& record, nlohmann::ordered_json& out) const override {
    if (const auto* message = dynamic_cast<const DBITEM_QqChat*>(&record)) {
      const auto* sender = dynamic_cast<const DBITEM_QqFriend*>(record.sender);
      out["msgId"] = message->msgId;
      out["msgType"] = message->msgType;
      out["flag"] = message->flag;
      out["senderUin"] = message->senderUin;
      out["sender"] = sender != nullptr ? sender->userName : std::string();
      out["senderName"] = sender != nullptr ? sender->DisplayName() : std::string();
      out["fromMe"] = dynamic_cast<const CQqLocalUser*>(record.sender) != nullptr;
      out["content"] = message->content;
      out["mediaPath"] = message->mediaPath;
    } else if (const auto* contact = dynamic_cast<const DBITEM_QqFriend*>(&record)) {
      out["userName"] = contact->userName;
      out["type"] = contact->type;
      out["avatarUrl"] = contact->AvatarUrl();
      out["deletedConversation"] = contact->deletedConversation != 0;
      out["deletedMessageCount"] = contact->deletedCount;
    }
  }

 private:
  CQqLocalUser* ChosenQqAccount() const {
    return ChosenAccount() < users_.qqUsers.size() ? users_.qqUsers[ChosenAccount()].get() : nullptr;
  }
};

class WhatsAppReader : public readers::ICategoryReader {
 public:
  using readers::ICategoryReader::ICategoryReader;

  void Load(const LoadContext& context) override {
    if (path_.empty()) return;
    chats_ = std::make_unique<CWhatsAppDB>();
    OpenAndLoad(*chats_, path_, kWhatsAppChatStore, context, true);
    // Only names the chats: without it they keep their identifiers.
    std::string lidPath;
    if (Locate(kWhatsAppLids, lidPath).Ok()) {
      CWhatsAppDB lids;
      OpenAndLoad(lids, lidPath, kWhatsAppLidStore, context, false);
      chats_->NameLidConversations(lids.PhoneNumbersByLid());
    }
  }

  std::vector<db::BaseItem*> ResultList() const override {
    return chats_ ? db::ItemPointers(chats_->Conversations()) : std::vector<db::BaseItem*>();
  }

  base::Status Export(exporting::CExportWriter& writer, const std::vector<db::BaseItem*>& selection,
                      const db::FriendItem*, exporting::IExportProgress*) const override {
    WriteWhatsAppCsv(writer, selection);
    return writer.Finish();
  }

 protected:
  base::Status FindFiles(backup::CFileListDB&) override { return Locate(kWhatsApp, path_); }

  void DescribeRecord(const db::BaseItem& record, nlohmann::ordered_json& out) const override {
    if (const auto* message = dynamic_cast<const DBITEM_WhatsApp*>(&record)) {
      out["rowId"] = message->rowId;
      out["isFromMe"] = message->isFromMe;
      out["fromJid"] = message->fromJid;
      out["pushName"] = message->pushName;
      out["toJid"] = message->toJid;
      out["text"] = message->text;
    } else if (const auto* conversation = dynamic_cast<const DBITEM_WhatsAppFriend*>(&record)) {
      out["jid"] = conversation->jid;
      out["phoneNumber"] = conversation->phoneNumber;
      out["deletedMessageCount"] = conversation->deletedMessageCount;
    }
  }

 private:
  std::string path_;
  std::unique_ptr<CWhatsAppDB> chats_;
};

}  // namespace

std::unique_ptr<readers::ICategoryReader> MakeQqReader(const base::CategoryInfo& category) {
  return std::make_unique<QqReader>(category);
}

std::unique_ptr<readers::ICategoryReader> MakeWeChatReader(const base::CategoryInfo& category) {
  return std::make_unique<WeChatReader>(category);
}

std::unique_ptr<readers::ICategoryReader> MakeWeChatFilesReader(const base::CategoryInfo& category) {
  return std::make_unique<WeChatFilesReader>(category);
}

std::unique_ptr<readers::ICategoryReader> MakeWhatsAppReader(const base::CategoryInfo& category) {
  return std::make_unique<WhatsAppReader>(category);
}

}  // namespace chat
