// The safe-write sequence under every failure, kill and second writer the
// tests can make: through the plug-in's export (so the file is a picture and
// the stdcall callback runs too), the settings store's whole-bytes write and
// tga-host's copy from a file.
#include "Etarga.h"
#include "ExportSupport.h"
#include "System.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <set>
#include <stdexcept>
#include <thread>

#if defined(_WIN32)
#include <windows.h>
#else
#include <csignal>
#include <grp.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>
#endif

namespace {

namespace fs = std::filesystem;

// ---- Files: how a name reaches a file, per platform -------------------------

#if !defined(_WIN32)
const bool kWindows = false;
const uid_t kNobody = 65534;

// Makes writes past `bytes` fail with EFBIG instead of killing the process,
// for the life of the object.
class FileSizeLimit {
public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &old_);
    oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit lim = old_;
    lim.rlim_cur = bytes;
    set_ = setrlimit(RLIMIT_FSIZE, &lim) == 0;
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &old_);
    std::signal(SIGXFSZ, oldHandler_);
  }
  bool Set() const { return set_; }

private:
  rlimit old_{};
  void (*oldHandler_)(int) = nullptr;
  bool set_ = false;
};

#if defined(TLP_COVERAGE)
extern "C" void __gcov_dump(void);
#endif

// Runs `work` as a user without root's rights: where this process is root
// (as in CI), in a child that drops to `nobody`. Its answer (0 to 98), or -1
// when the rights could not be dropped.
int Unprivileged(const std::function<int()> &work) {
  if (geteuid() != 0)
    return work();
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child == 0) {
#if defined(TLP_COVERAGE)
    // Root kept as the saved ids only, to write the counts afterwards.
    const uid_t kept = 0;
#else
    const uid_t kept = kNobody;
#endif
    if (setgroups(0, nullptr) != 0 || setresgid(kNobody, kNobody, kept) != 0 ||
        setresuid(kNobody, kNobody, kept) != 0)
      _exit(99);
    const int answer = work();
#if defined(TLP_COVERAGE)
    if (setresuid(0, 0, 0) == 0 && setresgid(0, 0, 0) == 0)
      __gcov_dump();
#endif
    _exit(answer < 0 || answer > 98 ? 98 : answer);
  }
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status) ||
      WEXITSTATUS(status) == 99)
    return -1;
  return WEXITSTATUS(status);
}

// A folder the unprivileged user may search but not write (root's, or made
// read-only), holding a file anyone may write.
void LockFolder(const fs::path &folder, const fs::path &file) {
  chmod(file.c_str(), 0666);
  chmod(folder.c_str(), geteuid() == 0 ? 0755 : 0555);
}
void UnlockFolder(const fs::path &folder) { chmod(folder.c_str(), 0755); }
#else
const bool kWindows = true;

// Holds a file open as another program might, sharing reads and writes but
// not deletion: it can then be neither replaced nor deleted.
class HeldOpen {
public:
  explicit HeldOpen(const fs::path &path)
      : handle_(CreateFileA(path.string().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, 0, nullptr)) {}
  ~HeldOpen() {
    if (handle_ != INVALID_HANDLE_VALUE)
      CloseHandle(handle_);
  }
  bool Held() const { return handle_ != INVALID_HANDLE_VALUE; }

private:
  HANDLE handle_;
};
#endif

// The ways the name of a write can reach a file, as the file cases try them.
enum Reach {
  kNewFile,
  kExistingFile,
  kHardLink,      // the name written is a second name of the file
  kSymbolicLink,  // the name written is a link to the file
  kLockedFolder,  // in a folder the user may not write (POSIX)
  kHeldOpen,      // held by another program that shares no deletion (Windows)
  kReadOnlyFile,  // a file the user may not write, in a folder the user may (POSIX)
  // Another user's file in a sticky folder, which this user may write, and
  // one it may write but not read, whose old bytes no copy can keep (POSIX,
  // made as root).
  kOthersFile,
  kWriteOnlyFile,
};
const char *const kReachNames[] = {"new file",      "existing file",       "hard link",
                                   "symbolic link", "folder not writable", "held open",
                                   "file not writable", "another user's file", "file not readable"};

std::string Contents(const fs::path &path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

size_t Entries(const fs::path &folder) {
  std::error_code ec;
  return static_cast<size_t>(std::distance(fs::directory_iterator(folder, ec), fs::directory_iterator()));
}

// The complete new files that copies in place left where they failed past
// mending (or that a kill left), `.NAME.XXXXXXXX.tmp`: beside the file or in
// the temporary folder (Linux), in the user's folder for them (Windows).
// Each is read, then removed.
std::vector<std::string> TakeKeptCopies(const fs::path &dir) {
#if defined(_WIN32)
  const fs::path places[] = {fs::temp_directory_path() / "Targa plug-in", dir};
#else
  const char *tmp = std::getenv("TMPDIR");
  const fs::path places[] = {dir, tmp && *tmp ? tmp : "/tmp"};
#endif
  const auto ours = [](const std::string &name) {
    return name.size() > 13 && name[0] == '.' && name.compare(name.size() - 4, 4, ".tmp") == 0 &&
           (name.compare(0, 12, ".target.tga.") == 0 || name.compare(0, 10, ".link.tga.") == 0);
  };
  std::vector<std::string> kept;
  std::error_code ec;
  for (const fs::path &place : places)
    for (fs::directory_iterator it(place, ec), end; it != end; it.increment(ec))
      if (ours(it->path().filename().string())) {
        kept.push_back(Contents(it->path()));
        fs::remove(it->path(), ec);
      }
  return kept;
}

// A fresh folder `dir` holding "old" at `target` and, for the links, `link`
// to it; then `prepare` (if any) runs, and `write` on the name the case
// writes to, as the user the case asks for, and its answer comes back. -1:
// the case cannot be made here.
int WriteReached(Reach reach, const fs::path &dir, const std::function<int(const std::string &)> &write,
                 const std::function<void()> &prepare = nullptr) {
  const fs::path target = dir / "target.tga", link = dir / "link.tga";
  std::error_code ec;
  fs::remove_all(dir, ec);
  fs::create_directory(dir, ec);
  if (reach != kNewFile)
    std::ofstream(target, std::ios::binary) << "old";
  if (reach == kHardLink)
    fs::create_hard_link(target, link, ec);
  if (reach == kSymbolicLink)
    fs::create_symlink(target, link, ec); // none from MinGW's library or Wine
  const bool others = reach == kOthersFile || reach == kWriteOnlyFile;
  if (ec || ((reach == kLockedFolder || reach == kReadOnlyFile || others) && kWindows) ||
      (reach == kHeldOpen && !kWindows))
    return -1;
  const std::string name = (reach == kHardLink || reach == kSymbolicLink ? link : target).string();
#if defined(_WIN32)
  std::optional<HeldOpen> held;
  if (reach == kHeldOpen && !held.emplace(target).Held())
    return -1;
  if (prepare)
    prepare();
  return write(name);
#else
  if (reach == kLockedFolder)
    LockFolder(dir, target);
  if (reach == kReadOnlyFile) {
    chmod(target.c_str(), 0444);
    chmod(dir.c_str(), 0777);
  }
  if (others) {
    if (geteuid() != 0)
      return -1;
    chmod(dir.c_str(), 01777);
    chmod(target.c_str(), reach == kOthersFile ? 0666 : 0622);
  }
  if (prepare)
    prepare();
  const int answer = reach == kLockedFolder || reach == kReadOnlyFile || others
                         ? Unprivileged([&] { return write(name); })
                         : write(name);
  UnlockFolder(dir);
  return answer;
#endif
}

// Where the old file's facts stand: its content and, on POSIX, its inode
// (replaced or not), owner, group, mode, a user attribute and whether it has
// an ACL; on Windows its hidden attribute.
struct OldFacts {
  std::string content;
#if !defined(_WIN32)
  struct stat st {};
  std::string attribute;
  bool acl = false;
#else
  bool hidden = false;
#endif
  static OldFacts Of(const fs::path &file) {
    OldFacts f;
    f.content = Contents(file);
#if !defined(_WIN32)
    stat(file.c_str(), &f.st);
    char value[64] = {};
    if (getxattr(file.c_str(), "user.tlp", value, sizeof value - 1) > 0)
      f.attribute = value;
    f.acl = getxattr(file.c_str(), "system.posix_acl_access", nullptr, 0) >= 0;
#else
    const DWORD attributes = GetFileAttributesA(file.string().c_str());
    f.hidden = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_HIDDEN) != 0;
#endif
    return f;
  }
  // The facts a write must keep (the same file, where `sameFile`).
  void ExpectKept(const OldFacts &before, [[maybe_unused]] bool sameFile) const {
#if defined(_WIN32)
    EXPECT_EQ(hidden, before.hidden);
#else
    EXPECT_EQ(st.st_mode, before.st.st_mode);
    EXPECT_EQ(st.st_uid, before.st.st_uid);
    EXPECT_EQ(st.st_gid, before.st.st_gid);
    EXPECT_EQ(attribute, before.attribute);
    EXPECT_EQ(acl, before.acl);
    if (sameFile) {
      EXPECT_EQ(st.st_ino, before.st.st_ino);
    }
#endif
  }
};

