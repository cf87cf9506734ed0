#include "base/categories.h"
#include "readers/attachment_db.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "backup/file_list_db.h"
#include "export/export_writer.h"
#include "platform/fs.h"
#include "testing/folder_snapshot.h"
#include "testing/sample_backup.h"

namespace readers {
namespace {

namespace fs = std::filesystem;
using sample::BackupMode;
using Files = std::map<std::string, std::string>;

// Times of the sample files, read in the zone the tests run in (CST-8).
constexpr std::int64_t kMidnightAug28 = 1566921600;  // 2019-08-28 00:00:00 CST, still the 27th in UTC
constexpr std::int64_t kLastSecondAug27 = kMidnightAug28 - 1;
constexpr std::int64_t kSep13 = 1600000000;          // 2020-09-13 20:26:40 CST
constexpr std::int64_t kAppleJan06 = 600000000;      // 1989 as Unix seconds; 2020-01-06 from 2001

constexpr char kMediaDomain[] = "MediaDomain";
constexpr char kSmsFolder[] = "Library/SMS/Attachments/";

std::vector<std::uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

std::string Text(const fs::path& path) {
  const auto bytes = platform::ReadWholeFile(path).value_or(std::vector<std::uint8_t>{});
  return {bytes.begin(), bytes.end()};
}

// The files below a folder by their '/'-joined relative path, with their text.
Files FilesBelow(const fs::path& folder) {
  Files files;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (entry.is_regular_file()) files[entry.path().lexically_relative(folder).generic_string()] = Text(entry.path());
  }
  return files;
}

sample::BackupFile File(const std::string& domain, const std::string& relativePath, std::int64_t birth,
                        const std::string& content = "") {
  sample::BackupFile file;
  file.domain = domain;
  file.relativePath = relativePath;
  file.content = Bytes(content.empty() ? relativePath : content);
  file.birth = birth;
  return file;
}

const char* FormName(BackupMode mode) {
  switch (mode) {
    case BackupMode::kManifestDb: return "ManifestDb";
    case BackupMode::kManifestMbdb: return "ManifestMbdb";
    default: return "Folder";
  }
}

// A backup of the given files written in one form and opened as an analysis
// opens it. In the folder form a file's time is its modification time, so
// each file is given its birth as that.
class AttachmentBackup {
 public:
  AttachmentBackup(const std::vector<sample::BackupFile>& files, BackupMode mode) {
    sample::SampleBackupBuilder builder;
    for (const sample::BackupFile& file : files) builder.AddFile(file);
    builder.Write(folder_.Path(), mode);
    if (mode == BackupMode::kFolder) {
      for (const sample::BackupFile& file : files) {
        if (file.isFolder) continue;
        const auto when = std::chrono::sys_seconds(std::chrono::seconds(file.birth));
        fs::last_write_time(folder_.Path() / file.relativePath, std::chrono::file_clock::from_sys(when));
      }
    }
    opened_ = index_.Open(folder_.Path().string(), -1).Ok() ? 1 : 0;
  }

  int Opened() const { return opened_; }
  backup::CFileListDB& Index() { return index_; }
  const fs::path& Folder() const { return folder_.Path(); }
  // The path a manifest reader is given, as LoadAttachments gives it.
  std::string ManifestPath() const {
    return index_.Mode() == backup::SourceManifestDb ? index_.DbPath() : index_.DbFolder() + "Manifest.db";
  }

