// The plug-in's conversion methods as the host knows them: the number of each
// (its item on the plug-in's panel), the host code EXPORT_BeforeTransform
// reports for it, what it means and what this host does for it.
#pragma once

#include <cstdint>
#include <cstdio>

struct Method {
  int32_t hostCode;
  const char *meaning;    // "full colour"
  const char *conversion; // what tga-host does: "every picture 24-bit"
};

const int kMethodCount = 6;
// Indexed by the method's number.
extern const Method kMethods[kMethodCount];

// The number of the method whose host code is `code`, or -1.
int MethodOfCode(int32_t code);

// For usage texts: each method's number, meaning, host code and what tga-host does.
void ListMethods(FILE *to);
