#include "readers/category_reader.h"

#include "backup/file_list_db.h"
#include "db/db_sqlite.h"

namespace readers {

base::Status ICategoryReader::Open(backup::CFileListDB& index) {
  index_ = &index;
  return FindFiles(index);
}

void ICategoryReader::OpenAndLoad(db::CDbSqlite& reader, const std::string& storedPath, int param,
                                  const LoadContext& context, bool required) {
  db::ReportProgress(context.progress, false, 10);
  index_->OpenDatabase(reader, storedPath, param);
  reader.Close();
  AddProblems(&reader, required);
}


nlohmann::ordered_json ICategoryReader::RecordJson(const db::BaseItem& record) const {
  nlohmann::ordered_json out;
  out["title"] = record.Title();
  out["deleted"] = record.deleted != 0;
  if (record.deleted != 0) {
    out["deletedFrom"] = DeletedFromName(record.deletedFrom);
    out["deletedAt"] = TimeJson(record.deletedAt);
  }
  out["time"] = TimeJson(record.time);
  DescribeRecord(record, out);
  return out;
}

nlohmann::ordered_json ICategoryReader::GroupJson(const db::BaseItem& group) const {
  nlohmann::ordered_json out = RecordJson(group);
  nlohmann::ordered_json records = nlohmann::ordered_json::array();
  for (const db::BaseItem* member : Members(group)) records.push_back(RecordJson(*member));
  out["records"] = std::move(records);
  return out;
}

void ICategoryReader::AddProblem(const base::Status& status, bool required) {
  if (!status.Ok()) problems_.push_back({status, required});
}

void ICategoryReader::AddProblems(const db::CDbSqlite* reader, bool required) {
  if (reader == nullptr) return;
  for (const base::Status& status : reader->Problems()) AddProblem(status, required);
}

std::vector<const db::BaseItem*> Members(const db::BaseItem& record) {
  std::vector<const db::BaseItem*> members;
  if (const auto* group = dynamic_cast<const db::FriendItem*>(&record)) {
    for (const db::BaseItem* member : group->items) {
      if (member != nullptr) members.push_back(member);
    }
  }
  return members;
}

const char* DeletedFromName(db::BaseItem::DeletedFrom from) {
  switch (from) {
    case db::BaseItem::DeletedFrom::kRecentlyDeleted: return "recently-deleted";
    case db::BaseItem::DeletedFrom::kWal: return "wal";
    case db::BaseItem::DeletedFrom::kFreeSpace: break;
  }
  return "free-space";
}

nlohmann::ordered_json TimeJson(double time) {
  if (time == 0) return nullptr;
  return time;
}

base::Status ICategoryReader::Locate(const DatabaseLocation& location, std::string& path) {
  path.clear();
  std::vector<std::string> paths;
  const bool folderMode = index_->Mode() == backup::SourceFolder;
  const int result =
      index_->FindFilePaths(folderMode ? location.folderPath : location.manifestPath, location.domain, paths, false);
  if (!folderMode && result == 0) {
    const base::Status failed = base::Status::Unreadable(
        index_->DbPath(), "the backup's manifest could not be searched for " + std::string(location.manifestPath) +
                              " (" + index_->LastError() + ")");
    AddProblem(failed, true);
    return failed;
  }
  if (paths.empty()) return base::Status::NotFound(location.manifestPath, "not in the backup");
  path = paths.front();
  return {};
}

}  // namespace readers
