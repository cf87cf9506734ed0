#include "recovery/category_registry.h"

#include <array>

#include "base/categories.h"
#include "chat/chat_categories.h"
#include "readers/category_readers.h"

namespace recovery {
namespace {

using ReaderMaker = std::unique_ptr<readers::ICategoryReader> (*)(const base::CategoryInfo&);

// One maker per category, in number order: a new category gets its row in
// base/categories.cpp and its maker here.
constexpr std::array<ReaderMaker, base::kCategoryCount> kReaderMakers = {
    chat::MakeQqReader,                 // 0 QQ
    chat::MakeWeChatReader,             // 1 WeChat contacts
    chat::MakeWeChatReader,             // 2 WeChat chats
    readers::MakePeopleReader,          // 3 calls
    readers::MakePeopleReader,          // 4 contacts
    readers::MakePeopleReader,          // 5 messages
    readers::MakeCalendarReader,        // 6 calendar
    readers::MakeSafariReader,          // 7 Safari
    readers::MakeNotesReader,           // 8 notes
    readers::MakeCalendarReader,        // 9 reminders
    chat::MakeWhatsAppReader,           // 10 WhatsApp
    readers::MakeVoiceMemosReader,      // 11 voice memos
    readers::MakePhotoReader,           // 12 photos
    readers::MakePhotoReader,           // 13 videos
    readers::MakeAttachmentReader,      // 14 notes attachments
    readers::MakeAttachmentReader,      // 15 message attachments
    chat::MakeWeChatFilesReader,        // 16 WeChat attachments
    readers::MakeAttachmentReader,      // 17 WhatsApp files
};

}  // namespace

std::unique_ptr<readers::ICategoryReader> MakeCategoryReader(int category) {
  const base::CategoryInfo* info = base::FindCategory(category);
  if (info == nullptr) return nullptr;
  return kReaderMakers[static_cast<std::size_t>(category)](*info);
}

}  // namespace recovery
