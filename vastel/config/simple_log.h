// The event log: one timestamped line per event, appended to one file.
// The file is opened for each line, with read and write sharing, so the
// recorder and other programs may keep the same log open meanwhile.
#pragma once

#include "platform/win32.h"

class CSimpleLog {
 public:
  // The path is copied (at most 259 characters); a relative path is taken
  // from the current directory at each write.
  explicit CSimpleLog(const char* path);
  ~CSimpleLog();
  CSimpleLog(const CSimpleLog&) = delete;
  CSimpleLog& operator=(const CSimpleLog&) = delete;

  // Appends one line with the current local time; false when the file could
  // not be opened (the line is then lost, nothing else happens).
  bool Write(const char* text);

  void Lock();
  void Unlock();

  // Holds the log's lock for the length of a scope, also when an exception
  // passes.
  class CTryFinally {
   public:
    explicit CTryFinally(CSimpleLog* log) : Log(log) { Log->Lock(); }
    ~CTryFinally() { Log->Unlock(); }
    CTryFinally(const CTryFinally&) = delete;
    CTryFinally& operator=(const CTryFinally&) = delete;

   private:
    CSimpleLog* Log;
  };

  // While 0, Write writes nothing and reports success.
  BYTE Enabled;

 private:
  char Path[260];
  CRITICAL_SECTION Section;
};
