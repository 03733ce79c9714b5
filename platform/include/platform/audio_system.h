// The audio system behind posix_audio.h's calls (POSIX only).
//
// Windows answers waveIn/waveOut queries from its drivers and creates the
// MMDevice enumerator from its class registry; here both come from the
// audio system registered with SetAudioSystem. The tests register a
// simulated one; nothing registers one in a product build, so there the
// calls fail as on a Windows machine without audio endpoints.
#pragma once

#include "platform/posix_audio.h"

namespace platform {
namespace audio {

enum class WaveFamily { In, Out };

class AudioSystem {
 public:
  virtual ~AudioSystem() = default;

  virtual UINT WaveGetNumDevs(WaveFamily family) = 0;
  // `device` is the index the caller put in place of a handle.
  virtual MMRESULT WaveMessage(WaveFamily family, UINT_PTR device, UINT message, DWORD_PTR param1,
                               DWORD_PTR param2) = 0;
  // Called on threads where COM is initialised only.
  virtual HRESULT CreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID iid, LPVOID* object) = 0;

  // Task memory, so that a system can account for every block; by default
  // the C heap. A block from one system may be freed under another: both
  // must keep to the C heap underneath.
  virtual LPVOID TaskMemAlloc(SIZE_T size);
  virtual void TaskMemFree(LPVOID block);

  // Text conversion, so that a system can make it fail; by default the
  // layer's own conversion (ConvertToAnsi).
  virtual int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR text, int length, LPSTR buffer, int size,
                                  LPCSTR defaultChar, BOOL* usedDefaultChar);
};

// Registers `system` for every later call (null: none). Returns the one it
// replaces. Not synchronised: register before the calls start.
AudioSystem* SetAudioSystem(AudioSystem* system);

// The layer's own WideCharToMultiByte, used when no system overrides it.
int ConvertToAnsi(UINT codePage, DWORD flags, LPCWSTR text, int length, LPSTR buffer, int size, LPCSTR defaultChar,
                  BOOL* usedDefaultChar);

}  // namespace audio
}  // namespace platform
