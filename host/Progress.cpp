#include "Progress.h"

#include "Files.h"
#include "System.h"

#include <atomic>
#include <cassert>
#include <cerrno>
#include <cstdio>

namespace {

// Set by Ctrl-C; the next progress call answers "stop".
std::atomic<bool> g_interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the flag is set from a signal handler");

const int kBarCells = 40;

// The write under way (WriteWithProgress).
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

// Exit status of a write stopped by Ctrl-C or --stop-at-row.
const int kExitStopped = 130;

// The temporary file beside the file OUT names while a command writes it:
// removed unless it was put in place or kept.
struct Temporary {
  std::string path;
  ~Temporary() {
    if (!path.empty())
      std::remove(path.c_str());
  }
};

// "cannot write 'OUT': " and the reason for an errno value (0: unknown).
std::string CannotWrite(const std::string &out, int error) {
  return "cannot write '" + out +
         "': " + (error != 0 ? ErrorText(error) : std::string("the plug-in could not write it"));
}

// Says where a stop came and what OUT is now (`kept`: where the partial
// file went); the exit status.
int Stopped(const WriteRequest &request, const WriteResult &result, bool direct, bool existed,
            const std::string &kept) {
  const std::string as = kept + "'" + request.out + "' " +
                         (direct    ? "is no regular file and has what was written"
                          : existed ? "is as it was"
                                    : "was not made");
  std::fprintf(stderr, "tga-host %s: stopped%s%s; %s\n", request.command, result.where.empty() ? "" : " ",
               result.where.c_str(), as.c_str());
  return kExitStopped;
}

// After a stop: keeps what was written beside `target`, the file OUT names,
// as "name.partial.ext", numbered when taken; says where it went or why not.
std::string KeepPartial(const std::string &target, Temporary *temporary) {
  const size_t slash = safe_write::LastSeparator(target);
  const size_t base = slash == std::string::npos ? 0 : slash + 1;
  size_t dot = target.find_last_of('.');
  if (dot == std::string::npos || dot <= base)
    dot = target.size();
  const std::string stem = target.substr(0, dot), ext = target.substr(dot);
  int err = ENOENT;
  for (int n = 1; n < 100; ++n) {
    const std::string name = stem + ".partial" + (n > 1 ? "-" + std::to_string(n) : "") + ext;
    if (RenameToNew(temporary->path, name, &err)) {
      temporary->path.clear();
      return "'" + name + "' keeps what was written; ";
    }
    if (err != EEXIST)
      break;
  }
  return "the partial file cannot be kept (" + ErrorText(err) + "); ";
}

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

int WriteOutput(const WriteRequest &request,
                const std::function<WriteResult(const std::string &path)> &write) {
  const char *command = request.command;
  const std::string &out = request.out;
  // Before the temporary file exists: from here on Ctrl-C ends the command
  // through the cleanup below.
  CtrlCStops ctrlC;
  int err = 0;
  // A device before anything else: it is no file a link could lead to. A
  // pipe or device is written directly.
  FileKind kind = KindOf(out, &err);
  std::string target;
  if (kind != FileKind::Other) {
    target = safe_write::FollowLinks(out);
    kind = KindOf(target, &err);
  }
  const bool direct = kind == FileKind::Other, existed = kind == FileKind::Regular;
  Temporary temporary;
  // Replacing by a rename would get past a file that may not be written.
  if (kind == FileKind::Folder)
    err = EISDIR;
  else if (!direct && kind != FileKind::Unknown && (!existed || Writable(target, &err)))
    err = safe_write::ReserveBeside(target, &temporary.path);
  if (!direct && temporary.path.empty())
    return Say(command, CannotWrite(out, err));
  const WriteResult result = write(direct ? out : temporary.path);
  if (result.stopped || CtrlCStops::Pressed()) {
    // A write that failed on the way has nothing worth keeping.
    const bool keep = !direct && request.keepPartial && result.written;
    return Stopped(request, result, direct, existed, keep ? KeepPartial(target, &temporary) : "");
  }
  if (!result.written)
    return Say(command, CannotWrite(out, result.error));
  // Through the same sequence as the plug-in's own export: OUT keeps its
  // links and every fact, and stays as it was when this fails.
  err = direct ? 0 : safe_write::PutInPlace(temporary.path, out);
  return err == 0 ? 0 : Say(command, CannotWrite(out, err));
}

int WriteStream(const WriteRequest &request, const std::function<WriteResult(std::FILE *stream)> &write) {
  CtrlCStops ctrlC;
  int err = 0;
  // Named as such: opened, a folder would answer "access denied" on Windows.
  if (KindOf(request.out, &err) == FileKind::Folder)
    return Say(request.command, CannotWrite(request.out, EISDIR));
  safe_write::TSafeWrite out(request.out);
  std::FILE *stream = out.Open();
  if (!stream)
    return Say(request.command, CannotWrite(request.out, out.Error()));
  const bool direct = out.How() == safe_write::Way::kDirect, existed = out.How() != safe_write::Way::kNew;
  const WriteResult result = write(stream);
  const bool stopped = result.stopped || CtrlCStops::Pressed();
  const bool closed = out.Close(stream, result.written && !stopped);
  if (stopped)
    return Stopped(request, result, direct, existed, "");
  if (!result.written)
    return Say(request.command, CannotWrite(request.out, result.error));
  return closed ? 0 : Say(request.command, CannotWrite(request.out, out.Error()));
}

int WriteWithProgress(const PluginApi &api, const HostImage &record, const WriteRequest &request) {
  return WriteOutput(request, [&](const std::string &path) {
    // The plug-in's callback carries no context, so one write at a time.
    assert(!g_state.active);
    const uint32_t rows = record.Height;
    std::unique_ptr<Phase> bar(rows > 0 ? new Phase("writing '" + request.out + "'", rows) : nullptr);
    g_state = State{true, request.stopAtRow, bar.get()};
    WriteResult result;
    errno = 0;
    result.written = api.EXPORT_WriteToFile(path.c_str(), &record, OnRow) != 0;
    // The plug-in reports only 0 or 1; the C library still holds the reason.
    result.error = errno;
    // The bar's line is complete once the write has returned its result.
    if (bar && result.written && !g_state.stopped)
      bar->Done();
    result.stopped = g_state.stopped || g_interrupted.load();
    const int32_t at = g_state.row;
    result.where =
        at > 0 ? "before row " + std::to_string(at) + " of " + std::to_string(rows) : "before the first row";
    g_state = State{};
    return result;
  });
}
