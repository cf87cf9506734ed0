#pragma once
// Sample camera roll: small but real media files (a baseline JPEG, a PNG, a
// QuickTime movie) made from code, and the photo library Photos.sqlite in
// two shapes: the iOS 7 table ZADDITIONALASSETATTRIBUTES (27 columns), and
// from iOS 8 on an asset table (ZASSET, ZGENERICASSET) with its attribute
// rows. Beside them the files the rows name, laid out in CameraRollDomain as
// the phone keeps them:
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

// Where the backup keeps a library row's file, thumbnail and (for a video,
// a name ending in .mov, .mp4, .m4v or .avi in any case) the video's
// preview picture, whose name ends in ".JPG".
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
//   3 IMG_0004.mov  2016:11:07 14:20:00  a video with a lower-case extension
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

// One asset of a library from iOS 8 on (table ZASSET from iOS 14,
// ZGENERICASSET before) with its ZADDITIONALASSETATTRIBUTES row, and the
// files the backup holds for it:
//   Media/<directory>/<fileName>                                   the media
//   Media/PhotoData/Thumbnails/V2/<directory>/<fileName>/5003.JPG  its thumbnail
//   Media/<directory>/<stem>.MOV                                   a Live Photo's motion
struct SampleAsset {
  std::string fileName;                     // ZFILENAME, e.g. "IMG_0001.HEIC"
  std::string directory = "DCIM/100APPLE";  // ZDIRECTORY, below Media/
  int kind = 0;                             // ZKIND: 0 photo, 1 video; below 0 NULL
  int kindSubtype = 0;                      // ZKINDSUBTYPE: 2 a Live Photo
  std::int64_t created = 0;                 // ZDATECREATED as Unix seconds (stored as seconds since 2001)
  std::int32_t width = 0;                   // ZWIDTH and ZORIGINALWIDTH
  std::int32_t height = 0;                  // ZHEIGHT and ZORIGINALHEIGHT
  std::int64_t trashedAt = 0;               // set: ZTRASHEDSTATE 1 and ZTRASHEDDATE (Unix seconds)
  bool fileInBackup = true;                 // the media (and its motion) is in the backup
  bool thumbnail = true;                    // a 5003.JPG thumbnail is in the backup
  bool livePhotoMotion = false;             // a .MOV of the file's stem lies beside it
  int variant = 0;                          // which sample bytes the files hold
};

std::string AssetFilePath(const SampleAsset& asset);
std::string AssetThumbnailPath(const SampleAsset& asset);
std::string AssetMotionPath(const SampleAsset& asset);
// The bytes of an asset's file, thumbnail and motion; each differs per variant.
std::vector<std::uint8_t> AssetFileBytes(const SampleAsset& asset);
std::vector<std::uint8_t> AssetThumbnailBytes(const SampleAsset& asset);
std::vector<std::uint8_t> AssetMotionBytes(const SampleAsset& asset);

// A Photos.sqlite with the asset table assetTable ("ZASSET" or
// "ZGENERICASSET") and ZADDITIONALASSETATTRIBUTES, their columns as the
// phone's (docs/formats/photos_sqlite.md) with Core Data's Z_ENT and Z_OPT,
// one asset and one attribute row per asset (Z_PK 1, 2, ...; the attribute
// row's ZASSET the asset's Z_PK, ZORIGINALFILENAME its file name), and the
// Core Data bookkeeping tables. SQL text for sample::SqliteFile.
std::string AssetLibrarySql(const std::vector<SampleAsset>& assets, const std::string& assetTable = "ZASSET");

// The iOS 17 sample library (times are Beijing time):
//   0 DCIM/100APPLE/IMG_0001.HEIC  photo      2023-05-01 09:00:00  with thumbnail
//   1 DCIM/100APPLE/IMG_0002.HEIC  Live Photo 2023-05-01 10:30:00  IMG_0002.MOV beside it
//   2 DCIM/100APPLE/IMG_0003.MP4   video      2023-05-02 18:00:00
//   3 DCIM/100APPLE/IMG_0004.MOV   video      2023-05-02 19:00:00
//   4 DCIM/101APPLE/IMG_0001.HEIC  photo      2023-05-03 08:00:00  the name of asset 0 in the next folder
//   5 DCIM/100APPLE/IMG_0005.HEIC  photo      2023-05-03 12:00:00  in Recently Deleted since 2023-05-10 20:00:00
//   6 DCIM/101APPLE/IMG_0006.HEIC  photo      2023-05-04 07:00:00  only its thumbnail in the backup
std::vector<SampleAsset> SampleAssets();
// Files of the iOS 17 camera roll no asset names:
//   Media/DCIM/100APPLE/IMG_0010.HEIC  born 2023-05-05 12:00:00, a deleted Live Photo
//   Media/DCIM/100APPLE/IMG_0010.MOV   born 2023-05-05 12:00:00, its motion
//   Media/DCIM/101APPLE/IMG_0011.mp4   born 2023-05-06 09:00:00, a deleted video
std::vector<SampleUnlistedMedia> SampleAssetUnlistedFiles();

// Adds Photos.sqlite made from assets at kPhotosLibraryPath, the folders of
// the camera roll, the files of the assets as their fields ask and the
// unlisted files, all in CameraRollDomain.
void AddAssetLibrary(SampleBackupBuilder& builder, const std::vector<SampleAsset>& assets,
                     const std::vector<SampleUnlistedMedia>& unlisted, const std::string& assetTable = "ZASSET");
// AddAssetLibrary with SampleAssets() and SampleAssetUnlistedFiles().
void AddCameraRollIos17(SampleBackupBuilder& builder);

}  // namespace sample
