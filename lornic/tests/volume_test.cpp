// Endpoint volume and mute.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "lornic/Lornic.h"
#include "sim_audio.h"
#include "studio.h"

namespace {

class VolumeTest : public ::testing::Test {
 protected:
  void TearDown() override {
    EXPECT_EQ(audio.HeldReferences(), 0);
    EXPECT_EQ(audio.LiveBlocks(), 0u);
    EXPECT_TRUE(audio.Errors().empty()) << audio.Errors().front();
  }
  STStereoLevel Read(LPCWSTR id, int expectedResult = 0) {
    STStereoLevel level = {-7, -7, -7};
    EXPECT_EQ(lornic.GetVolume(id, &level), expectedResult);
    return level;
  }
  sim::AudioSystem audio;
  Studio studio{audio};
  CLornic lornic;
};

TEST_F(VolumeTest, ScalarsReadAsTheProductTruncatedTowardZero) {
  struct Case {
    float scalar;
    int32_t level;
  } cases[] = {{1.0f, 65535}, {0.5f, 32767}, {0.0f, 0}, {0.25f, 16383}, {-0.00001f, 0}};
  for (const Case& c : cases) {
    studio.speakers->scalars = {c.scalar, c.scalar};
    EXPECT_EQ(Read(studio.SpeakersId()), (STStereoLevel{c.level, c.level, 8})) << c.scalar;
  }
}

// A float-to-integer conversion of a value beyond 32 bits is undefined; an
// endpoint reporting such a scalar gets the nearest level, and one
// reporting NaN has no level on that channel.
TEST_F(VolumeTest, ScalarsBeyondAnyLevelSaturateAndNaNIsNoLevel) {
  const float inf = std::numeric_limits<float>::infinity();
  struct Case {
    float left, right;
    STStereoLevel expected;
  } cases[] = {{1e10f, -1e10f, {INT32_MAX, INT32_MIN, 8}},
               {inf, 0.5f, {INT32_MAX, 32767, 8}},
               {0.5f, std::nanf(""), {32767, 0, 4}},
               {std::nanf(""), 0.5f, {0, 0, 0}}};
  for (const Case& c : cases) {
    studio.speakers->scalars = {c.left, c.right};
    EXPECT_EQ(Read(studio.SpeakersId()), c.expected) << c.left << " " << c.right;
  }
}

// Written as the float nearest level / 65535 (quotient in double), read
// back as the scalar times 65535 in double, truncated: a level comes back
// unchanged or one lower, never higher.
TEST_F(VolumeTest, LevelsComeBackUnchangedOrOneLowerThroughBothConversions) {
  struct Case {
    int32_t level, back;
  } cases[] = {{0, 0},         {1, 0},         {2, 1},         {100, 99},     {1000, 999},
               {32767, 32767}, {32768, 32767}, {65534, 65534}, {65535, 65535}};
  for (const Case& c : cases) {
    STStereoLevel level = {c.level, c.level, 8};
    ASSERT_EQ(lornic.SetVolume(studio.SpeakersId(), &level), 0);
    EXPECT_EQ(Read(studio.SpeakersId()), (STStereoLevel{c.back, c.back, 8})) << c.level;
  }
  int lower = 0;
  for (int32_t level = 0; level <= 65535; ++level) {
    STStereoLevel written = {level, 0, 4};
    ASSERT_EQ(lornic.SetVolume(studio.MicId(), &written), 0);
    STStereoLevel back = Read(studio.MicId());
    ASSERT_EQ(back.Size, 4);
    ASSERT_TRUE(back.Left == level || back.Left == level - 1) << level << " -> " << back.Left;
    lower += back.Left == level - 1;
    audio.ResetCalls();
    audio.DropReleased();
  }
  EXPECT_EQ(lower, 32895);
}

TEST_F(VolumeTest, RecordTellsWhichChannelsRead) {
  struct Case {
    const char* what;
    std::vector<float> scalars;
    int failingRead;  // occurrence of the scalar read that fails, 0 none
    STStereoLevel expected;
  } cases[] = {
      {"mono", {0.5f}, 0, {32767, 0, 4}},
      {"stereo", {1.0f, 0.0f}, 0, {65535, 0, 8}},
      {"no channels", {}, 0, {0, 0, 0}},
      {"channel 0 fails, channel 1 reads", {0.5f, 0.5f}, 1, {0, 0, 0}},
      {"channel 1 fails", {0.5f, 1.0f}, 2, {32767, 0, 4}},
      {"four channels", {0.5f, 1.0f, 0.2f, 0.3f}, 0, {32767, 65535, 8}},
  };
  for (const Case& c : cases) {
    audio.ResetCalls();
    studio.line->scalars = c.scalars;
    if (c.failingRead) audio.FailNamed("IAudioEndpointVolume::GetChannelVolumeLevelScalar", c.failingRead);
    EXPECT_EQ(Read(studio.LineId()), c.expected) << c.what;
  }
}

TEST_F(VolumeTest, UnreadableChannelCountLeavesTheRecordUntouched) {
  audio.FailNamed("IAudioEndpointVolume::GetChannelCount");
  EXPECT_EQ(Read(studio.LineId(), -1), (STStereoLevel{-7, -7, -7}));
}

TEST_F(VolumeTest, GetReadsAtMostCountElementsAndMarksTheRestMinusOne) {
  int32_t levels[4] = {5, 5, 5, 5};
  EXPECT_EQ(lornic.EndpointVolume(studio.SpeakersId(), CLornic::enGet, levels, 3), 0);
  EXPECT_EQ(levels[0], 65535);
  EXPECT_EQ(levels[1], 32767);
  EXPECT_EQ(levels[2], -1);
  EXPECT_EQ(levels[3], 5);
  for (int count : {0, -1}) {
    audio.ResetCalls();
    int32_t untouched[1] = {5};
    EXPECT_EQ(lornic.EndpointVolume(studio.SpeakersId(), CLornic::enGet, untouched, count), 0);
    EXPECT_EQ(lornic.EndpointVolume(studio.SpeakersId(), CLornic::enSet, untouched, count), 0);
    EXPECT_EQ(untouched[0], 5);
    EXPECT_EQ(audio.CallCount("IAudioEndpointVolume::GetChannelCount"), 2) << "the endpoint is opened first";
    EXPECT_EQ(audio.CallCount("IAudioEndpointVolume::SetChannelVolumeLevelScalar"), 0);
  }
}

TEST_F(VolumeTest, SetVolumeBySize) {
  struct Case {
    int32_t size;
    bool mono;
    int result;
    std::vector<float> after;  // empty: the endpoint was not opened
  } cases[] = {
      {8, false, 0, {0.0f, 1.0f}},
      {8, true, 0, {0.0f}},          // Right ignored
      {4, false, 0, {0.0f, 0.75f}},  // channel 1 keeps its level
      {0, false, 0, {}},
      {12, false, -1, {}},
      {-4, false, -1, {}},
  };
  for (const Case& c : cases) {
    audio.ResetCalls();
    studio.line->scalars = c.mono ? std::vector<float>{0.25f} : std::vector<float>{0.25f, 0.75f};
    STStereoLevel level = {0, 65535, c.size};
    EXPECT_EQ(lornic.SetVolume(studio.LineId(), &level), c.result) << c.size;
    if (c.after.empty()) {
      EXPECT_TRUE(audio.Calls().empty()) << c.size;
    } else {
      EXPECT_EQ(studio.line->scalars, c.after) << c.size;
    }
  }
}

TEST_F(VolumeTest, LevelsOutsideTheScaleArePassedOnAsTheyAre) {
  STStereoLevel level = {70000, -5, 8};
  EXPECT_EQ(lornic.SetVolume(studio.SpeakersId(), &level), 0);
  EXPECT_EQ(studio.speakers->scalars[0], static_cast<float>(70000.0 / 65535.0));
  EXPECT_EQ(studio.speakers->scalars[1], static_cast<float>(-5.0 / 65535.0));
}

TEST_F(VolumeTest, ChannelThatRefusesItsLevelIsNotReported) {
  audio.FailNamed("IAudioEndpointVolume::SetChannelVolumeLevelScalar", 1);
  STStereoLevel level = {0, 0, 8};
  EXPECT_EQ(lornic.SetVolume(studio.SpeakersId(), &level), 0);
  EXPECT_EQ(studio.speakers->scalars, (std::vector<float>{1.0f, 0.0f}));
}

TEST_F(VolumeTest, IndexBasedLevelsReachTheirFamilysEndpoint) {
  STStereoLevel level = {-7, -7, -7};
  EXPECT_EQ(lornic.GetRecordingLevel(1, &level), 0);
  EXPECT_EQ(level, (STStereoLevel{16383, 49151, 8}));
  EXPECT_EQ(lornic.GetPlaybackVolume(0, &level), 0);
  EXPECT_EQ(level, (STStereoLevel{65535, 32767, 8}));
  STStereoLevel quiet = {0, 0, 8};
  EXPECT_EQ(lornic.SetRecordingLevel(0, &quiet), 0);
  EXPECT_EQ(studio.mic->scalars, std::vector<float>{0.0f});
  EXPECT_EQ(lornic.SetPlaybackVolume(0, &quiet), 0);
  EXPECT_EQ(studio.speakers->scalars, (std::vector<float>{0.0f, 0.0f}));
}

TEST_F(VolumeTest, ModeOtherThanGetOrSetFails) {
  auto mode = static_cast<CLornic::ENGetSet>(2);
  int32_t levels[2] = {1, 1};
  int flag = 1;
  EXPECT_EQ(lornic.EndpointVolume(studio.SpeakersId(), mode, levels, 2), -1);
  EXPECT_EQ(lornic.EndpointMute(studio.SpeakersId(), mode, &flag), -1);
  EXPECT_EQ(levels[0], 1);
  EXPECT_EQ(flag, 1);
  EXPECT_FALSE(studio.speakers->mute);
  // Looked at only once the endpoint was opened and its channels counted.
  EXPECT_EQ(audio.CallCount("IAudioEndpointVolume::GetChannelCount"), 1);
}

TEST_F(VolumeTest, MuteFlagGoesToTheEndpointAsGivenAndReadsAsItReports) {
  int flag = -1;
  EXPECT_EQ(lornic.SetMute(0, 5), 0);
  EXPECT_NE(std::find(audio.Events().begin(), audio.Events().end(), "SetMute 5"), audio.Events().end());
  EXPECT_EQ(lornic.GetMute(0, &flag), 0);
  EXPECT_EQ(flag, 1);
  EXPECT_EQ(lornic.SetPlaybackMute(0, 1), 0);
  EXPECT_EQ(lornic.GetPlaybackMute(0, &flag), 0);
  EXPECT_EQ(flag, 1);
  EXPECT_EQ(lornic.SetPlaybackMute(0, 0), 0);
  EXPECT_EQ(lornic.GetPlaybackMute(0, &flag), 0);
  EXPECT_EQ(flag, 0);
  EXPECT_TRUE(studio.mic->mute);
}

TEST_F(VolumeTest, FailingMuteCallFails) {
  int flag = 9;
  audio.FailNamed("IAudioEndpointVolume::GetMute");
  EXPECT_EQ(lornic.GetMute(0, &flag), -1);
  EXPECT_EQ(flag, 9);
  audio.ResetCalls();
  audio.FailNamed("IAudioEndpointVolume::SetMute");
  EXPECT_EQ(lornic.SetMute(0, 1), -1);
  EXPECT_FALSE(studio.mic->mute);
}

TEST_F(VolumeTest, ReleasesVolumeThenEndpointThenEnumerator) {
  int flag = 0;
  ASSERT_EQ(lornic.EndpointMute(studio.MicId(), CLornic::enGet, &flag), 0);
  std::vector<std::string> releases;
  for (const std::string& e : audio.Events()) {
    if (e.rfind("Release", 0) == 0) releases.push_back(e);
  }
  EXPECT_EQ(releases, (std::vector<std::string>{"Release IAudioEndpointVolume", "Release IMMDevice",
                                                "Release IMMDeviceEnumerator"}));
}

}  // namespace
