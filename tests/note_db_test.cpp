#include "readers/note_db.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <zlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "backup/file_list_db.h"
#include "db/progress.h"
#include "db/text.h"
#include "export/export_writer.h"
#include "platform/fs.h"
#include "platform/message_target.h"
#include "testing/progress_recorder.h"
#include "testing/sample_backup.h"
#include "testing/sample_media.h"
#include "testing/sample_notes.h"
#include "testing/sql_literal.h"

namespace readers {
namespace {

namespace fs = std::filesystem;
using sample::NoteStoreShape;
using Bytes = std::vector<std::uint8_t>;

Bytes ToBytes(const std::string& text) { return {text.begin(), text.end()}; }

std::string WriteDatabase(const platform::TempFolder& folder, const std::string& name,
                          const sample::SqliteFile& database) {
  const fs::path path = folder.Path() / name;
  database.WriteTo(path);
  return path.string();
}

std::string CsvOf(const std::vector<db::BaseItem*>& notes) {
  exporting::CExportWriter writer(nullptr, 8);
  WriteNotesCsv(writer, notes);
  return writer.CsvText();
}

std::string FileText(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

// The bodies of a list of notes, to compare whole lists at once.
std::vector<std::string> Bodies(const std::vector<DBITEM_Note*>& notes) {
  std::vector<std::string> bodies;
  for (const DBITEM_Note* note : notes) bodies.push_back(note->body);
  return bodies;
}

// ---- the note text inside ZDATA ----

// An inflated note data message put together by hand.
Bytes Message(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

const Bytes kTextMarker = {0x00, 0x10, 0x00, 0x1A};
const Bytes kRunMarker = {0x1A, 0x10, 0x0A, 0x04};

struct TextCase {
  const char* name;
  Bytes blob;
  std::optional<std::string> text;
};
void PrintTo(const TextCase& textCase, std::ostream* out) { *out << textCase.name; }

std::string LongText() {
  std::string text = "会议纪要\n";
  for (int i = 0; i < 60; ++i) text += "第" + std::to_string(i) + "项，";
  return text;  // far beyond 127 bytes and 127 UTF-16 units
}

std::vector<TextCase> TextCases() {
  const std::string shortText = "购物清单\n牛奶 两盒";
  const Bytes shortBlob = sample::NoteDataBlob(shortText);
  return {
      {"PhoneShaped", shortBlob, shortText},
      // A two-byte text length and an attribute run of 17 bytes: the text is
      // taken by its declared length, without a length byte in front or the
      // run's bytes behind.
      {"LongerThan127Bytes", sample::NoteDataBlob(LongText()), LongText()},
      {"EmptyText", sample::NoteDataBlob(""), std::string()},
      {"NotGzip", ToBytes("bplist00\xd4\x01\x02\x03"), std::nullopt},
      {"ZlibNotGzip",
       [] {
         const Bytes plain = Message({kTextMarker, {0x05, 0x12, 0x03}, ToBytes("abc")});
         Bytes out(compressBound(static_cast<uLong>(plain.size())));
         uLongf size = static_cast<uLongf>(out.size());
         compress(out.data(), &size, plain.data(), static_cast<uLong>(plain.size()));
         out.resize(size);
         return out;
       }(),
       std::nullopt},
      {"NoMarker", sample::GzipBytes(ToBytes("08 00 12 05 no marker here")), std::nullopt},
      {"MarkerInTheLastFourBytes", sample::GzipBytes(Message({ToBytes("abc"), kTextMarker})), std::nullopt},
      // Bytes that are not the message's structure: the first 12 near the
      // marker and a one-byte length, up to the attribute run.
      {"NoStructureEndsAtRun",
       sample::GzipBytes(Message({kTextMarker, {0x05, 0xAA, 0x12, 0x03}, ToBytes("abc"), kRunMarker, {0x08}})), "abc"},
      {"NoStructureEndsAtZero",
       sample::GzipBytes(Message({kTextMarker, {0x05, 0xAA, 0x12, 0x03}, ToBytes("abc"), {0x00}, ToBytes("zzz")})),
       "abc"},
      {"NoTwelveNearTheMarker",
       sample::GzipBytes(Message({kTextMarker, {0x85, 0xAA, 0xAA, 0xAA}, ToBytes("note"), {0x00}})), "note"},
      {"DeclaredLengthBeyondTheEnd",
       sample::GzipBytes(Message({kTextMarker, {0x05, 0x12, 0x40}, ToBytes("abcd"), {0x00, 0x01}})), "abcd"},
      {"DamagedUtf8Repaired", sample::GzipBytes(Message({kTextMarker, {0x05, 0x12, 0x03, 'a', 0xFF, 'b', 0x00}})),
       "a\xEF\xBF\xBD"
       "b"},
  };
}

class NoteTexts : public ::testing::TestWithParam<TextCase> {};

TEST_P(NoteTexts, ExtractNoteTextFindsTheTextOrNone) {
  const TextCase& param = GetParam();
  EXPECT_EQ(ExtractNoteText(param.blob), param.text);
}

TEST(ExtractNoteText, AStreamThatBreaksOffGivesTheTextInflatedUpToThere) {
  Bytes blob = sample::NoteDataBlob(LongText());
  blob.resize(blob.size() * 2 / 3);
  const std::optional<std::string> text = ExtractNoteText(blob);
  ASSERT_TRUE(text.has_value());
  ASSERT_GT(text->size(), 3u);
  EXPECT_LT(text->size(), LongText().size());
  // A start of the text, but for a character the cut may have split.
  EXPECT_EQ(LongText().rfind(text->substr(0, text->size() - 3), 0), 0u);
}

INSTANTIATE_TEST_SUITE_P(Blobs, NoteTexts, ::testing::ValuesIn(TextCases()),
                         [](const auto& textCase) { return std::string(textCase.param.name); });

TEST(GunzipBytes, GivesNothingForEmptyOrForeignInputAndStopsAtTheBound) {
  EXPECT_TRUE(GunzipBytes({}).empty());
  EXPECT_TRUE(GunzipBytes(ToBytes("x")).empty());
  EXPECT_EQ(GunzipBytes(sample::GzipBytes(ToBytes("hello"))), ToBytes("hello"));

  // A small blob that inflates to more than the bound is cut there.
  const Bytes zeros(kMaxInflatedBytes + 4096, 0);
  const Bytes bomb = sample::GzipBytes(zeros);
  ASSERT_LT(bomb.size(), 200u * 1024);
  const Bytes inflated = GunzipBytes(bomb);
  EXPECT_EQ(inflated.size(), kMaxInflatedBytes);
}

TEST(NoteKey, IsTheIdAndTheBodysFirst256CharactersKeptApart) {
  DBITEM_Note note;
  note.noteId = 12;
  note.body = "3 eggs";
  DBITEM_Note other;
  other.noteId = 1;
  other.body = "23 eggs";
  EXPECT_NE(NoteKey(note), NoteKey(other));
  EXPECT_EQ(NoteKey(note), std::string("12\0"
                                       "3 eggs",
                                       9));

  // 255 characters and then one outside the basic plane: the pair is not cut.
  note.body = std::string(255, 'a') + "\xF0\x9F\x98\x80" + "tail";
  EXPECT_EQ(NoteKey(note), std::string("12\0", 3) + std::string(255, 'a'));
  note.body = std::string(300, 'b');
  EXPECT_EQ(NoteKey(note), std::string("12\0", 3) + std::string(256, 'b'));
}

// ---- NoteStore.sqlite ----

// A ZICNOTEDATA row whose note object is gone: its text comes last.
std::string DataOnlyRowSql() {
  const Bytes blob = sample::NoteDataBlob("孤立的笔记正文");
  std::string hex;
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (const std::uint8_t byte : blob) {
    hex += kHex[byte >> 4];
    hex += kHex[byte & 0x0F];
  }
  return "INSERT INTO ZICNOTEDATA VALUES (60, 18, 1, 99, NULL, NULL, X'" + hex + "');\n";
}

struct ShapeCase {
  const char* name;
  NoteStoreShape shape;
  int columns;
  // The table of a numbered layout rebuilds the deleted note object as a
  // note of its own; any other gives one note of the object row and its
  // data row.
  bool objectApart;
};
void PrintTo(const ShapeCase& shapeCase, std::ostream* out) { *out << shapeCase.name; }

class NoteStoreShapes : public ::testing::TestWithParam<ShapeCase> {};

TEST_P(NoteStoreShapes, ListsRecoveredThenMarkedThenLiveThenDataOnlyNotes) {
  const ShapeCase& param = GetParam();
  const platform::TempFolder folder("velmora-notes");
  const sample::SampleNoteStore store = sample::SampleNoteStoreContent();
  const sample::NoteStoreSqlParts sql = sample::NoteStoreSql(param.shape, store);
  const sample::SqliteFile database(sql.setup + sql.recent + DataOnlyRowSql() + sql.deletions);
  const std::string path = WriteDatabase(folder, "NoteStore.sqlite", database);

  NoteCollection collection;
  CIphoneNoteDB reader(nullptr, collection);
  ASSERT_TRUE(reader.Open(path, kNoteStoreFormat).Ok());
  reader.Close();
  EXPECT_EQ(reader.ObjectColumnCount(), param.columns);

  std::vector<std::string> expected = {
      // The deleted note: its text from ZICNOTEDATA, and from its object
      // row (apart) the title followed by the snippet.
      "生日礼物\n妈妈 围巾\n爸爸 茶叶",
  };
  if (param.objectApart) expected.push_back("生日礼物妈妈 围巾");
  const std::vector<std::string> rest = {
      "车位\nB2 区 117\n月租 600",  // in Recently Deleted; in the trash, the later row first
      "待办\n交电费\n取快递",       // marked for deletion
      "旧地址\n朝阳区建国路 88 号",
      "购物清单\n牛奶 两盒\n鸡蛋 一打\n苹果",
      "周一例会纪要\n一、上周进度回顾：客户端新版本已提交审核，服务端迁移完成百分之八十。\n"
      "二、本周安排：周三前完成支付模块联调，周五发布测试版。",
      "旅行计划\n杭州 三天两晚\n西湖 灵隐寺",  // what stood before the title is gone
      "已加密",                                 // locked: the text is encrypted
      "Flight CA1501\nPEK-SHA 08:30, seat 32A",
      "\r\nSF1234567890",  // no text fetched: only the snippet
      "孤立的笔记正文",
  };
  expected.insert(expected.end(), rest.begin(), rest.end());
  const std::vector<DBITEM_Note*>& notes = collection.Records();
  ASSERT_EQ(Bodies(notes), expected);

  const std::size_t recovered = param.objectApart ? 2 : 1;
  for (std::size_t i = 0; i < notes.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(notes[i]->deleted, i < recovered + 3 ? 1 : 0);
    EXPECT_TRUE(notes[i]->attachments.empty());  // no backup index to find files with
  }
  EXPECT_EQ(notes[0]->noteId, sample::NotePk(store, 6));
  if (param.objectApart) {
    // Rebuilt from ZICNOTEDATA: the note's id, no title or time.
    EXPECT_TRUE(notes[0]->titleText.empty());
    EXPECT_EQ(notes[0]->time, 0);
    EXPECT_EQ(notes[1]->noteId, sample::NotePk(store, 6));  // ZCLOUDSTATE
    EXPECT_EQ(notes[1]->time, 1604907700);                  // whole seconds, as Unix seconds
  } else {
    // The object row gives the title, snippet and date, its data row the text.
    EXPECT_EQ(notes[0]->titleText, "生日礼物");
    EXPECT_EQ(notes[0]->snippet, "妈妈 围巾");
    EXPECT_EQ(notes[0]->time, 1604907700);
    EXPECT_EQ(notes[0]->deletedFrom, db::BaseItem::DeletedFrom::kFreeSpace);
  }
  const DBITEM_Note& marked = *notes[recovered + 1];
  EXPECT_EQ(marked.titleText, "待办");
  EXPECT_EQ(marked.snippet, "交电费");
  EXPECT_EQ(marked.time, 1604807300);
  EXPECT_EQ(marked.createdValue, 626500000);
  EXPECT_EQ(marked.entity, sample::kNoteEntity);
  const DBITEM_Note& shopping = *notes[recovered + 3];
  EXPECT_EQ(shopping.noteId, sample::NotePk(store, 0));  // ZNOTE of its data row
  EXPECT_EQ(shopping.pk, 1);                             // the data row's Z_PK
  EXPECT_EQ(shopping.noteDataId, 1);
  EXPECT_EQ(shopping.Title(), shopping.body);
  const DBITEM_Note& dataOnly = *notes.back();
  EXPECT_EQ(dataOnly.noteId, 99);
  EXPECT_EQ(dataOnly.pk, 60);
  EXPECT_TRUE(dataOnly.titleText.empty());

  // Opening again starts afresh.
  ASSERT_TRUE(reader.Open(path, kNoteStoreFormat).Ok());
  EXPECT_EQ(Bodies(collection.Records()), expected);
}

const DBITEM_Note* FindTitled(const std::vector<DBITEM_Note*>& notes, const std::string& title) {
  const auto it = std::find_if(notes.begin(), notes.end(), [&](const DBITEM_Note* n) { return n->titleText == title; });
  return it == notes.end() ? nullptr : *it;
}

TEST_P(NoteStoreShapes, NotesInRecentlyDeletedAreDeletedAndLockedNotesShowOnlyTheirMark) {
  const platform::TempFolder folder("velmora-notes");
  const std::unique_ptr<sample::SqliteFile> database =
      sample::NoteStoreDatabase(GetParam().shape, sample::SampleNoteStoreContent());
  const std::string path = WriteDatabase(folder, "NoteStore.sqlite", *database);
  NoteCollection collection;
  CIphoneNoteDB reader(nullptr, collection);
  ASSERT_TRUE(reader.Open(path, kNoteStoreFormat).Ok());
  const std::vector<DBITEM_Note*>& notes = collection.Records();

  // Only moved to the trash folder (the folder's row comes after the
  // note's): deleted, dated by the move.
  const DBITEM_Note* trashed = FindTitled(notes, "车位");
  ASSERT_NE(trashed, nullptr);
  EXPECT_EQ(trashed->deleted, 1);
  EXPECT_EQ(trashed->deletedFrom, db::BaseItem::DeletedFrom::kRecentlyDeleted);
  EXPECT_DOUBLE_EQ(trashed->deletedAt, 626800200.5 + sample::kTrashMoveSeconds + 978307200);
  EXPECT_EQ(trashed->time, 1605107400);
  // Marked for deletion in an ordinary folder: dated by its modification.
  const DBITEM_Note* marked = FindTitled(notes, "待办");
  ASSERT_NE(marked, nullptr);
  EXPECT_EQ(marked->deletedFrom, db::BaseItem::DeletedFrom::kRecentlyDeleted);
  EXPECT_EQ(marked->deletedAt, marked->time);
  // Rebuilt notes were found in free space; when their deletion was is
  // not known.
  ASSERT_EQ(notes.front()->titleText, GetParam().objectApart ? "" : "生日礼物");
  EXPECT_EQ(notes.front()->deletedFrom, db::BaseItem::DeletedFrom::kFreeSpace);
  EXPECT_EQ(notes.front()->deletedAt, 0);

  const DBITEM_Note* locked = FindTitled(notes, "银行卡");
  ASSERT_NE(locked, nullptr);
  EXPECT_TRUE(locked->locked);
  EXPECT_EQ(locked->deleted, 0);
  EXPECT_EQ(locked->body, kLockedNoteMark);
  EXPECT_EQ(locked->Title(), "银行卡 已加密");
  EXPECT_EQ(locked->time, 1604607200);
  EXPECT_GT(locked->noteDataId, 0);  // it has its data row; only its text is unreadable
  for (const DBITEM_Note* note : notes) {
    EXPECT_EQ(note->body.find("6222"), std::string::npos);
    if (note != locked) {
      EXPECT_FALSE(note->locked) << note->titleText;
      EXPECT_EQ(note->Title(), note->body);
    }
  }
  const std::string csv = CsvOf(collection.Items());
  EXPECT_NE(csv.find("\"银行卡\",2020-11-06 04:13:20 ,\"已加密\"\r\n"), std::string::npos) << csv;
}

// A store from before the trash folder, the lock and the media rows (the
// columns are missing, not empty): its notes read as they always did.
TEST(CIphoneNoteDB, AStoreWithoutTheNewerColumnsListsItsNotesUnmarked) {
  const std::string blob = [] {
    std::string hex;
    for (const std::uint8_t byte : sample::NoteDataBlob("草稿\n第一行")) {
      static constexpr char kHex[] = "0123456789ABCDEF";
      hex += kHex[byte >> 4];
      hex += kHex[byte & 0x0F];
    }
    return hex;
  }();
  const sample::SqliteFile database(
      "CREATE TABLE ZICCLOUDSYNCINGOBJECT ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, "
      "ZMARKEDFORDELETION INTEGER, ZNOTE INTEGER, ZFOLDER INTEGER, ZNOTEDATA INTEGER, ZCREATIONDATE1 TIMESTAMP, "
      "ZMODIFICATIONDATE1 TIMESTAMP, ZIDENTIFIER VARCHAR, ZTITLE1 VARCHAR, ZTITLE2 VARCHAR );\n"
      "CREATE TABLE ZICNOTEDATA ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZNOTE INTEGER, "
      "ZCRYPTOINITIALIZATIONVECTOR BLOB, ZCRYPTOTAG BLOB, ZDATA BLOB );\n"
      "INSERT INTO ZICCLOUDSYNCINGOBJECT VALUES (1, 9, 1, 0, NULL, NULL, NULL, NULL, NULL, 'F1', NULL, 'Notes');\n"
      "INSERT INTO ZICCLOUDSYNCINGOBJECT VALUES (2, 8, 1, 0, NULL, 1, 1, 500000000.5, 500000100.5, 'N1', '草稿', NULL);\n"
      "INSERT INTO ZICNOTEDATA VALUES (1, 10, 1, 2, NULL, NULL, X'" + blob + "');\n");
  const platform::TempFolder folder("velmora-notes");
  const std::string path = WriteDatabase(folder, "NoteStore.sqlite", database);
  NoteCollection collection;
  CIphoneNoteDB reader(nullptr, collection);
  ASSERT_TRUE(reader.Open(path, kNoteStoreFormat).Ok());
  ASSERT_EQ(collection.Records().size(), 1u);
  const DBITEM_Note& note = *collection.Records()[0];
  EXPECT_EQ(note.body, "草稿\n第一行");
  EXPECT_EQ(note.deleted, 0);
  EXPECT_FALSE(note.locked);
  EXPECT_EQ(note.folderId, 1);
  EXPECT_EQ(note.time, 1478307300);
}

INSTANTIATE_TEST_SUITE_P(Shapes, NoteStoreShapes,
                         ::testing::Values(ShapeCase{"Recoverable106Columns", NoteStoreShape::k106Columns, 106, true},
                                           ShapeCase{"Ios17", NoteStoreShape::kIos17, 201, false}),
                         [](const auto& shapeCase) { return std::string(shapeCase.param.name); });

// The deleted notes of the iOS 17 table, each behind more than 127 objects
// (its keys take two bytes): two whose rows the main file keeps, and one
// written and deleted after the last checkpoint, whose rows only older
// frames of the log keep. A live note rewritten after the checkpoint leaves
// its older versions in the log too; they are no deleted notes.
TEST(CIphoneNoteDB, Ios17DeletedNotesComeBackOnceWithTheirTextsFromTheFileAndTheLog) {
  sample::SampleNoteStore store = sample::SampleNoteStoreContent();
  for (int i = 0; i < 130; ++i) {
    const std::string title = "便签 " + std::to_string(i);
    const std::string snippet = "第 " + std::to_string(i) + " 条";
    store.notes.push_back({title, snippet, title + "\n" + snippet, true, 625000000.5 + i, 625000100.5 + i});
  }
  store.notes.push_back({"年终总结", "一、业绩", "年终总结\n一、业绩\n二、计划", true, 627000000.5, 627000300.5, false, true});
  store.notes.push_back(
      {"年会节目", "合唱 黄河颂", "年会节目\n合唱 黄河颂\n彩排 周五", true, 627100000.5, 627100200.5, false, true, true});
  ASSERT_GT(sample::NotePk(store, store.notes.size() - 2), 127);
  const sample::NoteStoreSqlParts sql = sample::NoteStoreSql(NoteStoreShape::kIos17, store);
  const std::string shopping = std::to_string(sample::NotePk(store, 0));
  const std::string rewrite =
      "UPDATE ZICCLOUDSYNCINGOBJECT SET ZTITLE1 = '购物清单（已买）', ZSNIPPET = '牛奶 三盒', Z_OPT = Z_OPT + 1 "
      "WHERE Z_PK = " + shopping + ";\nUPDATE ZICNOTEDATA SET ZDATA = " +
      sample::SqlBlob(sample::NoteDataBlob("购物清单（已买）\n牛奶 三盒")) + " WHERE ZNOTE = " + shopping + ";\n";
  // The deletions run before the checkpoint and again after the recent
  // notes (a DELETE of a row not yet written deletes nothing).
  const sample::SqliteFile database(sql.setup + sql.deletions, sql.recent + rewrite + sql.deletions,
                                    sample::SqliteFile::Journal::kWalPending);
  const platform::TempFolder folder("velmora-notes");
  const std::string path = WriteDatabase(folder, "NoteStore.sqlite", database);
  NoteCollection collection;
  CIphoneNoteDB reader(nullptr, collection);
  ASSERT_TRUE(reader.Open(path, kNoteStoreFormat).Ok());
  const std::vector<DBITEM_Note*>& notes = collection.Records();

  struct Rebuilt {
    std::size_t index;  // in store.notes
    const char* title;
    const char* body;
    double time;
    db::BaseItem::DeletedFrom from;
  };
  const Rebuilt rebuilt[] = {
      {6, "生日礼物", "生日礼物\n妈妈 围巾\n爸爸 茶叶", 1604907700, db::BaseItem::DeletedFrom::kFreeSpace},
      {store.notes.size() - 2, "年终总结", "年终总结\n一、业绩\n二、计划", 1605307500,
       db::BaseItem::DeletedFrom::kFreeSpace},
      {store.notes.size() - 1, "年会节目", "年会节目\n合唱 黄河颂\n彩排 周五", 1605407400,
       db::BaseItem::DeletedFrom::kWal},
  };
  for (const Rebuilt& expected : rebuilt) {
    SCOPED_TRACE(expected.title);
    const auto count = std::count_if(notes.begin(), notes.end(), [&](const DBITEM_Note* note) {
      return note->titleText == expected.title || note->body.find(expected.title) != std::string::npos;
    });
    ASSERT_EQ(count, 1);
    const DBITEM_Note* note = FindTitled(notes, expected.title);
    ASSERT_NE(note, nullptr);
    EXPECT_EQ(note->deleted, 1);
    EXPECT_EQ(note->deletedFrom, expected.from);
    EXPECT_EQ(note->body, expected.body);
    EXPECT_EQ(note->time, expected.time);
    EXPECT_EQ(note->noteId, sample::NotePk(store, expected.index));
  }
  // The rest are the live notes and those in the trash; the rewritten note
  // once, as it now reads.
  std::size_t live = 0;
  std::size_t trashed = 0;
  for (const sample::SampleNote& note : store.notes) {
    if (note.deleted) continue;
    (note.markedForDeletion || note.inTrash ? trashed : live) += 1;
  }
  EXPECT_EQ(notes.size(), std::size(rebuilt) + trashed + live);
  EXPECT_EQ(std::count_if(notes.begin(), notes.end(), [](const DBITEM_Note* note) { return note->deleted == 0; }),
            static_cast<std::ptrdiff_t>(live));
  for (const DBITEM_Note* note : notes) {
    if (note->body.find("购物清单") == std::string::npos) continue;
    EXPECT_EQ(note->deleted, 0);
    EXPECT_EQ(note->body, "购物清单（已买）\n牛奶 三盒");
  }
}

TEST(CIphoneNoteDB, SampleShapesHaveTheColumnsTheLayoutsRead) {
  const std::vector<std::string> names = sample::NoteObjectColumnNames(NoteStoreShape::k106Columns);
  ASSERT_EQ(names.size(), 106u);
  EXPECT_EQ(names[10], "ZCLOUDSTATE");
  EXPECT_EQ(names[64], "ZMODIFICATIONDATE1");
  EXPECT_EQ(names[67], "ZIDENTIFIER");
  EXPECT_EQ(names[80], "ZTITLE1");
  EXPECT_EQ(names[82], "ZSNIPPET");
  EXPECT_EQ(sample::NoteObjectColumns(NoteStoreShape::kIos17), 201);
}

TEST(CIphoneNoteDB, MissingOrDamagedStoresGiveNoNotesAndNoCrash) {
  const platform::TempFolder folder("velmora-notes");
  NoteCollection collection;
  CIphoneNoteDB missing(nullptr, collection);
  EXPECT_FALSE(missing.Open((folder.Path() / "NoteStore.sqlite").string(), kNoteStoreFormat).Ok());
  EXPECT_TRUE(collection.Records().empty());
  EXPECT_FALSE(fs::exists(folder.Path() / "NoteStore.sqlite"));

  // Every note data blob damaged in the middle, then the first page torn off.
  const std::unique_ptr<sample::SqliteFile> database =
      sample::NoteStoreDatabase(NoteStoreShape::k106Columns, sample::SampleNoteStoreContent());
  Bytes bytes = database->DatabaseBytes();
  const Bytes gzipStart = {0x1F, 0x8B, 0x08};
  std::size_t damaged = 0;
  for (auto at = std::search(bytes.begin(), bytes.end(), gzipStart.begin(), gzipStart.end()); at != bytes.end();
       at = std::search(at + 1, bytes.end(), gzipStart.begin(), gzipStart.end())) {
    for (std::size_t k = 12; k < 40 && at + static_cast<std::ptrdiff_t>(k) < bytes.end(); ++k)
      at[static_cast<std::ptrdiff_t>(k)] ^= 0x5A;
    ++damaged;
  }
  ASSERT_GT(damaged, 5u);
  const fs::path path = folder.Path() / "damaged.sqlite";
  sample::WriteBytes(path, bytes);
  CIphoneNoteDB reader(nullptr, collection);
  ASSERT_TRUE(reader.Open(path.string(), kNoteStoreFormat).Ok());
  // The notes are there with their titles; no text came out of the blobs.
  ASSERT_FALSE(collection.Records().empty());
  for (const DBITEM_Note* note : collection.Records()) {
    EXPECT_EQ(note->body.find("鸡蛋"), std::string::npos) << note->body;
  }

  std::fill(bytes.begin(), bytes.begin() + 4096, std::uint8_t{0x01});
  sample::WriteBytes(path, bytes);
  CIphoneNoteDB torn(nullptr, collection);
  torn.Open(path.string(), kNoteStoreFormat);
  EXPECT_EQ(torn.ObjectColumnCount(), 0);
}

// ---- attachments, through a backup ----

struct AttachmentCase {
  const char* name;
  sample::BackupMode mode;
  bool attachmentsFirst;
};
void PrintTo(const AttachmentCase& attachmentCase, std::ostream* out) { *out << attachmentCase.name; }

class NoteAttachments : public ::testing::TestWithParam<AttachmentCase> {};

TEST_P(NoteAttachments, EachAttachmentObjectGivesTheFirstFileHoldingItsIdentifier) {
  sample::SampleNoteStore store = sample::SampleNoteStoreContent();
  const std::string secondId = "0B7A4C2E-5D61-4E8F-A3B9-7C1D2E3F4A5B";
  store.attachments = {
      {0, sample::kSampleAttachmentId, "public.png"},
      {0, secondId, "public.jpeg"},
      // Identifiers that are no pattern: "_" and "%" stand for themselves,
      // and a missing one names no file.
      {1, "9_1%", "public.png"},
      {2, "", "public.png"},
  };
  store.attachmentsFirst = GetParam().attachmentsFirst;
  const std::unique_ptr<sample::SqliteFile> database = sample::NoteStoreDatabase(NoteStoreShape::k106Columns, store);
  sample::SampleBackupBuilder builder;
  builder.AddDatabase(sample::kNoteStoreDomain, sample::kNoteStoreRelativePath, *database);
  builder.AddFile(sample::kNoteStoreDomain, sample::AttachmentPreviewPath(sample::kSampleAttachmentId),
                  sample::SamplePng());
  builder.AddFile(sample::kNoteStoreDomain, "Accounts/LocalAccount/Media/" + secondId + "/IMG_0412.jpeg",
                  ToBytes("jpeg"));
  builder.AddFile(sample::kNoteStoreDomain, "Accounts/LocalAccount/Media/" + secondId + "/IMG_0413.jpeg",
                  ToBytes("jpeg2"));
  // Would match "9_1%" as a LIKE pattern.
  builder.AddFile(sample::kNoteStoreDomain, "Accounts/LocalAccount/Previews/9X1-0000.png", sample::SamplePng());
  const platform::TempFolder folder("velmora-notes");
  builder.Write(folder.Path(), GetParam().mode);

  backup::CFileListDB index;
  ASSERT_TRUE(index.Open(folder.Path().string(), -1).Ok());
  NoteCollection collection(&index);
  LoadNotes(collection, index);
  const auto& notes = collection.Records();
  const auto find = [&notes](const std::string& title) {
    const auto it =
        std::find_if(notes.begin(), notes.end(), [&](const DBITEM_Note* n) { return n->titleText == title; });
    return it == notes.end() ? nullptr : *it;
  };
  const DBITEM_Note* shopping = find("购物清单");
  ASSERT_NE(shopping, nullptr);
  ASSERT_EQ(shopping->attachments.size(), 2u);
  EXPECT_TRUE(fs::is_regular_file(shopping->attachments[0]));
  EXPECT_TRUE(fs::is_regular_file(shopping->attachments[1]));
  std::ifstream second(shopping->attachments[1], std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(second), {}), "jpeg");  // the first file found
  if (GetParam().mode == sample::BackupMode::kFolder) {
    EXPECT_NE(shopping->attachments[0].find(sample::kSampleAttachmentId), std::string::npos);
  }
  for (const char* title : {"周一例会纪要", "旅行计划"}) {
    ASSERT_NE(find(title), nullptr);
    EXPECT_TRUE(find(title)->attachments.empty()) << title;
  }
}

INSTANTIATE_TEST_SUITE_P(Backups, NoteAttachments,
                         ::testing::Values(AttachmentCase{"ManifestDb", sample::BackupMode::kManifestDb, false},
                                           AttachmentCase{"ManifestDbAttachmentRowsFirst",
                                                          sample::BackupMode::kManifestDb, true},
                                           AttachmentCase{"Mbdb", sample::BackupMode::kManifestMbdb, false},
                                           AttachmentCase{"Folder", sample::BackupMode::kFolder, false}),
                         [](const auto& attachmentCase) { return std::string(attachmentCase.param.name); });

struct OriginalCase {
  const char* name;
  sample::BackupMode mode;
  NoteStoreShape shape;  // k106Columns has no ZFILENAME: the file is known by its place alone
};
void PrintTo(const OriginalCase& originalCase, std::ostream* out) { *out << originalCase.name; }

class NoteAttachmentOriginals : public ::testing::TestWithParam<OriginalCase> {};

TEST_P(NoteAttachmentOriginals, AreTheFilesTheMediaRowsNameWithOrWithoutAGenerationFolder) {
  const std::string mediaFolder = "Accounts/LocalAccount/Media/";
  sample::SampleNoteStore store = sample::SampleNoteStoreContent();
  store.attachments = {
      // In a generation folder, beside a deeper file that is not the original.
      {0, sample::kSampleAttachmentId, "public.jpeg", sample::kSampleMediaId, "IMG_0415.jpeg",
       "B1C2D3E4-F5A6-4B7C-8D9E-0F1A2B3C4D5E"},
      // Directly in the media's folder.
      {1, "5E0D1C2B-3A49-4F58-8E67-7D6C5B4A3928", "com.adobe.pdf", "2F3E4D5C-6B7A-4899-A0B1-C2D3E4F5A6B7", "Scan.pdf",
       ""},
      // The original is not in the backup: the attachment's preview stands in.
      {2, "7A8B9C0D-1E2F-4A3B-8C4D-5E6F7A8B9C0D", "public.jpeg", "0C1D2E3F-4A5B-4C6D-9E7F-8A9B0C1D2E3F",
       "IMG_0500.jpeg", "G1"},
      // A media identifier with LIKE's wildcards names only its own folder.
      {4, "", "public.png", "9_1%", "x.png", ""},
  };
  const sample::SampleAttachment& inGeneration = store.attachments[0];
  const sample::SampleAttachment& direct = store.attachments[1];
  const std::unique_ptr<sample::SqliteFile> database = sample::NoteStoreDatabase(GetParam().shape, store);
  sample::SampleBackupBuilder builder;
  builder.AddDatabase(sample::kNoteStoreDomain, sample::kNoteStoreRelativePath, *database);
  builder.AddFile(sample::kNoteStoreDomain, mediaFolder + inGeneration.mediaIdentifier + "/" + inGeneration.generation +
                                                "/Markup/IMG_0415.jpeg",
                  ToBytes("too deep"));
  builder.AddFile(sample::kNoteStoreDomain, sample::MediaOriginalPath(inGeneration), ToBytes("original jpeg"));
  builder.AddFile(sample::kNoteStoreDomain, sample::MediaOriginalPath(direct), ToBytes("%PDF-1.7 scan"));
  builder.AddFile(sample::kNoteStoreDomain, sample::AttachmentPreviewPath(store.attachments[2].identifier),
                  sample::SamplePng());
  builder.AddFile(sample::kNoteStoreDomain, mediaFolder + "9X1Y/x.png", sample::SamplePng());
  const platform::TempFolder folder("velmora-notes");
  builder.Write(folder.Path(), GetParam().mode);

  backup::CFileListDB index;
  ASSERT_TRUE(index.Open(folder.Path().string(), -1).Ok());
  NoteCollection collection(&index);
  LoadNotes(collection, index);
  const std::vector<DBITEM_Note*>& notes = collection.Records();
  const DBITEM_Note* shopping = FindTitled(notes, "购物清单");
  const DBITEM_Note* minutes = FindTitled(notes, "周一例会纪要");
  const DBITEM_Note* travel = FindTitled(notes, "旅行计划");
  const DBITEM_Note* oldAddress = FindTitled(notes, "旧地址");
  ASSERT_TRUE(shopping && minutes && travel && oldAddress);
  ASSERT_EQ(shopping->attachments.size(), 1u);
  EXPECT_EQ(FileText(shopping->attachments[0]), "original jpeg");
  ASSERT_EQ(minutes->attachments.size(), 1u);
  EXPECT_EQ(FileText(minutes->attachments[0]), "%PDF-1.7 scan");
  ASSERT_EQ(travel->attachments.size(), 1u);
  const Bytes png = sample::SamplePng();
  EXPECT_EQ(FileText(travel->attachments[0]), std::string(png.begin(), png.end()));
  EXPECT_TRUE(oldAddress->attachments.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Backups, NoteAttachmentOriginals,
    ::testing::Values(OriginalCase{"ManifestDbIos17", sample::BackupMode::kManifestDb, NoteStoreShape::kIos17},
                      OriginalCase{"MbdbIos17", sample::BackupMode::kManifestMbdb, NoteStoreShape::kIos17},
                      OriginalCase{"FolderIos17", sample::BackupMode::kFolder, NoteStoreShape::kIos17},
                      OriginalCase{"ManifestDb106Columns", sample::BackupMode::kManifestDb, NoteStoreShape::k106Columns},
                      OriginalCase{"Mbdb106Columns", sample::BackupMode::kManifestMbdb, NoteStoreShape::k106Columns},
                      OriginalCase{"Folder106Columns", sample::BackupMode::kFolder, NoteStoreShape::k106Columns}),
    [](const auto& originalCase) { return std::string(originalCase.param.name); });

// ---- LoadNotes over a whole backup ----

TEST(LoadNotes, ReadsBothFilesOfABackupWithTheNewestRowsOfTheLog) {
  sample::SampleBackupBuilder builder;
  sample::AddNotesApps(builder);
  const platform::TempFolder folder("velmora-notes");
  builder.Write(folder.Path(), sample::BackupMode::kManifestDb);

  backup::CFileListDB index;
  ASSERT_TRUE(index.Open(folder.Path().string(), -1).Ok());
  NoteCollection collection(&index);
  sample::ProgressRecorder progress;
  EXPECT_EQ(LoadNotes(collection, index, progress.Progress()), 1);
  EXPECT_EQ(progress.Values(), (std::vector<int>{10, 50, 60, 90}));
  ASSERT_NE(collection.NotesSqliteReader(), nullptr);
  ASSERT_NE(collection.NoteStoreReader(), nullptr);

  const std::vector<DBITEM_Note*>& notes = collection.Records();
  const std::vector<std::string> titles = [&notes] {
    std::vector<std::string> out;
    for (const DBITEM_Note* note : notes) {
      out.push_back(note->titleText.empty() ? db::LeftUtf16(note->body, 5) : note->titleText);
    }
    return out;
  }();
  // Recovered, marked for deletion, notes.sqlite, live NoteStore notes with
  // the one written last, which only the -wal file holds.
  EXPECT_EQ(titles, (std::vector<std::string>{"生日礼物\n", "生日礼物妈", "车位", "待办", "旧地址", "买菜\n土豆",
                                              "Wi-Fi", "购物清单", "周一例会纪要", "旅行计划", "银行卡",
                                              "Flight CA1501", "快递"}));
  EXPECT_EQ(notes[5]->body, "买菜\n土豆 两斤\n西红柿");  // stored as HTML
  EXPECT_EQ(notes[5]->noteId, 1);  // ZOWNER
  // The photo's original, not its preview.
  ASSERT_EQ(notes[7]->attachments.size(), 1u);
  const Bytes jpeg = sample::SampleJpeg(7);
  EXPECT_EQ(FileText(notes[7]->attachments[0]), std::string(jpeg.begin(), jpeg.end()));

  // The CSV: ZTITLE1 or the body's first 16 characters, the time, the body.
  const std::string csv = CsvOf(collection.Items());
  EXPECT_EQ(csv.substr(0, csv.find("\r\n") + 2), "标题,日期,备注\r\n");
  EXPECT_NE(csv.find("\"待办\",2020-11-08 11:48:20 ,\"待办\n交电费\n取快递\"\r\n"), std::string::npos) << csv;
  EXPECT_NE(csv.find("\"Wi-Fi password\nh\",2001-01-01 08:00:00 ,\"Wi-Fi password\nhome: lin2014， "
                     "\"\"guest\"\": 88886666\"\r\n"),
            std::string::npos)
      << csv;
  EXPECT_NE(csv.find("\"Flight CA1501\",2020-11-10 19:20:00 ,\"Flight CA1501\nPEK-SHA 08:30， seat 32A\"\r\n"),
            std::string::npos)
      << csv;
}

class LoadNotesForms : public ::testing::TestWithParam<sample::BackupMode> {};

// What the demo's notes hold beyond plain text, found alike in every form.
TEST_P(LoadNotesForms, FindsTheTrashedAndLockedNotesAndTheOriginalInEveryForm) {
  sample::SampleBackupBuilder builder;
  sample::AddNotesApps(builder);
  const platform::TempFolder folder("velmora-notes");
  builder.Write(folder.Path(), GetParam());
  backup::CFileListDB index;
  ASSERT_TRUE(index.Open(folder.Path().string(), -1).Ok());
  NoteCollection collection(&index);
  LoadNotes(collection, index);
  const std::vector<DBITEM_Note*>& notes = collection.Records();
  ASSERT_EQ(notes.size(), 13u);

  const DBITEM_Note* trashed = FindTitled(notes, "车位");
  ASSERT_NE(trashed, nullptr);
  EXPECT_EQ(trashed->deleted, 1);
  EXPECT_EQ(trashed->deletedFrom, db::BaseItem::DeletedFrom::kRecentlyDeleted);
  const DBITEM_Note* locked = FindTitled(notes, "银行卡");
  ASSERT_NE(locked, nullptr);
  EXPECT_TRUE(locked->locked);
  EXPECT_EQ(locked->body, kLockedNoteMark);
  const DBITEM_Note* shopping = FindTitled(notes, "购物清单");
  ASSERT_NE(shopping, nullptr);
  ASSERT_EQ(shopping->attachments.size(), 1u);
  const Bytes jpeg = sample::SampleJpeg(7);
  EXPECT_EQ(FileText(shopping->attachments[0]), std::string(jpeg.begin(), jpeg.end()));
}

INSTANTIATE_TEST_SUITE_P(Backups, LoadNotesForms,
                         ::testing::Values(sample::BackupMode::kManifestDb, sample::BackupMode::kManifestMbdb,
                                           sample::BackupMode::kFolder),
                         [](const auto& mode) {
                           return mode.param == sample::BackupMode::kManifestDb     ? std::string("ManifestDb")
                                  : mode.param == sample::BackupMode::kManifestMbdb ? std::string("Mbdb")
                                                                                    : std::string("Folder");
                         });

TEST(NoteHtmlToText, KeepsTheLinesAndCharactersTheUserWrote) {
  const std::pair<const char*, const char*> cases[] = {
      {"买菜<div>土豆 两斤</div><div>西红柿</div>", "买菜\n土豆 两斤\n西红柿"},
      {"<div>Title</div><div><br></div><div>after a blank line</div>", "Title\n\nafter a blank line"},
      {"a &lt; b &amp;&amp; c&nbsp;&gt; d", "a < b && c > d"},
      {"&#20320;&#x597D; &#128512;", "你好 😀"},
      {"&unknown; &#xD800; &#0; & alone", "&unknown; &#xD800; &#0; & alone"},
      {"<B>bold</B><BR/>next<span style=\"x>y\">", "bold\nnext"},
      {"text with a cut-off <div", "text with a cut-off "},
      {"plain text", "plain text"},
  };
  for (const auto& [html, text] : cases) EXPECT_EQ(readers::NoteHtmlToText(html), text) << html;
}

TEST(LoadNotes, FindsNotesSqliteInAFolderBackupAndSkipsWhatIsMissing) {
  sample::SampleBackupBuilder builder;
  builder.AddDatabase(sample::kNotesSqliteDomain, sample::kNotesSqliteRelativePath,
                      sample::SqliteFile(sample::NotesSqliteSql(sample::SampleLegacyNotes())));
  const platform::TempFolder folder("velmora-notes");
  builder.Write(folder.Path(), sample::BackupMode::kFolder);

  backup::CFileListDB index;
  ASSERT_TRUE(index.Open(folder.Path().string(), -1).Ok());
  NoteCollection collection(&index);
  sample::ProgressRecorder progress;
  EXPECT_EQ(LoadNotes(collection, index, progress.Progress()), 1);
  EXPECT_EQ(progress.Values(), (std::vector<int>{10, 50}));
  EXPECT_EQ(collection.NoteStoreReader(), nullptr);
  ASSERT_EQ(collection.Records().size(), 2u);
  // No title and no time: the body's first 16 characters and 2001-01-01
  // 00:00 UTC in local time.
  EXPECT_EQ(CsvOf(collection.Items()),
            "标题,日期,备注\r\n"
            "\"买菜\n土豆 两斤\n西红柿\",2001-01-01 08:00:00 ,\"买菜\n土豆 两斤\n西红柿\"\r\n"
            "\"Wi-Fi password\nh\",2001-01-01 08:00:00 ,\"Wi-Fi password\nhome: lin2014， \"\"guest\"\": "
            "88886666\"\r\n");

  // A backup with neither file: no reader, no notes, no progress.
  const platform::TempFolder empty("velmora-notes");
  sample::SampleBackupBuilder nothing;
  nothing.AddText("HomeDomain", "Library/Preferences/a.plist", "<plist/>");
  nothing.Write(empty.Path(), sample::BackupMode::kManifestDb);
  backup::CFileListDB emptyIndex;
  ASSERT_TRUE(emptyIndex.Open(empty.Path().string(), -1).Ok());
  sample::ProgressRecorder none;
  EXPECT_EQ(LoadNotes(collection, emptyIndex, none.Progress()), 1);
  EXPECT_TRUE(collection.Records().empty());
  EXPECT_EQ(collection.NotesSqliteReader(), nullptr);
  EXPECT_TRUE(none.Values().empty());
}

TEST(WriteNotesCsv, WritesOneExactLinePerNote) {
  DBITEM_Note titled;
  titled.titleText = "Doe, \"JJ\"";
  titled.body = "Doe, \"JJ\"\nline two";
  titled.time = 1604807300;
  titled.deleted = 1;
  DBITEM_Note untitled;
  untitled.body = std::string(15, 'x') + "\xF0\x9F\x98\x80" + "after";  // a pair across the 16th unit
  DBITEM_Note empty;
  db::DBITEM_TbNameList notANote;
  EXPECT_EQ(CsvOf({&titled, &notANote, &untitled, &empty}),
            "标题,日期,备注\r\n"
            "\"Doe， \"\"JJ\"\"\",2020-11-08 11:48:20 ,\"Doe， \"\"JJ\"\"\nline two\"\r\n"
            "\"" +
                std::string(15, 'x') + "\",2001-01-01 08:00:00 ,\"" + std::string(15, 'x') + "\xF0\x9F\x98\x80" +
                "after\"\r\n"
                "\"\",2001-01-01 08:00:00 ,\"\"\r\n");
}

// ---- the real files ----

// Copies the real file (and its -wal) into folder, or nothing when absent.
std::optional<std::string> CopyRealFile(const platform::TempFolder& folder, const std::string& relative,
                                        const std::string& name) {
  const fs::path source = fs::path(VELMORA_SHARED_DIR) / relative;
  if (!fs::exists(source)) return std::nullopt;
  const fs::path copy = folder.Path() / name;
  for (const char* suffix : {"", "-wal"}) {
    const fs::path from(source.string() + suffix);
    if (!fs::exists(from)) continue;
    const fs::path to(copy.string() + suffix);
    fs::copy_file(from, to);
    fs::permissions(to, fs::perms::owner_read | fs::perms::owner_write);
  }
  return copy.string();
}

TEST(RealFiles, Ios7NotesSqliteHoldsNoNotes) {
  const platform::TempFolder folder("velmora-notes");
  const auto path = CopyRealFile(folder, "samples/OTAPKI-iphone/HomeDomain_Library_Notes_notes.sqlite", "notes.sqlite");
  if (!path) GTEST_SKIP() << "no real notes.sqlite";
  // sqlite3: SELECT count(*) FROM ZNOTEBODY gives 0, and so does ZNOTE.
  NoteCollection collection;
  CIphoneNoteDB reader(nullptr, collection);
  EXPECT_TRUE(reader.Open(*path, kNotesSqliteFormat).Ok());
  EXPECT_TRUE(collection.Records().empty());
}

TEST(RealFiles, Ios17NoteStoreWithItsLogListsItsFourteenNotes) {
  const platform::TempFolder folder("velmora-notes");
  const auto path =
      CopyRealFile(folder, "samples/iLEAPP-testdata/josh_ios17_Notes/NoteStore.sqlite", "NoteStore.sqlite");
  if (!path) GTEST_SKIP() << "no real NoteStore.sqlite";
  NoteCollection collection;
  CIphoneNoteDB reader(nullptr, collection);
  ASSERT_TRUE(reader.Open(*path, kNoteStoreFormat).Ok());
  reader.Close();
  EXPECT_EQ(reader.ObjectColumnCount(), 201);

  // sqlite3 on a copy with the log: 14 rows of Z_ENT 11 (ICNote), all with
  // ZCREATIONDATE1 NULL and ZCREATIONDATE3 set; Z_PK 42 and 43 have
  // ZMARKEDFORDELETION 1; all 14 have a ZICNOTEDATA row (42's ZDATA NULL,
  // six encrypted); the texts of the other seven are gzip.
  const std::vector<DBITEM_Note*>& notes = collection.Records();
  ASSERT_EQ(notes.size(), 14u);
  std::vector<std::string> titles;
  for (const DBITEM_Note* note : notes) titles.push_back(note->titleText);
  EXPECT_EQ(titles, (std::vector<std::string>{"", "New Note", "iOS 15 Note", "My First Note", "iOS 14 Note",
                                              "iOS 16 Note", "Secure iOS 15 Note", "iOS 14 Locked Note",
                                              "My Super Secret Note", "My Secret Note", "iOS 16 Secure Note",
                                              "My iOS 17 Note", "Shared iOS 17 Note", "iOS 17 Locked Note"}));
  EXPECT_EQ(notes[0]->deleted, 1);
  EXPECT_EQ(notes[1]->deleted, 1);
  for (std::size_t i = 2; i < notes.size(); ++i) EXPECT_EQ(notes[i]->deleted, 0) << i;
  EXPECT_EQ(notes[11]->body, "My iOS 17 Note\nTest note 1");
  EXPECT_EQ(notes[11]->time, 1722176479);
  EXPECT_EQ(notes[11]->createdValue, 743869250);  // ZCREATIONDATE3
  EXPECT_EQ(notes[4]->body.rfind("iOS 14 Note\n\nThis is a note created for iOS 14.", 0), 0u);
  // Z_OPT of Z_PK 43 is 4 in the main file and 6 after the log's frames:
  // the reader saw the log.
  EXPECT_EQ(notes[0]->pk, 18);  // its ZICNOTEDATA row
  EXPECT_EQ(notes[0]->optimisticLock, 6);
  const std::size_t withText = std::count_if(notes.begin(), notes.end(), [](const DBITEM_Note* n) {
    return !n->body.empty() && n->body.find('\n') != std::string::npos;
  });
  EXPECT_EQ(withText, 6u);
}

// The note the owner deletes last comes back from the real iOS 17 store
// (201 columns, the phone's own rows) with its title, date and text; the
// 13 others stay live, and nothing else is rebuilt.
TEST(RealFiles, Ios17NoteStoreGivesBackADeletedNoteAndNothingFalse) {
  const platform::TempFolder folder("velmora-notes");
  const auto path =
      CopyRealFile(folder, "samples/iLEAPP-testdata/josh_ios17_Notes/NoteStore.sqlite", "NoteStore.sqlite");
  if (!path) GTEST_SKIP() << "no real NoteStore.sqlite";
  const auto read = [&](std::vector<std::string>& rebuilt, std::vector<std::string>& live) {
    NoteCollection collection;
    CIphoneNoteDB reader(nullptr, collection);
    ASSERT_TRUE(reader.Open(*path, kNoteStoreFormat).Ok());
    reader.Close();
    for (const DBITEM_Note* note : collection.Records()) {
      if (note->deleted == 0) {
        live.push_back(note->titleText);
      } else if (note->deletedFrom != db::BaseItem::DeletedFrom::kRecentlyDeleted) {
        rebuilt.push_back(note->titleText + "|" + note->body + "|" + std::to_string(static_cast<std::int64_t>(note->time)));
      }
    }
  };
  std::vector<std::string> rebuilt;
  std::vector<std::string> live;
  read(rebuilt, live);
  EXPECT_TRUE(rebuilt.empty()) << rebuilt.front();
  ASSERT_EQ(live.size(), 12u);

  // sqlite3 on a copy: note 40 "My iOS 17 Note" (ZMODIFICATIONDATE1
  // 743869279.802478) has the ZICNOTEDATA row 15. Deleted after the last
  // checkpoint, as the phone would: its rows stay whole in the main file.
  sqlite3* connection = nullptr;
  ASSERT_EQ(sqlite3_open(path->c_str(), &connection), SQLITE_OK);
  sqlite3_db_config(connection, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
  EXPECT_EQ(sqlite3_exec(connection,
                         "PRAGMA secure_delete = OFF; DELETE FROM ZICNOTEDATA WHERE Z_PK = 15; "
                         "DELETE FROM ZICCLOUDSYNCINGOBJECT WHERE Z_PK = 40;",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(connection);
  const std::string deleted = "My iOS 17 Note|My iOS 17 Note\nTest note 1|1722176479";
  std::erase(live, "My iOS 17 Note");
  {
    std::vector<std::string> rebuiltNow;
    std::vector<std::string> liveNow;
    read(rebuiltNow, liveNow);
    EXPECT_EQ(rebuiltNow, std::vector<std::string>{deleted});
    EXPECT_EQ(liveNow, live);
  }
  // Checkpointed: SQLite moved the cells of the object row's page, and only
  // the text of the data row is left; nothing else comes out.
  ASSERT_EQ(sqlite3_open(path->c_str(), &connection), SQLITE_OK);
  EXPECT_EQ(sqlite3_wal_checkpoint_v2(connection, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(connection);
  std::vector<std::string> rebuiltNow;
  std::vector<std::string> liveNow;
  read(rebuiltNow, liveNow);
  EXPECT_EQ(liveNow, live);
  for (const std::string& note : rebuiltNow) {
    EXPECT_TRUE(note == deleted || note == "|My iOS 17 Note\nTest note 1|0") << note;
  }
}

// sqlite3 on a copy: folder Z_PK 2 is "TrashFolder-CloudKit" (ZFOLDERTYPE
// 1), holding notes 42 "New Note" and 43 (no title), both also marked for
// deletion; note 42's ZFOLDERMODIFICATIONDATE is 743869488.896382. Notes
// 35-39 and 44 have ZISPASSWORDPROTECTED 1 and an encrypted ZDATA.
TEST(RealFiles, Ios17NoteStoreGivesItsRecentlyDeletedNotesAndItsSixLockedNotes) {
  const platform::TempFolder folder("velmora-notes");
  const auto path =
      CopyRealFile(folder, "samples/iLEAPP-testdata/josh_ios17_Notes/NoteStore.sqlite", "NoteStore.sqlite");
  if (!path) GTEST_SKIP() << "no real NoteStore.sqlite";
  const std::vector<std::string> lockedTitles = {"Secure iOS 15 Note", "iOS 14 Locked Note", "My Super Secret Note",
                                                 "My Secret Note",     "iOS 16 Secure Note", "iOS 17 Locked Note"};
  const auto check = [&](const char* stage) {
    SCOPED_TRACE(stage);
    NoteCollection collection;
    CIphoneNoteDB reader(nullptr, collection);
    ASSERT_TRUE(reader.Open(*path, kNoteStoreFormat).Ok());
    reader.Close();
    const std::vector<DBITEM_Note*>& notes = collection.Records();
    ASSERT_EQ(notes.size(), 14u);
    std::vector<std::string> locked;
    for (const DBITEM_Note* note : notes) {
      if (note->locked) {
        locked.push_back(note->titleText);
        EXPECT_EQ(note->body, kLockedNoteMark);
      }
    }
    EXPECT_EQ(locked, lockedTitles);
    ASSERT_EQ(notes[1]->titleText, "New Note");
    for (std::size_t i = 0; i < notes.size(); ++i) {
      EXPECT_EQ(notes[i]->deleted, i < 2 ? 1 : 0) << i;
    }
    EXPECT_EQ(notes[1]->deletedFrom, db::BaseItem::DeletedFrom::kRecentlyDeleted);
    EXPECT_NEAR(notes[1]->deletedAt, 743869488.896382 + 978307200, 0.001);
  };
  check("as the phone left it");

  // Not yet purged: the folder alone says the notes are in the trash.
  sqlite3* connection = nullptr;
  ASSERT_EQ(sqlite3_open(path->c_str(), &connection), SQLITE_OK);
  EXPECT_EQ(sqlite3_exec(connection, "UPDATE ZICCLOUDSYNCINGOBJECT SET ZMARKEDFORDELETION = 0;", nullptr, nullptr,
                         nullptr),
            SQLITE_OK);
  sqlite3_close(connection);
  check("with no deletion marks");
}

}  // namespace
}  // namespace readers
