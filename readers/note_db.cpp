#include "readers/note_db.h"

#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <climits>
#include <string_view>

#include "backup/file_list_db.h"
#include "db/item_time.h"
#include "db/merge_recovered.h"
#include "db/progress.h"
#include "db/text.h"
#include "db/undark/undark.h"
#include "export/export_writer.h"
#include "platform/fs.h"
#include "readers/recovered_row.h"
#include "readers/table_rows.h"

namespace readers {
namespace {

constexpr int kBodyKind = 0;      // format 0
constexpr int kObjectKind = 0;    // format 1
constexpr int kNoteDataKind = 1;  // format 1
constexpr char kBodyTable[] = "ZNOTEBODY";
constexpr char kObjectTable[] = "ZICCLOUDSYNCINGOBJECT";
constexpr char kNoteDataTable[] = "ZICNOTEDATA";

// ZNOTEBODY by position: ZOWNER, ZCONTENT.
constexpr int kBodyOwnerColumn = 3;
constexpr int kBodyContentColumn = 4;
// ZICNOTEDATA by position: Z_PK, ZNOTE, ZDATA.
constexpr int kNoteDataPkColumn = 0;
constexpr int kNoteDataNoteColumn = 3;
constexpr int kNoteDataBlobColumn = 6;
constexpr std::size_t kNoteDataColumns = 7;

// ZFOLDERTYPE of the Recently Deleted folder ("TrashFolder-CloudKit").
constexpr std::int32_t kTrashFolderType = 1;
// Recovered note objects of the numbered layouts, by position; the shapes
// those layouts were made for have these columns there.
constexpr std::size_t kObjectNoteIdValue = 10;
constexpr std::size_t kObjectTimeValue = 64;
constexpr std::size_t kObjectFirstTextValue = 80;
constexpr std::size_t kObjectSecondTextValue = 82;
constexpr int kObjectLayouts[] = {14, 15, 16};

// How many characters of a note key come from the body, and of the title
// the clean-up looks for.
constexpr std::size_t kKeyBodyUnits = 256;
constexpr std::size_t kTitleProbeUnits = 10;
constexpr std::size_t kCsvTitleUnits = 16;

using Bytes = std::span<const std::uint8_t>;

std::int32_t FieldInt(const db::CppSQLite3Query& query, const char* column) {
  return query.GetIntField(query.FieldIndex(column));
}

// The first place at or after from where pattern starts with at least one
// byte after it (a pattern in the very last bytes is not taken), or npos.
std::size_t FindMarker(Bytes data, std::size_t from, Bytes pattern) {
  if (data.size() <= pattern.size()) return std::string::npos;
  for (std::size_t at = from; at + pattern.size() < data.size(); ++at) {
    if (std::equal(pattern.begin(), pattern.end(), data.begin() + static_cast<std::ptrdiff_t>(at))) return at;
  }
  return std::string::npos;
}

// A protobuf varint at offset; advances offset past it. Fails on a varint
// that runs off the end or past ten bytes.
bool ReadVarint(Bytes data, std::size_t& offset, std::uint64_t& value) {
  value = 0;
  for (int shift = 0; shift < 64 && offset < data.size(); shift += 7) {
    const std::uint8_t byte = data[offset++];
    value |= static_cast<std::uint64_t>(byte & 0x7F) << shift;
    if ((byte & 0x80) == 0) return true;
  }
  return false;
}

std::string TextOf(Bytes data, std::size_t start, std::size_t end) {
  const std::string_view text(reinterpret_cast<const char*>(data.data()) + start, end - start);
  return db::RepairUtf8(text);
}

// Where the text starts by the protobuf structure after the marker: the
// note's length, the 12 tag, then the text's length, which comes back in
// length. Nothing when the bytes are not shaped so.
std::optional<std::size_t> TextStartByStructure(Bytes data, std::size_t marker, std::uint64_t& length) {
  std::size_t offset = marker + 4;
  if (!ReadVarint(data, offset, length) || offset >= data.size() || data[offset] != 0x12) return std::nullopt;
  ++offset;
  if (!ReadVarint(data, offset, length)) return std::nullopt;
  return offset;
}

// A recovered value's text as a live row's text reads: a TEXT's bytes up to
// any zero byte, repaired; other types give no text.
std::string ValueText(const db::undark::UndarkValue& value) {
  return value.type == db::undark::kTypeText ? db::undark::UndarkValueText(value) : std::string();
}

std::int32_t ValueInt32(const db::undark::UndarkValue& value) {
  return static_cast<std::int32_t>(db::undark::UndarkValueToInt64(value));
}

bool ContainsIgnoringAsciiCase(const std::string& text, const std::string& part) {
  return platform::AsciiLower(text).find(platform::AsciiLower(part)) != std::string::npos;
}

// Whether relativePath is a media row's original: a file directly in
// mediaFolder ("Media/<identifier>/", a whole path component) or in one
// generation folder below it, named fileName when the row names one. The
// index's LIKE lookup also gives paths where the identifier's '_' or '%'
// matched other characters, or where the folder sits deeper; these are not it.
bool IsMediaOriginalPath(const std::string& relativePath, const std::string& mediaFolder,
                         const std::string& fileName) {
  const std::string lower = platform::AsciiLower(relativePath);
  const std::size_t at = lower.find(platform::AsciiLower(mediaFolder));
  if (at == std::string::npos || at == 0 || relativePath[at - 1] != '/') return false;
  const std::string_view rest = std::string_view(relativePath).substr(at + mediaFolder.size());
  const std::size_t slash = rest.find('/');
  if (slash != std::string_view::npos && rest.find('/', slash + 1) != std::string_view::npos) return false;
  const std::string_view name = slash == std::string_view::npos ? rest : rest.substr(slash + 1);
  if (name.empty() || slash == 0) return false;
  return fileName.empty() || name == fileName;
}

// One character reference of a note's HTML ("amp", "#20320", "#x4F60"), or
// nothing for a name the phone's notes do not use.
std::optional<std::string> DecodeEntity(std::string_view name) {
  static const std::pair<std::string_view, std::string_view> kNamed[] = {
      {"amp", "&"}, {"lt", "<"}, {"gt", ">"}, {"quot", "\""}, {"apos", "'"}, {"nbsp", " "}};
  for (const auto& [entity, text] : kNamed) {
    if (name == entity) return std::string(text);
  }
  if (name.size() < 2 || name[0] != '#') return std::nullopt;
  const bool hex = name[1] == 'x' || name[1] == 'X';
  const std::string_view digits = name.substr(hex ? 2 : 1);
  std::uint32_t code = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), code, hex ? 16 : 10);
  if (error != std::errc() || end != digits.data() + digits.size() || code == 0 || code > 0x10FFFF ||
      (code >= 0xD800 && code <= 0xDFFF)) {
    return std::nullopt;
  }
  return db::WideToUtf8(code < 0x10000 ? std::u16string(1, static_cast<char16_t>(code))
                                       : std::u16string{static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10)),
                                                        static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF))});
}

}  // namespace

