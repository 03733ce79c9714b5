// The numbers of a volume range that the per-number work visits, and the
// directory listings that collect them. Internal to vastel/database.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "config/channel_list.h"

// Either every number from First to Last (the described walk), or the
// numbers of that range that some listed name carries, ascending and each
// once.
struct CSaverZaglushka::VolumeNumbers {
  bool Every = false;
  int64_t First = 0;
  int64_t Last = -1;
  std::vector<int32_t> Listed;

  template <class Work>
  void ForEach(Work work) const {
    if (Every) {
      for (int64_t v = First; v <= Last; ++v) work(static_cast<int32_t>(v));
    } else {
      for (int32_t v : Listed) work(v);
    }
  }
};

namespace vastel_db {

// The volume number a name carries: the signed decimal right before its
// extension. Every name that the path rules form, "<stem>Vol<%ld><.ext>",
// carries its own number, whatever the stem and the case of the listing;
// a name that carries a number no file of that number has only costs one
// number's work more.
bool CarriedNumber(const char* name, int32_t* number);

// Lists the entries matching the pattern; calls back with each. False
// when the listing failed in a way that may have left names out (anything
// but "no such name" or "no such directory" at the start, "no more files"
// at the end).
template <class Each>
bool ListNames(const std::string& pattern, Each each) {
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA(pattern.c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_NO_MORE_FILES;
  }
  bool complete = true;
  do {
    each(static_cast<const WIN32_FIND_DATAA&>(data));
    if (!FindNextFileA(find, &data)) {
      complete = GetLastError() == ERROR_NO_MORE_FILES;
      break;
    }
  } while (true);
  FindClose(find);
  return complete;
}

// The whole length of an open file (the high part asked for too, so 2 GiB
// and more are neither negative nor wrapped); -1 when it cannot be read.
int64_t FileLength(HANDLE file);

// The length a listed entry gives, all 64 bits.
inline int64_t ListedLength(const WIN32_FIND_DATAA& data) {
  return static_cast<int64_t>((static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
}

}  // namespace vastel_db