 private:
  platform::TempFolder folder_{"velmora-attachment-backup"};
  backup::CFileListDB index_;
  int opened_ = -1;
};

// The browser's five rows, as opaque handles.
struct Rows {
  std::array<int, 5> cells{};
  std::array<void*, 5> Handles() { return {&cells[0], &cells[1], &cells[2], &cells[3], &cells[4]}; }
};

std::vector<std::string> GroupNames(const std::vector<db::BaseItem*>& groups) {
  std::vector<std::string> names;
  for (const db::BaseItem* group : groups) names.push_back(group->Title());
  return names;
}

std::vector<std::string> RelativePaths(const std::vector<db::BaseItem*>& records) {
  std::vector<std::string> paths;
  for (const db::BaseItem* record : records) paths.push_back(static_cast<const DBITEM_Attachment*>(record)->relativePath);
  return paths;
}

const DBITEM_AttachmentFriend& Day(const CAttachmentDB& reader, const std::string& key) {
  static const DBITEM_AttachmentFriend kNone;
  const auto found = reader.GroupsByDate().find(key);
  return found == reader.GroupsByDate().end() ? kNone : *found->second;
}

DBITEM_Attachment* Find(const CAttachmentDB& reader, const std::string& relativePath) {
  for (const auto& record : reader.Attachments()) {
    if (record->relativePath == relativePath) return record.get();
  }
  return nullptr;
}

class ProgressSum : public exporting::IExportProgress {
 public:
  void SetProgress(float percent) override { total = percent; }
  void AddProgress(float delta) override { total += delta; }
  double total = 0;
};

// Message attachments of several days and types, with files that must not
// be listed beside them.
std::vector<sample::BackupFile> MessageAttachments() {
  const std::string at = kSmsFolder;
  std::vector<sample::BackupFile> files = {
      File(kMediaDomain, at + "0a/10/A1/photo.JPEG", kMidnightAug28, "first photo"),
      File(kMediaDomain, at + "0a/10/A2/photo.JPEG", kMidnightAug28 + 10, "second photo"),
      File(kMediaDomain, at + "0b/11/B1/archive.tar.gz", kMidnightAug28),
      File(kMediaDomain, at + "0c/12/C1/README", kMidnightAug28),
      File(kMediaDomain, at + "0d/13/D1/IMG_0002.png", kSep13, "png"),
      File(kMediaDomain, at + "0e/14/E1/IMG_0003.MOV", kSep13 + 60, "mov"),
      File(kMediaDomain, at + "0f/15/F1/voice.opus", kAppleJan06),
      File(kMediaDomain, at + "10/16/G1/report.pdf", kMidnightAug28 + 5 * 3600, "pdf"),
      File(kMediaDomain, at + "11/17/H1/late.jpg", kLastSecondAug27, "late"),
      File("CameraRollDomain", "Media/DCIM/100APPLE/IMG_0001.JPG", kSep13),
  };
  sample::BackupFile folder = File(kMediaDomain, at + "12/18/folder.jpg", kSep13);
  folder.isFolder = true;
  folder.mode = 040755;
  folder.content.clear();
  files.push_back(folder);
  return files;
}

class AttachmentForms : public ::testing::TestWithParam<BackupMode> {};

TEST_P(AttachmentForms, GroupsMessageAttachmentsByDayAndType) {
  AttachmentBackup backup(MessageAttachments(), GetParam());
  ASSERT_EQ(backup.Opened(), 1);
  const auto before = sample::SnapshotFolder(backup.Folder());
  Rows rows;
  AttachmentSet set;
  set.category = base::kCategoryMessageAttachments;
  EXPECT_EQ(LoadAttachments(set, backup.Index(), rows.Handles()), 1);
  EXPECT_EQ(set.appReader, nullptr);  // the backup holds no sms.db
  ASSERT_NE(set.manifestReader, nullptr);
  const CAttachmentDB& reader = *set.manifestReader;

  // Listed: the files of the app's domain with a listed extension; not the
  // .tar.gz, the file without extension, the other domain's photo, the
  // folder named like a photo.
  const std::string at = kSmsFolder;
  struct Listed {
    std::string path;
    int mediaType;
    std::int32_t pngMark;
    std::int64_t birth;
    std::string content;
  };
  const std::vector<Listed> listed = {
      {at + "0a/10/A1/photo.JPEG", kAttachmentImage, 1, kMidnightAug28, "first photo"},
      {at + "0a/10/A2/photo.JPEG", kAttachmentImage, 1, kMidnightAug28 + 10, "second photo"},
      {at + "0d/13/D1/IMG_0002.png", kAttachmentImage, 5, kSep13, "png"},
      {at + "0e/14/E1/IMG_0003.MOV", kAttachmentVideo, 1, kSep13 + 60, "mov"},
      {at + "0f/15/F1/voice.opus", kAttachmentVoice, 1, kAppleJan06, at + "0f/15/F1/voice.opus"},
      {at + "10/16/G1/report.pdf", kAttachmentOther, 1, kMidnightAug28 + 5 * 3600, "pdf"},
      {at + "11/17/H1/late.jpg", kAttachmentImage, 1, kLastSecondAug27, "late"},
  };
  ASSERT_EQ(reader.Attachments().size(), listed.size());
  for (const Listed& expected : listed) {
    SCOPED_TRACE(expected.path);
    const DBITEM_Attachment* record = Find(reader, expected.path);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->mediaType, expected.mediaType);
    EXPECT_EQ(record->pngMark, expected.pngMark);
    EXPECT_EQ(record->birth, expected.birth);
    EXPECT_EQ(record->time, static_cast<double>(expected.birth));
    EXPECT_EQ(record->timeValue, expected.birth);
    EXPECT_EQ(record->size, static_cast<std::int64_t>(expected.content.size()));
    EXPECT_EQ(record->fileName, expected.path.substr(expected.path.rfind('/') + 1));
    EXPECT_EQ(record->Title(), record->storedPath);
    EXPECT_EQ(Text(record->storedPath), expected.content);
  }

