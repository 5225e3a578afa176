#include "SafeWrite.h"
#include "System.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <chrono>
#include <new>

namespace safe_write {
inline namespace TLP_SAFE_WRITE_BUILD {

namespace {

// Copies between files go through one buffer of this size (in the tests'
// build a small one, so that a copy takes many steps); the stream of a
// file's new bytes writes in pieces of the other.
#if defined(TLP_SAFE_WRITE_SEAMS)
const size_t kChunk = 16;
#else
const size_t kChunk = size_t(1) << 20;
#endif
const size_t kStreamBuffer = size_t(256) << 10;

// A primitive's answer, or the failure a test injected in its place.
template <class F> int Call(const char *name, F &&call) noexcept(noexcept(call())) {
  if (seams::Injected(name))
    return errno;
  return call();
}

// The same, made once more where it fails: a step that mends or finishes
// what is already under the name.
template <class F> int Twice(const char *name, F &&call) noexcept {
  const int e = Call(name, call);
  return e == 0 ? 0 : Call(name, call);
}

int LastError() noexcept { return errno != 0 ? errno : EIO; }

// A block of `size` bytes, or null where memory runs out.
uint8_t *Allocate(size_t size) noexcept { return seams::Injected("new") ? nullptr : new (std::nothrow) uint8_t[size]; }

} // namespace

TSafeWrite::TSafeWrite(std::string path)
    : Path(std::move(path)), Target(std::make_unique<sys::File>()), New(std::make_unique<sys::Temporary>()) {}

TSafeWrite::~TSafeWrite() {
  if (Way_ != Way::kNone)
    Release();
}

// Each write fails once: every step that fails gives up at once.
bool TSafeWrite::Fail(int error) noexcept {
  Error_ = error;
  return false;
}

std::FILE *TSafeWrite::Open() {
  const sys::File *writeTo = Begin();
  std::FILE *stream = nullptr;
  if (writeTo) {
    seams::Took(Way_);
    stream = seams::Injected("Stream") ? nullptr : sys::Stream(*writeTo);
    if (!stream)
      Fail(LastError());
    else if (Way_ != Way::kDirect) // a device or pipe gets its bytes as the writer gives them
      std::setvbuf(stream, nullptr, _IOFBF, kStreamBuffer);
  }
  if (!stream) {
    Release();
    Way_ = Way::kNone;
  } else {
    seams::Reached("open");
  }
  return stream;
}

namespace {

// How many names TemporaryName has made.
std::atomic<uint32_t> g_names{0};

} // namespace

// The way to write an existing file, as SafeWrite.h's opening paragraph
// has it. A rename that turns out not to work here (a folder that takes no
// new file, a replace refused) falls to writing in place.
Way sys::WayFor(const Facts &file) {
  if (!file.regular)
    return Way::kDirect;
  // Only a rename of the one name can carry every fact; under Wine no rename can.
  return file.links == 1 && !file.wine ? Way::kRename : Way::kInPlace;
}

// Opens the file and chooses the way to write it: the file the stream
// writes to, or null after Fail.
const sys::File *TSafeWrite::Begin() {
  const auto openExisting = [&]() noexcept { return sys::OpenExisting(Path, Target.get()); };
  int error = Call("OpenExisting", openExisting);
  if (error == ENOENT) {
    error = Call("MakeNew", [&] { return sys::MakeNew(Path, OwnerOnly, New.get()); });
    if (error == 0) {
      Way_ = Way::kNew;
      return &New->file;
    }
    sys::Drop(New.get());
    if (error == EEXIST) // made by someone else meanwhile
      error = Call("OpenExisting", openExisting);
  }
  sys::Facts facts;
  if (error == 0)
    error = Call("Inspect", [&] { return sys::Inspect(*Target, &facts); });
  if (error != 0) {
    Fail(error);
    return nullptr;
  }
  OldSize = facts.size;
  Way_ = sys::WayFor(facts);
  if (Way_ == Way::kDirect)
    return Target.get();
  if (Way_ == Way::kRename) {
    if (Call("MakeSibling", [&] { return sys::MakeSibling(Path, *Target, New.get()); }) == 0)
      return &New->file;
    if (int e = sys::Drop(New.get())) {
      Fail(e);
      return nullptr;
    }
    Way_ = Way::kInPlace;
  }
  if (int e = Call("MakeCopy", [&] { return sys::MakeCopy(Path, *Target, New.get()); })) {
    Fail(e);
    return nullptr;
  }
  return &New->file;
}

bool TSafeWrite::Close(std::FILE *stream, bool complete) {
  // What made the writer give up, before the close can change it.
  const int writeError = LastError();
  // How many bytes the stream took, to be found in the file once it is
  // closed: a C runtime may count a short write (a full disk under Wine) as
  // done.
  uint64_t given = 0;
  int closed = Way_ == Way::kDirect ? 0 : Call("Told", [&] { return sys::Told(stream, &given); });
  const int shut = std::fclose(stream) == 0 ? 0 : LastError();
  if (closed == 0)
    closed = shut;
  if (closed == 0 && seams::Injected("CloseStream"))
    closed = errno;
  sys::Facts facts;
  if (closed == 0 && Way_ != Way::kDirect)
    closed = Call("Inspect", [&] { return sys::Inspect(New->file, &facts); });
  if (seams::Injected("ShortWrite")) // as the C runtime under Wine can leave it
    ++given;
  if (closed == 0 && facts.size != given)
    closed = ENOSPC;
  seams::Reached("written");
  bool done = false;
  if (!complete)
    Fail(writeError);
  else if (closed != 0)
    Fail(closed);
  else
    done = Commit();
  if (done)
    seams::Reached("committed");
  Release();
  Way_ = Way::kNone;
  // The reason stays where the C library keeps it, for a caller that reads it.
  if (!done && Error_ > 0)
    errno = Error_;
  return done;
}

bool TSafeWrite::Commit() {
  switch (Way_) {
  case Way::kNew:
    seams::Reached("commit");
    if (int e = Call("Publish", [&] { return sys::Publish(New.get()); }))
      return Fail(e);
    return true;
  case Way::kRename: {
    // On the disk before it stands for a file that had bytes to lose.
    if (OldSize > 0)
      if (int e = Call("Flush", [&]() noexcept { return sys::Flush(New->file); }))
        return Fail(e);
    seams::Reached("commit");
    const int e = Call("Replace", [&] { return seams::ReplaceRefused() ? EBUSY : sys::Replace(New.get(), *Target); });
    if (e == 0)
      return true;
    // Someone else's file under the name now, left as found; or another
    // writer holds the folder longer than any replace takes.
    if (e == kNameChanged || e == EWOULDBLOCK)
      return Fail(e);
    // A file that can be written but not replaced (a mount point, another
    // user's file in a sticky folder) takes the new bytes in place.
    Way_ = Way::kInPlace;
    return CopyIn();
  }
  case Way::kInPlace:
    return CopyIn();
  default:
    return true;
  }
}

// The complete new file goes over the old one. It is kept first, flushed
// under a name that a kill leaves, and the old file is held against our
// other writers and checked to be still under the name. The bytes beyond
// the old end go first, since only they take new room on the disk: a
// failure among them leaves the old bytes whole, cut back to their size.
// Once an old byte is overwritten a failure is mended by copying once more;
// past that the name holds a mix and the kept new file stays. An empty old
// file has nothing to lose: it is written as a new file is, with no copy
// kept and nothing flushed.
bool TSafeWrite::CopyIn() {
  sys::Facts written, now;
  if (int e = Call("Inspect", [&] { return sys::Inspect(New->file, &written); }))
    return Fail(e);
  const auto keepNew = [&] {
    if (int e = Call("Flush", [&]() noexcept { return sys::Flush(New->file); }))
      return e;
    return Call("Keep", [&] { return sys::Keep(New.get()); });
  };
  bool kept = OldSize > 0;
  if (kept)
    if (int e = keepNew())
      return Fail(e);
  if (int e = HoldOld(&now))
    return Fail(e);
  const uint64_t old = now.size, size = written.size;
  if (!kept && old > 0) {
    if (int e = keepNew())
      return Fail(e);
    kept = true;
  }
  Buffer.reset(Allocate(kChunk));
  if (!Buffer)
    return Fail(ENOMEM);
  seams::Reached("commit");
  bool changed = false;
  int e = size > old ? CopyRange(old, size - old, &changed) : 0;
  bool overwritten = false;
  if (e == 0) {
    e = CopyRange(0, std::min(old, size), &overwritten);
    if (e != 0 && overwritten)
      e = CopyRange(0, std::min(old, size), &overwritten);
  }
  if (e == 0 && size < old) // past a copied byte: a failure leaves a mix
    e = Twice("Truncate", [&]() noexcept { return sys::Truncate(*Target, size); });
  if (e == 0 && kept)
    e = Twice("Flush", [&]() noexcept { return sys::Flush(*Target); });
  if (e == 0)
    return true;
  // Only the bytes beyond the old end were written: cut them off.
  if (!overwritten && changed)
    changed = Twice("Truncate", [&]() noexcept { return sys::Truncate(*Target, old); }) != 0;
  KeepNew = overwritten || changed;
  return Fail(e);
}

// Holds the old file against our other writers, checks that the name still
// holds it, and tells what it is now: another writer may have changed it
// since it was opened.
int TSafeWrite::HoldOld(sys::Facts *now) {
  if (int e = Call("Lock", [&]() noexcept { return sys::Lock(*Target); }))
    return e;
  Locked = true;
  if (int e = Call("StillNamed", [&]() noexcept { return sys::StillNamed(Path, *Target); }))
    return e;
  return Call("Inspect", [&] { return sys::Inspect(*Target, now); });
}

// Copies `size` bytes at `at` of the new file to the same place of the old;
// `*changed` tells whether any of them reached it.
int TSafeWrite::CopyRange(uint64_t at, uint64_t size, bool *changed) noexcept {
  for (const uint64_t end = at + size; at < end;) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(kChunk, end - at));
    size_t got = 0, put = 0;
    if (int e = Call("ReadAt", [&]() noexcept { return sys::ReadAt(New->file, at, Buffer.get(), want, &got); }))
      return e;
    if (seams::Injected("Shrunk"))
      got = 0;
    if (got == 0)
      return EIO; // shorter than it said
    const int e = Call("WriteAt", [&]() noexcept { return sys::WriteAt(*Target, at, Buffer.get(), got, &put); });
    *changed = *changed || put > 0;
    if (e != 0)
      return e;
    seams::Reached("copying");
    at += got;
  }
  return 0;
}

