// Automatic gain control and input gain, found by walking the device
// topology from a recording endpoint's connector along the signal.

#include <cstring>

#include "com.h"
#include "lornic/Lornic.h"

namespace lornic {
namespace {

// A working topology is a short chain of parts; a driver whose parts lead
// back into themselves would otherwise keep the caller walking forever.
const int kMaxPartsOnPath = 4096;

bool SameGuid(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }

// What a visit of a part decided: go on along the path, or end the method
// with a result.
struct Visit {
  bool end;
  int result;
};
const Visit kGoOn = {false, 0};

// Walks the path behind the endpoint: from its connector 0 (which must carry
// the signal out of the endpoint) through the connector at the other end,
// then always the first outgoing part. `visit(part, subtype)` sees every
// part reached that way; `endRule()` gives the result when the path ends at
// an unconnected connector. Every failing call ends the walk with -1.
template <class VisitFn, class EndFn>
int WalkTopology(LPCWSTR id, VisitFn visit, EndFn endRule) {
  Endpoint endpoint;
  ComRef<IDeviceTopology> topology;
  ComRef<IConnector> connector;
  ComRef<IConnector> other;
  ComRef<IPart> current;
  ComRef<IPartsList> parts;
  ComRef<IPart> next;
  if (!OpenAndActivate(id, kIidIDeviceTopology, endpoint, topology)) return -1;
  if (topology->GetConnector(0, connector.Out()) != S_OK || !connector) return -1;
  // Only the flow the call delivers counts; a failed read delivers none.
  DataFlow flow = In;
  connector->GetDataFlow(&flow);
  if (flow != Out) return -1;

  for (int steps = 0; steps < kMaxPartsOnPath; ++steps) {
    // Connector step.
    BOOL connected = FALSE;
    if (connector->IsConnected(&connected) != S_OK) return -1;
    if (!connected) return endRule();
    if (connector->GetConnectedTo(other.Out()) != S_OK || !other) return -1;
    connector.Reset();
    if (other->QueryInterface(kIidIPart, current.OutVoid()) != S_OK || !current) return -1;
    other.Reset();

    // Part steps, until the path reaches a connector.
    for (;; ++steps) {
      if (steps >= kMaxPartsOnPath) return -1;
      if (current->EnumPartsOutgoing(parts.Out()) != S_OK || !parts) return -1;
      HRESULT got = parts->GetPart(0, next.Out());
      parts.Reset();
      if (got != S_OK || !next) return -1;
      PartType type = Subunit;
      GUID subtype;
      if (next->GetPartType(&type) != S_OK || next->GetSubType(&subtype) != S_OK) return -1;
      Visit decided = visit(next.Get(), subtype);
      if (decided.end) return decided.result;
      if (type != Connector) {
        current.MoveFrom(next);
        continue;
      }
      if (next->QueryInterface(kIidIConnector, connector.OutVoid()) != S_OK || !connector) return -1;
      current.Reset();
      next.Reset();
      break;
    }
  }
  return -1;
}

}  // namespace
}  // namespace lornic

using lornic::ComRef;
using lornic::Endpoint;
using lornic::Visit;
using lornic::WaveFamily;

int CLornic::EndpointAGC(LPCWSTR id, ENGetSet mode, int* enabled) {
  auto visit = [&](IPart* part, const GUID& subtype) -> Visit {
    if (!lornic::SameGuid(subtype, lornic::kNodeTypeAgc)) return lornic::kGoOn;
    // The first AGC node on the path is the one; the method ends with it.
    ComRef<IAudioAutoGainControl> agc;
    if (part->Activate(CLSCTX_ALL, lornic::kIidIAudioAutoGainControl, agc.OutVoid()) != S_OK || !agc) {
      return {true, -1};
    }
    if (mode == enGet) return {true, agc->GetEnabled(enabled) == S_OK ? 0 : -1};
    if (mode == enSet) return {true, agc->SetEnabled(*enabled, nullptr) == S_OK ? 0 : -1};
    return {true, -1};
  };
  return lornic::WalkTopology(id, visit, [] { return -1; });
}

int CLornic::GetAGC(int index, int* enabled) {
  return lornic::WithEndpointOf(WaveFamily::In, index, [&](LPCWSTR id) { return EndpointAGC(id, enGet, enabled); });
}

int CLornic::SetAGC(int index, int enabled) {
  return lornic::WithEndpointOf(WaveFamily::In, index, [&](LPCWSTR id) { return EndpointAGC(id, enSet, &enabled); });
}

int CLornic::FindAllVolumeInterfaces(LPCWSTR id, IAudioVolumeLevel** list, int capacity, int* count) {
  *count = 0;
  // Nothing could be stored: the first control found would land beyond the
  // caller's list.
  if (capacity < 1) return -1;
  auto visit = [&](IPart* part, const GUID& subtype) -> Visit {
    if (!lornic::SameGuid(subtype, lornic::kNodeTypeVolume)) return lornic::kGoOn;
    IAudioVolumeLevel* control = nullptr;
    // A volume node that does not activate is passed over.
    if (part->Activate(CLSCTX_ALL, lornic::kIidIAudioVolumeLevel, reinterpret_cast<void**>(&control)) != S_OK ||
        !control) {
      return lornic::kGoOn;
    }
    list[(*count)++] = control;
    if (*count == capacity) return {true, 0};
    return lornic::kGoOn;
  };
  return lornic::WalkTopology(id, visit, [&] { return *count >= 1 ? 0 : -1; });
}

