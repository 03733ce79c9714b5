// Directory search: FindFirstFileA / FindNextFileA / FindClose.
//
// Names are matched by the Windows wildcard rules: '*' any run of
// characters, '?' any one character, ASCII letters without regard to case,
// and a trailing ".*" also matching names without an extension (so "*.*"
// matches every name). As on Windows, "." and ".." are listed where the
// pattern matches them. Names come in ascending byte order, so a listing is
// the same from run to run.

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "internal.h"

namespace platform {
namespace posix {

namespace {

struct Find : Object {
  Find() : Object(Kind::Find) {}
  ~Find() override {
    if (directoryFd >= 0) close(directoryFd);
  }
  std::string directory;
  // The directory searched, held open as Windows holds it: each name is
  // looked up relative to it, not by walking the whole path again.
  int directoryFd = -1;
  std::vector<std::string> names;
  size_t next = 0;
};

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool Match(const char* pattern, const char* name) {
  // Iterative glob with one backtrack point for the last '*'.
  const char* starPattern = nullptr;
  const char* starName = nullptr;
  while (*name) {
    if (*pattern == '*') {
      starPattern = ++pattern;
      starName = name;
    } else if (*pattern == '?' || (*pattern && Lower(*pattern) == Lower(*name))) {
      ++pattern;
      ++name;
    } else if (starPattern) {
      pattern = starPattern;
      name = ++starName;
    } else {
      return false;
    }
  }
  while (*pattern == '*') ++pattern;
  return *pattern == '\0';
}

FILETIME ToFileTime(const struct timespec& t) {
  // 100-nanosecond intervals since 1601-01-01.
  uint64_t ticks = (static_cast<uint64_t>(t.tv_sec) + 11644473600ull) * 10000000ull + t.tv_nsec / 100;
  return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

bool Fill(const Find& find, const std::string& name, WIN32_FIND_DATAA* data) {
  std::memset(data, 0, sizeof *data);
  struct stat st;
  int rc = find.directoryFd >= 0 ? fstatat(find.directoryFd, name.c_str(), &st, 0)
                                 : stat((find.directory + "/" + name).c_str(), &st);
  if (rc != 0) return false;  // gone since the listing
  data->dwFileAttributes = S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
  if (!(st.st_mode & S_IWUSR) && !S_ISDIR(st.st_mode)) data->dwFileAttributes |= FILE_ATTRIBUTE_READONLY;
  if (!S_ISDIR(st.st_mode)) {
    uint64_t size = static_cast<uint64_t>(st.st_size);
    data->nFileSizeHigh = static_cast<DWORD>(size >> 32);
    data->nFileSizeLow = static_cast<DWORD>(size);
  }
  data->ftCreationTime = ToFileTime(st.st_ctim);
  data->ftLastAccessTime = ToFileTime(st.st_atim);
  data->ftLastWriteTime = ToFileTime(st.st_mtim);
  std::strncpy(data->cFileName, name.c_str(), MAX_PATH - 1);
  return true;
}

// Hands out the next listed name that still exists.
bool Next(Find& find, WIN32_FIND_DATAA* data) {
  while (find.next < find.names.size()) {
    if (Fill(find, find.names[find.next++], data)) return true;
  }
  SetLastError(ERROR_NO_MORE_FILES);
  return false;
}

}  // namespace

bool WildcardMatch(const std::string& pattern, const std::string& name) {
  if (Match(pattern.c_str(), name.c_str())) return true;
  // "name.*" matches "name" too, as on Windows.
  if (pattern.size() >= 2 && pattern.compare(pattern.size() - 2, 2, ".*") == 0 && name.find('.') == std::string::npos)
    return Match(pattern.substr(0, pattern.size() - 2).c_str(), name.c_str());
  return false;
}

}  // namespace posix
}  // namespace platform

using platform::posix::Find;

HANDLE FindFirstFileA(LPCSTR patternText, LPWIN32_FIND_DATAA data) {
  std::string path = platform::posix::MapPath(patternText);
  if (platform::posix::Injected("FindFirstFileA", path, ERROR_PATH_NOT_FOUND)) return INVALID_HANDLE_VALUE;
  size_t slash = path.rfind('/');
  std::string directory = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  std::string pattern = slash == std::string::npos ? path : path.substr(slash + 1);
  if (pattern.empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  DIR* dir = opendir(directory.c_str());
  if (!dir) {
    SetLastError(errno == ENOENT || errno == ENOTDIR ? ERROR_PATH_NOT_FOUND
                                                     : platform::posix::ErrorFromErrno(errno, directory));
    return INVALID_HANDLE_VALUE;
  }
  Find* find = new Find;
  find->directory = directory;
  find->directoryFd = fcntl(dirfd(dir), F_DUPFD_CLOEXEC, 0);
  while (struct dirent* entry = readdir(dir)) {
    if (platform::posix::WildcardMatch(pattern, entry->d_name)) find->names.emplace_back(entry->d_name);
  }
  closedir(dir);
  std::sort(find->names.begin(), find->names.end());
  if (!platform::posix::Next(*find, data)) {
    delete find;
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  return platform::posix::Register(find);
}

BOOL FindNextFileA(HANDLE handle, LPWIN32_FIND_DATAA data) {
  Find* find = static_cast<Find*>(platform::posix::Lookup(handle, platform::posix::Object::Kind::Find));
  if (!find) return FALSE;
  if (platform::posix::Injected("FindNextFileA", find->directory, ERROR_NO_MORE_FILES)) return FALSE;
  return platform::posix::Next(*find, data) ? TRUE : FALSE;
}

BOOL FindClose(HANDLE handle) {
  return platform::posix::Unregister(handle, platform::posix::Object::Kind::Find) ? TRUE : FALSE;
}
