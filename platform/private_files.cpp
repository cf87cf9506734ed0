#include "platform/private_files.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <string_view>

#include "platform/replace_file.h"

extern char** environ;

namespace platform {

bool RemoveWhenProcessEnds(const fs::path& folder) {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return false;
  // The watcher's standard input is the pipe's read end; its write end stays
  // here only (close-on-exec), so the read ends when this process does.
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attributes);
  posix_spawn_file_actions_adddup2(&actions, ends[0], STDIN_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  // Its own session: a Ctrl-C that stops this run must not stop the watcher.
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK);
  const std::string path = folder.string();
  char shell[] = "/bin/sh";
  char dashC[] = "-c";
  char script[] = "cat >/dev/null; exec rm -rf -- \"$1\"";
  char name[] = "velmora-cleanup";
  std::string argument = path;
  char* argv[] = {shell, dashC, script, name, argument.data(), nullptr};
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, shell, &actions, &attributes, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  ::close(ends[0]);
  if (spawned != 0) {
    ::close(ends[1]);
    return false;
  }
  // ends[1] stays open for the rest of the process's life on purpose.
  return true;
}

PrivateFileWriter::PrivateFileWriter(const fs::path& path) {
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
}

PrivateFileWriter::~PrivateFileWriter() {
  if (fd_ >= 0) ::close(fd_);
}

bool PrivateFileWriter::Write(const std::uint8_t* bytes, std::size_t size) {
  if (!Ok()) return false;
  if (!WriteAll(fd_, std::string_view(reinterpret_cast<const char*>(bytes), size))) failed_ = true;
  return !failed_;
}

bool PrivateFileWriter::Truncate(std::uint64_t size) {
  if (!Ok()) return false;
  if (::ftruncate(fd_, static_cast<off_t>(size)) != 0) failed_ = true;
  return !failed_;
}

bool PrivateFileWriter::Close() {
  if (fd_ < 0) return false;
  if (::close(fd_) != 0) failed_ = true;
  fd_ = -1;
  return !failed_;
}

bool ReadSecretLineFromTerminal(const char* prompt, std::string& line) {
  // Only a person at the terminal is asked: a run fed from a pipe or a file
  // never stops to wait for one.
  if (::isatty(STDIN_FILENO) == 0) return false;
  const int fd = ::open("/dev/tty", O_RDWR | O_CLOEXEC);
  if (fd < 0) return false;
  termios saved{};
  const bool isTerminal = ::tcgetattr(fd, &saved) == 0;
  if (!isTerminal) {
    ::close(fd);
    return false;
  }
  termios quiet = saved;
  quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  quiet.c_lflag |= ECHONL;
  ::tcsetattr(fd, TCSAFLUSH, &quiet);
  [[maybe_unused]] const ssize_t shown = ::write(fd, prompt, std::char_traits<char>::length(prompt));
  line.clear();
  // Room for any password typed, so that growing never leaves copies behind.
  line.reserve(1024);
  char c = 0;
  while (true) {
    const ssize_t got = ::read(fd, &c, 1);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0 || c == '\n' || c == '\r') break;
    line.push_back(c);
  }
  c = 0;
  ::tcsetattr(fd, TCSAFLUSH, &saved);
  ::close(fd);
  return true;
}

}  // namespace platform
