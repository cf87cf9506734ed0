#pragma once
// The chat accounts of one backup (CLocalUserList) and its WeChat half: one
// CWxLocalUser per WeChat account that was logged in on the phone, found from
// the account's settings archive ("mmsetting.archive", a keyed archive), with
// the account's four databases (CTencentWXDB) and its contacts.
//
// All WeChat files live in the backup domain "AppDomain-com.tencent.xin",
// each account's below a folder named by the MD5 digest of its user name:
//   <md5>/DB/WCDB_Contact.sqlite   contacts (table "Friend")
//   <md5>/DB/MM.sqlite             messages (one table per contact), as
//                                  older builds kept all of them
//   <md5>/DB/message_<n>.sqlite    messages of current builds: each
//                                  contact's table lives in one of them
//   <md5>/session/session.db       session summaries
//   <md5>/fts/fts_message.db       message search index
// The settings archive is a keyed archive whose "$objects" list holds the
// account's values by position:
//   2        user name (text)          3   display name (text)
//   4        phone number (text)       5   e-mail address (text)
//   15..24   the text "0" followed by a text: the WeChat ID
//   40..     texts beginning "http": avatar URLs, ending "0" (large) or "2"
//            (small, the one shown)
// Fewer than 7 objects, or a non-text among 2 to 5, yield no account.
//
// Threads: FindLocalUsers and AnalyseWxUsers run on the analysis worker;
// nothing here locks, so the list and its accounts are left alone by other
// threads while an analysis runs. Progress leaves only through
// db::ReportProgress.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "chat/qq_account.h"
#include "chat/wechat_contacts.h"
#include "db/db_sqlite.h"
#include "db/progress.h"

namespace backup {
class CFileListDB;
}

namespace chat {

class CLocalUserList;

inline constexpr char kWeChatDomain[] = "AppDomain-com.tencent.xin";
inline constexpr char kWeChatSettingsArchive[] = "mmsetting.archive";
// The account made in folder mode when a message database is there but no
// settings archive names its owner.
inline constexpr char kUnknownLocalUser[] = "本地登录未知用户";
// Shown when an analysis found no WeChat account.
inline constexpr char kNoWeChatAccountText[] = "未找到微信本地帐号";
// A WeChat ID that holds this is a placeholder the app writes, not an ID.
inline constexpr char kPlaceholderWeChatId[] = "a3a0a1d40d920668522";

// The account databases, by the openParam their reader is opened with.
enum WxDatabase : int { kWxContactDb = 0, kWxMessageDb = 1, kWxSessionDb = 2, kWxFtsDb = 3 };

// The account folder's relative path of each database, '/'-separated. For
// the messages it is the older MM.sqlite; current builds add
// DB/message_<n>.sqlite files (WxMessageFileNumber).
const char* WxDatabasePath(WxDatabase database);

// n for a file named "message_<n>.sqlite" (n decimal digits, at most nine),
// else -1. The name is the file name alone, without folders.
int WxMessageFileNumber(const std::string& fileName);

// One session summary file of an account (read with the messages).
struct WxSessionItem {
  std::int32_t time = 0;      // seconds since 1970
  std::string userName;       // the conversation
  std::string senderName;
  std::string path;           // the stored file
  std::string text;           // the last message
  std::int32_t created = 0;   // 1 when a message was made from it
  // Registered from a session row found only in the write-ahead log: the
  // message made from it is marked as from the log.
  bool fromWal = false;
  db::BaseItem* message = nullptr;  // made from or matched to it; not owned
};

// One database of an account. GetTableName answers by openParam:
//   0 contacts  kind 0 "Friend"
//   1 messages  kind 0 "Chat_xxxxx", kind 1 "ChatExt2_xxxxx"
//   2 sessions  kind 0 "SessionAbstract"
//   3 search    kind 0 "fts_username_id", kind 1 "fts_message_table_xxx_content",
//               kind 2 "fts_message_table_xxx_segdir"
// The "xxx" names are templates; the message reader builds the real names.
class CTencentWXDB : public db::CDbSqlite {
 public:
  explicit CTencentWXDB(CWxLocalUser* owner) : owner_(owner) {}

  // The table of kind for this database, or "" for a kind it does not have.
  std::string GetTableName(int tableKind) override;
  // Contacts (openParam 0, kind 0): the row becomes a contact registered with
  // the owner (classified, replacing one of the same name); nothing is handed
  // back. The other databases' rows go to ParseWxDatabaseRow
  // (wechat_messages.h).
  void ParseRow(int tableKind, std::unique_ptr<db::BaseItem>& out, db::CppSQLite3Query& query) override;

