// What a user of tga-host sees while a command runs: each step of a long
// command named on a line of its own on standard error, with a bar where the
// step can tell how far it is, when standard error is a terminal (nothing
// otherwise); Ctrl-C asking a write to stop instead of ending the program;
// and the command's messages.
#pragma once

#include "PluginLoader.h"

#include <algorithm>
#include <cstdio>
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

// Writing an output file so that a user never loses the file that was there:
// the writer fills a new file under a temporary name beside OUT, which takes
// OUT's place through the shared safe-write sequence only once the write
// succeeded. A stop, a failure or Ctrl-C leave OUT exactly as it was, and the
// temporary file goes. A symbolic link keeps pointing where it pointed: the
// file it names is written. A pipe or device is written directly and never
// removed.
struct WriteRequest {
  const char *command; // for messages: "tga-host COMMAND: ..."
  std::string out;
  bool keepPartial = false;
  int32_t stopAtRow = 0; // > 0: stop before this row, as Ctrl-C would
};

// What a writer made of its write.
struct WriteResult {
  bool written = false; // the file holds what was written, stopped or not
  int error = 0;        // when not written: the errno value, 0 when not known
  bool stopped = false;
  std::string where;    // where a stop came ("before row 3 of 10"), if known
};

// Writes `request.out` through `write`, which is handed the path to write
// to: the temporary file, or OUT itself; Ctrl-C stops it. Messages go to
// standard error. Returns the exit status: 0 written, 1 failed, 130 stopped.
int WriteOutput(const WriteRequest &request,
                const std::function<WriteResult(const std::string &path)> &write);

// Writes `request.out` through `write`, which is handed a stream: into a new
// file of its own that takes OUT's place once complete (safe_write), or OUT
// itself where it is a device or pipe; Ctrl-C stops it. Messages and the
// exit status as WriteOutput's.
int WriteStream(const WriteRequest &request, const std::function<WriteResult(std::FILE *stream)> &write);

// Writes `record` with EXPORT_WriteToFile through WriteOutput, with a
// progress bar over its rows. The plug-in's callback answers "stop" once
// Ctrl-C was pressed or, when `request.stopAtRow` > 0, before that row
// (1 = top), so that a stop can be tried out at a chosen place.
int WriteWithProgress(const PluginApi &api, const HostImage &record, const WriteRequest &request);
