// analysis_bench: the analysis and recovery of a large phone, timed.
//
// Builds a plain-folder backup with an iOS 17 sms.db of 1,000,000 messages
// in 20,000 chats (200 of them groups; a tenth of the messages then purged
// with secure_delete off, one in a hundred moved to Recently Deleted), an
// address book of 20,000 contacts whose numbers are the peers, and a WeChat account of 2,000 contacts (20 of
// them chat rooms) with 500,000 messages spread over four message_<n>.sqlite
// files (--wechat-files 0: all in the older MM.sqlite) and a search index
// holding a tenth of them. Then, each in a process of its own so that peak memory is the
// category's own, it analyses and recovers every record of the messages,
// contacts and WeChat chats categories, printing the time and the peak
// resident memory of each.
//
// Usage: analysis_bench [--messages N] [--conversations N] [--contacts N]
//                       [--wechat-messages N] [--wechat-contacts N]
//                       [--wechat-files N] [--only CATEGORY] [FOLDER]
//        analysis_bench --run CATEGORY FOLDER   (one measured run; used by itself)

#include <sqlite3.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "backup/file_list_db.h"
#include "base/categories.h"
#include "platform/fs.h"
#include "recovery/analysis.h"
#include "recovery/recovery_run.h"
#include "testing/plist_writer.h"
#include "testing/sample_backup.h"
#include "testing/sample_contacts.h"
#include "testing/sample_messages.h"
#include "testing/typedstream_writer.h"
#include "testing/sample_wechat.h"
#include "testing/sample_wechat_messages.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

class Database {
 public:
  explicit Database(const fs::path& path) {
    fs::create_directories(path.parent_path());
    fs::remove(path);
    if (sqlite3_open(path.c_str(), &db_) != SQLITE_OK) throw std::runtime_error("cannot create " + path.string());
    Exec("PRAGMA secure_delete=OFF; PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF;");
  }
  ~Database() { sqlite3_close(db_); }
  void Exec(const std::string& sql) {
    char* error = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
      const std::string text = error != nullptr ? error : "?";
      sqlite3_free(error);
      throw std::runtime_error(text);
    }
  }
  sqlite3_stmt* Prepare(const char* sql) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db_, sql, -1, &statement, nullptr) != SQLITE_OK) throw std::runtime_error(sqlite3_errmsg(db_));
    return statement;
  }
  void Step(sqlite3_stmt* statement) {
    if (sqlite3_step(statement) != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(db_));
    sqlite3_reset(statement);
  }

 private:
  sqlite3* db_ = nullptr;
};

std::string Number(int peer) { return "+86" + std::to_string(13800000000LL + 7919LL * peer); }

std::string Guid(std::uint64_t n, std::uint32_t salt) {
  char text[40];
  std::snprintf(text, sizeof text, "%08X-%04X-4%03X-8%03X-%012llX", static_cast<unsigned>(n * 2654435761u + salt),
                static_cast<unsigned>(n & 0xFFFF), static_cast<unsigned>((n >> 4) & 0xFFF),
                static_cast<unsigned>(salt & 0xFFF), static_cast<unsigned long long>(n));
  return text;
}