namespace lornic {
namespace {

const int kGainCandidates = 10;

// The candidates found on the path; those still here when the search ends
// are released, the last found first.
struct CandidateList {
  IAudioVolumeLevel* items[kGainCandidates] = {};
  ~CandidateList() {
    for (int i = kGainCandidates - 1; i >= 0; --i) {
      if (items[i]) items[i]->Release();
    }
  }
};

enum class Verdict { Choose, Next, Stop };

// Whether the candidate could be an input gain at all: one channel, a
// level range from at least 0 dB up to at least 19.9 dB. On true, `step`
// is the level difference within which two levels count as the same.
bool QualifiesAsGain(IAudioVolumeLevel* candidate, float* step) {
  UINT channels = 0;
  if (candidate->GetChannelCount(&channels) != S_OK || channels != 1) return false;
  float minimum = 0.0f, maximum = 0.0f, stepping = 0.0f;
  if (candidate->GetLevelRange(0, &minimum, &maximum, &stepping) != S_OK) return false;
  // The maximum is widened, not 19.9 narrowed: a control that stops at the
  // float nearest 19.9 (just below it) is not a 20 dB gain.
  if (!(minimum >= 0.0f) || !(static_cast<double>(maximum) >= 19.9)) return false;
  *step = stepping > 0.1f ? 0.1f : stepping;
  return true;
}

// Whether the candidate is the input gain, or merely the control behind the
// endpoint volume: a candidate that follows the endpoint's level is the
// latter. Where the levels happen to match, the endpoint is moved for a
// moment to see whether the candidate moves with it.
Verdict JudgeCandidate(IAudioVolumeLevel* candidate, IAudioEndpointVolume* endpoint) {
  float step = 0.0f;
  if (!QualifiesAsGain(candidate, &step)) return Verdict::Next;
  // The endpoint volume of a stereo endpoint is never a one-channel control.
  UINT endpointChannels = 0;
  endpoint->GetChannelCount(&endpointChannels);
  if (endpointChannels >= 2) return Verdict::Choose;

  float endpointLevel = 0.0f;
  if (endpoint->GetChannelVolumeLevel(0, &endpointLevel) != S_OK) return Verdict::Stop;
  float level = 0.0f;
  if (candidate->GetLevel(0, &level) != S_OK) return Verdict::Next;
  // Bounds in double, compared without narrowing them back to float.
  const double e = endpointLevel, p = level, s = step;
  if (p <= e - s || p >= e + s) return Verdict::Choose;

  float minimum = 0.0f, maximum = 0.0f, increment = 0.0f;
  if (endpoint->GetVolumeRange(&minimum, &maximum, &increment) != S_OK) return Verdict::Next;
  const double m = minimum;
  float target = (m - s < p && p < m + s) ? maximum : minimum;
  if (endpoint->SetChannelVolumeLevel(0, target, nullptr) != S_OK) return Verdict::Next;
  float moved = 0.0f;
  HRESULT read = candidate->GetLevel(0, &moved);
  // The endpoint goes back to its level whatever the outcome.
  endpoint->SetChannelVolumeLevel(0, endpointLevel, nullptr);
  return read == S_OK && moved == level ? Verdict::Choose : Verdict::Next;
}

}  // namespace
}  // namespace lornic

int CLornic::GetRecordingGainInterface(LPCWSTR id, IAudioVolumeLevel** control) {
  lornic::CandidateList candidates;
  int count = 0;
  if (FindAllVolumeInterfaces(id, candidates.items, lornic::kGainCandidates, &count) != 0) return -1;
  Endpoint endpoint;
  ComRef<IAudioEndpointVolume> volume;
  if (!lornic::OpenAndActivate(id, lornic::kIidIAudioEndpointVolume, endpoint, volume)) return -1;
  for (int i = 0; i < count && candidates.items[i]; ++i) {
    switch (lornic::JudgeCandidate(candidates.items[i], volume.Get())) {
      case lornic::Verdict::Choose:
        *control = candidates.items[i];
        candidates.items[i] = nullptr;
        return 0;
      case lornic::Verdict::Stop: return -1;
      case lornic::Verdict::Next: break;
    }
  }
  return -1;
}

int CLornic::GetGain(int index, int* gain) {
  return lornic::WithEndpointOf(WaveFamily::In, index, [&](LPCWSTR id) {
    ComRef<IAudioVolumeLevel> control;
    if (GetRecordingGainInterface(id, control.Out()) != 0 || !control) return -1;
    float level = 0.0f;
    if (control->GetLevel(0, &level) != S_OK) return -1;
    int32_t whole;
    if (!lornic::TruncateToInt32(level, &whole)) return -1;
    *gain = whole;
    return 0;
  });
}

int CLornic::SetGain(int index, int gain) {
  return lornic::WithEndpointOf(WaveFamily::In, index, [&](LPCWSTR id) {
    ComRef<IAudioVolumeLevel> control;
    if (GetRecordingGainInterface(id, control.Out()) != 0 || !control) return -1;
    // Not held against the control's range: a level it refuses gives -1.
    return control->SetLevel(0, static_cast<float>(gain), nullptr) == S_OK ? 0 : -1;
  });
}
