// The one header the audio logic includes for COM, the audio device
// interfaces and the waveform-audio calls.
//
// On Windows it is the system's own API. Elsewhere it is the subset the
// audio library uses, declared in posix_audio.h; its calls dispatch to an
// audio system registered at run time (none on a plain POSIX machine, where
// every call fails as on a Windows machine without audio endpoints).
#pragma once

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
// Order matters: each of these builds on the ones before it.
// clang-format off
#include <windows.h>
#include <mmsystem.h>
#include <mmddk.h>
#include <objbase.h>
#include <propidl.h>
// mingw-w64's declaration of IAudioAutoGainControl (made from Wine's IDL)
// has the wrong methods in its two slots: a SetEnabled-shaped "GetEnabled"
// first, then a "GetMute". Windows has GetEnabled(BOOL*) first and
// SetEnabled(BOOL, LPCGUID) second; calling through the toolchain's
// declaration would reach the wrong method. Its declaration is moved aside
// and the interface declared as Windows lays it out.
#define IAudioAutoGainControl IAudioAutoGainControl_ToolchainLayout
#include <mmdeviceapi.h>
#include <endpointvolume.h>
#include <devicetopology.h>
#undef IAudioAutoGainControl
// clang-format on

struct IAudioAutoGainControl : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetEnabled(BOOL* enabled) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetEnabled(BOOL enabled, LPCGUID eventContext) = 0;
};
#else
#include "platform/posix_audio.h"
#endif