  // The top groups, bound to the rows, each with its day groups newest
  // first. A day key is the local date: midnight of the 28th in CST is the
  // 28th; a time before 2001 counts from 2001. Its day group keeps that
  // stored time, so it sorts last.
  const auto& top = reader.TopGroups();
  ASSERT_EQ(top.size(), 5u);
  for (std::size_t i = 0; i < top.size(); ++i) {
    EXPECT_EQ(top[i]->Title(), kTopGroupNames[i]);
    EXPECT_EQ(top[i]->subListIndex, static_cast<std::int32_t>(i));
    EXPECT_EQ(top[i]->row, rows.Handles()[i]);
  }
  using Names = std::vector<std::string>;
  EXPECT_EQ(GroupNames(top[0]->items), (Names{"2020-09-13", "2019-08-28", "2019-08-27", "2020-01-06"}));
  EXPECT_EQ(GroupNames(top[1]->items), (Names{"2020-09-13", "2019-08-28", "2019-08-27"}));
  EXPECT_EQ(GroupNames(top[2]->items), (Names{"2020-09-13"}));
  EXPECT_EQ(GroupNames(top[3]->items), (Names{"2020-01-06"}));
  EXPECT_EQ(GroupNames(top[4]->items), (Names{"2019-08-28"}));

  // A day's sub-lists: all its files, then its files of each type; two
  // photos of one day share one day group under 图片.
  const DBITEM_AttachmentFriend& aug28 = Day(reader, "2019-08-28");
  EXPECT_EQ(aug28.time, static_cast<double>(kMidnightAug28));
  EXPECT_EQ(RelativePaths(aug28.subLists[0]),
            (Names{at + "0a/10/A1/photo.JPEG", at + "0a/10/A2/photo.JPEG", at + "10/16/G1/report.pdf"}));
  EXPECT_EQ(RelativePaths(aug28.subLists[1]), (Names{at + "0a/10/A1/photo.JPEG", at + "0a/10/A2/photo.JPEG"}));
  EXPECT_EQ(RelativePaths(aug28.subLists[4]), (Names{at + "10/16/G1/report.pdf"}));
  const DBITEM_AttachmentFriend& sep13 = Day(reader, "2020-09-13");
  EXPECT_EQ(RelativePaths(sep13.subLists[1]), (Names{at + "0d/13/D1/IMG_0002.png"}));
  EXPECT_EQ(RelativePaths(sep13.subLists[2]), (Names{at + "0e/14/E1/IMG_0003.MOV"}));
  EXPECT_EQ(Day(reader, "2020-01-06").time, static_cast<double>(kAppleJan06));

  // The counters: a top group counts its files (images also by mark); a day
  // counts PNGs at 5 and the rest at 0, images among them at 1.
  using Marks = std::array<std::int32_t, 6>;
  struct Counted {
    const DBITEM_AttachmentFriend* group;
    std::int32_t fileCount;
    Marks marks;
  };
  const std::vector<Counted> counted = {
      {top[0], 7, Marks{7, 6, 0, 0, 0, 1}},
      {top[1], 4, Marks{4, 3, 0, 0, 0, 1}},
      {top[2], 1, Marks{}},
      {top[3], 1, Marks{}},
      {top[4], 1, Marks{}},
      {&sep13, 0, Marks{1, 0, 0, 0, 0, 1}},
      {&aug28, 0, Marks{3, 2, 0, 0, 0, 0}},
      {&Day(reader, "2019-08-27"), 0, Marks{1, 1, 0, 0, 0, 0}},
      {&Day(reader, "2020-01-06"), 0, Marks{1, 0, 0, 0, 0, 0}},
  };
  for (const Counted& expected : counted) {
    SCOPED_TRACE(expected.group->Title());
    EXPECT_EQ(expected.group->fileCount, expected.fileCount);
    EXPECT_EQ(expected.group->markCounts, expected.marks);
  }
  EXPECT_EQ(sample::SnapshotFolder(backup.Folder()), before);
}

