// Data protection bound to this machine: CryptProtectData and
// CryptUnprotectData over libsodium's authenticated encryption.
//
// A protected block is laid out as
//   "VDP1"                 4 bytes
//   flags                  32-bit little-endian
//   description length     32-bit little-endian, in UTF-16 units
//   description            UTF-16LE
//   salt                   16 random bytes
//   nonce                  24 random bytes
//   encrypted data         XChaCha20-Poly1305, its 16-byte tag at the end
// Everything before the nonce is authenticated with the data, and the key
// is derived from the machine key, the salt and the optional entropy, so a
// change of any byte, another machine key or other entropy is refused.

#include <fcntl.h>
#include <sodium.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "internal.h"
#include "platform/data_protection.h"

namespace platform {
namespace posix {

namespace {

const char kMagic[4] = {'V', 'D', 'P', '1'};
const char kDefaultMachineKey[] = "/var/lib/velmora/machine.key";
const char kDerivationLabel[] = "Velmora data protection";
const size_t kKeySize = 32;
const size_t kSaltSize = 16;
const size_t kNonceSize = crypto_aead_xchacha20poly1305_ietf_NPUBBYTES;
const size_t kTagSize = crypto_aead_xchacha20poly1305_ietf_ABYTES;
// Far beyond any description a caller gives; it bounds what a damaged
// block can make the reader allocate.
const uint32_t kMaxDescription = 0x8000;

// Zeroed when it goes out of scope, so that no key stays in memory.
struct Key {
  unsigned char bytes[kKeySize];
  ~Key() { sodium_memzero(bytes, sizeof bytes); }
};

std::string MachineKeyPath() {
  const char* path = std::getenv("VELMORA_MACHINE_KEY");
  return (path && *path) ? std::string(path) : std::string(kDefaultMachineKey);
}

void PutWord(std::vector<unsigned char>* out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<unsigned char>(value >> (8 * i)));
}

uint32_t GetWord(const unsigned char* at) {
  return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 | static_cast<uint32_t>(at[2]) << 16 |
         static_cast<uint32_t>(at[3]) << 24;
}

bool ReadExactly(int fd, unsigned char* out, size_t size) {
  size_t done = 0;
  while (done < size) {
    ssize_t n = read(fd, out + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// A key file is exactly 32 bytes; anything else is refused, never replaced:
// replacing it would orphan every block protected with it.
bool ReadKeyFile(const std::string& path, Key* key, DWORD* error) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    *error = errno == ENOENT ? ERROR_FILE_NOT_FOUND : ErrorFromErrno(errno, path);
    return false;
  }
  struct stat st;
  bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size == static_cast<off_t>(kKeySize) &&
            ReadExactly(fd, key->bytes, kKeySize);
  close(fd);
  if (!ok) *error = ERROR_INVALID_DATA;
  return ok;
}

bool MakeDirectories(const std::string& directory) {
  if (directory.empty()) return true;
  struct stat st;
  if (stat(directory.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  size_t slash = directory.rfind('/');
  if (slash != std::string::npos && slash > 0 && !MakeDirectories(directory.substr(0, slash))) return false;
  return mkdir(directory.c_str(), 0755) == 0 || errno == EEXIST;
}

// A new key is written to a file of its own and then linked into place, so
// that two processes making the key at once agree on one: the loser of the
// race reads the winner's.
bool CreateKeyFile(const std::string& path, Key* key, DWORD* error) {
  size_t slash = path.rfind('/');
  if (slash != std::string::npos && !MakeDirectories(path.substr(0, slash))) {
    *error = ErrorFromErrno(errno, path);
    return false;
  }
  char suffix[32];
  std::snprintf(suffix, sizeof suffix, ".new.%ld.%08x", static_cast<long>(getpid()), randombytes_random());
  std::string fresh = path + suffix;
  int fd = open(fresh.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) {
    *error = ErrorFromErrno(errno, fresh);
    return false;
  }
  randombytes_buf(key->bytes, kKeySize);
  bool written = write(fd, key->bytes, kKeySize) == static_cast<ssize_t>(kKeySize) && fsync(fd) == 0;
  written = close(fd) == 0 && written;
  if (!written) {
    *error = ERROR_WRITE_FAULT;
    unlink(fresh.c_str());
    return false;
  }
  int linked = link(fresh.c_str(), path.c_str());
  int linkError = errno;
  unlink(fresh.c_str());
  if (linked == 0) return true;
  if (linkError == EEXIST) return ReadKeyFile(path, key, error);
  *error = ErrorFromErrno(linkError, path);
  return false;
}

// Protection makes the machine key on first use; unprotection never does:
// without a key, no block can have been made on this machine.
bool MachineKey(bool create, Key* key, DWORD* error) {
  std::string path = MachineKeyPath();
  if (ReadKeyFile(path, key, error)) return true;
  if (*error != ERROR_FILE_NOT_FOUND) return false;
  if (!create) {
    *error = ERROR_INVALID_DATA;
    return false;
  }
  return CreateKeyFile(path, key, error);
}

bool DeriveKey(const Key& machine, const unsigned char* salt, const DATA_BLOB* entropy, Key* out) {
  crypto_generichash_state state;
  if (crypto_generichash_init(&state, machine.bytes, kKeySize, kKeySize) != 0) return false;
  crypto_generichash_update(&state, reinterpret_cast<const unsigned char*>(kDerivationLabel), sizeof kDerivationLabel);
  crypto_generichash_update(&state, salt, kSaltSize);
  if (entropy && entropy->cbData > 0) crypto_generichash_update(&state, entropy->pbData, entropy->cbData);
  int done = crypto_generichash_final(&state, out->bytes, kKeySize);
  sodium_memzero(&state, sizeof state);
  return done == 0;
}

bool ValidBlob(const DATA_BLOB* blob) { return blob && (blob->cbData == 0 || blob->pbData); }

BYTE* Allocate(size_t size) { return static_cast<BYTE*>(std::malloc(size > 0 ? size : 1)); }

BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

}  // namespace

}  // namespace posix
}  // namespace platform

using platform::posix::Injected;
using platform::posix::Key;

BOOL CryptProtectData(DATA_BLOB* dataIn, LPCWSTR description, DATA_BLOB* optionalEntropy, void*,
                      CRYPTPROTECT_PROMPTSTRUCT*, DWORD flags, DATA_BLOB* dataOut) {
  using namespace platform::posix;
  if (Injected("CryptProtectData", std::string(), ERROR_ACCESS_DENIED)) return FALSE;
  if (!ValidBlob(dataIn) || !dataOut || (optionalEntropy && !ValidBlob(optionalEntropy)))
    return Fail(ERROR_INVALID_PARAMETER);
  if (sodium_init() < 0) return Fail(ERROR_NOT_ENOUGH_MEMORY);

  uint32_t units = 0;
  while (description && description[units] && units < kMaxDescription) ++units;

  std::vector<unsigned char> blob(kMagic, kMagic + sizeof kMagic);
  PutWord(&blob, flags);
  PutWord(&blob, units);
  for (uint32_t i = 0; i < units; ++i) {
    blob.push_back(static_cast<unsigned char>(description[i] & 0xFF));
    blob.push_back(static_cast<unsigned char>(description[i] >> 8));
  }
  size_t saltAt = blob.size();
  blob.resize(saltAt + kSaltSize + kNonceSize);
  randombytes_buf(blob.data() + saltAt, kSaltSize + kNonceSize);
  size_t headerSize = saltAt + kSaltSize;

  Key machine;
  Key key;
  DWORD error = 0;
  if (!MachineKey(true, &machine, &error)) return Fail(error);
  if (!DeriveKey(machine, blob.data() + saltAt, optionalEntropy, &key)) return Fail(ERROR_INVALID_DATA);

  size_t dataAt = blob.size();
  blob.resize(dataAt + dataIn->cbData + kTagSize);
  unsigned long long sealed = 0;
  crypto_aead_xchacha20poly1305_ietf_encrypt(blob.data() + dataAt, &sealed, dataIn->pbData, dataIn->cbData, blob.data(),
                                             headerSize, nullptr, blob.data() + headerSize, key.bytes);
  blob.resize(dataAt + static_cast<size_t>(sealed));

  BYTE* out = Allocate(blob.size());
  if (!out) return Fail(ERROR_NOT_ENOUGH_MEMORY);
  std::memcpy(out, blob.data(), blob.size());
  dataOut->pbData = out;
  dataOut->cbData = static_cast<DWORD>(blob.size());
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

BOOL CryptUnprotectData(DATA_BLOB* dataIn, LPWSTR* description, DATA_BLOB* optionalEntropy, void*,
                        CRYPTPROTECT_PROMPTSTRUCT*, DWORD, DATA_BLOB* dataOut) {
  using namespace platform::posix;
  if (description) *description = nullptr;
  if (Injected("CryptUnprotectData", std::string(), ERROR_INVALID_DATA)) return FALSE;
  if (!ValidBlob(dataIn) || !dataOut || (optionalEntropy && !ValidBlob(optionalEntropy)))
    return Fail(ERROR_INVALID_PARAMETER);
  if (sodium_init() < 0) return Fail(ERROR_NOT_ENOUGH_MEMORY);

  const unsigned char* in = dataIn->pbData;
  size_t size = dataIn->cbData;
  if (size < 12 || std::memcmp(in, kMagic, sizeof kMagic) != 0) return Fail(ERROR_INVALID_DATA);
  uint32_t units = GetWord(in + 8);
  if (units > kMaxDescription) return Fail(ERROR_INVALID_DATA);
  size_t saltAt = 12 + 2 * static_cast<size_t>(units);
  size_t headerSize = saltAt + kSaltSize;
  size_t dataAt = headerSize + kNonceSize;
  if (size < dataAt + kTagSize) return Fail(ERROR_INVALID_DATA);

  Key machine;
  Key key;
  DWORD error = 0;
  if (!MachineKey(false, &machine, &error)) return Fail(error);
  if (!DeriveKey(machine, in + saltAt, optionalEntropy, &key)) return Fail(ERROR_INVALID_DATA);

  size_t sealedSize = size - dataAt;
  BYTE* out = Allocate(sealedSize - kTagSize);
  if (!out) return Fail(ERROR_NOT_ENOUGH_MEMORY);
  unsigned long long opened = 0;
  if (crypto_aead_xchacha20poly1305_ietf_decrypt(out, &opened, nullptr, in + dataAt, sealedSize, in, headerSize,
                                                 in + headerSize, key.bytes) != 0) {
    std::free(out);
    return Fail(ERROR_INVALID_DATA);
  }
  if (description) {
    WCHAR* text = static_cast<WCHAR*>(std::malloc((units + 1) * sizeof(WCHAR)));
    if (!text) {
      sodium_memzero(out, static_cast<size_t>(opened));
      std::free(out);
      return Fail(ERROR_NOT_ENOUGH_MEMORY);
    }
    for (uint32_t i = 0; i < units; ++i) text[i] = static_cast<WCHAR>(in[12 + 2 * i] | in[13 + 2 * i] << 8);
    text[units] = 0;
    *description = text;
  }
  dataOut->pbData = out;
  dataOut->cbData = static_cast<DWORD>(opened);
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

HLOCAL LocalFree(HLOCAL memory) {
  std::free(memory);
  return nullptr;
}
