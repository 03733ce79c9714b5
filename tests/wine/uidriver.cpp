// UI driver of the scenario tests for the Win32 build.
//
// Plays a script of user actions against the program under test, which runs
// as another process on the same desktop, and writes what it saw to a
// transcript in the format the Linux build's scripted front end writes, so a
// runner can compare the two targets line by line.
//
//   uidriver.exe <script-file> <transcript-file> [--timeout-ms N]
//
// The script is UTF-8, one action per line; blank lines and lines starting
// with '#' are skipped. Exit status: 0 when every action succeeded, 1 when one
// failed (the transcript says why in its last line), 2 for a usage or script
// error (nothing is run).
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "platform/transcript.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr DWORD kDefaultTimeoutMs = 10000;
constexpr DWORD kPollMs = 10;
// A visible message box whose text stays empty this long really has an empty
// text: it is filled in before the box is shown.
constexpr DWORD kEmptyTextSettleMs = 250;
// The text static of a message box; dialogs of the program use the same id
// for their labels, which is why a box is also told by its kinds of controls.
constexpr WORD kBoxTextId = 0xFFFF;

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

struct Session {
  FILE* transcript = nullptr;
  DWORD timeoutMs = kDefaultTimeoutMs;
  DWORD selfPid = 0;
};

struct Step {
  int line = 0;
  std::string verb;
  std::vector<std::string> args;  // the words after the verb
};

// ---------------------------------------------------------------------------
// Transcript

// The transcript holds texts as Windows-1251 bytes. They are read as UTF-16
// and converted here rather than read with the ANSI calls: a program that ran
// with another ANSI code page would then show up as different characters
// instead of the same bytes.
std::string ToCp1251(const std::wstring& text) {
  if (text.empty()) return std::string();
  int size = WideCharToMultiByte(1251, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(size > 0 ? size : 0, '\0');
  if (size > 0) {
    WideCharToMultiByte(1251, 0, text.data(), static_cast<int>(text.size()), &out[0], size, nullptr, nullptr);
  }
  return out;
}

void WriteLine(Session& session, const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), session.transcript);
  std::fputc('\n', session.transcript);
  std::fflush(session.transcript);
}

// ---------------------------------------------------------------------------
// Time

DWORD Elapsed(DWORD since) { return GetTickCount() - since; }

// ---------------------------------------------------------------------------
// Windows of the program under test

std::wstring ClassOf(HWND window) {
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  return name;
}

std::wstring CaptionOf(HWND window) {
  int length = GetWindowTextLengthW(window);
  std::vector<wchar_t> buffer(length + 2);
  int copied = GetWindowTextW(window, buffer.data(), static_cast<int>(buffer.size()));
  return std::wstring(buffer.data(), copied > 0 ? copied : 0);
}

// The text of a control of another process: only the control's own
// WM_GETTEXT knows it, GetWindowText does not ask across processes.
bool ControlText(HWND control, DWORD waitMs, std::wstring* text) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(control, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, waitMs, &length)) return false;
  std::vector<wchar_t> buffer(length + 2, L'\0');
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutW(control, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()),
                           SMTO_ABORTIFHUNG, waitMs, &copied)) {
    return false;
  }
  buffer.back() = L'\0';
  text->assign(buffer.data());
  return true;
}

bool IsOtherProcess(const Session& session, HWND window) {
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  return pid != 0 && pid != session.selfPid;
}

// ---------------------------------------------------------------------------
// Message boxes

// The buttons a box can answer with, in the order the transcript names them:
// OK, OKCANCEL, YESNO, YESNOCANCEL.
struct Answer {
  const char* name;
  int id;
};
constexpr Answer kAnswers[] = {{"OK", IDOK}, {"YES", IDYES}, {"NO", IDNO}, {"CANCEL", IDCANCEL}};
constexpr int kAnswerCount = sizeof(kAnswers) / sizeof(kAnswers[0]);

const Answer* FindAnswer(const std::string& name) {
  for (const Answer& answer : kAnswers) {
    if (name == answer.name) return &answer;
  }
  return nullptr;
}

struct Box {
  HWND window = nullptr;
  HWND text = nullptr;
  HWND buttons[kAnswerCount] = {};
  std::wstring caption;
  std::wstring message;

  HWND Button(const Answer& answer) const { return buttons[&answer - kAnswers]; }

  std::string ButtonsField() const {
    std::string field;
    for (int i = 0; i < kAnswerCount; ++i) {
      if (buttons[i]) field += kAnswers[i].name;
    }
    return field;
  }

  // What closing the box without a choice would answer; a box always has
  // one of its answer buttons, so the last resort is whichever it has.
  const Answer& DefaultAnswer() const {
    for (const char* name : {"OK", "NO", "CANCEL"}) {
      const Answer* answer = FindAnswer(name);
      if (Button(*answer)) return *answer;
    }
    for (const Answer& answer : kAnswers) {
      if (Button(answer)) return answer;
    }
    return kAnswers[0];
  }
};

