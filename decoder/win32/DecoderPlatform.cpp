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

size_t ReadAt(FILE *stream, uint64_t offset, uint8_t *dst, size_t count) {
  HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  OVERLAPPED at = {};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD got = 0;
  const DWORD ask = count > (DWORD(1) << 30) ? (DWORD(1) << 30) : static_cast<DWORD>(count);
  if (!ReadFile(h, dst, ask, &got, &at))
    return 0; // ERROR_HANDLE_EOF past the end, or a failure: no bytes
  return got;
}

// Large pages on Windows need a privilege the user rarely holds: none asked.
void AdviseLargeBlock(void *, size_t) {}

} // namespace decoder_platform
