// Calendar, reminders, Safari, notes and voice memos: the categories of one
// app's own databases, listed as flat records.

#include <filesystem>

#include "backup/file_list_db.h"
#include "export/export_writer.h"
#include "readers/calendar_db.h"
#include "readers/category_readers.h"
#include "readers/note_db.h"
#include "readers/reminder_store_db.h"
#include "readers/safari_db.h"
#include "readers/voice_memo_db.h"

namespace readers {
namespace {

constexpr DatabaseLocation kCalendar = {"HomeDomain", "/Calendar.sqlitedb", "Library/Calendar/Calendar.sqlitedb"};
constexpr DatabaseLocation kRecordings = {"MediaDomain", "/Recordings.db", "Media/Recordings/Recordings.db"};
constexpr DatabaseLocation kCloudRecordings = {"MediaDomain", "/CloudRecordings.db",
                                               "Media/Recordings/CloudRecordings.db"};

// Events (6) and reminders (9) are the two entity types of one database;
// the other type's items are read too but not shown. Reminders come from the
// reminders stores of iOS 13 and later too, listed first.
class CalendarReader : public ICategoryReader {
 public:
  using ICategoryReader::ICategoryReader;

  void Load(const LoadContext& context) override {
    stores_.clear();
    if (!path_.empty()) {
      calendar_ = std::make_unique<CCalendarDB>(Index());
      calendar_->wantedEntityType = EntityType();
      OpenAndLoad(*calendar_, path_, 0, context, true);
    }
    for (const std::string& storePath : storePaths_) {
      stores_.push_back(std::make_unique<CReminderStoreDB>(Index()));
      OpenAndLoad(*stores_.back(), storePath, 0, context, true);
    }
  }

  std::vector<db::BaseItem*> ResultList() const override {
    if (EntityType() == kCalendarReminder) return ListReminders(stores_, calendar_.get());
    std::vector<db::BaseItem*> list;
    if (!calendar_) return list;
    for (const auto& item : calendar_->Entries()) {
      if (item->listMark == 0) list.push_back(item.get());
    }
    return list;
  }

  base::Status Export(exporting::CExportWriter& writer, const std::vector<db::BaseItem*>& selection,
                      const db::FriendItem*, exporting::IExportProgress*) const override {
    WriteCalendarCsv(writer, selection, EntityType());
    return writer.Finish();
  }

 protected:
  base::Status FindFiles(backup::CFileListDB& index) override {
    const base::Status calendar = Locate(kCalendar, path_);
    storePaths_.clear();
    if (EntityType() != kCalendarReminder || calendar.Kind() == base::Status::Code::kUnreadable) return calendar;
    if (const base::Status stores = FindReminderStores(index, storePaths_); !stores.Ok()) {
      AddProblem(stores, true);
      return stores;
    }
    return storePaths_.empty() ? calendar : base::Status();
  }

  void DescribeRecord(const db::BaseItem& record, nlohmann::ordered_json& out) const override {
    const auto* item = dynamic_cast<const DBITEM_CalendarFriend*>(&record);
    if (item == nullptr) return;
    out["rowId"] = item->rowId;
    out["entityType"] = item->entityType;
    out["summary"] = item->summary;
    out["endDate"] = TimeJson(item->endDate);
    out["completionDate"] = TimeJson(item->completionDate);
    out["locationTitle"] = item->locationTitle;
    out["priority"] = item->priority;
    out["description"] = item->description;
    if (item->entityType == kCalendarReminder) {
      out["listName"] = item->listName;
      out["completed"] = item->completed || item->completionDate > 0;
      out["flagged"] = item->flagged;
    }
  }

 private:
  int EntityType() const { return Category().number == base::kCategoryReminders ? kCalendarReminder : kCalendarEvent; }

  std::string path_;
  std::unique_ptr<CCalendarDB> calendar_;
  std::vector<std::string> storePaths_;  // reminders stores, for the reminders only
  std::vector<std::unique_ptr<CReminderStoreDB>> stores_;
};

// History (History.db, one per profile) and bookmarks (Bookmarks.db) in one
// list; the collection finds them itself, since History.db lives in either
// of two domains and in every profile's folder.
class SafariReader : public ICategoryReader {
 public:
  using ICategoryReader::ICategoryReader;

  void Load(const LoadContext& context) override {
    safari_ = std::make_unique<SafariCollection>(Index());
    LoadSafari(*safari_, *Index(), context.progress);
    for (const auto& history : safari_->HistoryReaders()) AddProblems(history.get(), true);
    AddProblems(safari_->BookmarksReader(), true);
  }

  std::vector<db::BaseItem*> ResultList() const override {
    if (!safari_) return {};
    return {safari_->Records().begin(), safari_->Records().end()};
  }

  base::Status Export(exporting::CExportWriter& writer, const std::vector<db::BaseItem*>& selection,
                      const db::FriendItem*, exporting::IExportProgress*) const override {
    WriteSafariCsv(writer, selection);
    return writer.Finish();
  }

