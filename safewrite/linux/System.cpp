// The safe-write primitives on Linux. The folder of a file replaced by a
// rename is held open from the start, and every later step names files
// relative to it, so a folder swapped for a link meanwhile changes nothing.
#include "linux/Os.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace safe_write {
inline namespace TLP_SAFE_WRITE_BUILD {
namespace sys {

const Os kOs = {::open,      ::openat,       ::linkat,    ::renameat, ::renameat2, ::unlinkat,
                ::fstat,     ::fstatat,      ::stat,      ::readlink, ::fchown,    ::fchmod,
                ::flistxattr, ::fgetxattr,   ::fsetxattr, ::fremovexattr, ::flock, ::fcntl,
                ::pread,     ::pwrite,       ::ftruncate, ::fsync,    ::ftello,    ::fdopen};

namespace {

int Fd(const File &file) { return static_cast<int>(file.handle); }

bool SameFile(const struct stat &a, const struct stat &b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// `path` as its folder and its name in that folder.
void Split(const std::string &path, std::string *folder, std::string *name) {
  const size_t slash = LastSeparator(path);
  *folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  *name = path.substr(slash == std::string::npos ? 0 : slash + 1);
}

// The names of the extended attributes (ACLs among them) of `fd`, each
// followed by a NUL; empty where the file system keeps none.
int ListAttributes(int fd, std::string *names) {
  for (;;) {
    const ssize_t size = os.flistxattr(fd, nullptr, 0);
    if (size < 0)
      return errno == ENOTSUP ? 0 : errno;
    names->assign(static_cast<size_t>(size), '\0');
    const ssize_t got = size == 0 ? 0 : os.flistxattr(fd, &(*names)[0], names->size());
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
    const ssize_t size = os.fgetxattr(from, name, nullptr, 0);
    if (size < 0)
      return errno;
    value.assign(static_cast<size_t>(size), '\0');
    const ssize_t got = size == 0 ? 0 : os.fgetxattr(from, name, &value[0], value.size());
    if (got < 0 || os.fsetxattr(to, name, value.data(), static_cast<size_t>(got), 0) != 0)
      return errno;
  }
  // Whatever the new file got of its own (a folder's default ACL) goes.
  if (int e = ListAttributes(to, &own))
    return e;
  for (size_t at = 0; at < own.size(); at += std::strlen(&own[at]) + 1) {
    const std::string name(&own[at]);
    if (names.find(name + '\0') == std::string::npos &&
        os.fremovexattr(to, name.c_str()) != 0)
      return errno;
  }
  return 0;
}

// Whether a name made in the folder `dir` can be removed again: not in an
// append-only or immutable folder.
bool NamesGo(int dir) {
  int flags = 0;
  return ioctl(dir, FS_IOC_GETFLAGS, &flags) != 0 || (flags & (FS_APPEND_FL | FS_IMMUTABLE_FL)) == 0;
}

// Opens `folder` into `made`.
int OpenFolderAt(const std::string &folder, Temporary *made) {
  const int dir = os.open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0)
    return errno;
  made->folder.handle = dir;
  return 0;
}

// Opens the folder of `path`'s final target into `made`, and names the
// target there.
int OpenFolder(const std::string &path, Temporary *made) {
  std::string folder;
  Split(FollowLinks(path), &folder, &made->target);
  return OpenFolderAt(folder, made);
}

// A file of no name in the folder `dir`, of mode `mode` (less the umask);
// -1 where the system makes none.
int Unnamed(int dir, mode_t mode) {
  return os.openat(dir, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, mode);
}

// A file in the folder of `made`, of mode `mode` (less the umask): of no
// name where the system allows, else of a name of its own made only where
// none stands.
int MakeIn(Temporary *made, mode_t mode) {
  const int dir = Fd(made->folder);
  int fd = Unnamed(dir, mode);
  for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
    const std::string name = TemporaryName(made->target);
    fd = os.openat(dir, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd >= 0)
      made->name = name;
    else if (errno != EEXIST)
      return errno;
  }
  if (fd < 0)
    return EEXIST;
  made->file.handle = fd;
  return 0;
}

// Gives the unnamed file of `made` the name `name` in its folder.
int Link(const Temporary &made, const std::string &name) {
  const std::string self = "/proc/self/fd/" + std::to_string(Fd(made.file));
  return os.linkat(AT_FDCWD, self.c_str(), Fd(made.folder), name.c_str(), AT_SYMLINK_FOLLOW) == 0
             ? 0
             : errno;
}

// Gives the unnamed file of `made` a name of its own in its folder (none
// where it has one already).
int NameOfItsOwn(Temporary *made) {
  for (int attempt = 0; made->name.empty(); ++attempt) {
    const std::string name = TemporaryName(made->target);
    const int e = Link(*made, name);
    if (e == 0)
      made->name = name;
    else if (e != EEXIST || attempt == 100)
      return e;
  }
  return 0;
}

// Repeated while interrupted.
int Synced(int fd) {
  int r;
  do
    r = os.fsync(fd);
  while (r != 0 && errno == EINTR);
  return r == 0 ? 0 : errno;
}

} // namespace

int CreateNew(const std::string &path) noexcept {
  const int fd = os.open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0)
    return errno;
  close(fd);
  return 0;
}

