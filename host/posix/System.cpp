#include "System.h"


#include <csignal>
#include <cstdint>
#include <fstream>
#include <optional>
#include <sys/resource.h>
#include <unistd.h>

namespace {

void (*g_pressed)() = nullptr;
extern "C" void OnInterrupt(int) { g_pressed(); }
struct sigaction g_oldSigint = {};

} // namespace

bool StderrIsTerminal() { return isatty(fileno(stderr)) != 0; }

void CatchCtrlC(void (*pressed)()) {
  g_pressed = pressed;
  struct sigaction sa = {};
  sa.sa_handler = OnInterrupt;
  // No SA_RESTART: an open or write blocked on a pipe must fail with EINTR,
  // or Ctrl-C would wait for a reader that may never come.
  sa.sa_flags = 0;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, &g_oldSigint);
}

void ReleaseCtrlC() { sigaction(SIGINT, &g_oldSigint, nullptr); }

bool SeekFile(FILE *f, uint64_t to) { return fseeko(f, static_cast<off_t>(to), SEEK_SET) == 0; }

int64_t FileSize(FILE *f) {
  if (fseeko(f, 0, SEEK_END) != 0)
    return -1;
  return ftello(f);
}

uint64_t MemoryAvailable() {
  struct rlimit r;
  if (getrlimit(RLIMIT_AS, &r) != 0 || r.rlim_cur == RLIM_INFINITY)
    return UINT64_MAX;
  // What the process already has counts against the limit.
  uint64_t pages = 0;
  std::ifstream("/proc/self/statm") >> pages;
  const uint64_t used = pages * static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
  return r.rlim_cur > used ? r.rlim_cur - used : 0;
}

const char kWindowsNote[] = " (this build's windows are a headless stand-in)";
