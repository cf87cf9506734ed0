// velmora info BACKUP: the source mode, the Info.plist summary and the number
// of files in a backup.

#include <iostream>
#include <optional>

#include "backup/backup_info.h"
#include "backup/encrypted_backup.h"
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

// The manifest form of a backup that is not open: the manifest files there.
int LockedSourceMode(const std::string& folder) {
  const auto present = [&folder](const char* name) {
    const auto path = platform::FindIgnoringCase(folder, name);
    return path && platform::IsRegularFile(*path);
  };
  if (present("Manifest.db")) return backup::SourceManifestDb;
  return present("Manifest.mbdb") ? backup::SourceManifestMbdb : backup::SourceFolder;
}

}  // namespace

int RunInfo(const InfoOptions& options) {
  if (!platform::IsFolderOrLinkToOne(options.backup)) return ReportNoBackup("no folder " + options.backup);
  backup::CFileListDB index;
  const int opened = OpenBackupIndex(index, options.backup, options.password);
  // An encrypted backup that stays locked still tells its device; its files
  // are counted once it is opened with its password.
  const bool locked = opened != kExitDone;
  if (locked && !backup::IsEncryptedBackup(options.backup)) return opened;
  const auto info = backup::ReadInfoPlistSummary(options.backup);
  // -1 while locked: the manifest that lists the files is encrypted.
  const std::int64_t files = locked ? -1 : index.CountFiles();
  const int mode = locked ? LockedSourceMode(options.backup) : index.Mode();
  const bool encrypted = locked || index.Encrypted();
  if (options.json) {
    nlohmann::ordered_json out;
    out["folder"] = locked ? options.backup : index.BackupFolder();
    out["source"] = SourceName(mode);
    out["sourceMode"] = mode;
    out["encrypted"] = encrypted;
    out["deviceName"] = TextOrNull(info, info ? info->deviceName : "");
    out["lastBackupDate"] = info && info->lastBackupDate ? nlohmann::ordered_json(*info->lastBackupDate) : nullptr;
    out["productVersion"] = TextOrNull(info, info ? info->productVersion : "");
    out["productType"] = TextOrNull(info, info ? info->productType : "");
    out["files"] = files >= 0 ? nlohmann::ordered_json(files) : nullptr;
    PrintJson(std::cout, out);
    return opened;
  }
  std::cout << "Folder:          " << (locked ? options.backup : index.BackupFolder()) << '\n'
            << "Source:          " << SourceName(mode) << (encrypted ? ", encrypted" : "") << '\n';
  if (info) {
    std::cout << "Device name:     " << info->deviceName << '\n'
              << "Last backup:     " << (info->lastBackupDate ? FormatUtc(*info->lastBackupDate) + " UTC" : "")
              << '\n'
              << "Product version: " << info->productVersion << '\n'
              << "Product type:    " << info->productType << '\n';
  } else {
    std::cout << "Info.plist:      none\n";
  }
  std::cout << "Files:           " << (files >= 0 ? std::to_string(files) : "(locked: give the password)") << '\n';
  return opened;
}

void AddInfoCommand(CLI::App& app, int& exitCode) {
  auto options = std::make_shared<InfoOptions>();
  CLI::App* command = app.add_subcommand("info", "Summarise a backup: how it is read, its device, its files");
  command->add_option("BACKUP", options->backup, "The backup folder")->required();
  command->add_flag("--json", options->json, "Print a JSON object");
  AddPasswordOption(command, options->password);
  command->callback([options, &exitCode] { exitCode = RunInfo(*options); });
}

}  // namespace cli
