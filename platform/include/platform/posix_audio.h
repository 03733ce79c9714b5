// COM, the audio device interfaces and the waveform-audio calls that the
// audio library uses, declared for POSIX systems.
//
// Written from what the library needs of each call: the arguments it passes,
// the results it tests and the outputs it reads. Interfaces carry only the
// methods the library calls, so an implementation (the simulated audio
// system of the tests) implements exactly those. Strings are UTF-16 as on
// Windows: WCHAR is char16_t here, since wchar_t is 32 bits wide.
//
// The calls are served by the audio system registered with
// platform::audio::SetAudioSystem (audio_system.h). With none registered
// there are no devices and no endpoint classes, as on a Windows machine
// without audio endpoints.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/posix_win32.h"

typedef char16_t WCHAR;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;
typedef int32_t HRESULT;
typedef uint32_t ULONG;
typedef uintptr_t DWORD_PTR;
typedef uintptr_t UINT_PTR;
typedef size_t SIZE_T;
typedef uint16_t VARTYPE;

// ---- Results ---------------------------------------------------------------

#define S_OK ((HRESULT)0)
#define S_FALSE ((HRESULT)1)
#define E_NOTIMPL ((HRESULT)0x80004001u)
#define E_NOINTERFACE ((HRESULT)0x80004002u)
#define E_POINTER ((HRESULT)0x80004003u)
#define E_FAIL ((HRESULT)0x80004005u)
#define E_OUTOFMEMORY ((HRESULT)0x8007000Eu)
#define E_INVALIDARG ((HRESULT)0x80070057u)
#define E_NOTFOUND ((HRESULT)0x80070490u)
#define REGDB_E_CLASSNOTREG ((HRESULT)0x80040154u)
#define CO_E_NOTINITIALIZED ((HRESULT)0x800401F0u)
#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
#define FAILED(hr) (((HRESULT)(hr)) < 0)

// ---- Identifiers -----------------------------------------------------------

struct GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
};
typedef GUID IID;
typedef GUID CLSID;
typedef const GUID* LPCGUID;
typedef const IID& REFIID;
typedef const CLSID& REFCLSID;
typedef const GUID& REFGUID;

struct PROPERTYKEY {
  GUID fmtid;
  DWORD pid;
};
typedef const PROPERTYKEY& REFPROPERTYKEY;

// ---- COM -------------------------------------------------------------------

#define CLSCTX_INPROC_SERVER 0x1u
#define CLSCTX_INPROC_HANDLER 0x2u
#define CLSCTX_LOCAL_SERVER 0x4u
#define CLSCTX_REMOTE_SERVER 0x10u
#define CLSCTX_ALL (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER)

#define STGM_READ 0x0u

struct IUnknown {
  virtual HRESULT QueryInterface(REFIID iid, void** object) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;

 protected:
  ~IUnknown() = default;
};

// S_OK the first time on a thread, S_FALSE when COM is already initialised
// there. The reserved argument must be null.
HRESULT CoInitialize(LPVOID reserved);
// CO_E_NOTINITIALIZED on a thread that never called CoInitialize.
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID iid, LPVOID* object);
LPVOID CoTaskMemAlloc(SIZE_T size);
void CoTaskMemFree(LPVOID block);

#define VT_EMPTY ((VARTYPE)0)
#define VT_LPWSTR ((VARTYPE)31)

struct PROPVARIANT {
  VARTYPE vt;
  WORD wReserved1;
  WORD wReserved2;
  WORD wReserved3;
  union {
    LPWSTR pwszVal;
    ULONG ulVal;
  };
};

// Frees what the value owns (a VT_LPWSTR string, with CoTaskMemFree) and
// leaves it VT_EMPTY.
HRESULT PropVariantClear(PROPVARIANT* value);

// ---- Code pages --------------------------------------------------------------

#define CP_ACP 0u

// The ANSI code page of our systems is Windows-1251. A character outside it
// becomes '?'. With a length of -1 the terminator is converted too. A buffer
// size of 0 asks for the size needed; a buffer too small for the whole text
// receives as much as fits, and the result is 0 with
// ERROR_INSUFFICIENT_BUFFER.
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR text, int length, LPSTR buffer, int size,
                        LPCSTR defaultChar, BOOL* usedDefaultChar);

// ---- Waveform audio ----------------------------------------------------------

typedef UINT MMRESULT;
struct HWAVEIN__;
typedef HWAVEIN__* HWAVEIN;
struct HWAVEOUT__;
typedef HWAVEOUT__* HWAVEOUT;

#define MMSYSERR_NOERROR 0u
#define MMSYSERR_ERROR 1u
#define MMSYSERR_BADDEVICEID 2u
#define MMSYSERR_NOTSUPPORTED 8u

#define DRV_RESERVED 0x0800u
#define DRV_QUERYFUNCTIONINSTANCEID (DRV_RESERVED + 17)
#define DRV_QUERYFUNCTIONINSTANCEIDSIZE (DRV_RESERVED + 18)