// ---- CIphoneNoteDB ----

CIphoneNoteDB::CIphoneNoteDB(backup::CFileListDB* index, NoteCollection& collection)
    : index_(index), collection_(collection) {}

CIphoneNoteDB::~CIphoneNoteDB() = default;

std::string CIphoneNoteDB::GetTableName(int tableKind) {
  if (openParam == kNotesSqliteFormat && tableKind == kBodyKind) return kBodyTable;
  if (openParam == kNoteStoreFormat && tableKind == kObjectKind) return kObjectTable;
  if (openParam == kNoteStoreFormat && tableKind == kNoteDataKind) return kNoteDataTable;
  return "";
}

void CIphoneNoteDB::ParseRow(int tableKind, std::unique_ptr<db::BaseItem>& out, db::CppSQLite3Query& query) {
  if (openParam == kNotesSqliteFormat && tableKind == kBodyKind) {
    if (query.NumFields() <= kBodyContentColumn) return;  // not the ZNOTEBODY the phone writes
    auto note = std::make_unique<DBITEM_Note>();
    note->entity = query.GetIntField(1);
    note->optimisticLock = query.GetIntField(2);
    note->noteId = query.GetIntField(kBodyOwnerColumn);
    // The older notes app keeps a note as HTML; the user wrote text.
    note->body = NoteHtmlToText(db::FieldText(query, kBodyContentColumn));
    out = std::move(note);
    return;
  }
  if (openParam == kNoteStoreFormat && tableKind == kObjectKind) return ParseObjectRow(out, query);
  if (openParam == kNoteStoreFormat && tableKind == kNoteDataKind) return ParseNoteDataRow(out, query);
  CDbSqlite::ParseRow(tableKind, out, query);
}

void CIphoneNoteDB::ParseObjectRow(std::unique_ptr<db::BaseItem>& out, db::CppSQLite3Query& query) {
  auto note = std::make_unique<DBITEM_Note>();
  // A note in the trash is still a row; the app keeps it there for a while.
  note->deleted = FieldInt(query, "ZMARKEDFORDELETION") != 0 ? 1 : 0;
  note->deletedFrom = db::BaseItem::DeletedFrom::kRecentlyDeleted;
  note->noteId = FieldInt(query, "ZCLOUDSTATE");
  note->pk = query.GetIntField(0);
  liveObjectPks_.insert(note->pk);
  note->entity = FieldInt(query, "Z_ENT");
  note->optimisticLock = FieldInt(query, "Z_OPT");
  const std::string identifier = db::FieldText(query, "ZIDENTIFIER");
  if (!identifier.empty()) liveIdentifiers_.insert(identifier);
  identifierColumn_ = query.FieldIndex("ZIDENTIFIER");
  if (const std::int32_t notePk = FieldInt(query, "ZNOTE"); notePk > 0) {
    pendingAttachments_.push_back({notePk, identifier, FieldInt(query, "ZMEDIA")});
  }
  objectFiles_[note->pk] = {identifier, db::FieldText(query, "ZFILENAME")};
  if (FieldInt(query, "ZFOLDERTYPE") == kTrashFolderType) trashFolders_.insert(note->pk);
  note->folderId = FieldInt(query, "ZFOLDER");
  note->folderMovedAt =
      db::UnixFromAppleSeconds(query.GetFloatField(query.FieldIndex("ZFOLDERMODIFICATIONDATE")));
  note->locked = FieldInt(query, "ZISPASSWORDPROTECTED") != 0;
  note->noteDataId = FieldInt(query, "ZNOTEDATA");
  note->createdValue = FieldInt(query, "ZCREATIONDATE1");
  // iOS 17 leaves ZCREATIONDATE1 empty on notes and keeps their creation
  // date in ZCREATIONDATE3; its note rows are known by their entity.
  if (note->createdValue == 0 && noteEntity_ && note->entity == *noteEntity_) {
    note->createdValue = FieldInt(query, "ZCREATIONDATE3");
  }
  const std::int64_t modified = query.GetInt64Field(query.FieldIndex("ZMODIFICATIONDATE1"));
  note->time = db::UnixFromAppleSeconds(static_cast<double>(modified));
  note->snippet = db::FieldText(query, "ZSNIPPET");
  note->titleText = db::FieldText(query, "ZTITLE1");
  out = std::move(note);
}

