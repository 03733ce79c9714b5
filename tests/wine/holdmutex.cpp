// Holds a named mutex for a scenario test, on both targets.
//
//   holdmutex <mutex-name>
//
// Creates the mutex and prints "held", or "exists" when another process
// already has one of that name, or "failed"; then keeps it until its standard
// input reaches end of file. A runner takes the recorder's guard this way and
// lets go of it by closing the pipe.
#include <cstdio>

#include "platform/win32.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: holdmutex <mutex-name>\n");
    return 2;
  }
  HANDLE mutex = CreateMutexA(NULL, FALSE, argv[1]);
  // Read before any other call can change it.
  DWORD error = GetLastError();
  const char* state = "held";
  if (mutex == NULL) {
    state = "failed";
  } else if (error == ERROR_ALREADY_EXISTS) {
    state = "exists";
  }
  std::printf("%s\n", state);
  std::fflush(stdout);

  char chunk[256];
  while (std::fread(chunk, 1, sizeof chunk, stdin) > 0) {
  }
  if (mutex != NULL) CloseHandle(mutex);
  return 0;
}