 protected:
  base::Status FindFiles(backup::CFileListDB&) override { return {}; }

  void DescribeRecord(const db::BaseItem& record, nlohmann::ordered_json& out) const override {
    const auto* page = dynamic_cast<const DBITEM_Safari*>(&record);
    if (page == nullptr) return;
    out["isBookmark"] = page->isBookmark != 0;
    out["pageTitle"] = page->pageTitle;
    out["pageUrl"] = page->pageUrl;
    if (page->isBookmark != 0) out["folder"] = page->folder;
  }

 private:
  std::unique_ptr<SafariCollection> safari_;
};

// The old notes database and the new note store, in one list. The note
// readers keep their connections until the collection goes: a note's
// attachments are looked up when it is shown.
class NotesReader : public ICategoryReader {
 public:
  using ICategoryReader::ICategoryReader;

  void Load(const LoadContext& context) override {
    notes_ = std::make_unique<NoteCollection>(Index());
    LoadNotes(*notes_, *Index(), context.progress);
    AddProblems(notes_->NotesSqliteReader(), true);
    AddProblems(notes_->NoteStoreReader(), true);
  }

  std::vector<db::BaseItem*> ResultList() const override { return notes_ ? notes_->Items() : std::vector<db::BaseItem*>(); }

  base::Status Export(exporting::CExportWriter& writer, const std::vector<db::BaseItem*>& selection,
                      const db::FriendItem*, exporting::IExportProgress*) const override {
    WriteNotesCsv(writer, selection);
    return writer.Finish();
  }

 protected:
  base::Status FindFiles(backup::CFileListDB&) override { return {}; }

  void DescribeRecord(const db::BaseItem& record, nlohmann::ordered_json& out) const override {
    const auto* note = dynamic_cast<const DBITEM_Note*>(&record);
    if (note == nullptr) return;
    out["noteId"] = note->noteId;
    out["titleText"] = note->titleText;
    out["snippet"] = note->snippet;
    out["body"] = note->body;
    out["locked"] = note->locked;
    out["attachments"] = note->attachments;
  }

 private:
  std::unique_ptr<NoteCollection> notes_;
};

// Recordings are exported as audio files, not as a table. A phone since
// iOS 12 lists them in CloudRecordings.db, an older one in Recordings.db; a
// phone that moved them may keep both, listed together without repeats.
class VoiceMemosReader : public ICategoryReader {
 public:
  using ICategoryReader::ICategoryReader;

  void Load(const LoadContext& context) override {
    if (!cloudPath_.empty()) {
      cloud_ = std::make_unique<CNoteVoiceDB>(Index());
      OpenAndLoad(*cloud_, cloudPath_, kVoiceMemoCloudRecordings, context, true);
    }
    if (!path_.empty()) {
      memos_ = std::make_unique<CNoteVoiceDB>(Index());
      OpenAndLoad(*memos_, path_, kVoiceMemoRecordings, context, true);
    }
  }

  std::vector<db::BaseItem*> ResultList() const override { return VoiceMemoList(cloud_.get(), memos_.get()); }

  base::Status Export(exporting::CExportWriter& writer, const std::vector<db::BaseItem*>& selection,
                      const db::FriendItem*, exporting::IExportProgress* progress) const override {
    ExportVoiceMemos(selection, writer.Folder(), progress);
    return writer.Failure();
  }

 protected:
  base::Status FindFiles(backup::CFileListDB&) override {
    const base::Status cloud = Locate(kCloudRecordings, cloudPath_);
    const base::Status older = Locate(kRecordings, path_);
    return cloud.Ok() ? cloud : older;
  }

  void DescribeRecord(const db::BaseItem& record, nlohmann::ordered_json& out) const override {
    const auto* memo = dynamic_cast<const DBITEM_NoteVoice*>(&record);
    if (memo == nullptr) return;
    out["label"] = memo->label;
    out["folder"] = memo->folder;
    out["uniqueId"] = memo->uniqueId;
    out["fileName"] = memo->fileName;
    out["duration"] = memo->duration;
    out["audioPath"] = memo->audioPath;
    out["audioSize"] = memo->audioSize;
  }

 private:
  std::string cloudPath_;
  std::string path_;
  std::unique_ptr<CNoteVoiceDB> cloud_;
  std::unique_ptr<CNoteVoiceDB> memos_;
};

}  // namespace

std::unique_ptr<ICategoryReader> MakeCalendarReader(const base::CategoryInfo& category) {
  return std::make_unique<CalendarReader>(category);
}

std::unique_ptr<ICategoryReader> MakeSafariReader(const base::CategoryInfo& category) {
  return std::make_unique<SafariReader>(category);
}

std::unique_ptr<ICategoryReader> MakeNotesReader(const base::CategoryInfo& category) {
  return std::make_unique<NotesReader>(category);
}

std::unique_ptr<ICategoryReader> MakeVoiceMemosReader(const base::CategoryInfo& category) {
  return std::make_unique<VoiceMemosReader>(category);
}

}  // namespace readers
