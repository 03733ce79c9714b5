// The fatal-error record of Vastel: thrown by value wherever the utility
// cannot go on, and shown and logged by the start-up's handlers.
#pragma once

#include <cstdint>

class CSimpleLog;

class ErrorClass {
 public:
  // Copies the text (cut to 299 characters) and the code.
  ErrorClass(const char* text, int32_t code);

  // The text in a task-modal warning box captioned with the code.
  void Show() const;
  // The line "Ошибка <code>" in the event log; nothing without a log.
  void Log(CSimpleLog* log) const;

  char Text[300];
  int32_t Code;
};
