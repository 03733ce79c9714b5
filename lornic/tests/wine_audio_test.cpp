// Lornic.dll as a program of the suite meets it on Windows (run under Wine):
// loaded with the program, its version block read back, and CLornic called
// against the audio setup the runner started:
//
//   wine_audio_test --setup=none
//       no audio daemon: no wave devices, no endpoints
//   wine_audio_test --setup=pulse --sink=<description> --source=<description>
//       a PulseAudio daemon with one null sink and one null source
//
// Wine 8 keeps IAudioEndpointVolume a stub (no channel count, mute kept
// only in the object at hand) and has no device topology, so under Wine the
// volume, AGC and gain methods meet real failures; the simulated audio
// system of the Linux tests covers their success paths.

// clang-format off
#include <initguid.h>
#include "lornic/Lornic.h"
#include <functiondiscoverykeys_devpkey.h>
#include <ksmedia.h>
// clang-format on

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "identifiers.h"

namespace {

std::string g_setup, g_sink, g_source;

bool SameGuid(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }

std::string VersionString(const std::vector<char>& block, const char* name) {
  char* value = nullptr;
  UINT length = 0;
  std::string path = std::string("\\StringFileInfo\\040904E4\\") + name;
  if (!VerQueryValueA(block.data(), path.c_str(), reinterpret_cast<void**>(&value), &length) || !value) {
    return "<missing>";
  }
  return std::string(value);
}

TEST(LornicDll, CarriesItsVersionBlock) {
  HMODULE module = GetModuleHandleA("Lornic.dll");
  ASSERT_NE(module, nullptr);
  char path[MAX_PATH] = {};
  ASSERT_GT(GetModuleFileNameA(module, path, MAX_PATH), 0u);
  DWORD handle = 0;
  DWORD size = GetFileVersionInfoSizeA(path, &handle);
  ASSERT_GT(size, 0u);
  std::vector<char> block(size);
  ASSERT_TRUE(GetFileVersionInfoA(path, 0, size, block.data()));
  WORD* translation = nullptr;
  UINT length = 0;
  ASSERT_TRUE(
      VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length));
  ASSERT_GE(length, 4u);
  EXPECT_EQ(translation[0], 0x0409);  // US English
  EXPECT_EQ(translation[1], 1252);
  EXPECT_EQ(VersionString(block, "FileDescription"), "Lornic support, classes library");
  EXPECT_EQ(VersionString(block, "FileVersion"), "3.76");
  EXPECT_EQ(VersionString(block, "InternalName"), "Lornic");
  EXPECT_EQ(VersionString(block, "OriginalFilename"), "Lornic.dll");
  EXPECT_EQ(VersionString(block, "ProductName"), "Velmora");
  EXPECT_EQ(VersionString(block, "ProductVersion"), "3.76 ");
}

// The library's own copies of the identifiers are the system's.
TEST(LornicDll, IdentifiersAreTheSystems) {
  const GUID agc = {STATIC_KSNODETYPE_AGC};
  const GUID volume = {STATIC_KSNODETYPE_VOLUME};
  EXPECT_TRUE(SameGuid(lornic::kClsidMMDeviceEnumerator, __uuidof(MMDeviceEnumerator)));
  EXPECT_TRUE(SameGuid(lornic::kIidIMMDeviceEnumerator, __uuidof(IMMDeviceEnumerator)));
  EXPECT_TRUE(SameGuid(lornic::kIidIAudioEndpointVolume, __uuidof(IAudioEndpointVolume)));
  EXPECT_TRUE(SameGuid(lornic::kIidIDeviceTopology, __uuidof(IDeviceTopology)));
  EXPECT_TRUE(SameGuid(lornic::kIidIConnector, __uuidof(IConnector)));
  EXPECT_TRUE(SameGuid(lornic::kIidIPart, __uuidof(IPart)));
  EXPECT_TRUE(SameGuid(lornic::kIidIAudioAutoGainControl, IID_IAudioAutoGainControl));
  EXPECT_TRUE(SameGuid(lornic::kIidIAudioVolumeLevel, __uuidof(IAudioVolumeLevel)));
  EXPECT_TRUE(SameGuid(lornic::kNodeTypeAgc, agc));
  EXPECT_TRUE(SameGuid(lornic::kNodeTypeVolume, volume));
  EXPECT_TRUE(SameGuid(lornic::kKeyDeviceFriendlyName.fmtid, PKEY_Device_FriendlyName.fmtid));
  EXPECT_EQ(lornic::kKeyDeviceFriendlyName.pid, PKEY_Device_FriendlyName.pid);
}

