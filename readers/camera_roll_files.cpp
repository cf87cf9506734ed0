#include "readers/camera_roll_files.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <system_error>
#include <utility>

#include "backup/encrypted_backup.h"
#include "backup/mbdb.h"
#include "export/export_writer.h"
#include "platform/fs.h"

namespace readers {

namespace fs = std::filesystem;

namespace {

constexpr char kCameraRollDomain[] = "CameraRollDomain";
constexpr char kDcimPrefix[] = "Media/DCIM/";
// In a folder backup there are no domains: the camera roll is these trees.
constexpr const char* kFolderModeRoots[] = {"Media/DCIM", "Media/PhotoData"};
// No camera roll nests deeper; the walk recurses once per level.
constexpr int kMaxFolderDepth = 64;

std::int64_t ModifiedSeconds(const fs::path& path) {
  std::error_code error;
  const auto written = fs::last_write_time(path, error);
  if (error) return 0;
  const auto since = std::chrono::file_clock::to_sys(written).time_since_epoch();
  return std::max<std::int64_t>(0, std::chrono::duration_cast<std::chrono::seconds>(since).count());
}

// An encrypted backup's file is not decrypted for its size: its manifest
// record gives it.
std::int64_t SizeOnDisk(const fs::path& path) { return backup::StoredFileSize(path.string()).value_or(0); }

}  // namespace

CameraRollFiles::CameraRollFiles(backup::CFileListDB* index) {
  if (index == nullptr) return;
  switch (index->Mode()) {
    case backup::SourceManifestDb: ReadManifestDb(*index); break;
    case backup::SourceManifestMbdb: ReadManifestMbdb(*index); break;
    default: ReadFolder(*index); break;
  }
}

const CameraRollFile* CameraRollFiles::Find(const std::string& relativePath) const {
  const auto found = byLowerPath_.find(platform::AsciiLower(relativePath));
  if (found == byLowerPath_.end()) return nullptr;
  for (const std::size_t at : found->second) {
    if (files_[at].relativePath == relativePath) return &files_[at];
  }
  return &files_[found->second.front()];
}

const CameraRollFile* CameraRollFiles::FindInDcim(const std::string& name) const {
  const auto found = dcimByLowerName_.find(platform::AsciiLower(name));
  if (found == dcimByLowerName_.end()) return nullptr;
  const CameraRollFile* best = nullptr;
  for (const std::size_t at : found->second) {
    const CameraRollFile& file = files_[at];
    const bool exact = exporting::LastPathComponent(file.relativePath) == name;
    const bool bestExact = best != nullptr && exporting::LastPathComponent(best->relativePath) == name;
    if (best == nullptr || (exact && !bestExact) || (exact == bestExact && file.relativePath < best->relativePath)) {
      best = &file;
    }
  }
  return best;
}

std::vector<const CameraRollFile*> CameraRollFiles::WithExtension(const std::string& extension) const {
  std::vector<const CameraRollFile*> found;
  if (const auto it = byExtension_.find(extension); it != byExtension_.end()) {
    for (const std::size_t at : it->second) found.push_back(&files_[at]);
  }
  return found;
}

void CameraRollFiles::Add(CameraRollFile file) {
  const std::size_t at = files_.size();
  const std::string lower = platform::AsciiLower(file.relativePath);
  byLowerPath_[lower].push_back(at);
  const std::string dcim = platform::AsciiLower(kDcimPrefix);
  if (lower.compare(0, dcim.size(), dcim) == 0) {
    const auto slash = lower.find('/', dcim.size());
    if (slash != std::string::npos && slash > dcim.size() && lower.find('/', slash + 1) == std::string::npos) {
      dcimByLowerName_[lower.substr(slash + 1)].push_back(at);
    }
  }
  const std::string name = exporting::LastPathComponent(lower);
  if (const auto dot = name.rfind('.'); dot != std::string::npos) byExtension_[name.substr(dot + 1)].push_back(at);
  files_.push_back(std::move(file));
}

// One query of Manifest.db: LIKE '%' takes every regular file of the domain.
void CameraRollFiles::ReadManifestDb(backup::CFileListDB& index) {
  backup::FileRecordList records;
  index.FindFileRecords("", kCameraRollDomain, records, false);
  for (const auto& record : records) {
    Add({record->relativePath, record->storedPath, record->birth, record->lastModified, record->lastStatusChange,
         record->size});
  }
}

// The index's mbdb lookup matches a literal suffix, which cannot list a
// whole domain; the manifest's records carry the times and sizes besides.
void CameraRollFiles::ReadManifestMbdb(backup::CFileListDB& index) {
  const backup::MbdbIndex* manifest = index.Mbdb();
  if (manifest == nullptr) return;
  for (const backup::MbdbRecord& record : manifest->Records()) {
    if (!record.domain || !record.path || record.path->empty() || !record.IsRegularFile()) continue;
    if (!platform::EqualsIgnoringAsciiCase(*record.domain, kCameraRollDomain)) continue;
    const std::string fileID = backup::MbdbFileId(*record.domain, *record.path);
    // The manifest holds no status-change time of its own.
    Add({*record.path, index.StoredPathOf(fileID), record.created, record.lastModified, 0,
         static_cast<std::int64_t>(std::min<std::uint64_t>(record.size, INT64_MAX))});
  }
}

// A folder keeps no birth times: a file's modification time is the nearest
// date it has (a copy that keeps times keeps the phone's).
void CameraRollFiles::ReadFolder(backup::CFileListDB& index) {
  const fs::path base = index.BackupFolder();
  for (const char* root : kFolderModeRoots) {
    const auto found = platform::FindIgnoringCase(base, root);
    if (found && platform::IsFolder(*found)) {
      Walk(found->string(), found->lexically_relative(base).generic_string(), 0);
    }
  }
}

void CameraRollFiles::Walk(const std::string& folder, const std::string& relative, int depth) {
  if (depth > kMaxFolderDepth) return;
  for (const platform::FolderEntry& entry : platform::ListFolder(folder)) {
    const fs::path full = fs::path(folder) / entry.name;
    const std::string path = relative + "/" + entry.name;
    if (entry.isFolder) {
      Walk(full.string(), path, depth + 1);
    } else if (entry.isFile) {
      const std::int64_t modified = ModifiedSeconds(full);
      Add({path, full.string(), modified, modified, 0, SizeOnDisk(full)});
    }
  }
}

}  // namespace readers
