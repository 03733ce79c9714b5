// The channel list: the recorder's channels as its INI file names them, read
// once at start-up and kept for the run. A channel knows its directories,
// its file prefix and its display name (here), and how to purge its
// recordings and keep its reserve (vastel/database).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "database/layout.h"

class Ini;

class CSaverZaglushka {
 public:
  // The directory as configured (at most 259 characters kept) and the
  // 0-based index; the display name is read from "Name.Chd".
  CSaverZaglushka(const char* directory, int32_t index);
  CSaverZaglushka(const CSaverZaglushka&) = delete;
  CSaverZaglushka& operator=(const CSaverZaglushka&) = delete;

  // At most size - 1 characters of the name, zeros up to position size - 1.
  void GetDisplayName(char* buffer, int32_t size) const;

  // How the per-number work of a range is done. The behaviour walks every
  // number from the first to the last; a single stray name far above the
  // others would make that hundreds of millions of calls. ListedNumbers
  // does the same work only for the numbers that the names in the channel
  // and Ext directories carry: a number no name carries has no file to
  // delete or measure, so the end state and the figures are the same.
  // EveryNumber is the described walk itself, kept to check that claim.
  enum class VolumeWalk { ListedNumbers, EveryNumber };

  // ---- Channel purge --------------------------------------------
  // Erases every recording and leaves one fresh empty volume; throws
  // ErrorClass 204, 206, 207 or 208.
  void Purge(VolumeWalk walk = VolumeWalk::ListedNumbers);
  // The fresh empty volume LastVolume with the block RecordNumber; then
  // RecordNumber + 1. Throws ErrorClass 204.
  void CreateEmptyVolume(const STDateTime& stamp);

  // ---- Space and reserve ----------------------------------------
  // Kilobytes of the reserve, of the volumes of the current range, and their
  // sum. 64-bit: volume files of 2 GiB and more are counted whole.
  void CalcSpace(int64_t& reserveKb, int64_t& volumesKb, int64_t& totalKb, VolumeWalk walk = VolumeWalk::ListedNumbers);
  // Bytes in the reserve files; 0 when there is none.
  int64_t GetReserveSize();
  // Grows the reserve files towards the target; returns the total reached
  // by its own count. Never shrinks a file, never creates the directory.
  int64_t ExtendReserve(int64_t target);
  // Hands the space freed between the two totals (kilobytes) to the reserve.
  void BalanceReserve(int64_t beforeKb, int64_t afterKb);

  // ---- Identity -------------------------------------------------
  char ChannelDir[260];
  char ExtDir[260];
  char FilePrefix[100];
  char DisplayName[100];
  int32_t Index;

  // ---- Purge state; set by Purge before use ---------------------
  // The range is LastVolume - VolumeCount + 1 up to LastVolume. The count is
  // 64-bit because two stray names far apart (Vol-5 and Vol2147483647) span
  // more numbers than a signed 32-bit count holds; it is never stored.
  int64_t VolumeCount = 0;
  int32_t LastVolume = 0;
  int32_t RecordNumber = 0;

 private:
  struct VolumeNumbers;
  VolumeNumbers RangeNumbers(VolumeWalk walk, const std::vector<int32_t>* carried) const;
  bool ListCarriedNumbers(const char* directory, std::vector<int32_t>* carried) const;
  void MeasureVolumes(const VolumeNumbers& numbers, int64_t& volumesKb) const;
  void CalcSpaceOf(const VolumeNumbers& numbers, int64_t& reserveKb, int64_t& volumesKb, int64_t& totalKb);
  void DeleteVolumes(const VolumeNumbers& numbers);
  void RewriteChannelInform();
};

class GlobalBufferInformation {
 public:
  // Reads "ChannelPath[0]", "ChannelPath[1]", ... up to the first gap, at
  // most 32 channels. The INI object is not owned.
  explicit GlobalBufferInformation(Ini* ini);
  ~GlobalBufferInformation();
  GlobalBufferInformation(const GlobalBufferInformation&) = delete;
  GlobalBufferInformation& operator=(const GlobalBufferInformation&) = delete;

  int32_t GetCount() const { return Count; }

  // Entry i is channel i up to Count - 1; later entries are null.
  CSaverZaglushka** ChannelArray;
  int32_t Capacity;
  int32_t Count;
  Ini* IniFile;
};
