#include "sim_audio.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "identifiers.h"

namespace sim {

const GUID kSubtypeAgc = lornic::kNodeTypeAgc;
const GUID kSubtypeVolume = lornic::kNodeTypeVolume;
const GUID kSubtypeOther = {0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55}};

std::u16string U16(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

namespace {

bool Same(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }

const IID kIidIUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// One simulated COM object, handed out as interface `I` (whose name labels
// its calls). Released objects stay allocated, so that a release too many or
// a call through a released pointer is recorded instead of corrupting memory.
template <class I>
class ComObject : public AudioSystem::Object, public I {
 public:
  ComObject(AudioSystem& system, std::string kind, const IID& iid)
      : AudioSystem::Object(system), kind_(std::move(kind)), iid_(iid) {}

  HRESULT QueryInterface(REFIID iid, void** object) override {
    if (Fails("QueryInterface")) return E_FAIL;
    if (Same(iid, iid_) || Same(iid, kIidIUnknown)) {
      ++references;
      *object = static_cast<I*>(this);
      return S_OK;
    }
    return QueryOther(iid, object);
  }
  ULONG AddRef() override {
    system.Event("AddRef " + kind_);
    return static_cast<ULONG>(++references);
  }
  ULONG Release() override {
    system.Event("Release " + kind_);
    if (references <= 0) {
      system.Error("release of a released " + kind_);
      return 0;
    }
    return static_cast<ULONG>(--references);
  }

 protected:
  // Another interface of the same object: a new object here, as a
  // tear-off would be.
  virtual HRESULT QueryOther(REFIID, void** object) {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  // Records the call of `method`; true when it is to fail.
  bool Fails(const char* method) {
    std::string name = kind_.substr(0, kind_.find('(')) + "::" + method;
    if (references <= 0) {
      system.Error("call of " + name + " through a released pointer");
      return true;
    }
    return system.Gate(name);
  }

 private:
  std::string kind_;
  IID iid_;
};

class AgcObject : public ComObject<IAudioAutoGainControl> {
 public:
  AgcObject(AudioSystem& s, Part* part)
      : ComObject(s, "IAudioAutoGainControl", lornic::kIidIAudioAutoGainControl), part_(part) {}
  HRESULT GetEnabled(BOOL* enabled) override {
    if (Fails("GetEnabled")) return E_FAIL;
    *enabled = part_->agcEnabled;
    return S_OK;
  }
  HRESULT SetEnabled(BOOL enabled, LPCGUID) override {
    if (Fails("SetEnabled")) return E_FAIL;
    part_->agcEnabled = enabled ? TRUE : FALSE;
    return S_OK;
  }

 private:
  Part* part_;
};

class VolumeLevelObject : public ComObject<IAudioVolumeLevel> {
 public:
  VolumeLevelObject(AudioSystem& s, Part* part)
      : ComObject(s, "IAudioVolumeLevel", lornic::kIidIAudioVolumeLevel), c_(part->volume) {}
  HRESULT GetChannelCount(UINT* count) override {
    if (Fails("GetChannelCount")) return E_FAIL;
    *count = c_.channels;
    return S_OK;
  }
  HRESULT GetLevelRange(UINT channel, float* minimum, float* maximum, float* stepping) override {
    if (Fails("GetLevelRange")) return E_FAIL;
    if (channel >= c_.channels) return E_INVALIDARG;
    *minimum = c_.minimum, *maximum = c_.maximum, *stepping = c_.stepping;
    return S_OK;
  }
  HRESULT GetLevel(UINT channel, float* level) override {
    if (Fails("GetLevel")) return E_FAIL;
    if (channel >= c_.channels) return E_INVALIDARG;
    *level = (c_.tracks && channel == 0) ? c_.tracks->levelsDb[0] : c_.levels[channel];
    return S_OK;
  }
  HRESULT SetLevel(UINT channel, float level, LPCGUID) override {
    if (Fails("SetLevel")) return E_FAIL;
    if (channel >= c_.channels) return E_INVALIDARG;
    if (c_.refusesOutOfRange && (level < c_.minimum || level > c_.maximum)) return E_INVALIDARG;
    if (c_.tracks && channel == 0) {
      c_.tracks->levelsDb[0] = level;
    } else {
      c_.levels[channel] = level;
    }
    return S_OK;
  }

 private:
  VolumeControl& c_;
};

class PartObject;

class ConnectorObject : public ComObject<IConnector> {
 public:
  ConnectorObject(AudioSystem& s, Part* part)
      : ComObject(s, "IConnector(" + part->name + ")", lornic::kIidIConnector), part_(part) {}
  HRESULT GetDataFlow(DataFlow* flow) override {
    if (Fails("GetDataFlow")) return E_FAIL;
    *flow = part_->flow;
    return S_OK;
  }
  HRESULT IsConnected(BOOL* connected) override {
    if (Fails("IsConnected")) return E_FAIL;
    *connected = part_->connectedTo ? TRUE : FALSE;
    return S_OK;
  }
  HRESULT GetConnectedTo(IConnector** other) override {
    if (Fails("GetConnectedTo")) return E_FAIL;
    if (!part_->connectedTo) return E_NOTFOUND;
    *other = system.Make<ConnectorObject>(part_->connectedTo);
    return S_OK;
  }

 protected:
  HRESULT QueryOther(REFIID iid, void** object) override;

 private:
  Part* part_;
};

class PartsListObject : public ComObject<IPartsList> {
 public:
  PartsListObject(AudioSystem& s, Part* part) : ComObject(s, "IPartsList", {}), part_(part) {}
  HRESULT GetPart(UINT index, IPart** part) override;

 private:
  Part* part_;
};

class PartObject : public ComObject<IPart> {
 public:
  PartObject(AudioSystem& s, Part* part) : ComObject(s, "IPart(" + part->name + ")", lornic::kIidIPart), part_(part) {}
  HRESULT GetPartType(PartType* type) override {
    if (Fails("GetPartType")) return E_FAIL;
    *type = part_->type;
    return S_OK;
  }
  HRESULT GetSubType(GUID* subtype) override {
    if (Fails("GetSubType")) return E_FAIL;
    *subtype = part_->subtype;
    return S_OK;
  }
  HRESULT EnumPartsOutgoing(IPartsList** parts) override {
    if (Fails("EnumPartsOutgoing")) return E_FAIL;
    *parts = system.Make<PartsListObject>(part_);
    return S_OK;
  }
  HRESULT Activate(DWORD, REFIID iid, void** object) override {
    if (Fails("Activate")) return E_FAIL;
    if (Same(iid, lornic::kIidIAudioAutoGainControl) && part_->hasAgc) {
      *object = static_cast<IAudioAutoGainControl*>(system.Make<AgcObject>(part_));
      return S_OK;
    }
    if (Same(iid, lornic::kIidIAudioVolumeLevel) && part_->hasVolume) {
      *object = static_cast<IAudioVolumeLevel*>(system.Make<VolumeLevelObject>(part_));
      return S_OK;
    }
    return E_NOINTERFACE;
  }

 protected:
  HRESULT QueryOther(REFIID iid, void** object) override {
    if (Same(iid, lornic::kIidIConnector) && part_->type == Connector) {
      *object = static_cast<IConnector*>(system.Make<ConnectorObject>(part_));
      return S_OK;
    }
    return ComObject::QueryOther(iid, object);
  }

 private:
  Part* part_;
};

HRESULT ConnectorObject::QueryOther(REFIID iid, void** object) {
  if (Same(iid, lornic::kIidIPart)) {
    *object = static_cast<IPart*>(system.Make<PartObject>(part_));
    return S_OK;
  }
  return ComObject::QueryOther(iid, object);
}

HRESULT PartsListObject::GetPart(UINT index, IPart** part) {
  if (Fails("GetPart")) return E_FAIL;
  if (index >= part_->outgoing.size()) return E_NOTFOUND;
  *part = system.Make<PartObject>(part_->outgoing[index]);
  return S_OK;
}

class TopologyObject : public ComObject<IDeviceTopology> {
 public:
  TopologyObject(AudioSystem& s, Endpoint* e) : ComObject(s, "IDeviceTopology", lornic::kIidIDeviceTopology), e_(e) {}
  HRESULT GetConnector(UINT index, IConnector** connector) override {
    if (Fails("GetConnector")) return E_FAIL;
    if (index != 0) return E_INVALIDARG;
    *connector = system.Make<ConnectorObject>(e_->connector);
    return S_OK;
  }

 private:
  Endpoint* e_;
};

class EndpointVolumeObject : public ComObject<IAudioEndpointVolume> {
 public:
  EndpointVolumeObject(AudioSystem& s, Endpoint* e)
      : ComObject(s, "IAudioEndpointVolume", lornic::kIidIAudioEndpointVolume), e_(e) {}
  HRESULT GetChannelCount(UINT* count) override {
    if (Fails("GetChannelCount")) return E_FAIL;
    *count = static_cast<UINT>(e_->scalars.size());
    return S_OK;
  }
  HRESULT GetVolumeRange(float* minimum, float* maximum, float* increment) override {
    if (Fails("GetVolumeRange")) return E_FAIL;
    *minimum = e_->minimumDb, *maximum = e_->maximumDb, *increment = e_->incrementDb;
    return S_OK;
  }
  HRESULT GetChannelVolumeLevel(UINT channel, float* level) override {
    if (Fails("GetChannelVolumeLevel")) return E_FAIL;
    if (channel >= e_->levelsDb.size()) return E_INVALIDARG;
    *level = e_->levelsDb[channel];
    return S_OK;
  }
  HRESULT SetChannelVolumeLevel(UINT channel, float level, LPCGUID) override {
    if (Fails("SetChannelVolumeLevel")) return E_FAIL;
    system.Event("endpoint level " + std::to_string(channel) + " := " + std::to_string(level));
    if (channel >= e_->levelsDb.size() || level < e_->minimumDb || level > e_->maximumDb) return E_INVALIDARG;
    e_->levelsDb[channel] = level;
    return S_OK;
  }
  HRESULT GetChannelVolumeLevelScalar(UINT channel, float* level) override {
    if (Fails("GetChannelVolumeLevelScalar")) return E_FAIL;
    if (channel >= e_->scalars.size()) return E_INVALIDARG;
    *level = e_->scalars[channel];
    return S_OK;
  }
  HRESULT SetChannelVolumeLevelScalar(UINT channel, float level, LPCGUID) override {
    if (Fails("SetChannelVolumeLevelScalar")) return E_FAIL;
    if (channel >= e_->scalars.size()) return E_INVALIDARG;
    // Stored as given: the tests see exactly the scalar they were sent.
    e_->scalars[channel] = level;
    return S_OK;
  }
  HRESULT GetMute(BOOL* mute) override {
    if (Fails("GetMute")) return E_FAIL;
    *mute = e_->mute;
    return S_OK;
  }
  HRESULT SetMute(BOOL mute, LPCGUID) override {
    if (Fails("SetMute")) return E_FAIL;
    system.Event("SetMute " + std::to_string(mute));
    e_->mute = mute ? TRUE : FALSE;
    return S_OK;
  }

 private:
  Endpoint* e_;
};

class PropertyStoreObject : public ComObject<IPropertyStore> {
 public:
  PropertyStoreObject(AudioSystem& s, Endpoint* e) : ComObject(s, "IPropertyStore", {}), e_(e) {}
  HRESULT GetValue(REFPROPERTYKEY key, PROPVARIANT* value) override {
    if (Fails("GetValue")) return E_FAIL;
    // A property the endpoint does not have reads as an empty value.
    value->vt = VT_EMPTY;
    if (Same(key.fmtid, lornic::kKeyDeviceFriendlyName.fmtid) && key.pid == lornic::kKeyDeviceFriendlyName.pid &&
        e_->hasName) {
      value->vt = VT_LPWSTR;
      value->pwszVal = system.CopyString(e_->friendlyName);
    }
    return S_OK;
  }

 private:
  Endpoint* e_;
};

class DeviceObject : public ComObject<IMMDevice> {
 public:
  DeviceObject(AudioSystem& s, Endpoint* e) : ComObject(s, "IMMDevice", {}), e_(e) {}
  HRESULT Activate(REFIID iid, DWORD, PROPVARIANT*, void** object) override {
    if (Fails("Activate")) return E_FAIL;
    if (Same(iid, lornic::kIidIAudioEndpointVolume)) {
      *object = static_cast<IAudioEndpointVolume*>(system.Make<EndpointVolumeObject>(e_));
      return S_OK;
    }
    if (Same(iid, lornic::kIidIDeviceTopology) && e_->connector) {
      *object = static_cast<IDeviceTopology*>(system.Make<TopologyObject>(e_));
      return S_OK;
    }
    return E_NOINTERFACE;
  }
  HRESULT OpenPropertyStore(DWORD access, IPropertyStore** store) override {
    if (Fails("OpenPropertyStore")) return E_FAIL;
    if (access != STGM_READ) return E_INVALIDARG;
    *store = system.Make<PropertyStoreObject>(e_);
    return S_OK;
  }
  HRESULT GetId(LPWSTR* id) override {
    if (Fails("GetId")) return E_FAIL;
    *id = system.CopyString(e_->id);
    return S_OK;
  }

 private:
  Endpoint* e_;
};

class EnumeratorObject : public ComObject<IMMDeviceEnumerator> {
 public:
  explicit EnumeratorObject(AudioSystem& s) : ComObject(s, "IMMDeviceEnumerator", lornic::kIidIMMDeviceEnumerator) {}
  HRESULT GetDefaultAudioEndpoint(EDataFlow flow, ERole role, IMMDevice** device) override {
    if (Fails("GetDefaultAudioEndpoint")) return E_FAIL;
    if (flow != eRender || role != eMultimedia || !system.defaultRender) return E_NOTFOUND;
    *device = system.Make<DeviceObject>(system.defaultRender);
    return S_OK;
  }
  HRESULT GetDevice(LPCWSTR id, IMMDevice** device) override {
    if (Fails("GetDevice")) return E_FAIL;
    Endpoint* endpoint = system.FindEndpoint(id);
    if (!endpoint) return E_NOTFOUND;
    *device = system.Make<DeviceObject>(endpoint);
    return S_OK;
  }
};

}  // namespace

AudioSystem::AudioSystem() : previous_(platform::audio::SetAudioSystem(this)) {}

AudioSystem::~AudioSystem() {
  platform::audio::SetAudioSystem(previous_);
  for (auto& block : blocks_) std::free(block.first);
}

Endpoint* AudioSystem::AddEndpoint(const std::u16string& id, std::vector<float> scalars) {
  endpoints_.push_back(std::make_unique<Endpoint>());
  Endpoint* e = endpoints_.back().get();
  e->id = id;
  e->friendlyName = id;
  e->levelsDb.assign(scalars.size(), 0.0f);
  e->scalars = std::move(scalars);
  return e;
}

Part* AudioSystem::AddPart(PartType type, const GUID& subtype, const std::string& name) {
  parts_.push_back(std::make_unique<Part>());
  Part* p = parts_.back().get();
  p->name = name;
  p->type = type;
  p->subtype = subtype;
  p->hasAgc = Same(subtype, kSubtypeAgc);
  p->hasVolume = Same(subtype, kSubtypeVolume);
  return p;
}

Part* AudioSystem::AddTopology(Endpoint* endpoint, DataFlow flow) {
  Part* own = AddPart(Connector, kSubtypeOther, "endpoint");
  Part* adapter = AddPart(Connector, kSubtypeOther, "adapter");
  own->flow = flow;
  adapter->flow = flow == Out ? In : Out;
  own->connectedTo = adapter;
  adapter->connectedTo = own;
  endpoint->connector = own;
  return adapter;
}

void AudioSystem::ResetCalls() {
  calls_.clear();
  events_.clear();
  seen_.clear();
  failAt_ = 0;
  failName_.clear();
  failOccurrence_ = 0;
}

void AudioSystem::FailCall(int k) { failAt_ = k; }

void AudioSystem::FailNamed(const std::string& name, int occurrence) {
  failName_ = name;
  failOccurrence_ = occurrence;
}

int AudioSystem::CallCount(const std::string& name) const {
  auto it = seen_.find(name);
  return it == seen_.end() ? 0 : it->second;
}

bool AudioSystem::Gate(const std::string& name) {
  calls_.push_back(name);
  events_.push_back(name);
  int occurrence = ++seen_[name];
  bool fail = static_cast<int>(calls_.size()) == failAt_ || (name == failName_ && occurrence == failOccurrence_);
  if (fail) events_.back() += " -> fails";
  return fail;
}

int AudioSystem::HeldReferences() const {
  int held = 0;
  for (const auto& object : objects_) held += object->references > 0 ? object->references : 0;
  return held;
}

void AudioSystem::DropReleased() {
  std::vector<std::unique_ptr<Object>> kept;
  for (auto& object : objects_) {
    if (object->references > 0) kept.push_back(std::move(object));
  }
  objects_.swap(kept);
}

Endpoint* AudioSystem::FindEndpoint(LPCWSTR id) {
  for (auto& e : endpoints_) {
    if (std::u16string(id) == e->id) return e.get();
  }
  return nullptr;
}

LPWSTR AudioSystem::CopyString(const std::u16string& text) {
  size_t bytes = (text.size() + 1) * sizeof(char16_t);
  auto* copy = static_cast<LPWSTR>(std::malloc(bytes));
  std::memcpy(copy, text.c_str(), bytes);
  blocks_[copy] = bytes;
  return copy;
}

UINT AudioSystem::WaveGetNumDevs(platform::audio::WaveFamily family) {
  bool in = family == platform::audio::WaveFamily::In;
  if (Gate(in ? "waveInGetNumDevs" : "waveOutGetNumDevs")) return 0;
  return static_cast<UINT>((in ? waveIn : waveOut).size());
}

MMRESULT AudioSystem::WaveMessage(platform::audio::WaveFamily family, UINT_PTR device, UINT message, DWORD_PTR param1,
                                  DWORD_PTR param2) {
  bool in = family == platform::audio::WaveFamily::In;
  char name[40];
  std::snprintf(name, sizeof name, "%s(0x%X)", in ? "waveInMessage" : "waveOutMessage", message);
  if (Gate(name)) return MMSYSERR_ERROR;
  std::vector<WaveDevice>& devices = in ? waveIn : waveOut;
  if (device >= devices.size()) return MMSYSERR_BADDEVICEID;
  const WaveDevice& d = devices[device];
  DWORD needed = static_cast<DWORD>((d.instanceId.size() + (d.terminates ? 1 : 0)) * sizeof(char16_t));
  if (message == DRV_QUERYFUNCTIONINSTANCEIDSIZE) {
    if (!d.reportsSize) return MMSYSERR_NOTSUPPORTED;
    *reinterpret_cast<DWORD*>(param1) = d.sizeOverride ? d.sizeOverride : needed;
    return MMSYSERR_NOERROR;
  }
  if (message == DRV_QUERYFUNCTIONINSTANCEID) {
    if (param2 < needed) return MMSYSERR_ERROR;
    std::memcpy(reinterpret_cast<void*>(param1), d.instanceId.c_str(), needed);
    return MMSYSERR_NOERROR;
  }
  return MMSYSERR_NOTSUPPORTED;
}

HRESULT AudioSystem::CreateInstance(REFCLSID clsid, IUnknown*, DWORD, REFIID iid, LPVOID* object) {
  if (Gate("CoCreateInstance")) return E_FAIL;
  if (!Same(clsid, lornic::kClsidMMDeviceEnumerator)) return REGDB_E_CLASSNOTREG;
  if (!Same(iid, lornic::kIidIMMDeviceEnumerator)) return E_NOINTERFACE;
  *object = static_cast<IMMDeviceEnumerator*>(Make<EnumeratorObject>());
  return S_OK;
}

LPVOID AudioSystem::TaskMemAlloc(SIZE_T size) {
  if (Gate("CoTaskMemAlloc")) return nullptr;
  void* block = std::malloc(size ? size : 1);
  blocks_[block] = size;
  return block;
}

void AudioSystem::TaskMemFree(LPVOID block) {
  events_.push_back("CoTaskMemFree");
  auto it = blocks_.find(block);
  if (it == blocks_.end()) {
    // Not ours (a block from before this system was registered, or a
    // double free): recorded, and left alone.
    Error("CoTaskMemFree of a block not allocated here");
    return;
  }
  blocks_.erase(it);
  std::free(block);
}

int AudioSystem::WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR text, int length, LPSTR buffer, int size,
                                     LPCSTR defaultChar, BOOL* usedDefaultChar) {
  if (Gate("WideCharToMultiByte")) return 0;
  return platform::audio::AudioSystem::WideCharToMultiByte(codePage, flags, text, length, buffer, size, defaultChar,
                                                           usedDefaultChar);
}

}  // namespace sim
