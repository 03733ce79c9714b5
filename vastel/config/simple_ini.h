// The reader of the recorder's INI file. It knows no sections: keys are
// matched at the start of a line without regard to ASCII letter case and
// blanks, and a value in double quotes is a string, any other a number.
// Every lookup opens the file, scans it from the top and closes it, so the
// recorder's file is never held open between lookups.
#pragma once

#include <cstdint>

class CSimpleIni {
 public:
  // The name is copied (at most 259 characters); a relative name is taken
  // from the current directory at each lookup.
  explicit CSimpleIni(const char* fileName);

  // The number value of the key; 0 when the file cannot be read, no line
  // matches, or the value is a string.
  int32_t GetInt(const char* key);

  // Copies the string value of the key (at most size - 1 characters and a
  // terminating zero) and returns its length; the buffer is set empty first
  // and stays empty, with 0 returned, when nothing matches or the value is a
  // number.
  int32_t GetString(const char* key, char* buffer, int32_t size);

  // What a matching line gives: a number line has the empty string, a
  // string line the number 0.
  struct Value {
    int32_t Number = 0;
    char String[260] = {};
  };

  // One line (as fgets gives it) against one key; true when it matches.
  static bool ParseLine(const char* line, const char* key, Value* value);

 protected:
  bool FindKey(const char* key, Value* value);

 private:
  char FileName[260];
};

// The recorder's INI file "korvo.ini".
class Ini : public CSimpleIni {
 public:
  using CSimpleIni::CSimpleIni;
};
