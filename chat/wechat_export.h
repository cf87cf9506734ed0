#pragma once
// The export step of the WeChat categories: the contact table (category 1)
// and the chats (category 2), whose conversations the writer lays out as a
// browsable chat site beside their CSV tables.
//
// Threads: the recovery worker, after the analysis that made the records.

#include <memory>
#include <vector>

#include "db/items.h"
#include "export/chat_site.h"
#include "export/export_writer.h"

namespace chat {

class CWxLocalUser;
class DBITEM_WxFriend;

// The header of every WeChat chat CSV table.
inline constexpr char kWxChatsCsvHeader[] = "对话分组名,微信帐号,日期,消息类型,消息内容\r\n";

// Writes selection (contacts for category 1, conversations for 2, in the
// order given; other records are passed over) through writer, whose
// category was begun, and finishes it. Chats: a conversation without any
// message gets no page; pictures are copied only from account's backup.
// Returns Finish's status: ok, or unreadable naming what could not be
// written.
base::Status ExportChatCategory(exporting::CExportWriter& writer, CWxLocalUser& account,
                       const std::vector<db::BaseItem*>& selection);

// A conversation as the chat site shows it. conversation must outlive the
// view.
std::unique_ptr<exporting::ChatConversation> WxConversationView(const DBITEM_WxFriend& conversation);

}  // namespace chat
