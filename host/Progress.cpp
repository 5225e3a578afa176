#include "Progress.h"
#include "System.h"

#include <algorithm>
#include <atomic>
#include <cassert>
#include <cstdio>

namespace {

// Set by Ctrl-C; the next progress call answers "stop".
std::atomic<bool> g_interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the flag is set from a signal handler");

const int kBarCells = 40;

struct State {
  bool active = false;
  int32_t stopBeforeRow = 0;
  Phase *bar = nullptr;
  int32_t row = 0; // the last row asked about
  bool stopped = false;
  int32_t stoppedAt = 0;
} g_state;

int32_t TLP_CALL OnRow(int32_t row) {
  g_state.row = row;
  if (g_interrupted.load() || (g_state.stopBeforeRow > 0 && row >= g_state.stopBeforeRow)) {
    g_state.stopped = true;
    g_state.stoppedAt = row;
    return 1;
  }
  if (g_state.bar)
    g_state.bar->Update(static_cast<uint32_t>(row - 1));
  return 0;
}

void OnCtrlC() { g_interrupted = true; }

} // namespace

CtrlCStops::CtrlCStops() {
  g_interrupted = false;
  CatchCtrlC(OnCtrlC);
}

CtrlCStops::~CtrlCStops() { ReleaseCtrlC(); }

bool CtrlCStops::Pressed() { return g_interrupted.load(); }

Phase::Phase(const std::string &name, uint64_t total, const char *unit)
    : name_(name), total_(total), unit_(unit), shown_(StderrIsTerminal()) {
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

void Phase::Update(uint64_t done) {
  if (shown_ && total_ != 0)
    Draw(std::min(done, total_));
}

void Phase::Done() {
  if (shown_ && total_ != 0)
    Draw(total_);
  done_ = true;
}

void Phase::Draw(uint64_t done) {
  // Redrawn when the percentage moves, so that a long step costs little.
  const int percent = static_cast<int>(done * 100 / total_);
  if (percent == drawn_)
    return;
  drawn_ = percent;
  const int cells = static_cast<int>(done * kBarCells / total_);
  char bar[kBarCells + 1];
  for (int i = 0; i < kBarCells; ++i)
    bar[i] = i < cells ? '#' : '.';
  bar[kBarCells] = '\0';
  std::fprintf(stderr, "\r%s [%s] %3d%%", name_.c_str(), bar, percent);
  if (*unit_)
    std::fprintf(stderr, " %llu/%llu %s", static_cast<unsigned long long>(done),
                 static_cast<unsigned long long>(total_), unit_);
  std::fflush(stderr);
}

void Steps::Report(const char *step, uint64_t done, uint64_t total) {
  if (!phase_ || step_ != step) {
    if (phase_)
      phase_->Done();
    phase_.reset(); // one line at a time
    step_ = step;
    phase_.reset(new Phase(prefix_ + step, total));
  }
  phase_->Update(done);
}

void Steps::Done() {
  if (phase_)
    phase_->Done();
  phase_.reset();
}

WriteProgress::WriteProgress(uint32_t rows, int32_t stopBeforeRow, const std::string &name) {
  assert(!g_state.active);
  g_state = State{};
  g_state.active = true;
  g_state.stopBeforeRow = stopBeforeRow;
  if (rows > 0)
    bar_.reset(new Phase(name, rows));
  g_state.bar = bar_.get();
}

WriteProgress::~WriteProgress() { g_state = State{}; }

ProgressCallback WriteProgress::Callback() const { return OnRow; }

void WriteProgress::Finish(bool written) {
  if (bar_ && written && !g_state.stopped)
    bar_->Done();
  g_state.bar = nullptr;
  bar_.reset();
}

bool WriteProgress::Stopped() const { return g_state.stopped; }
int32_t WriteProgress::StoppedAt() const { return g_state.stoppedAt; }
int32_t WriteProgress::Row() const { return g_state.row; }
