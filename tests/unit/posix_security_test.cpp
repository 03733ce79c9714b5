// The POSIX layer's data protection (the machine key, the block) and the
// credential store's failure paths reached through the fault seam.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/data_protection.h"
#include "platform/fault.h"
#include "security/multi_options.h"
#include "security/secret_ini.h"
#include "security/secure_store.h"
#include "support/temp_dir.h"

using testing_support::ReadBytes;
using testing_support::TempDir;
using testing_support::WriteBytes;

namespace {

// Each test has a machine key of its own, in a directory not made yet.
class MachineKey : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::fault::Reset();
    const char* previous = std::getenv("VELMORA_MACHINE_KEY");
    previous_ = previous ? previous : "";
    keyPath_ = dir_ / "keys/sub/machine.key";
    setenv("VELMORA_MACHINE_KEY", keyPath_.c_str(), 1);
  }
  void TearDown() override {
    platform::fault::Reset();
    if (previous_.empty()) {
      unsetenv("VELMORA_MACHINE_KEY");
    } else {
      setenv("VELMORA_MACHINE_KEY", previous_.c_str(), 1);
    }
  }

  static bool Protect(const std::string& data, const std::string& entropy, std::string* block,
                      const WCHAR* description = nullptr) {
    DATA_BLOB in = {static_cast<DWORD>(data.size()), reinterpret_cast<BYTE*>(const_cast<char*>(data.data()))};
    DATA_BLOB extra = {static_cast<DWORD>(entropy.size()), reinterpret_cast<BYTE*>(const_cast<char*>(entropy.data()))};
    DATA_BLOB out = {0, nullptr};
    if (!CryptProtectData(&in, description, entropy.empty() ? nullptr : &extra, nullptr, nullptr,
                          CRYPTPROTECT_LOCAL_MACHINE, &out))
      return false;
    block->assign(reinterpret_cast<char*>(out.pbData), out.cbData);
    EXPECT_EQ(LocalFree(out.pbData), nullptr);
    return true;
  }

  static bool Unprotect(const std::string& block, const std::string& entropy, std::string* data,
                        std::u16string* description = nullptr) {
    DATA_BLOB in = {static_cast<DWORD>(block.size()), reinterpret_cast<BYTE*>(const_cast<char*>(block.data()))};
    DATA_BLOB extra = {static_cast<DWORD>(entropy.size()), reinterpret_cast<BYTE*>(const_cast<char*>(entropy.data()))};
    DATA_BLOB out = {0, nullptr};
    LPWSTR text = nullptr;
    SetLastError(0);
    if (!CryptUnprotectData(&in, description ? &text : nullptr, entropy.empty() ? nullptr : &extra, nullptr, nullptr, 0,
                            &out))
      return false;
    data->assign(reinterpret_cast<char*>(out.pbData), out.cbData);
    LocalFree(out.pbData);
    if (description) {
      *description = text;
      LocalFree(text);
    }
    return true;
  }

  TempDir dir_;
  std::string keyPath_;
  std::string previous_;
};

TEST_F(MachineKey, MadeOnFirstProtectionPrivateAndKept) {
  std::string data;
  ASSERT_FALSE(Unprotect(std::string(80, 'x'), "e", &data));
  // Unprotecting never makes a key.
  EXPECT_FALSE(std::filesystem::exists(keyPath_));

  std::string block;
  ASSERT_TRUE(Protect("value", "e", &block));
  struct stat st;
  ASSERT_EQ(stat(keyPath_.c_str(), &st), 0);
  EXPECT_EQ(st.st_size, 32);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  std::string key = ReadBytes(keyPath_);

  std::string second;
  ASSERT_TRUE(Protect("value", "e", &second));
  EXPECT_EQ(ReadBytes(keyPath_), key);
  // Random salt and nonce: the same value never gives the same block.
  EXPECT_NE(block, second);
  ASSERT_TRUE(Unprotect(block, "e", &data));
  EXPECT_EQ(data, "value");
  // Only the key file is left beside itself: no half-made key files.
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir_.Path() / "keys/sub")) {
    (void)entry;
    ++files;
  }
  EXPECT_EQ(files, 1);
}

TEST_F(MachineKey, DescriptionTravelsInTheBlock) {
  const WCHAR description[] = {'P', 'S', 0x0416, 0};
  std::string block;
  ASSERT_TRUE(Protect(std::string("pw\0", 3), "RMwqpoziuvtxlean", &block, description));
  std::string data;
  std::u16string text;
  ASSERT_TRUE(Unprotect(block, "RMwqpoziuvtxlean", &data, &text));
  EXPECT_EQ(data, std::string("pw\0", 3));
  EXPECT_EQ(text, std::u16string(u"PS\u0416"));

  // An empty value and no entropy at all are fine too.
  ASSERT_TRUE(Protect("", "", &block));
  ASSERT_TRUE(Unprotect(block, "", &data));
  EXPECT_EQ(data, "");
}