void CIphoneNoteDB::ParseNoteDataRow(std::unique_ptr<db::BaseItem>& out, db::CppSQLite3Query& query) {
  if (static_cast<std::size_t>(query.NumFields()) < kNoteDataColumns) return;
  const std::int32_t key = query.GetIntField(kNoteDataPkColumn);
  liveNoteDataPks_.insert(key);
  DBITEM_Note* note = nullptr;
  std::unique_ptr<DBITEM_Note> created;
  if (const auto found = noteDataIndex_.find(key); found != noteDataIndex_.end()) {
    note = found->second;
  } else {
    created = std::make_unique<DBITEM_Note>();
    created->entity = query.GetIntField(1);
    created->optimisticLock = query.GetIntField(2);
    note = created.get();
  }
  note->pk = key;
  note->noteId = query.GetIntField(kNoteDataNoteColumn);
  // A locked note's ZDATA is encrypted: whatever it might inflate to is not its text.
  if (!note->locked) {
    if (auto text = ExtractNoteText(query.GetFieldBlob(kNoteDataBlobColumn))) note->body = std::move(*text);
  }
  if (created) out = std::move(created);
}

base::Status CIphoneNoteDB::Open(const std::string& path, int format) {
  if (base::Status opened = CDbSqlite::Open(path, format); !opened.Ok()) return opened;
  recoveredNotes_.clear();
  noteDataIndex_.clear();
  pendingAttachments_.clear();
  objectFiles_.clear();
  trashFolders_.clear();
  liveIdentifiers_.clear();
  identifierColumn_ = -1;
  liveObjectPks_.clear();
  liveNoteDataPks_.clear();
  objectColumnCount_ = 0;
  noteEntity_.reset();
  noteDataEntity_.reset();

  // Opening again replaces the notes this reader gave before; the other
  // reader's notes stay where they are.
  const std::set<const DBITEM_Note*> previous(contributed_.begin(), contributed_.end());
  std::erase_if(collection_.notes_, [&previous](const auto& note) { return previous.count(note.get()) != 0; });
  contributed_.clear();
  const std::set<const DBITEM_Note*> others = [this] {
    std::set<const DBITEM_Note*> notes;
    for (const auto& note : collection_.notes_) notes.insert(note.get());
    return notes;
  }();

  if (openParam == kNotesSqliteFormat) {
    db::ItemList loaded;
    LoadTable(kBodyKind, loaded);
    for (auto& item : loaded) {
      // Kind 0 rows of this format are made by ParseRow, always as notes.
      collection_.notes_.emplace_back(static_cast<DBITEM_Note*>(item.release()));
    }
  } else if (openParam == kNoteStoreFormat) {
    LoadNoteStore();
    RecoverNotes();
  }
  MergeRecoveredNotes();
  if (openParam == kNoteStoreFormat) CleanUpTexts();
  for (const auto& note : collection_.notes_) {
    if (others.count(note.get()) == 0) contributed_.push_back(note.get());
  }
  collection_.Publish();
  return {};
}

void CIphoneNoteDB::LoadNoteStore() {
  std::int64_t entity = 0;
  if (QueryInt64("SELECT Z_ENT FROM Z_PRIMARYKEY WHERE Z_NAME = ?;", entity, {std::string("ICNote")})) {
    noteEntity_ = static_cast<std::int32_t>(entity);
  }
  if (QueryInt64("SELECT Z_ENT FROM Z_PRIMARYKEY WHERE Z_NAME = ?;", entity, {std::string("ICNoteData")})) {
    noteDataEntity_ = static_cast<std::int32_t>(entity);
  }
  db::ItemList objects;
  objectColumnCount_ = LoadTable(kObjectKind, objects);
  LinkAttachments(objects);
  for (auto& item : objects) {
    std::unique_ptr<DBITEM_Note> note(static_cast<DBITEM_Note*>(item.release()));
    const bool isNote = note->createdValue != 0 || (noteEntity_ && note->entity == *noteEntity_);
    if (!isNote) continue;  // folders, attachments, accounts
    MarkTrashedAndLocked(*note);
    DBITEM_Note* kept = note.get();
    if (note->deleted != 0) {
      collection_.notes_.push_front(std::move(note));
    } else {
      collection_.notes_.push_back(std::move(note));
    }
    if (kept->noteDataId > 0) noteDataIndex_[kept->noteDataId] = kept;
  }

  db::ItemList dataOnly;
  LoadTable(kNoteDataKind, dataOnly);
  for (auto& item : dataOnly) {
    DBITEM_Note* note = static_cast<DBITEM_Note*>(item.release());
    collection_.notes_.emplace_back(note);
    noteDataIndex_[note->pk] = note;
  }
}

