#include "bench/yield_shapes.h"

#include <cstdio>
#include <utility>

#include "base/categories.h"
#include "testing/sample_notes.h"
#include "testing/sample_qq.h"
#include "testing/sample_wechat.h"
#include "testing/typedstream_writer.h"

namespace yield {
namespace {

using V = RecordValue;

constexpr std::int64_t kAppleEpoch = 978307200;  // 2001-01-01 in Unix seconds
constexpr std::int64_t kFirstTime = 1704067200;  // 2024-01-01: the items follow each other from here

// ---- Values as the phone writes them ----

std::int64_t Between(Random& random, std::int64_t low, std::int64_t high) {
  return std::uniform_int_distribution<std::int64_t>(low, high)(random);
}

bool Chance(Random& random, double share) { return std::uniform_real_distribution<double>(0, 1)(random) < share; }

template <class T>
const T& Pick(Random& random, const std::vector<T>& values) {
  return values[static_cast<std::size_t>(Between(random, 0, static_cast<std::int64_t>(values.size()) - 1))];
}

std::string Uuid(Random& random) {
  char text[40];
  std::snprintf(text, sizeof text, "%08llX-%04llX-4%03llX-%04llX-%012llX",
                static_cast<unsigned long long>(random() & 0xFFFFFFFF), static_cast<unsigned long long>(random() & 0xFFFF),
                static_cast<unsigned long long>(random() & 0xFFF),
                static_cast<unsigned long long>(0x8000 | (random() & 0x3FFF)),
                static_cast<unsigned long long>(random() & 0xFFFFFFFFFFFF));
  return text;
}

std::string UuidBytes(Random& random) {
  std::string bytes;
  for (int i = 0; i < 16; ++i) bytes += static_cast<char>(random() & 0xFF);
  return bytes;
}

// Texts of varied length: phrases joined until the length drawn is
// reached, so that rows differ in size as people's texts do.
const std::vector<std::string> kPhrases = {
    "好的", "明天下午三点开会，别忘了带资料。", "收到", "晚上一起吃饭吗", "周末去爬山吧",
    "See you at the station", "路上注意安全", "我到了，你在哪儿？", "Can you send me the file?",
    "这个周五之前要交报告", "thanks!", "下次再聊", "记得给妈妈打电话", "The meeting moved to 4 pm",
    "快递到了放门口", "哈哈哈", "会议室换到302了", "Let me check and get back to you",
    "今天的天气真不错，我们出去走走吧", "ok", "孩子的家长会在周三晚上七点"};

std::string Phrases(Random& random, std::size_t minBytes, std::size_t maxBytes) {
  const auto wanted = static_cast<std::size_t>(Between(random, static_cast<std::int64_t>(minBytes),
                                                       static_cast<std::int64_t>(maxBytes)));
  std::string text;
  while (text.size() < wanted) {
    if (!text.empty()) text += ' ';
    text += Pick(random, kPhrases);
  }
  return text;
}

std::string TokenText(const std::string& token, Random& random, std::size_t minBytes, std::size_t maxBytes) {
  return token + " " + Phrases(random, minBytes, maxBytes);
}

const std::vector<std::string> kSurnames = {"王", "李", "张", "刘", "陈", "杨", "Smith", "赵", "黄", "周", "Chen"};
const std::vector<std::string> kGivenNames = {"伟", "芳", "娜", "敏", "静", "磊", "Anna", "洋", "勇", "艳", "Tom"};

std::string PhoneNumber(int n) { return "+86" + std::to_string(13800000000LL + 7919LL * n); }

// Apple seconds (since 2001) of item n's moment, with the fraction Core
// Data keeps.
double AppleSeconds(int item, Random& random, bool whole = false) {
  const double seconds = static_cast<double>(kFirstTime - kAppleEpoch + item * 900LL + Between(random, 0, 600));
  return whole ? seconds : seconds + static_cast<double>(Between(random, 1, 999999)) / 1e6;
}

std::int64_t UnixSeconds(int item, Random& random) { return kFirstTime + item * 900LL + Between(random, 0, 600); }

V Text(std::string text) { return V::Text(std::move(text)); }
V Int(std::int64_t value) { return V::Integer(value); }
V Real(double value) { return V::Real(value); }
V Blob(std::string bytes) { return V::Blob(std::move(bytes)); }
V Blob(const std::vector<std::uint8_t>& bytes) { return V::Blob(std::string(bytes.begin(), bytes.end())); }

// ---- Messages: sms.db ----

class MessagesShape : public Shape {
 public:
  explicit MessagesShape(bool ios17)
      : Shape("messages", ios17 ? "sms.db iOS 17" : "sms.db iOS 14", base::kCategoryMessages, "HomeDomain",
              "Library/SMS/sms.db"),
        ios17_(ios17) {}

