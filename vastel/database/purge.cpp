// The channel purge: every volume of the channel deleted, the
// channel information file reset to one fresh empty volume, the space freed
// handed to the reserve.

#include <string>

#include "app/error_class.h"
#include "database/volume_walk.h"
#include "platform/win32.h"

namespace {

const char kOpenInformText[] =
    "Ошибка открытия ChannelInform.Chd.  Очистка БД проведена с ошибками, необходимо переиндексировать БД запуском "
    "программы Velmora";
const char kReadInformText[] =
    "Ошибка чтения ChannelInform.Chd. Очистка БД проведена с ошибками, необходимо переиндексировать БД запуском "
    "программы Velmora";
const char kWriteInformText[] =
    "Ошибка записи в ChannelInform.Chd. Очистка БД проведена с ошибками, необходимо переиндексировать БД запуском "
    "программы Velmora";
const char kCreateFileText[] = "Ошибка создания файла ";

// The scan keeps the smallest number below this starting value.
const int32_t kSmallestStart = 1000000000;
const int32_t kRecordNumberStart = 100;

// largest + 1 in the 32 bits the number is stored in: past the largest
// value it wraps to the smallest, as the recorder's 32-bit arithmetic does,
// instead of overflowing into undefined behaviour.
int32_t NextVolume(int32_t volume) { return volume == INT32_MAX ? INT32_MIN : volume + 1; }

// "Ошибка создания файла %s" within the 299 characters ErrorClass holds. The
// path can outgrow it by a few characters; then the middle of the directory
// gives way to "..." so that the file's own name stays whole.
std::string CreateFileMessage(const std::string& path) {
  const size_t capacity = sizeof(ErrorClass::Text) - 1;
  std::string text = kCreateFileText + path;
  if (text.size() <= capacity) return text;
  size_t nameAt = path.find_last_of("\\/");
  nameAt = nameAt == std::string::npos ? 0 : nameAt;
  std::string tail = path.substr(nameAt);
  const size_t head = sizeof kCreateFileText - 1;
  if (head + 3 + tail.size() > capacity) return text.substr(0, capacity);
  return text.substr(0, capacity - 3 - tail.size()) + "..." + tail;
}

void WriteRecord(HANDLE file, const uint8_t* image, DWORD size) {
  DWORD written = 0;
  WriteFile(file, image, size, &written, nullptr);
}

}  // namespace

using vastel_db::ListNames;

void CSaverZaglushka::Purge(VolumeWalk walk) {
  // 1. Scan the channel directory. The same listing gives the range (by the
  // names that hold the prefix) and the numbers every name carries.
  int32_t smallest = kSmallestStart;
  int32_t largest = -1;
  std::vector<int32_t> carried;
  bool complete = ListNames(vastel_db::VolumeSearchPattern(ChannelDir, FilePrefix), [&](const WIN32_FIND_DATAA& data) {
    int32_t number;
    if (vastel_db::VolumeNumberFromName(data.cFileName, FilePrefix, &number)) {
      if (number < smallest) smallest = number;
      if (number > largest) largest = number;
    }
    if (vastel_db::CarriedNumber(data.cFileName, &number)) carried.push_back(number);
  });

  // 2. The range, its width counted in 64 bits.
  int64_t width = static_cast<int64_t>(largest) - smallest;
  if (width < 0) {
    VolumeCount = 0;
    LastVolume = 1;
  } else {
    VolumeCount = width + 1;
    LastVolume = largest;
  }
  // 3.
  RecordNumber = kRecordNumberStart;

  // The Ext directory once; a listing that may have missed names makes the
  // walk the described one.
  if (walk == VolumeWalk::ListedNumbers && !(complete && ListCarriedNumbers(ExtDir, &carried))) {
    walk = VolumeWalk::EveryNumber;
  }
  VolumeNumbers numbers = RangeNumbers(walk, &carried);

  // 4. Space before.
  int64_t reserveKb = 0, volumesKb = 0, beforeKb = 0, afterKb = 0;
  CalcSpaceOf(numbers, reserveKb, volumesKb, beforeKb);

  // 5. Delete.
  DeleteVolumes(numbers);

  // 6. to 10.
  RewriteChannelInform();

  // 11., 12.
  CreateEmptyVolume(STDateTime::Now());

  // 13. Space after: the range is the fresh volume alone.
  CalcSpaceOf(RangeNumbers(VolumeWalk::EveryNumber, nullptr), reserveKb, volumesKb, afterKb);

  // 14.
  BalanceReserve(beforeKb, afterKb);
}