  CWxLocalUser* Owner() const { return owner_; }

 private:
  CWxLocalUser* owner_;  // not owned
};

// One WeChat account. Its userName, DisplayName(), userMd5 and AvatarUrl()
// are the account's; alias holds its WeChat ID (its user name when the
// archive names none). kind is 0.
class CWxLocalUser : public DBITEM_WxFriend {
 public:
  CWxLocalUser();
  ~CWxLocalUser() override;

  // Sets index to the size of list's wxUsers, appends the account (the list
  // takes ownership) and registers it with itself under its user name.
  // Returns the account, now owned by the list.
  static CWxLocalUser* AddAccount(CLocalUserList& list, std::unique_ptr<CWxLocalUser> account);

  // Finds and opens the account's databases and loads its contacts, live and
  // deleted. The message databases are MM.sqlite and every
  // message_<n>.sqlite of the account's DB folder, each with its stored log. Remembers fileIndex (not owned) and index. Returns false, and
  // opens nothing, when the contact database is not in the backup; missing
  // other databases leave their reader null.
  bool OpenAccountDatabases(int accountIndex, backup::CFileListDB* fileIndex);

  // Registers contact with this account. kind -1 classifies it, 5 also marks
  // it deleted. Returns 1 when registered (contact is then owned by the
  // account and the pointer emptied), 0 when a contact of the same userName
  // exists and replace is false: contact is left with the caller and the
  // existing one is handed back through existing. A contact naming the
  // account itself never replaces the account: its head image and profile
  // fill what the account lacks, it is handed back, and 0 is returned.
  int RegisterContact(std::unique_ptr<DBITEM_WxFriend>& contact, std::int32_t contactKind, bool replace,
                      DBITEM_WxFriend** existing = nullptr);
  // The first stored path of the account's file name (relative to its
  // folder, '/'-separated), or "" when the backup has none.
  std::string FindAccountFile(const std::string& name) const;
  // The stored paths of the account's message databases, in messageDbs
  // order: MM.sqlite, then every message_<n>.sqlite right in its DB folder.
  std::vector<std::string> FindMessageDatabases() const;
  // The contact registered under userName (the account for its own name), or
  // null.
  DBITEM_WxFriend* FindContact(const std::string& name) const;
  // Deletes the readers, the contacts and the session summaries, and empties
  // every lookup map and ftsContents. The account's own fields stay.
  void Reset();

  std::vector<std::string> friendColumns;  // the Friend table's columns as first seen; kept across Reset
  db::CDbSqlite* attachmentReader = nullptr;  // attached by the attachment reader; not owned
  std::int32_t index = 0;         // position in the list's wxUsers
  std::string phoneNumber;        // the number the account is bound to, as the archive stores it
  std::string email;              // the account's e-mail address, as the archive stores it
  std::string avatarLargeUrl;     // the archive's avatar URL ending in "0"
  std::string archiveFolder;      // folder mode: the archive's folder with a trailing separator; else ""
  backup::CFileListDB* fileIndex = nullptr;  // not owned
  std::unique_ptr<CTencentWXDB> contactDb;
  // MM.sqlite first (when the backup has it), then message_<n>.sqlite by n.
  std::vector<std::unique_ptr<CTencentWXDB>> messageDbs;
  std::unique_ptr<CTencentWXDB> sessionDb;
  std::unique_ptr<CTencentWXDB> ftsDb;
  WxFriendList contacts;          // excluding the account itself
  std::map<std::string, DBITEM_WxFriend*> contactsByName;
  std::vector<std::unique_ptr<WxSessionItem>> sessionItems;
  std::map<std::string, WxSessionItem*> sessionItemsByPath;
  std::vector<std::string> sessionFilePaths;  // files found below session/data, for the message reader
  // The stored files of the app by "<contact md5>/<local id>", listed once
  // per analysis when the first picture or video message looks for its file.
  std::unordered_map<std::string, std::string> mediaFilesByKey;
  bool mediaFilesListed = false;
  db::ItemList ftsContents;
  std::map<std::int32_t, DBITEM_WxFriend*> contactsByUsernameId;
  float progressShare = 0;
  db::AnalysisProgress* progress = nullptr;  // where the share is reported; not owned, may be null

