// What the decoder needs of the system beyond the C library, one
// implementation per platform (posix/, win32/), chosen by the build.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace decoder_platform {

// True when `stream` is a regular file, with its size in `size`.
bool RegularFileSize(FILE *stream, uint64_t *size);

// Up to `count` bytes of the regular file under `stream`, from byte
// `offset` on (a 64-bit seek and a read in one call); 0 at the end or on an
// error. The stream's own position is left as it was.
size_t ReadAt(FILE *stream, uint64_t offset, uint8_t *dst, size_t count);

// A fresh pixel block of `bytes` at `block`, about to be written once from
// start to end. Where the system offers large pages on request, ask for
// them: a multi-megabyte block then costs a few page faults, not thousands.
void AdviseLargeBlock(void *block, size_t bytes);

} // namespace decoder_platform
