#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/error_class.h"
#include "platform/win32.h"
#include "security/secret_ini.h"
#include "support/temp_dir.h"

using testing_support::ReadBytes;
using testing_support::TempDir;
using testing_support::WriteBytes;

namespace {

const char kMain[] = "SecurInf.cfg";
const char kBackup[] = "Securinf.bkp";

// ---- a security file laid out by hand, from the format alone ---------------

uint32_t Word(const std::string& file, size_t at) {
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<uint8_t>(file[at + i]);
  return value;
}

void PutWord(std::string* file, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) (*file)[at + i] = static_cast<char>(value >> (8 * i));
}

uint32_t FullSum(const std::string& file, int words = 360) {
  uint32_t sum = 0;
  for (int w = 0; w < words; ++w)
    if (w != 5) sum += Word(file, 4 * w);
  return sum;
}

struct Content {
  std::string admin, operator_;
  int32_t settings[11];
};

// Data bytes in file order: the two 16-byte password fields, then the
// words as Settings 0, 2, 1, 3, 4, 5, 10, 6, 7, 8, 9, low byte first.
std::string HandLaid(uint32_t key, const Content& content, const std::string& filler) {
  std::string file = filler;
  file.replace(0, 8, "Security");
  PutWord(&file, 10, key);
  std::vector<std::string> fields = {content.admin, content.operator_};
  for (auto& f : fields) f.resize(16, '\0');
  for (int index : {0, 2, 1, 3, 4, 5, 10, 6, 7, 8, 9}) {
    std::string word(4, '\0');
    PutWord(&word, 0, static_cast<uint32_t>(content.settings[index]));
    fields.push_back(word);
  }
  size_t cursor = 30;
  for (const std::string& field : fields) {
    uint32_t reg = 0;
    for (size_t i = 0; i < field.size(); ++i) {
      if (i == 0 || i == 8) reg = key;
      cursor += (reg & 0xF) + 1;
      reg >>= 4;
      uint8_t t = static_cast<uint8_t>(((static_cast<uint8_t>(field[i]) + i + 100) ^ (4 * i)) - i);
      file[cursor] = static_cast<char>(static_cast<uint8_t>(t >> 1 | t << 7));
      ++cursor;
    }
  }
  PutWord(&file, 20, FullSum(file));
  return file;
}

std::string Filler(uint8_t seed) {
  std::string filler(1440, '\0');
  for (size_t i = 0; i < filler.size(); ++i) filler[i] = static_cast<char>(seed + i * 7);
  return filler;
}

const Content kDefaults = {"", "", {1, 1, 1, 1, 1, 1, 1, 1, 0, 1, 1}};

void ExpectContent(const SecretIni& secret, const Content& content) {
  EXPECT_EQ(std::string(secret.AdminPassword), content.admin);
  EXPECT_EQ(std::string(secret.OperatorPassword), content.operator_);
  for (int i = 0; i < 11; ++i) EXPECT_EQ(secret.Settings[i], content.settings[i]) << "word " << i;
}

// The error a construction raises, or code 0.
ErrorClass ConstructionError() {
  try {
    SecretIni secret(kMain);
  } catch (ErrorClass& error) {
    return error;
  }
  return ErrorClass("", 0);
}

// ---- the walk, the codec and the sums --------------------------------------

TEST(SecurityFile, ScatterWalkPlacesEveryDataByte) {
  int32_t offsets[SecretIni::kDataBytes];
  SecretIni::ScatterOffsets(0, offsets);
  for (int n = 0; n < SecretIni::kDataBytes; ++n) EXPECT_EQ(offsets[n], 31 + 2 * n);
  SecretIni::ScatterOffsets(0xFFFFFFFFu, offsets);
  for (int n = 0; n < SecretIni::kDataBytes; ++n) EXPECT_EQ(offsets[n], 46 + 17 * n);
  EXPECT_EQ(offsets[SecretIni::kDataBytes - 1], 1321);

  struct KeyCase {
    uint32_t key;
    int32_t first[16];
  };
  const KeyCase cases[] = {
      {0x12345678u, {39, 48, 56, 63, 69, 74, 78, 81, 91, 100, 108, 115, 121, 126, 130, 133}},
      {0x95833043u, {34, 40, 42, 47, 52, 62, 69, 80, 85, 91, 93, 98, 103, 113, 120, 131}},
  };
  for (const KeyCase& c : cases) {
    SecretIni::ScatterOffsets(c.key, offsets);
    for (int n = 0; n < 16; ++n) EXPECT_EQ(offsets[n], c.first[n]) << std::hex << c.key << " byte " << n;
    // The next field starts again from the lowest nibble.
    EXPECT_EQ(offsets[16], offsets[15] + 1 + static_cast<int32_t>(c.key & 0xF) + 1);
  }
}

