#include "platform/win32.h"

namespace {
thread_local DWORD lastError = 0;
}

DWORD GetLastError(void) { return lastError; }

void SetLastError(DWORD code) { lastError = code; }
