#include "security/secret_ini.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "app/error_class.h"
#include "platform/win32.h"
#include "security/secure_store.h"

namespace {

const char kBackupName[] = "Securinf.bkp";
const char kSignature[8] = {'S', 'e', 'c', 'u', 'r', 'i', 't', 'y'};
const int kKeyOffset = 10;
const int kChecksumOffset = 20;
const int kChecksumWord = kChecksumOffset / 4;
const int kDataStart = 30;
const int kWords = SecretIni::kFileSize / 4;
const int kShortSumWords = 264;

// The settings words in the order the file holds them.
const int kFileOrder[SecretIni::kSettingsCount] = {0, 2, 1, 3, 4, 5, 10, 6, 7, 8, 9};
// Every word is 1 until read but the operator's right to purge.
const int32_t kDefaults[SecretIni::kSettingsCount] = {1, 1, 1, 1, 1, 1, 1, 1, 0, 1, 1};

// The fields in file order: two passwords, then eleven words.
const int kFieldCount = 2 + SecretIni::kSettingsCount;
int FieldSize(int field) { return field < 2 ? SecretIni::kPasswordSize : 4; }

uint32_t WordAt(const uint8_t* at) {
  return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 | static_cast<uint32_t>(at[2]) << 16 |
         static_cast<uint32_t>(at[3]) << 24;
}

void PutWord(uint8_t* at, uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint8_t RotateRight(uint8_t b) { return static_cast<uint8_t>((b >> 1) | (b << 7)); }
uint8_t RotateLeft(uint8_t b) { return static_cast<uint8_t>((b << 1) | (b >> 7)); }

// 15-bit draws, as the run-time library's generator gives them on Windows;
// the file's key is made of two of them.
class Random15 {
 public:
  explicit Random15(uint32_t seed) : state_(seed) {}
  uint32_t Next() {
    state_ = state_ * 214013u + 2531011u;
    return (state_ >> 16) & 0x7FFFu;
  }

 private:
  uint32_t state_;
};

uint32_t TimeSeed() {
  uint64_t ticks = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  return static_cast<uint32_t>(std::time(nullptr)) ^ static_cast<uint32_t>(ticks) ^ static_cast<uint32_t>(ticks >> 32);
}

// The current directory with a backslash, then the name, cut to fit.
void PathInCurrentDirectory(const char* name, char (&path)[SecretIni::kPathSize]) {
  char directory[SecretIni::kPathSize] = {};
  DWORD length = GetCurrentDirectoryA(sizeof directory, directory);
  // A directory that cannot be had or does not fit leaves the bare name,
  // which still names the file in the current directory.
  if (length == 0 || length >= sizeof directory) directory[0] = '\0';
  std::string composed = directory;
  if (!composed.empty() && composed.back() != '\\') composed += '\\';
  composed += name ? name : "";
  // Longer paths are not supported; they are cut, never overrun.
  std::memset(path, 0, sizeof path);
  composed.copy(path, sizeof path - 1);
}

}  // namespace

void SecretIni::ScatterOffsets(uint32_t key, int32_t offsets[kDataBytes]) {
  int32_t cursor = kDataStart;
  int n = 0;
  for (int field = 0; field < kFieldCount; ++field) {
    uint32_t shift = 0;
    for (int i = 0; i < FieldSize(field); ++i) {
      // Each field starts again from the key's lowest nibble, and so does
      // the second half of a password.
      if (i == 0 || i == 8) shift = key;
      cursor += static_cast<int32_t>(shift & 0xF) + 1;
      shift >>= 4;
      offsets[n++] = cursor;
      ++cursor;
    }
  }
}

uint8_t SecretIni::EncodeByte(uint8_t byte, int index) {
  uint8_t t = static_cast<uint8_t>(((byte + index + 100) ^ (4 * index)) - index);
  return RotateRight(t);
}

uint8_t SecretIni::DecodeByte(uint8_t stored, int index) {
  uint8_t t = RotateLeft(stored);
  return static_cast<uint8_t>(((t + index) ^ (4 * index)) - index - 100);
}

void SecretIni::Sums(const uint8_t file[kFileSize], uint32_t* full, uint32_t* shortSum) {
  uint32_t sum = 0;
  for (int word = 0; word < kWords; ++word) {
    if (word == kShortSumWords) *shortSum = sum;
    if (word != kChecksumWord) sum += WordAt(file + 4 * word);
  }
  *full = sum;
}

SecretIni::SecretIni(const char* fileName) {
  SetDefaults(fileName);
  try {
    if (Read(false) == 1) {
      char text[300];
      std::snprintf(text, sizeof text, "Ошибка открытия файла %s", fileName ? fileName : "");
      throw ErrorClass(text, 600);
    }
  } catch (ErrorClass&) {
    // No object comes of a failed construction: its store goes with it.
    delete Store;
    Store = nullptr;
    throw;
  }
}

SecretIni::SecretIni(const char* fileName, Blank) { SetDefaults(fileName); }

SecretIni::~SecretIni() { delete Store; }

SecretIni::SecretIni(const SecretIni& other) : Store(new CSecureStore) { *this = other; }

SecretIni& SecretIni::operator=(const SecretIni& other) {
  if (this == &other) return *this;
  std::memcpy(AdminPassword, other.AdminPassword, sizeof AdminPassword);
  std::memcpy(OperatorPassword, other.OperatorPassword, sizeof OperatorPassword);
  std::memcpy(Settings, other.Settings, sizeof Settings);
  std::memcpy(MainPath, other.MainPath, sizeof MainPath);
  std::memcpy(BackupPath, other.BackupPath, sizeof BackupPath);
  *Store = *other.Store;
  return *this;
}

void SecretIni::SetDefaults(const char* fileName) {
  std::memset(AdminPassword, 0, sizeof AdminPassword);
  std::memset(OperatorPassword, 0, sizeof OperatorPassword);
  std::memcpy(Settings, kDefaults, sizeof Settings);
  Store = new CSecureStore;
  PathInCurrentDirectory(fileName, MainPath);
  PathInCurrentDirectory(kBackupName, BackupPath);
}

int32_t SecretIni::Read(bool useBackup) {
  Store->Load();
  const char* path = useBackup ? BackupPath : MainPath;
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_FLAG_RANDOM_ACCESS | FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return useBackup ? 1 : Read(true);

  // Bytes past the end of a shorter file read as zero.
  uint8_t bytes[kFileSize] = {};
  DWORD total = 0;
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file, bytes + total, kFileSize - total, &got, nullptr) || got == 0) break;
    total += got;
    if (total >= static_cast<DWORD>(kFileSize)) break;
  }
  CloseHandle(file);

  uint32_t full = 0;
  uint32_t shortSum = 0;
  Sums(bytes, &full, &shortSum);
  uint32_t stored = WordAt(bytes + kChecksumOffset);
  // A file that does not even hold its checksum is damaged, whatever the
  // zeros it reads as would sum to (an empty file would "match").
  bool damaged = total < static_cast<DWORD>(kChecksumOffset + 4) || (stored != full && stored != shortSum);
  if (damaged) {
    if (!useBackup) return Read(true);
    throw ErrorClass("Файл SecurInf.cfg запорчен. Вероятно придётся производить переинсталяцию программы.", 601);
  }

  Decompose(bytes);
  // The copy that was read goes over the other one.
  if (useBackup) {
    CopyFileA(BackupPath, MainPath, FALSE);
  } else {
    CopyFileA(MainPath, BackupPath, FALSE);
  }
  return 0;
}

