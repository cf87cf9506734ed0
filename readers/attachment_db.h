#pragma once
// CAttachmentDB: the media and document files an app keeps in the backup —
// the notes app's files (data category 14), the message attachments (15),
// one WeChat account's files (16) and WhatsApp's files (17). The apps' own
// databases are not read for this: the backup's file list is. Every regular
// file of the app's domain whose extension is on one of four type lists
// becomes a DBITEM_Attachment, filed under a day group (its local date) and
// under the top groups of its type. Nothing is marked deleted here.
//
// Where the file list comes from, by the index's source mode:
//   Manifest.db    the table Files, through SQLite (read-only, immutable,
//                  with its -wal through a private working copy)
//   Manifest.mbdb  the index's manifest records: the domain filter as "the
//                  domain contains the app's domain word" (ignoring ASCII
//                  case, as LIKE does), a regular file standing for flags 1
//   plain folder   no domains: the tree is walked (links not followed) and a
//                  file counts when its path below the folder begins with
//                  the app's own folder ("Accounts/" of the notes app's
//                  group, "Library/SMS/Attachments/", "Message/" of
//                  WhatsApp's shared group, compared ignoring ASCII case),
//                  or, for WeChat, contains "<account folder>/"; birth and
//                  last-modified are the file's own modification time, and
//                  relativePath is the '/'-joined path below the folder
// All three feed one filing path, so grouping and counting do not depend on
// the form.
//
// Threads: LoadAttachmentReader runs on the analysis worker; afterwards the
// records and groups are only read (by the browser and the recovery run)
// until the reader is destroyed. ExportAttachments runs on the recovery
// worker.

#include <array>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "backup/file_list_db.h"
#include "db/db_sqlite.h"
#include "db/items.h"

namespace exporting {
class IExportProgress;
}

namespace readers {

// A file's media type; also the number of the day group's sub-list that
// holds the files of that type (sub-list 0 holds them all).
inline constexpr int kAttachmentImage = 1, kAttachmentVideo = 2, kAttachmentVoice = 3, kAttachmentOther = 4;

// The reader's two roles: the one that lists files from the backup's file
// list, and the one opened on the app's own database, which lists nothing.
inline constexpr int kManifestReaderMode = 0;
inline constexpr int kAppReaderMode = 1;

// pngMark of a PNG file; every other file has kOtherMark.
inline constexpr std::int32_t kPngMark = 5;
inline constexpr std::int32_t kOtherMark = 1;

// The names of the five top groups, in their order.
inline constexpr std::array<std::string_view, 5> kTopGroupNames = {"全部文件", "图片", "视频", "语音", "其他"};

// The day group of a file whose time no conversion can place on a date.
inline constexpr char kUnknownDateKey[] = "0000-00-00";

// The media type of a relative path by the extension after its last '.',
// ignoring ASCII case: 1 image, 2 video, 3 voice, 4 other, 0 for a path
// without '.' or an extension on no list. Sets png when the extension is
// "png" in any case.
int AttachmentTypeOf(std::string_view relativePath, bool& png);

// The day a file's time falls on, "YYYY-MM-DD" in local time. A time that
// local time cannot convert, or that lands before 2001, counts from
// 2001-01-01 (the phone's own epoch); one that still cannot be converted
// gives kUnknownDateKey. Reads the local time zone.
std::string AttachmentDateKey(std::int64_t time);

// One file. Title() is storedPath; SearchText() the relative path.
// time: birth (Unix seconds as the backup gives them).
class DBITEM_Attachment : public backup::DBITEM_FileList {
 public:
  const std::string& Title() const override { return storedPath; }

  int mediaType = 0;  // kAttachmentImage .. kAttachmentOther
  std::int32_t pngMark = kOtherMark;
  std::int64_t timeValue = 0;  // time as an integer
};

// A group of files: a top group (its items are day groups; subListIndex says
// which sub-list of each day group it shows) or a day group (sub-list 0 all
// its files, 1-4 its files of that media type). Title() is groupName.
class DBITEM_AttachmentFriend : public db::FriendItem {
 public:
  const std::string& Title() const override { return groupName; }
  const std::string& SearchText() const override { return groupName; }

  std::string groupName;  // a top group's name, or the day's "YYYY-MM-DD"
  // Kept for the browser to show. A top group counts its files in
  // fileCount; 全部文件 and 图片 also count them in markCounts[0] and by
  // pngMark (1 or 5). A day group leaves fileCount at 0 and counts PNGs in
  // markCounts[5], other files in markCounts[0], its non-PNG images also in
  // markCounts[1].
  std::int32_t fileCount = 0;
  std::array<std::int32_t, 6> markCounts{};
  std::int32_t extra = -1;  // not used by the reader
};

class CAttachmentDB : public db::CDbSqlite {
 public:
  // index: the analysis's backup file index (not owned; must outlive the
  // loading). Without one the path given to LoadAttachmentReader is read as
  // a Manifest.db. category: 14-17; appMode: kManifestReaderMode or
  // kAppReaderMode.
  CAttachmentDB(backup::CFileListDB* index, int category, int appMode);
  ~CAttachmentDB() override;

  // For the WeChat category: the account folder (the account's user hash)
  // that limits the files; set before loading. Bound as a value, never part
  // of the SQL text.
  std::string accountFolder;

  // Kind 0 while opened with param 0: the FROM clause of the category's
  // files in the manifest ("" for another kind or category). The WeChat
  // clause carries one parameter, the account folder's LIKE pattern.
  std::string GetTableName(int tableKind) override;
  // Kind 0: one row of Files; a listed file is filed here and nothing is
  // handed back through out.
  void ParseRow(int tableKind, std::unique_ptr<db::BaseItem>& out, db::CppSQLite3Query& query) override;

