// velmora files BACKUP DOMAIN RELPATH: the stored files of an app's file.

#include <iostream>

#include "backup/file_list_db.h"
#include "cli/commands.h"
#include "cli/output.h"
#include "platform/fs.h"

namespace cli {
namespace {

nlohmann::ordered_json RecordJson(const backup::DBITEM_FileList& record) {
  return {{"fileID", record.fileID},
          {"domain", record.domain},
          {"relativePath", record.relativePath},
          {"storedPath", record.storedPath},
          {"size", record.size},
          {"birth", record.birth},
          {"lastModified", record.lastModified},
          {"lastStatusChange", record.lastStatusChange},
          {"flags", record.flags}};
}

}  // namespace

int RunFiles(const FilesOptions& options) {
  if (!platform::IsFolderOrLinkToOne(options.backup)) return ReportNoBackup("no folder " + options.backup);
  backup::CFileListDB index;
  if (const int opened = OpenBackupIndex(index, options.backup, options.password); opened != kExitDone) return opened;
  const std::size_t maxCount = options.max < 0 ? backup::kNoLimit : static_cast<std::size_t>(options.max);
  backup::FileRecordList records;
  if (index.FindFileRecords(options.relativePath, options.domain, records, options.search, maxCount) == 0 &&
      index.Mode() != backup::SourceFolder) {
    return ReportNoBackup("the lookup failed (" + index.LastError() + ")");
  }
  if (records.size() > maxCount) records.resize(maxCount);
  if (options.json) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const auto& record : records) list.push_back(RecordJson(*record));
    ShowBackupPaths(list, index);
    PrintJson(std::cout, list);
  } else {
    for (const auto& record : records) std::cout << index.BackupPathOf(record->storedPath) << '\n';
  }
  return kExitDone;
}

void AddFilesCommand(CLI::App& app, int& exitCode) {
  auto options = std::make_shared<FilesOptions>();
  CLI::App* command = app.add_subcommand(
      "files", "Find the stored files of an app's file: the files of DOMAIN whose relative path ends with RELPATH");
  command->add_option("BACKUP", options->backup, "The backup folder")->required();
  command->add_option("DOMAIN", options->domain, "The domain, e.g. HomeDomain (SQL wildcards allowed)")->required();
  command->add_option("RELPATH", options->relativePath,
                      "The end of the relative path, e.g. Library/SMS/sms.db (SQL wildcards allowed)")
      ->required();
  command->add_flag("--search", options->search, "In a plain folder, search the whole tree for the path");
  command->add_option("--max", options->max, "List at most N files")->check(CLI::NonNegativeNumber);
  command->add_flag("--json", options->json, "Print a JSON array of file records");
  AddPasswordOption(command, options->password);
  command->callback([options, &exitCode] { exitCode = RunFiles(*options); });
}

}  // namespace cli
