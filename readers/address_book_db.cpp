#include "readers/address_book_db.h"

#include <algorithm>

#include <array>
#include <cstdlib>
#include <optional>
#include <set>
#include <string_view>
#include <utility>

#include "db/item_time.h"
#include "db/merge_recovered.h"
#include "db/text.h"
#include "db/undark/undark.h"
#include "export/export_writer.h"
#include "readers/live_table.h"
#include "readers/recovered_row.h"
#include "readers/table_rows.h"

namespace readers {
namespace {

constexpr int kPersonKind = 0;
constexpr int kMultiValueKind = 1;
constexpr int kMultiValueEntryKind = 2;
constexpr int kFullTextKind = 3;  // only scanned, never queried

constexpr std::array<const char*, 4> kTableNames = {
    "ABPerson", "ABMultiValue", "ABMultiValueEntry", "ABPersonFullTextSearch_content"};
static_assert(kTableNames.size() == kFullTextKind + 1);

constexpr char kEntryQuery[] =
    "SELECT ABMultiValue.record_id,ABMultiValue.property,ABMultiValueEntry.KEY,ABMultiValueEntry.value "
    "from ABMultiValue,ABMultiValueEntry where ABMultiValueEntry.parent_id=ABMultiValue.UID";

// ABMultiValue properties.
constexpr int kPhoneProperty = 3;
constexpr int kEmailProperty = 4;
constexpr int kAddressProperty = 5;
constexpr int kUrlProperty = 22;
// The address entry copied into noteText.
constexpr std::size_t kAddressNoteEntry = 4;

// Where the ABPerson columns a rebuilt contact is read from sit in a
// recovered row: their positions in the live table, -1 for a column the
// table lacks (that field stays empty).
struct PersonColumns {
  int rowId, first, last, middle, firstPhonetic, middlePhonetic, lastPhonetic, note, birthday, jobTitle, nickname,
      creationDate, modificationDate, imageUri, guid;
  bool operator==(const PersonColumns&) const = default;
};

// The ABPerson shape the numbered layout was made for: 47 columns, the row
// id recovered, the columns read at these positions.
constexpr int kPersonLayout = 22;
constexpr int kPersonLayoutColumns = 47;
constexpr PersonColumns kPersonLayoutPositions = {0, 1, 2, 3, 4, 5, 6, 9, 11, 12, 13, 18, 19, 32, 34};

// The same for the full-text table's content (docid, then c0First ...; the
// number in front of a column's name differs between versions: iOS 7 has
// c8Note where iOS 15 has c9Note).
struct FullTextColumns {
  int docid, first, last, note, phone, email, address, url;
  bool operator==(const FullTextColumns&) const = default;
};
constexpr int kFullTextLayout = 7;
constexpr int kFullTextLayoutColumns = 26;
constexpr FullTextColumns kFullTextLayoutPositions = {0, 1, 2, 10, 17, 18, 19, 21};

// ABMultiValue columns read from a recovered row (the table has one shape
// from iOS 7 to 16, and no numbered layout).
struct MultiValueColumns {
  int recordId, property, value;
};

PersonColumns PersonColumnsOf(const readers::LiveTable& table) {
  return {table.Index("ROWID"),         table.Index("First"),          table.Index("Last"),
          table.Index("Middle"),        table.Index("FirstPhonetic"),  table.Index("MiddlePhonetic"),
          table.Index("LastPhonetic"),  table.Index("Note"),           table.Index("Birthday"),
          table.Index("JobTitle"),      table.Index("Nickname"),       table.Index("CreationDate"),
          table.Index("ModificationDate"), table.Index("ImageURI"),    table.Index("guid")};
}

// The position of the full-text column of that name: "c", a number, then
// the name.
int FullTextIndex(const readers::LiveTable& table, std::string_view name) {
  for (std::size_t i = 0; i < table.ColumnCount(); ++i) {
    std::string_view column = table.Columns()[i].name;
    if (column.size() < 2 || column[0] != 'c') continue;
    column.remove_prefix(1);
    const std::size_t digits = column.find_first_not_of("0123456789");
    if (digits != 0 && digits != std::string_view::npos && column.substr(digits) == name) return static_cast<int>(i);
  }
  return -1;
}

FullTextColumns FullTextColumnsOf(const readers::LiveTable& table) {
  return {table.Index("docid"),           FullTextIndex(table, "First"), FullTextIndex(table, "Last"),
          FullTextIndex(table, "Note"),   FullTextIndex(table, "Phone"), FullTextIndex(table, "Email"),
          FullTextIndex(table, "Address"), FullTextIndex(table, "URL")};
}

const db::undark::UndarkValue& At(const db::undark::UndarkRow& row, int column) {
  static const db::undark::UndarkValue kNone;
  return column >= 0 && static_cast<std::size_t>(column) < row.size() ? row[static_cast<std::size_t>(column)] : kNone;
}

// The row id of a recovered row: the integer primary key's value (also the
// numbered layout's recovered row id), -1 when it is unknown (a numbered
// layout gives 0 then; the phone's tables count from 1).
int RowIdOf(const db::undark::UndarkValue& value) {
  if (value.type != db::undark::kTypeRowId || value.text.empty()) return -1;
  const long long rowId = std::strtoll(value.text.c_str(), nullptr, 10);
  return rowId >= 1 && rowId <= INT32_MAX ? static_cast<int>(rowId) : -1;
}

// Whether the values of these columns of a recovered row read as a
// person's texts: valid UTF-8 without control characters but line breaks
// and tabs (a note or an address may hold them). The cell pointer arrays of
// freed pages, say, pass the full-text layout as texts of control
// characters.
bool PlainTexts(const db::undark::UndarkRow& row, std::initializer_list<int> columns) {
  return std::all_of(columns.begin(), columns.end(), [&row](int column) {
    const std::string& text = At(row, column).text;
    if (At(row, column).type != db::undark::kTypeText) return true;
    return db::IsValidUtf8(text) && std::none_of(text.begin(), text.end(), [](char c) {
             const auto byte = static_cast<unsigned char>(c);
             return (byte < 0x20 && byte != '\n' && byte != '\r' && byte != '\t') || byte == 0x7F;
           });
  });
}

// Contact dates are seconds since 2001; one before that, or after 2100, is
// bytes of another kind that passed the column rules.
bool PlausibleDate(const db::undark::UndarkValue& value) {
  if (value.type == db::undark::kTypeNull) return true;
  const double time = db::UnixFromAppleSeconds(static_cast<double>(db::undark::UndarkValueToInt64(value)));
  return time >= db::kAppleEpochOffsetSeconds && time < kLatestPlausibleTime;
}

constexpr std::string_view kNbsp = "\xC2\xA0";  // U+00A0 in UTF-8
constexpr char kUnknownContact[] = "未知联系人";
constexpr std::string_view kChinaPrefix = "+86";
// The CSV shows the second to the sixth number, whatever their labels.
constexpr std::size_t kPrintedExtraPhones = 5;

constexpr char kCsvHeader[] =
    "名称,手机号码,iPhone号码,住宅号码,工作号码,主要号码,其他号码,住宅邮箱,工作邮箱,其他邮箱,主页,公司,部门,职位,地址,备注\r\n";

std::string RemoveNbsp(std::string text) {
  for (std::size_t at = text.find(kNbsp); at != std::string::npos; at = text.find(kNbsp, at)) {
    text.erase(at, kNbsp.size());
  }
  return text;
}

// The key of a number in contactByNumber_: the number with a leading "+86"
// dropped. Lookups drop it from the number asked for, and the phone saves a
// number as "+86 138 ..." as often as "138 ...": both sides drop it, so a
// contact saved with the prefix is found too.
std::string NumberKey(std::string_view number) {
  if (number.substr(0, kChinaPrefix.size()) == kChinaPrefix) number.remove_prefix(kChinaPrefix.size());
  return std::string(number);
}

// Nickname, else last name followed by first name, else the fixed text.
std::string DisplayNameOf(const std::string& nickname, const std::string& first, const std::string& last) {
  if (!nickname.empty()) return nickname;
  std::string name = last + first;
  return name.empty() ? std::string(kUnknownContact) : name;
}

// Recovered bytes may be any bytes; a text field keeps valid UTF-8 only.
std::string RecoveredText(const db::undark::UndarkRow& row, int column) {
  return db::RepairUtf8(At(row, column).text);
}

}  // namespace

CAddressBookDB::CAddressBookDB(backup::CFileListDB* index) : index_(index) {}

CAddressBookDB::~CAddressBookDB() = default;

std::string CAddressBookDB::GetTableName(int tableKind) {
  if (openParam != 0 || tableKind < 0 || tableKind >= static_cast<int>(kTableNames.size())) return {};
  return kTableNames[static_cast<std::size_t>(tableKind)];
}

void CAddressBookDB::ParseRow(int tableKind, std::unique_ptr<db::BaseItem>& out, db::CppSQLite3Query& query) {
  switch (tableKind) {
    case kPersonKind:
      ParsePerson(out, query);
      return;
    case kMultiValueKind:
      ParseMultiValue(query);
      return;
    case kMultiValueEntryKind:
      ParseMultiValueEntry(query);
      return;
    default:
      CDbSqlite::ParseRow(tableKind, out, query);
  }
}

void CAddressBookDB::ParsePerson(std::unique_ptr<db::BaseItem>& out, db::CppSQLite3Query& query) {
  auto contact = std::make_unique<DBITEM_AdrBFriend>();
  auto text = [&query](const char* column) { return query.GetStringField(query.FieldIndex(column)); };
  contact->rowId = query.GetIntField(query.FieldIndex("ROWID"));
  contact->firstName = text("First");
  contact->lastName = text("Last");
  contact->middleName = text("Middle");
  contact->mobile = text("FirstPhonetic");
  contact->middlePhonetic = text("MiddlePhonetic");
  contact->lastPhonetic = text("LastPhonetic");
  contact->note = text("Note");
  contact->birthday = text("Birthday");
  contact->jobTitle = text("JobTitle");
  contact->displayName = DisplayNameOf(text("Nickname"), contact->firstName, contact->lastName);
  contact->creationDate = query.GetIntField(query.FieldIndex("CreationDate"));
  const std::int64_t modified = query.GetInt64Field(query.FieldIndex("ModificationDate"));
  contact->time = db::UnixFromAppleSeconds(static_cast<double>(modified));
  contact->imageUri = text("ImageURI");
  contact->guid = db::FieldText(query, "guid");
  out = std::move(contact);
}

void CAddressBookDB::ParseMultiValue(db::CppSQLite3Query& query) {
  const auto found = contactByRowId_.find(query.GetIntField(query.FieldIndex("record_id")));
  if (found == contactByRowId_.end()) return;
  DBITEM_AdrBFriend& contact = *found->second;
  std::string value = query.GetStringField(query.FieldIndex("value"));
  const int property = query.GetIntField(query.FieldIndex("property"));
  switch (property) {
    case kPhoneProperty:
      value = RemoveNbsp(std::move(value));
      if (contact.mobile.empty()) contact.mobile = value;
      contact.phones.push_back(std::move(value));
      break;
    case kEmailProperty:
      contact.email = std::move(value);
      break;
    case kUrlProperty:
      contact.homePage = std::move(value);
      break;
    default: {
      const std::int64_t identifier = query.GetInt64Field(query.FieldIndex("identifier"));
      if (identifier < 0 || identifier >= 16) return;
      contact.propertyValues[property][static_cast<std::size_t>(identifier)] = std::move(value);
    }
  }
}

void CAddressBookDB::ParseMultiValueEntry(db::CppSQLite3Query& query) {
  const auto found = contactByRowId_.find(query.GetIntField(0));
  if (found == contactByRowId_.end()) return;
  const std::int64_t key = query.GetInt64Field(2);
  if (key < 0 || key >= 16) return;
  found->second->propertyValues[query.GetIntField(1)][static_cast<std::size_t>(key)] = query.GetStringField(3);
}

void CAddressBookDB::Reset() {
  contactByRowId_.clear();
  contactByKey_.clear();
  contactByNumber_.clear();
  recoveredContacts_.clear();
  recoveredPhoneTexts_.clear();
  contacts_.clear();
  personColumns_ = 0;
}

base::Status CAddressBookDB::Open(const std::string& path, int param) {
  // The maps point into contacts_; both go together.
  Reset();
  if (base::Status opened = CDbSqlite::Open(path, param); !opened.Ok()) return opened;
  if (openParam == 0) {
    db::ItemList persons;
    personColumns_ = LoadTable(kPersonKind, persons);
    // SQLite opens any file lazily; one without a readable ABPerson (not a
    // database, or not an address book) counts as one that cannot be opened.
    if (personColumns_ == 0) {
      Close();
      return base::Status::Corrupt(path, "no readable table ABPerson: not an address book");
    }
    for (auto& item : persons) {
      if (auto* contact = dynamic_cast<DBITEM_AdrBFriend*>(item.get())) {
        item.release();
        contacts_.emplace_back(contact);
      }
    }
  }
  for (const auto& contact : contacts_) contactByRowId_[contact->rowId] = contact.get();
  if (openParam == 0) {
    db::ItemList none;  // multi-values are filed into their contacts
    LoadTable(kMultiValueKind, none);
  }
  for (const auto& contact : contacts_) {
    contactByKey_[ContactKey(*contact)] = contact.get();
    for (const std::string& phone : contact->phones) contactByNumber_[NumberKey(phone)] = contact.get();
    const auto address = contact->propertyValues.find(kAddressProperty);
    if (contact->noteText.empty() && address != contact->propertyValues.end()) {
      contact->noteText = address->second[kAddressNoteEntry];
    }
  }
  db::ItemList none;
  Query(kMultiValueEntryKind, kEntryQuery, none);
  RecoverDeletedContacts();
  MergeRecoveredContacts();
  return {};
}

void CAddressBookDB::RecoverDeletedContacts() {
  RecoverDeletedPersons();
  RecoverMultiValues();
  RecoverFullTextRows();
}

void CAddressBookDB::RecoverDeletedPersons() {
  const std::optional<LiveTable> table = LiveTable::Read(*this, kTableNames[kPersonKind]);
  if (!table) return;
  const PersonColumns columns = PersonColumnsOf(*table);
  std::set<std::string> liveGuids;
  for (const auto& contact : contacts_) {
    if (!contact->guid.empty()) liveGuids.insert(contact->guid);
  }
  std::vector<std::unique_ptr<DBITEM_AdrBFriend>> found;
  const auto keep = [&](db::undark::UndarkRow& row, const RowPlace& place) {
    const int rowId = RowIdOf(At(row, columns.rowId));
    std::string guid = RecoveredText(row, columns.guid);
    // Live rows are found too; a row whose ROWID or guid is live is that
    // contact or an older copy of it.
    if ((rowId >= 0 && contactByRowId_.count(rowId) != 0) || liveGuids.count(guid) != 0) return;
    if (!PlausibleDate(At(row, columns.creationDate)) || !PlausibleDate(At(row, columns.modificationDate))) return;
    if (!PlainTexts(row, {columns.first, columns.last, columns.middle, columns.firstPhonetic, columns.middlePhonetic,
                          columns.lastPhonetic, columns.note, columns.birthday, columns.jobTitle, columns.nickname})) {
      return;
    }
    auto contact = std::make_unique<DBITEM_AdrBFriend>();
    contact->rowId = rowId;
    contact->guid = std::move(guid);
    contact->firstName = RecoveredText(row, columns.first);
    contact->lastName = RecoveredText(row, columns.last);
    contact->middleName = RecoveredText(row, columns.middle);
    contact->mobile = RecoveredText(row, columns.firstPhonetic);
    contact->middlePhonetic = RecoveredText(row, columns.middlePhonetic);
    contact->lastPhonetic = RecoveredText(row, columns.lastPhonetic);
    contact->note = RecoveredText(row, columns.note);
    contact->birthday = RecoveredText(row, columns.birthday);
    contact->jobTitle = RecoveredText(row, columns.jobTitle);
    contact->displayName =
        DisplayNameOf(RecoveredText(row, columns.nickname), contact->firstName, contact->lastName);
    contact->creationDate = static_cast<int>(db::undark::UndarkValueToInt64(At(row, columns.creationDate)));
    const std::int64_t modified = db::undark::UndarkValueToInt64(At(row, columns.modificationDate));
    contact->time = modified > 0 ? db::UnixFromAppleSeconds(static_cast<double>(modified)) : 0;
    contact->imageUri = RecoveredText(row, columns.imageUri);
    contact->deleted = 1;
    if (place.inWal) contact->deletedFrom = db::BaseItem::DeletedFrom::kWal;
    found.push_back(std::move(contact));
  };
  if (personColumns_ == kPersonLayoutColumns && columns == kPersonLayoutPositions) {
    ScanRows(*this, kPersonLayout, -1, [&](db::undark::UndarkRow& row, const RowPlace& place) {
      if (row.size() == static_cast<std::size_t>(kPersonLayoutColumns)) keep(row, place);
    });
  } else {
    // Every other width (36 columns on iOS 7, 51 on iOS 15 and 16) is
    // scanned with the layout made from its live shape.
    ScanLiveTable(*this, *table, keep);
  }
  // Of two copies of one person (the same guid, else the same ROWID) the one
  // found last stays; the merge puts the kept ones in front in scan order.
  std::set<std::string> seen;
  auto kept = db::KeepRecovered(std::move(found), [&](DBITEM_AdrBFriend& contact) {
    const std::string key = !contact.guid.empty() ? "g" + contact.guid
                            : contact.rowId >= 0  ? "r" + std::to_string(contact.rowId)
                                                  : std::string();
    if (!key.empty() && !seen.insert(key).second) return false;
    if (contact.rowId >= 0) contactByRowId_[contact.rowId] = &contact;
    return true;
  });
  db::PrependRecords(contacts_, std::move(kept));
}

void CAddressBookDB::RecoverMultiValues() {
  // A deleted person's numbers, e-mail addresses and home pages are deleted
  // ABMultiValue rows naming its ROWID; only persons rebuilt with their row
  // id can take them. A deleted row naming a live person is a value the
  // owner removed from that contact, not a contact of its own.
  const std::optional<LiveTable> table = LiveTable::Read(*this, kTableNames[kMultiValueKind]);
  if (!table) return;
  const MultiValueColumns columns = {table->Index("record_id"), table->Index("property"), table->Index("value")};
  ScanLiveTable(*this, *table, [&](db::undark::UndarkRow& row, const RowPlace&) {
    const auto owner = contactByRowId_.find(static_cast<int>(db::undark::UndarkValueToInt64(At(row, columns.recordId))));
    if (owner == contactByRowId_.end() || owner->second->deleted == 0) return;
    DBITEM_AdrBFriend& contact = *owner->second;
    std::string value = RecoveredText(row, columns.value);
    if (value.empty()) return;
    switch (db::undark::UndarkValueToInt64(At(row, columns.property))) {
      case kPhoneProperty:
        value = RemoveNbsp(std::move(value));
        if (std::find(contact.phones.begin(), contact.phones.end(), value) != contact.phones.end()) return;
        if (contact.mobile.empty()) contact.mobile = value;
        contact.phones.push_back(std::move(value));
        return;
      case kEmailProperty:
        if (contact.email.empty()) contact.email = std::move(value);
        return;
      case kUrlProperty:
        if (contact.homePage.empty()) contact.homePage = std::move(value);
        return;
      default:
        return;
    }
  });
}

void CAddressBookDB::RecoverFullTextRows() {
  const std::optional<LiveTable> table = LiveTable::Read(*this, kTableNames[kFullTextKind]);
  if (!table) return;
  const FullTextColumns columns = FullTextColumnsOf(*table);
  const auto keep = [&](db::undark::UndarkRow& row, const RowPlace& place) {
    if (!PlainTexts(row, {columns.first, columns.last, columns.note, columns.phone, columns.email, columns.address,
                          columns.url})) {
      return;
    }
    auto contact = std::make_unique<DBITEM_AdrBFriend>();
    contact->rowId = RowIdOf(At(row, columns.docid));
    contact->firstName = RecoveredText(row, columns.first);
    contact->lastName = RecoveredText(row, columns.last);
    contact->ftsText = RecoveredText(row, columns.note);
    // The phone column lists the numbers and their dialling variants, each
    // followed by a blank; the first token is the first number as shown.
    std::string phoneText = RemoveNbsp(RecoveredText(row, columns.phone));
    contact->mobile = phoneText.substr(0, phoneText.find(' '));
    contact->email = RecoveredText(row, columns.email);
    contact->noteText = RecoveredText(row, columns.address);
    contact->homePage = RecoveredText(row, columns.url);
    contact->displayName = DisplayNameOf("", contact->firstName, contact->lastName);
    contact->deleted = 1;
    if (place.inWal) contact->deletedFrom = db::BaseItem::DeletedFrom::kWal;
    recoveredContacts_.push_back(std::move(contact));
    recoveredPhoneTexts_.push_back(std::move(phoneText));
  };
  if (table->ColumnCount() == static_cast<std::size_t>(kFullTextLayoutColumns) && columns == kFullTextLayoutPositions) {
    ScanRows(*this, kFullTextLayout, -1, [&](db::undark::UndarkRow& row, const RowPlace& place) {
      if (row.size() == static_cast<std::size_t>(kFullTextLayoutColumns)) keep(row, place);
    });
  } else {
    ScanLiveTable(*this, *table, keep);
  }
}

bool CAddressBookDB::RepeatsLiveContact(const DBITEM_AdrBFriend& recovered, const std::string& phoneText) const {
  if (contactByKey_.count(ContactKey(recovered)) != 0) return true;
  // The scan finds every live contact's own index row as well. Its first
  // token only matches the contact's number when the number holds no plain
  // blank ("+1 (415) 555-0132" gives "+1") and the contact has no
  // FirstPhonetic (which takes the place of the number in the ContactKey);
  // so an index row also repeats a live contact of the same names whose first
  // number, whole, begins its phone text.
  for (const auto& contact : contacts_) {
    if (contact->deleted != 0 || contact->phones.empty()) continue;
    if (contact->firstName != recovered.firstName || contact->lastName != recovered.lastName) continue;
    const std::string& number = contact->phones.front();
    if (number.empty() || phoneText.compare(0, number.size(), number) != 0) continue;
    if (phoneText.size() == number.size() || phoneText[number.size()] == ' ') return true;
  }
  return false;
}

void CAddressBookDB::MergeRecoveredContacts() {
  // The index-row test looks at live contacts only, so it can sort those
  // rows out before the merge; the ContactKey test then runs in the merge,
  // against the live contacts and the rows kept after it.
  // A deleted person's own index row (its docid is the person's ROWID,
  // else it carries the person's names) adds its numbers, e-mail, address
  // and home page to the person rebuilt from ABPerson instead of listing
  // the person twice.
  std::map<std::string, DBITEM_AdrBFriend*> recoveredByNames;
  for (const auto& contact : contacts_) {
    if (contact->deleted == 0 || (contact->firstName.empty() && contact->lastName.empty())) continue;
    recoveredByNames.try_emplace(contact->firstName + '\n' + contact->lastName, contact.get());
  }
  std::vector<std::unique_ptr<DBITEM_AdrBFriend>> candidates;
  candidates.reserve(recoveredContacts_.size());
  for (std::size_t i = 0; i < recoveredContacts_.size(); ++i) {
    DBITEM_AdrBFriend& row = *recoveredContacts_[i];
    DBITEM_AdrBFriend* person = nullptr;
    if (const auto byRowId = contactByRowId_.find(row.rowId); row.rowId >= 0 && byRowId != contactByRowId_.end()) {
      // A live person's index row, or an older version of it.
      if (byRowId->second->deleted == 0) continue;
      person = byRowId->second;
    } else if (const auto byNames = recoveredByNames.find(row.firstName + '\n' + row.lastName);
               byNames != recoveredByNames.end()) {
      person = byNames->second;
    }
    if (person != nullptr) {
      AddFullTextFields(*person, row);
    } else if (!RepeatsLiveContact(row, recoveredPhoneTexts_[i])) {
      candidates.push_back(std::move(recoveredContacts_[i]));
    }
  }
  recoveredContacts_.clear();
  recoveredPhoneTexts_.clear();
  auto kept = db::KeepRecovered(std::move(candidates), [this](DBITEM_AdrBFriend& contact) {
    if (!contactByKey_.try_emplace(ContactKey(contact), &contact).second) return false;
    contactByRowId_[contact.rowId] = &contact;
    return true;
  });
  db::PrependRecords(contacts_, std::move(kept));
}

void CAddressBookDB::AddFullTextFields(DBITEM_AdrBFriend& person, const DBITEM_AdrBFriend& indexRow) {
  const auto fill = [](std::string& field, const std::string& value) {
    if (field.empty()) field = value;
  };
  fill(person.mobile, indexRow.mobile);
  fill(person.email, indexRow.email);
  fill(person.noteText, indexRow.noteText);
  fill(person.homePage, indexRow.homePage);
  fill(person.ftsText, indexRow.ftsText);
}

DBITEM_AdrBFriend* CAddressBookDB::FindContactByNumber(const std::string& number) const {
  const auto found = contactByNumber_.find(NumberKey(number));
  return found == contactByNumber_.end() ? nullptr : found->second;
}

std::string ContactKey(const DBITEM_AdrBFriend& contact) {
  return contact.mobile + contact.firstName + contact.lastName;
}

void WriteContactsCsv(exporting::CExportWriter& writer, const std::vector<db::BaseItem*>& contacts) {
  // The list page is laid out by BeginList; without it the page stays empty.
  writer.BeginList(std::max<int>(1, static_cast<int>(contacts.size())));
  writer.SetHeader(kCsvHeader);
  for (const db::BaseItem* item : contacts) {
    if (writer.Cancelled()) return;
    const auto* contact = dynamic_cast<const DBITEM_AdrBFriend*>(item);
    if (contact == nullptr) continue;
    std::string line = db::CsvField(contact->displayName) + "," + db::CsvField(contact->mobile);
    for (std::size_t i = 1; i <= kPrintedExtraPhones; ++i) {
      line += ",";
      if (i < contact->phones.size()) line += db::CsvField(contact->phones[i]);
    }
    line += "," + db::CsvField(contact->email) + ",," + "," + db::CsvField(contact->homePage) + "," +
            db::CsvField(contact->company);
    line += "," + db::CsvField(contact->department) + "," + db::CsvField(contact->jobTitle) + ",," +
            db::CsvField(contact->noteText) + "\r\n";
    writer.AddLine(exporting::kToCsvAndHtml, line, contact->deleted != 0);
  }
}

}  // namespace readers
