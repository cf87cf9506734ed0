// pack_skin_archive <archive.7z> <folder>: packs the files below folder into
// a 7z archive, the form in which the chat site's assets ship in the skin
// folder. Run by the build; entries are sorted and carry a fixed time, so
// the same assets give the same archive. The archive is written beside the
// target and moved over it at the end, so a failed run leaves no half file.
#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "platform/replace_file.h"

namespace {

namespace fs = std::filesystem;

struct WriterDeleter {
  void operator()(archive* writer) const { archive_write_free(writer); }
};
struct EntryDeleter {
  void operator()(archive_entry* entry) const { archive_entry_free(entry); }
};

// 2016-03-24, the assets' version stamp in the chat page's style link.
constexpr std::time_t kEntryTime = 1458787378;

bool AddEntry(archive* writer, const fs::path& folder, const fs::path& file) {
  const std::string name = fs::relative(file, folder).generic_string();
  std::unique_ptr<archive_entry, EntryDeleter> entry(archive_entry_new());
  archive_entry_set_pathname_utf8(entry.get(), name.c_str());
  archive_entry_set_mtime(entry.get(), kEntryTime, 0);
  if (fs::is_directory(fs::symlink_status(file))) {
    archive_entry_set_filetype(entry.get(), AE_IFDIR);
    archive_entry_set_perm(entry.get(), 0755);
    return archive_write_header(writer, entry.get()) == ARCHIVE_OK;
  }
  std::ifstream in(file, std::ios::binary);
  const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return false;
  archive_entry_set_filetype(entry.get(), AE_IFREG);
  archive_entry_set_perm(entry.get(), 0644);
  archive_entry_set_size(entry.get(), static_cast<la_int64_t>(bytes.size()));
  if (archive_write_header(writer, entry.get()) != ARCHIVE_OK) return false;
  return bytes.empty() ||
         archive_write_data(writer, bytes.data(), bytes.size()) == static_cast<la_ssize_t>(bytes.size());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: pack_skin_archive <archive.7z> <folder>\n");
    return 2;
  }
  const fs::path target = argv[1];
  const fs::path folder = argv[2];
  std::error_code ec;
  std::vector<fs::path> files;
  for (auto it = fs::recursive_directory_iterator(folder, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    // Only files and folders: a link in the source tree is not shipped.
    const fs::file_status status = it->symlink_status(ec);
    if (fs::is_regular_file(status) || fs::is_directory(status)) files.push_back(it->path());
  }
  if (ec || files.empty()) {
    std::fprintf(stderr, "pack_skin_archive: cannot list %s\n", folder.c_str());
    return 1;
  }
  std::sort(files.begin(), files.end());

  fs::create_directories(target.parent_path(), ec);
  std::unique_ptr<archive, WriterDeleter> writer(archive_write_new());
  const std::error_code error = platform::ReplaceFileWith(target, [&](int descriptor) {
    bool ok = archive_write_set_format_7zip(writer.get()) == ARCHIVE_OK &&
              archive_write_open_fd(writer.get(), descriptor) == ARCHIVE_OK;
    for (const fs::path& file : files) ok = ok && AddEntry(writer.get(), folder, file);
    return archive_write_close(writer.get()) == ARCHIVE_OK && ok;
  });
  if (error) {
    const char* reason = archive_error_string(writer.get());
    std::fprintf(stderr, "pack_skin_archive: cannot write %s: %s\n", target.c_str(),
                 reason != nullptr ? reason : error.message().c_str());
    return 1;
  }
  return 0;
}
