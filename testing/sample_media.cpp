#include "testing/sample_media.h"

#include <zlib.h>

#include <algorithm>
#include <set>

#include "platform/fs.h"
#include "testing/sample_backup.h"
#include "testing/sql_literal.h"

namespace sample {
namespace {

// Core Data's entity number of AdditionalAssetAttributes in the iOS 7 store.
constexpr int kAttributesEntity = 2;
// Core Data's entity number of Asset in the asset library.
constexpr int kAssetEntity = 3;
// ZTRASHEDSTATE of an asset in Recently Deleted.
constexpr int kTrashedState = 1;
// Seconds between 1970-01-01 and 2001-01-01, Core Data's epoch.
constexpr std::int64_t kAppleEpochOffset = 978307200;
// Seconds between 1904-01-01, QuickTime's epoch, and 1970-01-01.
constexpr std::uint32_t kQuickTimeEpochOffset = 2082844800;
constexpr std::uint32_t kSampleMovieTime = 1478307200;  // 2016-11-05 08:53:20 Beijing time

void PutBigEndian(std::vector<std::uint8_t>& out, std::uint32_t value, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<std::uint8_t>(value >> (i * 8)));
}

void PutText(std::vector<std::uint8_t>& out, const std::string& text) {
  out.insert(out.end(), text.begin(), text.end());
}

// A JPEG marker segment: FF, the marker, a length that counts itself, the payload.
void PutSegment(std::vector<std::uint8_t>& out, std::uint8_t marker, const std::vector<std::uint8_t>& payload) {
  out.push_back(0xFF);
  out.push_back(marker);
  PutBigEndian(out, static_cast<std::uint32_t>(payload.size() + 2), 2);
  out.insert(out.end(), payload.begin(), payload.end());
}

// An ISO base media box: its size (header included), its type, its payload.
void PutBox(std::vector<std::uint8_t>& out, const char (&type)[5], const std::vector<std::uint8_t>& payload) {
  PutBigEndian(out, static_cast<std::uint32_t>(payload.size() + 8), 4);
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), payload.begin(), payload.end());
}

// Bits of entropy-coded JPEG data, most significant first; a byte FF is
// followed by a stuffed 00, and the last byte is padded with 1 bits.
class JpegBitWriter {
 public:
  void Put(std::uint32_t value, int count) {
    for (int i = count - 1; i >= 0; --i) {
      current_ = static_cast<std::uint8_t>((current_ << 1) | ((value >> i) & 1));
      if (++filled_ == 8) Flush();
    }
  }
  std::vector<std::uint8_t> Finish() {
    while (filled_ != 0) Put(1, 1);
    return bytes_;
  }

 private:
  void Flush() {
    bytes_.push_back(current_);
    if (current_ == 0xFF) bytes_.push_back(0x00);
    current_ = 0;
    filled_ = 0;
  }
  std::vector<std::uint8_t> bytes_;
  std::uint8_t current_ = 0;
  int filled_ = 0;
};

int BitLength(std::uint32_t value) {
  int length = 0;
  while (value != 0) {
    ++length;
    value >>= 1;
  }
  return length;
}

// A Huffman table of one symbol, which gets the one-bit code 0.
std::vector<std::uint8_t> SingleSymbolTable(std::uint8_t tableClassAndId, std::uint8_t symbol) {
  // Class and id, 16 counts of codes by length (one of length 1), the symbol.
  std::vector<std::uint8_t> table(18, 0);
  table[0] = tableClassAndId;
  table[1] = 1;
  table[17] = symbol;
  return table;
}

std::string AsciiLowerExtension(const std::string& fileName) {
  const auto dot = fileName.rfind('.');
  return dot == std::string::npos ? std::string() : platform::AsciiLower(fileName.substr(dot + 1));
}

std::string WithoutExtension(const std::string& fileName) {
  const auto dot = fileName.rfind('.');
  return dot == std::string::npos ? fileName : fileName.substr(0, dot);
}

