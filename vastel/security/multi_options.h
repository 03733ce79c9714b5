// A small typed key-value store kept in a text file of its own format: one
// line per item, "NAME=I 5", "NAME=U 5", "NAME=F 5.000000", NAME="text" or
// NAME={01 AB FF }, each ending with CR LF. The credential store keeps its
// protected user name and password in one of these.
//
// In automatic mode the file is read on first use and rewritten after every
// change; in manual mode only Load and Save touch it. Every public operation
// but construction, destruction and SetFileName runs under the store's lock.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/win32.h"

// Item types: the codes are those of the file's markers and the accessors.
enum : int32_t { MO_Int = 1, MO_UInt = 2, MO_Float = 3, MO_String = 4, MO_Binary = 5 };
// Store modes; any other value gives a store that never touches its file.
enum : int32_t { MO_Auto = 1, MO_Manual = 2 };

// One item. The three numbers are kept apart: an item read from a file holds
// its number in all three forms, so a reader may ask for any of them.
class MO_DataItem {
 public:
  static const int kNameSize = 64;

  MO_DataItem();
  ~MO_DataItem();
  MO_DataItem(const MO_DataItem& other);
  MO_DataItem& operator=(const MO_DataItem& other);

  // Frees Data and leaves it null.
  void ReleaseData();
  // Stores a copy of the name, cut to 63 characters.
  void SetName(const char* name);

  char Name[kNameSize];
  int32_t IntValue;
  uint32_t UIntValue;
  float FloatValue;
  char* Data;  // MO_String: NUL-terminated text; MO_Binary: DataSize bytes
  int32_t DataSize;
  int32_t Type;
};

// The file side of a store: its path, the read block (which also composes
// each output line) and the items in order of first appearance.
class MO_FileData {
 public:
  static const int kBlockSize = 8192;

  explicit MO_FileData(const char* path);
  MO_FileData(const MO_FileData&) = delete;
  MO_FileData& operator=(const MO_FileData&) = delete;

  // 1 when the file could be opened (its items then replace all others),
  // 0 when not (the items stay as they were).
  int32_t Read();
  // 1 when the file could be created and every line was written, else 0.
  int32_t Write();

  // The item of that name (already cut to 63 characters), or null.
  MO_DataItem* Find(const char* name);
  // The item of that name, appended when there is none yet.
  MO_DataItem* FindOrAppend(const char* name);

  // One line of the file, without its CR LF; changed in place while parsed.
  void ParseLine(char* line);

  char Path[MAX_PATH];
  HANDLE File;
  int32_t Loaded;
  char Buffer[kBlockSize + 1];
  // Items are held by pointer so that a text handed out by GetString stays
  // where it is while other items are added.
  std::vector<std::unique_ptr<MO_DataItem>> Items;

 private:
  void ParseBlock(DWORD length, bool* heldLineEnd, DWORD* tail);
  // Composes the item's line in Buffer; its length in bytes.
  DWORD ComposeLine(const MO_DataItem& item);
};

// What SetValue takes and GetValue gives, chosen by the type code.
union MO_Value {
  static MO_Value OfInt(int32_t v) {
    MO_Value value;
    value.Int = v;
    return value;
  }
  static MO_Value OfUInt(uint32_t v) {
    MO_Value value;
    value.UInt = v;
    return value;
  }
  static MO_Value OfFloat(float v) {
    MO_Value value;
    value.Float = v;
    return value;
  }
  static MO_Value OfText(const char* v) {
    MO_Value value;
    value.Text = v;
    return value;
  }
  static MO_Value OfBytes(const void* v) {
    MO_Value value;
    value.Bytes = v;
    return value;
  }

  int32_t Int;
  uint32_t UInt;
  float Float;
  const char* Text;
  const void* Bytes;
};

class MultiOptions {
 public:
  // The file is taken from the current directory at construction.
  explicit MultiOptions(const char* fileName = "default.opt", int32_t mode = MO_Auto);
  ~MultiOptions();
  MultiOptions(const MultiOptions&) = delete;
  MultiOptions& operator=(const MultiOptions&) = delete;

  // Manual mode only: 1 when the file was read (or written), else 0.
  int32_t Load();
  int32_t Save();

  // The general setter and getter; the type code chooses which field of the
  // item, or of the value, is meant. Size is that of a byte block to set;
  // *size receives that of a byte block got.
  int32_t SetValue(const char* name, int32_t type, MO_Value value, int32_t size);
  int32_t SetValue(const char* name, int32_t index, int32_t type, MO_Value value, int32_t size);
  MO_Value GetValue(const char* name, int32_t type, int32_t* size);
  MO_Value GetValue(const char* name, int32_t index, int32_t type, int32_t* size);

  int32_t SetInt(const char* name, int32_t value);
  int32_t SetInt(const char* name, int32_t index, int32_t value);
  int32_t SetUInt(const char* name, uint32_t value);
  int32_t SetUInt(const char* name, int32_t index, uint32_t value);
  int32_t SetFloat(const char* name, float value);
  int32_t SetFloat(const char* name, int32_t index, float value);
  int32_t SetString(const char* name, const char* text);
  int32_t SetString(const char* name, int32_t index, const char* text);
  int32_t SetBinary(const char* name, const void* bytes, int32_t size);
  int32_t SetBinary(const char* name, int32_t index, const void* bytes, int32_t size);

  int32_t GetInt(const char* name);
  int32_t GetInt(const char* name, int32_t index);
  uint32_t GetUInt(const char* name);
  uint32_t GetUInt(const char* name, int32_t index);
  float GetFloat(const char* name);
  float GetFloat(const char* name, int32_t index);
  // Pointers into the store: valid until the item is set again, the store
  // reads its file, or the store is destroyed.
  const char* GetString(const char* name);
  const char* GetString(const char* name, int32_t index);
  const BYTE* GetBinary(const char* name, int32_t* size);
  const BYTE* GetBinary(const char* name, int32_t index, int32_t* size);

  // Later reads and writes go to this path (cut to 259 characters).
  void SetFileName(const char* path);

  char Path[MAX_PATH];
  int32_t Mode;
  CRITICAL_SECTION Lock;
  MO_FileData* FileData;

 private:
  // In automatic mode the file is read before the first access that finds
  // it; until one read succeeds, every access tries again.
  void ReadOnFirstUse();
};
