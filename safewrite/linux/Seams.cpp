// The tests' build of the Linux primitives' system calls: each counts, and
// fails in its place when a test asks (-1, or null, with errno set); a test
// may also take away unnamed files or the exchange of two names.
#include "linux/Os.h"

#include <cerrno>
#include <cstdarg>
#include <fcntl.h>

namespace safe_write {
inline namespace TLP_SAFE_WRITE_BUILD {
namespace sys {
namespace {

using seams::Injected;

// The mode `open` and `openat` take only with a new file, as the C library
// reads it.
mode_t ModeOf(int flags, va_list args) {
  return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE ? va_arg(args, mode_t) : 0;
}

int Open(const char *path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const mode_t mode = ModeOf(flags, args);
  va_end(args);
  return Injected("open") ? -1 : kOs.open(path, flags, mode);
}

int Openat(int dir, const char *path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const mode_t mode = ModeOf(flags, args);
  va_end(args);
  return Injected("openat") ? -1 : kOs.openat(dir, path, flags, mode);
}

// Without unnamed files: O_TMPFILE refused, uncounted.
int OpenatNoUnnamed(int dir, const char *path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const mode_t mode = ModeOf(flags, args);
  va_end(args);
  if ((flags & O_TMPFILE) == O_TMPFILE)
    return errno = EOPNOTSUPP, -1;
  return Openat(dir, path, flags, mode);
}

int Fcntl(int fd, int command, ...) {
  va_list args;
  va_start(args, command);
  void *argument = va_arg(args, void *); // an int or a pointer, read as the C library does
  va_end(args);
  return Injected("fcntl") ? -1 : kOs.fcntl(fd, command, argument);
}

int Renameat2(int fromDir, const char *from, int toDir, const char *to, unsigned flags) {
  return Injected("renameat2") ? -1 : kOs.renameat2(fromDir, from, toDir, to, flags);
}

} // namespace

Os os = {
    Open,
    Openat,
    [](int fromDir, const char *from, int toDir, const char *to, int flags) {
      return Injected("linkat") ? -1 : kOs.linkat(fromDir, from, toDir, to, flags);
    },
    [](int fromDir, const char *from, int toDir, const char *to) {
      return Injected("renameat") ? -1 : kOs.renameat(fromDir, from, toDir, to);
    },
    Renameat2,
    [](int dir, const char *path, int flags) { return Injected("unlinkat") ? -1 : kOs.unlinkat(dir, path, flags); },
    [](int fd, struct stat *st) { return Injected("fstat") ? -1 : kOs.fstat(fd, st); },
    [](int dir, const char *path, struct stat *st, int flags) {
      return Injected("fstatat") ? -1 : kOs.fstatat(dir, path, st, flags);
    },
    [](const char *path, struct stat *st) { return Injected("stat") ? -1 : kOs.stat(path, st); },
    [](const char *path, char *buffer, size_t size) {
      return Injected("readlink") ? -1 : kOs.readlink(path, buffer, size);
    },
    [](int fd, uid_t owner, gid_t group) { return Injected("fchown") ? -1 : kOs.fchown(fd, owner, group); },
    [](int fd, mode_t mode) { return Injected("fchmod") ? -1 : kOs.fchmod(fd, mode); },
    [](int fd, char *names, size_t size) { return Injected("flistxattr") ? -1 : kOs.flistxattr(fd, names, size); },
    [](int fd, const char *name, void *value, size_t size) {
      return Injected("fgetxattr") ? -1 : kOs.fgetxattr(fd, name, value, size);
    },
    [](int fd, const char *name, const void *value, size_t size, int flags) {
      return Injected("fsetxattr") ? -1 : kOs.fsetxattr(fd, name, value, size, flags);
    },
    [](int fd, const char *name) { return Injected("fremovexattr") ? -1 : kOs.fremovexattr(fd, name); },
    [](int fd, int operation) { return Injected("flock") ? -1 : kOs.flock(fd, operation); },
    Fcntl,
    [](int fd, void *buffer, size_t size, off_t offset) {
      return Injected("pread") ? -1 : kOs.pread(fd, buffer, size, offset);
    },
    [](int fd, const void *buffer, size_t size, off_t offset) {
      return Injected("pwrite") ? -1 : kOs.pwrite(fd, buffer, size, offset);
    },
    [](int fd, off_t size) { return Injected("ftruncate") ? -1 : kOs.ftruncate(fd, size); },
    [](int fd) { return Injected("fsync") ? -1 : kOs.fsync(fd); },
    [](std::FILE *stream) { return Injected("ftello") ? off_t(-1) : kOs.ftello(stream); },
    [](int fd, const char *mode) { return Injected("fdopen") ? nullptr : kOs.fdopen(fd, mode); },
};

} // namespace sys

namespace seams {

// A kernel or file system without unnamed files.
void NoUnnamed(bool on) noexcept { sys::os.openat = on ? sys::OpenatNoUnnamed : sys::Openat; }

// A file system without the exchange of two names (renameat2's one use
// here): refused once counted.
void NoExchange(bool on) noexcept {
  sys::os.renameat2 = sys::Renameat2;
  if (on)
    sys::os.renameat2 = [](int, const char *, int, const char *, unsigned) {
      return Injected("renameat2") ? -1 : (errno = EINVAL, -1);
    };
}

// Linux renames as it always does.
void RenameAsWindows(bool) noexcept {}

} // namespace seams

} // namespace TLP_SAFE_WRITE_BUILD
} // namespace safe_write
