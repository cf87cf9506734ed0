#pragma once
// A sample AddressBook.sqlitedb: the phone's address-book tables and a small
// realistic address book with live and deleted persons, for the contacts
// reader's tests and the demo.

#include <string>

#include "testing/sample_backup.h"

namespace sample {

// ABPerson with the 47 columns the deleted-person layout reads: the columns
// of the iOS 15 table up to PreferredChannel, each at its real position
// (ROWID 0, First 1, Last 2, Middle 3, FirstPhonetic 4, MiddlePhonetic 5,
// LastPhonetic 6, Note 9, Kind 10, Birthday 11, JobTitle 12, Nickname 13,
// LastSort 17, CreationDate 18, ModificationDate 19, ImageURI 32, guid 34).
extern const char kAbPersonTable[];
inline constexpr int kAbPersonColumns = 47;
// The iOS 15 ABPerson with all its 51 columns, for checks on the newer shape.
extern const char kAbPersonTableIos15[];
inline constexpr int kAbPersonIos15Columns = 51;
// ABMultiValue (UID, record_id, property, identifier, label, value, guid);
// property 3 phone, 4 e-mail, 5 address, 22 URL.
extern const char kAbMultiValueTable[];
// ABMultiValueEntry (parent_id, key, value): the parts of an address.
extern const char kAbMultiValueEntryTable[];
// ABMultiValueLabel and ABMultiValueEntryKey, the texts the numbers refer to.
extern const char kAbMultiValueLabelTable[];
extern const char kAbMultiValueEntryKeyTable[];
// The content table of the full-text index, docid + c0First .. c24: the phone
// creates it through an FTS4 table with Apple's own tokenizer, which stock
// SQLite lacks, so samples create the content table on its own.
extern const char kAbPersonFullTextContentTable[];
inline constexpr int kAbPersonFullTextContentColumns = 26;

// All tables above but kAbPersonTableIos15, with the labels and entry keys
// filled in as the phone has them (label 1 mobile, 2 home, 3 main, 4 work,
// 5 home page, 6 iPhone; key 1 street, 2 ZIP, 3 city, 4 country code,
// 5 state, 6 country).
std::string AddressBookSchema();

// A small address book, rollback journal:
//   live    1 张伟     +86 138 0013 8000 (non-breaking spaces), 010 6552 9988,
//                      e-mail, home page, an address
//           2 Emily Chen, +1 (415) 555-0132, e-mail
//           3 李娜 with FirstPhonetic "Na", 139 1234 5678
//           4 Nickname 老妈, 135 0000 1111
//           5 no name (an organisation), 10086
//           6 陈静, 137 2468 1357, edited after it was made (its row moved)
//          10 David Wang, +1 (650) 555-0101 and +1 (650) 555-0177
//   deleted 9 王芳 (159 8888 6666), then 8 Tom Baker (+1 (212) 555-0199),
//           then 7 刘洋 (186 1010 2020), each with its numbers and
//           full-text row; the freed rows join one free block, so Tom's and
//           刘洋's keep their row ids and 王芳's row loses its own
// Every person has its full-text row, numbers written as the phone writes
// them there: the number as shown, then blank-separated dialling variants.
SqliteFile ContactsDatabase();

}  // namespace sample
