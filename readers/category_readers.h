#pragma once
// The analysis of one data category: which databases it needs, the readers
// that load them, and the holder that keeps those readers (and so their
// records) alive until the next analysis replaces them.
//
// Threads: RunAnalysis runs on the analysis worker; it reaches the window
// that follows it only through posted messages. One analysis at a time.

#include <array>
#include <cstddef>
#include <memory>
#include <vector>

#include "db/items.h"

namespace backup {
class CFileListDB;
}
namespace chat {
class CLocalUserList;
class CQqLocalUser;
class CWhatsAppDB;
class CWxLocalUser;
}
namespace platform {
class IMessageTarget;
}

namespace readers {

class AttachmentSet;
class CAddressBookDB;
class CCalendarDB;
class CCallHistoryDB;
class CMessageDB;
class CNoteVoiceDB;
class CPhotoDB;
class NoteCollection;
class SafariCollection;

// WM_ANALYSIS_DONE's wParam.
inline constexpr int kAnalysisChooseAccount = 1;
inline constexpr int kAnalysisListed = 2;
inline constexpr int kAnalysisNothing = 4;

// The readers of one analysis. Destroying the holder destroys them all.
class CategoryReaders {
 public:
  CategoryReaders();
  ~CategoryReaders();
  CategoryReaders(const CategoryReaders&) = delete;
  CategoryReaders& operator=(const CategoryReaders&) = delete;

  backup::CFileListDB* index = nullptr;  // not owned
  int category = -1;
  std::unique_ptr<CAddressBookDB> contacts;
  std::unique_ptr<CCallHistoryDB> calls;
  std::unique_ptr<CMessageDB> messages;
  std::unique_ptr<chat::CWhatsAppDB> whatsApp;
  std::unique_ptr<CCalendarDB> calendar;
  std::unique_ptr<CNoteVoiceDB> voiceMemos;
  std::unique_ptr<CPhotoDB> photos;
  std::unique_ptr<NoteCollection> notes;
  std::unique_ptr<SafariCollection> safari;
  std::unique_ptr<AttachmentSet> attachments;
  // QQ chats (0), WeChat contacts (1) and chats (2): the accounts with
  // their contacts and conversations. Attachments (16) keep theirs in
  // attachments.
  std::unique_ptr<chat::CLocalUserList> localUsers;
  // The account whose records ResultListOf gives for 0, 1, 2 and 16, chosen
  // by the user when there are several (0 otherwise).
  std::size_t account = 0;
  // The browser's rows the top albums (3) or file groups (5) of the media
  // categories are bound to; opaque here, null without a browser.
  std::array<void*, 5> groupRows{};
};

// Looks up the category's databases through the index and loads them into
// readers held by holder. Returns 0 only when the contacts lookup itself
// fails for the calls, contacts and messages categories.
int DispatchCategory(int category, CategoryReaders& holder, backup::CFileListDB& index);

// The records the category shows (conversations, contacts, calls, Safari
// entries, notes, events or reminders, recordings), in order, or an empty
// list. WeChat contacts (1): every contact of the chosen account; WeChat
// chats (2): its contacts that hold at least one message, in the account's
// order; WeChat attachments (16): the top groups of its files; QQ chats (0):
// the chosen account's conversations that hold a message. Calendar items of the other entity type (reminders when events were
// asked for, and back) are not shown. The media categories give their top
// groups: 全部照片, 相机胶卷, 已恢复 (or the video names) for photos and
// videos; 全部文件, 图片, 视频, 语音, 其他 for attachments. They belong to holder.
std::vector<db::BaseItem*> ResultListOf(const CategoryReaders& holder);

// The chat accounts an analysis of 1, 2 or 16 found, in order (none for
// other categories). They belong to holder.
std::vector<chat::CWxLocalUser*> WxAccountsOf(const CategoryReaders& holder);
// The QQ and TIM accounts an analysis of 0 found, in order.
std::vector<chat::CQqLocalUser*> QqAccountsOf(const CategoryReaders& holder);
// The number of accounts of the holder's chat category (0 for others).
std::size_t ChatAccountCount(const CategoryReaders& holder);

// One analysis of a category (0-17) on an opened index: replaces
// holder's readers with new ones, dispatches, closes the index, and posts
// WM_ANALYSIS_DONE to target (if any) with kAnalysisListed when there are
// records (or the dispatch failed), kAnalysisNothing when there are none,
// and for 0, 1, 2 and 16 kAnalysisChooseAccount when several accounts were
// found (the user picks holder.account first). Returns that outcome.
// Progress goes through db::ReportProgress.
int RunAnalysis(int category, backup::CFileListDB& index, std::unique_ptr<CategoryReaders>& holder,
                platform::IMessageTarget* target);

}  // namespace readers