  void Prepare(Schema& schema, const fs::path& schemas) override {
    schema.AddFile(schemas / (ios17_ ? "sms.db__ios17.sql" : "sms.db__ios14.sql"));
    if (ios17_) schema.AddFile(schemas / "sms.db__ios14.sql", {"handle"});
    // No chat tables were dumped from a current phone; iOS 7's have the
    // columns the reader reads.
    schema.AddFile(schemas / "sms.db__ios7.1.2.sql", {"chat", "chat_handle_join", "chat_message_join"});
  }

  std::vector<ShapeRow> SetupRows(Random& random) override {
    std::vector<ShapeRow> rows;
    for (int peer = 1; peer <= kPeers; ++peer) {
      const bool email = peer % 5 == 0;
      const std::string id = email ? "friend" + std::to_string(peer) + "@icloud.com" : PhoneNumber(peer);
      const std::string service = peer % 3 == 0 ? "SMS" : "iMessage";
      rows.push_back({"handle", peer,
                      {{"id", Text(id)}, {"country", Text("cn")}, {"service", Text(service)},
                       {"uncanonicalized_id", email ? V::Null() : Text(id.substr(3))},
                       {"person_centric_id", V::Null()}}});
      rows.push_back({"chat", peer,
                      {{"guid", Text(service + ";-;" + id)}, {"style", Int(45)}, {"state", Int(3)},
                       {"account_id", Text(Uuid(random))}, {"chat_identifier", Text(id)},
                       {"service_name", Text(service)}, {"account_login", Text("E:lin.zhou@icloud.com")},
                       {"is_archived", Int(0)}, {"last_addressed_handle", Text(kOwnNumber)},
                       {"display_name", Text("")}}});
      rows.push_back({"chat_handle_join", peer, {{"chat_id", Int(peer)}, {"handle_id", Int(peer)}}});
    }
    return rows;
  }

  std::vector<ShapeRow> ItemRows(int item, const std::string& token, Random& random) override {
    const int peer = static_cast<int>(Between(random, 1, kPeers));
    const bool fromMe = Chance(random, 0.45);
    const bool sms = peer % 3 == 0;
    const std::string text = TokenText(token, random, 2, 160);
    const std::int64_t date = (static_cast<std::int64_t>(AppleSeconds(item, random, true))) * 1000000000LL +
                              Between(random, 0, 999999999);
    const std::int64_t rowid = Next("message");
    RowValues message = {
        {"guid", Text(Uuid(random))},
        // From iOS 16 on the body is often only in attributedBody.
        {"text", ios17_ && Chance(random, 0.3) ? V::Null() : Text(text)},
        {"attributedBody", Blob(sample::ArchivedAttributedString(text))},
        {"handle_id", Int(peer)},
        {"version", Int(10)},
        {"service", Text(sms ? "SMS" : "iMessage")},
        {"account", Text(sms ? "P:" + std::string(kOwnNumber) : "E:lin.zhou@icloud.com")},
        {"account_guid", Text(accountGuid_)},
        {"date", Int(date)},
        {"date_read", Int(!fromMe && Chance(random, 0.9) ? date + Between(random, 1, 3600) * 1000000000LL : 0)},
        {"date_delivered", Int(fromMe ? date + Between(random, 1, 30) * 1000000000LL : 0)},
        {"is_delivered", Int(1)},
        {"is_finished", Int(1)},
        {"is_from_me", Int(fromMe ? 1 : 0)},
        {"is_read", Int(fromMe ? 0 : 1)},
        {"is_sent", Int(fromMe ? 1 : 0)},
        {"destination_caller_id", Text(kOwnNumber)},
        {"part_count", Int(1)},
    };
    return {{"message", rowid, std::move(message), true},
            {"chat_message_join", Next("chat_message_join"), {{"chat_id", Int(peer)}, {"message_id", Int(rowid)}}}};
  }

 private:
  static constexpr int kPeers = 30;
  static constexpr char kOwnNumber[] = "+8613700001234";
  const bool ios17_;
  const std::string accountGuid_ = "9A1B3C5D-7E2F-4A6B-8C0D-1E3F5A7B9C2D";
};

// ---- Contacts: AddressBook.sqlitedb ----

class ContactsShape : public Shape {
 public:
  explicit ContactsShape(int ios)
      : Shape("contacts", "AddressBook iOS " + std::to_string(ios), base::kCategoryContacts, "HomeDomain",
              "Library/AddressBook/AddressBook.sqlitedb"),
        ios_(ios) {}

  void Prepare(Schema& schema, const fs::path& schemas) override {
    schema.AddFile(schemas / ("AddressBook.sqlitedb__ios" + std::to_string(ios_) + ".sql"));
  }

