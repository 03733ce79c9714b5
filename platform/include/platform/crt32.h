// Run-time conversions with the semantics of a 32-bit `long`, as on the
// Windows target, whatever the width of `long` on the host.
#pragma once

#include <cstdint>

namespace platform {

// strtol(text, end, 10), clamped to the signed 32-bit range on overflow.
int32_t Strtol32(const char* text, char** end = nullptr);
// atol(text): strtol with base 10, clamped to the signed 32-bit range.
int32_t Atol32(const char* text);
// strtoul(text, end, base) with a 32-bit unsigned result: an out-of-range
// magnitude gives 0xFFFFFFFF, a minus sign negates modulo 2^32.
uint32_t Strtoul32(const char* text, char** end, int base);

}  // namespace platform