// The iOS 7 library does not say what a media is: its name's extension does.
bool IsLibraryVideo(const SampleLibraryMedia& media) {
  const std::string extension = AsciiLowerExtension(media.name);
  return extension == "mov" || extension == "mp4" || extension == "m4v" || extension == "avi";
}

std::int64_t LibraryFileSize(const SampleLibraryMedia& media) {
  return media.fileSize != 0 ? media.fileSize : static_cast<std::int64_t>(LibraryFileBytes(media).size());
}

}  // namespace

std::vector<std::uint8_t> SampleJpeg(int variant) {
  // One 8x8 block whose only coefficient is DC: 8 * (grey - 128) with a
  // quantiser of 1, coded as its size category and its bits.
  const auto grey = static_cast<std::uint32_t>(1 + ((variant % 127 + 127) * 29) % 127);
  const std::uint32_t dc = 8 * grey;
  const int category = BitLength(dc);
  std::vector<std::uint8_t> jpeg = {0xFF, 0xD8};
  std::vector<std::uint8_t> jfif;
  PutText(jfif, std::string("JFIF", 5));
  jfif.insert(jfif.end(), {0x01, 0x01, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00});
  PutSegment(jpeg, 0xE0, jfif);
  std::vector<std::uint8_t> comment;
  PutText(comment, "velmora sample " + std::to_string(variant));
  PutSegment(jpeg, 0xFE, comment);
  std::vector<std::uint8_t> quantisers = {0x00};
  quantisers.insert(quantisers.end(), 64, 1);
  PutSegment(jpeg, 0xDB, quantisers);
  // 8 bits, 8 lines, 8 samples a line, one component (id 1, 1x1, table 0).
  PutSegment(jpeg, 0xC0, {0x08, 0x00, 0x08, 0x00, 0x08, 0x01, 0x01, 0x11, 0x00});
  PutSegment(jpeg, 0xC4, SingleSymbolTable(0x00, static_cast<std::uint8_t>(category)));
  PutSegment(jpeg, 0xC4, SingleSymbolTable(0x10, 0x00));  // the AC table holds only end-of-block
  PutSegment(jpeg, 0xDA, {0x01, 0x01, 0x00, 0x00, 0x3F, 0x00});
  JpegBitWriter bits;
  bits.Put(0, 1);  // DC size category
  bits.Put(dc, category);
  bits.Put(0, 1);  // end of block
  const std::vector<std::uint8_t> scan = bits.Finish();
  jpeg.insert(jpeg.end(), scan.begin(), scan.end());
  jpeg.push_back(0xFF);
  jpeg.push_back(0xD9);
  return jpeg;
}

std::vector<std::uint8_t> SampleMov(int variant) {
  std::vector<std::uint8_t> movie;
  std::vector<std::uint8_t> fileType;
  PutText(fileType, "qt  ");
  PutBigEndian(fileType, 0x20050300, 4);
  PutText(fileType, "qt  ");
  PutBox(movie, "ftyp", fileType);

  std::vector<std::uint8_t> header;
  const std::uint32_t created = kSampleMovieTime + kQuickTimeEpochOffset + static_cast<std::uint32_t>(variant);
  PutBigEndian(header, 0, 4);  // version and flags
  PutBigEndian(header, created, 4);
  PutBigEndian(header, created, 4);
  PutBigEndian(header, 600, 4);                  // time scale
  PutBigEndian(header, 600, 4);                  // duration: one second
  PutBigEndian(header, 0x00010000, 4);           // rate 1.0
  PutBigEndian(header, 0x0100, 2);               // volume 1.0
  header.insert(header.end(), 10, 0);            // reserved
  for (const std::uint32_t value : {0x00010000u, 0u, 0u, 0u, 0x00010000u, 0u, 0u, 0u, 0x40000000u}) {
    PutBigEndian(header, value, 4);              // identity matrix
  }
  header.insert(header.end(), 24, 0);            // preview, poster, selection, current time
  PutBigEndian(header, 1, 4);                    // next track ID
  std::vector<std::uint8_t> movieBox;
  PutBox(movieBox, "mvhd", header);
  PutBox(movie, "moov", movieBox);

  std::vector<std::uint8_t> data;
  for (int i = 0; i < 32; ++i) data.push_back(static_cast<std::uint8_t>(variant * 31 + i));
  PutBox(movie, "mdat", data);
  return movie;
}

