// Shared by the fuzz targets: the input's last three bytes choose the mode
// and the preview box, the rest is the file. Inputs stay in memory: the
// decoder reads them from a memory source, and the plug-in's entry points,
// which take a path, open an anonymous memory file by its /proc/self/fd
// name. Nothing is written to the temporary folder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace fuzz {

using Bytes = std::vector<uint8_t>;

// Blocks above the cap fail the run instead of exhausting the fuzzer's
// memory and time: a block past the allocator's small sizes costs fresh
// pages on every run. One input in 64 (by a hash of all its bytes) gets a
// cap large enough for the bands of several rows and the huge-page advice.
constexpr size_t kSmallBlockBytes = size_t(128) << 10;
constexpr size_t kLargeBlockBytes = size_t(4) << 20;

inline uint32_t Hash(const uint8_t *data, size_t size) {
  uint32_t h = 2166136261u; // FNV-1a
  for (size_t i = 0; i < size; ++i)
    h = (h ^ data[i]) * 16777619u;
  return h;
}

inline size_t BlockCap(const uint8_t *data, size_t size) {
  return Hash(data, size) % 64 == 0 ? kLargeBlockBytes : kSmallBlockBytes;
}

struct Input {
  const uint8_t *file;
  size_t fileSize;
  uint8_t mode;
  uint8_t boxByteW, boxByteH;
  int32_t boxW, boxH;
};

// A preview box from one byte: mostly 1 to 64, and from 0xF0 on the whole
// range: large boxes, boxes with the top bit set (no bound at all), 0.
inline int32_t Box(uint8_t b) {
  static const uint32_t kWide[16] = {0,      2,          3,          100,        256,        1000,
                                     4096,   32768,      65535,      65536,      0x7FFFFFFF, 0x80000000,
                                     0xC0000000, 0xFFFFFFFF, 0xFFFF0000, 0x00010001};
  return b >= 0xF0 ? static_cast<int32_t>(kWide[b - 0xF0]) : 1 + b % 64;
}

inline Input Split(const uint8_t *data, size_t size) {
  Input in{data, size, 0, 0, 0, 1, 1};
  if (size >= 3) {
    in.fileSize = size - 3;
    in.mode = data[size - 3];
    in.boxByteW = data[size - 2];
    in.boxByteH = data[size - 1];
    in.boxW = Box(in.boxByteW);
    in.boxH = Box(in.boxByteH);
  }
  return in;
}

// One anonymous memory file per process, rewritten for every input; its
// path opens it like any file on disk (a regular file, so seeks work).
class MemFile {
public:
  MemFile() : fd_(memfd_create("tlp-fuzz", 0)), path_("/proc/self/fd/" + std::to_string(fd_)) {
    if (fd_ < 0)
      std::abort();
  }
  const std::string &Path() const { return path_; }
  const std::string &Write(const uint8_t *data, size_t size) {
    if (ftruncate(fd_, 0) != 0)
      std::abort();
    for (size_t done = 0; done < size;) {
      ssize_t n = pwrite(fd_, data + done, size - done, static_cast<off_t>(done));
      if (n <= 0)
        std::abort();
      done += static_cast<size_t>(n);
    }
    return path_;
  }
  Bytes Read() const {
    Bytes out;
    uint8_t buf[65536];
    for (off_t at = 0;;) {
      ssize_t n = pread(fd_, buf, sizeof buf, at);
      if (n < 0)
        std::abort();
      if (n == 0)
        return out;
      out.insert(out.end(), buf, buf + n);
      at += n;
    }
  }

private:
  int fd_;
  std::string path_;
};

// A pipe that holds `data`, its writing end closed, as a stream: reads see
// the data, then the end; seeks fail. Null when the data does not fit the
// pipe's buffer.
inline FILE *PipeWith(const uint8_t *data, size_t size) {
  int fds[2];
  if (pipe(fds) != 0)
    std::abort();
  if (size > 65536 && fcntl(fds[1], F_SETPIPE_SZ, static_cast<int>(size)) < static_cast<int>(size)) {
    close(fds[0]);
    close(fds[1]);
    return nullptr;
  }
  for (size_t done = 0; done < size;) {
    ssize_t n = write(fds[1], data + done, size - done);
    if (n <= 0)
      std::abort();
    done += static_cast<size_t>(n);
  }
  close(fds[1]);
  FILE *f = fdopen(fds[0], "rb");
  if (!f)
    std::abort();
  return f;
}

} // namespace fuzz
