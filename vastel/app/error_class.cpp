#include "app/error_class.h"

#include <cstdio>
#include <cstring>

#include "config/simple_log.h"
#include "platform/win32.h"

ErrorClass::ErrorClass(const char* text, int32_t code) : Code(code) {
  // Throwers format paths into their texts; a text longer than the record
  // holds is cut rather than overrun it.
  std::strncpy(Text, text ? text : "", sizeof Text - 1);
  Text[sizeof Text - 1] = '\0';
}

void ErrorClass::Show() const {
  char caption[40];
  std::snprintf(caption, sizeof caption, "Ошибка %ld", static_cast<long>(Code));
  MessageBoxA(nullptr, Text, caption, MB_OK | MB_TASKMODAL | MB_ICONWARNING);
}

void ErrorClass::Log(CSimpleLog* log) const {
  if (!log) return;
  char line[40];
  std::snprintf(line, sizeof line, "Ошибка %ld", static_cast<long>(Code));
  log->Write(line);
}
