#include "dialog_template.h"

namespace testsupport {

namespace {

// The layout read here (all little-endian, no alignment assumed of `data`):
//
//   DLGTEMPLATEEX: WORD dlgVer = 1, WORD signature = 0xFFFF, DWORD helpID,
//     DWORD exStyle, DWORD style, WORD cDlgItems, short x, y, cx, cy,
//     menu, windowClass, title (each a "string or ordinal", below), then
//     with DS_SETFONT: WORD pointsize, WORD weight, BYTE italic,
//     BYTE charset, WCHAR typeface[].
//   each item, DWORD-aligned from the template's start: DWORD helpID,
//     DWORD exStyle, DWORD style, short x, y, cx, cy, DWORD id,
//     windowClass, title, WORD extraCount, then extraCount bytes.
//
// A "string or ordinal" is 0x0000 (nothing), 0xFFFF followed by a WORD, or
// a zero-terminated UTF-16 string.

constexpr uint32_t kSetFont = 0x40;  // DS_SETFONT; DS_SHELLFONT includes it

class Reader {
 public:
  Reader(const uint8_t* base, size_t size) : base_(base), size_(size) {}

  size_t offset() const { return offset_; }
  const std::string& error() const { return error_; }

  bool Fail(const std::string& what) {
    if (error_.empty()) error_ = what + " at offset " + std::to_string(offset_);
    return false;
  }

  bool Word(uint16_t* value, const char* what) {
    if (size_ - offset_ < 2) return Fail(std::string("template ends inside ") + what);
    *value = static_cast<uint16_t>(base_[offset_] | (base_[offset_ + 1] << 8));
    offset_ += 2;
    return true;
  }

  bool Short(int16_t* value, const char* what) {
    uint16_t raw = 0;
    if (!Word(&raw, what)) return false;
    *value = static_cast<int16_t>(raw);
    return true;
  }

  bool Dword(uint32_t* value, const char* what) {
    uint16_t low = 0, high = 0;
    if (!Word(&low, what) || !Word(&high, what)) return false;
    *value = static_cast<uint32_t>(low) | (static_cast<uint32_t>(high) << 16);
    return true;
  }

  bool Byte(uint8_t* value, const char* what) {
    if (size_ - offset_ < 1) return Fail(std::string("template ends inside ") + what);
    *value = base_[offset_++];
    return true;
  }

  bool Bytes(size_t count, std::vector<uint8_t>* out, const char* what) {
    if (size_ - offset_ < count) return Fail(std::string("template ends inside ") + what);
    out->assign(base_ + offset_, base_ + offset_ + count);
    offset_ += count;
    return true;
  }

  bool String(std::u16string* text, const char* what) {
    text->clear();
    for (;;) {
      uint16_t unit = 0;
      if (!Word(&unit, what)) return false;
      if (unit == 0) return true;
      text->push_back(static_cast<char16_t>(unit));
    }
  }

  // A "string or ordinal": `*ordinal` is set when it is a number.
  bool StringOrOrdinal(std::u16string* text, bool* is_ordinal, uint16_t* ordinal, const char* what) {
    uint16_t first = 0;
    if (!Word(&first, what)) return false;
    *is_ordinal = false;
    text->clear();
    if (first == 0) return true;
    if (first == 0xFFFF) {
      *is_ordinal = true;
      return Word(ordinal, what);
    }
    offset_ -= 2;
    return String(text, what);
  }

  bool AlignToDword(const char* what) {
    const size_t aligned = (offset_ + 3) & ~static_cast<size_t>(3);
    if (aligned > size_) return Fail(std::string("template ends before ") + what);
    offset_ = aligned;
    return true;
  }