// A message box is a visible dialog of another process made only of statics
// and buttons, with the text static and at least one answer button. The
// program's own dialogs carry edit boxes and other controls.
bool InspectBox(const Session& session, HWND window, Box* box) {
  if (!IsWindowVisible(window) || ClassOf(window) != L"#32770" || !IsOtherProcess(session, window)) return false;
  Box found;
  found.window = window;
  for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    std::wstring kind = ClassOf(child);
    WORD id = LOWORD(GetDlgCtrlID(child));
    if (lstrcmpiW(kind.c_str(), L"Static") == 0) {
      if (id == kBoxTextId) found.text = child;
    } else if (lstrcmpiW(kind.c_str(), L"Button") == 0) {
      for (int i = 0; i < kAnswerCount; ++i) {
        if (id == kAnswers[i].id) found.buttons[i] = child;
      }
    } else {
      return false;
    }
  }
  if (!found.text || found.ButtonsField().empty()) return false;
  *box = found;
  return true;
}

struct BoxSearch {
  const Session* session;
  Box box;
  bool found = false;
};

BOOL CALLBACK ConsiderWindow(HWND window, LPARAM param) {
  BoxSearch* search = reinterpret_cast<BoxSearch*>(param);
  if (InspectBox(*search->session, window, &search->box)) {
    search->found = true;
    return FALSE;
  }
  return TRUE;
}

// Looks once for a message box that is fully built: shown, with its text
// read. `emptySince` follows a box whose text is still empty across calls.
bool PollBox(const Session& session, HWND* emptyBox, DWORD* emptySince, Box* box) {
  BoxSearch search{&session, Box(), false};
  EnumWindows(ConsiderWindow, reinterpret_cast<LPARAM>(&search));
  if (!search.found) return false;
  Box& found = search.box;
  if (!ControlText(found.text, session.timeoutMs, &found.message)) return false;
  if (found.message.empty()) {
    if (*emptyBox != found.window) {
      *emptyBox = found.window;
      *emptySince = GetTickCount();
      return false;
    }
    if (Elapsed(*emptySince) < kEmptyTextSettleMs) return false;
  }
  found.caption = CaptionOf(found.window);
  *box = found;
  return true;
}

// Waits up to `waitMs` for a message box.
bool WaitForBox(const Session& session, DWORD waitMs, Box* box) {
  DWORD start = GetTickCount();
  HWND emptyBox = nullptr;
  DWORD emptySince = 0;
  for (;;) {
    if (PollBox(session, &emptyBox, &emptySince, box)) return true;
    if (Elapsed(start) >= waitMs) return false;
    Sleep(kPollMs);
  }
}

void RecordBox(Session& session, const Box& box, const Answer& answer) {
  // Icon and modality cannot be observed reliably from outside: '?' tells the
  // runner not to compare them.
  WriteLine(session, std::string("box\t") + platform::EscapeTranscriptField(ToCp1251(box.caption)) + "\t" +
                         platform::EscapeTranscriptField(ToCp1251(box.message)) + "\t" + box.ButtonsField() +
                         "\t?\t?\t" + answer.name);
}

