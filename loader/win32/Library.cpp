#include "Library.h"

#include <windows.h>

#include <cstdio>

namespace {

// The system's own words for an error code, in UTF-8 as tga-host writes
// everything; "%1" stands for `path`.
std::string SystemWords(DWORD code, const std::string &path) {
  wchar_t *text = nullptr;
  const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                     FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, code, 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
  std::string words;
  if (n > 0) {
    const int size =
        WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(n), nullptr, 0, nullptr, nullptr);
    words.resize(static_cast<size_t>(size > 0 ? size : 0));
    if (size > 0)
      WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(n), &words[0], size, nullptr, nullptr);
  }
  LocalFree(text);
  while (!words.empty() && (words.back() == '\n' || words.back() == '\r' || words.back() == ' ' ||
                            words.back() == '.'))
    words.pop_back();
  if (words.empty())
    return "error " + std::to_string(code);
  for (size_t at = words.find("%1"); at != std::string::npos; at = words.find("%1", at + path.size()))
    words.replace(at, 2, path);
  return words;
}

// Which Windows a program file is built for, from its PE header's machine
// field; empty when the file is no program file or cannot be read.
std::string BuiltFor(const std::string &path) {
  unsigned char dos[64] = {}, pe[6] = {};
  FILE *f = std::fopen(path.c_str(), "rb");
  if (!f)
    return {};
  bool read = std::fread(dos, 1, sizeof dos, f) == sizeof dos && dos[0] == 'M' && dos[1] == 'Z';
  const long at = read ? long(dos[60] | dos[61] << 8 | dos[62] << 16 | unsigned(dos[63]) << 24) : 0;
  read = read && at > 0 && std::fseek(f, at, SEEK_SET) == 0 &&
         std::fread(pe, 1, sizeof pe, f) == sizeof pe && pe[0] == 'P' && pe[1] == 'E' && pe[2] == 0 &&
         pe[3] == 0;
  std::fclose(f);
  if (!read)
    return {};
  switch (pe[4] | pe[5] << 8) {
  case IMAGE_FILE_MACHINE_I386:
    return "32-bit Windows (x86)";
  case IMAGE_FILE_MACHINE_AMD64:
    return "64-bit Windows (x86-64)";
  case 0xAA64: // IMAGE_FILE_MACHINE_ARM64
    return "64-bit Windows on Arm";
  case IMAGE_FILE_MACHINE_ARMNT:
    return "32-bit Windows on Arm";
  default:
    return "another machine (code 0x" + [](unsigned v) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "%04X", v);
      return std::string(hex);
    }(pe[4] | pe[5] << 8) + ")";
  }
}

const char *kThisBuild = sizeof(void *) == 8 ? "a 64-bit program" : "a 32-bit program";
const char *kThisMachine = sizeof(void *) == 8 ? "64-bit Windows (x86-64)" : "32-bit Windows (x86)";

} // namespace

void *OpenLibrary(const std::string &path, std::string *error) {
  HMODULE m = LoadLibraryA(path.c_str());
  if (!m && error) {
    const DWORD code = GetLastError();
    *error = "cannot load '" + path + "': " + SystemWords(code, path);
    // The one case the system's words leave a user puzzled by.
    const std::string built = code == ERROR_BAD_EXE_FORMAT ? BuiltFor(path) : std::string();
    if (!built.empty() && built != kThisMachine)
      *error += " (it is built for " + built + ", and this tga-host is " + kThisBuild + ")";
  }
  return reinterpret_cast<void *>(m);
}

void *FindSymbol(void *module, const char *name) {
  return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(module), name));
}

void CloseLibrary(void *module) { FreeLibrary(static_cast<HMODULE>(module)); }

std::string ProgramFolder() {
  char buf[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, buf, sizeof buf);
  const std::string self(buf, n);
  const size_t slash = self.find_last_of("\\/");
  return slash == std::string::npos ? std::string(".") : self.substr(0, slash);
}