TEST_F(MachineKey, AnyChangeOtherEntropyOrAnotherKeyIsRefused) {
  std::string block;
  ASSERT_TRUE(Protect("value", "entropy", &block));
  std::string data;
  for (size_t i = 0; i < block.size(); ++i) {
    std::string changed = block;
    changed[i] = static_cast<char>(changed[i] ^ 0x01);
    EXPECT_FALSE(Unprotect(changed, "entropy", &data)) << "byte " << i;
    EXPECT_EQ(GetLastError(), ERROR_INVALID_DATA) << "byte " << i;
  }
  EXPECT_FALSE(Unprotect(block.substr(0, block.size() - 1), "entropy", &data));
  EXPECT_FALSE(Unprotect(block + "x", "entropy", &data));
  EXPECT_FALSE(Unprotect(block, "entropz", &data));
  EXPECT_FALSE(Unprotect(block, "", &data));
  EXPECT_FALSE(Unprotect("", "entropy", &data));
  ASSERT_TRUE(Unprotect(block, "entropy", &data));

  // Another machine: another key file.
  std::string other = dir_ / "other.key";
  setenv("VELMORA_MACHINE_KEY", other.c_str(), 1);
  std::string foreign;
  ASSERT_TRUE(Protect("value", "entropy", &foreign));
  EXPECT_FALSE(Unprotect(block, "entropy", &data));
  setenv("VELMORA_MACHINE_KEY", keyPath_.c_str(), 1);
  EXPECT_FALSE(Unprotect(foreign, "entropy", &data));
}

TEST_F(MachineKey, DamagedKeyFileIsRefusedAndKept) {
  std::filesystem::create_directories(dir_.Path() / "keys/sub");
  WriteBytes(keyPath_, "short");
  std::string block;
  EXPECT_FALSE(Protect("value", "e", &block));
  EXPECT_EQ(ReadBytes(keyPath_), "short");
}

TEST_F(MachineKey, StoreSavesNothingWhenThePasswordCannotBeProtected) {
  TempDir work(true);
  WriteBytes(work / "SecStorage.ini", "Old=I 1\r\n");
  CSecureStore store;
  store.SetUser("admin");
  store.SetPassword("1234");
  platform::fault::FailNthCall("CryptProtectData", 2);
  EXPECT_FALSE(store.Save());
  EXPECT_EQ(ReadBytes(work / "SecStorage.ini"), "Old=I 1\r\n");
  EXPECT_EQ(store.Synced, 0);
  EXPECT_EQ(store.Loaded, 0);
  EXPECT_EQ(store.Modified, 1);
  // The user name's block did succeed: it is in the options in memory.
  int32_t size = 0;
  EXPECT_NE(store.Options->GetBinary("UN", &size), nullptr);
  EXPECT_EQ(store.Options->GetBinary("PS", &size), nullptr);
}

TEST_F(MachineKey, StoreSaveFailsWhenTheFileCannotBeWritten) {
  TempDir work(true);
  CSecureStore store;
  store.SetUser("admin");
  platform::fault::FailOnPath("CreateFileA", "SecStorage.ini");
  EXPECT_FALSE(store.Save());
  EXPECT_EQ(store.Synced, 0);
  EXPECT_EQ(store.Modified, 1);
  platform::fault::Reset();
  platform::fault::FailNthCall("WriteFile", 2);
  EXPECT_FALSE(store.Save());
  EXPECT_EQ(store.Loaded, 0);
  ASSERT_TRUE(store.Save());
  EXPECT_EQ(store.Synced, 1);
  EXPECT_EQ(store.Loaded, 1);
}

}  // namespace

namespace {

TEST_F(MachineKey, SecurityFileWriteReportsAFileNotWritten) {
  TempDir work(true);
  SecretIni secret("SecurInf.cfg", SecretIni::Blank{});
  platform::fault::FailOnPath("CreateFileA", "SecurInf.cfg");
  EXPECT_EQ(secret.Write(), -1);
  EXPECT_FALSE(std::filesystem::exists(work / "SecurInf.cfg"));
  platform::fault::Reset();

  // A write that fails leaves no saved credential store behind it.
  platform::fault::FailNthCall("WriteFile", 1);
  EXPECT_EQ(secret.Write(), -1);
  EXPECT_FALSE(std::filesystem::exists(work / "SecStorage.ini"));

  // The credential store that cannot be saved is answered by 0; the
  // security file itself is written.
  platform::fault::FailOnPath("CreateFileA", "SecStorage.ini");
  EXPECT_EQ(secret.Write(), 0);
  EXPECT_EQ(ReadBytes(work / "SecurInf.cfg").size(), 1440u);
  platform::fault::Reset();
  EXPECT_EQ(secret.Write(), 1);
  EXPECT_TRUE(std::filesystem::exists(work / "SecStorage.ini"));
}

}  // namespace
