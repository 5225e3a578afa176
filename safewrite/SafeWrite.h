// Writing a file so that a failure never costs the user the file that was
// there: the one sequence that the plug-in's export, tga-host's outputs and
// the settings store of our own share. The order of the steps lives here and
// in SafeWrite.cpp; linux/ and win32/ supply the calls that differ (System.h).
//
// How a file is written is decided per file, and every way but the last
// writes the new bytes into a file of their own, which no name holds while
// the system allows, so a write that fails or is killed before its commit
// leaves the name as it was:
// - a new file takes its name once complete;
// - a regular file with one name whose every fact a new file can carry (on
//   POSIX owner, group, mode, ACLs and extended attributes; on Windows the
//   attributes and security that the system's replace carries) is replaced
//   by the new file, flushed first, through a rename that overwrites only
//   the file opened at the start, in the folder opened at the start;
// - any other regular file (more names, facts that cannot be carried, a
//   folder that takes no new file, a rename refused, and every file under
//   Wine, which cannot carry Unix facts) gets the complete new bytes copied
//   over its own, in place: the new file is first flushed under a name a
//   kill leaves, so that a whole picture is on the disk while the name holds
//   a mix, and one writer at a time copies;
// - a device or pipe is written as it is, and never removed.
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

namespace sys {
struct File;
struct Facts;
struct Temporary;
} // namespace sys

// One file being written, from Open to Close.
class TSafeWrite {
public:
  explicit TSafeWrite(std::string path);
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
  // nothing of this write stays; or, where a copy in place failed past
  // mending, the complete new file stays where a kill would leave it. A
  // device keeps what reached it.
  bool Close(std::FILE *stream, bool complete);

  // A new file is made readable by its owner alone (POSIX).
  bool OwnerOnly = false;

  Way How() const { return Way_; }
  // The errno value of the first failure (or kNameChanged); 0 when none.
  int Error() const { return Error_; }

private:
  const sys::File *Begin();
  bool Fail(int error) noexcept;
  bool Commit();
  bool CopyIn();
  int HoldOld(sys::Facts *now);
  int CopyRange(uint64_t at, uint64_t size, bool *changed) noexcept;
  void Release();

  const std::string Path;
  Way Way_ = Way::kNone;
  int Error_ = 0;
  uint64_t OldSize = 0;
  bool Locked = false;
  bool KeepNew = false; // the one whole picture: it stays
  std::unique_ptr<uint8_t[]> Buffer;      // one for every copy of this write
  std::unique_ptr<sys::File> Target;      // the old file, kept open throughout
  std::unique_ptr<sys::Temporary> New;    // the new bytes (all but kDirect)
};

// The file `path` finally names once symbolic links are followed, which need
// not exist yet; `path` itself where no link is on the way.
std::string FollowLinks(const std::string &path);

// Where the last folder separator of `path` is (npos for none): '/' on POSIX;
// '/' or '\\' on Windows, read in the system's code page, in which a '\\'
// byte can also be the second byte of a character.
size_t LastSeparator(const std::string &path);

// Makes a new, empty file of a name of its own beside `path` (in the folder
// `path` names, as it is), ".NAME.XXXXXXXX.tmp": 0 with `*made` set to its
// path, or the errno value. Made rather than only named, so that nobody can
// take the name before its writer writes it.
int ReserveBeside(const std::string &path, std::string *made);

// Writes `bytes` as the whole file `path` through TSafeWrite: 0, or the errno
// value of the failure.
int WriteWhole(const std::string &path, const std::vector<uint8_t> &bytes, bool ownerOnly = false);

// Puts the complete file `from` (a temporary file of the caller's) in place
// of `path` through TSafeWrite, then removes `from`: 0, or the errno value.
int PutInPlace(const std::string &from, const std::string &path);

} // namespace TLP_SAFE_WRITE_BUILD
} // namespace safe_write
