#include "config/simple_log.h"

#include <cstdio>
#include <cstring>

namespace {

// The composed line: 30 characters of time stamp, at most 319 of text, CR LF
// and the terminating zero.
const int kLineSize = 352;

}  // namespace

CSimpleLog::CSimpleLog(const char* path) : Enabled(1) {
  std::strncpy(Path, path ? path : "", sizeof Path - 1);
  Path[sizeof Path - 1] = '\0';
  InitializeCriticalSection(&Section);
}

CSimpleLog::~CSimpleLog() { DeleteCriticalSection(&Section); }

void CSimpleLog::Lock() { EnterCriticalSection(&Section); }

void CSimpleLog::Unlock() { LeaveCriticalSection(&Section); }

bool CSimpleLog::Write(const char* text) {
  CTryFinally guard(this);
  // The time is read inside the lock, so the lines of one process carry
  // non-decreasing times in file order.
  SYSTEMTIME now;
  GetLocalTime(&now);
  if (!Enabled) return true;

  // A text longer than the line holds is cut, so the line still ends with
  // CR LF and the buffer is never overrun.
  char line[kLineSize];
  int stamp = std::snprintf(line, sizeof line, "[%02d-%02d-%02d  %02d:%02d.%02d]..%03d]  ", now.wDay, now.wMonth,
                            now.wYear, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds);
  size_t length = static_cast<size_t>(stamp);
  size_t room = sizeof line - length - 3;
  size_t textLength = text ? std::strlen(text) : 0;
  if (textLength > room) textLength = room;
  std::memcpy(line + length, text, textLength);
  length += textLength;
  std::memcpy(line + length, "\r\n", 3);
  length += 2;

  HANDLE file = CreateFileA(Path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  SetFilePointer(file, 0, nullptr, FILE_END);
  DWORD written = 0;
  WriteFile(file, line, static_cast<DWORD>(length), &written, nullptr);
  CloseHandle(file);
  return true;
}
