// Progress as a user of tga-host sees it: each step of a long command named
// on a line of its own on standard error, with a bar where the step can tell
// how far it is, when standard error is a terminal (nothing otherwise); and
// Ctrl-C asking a write to stop instead of ending the program.
#pragma once

#include "TargaPlugin.h"

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

// One step while it runs: "reading 'big.png' [####....]  45% 2700/6000
// rows", or its name alone ("decoding 'big.tga'...") for a step that cannot
// tell how far it is. One at a time.
class Phase {
public:
  // `total` 0: the name alone until the step ends. `unit` names what is
  // counted ("rows"), or is empty for a percentage only.
  explicit Phase(const std::string &name, uint64_t total = 0, const char *unit = "rows");
  // Ends the line: complete after Done(), else as far as it came.
  ~Phase();
  Phase(const Phase &) = delete;
  Phase &operator=(const Phase &) = delete;
  void Update(uint64_t done);
  void Done();

private:
  void Draw(uint64_t done);
  std::string name_;
  uint64_t total_;
  const char *unit_;
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
  void Done();

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
  CtrlCStops(const CtrlCStops &) = delete;
  CtrlCStops &operator=(const CtrlCStops &) = delete;
  static bool Pressed();
};

// One EXPORT_WriteToFile call at a time: the plug-in's callback carries no
// context, so the state is the program's. The callback answers "stop" once
// Ctrl-C was pressed (see CtrlCStops).
class WriteProgress {
public:
  // `stopBeforeRow` > 0 answers "stop" before that row (1 = top) as Ctrl-C
  // would, so that a stop can be tried out at a chosen place.
  // `name` heads the bar ("writing 'out.tga'").
  explicit WriteProgress(uint32_t rows, int32_t stopBeforeRow = 0,
                         const std::string &name = "writing");
  ~WriteProgress();
  WriteProgress(const WriteProgress &) = delete;
  WriteProgress &operator=(const WriteProgress &) = delete;

  // The callback to hand to EXPORT_WriteToFile.
  ProgressCallback Callback() const;
  // Completes the bar's line once the write has returned its result.
  void Finish(bool written);
  // Whether the write was stopped, and before which row.
  bool Stopped() const;
  int32_t StoppedAt() const;
  // The last row the write asked about (0 before the first).
  int32_t Row() const;

private:
  std::unique_ptr<Phase> bar_;
};
