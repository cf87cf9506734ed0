// velmora info BACKUP: the source mode, the Info.plist summary and the number
// of files in a backup.

#include <iostream>

#include "backup/backup_info.h"
#include "backup/file_list_db.h"
#include "cli/commands.h"
#include "cli/output.h"
#include "platform/fs.h"

namespace cli {
namespace {

const char* SourceName(int mode) {
  switch (mode) {
    case backup::SourceManifestDb: return "Manifest.db";
    case backup::SourceManifestMbdb: return "Manifest.mbdb";
    default: return "folder";
  }
}

nlohmann::ordered_json TextOrNull(const std::optional<backup::InfoPlistSummary>& info, const std::string& text) {
  return info ? nlohmann::ordered_json(text) : nlohmann::ordered_json(nullptr);
}

}  // namespace

int RunInfo(const InfoOptions& options) {
  if (!platform::IsFolderOrLinkToOne(options.backup)) return ReportNoBackup("no folder " + options.backup);
  backup::CFileListDB index;
  if (const base::Status opened = index.Open(options.backup, -1); !opened.Ok()) return ReportNoBackup(opened.Text());
  const auto info = backup::ReadInfoPlistSummary(options.backup);
  const std::int64_t files = index.CountFiles();
  if (options.json) {
    nlohmann::ordered_json out;
    out["folder"] = index.BackupFolder();
    out["source"] = SourceName(index.Mode());
    out["sourceMode"] = index.Mode();
    out["deviceName"] = TextOrNull(info, info ? info->deviceName : "");
    out["lastBackupDate"] = info && info->lastBackupDate ? nlohmann::ordered_json(*info->lastBackupDate) : nullptr;
    out["productVersion"] = TextOrNull(info, info ? info->productVersion : "");
    out["productType"] = TextOrNull(info, info ? info->productType : "");
    out["files"] = files;
    PrintJson(std::cout, out);
    return kExitDone;
  }
  std::cout << "Folder:          " << index.BackupFolder() << '\n'
            << "Source:          " << SourceName(index.Mode()) << '\n';
  if (info) {
    std::cout << "Device name:     " << info->deviceName << '\n'
              << "Last backup:     " << (info->lastBackupDate ? FormatUtc(*info->lastBackupDate) + " UTC" : "")
              << '\n'
              << "Product version: " << info->productVersion << '\n'
              << "Product type:    " << info->productType << '\n';
  } else {
    std::cout << "Info.plist:      none\n";
  }
  std::cout << "Files:           " << files << '\n';
  return kExitDone;
}

void AddInfoCommand(CLI::App& app, int& exitCode) {
  auto options = std::make_shared<InfoOptions>();
  CLI::App* command = app.add_subcommand("info", "Summarise a backup: how it is read, its device, its files");
  command->add_option("BACKUP", options->backup, "The backup folder")->required();
  command->add_flag("--json", options->json, "Print a JSON object");
  command->callback([options, &exitCode] { exitCode = RunInfo(*options); });
}

}  // namespace cli
