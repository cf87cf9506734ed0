#pragma once
// The one merge of the records a reader rebuilt from deleted rows into the
// records its database still lists. Every reader keys its records its own
// way (CallKey, MessageKey, ...); the rule of what is kept and where it
// stands is this one:
//
//  1. A recovered record that repeats a live record is dropped: the
//     deleted-row scan meets every live record as well.
//  2. Of recovered records that repeat one another, the one the scan found
//     LAST is kept and the earlier ones are dropped. They are taken for
//     copies of one record (the scan can meet a freed record twice, or the
//     old copy SQLite left behind when it moved the record); which copy is
//     shown decides only the fields outside the key, and one rule makes
//     that choice the same in every category.
//  3. The kept recovered records stand in front of the live ones, in the
//     order the scan found them; the live records keep their own order.
//     Deleted records are what the user came for, so they lead.
//
// In a reader whose records live in groups (the conversations of a message
// database), rule 3 holds within each group, and the groups that received
// recovered records move to the front of the group list; see
// MergeRecoveredIntoGroups.
//
// Cost: one key lookup per record and one move of each list, never an
// insertion per record at the front of a list.
//
// Ownership: the recovered records are handed over by value; the dropped ones
// are destroyed before the function returns, the kept ones end up owned by
// the list (or, through prepend, the group) they were filed into.
//
// Threads: any thread, on lists and key sets no other thread touches
// meanwhile; the functions keep no state of their own.

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <memory>
#include <type_traits>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "db/items.h"

