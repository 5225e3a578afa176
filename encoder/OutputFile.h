// The one thing the encoder needs of the platform beyond the C library's
// streams: where its bytes go, so that a failed write over an existing file
// leaves that file as it was, and no partial image stays under any name.
// posix/ and win32/ implement it.
#pragma once

#include <cstdio>
#include <string>
#include <utility>

namespace output_file {

// One file being written, from Open to Close.
class TOutputFile {
public:
  explicit TOutputFile(std::string path) : Path(std::move(path)) {}
  TOutputFile(const TOutputFile &) = delete;
  TOutputFile &operator=(const TOutputFile &) = delete;

  // A stream for the bytes of `Path`, or null when the file cannot be
  // written. A new file is created. An existing file must be one this user
  // may open for writing, and is never truncated here or later unless it has
  // to be written in place: a regular file with one name, in a folder the
  // user may write to, is written as a temporary file beside it (beside the
  // link's target, for a symbolic link), which replaces it at Close. Any
  // other file (more than one name, a folder not writable, a file that
  // cannot be replaced while another program holds it, a device or pipe) is
  // truncated and written in place.
  std::FILE *Open();

  // Closes the stream from Open and answers whether the file stands
  // complete under `Path`. With `complete` true and every byte out, a
  // temporary file replaces the old file, taking over its permissions.
  // Otherwise (or when the close or the replace fails) the answer is false
  // and no name holds the partial data: the temporary file goes and the old
  // file stays as it was; a file written in place is emptied, and removed
  // when `Path` is its only name and the folder allows it. A device is left
  // as it is.
  bool Close(std::FILE *stream, bool complete);

private:
  const std::string Path;
  std::string Target;    // the file the temporary one replaces
  std::string Temporary; // empty when writing in place
  // Settings of the old file that the replace must carry over (only Windows
  // has such settings).
  [[maybe_unused]] unsigned long Carried = 0;
};

} // namespace output_file
