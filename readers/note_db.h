#pragma once
// The phone's notes (data category 8), from up to two databases:
//   notes.sqlite      the old notes app (HomeDomain, Library/Notes): one
//                     note per ZNOTEBODY row, its ZCONTENT as the text
//   NoteStore.sqlite  the notes app from iOS 9 on
//                     (AppDomainGroup-group.com.apple.notes): note objects
//                     of ZICCLOUDSYNCINGOBJECT (title, snippet, dates,
//                     folder, deletion and lock marks) joined with their
//                     ZICNOTEDATA rows, whose ZDATA holds the text
//                     gzip-compressed (encrypted for a locked note); plus
//                     notes rebuilt from deleted rows of both tables
// A note is deleted when it is marked for deletion or lies in a Recently
// Deleted folder (ZFOLDERTYPE 1), and locked when ZISPASSWORDPROTECTED is 1.
// Its attachment files are the originals the media rows name, else the
// attachment's previews. docs/formats/note_store.md has the details.
// NoteCollection keeps both readers and one list of notes, in this order:
// rebuilt notes (those of ZICNOTEDATA rows alone, then those of note
// objects, each in scan order), notes in the trash (newest table row first),
// notes of notes.sqlite, live NoteStore notes, then texts of ZICNOTEDATA
// rows that belong to no note object.
//
// Deleted rows of NoteStore.sqlite:
//   ZICNOTEDATA           by the layout made from the table's live shape
//                         (readers/live_table.h), its values by name: Z_PK,
//                         ZNOTE, ZDATA (the text unless the row is
//                         encrypted, ZCRYPTOINITIALIZATIONVECTOR set)
//   ZICCLOUDSYNCINGOBJECT of the 106, 119 or 134 columns of layouts 14-16,
//                         with ZCLOUDSTATE at 10, ZMODIFICATIONDATE1 at 64,
//                         ZTITLE1 at 80 and ZSNIPPET at 82: by that
//                         layout, the note's id, its modification time and
//                         its title followed by its snippet as the text; a
//                         note of its own beside the one its data row gives
//   ZICCLOUDSYNCINGOBJECT of any other shape (the iOS 17 table has 201
//                         columns): by the layout made from its live shape,
//                         the note rows (ICNote's entity) by name: title,
//                         snippet, dates, folder, lock, ZNOTEDATA; joined
//                         with the recovered data row that belongs to it
//                         (the object's ZNOTEDATA is the data row's Z_PK, or
//                         the data row's ZNOTE the object's Z_PK), which
//                         gives the text
// A recovered row that is a live row, or an older version of one (its Z_PK,
// its ZIDENTIFIER, or for a data row its note, is a live row's), is passed
// over; of the versions of one deleted row the last found is kept. A note
// rebuilt from rows found only in the write-ahead log is deletedFrom wal.
// The ZDATA format is laid out in ExtractNoteText below.
//
// Threads: LoadNotes and Open run on the analysis worker; afterwards the
// notes are only read (browser, recovery run) until the collection is
// destroyed.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "db/db_sqlite.h"
#include "db/progress.h"
#include "readers/live_table.h"

namespace backup {
class CFileListDB;
}
namespace exporting {
class CExportWriter;
}

namespace readers {

// Open formats of CIphoneNoteDB.
inline constexpr int kNotesSqliteFormat = 0;
inline constexpr int kNoteStoreFormat = 1;

// Where the two databases are in a backup. In a plain folder (source mode
// 2) notes.sqlite is looked up under its full relative path.
inline constexpr char kNotesSqliteDomain[] = "HomeDomain";
inline constexpr char kNotesSqlitePath[] = "notes.sqlite";
inline constexpr char kNotesSqliteFolderPath[] = "Library/Notes/notes.sqlite";
inline constexpr char kNoteStoreDomain[] = "AppDomainGroup-group.com.apple.notes";
inline constexpr char kNoteStorePath[] = "NoteStore.sqlite";

// What a locked note shows in place of its text, which is encrypted.
inline constexpr char kLockedNoteMark[] = "已加密";

// GunzipBytes stops here: a note's text is a few kilobytes, and a blob
// crafted to inflate without end must not take the machine's memory.
inline constexpr std::size_t kMaxInflatedBytes = std::size_t{64} << 20;

// One note. Texts are UTF-8.
class DBITEM_Note : public db::BaseItem {
 public:
  // A locked note's body is only the mark; the list shows its title too.
  const std::string& Title() const override { return locked ? lockedTitle : body; }
  const std::string& SearchText() const override { return locked ? lockedTitle : body; }

