#include "recovery/chat_package.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <set>
#include <system_error>

#include <archive.h>
#include <archive_entry.h>

#include "backup/file_list_db.h"
#include "platform/fs.h"
#include "platform/replace_file.h"

namespace recovery {
namespace {

namespace fs = std::filesystem;

struct WriterDeleter {
  void operator()(archive* writer) const { archive_write_free(writer); }
};
struct EntryDeleter {
  void operator()(archive_entry* entry) const { archive_entry_free(entry); }
};

// Feeds one archive and remembers the folders already in it.
class PackageWriter {
 public:
  // Writes to the open file descriptor, which stays the caller's.
  bool Open(int descriptor) {
    writer_.reset(archive_write_new());
    return writer_ != nullptr && archive_write_set_format_7zip(writer_.get()) == ARCHIVE_OK &&
           archive_write_open_fd(writer_.get(), descriptor) == ARCHIVE_OK;
  }

  // Adds name (with '/' separators) and every folder above it.
  bool AddFolder(const std::string& name) {
    if (name.empty() || folders_.count(name) != 0) return true;
    const std::size_t slash = name.rfind('/');
    if (slash != std::string::npos && !AddFolder(name.substr(0, slash))) return false;
    std::unique_ptr<archive_entry, EntryDeleter> entry(archive_entry_new());
    archive_entry_set_pathname_utf8(entry.get(), name.c_str());
    archive_entry_set_filetype(entry.get(), AE_IFDIR);
    archive_entry_set_perm(entry.get(), 0755);
    if (archive_write_header(writer_.get(), entry.get()) != ARCHIVE_OK) return Fail();
    folders_.insert(name);
    return true;
  }

  // Streams source into the archive as name. Returns 1 when added, 0 when
  // source could not be opened (skipped), -1 when the archive failed.
  int AddFile(const fs::path& source, const std::string& name) {
    if (!platform::IsRegularFile(source)) return 0;
    std::error_code ec;
    const std::uintmax_t size = fs::file_size(source, ec);
    std::ifstream in(source, std::ios::binary);
    if (ec || !in) return 0;
    const std::size_t slash = name.rfind('/');
    if (slash != std::string::npos && !AddFolder(name.substr(0, slash))) return -1;
    std::unique_ptr<archive_entry, EntryDeleter> entry(archive_entry_new());
    archive_entry_set_pathname_utf8(entry.get(), name.c_str());
    archive_entry_set_filetype(entry.get(), AE_IFREG);
    archive_entry_set_perm(entry.get(), 0644);
    archive_entry_set_size(entry.get(), static_cast<la_int64_t>(size));
    const auto modified = fs::last_write_time(source, ec);
    if (!ec) {
      const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
          std::chrono::file_clock::to_sys(modified).time_since_epoch());
      archive_entry_set_mtime(entry.get(), static_cast<time_t>(seconds.count()), 0);
    }
    if (archive_write_header(writer_.get(), entry.get()) != ARCHIVE_OK) {
      Fail();
      return -1;
    }
    std::array<char, 1 << 16> buffer{};
    std::uintmax_t copied = 0;
    while (copied < size) {
      const std::uintmax_t want = std::min<std::uintmax_t>(buffer.size(), size - copied);
      in.read(buffer.data(), static_cast<std::streamsize>(want));
      const std::streamsize got = in.gcount();
      if (got <= 0) break;
      if (archive_write_data(writer_.get(), buffer.data(), static_cast<std::size_t>(got)) != got) {
        Fail();
        return -1;
      }
      copied += static_cast<std::uintmax_t>(got);
    }
    // The entry's header already promised size bytes: a file that shrank or
    // could not be read to its end would leave a short entry, so the whole
    // archive counts as failed rather than silently holding a cut copy.
    if (copied != size) {
      Fail();
      return -1;
    }
    return 1;
  }

  bool Close() {
    if (writer_ == nullptr) return false;
    const bool closed = archive_write_close(writer_.get()) == ARCHIVE_OK;
    writer_.reset();
    return closed && !failed_;
  }

  std::string Error() const {
    return writer_ != nullptr && archive_error_string(writer_.get()) != nullptr
               ? archive_error_string(writer_.get())
               : std::string("the archive could not be written");
  }

 private:
  bool Fail() {
    failed_ = true;
    return false;
  }

