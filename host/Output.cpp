#include "Output.h"

#include "Files.h"
#include "Progress.h"
#include "SafeWrite.h"

#include <cerrno>
#include <cstdio>

OutputFile::~OutputFile() {
  if (!temporary_.empty())
    RemoveFile(temporary_);
}

std::string OutputFile::CannotWrite(int error) const {
  return "cannot write '" + path_ + "': " +
         (error != 0 ? ErrorText(error) : std::string("the plug-in could not write it"));
}

bool OutputFile::Open(std::string *error) {
  int err = 0;
  // A device before anything else: it is no file a link could lead to.
  if (KindOf(path_, &err) == FileKind::Other) {
    direct_ = true;
    writePath_ = path_;
    return true;
  }
  target_ = FollowLinks(path_);
  switch (KindOf(target_, &err)) {
  case FileKind::Folder:
    *error = CannotWrite(EISDIR);
    return false;
  case FileKind::Unknown:
    *error = CannotWrite(err);
    return false;
  case FileKind::Other:
    direct_ = true;
    writePath_ = path_;
    return true;
  case FileKind::Regular:
    // Replacing by a rename would get past a file that may not be written.
    if (!Writable(target_, &err)) {
      *error = CannotWrite(err);
      return false;
    }
    existed_ = true;
    break;
  case FileKind::Missing:
    break;
  }
  if (!MakeTemporaryBeside(target_, &temporary_, &err)) {
    *error = CannotWrite(err);
    return false;
  }
  writePath_ = temporary_;
  return true;
}

bool OutputFile::Commit(std::string *error) {
  if (direct_)
    return true;
  // The same sequence as the plug-in's own export: OUT keeps its links and
  // every fact, and stays as it was when this fails.
  if (const int err = safe_write::PutInPlace(temporary_, path_)) {
    *error = CannotWrite(err);
    return false;
  }
  RemoveFile(temporary_);
  temporary_.clear();
  return true;
}

std::string OutputFile::Stopped(bool keep) {
  if (direct_)
    return "'" + path_ + "' is no regular file and has what was written";
  const std::string as = existed_ ? "'" + path_ + "' is as it was" : "'" + path_ + "' was not made";
  if (!keep)
    return as;
  // "name.partial.ext" beside the file OUT names, numbered when taken.
  const size_t slash = LastSeparator(target_);
  const size_t base = slash == std::string::npos ? 0 : slash + 1;
  size_t dot = target_.find_last_of('.');
  if (dot == std::string::npos || dot <= base)
    dot = target_.size();
  const std::string stem = target_.substr(0, dot), ext = target_.substr(dot);
  int err = ENOENT;
  for (int n = 1; n < 100 && !temporary_.empty(); ++n) {
    const std::string name = stem + ".partial" + (n > 1 ? "-" + std::to_string(n) : "") + ext;
    if (RenameToNew(temporary_, name, &err)) {
      temporary_.clear();
      return "'" + name + "' keeps what was written; " + as;
    }
    if (err != EEXIST)
      break;
  }
  return "the partial file cannot be kept (" + ErrorText(err) + "); " + as;
}

int WriteOutput(const WriteRequest &request,
                const std::function<WriteResult(const std::string &path)> &write) {
  const char *command = request.command;
  // Before the temporary file exists: from here on Ctrl-C ends the command
  // through the cleanup below.
  CtrlCStops ctrlC;
  OutputFile out(request.out);
  std::string error;
  if (!out.Open(&error)) {
    std::fprintf(stderr, "tga-host %s: %s\n", command, error.c_str());
    return 1;
  }
  const WriteResult result = write(out.WritePath());
  if (result.stopped || CtrlCStops::Pressed()) {
    // A write that failed on the way has nothing worth keeping.
    std::fprintf(stderr, "tga-host %s: stopped%s%s; %s\n", command, result.where.empty() ? "" : " ",
                 result.where.c_str(), out.Stopped(request.keepPartial && result.written).c_str());
    return kExitStopped;
  }
  if (!result.written) {
    std::fprintf(stderr, "tga-host %s: %s\n", command, out.CannotWrite(result.error).c_str());
    return 1;
  }
  if (!out.Commit(&error)) {
    std::fprintf(stderr, "tga-host %s: %s\n", command, error.c_str());
    return 1;
  }
  return 0;
}

int WriteWithProgress(const PluginApi &api, const HostImage &record, const WriteRequest &request) {
  return WriteOutput(request, [&](const std::string &path) {
    WriteProgress progress(record.Height, request.stopAtRow, "writing '" + request.out + "'");
    WriteResult result;
    errno = 0;
    result.written = api.EXPORT_WriteToFile(path.c_str(), &record, progress.Callback()) != 0;
    // The plug-in reports only 0 or 1; the C library still holds the reason.
    result.error = errno;
    progress.Finish(result.written);
    result.stopped = progress.Stopped() || CtrlCStops::Pressed();
    const int32_t at = progress.Stopped() ? progress.StoppedAt() : progress.Row();
    result.where = at > 0 ? "before row " + std::to_string(at) + " of " + std::to_string(record.Height)
                          : "before the first row";
    return result;
  });
}
