// The library frame: construction, and the mapping of wave device indexes to
// endpoint identifiers.

#include <climits>
#include <cmath>
#include <cstring>

#include "com.h"
#include "lornic/Lornic.h"

namespace lornic {

bool CreateEnumerator(ComRef<IMMDeviceEnumerator>& enumerator) {
  return CoCreateInstance(kClsidMMDeviceEnumerator, nullptr, CLSCTX_ALL, kIidIMMDeviceEnumerator,
                          enumerator.OutVoid()) == S_OK &&
         enumerator;
}

bool OpenEndpoint(LPCWSTR id, Endpoint& endpoint) {
  return CreateEnumerator(endpoint.enumerator) && endpoint.enumerator->GetDevice(id, endpoint.device.Out()) == S_OK &&
         endpoint.device;
}

namespace {

UINT WaveDeviceCount(WaveFamily family) { return family == WaveFamily::In ? waveInGetNumDevs() : waveOutGetNumDevs(); }

MMRESULT WaveDeviceMessage(WaveFamily family, int index, UINT message, DWORD_PTR param1, DWORD_PTR param2) {
  // The device is named by its index in place of a handle.
  UINT_PTR device = static_cast<UINT_PTR>(index);
  return family == WaveFamily::In ? waveInMessage(reinterpret_cast<HWAVEIN>(device), message, param1, param2)
                                  : waveOutMessage(reinterpret_cast<HWAVEOUT>(device), message, param1, param2);
}

// Room after the identifier the driver writes. Zeroed, so that the block
// is a terminated string even when the driver's identifier is not.
const DWORD kIdSlack = 4;

}  // namespace

int EndpointIdOfWaveDevice(WaveFamily family, int index, LPWSTR* id) {
  *id = nullptr;
  // The wave mapper (-1) has no endpoint of its own.
  UINT count = WaveDeviceCount(family);
  if (index < 0 || static_cast<UINT>(index) >= count) return -1;
  DWORD size = 0;
  if (WaveDeviceMessage(family, index, DRV_QUERYFUNCTIONINSTANCEIDSIZE, reinterpret_cast<DWORD_PTR>(&size), 0) !=
      MMSYSERR_NOERROR) {
    return -1;
  }
  // A size this close to the 32-bit limit would wrap with the slack added
  // and leave the driver a block smaller than the size it was told.
  if (size > UINT32_MAX - kIdSlack) return -1;
  auto* block = static_cast<unsigned char*>(CoTaskMemAlloc(static_cast<SIZE_T>(size) + kIdSlack));
  if (!block) return -1;
  std::memset(block + size, 0, kIdSlack);
  *id = reinterpret_cast<LPWSTR>(block);
  if (WaveDeviceMessage(family, index, DRV_QUERYFUNCTIONINSTANCEID, reinterpret_cast<DWORD_PTR>(block), size) !=
      MMSYSERR_NOERROR) {
    CoTaskMemFree(block);
    *id = nullptr;
  }
  return *id ? 0 : -1;
}

bool TruncateToInt32(double value, int32_t* result) {
  if (std::isnan(value)) return false;
  if (value >= 2147483647.0) {
    *result = INT32_MAX;
  } else if (value <= -2147483648.0) {
    *result = INT32_MIN;
  } else {
    *result = static_cast<int32_t>(value);
  }
  return true;
}

}  // namespace lornic

using lornic::WaveFamily;

CLornic::CLornic() { Constructor(); }

CLornic::~CLornic() { Destructor(); }

void CLornic::Constructor() {
  // Already initialised on this thread, in either model: carry on as it is.
  CoInitialize(nullptr);
}

// COM stays initialised: the thread may have had it before us, and the
// caller's other objects may still need it.
void CLornic::Destructor() {}

int CLornic::GetRecordingDeviceEndpointID(int index, LPWSTR* id) {
  return lornic::EndpointIdOfWaveDevice(WaveFamily::In, index, id);
}

int CLornic::GetPlaybackDeviceEndpointID(int index, LPWSTR* id) {
  return lornic::EndpointIdOfWaveDevice(WaveFamily::Out, index, id);
}
