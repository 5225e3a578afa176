// The tests' build of the sequence: every call through `calls` counted, and
// made to fail, refused or paused at as a test asks. Not in the product.
#include "SafeWrite.h"
#include "System.h"

#include <cerrno>
#include <cstring>

namespace safe_write {
inline namespace TLP_SAFE_WRITE_BUILD {

namespace seams {
namespace {
long g_failAt = 0, g_calls = 0;
bool g_onward = false;
int g_error = EIO;
const char *g_failed = "";
Way g_took = Way::kNone;
const char *g_pauseAt = nullptr;
void (*g_pause)() = nullptr;
} // namespace

void FailAt(long failAt, int error, bool onward) noexcept {
  g_failAt = failAt;
  g_onward = onward;
  g_error = error;
  g_calls = 0;
  g_failed = "";
  g_took = Way::kNone;
}
const char *Failed() noexcept { return g_failed; }
void PauseAt(const char *point, void (*pause)()) noexcept {
  g_pauseAt = point;
  g_pause = pause;
}
Way Took() noexcept { return g_took; }

bool Injected(const char *call) noexcept {
  ++g_calls;
  if (g_failAt == 0 || (g_onward ? g_calls < g_failAt : g_calls != g_failAt))
    return false;
  g_failed = call;
  errno = g_error;
  return true;
}
} // namespace seams

namespace sys {
namespace {
using seams::Injected;
const Calls &real = kSystem;

int Replacing(Temporary *sibling, const File &old) {
  return Injected("Replace") ? errno : real.Replace(sibling, old);
}
} // namespace

// Each entry counts, and answers an injected failure as the system's own
// would: its errno value, or null with errno set.
Calls calls = {
    [](const std::string &path, File *file) noexcept {
      return Injected("OpenExisting") ? errno : real.OpenExisting(path, file);
    },
    [](const File &file, Facts *facts) { return Injected("Inspect") ? errno : real.Inspect(file, facts); },
    [](const std::string &path, bool ownerOnly, Temporary *made) {
      return Injected("MakeNew") ? errno : real.MakeNew(path, ownerOnly, made);
    },
    [](Temporary *made) { return Injected("Publish") ? errno : real.Publish(made); },
    [](const std::string &path, const File &old, Temporary *sibling) {
      return Injected("MakeSibling") ? errno : real.MakeSibling(path, old, sibling);
    },
    Replacing,
    [](const std::string &path, const File &old, Temporary *copy) {
      return Injected("MakeCopy") ? errno : real.MakeCopy(path, old, copy);
    },
    [](Temporary *copy) { return Injected("Keep") ? errno : real.Keep(copy); },
    real.Drop, // never fails by itself: it tidies up
    [](const File &file) noexcept { return Injected("Lock") ? errno : real.Lock(file); },
    real.Unlock,
    [](const std::string &path, const File &file) noexcept {
      return Injected("StillNamed") ? errno : real.StillNamed(path, file);
    },
    [](const File &file, uint64_t offset, void *buffer, size_t size, size_t *got) noexcept {
      if (Injected("ReadAt"))
        return errno;
      const int e = real.ReadAt(file, offset, buffer, size, got);
      if (e == 0 && Injected("Shrunk")) // the new file shorter than it said
        *got = 0;
      return e;
    },
    [](const File &file, uint64_t offset, const void *buffer, size_t size, size_t *wrote) noexcept {
      return Injected("WriteAt") ? errno : real.WriteAt(file, offset, buffer, size, wrote);
    },
    [](const File &file, uint64_t size) noexcept { return Injected("Truncate") ? errno : real.Truncate(file, size); },
    [](const File &file) noexcept { return Injected("Flush") ? errno : real.Flush(file); },
    [](std::FILE *stream, uint64_t *bytes) noexcept {
      if (Injected("Told"))
        return errno;
      const int e = real.Told(stream, bytes);
      if (e == 0 && Injected("ShortWrite")) // a short write the C runtime counted, as under Wine
        ++*bytes;
      return e;
    },
    [](const File &file) { return Injected("Stream") ? nullptr : real.Stream(file); },
    [](std::FILE *stream) noexcept {
      const int e = real.CloseStream(stream);
      return e == 0 && Injected("CloseStream") ? EOF : e;
    },
    real.Close,
    [](const std::string &path) noexcept { return Injected("CreateNew") ? errno : real.CreateNew(path); },
    [](size_t size) noexcept { return Injected("new") ? nullptr : real.Allocate(size); },
    [](Way way) noexcept { seams::g_took = way; },
    [](const char *point) noexcept {
      if (seams::g_pauseAt && std::strcmp(point, seams::g_pauseAt) == 0)
        seams::g_pause();
    },
};

} // namespace sys

namespace seams {
void RefuseReplace(bool on) noexcept {
  sys::calls.Replace = sys::Replacing;
  if (on)
    sys::calls.Replace = [](sys::Temporary *, const sys::File &) { return Injected("Replace") ? errno : EBUSY; };
}
} // namespace seams

} // namespace TLP_SAFE_WRITE_BUILD
} // namespace safe_write