namespace {

// An 8-bit RGB PNG of rows of width * 3 bytes each.
std::vector<std::uint8_t> EncodePng(std::uint32_t width, std::uint32_t height, const std::vector<std::uint8_t>& rgb) {
  std::vector<std::uint8_t> raw;
  raw.reserve(static_cast<std::size_t>(height) * (width * 3 + 1));
  for (std::uint32_t y = 0; y < height; ++y) {
    raw.push_back(0);  // filter: none
    const auto row = rgb.begin() + static_cast<std::ptrdiff_t>(y) * width * 3;
    raw.insert(raw.end(), row, row + static_cast<std::ptrdiff_t>(width) * 3);
  }
  uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
  std::vector<std::uint8_t> packed(packedSize);
  compress2(packed.data(), &packedSize, raw.data(), static_cast<uLong>(raw.size()), Z_BEST_COMPRESSION);
  packed.resize(packedSize);

  std::vector<std::uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  auto chunk = [&png](const char* type, const std::vector<std::uint8_t>& data) {
    PutBigEndian(png, static_cast<std::uint32_t>(data.size()), 4);
    std::vector<std::uint8_t> body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    png.insert(png.end(), body.begin(), body.end());
    PutBigEndian(png, static_cast<std::uint32_t>(crc32(0, body.data(), static_cast<uInt>(body.size()))), 4);
  };
  std::vector<std::uint8_t> header;
  PutBigEndian(header, width, 4);
  PutBigEndian(header, height, 4);
  header.insert(header.end(), {8, 2, 0, 0, 0});  // 8 bits, RGB, deflate, no filter, no interlace
  chunk("IHDR", header);
  chunk("IDAT", packed);
  chunk("IEND", {});
  return png;
}

}  // namespace

std::vector<std::uint8_t> SamplePngImage(int variant) {
  constexpr std::uint32_t kSide = 4;
  std::vector<std::uint8_t> rgb;
  for (std::uint32_t y = 0; y < kSide; ++y) {
    for (std::uint32_t x = 0; x < kSide; ++x) {
      rgb.push_back(static_cast<std::uint8_t>(variant * 40));
      rgb.push_back(static_cast<std::uint8_t>(variant * 90 + static_cast<int>(x) * 16));
      rgb.push_back(static_cast<std::uint8_t>(200 - static_cast<int>(y) * 30));
    }
  }
  return EncodePng(kSide, kSide, rgb);
}

std::vector<std::uint8_t> SampleScenePng(std::uint32_t width, std::uint32_t height) {
  std::vector<std::uint8_t> rgb;
  rgb.reserve(static_cast<std::size_t>(width) * height * 3);
  const double horizon = height * 0.62;
  const double sunX = width * 0.72;
  const double sunY = height * 0.3;
  const double sunRadius = height * 0.12;
  for (std::uint32_t y = 0; y < height; ++y) {
    for (std::uint32_t x = 0; x < width; ++x) {
      const double dx = x - sunX;
      const double dy = y - sunY;
      double r, g, b;
      if (dx * dx + dy * dy < sunRadius * sunRadius) {
        r = 255, g = 214, b = 102;  // the sun
      } else if (y < horizon) {
        const double t = y / horizon;  // sky: deep blue to pale at the horizon
        r = 90 + 120 * t, g = 150 + 80 * t, b = 230 + 20 * t;
      } else {
        const double t = (y - horizon) / (height - horizon);  // sea: light to deep
        const double wave = ((x / 6 + y / 3) % 5 == 0) ? 18 : 0;
        r = 40 - 20 * t + wave, g = 130 - 50 * t + wave, b = 190 - 60 * t + wave;
      }
      rgb.push_back(static_cast<std::uint8_t>(r));
      rgb.push_back(static_cast<std::uint8_t>(g));
      rgb.push_back(static_cast<std::uint8_t>(b));
    }
  }
  return EncodePng(width, height, rgb);
}