// Done once the whole table is read, so that an attachment row stored
// before its note's row (as a sync from another device can leave them) is
// linked too.
void CIphoneNoteDB::LinkAttachments(const db::ItemList& objects) {
  if (index_ == nullptr || pendingAttachments_.empty()) return;
  std::map<std::int32_t, std::vector<DBITEM_Note*>> byPk;
  for (const auto& item : objects) {
    auto* note = static_cast<DBITEM_Note*>(item.get());
    byPk[note->pk].push_back(note);
  }
  for (const PendingAttachment& attachment : pendingAttachments_) {
    const auto owners = byPk.find(attachment.notePk);
    if (owners == byPk.end()) continue;
    // The original file, named by the media row; an attachment without one
    // (or whose original the backup lacks) still has its previews.
    std::optional<std::string> file;
    if (const auto media = objectFiles_.find(attachment.mediaPk); attachment.mediaPk > 0 && media != objectFiles_.end()) {
      file = FindMediaOriginal(media->second);
    }
    if (!file) file = FindAttachmentFile(attachment.identifier);
    if (!file) continue;
    for (DBITEM_Note* note : owners->second) note->attachments.push_back(*file);
  }
  pendingAttachments_.clear();
}

// Run once the whole object table is read, as a note's row may come before
// its folder's.
void CIphoneNoteDB::MarkTrashedAndLocked(DBITEM_Note& note) const {
  const bool inTrash = note.folderId > 0 && trashFolders_.count(note.folderId) != 0;
  if (inTrash || note.deleted != 0) {
    // The app moves a note into Recently Deleted first and marks it for
    // deletion only when it is purged there; either way it is in the trash.
    // Moving it changes its folder date, not its modification date.
    note.deleted = 1;
    note.deletedFrom = db::BaseItem::DeletedFrom::kRecentlyDeleted;
    note.deletedAt = inTrash && note.folderMovedAt != 0 ? note.folderMovedAt : note.time;
  }
  MarkLocked(note);
}

void CIphoneNoteDB::MarkLocked(DBITEM_Note& note) {
  if (!note.locked) return;
  note.body = kLockedNoteMark;
  note.lockedTitle = note.titleText.empty() ? note.body : note.titleText + " " + note.body;
}

// The backup keeps the original at Accounts/<account>/Media/<identifier>/
// [<generation>/]<file name>. The account folder is not needed to find it:
// the identifier, unique in the store, and the depth below it are.
std::optional<std::string> CIphoneNoteDB::FindMediaOriginal(const ObjectFile& media) {
  if (media.identifier.empty()) return std::nullopt;
  const std::string mediaFolder = "Media/" + media.identifier + "/";
  backup::FileRecordList files;
  if (index_->FindFileRecords("%" + mediaFolder + "%", kNoteStoreDomain, files, true) == 0) return std::nullopt;
  for (const auto& file : files) {
    if (IsMediaOriginalPath(file->relativePath, mediaFolder, media.fileName)) return file->storedPath;
  }
  return std::nullopt;
}

// The index matches relative paths with SQL LIKE, where '%' and '_' in an
// identifier would match any text; so a file counts only when its path
// holds the identifier itself. An empty identifier would match every file.
std::optional<std::string> CIphoneNoteDB::FindAttachmentFile(const std::string& identifier) {
  if (identifier.empty()) return std::nullopt;
  backup::FileRecordList files;
  if (index_->FindFileRecords("%" + identifier + "%", kNoteStoreDomain, files, true) == 0) return std::nullopt;
  for (const auto& file : files) {
    if (ContainsIgnoringAsciiCase(file->relativePath, identifier)) return file->storedPath;
  }
  return std::nullopt;
}

void CIphoneNoteDB::RecoverNotes() {
  std::vector<RecoveredNoteData> data = RecoverNoteData();
  const std::optional<LiveTable> objects = LiveTable::Read(*this, kObjectTable);
  // The numbered layouts were made for tables with these columns at these
  // places; any other shape is read by the layout made from its own.
  int numbered = 0;
  for (const int layout : kObjectLayouts) {
    const auto columns = static_cast<std::size_t>(db::undark::LayoutColumnCount(layout));
    if (objects && objects->HasShape(columns, {{kObjectNoteIdValue, "ZCLOUDSTATE"},
                                               {kObjectTimeValue, "ZMODIFICATIONDATE1"},
                                               {kObjectFirstTextValue, "ZTITLE1"},
                                               {kObjectSecondTextValue, "ZSNIPPET"}})) {
      numbered = layout;
    }
  }
  std::vector<std::unique_ptr<DBITEM_Note>> objectNotes;
  if (objects && numbered == 0) objectNotes = RecoverObjectRows(*objects, data);
  // The texts whose note object was not rebuilt with them, then the notes
  // of the object rows.
  for (const RecoveredNoteData& row : data) {
    if (!row.joined) recoveredNotes_.push_back(DataNote(row));
  }
  for (auto& note : objectNotes) recoveredNotes_.push_back(std::move(note));
  if (numbered != 0) RecoverNumberedObjectRows(numbered);
}

