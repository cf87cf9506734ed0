#include "backup/file_list_db.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <fstream>

#include "db/wal_companion.h"
#include "platform/fs.h"
#include "testing/folder_snapshot.h"
#include "testing/plist_writer.h"
#include "testing/sample_backup.h"

namespace {

namespace fs = std::filesystem;
using backup::CFileListDB;
using sample::BackupMode;

constexpr const char* kSmsId = "3d0d7e5fb2ce288813306e4d4636395e047a3d28";

// Reads the handle table of the demo's sms.db.
class HandleReader : public db::CDbSqlite {
 public:
  std::string GetTableName(int tableKind) override { return tableKind == 0 ? "handle" : ""; }
  void ParseRow(int tableKind, std::unique_ptr<db::BaseItem>& out, db::CppSQLite3Query& query) override {
    if (tableKind == 0) out = std::make_unique<db::BaseItem>();
    else CDbSqlite::ParseRow(tableKind, out, query);
  }
};

std::size_t HandleRows(const CFileListDB& index, const std::string& storedPath) {
  HandleReader reader;
  if (!index.OpenDatabase(reader, storedPath, 0).Ok()) return 0;
  db::ItemList rows;
  reader.LoadTable(0, rows);
  return rows.size();
}

class FileListDbTest : public ::testing::Test {
 protected:
  fs::path Write(BackupMode mode, const std::string& name = "backup") {
    const fs::path folder = root_.Path() / name;
    sample::DemoBackup().Write(folder, mode);
    return folder;
  }
  platform::TempFolder root_{"velmora-filelist"};
};

TEST_F(FileListDbTest, ResolvesAnAppFileInEachManifestForm) {
  struct Case {
    BackupMode mode;
    int sourceMode;
    std::string storedRelative;
  };
  const Case cases[] = {
      {BackupMode::kManifestDb, backup::SourceManifestDb, std::string("3d/") + kSmsId},
      {BackupMode::kManifestMbdb, backup::SourceManifestMbdb, kSmsId},
  };
  for (const Case& c : cases) {
    const fs::path folder = Write(c.mode, "form" + std::to_string(c.sourceMode));
    CFileListDB index;
    ASSERT_TRUE(index.Open(folder.string(), -1).Ok());
    EXPECT_EQ(index.Mode(), c.sourceMode);
    std::vector<std::string> paths;
    EXPECT_EQ(index.FindFilePaths("/sms.db", "HomeDomain", paths, false), 1);
    ASSERT_EQ(paths.size(), 1u) << c.sourceMode;
    EXPECT_EQ(paths[0], (folder / c.storedRelative).string());
    EXPECT_EQ(index.StoredPathOf(kSmsId), (folder / c.storedRelative).string());

    // Case-insensitive domain, and no match is a lookup that ran.
    paths.clear();
    EXPECT_EQ(index.FindFilePaths("Library/SMS/sms.db", "homedomain", paths, false), 1);
    EXPECT_EQ(paths.size(), 1u);
    paths.clear();
    EXPECT_EQ(index.FindFilePaths("/nothing.db", "HomeDomain", paths, false), 1);
    EXPECT_TRUE(paths.empty());

    backup::FileRecordList records;
    EXPECT_EQ(index.FindFileRecords("Library/SMS/sms.db", "HomeDomain", records, false), 1);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0]->fileID, kSmsId);
    EXPECT_EQ(records[0]->domain, "HomeDomain");
    EXPECT_EQ(records[0]->relativePath, "Library/SMS/sms.db");
    EXPECT_EQ(records[0]->storedPath, (folder / c.storedRelative).string());
    EXPECT_EQ(index.CountFiles(), 4);  // sms.db, its -wal and two preference files; not the folders
  }
}

