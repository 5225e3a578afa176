// Writing an output file so that a user never loses the file that was there:
// the writer fills a new file under a temporary name beside OUT, which takes
// OUT's place through the shared safe-write sequence only once the write
// succeeded. A stop, a failure or Ctrl-C leave OUT exactly as it was, and the
// temporary file goes. A symbolic link keeps pointing where it pointed: the
// file it names is written. A pipe or device is written directly and never
// removed.
#pragma once

#include "PluginLoader.h"

#include <cstdint>
#include <functional>
#include <string>

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

// Writes `record` with EXPORT_WriteToFile through WriteOutput, with a
// progress bar.
int WriteWithProgress(const PluginApi &api, const HostImage &record, const WriteRequest &request);