std::vector<CIphoneNoteDB::RecoveredNoteData> CIphoneNoteDB::RecoverNoteData() {
  std::vector<RecoveredNoteData> found;
  const std::optional<LiveTable> table = LiveTable::Read(*this, kNoteDataTable);
  if (!table) return found;
  // Of the versions of one note's data (the text saved again and again
  // before the note went), the last found: the log's newest frame.
  std::map<std::int64_t, std::size_t> byNote;
  ScanLiveTable(*this, *table, [&](db::undark::UndarkRow& values, const RowPlace& place) {
    const RecoveredRow row(*table, values);
    RecoveredNoteData data;
    data.pk = row.RowId();
    data.note = row.Int("ZNOTE");
    data.inWal = place.inWal;
    if (data.note <= 0 || !row.IsNumber("ZNOTE")) return;
    if (noteDataEntity_ && row.Int("Z_ENT") != *noteDataEntity_) return;
    // A live data row, or an older version of one (the note it belongs to
    // is still there).
    if ((data.pk && liveNoteDataPks_.count(*data.pk) != 0) || liveObjectPks_.count(data.note) != 0) return;
    // A locked note's data is encrypted: whatever it might inflate to is
    // not its text.
    if (row.IsNull("ZCRYPTOINITIALIZATIONVECTOR")) {
      if (auto text = ExtractNoteText(row.Blob("ZDATA"))) data.text = std::move(*text);
    }
    if (const auto known = byNote.find(data.note); known != byNote.end()) {
      found[known->second] = std::move(data);
    } else {
      byNote[data.note] = found.size();
      found.push_back(std::move(data));
    }
  });
  return found;
}

std::unique_ptr<DBITEM_Note> CIphoneNoteDB::DataNote(const RecoveredNoteData& data) {
  auto note = std::make_unique<DBITEM_Note>();
  note->noteId = static_cast<std::int32_t>(data.note);
  if (data.pk) note->pk = static_cast<std::int32_t>(*data.pk);
  note->body = data.text;
  note->deleted = 1;
  note->deletedFrom = data.inWal ? db::BaseItem::DeletedFrom::kWal : db::BaseItem::DeletedFrom::kFreeSpace;
  return note;
}

std::vector<std::unique_ptr<DBITEM_Note>> CIphoneNoteDB::RecoverObjectRows(const LiveTable& objects,
                                                                           std::vector<RecoveredNoteData>& data) {
  std::vector<std::unique_ptr<DBITEM_Note>> notes;
  std::vector<std::optional<std::int64_t>> notePks;  // each note's Z_PK, when read back
  std::map<std::int64_t, std::size_t> byPk;
  std::map<std::string, std::size_t> byIdentifier;
  ScanLiveTable(*this, objects, [&](db::undark::UndarkRow& values, const RowPlace& place) {
    const RecoveredRow row(objects, values);
    auto note = std::make_unique<DBITEM_Note>();
    note->entity = static_cast<std::int32_t>(row.Int("Z_ENT"));
    note->createdValue = static_cast<std::int32_t>(row.Int("ZCREATIONDATE1"));
    if (note->createdValue == 0) note->createdValue = static_cast<std::int32_t>(row.Int("ZCREATIONDATE3"));
    // Folders, attachments, accounts share the table.
    if (noteEntity_ ? note->entity != *noteEntity_ : note->createdValue == 0) return;
    for (const char* date : {"ZCREATIONDATE1", "ZCREATIONDATE3", "ZMODIFICATIONDATE1", "ZFOLDERMODIFICATIONDATE"}) {
      if (!row.HoldsPlausibleAppleDate(date)) return;
    }
    const std::optional<std::int64_t> pk = row.RowId();
    const std::string identifier = row.Text("ZIDENTIFIER");
    // The live row itself, or an older version of it.
    if ((pk && liveObjectPks_.count(*pk) != 0) || (!identifier.empty() && liveIdentifiers_.count(identifier) != 0)) {
      return;
    }
    note->optimisticLock = static_cast<std::int32_t>(row.Int("Z_OPT"));
    note->titleText = row.Text("ZTITLE1");
    note->snippet = row.Text("ZSNIPPET");
    note->time = db::UnixFromAppleSeconds(static_cast<double>(row.Int("ZMODIFICATIONDATE1")));
    note->folderId = static_cast<std::int32_t>(row.Int("ZFOLDER"));
    note->folderMovedAt = db::UnixFromAppleSeconds(row.Real("ZFOLDERMODIFICATIONDATE"));
    note->locked = row.Int("ZISPASSWORDPROTECTED") != 0;
    note->noteDataId = static_cast<std::int32_t>(row.Int("ZNOTEDATA"));
    if (pk) note->pk = note->noteId = static_cast<std::int32_t>(*pk);
    note->deleted = 1;
    note->deletedFrom = place.inWal ? db::BaseItem::DeletedFrom::kWal : db::BaseItem::DeletedFrom::kFreeSpace;
    // Of the versions of one note (saved again and again before it went),
    // the last found stands where the first was.
    std::optional<std::size_t> known;
    if (const auto at = pk ? byPk.find(*pk) : byPk.end(); at != byPk.end()) known = at->second;
    if (const auto at = byIdentifier.find(identifier); !known && !identifier.empty() && at != byIdentifier.end()) {
      known = at->second;
    }
    const std::size_t slot = known.value_or(notes.size());
    if (!known) {
      notes.emplace_back();
      notePks.emplace_back();
    } else if (!pk && notePks[slot]) {
      note->pk = note->noteId = static_cast<std::int32_t>(*notePks[slot]);
    }
    notes[slot] = std::move(note);
    if (pk) {
      notePks[slot] = pk;
      byPk[*pk] = slot;
    }
    if (!identifier.empty()) byIdentifier[identifier] = slot;
  });

  const std::vector<std::optional<std::size_t>> pairs = PairNoteData(notes, notePks, data);
  for (std::size_t i = 0; i < notes.size(); ++i) {
    DBITEM_Note& note = *notes[i];
    if (pairs[i]) {
      RecoveredNoteData& row = data[*pairs[i]];
      row.joined = true;
      if (note.noteId == 0) note.noteId = static_cast<std::int32_t>(row.note);
      if (row.pk) note.pk = static_cast<std::int32_t>(*row.pk);
      note.body = row.text;
    }
    // Without its text the note still shows its title (the text's first
    // line) and, after the clean-up, its snippet.
    if (note.body.empty()) note.body = note.titleText;
    MarkLocked(note);
  }
  return notes;
}

