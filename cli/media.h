#pragma once
// The media categories (photos, videos, app attachments) on the command
// line. Their list is a few top groups (全部照片, 相机胶卷 ... or 全部文件,
// 图片 ...); each top group lists day groups, and each day group shows the
// files of the sub-list its top group names.

#include <cstddef>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "db/items.h"
#include "readers/category_reader.h"

namespace cli {

// The files a day group shows under top (none for an index out of range).
const std::vector<db::BaseItem*>& ShownFiles(const db::FriendItem& top, const db::FriendItem& day);

// {"title", "deleted", "time", own fields, "days": [{..., "records": [...]}]}
// for each top group, as reader describes its records.
nlohmann::ordered_json MediaGroupsJson(const readers::ICategoryReader& reader, const std::vector<db::BaseItem*>& tops);

// A line per top group (its days, files and deleted files), then the first
// days of the first top group.
void PrintMediaSummary(const std::vector<db::BaseItem*>& tops, int first);

// Ticks the files that top's day groups show and the filters keep (deleted
// only; text in the file's title or name). Returns how many were ticked.
std::size_t TickMediaFiles(const db::FriendItem& top, bool deletedOnly, const std::string& search);

}  // namespace cli
