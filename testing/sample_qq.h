#pragma once
// Sample QQ and TIM data for the QQ readers' tests and the demo backup: the
// account archive (Documents/QQAccountsManager, a keyed archive), the
// nickname files, an account's message database QQ.db and its message
// search index FTSMsg.db, with live rows and rows deleted with
// secure_delete off so that their bytes stay in the file.
//
// Table shapes (the deleted-row scanner knows them by their column counts
// and the serial types of certain columns; docs/formats/qq.md):
//   tb_c2cMsg_<peer>   51 columns: msgId (integer primary key), uin (text,
//                      the peer's number), time (4-byte integer), type,
//                      flag, read (0 or 1 each), content (text), status,
//                      sendState, isOffline (0 or 1, 0, 0), 33 further
//                      columns, conversationUin (column 43), 7 further
//   tb_TroopMsg_<grp>  25 columns: msgId (integer primary key), SendUin
//                      (4-byte integer), MsgSeq, MsgTime (4-byte integer),
//                      sMsgType (0 or 1), strMsg, nickName, read, moreflag
//                      (0 or 1 each), 16 further columns
//   tb_Index_*_content 13 columns: docid (integer primary key), c0msgId,
//                      c1uin, c2time, c3msgType, c4flag, c5nickName,
//                      c6msgSeq, c7content, c8conversationUin, c9isDeleted,
//                      c10reserved, c11reserved
//   tb_c2cTables       uin: the names of the one-to-one tables
//   tb_TroopMsgSeq     groupCode (first column), seq
// Numbers the scanner reads as 4-byte integers (SendUin) must lie between
// 8388608 and 2147483647, as most QQ numbers do.
//
// Everything here builds bytes or SQL texts; SqliteFile (sample_backup.h)
// runs the SQL. Functions are pure and may be called from any thread.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "testing/plist_writer.h"
#include "testing/sample_backup.h"

namespace sample {

inline constexpr char kQqAppDomain[] = "AppDomain-com.tencent.mqq";
inline constexpr char kTimAppDomain[] = "AppDomain-com.tencent.tim";
inline constexpr int kQqC2cColumns = 51;
inline constexpr int kQqTroopColumns = 25;
inline constexpr int kQqIndexColumns = 13;

struct QqAccountEntry {
  std::string uin;
  std::string nickname;
};

// The account archive's "$objects": "$null", then per account a
// dictionary, a dictionary, the number and the nickname.
std::vector<PlistNode> QqAccountsObjects(const std::vector<QqAccountEntry>& accounts);
std::vector<std::uint8_t> QqAccountsArchive(const std::vector<QqAccountEntry>& accounts);
// A nickname file: "$objects" = "$null", a dictionary, the number, the
// nickname.
std::vector<std::uint8_t> QqNicknamePlist(const std::string& uin, const std::string& nickname);

// One row of a one-to-one table. An empty conversationUin is NULL.
struct QqC2cRow {
  int msgId = 1;
  std::string uin;
  std::int64_t time = 1600000000;
  int type = 0;
  int flag = 0;
  std::string content;
  std::string conversationUin;
};

// One row of a group table.
struct QqTroopRow {
  int msgId = 1;
  std::int64_t sendUin = 0;
  int msgSeq = 1000;
  std::int64_t time = 1600000000;
  int type = 0;
  std::string text;
  std::string nickName;
  int moreflag = 0;
};

// One row of a search-index table.
struct QqIndexRow {
  int docId = 1;
  int msgId = 1;
  std::string uin;
  std::int64_t time = 1600000000;
  int flag = 0;
  std::string content;
  std::string conversationUin;
  int isDeleted = 0;
};

// QQ.db: the two table lists, empty.
std::string QqMessageDbSql();
// Lists a one-to-one table in tb_c2cTables and creates it.
std::string QqC2cTableSql(const std::string& peerUin);
std::string InsertQqC2cSql(const std::string& peerUin, const QqC2cRow& row);
std::string DeleteQqC2cSql(const std::string& peerUin, int msgId);
// Lists a group in tb_TroopMsgSeq and creates its table.
std::string QqTroopTableSql(const std::string& groupCode);
std::string InsertQqTroopSql(const std::string& groupCode, const QqTroopRow& row);
std::string DeleteQqTroopSql(const std::string& groupCode, int msgId);
// FTSMsg.db: the three content tables, empty.
std::string QqIndexDbSql();
// table: "tb_Index_c2cMsg_content", "tb_Index_TroopMsg_content" or
// "tb_Index_discussGrp_content".
std::string InsertQqIndexSql(const std::string& table, const QqIndexRow& row);
std::string DeleteQqIndexSql(const std::string& table, int docId);

// Adds the databases of one account at Documents/contents/<uin>/ in domain
// (no search index when indexSql is empty).
void AddQqAccountFiles(SampleBackupBuilder& builder, const std::string& domain, const std::string& uin,
                       const std::string& messageDbSql, const std::string& indexSql = "");
// Adds a nickname file Documents/contents/<owner>/FriendInfo/friend_<uin>.plist.
void AddQqNickname(SampleBackupBuilder& builder, const std::string& domain, const std::string& owner,
                   const std::string& uin, const std::string& nickname);

// Current builds ("QQ NT") keep an account's chats in
// <kQqNtDbFolder>/nt_qq_<hash>/nt_msg.db, an SQLCipher database: pages of
// 4096 bytes that look like noise, sometimes after a short plain header of
// the app's own. Nothing here encrypts anything: noise is all a reader
// without the key can see, and all it needs to see.
inline constexpr char kQqNtDbFolder[] = "Documents/QQNT/DB/nt_db";
inline constexpr std::size_t kQqNtPageSize = 4096;
// A hash for samples: 32 lowercase hexadecimal digits, as the folders have.
inline constexpr char kQqNtSampleHash[] = "5f1c0a9e7d3b46e2a8c4f06b19d7e352";

// An encrypted-looking nt_msg.db: headerBytes of a plain header (none when
// 0; it begins with 16 bytes that share their first word with SQLite's
// magic, so a reader that compares only part of the magic takes the file
// for a plain database), then pages × 4096 bytes of
// noise drawn from seed (the same seed, the same bytes).
std::vector<std::uint8_t> QqNtMessageDb(int pages = 3, std::size_t headerBytes = 0, std::uint32_t seed = 1);
// A folder for nt_qq_<hash> that the reader ties to the account uin: below
// the account's own older folder, Documents/contents/<uin>/QQNT/DB/nt_db.
std::string QqNtFolderOfAccount(const std::string& uin);
// Adds <folder>/nt_qq_<hash>/nt_msg.db with messageDb as its bytes, and
// guild_msg.db beside it (noise too), in QQ's domain.
void AddQqNtAccountFiles(SampleBackupBuilder& builder, const std::string& hash,
                         const std::vector<std::uint8_t>& messageDb = QqNtMessageDb(),
                         const std::string& folder = kQqNtDbFolder);

// The built-in QQ account 284655012 (小雨) and TIM account 193847562, for
// the demo:
//   QQ: 王芳 (315720468, friend; a picture; one message deleted from the
//   table; one only in the index; one deleted from the index), 张伟
//   (586301274, both a friend and a group), the group 周末爬山群
//   (725364918, members with group nicknames; one message deleted from the
//   table), and an index row repeating a live message.
//   TIM: 陈经理 (620481937, friend, two messages).
void AddQqApp(SampleBackupBuilder& builder);

}  // namespace sample
