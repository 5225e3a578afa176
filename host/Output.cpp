#include "Output.h"

#include "Files.h"
#include "Progress.h"

#include <cerrno>
#include <cstdio>
#include <utility>

namespace {

// Exit status of a write stopped by Ctrl-C or --stop-at-row.
const int kExitStopped = 130;

// OUT while a command writes it: the temporary file beside the file OUT
// names, removed unless it was put in place or kept; or OUT itself when it
// is a pipe or device.
class OutputFile {
public:
  explicit OutputFile(std::string path) : path_(std::move(path)) {}
  ~OutputFile() {
    if (!temporary_.empty())
      std::remove(temporary_.c_str());
  }

  // "cannot write 'OUT': " and the reason for an errno value (0: unknown).
  std::string CannotWrite(int error) const {
    return "cannot write '" + path_ + "': " +
           (error != 0 ? ErrorText(error) : std::string("the plug-in could not write it"));
  }

  // Checks OUT and, unless it is a pipe or device, makes the temporary file.
  // Where the writer writes then: the temporary file, or OUT itself.
  bool Open(std::string *writePath, std::string *error) {
    int err = 0;
    // A device before anything else: it is no file a link could lead to.
    FileKind kind = KindOf(path_, &err);
    if (kind != FileKind::Other) {
      target_ = safe_write::FollowLinks(path_);
      kind = KindOf(target_, &err);
    }
    direct_ = kind == FileKind::Other;
    existed_ = kind == FileKind::Regular;
    *writePath = path_;
    if (direct_)
      return true;
    // Replacing by a rename would get past a file that may not be written.
    if (kind == FileKind::Folder)
      err = EISDIR;
    else if (kind != FileKind::Unknown && (!existed_ || Writable(target_, &err)) &&
             MakeTemporaryBeside(target_, &temporary_, &err)) {
      *writePath = temporary_;
      return true;
    }
    *error = CannotWrite(err);
    return false;
  }

  // Puts what was written in place of OUT, through the same sequence as the
  // plug-in's own export: OUT keeps its links and every fact, and stays as
  // it was when this fails. The temporary file goes with this object.
  bool Commit(std::string *error) {
    if (direct_)
      return true;
    if (const int err = safe_write::PutInPlace(temporary_, path_)) {
      *error = CannotWrite(err);
      return false;
    }
    return true;
  }

  // After a stop: keeps what was written beside OUT under a name of its own
  // ("out.partial.tga") when `keep` asks, and says where things stand.
  std::string Stopped(bool keep) {
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

private:
  std::string path_;   // OUT as the user named it
  std::string target_; // the file it names, links followed
  std::string temporary_;
  bool direct_ = false;
  bool existed_ = false;
};

} // namespace

int WriteOutput(const WriteRequest &request,
                const std::function<WriteResult(const std::string &path)> &write) {
  const char *command = request.command;
  // Before the temporary file exists: from here on Ctrl-C ends the command
  // through the cleanup below.
  CtrlCStops ctrlC;
  OutputFile out(request.out);
  std::string path, error;
  if (!out.Open(&path, &error))
    return Say(command, error);
  const WriteResult result = write(path);
  if (result.stopped || CtrlCStops::Pressed()) {
    // A write that failed on the way has nothing worth keeping.
    std::fprintf(stderr, "tga-host %s: stopped%s%s; %s\n", command, result.where.empty() ? "" : " ",
                 result.where.c_str(), out.Stopped(request.keepPartial && result.written).c_str());
    return kExitStopped;
  }
  if (!result.written)
    return Say(command, out.CannotWrite(result.error));
  return out.Commit(&error) ? 0 : Say(command, error);
}

int WriteWithProgress(const PluginApi &api, const HostImage &record, const WriteRequest &request) {
  return WriteOutput(request, [&](const std::string &path) {
    WriteResult result;
    int32_t at = 0;
    const auto write = [&](ProgressCallback progress) {
      errno = 0;
      const bool written = api.EXPORT_WriteToFile(path.c_str(), &record, progress) != 0;
      // The plug-in reports only 0 or 1; the C library still holds the reason.
      result.error = errno;
      return written;
    };
    result.written =
        WriteRows(record.Height, request.stopAtRow, "writing '" + request.out + "'", write, &at, &result.stopped);
    result.where = at > 0 ? "before row " + std::to_string(at) + " of " + std::to_string(record.Height)
                          : "before the first row";
    return result;
  });
}
