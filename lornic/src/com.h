// What every worker of the library shares: the interface holder that
// releases on every way out, the opening of an endpoint, the mapping of wave
// device indexes to endpoint identifiers.
#pragma once

#include <cstdint>

#include "identifiers.h"
#include "platform/audio.h"

namespace lornic {

// One reference to an interface, released when the holder goes out of
// scope. Holders declared in the order their interfaces are obtained release
// them most recent first.
template <class T>
class ComRef {
 public:
  ComRef() = default;
  ~ComRef() { Reset(); }
  ComRef(const ComRef&) = delete;
  ComRef& operator=(const ComRef&) = delete;

  T* Get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  // For a call that hands out a reference; whatever was held is released
  // first.
  T** Out() {
    Reset();
    return &p_;
  }
  void** OutVoid() { return reinterpret_cast<void**>(Out()); }
  void Reset() {
    if (p_) {
      T* p = p_;
      p_ = nullptr;
      p->Release();
    }
  }
  // Takes over the reference held by `other` (which then holds none),
  // releasing this holder's own first.
  void MoveFrom(ComRef& other) {
    Reset();
    p_ = other.p_;
    other.p_ = nullptr;
  }
  T* Detach() {
    T* p = p_;
    p_ = nullptr;
    return p;
  }

 private:
  T* p_ = nullptr;
};

// A block from CoTaskMemAlloc, freed when the holder goes out of scope.
class TaskMemString {
 public:
  TaskMemString() = default;
  ~TaskMemString() { CoTaskMemFree(p_); }
  TaskMemString(const TaskMemString&) = delete;
  TaskMemString& operator=(const TaskMemString&) = delete;
  LPWSTR Get() const { return p_; }
  LPWSTR* Out() { return &p_; }

 private:
  LPWSTR p_ = nullptr;
};

// The enumerator and one endpoint; released endpoint first.
struct Endpoint {
  ComRef<IMMDeviceEnumerator> enumerator;
  ComRef<IMMDevice> device;
};

// Creates the enumerator. False on failure.
bool CreateEnumerator(ComRef<IMMDeviceEnumerator>& enumerator);
// Creates the enumerator and gets the endpoint by its identifier.
bool OpenEndpoint(LPCWSTR id, Endpoint& endpoint);

// Opens the endpoint and activates `iid` on it into `out`.
template <class T>
bool OpenAndActivate(LPCWSTR id, REFIID iid, Endpoint& endpoint, ComRef<T>& out) {
  return OpenEndpoint(id, endpoint) && endpoint.device->Activate(iid, CLSCTX_ALL, nullptr, out.OutVoid()) == S_OK &&
         out;
}

enum class WaveFamily { In, Out };

// The endpoint identifier behind a wave device index: 0 with a
// CoTaskMemAlloc'd identifier in `id`, or -1 with null.
int EndpointIdOfWaveDevice(WaveFamily family, int index, LPWSTR* id);

// The pattern of every index-based method: resolve the index, run the
// worker with the identifier, free the identifier, give the worker's result.
template <class Worker>
int WithEndpointOf(WaveFamily family, int index, Worker worker) {
  LPWSTR id = nullptr;
  if (EndpointIdOfWaveDevice(family, index, &id) != 0 || !id) return -1;
  int result = worker(id);
  CoTaskMemFree(id);
  return result;
}

// A float value truncated toward zero into 32 bits; values beyond the range
// saturate, so no reading an endpoint reports is undefined here. False for
// NaN, which is no value at all.
bool TruncateToInt32(double value, int32_t* result);

}  // namespace lornic
