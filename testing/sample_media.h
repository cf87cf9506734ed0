#pragma once
// Sample camera roll: small but real media files (a baseline JPEG, a PNG, a
// QuickTime movie) made from code, and the photo library Photos.sqlite with
// the iOS 7 table ZADDITIONALASSETATTRIBUTES (27 columns) beside the files
// its rows name, laid out in CameraRollDomain as the phone keeps them:
//   Media/DCIM/100APPLE/IMG_0001.JPG                              the picture
//   Media/PhotoData/Thumbnails/V2/DCIM/100APPLE/IMG_0001.JPG/5003.JPG  its thumbnail
//   Media/PhotoData/Metadata/DCIM/100APPLE/IMG_0003.JPG          a video's preview
// and files the library no longer lists, which stand for deleted media.
//
// Thread-safe.

#include <cstdint>
#include <string>
#include <vector>

namespace sample {

class SampleBackupBuilder;

inline constexpr char kCameraRollDomain[] = "CameraRollDomain";
inline constexpr char kPhotosLibraryPath[] = "Media/PhotoData/Photos.sqlite";

// A valid 8x8 grey baseline JPEG (JFIF, one component, one block). Each
// variant has a different grey and a comment naming the variant, so the
// bytes differ per variant. Decodes with libjpeg.
std::vector<std::uint8_t> SampleJpeg(int variant);
// A small QuickTime file: an "ftyp" box of brand "qt  ", a "moov" box with a
// 108-byte "mvhd" and an "mdat" box whose bytes differ per variant. Every
// box's size covers exactly its contents.
std::vector<std::uint8_t> SampleMov(int variant);
// A valid 4x4 RGB PNG whose colour differs per variant.
std::vector<std::uint8_t> SamplePngImage(int variant);
// A picture a person would send: sky, sun and sea, width x height pixels.
std::vector<std::uint8_t> SampleScenePng(std::uint32_t width, std::uint32_t height);
// The bytes of a media file by its extension, ignoring case: .jpg/.jpeg a
// JPEG, .png a PNG, .mov/.mp4/.avi a QuickTime file, anything else (".heic")
// an "ftyp" box of that extension's brand and a few variant bytes.
std::vector<std::uint8_t> SampleMediaFile(const std::string& fileName, int variant);

// One row of ZADDITIONALASSETATTRIBUTES and the files the backup holds for it.
struct SampleLibraryMedia {
  std::string name;             // ZORIGINALFILENAME, e.g. "IMG_0001.JPG"
  std::string exifTimestamp;    // ZEXIFTIMESTAMPSTRING, "2016:11:05 08:53:20"; NULL when empty
  std::int64_t fileSize = 0;    // ZORIGINALFILESIZE; 0 stands for the size of the sample bytes
  std::int32_t height = 0;      // ZORIGINALHEIGHT
  std::int32_t width = 0;       // ZORIGINALWIDTH
  std::string folder = "100APPLE";  // the folder below Media/DCIM/ holding the file
  bool fileInBackup = true;     // the media file (and its thumbnail, preview) is in the backup
  bool thumbnail = true;        // a 5003.JPG thumbnail is in the backup
  int variant = 0;              // which sample bytes the file holds
};

// A camera-roll file no library row names: a deleted picture or video.
struct SampleUnlistedMedia {
  std::string relativePath;     // in CameraRollDomain, e.g. "Media/DCIM/100APPLE/IMG_0010.JPG"
  std::int64_t birth = 0;       // the manifest's Birth, Unix seconds
  int variant = 0;
};

// Where the backup keeps a library row's file, thumbnail and (for a name
// ending in ".MOV") the video's preview picture, whose name ends in ".JPG".
std::string LibraryFilePath(const SampleLibraryMedia& media);
std::string LibraryThumbnailPath(const SampleLibraryMedia& media);
std::string LibraryVideoPreviewPath(const SampleLibraryMedia& media);
// The bytes of a row's file, of its thumbnail and of its preview.
std::vector<std::uint8_t> LibraryFileBytes(const SampleLibraryMedia& media);
std::vector<std::uint8_t> LibraryThumbnailBytes(const SampleLibraryMedia& media);
std::vector<std::uint8_t> LibraryVideoPreviewBytes(const SampleLibraryMedia& media);

// A whole Photos.sqlite: ZADDITIONALASSETATTRIBUTES as iOS 7.1.2 has it
// with one row per media (Z_PK 1, 2, ..., ZORIGINALPATH "DCIM/<folder>"),
// and the Core Data bookkeeping tables. SQL text for sample::SqliteFile.
std::string PhotosLibrarySql(const std::vector<SampleLibraryMedia>& media);

// The sample library (times are Beijing time):
//   0 IMG_0001.JPG  2016:11:05 08:53:20  with thumbnail
//   1 IMG_0002.JPG  2016:11:05 19:02:11  without thumbnail
//   2 IMG_0003.MOV  2016:11:06 10:00:00  a video of 5 GB (5368709120 bytes) with thumbnail and preview
//   3 IMG_0004.mov  2016:11:07 14:20:00  lower-case extension
//   4 IMG_0005.JPG  2016:11:08 09:00:00  in Media/DCIM/101APPLE/
//   5 IMG_0006.JPG  2016:11:08 10:00:00  its file is not in the backup
//   6 IMG_0007.PNG  no EXIF time (a screenshot)
std::vector<SampleLibraryMedia> SampleLibrary();
// The unlisted files of the sample:
//   Media/DCIM/100APPLE/IMG_0010.JPG  born 2016-11-05 12:00:00
//   Media/DCIM/100APPLE/IMG_0011.PNG  born 2016-11-09 21:30:00
//   Media/DCIM/100APPLE/IMG_0012.MOV  born 2016-11-10 09:15:00
//   Media/DCIM/100APPLE/IMG_0013.MP4  born 2016-11-10 23:59:59
std::vector<SampleUnlistedMedia> SampleUnlistedFiles();

// Adds Photos.sqlite made from library at kPhotosLibraryPath, the folders of
// the camera roll, the files of every row whose fileInBackup is set (with
// the thumbnail folder and thumbnail where asked, and a video's preview) and
// the unlisted files, all in CameraRollDomain.
void AddPhotosLibrary(SampleBackupBuilder& builder, const std::vector<SampleLibraryMedia>& library,
                      const std::vector<SampleUnlistedMedia>& unlisted);
// AddPhotosLibrary with SampleLibrary() and SampleUnlistedFiles().
void AddCameraRoll(SampleBackupBuilder& builder);

}  // namespace sample
