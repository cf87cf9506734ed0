#pragma once
// Opening a backup and analysing one category, for `velmora analyse` and
// `velmora recover`.

#include <memory>
#include <string>
#include <vector>

#include "backup/file_list_db.h"
#include "readers/category_readers.h"

namespace cli {

struct Analysis {
  backup::CFileListDB index;
  std::unique_ptr<readers::CategoryReaders> holder;
  std::vector<db::BaseItem*> list;  // the category's group records, owned by holder
};

// Parses CATEGORY (a number or a name). Returns the category, or -1 after
// printing why on stderr: unknown (usage), or not built yet.
int CategoryArgument(const std::string& text);

// Opens backup and analyses category on a worker thread, drawing progress on
// stderr. Returns an exit status (0, or 1 with "未发现备份信息" on stderr).
int AnalyseBackup(const std::string& backup, int category, Analysis& analysis);

}  // namespace cli