TEST_F(FileListDbTest, ManifestDbRecordsCarryTheMetadataOfTheirFileBlob) {
  const fs::path folder = Write(BackupMode::kManifestDb);
  CFileListDB index;
  ASSERT_TRUE(index.Open(folder.string(), -1).Ok());
  backup::FileRecordList records;
  ASSERT_EQ(index.FindFileRecords("%.plist", "HomeDomain", records, false), 1);
  ASSERT_EQ(records.size(), 2u);
  const backup::DBITEM_FileList& record = *records[0];
  EXPECT_EQ(record.fileName, ".GlobalPreferences.plist");
  EXPECT_EQ(record.flags, 1);
  EXPECT_EQ(record.size, static_cast<std::int64_t>(fs::file_size(record.storedPath)));
  EXPECT_EQ(record.birth, 1566918489);
  EXPECT_EQ(record.lastModified, 1638501497);
  EXPECT_EQ(record.lastStatusChange, 1638559914);
  EXPECT_DOUBLE_EQ(record.time, 1566918489.0);
  EXPECT_FALSE(record.fileBlob.empty());
}

TEST_F(FileListDbTest, DamagedManifestRowsCostOnlyTheirOwnData) {
  const fs::path folder = Write(BackupMode::kManifestDb);
  auto blob = sample::PlistNode::Dictionary({});
  blob.Add("$objects", sample::PlistNode::Array({sample::PlistNode::Text("$null"),
                                                 sample::PlistNode::Dictionary({})
                                                     .Add("Size", sample::PlistNode::Text("12"))
                                                     .Add("Birth", sample::PlistNode::Integer(99))}));
  const auto wrongType = sample::WriteBinaryPlist(blob);
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open((folder / "Manifest.db").c_str(), &db), SQLITE_OK);
  sqlite3_stmt* insert = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO Files VALUES (?, 'HomeDomain', ?, 1, ?);", -1, &insert, nullptr);
  auto add = [&](const std::string& id, const std::string& path, const std::vector<std::uint8_t>& bytes) {
    sqlite3_bind_text(insert, 1, id.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(insert, 2, path.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_blob(insert, 3, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
    sqlite3_step(insert);
    sqlite3_reset(insert);
  };
  add("aa00000000000000000000000000000000000001", "Library/Notes/typed.note", wrongType);
  add("aa00000000000000000000000000000000000002", "Library/Notes/garbage.note", {'b', 'p', 'l', 'i', 's', 't'});
  // A fileID is part of a path: one that is no stored-file name must not lead out of the backup.
  add("../../../etc/passwd", "Library/Notes/escape.note", {});
  add("aa00000000000000000000000000000000000003", "Library/Notes/last.note", {});
  sqlite3_finalize(insert);
  sqlite3_close(db);
  fs::remove(folder / "Manifest.db-wal");
  fs::remove(folder / "Manifest.db-shm");

  CFileListDB index;
  ASSERT_TRUE(index.Open(folder.string(), -1).Ok());
  backup::FileRecordList records;
  ASSERT_EQ(index.FindFileRecords(".note", "HomeDomain", records, false), 1);
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[0]->fileName, "typed.note");
  EXPECT_EQ(records[0]->size, 0);  // text where a number belongs is passed over
  EXPECT_EQ(records[0]->birth, 99);
  EXPECT_EQ(records[1]->fileName, "garbage.note");
  EXPECT_EQ(records[1]->birth, 0);
  EXPECT_EQ(records[2]->fileName, "last.note");
}

TEST_F(FileListDbTest, ChoosesItsSourceModeAndRejectsUnreadableManifests) {
  struct Case {
    const char* name;
    std::function<void(const fs::path&)> prepare;
    int opened;
    int mode;
  };
  const Case cases[] = {
      {"both manifests: Manifest.db wins",
       [](const fs::path& f) {
         sample::DemoBackup().Write(f, BackupMode::kManifestDb);
         sample::DemoBackup().Write(f, BackupMode::kManifestMbdb);
       },
       1, backup::SourceManifestDb},
      {"lower-case manifest name",
       [](const fs::path& f) {
         sample::DemoBackup().Write(f, BackupMode::kManifestDb);
         fs::rename(f / "Manifest.db", f / "manifest.db");
       },
       1, backup::SourceManifestDb},
      {"no manifest: a plain folder", [](const fs::path& f) { fs::create_directories(f / "Library"); }, 1,
       backup::SourceFolder},
      {"empty mbdb",
       [](const fs::path& f) {
         fs::create_directories(f);
         std::ofstream(f / "Manifest.mbdb");
       },
       0, backup::SourceManifestMbdb},
      {"mbdb of another version",
       [](const fs::path& f) {
         fs::create_directories(f);
         std::ofstream(f / "Manifest.mbdb") << "mbdb\x04";
       },
       0, backup::SourceManifestMbdb},
      {"Manifest.db that is no database",
       [](const fs::path& f) {
         fs::create_directories(f);
         std::ofstream(f / "Manifest.db") << std::string(4096, 'x');
       },
       0, backup::SourceManifestDb},
      {"Manifest.db without Files",
       [](const fs::path& f) {
         fs::create_directories(f);
         sqlite3* db = nullptr;
         sqlite3_open((f / "Manifest.db").c_str(), &db);
         sqlite3_exec(db, "CREATE TABLE Other (x);", nullptr, nullptr, nullptr);
         sqlite3_close(db);
       },
       0, backup::SourceManifestDb},
  };
  int n = 0;
  for (const Case& c : cases) {
    const fs::path folder = root_.Path() / ("mode" + std::to_string(n++));
    c.prepare(folder);
    CFileListDB index;
    EXPECT_EQ(index.Open(folder.string(), -1).Ok(), c.opened != 0) << c.name;
    EXPECT_EQ(index.Mode(), c.mode) << c.name;
  }
}

TEST_F(FileListDbTest, MbdbMatchesOnlyWhereTheFirstOccurrenceEndsThePath) {
  sample::SampleBackupBuilder builder;
  builder.AddText("HomeDomain", "Library/sms.db-old/sms.db", "twice");
  builder.AddText("HomeDomain", "Library/SMS/sms.db", "once");
  const fs::path folder = root_.Path() / "twice";
  builder.Write(folder, BackupMode::kManifestMbdb);
  CFileListDB index;
  ASSERT_TRUE(index.Open(folder.string(), -1).Ok());
  backup::FileRecordList records;
  index.FindFileRecords("sms.db", "HomeDomain", records, false);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0]->relativePath, "Library/SMS/sms.db");
  EXPECT_EQ(records[0]->fileID, backup::MbdbFileId("HomeDomain", "Library/SMS/sms.db"));
  EXPECT_EQ(backup::MbdbFileId("HomeDomain", "Library/SMS/sms.db"), kSmsId);
}

