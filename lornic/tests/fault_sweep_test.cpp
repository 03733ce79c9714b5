// The exhaustive fault sweep: for each method, every platform call it makes
// on the studio fixture is made to fail alone, in a fresh studio each time.
// The method must give the result its failure handling describes, leave its
// outputs as described, and hold no reference and no block afterwards
// (beyond what it handed to the caller, which the sweep releases and frees).

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <string>

#include "lornic/Lornic.h"
#include "sim_audio.h"
#include "studio.h"

namespace {

// What a method may write, each primed with a value the method never writes.
struct Outputs {
  int dummy = 0;
  LPWSTR id = reinterpret_cast<LPWSTR>(&dummy);
  STStereoLevel level = {111, 222, 333};
  int32_t levels[3] = {5, 5, 5};
  int flag = 77;
  IAudioVolumeLevel* list[10] = {};
  int count = 99;
  IAudioVolumeLevel* control = reinterpret_cast<IAudioVolumeLevel*>(&dummy);
  char name[16];
  Outputs() { std::memset(name, 'x', sizeof name); }

  bool IdUnset() const { return id == reinterpret_cast<const WCHAR*>(&dummy); }
  bool ControlUnset() const { return control == reinterpret_cast<const IAudioVolumeLevel*>(&dummy); }
  bool NameUntouched() const { return std::string(name, sizeof name) == std::string(sizeof name, 'x'); }
  // Hands back what the method gave the caller.
  void Release() {
    if (!IdUnset() && id) CoTaskMemFree(id);
    for (int i = 0; i < 10; ++i) {
      if (list[i]) list[i]->Release();
    }
    if (!ControlUnset() && control) control->Release();
  }
};

using Run = std::function<int(CLornic&, const Studio&, Outputs&)>;

struct SweepCase {
  const char* method;
  Run run;
  // Results other than -1 when a call fails: by "Call#occurrence" or by
  // "Call" for every occurrence.
  std::map<std::string, int> tolerated;
  // What must hold of the outputs when the method gives -1.
  std::function<void(const Outputs&)> onFailure;
};

void IdIsNull(const Outputs& o) { EXPECT_EQ(o.id, nullptr); }
void LevelUntouched(const Outputs& o) { EXPECT_EQ(o.level, (STStereoLevel{111, 222, 333})); }
void FlagUntouched(const Outputs& o) { EXPECT_EQ(o.flag, 77); }
void NameUntouched(const Outputs& o) { EXPECT_TRUE(o.NameUntouched()); }
void ControlUnwritten(const Outputs& o) { EXPECT_TRUE(o.ControlUnset()); }
void Nothing(const Outputs&) {}
void CountMatchesList(const Outputs& o) {
  ASSERT_GE(o.count, 0);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(o.list[i] != nullptr, i < o.count) << i;
}

const char kScalarRead[] = "IAudioEndpointVolume::GetChannelVolumeLevelScalar";
const char kScalarWrite[] = "IAudioEndpointVolume::SetChannelVolumeLevelScalar";
// In the gain search: a failed count of the endpoint's channels counts as
// fewer than two (the studio's mic is mono anyway), and the restore after
// the probe is not examined.
const std::map<std::string, int> kGainTolerated = {{"IAudioEndpointVolume::GetChannelCount", 0},
                                                   {"IAudioEndpointVolume::SetChannelVolumeLevel#2", 0}};

std::vector<SweepCase> Cases() {
  return {
      {"GetRecordingDeviceEndpointID",
       [](CLornic& l, const Studio&, Outputs& o) { return l.GetRecordingDeviceEndpointID(0, &o.id); },
       {},
       IdIsNull},
      {"GetPlaybackDeviceEndpointID",
       [](CLornic& l, const Studio&, Outputs& o) { return l.GetPlaybackDeviceEndpointID(0, &o.id); },
       {},
       IdIsNull},
      {"EndpointVolume enGet",
       [](CLornic& l, const Studio& s, Outputs& o) {
         return l.EndpointVolume(s.SpeakersId(), CLornic::enGet, o.levels, 3);
       },
       {{kScalarRead, 0}},
       Nothing},
      {"EndpointVolume enSet",
       [](CLornic& l, const Studio& s, Outputs& o) {
         return l.EndpointVolume(s.SpeakersId(), CLornic::enSet, o.levels, 3);
       },
       {{kScalarWrite, 0}},
       Nothing},
      {"GetVolume",
       [](CLornic& l, const Studio& s, Outputs& o) { return l.GetVolume(s.SpeakersId(), &o.level); },
       {{kScalarRead, 0}},
       LevelUntouched},
      {"SetVolume",
       [](CLornic& l, const Studio& s, Outputs& o) {
         o.level = {1, 2, 8};
         return l.SetVolume(s.SpeakersId(), &o.level);
       },
       {{kScalarWrite, 0}},
       Nothing},
      {"GetRecordingLevel",
       [](CLornic& l, const Studio&, Outputs& o) { return l.GetRecordingLevel(0, &o.level); },
       {{kScalarRead, 0}},
       LevelUntouched},
      {"SetRecordingLevel",
       [](CLornic& l, const Studio&, Outputs& o) {
         o.level = {1, 2, 4};
         return l.SetRecordingLevel(0, &o.level);
       },
       {{kScalarWrite, 0}},
       Nothing},
      {"GetPlaybackVolume",
       [](CLornic& l, const Studio&, Outputs& o) { return l.GetPlaybackVolume(0, &o.level); },
       {{kScalarRead, 0}},
       LevelUntouched},
      {"SetPlaybackVolume",
       [](CLornic& l, const Studio&, Outputs& o) {
         o.level = {1, 2, 8};
         return l.SetPlaybackVolume(0, &o.level);
       },
       {{kScalarWrite, 0}},
       Nothing},
      {"EndpointMute enGet",
       [](CLornic& l, const Studio& s, Outputs& o) { return l.EndpointMute(s.MicId(), CLornic::enGet, &o.flag); },
       {},
       FlagUntouched},
      {"GetMute", [](CLornic& l, const Studio&, Outputs& o) { return l.GetMute(0, &o.flag); }, {}, FlagUntouched},
      {"SetMute", [](CLornic& l, const Studio&, Outputs&) { return l.SetMute(0, 1); }, {}, Nothing},
      {"GetPlaybackMute",
       [](CLornic& l, const Studio&, Outputs& o) { return l.GetPlaybackMute(0, &o.flag); },
       {},
       FlagUntouched},
      {"SetPlaybackMute", [](CLornic& l, const Studio&, Outputs&) { return l.SetPlaybackMute(0, 1); }, {}, Nothing},
      {"EndpointAGC enGet",
       [](CLornic& l, const Studio& s, Outputs& o) { return l.EndpointAGC(s.MicId(), CLornic::enGet, &o.flag); },
       {},
       FlagUntouched},
      {"GetAGC", [](CLornic& l, const Studio&, Outputs& o) { return l.GetAGC(0, &o.flag); }, {}, FlagUntouched},
      {"SetAGC", [](CLornic& l, const Studio&, Outputs&) { return l.SetAGC(0, 1); }, {}, Nothing},
      {"FindAllVolumeInterfaces",
       [](CLornic& l, const Studio& s, Outputs& o) {
         return l.FindAllVolumeInterfaces(s.MicId(), o.list, 10, &o.count);
       },
       {},
       CountMatchesList},
      {"GetRecordingGainInterface",
       [](CLornic& l, const Studio& s, Outputs& o) { return l.GetRecordingGainInterface(s.MicId(), &o.control); },
       kGainTolerated, ControlUnwritten},
      {"GetGain", [](CLornic& l, const Studio&, Outputs& o) { return l.GetGain(0, &o.flag); }, kGainTolerated,
       FlagUntouched},
      {"SetGain", [](CLornic& l, const Studio&, Outputs&) { return l.SetGain(0, 15); }, kGainTolerated, Nothing},
      // A conversion that fails writes nothing; only the terminator is stored.
      {"EndpointName",
       [](CLornic& l, const Studio& s, Outputs& o) { return l.EndpointName(s.MicId(), o.name, sizeof o.name); },
       {{"WideCharToMultiByte", 0}},
       NameUntouched},
      {"GetRecordingDeviceName",
       [](CLornic& l, const Studio&, Outputs& o) { return l.GetRecordingDeviceName(0, o.name, sizeof o.name); },
       {{"WideCharToMultiByte", 0}},
       NameUntouched},
      {"GetPlaybackDeviceName",
       [](CLornic& l, const Studio&, Outputs& o) { return l.GetPlaybackDeviceName(0, o.name, sizeof o.name); },
       {{"WideCharToMultiByte", 0}},
       NameUntouched},
      {"GetDefaultPlaybackDeviceName",
       [](CLornic& l, const Studio&, Outputs& o) { return l.GetDefaultPlaybackDeviceName(o.name, sizeof o.name); },
       {{"WideCharToMultiByte", 0}},
       NameUntouched},
  };
}

int ExpectedResult(const SweepCase& c, const std::string& call, int occurrence) {
  auto it = c.tolerated.find(call + "#" + std::to_string(occurrence));
  if (it == c.tolerated.end()) it = c.tolerated.find(call);
  return it == c.tolerated.end() ? -1 : it->second;
}

class FaultSweepTest : public ::testing::TestWithParam<SweepCase> {};

TEST_P(FaultSweepTest, EveryFailingCallGivesTheDescribedResultAndLeavesNothingHeld) {
  const SweepCase& c = GetParam();
  // The calls of a run without faults.
  std::vector<std::string> calls;
  {
    sim::AudioSystem audio;
    Studio studio(audio);
    CLornic lornic;
    Outputs outputs;
    ASSERT_EQ(c.run(lornic, studio, outputs), 0);
    outputs.Release();
    calls = audio.Calls();
    EXPECT_EQ(audio.HeldReferences(), 0);
    EXPECT_EQ(audio.LiveBlocks(), 0u);
  }
  ASSERT_FALSE(calls.empty());
  std::map<std::string, int> seen;
  for (size_t k = 1; k <= calls.size(); ++k) {
    const std::string& call = calls[k - 1];
    int occurrence = ++seen[call];
    SCOPED_TRACE(c.method + std::string(": call ") + std::to_string(k) + " " + call + "#" + std::to_string(occurrence) +
                 " fails");
    sim::AudioSystem audio;
    Studio studio(audio);
    CLornic lornic;
    Outputs outputs;
    audio.FailCall(static_cast<int>(k));
    int result = c.run(lornic, studio, outputs);
    ASSERT_GE(audio.Calls().size(), k);
    EXPECT_EQ(audio.Calls()[k - 1], call);
    EXPECT_EQ(result, ExpectedResult(c, call, occurrence));
    if (result == -1) c.onFailure(outputs);
    outputs.Release();
    EXPECT_EQ(audio.HeldReferences(), 0);
    EXPECT_EQ(audio.LiveBlocks(), 0u);
    EXPECT_TRUE(audio.Errors().empty()) << audio.Errors().front();
    // A probe of the endpoint level is undone, unless undoing it is what failed.
    if (call + "#" + std::to_string(occurrence) != "IAudioEndpointVolume::SetChannelVolumeLevel#2") {
      EXPECT_EQ(studio.mic->levelsDb[0], 0.0f);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Methods, FaultSweepTest, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<SweepCase>& info) {
                           std::string name = info.param.method;
                           for (char& ch : name) {
                             if (ch == ' ') ch = '_';
                           }
                           return name;
                         });

}  // namespace
