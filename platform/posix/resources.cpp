// Modules and resources on POSIX systems.
//
// A program's resources are the .res image that windres compiles from its
// resource script; the build embeds it as the array velmora_module_resources
// (cmake/Resources.cmake). A module is that image parsed into a table of
// entries; resource handles point into the table and resource data points
// into the image itself, as on Windows where both live in the mapped file.
//
// The .res image is a sequence of entries, each DWORD-aligned:
//   DWORD DataSize, DWORD HeaderSize,
//   TYPE and NAME: 0xFFFF then a WORD number, or a zero-terminated UTF-16
//   string, padding to a DWORD boundary,
//   DWORD DataVersion, WORD MemoryFlags, WORD LanguageId, DWORD Version,
//   DWORD Characteristics,
//   then DataSize bytes of data at HeaderSize from the entry's start, padded
//   to a DWORD boundary.
// The first entry is the empty 32-byte one that marks a 32-bit image.
//
// Every field is read through a bounds check: an image that is cut short or
// damaged anywhere gives a module without resources, never a read outside
// the image.

#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <unordered_set>
#include <vector>

#include "platform/module.h"
#include "platform/win32.h"

// The program's resource image, defined by the generated source that
// velmora_add_resources adds to an executable. Weak, so that programs
// without resources (unit tests) link and simply have none.
extern "C" __attribute__((weak)) const unsigned char velmora_module_resources[];
extern "C" __attribute__((weak)) const size_t velmora_module_resources_size;

namespace {

// Codes Windows reports in these cases; the logic only tests for failure,
// so they are not part of the declared subset.
constexpr DWORD kErrorModNotFound = 126;            // ERROR_MOD_NOT_FOUND
constexpr DWORD kErrorResourceDataNotFound = 1812;  // ERROR_RESOURCE_DATA_NOT_FOUND

// The system icons LoadIconA(NULL, ...) offers: IDI_APPLICATION (32512)
// through IDI_SHIELD (32518).
constexpr WORD kFirstSystemIcon = 32512;
constexpr WORD kSystemIconCount = 7;
unsigned char g_system_icons[kSystemIconCount];

constexpr WORD kIconResource = 3;        // RT_ICON
constexpr WORD kGroupIconResource = 14;  // RT_GROUP_ICON

// A TYPE or NAME: a number, or a string. Strings are kept with ASCII letters
// in upper case, since names are matched without regard to their case.
struct ResourceId {
  bool is_number = false;
  WORD number = 0;
  std::u16string name;
};

bool SameId(const ResourceId& a, const ResourceId& b) {
  if (a.is_number != b.is_number) return false;
  return a.is_number ? a.number == b.number : a.name == b.name;
}

char16_t FoldCase(char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - u'a' + u'A') : c; }

struct Entry {
  ResourceId type;
  ResourceId name;
  const unsigned char* data = nullptr;
  DWORD size = 0;
};

struct Module {
  std::vector<Entry> entries;

  bool Owns(const Entry* entry) const {
    if (entries.empty()) return false;
    std::less<const Entry*> before;
    return !before(entry, entries.data()) && before(entry, entries.data() + entries.size());
  }
};

// Little-endian reads at an offset, each refused when it would leave
// [0, size).
class ImageReader {
 public:
  ImageReader(const unsigned char* base, size_t size) : base_(base), size_(size) {}

  size_t size() const { return size_; }
  const unsigned char* at(size_t offset) const { return base_ + offset; }

  bool Word(size_t offset, WORD* value) const {
    if (offset > size_ || size_ - offset < 2) return false;
    *value = static_cast<WORD>(base_[offset] | (base_[offset + 1] << 8));
    return true;
  }

  bool Dword(size_t offset, DWORD* value) const {
    if (offset > size_ || size_ - offset < 4) return false;
    *value = static_cast<DWORD>(base_[offset]) | (static_cast<DWORD>(base_[offset + 1]) << 8) |
             (static_cast<DWORD>(base_[offset + 2]) << 16) | (static_cast<DWORD>(base_[offset + 3]) << 24);
    return true;
  }

 private:
  const unsigned char* base_;
  size_t size_;
};

size_t AlignToDword(size_t offset) { return (offset + 3) & ~static_cast<size_t>(3); }

// Reads a TYPE or NAME field at *offset, which must end before `limit` (the
// end of the entry's header); advances *offset past it.
bool ReadId(const ImageReader& image, size_t limit, size_t* offset, ResourceId* id) {
  WORD first;
  if (*offset >= limit || !image.Word(*offset, &first)) return false;
  if (first == 0xFFFF) {
    if (limit - *offset < 4 || !image.Word(*offset + 2, &id->number)) return false;
    id->is_number = true;
    *offset += 4;
    return true;
  }
  id->is_number = false;
  id->name.clear();
  size_t at = *offset;
  for (;;) {
    WORD unit;
    if (limit - at < 2 || !image.Word(at, &unit)) return false;
    at += 2;
    if (unit == 0) break;
    id->name.push_back(FoldCase(static_cast<char16_t>(unit)));
  }
  if (id->name.empty()) return false;  // an empty string names nothing
  *offset = at;
  return true;
}

