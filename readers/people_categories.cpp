// Calls, contacts and messages: the categories whose records name people
// through the address book.

#include "backup/file_list_db.h"
#include "export/export_writer.h"
#include "readers/address_book_db.h"
#include "readers/call_history_db.h"
#include "readers/category_readers.h"
#include "readers/message_db.h"

namespace readers {
namespace {

constexpr DatabaseLocation kAddressBook = {"HomeDomain", "/AddressBook.sqlitedb",
                                           "Library/AddressBook/AddressBook.sqlitedb"};
constexpr DatabaseLocation kCallHistory = {"HomeDomain", "/CallHistory.storedata",
                                           "Library/CallHistoryDB/CallHistory.storedata"};
// The newest calls, kept in a store of their own until the phone moves them
// into the call log.
constexpr DatabaseLocation kNewestCalls = {"HomeDomain", "/CallHistoryTemp.storedata",
                                           "Library/CallHistoryDB/CallHistoryTemp.storedata"};
constexpr DatabaseLocation kSms = {"HomeDomain", "/sms.db", "Library/SMS/sms.db"};

void DescribeContact(const DBITEM_AdrBFriend& contact, nlohmann::ordered_json& out) {
  out["rowId"] = contact.rowId;
  out["displayName"] = contact.displayName;
  out["firstName"] = contact.firstName;
  out["lastName"] = contact.lastName;
  out["mobile"] = contact.mobile;
  out["phones"] = contact.phones;
  out["email"] = contact.email;
  out["homePage"] = contact.homePage;
  out["noteText"] = contact.noteText;
}

void DescribeCall(const DBITEM_CallHistory& call, nlohmann::ordered_json& out) {
  out["name"] = call.name;
  out["address"] = call.address;
  out["duration"] = call.duration;
  out["outgoing"] = call.Outgoing();
  out["location"] = call.location;
  out["serviceProvider"] = call.serviceProvider;
}

void DescribeMessage(const db::BaseItem& record, nlohmann::ordered_json& out) {
  if (const auto* message = dynamic_cast<const DBITEM_Message*>(&record)) {
    out["rowId"] = message->rowId;
    out["guid"] = message->guid;
    out["address"] = message->address;
    out["text"] = message->text;
    out["isSent"] = message->isSent;
    out["account"] = message->account;
    if (const auto* sender = dynamic_cast<const DBITEM_MsgFriend*>(message->sender)) out["sender"] = sender->name;
    nlohmann::ordered_json attachments = nlohmann::ordered_json::array();
    for (const DBITEM_SmsAttachment* attachment : message->attachments) {
      nlohmann::ordered_json entry;
      entry["name"] = attachment->name;
      entry["mimeType"] = attachment->mimeType;
      entry["size"] = attachment->totalBytes;
      entry["path"] = attachment->relativePath;
      entry["file"] = attachment->storedPath.empty() ? nlohmann::ordered_json()
                                                     : nlohmann::ordered_json(attachment->storedPath);
      attachments.push_back(std::move(entry));
    }
    out["attachments"] = std::move(attachments);
  } else if (const auto* conversation = dynamic_cast<const DBITEM_MsgFriend*>(&record)) {
    out["name"] = conversation->name;
    out["address"] = conversation->address;
    out["deletedMessageCount"] = conversation->deletedMessageCount;
    out["isGroup"] = conversation->isGroup;
    if (conversation->isGroup) out["members"] = conversation->members;
  }
}

// The address book is read first: the call history and the messages name
// their peers through it. For the contacts category it is the category's
// own database; for the others a damaged one only costs the names.
class PeopleReader : public ICategoryReader {
 public:
  using ICategoryReader::ICategoryReader;

  void Load(const LoadContext& context) override {
    const int category = Category().number;
    if (!contactsPath_.empty()) {
      contacts_ = std::make_unique<CAddressBookDB>(Index());
      OpenAndLoad(*contacts_, contactsPath_, 0, context, category == base::kCategoryContacts);
    }
    if (category == base::kCategoryCalls) {
      callStores_.clear();
      for (const std::string* path : {&ownPath_, &newestCallsPath_}) {
        if (path->empty()) continue;
        callStores_.push_back(std::make_unique<CCallHistoryDB>(Index(), contacts_.get()));
        OpenAndLoad(*callStores_.back(), *path, 0, context, true);
      }
      return;
    }
    if (ownPath_.empty()) return;
    if (category == base::kCategoryMessages) {
      messages_ = std::make_unique<CMessageDB>(Index(), contacts_.get());
      OpenAndLoad(*messages_, ownPath_, 0, context, true);
    }
  }

  std::vector<db::BaseItem*> ResultList() const override {
    if (!callStores_.empty()) return JoinCalls(callStores_);
    if (messages_) return db::ItemPointers(messages_->Conversations());
    if (contacts_ && Category().number == base::kCategoryContacts) return db::ItemPointers(contacts_->Contacts());
    return {};
  }

  base::Status Export(exporting::CExportWriter& writer, const std::vector<db::BaseItem*>& selection,
                      const db::FriendItem*, exporting::IExportProgress*) const override {
    switch (Category().number) {
      case base::kCategoryCalls: WriteCallsCsv(writer, selection); break;
      case base::kCategoryMessages: WriteMessagesCsv(writer, selection); break;
      default: WriteContactsCsv(writer, selection); break;
    }
    return writer.Finish();
  }

 protected:
  base::Status FindFiles(backup::CFileListDB&) override {
    // A manifest that cannot be searched for the address book cannot be
    // searched for anything else either; a phone without an address book
    // still has its calls and messages.
    const base::Status contacts = Locate(kAddressBook, contactsPath_);
    const int category = Category().number;
    if (category == base::kCategoryContacts || contacts.Kind() == base::Status::Code::kUnreadable) return contacts;
    if (category != base::kCategoryCalls) return Locate(kSms, ownPath_);
    const base::Status calls = Locate(kCallHistory, ownPath_);
    if (calls.Kind() == base::Status::Code::kUnreadable) return calls;
    const base::Status newest = Locate(kNewestCalls, newestCallsPath_);
    return calls.Ok() ? calls : newest;
  }

  void DescribeRecord(const db::BaseItem& record, nlohmann::ordered_json& out) const override {
    if (const auto* contact = dynamic_cast<const DBITEM_AdrBFriend*>(&record)) {
      DescribeContact(*contact, out);
    } else if (const auto* call = dynamic_cast<const DBITEM_CallHistory*>(&record)) {
      DescribeCall(*call, out);
    } else {
      DescribeMessage(record, out);
    }
  }

 private:
  std::string contactsPath_;
  std::string ownPath_;
  std::string newestCallsPath_;
  std::unique_ptr<CAddressBookDB> contacts_;
  std::vector<std::unique_ptr<CCallHistoryDB>> callStores_;  // the call log, then the newest calls
  std::unique_ptr<CMessageDB> messages_;
};

}  // namespace

std::unique_ptr<ICategoryReader> MakePeopleReader(const base::CategoryInfo& category) {
  return std::make_unique<PeopleReader>(category);
}

}  // namespace readers
