// Data protection off Windows: CryptProtectData and CryptUnprotectData as
// the credential store calls them, bound to this machine by its machine key.
//
// A protected block is opaque to its caller: authenticated encryption under
// a key derived from the machine key and the optional entropy, with the
// description carried inside. A block from another machine key, with other
// entropy, or with any byte changed is refused with ERROR_INVALID_DATA.
// Blocks are not those of Windows and need not be.
//
// The machine key is a file of 32 random bytes, made on first protection
// with mode 0600 at /var/lib/velmora/machine.key; VELMORA_MACHINE_KEY names
// another file (tests give each run its own).
#pragma once

#include "platform/posix_win32.h"

#ifndef ERROR_INVALID_DATA
#define ERROR_INVALID_DATA 13u
#endif

typedef void* HLOCAL;
// UTF-16 text as on Windows (wchar_t is 32 bits wide here); the same
// typedefs may stand in other headers of the layer.
typedef char16_t WCHAR;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;

struct DATA_BLOB {
  DWORD cbData;
  BYTE* pbData;
};
typedef DATA_BLOB* PDATA_BLOB;

// Never filled in by this system's callers: prompts are not supported.
struct CRYPTPROTECT_PROMPTSTRUCT;

#define CRYPTPROTECT_UI_FORBIDDEN 0x1u
#define CRYPTPROTECT_LOCAL_MACHINE 0x4u

// The output block is allocated for the caller, who releases it with
// LocalFree. The description is kept in the block.
BOOL CryptProtectData(DATA_BLOB* dataIn, LPCWSTR description, DATA_BLOB* optionalEntropy, void* reserved,
                      CRYPTPROTECT_PROMPTSTRUCT* prompt, DWORD flags, DATA_BLOB* dataOut);
// description, when not null, receives the block's description, also to be
// released with LocalFree.
BOOL CryptUnprotectData(DATA_BLOB* dataIn, LPWSTR* description, DATA_BLOB* optionalEntropy, void* reserved,
                        CRYPTPROTECT_PROMPTSTRUCT* prompt, DWORD flags, DATA_BLOB* dataOut);

// Releases a block given out by the calls above; null on success.
HLOCAL LocalFree(HLOCAL memory);
