// Where the POSIX build shows its message boxes (and, later, its dialogs).
//
// The logic calls MessageBoxA as on Windows; the platform layer hands the
// box to the current front end: the terminal one for people, or a scripted
// one that records every box and answers from a script, for tests.
#pragma once

#include <cstdint>
#include <cstdio>
#include <deque>
#include <string>
#include <vector>

#include "platform/win32.h"

namespace platform {
namespace ui {

class FrontEnd {
 public:
  virtual ~FrontEnd() = default;
  // Shows a box and returns the button pressed (IDOK, IDYES, IDNO, ...).
  // Text and caption are Windows-1251 bytes.
  virtual int ShowMessageBox(HWND owner, const std::string& text, const std::string& caption, UINT type) = 0;
};

// The front end boxes go to; never null (the terminal one by default).
FrontEnd& Current();
// Replaces the current front end (not owned); null restores the default.
void SetCurrent(FrontEnd* frontEnd);

// Names shared by both front ends and by the transcripts of scenario runs.
std::string ButtonsName(UINT type);           // "OK", "YESNO", ...
std::string IconName(UINT type);              // "warning", "information", ... or "none"
std::string ModalityName(UINT type);          // "task", "system" or "app"
std::string AnswerName(int answer);           // "OK", "YES", "NO", "CANCEL"
int AnswerFromName(const std::string& name);  // inverse; 0 if unknown
int DefaultAnswer(UINT type);                 // what closing the box would give

// Windows-1251 <-> UTF-8, for the terminal and for scripts.
std::string Cp1251ToUtf8(const std::string& text);
std::string Utf8ToCp1251(const std::string& text);
// One code point (up to U+10FFFF) appended as UTF-8.
void AppendUtf8(std::string& out, uint32_t codePoint);

// For people: prints caption and text as UTF-8; a box with a choice asks
// and reads the answer as a line from the input ("y"/"yes"/"д"/"да" for yes,
// "n"/"no"/"н"/"нет" for no; end of input answers no).
class TerminalFrontEnd : public FrontEnd {
 public:
  TerminalFrontEnd(FILE* in, FILE* out) : in_(in), out_(out) {}
  int ShowMessageBox(HWND owner, const std::string& text, const std::string& caption, UINT type) override;

 private:
  FILE* in_;
  FILE* out_;
};

struct BoxRecord {
  std::string caption;  // Windows-1251
  std::string text;     // Windows-1251
  UINT type = 0;
  bool owned = false;
  int answer = 0;
};

// For tests: answers boxes from a queue of actions ("box OK", "box YES",
// ...) and records each box. A box met with no action left is recorded with
// the answer closing it would give, so an unexpected box never hangs a run.
class ScriptedFrontEnd : public FrontEnd {
 public:
  ScriptedFrontEnd() = default;
  explicit ScriptedFrontEnd(std::deque<std::string> actions) : actions_(std::move(actions)) {}
  int ShowMessageBox(HWND owner, const std::string& text, const std::string& caption, UINT type) override;

  void Add(const std::string& action) { actions_.push_back(action); }
  const std::vector<BoxRecord>& Boxes() const { return boxes_; }
  const std::deque<std::string>& Remaining() const { return actions_; }
  // Each box, once recorded, is also written here as a transcript line.
  void SetTranscript(FILE* transcript) { transcript_ = transcript; }

 private:
  std::deque<std::string> actions_;
  std::vector<BoxRecord> boxes_;
  FILE* transcript_ = nullptr;
};

// One transcript line: fields separated by tabs, with tab, CR, LF and
// backslash escaped in the texts.
std::string TranscriptLine(const BoxRecord& box);

}  // namespace ui
}  // namespace platform