  std::vector<ShapeRow> SetupRows(Random&) override {
    std::vector<ShapeRow> rows;
    for (const char* label : {"_$!<Mobile>!$_", "iPhone", "_$!<Home>!$_", "_$!<Work>!$_"}) {
      rows.push_back({"ABMultiValueLabel", Next("ABMultiValueLabel"), {{"value", Text(label)}}});
    }
    return rows;
  }

  std::vector<ShapeRow> ItemRows(int item, const std::string& token, Random& random) override {
    const std::string last = Pick(random, kSurnames);
    const std::string first = token + Pick(random, kGivenNames);
    const std::int64_t created = static_cast<std::int64_t>(AppleSeconds(item, random, true));
    const bool company = Chance(random, 0.3);
    const std::string organization = company ? Pick(random, std::vector<std::string>{"华为", "Acme Ltd", "中国银行"}) : "";
    const std::string note = Chance(random, 0.2) ? Phrases(random, 10, 120) : "";
    const std::int64_t person = Next("ABPerson");
    std::vector<ShapeRow> rows;
    rows.push_back({"ABPerson", person,
                    {{"First", Text(first)}, {"Last", Text(last)}, {"Organization", OrNull(organization)},
                     {"Note", OrNull(note)}, {"Kind", Int(0)}, {"JobTitle", Chance(random, 0.1) ? Text("经理") : V::Null()},
                     {"FirstSort", Text(first + " " + last)}, {"LastSort", Text(last + " " + first)},
                     {"CreationDate", Int(created)}, {"ModificationDate", Int(created + Between(random, 0, 86400))},
                     {"ExternalUUID", Text(Uuid(random))}, {"StoreID", Int(0)},
                     {"FirstSortSection", Text("Y")}, {"LastSortSection", Text("#")},
                     {"FirstSortLanguageIndex", Int(0)}, {"LastSortLanguageIndex", Int(0)},
                     {"PersonLink", Int(-1)}, {"IsPreferredName", Int(1)}, {"guid", Text(Uuid(random))}},
                    true});
    const std::string phone = PhoneNumber(item);
    rows.push_back({"ABMultiValue", Next("ABMultiValue"),
                    {{"record_id", Int(person)}, {"property", Int(3)}, {"identifier", Int(0)}, {"label", Int(1)},
                     {"value", Text(phone)}, {"guid", Text(Uuid(random))}}});
    std::string email;
    if (Chance(random, 0.4)) {
      email = "user" + std::to_string(item) + "@example.com";
      rows.push_back({"ABMultiValue", Next("ABMultiValue"),
                      {{"record_id", Int(person)}, {"property", Int(4)}, {"identifier", Int(1)}, {"label", Int(3)},
                       {"value", Text(email)}, {"guid", Text(Uuid(random))}}});
    }
    rows.push_back({"ABPersonFullTextSearch_content", person,
                    {{"c0First", Text(first)}, {"c1Last", Text(last)}, {"c6Organization", OrNull(organization)},
                     {"c9Note", OrNull(note)}, {"c15DisplayName", Text(last + first)},
                     {"c16Phone", Text(phone + " " + phone.substr(3))}, {"c17Email", OrNull(email)}},
                    true});
    return rows;
  }

 private:
  static V OrNull(const std::string& text) { return text.empty() ? V::Null() : Text(text); }
  const int ios_;
};

// ---- Notes: NoteStore.sqlite ----

class NotesShape : public Shape {
 public:
  NotesShape()
      : Shape("notes", "NoteStore iOS 17", base::kCategoryNotes, "AppDomainGroup-group.com.apple.notes",
              "NoteStore.sqlite") {}

  void Prepare(Schema& schema, const fs::path& schemas) override {
    schema.AddFile(schemas / "NoteStore.sqlite__ios17.sql");
  }

