// The database's error paths and guarantees that need the POSIX platform
// layer's seams: fault injection (failures real files can't give as root),
// the settable clock (exact time stamps), call counts (cost), and sparse
// files of several gigabytes.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "app/error_class.h"
#include "database_fixture.h"
#include "platform/clock.h"
#include "platform/fault.h"
#include "support/temp_dir.h"

using dbtest::ChannelDir;
using dbtest::I32At;
using testing_support::TempDir;

namespace {

namespace fs = std::filesystem;
using Walk = CSaverZaglushka::VolumeWalk;

class DatabaseFaults : public ::testing::Test {
 protected:
  void SetUp() override { platform::fault::Reset(); }
  void TearDown() override {
    platform::fault::Reset();
    platform::clock::UseSystemTime();
  }
};

int32_t PurgeCode(CSaverZaglushka& channel, Walk walk = Walk::ListedNumbers) {
  try {
    channel.Purge(walk);
  } catch (const ErrorClass& e) {
    return e.Code;
  }
  return 0;
}

std::vector<std::string> Names(const fs::path& dir) {
  std::vector<std::string> out;
  for (const auto& e : fs::directory_iterator(dir)) out.push_back(e.path().filename().string());
  std::sort(out.begin(), out.end());
  return out;
}
using Strings = std::vector<std::string>;

// Volumes 3 and 4 of 2 KB + 1 KB each, a reserve file of 1000 bytes.
void Build(const ChannelDir& ch) {
  ch.Volume(3, 0, 2048, 0, 1024);
  ch.Volume(4, 0, 2048, 0, 1024);
  dbtest::PutSized(ch.Reserve(0), 1000);
}

TEST_F(DatabaseFaults, AFailingReadGives207AndLeavesTheChannelInformAsItWas) {
  TempDir root;
  ChannelDir ch(root.Path(), "Ch0");
  Build(ch);
  platform::fault::FailOnPath("ReadFile", "ChannelInform.Chd");
  auto channel = ch.Make();
  EXPECT_EQ(PurgeCode(*channel), 207);
  EXPECT_EQ(Names(ch.dir), (Strings{"ChannelInform.Chd", "Ext", "reserv"}));
  EXPECT_EQ(Names(ch.dir / "Ext"), Strings{});
  EXPECT_EQ(dbtest::Get(ch.dir / "ChannelInform.Chd"), dbtest::InformImage(5, 7, 1234));
  EXPECT_EQ(fs::file_size(ch.Reserve(0)), 1000u);
  // The handle was closed on the way out: the file can be opened exclusively.
  HANDLE h = CreateFileA((ch.dir / "ChannelInform.Chd").c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(h, INVALID_HANDLE_VALUE);
  CloseHandle(h);
}

TEST_F(DatabaseFaults, AShortWriteGives208) {
  TempDir root;
  ChannelDir ch(root.Path(), "Ch0");
  Build(ch);
  platform::fault::FailOnPath("WriteFile", "ChannelInform.Chd", ERROR_DISK_FULL);
  auto channel = ch.Make();
  const ErrorClass e = dbtest::PurgeError(*channel);
  EXPECT_EQ(e.Code, 208);
  EXPECT_STREQ(e.Text,
               "Ошибка записи в ChannelInform.Chd. Очистка БД проведена с ошибками, необходимо "
               "переиндексировать БД запуском программы Velmora");
  EXPECT_EQ(Names(ch.dir), (Strings{"ChannelInform.Chd", "Ext", "reserv"}));
  EXPECT_EQ(fs::file_size(ch.Reserve(0)), 1000u);
}

TEST_F(DatabaseFaults, ReadErrorTextIs207s) {
  TempDir root;
  ChannelDir ch(root.Path(), "Ch0");
  platform::fault::FailNthCall("ReadFile", 1);
  const ErrorClass e = dbtest::PurgeError(*ch.Make());
  EXPECT_EQ(e.Code, 207);
  EXPECT_STREQ(e.Text,
               "Ошибка чтения ChannelInform.Chd. Очистка БД проведена с ошибками, необходимо "
               "переиндексировать БД запуском программы Velmora");
}

TEST_F(DatabaseFaults, AnIndexThatCannotBeCreatedGives204NamingTheDataFile) {
  TempDir root;
  ChannelDir ch(root.Path(), "Ch0");
  Build(ch);
  platform::fault::FailOnPath("CreateFileA", "Ch0Vol5.idx");
  auto channel = ch.Make();
  const ErrorClass e = dbtest::PurgeError(*channel);
  EXPECT_EQ(e.Code, 204);
  EXPECT_EQ(std::string(e.Text), "Ошибка создания файла " + dbtest::Configured(ch.dir) + "Ch0Vol5.wdb");
  // Old volumes gone, the information file already rewritten for 5, the
  // fresh .wdb empty, no .idx, no .edx, the reserve unchanged.
  EXPECT_EQ(Names(ch.dir), (Strings{"Ch0Vol5.wdb", "ChannelInform.Chd", "Ext", "reserv"}));
  EXPECT_EQ(fs::file_size(ch.Vol(5, ".wdb")), 0u);
  EXPECT_EQ(Names(ch.dir / "Ext"), Strings{});
  std::string inform = dbtest::Get(ch.dir / "ChannelInform.Chd");
  EXPECT_EQ(I32At(inform, 6), 1);
  EXPECT_EQ(I32At(inform, 10), 5);
  EXPECT_EQ(I32At(inform, 14), 100);
  EXPECT_EQ(fs::file_size(ch.Reserve(0)), 1000u);
}

TEST_F(DatabaseFaults, VolumeFilesAreDeletedNumberByNumberIdxWdbEdxEdb) {
  // Failing the n-th deletion leaves exactly the n-th file of that order.
  std::vector<std::string> order;
  for (int v = 3; v <= 5; ++v) {
    for (const char* ext : {".idx", ".wdb", ".edx", ".edb"}) {
      order.push_back(std::string(ext == std::string(".edx") || ext == std::string(".edb") ? "Ext/" : "") + "Ch0Vol" +
                      std::to_string(v) + ext);
    }
  }
  for (Walk walk : {Walk::EveryNumber, Walk::ListedNumbers}) {
    for (size_t n = 1; n <= order.size(); ++n) {
      TempDir root;
      ChannelDir ch(root.Path(), "Ch0");
      for (int v = 3; v <= 5; ++v) ch.Volume(v);
      platform::fault::Reset();
      platform::fault::FailNthCall("DeleteFileA", static_cast<int>(n));
      EXPECT_EQ(PurgeCode(*ch.Make(), walk), 0);
      for (size_t i = 0; i < order.size(); ++i) {
        EXPECT_EQ(fs::exists(ch.dir / order[i]), i + 1 == n) << order[i] << " with deletion " << n << " failing";
      }
    }
  }
}

TEST_F(DatabaseFaults, TheFreshVolumeCarriesTheClocksTimes) {
  TempDir root;
  ChannelDir ch(root.Path(), "Ch0");
  ch.Volume(7);
  SYSTEMTIME t = {2027, 3, 2, 14, 23, 59, 58, 765};
  platform::clock::SetLocalTime(t);
  ch.Make()->Purge();
  const STDateTime stamp{2027, 3, 14, 23, 59, 58, 765};
  uint8_t image[14];
  stamp.Encode(image);
  std::string time(reinterpret_cast<char*>(image), sizeof image);

  std::string wdb = dbtest::Get(ch.Vol(8, ".wdb"));
  std::string idx = dbtest::Get(ch.Vol(8, ".idx"));
  std::string inform = dbtest::Get(ch.dir / "ChannelInform.Chd");
  EXPECT_EQ(wdb.substr(42, 14), time);  // created
  EXPECT_EQ(wdb.substr(64, 14), time);  // the block's stamp
  EXPECT_EQ(idx.substr(4, 14), time);
  EXPECT_EQ(inform.substr(50, 14), time);
  EXPECT_EQ(inform.substr(64, 14), time);
  // Every other byte of the fresh volume, as the layout gives it.
  STVolHdr h;
  h.Volume = 8;
  h.Format = STWaveFormat::Pcm16Mono44100();
  h.Created = stamp;
  STBcHr b;
  b.RecordNumber = 100;
  b.Time = stamp;
  b.Format = STWaveFormat::Pcm16Mono44100();
  uint8_t expected[114];
  h.Encode(expected);
  b.Encode(expected + 56);
  EXPECT_EQ(wdb, std::string(reinterpret_cast<char*>(expected), sizeof expected));
}

TEST_F(DatabaseFaults, BothWalksLeaveTheSameBytesToTheLast) {
  SYSTEMTIME t = {2027, 3, 2, 14, 23, 59, 58, 765};
  platform::clock::SetLocalTime(t);
  std::map<std::string, std::string> disk[2];
  int i = 0;
  for (Walk walk : {Walk::EveryNumber, Walk::ListedNumbers}) {
    TempDir root;
    ChannelDir ch(root.Path(), "Ch0");
    ch.Volume(3, 100, 5000, 16, 0);
    ch.Volume(40, 100, 7000, 16, 9000);
    dbtest::PutSized(ch.Vol(12, ".edb"), 4000);
    dbtest::PutSized(ch.Vol(41, ".edx"), 4000);
    dbtest::PutSized(ch.dir / "Ch0VolX.idx", 2000);
    dbtest::PutSized(ch.Reserve(1), 300);
    EXPECT_EQ(PurgeCode(*ch.Make(), walk), 0);
    EXPECT_EQ(PurgeCode(*ch.Make(), walk), 0);
    disk[i++] = dbtest::Snapshot(root.Path());
  }
  EXPECT_EQ(disk[0], disk[1]);
}

TEST_F(DatabaseFaults, TheCostFollowsTheFilesPresentNotTheRange) {
  for (Walk walk : {Walk::EveryNumber, Walk::ListedNumbers}) {
    TempDir root;
    ChannelDir ch(root.Path(), "Ch0");
    ch.Volume(3);
    ch.Volume(1002);
    auto channel = ch.Make();
    platform::fault::Reset();
    EXPECT_EQ(PurgeCode(*channel, walk), 0);
    int deletions = platform::fault::CallCount("DeleteFileA");
    int opens = platform::fault::CallCount("CreateFileA");
    if (walk == Walk::EveryNumber) {
      EXPECT_EQ(deletions, 1000 * 4);
      EXPECT_GT(opens, 1000 * 4);
    } else {
      EXPECT_EQ(deletions, 2 * 4);
      // 8 measured before, the information file, 3 fresh files, 4 measured
      // after, 1 reserve file.
      EXPECT_EQ(opens, 8 + 1 + 3 + 4 + 1);
      EXPECT_EQ(platform::fault::CallCount("FindFirstFileA"), 2 + 4);  // 2 directories, 4 reserve listings
    }
    EXPECT_EQ(Names(ch.dir), (Strings{"Ch0Vol1003.idx", "Ch0Vol1003.wdb", "ChannelInform.Chd", "Ext", "reserv"}));
  }
}

size_t OpenDescriptors() {
  size_t n = 0;
  for (const auto& e : fs::directory_iterator("/proc/self/fd")) {
    (void)e;
    ++n;
  }
  return n;
}

TEST_F(DatabaseFaults, APurgeLeavesNoDescriptorOpen) {
  // Thousands of opens per purge: every handle closed must free its
  // descriptor, or a large channel runs out of them.
  TempDir root;
  ChannelDir ch(root.Path(), "Ch0");
  for (int v = 1; v <= 50; ++v) ch.Volume(v, 10, 10, 10, 10);
  auto channel = ch.Make();
  size_t before = OpenDescriptors();
  EXPECT_EQ(PurgeCode(*channel, Walk::ListedNumbers), 0);
  EXPECT_EQ(PurgeCode(*channel, Walk::EveryNumber), 0);
  EXPECT_EQ(OpenDescriptors(), before);
}

TEST_F(DatabaseFaults, DeletionGivesTheSameAnswersWithAndWithoutOpenFiles) {
  // DeleteFileA takes one unlink while no file of the process is open, and
  // checks the sharing rules otherwise: the answers must not differ.
  TempDir root;
  ChannelDir ch(root.Path(), "Ch0");
  dbtest::PutSized(ch.dir / "other.bin", 1);
  for (bool holding : {false, true}) {
    HANDLE other = INVALID_HANDLE_VALUE;
    if (holding) {
      other = CreateFileA((ch.dir / "other.bin").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                          nullptr);
      ASSERT_NE(other, INVALID_HANDLE_VALUE);
    }
    dbtest::PutSized(ch.Vol(1, ".idx"), 1);
    EXPECT_TRUE(DeleteFileA(ch.Vol(1, ".idx").c_str())) << holding;
    EXPECT_FALSE(fs::exists(ch.Vol(1, ".idx")));
    EXPECT_FALSE(DeleteFileA(ch.Vol(1, ".idx").c_str()));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND) << holding;
    EXPECT_FALSE(DeleteFileA((ch.dir / "nowhere" / "x.idx").c_str()));
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND) << holding;
    EXPECT_FALSE(DeleteFileA((ch.dir / "Ext").c_str()));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED) << holding;
    EXPECT_TRUE(fs::is_directory(ch.dir / "Ext"));
    if (holding) {
      EXPECT_FALSE(DeleteFileA((ch.dir / "other.bin").c_str()));
      EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
      CloseHandle(other);
    }
  }
}

