#include "database/layout.h"

#include <cstdio>
#include <cstring>

#include "platform/crt32.h"

namespace {

// Little-endian, byte by byte: the image is the same whatever the host.
void Put16(uint8_t*& out, uint16_t value) {
  *out++ = static_cast<uint8_t>(value);
  *out++ = static_cast<uint8_t>(value >> 8);
}

void Put32(uint8_t*& out, uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) *out++ = static_cast<uint8_t>(value >> shift);
}

void PutI32(uint8_t*& out, int32_t value) { Put32(out, static_cast<uint32_t>(value)); }

void PutBytes(uint8_t*& out, const void* bytes, size_t size) {
  std::memcpy(out, bytes, size);
  out += size;
}

uint16_t Get16(const uint8_t*& in) {
  uint16_t value = static_cast<uint16_t>(in[0] | (in[1] << 8));
  in += 2;
  return value;
}

uint32_t Get32(const uint8_t*& in) {
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | in[i];
  in += 4;
  return value;
}

// Two's complement, without relying on an implementation-defined
// conversion of an out-of-range unsigned value.
int32_t GetI32(const uint8_t*& in) {
  uint32_t bits = Get32(in);
  return bits <= 0x7FFFFFFFu ? static_cast<int32_t>(bits) : -static_cast<int32_t>(~bits) - 1;
}

void GetBytes(const uint8_t*& in, void* bytes, size_t size) {
  std::memcpy(bytes, in, size);
  in += size;
}

}  // namespace

// ---- STDateTime ------------------------------------------------------------

STDateTime STDateTime::FromSystemTime(const SYSTEMTIME& time) {
  STDateTime t;
  t.Year = time.wYear;
  t.Month = time.wMonth;
  t.Day = time.wDay;
  t.Hour = time.wHour;
  t.Minute = time.wMinute;
  t.Second = time.wSecond;
  t.Millisecond = time.wMilliseconds;
  return t;
}

STDateTime STDateTime::Now() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  return FromSystemTime(now);
}

void STDateTime::Encode(uint8_t* out) const {
  for (uint16_t field : {Year, Month, Day, Hour, Minute, Second, Millisecond}) Put16(out, field);
}

STDateTime STDateTime::Decode(const uint8_t* in) {
  STDateTime t;
  t.Year = Get16(in);
  t.Month = Get16(in);
  t.Day = Get16(in);
  t.Hour = Get16(in);
  t.Minute = Get16(in);
  t.Second = Get16(in);
  t.Millisecond = Get16(in);
  return t;
}

bool STDateTime::operator==(const STDateTime& o) const {
  return Year == o.Year && Month == o.Month && Day == o.Day && Hour == o.Hour && Minute == o.Minute &&
         Second == o.Second && Millisecond == o.Millisecond;
}

// ---- STWaveFormat ----------------------------------------------------------

STWaveFormat STWaveFormat::Pcm16Mono44100() {
  STWaveFormat f;
  f.FormatTag = 1;  // WAVE_FORMAT_PCM
  f.Channels = 1;
  f.SamplesPerSec = 44100;
  f.AvgBytesPerSec = 88200;
  f.BlockAlign = 2;
  f.BitsPerSample = 16;
  f.ExtraSize = 0;
  return f;
}

void STWaveFormat::Encode(uint8_t* out) const {
  Put16(out, FormatTag);
  Put16(out, Channels);
  Put32(out, SamplesPerSec);
  Put32(out, AvgBytesPerSec);
  Put16(out, BlockAlign);
  Put16(out, BitsPerSample);
  Put16(out, ExtraSize);
  PutBytes(out, Following, sizeof Following);
}

STWaveFormat STWaveFormat::Decode(const uint8_t* in) {
  STWaveFormat f;
  f.FormatTag = Get16(in);
  f.Channels = Get16(in);
  f.SamplesPerSec = Get32(in);
  f.AvgBytesPerSec = Get32(in);
  f.BlockAlign = Get16(in);
  f.BitsPerSample = Get16(in);
  f.ExtraSize = Get16(in);
  GetBytes(in, f.Following, sizeof f.Following);
  return f;
}

bool STWaveFormat::operator==(const STWaveFormat& o) const {
  return FormatTag == o.FormatTag && Channels == o.Channels && SamplesPerSec == o.SamplesPerSec &&
         AvgBytesPerSec == o.AvgBytesPerSec && BlockAlign == o.BlockAlign && BitsPerSample == o.BitsPerSample &&
         ExtraSize == o.ExtraSize && std::memcmp(Following, o.Following, sizeof Following) == 0;
}

// ---- STVolHdr, STBcHr ------------------------------------------------------

void STVolHdr::Encode(uint8_t* out) const {
  PutBytes(out, Signature, sizeof Signature);
  PutI32(out, Volume);
  Format.Encode(out);
  out += STWaveFormat::kSize;
  Created.Encode(out);
}