  std::vector<ShapeRow> SetupRows(Random& random) override {
    std::vector<ShapeRow> rows;
    const std::vector<std::pair<std::string, std::int64_t>> entities = {
        {"ICCloudSyncingObject", 0}, {"ICAccount", 1}, {"ICFolder", 1}, {"ICNote", 1}, {"ICNoteData", 0}};
    for (std::size_t i = 0; i < entities.size(); ++i) {
      rows.push_back({"Z_PRIMARYKEY", kEntities[i],
                      {{"Z_NAME", Text(entities[i].first)}, {"Z_SUPER", Int(entities[i].second)}, {"Z_MAX", Int(0)}}});
    }
    const std::int64_t account = Next(kObjects);
    rows.push_back({kObjects, account,
                    {{"Z_ENT", Int(kEntities[1])}, {"Z_OPT", Int(5)}, {"ZACCOUNTTYPE", Int(1)}, {"ZNAME", Text("iCloud")},
                     {"ZIDENTIFIER", Text(Uuid(random))}, {"ZMARKEDFORDELETION", Int(0)}}});
    for (const auto& [title, type] : std::vector<std::pair<std::string, int>>{{"Notes", 0}, {"Recently Deleted", 1},
                                                                                {"工作", 0}}) {
      const std::int64_t folder = Next(kObjects);
      if (type == 0) folders_.push_back(folder);
      rows.push_back({kObjects, folder,
                      {{"Z_ENT", Int(kEntities[2])}, {"Z_OPT", Int(3)}, {"ZFOLDERTYPE", Int(type)},
                       {"ZTITLE2", Text(title)}, {"ZOWNER", Int(account)}, {"ZMARKEDFORDELETION", Int(0)},
                       {"ZIDENTIFIER", Text(type == 1 ? "TrashFolder-CloudKit" : Uuid(random))}}});
    }
    return rows;
  }

  std::vector<ShapeRow> ItemRows(int item, const std::string& token, Random& random) override {
    const std::string title = TokenText(token, random, 2, 40);
    const std::string snippet = Phrases(random, 0, 80);
    const std::string body = title + "\n" + snippet + "\n" + Phrases(random, 0, 200);
    const double created = AppleSeconds(item, random);
    const std::int64_t object = Next(kObjects);
    const std::int64_t data = Next("ZICNOTEDATA");
    return {{kObjects, object,
             {{"Z_ENT", Int(kEntities[3])}, {"Z_OPT", Int(Between(random, 2, 9))}, {"ZMARKEDFORDELETION", Int(0)},
              {"ZISPASSWORDPROTECTED", Int(0)}, {"ZCLOUDSTATE", Int(item)}, {"ZFOLDER", Int(Pick(random, folders_))},
              {"ZNOTEDATA", Int(data)}, {"ZCREATIONDATE3", Real(created)},
              {"ZMODIFICATIONDATE1", Real(created + Between(random, 0, 86400))},
              {"ZFOLDERMODIFICATIONDATE", Real(created)}, {"ZIDENTIFIER", Text(Uuid(random))},
              {"ZTITLE1", Text(title)}, {"ZSNIPPET", snippet.empty() ? V::Null() : Text(snippet)},
              {"ZHASCHECKLIST", Int(0)}, {"ZISPINNED", Int(0)}},
             true},
            {"ZICNOTEDATA", data,
             {{"Z_ENT", Int(kEntities[4])}, {"Z_OPT", Int(1)}, {"ZNOTE", Int(object)},
              {"ZDATA", Blob(sample::NoteDataBlob(body))}},
             true}};
  }

 private:
  static constexpr char kObjects[] = "ZICCLOUDSYNCINGOBJECT";
  static constexpr std::int64_t kEntities[] = {7, 3, 11, 12, 19};  // as the list in SetupRows
  std::vector<std::int64_t> folders_;
};

// ---- Calls: CallHistory.storedata ----

class CallsShape : public Shape {
 public:
  CallsShape()
      : Shape("calls", "CallHistory ZCALLRECORD", base::kCategoryCalls, "HomeDomain",
              "Library/CallHistoryDB/CallHistory.storedata") {}

  void Prepare(Schema& schema, const fs::path& schemas) override {
    schema.AddFile(schemas / "CallHistory.storedata__ios8.sql");
  }

  std::vector<ShapeRow> ItemRows(int item, const std::string& token, Random& random) override {
    const int type = Pick(random, std::vector<int>{1, 1, 1, 8, 16});
    const bool answered = Chance(random, 0.8);
    const double duration = answered ? static_cast<double>(Between(random, 3, 1800)) +
                                           (Chance(random, 0.5) ? 0.0 : static_cast<double>(Between(random, 1, 99)) / 100)
                                     : 0.0;
    // The address the phone dialled or that called: a number for a phone
    // call, an Apple ID for FaceTime.
    const std::string address = type == 1 ? "+86 " + token : token + "@icloud.com";
    return {{"ZCALLRECORD", Next("ZCALLRECORD"),
             {{"Z_ENT", Int(2)}, {"Z_OPT", Int(1)}, {"ZANSWERED", Int(answered ? 1 : 0)}, {"ZCALLTYPE", Int(type)},
              {"ZDISCONNECTED_CAUSE", Int(answered ? 0 : 6)}, {"ZNUMBER_AVAILABILITY", Int(0)},
              {"ZORIGINATED", Int(Chance(random, 0.5) ? 1 : 0)}, {"ZREAD", Int(1)},
              {"ZDATE", Real(AppleSeconds(item, random))}, {"ZDURATION", Real(duration)},
              {"ZISO_COUNTRY_CODE", Text("cn")},
              {"ZLOCATION", Chance(random, 0.6) ? Text(Pick(random, std::vector<std::string>{"北京", "上海", "广东深圳"}))
                                                : V::Null()},
              {"ZNAME", Chance(random, 0.2) ? Text(Pick(random, kSurnames) + Pick(random, kGivenNames)) : V::Null()},
              {"ZUNIQUE_ID", Text(Uuid(random))}, {"ZADDRESS", Text(address)}},
             true}};
  }
};

// ---- Calendar: Calendar.sqlitedb ----

class CalendarShape : public Shape {
 public:
  CalendarShape()
      : Shape("calendar", "Calendar iOS 14", base::kCategoryCalendar, "HomeDomain",
              "Library/Calendar/Calendar.sqlitedb") {}