// The sms.db of today's phones: one chat per peer and every hundredth
// conversation a group of three (what the owner writes there has handle 0),
// every message linked to its chat and carrying its archived body, every
// third one only there (text NULL). Then a tenth of the messages purged (rows
// and links gone) and one in a hundred moved to Recently Deleted.
void WriteSmsDb(const fs::path& path, int messages, int conversations) {
  Database db(path);
  db.Exec(sample::SmsSchemaSql(sample::SmsLayout::kIos17));
  db.Exec("BEGIN;");
  sqlite3_stmt* handle = db.Prepare("INSERT INTO handle (ROWID, id, country, service) VALUES (?, ?, 'cn', ?);");
  sqlite3_stmt* chat = db.Prepare(
      "INSERT INTO chat (ROWID, guid, style, state, chat_identifier, service_name, display_name) "
      "VALUES (?, ?, ?, 3, ?, ?, ?);");
  sqlite3_stmt* member = db.Prepare("INSERT INTO chat_handle_join (chat_id, handle_id) VALUES (?, ?);");
  const auto isGroup = [](int conversation) { return conversation % 100 == 0; };
  for (int peer = 1; peer <= conversations; ++peer) {
    sqlite3_bind_int(handle, 1, peer);
    const std::string number = Number(peer);
    const char* service = peer % 3 == 0 ? "SMS" : "iMessage";
    sqlite3_bind_text(handle, 2, number.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(handle, 3, service, -1, SQLITE_STATIC);
    db.Step(handle);
    const bool group = isGroup(peer);
    const std::string identifier = group ? "chat" + std::to_string(100000000 + peer) : number;
    const std::string guid = std::string(group ? "iMessage" : service) + (group ? ";+;" : ";-;") + identifier;
    sqlite3_bind_int(chat, 1, peer);
    sqlite3_bind_text(chat, 2, guid.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int(chat, 3, group ? 43 : 45);
    sqlite3_bind_text(chat, 4, identifier.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(chat, 5, group ? "iMessage" : service, -1, SQLITE_STATIC);
    const std::string name = group ? "群聊 " + std::to_string(peer) : std::string();
    if (group) {
      sqlite3_bind_text(chat, 6, name.c_str(), -1, SQLITE_TRANSIENT);
    } else {
      sqlite3_bind_null(chat, 6);
    }
    db.Step(chat);
    // A group's members: its own handle and the two peers before it.
    for (int m = 0; m < (group ? 3 : 1); ++m) {
      sqlite3_bind_int(member, 1, peer);
      sqlite3_bind_int(member, 2, peer - m);
      db.Step(member);
    }
  }
  sqlite3_finalize(handle);
  sqlite3_finalize(chat);
  sqlite3_finalize(member);
  sqlite3_stmt* message = db.Prepare(
      "INSERT INTO message (ROWID, guid, text, handle_id, attributedBody, service, account, account_guid, date,"
      " date_read, is_from_me, is_sent, is_delivered, is_finished) VALUES (?, ?, ?, ?, ?, 'SMS', 'p:+8613700001234',"
      " ?, ?, 0, ?, ?, 1, 1);");
  sqlite3_stmt* link = db.Prepare("INSERT INTO chat_message_join (chat_id, message_id, message_date) VALUES (?, ?, ?);");
  static const char* const kTexts[] = {"好的，明天见", "在吗？", "会议改到下午三点了，记得带材料",
                                       "Running late, be there in 10", "收到，谢谢！", "晚上一起吃饭吗"};
  const std::string accountGuid = Guid(42, 7);
  for (int i = 1; i <= messages; ++i) {
    const std::string guid = Guid(static_cast<std::uint64_t>(i), 1);
    const std::string text = std::string(kTexts[i % 6]) + " #" + std::to_string(i);
    const std::vector<std::uint8_t> body = sample::ArchivedAttributedString(text);
    const int conversation = 1 + static_cast<int>((static_cast<std::int64_t>(i) * 7919) % conversations);
    const bool fromMe = i % 2 != 0;
    const std::int64_t date = (600000000LL + i * 60LL) * 1000000000LL;
    sqlite3_bind_int(message, 1, i);
    sqlite3_bind_text(message, 2, guid.c_str(), -1, SQLITE_TRANSIENT);
    if (i % 3 == 0) {
      sqlite3_bind_null(message, 3);
    } else {
      sqlite3_bind_text(message, 3, text.c_str(), -1, SQLITE_TRANSIENT);
    }
    // In a group the sender is one of the members, or the owner (handle 0).
    const int sender = isGroup(conversation) ? (fromMe ? 0 : conversation - i % 3) : conversation;
    sqlite3_bind_int(message, 4, sender);
    sqlite3_bind_blob(message, 5, body.data(), static_cast<int>(body.size()), SQLITE_TRANSIENT);
    sqlite3_bind_text(message, 6, accountGuid.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int64(message, 7, date);
    sqlite3_bind_int(message, 8, fromMe ? 1 : 0);
    sqlite3_bind_int(message, 9, fromMe ? 1 : 0);
    db.Step(message);
    sqlite3_bind_int(link, 1, conversation);
    sqlite3_bind_int(link, 2, i);
    sqlite3_bind_int64(link, 3, date);
    db.Step(link);
  }
  sqlite3_finalize(message);
  sqlite3_finalize(link);
  db.Exec("COMMIT;");
  // Purged: the row, then its link (whose trigger finds nothing left).
  db.Exec("BEGIN; DELETE FROM message WHERE ROWID % 10 = 3; DELETE FROM chat_message_join WHERE message_id % 10 = 3;"
          "COMMIT;");
  // Recently Deleted: the link moves to the recoverable join.
  db.Exec("BEGIN; INSERT INTO chat_recoverable_message_join (chat_id, message_id, delete_date) SELECT chat_id, "
          "message_id, message_date + 86400000000000 FROM chat_message_join WHERE message_id % 100 = 7;"
          "DELETE FROM chat_message_join WHERE message_id % 100 = 7; COMMIT;");
}

void WriteAddressBook(const fs::path& path, int contacts) {
  Database db(path);
  db.Exec(sample::AddressBookSchema());
  db.Exec("BEGIN;");
  sqlite3_stmt* person = db.Prepare(
      "INSERT INTO ABPerson (ROWID, First, Last, CreationDate, ModificationDate, guid) VALUES (?, ?, ?, ?, ?, ?);");
  sqlite3_stmt* phone = db.Prepare(
      "INSERT INTO ABMultiValue (record_id, property, identifier, label, value, guid) VALUES (?, 3, 0, 1, ?, ?);");
  static const char* const kLast[] = {"王", "李", "张", "刘", "陈", "杨", "Smith", "Chen"};
  static const char* const kFirst[] = {"伟", "芳", "娜", "敏", "静", "磊", "Emily", "David"};
  for (int i = 1; i <= contacts; ++i) {
    const std::string personGuid = Guid(static_cast<std::uint64_t>(i), 2);
    sqlite3_bind_int(person, 1, i);
    sqlite3_bind_text(person, 2, kFirst[i % 8], -1, SQLITE_STATIC);
    sqlite3_bind_text(person, 3, kLast[(i / 8) % 8], -1, SQLITE_STATIC);
    sqlite3_bind_int(person, 4, 600000000 + i);
    sqlite3_bind_int(person, 5, 600000000 + i);
    sqlite3_bind_text(person, 6, personGuid.c_str(), -1, SQLITE_TRANSIENT);
    db.Step(person);
    const std::string number = Number(i);
    const std::string phoneGuid = Guid(static_cast<std::uint64_t>(i), 3);
    sqlite3_bind_int(phone, 1, i);
    sqlite3_bind_text(phone, 2, number.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(phone, 3, phoneGuid.c_str(), -1, SQLITE_TRANSIENT);
    db.Step(phone);
  }
  sqlite3_finalize(person);
  sqlite3_finalize(phone);
  db.Exec("COMMIT;");
}

// A WeChat account in a plain folder, where the app keeps it:
// Documents/<md5>/ with the settings archive, DB/WCDB_Contact.sqlite,
// the message tables (one per contact, messages spread evenly, in
// DB/message_1.sqlite .. message_<files>.sqlite by contact as current builds
// keep them, or all in DB/MM.sqlite as older ones did when files is 0; a
// room's messages name their member first; every 20th a picture, with its
// file in Img/<md5 of the contact>/) and
// fts/fts_message.db (every tenth message in the search index; of those,
// every tenth then deleted from its message table, so that only the index
// tells it, and every twentieth index row deleted, left for the scan).
void WriteWeChat(const fs::path& folder, int messages, int contacts, int files) {
  const sample::WxSettings settings = sample::WxSampleSettings();
  const fs::path account = folder / "Documents" / sample::WxUserMd5(settings.userName);
  sample::WriteBytes(account / "mmsetting.archive", sample::WxKeyedArchive(sample::WxSettingsObjects(settings)));
  constexpr int kRooms = 20;
  std::vector<std::string> names;
  {
    Database db(account / "DB" / "WCDB_Contact.sqlite");
    db.Exec(sample::WxFriendSchemaSql(sample::WxFriendShape::kNameFirst));
    db.Exec("BEGIN;");
    for (int i = 0; i < contacts; ++i) {
      sample::WxFriendRow row;
      const bool room = i < kRooms;
      row.userName = room ? "bench" + std::to_string(i) + "@chatroom" : "wxid_bench" + std::to_string(i);
      row.remarks = {{0x0A, (room ? "群聊 " : "好友 ") + std::to_string(i)}};
      row.headImageUrl = "http://wx.qlogo.cn/mmhead/ver_1/bench" + std::to_string(i) + "/132";
      for (int m = 0; room && m < 30; ++m) {
        const int member = kRooms + (i * 30 + m) % std::max(1, contacts - kRooms);
        row.roomMembers.push_back({"wxid_bench" + std::to_string(member), "", "", 0});
      }
      db.Exec(sample::InsertWxFriendSql(row, sample::WxFriendShape::kNameFirst));
      names.push_back(row.userName);
    }
    db.Exec("COMMIT;");
  }
  std::vector<std::unique_ptr<Database>> messageFiles;
  if (files == 0) messageFiles.push_back(std::make_unique<Database>(account / "DB" / "MM.sqlite"));
  for (int f = 1; f <= files; ++f) {
    messageFiles.push_back(std::make_unique<Database>(account / "DB" / ("message_" + std::to_string(f) + ".sqlite")));
  }
  auto fileOf = [&messageFiles](int contact) -> Database& {
    return *messageFiles[static_cast<std::size_t>(contact) % messageFiles.size()];
  };
  for (auto& file : messageFiles) file->Exec("BEGIN;");
  static const char* const kTexts[] = {"好的，明天见", "在吗？", "会议改到下午三点了，记得带材料",
                                       "Running late, be there in 10", "收到，谢谢！", "晚上一起吃饭吗"};
  const int perContact = std::max(1, messages / std::max(1, contacts));
  for (int c = 0; c < contacts; ++c) {
    Database& db = fileOf(c);
    const std::string table = "Chat_" + sample::WxUserMd5(names[static_cast<std::size_t>(c)]);
    db.Exec("CREATE TABLE " + table +
            " (TableVer integer default 1, MesLocalID integer primary key autoincrement, MesSvrID bigint default 0,"
            " CreateTime integer default 0, Message text, Status integer default 0, ImgStatus integer default 0,"
            " Type integer, Des integer);");
    sqlite3_stmt* insert = db.Prepare(("INSERT INTO " + table +
                                       " (MesLocalID, MesSvrID, CreateTime, Message, Status, Type, Des)"
                                       " VALUES (?, ?, ?, ?, 2, ?, ?);").c_str());
    for (int m = 1; m <= perContact; ++m) {
      const int n = c * perContact + m;
      std::string text = std::string(kTexts[n % 6]) + " #" + std::to_string(n);
      const bool received = n % 2 == 0;
      if (c < kRooms && received) text = "wxid_bench" + std::to_string(kRooms + n % (contacts - kRooms)) + ":\n" + text;
      sqlite3_bind_int(insert, 1, m);
      sqlite3_bind_int64(insert, 2, 6000000000000000000LL + n);
      sqlite3_bind_int64(insert, 3, 1600000000LL + n * 60LL);
      sqlite3_bind_text(insert, 4, text.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_int(insert, 5, n % 20 == 0 ? 3 : 1);
      if (n % 20 == 0) {
        sample::WriteBytes(account / "Img" / sample::WxUserMd5(names[static_cast<std::size_t>(c)]) /
                               (std::to_string(m) + ".pic"),
                           {0xFF, 0xD8, 0xFF, 0xD9});
      }
      sqlite3_bind_int(insert, 6, received ? 1 : 0);
      db.Step(insert);
    }
    sqlite3_finalize(insert);
  }
  for (auto& file : messageFiles) file->Exec("COMMIT;");

  Database index(account / "fts" / "fts_message.db");
  index.Exec(sample::WxIndexTablesSql(1));
  index.Exec("BEGIN;");
  for (int c = 0; c < contacts; ++c) index.Exec(sample::InsertWxIndexNameSql(c + 1, names[static_cast<std::size_t>(c)], 0));
  std::vector<std::string> deletions(messageFiles.size());
  std::string indexDeletions;
  for (int c = 0; c < contacts; ++c) {
    const std::string table = "Chat_" + sample::WxUserMd5(names[static_cast<std::size_t>(c)]);
    for (int m = 10; m <= perContact; m += 10) {
      const int n = c * perContact + m;
      const sample::WxIndexContent row{0, c + 1, m, 1600000000LL + n * 60LL, std::string(kTexts[n % 6]) + " #" + std::to_string(n)};
      index.Exec(sample::InsertWxIndexContentSql(row));
      if (m % 100 == 0) deletions[static_cast<std::size_t>(c) % messageFiles.size()] += "DELETE FROM " + table + " WHERE MesLocalID=" + std::to_string(m) + ";";
      if (m % 200 == 50) indexDeletions += sample::DeleteWxIndexContentSql(row);
    }
  }
  index.Exec("COMMIT;");
  index.Exec(indexDeletions);
  for (std::size_t f = 0; f < messageFiles.size(); ++f) messageFiles[f]->Exec(deletions[f]);
}

// One measured run: analyse and recover every record of a category.
int RunOnce(const std::string& categoryName, const fs::path& folder) {
  const auto category = base::ParseCategory(categoryName);
  if (!category) return 2;
  const auto start = Clock::now();
  backup::CFileListDB index;
  if (!index.Open(folder.string(), -1).Ok()) return 1;
  std::unique_ptr<readers::ICategoryReader> reader;
  recovery::RunAnalysis(*category, index, reader, nullptr);
  const std::vector<db::BaseItem*> list = reader->ResultList();
  const double analysed = std::chrono::duration<double>(Clock::now() - start).count();
  platform::TempFolder out("velmora-analysis-bench");
  fs::path written;
  recovery::RunRecovery(*reader, list, out.Path(), "bench", nullptr, written);
  const double total = std::chrono::duration<double>(Clock::now() - start).count();
  std::size_t records = 0;
  std::size_t deleted = 0;
  for (db::BaseItem* record : list) {
    const auto* group = dynamic_cast<db::FriendItem*>(record);
    records += group != nullptr ? group->items.size() : 1;
    if (group == nullptr) deleted += record->deleted != 0 ? 1 : 0;
    for (const db::BaseItem* member : group != nullptr ? group->items : std::vector<db::BaseItem*>{}) {
      deleted += member->deleted != 0 ? 1 : 0;
    }
  }
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  std::printf("%-9s %zu groups, %zu records (%zu deleted): analyse %.2f s, analyse + recover %.2f s, peak memory "
              "%.0f MB\n",
              categoryName.c_str(), list.size(), records, deleted, analysed, total, usage.ru_maxrss / 1024.0);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    int messages = 1000000;
    int conversations = 20000;
    int contacts = 20000;
    int wechatMessages = 500000;
    int wechatContacts = 2000;
    int wechatFiles = 4;
    std::string only;
    std::string folderArg;
    for (int i = 1; i < argc; ++i) {
      const std::string arg = argv[i];
      if (arg == "--run" && i + 2 < argc) return RunOnce(argv[i + 1], argv[i + 2]);
      if (arg == "--messages" && i + 1 < argc) messages = std::atoi(argv[++i]);
      else if (arg == "--conversations" && i + 1 < argc) conversations = std::atoi(argv[++i]);
      else if (arg == "--contacts" && i + 1 < argc) contacts = std::atoi(argv[++i]);
      else if (arg == "--wechat-messages" && i + 1 < argc) wechatMessages = std::atoi(argv[++i]);
      else if (arg == "--wechat-contacts" && i + 1 < argc) wechatContacts = std::atoi(argv[++i]);
      else if (arg == "--wechat-files" && i + 1 < argc) wechatFiles = std::atoi(argv[++i]);
      else if (arg == "--only" && i + 1 < argc) only = argv[++i];
      else folderArg = arg;
    }
    if (messages < 1 || conversations < 1 || contacts < 1 || wechatMessages < 1 || wechatContacts <= 20 ||
        wechatFiles < 0) {
      std::cerr << "usage: analysis_bench [--messages N] [--conversations N] [--contacts N] [--wechat-messages N]"
                   " [--wechat-contacts N (over 20)] [--wechat-files N (0: MM.sqlite)]"
                   " [--only messages|contacts|wechat] [FOLDER]\n";
      return 2;
    }
    const auto wanted = [&only](const char* category) { return only.empty() || only == category; };
    std::optional<platform::TempFolder> temp;
    fs::path folder = folderArg;
    if (folder.empty()) {
      temp.emplace("velmora-analysis-bench");
      folder = temp->Path() / "backup";
    }
    const auto built = Clock::now();
    if (wanted("messages") || wanted("contacts")) {
      WriteSmsDb(folder / "Library/SMS/sms.db", messages, conversations);
      WriteAddressBook(folder / "Library/AddressBook/AddressBook.sqlitedb", contacts);
      std::printf("sms.db: %d messages in %d chats (a tenth purged, one in a hundred in Recently Deleted) %.1f MB; "
                  "AddressBook.sqlitedb: %d "
                  "contacts %.1f MB\n",
                  messages, conversations, fs::file_size(folder / "Library/SMS/sms.db") / 1048576.0, contacts,
                  fs::file_size(folder / "Library/AddressBook/AddressBook.sqlitedb") / 1048576.0);
    }
    if (wanted("wechat")) {
      WriteWeChat(folder, wechatMessages, wechatContacts, wechatFiles);
      std::printf("WeChat: %d messages of %d contacts (20 chat rooms) in %s; search index of every tenth\n",
                  wechatMessages, wechatContacts,
                  wechatFiles == 0 ? "MM.sqlite" : (std::to_string(wechatFiles) + " message_<n>.sqlite files").c_str());
    }
    std::printf("built in %.1f s\n", std::chrono::duration<double>(Clock::now() - built).count());
    std::fflush(stdout);
    int status = 0;
    for (const char* category : {"messages", "contacts", "wechat"}) {
      if (!wanted(category)) continue;
      const std::string command = "'" + std::string(argv[0]) + "' --run " + category + " '" + folder.string() + "'";
      status = std::max(status, std::system(command.c_str()));
    }
    return status == 0 ? 0 : 1;
  } catch (const std::exception& e) {
    std::cerr << "analysis_bench: " << e.what() << '\n';
    return 1;
  }
}
