// The recorder INI reader over any bytes: the start-up's lookups, and one
// line against a key taken from the input.
#include <cstdint>
#include <cstring>
#include <string>

#include "config/simple_ini.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static fuzz_support::ScratchDirectory scratch;
  fuzz_support::WriteFile("korvo.ini", data, size);
  Ini ini("korvo.ini");
  (void)ini.GetInt("Channels");
  char buffer[260];
  int32_t length = ini.GetString("MainLogFile", buffer, sizeof buffer);
  if (length < 0 || length >= static_cast<int32_t>(sizeof buffer) || std::strlen(buffer) != static_cast<size_t>(length))
    __builtin_trap();
  char small[4];
  if (ini.GetString("ChannelPath[0]", small, sizeof small) > 3) __builtin_trap();

  // A line as fgets gives it (at most 299 characters), with a key from the
  // input's first bytes.
  std::string text(reinterpret_cast<const char*>(data), size);
  size_t split = text.find('\n');
  std::string key = text.substr(0, split == std::string::npos ? 0 : split).c_str();
  std::string line = (split == std::string::npos ? text : text.substr(split + 1)).substr(0, 299).c_str();
  CSimpleIni::Value value;
  if (CSimpleIni::ParseLine(line.c_str(), key.c_str(), &value)) {
    if (strnlen(value.String, sizeof value.String) == sizeof value.String) __builtin_trap();
  }
  return 0;
}
