#pragma once
// CameraRollFiles: every file of a backup's CameraRollDomain (the camera
// roll Media/DCIM/ and the library's Media/PhotoData/), read once from the
// backup file index: one query of Manifest.db, one pass over Manifest.mbdb,
// or a walk of a folder backup's Media/DCIM and Media/PhotoData. The photo
// reader files hundreds of library rows against it by hash look-ups rather
// than a search of the manifest per row.
//
// Paths are relative to the domain ("Media/DCIM/100APPLE/IMG_0001.HEIC"),
// '/'-separated, and matched ignoring ASCII case, as the manifest look-ups
// and a case-insensitive file system do.
//
// Threads: built and read by one thread (the analysis worker).

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "backup/file_list_db.h"

namespace readers {

// One file of the camera roll as the backup file index lists it.
struct CameraRollFile {
  std::string relativePath;  // inside the domain, '/'-separated
  std::string storedPath;    // where the backup keeps its bytes
  std::int64_t birth = 0;    // Unix seconds; 0 when unknown (a folder's files: their modification time)
  std::int64_t lastModified = 0;
  std::int64_t lastStatusChange = 0;
  std::int64_t size = 0;
};

class CameraRollFiles {
 public:
  // index: not owned, only read while constructing; null lists nothing.
  explicit CameraRollFiles(backup::CFileListDB* index);

  // The file at relativePath ignoring ASCII case, the one of exactly that
  // case first; null when there is none.
  const CameraRollFile* Find(const std::string& relativePath) const;

  // A file named name directly in any folder of Media/DCIM/: the one of
  // exactly that case first, then the first folder by name.
  const CameraRollFile* FindInDcim(const std::string& name) const;

  // The files whose name ends in "." + extension (lower case), in the
  // index's order.
  std::vector<const CameraRollFile*> WithExtension(const std::string& extension) const;

 private:
  void Add(CameraRollFile file);
  void ReadManifestDb(backup::CFileListDB& index);
  void ReadManifestMbdb(backup::CFileListDB& index);
  void ReadFolder(backup::CFileListDB& index);
  void Walk(const std::string& folder, const std::string& relative, int depth);

  std::vector<CameraRollFile> files_;
  std::unordered_map<std::string, std::vector<std::size_t>> byLowerPath_;
  std::unordered_map<std::string, std::vector<std::size_t>> dcimByLowerName_;
  std::unordered_map<std::string, std::vector<std::size_t>> byExtension_;
};

}  // namespace readers
