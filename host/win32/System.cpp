#include "System.h"

#include "Files.h"
#include "win32/Errno.h"

#include <cerrno>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

namespace {

void (*g_pressed)() = nullptr;

BOOL WINAPI OnConsoleCtrl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
    return FALSE;
  g_pressed();
  return TRUE;
}

// Whether the system takes `path` for a device (NUL, CON, AUX, COM1, also
// "nul.tga" and in a folder): its own rule, from ntdll.
bool IsDeviceName(const std::string &path) {
  using IsDosDeviceName = ULONG(WINAPI *)(const wchar_t *);
  static const auto rule = reinterpret_cast<IsDosDeviceName>(
      reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "RtlIsDosDeviceName_U")));
  const int n = MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, nullptr, 0);
  if (!rule || n <= 0)
    return false;
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, &wide[0], n);
  return rule(wide.c_str()) != 0;
}

} // namespace

bool StderrIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

void CatchCtrlC(void (*pressed)()) {
  g_pressed = pressed;
  SetConsoleCtrlHandler(OnConsoleCtrl, TRUE);
}

void ReleaseCtrlC() { SetConsoleCtrlHandler(OnConsoleCtrl, FALSE); }

bool SeekFile(FILE *f, uint64_t to) { return _fseeki64(f, static_cast<__int64>(to), SEEK_SET) == 0; }

int64_t FileSize(FILE *f) {
  if (_fseeki64(f, 0, SEEK_END) != 0)
    return -1;
  return _ftelli64(f);
}

uint64_t MemoryAvailable() {
  MEMORYSTATUSEX status;
  status.dwLength = sizeof status;
  if (!GlobalMemoryStatusEx(&status))
    return UINT64_MAX;
  return status.ullAvailVirtual < status.ullAvailPageFile ? status.ullAvailVirtual
                                                          : status.ullAvailPageFile;
}

FileKind KindOf(const std::string &path, int *error) {
  // A device has no attributes to ask for, and no links to follow.
  if (IsDeviceName(path))
    return FileKind::Other;
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    *error = safe_write::ErrnoOf(GetLastError());
    return *error == ENOENT ? FileKind::Missing : FileKind::Unknown;
  }
  if (attributes & FILE_ATTRIBUTE_DIRECTORY)
    return FileKind::Folder;
  // Devices (NUL, CON, serial ports) are no disk files.
  HANDLE h = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE)
    return FileKind::Regular;
  const DWORD type = GetFileType(h);
  CloseHandle(h);
  return type == FILE_TYPE_DISK ? FileKind::Regular : FileKind::Other;
}

bool Writable(const std::string &path, int *error) {
  *error = _access(path.c_str(), 2) == 0 ? 0 : errno;
  return *error == 0;
}

bool RenameToNew(const std::string &from, const std::string &to, int *error) {
  if (MoveFileExA(from.c_str(), to.c_str(), 0))
    return true;
  *error = safe_write::ErrnoOf(GetLastError());
  return false;
}

// Windows has no file-size signal.
void IgnoreFileSizeSignal() {}

const char kWindowsNote[] = "";
