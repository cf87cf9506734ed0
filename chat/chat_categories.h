#pragma once
// The chat apps' readers behind the category reader interface. The analysis
// makes them through its table of category readers.

#include <memory>

#include "base/categories.h"
#include "readers/category_reader.h"

namespace chat {

// QQ and TIM chats (0): the accounts, and one account's conversations.
std::unique_ptr<readers::ICategoryReader> MakeQqReader(const base::CategoryInfo& category);
// WeChat contacts (1) and chats (2): the accounts, and one account's
// contacts or conversations.
std::unique_ptr<readers::ICategoryReader> MakeWeChatReader(const base::CategoryInfo& category);
// WeChat's files (16): the accounts, and the files below one account's folder.
std::unique_ptr<readers::ICategoryReader> MakeWeChatFilesReader(const base::CategoryInfo& category);
// WhatsApp chats (10).
std::unique_ptr<readers::ICategoryReader> MakeWhatsAppReader(const base::CategoryInfo& category);

}  // namespace chat
