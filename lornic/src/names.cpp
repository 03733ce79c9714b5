// Endpoint names, in the ANSI code page.

#include "com.h"
#include "lornic/Lornic.h"

namespace lornic {
namespace {

// A property value, cleared (and what it owns freed) on the way out.
struct PropertyValue {
  PROPVARIANT value;
  PropertyValue() {
    value = PROPVARIANT();
    value.vt = VT_EMPTY;
  }
  ~PropertyValue() { PropVariantClear(&value); }
};

}  // namespace
}  // namespace lornic

using lornic::ComRef;
using lornic::Endpoint;
using lornic::WaveFamily;

int CLornic::EndpointName(LPCWSTR id, char* name, int size) {
  // There is no byte size - 1 to terminate, and any write would fall
  // outside the caller's buffer.
  if (size < 1) return -1;
  Endpoint endpoint;
  ComRef<IPropertyStore> store;
  lornic::PropertyValue friendlyName;
  if (!lornic::OpenEndpoint(id, endpoint)) return -1;
  if (endpoint.device->OpenPropertyStore(STGM_READ, store.Out()) != S_OK || !store) return -1;
  if (store->GetValue(lornic::kKeyDeviceFriendlyName, &friendlyName.value) != S_OK) return -1;
  // A name too long for the buffer is cut to it; with size 1 there is no
  // room at all and only the terminator below is written.
  if (friendlyName.value.vt == VT_LPWSTR) {
    WideCharToMultiByte(CP_ACP, 0, friendlyName.value.pwszVal, -1, name, size - 1, nullptr, nullptr);
  }
  name[size - 1] = '\0';
  return 0;
}

int CLornic::GetRecordingDeviceName(int index, char* name, int size) {
  return lornic::WithEndpointOf(WaveFamily::In, index, [&](LPCWSTR id) { return EndpointName(id, name, size); });
}

int CLornic::GetPlaybackDeviceName(int index, char* name, int size) {
  return lornic::WithEndpointOf(WaveFamily::Out, index, [&](LPCWSTR id) { return EndpointName(id, name, size); });
}

int CLornic::GetDefaultPlaybackDeviceName(char* name, int size) {
  lornic::TaskMemString id;
  ComRef<IMMDeviceEnumerator> enumerator;
  ComRef<IMMDevice> device;
  if (!lornic::CreateEnumerator(enumerator)) return -1;
  if (enumerator->GetDefaultAudioEndpoint(eRender, eMultimedia, device.Out()) != S_OK || !device) return -1;
  if (device->GetId(id.Out()) != S_OK || !id.Get()) return -1;
  // Named by its identifier, through an enumerator of EndpointName's own.
  return EndpointName(id.Get(), name, size);
}
