#include "db/undark/layouts.h"

#include <initializer_list>

namespace db::undark {

Rule SerialTypes(std::initializer_list<int> types) {
  Rule rule = 0;
  for (int type : types) {
    if (type == 85) {
      rule |= kUuid;
    } else if (type >= 0 && type < 12) {
      rule |= Rule{1} << type;
    }
  }
  return rule;
}

namespace {
// A column number that indexes the column table.
bool InTable(int column) { return column >= 0 && column < kMaxColumns; }
}  // namespace

LayoutBuilder::LayoutBuilder(int columns, std::initializer_list<int> triggers, int window, Start start,
                             Rule defaultRule) {
  layout_.columns = columns;
  for (int trigger : triggers) {
    if (trigger >= 0 && trigger < 256) layout_.trigger[static_cast<std::size_t>(trigger)] = true;
  }
  layout_.window = window;
  layout_.start = start;
  layout_.rules.fill(defaultRule);
}

LayoutBuilder LayoutBuilder::Anchored(int columns, int anchor, std::initializer_list<int> triggers,
                                      Rule defaultRule) {
  LayoutBuilder builder(columns, triggers, 1, Start::kAnchorAtTrigger, defaultRule);
  builder.layout_.anchor = anchor;
  return builder;
}

LayoutBuilder& LayoutBuilder::RowId() {
  layout_.rowId = true;
  return *this;
}

LayoutBuilder& LayoutBuilder::PrimaryKey(int column) {
  layout_.primaryKey = column;
  if (InTable(column)) layout_.rules[static_cast<std::size_t>(column)] = SerialTypes({0});
  return *this;
}

LayoutBuilder& LayoutBuilder::Column(std::initializer_list<int> columns, Rule rule) {
  for (int column : columns) {
    if (InTable(column)) layout_.rules[static_cast<std::size_t>(column)] = rule;
  }
  return *this;
}

LayoutBuilder& LayoutBuilder::ColumnRange(int first, int last, Rule rule) {
  for (int column = first; column <= last; ++column) {
    if (InTable(column)) layout_.rules[static_cast<std::size_t>(column)] = rule;
  }
  return *this;
}

namespace {

// The numbered table's short name for SerialTypes.
Rule Types(std::initializer_list<int> types) { return SerialTypes(types); }

// The three notes layouts differ only in where their later checked columns
// sit; the first ten columns are the same.
LayoutBuilder NotesLayout(int columns) {
  LayoutBuilder builder(columns, {1, 2, 8, 9}, 6, Start::kColumn1AtTrigger);
  builder.Column({1, 2}, Types({1, 2, 8, 9})).ColumnRange(3, 7, Types({1, 8, 9})).Column({10}, Types({1, 8, 9}));
  return builder;
}

std::array<Layout, kLayoutCount> MakeLayouts() {
  const Rule anyInteger = Types({1, 2, 3, 4, 8, 9});
  const Rule smallInteger = Types({1, 2, 3, 9});
  const Rule flag = Types({8, 9});
  const Rule textOrNull = kText | Types({0});
  std::array<Layout, kLayoutCount> layouts{};
  // Message search index of QQ.
  layouts[0] = LayoutBuilder(13, {1, 2, 3, 9}, 6, Start::kColumn1AtTrigger)
                   .Column({1}, smallInteger)
                   .Column({3}, Types({4}))
                   .Column({4, 5, 7}, Types({2, 3, 4, 8, 9}))
                   .Column({10}, flag)
                   .Column({11, 12}, Types({0}))
                   .Build();
  // WeChat message search index: contents.
  layouts[1] = LayoutBuilder(8, {1, 2, 9}, 6, Start::kColumn1AtTrigger)
                   .Column({1}, Types({1, 2, 9}))
                   .Column({2}, smallInteger)
                   .Column({3}, Types({4}))
                   .Column({5}, flag)
                   .Column({6, 7}, Types({0}))
                   .Build();
  // WeChat message search index: names.
  layouts[2] = LayoutBuilder(6, {7, 8, 9}, 6, Start::kColumn1AtTrigger)
                   .RowId()
                   .Column({1, 3}, Types({1, 8, 9}))
                   .Column({2}, kText)
                   .Column({4, 5}, Types({1, 2, 8, 9}))
                   .Build();
  // QQ one-to-one messages.
  layouts[3] = LayoutBuilder(51, {4}, 8, Start::kColumn2AfterTextByte)
                   .Column({2}, Types({4}))
                   .Column({3, 4, 5, 7}, flag)
                   .Column({8, 9}, Types({8}))
                   .Build();
  // QQ group messages.
  layouts[4] = LayoutBuilder(25, {4}, 8, Start::kColumn1AtTrigger)
                   .Column({1, 3}, Types({4}))
                   .Column({2}, Types({2, 3, 4, 8, 9}))
                   .Column({4, 7, 8}, flag)
                   .Build();
  // Notes: ZICNOTEDATA.
  layouts[5] = LayoutBuilder(7, {1}, 6, Start::kColumn1AtTrigger)
                   .Column({1, 2, 3}, Types({1, 9}))
                   .Column({4, 5}, Types({0}))
                   .Build();
  // Contacts: the full-text search table.
  layouts[7] = LayoutBuilder(26, {}, 0, Start::kPrefixTest, textOrNull).Column({17}, kNotNull).Build();
  // Messages.
  layouts[8] = LayoutBuilder(60, {85}, 6, Start::kColumn1AtTrigger)
                   .Column({5}, smallInteger)
                   .Column({13}, Types({85}))
                   .Column({15}, Types({4, 6}))
                   .Column({16}, Types({4, 8}))
                   .Build();
  // Call history: ZCALLRECORD (columns 18 and 19 follow the page's mode).
  layouts[9] = LayoutBuilder(21, {1}, 6, Start::kColumn1AtTrigger)
                   .Column({1}, smallInteger)
                   .Column({12}, Types({7}))
                   .Build();
  // Safari: history_visits.
  layouts[10] = LayoutBuilder(13, {1, 2, 3, 4, 8, 9}, 6, Start::kColumn1AtTrigger)
                    .Column({1}, smallInteger)
                    .Column({2}, Types({7}))
                    .Build();
  // Calendar: CalendarItem.
  layouts[12] = LayoutBuilder(67, {4}, 6, Start::kColumn1AtStartByte)
                    .Column({5}, Types({4}))
                    .Column({7}, Types({0, 4}))
                    .Column({20}, Types({4, 7}))
                    .Column({25}, kText)
                    .Column({27, 35}, Types({85}))
                    .Build();
  // WeChat contacts (column 13 may end the header).
  layouts[13] = LayoutBuilder(16, {1, 2, 3, 4, 8, 9}, 7, Start::kColumn0BeforeTrigger)
                    .Column({1, 2, 3}, anyInteger)
                    .Build();
  // Notes: ZICCLOUDSYNCINGOBJECT of three iOS generations.
  layouts[14] = NotesLayout(106)
                    .Column({58, 60, 61, 64}, Types({0, 1, 2, 7}))
                    .Column({62}, Types({0, 4}))
                    .Column({67}, kText)
                    .Column({74}, Types({0, 85}))
                    .Build();
  layouts[15] = NotesLayout(119)
                    .Column({65, 68, 70, 71, 74}, Types({0, 1, 2, 7}))
                    .Column({72}, Types({0, 4}))
                    .Column({77}, kText)
                    .Column({84}, Types({0, 85}))
                    .Build();
  layouts[16] = NotesLayout(134)
                    .Column({68, 71, 73, 74, 75, 78}, Types({0, 1, 2, 7}))
                    .Column({76}, Types({0, 4}))
                    .Column({81}, kText)
                    .Column({94}, Types({0, 85}))
                    .Build();
  // WhatsApp: ZWAMESSAGE.
  layouts[17] = LayoutBuilder(34, {1, 2, 8, 9}, 6, Start::kColumn1AtTrigger)
                    .Column({1}, Types({1, 2, 8, 9}))
                    .Column({25}, Types({4, 7}))
                    .Column({31}, kText)
                    .Build();
  // WeChat contacts, the other table shape.
  layouts[18] = LayoutBuilder(16, {1, 2, 3, 4, 8, 9}, 7, Start::kColumn0AtTrigger)
                    .Column({0, 12, 14}, anyInteger)
                    .Column({5, 13}, Types({0}))
                    .Column({15}, kText)
                    .Build();
  // WeChat sessions.
  layouts[19] = LayoutBuilder(7, {4}, 1, Start::kColumn0BeforeTrigger)
                    .Column({0, 5}, kText)
                    .Column({1}, Types({4}))
                    .Column({2}, anyInteger)
                    .Build();
  // Safari: history_items.
  layouts[21] = LayoutBuilder(9, {1, 2, 3, 4, 8, 9}, 1, Start::kTwoVarintsBefore)
                    .RowId()
                    .Column({1}, kText)
                    .Column({2}, textOrNull)
                    .Column({3, 8}, anyInteger)
                    .Column({5, 6, 7}, Types({0, 1, 2, 3, 4, 8, 9}))
                    .Build();
  // Contacts: ABPerson (column 46 may end the header).
  layouts[22] = LayoutBuilder(47, {}, 0, Start::kPrefixTest, kText | Types({0, 8}))
                    .RowId()
                    .Column({17}, kNotNull)
                    .Column({18, 19}, Types({4}))
                    .ColumnRange(24, 33, kAny)
                    .Build();
  return layouts;
}

}  // namespace

const Layout* FindLayout(int number) {
  static const std::array<Layout, kLayoutCount> layouts = MakeLayouts();
  if (number < 0 || number >= kLayoutCount) return nullptr;
  const Layout& layout = layouts[static_cast<std::size_t>(number)];
  return layout.columns > 0 ? &layout : nullptr;
}

}  // namespace db::undark
