#pragma once
// CREATE statements of the phone's own tables, as the phone's SQLite stored
// them in sqlite_master, for sample databases with the real table shapes.
// Each constant is one statement ending in ';', ready for sqlite3_exec or to
// be joined with others. The column counts beside them are what the
// deleted-row layouts and the readers expect of those tables.

namespace sample {

// sms.db as iOS 14.3 writes it.
// message: ROWID 0, guid 1 (36-char UUID, UNIQUE), text 2, handle_id 5,
// service 11, account 12, account_guid 13, date 15 (nanoseconds since 2001),
// date_read 16, is_from_me 21, is_sent 28.
extern const char kSmsMessageIos14[];
inline constexpr int kSmsMessageIos14Columns = 74;
// handle: ROWID 0, id 1 (phone number or address), country 2, service 3.
extern const char kSmsHandleIos14[];
inline constexpr int kSmsHandleIos14Columns = 6;

// sms.db as iOS 17 writes it: the columns the reader uses stay where iOS 14
// has them; attributedBody 8 often holds the only copy of the text.
extern const char kSmsMessageIos17[];
inline constexpr int kSmsMessageIos17Columns = 84;

}  // namespace sample