constexpr size_t kEntryPrefix = 8;   // DataSize, HeaderSize
constexpr size_t kEntrySuffix = 16;  // DataVersion .. Characteristics
constexpr size_t kMarkerSize = 32;   // the leading empty entry

// Parses a whole image into `entries`. False, with `entries` empty, when
// any part of it is not well formed.
bool ParseImage(const unsigned char* base, size_t size, std::vector<Entry>* entries) {
  entries->clear();
  if (size == 0) return true;  // no resources at all
  ImageReader image(base, size);
  size_t offset = 0;
  bool first = true;
  while (offset < size) {
    DWORD data_size, header_size;
    if (!image.Dword(offset, &data_size) || !image.Dword(offset + 4, &header_size)) break;
    if (header_size % 4 != 0 || header_size < kEntryPrefix + 4 + 4 + kEntrySuffix) break;
    if (header_size > size - offset) break;
    const size_t header_end = offset + header_size;

    Entry entry;
    size_t field = offset + kEntryPrefix;
    if (!ReadId(image, header_end, &field, &entry.type) || !ReadId(image, header_end, &field, &entry.name)) break;
    field = AlignToDword(field);
    // The header is exactly its fields: anything else is not an image this
    // reader understands.
    if (field > header_end || header_end - field != kEntrySuffix) break;
    if (data_size > size - header_end) break;

    if (first) {
      // The marker of a 32-bit image: no data, type 0, name 0.
      if (data_size != 0 || header_size != kMarkerSize || !entry.type.is_number || entry.type.number != 0 ||
          !entry.name.is_number || entry.name.number != 0) {
        break;
      }
      first = false;
    } else {
      entry.data = image.at(header_end);
      entry.size = data_size;
      entries->push_back(std::move(entry));
    }
    // The last entry's padding may be missing; the loop ends either way.
    offset = AlignToDword(header_end + data_size);
  }
  if (offset < size || first) {
    entries->clear();
    return false;
  }
  return true;
}

// All modules ever made. They are never released, so handles stay valid
// for the life of the process; the set lets a call tell a module handle
// from any other pointer.
struct Registry {
  std::mutex lock;
  std::deque<Module> modules;
  std::unordered_set<const Module*> known;
};

Registry& Modules() {
  static Registry* registry = new Registry;  // never destroyed: handles outlive static destructors
  return *registry;
}

Module* Register(const unsigned char* data, size_t size) {
  Module module;
  ParseImage(data, size, &module.entries);
  Registry& registry = Modules();
  std::lock_guard<std::mutex> hold(registry.lock);
  registry.modules.push_back(std::move(module));
  Module* added = &registry.modules.back();
  registry.known.insert(added);
  return added;
}

Module* ProgramModule() {
  static Module* program = [] {
    const unsigned char* data = velmora_module_resources;
    const size_t* size = &velmora_module_resources_size;
    if (data == nullptr || size == nullptr) return Register(nullptr, 0);
    return Register(data, *size);
  }();
  return program;
}

// The module a call names: NULL is the program's own, as on Windows.
const Module* ResolveModule(HMODULE handle) {
  if (handle == nullptr) return ProgramModule();
  const Module* module = reinterpret_cast<const Module*>(handle);
  Registry& registry = Modules();
  std::lock_guard<std::mutex> hold(registry.lock);
  return registry.known.count(module) ? module : nullptr;
}

enum class Key { kValid, kInvalid };

// A TYPE or NAME argument as a ResourceId: MAKEINTRESOURCEA(n), "#n", or a
// name. `matchable` is false for a name with characters outside ASCII:
// resource names here are ASCII, and a narrow name carries no code page to
// compare anything else by.
Key IdFromArgument(LPCSTR argument, ResourceId* id, bool* matchable) {
  *matchable = true;
  if (argument == nullptr) return Key::kInvalid;
  if (IS_INTRESOURCE(argument)) {
    id->is_number = true;
    id->number = static_cast<WORD>(reinterpret_cast<uintptr_t>(argument));
    return Key::kValid;
  }
  if (argument[0] == '#') {
    DWORD value = 0;
    const char* p = argument + 1;
    if (*p == '\0') return Key::kInvalid;
    for (; *p != '\0'; ++p) {
      if (*p < '0' || *p > '9') return Key::kInvalid;
      value = value * 10 + static_cast<DWORD>(*p - '0');
      if (value > 0xFFFF) return Key::kInvalid;
    }
    id->is_number = true;
    id->number = static_cast<WORD>(value);
    return Key::kValid;
  }
  id->is_number = false;
  id->name.clear();
  for (const char* p = argument; *p != '\0'; ++p) {
    const unsigned char c = static_cast<unsigned char>(*p);
    if (c >= 0x80) *matchable = false;
    id->name.push_back(FoldCase(static_cast<char16_t>(c)));
  }
  return Key::kValid;
}

