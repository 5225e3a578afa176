#include "OutputFile.h"

#include <io.h>
#include <windows.h>

namespace output_file {

bool Close(std::FILE *stream, const std::string &path, bool complete) {
  // A second handle keeps the file open after the stream has flushed and
  // closed, so that a failure at the close is still undone on this file.
  const int held = _dup(_fileno(stream));
  const bool closed = std::fclose(stream) == 0;
  if (complete && closed) {
    if (held >= 0)
      _close(held);
    return true;
  }
  if (held < 0)
    return false;
  HANDLE file = reinterpret_cast<HANDLE>(_get_osfhandle(held));
  // Only the file's own facts: GetFileInformationByHandle would also ask the
  // volume for its serial number, a round trip to the mount manager that
  // under Wine can block for good.
  FILE_STANDARD_INFO info;
  if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandleEx(file, FileStandardInfo, &info, sizeof info)) {
    _close(held); // a device, or nothing to learn about it
    return false;
  }
  // The C library opens files without sharing deletion, so while the file is
  // open the name still refers to it. A symbolic link or junction is a
  // reparse point: a name of the user's, never removed.
  const DWORD attributes = GetFileAttributesA(path.c_str());
  const bool soleName = info.NumberOfLinks == 1 && attributes != INVALID_FILE_ATTRIBUTES &&
                        (attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) == 0;
  if (!soleName)
    _chsize(held, 0);
  _close(held);
  if (soleName)
    DeleteFileA(path.c_str());
  return false;
}

} // namespace output_file
