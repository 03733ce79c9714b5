// Vastel's resources, read back the way the program reads them.
//
// The test executable carries Vastel.rc's resources (velmora_add_resources
// in this directory's CMakeLists.txt): on Windows in its PE file, read by
// the system; on POSIX systems as the embedded .res image, read by the
// platform layer. Both targets run the same checks on the same templates.
// Narrow literals are Windows-1251 (-fexec-charset=CP1251), like the texts
// the template reader returns.

#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "../support/dialog_template.h"
#include "platform/win32.h"

#if !defined(_WIN32)
#include "platform/module.h"

extern "C" const unsigned char velmora_module_resources[];
extern "C" const size_t velmora_module_resources_size;
#endif

namespace {

using testsupport::DialogItem;
using testsupport::DialogTemplate;
using testsupport::ParseDialogTemplate;

struct Bytes {
  const uint8_t* data = nullptr;
  size_t size = 0;
};

// A resource's bytes through FindResourceA/LoadResource/LockResource.
::testing::AssertionResult LoadBytes(HMODULE module, LPCSTR name, LPCSTR type, Bytes* bytes) {
  HRSRC found = FindResourceA(module, name, type);
  if (found == nullptr) return ::testing::AssertionFailure() << "FindResourceA failed, error " << GetLastError();
  HGLOBAL loaded = LoadResource(module, found);
  if (loaded == nullptr) return ::testing::AssertionFailure() << "LoadResource failed, error " << GetLastError();
  bytes->data = static_cast<const uint8_t*>(LockResource(loaded));
  bytes->size = SizeofResource(module, found);
  if (bytes->data == nullptr) return ::testing::AssertionFailure() << "LockResource gave no data";
  return ::testing::AssertionSuccess();
}

uint16_t ReadWord(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t ReadDword(const uint8_t* p) { return ReadWord(p) | (static_cast<uint32_t>(ReadWord(p + 2)) << 16); }

bool SameClassName(const std::string& a, const std::string& b) {
  // Window class names are not case-sensitive; windres writes the classes it
  // has no atom for in capitals.
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

// ---- Dialog templates ------------------------------------------------------

struct ControlRow {
  int32_t id;
  const char* class_name;
  const char* text;
  int16_t x, y, cx, cy;
  uint32_t kind;  // what makes the control what it is: BS_*, SS_*, CBS_*, ES_PASSWORD
  bool tab_stop;
  bool disabled;
  bool group;
  uint32_t other;  // any further style bits: WS_BORDER, WS_VSCROLL
};

struct DialogRow {
  const char* name;
  const char* caption;
  int16_t cx, cy;
  uint32_t style;
  uint32_t ex_style;
  std::vector<ControlRow> controls;
};

void ExpectControl(const DialogItem& item, const ControlRow& row) {
  EXPECT_EQ(item.id, row.id);
  EXPECT_TRUE(SameClassName(item.class_name, row.class_name)) << item.class_name << " instead of " << row.class_name;
  EXPECT_EQ(item.text, row.text);
  EXPECT_EQ(item.x, row.x);
  EXPECT_EQ(item.y, row.y);
  EXPECT_EQ(item.cx, row.cx);
  EXPECT_EQ(item.cy, row.cy);
  EXPECT_EQ((item.style & WS_TABSTOP) != 0, row.tab_stop) << "WS_TABSTOP";
  EXPECT_EQ((item.style & WS_DISABLED) != 0, row.disabled) << "WS_DISABLED";
  EXPECT_EQ((item.style & WS_GROUP) != 0, row.group) << "WS_GROUP";
  EXPECT_EQ(item.style & (WS_CHILD | WS_VISIBLE), static_cast<uint32_t>(WS_CHILD | WS_VISIBLE));
  const std::string kind_of = row.class_name;
  if (kind_of == "Button") {
    EXPECT_EQ(item.style & BS_TYPEMASK, row.kind) << "button type (push, default push, auto radio)";
  } else if (kind_of == "Static") {
    EXPECT_EQ(item.style & SS_TYPEMASK, row.kind) << "static type (text, etched frame)";
  } else if (kind_of == "ComboBox") {
    EXPECT_EQ(item.style & 0x3u, row.kind) << "combo box type (drop-down list)";
  } else if (kind_of == "Edit") {
    EXPECT_EQ(item.style & ES_PASSWORD, row.kind & ES_PASSWORD) << "ES_PASSWORD";
    EXPECT_EQ(item.style & ES_AUTOHSCROLL, 0u) << "the box must stop taking characters when full";
  }
  // Nothing beyond what the row lists.
  const uint32_t expected = WS_CHILD | WS_VISIBLE | row.kind | (row.tab_stop ? WS_TABSTOP : 0u) |
                            (row.disabled ? WS_DISABLED : 0u) | (row.group ? WS_GROUP : 0u) | row.other;
  EXPECT_EQ(item.style, expected) << std::hex << "style 0x" << item.style << ", expected 0x" << expected;
  EXPECT_EQ(item.ex_style, 0u);
  EXPECT_TRUE(item.creation_data.empty());
}

void ExpectDialog(const DialogRow& row) {
  Bytes bytes;
  ASSERT_TRUE(LoadBytes(GetModuleHandleA(nullptr), row.name, RT_DIALOG, &bytes));
  DialogTemplate dialog;
  std::string error;
  ASSERT_TRUE(ParseDialogTemplate(bytes.data, bytes.size, &dialog, &error)) << error;

  EXPECT_EQ(dialog.caption, row.caption);
  EXPECT_EQ(dialog.x, 0);
  EXPECT_EQ(dialog.y, 0);
  EXPECT_EQ(dialog.cx, row.cx);
  EXPECT_EQ(dialog.cy, row.cy);
  EXPECT_EQ(dialog.style & WS_SYSMENU, row.style & WS_SYSMENU) << "system menu";
  EXPECT_EQ(dialog.style, row.style) << std::hex << "style 0x" << dialog.style;
  EXPECT_EQ(dialog.ex_style, row.ex_style) << std::hex << "extended style 0x" << dialog.ex_style;
  EXPECT_EQ(dialog.font_size, 8);
  EXPECT_EQ(dialog.font_face, "MS Sans Serif");
  EXPECT_EQ(dialog.menu, "");
  EXPECT_EQ(dialog.window_class, "");

  ASSERT_EQ(dialog.items.size(), row.controls.size());
  for (size_t i = 0; i < row.controls.size(); ++i) {
    SCOPED_TRACE("control " + std::to_string(i) + " (id " + std::to_string(row.controls[i].id) + ")");
    ExpectControl(dialog.items[i], row.controls[i]);
  }
}

constexpr uint32_t kModalStyle = DS_SETFONT | DS_MODALFRAME | DS_CENTER | WS_POPUP | WS_CAPTION;

TEST(VastelResources, EraseDialogTemplate) {
  const char* const kWarning =
      "Вы выбрали операцию очистки базы данных. После подтверждения этой операции данные на выбраных каналах будут "
      "уничтожены. Восстановление данных будет невозможным.";
  // Template order is the tab order.
  ExpectDialog(
      {"EraseDBDialog",
       "Очистка базы данных",
       249,
       136,
       kModalStyle | WS_SYSMENU,
       0,
       {
           // id, class, text, x, y, cx, cy, kind, tab stop, disabled, group, other
           {102, "Edit", "", 128, 78, 32, 14, 0, true, false, true, WS_BORDER},
           {103, "Button", "Подтвердить", 169, 78, 72, 14, BS_DEFPUSHBUTTON, true, false, false, 0},
           {1, "Button", "Выполнить очистку", 8, 119, 86, 14, BS_PUSHBUTTON, true, true, false, 0},
           {2, "Button", "Отмена", 100, 119, 60, 14, BS_PUSHBUTTON, true, false, false, 0},
           {105, "msctls_progress32", "", 8, 102, 232, 11, 0, false, true, false, WS_BORDER},
           {104, "Static", "", 8, 96, 232, 1, SS_ETCHEDFRAME, false, false, false, 0},
           {-1, "Static", "Для подтверждения операции удаления наберите слово \"да\":", 8, 75, 112, 17, SS_LEFT, false,
            false, true, 0},
           {-1, "Static", "Активные каналы:", 149, 39, 68, 8, SS_LEFT, false, false, true, 0},
           {101, "Static", "1-16", 225, 39, 20, 8, SS_LEFT, false, false, true, 0},
           {-1, "Static", kWarning, 8, 4, 236, 24, SS_LEFT, false, false, true, 0},
           {106, "Button", "Очистить все активные каналы", 8, 37, 128, 12, BS_AUTORADIOBUTTON, true, false, true, 0},
           {107, "Button", "Очистить выбранный канал", 8, 52, 116, 12, BS_AUTORADIOBUTTON, true, false, false, 0},
           {108, "ComboBox", "", 148, 51, 93, 152, CBS_DROPDOWNLIST, true, true, true, WS_VSCROLL},
       }});
}

TEST(VastelResources, PasswordDialogTemplate) {
  // No system menu (no close box); nothing is a tab stop or the default.
  ExpectDialog({"GetPasswordDialog",
                "Введите пароль",
                100,
                41,
                kModalStyle,
                WS_EX_CONTEXTHELP | WS_EX_TOOLWINDOW | WS_EX_TOPMOST,
                {
                    {101, "Edit", "", 10, 4, 80, 12, ES_PASSWORD, false, false, false, WS_BORDER},
                    {1, "Button", "OK", 10, 24, 35, 14, BS_PUSHBUTTON, false, false, false, 0},
                    {2, "Button", "Отмена", 55, 24, 35, 14, BS_PUSHBUTTON, false, false, false, 0},
                }});
}

// ---- Icon, version, manifest -----------------------------------------------

TEST(VastelResources, EraseDialogIcon) {
  HMODULE module = GetModuleHandleA(nullptr);
  // The program names the icon by base name and colour depth; names match
  // whatever their case.
  const std::string name = std::string("DatabaseClearDialogIcon") + "8";
  for (const std::string& spelling : {name, std::string("databasecleardialogICON8")}) {
    SCOPED_TRACE(spelling);
    Bytes group;
    ASSERT_TRUE(LoadBytes(module, spelling.c_str(), RT_GROUP_ICON, &group));
    // GRPICONDIR: reserved, type 1 (icon), count; then 14-byte entries.
    ASSERT_EQ(group.size, 6u + 14u);
    EXPECT_EQ(ReadWord(group.data), 0);
    EXPECT_EQ(ReadWord(group.data + 2), 1);
    ASSERT_EQ(ReadWord(group.data + 4), 1);
    const uint8_t* entry = group.data + 6;
    EXPECT_EQ(entry[0], 16);            // width
    EXPECT_EQ(entry[1], 16);            // height
    EXPECT_EQ(entry[2], 0);             // colour count: 0 for 256
    EXPECT_EQ(ReadWord(entry + 4), 1);  // planes
    EXPECT_EQ(ReadWord(entry + 6), 8);  // bits per pixel
    const uint32_t image_size = ReadDword(entry + 8);
    const uint16_t image_id = ReadWord(entry + 12);

    Bytes image;
    ASSERT_TRUE(LoadBytes(module, MAKEINTRESOURCEA(image_id), RT_ICON, &image));
    ASSERT_EQ(image.size, image_size);
    // BITMAPINFOHEADER, a 256-entry palette, 16 rows of 16 indices, 16 mask
    // rows of 32 bits.
    ASSERT_EQ(image.size, 40u + 256u * 4u + 16u * 16u + 16u * 4u);
    EXPECT_EQ(ReadDword(image.data), 40u);
    EXPECT_EQ(ReadDword(image.data + 4), 16u);  // width
    EXPECT_EQ(ReadDword(image.data + 8), 32u);  // height: image and mask
    EXPECT_EQ(ReadWord(image.data + 14), 8);    // bits per pixel
    EXPECT_EQ(ReadDword(image.data + 16), 0u);  // uncompressed
    const uint32_t colours_used = ReadDword(image.data + 32);
    EXPECT_TRUE(colours_used == 0 || colours_used == 256) << colours_used;
  }
}

// One node of a VS_VERSIONINFO tree: wLength, wValueLength, wType, the key,
// the value, the children, each part DWORD-aligned from the block's start.
struct VersionNode {
  std::u16string key;
  std::vector<uint8_t> value;
  bool text = false;
  std::vector<VersionNode> children;
};

size_t AlignToDword(size_t offset) { return (offset + 3) & ~static_cast<size_t>(3); }

// Reads the node at `offset` (relative to `base`) that must end by `limit`.
bool ReadVersionNode(const uint8_t* base, size_t offset, size_t limit, VersionNode* node) {
  if (limit < offset || limit - offset < 6) return false;
  const size_t length = ReadWord(base + offset);
  const size_t value_length = ReadWord(base + offset + 2);
  node->text = ReadWord(base + offset + 4) == 1;
  if (length < 6 || length > limit - offset) return false;
  const size_t end = offset + length;
  size_t at = offset + 6;
  for (;;) {
    if (end - at < 2) return false;
    const char16_t unit = ReadWord(base + at);
    at += 2;
    if (unit == 0) break;
    node->key.push_back(unit);
  }
  at = AlignToDword(at);
  const size_t value_bytes = node->text ? value_length * 2 : value_length;
  if (at > end || end - at < value_bytes) return false;
  node->value.assign(base + at, base + at + value_bytes);
  at = AlignToDword(at + value_bytes);
  while (at < end) {
    VersionNode child;
    if (!ReadVersionNode(base, at, end, &child)) return false;
    at = AlignToDword(at + ReadWord(base + at));
    node->children.push_back(std::move(child));
  }
  return true;
}

const VersionNode* Child(const VersionNode& node, const std::u16string& key) {
  for (const VersionNode& child : node.children) {
    if (child.key == key) return &child;
  }
  return nullptr;
}

std::u16string TextValue(const VersionNode& node) {
  std::u16string text;
  for (size_t i = 0; i + 1 < node.value.size(); i += 2) {
    const char16_t unit = ReadWord(node.value.data() + i);
    if (unit == 0) break;
    text.push_back(unit);
  }
  return text;
}

TEST(VastelResources, VersionBlock) {
  Bytes block;
  ASSERT_TRUE(LoadBytes(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(1), RT_VERSION, &block));
  VersionNode root;
  ASSERT_TRUE(ReadVersionNode(block.data, 0, block.size, &root));
  EXPECT_EQ(root.key, u"VS_VERSION_INFO");

  // VS_FIXEDFILEINFO: signature, struct version, file version MS/LS,
  // product version MS/LS.
  ASSERT_EQ(root.value.size(), 52u);
  const uint8_t* fixed = root.value.data();
  EXPECT_EQ(ReadDword(fixed), 0xFEEF04BDu);
  EXPECT_EQ(ReadDword(fixed + 8), (3u << 16) | 60u);  // FILEVERSION 3,60,...
  EXPECT_EQ(ReadDword(fixed + 12), 0u);               // ...,0,0
  EXPECT_EQ(ReadDword(fixed + 16), (3u << 16) | 60u);
  EXPECT_EQ(ReadDword(fixed + 20), 0u);

  const VersionNode* strings = Child(root, u"StringFileInfo");
  ASSERT_NE(strings, nullptr);
  const VersionNode* russian = Child(*strings, u"041904E3");
  ASSERT_NE(russian, nullptr) << "no Russian (1251) string table";
  const std::map<std::u16string, std::u16string> expected = {
      {u"FileDescription", u"Утилита очистки БД"},
      {u"FileVersion", u"3.60"},
      {u"ProductName", u"Velmora"},
      {u"CompanyName", u"Velmora"},
      {u"InternalName", u"Vastel"},
      {u"OriginalFilename", u"Vastel.exe"},
  };
  for (const auto& [key, value] : expected) {
    const VersionNode* entry = Child(*russian, key);
    ASSERT_NE(entry, nullptr) << std::string(key.begin(), key.end());
    EXPECT_TRUE(entry->text);
    EXPECT_EQ(TextValue(*entry), value) << std::string(key.begin(), key.end());
  }

  const VersionNode* vars = Child(root, u"VarFileInfo");
  ASSERT_NE(vars, nullptr);
  const VersionNode* translation = Child(*vars, u"Translation");
  ASSERT_NE(translation, nullptr);
  ASSERT_EQ(translation->value.size(), 4u);
  EXPECT_EQ(ReadWord(translation->value.data()), 0x0419);  // Russian
  EXPECT_EQ(ReadWord(translation->value.data() + 2), 1251);
}

TEST(VastelResources, ManifestKeepsTheCallersRights) {
  Bytes manifest;
  ASSERT_TRUE(LoadBytes(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(1), RT_MANIFEST, &manifest));
  const std::string text(reinterpret_cast<const char*>(manifest.data), manifest.size);
  EXPECT_NE(text.find("<requestedExecutionLevel level=\"asInvoker\""), std::string::npos) << text;
  // The classic common controls: no dependency on version 6.
  EXPECT_EQ(text.find("Common-Controls"), std::string::npos) << text;
}

#if !defined(_WIN32)

// ---- The POSIX module: lookups and damaged images --------------------------

constexpr DWORD kNoResources = 1812;  // ERROR_RESOURCE_DATA_NOT_FOUND

// A .res image made by hand, for the lookup rules and for damage.
class ImageBuilder {
 public:
  ImageBuilder() {
    // The empty entry that starts every 32-bit image.
    PutDword(0);
    PutDword(32);
    PutId(0, nullptr);
    PutId(0, nullptr);
    PutDword(0);
    PutWord(0);
    PutWord(0);
    PutDword(0);
    PutDword(0);
  }

  // An entry of type `type` (or `type_name` when given) and name `name` (or
  // `name_text` when given). Returns the offset where the entry starts.
  size_t Add(uint16_t type, const char* type_name, uint16_t name, const char* name_text, const std::string& data) {
    const size_t start = bytes_.size();
    PutDword(static_cast<uint32_t>(data.size()));
    PutDword(0);  // the header's size, known below
    PutId(type, type_name);
    PutId(name, name_text);
    Pad();
    PutDword(0);      // DataVersion
    PutWord(0x1030);  // MemoryFlags
    PutWord(0x0419);  // LanguageId
    PutDword(0);      // Version
    PutDword(0);      // Characteristics
    const uint32_t header = static_cast<uint32_t>(bytes_.size() - start);
    for (int i = 0; i < 4; ++i) bytes_[start + 4 + i] = static_cast<uint8_t>(header >> (8 * i));
    bytes_.insert(bytes_.end(), data.begin(), data.end());
    Pad();
    return start;
  }

  const std::vector<uint8_t>& bytes() const { return bytes_; }

 private:
  void PutId(uint16_t number, const char* text) {
    if (text == nullptr) {
      PutWord(0xFFFF);
      PutWord(number);
      return;
    }
    for (const char* p = text; *p; ++p) PutWord(static_cast<unsigned char>(*p));
    PutWord(0);
  }
  void Pad() {
    while (bytes_.size() % 4) bytes_.push_back(0);
  }
  void PutWord(uint16_t v) {
    bytes_.push_back(static_cast<uint8_t>(v));
    bytes_.push_back(static_cast<uint8_t>(v >> 8));
  }
  void PutDword(uint32_t v) {
    PutWord(static_cast<uint16_t>(v));
    PutWord(static_cast<uint16_t>(v >> 16));
  }

  std::vector<uint8_t> bytes_;
};

// A copy of an image in a heap block of exactly its size, so that a read
// past its end is caught by AddressSanitizer.
class ExactCopy {
 public:
  ExactCopy(const uint8_t* data, size_t size) : bytes_(new uint8_t[size]), size_(size) {
    if (size) std::memcpy(bytes_.get(), data, size);
  }
  const uint8_t* data() const { return bytes_.get(); }
  size_t size() const { return size_; }
  HMODULE Module() const { return platform::ModuleFromResources(bytes_.get(), size_); }

  // Whether [p, p + n) lies inside the copy.
  bool Holds(const void* p, size_t n) const {
    const uint8_t* at = static_cast<const uint8_t*>(p);
    return at >= bytes_.get() && at <= bytes_.get() + size_ && n <= static_cast<size_t>(bytes_.get() + size_ - at);
  }

 private:
  std::unique_ptr<uint8_t[]> bytes_;
  size_t size_;
};

TEST(PosixModule, LookupRules) {
  ImageBuilder image;
  image.Add(5, nullptr, 0, "EraseDBDialog", "dialog");
  image.Add(0, "CUSTOM", 7, nullptr, "custom seven");
  image.Add(0, "custom", 0, "Notes", "notes");
  image.Add(10, nullptr, 12, nullptr, "number twelve");
  ExactCopy copy(image.bytes().data(), image.bytes().size());
  HMODULE module = copy.Module();
  ASSERT_NE(module, nullptr);

  struct Case {
    LPCSTR name;
    LPCSTR type;
    const char* data;  // null: not found
    DWORD error;       // when not found
  };
  const Case cases[] = {
      {"EraseDBDialog", MAKEINTRESOURCEA(5), "dialog", 0},
      {"ERASEDBDIALOG", MAKEINTRESOURCEA(5), "dialog", 0},
      {"erasedbdialog", "#5", "dialog", 0},
      {MAKEINTRESOURCEA(7), "Custom", "custom seven", 0},
      {"#7", "cUsToM", "custom seven", 0},
      {"#007", "CUSTOM", "custom seven", 0},
      {"notes", "custom", "notes", 0},
      {MAKEINTRESOURCEA(12), MAKEINTRESOURCEA(10), "number twelve", 0},
      {"#12", "#10", "number twelve", 0},
      {"EraseDBDialog", MAKEINTRESOURCEA(6), nullptr, ERROR_RESOURCE_TYPE_NOT_FOUND},
      {"EraseDBDialo", MAKEINTRESOURCEA(5), nullptr, ERROR_RESOURCE_NAME_NOT_FOUND},
      {MAKEINTRESOURCEA(5), MAKEINTRESOURCEA(5), nullptr, ERROR_RESOURCE_NAME_NOT_FOUND},
      {"12", MAKEINTRESOURCEA(10), nullptr, ERROR_RESOURCE_NAME_NOT_FOUND},  // a name, not a number
      {"#8", "custom", nullptr, ERROR_RESOURCE_NAME_NOT_FOUND},
      {"Not\xC0SCII", "custom", nullptr, ERROR_RESOURCE_NAME_NOT_FOUND},
      {"#", "custom", nullptr, ERROR_INVALID_PARAMETER},
      {"#7a", "custom", nullptr, ERROR_INVALID_PARAMETER},
      {"#65536", "custom", nullptr, ERROR_INVALID_PARAMETER},
      {nullptr, "custom", nullptr, ERROR_INVALID_PARAMETER},
      {"notes", nullptr, nullptr, ERROR_INVALID_PARAMETER},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(IS_INTRESOURCE(c.name) ? "#" + std::to_string(reinterpret_cast<uintptr_t>(c.name))
                                        : std::string(c.name));
    SCOPED_TRACE(IS_INTRESOURCE(c.type) ? "type #" + std::to_string(reinterpret_cast<uintptr_t>(c.type))
                                        : "type " + std::string(c.type));
    SetLastError(0);
    HRSRC found = FindResourceA(module, c.name, c.type);
    if (c.data == nullptr) {
      EXPECT_EQ(found, nullptr);
      EXPECT_EQ(GetLastError(), c.error);
      continue;
    }
    ASSERT_NE(found, nullptr) << "error " << GetLastError();
    const void* data = LockResource(LoadResource(module, found));
    const DWORD size = SizeofResource(module, found);
    ASSERT_TRUE(copy.Holds(data, size));
    EXPECT_EQ(std::string(static_cast<const char*>(data), size), c.data);
  }

  // A handle from one module means nothing to another.
  HRSRC dialog = FindResourceA(module, "EraseDBDialog", MAKEINTRESOURCEA(5));
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(SizeofResource(GetModuleHandleA(nullptr), dialog), 0u);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(LoadResource(GetModuleHandleA(nullptr), dialog), nullptr);
}

TEST(PosixModule, ModulesAndIcons) {
  HMODULE program = GetModuleHandleA(nullptr);
  ASSERT_NE(program, nullptr);
  EXPECT_EQ(GetModuleHandleA(nullptr), program);
  SetLastError(0);
  EXPECT_EQ(GetModuleHandleA("kernel32.dll"), nullptr);
  EXPECT_NE(GetLastError(), 0u);

  HICON icon = LoadIconA(program, "DatabaseClearDialogIcon8");
  EXPECT_NE(icon, nullptr);
  EXPECT_EQ(LoadIconA(program, "DATABASECLEARDIALOGICON8"), icon) << "the same icon, however it is spelt";
  SetLastError(0);
  EXPECT_EQ(LoadIconA(program, "DatabaseClearDialogIcon4"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_RESOURCE_NAME_NOT_FOUND);
  SetLastError(0);
  EXPECT_EQ(LoadIconA(program, "EraseDBDialog"), nullptr) << "a dialog is not an icon";
  EXPECT_EQ(GetLastError(), ERROR_RESOURCE_NAME_NOT_FOUND);

  // System icons: IDI_APPLICATION (32512) .. IDI_SHIELD (32518).
  HICON application = LoadIconA(nullptr, MAKEINTRESOURCEA(32512));
  HICON warning = LoadIconA(nullptr, MAKEINTRESOURCEA(32515));
  EXPECT_NE(application, nullptr);
  EXPECT_NE(warning, nullptr);
  EXPECT_NE(application, warning);
  EXPECT_EQ(LoadIconA(nullptr, MAKEINTRESOURCEA(32519)), nullptr);
  EXPECT_EQ(LoadIconA(nullptr, "DatabaseClearDialogIcon8"), nullptr) << "the system has no icon of ours";

  // A group whose image is missing is no icon.
  ImageBuilder image;
  const std::string group("\0\0\1\0\1\0\x10\x10\0\0\1\0\x08\0\x68\x05\0\0\x02\0", 20);
  image.Add(14, nullptr, 0, "ICON8", group);
  ExactCopy copy(image.bytes().data(), image.bytes().size());
  EXPECT_NE(FindResourceA(copy.Module(), "icon8", MAKEINTRESOURCEA(14)), nullptr);
  EXPECT_EQ(LoadIconA(copy.Module(), "icon8"), nullptr);
}

struct Known {
  LPCSTR name;
  LPCSTR type;
};
const Known kProgramResources[] = {
    {"EraseDBDialog", RT_DIALOG},   {"GetPasswordDialog", RT_DIALOG},  {"DatabaseClearDialogIcon8", RT_GROUP_ICON},
    {MAKEINTRESOURCEA(1), RT_ICON}, {MAKEINTRESOURCEA(1), RT_VERSION}, {MAKEINTRESOURCEA(1), RT_MANIFEST},
};

TEST(PosixModule, EveryCutOfTheProgramImage) {
  const uint8_t* full = velmora_module_resources;
  const size_t full_size = velmora_module_resources_size;

  // Where each resource's data lies in the whole image.
  struct Span {
    size_t begin, end;
  };
  std::vector<Span> spans;
  {
    ExactCopy whole(full, full_size);
    for (const Known& known : kProgramResources) {
      Bytes bytes;
      ASSERT_TRUE(LoadBytes(whole.Module(), known.name, known.type, &bytes));
      const size_t begin = static_cast<size_t>(bytes.data - whole.data());
      spans.push_back({begin, begin + bytes.size});
    }
  }

  for (size_t cut = 0; cut <= full_size; ++cut) {
    ExactCopy copy(full, cut);
    HMODULE module = copy.Module();
    ASSERT_NE(module, nullptr);
    // A cut inside a resource's data leaves an image that is not whole:
    // nothing at all is found in it. A cut at the end of an entry (with or
    // without its padding) leaves a shorter, whole image.
    bool inside_data = false, at_entry_end = false;
    for (const Span& span : spans) {
      inside_data |= cut >= span.begin && cut < span.end;
      at_entry_end |= cut == span.end || cut == AlignToDword(span.end);
    }
    for (size_t i = 0; i < spans.size(); ++i) {
      SetLastError(0);
      HRSRC found = FindResourceA(module, kProgramResources[i].name, kProgramResources[i].type);
      if (found == nullptr) {
        const DWORD error = GetLastError();
        EXPECT_TRUE(error == kNoResources || error == ERROR_RESOURCE_TYPE_NOT_FOUND ||
                    error == ERROR_RESOURCE_NAME_NOT_FOUND)
            << "cut " << cut << ", error " << error;
        if (inside_data) {
          EXPECT_EQ(error, kNoResources) << "cut " << cut;
        }
        if (at_entry_end && spans[i].end <= cut) ADD_FAILURE() << "cut " << cut << " lost resource " << i;
        continue;
      }
      EXPECT_FALSE(inside_data) << "cut " << cut << " inside a resource, yet resource " << i << " was found";
      EXPECT_LE(spans[i].end, cut) << "resource " << i << " found in an image cut short of it";
      const void* data = LockResource(LoadResource(module, found));
      const DWORD size = SizeofResource(module, found);
      ASSERT_TRUE(copy.Holds(data, size)) << "cut " << cut;
      EXPECT_EQ(size, spans[i].end - spans[i].begin);
      EXPECT_EQ(std::memcmp(data, full + spans[i].begin, size), 0);
    }
    if (inside_data) {
      EXPECT_EQ(LoadIconA(module, "DatabaseClearDialogIcon8"), nullptr) << "cut " << cut;
    }
  }
}

TEST(PosixModule, DamagedImages) {
  ImageBuilder builder;
  const size_t entry = builder.Add(5, nullptr, 0, "Dialog", std::string(20, 'd'));
  const std::vector<uint8_t> good = builder.bytes();
  // Offsets in the entry: its sizes, then its name (after the numbered type).
  constexpr size_t kDataSize = 0, kHeaderSize = 4, kNameText = 12;
  const uint32_t header = ReadDword(good.data() + entry + kHeaderSize);
  ASSERT_EQ(header, 44u);  // sizes 8, type 4, "Dialog" 14, padding 2, the rest 16

  auto set32 = [](std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  uint32_t seed = 12345;
  auto garbage = [&seed](size_t n) {
    std::vector<uint8_t> b(n);
    for (uint8_t& byte : b) {
      seed = seed * 1103515245u + 12345u;
      byte = static_cast<uint8_t>(seed >> 16);
    }
    return b;
  };

  struct Damage {
    const char* what;
    std::vector<uint8_t> image;
  };
  std::vector<Damage> damages;
  auto damaged = [&](const char* what, auto change) {
    std::vector<uint8_t> b = good;
    change(b);
    damages.push_back({what, b});
  };
  damaged("no leading empty entry", [&](auto& b) { b.erase(b.begin(), b.begin() + 32); });
  damaged("leading entry with data", [&](auto& b) { set32(b, 0, 4); });
  damaged("leading entry of another size", [&](auto& b) { set32(b, 4, 36); });
  damaged("data size past the end", [&](auto& b) { set32(b, entry + kDataSize, 0xFFFFFFFFu); });
  damaged("data size one past the end",
          [&](auto& b) { set32(b, entry + kDataSize, static_cast<uint32_t>(b.size() - entry - header + 1)); });
  damaged("header size past the end", [&](auto& b) { set32(b, entry + kHeaderSize, 0xFFFFFFF0u); });
  damaged("header size not in DWORDs", [&](auto& b) { set32(b, entry + kHeaderSize, header + 2); });
  damaged("header smaller than the least entry", [&](auto& b) { set32(b, entry + kHeaderSize, 24); });
  damaged("header smaller than its fields", [&](auto& b) { set32(b, entry + kHeaderSize, header - 4); });
  damaged("header larger than its fields", [&](auto& b) { set32(b, entry + kHeaderSize, header + 4); });
  damaged("name without its terminator", [&](auto& b) {
    for (size_t at = entry + kNameText; at < entry + header; at += 2) {
      b[at] = 'A';
      b[at + 1] = 0;
    }
  });
  damaged("empty name", [&](auto& b) { b[entry + kNameText] = 0; });
  damaged("an entry cut in its sizes", [&](auto& b) { b.insert(b.end(), {1, 0, 0, 0, 32, 0}); });
  damaged("garbage after the image", [&](auto& b) {
    const std::vector<uint8_t> tail = garbage(37);
    b.insert(b.end(), tail.begin(), tail.end());
  });
  damages.push_back({"garbage", garbage(4096)});
  damages.push_back({"one byte", {0}});

  {
    ExactCopy copy(good.data(), good.size());
    ASSERT_NE(FindResourceA(copy.Module(), "dialog", RT_DIALOG), nullptr) << "the undamaged image must be readable";
  }
  for (const Damage& damage : damages) {
    SCOPED_TRACE(damage.what);
    ExactCopy copy(damage.image.data(), damage.image.size());
    HMODULE module = copy.Module();
    ASSERT_NE(module, nullptr);
    SetLastError(0);
    EXPECT_EQ(FindResourceA(module, "dialog", RT_DIALOG), nullptr);
    EXPECT_EQ(GetLastError(), kNoResources);
    EXPECT_EQ(LoadIconA(module, "dialog"), nullptr);
  }

  // Any one byte changed, to any of a few values: whatever is found lies
  // inside the image.
  for (size_t at = 0; at < good.size(); ++at) {
    for (uint8_t value : {0x00, 0x01, 0x20, 0x7F, 0x80, 0xFE, 0xFF}) {
      std::vector<uint8_t> b = good;
      b[at] = value;
      ExactCopy copy(b.data(), b.size());
      HMODULE module = copy.Module();
      for (LPCSTR name : {"dialog", "#0", "#68"}) {
        HRSRC found = FindResourceA(module, name, RT_DIALOG);
        if (found == nullptr) continue;
        const void* data = LockResource(LoadResource(module, found));
        EXPECT_TRUE(copy.Holds(data, SizeofResource(module, found))) << "byte " << at << " set to " << int(value);
      }
    }
  }
}

#endif  // !_WIN32

}  // namespace
