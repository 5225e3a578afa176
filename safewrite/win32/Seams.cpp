// The tests' build of the Windows primitives' system calls: each counts, and
// fails in its place when a test asks, with the Windows code of the errno
// value injected; a test may also take Windows' own path under Wine.
#include "win32/Os.h"

#include <cerrno>

namespace safe_write {
inline namespace TLP_SAFE_WRITE_BUILD {
namespace sys {
namespace {

// Whether this call fails, with the Windows code of the failure set.
bool Fails(const char *call) {
  if (!seams::Injected(call))
    return false;
  switch (errno) {
  case ENOENT:
    SetLastError(ERROR_FILE_NOT_FOUND);
    break;
  case EEXIST:
    SetLastError(ERROR_FILE_EXISTS);
    break;
  case ENOSPC:
    SetLastError(ERROR_DISK_FULL);
    break;
  default:
    SetLastError(ERROR_GEN_FAILURE);
  }
  return true;
}

} // namespace

Os os = {
    [](LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
       HANDLE model) WINAPI {
      return Fails("CreateFileA") ? INVALID_HANDLE_VALUE
                                  : kOs.CreateFileA(path, access, share, security, disposition, flags, model);
    },
    [](HANDLE file, LPSTR name, DWORD size, DWORD flags) WINAPI {
      return Fails("GetFinalPathNameByHandleA") ? DWORD(0) : kOs.GetFinalPathNameByHandleA(file, name, size, flags);
    },
    [](HANDLE file) WINAPI { return Fails("GetFileType") ? DWORD(FILE_TYPE_UNKNOWN) : kOs.GetFileType(file); },
    [](HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID info, DWORD size) WINAPI {
      return Fails("GetFileInformationByHandleEx") ? FALSE : kOs.GetFileInformationByHandleEx(file, kind, info, size);
    },
    [](HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID info, DWORD size) WINAPI {
      return Fails("SetFileInformationByHandle") ? FALSE : kOs.SetFileInformationByHandle(file, kind, info, size);
    },
    [](LPCSTR replaced, LPCSTR replacement, LPCSTR backup, DWORD flags, LPVOID exclude, LPVOID reserved) WINAPI {
      return Fails("ReplaceFileA") ? FALSE : kOs.ReplaceFileA(replaced, replacement, backup, flags, exclude, reserved);
    },
    [](LPCSTR path) WINAPI { return Fails("DeleteFileA") ? FALSE : kOs.DeleteFileA(path); },
    [](DWORD size, LPSTR path) WINAPI { return Fails("GetTempPathA") ? DWORD(0) : kOs.GetTempPathA(size, path); },
    [](LPCSTR path, LPSECURITY_ATTRIBUTES security) WINAPI {
      return Fails("CreateDirectoryA") ? FALSE : kOs.CreateDirectoryA(path, security);
    },
    [](HANDLE file, DWORD flags, DWORD reserved, DWORD low, DWORD high, LPOVERLAPPED at) WINAPI {
      return Fails("LockFileEx") ? FALSE : kOs.LockFileEx(file, flags, reserved, low, high, at);
    },
    [](HANDLE file) WINAPI { return Fails("FlushFileBuffers") ? FALSE : kOs.FlushFileBuffers(file); },
    [](HANDLE file, LPVOID buffer, DWORD size, LPDWORD got, LPOVERLAPPED at) WINAPI {
      return Fails("ReadFile") ? FALSE : kOs.ReadFile(file, buffer, size, got, at);
    },
    [](HANDLE file, LPCVOID buffer, DWORD size, LPDWORD wrote, LPOVERLAPPED at) WINAPI {
      return Fails("WriteFile") ? FALSE : kOs.WriteFile(file, buffer, size, wrote, at);
    },
    [](HANDLE fromProcess, HANDLE from, HANDLE toProcess, LPHANDLE to, DWORD access, BOOL inherit,
       DWORD options) WINAPI {
      return Fails("DuplicateHandle") ? FALSE
                                      : kOs.DuplicateHandle(fromProcess, from, toProcess, to, access, inherit, options);
    },
    [](intptr_t handle, int flags) { return Fails("_open_osfhandle") ? -1 : kOs._open_osfhandle(handle, flags); },
    [](int fd, const char *mode) { return Fails("_fdopen") ? nullptr : kOs._fdopen(fd, mode); },
    [](std::FILE *stream) { return Fails("_ftelli64") ? static_cast<__int64>(-1) : kOs._ftelli64(stream); },
    kOs.UnderWine,
};

} // namespace sys

namespace seams {

// Under Wine, the replace of a file by a rename that Windows takes.
void RenameAsWindows(bool on) noexcept {
  sys::os.UnderWine = sys::kOs.UnderWine;
  if (on)
    sys::os.UnderWine = [] { return false; };
}

// Windows has neither unnamed files nor the exchange of two names.
void NoUnnamed(bool) noexcept {}
void NoExchange(bool) noexcept {}

} // namespace seams

} // namespace TLP_SAFE_WRITE_BUILD
} // namespace safe_write