TEST_F(DatabaseFaults, AnIncompleteListingFallsBackToEveryNumber) {
  // The Ext listing breaks off after its first name: the walk over listed
  // numbers could miss Ch0Vol6.edb, so it walks every number instead.
  struct Break {
    const char* what;
    void (*arm)();
  };
  const Break breaks[] = {
      {"FindNextFileA fails", [] { platform::fault::FailNthCall("FindNextFileA", 3, ERROR_ACCESS_DENIED); }},
      {"FindFirstFileA refused",
       [] { platform::fault::FailOnPath("FindFirstFileA", "Ext/Ch0Vol*.*", ERROR_ACCESS_DENIED); }},
  };
  for (const Break& b : breaks) {
    TempDir root;
    ChannelDir ch(root.Path(), "Ch0");
    dbtest::PutSized(ch.Vol(3, ".idx"), 10);
    dbtest::PutSized(ch.Vol(9, ".idx"), 10);
    dbtest::PutSized(ch.Vol(5, ".edb"), 10);
    dbtest::PutSized(ch.Vol(6, ".edb"), 10);
    platform::fault::Reset();
    b.arm();
    EXPECT_EQ(PurgeCode(*ch.Make()), 0) << b.what;
    EXPECT_EQ(Names(ch.dir / "Ext"), Strings{"Ch0Vol10.edx"}) << b.what;
    EXPECT_EQ(platform::fault::CallCount("DeleteFileA"), 7 * 4) << b.what;
  }
}