// A lookup gives files, never the folders the manifest also lists (which
// have no stored file), in both manifest forms alike.
TEST_F(FileListDbTest, ManifestLookupsGiveFilesNotFolders) {
  for (BackupMode mode : {BackupMode::kManifestDb, BackupMode::kManifestMbdb}) {
    sample::SampleBackupBuilder builder;
    builder.AddFolder("AppDomainGroup-group.com.apple.notes", "Accounts/LocalAccount/Media/M1/G1");
    builder.AddText("AppDomainGroup-group.com.apple.notes", "Accounts/LocalAccount/Media/M1/G1/a.jpeg", "jpeg");
    const fs::path folder = root_.Path() / ("folders" + std::to_string(static_cast<int>(mode)));
    builder.Write(folder, mode);
    CFileListDB index;
    ASSERT_TRUE(index.Open(folder.string(), -1).Ok());
    backup::FileRecordList records;
    index.FindFileRecords("%Media/M1/%", "AppDomainGroup-group.com.apple.notes", records, true);
    ASSERT_EQ(records.size(), 1u) << static_cast<int>(mode);
    EXPECT_EQ(records[0]->relativePath, "Accounts/LocalAccount/Media/M1/G1/a.jpeg");
  }
}

TEST_F(FileListDbTest, FolderModeLooksUpPathsAndSearchesTheTree) {
  const fs::path folder = Write(BackupMode::kFolder);
  CFileListDB index;
  ASSERT_TRUE(index.Open(folder.string(), -1).Ok());
  ASSERT_EQ(index.Mode(), backup::SourceFolder);
  EXPECT_EQ(index.StoredPathOf("anything"), folder.string() + "/");

  std::vector<std::string> paths;
  EXPECT_EQ(index.FindFilePaths("library\\sms\\SMS.DB", "", paths, false), 1);
  EXPECT_EQ(paths, std::vector<std::string>{(folder / "Library/SMS/sms.db").string()});
  paths.clear();
  EXPECT_EQ(index.FindFilePaths("", "", paths, false), 0);
  EXPECT_EQ(index.FindFilePaths("Library/SMS/../SMS/sms.db", "", paths, false), 0);

  // Search: "%" dropped, a substring of the whole path, case-sensitive, sorted.
  EXPECT_EQ(index.FindFilePaths("%SMS/sms.db", "", paths, true), 2);
  EXPECT_EQ(paths, (std::vector<std::string>{(folder / "Library/SMS/sms.db").string(),
                                             (folder / "Library/SMS/sms.db-wal").string()}));
  paths.clear();
  EXPECT_EQ(index.FindFilePaths("SMS/SMS.DB", "", paths, true), 0);
  EXPECT_EQ(index.FindFilePaths(".plist", "", paths, true, 1), 1);

  backup::FileRecordList records;
  EXPECT_EQ(index.FindFileRecords("Library/SMS/sms.db", "", records, false), 1);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0]->relativePath, (folder / "Library/SMS/sms.db").string());
  EXPECT_EQ(records[0]->fileName, records[0]->relativePath);
  EXPECT_EQ(records[0]->storedPath, records[0]->relativePath);
  EXPECT_EQ(index.CountFiles(), 4);
}

