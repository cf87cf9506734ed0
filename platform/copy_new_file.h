#pragma once
// Copying a file out of a backup into a file that did not exist: the copy of
// a photo, a video or an attachment in an export. The copy can be stopped
// between chunks, so that a user who stops a recovery does not wait for a
// video of several gigabytes. A copy that stops or fails is removed: no file
// cut short stays under a name that looks like a finished copy.
//
// Threads: any thread.

#include <filesystem>
#include <functional>
#include <system_error>

namespace platform {

// Copies source (a regular file, reached through links) to target, which
// is made new: an existing target, a link among them, is never replaced.
// stop is asked before the first chunk and after each one of kCopyChunkBytes;
// it may be empty (never stop). Returns an empty code when target now holds
// the whole of source. Otherwise no target was made, or the one made was
// removed, and the code says why:
//   std::errc::file_exists           target was there already (nothing done)
//   std::errc::operation_canceled    stop said so
//   std::errc::invalid_argument      source is no regular file
//   any other code                   the operating system's reason
std::error_code CopyToNewFile(const std::filesystem::path& source, const std::filesystem::path& target,
                              const std::function<bool()>& stop);

// Between two questions to stop: small enough for a quick stop on a slow
// disk, large enough that asking costs nothing next to the copy.
inline constexpr std::size_t kCopyChunkBytes = 1 << 20;

}  // namespace platform
