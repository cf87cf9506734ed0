#pragma once
// The export step of the QQ chats (category 0): the conversations of one QQ
// or TIM account as a browsable chat site beside their CSV tables.
//
// Threads: the recovery worker, after the analysis that made the records.

#include <memory>
#include <vector>

#include "db/items.h"
#include "export/chat_site.h"
#include "export/export_writer.h"

namespace chat {

class CQqLocalUser;
class DBITEM_QqFriend;

// The header of every QQ chat CSV table.
inline constexpr char kQqChatsCsvHeader[] = "对话分组名,QQ帐号,消息时间,消息类别,聊天内容\r\n";

// Writes the conversations of selection (in order; other records are passed
// over) through writer, whose category was begun, and finishes it. A
// conversation without any message gets no page; a picture message shows
// the program's placeholder picture. Returns Finish's status: ok,
// or unreadable naming what could not be written.
base::Status ExportQqChats(exporting::CExportWriter& writer, CQqLocalUser& account,
                           const std::vector<db::BaseItem*>& selection);

// A conversation as the chat site shows it. conversation must outlive the
// view.
std::unique_ptr<exporting::ChatConversation> QqConversationView(const DBITEM_QqFriend& conversation);

}  // namespace chat
