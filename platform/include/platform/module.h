// Modules over an arbitrary compiled resource image (POSIX builds only).
//
// On POSIX systems a program's module is the resource image (.res) that the
// build embeds in it; GetModuleHandleA(NULL) returns that one. This seam
// makes a module over any other image, so that the resource calls can be
// exercised on images the build would never produce: truncated, damaged or
// hand-made ones.
#pragma once

#if defined(_WIN32)
#error "platform/module.h belongs to the POSIX platform layer; Windows has real modules"
#endif

#include <cstddef>

#include "platform/win32.h"

namespace platform {

// Returns a module whose resources are those of the .res image at
// [data, data + size), for FindResourceA, SizeofResource, LoadResource and
// LoadIconA. The image is read in place, not copied: it must outlive every
// use of the module and of the handles obtained through it. An image that
// is not well formed from end to end gives a module without resources.
// The module is never released (modules are not unloaded here either).
HMODULE ModuleFromResources(const void* data, size_t size);

}  // namespace platform