  std::int32_t pk = -1;             // Z_PK of the row the note was last filled from
  std::int32_t noteId = 0;          // the note the row belongs to; first half of NoteKey
  std::int32_t noteDataId = 0;      // a NoteStore note object's ZNOTEDATA
  std::int32_t createdValue = 0;    // whole seconds of the note object's creation date
  std::int32_t entity = 0;          // Z_ENT of the row the note was made from
  std::int32_t optimisticLock = 0;  // its Z_OPT, which counts the row's saves
  std::string body;
  std::string titleText;                 // ZTITLE1 (NoteStore)
  std::string snippet;                   // ZSNIPPET (NoteStore)
  std::vector<std::string> attachments;  // stored paths of the note's attachment files
  std::int32_t folderId = 0;             // ZFOLDER (NoteStore)
  double folderMovedAt = 0;              // ZFOLDERMODIFICATIONDATE, when it went into that folder (Unix seconds)
  // ZISPASSWORDPROTECTED (NoteStore): the text is encrypted, body is
  // kLockedNoteMark and lockedTitle the title followed by the mark.
  bool locked = false;
  std::string lockedTitle;
  // time: ZMODIFICATIONDATE1 (whole seconds) as Unix seconds; 0 for a note
  // of notes.sqlite or a text without a note object, which keep no date;
  // deleted: 1 for a rebuilt note (deletedFrom free-space, or wal when its
  // row was found only in the write-ahead log; dated when its object row
  // was rebuilt) and for one marked for deletion or in a Recently Deleted
  // folder (deletedFrom recently-deleted; deletedAt the note's
  // ZFOLDERMODIFICATIONDATE when it lies in that folder, else its
  // ZMODIFICATIONDATE1).
};

class NoteCollection;

class CIphoneNoteDB : public db::CDbSqlite {
 public:
  // index: the analysis's backup file index, used to find attachment files
  // (may be null: no attachments). collection receives the notes. Neither is
  // owned; the collection owns this reader when LoadNotes made it.
  CIphoneNoteDB(backup::CFileListDB* index, NoteCollection& collection);
  ~CIphoneNoteDB() override;

  // Format 1: kind 0 "ZICCLOUDSYNCINGOBJECT", kind 1 "ZICNOTEDATA";
  // format 0: kind 0 "ZNOTEBODY"; "" otherwise.
  std::string GetTableName(int tableKind) override;
  // Format 0 kind 0: a ZNOTEBODY row into a new note. Format 1 kind 0: an
  // object row into a new note (non-notes are sorted out by Open); kind 1: a
  // ZICNOTEDATA row fills the note that names it, or becomes a new note.
  void ParseRow(int tableKind, std::unique_ptr<db::BaseItem>& out, db::CppSQLite3Query& query) override;
  // format: kNotesSqliteFormat or kNoteStoreFormat. Loads the file's notes
  // into the collection, in place of those this reader gave it before,
  // rebuilds deleted ones (NoteStore) and tidies the texts of all notes
  // (NoteStore). Returns the base's status when it cannot open the
  // file (the collection is left as it was), else ok.
  base::Status Open(const std::string& path, int format) override;

  // ZICCLOUDSYNCINGOBJECT's column count as LoadTable reported it; 0 when
  // it could not be read.
  int ObjectColumnCount() const { return objectColumnCount_; }