  void Prepare(Schema& schema, const fs::path& schemas) override {
    schema.AddFile(schemas / "Calendar.sqlitedb__ios14.sql");
    // The iOS 14 dump kept CalendarItem and Participant only.
    schema.AddFile(schemas / "Calendar.sqlitedb__ios7.1.2.sql", {"Location", "Calendar", "Store"});
  }

  std::vector<ShapeRow> SetupRows(Random& random) override {
    std::vector<ShapeRow> rows = {{"Store", 1, {{"name", Text("iCloud")}, {"type", Int(2)}, {"disabled", Int(0)}}}};
    for (const char* title : {"家庭", "工作", "个人"}) {
      rows.push_back({"Calendar", Next("Calendar"),
                      {{"store_id", Int(1)}, {"title", Text(title)}, {"color", Text("#1BADF8")},
                       {"UUID", Text(Uuid(random))}, {"supported_entity_types", Int(4)}}});
    }
    return rows;
  }

  std::vector<ShapeRow> ItemRows(int item, const std::string& token, Random& random) override {
    const double start = AppleSeconds(item, random, true);
    const std::int64_t rowid = Next("CalendarItem");
    std::vector<ShapeRow> rows;
    std::int64_t location = 0;
    if (Chance(random, 0.25)) {
      location = Next("Location");
      rows.push_back({"Location", location,
                      {{"title", Text(Pick(random, std::vector<std::string>{"上海虹桥站", "公司会议室", "Starbucks"}))},
                       {"item_owner_id", Int(rowid)}}});
    }
    const std::string uuid = Uuid(random);
    rows.push_back({"CalendarItem", rowid,
                    {{"summary", Text(TokenText(token, random, 2, 60))}, {"location_id", Int(location)},
                     {"description", Chance(random, 0.3) ? Text(Phrases(random, 5, 200)) : V::Null()},
                     {"start_date", Real(start)}, {"start_tz", Text("Asia/Shanghai")},
                     {"end_date", Real(start + 3600.0 * static_cast<double>(Between(random, 1, 3)))},
                     {"end_tz", Text("Asia/Shanghai")}, {"all_day", Int(0)}, {"calendar_id", Int(Between(random, 1, 3))},
                     {"orig_item_id", Int(0)}, {"orig_date", Real(0)}, {"organizer_id", Int(0)},
                     {"self_attendee_id", Int(0)}, {"status", Int(0)}, {"invitation_status", Int(0)},
                     {"availability", Int(0)}, {"privacy_level", Int(0)}, {"last_modified", Real(start - 86400.0)},
                     {"sequence_num", Int(0)}, {"birthday_id", Int(-1)}, {"modified_properties", Int(0)},
                     {"external_tracking_status", Int(0)}, {"external_id", Text(uuid + ".ics")},
                     {"unique_identifier", Text(uuid)}, {"hidden", Int(0)}, {"has_recurrences", Int(0)},
                     {"has_attendees", Int(0)}, {"UUID", Text(Uuid(random))}, {"entity_type", Int(2)},
                     {"priority", Int(0)}, {"creation_date", Real(start - 86400.0 * 2)}, {"junk_status", Int(0)}},
                    true});
    return rows;
  }
};

// ---- Reminders: a current reminders store ----

class RemindersShape : public Shape {
 public:
  RemindersShape()
      : Shape("reminders", "Reminders store ZREMCDREMINDER", base::kCategoryReminders,
              "AppDomainGroup-group.com.apple.reminders",
              "Container_v1/Stores/Data-7C1D2B3E-4F5A-4B6C-8D7E-9F0A1B2C3D4E.sqlite") {}

  void Prepare(Schema& schema, const fs::path& schemas) override {
    // No CREATE statement of this store was at hand: its columns are those
    // public sources read, typed as Core Data names them.
    schema.AddSql(CurrentStoreTableSql(schemas / "current-stores.md", "reminder lists"));
    schema.AddSql(CurrentStoreTableSql(schemas / "current-stores.md", "reminders, iOS 16+"));
  }

