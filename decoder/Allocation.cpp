// The test build's allocation seam (see Allocation.h).
#include "Allocation.h"

namespace allocation {
namespace {
long g_countdown = 0;
bool g_refused = false;
} // namespace

void RefuseAt(long n) {
  g_countdown = n;
  g_refused = false;
}

bool Refused() { return g_refused; }

bool Refuse() {
  if (g_countdown <= 0 || --g_countdown > 0)
    return false;
  g_refused = true;
  return true;
}

} // namespace allocation