TEST(SecurityFile, ByteCodec) {
  EXPECT_EQ(SecretIni::EncodeByte('a', 0), 0xE2);
  EXPECT_EQ(SecretIni::EncodeByte('b', 1), 0x61);
  EXPECT_EQ(SecretIni::EncodeByte('c', 2), 0xDF);
  for (int index = 0; index < 16; ++index) {
    for (int b = 0; b < 256; ++b) {
      ASSERT_EQ(SecretIni::DecodeByte(SecretIni::EncodeByte(static_cast<uint8_t>(b), index), index), b)
          << "byte " << b << " index " << index;
    }
  }
}

// ---- reading and writing ---------------------------------------------------

TEST(SecurityFile, WrittenDefaultsReadBackAndOnlyTheMainFileIsWritten) {
  TempDir dir(true);
  {
    SecretIni blank(kMain, SecretIni::Blank{});
    EXPECT_EQ(blank.Write(), 1);
  }
  EXPECT_FALSE(std::filesystem::exists(dir / kBackup));
  std::string file = ReadBytes(dir / kMain);
  ASSERT_EQ(file.size(), 1440u);
  EXPECT_EQ(file.substr(0, 8), "Security");
  uint32_t key = Word(file, 10);
  EXPECT_EQ(key & 0x80008000u, 0u);
  EXPECT_EQ(Word(file, 20), FullSum(file));
  // Exactly the bytes the format gives for this key, over the writer's own
  // filler.
  EXPECT_EQ(file, HandLaid(key, kDefaults, file));

  SecretIni secret(kMain);
  ExpectContent(secret, kDefaults);
  // Reading the main copy brings the backup in step.
  EXPECT_EQ(ReadBytes(dir / kBackup), file);
}

TEST(SecurityFile, PasswordsAndWordsGoThroughAWriteAndARead) {
  TempDir dir(true);
  Content content = {"123456789012345", "abc", {-1, 2, 3, 4, 5, 6, 7, 8, 9, 0x7FFFFFFF, -2147483647 - 1}};
  {
    SecretIni blank(kMain, SecretIni::Blank{});
    std::strcpy(blank.AdminPassword, content.admin.c_str());
    std::strcpy(blank.OperatorPassword, content.operator_.c_str());
    std::memcpy(blank.Settings, content.settings, sizeof blank.Settings);
    EXPECT_EQ(blank.Write(), 1);
  }
  std::string file = ReadBytes(dir / kMain);
  EXPECT_EQ(file, HandLaid(Word(file, 10), content, file));
  SecretIni secret(kMain);
  ExpectContent(secret, content);
}

TEST(SecurityFile, HandLaidFilesAreRead) {
  TempDir dir(true);
  Content content = {"Admin", "\xCE\xEF\xE5\xF0", {5, 4, 3, 2, 1, 0, -1, -2, 1, -4, -5}};
  for (uint32_t key : {0u, 0xFFFFFFFFu, 0x12345678u, 0x95833043u}) {
    WriteBytes(dir / kMain, HandLaid(key, content, Filler(static_cast<uint8_t>(key))));
    SecretIni secret(kMain);
    ExpectContent(secret, content);
  }
}

TEST(SecurityFile, ChecksumTakesTheFullOrTheShortSumAndIgnoresTheSignature) {
  TempDir dir(true);
  const std::string good = HandLaid(0x12345678u, {"adm", "op", {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}}, Filler(3));
  std::string shortSum = good;
  PutWord(&shortSum, 20, FullSum(good, 264));
  ASSERT_NE(FullSum(good, 264), FullSum(good));
  std::string signature = good;
  signature.replace(0, 8, "Insecure");
  PutWord(&signature, 20, FullSum(signature));
  // A shorter file reads as zeros past its end.
  std::string shortFile = good.substr(0, 1300);
  PutWord(&shortFile, 20, FullSum(shortFile + std::string(140, '\0')));

  for (const std::string* file : {&shortSum, &signature, &shortFile}) {
    WriteBytes(dir / kMain, *file);
    std::filesystem::remove(dir / kBackup);
    SecretIni secret(kMain);
    EXPECT_STREQ(secret.AdminPassword, "adm");
    EXPECT_EQ(ReadBytes(dir / kBackup), *file);
  }
}

TEST(SecurityFile, EveryChangedByteSendsTheReaderToTheBackup) {
  TempDir dir(true);
  const Content mainContent = {"main", "m", {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}};
  const Content backupContent = {"backup", "b", {2, 2, 2, 2, 2, 2, 2, 2, 0, 2, 2}};
  const std::string main = HandLaid(0x0A1B2C3Du, mainContent, Filler(1));
  const std::string backup = HandLaid(0x12345678u, backupContent, Filler(2));
  for (size_t i = 0; i < main.size(); ++i) {
    std::string changed = main;
    changed[i] = static_cast<char>(changed[i] ^ 0x01);
    WriteBytes(dir / kMain, changed);
    WriteBytes(dir / kBackup, backup);
    SecretIni secret(kMain);
    ASSERT_STREQ(secret.AdminPassword, "backup") << "byte " << i;
    ASSERT_EQ(ReadBytes(dir / kMain), backup) << "byte " << i;
  }
}

