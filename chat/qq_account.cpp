#include "chat/qq_account.h"

#include <algorithm>
#include <charconv>
#include <ctime>
#include <filesystem>
#include <optional>
#include <utility>

#include "backup/encrypted_backup.h"
#include "backup/file_list_db.h"
#include "backup/plist.h"
#include "chat/qq_messages.h"
#include "chat/wechat_account.h"
#include "db/progress.h"
#include "platform/fs.h"

namespace chat {
namespace {

namespace fs = std::filesystem;
using backup::PlistArray;
using backup::PlistDictionary;
using backup::PlistValue;

constexpr char kMessageDbName[] = "QQ.db";
constexpr char kIndexDbName[] = "FTSMsg.db";
// The app keeps an account's databases in Documents/contents/<uin>.
constexpr char kContentsFolder[] = "contents";
// Within an hour of an analysis that found accounts their data is current.
constexpr std::int64_t kReanalyseAfterSeconds = 3600;
constexpr float kAnalysisStartPercent = 10;
constexpr float kAnalysisSpanPercent = 90;
constexpr float kAccountsFoundPercent = 2;

const std::string* TextAt(const PlistArray& objects, std::size_t index) {
  if (index >= objects.size() || !objects[index].Is<std::string>()) return nullptr;
  return &objects[index].As<std::string>();
}

// The "$objects" list of a keyed archive file, or none when the file cannot
// be read or holds no such list: one damaged file costs its own contents.
std::optional<PlistArray> ArchiveObjects(const std::string& path) {
  try {
    const PlistValue top = backup::ReadPlistFile(path);
    const PlistValue* objects = top.Find("$objects");
    if (objects == nullptr || !objects->Is<PlistArray>()) return std::nullopt;
    return objects->As<PlistArray>();
  } catch (const backup::Plist::Error&) {
    return std::nullopt;
  }
}

bool IsNumber(const std::string& text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::int64_t LeadingNumber(const std::string& text) {
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  (void)end;
  return error == std::errc() ? value : 0;
}

// Whether path ends in "<number>.plist" (ASCII case ignored) and the number
// is not the tail of a longer one.
bool IsNicknameFileOf(const std::string& path, const std::string& number) {
  const std::string suffix = number + ".plist";
  const std::string lower = platform::AsciiLower(path);
  if (lower.size() < suffix.size() || lower.compare(lower.size() - suffix.size(), suffix.size(), suffix) != 0) {
    return false;
  }
  const std::size_t before = lower.size() - suffix.size();
  return before == 0 || lower[before - 1] < '0' || lower[before - 1] > '9';
}

// Whether relativePath names <uin>/<name> with uin a whole path component.
bool IsAccountFile(std::string relativePath, const std::string& uin, const std::string& name) {
  std::replace(relativePath.begin(), relativePath.end(), '\\', '/');
  const std::string tail = platform::AsciiLower(uin + "/" + name);
  const std::string lower = platform::AsciiLower(relativePath);
  if (lower.size() < tail.size() || lower.compare(lower.size() - tail.size(), tail.size(), tail) != 0) return false;
  const std::size_t before = lower.size() - tail.size();
  return before == 0 || lower[before - 1] == '/';
}

std::string QqAvatarUrl(const std::string& number) {
  return std::string("http://") + kQqAvatarHost + "/headimg_dl?dst_uin=" + number + "&spec=100";
}

// Walks an account archive's objects: two dictionaries in a row followed by
// two texts name one account (number, nickname). Returns the accounts.
std::vector<std::unique_ptr<CQqLocalUser>> AccountsOfArchive(const PlistArray& objects) {
  std::vector<std::unique_ptr<CQqLocalUser>> accounts;
  int dictionaries = 0;
  for (std::size_t i = 0; i < objects.size(); ++i) {
    if (!objects[i].Is<PlistDictionary>()) {
      dictionaries = 0;
      continue;
    }
    if (++dictionaries < 2) continue;
    dictionaries = 0;
    const std::string* number = TextAt(objects, i + 1);
    const std::string* nickname = TextAt(objects, i + 2);
    if (number == nullptr || nickname == nullptr) continue;
    auto account = std::make_unique<CQqLocalUser>();
    account->uin = *number;
    account->userName = *number;
    account->DisplayName() = *nickname;
    accounts.push_back(std::move(account));
    i += 2;
  }
  return accounts;
}

// Registers the account under its own number, as the first of its contacts
// the lookups find: messages it sent into a group point at it.
void RegisterWithItself(CQqLocalUser& account) {
  account.registeredWithItself = true;
  account.contactsByUin[account.userName] = &account;
  account.owner = &account;
  if (account.DisplayName().empty()) account.DisplayName() = account.userName;
  account.AvatarUrl() = QqAvatarUrl(account.userName);
}

std::string WithSeparator(std::string folder) {
  const char separator = static_cast<char>(fs::path::preferred_separator);
  if (folder.empty() || (folder.back() != separator && folder.back() != '/')) folder += separator;
  return folder;
}

}  // namespace

// --- records --------------------------------------------------------------

DBITEM_QqFriend::~DBITEM_QqFriend() {
  items.clear();
  db::DeleteAll(ownedItems);
}

DBITEM_QqFriend& QqUnknownUser() {
  static DBITEM_QqFriend* const contact = [] {
    auto* made = new DBITEM_QqFriend();  // lives for the process: messages of any account point at it
    made->userName = kQqUnknownUserName;
    made->DisplayName() = kQqUnknownUserName;
    return made;
  }();
  return *contact;
}

CQqLocalUser::CQqLocalUser() { type = kQqTypeAccount; }

CQqLocalUser::~CQqLocalUser() { Reset(); }

const char* CQqLocalUser::Domain() const { return isTim != 0 ? kTimDomain : kQqDomain; }

const char* CQqLocalUser::ChatsNotice() const {
  if (chatsEncrypted) return kQqEncryptedChatsText;
  return ntMessageDb.empty() ? "" : kQqNtChatsNotReadText;
}

void CQqLocalUser::Reset() {
  qqDb.reset();
  ftsDb.reset();
  // The account's own messages may name contacts as senders: both go.
  items.clear();
  DBITEM_QqFriend::messagesByKey.clear();
  db::DeleteAll(ownedItems);
  messagesByKey.clear();
  contactsByUin.clear();
  while (!contacts.empty()) contacts.pop_back();
  // A second analysis must see the account as the first did.
  if (registeredWithItself) contactsByUin[userName] = this;
}

std::string CQqLocalUser::FindAccountFile(const std::string& name) const {
  if (fileIndex == nullptr) return {};
  if (fileIndex->Mode() == backup::SourceFolder) {
    // accountFolder lies inside the chosen folder; the lookup takes a path
    // relative to it, which must not climb out.
    const fs::path base(fileIndex->BackupFolder());
    const fs::path relative = fs::path(accountFolder).lexically_normal().lexically_relative(base);
    if (accountFolder.empty() || relative.empty() || *relative.begin() == "..") return {};
    const std::string prefix = relative == "." ? std::string() : relative.generic_string() + "/";
    std::vector<std::string> found;
    fileIndex->FindFilePaths(prefix + name, Domain(), found, false);
    if (found.empty() && relative != "." && !uin.empty()) {
      // The app itself puts the databases one folder deeper.
      const std::string contents = (relative.parent_path() / kContentsFolder / uin).generic_string() + "/";
      fileIndex->FindFilePaths(contents + name, Domain(), found, false);
    }
    return found.empty() ? std::string() : found.front();
  }
  if (uin.empty()) return {};
  backup::FileRecordList records;
  fileIndex->FindFileRecords(uin + "/" + name, Domain(), records, false);
  for (const auto& record : records) {
    if (IsAccountFile(record->relativePath, uin, name)) return record->storedPath;
  }
  return {};
}

// --- registering and naming contacts --------------------------------------

int RegisterQqContact(CQqLocalUser& account, std::unique_ptr<DBITEM_QqFriend>& contact) {
  if (!contact) return 0;
  DBITEM_QqFriend& r = *contact;
  if (const auto known = account.contactsByUin.find(r.userName); known != account.contactsByUin.end()) {
    DBITEM_QqFriend& p = *known->second;
    if (p.DisplayName() == p.userName && !r.DisplayName().empty()) p.DisplayName() = r.DisplayName();
    if (p.type == kQqTypeFriend && r.type == kQqTypeGroup) {
      p.type = kQqTypeBoth;
      p.troopTable = r.troopTable;
    } else if (p.type == kQqTypeGroup && r.type == kQqTypeFriend) {
      p.type = kQqTypeBoth;
      p.c2cTable = r.c2cTable;
    }
    return 0;
  }
  account.contactsByUin[r.userName] = &r;
  r.owner = &account;
  if (r.DisplayName().empty()) r.DisplayName() = r.userName;
  r.AvatarUrl() = QqAvatarUrl(r.userName);
  account.contacts.push_back(std::move(contact));
  return 1;
}

void ReadQqNickname(DBITEM_QqFriend& contact) {
  const CQqLocalUser* account = contact.owner;
  if (account == nullptr || account->fileIndex == nullptr || !IsNumber(contact.userName)) return;
  backup::FileRecordList records;
  account->fileIndex->FindFileRecords("%" + contact.userName + ".plist", account->Domain(), records, true);
  for (const auto& record : records) {
    // The name is judged by the relative path: a backup stores files under
    // digests.
    if (!IsNicknameFileOf(record->relativePath, contact.userName) || !backup::ReadyStoredFile(record->storedPath)) {
      continue;
    }
    const std::optional<PlistArray> objects = ArchiveObjects(record->storedPath);
    if (!objects) continue;  // a damaged file: the next one may name the contact
    for (std::size_t i = 0; i + 2 < objects->size(); ++i) {
      if (!(*objects)[i].Is<PlistDictionary>()) continue;
      const std::string* number = TextAt(*objects, i + 1);
      const std::string* nickname = TextAt(*objects, i + 2);
      if (number != nullptr && nickname != nullptr && *number == contact.userName) contact.DisplayName() = *nickname;
    }
    return;
  }
}

// --- the account's databases ----------------------------------------------

std::string CTencentQQDB::GetTableName(int tableKind) {
  if (openParam == kQqMessageDb) {
    switch (tableKind) {
      case 0: return "tb_c2cTables";
      case 1: return "tb_TroopMsgSeq";
      case 2: return "tb_c2cMsg_xxx";
      case 3: return "tb_TroopMsg_xxx";
      default: return "";
    }
  }
  if (openParam == kQqIndexDb) {
    switch (tableKind) {
      case 0: return "tb_Index_c2cMsg_content";
      case 1: return "tb_Index_discussGrp_content";
      case 2: return "tb_Index_TroopMsg_content";
      default: return "";
    }
  }
  return "";
}

void CTencentQQDB::ParseRow(int tableKind, std::unique_ptr<db::BaseItem>& out, db::CppSQLite3Query& query) {
  out.reset();
  if (owner_ == nullptr || tableKind < 0) {
    CDbSqlite::ParseRow(tableKind, out, query);
    return;
  }
  if (openParam == kQqIndexDb) {
    FileQqIndexRow(*owner_, tableKind, query);
    return;
  }
  if (openParam != kQqMessageDb) return;
  if (tableKind == 2 || tableKind == 3) {
    out = ReadQqMessageRow(tableKind, query);
    return;
  }
  auto contact = std::make_unique<DBITEM_QqFriend>();
  contact->owner = owner_;  // for the nickname lookup; registering sets it again
  if (tableKind == 0) {
    contact->type = kQqTypeFriend;
    contact->c2cTable = db::FieldText(query, 0);
    // "tb_c2cMsg_<number>": the number follows the last "_".
    const std::size_t underscore = contact->c2cTable.rfind('_');
    if (underscore != std::string::npos && underscore > 0) {
      contact->userName = contact->c2cTable.substr(underscore + 1);
      contact->uinNumber = LeadingNumber(contact->userName);
      ReadQqNickname(*contact);
    }
  } else if (tableKind == 1) {
    contact->type = kQqTypeGroup;
    contact->userName = db::FieldText(query, 0);
    contact->uinNumber = LeadingNumber(contact->userName);
    contact->troopTable = "tb_TroopMsg_" + contact->userName;
    ReadQqNickname(*contact);
  } else {
    return;
  }
  RegisterQqContact(*owner_, contact);  // a known number keeps its record; this one goes
}

base::Status CTencentQQDB::Open(const std::string& path, int param) {
  if (base::Status opened = CDbSqlite::Open(path, param); !opened.Ok()) return opened;
  if (owner_ == nullptr) return {};
  db::ItemList handedBack;  // stays empty: list rows are filed, not handed back
  if (param == kQqMessageDb) {
    LoadTable(0, handedBack);
    LoadTable(1, handedBack);
    LoadQqConversations(*owner_);
  } else if (param == kQqIndexDb) {
    for (const int kind : {0, 2, 1}) LoadTable(kind, handedBack);
  }
  return {};
}

bool LoadQqAccount(int index, CQqLocalUser& account, backup::CFileListDB* fileIndex) {
  account.fileIndex = fileIndex;
  account.index = index;
  const std::string messagePath = account.FindAccountFile(kMessageDbName);
  if (messagePath.empty()) return false;
  const float share = account.progressShare;
  account.qqDb = std::make_unique<CTencentQQDB>(&account);
  fileIndex->OpenDatabase(*account.qqDb, messagePath, kQqMessageDb);
  db::ReportProgress(account.progress, false, static_cast<float>(index) * share + kAnalysisStartPercent + 0.5f * share);

  const std::string indexPath = account.FindAccountFile(kIndexDbName);
  if (!indexPath.empty()) {
    account.ftsDb = std::make_unique<CTencentQQDB>(&account);
    fileIndex->OpenDatabase(*account.ftsDb, indexPath, kQqIndexDb);
  }
  RecoverQqDeletedMessages(account);
  return true;
}

// --- the QQ half of the account list --------------------------------------

bool CLocalUserList::FindQqUsers() {
  if (fileIndex == nullptr) return false;
  const bool archived = FindQqArchiveAccounts();
  // Without an archive a folder's loose QQ.db is read as the unknown
  // account's; the current builds' folders are accounts besides, tied to an
  // archive's account only where their path says so.
  const bool loose = !archived && AddQqFolderModeFallbackAccount();
  const bool nt = AddQqNtAccounts();
  return archived || loose || nt;
}

bool CLocalUserList::FindQqArchiveAccounts() {
  const bool folderMode = fileIndex->Mode() == backup::SourceFolder;
  bool found = false;
  for (const bool tim : {false, true}) {
    // A folder is one app's files: TIM's archive would be QQ's again.
    if (tim && folderMode) break;
    std::vector<std::string> paths;
    fileIndex->FindFilePaths(kQqAccountsArchive, tim ? kTimDomain : kQqDomain, paths, true);
    if (paths.empty()) continue;
    found = true;
    db::ReportProgress(progress, false, kAccountsFoundPercent);
    for (const std::string& path : paths) {
      if (!backup::ReadyStoredFile(path)) continue;
      const std::optional<PlistArray> objects = ArchiveObjects(path);
      if (!objects) continue;
      for (auto& account : AccountsOfArchive(*objects)) {
        if (folderMode) {
          account->accountFolder =
              (fs::path(fileIndex->BackupFolder()) / "Documents" / account->uin).string();
        }
        if (tim) {
          account->isTim = 1;
          account->userName = account->uin + kTimAccountSuffix;
        } else {
          RegisterWithItself(*account);
        }
        account->fileIndex = fileIndex;
        account->progress = progress;
        account->index = static_cast<std::int32_t>(qqUsers.size());
        qqUsers.push_back(std::move(account));
      }
    }
  }
  return found;
}

bool CLocalUserList::AddQqFolderModeFallbackAccount() {
  if (fileIndex == nullptr || fileIndex->Mode() != backup::SourceFolder) return false;
  std::vector<std::string> found;
  fileIndex->FindFilePaths(kMessageDbName, kQqDomain, found, false);
  if (found.empty()) return false;
  auto account = std::make_unique<CQqLocalUser>();
  account->uin = kUnknownLocalUser;
  account->userName = kUnknownLocalUser;
  account->DisplayName() = kUnknownLocalUser;
  account->accountFolder = WithSeparator(fileIndex->BackupFolder());
  account->fileIndex = fileIndex;
  account->progress = progress;
  account->index = static_cast<std::int32_t>(qqUsers.size());
  qqUsers.push_back(std::move(account));
  db::ReportProgress(progress, false, kAnalysisStartPercent);
  return true;
}

int CLocalUserList::AnalyseQqUsers() {
  const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
  if (qqAnalysedAt != 0 && now - qqAnalysedAt < kReanalyseAfterSeconds) return 1;  // also a clock set back
  const float share = kAnalysisSpanPercent / (static_cast<float>(qqUsers.size()) + 0.0000001f);
  for (std::size_t i = 0; i < qqUsers.size(); ++i) {
    CQqLocalUser& account = *qqUsers[i];
    account.Reset();
    account.progressShare = share;
    if (LoadQqAccount(static_cast<int>(i), account, fileIndex)) {
      auto countDeleted = [](DBITEM_QqFriend& contact) {
        contact.deletedCount = static_cast<std::int32_t>(std::count_if(
            contact.items.begin(), contact.items.end(), [](const db::BaseItem* m) { return m->deleted != 0; }));
      };
      countDeleted(account);
      for (const auto& contact : account.contacts) countDeleted(*contact);
    }
    for (CTencentQQDB* reader : {account.qqDb.get(), account.ftsDb.get()}) {
      if (reader != nullptr) reader->Close();
    }
    db::ReportProgress(progress, false, static_cast<float>(i + 1) * share + kAnalysisStartPercent);
  }
  if (!qqUsers.empty()) {
    qqAnalysedAt = now;
  } else {
    if (showMessage) showMessage(kNoQqAccountText, "");
    qqAnalysedAt = 0;
  }
  return 1;
}

}  // namespace chat