// What every index-based method and worker gives where the endpoint opens
// but Wine's endpoint volume and topology stubs stop it.
void ExpectWineStubResults(CLornic& lornic, int in, LPCWSTR id) {
  STStereoLevel level = {1, 2, 3};
  EXPECT_EQ(lornic.GetRecordingLevel(in, &level), -1);  // no channel count
  EXPECT_EQ(level.Size, 3);
  STStereoLevel none = {0, 0, 0};
  EXPECT_EQ(lornic.SetRecordingLevel(in, &none), 0);  // nothing to change
  STStereoLevel both = {100, 100, 8};
  EXPECT_EQ(lornic.SetRecordingLevel(in, &both), -1);
  int32_t levels[2] = {5, 5};
  EXPECT_EQ(lornic.EndpointVolume(id, CLornic::enGet, levels, 2), -1);
  EXPECT_EQ(levels[0], 5);
  // Mute lives only in the stub object at hand: set, then read back from a
  // new one as not muted.
  int mute = 9;
  EXPECT_EQ(lornic.SetMute(in, 1), 0);
  EXPECT_EQ(lornic.GetMute(in, &mute), 0);
  EXPECT_EQ(mute, 0);
  // No device topology: no AGC, no gain.
  int flag = 9;
  EXPECT_EQ(lornic.GetAGC(in, &flag), -1);
  EXPECT_EQ(lornic.SetAGC(in, 1), -1);
  EXPECT_EQ(lornic.GetGain(in, &flag), -1);
  EXPECT_EQ(lornic.SetGain(in, 10), -1);
  EXPECT_EQ(flag, 9);
  IAudioVolumeLevel* list[2] = {};
  int count = 5;
  EXPECT_EQ(lornic.FindAllVolumeInterfaces(id, list, 2, &count), -1);
  EXPECT_EQ(count, 0);
  IAudioVolumeLevel* control = nullptr;
  EXPECT_EQ(lornic.GetRecordingGainInterface(id, &control), -1);
  EXPECT_EQ(control, nullptr);
}

// Every device of a family: its identifier (opened by GetDevice, which
// EndpointName does) and its name, by index.
struct Device {
  int index;
  std::wstring id;
  std::string name;
};

std::vector<Device> Devices(CLornic& lornic, bool recording) {
  std::vector<Device> devices;
  UINT count = recording ? waveInGetNumDevs() : waveOutGetNumDevs();
  for (int i = 0; i < static_cast<int>(count); ++i) {
    LPWSTR id = nullptr;
    int result = recording ? lornic.GetRecordingDeviceEndpointID(i, &id) : lornic.GetPlaybackDeviceEndpointID(i, &id);
    EXPECT_EQ(result, 0) << (recording ? "waveIn " : "waveOut ") << i;
    if (result != 0 || !id) continue;
    char name[128];
    EXPECT_EQ(lornic.EndpointName(id, name, sizeof name), 0) << i;
    int byIndex = recording ? lornic.GetRecordingDeviceName(i, name, sizeof name)
                            : lornic.GetPlaybackDeviceName(i, name, sizeof name);
    EXPECT_EQ(byIndex, 0) << i;
    devices.push_back({i, id, name});
    CoTaskMemFree(id);
  }
  return devices;
}

const Device* Named(const std::vector<Device>& devices, const std::string& name) {
  for (const Device& d : devices) {
    if (d.name == name) return &d;
  }
  return nullptr;
}

