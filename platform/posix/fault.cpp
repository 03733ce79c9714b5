#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "internal.h"

namespace platform {
namespace fault {

namespace {

struct NthRule {
  std::string operation;
  int remaining;  // calls still to pass before the failing one
  uint32_t error;
};

struct PathRule {
  std::string operation;
  std::string path;
  uint32_t error;
};

struct State {
  std::mutex lock;
  std::vector<NthRule> nth;
  std::vector<PathRule> paths;
  std::map<std::string, int> counts;
};

State& TheState() {
  static State state;
  return state;
}

bool PathMatches(const std::string& rule, const std::string& path) {
  if (rule.empty() || path.empty()) return false;
  if (rule[0] == '/') return rule == path;
  // A relative rule names the end of the path at a component boundary.
  if (path.size() < rule.size()) return false;
  if (path.compare(path.size() - rule.size(), rule.size(), rule) != 0) return false;
  return path.size() == rule.size() || path[path.size() - rule.size() - 1] == '/';
}

}  // namespace

void FailNthCall(const std::string& operation, int n, uint32_t error) {
  State& s = TheState();
  std::lock_guard<std::mutex> guard(s.lock);
  s.nth.push_back({operation, n - 1, error});
}

void FailOnPath(const std::string& operation, const std::string& path, uint32_t error) {
  State& s = TheState();
  std::lock_guard<std::mutex> guard(s.lock);
  s.paths.push_back({operation, posix::MapPath(path.c_str()), error});
}

void Reset() {
  State& s = TheState();
  std::lock_guard<std::mutex> guard(s.lock);
  s.nth.clear();
  s.paths.clear();
  s.counts.clear();
}

int CallCount(const std::string& operation) {
  State& s = TheState();
  std::lock_guard<std::mutex> guard(s.lock);
  auto it = s.counts.find(operation);
  return it == s.counts.end() ? 0 : it->second;
}

bool ShouldFail(const char* operation, const char* path, uint32_t* error) {
  State& s = TheState();
  std::lock_guard<std::mutex> guard(s.lock);
  ++s.counts[operation];
  bool fail = false;
  for (auto it = s.nth.begin(); it != s.nth.end(); ++it) {
    if (it->operation != operation) continue;
    if (it->remaining-- == 0) {
      *error = it->error;
      s.nth.erase(it);
      fail = true;
      break;
    }
  }
  if (!fail && path) {
    for (const PathRule& rule : s.paths) {
      if ((rule.operation.empty() || rule.operation == operation) && PathMatches(rule.path, path)) {
        *error = rule.error;
        fail = true;
        break;
      }
    }
  }
  return fail;
}

}  // namespace fault

namespace posix {

bool Injected(const char* operation, const std::string& path, DWORD defaultError) {
  uint32_t error = 0;
  if (!fault::ShouldFail(operation, path.c_str(), &error)) return false;
  SetLastError(error ? error : defaultError);
  return true;
}

}  // namespace posix
}  // namespace platform
