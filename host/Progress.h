// Progress of a write as a user of tga-host sees it: a bar on standard error
// when that is a terminal, and Ctrl-C asking the write to stop instead of
// ending the program.
#pragma once

#include "TargaPlugin.h"

#include <cstdint>

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
  explicit WriteProgress(uint32_t rows, int32_t stopBeforeRow = 0);
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
};
