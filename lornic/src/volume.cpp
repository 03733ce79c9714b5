// Endpoint volume and mute.

#include "com.h"
#include "lornic/Lornic.h"

namespace lornic {
namespace {

const double kLevelScale = 65535.0;

// The scalar widened to double before the product: in single precision the
// product would round differently from one target to the other (x87 keeps
// extra precision), and callers see these figures.
bool LevelFromScalar(float scalar, int32_t* level) {
  return TruncateToInt32(static_cast<double>(scalar) * kLevelScale, level);
}

float ScalarFromLevel(int32_t level) { return static_cast<float>(static_cast<double>(level) / kLevelScale); }

}  // namespace
}  // namespace lornic

using lornic::ComRef;
using lornic::Endpoint;
using lornic::WaveFamily;

int CLornic::EndpointVolume(LPCWSTR id, ENGetSet mode, int32_t* levels, int count) {
  Endpoint endpoint;
  ComRef<IAudioEndpointVolume> volume;
  if (!lornic::OpenAndActivate(id, lornic::kIidIAudioEndpointVolume, endpoint, volume)) return -1;
  UINT channels = 0;
  if (volume->GetChannelCount(&channels) != S_OK) return -1;
  if (mode == enGet) {
    for (int i = 0; i < count; ++i) {
      levels[i] = -1;  // no level, unless the channel reads
      float scalar = 0.0f;
      if (static_cast<UINT>(i) < channels && volume->GetChannelVolumeLevelScalar(i, &scalar) == S_OK) {
        int32_t level;
        if (lornic::LevelFromScalar(scalar, &level)) levels[i] = level;
      }
    }
    return 0;
  }
  if (mode == enSet) {
    // A channel that refuses its level is not reported: the others are
    // still set.
    for (int i = 0; i < count && static_cast<UINT>(i) < channels; ++i) {
      volume->SetChannelVolumeLevelScalar(i, lornic::ScalarFromLevel(levels[i]), nullptr);
    }
    return 0;
  }
  return -1;
}

int CLornic::GetVolume(LPCWSTR id, STStereoLevel* level) {
  int32_t read[2] = {-1, -1};
  if (EndpointVolume(id, enGet, read, 2) != 0) return -1;
  if (read[0] == -1) {
    *level = {0, 0, 0};
  } else if (read[1] == -1) {
    *level = {read[0], 0, 4};
  } else {
    *level = {read[0], read[1], 8};
  }
  return 0;
}

int CLornic::SetVolume(LPCWSTR id, const STStereoLevel* level) {
  int32_t levels[2] = {level->Left, level->Right};
  switch (level->Size) {
    case 8: return EndpointVolume(id, enSet, levels, 2);
    case 4: return EndpointVolume(id, enSet, levels, 1);
    case 0: return 0;  // nothing to change: the endpoint is not even opened
    default: return -1;
  }
}

int CLornic::GetRecordingLevel(int index, STStereoLevel* level) {
  return lornic::WithEndpointOf(WaveFamily::In, index, [&](LPCWSTR id) { return GetVolume(id, level); });
}

int CLornic::SetRecordingLevel(int index, const STStereoLevel* level) {
  return lornic::WithEndpointOf(WaveFamily::In, index, [&](LPCWSTR id) { return SetVolume(id, level); });
}

int CLornic::GetPlaybackVolume(int index, STStereoLevel* level) {
  return lornic::WithEndpointOf(WaveFamily::Out, index, [&](LPCWSTR id) { return GetVolume(id, level); });
}

int CLornic::SetPlaybackVolume(int index, const STStereoLevel* level) {
  return lornic::WithEndpointOf(WaveFamily::Out, index, [&](LPCWSTR id) { return SetVolume(id, level); });
}

int CLornic::EndpointMute(LPCWSTR id, ENGetSet mode, int* mute) {
  Endpoint endpoint;
  ComRef<IAudioEndpointVolume> volume;
  if (!lornic::OpenAndActivate(id, lornic::kIidIAudioEndpointVolume, endpoint, volume)) return -1;
  // The flag goes to the endpoint as it is: any nonzero value mutes.
  if (mode == enGet) return volume->GetMute(mute) == S_OK ? 0 : -1;
  if (mode == enSet) return volume->SetMute(*mute, nullptr) == S_OK ? 0 : -1;
  return -1;
}

int CLornic::GetMute(int index, int* mute) {
  return lornic::WithEndpointOf(WaveFamily::In, index, [&](LPCWSTR id) { return EndpointMute(id, enGet, mute); });
}

int CLornic::SetMute(int index, int mute) {
  return lornic::WithEndpointOf(WaveFamily::In, index, [&](LPCWSTR id) { return EndpointMute(id, enSet, &mute); });
}

int CLornic::GetPlaybackMute(int index, int* mute) {
  return lornic::WithEndpointOf(WaveFamily::Out, index, [&](LPCWSTR id) { return EndpointMute(id, enGet, mute); });
}

int CLornic::SetPlaybackMute(int index, int mute) {
  return lornic::WithEndpointOf(WaveFamily::Out, index, [&](LPCWSTR id) { return EndpointMute(id, enSet, &mute); });
}
