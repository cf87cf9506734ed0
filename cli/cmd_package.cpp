// velmora package wechat|qq --out DIR [--root DIR]...: the app's files of
// every backup in the catalogue as one 7z archive, DIR/wx.7z or DIR/QQ.7z.

#include <iostream>
#include <map>
#include <system_error>

#include "app/settings.h"
#include "backup/catalogue.h"
#include "cli/commands.h"
#include "cli/output.h"
#include "cli/progress_bar.h"
#include "recovery/chat_package.h"

namespace cli {

int RunPackage(const PackageOptions& options) {
  static const std::map<std::string, recovery::ChatPackageApp> kApps = {
      {"wechat", recovery::ChatPackageApp::kWeChat}, {"qq", recovery::ChatPackageApp::kQQ}};
  const auto app = kApps.find(options.app);
  if (app == kApps.end()) {
    std::cerr << "velmora: package: unknown app '" << options.app << "' (wechat or qq)\n";
    return kExitUsage;
  }
  std::error_code ec;
  std::filesystem::create_directories(options.out, ec);
  if (ec || !std::filesystem::is_directory(options.out, ec)) {
    std::cerr << "velmora: package: cannot make the folder " << options.out << '\n';
    return kExitUnreadable;
  }
  backup::CModelNames models;
  models.Load(backup::DefaultModelNamesPath());
  backup::CBackupCatalogue catalogue;
  catalogue.Build(CatalogueRootsFor(options.roots, options.noDefaultRoots), models, false);
  std::vector<std::filesystem::path> folders;
  for (const backup::BackupEntry& entry : catalogue.Entries()) folders.emplace_back(entry.folder);
  if (folders.empty()) std::cerr << "velmora: package: no backups found; the archive holds no backup\n";

  const std::filesystem::path archive =
      std::filesystem::path(options.out) / recovery::ChatPackageFileName(app->second);
  recovery::ChatPackageResult result;
  {
    ProgressBar bar("打包");
    result = recovery::RunChatPackage(app->second, folders, archive, &bar);
  }
  if (!result.written) {
    std::cerr << "velmora: package: " << result.error << '\n';
    return kExitUnreadable;
  }
  if (result.filesSkipped > 0) {
    std::cerr << "velmora: package: " << result.filesSkipped << " listed files could not be read and are missing\n";
  }
  // Remembered as the desktop program remembers the package's folder.
  const char* setting = app->second == recovery::ChatPackageApp::kWeChat ? "WxExport" : "QQExport";
  app::WriteSetting(setting, setting, options.out);
  std::cout << archive.string() << '\n';
  return kExitDone;
}

void AddPackageCommand(CLI::App& app, int& exitCode) {
  auto options = std::make_shared<PackageOptions>();
  CLI::App* command =
      app.add_subcommand("package", "Pack the WeChat or QQ files of every catalogued backup into one 7z archive");
  command->add_option("APP", options->app, "wechat or qq")->required();
  command->add_option("--out", options->out, "The folder for wx.7z or QQ.7z")->required();
  command->add_option("--root", options->roots,
                      "Also search the subfolders of this folder, before the default roots (repeatable)");
  command->add_flag("--no-default-roots", options->noDefaultRoots,
                    "Search only the --root folders, not the program's and iTunes' backup folders");
  command->callback([options, &exitCode] { exitCode = RunPackage(*options); });
}

}  // namespace cli
