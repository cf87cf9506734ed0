#include "testing/sample_notes.h"

#include <zlib.h>

#include <cstdio>
#include <map>
#include <sstream>
#include <stdexcept>

#include "testing/sample_media.h"
#include "testing/sql_literal.h"

namespace sample {
namespace {

// Columns after Z_PK, as runs of one type.
struct ColumnRun {
  const char* type;
  const char* names;  // separated by blanks
};

const ColumnRun k106ColumnRuns[] = {
    {"INTEGER",
     "Z_ENT Z_OPT ZCRYPTOITERATIONCOUNT ZISPASSWORDPROTECTED ZMARKEDFORDELETION "
     "ZMINIMUMSUPPORTEDNOTESVERSION ZNEEDSINITIALFETCHFROMCLOUD ZNEEDSTOBEFETCHEDFROMCLOUD "
     "ZNEEDSTOSAVEUSERSPECIFICRECORD ZCLOUDSTATE ZACCOUNT ZCHECKEDFORLOCATION ZFILESIZE ZHASMARKUPDATA "
     "ZIMAGEFILTERTYPE ZNEEDSINITIALRELATIONSHIPSETUP ZORIENTATION ZACCOUNT1 ZLOCATION ZMEDIA ZNOTE "
     "ZNOTEUSINGTITLEFORNOTETITLE ZPARENTATTACHMENT ZVERSION ZATTACHMENT ZSTATE ZACCOUNT2 ZACCOUNT3 "
     "ZACCOUNT4 ZNOTE1 ZPARENTATTACHMENT1 ZTYPE ZACCOUNT5 ZACCOUNT6 ZATTACHMENT1 ZATTACHMENTVIEWTYPE "
     "ZHASCHECKLIST ZHASCHECKLISTINPROGRESS ZISPINNED ZLEGACYNOTEWASPLAINTEXT ZNOTEHASCHANGES ZACCOUNT7 "
     "ZFOLDER ZNOTEDATA ZTITLESOURCEATTACHMENT ZISHIDDENNOTECONTAINER ZSORTORDER ZOWNER ZACCOUNTTYPE "
     "ZDIDCHOOSETOMIGRATE ZDIDFINISHMIGRATION ZSTOREDATASEPARATELY ZACCOUNTDATA ZFOLDERTYPE "
     "ZIMPORTEDFROMLEGACY ZACCOUNT8 ZPARENT"},
    {"TIMESTAMP", "ZCREATIONDATE"},
    {"FLOAT", "ZDURATION"},
    {"TIMESTAMP", "ZMODIFICATIONDATE ZPREVIEWUPDATEDATE"},
    {"FLOAT", "ZSIZEHEIGHT"},
    {"TIMESTAMP", "ZCREATIONDATE1 ZMODIFICATIONDATE1 ZFOLDERMODIFICATIONDATE ZLASTVIEWEDMODIFICATIONDATE"},
    {"VARCHAR",
     "ZIDENTIFIER ZPASSWORDHINT ZZONEOWNERNAME ZREMOTEFILEURLSTRING ZSUMMARY ZTITLE ZTYPEUTI "
     "ZTHUMBNAILATTACHMENTIDENTIFIER ZURLSTRING ZUSERTITLE ZDEVICEIDENTIFIER ZLEGACYCONTENTHASHATIMPORT "
     "ZLEGACYIMPORTDEVICEIDENTIFIER ZTITLE1 ZFALLBACKTITLE ZSNIPPET ZTITLE2 ZNESTEDTITLEFORSORTING "
     "ZACCOUNTNAMEFORACCOUNTLISTSORTING ZLEGACYMANAGEDOBJECTIDURIREPRESENTATION ZUSERRECORDNAME"},
    {"BLOB",
     "ZASSETCRYPTOINITIALIZATIONVECTOR ZASSETCRYPTOTAG ZCRYPTOINITIALIZATIONVECTOR ZCRYPTOSALT ZCRYPTOTAG "
     "ZCRYPTOWRAPPEDKEY ZENCRYPTEDVALUESJSON ZREPLICAIDTONOTESVERSIONDATA ZSERVERRECORDDATA ZSERVERSHAREDATA "
     "ZUNAPPLIEDENCRYPTEDRECORD ZUSERSPECIFICSERVERRECORDDATA ZMERGEABLEDATA "
     "ZFALLBACKIMAGECRYPTOINITIALIZATIONVECTOR ZFALLBACKIMAGECRYPTOTAG ZMARKUPMODELDATA ZMERGEABLEDATA1 "
     "ZMETADATADATA"},
};

// The iOS 17 table, columns in the phone's order (the last ones were added
// by later versions of the app, at the end).
const ColumnRun kIos17ColumnRuns[] = {
    {"INTEGER",
     "Z_ENT Z_OPT ZCRYPTOITERATIONCOUNT ZISPASSWORDPROTECTED ZISSHAREDIRTY ZMARKEDFORDELETION "
     "ZMINIMUMSUPPORTEDNOTESVERSION ZNEEDSINITIALFETCHFROMCLOUD ZNEEDSTOBEFETCHEDFROMCLOUD "
     "ZNEEDSTOSAVEUSERSPECIFICRECORD ZCLOUDSTATE ZINVITATION ZLOCKEDNOTESMODE ZACCOUNT "
     "ZCHECKEDFORLOCATION ZFILESIZE ZHANDWRITINGSUMMARYVERSION ZHASMARKUPDATA "
     "ZIMAGECLASSIFICATIONSUMMARYVERSION ZIMAGEFILTERTYPE ZNEEDSINITIALRELATIONSHIPSETUP "
     "ZOCRSUMMARYVERSION ZORIENTATION ZSECTION ZURLEXPIRED ZACCOUNT1 ZLOCATION ZMEDIA ZNOTE "
     "ZNOTEUSINGTITLEFORNOTETITLE ZPARENTATTACHMENT ZAPPEARANCETYPE ZSCALEWHENDRAWING ZVERSION "
     "ZVERSIONOUTOFDATE ZATTACHMENT ZSTATE ZACCOUNT2 ZACCOUNT3 ZMENTIONNOTIFICATIONATTEMPTCOUNT "
     "ZMENTIONNOTIFICATIONSTATE ZACCOUNT4 ZNOTE1 ZPARENTATTACHMENT1 ZTYPE ZACCOUNT5 ZACCOUNT6 "
     "ZATTACHMENT1 ZATTACHMENTVIEWTYPE ZHASCHECKLIST ZHASCHECKLISTINPROGRESS ZISPINNED "
     "ZISSYSTEMPAPER ZLEGACYNOTEWASPLAINTEXT ZNOTEHASCHANGES ZPAPERSTYLETYPE "
     "ZPREFERREDBACKGROUNDTYPE ZACCOUNT7 ZFOLDER ZNOTEDATA ZTITLESOURCEATTACHMENT "
     "ZDATEHEADERSTYPE ZISHIDDENNOTECONTAINER ZSORTORDER ZOWNER ZACCOUNTTYPE "
     "ZDIDCHOOSETOMIGRATE ZDIDFINISHMIGRATION ZDIDMIGRATEONMAC "
     "ZSERVERSIDEUPDATETASKFAILURECOUNT ZSTOREDATASEPARATELY ZACCOUNTDATA "
     "ZCUSTOMNOTESORTTYPEVALUE ZFOLDERTYPE ZIMPORTEDFROMLEGACY ZACCOUNT8 ZPARENT"},
    {"TIMESTAMP", "ZCREATIONDATE"},
    {"FLOAT",
     "ZCROPPINGQUADBOTTOMLEFTX ZCROPPINGQUADBOTTOMLEFTY ZCROPPINGQUADBOTTOMRIGHTX "
     "ZCROPPINGQUADBOTTOMRIGHTY ZCROPPINGQUADTOPLEFTX ZCROPPINGQUADTOPLEFTY "
     "ZCROPPINGQUADTOPRIGHTX ZCROPPINGQUADTOPRIGHTY ZDURATION"},
    {"TIMESTAMP", "ZMODIFICATIONDATE"},
    {"FLOAT", "ZORIGINX ZORIGINY"},
    {"TIMESTAMP", "ZPREVIEWUPDATEDATE"},
    {"FLOAT", "ZSIZEHEIGHT ZSIZEWIDTH ZHEIGHT"},
    {"TIMESTAMP", "ZMODIFIEDDATE"},
    {"FLOAT", "ZSCALE ZWIDTH"},
    {"TIMESTAMP",
     "ZSTATEMODIFICATIONDATE ZCREATIONDATE1 ZCREATIONDATE2 ZMODIFICATIONDATEATIMPORT "
     "ZCREATIONDATE3 ZFOLDERMODIFICATIONDATE ZLASTACTIVITYRECENTUPDATESVIEWEDDATE "
     "ZLASTACTIVITYSUMMARYVIEWEDDATE ZLASTATTRIBUTIONSVIEWEDDATE ZLASTNOTIFIEDDATE "
     "ZLASTOPENEDDATE ZLASTVIEWEDMODIFICATIONDATE ZLEGACYMODIFICATIONDATEATIMPORT "
     "ZMODIFICATIONDATE1 ZCUSTOMNOTESORTTYPEMODIFICATIONDATE ZDATEFORLASTTITLEMODIFICATION "
     "ZPARENTMODIFICATIONDATE"},
    {"VARCHAR",
     "ZIDENTIFIER ZPASSWORDHINT ZZONEOWNERNAME ZADDITIONALINDEXABLETEXT ZFALLBACKSUBTITLEIOS "
     "ZFALLBACKSUBTITLEMAC ZFALLBACKTITLE ZHANDWRITINGSUMMARY ZIMAGECLASSIFICATIONSUMMARY "
     "ZOCRSUMMARY ZREMOTEFILEURLSTRING ZSUMMARY ZTITLE ZTYPEUTI ZURLSTRING ZUSERTITLE "
     "ZDEVICEIDENTIFIER ZDISPLAYTEXT ZSTANDARDIZEDCONTENT ZALTTEXT ZTOKENCONTENTIDENTIFIER "
     "ZTYPEUTI1 ZCONTENTHASHATIMPORT ZFILENAME ZLEGACYCONTENTHASHATIMPORT "
     "ZLEGACYIMPORTDEVICEIDENTIFIER ZLEGACYMANAGEDOBJECTIDURIREPRESENTATION "
     "ZSELECTEDINKCOLORSTRING ZSELECTEDINKIDENTIFIER ZSNIPPET ZTHUMBNAILATTACHMENTIDENTIFIER "
     "ZTITLE1 ZACCOUNTNAMEFORACCOUNTLISTSORTING ZNESTEDTITLEFORSORTING ZNAME "
     "ZSERVERSIDEUPDATETASKLASTATTEMPTEDBUILD ZSERVERSIDEUPDATETASKLASTATTEMPTEDVERSION "
     "ZSERVERSIDEUPDATETASKLASTCOMPLETEDBUILD ZSERVERSIDEUPDATETASKLASTCOMPLETEDVERSION "
     "ZUSERRECORDNAME ZSMARTFOLDERQUERYJSON ZTITLE2"},
    {"BLOB",
     "ZREPLICAIDTOBUNDLEIDENTIFIER ZACTIVITYEVENTSDATA ZASSETCRYPTOINITIALIZATIONVECTOR "
     "ZASSETCRYPTOTAG ZCRYPTOINITIALIZATIONVECTOR ZCRYPTOSALT ZCRYPTOTAG ZCRYPTOWRAPPEDKEY "
     "ZENCRYPTEDVALUESJSON ZREPLICAIDTONOTESVERSIONDATA ZSERVERRECORDDATA ZSERVERSHAREDATA "
     "ZUNAPPLIEDENCRYPTEDRECORD ZUSERSPECIFICSERVERRECORDDATA ZMERGEABLEDATA "
     "ZFALLBACKIMAGECRYPTOINITIALIZATIONVECTOR ZFALLBACKIMAGECRYPTOTAG "
     "ZLINKPRESENTATIONARCHIVEDMETADATA ZMARKUPMODELDATA ZMERGEABLEDATA1 ZMETADATADATA "
     "ZSYNAPSEDATA ZCRYPTOMETADATAINITIALIZATIONVECTOR ZCRYPTOMETADATATAG ZENCRYPTEDMETADATA "
     "ZMETADATA ZLASTNOTIFIEDTIMESTAMPDATA ZLASTVIEWEDTIMESTAMPDATA ZREPLICAIDTOUSERIDDICTDATA "
     "ZCRYPTOVERIFIER ZSERVERSIDEUPDATETASKCONTINUATIONTOKEN ZMERGEABLEDATA2"},
    {"VARCHAR", "ZGENERATION"},
    {"TIMESTAMP", "ZLASTSYNCDATE"},
    {"VARCHAR", "ZPAPERBUNDLEGENERATION"},
    {"BLOB", "ZFALLBACKPDFCRYPTOTAG"},
    {"VARCHAR", "ZGENERATION1 ZFALLBACKIMAGEGENERATION"},
    {"INTEGER", "ZSUPPORTSV1NEO"},
    {"VARCHAR", "ZWIDGETSNIPPET"},
    {"BLOB", "ZCRYPTOPASSPHRASEVERIFIER ZFALLBACKPDFCRYPTOINITIALIZATIONVECTOR ZMERGEABLEPREFERREDVIEWSIZE"},
    {"VARCHAR", "ZFALLBACKPDFGENERATION"},
};

struct Column {
  std::string name;
  std::string type;
};

std::vector<Column> ObjectColumns(NoteStoreShape shape) {
  std::vector<Column> columns = {{"Z_PK", "INTEGER PRIMARY KEY"}};
  auto add = [&columns](const auto& runs) {
    for (const ColumnRun& run : runs) {
      std::istringstream names(run.names);
      for (std::string name; names >> name;) columns.push_back({name, run.type});
    }
  };
  if (shape == NoteStoreShape::k106Columns) {
    add(k106ColumnRuns);
  } else {
    add(kIos17ColumnRuns);
  }
  return columns;
}

// A UUID in the phone's upper-case form, the same on every run.
std::string Uuid(std::uint64_t seed) {
  const std::uint64_t mixed = (seed + 7) * 0x9E3779B97F4A7C15ull;
  char text[40];
  std::snprintf(text, sizeof text, "%08X-%04X-4%03X-8%03X-%012llX", static_cast<unsigned>(mixed >> 32),
                static_cast<unsigned>((mixed >> 16) & 0xFFFF), static_cast<unsigned>(mixed & 0xFFF),
                static_cast<unsigned>((mixed >> 20) & 0xFFF),
                static_cast<unsigned long long>(mixed & 0xFFFFFFFFFFFFull));
  return text;
}

using Row = std::map<std::string, std::string>;  // column name -> SQL literal

// The INSERT of one object row; values of columns the shape lacks are left
// out, every other column is NULL.
std::string ObjectInsert(const std::vector<Column>& columns, const Row& row) {
  std::string names;
  std::string values;
  for (const Column& column : columns) {
    const auto value = row.find(column.name);
    if (value == row.end()) continue;
    if (!names.empty()) {
      names += ", ";
      values += ", ";
    }
    names += column.name;
    values += value->second;
  }
  return "INSERT INTO ZICCLOUDSYNCINGOBJECT (" + names + ") VALUES (" + values + ");\n";
}

// The columns every object row fills: the syncing object's flags (never
// NULL on a phone) and its cloud state.
Row ObjectRow(std::int64_t pk, int entity) {
  const std::string key = std::to_string(pk);
  return {{"Z_PK", key},
          {"Z_ENT", std::to_string(entity)},
          {"Z_OPT", "1"},
          {"ZCRYPTOITERATIONCOUNT", "0"},
          {"ZISPASSWORDPROTECTED", "0"},
          {"ZISSHAREDIRTY", "0"},
          {"ZMARKEDFORDELETION", "0"},
          {"ZMINIMUMSUPPORTEDNOTESVERSION", "0"},
          {"ZNEEDSINITIALFETCHFROMCLOUD", "0"},
          {"ZNEEDSTOBEFETCHEDFROMCLOUD", "0"},
          {"ZNEEDSTOSAVEUSERSPECIFICRECORD", "0"},
          {"ZCLOUDSTATE", key},
          {"ZIDENTIFIER", SqlText(Uuid(static_cast<std::uint64_t>(pk)))}};
}

void AppendVarint(std::vector<std::uint8_t>& out, std::uint64_t value) {
  while (value >= 0x80) {
    out.push_back(static_cast<std::uint8_t>(value | 0x80));
    value >>= 7;
  }
  out.push_back(static_cast<std::uint8_t>(value));
}

void AppendField(std::vector<std::uint8_t>& out, std::uint8_t tag, const std::vector<std::uint8_t>& message) {
  out.push_back(tag);
  AppendVarint(out, message.size());
  out.insert(out.end(), message.begin(), message.end());
}

std::size_t Utf16Units(const std::string& text) {
  std::size_t units = 0;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte & 0xC0) != 0x80) units += byte >= 0xF0 ? 2 : 1;
  }
  return units;
}

