// Reads a compiled dialog template, as LockResource returns it, for tests.
//
// The program's dialogs are DIALOGEX templates (vastel/resources/Vastel.rc),
// so this reads the extended layout only (DLGTEMPLATEEX followed by
// DLGITEMTEMPLATEEX items); a classic DLGTEMPLATE is reported as an error
// rather than guessed at. Texts come back as Windows-1251 bytes, the
// program's own character set, so they compare directly with the narrow
// literals of tests compiled with -fexec-charset=CP1251.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/win32.h"

// The style bits the templates are checked for. Windows declares them in its
// own headers; the POSIX layer declares only what the logic calls, so the
// tests bring the rest of the values here.
#if !defined(_WIN32)
#define WS_POPUP 0x80000000u
#define WS_CHILD 0x40000000u
#define WS_VISIBLE 0x10000000u
#define WS_DISABLED 0x08000000u
#define WS_CAPTION 0x00C00000u
#define WS_BORDER 0x00800000u
#define WS_VSCROLL 0x00200000u
#define WS_SYSMENU 0x00080000u
#define WS_GROUP 0x00020000u
#define WS_TABSTOP 0x00010000u
#define WS_EX_TOPMOST 0x00000008u
#define WS_EX_TOOLWINDOW 0x00000080u
#define WS_EX_CONTEXTHELP 0x00000400u
#define DS_MODALFRAME 0x00000080u
#define DS_SETFONT 0x00000040u
#define DS_CENTER 0x00000800u
#define BS_PUSHBUTTON 0x00000000u
#define BS_DEFPUSHBUTTON 0x00000001u
#define BS_AUTORADIOBUTTON 0x00000009u
#define BS_TYPEMASK 0x0000000Fu
#define ES_PASSWORD 0x00000020u
#define ES_AUTOHSCROLL 0x00000080u
#define SS_LEFT 0x00000000u
#define SS_ETCHEDFRAME 0x00000012u
#define SS_TYPEMASK 0x0000001Fu
#define CBS_DROPDOWNLIST 0x00000003u
#endif

namespace testsupport {

struct DialogItem {
  uint32_t help_id = 0;
  uint32_t style = 0;
  uint32_t ex_style = 0;
  int16_t x = 0, y = 0, cx = 0, cy = 0;
  int32_t id = 0;          // -1 for the labels nobody addresses
  std::string class_name;  // "Button", "Edit", ... for the system's class atoms
  std::string text;        // Windows-1251; "#n" when the template gives a resource number
  std::vector<uint8_t> creation_data;
};

struct DialogTemplate {
  uint32_t help_id = 0;
  uint32_t style = 0;
  uint32_t ex_style = 0;
  int16_t x = 0, y = 0, cx = 0, cy = 0;
  std::string menu;          // empty: none; "#n": a menu by number
  std::string window_class;  // empty: the standard dialog class
  std::string caption;       // Windows-1251
  // Present when the style has DS_SETFONT (or DS_SHELLFONT).
  uint16_t font_size = 0;
  uint16_t font_weight = 0;
  uint8_t font_italic = 0;
  uint8_t font_charset = 0;
  std::string font_face;
  std::vector<DialogItem> items;
};

// Parses `size` bytes at `data`. False, with a reason in *error, when the
// bytes are not a whole DIALOGEX template; nothing is read beyond `size`.
bool ParseDialogTemplate(const void* data, size_t size, DialogTemplate* dialog, std::string* error);

// Windows-1251 bytes of UTF-16 text made of ASCII, Cyrillic and the few
// punctuation marks of that code page the program uses; any other character
// becomes '?'.
std::string Cp1251FromUtf16(const std::u16string& text);

}  // namespace testsupport