std::vector<std::optional<std::size_t>> CIphoneNoteDB::PairNoteData(
    const std::vector<std::unique_ptr<DBITEM_Note>>& notes, const std::vector<std::optional<std::int64_t>>& notePks,
    const std::vector<RecoveredNoteData>& data) {
  std::vector<std::optional<std::size_t>> pairs(notes.size());
  std::vector<bool> taken(data.size());
  std::map<std::int64_t, std::size_t> dataByPk;
  std::map<std::int64_t, std::size_t> dataByNote;
  for (std::size_t j = 0; j < data.size(); ++j) {
    if (data[j].pk) dataByPk[*data[j].pk] = j;
    dataByNote[data[j].note] = j;
  }
  // By key: the data row the note's ZNOTEDATA names, else the one whose
  // ZNOTE names the note.
  for (std::size_t i = 0; i < notes.size(); ++i) {
    std::optional<std::size_t> match;
    if (const auto at = dataByPk.find(notes[i]->noteDataId); notes[i]->noteDataId > 0 && at != dataByPk.end()) {
      match = at->second;
    } else if (const auto by = notePks[i] ? dataByNote.find(*notePks[i]) : dataByNote.end(); by != dataByNote.end()) {
      match = by->second;
    }
    if (match && !taken[*match]) {
      pairs[i] = match;
      taken[*match] = true;
    }
  }
  // A freed cell's first bytes, where its Z_PK is kept, are often
  // overwritten. When neither row's Z_PK reads back, the note's title (the
  // app takes it from the text's first line) pairs them, where it starts
  // the text of exactly one such data row and no other such note has it.
  std::vector<std::vector<std::size_t>> titledBy(data.size());
  std::vector<std::optional<std::size_t>> only(notes.size());
  for (std::size_t i = 0; i < notes.size(); ++i) {
    const std::string& title = notes[i]->titleText;
    if (pairs[i] || notePks[i] || title.empty()) continue;
    std::size_t count = 0;
    for (std::size_t j = 0; j < data.size(); ++j) {
      if (taken[j] || data[j].pk || !data[j].text.starts_with(title)) continue;
      ++count;
      only[i] = j;
    }
    if (count != 1) continue;
    titledBy[*only[i]].push_back(i);
  }
  for (std::size_t j = 0; j < data.size(); ++j) {
    if (titledBy[j].size() == 1) pairs[titledBy[j].front()] = j;
  }
  return pairs;
}

