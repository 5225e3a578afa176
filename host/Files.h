// The few file-system operations tga-host needs to read its inputs and to put
// its outputs in place safely, on POSIX and on Windows. Errors come back as
// errno values, so that messages use the C library's own words. The calls
// that differ are in posix/ and win32/ System.cpp; the rest in Files.cpp.
#pragma once

#include "SafeWrite.h"

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

// Whether this user may write the existing file `path`; `*error` says why not.
bool Writable(const std::string &path, int *error);

// Renames `from` to `to` only when `to` does not exist.
bool RenameToNew(const std::string &from, const std::string &to, int *error);

// The message for an errno value: the system's words, except that a folder is
// called a folder and a file in use is called so.
std::string ErrorText(int error);

// Under a file-size limit a write fails with an error instead of ending the
// program (POSIX raises SIGXFSZ). Windows has no such signal; under Wine a
// limit set with `ulimit -f` ends the program as it ends any other, and OUT
// stays whole because the new file is written under its temporary name.
void IgnoreFileSizeSignal();