std::vector<std::uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

// Bytes that look like the output of a cipher, the same for one seed on
// every run (a linear congruential generator's high bytes).
std::vector<std::uint8_t> PseudoRandomBytes(std::size_t count, std::uint32_t seed) {
  std::vector<std::uint8_t> out(count);
  std::uint32_t state = seed * 2654435761u + 1;
  for (std::uint8_t& byte : out) {
    state = state * 1664525u + 1013904223u;
    byte = static_cast<std::uint8_t>(state >> 24);
  }
  return out;
}

// ZDATA of a note: the text's blob, or for a locked note that blob
// encrypted (here: mixed with pseudo-random bytes, so nothing of the text
// or of the gzip header is left to read).
std::vector<std::uint8_t> NoteDataBlobOf(const SampleNote& note, std::uint32_t seed) {
  std::vector<std::uint8_t> blob = NoteDataBlob(note.text);
  if (!note.locked) return blob;
  const std::vector<std::uint8_t> stream = PseudoRandomBytes(blob.size(), seed);
  for (std::size_t i = 0; i < blob.size(); ++i) blob[i] = static_cast<std::uint8_t>(blob[i] ^ stream[i]);
  return blob;
}

}  // namespace

int NoteObjectColumns(NoteStoreShape shape) { return static_cast<int>(ObjectColumns(shape).size()); }