void CIphoneNoteDB::RecoverNumberedObjectRows(int layout) {
  const auto expected = static_cast<std::size_t>(db::undark::LayoutColumnCount(layout));
  ScanRows(*this, layout, -1, [&](db::undark::UndarkRow& row, const RowPlace& place) {
    if (row.size() != expected) return;
    // The scan meets the live rows too. Their texts are the title and
    // snippet, never the note's text, so the note key cannot tell them from
    // deleted notes; their ZIDENTIFIER, unique in the table, can.
    if (identifierColumn_ >= 0 && static_cast<std::size_t>(identifierColumn_) < row.size() &&
        liveIdentifiers_.count(ValueText(row[static_cast<std::size_t>(identifierColumn_)])) != 0) {
      return;
    }
    auto note = std::make_unique<DBITEM_Note>();
    note->noteId = ValueInt32(row[kObjectNoteIdValue]);
    note->time = db::UnixFromAppleSeconds(static_cast<double>(db::undark::UndarkValueToInt64(row[kObjectTimeValue])));
    note->body = ValueText(row[kObjectFirstTextValue]) + ValueText(row[kObjectSecondTextValue]);
    note->deleted = 1;
    note->deletedFrom = place.inWal ? db::BaseItem::DeletedFrom::kWal : db::BaseItem::DeletedFrom::kFreeSpace;
    recoveredNotes_.push_back(std::move(note));
  });
}

void CIphoneNoteDB::MergeRecoveredNotes() {
  // A rebuilt note without text has nothing to show.
  std::erase_if(recoveredNotes_, [](const auto& note) { return note->body.empty() && note->titleText.empty(); });
  // Keyed against every note of the collection, the other file's too, so a
  // rebuilt note that either file still lists is not shown twice.
  db::MergeRecovered(collection_.notes_, std::move(recoveredNotes_), NoteKey);
  recoveredNotes_.clear();
}

void CIphoneNoteDB::CleanUpTexts() {
  for (const auto& note : collection_.notes_) {
    if (note->locked) continue;  // nothing of its text is readable
    if (!note->titleText.empty()) {
      // The text may begin with leftovers of the formatting before the
      // title; the title's start marks where the note really begins.
      const std::string probe = db::LeftUtf16(note->titleText, kTitleProbeUnits);
      const std::size_t at = probe.empty() ? std::string::npos : note->body.find(probe);
      if (at != std::string::npos && at > 0) note->body.erase(0, at);
    }
    if (!note->snippet.empty() && note->body.find(note->snippet) == std::string::npos) {
      note->body += "\r\n" + note->snippet;
    }
  }
}

// ---- NoteCollection ----

NoteCollection::NoteCollection(backup::CFileListDB* index) : index_(index) {}

NoteCollection::~NoteCollection() {
  // The readers point into the notes; they go first.
  notesSqlite_.reset();
  noteStore_.reset();
}

std::vector<db::BaseItem*> NoteCollection::Items() const { return {records_.begin(), records_.end()}; }

void NoteCollection::Publish() {
  records_.clear();
  records_.reserve(notes_.size());
  for (const auto& note : notes_) records_.push_back(note.get());
}

int LoadNotes(NoteCollection& collection, backup::CFileListDB& index, db::AnalysisProgress* progress) {
  collection.index_ = &index;
  collection.notesSqlite_.reset();
  collection.noteStore_.reset();
  collection.notes_.clear();
  collection.Publish();

  std::vector<std::string> paths;
  const char* notesPath = index.Mode() == backup::SourceFolder ? kNotesSqliteFolderPath : kNotesSqlitePath;
  if (index.FindFilePaths(notesPath, kNotesSqliteDomain, paths, false) != 0 && !paths.empty()) {
    db::ReportProgress(progress, false, 10);
    collection.notesSqlite_ = std::make_unique<CIphoneNoteDB>(&index, collection);
    index.OpenDatabase(*collection.notesSqlite_, paths.front(), kNotesSqliteFormat);
    collection.notesSqlite_->Close();  // the notes stay; the connection is not needed again
    db::ReportProgress(progress, false, 50);
  }

  paths.clear();
  if (index.FindFilePaths(kNoteStorePath, kNoteStoreDomain, paths, false) != 0 && !paths.empty()) {
    db::ReportProgress(progress, false, 60);
    collection.noteStore_ = std::make_unique<CIphoneNoteDB>(&index, collection);
    index.OpenDatabase(*collection.noteStore_, paths.front(), kNoteStoreFormat);
    collection.noteStore_->Close();
    db::ReportProgress(progress, false, 90);
  }
  return 1;
}