using safe_write::Way;

// The way the sequence writes each kind of file: replaced by a rename where
// every fact can be carried (never under Wine, but for the path Windows
// itself takes), otherwise in place.
Way ExpectedWay(Reach reach, bool renameAsWindows) {
  static const bool wine = [] {
#if defined(_WIN32)
    return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
#else
    return false;
#endif
  }();
  switch (reach) {
  case kNewFile:
    return Way::kNew;
  case kReadOnlyFile:
    return Way::kNone;
  case kExistingFile:
  case kSymbolicLink:
  case kHeldOpen:
    return wine && !renameAsWindows ? Way::kInPlace : Way::kRename;
  default:
    return Way::kInPlace;
  }
}

// Who drives the sequence: the encoder, a whole block of bytes, a copy from
// another file, or a writer that drops its object without closing it.
enum Via { kEncoder, kWholeBytes, kFromFile, kDropped };
const char *const kViaNames[] = {"", ", whole bytes", ", from a file", ", dropped unclosed"};

int32_t TLP_CALL ThrowAtRow2(int32_t row) {
  if (row == 2)
    throw std::runtime_error("the host's own");
  return 0;
}

// One row of the fault table: the way a name reaches the file and what the
// system does meanwhile. Rows name only what differs from a plain write.
struct FaultRow {
  Reach reach;
  bool linuxOnly = false;       // a seam of Linux's calls: no row under Wine
  bool named = false;           // no unnamed files: the new file has a name from the start
  bool renameAsWindows = false; // under Wine: the path Windows itself takes
  bool replaceRefused = false;  // written beside, then in place (a mount point)
  bool noExchange = false;      // no exchange of two names: checked, then renamed
  int error = ENOSPC;           // what the failing call answers
  bool onward = false;          // every call fails from the N-th on
  Via via = kEncoder;
  bool defaultAcl = false; // the folder gives new files an ACL (Linux)
  size_t oldBytes = 100;   // the old file's size
  bool grows = false;      // another program writes to it at row 2
};

// Where GrowAtRow2 writes, and whether it did.
std::string g_grow;
bool g_grown = false;
int32_t TLP_CALL GrowAtRow2(int32_t row) {
  if (row == 2 && !g_grow.empty()) {
    std::ofstream(g_grow, std::ios::binary | std::ios::app) << "grown";
    g_grown = true;
  }
  return RecordProgress(row);
}

// What one write answered, told from the child that may have made it.
struct Outcome {
  bool written = false;  // the answer was 1
  bool injected = false; // a failure was injected (else the write ran clean)
  bool thrown = false;   // the ProgressCallback's exception came through
  Way way = Way::kNone;  // the way the sequence chose
  int Pack() const { return (written ? 1 : 0) | (injected ? 2 : 0) | (thrown ? 4 : 0) | static_cast<int>(way) << 3; }
  static Outcome Unpack(int n) { return {(n & 1) != 0, (n & 2) != 0, (n & 4) != 0, static_cast<Way>(n >> 3)}; }
};

// The facts a test gives the old file before the write, which the write must
// keep: another owner, a user attribute and the folder's default ACL on
// Linux (where root and the file system allow them); the hidden attribute
// on Windows.
void GiveFacts(const FaultRow &row, const fs::path &dir, const fs::path &target) {
#if !defined(_WIN32)
  if (row.reach == kExistingFile && geteuid() == 0 && chown(target.c_str(), kNobody, kNobody) == 0)
    chmod(target.c_str(), 0640);
  setxattr(target.c_str(), "user.tlp", "kept", 4, 0);
  if (row.defaultAcl) {
    // Owner, nobody, group, mask, others, as the kernel stores them.
    const uint16_t acl[] = {2,    0, 0x01, 6, 0xFFFF, 0xFFFF, 0x02, 6, kNobody, 0,
                            0x04, 4, 0xFFFF, 0xFFFF, 0x10, 6, 0xFFFF, 0xFFFF, 0x20, 4, 0xFFFF, 0xFFFF};
    setxattr(dir.c_str(), "system.posix_acl_default", acl, sizeof acl, 0);
  }
#else
  (void)dir;
  if (row.reach == kExistingFile)
    SetFileAttributesA(target.string().c_str(), FILE_ATTRIBUTE_HIDDEN);
#endif
}

