// Space accounting and reserve files: what a channel's volumes
// and reserve hold, and the growing of the reserve by the space a purge
// frees.

#include <algorithm>
#include <cstring>

#include "database/volume_walk.h"
#include "platform/win32.h"

namespace {

// A reserve file is never made longer than this (decimal, not 2^30).
const int64_t kReserveFileCap = 1000000000;

}  // namespace

namespace vastel_db {

int64_t FileLength(HANDLE file) {
  // With the high part asked for, all bits set in the low part is a length
  // like any other; only the error code tells a failure.
  DWORD high = 0;
  SetLastError(ERROR_SUCCESS);
  DWORD low = GetFileSize(file, &high);
  if (low == INVALID_FILE_SIZE && GetLastError() != ERROR_SUCCESS) return -1;
  return static_cast<int64_t>((static_cast<uint64_t>(high) << 32) | low);
}

bool CarriedNumber(const char* name, int32_t* number) {
  // The stem ends in "Vol" and the number is followed by the extension, so
  // the number is the run of digits (with a minus sign before it) that ends
  // where the last dot begins.
  const char* end = std::strrchr(name, '.');
  if (!end) end = name + std::strlen(name);
  const char* digits = end;
  while (digits > name && digits[-1] >= '0' && digits[-1] <= '9') --digits;
  if (digits == end || end - digits > 10) return false;
  int64_t value = 0;
  for (const char* p = digits; p < end; ++p) value = value * 10 + (*p - '0');
  if (digits > name && digits[-1] == '-') value = -value;
  if (value < INT32_MIN || value > INT32_MAX) return false;
  *number = static_cast<int32_t>(value);
  return true;
}

}  // namespace vastel_db

using vastel_db::FileLength;
using vastel_db::ListNames;

// ---- The numbers a range walks -----------------------------------------------

bool CSaverZaglushka::ListCarriedNumbers(const char* directory, std::vector<int32_t>* carried) const {
  return ListNames(vastel_db::VolumeSearchPattern(directory, FilePrefix), [&](const WIN32_FIND_DATAA& data) {
    int32_t number;
    if (vastel_db::CarriedNumber(data.cFileName, &number)) carried->push_back(number);
  });
}

CSaverZaglushka::VolumeNumbers CSaverZaglushka::RangeNumbers(VolumeWalk walk,
                                                             const std::vector<int32_t>* carried) const {
  VolumeNumbers numbers;
  numbers.First = static_cast<int64_t>(LastVolume) - VolumeCount + 1;
  numbers.Last = LastVolume;
  if (VolumeCount <= 0) {
    numbers.Last = numbers.First - 1;
    return numbers;  // an empty range: nothing to walk, nothing to list
  }

  std::vector<int32_t> listed;
  if (walk == VolumeWalk::ListedNumbers && !carried) {
    // Both directories once; a listing that may have left names out falls
    // back to the described walk, which needs no listing.
    if (!ListCarriedNumbers(ChannelDir, &listed) || !ListCarriedNumbers(ExtDir, &listed)) {
      walk = VolumeWalk::EveryNumber;
    }
    carried = &listed;
  }
  if (walk == VolumeWalk::EveryNumber) {
    numbers.Every = true;
    return numbers;
  }
  for (int32_t v : *carried) {
    if (v >= numbers.First && v <= numbers.Last) numbers.Listed.push_back(v);
  }
  std::sort(numbers.Listed.begin(), numbers.Listed.end());
  numbers.Listed.erase(std::unique(numbers.Listed.begin(), numbers.Listed.end()), numbers.Listed.end());
  return numbers;
}

// ---- CalcSpace ---------------------------------------------------------------

