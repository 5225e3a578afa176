// The record's layout is fixed by the host interface: check it where the
// product is built (32-bit Windows), and keep the order everywhere.
#include "TargaPlugin.h"

#include <cstddef>

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(HostImage) == 28, "HostImage is 28 bytes");
static_assert(offsetof(HostImage, Kind) == 0, "Kind at 0");
static_assert(offsetof(HostImage, Pixels) == 4, "Pixels at 4");
static_assert(offsetof(HostImage, BytesPerRow) == 8, "BytesPerRow at 8");
static_assert(offsetof(HostImage, Width) == 12, "Width at 12");
static_assert(offsetof(HostImage, Height) == 16, "Height at 16");
static_assert(offsetof(HostImage, Palette) == 20, "Palette at 20");
static_assert(offsetof(HostImage, PaletteCount) == 24, "PaletteCount at 24");
#else
static_assert(offsetof(HostImage, Pixels) < offsetof(HostImage, BytesPerRow) &&
                  offsetof(HostImage, BytesPerRow) < offsetof(HostImage, Width) &&
                  offsetof(HostImage, Width) < offsetof(HostImage, Height) &&
                  offsetof(HostImage, Height) < offsetof(HostImage, Palette) &&
                  offsetof(HostImage, Palette) < offsetof(HostImage, PaletteCount),
              "HostImage keeps the host's field order");
#endif
