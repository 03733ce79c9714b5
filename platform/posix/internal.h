// Shared pieces of the POSIX platform layer: kernel objects behind HANDLE,
// path mapping and the translation of errno into Win32 errors.
#pragma once

#include <string>

#include "platform/fault.h"
#include "platform/win32.h"

namespace platform {
namespace posix {

// Every HANDLE the layer gives out points at one of these. Handles are
// checked against the set of live objects, so a stale or foreign handle is
// refused with ERROR_INVALID_HANDLE instead of being dereferenced.
struct Object {
  enum class Kind { File, Find, Mutex };
  explicit Object(Kind k) : kind(k) {}
  virtual ~Object() = default;
  const Kind kind;
};

HANDLE Register(Object* object);
// The live object behind the handle, if it is of that kind; else null with
// ERROR_INVALID_HANDLE set.
Object* Lookup(HANDLE handle, Object::Kind kind);
// Forgets the handle and deletes its object; false if it was not live.
bool Unregister(HANDLE handle, Object::Kind kind);

// Windows paths use backslashes; on this side they are slashes.
std::string MapPath(const char* path);

// The Win32 error that a failed POSIX call on this path reports.
DWORD ErrorFromErrno(int error, const std::string& path = std::string());

// Windows wildcard rules for directory search.
bool WildcardMatch(const std::string& pattern, const std::string& name);

// Fault injection at the top of an operation: true (with the error set) when
// the call is to fail.
bool Injected(const char* operation, const std::string& path, DWORD defaultError);

}  // namespace posix
}  // namespace platform
