#include "OutputFile.h"

#include <sys/stat.h>
#include <unistd.h>

namespace output_file {

bool Close(std::FILE *stream, const std::string &path, bool complete) {
  // A second descriptor keeps the file open after the stream has flushed and
  // closed, so that a failure at the close is still undone on this file and
  // never on whatever the name may meanwhile point at.
  const int held = dup(fileno(stream));
  const bool closed = std::fclose(stream) == 0;
  if (complete && closed) {
    if (held >= 0)
      close(held);
    return true;
  }
  struct stat opened {}, named {};
  if (held < 0 || fstat(held, &opened) != 0 || !S_ISREG(opened.st_mode)) {
    if (held >= 0)
      close(held);
    return false;
  }
  // lstat, not stat: a symbolic link is a name of the user's, never removed.
  const bool soleName = lstat(path.c_str(), &named) == 0 && S_ISREG(named.st_mode) &&
                        named.st_nlink == 1 && named.st_dev == opened.st_dev &&
                        named.st_ino == opened.st_ino;
  if (soleName)
    unlink(path.c_str());
  else if (ftruncate(held, 0) != 0) {
    // Nothing more can be done for it.
  }
  close(held);
  return false;
}

} // namespace output_file
