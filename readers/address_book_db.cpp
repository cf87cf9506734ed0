#include "readers/address_book_db.h"

#include <algorithm>

#include <array>
#include <charconv>
#include <string_view>
#include <utility>

#include "db/item_time.h"
#include "db/merge_recovered.h"
#include "db/text.h"
#include "db/undark/undark.h"
#include "export/export_writer.h"
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

// Deleted-row layouts and the value counts of a whole row.
constexpr int kPersonLayout = 22;
constexpr std::size_t kPersonValues = 47;
constexpr int kFullTextLayout = 7;
constexpr std::size_t kFullTextValues = 26;

// ABPerson columns read from a recovered row, by position.
enum PersonColumn : std::size_t {
  kFirst = 1,
  kLast = 2,
  kMiddle = 3,
  kFirstPhonetic = 4,
  kMiddlePhonetic = 5,
  kLastPhonetic = 6,
  kNote = 9,
  kBirthday = 11,
  kJobTitle = 12,
  kNickname = 13,
  kCreationDate = 18,
  kModificationDate = 19,
  kImageUri = 32,
};

// Full-text content columns (docid, then c0First ...) read from a recovered row.
enum FullTextColumn : std::size_t {
  kFtsFirst = 1,
  kFtsLast = 2,
  kFtsNote = 10,
  kFtsPhone = 17,
  kFtsEmail = 18,
  kFtsAddress = 19,
  kFtsUrl = 21,
};

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

// A decimal text as an integer, 0 when it does not begin with a number.
template <typename Int>
Int ParseDecimal(std::string_view text) {
  Int value = 0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}

// Recovered bytes may be any bytes; a text field keeps valid UTF-8 only.
std::string RecoveredText(const db::undark::UndarkRow& row, std::size_t column) {
  return db::RepairUtf8(row[column].text);
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
  RecoverFullTextRows();
}

void CAddressBookDB::RecoverDeletedPersons() {
  // The layout reads the record header of a 47-column ABPerson. On a table of
  // another width (iOS 7 has 36 columns, iOS 15 and 16 have 51) the header
  // walk stops at the wrong byte, so every value of a match is read from the
  // wrong place: such rows would show as contacts with cut-up names. Their
  // full-text rows are still recovered below.
  if (personColumns_ != static_cast<int>(kPersonValues)) return;
  std::vector<std::unique_ptr<DBITEM_AdrBFriend>> found;
  ScanRows(*this, kPersonLayout, -1, [&](db::undark::UndarkRow& row) {
    if (row.size() != kPersonValues) return;
    const int rowId = ParseDecimal<int>(row[0].text);
    // Live rows are found too; a row whose ROWID is live is that contact or
    // an older copy of it.
    if (contactByRowId_.count(rowId) != 0) return;
    auto contact = std::make_unique<DBITEM_AdrBFriend>();
    contact->rowId = rowId;
    contact->firstName = RecoveredText(row, kFirst);
    contact->lastName = RecoveredText(row, kLast);
    contact->middleName = RecoveredText(row, kMiddle);
    contact->mobile = RecoveredText(row, kFirstPhonetic);
    contact->middlePhonetic = RecoveredText(row, kMiddlePhonetic);
    contact->lastPhonetic = RecoveredText(row, kLastPhonetic);
    contact->note = RecoveredText(row, kNote);
    contact->birthday = RecoveredText(row, kBirthday);
    contact->jobTitle = RecoveredText(row, kJobTitle);
    contact->displayName =
        DisplayNameOf(RecoveredText(row, kNickname), contact->firstName, contact->lastName);
    contact->creationDate = ParseDecimal<int>(row[kCreationDate].text);
    const auto modified = ParseDecimal<std::int64_t>(row[kModificationDate].text);
    contact->time = db::UnixFromAppleSeconds(static_cast<double>(modified));
    contact->imageUri = RecoveredText(row, kImageUri);
    contact->deleted = 1;
    contactByRowId_[rowId] = contact.get();
    found.push_back(std::move(contact));
  });
  // The scan above already passed over every ROWID known before it; the
  // merge puts the rest in front in the order they were found.
  db::MergeRecovered(contacts_, std::move(found), [](const DBITEM_AdrBFriend& contact) { return contact.rowId; });
}

void CAddressBookDB::RecoverFullTextRows() {
  ScanRows(*this, kFullTextLayout, -1, [&](db::undark::UndarkRow& row) {
    if (row.size() != kFullTextValues) return;
    auto contact = std::make_unique<DBITEM_AdrBFriend>();
    contact->rowId = static_cast<int>(db::undark::UndarkValueToInt64(row[0]));
    contact->firstName = RecoveredText(row, kFtsFirst);
    contact->lastName = RecoveredText(row, kFtsLast);
    contact->ftsText = RecoveredText(row, kFtsNote);
    // The phone column lists the numbers and their dialling variants, each
    // followed by a blank; the first token is the first number as shown.
    std::string phoneText = RemoveNbsp(RecoveredText(row, kFtsPhone));
    contact->mobile = phoneText.substr(0, phoneText.find(' '));
    contact->email = RecoveredText(row, kFtsEmail);
    contact->noteText = RecoveredText(row, kFtsAddress);
    contact->homePage = RecoveredText(row, kFtsUrl);
    contact->displayName = DisplayNameOf("", contact->firstName, contact->lastName);
    contact->deleted = 1;
    recoveredContacts_.push_back(std::move(contact));
    recoveredPhoneTexts_.push_back(std::move(phoneText));
  });
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
  std::vector<std::unique_ptr<DBITEM_AdrBFriend>> candidates;
  candidates.reserve(recoveredContacts_.size());
  for (std::size_t i = 0; i < recoveredContacts_.size(); ++i) {
    if (!RepeatsLiveContact(*recoveredContacts_[i], recoveredPhoneTexts_[i])) {
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