 private:
  struct PendingAttachment {
    std::int32_t notePk;
    std::string identifier;
    std::int32_t mediaPk;  // ZMEDIA: the media row that names the original file; 0 for none
  };
  // What an object row says of a file: its ZIDENTIFIER and ZFILENAME.
  struct ObjectFile {
    std::string identifier;
    std::string fileName;
  };

  void ParseObjectRow(std::unique_ptr<db::BaseItem>& out, db::CppSQLite3Query& query);
  void ParseNoteDataRow(std::unique_ptr<db::BaseItem>& out, db::CppSQLite3Query& query);
  void LoadNoteStore();
  void LinkAttachments(const db::ItemList& objects);
  void MarkTrashedAndLocked(DBITEM_Note& note) const;
  static void MarkLocked(DBITEM_Note& note);
  std::optional<std::string> FindMediaOriginal(const ObjectFile& media);
  std::optional<std::string> FindAttachmentFile(const std::string& identifier);
  // A ZICNOTEDATA row the scan rebuilt.
  struct RecoveredNoteData {
    std::optional<std::int64_t> pk;  // Z_PK, when the cell's start was not overwritten
    std::int64_t note = 0;           // ZNOTE
    std::string text;                // from ZDATA; empty when encrypted or unreadable
    bool inWal = false;
    bool joined = false;  // its note object was rebuilt too
  };
  void RecoverNotes();
  std::vector<RecoveredNoteData> RecoverNoteData();
  void RecoverNumberedObjectRows(int layout);
  // The notes of the rebuilt note rows of objects, each with the text of
  // its data row where one was rebuilt too (marked joined in data).
  std::vector<std::unique_ptr<DBITEM_Note>> RecoverObjectRows(const LiveTable& objects,
                                                              std::vector<RecoveredNoteData>& data);
  static std::unique_ptr<DBITEM_Note> DataNote(const RecoveredNoteData& data);
  // For each rebuilt note object (its Z_PK, when read back, in notePks) the
  // index of the rebuilt data row holding its text, or nothing.
  static std::vector<std::optional<std::size_t>> PairNoteData(
      const std::vector<std::unique_ptr<DBITEM_Note>>& notes, const std::vector<std::optional<std::int64_t>>& notePks,
      const std::vector<RecoveredNoteData>& data);
  void MergeRecoveredNotes();
  void CleanUpTexts();

  backup::CFileListDB* index_;
  NoteCollection& collection_;
  std::vector<std::unique_ptr<DBITEM_Note>> recoveredNotes_;  // empty outside Open
  std::map<std::int32_t, DBITEM_Note*> noteDataIndex_;
  int objectColumnCount_ = 0;
  // The entity number Z_PRIMARYKEY gives "ICNote", when it names one.
  std::optional<std::int32_t> noteEntity_;
  std::vector<PendingAttachment> pendingAttachments_;
  // Every object row's file names by Z_PK, for the media rows the
  // attachments point to (which may come before or after them).
  std::map<std::int32_t, ObjectFile> objectFiles_;
  // Z_PK of the Recently Deleted folders (one per account).
  std::set<std::int32_t> trashFolders_;
  // ZIDENTIFIER of every live object row and its column, to tell a live row
  // that the deleted-row scan meets from a deleted one.
  std::set<std::string> liveIdentifiers_;
  int identifierColumn_ = -1;
  // Z_PK of every live object row and ZICNOTEDATA row: a rebuilt row with
  // one of them is an older version of a live row.
  std::set<std::int64_t> liveObjectPks_;
  std::set<std::int64_t> liveNoteDataPks_;
  // The entity number Z_PRIMARYKEY gives "ICNoteData", when it names one.
  std::optional<std::int32_t> noteDataEntity_;
  // The notes this reader put into the collection (owned there).
  std::vector<const DBITEM_Note*> contributed_;
};

// The notes group of one analysis: the backup file index, both readers
// (either may be absent) and the notes, which it owns.
class NoteCollection {
 public:
  // index: the analysis's backup file index (not owned; may be null).
  explicit NoteCollection(backup::CFileListDB* index = nullptr);
  ~NoteCollection();
  NoteCollection(const NoteCollection&) = delete;
  NoteCollection& operator=(const NoteCollection&) = delete;

