// The channel list: the keys read, the identity of a channel and
// its display name.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "config/channel_list.h"
#include "config/simple_ini.h"
#include "database_fixture.h"
#include "support/temp_dir.h"

using testing_support::TempDir;
using testing_support::WriteBytes;

namespace {

// An INI file with the given lines (CR LF), and the list read from it.
struct ListFixture {
  explicit ListFixture(const std::string& lines) : ini((dir / "korvo.ini").c_str()) {
    WriteBytes(dir / "korvo.ini", lines);
  }
  TempDir dir;
  Ini ini;
};

std::string Key(int i, const std::string& value) { return "ChannelPath[" + std::to_string(i) + "]=" + value + "\r\n"; }

TEST(ChannelList, TheUnbrokenRunOfKeysFromZero) {
  // Keys 0, 1, 2 and 4: the gap at 3 ends the list.
  std::string lines = "Channels=16\r\n";
  for (int i : {0, 1, 2, 4}) lines += Key(i, "\"D:\\Rec\\Ch" + std::to_string(i) + "\\\"");
  ListFixture f(lines);
  GlobalBufferInformation list(&f.ini);
  EXPECT_EQ(list.Capacity, 32);
  ASSERT_EQ(list.GetCount(), 3);
  for (int i = 0; i < 3; ++i) {
    ASSERT_NE(list.ChannelArray[i], nullptr);
    EXPECT_EQ(list.ChannelArray[i]->Index, i);
    EXPECT_STREQ(list.ChannelArray[i]->ChannelDir, ("D:\\Rec\\Ch" + std::to_string(i) + "\\").c_str());
  }
  for (int i = 3; i < 32; ++i) EXPECT_EQ(list.ChannelArray[i], nullptr) << i;
}

TEST(ChannelList, AtMostThirtyTwoChannels) {
  // 33 keys: index 32 is never read; "Channels" plays no part.
  std::string lines = "Channels=2\r\n";
  for (int i = 0; i <= 32; ++i) lines += Key(i, "\"C:\\R" + std::to_string(i) + "\\\"");
  ListFixture f(lines);
  GlobalBufferInformation list(&f.ini);
  ASSERT_EQ(list.GetCount(), 32);
  EXPECT_STREQ(list.ChannelArray[31]->FilePrefix, "Ch31");
  EXPECT_STREQ(list.ChannelArray[31]->ChannelDir, "C:\\R31\\");
}

TEST(ChannelList, AnEmptyMissingOrUnquotedFirstValueGivesNoChannel) {
  for (const char* first : {"ChannelPath[0]=\"\"\r\n", "ChannelPath[0]=C:\\R0\\\r\n", "Other=1\r\n"}) {
    ListFixture f(std::string("Channels=3\r\n") + first + Key(1, "\"C:\\R1\\\""));
    GlobalBufferInformation list(&f.ini);
    EXPECT_EQ(list.GetCount(), 0) << first;
    for (int i = 0; i < 32; ++i) EXPECT_EQ(list.ChannelArray[i], nullptr);
  }
  // No INI file at all.
  TempDir dir;
  Ini missing((dir / "korvo.ini").c_str());
  GlobalBufferInformation list(&missing);
  EXPECT_EQ(list.GetCount(), 0);
}

TEST(Channel, IdentityByPlainConcatenation) {
  CSaverZaglushka withSeparator("D:\\Rec\\Ch1\\", 0);
  EXPECT_STREQ(withSeparator.ChannelDir, "D:\\Rec\\Ch1\\");
  EXPECT_STREQ(withSeparator.ExtDir, "D:\\Rec\\Ch1\\Ext\\");
  EXPECT_STREQ(withSeparator.FilePrefix, "Ch0");
  EXPECT_EQ(withSeparator.Index, 0);

  CSaverZaglushka without("D:\\Rec\\Ch1", 10);
  EXPECT_STREQ(without.ExtDir, "D:\\Rec\\Ch1Ext\\");
  EXPECT_STREQ(without.FilePrefix, "Ch10");

  // A configured directory is kept to 259 characters.
  std::string longDir(300, 'd');
  CSaverZaglushka cut(longDir.c_str(), 3);
  EXPECT_EQ(std::strlen(cut.ChannelDir), 259u);
  EXPECT_EQ(std::strlen(cut.ExtDir), 259u);
}

struct NameCase {
  const char* what;
  bool present;
  std::string content;
  int32_t index;
  std::string expected;
};

TEST(Channel, DisplayNameFromNameChd) {
  std::string long150;
  for (int i = 0; i < 150; ++i) long150 += static_cast<char>('A' + i % 26);
  const NameCase cases[] = {
      {"missing", false, "", 0, "Канал №1"},
      {"missing, index 15", false, "", 15, "Канал №16"},
      {"empty", true, "", 2, "Канал №3"},
      {"plain", true, "Студия 1", 0, "Студия 1"},
      {"line end kept", true, "Студия\r\n", 0, "Студия\r\n"},
      {"blanks kept", true, "  a b  ", 0, "  a b  "},
      {"150 bytes", true, long150, 0, long150.substr(0, 99)},
      {"zero byte ends it", true, std::string("ab\0cd", 5), 0, "ab"},
      {"zero byte first", true, std::string("\0cd", 3), 0, ""},
  };
  for (const NameCase& c : cases) {
    TempDir dir;
    if (c.present) WriteBytes(dir / "Name.Chd", c.content);
    CSaverZaglushka channel(dbtest::Configured(dir.Path()).c_str(), c.index);
    EXPECT_EQ(std::string(channel.DisplayName), c.expected) << c.what;
    char buffer[100];
    std::memset(buffer, 'z', sizeof buffer);
    channel.GetDisplayName(buffer, sizeof buffer);
    EXPECT_EQ(std::string(buffer), c.expected) << c.what;
    EXPECT_EQ(buffer[99], '\0');
  }
}

TEST(Channel, NameFileFoundWithoutTrailingSeparator) {
  TempDir dir;
  WriteBytes(dir / "Name.Chd", "Эфир");
  CSaverZaglushka channel(dir.Path().string().c_str(), 0);
  EXPECT_STREQ(channel.DisplayName, "Эфир");
  EXPECT_EQ(std::string(channel.ExtDir), dir.Path().string() + "Ext\\");
}

TEST(Channel, GetDisplayNameCutsToTheBuffer) {
  CSaverZaglushka channel("Z:\\nowhere\\", 0);  // Канал №1
  char small[5];
  std::memset(small, 'z', sizeof small);
  channel.GetDisplayName(small, sizeof small);
  EXPECT_EQ(std::string(small), "Кана");
  char tail[12];
  std::memset(tail, 'z', sizeof tail);
  channel.GetDisplayName(tail, sizeof tail);
  EXPECT_EQ(std::string(tail), "Канал №1");
  for (size_t i = 8; i < sizeof tail; ++i) EXPECT_EQ(tail[i], '\0');
}

}  // namespace
