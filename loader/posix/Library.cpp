#include "Library.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>

void *OpenLibrary(const std::string &path, std::string *error) {
  void *m = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!m && error) {
    // The loader's words, which begin with the path itself.
    std::string words = dlerror();
    if (words.compare(0, path.size() + 2, path + ": ") == 0)
      words.erase(0, path.size() + 2);
    *error = "cannot load '" + path + "': " + words;
  }
  return m;
}

void *FindSymbol(void *module, const char *name) { return dlsym(module, name); }

void CloseLibrary(void *module) { dlclose(module); }

std::string ProgramFolder() {
  char buf[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  const std::string self = n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
  const size_t slash = self.find_last_of('/');
  return slash == std::string::npos ? std::string(".") : self.substr(0, slash);
}