size_t CharacterStart(const std::string &, size_t, size_t at) noexcept { return at; }

int OpenExisting(const std::string &path, File *file) noexcept {
  // Without waiting: a pipe with no reader answers at once, and this
  // process never becomes a pipe's reader itself.
  const int fd = os.open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0)
    return errno;
  const int flags = fcntl(fd, F_GETFL);
  if (flags != -1)
    fcntl(fd, F_SETFL, flags & ~O_NONBLOCK); // a slow reader is waited for
  file->handle = fd;
  return 0;
}

int Inspect(const File &file, Facts *facts) {
  struct stat st;
  if (os.fstat(Fd(file), &st) != 0)
    return errno;
  facts->regular = S_ISREG(st.st_mode);
  facts->links = static_cast<uint32_t>(st.st_nlink);
  facts->size = static_cast<uint64_t>(st.st_size);
  return 0;
}

int MakeNew(const std::string &path, bool ownerOnly, Temporary *made) {
  if (int e = OpenFolder(path, made))
    return e;
  if (made->target.empty())
    return ENOENT;
  const mode_t mode = ownerOnly ? 0600 : 0666;
  if (NamesGo(Fd(made->folder))) {
    const int fd = Unnamed(Fd(made->folder), mode);
    if (fd >= 0) {
      made->file.handle = fd;
      return 0;
    }
  }
  // No unnamed file here: made under its name at once, as a plain open would.
  const int fd =
      os.openat(Fd(made->folder), made->target.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
  if (fd < 0)
    return errno;
  made->file.handle = fd;
  made->name = made->target;
  made->atTarget = true;
  return 0;
}

int Publish(Temporary *made) {
  if (!made->atTarget)
    if (int e = Link(*made, made->target))
      return e;
  made->name.clear();
  made->atTarget = false;
  return 0;
}

int MakeSibling(const std::string &path, const File &old, Temporary *sibling) {
  if (int e = OpenFolder(path, sibling))
    return e;
  const int dir = Fd(sibling->folder);
  struct stat st, named;
  if (os.fstat(Fd(old), &st) != 0)
    return errno;
  if (os.fstatat(dir, sibling->target.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0)
    return errno;
  if (!SameFile(st, named))
    return kNameChanged;
  // A name the exchange leaves on the old file could not go again.
  if (!NamesGo(dir))
    return EPERM;
  if (int e = MakeIn(sibling, 0600))
    return e;
  const int fd = Fd(sibling->file);
  // Every fact, or the old file is written in place instead.
  if (os.fchown(fd, st.st_uid, st.st_gid) != 0 || os.fchmod(fd, st.st_mode & 07777) != 0)
    return errno;
  return CarryAttributes(Fd(old), fd);
}

namespace {

// How long a writer waits for another writer of ours: a lock that another
// program holds for ever must not hold the export with it.
const int kLockTries = 500;
const useconds_t kLockPause = 10000; // 5 s in all

// Holds the folder's lock for one replace: writers of ours that replace in
// the same folder at once take turns, so that an exchange, its check and a
// swap back are never interleaved with another's.
class FolderLock {
public:
  explicit FolderLock(int dir) : dir_(dir) {
    for (int attempt = 0; attempt < kLockTries; ++attempt) {
      if (os.flock(dir_, LOCK_EX | LOCK_NB) == 0) {
        held_ = true;
        return;
      }
      if (errno != EWOULDBLOCK && errno != EINTR)
        return;
      usleep(kLockPause);
    }
    errno = EWOULDBLOCK;
  }
  ~FolderLock() {
    if (held_)
      flock(dir_, LOCK_UN);
  }
  FolderLock(const FolderLock &) = delete;
  FolderLock &operator=(const FolderLock &) = delete;
  bool Held() const { return held_; }

private:
  int dir_;
  bool held_ = false;
};

int ReplaceLocked(Temporary *sibling, const File &old) {
  const int dir = Fd(sibling->folder), fd = Fd(sibling->file);
  if (int e = NameOfItsOwn(sibling))
    return e;
  struct stat was, ours, named;
  if (os.fstat(Fd(old), &was) != 0 || os.fstat(fd, &ours) != 0)
    return errno;
  const char *temporary = sibling->name.c_str(), *target = sibling->target.c_str();
  // Exchanged, then checked: what came out of the name must be the file
  // opened at the start; anything else is swapped back, left as found. (Only
  // that side: the name holds ours the moment the exchange is done, and
  // whatever another writer does after it is that writer's to answer for.)
  if (os.renameat2(dir, temporary, dir, target, RENAME_EXCHANGE) == 0) {
    const auto putBack = [&](int error) {
      return renameat2(dir, temporary, dir, target, RENAME_EXCHANGE) == 0 ? error : errno;
    };
    struct stat out {};
    if (os.fstatat(dir, temporary, &out, AT_SYMLINK_NOFOLLOW) != 0)
      return putBack(errno);
    if (!SameFile(out, was))
      return putBack(kNameChanged);
    // The old file would stay under the temporary name: put back instead.
    if (os.unlinkat(dir, temporary, 0) != 0)
      return putBack(errno);
    sibling->name.clear();
    return 0;
  }
  if (errno != EINVAL && errno != ENOSYS)
    return errno;
  // No exchange in this file system: checked, then renamed.
  if (os.fstatat(dir, target, &named, AT_SYMLINK_NOFOLLOW) != 0 || !SameFile(named, was))
    return kNameChanged;
  if (os.fstatat(dir, temporary, &named, AT_SYMLINK_NOFOLLOW) != 0 || !SameFile(named, ours))
    return kNameChanged;
  if (os.renameat(dir, temporary, dir, target) != 0)
    return errno;
  sibling->name.clear();
  return 0;
}

} // namespace

int Replace(Temporary *sibling, const File &old) {
  int e;
  {
    FolderLock lock(Fd(sibling->folder));
    if (!lock.Held())
      return errno;
    e = ReplaceLocked(sibling, old);
  }
  // The new name on the disk too; a file system that cannot flush a folder
  // has nothing more to do.
  if (e == 0)
    Synced(Fd(sibling->folder));
  return e;
}

int MakeCopy(const std::string &path, const File &old, Temporary *copy) {
  struct stat st;
  if (os.fstat(Fd(old), &st) != 0)
    return errno;
  // Readable by its owner alone at most, and only where the old file is.
  const mode_t mode = st.st_mode & 0600;
  const char *tmp = std::getenv("TMPDIR");
  int error = 0;
  for (int place = 0; place < 2; ++place) {
    Close(&copy->folder);
    error = place == 0 ? OpenFolder(path, copy) : OpenFolderAt(tmp && *tmp ? tmp : "/tmp", copy);
    if (error == 0 && !NamesGo(Fd(copy->folder)))
      error = EPERM;
    if (error == 0 && (error = MakeIn(copy, mode)) == 0) {
      // Whatever the folder's default ACL gave it goes with the mode's mask.
      if (os.fchmod(Fd(copy->file), mode) == 0)
        return 0;
      error = errno;
      Drop(copy);
    }
  }
  return error;
}

int Keep(Temporary *copy) {
  if (int e = NameOfItsOwn(copy))
    return e;
  return Synced(Fd(copy->folder));
}

int Drop(Temporary *made) {
  struct stat ours, named;
  int error = 0;
  if (!made->name.empty() && fstat(Fd(made->file), &ours) == 0 &&
      fstatat(Fd(made->folder), made->name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 && SameFile(ours, named))
    for (int attempt = 0; attempt < 2; ++attempt) // once more where it fails
      if ((error = os.unlinkat(Fd(made->folder), made->name.c_str(), 0) == 0 ? 0 : errno) == 0)
        break;
  made->name.clear();
  made->atTarget = false;
  Close(&made->file);
  Close(&made->folder);
  return error;
}

int Lock(const File &file) noexcept {
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = off_t(1) << 62; // far beyond any byte, so no reader is held
  lock.l_len = 1;
  for (int attempt = 0; attempt < kLockTries; ++attempt) {
    if (os.fcntl(Fd(file), F_OFD_SETLK, &lock) == 0)
      return 0;
    if (errno != EAGAIN && errno != EACCES && errno != EINTR)
      return errno == EINVAL ? 0 : errno; // no such lock here: nothing to take turns on
    usleep(kLockPause);
  }
  return EWOULDBLOCK;
}

void Unlock(const File &file) noexcept {
  struct flock lock {};
  lock.l_type = F_UNLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = off_t(1) << 62;
  lock.l_len = 1;
  fcntl(Fd(file), F_OFD_SETLK, &lock);
}

int StillNamed(const std::string &path, const File &file) noexcept {
  struct stat named, opened;
  const bool same = os.stat(path.c_str(), &named) == 0 && os.fstat(Fd(file), &opened) == 0 && SameFile(named, opened);
  return same ? 0 : kNameChanged;
}

int Flush(const File &file) noexcept { return Synced(Fd(file)); }

int ReadAt(const File &file, uint64_t offset, void *buffer, size_t size, size_t *got) noexcept {
  ssize_t n;
  do
    n = os.pread(Fd(file), buffer, size, static_cast<off_t>(offset));
  while (n < 0 && errno == EINTR);
  if (n < 0)
    return errno;
  *got = static_cast<size_t>(n);
  return 0;
}

int WriteAt(const File &file, uint64_t offset, const void *buffer, size_t size, size_t *wrote) noexcept {
  const char *at = static_cast<const char *>(buffer);
  size_t dummy = 0;
  size_t &done = wrote ? *wrote : dummy;
  done = 0;
  while (size > 0) {
    const ssize_t n = os.pwrite(Fd(file), at, size, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return n < 0 ? errno : EIO;
    at += n, offset += static_cast<uint64_t>(n), size -= static_cast<size_t>(n), done += static_cast<size_t>(n);
  }
  return 0;
}

int Truncate(const File &file, uint64_t size) noexcept {
  return os.ftruncate(Fd(file), static_cast<off_t>(size)) == 0 ? 0 : errno;
}

int Told(std::FILE *stream, uint64_t *bytes) noexcept {
  const off_t at = os.ftello(stream);
  if (at < 0)
    return errno;
  *bytes = static_cast<uint64_t>(at);
  return 0;
}

std::FILE *Stream(const File &file) {
  const int fd = os.fcntl(Fd(file), F_DUPFD_CLOEXEC, 0);
  if (fd < 0)
    return nullptr;
  lseek(fd, 0, SEEK_SET); // a pipe or device has no position
  std::FILE *stream = os.fdopen(fd, "wb");
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
    const ssize_t n = sys::os.readlink(at.c_str(), &target[0], target.size());
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
