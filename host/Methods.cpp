#include "Methods.h"

const Method kMethods[kMethodCount] = {
    {2, "full colour", "every picture 24-bit"},
    {4, "high colour", "every picture 16-bit"},
    {6, "full colour, 256 colours where possible",
     "8-bit with the exact palette where possible, else 24-bit"},
    {8, "high colour, 256 colours where possible",
     "8-bit with the exact palette where possible, else 16-bit"},
    {9, "256 colours, optimised palette", "256 colours, median-cut palette, error diffusion"},
    {10, "256 colours of the Windows palette", "256 colours of the Windows palette, nearest colour"},
};

int MethodOfCode(int32_t code) {
  for (int m = 0; m < kMethodCount; ++m)
    if (kMethods[m].hostCode == code)
      return m;
  return -1;
}

void ListMethods(FILE *to) {
  for (int m = 0; m < kMethodCount; ++m)
    std::fprintf(to, "  %d  %s (host code %d)\n     tga-host: %s\n", m, kMethods[m].meaning,
                 kMethods[m].hostCode, kMethods[m].conversion);
}
