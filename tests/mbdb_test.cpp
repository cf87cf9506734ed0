#include "backup/mbdb.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "backup/file_list_db.h"
#include "platform/fs.h"
#include "testing/sample_backup.h"

namespace {

using backup::MbdbIndex;
using backup::MbdbRecord;

namespace fs = std::filesystem;

constexpr std::size_t kHeaderBytes = 6;
constexpr std::uint16_t kAbsent = 0xFFFF;

// Writes manifest bytes the way the phone lays them out: big-endian integers
// and u16-length strings. Kept apart from the sample builder's writer so that
// the two cannot share a mistake.
class BigEndianWriter {
 public:
  BigEndianWriter& Put(std::uint64_t value, int widthBytes) {
    for (int i = widthBytes - 1; i >= 0; --i) bytes_.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    return *this;
  }
  BigEndianWriter& Raw(const std::string& text) {
    bytes_.insert(bytes_.end(), text.begin(), text.end());
    return *this;
  }
  // An absent string is the length 0xFFFF alone.
  BigEndianWriter& String(const std::optional<std::string>& text) {
    if (!text) return Put(kAbsent, 2);
    Put(text->size(), 2);
    return Raw(*text);
  }
  BigEndianWriter& Header() { return Raw(std::string("mbdb\x05\x00", 6)); }
  // Writes every field of record; lengthBytes is ignored.
  BigEndianWriter& Record(const MbdbRecord& record) {
    String(record.domain).String(record.path).String(record.linkTarget);
    String(record.dataHash).String(record.encryptionKey);
    Put(record.mode, 2).Put(record.inodeHigh, 4).Put(record.inodeLow, 4);
    Put(record.userId, 4).Put(record.groupId, 4);
    Put(record.lastModified, 4).Put(record.lastAccessed, 4).Put(record.created, 4);
    Put(record.size, 8).Put(record.flag, 1).Put(record.properties.size(), 1);
    for (const auto& [name, value] : record.properties) String(name).String(value);
    return *this;
  }

  std::size_t Size() const { return bytes_.size(); }
  const std::vector<std::uint8_t>& Bytes() const { return bytes_; }

