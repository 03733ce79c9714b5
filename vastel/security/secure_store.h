// The credential store: one user name and one password, held in clear in
// memory and kept on disk in the options file "SecStorage.ini" as two byte
// blocks, "UN" and "PS", each protected by the system and bound to this
// machine. The security object owns one and loads it before each read of
// the security file and saves it after each write.
#pragma once

#include <cstdint>

class MultiOptions;

class CSecureStore {
 public:
  static const int kValueSize = 128;

  // Creates the options store on "SecStorage.ini" in the current directory;
  // touches no file.
  CSecureStore();
  // Does not save.
  ~CSecureStore();
  // A copy has its own options store, with the other's values and flags.
  CSecureStore(const CSecureStore& other);
  // Copies the flags and both values; each store keeps its own options.
  CSecureStore& operator=(const CSecureStore& other);

  // Change the value only if the text differs (at most 127 characters kept).
  void SetUser(const char* text);
  void SetPassword(const char* text);

  // Copy the value into the buffer (at most size - 1 characters and a
  // terminating zero) and give its length; a store that has not yet loaded
  // or saved loads first.
  int32_t GetUser(char* buffer, int32_t size);
  int32_t GetPassword(char* buffer, int32_t size);

  // True when both values were read from the file and unprotected; a value
  // that could not be is left as it was.
  bool Load();
  // True when both values were protected and the file was written; else
  // the file and the flags are left as they were.
  bool Save();

  uint8_t Synced;
  uint8_t Loaded;
  uint8_t Modified;
  MultiOptions* Options;
  char UserName[kValueSize];
  char Password[kValueSize];
};
