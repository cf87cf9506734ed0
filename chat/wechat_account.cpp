#include "chat/wechat_account.h"

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <utility>

#include "backup/encrypted_backup.h"
#include "backup/file_list_db.h"
#include "backup/plist.h"
#include "base/categories.h"
#include "chat/wechat_messages.h"
#include "chat/wechat_tagged.h"
#include "db/progress.h"
#include "platform/fs.h"

namespace chat {
namespace {

namespace fs = std::filesystem;
using backup::PlistArray;
using backup::PlistValue;

// An archive lists the account's values in "$objects" by position; these are
// the positions this reader takes (the table in wechat_account.h).
constexpr std::size_t kMinArchiveObjects = 7;
constexpr std::size_t kUserNameObject = 2;
constexpr std::size_t kDisplayNameObject = 3;
constexpr std::size_t kPhoneNumberObject = 4;
constexpr std::size_t kEmailObject = 5;
// The WeChat ID follows a "0" marker somewhere in this range.
constexpr std::size_t kWeChatIdFirst = 15;
constexpr std::size_t kWeChatIdLast = 24;
// Avatar URLs come after the fixed part of the list.
constexpr std::size_t kAvatarFirst = 40;
// Within an hour of an analysis that found accounts their data is current.
constexpr std::int64_t kReanalyseAfterSeconds = 3600;
constexpr float kAnalysisStartPercent = 10;
constexpr float kAnalysisSpanPercent = 90;

const std::string* TextAt(const PlistArray& objects, std::size_t index) {
  if (index >= objects.size() || !objects[index].Is<std::string>()) return nullptr;
  return &objects[index].As<std::string>();
}

bool StartsWithHttp(const std::string& text) {
  return text.size() >= 4 && platform::AsciiLower(text.substr(0, 4)) == "http";
}

std::string WeChatIdOf(const PlistArray& objects) {
  for (std::size_t i = kWeChatIdFirst; i <= kWeChatIdLast; ++i) {
    const std::string* marker = TextAt(objects, i);
    const std::string* next = TextAt(objects, i + 1);
    if (marker == nullptr || *marker != "0" || next == nullptr) continue;
    if (next->find(kPlaceholderWeChatId) != std::string::npos) return {};
    return *next;
  }
  return {};
}

// The folder of a file with one trailing separator.
std::string FolderOf(const std::string& path) {
  return fs::path(path).parent_path().string() + static_cast<char>(fs::path::preferred_separator);
}

}  // namespace

const char* WxDatabasePath(WxDatabase database) {
  switch (database) {
    case kWxContactDb: return "DB/WCDB_Contact.sqlite";
    case kWxMessageDb: return "DB/MM.sqlite";
    case kWxSessionDb: return "session/session.db";
    case kWxFtsDb: return "fts/fts_message.db";
  }
  return "";
}

int WxMessageFileNumber(const std::string& fileName) {
  constexpr std::string_view kPrefix = "message_";
  constexpr std::string_view kSuffix = ".sqlite";
  constexpr std::size_t kMaxDigits = 9;
  if (fileName.size() <= kPrefix.size() + kSuffix.size() || !fileName.starts_with(kPrefix) ||
      !fileName.ends_with(kSuffix)) {
    return -1;
  }
  const std::string_view digits =
      std::string_view(fileName).substr(kPrefix.size(), fileName.size() - kPrefix.size() - kSuffix.size());
  if (digits.size() > kMaxDigits || !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return -1;
  }
  int number = 0;
  for (char c : digits) number = number * 10 + (c - '0');
  return number;
}

// --- CTencentWXDB ---------------------------------------------------------

std::string CTencentWXDB::GetTableName(int tableKind) {
  switch (openParam) {
    case kWxContactDb: return tableKind == 0 ? "Friend" : "";
    case kWxMessageDb:
      if (tableKind == 0) return "Chat_xxxxx";
      return tableKind == 1 ? "ChatExt2_xxxxx" : "";
    case kWxSessionDb: return tableKind == 0 ? "SessionAbstract" : "";
    case kWxFtsDb:
      if (tableKind == 0) return "fts_username_id";
      if (tableKind == 1) return "fts_message_table_xxx_content";
      return tableKind == 2 ? "fts_message_table_xxx_segdir" : "";
    default: return "";
  }
}

void CTencentWXDB::ParseRow(int tableKind, std::unique_ptr<db::BaseItem>& out, db::CppSQLite3Query& query) {
  out.reset();
  if (openParam != kWxContactDb) {
    ParseWxDatabaseRow(*this, tableKind, out, query);
    return;
  }
  if (tableKind != 0 || owner_ == nullptr) {
    CDbSqlite::ParseRow(tableKind, out, query);
    return;
  }
  const int columns = query.NumFields();
  std::vector<std::string> names;
  names.reserve(static_cast<std::size_t>(std::max(columns, 0)));
  for (int i = 0; i < columns; ++i) {
    const char* name = query.FieldName(i);
    names.emplace_back(name != nullptr ? name : "");
  }
  if (owner_->friendColumns.empty()) owner_->friendColumns = names;
  auto contact = std::make_unique<DBITEM_WxFriend>();
  for (int i = 0; i < columns; ++i) ApplyFriendColumn(*contact, names[static_cast<std::size_t>(i)], query, i);
  owner_->RegisterContact(contact, kWxKindClassify, true);
}

// --- CWxLocalUser ---------------------------------------------------------

CWxLocalUser::CWxLocalUser() { kind = kWxKindAccount; }

CWxLocalUser::~CWxLocalUser() {
  // Readers first: the message reader's records may point at contacts.
  Reset();
}

CWxLocalUser* CWxLocalUser::AddAccount(CLocalUserList& list, std::unique_ptr<CWxLocalUser> account) {
  CWxLocalUser* added = account.get();
  added->index = static_cast<std::int32_t>(list.wxUsers.size());
  added->progress = list.progress;
  list.wxUsers.push_back(std::move(account));
  added->Enter(*added, kWxKindAccount);
  return added;
}

DBITEM_WxFriend* CWxLocalUser::FindContact(const std::string& name) const {
  const auto found = contactsByName.find(name);
  return found == contactsByName.end() ? nullptr : found->second;
}

void CWxLocalUser::Reset() {
  contactDb.reset();
  messageDbs.clear();
  sessionDb.reset();
  ftsDb.reset();
  ClearContacts();
  sessionItemsByPath.clear();
  sessionItems.clear();
  sessionFilePaths.clear();
  mediaFilesByKey.clear();
  mediaFilesListed = false;
  db::DeleteAll(ftsContents);
}

void CWxLocalUser::ClearContacts() {
  // The account's own room links point at contacts about to go.
  members.clear();
  memberOf.clear();
  contactsByName.clear();
  contactsByUsernameId.clear();
  while (!contacts.empty()) contacts.pop_back();
  // The account stays findable under its own name, so that a Friend row
  // naming it is merged into it rather than listed as a stranger.
  contactsByName[userName] = this;
}

std::string CWxLocalUser::FindAccountFile(const std::string& name) const {
  if (fileIndex == nullptr) return {};
  std::vector<std::string> found;
  if (fileIndex->Mode() == backup::SourceFolder) {
    // archiveFolder comes from the folder walk, so it lies inside the chosen
    // folder; the lookup takes a path relative to it, which must not climb out.
    const fs::path relative =
        fs::path(archiveFolder).lexically_normal().lexically_relative(fs::path(fileIndex->BackupFolder()));
    if (archiveFolder.empty() || relative.empty() || *relative.begin() == "..") return {};
    const std::string prefix = relative == "." ? std::string() : relative.generic_string() + "/";
    fileIndex->FindFilePaths(prefix + name, kWeChatDomain, found, false);
  } else {
    fileIndex->FindFilePaths(userMd5 + "/" + name, kWeChatDomain, found, false);
  }
  return found.empty() ? std::string() : found.front();
}

std::unique_ptr<CTencentWXDB> CWxLocalUser::OpenDatabase(WxDatabase database) {
  const std::string path = FindAccountFile(WxDatabasePath(database));
  if (path.empty()) return nullptr;
  return OpenDatabaseAt(path, database);
}

std::unique_ptr<CTencentWXDB> CWxLocalUser::OpenDatabaseAt(const std::string& storedPath, WxDatabase database) {
  auto reader = std::make_unique<CTencentWXDB>(this);
  fileIndex->OpenDatabase(*reader, storedPath, database);
  return reader;
}

std::vector<std::string> CWxLocalUser::FindMessageDatabases() const {
  std::vector<std::string> paths;
  if (fileIndex == nullptr) return paths;
  if (std::string older = FindAccountFile(WxDatabasePath(kWxMessageDb)); !older.empty()) paths.push_back(older);
  backup::FileRecordList records;
  if (fileIndex->Mode() == backup::SourceFolder) {
    if (archiveFolder.empty()) return paths;
    // A substring search over the whole tree: keep the files right in this
    // account's DB folder.
    const std::string folder = archiveFolder + "DB" + static_cast<char>(fs::path::preferred_separator);
    fileIndex->FindFileRecords("message_", kWeChatDomain, records, true);
    std::erase_if(records, [&folder](const auto& record) {
      return !record->storedPath.starts_with(folder) ||
             record->storedPath.find(static_cast<char>(fs::path::preferred_separator), folder.size()) != std::string::npos;
    });
  } else {
    fileIndex->FindFileRecords(userMd5 + "/DB/message_%.sqlite", kWeChatDomain, records, false);
    // The pattern only ends the path: the file must sit right in this
    // account's DB folder.
    const std::string folder = "/" + userMd5 + "/DB/";
    std::erase_if(records, [&folder](const auto& record) {
      const std::string& path = record->relativePath;
      const std::size_t at = path.rfind(folder);
      return at == std::string::npos || path.find('/', at + folder.size()) != std::string::npos;
    });
  }
  // A manifest stores files under their digest; the relative path names them.
  std::vector<std::pair<int, std::string>> numbered;
  for (const auto& record : records) {
    const int n = WxMessageFileNumber(fs::path(record->relativePath).filename().string());
    if (n >= 0) numbered.emplace_back(n, record->storedPath);
  }
  std::sort(numbered.begin(), numbered.end());
  numbered.erase(std::unique(numbered.begin(), numbered.end()), numbered.end());
  for (auto& [n, path] : numbered) paths.push_back(std::move(path));
  return paths;
}

bool CWxLocalUser::OpenAccountDatabases(int accountIndex, backup::CFileListDB* backupIndex) {
  fileIndex = backupIndex;
  index = accountIndex;
  const float share = progressShare;
  contactDb = OpenDatabase(kWxContactDb);
  if (!contactDb) return false;
  ClearContacts();
  db::ItemList handedBack;  // stays empty: rows are registered, not handed back
  contactDb->LoadTable(0, handedBack);
  RecoverDeletedContacts(*this);
  db::ReportProgress(progress, true, 0.02f * share);

  for (const std::string& path : FindMessageDatabases()) messageDbs.push_back(OpenDatabaseAt(path, kWxMessageDb));
  db::ReportProgress(progress, true, 0.02f * share);

  sessionDb = OpenDatabase(kWxSessionDb);
  if (sessionDb) {
    db::ReportProgress(progress, true, 0.02f * share);
    LoadSessionSummaries(*this);
  }
  db::ReportProgress(progress, true, 0.08f * share);

  FindSessionFiles();
  RegisterSessionFilesWithoutRow(*this);
  db::ReportProgress(progress, true, 0.08f * share);

  ftsDb = OpenDatabase(kWxFtsDb);
  LoadSearchIndex(*this);
  db::ReportProgress(progress, true, 0.08f * share);
  return true;
}

void CWxLocalUser::FindSessionFiles() {
  sessionFilePaths.clear();
  if (fileIndex == nullptr) return;
  backup::FileRecordList records;
  if (fileIndex->Mode() == backup::SourceFolder) {
    if (archiveFolder.empty()) return;
    // A substring search over the whole tree: keep what lies in this
    // account's folder.
    fileIndex->FindFileRecords("session/data/", kWeChatDomain, records, true);
    std::erase_if(records, [this](const auto& record) { return !record->storedPath.starts_with(archiveFolder); });
  } else {
    fileIndex->FindFileRecords(userMd5 + "/session/data/%", kWeChatDomain, records, true);
  }
  for (const auto& record : records) {
    // Summaries are named by a digest without a suffix; the name is judged,
    // not the stored path, whose folders may well hold a dot.
    const std::string name = fs::path(record->relativePath).filename().string();
    if (name.find('.') == std::string::npos) sessionFilePaths.push_back(record->storedPath);
  }
}

// --- CLocalUserList -------------------------------------------------------

CLocalUserList::~CLocalUserList() {
  while (!wxUsers.empty()) wxUsers.pop_back();
  while (!qqUsers.empty()) qqUsers.pop_back();
}

int CLocalUserList::FindLocalUsers(backup::CFileListDB* index, int requestedCategory) {
  fileIndex = index;
  category = requestedCategory;
  if (category == base::kCategoryQq) {
    if (fileIndex == nullptr) return 0;
    if (!FindQqUsers()) return 0;
    db::ReportProgress(progress, false, kAnalysisStartPercent);
    return 1;
  }
  if (category != base::kCategoryWeChatContacts && category != base::kCategoryWeChat &&
      category != base::kCategoryWeChatAttachments) {
    db::ReportProgress(progress, false, kAnalysisStartPercent);
    return 1;
  }
  if (fileIndex == nullptr) return 0;
  if (FindWxUsers()) {
    db::ReportProgress(progress, false, kAnalysisStartPercent);
    return 1;
  }
  return AddFolderModeFallbackAccount() ? 1 : 0;
}

bool CLocalUserList::AddFolderModeFallbackAccount() {
  if (fileIndex->Mode() != backup::SourceFolder) return false;
  auto account = std::make_unique<CWxLocalUser>();
  account->userName = kUnknownLocalUser;
  account->DisplayName() = kUnknownLocalUser;
  account->alias = kUnknownLocalUser;
  account->archiveFolder =
      fileIndex->BackupFolder() + static_cast<char>(fs::path::preferred_separator);
  account->fileIndex = fileIndex;
  const bool hasMessages = !account->FindMessageDatabases().empty();
  account->fileIndex = nullptr;  // set again when the analysis opens the databases
  if (!hasMessages) return false;
  db::ReportProgress(progress, false, kAnalysisStartPercent);
  CWxLocalUser::AddAccount(*this, std::move(account));
  return true;
}

bool CLocalUserList::FindWxUsers() {
  if (fileIndex == nullptr) return false;
  std::vector<std::string> paths;
  fileIndex->FindFilePaths(kWeChatSettingsArchive, kWeChatDomain, paths, true);
  if (paths.empty()) return false;
  db::ReportProgress(progress, false, 2);
  for (const std::string& path : paths) {
    if (!backup::ReadyStoredFile(path)) continue;
    if (auto account = ReadSettingsArchive(path)) CWxLocalUser::AddAccount(*this, std::move(account));
  }
  return true;
}

std::unique_ptr<CWxLocalUser> CLocalUserList::ReadSettingsArchive(const std::string& path) const {
  PlistValue top;
  try {
    top = backup::ReadPlistFile(path);
  } catch (const backup::Plist::Error&) {
    // One damaged archive costs its own account only.
    return nullptr;
  }
  const PlistValue* objectsValue = top.Find("$objects");
  if (objectsValue == nullptr || !objectsValue->Is<PlistArray>()) return nullptr;
  const PlistArray& objects = objectsValue->As<PlistArray>();
  if (objects.size() < kMinArchiveObjects) return nullptr;
  const std::string* name = TextAt(objects, kUserNameObject);
  const std::string* display = TextAt(objects, kDisplayNameObject);
  const std::string* phoneNumber = TextAt(objects, kPhoneNumberObject);
  const std::string* email = TextAt(objects, kEmailObject);
  if (name == nullptr || display == nullptr || phoneNumber == nullptr || email == nullptr) return nullptr;

  auto account = std::make_unique<CWxLocalUser>();
  account->userName = *name;
  account->userMd5 = Md5Hex(*name);
  account->DisplayName() = *display;
  account->phoneNumber = *phoneNumber;
  account->email = *email;
  account->alias = WeChatIdOf(objects);
  if (account->alias.empty()) account->alias = account->userName;
  for (std::size_t i = kAvatarFirst; i < objects.size(); ++i) {
    const std::string* text = TextAt(objects, i);
    if (text == nullptr || !StartsWithHttp(*text)) continue;
    if (text->back() == '0') account->avatarLargeUrl = *text;
    if (text->back() == '2') account->headImageText = *text;
  }
  if (fileIndex->Mode() == backup::SourceFolder) account->archiveFolder = FolderOf(path);
  return account;
}

int CLocalUserList::AnalyseWxUsers() {
  const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
  if (wxAnalysedAt != 0) {
    const std::int64_t since = now - wxAnalysedAt;
    if (since < kReanalyseAfterSeconds) return 1;  // also a clock set back
  }
  const float share = kAnalysisSpanPercent / (static_cast<float>(wxUsers.size()) + 0.0000001f);
  for (std::size_t i = 0; i < wxUsers.size(); ++i) {
    CWxLocalUser& account = *wxUsers[i];
    account.Reset();
    account.progressShare = share;
    if (account.OpenAccountDatabases(static_cast<int>(i), fileIndex)) FinishWxAccount(i);
  }
  if (!wxUsers.empty()) {
    wxAnalysedAt = now;
  } else {
    if (showMessage) showMessage(kNoWeChatAccountText, "");
    wxAnalysedAt = 0;
  }
  return 1;
}

void CLocalUserList::FinishWxAccount(std::size_t accountIndex) {
  CWxLocalUser& account = *wxUsers[accountIndex];
  const float share = account.progressShare;
  if (!account.messageDbs.empty()) {
    // Loading may register contacts (room members who left): they are
    // appended and loaded in turn, so the loop goes by index.
    for (std::size_t i = 0; i < account.contacts.size(); ++i) {
      if (LoadContactMessages(account, i, kWxChatTable) == 1) LoadContactMessages(account, i, kWxChatExtTable);
      if (account.contacts[i]->ftsTableId >= 0) LoadContactMessages(account, i, kWxIndexTable);
      db::ReportProgress(progress, true, 0.3f * share / static_cast<float>(account.contacts.size()));
    }
    RecoverDeletedMessages(account);
  }
  ReadSessionFiles(account);
  db::ReportProgress(progress, true, 0.1f * share);
  MatchIndexRecords(account);
  db::ReportProgress(progress, true, 0.1f * share);
  for (auto* reader : {account.contactDb.get(), account.ftsDb.get(), account.sessionDb.get()}) {
    if (reader != nullptr) reader->Close();
  }
  for (const auto& reader : account.messageDbs) reader->Close();
  // A conversation spread over several files, with messages recovered from
  // the index and the summaries, reads in the order it was written.
  auto byTime = [](const db::BaseItem* a, const db::BaseItem* b) { return a->time < b->time; };
  std::stable_sort(account.items.begin(), account.items.end(), byTime);
  for (const auto& contact : account.contacts) std::stable_sort(contact->items.begin(), contact->items.end(), byTime);
  auto countDeleted = [](DBITEM_WxFriend& contact) {
    contact.deletedCount = static_cast<std::int32_t>(
        std::count_if(contact.items.begin(), contact.items.end(), [](const db::BaseItem* m) { return m->deleted != 0; }));
  };
  countDeleted(account);
  for (const auto& contact : account.contacts) countDeleted(*contact);
  db::ReportProgress(progress, false, kAnalysisStartPercent + kAnalysisSpanPercent * static_cast<float>(accountIndex + 1) /
                                                      static_cast<float>(wxUsers.size()));
}

}  // namespace chat
