#include "testing/sample_wechat_split.h"

#include <string>
#include <vector>

#include "testing/sample_wechat_messages.h"

namespace sample {
namespace {

constexpr auto kDeclared = WxChatOrder::kTableVerFirst;
constexpr char kLiHua[] = "wxid_lihua";
constexpr char kZhaoLei[] = "wxid_zhaolei";
constexpr char kMom[] = "wxid_mom";
constexpr char kFamily[] = "30300303@chatroom";
constexpr char kDroppedFriend[] = "wxid_oldfriend";

std::string ContactsSql(const WxSettings& self) {
  constexpr auto kShape = WxFriendShape::kNameFirst;
  std::string sql = WxFriendSchemaSql(kShape);
  auto insert = [&sql](const std::string& userName, int type, const std::string& name,
                       std::vector<WxRoomMember> members = {}) {
    WxFriendRow row;
    row.userName = userName;
    row.type = type;
    row.remarks = {{0x0A, name}};
    row.roomMembers = std::move(members);
    sql += InsertWxFriendSql(row, kShape);
  };
  insert(self.userName, 3, self.displayName);
  insert(kLiHua, 3, "李华");
  insert(kZhaoLei, 3, "赵磊");
  insert(kMom, 3, "妈妈");
  insert(kFamily, 2, "家人群", {{kLiHua, "华", self.userName, 0}, {kMom, "妈", self.userName, 0}});
  return sql;
}

std::string Rows(const std::string& userMd5, const std::vector<WxChatRow>& rows) {
  std::string sql;
  for (const WxChatRow& row : rows) sql += InsertWxChatSql(userMd5, row, kDeclared);
  return sql;
}

}  // namespace

WxSettings WxSplitSettings() {
  WxSettings settings;
  settings.userName = "wxid_velmora02";
  settings.displayName = "陈晨";
  settings.weChatId = "chen_chen";
  settings.avatarSmall = "http://wx.qlogo.cn/mmhead/ver_1/velmora02/132";
  settings.avatarLarge = "http://wx.qlogo.cn/mmhead/ver_1/velmora02/0";
  return settings;
}

void AddWeChatSplitAccount(SampleBackupBuilder& builder) {
  const WxSettings settings = WxSplitSettings();
  const std::string lihua = WxUserMd5(kLiHua);
  const std::string zhaolei = WxUserMd5(kZhaoLei);
  const std::string family = WxUserMd5(kFamily);
  const std::string dropped = WxUserMd5(kDroppedFriend);

  // Fields: local ID, time, text, type, direction (0 sent), server ID.
  const std::string older = WxChatTableSql(lihua, kDeclared) +
                            Rows(lihua, {{1, 1580000000, "新年快乐！", 1, 1, 9001},
                                         {2, 1580000060, "同乐同乐", 1, 0, 9002}});
  AddWeChatAccount(builder, settings, ContactsSql(settings), older);

  const std::string folder = "Documents/" + WxUserMd5(settings.userName) + "/DB/";
  std::string first = WxChatTableSql(lihua, kDeclared) +
                      Rows(lihua, {{1, 1580000060, "同乐同乐", 1, 0, 9002},
                                   {2, 1700000000, "最近好吗？", 1, 1, 9003},
                                   {3, 1700000060, "挺好的，你呢", 1, 0, 9004},
                                   {4, 1700000120, "周末一起吃饭吧，老地方见，不见不散", 1, 1, 9005}}) +
                      DeleteWxChatSql(lihua, 4) + WxChatTableSql(zhaolei, kDeclared) +
                      Rows(zhaolei, {{1, 1700100000, "文件收到了", 1, 1, 9101}, {2, 1700100060, "好的", 1, 0, 9102}});
  builder.AddDatabase(kWxDomain, folder + "message_1.sqlite", SqliteFile(first));

  // The dropped conversation's page goes to the free list with its cell.
  const std::string setup = WxChatTableSql(family, kDeclared) + WxChatTableSql(dropped, kDeclared) +
                            Rows(dropped, {{1, 1650000000, "这个对话已经删除了", 1, 1, 9301}}) +
                            "DROP TABLE \"Chat_" + dropped + "\";" +
                            Rows(family, {{1, 1700200000, "wxid_mom:\n晚饭做好了", 1, 1, 9201},
                                          {3, 1700200120, "wxid_lihua:\n我晚点到，你们先吃，给我留点菜", 1, 1, 9203}}) +
                            DeleteWxChatSql(family, 3);
  const std::string recent = Rows(family, {{2, 1700200060, "马上回来", 1, 0, 9202}});
  builder.AddDatabase(kWxDomain, folder + "message_2.sqlite",
                      SqliteFile(setup, recent, SqliteFile::Journal::kWalPending));
}

}  // namespace sample
