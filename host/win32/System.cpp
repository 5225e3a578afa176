#include "System.h"


#include <io.h>
#include <windows.h>

namespace {

void (*g_pressed)() = nullptr;

BOOL WINAPI OnConsoleCtrl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
    return FALSE;
  g_pressed();
  return TRUE;
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

const char kWindowsNote[] = "";
