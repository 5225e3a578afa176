// What the decoder needs of the system beyond the C library, one
// implementation per platform (posix/, win32/), chosen by the build.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace decoder_platform {

// True when `stream` is a regular file, with its size in `size`.
bool RegularFileSize(FILE *stream, uint64_t *size);

// Moves `stream` forward by `count` bytes with a 64-bit seek.
bool SeekForward(FILE *stream, uint64_t count);

// A fresh pixel block of `bytes` at `block`, about to be written once from
// start to end. Where the system offers large pages on request, ask for
// them: a multi-megabyte block then costs a few page faults, not thousands.
void AdviseLargeBlock(void *block, size_t bytes);

} // namespace decoder_platform
