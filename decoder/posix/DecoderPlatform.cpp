// The decoder's system calls on Linux and other POSIX systems.
#include "DecoderPlatform.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace decoder_platform {

bool RegularFileSize(FILE *stream, uint64_t *size) {
  struct stat st;
  if (fstat(fileno(stream), &st) != 0 || !S_ISREG(st.st_mode))
    return false;
  *size = static_cast<uint64_t>(st.st_size);
  return true;
}

size_t ReadAt(FILE *stream, uint64_t offset, uint8_t *dst, size_t count) {
  static_assert(sizeof(off_t) == 8, "a 64-bit off_t");
  for (;;) {
    ssize_t n = pread(fileno(stream), dst, count, static_cast<off_t>(offset));
    if (n >= 0)
      return static_cast<size_t>(n);
    if (errno != EINTR)
      return 0;
  }
}

// A read into fresh pages costs what the same read into a buffer and a copy
// cost, or less.
size_t ReadBufferBytes() { return 0; }

void AdviseLargeBlock(void *block, size_t bytes) {
#if defined(MADV_HUGEPAGE)
  // Transparent huge pages cover whole aligned 2 MB ranges: advise the
  // block's interior only, so that the heap around it is left as it was. The
  // advice is a hint; where the kernel declines, nothing changes.
  const uintptr_t huge = uintptr_t(2) << 20;
  const uintptr_t start = (reinterpret_cast<uintptr_t>(block) + huge - 1) & ~(huge - 1);
  const uintptr_t end = (reinterpret_cast<uintptr_t>(block) + bytes) & ~(huge - 1);
  if (bytes >= huge && end > start)
    madvise(reinterpret_cast<void *>(start), end - start, MADV_HUGEPAGE);
#else
  (void)block;
  (void)bytes;
#endif
}

} // namespace decoder_platform
