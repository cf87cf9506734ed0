#include "bench/large_sms_db.h"

#include <sqlite3.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <random>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "testing/ios_schemas.h"

namespace bench {
namespace {

namespace fs = std::filesystem;

// sms.db's page size on the phone.
constexpr int kPageSize = 4096;
// Rows between two looks at the file size.
constexpr int kRowsPerSizeCheck = 2000;
constexpr int kHandleCount = 150;
// 2019-09-01 in nanoseconds since 2001-01-01, where the message dates start.
constexpr std::int64_t kFirstDateNanoseconds = 589075200LL * 1000000000LL;
constexpr std::int64_t kNanosecondsPerSecond = 1000000000LL;
// About five minutes between messages on average: 400 MB of messages then
// span some five years, as a heavy user's do. Much longer gaps would carry
// dates past 2069, where seconds since 2001 no longer fit in 32 bits.
constexpr std::uint64_t kMaxSecondsBetweenMessages = 600;
constexpr char kOwnNumber[] = "+8613600001234";
constexpr char kOwnAppleId[] = "lin.mei@icloud.com";

class Connection {
 public:
  Connection(const fs::path& path, int flags) {
    if (sqlite3_open_v2(path.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
      const std::string text = db_ != nullptr ? sqlite3_errmsg(db_) : "out of memory";
      sqlite3_close(db_);
      throw std::runtime_error("large sms.db: cannot open " + path.string() + ": " + text);
    }
  }
  ~Connection() { sqlite3_close(db_); }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  sqlite3* Get() const { return db_; }

  void Exec(const std::string& sql) const {
    char* error = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
      const std::string text = error != nullptr ? error : "unknown error";
      sqlite3_free(error);
      throw std::runtime_error("large sms.db: " + text);
    }
  }

  // The first column of the first row of sql, or fallback without a row.
  std::int64_t QueryInt(const std::string& sql, std::int64_t fallback) const {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
      throw std::runtime_error(std::string("large sms.db: ") + sqlite3_errmsg(db_));
    }
    std::int64_t value = fallback;
    if (sqlite3_step(statement) == SQLITE_ROW) value = sqlite3_column_int64(statement, 0);
    sqlite3_finalize(statement);
    return value;
  }