TEST(SecurityFile, MissingAndDamagedCopies) {
  TempDir dir(true);
  const std::string good = HandLaid(0x95833043u, {"adm", "op", {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}}, Filler(4));
  std::string bad = good;
  bad[200] = static_cast<char>(bad[200] + 1);

  // Both missing: "cannot open", with the name given, not the path.
  ErrorClass none = ConstructionError();
  EXPECT_EQ(none.Code, 600);
  EXPECT_STREQ(none.Text, "Ошибка открытия файла SecurInf.cfg");

  // Main missing, backup good: read, and the main copy made from it.
  WriteBytes(dir / kBackup, good);
  {
    SecretIni secret(kMain);
    EXPECT_STREQ(secret.AdminPassword, "adm");
  }
  EXPECT_EQ(ReadBytes(dir / kMain), good);

  // Main missing or damaged, backup damaged: the file is spoilt.
  const char* spoilt = "Файл SecurInf.cfg запорчен. Вероятно придётся производить переинсталяцию программы.";
  std::filesystem::remove(dir / kMain);
  WriteBytes(dir / kBackup, bad);
  ErrorClass missing = ConstructionError();
  EXPECT_EQ(missing.Code, 601);
  EXPECT_STREQ(missing.Text, spoilt);
  WriteBytes(dir / kMain, bad);
  EXPECT_EQ(ConstructionError().Code, 601);
  EXPECT_EQ(ReadBytes(dir / kMain), bad);

  // Main damaged, backup missing: as if neither could be opened.
  std::filesystem::remove(dir / kBackup);
  EXPECT_EQ(ConstructionError().Code, 600);
}

TEST(SecurityFile, FilesTooShortForTheirChecksumAreDamaged) {
  TempDir dir(true);
  const std::string good = HandLaid(0x1234u, {"adm", "", {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}}, Filler(5));
  // An empty file would sum to its own zero checksum.
  for (size_t size : {0, 10, 23}) {
    WriteBytes(dir / kMain, std::string(size, '\0'));
    WriteBytes(dir / kBackup, good);
    SecretIni secret(kMain);
    EXPECT_STREQ(secret.AdminPassword, "adm") << size;
    EXPECT_EQ(ReadBytes(dir / kMain), good) << size;
  }
  std::filesystem::remove(dir / kMain);
  WriteBytes(dir / kBackup, "");
  EXPECT_EQ(ConstructionError().Code, 601);
}

TEST(SecurityFile, APasswordFieldWithoutTerminatingZeroIsCutTo15) {
  TempDir dir(true);
  Content content = {"ABCDEFGHIJKLMNOP", "0123456789abcdef", {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}};
  WriteBytes(dir / kMain, HandLaid(0x55u, content, Filler(6)));
  SecretIni secret(kMain);
  EXPECT_STREQ(secret.AdminPassword, "ABCDEFGHIJKLMNO");
  EXPECT_STREQ(secret.OperatorPassword, "0123456789abcde");
  EXPECT_EQ(secret.Settings[0], 1);
}

TEST(SecurityFile, PathsComeFromTheCurrentDirectory) {
  TempDir dir(true);
  SecretIni secret(kMain, SecretIni::Blank{});
  char directory[MAX_PATH];
  ASSERT_GT(GetCurrentDirectoryA(sizeof directory, directory), 0u);
  EXPECT_EQ(std::string(secret.MainPath), std::string(directory) + "\\SecurInf.cfg");
  EXPECT_EQ(std::string(secret.BackupPath), std::string(directory) + "\\Securinf.bkp");
}

TEST(SecurityFile, CopiesHaveTheirOwnStore) {
  TempDir dir(true);
  SecretIni secret(kMain, SecretIni::Blank{});
  std::strcpy(secret.AdminPassword, "adm");
  secret.Settings[8] = 1;
  SecretIni copy(secret);
  EXPECT_NE(copy.Store, secret.Store);
  EXPECT_STREQ(copy.AdminPassword, "adm");
  EXPECT_EQ(copy.Settings[8], 1);
  EXPECT_STREQ(copy.MainPath, secret.MainPath);

  SecretIni other("Other.cfg", SecretIni::Blank{});
  CSecureStore* own = other.Store;
  other = secret;
  EXPECT_EQ(other.Store, own);
  EXPECT_STREQ(other.AdminPassword, "adm");
  EXPECT_STREQ(other.MainPath, secret.MainPath);
}

}  // namespace
