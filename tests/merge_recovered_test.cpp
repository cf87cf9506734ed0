#include "db/merge_recovered.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <deque>
#include <memory>
#include <ostream>
#include <string>
#include <unordered_set>
#include <vector>

#include "db/items.h"

namespace {

// A record that counts how many of its kind are alive, so that a case can
// tell a dropped record that was not destroyed (a leak) from one that is
// gone; a record destroyed twice is ASan's to catch.
class Row : public db::BaseItem {
 public:
  Row(std::string rowKey, std::string rowTag, std::string rowGroup = "")
      : key(std::move(rowKey)), tag(std::move(rowTag)), group(std::move(rowGroup)) {
    ++alive;
  }
  ~Row() override { --alive; }

  static inline int alive = 0;
  std::string key;
  std::string tag;    // what a case expects to see: "l0" live, "r2" the third found
  std::string group;  // the conversation a recovered row belongs to
};

using Rows = std::vector<std::unique_ptr<Row>>;

std::string KeyOf(const Row& row) { return row.key; }

// Live rows l0, l1, ... and recovered rows r0, r1, ... (in scan order) with
// the keys given.
Rows Make(const std::vector<std::string>& keys, const char* prefix) {
  Rows rows;
  for (std::size_t i = 0; i < keys.size(); ++i) {
    rows.push_back(std::make_unique<Row>(keys[i], prefix + std::to_string(i)));
  }
  return rows;
}

// A case's name as a test name: letters and digits, the rest '_'.
template <class Case>
std::string CaseName(const ::testing::TestParamInfo<Case>& param) {
  std::string result;
  for (const char* ch = param.param.name; *ch != '\0'; ++ch) {
    result += std::isalnum(static_cast<unsigned char>(*ch)) != 0 ? *ch : '_';
  }
  return result;
}

template <class List>
std::vector<std::string> Tags(const List& list) {
  std::vector<std::string> tags;
  for (const auto& row : list) tags.push_back(row->tag);
  return tags;
}

struct FlatCase {
  const char* name;
  std::vector<std::string> live;
  std::vector<std::string> recovered;
  std::vector<std::string> expected;
};
void PrintTo(const FlatCase& c, std::ostream* out) { *out << c.name; }

std::vector<FlatCase> FlatCases() {
  return {
      {"both empty", {}, {}, {}},
      {"nothing recovered", {"a", "b"}, {}, {"l0", "l1"}},
      {"nothing live", {}, {"a", "b"}, {"r0", "r1"}},
      {"kept ones lead in scan order", {"x"}, {"d", "c", "b", "a"}, {"r0", "r1", "r2", "r3", "l0"}},
      {"a repeat of a live row is dropped", {"a", "b"}, {"b", "c"}, {"r1", "l0", "l1"}},
      {"of two with one key the later found is kept", {}, {"a", "b", "a"}, {"r1", "r2"}},
      {"of three copies the last", {"z"}, {"x", "x", "x"}, {"r2", "l0"}},
      {"live and recovered repeats together", {"a"}, {"a", "c", "a", "c"}, {"r3", "l0"}},
      {"repeats among live rows stay", {"a", "a"}, {"a"}, {"l0", "l1"}},
      {"an empty key is a key", {""}, {"", "e"}, {"r1", "l0"}},
  };
}

class MergeRecoveredFlat : public ::testing::TestWithParam<FlatCase> {};

TEST_P(MergeRecoveredFlat, KeepsWhatRepeatsNothingInFrontInScanOrder) {
  const FlatCase& c = GetParam();
  {
    Rows live = Make(c.live, "l");
    db::MergeRecovered(live, Make(c.recovered, "r"), KeyOf);
    EXPECT_EQ(Tags(live), c.expected);
    // Every dropped row is gone already; the kept ones live in the list.
    EXPECT_EQ(Row::alive, static_cast<int>(c.expected.size()));
  }
  EXPECT_EQ(Row::alive, 0);
}

// A deque is what the notes collection holds.
TEST_P(MergeRecoveredFlat, GivesTheSameOnADeque) {
  const FlatCase& c = GetParam();
  {
    std::deque<std::unique_ptr<Row>> live;
    for (auto& row : Make(c.live, "l")) live.push_back(std::move(row));
    db::MergeRecovered(live, Make(c.recovered, "r"), KeyOf);
    EXPECT_EQ(Tags(live), c.expected);
    EXPECT_EQ(Row::alive, static_cast<int>(c.expected.size()));
  }
  EXPECT_EQ(Row::alive, 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, MergeRecoveredFlat, ::testing::ValuesIn(FlatCases()), CaseName<FlatCase>);

// Records of the log ("w" in a case's keys: "a" found in the file, "aw" in
// the log under key "a") that the file holds too are dropped; the others
// keep their order.
TEST(DropLogCopiesOfFileRecords, DropsTheLogsCopiesOfTheFilesRecordsOnly) {
  struct Case {
    const char* name;
    std::vector<std::string> found;
    std::vector<std::string> kept;
  };
  const Case cases[] = {
      {"nothing found", {}, {}},
      {"the file alone", {"a", "b", "a"}, {"r0", "r1", "r2"}},
      {"the log alone", {"aw", "aw", "bw"}, {"r0", "r1", "r2"}},
      {"a log copy of a file record", {"a", "b", "aw"}, {"r0", "r1"}},
      {"a log copy found before the file's", {"bw", "b", "cw"}, {"r1", "r2"}},
      {"log records of other keys stay", {"a", "bw", "aw", "cw"}, {"r0", "r1", "r3"}},
  };
  for (const Case& c : cases) {
    {
      Rows recovered;
      for (std::size_t i = 0; i < c.found.size(); ++i) {
        const std::string& found = c.found[i];
        const bool inLog = found.back() == 'w';
        auto row = std::make_unique<Row>(inLog ? found.substr(0, found.size() - 1) : found, "r" + std::to_string(i));
        if (inLog) row->deletedFrom = db::BaseItem::DeletedFrom::kWal;
        recovered.push_back(std::move(row));
      }
      db::DropLogCopiesOfFileRecords(recovered, KeyOf);
      EXPECT_EQ(Tags(recovered), c.kept) << c.name;
      EXPECT_EQ(Row::alive, static_cast<int>(c.kept.size())) << c.name;
    }
    EXPECT_EQ(Row::alive, 0) << c.name;
  }
}

// isNew sees each record once, from the last found to the first, and may
// keep a pointer to it: the kept record is the very one it saw.
TEST(KeepRecovered, AsksFromTheLastFoundAndHandsBackTheRecordsItSaw) {
  Rows recovered = Make({"a", "b", "c"}, "r");
  recovered.insert(recovered.begin() + 1, nullptr);  // a hole is passed over
  std::vector<const Row*> asked;
  const Rows kept = db::KeepRecovered(std::move(recovered), [&asked](Row& row) {
    asked.push_back(&row);
    return row.key != "b";
  });
  ASSERT_EQ(asked.size(), 3u);
  EXPECT_EQ(asked[0]->tag, "r2");
  EXPECT_EQ(asked[2]->tag, "r0");
  EXPECT_EQ(Tags(kept), (std::vector<std::string>{"r0", "r2"}));
  EXPECT_EQ(kept[0].get(), asked[2]);
  EXPECT_EQ(Row::alive, 2);
}

// ---- groups ----

// A conversation owning its members, as the message readers' are.
class Conversation : public db::FriendItem {
 public:
  explicit Conversation(std::string name) { keyText = std::move(name); }
  void Prepend(Rows rows) { db::PrependOwned(items, owned_, std::move(rows)); }
  void Append(std::unique_ptr<Row> member) {
    items.push_back(member.get());
    owned_.push_back(std::move(member));
  }

 private:
  Rows owned_;
};
using Conversations = std::vector<std::unique_ptr<Conversation>>;

struct Found {
  std::string key;
  std::string group;
};

struct GroupCase {
  const char* name;
  std::vector<Found> recovered;  // in scan order; tags r0, r1, ...
  std::vector<std::string> expected;  // "group: tags", groups in list order
};
void PrintTo(const GroupCase& c, std::ostream* out) { *out << c.name; }

// Three conversations A, B and C whose live rows carry the keys "A0", "B0",
// "C0" (tags A0 ...); a recovered row for a conversation that does not exist
// makes it at the end of the list, as the readers' ConversationFor does.
std::vector<GroupCase> GroupCases() {
  return {
      {"nothing recovered", {}, {"A: A0", "B: B0", "C: C0"}},
      {"kept rows lead their conversation in scan order", {{"x", "B"}, {"y", "B"}}, {"B: r0 r1 B0", "A: A0", "C: C0"}},
      // C's last kept row is r2, A's is r1: A, whose last came first, leads.
      {"receiving conversations ordered by where their last row was found",
       {{"x", "C"}, {"y", "A"}, {"z", "C"}},
       {"A: r1 A0", "C: r0 r2 C0", "B: B0"}},
      {"a repeat of a live row moves nothing", {{"B0", "B"}}, {"A: A0", "B: B0", "C: C0"}},
      {"the later copy is kept, in its own conversation", {{"x", "A"}, {"x", "C"}}, {"C: r1 C0", "A: A0", "B: B0"}},
      {"a new conversation", {{"x", "D"}, {"y", "B"}}, {"D: r0", "B: r1 B0", "A: A0", "C: C0"}},
      {"a repeat among rows of a new conversation", {{"x", "D"}, {"x", "D"}}, {"D: r1", "A: A0", "B: B0", "C: C0"}},
  };
}

std::vector<std::string> Describe(const Conversations& conversations) {
  std::vector<std::string> lines;
  for (const auto& conversation : conversations) {
    std::string line = conversation->keyText + ":";
    for (const db::BaseItem* item : conversation->items) line += " " + static_cast<const Row&>(*item).tag;
    lines.push_back(line);
  }
  return lines;
}

class MergeRecoveredGroups : public ::testing::TestWithParam<GroupCase> {};

TEST_P(MergeRecoveredGroups, FilesKeptRowsInFrontOfTheirConversationsAndThoseFirst) {
  const GroupCase& c = GetParam();
  {
    Conversations conversations;
    std::unordered_set<std::string> known;
    for (const char* name : {"A", "B", "C"}) {
      conversations.push_back(std::make_unique<Conversation>(name));
      conversations.back()->Append(std::make_unique<Row>(std::string(name) + "0", std::string(name) + "0"));
      known.insert(std::string(name) + "0");
    }
    Rows recovered;
    for (std::size_t i = 0; i < c.recovered.size(); ++i) {
      recovered.push_back(std::make_unique<Row>(c.recovered[i].key, "r" + std::to_string(i), c.recovered[i].group));
    }
    std::vector<std::string> filedOrder;
    db::MergeRecoveredIntoGroups(
        conversations, std::move(recovered), [&known](const Row& row) { return known.insert(row.key).second; },
        [&](Row& row) -> Conversation& {
          filedOrder.push_back(row.tag);
          for (auto& conversation : conversations) {
            if (conversation->keyText == row.group) return *conversation;
          }
          conversations.push_back(std::make_unique<Conversation>(row.group));
          return *conversations.back();
        },
        [](Conversation& conversation, Rows rows) { conversation.Prepend(std::move(rows)); });
    EXPECT_EQ(Describe(conversations), c.expected);
    // groupOf meets the kept rows from the last found to the first, so what
    // it sets last on a conversation comes from the row found first.
    EXPECT_TRUE(std::is_sorted(filedOrder.rbegin(), filedOrder.rend())) << testing::PrintToString(filedOrder);
    int rows = 0;
    for (const auto& conversation : conversations) rows += static_cast<int>(conversation->items.size());
    EXPECT_EQ(Row::alive, rows);
  }
  EXPECT_EQ(Row::alive, 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, MergeRecoveredGroups, ::testing::ValuesIn(GroupCases()), CaseName<GroupCase>);

}  // namespace