 private:
  sqlite3* db_ = nullptr;
};

// The columns a message row sets; the others keep their defaults (0 or
// NULL), as most of them do on the phone.
constexpr char kInsertMessage[] =
    "INSERT INTO message (guid, text, replace, handle_id, attributedBody, version, type, service,"
    " account, account_guid, error, date, date_read, date_delivered, is_delivered, is_finished,"
    " is_from_me, is_read, is_sent, was_data_detected, cache_has_attachments,"
    " associated_message_guid, associated_message_type, destination_caller_id, ck_sync_state,"
    " ck_record_id, ck_record_change_tag, reply_to_guid, sort_id)"
    " VALUES (?1, ?2, 0, ?3, ?4, 10, 0, ?5, ?6, ?7, 0, ?8, ?9, ?10, 1, 1, ?11, ?12, ?13, 1, ?14,"
    " ?15, ?16, ?17, ?18, ?19, ?20, ?21, 0)";

constexpr std::array kEnglishPhrases = {
    "On my way",
    "Are you free tonight?",
    "Thanks!",
    "See you at 7",
    "Can you send me the address?",
    "Happy birthday! \xF0\x9F\x8E\x82",
    "The meeting moved to Thursday afternoon",
    "Call me when you land",
    "ok",
    "Running 10 minutes late, sorry",
    "Your verification code is 482913. It expires in 10 minutes.",
    "Did you get the photos from the weekend?",
};

constexpr std::array kChinesePhrases = {
    "\xE5\xA5\xBD\xE7\x9A\x84",  // 好的
    "\xE6\x88\x91\xE5\x88\xB0\xE4\xBA\x86",  // 我到了
    "\xE6\x99\x9A\xE4\xB8\x8A\xE4\xB8\x80\xE8\xB5\xB7\xE5\x90\x83\xE9\xA5\xAD\xE5\x90\x97\xEF\xBC\x9F",  // 晚上一起吃饭吗？
    "\xE6\x98\x8E\xE5\xA4\xA9\xE8\xA7\x81",  // 明天见
    "\xE8\xB0\xA2\xE8\xB0\xA2\xE4\xBD\xA0\xEF\xBC\x81",  // 谢谢你！
    "\xE4\xBD\xA0\xE7\x9A\x84\xE5\xBF\xAB\xE9\x80\x92\xE5\x88\xB0\xE4\xBA\x86\xEF\xBC\x8C"
    "\xE8\xAF\xB7\xE5\x88\xB0\xE9\x97\xA8\xE5\x8F\xA3\xE5\x8F\x96\xE4\xBB\xB6",  // 你的快递到了，请到门口取件
    "\xE3\x80\x90\xE9\x93\xB6\xE8\xA1\x8C\xE3\x80\x91\xE6\x82\xA8\xE5\xB0\xBE\xE5\x8F\xB7"
    "1234\xE7\x9A\x84\xE8\xB4\xA6\xE6\x88\xB7\xE4\xBA\x8E\xE4\xBB\x8A\xE6\x97\xA5\xE5\x85\xA5"
    "\xE8\xB4\xA6" "5,000.00\xE5\x85\x83",  // 【银行】您尾号1234的账户于今日入账5,000.00元
    "\xE4\xBC\x9A\xE8\xAE\xAE\xE6\x94\xB9\xE5\x88\xB0\xE5\x91\xA8\xE5\x9B\x9B\xE4\xB8\x8B"
    "\xE5\x8D\x88\xE4\xB8\x89\xE7\x82\xB9",  // 会议改到周四下午三点
    "\xE7\x94\x9F\xE6\x97\xA5\xE5\xBF\xAB\xE4\xB9\x90\xEF\xBC\x81",  // 生日快乐！
    "\xE8\xB7\xAF\xE4\xB8\x8A\xE5\xA0\xB5\xE8\xBD\xA6\xEF\xBC\x8C\xE6\x99\x9A\xE5\x8D\x81"
    "\xE5\x88\x86\xE9\x92\x9F",  // 路上堵车，晚十分钟
};

// The text of a message that is only an attachment: U+FFFC.
constexpr char kAttachmentText[] = "\xEF\xBF\xBC";

struct Handle {
  std::string id;
  bool iMessage = false;
};

struct Message {
  std::string guid;
  std::string text;
  std::int64_t handleId = 1;
  std::string attributedBody;  // bytes
  bool iMessage = false;
  std::string account;
  std::int64_t date = 0;
  std::int64_t dateRead = 0;
  std::int64_t dateDelivered = 0;
  bool fromMe = false;
  bool hasAttachment = false;
  std::string associatedGuid;  // empty: NULL
  int associatedType = 0;
  std::string ckRecordId;  // empty: NULL
  std::string ckChangeTag;
  std::string replyToGuid;  // empty: NULL
};

// The length prefix of a string in an archived attributed string.
void AppendArchiveLength(std::string& out, std::size_t length) {
  if (length < 0x80) {
    out += static_cast<char>(length);
    return;
  }
  out += '\x81';
  out += static_cast<char>(length & 0xFF);
  out += static_cast<char>((length >> 8) & 0xFF);
}

// A literal's bytes without its terminating NUL (it may hold other NULs).
template <std::size_t N>
void AppendLiteral(std::string& out, const char (&literal)[N]) {
  out.append(literal, N - 1);
}

// attributedBody: the body as Messages archives it, an NSAttributedString
// with one run carrying the message-part attribute.
std::string AttributedBody(const std::string& text) {
  std::string out;
  out.reserve(text.size() + 200);
  AppendLiteral(out, "\x04\x0bstreamtyped\x81\xe8\x03\x84\x01@\x84\x84\x84");
  AppendLiteral(out, "\x12NSAttributedString\x00\x84\x84\x08NSObject\x00\x85\x92\x84\x84\x84");
  AppendLiteral(out, "\x08NSString\x01\x94\x84\x01+");
  AppendArchiveLength(out, text.size());
  out += text;
  AppendLiteral(out, "\x86\x84\x02iI\x01");
  AppendArchiveLength(out, text.size());
  AppendLiteral(out, "\x92\x84\x84\x84\x0cNSDictionary\x00\x94\x84\x01i\x01\x92\x84\x96\x96");
  AppendLiteral(out, "\x1d__kIMMessagePartAttributeName");
  AppendLiteral(out, "\x86\x92\x84\x84\x84\x08NSNumber\x00\x84\x84\x07NSValue\x00\x94");
  AppendLiteral(out, "\x84\x01*\x84\x99\x99\x00\x86\x86\x86");
  return out;
}

class MessageGenerator {
 public:
  MessageGenerator() : random_(20211203) {
    smsAccountGuid_ = Uuid();
    iMessageAccountGuid_ = Uuid();
  }

