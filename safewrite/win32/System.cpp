// The safe-write primitives on Windows. Under Wine no rename can carry a
// Unix file's mode, ACLs or attributes, so there every existing file is
// written in place behind a kept copy; Windows itself replaces through
// ReplaceFileA, which carries attributes and security.
#include "win32/Errno.h"
#include "win32/Os.h"

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

bool UnderWine() {
  static const bool wine =
      GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
  return wine;
}

} // namespace

const Os kOs = {::CreateFileA,      ::GetFinalPathNameByHandleA,
                ::GetFileType,      ::GetFileInformationByHandleEx,
                ::SetFileInformationByHandle, ::ReplaceFileA,
                ::DeleteFileA,      ::GetTempPathA,
                ::CreateDirectoryA, ::LockFileEx,
                ::FlushFileBuffers, ::ReadFile,
                ::WriteFile,        ::DuplicateHandle,
                ::_open_osfhandle,  ::_fdopen,
                ::_ftelli64,        UnderWine};

namespace {

// The full name of the file open as `file`, links followed: under Wine a
// Unix link looks like a plain file, and only the handle tells its target.
// The name is taken as long as the call says it wrote, in a buffer grown to
// the size it says it needs.
bool FinalName(HANDLE file, std::string *name) {
  std::string buffer(2 * MAX_PATH, '\0');
  for (int attempt = 0;; ++attempt) {
    const DWORD n =
        os.GetFinalPathNameByHandleA(file, &buffer[0], static_cast<DWORD>(buffer.size()), FILE_NAME_NORMALIZED);
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

HANDLE Create(const char *path, DWORD access, DWORD disposition, DWORD flags) {
  return os.CreateFileA(path, access, kShareAll, nullptr, disposition, flags, nullptr);
}

bool SameFile(HANDLE a, HANDLE b) {
  FILE_ID_INFO x, y;
  return os.GetFileInformationByHandleEx(a, FileIdInfo, &x, sizeof x) &&
         os.GetFileInformationByHandleEx(b, FileIdInfo, &y, sizeof y) &&
         x.VolumeSerialNumber == y.VolumeSerialNumber &&
         std::memcmp(&x.FileId, &y.FileId, sizeof x.FileId) == 0;
}

// A new file beside `folder` + `name` (a file's own name) of a name of its
// own, for reading, writing and deleting; the name is built here, so no
// length limit of a system call's buffer applies. INVALID_HANDLE_VALUE with
// the error set when none.
HANDLE MakeBeside(const std::string &folder, const std::string &name, std::string *made) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    *made = folder + TemporaryName(name);
    const HANDLE file = Create(made->c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, CREATE_NEW, FILE_ATTRIBUTE_NORMAL);
    if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS)
      return file;
  }
  return INVALID_HANDLE_VALUE;
}

// No name keeps the file should the process die before it must survive.
// (Never delete-on-close, whose disposition cannot be cleared.)
int Doomed(HANDLE file, bool deleted) {
  FILE_DISPOSITION_INFO info;
  info.DeleteFile = deleted ? TRUE : FALSE;
  return os.SetFileInformationByHandle(file, FileDispositionInfo, &info, sizeof info) ? 0 : LastError();
}

// The user's own folder for the copies of files written in place, in the
// system's temporary folder, which only the user may enter. Under Wine an
// entry for the user's own account gives the Unix group the same rights;
// one for the descriptor's owner alone, where that owner is no account of
// the user's (Creator Owner), gives a folder of mode 0700.
int PrivateFolder(std::string *folder) {
  char temp[MAX_PATH + 1];
  const DWORD n = os.GetTempPathA(sizeof temp, temp);
  if (n == 0 || n >= sizeof temp)
    return n == 0 ? LastError() : ENAMETOOLONG;
  *folder = std::string(temp, n) + "Targa plug-in\\";
  SID_IDENTIFIER_AUTHORITY creator = SECURITY_CREATOR_SID_AUTHORITY;
  PSID owner = nullptr;
  if (!AllocateAndInitializeSid(&creator, 1, SECURITY_CREATOR_OWNER_RID, 0, 0, 0, 0, 0, 0, 0, &owner))
    return LastError();
  alignas(8) char aclBytes[128];
  ACL *acl = reinterpret_cast<ACL *>(aclBytes);
  SECURITY_DESCRIPTOR sd;
  const bool described =
      InitializeAcl(acl, sizeof aclBytes, ACL_REVISION) &&
      AddAccessAllowedAceEx(acl, ACL_REVISION, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, GENERIC_ALL, owner) &&
      InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION) && SetSecurityDescriptorOwner(&sd, owner, FALSE) &&
      SetSecurityDescriptorDacl(&sd, TRUE, acl, FALSE) &&
      SetSecurityDescriptorControl(&sd, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
  SECURITY_ATTRIBUTES sa{sizeof sa, &sd, FALSE};
  BOOL made = os.CreateDirectoryA(folder->c_str(), described ? &sa : nullptr);
  // Windows takes no such owner: there the folder inherits the rights of
  // the user's own temporary folder. Wine takes it (Wine itself, whatever
  // rename path a test takes), and a folder it failed to make so is made
  // on a later write, never one that others may enter.
  if (!made && GetLastError() != ERROR_ALREADY_EXISTS && !UnderWine())
    made = CreateDirectoryA(folder->c_str(), nullptr);
  const DWORD error = GetLastError();
  FreeSid(owner);
  return made || error == ERROR_ALREADY_EXISTS ? 0 : ErrnoOf(error);
}

} // namespace

