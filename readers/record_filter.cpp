#include "readers/record_filter.h"

namespace readers {
namespace {

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

bool MatchesSearch(const db::BaseItem& record, const std::string& search) {
  if (Contains(record.Title(), search) || Contains(record.SearchText(), search)) return true;
  if (const auto* group = dynamic_cast<const db::FriendItem*>(&record)) {
    for (const db::BaseItem* member : group->items) {
      if (member != nullptr && Contains(member->SearchText(), search)) return true;
    }
  }
  return false;
}

}  // namespace

std::vector<db::BaseItem*> FilterRecords(const std::vector<db::BaseItem*>& list, int viewFilter,
                                         const std::string& search) {
  std::vector<db::BaseItem*> kept;
  for (db::BaseItem* record : list) {
    if (viewFilter == 1 && record->deleted == 0) continue;
    if (viewFilter == 2 && record->deleted != 0) continue;
    if (!search.empty() && !MatchesSearch(*record, search)) continue;
    kept.push_back(record);
  }
  return kept;
}

}  // namespace readers
