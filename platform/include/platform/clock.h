// A settable clock for tests of the POSIX build: while a time is set,
// GetLocalTime reports it instead of the system's local time.
#pragma once

#include "platform/win32.h"

namespace platform {
namespace clock {

void SetLocalTime(const SYSTEMTIME& time);
void UseSystemTime();

}  // namespace clock
}  // namespace platform
