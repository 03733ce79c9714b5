// The transcript of a scenario run: one line per box, fields separated by
// TAB. The POSIX build's scripted front end and the Win32 UI driver write
// it alike, so one runner compares both targets against one scenario.
#pragma once

#include <string>

namespace platform {

// Caption and text fields must stay on one line and keep their TABs apart.
inline std::string EscapeTranscriptField(const std::string& bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (char c : bytes) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      case '\n': out += "\\n"; break;
      default: out += c;
    }
  }
  return out;
}

}  // namespace platform
