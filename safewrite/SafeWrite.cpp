#include "SafeWrite.h"
#include "System.h"

#include <algorithm>
#include <cerrno>
#include <new>

namespace safe_write {
inline namespace TLP_SAFE_WRITE_BUILD {

// The old bytes of a file written in place, in memory or in a scratch file.
struct Kept {
  std::unique_ptr<uint8_t[]> memory;
  sys::File scratch;
  ~Kept() { sys::Close(&scratch); }
};

namespace {

// Old files up to this size (or the new file's, if larger) are kept in
// memory: bounded by what the caller's record honestly claims.
const uint64_t kMemoryCopy = uint64_t(64) << 20;
// Copies between files go through a buffer of this size.
const size_t kChunk = size_t(1) << 20;

// A primitive's answer, or the failure a test injected in its place.
template <class F> int Call(const char *name, F &&call) noexcept(noexcept(call())) {
  if (seams::Injected(name))
    return errno;
  return call();
}

int LastError() noexcept { return errno != 0 ? errno : EIO; }

// A block of `size` bytes, or null where memory runs out.
uint8_t *Allocate(size_t size) noexcept { return seams::Injected("new") ? nullptr : new (std::nothrow) uint8_t[size]; }

// Reads at `at`; `*got` is 0 where the file ends there (it may have shrunk
// since its size was taken).
int ReadAt(const sys::File &from, uint64_t at, uint8_t *buffer, size_t want, size_t *got) noexcept {
  if (int e = Call("ReadAt", [&]() noexcept { return sys::ReadAt(from, at, buffer, want, got); }))
    return e;
  if (seams::Injected("Shrunk"))
    *got = 0;
  return 0;
}

// Copies `size` bytes at the start of `from` to the start of `to`.
int CopyFile(const sys::File &from, const sys::File &to, uint64_t size) noexcept {
  std::unique_ptr<uint8_t[]> buffer(Allocate(kChunk));
  if (!buffer)
    return ENOMEM;
  for (uint64_t at = 0; at < size;) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(kChunk, size - at));
    size_t got = 0;
    if (int e = ReadAt(from, at, buffer.get(), want, &got))
      return e;
    if (got == 0)
      return EIO; // shorter than it said
    if (int e = Call("WriteAt", [&]() noexcept { return sys::WriteAt(to, at, buffer.get(), got); }))
      return e;
    at += got;
  }
  return 0;
}

} // namespace

TSafeWrite::TSafeWrite(std::string path, uint64_t bytes)
    : Path(std::move(path)), Bytes(bytes), Target(std::make_unique<sys::File>()) {}

TSafeWrite::~TSafeWrite() {
  if (Target->Open())
    Abandon();
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
  }
  if (!stream)
    Abandon();
  return stream;
}

// Opens the file and chooses the way to write it: the file the stream
// writes to, or null after Fail.
const sys::File *TSafeWrite::Begin() {
  bool readable = false;
  const auto openExisting = [&]() noexcept { return sys::OpenExisting(Path, Target.get(), &readable); };
  int error = Call("OpenExisting", openExisting);
  if (error == ENOENT) {
    error = Call("CreateNew", [&] { return sys::CreateNew(Path, OwnerOnly, Target.get()); });
    if (error == 0)
      Way_ = Way::kNew;
    else if (error == EEXIST) // made by someone else meanwhile
      error = Call("OpenExisting", openExisting);
  }
  sys::Facts facts;
  if (error == 0 && Way_ == Way::kNone)
    error = Call("Inspect", [&] { return sys::Inspect(*Target, &facts); });
  if (error != 0) {
    Fail(error);
    return nullptr;
  }
  Readable = readable;
  OldSize = facts.size;
  const sys::File *writeTo = Target.get();
  if (Way_ == Way::kNone && !facts.regular)
    Way_ = Way::kDirect;
  // Replaced by a rename only where the new file carries every fact of the
  // old; where it cannot, the old file is written in place.
  if (Way_ == Way::kNone && facts.replaceable) {
    Beside = std::make_unique<sys::Sibling>();
    if (Call("MakeSibling", [&] { return sys::MakeSibling(Path, *Target, Beside.get()); }) == 0) {
      Way_ = Way::kRename;
      writeTo = &Beside->file;
    } else {
      sys::DropSibling(Beside.get());
      Beside.reset();
    }
  }
  if (Way_ == Way::kNone) {
    if (!KeepCopy())
      return nullptr;
    Way_ = Way::kInPlace;
  }
  return writeTo;
}

bool TSafeWrite::Close(std::FILE *stream, bool complete) {
  // What made the writer give up, before the close can change it.
  const int writeError = LastError();
  int closed = std::fclose(stream) == 0 ? 0 : LastError();
  if (closed == 0 && seams::Injected("CloseStream"))
    closed = errno;
  bool done = false;
  if (!complete)
    Fail(writeError);
  else if (closed != 0)
    Fail(closed);
  else
    done = Commit();
  if (!done)
    Abandon();
  else
    Release();
  return done;
}

