// The system's data protection calls (CryptProtectData, CryptUnprotectData,
// LocalFree): on Windows those of crypt32, elsewhere the platform layer's.
#pragma once

#include "platform/win32.h"

#if defined(_WIN32)
#include <wincrypt.h>
#else
#include "platform/posix_crypt.h"
#endif
