// What loading a library takes of the system: the calls that differ between
// Windows and POSIX, behind the loader (posix/ and win32/ Library.cpp).
#pragma once

#include <string>

// Loads the library at `path`; null with `error` (when given) set to
// "cannot load 'PATH': " and the system's reason.
void *OpenLibrary(const std::string &path, std::string *error);
void *FindSymbol(void *module, const char *name);
void CloseLibrary(void *module);
// The folder of the running program, without a separator at its end.
std::string ProgramFolder();