// The old bytes, read before the first new byte is written.
bool TSafeWrite::KeepCopy() {
  if (!Readable)
    return Fail(EACCES); // no copy can be kept of what cannot be read
  Copy = std::make_unique<Kept>();
  const uint64_t inMemory = seams::KeepInMemoryUpTo() != 0 ? seams::KeepInMemoryUpTo() : std::max(Bytes, kMemoryCopy);
  if (OldSize <= inMemory && OldSize == static_cast<size_t>(OldSize))
    Copy->memory.reset(Allocate(static_cast<size_t>(OldSize)));
  if (Copy->memory) {
    for (uint64_t at = 0; at < OldSize;) {
      size_t got = 0;
      const size_t want = static_cast<size_t>(std::min<uint64_t>(kChunk << 4, OldSize - at));
      if (int e = ReadAt(*Target, at, Copy->memory.get() + at, want, &got))
        return Fail(e);
      if (got == 0)
        return Fail(EIO);
      at += got;
    }
    return true;
  }
  if (int e = Call("MakeScratch", [&] { return sys::MakeScratch(Path, &Copy->scratch); }))
    return Fail(e);
  if (int e = CopyFile(*Target, Copy->scratch, OldSize))
    return Fail(e);
  return true;
}

// The old size and bytes back, the size first: the file never grows here,
// so the blocks the old bytes need are still its own. A step that fails is
// tried once more; one that keeps failing cannot be helped.
bool TSafeWrite::PutBack() noexcept {
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (Call("Truncate", [&]() noexcept { return sys::Truncate(*Target, OldSize); }) != 0)
      continue;
    const int wrote = Copy->memory ? Call("WriteAt", [&]() noexcept {
      return sys::WriteAt(*Target, 0, Copy->memory.get(), static_cast<size_t>(OldSize));
    })
                                   : CopyFile(Copy->scratch, *Target, OldSize);
    if (wrote == 0)
      return true;
  }
  return false;
}

bool TSafeWrite::Commit() {
  switch (Way_) {
  case Way::kRename: {
    const int e = Call("Replace", [&] { return seams::ReplaceRefused() ? EBUSY : sys::Replace(Beside.get(), *Target); });
    if (e == 0)
      return true;
    // Someone else's file under the name now: left as found.
    if (e == kNameChanged)
      return Fail(e);
    // A file that can be written but not replaced (a mount point, another
    // user's file in a sticky folder) takes the new bytes in place.
    return InPlaceFromSibling();
  }
  case Way::kInPlace: {
    // The old tail beyond the new bytes goes (or, after a stop, beyond the
    // bytes written so far).
    uint64_t end = 0;
    if (int e = Call("Position", [&] { return sys::Position(*Target, &end); }))
      return Fail(e);
    if (int e = Call("Truncate", [&] { return sys::Truncate(*Target, end); }))
      return Fail(e);
    return true;
  }
  default:
    return true;
  }
}

bool TSafeWrite::InPlaceFromSibling() {
  // The new file holds exactly what was written.
  sys::Facts written;
  if (int e = Call("Inspect", [&] { return sys::Inspect(Beside->file, &written); }))
    return Fail(e);
  const uint64_t size = written.size;
  if (!KeepCopy())
    return false;
  Way_ = Way::kInPlace;
  if (int e = CopyFile(Beside->file, *Target, size))
    return Fail(e);
  if (int e = Call("Truncate", [&] { return sys::Truncate(*Target, size); }))
    return Fail(e);
  return true;
}

// Undoes whatever the write has changed, then lets go of everything.
void TSafeWrite::Abandon() {
  if (Way_ == Way::kNew)
    sys::RemoveCreated(Path, *Target);
  else if (Way_ == Way::kInPlace) // set only once the copy is kept
    PutBack();
  Release();
}

void TSafeWrite::Release() {
  if (Beside)
    sys::DropSibling(Beside.get());
  Beside.reset();
  Copy.reset();
  sys::Close(Target.get());
}

int WriteWhole(const std::string &path, const std::vector<uint8_t> &bytes, bool ownerOnly) {
  TSafeWrite out(path, bytes.size());
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
  std::fseek(in.get(), 0, SEEK_END);
  const long size = std::ftell(in.get());
  std::rewind(in.get());
  TSafeWrite out(path, size > 0 ? static_cast<uint64_t>(size) : 0);
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
uint64_t g_inMemory = 0;
Way g_took = Way::kNone;
bool g_refused = false;
bool g_noExchange = false;
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
void KeepInMemoryUpTo(uint64_t bytes) noexcept { g_inMemory = bytes; }
uint64_t KeepInMemoryUpTo() noexcept { return g_inMemory; }
void RefuseReplace(bool on) noexcept { g_refused = on; }
bool ReplaceRefused() noexcept { return g_refused; }
void NoExchange(bool on) noexcept { g_noExchange = on; }
bool NoExchange() noexcept { return g_noExchange; }
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
