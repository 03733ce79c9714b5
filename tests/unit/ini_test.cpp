#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "config/simple_ini.h"
#include "support/temp_dir.h"

using testing_support::TempDir;
using testing_support::WriteBytes;

namespace {

struct LineCase {
  const char* line;
  const char* key;
  bool matches;
  int32_t number;
  const char* string;
};

// Each line as fgets gives it (with its line feed), against one key.
const LineCase kLineCases[] = {
    {"Channels=16\n", "Channels", true, 16, ""},
    {"Channels = 16 ; sixteen\n", "Channels", true, 16, ""},
    {"Channels=\"16\"\n", "Channels", true, 0, "16"},
    {"MainLogFile=\"D:\\Logs\\Main Log.txt\"\n", "MainLogFile", true, 0, "D:\\Logs\\Main Log.txt"},
    {"mainlogfile = \"D:\\Logs\\x.log\"\n", "MainLogFile", true, 0, "D:\\Logs\\x.log"},
    {"MainLogFile=D:\\Logs\\x.log\n", "MainLogFile", true, 0, ""},
    {"MainLogFile=\"D:\\Logs;x.log\"\n", "MainLogFile", false, 0, ""},
    // Letter case and blanks in the key, blanks inside a number.
    {"CHANNELS=4\n", "channels", true, 4, ""},
    {"Main Log\tFile = \"a b\"\n", "MainLogFile", true, 0, "a b"},
    {"Channels = 1 2\n", "Channels", true, 12, ""},
    // Blanks after the opening quote stay; text around the quotes is ignored.
    {"MainLogFile=x\"  A b  \"tail\n", "MainLogFile", true, 0, "  A b  "},
    // A longer key that begins with the one looked up.
    {"Channels2=5\n", "Channels", false, 0, ""},
    {"ChannelPath[10]=\"C:\\x\"\n", "ChannelPath[1]", false, 0, ""},
    // Comments, empty lines, section headers.
    {";Channels=5\n", "Channels", false, 0, ""},
    {"\n", "Channels", false, 0, ""},
    {"[Main]\n", "Channels", false, 0, ""},
    // An empty value is a number value.
    {"Channels=\n", "Channels", true, 0, ""},
    // No equals sign right after the key.
    {"Channels 16\n", "Channels", false, 0, ""},
    {"Channels:=16\n", "Channels", false, 0, ""},
    // An opening quote without a closing one.
    {"MainLogFile=\"abc\n", "MainLogFile", false, 0, ""},
    // Numbers the way strtol reads them, clamped to 32 bits.
    {"Channels=-7x\n", "Channels", true, -7, ""},
    {"Channels=abc\n", "Channels", true, 0, ""},
    {"Channels=99999999999\n", "Channels", true, 2147483647, ""},
    {"Channels=-99999999999\n", "Channels", true, -2147483647 - 1, ""},
    // Cyrillic letters in a key are compared exactly.
    {"\xCA\xE0\xED\xE0\xEB=3\n", "\xCA\xE0\xED\xE0\xEB", true, 3, ""},
    {"\xEA\xE0\xED\xE0\xEB=3\n", "\xCA\xE0\xED\xE0\xEB", false, 0, ""},
    // A carriage return before the line feed changes nothing.
    {"Channels=16\r\n", "Channels", true, 16, ""},
    {"MainLogFile=\"x.log\"\r\n", "MainLogFile", true, 0, "x.log"},
};

class IniLine : public ::testing::TestWithParam<LineCase> {};

TEST_P(IniLine, ParsesAsTheReaderRulesSay) {
  const LineCase& c = GetParam();
  CSimpleIni::Value value;
  value.Number = 12345;
  ASSERT_EQ(CSimpleIni::ParseLine(c.line, c.key, &value), c.matches) << c.line;
  if (c.matches) {
    EXPECT_EQ(value.Number, c.number) << c.line;
    EXPECT_STREQ(value.String, c.string) << c.line;
  }
}

INSTANTIATE_TEST_SUITE_P(Table, IniLine, ::testing::ValuesIn(kLineCases));

TEST(IniFile, LookupsFollowTheFirstMatchingLine) {
  TempDir dir;
  std::string path = dir / "korvo.ini";
  WriteBytes(path,
             "; recorder settings\r\n"
             "[Main]\r\n"
             "Channels2=9\r\n"
             "Channels=3\r\n"
             "Channels=7\r\n"
             "MainLogFile=\"D:\\Logs;x.log\"\r\n"
             "MainLogFile=\"C:\\Log\\main.log\"\r\n"
             "MainLogFile=\"second.log\"\r\n"
             "ChannelPath[0]=\"C:\\Rec\\Ch0\"\r\n");
  Ini ini(path.c_str());
  EXPECT_EQ(ini.GetInt("Channels"), 3);
  EXPECT_EQ(ini.GetInt("channels2"), 9);

  char buffer[260];
  EXPECT_EQ(ini.GetString("MainLogFile", buffer, sizeof buffer), 15);
  EXPECT_STREQ(buffer, "C:\\Log\\main.log");

  // A string value has the number 0, a number value the empty string.
  EXPECT_EQ(ini.GetInt("MainLogFile"), 0);
  std::strcpy(buffer, "stale");
  EXPECT_EQ(ini.GetString("Channels", buffer, sizeof buffer), 0);
  EXPECT_STREQ(buffer, "");

  // Cut to size - 1 characters; the length returned is that of the cut text.
  char small[5];
  EXPECT_EQ(ini.GetString("ChannelPath[0]", small, sizeof small), 4);
  EXPECT_STREQ(small, "C:\\R");

  std::strcpy(buffer, "stale");
  EXPECT_EQ(ini.GetString("ChannelPath[1]", buffer, sizeof buffer), 0);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(ini.GetInt("Missing"), 0);
}

TEST(IniFile, MissingFileIsNotFound) {
  TempDir dir;
  Ini ini((dir / "korvo.ini").c_str());
  char buffer[16] = "stale";
  EXPECT_EQ(ini.GetInt("Channels"), 0);
  EXPECT_EQ(ini.GetString("MainLogFile", buffer, sizeof buffer), 0);
  EXPECT_STREQ(buffer, "");
}

TEST(IniFile, RelativeNameIsTakenFromTheCurrentDirectoryAtEachLookup) {
  Ini ini("korvo.ini");
  {
    TempDir first(true);
    WriteBytes("korvo.ini", "Channels=2\n");
    EXPECT_EQ(ini.GetInt("Channels"), 2);
  }
  {
    TempDir second(true);
    WriteBytes("korvo.ini", "Channels=5\n");
    EXPECT_EQ(ini.GetInt("Channels"), 5);
  }
}

TEST(IniFile, LongLinesAreReadInPiecesWithoutHarm) {
  TempDir dir;
  std::string path = dir / "korvo.ini";
  // A 600-character line is read as three lines; none of its pieces starts
  // with the key, and the key on the next line is still found.
  WriteBytes(path, "X=" + std::string(598, 'a') + "\nChannels=4\nMainLogFile=\"" + std::string(400, 'b') + "\"\n");
  Ini ini(path.c_str());
  EXPECT_EQ(ini.GetInt("Channels"), 4);
  char buffer[260];
  // The value does not end within the line's first 259 characters: the
  // reader must stay within its buffers, whatever it returns.
  int32_t length = ini.GetString("MainLogFile", buffer, sizeof buffer);
  EXPECT_EQ(static_cast<size_t>(length), std::strlen(buffer));
  EXPECT_LT(length, 260);
}

}  // namespace
