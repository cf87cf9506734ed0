#include "base/categories.h"

#include <array>
#include <charconv>
#include <stdexcept>
#include <string>

namespace base {
namespace {

using enum CategoryKind;
using enum ExportForm;

// number, command-line name, display name, file name, app word, kind, export
// form, chat accounts, browser panel, left row, right row, own right row.
constexpr std::array<CategoryInfo, kCategoryCount> kCategories = {{
    {kCategoryQq, "qq", "QQ聊天记录", "QQ聊天记录", "QQ", kConversations, kChatSite, true, 0,
     "item_friend.xml", "Item_Chat.xml", "Item_Chat_R.xml"},
    {kCategoryWeChatContacts, "wechat-contacts", "微信通讯录", "微信通讯录", "微信通讯录", kList, kTable, true, 0,
     "Item_WxAdrbook_L.xml", "Item_WxAdrbook.xml", "Item_WxAdrbook_info.xml"},
    {kCategoryWeChat, "wechat", "微信聊天记录", "微信聊天记录", "微信", kConversations, kChatSite, true, 0,
     "item_friend.xml", "Item_Chat.xml", "Item_Chat_R.xml"},
    {kCategoryCalls, "calls", "通话记录", "通话记录", "通话记录", kList, kTable, false, 1, "Item_CallRecord.xml",
     "Item_Chat.xml", ""},
    {kCategoryContacts, "contacts", "通讯录", "联系人", "通讯录", kList, kTable, false, 0, "Item_Contact_L.xml",
     "Item_Contact.xml", ""},
    {kCategoryMessages, "messages", "短信", "短信", "短信", kConversations, kTable, false, 0, "Item_Sms_L.xml",
     "Item_Sms.xml", "Item_Sms_chatR.xml"},
    {kCategoryCalendar, "calendar", "日历", "日历", "日历", kList, kTable, false, 0, "Item_Memo_L.xml",
     "Item_Calendar.xml", ""},
    {kCategorySafari, "safari", "Safari", "Safari浏览器书签", "Safari", kList, kTable, false, 2, "Item_safari.xml",
     "Item_Chat.xml", ""},
    {kCategoryNotes, "notes", "备忘录", "备忘录", "备忘录", kList, kTable, false, 0, "Item_Memo_L.xml",
     "Item_Memo.xml", ""},
    {kCategoryReminders, "reminders", "提醒事项", "提醒事项", "提醒事项", kList, kTable, false, 0, "Item_Memo_L.xml",
     "Item_Remind.xml", ""},
    {kCategoryWhatsApp, "whatsapp", "WhatsApp", "WhatsApp", "WhatsApp", kConversations, kTable, false, 0,
     "Item_Whatsapp_L.xml", "Item_Whatsapp.xml", "Item_Whatsapp_chatR.xml"},
    {kCategoryVoiceMemos, "voice-memos", "语音备忘录", "语音备忘录", "语音备忘录", kList, kAudio, false, 3,
     "Item_NoteVoice.xml", "Item_Chat.xml", ""},
    {kCategoryPhotos, "photos", "照片", "照片", "照片", kMedia, kDayFolders, false, 4, "item_friend.xml",
     "Item_Photo.xml", ""},
    {kCategoryVideos, "videos", "视频", "视频", "视频", kMedia, kDayFolders, false, 5, "item_friend.xml",
     "Item_Photo.xml", ""},
    {kCategoryNotesAttachments, "notes-attachments", "备忘录附件", "备忘录附件", "备忘录附件", kMedia, kDayFolders,
     false, 6, "item_friend.xml", "Item_Attachment.xml", ""},
    {kCategoryMessageAttachments, "message-attachments", "短信附件", "短信附件", "短信附件", kMedia, kDayFolders,
     false, 6, "item_friend.xml", "Item_Attachment.xml", ""},
    {kCategoryWeChatAttachments, "wechat-attachments", "微信附件", "微信附件", "微信附件", kMedia, kDayFolders, true,
     6, "item_friend.xml", "Item_Attachment.xml", ""},
    {kCategoryWhatsAppFiles, "whatsapp-files", "WhatsApp附件", "WhatsApp附件", "WhatsApp附件", kMedia, kDayFolders,
     false, 6, "item_friend.xml", "Item_Attachment.xml", ""},
}};

constexpr bool RowsInNumberOrder() {
  for (std::size_t i = 0; i < kCategories.size(); ++i) {
    if (static_cast<std::size_t>(kCategories[i].number) != i) return false;
  }
  return true;
}
static_assert(RowsInNumberOrder(), "the category table is indexed by number");

}  // namespace

std::span<const CategoryInfo> AllCategories() { return kCategories; }

const CategoryInfo* FindCategory(int number) {
  if (number < 0 || number >= kCategoryCount) return nullptr;
  return &kCategories[static_cast<std::size_t>(number)];
}

const CategoryInfo& CategoryOf(int number) {
  const CategoryInfo* info = FindCategory(number);
  if (info == nullptr) throw std::out_of_range("no data category " + std::to_string(number));
  return *info;
}

std::optional<int> ParseCategory(const std::string& text) {
  int number = -1;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (error == std::errc() && end == text.data() + text.size()) {
    if (FindCategory(number) != nullptr) return number;
    return std::nullopt;
  }
  for (const CategoryInfo& info : kCategories) {
    if (info.cliName == text) return info.number;
  }
  return std::nullopt;
}

}  // namespace base
