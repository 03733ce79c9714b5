#include <time.h>

#include <atomic>
#include <mutex>

#include "platform/clock.h"

namespace {

std::mutex clockLock;
bool clockSet = false;
SYSTEMTIME setTime;

}  // namespace

namespace platform {
namespace clock {

void SetLocalTime(const SYSTEMTIME& time) {
  std::lock_guard<std::mutex> guard(clockLock);
  setTime = time;
  clockSet = true;
}

void UseSystemTime() {
  std::lock_guard<std::mutex> guard(clockLock);
  clockSet = false;
}

}  // namespace clock
}  // namespace platform

void GetLocalTime(LPSYSTEMTIME time) {
  {
    std::lock_guard<std::mutex> guard(clockLock);
    if (clockSet) {
      *time = setTime;
      return;
    }
  }
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  struct tm local;
  localtime_r(&now.tv_sec, &local);
  time->wYear = static_cast<WORD>(local.tm_year + 1900);
  time->wMonth = static_cast<WORD>(local.tm_mon + 1);
  time->wDayOfWeek = static_cast<WORD>(local.tm_wday);
  time->wDay = static_cast<WORD>(local.tm_mday);
  time->wHour = static_cast<WORD>(local.tm_hour);
  time->wMinute = static_cast<WORD>(local.tm_min);
  time->wSecond = static_cast<WORD>(local.tm_sec);
  time->wMilliseconds = static_cast<WORD>(now.tv_nsec / 1000000);
}