std::vector<std::uint8_t> SampleMediaFile(const std::string& fileName, int variant) {
  const std::string extension = AsciiLowerExtension(fileName);
  if (extension == "jpg" || extension == "jpeg") return SampleJpeg(variant);
  if (extension == "png") return SamplePngImage(variant);
  if (extension == "mov" || extension == "mp4" || extension == "avi") return SampleMov(variant);
  std::vector<std::uint8_t> other;
  std::vector<std::uint8_t> fileType;
  PutText(fileType, (extension + "    ").substr(0, 4));
  PutBigEndian(fileType, 0, 4);
  PutBox(other, "ftyp", fileType);
  PutBox(other, "free", {static_cast<std::uint8_t>(variant), static_cast<std::uint8_t>(variant >> 8)});
  return other;
}

std::string LibraryFilePath(const SampleLibraryMedia& media) {
  return "Media/DCIM/" + media.folder + "/" + media.name;
}

std::string LibraryThumbnailPath(const SampleLibraryMedia& media) {
  return "Media/PhotoData/Thumbnails/V2/DCIM/" + media.folder + "/" + media.name + "/5003.JPG";
}

std::string LibraryVideoPreviewPath(const SampleLibraryMedia& media) {
  return "Media/PhotoData/Metadata/DCIM/" + media.folder + "/" + WithoutExtension(media.name) + ".JPG";
}

std::vector<std::uint8_t> LibraryFileBytes(const SampleLibraryMedia& media) {
  return SampleMediaFile(media.name, media.variant);
}

std::vector<std::uint8_t> LibraryThumbnailBytes(const SampleLibraryMedia& media) {
  return SampleJpeg(1000 + media.variant);
}

std::vector<std::uint8_t> LibraryVideoPreviewBytes(const SampleLibraryMedia& media) {
  return SampleJpeg(2000 + media.variant);
}

std::string PhotosLibrarySql(const std::vector<SampleLibraryMedia>& media) {
  std::string sql =
      "CREATE TABLE ZADDITIONALASSETATTRIBUTES ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, "
      "ZEMBEDDEDTHUMBNAILHEIGHT INTEGER, ZEMBEDDEDTHUMBNAILLENGTH INTEGER, ZEMBEDDEDTHUMBNAILOFFSET INTEGER, "
      "ZEMBEDDEDTHUMBNAILWIDTH INTEGER, ZEXTERNALUSAGEINTENT INTEGER, ZHIGHDYNAMICRANGETYPE INTEGER, "
      "ZORIGINALFILESIZE INTEGER, ZORIGINALHEIGHT INTEGER, ZORIGINALORIENTATION INTEGER, ZORIGINALWIDTH INTEGER, "
      "ZREVERSELOCATIONDATAISVALID INTEGER, ZASSET INTEGER, Z17_ASSET INTEGER, ZDURATION FLOAT, "
      "ZCREATORBUNDLEID VARCHAR, ZEDITORBUNDLEID VARCHAR, ZEXIFTIMESTAMPSTRING VARCHAR, ZORIGINALFILENAME VARCHAR, "
      "ZORIGINALPATH VARCHAR, ZPUBLICGLOBALUUID VARCHAR, ZIMPORTSESSIONID BLOB, ZORIGINALASSETSUUID BLOB, "
      "ZORIGINALHASH BLOB, ZREVERSELOCATIONDATA BLOB );\n"
      "CREATE INDEX ZADDITIONALASSETATTRIBUTES_ZASSET_INDEX ON ZADDITIONALASSETATTRIBUTES (ZASSET);\n"
      "CREATE TABLE Z_PRIMARYKEY (Z_ENT INTEGER PRIMARY KEY, Z_NAME VARCHAR, Z_SUPER INTEGER, Z_MAX INTEGER);\n"
      "CREATE TABLE Z_METADATA (Z_VERSION INTEGER PRIMARY KEY, Z_UUID VARCHAR(255), Z_PLIST BLOB);\n"
      "INSERT INTO Z_METADATA VALUES (1, 'B4E8E5A2-3C1D-4F6A-9E27-5D0C8A1F7B36', NULL);\n";
  sql += "INSERT INTO Z_PRIMARYKEY VALUES (" + std::to_string(kAttributesEntity) +
         ", 'AdditionalAssetAttributes', 0, " + std::to_string(media.size()) + ");\n";
  sql += "BEGIN;\n";
  for (std::size_t i = 0; i < media.size(); ++i) {
    const SampleLibraryMedia& row = media[i];
    const std::string pk = std::to_string(i + 1);
    const bool video = IsLibraryVideo(row);
    sql += "INSERT INTO ZADDITIONALASSETATTRIBUTES VALUES (" + pk + ", " + std::to_string(kAttributesEntity) +
           ", 1, 120, 0, 0, 160, 0, 0, " + std::to_string(LibraryFileSize(row)) + ", " +
           std::to_string(row.height) + ", 1, " + std::to_string(row.width) + ", 0, " + pk + ", 17, " +
           (video ? "12.5" : "0") + ", 'com.apple.camera', NULL, " + SqlTextOrNull(row.exifTimestamp) + ", " +
           SqlTextOrNull(row.name) + ", " + SqlText("DCIM/" + row.folder) + ", NULL, NULL, NULL, NULL, NULL);\n";
  }
  sql += "COMMIT;\n";
  return sql;
}