std::vector<std::string> NoteObjectColumnNames(NoteStoreShape shape) {
  std::vector<std::string> names;
  for (const Column& column : ObjectColumns(shape)) names.push_back(column.name);
  return names;
}

std::string NotesSqliteSql(const std::vector<SampleLegacyNote>& notes) {
  std::string sql =
      "CREATE TABLE ZNOTEBODY ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZOWNER INTEGER, "
      "ZCONTENT VARCHAR, ZEXTERNALCONTENTREF VARCHAR, ZEXTERNALREPRESENTATION BLOB );\n"
      "CREATE INDEX ZNOTEBODY_ZOWNER_INDEX ON ZNOTEBODY (ZOWNER);\n"
      "CREATE TABLE ZNOTE ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZCONTAINSCJK INTEGER, "
      "ZCONTENTTYPE INTEGER, ZDELETEDFLAG INTEGER, ZEXTERNALFLAGS INTEGER, ZEXTERNALSEQUENCENUMBER INTEGER, "
      "ZEXTERNALSERVERINTID INTEGER, ZINTEGERID INTEGER, ZISBOOKKEEPINGENTRY INTEGER, ZBODY INTEGER, "
      "ZSTORE INTEGER, ZCREATIONDATE TIMESTAMP, ZMODIFICATIONDATE TIMESTAMP, ZAUTHOR VARCHAR, ZGUID VARCHAR, "
      "ZSERVERID VARCHAR, ZSUMMARY VARCHAR, ZTITLE VARCHAR );\n"
      "CREATE INDEX ZNOTE_ZINTEGERID_INDEX ON ZNOTE (ZINTEGERID);\n"
      "CREATE INDEX ZNOTE_ZBODY_INDEX ON ZNOTE (ZBODY);\n"
      "CREATE INDEX ZNOTE_ZSTORE_INDEX ON ZNOTE (ZSTORE);\n"
      "CREATE TABLE ZSTORE ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZACCOUNT INTEGER, "
      "ZEXTERNALIDENTIFIER VARCHAR, ZNAME VARCHAR, ZSYNCANCHOR VARCHAR );\n"
      "CREATE INDEX ZSTORE_ZACCOUNT_INDEX ON ZSTORE (ZACCOUNT);\n"
      "CREATE TABLE ZACCOUNT ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZTYPE INTEGER, "
      "ZDEFAULTSTORE INTEGER, ZACCOUNTIDENTIFIER VARCHAR, ZCONSTRAINTSPATH VARCHAR, ZNAME VARCHAR );\n"
      "CREATE INDEX ZACCOUNT_ZDEFAULTSTORE_INDEX ON ZACCOUNT (ZDEFAULTSTORE);\n"
      "CREATE TABLE Z_PRIMARYKEY (Z_ENT INTEGER PRIMARY KEY, Z_NAME VARCHAR, Z_SUPER INTEGER, Z_MAX INTEGER);\n"
      "CREATE TABLE Z_METADATA (Z_VERSION INTEGER PRIMARY KEY, Z_UUID VARCHAR(255), Z_PLIST BLOB);\n"
      "INSERT INTO Z_METADATA VALUES (1, '" +
      Uuid(1000) +
      "', NULL);\n"
      "INSERT INTO ZACCOUNT VALUES (1, 1, 1, 0, 1, 'local://local/account', NULL, 'On My iPhone');\n"
      "INSERT INTO ZSTORE VALUES (1, 4, 1, 1, 'local://local/store', 'Notes', NULL);\n";
  const std::string count = std::to_string(notes.size());
  sql +=
      "INSERT INTO Z_PRIMARYKEY VALUES (1, 'Account', 0, 1);\n"
      "INSERT INTO Z_PRIMARYKEY VALUES (2, 'Note', 0, " +
      count +
      ");\n"
      "INSERT INTO Z_PRIMARYKEY VALUES (3, 'NoteBody', 0, " +
      count +
      ");\n"
      "INSERT INTO Z_PRIMARYKEY VALUES (4, 'Store', 0, 1);\n";
  for (std::size_t i = 0; i < notes.size(); ++i) {
    const SampleLegacyNote& note = notes[i];
    const std::string pk = std::to_string(i + 1);
    sql += "INSERT INTO ZNOTE VALUES (" + pk + ", 2, 1, 1, 0, 0, 0, 0, NULL, " + pk + ", 0, " + pk + ", 1, " +
           SqlReal(note.createdAppleSeconds) + ", " + SqlReal(note.modifiedAppleSeconds) + ", NULL, '" + Uuid(2000 + i) +
           "', NULL, " + SqlTextOrNull(note.title) + ", " + SqlTextOrNull(note.title) + ");\n";
    sql +=
        "INSERT INTO ZNOTEBODY VALUES (" + pk + ", 3, 1, " + pk + ", " + SqlTextOrNull(note.content) + ", NULL, NULL);\n";
  }
  return sql;
}

