// The calls of the safe-write sequence that differ between systems; linux/
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

// What an open file is; the sequence decides what to do with it.
struct Facts {
  bool regular = false; // a disk file (not a device, pipe or folder)
  uint32_t links = 0;   // the names it has
  uint64_t size = 0;
  // Under Wine, whose renames cannot carry a file's Unix facts.
  bool wine = false;
};

// The file that takes the new bytes until they are complete: its folder,
// opened at the start (POSIX), the name it is to take or stand in for there
// (the full name on Windows), and the name it holds there, empty while none does.
// No name holds it while it is written where the system allows, so a
// process killed meanwhile leaves nothing of it.
struct Temporary {
  File file;
  File folder;
  std::string target;
  std::string name;
  bool atTarget = false; // made under the final name itself (Windows, POSIX without unnamed files)
};

// Opens the existing file `path` names (links followed) for reading and
// writing without truncating it, or for writing alone where that is all
// this user may; never waits for a pipe's reader. ENOENT when nothing is
// there.
int OpenExisting(const std::string &path, File *file) noexcept;
int Inspect(const File &file, Facts *facts);

// A new file for `path` (a dangling link's target), for its owner alone
// where asked: EEXIST when something is there by the time it is published.
int MakeNew(const std::string &path, bool ownerOnly, Temporary *made);
// Gives the complete new file its name, only where none stands.
int Publish(Temporary *made);

// The new file beside the final target of `path`, opened as `old`, with
// every fact of `old` carried; fails where one cannot be.
int MakeSibling(const std::string &path, const File &old, Temporary *sibling);
// Puts the complete sibling in place of `old`, only while the name still
// holds `old` (else kNameChanged, everything left as found), and makes the
// change last (the folder flushed). On any failure the sibling stays open,
// to be read or dropped.
int Replace(Temporary *sibling, const File &old);

// A file for the new bytes of `old`, which is written in place: beside it,
// else in a folder of the system's, readable by no one `old` does not let
// read (on Windows a folder of the user's own).
int MakeCopy(const std::string &path, const File &old, Temporary *copy);
// Gives the complete copy a name that a kill leaves, flushed with it.
int Keep(Temporary *copy);

// Closes the temporary file and removes any name it got, where that name
// still holds it.
int Drop(Temporary *made);

// Holds `file` against the other writers of this sequence, waiting a
// bounded time: EWOULDBLOCK when another holds it that long.
int Lock(const File &file) noexcept;
void Unlock(const File &file) noexcept;
// 0 while `path` (links followed) names `file`; kNameChanged otherwise.
int StillNamed(const std::string &path, const File &file) noexcept;

// Creates the new, empty file `path` only where nothing has that name, and
// closes it: EEXIST where something has.
int CreateNew(const std::string &path) noexcept;
// Where the character of `s` that holds the byte `at` starts, counting
// characters from `from`: on Windows in the system's code page, in which a
// character can take two bytes; elsewhere `at` itself.
size_t CharacterStart(const std::string &s, size_t from, size_t at) noexcept;

// These never throw (they allocate nothing).
int ReadAt(const File &file, uint64_t offset, void *buffer, size_t size, size_t *got) noexcept;
// `*wrote` (where given) counts the bytes that reached the file, also on a failure.
int WriteAt(const File &file, uint64_t offset, const void *buffer, size_t size, size_t *wrote = nullptr) noexcept;
int Truncate(const File &file, uint64_t size) noexcept;
// Its bytes on the disk.
int Flush(const File &file) noexcept;
// How many bytes `stream` has taken, its buffer's among them.
int Told(std::FILE *stream, uint64_t *bytes) noexcept;
// A stream over a second handle of `file`, at its start; null with errno set.
std::FILE *Stream(const File &file);
void Close(File *file);

// The way to write an existing file of these facts: the policy of
// SafeWrite.h's opening paragraph.
Way WayFor(const Facts &file);

