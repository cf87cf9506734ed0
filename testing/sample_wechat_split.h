#pragma once
// A second sample WeChat account laid out as current builds keep it: the
// conversations' tables spread over DB/message_1.sqlite and
// DB/message_2.sqlite, one conversation begun in the older DB/MM.sqlite and
// continued in message_1.sqlite, with deleted rows left in the message
// files. For the message reader's tests and the demo backup.
//
// The account wxid_velmora02 (陈晨) and its contacts:
//   wxid_lihua (李华): MM.sqlite holds "新年快乐！" and "同乐同乐";
//     message_1.sqlite holds "同乐同乐" again (the same message, server ID
//     9002), "最近好吗？", "挺好的，你呢" and, deleted, "周末一起吃饭吧，
//     老地方见，不见不散".
//   wxid_zhaolei (赵磊): message_1.sqlite only, "文件收到了" and "好的".
//   30300303@chatroom (家人群, members wxid_lihua and wxid_mom): in
//     message_2.sqlite: "wxid_mom:\n晚饭做好了", deleted
//     "wxid_lihua:\n我晚点到，你们先吃，给我留点菜", and the account's "马上回来",
//     which is still in the file's -wal log only.
//   A conversation whose table was dropped from message_2.sqlite (its
//   contact gone too): its row "这个对话已经删除了" is on a free page, told by
//   no table and no index, so it lands in "未知好友_0".
//
// Functions are pure and may be called from any thread.

#include "testing/sample_backup.h"
#include "testing/sample_wechat.h"

namespace sample {

WxSettings WxSplitSettings();
// Adds the account's files below Documents/<md5>/.
void AddWeChatSplitAccount(SampleBackupBuilder& builder);

}  // namespace sample
