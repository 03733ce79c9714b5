#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/data_protection.h"
#include "security/multi_options.h"
#include "security/secure_store.h"
#include "support/temp_dir.h"

using testing_support::ReadBytes;
using testing_support::TempDir;
using testing_support::WriteBytes;

namespace {

const char kStoreFile[] = "SecStorage.ini";

struct Flags {
  int synced, loaded, modified;
};

void ExpectFlags(const CSecureStore& store, Flags flags) {
  EXPECT_EQ(store.Synced, flags.synced);
  EXPECT_EQ(store.Loaded, flags.loaded);
  EXPECT_EQ(store.Modified, flags.modified);
}

// The file's lines, each as its name, equals sign and marker: protected
// blocks differ from one save to the next.
std::string NamesAndMarkers(const std::string& file) {
  std::string out;
  size_t at = 0;
  while (at < file.size()) {
    size_t end = file.find("\r\n", at);
    if (end == std::string::npos) end = file.size();
    size_t equals = file.find('=', at);
    out += file.substr(at, std::min(equals + 2, end) - at) + "|";
    at = end + 2;
  }
  return out;
}

// ---- the system's data protection, as the store relies on it ---------------

struct Blob {
  std::string bytes;
};

bool Protect(const std::string& data, const char* entropy, Blob* out) {
  DATA_BLOB in = {static_cast<DWORD>(data.size()), reinterpret_cast<BYTE*>(const_cast<char*>(data.data()))};
  DATA_BLOB extra = {static_cast<DWORD>(std::strlen(entropy) + 1), reinterpret_cast<BYTE*>(const_cast<char*>(entropy))};
  const WCHAR description[] = {'U', 'N', 0};
  DATA_BLOB result = {0, nullptr};
  if (!CryptProtectData(&in, description, &extra, nullptr, nullptr, CRYPTPROTECT_LOCAL_MACHINE, &result)) return false;
  out->bytes.assign(reinterpret_cast<char*>(result.pbData), result.cbData);
  LocalFree(result.pbData);
  return true;
}

bool Unprotect(const Blob& blob, const char* entropy, std::string* data) {
  DATA_BLOB in = {static_cast<DWORD>(blob.bytes.size()), reinterpret_cast<BYTE*>(const_cast<char*>(blob.bytes.data()))};
  DATA_BLOB extra = {static_cast<DWORD>(std::strlen(entropy) + 1), reinterpret_cast<BYTE*>(const_cast<char*>(entropy))};
  DATA_BLOB result = {0, nullptr};
  if (!CryptUnprotectData(&in, nullptr, entropy ? &extra : nullptr, nullptr, nullptr, 0, &result)) return false;
  data->assign(reinterpret_cast<char*>(result.pbData), result.cbData);
  LocalFree(result.pbData);
  return true;
}

TEST(DataProtection, BlocksComeBackOnlyWithTheirEntropyAndUnchanged) {
  Blob blob;
  ASSERT_TRUE(Protect(std::string("secret\0", 7), "LGtrwopzmvxa", &blob));
  EXPECT_EQ(blob.bytes.find("secret"), std::string::npos);
  std::string data;
  ASSERT_TRUE(Unprotect(blob, "LGtrwopzmvxa", &data));
  EXPECT_EQ(data, std::string("secret\0", 7));

  EXPECT_FALSE(Unprotect(blob, "RMwqpoziuvtxlean", &data));
  Blob changed = blob;
  changed.bytes.back() = static_cast<char>(changed.bytes.back() ^ 0x01);
  EXPECT_FALSE(Unprotect(changed, "LGtrwopzmvxa", &data));
}

// ---- the store -------------------------------------------------------------

TEST(SecureStore, WithoutAFileNothingLoadsAndEveryGetTriesAgain) {
  TempDir dir(true);
  CSecureStore store;
  ExpectFlags(store, {1, 0, 0});
  EXPECT_FALSE(store.Load());
  char buffer[64] = "stale";
  EXPECT_EQ(store.GetUser(buffer, sizeof buffer), 0);
  EXPECT_STREQ(buffer, "");
  EXPECT_FALSE(std::filesystem::exists(dir / kStoreFile));

  // Another store saves; the next get of the first one loads what it saved.
  {
    CSecureStore writer;
    writer.SetUser("operator");
    writer.SetPassword("pa55");
    ASSERT_TRUE(writer.Save());
  }
  EXPECT_EQ(store.GetUser(buffer, sizeof buffer), 8);
  EXPECT_STREQ(buffer, "operator");
  ExpectFlags(store, {1, 1, 0});
  EXPECT_EQ(store.GetPassword(buffer, sizeof buffer), 4);
  EXPECT_STREQ(buffer, "pa55");
}

TEST(SecureStore, SetChangesFlagsOnlyWhenTheValueChanges) {
  TempDir dir(true);
  CSecureStore store;
  store.SetUser("");
  ExpectFlags(store, {1, 0, 0});
  store.SetPassword("abc");
  ExpectFlags(store, {0, 0, 1});
  ASSERT_TRUE(store.Save());
  ExpectFlags(store, {1, 1, 0});
  store.SetPassword("abc");
  ExpectFlags(store, {1, 1, 0});
  store.SetUser("x");
  ExpectFlags(store, {0, 1, 1});

  // At most 127 characters are kept.
  const std::string long_text(200, 'L');
  store.SetUser(long_text.c_str());
  EXPECT_EQ(std::string(store.UserName), long_text.substr(0, 127));
}

TEST(SecureStore, GetCutsToTheBuffer) {
  TempDir dir(true);
  CSecureStore store;
  store.SetPassword("abcdef");
  ASSERT_TRUE(store.Save());
  char buffer[200];
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(store.GetPassword(buffer, 1), 0);
  EXPECT_EQ(buffer[0], '\0');
  EXPECT_EQ(store.GetPassword(buffer, 4), 3);
  EXPECT_STREQ(buffer, "abc");
  EXPECT_EQ(store.GetPassword(buffer, sizeof buffer), 6);
  EXPECT_STREQ(buffer, "abcdef");
  // No room even for the terminating zero: nothing is written.
  buffer[0] = 'x';
  EXPECT_EQ(store.GetPassword(buffer, 0), 0);
  EXPECT_EQ(store.GetPassword(buffer, -3), 0);
  EXPECT_EQ(buffer[0], 'x');
}

TEST(SecureStore, SaveWritesBothBlocksAfterTheItemsAlreadyInTheFile) {
  TempDir dir(true);
  WriteBytes(dir / kStoreFile, "Other=I 5\r\nPS=\"old\"\r\n");
  CSecureStore store;
  EXPECT_FALSE(store.Load());
  store.SetUser("admin");
  store.SetPassword("1234");
  ASSERT_TRUE(store.Save());
  EXPECT_EQ(NamesAndMarkers(ReadBytes(dir / kStoreFile)), "Other=I|PS={|UN={|");

  CSecureStore reader;
  ASSERT_TRUE(reader.Load());
  ExpectFlags(reader, {1, 1, 0});
  EXPECT_STREQ(reader.UserName, "admin");
  EXPECT_STREQ(reader.Password, "1234");
  EXPECT_EQ(reader.Options->GetInt("Other"), 5);
}

TEST(SecureStore, UserWithoutPasswordLoadsTheUserOnly) {
  TempDir dir(true);
  {
    CSecureStore writer;
    writer.SetUser("admin");
    writer.SetPassword("1234");
    ASSERT_TRUE(writer.Save());
  }
  std::string file = ReadBytes(dir / kStoreFile);
  WriteBytes(dir / kStoreFile, file.substr(0, file.find("\r\nPS=") + 2));

  CSecureStore store;
  store.SetPassword("kept");
  EXPECT_FALSE(store.Load());
  EXPECT_STREQ(store.UserName, "admin");
  EXPECT_STREQ(store.Password, "kept");
  ExpectFlags(store, {0, 0, 1});
}

TEST(SecureStore, ChangedBlocksAreRefused) {
  TempDir dir(true);
  {
    CSecureStore writer;
    writer.SetUser("admin");
    writer.SetPassword("1234");
    ASSERT_TRUE(writer.Save());
  }
  // Change the last byte of the password's block.
  MultiOptions options(kStoreFile, MO_Manual);
  ASSERT_EQ(options.Load(), 1);
  int32_t size = 0;
  const BYTE* block = options.GetBinary("PS", &size);
  ASSERT_GT(size, 0);
  std::string bytes(reinterpret_cast<const char*>(block), static_cast<size_t>(size));
  bytes.back() = static_cast<char>(bytes.back() ^ 0x80);
  options.SetBinary("PS", bytes.data(), size);
  ASSERT_EQ(options.Save(), 1);

  CSecureStore store;
  EXPECT_FALSE(store.Load());
  EXPECT_STREQ(store.UserName, "admin");
  EXPECT_STREQ(store.Password, "");
}

TEST(SecureStore, CopiesHaveTheirOwnOptions) {
  TempDir dir(true);
  CSecureStore store;
  store.SetUser("u");
  store.SetPassword("p");
  CSecureStore copy(store);
  EXPECT_NE(copy.Options, store.Options);
  EXPECT_STREQ(copy.UserName, "u");
  EXPECT_STREQ(copy.Password, "p");
  ExpectFlags(copy, {0, 0, 1});

  CSecureStore other;
  MultiOptions* own = other.Options;
  other = store;
  EXPECT_EQ(other.Options, own);
  EXPECT_STREQ(other.Password, "p");
  ExpectFlags(other, {0, 0, 1});
}

}  // namespace