// The calls the sequence makes, by name: in the product the system's own
// (kSystem, and nothing for the points a test may pause at); the tests'
// build counts them, makes them fail in turn, refuses a replace or pauses a
// writer by replacing an entry (Seams.cpp).
struct Calls {
  int (*OpenExisting)(const std::string &path, File *file) noexcept;
  int (*Inspect)(const File &file, Facts *facts);
  int (*MakeNew)(const std::string &path, bool ownerOnly, Temporary *made);
  int (*Publish)(Temporary *made);
  int (*MakeSibling)(const std::string &path, const File &old, Temporary *sibling);
  int (*Replace)(Temporary *sibling, const File &old);
  int (*MakeCopy)(const std::string &path, const File &old, Temporary *copy);
  int (*Keep)(Temporary *copy);
  int (*Drop)(Temporary *made);
  int (*Lock)(const File &file) noexcept;
  void (*Unlock)(const File &file) noexcept;
  int (*StillNamed)(const std::string &path, const File &file) noexcept;
  int (*ReadAt)(const File &file, uint64_t offset, void *buffer, size_t size, size_t *got) noexcept;
  int (*WriteAt)(const File &file, uint64_t offset, const void *buffer, size_t size, size_t *wrote) noexcept;
  int (*Truncate)(const File &file, uint64_t size) noexcept;
  int (*Flush)(const File &file) noexcept;
  int (*Told)(std::FILE *stream, uint64_t *bytes) noexcept;
  std::FILE *(*Stream)(const File &file);
  int (*CloseStream)(std::FILE *stream) noexcept;
  void (*Close)(File *file);
  int (*CreateNew)(const std::string &path) noexcept;
  uint8_t *(*Allocate)(size_t size) noexcept;
  void (*Chose)(Way way) noexcept;            // the way Open chose
  void (*Reached)(const char *point) noexcept; // "open", "written", "commit", "copying", "committed"
};
// The system calls the primitives make, by name, the same way: kOs and os
// (each system's Os.h says which).
struct Os;
extern const Calls kSystem;
extern const Os kOs;
#if defined(TLP_SAFE_WRITE_SEAMS)
extern Calls calls;
extern Os os;
#else
inline const Calls &calls = kSystem;
inline const Os &os = kOs;
#endif

// For the primitives: a name of its own for a file of this write's beside
// the file `name` (no folder): ".NAME.XXXXXXXX.tmp", NAME cut to whole
// characters within 32 bytes, XXXXXXXX letters and digits unlike those of
// any other call (random across processes).
std::string TemporaryName(const std::string &name);

} // namespace sys

// Failure injection for the tests (Seams.cpp and each system's own): off,
// and free, in the product.
namespace seams {
#if defined(TLP_SAFE_WRITE_SEAMS)
// Every call of the sequence through `calls`, and every system call of the
// primitives through their system's table, counts; the one numbered
// `failAt` (from 1) fails with `error`, or with `onward` every one from it
// on. 0: none fails.
void FailAt(long failAt, int error, bool onward = false) noexcept;
// Which call the last injected failure hit, for messages.
const char *Failed() noexcept;
// Whether this call, counted, is the one to fail (errno set): for the
// tables' entries.
bool Injected(const char *call) noexcept;
// Under Wine, take the rename path that Windows itself takes.
void RenameAsWindows(bool on) noexcept;
// Every replace refused, as for a mount point: the new bytes go in place.
void RefuseReplace(bool on) noexcept;
// A file system that cannot exchange two names (Linux): checked, then renamed.
void NoExchange(bool on) noexcept;
// A system without unnamed files (Linux): the new file is named from the start.
void NoUnnamed(bool on) noexcept;
// The way the last Open chose (kNone until one did).
Way Took() noexcept;
// `pause` runs when the sequence reaches `point` (null: never), for the
// tests that kill a writer there.
void PauseAt(const char *point, void (*pause)()) noexcept;
#endif
} // namespace seams

} // namespace TLP_SAFE_WRITE_BUILD
} // namespace safe_write
