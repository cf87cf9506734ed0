#include "readers/category_readers.h"

#include <string>

#include "backup/file_list_db.h"
#include "chat/qq_account.h"
#include "chat/wechat_account.h"
#include "chat/whatsapp_db.h"
#include "db/progress.h"
#include "platform/message_target.h"
#include "readers/address_book_db.h"
#include "readers/attachment_db.h"
#include "readers/calendar_db.h"
#include "readers/call_history_db.h"
#include "readers/categories.h"
#include "readers/message_db.h"
#include "readers/note_db.h"
#include "readers/photo_db.h"
#include "readers/safari_db.h"
#include "readers/voice_memo_db.h"

namespace readers {
namespace {

// Where a category's database is: its domain and relative path in a
// manifest backup, its path in a plain folder.
struct DatabaseLocation {
  const char* domain;
  const char* manifestPath;
  const char* folderPath;
};

constexpr DatabaseLocation kAddressBook = {"HomeDomain", "/AddressBook.sqlitedb",
                                           "Library/AddressBook/AddressBook.sqlitedb"};
constexpr DatabaseLocation kCallHistory = {"HomeDomain", "/CallHistory.storedata",
                                           "Library/CallHistoryDB/CallHistory.storedata"};
constexpr DatabaseLocation kSms = {"HomeDomain", "/sms.db", "Library/SMS/sms.db"};
constexpr DatabaseLocation kCalendar = {"HomeDomain", "/Calendar.sqlitedb", "Library/Calendar/Calendar.sqlitedb"};
constexpr DatabaseLocation kWhatsApp = {"AppDomainGroup-group.net.whatsapp.WhatsApp.shared", "ChatStorage.sqlite",
                                        "ChatStorage.sqlite"};
constexpr DatabaseLocation kRecordings = {"MediaDomain", "/Recordings.db", "Media/Recordings/Recordings.db"};
constexpr DatabaseLocation kPhotoLibrary = {"CameraRollDomain", "/Photos.sqlite", "Media/PhotoData/Photos.sqlite"};

// The first stored path of a database; found only when the lookup ran and
// gave a path. lookupRan is false when the index could not be queried.
std::string FindDatabase(backup::CFileListDB& index, const DatabaseLocation& location, bool& lookupRan) {
  std::vector<std::string> paths;
  const bool folderMode = index.Mode() == backup::SourceFolder;
  const int result = index.FindFilePaths(folderMode ? location.folderPath : location.manifestPath,
                                         location.domain, paths, false);
  lookupRan = folderMode || result != 0;
  return result != 0 && !paths.empty() ? paths.front() : std::string();
}

}  // namespace

CategoryReaders::CategoryReaders() = default;
CategoryReaders::~CategoryReaders() = default;

int DispatchCategory(int category, CategoryReaders& holder, backup::CFileListDB& index) {
  holder.index = &index;
  holder.category = category;
  bool lookupRan = true;
  if (category == kCategoryCalls || category == kCategoryContacts || category == kCategoryMessages) {
    const std::string addressBook = FindDatabase(index, kAddressBook, lookupRan);
    if (!lookupRan) return 0;
    if (!addressBook.empty()) {
      db::ReportProgress(false, 10);
      holder.contacts = std::make_unique<CAddressBookDB>(&index);
      holder.contacts->Open(addressBook, 0);
      holder.contacts->Close();
    }
    if (category == kCategoryCalls) {
      const std::string path = FindDatabase(index, kCallHistory, lookupRan);
      if (!path.empty()) {
        db::ReportProgress(false, 10);
        holder.calls = std::make_unique<CCallHistoryDB>(&index, holder.contacts.get());
        holder.calls->Open(path, 0);
        holder.calls->Close();
      }
    } else if (category == kCategoryMessages) {
      const std::string path = FindDatabase(index, kSms, lookupRan);
      if (!path.empty()) {
        db::ReportProgress(false, 10);
        holder.messages = std::make_unique<CMessageDB>(&index, holder.contacts.get());
        holder.messages->Open(path, 0);
        holder.messages->Close();
      }
    }
  } else if (category == kCategoryCalendar || category == kCategoryReminders) {
    const std::string path = FindDatabase(index, kCalendar, lookupRan);
    if (!path.empty()) {
      db::ReportProgress(false, 10);
      holder.calendar = std::make_unique<CCalendarDB>(&index);
      holder.calendar->wantedEntityType = category == kCategoryCalendar ? kCalendarEvent : kCalendarReminder;
      holder.calendar->Open(path, 0);
      holder.calendar->Close();
    }
  } else if (category == kCategorySafari) {
    holder.safari = std::make_unique<SafariCollection>(&index);
    LoadSafari(*holder.safari, index);
  } else if (category == kCategoryNotes) {
    // The note readers keep their connections until the group goes.
    holder.notes = std::make_unique<NoteCollection>(&index);
    LoadNotes(*holder.notes, index);
  } else if (category == kCategoryWhatsApp) {
    const std::string path = FindDatabase(index, kWhatsApp, lookupRan);
    if (!path.empty()) {
      db::ReportProgress(false, 10);
      holder.whatsApp = std::make_unique<chat::CWhatsAppDB>();
      holder.whatsApp->Open(path, 0);
      holder.whatsApp->Close();
    }
  } else if (category == kCategoryVoiceMemos) {
    const std::string path = FindDatabase(index, kRecordings, lookupRan);
    if (!path.empty()) {
      db::ReportProgress(false, 10);
      holder.voiceMemos = std::make_unique<CNoteVoiceDB>(&index);
      holder.voiceMemos->Open(path, 0);
      holder.voiceMemos->Close();
    }
  } else if (category == kCategoryPhotos || category == kCategoryVideos) {
    const std::string path = FindDatabase(index, kPhotoLibrary, lookupRan);
    if (!path.empty()) {
      db::ReportProgress(false, 10);
      holder.photos = std::make_unique<CPhotoDB>(&index, category == kCategoryVideos ? 1 : 0);
      holder.photos->LoadPhotos(path, {holder.groupRows[0], holder.groupRows[1], holder.groupRows[2]});
      holder.photos->Close();
    }
  } else if (category == kCategoryWeChatContacts || category == kCategoryWeChat) {
    holder.localUsers = std::make_unique<chat::CLocalUserList>();
    if (holder.localUsers->FindLocalUsers(&index, category) != 0) holder.localUsers->AnalyseWxUsers();
  } else if (category == kCategoryQq) {
    holder.localUsers = std::make_unique<chat::CLocalUserList>();
    if (holder.localUsers->FindLocalUsers(&index, category) != 0) holder.localUsers->AnalyseQqUsers();
  } else if (category == kCategoryNotesAttachments || category == kCategoryMessageAttachments ||
             category == kCategoryWeChatAttachments || category == kCategoryWhatsAppFiles) {
    holder.attachments = std::make_unique<AttachmentSet>();
    holder.attachments->category = category;
    LoadAttachments(*holder.attachments, index, holder.groupRows);
  }
  return 1;
}

std::vector<chat::CWxLocalUser*> WxAccountsOf(const CategoryReaders& holder) {
  std::vector<chat::CWxLocalUser*> accounts;
  const chat::CLocalUserList* users = holder.localUsers.get();
  if (holder.category == kCategoryWeChatAttachments && holder.attachments) users = holder.attachments->wxUsers.get();
  if (users == nullptr) return accounts;
  for (const auto& account : users->wxUsers) accounts.push_back(account.get());
  return accounts;
}

std::vector<chat::CQqLocalUser*> QqAccountsOf(const CategoryReaders& holder) {
  std::vector<chat::CQqLocalUser*> accounts;
  if (holder.localUsers == nullptr) return accounts;
  for (const auto& account : holder.localUsers->qqUsers) accounts.push_back(account.get());
  return accounts;
}

std::size_t ChatAccountCount(const CategoryReaders& holder) {
  return holder.category == kCategoryQq ? QqAccountsOf(holder).size() : WxAccountsOf(holder).size();
}

std::vector<db::BaseItem*> ResultListOf(const CategoryReaders& holder) {
  std::vector<db::BaseItem*> list;
  const std::vector<chat::CWxLocalUser*> accounts = WxAccountsOf(holder);
  chat::CWxLocalUser* account = holder.account < accounts.size() ? accounts[holder.account] : nullptr;
  switch (holder.category) {
    case kCategoryQq: {
      const std::vector<chat::CQqLocalUser*> qqAccounts = QqAccountsOf(holder);
      if (holder.account < qqAccounts.size()) {
        for (const auto& contact : qqAccounts[holder.account]->contacts) {
          if (!contact->items.empty()) list.push_back(contact.get());
        }
      }
      break;
    }
    case kCategoryWeChatContacts:
    case kCategoryWeChat:
      if (account != nullptr) {
        for (const auto& contact : account->contacts) {
          if (holder.category == kCategoryWeChatContacts || !contact->items.empty()) list.push_back(contact.get());
        }
      }
      break;
    case kCategoryWeChatAttachments:
      if (holder.attachments && holder.account < holder.attachments->accountReaders.size()) {
        for (auto* group : holder.attachments->accountReaders[holder.account]->TopGroups()) list.push_back(group);
      }
      break;
    case kCategoryCalls:
      if (holder.calls) {
        for (const auto& call : holder.calls->Calls()) list.push_back(call.get());
      }
      break;
    case kCategoryContacts:
      if (holder.contacts) {
        for (const auto& contact : holder.contacts->Contacts()) list.push_back(contact.get());
      }
      break;
    case kCategoryMessages:
      if (holder.messages) {
        for (const auto& conversation : holder.messages->Conversations()) list.push_back(conversation.get());
      }
      break;
    case kCategoryCalendar:
    case kCategoryReminders:
      if (holder.calendar) {
        for (const auto& item : holder.calendar->Entries()) {
          // listMark -1: an item of the other entity type, kept but not shown.
          if (item->listMark == 0) list.push_back(item.get());
        }
      }
      break;
    case kCategorySafari:
      if (holder.safari) {
        for (auto* entry : holder.safari->Records()) list.push_back(entry);
      }
      break;
    case kCategoryNotes:
      if (holder.notes) {
        for (auto* note : holder.notes->Records()) list.push_back(note);
      }
      break;
    case kCategoryWhatsApp:
      if (holder.whatsApp) {
        for (const auto& conversation : holder.whatsApp->Conversations()) list.push_back(conversation.get());
      }
      break;
    case kCategoryVoiceMemos:
      if (holder.voiceMemos) {
        for (const auto& recording : holder.voiceMemos->Recordings()) list.push_back(recording.get());
      }
      break;
    case kCategoryPhotos:
    case kCategoryVideos:
      if (holder.photos) {
        for (auto* album : holder.photos->TopAlbums()) list.push_back(album);
      }
      break;
    case kCategoryNotesAttachments:
    case kCategoryMessageAttachments:
    case kCategoryWhatsAppFiles:
      if (holder.attachments && holder.attachments->manifestReader) {
        for (auto* group : holder.attachments->manifestReader->TopGroups()) list.push_back(group);
      }
      break;
    default: break;
  }
  return list;
}

int RunAnalysis(int category, backup::CFileListDB& index, std::unique_ptr<CategoryReaders>& holder,
                platform::IMessageTarget* target) {
  holder.reset();
  holder = std::make_unique<CategoryReaders>();
  int outcome = kAnalysisListed;
  if (DispatchCategory(category, *holder, index) != 0) {
    const bool chatAccounts = category == kCategoryQq || category == kCategoryWeChatContacts ||
                              category == kCategoryWeChat || category == kCategoryWeChatAttachments;
    const std::size_t accounts = ChatAccountCount(*holder);
    if (chatAccounts && accounts > 1) {
      outcome = kAnalysisChooseAccount;
    } else if (chatAccounts && category != kCategoryWeChatAttachments) {
      // One account: its list is shown even when it holds nothing yet.
      outcome = accounts == 1 ? kAnalysisListed : kAnalysisNothing;
    } else {
      outcome = ResultListOf(*holder).empty() ? kAnalysisNothing : kAnalysisListed;
    }
  }
  index.Close();
  if (target != nullptr) target->Post(platform::kWmAnalysisDone, static_cast<std::uintptr_t>(outcome), 0);
  return outcome;
}

}  // namespace readers