std::vector<SampleLibraryMedia> SampleLibrary() {
  return {
      {"IMG_0001.JPG", "2016:11:05 08:53:20", 0, 2448, 3264, "100APPLE", true, true, 1},
      {"IMG_0002.JPG", "2016:11:05 19:02:11", 0, 2448, 3264, "100APPLE", true, false, 2},
      {"IMG_0003.MOV", "2016:11:06 10:00:00", 5368709120, 1080, 1920, "100APPLE", true, true, 3},
      {"IMG_0004.mov", "2016:11:07 14:20:00", 0, 720, 1280, "100APPLE", true, true, 4},
      {"IMG_0005.JPG", "2016:11:08 09:00:00", 0, 2448, 3264, "101APPLE", true, true, 5},
      {"IMG_0006.JPG", "2016:11:08 10:00:00", 0, 2448, 3264, "100APPLE", false, true, 6},
      {"IMG_0007.PNG", "", 0, 1136, 640, "100APPLE", true, true, 7},
  };
}

std::vector<SampleUnlistedMedia> SampleUnlistedFiles() {
  return {
      {"Media/DCIM/100APPLE/IMG_0010.JPG", 1478318400, 10},
      {"Media/DCIM/100APPLE/IMG_0011.PNG", 1478698200, 11},
      {"Media/DCIM/100APPLE/IMG_0012.MOV", 1478740500, 12},
      {"Media/DCIM/100APPLE/IMG_0013.MP4", 1478793599, 13},
  };
}