TEST_F(DatabaseFaults, VolumeFilesOf2GiBAndMoreCountWhole) {
  TempDir root;
  ChannelDir ch(root.Path(), "Ch0");
  const uintmax_t GiB = 1u << 30;
  dbtest::PutLength(ch.Vol(3, ".wdb"), 3 * GiB + 512);
  dbtest::PutLength(ch.Vol(3, ".edb"), 4 * GiB - 1);  // low part all ones: a length, not a failure
  dbtest::PutLength(ch.Vol(4, ".wdb"), 5 * GiB);
  auto channel = ch.Make();
  channel->VolumeCount = 2;
  channel->LastVolume = 4;
  int64_t reserve = -1, volumes = -1, total = -1;
  channel->CalcSpace(reserve, volumes, total);
  // 3 GiB + 4 GiB - 1 KB + 5 GiB in whole kilobytes; 512 + 1023 left over.
  EXPECT_EQ(volumes, 3 * 1048576 + (4 * 1048576 - 1) + 5 * 1048576 + 1);
  EXPECT_EQ(total, volumes);
}

TEST_F(DatabaseFaults, AReserveFileOf4GiBAndMoreIsNeverCut) {
  // Its low 32 bits say 999,999,990: read alone they would have the file
  // "topped up" to exactly 1,000,000,000 bytes, cutting off 4 GiB.
  TempDir root;
  ChannelDir ch(root.Path(), "Ch0");
  const uintmax_t big = (uintmax_t{1} << 32) + 999999990;
  dbtest::PutLength(ch.Reserve(0), big);
  auto channel = ch.Make();
  EXPECT_EQ(channel->GetReserveSize(), static_cast<int64_t>(big));
  EXPECT_EQ(channel->ExtendReserve(static_cast<int64_t>(big) + 100), static_cast<int64_t>(big) + 100);
  EXPECT_EQ(fs::file_size(ch.Reserve(0)), big);
  EXPECT_EQ(fs::file_size(ch.Reserve(1)), 100u);
}