// Every call the safe-write sequence makes to the system fails in turn, on
// every way a file is written, with and without a stop by the host, and with
// an exception from the ProgressCallback where one can pass: the answer is
// honest (1: the new bytes under the name; 0: the old file byte for byte,
// with its facts), every name still points where it pointed and nothing else
// stays in the folder. The last run of each row injects nothing: it writes.
TEST(SafeWriteFaults, EveryFailingStepLeavesTheOldFile) {
  HostPicture picture = MakePicture(4, 2, 2);
  const Bytes whole = picture.File(), stopped = picture.File(1);
  const fs::path dir = fs::path(TempFile::Folder()) / "existing";
  std::vector<FaultRow> rows;
  for (Reach reach : {kNewFile, kExistingFile, kHardLink, kSymbolicLink, kLockedFolder, kHeldOpen, kReadOnlyFile,
                      kOthersFile, kWriteOnlyFile})
    rows.push_back({.reach = reach});
  const FaultRow more[] = {
      {.reach = kNewFile, .linuxOnly = true, .named = true},
      {.reach = kExistingFile, .linuxOnly = true, .named = true},
      {.reach = kHardLink, .linuxOnly = true, .named = true},
      {.reach = kExistingFile, .renameAsWindows = true},
      {.reach = kExistingFile, .renameAsWindows = kWindows, .replaceRefused = true},
      // Someone else makes the file, or takes it away, between two calls.
      {.reach = kNewFile, .error = EEXIST},
      {.reach = kExistingFile, .error = ENOENT},
      {.reach = kExistingFile, .noExchange = true},
      // Every call failing from one on: the put-back too, so what was written
      // may stay, but the answer is honest and nothing is left beside. A call
      // interrupted once is made again.
      {.reach = kHardLink, .onward = true},
      {.reach = kHardLink, .named = true, .onward = true},
      {.reach = kHardLink, .named = true, .error = EINTR},
      {.reach = kExistingFile, .named = true, .onward = true},
      // Shorter than the new file: its bytes beyond the old end go first.
      {.reach = kHardLink, .oldBytes = 20},
      {.reach = kHardLink, .onward = true, .oldBytes = 20},
      {.reach = kExistingFile, .oldBytes = 0}, // nothing to flush for
      {.reach = kHardLink, .oldBytes = 0},     // nor to keep a copy for
      {.reach = kHardLink, .oldBytes = 0, .grows = true}, // unless it grows meanwhile
      // Every name taken: no temporary name is found, beside the file or for
      // its copy, in the 100 tries.
      {.reach = kExistingFile, .renameAsWindows = kWindows, .error = EEXIST, .onward = true},
      // What the new file gets of its own from the folder is taken off again.
      {.reach = kExistingFile, .linuxOnly = true, .defaultAcl = true},
      // The settings store's and tga-host's ways in, and writers that let go
      // without closing (the object undoes what it began).
      {.reach = kExistingFile, .via = kWholeBytes},
      {.reach = kExistingFile, .via = kFromFile},
      {.reach = kNewFile, .via = kDropped},
      {.reach = kExistingFile, .via = kDropped},
      {.reach = kHardLink, .via = kDropped},
  };
  for (const FaultRow &row : more)
    if (!row.linuxOnly || !kWindows)
      rows.push_back(row);
  const fs::path source = fs::path(TempFile::Folder()) / "source.tga";
  std::ofstream(source, std::ios::binary).write(reinterpret_cast<const char *>(whole.data()), whole.size());
  enum End { kWhole, kStop, kThrow };
  std::vector<End> ends = {kWhole, kStop};
#if !(defined(_WIN32) && !defined(_WIN64)) // no exception crosses 32-bit Windows frames here
  ends.push_back(kThrow);
#endif
  // One write of the row's, the `failAt`-th call failing: what it answered.
  const auto writeOnce = [&](const FaultRow &row, End end, long failAt, const std::string &name) {
    namespace seams = safe_write::seams;
    seams::FailAt(failAt, row.error, row.onward);
    seams::NoUnnamed(row.named);
    seams::RenameAsWindows(row.renameAsWindows);
    seams::RefuseReplace(row.replaceRefused);
    seams::NoExchange(row.noExchange);
    Outcome out;
    if (row.via == kWholeBytes) {
      out.written = safe_write::WriteWhole(name, whole, false) == 0;
    } else if (row.via == kFromFile) {
      out.written = safe_write::PutInPlace(source.string(), name) == 0;
    } else if (row.via == kDropped) {
      safe_write::TSafeWrite write(name);
      if (std::FILE *stream = write.Open()) {
        std::fwrite(whole.data(), 1, whole.size(), stream);
        std::fclose(stream);
      }
    } else {
      TTargaEncoder encoder;
      HostImage record = picture.Record();
      ResetProgress(end == kStop ? 2 : 0);
      encoder.Progress = end == kThrow ? ThrowAtRow2 : row.grows ? GrowAtRow2 : RecordProgress;
      try {
        out.written = encoder.SaveToFile(name, &record);
      } catch (const std::runtime_error &) {
        out.thrown = true;
      }
    }
    out.injected = *seams::Failed() != 0;
    out.way = seams::Took();
    seams::FailAt(0, 0);
    seams::RefuseReplace(false);
    seams::NoExchange(false);
    seams::NoUnnamed(false);
    return out.Pack();
  };
  for (const FaultRow &row : rows)
    for (End end : ends)
      for (long failAt = 1; end == kWhole || row.via == kEncoder; ++failAt) {
        g_grow = row.grows ? (dir / "target.tga").string() : "";
        SCOPED_TRACE(testing::Message() << kReachNames[row.reach] << (row.named ? ", named from the start" : "")
                                        << (row.renameAsWindows ? ", as Windows" : "")
                                        << (row.replaceRefused ? ", replace refused" : "")
                                        << (end == kStop ? ", stopped" : end == kThrow ? ", thrown" : "")
                                        << (row.noExchange ? ", no exchange" : "")
                                        << (row.defaultAcl ? ", default ACL" : "") << kViaNames[row.via] << ", call "
                                        << failAt << (row.onward ? " on" : "") << " fails with " << row.error);
        const fs::path target = dir / "target.tga", link = dir / "link.tga";
        OldFacts before;
        size_t entries = 0;
        const int answer = WriteReached(
            row.reach, dir, [&](const std::string &name) { return writeOnce(row, end, failAt, name); },
            [&] {
              // Longer than the new file, whose end must then cut it.
              if (row.reach != kNewFile)
                std::ofstream(target, std::ios::binary) << std::string(row.oldBytes, 'o');
              GiveFacts(row, dir, target);
              before = OldFacts::Of(target);
              entries = Entries(dir);
            });
        if (answer == -1)
          break;
        if (std::exchange(g_grown, false))
          before.content = "grown"; // the old file as the other program left it
        const Outcome out = Outcome::Unpack(answer);
        const bool refused = row.reach == kReadOnlyFile;
        const std::vector<std::string> kept = TakeKeptCopies(dir);
        if (!out.injected) {
          EXPECT_EQ(out.written, !refused && !out.thrown && row.via != kDropped);
          EXPECT_EQ(out.way, ExpectedWay(row.reach, row.renameAsWindows));
        }
        EXPECT_FALSE(out.written && out.thrown);
        const OldFacts after = OldFacts::Of(target);
        const Bytes &expected = end == kStop ? stopped : whole;
        const std::string picture(expected.begin(), expected.end());
        if (out.written) {
          EXPECT_EQ(after.content, picture);
          EXPECT_EQ(Entries(dir), row.reach == kNewFile ? 1u : entries) << "a file left";
        } else {
          EXPECT_EQ(fs::exists(target), row.reach != kNewFile);
          // Only where every later call fails too may the name hold other
          // bytes, and then the complete new file is kept.
          if (!row.onward) {
            EXPECT_EQ(after.content, before.content);
          }
          if (after.content != before.content) {
            EXPECT_EQ(kept, std::vector<std::string>{picture}) << "no whole picture kept";
          }
          EXPECT_EQ(Entries(dir), entries) << "a file left";
        }
        // (Where every call fails from one on, even a removal may: a name
        // it gave stays.)
        if (!row.onward && (after.content == before.content || out.written)) {
          EXPECT_TRUE(kept.empty()) << "a copy left";
        }
        if (row.reach == kHardLink || row.reach == kSymbolicLink) {
          EXPECT_EQ(Contents(link), after.content);
          EXPECT_EQ(fs::is_symlink(fs::symlink_status(link)), row.reach == kSymbolicLink);
        }
        // In place exactly where no new file can take the name.
        const bool sameFile = !out.written || row.reach == kHardLink || row.reach == kLockedFolder ||
                              row.reach == kOthersFile || row.replaceRefused;
        if (row.reach != kNewFile)
          after.ExpectKept(before, sameFile);
        if (!out.injected)
          break;
      }
  std::error_code ec;
  fs::remove_all(dir, ec);
  fs::remove(source, ec);
}