TEST_P(AttachmentForms, ExportsExactlyTheTickedFilesOfTheShownSubListAndKeepsEarlierCopies) {
  AttachmentBackup backup(MessageAttachments(), GetParam());
  ASSERT_EQ(backup.Opened(), 1);
  const auto before = sample::SnapshotFolder(backup.Folder());
  Rows rows;
  AttachmentSet set;
  set.category = base::kCategoryMessageAttachments;
  LoadAttachments(set, backup.Index(), rows.Handles());
  ASSERT_NE(set.manifestReader, nullptr);
  const CAttachmentDB& reader = *set.manifestReader;
  const std::string at = kSmsFolder;
  for (const char* ticked : {"0a/10/A1/photo.JPEG", "0a/10/A2/photo.JPEG", "0d/13/D1/IMG_0002.png",
                             "0e/14/E1/IMG_0003.MOV", "10/16/G1/report.pdf"}) {
    DBITEM_Attachment* record = Find(reader, at + ticked);
    ASSERT_NE(record, nullptr) << ticked;
    record->checked = 1;
  }

  // From 图片: its ticked images only (not the ticked video and PDF of the
  // same days, not the unticked late.jpg); two photos of one name both
  // arrive. Every day group gets its folder.
  const DBITEM_AttachmentFriend& images = *reader.TopGroups()[1];
  const platform::TempFolder destination("velmora-attachment-export");
  ProgressSum progress;
  EXPECT_EQ(ExportAttachments(destination.Path(), images.items, images, &progress), 3);
  const Files firstCopies = {
      {"2019-08-28/photo.JPEG", "first photo"},
      {"2019-08-28/photo 2.JPEG", "second photo"},
      {"2020-09-13/IMG_0002.png", "png"},
  };
  EXPECT_EQ(FilesBelow(destination.Path()), firstCopies);
  EXPECT_TRUE(platform::IsFolder(destination.Path() / "2019-08-27"));
  // Two of the three day groups had all their shown files ticked.
  EXPECT_NEAR(progress.total, 98.0 * 2 / 3, 0.01);

  // Again: the first copies keep their bytes, the new ones get free names.
  EXPECT_EQ(ExportAttachments(destination.Path(), images.items, images, nullptr), 3);
  Files afterSecond = firstCopies;
  afterSecond.insert({{"2019-08-28/photo 3.JPEG", "first photo"},
                      {"2019-08-28/photo 4.JPEG", "second photo"},
                      {"2020-09-13/IMG_0002 2.png", "png"}});
  EXPECT_EQ(FilesBelow(destination.Path()), afterSecond);

  // From 全部文件, one day: every ticked file of that day, whatever its type.
  const DBITEM_AttachmentFriend& all = *reader.TopGroups()[0];
  const platform::TempFolder allDestination("velmora-attachment-export");
  ProgressSum allProgress;
  EXPECT_EQ(ExportAttachments(allDestination.Path(), {const_cast<DBITEM_AttachmentFriend*>(&Day(reader, "2020-09-13"))},
                              all, &allProgress),
            2);
  EXPECT_EQ(FilesBelow(allDestination.Path()),
            (Files{{"2020-09-13/IMG_0002.png", "png"}, {"2020-09-13/IMG_0003.MOV", "mov"}}));
  EXPECT_NEAR(allProgress.total, 98.0, 0.01);
  EXPECT_EQ(sample::SnapshotFolder(backup.Folder()), before);
}

TEST_P(AttachmentForms, WeChatFilesAreLimitedToTheAccountFolderTakenLiterally) {
  const std::string account = "0123456789abcdef0123456789abcdef";
  const std::string domain = "AppDomain-com.tencent.xin";
  const std::vector<sample::BackupFile> files = {
      File(domain, "Documents/" + account + "/Img/a.pic", kSep13),
      File(domain, "Documents/" + account + "/Audio/b.aud", kSep13),
      File(domain, "Documents/" + account + "2/Img/c.pic", kSep13),
      File(domain, "Documents/a_c/Img/d.jpg", kSep13),
      File(domain, "Documents/abc/Img/e.jpg", kSep13),
      File(domain, "Documents/50%/Img/f.jpg", kSep13),
      File(domain, "Documents/5000/Img/g.jpg", kSep13),
  };
  AttachmentBackup backup(files, GetParam());
  ASSERT_EQ(backup.Opened(), 1);
  struct Case {
    const char* name;
    std::string accountFolder;
    std::vector<std::string> listed;
  };
  const std::vector<Case> cases = {
      {"Account", account, {"Documents/" + account + "/Audio/b.aud", "Documents/" + account + "/Img/a.pic"}},
      {"UnderscoreIsNoWildcard", "a_c", {"Documents/a_c/Img/d.jpg"}},
      {"PercentIsNoWildcard", "50%", {"Documents/50%/Img/f.jpg"}},
      {"QuoteIsAValue", "abc' or '1'='1", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CAttachmentDB reader(&backup.Index(), base::kCategoryWeChatAttachments, kManifestReaderMode);
    reader.accountFolder = c.accountFolder;
    EXPECT_EQ(reader.LoadAttachmentReader(backup.ManifestPath(), {}, 0), 1);
    EXPECT_EQ(reader.LastError(), "");
    std::vector<std::string> listed;
    for (const auto& record : reader.Attachments()) listed.push_back(record->relativePath);
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed, c.listed);
  }
}

INSTANTIATE_TEST_SUITE_P(Forms, AttachmentForms,
                         ::testing::Values(BackupMode::kManifestDb, BackupMode::kManifestMbdb, BackupMode::kFolder),
                         [](const auto& form) { return std::string(FormName(form.param)); });