 private:
  // Registers an account-owned record (or the account itself) under its name
  // and derives its name-dependent fields; the core of RegisterContact.
  void Enter(DBITEM_WxFriend& contact, std::int32_t contactKind);
  // Replaces old by replacement in every room and map, then deletes old.
  void DropReplaced(DBITEM_WxFriend& old, DBITEM_WxFriend& replacement);
  void LinkRoomMembers(DBITEM_WxFriend& room);
  void FillSelfFrom(const DBITEM_WxFriend& friendRow);
  // Deletes the contacts last first and empties the contact maps, keeping
  // the account under its own name.
  void ClearContacts();
  // Collects the session summary files of the account into sessionFilePaths.
  void FindSessionFiles();
  std::unique_ptr<CTencentWXDB> OpenDatabase(WxDatabase database);
  std::unique_ptr<CTencentWXDB> OpenDatabaseAt(const std::string& storedPath, WxDatabase database);
};

// The chat accounts of one backup, for one analysis of a source. Destroying
// it deletes every account, last first.
class CLocalUserList {
 public:
  CLocalUserList() = default;
  ~CLocalUserList();
  CLocalUserList(const CLocalUserList&) = delete;
  CLocalUserList& operator=(const CLocalUserList&) = delete;

  // Looks for the accounts of category in the backup behind fileIndex (not
  // owned; it must outlive the list). Categories 1, 2 and 16: the WeChat
  // accounts, returning 1 when at least a settings archive (or, in folder
  // mode, a message database) was found, else 0. Category 0: the QQ and
  // TIM accounts (FindQqUsers), returning 1 when any was found, else 0.
  // Other categories return 1 and find nothing.
  int FindLocalUsers(backup::CFileListDB* fileIndex, int category);
  // Reads every settings archive of the backup into an account. An archive
  // that cannot be read or holds values of unexpected types yields no
  // account; the others are still read. Returns whether the backup holds
  // any settings archive.
  bool FindWxUsers();
  // Loads the contacts and the messages of every WeChat account.
  // Does nothing within an hour of an analysis that found accounts. With no
  // account, calls showMessage(kNoWeChatAccountText, "") when set. Returns 1.
  int AnalyseWxUsers();
  // Appends to qqUsers: the accounts of every QQ account archive of the
  // backup (and, outside folder mode, of every TIM one); without an archive,
  // in folder mode, the account "本地登录未知用户" when the chosen folder
  // holds a QQ.db; then the current builds' accounts (AddQqNtAccounts). An
  // archive that cannot be read yields no account; the others are still
  // read. Returns whether an archive, that QQ.db or an nt_msg.db was found.
  bool FindQqUsers();
  // Loads the contacts, groups and messages of every QQ and TIM account
  // (qq_account.h). Does nothing within an hour of an analysis that found
  // accounts. With no account, calls showMessage(kNoQqAccountText, "") when
  // set. Returns 1.
  int AnalyseQqUsers();

  backup::CFileListDB* fileIndex = nullptr;  // not owned
  // The analysis's progress, handed to every account found; not owned, may be null.
  db::AnalysisProgress* progress = nullptr;
  int category = 0;
  std::int64_t qqAnalysedAt = 0;  // Unix seconds of the last analysis with an account; 0 never
  std::int64_t wxAnalysedAt = 0;
  std::vector<std::unique_ptr<CQqLocalUser>> qqUsers;
  std::vector<std::unique_ptr<CWxLocalUser>> wxUsers;
  // How the analysis tells the user something (text, caption); called on
  // the analysis worker, so the receiver hands it to the UI thread itself.
  std::function<void(const std::string&, const std::string&)> showMessage;

 private:
  std::unique_ptr<CWxLocalUser> ReadSettingsArchive(const std::string& path) const;
  bool AddFolderModeFallbackAccount();
  bool AddQqFolderModeFallbackAccount();
  // FindQqUsers' first step: the accounts of the archives. Returns
  // whether any archive was found.
  bool FindQqArchiveAccounts();
  // Per nt_qq_<hash> folder of QQ's domain holding an nt_msg.db (qq_nt.h):
  // marks the QQ account of the archive whose number names a folder above
  // it, else appends an account named by the hash, with no number. Sets
  // ntMessageDb and chatsEncrypted from the file's first bytes. Returns
  // whether any such folder was found.
  bool AddQqNtAccounts();
  // The rest of an account's analysis once its databases are open: the
  // messages of every contact, the session summaries, the recovered index
  // rows; then the readers are closed and deletedCount set.
  void FinishWxAccount(std::size_t accountIndex);
};

}  // namespace chat
