#include "platform/frontend.h"

#include <cstring>

#include "platform/transcript.h"

namespace platform {
namespace ui {

namespace {

FrontEnd* current = nullptr;

FrontEnd& DefaultFrontEnd() {
  static TerminalFrontEnd terminal(stdin, stdout);
  return terminal;
}

std::string Trim(const std::string& text) {
  size_t begin = text.find_first_not_of(" \t\r\n");
  if (begin == std::string::npos) return std::string();
  size_t end = text.find_last_not_of(" \t\r\n");
  return text.substr(begin, end - begin + 1);
}

std::string LowerAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

}  // namespace

FrontEnd& Current() { return current ? *current : DefaultFrontEnd(); }

void SetCurrent(FrontEnd* frontEnd) { current = frontEnd; }

std::string ButtonsName(UINT type) {
  switch (type & MB_TYPEMASK) {
    case MB_OK: return "OK";
    case MB_OKCANCEL: return "OKCANCEL";
    case 3: return "YESNOCANCEL";
    case MB_YESNO: return "YESNO";
    default: return "OTHER";
  }
}

std::string IconName(UINT type) {
  switch (type & MB_ICONMASK) {
    case 0: return "none";
    case MB_ICONHAND: return "error";
    case MB_ICONQUESTION: return "question";
    case MB_ICONWARNING: return "warning";
    case MB_ICONINFORMATION: return "information";
    default: return "other";
  }
}

std::string ModalityName(UINT type) {
  switch (type & MB_MODEMASK) {
    case MB_TASKMODAL: return "task";
    case MB_SYSTEMMODAL: return "system";
    default: return "app";
  }
}

std::string AnswerName(int answer) {
  switch (answer) {
    case IDOK: return "OK";
    case IDCANCEL: return "CANCEL";
    case IDYES: return "YES";
    case IDNO: return "NO";
    default: return "NONE";
  }
}

int AnswerFromName(const std::string& name) {
  for (int answer : {IDOK, IDCANCEL, IDYES, IDNO}) {
    if (AnswerName(answer) == name) return answer;
  }
  return 0;
}

int DefaultAnswer(UINT type) {
  switch (type & MB_TYPEMASK) {
    case MB_OK: return IDOK;
    case MB_YESNO: return IDNO;
    default: return IDCANCEL;
  }
}

std::string TranscriptLine(const BoxRecord& box) {
  return "box\t" + EscapeTranscriptField(box.caption) + "\t" + EscapeTranscriptField(box.text) + "\t" +
         ButtonsName(box.type) + "\t" + IconName(box.type) + "\t" + ModalityName(box.type) + "\t" +
         AnswerName(box.answer) + "\n";
}

int TerminalFrontEnd::ShowMessageBox(HWND, const std::string& text, const std::string& caption, UINT type) {
  std::fprintf(out_, "\n=== %s ===\n%s\n", Cp1251ToUtf8(caption).c_str(), Cp1251ToUtf8(text).c_str());
  if ((type & MB_TYPEMASK) == MB_OK) {
    std::fprintf(out_, "[OK]\n");
    std::fflush(out_);
    return IDOK;
  }
  for (;;) {
    std::fprintf(out_, "[%s] ", (type & MB_TYPEMASK) == MB_YESNO ? "yes/no" : "ok/cancel");
    std::fflush(out_);
    char line[256];
    if (!std::fgets(line, sizeof line, in_)) {
      // Input ended: the careful answer, as closing the box would give.
      std::fprintf(out_, "\n");
      return DefaultAnswer(type);
    }
    std::string answer = LowerAscii(Trim(line));
    if ((type & MB_TYPEMASK) == MB_YESNO) {
      if (answer == "y" || answer == "yes" || answer == "\xD0\xB4" || answer == "\xD0\xB4\xD0\xB0") return IDYES;
      if (answer == "n" || answer == "no" || answer == "\xD0\xBD" || answer == "\xD0\xBD\xD0\xB5\xD1\x82") return IDNO;
    } else {
      if (answer == "ok" || answer == "y" || answer == "yes") return IDOK;
      if (answer == "cancel" || answer == "c" || answer == "n" || answer == "no") return IDCANCEL;
    }
  }
}

int ScriptedFrontEnd::ShowMessageBox(HWND owner, const std::string& text, const std::string& caption, UINT type) {
  BoxRecord box;
  box.caption = caption;
  box.text = text;
  box.type = type;
  box.owned = owner != nullptr;
  box.answer = DefaultAnswer(type);
  if (!actions_.empty() && actions_.front().compare(0, 4, "box ") == 0) {
    int answer = AnswerFromName(Trim(actions_.front().substr(4)));
    actions_.pop_front();
    // An answer the box has no button for is recorded as it was asked, so
    // that the comparison with the expected run shows the mistake.
    if (answer) box.answer = answer;
  }
  boxes_.push_back(box);
  if (transcript_) {
    std::string line = TranscriptLine(box);
    std::fwrite(line.data(), 1, line.size(), transcript_);
    std::fflush(transcript_);
  }
  return box.answer;
}

}  // namespace ui
}  // namespace platform

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  // Windows shows "Error" for a null caption.
  return platform::ui::Current().ShowMessageBox(owner, text ? text : "", caption ? caption : "Error", type);
}

void InitCommonControls(void) {}
