#include "OutputFile.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace output_file {

namespace {

// Bytes of the file's own name in the temporary name: enough to tell whose it
// is, short enough for any name limit.
const size_t kNamePrefix = 32;

bool SameFile(const struct stat &a, const struct stat &b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The temporary file beside `target` (a path with no links in it), made with
// the permissions and, where this process may set it, the owner of the file
// `old` describes. -1 when the folder takes no new file.
int MakeTemporary(const std::string &target, const struct stat &old, std::string *name) {
  const size_t slash = target.find_last_of('/');
  const std::string folder = target.substr(0, slash + 1);
  const std::string base = target.substr(slash + 1);
  std::string pattern = folder + "." + base.substr(0, kNamePrefix) + ".XXXXXX";
  const int fd = mkostemp(&pattern[0], O_CLOEXEC);
  if (fd < 0)
    return -1;
  // Set-user and set-group bits only where the owner is the old one too.
  const bool owner = fchown(fd, old.st_uid, old.st_gid) == 0;
  if (fchmod(fd, old.st_mode & (owner ? 07777 : 0777)) != 0) {
    // It keeps the private mode mkstemp gave it.
  }
  *name = pattern;
  return fd;
}

// Undoes a failed write on the file open as `held`: emptied first, so that
// nothing partial stays even where the name cannot go, then removed when
// `name` is its only name (a symbolic link is a name of the user's, never
// removed). A device or pipe is left as it is.
void Discard(int held, const std::string &name) {
  struct stat opened {}, named {};
  if (fstat(held, &opened) != 0 || !S_ISREG(opened.st_mode))
    return;
  if (ftruncate(held, 0) != 0) {
    // Nothing more can be done for its bytes; the name may still go.
  }
  if (lstat(name.c_str(), &named) == 0 && S_ISREG(named.st_mode) && named.st_nlink == 1 &&
      SameFile(named, opened))
    unlink(name.c_str());
}

} // namespace

std::FILE *TOutputFile::Open() {
  // Opening without truncating tests this user's right to write the file
  // before anything else is decided: the folder's rights never stand in for
  // the file's.
  const int fd = open(Path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0)
    return errno == ENOENT ? std::fopen(Path.c_str(), "wb") : nullptr;
  struct stat old {}, named {};
  if (fstat(fd, &old) != 0) {
    close(fd);
    return nullptr;
  }
  char resolved[PATH_MAX];
  const bool replaceable = S_ISREG(old.st_mode) && old.st_nlink == 1 &&
                           realpath(Path.c_str(), resolved) != nullptr &&
                           stat(resolved, &named) == 0 && SameFile(named, old);
  if (replaceable) {
    const int temporary = MakeTemporary(resolved, old, &Temporary);
    if (temporary >= 0) {
      close(fd);
      Target = resolved;
      if (std::FILE *stream = fdopen(temporary, "wb"))
        return stream;
      close(temporary);
      unlink(Temporary.c_str());
      Temporary.clear();
      return nullptr;
    }
  }
  // In place: truncated as a new write would, unless that is refused.
  if (S_ISREG(old.st_mode) && ftruncate(fd, 0) != 0) {
    close(fd);
    return nullptr;
  }
  std::FILE *stream = fdopen(fd, "wb");
  if (!stream)
    close(fd);
  return stream;
}

bool TOutputFile::Close(std::FILE *stream, bool complete) {
  // A second descriptor keeps the file open after the stream has flushed and
  // closed, so that a failure at the close is still undone on this file and
  // never on whatever the name may meanwhile point at.
  const int held = dup(fileno(stream));
  const bool closed = std::fclose(stream) == 0;
  const std::string &written = Temporary.empty() ? Path : Temporary;
  bool done = complete && closed;
  if (done && !Temporary.empty())
    done = std::rename(Temporary.c_str(), Target.c_str()) == 0;
  if (!done && held >= 0)
    Discard(held, written);
  else if (!done && !Temporary.empty())
    unlink(Temporary.c_str());
  if (held >= 0)
    close(held);
  Temporary.clear();
  return done;
}

} // namespace output_file
