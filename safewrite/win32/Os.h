// The system calls of the Windows primitives, by name: in the product the
// system's own (kOs); the tests' build replaces an entry to make it fail, or
// to take Windows' own path under Wine (win32/Seams.cpp). The calls that undo
// or let go (CloseHandle, an unlock, a deletion cleared or set on the way
// out) and the questions whose failure has a safe answer are made directly:
// a test fails what a write does, and counts on its undoing.
#pragma once

#include "System.h"

#include <cstdio>
#include <io.h>
#include <windows.h>

namespace safe_write {
inline namespace TLP_SAFE_WRITE_BUILD {
namespace sys {

struct Os {
  decltype(&::CreateFileA) CreateFileA;
  decltype(&::GetFinalPathNameByHandleA) GetFinalPathNameByHandleA;
  decltype(&::GetFileType) GetFileType;
  decltype(&::GetFileInformationByHandleEx) GetFileInformationByHandleEx;
  decltype(&::SetFileInformationByHandle) SetFileInformationByHandle;
  decltype(&::ReplaceFileA) ReplaceFileA;
  decltype(&::DeleteFileA) DeleteFileA;
  decltype(&::GetTempPathA) GetTempPathA;
  decltype(&::CreateDirectoryA) CreateDirectoryA;
  decltype(&::LockFileEx) LockFileEx;
  decltype(&::FlushFileBuffers) FlushFileBuffers;
  decltype(&::ReadFile) ReadFile;
  decltype(&::WriteFile) WriteFile;
  decltype(&::DuplicateHandle) DuplicateHandle;
  decltype(&::_open_osfhandle) _open_osfhandle;
  decltype(&::_fdopen) _fdopen;
  decltype(&::_ftelli64) _ftelli64;
  // Whether this is Wine, whose renames cannot carry a Unix file's facts.
  bool (*UnderWine)();
};

} // namespace sys
} // namespace TLP_SAFE_WRITE_BUILD
} // namespace safe_write