namespace db {

// Rules 1 and 2. Asks isNew(record) about each recovered record, from the
// last found to the first: isNew answers whether the record repeats nothing
// known so far and, when it repeats nothing, remembers it, so that the
// records asked about after it are checked against it too. isNew starts out
// knowing the live records (the caller seeds its key set); a reader whose
// records can repeat one another by more than one key (a message by its
// MessageKey or by its guid) tests them all there. Returns the records isNew
// accepted, in the order the scan found them. Each one isNew rejects (and
// each null entry) is destroyed at once, so isNew may keep a pointer only to
// a record it accepts; those do not move in memory.
template <class Record, class IsNew>
std::vector<std::unique_ptr<Record>> KeepRecovered(std::vector<std::unique_ptr<Record>> recovered, IsNew&& isNew) {
  // Most recovered records are usually copies of live ones (the scan meets
  // every live record): each dropped one is freed at once, and no room is
  // set aside for them, so the merge needs little more memory than the
  // records themselves.
  std::vector<std::unique_ptr<Record>> kept;
  for (auto it = recovered.rbegin(); it != recovered.rend(); ++it) {
    if (*it != nullptr && isNew(**it)) {
      kept.push_back(std::move(*it));
    } else {
      it->reset();
    }
  }
  std::reverse(kept.begin(), kept.end());
  return kept;
}

// Before rules 1 and 2, for a reader that scans a database's write-ahead
// log as well: drops each record found in the log (deletedFrom kWal) whose
// keyOf is that of a record found in the database file. The log holds older
// versions of the file's pages, so a row of the file turns up there again,
// whole or with bytes a later write changed (a key that names the row, such
// as its own identifier, still matches): the file's copy is the row, and it
// tells where the row was deleted. The other records keep their order;
// records are db::BaseItem or derive from it.
template <class Record, class KeyOf>
void DropLogCopiesOfFileRecords(std::vector<std::unique_ptr<Record>>& recovered, KeyOf&& keyOf) {
  using Key = std::decay_t<std::invoke_result_t<KeyOf&, const Record&>>;
  const auto inLog = [](const Record& record) { return record.deletedFrom == BaseItem::DeletedFrom::kWal; };
  std::unordered_set<Key> inFile;
  for (const auto& record : recovered) {
    if (record != nullptr && !inLog(*record)) inFile.insert(keyOf(*record));
  }
  if (inFile.empty()) return;
  std::erase_if(recovered, [&](const std::unique_ptr<Record>& record) {
    return record != nullptr && inLog(*record) && inFile.contains(keyOf(*record));
  });
}

// Rule 3 for a flat list: puts records in front of list (a vector or a deque
// of unique_ptr), in the order given, in one step.
template <class List, class Record>
void PrependRecords(List& list, std::vector<std::unique_ptr<Record>> records) {
  list.insert(list.begin(), std::make_move_iterator(records.begin()), std::make_move_iterator(records.end()));
}

// The whole merge for a flat owning list: a recovered record is dropped when
// keyOf gives it the key of a record of live (whatever that record's own
// deleted flag) or of a recovered record found after it; the others go in
// front of live in scan order. keyOf(const Record&) returns a hashable key
// (the reader's own, e.g. CallKey). live holds unique_ptr to Record (or to a
// type keyOf also takes); afterwards it owns the kept records.
template <class List, class Record, class KeyOf>
void MergeRecovered(List& live, std::vector<std::unique_ptr<Record>> recovered, KeyOf&& keyOf) {
  using Key = std::decay_t<std::invoke_result_t<KeyOf&, const Record&>>;
  std::unordered_set<Key> known;
  known.reserve(live.size() + recovered.size());
  for (const auto& record : live) {
    if (record != nullptr) known.insert(keyOf(*record));
  }
  PrependRecords(live, KeepRecovered(std::move(recovered),
                                     [&](const Record& record) { return known.insert(keyOf(record)).second; }));
}

// The whole merge for records filed into groups (messages into
// conversations). isNew is as for KeepRecovered; the caller's set of known
// keys already holds the live records' keys. Then each kept record is handed
// to groupOf, from the last found to the first, which returns the group it
// belongs to (a group of groups, which groupOf may have just added at the
// end of groups) and may fill in what the group needs (a count, a time, a
// mark). Finally each group's kept records, in scan order, go to
// prepend(group, records), which puts them in front of the group's members
// and takes them over (e.g. through db::PrependOwned).
//
// The group list becomes: the groups that received records, then the others
// in their former order. The receiving groups are ordered by where the scan
// found the last record each received, earliest first: the order that filing
// the records one at a time, from the last found to the first, each in front
// of its group and its group moved to the front of the list, would give.
template <class Group, class Record, class IsNew, class GroupOf, class Prepend>
void MergeRecoveredIntoGroups(std::vector<std::unique_ptr<Group>>& groups,
                              std::vector<std::unique_ptr<Record>> recovered, IsNew&& isNew, GroupOf&& groupOf,
                              Prepend&& prepend) {
  std::vector<std::unique_ptr<Record>> kept = KeepRecovered(std::move(recovered), isNew);
  if (kept.empty()) return;

  struct Filed {
    Group* group;
    std::vector<std::unique_ptr<Record>> records;  // last found first until reversed below
  };
  std::vector<Filed> filed;  // in the order the groups got their first record, walking back
  std::unordered_map<const Group*, std::size_t> filedAt;
  for (auto it = kept.rbegin(); it != kept.rend(); ++it) {
    Group& group = groupOf(**it);
    const auto [at, first] = filedAt.try_emplace(&group, filed.size());
    if (first) filed.push_back({&group, {}});
    filed[at->second].records.push_back(std::move(*it));
  }
  for (Filed& f : filed) {
    std::reverse(f.records.begin(), f.records.end());
    prepend(*f.group, std::move(f.records));
  }

  // Room for every group even when groupOf broke its promise and returned a
  // group outside the list: no group of the list is ever lost; empty slots
  // are closed up.
  std::vector<std::unique_ptr<Group>> ordered(groups.size() + filed.size());
  std::size_t nextOther = filed.size();
  for (auto& group : groups) {
    const auto at = filedAt.find(group.get());
    ordered[at != filedAt.end() ? filed.size() - 1 - at->second : nextOther++] = std::move(group);
  }
  std::erase(ordered, nullptr);
  groups = std::move(ordered);
}

}  // namespace db
