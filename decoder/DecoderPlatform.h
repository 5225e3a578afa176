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
// `offset` on, by the quickest way the system has for a 64-bit seek and a
// read; 0 at the end or on an error. The position of the file under the
// stream may move: the caller keeps its own and, once it reads at
// positions, reads the stream no other way.
size_t ReadAt(FILE *stream, uint64_t offset, uint8_t *dst, size_t count);

// Where the system's reads into never-touched pages are slow, long reads go
// into a reused buffer of this many bytes and are copied out: the copy costs
// less than the system's page faults. 0: read straight into the destination.
size_t ReadBufferBytes();

// A fresh pixel block of `bytes` at `block`, about to be written once from
// start to end. Where the system offers large pages on request, ask for
// them: a multi-megabyte block then costs a few page faults, not thousands.
void AdviseLargeBlock(void *block, size_t bytes);

} // namespace decoder_platform