TEST(AttachmentTypeOf, TakesTheWholeExtensionAfterTheLastDotIgnoringCase) {
  struct Case {
    const char* path;
    int mediaType;
    bool png;
  };
  const std::vector<Case> cases = {
      {"Accounts/L/Media/1/photo.JPEG", kAttachmentImage, false},
      {"a/archive.tar.gz", 0, false},
      {"a/README", 0, false},
      {"a.b/README", 0, false},
      {"a/ends.", 0, false},
      {"a/x.png", kAttachmentImage, true},
      {"a/x.PNG", kAttachmentImage, true},
      {"a/x.jpg", kAttachmentImage, false},
      {"a/x.bmp", kAttachmentImage, false},
      {"a/x.pic", kAttachmentImage, false},
      {"a/x.pic_thum", kAttachmentImage, false},
      {"a/x.pic_hd", kAttachmentImage, false},
      {"a/x.thumb", kAttachmentImage, false},
      {"a/x.video_thum", kAttachmentImage, false},
      {"a/x.mp4", kAttachmentVideo, false},
      {"a/x.MOV", kAttachmentVideo, false},
      {"a/x.mpg", kAttachmentVideo, false},
      {"a/x.mkv", kAttachmentVideo, false},
      {"a/x.mp4_temp", kAttachmentVideo, false},
      {"a/x.mp3", kAttachmentVoice, false},
      {"a/x.aud", kAttachmentVoice, false},
      {"a/x.opus", kAttachmentVoice, false},
      {"a/x.pdf", kAttachmentOther, false},
      {"a/x.xlsx", kAttachmentOther, false},
      {"a/x.record_thumb", kAttachmentOther, false},
      {"a/x.tmp", kAttachmentOther, false},
      {"a/x.dat", kAttachmentOther, false},
      // What the camera, the messages' audio and the stickers of today's
      // phones write.
      {"a/IMG_0001.HEIC", kAttachmentImage, false},
      {"a/x.webp", kAttachmentImage, false},
      {"a/Audio Message.caf", kAttachmentVoice, false},
      {"a/x.m4a", kAttachmentVoice, false},
      // Parts of listed words and neighbours of them are no listed words.
      {"a/x.jp", 0, false},
      {"a/x.ng", 0, false},
      {"a/x.pi", 0, false},
      {"a/x.pic thumb", 0, false},
      {"a/x.web", 0, false},
      {"a/x.m4", 0, false},
      {"a/x.jpgx", 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    bool png = !c.png;
    EXPECT_EQ(AttachmentTypeOf(c.path, png), c.mediaType);
    EXPECT_EQ(png, c.png);
  }
}

TEST(AttachmentDateKey, LocalDateWithTimesBefore2001CountedFrom2001) {
  ASSERT_STREQ(std::getenv("TZ"), "CST-8") << "the dates below are those of UTC+8";
  struct Case {
    const char* name;
    std::int64_t time;
    const char* key;
  };
  const std::vector<Case> cases = {
      {"MidnightLocal", kMidnightAug28, "2019-08-28"},
      {"LastSecondBefore", kLastSecondAug27, "2019-08-27"},
      {"FirstSecondOf2001", 978278400, "2001-01-01"},
      {"LastSecondOf2000", 978278399, "2032-01-01"},
      {"AppleSecondsOf2024", 733536000, "2024-03-31"},
      {"Zero", 0, "2001-01-01"},
      {"AppleSeconds", kAppleJan06, "2020-01-06"},
      {"NegativeRejectedByLocalTime", -1, "2001-01-01"},
      {"FarBeyondYear3000", std::numeric_limits<std::int64_t>::max(), kUnknownDateKey},
      {"FarBeforeAnything", std::numeric_limits<std::int64_t>::min(), kUnknownDateKey},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(AttachmentDateKey(c.time), c.key);
  }
}

// Copies under names that come from the backup stay in their day folder and
// never replace a file.
TEST(ExportAttachments, NamesFromTheBackupStayInTheirFolderAndNeverReplaceAFile) {
  const platform::TempFolder source("velmora-attachment-stored");
  std::vector<std::unique_ptr<DBITEM_Attachment>> records;
  auto add = [&](const std::string& fileName, const std::string& storedName, const std::string& content) {
    auto record = std::make_unique<DBITEM_Attachment>();
    record->fileName = fileName;
    record->storedPath = (source.Path() / storedName).string();
    if (!content.empty()) sample::WriteBytes(record->storedPath, Bytes(content));
    record->checked = 1;
    records.push_back(std::move(record));
  };
  add("../../escape.jpg", "s1", "up");
  add("..", "0a1b2c3d", "dots");
  add("", "s3", "nothing");
  add(std::string("nul\0.jpg", 8), "s4", "nul");
  add("ok.jpg", "s5", "new");
  add("gone.jpg", "s6", "");
  add(std::string(300, 'L') + ".jpg", "s7", "long");
  std::string chinese;
  for (int i = 0; i < 100; ++i) chinese += "图";
  add(chinese + ".png", "s9", "chinese");
  fs::create_symlink(source.Path() / "s5", source.Path() / "link");
  add("link.jpg", "link", "");

  DBITEM_AttachmentFriend day;
  day.groupName = "../2019:08:28";
  for (const auto& record : records) {
    day.subLists[0].push_back(record.get());
    day.subLists[1].push_back(record.get());
  }
  db::DBITEM_TbNameList notAFile;
  day.subLists[1].push_back(&notAFile);
  DBITEM_AttachmentFriend top;
  top.subListIndex = 1;

  const platform::TempFolder destination("velmora-attachment-export");
  const fs::path folder = destination.Path() / "..2019-08-28";
  sample::WriteBytes(folder / "ok.jpg", Bytes("old"));
  EXPECT_EQ(ExportAttachments(destination.Path(), {&day, &notAFile}, top, nullptr), 7);
  // Stems are cut to 60 UTF-16 units: with a number and the extension a
  // name stays within a file system's 255 bytes.
  const std::string longName = std::string(60, 'L') + ".jpg";
  std::string cutChinese;
  for (int i = 0; i < 60; ++i) cutChinese += "图";
  EXPECT_EQ(FilesBelow(destination.Path()), (Files{
                                                 {"..2019-08-28/....escape.jpg", "up"},
                                                 {"..2019-08-28/0a1b2c3d", "dots"},
                                                 {"..2019-08-28/s3", "nothing"},
                                                 {"..2019-08-28/nul.jpg", "nul"},
                                                 {"..2019-08-28/ok.jpg", "old"},
                                                 {"..2019-08-28/ok 2.jpg", "new"},
                                                 {"..2019-08-28/" + longName, "long"},
                                                 {"..2019-08-28/" + cutChinese + ".png", "chinese"},
                                             }));

  // A top group whose sub-list number is out of range copies nothing.
  top.subListIndex = 10;
  EXPECT_EQ(ExportAttachments(destination.Path(), {&day}, top, nullptr), 0);
}

TEST(CAttachmentDB, ReadsRowsOfTheWalAndSkipsDamagedRows) {
  AttachmentBackup backup({File("AppDomainGroup-group.net.whatsapp.WhatsApp.shared", "Message/Media/a.jpg", kSep13)},
                          BackupMode::kManifestDb);
  ASSERT_EQ(backup.Opened(), 1);
  // Rows a fixture adds by hand: the newest in the -wal, as the phone
  // leaves them, and damaged ones.
  const std::string stored = std::string(40, 'b');
  sample::WriteBytes(backup.Folder() / "bb" / stored, Bytes("from the wal"));
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open((backup.Folder() / "Manifest.db").c_str(), &db), SQLITE_OK);
  sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
  const std::string sql =
      "PRAGMA wal_autocheckpoint=0;"
      "INSERT INTO Files VALUES ('../../../etc', 'AppDomain-net.whatsapp.WhatsApp', 'x/escape.jpg', 1, NULL);"
      "INSERT INTO Files VALUES ('" + std::string(40, 'c') + "', 'AppDomain-net.whatsapp.WhatsApp', NULL, 1, NULL);"
      "INSERT INTO Files VALUES ('" + std::string(40, 'd') + "', 'AppDomain-net.whatsapp.WhatsApp', 'x/junk.mp4', 1, X'00ff10');"
      "INSERT INTO Files VALUES ('" + std::string(40, 'e') + "', 'AppDomain-net.whatsapp.WhatsApp', 'x/dir.jpg', 2, NULL);"
      "INSERT INTO Files VALUES ('" + stored + "', 'AppDomain-net.whatsapp.WhatsApp', 'Media/w.jpg', 1, NULL);";
  ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);
  ASSERT_TRUE(fs::exists(backup.Folder() / "Manifest.db-wal"));
  const auto before = sample::SnapshotFolder(backup.Folder());

  CAttachmentDB reader(&backup.Index(), base::kCategoryWhatsAppFiles, kManifestReaderMode);
  EXPECT_EQ(reader.LoadAttachmentReader(backup.ManifestPath(), {}, 0), 1);
  EXPECT_EQ(reader.LoadedColumns(), 5);
  std::vector<std::string> listed;
  for (const auto& record : reader.Attachments()) listed.push_back(record->relativePath);
  EXPECT_EQ(listed, (std::vector<std::string>{"Message/Media/a.jpg", "x/junk.mp4", "Media/w.jpg"}));
  // A blob that is no property list leaves the times at 0: day of 2001.
  const DBITEM_Attachment* junk = Find(reader, "x/junk.mp4");
  ASSERT_NE(junk, nullptr);
  EXPECT_EQ(junk->birth, 0);
  EXPECT_EQ(Day(reader, "2001-01-01").subLists[2].size(), 1u);
  EXPECT_EQ(Text(Find(reader, "Media/w.jpg")->storedPath), "from the wal");
  EXPECT_EQ(sample::SnapshotFolder(backup.Folder()), before);
}

