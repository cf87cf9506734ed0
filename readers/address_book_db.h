#pragma once
// CAddressBookDB: the phone's address book (AddressBook.sqlitedb). One
// contact record per person with names, numbers, e-mail, home page and the
// other multi-value properties, plus contacts rebuilt from deleted rows; a
// lookup from phone number to contact that the message and call readers use
// to name their peers; the contacts' CSV lines.
//
// Deleted rows are looked for in the file and in the frames of its
// write-ahead log (a contact found only there is marked as the log's).
// ABPerson of 47 columns and the 26-column full-text content table keep the
// numbered layouts made for them (22 and 7); every other width (ABPerson 36
// on iOS 7, 51 on iOS 15 and 16; the 24-column content table of iOS 7) and
// ABMultiValue are scanned with the layout made from the live table and
// read by column name. A rebuilt person is dropped when its ROWID or guid is
// live (an older version of a live person) or repeats another rebuilt one;
// it takes its deleted numbers, e-mail and home page from ABMultiValue rows
// naming its ROWID, and what it still lacks from its own full-text row
// (found by docid, else by the names), which is then not listed again.
//
// Threads: the analysis worker; after Open the records and maps are only read.

#include <array>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "db/db_sqlite.h"

namespace backup {
class CFileListDB;
}
namespace exporting {
class CExportWriter;
}

namespace readers {

// One contact. Texts are UTF-8.
class DBITEM_AdrBFriend : public db::BaseItem {
 public:
  const std::string& Title() const override { return displayName; }
  const std::string& SearchText() const override { return displayName; }

  std::string ftsText;   // the full-text table's Note column, for contacts rebuilt from it
  std::string guid;      // ABPerson guid (UNIQUE); empty where the table has none
  std::string email;     // property 4
  std::string noteText;  // printed under "备注"
  std::string homePage;  // property 22
  int rowId = -1;        // ABPerson ROWID
  std::string firstName;
  std::string lastName;
  std::string middleName;
  std::string mobile;  // FirstPhonetic, else the first number read
  std::string middlePhonetic;
  std::string lastPhonetic;
  std::string company;
  std::string department;
  std::string note;
  std::string birthday;
  std::string jobTitle;
  std::string displayName;  // Nickname, else last + first name, else "未知联系人"
  int creationDate = 0;
  std::string imageUri;
  std::vector<std::string> phones;  // in the order read
  std::map<int, std::array<std::string, 16>> propertyValues;
  // time: ModificationDate (whole seconds) as Unix seconds; 0 for a contact
  // rebuilt from the full-text table, which keeps no date
};

class CAddressBookDB : public db::CDbSqlite {
 public:
  // index: the analysis's backup file index (not owned; may be null).
  explicit CAddressBookDB(backup::CFileListDB* index = nullptr);
  ~CAddressBookDB() override;

  std::string GetTableName(int tableKind) override;
  void ParseRow(int tableKind, std::unique_ptr<db::BaseItem>& out, db::CppSQLite3Query& query) override;
  // Loads the persons, their multi-values and the deleted contacts. Returns
  // the base's status when the database cannot be opened, corrupt when it
  // has no readable ABPerson (not an address book), else ok.
  base::Status Open(const std::string& path, int param) override;

  // The live contact with this number ("+86" in front is dropped first), or
  // nullptr. The contact belongs to this reader.
  DBITEM_AdrBFriend* FindContactByNumber(const std::string& number) const;

  // The contacts: those rebuilt from deleted full-text rows, then those
  // rebuilt from deleted ABPerson rows, each in the order the scan found
  // them, then the live ones; owned here.
  const std::vector<std::unique_ptr<DBITEM_AdrBFriend>>& Contacts() const { return contacts_; }

 private:
  backup::CFileListDB* index_;
  std::vector<std::unique_ptr<DBITEM_AdrBFriend>> contacts_;
  std::map<int, DBITEM_AdrBFriend*> contactByRowId_;
  std::map<std::string, DBITEM_AdrBFriend*> contactByKey_;
  std::map<std::string, DBITEM_AdrBFriend*> contactByNumber_;
  std::vector<std::unique_ptr<DBITEM_AdrBFriend>> recoveredContacts_;

  // Forgets every contact and map entry, so a second Open starts afresh.
  void Reset();
  void ParsePerson(std::unique_ptr<db::BaseItem>& out, db::CppSQLite3Query& query);
  void ParseMultiValue(db::CppSQLite3Query& query);
  void ParseMultiValueEntry(db::CppSQLite3Query& query);
  // Contacts rebuilt from the bytes of deleted ABPerson rows (to the front
  // of contacts_) and of full-text rows (to recoveredContacts_).
  void RecoverDeletedContacts();
  void RecoverDeletedPersons();
  // The deleted numbers, e-mail addresses and home pages of the persons
  // rebuilt with their row id.
  void RecoverMultiValues();
  void RecoverFullTextRows();
  // Fills the fields of a person rebuilt from ABPerson that its own
  // full-text row has and the person lacks.
  static void AddFullTextFields(DBITEM_AdrBFriend& person, const DBITEM_AdrBFriend& indexRow);
  // Moves the recovered full-text contacts that repeat neither a live one
  // nor one found after them (db::KeepRecovered) to the front of contacts_,
  // in the order the scan found them.
  void MergeRecoveredContacts();
  // True when a contact rebuilt from a full-text row is a live contact's own
  // index row (see the .cpp for why the ContactKey alone misses some).
  bool RepeatsLiveContact(const DBITEM_AdrBFriend& recovered, const std::string& phoneText) const;

  // ABPerson's column count as the live table reports it; 0 before loading.
  int personColumns_ = 0;
  // The whole phone text of each recoveredContacts_ entry, same index.
  std::vector<std::string> recoveredPhoneTexts_;
};

// The ContactKey of a contact: mobile, first name and last name joined.
std::string ContactKey(const DBITEM_AdrBFriend& contact);

// Writes the header and one line per contact (in the order given) to the
// writer, each with the contact's deleted flag.
void WriteContactsCsv(exporting::CExportWriter& writer, const std::vector<db::BaseItem*>& contacts);

}  // namespace readers
