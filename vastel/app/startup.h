// The frame of a Vastel run: guard, configuration, main block, closing.
#pragma once

#include "platform/win32.h"

class Ini;
class CSimpleLog;
class GlobalBufferInformation;
class SecretIni;

// The process-wide objects, kept in globals so that the purge dialog can
// reach them. They live from their stage of the start-up to its end.
extern HINSTANCE g_Instance;
extern Ini* g_Ini;
extern CSimpleLog* g_Log;
extern GlobalBufferInformation* g_Channels;
// The security object, for the password gate.
extern SecretIni* g_SecretIni;

// The name the recorder holds while it runs; Vastel takes it for its own
// life, so that neither runs beside the other (nor two Vastels).
extern const char kGuardMutexName[];

// The whole run; the result, the exit code, is 0 on every path.
int VastelMain(HINSTANCE instance);