  std::unique_ptr<archive, WriterDeleter> writer_;
  std::set<std::string> folders_;
  bool failed_ = false;
};

void SetProgress(exporting::IExportProgress* progress, float percent) {
  if (progress != nullptr) progress->SetProgress(percent);
}
void AddProgress(exporting::IExportProgress* progress, float delta) {
  if (progress != nullptr) progress->AddProgress(delta);
}

std::string BackupFolderName(std::size_t number) {
  char name[32];
  std::snprintf(name, sizeof name, "backup/bak%02zu", number);
  return name;
}

// A stored path's place below the backup folder with '/' separators, or
// empty when it is not below it.
std::string RelativeName(const fs::path& stored, const fs::path& backupFolder) {
  const fs::path relative = stored.lexically_normal().lexically_relative(backupFolder.lexically_normal());
  if (relative.empty() || relative.is_absolute()) return {};
  std::string name;
  for (const fs::path& part : relative) {
    const std::string text = part.string();
    if (text == ".." || text == "." || text.empty()) return {};
    name += (name.empty() ? "" : "/") + text;
  }
  return name;
}

bool IsInside(const fs::path& path, const fs::path& folder) {
  std::error_code ec;
  const fs::path inner = fs::weakly_canonical(path, ec);
  if (ec) return false;
  const fs::path outer = fs::weakly_canonical(folder, ec);
  if (ec || outer.empty()) return false;
  auto o = outer.begin();
  auto i = inner.begin();
  for (; o != outer.end(); ++o, ++i) {
    if (o->empty()) continue;  // a trailing separator
    if (i == inner.end() || *i != *o) return false;
  }
  return true;
}

struct RunState {
  PackageWriter writer;
  ChatPackageResult result;
  bool broken = false;
};

// The files of one domain of an opened backup; share: its progress share.
void PackDomain(RunState& state, backup::CFileListDB& index, const std::string& domain, const std::string& folder,
                float share, exporting::IExportProgress* progress) {
  std::vector<std::string> paths;
  index.FindFilePaths("%", domain, paths, true, backup::kNoLimit);
  if (paths.empty()) {
    AddProgress(progress, share);
    return;
  }
  const float step = share / static_cast<float>(paths.size());
  for (const std::string& stored : paths) {
    if (state.broken) return;
    const std::string relative = RelativeName(stored, index.BackupFolder());
    const int added = relative.empty() ? 0 : state.writer.AddFile(stored, folder + "/" + relative);
    if (added < 0) state.broken = true;
    (added > 0 ? state.result.filesPacked : state.result.filesSkipped) += added >= 0 ? 1 : 0;
    AddProgress(progress, step);
  }
}

void PackBackup(RunState& state, ChatPackageApp app, const fs::path& backup, std::size_t number, float step1,
                float step2, exporting::IExportProgress* progress) {
  backup::CFileListDB index;
  if (!index.Open(backup.string(), -1).Ok()) {
    AddProgress(progress, step1 + step2);
    return;
  }
  const std::string folder = BackupFolderName(number);
  if (!state.writer.AddFolder(folder)) {
    state.broken = true;
    return;
  }
  for (const char* manifest : {"Manifest.db", "Manifest.mbdb"}) {
    const auto source = platform::FindIgnoringCase(backup, manifest);
    if (!source) continue;
    const int added = state.writer.AddFile(*source, folder + "/" + manifest);
    if (added < 0) {
      state.broken = true;
      return;
    }
    (added > 0 ? state.result.filesPacked : state.result.filesSkipped) += 1;
  }
  AddProgress(progress, step1);
  const std::vector<std::string> domains = ChatPackageDomains(app);
  for (const std::string& domain : domains) {
    PackDomain(state, index, domain, folder, step2 / static_cast<float>(domains.size()), progress);
    if (state.broken) return;
  }
  ++state.result.backupsPacked;
}

// Packs every backup into an archive written to descriptor (which stays the
// caller's). Returns whether the whole archive was written; otherwise
// writeError says why.
bool PackArchive(RunState& state, ChatPackageApp app, const std::vector<fs::path>& backups, int descriptor,
                 exporting::IExportProgress* progress, std::string& writeError) {
  if (!state.writer.Open(descriptor)) {
    writeError = state.writer.Error();
    return false;
  }
  SetProgress(progress, 2);
  const float count = static_cast<float>(backups.size()) + 0.0001f;
  const float step1 = 8 / count;
  const float step2 = 80 / count;
  state.broken = !state.writer.AddFolder("backup");
  for (std::size_t i = 0; i < backups.size() && !state.broken; ++i) {
    PackBackup(state, app, backups[i], i + 1, step1, step2, progress);
  }
  SetProgress(progress, 90);
  writeError = state.writer.Error();
  const bool closed = state.writer.Close();
  return !state.broken && closed;
}

}  // namespace

std::vector<std::string> ChatPackageDomains(ChatPackageApp app) {
  if (app == ChatPackageApp::kWeChat) return {"AppDomain-com.tencent.xin"};
  return {"AppDomain-com.tencent.mqq", "AppDomain-com.tencent.tim"};
}

std::string ChatPackageFileName(ChatPackageApp app) { return app == ChatPackageApp::kWeChat ? "wx.7z" : "QQ.7z"; }

ChatPackageResult RunChatPackage(ChatPackageApp app, const std::vector<fs::path>& backups,
                                 const fs::path& archivePath, exporting::IExportProgress* progress) {
  RunState state;
  for (const fs::path& backup : backups) {
    if (IsInside(archivePath, backup)) {
      state.result.error = "the archive would be written inside the backup " + backup.string();
      SetProgress(progress, 100);
      return state.result;
    }
  }
  // The archive is filled in a new file beside archivePath and put in its
  // place only once it is whole (platform/replace_file.h).
  enum class Stage { kNotStarted, kFailed, kPacked };
  Stage stage = Stage::kNotStarted;
  std::string writeError;
  const std::error_code error = platform::ReplaceFileWith(archivePath, [&](int descriptor) {
    const bool packed = PackArchive(state, app, backups, descriptor, progress, writeError);
    stage = packed ? Stage::kPacked : Stage::kFailed;
    return packed;
  });
  state.result.written = !error;
  if (error) {
    const std::string reason = stage == Stage::kFailed ? writeError : error.message();
    state.result.error =
        (stage == Stage::kPacked ? "cannot replace " : "cannot write ") + archivePath.string() + ": " + reason;
  }
  SetProgress(progress, 100);
  return state.result;
}

}  // namespace recovery
