// The POSIX platform layer's own seams and guarantees: fault injection,
// real allocation of lengthened files, named mutexes across processes, the
// text conversion of the front ends.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/fault.h"
#include "platform/frontend.h"
#include "platform/win32.h"
#include "support/temp_dir.h"

using testing_support::ReadBytes;
using testing_support::TempDir;
using testing_support::WriteBytes;

namespace {

class FaultInjection : public ::testing::Test {
 protected:
  void TearDown() override { platform::fault::Reset(); }
};

TEST_F(FaultInjection, NthCallFailsOnceWithTheErrorGiven) {
  TempDir dir;
  std::string path = dir / "x.bin";
  platform::fault::Reset();
  platform::fault::FailNthCall("WriteFile", 2, ERROR_DISK_FULL);
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD done = 7;
  EXPECT_TRUE(WriteFile(h, "a", 1, &done, nullptr));
  EXPECT_FALSE(WriteFile(h, "b", 1, &done, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_DISK_FULL);
  EXPECT_EQ(done, 0u);
  EXPECT_TRUE(WriteFile(h, "c", 1, &done, nullptr));
  CloseHandle(h);
  EXPECT_EQ(ReadBytes(path), "ac");
  EXPECT_EQ(platform::fault::CallCount("WriteFile"), 3);
}

TEST_F(FaultInjection, PathRuleFailsEveryCallOnThatFileOnly) {
  TempDir dir;
  WriteBytes(dir / "ChannelInform.Chd", "info");
  WriteBytes(dir / "OtherChannelInform.Chd", "info");
  platform::fault::FailOnPath("CreateFileA", "ChannelInform.Chd");
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(CreateFileA((dir / "ChannelInform.Chd").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                          0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  }
  // A name that merely ends the same way is another file.
  HANDLE other = CreateFileA((dir / "OtherChannelInform.Chd").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                             OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(other, INVALID_HANDLE_VALUE);
  CloseHandle(other);

  // Calls on an open handle are matched by the handle's path; backslashes
  // in the rule are mapped like any path.
  platform::fault::Reset();
  platform::fault::FailOnPath("", dir.Path().string() + "\\data.bin", ERROR_READ_FAULT);
  WriteBytes(dir / "data.bin", "abc");
  EXPECT_FALSE(DeleteFileA((dir / "data.bin").c_str()));
  EXPECT_EQ(GetLastError(), ERROR_READ_FAULT);
}

TEST(Allocation, LengthenedFileHoldsItsSpace) {
  TempDir dir;
  std::string path = dir / "Reserv0";
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  const LONG size = 64 * 1024 * 1024;
  ASSERT_EQ(SetFilePointer(h, size, nullptr, FILE_BEGIN), static_cast<DWORD>(size));
  ASSERT_TRUE(SetEndOfFile(h));
  CloseHandle(h);
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_size, size);
  // Allocated blocks, not a sparse hole (where the file system allocates).
  EXPECT_GE(static_cast<long long>(st.st_blocks) * 512, static_cast<long long>(size));
}

TEST(NamedMutexAcrossProcesses, NameIsFreedWhenTheHolderDiesEvenByAKill) {
  TempDir dir;
  setenv("VELMORA_MUTEX_DIR", dir.Path().c_str(), 1);
  const char name[] = "Global\\Korvo - Guard Program, Started indicator for application Korvo";
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t child = fork();
  if (child == 0) {
    HANDLE held = CreateMutexA(nullptr, FALSE, name);
    char result = (held && GetLastError() != ERROR_ALREADY_EXISTS) ? 'h' : 'x';
    if (write(ready[1], &result, 1) != 1) _exit(1);
    pause();
    _exit(0);
  }
  char result = 0;
  ASSERT_EQ(read(ready[0], &result, 1), 1);
  EXPECT_EQ(result, 'h');

  HANDLE probe = CreateMutexA(nullptr, FALSE, name);
  ASSERT_NE(probe, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  CloseHandle(probe);

  kill(child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
  HANDLE after = CreateMutexA(nullptr, FALSE, name);
  ASSERT_NE(after, nullptr);
  EXPECT_NE(GetLastError(), ERROR_ALREADY_EXISTS);
  CloseHandle(after);
  unsetenv("VELMORA_MUTEX_DIR");
  close(ready[0]);
  close(ready[1]);
}

TEST(Handles, StaleAndForeignHandlesAreRefused) {
  TempDir dir;
  HANDLE h = CreateFileA((dir / "a").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_TRUE(CloseHandle(h));
  DWORD done;
  EXPECT_FALSE(WriteFile(h, "x", 1, &done, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(CloseHandle(h));
  int local = 0;
  EXPECT_FALSE(CloseHandle(&local));
  EXPECT_FALSE(FindClose(INVALID_HANDLE_VALUE));
}

TEST(Cp1251, ConvertsBothWaysAndMarksWhatItCannot) {
  using platform::ui::Cp1251ToUtf8;
  using platform::ui::Utf8ToCp1251;
  // Every byte but the one unassigned (0x98) survives the round trip.
  std::string all;
  for (int c = 1; c < 256; ++c) {
    if (c != 0x98) all += static_cast<char>(c);
  }
  EXPECT_EQ(Utf8ToCp1251(Cp1251ToUtf8(all)), all);
  EXPECT_EQ(Cp1251ToUtf8("\xCE\xF8\xE8\xE1\xEA\xE0 \xB9"), "\xD0\x9E\xD1\x88\xD0\xB8\xD0\xB1\xD0\xBA\xD0\xB0 \xE2\x84\x96");
  EXPECT_EQ(Utf8ToCp1251("\xE4\xB8\xAD x"), "? x");         // a character outside the code page
  EXPECT_EQ(Utf8ToCp1251("\xD0"), "?");                     // a cut sequence
}

TEST(ScriptedFrontEnd, AnswersFromTheScriptAndRecordsEveryBox) {
  platform::ui::ScriptedFrontEnd frontEnd({"box YES"});
  platform::ui::SetCurrent(&frontEnd);
  EXPECT_EQ(MessageBoxA(nullptr, "text\tone", "caption", MB_YESNO | MB_ICONWARNING), IDYES);
  // With the script used up a box gets the answer closing it would give.
  EXPECT_EQ(MessageBoxA(nullptr, "again", "caption", MB_YESNO | MB_ICONWARNING), IDNO);
  EXPECT_EQ(MessageBoxA(nullptr, "info", "c", MB_ICONINFORMATION | MB_TASKMODAL), IDOK);
  platform::ui::SetCurrent(nullptr);
  ASSERT_EQ(frontEnd.Boxes().size(), 3u);
  EXPECT_EQ(platform::ui::TranscriptLine(frontEnd.Boxes()[0]), "box\tcaption\ttext\\tone\tYESNO\twarning\tapp\tYES\n");
  EXPECT_EQ(platform::ui::TranscriptLine(frontEnd.Boxes()[2]), "box\tc\tinfo\tOK\tinformation\ttask\tOK\n");
}

TEST(TerminalFrontEnd, ShowsUtf8AndReadsAnswersLineByLine) {
  TempDir dir;
  WriteBytes(dir / "in.txt", "maybe\n\xD0\xB4\xD0\xB0\nn\n");
  FILE* in = std::fopen((dir / "in.txt").c_str(), "r");
  FILE* out = std::fopen((dir / "out.txt").c_str(), "w");
  platform::ui::TerminalFrontEnd terminal(in, out);
  // "maybe" is asked again; "да" is yes; then "n" is no; then end of input is no.
  EXPECT_EQ(terminal.ShowMessageBox(nullptr, "\xC2\xED\xE8\xEC\xE0\xED\xE8\xE5", "t", MB_YESNO), IDYES);
  EXPECT_EQ(terminal.ShowMessageBox(nullptr, "q", "t", MB_YESNO), IDNO);
  EXPECT_EQ(terminal.ShowMessageBox(nullptr, "q", "t", MB_YESNO), IDNO);
  EXPECT_EQ(terminal.ShowMessageBox(nullptr, "q", "t", MB_OK), IDOK);
  std::fclose(in);
  std::fclose(out);
  EXPECT_NE(ReadBytes(dir / "out.txt").find("\xD0\x92\xD0\xBD\xD0\xB8\xD0\xBC\xD0\xB0\xD0\xBD\xD0\xB8\xD0\xB5"),
            std::string::npos);
}

}  // namespace