int CreateNew(const std::string &path) noexcept {
  const HANDLE file = Create(path.c_str(), GENERIC_WRITE, CREATE_NEW, FILE_ATTRIBUTE_NORMAL);
  if (file == INVALID_HANDLE_VALUE)
    return LastError();
  CloseHandle(file);
  return 0;
}

size_t CharacterStart(const std::string &s, size_t from, size_t at) noexcept {
  size_t next = from;
  while (next < at)
    next = static_cast<size_t>(CharNextA(s.c_str() + next) - s.c_str());
  if (next == at)
    return at;
  return static_cast<size_t>(CharPrevA(s.c_str() + from, s.c_str() + next) - s.c_str());
}

int OpenExisting(const std::string &path, File *file) noexcept {
  // For writing alone (and its facts): under Wine a pipe opened for reading
  // too would make this process its reader, and a write would wait for ever
  // once the real one quits.
  const HANDLE h = Create(path.c_str(), GENERIC_WRITE | FILE_READ_ATTRIBUTES, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
  if (h == INVALID_HANDLE_VALUE)
    return LastError();
  file->handle = Held(h);
  return 0;
}

int Inspect(const File &file, Facts *facts) {
  if (!file.Open()) // a new file that could not be opened again after its replace failed
    return EBADF;
  // A type the system could not tell is a failure, never a device: a disk
  // file taken for one would be written without a copy of its new bytes.
  SetLastError(NO_ERROR);
  const DWORD type = os.GetFileType(H(file));
  if (type == FILE_TYPE_UNKNOWN && GetLastError() != NO_ERROR)
    return LastError();
  if (type != FILE_TYPE_DISK) {
    *facts = Facts{};
    return 0;
  }
  FILE_STANDARD_INFO info;
  if (!os.GetFileInformationByHandleEx(H(file), FileStandardInfo, &info, sizeof info))
    return LastError();
  facts->regular = !info.Directory;
  facts->links = static_cast<uint32_t>(info.NumberOfLinks);
  facts->wine = os.UnderWine();
  facts->size = static_cast<uint64_t>(info.EndOfFile.QuadPart);
  return 0;
}

int MakeNew(const std::string &path, bool, Temporary *made) {
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
  made->file.handle = Held(h);
  made->name = path;
  made->atTarget = true;
  return Doomed(h, true);
}

int Publish(Temporary *made) {
  if (int e = Doomed(H(made->file), false))
    return e;
  made->name.clear();
  made->atTarget = false;
  return 0;
}

int MakeSibling(const std::string &, const File &old, Temporary *sibling) {
  if (!FinalName(H(old), &sibling->target))
    return LastError();
  const size_t slash = LastSeparator(sibling->target);
  if (slash == std::string::npos)
    return ENOENT;
  const HANDLE file =
      MakeBeside(sibling->target.substr(0, slash + 1), sibling->target.substr(slash + 1), &sibling->name);
  if (file == INVALID_HANDLE_VALUE) {
    sibling->name.clear();
    return LastError();
  }
  sibling->file.handle = Held(file);
  if (int e = Doomed(file, true))
    return e;
  // The attributes the replace keeps, set first: under Wine it keeps none.
  FILE_BASIC_INFO basic;
  if (!os.GetFileInformationByHandleEx(H(old), FileBasicInfo, &basic, sizeof basic))
    return LastError();
  FILE_BASIC_INFO carried{};
  carried.FileAttributes = basic.FileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                                   FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
  if (carried.FileAttributes != 0 &&
      !os.SetFileInformationByHandle(file, FileBasicInfo, &carried, sizeof carried))
    return LastError();
  return 0;
}

int Replace(Temporary *sibling, const File &old) {
  // Only the file opened at the start is replaced, never a link put there.
  const HANDLE now =
      Create(sibling->target.c_str(), 0, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT);
  if (now == INVALID_HANDLE_VALUE)
    return kNameChanged;
  const bool same = SameFile(now, H(old));
  CloseHandle(now);
  if (!same)
    return kNameChanged;
  if (int e = Doomed(H(sibling->file), false))
    return e;
  CloseHandle(H(sibling->file));
  sibling->file.handle = -1;
  if (os.ReplaceFileA(sibling->target.c_str(), sibling->name.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr,
                      nullptr)) {
    sibling->name.clear();
    return 0;
  }
  const int error = LastError();
  // Open again, to be copied in place or dropped.
  const HANDLE file = Create(sibling->name.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, OPEN_EXISTING, 0);
  if (file != INVALID_HANDLE_VALUE) {
    sibling->file.handle = Held(file);
    SetDeleted(file, true);
  }
  return error;
}

int MakeCopy(const std::string &, const File &old, Temporary *copy) {
  std::string folder, own;
  if (int e = PrivateFolder(&folder))
    return e;
  // Named after the file, so that a copy a kill leaves tells whose it is.
  if (FinalName(H(old), &own))
    own = own.substr(LastSeparator(own) + 1); // npos + 1: the whole
  else
    own.clear();
  const HANDLE file = MakeBeside(folder, own, &copy->name);
  if (file == INVALID_HANDLE_VALUE) {
    copy->name.clear();
    return LastError();
  }
  copy->file.handle = Held(file);
  return Doomed(file, true);
}

int Keep(Temporary *copy) { return Doomed(H(copy->file), false); }

int Drop(Temporary *made) {
  int error = 0;
  if (made->file.Open() && !made->name.empty()) {
    // A file made under its name is emptied first, so nothing stays even
    // where the name cannot go.
    if (made->atTarget) {
      FILE_END_OF_FILE_INFO end{};
      SetFileInformationByHandle(H(made->file), FileEndOfFileInfo, &end, sizeof end);
    }
    if (SetDeleted(H(made->file), true))
      made->name.clear();
  }
  Close(&made->file);
  if (!made->name.empty() && !os.DeleteFileA(made->name.c_str()))
    error = LastError();
  made->name.clear();
  made->atTarget = false;
  return error;
}

namespace {
// How long a writer waits for another writer of ours: 5 s in all.
const int kLockTries = 500;
const DWORD kLockPause = 10;
// A byte far beyond any file's end: readers are never held.
OVERLAPPED LockedByte() {
  OVERLAPPED at{};
  at.OffsetHigh = 0x40000000;
  return at;
}
} // namespace

int Lock(const File &file) noexcept {
  for (int attempt = 0; attempt < kLockTries; ++attempt) {
    OVERLAPPED at = LockedByte();
    if (os.LockFileEx(H(file), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at))
      return 0;
    if (GetLastError() != ERROR_LOCK_VIOLATION && GetLastError() != ERROR_IO_PENDING)
      return LastError();
    Sleep(kLockPause);
  }
  return EWOULDBLOCK;
}

void Unlock(const File &file) noexcept {
  OVERLAPPED at = LockedByte();
  UnlockFileEx(H(file), 0, 1, 0, &at);
}

int StillNamed(const std::string &path, const File &file) noexcept {
  const HANDLE now = Create(path.c_str(), 0, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
  if (now == INVALID_HANDLE_VALUE)
    return kNameChanged;
  const bool same = SameFile(now, H(file));
  CloseHandle(now);
  return same ? 0 : kNameChanged;
}

int Flush(const File &file) noexcept {
  return os.FlushFileBuffers(H(file)) ? 0 : LastError();
}

int ReadAt(const File &file, uint64_t offset, void *buffer, size_t size, size_t *got) noexcept {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD n = 0;
  const DWORD want = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
  if (!os.ReadFile(H(file), buffer, want, &n, &at) && GetLastError() != ERROR_HANDLE_EOF)
    return LastError();
  *got = n;
  return 0;
}

int WriteAt(const File &file, uint64_t offset, const void *buffer, size_t size, size_t *wrote) noexcept {
  const char *from = static_cast<const char *>(buffer);
  size_t dummy = 0;
  size_t &done = wrote ? *wrote : dummy;
  done = 0;
  while (size > 0) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD n = 0;
    const DWORD want = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
    if (!os.WriteFile(H(file), from, want, &n, &at))
      return LastError();
    if (n == 0)
      return EIO;
    from += n, offset += n, size -= n, done += n;
  }
  return 0;
}

int Truncate(const File &file, uint64_t size) noexcept {
  FILE_END_OF_FILE_INFO end;
  end.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
  return os.SetFileInformationByHandle(H(file), FileEndOfFileInfo, &end, sizeof end) ? 0 : LastError();
}

int Told(std::FILE *stream, uint64_t *bytes) noexcept {
  const __int64 at = os._ftelli64(stream);
  if (at < 0)
    return errno;
  *bytes = static_cast<uint64_t>(at);
  return 0;
}

std::FILE *Stream(const File &file) {
  HANDLE second = INVALID_HANDLE_VALUE;
  if (!os.DuplicateHandle(GetCurrentProcess(), H(file), GetCurrentProcess(), &second, 0, FALSE,
                          DUPLICATE_SAME_ACCESS)) {
    errno = LastError();
    return nullptr;
  }
  const int fd = os._open_osfhandle(Held(second), _O_BINARY);
  if (fd < 0) {
    CloseHandle(second);
    return nullptr;
  }
  _lseeki64(fd, 0, SEEK_SET); // a device has no position
  std::FILE *stream = os._fdopen(fd, "wb");
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
