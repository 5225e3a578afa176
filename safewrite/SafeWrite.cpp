#include "SafeWrite.h"
#include "System.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
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

using sys::calls;

// A call made once more where it fails: a step that mends or finishes what
// is already under the name.
template <class F> int Twice(F &&call) noexcept {
  const int e = call();
  return e == 0 ? 0 : call();
}

int LastError() noexcept { return errno != 0 ? errno : EIO; }

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
    calls.Chose(Way_);
    stream = calls.Stream(*writeTo);
    if (!stream)
      Fail(LastError());
    else if (Way_ != Way::kDirect) // a device or pipe gets its bytes as the writer gives them
      std::setvbuf(stream, nullptr, _IOFBF, kStreamBuffer);
  }
  if (!stream) {
    Release();
    Way_ = Way::kNone;
  } else {
    calls.Reached("open");
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
  int error = calls.OpenExisting(Path, Target.get());
  if (error == ENOENT) {
    error = calls.MakeNew(Path, OwnerOnly, New.get());
    if (error == 0) {
      Way_ = Way::kNew;
      return &New->file;
    }
    calls.Drop(New.get());
    if (error == EEXIST) // made by someone else meanwhile
      error = calls.OpenExisting(Path, Target.get());
  }
  sys::Facts facts;
  if (error == 0)
    error = calls.Inspect(*Target, &facts);
  if (error != 0) {
    Fail(error);
    return nullptr;
  }
  OldSize = facts.size;
  Way_ = sys::WayFor(facts);
  if (Way_ == Way::kDirect)
    return Target.get();
  if (Way_ == Way::kRename) {
    if (calls.MakeSibling(Path, *Target, New.get()) == 0)
      return &New->file;
    if (int e = calls.Drop(New.get())) {
      Fail(e);
      return nullptr;
    }
    Way_ = Way::kInPlace;
  }
  if (int e = calls.MakeCopy(Path, *Target, New.get())) {
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
  int closed = Way_ == Way::kDirect ? 0 : calls.Told(stream, &given);
  const int shut = calls.CloseStream(stream) == 0 ? 0 : LastError();
  if (closed == 0)
    closed = shut;
  sys::Facts facts;
  if (closed == 0 && Way_ != Way::kDirect)
    closed = calls.Inspect(New->file, &facts);
  if (closed == 0 && facts.size != given)
    closed = ENOSPC;
  calls.Reached("written");
  bool done = false;
  if (!complete)
    Fail(writeError);
  else if (closed != 0)
    Fail(closed);
  else
    done = Commit();
  if (done)
    calls.Reached("committed");
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
    calls.Reached("commit");
    if (int e = calls.Publish(New.get()))
      return Fail(e);
    return true;
  case Way::kRename: {
    // On the disk before it stands for a file that had bytes to lose.
    if (OldSize > 0)
      if (int e = calls.Flush(New->file))
        return Fail(e);
    calls.Reached("commit");
    const int e = calls.Replace(New.get(), *Target);
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
  if (int e = calls.Inspect(New->file, &written))
    return Fail(e);
  const auto keepNew = [&] {
    const int e = calls.Flush(New->file);
    return e != 0 ? e : calls.Keep(New.get());
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
  Buffer.reset(calls.Allocate(kChunk));
  if (!Buffer)
    return Fail(ENOMEM);
  calls.Reached("commit");
  bool changed = false;
  int e = size > old ? CopyRange(old, size - old, &changed) : 0;
  bool overwritten = false;
  if (e == 0) {
    e = CopyRange(0, std::min(old, size), &overwritten);
    if (e != 0 && overwritten)
      e = CopyRange(0, std::min(old, size), &overwritten);
  }
  if (e == 0 && size < old) // past a copied byte: a failure leaves a mix
    e = Twice([&]() noexcept { return calls.Truncate(*Target, size); });
  if (e == 0 && kept)
    e = Twice([&]() noexcept { return calls.Flush(*Target); });
  if (e == 0)
    return true;
  // Only the bytes beyond the old end were written: cut them off.
  if (!overwritten && changed)
    changed = Twice([&]() noexcept { return calls.Truncate(*Target, old); }) != 0;
  KeepNew = overwritten || changed;
  return Fail(e);
}

// Holds the old file against our other writers, checks that the name still
// holds it, and tells what it is now: another writer may have changed it
// since it was opened.
int TSafeWrite::HoldOld(sys::Facts *now) {
  if (int e = calls.Lock(*Target))
    return e;
  Locked = true;
  if (int e = calls.StillNamed(Path, *Target))
    return e;
  return calls.Inspect(*Target, now);
}

// Copies `size` bytes at `at` of the new file to the same place of the old;
// `*changed` tells whether any of them reached it.
int TSafeWrite::CopyRange(uint64_t at, uint64_t size, bool *changed) noexcept {
  for (const uint64_t end = at + size; at < end;) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(kChunk, end - at));
    size_t got = 0, put = 0;
    if (int e = calls.ReadAt(New->file, at, Buffer.get(), want, &got))
      return e;
    if (got == 0)
      return EIO; // shorter than it said
    const int e = calls.WriteAt(*Target, at, Buffer.get(), got, &put);
    *changed = *changed || put > 0;
    if (e != 0)
      return e;
    calls.Reached("copying");
    at += got;
  }
  return 0;
}

// Lets go of everything; a new file that was never committed goes with it.
void TSafeWrite::Release() {
  if (Locked)
    calls.Unlock(*Target);
  Locked = false;
  if (!KeepNew)
    calls.Drop(New.get());
  else
    calls.Close(&New->file);
  calls.Close(&New->folder);
  calls.Close(Target.get());
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
    e = calls.CreateNew(*made);
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
  std::unique_ptr<uint8_t[]> buffer(calls.Allocate(kChunk));
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

namespace sys {
namespace {
uint8_t *Allocate(size_t size) noexcept { return new (std::nothrow) uint8_t[size]; }
int CloseStream(std::FILE *stream) noexcept { return std::fclose(stream); }
void Chose(Way) noexcept {}
void Reached(const char *) noexcept {}
} // namespace

const Calls kSystem = {OpenExisting, Inspect, MakeNew,  Publish,  MakeSibling, Replace,     MakeCopy,
                       Keep,         Drop,    Lock,     Unlock,   StillNamed,  ReadAt,      WriteAt,
                       Truncate,     Flush,   Told,     Stream,   CloseStream, Close,       CreateNew,
                       Allocate,     Chose,   Reached};
} // namespace sys

} // namespace TLP_SAFE_WRITE_BUILD
} // namespace safe_write
