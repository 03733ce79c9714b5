// Windows-1251 <-> UTF-8. Bytes 0x00-0x7F are ASCII, 0xC0-0xFF the Cyrillic
// letters А-я in order; the table below covers 0x80-0xBF. The one byte
// without a character (0x98) becomes U+FFFD; a character outside the code
// page becomes '?', as WideCharToMultiByte's default character.

#include <cstdint>
#include <string>

#include "platform/frontend.h"

namespace platform {
namespace ui {

namespace {

const uint16_t kHigh[64] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039, 0x040A,
    0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0xFFFD, 0x2122,
    0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6,
    0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456,
    0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
};

uint32_t ToUnicode(unsigned char c) {
  if (c < 0x80) return c;
  if (c >= 0xC0) return 0x0410 + (c - 0xC0);
  return kHigh[c - 0x80];
}

int FromUnicode(uint32_t u) {
  if (u < 0x80) return static_cast<int>(u);
  if (u >= 0x0410 && u <= 0x044F) return static_cast<int>(0xC0 + (u - 0x0410));
  for (int i = 0; i < 64; ++i) {
    if (kHigh[i] == u && u != 0xFFFD) return 0x80 + i;
  }
  return -1;
}

}  // namespace

void AppendUtf8(std::string& out, uint32_t u) {
  if (u < 0x80) {
    out += static_cast<char>(u);
  } else if (u < 0x800) {
    out += static_cast<char>(0xC0 | (u >> 6));
    out += static_cast<char>(0x80 | (u & 0x3F));
  } else if (u < 0x10000) {
    out += static_cast<char>(0xE0 | (u >> 12));
    out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (u & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (u >> 18));
    out += static_cast<char>(0x80 | ((u >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (u & 0x3F));
  }
}

std::string Cp1251ToUtf8(const std::string& text) {
  std::string out;
  out.reserve(text.size() * 2);
  for (unsigned char c : text) AppendUtf8(out, ToUnicode(c));
  return out;
}

std::string Utf8ToCp1251(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    uint32_t u;
    size_t length;
    if (c < 0x80) {
      u = c, length = 1;
    } else if ((c & 0xE0) == 0xC0) {
      u = c & 0x1F, length = 2;
    } else if ((c & 0xF0) == 0xE0) {
      u = c & 0x0F, length = 3;
    } else if ((c & 0xF8) == 0xF0) {
      u = c & 0x07, length = 4;
    } else {
      out += '?';
      ++i;
      continue;
    }
    if (i + length > text.size()) {
      out += '?';
      break;
    }
    for (size_t k = 1; k < length; ++k) u = (u << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    int b = FromUnicode(u);
    out += b < 0 ? '?' : static_cast<char>(b);
    i += length;
  }
  return out;
}

}  // namespace ui
}  // namespace platform
