// The documented identifiers of the audio interfaces the library works
// through, with their published values.
#pragma once

#include "platform/audio.h"

namespace lornic {

extern const CLSID kClsidMMDeviceEnumerator;
extern const IID kIidIMMDeviceEnumerator;
extern const IID kIidIAudioEndpointVolume;
extern const IID kIidIDeviceTopology;
extern const IID kIidIConnector;
extern const IID kIidIPart;
extern const IID kIidIAudioAutoGainControl;
extern const IID kIidIAudioVolumeLevel;
extern const GUID kNodeTypeAgc;
extern const GUID kNodeTypeVolume;
extern const PROPERTYKEY kKeyDeviceFriendlyName;

}  // namespace lornic