std::vector<SampleLegacyNote> SampleLegacyNotes() {
  // 420000000 is 2014-04-24 02:40:00 UTC.
  return {
      {"买菜", "买菜<div>土豆 两斤</div><div>西红柿</div>", 420000000.25, 420000600.5},
      {"Wi-Fi password", "Wi-Fi password<div>home: lin2014, \"guest\": 88886666</div>", 421000000.75, 421500000.125},
  };
}

std::int64_t NotePk(const SampleNoteStore& store, std::size_t note) {
  const auto offset = store.attachmentsFirst ? static_cast<std::int64_t>(store.attachments.size()) : 0;
  return kFirstObjectPk + offset + static_cast<std::int64_t>(note);
}

NoteStoreSqlParts NoteStoreSql(NoteStoreShape shape, const SampleNoteStore& store) {
  const std::vector<Column> columns = ObjectColumns(shape);
  const bool ios17 = shape == NoteStoreShape::kIos17;
  NoteStoreSqlParts parts;
  std::string& sql = parts.setup;
  sql = "CREATE TABLE ZICCLOUDSYNCINGOBJECT ( ";
  for (std::size_t i = 0; i < columns.size(); ++i) {
    sql += (i == 0 ? "" : ", ") + columns[i].name + " " + columns[i].type;
  }
  sql += " );\n";
  for (const char* indexed : {"ZCLOUDSTATE", "ZACCOUNT", "ZNOTE", "ZFOLDER", "ZNOTEDATA", "ZOWNER", "Z_ENT"}) {
    sql += std::string("CREATE INDEX ZICCLOUDSYNCINGOBJECT_") + indexed + "_INDEX ON ZICCLOUDSYNCINGOBJECT (" +
           indexed + ");\n";
  }
  sql +=
      "CREATE UNIQUE INDEX Z_ICCloudSyncingObject_UNIQUE_identifier ON ZICCLOUDSYNCINGOBJECT (ZIDENTIFIER "
      "COLLATE BINARY ASC);\n"
      "CREATE TABLE ZICNOTEDATA ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZNOTE INTEGER, "
      "ZCRYPTOINITIALIZATIONVECTOR BLOB, ZCRYPTOTAG BLOB, ZDATA BLOB );\n"
      "CREATE INDEX ZICNOTEDATA_ZNOTE_INDEX ON ZICNOTEDATA (ZNOTE);\n"
      "CREATE TABLE Z_PRIMARYKEY (Z_ENT INTEGER PRIMARY KEY, Z_NAME VARCHAR, Z_SUPER INTEGER, Z_MAX INTEGER);\n"
      "CREATE TABLE Z_METADATA (Z_VERSION INTEGER PRIMARY KEY, Z_UUID VARCHAR(255), Z_PLIST BLOB);\n"
      "INSERT INTO Z_METADATA VALUES (1, '" +
      Uuid(3000) +
      "', NULL);\n"
      "INSERT INTO Z_PRIMARYKEY VALUES (2, 'ICCloudSyncingObject', 0, 0);\n"
      "INSERT INTO Z_PRIMARYKEY VALUES (4, 'ICAttachment', 2, 0);\n"
      "INSERT INTO Z_PRIMARYKEY VALUES (10, 'ICMedia', 2, 0);\n"
      "INSERT INTO Z_PRIMARYKEY VALUES (11, 'ICNote', 2, 0);\n"
      "INSERT INTO Z_PRIMARYKEY VALUES (12, 'ICNoteContainer', 2, 0);\n"
      "INSERT INTO Z_PRIMARYKEY VALUES (13, 'ICAccount', 12, 0);\n"
      "INSERT INTO Z_PRIMARYKEY VALUES (14, 'ICFolder', 12, 0);\n"
      "INSERT INTO Z_PRIMARYKEY VALUES (18, 'ICNoteData', 0, 0);\n";

  Row account = ObjectRow(1, kAccountEntity);
  account["ZACCOUNTTYPE"] = "3";
  account["ZNAME"] = SqlText("On My iPhone");
  account["ZTITLE2"] = SqlText("On My iPhone");
  sql += ObjectInsert(columns, account);
  Row folder = ObjectRow(2, kFolderEntity);
  folder["ZOWNER"] = "1";
  folder["ZFOLDERTYPE"] = "0";
  folder["ZTITLE2"] = SqlText("备忘录");
  folder["ZFOLDERMODIFICATIONDATE"] = SqlReal(626000000.5);
  sql += ObjectInsert(columns, folder);

  // The media rows follow the last attachment or note, one per attachment
  // that has one; the Recently Deleted folder comes last.
  const std::int64_t afterNotes = NotePk(store, store.notes.size());
  const std::int64_t firstMediaPk = afterNotes + (store.attachmentsFirst ? 0 : static_cast<std::int64_t>(store.attachments.size()));
  std::map<std::size_t, std::int64_t> mediaPks;
  for (std::size_t i = 0; i < store.attachments.size(); ++i) {
    if (!store.attachments[i].mediaIdentifier.empty()) {
      mediaPks[i] = firstMediaPk + static_cast<std::int64_t>(mediaPks.size());
    }
  }
  const std::int64_t trashPk = firstMediaPk + static_cast<std::int64_t>(mediaPks.size());

  auto attachmentRows = [&](std::string& out, std::int64_t firstPk) {
    for (std::size_t i = 0; i < store.attachments.size(); ++i) {
      const SampleAttachment& attachment = store.attachments[i];
      Row row = ObjectRow(firstPk + static_cast<std::int64_t>(i), kAttachmentEntity);
      row["ZIDENTIFIER"] = SqlTextOrNull(attachment.identifier);
      row["ZNOTE"] = std::to_string(NotePk(store, attachment.note));
      if (const auto media = mediaPks.find(i); media != mediaPks.end()) row["ZMEDIA"] = std::to_string(media->second);
      row["ZTYPEUTI"] = SqlText(attachment.typeUti);
      row["ZCREATIONDATE"] = SqlReal(store.notes[attachment.note].createdAppleSeconds + 30.5);
      row["ZMODIFICATIONDATE"] = SqlReal(store.notes[attachment.note].createdAppleSeconds + 30.5);
      out += ObjectInsert(columns, row);
    }
  };
  if (store.attachmentsFirst) attachmentRows(sql, kFirstObjectPk);

  std::int64_t dataPk = 0;
  std::string& deletions = parts.deletions;
  for (std::size_t i = 0; i < store.notes.size(); ++i) {
    const SampleNote& note = store.notes[i];
    std::string& out = note.recent ? parts.recent : sql;
    const std::int64_t pk = NotePk(store, i);
    Row row = ObjectRow(pk, kNoteEntity);
    row["ZMARKEDFORDELETION"] = note.markedForDeletion ? "1" : "0";
    row["ZISPASSWORDPROTECTED"] = note.locked ? "1" : "0";
    row["ZACCOUNT2"] = "1";
    row["ZFOLDER"] = note.inTrash ? std::to_string(trashPk) : "2";
    row["ZFOLDERMODIFICATIONDATE"] =
        SqlReal(note.inTrash ? note.modifiedAppleSeconds + kTrashMoveSeconds : note.createdAppleSeconds);
    row[ios17 ? "ZCREATIONDATE3" : "ZCREATIONDATE1"] = SqlReal(note.createdAppleSeconds);
    row["ZMODIFICATIONDATE1"] = SqlReal(note.modifiedAppleSeconds);
    row["ZTITLE1"] = SqlTextOrNull(note.title);
    row["ZSNIPPET"] = SqlTextOrNull(note.locked ? std::string() : note.snippet);
    if (note.locked) {
      row["ZCRYPTOITERATIONCOUNT"] = "20000";
      row["ZCRYPTOSALT"] = SqlBlob(PseudoRandomBytes(16, static_cast<std::uint32_t>(pk)));
      row["ZCRYPTOWRAPPEDKEY"] = SqlBlob(PseudoRandomBytes(24, static_cast<std::uint32_t>(pk) + 1));
    }
    for (const SampleAttachment& attachment : store.attachments) {
      if (attachment.note == i) row["ZTHUMBNAILATTACHMENTIDENTIFIER"] = SqlText(attachment.identifier);
    }
    if (note.hasData) {
      ++dataPk;
      row["ZNOTEDATA"] = std::to_string(dataPk);
      const auto seed = static_cast<std::uint32_t>(dataPk) * 7919u;
      const std::string crypto = note.locked ? SqlBlob(PseudoRandomBytes(16, seed)) + ", " +
                                                   SqlBlob(PseudoRandomBytes(16, seed + 1)) + ", "
                                             : std::string("NULL, NULL, ");
      out += "INSERT INTO ZICNOTEDATA VALUES (" + std::to_string(dataPk) + ", " + std::to_string(kNoteDataEntity) +
             ", 1, " + std::to_string(pk) + ", " + crypto + SqlBlob(NoteDataBlobOf(note, seed + 2)) + ");\n";
      if (note.deleted) deletions += "DELETE FROM ZICNOTEDATA WHERE Z_PK = " + std::to_string(dataPk) + ";\n";
    }
    out += ObjectInsert(columns, row);
    if (note.deleted) deletions += "DELETE FROM ZICCLOUDSYNCINGOBJECT WHERE Z_PK = " + std::to_string(pk) + ";\n";
  }
  if (!store.attachmentsFirst) attachmentRows(sql, afterNotes);
  for (const auto& [attachmentIndex, mediaPk] : mediaPks) {
    const SampleAttachment& attachment = store.attachments[attachmentIndex];
    Row media = ObjectRow(mediaPk, kMediaEntity);
    media["ZIDENTIFIER"] = SqlText(attachment.mediaIdentifier);
    media["ZFILENAME"] = SqlTextOrNull(attachment.fileName);
    media["ZACCOUNT5"] = "1";
    sql += ObjectInsert(columns, media);
  }
  Row trash = ObjectRow(trashPk, kFolderEntity);
  trash["ZIDENTIFIER"] = SqlText("TrashFolder-LocalAccount");
  trash["ZOWNER"] = "1";
  trash["ZFOLDERTYPE"] = "1";
  trash["ZTITLE2"] = SqlText("最近删除");
  trash["ZFOLDERMODIFICATIONDATE"] = SqlReal(626000000.5);
  sql += ObjectInsert(columns, trash);
  return parts;
}

