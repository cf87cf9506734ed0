#include "chat/qq_nt.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <utility>

#include "backup/encrypted_backup.h"
#include "backup/file_list_db.h"
#include "chat/qq_account.h"
#include "chat/wechat_account.h"
#include "platform/fs.h"

namespace chat {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> PathComponents(const std::string& path) {
  std::vector<std::string> components;
  std::size_t start = 0;
  while (start <= path.size()) {
    const std::size_t slash = path.find('/', start);
    const std::size_t end = slash == std::string::npos ? path.size() : slash;
    if (end > start) components.push_back(path.substr(start, end - start));
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  return components;
}

// The path of a found file, '/'-separated, as the index names it inside the
// domain; in folder mode the index names the full path, which is made
// relative to the chosen folder (empty when it lies outside).
std::string RelativePathOf(const backup::CFileListDB& index, const backup::DBITEM_FileList& record) {
  if (index.Mode() != backup::SourceFolder) {
    std::string path = record.relativePath;
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
  }
  const fs::path relative =
      fs::path(record.storedPath).lexically_normal().lexically_relative(fs::path(index.BackupFolder()).lexically_normal());
  if (relative.empty() || *relative.begin() == "..") return {};
  return relative.generic_string();
}

// The folder of an nt_msg.db at relativePath, or none when the file is
// named otherwise or its folder is not nt_qq_<hash>.
std::optional<QqNtFolder> NtFolderOf(const std::string& relativePath) {
  const std::vector<std::string> components = PathComponents(relativePath);
  if (components.size() < 2) return std::nullopt;
  if (!platform::EqualsIgnoringAsciiCase(components.back(), kQqNtMessageDbName)) return std::nullopt;
  const std::string& folderName = components[components.size() - 2];
  const std::size_t prefixSize = std::strlen(kQqNtFolderPrefix);
  if (folderName.size() <= prefixSize ||
      platform::AsciiLower(folderName.substr(0, prefixSize)) != kQqNtFolderPrefix) {
    return std::nullopt;
  }
  QqNtFolder folder;
  folder.hash = folderName.substr(prefixSize);
  folder.folderPath = relativePath.substr(0, relativePath.size() - components.back().size() - 1);
  return folder;
}

bool IsNumber(const std::string& text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

QqNtDbKind ReadQqNtDbKind(const std::string& storedPath) {
  const auto start = platform::ReadFileStart(storedPath, kSqliteMagicBytes);
  if (!start || start->size() < kSqliteMagicBytes) return QqNtDbKind::kUnknown;
  // kSqliteMagic's own terminating 0 is the magic's sixteenth byte.
  return std::memcmp(start->data(), kSqliteMagic, kSqliteMagicBytes) == 0 ? QqNtDbKind::kPlain
                                                                          : QqNtDbKind::kEncrypted;
}

std::vector<QqNtFolder> FindQqNtFolders(backup::CFileListDB& index) {
  backup::FileRecordList records;
  // A suffix in the manifests (where "_" matches any one character, hence
  // the check of each name below), a substring of the path in folder mode
  // (which also finds "nt_msg.db-wal").
  index.FindFileRecords(std::string("/") + kQqNtMessageDbName, kQqDomain, records, true);
  std::vector<QqNtFolder> folders;
  std::set<std::string> hashes;
  for (const auto& record : records) {
    std::optional<QqNtFolder> folder = NtFolderOf(RelativePathOf(index, *record));
    if (!folder || !backup::ReadyStoredFile(record->storedPath)) continue;
    if (!hashes.insert(folder->hash).second) continue;
    folder->storedPath = record->storedPath;
    folders.push_back(std::move(*folder));
  }
  return folders;
}

bool QqNtFolderBelongsTo(const QqNtFolder& folder, const std::string& number) {
  if (!IsNumber(number)) return false;
  std::vector<std::string> components = PathComponents(folder.folderPath);
  if (!components.empty()) components.pop_back();  // nt_qq_<hash> itself
  return std::find(components.begin(), components.end(), number) != components.end();
}

bool CLocalUserList::AddQqNtAccounts() {
  const std::vector<QqNtFolder> folders = FindQqNtFolders(*fileIndex);
  for (const QqNtFolder& folder : folders) {
    // A QQ account the archive names, when the path ties the folder to it;
    // TIM keeps its own domain, and the unknown account has no number.
    const auto tied = std::find_if(qqUsers.begin(), qqUsers.end(), [&folder](const auto& account) {
      return account->isTim == 0 && QqNtFolderBelongsTo(folder, account->uin);
    });
    CQqLocalUser* account = tied != qqUsers.end() ? tied->get() : nullptr;
    if (account == nullptr) {
      // Nothing readable names the account: the folder's hash does. It has
      // no number, so no older file is looked for under it.
      auto made = std::make_unique<CQqLocalUser>();
      made->userName = kQqNtFolderPrefix + folder.hash;
      made->DisplayName() = folder.hash;
      made->fileIndex = fileIndex;
      made->progress = progress;
      made->index = static_cast<std::int32_t>(qqUsers.size());
      account = made.get();
      qqUsers.push_back(std::move(made));
    }
    const bool encrypted = ReadQqNtDbKind(folder.storedPath) == QqNtDbKind::kEncrypted;
    // Two folders tied to one account: an encrypted one is the one to tell of.
    if (account->ntMessageDb.empty() || (encrypted && !account->chatsEncrypted)) {
      account->ntMessageDb = folder.storedPath;
      account->chatsEncrypted = encrypted;
    }
  }
  return !folders.empty();
}

}  // namespace chat
