// The POSIX side of COM, winmm and the text conversion the audio library
// needs: each call goes to the registered audio system, and with none it
// fails the way Windows does on a machine without audio endpoints.

#include <cstdlib>
#include <string>

#include "platform/audio_system.h"
#include "platform/frontend.h"

namespace platform {
namespace audio {

namespace {

AudioSystem* g_system = nullptr;

// COM is initialised per thread, and the enumerator can only be created on
// a thread that did it.
thread_local bool t_comInitialised = false;

// UTF-16 code units to UTF-8, a surrogate pair as one character and a lone
// surrogate as U+FFFD (which the code page then shows as '?').
std::string Utf16ToUtf8(LPCWSTR text, size_t units) {
  std::string out;
  for (size_t i = 0; i < units; ++i) {
    uint32_t u = text[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      u = 0x10000 + ((u - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      u = 0xFFFD;
    }
    ui::AppendUtf8(out, u);
  }
  return out;
}

}  // namespace

LPVOID AudioSystem::TaskMemAlloc(SIZE_T size) { return std::malloc(size ? size : 1); }

void AudioSystem::TaskMemFree(LPVOID block) { std::free(block); }

int AudioSystem::WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR text, int length, LPSTR buffer, int size,
                                     LPCSTR defaultChar, BOOL* usedDefaultChar) {
  return ConvertToAnsi(codePage, flags, text, length, buffer, size, defaultChar, usedDefaultChar);
}

AudioSystem* SetAudioSystem(AudioSystem* system) {
  AudioSystem* previous = g_system;
  g_system = system;
  return previous;
}

int ConvertToAnsi(UINT codePage, DWORD flags, LPCWSTR text, int length, LPSTR buffer, int size, LPCSTR defaultChar,
                  BOOL* usedDefaultChar) {
  // Only what the library asks for: the ANSI code page, no flags, the
  // standard default character and no report of its use.
  if (codePage != CP_ACP || flags != 0 || defaultChar || usedDefaultChar) return 0;
  if (!text || length < -1 || length == 0 || size < 0 || (size > 0 && !buffer)) return 0;
  size_t units = 0;
  if (length == -1) {
    while (text[units]) ++units;
    ++units;  // the terminator is converted too
  } else {
    units = static_cast<size_t>(length);
  }
  std::string converted = ui::Utf8ToCp1251(Utf16ToUtf8(text, units));
  if (size == 0) return static_cast<int>(converted.size());
  // Windows fills the buffer as far as it goes before it reports the lack
  // of room; callers that cut a name to their buffer rely on it.
  size_t written = converted.size() < static_cast<size_t>(size) ? converted.size() : static_cast<size_t>(size);
  converted.copy(buffer, written);
  return written == converted.size() ? static_cast<int>(written) : 0;
}

}  // namespace audio
}  // namespace platform

using platform::audio::g_system;
using platform::audio::WaveFamily;

HRESULT CoInitialize(LPVOID reserved) {
  if (reserved) return E_INVALIDARG;
  if (platform::audio::t_comInitialised) return S_FALSE;
  platform::audio::t_comInitialised = true;
  return S_OK;
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID iid, LPVOID* object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (!platform::audio::t_comInitialised) return CO_E_NOTINITIALIZED;
  if (!g_system) return REGDB_E_CLASSNOTREG;
  return g_system->CreateInstance(clsid, outer, context, iid, object);
}

LPVOID CoTaskMemAlloc(SIZE_T size) { return g_system ? g_system->TaskMemAlloc(size) : std::malloc(size ? size : 1); }

void CoTaskMemFree(LPVOID block) {
  if (!block) return;
  if (g_system) {
    g_system->TaskMemFree(block);
  } else {
    std::free(block);
  }
}

HRESULT PropVariantClear(PROPVARIANT* value) {
  if (!value) return E_POINTER;
  if (value->vt == VT_LPWSTR) CoTaskMemFree(value->pwszVal);
  value->vt = VT_EMPTY;
  value->pwszVal = nullptr;
  return S_OK;
}

int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR text, int length, LPSTR buffer, int size,
                        LPCSTR defaultChar, BOOL* usedDefaultChar) {
  if (g_system)
    return g_system->WideCharToMultiByte(codePage, flags, text, length, buffer, size, defaultChar, usedDefaultChar);
  return platform::audio::ConvertToAnsi(codePage, flags, text, length, buffer, size, defaultChar, usedDefaultChar);
}

UINT waveInGetNumDevs(void) { return g_system ? g_system->WaveGetNumDevs(WaveFamily::In) : 0; }

UINT waveOutGetNumDevs(void) { return g_system ? g_system->WaveGetNumDevs(WaveFamily::Out) : 0; }

MMRESULT waveInMessage(HWAVEIN device, UINT message, DWORD_PTR param1, DWORD_PTR param2) {
  if (!g_system) return MMSYSERR_BADDEVICEID;
  return g_system->WaveMessage(WaveFamily::In, reinterpret_cast<UINT_PTR>(device), message, param1, param2);
}

MMRESULT waveOutMessage(HWAVEOUT device, UINT message, DWORD_PTR param1, DWORD_PTR param2) {
  if (!g_system) return MMSYSERR_BADDEVICEID;
  return g_system->WaveMessage(WaveFamily::Out, reinterpret_cast<UINT_PTR>(device), message, param1, param2);
}