UINT waveInGetNumDevs(void);
UINT waveOutGetNumDevs(void);
// The device may be named by its index in place of a handle.
MMRESULT waveInMessage(HWAVEIN device, UINT message, DWORD_PTR param1, DWORD_PTR param2);
MMRESULT waveOutMessage(HWAVEOUT device, UINT message, DWORD_PTR param1, DWORD_PTR param2);

// ---- MMDevice API ------------------------------------------------------------

enum EDataFlow { eRender = 0, eCapture = 1, eAll = 2 };
enum ERole { eConsole = 0, eMultimedia = 1, eCommunications = 2 };

struct IPropertyStore : IUnknown {
  virtual HRESULT GetValue(REFPROPERTYKEY key, PROPVARIANT* value) = 0;

 protected:
  ~IPropertyStore() = default;
};

struct IMMDevice : IUnknown {
  virtual HRESULT Activate(REFIID iid, DWORD context, PROPVARIANT* parameters, void** object) = 0;
  virtual HRESULT OpenPropertyStore(DWORD access, IPropertyStore** store) = 0;
  // The identifier is CoTaskMemAlloc'd; the caller frees it.
  virtual HRESULT GetId(LPWSTR* id) = 0;

 protected:
  ~IMMDevice() = default;
};

struct IMMDeviceEnumerator : IUnknown {
  virtual HRESULT GetDefaultAudioEndpoint(EDataFlow flow, ERole role, IMMDevice** device) = 0;
  virtual HRESULT GetDevice(LPCWSTR id, IMMDevice** device) = 0;

 protected:
  ~IMMDeviceEnumerator() = default;
};

// ---- Endpoint volume API -----------------------------------------------------

struct IAudioEndpointVolume : IUnknown {
  virtual HRESULT GetChannelCount(UINT* count) = 0;
  virtual HRESULT GetVolumeRange(float* minimumDb, float* maximumDb, float* incrementDb) = 0;
  virtual HRESULT GetChannelVolumeLevel(UINT channel, float* levelDb) = 0;
  virtual HRESULT SetChannelVolumeLevel(UINT channel, float levelDb, LPCGUID eventContext) = 0;
  virtual HRESULT GetChannelVolumeLevelScalar(UINT channel, float* level) = 0;
  virtual HRESULT SetChannelVolumeLevelScalar(UINT channel, float level, LPCGUID eventContext) = 0;
  virtual HRESULT GetMute(BOOL* mute) = 0;
  virtual HRESULT SetMute(BOOL mute, LPCGUID eventContext) = 0;

 protected:
  ~IAudioEndpointVolume() = default;
};

// ---- Device topology API -----------------------------------------------------

enum DataFlow { In = 0, Out = 1 };
enum PartType { Connector = 0, Subunit = 1 };

struct IPart;

struct IPartsList : IUnknown {
  virtual HRESULT GetPart(UINT index, IPart** part) = 0;

 protected:
  ~IPartsList() = default;
};

struct IPart : IUnknown {
  virtual HRESULT GetPartType(PartType* type) = 0;
  virtual HRESULT GetSubType(GUID* subType) = 0;
  virtual HRESULT EnumPartsOutgoing(IPartsList** parts) = 0;
  virtual HRESULT Activate(DWORD context, REFIID iid, void** object) = 0;

 protected:
  ~IPart() = default;
};

struct IConnector : IUnknown {
  virtual HRESULT GetDataFlow(DataFlow* flow) = 0;
  virtual HRESULT IsConnected(BOOL* connected) = 0;
  virtual HRESULT GetConnectedTo(IConnector** other) = 0;

 protected:
  ~IConnector() = default;
};

struct IDeviceTopology : IUnknown {
  virtual HRESULT GetConnector(UINT index, IConnector** connector) = 0;

 protected:
  ~IDeviceTopology() = default;
};

struct IAudioAutoGainControl : IUnknown {
  virtual HRESULT GetEnabled(BOOL* enabled) = 0;
  virtual HRESULT SetEnabled(BOOL enabled, LPCGUID eventContext) = 0;

 protected:
  ~IAudioAutoGainControl() = default;
};

struct IPerChannelDbLevel : IUnknown {
  virtual HRESULT GetChannelCount(UINT* count) = 0;
  virtual HRESULT GetLevelRange(UINT channel, float* minimumDb, float* maximumDb, float* steppingDb) = 0;
  virtual HRESULT GetLevel(UINT channel, float* levelDb) = 0;
  virtual HRESULT SetLevel(UINT channel, float levelDb, LPCGUID eventContext) = 0;

 protected:
  ~IPerChannelDbLevel() = default;
};

struct IAudioVolumeLevel : IPerChannelDbLevel {
 protected:
  ~IAudioVolumeLevel() = default;
};
