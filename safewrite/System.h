// The calls of the safe-write sequence that differ between systems; posix/
// and win32/ each implement every one, and none of them decides anything of
// the order. Each answers 0 or an errno value (Windows codes are mapped).
#pragma once

#include "SafeWrite.h"

#include <cstdint>
#include <cstdio>
#include <string>

namespace safe_write {
inline namespace TLP_SAFE_WRITE_BUILD {
namespace sys {

// An open file: a descriptor on POSIX, a HANDLE on Windows.
struct File {
  intptr_t handle = -1;
  bool Open() const { return handle != -1; }
};

struct Facts {
  bool regular = false; // a disk file (not a device, pipe or folder)
  // One name, and a new file beside it can carry every fact of it on this
  // system (not under Wine, which cannot carry Unix facts).
  bool replaceable = false;
  uint64_t size = 0;
};

// The new file beside the old one: its folder, opened at the start (POSIX;
// unused on Windows), the old file's name there (the full final name on
// Windows), and the new file's name, empty while no name holds it.
struct Sibling {
  File file;
  File folder;
  std::string target;
  std::string temporary;
};

// Opens the existing file `path` names (links followed) for writing without
// truncating it, and for reading where allowed (`*readable`); never waits
// for a pipe's reader. ENOENT when nothing is there.
int OpenExisting(const std::string &path, File *file, bool *readable) noexcept;
// Creates `path` (a dangling link's target) as a new, empty file for reading
// and writing, for its owner alone where asked. EEXIST when something is there.
int CreateNew(const std::string &path, bool ownerOnly, File *file);
// Removes the file made by CreateNew, when `path` still names it.
void RemoveCreated(const std::string &path, const File &file);
int Inspect(const File &file, Facts *facts);

// Makes the new file beside the final target of `path`, opened as `old`,
// with every fact of `old` carried; fails where one cannot be.
int MakeSibling(const std::string &path, const File &old, Sibling *sibling);
// Puts the complete sibling in place of `old`, only while the name still
// holds `old` (else kNameChanged, everything left as found). On any failure
// the sibling stays open, to be read or dropped.
int Replace(Sibling *sibling, const File &old);
// Closes the sibling and removes any name it got.
void DropSibling(Sibling *sibling);

// A temporary file of nobody's name where possible, for a copy of the old
// bytes: beside `path`'s target, else in the system's temporary folder.
int MakeScratch(const std::string &path, File *file);

// These and OpenExisting never throw (they allocate nothing).
int ReadAt(const File &file, uint64_t offset, void *buffer, size_t size, size_t *got) noexcept;
int WriteAt(const File &file, uint64_t offset, const void *buffer, size_t size) noexcept;
int Truncate(const File &file, uint64_t size) noexcept;
// The file's current position, where its stream stopped.
int Position(const File &file, uint64_t *position) noexcept;
// A stream over a second handle of `file`, at its start; null with errno set.
std::FILE *Stream(const File &file);
void Close(File *file);

} // namespace sys

// Failure injection for the tests: off (and free) in the product.
namespace seams {
#if defined(TLP_SAFE_WRITE_SEAMS)
// Every call of the sequence to a primitive counts; the one numbered
// `failAt` (from 1) fails with `error`, or with `onward` every one from it
// on. 0: none fails.
// (None of them throws, so that both builds branch alike where they call.)
void FailAt(long failAt, int error, bool onward = false) noexcept;
// Which primitive the last injected failure hit, for messages.
const char *Failed() noexcept;
// Under Wine, take the rename path that Windows itself takes.
void RenameAsWindows(bool on) noexcept;
// Old files larger than this are kept in a scratch file (0: the product's rule).
void KeepInMemoryUpTo(uint64_t bytes) noexcept;
bool Injected(const char *call) noexcept;
#if defined(_WIN32)
bool RenameAsWindows() noexcept;
#endif
uint64_t KeepInMemoryUpTo() noexcept;
// Every replace refused, as for a mount point: the new bytes go in place.
void RefuseReplace(bool on) noexcept;
bool ReplaceRefused() noexcept;
// A file system that cannot exchange two names (POSIX): checked, then renamed.
void NoExchange(bool on) noexcept;
bool NoExchange() noexcept;
// The way the last Open chose (kNone until one did).
void Took(Way way) noexcept;
Way Took() noexcept;
#else
inline bool ReplaceRefused() noexcept { return false; }
inline bool NoExchange() noexcept { return false; }
inline void Took(Way) noexcept {}
inline bool Injected(const char *) noexcept { return false; }
inline bool RenameAsWindows() noexcept { return false; }
inline uint64_t KeepInMemoryUpTo() noexcept { return 0; }
#endif
} // namespace seams

} // namespace TLP_SAFE_WRITE_BUILD
} // namespace safe_write