TEST(CAttachmentDB, AManifestThatCannotBeReadGivesEmptyGroups) {
  const platform::TempFolder folder("velmora-attachment");
  Rows rows;
  {
    CAttachmentDB reader(nullptr, base::kCategoryWhatsAppFiles, kManifestReaderMode);
    EXPECT_EQ(reader.LoadAttachmentReader((folder.Path() / "Manifest.db").string(), rows.Handles(), 0), 0);
    ASSERT_EQ(reader.TopGroups().size(), 5u);
    for (const DBITEM_AttachmentFriend* group : reader.TopGroups()) EXPECT_TRUE(group->items.empty());
    EXPECT_EQ(reader.TopGroups()[4]->row, rows.Handles()[4]);
    EXPECT_FALSE(fs::exists(folder.Path() / "Manifest.db"));
  }
  // A database without the table Files: opens, lists nothing.
  const sample::SqliteFile other("CREATE TABLE Other (a);");
  sample::WriteBytes(folder.Path() / "Manifest.db", other.DatabaseBytes());
  CAttachmentDB reader(nullptr, base::kCategoryNotesAttachments, kManifestReaderMode);
  EXPECT_EQ(reader.LoadAttachmentReader((folder.Path() / "Manifest.db").string(), rows.Handles(), 0), 1);
  EXPECT_TRUE(reader.Attachments().empty());
  EXPECT_EQ(reader.LoadedColumns(), 0);
}

