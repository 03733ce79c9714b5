// The security object: the recorder suite's security file "SecurInf.cfg"
// with the two passwords and eleven settings words, and its backup
// "Securinf.bkp" beside it.
//
// The file is 1440 bytes: "Security", random filler, a scatter key at
// offset 10 and a checksum at offset 20; the 76 data bytes (both passwords,
// then the words) stand scrambled among filler at the places the key gives.
// Reading falls back to the backup when the main copy is missing or
// damaged, and then brings the two copies in step.
#pragma once

#include <cstdint>

class CSecureStore;

class SecretIni {
 public:
  static const int kPasswordSize = 16;
  static const int kSettingsCount = 11;
  static const int kPathSize = 400;
  static const int kFileSize = 1440;
  static const int kDataBytes = 2 * kPasswordSize + 4 * kSettingsCount;
  // Index of the operator's right to purge among the settings words.
  static const int kOperatorMayPurge = 8;

  // Reads the file of that name in the current directory, or its backup.
  // Throws ErrorClass 600 when neither copy can be opened, 601 when the
  // backup had to be read and is damaged.
  explicit SecretIni(const char* fileName);
  // An object with empty passwords and the default words that has read
  // nothing: the start of a new security file (see Write).
  struct Blank {};
  SecretIni(const char* fileName, Blank);
  ~SecretIni();
  // Copies every field; the copy has a store of its own, assigned from the
  // other's.
  SecretIni(const SecretIni& other);
  SecretIni& operator=(const SecretIni& other);

  // 0 when the settings were read, 1 when no copy could be opened. Throws
  // ErrorClass 601 when the backup is read and damaged.
  int32_t Read(bool useBackup);
  // Writes the main file anew: -1 when it cannot be created or written;
  // otherwise 1 or 0 as the credential store could be saved.
  int32_t Write();

  // The 76 offsets of the data bytes for a scatter key, in data order.
  static void ScatterOffsets(uint32_t key, int32_t offsets[kDataBytes]);
  // The byte codec; index is the byte's place within its field.
  static uint8_t EncodeByte(uint8_t byte, int index);
  static uint8_t DecodeByte(uint8_t stored, int index);
  // The two sums a reader accepts in the checksum word: over all 360
  // words, and over words 0 to 263; word 5 (the checksum) left out of both.
  static void Sums(const uint8_t file[kFileSize], uint32_t* full, uint32_t* shortSum);

  char AdminPassword[kPasswordSize];
  char OperatorPassword[kPasswordSize];
  int32_t Settings[kSettingsCount];
  CSecureStore* Store;
  char MainPath[kPathSize];
  char BackupPath[kPathSize];

 private:
  void SetDefaults(const char* fileName);
  // The file's bytes laid out from the fields, with this key and filler.
  void Compose(uint32_t key, uint8_t file[kFileSize]) const;
  // The fields from the file's data bytes.
  void Decompose(const uint8_t file[kFileSize]);
};
