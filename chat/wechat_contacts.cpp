#include "chat/wechat_contacts.h"

#include <algorithm>
#include <cstring>
#include <span>
#include <string_view>
#include <utility>

#include <pugixml.hpp>

#include "chat/wechat_account.h"
#include "chat/wechat_tagged.h"
#include "db/db_sqlite.h"
#include "db/text.h"
#include "db/undark/undark.h"
#include "export/export_writer.h"
#include "platform/fs.h"
#include "readers/table_rows.h"

namespace chat {
namespace {

using Bytes = std::span<const std::uint8_t>;

// The scanner layouts of the Friend table: user name first, or last.
constexpr int kFriendLayoutNameFirst = 13;
constexpr int kFriendLayoutNameLast = 18;
// dbContactHeadImage starts with a 4-byte field header before its text.
constexpr std::size_t kHeadImageHeaderBytes = 4;
// dbContactChatRoom's member list is the field of this tag.
constexpr std::uint8_t kRoomMemberListTag = 0x32;
constexpr char kUserNameColumn[] = "userName";
constexpr char kSystemMessageName[] = "系统消息";

// One cell of a Friend row, live or recovered, as the fields take it.
struct FriendCell {
  std::int64_t number = 0;
  std::string text;  // UTF-8, repaired
  Bytes bytes;       // as stored
};

std::string TextUpToZero(Bytes bytes) {
  const auto zero = std::find(bytes.begin(), bytes.end(), std::uint8_t{0});
  return db::RepairUtf8(std::string(bytes.begin(), zero));
}

std::vector<std::uint8_t> Copy(Bytes bytes) { return {bytes.begin(), bytes.end()}; }

std::string Trimmed(const std::string& text) {
  constexpr char kSpace[] = " \t\r\n\v\f";
  const auto first = text.find_first_not_of(kSpace);
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(kSpace) - first + 1);
}

void ApplyCell(DBITEM_WxFriend& contact, const std::string& column, const FriendCell& cell) {
  const auto narrow = static_cast<std::int32_t>(cell.number);  // kept in 32 bits, as stored by the app
  if (column == "userName") {
    contact.userName = cell.text;
  } else if (column == "type") {
    contact.type = narrow;
  } else if (column == "certificationFlag") {
    contact.certificationFlag = narrow;
  } else if (column == "imgStatus") {
    contact.imgStatus = narrow;
  } else if (column == "encodeUserName") {
    contact.encodeUserName = cell.text;
  } else if (column == "dbContactRemark") {
    for (TaggedField& field : DecodeTagged(cell.bytes)) {
      if (!field.text.empty()) contact.remarks.push_back(std::move(field.text));
    }
  } else if (column == "dbContactHeadImage") {
    if (cell.bytes.size() > kHeadImageHeaderBytes) {
      contact.headImageText = TextUpToZero(cell.bytes.subspan(kHeadImageHeaderBytes));
    }
  } else if (column == "dbContactProfile") {
    contact.profile = Copy(cell.bytes);
  } else if (column == "dbContactSocial") {
    contact.social = Copy(cell.bytes);
  } else if (column == "dbContactChatRoom") {
    contact.chatRoomData = Copy(cell.bytes);
  } else if (column == "dbContactBrand") {
    contact.brand = TextUpToZero(cell.bytes);
  } else if (column == "extFlag") {
    contact.extFlag = narrow;
  } else if (column == "openIMAppid") {
    contact.openIMAppid = cell.text;
  }
}

bool StartsWithIgnoringCase(const std::string& text, std::string_view prefix) {
  return text.size() >= prefix.size() && platform::AsciiLower(text.substr(0, prefix.size())) == prefix;
}

template <class List, class Value>
void AppendOnce(List& list, Value value) {
  if (std::find(list.begin(), list.end(), value) == list.end()) list.push_back(value);
}

}  // namespace

DBITEM_WxFriend::~DBITEM_WxFriend() = default;

DBITEM_WxFriend& SystemMessageContact() {
  static DBITEM_WxFriend* const contact = [] {
    auto* made = new DBITEM_WxFriend();  // lives for the process: messages of any account point at it
    made->userName = kSystemMessageName;
    made->DisplayName() = kSystemMessageName;
    made->userMd5 = Md5Hex(kSystemMessageName);
    return made;
  }();
  return *contact;
}

void ApplyFriendColumn(DBITEM_WxFriend& contact, const std::string& column, const db::CppSQLite3Query& query,
                       int index) {
  FriendCell cell;
  cell.number = query.GetInt64Field(index);
  cell.text = db::FieldText(query, index);
  cell.bytes = query.GetFieldBlob(index);
  ApplyCell(contact, column, cell);
}

void ApplyFriendValue(DBITEM_WxFriend& contact, const std::string& column, const db::undark::UndarkValue& value) {
  FriendCell cell;
  cell.number = db::undark::UndarkValueToInt64(value);
  cell.text = db::undark::UndarkValueText(value);
  cell.bytes = Bytes(reinterpret_cast<const std::uint8_t*>(value.text.data()), value.text.size());
  ApplyCell(contact, column, cell);
}