  // Makes the five top groups, binding group i to rows[i] (its row field;
  // rows may hold nulls), and lists the category's files. The manifest
  // reader of a Manifest.db backup opens path; of an mbdb or folder backup
  // it reads the index instead and path is not used. The app reader opens
  // path and lists nothing. Returns 1, or 0 when the database cannot be
  // opened (the groups then stay empty). Call once per reader.
  int LoadAttachmentReader(const std::string& path, std::array<void*, 5> rows, int openParam);

  // 全部文件, 图片, 视频, 语音, 其他; each top group's day groups newest first
  // (equal times keep their order). Owned here.
  const std::vector<DBITEM_AttachmentFriend*>& TopGroups() const { return topGroups_; }
  // Every listed file in the order found. Owned here; they outlive Close.
  const std::vector<std::unique_ptr<DBITEM_Attachment>>& Attachments() const { return attachments_; }
  // The day groups by their date key. Owned here.
  const std::map<std::string, DBITEM_AttachmentFriend*>& GroupsByDate() const { return groupsByDate_; }

  // Files the app's own database names (sms.db's attachment table), by
  // relative path, with their media type. A named file is listed whatever
  // its extension, as that type; the others by their extension. The app
  // reader of the messages fills it; the manifest reader is given it before
  // loading.
  const std::unordered_map<std::string, int>& NamedFiles() const { return namedFiles_; }
  void NameFiles(std::unordered_map<std::string, int> files) { namedFiles_ = std::move(files); }

  // The column count of the manifest query (0 when it could not run).
  int LoadedColumns() const { return columnCount_; }
  int Category() const { return category_; }
  int AppMode() const { return appMode_; }

 private:
  void MakeTopGroups(const std::array<void*, 5>& browserRows);
  // The media type of a file: the named type, else by extension (0: not
  // listed). Sets png by the extension.
  int TypeOf(const std::string& relativePath, bool& png) const;
  // Lists the files through SQL (Manifest.db) or from the index.
  void LoadManifest();
  void LoadMbdb();
  void LoadFolder();
  // Whether a record of the index's mbdb or a path of a folder backup
  // belongs to the category.
  bool MatchesDomain(const std::string& domain) const;
  bool MatchesFolderPath(const std::string& relativePath) const;
  // Completes a typed record whose relativePath, storedPath, flags and
  // times or blob are set, keeps it and files it under its day group and
  // the top groups, counting it. The one filing path of every form.
  void FileAttachment(std::unique_ptr<DBITEM_Attachment> record);
  DBITEM_AttachmentFriend* DayGroupOf(const DBITEM_Attachment& record);
  void SortTopGroups();

  backup::CFileListDB* index_;
  int category_;
  int appMode_;
  std::vector<std::unique_ptr<DBITEM_AttachmentFriend>> ownedGroups_;
  std::vector<DBITEM_AttachmentFriend*> topGroups_;
  std::map<std::string, DBITEM_AttachmentFriend*> groupsByDate_;
  std::vector<std::unique_ptr<DBITEM_Attachment>> attachments_;
  std::unordered_map<std::string, int> namedFiles_;
  int columnCount_ = 0;
};

// The readers of one analysis of categories 14, 15 and 17. Destroying it
// destroys its readers and their records.
class AttachmentSet {
 public:
  AttachmentSet();
  ~AttachmentSet();
  AttachmentSet(const AttachmentSet&) = delete;
  AttachmentSet& operator=(const AttachmentSet&) = delete;

  int category = -1;
  std::unique_ptr<CAttachmentDB> manifestReader;
  std::unique_ptr<CAttachmentDB> appReader;  // 14 and 15, when the app's database is found
};

// Loads the attachments of set.category into set, replacing its readers:
// for 14 and 15 an app reader on the app's database (NoteStore.sqlite,
// sms.db) when the index finds it, and the manifest reader. Other categories
// load nothing. rows go to LoadAttachmentReader. Returns 1. Runs on the
// analysis worker; the readers stay open until the caller closes them.
int LoadAttachments(AttachmentSet& set, backup::CFileListDB& index, std::array<void*, 5> rows);

// The manifest the index opened, whatever the case of its name: the file
// every manifest reader lists (the other backup forms list their files from
// the index and use no path).
std::string ManifestPathOf(const backup::CFileListDB& index);

// The name a file is copied under: its fileName passed through
// exporting::SanitiseFileName (control characters dropped too) and kept
// within a file system's name length; when that leaves nothing, the stored
// file's own name treated the same way; when that too is empty, "文件".
std::string AttachmentExportName(const DBITEM_Attachment& record);

// Copies the ticked files of the given day groups, from the sub-list the top
// group shows, into destination/<group name>/ (the name sanitised, ':' as
// '-'; an empty one means destination itself). An existing file is never
// replaced: a second file of the same name gets "name 2.ext", "name 3.ext"
// and so on. Records that are not attachments, files missing from the
// backup and failed copies are passed over. Adds 98% over the day groups to
// progress (may be null); stops before the next file, and within a long copy
// (removed then), once progress asks to stop. Returns the number of files
// copied.
int ExportAttachments(const std::filesystem::path& destination, const std::vector<db::BaseItem*>& dayGroups,
                      const DBITEM_AttachmentFriend& topGroup, exporting::IExportProgress* progress);

}  // namespace readers
