#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "config/simple_log.h"
#include "support/temp_dir.h"

using testing_support::ReadBytes;
using testing_support::TempDir;
using testing_support::WriteBytes;

namespace {

const std::regex kStamp(R"(\[\d\d-\d\d-\d{4}  \d\d:\d\d\.\d\d\]\.\.\d{3}\]  )");

// The texts of the lines, with their time stamps checked and removed.
std::vector<std::string> Texts(const std::string& content) {
  std::vector<std::string> texts;
  size_t at = 0;
  while (at < content.size()) {
    size_t end = content.find("\r\n", at);
    EXPECT_NE(end, std::string::npos) << "line without CR LF";
    if (end == std::string::npos) break;
    std::string line = content.substr(at, end - at);
    std::smatch stamp;
    EXPECT_TRUE(std::regex_search(line, stamp, kStamp, std::regex_constants::match_continuous)) << line;
    texts.push_back(stamp.empty() ? line : line.substr(stamp.length()));
    at = end + 2;
  }
  return texts;
}

TEST(EventLog, CreatesThenAppendsAfterExistingContent) {
  TempDir dir;
  std::string path = dir / "Vastel.log";
  {
    CSimpleLog log(path.c_str());
    EXPECT_TRUE(log.Write("first"));
    EXPECT_TRUE(log.Write("second"));
  }
  EXPECT_EQ(Texts(ReadBytes(path)), (std::vector<std::string>{"first", "second"}));

  // Content written by others stays; new lines come after it.
  WriteBytes(path, ReadBytes(path) + "foreign line\r\n");
  CSimpleLog again(path.c_str());
  EXPECT_TRUE(again.Write("third"));
  std::string content = ReadBytes(path);
  EXPECT_NE(content.find("foreign line\r\n["), std::string::npos);
  EXPECT_EQ(content.substr(content.size() - 7), "third\r\n");
}

TEST(EventLog, CyrillicTextIsWrittenByteForByte) {
  TempDir dir;
  std::string path = dir / "log.txt";
  CSimpleLog log(path.c_str());
  // Compiled as Windows-1251: these are the bytes the file must hold.
  const char text[] = "Попытка запуска утилиты очистки БД Vastel.exe";
  ASSERT_EQ(static_cast<unsigned char>(text[0]), 0xCF);
  EXPECT_TRUE(log.Write(text));
  EXPECT_EQ(Texts(ReadBytes(path)), std::vector<std::string>{text});
}

TEST(EventLog, MissingDirectoryLosesTheLineAndNothingElse) {
  TempDir dir;
  std::string path = dir / "no-such-dir/Vastel.log";
  CSimpleLog log(path.c_str());
  EXPECT_FALSE(log.Write("lost"));
  EXPECT_FALSE(log.Write("lost again"));
  EXPECT_FALSE(std::filesystem::exists(dir.Path() / "no-such-dir"));
  // The same log works once the directory is there.
  std::filesystem::create_directory(dir.Path() / "no-such-dir");
  EXPECT_TRUE(log.Write("kept"));
  EXPECT_EQ(Texts(ReadBytes(path)), std::vector<std::string>{"kept"});
}

TEST(EventLog, DisabledLogWritesNothingAndReportsSuccess) {
  TempDir dir;
  std::string path = dir / "Vastel.log";
  CSimpleLog log(path.c_str());
  log.Enabled = 0;
  EXPECT_TRUE(log.Write("nothing"));
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(EventLog, OverlongTextIsCutAndTheLineStillEnds) {
  TempDir dir;
  std::string path = dir / "Vastel.log";
  CSimpleLog log(path.c_str());
  EXPECT_TRUE(log.Write(std::string(1000, 'x').c_str()));
  std::vector<std::string> texts = Texts(ReadBytes(path));
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0], std::string(319, 'x'));
}

TEST(EventLog, WritesBesideAnotherHandleThatSharesTheFile) {
  TempDir dir;
  std::string path = dir / "main.log";
  // The recorder may keep its main log open with read and write sharing.
  HANDLE held = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  CSimpleLog log(path.c_str());
  EXPECT_TRUE(log.Write("shared"));
  CloseHandle(held);
  // A handle that shares nothing keeps the log out; the next line gets in.
  HANDLE exclusive =
      CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(exclusive, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(log.Write("refused"));
  CloseHandle(exclusive);
  EXPECT_TRUE(log.Write("again"));
  EXPECT_EQ(Texts(ReadBytes(path)), (std::vector<std::string>{"shared", "again"}));
}

}  // namespace