std::int32_t ClassifyContact(const DBITEM_WxFriend& contact) {
  if (StartsWithIgnoringCase(contact.userName, "gh_")) return kWxKindOfficial;
  if (contact.userName.find("@chatroom") != std::string::npos) return kWxKindChatRoom;
  if (contact.type > 3) return contact.type == 33 ? kWxKindOfficial : kWxKindFriend;
  if (StartsWithIgnoringCase(contact.userName, "wxid_")) return kWxKindFriend;
  return contact.type == 3 && contact.brand.empty() ? kWxKindFriend : kWxKindOfficial;
}

std::string AvatarUrlOf(const std::string& headImageText) {
  const auto start = headImageText.find("http://");
  if (start == std::string::npos) return headImageText;
  const auto end = headImageText.find('\x1A', start);
  return headImageText.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

WxFriendList ParseRoomMembers(const std::string& xml, CWxLocalUser* account) {
  WxFriendList members;
  pugi::xml_document document;
  if (!document.load_buffer(xml.data(), xml.size())) return members;
  const pugi::xml_node root = document.document_element();
  for (const pugi::xml_node element : root.children()) {
    if (element.type() != pugi::node_element || std::strncmp(element.name(), "Member", 6) != 0) continue;
    auto member = std::make_unique<DBITEM_WxFriend>();
    member->owner = account;
    member->userName = db::RepairUtf8(element.attribute("UserName").value());
    // A member without a name could only be filed under "", where every
    // other nameless member of every room would merge into it.
    if (member->userName.empty()) continue;
    for (const pugi::xml_node child : element.children()) {
      const std::string_view name = child.name();
      if (name == "Flag") {
        member->memberFlag = static_cast<std::int32_t>(child.text().as_llong());
      } else if (name == "InviterUserName") {
        member->inviterUserName = db::RepairUtf8(child.text().get());
      } else if (name == "DisplayName") {
        member->DisplayName() = db::RepairUtf8(child.text().get());
      }
    }
    members.push_back(std::move(member));
  }
  return members;
}

int RecoverDeletedContacts(CWxLocalUser& account) {
  const std::vector<std::string>& columns = account.friendColumns;
  if (!account.contactDb || columns.empty()) return 0;
  const bool nameLast = columns.back() == kUserNameColumn;
  const std::size_t nameIndex = nameLast ? columns.size() - 1 : 0;
  // A table whose user name is neither first nor last has no layout; its
  // first value would be taken for a name it is not.
  if (columns[nameIndex] != kUserNameColumn) return 0;
  const int layout = nameLast ? kFriendLayoutNameLast : kFriendLayoutNameFirst;
  int recovered = 0;
  const auto rebuild = [&](db::undark::UndarkRow& row) {
    if (row.size() <= nameIndex) return;
    const std::string name = db::undark::UndarkValueText(row[nameIndex]);
    if (name.empty() || account.FindContact(name) != nullptr) return;
    auto contact = std::make_unique<DBITEM_WxFriend>();
    const std::size_t count = std::min(row.size(), columns.size());
    for (std::size_t j = 0; j < count; ++j) ApplyFriendValue(*contact, columns[j], row[j]);
    contact->deleted = 1;
    if (account.RegisterContact(contact, kWxKindRecovered, false) == 1) ++recovered;
  };
  readers::ScanRows(*account.contactDb, layout, static_cast<int>(columns.size()), rebuild);
  return recovered;
}

void WriteWxContactsCsv(exporting::CExportWriter& writer, const std::vector<db::BaseItem*>& selection) {
  std::vector<const DBITEM_WxFriend*> contacts;
  for (const db::BaseItem* item : selection) {
    if (const auto* contact = dynamic_cast<const DBITEM_WxFriend*>(item)) contacts.push_back(contact);
  }
  writer.BeginList(static_cast<int>(contacts.size()));
  writer.SetHeader(kWxContactsCsvHeader);
  for (const DBITEM_WxFriend* contact : contacts) {
    if (writer.Cancelled()) return;
    std::string memberNames;
    for (const DBITEM_WxFriend* member : contact->members) memberNames += member->DisplayName() + ";";
    const std::string firstRemark = contact->remarks.empty() ? std::string() : contact->remarks.front();
    const std::string line = db::CsvField(contact->userName) + "," + db::CsvField(contact->DisplayName()) + "," +
                             db::CsvField(contact->encodeUserName) + "," + db::CsvField(contact->address) + "," +
                             db::CsvField(firstRemark) + "," + db::CsvField(contact->signature) + "," +
                             db::CsvField(contact->socialText) + "," + db::CsvField(memberNames) + "\r\n";
    writer.AddLine(exporting::kToCsvAndHtml, line, contact->deleted != 0);
  }
}

// --- registering contacts with an account ---------------------------------

int CWxLocalUser::RegisterContact(std::unique_ptr<DBITEM_WxFriend>& contact, std::int32_t contactKind, bool replace,
                                  DBITEM_WxFriend** existing) {
  if (!contact) return 0;
  DBITEM_WxFriend* old = FindContact(contact->userName);
  if (old == this) {
    FillSelfFrom(*contact);
    if (existing != nullptr) *existing = this;
    return 0;
  }
  if (old != nullptr && !replace) {
    if (existing != nullptr) *existing = old;
    return 0;
  }
  DBITEM_WxFriend& fresh = *contact;
  contacts.push_back(std::move(contact));
  if (old != nullptr) {
    if (fresh.DisplayName().empty() && !old->DisplayName().empty()) fresh.DisplayName() = old->DisplayName();
    fresh.inviterUserName = old->inviterUserName;
    fresh.memberFlag = old->memberFlag;
    DropReplaced(*old, fresh);
  }
  Enter(fresh, contactKind);
  return 1;
}

void CWxLocalUser::Enter(DBITEM_WxFriend& contact, std::int32_t contactKind) {
  contact.owner = this;
  if (contactKind == kWxKindRecovered) contact.deleted = 1;
  contactsByName[contact.userName] = &contact;
  contact.userMd5 = Md5Hex(contact.userName);
  if (!contact.remarks.empty() && !contact.remarks.front().empty()) {
    contact.DisplayName() = Trimmed(contact.remarks.front());
  }
  if (contact.DisplayName().empty()) contact.DisplayName() = contact.userName;
  if (contact.usernameId >= 0) contactsByUsernameId[contact.usernameId] = &contact;
  if (contact.profile.size() > 4) {
    ProfileFields fields = DecodeProfile(contact.profile);
    contact.address = std::move(fields.address);
    contact.signature = std::move(fields.signature);
  }
  LinkRoomMembers(contact);
  contact.kind = contactKind == kWxKindClassify ? ClassifyContact(contact) : contactKind;
  contact.AvatarUrl() = AvatarUrlOf(contact.headImageText);
}

void CWxLocalUser::LinkRoomMembers(DBITEM_WxFriend& room) {
  if (room.chatRoomData.empty()) return;
  const std::vector<TaggedField> fields = DecodeTagged(room.chatRoomData);
  const auto list = std::find_if(fields.begin(), fields.end(),
                                 [](const TaggedField& field) { return field.tag == kRoomMemberListTag; });
  if (list == fields.end()) return;
  for (std::unique_ptr<DBITEM_WxFriend>& member : ParseRoomMembers(list->text, this)) {
    DBITEM_WxFriend* known = nullptr;
    DBITEM_WxFriend* added = member.get();
    DBITEM_WxFriend* linked = RegisterContact(member, kWxKindFriend, false, &known) == 1 ? added : known;
    if (linked == nullptr) continue;
    room.members.push_back(linked);
    linked->memberOf.push_back(&room);
  }
}

void CWxLocalUser::DropReplaced(DBITEM_WxFriend& old, DBITEM_WxFriend& replacement) {
  // Rooms that listed the old record list its replacement instead.
  for (DBITEM_WxFriend* room : old.memberOf) {
    if (room == &old) continue;
    const auto at = std::find(room->members.rbegin(), room->members.rend(), &old);
    if (at != room->members.rend()) *at = &replacement;
    AppendOnce(replacement.memberOf, room);
  }
  // When the old record was a room, its members stop pointing at it; the
  // replacement links its own members from its own member list.
  for (DBITEM_WxFriend* member : old.members) {
    if (member == &old) continue;
    std::erase(member->memberOf, &old);
  }
  for (auto it = contactsByUsernameId.begin(); it != contactsByUsernameId.end();) {
    it = it->second == &old ? contactsByUsernameId.erase(it) : std::next(it);
  }
  const auto owned = std::find_if(contacts.rbegin(), contacts.rend(),
                                  [&old](const std::unique_ptr<DBITEM_WxFriend>& c) { return c.get() == &old; });
  if (owned != contacts.rend()) contacts.erase(std::next(owned).base());
}

void CWxLocalUser::FillSelfFrom(const DBITEM_WxFriend& friendRow) {
  // The contact table lists the account too; its row adds what the settings
  // archive does not hold, and never takes the account's place.
  if (headImageText.empty() && !friendRow.headImageText.empty()) {
    headImageText = friendRow.headImageText;
    AvatarUrl() = AvatarUrlOf(headImageText);
  }
  if (profile.empty() && friendRow.profile.size() > 4) {
    profile = friendRow.profile;
    ProfileFields fields = DecodeProfile(profile);
    address = std::move(fields.address);
    signature = std::move(fields.signature);
  }
  if (type < 0) type = friendRow.type;
}

}  // namespace chat