 private:
  std::vector<std::uint8_t> bytes_;
};

MbdbRecord FileRecord(const std::string& domain, const std::string& path, std::uint64_t size) {
  MbdbRecord record;
  record.domain = domain;
  record.path = path;
  record.dataHash = std::string(20, '\x5a');
  record.mode = 0100644;
  record.size = size;
  return record;
}

std::span<const std::uint8_t> Prefix(const std::vector<std::uint8_t>& bytes, std::size_t length) {
  return std::span<const std::uint8_t>(bytes).first(length);
}

TEST(MbdbTest, ReadsEveryFieldOfARecord) {
  MbdbRecord written;
  written.domain = "AppDomain-com.example.notes";
  written.path = "Library/Notes/notes.sqlite";
  written.linkTarget = std::nullopt;
  written.dataHash = std::string("\x00\xff\x10\x20\x30\x40\x50\x60\x70\x80\x90\xa0\xb0\xc0\xd0\xe0\xf0\x01\x02\xfe", 20);
  written.encryptionKey = std::string();  // present but empty, unlike the link target
  written.mode = 0100600;
  written.inodeHigh = 0x01020304;
  written.inodeLow = 0x05060708;
  written.userId = 501;
  written.groupId = 20;
  written.lastModified = 1638501497;
  written.lastAccessed = 1638559914;
  written.created = 1566918489;
  written.size = 0x0000000123456789;  // above 4 GiB: both halves count
  written.flag = 4;
  written.properties = {
      {"com.apple.assetsd.UUID", std::string("\x00\x01\xff", 3)},
      {"", ""},
      // Properties have no "absent" length: 0xFFFF is 65535 bytes of value.
      {"big", std::string(kAbsent, 'v')},
  };
  BigEndianWriter out;
  out.Header().Record(written);

  const auto index = MbdbIndex::Parse(out.Bytes());
  ASSERT_TRUE(index);
  ASSERT_EQ(index->Count(), 1u);
  const MbdbRecord& read = index->Records()[0];
  EXPECT_EQ(read.domain, written.domain);
  EXPECT_EQ(read.path, written.path);
  EXPECT_FALSE(read.linkTarget.has_value());
  EXPECT_EQ(read.dataHash, written.dataHash);
  ASSERT_TRUE(read.encryptionKey.has_value());
  EXPECT_EQ(*read.encryptionKey, "");
  EXPECT_EQ(read.mode, written.mode);
  EXPECT_EQ(read.inodeHigh, written.inodeHigh);
  EXPECT_EQ(read.inodeLow, written.inodeLow);
  EXPECT_EQ(read.userId, written.userId);
  EXPECT_EQ(read.groupId, written.groupId);
  EXPECT_EQ(read.lastModified, written.lastModified);
  EXPECT_EQ(read.lastAccessed, written.lastAccessed);
  EXPECT_EQ(read.created, written.created);
  EXPECT_EQ(read.size, 0x0000000123456789u);
  EXPECT_EQ(read.flag, 4);
  EXPECT_EQ(read.properties, written.properties);
  EXPECT_EQ(read.lengthBytes, out.Size() - kHeaderBytes);
  EXPECT_TRUE(read.IsRegularFile());
}

// An absent string is its two length bytes and nothing more; reading on as if
// 0xFFFF bytes followed would swallow the rest of the record, reading none
// would shift every field after it.
TEST(MbdbTest, AbsentStringTakesOnlyItsLengthBytes) {
  struct Case {
    const char* name;
    std::optional<std::string> MbdbRecord::*field;
  };
  const Case cases[] = {
      {"domain", &MbdbRecord::domain},
      {"path", &MbdbRecord::path},
      {"link target", &MbdbRecord::linkTarget},
      {"data hash", &MbdbRecord::dataHash},
      {"encryption key", &MbdbRecord::encryptionKey},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MbdbRecord first;
    first.domain = "HomeDomain";
    first.path = "Library/Preferences/a.plist";
    first.linkTarget = "../b";
    first.dataHash = std::string(20, '\x11');
    first.encryptionKey = std::string(4, '\x22');
    first.*c.field = std::nullopt;
    first.mode = 0120755;
    first.size = 77;
    const MbdbRecord second = FileRecord("MediaDomain", "Media/DCIM/IMG_0001.JPG", 1234);
    BigEndianWriter out;
    out.Header().Record(first);
    const std::size_t firstBytes = out.Size() - kHeaderBytes;
    out.Record(second);

    const auto index = MbdbIndex::Parse(out.Bytes());
    ASSERT_TRUE(index);
    ASSERT_EQ(index->Count(), 2u);
    const MbdbRecord& read = index->Records()[0];
    EXPECT_FALSE((read.*c.field).has_value());
    EXPECT_EQ(read.domain, first.domain);
    EXPECT_EQ(read.path, first.path);
    EXPECT_EQ(read.linkTarget, first.linkTarget);
    EXPECT_EQ(read.dataHash, first.dataHash);
    EXPECT_EQ(read.encryptionKey, first.encryptionKey);
    EXPECT_EQ(read.mode, 0120755);
    EXPECT_EQ(read.size, 77u);
    EXPECT_EQ(read.lengthBytes, firstBytes);
    EXPECT_EQ(index->Records()[1].path, second.path);
    EXPECT_EQ(index->Records()[1].size, 1234u);
  }
}

TEST(MbdbTest, SmallestRecordIsTenLengthBytesAndTheFixedPart) {
  BigEndianWriter out;
  out.Header().Record(MbdbRecord{}).Record(FileRecord("HomeDomain", "x", 1));
  const auto record = backup::ParseMbdbRecord(out.Bytes(), kHeaderBytes);
  ASSERT_TRUE(record);
  EXPECT_EQ(record->lengthBytes, 50u);
  EXPECT_FALSE(record->domain.has_value());
  EXPECT_FALSE(record->path.has_value());
  EXPECT_FALSE(record->IsRegularFile());

  // Reading at an offset other than the header's.
  const auto next = backup::ParseMbdbRecord(out.Bytes(), kHeaderBytes + 50);
  ASSERT_TRUE(next);
  EXPECT_EQ(next->path, "x");
  EXPECT_EQ(next->lengthBytes, out.Size() - kHeaderBytes - 50);

  EXPECT_FALSE(backup::ParseMbdbRecord(out.Bytes(), out.Size()));
  EXPECT_FALSE(backup::ParseMbdbRecord(out.Bytes(), out.Size() + 100));
}

TEST(MbdbTest, RejectsWhatIsNotAVersion5Manifest) {
  struct Case {
    const char* name;
    std::string bytes;
  };
  const Case cases[] = {
      {"empty", ""},
      {"version 4", std::string("mbdb\x04\x00", 6)},
      {"minor version", std::string("mbdb\x05\x01", 6)},
      {"cut inside the header", std::string("mbdb\x05", 5)},
      {"magic only", "mbdb"},
      {"other magic", std::string("mbdx\x05\x00", 6)},
      {"old index file", std::string("mbdx\x02\x00", 6)},
      {"upper case", std::string("MBDB\x05\x00", 6)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BigEndianWriter out;
    out.Raw(c.bytes);
    // A valid body after a header-sized prefix does not make up for it.
    if (c.bytes.size() == kHeaderBytes) out.Record(FileRecord("HomeDomain", "a", 1));
    testing::internal::CaptureStderr();
    EXPECT_FALSE(MbdbIndex::Parse(out.Bytes()).has_value());
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              c.bytes.empty() ? "Unable to parse mbdb file\n" : "Unable to identify this filetype\n");
  }

  BigEndianWriter headerOnly;
  headerOnly.Header();
  const auto empty = MbdbIndex::Parse(headerOnly.Bytes());
  ASSERT_TRUE(empty);
  EXPECT_EQ(empty->Count(), 0u);
}

std::string HexOffset(std::size_t offset) {
  char text[32];
  std::snprintf(text, sizeof text, "0x%zx", offset);
  return text;
}

// Every cut of a two-record manifest, through strings, the fixed part and the
// properties: no read past the end, exactly the whole records before the cut
// survive, and the line on stderr names the record that was cut (a cut on a
// record boundary is a shorter manifest, not damage).
TEST(MbdbTest, CutAnywhereKeepsTheWholeRecordsBeforeIt) {
  MbdbRecord first = FileRecord("HomeDomain", "Library/SMS/sms.db", 20480);
  first.properties = {{"name", "value"}, {"", std::string(3, '\0')}};
  MbdbRecord second = FileRecord("CameraRollDomain", "Media/PhotoData/Photos.sqlite", 5);
  second.properties = {{"k", "v"}};
  BigEndianWriter out;
  out.Header().Record(first);
  const std::size_t firstEnd = out.Size();
  out.Record(second);
  const std::vector<std::uint8_t>& bytes = out.Bytes();

  for (std::size_t length = 0; length <= bytes.size(); ++length) {
    SCOPED_TRACE("prefix of " + std::to_string(length) + " bytes");
    testing::internal::CaptureStderr();
    const auto index = MbdbIndex::Parse(Prefix(bytes, length));
    const std::string message = testing::internal::GetCapturedStderr();
    if (length == 0) {
      EXPECT_FALSE(index.has_value());
      EXPECT_EQ(message, "Unable to parse mbdb file\n");
      continue;
    }
    if (length < kHeaderBytes) {
      EXPECT_FALSE(index.has_value());
      EXPECT_EQ(message, "Unable to identify this filetype\n");
      continue;
    }
    ASSERT_TRUE(index);
    const std::size_t whole = length == bytes.size() ? 2 : (length >= firstEnd ? 1 : 0);
    ASSERT_EQ(index->Count(), whole);
    if (whole >= 1) {
      EXPECT_EQ(index->Records()[0].path, first.path);
      EXPECT_EQ(index->Records()[0].properties, first.properties);
    }
    if (whole == 2) {
      EXPECT_EQ(index->Records()[1].path, second.path);
    }
    const bool onBoundary = length == kHeaderBytes || length == firstEnd || length == bytes.size();
    const std::size_t cutRecord = whole == 0 ? kHeaderBytes : firstEnd;
    EXPECT_EQ(message, onBoundary ? "" : "Unable to parse record at offset " + HexOffset(cutRecord) + "!\n");
  }
}

TEST(MbdbTest, FileIdIsSha1OfDomainDashPath) {
  EXPECT_EQ(backup::MbdbFileId("HomeDomain", "Library/SMS/sms.db"), "3d0d7e5fb2ce288813306e4d4636395e047a3d28");
}

TEST(MbdbTest, ReadsTheManifestOfASampleBackup) {
  sample::SampleBackupBuilder builder;
  builder.AddFolder("HomeDomain", "Library");
  builder.AddFolder("HomeDomain", "Library/SMS");
  builder.AddText("HomeDomain", "Library/SMS/sms.db", std::string(300, 's'));
  builder.AddText("HomeDomain", "Library/Preferences/empty.plist", "");
  builder.AddFile("AppDomain-com.example.app", "Documents/data.bin", std::vector<std::uint8_t>(70000, 0x42));
  platform::TempFolder folder("velmora-mbdb");
  builder.Write(folder.Path(), sample::BackupMode::kManifestMbdb);

  const auto index = MbdbIndex::ParseFile((folder.Path() / "Manifest.mbdb").string());
  ASSERT_TRUE(index);
  const std::vector<sample::BackupFile>& files = builder.Files();
  ASSERT_EQ(index->Count(), files.size());
  for (std::size_t i = 0; i < files.size(); ++i) {
    SCOPED_TRACE(files[i].relativePath);
    const MbdbRecord& record = index->Records()[i];
    EXPECT_EQ(record.domain, files[i].domain);
    EXPECT_EQ(record.path, files[i].relativePath);
    EXPECT_EQ(record.size, files[i].isFolder ? 0u : files[i].content.size());
    EXPECT_EQ(record.IsRegularFile(), !files[i].isFolder);
  }
}

TEST(MbdbTest, ParseFileOfAMissingFileGivesNothing) {
  platform::TempFolder folder("velmora-mbdb");
  EXPECT_FALSE(MbdbIndex::ParseFile((folder.Path() / "Manifest.mbdb").string()).has_value());
}

}  // namespace
