#include "testing/sample_contacts.h"

#include <cstdint>
#include <string_view>
#include <vector>

#include "testing/sql_literal.h"

namespace sample {

// The phone's ABPerson and ABMultiValue fill guid with ab_generate_guid(), a
// function of the phone's own SQLite; here the builder writes the guids.
const char kAbPersonTable[] =
    "CREATE TABLE ABPerson (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, First TEXT, Last TEXT, "
    "Middle TEXT, FirstPhonetic TEXT, MiddlePhonetic TEXT, LastPhonetic TEXT, Organization TEXT, "
    "Department TEXT, Note TEXT, Kind INTEGER, Birthday TEXT, JobTitle TEXT, Nickname TEXT, "
    "Prefix TEXT, Suffix TEXT, FirstSort TEXT, LastSort TEXT, CreationDate INTEGER, "
    "ModificationDate INTEGER, CompositeNameFallback TEXT, ExternalIdentifier TEXT, "
    "ExternalModificationTag TEXT, ExternalUUID TEXT, StoreID INTEGER, DisplayName TEXT, "
    "ExternalRepresentation BLOB, FirstSortSection TEXT, LastSortSection TEXT, "
    "FirstSortLanguageIndex INTEGER DEFAULT 2147483647, "
    "LastSortLanguageIndex INTEGER DEFAULT 2147483647, PersonLink INTEGER DEFAULT -1, "
    "ImageURI TEXT, IsPreferredName INTEGER DEFAULT 1, guid TEXT NOT NULL, PhonemeData TEXT, "
    "AlternateBirthday TEXT, MapsData TEXT, FirstPronunciation TEXT, MiddlePronunciation TEXT, "
    "LastPronunciation TEXT, OrganizationPhonetic TEXT, OrganizationPronunciation TEXT, "
    "PreviousFamilyName TEXT, PreferredLikenessSource TEXT, PreferredPersonaIdentifier TEXT, "
    "PreferredChannel TEXT, UNIQUE(guid));";

const char kAbPersonTableIos15[] =
    "CREATE TABLE ABPerson (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, First TEXT, Last TEXT, "
    "Middle TEXT, FirstPhonetic TEXT, MiddlePhonetic TEXT, LastPhonetic TEXT, Organization TEXT, "
    "Department TEXT, Note TEXT, Kind INTEGER, Birthday TEXT, JobTitle TEXT, Nickname TEXT, "
    "Prefix TEXT, Suffix TEXT, FirstSort TEXT, LastSort TEXT, CreationDate INTEGER, "
    "ModificationDate INTEGER, CompositeNameFallback TEXT, ExternalIdentifier TEXT, "
    "ExternalModificationTag TEXT, ExternalUUID TEXT, StoreID INTEGER, DisplayName TEXT, "
    "ExternalRepresentation BLOB, FirstSortSection TEXT, LastSortSection TEXT, "
    "FirstSortLanguageIndex INTEGER DEFAULT 2147483647, "
    "LastSortLanguageIndex INTEGER DEFAULT 2147483647, PersonLink INTEGER DEFAULT -1, "
    "ImageURI TEXT, IsPreferredName INTEGER DEFAULT 1, guid TEXT NOT NULL, PhonemeData TEXT, "
    "AlternateBirthday TEXT, MapsData TEXT, FirstPronunciation TEXT, MiddlePronunciation TEXT, "
    "LastPronunciation TEXT, OrganizationPhonetic TEXT, OrganizationPronunciation TEXT, "
    "PreviousFamilyName TEXT, PreferredLikenessSource TEXT, PreferredPersonaIdentifier TEXT, "
    "PreferredChannel TEXT, DowntimeWhitelist TEXT, ImageType TEXT, ImageHash BLOB, "
    "MemojiMetadata BLOB, UNIQUE(guid));";

const char kAbMultiValueTable[] =
    "CREATE TABLE ABMultiValue (UID INTEGER PRIMARY KEY, record_id INTEGER, property INTEGER, "
    "identifier INTEGER, label INTEGER, value TEXT, guid TEXT NOT NULL, UNIQUE(guid));";

const char kAbMultiValueEntryTable[] =
    "CREATE TABLE ABMultiValueEntry (parent_id INTEGER, key INTEGER, value TEXT, "
    "UNIQUE(parent_id, key));";

const char kAbMultiValueLabelTable[] = "CREATE TABLE ABMultiValueLabel (value TEXT, UNIQUE(value));";

const char kAbMultiValueEntryKeyTable[] = "CREATE TABLE ABMultiValueEntryKey (value TEXT, UNIQUE(value));";

const char kAbPersonFullTextContentTable[] =
    "CREATE TABLE 'ABPersonFullTextSearch_content'(docid INTEGER PRIMARY KEY, 'c0First', "
    "'c1Last', 'c2Middle', 'c3FirstPhonetic', 'c4MiddlePhonetic', 'c5LastPhonetic', "
    "'c6Organization', 'c7OrganizationPhonetic', 'c8Department', 'c9Note', 'c10Birthday', "
    "'c11JobTitle', 'c12Nickname', 'c13Prefix', 'c14Suffix', 'c15DisplayName', 'c16Phone', "
    "'c17Email', 'c18Address', 'c19SocialProfile', 'c20URL', 'c21RelatedNames', 'c22IM', "
    "'c23Date', 'c24SupplementalCompositeNameTerms');";

namespace {

// The phone formats numbers with non-breaking spaces between digit groups.
constexpr std::string_view kNbsp = "\xC2\xA0";

struct Person {
  int rowId;
  std::string_view first;
  std::string_view last;
  std::string_view firstPhonetic;
  std::string_view nickname;
  std::string_view organization;
  std::string_view note;
  int kind;  // 0 a person, 1 an organisation
  std::int64_t appleSeconds;
  std::string_view guid;
};

std::string PersonInsert(const Person& p) {
  // The sort keys are never empty on the phone: the name, else the
  // organisation, else the nickname.
  std::string sortKey = std::string(p.last) + std::string(p.first);
  if (sortKey.empty()) sortKey = p.organization.empty() ? p.nickname : p.organization;
  const std::string seconds = std::to_string(p.appleSeconds);
  return "INSERT INTO ABPerson (ROWID, First, Last, FirstPhonetic, Organization, Note, Kind, Nickname, "
         "FirstSort, LastSort, CreationDate, ModificationDate, StoreID, FirstSortSection, "
         "LastSortSection, guid) VALUES (" +
         std::to_string(p.rowId) + ", " + SqlTextOrNull(p.first) + ", " + SqlTextOrNull(p.last) + ", " +
         SqlTextOrNull(p.firstPhonetic) + ", " + SqlTextOrNull(p.organization) + ", " + SqlTextOrNull(p.note) + ", " +
         std::to_string(p.kind) + ", " + SqlTextOrNull(p.nickname) + ", " + SqlTextOrNull(sortKey) + ", " +
         SqlTextOrNull(sortKey) + ", " + seconds + ", " + seconds + ", 0, " + SqlTextOrNull(sortKey.substr(0, 1)) +
         ", " + SqlTextOrNull(sortKey.substr(0, 1)) + ", " + SqlTextOrNull(p.guid) + ");\n";
}

std::string MultiValueInsert(int uid, int rowId, int property, int identifier, int label,
                             std::string_view value) {
  return "INSERT INTO ABMultiValue (UID, record_id, property, identifier, label, value, guid) VALUES (" +
         std::to_string(uid) + ", " + std::to_string(rowId) + ", " + std::to_string(property) + ", " +
         std::to_string(identifier) + ", " + std::to_string(label) + ", " + SqlTextOrNull(value) + ", '" +
         "MV-" + std::to_string(uid) + "-8C1E0F3A');\n";
}

// The full-text row as the phone writes it: the number as shown, then its
// dialling variants, every one followed by a blank.
std::string FullTextInsert(const Person& p, std::string_view phoneText, std::string_view email,
                           std::string_view address, std::string_view url) {
  return "INSERT INTO ABPersonFullTextSearch_content (docid, c0First, c1Last, c3FirstPhonetic, "
         "c6Organization, c9Note, c12Nickname, c16Phone, c17Email, c18Address, c20URL) VALUES (" +
         std::to_string(p.rowId) + ", " + SqlTextOrNull(p.first) + ", " + SqlTextOrNull(p.last) + ", " +
         SqlTextOrNull(p.firstPhonetic) + ", " + SqlTextOrNull(p.organization) + ", " + SqlTextOrNull(p.note) + ", " +
         SqlTextOrNull(p.nickname) + ", " + SqlTextOrNull(phoneText) + ", " + SqlTextOrNull(email) + ", " +
         SqlTextOrNull(address) + ", " + SqlTextOrNull(url) + ");\n";
}

std::string Nbsp(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == ' ') {
      out += kNbsp;
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

std::string AddressBookSchema() {
  std::string sql;
  for (const char* table : {kAbPersonTable, kAbMultiValueTable, kAbMultiValueEntryTable,
                            kAbMultiValueLabelTable, kAbMultiValueEntryKeyTable,
                            kAbPersonFullTextContentTable}) {
    sql += table;
    sql += '\n';
  }
  sql +=
      "INSERT INTO ABMultiValueLabel (value) VALUES ('_$!<Mobile>!$_'), ('_$!<Home>!$_'), "
      "('_$!<Main>!$_'), ('_$!<Work>!$_'), ('_$!<HomePage>!$_'), ('iPhone');\n"
      "INSERT INTO ABMultiValueEntryKey (value) VALUES ('Street'), ('ZIP'), ('City'), "
      "('CountryCode'), ('State'), ('Country');\n";
  return sql;
}

SqliteFile ContactsDatabase() {
  const Person zhang{1, "伟", "张", "", "", "", "大学同学", 0, 690000000, "4A1F6C2E-0B7D-4E8A-9C31-5D2B7E9F0A11"};
  const Person emily{2, "Emily", "Chen", "", "", "", "", 0, 690000100, "9B3D2A10-6E4C-4F7B-A812-3C5E7D9F1B22"};
  const Person li{3, "娜", "李", "Na", "", "", "", 0, 690000200, "C7E5F3A1-2D9B-4C6E-8F04-7A1B3D5E2C33"};
  const Person mum{4, "", "", "", "老妈", "", "", 0, 690000300, "E2A4C6B8-1F3D-4A5C-9E71-0B2D4F6A3D44"};
  const Person mobileCo{5, "", "", "", "", "中国移动", "", 1, 690000400, "F8B6D4E2-3A1C-4E9F-B053-6C8E0A2B4E55"};
  const Person chen{6, "静", "陈", "", "", "", "", 0, 690000500, "1C3E5A7B-9D2F-4B6A-8C15-2E4A6C8B5F66"};
  const Person liu{7, "洋", "刘", "", "", "", "", 0, 690000600, "3E5A7C9D-1B4F-4D8A-AE37-4A6C8E0D6A77"};
  const Person tom{8, "Tom", "Baker", "", "", "", "", 0, 690000700, "5A7C9E1F-3D6B-4F2C-8A59-6C8E0A2F7B88"};
  const Person wang{9, "芳", "王", "", "", "", "", 0, 690000800, "7C9E1A3B-5F8D-4A4E-9C7B-8E0A2C4B8C99"};
  const Person david{10, "David", "Wang", "", "", "", "", 0, 690000900, "9E1A3C5D-7B0F-4C6A-8E9D-0A2C4E6D9DAA"};

  std::string setup = AddressBookSchema();
  for (const Person* p : {&zhang, &emily, &li, &mum, &mobileCo, &chen}) setup += PersonInsert(*p);
  // 陈静's card was synced to a CardDAV account and got a photo: her row grew
  // and moved. Later 刘洋, Tom Baker, 王芳 and David Wang were added.
  setup +=
      "UPDATE ABPerson SET "
      "ExternalIdentifier = '/carddav/v1/principals/chenjing.sh%40icloud.com/lists/default/"
      "7f3c2a9e5b1d4c8a9e6f0b2d4a6c8e1f.vcf', "
      "ExternalModificationTag = '\"2023-05-18T09:12:44.517+08:00\"', "
      "ExternalUUID = '7F3C2A9E-5B1D-4C8A-9E6F-0B2D4A6C8E1F', "
      "ImageURI = 'https://p52-contacts.icloud.com/17193901029/wbs/0146a3c5e8f1d2b4a6c8e0f2d4b6a8c0e2f4', "
      "CompositeNameFallback = '陈静', ModificationDate = 690100000 WHERE ROWID = 6;\n";
  for (const Person* p : {&liu, &tom, &wang, &david}) setup += PersonInsert(*p);

  setup += MultiValueInsert(1, 1, 3, 0, 1, Nbsp("+86 138 0013 8000"));
  setup += MultiValueInsert(2, 1, 3, 1, 2, Nbsp("010 6552 9988"));
  setup += MultiValueInsert(3, 1, 4, 0, 4, "zhangwei@163.com");
  setup += MultiValueInsert(4, 1, 22, 0, 5, "http://weibo.com/zhangwei");
  setup += MultiValueInsert(5, 1, 5, 0, 2, "");
  setup += MultiValueInsert(6, 2, 3, 0, 6, "+1 (415) 555-0132");
  setup += MultiValueInsert(7, 2, 4, 0, 4, "emily.chen@example.com");
  setup += MultiValueInsert(8, 3, 3, 0, 1, Nbsp("139 1234 5678"));
  setup += MultiValueInsert(9, 4, 3, 0, 1, Nbsp("135 0000 1111"));
  setup += MultiValueInsert(10, 5, 3, 0, 3, "10086");
  setup += MultiValueInsert(11, 6, 3, 0, 1, Nbsp("137 2468 1357"));
  setup += MultiValueInsert(12, 7, 3, 0, 1, Nbsp("186 1010 2020"));
  setup += MultiValueInsert(13, 8, 3, 0, 1, "+1 (212) 555-0199");
  setup += MultiValueInsert(14, 8, 4, 0, 4, "tom.baker@example.com");
  setup += MultiValueInsert(15, 9, 3, 0, 1, Nbsp("159 8888 6666"));
  setup += MultiValueInsert(16, 10, 3, 0, 6, "+1 (650) 555-0101");
  setup += MultiValueInsert(17, 10, 3, 1, 4, "+1 (650) 555-0177");
  setup +=
      "INSERT INTO ABMultiValueEntry (parent_id, key, value) VALUES (5, 1, '建国路88号'), "
      "(5, 2, '100022'), (5, 3, '北京'), (5, 4, 'cn'), (5, 6, '中国');\n";

  setup += FullTextInsert(zhang, Nbsp("+86 138 0013 8000") + " +8613800138000 8613800138000 13800138000 " +
                                     Nbsp("010 6552 9988") + " 01065529988 65529988 ",
                          "zhangwei@163.com", "建国路88号 100022 北京 cn 中国 ", "http://weibo.com/zhangwei");
  setup += FullTextInsert(emily, "+1 (415) 555-0132 +14155550132 0014155550132 14155550132 4155550132 ",
                          "emily.chen@example.com", "", "");
  setup += FullTextInsert(li, Nbsp("139 1234 5678") + " +8613912345678 13912345678 ", "", "", "");
  setup += FullTextInsert(mum, Nbsp("135 0000 1111") + " +8613500001111 13500001111 ", "", "", "");
  setup += FullTextInsert(mobileCo, "10086 ", "", "", "");
  setup += FullTextInsert(chen, Nbsp("137 2468 1357") + " +8613724681357 13724681357 ", "", "", "");
  setup += FullTextInsert(liu, Nbsp("186 1010 2020") + " +8618610102020 18610102020 ", "", "", "");
  setup += FullTextInsert(tom, "+1 (212) 555-0199 +12125550199 0012125550199 12125550199 ",
                          "tom.baker@example.com", "", "");
  setup += FullTextInsert(wang, Nbsp("159 8888 6666") + " +8615988886666 15988886666 ", "", "", "");
  setup += FullTextInsert(david, "+1 (650) 555-0101 +16505550101 16505550101 6505550101 "
                          "+1 (650) 555-0177 +16505550177 16505550177 6505550177 ", "", "", "");

  // 王芳, Tom Baker and 刘洋 were deleted with all their rows, one after the
  // other as the Contacts app deletes. Each freed row lies next to the one
  // freed before it and joins its free block, so only the first one's cell
  // start is overwritten by the block's header: Tom's and 刘洋's rows stay
  // whole, 王芳's loses its row id.
  for (int rowId : {9, 8, 7}) {
    const std::string id = std::to_string(rowId);
    setup += "DELETE FROM ABMultiValue WHERE record_id = " + id + ";\n" +
             "DELETE FROM ABPersonFullTextSearch_content WHERE docid = " + id + ";\n" +
             "DELETE FROM ABPerson WHERE ROWID = " + id + ";\n";
  }
  return SqliteFile(setup);
}

}  // namespace sample
