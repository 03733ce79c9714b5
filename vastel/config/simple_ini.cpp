#include "config/simple_ini.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/crt32.h"

namespace {

// One read of the file takes at most this many characters; a longer
// physical line comes as several lines.
const int kLineLength = 299;

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

CSimpleIni::CSimpleIni(const char* fileName) {
  std::strncpy(FileName, fileName ? fileName : "", sizeof FileName - 1);
  FileName[sizeof FileName - 1] = '\0';
}

int32_t CSimpleIni::GetInt(const char* key) {
  Value value;
  return FindKey(key, &value) ? value.Number : 0;
}

int32_t CSimpleIni::GetString(const char* key, char* buffer, int32_t size) {
  if (!buffer || size <= 0) return 0;
  buffer[0] = '\0';
  Value value;
  if (!FindKey(key, &value)) return 0;
  std::strncpy(buffer, value.String, static_cast<size_t>(size) - 1);
  buffer[size - 1] = '\0';
  return static_cast<int32_t>(std::strlen(buffer));
}

bool CSimpleIni::FindKey(const char* key, Value* value) {
  FILE* file = std::fopen(FileName, "rt");
  if (!file) return false;
  char line[kLineLength + 1];
  bool found = false;
  while (!found && std::fgets(line, sizeof line, file)) found = ParseLine(line, key, value);
  std::fclose(file);
  return found;
}

bool CSimpleIni::ParseLine(const char* line, const char* key, Value* value) {
  // A semicolon (also inside quotes) or the line feed ends the content; a
  // line that starts with one is skipped.
  size_t end = std::strcspn(line, ";\n");
  if (end == 0) return false;
  std::string content(line, end);

  // The string value is taken from the line as written.
  std::string copy = content.substr(0, 259);

  // Working form: small letters, and no blanks before the first quote.
  std::string working;
  bool quoted = false;
  for (char c : content) {
    if (c == '"') quoted = true;
    if (!quoted && (c == ' ' || c == '\t')) continue;
    working += LowerAscii(c);
  }
  std::string wanted;
  for (const char* k = key; *k; ++k) wanted += LowerAscii(*k);
  if (working.compare(0, wanted.size(), wanted) != 0) return false;
  if (working.size() <= wanted.size() || working[wanted.size()] != '=') return false;

  size_t valueAt = wanted.size() + 1;
  size_t open = working.find('"', valueAt);
  if (open == std::string::npos) {
    value->Number = platform::Strtol32(working.c_str() + valueAt);
    value->String[0] = '\0';
    return true;
  }
  size_t close = working.find('"', open + 1);
  if (close == std::string::npos) return false;

  // Blanks were dropped only before the first quote, so from there on the
  // working form and the copy differ by a constant shift.
  // A value beyond the first 259 characters of its line is not kept.
  std::string text;
  size_t copyQuote = copy.find('"');
  if (copyQuote != std::string::npos) {
    size_t shift = copyQuote - working.find('"');
    size_t from = std::min(open + shift + 1, copy.size());
    size_t to = std::min(close + shift, copy.size());
    if (to > from) text = copy.substr(from, to - from);
  }
  std::strncpy(value->String, text.c_str(), sizeof value->String - 1);
  value->String[sizeof value->String - 1] = '\0';
  value->Number = 0;
  return true;
}