void AddPhotosLibrary(SampleBackupBuilder& builder, const std::vector<SampleLibraryMedia>& library,
                      const std::vector<SampleUnlistedMedia>& unlisted) {
  // Folder rows first, as a manifest lists a folder before its files.
  std::set<std::string> folders = {"Media", "Media/DCIM", "Media/PhotoData", "Media/PhotoData/Thumbnails",
                                   "Media/PhotoData/Thumbnails/V2", "Media/PhotoData/Thumbnails/V2/DCIM",
                                   "Media/PhotoData/Metadata", "Media/PhotoData/Metadata/DCIM"};
  for (const SampleLibraryMedia& media : library) {
    folders.insert("Media/DCIM/" + media.folder);
    folders.insert("Media/PhotoData/Thumbnails/V2/DCIM/" + media.folder);
    folders.insert("Media/PhotoData/Metadata/DCIM/" + media.folder);
  }
  for (const std::string& folder : folders) builder.AddFolder(kCameraRollDomain, folder);
  builder.AddDatabase(kCameraRollDomain, kPhotosLibraryPath, SqliteFile(PhotosLibrarySql(library)));
  for (const SampleLibraryMedia& media : library) {
    if (!media.fileInBackup || media.name.empty()) continue;
    builder.AddFile(kCameraRollDomain, LibraryFilePath(media), LibraryFileBytes(media));
    if (media.thumbnail) {
      // The thumbnail's folder is named like the picture: a folder row
      // whose path ends in ".JPG".
      const std::string thumbnail = LibraryThumbnailPath(media);
      builder.AddFolder(kCameraRollDomain, thumbnail.substr(0, thumbnail.rfind('/')));
      builder.AddFile(kCameraRollDomain, thumbnail, LibraryThumbnailBytes(media));
    }
    if (IsLibraryVideo(media)) {
      builder.AddFile(kCameraRollDomain, LibraryVideoPreviewPath(media), LibraryVideoPreviewBytes(media));
    }
  }
  for (const SampleUnlistedMedia& media : unlisted) {
    BackupFile file;
    file.domain = kCameraRollDomain;
    file.relativePath = media.relativePath;
    file.content = SampleMediaFile(media.relativePath, media.variant);
    file.birth = media.birth;
    builder.AddFile(std::move(file));
  }
}

void AddCameraRoll(SampleBackupBuilder& builder) {
  AddPhotosLibrary(builder, SampleLibrary(), SampleUnlistedFiles());
}

// ---- the asset library ----

namespace {

std::string AppleSecondsOrNull(std::int64_t unixSeconds) {
  return unixSeconds != 0 ? std::to_string(unixSeconds - kAppleEpochOffset) : "NULL";
}

std::string JoinValues(const std::vector<std::string>& values) {
  std::string joined;
  for (const std::string& value : values) joined += (joined.empty() ? "" : ", ") + value;
  return joined;
}

std::string UniformTypeOf(const std::string& fileName) {
  const std::string extension = AsciiLowerExtension(fileName);
  if (extension == "heic") return "public.heic";
  if (extension == "jpg" || extension == "jpeg") return "public.jpeg";
  if (extension == "png") return "public.png";
  if (extension == "mp4") return "public.mpeg-4";
  return "com.apple.quicktime-movie";
}

// The folders a backup lists for a relative path: each of its parents.
void AddParentFolders(std::set<std::string>& folders, const std::string& relativePath) {
  for (auto slash = relativePath.find('/'); slash != std::string::npos; slash = relativePath.find('/', slash + 1)) {
    folders.insert(relativePath.substr(0, slash));
  }
}

}  // namespace

std::string AssetFilePath(const SampleAsset& asset) { return "Media/" + asset.directory + "/" + asset.fileName; }

std::string AssetThumbnailPath(const SampleAsset& asset) {
  return "Media/PhotoData/Thumbnails/V2/" + asset.directory + "/" + asset.fileName + "/5003.JPG";
}

std::string AssetMotionPath(const SampleAsset& asset) {
  return "Media/" + asset.directory + "/" + WithoutExtension(asset.fileName) + ".MOV";
}

std::vector<std::uint8_t> AssetFileBytes(const SampleAsset& asset) {
  return SampleMediaFile(asset.fileName, asset.variant);
}

std::vector<std::uint8_t> AssetThumbnailBytes(const SampleAsset& asset) { return SampleJpeg(1000 + asset.variant); }

std::vector<std::uint8_t> AssetMotionBytes(const SampleAsset& asset) { return SampleMov(3000 + asset.variant); }