  std::string Uuid() {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out(36, '-');
    for (std::size_t i = 0; i < out.size(); ++i) {
      if (i == 8 || i == 13 || i == 18 || i == 23) continue;
      out[i] = kHex[Below(16)];
    }
    out[14] = '4';
    out[19] = kHex[8 + Below(4)];
    return out;
  }

  std::vector<Handle> Handles() {
    std::vector<Handle> handles;
    for (int i = 0; i < kHandleCount; ++i) {
      Handle handle;
      if (i % 5 == 4) {
        handle.id = "friend" + std::to_string(i) + "@example.com";
        handle.iMessage = true;
      } else {
        handle.id = "+86" + std::to_string(13800138000LL + 104729LL * i);
        handle.iMessage = i % 3 != 0;
      }
      handles.push_back(handle);
    }
    return handles;
  }

  Message Next(const std::vector<Handle>& handles) {
    Message message;
    message.guid = Uuid();
    // Most messages go to a few people.
    message.handleId = 1 + static_cast<std::int64_t>(Chance(70) ? Below(10) : Below(handles.size()));
    const Handle& handle = handles[static_cast<std::size_t>(message.handleId - 1)];
    message.iMessage = handle.iMessage;
    message.account = message.iMessage && Chance(50) ? std::string("e:") + kOwnAppleId
                                                     : std::string("p:") + kOwnNumber;
    message.fromMe = Chance(40);
    message.hasAttachment = Chance(5);
    message.text = message.hasAttachment ? kAttachmentText : Text();
    message.attributedBody = AttributedBody(message.text);
    SetDates(message);
    if (message.iMessage) SetCloudFields(message);
    if (!lastGuid_.empty() && Chance(70)) message.replyToGuid = lastGuid_;
    lastGuid_ = message.guid;
    return message;
  }

  const std::string& AccountGuid(bool iMessage) const {
    return iMessage ? iMessageAccountGuid_ : smsAccountGuid_;
  }

 private:
  std::uint64_t Below(std::uint64_t limit) { return random_() % limit; }
  bool Chance(int percent) { return Below(100) < static_cast<std::uint64_t>(percent); }

  std::string Phrase() {
    if (Chance(50)) return kChinesePhrases[Below(kChinesePhrases.size())];
    return kEnglishPhrases[Below(kEnglishPhrases.size())];
  }

  // One to four phrases; now and then a long text, rarely one that needs
  // overflow pages.
  std::string Text() {
    std::uint64_t phrases = 1 + Below(4);
    if (Below(200) == 0) phrases = 20 + Below(40);
    if (Below(2000) == 0) phrases = 150 + Below(150);
    std::string text;
    for (std::uint64_t i = 0; i < phrases; ++i) {
      if (i > 0) text += ' ';
      text += Phrase();
    }
    return text;
  }

