#pragma once
// The data categories a user analyses one at a time, by number (0-17), with
// the names the command line accepts for them.

#include <optional>
#include <string>
#include <string_view>

namespace readers {

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

// The command-line name of a category ("messages", "voice-memos" ...), or
// empty for a number outside 0-17.
std::string_view CategoryCliName(int category);

// A category from a decimal number or a command-line name; nothing for
// anything else.
std::optional<int> ParseCategory(const std::string& text);

// Whether the analysis of a category is built (the others say so and stop).
bool IsCategoryBuilt(int category);

}  // namespace readers
