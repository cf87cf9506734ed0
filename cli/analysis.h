#pragma once
// Opening a backup and analysing one category, for `velmora analyse` and
// `velmora recover`.

#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "backup/file_list_db.h"
#include "readers/category_readers.h"

namespace cli {

struct Analysis {
  backup::CFileListDB index;
  std::unique_ptr<readers::CategoryReaders> holder;
  std::vector<db::BaseItem*> list;  // the category's group records, owned by holder
  // Chat categories: several accounts were found and none was asked for;
  // list stays empty until one is chosen.
  bool chooseAccount = false;
};

// Parses CATEGORY (a number or a name). Returns the category, or -1 after
// printing why on stderr: unknown (usage), or not built yet.
int CategoryArgument(const std::string& text);

// Opens backup and analyses category on a worker thread, drawing progress on
// stderr. For the chat categories, account (-1: none asked for) picks the
// account whose records are listed; without one, a backup of several
// accounts sets chooseAccount. Returns an exit status: 0; 1 with
// "未发现备份信息" on stderr; 2 when account is not one of the backup's.
int AnalyseBackup(const std::string& backup, int category, Analysis& analysis, int account = -1);

// The chat accounts of an analysis as {"index", "userName", "displayName",
// "weChatId"} records ("qqNumber" for QQ and TIM), and the same as text
// lines.
nlohmann::ordered_json AccountsJson(const Analysis& analysis);
void PrintAccounts(const Analysis& analysis);

}  // namespace cli
