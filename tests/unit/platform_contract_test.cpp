// What the logic relies on from the file, search and mutex calls. These
// tests run on both targets: on Windows (under Wine) they check our reading
// of the system's behaviour, on Linux that the platform layer keeps to it.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/win32.h"
#include "support/temp_dir.h"

using testing_support::ReadBytes;
using testing_support::TempDir;
using testing_support::WriteBytes;

namespace {

const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE;

HANDLE Open(const std::string& path, DWORD access, DWORD share, DWORD disposition) {
  return CreateFileA(path.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

TEST(Files, DispositionsCreateTruncateAndReportExistingFiles) {
  TempDir dir;
  std::string path = dir / "a.bin";

  EXPECT_EQ(Open(path, GENERIC_READ, kShareAll, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Open(dir / "missing/a.bin", GENERIC_READ, kShareAll, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);

  HANDLE h = Open(path, GENERIC_WRITE, 0, CREATE_NEW);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  EXPECT_TRUE(WriteFile(h, "hello", 5, &written, nullptr));
  EXPECT_EQ(written, 5u);
  CloseHandle(h);

  EXPECT_EQ(Open(path, GENERIC_WRITE, 0, CREATE_NEW), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);

  h = Open(path, GENERIC_READ, kShareAll, OPEN_ALWAYS);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  CloseHandle(h);
  EXPECT_EQ(ReadBytes(path), "hello");

  h = Open(path, GENERIC_WRITE, 0, CREATE_ALWAYS);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  CloseHandle(h);
  EXPECT_EQ(ReadBytes(path), "");

  h = Open(dir / "new.bin", GENERIC_WRITE, 0, OPEN_ALWAYS);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  CloseHandle(h);

  // A directory is not a file.
  EXPECT_EQ(Open(dir.Path().string(), GENERIC_READ, kShareAll, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

TEST(Files, SharingDecidesWhetherASecondOpenSucceeds) {
  TempDir dir;
  std::string path = dir / "shared.bin";
  WriteBytes(path, "content");

  struct Case {
    DWORD firstAccess, firstShare, secondAccess, secondShare;
    bool secondOpens;
  };
  const Case cases[] = {
      {GENERIC_READ, FILE_SHARE_READ, GENERIC_READ, FILE_SHARE_READ, true},
      {GENERIC_READ, FILE_SHARE_READ, GENERIC_WRITE, kShareAll, false},
      {GENERIC_READ, 0, GENERIC_READ, kShareAll, false},
      {GENERIC_READ | GENERIC_WRITE, kShareAll, GENERIC_READ | GENERIC_WRITE, kShareAll, true},
      {GENERIC_WRITE, kShareAll, GENERIC_READ, FILE_SHARE_READ, false},
      {GENERIC_READ, FILE_SHARE_READ, GENERIC_READ, 0, false},
  };
  for (const Case& c : cases) {
    HANDLE first = Open(path, c.firstAccess, c.firstShare, OPEN_EXISTING);
    ASSERT_NE(first, INVALID_HANDLE_VALUE);
    HANDLE second = Open(path, c.secondAccess, c.secondShare, OPEN_EXISTING);
    EXPECT_EQ(second != INVALID_HANDLE_VALUE, c.secondOpens);
    if (second != INVALID_HANDLE_VALUE) {
      CloseHandle(second);
    } else {
      EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    }
    CloseHandle(first);
  }
  // A refused CREATE_ALWAYS leaves the content alone.
  HANDLE first = Open(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  EXPECT_EQ(Open(path, GENERIC_WRITE, kShareAll, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
  CloseHandle(first);
  EXPECT_EQ(ReadBytes(path), "content");
}

TEST(Files, PointerSizeAndEndOfFile) {
  TempDir dir;
  std::string path = dir / "f.bin";
  HANDLE h = Open(path, GENERIC_READ | GENERIC_WRITE, 0, CREATE_ALWAYS);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD done = 0;
  ASSERT_TRUE(WriteFile(h, "0123456789", 10, &done, nullptr));

  EXPECT_EQ(SetFilePointer(h, -3, nullptr, FILE_END), 7u);
  char buffer[16] = {};
  EXPECT_TRUE(ReadFile(h, buffer, sizeof buffer, &done, nullptr));
  EXPECT_EQ(done, 3u);
  EXPECT_EQ(std::string(buffer, done), "789");
  // Reading at the end succeeds with nothing read.
  EXPECT_TRUE(ReadFile(h, buffer, sizeof buffer, &done, nullptr));
  EXPECT_EQ(done, 0u);

  EXPECT_EQ(SetFilePointer(h, -20, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), ERROR_NEGATIVE_SEEK);

  // Lengthen past the end, then shorten.
  EXPECT_EQ(SetFilePointer(h, 100000, nullptr, FILE_BEGIN), 100000u);
  EXPECT_TRUE(SetEndOfFile(h));
  DWORD high = 1;
  EXPECT_EQ(GetFileSize(h, &high), 100000u);
  EXPECT_EQ(high, 0u);
  EXPECT_EQ(SetFilePointer(h, 4, nullptr, FILE_BEGIN), 4u);
  EXPECT_TRUE(SetEndOfFile(h));
  EXPECT_EQ(GetFileSize(h, nullptr), 4u);

  // A 64-bit position through the high part.
  LONG moveHigh = 1;
  EXPECT_EQ(SetFilePointer(h, 16, &moveHigh, FILE_BEGIN), 16u);
  EXPECT_EQ(moveHigh, 1);
  EXPECT_TRUE(SetEndOfFile(h));
  EXPECT_EQ(GetFileSize(h, &high), 16u);
  EXPECT_EQ(high, 1u);
  EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_BEGIN), 0u);
  EXPECT_TRUE(SetEndOfFile(h));
  CloseHandle(h);

  // Without the matching access, reading and writing fail.
  h = Open(path, GENERIC_READ, kShareAll, OPEN_EXISTING);
  EXPECT_FALSE(WriteFile(h, "x", 1, &done, nullptr));
  CloseHandle(h);
  h = Open(path, GENERIC_WRITE, kShareAll, OPEN_EXISTING);
  EXPECT_FALSE(ReadFile(h, buffer, 1, &done, nullptr));
  CloseHandle(h);
}

TEST(Files, DeleteAndCopy) {
  TempDir dir;
  std::string a = dir / "a.idx";
  std::string b = dir / "b.idx";
  WriteBytes(a, "volume");

  EXPECT_TRUE(CopyFileA(a.c_str(), b.c_str(), TRUE));
  EXPECT_EQ(ReadBytes(b), "volume");
  EXPECT_FALSE(CopyFileA(a.c_str(), b.c_str(), TRUE));
  EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
  WriteBytes(a, "other");
  EXPECT_TRUE(CopyFileA(a.c_str(), b.c_str(), FALSE));
  EXPECT_EQ(ReadBytes(b), "other");
  EXPECT_FALSE(CopyFileA((dir / "none").c_str(), b.c_str(), FALSE));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);

  // An open handle that does not share deletion keeps the file.
  HANDLE h = Open(a, GENERIC_READ, kShareAll, OPEN_EXISTING);
  EXPECT_FALSE(DeleteFileA(a.c_str()));
  CloseHandle(h);
  EXPECT_TRUE(DeleteFileA(a.c_str()));
  EXPECT_FALSE(DeleteFileA(a.c_str()));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(DeleteFileA(dir.Path().string().c_str()));
}

std::vector<std::string> Find(const std::string& pattern) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA(pattern.c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    names.push_back(data.cFileName);
  } while (FindNextFileA(find, &data));
  EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
  FindClose(find);
  std::sort(names.begin(), names.end());
  return names;
}

TEST(DirectorySearch, WindowsWildcardRules) {
  TempDir dir;
  for (const char* name : {"Ch0Vol1.idx", "Ch0Vol12.wdb", "Ch10Vol1.idx", "ch0vol7.IDX", "noext", "a.b.c"})
    WriteBytes(dir / name, "x");
  std::filesystem::create_directory(dir.Path() / "reserv");

  using Names = std::vector<std::string>;
  EXPECT_EQ(Find(dir / "Ch0Vol*.idx"), (Names{"Ch0Vol1.idx", "ch0vol7.IDX"}));
  EXPECT_EQ(Find(dir / "Ch0Vol?.*"), (Names{"Ch0Vol1.idx", "ch0vol7.IDX"}));
  EXPECT_EQ(Find(dir / "Ch?Vol1.idx"), (Names{"Ch0Vol1.idx"}));
  EXPECT_EQ(Find(dir / "*.*"),
            (Names{".", "..", "Ch0Vol1.idx", "Ch0Vol12.wdb", "Ch10Vol1.idx", "a.b.c", "ch0vol7.IDX", "noext", "reserv"}));
  EXPECT_EQ(Find(dir / "*.c"), (Names{"a.b.c"}));
  EXPECT_EQ(Find(dir / "noext.*"), (Names{"noext"}));
  EXPECT_EQ(Find(dir / "Ch10Vol1.idx"), (Names{"Ch10Vol1.idx"}));

  WIN32_FIND_DATAA data;
  EXPECT_EQ(FindFirstFileA((dir / "*.edx").c_str(), &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(FindFirstFileA((dir / "missing\\*.*").c_str(), &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);

  // Attributes and sizes come with the names; backslashes separate too.
  WriteBytes(dir / "sized.edb", std::string(70000, 'e'));
  HANDLE find = FindFirstFileA((dir.Path().string() + "\\sized.edb").c_str(), &data);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  EXPECT_EQ(data.nFileSizeLow, 70000u);
  EXPECT_EQ(data.nFileSizeHigh, 0u);
  EXPECT_FALSE(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
  FindClose(find);
  find = FindFirstFileA((dir / "reserv").c_str(), &data);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
  FindClose(find);
}

TEST(CurrentDirectory, SizeProtocol) {
  TempDir dir(true);
  DWORD needed = GetCurrentDirectoryA(0, nullptr);
  ASSERT_GT(needed, 1u);
  std::string buffer(needed, '\0');
  EXPECT_EQ(GetCurrentDirectoryA(needed, &buffer[0]), needed - 1);
  EXPECT_EQ(GetCurrentDirectoryA(needed - 1, &buffer[0]), needed);
}

TEST(NamedMutex, SecondCreationFindsTheNameTaken) {
  const char name[] = "Global\\Velmora unit test mutex";
  HANDLE first = CreateMutexA(nullptr, FALSE, name);
  ASSERT_NE(first, nullptr);
  EXPECT_NE(GetLastError(), ERROR_ALREADY_EXISTS);
  HANDLE second = CreateMutexA(nullptr, FALSE, name);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  CloseHandle(second);
  CloseHandle(first);
  HANDLE third = CreateMutexA(nullptr, FALSE, name);
  ASSERT_NE(third, nullptr);
  EXPECT_NE(GetLastError(), ERROR_ALREADY_EXISTS);
  CloseHandle(third);
}

}  // namespace