  std::vector<ShapeRow> SetupRows(Random&) override {
    std::vector<ShapeRow> rows;
    for (const char* list : {"提醒事项", "购物", "工作"}) {
      rows.push_back({"ZREMCDBASELIST", Next("ZREMCDBASELIST"),
                      {{"Z_ENT", Int(11)}, {"Z_OPT", Int(4)}, {"ZNAME", Text(list)}, {"ZMARKEDFORDELETION", Int(0)}}});
    }
    return rows;
  }

  std::vector<ShapeRow> ItemRows(int item, const std::string& token, Random& random) override {
    const double created = AppleSeconds(item, random);
    const bool due = Chance(random, 0.5);
    const bool completed = Chance(random, 0.3);
    const double dueDate = created + 86400.0 * static_cast<double>(Between(random, 1, 10));
    return {{"ZREMCDREMINDER", Next("ZREMCDREMINDER"),
             {{"Z_ENT", Int(24)}, {"Z_OPT", Int(Between(random, 1, 6))}, {"ZTITLE", Text(TokenText(token, random, 2, 50))},
              {"ZNOTES", Chance(random, 0.3) ? Text(Phrases(random, 5, 150)) : V::Null()},
              {"ZDUEDATE", due ? Real(dueDate) : V::Null()}, {"ZDISPLAYDATEDATE", due ? Real(dueDate) : V::Null()},
              {"ZALLDAY", Int(due && Chance(random, 0.5) ? 1 : 0)}, {"ZCOMPLETED", Int(completed ? 1 : 0)},
              {"ZCOMPLETIONDATE", completed ? Real(created + 3600) : V::Null()}, {"ZCREATIONDATE", Real(created)},
              {"ZLASTMODIFIEDDATE", Real(created + 60)}, {"ZPRIORITY", Int(Pick(random, std::vector<int>{0, 0, 1, 5, 9}))},
              {"ZFLAGGED", Int(Chance(random, 0.1) ? 1 : 0)}, {"ZMARKEDFORDELETION", Int(0)},
              {"ZLIST", Int(Between(random, 1, 3))}, {"ZPARENTREMINDER", V::Null()},
              {"ZCKIDENTIFIER", Text(Uuid(random))}, {"ZIDENTIFIER", Blob(UuidBytes(random))}},
             true}};
  }
};

// ---- WhatsApp: ChatStorage.sqlite ----

class WhatsAppShape : public Shape {
 public:
  WhatsAppShape()
      : Shape("WhatsApp", "ChatStorage iOS 15", base::kCategoryWhatsApp,
              "AppDomainGroup-group.net.whatsapp.WhatsApp.shared", "ChatStorage.sqlite") {}

  void Prepare(Schema& schema, const fs::path& schemas) override {
    schema.AddFile(schemas / "ChatStorage.sqlite__whatsapp_on_ios15.sql");
  }

  std::vector<ShapeRow> SetupRows(Random& random) override {
    std::vector<ShapeRow> rows;
    for (int peer = 1; peer <= kPeers; ++peer) {
      rows.push_back({"ZWACHATSESSION", peer,
                      {{"Z_ENT", Int(4)}, {"Z_OPT", Int(10)}, {"ZARCHIVED", Int(0)}, {"ZFLAGS", Int(0)},
                       {"ZHIDDEN", Int(0)}, {"ZMESSAGECOUNTER", Int(0)}, {"ZREMOVED", Int(0)}, {"ZSESSIONTYPE", Int(0)},
                       {"ZSPOTLIGHTSTATUS", Int(0)}, {"ZUNREADCOUNT", Int(0)},
                       {"ZLASTMESSAGEDATE", Real(AppleSeconds(peer, random, true))}, {"ZCONTACTJID", Text(Jid(peer))},
                       {"ZPARTNERNAME", Text(Pick(random, kSurnames) + Pick(random, kGivenNames))}}});
    }
    return rows;
  }

