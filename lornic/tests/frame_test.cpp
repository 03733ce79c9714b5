// The library frame: wave device index -> endpoint identifier, the pattern of
// the index-based methods, COM initialisation, and a machine without any
// audio system.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

#include "lornic/Lornic.h"
#include "sim_audio.h"
#include "studio.h"

namespace {

class FrameTest : public ::testing::Test {
 protected:
  void TearDown() override {
    EXPECT_EQ(audio.HeldReferences(), 0);
    EXPECT_EQ(audio.LiveBlocks(), 0u);
    EXPECT_TRUE(audio.Errors().empty()) << audio.Errors().front();
  }
  sim::AudioSystem audio;
  Studio studio{audio};
  CLornic lornic;
};

TEST_F(FrameTest, MapsEachFamilysIndexToItsEndpointIdentifier) {
  struct Case {
    bool recording;
    int index;
    const char* id;
  } cases[] = {{true, 0, "{0.0.1.00000000}.{mic}"},
               {true, 1, "{0.0.1.00000000}.{line}"},
               {false, 0, "{0.0.0.00000000}.{speakers}"}};
  for (const Case& c : cases) {
    LPWSTR id = nullptr;
    int result = c.recording ? lornic.GetRecordingDeviceEndpointID(c.index, &id)
                             : lornic.GetPlaybackDeviceEndpointID(c.index, &id);
    ASSERT_EQ(result, 0) << c.id;
    ASSERT_NE(id, nullptr);
    EXPECT_EQ(std::u16string(id), sim::U16(c.id));
    CoTaskMemFree(id);
  }
  // Size query, then the identifier into a block of the size plus 4, told
  // the size alone.
  audio.ResetCalls();
  LPWSTR id = nullptr;
  ASSERT_EQ(lornic.GetRecordingDeviceEndpointID(0, &id), 0);
  CoTaskMemFree(id);
  EXPECT_EQ(audio.Calls(), (std::vector<std::string>{"waveInGetNumDevs", "waveInMessage(0x812)", "CoTaskMemAlloc",
                                                     "waveInMessage(0x811)"}));
}

TEST_F(FrameTest, RefusesTheWaveMapperAndIndexesBeyondTheCountWithoutAskingTheDriver) {
  for (int index : {-1, 2, 1000, INT32_MIN}) {
    audio.ResetCalls();
    int dummy = 0;
    LPWSTR id = reinterpret_cast<LPWSTR>(&dummy);
    EXPECT_EQ(lornic.GetRecordingDeviceEndpointID(index, &id), -1) << index;
    EXPECT_EQ(id, nullptr);
    EXPECT_EQ(audio.Calls(), std::vector<std::string>{"waveInGetNumDevs"}) << index;
  }
  int dummy = 0;
  LPWSTR id = reinterpret_cast<LPWSTR>(&dummy);
  EXPECT_EQ(lornic.GetPlaybackDeviceEndpointID(1, &id), -1);
  EXPECT_EQ(id, nullptr);
}

TEST_F(FrameTest, IdentifierQueryFailingAfterTheSizeFreesTheBlock) {
  audio.FailNamed("waveInMessage(0x811)");
  LPWSTR id = nullptr;
  EXPECT_EQ(lornic.GetRecordingDeviceEndpointID(0, &id), -1);
  EXPECT_EQ(id, nullptr);
  EXPECT_EQ(audio.LiveBlocks(), 0u);
  EXPECT_EQ(audio.Events().back(), "CoTaskMemFree");
}

TEST_F(FrameTest, DriverWithoutSizeQueryGivesNoIdentifier) {
  audio.waveIn[0].reportsSize = false;
  LPWSTR id = nullptr;
  EXPECT_EQ(lornic.GetRecordingDeviceEndpointID(0, &id), -1);
  EXPECT_EQ(id, nullptr);
  EXPECT_EQ(audio.CallCount("CoTaskMemAlloc"), 0);
}

// A driver whose identifier lacks its terminator still yields a terminated
// string: the block's slack after the reported size is zeroed.
TEST_F(FrameTest, UnterminatedIdentifierFromTheDriverEndsWithinTheBlock) {
  audio.waveIn[0].terminates = false;
  LPWSTR id = nullptr;
  ASSERT_EQ(lornic.GetRecordingDeviceEndpointID(0, &id), 0);
  EXPECT_EQ(std::u16string(id), studio.mic->id);
  CoTaskMemFree(id);
}

// A reported size that would wrap with the slack added must not leave the
// driver a tiny block it was told is huge.
TEST_F(FrameTest, SizeThatWouldWrapIsRefusedBeforeAnyAllocation) {
  for (DWORD size : {0xFFFFFFFFu, 0xFFFFFFFCu}) {
    audio.ResetCalls();
    audio.waveIn[0].sizeOverride = size;
    LPWSTR id = nullptr;
    EXPECT_EQ(lornic.GetRecordingDeviceEndpointID(0, &id), -1) << size;
    EXPECT_EQ(id, nullptr);
    EXPECT_EQ(audio.CallCount("CoTaskMemAlloc"), 0);
  }
}

TEST_F(FrameTest, IndexBasedMethodsWithAnInvalidIndexNeverReachTheirWorker) {
  STStereoLevel level = {1, 2, 0};  // asks for no change at all
  int flag = 7;
  char name[8] = "abcdefg";
  audio.ResetCalls();
  EXPECT_EQ(lornic.SetRecordingLevel(-1, &level), -1);
  EXPECT_EQ(lornic.SetPlaybackVolume(1, &level), -1);
  EXPECT_EQ(lornic.GetRecordingLevel(2, &level), -1);
  EXPECT_EQ(lornic.GetPlaybackVolume(-1, &level), -1);
  EXPECT_EQ(lornic.GetMute(-1, &flag), -1);
  EXPECT_EQ(lornic.SetMute(2, 1), -1);
  EXPECT_EQ(lornic.GetPlaybackMute(1, &flag), -1);
  EXPECT_EQ(lornic.SetPlaybackMute(-1, 0), -1);
  EXPECT_EQ(lornic.GetAGC(-1, &flag), -1);
  EXPECT_EQ(lornic.SetAGC(2, 1), -1);
  EXPECT_EQ(lornic.GetGain(-1, &flag), -1);
  EXPECT_EQ(lornic.SetGain(2, 10), -1);
  EXPECT_EQ(lornic.GetRecordingDeviceName(-1, name, sizeof name), -1);
  EXPECT_EQ(lornic.GetPlaybackDeviceName(1, name, sizeof name), -1);
  EXPECT_EQ(level.Left, 1);
  EXPECT_EQ(level.Right, 2);
  EXPECT_EQ(level.Size, 0);
  EXPECT_EQ(flag, 7);
  EXPECT_STREQ(name, "abcdefg");
  for (const std::string& call : audio.Calls()) {
    EXPECT_TRUE(call == "waveInGetNumDevs" || call == "waveOutGetNumDevs") << call;
  }
}

TEST_F(FrameTest, IndexBasedMethodFreesTheIdentifierWhateverTheWorkerGives) {
  audio.FailNamed("CoCreateInstance");
  int flag = 0;
  EXPECT_EQ(lornic.GetMute(0, &flag), -1);
  // The worker failed at its first call; the identifier was still freed.
  EXPECT_EQ(audio.Calls().back(), "CoCreateInstance");
  EXPECT_EQ(audio.Events().back(), "CoTaskMemFree");
}

TEST_F(FrameTest, WorkerWhoseEnumeratorFailsMakesNoFurtherCall) {
  audio.FailNamed("CoCreateInstance");
  int flag = 0;
  EXPECT_EQ(lornic.EndpointMute(studio.MicId(), CLornic::enGet, &flag), -1);
  EXPECT_EQ(audio.Calls(), std::vector<std::string>{"CoCreateInstance"});
}

TEST_F(FrameTest, UnknownIdentifierIsRefusedByTheEnumerator) {
  int flag = 0;
  EXPECT_EQ(lornic.EndpointMute(u"{0.0.1.00000000}.{gone}", CLornic::enGet, &flag), -1);
}

// COM belongs to the thread that constructed the object: a thread without
// it can still map indexes (no COM is needed) but opens no endpoint.
TEST_F(FrameTest, ThreadWithoutComMapsIndexesButOpensNoEndpoint) {
  int idResult = 0, muteResult = 0;
  LPWSTR id = nullptr;
  std::thread worker([&] {
    int flag = 0;
    idResult = lornic.GetRecordingDeviceEndpointID(0, &id);
    muteResult = lornic.GetMute(0, &flag);
  });
  worker.join();
  EXPECT_EQ(idResult, 0);
  EXPECT_EQ(muteResult, -1);
  CoTaskMemFree(id);
  EXPECT_EQ(audio.CallCount("CoCreateInstance"), 0);

  std::thread withCom([&] {
    CLornic own;
    int flag = 5;
    muteResult = own.GetMute(0, &flag);
  });
  withCom.join();
  EXPECT_EQ(muteResult, 0);
}

TEST_F(FrameTest, ObjectsCarryNoStateAndCanBeMadeAndUsedRepeatedly) {
  static_assert(sizeof(CLornic) == 1, "an object without data members");
  for (int i = 0; i < 3; ++i) {
    CLornic another;
    int flag = -1;
    EXPECT_EQ(another.GetMute(0, &flag), 0);
    EXPECT_EQ(flag, 0);
  }
  Lornicclass::Initialize();  // a second run changes nothing
  int flag = -1;
  EXPECT_EQ(lornic.GetMute(0, &flag), 0);
}

// A machine without any audio system: no devices, no enumerator.
TEST(NoAudioSystemTest, EveryMethodFails) {
  CLornic lornic;
  LPWSTR id = reinterpret_cast<LPWSTR>(&lornic);
  EXPECT_EQ(lornic.GetRecordingDeviceEndpointID(0, &id), -1);
  EXPECT_EQ(id, nullptr);
  id = reinterpret_cast<LPWSTR>(&lornic);
  EXPECT_EQ(lornic.GetPlaybackDeviceEndpointID(0, &id), -1);
  EXPECT_EQ(id, nullptr);
  STStereoLevel level = {1, 2, 8};
  int flag = 3;
  int32_t levels[2] = {5, 6};
  IAudioVolumeLevel* list[2] = {};
  int count = 9;
  IAudioVolumeLevel* control = nullptr;
  char name[8] = "abcdefg";
  const char16_t* some = u"{0.0.1.00000000}.{mic}";
  EXPECT_EQ(lornic.GetRecordingLevel(0, &level), -1);
  EXPECT_EQ(lornic.SetRecordingLevel(0, &level), -1);
  EXPECT_EQ(lornic.GetPlaybackVolume(0, &level), -1);
  EXPECT_EQ(lornic.SetPlaybackVolume(0, &level), -1);
  EXPECT_EQ(lornic.GetMute(0, &flag), -1);
  EXPECT_EQ(lornic.SetMute(0, 1), -1);
  EXPECT_EQ(lornic.GetPlaybackMute(0, &flag), -1);
  EXPECT_EQ(lornic.SetPlaybackMute(0, 1), -1);
  EXPECT_EQ(lornic.GetAGC(0, &flag), -1);
  EXPECT_EQ(lornic.SetAGC(0, 1), -1);
  EXPECT_EQ(lornic.GetGain(0, &flag), -1);
  EXPECT_EQ(lornic.SetGain(0, 1), -1);
  EXPECT_EQ(lornic.GetRecordingDeviceName(0, name, 8), -1);
  EXPECT_EQ(lornic.GetPlaybackDeviceName(0, name, 8), -1);
  EXPECT_EQ(lornic.GetDefaultPlaybackDeviceName(name, 8), -1);
  EXPECT_EQ(lornic.EndpointVolume(some, CLornic::enGet, levels, 2), -1);
  EXPECT_EQ(lornic.GetVolume(some, &level), -1);
  EXPECT_EQ(lornic.SetVolume(some, &level), -1);
  EXPECT_EQ(lornic.EndpointMute(some, CLornic::enGet, &flag), -1);
  EXPECT_EQ(lornic.EndpointAGC(some, CLornic::enGet, &flag), -1);
  EXPECT_EQ(lornic.FindAllVolumeInterfaces(some, list, 2, &count), -1);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(lornic.GetRecordingGainInterface(some, &control), -1);
  EXPECT_EQ(lornic.EndpointName(some, name, 8), -1);
  EXPECT_EQ(level.Left, 1);
  EXPECT_EQ(flag, 3);
  EXPECT_EQ(levels[0], 5);
  EXPECT_EQ(control, nullptr);
  EXPECT_STREQ(name, "abcdefg");
}

}  // namespace
