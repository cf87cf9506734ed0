#pragma once
// Writing a file whole or not at all. The new content goes into a new
// temporary file beside the target, made exclusively and never through a
// link; it is flushed to the disk and renamed over the target, and the
// rename is flushed with the folder. A crash, a full disk or a failed
// writer therefore leaves either the old file or the new one, never a
// mixture. A failure seen here removes the temporary file; only a process
// killed while writing leaves one (".<name>.tmp-<process>-<n>").
//
// A target that is itself a symbolic link is refused: a file the program
// writes for itself must not land wherever a link planted in its place
// points. The folders above it are taken as their links lead (the user's own
// layout: a configuration folder kept elsewhere, /home a link on some
// systems), resolved once and then opened without following links.
//
// Threads: any thread. Two writers of one target each write their own
// temporary file; the target ends up holding one of the two contents whole.

#include <filesystem>
#include <functional>
#include <string_view>
#include <system_error>

namespace platform {

// Replaces target's content by bytes (a new file when target does not
// exist; its folder must). Returns an empty error code when target now
// holds exactly bytes. Otherwise target is as it was and the code says why:
//   std::errc::too_many_symbolic_link_levels  target is a link, or a folder
//                                             became one while it was opened
//   std::errc::invalid_argument               target names no file
//   any other code                            the operating system's reason
//       the folder could not be opened or the file made, written, flushed or
//       renamed
// A folder that cannot be flushed after the rename also gives its code,
// though target then already holds the new content.
std::error_code ReplaceFile(const std::filesystem::path& target, std::string_view bytes);

// The same with a content the caller writes itself, for writers that fill a
// file descriptor (libarchive's archive_write_open_fd, say). write is called
// once with the temporary file's descriptor, open for writing at offset 0,
// and returns whether it wrote the whole content. The descriptor stays
// owned here: write must not close it, nor keep it after it returns. A
// false from write gives std::errc::io_error and leaves target as it was;
// write keeps its own reason. An exception from write also leaves target as
// it was, removes the temporary file and passes on.
std::error_code ReplaceFileWith(const std::filesystem::path& target, const std::function<bool(int descriptor)>& write);

// Writes all of bytes to an open file descriptor, going on after short
// writes and interruptions. False when the system refuses (errno says why).
bool WriteAll(int descriptor, std::string_view bytes);

}  // namespace platform
