#pragma once
// The data categories a user analyses one at a time: one table with a row per
// category. Everything that numbers or names a category, or decides how one is
// shown, analysed or exported, reads its row here: the command line, the
// export writer, the chat readers, the analysis and recovery run, and the
// record browser's panels and row skins.
//
// A new category is a new row here and a reader behind the category reader
// interface (readers/category_reader.h); docs/architecture.md shows the way.

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace base {

enum DataCategory : int {
  kCategoryQq = 0,
  kCategoryWeChatContacts = 1,
  kCategoryWeChat = 2,
  kCategoryCalls = 3,
  kCategoryContacts = 4,
  kCategoryMessages = 5,
  kCategoryCalendar = 6,
  kCategorySafari = 7,
  kCategoryNotes = 8,
  kCategoryReminders = 9,
  kCategoryWhatsApp = 10,
  kCategoryVoiceMemos = 11,
  kCategoryPhotos = 12,
  kCategoryVideos = 13,
  kCategoryNotesAttachments = 14,
  kCategoryMessageAttachments = 15,
  kCategoryWeChatAttachments = 16,
  kCategoryWhatsAppFiles = 17,
};

inline constexpr int kCategoryCount = 18;

// What the result list of a category holds.
enum class CategoryKind {
  kList,           // flat records (calls, contacts, notes ...)
  kConversations,  // conversations holding their messages
  kMedia,          // top groups (albums, file kinds) holding day groups of files
};

// How a recovery writes a category.
enum class ExportForm {
  kTable,     // a CSV table and an HTML list page
  kChatSite,  // a small site per chat account, with a table per conversation
  kAudio,     // the recordings copied as audio files
  kDayFolders,  // the files of the ticked day groups copied into a folder per day
};

struct CategoryInfo {
  DataCategory number;
  std::string_view cliName;      // what the command line accepts: "messages", "voice-memos"
  std::string_view displayName;  // the export folder and page title: "短信"
  std::string_view fileName;     // the CSV table and list page: "联系人"
  std::string_view appWord;      // the word of the chat site's and attachment folders: "微信"
  CategoryKind kind;
  ExportForm exportForm;
  bool chatAccounts;  // the analysis finds the app's accounts and reads one the user chooses
  // The record browser: the panel of its skin that shows the category, and
  // the row skins of the left list (groups) and the right list (members);
  // rightRowOwn is the right row of a member the account itself wrote (or of
  // a chat room, for WeChat contacts), empty where every row looks alike.
  int panel;
  std::string_view leftRow;
  std::string_view rightRow;
  std::string_view rightRowOwn;
};

// Every category, in number order (entry i is category i).
std::span<const CategoryInfo> AllCategories();

// The row of a category number, or null for a number outside 0-17.
const CategoryInfo* FindCategory(int number);
// The row of a valid category number; a number outside 0-17 is a bug of the
// caller (std::out_of_range).
const CategoryInfo& CategoryOf(int number);

// A category from a decimal number or a command-line name; nothing for
// anything else.
std::optional<int> ParseCategory(const std::string& text);

}  // namespace base