#if defined(_WIN32) && !defined(_WIN64)
// In the 32-bit build an exception from a host's ProgressCallback cannot
// pass the DLL: the process ends in terminate, in a child here. Nothing of
// the call's making stays beside the file; the rows before the throw were
// still in the stream's buffer, so the file written in place is as it was
// (a write killed later leaves its partial file, as the guide says).
TEST(SafeWriteDeathTest, ThrownInThe32BitBuildEndsTheProcess) {
  HostPicture picture = MakePicture(4, 64, 64);
  const fs::path dir = fs::path(TempFile::Folder()) / "thrown", out = dir / "out.tga";
  std::error_code ec;
  fs::remove_all(dir, ec);
  fs::create_directories(dir);
  std::ofstream(out, std::ios::binary) << "old";
  EXPECT_DEATH(Export(out.string(), picture, ThrowAtRow2), "");
  EXPECT_EQ(Contents(out), "old");
  EXPECT_EQ(Entries(dir), 1u) << "a file left";
  fs::remove_all(dir, ec);
}
#endif

// ---- Killed mid-write ------------------------------------------------------

// The child's side of a kill: it writes `name` through the sequence and
// pauses at `point` (a point of the sequence, "rows" for the second row, or
// "thrown" to end in terminate from the ProgressCallback), announcing the
// pause by making the file `marker`.
std::string g_marker;
#if defined(TLP_COVERAGE)
extern "C" void __gcov_dump(void);
#endif
[[noreturn]] void PauseForTheKill() {
#if defined(TLP_COVERAGE)
  __gcov_dump(); // what the child ran counts too
#endif
  std::ofstream(g_marker) << "paused";
  for (;;)
#if defined(_WIN32)
    Sleep(INFINITE);
#else
    pause();
#endif
}
bool g_pauseInRows = false, g_throwInRows = false;
int32_t TLP_CALL KilledInRows(int32_t row) {
  if (row == 2 && g_throwInRows)
    throw std::runtime_error("the host's own");
  if (row == 2 && g_pauseInRows)
    PauseForTheKill();
  return 0;
}

HostPicture KillPicture() { return MakePicture(4, 64, 64); } // many of the tests' copy buffers

} // namespace

int KillChild(const std::string &name, const std::string &point, const std::string &marker) {
  g_marker = marker;
  g_pauseInRows = point == "rows";
  g_throwInRows = point == "thrown";
  safe_write::seams::PauseAt(g_pauseInRows || g_throwInRows ? nullptr : point.c_str(), PauseForTheKill);
  HostPicture picture = KillPicture();
  HostImage record = picture.Record();
  TTargaEncoder encoder;
  encoder.Progress = KilledInRows;
  return encoder.SaveToFile(name, &record) ? 0 : 1; // no catch: a throw ends in terminate
}

