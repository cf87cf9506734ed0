#pragma once
// Sample notes databases:
//   notes.sqlite      the old notes app as iOS 7.1.2 wrote it (ZNOTE,
//                     ZNOTEBODY with the text in ZCONTENT, ZSTORE, ZACCOUNT)
//   NoteStore.sqlite  the notes app of iOS 9 and later: ZICNOTEDATA (7
//                     columns, the text gzip-compressed in ZDATA, shaped as
//                     the phone writes it; encrypted for a locked note) and
//                     ZICCLOUDSYNCINGOBJECT holding the account, a folder,
//                     the notes, their attachment objects, the media rows
//                     that name the attachments' original files and, last,
//                     the Recently Deleted folder (ZFOLDERTYPE 1), in one of
//                     two table shapes:
//     k106Columns  a table whose deleted rows the deleted-row scanner
//                  rebuilds (layout 14). Its columns carry names of the
//                  phone's table, arranged as that layout expects: 0-10
//                  Z_PK ... ZCLOUDSTATE (10), integers to 57, then the dates
//                  58 ZCREATIONDATE, 60 ZMODIFICATIONDATE, 63 ZCREATIONDATE1,
//                  64 ZMODIFICATIONDATE1, texts from 67 ZIDENTIFIER with
//                  74 ZTHUMBNAILATTACHMENTIDENTIFIER, 80 ZTITLE1, 82
//                  ZSNIPPET, 83 ZTITLE2, and BLOBs from 88 to 105
//     kIos17       the table as iOS 17 writes it (201 columns): its notes
//                  keep their creation date in ZCREATIONDATE3 and leave
//                  ZCREATIONDATE1 empty
// Rows are deleted with their bytes left in the file, as on a phone.
//
// Functions return SQL text for sample::SqliteFile, or bytes. Thread-safe.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "testing/sample_backup.h"