TEST(LornicUnderWine, MachineWithoutAudio) {
  if (g_setup != "none") GTEST_SKIP() << "setup " << g_setup;
  CLornic lornic;
  ASSERT_EQ(waveInGetNumDevs(), 0u);
  ASSERT_EQ(waveOutGetNumDevs(), 0u);
  for (int index : {-1, 0, 1}) {
    LPWSTR id = reinterpret_cast<LPWSTR>(&lornic);
    EXPECT_EQ(lornic.GetRecordingDeviceEndpointID(index, &id), -1);
    EXPECT_EQ(id, nullptr);
    id = reinterpret_cast<LPWSTR>(&lornic);
    EXPECT_EQ(lornic.GetPlaybackDeviceEndpointID(index, &id), -1);
    EXPECT_EQ(id, nullptr);
    STStereoLevel level = {1, 2, 0};
    int flag = 7;
    char name[8] = "abcdefg";
    EXPECT_EQ(lornic.GetRecordingLevel(index, &level), -1);
    EXPECT_EQ(lornic.SetRecordingLevel(index, &level), -1);
    EXPECT_EQ(lornic.GetPlaybackVolume(index, &level), -1);
    EXPECT_EQ(lornic.SetPlaybackVolume(index, &level), -1);
    EXPECT_EQ(lornic.GetMute(index, &flag), -1);
    EXPECT_EQ(lornic.SetMute(index, 1), -1);
    EXPECT_EQ(lornic.GetPlaybackMute(index, &flag), -1);
    EXPECT_EQ(lornic.SetPlaybackMute(index, 1), -1);
    EXPECT_EQ(lornic.GetAGC(index, &flag), -1);
    EXPECT_EQ(lornic.SetAGC(index, 1), -1);
    EXPECT_EQ(lornic.GetGain(index, &flag), -1);
    EXPECT_EQ(lornic.SetGain(index, 1), -1);
    EXPECT_EQ(lornic.GetRecordingDeviceName(index, name, sizeof name), -1);
    EXPECT_EQ(lornic.GetPlaybackDeviceName(index, name, sizeof name), -1);
    EXPECT_EQ(flag, 7);
    EXPECT_STREQ(name, "abcdefg");
  }
  char name[8] = "abcdefg";
  EXPECT_EQ(lornic.GetDefaultPlaybackDeviceName(name, sizeof name), -1);
  EXPECT_STREQ(name, "abcdefg");
}

TEST(LornicUnderWine, PulseAudioNullSinkAndSource) {
  if (g_setup != "pulse") GTEST_SKIP() << "setup " << g_setup;
  CLornic lornic;
  std::vector<Device> in = Devices(lornic, true);
  std::vector<Device> out = Devices(lornic, false);
  const Device* source = Named(in, g_source);
  const Device* sink = Named(out, g_sink);
  ASSERT_NE(source, nullptr) << "no waveIn device named " << g_source;
  ASSERT_NE(sink, nullptr) << "no waveOut device named " << g_sink;
  EXPECT_EQ(source->id.rfind(L"{0.0.1.00000000}.{", 0), 0u);
  EXPECT_EQ(sink->id.rfind(L"{0.0.0.00000000}.{", 0), 0u);

  // A small buffer: the first size - 1 bytes and a zero; nothing beyond.
  char small[12];
  std::memset(small, 'x', sizeof small);
  ASSERT_EQ(lornic.GetRecordingDeviceName(source->index, small, 8), 0);
  EXPECT_EQ(std::string(small, sizeof small), g_source.substr(0, 7) + '\0' + "xxxx");
  std::memset(small, 'x', sizeof small);
  ASSERT_EQ(lornic.GetPlaybackDeviceName(sink->index, small, 1), 0);
  EXPECT_EQ(std::string(small, sizeof small), std::string(1, '\0') + std::string(11, 'x'));

  // The default playback endpoint is the daemon's default sink, the only
  // one here; Wine 8 names the endpoint that follows the default sink
  // "PulseAudio", beside the one named after the sink itself.
  char name[128] = {};
  ASSERT_EQ(lornic.GetDefaultPlaybackDeviceName(name, sizeof name), 0);
  EXPECT_TRUE(std::string(name) == g_sink || std::string(name) == "PulseAudio") << name;
  EXPECT_NE(Named(out, name), nullptr) << name << " is no waveOut device";

  ExpectWineStubResults(lornic, source->index, source->id.c_str());
  int mute = 9;
  EXPECT_EQ(lornic.SetPlaybackMute(sink->index, 1), 0);
  EXPECT_EQ(lornic.GetPlaybackMute(sink->index, &mute), 0);
  EXPECT_EQ(mute, 0);
  STStereoLevel level = {1, 2, 3};
  EXPECT_EQ(lornic.GetPlaybackVolume(sink->index, &level), -1);
  // The topology walk serves capture endpoints only.
  int flag = 4;
  EXPECT_EQ(lornic.EndpointAGC(sink->id.c_str(), CLornic::enGet, &flag), -1);
  EXPECT_EQ(flag, 4);
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg.rfind("--setup=", 0) == 0) g_setup = arg.substr(8);
    if (arg.rfind("--sink=", 0) == 0) g_sink = arg.substr(7);
    if (arg.rfind("--source=", 0) == 0) g_source = arg.substr(9);
  }
  return RUN_ALL_TESTS();
}