TEST_F(DatabaseFaults, TheHighestReserveFileFirstAndNoOtherOpened) {
  TempDir root;
  ChannelDir ch(root.Path(), "Ch0");
  dbtest::PutLength(ch.Reserve(0), 1000000000);
  dbtest::PutLength(ch.Reserve(1), 999999000);
  auto channel = ch.Make();
  // Were Reserv0.space opened, the call would be counted (and fail).
  platform::fault::Reset();
  platform::fault::FailOnPath("CreateFileA", "reserv/Reserv0.space");
  EXPECT_EQ(channel->ExtendReserve(1999999000 + 3000), 1999999000 + 3000);
  EXPECT_EQ(platform::fault::CallCount("CreateFileA"), 2);  // Reserv1, Reserv2
  EXPECT_EQ(fs::file_size(ch.Reserve(1)), 1000000000u);
  EXPECT_EQ(fs::file_size(ch.Reserve(2)), 2000u);
}

TEST_F(DatabaseFaults, OneFailedAttemptPerExtendReserveCall) {
  {
    // The length query of the highest file fails: that number is passed
    // over, and the next one takes the need.
    TempDir root;
    ChannelDir ch(root.Path(), "Ch0");
    dbtest::PutSized(ch.Reserve(0), 100);
    platform::fault::Reset();
    platform::fault::FailNthCall("GetFileSize", 1);
    EXPECT_EQ(ch.Make()->ExtendReserve(150), 150);
    EXPECT_EQ(fs::file_size(ch.Reserve(0)), 100u);
    EXPECT_EQ(fs::file_size(ch.Reserve(1)), 50u);
  }
  {
    // A second failure ends the growing with the need unmet.
    TempDir root;
    ChannelDir ch(root.Path(), "Ch0");
    dbtest::PutSized(ch.Reserve(0), 100);
    platform::fault::Reset();
    platform::fault::FailOnPath("CreateFileA", "reserv/Reserv0.space");
    platform::fault::FailOnPath("CreateFileA", "reserv/Reserv1.space");
    EXPECT_EQ(ch.Make()->ExtendReserve(150), 100);
    EXPECT_FALSE(fs::exists(ch.Reserve(1)));
    EXPECT_FALSE(fs::exists(ch.Reserve(2)));
  }
  {
    // Lengths the disk does not provide still count as added.
    TempDir root;
    ChannelDir ch(root.Path(), "Ch0");
    platform::fault::Reset();
    platform::fault::FailNthCall("SetEndOfFile", 1, ERROR_DISK_FULL);
    EXPECT_EQ(ch.Make()->ExtendReserve(5000), 5000);
    EXPECT_EQ(fs::file_size(ch.Reserve(0)), 0u);
  }
}

TEST_F(DatabaseFaults, ReserveGrowthAllocatesForReal) {
  TempDir root;
  ChannelDir ch(root.Path(), "Ch0");
  EXPECT_EQ(ch.Make()->ExtendReserve(64 << 20), 64 << 20);
  struct stat st;
  ASSERT_EQ(stat(ch.Reserve(0).c_str(), &st), 0);
  EXPECT_EQ(st.st_size, 64 << 20);
  EXPECT_GE(static_cast<int64_t>(st.st_blocks) * 512, int64_t{64} << 20);
}

}  // namespace