std::string NoteHtmlToText(std::string_view html) {
  std::string text;
  const auto newLine = [&text] {
    if (!text.empty() && text.back() != '\n') text += '\n';
  };
  std::size_t at = 0;
  while (at < html.size()) {
    const char c = html[at];
    if (c == '<') {
      // The tag ends at the first '>' outside a quoted attribute value.
      std::size_t close = at + 1;
      char quote = 0;
      for (; close < html.size(); ++close) {
        const char t = html[close];
        if (quote != 0) {
          if (t == quote) quote = 0;
        } else if (t == '"' || t == '\'') {
          quote = t;
        } else if (t == '>') {
          break;
        }
      }
      if (close >= html.size()) break;  // a tag cut off at the end
      std::string name;
      for (std::size_t i = at + 1; i < close && html[i] != ' ' && html[i] != '/' && html[i] != '\t'; ++i) {
        name += static_cast<char>(std::tolower(static_cast<unsigned char>(html[i])));
      }
      // A line of the note is a block or ends with a break.
      if (name == "br") {
        text += '\n';
      } else if (name == "div" || name == "p" || name == "li" || name == "tr") {
        newLine();
      }
      at = close + 1;
      continue;
    }
    if (c == '&') {
      const std::size_t semicolon = html.find(';', at + 1);
      if (semicolon != std::string_view::npos && semicolon - at <= 10) {
        if (const auto decoded = DecodeEntity(html.substr(at + 1, semicolon - at - 1))) {
          text += *decoded;
          at = semicolon + 1;
          continue;
        }
      }
    }
    text += c;
    ++at;
  }
  while (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

std::string NoteKey(const DBITEM_Note& note) {
  std::string key = std::to_string(note.noteId);
  key += '\0';
  key += db::LeftUtf16(note.body, kKeyBodyUnits);
  return key;
}

std::vector<std::uint8_t> GunzipBytes(std::span<const std::uint8_t> bytes) {
  if (bytes.empty()) return {};
  z_stream stream{};
  if (inflateInit2(&stream, 15 + 16) != Z_OK) return {};  // 15-bit window, gzip wrapper only
  // The buffer starts at the input's size and grows by half of it, as a
  // note's text is some times its compressed size; never past the bound.
  const std::size_t growth = std::max<std::size_t>(bytes.size() / 2, 4096);
  std::vector<std::uint8_t> out(std::min(bytes.size(), kMaxInflatedBytes));
  std::size_t produced = 0;
  std::size_t consumed = 0;
  for (;;) {
    if (produced == out.size()) {
      if (out.size() >= kMaxInflatedBytes) break;  // cut: the rest is not needed for a note
      out.resize(std::min(out.size() + growth, kMaxInflatedBytes));
    }
    if (stream.avail_in == 0 && consumed < bytes.size()) {
      const std::size_t chunk = std::min<std::size_t>(bytes.size() - consumed, UINT_MAX);
      stream.next_in = const_cast<Bytef*>(bytes.data() + consumed);
      stream.avail_in = static_cast<uInt>(chunk);
      consumed += chunk;
    }
    const std::size_t room = std::min<std::size_t>(out.size() - produced, UINT_MAX);
    stream.next_out = out.data() + produced;
    stream.avail_out = static_cast<uInt>(room);
    const uInt inBefore = stream.avail_in;
    const int result = inflate(&stream, Z_SYNC_FLUSH);
    produced += room - stream.avail_out;
    // Z_STREAM_END, a damaged stream, or input spent (Z_BUF_ERROR): done.
    if (result != Z_OK) break;
    if (stream.avail_out == room && stream.avail_in == inBefore) break;  // no progress
  }
  if (inflateEnd(&stream) != Z_OK) return {};
  out.resize(produced);
  return out;
}

std::optional<std::string> ExtractNoteText(std::span<const std::uint8_t> bytes) {
  const std::vector<std::uint8_t> inflated = GunzipBytes(bytes);
  const Bytes data(inflated);
  if (data.empty()) return std::nullopt;
  static constexpr std::uint8_t kTextMarker[] = {0x00, 0x10, 0x00, 0x1A};
  static constexpr std::uint8_t kRunMarker[] = {0x1A, 0x10, 0x0A, 0x04};
  const std::size_t marker = FindMarker(data, 0, kTextMarker);
  if (marker == std::string::npos) return std::nullopt;
  std::uint64_t length = 0;
  std::size_t start = marker + 8;
  if (const auto structured = TextStartByStructure(data, marker, length)) {
    start = *structured;
    if (length <= data.size() - start) return TextOf(data, start, start + static_cast<std::size_t>(length));
    // The blob breaks off inside the text: take what is there.
  } else {
    // A text length of one byte after the first 12 near the marker.
    for (std::size_t i = 0; i < 8 && marker + i < data.size(); ++i) {
      if (data[marker + i] == 0x12) {
        start = marker + i + 2;
        break;
      }
    }
    if (start > data.size()) return std::nullopt;
  }
  std::size_t end = FindMarker(data, start, kRunMarker);
  if (end == std::string::npos) {
    const auto zero = std::find(data.begin() + static_cast<std::ptrdiff_t>(start), data.end(), std::uint8_t{0});
    end = static_cast<std::size_t>(zero - data.begin());
  }
  return TextOf(data, start, end);
}

void WriteNotesCsv(exporting::CExportWriter& writer, const std::vector<db::BaseItem*>& notes) {
  std::vector<const DBITEM_Note*> selected;
  for (const db::BaseItem* item : notes) {
    if (const auto* note = dynamic_cast<const DBITEM_Note*>(item)) selected.push_back(note);
  }
  // The list page is laid out by BeginList, which needs at least one line.
  writer.BeginList(std::max<int>(1, static_cast<int>(selected.size())));
  writer.SetHeader("标题,日期,备注\r\n");
  for (const DBITEM_Note* note : selected) {
    if (writer.Cancelled()) return;
    const std::string title = note->titleText.empty() ? db::LeftUtf16(note->body, kCsvTitleUnits) : note->titleText;
    const std::string line =
        db::CsvQuoteField(title) + "," + db::FormatItemTime(note->time) + "," + db::CsvQuoteField(note->body) + "\r\n";
    writer.AddLine(exporting::kToCsvAndHtml, line, note->deleted != 0);
  }
}

}  // namespace readers
