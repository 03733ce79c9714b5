// main() for programs written against WinMain.
//
// Boxes go to the terminal, unless VELMORA_UI_SCRIPT names a script of
// actions (one a line, UTF-8: "box OK", "box YES", ...); then they are
// answered from it, and each box is written to the file VELMORA_UI_TRANSCRIPT
// names, as the scenario tests expect.

#include <cstdio>
#include <cstdlib>
#include <deque>
#include <string>

#include "platform/frontend.h"

namespace {

std::deque<std::string> ReadScript(const char* path) {
  std::deque<std::string> actions;
  FILE* file = std::fopen(path, "r");
  if (!file) {
    std::fprintf(stderr, "cannot read the UI script %s\n", path);
    std::exit(2);
  }
  char line[4096];
  while (std::fgets(line, sizeof line, file)) {
    std::string action = line;
    while (!action.empty() && (action.back() == '\n' || action.back() == '\r')) action.pop_back();
    if (action.empty() || action[0] == '#') continue;
    actions.push_back(platform::ui::Utf8ToCp1251(action));
  }
  std::fclose(file);
  return actions;
}

}  // namespace

int main(int argc, char** argv) {
  std::string commandLine;
  for (int i = 1; i < argc; ++i) commandLine += (i > 1 ? " " : "") + std::string(argv[i]);

  platform::ui::ScriptedFrontEnd scripted;
  FILE* transcript = nullptr;
  if (const char* script = std::getenv("VELMORA_UI_SCRIPT")) {
    scripted = platform::ui::ScriptedFrontEnd(ReadScript(script));
    if (const char* path = std::getenv("VELMORA_UI_TRANSCRIPT")) {
      transcript = std::fopen(path, "wb");
      scripted.SetTranscript(transcript);
    }
    platform::ui::SetCurrent(&scripted);
  }
  int result = WinMain(GetModuleHandleA(nullptr), nullptr, &commandLine[0], 1);
  platform::ui::SetCurrent(nullptr);
  if (transcript) std::fclose(transcript);
  return result;
}
