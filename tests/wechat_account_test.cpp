#include "base/categories.h"
#include "chat/wechat_account.h"
#include "chat/wechat_contacts.h"
#include "chat/wechat_tagged.h"
#include "testing/sample_wechat.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <memory>
#include <string>
#include <vector>

#include "backup/file_list_db.h"
#include "export/export_writer.h"
#include "platform/fs.h"
#include "testing/sample_backup.h"
#include "testing/sql_literal.h"

namespace {

using chat::CLocalUserList;
using chat::CWxLocalUser;
using chat::DBITEM_WxFriend;
using Bytes = std::vector<std::uint8_t>;
using sample::BackupMode;
using sample::PlistNode;
using sample::WxFriendShape;

Bytes B(std::initializer_list<int> values) {
  Bytes out;
  for (int v : values) out.push_back(static_cast<std::uint8_t>(v));
  return out;
}

Bytes Concat(Bytes head, const std::string& text, Bytes tail = {}) {
  head.insert(head.end(), text.begin(), text.end());
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

// --- tagged fields, profiles, digests -------------------------------------

struct TaggedCase {
  const char* name;
  Bytes data;
  std::vector<std::pair<int, std::string>> expected;
};

TEST(DecodeTagged, ReadsFieldsAndStopsAtDamage) {
  const std::string longText(200, 'x');
  const std::vector<TaggedCase> cases = {
      {"two fields", Concat(B({0x0A, 3}), "abc", Concat(B({0x12, 2}), "de")), {{0x0A, "abc"}, {0x12, "de"}}},
      {"fixed-width tags stepped over", Concat(B({0x18, 0x01, 0x02, 0xE4, 0, 0, 0x0A, 1}), "z"), {{0x0A, "z"}}},
      {"two-byte length", Concat(B({0x32, 0xC8, 0x01}), longText), {{0x32, longText}}},
      {"text cut at a zero byte", Concat(B({0x0A, 4}), std::string("ab\0c", 4)), {{0x0A, "ab"}}},
      {"empty field kept", Concat(B({0x0A, 0, 0x12, 1}), "q"), {{0x0A, ""}, {0x12, "q"}}},
      {"length past the end stops", Concat(B({0x0A, 1}), "a", Concat(B({0x12, 9}), "bc")), {{0x0A, "a"}}},
      {"length cut off stops", B({0x0A, 0x80, 0x80}), {}},
      {"five continuation bytes stop", B({0x0A, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0x41}), {}},
      {"too short to hold a field", B({0x0A, 0}), {}},
      {"empty", {}, {}},
  };
  for (const TaggedCase& c : cases) {
    SCOPED_TRACE(c.name);
    const auto fields = chat::DecodeTagged(c.data);
    ASSERT_EQ(fields.size(), c.expected.size());
    for (std::size_t i = 0; i < fields.size(); ++i) {
      EXPECT_EQ(fields[i].tag, c.expected[i].first);
      EXPECT_EQ(fields[i].text, c.expected[i].second);
    }
  }
}

struct ProfileCase {
  const char* name;
  Bytes data;
  std::string address;
  std::string signature;
};

TEST(DecodeProfile, ReadsPiecesWithinTheBlob) {
  const Bytes full = sample::WxProfileBlob("广东", "深圳", "南山", "山高水长");
  Bytes firstLengthHigh = full;
  firstLengthHigh[3] = 100;
  Bytes firstLengthNegative = full;
  firstLengthNegative[3] = 0xE6;
  const std::vector<ProfileCase> cases = {
      {"all pieces", full, "广东/深圳 南山", "山高水长"},
      {"no city", sample::WxProfileBlob("北京", "", "海淀", "hi"), "北京 海淀", "hi"},
      {"province only", sample::WxProfileBlob("上海", "", "", ""), "上海", ""},
      {"four bytes", B({0, 0, 0, 2}), "", ""},
      {"first length 0", B({0, 0, 0, 0, 'a', 'b', 'c'}), "", ""},
      {"first length 100", firstLengthHigh, "", ""},
      {"first length negative", firstLengthNegative, "", ""},
      {"province past the end", B({0, 0, 0, 9, 'a', 'b'}), "", ""},
      {"cut inside the city", Bytes(full.begin(), full.begin() + 12), "广东", ""},
      {"cut before the signature", Bytes(full.begin(), full.begin() + 28), "广东/深圳 南山", ""},
  };
  for (const ProfileCase& c : cases) {
    SCOPED_TRACE(c.name);
    const chat::ProfileFields fields = chat::DecodeProfile(c.data);
    EXPECT_EQ(fields.address, c.address);
    EXPECT_EQ(fields.signature, c.signature);
  }
  // Every prefix of a real blob decodes without reading past it (checked by
  // the sanitizers) and never yields more than the whole blob does.
  for (std::size_t size = 0; size <= full.size(); ++size) {
    const chat::ProfileFields fields = chat::DecodeProfile(std::span(full.data(), size));
    EXPECT_LE(fields.address.size(), std::string("广东/深圳 南山").size());
  }
}

TEST(Md5Hex, MatchesTheRfcVectors) {
  EXPECT_EQ(chat::Md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(chat::Md5Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(chat::Md5Hex("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
  EXPECT_EQ(chat::Md5Hex("wxid_velmora01"), sample::WxUserMd5("wxid_velmora01"));
}

// --- classification and member lists --------------------------------------

TEST(ClassifyContact, FollowsNameTypeAndBrand) {
  struct Case {
    const char* userName;
    int type;
    const char* brand;
    int kind;
  };
  const Case cases[] = {
      {"gh_abc", 3, "", 4},          {"GH_abc", 1, "", 4},         {"123@chatroom", 3, "", 2},
      {"wxid_abc", 0, "", 1},        {"WXID_abc", 2, "x", 1},      {"chosen", 3, "", 1},
      {"chosen", 3, "brand", 4},     {"chosen", 2, "", 4},         {"chosen", 33, "", 4},
      {"chosen", 4, "brand", 1},     {"gh_x@chatroom", 33, "", 4}, {"x@chatroom", 33, "", 2},
  };
  for (const Case& c : cases) {
    DBITEM_WxFriend contact;
    contact.userName = c.userName;
    contact.type = c.type;
    contact.brand = c.brand;
    EXPECT_EQ(chat::ClassifyContact(contact), c.kind) << c.userName << " type " << c.type << " brand " << c.brand;
  }
}

TEST(AvatarUrlOf, TakesTheUrlUpToTheSeparator) {
  EXPECT_EQ(chat::AvatarUrlOf(std::string("\x12\x05http://a/132\x1A\x04http://a/0")), "http://a/132");
  EXPECT_EQ(chat::AvatarUrlOf("xxhttp://a/132"), "http://a/132");
  EXPECT_EQ(chat::AvatarUrlOf("https://a/132"), "https://a/132");
  EXPECT_EQ(chat::AvatarUrlOf(""), "");
}

TEST(ParseRoomMembers, ReadsMemberElementsOnly) {
  const std::string xml =
      "<RoomData><Member UserName=\"wxid_a\"><DisplayName>阿</DisplayName><Flag>5</Flag>"
      "<InviterUserName>wxid_b</InviterUserName><Other>x</Other></Member>"
      "<Owner UserName=\"wxid_o\"/><MemberX UserName=\"wxid_c\"/><Member><Flag>1</Flag></Member></RoomData>";
  const chat::WxFriendList members = chat::ParseRoomMembers(xml, nullptr);
  ASSERT_EQ(members.size(), 2u);
  EXPECT_EQ(members[0]->userName, "wxid_a");
  EXPECT_EQ(members[0]->DisplayName(), "阿");
  EXPECT_EQ(members[0]->memberFlag, 5);
  EXPECT_EQ(members[0]->inviterUserName, "wxid_b");
  EXPECT_EQ(members[1]->userName, "wxid_c");
  EXPECT_EQ(members[1]->memberFlag, -1);
  EXPECT_TRUE(chat::ParseRoomMembers("not <xml", nullptr).empty());
  EXPECT_TRUE(chat::ParseRoomMembers("", nullptr).empty());
}

// --- registering contacts ------------------------------------------------

std::unique_ptr<DBITEM_WxFriend> Contact(const std::string& userName, int type = 3) {
  auto contact = std::make_unique<DBITEM_WxFriend>();
  contact->userName = userName;
  contact->type = type;
  return contact;
}

std::unique_ptr<DBITEM_WxFriend> Room(const std::string& userName, const std::vector<sample::WxRoomMember>& members) {
  auto room = Contact(userName, 2);
  room->chatRoomData = sample::WxChatRoomBlob(members);
  return room;
}

class RegisterContactTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto account = std::make_unique<CWxLocalUser>();
    account->userName = "wxid_me";
    account->DisplayName() = "我";
    me_ = CWxLocalUser::AddAccount(list_, std::move(account));
  }
  DBITEM_WxFriend* Register(std::unique_ptr<DBITEM_WxFriend> contact, int kind, bool replace) {
    DBITEM_WxFriend* made = contact.get();
    DBITEM_WxFriend* existing = nullptr;
    return me_->RegisterContact(contact, kind, replace, &existing) == 1 ? made : existing;
  }

  CLocalUserList list_;
  CWxLocalUser* me_ = nullptr;
};

TEST_F(RegisterContactTest, AccountRegistersItself) {
  EXPECT_EQ(me_->index, 0);
  EXPECT_EQ(me_->FindContact("wxid_me"), me_);
  EXPECT_EQ(me_->kind, chat::kWxKindAccount);
  EXPECT_EQ(me_->userMd5, chat::Md5Hex("wxid_me"));
  EXPECT_TRUE(me_->contacts.empty());
}

TEST_F(RegisterContactTest, MemberKnownAsFriendIsLinkedNotCopied) {
  DBITEM_WxFriend* friendRecord = Register(Contact("wxid_f"), -1, true);
  DBITEM_WxFriend* room = Register(Room("1@chatroom", {{"wxid_f", "F", "wxid_me", 1}, {"wxid_new", "N", "", 2}, {"wxid_me", "", "", 0}}), -1, true);
  ASSERT_EQ(room->members.size(), 3u);
  EXPECT_EQ(room->members[0], friendRecord);
  EXPECT_EQ(friendRecord->memberOf, std::vector<DBITEM_WxFriend*>{room});
  EXPECT_EQ(room->members[1]->userName, "wxid_new");
  EXPECT_EQ(room->members[1]->kind, chat::kWxKindFriend);
  EXPECT_EQ(room->members[1]->memberFlag, 2);
  EXPECT_EQ(room->members[1]->DisplayName(), "N");
  EXPECT_EQ(room->members[2], me_);
  EXPECT_EQ(room->kind, chat::kWxKindChatRoom);
  EXPECT_EQ(me_->contacts.size(), 3u);  // friend, room, new member
}

TEST_F(RegisterContactTest, ReplacingKeepsRoomLinksAndMemberData) {
  Register(Room("1@chatroom", {{"wxid_f", "F", "wxid_inv", 7}}), -1, true);
  DBITEM_WxFriend* room = me_->FindContact("1@chatroom");
  auto second = Contact("wxid_f");
  second->remarks = {" Fay "};
  DBITEM_WxFriend* replacement = Register(std::move(second), -1, true);
  EXPECT_EQ(me_->FindContact("wxid_f"), replacement);
  EXPECT_EQ(room->members, std::vector<DBITEM_WxFriend*>{replacement});
  EXPECT_EQ(replacement->memberOf, std::vector<DBITEM_WxFriend*>{room});
  EXPECT_EQ(replacement->inviterUserName, "wxid_inv");
  EXPECT_EQ(replacement->memberFlag, 7);
  EXPECT_EQ(replacement->DisplayName(), "Fay");
  EXPECT_EQ(me_->contacts.size(), 2u);

  // Replacing the room: its members forget the old room, link the new one.
  DBITEM_WxFriend* newRoom = Register(Room("1@chatroom", {{"wxid_f", "F", "", 0}}), -1, true);
  EXPECT_EQ(replacement->memberOf, std::vector<DBITEM_WxFriend*>{newRoom});
  EXPECT_EQ(newRoom->members, std::vector<DBITEM_WxFriend*>{replacement});
  EXPECT_EQ(me_->contacts.size(), 2u);
}

TEST_F(RegisterContactTest, RoomListingItselfAndTheAccountIsReplacedCleanly) {
  DBITEM_WxFriend* room = Register(Room("5@chatroom", {{"5@chatroom", "", "", 0}, {"wxid_me", "", "", 0}}), -1, true);
  EXPECT_EQ(room->members, (std::vector<DBITEM_WxFriend*>{room, me_}));
  EXPECT_EQ(me_->memberOf, std::vector<DBITEM_WxFriend*>{room});
  DBITEM_WxFriend* again = Register(Room("5@chatroom", {{"wxid_me", "", "", 0}}), -1, true);
  EXPECT_EQ(me_->memberOf, std::vector<DBITEM_WxFriend*>{again});
  EXPECT_EQ(again->members, std::vector<DBITEM_WxFriend*>{me_});
  EXPECT_EQ(me_->contacts.size(), 1u);
  me_->Reset();
  EXPECT_TRUE(me_->memberOf.empty());
  EXPECT_EQ(me_->FindContact("wxid_me"), me_);
  EXPECT_EQ(me_->FindContact("5@chatroom"), nullptr);
}

TEST_F(RegisterContactTest, NoReplaceHandsBackTheExistingOne) {
  DBITEM_WxFriend* first = Register(Contact("wxid_f"), -1, true);
  auto second = Contact("wxid_f");
  DBITEM_WxFriend* existing = nullptr;
  EXPECT_EQ(me_->RegisterContact(second, 5, false, &existing), 0);
  EXPECT_EQ(existing, first);
  EXPECT_NE(second, nullptr);  // still the caller's
}

TEST_F(RegisterContactTest, RowNamingTheAccountNeverReplacesIt) {
  auto row = Contact("wxid_me");
  row->headImageText = "http://a/132";
  EXPECT_EQ(me_->RegisterContact(row, -1, true), 0);
  EXPECT_EQ(me_->FindContact("wxid_me"), me_);
  EXPECT_EQ(me_->AvatarUrl(), "http://a/132");
  EXPECT_TRUE(me_->contacts.empty());
}

// --- discovery and analysis over sample backups ---------------------------

class WeChatBackup {
 public:
  WeChatBackup(const sample::SampleBackupBuilder& builder, BackupMode mode) {
    builder.Write(root_.Path(), mode);
    EXPECT_TRUE(index_.Open(root_.Path().string(), 0).Ok());
  }
  backup::CFileListDB& Index() { return index_; }

 private:
  platform::TempFolder root_{"velmora-wxtest"};
  backup::CFileListDB index_;
};

struct ModeCase {
  const char* name;
  BackupMode mode;
};
constexpr ModeCase kModes[] = {
    {"manifest db", BackupMode::kManifestDb},
    {"manifest mbdb", BackupMode::kManifestMbdb},
    {"folder", BackupMode::kFolder},
};

void AddArchive(sample::SampleBackupBuilder& builder, const std::string& folder, const Bytes& bytes) {
  builder.AddFile(sample::kWxDomain, "Documents/" + folder + "/mmsetting.archive", bytes);
}

std::vector<PlistNode> Objects(std::size_t count) {
  std::vector<PlistNode> objects;
  for (std::size_t i = 0; i < count; ++i) objects.push_back(PlistNode::Text("t" + std::to_string(i)));
  return objects;
}

TEST(FindWxUsers, ReadsEachArchiveOnItsOwn) {
  sample::SampleBackupBuilder builder;
  AddArchive(builder, "a6", sample::WxKeyedArchive(Objects(6)));
  AddArchive(builder, "b7", sample::WxKeyedArchive(Objects(7)));
  AddArchive(builder, "c-damaged", {'b', 'p', 'l', 'i', 's', 't', '0', '0', 1, 2, 3});
  auto badType = Objects(7);
  badType[3] = PlistNode::Integer(5);
  AddArchive(builder, "d-type", sample::WxKeyedArchive(badType));
  auto skipsNumber = Objects(30);
  skipsNumber[16] = PlistNode::Text("0");
  skipsNumber[17] = PlistNode::Integer(1);
  skipsNumber[19] = PlistNode::Text("0");
  skipsNumber[20] = PlistNode::Text("my_id");
  AddArchive(builder, "e-id", sample::WxKeyedArchive(skipsNumber));
  auto placeholder = Objects(30);
  placeholder[15] = PlistNode::Text("0");
  placeholder[16] = PlistNode::Text("xa3a0a1d40d920668522x");
  AddArchive(builder, "f-placeholder", sample::WxKeyedArchive(placeholder));
  sample::WxSettings settings;
  AddArchive(builder, "g-full", sample::WxKeyedArchive(sample::WxSettingsObjects(settings)));

  for (const ModeCase& mode : kModes) {
    SCOPED_TRACE(mode.name);
    WeChatBackup backup(builder, mode.mode);
    CLocalUserList list;
    ASSERT_EQ(list.FindLocalUsers(&backup.Index(), base::kCategoryWeChat), 1);
    std::vector<std::string> names;
    for (const auto& account : list.wxUsers) names.push_back(account->userName);
    std::sort(names.begin(), names.end());
    ASSERT_EQ(names, (std::vector<std::string>{"t2", "t2", "t2", "wxid_velmora01"}));
    for (const auto& account : list.wxUsers) {
      EXPECT_EQ(account->index, &account - &list.wxUsers[0]);
      if (account->userName == "wxid_velmora01") {
        EXPECT_EQ(account->alias, "lin_xiaoyu");
        EXPECT_EQ(account->DisplayName(), "林小雨");
        EXPECT_EQ(account->phoneNumber, "13800138000");
        EXPECT_EQ(account->email, "lin@example.com");
        EXPECT_EQ(account->avatarLargeUrl, settings.avatarLarge);
        EXPECT_EQ(account->AvatarUrl(), settings.avatarSmall);
        EXPECT_EQ(account->userMd5, sample::WxUserMd5("wxid_velmora01"));
        EXPECT_EQ(account->archiveFolder.empty(), mode.mode != BackupMode::kFolder);
      } else {
        EXPECT_TRUE(account->alias == "t2" || account->alias == "my_id") << account->alias;
        EXPECT_EQ(account->DisplayName(), "t3");
      }
    }
    EXPECT_EQ(std::count_if(list.wxUsers.begin(), list.wxUsers.end(), [](const auto& a) { return a->alias == "my_id"; }), 1);
  }
}

TEST(FindLocalUsers, AnswersByCategoryAndSource) {
  sample::SampleBackupBuilder empty;
  empty.AddText("HomeDomain", "Library/Preferences/x.plist", "x");
  for (const ModeCase& mode : kModes) {
    SCOPED_TRACE(mode.name);
    WeChatBackup backup(empty, mode.mode);
    CLocalUserList list;
    EXPECT_EQ(list.FindLocalUsers(&backup.Index(), base::kCategoryWeChatContacts), 0);
    EXPECT_EQ(list.FindLocalUsers(&backup.Index(), 7), 1);
    EXPECT_TRUE(list.wxUsers.empty());
    std::string shown;
    list.showMessage = [&shown](const std::string& text, const std::string&) { shown = text; };
    EXPECT_EQ(list.AnalyseWxUsers(), 1);
    EXPECT_EQ(shown, chat::kNoWeChatAccountText);
    EXPECT_EQ(list.wxAnalysedAt, 0);
  }
  // A folder of app files with a message database but no settings archive.
  sample::SampleBackupBuilder appFolder;
  appFolder.AddDatabase(sample::kWxDomain, "DB/MM.sqlite", sample::SqliteFile("CREATE TABLE Chat(x);"));
  appFolder.AddDatabase(sample::kWxDomain, "DB/WCDB_Contact.sqlite",
                        sample::SqliteFile(sample::WxSampleContactsSql(WxFriendShape::kNameFirst)));
  WeChatBackup folder(appFolder, BackupMode::kFolder);
  CLocalUserList list;
  ASSERT_EQ(list.FindLocalUsers(&folder.Index(), base::kCategoryWeChatAttachments), 1);
  ASSERT_EQ(list.wxUsers.size(), 1u);
  EXPECT_EQ(list.wxUsers[0]->userName, chat::kUnknownLocalUser);
  EXPECT_EQ(list.AnalyseWxUsers(), 1);
  EXPECT_NE(list.wxUsers[0]->FindContact("wxid_wangfang"), nullptr);
  WeChatBackup manifest(appFolder, BackupMode::kManifestDb);
  CLocalUserList none;
  EXPECT_EQ(none.FindLocalUsers(&manifest.Index(), base::kCategoryWeChatContacts), 0);
}

struct Expected {
  const char* userName;
  int kind;
  const char* displayName;
  int deleted;
};

TEST(AnalyseWxUsers, LoadsLiveAndDeletedContactsInEveryMode) {
  const Expected expected[] = {
      {"wxid_wangfang", 1, "王芳", 0},     {"zhangwei88", 1, "张伟", 0},
      {"gh_3dfda90e39d6", 4, "腾讯新闻", 0}, {"cmbchina", 4, "招商银行", 0},
      {"20200101@chatroom", 2, "周末爬山群", 0}, {"wxid_member2", 1, "李雷", 0},
      {"wxid_gone", 5, "赵六", 1},
  };
  for (const WxFriendShape shape : {WxFriendShape::kNameFirst, WxFriendShape::kNameLast}) {
    sample::SampleBackupBuilder builder;
    sample::AddWeChatAccount(builder, sample::WxSampleSettings(), sample::WxSampleContactsSql(shape));
    for (const ModeCase& mode : kModes) {
      SCOPED_TRACE(std::string(mode.name) + (shape == WxFriendShape::kNameFirst ? " name first" : " name last"));
      WeChatBackup backup(builder, mode.mode);
      CLocalUserList list;
      ASSERT_EQ(list.FindLocalUsers(&backup.Index(), base::kCategoryWeChatContacts), 1);
      ASSERT_EQ(list.wxUsers.size(), 1u);
      EXPECT_EQ(list.AnalyseWxUsers(), 1);
      CWxLocalUser& me = *list.wxUsers[0];
      ASSERT_NE(me.contactDb, nullptr);
      EXPECT_EQ(me.messageDbs.size(), 1u);
      EXPECT_EQ(me.sessionDb, nullptr);
      EXPECT_EQ(me.friendColumns.size(), 16u);
      EXPECT_EQ(me.contacts.size(), std::size(expected));
      for (const Expected& e : expected) {
        const DBITEM_WxFriend* contact = me.FindContact(e.userName);
        ASSERT_NE(contact, nullptr) << e.userName;
        EXPECT_EQ(contact->kind, e.kind) << e.userName;
        EXPECT_EQ(contact->DisplayName(), e.displayName) << e.userName;
        EXPECT_EQ(contact->deleted, e.deleted) << e.userName;
        EXPECT_EQ(contact->owner, &me);
        EXPECT_EQ(contact->userMd5, chat::Md5Hex(e.userName));
      }
      const DBITEM_WxFriend* wang = me.FindContact("wxid_wangfang");
      EXPECT_EQ(wang->address, "广东/深圳 南山");
      EXPECT_EQ(wang->signature, "山高水长");
      EXPECT_EQ(wang->remarks, (std::vector<std::string>{"  王芳 ", "wangfang_1990", "芳芳"}));
      EXPECT_EQ(wang->AvatarUrl(), "http://wx.qlogo.cn/mmhead/ver_1/wangfang/132");
      const DBITEM_WxFriend* room = me.FindContact("20200101@chatroom");
      ASSERT_EQ(room->members.size(), 3u);
      EXPECT_EQ(room->members[0], wang);
      EXPECT_EQ(wang->memberOf, std::vector<DBITEM_WxFriend*>{const_cast<DBITEM_WxFriend*>(room)});
      EXPECT_EQ(room->members[2], &me);
      EXPECT_EQ(me.FindContact("wxid_velmora01"), &me);
      EXPECT_EQ(me.alias, "lin_xiaoyu");
      EXPECT_EQ(me.address, "北京/海淀");  // from the account's own row
      // The recovered contact carries its row's values; the older deleted row
      // of a live name did not displace the live one.
      const DBITEM_WxFriend* gone = me.FindContact("wxid_gone");
      EXPECT_EQ(gone->AvatarUrl(), "http://wx.qlogo.cn/mmhead/ver_1/gone/132");
      EXPECT_EQ(gone->address, "四川/成都");
      EXPECT_EQ(gone->type, 3);
      EXPECT_EQ(me.FindContact("zhangwei88")->AvatarUrl(), "http://wx.qlogo.cn/mmhead/ver_1/zhangwei/132");
    }
  }
}

// The Friend table as a public dump of the app's contact database shows it
// (14 columns, user name first): live rows load by their column names and a
// deleted row comes back through the name-first layout.
TEST(AnalyseWxUsers, ReadsTheFriendTableOfARealSchema) {
  const std::filesystem::path schemaFile =
      std::filesystem::path(VELMORA_SHARED_DIR) / "ios-schemas" / "WCDB_Contact.sqlite__wechat_ios.sql";
  std::ifstream in(schemaFile);
  if (!in) GTEST_SKIP() << "no schema file at " << schemaFile;
  std::stringstream schema;
  schema << in.rdbuf();
  auto insert = [](const std::string& name, const std::string& remark, const std::string& signature) {
    return "INSERT INTO Friend(userName,type,certificationFlag,imgStatus,dbContactRemark,dbContactHeadImage,"
           "dbContactProfile) VALUES(" + sample::SqlText(name) + ",3,0,1," +
           sample::SqlBlob(sample::WxTaggedBlob({{0x0A, remark}})) + "," +
           sample::SqlBlob(sample::WxHeadImageBlob("http://wx.qlogo.cn/mmhead/" + name + "/132")) + "," +
           sample::SqlBlob(sample::WxProfileBlob("江苏", "南京", "", signature)) + ");";
  };
  const std::string sql = schema.str() + insert("wxid_live", "活着", "签名") +
                          insert("wxid_removed", "删掉的朋友", "一个足够长的签名让这一行超过一百二十八字节") +
                          "DELETE FROM Friend WHERE userName='wxid_removed';";
  sample::SampleBackupBuilder builder;
  sample::AddWeChatAccount(builder, sample::WxSampleSettings(), sql);
  WeChatBackup backup(builder, BackupMode::kManifestDb);
  CLocalUserList list;
  ASSERT_EQ(list.FindLocalUsers(&backup.Index(), base::kCategoryWeChatContacts), 1);
  ASSERT_EQ(list.AnalyseWxUsers(), 1);
  const CWxLocalUser& me = *list.wxUsers[0];
  EXPECT_EQ(me.friendColumns.size(), 14u);
  const DBITEM_WxFriend* live = me.FindContact("wxid_live");
  ASSERT_NE(live, nullptr);
  EXPECT_EQ(live->DisplayName(), "活着");
  EXPECT_EQ(live->address, "江苏/南京");
  EXPECT_EQ(live->signature, "签名");
  const DBITEM_WxFriend* removed = me.FindContact("wxid_removed");
  ASSERT_NE(removed, nullptr);
  EXPECT_EQ(removed->kind, chat::kWxKindRecovered);
  EXPECT_EQ(removed->DisplayName(), "删掉的朋友");
  EXPECT_EQ(me.contacts.size(), 2u);
}

TEST(AnalyseWxUsers, RunsAgainOnlyAfterAnHour) {
  sample::SampleBackupBuilder builder;
  sample::AddWeChatApp(builder);
  WeChatBackup backup(builder, BackupMode::kManifestDb);
  CLocalUserList list;
  ASSERT_EQ(list.FindLocalUsers(&backup.Index(), base::kCategoryWeChatContacts), 1);
  ASSERT_EQ(list.AnalyseWxUsers(), 1);
  EXPECT_GT(list.wxAnalysedAt, 0);
  const std::size_t contactCount = list.wxUsers[0]->contacts.size();
  const DBITEM_WxFriend* first = list.wxUsers[0]->FindContact("wxid_wangfang");
  ASSERT_NE(first, nullptr);
  list.wxUsers[0]->DisplayName() = "marker";
  ASSERT_EQ(list.AnalyseWxUsers(), 1);
  EXPECT_EQ(list.wxUsers[0]->FindContact("wxid_wangfang"), first);  // untouched
  list.wxAnalysedAt -= 3601;
  ASSERT_EQ(list.AnalyseWxUsers(), 1);
  EXPECT_EQ(list.wxUsers[0]->contacts.size(), contactCount);
  EXPECT_NE(list.wxUsers[0]->FindContact("wxid_wangfang"), nullptr);
  EXPECT_GE(list.wxAnalysedAt, static_cast<std::int64_t>(std::time(nullptr)) - 5);
}

TEST(OpenAccountDatabases, MissingContactDatabaseOpensNothing) {
  sample::SampleBackupBuilder builder;
  builder.AddFile(sample::kWxDomain, "Documents/x/mmsetting.archive",
                  sample::WxKeyedArchive(sample::WxSettingsObjects(sample::WxSettings{})));
  for (const ModeCase& mode : kModes) {
    SCOPED_TRACE(mode.name);
    WeChatBackup backup(builder, mode.mode);
    CLocalUserList list;
    ASSERT_EQ(list.FindLocalUsers(&backup.Index(), base::kCategoryWeChatContacts), 1);
    ASSERT_EQ(list.wxUsers.size(), 1u);
    EXPECT_FALSE(list.wxUsers[0]->OpenAccountDatabases(0, &backup.Index()));
    EXPECT_EQ(list.wxUsers[0]->contactDb, nullptr);
    EXPECT_TRUE(list.wxUsers[0]->messageDbs.empty());
  }
}

TEST(WriteWxContactsCsv, WritesOneLinePerContactWithMembers) {
  CLocalUserList list;
  auto account = std::make_unique<CWxLocalUser>();
  account->userName = "wxid_me";
  CWxLocalUser* me = CWxLocalUser::AddAccount(list, std::move(account));
  auto room = Room("9@chatroom", {{"wxid_a", "阿", "", 0}, {"wxid_b", "Bo, Jr.", "", 0}});
  room->remarks = {"家人"};
  DBITEM_WxFriend* roomRecord = room.get();
  ASSERT_EQ(me->RegisterContact(room, -1, true), 1);
  auto gone = Contact("wxid_gone");
  gone->signature = "a,b";
  DBITEM_WxFriend* goneRecord = gone.get();
  ASSERT_EQ(me->RegisterContact(gone, chat::kWxKindRecovered, false), 1);
  db::BaseItem notAContact;

  exporting::CExportWriter writer(nullptr, 1);
  chat::WriteWxContactsCsv(writer, {roomRecord, &notAContact, goneRecord});
  const std::string csv = writer.CsvText();
  EXPECT_NE(csv.find(chat::kWxContactsCsvHeader), std::string::npos) << csv;
  EXPECT_NE(csv.find("9@chatroom,家人,,,家人,,,"), std::string::npos) << csv;
  // A comma inside a member's name or a signature stays inside its field.
  EXPECT_EQ(csv.find("阿;Bo, Jr.;\r\n"), std::string::npos) << csv;
  EXPECT_NE(csv.find("阿;Bo"), std::string::npos) << csv;
  EXPECT_NE(csv.find("wxid_gone,wxid_gone,,,,"), std::string::npos) << csv;
  EXPECT_EQ(csv.find("a,b"), std::string::npos) << csv;
}

TEST(SystemMessageContact, IsOneLastingContact) {
  DBITEM_WxFriend& system = chat::SystemMessageContact();
  EXPECT_EQ(&system, &chat::SystemMessageContact());
  EXPECT_EQ(system.userName, "系统消息");
  EXPECT_EQ(system.DisplayName(), "系统消息");
  EXPECT_EQ(system.owner, nullptr);
}

}  // namespace
