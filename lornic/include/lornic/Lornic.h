// LornicLib: the level, volume, mute, automatic gain control, input gain and
// names of the audio endpoints behind waveIn (recording) and waveOut
// (playback) devices.
//
// Construct a CLornic on a thread (that initialises COM there), call its
// methods, destroy it. Every method returns 0 on success and -1 on any
// failure, throws nothing and shows nothing; each creates the COM objects it
// needs and releases them before it returns. Endpoint identifiers handed out
// are freed by the caller with CoTaskMemFree; IAudioVolumeLevel references
// handed out are released by the caller.
#pragma once

#include <cstdint>

#include "platform/audio.h"

#if defined(_WIN32)
#if defined(LORNIC_BUILDING)
#define LORNIC_API __declspec(dllexport)
#else
#define LORNIC_API __declspec(dllimport)
#endif
#else
#define LORNIC_API __attribute__((visibility("default")))
#endif

// The first two channels of an endpoint, each 0 to 65535.
struct STStereoLevel {
  int32_t Left;   // channel 0
  int32_t Right;  // channel 1
  int32_t Size;   // bytes of Left and Right that hold a level: 0, 4 or 8
};
static_assert(sizeof(STStereoLevel) == 12, "STStereoLevel is three 32-bit fields without gaps");

class LORNIC_API CLornic {
 public:
  enum ENGetSet : int32_t { enGet = 0, enSet = 1 };

  CLornic();
  ~CLornic();
  // Initialises COM on the calling thread (single-threaded apartment); a
  // thread where it is already initialised goes on as it is.
  void Constructor();
  void Destructor();

  // Endpoint identifier of a waveIn / waveOut device index. On 0 `id` holds
  // a CoTaskMemAlloc'd identifier, on -1 null.
  int GetRecordingDeviceEndpointID(int index, LPWSTR* id);
  int GetPlaybackDeviceEndpointID(int index, LPWSTR* id);

  // Per-channel volume, 0 to 65535, of `count` channels. On enGet a channel
  // that cannot be read holds -1.
  int EndpointVolume(LPCWSTR id, ENGetSet mode, int32_t* levels, int count);
  int GetVolume(LPCWSTR id, STStereoLevel* level);
  int SetVolume(LPCWSTR id, const STStereoLevel* level);
  int GetRecordingLevel(int index, STStereoLevel* level);
  int SetRecordingLevel(int index, const STStereoLevel* level);
  int GetPlaybackVolume(int index, STStereoLevel* level);
  int SetPlaybackVolume(int index, const STStereoLevel* level);

  // Mute flag: 0 not muted, anything else muted.
  int EndpointMute(LPCWSTR id, ENGetSet mode, int* mute);
  int GetMute(int index, int* mute);
  int SetMute(int index, int mute);
  int GetPlaybackMute(int index, int* mute);
  int SetPlaybackMute(int index, int mute);

  // Automatic gain control of a recording endpoint: 0 disabled, else enabled.
  int EndpointAGC(LPCWSTR id, ENGetSet mode, int* enabled);
  int GetAGC(int index, int* enabled);
  int SetAGC(int index, int enabled);

  // Volume controls on the recording path: at most `capacity` references
  // stored in `list`, `*count` of them, owned by the caller on every result.
  int FindAllVolumeInterfaces(LPCWSTR id, IAudioVolumeLevel** list, int capacity, int* count);
  // The control that acts as the input gain; the caller releases it.
  int GetRecordingGainInterface(LPCWSTR id, IAudioVolumeLevel** control);
  // Input gain in whole decibels.
  int GetGain(int index, int* gain);
  int SetGain(int index, int gain);

  // Names in the ANSI code page, cut to size - 1 bytes; byte size - 1 is
  // always zero on 0, and the buffer is untouched on -1.
  int EndpointName(LPCWSTR id, char* name, int size);
  int GetRecordingDeviceName(int index, char* name, int size);
  int GetPlaybackDeviceName(int index, char* name, int size);
  int GetDefaultPlaybackDeviceName(char* name, int size);
};

// The library unit's initialisation and finalisation, run when the library
// is loaded and unloaded.
namespace Lornicclass {
LORNIC_API void Initialize();
LORNIC_API void Finalize();
}  // namespace Lornicclass
