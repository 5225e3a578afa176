// The decoder's system calls on Windows.
#include "DecoderPlatform.h"

#include <io.h>
#include <windows.h>

namespace decoder_platform {

bool RegularFileSize(FILE *stream, uint64_t *size) {
  HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  LARGE_INTEGER n;
  if (h == INVALID_HANDLE_VALUE || GetFileType(h) != FILE_TYPE_DISK || !GetFileSizeEx(h, &n))
    return false;
  *size = static_cast<uint64_t>(n.QuadPart);
  return true;
}

bool SeekForward(FILE *stream, uint64_t count) {
  return _fseeki64(stream, static_cast<__int64>(count), SEEK_CUR) == 0;
}

// Large pages on Windows need a privilege the user rarely holds: none asked.
void AdviseLargeBlock(void *, size_t) {}

} // namespace decoder_platform