std::unique_ptr<SqliteFile> NoteStoreDatabase(NoteStoreShape shape, const SampleNoteStore& store,
                                              SqliteFile::Journal journal) {
  const NoteStoreSqlParts parts = NoteStoreSql(shape, store);
  if (journal == SqliteFile::Journal::kRollback) {
    return std::make_unique<SqliteFile>(parts.setup + parts.recent + parts.deletions);
  }
  return std::make_unique<SqliteFile>(parts.setup + parts.deletions, parts.recent, journal);
}

std::vector<std::uint8_t> NoteDataBlob(const std::string& text) {
  // One attribute run over the whole text: paragraph style, length in
  // UTF-16 units, font, and a flag.
  std::vector<std::uint8_t> run = {0x0A, 0x04, 0x08, 0x00, 0x10, 0x00, 0x10};
  AppendVarint(run, Utf16Units(text));
  run.insert(run.end(), {0x1A, 0x04, 0x08, 0x00, 0x10, 0x00, 0x28, 0x01});
  std::vector<std::uint8_t> note;
  AppendField(note, 0x12, Bytes(text));
  AppendField(note, 0x1A, run);
  std::vector<std::uint8_t> version = {0x08, 0x00, 0x10, 0x00};
  AppendField(version, 0x1A, note);
  std::vector<std::uint8_t> document = {0x08, 0x00};
  AppendField(document, 0x12, version);
  return GzipBytes(document);
}