// Looks up (type, name) in a module; on failure sets the error Windows
// reports and returns null.
const Entry* Find(const Module& module, LPCSTR name, LPCSTR type) {
  ResourceId type_id, name_id;
  bool type_matchable, name_matchable;
  if (IdFromArgument(type, &type_id, &type_matchable) != Key::kValid ||
      IdFromArgument(name, &name_id, &name_matchable) != Key::kValid) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (module.entries.empty()) {
    SetLastError(kErrorResourceDataNotFound);
    return nullptr;
  }
  bool type_seen = false;
  if (type_matchable) {
    for (const Entry& entry : module.entries) {
      if (!SameId(entry.type, type_id)) continue;
      type_seen = true;
      if (name_matchable && SameId(entry.name, name_id)) return &entry;
    }
  }
  SetLastError(type_seen ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_RESOURCE_TYPE_NOT_FOUND);
  return nullptr;
}

// The resource a handle names in the module a call names, or null with
// ERROR_INVALID_HANDLE.
const Entry* ResolveResource(HMODULE handle, HRSRC resource) {
  const Module* module = ResolveModule(handle);
  const Entry* entry = reinterpret_cast<const Entry*>(resource);
  if (module == nullptr || entry == nullptr || !module->Owns(entry)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return entry;
}

WORD ReadWordAt(const unsigned char* p) { return static_cast<WORD>(p[0] | (p[1] << 8)); }

// An icon group is usable when its directory is whole and at least one of
// the images it lists is in the module.
bool GroupHasImage(const Module& module, const Entry& group) {
  constexpr size_t kDirectory = 6;    // reserved, type, count
  constexpr size_t kGroupEntry = 14;  // width .. bytes in resource, then the image's id
  constexpr size_t kImageIdOffset = 12;
  if (group.size < kDirectory) return false;
  const WORD reserved = ReadWordAt(group.data);
  const WORD kind = ReadWordAt(group.data + 2);
  const WORD count = ReadWordAt(group.data + 4);
  if (reserved != 0 || kind != 1 || count == 0) return false;
  if ((group.size - kDirectory) / kGroupEntry < count) return false;
  for (WORD i = 0; i < count; ++i) {
    const WORD image_id = ReadWordAt(group.data + kDirectory + i * kGroupEntry + kImageIdOffset);
    for (const Entry& entry : module.entries) {
      if (entry.type.is_number && entry.type.number == kIconResource && entry.name.is_number &&
          entry.name.number == image_id) {
        return true;
      }
    }
  }
  return false;
}

}  // namespace

namespace platform {

HMODULE ModuleFromResources(const void* data, size_t size) {
  if (data == nullptr) size = 0;
  return reinterpret_cast<HMODULE>(Register(static_cast<const unsigned char*>(data), size));
}

}  // namespace platform

HMODULE GetModuleHandleA(LPCSTR name) {
  // Only the program itself is a module here: there are no DLLs to name.
  if (name != nullptr) {
    SetLastError(kErrorModNotFound);
    return nullptr;
  }
  return reinterpret_cast<HMODULE>(ProgramModule());
}

HRSRC FindResourceA(HMODULE module, LPCSTR name, LPCSTR type) {
  const Module* resolved = ResolveModule(module);
  if (resolved == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return reinterpret_cast<HRSRC>(const_cast<Entry*>(Find(*resolved, name, type)));
}

DWORD SizeofResource(HMODULE module, HRSRC resource) {
  const Entry* entry = ResolveResource(module, resource);
  return entry ? entry->size : 0;
}

HGLOBAL LoadResource(HMODULE module, HRSRC resource) {
  const Entry* entry = ResolveResource(module, resource);
  return entry ? const_cast<unsigned char*>(entry->data) : nullptr;
}

LPVOID LockResource(HGLOBAL data) {
  // Resource data is read in place; there is nothing to lock.
  return data;
}

HICON LoadIconA(HINSTANCE instance, LPCSTR name) {
  if (instance == nullptr) {
    // The system's stock icons, by number only.
    if (name != nullptr && IS_INTRESOURCE(name)) {
      const WORD id = static_cast<WORD>(reinterpret_cast<uintptr_t>(name));
      if (id >= kFirstSystemIcon && id < kFirstSystemIcon + kSystemIconCount) {
        return reinterpret_cast<HICON>(&g_system_icons[id - kFirstSystemIcon]);
      }
    }
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
  }
  const Module* module = ResolveModule(instance);
  if (module == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  const Entry* group = Find(*module, name, MAKEINTRESOURCEA(kGroupIconResource));
  if (group == nullptr || !GroupHasImage(*module, *group)) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
  }
  // The handle is the group's entry: it identifies the icon for as long as
  // the module lives, which is the life of the process.
  return reinterpret_cast<HICON>(const_cast<Entry*>(group));
}
