#include "security/secure_store.h"

#include <cstring>

#include "platform/data_protection.h"
#include "security/multi_options.h"

namespace {

const char kStoreFileName[] = "SecStorage.ini";

// How one value is protected: its item in the options file, the
// description given with it and its optional entropy (the terminating zero
// is part of the entropy).
struct Protection {
  const char* Item;
  const WCHAR* Description;
  const char* Entropy;
  DWORD EntropySize;
};

const WCHAR kUserDescription[] = {'U', 'N', 0};
const WCHAR kPasswordDescription[] = {'P', 'S', 0};
const char kUserEntropy[] = "LGtrwopzmvxa";
const char kPasswordEntropy[] = "RMwqpoziuvtxlean";

const Protection kUser = {"UN", kUserDescription, kUserEntropy, sizeof kUserEntropy};
const Protection kPassword = {"PS", kPasswordDescription, kPasswordEntropy, sizeof kPasswordEntropy};

DATA_BLOB EntropyOf(const Protection& protection) {
  DATA_BLOB entropy;
  entropy.cbData = protection.EntropySize;
  entropy.pbData = reinterpret_cast<BYTE*>(const_cast<char*>(protection.Entropy));
  return entropy;
}

// Clears a released copy of a value; the writes through a volatile pointer
// are not dropped as dead stores.
void Wipe(void* memory, size_t size) {
  volatile unsigned char* p = static_cast<volatile unsigned char*>(memory);
  while (size--) *p++ = 0;
}

// Stores at most 127 characters of the text, zero-filled; true when the
// stored value changed.
bool Assign(char (&value)[CSecureStore::kValueSize], const char* text) {
  if (!text) text = "";
  if (std::strncmp(value, text, sizeof value) == 0) return false;
  std::memset(value, 0, sizeof value);
  std::memcpy(value, text, strnlen(text, sizeof value - 1));
  return true;
}

int32_t CopyOut(const char (&value)[CSecureStore::kValueSize], char* buffer, int32_t size) {
  // A buffer must hold at least its terminating zero.
  if (!buffer || size < 1) return 0;
  size_t room = static_cast<size_t>(size) < sizeof value ? static_cast<size_t>(size) : sizeof value;
  std::strncpy(buffer, value, room);
  buffer[size - 1] = '\0';
  return static_cast<int32_t>(std::strlen(buffer));
}

// Protects the value and places the block in the options store (in memory).
bool ProtectInto(MultiOptions* options, const char (&value)[CSecureStore::kValueSize], const Protection& protection) {
  DATA_BLOB in;
  in.cbData = static_cast<DWORD>(strnlen(value, sizeof value - 1) + 1);
  in.pbData = reinterpret_cast<BYTE*>(const_cast<char*>(value));
  DATA_BLOB entropy = EntropyOf(protection);
  DATA_BLOB out = {0, nullptr};
  if (!CryptProtectData(&in, protection.Description, &entropy, nullptr, nullptr, CRYPTPROTECT_LOCAL_MACHINE, &out))
    return false;
  options->SetBinary(protection.Item, out.pbData, static_cast<int32_t>(out.cbData));
  LocalFree(out.pbData);
  return true;
}

// Unprotects the options store's block into the value; the value is left as
// it was when there is no block or it is refused.
bool UnprotectInto(MultiOptions* options, char (&value)[CSecureStore::kValueSize], const Protection& protection) {
  int32_t size = 0;
  const BYTE* block = options->GetBinary(protection.Item, &size);
  if (!block || size <= 0) return false;
  DATA_BLOB in;
  in.cbData = static_cast<DWORD>(size);
  in.pbData = const_cast<BYTE*>(block);
  DATA_BLOB entropy = EntropyOf(protection);
  DATA_BLOB out = {0, nullptr};
  if (!CryptUnprotectData(&in, nullptr, &entropy, nullptr, nullptr, 0, &out)) return false;
  // The text ends at its first zero, or with the block when a foreign
  // writer left none.
  const char* text = reinterpret_cast<const char*>(out.pbData);
  size_t length = out.pbData ? strnlen(text, out.cbData < sizeof value - 1 ? out.cbData : sizeof value - 1) : 0;
  std::memset(value, 0, sizeof value);
  if (length) std::memcpy(value, text, length);
  if (out.pbData) {
    Wipe(out.pbData, out.cbData);
    LocalFree(out.pbData);
  }
  return true;
}

}  // namespace

CSecureStore::CSecureStore() : Synced(1), Loaded(0), Modified(0), Options(new MultiOptions(kStoreFileName, MO_Manual)) {
  std::memset(UserName, 0, sizeof UserName);
  std::memset(Password, 0, sizeof Password);
}

CSecureStore::~CSecureStore() { delete Options; }

CSecureStore::CSecureStore(const CSecureStore& other) : CSecureStore() { *this = other; }

CSecureStore& CSecureStore::operator=(const CSecureStore& other) {
  if (this == &other) return *this;
  Synced = other.Synced;
  Loaded = other.Loaded;
  Modified = other.Modified;
  std::memcpy(UserName, other.UserName, sizeof UserName);
  std::memcpy(Password, other.Password, sizeof Password);
  return *this;
}

void CSecureStore::SetUser(const char* text) {
  if (Assign(UserName, text)) {
    Modified = 1;
    Synced = 0;
  }
}

void CSecureStore::SetPassword(const char* text) {
  if (Assign(Password, text)) {
    Modified = 1;
    Synced = 0;
  }
}

int32_t CSecureStore::GetUser(char* buffer, int32_t size) {
  if (!Loaded) Load();
  return CopyOut(UserName, buffer, size);
}

int32_t CSecureStore::GetPassword(char* buffer, int32_t size) {
  if (!Loaded) Load();
  return CopyOut(Password, buffer, size);
}

bool CSecureStore::Load() {
  Options->Load();
  bool user = UnprotectInto(Options, UserName, kUser);
  bool password = UnprotectInto(Options, Password, kPassword);
  if (!user || !password) return false;
  Synced = 1;
  Loaded = 1;
  Modified = 0;
  return true;
}

bool CSecureStore::Save() {
  bool user = ProtectInto(Options, UserName, kUser);
  bool password = ProtectInto(Options, Password, kPassword);
  if (!user || !password) return false;
  // Values that never reached the disk are not saved, whatever memory holds.
  if (!Options->Save()) return false;
  Synced = 1;
  Loaded = 1;
  Modified = 0;
  return true;
}
