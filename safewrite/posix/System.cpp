// The safe-write primitives on POSIX. The folder of a file replaced by a
// rename is held open from the start, and every later step names files
// relative to it, so a folder swapped for a link meanwhile changes nothing.
#include "System.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace safe_write {
inline namespace TLP_SAFE_WRITE_BUILD {
namespace sys {

namespace {

int Fd(const File &file) { return static_cast<int>(file.handle); }

// A system call's answer, or the failure a test injects in its place (-1,
// errno set); the product never injects.
template <class F> auto Sys(const char *name, F &&call) -> decltype(call()) {
  if (seams::Injected(name))
    return -1;
  return call();
}

bool SameFile(const struct stat &a, const struct stat &b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// `path` as its folder and its name in that folder.
void Split(const std::string &path, std::string *folder, std::string *name) {
  const size_t slash = LastSeparator(path);
  *folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  *name = path.substr(slash == std::string::npos ? 0 : slash + 1);
}

// A name no other write uses: the file's own name, cut to leave room, and
// random letters.
std::string TemporaryName(const std::string &base) {
  static thread_local std::minstd_rand random(std::random_device{}() ^ static_cast<unsigned>(getpid()));
  static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  std::string name = "." + base.substr(0, 32) + ".";
  for (int i = 0; i < 8; ++i)
    name += kLetters[random() % (sizeof kLetters - 1)];
  return name + ".tmp";
}

// The names of the extended attributes (ACLs among them) of `fd`, each
// followed by a NUL; empty where the file system keeps none.
int ListAttributes(int fd, std::string *names) {
  for (;;) {
    const ssize_t size = Sys("flistxattr", [&] { return flistxattr(fd, nullptr, 0); });
    if (size < 0)
      return errno == ENOTSUP ? 0 : errno;
    names->assign(static_cast<size_t>(size), '\0');
    const ssize_t got = size == 0 ? 0 : Sys("flistxattr", [&] { return flistxattr(fd, &(*names)[0], names->size()); });
    if (got >= 0) {
      names->resize(static_cast<size_t>(got));
      return 0;
    }
    if (errno != ERANGE) // grown meanwhile: ask again
      return errno;
  }
}

// Gives `to` exactly the extended attributes of `from`.
int CarryAttributes(int from, int to) {
  std::string names, own, value;
  if (int e = ListAttributes(from, &names))
    return e;
  for (size_t at = 0; at < names.size(); at += std::strlen(&names[at]) + 1) {
    const char *name = &names[at];
    const ssize_t size = Sys("fgetxattr", [&] { return fgetxattr(from, name, nullptr, 0); });
    if (size < 0)
      return errno;
    value.assign(static_cast<size_t>(size), '\0');
    const ssize_t got = size == 0 ? 0 : fgetxattr(from, name, &value[0], value.size());
    if (got < 0 || Sys("fsetxattr", [&] { return fsetxattr(to, name, value.data(), static_cast<size_t>(got), 0); }) != 0)
      return errno;
  }
  // Whatever the new file got of its own (a folder's default ACL) goes.
  if (int e = ListAttributes(to, &own))
    return e;
  for (size_t at = 0; at < own.size(); at += std::strlen(&own[at]) + 1) {
    const std::string name(&own[at]);
    if (names.find(name + '\0') == std::string::npos &&
        Sys("fremovexattr", [&] { return fremovexattr(to, name.c_str()); }) != 0)
      return errno;
  }
  return 0;
}

int Reopened(int fd, int flags) noexcept {
  char self[32];
  std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
  return open(self, flags | O_CLOEXEC | O_NOCTTY);
}

} // namespace

int OpenExisting(const std::string &path, File *file, bool *readable) noexcept {
  // For writing only, without waiting: a pipe with no reader answers at
  // once, and this process never becomes a pipe's reader itself.
  int fd = Sys("open", [&] { return open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC); });
  if (fd < 0)
    return errno;
  const int flags = Sys("fcntl", [&] { return fcntl(fd, F_GETFL); });
  if (flags != -1)
    fcntl(fd, F_SETFL, flags & ~O_NONBLOCK); // a slow reader is waited for
  struct stat st;
  *readable = false;
  if (Sys("fstat", [&] { return fstat(fd, &st); }) == 0 && S_ISREG(st.st_mode)) {
    // The same file again, for reading too, where this user may read it.
    const int both = Sys("open", [&] { return Reopened(fd, O_RDWR); });
    struct stat again;
    if (both >= 0 && Sys("fstat", [&] { return fstat(both, &again); }) == 0 && SameFile(st, again)) {
      close(fd);
      fd = both;
      *readable = true;
    } else if (both >= 0) {
      close(both);
    }
  }
  file->handle = fd;
  return 0;
}

int CreateNew(const std::string &path, bool ownerOnly, File *file) {
  const int flags = O_RDWR | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC;
  const mode_t mode = ownerOnly ? 0600 : 0666;
  int fd = open(path.c_str(), flags, mode);
  // A dangling link: its target is made, as a plain open would.
  if (fd < 0 && errno == EEXIST) {
    const std::string target = FollowLinks(path);
    if (target != path)
      fd = open(target.c_str(), flags, mode);
    else
      errno = EEXIST;
  }
  if (fd < 0)
    return errno;
  file->handle = fd;
  return 0;
}

void RemoveCreated(const std::string &path, const File &file) {
  const std::string name = FollowLinks(path);
  struct stat opened, named;
  if (fstat(Fd(file), &opened) == 0 && lstat(name.c_str(), &named) == 0 && SameFile(opened, named))
    unlink(name.c_str());
}

int Inspect(const File &file, Facts *facts) {
  struct stat st;
  if (Sys("fstat", [&] { return fstat(Fd(file), &st); }) != 0)
    return errno;
  facts->regular = S_ISREG(st.st_mode);
  facts->replaceable = st.st_nlink == 1;
  facts->size = static_cast<uint64_t>(st.st_size);
  return 0;
}

int MakeSibling(const std::string &path, const File &old, Sibling *sibling) {
  std::string folder;
  Split(FollowLinks(path), &folder, &sibling->target);
  const int dir = Sys("open", [&] { return open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
  if (dir < 0)
    return errno;
  sibling->folder.handle = dir;
  struct stat st, named;
  if (Sys("fstat", [&] { return fstat(Fd(old), &st); }) != 0)
    return errno;
  if (Sys("fstatat", [&] { return fstatat(dir, sibling->target.c_str(), &named, AT_SYMLINK_NOFOLLOW); }) != 0)
    return errno;
  if (!SameFile(st, named))
    return kNameChanged;
  // No name holds the new file until it is complete, where the system
  // allows; elsewhere a name of its own, made only where none stands.
  int fd = Sys("openat", [&] { return openat(dir, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600); });
  for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
    const std::string name = TemporaryName(sibling->target);
    fd = Sys("openat", [&] { return openat(dir, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600); });
    if (fd >= 0)
      sibling->temporary = name;
    else if (errno != EEXIST)
      return errno;
  }
  if (fd < 0)
    return EEXIST;
  sibling->file.handle = fd;
  // Every fact, or the old file is written in place instead.
  if (Sys("fchown", [&] { return fchown(fd, st.st_uid, st.st_gid); }) != 0 ||
      Sys("fchmod", [&] { return fchmod(fd, st.st_mode & 07777); }) != 0)
    return errno;
  return CarryAttributes(Fd(old), fd);
}

namespace {

// Holds the folder's lock for one replace: writers of ours that replace in
// the same folder at once take turns, so that an exchange, its check and a
// swap back are never interleaved with another's.
class FolderLock {
public:
  explicit FolderLock(int dir) : dir_(dir) {
    while (flock(dir_, LOCK_EX) != 0 && errno == EINTR) {
    }
  }
  ~FolderLock() { flock(dir_, LOCK_UN); }
  FolderLock(const FolderLock &) = delete;
  FolderLock &operator=(const FolderLock &) = delete;

private:
  int dir_;
};

int ReplaceLocked(Sibling *sibling, const File &old) {
  const int dir = Fd(sibling->folder), fd = Fd(sibling->file);
  for (int attempt = 0; sibling->temporary.empty(); ++attempt) {
    const std::string name = TemporaryName(sibling->target);
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    if (Sys("linkat", [&] { return linkat(AT_FDCWD, self.c_str(), dir, name.c_str(), AT_SYMLINK_FOLLOW); }) == 0)
      sibling->temporary = name;
    else if (errno != EEXIST || attempt == 100)
      return errno;
  }
  struct stat was, ours, named;
  if (Sys("fstat", [&] { return fstat(Fd(old), &was); }) != 0 || fstat(fd, &ours) != 0)
    return errno;
  const char *temporary = sibling->temporary.c_str(), *target = sibling->target.c_str();
  // Exchanged, then checked: what came out of the name must be the file
  // opened at the start; anything else is swapped back, left as found. (Only
  // that side: the name holds ours the moment the exchange is done, and
  // whatever another writer does after it is that writer's to answer for.)
  if (Sys("renameat2", [&] {
        if (seams::NoExchange())
          return errno = EINVAL, -1L;
        return syscall(SYS_renameat2, dir, temporary, dir, target, 2 /* RENAME_EXCHANGE */);
      }) == 0) {
    struct stat out {};
    if (fstatat(dir, temporary, &out, AT_SYMLINK_NOFOLLOW) != 0 || !SameFile(out, was)) {
      syscall(SYS_renameat2, dir, temporary, dir, target, 2);
      return kNameChanged;
    }
    unlinkat(dir, temporary, 0);
    sibling->temporary.clear();
    return 0;
  }
  if (errno != EINVAL && errno != ENOSYS)
    return errno;
  // No exchange in this file system: checked, then renamed.
  if (Sys("fstatat", [&] { return fstatat(dir, target, &named, AT_SYMLINK_NOFOLLOW); }) != 0 || !SameFile(named, was))
    return kNameChanged;
  if (Sys("fstatat", [&] { return fstatat(dir, temporary, &named, AT_SYMLINK_NOFOLLOW); }) != 0 ||
      !SameFile(named, ours))
    return kNameChanged;
  if (Sys("renameat", [&] { return renameat(dir, temporary, dir, target); }) != 0)
    return errno;
  sibling->temporary.clear();
  return 0;
}

} // namespace

int Replace(Sibling *sibling, const File &old) {
  FolderLock lock(Fd(sibling->folder));
  return ReplaceLocked(sibling, old);
}

void DropSibling(Sibling *sibling) {
  struct stat ours, named;
  if (!sibling->temporary.empty() && fstat(Fd(sibling->file), &ours) == 0 &&
      fstatat(Fd(sibling->folder), sibling->temporary.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
      SameFile(ours, named))
    unlinkat(Fd(sibling->folder), sibling->temporary.c_str(), 0);
  sibling->temporary.clear();
  Close(&sibling->file);
  Close(&sibling->folder);
}

int MakeScratch(const std::string &path, File *file) {
  std::string folder, name;
  Split(FollowLinks(path), &folder, &name);
  const char *tmp = std::getenv("TMPDIR");
  for (const std::string &in : {folder, std::string(tmp && *tmp ? tmp : "/tmp")}) {
    int fd = Sys("open", [&] { return open(in.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600); });
    if (fd < 0) {
      // A name for as long as it takes to remove it again.
      std::string pattern = in + "/.tlp-copy.XXXXXX";
      fd = Sys("mkostemp", [&] { return mkostemp(&pattern[0], O_CLOEXEC); });
      if (fd >= 0)
        unlink(pattern.c_str());
    }
    if (fd >= 0) {
      file->handle = fd;
      return 0;
    }
  }
  return errno;
}

int ReadAt(const File &file, uint64_t offset, void *buffer, size_t size, size_t *got) noexcept {
  ssize_t n;
  do
    n = Sys("pread", [&] { return pread(Fd(file), buffer, size, static_cast<off_t>(offset)); });
  while (n < 0 && errno == EINTR);
  if (n < 0)
    return errno;
  *got = static_cast<size_t>(n);
  return 0;
}

int WriteAt(const File &file, uint64_t offset, const void *buffer, size_t size) noexcept {
  const char *at = static_cast<const char *>(buffer);
  while (size > 0) {
    const ssize_t n = Sys("pwrite", [&] { return pwrite(Fd(file), at, size, static_cast<off_t>(offset)); });
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return n < 0 ? errno : EIO;
    at += n, offset += static_cast<uint64_t>(n), size -= static_cast<size_t>(n);
  }
  return 0;
}

int Truncate(const File &file, uint64_t size) noexcept {
  return ftruncate(Fd(file), static_cast<off_t>(size)) == 0 ? 0 : errno;
}

int Position(const File &file, uint64_t *position) noexcept {
  const off_t at = Sys("lseek", [&] { return lseek(Fd(file), 0, SEEK_CUR); });
  if (at < 0)
    return errno;
  *position = static_cast<uint64_t>(at);
  return 0;
}

std::FILE *Stream(const File &file) {
  const int fd = Sys("fcntl", [&] { return fcntl(Fd(file), F_DUPFD_CLOEXEC, 0); });
  if (fd < 0)
    return nullptr;
  lseek(fd, 0, SEEK_SET); // a pipe or device has no position
  std::FILE *stream = seams::Injected("fdopen") ? nullptr : fdopen(fd, "wb");
  if (!stream)
    close(fd);
  return stream;
}

void Close(File *file) {
  if (file->Open())
    close(Fd(*file));
  file->handle = -1;
}

} // namespace sys

size_t LastSeparator(const std::string &path) { return path.find_last_of('/'); }

// Built from what readlink says, so no length limit of the system's
// applies to it.
std::string FollowLinks(const std::string &path) {
  std::string at = path;
  for (int hops = 0; hops < 40; ++hops) { // as many as the system follows
    struct stat st;
    if (lstat(at.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
      return at;
    std::string target(static_cast<size_t>(st.st_size > 0 ? st.st_size : 4096) + 1, '\0');
    const ssize_t n = sys::Sys("readlink", [&] { return readlink(at.c_str(), &target[0], target.size()); });
    if (n <= 0 || static_cast<size_t>(n) >= target.size())
      return at;
    target.resize(static_cast<size_t>(n));
    const size_t slash = at.find_last_of('/');
    at = target[0] == '/' || slash == std::string::npos ? target : at.substr(0, slash + 1) + target;
  }
  return at;
}

} // namespace TLP_SAFE_WRITE_BUILD
} // namespace safe_write