 private:
  const uint8_t* base_;
  size_t size_;
  size_t offset_ = 0;
  std::string error_;
};

std::string OrdinalName(uint16_t ordinal) { return "#" + std::to_string(ordinal); }

// The system's predefined control classes, as the template gives them.
std::string ClassFromAtom(uint16_t atom) {
  switch (atom) {
    case 0x80: return "Button";
    case 0x81: return "Edit";
    case 0x82: return "Static";
    case 0x83: return "ListBox";
    case 0x84: return "ScrollBar";
    case 0x85: return "ComboBox";
    default: return OrdinalName(atom);
  }
}

bool ReadName(Reader* reader, std::string* out, bool atom_is_class, const char* what) {
  std::u16string text;
  bool is_ordinal;
  uint16_t ordinal = 0;
  if (!reader->StringOrOrdinal(&text, &is_ordinal, &ordinal, what)) return false;
  if (is_ordinal) {
    *out = atom_is_class ? ClassFromAtom(ordinal) : OrdinalName(ordinal);
  } else {
    *out = Cp1251FromUtf16(text);
  }
  return true;
}

bool ReadItem(Reader* reader, DialogItem* item) {
  if (!reader->AlignToDword("an item")) return false;
  uint16_t extra = 0;
  uint32_t id = 0;
  if (!reader->Dword(&item->help_id, "an item's help id") || !reader->Dword(&item->ex_style, "an item's style") ||
      !reader->Dword(&item->style, "an item's style") || !reader->Short(&item->x, "an item's position") ||
      !reader->Short(&item->y, "an item's position") || !reader->Short(&item->cx, "an item's size") ||
      !reader->Short(&item->cy, "an item's size") || !reader->Dword(&id, "an item's id") ||
      !ReadName(reader, &item->class_name, true, "an item's class") ||
      !ReadName(reader, &item->text, false, "an item's text") || !reader->Word(&extra, "an item's creation data") ||
      !reader->Bytes(extra, &item->creation_data, "an item's creation data")) {
    return false;
  }
  item->id = static_cast<int32_t>(id);
  return true;
}

}  // namespace

bool ParseDialogTemplate(const void* data, size_t size, DialogTemplate* dialog, std::string* error) {
  *dialog = DialogTemplate();
  if (data == nullptr) size = 0;
  Reader reader(static_cast<const uint8_t*>(data), size);
  uint16_t version = 0, signature = 0, count = 0;
  bool ok = reader.Word(&version, "the header") && reader.Word(&signature, "the header");
  if (ok && (version != 1 || signature != 0xFFFF)) {
    ok = reader.Fail("not a DIALOGEX template (version " + std::to_string(version) + ", signature " +
                     std::to_string(signature) + ")");
  }
  ok = ok && reader.Dword(&dialog->help_id, "the header") && reader.Dword(&dialog->ex_style, "the header") &&
       reader.Dword(&dialog->style, "the header") && reader.Word(&count, "the header") &&
       reader.Short(&dialog->x, "the header") && reader.Short(&dialog->y, "the header") &&
       reader.Short(&dialog->cx, "the header") && reader.Short(&dialog->cy, "the header") &&
       ReadName(&reader, &dialog->menu, false, "the menu") &&
       ReadName(&reader, &dialog->window_class, false, "the window class");
  if (ok) {
    std::u16string caption;
    ok = reader.String(&caption, "the caption");
    dialog->caption = Cp1251FromUtf16(caption);
  }
  if (ok && (dialog->style & kSetFont)) {
    std::u16string face;
    ok = reader.Word(&dialog->font_size, "the font") && reader.Word(&dialog->font_weight, "the font") &&
         reader.Byte(&dialog->font_italic, "the font") && reader.Byte(&dialog->font_charset, "the font") &&
         reader.String(&face, "the font's face");
    dialog->font_face = Cp1251FromUtf16(face);
  }
  for (uint16_t i = 0; ok && i < count; ++i) {
    DialogItem item;
    ok = ReadItem(&reader, &item);
    if (ok) dialog->items.push_back(std::move(item));
  }
  if (!ok) {
    if (error) *error = reader.error();
    return false;
  }
  return true;
}

std::string Cp1251FromUtf16(const std::u16string& text) {
  std::string out;
  out.reserve(text.size());
  for (char16_t c : text) {
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c >= 0x0410 && c <= 0x044F) {  // А..я
      out.push_back(static_cast<char>(0xC0 + (c - 0x0410)));
    } else if (c == 0x0401) {  // Ё
      out.push_back(static_cast<char>(0xA8));
    } else if (c == 0x0451) {  // ё
      out.push_back(static_cast<char>(0xB8));
    } else if (c == 0x00A0) {  // no-break space
      out.push_back(static_cast<char>(0xA0));
    } else if (c == 0x00AB) {  // «
      out.push_back(static_cast<char>(0xAB));
    } else if (c == 0x00BB) {  // »
      out.push_back(static_cast<char>(0xBB));
    } else if (c == 0x2013) {  // en dash
      out.push_back(static_cast<char>(0x96));
    } else if (c == 0x2014) {  // em dash
      out.push_back(static_cast<char>(0x97));
    } else if (c == 0x2116) {  // №
      out.push_back(static_cast<char>(0xB9));
    } else {
      out.push_back('?');
    }
  }
  return out;
}

}  // namespace testsupport
