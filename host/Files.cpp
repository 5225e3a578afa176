#include "Files.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// The longest name of one file the file systems take: 255 bytes on POSIX,
// 255 characters on Windows (a Shift-JIS character is one or two bytes).
const size_t kMaxNameBytes = 255;

} // namespace

bool MakeTemporaryBeside(const std::string &path, std::string *temporary, int *error) {
  const size_t slash = safe_write::LastSeparator(path);
  const size_t start = slash == std::string::npos ? 0 : slash + 1;
  for (int attempt = 0; attempt < 100; ++attempt) {
    // "OUT.PID.tmp" beside OUT; where OUT's own name leaves no room for the
    // ending, that name is cut short, never the folder (a whole character kept).
    const std::string ending =
        "." + std::to_string(ProcessId()) + (attempt > 0 ? "-" + std::to_string(attempt) : "") + ".tmp";
    size_t end = path.size();
    if (end - start + ending.size() > kMaxNameBytes)
      end = CharacterStart(path, start, start + (kMaxNameBytes - ending.size()));
    // Only a name nobody uses; free again once proven so: the writer creates
    // it as a new file, so no temporary file of its own is made.
    *temporary = path.substr(0, end) + ending;
    *error = CreateNew(*temporary);
    if (*error == 0) {
      std::remove(temporary->c_str());
      return true;
    }
    if (*error != EEXIST)
      break;
  }
  temporary->clear();
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
