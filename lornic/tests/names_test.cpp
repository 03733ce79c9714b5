// Endpoint names in the ANSI code page (Windows-1251 on our systems; the
// narrow literals below are compiled to it).

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "lornic/Lornic.h"
#include "sim_audio.h"
#include "studio.h"

namespace {

class NamesTest : public ::testing::Test {
 protected:
  void SetUp() override { std::memset(buffer, 'x', sizeof buffer); }
  void TearDown() override {
    EXPECT_EQ(audio.HeldReferences(), 0);
    EXPECT_EQ(audio.LiveBlocks(), 0u);
    EXPECT_TRUE(audio.Errors().empty()) << audio.Errors().front();
  }
  std::string Buffer() const { return std::string(buffer, sizeof buffer); }
  sim::AudioSystem audio;
  Studio studio{audio};
  CLornic lornic;
  char buffer[24];
};

TEST_F(NamesTest, NameThatFitsIsCopiedWithItsTerminatorAndTheRestLeftAlone) {
  ASSERT_EQ(lornic.EndpointName(studio.MicId(), buffer, sizeof buffer), 0);
  std::string expected = std::string("Микрофон USB") + '\0';
  expected += std::string(sizeof buffer - expected.size() - 1, 'x') + '\0';
  EXPECT_EQ(Buffer(), expected);
}

TEST_F(NamesTest, NamesAreCutToTheBuffer) {
  studio.mic->friendlyName = u"ABCDEFGHIJKLMNOPQRST";
  struct Case {
    int size;
    std::string expected;  // the first `size` bytes; the rest stays 'x'
  } cases[] = {
      {8, std::string("ABCDEFG") + '\0'},
      {1, std::string(1, '\0')},
      {21, std::string("ABCDEFGHIJKLMNOPQRST") + '\0'},
      {20, std::string("ABCDEFGHIJKLMNOPQRS") + '\0'},
  };
  for (const Case& c : cases) {
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(lornic.EndpointName(studio.MicId(), buffer, c.size), 0) << c.size;
    EXPECT_EQ(Buffer(), c.expected + std::string(sizeof buffer - c.size, 'x')) << c.size;
  }
}

TEST_F(NamesTest, CharactersOutsideTheCodePageBecomeQuestionMarks) {
  studio.mic->friendlyName = u"Mic \u4E2D \U0001F3A4 \u20AC\u2116";
  ASSERT_EQ(lornic.EndpointName(studio.MicId(), buffer, sizeof buffer), 0);
  EXPECT_STREQ(buffer, "Mic ? ? €№");
}

TEST_F(NamesTest, EndpointWithoutFriendlyNameLeavesAllButTheLastByte) {
  studio.mic->hasName = false;
  ASSERT_EQ(lornic.EndpointName(studio.MicId(), buffer, sizeof buffer), 0);
  EXPECT_EQ(Buffer(), std::string(sizeof buffer - 1, 'x') + '\0');
}

TEST_F(NamesTest, FailuresLeaveTheBufferUntouched) {
  struct Case {
    const char* what;
    const char* failing;  // null: none
    std::function<int()> call;
  } cases[] = {
      {"recording index -1", nullptr, [&] { return lornic.GetRecordingDeviceName(-1, buffer, 8); }},
      {"playback index beyond the count", nullptr, [&] { return lornic.GetPlaybackDeviceName(1, buffer, 8); }},
      {"unknown endpoint", nullptr, [&] { return lornic.EndpointName(u"{nothing}", buffer, 8); }},
      {"property store", "IMMDevice::OpenPropertyStore",
       [&] { return lornic.EndpointName(studio.MicId(), buffer, 8); }},
      {"property value", "IPropertyStore::GetValue", [&] { return lornic.EndpointName(studio.MicId(), buffer, 8); }},
      {"identifier of the default endpoint", "IMMDevice::GetId",
       [&] { return lornic.GetDefaultPlaybackDeviceName(buffer, 8); }},
      // No byte size - 1 to write: anything written would miss the buffer.
      {"size 0", nullptr, [&] { return lornic.EndpointName(studio.MicId(), buffer + 4, 0); }},
      {"negative size", nullptr, [&] { return lornic.GetRecordingDeviceName(0, buffer + 4, -8); }},
  };
  for (const Case& c : cases) {
    audio.ResetCalls();
    if (c.failing) audio.FailNamed(c.failing);
    EXPECT_EQ(c.call(), -1) << c.what;
    EXPECT_EQ(Buffer(), std::string(sizeof buffer, 'x')) << c.what;
  }
}

TEST_F(NamesTest, IndexesNameTheirFamilysEndpoint) {
  ASSERT_EQ(lornic.GetRecordingDeviceName(0, buffer, sizeof buffer), 0);
  EXPECT_STREQ(buffer, "Микрофон USB");
  ASSERT_EQ(lornic.GetPlaybackDeviceName(0, buffer, sizeof buffer), 0);
  EXPECT_STREQ(buffer, "Speakers (Studio)");
}

TEST_F(NamesTest, DefaultPlaybackEndpointIsNamedByItsIdentifier) {
  studio.audio.defaultRender = studio.line;
  ASSERT_EQ(lornic.GetDefaultPlaybackDeviceName(buffer, sizeof buffer), 0);
  EXPECT_EQ(std::string(buffer), "{0.0.1.00000000}.{line}");
  // The name is read through an enumerator of its own; then the default
  // endpoint and its enumerator go, and the identifier last.
  std::vector<std::string> tail(audio.Events().end() - 3, audio.Events().end());
  EXPECT_EQ(tail, (std::vector<std::string>{"Release IMMDevice", "Release IMMDeviceEnumerator", "CoTaskMemFree"}));
  EXPECT_EQ(audio.CallCount("CoCreateInstance"), 2);
}

TEST_F(NamesTest, NoDefaultPlaybackEndpointFails) {
  studio.audio.defaultRender = nullptr;
  EXPECT_EQ(lornic.GetDefaultPlaybackDeviceName(buffer, sizeof buffer), -1);
  EXPECT_EQ(Buffer(), std::string(sizeof buffer, 'x'));
}

}  // namespace
