#include "Progress.h"

#include <atomic>
#include <cassert>
#include <cstdio>

#if defined(_WIN32)
#include <io.h>
#include <windows.h>
#else
#include <csignal>
#include <unistd.h>
#endif

namespace {

// Set by Ctrl-C; the next progress call answers "stop".
std::atomic<bool> g_interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the flag is set from a signal handler");

struct State {
  bool active = false;
  uint32_t rows = 0;
  int32_t stopBeforeRow = 0;
  bool bar = false;
  int drawn = -1; // last width of the bar drawn, in cells
  int32_t row = 0; // the last row asked about
  bool stopped = false;
  int32_t stoppedAt = 0;
} g_state;

const int kBarCells = 40;

bool StderrIsTerminal() {
#if defined(_WIN32)
  return _isatty(_fileno(stderr)) != 0;
#else
  return isatty(fileno(stderr)) != 0;
#endif
}

void DrawBar(uint32_t done) {
  const int cells = g_state.rows ? static_cast<int>(uint64_t(done) * kBarCells / g_state.rows)
                                 : kBarCells;
  if (cells == g_state.drawn && done != g_state.rows)
    return;
  g_state.drawn = cells;
  char bar[kBarCells + 1];
  for (int i = 0; i < kBarCells; ++i)
    bar[i] = i < cells ? '#' : '.';
  bar[kBarCells] = '\0';
  const unsigned percent =
      g_state.rows ? static_cast<unsigned>(uint64_t(done) * 100 / g_state.rows) : 100;
  std::fprintf(stderr, "\r[%s] %3u%% %u/%u rows", bar, percent, done, g_state.rows);
  std::fflush(stderr);
}

int32_t TLP_CALL OnRow(int32_t row) {
  g_state.row = row;
  if (g_interrupted.load() || (g_state.stopBeforeRow > 0 && row >= g_state.stopBeforeRow)) {
    g_state.stopped = true;
    g_state.stoppedAt = row;
    return 1;
  }
  if (g_state.bar)
    DrawBar(static_cast<uint32_t>(row - 1));
  return 0;
}

#if defined(_WIN32)
BOOL WINAPI OnConsoleCtrl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
    return FALSE;
  g_interrupted = true;
  return TRUE;
}
#else
extern "C" void OnInterrupt(int) { g_interrupted = true; }
struct sigaction g_oldSigint = {};
#endif

} // namespace

CtrlCStops::CtrlCStops() {
  g_interrupted = false;
#if defined(_WIN32)
  SetConsoleCtrlHandler(OnConsoleCtrl, TRUE);
#else
  struct sigaction sa = {};
  sa.sa_handler = OnInterrupt;
  // No SA_RESTART: an open or write blocked on a pipe must fail with EINTR,
  // or Ctrl-C would wait for a reader that may never come.
  sa.sa_flags = 0;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, &g_oldSigint);
#endif
}

CtrlCStops::~CtrlCStops() {
#if defined(_WIN32)
  SetConsoleCtrlHandler(OnConsoleCtrl, FALSE);
#else
  sigaction(SIGINT, &g_oldSigint, nullptr);
#endif
}

bool CtrlCStops::Pressed() { return g_interrupted.load(); }

WriteProgress::WriteProgress(uint32_t rows, int32_t stopBeforeRow) {
  assert(!g_state.active);
  g_state = State{};
  g_state.active = true;
  g_state.rows = rows;
  g_state.stopBeforeRow = stopBeforeRow;
  g_state.bar = StderrIsTerminal();
}

WriteProgress::~WriteProgress() { g_state.active = false; }

ProgressCallback WriteProgress::Callback() const { return OnRow; }

void WriteProgress::Finish(bool written) {
  if (g_state.bar && g_state.drawn >= 0) {
    if (written && !g_state.stopped)
      DrawBar(g_state.rows);
    std::fputc('\n', stderr);
  }
}

bool WriteProgress::Stopped() const { return g_state.stopped; }
int32_t WriteProgress::StoppedAt() const { return g_state.stoppedAt; }
int32_t WriteProgress::Row() const { return g_state.row; }