namespace {

// Runs KillChild in another process and kills it once it pauses (SIGKILL;
// TerminateProcess under Wine): whether it paused, or else its exit status.
struct Killed {
  bool paused = false;
  int status = -1;
};
Killed KillAt(const std::string &name, const std::string &point) {
  const std::string marker = TempFile::Folder() + "/paused";
  std::error_code ec;
  fs::remove(marker, ec);
  Killed killed;
#if defined(_WIN32)
  char self[MAX_PATH];
  GetModuleFileNameA(nullptr, self, sizeof self);
  SetEnvironmentVariableA("TLP_KILL_CHILD", (name + "|" + point + "|" + marker).c_str());
  STARTUPINFOA start;
  std::memset(&start, 0, sizeof start);
  start.cb = sizeof start;
  PROCESS_INFORMATION child{};
  std::string command = std::string("\"") + self + "\"";
  const bool started = CreateProcessA(self, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &start, &child);
  SetEnvironmentVariableA("TLP_KILL_CHILD", nullptr);
  if (!started)
    return killed;
  for (int waited = 0; waited < 60000 && !fs::exists(marker, ec); waited += 5)
    if (WaitForSingleObject(child.hProcess, 5) == WAIT_OBJECT_0)
      break;
  killed.paused = fs::exists(marker, ec);
  if (killed.paused)
    TerminateProcess(child.hProcess, 9);
  WaitForSingleObject(child.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(child.hProcess, &code);
  killed.status = static_cast<int>(code);
  CloseHandle(child.hProcess);
  CloseHandle(child.hThread);
#else
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child == 0) // out of the test's reach: a throw ends in terminate, as in a host
    _exit([&]() noexcept { return KillChild(name, point, marker); }());
  int status = 0;
  for (int waited = 0; waited < 60000 && !fs::exists(marker, ec); waited += 5) {
    if (waitpid(child, &status, WNOHANG) == child) {
      killed.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      return killed;
    }
    usleep(5000);
  }
  killed.paused = fs::exists(marker, ec);
  kill(child, SIGKILL);
  waitpid(child, &status, 0);
  killed.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
#endif
  fs::remove(marker, ec);
  return killed;
}

// A writer killed at each point of each way leaves, under the name, the old
// file or the complete new one; only while the new bytes are copied over a
// file written in place may the name hold a mix, and then the complete new
// file is kept (and flushed) under its named place. Nothing else stays, a
// copy is readable by no one the file does not let read (POSIX), and a later
// export to the name works.
TEST(SafeWriteKilled, AWholePictureRemains) {
  HostPicture picture = KillPicture();
  const Bytes newBytes = picture.File();
  const std::string whole(newBytes.begin(), newBytes.end()), old(100, 'o');
  const fs::path dir = fs::path(TempFile::Folder()) / "killed";
  std::set<std::string> paused;
  for (Reach reach : {kNewFile, kExistingFile, kHardLink})
    for (const char *point : {"open", "rows", "written", "commit", "copying", "committed", "thrown"}) {
      SCOPED_TRACE(testing::Message() << kReachNames[reach] << ", killed at " << point);
      const fs::path target = dir / "target.tga";
      Killed killed;
      const int answer = WriteReached(
          reach, dir,
          [&](const std::string &name) {
            killed = KillAt(name, point);
            return 0;
          },
          [&] {
            if (reach != kNewFile)
              std::ofstream(target, std::ios::binary) << old;
#if !defined(_WIN32)
            chmod(target.c_str(), 0600);
#endif
          });
      if (answer == -1)
        continue;
      if (killed.paused)
        paused.insert(point);
      else if (std::strcmp(point, "thrown") == 0)
        EXPECT_NE(killed.status, 0) << "ended in terminate";
      else
        EXPECT_EQ(killed.status, 0) << "not reached on this way: written";
      const std::string now = Contents(target);
#if !defined(_WIN32)
      for (const auto &entry : fs::directory_iterator(dir))
        if (entry.path().filename().string()[0] == '.') {
          struct stat st;
          EXPECT_EQ(stat(entry.path().c_str(), &st) == 0 ? st.st_mode & 077 : 1u, 0u) << "a copy others may read";
        }
#endif
      const std::vector<std::string> kept = TakeKeptCopies(dir);
      const bool linked = reach == kHardLink;
      EXPECT_EQ(Entries(dir), (reach == kNewFile && now.empty() && !fs::exists(target) ? 0u : 1u) + (linked ? 1u : 0u))
          << "a file left";
      for (const std::string &copy : kept)
        EXPECT_EQ(copy, whole) << "a copy that is no whole picture";
      if (now != whole && now != (reach == kNewFile ? "" : old)) {
        EXPECT_EQ(kept.size(), 1u) << "a mix under the name with no whole picture kept";
        EXPECT_TRUE(std::strcmp(point, "copying") == 0) << "a mix outside the copy in place";
      }
      if (reach == kNewFile && now.empty()) {
        EXPECT_FALSE(fs::exists(target)) << "an empty new file";
      }
      EXPECT_EQ(Export(target.string(), picture, nullptr), 1) << "the next export";
      EXPECT_EQ(Contents(target), whole);
      TakeKeptCopies(dir);
    }
  // Every point is reached on some way.
  EXPECT_EQ(paused, (std::set<std::string>{"open", "rows", "written", "commit", "copying", "committed"}));
  std::error_code ec;
  fs::remove_all(dir, ec);
}

// Two threads exporting to one name over an existing file: each answer is
// honest (the file holds a complete picture) and nothing stays beside it.
TEST(SafeWriteFiles, TwoThreadsOneName) {
  HostPicture picture = MakePicture(4, 64, 64);
  const Bytes whole = picture.File();
  const fs::path dir = fs::path(TempFile::Folder()) / "threads";
  std::error_code ec;
  fs::remove_all(dir, ec);
  fs::create_directories(dir);
  const std::string out = (dir / "out.tga").string();
  std::ofstream(out, std::ios::binary) << "old";
  int answers[2][50] = {};
  auto writer = [&](int t) {
    for (int &a : answers[t])
      a = Export(out, picture, nullptr);
  };
  std::thread other(writer, 1);
  writer(0);
  other.join();
  int written = 0;
  for (auto &thread : answers)
    for (int a : thread)
      written += a;
  EXPECT_GT(written, 0);
  EXPECT_EQ(Contents(out), std::string(whole.begin(), whole.end()));
  EXPECT_EQ(Entries(dir), 1u) << "a file left";
  fs::remove_all(dir, ec);
}

// Folders a Windows program meets under Wine: a Unix link (which it sees as
// a plain file), made by the Linux side around the tests in TLP_UNIX_LINKS,
// and a folder of 250 characters, beyond what GetTempFileNameA takes. The
// link stays a link (its target takes the bytes) and nothing stays beside.
TEST(SafeWriteFiles, FoldersUnderWine) {
  if (!kWindows)
    return; // the Linux cases run natively in the failure tests
  HostPicture picture = MakePicture(4, 20, 20);
  const Bytes picked = picture.File();
  const std::string whole(picked.begin(), picked.end());
  const char *links = std::getenv("TLP_UNIX_LINKS");
  const fs::path linked = links ? fs::path(std::string("Z:") + links) : fs::path();
  if (links && fs::is_directory(linked / "a")) {
    std::ofstream(linked / "b/t.tga", std::ios::binary) << "old";
    EXPECT_EQ(Export((linked / "a/l.tga").string(), picture, nullptr), 1);
    EXPECT_EQ(Contents(linked / "b/t.tga"), whole) << "the link's target written";
    EXPECT_EQ(Entries(linked / "a"), 1u);
    EXPECT_EQ(Entries(linked / "b"), 1u);
  } else {
    std::printf("note: no Unix link prepared (TLP_UNIX_LINKS)\n");
  }
  fs::path deep = fs::path(TempFile::Folder()) / "deep";
  std::error_code ec;
  fs::remove_all(deep, ec);
  const size_t length = 250;
  fs::path folder = deep;
  while (folder.string().size() + 1 + 40 < length)
    folder /= std::string(40, 'd');
  folder /= std::string(length - folder.string().size() - 1, 'e');
  ASSERT_EQ(folder.string().size(), length);
  fs::create_directories(folder, ec);
  if (ec) {
    std::printf("note: no folder of %zu characters: %s\n", length, ec.message().c_str());
    return;
  }
  const fs::path out = folder / "out.tga";
  for (bool asWindows : {false, true})
    for (bool existing : {false, true}) {
      SCOPED_TRACE(testing::Message() << (existing ? "over a file" : "a new file") << (asWindows ? ", as Windows" : ""));
      fs::remove(out, ec);
      if (existing)
        std::ofstream(out, std::ios::binary) << "old";
      safe_write::seams::RenameAsWindows(asWindows);
      TTargaEncoder encoder;
      HostImage record = picture.Record();
      EXPECT_TRUE(encoder.SaveToFile(out.string(), &record));
      safe_write::seams::RenameAsWindows(false);
      EXPECT_EQ(Contents(out), whole);
      EXPECT_EQ(Entries(folder), 1u) << "a file left";
    }
  fs::remove_all(deep, ec);
}

TEST(SafeWriteFiles, PathsThatCannotBeOpened) {
  HostPicture picture = MakePicture(4, 2, 2);
  const std::string missing = TempFile::Folder() + "/no-such-folder/out.tga";
  ResetProgress();
  EXPECT_EQ(Export(missing, picture), 0);
  EXPECT_FALSE(std::filesystem::exists(missing));
  EXPECT_EQ(Export("", picture), 0);
  EXPECT_EQ(safe_write::PutInPlace(missing, TempFile::Folder() + "/out.tga"), ENOENT) << "nothing to copy from";
  EXPECT_NE(safe_write::PutInPlace(TempFile::Folder(), TempFile::Folder() + "/out.tga"), 0) << "a folder to copy from";
  EXPECT_FALSE(std::filesystem::exists(TempFile::Folder() + "/out.tga"));
  EXPECT_EQ(Export(TempFile::Folder(), picture), 0) << "a folder";
  EXPECT_TRUE(std::filesystem::is_directory(TempFile::Folder()));
  EXPECT_TRUE(g_progress.rows.empty());
  HostImage record = picture.Record();
  EXPECT_EQ(Api().EXPORT_WriteToFile(nullptr, &record, nullptr), 0) << "a null path";
}

// The policy, file by file: a device or pipe directly, one name outside
// Wine by a rename, anything else in place.
TEST(SafeWriteFiles, TheWayForEachFile) {
  using safe_write::sys::Facts;
  const struct {
    Facts facts;
    Way way;
  } rows[] = {
      {{.regular = false, .links = 1}, Way::kDirect},
      {{.regular = true, .links = 1}, Way::kRename},
      {{.regular = true, .links = 2}, Way::kInPlace},
      {{.regular = true, .links = 1, .wine = true}, Way::kInPlace},
  };
  for (const auto &row : rows)
    EXPECT_EQ(safe_write::sys::WayFor(row.facts), row.way) << row.facts.links << (row.facts.wine ? " under Wine" : "");
}

// Names of a write's own: the file's name cut to whole characters within 32
// bytes (a Shift-JIS character is two: the 32nd byte would split one), and
// a reserved name is a new, empty file no other call gets; every name taken,
// none is made.
TEST(SafeWriteFiles, NamesOfItsOwn) {
  std::string kana = "a";
  for (int i = 0; i < 20; ++i)
    kana += "\x82\xa0"; // HIRAGANA LETTER A in code page 932
  const std::string n32(32, 'n'), cut = kana.substr(0, kWindows ? 31 : 32);
  const struct {
    std::string name, begins;
  } rows[] = {
      {"out.tga", ".out.tga."},
      {std::string(40, 'n'), std::string(".").append(n32).append(".")},
      {kana, std::string(".").append(cut).append(".")},
      {"", ".."},
  };
  for (const auto &row : rows) {
    const std::string made = safe_write::sys::TemporaryName(row.name);
    EXPECT_EQ(made.substr(0, row.begins.size()), row.begins) << row.name;
    EXPECT_EQ(made.size(), row.begins.size() + 12) << "8 letters and .tmp";
    EXPECT_NE(made, safe_write::sys::TemporaryName(row.name));
  }
  const std::string out = (fs::path(TempFile::Folder()) / "out.tga").string();
  std::string first, second;
  ASSERT_EQ(safe_write::ReserveBeside(out, &first), 0);
  ASSERT_EQ(safe_write::ReserveBeside(out, &second), 0);
  EXPECT_NE(first, second);
  EXPECT_EQ(fs::path(first).parent_path(), fs::path(out).parent_path());
  EXPECT_EQ(Contents(first), "");
  safe_write::seams::FailAt(1, EEXIST, true);
  std::string none = "x";
  EXPECT_EQ(safe_write::ReserveBeside(out, &none), EEXIST);
  safe_write::seams::FailAt(0, 0);
  EXPECT_EQ(none, "");
  std::error_code ec;
  fs::remove(first, ec);
  fs::remove(second, ec);
}

// ---- Failed writes ------------------------------------------------------------

// Writes through the plug-in, natively under a 100-byte size limit if asked.
int32_t ExportFailing(const std::string &path, HostPicture &picture, [[maybe_unused]] bool sizeLimit) {
#if !defined(_WIN32)
  std::optional<FileSizeLimit> limit;
  if (sizeLimit && !limit.emplace(100).Set())
    return -1;
#endif
  return Export(path, picture, nullptr);
}

// A write that fails in the rows, in the colour map or only at the close
// leaves every existing file as it was, however it was written (replaced,
// or in place behind a copy), every name pointing where it pointed; a new
// file is removed. No temporary file stays.
// Writes fail natively under a 100-byte size limit, and on both platforms in
// the 64 KiB file system that the tests' setup mounts when it can (Wine
// reaches it through drive Z:).
TEST(SafeWriteFailures, OldFilesStayWhole) {
  struct Case {
    const char *name;
    int32_t kind;
    uint32_t width, height, paletteCount;
    bool sizeLimitOnly;
    size_t oldBytes = 0; // else "old"
  } cases[] = {{"fails at the close", 4, 8, 8, 0, true},
               {"fails in a row", 4, 200, 200, 0, false},
               {"fails in the colour map", 1, 1, 1, 30000, false},
               {"fails in 16-bit rows", 2, 300, 200, 0, false},
               {"fails over an old file of whole blocks", 4, 200, 200, 0, false, 8192}};
  std::vector<std::pair<fs::path, bool /*size limit*/>> folders;
  if (!kWindows)
    folders.push_back({TempFile::Folder(), true});
  const char *small = std::getenv("TLP_SMALL_FS");
  const std::string smallFolder = small ? std::string(kWindows ? "Z:" : "") + small : "";
  if (small && fs::exists(smallFolder + "/.small-fs"))
    folders.push_back({smallFolder, false});
  if (folders.empty()) // not GTEST_SKIP: it ends the 32-bit program under Wine
    std::printf("note: %s: nothing tried\n",
                small ? ("no small file system mounted at " + smallFolder + " (mounting it needs root)").c_str()
                      : "no small file system (TLP_SMALL_FS is not set)");
  for (const auto &[folder, sizeLimit] : folders)
    for (const Case &c : cases)
      for (Reach reach : {kNewFile, kExistingFile, kHardLink, kSymbolicLink, kLockedFolder, kHeldOpen}) {
        SCOPED_TRACE(testing::Message() << folder << ", " << c.name << ", " << kReachNames[reach]);
        if (c.sizeLimitOnly && !sizeLimit)
          continue;
        const fs::path dir = folder / "failing", target = dir / "target.tga", link = dir / "link.tga";
        HostPicture picture = MakePicture(c.kind, c.width, c.height, 1, c.paletteCount);
        const std::string old = c.oldBytes ? std::string(c.oldBytes, 'o') : "old";
        const int result = WriteReached(
            reach, dir, [&](const std::string &name) { return ExportFailing(name, picture, sizeLimit); },
            [&] {
              if (reach != kNewFile)
                std::ofstream(target, std::ios::binary) << old;
            });
        if (result != -1) {
          EXPECT_EQ(result, 0);
          const bool linked = reach == kHardLink || reach == kSymbolicLink;
          EXPECT_EQ(fs::exists(target), reach != kNewFile);
          EXPECT_EQ(Contents(target), reach != kNewFile ? old : "");
          EXPECT_EQ(Entries(dir), (reach != kNewFile ? 1u : 0u) + (linked ? 1u : 0u)) << "a file left";
          std::error_code ec;
          EXPECT_EQ(fs::equivalent(link, target, ec), linked);
          EXPECT_EQ(fs::is_symlink(fs::symlink_status(link, ec)), reach == kSymbolicLink);
        }
        std::error_code ec;
        fs::remove_all(dir, ec);
      }
}

#if !defined(_WIN32)

// The same picture just within the limit is written in full; a copy from a
// file past it fails in its first block, which the stream cannot hold, and
// leaves the old file.
TEST(SafeWriteFailures, WithinTheLimitIsWritten) {
  HostPicture picture = MakePicture(4, 2, 2); // 18 + 12 bytes
  TempFile out, source(MakePicture(4, 100, 100).File(), "source.tga"), old(Bytes{'o', 'l', 'd'}, "old.tga");
  int32_t result = -1;
  int copied = -1;
  {
    FileSizeLimit limit(30);
    if (limit.Set()) {
      result = Export(out.Path(), picture, nullptr);
      copied = safe_write::PutInPlace(source.Path(), old.Path());
    }
  }
  EXPECT_EQ(result, 1);
  EXPECT_EQ(out.Read(), picture.File());
  EXPECT_EQ(copied, EFBIG);
  EXPECT_EQ(old.Read(), (Bytes{'o', 'l', 'd'}));
}

// Sets or clears an inode flag (append-only, immutable) of `path`: whether
// that could be done.
bool SetFlag(const fs::path &path, int flag, bool on) {
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK);
  int flags = 0;
  const bool done = fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 &&
                    ioctl(fd, FS_IOC_SETFLAGS, (flags = on ? flags | flag : flags & ~flag, &flags)) == 0;
  if (fd >= 0)
    close(fd);
  return done;
}