namespace sample {

inline constexpr char kNotesSqliteDomain[] = "HomeDomain";
inline constexpr char kNotesSqliteRelativePath[] = "Library/Notes/notes.sqlite";
inline constexpr char kNoteStoreDomain[] = "AppDomainGroup-group.com.apple.notes";
inline constexpr char kNoteStoreRelativePath[] = "NoteStore.sqlite";

// Core Data's entity numbers of the iOS 17 store, used by both shapes.
inline constexpr int kAttachmentEntity = 4;
inline constexpr int kMediaEntity = 10;
inline constexpr int kNoteEntity = 11;
inline constexpr int kAccountEntity = 13;
inline constexpr int kFolderEntity = 14;
inline constexpr int kNoteDataEntity = 18;

enum class NoteStoreShape { k106Columns, kIos17 };

// 106 or 201.
int NoteObjectColumns(NoteStoreShape shape);
// The column names of ZICCLOUDSYNCINGOBJECT in order.
std::vector<std::string> NoteObjectColumnNames(NoteStoreShape shape);

// One note of the old app.
struct SampleLegacyNote {
  std::string title;    // ZNOTE.ZTITLE
  std::string content;  // ZNOTEBODY.ZCONTENT, the app's HTML
  double createdAppleSeconds = 0;
  double modifiedAppleSeconds = 0;
};

// A whole notes.sqlite: schema, store and account, each note as a ZNOTE row
// (Z_PK 1, 2, ...) with its ZNOTEBODY row (ZOWNER = the note's Z_PK).
std::string NotesSqliteSql(const std::vector<SampleLegacyNote>& notes);
// Two notes of a phone in China in 2014.
std::vector<SampleLegacyNote> SampleLegacyNotes();

// One note of the newer app.
struct SampleNote {
  std::string title;    // ZTITLE1
  std::string snippet;  // ZSNIPPET
  std::string text;     // the text inside ZDATA
  bool hasData = true;  // false: no ZICNOTEDATA text, as a locked note keeps ZDATA empty
  // ZCREATIONDATE1 (k106Columns) or ZCREATIONDATE3 (kIos17), and
  // ZMODIFICATIONDATE1; give them fractions, as the phone's clock does.
  double createdAppleSeconds = 0;
  double modifiedAppleSeconds = 0;
  bool markedForDeletion = false;  // ZMARKEDFORDELETION: purged from "Recently Deleted"
  bool deleted = false;            // inserted, then its object and data rows deleted
  bool recent = false;             // written after the last checkpoint (the -wal file)
  // ZFOLDER the Recently Deleted folder; its ZFOLDERMODIFICATIONDATE (the
  // move there) is kTrashMoveSeconds after its modification date, where a
  // note elsewhere has its creation date.
  bool inTrash = false;
  // ZISPASSWORDPROTECTED 1: ZDATA holds the text's blob encrypted (with the
  // crypto columns filled), ZSNIPPET is left empty as the phone leaves it.
  bool locked = false;
};
inline constexpr double kTrashMoveSeconds = 3600.25;

// An attachment object (ICAttachment) of a note.
struct SampleAttachment {
  std::size_t note = 0;    // index into SampleNoteStore::notes
  std::string identifier;  // ZIDENTIFIER, which names its previews in the backup
  std::string typeUti = "public.png";
  // Its media row (ICMedia, ZMEDIA of the attachment): ZIDENTIFIER and
  // ZFILENAME (a column the 106-column shape lacks). None when empty.
  std::string mediaIdentifier{};
  std::string fileName{};
  std::string generation{};  // the folder the original lies in below the media's folder; empty for none
};

struct SampleNoteStore {
  std::vector<SampleNote> notes;
  std::vector<SampleAttachment> attachments;
  // Attachment rows before the notes' rows (lower Z_PK), as a sync from
  // another device can leave them.
  bool attachmentsFirst = false;
};

// Z_PK of the objects: the account 1, the folder "备忘录" 2, then the
// attachments (when first), the notes in order, the attachments, a media
// row per attachment that has one, the Recently Deleted folder. ZCLOUDSTATE
// equals Z_PK, ZICNOTEDATA rows count from 1 over the notes with data.
inline constexpr std::int64_t kFirstObjectPk = 3;

// SQL of a NoteStore.sqlite: setup holds the schema and the notes that are
// not recent, recent the recent notes, deletions the deletion of the deleted
// notes. Run them as setup, recent, deletions, or the rows written after the
// deletions may take the freed space.
struct NoteStoreSqlParts {
  std::string setup;
  std::string recent;
  std::string deletions;
};
NoteStoreSqlParts NoteStoreSql(NoteStoreShape shape, const SampleNoteStore& store);
// In WAL modes the deletions are made before the checkpoint, the recent
// notes after it.
std::unique_ptr<SqliteFile> NoteStoreDatabase(NoteStoreShape shape, const SampleNoteStore& store,
                                              SqliteFile::Journal journal = SqliteFile::Journal::kRollback);
// The Z_PK a note of store gets.
std::int64_t NotePk(const SampleNoteStore& store, std::size_t note);

// ZDATA of a note: the protobuf message the app writes (document, version,
// note with the text and one attribute run over it), gzip-compressed.
std::vector<std::uint8_t> NoteDataBlob(const std::string& text);
std::vector<std::uint8_t> GzipBytes(const std::vector<std::uint8_t>& bytes);

// A realistic store: a shopping list with a photo, meeting minutes longer
// than 127 bytes, a travel plan whose text starts before its title, a
// locked card note, two notes purged from "Recently Deleted", one deleted
// note, one written last (recent), then a note in Recently Deleted and a
// note with only a snippet (its text not yet fetched).
SampleNoteStore SampleNoteStoreContent();
// The photo attachment of the sample store, its media row and original
// (in a generation folder), and a small PNG to stand for its preview.
inline constexpr char kSampleAttachmentId[] = "6C1E52B8-93A4-4F0E-9D3B-2A7E5C4B1D90";
inline constexpr char kSampleMediaId[] = "A3F0C9D2-7B41-4E6A-8C15-90D2B7E4F318";
std::string AttachmentPreviewPath(const std::string& identifier);
// Accounts/LocalAccount/Media/<media identifier>/[<generation>/]<file name>.
std::string MediaOriginalPath(const SampleAttachment& attachment);
std::vector<std::uint8_t> SamplePng();

// Adds notes.sqlite, NoteStore.sqlite (k106Columns, WAL mode with its
// recent rows in the -wal file, as the phone has it) and the attachment's
// preview and original (a JPEG) files, at the domains and paths the notes
// lookups find.
void AddNotesApps(SampleBackupBuilder& builder);

}  // namespace sample