  void SetDates(Message& message) {
    date_ += (5 + static_cast<std::int64_t>(Below(kMaxSecondsBetweenMessages))) * kNanosecondsPerSecond +
             static_cast<std::int64_t>(Below(kNanosecondsPerSecond));
    message.date = kFirstDateNanoseconds + date_;
    if (message.fromMe) {
      message.dateDelivered = message.date + (1 + static_cast<std::int64_t>(Below(5))) * kNanosecondsPerSecond;
    } else if (Chance(80)) {
      // Seconds since 2001, as rows carried over from before iOS 11 keep them.
      message.dateRead = message.date / kNanosecondsPerSecond + 1 + static_cast<std::int64_t>(Below(600));
    }
  }

  void SetCloudFields(Message& message) {
    static constexpr char kLowerHex[] = "0123456789abcdef";
    message.ckRecordId.resize(64);
    for (char& digit : message.ckRecordId) digit = kLowerHex[Below(16)];
    message.ckChangeTag = std::to_string(1 + Below(40));
    if (!lastGuid_.empty() && Chance(3)) {
      message.associatedGuid = "p:0/" + lastGuid_;
      message.associatedType = 2000 + static_cast<int>(Below(6));
    }
  }

  std::mt19937_64 random_;
  std::string smsAccountGuid_;
  std::string iMessageAccountGuid_;
  std::string lastGuid_;
  std::int64_t date_ = 0;
};

void BindTextOrNull(sqlite3_stmt* statement, int index, const std::string& text) {
  if (text.empty()) {
    sqlite3_bind_null(statement, index);
  } else {
    sqlite3_bind_text(statement, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
  }
}

void BindMessage(sqlite3_stmt* insert, const Message& message, const std::string& accountGuid) {
  BindTextOrNull(insert, 1, message.guid);
  BindTextOrNull(insert, 2, message.text);
  sqlite3_bind_int64(insert, 3, message.handleId);
  sqlite3_bind_blob(insert, 4, message.attributedBody.data(), static_cast<int>(message.attributedBody.size()),
                    SQLITE_TRANSIENT);
  sqlite3_bind_text(insert, 5, message.iMessage ? "iMessage" : "SMS", -1, SQLITE_STATIC);
  BindTextOrNull(insert, 6, message.account);
  BindTextOrNull(insert, 7, accountGuid);
  sqlite3_bind_int64(insert, 8, message.date);
  sqlite3_bind_int64(insert, 9, message.dateRead);
  sqlite3_bind_int64(insert, 10, message.dateDelivered);
  sqlite3_bind_int(insert, 11, message.fromMe ? 1 : 0);
  sqlite3_bind_int(insert, 12, !message.fromMe && message.dateRead != 0 ? 1 : 0);
  sqlite3_bind_int(insert, 13, message.fromMe ? 1 : 0);
  sqlite3_bind_int(insert, 14, message.hasAttachment ? 1 : 0);
  BindTextOrNull(insert, 15, message.associatedGuid);
  sqlite3_bind_int(insert, 16, message.associatedType);
  sqlite3_bind_text(insert, 17, message.account.c_str() + 2, -1, SQLITE_TRANSIENT);
  sqlite3_bind_int(insert, 18, message.iMessage ? 1 : 0);
  BindTextOrNull(insert, 19, message.ckRecordId);
  BindTextOrNull(insert, 20, message.ckChangeTag);
  BindTextOrNull(insert, 21, message.replyToGuid);
}

void WriteHandles(const Connection& db, const std::vector<Handle>& handles) {
  std::string sql;
  for (const Handle& handle : handles) {
    sql += "INSERT INTO handle (id, country, service) VALUES ('" + handle.id + "', 'cn', '" +
           (handle.iMessage ? "iMessage" : "SMS") + "');";
  }
  db.Exec(sql);
}

// Writes messages until the file holds targetBytes; returns how many.
std::int64_t WriteMessages(const Connection& db, std::uint64_t targetBytes) {
  MessageGenerator generator;
  const std::vector<Handle> handles = generator.Handles();
  WriteHandles(db, handles);
  sqlite3_stmt* insert = nullptr;
  if (sqlite3_prepare_v2(db.Get(), kInsertMessage, -1, &insert, nullptr) != SQLITE_OK) {
    throw std::runtime_error(std::string("large sms.db: ") + sqlite3_errmsg(db.Get()));
  }
  std::int64_t rows = 0;
  for (;;) {
    for (int i = 0; i < kRowsPerSizeCheck; ++i, ++rows) {
      const Message message = generator.Next(handles);
      BindMessage(insert, message, generator.AccountGuid(message.iMessage));
      if (sqlite3_step(insert) != SQLITE_DONE) {
        const std::string text = sqlite3_errmsg(db.Get());
        sqlite3_finalize(insert);
        throw std::runtime_error("large sms.db: " + text);
      }
      sqlite3_reset(insert);
    }
    const std::int64_t pages = db.QueryInt("PRAGMA page_count", 0);
    if (static_cast<std::uint64_t>(pages) * kPageSize >= targetBytes) break;
  }
  sqlite3_finalize(insert);
  return rows;
}

}  // namespace

LargeSmsDbFigures WriteLargeSmsDb(const fs::path& path, std::uint64_t targetBytes) {
  std::error_code ignored;
  fs::remove(path, ignored);
  LargeSmsDbFigures figures;
  {
    const Connection db(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    // Debian builds SQLite with secure_delete on; the phone's leaves deleted
    // rows in the file. No journal and no syncing: the file is scratch.
    db.Exec("PRAGMA secure_delete=OFF; PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF;"
            "PRAGMA page_size=" + std::to_string(kPageSize) + "; PRAGMA cache_size=-262144;");
    db.Exec("BEGIN;");
    db.Exec(sample::kSmsHandleIos14);
    db.Exec(sample::kSmsMessageIos14);
    figures.rowsWritten = WriteMessages(db, targetBytes);
    // The rows reach the file before the delete, as on a phone where they
    // were written long before. With secure_delete off SQLite does not write
    // a page it moves to the free list; one filled and freed in the same
    // transaction would never reach the file and read as zeros.
    db.Exec("COMMIT; BEGIN;");
    // A quarter: a run of a seventh of the rows (whole pages go to the free
    // list) and every eighth row of the rest (free blocks inside live
    // pages): n/7 + (n - n/7)/8 = n/4.
    const std::int64_t runLength = figures.rowsWritten / 7;
    const std::int64_t runStart = figures.rowsWritten / 3;
    db.Exec("DELETE FROM message WHERE ROWID % 8 = 0 OR ROWID BETWEEN " + std::to_string(runStart) + " AND " +
            std::to_string(runStart + runLength - 1) + ";");
    figures.rowsDeleted = sqlite3_changes64(db.Get());
    db.Exec("COMMIT;");
  }
  figures.fileBytes = fs::file_size(path);
  figures.pageSize = kPageSize;
  return figures;
}

LargeSmsDbFigures ReadLargeSmsDbFigures(const fs::path& path) {
  const Connection db(path, SQLITE_OPEN_READONLY);
  LargeSmsDbFigures figures;
  figures.rowsWritten = db.QueryInt("SELECT seq FROM sqlite_sequence WHERE name = 'message'", 0);
  figures.rowsDeleted = figures.rowsWritten - db.QueryInt("SELECT count(*) FROM message", 0);
  figures.pageSize = static_cast<int>(db.QueryInt("PRAGMA page_size", 0));
  figures.fileBytes = fs::file_size(path);
  return figures;
}

}  // namespace bench
