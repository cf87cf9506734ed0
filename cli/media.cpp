#include "cli/media.h"

#include <iostream>

#include "db/item_time.h"

namespace cli {
namespace {

// A top group's day groups.
std::vector<const db::FriendItem*> Days(const db::FriendItem& top) {
  std::vector<const db::FriendItem*> days;
  for (const db::BaseItem* item : top.items) {
    if (const auto* day = dynamic_cast<const db::FriendItem*>(item)) days.push_back(day);
  }
  return days;
}

struct Counts {
  std::size_t files = 0;
  std::size_t deleted = 0;
};

Counts CountFiles(const db::FriendItem& top) {
  Counts counts;
  for (const db::FriendItem* day : Days(top)) {
    for (const db::BaseItem* file : ShownFiles(top, *day)) {
      ++counts.files;
      counts.deleted += file->deleted != 0 ? 1 : 0;
    }
  }
  return counts;
}

}  // namespace

const std::vector<db::BaseItem*>& ShownFiles(const db::FriendItem& top, const db::FriendItem& day) {
  static const std::vector<db::BaseItem*> kNone;
  const auto shown = static_cast<std::size_t>(top.subListIndex);
  return shown < db::kSubListCount ? day.subLists[shown] : kNone;
}

nlohmann::ordered_json MediaGroupsJson(const readers::ICategoryReader& reader, const std::vector<db::BaseItem*>& tops) {
  nlohmann::ordered_json groups = nlohmann::ordered_json::array();
  for (const db::BaseItem* item : tops) {
    const auto* top = dynamic_cast<const db::FriendItem*>(item);
    if (top == nullptr) continue;
    nlohmann::ordered_json group = reader.RecordJson(*top);
    nlohmann::ordered_json days = nlohmann::ordered_json::array();
    for (const db::FriendItem* day : Days(*top)) {
      nlohmann::ordered_json dayJson = reader.RecordJson(*day);
      nlohmann::ordered_json records = nlohmann::ordered_json::array();
      for (const db::BaseItem* file : ShownFiles(*top, *day)) records.push_back(reader.RecordJson(*file));
      dayJson["records"] = std::move(records);
      days.push_back(std::move(dayJson));
    }
    group["days"] = std::move(days);
    groups.push_back(std::move(group));
  }
  return groups;
}

void PrintMediaSummary(const std::vector<db::BaseItem*>& tops, int first) {
  for (const db::BaseItem* item : tops) {
    const auto* top = dynamic_cast<const db::FriendItem*>(item);
    if (top == nullptr) continue;
    const Counts counts = CountFiles(*top);
    std::cout << top->Title() << ":  days " << Days(*top).size() << ", files " << counts.files << ", deleted "
              << counts.deleted << '\n';
  }
  const auto* all = tops.empty() ? nullptr : dynamic_cast<const db::FriendItem*>(tops.front());
  if (all == nullptr) return;
  int shown = 0;
  for (const db::FriendItem* day : Days(*all)) {
    if (shown++ >= first) {
      std::cout << "  ... " << Days(*all).size() - static_cast<std::size_t>(first) << " more days\n";
      break;
    }
    const std::vector<db::BaseItem*>& files = ShownFiles(*all, *day);
    std::cout << (day->deleted != 0 ? "  [已删除] " : "  ") << (day->Title().empty() ? "(no date)" : day->Title())
              << " (" << files.size() << ")\n";
  }
}

std::size_t TickMediaFiles(const db::FriendItem& top, bool deletedOnly, const std::string& search) {
  std::size_t ticked = 0;
  for (const db::FriendItem* day : Days(top)) {
    for (db::BaseItem* file : ShownFiles(top, *day)) {
      if (deletedOnly && file->deleted == 0) continue;
      if (!search.empty() && file->Title().find(search) == std::string::npos &&
          file->SearchText().find(search) == std::string::npos) {
        continue;
      }
      file->checked = 1;
      ++ticked;
    }
  }
  return ticked;
}

}  // namespace cli
