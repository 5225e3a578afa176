// The plug-in's own allocations, which a test build (TLP_ALLOCATION_SEAMS)
// can refuse one at a time, so that every way out when memory runs out is
// taken by a test. In the product each is the plain call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>

namespace allocation {

#if defined(TLP_ALLOCATION_SEAMS)
// Every allocation below counts; the one numbered `n` (from 1) is refused.
// 0: none is.
void RefuseAt(long n);
// Whether the refusal set by RefuseAt came.
bool Refused();
// Counts one allocation; true when it is the one to refuse.
bool Refuse();
#else
constexpr bool Refuse() { return false; }
#endif

inline void *Malloc(size_t bytes) { return Refuse() ? nullptr : std::malloc(bytes); }
inline void *Calloc(size_t count, size_t size) { return Refuse() ? nullptr : std::calloc(count, size); }
inline uint8_t *NewBytes(size_t count) { return Refuse() ? nullptr : new (std::nothrow) uint8_t[count]; }
// Where the library allocates and throws std::bad_alloc when it cannot.
inline void MayThrow() {
  if (Refuse())
    throw std::bad_alloc();
}

} // namespace allocation
