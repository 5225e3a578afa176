// The test build of the plug-in only: its allocation seam, reached by name
// by tests that load the library as a host does.
#include "Allocation.h"

#if defined(_WIN32)
#define TLP_SEAM_EXPORT extern "C" __declspec(dllexport)
#else
#define TLP_SEAM_EXPORT extern "C" __attribute__((visibility("default")))
#endif

// The `n`-th allocation from now on is refused (0: none).
TLP_SEAM_EXPORT void TLP_RefuseAllocation(long n) { allocation::RefuseAt(n); }
// 1 when the refusal came.
TLP_SEAM_EXPORT int TLP_AllocationRefused() { return allocation::Refused() ? 1 : 0; }
