// Fault injection for the POSIX side of the platform layer.
//
// Tests run as root, where permissions cannot make a file call fail. This
// seam makes a chosen call fail instead, with the error a real failure of
// that call would report, so every error path of the logic can be reached.
// Operations are named by their Win32 names ("CreateFileA", "WriteFile",
// ...). Only the POSIX build has it.
#pragma once

#include <cstdint>
#include <string>

namespace platform {
namespace fault {

// The n-th call (1-based) of the operation from now on fails, once.
void FailNthCall(const std::string& operation, int n, uint32_t error = 0);

// Every call of the operation whose path names this file fails (the path
// compared after backslashes are mapped; a relative rule matches the end of
// the path). An empty operation matches every operation on that path.
void FailOnPath(const std::string& operation, const std::string& path, uint32_t error = 0);

// Forget every rule and every call count.
void Reset();

// How many calls of the operation were made since the last Reset.
int CallCount(const std::string& operation);

// Called by the platform layer at the start of each operation: true when
// the call is to fail, with *error set to the error to report.
bool ShouldFail(const char* operation, const char* path, uint32_t* error);

}  // namespace fault
}  // namespace platform