// Presses a button as a person would: only an enabled one (a posted command
// is carried out even for a disabled button), and posted, because the
// program may open the next modal box before it returns.
int PressAndWait(Session& session, const Box& box, const Answer& answer) {
  HWND button = box.Button(answer);
  if (!button || !IsWindowEnabled(button)) {
    WriteLine(session, std::string("error\tno enabled button ") + answer.name);
    return kExitFailed;
  }
  PostMessageW(box.window, WM_COMMAND, MAKEWPARAM(answer.id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
  DWORD start = GetTickCount();
  while (IsWindow(box.window)) {
    if (Elapsed(start) >= session.timeoutMs) {
      WriteLine(session, "timeout\tbox");
      return kExitFailed;
    }
    Sleep(kPollMs);
  }
  return kExitOk;
}

// ---------------------------------------------------------------------------
// Actions

bool ParseMs(const std::string& text, DWORD* ms) {
  if (text.empty() || text.size() > 9) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  *ms = static_cast<DWORD>(std::strtoul(text.c_str(), nullptr, 10));
  return true;
}

// box OK|YES|NO|CANCEL: answer the next message box.
bool CheckBox(const Step& step) { return step.args.size() == 1 && FindAnswer(step.args[0]); }

int RunBox(Session& session, const Step& step) {
  const Answer& answer = *FindAnswer(step.args[0]);
  Box box;
  if (!WaitForBox(session, session.timeoutMs, &box)) {
    WriteLine(session, "timeout\tbox");
    return kExitFailed;
  }
  RecordBox(session, box, answer);
  return PressAndWait(session, box, answer);
}

// drain <ms>: record and close, as closing them would, the boxes that come
// up in that time; they were not expected, and the program must be able to end.
bool CheckDrain(const Step& step) {
  DWORD ms;
  return step.args.size() == 1 && ParseMs(step.args[0], &ms);
}

int RunDrain(Session& session, const Step& step) {
  DWORD span = 0;
  ParseMs(step.args[0], &span);
  DWORD start = GetTickCount();
  HWND emptyBox = nullptr;
  DWORD emptySince = 0;
  while (Elapsed(start) < span) {
    Box box;
    if (PollBox(session, &emptyBox, &emptySince, &box)) {
      const Answer& answer = box.DefaultAnswer();
      RecordBox(session, box, answer);
      int status = PressAndWait(session, box, answer);
      if (status != kExitOk) return status;
      continue;
    }
    Sleep(kPollMs);
  }
  return kExitOk;
}

struct Action {
  const char* verb;
  const char* usage;
  bool (*check)(const Step& step);  // are the step's arguments valid?
  int (*run)(Session& session, const Step& step);
};

constexpr Action kActions[] = {
    {"box", "box OK|YES|NO|CANCEL", CheckBox, RunBox},
    {"drain", "drain <ms>", CheckDrain, RunDrain},
};

const Action* FindAction(const std::string& verb) {
  for (const Action& action : kActions) {
    if (verb == action.verb) return &action;
  }
  return nullptr;
}

// ---------------------------------------------------------------------------
// Script

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> words;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && IsBlank(line[i])) ++i;
    size_t begin = i;
    while (i < line.size() && !IsBlank(line[i])) ++i;
    if (i > begin) words.push_back(line.substr(begin, i - begin));
  }
  return words;
}

// Reads and checks the whole script before anything runs, so a mistake in
// its last line does not show up as a half-played scenario.
bool LoadScript(const char* path, std::vector<Step>* steps) {
  FILE* file = std::fopen(path, "rb");
  if (!file) {
    std::fprintf(stderr, "uidriver: cannot open script %s: %s\n", path, std::strerror(errno));
    return false;
  }
  std::string content;
  char chunk[4096];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) content.append(chunk, got);
  std::fclose(file);
  if (content.compare(0, 3, "\xEF\xBB\xBF") == 0) content.erase(0, 3);

  bool ok = true;
  int number = 0;
  size_t pos = 0;
  while (pos < content.size()) {
    size_t end = content.find('\n', pos);
    if (end == std::string::npos) end = content.size();
    std::string line = content.substr(pos, end - pos);
    pos = end + 1;
    ++number;
    std::vector<std::string> words = Words(line);
    if (words.empty() || words[0][0] == '#') continue;
    Step step;
    step.line = number;
    step.verb = words[0];
    step.args.assign(words.begin() + 1, words.end());
    const Action* action = FindAction(step.verb);
    if (!action) {
      std::fprintf(stderr, "uidriver: %s:%d: unknown action '%s'\n", path, number, step.verb.c_str());
      ok = false;
    } else if (!action->check(step)) {
      std::fprintf(stderr, "uidriver: %s:%d: expected '%s'\n", path, number, action->usage);
      ok = false;
    }
    steps->push_back(step);
  }
  return ok;
}

int Usage() {
  std::fprintf(stderr, "usage: uidriver.exe <script-file> <transcript-file> [--timeout-ms N]\n");
  return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  Session session;
  std::vector<const char*> files;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--timeout-ms") == 0) {
      if (i + 1 >= argc || !ParseMs(argv[i + 1], &session.timeoutMs) || session.timeoutMs == 0) return Usage();
      ++i;
    } else {
      files.push_back(argv[i]);
    }
  }
  if (files.size() != 2) return Usage();

  // Which code page the driver got tells whether the locale of the Wine
  // environment took effect; the program under test gets the same one.
  std::fprintf(stderr, "uidriver: ANSI code page %u\n", GetACP());

  std::vector<Step> steps;
  if (!LoadScript(files[0], &steps)) return kExitUsage;
  session.transcript = std::fopen(files[1], "wb");
  if (!session.transcript) {
    std::fprintf(stderr, "uidriver: cannot create transcript %s: %s\n", files[1], std::strerror(errno));
    return kExitUsage;
  }
  session.selfPid = GetCurrentProcessId();

  int status = kExitOk;
  for (const Step& step : steps) {
    status = FindAction(step.verb)->run(session, step);
    if (status != kExitOk) {
      std::fprintf(stderr, "uidriver: %s:%d: '%s' failed\n", files[0], step.line, step.verb.c_str());
      break;
    }
  }
  std::fclose(session.transcript);
  return status;
}
