// Progress of one EXPORT_WriteToFile call as a user of tga-host sees it: a bar
// on standard error when that is a terminal, and Ctrl-C asking the write to
// stop at the next row instead of ending the program.
#pragma once

#include "TargaPlugin.h"

#include <cstdint>
#include <string>

// One write at a time: the plug-in's callback carries no context, so the
// state is the program's. While the object lives, Ctrl-C asks for a stop.
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
};

// Removes what a stopped write left at `path`, but only a regular file: a
// device or pipe stays. Says so on standard error when it cannot.
void RemovePartial(const std::string &path);
