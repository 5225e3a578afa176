#include "Progress.h"
#include "System.h"

#include <atomic>
#include <cassert>
#include <cstdio>

namespace {

// Set by Ctrl-C; the next progress call answers "stop".
std::atomic<bool> g_interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the flag is set from a signal handler");

const int kBarCells = 40;

// The write under way (WriteRows).
struct State {
  bool active = false;
  int32_t stopBeforeRow = 0;
  Phase *bar = nullptr;
  int32_t row = 0; // the last row asked about
  bool stopped = false;
} g_state;

int32_t TLP_CALL OnRow(int32_t row) {
  g_state.row = row;
  if (g_interrupted.load() || (g_state.stopBeforeRow > 0 && row >= g_state.stopBeforeRow)) {
    g_state.stopped = true;
    return 1;
  }
  if (g_state.bar)
    g_state.bar->Update(static_cast<uint32_t>(row - 1));
  return 0;
}

void OnCtrlC() { g_interrupted = true; }

} // namespace

int Say(const char *command, const std::string &line) {
  std::fprintf(stderr, "tga-host %s: %s\n", command, line.c_str());
  return 1;
}

CtrlCStops::CtrlCStops() {
  g_interrupted = false;
  CatchCtrlC(OnCtrlC);
}

CtrlCStops::~CtrlCStops() { ReleaseCtrlC(); }

bool CtrlCStops::Pressed() { return g_interrupted.load(); }

Phase::Phase(const std::string &name, uint64_t total)
    : name_(name), total_(total), shown_(StderrIsTerminal()) {
  if (!shown_)
    return;
  if (total_ == 0) {
    std::fprintf(stderr, "%s...", name_.c_str());
    std::fflush(stderr);
  } else {
    Draw(0);
  }
}

Phase::~Phase() {
  if (!shown_)
    return;
  if (total_ == 0 && done_)
    std::fputs(" done", stderr);
  std::fputc('\n', stderr);
  std::fflush(stderr);
}

void Phase::Draw(uint64_t done) {
  // Redrawn when the percentage moves, so that a long step costs little.
  const int percent = static_cast<int>(done * 100 / total_);
  if (percent == drawn_)
    return;
  drawn_ = percent;
  const int cells = static_cast<int>(done * kBarCells / total_);
  const std::string bar = std::string(cells, '#') + std::string(kBarCells - cells, '.');
  std::fprintf(stderr, "\r%s [%s] %3d%% %llu/%llu rows", name_.c_str(), bar.c_str(), percent,
               static_cast<unsigned long long>(done), static_cast<unsigned long long>(total_));
  std::fflush(stderr);
}

void Steps::Report(const char *step, uint64_t done, uint64_t total) {
  if (!phase_ || step_ != step) {
    Done();
    step_ = step;
    phase_.reset(new Phase(prefix_ + step, total));
  }
  phase_->Update(done);
}

bool WriteRows(uint32_t rows, int32_t stopBeforeRow, const std::string &name,
               const std::function<bool(ProgressCallback)> &write, int32_t *row, bool *stopped) {
  assert(!g_state.active);
  std::unique_ptr<Phase> bar(rows > 0 ? new Phase(name, rows) : nullptr);
  g_state = State{true, stopBeforeRow, bar.get()};
  const bool written = write(OnRow);
  // The bar's line is complete once the write has returned its result.
  if (bar && written && !g_state.stopped)
    bar->Done();
  *row = g_state.row;
  *stopped = g_state.stopped || g_interrupted.load();
  g_state = State{};
  return written;
}
