// The few file-system operations tga-host needs to read its inputs and to put
// its outputs in place safely, on POSIX and on Windows. Errors come back as
// errno values, so that messages use the C library's own words.
#pragma once

#include "SafeWrite.h"

#include <cstdint>
#include <string>

enum class FileKind {
  Missing, // nothing there (or a folder on the way is missing)
  Regular,
  Folder,
  Other,   // a pipe, device or socket
  Unknown, // cannot be told: see the error
};

// What `path` is, links followed; `*error` is set for Missing and Unknown.
FileKind KindOf(const std::string &path, int *error);

// Where the last folder separator of `path` is (npos for none): '/' on
// POSIX; '/' or '\\' on Windows, read in the system's code page, where a
// '\\' byte can also be the second byte of a character.
size_t LastSeparator(const std::string &path);

// The size in bytes of the file `path`; false when it cannot be told.
bool SizeOf(const std::string &path, uint64_t *size);

// Whether this user may write the existing file `path`; `*error` says why not.
bool Writable(const std::string &path, int *error);

using safe_write::FollowLinks;

// A name of its own beside `path` (same folder, so that a kept partial file
// is renamed within it) for a new file, which a writer then creates: the
// name is proven free by creating it, and freed again. False with `*error`
// set when the folder takes no file.
bool MakeTemporaryBeside(const std::string &path, std::string *temporary, int *error);

// Renames `from` to `to` only when `to` does not exist.
bool RenameToNew(const std::string &from, const std::string &to, int *error);

// Removes the file `path` names; no error when it is already gone.
void RemoveFile(const std::string &path);

// Beside the errno values: a file another program keeps open without
// letting others write it (Windows' sharing rules), and a name that holds
// another file than the one opened at the start.
const int kErrorInUse = safe_write::kInUse;
const int kErrorNameChanged = safe_write::kNameChanged;

// The message for an errno value: the system's words, except that a folder is
// called a folder and a file in use is called so.
std::string ErrorText(int error);

// The errno value that matches a Windows error code, for messages in one
// style.
using safe_write::ErrnoOf;

// Under a file-size limit a write fails with an error instead of ending the
// program (POSIX raises SIGXFSZ). Windows has no such signal; under Wine a
// limit set with `ulimit -f` ends the program as it ends any other, and OUT
// stays whole because the new file is written under its temporary name.
void IgnoreFileSizeSignal();