std::string AssetLibrarySql(const std::vector<SampleAsset>& assets, const std::string& assetTable) {
  std::string sql =
      "CREATE TABLE " + assetTable +
      " ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZUUID VARCHAR, ZDIRECTORY VARCHAR, "
      "ZFILENAME VARCHAR, ZKIND INTEGER, ZKINDSUBTYPE INTEGER, ZDATECREATED TIMESTAMP, ZMODIFICATIONDATE TIMESTAMP, "
      "ZADDEDDATE TIMESTAMP, ZWIDTH INTEGER, ZHEIGHT INTEGER, ZDURATION FLOAT, ZFAVORITE INTEGER, ZHIDDEN INTEGER, "
      "ZTRASHEDSTATE INTEGER, ZTRASHEDDATE TIMESTAMP, ZUNIFORMTYPEIDENTIFIER VARCHAR, ZADDITIONALATTRIBUTES INTEGER "
      ");\n"
      "CREATE TABLE ZADDITIONALASSETATTRIBUTES ( Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, "
      "ZASSET INTEGER, ZORIGINALFILENAME VARCHAR, ZORIGINALFILESIZE INTEGER, ZORIGINALWIDTH INTEGER, "
      "ZORIGINALHEIGHT INTEGER, ZEXIFTIMESTAMPSTRING VARCHAR, ZTIMEZONENAME VARCHAR );\n"
      "CREATE INDEX ZADDITIONALASSETATTRIBUTES_ZASSET_INDEX ON ZADDITIONALASSETATTRIBUTES (ZASSET);\n"
      "CREATE TABLE Z_PRIMARYKEY (Z_ENT INTEGER PRIMARY KEY, Z_NAME VARCHAR, Z_SUPER INTEGER, Z_MAX INTEGER);\n"
      "CREATE TABLE Z_METADATA (Z_VERSION INTEGER PRIMARY KEY, Z_UUID VARCHAR(255), Z_PLIST BLOB);\n"
      "INSERT INTO Z_METADATA VALUES (1, '5F0E9C2B-7A41-4D3E-8B6C-1E2D3F4A5B6C', NULL);\n";
  const std::string count = std::to_string(assets.size());
  sql += "INSERT INTO Z_PRIMARYKEY VALUES (" + std::to_string(kAttributesEntity) +
         ", 'AdditionalAssetAttributes', 0, " + count + ");\n";
  sql += "INSERT INTO Z_PRIMARYKEY VALUES (" + std::to_string(kAssetEntity) + ", 'Asset', 0, " + count + ");\n";
  sql += "BEGIN;\n";
  for (std::size_t i = 0; i < assets.size(); ++i) {
    const SampleAsset& asset = assets[i];
    const std::string pk = std::to_string(i + 1);
    const std::string created = AppleSecondsOrNull(asset.created);
    const bool trashed = asset.trashedAt != 0;
    const std::string uuid =
        "8D4C2A10-0000-4000-8000-" + std::string(12 - std::min<std::size_t>(12, pk.size()), '0') + pk;
    sql += "INSERT INTO " + assetTable + " VALUES (" +
           JoinValues({pk, std::to_string(kAssetEntity), "1", SqlText(uuid), SqlTextOrNull(asset.directory),
                       SqlTextOrNull(asset.fileName), asset.kind >= 0 ? std::to_string(asset.kind) : "NULL",
                       std::to_string(asset.kindSubtype), created, created, created, std::to_string(asset.width),
                       std::to_string(asset.height), asset.kind == 1 ? "12.5" : "0", "0", "0",
                       trashed ? std::to_string(kTrashedState) : "0", AppleSecondsOrNull(asset.trashedAt),
                       SqlText(UniformTypeOf(asset.fileName)), pk}) +
           ");\n";
    sql += "INSERT INTO ZADDITIONALASSETATTRIBUTES VALUES (" +
           JoinValues({pk, std::to_string(kAttributesEntity), "1", pk, SqlTextOrNull(asset.fileName),
                       std::to_string(AssetFileBytes(asset).size()), std::to_string(asset.width),
                       std::to_string(asset.height), "NULL", "'Asia/Shanghai'"}) +
           ");\n";
  }
  sql += "COMMIT;\n";
  return sql;
}