void SecretIni::Decompose(const uint8_t file[kFileSize]) {
  int32_t offsets[kDataBytes];
  ScatterOffsets(WordAt(file + kKeyOffset), offsets);
  int n = 0;
  for (int i = 0; i < kPasswordSize; ++i, ++n) AdminPassword[i] = static_cast<char>(DecodeByte(file[offsets[n]], i));
  for (int i = 0; i < kPasswordSize; ++i, ++n) OperatorPassword[i] = static_cast<char>(DecodeByte(file[offsets[n]], i));
  // A password holds at most 15 characters: the last byte of its field is
  // its terminating zero, whatever a damaged or foreign file put there.
  AdminPassword[kPasswordSize - 1] = '\0';
  OperatorPassword[kPasswordSize - 1] = '\0';
  for (int word = 0; word < kSettingsCount; ++word) {
    uint8_t value[4];
    for (int i = 0; i < 4; ++i, ++n) value[i] = DecodeByte(file[offsets[n]], i);
    Settings[kFileOrder[word]] = static_cast<int32_t>(WordAt(value));
  }
}

void SecretIni::Compose(uint32_t key, uint8_t file[kFileSize]) const {
  std::memcpy(file, kSignature, sizeof kSignature);
  PutWord(file + kKeyOffset, key);
  int32_t offsets[kDataBytes];
  ScatterOffsets(key, offsets);
  int n = 0;
  for (int i = 0; i < kPasswordSize; ++i, ++n) file[offsets[n]] = EncodeByte(static_cast<uint8_t>(AdminPassword[i]), i);
  for (int i = 0; i < kPasswordSize; ++i, ++n)
    file[offsets[n]] = EncodeByte(static_cast<uint8_t>(OperatorPassword[i]), i);
  for (int word = 0; word < kSettingsCount; ++word) {
    uint8_t value[4];
    PutWord(value, static_cast<uint32_t>(Settings[kFileOrder[word]]));
    for (int i = 0; i < 4; ++i, ++n) file[offsets[n]] = EncodeByte(value[i], i);
  }
  uint32_t full = 0;
  uint32_t shortSum = 0;
  Sums(file, &full, &shortSum);
  PutWord(file + kChecksumOffset, full);
}

int32_t SecretIni::Write() {
  HANDLE file = CreateFileA(MainPath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                            FILE_FLAG_RANDOM_ACCESS | FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return -1;

  // Filler and key are drawn in file order: two filler bytes, the key's
  // two halves, then the rest of the filler.
  Random15 random(TimeSeed());
  uint8_t bytes[kFileSize];
  bytes[8] = static_cast<uint8_t>(random.Next());
  bytes[9] = static_cast<uint8_t>(random.Next());
  uint32_t high = random.Next();
  uint32_t low = random.Next();
  uint32_t key = high * 65536u + low;
  for (int i = kKeyOffset + 4; i < kFileSize; ++i) bytes[i] = static_cast<uint8_t>(random.Next());
  Compose(key, bytes);

  // A file that could not be written whole is no security file: that is
  // reported, and the credential store is not saved.
  DWORD written = 0;
  bool ok = WriteFile(file, bytes, kFileSize, &written, nullptr) && written == static_cast<DWORD>(kFileSize);
  ok = CloseHandle(file) && ok;
  if (!ok) return -1;
  return Store->Save() ? 1 : 0;
}
