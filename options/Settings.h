// The export setting: which colour conversion the host applies before the
// plug-in writes an image. Kept in the current user's registry between runs.
#pragma once

#include <cstdint>
#include <optional>

// 0 to 5 in normal use; any 8-bit value can come from the registry.
extern int8_t ConversionMethod;

// Replace ConversionMethod by the stored value, if there is a valid one.
// Every failure is silent and leaves the setting as it was.
void LoadConversionMethod();

// Store ConversionMethod, creating the key if needed. Every failure is silent
// and leaves the store as it was.
void SaveConversionMethod();

// The host's conversion code for a method: 0→2, 1→4, 2→6, 3→8, 4→9, 5→10;
// none outside 0 to 5.
std::optional<int32_t> HostConversionCode(int8_t method);
