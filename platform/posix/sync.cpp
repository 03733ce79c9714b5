// Critical sections and named mutexes.
//
// A named mutex is a lock file named after the mutex, held with flock. The
// kernel drops the lock when the holding process ends, however it ends, so
// the name is free again after a crash, as on Windows. The files live in a
// system-wide directory (Windows' "Global\" names are system-wide too);
// VELMORA_MUTEX_DIR moves them, so that tests running side by side do not
// see each other's names.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "internal.h"

void InitializeCriticalSection(LPCRITICAL_SECTION section) {
  // Recursive, as a Windows critical section may be entered again by the
  // thread that holds it.
  pthread_mutexattr_t attributes;
  pthread_mutexattr_init(&attributes);
  pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_init(&section->mutex, &attributes);
  pthread_mutexattr_destroy(&attributes);
}

void DeleteCriticalSection(LPCRITICAL_SECTION section) { pthread_mutex_destroy(&section->mutex); }

void EnterCriticalSection(LPCRITICAL_SECTION section) { pthread_mutex_lock(&section->mutex); }

void LeaveCriticalSection(LPCRITICAL_SECTION section) { pthread_mutex_unlock(&section->mutex); }

namespace platform {
namespace posix {

namespace {

struct Mutex : Object {
  Mutex() : Object(Kind::Mutex) {}
  ~Mutex() override {
    if (fd >= 0) close(fd);
  }
  int fd = -1;
};

std::string MutexDirectory() {
  if (const char* dir = std::getenv("VELMORA_MUTEX_DIR")) {
    if (*dir) return dir;
  }
  struct stat st;
  if (stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode)) return "/dev/shm";
  return "/tmp";
}

// "Global\Korvo - Guard ..." becomes "w32mutex.Global_Korvo - Guard ...".
std::string LockFileName(const char* name) {
  std::string file = "w32mutex.";
  for (const char* p = name; *p; ++p) file += (*p == '\\' || *p == '/') ? '_' : *p;
  return file;
}

}  // namespace

}  // namespace posix
}  // namespace platform

HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES, BOOL, LPCSTR name) {
  using platform::posix::Mutex;
  std::string lockPath = name ? platform::posix::MutexDirectory() + "/" + platform::posix::LockFileName(name) : "";
  if (platform::posix::Injected("CreateMutexA", lockPath, ERROR_ACCESS_DENIED)) return nullptr;
  Mutex* mutex = new Mutex;
  DWORD result = ERROR_SUCCESS;
  if (name) {
    mutex->fd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (mutex->fd < 0) {
      SetLastError(platform::posix::ErrorFromErrno(errno, lockPath));
      delete mutex;
      return nullptr;
    }
    // Whoever holds the lock keeps the name; anyone else finds it existing.
    if (flock(mutex->fd, LOCK_EX | LOCK_NB) != 0) {
      if (errno != EWOULDBLOCK) {
        SetLastError(platform::posix::ErrorFromErrno(errno, lockPath));
        delete mutex;
        return nullptr;
      }
      result = ERROR_ALREADY_EXISTS;
    }
  }
  HANDLE handle = platform::posix::Register(mutex);
  SetLastError(result);
  return handle;
}
