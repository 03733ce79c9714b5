// A simulated audio system for the tests of the library: wave devices behind
// their function instance identifiers, endpoints with channels, levels,
// ranges, mute and names, and device topologies of connectors and parts with
// AGC and volume controls.
//
// Every platform call the library makes passes one gate, which records it
// and can make it fail: the k-th call since the last reset, or the n-th call
// of a given name ("IAudioEndpointVolume::GetMute"). Every interface handed
// out is counted until released, and every CoTaskMemAlloc block until freed;
// a release too many, a call on a released interface or the freeing of a
// foreign block is recorded as an error.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/audio_system.h"

namespace sim {

extern const GUID kSubtypeAgc;
extern const GUID kSubtypeVolume;
extern const GUID kSubtypeOther;

struct Endpoint;

// A volume control of a topology (IAudioVolumeLevel), levels in dB. One that
// tracks an endpoint is the control behind that endpoint's volume: its
// channel 0 reads and sets the endpoint's channel 0 level.
struct VolumeControl {
  UINT channels = 1;
  float minimum = 0.0f, maximum = 20.0f, stepping = 0.5f;
  std::vector<float> levels = {0.0f};
  Endpoint* tracks = nullptr;
  bool refusesOutOfRange = true;  // SetLevel beyond the range fails
};

// A part of a device topology: a connector or a subunit.
struct Part {
  std::string name;  // labels its interfaces in the record of events
  PartType type = Subunit;
  GUID subtype = kSubtypeOther;
  std::vector<Part*> outgoing;  // the first is the one the signal takes
  // Connector side.
  DataFlow flow = Out;
  Part* connectedTo = nullptr;
  // Controls that activate on the part.
  bool hasAgc = false;
  BOOL agcEnabled = FALSE;
  bool hasVolume = false;
  VolumeControl volume;
};

struct Endpoint {
  std::u16string id;
  std::u16string friendlyName;
  bool hasName = true;
  // Endpoint volume: scalars 0.0 to 1.0 and levels in dB, per channel.
  std::vector<float> scalars;
  std::vector<float> levelsDb;
  float minimumDb = -96.0f, maximumDb = 0.0f, incrementDb = 0.5f;
  BOOL mute = FALSE;
  Part* connector = nullptr;  // connector 0 of its topology; none: no topology
};

// A waveIn or waveOut device and what its driver answers.
struct WaveDevice {
  std::u16string instanceId;  // reported with its terminator
  bool reportsSize = true;
  DWORD sizeOverride = 0;  // when nonzero, the size the driver reports
  bool terminates = true;  // false: the identifier is written without terminator
};

class AudioSystem : public platform::audio::AudioSystem {
 public:
  AudioSystem();
  ~AudioSystem() override;
  AudioSystem(const AudioSystem&) = delete;
  AudioSystem& operator=(const AudioSystem&) = delete;

  // ---- Model -------------------------------------------------------------
  Endpoint* AddEndpoint(const std::u16string& id, std::vector<float> scalars);
  Part* AddPart(PartType type, const GUID& subtype, const std::string& name = "");
  // Connector 0 of the endpoint's topology, joined to a new connector of the
  // adapter whose part is returned: the walk starts at that part.
  Part* AddTopology(Endpoint* endpoint, DataFlow flow = Out);
  std::vector<WaveDevice> waveIn, waveOut;
  Endpoint* defaultRender = nullptr;

  // ---- Faults and the record of calls ------------------------------------
  // Forgets the record and the faults; counts start again from 1.
  void ResetCalls();
  void FailCall(int k);
  void FailNamed(const std::string& name, int occurrence = 1);
  // The calls that can fail, in order, since the last reset.
  const std::vector<std::string>& Calls() const { return calls_; }
  // Every call, the releases and frees included ("Release IPart" names the
  // interface the releasing pointer was handed out as).
  const std::vector<std::string>& Events() const { return events_; }
  int CallCount(const std::string& name) const;

  // ---- Accounting ----------------------------------------------------------
  int HeldReferences() const;
  // Deletes the objects released for good. For long loops only: a pointer
  // to one of them can no longer be caught being released again.
  void DropReleased();
  size_t LiveBlocks() const { return blocks_.size(); }
  const std::vector<std::string>& Errors() const { return errors_; }

  // ---- Reached by the simulated objects ------------------------------------
  // Records the call; true when it is to fail.
  bool Gate(const std::string& name);
  void Event(const std::string& text) { events_.push_back(text); }
  void Error(const std::string& text) { errors_.push_back(text); }
  template <class T, class... Args>
  T* Make(Args&&... args) {
    auto object = std::make_unique<T>(*this, std::forward<Args>(args)...);
    T* raw = object.get();
    objects_.push_back(std::move(object));
    return raw;
  }
  Endpoint* FindEndpoint(LPCWSTR id);
  LPWSTR CopyString(const std::u16string& text);  // a CoTaskMemAlloc'd copy

  // ---- platform::audio::AudioSystem ----------------------------------------
  UINT WaveGetNumDevs(platform::audio::WaveFamily family) override;
  MMRESULT WaveMessage(platform::audio::WaveFamily family, UINT_PTR device, UINT message, DWORD_PTR param1,
                       DWORD_PTR param2) override;
  HRESULT CreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID iid, LPVOID* object) override;
  LPVOID TaskMemAlloc(SIZE_T size) override;
  void TaskMemFree(LPVOID block) override;
  int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR text, int length, LPSTR buffer, int size,
                          LPCSTR defaultChar, BOOL* usedDefaultChar) override;

  struct Object {
    explicit Object(AudioSystem& s) : system(s) {}
    virtual ~Object() = default;
    AudioSystem& system;
    int references = 1;  // the one handed out at creation
  };

 private:
  platform::audio::AudioSystem* previous_;
  std::vector<std::unique_ptr<Endpoint>> endpoints_;
  std::vector<std::unique_ptr<Part>> parts_;
  std::vector<std::unique_ptr<Object>> objects_;
  std::map<void*, size_t> blocks_;
  std::vector<std::string> calls_, events_, errors_;
  std::map<std::string, int> seen_;
  int failAt_ = 0;
  std::string failName_;
  int failOccurrence_ = 0;
};

// The simulated ids are ASCII; tests write them as narrow text.
std::u16string U16(const std::string& ascii);

}  // namespace sim