STVolHdr STVolHdr::Decode(const uint8_t* in) {
  STVolHdr h;
  GetBytes(in, h.Signature, sizeof h.Signature);
  h.Volume = GetI32(in);
  h.Format = STWaveFormat::Decode(in);
  in += STWaveFormat::kSize;
  h.Created = STDateTime::Decode(in);
  return h;
}

void STBcHr::Encode(uint8_t* out) const {
  PutBytes(out, Signature, sizeof Signature);
  PutI32(out, RecordNumber);
  Time.Encode(out);
  out += STDateTime::kSize;
  Format.Encode(out);
  out += STWaveFormat::kSize;
  PutI32(out, Tail);
}

STBcHr STBcHr::Decode(const uint8_t* in) {
  STBcHr h;
  GetBytes(in, h.Signature, sizeof h.Signature);
  h.RecordNumber = GetI32(in);
  h.Time = STDateTime::Decode(in);
  in += STDateTime::kSize;
  h.Format = STWaveFormat::Decode(in);
  in += STWaveFormat::kSize;
  h.Tail = GetI32(in);
  return h;
}

// ---- STIdxEntry, STEdxEntry ------------------------------------------------

void STIdxEntry::Encode(uint8_t* out) const {
  PutI32(out, RecordNumber);
  Time.Encode(out);
  out += STDateTime::kSize;
  PutI32(out, Position);
}

STIdxEntry STIdxEntry::Decode(const uint8_t* in) {
  STIdxEntry e;
  e.RecordNumber = GetI32(in);
  e.Time = STDateTime::Decode(in);
  in += STDateTime::kSize;
  e.Position = GetI32(in);
  return e;
}

void STEdxEntry::Encode(uint8_t* out) const {
  for (int32_t field : {RecordNumber, Second, Third, Fourth}) PutI32(out, field);
}

STEdxEntry STEdxEntry::Decode(const uint8_t* in) {
  STEdxEntry e;
  e.RecordNumber = GetI32(in);
  e.Second = GetI32(in);
  e.Third = GetI32(in);
  e.Fourth = GetI32(in);
  return e;
}

// ---- STChannelInform -------------------------------------------------------

void STChannelInform::Encode(uint8_t* out) const {
  PutBytes(out, Head, sizeof Head);
  PutI32(out, VolumeCount);
  PutI32(out, LastVolume);
  PutI32(out, RecordNumber);
  PutBytes(out, Middle, sizeof Middle);
  First.Encode(out);
  out += STDateTime::kSize;
  Second.Encode(out);
}

STChannelInform STChannelInform::Decode(const uint8_t* in) {
  STChannelInform r;
  GetBytes(in, r.Head, sizeof r.Head);
  r.VolumeCount = GetI32(in);
  r.LastVolume = GetI32(in);
  r.RecordNumber = GetI32(in);
  GetBytes(in, r.Middle, sizeof r.Middle);
  r.First = STDateTime::Decode(in);
  in += STDateTime::kSize;
  r.Second = STDateTime::Decode(in);
  return r;
}

// ---- Names -----------------------------------------------------------------

namespace vastel_db {

const char kIdx[] = ".idx";
const char kWdb[] = ".wdb";
const char kEdx[] = ".edx";
const char kEdb[] = ".edb";

namespace {

const char kReserveName[] = "Reserv";
const char kSpaceExtension[] = ".space";

std::string Decimal(int64_t number) {
  char text[24];
  std::snprintf(text, sizeof text, "%lld", static_cast<long long>(number));
  return text;
}

}  // namespace

std::string VolumeFilePath(const char* directory, const char* prefix, int32_t volume, const char* extension) {
  return std::string(directory) + prefix + "Vol" + Decimal(volume) + extension;
}

std::string ChannelInformPath(const char* channelDir) { return std::string(channelDir) + "ChannelInform.Chd"; }

std::string ReserveFilePath(const char* channelDir, int64_t number) {
  return std::string(channelDir) + "reserv\\" + kReserveName + Decimal(number) + kSpaceExtension;
}

std::string VolumeSearchPattern(const char* directory, const char* prefix) {
  return std::string(directory) + prefix + "Vol*.*";
}

std::string ReserveSearchPattern(const char* channelDir) {
  return std::string(channelDir) + "reserv\\" + kReserveName + "*" + kSpaceExtension;
}

bool VolumeNumberFromName(const char* name, const char* prefix, int32_t* number) {
  const char* at = std::strstr(name, prefix);
  if (!at || !*prefix) return false;
  at += std::strlen(prefix);
  // The three characters of "Vol" (in whatever case the search let
  // through); a name that ends sooner reads no digits, never past its end.
  for (int i = 0; i < 3 && *at; ++i) ++at;
  *number = platform::Atol32(at);
  return true;
}

int32_t ReserveNumberFromName(const char* name) {
  std::string stem(name);
  const size_t cut = sizeof kSpaceExtension - 1;
  stem.resize(stem.size() > cut ? stem.size() - cut : 0);
  const size_t skip = sizeof kReserveName - 1;
  return stem.size() > skip ? platform::Atol32(stem.c_str() + skip) : 0;
}

}  // namespace vastel_db