  std::vector<ShapeRow> ItemRows(int item, const std::string& token, Random& random) override {
    const int peer = static_cast<int>(Between(random, 1, kPeers));
    const bool fromMe = Chance(random, 0.45);
    const double date = AppleSeconds(item, random, true);
    char stanza[40];
    std::snprintf(stanza, sizeof stanza, "3EB0%016llX", static_cast<unsigned long long>(random()));
    const std::int64_t pk = Next("ZWAMESSAGE");
    return {{"ZWAMESSAGE", pk,
             {{"Z_ENT", Int(9)}, {"Z_OPT", Int(Between(random, 2, 4))}, {"ZCHILDMESSAGESDELIVEREDCOUNT", Int(0)},
              {"ZCHILDMESSAGESPLAYEDCOUNT", Int(0)}, {"ZCHILDMESSAGESREADCOUNT", Int(0)}, {"ZDATAITEMVERSION", Int(3)},
              {"ZDOCID", Int(pk)}, {"ZENCRETRYCOUNT", Int(0)}, {"ZFILTEREDRECIPIENTCOUNT", Int(0)}, {"ZFLAGS", Int(0)},
              {"ZGROUPEVENTTYPE", Int(0)}, {"ZISFROMME", Int(fromMe ? 1 : 0)}, {"ZMESSAGEERRORSTATUS", Int(0)},
              {"ZMESSAGESTATUS", Int(fromMe ? 8 : 6)}, {"ZMESSAGETYPE", Int(0)}, {"ZSORT", Int(pk)},
              {"ZSPOTLIGHTSTATUS", Int(1)}, {"ZSTARRED", Int(0)}, {"ZCHATSESSION", Int(peer)},
              {"ZMESSAGEDATE", Real(date)}, {"ZSENTDATE", fromMe ? Real(date) : V::Null()},
              {"ZFROMJID", fromMe ? V::Null() : Text(Jid(peer))}, {"ZSTANZAID", Text(stanza)},
              {"ZTEXT", Text(TokenText(token, random, 2, 160))}, {"ZTOJID", fromMe ? Text(Jid(peer)) : V::Null()}},
             true}};
  }

 private:
  static std::string Jid(int peer) { return PhoneNumber(peer).substr(1) + "@s.whatsapp.net"; }
  static constexpr int kPeers = 25;
};

// ---- Safari: History.db ----

class SafariShape : public Shape {
 public:
  SafariShape()
      : Shape("Safari", "History.db", base::kCategorySafari, "AppDomain-com.apple.mobilesafari",
              "Library/Safari/History.db") {}

  void Prepare(Schema& schema, const fs::path& schemas) override {
    schema.AddFile(schemas / "Safari_History.db__macos26.6.sql");
  }

  std::vector<ShapeRow> ItemRows(int item, const std::string& token, Random& random) override {
    const std::string site = Pick(random, std::vector<std::string>{"www.baidu.com", "news.qq.com", "en.wikipedia.org",
                                                                    "m.jd.com", "github.com"});
    const std::string url = "https://" + site + "/" + token + "/" + std::to_string(Between(random, 1, 99999)) +
                            (Chance(random, 0.4) ? "?from=timeline&id=" + std::to_string(random() % 1000000) : "");
    const std::int64_t page = Next("history_items");
    std::string counts;
    for (int i = 0; i < 4; ++i) counts += static_cast<char>(Between(random, 0, 3));
    return {{"history_items", page,
             {{"url", Text(url)}, {"domain_expansion", Text(site.substr(0, site.rfind('.')))},
              {"visit_count", Int(Between(random, 1, 5))}, {"daily_visit_counts", Blob(counts)},
              {"should_recompute_derived_visit_counts", Int(0)}, {"visit_count_score", Int(Between(random, 20, 300))},
              {"status_code", Int(0)}},
             true},
            {"history_visits", Next("history_visits"),
             {{"history_item", Int(page)}, {"visit_time", Real(AppleSeconds(item, random))},
              {"title", Text(TokenText(token, random, 2, 80))}, {"load_successful", Int(1)}, {"origin", Int(0)},
              {"generation", Int(1)}, {"attributes", Int(0)}, {"score", Int(Between(random, 10, 200))}},
             true}};
  }
};

// ---- WeChat: message_<n>.sqlite of an account ----

class WeChatShape : public Shape {
 public:
  WeChatShape()
      : Shape("WeChat", "message_1.sqlite Chat_<md5>", base::kCategoryWeChat, sample::kWxDomain,
              "Documents/" + sample::WxUserMd5(kAccount) + "/DB/message_1.sqlite") {
    for (int peer = 1; peer <= kPeers; ++peer) peers_.push_back("wxid_yieldpeer" + std::to_string(peer));
  }

  void Prepare(Schema& schema, const fs::path& schemas) override {
    // Current builds keep each conversation's table in message_<n>.sqlite;
    // the declared column order is that of MM.sqlite's template.
    schema.AddFile(schemas / "MM.sqlite__wechat_ios.sql", {"Chat", "ChatExt2"});
    for (const std::string& peer : peers_) {
      schema.AddCopy("Chat", ChatTable(peer));
      schema.AddCopy("ChatExt2", "ChatExt2_" + sample::WxUserMd5(peer));
    }
  }

