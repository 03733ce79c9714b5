// Automatic gain control and the input gain, found by walking the topology.

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "lornic/Lornic.h"
#include "sim_audio.h"
#include "studio.h"

namespace {

class TopologyTest : public ::testing::Test {
 protected:
  void TearDown() override {
    EXPECT_EQ(audio.HeldReferences(), 0);
    EXPECT_EQ(audio.LiveBlocks(), 0u);
    EXPECT_TRUE(audio.Errors().empty()) << audio.Errors().front();
  }
  std::vector<std::string> Releases() const {
    std::vector<std::string> releases;
    for (const std::string& e : audio.Events()) {
      if (e.rfind("Release ", 0) == 0) releases.push_back(e.substr(8));
    }
    return releases;
  }
  std::vector<std::string> EndpointLevelsSet() const {
    std::vector<std::string> set;
    for (const std::string& e : audio.Events()) {
      if (e.rfind("endpoint level", 0) == 0) set.push_back(e);
    }
    return set;
  }
  sim::Part* Subunit(const GUID& subtype, const std::string& name) { return audio.AddPart(::Subunit, subtype, name); }
  // The mic's path after the adapter replaced by `parts`, in order, the
  // last leading nowhere further than an unconnected connector.
  void Path(std::vector<sim::Part*> parts) {
    sim::Part* end = audio.AddPart(Connector, sim::kSubtypeOther, "end");
    parts.push_back(end);
    studio.adapter->outgoing = {parts[0]};
    for (size_t i = 0; i + 1 < parts.size(); ++i) parts[i]->outgoing = {parts[i + 1]};
  }
  sim::Part* Candidate(const std::string& name, float minimum, float maximum, float level, UINT channels = 1) {
    sim::Part* part = Subunit(sim::kSubtypeVolume, name);
    part->volume.channels = channels;
    part->volume.minimum = minimum;
    part->volume.maximum = maximum;
    part->volume.levels.assign(channels, level);
    return part;
  }
  // Releases what FindAllVolumeInterfaces handed out.
  static void ReleaseAll(IAudioVolumeLevel** list, int count) {
    for (int i = 0; i < count; ++i) list[i]->Release();
  }
  sim::AudioSystem audio;
  Studio studio{audio};
  CLornic lornic;
};

TEST_F(TopologyTest, AgcOnTheRecordingPathIsReadAndSet) {
  int enabled = -1;
  EXPECT_EQ(lornic.GetAGC(0, &enabled), 0);
  EXPECT_EQ(enabled, 0);
  EXPECT_EQ(lornic.SetAGC(0, 5), 0);
  EXPECT_TRUE(studio.agc->agcEnabled);
  EXPECT_EQ(lornic.GetAGC(0, &enabled), 0);
  EXPECT_EQ(enabled, 1);
  EXPECT_EQ(lornic.SetAGC(0, 0), 0);
  EXPECT_FALSE(studio.agc->agcEnabled);
}

TEST_F(TopologyTest, WalkReleasesEveryStepAsItGoes) {
  // AGC only at the far side of a second topology, so that the walk passes
  // both kinds of step.
  studio.agc->subtype = sim::kSubtypeOther;
  studio.agc->hasAgc = false;
  studio.gain->subtype = sim::kSubtypeAgc;
  studio.gain->hasAgc = true;
  int enabled = -1;
  ASSERT_EQ(lornic.EndpointAGC(studio.MicId(), CLornic::enGet, &enabled), 0);
  EXPECT_EQ(Releases(), (std::vector<std::string>{
                            "IConnector(endpoint)",  // the connector once the other end is known
                            "IConnector(adapter)",   // the other end once its part is known
                            "IPartsList",            // each list at once
                            "IPart(adapter)",        // the current part, for the next (a subunit)
                            "IPartsList",
                            "IPart(agc)",  // current and next once the next's connector is known
                            "IPart(pin)",
                            "IConnector(pin)",
                            "IConnector(hw)",
                            "IPartsList",
                            "IAudioAutoGainControl",  // the control, then all still held, newest first
                            "IPart(gain)",
                            "IPart(hw)",
                            "IDeviceTopology",
                            "IMMDevice",
                            "IMMDeviceEnumerator",
                        }));
}

// Each case on a studio of its own, changed as the case says.
TEST(TopologyWalkTest, PathsThatYieldNothing) {
  struct Case {
    const char* what;
    std::function<void(sim::AudioSystem&, Studio&)> arrange;
    int agcResult, volumesResult, volumesCount;
  } cases[] = {
      {"endpoint connector with data flow In", [](sim::AudioSystem&, Studio& s) { s.mic->connector->flow = In; }, -1,
       -1, 0},
      {"endpoint connector not connected",
       [](sim::AudioSystem&, Studio& s) { s.mic->connector->connectedTo = nullptr; }, -1, -1, 0},
      {"AGC and volume only on a branch other than the first",
       [](sim::AudioSystem& a, Studio& s) {
         sim::Part* mux = a.AddPart(Subunit, sim::kSubtypeOther, "mux");
         sim::Part* end = a.AddPart(Connector, sim::kSubtypeOther, "end");
         mux->outgoing = {end};
         s.adapter->outgoing = {mux, s.agc};
       },
       -1, -1, 0},
      {"a part with no outgoing parts, after a volume control",
       [](sim::AudioSystem&, Studio& s) { s.gain->outgoing = {}; }, 0, -1, 1},
      {"a part with no outgoing parts before any AGC", [](sim::AudioSystem&, Studio& s) { s.adapter->outgoing = {}; },
       -1, -1, 0},
      {"AGC node whose control does not activate", [](sim::AudioSystem&, Studio& s) { s.agc->hasAgc = false; }, -1, 0,
       1},
      {"parts leading back into themselves",
       [](sim::AudioSystem& a, Studio& s) {
         sim::Part* loop = a.AddPart(Subunit, sim::kSubtypeOther, "loop");
         loop->outgoing = {loop};
         s.adapter->outgoing = {loop};
       },
       -1, -1, 0},
  };
  for (const Case& c : cases) {
    sim::AudioSystem audio;
    Studio studio(audio);
    CLornic lornic;
    c.arrange(audio, studio);
    int enabled = 9;
    EXPECT_EQ(lornic.EndpointAGC(studio.MicId(), CLornic::enGet, &enabled), c.agcResult) << c.what;
    if (c.agcResult == -1) {
      EXPECT_EQ(enabled, 9) << c.what;
    }
    IAudioVolumeLevel* list[4] = {};
    int count = -1;
    EXPECT_EQ(lornic.FindAllVolumeInterfaces(studio.MicId(), list, 4, &count), c.volumesResult) << c.what;
    ASSERT_EQ(count, c.volumesCount) << c.what;
    // Found controls stay with the caller whatever the result.
    for (int i = 0; i < count; ++i) list[i]->Release();
    EXPECT_EQ(list[count], nullptr) << c.what;
    EXPECT_EQ(audio.HeldReferences(), 0) << c.what;
    EXPECT_TRUE(audio.Errors().empty()) << c.what;
  }
}

TEST_F(TopologyTest, NearestOfTwoAgcNodesIsTheOneUsed) {
  sim::Part* first = Subunit(sim::kSubtypeAgc, "agc-1");
  sim::Part* second = Subunit(sim::kSubtypeAgc, "agc-2");
  second->agcEnabled = TRUE;
  Path({first, second});
  int enabled = -1;
  EXPECT_EQ(lornic.GetAGC(0, &enabled), 0);
  EXPECT_EQ(enabled, 0);
  EXPECT_EQ(lornic.SetAGC(0, 1), 0);
  EXPECT_TRUE(first->agcEnabled);
  first->agcEnabled = FALSE;
  // Whatever happens at the first, the second is never reached.
  audio.ResetCalls();
  audio.FailNamed("IAudioAutoGainControl::SetEnabled");
  EXPECT_EQ(lornic.SetAGC(0, 0), -1);
  EXPECT_TRUE(second->agcEnabled);
  EXPECT_EQ(lornic.EndpointAGC(studio.MicId(), static_cast<CLornic::ENGetSet>(2), &enabled), -1);
}

TEST_F(TopologyTest, AgcOfAPlaybackIndexIsNotLookedFor) {
  int enabled = 4;
  // waveIn 1 has no topology at all; there is no playback form.
  EXPECT_EQ(lornic.GetAGC(1, &enabled), -1);
  EXPECT_EQ(enabled, 4);
}

TEST_F(TopologyTest, VolumeControlsAreCollectedInPathOrderUpToTheCapacity) {
  sim::Part* a = Candidate("a", 0, 20, 1);
  sim::Part* broken = Candidate("broken", 0, 20, 2);
  broken->hasVolume = false;  // a volume node that does not activate: passed over
  sim::Part* b = Candidate("b", 0, 20, 3);
  Path({a, broken, b});
  IAudioVolumeLevel* list[3] = {};
  int count = -1;
  EXPECT_EQ(lornic.FindAllVolumeInterfaces(studio.MicId(), list, 3, &count), 0);
  ASSERT_EQ(count, 2);
  float level = 0;
  list[1]->GetLevel(0, &level);
  EXPECT_EQ(level, 3.0f);
  EXPECT_EQ(list[2], nullptr);
  ReleaseAll(list, count);

  // Capacity 1: ends with the first control, the rest of the path unwalked.
  audio.ResetCalls();
  IAudioVolumeLevel* one[2] = {};
  EXPECT_EQ(lornic.FindAllVolumeInterfaces(studio.MicId(), one, 1, &count), 0);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(one[1], nullptr);
  EXPECT_EQ(audio.CallCount("IPart::GetSubType"), 1);
  ReleaseAll(one, count);
}

TEST_F(TopologyTest, PathWithoutVolumeNodesGivesNoControls) {
  Path({Subunit(sim::kSubtypeAgc, "agc")});
  IAudioVolumeLevel* list[2] = {};
  int count = -1;
  EXPECT_EQ(lornic.FindAllVolumeInterfaces(studio.MicId(), list, 2, &count), -1);
  EXPECT_EQ(count, 0);
}

// The first control found would be stored beyond a list of no elements.
TEST_F(TopologyTest, CapacityBelowOneStoresNothing) {
  for (int capacity : {0, -3}) {
    audio.ResetCalls();
    IAudioVolumeLevel* sentinel = reinterpret_cast<IAudioVolumeLevel*>(&capacity);
    IAudioVolumeLevel* list[1] = {sentinel};
    int count = -1;
    EXPECT_EQ(lornic.FindAllVolumeInterfaces(studio.MicId(), list, capacity, &count), -1);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(list[0], sentinel);
    EXPECT_TRUE(audio.Calls().empty());
  }
}

// ---- The gain candidates ----------------------------------------------------

TEST_F(TopologyTest, StudioGainIsFoundByTheProbeAndTheEndpointRestored) {
  IAudioVolumeLevel* control = nullptr;
  ASSERT_EQ(lornic.GetRecordingGainInterface(studio.MicId(), &control), 0);
  float level = -1;
  control->GetLevel(0, &level);
  EXPECT_EQ(level, 0.0f);
  EXPECT_EQ(audio.HeldReferences(), 1);
  control->Release();
  // Endpoint at 0 dB, candidate at 0 dB: moved to the endpoint minimum and back.
  EXPECT_EQ(EndpointLevelsSet(),
            (std::vector<std::string>{"endpoint level 0 := -96.000000", "endpoint level 0 := 0.000000"}));
  EXPECT_EQ(studio.mic->levelsDb[0], 0.0f);
}

TEST_F(TopologyTest, CandidatesThatAreNoGainArePassedOver) {
  struct Case {
    const char* what;
    float minimum, maximum;
    UINT channels;
  } cases[] = {
      {"maximum stored as the float nearest 19.9", 0.0f, 19.9f, 1},
      {"minimum -12 dB", -12.0f, 20.0f, 1},
      {"two channels", 0.0f, 20.0f, 2},
  };
  studio.mic->scalars = {0.5f, 0.5f};  // stereo: a qualifying candidate is chosen at once
  studio.mic->levelsDb = {0.0f, 0.0f};
  for (const Case& c : cases) {
    audio.ResetCalls();
    Path({Candidate("no-gain", c.minimum, c.maximum, 10.0f, c.channels)});
    IAudioVolumeLevel* control = nullptr;
    EXPECT_EQ(lornic.GetRecordingGainInterface(studio.MicId(), &control), -1) << c.what;
    EXPECT_EQ(control, nullptr) << c.what;
  }
  // Behind them, one that qualifies is still found.
  Path({Candidate("a", 0.0f, 19.9f, 10.0f), Candidate("b", -12.0f, 20.0f, 10.0f), Candidate("c", 0.0f, 20.0f, 10.0f, 2),
        Candidate("d", 0.0f, 20.0f, 7.0f)});
  IAudioVolumeLevel* control = nullptr;
  ASSERT_EQ(lornic.GetRecordingGainInterface(studio.MicId(), &control), 0);
  float level = 0;
  control->GetLevel(0, &level);
  EXPECT_EQ(level, 7.0f);
  control->Release();
}

TEST_F(TopologyTest, CandidateOnAStereoEndpointIsChosenWithoutReadingAnyLevel) {
  studio.mic->scalars = {0.5f, 0.5f};
  studio.mic->levelsDb = {0.0f, 0.0f};
  Path({Candidate("gain", 0.0f, 20.0f, 0.0f)});
  IAudioVolumeLevel* control = nullptr;
  ASSERT_EQ(lornic.GetRecordingGainInterface(studio.MicId(), &control), 0);
  control->Release();
  EXPECT_EQ(audio.CallCount("IAudioVolumeLevel::GetLevel"), 0);
  EXPECT_EQ(audio.CallCount("IAudioEndpointVolume::GetChannelVolumeLevel"), 0);
}

TEST_F(TopologyTest, ProbeDecidesWhetherTheCandidateFollowsTheEndpoint) {
  struct Case {
    const char* what;
    float endpointLevel, endpointMinimum, endpointMaximum, candidateLevel, stepping;
    bool tracks;
    int result;
    std::vector<std::string> levelsSet;
  } cases[] = {
      {"-10 dB endpoint, +10 dB candidate: no probe", -10, -96, 0, 10, 0.5f, false, 0, {}},
      {"levels apart by more than the step capped at 0.1", 0, -96, 0, 0.3f, 0.5f, false, 0, {}},
      {"levels within the step: probe, candidate stays",
       0,
       -96,
       0,
       0,
       0.5f,
       false,
       0,
       {"endpoint level 0 := -96.000000", "endpoint level 0 := 0.000000"}},
      {"levels within the step: probe, candidate follows",
       0,
       -96,
       0,
       0,
       0.5f,
       true,
       -1,
       {"endpoint level 0 := -96.000000", "endpoint level 0 := 0.000000"}},
      {"candidate at the endpoint minimum: probe to the maximum",
       0,
       0,
       30,
       0,
       0.5f,
       false,
       0,
       {"endpoint level 0 := 30.000000", "endpoint level 0 := 0.000000"}},
  };
  for (const Case& c : cases) {
    audio.ResetCalls();
    studio.mic->levelsDb = {c.endpointLevel};
    studio.mic->minimumDb = c.endpointMinimum;
    studio.mic->maximumDb = c.endpointMaximum;
    sim::Part* candidate = Candidate("gain", 0.0f, 20.0f, c.candidateLevel);
    candidate->volume.stepping = c.stepping;
    if (c.tracks) candidate->volume.tracks = studio.mic;
    Path({candidate});
    IAudioVolumeLevel* control = nullptr;
    EXPECT_EQ(lornic.GetRecordingGainInterface(studio.MicId(), &control), c.result) << c.what;
    if (control) control->Release();
    EXPECT_EQ(EndpointLevelsSet(), c.levelsSet) << c.what;
    EXPECT_EQ(studio.mic->levelsDb[0], c.endpointLevel) << c.what;
  }
}

TEST_F(TopologyTest, ProbeThatCannotReadTheCandidateAgainStillRestoresTheEndpoint) {
  audio.FailNamed("IAudioVolumeLevel::GetLevel", 2);
  IAudioVolumeLevel* control = nullptr;
  EXPECT_EQ(lornic.GetRecordingGainInterface(studio.MicId(), &control), -1);
  EXPECT_EQ(control, nullptr);
  EXPECT_EQ(studio.mic->levelsDb[0], 0.0f);
}

TEST_F(TopologyTest, FailingReadOfTheEndpointLevelEndsTheSearch) {
  // The first candidate needs the endpoint's level; the second would have
  // qualified without it.
  sim::Part* second = Candidate("second", 0.0f, 20.0f, 15.0f);
  Path({Candidate("first", 0.0f, 20.0f, 0.0f), second});
  audio.FailNamed("IAudioEndpointVolume::GetChannelVolumeLevel");
  IAudioVolumeLevel* control = nullptr;
  EXPECT_EQ(lornic.GetRecordingGainInterface(studio.MicId(), &control), -1);
  EXPECT_EQ(control, nullptr);
  for (int call = 0; call < 2; ++call) {
    audio.ResetCalls();
    audio.FailNamed("IAudioEndpointVolume::GetChannelVolumeLevel");
    int gain = 77;
    EXPECT_EQ(call == 0 ? lornic.GetGain(0, &gain) : lornic.SetGain(0, 5), -1);
    EXPECT_EQ(gain, 77);
    EXPECT_EQ(second->volume.levels[0], 15.0f);
  }
}

TEST_F(TopologyTest, GainReadsInWholeDecibelsTruncatedTowardZero) {
  struct Case {
    float level;
    int result, gain;
  } cases[] = {{19.9f, 0, 19}, {-3.7f, 0, -3}, {12.0f, 0, 12}, {std::nanf(""), -1, 55}};
  for (const Case& c : cases) {
    studio.gain->volume.levels = {c.level};
    int gain = 55;
    EXPECT_EQ(lornic.GetGain(0, &gain), c.result) << c.level;
    EXPECT_EQ(gain, c.gain) << c.level;
  }
}

TEST_F(TopologyTest, GainIsSetAsGivenAndTheControlJudgesTheRange) {
  EXPECT_EQ(lornic.SetGain(0, 15), 0);
  EXPECT_EQ(studio.gain->volume.levels[0], 15.0f);
  EXPECT_EQ(lornic.SetGain(0, 30), -1);  // passed on as 30.0, refused
  EXPECT_EQ(studio.gain->volume.levels[0], 15.0f);
  studio.gain->volume.refusesOutOfRange = false;
  EXPECT_EQ(lornic.SetGain(0, 30), 0);
  EXPECT_EQ(studio.gain->volume.levels[0], 30.0f);
}

}  // namespace
