#include "comm32/posix/UucpLock.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

namespace {

enum class TOwner { None, Living, Gone, Unknown };

// The lock file's contents as this process writes them.
std::string OwnText() {
  char text[16];
  std::snprintf(text, sizeof text, "%10ld\n", static_cast<long>(::getpid()));
  return text;
}

std::string ReadSmallFile(const std::string& path, int& error) {
  error = 0;
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    error = errno;
    return std::string();
  }
  char text[64];
  const ssize_t n = ::read(fd, text, sizeof text);
  if (n < 0) error = errno;
  ::close(fd);
  return n > 0 ? std::string(text, static_cast<size_t>(n)) : std::string();
}

// Who holds the lock file at `path`. A file that names no process (empty,
// not a number, not readable) counts as held by someone unknown: it may be
// another program's lock, still being written.
TOwner OwnerOf(const std::string& path) {
  int error = 0;
  const std::string text = ReadSmallFile(path, error);
  if (error == ENOENT) return TOwner::None;
  if (error || text.empty()) return TOwner::Unknown;
  char* end = nullptr;
  errno = 0;
  const long pid = std::strtol(text.c_str(), &end, 10);
  if (end == text.c_str() || errno || pid <= 0 || pid > INT_MAX) return TOwner::Unknown;
  for (; *end; ++end)
    if (*end != ' ' && *end != '\n') return TOwner::Unknown;
  if (pid == ::getpid()) return TOwner::Gone;  // left by an earlier process of this id
  if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM) return TOwner::Living;
  return TOwner::Gone;
}

// False when a living or unknown process holds `path`; a stale lock is removed.
bool ClearStale(const std::string& path) {
  switch (OwnerOf(path)) {
    case TOwner::None:
      return true;
    case TOwner::Gone:
      ::unlink(path.c_str());
      return true;
    default:
      return false;
  }
}

}  // namespace

std::string TUucpLock::FileName(const std::string& device) {
  std::string name = device;
  if (name.rfind("/dev/", 0) == 0)
    name.erase(0, 5);
  else if (const size_t slash = name.rfind('/'); slash != std::string::npos)
    name.erase(0, slash + 1);
  for (char& c : name)
    if (c == '/') c = '_';
  return "LCK.." + name;
}

TUucpLock::TResult TUucpLock::Acquire(const std::string& directory, const std::string& device) {
  Release();
  std::string target = device;
  if (char* real = ::realpath(device.c_str(), nullptr)) {
    target = real;
    std::free(real);
  }
  const std::string path = directory + "/" + FileName(target);
  // A program that was given the link's name locks under that name.
  const std::string linkPath = directory + "/" + FileName(device);
  if (linkPath != path && !ClearStale(linkPath)) return TResult::Held;

  const std::string text = OwnText();
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (!ClearStale(path)) return TResult::Held;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
      if (errno == EEXIST) continue;  // another program was quicker: look again
      return TResult::Unlocked;
    }
    const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::fchmod(fd, 0644);  // readable by all, whatever the umask
    if (::close(fd) != 0 || !written) {
      ::unlink(path.c_str());
      return TResult::Unlocked;
    }
    path_ = path;
    return TResult::Taken;
  }
  return TResult::Held;
}

void TUucpLock::Release() {
  if (path_.empty()) return;
  // Only our own: a lock another program took after wrongly finding ours
  // stale stays.
  int error = 0;
  if (ReadSmallFile(path_, error) == OwnText()) ::unlink(path_.c_str());
  path_.clear();
}
