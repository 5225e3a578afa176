// Writing a file so that a failure never costs the user the file that was
// there: the one sequence that the plug-in's export, tga-host's outputs and
// the settings store of our own share. The order of the steps lives here and
// in SafeWrite.cpp; posix/ and win32/ supply the calls that differ (System.h).
//
// How a file is written is decided per file:
// - a new file is created and, on a failure, removed again;
// - a regular file with one name whose every fact a new file can carry (on
//   POSIX owner, group, mode, ACLs and extended attributes; on Windows the
//   attributes and security that the system's replace carries) is written
//   beside itself and renamed over it, which leaves it whole even when the
//   process dies mid-write; the rename overwrites only the file opened at
//   the start, in the folder opened at the start;
// - any other regular file (more names, facts that cannot be carried, a
//   folder that takes no new file, a rename refused, and every file under
//   Wine, which cannot carry Unix facts) is written in place through the
//   name given, behind a copy of its old bytes, which go back on a failure;
// - a device or pipe is written as it is, and never removed.
// Where no copy can be kept anywhere, the file is not written at all.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

// The test build compiles the same sources with failure injection on, under
// a name of its own, beside the product's.
#if defined(TLP_SAFE_WRITE_SEAMS)
#define TLP_SAFE_WRITE_BUILD with_seams
#else
#define TLP_SAFE_WRITE_BUILD product
#endif

namespace safe_write {
inline namespace TLP_SAFE_WRITE_BUILD {

// How a file is being written.
enum class Way {
  kNone,    // not open
  kNew,     // created by this write
  kDirect,  // a device or pipe
  kRename,  // beside the file, renamed over it
  kInPlace, // through its name, behind a kept copy
};

// Beside the errno values of Error(): another program holds the file and
// lets nobody else write it (Windows' sharing rules); the name no longer
// holds the file opened at the start, so nothing was put in its place.
const int kInUse = -2;
const int kNameChanged = -3;

struct Kept;
namespace sys {
struct File;
struct Sibling;
} // namespace sys

// One file being written, from Open to Close. `bytes` is the size the
// complete file will have (0 when unknown): an old file up to that size, or
// 64 MiB, is kept in memory, a larger one in a temporary file.
class TSafeWrite {
public:
  explicit TSafeWrite(std::string path, uint64_t bytes = 0);
  // A write still open is undone as a failure.
  ~TSafeWrite();
  TSafeWrite(const TSafeWrite &) = delete;
  TSafeWrite &operator=(const TSafeWrite &) = delete;

  // A stream for the new bytes, or null when the file cannot be written
  // (Error() says why); nothing has changed then.
  std::FILE *Open();

  // Closes the stream from Open. With `complete` true and every byte out,
  // the written bytes stand under the name (only them: a shorter write cuts
  // the old file's tail off) and the answer is true. Otherwise the answer is
  // false, an old file is byte for byte as it was, a new one is gone, and
  // nothing of this write stays in the folder. A device keeps what reached it.
  bool Close(std::FILE *stream, bool complete);

  // A new file is made readable by its owner alone (POSIX).
  bool OwnerOnly = false;

  Way How() const { return Way_; }
  // The errno value of the first failure (or kNameChanged); 0 when none.
  int Error() const { return Error_; }

private:
  const sys::File *Begin();
  bool Fail(int error) noexcept;
  bool KeepCopy();
  bool PutBack() noexcept;
  bool Commit();
  bool InPlaceFromSibling();
  void Abandon();
  void Release();

  const std::string Path;
  const uint64_t Bytes;
  Way Way_ = Way::kNone;
  int Error_ = 0;
  uint64_t OldSize = 0;
  bool Readable = false;
  std::unique_ptr<sys::File> Target;     // the file itself, kept open throughout
  std::unique_ptr<sys::Sibling> Beside;  // the new file beside it (kRename)
  std::unique_ptr<Kept> Copy;            // the old bytes (kInPlace)
};

// The file `path` finally names once symbolic links are followed, which need
// not exist yet; `path` itself where no link is on the way.
std::string FollowLinks(const std::string &path);

// Where the last folder separator of `path` is (npos for none): '/' on POSIX;
// '/' or '\\' on Windows, read in the system's code page, in which a '\\'
// byte can also be the second byte of a character.
size_t LastSeparator(const std::string &path);

// The errno value (or kInUse) of a system error code: Windows' codes are
// mapped, errno values stay as they are.
#if defined(_WIN32)
int ErrnoOf(unsigned long code);
#else
inline int ErrnoOf(unsigned long code) { return static_cast<int>(code); }
#endif

// Writes `bytes` as the whole file `path` through TSafeWrite: 0, or the errno
// value of the failure.
int WriteWhole(const std::string &path, const std::vector<uint8_t> &bytes, bool ownerOnly = false);

// Puts the complete file `from` (a temporary file of the caller's) in place
// of `path` through TSafeWrite, then removes `from`: 0, or the errno value.
int PutInPlace(const std::string &from, const std::string &path);

} // namespace TLP_SAFE_WRITE_BUILD
} // namespace safe_write
