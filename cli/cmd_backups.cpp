// velmora backups [--json] [--root DIR]...: the backup catalogue, the backups
// already on this computer with their device, time, size, system and model.

#include <iostream>

#include "app/settings.h"
#include "backup/catalogue.h"
#include "cli/commands.h"
#include "cli/output.h"

namespace cli {

std::vector<std::filesystem::path> CatalogueRootsFor(const std::vector<std::string>& extraRoots,
                                                     bool noDefaultRoots) {
  // The roots named on the command line come first; then the default roots,
  // the backup folder of the settings (as the desktop program keeps it)
  // among them, each folder once.
  std::vector<std::filesystem::path> roots(extraRoots.begin(), extraRoots.end());
  if (noDefaultRoots) return roots;
  const std::filesystem::path configured = app::ReadSetting(app::kStorageSection, app::kBackupPathKey);
  for (const std::filesystem::path& root : backup::DefaultCatalogueRoots(configured)) roots.push_back(root);
  return roots;
}

int RunBackups(const BackupsOptions& options) {
  backup::CModelNames models;
  models.Load(backup::DefaultModelNamesPath());
  backup::CBackupCatalogue catalogue;
  catalogue.Build(CatalogueRootsFor(options.roots, options.noDefaultRoots), models);
  catalogue.WaitForSizes();
  const std::vector<backup::BackupEntry> entries = catalogue.Entries();
  if (options.json) {
    nlohmann::ordered_json out = nlohmann::ordered_json::array();
    for (const backup::BackupEntry& entry : entries) {
      nlohmann::ordered_json item;
      item["index"] = entry.index;
      item["deviceName"] = entry.deviceName;
      item["backupTime"] = backup::FormatBackupTime(entry.backupTime);
      item["size"] = entry.sizeText;
      item["sizeBytes"] = entry.sizeBytes ? nlohmann::ordered_json(*entry.sizeBytes) : nullptr;
      item["systemVersion"] = entry.systemVersion;
      item["productType"] = entry.productType;
      item["model"] = entry.model;
      item["folder"] = entry.folder;
      item["encrypted"] = entry.encrypted;
      out.push_back(std::move(item));
    }
    PrintJson(std::cout, out);
    return kExitDone;
  }
  if (entries.empty()) std::cerr << "velmora: no backups found\n";
  for (const backup::BackupEntry& entry : entries) {
    std::cout << "[" << entry.index + 1 << "] " << entry.deviceName << '\n'
              << "    Backup time:    " << backup::FormatBackupTime(entry.backupTime) << '\n'
              << "    Size:           " << entry.sizeText << '\n'
              << "    System version: " << entry.systemVersion << '\n'
              << "    Model:          " << entry.model << '\n'
              << "    Encrypted:      " << (entry.encrypted ? "yes (opens with its password)" : "no") << '\n'
              << "    Folder:         " << entry.folder << '\n';
  }
  return kExitDone;
}

void AddBackupsCommand(CLI::App& app, int& exitCode) {
  auto options = std::make_shared<BackupsOptions>();
  CLI::App* command = app.add_subcommand("backups", "List the backups on this computer (the backup catalogue)");
  command->add_flag("--json", options->json, "Print a JSON array");
  command->add_option("--root", options->roots,
                      "Also search the subfolders of this folder, before the default roots (repeatable)");
  command->add_flag("--no-default-roots", options->noDefaultRoots,
                    "Search only the --root folders, not the program's and iTunes' backup folders");
  command->callback([options, &exitCode] { exitCode = RunBackups(*options); });
}

}  // namespace cli