  // The notes in their final order; they live as long as the collection.
  const std::vector<DBITEM_Note*>& Records() const { return records_; }
  // The same as plain records, for the browser and WriteNotesCsv.
  std::vector<db::BaseItem*> Items() const;
  const CIphoneNoteDB* NotesSqliteReader() const { return notesSqlite_.get(); }
  const CIphoneNoteDB* NoteStoreReader() const { return noteStore_.get(); }
  backup::CFileListDB* Index() const { return index_; }

 private:
  friend class CIphoneNoteDB;
  friend int LoadNotes(NoteCollection& collection, backup::CFileListDB& index, db::AnalysisProgress* progress);

  // Makes Records() show the notes as they now stand.
  void Publish();

  backup::CFileListDB* index_;
  std::deque<std::unique_ptr<DBITEM_Note>> notes_;
  std::vector<DBITEM_Note*> records_;
  std::unique_ptr<CIphoneNoteDB> notesSqlite_;
  std::unique_ptr<CIphoneNoteDB> noteStore_;
};

// Looks up notes.sqlite and NoteStore.sqlite through index and opens a
// reader for each one found into collection, replacing what it held
// (progress 10 and 50 around notes.sqlite, 60 and 90 around NoteStore). A
// file the backup lacks, or one that cannot be opened, gives no notes and
// no message. Returns 1.
int LoadNotes(NoteCollection& collection, backup::CFileListDB& index, db::AnalysisProgress* progress = nullptr);

// The key under which a rebuilt note repeats a known one: noteId in decimal,
// a zero byte, then the first 256 characters of the body. The zero byte
// keeps note 1 with "23 eggs" apart from note 12 with "3 eggs".
std::string NoteKey(const DBITEM_Note& note);

// The text of a note of the older notes app, which keeps it as HTML: a
// block (div, p, li, tr) starts a line, br breaks one, other tags go, and
// character references become their characters. Trailing breaks are dropped.
std::string NoteHtmlToText(std::string_view html);

// Inflates gzip data (gzip wrapper only). Gives what was inflated before
// the stream ended or broke off, at most kMaxInflatedBytes; empty for empty
// input and for data that is not gzip. Thread-safe.
std::vector<std::uint8_t> GunzipBytes(std::span<const std::uint8_t> bytes);

// The note text inside a ZDATA blob, or nothing when the blob does not
// inflate or holds no text marker. The inflated blob is a protobuf message:
//
//   08 00 12 <len>            document: version 0, field 2 the note version
//   08 00 10 00 1A <len>      version: two numbers, field 3 the note
//   12 <len> <text>           note: field 2 the text, UTF-8, <len> bytes
//   1A <len> 0A 04 ...        note: field 3 the first attribute run
//
// (<len> a protobuf varint). The text is found after the first "00 10 00
// 1A": when the note's length and the 12 tag follow, exactly the declared
// text bytes are taken (if they are all there). Otherwise the first 12 byte
// among the eight from the marker on is taken as the tag with a one-byte
// length (none: the text starts 8 bytes after the marker), and the text
// runs to the next "1A 10 0A 04" or else to the first zero byte. Damaged
// UTF-8 is repaired. Thread-safe.
std::optional<std::string> ExtractNoteText(std::span<const std::uint8_t> bytes);

// Writes the header "标题,日期,备注" and one line per note (in the order
// given; records of other types are passed over), each for CSV and HTML
// with the note's deleted flag: the title (ZTITLE1, else the body's first
// 16 characters) and the body through db::CsvQuoteField, the time through
// db::FormatItemTime. Runs on the recovery worker.
void WriteNotesCsv(exporting::CExportWriter& writer, const std::vector<db::BaseItem*>& notes);

}  // namespace readers
