// The recording database as the recorder keeps it on disk: the byte images
// of its records and the rules by which every file name is formed.
//
// Each record is encoded to and decoded from its exact image: little-endian,
// packed, field by field. Nothing here depends on how the compiler lays out
// a struct or on the host's byte order, so the same bytes come out of the
// 32-bit Windows build and the 64-bit Linux build.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/win32.h"

// A local date and time, the fields of SYSTEMTIME without the day of week.
struct STDateTime {
  static const size_t kSize = 14;

  uint16_t Year = 0;
  uint16_t Month = 0;
  uint16_t Day = 0;
  uint16_t Hour = 0;
  uint16_t Minute = 0;
  uint16_t Second = 0;
  uint16_t Millisecond = 0;

  static STDateTime FromSystemTime(const SYSTEMTIME& time);
  // The local time now (GetLocalTime).
  static STDateTime Now();

  void Encode(uint8_t* out) const;
  static STDateTime Decode(const uint8_t* in);
  bool operator==(const STDateTime& other) const;
  bool operator!=(const STDateTime& other) const { return !(*this == other); }
};

// WAVEFORMATEX (18 bytes) and the 14 bytes after it, kept as they are.
struct STWaveFormat {
  static const size_t kSize = 32;

  uint16_t FormatTag = 0;
  uint16_t Channels = 0;
  uint32_t SamplesPerSec = 0;
  uint32_t AvgBytesPerSec = 0;
  uint16_t BlockAlign = 0;
  uint16_t BitsPerSample = 0;
  uint16_t ExtraSize = 0;
  uint8_t Following[14] = {};

  // What Vastel writes: 16-bit mono PCM at 44100 Hz, the rest zero.
  static STWaveFormat Pcm16Mono44100();

  void Encode(uint8_t* out) const;
  static STWaveFormat Decode(const uint8_t* in);
  bool operator==(const STWaveFormat& other) const;
};

// The volume header at the start of a .wdb file.
struct STVolHdr {
  static const size_t kSize = 56;

  char Signature[6] = {'V', 'o', 'l', 'H', 'd', 'r'};
  int32_t Volume = 0;
  STWaveFormat Format;
  STDateTime Created;

  void Encode(uint8_t* out) const;
  static STVolHdr Decode(const uint8_t* in);
};

// The header of one block of a .wdb file.
struct STBcHr {
  static const size_t kSize = 58;

  char Signature[4] = {'B', 'c', 'H', 'r'};
  int32_t RecordNumber = 0;
  STDateTime Time;
  STWaveFormat Format;
  int32_t Tail = 0;  // the recorder's; 0 in the empty block Vastel writes

  void Encode(uint8_t* out) const;
  static STBcHr Decode(const uint8_t* in);
};

// One entry of a .idx file.
struct STIdxEntry {
  static const size_t kSize = 22;

  int32_t RecordNumber = 0;
  STDateTime Time;
  int32_t Position = 0;  // of the block's STBcHr in the .wdb file

  void Encode(uint8_t* out) const;
  static STIdxEntry Decode(const uint8_t* in);
};

// One entry of a .edx file.
struct STEdxEntry {
  static const size_t kSize = 16;

  int32_t RecordNumber = 0;
  int32_t Second = -1;  // the last three are the recorder's; Vastel
  int32_t Third = 0;    // writes -1, 0, 0
  int32_t Fourth = 0;

  void Encode(uint8_t* out) const;
  static STEdxEntry Decode(const uint8_t* in);
};

// The record of "ChannelInform.Chd". The two stretches Vastel does not
// interpret are kept byte for byte, so a record read and written back
// changes only the fields that were set.
struct STChannelInform {
  static const size_t kSize = 78;

  uint8_t Head[6] = {};
  int32_t VolumeCount = 0;
  int32_t LastVolume = 0;
  int32_t RecordNumber = 0;
  uint8_t Middle[32] = {};
  STDateTime First;
  STDateTime Second;

  void Encode(uint8_t* out) const;
  static STChannelInform Decode(const uint8_t* in);
};

// ---- Names -----------------------------------------------------------------
// Plain concatenation of the channel's strings with fixed text: no separator
// is ever inserted, numbers are "%ld", the fixed text is in its exact case.
// Paths are formed as strings, so a long channel directory gives a long
// path (which the system may then refuse) and never overruns a buffer.

namespace vastel_db {

extern const char kIdx[];  // ".idx"
extern const char kWdb[];  // ".wdb"
extern const char kEdx[];  // ".edx"
extern const char kEdb[];  // ".edb"

// "%s%sVol%ld<ext>": directory (channel or Ext), prefix, number, extension.
std::string VolumeFilePath(const char* directory, const char* prefix, int32_t volume, const char* extension);
// The channel directory followed by "ChannelInform.Chd".
std::string ChannelInformPath(const char* channelDir);
// "%sreserv\%s%ld.space" with the channel directory, "Reserv" and the number.
// The number is 64-bit only so that counting past the highest one read
// can never overflow; the numbers Vastel forms stay within 32 bits.
std::string ReserveFilePath(const char* channelDir, int64_t number);
// "%s%sVol*.*": the volume search in a directory (channel or Ext).
std::string VolumeSearchPattern(const char* directory, const char* prefix);
// "%sreserv\%s*.space" with the channel directory and "Reserv".
std::string ReserveSearchPattern(const char* channelDir);

// The volume number of a listed name: after the first exact-case occurrence
// of the prefix, skip it and three characters, and read the number the way
// a 32-bit atol does. False when the name does not contain the prefix.
bool VolumeNumberFromName(const char* name, const char* prefix, int32_t* number);
// The reserve number of a listed name: ".space" cut off, the number read
// from the seventh character on, as atol does.
int32_t ReserveNumberFromName(const char* name);

}  // namespace vastel_db