// What failure injection cannot show, on the real system: each case makes
// its files in `dir` and names the file to write (empty: skipped, with the
// reason in `*skip`), then checks the answer and what it finds.
TEST(SafeWriteFailures, RealSystemCases) {
  HostPicture picture = MakePicture(4, 200, 200);
  const Bytes picked = picture.File();
  const std::string whole(picked.begin(), picked.end());
  const fs::path dir = fs::path(TempFile::Folder()) / "system";
  auto file = [](const fs::path &path, const std::string &text) { std::ofstream(path, std::ios::binary) << text; };
  std::function<void()> duringWrite; // run by the ProgressCallback at row 2
  int held = -1;                     // a descriptor whose lock the case holds
  std::string deep;                  // the long path's file
  static std::function<void()> *pending = nullptr;
  pending = &duringWrite;
  struct Case {
    const char *name;
    std::function<std::string(std::string *skip)> make;
    int32_t answer;
    std::function<void()> check;
    bool sizeLimit = false;
  };
  const Case cases[] = {
      {"a device that refuses writes",
       [&](std::string *skip) {
         struct stat st;
         if (stat("/dev/full", &st) != 0 || !S_ISCHR(st.st_mode))
           return *skip = "no /dev/full here", std::string();
         return std::string("/dev/full");
       },
       0, [&] { EXPECT_TRUE(fs::is_character_file("/dev/full")); }},
      {"a pipe with no reader, answered at once",
       [&](std::string *) {
         mkfifo((dir / "pipe").c_str(), 0600);
         return (dir / "pipe").string();
       },
       0, [&] { EXPECT_TRUE(fs::is_fifo(dir / "pipe")); }},
      {"a dangling link, the write failing",
       [&](std::string *) {
         fs::create_symlink("missing.tga", dir / "link.tga");
         return (dir / "link.tga").string();
       },
       0,
       [&] {
         EXPECT_FALSE(fs::exists(dir / "missing.tga")) << "an empty file at the link's target";
         EXPECT_TRUE(fs::is_symlink(dir / "link.tga"));
       },
       true},
      {"the folder swapped for a link to another mid-write",
       [&](std::string *) {
         fs::create_directories(dir / "a");
         fs::create_directories(dir / "other");
         file(dir / "a/out.tga", "old");
         file(dir / "other/out.tga", "other's");
         duringWrite = [&] {
           fs::rename(dir / "a", dir / "a.moved");
           fs::create_directory_symlink("other", dir / "a");
         };
         return (dir / "a/out.tga").string();
       },
       1,
       [&] {
         EXPECT_EQ(Contents(dir / "a.moved/out.tga"), whole) << "the folder opened at the start";
         EXPECT_EQ(Contents(dir / "other/out.tga"), "other's");
         EXPECT_EQ(Entries(dir / "other"), 1u);
         EXPECT_EQ(Entries(dir / "a.moved"), 1u);
       }},
      {"no free inode: written in place",
       [&](std::string *skip) {
         fs::create_directories(dir / "m");
         if (mount("tlp", (dir / "m").c_str(), "tmpfs", 0, "nr_inodes=2,size=1m") != 0)
           return *skip = "no tmpfs mount here (needs root)", std::string();
         file(dir / "m/out.tga", "old");
         return (dir / "m/out.tga").string();
       },
       1, [&] { EXPECT_EQ(Contents(dir / "m/out.tga"), whole); }},
      {"a bind-mounted file, which no rename replaces",
       [&](std::string *skip) {
         file(dir / "source.tga", "old");
         file(dir / "out.tga", "the mount point");
         if (mount((dir / "source.tga").c_str(), (dir / "out.tga").c_str(), nullptr, MS_BIND, nullptr) != 0)
           return *skip = "no bind mount here (needs root)", std::string();
         return (dir / "out.tga").string();
       },
       1,
       [&] {
         EXPECT_EQ(Contents(dir / "out.tga"), whole);
         EXPECT_EQ(Contents(dir / "source.tga"), whole);
         EXPECT_EQ(Entries(dir), 2u);
       }},
      {"a second name of a file larger than a copy in memory may be: kept in a file",
       [&](std::string *) {
         file(dir / "big.tga", "old");
         fs::resize_file(dir / "big.tga", (uint64_t(64) << 20) + 1); // sparse: made at once
         fs::create_hard_link(dir / "big.tga", dir / "link.tga");
         return (dir / "link.tga").string();
       },
       1,
       [&] {
         EXPECT_EQ(Contents(dir / "big.tga"), whole);
         EXPECT_EQ(Entries(dir), 2u);
       }},
      {"an empty file with a second name, grown by another program mid-write: kept, then copied",
       [&](std::string *) {
         file(dir / "out.tga", "");
         fs::create_hard_link(dir / "out.tga", dir / "link.tga");
         duringWrite = [&] { file(dir / "out.tga", "grown"); };
         return (dir / "link.tga").string();
       },
       1,
       [&] {
         EXPECT_EQ(Contents(dir / "out.tga"), whole);
         EXPECT_EQ(Entries(dir), 2u) << "the kept copy left";
       }},
      {"an append-only folder: in place, nothing named in it",
       [&](std::string *skip) {
         fs::create_directories(dir / "ao");
         file(dir / "ao/out.tga", "old");
         if (!SetFlag(dir / "ao", FS_APPEND_FL, true))
           return *skip = "no append-only folder here (needs root and a file system that has them)", std::string();
         return (dir / "ao/out.tga").string();
       },
       1,
       [&] {
         SetFlag(dir / "ao", FS_APPEND_FL, false);
         EXPECT_EQ(Contents(dir / "ao/out.tga"), whole);
         EXPECT_EQ(Entries(dir / "ao"), 1u);
       }},
      {"made immutable mid-write: 0, the old file whole",
       [&](std::string *skip) {
         file(dir / "out.tga", "old");
         if (!SetFlag(dir / "out.tga", FS_IMMUTABLE_FL, true) || !SetFlag(dir / "out.tga", FS_IMMUTABLE_FL, false))
           return *skip = "no immutable files here (needs root and a file system that has them)", std::string();
         duringWrite = [&] { SetFlag(dir / "out.tga", FS_IMMUTABLE_FL, true); };
         return (dir / "out.tga").string();
       },
       0,
       [&] {
         SetFlag(dir / "out.tga", FS_IMMUTABLE_FL, false);
         EXPECT_EQ(Contents(dir / "out.tga"), "old");
         EXPECT_EQ(Entries(dir), 1u);
       }},
      {"another name given to another file mid-write (in place): 0, both files as they were",
       [&](std::string *) {
         file(dir / "out.tga", "old");
         fs::create_hard_link(dir / "out.tga", dir / "link.tga");
         duringWrite = [&] {
           fs::rename(dir / "link.tga", dir / "link.moved");
           file(dir / "link.tga", "other's");
         };
         return (dir / "link.tga").string();
       },
       0,
       [&] {
         EXPECT_EQ(Contents(dir / "link.tga"), "other's");
         EXPECT_EQ(Contents(dir / "out.tga"), "old");
         EXPECT_EQ(Entries(dir), 3u);
       }},
      {"the folder's lock held by another program: 0 after a bounded wait",
       [&](std::string *) {
         file(dir / "out.tga", "old");
         held = open(dir.c_str(), O_RDONLY | O_DIRECTORY);
         flock(held, LOCK_EX);
         return (dir / "out.tga").string();
       },
       0, [&] { EXPECT_EQ(Contents(dir / "out.tga"), "old"); }},
      {"the file's lock held by another writer (in place): 0 after a bounded wait",
       [&](std::string *) {
         file(dir / "out.tga", "old");
         fs::create_hard_link(dir / "out.tga", dir / "link.tga");
         held = open((dir / "out.tga").c_str(), O_RDWR);
         struct flock lock {};
         lock.l_type = F_WRLCK;
         lock.l_start = off_t(1) << 62;
         lock.l_len = 1;
         fcntl(held, F_OFD_SETLK, &lock);
         return (dir / "link.tga").string();
       },
       0, [&] { EXPECT_EQ(Contents(dir / "out.tga"), "old"); }},
      {"a path within 8 bytes of PATH_MAX",
       [&](std::string *skip) {
         const size_t longest = PATH_MAX - 8 - 1; // bytes, the terminating NUL apart
         std::string path = fs::absolute(dir).string();
         while (path.size() + 1 + 200 < longest)
           path += "/" + std::string(200, 'd');
         std::error_code made;
         fs::create_directories(path, made);
         path += "/" + std::string(longest - path.size() - 1, 'f');
         if (!fs::is_directory(fs::path(path).parent_path()))
           return *skip = "the folders cannot be made", std::string();
         file(path, "old");
         deep = path;
         return path;
       },
       1,
       [&] {
         EXPECT_EQ(Contents(deep), whole);
         EXPECT_EQ(Entries(fs::path(deep).parent_path()), 1u);
       }},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    std::error_code ec;
    fs::remove_all(dir, ec);
    fs::create_directories(dir);
    duringWrite = nullptr;
    std::string skip;
    const std::string path = c.make(&skip);
    if (path.empty()) {
      std::printf("note: %s: skipped: %s\n", c.name, skip.c_str());
      continue;
    }
    std::optional<FileSizeLimit> limit;
    if (c.sizeLimit && !limit.emplace(100).Set())
      continue;
    auto write = [&] {
      return Export(path, picture, [](int32_t row) TLP_CALL -> int32_t {
        if (row == 2 && *pending)
          (*pending)();
        return 0;
      });
    };
    EXPECT_EQ(write(), c.answer);
    limit.reset();
    c.check();
    if (held != -1)
      close(std::exchange(held, -1));
    umount2((dir / "m").c_str(), MNT_DETACH);
    umount2((dir / "out.tga").c_str(), MNT_DETACH);
  }
  std::error_code ec;
  fs::remove_all(dir, ec);
}

#endif

} // namespace
