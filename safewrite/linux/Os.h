// The system calls of the Linux primitives, by name: in the product the
// system's own (kOs); the tests' build replaces an entry to make it fail,
// or to be a kernel without unnamed files or without the exchange of two
// names (linux/Seams.cpp). The calls that undo or let go (close, an unlock,
// a swap back, a tidy-up's checks) and the questions whose failure has a
// safe answer are made directly: a test fails what a write does, and counts
// on its undoing.
#pragma once

#include "System.h"

#include <cstdio>
#include <sys/stat.h>
#include <sys/types.h>

namespace safe_write {
inline namespace TLP_SAFE_WRITE_BUILD {
namespace sys {

struct Os {
  int (*open)(const char *path, int flags, ...);
  int (*openat)(int dir, const char *path, int flags, ...); // O_TMPFILE among them
  int (*linkat)(int fromDir, const char *from, int toDir, const char *to, int flags);
  int (*renameat)(int fromDir, const char *from, int toDir, const char *to);
  int (*renameat2)(int fromDir, const char *from, int toDir, const char *to, unsigned flags); // the exchange
  int (*unlinkat)(int dir, const char *path, int flags);
  int (*fstat)(int fd, struct stat *st);
  int (*fstatat)(int dir, const char *path, struct stat *st, int flags);
  int (*stat)(const char *path, struct stat *st);
  ssize_t (*readlink)(const char *path, char *buffer, size_t size);
  int (*fchown)(int fd, uid_t owner, gid_t group);
  int (*fchmod)(int fd, mode_t mode);
  ssize_t (*flistxattr)(int fd, char *names, size_t size);
  ssize_t (*fgetxattr)(int fd, const char *name, void *value, size_t size);
  int (*fsetxattr)(int fd, const char *name, const void *value, size_t size, int flags);
  int (*fremovexattr)(int fd, const char *name);
  int (*flock)(int fd, int operation);
  int (*fcntl)(int fd, int command, ...); // the lock of a byte, a second descriptor
  ssize_t (*pread)(int fd, void *buffer, size_t size, off_t offset);
  ssize_t (*pwrite)(int fd, const void *buffer, size_t size, off_t offset);
  int (*ftruncate)(int fd, off_t size);
  int (*fsync)(int fd);
  off_t (*ftello)(std::FILE *stream);
  std::FILE *(*fdopen)(int fd, const char *mode);
};

} // namespace sys
} // namespace TLP_SAFE_WRITE_BUILD
} // namespace safe_write