void CSaverZaglushka::MeasureVolumes(const VolumeNumbers& numbers, int64_t& volumesKb) const {
  // Whole kilobytes per file, and the leftover bytes of all files pooled and
  // rounded half up at the end. Lengths are whole 64-bit lengths: a file of
  // 2 GiB or more neither turns negative nor wraps.
  int64_t kilobytes = 0;
  int64_t pool = 0;
  numbers.ForEach([&](int32_t v) {
    const std::pair<const char*, const char*> files[] = {{ChannelDir, vastel_db::kIdx},
                                                         {ChannelDir, vastel_db::kWdb},
                                                         {ExtDir, vastel_db::kEdx},
                                                         {ExtDir, vastel_db::kEdb}};
    for (const auto& file : files) {
      std::string path = vastel_db::VolumeFilePath(file.first, FilePrefix, v, file.second);
      HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
      if (h == INVALID_HANDLE_VALUE) continue;
      int64_t length = FileLength(h);
      if (length > 0) {
        kilobytes += length / 1024;
        pool += length % 1024;
      }
      CloseHandle(h);
    }
  });
  volumesKb = kilobytes + (pool + 512) / 1024;
}

void CSaverZaglushka::CalcSpaceOf(const VolumeNumbers& numbers, int64_t& reserveKb, int64_t& volumesKb,
                                  int64_t& totalKb) {
  MeasureVolumes(numbers, volumesKb);
  reserveKb = GetReserveSize() / 1024;
  totalKb = reserveKb + volumesKb;
}

void CSaverZaglushka::CalcSpace(int64_t& reserveKb, int64_t& volumesKb, int64_t& totalKb, VolumeWalk walk) {
  CalcSpaceOf(RangeNumbers(walk, nullptr), reserveKb, volumesKb, totalKb);
}

// ---- Reserve -----------------------------------------------------------------

int64_t CSaverZaglushka::GetReserveSize() {
  int64_t total = 0;
  ListNames(vastel_db::ReserveSearchPattern(ChannelDir),
            [&](const WIN32_FIND_DATAA& data) { total += vastel_db::ListedLength(data); });
  return total;
}

int64_t CSaverZaglushka::ExtendReserve(int64_t target) {
  int64_t current = 0;
  int64_t highest = 0;
  ListNames(vastel_db::ReserveSearchPattern(ChannelDir), [&](const WIN32_FIND_DATAA& data) {
    current += vastel_db::ListedLength(data);
    highest = std::max<int64_t>(highest, vastel_db::ReserveNumberFromName(data.cFileName));
  });
  if (target < current) return current;  // never shorter

  int64_t need = target - current;
  bool failedBefore = false;
  // The highest-numbered file is topped up first; the numbers after it are
  // new files. (64-bit, so that counting on from the largest number a name
  // can give does not overflow.)
  for (int64_t k = highest; need > 0; ++k) {
    std::string path = vastel_db::ReserveFilePath(ChannelDir, k);
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_FLAG_SEQUENTIAL_SCAN | FILE_ATTRIBUTE_NORMAL, nullptr);
    int64_t length = -1;
    if (file != INVALID_HANDLE_VALUE) {
      length = FileLength(file);
      if (length < 0) CloseHandle(file);
    }
    if (file == INVALID_HANDLE_VALUE || length < 0) {
      if (failedBefore) break;  // one failed attempt per call
      failedBefore = true;
      continue;
    }
    // The whole length decides, so a file of 4 GiB and more is left alone
    // instead of being cut to the cap by a wrapped low part.
    if (length < kReserveFileCap) {
      int64_t room = kReserveFileCap - length;
      if (room < need) {
        SetFilePointer(file, static_cast<LONG>(kReserveFileCap), nullptr, FILE_BEGIN);
        SetEndOfFile(file);
        need -= room;
      } else {
        SetFilePointer(file, static_cast<LONG>(need), nullptr, FILE_END);
        SetEndOfFile(file);
        need = 0;
      }
    }
    CloseHandle(file);
  }
  // What the disk did not provide still counts: the results of the length
  // calls are not looked at.
  return target - need;
}

void CSaverZaglushka::BalanceReserve(int64_t beforeKb, int64_t afterKb) {
  int64_t before = beforeKb * 1024;
  int64_t after = afterKb * 1024;
  int64_t current = GetReserveSize();
  if (before - after < 0) return;
  ExtendReserve(current + before - after);
}