TEST_F(FileListDbTest, FolderWalksDoNotFollowLinks) {
  const fs::path folder = Write(BackupMode::kFolder);
  fs::create_directory_symlink(folder, folder / "Library" / "loop");
  fs::create_symlink(folder / "Library/SMS/sms.db", folder / "linked.db");
  std::vector<std::string> paths;
  backup::SearchFolder(folder.string() + "/", "sms.db", paths, backup::SearchMode::kSubstring, backup::kNoLimit);
  EXPECT_EQ(paths.size(), 2u);  // sms.db and sms.db-wal, once each, no link
  paths.clear();
  backup::SearchFolder(folder.string() + "/", "SMS.DB", paths, backup::SearchMode::kExactName, backup::kNoLimit);
  EXPECT_EQ(paths, std::vector<std::string>{(folder / "Library/SMS/sms.db").string()});
  CFileListDB index;
  index.Open(folder.string(), -1);
  EXPECT_EQ(index.CountFiles(), 4);
}

TEST_F(FileListDbTest, IsBackupFolderAcceptsTheFolderOrItsLastQualifyingSubfolder) {
  struct Case {
    const char* name;
    std::vector<std::string> markers;  // files to create below the folder
    int result;
    std::string chosen;  // relative to the folder; "." for the folder itself
  };
  const Case cases[] = {
      {"manifest in the folder", {"Manifest.db"}, 1, "."},
      {"mbdb in the folder", {"Manifest.mbdb", "abc/Manifest.db"}, 1, "."},
      {"WeChat folder", {"DB/WCDB_Contact.sqlite"}, 1, "."},
      {"subfolder abc", {"abc/Manifest.db"}, 1, "abc"},
      {"last subfolder wins", {"abc/Manifest.db", "xyz/mmsetting.archive", "zzz/readme.txt"}, 1, "xyz"},
      {"nothing", {"abc/readme.txt", "abc/def/Manifest.db"}, 0, ""},
  };
  int n = 0;
  for (const Case& c : cases) {
    const fs::path folder = root_.Path() / ("pick" + std::to_string(n++));
    fs::create_directories(folder);
    for (const std::string& marker : c.markers) {
      fs::create_directories((folder / marker).parent_path());
      std::ofstream(folder / marker) << "x";
    }
    std::string chosen;
    EXPECT_EQ(backup::IsBackupFolder(folder.string(), chosen), c.result) << c.name;
    if (c.result == 1) {
      EXPECT_EQ(chosen, c.chosen == "." ? folder.string() : (folder / c.chosen).string()) << c.name;
    }
  }
}

