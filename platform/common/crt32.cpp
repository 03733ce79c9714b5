#include "platform/crt32.h"

#include <cerrno>
#include <cstdlib>

namespace platform {

namespace {

int32_t Clamp32(long long value) {
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

}  // namespace

int32_t Strtol32(const char* text, char** end) {
  // strtoll: wide enough on every host to see a 32-bit overflow, and it
  // clamps itself when even that range is left.
  return Clamp32(std::strtoll(text, end, 10));
}

int32_t Atol32(const char* text) { return Strtol32(text, nullptr); }

uint32_t Strtoul32(const char* text, char** end, int base) {
  // Parsed as a 64-bit magnitude, then brought to 32 bits the way a 32-bit
  // strtoul reports it: too large a magnitude is ULONG_MAX, a minus sign
  // negates the magnitude modulo 2^32.
  const char* p = text;
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  bool negative = *p == '-';
  errno = 0;
  unsigned long long magnitude = std::strtoull(p + ((*p == '-' || *p == '+') ? 1 : 0), end, base);
  if (end && *end == p + ((*p == '-' || *p == '+') ? 1 : 0)) *end = const_cast<char*>(text);
  if (errno == ERANGE || magnitude > UINT32_MAX) return UINT32_MAX;
  uint32_t value = static_cast<uint32_t>(magnitude);
  return negative ? static_cast<uint32_t>(0u - value) : value;
}

}  // namespace platform
