#include "readers/categories.h"

#include <array>
#include <charconv>

namespace readers {
namespace {

constexpr std::array<std::string_view, kCategoryCount> kCliNames = {
    "qq",     "wechat-contacts", "wechat",      "calls",  "contacts",          "messages",
    "calendar", "safari",        "notes",       "reminders", "whatsapp",       "voice-memos",
    "photos", "videos",          "notes-attachments", "message-attachments", "wechat-attachments",
    "whatsapp-files",
};

}  // namespace

std::string_view CategoryCliName(int category) {
  return category >= 0 && category < kCategoryCount ? kCliNames[static_cast<std::size_t>(category)]
                                                    : std::string_view();
}

std::optional<int> ParseCategory(const std::string& text) {
  int number = -1;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (error == std::errc() && end == text.data() + text.size()) {
    if (number >= 0 && number < kCategoryCount) return number;
    return std::nullopt;
  }
  for (int category = 0; category < kCategoryCount; ++category) {
    if (kCliNames[static_cast<std::size_t>(category)] == text) return category;
  }
  return std::nullopt;
}

bool IsCategoryBuilt(int category) { return category >= kCategoryQq && category <= kCategoryWhatsAppFiles; }

}  // namespace readers
