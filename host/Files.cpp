#include "Files.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

size_t LastSeparator(const std::string &path) {
#if defined(_WIN32)
  // A backslash can be the second byte of a Shift-JIS character.
  size_t last = std::string::npos;
  for (const char *p = path.c_str(); *p; p = CharNextA(p))
    if (*p == '\\' || *p == '/')
      last = static_cast<size_t>(p - path.c_str());
  return last;
#else
  return path.find_last_of('/');
#endif
}

namespace {

// The longest name of one file the file systems take: 255 bytes on POSIX,
// 255 characters on Windows (a Shift-JIS character is one or two bytes).
const size_t kMaxNameBytes = 255;

// "OUT.PID.tmp" beside OUT; where OUT's own name leaves no room for the
// ending, that name is cut short, never the folder (a whole character
// kept on Windows).
std::string TemporaryName(const std::string &path, int attempt) {
#if defined(_WIN32)
  const unsigned long pid = static_cast<unsigned long>(_getpid());
#else
  const unsigned long pid = static_cast<unsigned long>(getpid());
#endif
  std::string ending = "." + std::to_string(pid);
  if (attempt > 0)
    ending += "-" + std::to_string(attempt);
  ending += ".tmp";
  const size_t slash = LastSeparator(path);
  const size_t start = slash == std::string::npos ? 0 : slash + 1;
  size_t end = path.size();
  if (end - start + ending.size() > kMaxNameBytes) {
    end = start + (kMaxNameBytes - ending.size());
#if defined(_WIN32)
    // Not inside a double-byte character: end where one starts.
    size_t at = start;
    while (at < end)
      at = static_cast<size_t>(CharNextA(path.c_str() + at) - path.c_str());
    if (at > end)
      end = static_cast<size_t>(CharPrevA(path.c_str() + start, path.c_str() + at) - path.c_str());
#endif
  }
  return path.substr(0, end) + ending;
}

} // namespace


#if defined(_WIN32)

namespace {

// Whether the system takes `path` for a device (NUL, CON, AUX, COM1, also
// "nul.tga" and in a folder): its own rule, from ntdll.
bool IsDeviceName(const std::string &path) {
  using IsDosDeviceName = ULONG(WINAPI *)(const wchar_t *);
  static const auto rule = reinterpret_cast<IsDosDeviceName>(
      reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "RtlIsDosDeviceName_U")));
  const int n = MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, nullptr, 0);
  if (!rule || n <= 0)
    return false;
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, &wide[0], n);
  return rule(wide.c_str()) != 0;
}

} // namespace

FileKind KindOf(const std::string &path, int *error) {
  // A device has no attributes to ask for, and no links to follow.
  if (IsDeviceName(path))
    return FileKind::Other;
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    *error = ErrnoOf(GetLastError());
    return *error == ENOENT ? FileKind::Missing : FileKind::Unknown;
  }
  if (attributes & FILE_ATTRIBUTE_DIRECTORY)
    return FileKind::Folder;
  // Devices (NUL, CON, serial ports) are no disk files.
  HANDLE h = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE)
    return FileKind::Regular;
  const DWORD type = GetFileType(h);
  CloseHandle(h);
  return type == FILE_TYPE_DISK ? FileKind::Regular : FileKind::Other;
}

bool SizeOf(const std::string &path, uint64_t *size) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
    return false;
  *size = uint64_t(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
  return true;
}

bool RenameToNew(const std::string &from, const std::string &to, int *error) {
  if (MoveFileExA(from.c_str(), to.c_str(), 0))
    return true;
  *error = ErrnoOf(GetLastError());
  return false;
}

// Windows has no file-size signal.
void IgnoreFileSizeSignal() {}

#else

FileKind KindOf(const std::string &path, int *error) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    *error = errno;
    return errno == ENOENT || errno == ENOTDIR ? FileKind::Missing : FileKind::Unknown;
  }
  if (S_ISREG(st.st_mode))
    return FileKind::Regular;
  return S_ISDIR(st.st_mode) ? FileKind::Folder : FileKind::Other;
}

bool SizeOf(const std::string &path, uint64_t *size) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0)
    return false;
  *size = static_cast<uint64_t>(st.st_size);
  return true;
}

bool RenameToNew(const std::string &from, const std::string &to, int *error) {
  // A hard link fails when the name is taken, with no window for a race.
  if (link(from.c_str(), to.c_str()) == 0) {
    unlink(from.c_str());
    return true;
  }
  if (errno == EEXIST) {
    *error = EEXIST;
    return false;
  }
  // File systems without hard links.
  struct stat st;
  if (lstat(to.c_str(), &st) == 0) {
    *error = EEXIST;
    return false;
  }
  if (std::rename(from.c_str(), to.c_str()) == 0)
    return true;
  *error = errno;
  return false;
}

void IgnoreFileSizeSignal() { std::signal(SIGXFSZ, SIG_IGN); }

#endif

bool MakeTemporaryBeside(const std::string &path, std::string *temporary, int *error) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string name = TemporaryName(path, attempt);
    // Only a name nobody uses.
#if defined(_WIN32)
    const int fd = _open(name.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY,
                         _S_IREAD | _S_IWRITE);
#else
    const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
#endif
    if (fd >= 0) {
#if defined(_WIN32)
      _close(fd);
#else
      close(fd);
#endif
      // Free again: the writer creates it as a new file, so no temporary
      // file of its own is made.
      RemoveFile(name);
      *temporary = name;
      return true;
    }
    if (errno != EEXIST) {
      *error = errno;
      return false;
    }
  }
  *error = EEXIST;
  return false;
}

bool Writable(const std::string &path, int *error) {
#if defined(_WIN32)
  if (_access(path.c_str(), 2) == 0)
    return true;
#else
  if (access(path.c_str(), W_OK) == 0)
    return true;
#endif
  *error = errno;
  return false;
}

void RemoveFile(const std::string &path) { std::remove(path.c_str()); }

std::string ErrorText(int error) {
  if (error == EISDIR)
    return "it is a folder";
  if (error == kErrorInUse)
    return "it is in use by another program";
  if (error == kErrorNameChanged)
    return "another file took its name meanwhile";
  return std::strerror(error);
}
