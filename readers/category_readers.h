#pragma once
// The readers of the phone's own apps behind the category reader interface,
// one maker per kind of category. The analysis makes them through its table
// of category readers; nothing else needs their types.

#include <memory>

#include "base/categories.h"
#include "readers/category_reader.h"

namespace readers {

// Calls (3), contacts (4) and messages (5): the address book first, then
// the call history or the messages, whose peers it names.
std::unique_ptr<ICategoryReader> MakePeopleReader(const base::CategoryInfo& category);
// Calendar events (6) and reminders (9), of one calendar database; the
// reminders of iOS 13 and later from their own stores besides.
std::unique_ptr<ICategoryReader> MakeCalendarReader(const base::CategoryInfo& category);
// Safari history and bookmarks (7).
std::unique_ptr<ICategoryReader> MakeSafariReader(const base::CategoryInfo& category);
// Notes (8), of the old and the new notes database.
std::unique_ptr<ICategoryReader> MakeNotesReader(const base::CategoryInfo& category);
// Voice memos (11).
std::unique_ptr<ICategoryReader> MakeVoiceMemosReader(const base::CategoryInfo& category);
// Photos (12) and videos (13) of the camera roll.
std::unique_ptr<ICategoryReader> MakePhotoReader(const base::CategoryInfo& category);
// The attachments of notes (14) and messages (15) and WhatsApp's files (17).
std::unique_ptr<ICategoryReader> MakeAttachmentReader(const base::CategoryInfo& category);

// The fields of a media group or file (photo albums and items, attachment
// groups and files), shared by the media readers of the phone and of chat
// apps.
void DescribeMediaRecord(const db::BaseItem& record, nlohmann::ordered_json& out);

}  // namespace readers