  std::vector<ShapeRow> ItemRows(int item, const std::string& token, Random& random) override {
    const std::string table = ChatTable(Pick(random, peers_));
    const bool fromMe = Chance(random, 0.45);
    return {{table, Next(table),
             {{"TableVer", Int(1)}, {"MesSvrID", Int(static_cast<std::int64_t>(random() >> 1))},
              {"CreateTime", Int(UnixSeconds(item, random))}, {"Message", Text(TokenText(token, random, 2, 160))},
              {"Status", Int(fromMe ? 2 : 4)}, {"ImgStatus", Int(1)}, {"Type", Int(1)}, {"Des", Int(fromMe ? 0 : 1)}},
             true}};
  }

  void AddCompanionFiles(sample::SampleBackupBuilder& builder) const override {
    sample::WxSettings settings;
    settings.userName = kAccount;
    settings.displayName = "周宁";
    settings.weChatId = "zhou_ning";
    std::string contacts = sample::WxFriendSchemaSql(sample::WxFriendShape::kNameFirst);
    std::vector<std::string> names = {kAccount};
    names.insert(names.end(), peers_.begin(), peers_.end());
    for (const std::string& userName : names) {
      sample::WxFriendRow row;
      row.userName = userName;
      row.remarks = {{0x0A, userName == kAccount ? settings.displayName : "好友" + userName.substr(14)}};
      contacts += sample::InsertWxFriendSql(row, sample::WxFriendShape::kNameFirst);
    }
    sample::AddWeChatAccount(builder, settings, contacts);
  }

 private:
  static std::string ChatTable(const std::string& peer) { return "Chat_" + sample::WxUserMd5(peer); }
  static constexpr char kAccount[] = "wxid_yieldbench";
  static constexpr int kPeers = 20;
  std::vector<std::string> peers_;
};

// ---- QQ: QQ.db of an account ----

class QqShape : public Shape {
 public:
  QqShape()
      : Shape("QQ", "QQ.db tb_c2cMsg_<uin>", base::kCategoryQq, sample::kQqAppDomain,
              std::string("Documents/contents/") + kAccount + "/QQ.db") {
    for (int peer = 1; peer <= kPeers; ++peer) peers_.push_back(std::to_string(315720468LL + 7919LL * peer));
  }

  void Prepare(Schema& schema, const fs::path&) override {
    // No CREATE statement of QQ.db is known (the schema file names a few
    // columns only): the tables are built as the QQ reader reads them.
    schema.AddSql(sample::QqMessageDbSql());
    for (const std::string& peer : peers_) schema.AddSql(sample::QqC2cTableSql(peer));
  }

  std::vector<ShapeRow> ItemRows(int item, const std::string& token, Random& random) override {
    const std::string peer = Pick(random, peers_);
    const std::string table = "tb_c2cMsg_" + peer;
    const bool fromMe = Chance(random, 0.45);
    return {{table, Next(table),
             {{"uin", Text(peer)}, {"time", Int(UnixSeconds(item, random))}, {"type", Int(0)},
              {"flag", Int(fromMe ? 0 : 1)}, {"read", Int(1)}, {"content", Text(TokenText(token, random, 2, 160))},
              {"status", Int(0)}, {"sendState", Int(0)}, {"isOffline", Int(0)}},
             true}};
  }

  void AddCompanionFiles(sample::SampleBackupBuilder& builder) const override {
    builder.AddFile(sample::kQqAppDomain, "Documents/QQAccountsManager", sample::QqAccountsArchive({{kAccount, "小周"}}));
    for (const std::string& peer : peers_) {
      sample::AddQqNickname(builder, sample::kQqAppDomain, kAccount, peer, "QQ好友" + peer.substr(6));
    }
  }

 private:
  static constexpr char kAccount[] = "284655099";
  static constexpr int kPeers = 15;
  std::vector<std::string> peers_;
};

}  // namespace

std::vector<std::unique_ptr<Shape>> MakeShapes() {
  std::vector<std::unique_ptr<Shape>> shapes;
  shapes.push_back(std::make_unique<MessagesShape>(false));
  shapes.push_back(std::make_unique<MessagesShape>(true));
  shapes.push_back(std::make_unique<ContactsShape>(15));
  shapes.push_back(std::make_unique<ContactsShape>(16));
  shapes.push_back(std::make_unique<NotesShape>());
  shapes.push_back(std::make_unique<CallsShape>());
  shapes.push_back(std::make_unique<CalendarShape>());
  shapes.push_back(std::make_unique<RemindersShape>());
  shapes.push_back(std::make_unique<WhatsAppShape>());
  shapes.push_back(std::make_unique<SafariShape>());
  shapes.push_back(std::make_unique<WeChatShape>());
  shapes.push_back(std::make_unique<QqShape>());
  return shapes;
}

}  // namespace yield
