// tga-host convert: imports a Targa file through the plug-in and exports it
// again, with a progress bar and Ctrl-C to stop the write.
#include "Commands.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#if defined(_WIN32)
#include <io.h>
#include <windows.h>
#else
#include <csignal>
#include <unistd.h>
#endif

namespace {

const char kUsage[] =
    "usage: tga-host convert [--keep-partial] IN.tga OUT.tga\n"
    "\n"
    "Reads IN.tga with the plug-in's import and writes it to OUT.tga with its\n"
    "export: a colour-mapped picture stays 8-bit colour-mapped, any other\n"
    "becomes 24-bit true colour. A progress bar shows on a terminal; Ctrl-C\n"
    "stops the write.\n"
    "\n"
    "  --keep-partial  keep the rows written before a stop (removed otherwise)\n"
    "\n"
    "exit status: 0 written, 1 cannot read or write, 2 usage, 130 stopped\n";

const int kExitStopped = 130;

// Set by Ctrl-C; the next progress call answers "stop".
std::atomic<bool> g_interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the flag is set from a signal handler");

// What the progress callback needs, since the host's callback takes no context.
struct ProgressState {
  uint32_t rows = 0;
  bool bar = false;
  int drawn = -1; // last width of the bar drawn, in cells
  bool stopped = false;
  int32_t stoppedAt = 0;
} g_state;

const int kBarCells = 40;

bool StderrIsTerminal() {
#if defined(_WIN32)
  return _isatty(_fileno(stderr)) != 0;
#else
  return isatty(fileno(stderr)) != 0;
#endif
}

void DrawBar(uint32_t done) {
  const int cells = g_state.rows ? static_cast<int>(uint64_t(done) * kBarCells / g_state.rows)
                                 : kBarCells;
  if (cells == g_state.drawn && done != g_state.rows)
    return;
  g_state.drawn = cells;
  char bar[kBarCells + 1];
  for (int i = 0; i < kBarCells; ++i)
    bar[i] = i < cells ? '#' : '.';
  bar[kBarCells] = '\0';
  const unsigned percent =
      g_state.rows ? static_cast<unsigned>(uint64_t(done) * 100 / g_state.rows) : 100;
  std::fprintf(stderr, "\r[%s] %3u%% %u/%u rows", bar, percent, done, g_state.rows);
  std::fflush(stderr);
}

int32_t TLP_CALL OnRow(int32_t row) {
  if (g_interrupted.load()) {
    g_state.stopped = true;
    g_state.stoppedAt = row;
    return 1;
  }
  if (g_state.bar)
    DrawBar(static_cast<uint32_t>(row - 1));
  return 0;
}

#if defined(_WIN32)
BOOL WINAPI OnConsoleCtrl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
    return FALSE;
  g_interrupted = true;
  return TRUE;
}
#else
extern "C" void OnSigint(int) { g_interrupted = true; }
#endif

// Ctrl-C asks for a stop instead of ending the program, while this lives.
class InterruptToStop {
public:
  InterruptToStop() {
    g_interrupted = false;
#if defined(_WIN32)
    SetConsoleCtrlHandler(OnConsoleCtrl, TRUE);
#else
    struct sigaction sa = {};
    sa.sa_handler = OnSigint;
    // A write blocked on a pipe or slow device resumes; the stop comes at
    // the next row.
    sa.sa_flags = SA_RESTART;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, &old_);
#endif
  }
  ~InterruptToStop() {
#if defined(_WIN32)
    SetConsoleCtrlHandler(OnConsoleCtrl, FALSE);
#else
    sigaction(SIGINT, &old_, nullptr);
#endif
  }
  InterruptToStop(const InterruptToStop &) = delete;
  InterruptToStop &operator=(const InterruptToStop &) = delete;

private:
#if !defined(_WIN32)
  struct sigaction old_ = {};
#endif
};

// The imported record, handed back to the plug-in and released on every way
// out. The 28-byte record itself is the host's to free.
struct Imported {
  const PluginApi &api;
  HostImage *image = nullptr;
  explicit Imported(const PluginApi &a) : api(a) {}
  ~Imported() {
    if (image) {
      api.IMPORT_FreeImage(image);
      std::free(image);
    }
  }
  Imported(const Imported &) = delete;
  Imported &operator=(const Imported &) = delete;
};

const char *KindName(int32_t kind) {
  switch (kind) {
  case TLP_KIND_INDEXED8:
    return "8-bit colour-mapped";
  case TLP_KIND_HIGH16:
    return "16-bit true colour";
  case TLP_KIND_FULL24:
    return "24-bit true colour";
  default:
    return "unknown kind";
  }
}

// Only ever a regular file: a stop on a device or pipe leaves nothing to tidy.
void RemovePartial(const std::string &path) {
  std::error_code ec;
  if (std::filesystem::is_regular_file(path, ec))
    std::filesystem::remove(path, ec);
  if (ec)
    std::fprintf(stderr, "tga-host: cannot remove '%s': %s\n", path.c_str(),
                 ec.message().c_str());
}

} // namespace

int CmdConvert(Plugin &plugin, const Args &args) {
  bool keepPartial = false;
  std::vector<std::string> paths;
  bool optionsEnded = false;
  for (const std::string &a : args) {
    if (!optionsEnded && (a == "--help" || a == "-h")) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (!optionsEnded && a == "--keep-partial")
      keepPartial = true;
    else if (!optionsEnded && a == "--")
      optionsEnded = true;
    else if (!optionsEnded && a.size() > 1 && a[0] == '-') {
      std::fprintf(stderr, "tga-host convert: unknown option '%s'\n\n%s", a.c_str(), kUsage);
      return 2;
    } else
      paths.push_back(a);
  }
  if (paths.size() != 2) {
    std::fprintf(stderr, "tga-host convert: needs an input and an output file\n\n%s", kUsage);
    return 2;
  }
  const std::string &in = paths[0], &out = paths[1];

  const PluginApi &api = plugin.Api();
  Imported imported(api);
  api.IMPORT_CreateImage(in.c_str(), &imported.image);
  if (!imported.image) {
    std::fprintf(stderr, "tga-host: cannot read '%s' as a Targa file\n", in.c_str());
    return 1;
  }
  const HostImage &image = *imported.image;

  g_state = ProgressState{};
  g_state.rows = image.Height;
  g_state.bar = StderrIsTerminal();
  int32_t written;
  {
    InterruptToStop interrupts;
    written = api.EXPORT_WriteToFile(out.c_str(), &image, OnRow);
  }
  if (g_state.bar && g_state.drawn >= 0) {
    if (written && !g_state.stopped)
      DrawBar(g_state.rows);
    std::fputc('\n', stderr);
  }

  if (!written) {
    // The plug-in removes a file it could not complete.
    std::fprintf(stderr, "tga-host: cannot write '%s'\n", out.c_str());
    return 1;
  }
  if (g_state.stopped) {
    std::fprintf(stderr, "tga-host: stopped before row %d of %u", g_state.stoppedAt, image.Height);
    if (keepPartial) {
      std::fprintf(stderr, "; '%s' keeps the rows before it\n", out.c_str());
    } else {
      RemovePartial(out);
      std::fprintf(stderr, "; '%s' removed\n", out.c_str());
    }
    return kExitStopped;
  }
  std::printf("%s: %u x %u, %s\n", out.c_str(), image.Width, image.Height, KindName(image.Kind));
  return 0;
}
