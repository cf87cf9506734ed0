#pragma once
// QQ's current builds ("QQ NT"): finding an account's message database and
// telling whether it is encrypted, without reading it. Such a build keeps
// its chats in
//   Documents/QQNT/DB/nt_db/nt_qq_<hash>/nt_msg.db
// (guild_msg.db and other databases beside it) in QQ's domain, encrypted
// with SQLCipher under a key that, as far as anything public shows, the
// backup does not hold. Nothing here tries to decrypt, guess or derive it:
// the account is listed and marked so that the user learns the chats are
// there but locked. The layout as read here is in docs/formats/qq.md
// ("Current builds").
//
// Threads: the analysis worker, as the rest of the QQ reader.

#include <cstddef>
#include <string>
#include <vector>

namespace backup {
class CFileListDB;
}

namespace chat {

inline constexpr char kQqNtMessageDbName[] = "nt_msg.db";
// An account's folder is named this followed by a hash.
inline constexpr char kQqNtFolderPrefix[] = "nt_qq_";
// A plain SQLite database begins with these 16 bytes (the last is a 0).
inline constexpr char kSqliteMagic[] = "SQLite format 3";
inline constexpr std::size_t kSqliteMagicBytes = 16;

enum class QqNtDbKind {
  kEncrypted,  // at least 16 bytes, not SQLite's: encrypted pages (with or without a plain header of the app's own)
  kPlain,      // SQLite's magic: a database no build known to us writes; not read here
  kUnknown,    // shorter than 16 bytes, or it cannot be read: nothing to tell
};

// What the first bytes of the file at storedPath say it is.
QqNtDbKind ReadQqNtDbKind(const std::string& storedPath);

// One nt_qq_<hash> folder holding an nt_msg.db.
struct QqNtFolder {
  std::string hash;        // what follows "nt_qq_" in the folder's name; never empty
  // The folder, '/'-separated: relative to QQ's domain, in folder mode to
  // the chosen folder.
  std::string folderPath;
  std::string storedPath;  // its nt_msg.db as stored in the backup
};

// Every nt_qq_<hash> folder of QQ's domain that holds a file named exactly
// nt_msg.db (ASCII case ignored; its "-wal" or any longer name does not
// count), once per hash (the first the index names), in the index's order.
// Empty when the backup holds none or the index cannot be asked.
std::vector<QqNtFolder> FindQqNtFolders(backup::CFileListDB& index);

// Whether folder lies below a folder named exactly number (a whole path
// component before nt_qq_<hash>): the one tie read between an NT folder and
// an account the archive names. Not a number, or empty: false.
bool QqNtFolderBelongsTo(const QqNtFolder& folder, const std::string& number);

}  // namespace chat
