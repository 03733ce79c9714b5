#include "security/multi_options.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/crt32.h"

namespace {

const char kCreatedName[] = "Create";
const char kDestroyedName[] = "Destroyed";

// Longest text and byte block one line carries; longer values are cut, never
// split over lines, so that no written line exceeds the reader's block.
const size_t kTextLimit = 8188;

// Copies at most size - 1 characters and terminates the copy.
void CopyCut(char* out, size_t size, const char* text) {
  size_t length = strnlen(text ? text : "", size - 1);
  std::memcpy(out, text ? text : "", length);
  out[length] = '\0';
}

class Locked {
 public:
  explicit Locked(CRITICAL_SECTION* lock) : lock_(lock) { EnterCriticalSection(lock_); }
  ~Locked() { LeaveCriticalSection(lock_); }
  Locked(const Locked&) = delete;
  Locked& operator=(const Locked&) = delete;

 private:
  CRITICAL_SECTION* lock_;
};

// Exactly TAB, LF, VT, FF, CR and space: the bytes of the upper half are
// Cyrillic letters in this code page, never white space.
bool IsBlank(unsigned char c) { return c == ' ' || (c >= 0x09 && c <= 0x0D); }

char* Duplicate(const char* bytes, size_t size) {
  char* copy = new char[size + 1];
  if (size > 0) std::memcpy(copy, bytes, size);
  copy[size] = '\0';
  return copy;
}

char* DuplicateText(const char* text) { return Duplicate(text, std::strlen(text)); }

// The three conversions of a number field, each with the semantics of a
// 32-bit long.
void ConvertNumber(const char* text, MO_DataItem* item) {
  item->IntValue = platform::Atol32(text);
  item->UIntValue = platform::Strtoul32(text, nullptr, 10);
  double wide = std::atof(text);
  // A magnitude beyond the float range becomes an infinity explicitly,
  // rather than through an out-of-range conversion.
  if (std::isfinite(wide) && std::fabs(wide) > 3.4028234663852886e38) wide = wide > 0 ? HUGE_VAL : -HUGE_VAL;
  item->FloatValue = static_cast<float>(wide);
}

// '0' to '9' and every other byte as the digit arithmetic gives it; a value
// outside 0 to 15 counts as 0.
int NibbleOf(char c) {
  int value = (c >= '0' && c <= '9') ? c - 48 : c - 55;
  return (value >= 0 && value <= 15) ? value : 0;
}

bool StartsByte(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

// Decodes the hexadecimal text into out (room for length / 2 + 1 bytes);
// the number of bytes formed. A digit in the last place pairs with the
// terminating zero, and the scan ends there.
int32_t DecodeHex(const char* text, size_t length, char* out) {
  int32_t count = 0;
  size_t i = 0;
  while (i < length) {
    if (!StartsByte(text[i])) {
      ++i;
      continue;
    }
    out[count++] = static_cast<char>((NibbleOf(text[i]) << 4) | NibbleOf(text[i + 1]));
    i += 2;
  }
  return count;
}

void CutName(const char* name, char (&out)[MO_DataItem::kNameSize]) { CopyCut(out, sizeof out, name); }

void IndexedName(const char* name, int32_t index, char (&out)[MO_DataItem::kNameSize]) {
  std::snprintf(out, sizeof out, "%s[%" PRId32 "]", name ? name : "", index);
}

}  // namespace

// ---- MO_DataItem -----------------------------------------------------------

MO_DataItem::MO_DataItem() : IntValue(0), UIntValue(0), FloatValue(0.0f), Data(nullptr), DataSize(0), Type(MO_Int) {
  SetName(kCreatedName);
}

MO_DataItem::~MO_DataItem() {
  ReleaseData();
  SetName(kDestroyedName);
}

MO_DataItem::MO_DataItem(const MO_DataItem& other) : Data(nullptr) { *this = other; }

MO_DataItem& MO_DataItem::operator=(const MO_DataItem& other) {
  if (this == &other) return *this;
  ReleaseData();
  std::memcpy(Name, other.Name, sizeof Name);
  IntValue = other.IntValue;
  UIntValue = other.UIntValue;
  FloatValue = other.FloatValue;
  DataSize = other.DataSize;
  Type = other.Type;
  if (other.Data && Type == MO_String) {
    Data = DuplicateText(other.Data);
  } else if (other.Data && Type == MO_Binary && DataSize >= 0) {
    Data = Duplicate(other.Data, static_cast<size_t>(DataSize));
  }
  return *this;
}

void MO_DataItem::ReleaseData() {
  delete[] Data;
  Data = nullptr;
}

void MO_DataItem::SetName(const char* name) { CutName(name, Name); }

// ---- MO_FileData -----------------------------------------------------------

MO_FileData::MO_FileData(const char* path) : File(INVALID_HANDLE_VALUE), Loaded(0) {
  CopyCut(Path, sizeof Path, path);
  Buffer[0] = '\0';
}

MO_DataItem* MO_FileData::Find(const char* name) {
  for (auto& item : Items) {
    if (std::strcmp(item->Name, name) == 0) return item.get();
  }
  return nullptr;
}

MO_DataItem* MO_FileData::FindOrAppend(const char* name) {
  if (MO_DataItem* item = Find(name)) return item;
  Items.push_back(std::make_unique<MO_DataItem>());
  Items.back()->SetName(name);
  return Items.back().get();
}

int32_t MO_FileData::Read() {
  File = CreateFileA(Path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
  if (File == INVALID_HANDLE_VALUE) return 0;
  Items.clear();
  for (;;) {
    DWORD length = 0;
    // A read that fails ends the load as if the file had ended there.
    if (!ReadFile(File, Buffer, kBlockSize, &length, nullptr) || length > kBlockSize) length = 0;
    Buffer[length] = '\0';
    bool heldLineEnd = false;
    DWORD tail = 0;
    ParseBlock(length, &heldLineEnd, &tail);
    if (length < static_cast<DWORD>(kBlockSize)) break;
    // The partial line at the end starts the next block. A block without
    // any line end is dropped whole.
    if (heldLineEnd && tail > 0) SetFilePointer(File, -static_cast<LONG>(tail), nullptr, FILE_CURRENT);
  }
  CloseHandle(File);
  File = INVALID_HANDLE_VALUE;
  Loaded = 1;
  return 1;
}

void MO_FileData::ParseBlock(DWORD length, bool* heldLineEnd, DWORD* tail) {
  DWORD at = 0;
  while (at < length) {
    // The block may hold zero bytes: lines are found by the bytes read,
    // and a zero byte only ends the content of its own line.
    const char* cr = nullptr;
    for (const char* p = Buffer + at; (p = static_cast<const char*>(std::memchr(p, '\r', Buffer + length - p))); ++p) {
      if (p + 1 < Buffer + length && p[1] == '\n') {
        cr = p;
        break;
      }
    }
    if (!cr) break;
    DWORD end = static_cast<DWORD>(cr - Buffer);
    Buffer[end] = '\0';
    ParseLine(Buffer + at);
    at = end + 2;
    *heldLineEnd = true;
  }
  *tail = length - at;
}

void MO_FileData::ParseLine(char* line) {
  char* end = line + std::strlen(line);
  while (end > line && IsBlank(static_cast<unsigned char>(end[-1]))) --end;
  *end = '\0';
  while (IsBlank(static_cast<unsigned char>(*line))) ++line;
  if (*line == '\0') return;

  char* equals = std::strchr(line, '=');
  if (!equals) return;
  *equals = '\0';
  char name[MO_DataItem::kNameSize];
  CutName(line, name);

  MO_DataItem* item = FindOrAppend(name);
  item->ReleaseData();
  item->IntValue = 0;
  item->UIntValue = 0;
  item->FloatValue = 0.0f;

  char* rest = equals + 2;
  switch (equals[1]) {
    case 'I':
    case 'U':
    case 'F': {
      item->Type = equals[1] == 'I' ? MO_Int : equals[1] == 'U' ? MO_UInt : MO_Float;
      while (*rest == ' ') ++rest;
      ConvertNumber(rest, item);
      break;
    }
    case '"': {
      item->Type = MO_String;
      if (char* close = std::strrchr(rest, '"')) *close = '\0';
      size_t length = std::strlen(rest);
      if (length > 0) item->Data = DuplicateText(rest);
      break;
    }
    case '{': {
      item->Type = MO_Binary;
      if (char* close = std::strrchr(rest, '}')) *close = '\0';
      size_t length = std::strlen(rest);
      if (length == 0) {
        item->DataSize = 0;
        break;
      }
      // Room for every byte the text can form, and a zero after them.
      item->Data = new char[length / 2 + 2];
      item->DataSize = DecodeHex(rest, length, item->Data);
      item->Data[item->DataSize] = '\0';
      break;
    }
    default:
      // An unknown marker (a blank included) leaves the cleared values
      // under the item's previous type.
      break;
  }
}

DWORD MO_FileData::ComposeLine(const MO_DataItem& item) {
  size_t nameLength = std::strlen(item.Name);
  int length = 0;
  switch (item.Type) {
    case MO_UInt:
      length = std::snprintf(Buffer, sizeof Buffer, "%s=U %" PRIu32 "\r\n", item.Name, item.UIntValue);
      break;
    case MO_Float:
      length = std::snprintf(Buffer, sizeof Buffer, "%s=F %f\r\n", item.Name, static_cast<double>(item.FloatValue));
      break;
    case MO_String: {
      size_t limit = kTextLimit - (nameLength + 2);
      size_t text = item.Data ? strnlen(item.Data, limit) : 0;
      char* out = Buffer;
      std::memcpy(out, item.Name, nameLength);
      out += nameLength;
      *out++ = '=';
      *out++ = '"';
      if (text) std::memcpy(out, item.Data, text);
      out += text;
      std::memcpy(out, "\"\r\n", 3);
      length = static_cast<int>(out + 3 - Buffer);
      break;
    }
    case MO_Binary: {
      static const char kHex[] = "0123456789ABCDEF";
      size_t limit = (kBlockSize - (nameLength + 2)) / 3 - 4;
      size_t count = (item.Data && item.DataSize > 0) ? static_cast<size_t>(item.DataSize) : 0;
      if (count > limit) count = limit;
      char* out = Buffer;
      std::memcpy(out, item.Name, nameLength);
      out += nameLength;
      *out++ = '=';
      *out++ = '{';
      for (size_t i = 0; i < count; ++i) {
        unsigned char byte = static_cast<unsigned char>(item.Data[i]);
        *out++ = kHex[byte >> 4];
        *out++ = kHex[byte & 0xF];
        *out++ = ' ';
      }
      std::memcpy(out, "}\r\n", 3);
      length = static_cast<int>(out + 3 - Buffer);
      break;
    }
    default: length = std::snprintf(Buffer, sizeof Buffer, "%s=I %" PRId32 "\r\n", item.Name, item.IntValue); break;
  }
  return length > 0 ? static_cast<DWORD>(length) : 0;
}

int32_t MO_FileData::Write() {
  File = CreateFileA(Path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
  if (File == INVALID_HANDLE_VALUE) return 0;
  // A line that could not be written is reported: the caller must not take
  // a short file for a saved one.
  bool written = true;
  for (auto& item : Items) {
    DWORD length = ComposeLine(*item);
    DWORD done = 0;
    if (!WriteFile(File, Buffer, length, &done, nullptr) || done != length) written = false;
  }
  if (!CloseHandle(File)) written = false;
  File = INVALID_HANDLE_VALUE;
  return written ? 1 : 0;
}

// ---- MultiOptions ----------------------------------------------------------

MultiOptions::MultiOptions(const char* fileName, int32_t mode) : Mode(mode) {
  char directory[MAX_PATH] = {};
  DWORD length = GetCurrentDirectoryA(MAX_PATH - 1, directory);
  // A directory that cannot be had, or is too long, leaves the bare name,
  // which still names the file in the current directory.
  if (length == 0 || length >= MAX_PATH - 1) directory[0] = '\0';
  char path[2 * MAX_PATH];
  size_t at = std::strlen(directory);
  const char* separator = (at > 0 && directory[at - 1] != '\\') ? "\\" : "";
  std::snprintf(path, sizeof path, "%s%s%s", directory, separator, fileName ? fileName : "");
  CopyCut(Path, sizeof Path, path);
  FileData = new MO_FileData(Path);
  InitializeCriticalSection(&Lock);
}

MultiOptions::~MultiOptions() {
  delete FileData;
  DeleteCriticalSection(&Lock);
}

int32_t MultiOptions::Load() {
  if (Mode != MO_Manual) return 0;
  Locked locked(&Lock);
  return FileData->Read();
}

int32_t MultiOptions::Save() {
  if (Mode != MO_Manual) return 0;
  Locked locked(&Lock);
  return FileData->Write();
}

void MultiOptions::ReadOnFirstUse() {
  if (Mode == MO_Auto && !FileData->Loaded) FileData->Read();
}

int32_t MultiOptions::SetValue(const char* name, int32_t type, MO_Value value, int32_t size) {
  Locked locked(&Lock);
  ReadOnFirstUse();
  char cut[MO_DataItem::kNameSize];
  CutName(name, cut);
  MO_DataItem* item = FileData->FindOrAppend(cut);
  item->SetName(cut);
  if (type < MO_Int || type > MO_Binary) type = MO_Int;
  item->Type = type;
  switch (type) {
    case MO_UInt: item->UIntValue = value.UInt; break;
    case MO_Float: item->FloatValue = value.Float; break;
    case MO_String: {
      // An empty text is an empty copy; a missing one is taken as empty.
      const char* text = value.Text ? value.Text : "";
      size_t length = std::strlen(text);
      item->ReleaseData();
      item->Data = Duplicate(text, length);
      break;
    }
    case MO_Binary: {
      // A negative size, or no bytes, is an empty block.
      if (size < 0 || !value.Bytes) size = 0;
      item->ReleaseData();
      item->Data = Duplicate(static_cast<const char*>(value.Bytes), static_cast<size_t>(size));
      item->DataSize = size;
      break;
    }
    default: item->IntValue = value.Int; break;
  }
  if (Mode == MO_Auto) FileData->Write();
  return 1;
}

int32_t MultiOptions::SetValue(const char* name, int32_t index, int32_t type, MO_Value value, int32_t size) {
  char indexed[MO_DataItem::kNameSize];
  IndexedName(name, index, indexed);
  return SetValue(indexed, type, value, size);
}

MO_Value MultiOptions::GetValue(const char* name, int32_t type, int32_t* size) {
  MO_Value result;
  std::memset(&result, 0, sizeof result);
  Locked locked(&Lock);
  ReadOnFirstUse();
  char cut[MO_DataItem::kNameSize];
  CutName(name, cut);
  const MO_DataItem* item = FileData->Find(cut);
  if (!item) return result;
  switch (type) {
    case MO_Int: result.Int = item->IntValue; break;
    case MO_UInt: result.UInt = item->UIntValue; break;
    case MO_Float: result.Float = item->FloatValue; break;
    case MO_String: result.Text = item->Data; break;
    case MO_Binary:
      result.Bytes = item->Data;
      // The size never promises more than Data holds: a text asked for as
      // bytes has its length with the zero, no Data has none.
      if (size)
        *size = !item->Data               ? 0
                : item->Type == MO_Binary ? item->DataSize
                                          : static_cast<int32_t>(std::strlen(item->Data) + 1);
      break;
    default: break;
  }
  return result;
}

MO_Value MultiOptions::GetValue(const char* name, int32_t index, int32_t type, int32_t* size) {
  char indexed[MO_DataItem::kNameSize];
  IndexedName(name, index, indexed);
  return GetValue(indexed, type, size);
}

void MultiOptions::SetFileName(const char* path) {
  CopyCut(Path, sizeof Path, path);
  std::memcpy(FileData->Path, Path, sizeof Path);
}

// ---- Typed forms -----------------------------------------------------------

int32_t MultiOptions::SetInt(const char* name, int32_t value) {
  return SetValue(name, MO_Int, MO_Value::OfInt(value), 0);
}
int32_t MultiOptions::SetInt(const char* name, int32_t index, int32_t value) {
  return SetValue(name, index, MO_Int, MO_Value::OfInt(value), 0);
}
int32_t MultiOptions::SetUInt(const char* name, uint32_t value) {
  return SetValue(name, MO_UInt, MO_Value::OfUInt(value), 0);
}
int32_t MultiOptions::SetUInt(const char* name, int32_t index, uint32_t value) {
  return SetValue(name, index, MO_UInt, MO_Value::OfUInt(value), 0);
}
int32_t MultiOptions::SetFloat(const char* name, float value) {
  return SetValue(name, MO_Float, MO_Value::OfFloat(value), 0);
}
int32_t MultiOptions::SetFloat(const char* name, int32_t index, float value) {
  return SetValue(name, index, MO_Float, MO_Value::OfFloat(value), 0);
}
int32_t MultiOptions::SetString(const char* name, const char* text) {
  return SetValue(name, MO_String, MO_Value::OfText(text), 0);
}
int32_t MultiOptions::SetString(const char* name, int32_t index, const char* text) {
  return SetValue(name, index, MO_String, MO_Value::OfText(text), 0);
}
int32_t MultiOptions::SetBinary(const char* name, const void* bytes, int32_t size) {
  return SetValue(name, MO_Binary, MO_Value::OfBytes(bytes), size);
}
int32_t MultiOptions::SetBinary(const char* name, int32_t index, const void* bytes, int32_t size) {
  return SetValue(name, index, MO_Binary, MO_Value::OfBytes(bytes), size);
}

int32_t MultiOptions::GetInt(const char* name) { return GetValue(name, MO_Int, nullptr).Int; }
int32_t MultiOptions::GetInt(const char* name, int32_t index) { return GetValue(name, index, MO_Int, nullptr).Int; }
uint32_t MultiOptions::GetUInt(const char* name) { return GetValue(name, MO_UInt, nullptr).UInt; }
uint32_t MultiOptions::GetUInt(const char* name, int32_t index) { return GetValue(name, index, MO_UInt, nullptr).UInt; }
float MultiOptions::GetFloat(const char* name) { return GetValue(name, MO_Float, nullptr).Float; }
float MultiOptions::GetFloat(const char* name, int32_t index) { return GetValue(name, index, MO_Float, nullptr).Float; }
const char* MultiOptions::GetString(const char* name) { return GetValue(name, MO_String, nullptr).Text; }
const char* MultiOptions::GetString(const char* name, int32_t index) {
  return GetValue(name, index, MO_String, nullptr).Text;
}
const BYTE* MultiOptions::GetBinary(const char* name, int32_t* size) {
  return static_cast<const BYTE*>(GetValue(name, MO_Binary, size).Bytes);
}
const BYTE* MultiOptions::GetBinary(const char* name, int32_t index, int32_t* size) {
  return static_cast<const BYTE*>(GetValue(name, index, MO_Binary, size).Bytes);
}
