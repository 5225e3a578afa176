// The few file-system operations tga-host needs to read its inputs and to put
// its outputs in place safely, on POSIX and on Windows. Errors come back as
// errno values, so that messages use the C library's own words.
#pragma once

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

// The file that `path` finally names once symbolic links are followed, which
// need not exist yet; `path` itself where there are no links.
std::string FollowLinks(const std::string &path);

// Makes a new empty file with a name of its own beside `path` (same folder,
// so that a rename is atomic), with the permissions a new file gets. False
// with `*error` set when none can be made.
bool MakeTemporaryBeside(const std::string &path, std::string *temporary, int *error);

// Renames `from` to `to`, replacing the file `to` names; `from` takes over
// its permissions and, where allowed, its owner (POSIX).
bool ReplaceWith(const std::string &from, const std::string &to, int *error);

// Renames `from` to `to` only when `to` does not exist.
bool RenameToNew(const std::string &from, const std::string &to, int *error);

// Removes the file `path` names; no error when it is already gone.
void RemoveFile(const std::string &path);

// Beside the errno values: a file another program keeps open without
// letting others replace it (Windows' sharing rules).
const int kErrorInUse = -2;

// The message for an errno value: the system's words, except that a folder is
// called a folder and a file in use is called so.
std::string ErrorText(int error);

#if defined(_WIN32)
// The errno value that matches a Windows error code, for messages in one
// style.
int ErrnoOf(unsigned long error);
#endif

// Under a file-size limit a write fails with an error instead of ending the
// program (POSIX raises SIGXFSZ; so does Linux under Wine).
void IgnoreFileSizeSignal();

// The file-size limit this process runs under, in bytes; false for none
// (or none that can be told: Windows itself has none).
bool FileSizeLimit(uint64_t *limit);
