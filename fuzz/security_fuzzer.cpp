// The security file reader over any bytes. The first input byte chooses
// how the rest is laid down: as it is, or with its checksum made right
// (full or short sum), so that the walk and the decoding run on every kind
// of content; and as the main copy with or without the same bytes as
// backup. Every read must end in settings or in error 600 or 601, and the
// passwords must be terminated.
#include <cstdint>
#include <cstring>
#include <vector>

#include "app/error_class.h"
#include "fuzz_support.h"
#include "security/secret_ini.h"

namespace {

void PutWord(std::vector<uint8_t>* file, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) (*file)[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static fuzz_support::ScratchDirectory scratch;
  if (size == 0) return 0;
  uint8_t mode = data[0];
  std::vector<uint8_t> file(data + 1, data + size);
  if ((mode & 3) != 0 && file.size() >= 24) {
    std::vector<uint8_t> padded(file);
    padded.resize(SecretIni::kFileSize > padded.size() ? SecretIni::kFileSize : padded.size());
    uint32_t full = 0;
    uint32_t shortSum = 0;
    SecretIni::Sums(padded.data(), &full, &shortSum);
    PutWord(&file, 20, (mode & 3) == 1 ? full : shortSum);
  }
  fuzz_support::WriteFile("SecurInf.cfg", file.data(), file.size());
  if (mode & 4) {
    fuzz_support::WriteFile("Securinf.bkp", file.data(), file.size());
  } else {
    std::remove("Securinf.bkp");
  }
  try {
    SecretIni secret("SecurInf.cfg");
    if (strnlen(secret.AdminPassword, sizeof secret.AdminPassword) == sizeof secret.AdminPassword) __builtin_trap();
    if (strnlen(secret.OperatorPassword, sizeof secret.OperatorPassword) == sizeof secret.OperatorPassword)
      __builtin_trap();
  } catch (ErrorClass& error) {
    if (error.Code != 600 && error.Code != 601) __builtin_trap();
  }
  return 0;
}
