// What the fuzz targets share: a private scratch directory as the current
// directory (the readers take their files from there), and writing a file.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace fuzz_support {

class ScratchDirectory {
 public:
  ScratchDirectory() {
    const char* base = std::getenv("TMPDIR");
    // Memory-backed where there is such a place: each input is a file.
    std::string pattern = std::string(base && *base ? base : (access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp")) +
                          "/velmora-fuzz-XXXXXX";
    std::string path = pattern;
    if (!mkdtemp(&path[0]) || chdir(path.c_str()) != 0) std::abort();
  }
};

inline void WriteFile(const char* name, const uint8_t* data, size_t size) {
  FILE* file = std::fopen(name, "wb");
  if (!file) std::abort();
  if (size && std::fwrite(data, 1, size, file) != size) std::abort();
  std::fclose(file);
}

// Reads every byte, so that a block reaching past its memory is caught.
inline void Touch(const void* memory, size_t size) {
  const volatile uint8_t* p = static_cast<const volatile uint8_t*>(memory);
  uint8_t sum = 0;
  for (size_t i = 0; i < size; ++i) sum = static_cast<uint8_t>(sum + p[i]);
  (void)sum;
}

}  // namespace fuzz_support