// Lets go of everything; a new file that was never committed goes with it.
void TSafeWrite::Release() {
  if (Locked)
    sys::Unlock(*Target);
  Locked = false;
  if (!KeepNew)
    sys::Drop(New.get());
  else
    sys::Close(&New->file);
  sys::Close(&New->folder);
  sys::Close(Target.get());
}

std::string sys::TemporaryName(const std::string &name) {
  static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  // splitmix64 of the time, where this process's stack lies and the call's
  // number: no two calls of a process alike, and other processes' unlikely
  // to be (a name taken is tried again anyway).
  const uint64_t now = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  uint64_t x = now ^ static_cast<uint64_t>(reinterpret_cast<uintptr_t>(&now)) << 16 ^
               uint64_t(g_names.fetch_add(1)) << 40;
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  x ^= x >> 31;
  std::string made = "." + name.substr(0, CharacterStart(name, 0, std::min<size_t>(name.size(), 32))) + ".";
  for (int i = 0; i < 8; ++i, x /= sizeof kLetters - 1)
    made += kLetters[x % (sizeof kLetters - 1)];
  return made + ".tmp";
}

int ReserveBeside(const std::string &path, std::string *made) {
  const size_t slash = LastSeparator(path);
  const size_t start = slash == std::string::npos ? 0 : slash + 1;
  int e = EEXIST;
  for (int attempt = 0; attempt < 100 && e == EEXIST; ++attempt) {
    *made = path.substr(0, start) + sys::TemporaryName(path.substr(start));
    e = Call("CreateNew", [&]() noexcept { return sys::CreateNew(*made); });
  }
  if (e != 0)
    made->clear();
  return e;
}