TEST(LoadAttachments, AnAppReaderOpensTheAppDatabaseAndListsNothing) {
  struct Case {
    const char* name;
    BackupMode mode;
    int category;
    sample::BackupFile appDatabase;
    sample::BackupFile attachment;
  };
  const sample::SqliteFile database("CREATE TABLE ZICCLOUDSYNCINGOBJECT (Z_PK INTEGER PRIMARY KEY);");
  auto withBytes = [&](sample::BackupFile file) {
    file.content = database.DatabaseBytes();
    return file;
  };
  const std::string notes = "AppDomainGroup-group.com.apple.notes";
  const std::vector<Case> cases = {
      {"NotesDb", BackupMode::kManifestDb, base::kCategoryNotesAttachments, withBytes(File(notes, "NoteStore.sqlite", kSep13)),
       File(notes, "Accounts/LocalAccount/Media/1/photo.JPEG", kSep13)},
      {"NotesMbdb", BackupMode::kManifestMbdb, base::kCategoryNotesAttachments,
       withBytes(File(notes, "NoteStore.sqlite", kSep13)), File(notes, "Accounts/LocalAccount/Media/1/photo.JPEG", kSep13)},
      {"NotesFolder", BackupMode::kFolder, base::kCategoryNotesAttachments, withBytes(File(notes, "NoteStore.sqlite", kSep13)),
       File(notes, "Accounts/LocalAccount/Media/1/photo.JPEG", kSep13)},
      {"MessagesDb", BackupMode::kManifestDb, base::kCategoryMessageAttachments,
       withBytes(File("HomeDomain", "Library/SMS/sms.db", kSep13)), File(kMediaDomain, "Library/SMS/Attachments/a/b.mov", kSep13)},
      {"MessagesFolder", BackupMode::kFolder, base::kCategoryMessageAttachments,
       withBytes(File("HomeDomain", "Library/SMS/sms.db", kSep13)), File(kMediaDomain, "Library/SMS/Attachments/a/b.mov", kSep13)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    AttachmentBackup backup({c.appDatabase, c.attachment}, c.mode);
    ASSERT_EQ(backup.Opened(), 1);
    AttachmentSet set;
    set.category = c.category;
    Rows rows;
    EXPECT_EQ(LoadAttachments(set, backup.Index(), rows.Handles()), 1);
    ASSERT_NE(set.appReader, nullptr);
    EXPECT_EQ(set.appReader->AppMode(), kAppReaderMode);
    EXPECT_EQ(set.appReader->OpenCount(), 1);
    EXPECT_EQ(set.appReader->OpenParam(), c.category == base::kCategoryNotesAttachments ? 1 : 0);
    EXPECT_TRUE(set.appReader->Attachments().empty());
    ASSERT_NE(set.manifestReader, nullptr);
    ASSERT_EQ(set.manifestReader->Attachments().size(), 1u);
    EXPECT_EQ(set.manifestReader->Attachments()[0]->relativePath, c.attachment.relativePath);
  }

  // WhatsApp has no app reader; categories outside 14-17 load nothing.
  AttachmentBackup backup({File("AppDomainGroup-group.net.whatsapp.WhatsApp.shared", "Message/Media/x/y.jpg", kSep13)},
                          BackupMode::kFolder);
  for (const int category : {int{base::kCategoryWhatsAppFiles}, 13, 18}) {
    AttachmentSet set;
    set.category = category;
    EXPECT_EQ(LoadAttachments(set, backup.Index(), {}), 1);
    EXPECT_EQ(set.appReader, nullptr);
    EXPECT_EQ(set.manifestReader != nullptr, category == base::kCategoryWhatsAppFiles);
  }
}

// The folder form walks the app's own folder only, without following links.
TEST(CAttachmentDB, FolderFormWalksTheAppFolderWithoutFollowingLinks) {
  AttachmentBackup backup({File("AppDomainGroup-group.net.whatsapp.WhatsApp.shared", "Message/Media/x/y.jpg", kSep13),
                           File("HomeDomain", "Library/Media/elsewhere.jpg", kSep13),
                           File("AppDomain-net.whatsapp.WhatsApp", "Documents/Message/not-at-the-root.jpg", kSep13)},
                          BackupMode::kFolder);
  ASSERT_EQ(backup.Opened(), 1);
  fs::create_directory_symlink(backup.Folder() / "Library", backup.Folder() / "Message" / "Media" / "loop");
  fs::create_symlink(backup.Folder() / "Library" / "Media" / "elsewhere.jpg",
                     backup.Folder() / "Message" / "Media" / "link.jpg");
  CAttachmentDB reader(&backup.Index(), base::kCategoryWhatsAppFiles, kManifestReaderMode);
  EXPECT_EQ(reader.LoadAttachmentReader(backup.ManifestPath(), {}, 0), 1);
  ASSERT_EQ(reader.Attachments().size(), 1u);
  const DBITEM_Attachment& record = *reader.Attachments()[0];
  EXPECT_EQ(record.relativePath, "Message/Media/x/y.jpg");
  EXPECT_EQ(record.fileName, "y.jpg");
  EXPECT_EQ(record.birth, kSep13);
  EXPECT_EQ(fs::path(record.storedPath), backup.Folder() / "Message" / "Media" / "x" / "y.jpg");

  // WeChat without an account folder would take the whole tree: nothing.
  CAttachmentDB noAccount(&backup.Index(), base::kCategoryWeChatAttachments, kManifestReaderMode);
  EXPECT_EQ(noAccount.LoadAttachmentReader(backup.ManifestPath(), {}, 0), 1);
  EXPECT_TRUE(noAccount.Attachments().empty());
}

TEST(CAttachmentDB, ListsWhatTheRealManifestHolds) {
  const fs::path source = fs::path(VELMORA_SHARED_DIR) / "samples/mvt";
  if (!fs::exists(source / "Manifest.db")) GTEST_SKIP() << "no " << source;
  // The manifest (and its log, where there is one) is read from a copy:
  // the backup's files are evidence. The stored files are not needed to list.
  const platform::TempFolder folder("velmora-attachment-mvt");
  const fs::path copy = folder.Path() / "mvt";
  fs::create_directory(copy);
  for (const char* name : {"Manifest.db", "Manifest.db-wal", "Manifest.db-shm", "Info.plist"}) {
    if (!fs::exists(source / name)) continue;
    fs::copy_file(source / name, copy / name);
    fs::permissions(copy / name, fs::perms::owner_read | fs::perms::owner_write);
  }
  backup::CFileListDB index;
  ASSERT_TRUE(index.Open(copy.string(), -1).Ok());
  ASSERT_EQ(index.Mode(), backup::SourceManifestDb);

  // Counted with sqlite3 (flags=1 and the category's domain, then the
  // extension lists): the notes group holds NoteStore.sqlite and a plist,
  // MediaDomain a plist and two databases, WhatsApp's domains 46 files of
  // which current_wallpaper.jpg, 25 stickers (.webp), one sticker .png and
  // Documents/blockedcontacts.dat are listed, all born on 2019-08-30 (CST).
  struct Case {
    int category;
    std::size_t listed;
  };
  for (const Case c : {Case{base::kCategoryNotesAttachments, 0}, Case{base::kCategoryMessageAttachments, 0},
                       Case{base::kCategoryWhatsAppFiles, 28}}) {
    SCOPED_TRACE(c.category);
    AttachmentSet set;
    set.category = c.category;
    EXPECT_EQ(LoadAttachments(set, index, {}), 1);
    ASSERT_NE(set.manifestReader, nullptr);
    EXPECT_EQ(set.manifestReader->LoadedColumns(), 5);
    EXPECT_EQ(set.manifestReader->Attachments().size(), c.listed);
  }
  AttachmentSet set;
  set.category = base::kCategoryWhatsAppFiles;
  LoadAttachments(set, index, {});
  const CAttachmentDB& reader = *set.manifestReader;
  const DBITEM_Attachment* wallpaper = Find(reader, "current_wallpaper.jpg");
  ASSERT_NE(wallpaper, nullptr);
  EXPECT_EQ(wallpaper->birth, 1567121271);
  EXPECT_EQ(wallpaper->size, 767914);
  EXPECT_EQ(wallpaper->storedPath,
            (copy / "62" / "62782926a82fabcf624d528ae9f83361f07cf3e3").string());
  const auto& top = reader.TopGroups();
  EXPECT_EQ(GroupNames(top[0]->items), std::vector<std::string>{"2019-08-30"});
  EXPECT_EQ(top[0]->fileCount, 28);
  EXPECT_EQ(top[0]->markCounts, (std::array<std::int32_t, 6>{28, 27, 0, 0, 0, 1}));
  EXPECT_EQ(top[1]->fileCount, 27);
  EXPECT_EQ(top[4]->fileCount, 1);
  EXPECT_TRUE(top[2]->items.empty());
  EXPECT_TRUE(top[3]->items.empty());
}

}  // namespace
}  // namespace readers
