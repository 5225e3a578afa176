#include "Files.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// The longest name of one file the file systems take: 255 bytes on POSIX,
// 255 characters on Windows (a Shift-JIS character is one or two bytes).
const size_t kMaxNameBytes = 255;

// "OUT.PID.tmp" beside OUT; where OUT's own name leaves no room for the
// ending, that name is cut short, never the folder (a whole character kept).
std::string TemporaryName(const std::string &path, int attempt) {
  std::string ending = "." + std::to_string(ProcessId());
  if (attempt > 0)
    ending += "-" + std::to_string(attempt);
  ending += ".tmp";
  const size_t slash = LastSeparator(path);
  const size_t start = slash == std::string::npos ? 0 : slash + 1;
  size_t end = path.size();
  if (end - start + ending.size() > kMaxNameBytes)
    end = CharacterStart(path, start, start + (kMaxNameBytes - ending.size()));
  return path.substr(0, end) + ending;
}

} // namespace

bool MakeTemporaryBeside(const std::string &path, std::string *temporary, int *error) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string name = TemporaryName(path, attempt);
    // Only a name nobody uses; free again once proven so: the writer creates
    // it as a new file, so no temporary file of its own is made.
    *error = CreateNew(name);
    if (*error == 0) {
      std::remove(name.c_str());
      *temporary = name;
      return true;
    }
    if (*error != EEXIST)
      return false;
  }
  return false;
}

std::string ErrorText(int error) {
  if (error == EISDIR)
    return "it is a folder";
  if (error == safe_write::kInUse)
    return "it is in use by another program";
  if (error == safe_write::kNameChanged)
    return "another file took its name meanwhile";
  return std::strerror(error);
}