void CSaverZaglushka::DeleteVolumes(const VolumeNumbers& numbers) {
  // Whether or not files of the number exist; results are not looked at.
  numbers.ForEach([&](int32_t v) {
    DeleteFileA(vastel_db::VolumeFilePath(ChannelDir, FilePrefix, v, vastel_db::kIdx).c_str());
    DeleteFileA(vastel_db::VolumeFilePath(ChannelDir, FilePrefix, v, vastel_db::kWdb).c_str());
    DeleteFileA(vastel_db::VolumeFilePath(ExtDir, FilePrefix, v, vastel_db::kEdx).c_str());
    DeleteFileA(vastel_db::VolumeFilePath(ExtDir, FilePrefix, v, vastel_db::kEdb).c_str());
  });
  VolumeCount = 0;
}

void CSaverZaglushka::RewriteChannelInform() {
  std::string path = vastel_db::ChannelInformPath(ChannelDir);
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_FLAG_RANDOM_ACCESS | FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) throw ErrorClass(kOpenInformText, 206);

  LastVolume = NextVolume(LastVolume);
  VolumeCount += 1;

  // A file shorter than the record leaves zeros in the bytes it lacks, and
  // those zeros are what is written back.
  uint8_t image[STChannelInform::kSize] = {};
  DWORD read = 0;
  if (!ReadFile(file, image, sizeof image, &read, nullptr)) {
    CloseHandle(file);
    throw ErrorClass(kReadInformText, 207);
  }
  STChannelInform inform = STChannelInform::Decode(image);
  inform.VolumeCount = static_cast<int32_t>(VolumeCount);
  inform.LastVolume = LastVolume;
  inform.RecordNumber = RecordNumber;
  inform.First = STDateTime::Now();
  inform.Second = STDateTime::Now();
  inform.Encode(image);

  SetFilePointer(file, 0, nullptr, FILE_BEGIN);
  DWORD written = 0;
  WriteFile(file, image, sizeof image, &written, nullptr);
  CloseHandle(file);
  if (written < sizeof image) throw ErrorClass(kWriteInformText, 208);
}

void CSaverZaglushka::CreateEmptyVolume(const STDateTime& stamp) {
  std::string wdbPath = vastel_db::VolumeFilePath(ChannelDir, FilePrefix, LastVolume, vastel_db::kWdb);
  std::string idxPath = vastel_db::VolumeFilePath(ChannelDir, FilePrefix, LastVolume, vastel_db::kIdx);
  const DWORD flags = FILE_FLAG_RANDOM_ACCESS | FILE_ATTRIBUTE_NORMAL;
  // Both are attempted before either result is tested; the one created
  // stays on disk, empty (and closed, so nothing keeps it locked).
  HANDLE wdb = CreateFileA(wdbPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, flags, nullptr);
  HANDLE idx = CreateFileA(idxPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, flags, nullptr);
  if (wdb == INVALID_HANDLE_VALUE || idx == INVALID_HANDLE_VALUE) {
    if (wdb != INVALID_HANDLE_VALUE) CloseHandle(wdb);
    if (idx != INVALID_HANDLE_VALUE) CloseHandle(idx);
    throw ErrorClass(CreateFileMessage(wdbPath).c_str(), 204);
  }

  const STWaveFormat pcm = STWaveFormat::Pcm16Mono44100();
  STVolHdr header;
  header.Volume = LastVolume;
  header.Format = pcm;
  header.Created = STDateTime::Now();
  uint8_t headerImage[STVolHdr::kSize];
  header.Encode(headerImage);
  WriteRecord(wdb, headerImage, sizeof headerImage);

  SetFilePointer(idx, 0, nullptr, FILE_BEGIN);
  SetEndOfFile(idx);

  int32_t position = static_cast<int32_t>(GetFileSize(wdb, nullptr));

  STBcHr block;
  block.RecordNumber = RecordNumber;
  block.Time = stamp;
  block.Format = pcm;
  block.Tail = 0;
  uint8_t blockImage[STBcHr::kSize];
  block.Encode(blockImage);
  WriteRecord(wdb, blockImage, sizeof blockImage);
  CloseHandle(wdb);

  STIdxEntry entry;
  entry.RecordNumber = RecordNumber;
  entry.Time = stamp;
  entry.Position = position;
  uint8_t entryImage[STIdxEntry::kSize];
  entry.Encode(entryImage);
  WriteRecord(idx, entryImage, sizeof entryImage);
  CloseHandle(idx);

  std::string edxPath = vastel_db::VolumeFilePath(ExtDir, FilePrefix, LastVolume, vastel_db::kEdx);
  HANDLE edx = CreateFileA(edxPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, flags, nullptr);
  if (edx != INVALID_HANDLE_VALUE) {
    SetFilePointer(edx, 0, nullptr, FILE_END);
    STEdxEntry extra;
    extra.RecordNumber = RecordNumber;
    extra.Second = -1;
    extra.Third = 0;
    extra.Fourth = 0;
    uint8_t extraImage[STEdxEntry::kSize];
    extra.Encode(extraImage);
    WriteRecord(edx, extraImage, sizeof extraImage);
    CloseHandle(edx);
  }

  ++RecordNumber;
}
