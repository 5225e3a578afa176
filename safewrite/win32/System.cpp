// The safe-write primitives on Windows. Under Wine no rename can carry a
// Unix file's mode, ACLs or attributes, so there every existing file is
// written in place behind a kept copy; Windows itself replaces through
// ReplaceFileA, which carries attributes and security.
#include "System.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <windows.h>

namespace safe_write {
inline namespace TLP_SAFE_WRITE_BUILD {
namespace sys {

namespace {

const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

HANDLE H(const File &file) { return reinterpret_cast<HANDLE>(file.handle); }
intptr_t Held(HANDLE handle) { return reinterpret_cast<intptr_t>(handle); }

} // namespace
} // namespace sys

int ErrnoOf(unsigned long code) {
  switch (code) {
  case ERROR_FILE_NOT_FOUND:
  case ERROR_PATH_NOT_FOUND:
  case ERROR_INVALID_NAME:
    return ENOENT;
  case ERROR_ACCESS_DENIED:
    return EACCES;
  case ERROR_SHARING_VIOLATION:
  case ERROR_LOCK_VIOLATION:
    return kInUse;
  case ERROR_FILE_EXISTS:
  case ERROR_ALREADY_EXISTS:
    return EEXIST;
  case ERROR_FILENAME_EXCED_RANGE:
    return ENAMETOOLONG;
  case ERROR_DISK_FULL:
  case ERROR_HANDLE_DISK_FULL:
    return ENOSPC;
  case ERROR_WRITE_PROTECT:
    return EROFS;
  case ERROR_NOT_ENOUGH_MEMORY:
  case ERROR_OUTOFMEMORY:
    return ENOMEM;
  default:
    return EIO;
  }
}

namespace sys {
namespace {

int LastError() { return ErrnoOf(GetLastError()); }

// The Windows code of an errno value that a test injects.
DWORD CodeOf(int error) {
  switch (error) {
  case ENOENT:
    return ERROR_FILE_NOT_FOUND;
  case EEXIST:
    return ERROR_FILE_EXISTS;
  case ENOSPC:
    return ERROR_DISK_FULL;
  default:
    return ERROR_GEN_FAILURE;
  }
}

// A system call's answer, or the failure a test injects in its place:
// `failed`, with the error set; the product never injects.
template <class R, class F> R Win(const char *name, R failed, F &&call) {
  if (seams::Injected(name)) {
    SetLastError(CodeOf(errno));
    return failed;
  }
  return call();
}

bool UnderWine() {
  static const bool wine =
      GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
  return wine;
}

// The full name of the file open as `file`, links followed: under Wine a
// Unix link looks like a plain file, and only the handle tells its target.
// The name is taken as long as the call says it wrote, in a buffer grown to
// the size it says it needs.
bool FinalName(HANDLE file, std::string *name) {
  std::string buffer(2 * MAX_PATH, '\0');
  for (int attempt = 0;; ++attempt) {
    const DWORD n = Win("GetFinalPathNameByHandleA", DWORD(0), [&] {
      return GetFinalPathNameByHandleA(file, &buffer[0], static_cast<DWORD>(buffer.size()), FILE_NAME_NORMALIZED);
    });
    if (n == 0 || (n >= buffer.size() && attempt > 0))
      return false;
    if (n < buffer.size()) {
      buffer.resize(n);
      break;
    }
    buffer.assign(size_t(n) + 1, '\0');
  }
  if (buffer.compare(0, 8, "\\\\?\\UNC\\") == 0)
    buffer = "\\\\" + buffer.substr(8);
  else if (buffer.compare(0, 4, "\\\\?\\") == 0)
    buffer = buffer.substr(4);
  *name = buffer;
  return true;
}

bool SetDeleted(HANDLE file, bool deleted) {
  FILE_DISPOSITION_INFO info;
  info.DeleteFile = deleted ? TRUE : FALSE;
  return SetFileInformationByHandle(file, FileDispositionInfo, &info, sizeof info) != 0;
}

// Every step that may fail goes through the seam; the steps that undo or
// let go (SetDeleted on the way out, CloseHandle) do not.
BOOL SetInformation(const char *name, HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, void *info, DWORD size) {
  return Win(name, FALSE, [&] { return SetFileInformationByHandle(file, kind, info, size); });
}
BOOL GetInformation(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, void *info, DWORD size) {
  return Win("GetFileInformationByHandleEx", FALSE, [&] { return GetFileInformationByHandleEx(file, kind, info, size); });
}
HANDLE Create(const char *path, DWORD access, DWORD disposition, DWORD flags) {
  return Win("CreateFileA", INVALID_HANDLE_VALUE,
             [&] { return CreateFileA(path, access, kShareAll, nullptr, disposition, flags, nullptr); });
}

bool SameFile(HANDLE a, HANDLE b) {
  FILE_ID_INFO x, y;
  return GetInformation(a, FileIdInfo, &x, sizeof x) && GetInformation(b, FileIdInfo, &y, sizeof y) &&
         x.VolumeSerialNumber == y.VolumeSerialNumber &&
         std::memcmp(&x.FileId, &y.FileId, sizeof x.FileId) == 0;
}

// A new file of a name of its own in `folder`, for reading, writing and
// deleting; the name is built here, so no length limit of a system call's
// buffer applies. INVALID_HANDLE_VALUE with the error set when none.
HANDLE MakeBeside(const std::string &folder, DWORD flags, std::string *name) {
  static LONG counter = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    char unique[32];
    wsprintfA(unique, "tlp%08lx.tmp",
              static_cast<unsigned long>(GetCurrentProcessId() * 2654435761u ^ GetTickCount() ^
                                         static_cast<DWORD>(InterlockedIncrement(&counter)) * 40503u));
    *name = folder + unique;
    const HANDLE file = Create(name->c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, CREATE_NEW, flags);
    if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS)
      return file;
  }
  return INVALID_HANDLE_VALUE;
}

} // namespace

int OpenExisting(const std::string &path, File *file, bool *readable) noexcept {
  HANDLE h = Create(path.c_str(), GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
  *readable = h != INVALID_HANDLE_VALUE;
  if (h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED)
    h = Create(path.c_str(), GENERIC_WRITE, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
  if (h == INVALID_HANDLE_VALUE)
    return LastError();
  file->handle = Held(h);
  return 0;
}

int CreateNew(const std::string &path, bool, File *file) {
  const DWORD access = GENERIC_READ | GENERIC_WRITE | DELETE;
  HANDLE h = Create(path.c_str(), access, CREATE_NEW, FILE_ATTRIBUTE_NORMAL);
  // Under Wine a dangling Unix link is a name that exists but opens nothing:
  // its target is made, as a plain open would, and only where it is new.
  if (h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS) {
    h = Create(path.c_str(), access, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL);
    if (h != INVALID_HANDLE_VALUE && GetLastError() == ERROR_ALREADY_EXISTS) {
      CloseHandle(h);
      return EEXIST;
    }
  }
  if (h == INVALID_HANDLE_VALUE)
    return LastError();
  file->handle = Held(h);
  return 0;
}

void RemoveCreated(const std::string &, const File &file) {
  // Emptied first, so nothing stays even where the name cannot go; then
  // deleted through the handle, which names the file itself, never a link.
  FILE_END_OF_FILE_INFO end{};
  SetFileInformationByHandle(H(file), FileEndOfFileInfo, &end, sizeof end);
  SetDeleted(H(file), true);
}

int Inspect(const File &file, Facts *facts) {
  if (!file.Open()) // a new file that could not be opened again after its replace failed
    return EBADF;
  // A type the system could not tell is a failure, never a device: a disk
  // file taken for one would be written without a copy of its old bytes.
  SetLastError(NO_ERROR);
  const DWORD type = Win("GetFileType", DWORD(FILE_TYPE_UNKNOWN), [&] { return GetFileType(H(file)); });
  if (type == FILE_TYPE_UNKNOWN && GetLastError() != NO_ERROR)
    return LastError();
  if (type != FILE_TYPE_DISK) {
    *facts = Facts{};
    return 0;
  }
  FILE_STANDARD_INFO info;
  if (!GetInformation(H(file), FileStandardInfo, &info, sizeof info))
    return LastError();
  facts->regular = !info.Directory;
  facts->replaceable = info.NumberOfLinks == 1 && (!UnderWine() || seams::RenameAsWindows());
  facts->size = static_cast<uint64_t>(info.EndOfFile.QuadPart);
  return 0;
}

int MakeSibling(const std::string &, const File &old, Sibling *sibling) {
  if (!FinalName(H(old), &sibling->target))
    return LastError();
  const size_t slash = LastSeparator(sibling->target);
  if (slash == std::string::npos)
    return ENOENT;
  const HANDLE file = MakeBeside(sibling->target.substr(0, slash + 1), FILE_ATTRIBUTE_NORMAL, &sibling->temporary);
  if (file == INVALID_HANDLE_VALUE) {
    sibling->temporary.clear();
    return LastError();
  }
  sibling->file.handle = Held(file);
  // No name keeps it should the process die before it is complete: the
  // disposition is cleared just before the replace. (Never delete-on-close,
  // whose disposition cannot be cleared.)
  FILE_DISPOSITION_INFO deleted;
  deleted.DeleteFile = TRUE;
  if (!SetInformation("SetFileInformationByHandle", file, FileDispositionInfo, &deleted, sizeof deleted))
    return LastError();
  // The attributes the replace keeps, set first: under Wine it keeps none.
  FILE_BASIC_INFO basic;
  if (!GetInformation(H(old), FileBasicInfo, &basic, sizeof basic))
    return LastError();
  FILE_BASIC_INFO carried{};
  carried.FileAttributes = basic.FileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                                   FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
  if (carried.FileAttributes != 0 &&
      !SetInformation("SetFileInformationByHandle", file, FileBasicInfo, &carried, sizeof carried))
    return LastError();
  return 0;
}

int Replace(Sibling *sibling, const File &old) {
  // Only the file opened at the start is replaced.
  const HANDLE now =
      Create(sibling->target.c_str(), 0, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT);
  if (now == INVALID_HANDLE_VALUE)
    return kNameChanged;
  const bool same = SameFile(now, H(old));
  CloseHandle(now);
  if (!same)
    return kNameChanged;
  FILE_DISPOSITION_INFO kept;
  kept.DeleteFile = FALSE;
  if (!SetInformation("SetFileInformationByHandle", H(sibling->file), FileDispositionInfo, &kept, sizeof kept))
    return LastError();
  CloseHandle(H(sibling->file));
  sibling->file.handle = -1;
  if (Win("ReplaceFileA", FALSE, [&] {
        return ReplaceFileA(sibling->target.c_str(), sibling->temporary.c_str(), nullptr,
                            REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr);
      })) {
    sibling->temporary.clear();
    return 0;
  }
  const int error = LastError();
  // Open again, to be copied in place or dropped.
  const HANDLE file = Create(sibling->temporary.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, OPEN_EXISTING, 0);
  if (file != INVALID_HANDLE_VALUE) {
    sibling->file.handle = Held(file);
    SetDeleted(file, true);
  }
  return error;
}

void DropSibling(Sibling *sibling) {
  if (sibling->file.Open() && SetDeleted(H(sibling->file), true))
    sibling->temporary.clear();
  Close(&sibling->file);
  if (!sibling->temporary.empty())
    DeleteFileA(sibling->temporary.c_str());
  sibling->temporary.clear();
}

int MakeScratch(const std::string &path, File *file) {
  const size_t slash = LastSeparator(path);
  char system[MAX_PATH + 1];
  const DWORD n = Win("GetTempPathA", DWORD(0), [&] { return GetTempPathA(sizeof system, system); });
  const std::string folders[] = {slash == std::string::npos ? std::string(".\\") : path.substr(0, slash + 1),
                                 n > 0 && n < sizeof system ? std::string(system, n) : std::string()};
  for (const std::string &folder : folders) {
    if (folder.empty())
      continue;
    // Read and written only here: it may go when closed.
    std::string name;
    const HANDLE h = MakeBeside(folder, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, &name);
    if (h != INVALID_HANDLE_VALUE) {
      file->handle = Held(h);
      return 0;
    }
  }
  return LastError();
}

int ReadAt(const File &file, uint64_t offset, void *buffer, size_t size, size_t *got) noexcept {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD n = 0;
  const DWORD want = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
  if (!Win("ReadFile", FALSE, [&] { return ReadFile(H(file), buffer, want, &n, &at); }) &&
      GetLastError() != ERROR_HANDLE_EOF)
    return LastError();
  *got = n;
  return 0;
}

int WriteAt(const File &file, uint64_t offset, const void *buffer, size_t size) noexcept {
  const char *from = static_cast<const char *>(buffer);
  while (size > 0) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD n = 0;
    const DWORD want = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
    if (!Win("WriteFile", FALSE, [&] { return WriteFile(H(file), from, want, &n, &at); }))
      return LastError();
    if (n == 0)
      return EIO;
    from += n, offset += n, size -= n;
  }
  return 0;
}

int Truncate(const File &file, uint64_t size) noexcept {
  FILE_END_OF_FILE_INFO end;
  end.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
  return SetInformation("SetFileInformationByHandle", H(file), FileEndOfFileInfo, &end, sizeof end) ? 0 : LastError();
}

int Position(const File &file, uint64_t *position) noexcept {
  LARGE_INTEGER zero{}, at{};
  if (!Win("SetFilePointerEx", FALSE, [&] { return SetFilePointerEx(H(file), zero, &at, FILE_CURRENT); }))
    return LastError();
  *position = static_cast<uint64_t>(at.QuadPart);
  return 0;
}

std::FILE *Stream(const File &file) {
  HANDLE second = INVALID_HANDLE_VALUE;
  if (!Win("DuplicateHandle", FALSE, [&] {
        return DuplicateHandle(GetCurrentProcess(), H(file), GetCurrentProcess(), &second, 0, FALSE,
                               DUPLICATE_SAME_ACCESS);
      })) {
    errno = LastError();
    return nullptr;
  }
  const int fd = Win("_open_osfhandle", -1, [&] { return _open_osfhandle(Held(second), _O_BINARY); });
  if (fd < 0) {
    CloseHandle(second);
    return nullptr;
  }
  _lseeki64(fd, 0, SEEK_SET); // a device has no position
  std::FILE *stream = Win("_fdopen", static_cast<std::FILE *>(nullptr), [&] { return _fdopen(fd, "wb"); });
  if (!stream)
    _close(fd);
  return stream;
}

void Close(File *file) {
  if (file->Open())
    CloseHandle(H(*file));
  file->handle = -1;
}

} // namespace sys

size_t LastSeparator(const std::string &path) {
  size_t last = std::string::npos;
  for (const char *p = path.c_str(); *p; p = CharNextA(p))
    if (*p == '\\' || *p == '/')
      last = static_cast<size_t>(p - path.c_str());
  return last;
}

std::string FollowLinks(const std::string &path) {
  const HANDLE h = CreateFileA(path.c_str(), 0, sys::kShareAll, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE)
    return path;
  std::string target;
  const bool named = sys::FinalName(h, &target);
  CloseHandle(h);
  if (!named)
    return path;
  // The name as given where it names the file itself: no link on the way.
  char full[2 * MAX_PATH];
  const DWORD m = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
  if (m > 0 && m < sizeof full && lstrcmpiA(full, target.c_str()) == 0)
    return path;
  return target;
}

} // namespace TLP_SAFE_WRITE_BUILD
} // namespace safe_write
