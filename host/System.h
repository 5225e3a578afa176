// What tga-host asks of the system beside its files and PNG pictures: the
// calls that differ between Windows and POSIX (posix/ and win32/ System.cpp).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

bool StderrIsTerminal();

// From CatchCtrlC until ReleaseCtrlC, Ctrl-C calls `pressed` instead of
// ending the program; a blocked open or write (a pipe nobody reads) fails
// with EINTR on POSIX, so that a stop always comes.
void CatchCtrlC(void (*pressed)());
void ReleaseCtrlC();

// Seeks `f` to the byte `to`; the size of the file (-1 when unknown). The C
// library's own calls take a 32-bit long on Windows.
bool SeekFile(FILE *f, uint64_t to);
int64_t FileSize(FILE *f);

// How many more bytes this process can have now, as far as the system
// tells: its address space and, on Windows, what can still be committed.
// UINT64_MAX where it sets no limit.
uint64_t MemoryAvailable();

// What this build's windows are, said where there is no screen to show one:
// empty for the system's own, else " (this build's windows are ...)".
extern const char kWindowsNote[];
