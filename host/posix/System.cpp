#include "System.h"

#include "Files.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <sys/resource.h>
#include <sys/stat.h>
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
  sigemptyset(&sa.sa_mask);
  // No SA_RESTART: an open or write blocked on a pipe must fail with EINTR,
  // or Ctrl-C would wait for a reader that may never come.
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

FileKind KindOf(const std::string &path, int *error) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    *error = errno;
    return errno == ENOENT || errno == ENOTDIR ? FileKind::Missing : FileKind::Unknown;
  }
  if (S_ISREG(st.st_mode))
    return FileKind::Regular;
  return S_ISDIR(st.st_mode) ? FileKind::Folder : FileKind::Other;
}

bool Writable(const std::string &path, int *error) {
  *error = access(path.c_str(), W_OK) == 0 ? 0 : errno;
  return *error == 0;
}

bool RenameToNew(const std::string &from, const std::string &to, int *error) {
  // A hard link fails when the name is taken, with no window for a race.
  if (link(from.c_str(), to.c_str()) == 0) {
    unlink(from.c_str());
    return true;
  }
  // File systems without hard links.
  struct stat st;
  if (errno == EEXIST || lstat(to.c_str(), &st) == 0) {
    *error = EEXIST;
    return false;
  }
  if (std::rename(from.c_str(), to.c_str()) == 0)
    return true;
  *error = errno;
  return false;
}

void IgnoreFileSizeSignal() { std::signal(SIGXFSZ, SIG_IGN); }

const char kWindowsNote[] = " (this build's windows are a headless stand-in)";