std::vector<std::uint8_t> GzipBytes(const std::vector<std::uint8_t>& bytes) {
  z_stream stream{};
  if (deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    throw std::runtime_error("gzip: cannot start");
  }
  std::vector<std::uint8_t> out(deflateBound(&stream, static_cast<uLong>(bytes.size())) + 32);
  stream.next_in = const_cast<Bytef*>(bytes.data());
  stream.avail_in = static_cast<uInt>(bytes.size());
  stream.next_out = out.data();
  stream.avail_out = static_cast<uInt>(out.size());
  const int result = deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  if (result != Z_STREAM_END) throw std::runtime_error("gzip: cannot finish");
  return out;
}

SampleNoteStore SampleNoteStoreContent() {
  SampleNoteStore store;
  // 626000000 is 2020-11-02 08:53:20 UTC.
  store.notes = {
      {"购物清单", "牛奶 两盒", "购物清单\n牛奶 两盒\n鸡蛋 一打\n苹果", true, 626000000.5, 626003600.25},
      {"周一例会纪要", "一、上周进度回顾",
       "周一例会纪要\n一、上周进度回顾：客户端新版本已提交审核，服务端迁移完成百分之八十。\n"
       "二、本周安排：周三前完成支付模块联调，周五发布测试版。",
       true, 626100000.75, 626190000.5},
      // The text starts with a list marker the app put before the title.
      {"旅行计划", "杭州 三天两晚", "• 旅行计划\n杭州 三天两晚\n西湖 灵隐寺", true, 626200000.125, 626200900.875},
      // A locked note: its text is encrypted.
      {"银行卡", "", "银行卡\n卡号 6222 0210 0011 6688\n查询密码 0815", true, 626300000.5, 626300000.5, false, false,
       false, false, true},
      {"旧地址", "朝阳区建国路 88 号", "旧地址\n朝阳区建国路 88 号", true, 626400000.5, 626400300.5, true},
      {"待办", "交电费", "待办\n交电费\n取快递", true, 626500000.5, 626500100.5, true},
      {"生日礼物", "妈妈 围巾", "生日礼物\n妈妈 围巾\n爸爸 茶叶", true, 626600000.5, 626600500.5, false, true},
      {"Flight CA1501", "PEK-SHA 08:30", "Flight CA1501\nPEK-SHA 08:30, seat 32A", true, 626700000.5, 626700000.75,
       false, false, true},
      // Moved to Recently Deleted, not yet purged.
      {"车位", "B2 区 117", "车位\nB2 区 117\n月租 600", true, 626800000.5, 626800200.5, false, false, false, true},
      // Its text not fetched from the cloud yet: only the snippet.
      {"快递", "SF1234567890", "", false, 626900000.5, 626900000.5},
  };
  store.attachments = {{0, kSampleAttachmentId, "public.jpeg", kSampleMediaId, "IMG_0415.jpeg",
                        "B1C2D3E4-F5A6-4B7C-8D9E-0F1A2B3C4D5E"}};
  return store;
}