std::vector<SampleAsset> SampleAssets() {
  std::vector<SampleAsset> assets(7);
  const auto set = [](SampleAsset& asset, const char* fileName, const char* directory, int kind,
                      std::int64_t created, int variant) {
    asset.fileName = fileName;
    asset.directory = directory;
    asset.kind = kind;
    asset.created = created;
    asset.width = kind == 1 ? 1920 : 4032;
    asset.height = kind == 1 ? 1080 : 3024;
    asset.variant = variant;
  };
  set(assets[0], "IMG_0001.HEIC", "DCIM/100APPLE", 0, 1682902800, 101);
  set(assets[1], "IMG_0002.HEIC", "DCIM/100APPLE", 0, 1682908200, 102);
  assets[1].kindSubtype = 2;
  assets[1].livePhotoMotion = true;
  set(assets[2], "IMG_0003.MP4", "DCIM/100APPLE", 1, 1683021600, 103);
  set(assets[3], "IMG_0004.MOV", "DCIM/100APPLE", 1, 1683025200, 104);
  set(assets[4], "IMG_0001.HEIC", "DCIM/101APPLE", 0, 1683072000, 105);
  set(assets[5], "IMG_0005.HEIC", "DCIM/100APPLE", 0, 1683086400, 106);
  assets[5].trashedAt = 1683720000;
  set(assets[6], "IMG_0006.HEIC", "DCIM/101APPLE", 0, 1683154800, 107);
  assets[6].fileInBackup = false;
  return assets;
}

std::vector<SampleUnlistedMedia> SampleAssetUnlistedFiles() {
  return {
      {"Media/DCIM/100APPLE/IMG_0010.HEIC", 1683259200, 110},
      {"Media/DCIM/100APPLE/IMG_0010.MOV", 1683259200, 3110},
      {"Media/DCIM/101APPLE/IMG_0011.mp4", 1683334800, 111},
  };
}

void AddAssetLibrary(SampleBackupBuilder& builder, const std::vector<SampleAsset>& assets,
                     const std::vector<SampleUnlistedMedia>& unlisted, const std::string& assetTable) {
  // Folder rows first, as a manifest lists a folder before its files.
  std::set<std::string> folders = {"Media", "Media/DCIM", "Media/PhotoData"};
  for (const SampleAsset& asset : assets) {
    if (asset.fileInBackup) AddParentFolders(folders, AssetFilePath(asset));
    if (asset.thumbnail) AddParentFolders(folders, AssetThumbnailPath(asset));
  }
  for (const SampleUnlistedMedia& media : unlisted) AddParentFolders(folders, media.relativePath);
  for (const std::string& folder : folders) builder.AddFolder(kCameraRollDomain, folder);
  builder.AddDatabase(kCameraRollDomain, kPhotosLibraryPath, SqliteFile(AssetLibrarySql(assets, assetTable)));
  for (const SampleAsset& asset : assets) {
    if (asset.fileInBackup) {
      builder.AddFile(kCameraRollDomain, AssetFilePath(asset), AssetFileBytes(asset));
      if (asset.livePhotoMotion) builder.AddFile(kCameraRollDomain, AssetMotionPath(asset), AssetMotionBytes(asset));
    }
    if (asset.thumbnail) builder.AddFile(kCameraRollDomain, AssetThumbnailPath(asset), AssetThumbnailBytes(asset));
  }
  for (const SampleUnlistedMedia& media : unlisted) {
    BackupFile file;
    file.domain = kCameraRollDomain;
    file.relativePath = media.relativePath;
    file.content = SampleMediaFile(media.relativePath, media.variant);
    file.birth = media.birth;
    builder.AddFile(std::move(file));
  }
}

void AddCameraRollIos17(SampleBackupBuilder& builder) {
  AddAssetLibrary(builder, SampleAssets(), SampleAssetUnlistedFiles());
}

}  // namespace sample