int WriteWhole(const std::string &path, const std::vector<uint8_t> &bytes, bool ownerOnly) {
  TSafeWrite out(path);
  out.OwnerOnly = ownerOnly;
  std::FILE *stream = out.Open();
  if (!stream)
    return out.Error();
  errno = 0;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), stream) == bytes.size();
  return out.Close(stream, written) ? 0 : out.Error();
}

int PutInPlace(const std::string &from, const std::string &path) {
  std::unique_ptr<std::FILE, int (*)(std::FILE *)> in(std::fopen(from.c_str(), "rb"), std::fclose);
  if (!in)
    return LastError();
  std::unique_ptr<uint8_t[]> buffer(Allocate(kChunk));
  if (!buffer)
    return ENOMEM;
  TSafeWrite out(path);
  std::FILE *stream = out.Open();
  if (!stream)
    return out.Error();
  errno = 0;
  bool written = true;
  for (size_t n; written && (n = std::fread(buffer.get(), 1, kChunk, in.get())) > 0;)
    written = std::fwrite(buffer.get(), 1, n, stream) == n;
  written = written && !std::ferror(in.get());
  return out.Close(stream, written) ? 0 : out.Error();
}

#if defined(TLP_SAFE_WRITE_SEAMS)
namespace seams {
namespace {
long g_failAt = 0, g_calls = 0;
bool g_onward = false;
int g_error = EIO;
const char *g_failed = "";
bool g_renameAsWindows = false;
Way g_took = Way::kNone;
bool g_refused = false;
bool g_noExchange = false;
bool g_noUnnamed = false;
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
void RenameAsWindows(bool on) noexcept { g_renameAsWindows = on; }
#if defined(_WIN32)
bool RenameAsWindows() noexcept { return g_renameAsWindows; }
#endif
void RefuseReplace(bool on) noexcept { g_refused = on; }
bool ReplaceRefused() noexcept { return g_refused; }
void NoExchange(bool on) noexcept { g_noExchange = on; }
bool NoExchange() noexcept { return g_noExchange; }
void NoUnnamed(bool on) noexcept { g_noUnnamed = on; }
bool NoUnnamed() noexcept { return g_noUnnamed; }
void PauseAt(const char *point, void (*pause)()) noexcept {
  g_pauseAt = point;
  g_pause = pause;
}
void Reached(const char *point) noexcept {
  if (g_pauseAt && std::strcmp(point, g_pauseAt) == 0)
    g_pause();
}
void Took(Way way) noexcept { g_took = way; }
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
#endif

} // namespace TLP_SAFE_WRITE_BUILD
} // namespace safe_write
