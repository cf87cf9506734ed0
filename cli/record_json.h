#pragma once
// Records as JSON for `velmora analyse --json`: every record has "title",
// "deleted" and "time" (Unix seconds after normalising, or null), then its
// own fields under the names the code uses.

#include <vector>

#include <nlohmann/json.hpp>

#include "db/items.h"

namespace cli {

nlohmann::ordered_json RecordJson(const db::BaseItem& record);
// A group with its members under "records".
nlohmann::ordered_json GroupJson(const db::BaseItem& group);
// The members of a group record (none for other records).
std::vector<const db::BaseItem*> Members(const db::BaseItem& record);

}  // namespace cli
