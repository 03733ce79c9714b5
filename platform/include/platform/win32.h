// The one header the logic includes for operating-system calls.
//
// On Windows it is the system's own API. Elsewhere it is the small subset
// this project uses, declared in posix_win32.h and implemented under
// platform/posix on top of POSIX, with the same results, effects and
// failure signals the logic relies on.
#pragma once

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <commctrl.h>
#else
#include "platform/posix_win32.h"
#endif