TEST_F(FileListDbTest, ReadersSeeTheWalRowsAndTheBackupStaysByteIdentical) {
  for (BackupMode mode : {BackupMode::kManifestDb, BackupMode::kManifestMbdb, BackupMode::kFolder}) {
    const fs::path folder = Write(mode, "wal" + std::to_string(static_cast<int>(mode)));
    const auto before = sample::SnapshotFolder(folder);
    {
      CFileListDB index;
      ASSERT_TRUE(index.Open(folder.string(), -1).Ok());
      std::vector<std::string> paths;
      index.FindFilePaths("Library/SMS/sms.db", "HomeDomain", paths, false);
      ASSERT_EQ(paths.size(), 1u);
      // Three handles in the database file, one of them deleted, and the
      // newest only in the -wal: three rows.
      EXPECT_EQ(HandleRows(index, paths[0]), 3u) << static_cast<int>(mode);
      // A manifest stores the log under a name of its own; a plain folder keeps it beside.
      EXPECT_EQ(index.WalCompanionOf(paths[0]).empty(), mode == BackupMode::kFolder) << static_cast<int>(mode);
      backup::FileRecordList records;
      index.FindFileRecords(".plist", "HomeDomain", records, true);
      index.CountFiles();
      index.Close();
    }
    EXPECT_EQ(sample::SnapshotFolder(folder), before) << static_cast<int>(mode);
  }
}

TEST(FileListDbRealManifest, ResolvesSmsDbInARealIos14Backup) {
  const fs::path real = fs::path(VELMORA_SHARED_DIR) / "samples" / "mvt";
  if (!fs::exists(real / "Manifest.db")) GTEST_SKIP() << "no real backup sample at " << real;
  platform::TempFolder temp("velmora-real");
  const fs::path folder = temp.Path() / "mvt";
  fs::copy(real, folder, fs::copy_options::recursive);
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    fs::permissions(entry.path(), fs::perms::owner_write, fs::perm_options::add);
  }
  const auto before = sample::SnapshotFolder(folder);
  {
    CFileListDB index;
    ASSERT_TRUE(index.Open(folder.string(), -1).Ok());
    backup::FileRecordList records;
    ASSERT_EQ(index.FindFileRecords("/sms.db", "HomeDomain", records, false), 1);
    ASSERT_EQ(records.size(), 1u);
    const backup::DBITEM_FileList& sms = *records[0];
    EXPECT_EQ(sms.storedPath, (folder / "3d" / kSmsId).string());
    EXPECT_EQ(sms.relativePath, "Library/SMS/sms.db");
    EXPECT_EQ(sms.size, 278528);
    EXPECT_EQ(sms.birth, 1566918489);
    EXPECT_EQ(sms.lastModified, 1638501497);
    EXPECT_EQ(sms.lastStatusChange, 1638559914);
    EXPECT_EQ(index.CountFiles(), 1089);
  }
  // The real manifest is in WAL mode: an ordinary read-only open would have
  // left Manifest.db-wal and -shm beside it.
  EXPECT_EQ(sample::SnapshotFolder(folder), before);
}

}  // namespace
