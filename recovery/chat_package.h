#pragma once
// The chat data package: the stored files of WeChat or QQ from every backup
// of the catalogue, packed as one 7z archive for another tool or a later
// analysis. Layout inside the archive:
//   backup/bakNN/Manifest.db, backup/bakNN/Manifest.mbdb   whichever exist
//   backup/bakNN/<the file's place relative to the backup folder>
// NN is the backup's 1-based position in the catalogue, two digits wide
// (bak01, bak02, ...). A backup whose manifest cannot be opened gets no
// folder, but its number is used up, so that the numbers still match the
// catalogue.
//
// Files are streamed from the backups straight into the archive; nothing in
// a backup is written, and no copy is staged anywhere.

#include <filesystem>
#include <string>
#include <vector>

#include "export/export_writer.h"

namespace recovery {

enum class ChatPackageApp {
  kQQ,      // domains AppDomain-com.tencent.mqq, then AppDomain-com.tencent.tim
  kWeChat,  // domain AppDomain-com.tencent.xin
};

// The app's domains, in the order they are packed.
std::vector<std::string> ChatPackageDomains(ChatPackageApp app);

// The archive's file name in the chosen folder: "QQ.7z" or "wx.7z".
std::string ChatPackageFileName(ChatPackageApp app);

struct ChatPackageResult {
  bool written = false;         // archivePath holds the whole new archive
  int backupsPacked = 0;        // backups that got a bakNN folder
  int filesPacked = 0;          // files in the archive, manifests included
  int filesSkipped = 0;         // listed files that could not be read
  std::string error;            // why the archive was not written
};

// Packs the app's files of backups (the catalogue's folders, in its order)
// into archivePath. The archive is written under a temporary name beside it
// and renamed over an older archive only once it is complete, so a failed run
// leaves an older archive as it was. Refuses an archivePath inside one of the
// backups, or one whose path holds a symbolic link. Progress (may be null) goes from 2 to 100; 100 also after a
// failure, which closes a progress window. Blocking; call it from a worker
// thread.
ChatPackageResult RunChatPackage(ChatPackageApp app, const std::vector<std::filesystem::path>& backups,
                                 const std::filesystem::path& archivePath, exporting::IExportProgress* progress);

}  // namespace recovery
