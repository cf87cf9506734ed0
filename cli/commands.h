#pragma once
// The commands of `velmora`. Each Add*Command registers its subcommand on the
// application; when the subcommand is chosen, its callback runs and stores the
// command's exit status in exitCode: 0 done (an empty result is done), 1 the
// input cannot be read, 2 usage. Results go to stdout, errors to stderr.

#include <filesystem>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "cli/backup_password.h"

namespace cli {

struct FilesOptions {
  std::string backup;
  std::string domain;
  std::string relativePath;
  bool search = false;
  long long max = -1;  // -1: no limit
  bool json = false;
  PasswordSource password;
};

struct InfoOptions {
  std::string backup;
  bool json = false;
  PasswordSource password;
};

struct AnalyseOptions {
  std::string backup;
  std::string category;
  bool json = false;
  int first = 20;
  int account = -1;  // chat categories: which account (-1: the only one, or list them)
  PasswordSource password;
};

struct RecoverOptions {
  std::string backup;
  std::string category;
  std::string out;
  bool deletedOnly = false;
  std::string search;
  std::string label;
  int group = 0;  // media categories: which top group (0 all files)
  int account = -1;  // chat categories: which account (-1: the only one)
  PasswordSource password;
};

struct BackupsOptions {
  std::vector<std::string> roots;  // searched before the default roots
  bool noDefaultRoots = false;     // search roots only
  bool json = false;
};

struct PackageOptions {
  std::string app;  // "wechat" or "qq"
  std::string out;
  std::vector<std::string> roots;  // searched before the default roots
  bool noDefaultRoots = false;     // search roots only
};

// The catalogue roots of a command: extraRoots, then unless noDefaultRoots
// the default roots (the program's backup folder and the iTunes backup
// root); the catalogue searches each folder once.
std::vector<std::filesystem::path> CatalogueRootsFor(const std::vector<std::string>& extraRoots,
                                                     bool noDefaultRoots);

// The bodies of the commands, also run by the demo. Each returns the exit
// status.
int RunFiles(const FilesOptions& options);
int RunInfo(const InfoOptions& options);
int RunAnalyse(const AnalyseOptions& options);
int RunRecover(const RecoverOptions& options);
int RunBackups(const BackupsOptions& options);
int RunPackage(const PackageOptions& options);

void AddFilesCommand(CLI::App& app, int& exitCode);
void AddPlistCommand(CLI::App& app, int& exitCode);
void AddInfoCommand(CLI::App& app, int& exitCode);
void AddDemoCommand(CLI::App& app, int& exitCode);
void AddScanCommand(CLI::App& app, int& exitCode);
void AddAnalyseCommand(CLI::App& app, int& exitCode);
void AddRecoverCommand(CLI::App& app, int& exitCode);
void AddBackupsCommand(CLI::App& app, int& exitCode);
void AddPackageCommand(CLI::App& app, int& exitCode);

}  // namespace cli
