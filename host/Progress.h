// What a user of tga-host sees while a command runs: each step of a long
// command named on a line of its own on standard error, with a bar where the
// step can tell how far it is, when standard error is a terminal (nothing
// otherwise); Ctrl-C asking a write to stop instead of ending the program;
// and the command's messages.
#pragma once

#include "TargaPlugin.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>

// "tga-host COMMAND: LINE" on standard error; the exit status, 1.
int Say(const char *command, const std::string &line);

// One step while it runs: "reading 'big.png' [####....]  45% 2700/6000
// rows", or its name alone ("decoding 'big.tga'...") for a step that cannot
// tell how far it is. One at a time.
class Phase {
public:
  // `total` 0: the name alone until the step ends.
  explicit Phase(const std::string &name, uint64_t total = 0);
  // Ends the line: complete after Done(), else as far as it came.
  ~Phase();
  Phase(const Phase &) = delete;
  Phase &operator=(const Phase &) = delete;
  void Update(uint64_t done) {
    if (shown_ && total_ != 0)
      Draw(std::min(done, total_));
  }
  void Done() {
    Update(total_);
    done_ = true;
  }

private:
  void Draw(uint64_t done);
  std::string name_;
  uint64_t total_;
  bool shown_;
  bool done_ = false;
  int drawn_ = -1; // cells of the bar last drawn
};

// The steps of one computation under one name, each a Phase of its own
// ("converting: error diffusion"), as the computation reports them.
class Steps {
public:
  explicit Steps(std::string prefix) : prefix_(std::move(prefix)) {}
  // A new `step` ends the one before it; `total` 0 for a step without a bar.
  void Report(const char *step, uint64_t done, uint64_t total);
  // Completes the last step.
  void Done() {
    if (phase_)
      phase_->Done();
    phase_.reset(); // one line at a time
  }

private:
  std::string prefix_;
  std::string step_;
  std::unique_ptr<Phase> phase_;
};

// While an object lives, Ctrl-C asks the running write to stop rather than
// ending the program. A blocked open or write (a pipe nobody reads) is
// interrupted as well, so that a stop always comes.
class CtrlCStops {
public:
  CtrlCStops();
  ~CtrlCStops();
  static bool Pressed();
};

// Runs `write`, one EXPORT_WriteToFile call, with the callback to hand to
// it, under a bar named `name` ("writing 'out.tga'") over `rows` rows; its
// answer is the result. The plug-in's callback carries no context, so one
// write at a time. The callback answers "stop" once Ctrl-C was pressed or,
// when `stopBeforeRow` > 0, before that row (1 = top), so that a stop can be
// tried out at a chosen place. `*stopped` says whether the write stopped,
// `*row` the row it stopped before or the last it asked about (0 before the
// first).
bool WriteRows(uint32_t rows, int32_t stopBeforeRow, const std::string &name,
               const std::function<bool(ProgressCallback)> &write, int32_t *row, bool *stopped);
