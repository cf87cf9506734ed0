#pragma once
// Opening a backup and analysing one category, for `velmora analyse` and
// `velmora recover`.

#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "backup/file_list_db.h"
#include "cli/backup_password.h"
#include "readers/category_reader.h"

namespace cli {

struct Analysis {
  backup::CFileListDB index;
  std::unique_ptr<readers::ICategoryReader> reader;
  std::vector<db::BaseItem*> list;  // the category's records, owned by reader
  // Chat categories: several accounts were found and none was asked for;
  // list stays empty until one is chosen.
  bool chooseAccount = false;
};

// Parses CATEGORY (a number or a name). Returns the category, or -1 after
// printing why on stderr (usage).
int CategoryArgument(const std::string& text);

// Opens backup and analyses category on a worker thread, drawing progress on
// stderr and printing a warning line per file that could not be read. For
// the chat categories, account (-1: none asked for) picks the account whose
// records are listed; without one, a backup of several accounts sets
// chooseAccount. An encrypted backup opens with password (OpenBackupIndex).
// Returns an exit status: 0; 1 with why on stderr when the backup cannot
// be opened (OpenBackupIndex); 2 when account is not one of the
// backup's. RequiredFileFailed tells afterwards whether a file the category
// needs could not be read.
int AnalyseBackup(const std::string& backup, int category, Analysis& analysis, int account = -1,
                  const PasswordSource& password = {});

// Whether a file the analysed category needs could not be read (the
// warnings named it): the result is then incomplete.
bool RequiredFileFailed(const Analysis& analysis);

// The chat accounts of an analysis as {"index", "userName", "displayName",
// "weChatId"} records ("qqNumber" for QQ and TIM, followed by
// "chatsEncrypted" and "notice"), and the same as text lines, each followed
// by its notice where it has one.
nlohmann::ordered_json AccountsJson(const Analysis& analysis);
void PrintAccounts(const Analysis& analysis);

// What the chosen chat account's summary says of chats in the backup that
// are not read (AccountSummary::notice); "" for none, or when no account
// was chosen.
std::string ChosenAccountNotice(const Analysis& analysis);

}  // namespace cli
