#include "OutputFile.h"

#include <io.h>
#include <windows.h>

namespace output_file {

namespace {

const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The full name of the file open as `file` under `path`, a link's target for
// a symbolic link, and in `*folder` the folder it is in; empty when it cannot
// be told. The C runtime's code page splits the name, so a trailing byte 0x5C
// is never taken for a separator.
std::string FinalName(HANDLE file, const std::string &path, std::string *folder) {
  std::string name = path;
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES)
    return "";
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    char final[2 * MAX_PATH];
    const DWORD n = GetFinalPathNameByHandleA(file, final, sizeof final, FILE_NAME_NORMALIZED);
    if (n == 0 || n >= sizeof final)
      return "";
    name.assign(final, n);
    if (name.compare(0, 8, "\\\\?\\UNC\\") == 0)
      name = "\\\\" + name.substr(8);
    else if (name.compare(0, 4, "\\\\?\\") == 0)
      name = name.substr(4);
  }
  // Full names also for the replace: relative ones fail there under Wine.
  char full[MAX_PATH];
  char *base = nullptr;
  const DWORD m = GetFullPathNameA(name.c_str(), sizeof full, full, &base);
  if (m == 0 || m >= sizeof full || base == nullptr)
    return "";
  folder->assign(full, static_cast<size_t>(base - full));
  return full;
}

// Undoes a failed write on the file open as `held`: emptied before it is
// closed, so that nothing partial stays even where the name cannot go, then
// deleted when `name` is its only name. A symbolic link or junction is a
// reparse point, a name of the user's, never deleted; a device is left as it
// is. The C runtime opens files without sharing deletion, so until the close
// the name still refers to this file.
void Discard(int held, const std::string &name) {
  HANDLE file = reinterpret_cast<HANDLE>(_get_osfhandle(held));
  // Only the file's own facts: GetFileInformationByHandle would also ask the
  // volume for its serial number, a round trip to the mount manager that
  // under Wine can block for good.
  FILE_STANDARD_INFO info;
  if (GetFileType(file) != FILE_TYPE_DISK ||
      !GetFileInformationByHandleEx(file, FileStandardInfo, &info, sizeof info)) {
    _close(held);
    return;
  }
  const DWORD attributes = GetFileAttributesA(name.c_str());
  const bool soleName = info.NumberOfLinks == 1 && attributes != INVALID_FILE_ATTRIBUTES &&
                        (attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) == 0;
  _chsize(held, 0);
  _close(held);
  if (soleName)
    DeleteFileA(name.c_str());
}

// The attributes a replaced file keeps. Under Wine the replace carries none
// over, so the temporary file takes them first.
const DWORD kCarriedAttributes =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// Puts the complete temporary file in place of `target`, which keeps its
// attributes and security. Where the file system cannot replace, a plain
// rename over it.
bool Replace(const std::string &target, const std::string &temporary, DWORD attributes) {
  if (attributes != 0)
    SetFileAttributesA(temporary.c_str(), attributes);
  if (ReplaceFileA(target.c_str(), temporary.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                   nullptr, nullptr))
    return true;
  if (MoveFileExA(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING))
    return true;
  if (!DeleteFileA(temporary.c_str())) {
    HANDLE left = CreateFileA(temporary.c_str(), GENERIC_WRITE, kShareAll, nullptr,
                              TRUNCATE_EXISTING, 0, nullptr);
    if (left != INVALID_HANDLE_VALUE)
      CloseHandle(left);
  }
  return false;
}

} // namespace

std::FILE *TOutputFile::Open() {
  // Opening with the right to delete, which replacing takes, and without
  // truncating: this also tests this user's right to write the file before
  // anything else is decided.
  HANDLE file = CreateFileA(Path.c_str(), GENERIC_WRITE | DELETE, kShareAll, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  const bool deletable = file != INVALID_HANDLE_VALUE;
  if (!deletable) {
    const DWORD error = GetLastError();
    if (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION)
      return std::fopen(Path.c_str(), "wb"); // a new file, or no file at all
    // Held by a program that shares no deletion, or writable but not
    // deletable: written in place, if it may be written at all.
    file = CreateFileA(Path.c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
      return nullptr;
  }
  FILE_STANDARD_INFO info;
  if (deletable && GetFileType(file) == FILE_TYPE_DISK &&
      GetFileInformationByHandleEx(file, FileStandardInfo, &info, sizeof info) &&
      !info.Directory && info.NumberOfLinks == 1) {
    std::string folder;
    const std::string target = FinalName(file, Path, &folder);
    char temporary[MAX_PATH];
    if (!target.empty() && GetTempFileNameA(folder.c_str(), "tlp", 0, temporary) != 0) {
      Target = target;
      Temporary = temporary;
      const DWORD attributes = GetFileAttributesA(target.c_str());
      Carried = attributes == INVALID_FILE_ATTRIBUTES ? 0 : attributes & kCarriedAttributes;
    }
  }
  CloseHandle(file);
  if (!Temporary.empty()) {
    if (std::FILE *stream = std::fopen(Temporary.c_str(), "wb"))
      return stream;
    DeleteFileA(Temporary.c_str());
    Temporary.clear();
  }
  return std::fopen(Path.c_str(), "wb");
}

bool TOutputFile::Close(std::FILE *stream, bool complete) {
  // A second handle keeps the file open after the stream has flushed and
  // closed, so that a failure at the close is still undone on this file.
  const int held = _dup(_fileno(stream));
  const bool closed = std::fclose(stream) == 0;
  const std::string written = Temporary.empty() ? Path : Temporary;
  const bool replacing = !Temporary.empty();
  Temporary.clear();
  if (!complete || !closed) {
    if (held >= 0)
      Discard(held, written);
    else if (replacing)
      DeleteFileA(written.c_str());
    return false;
  }
  if (held >= 0)
    _close(held);
  return !replacing || Replace(Target, written, Carried);
}

} // namespace output_file