std::string AttachmentPreviewPath(const std::string& identifier) {
  return "Accounts/LocalAccount/Previews/" + identifier + "-1-192x144-0.png";
}

std::string MediaOriginalPath(const SampleAttachment& attachment) {
  const std::string folder = "Accounts/LocalAccount/Media/" + attachment.mediaIdentifier + "/";
  return folder + (attachment.generation.empty() ? "" : attachment.generation + "/") + attachment.fileName;
}

std::vector<std::uint8_t> SamplePng() {
  // A 2 x 2 picture, 8-bit RGB: each row a filter byte and two pixels.
  const std::vector<std::uint8_t> pixels = {0, 0xE6, 0x39, 0x46, 0xFF, 0xFF, 0xFF,
                                            0, 0xFF, 0xFF, 0xFF, 0x1D, 0x35, 0x57};
  std::vector<std::uint8_t> compressed(compressBound(static_cast<uLong>(pixels.size())));
  uLongf size = static_cast<uLongf>(compressed.size());
  compress(compressed.data(), &size, pixels.data(), static_cast<uLong>(pixels.size()));
  compressed.resize(size);

  std::vector<std::uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  auto chunk = [&png](const char* type, const std::vector<std::uint8_t>& data) {
    const auto length = static_cast<std::uint32_t>(data.size());
    for (int shift = 24; shift >= 0; shift -= 8) png.push_back(static_cast<std::uint8_t>(length >> shift));
    std::vector<std::uint8_t> body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    png.insert(png.end(), body.begin(), body.end());
    const auto crc = static_cast<std::uint32_t>(crc32(0, body.data(), static_cast<uInt>(body.size())));
    for (int shift = 24; shift >= 0; shift -= 8) png.push_back(static_cast<std::uint8_t>(crc >> shift));
  };
  chunk("IHDR", {0, 0, 0, 2, 0, 0, 0, 2, 8, 2, 0, 0, 0});
  chunk("IDAT", compressed);
  chunk("IEND", {});
  return png;
}

void AddNotesApps(SampleBackupBuilder& builder) {
  builder.AddFolder(kNotesSqliteDomain, "Library/Notes");
  builder.AddDatabase(kNotesSqliteDomain, kNotesSqliteRelativePath, SqliteFile(NotesSqliteSql(SampleLegacyNotes())));
  const std::unique_ptr<SqliteFile> store =
      NoteStoreDatabase(NoteStoreShape::k106Columns, SampleNoteStoreContent(), SqliteFile::Journal::kWalPending);
  builder.AddDatabase(kNoteStoreDomain, kNoteStoreRelativePath, *store);
  builder.AddFolder(kNoteStoreDomain, "Accounts/LocalAccount/Previews");
  builder.AddFile(kNoteStoreDomain, AttachmentPreviewPath(kSampleAttachmentId), SamplePng());
  const SampleAttachment photo = SampleNoteStoreContent().attachments.front();
  builder.AddFolder(kNoteStoreDomain, "Accounts/LocalAccount/Media/" + photo.mediaIdentifier + "/" + photo.generation);
  builder.AddFile(kNoteStoreDomain, MediaOriginalPath(photo), SampleJpeg(7));
}

}  // namespace sample
