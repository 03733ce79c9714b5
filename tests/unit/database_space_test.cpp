// Space accounting and reserve files on real files.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "database_fixture.h"
#include "support/temp_dir.h"

using dbtest::ChannelDir;
using testing_support::TempDir;

namespace {

namespace fs = std::filesystem;

const int64_t kCap = 1000000000;

struct KbCase {
  const char* what;
  std::vector<size_t> sizes;  // .idx, .wdb, .edx, .edb of volume 3; 0 = absent
  int64_t kilobytes;
};

TEST(CalcSpace, WholeKilobytesPerFileAndThePooledRemainderRoundedHalfUp) {
  const KbCase cases[] = {
      {"1535 bytes", {0, 1535, 0, 0}, 1},
      {"1536 bytes", {0, 1536, 0, 0}, 2},
      {"1023 and 1", {1023, 1, 0, 0}, 1},
      {"four of 300", {300, 300, 300, 300}, 1},
      {"fresh empty volume", {22, 114, 16, 0}, 0},
      {"whole kilobytes", {2048, 1024, 0, 5 * 1024}, 8},
      {"nothing", {0, 0, 0, 0}, 0},
  };
  const char* exts[] = {".idx", ".wdb", ".edx", ".edb"};
  for (const KbCase& c : cases) {
    TempDir root;
    ChannelDir ch(root.Path(), "Ch0");
    for (int i = 0; i < 4; ++i) {
      if (c.sizes[i]) dbtest::PutSized(ch.Vol(3, exts[i]), c.sizes[i]);
    }
    dbtest::PutSized(ch.Reserve(0), 5000);  // 4 KB of reserve, truncated
    auto channel = ch.Make();
    channel->VolumeCount = 1;
    channel->LastVolume = 3;
    for (auto walk : {CSaverZaglushka::VolumeWalk::ListedNumbers, CSaverZaglushka::VolumeWalk::EveryNumber}) {
      int64_t reserve = -1, volumes = -1, total = -1;
      channel->CalcSpace(reserve, volumes, total, walk);
      EXPECT_EQ(volumes, c.kilobytes) << c.what;
      EXPECT_EQ(reserve, 4) << c.what;
      EXPECT_EQ(total, c.kilobytes + 4) << c.what;
    }
  }
}

TEST(CalcSpace, OnlyTheCurrentRangeCounts) {
  TempDir root;
  ChannelDir ch(root.Path(), "Ch0");
  ch.Volume(2, 1024, 1024, 1024, 1024);  // below the range
  ch.Volume(4, 1024, 1024, 1024, 1024);
  ch.Volume(9, 1024, 1024, 1024, 1024);       // above
  dbtest::PutSized(ch.Vol(6, ".edb"), 2048);  // in range, Ext only
  auto channel = ch.Make();
  channel->VolumeCount = 5;
  channel->LastVolume = 7;  // 3 to 7
  int64_t reserve = -1, volumes = -1, total = -1;
  channel->CalcSpace(reserve, volumes, total);
  EXPECT_EQ(volumes, 6);
  EXPECT_EQ(reserve, 0);
  EXPECT_EQ(total, 6);
}

TEST(ReserveSize, SumsTheReserveFilesOnly) {
  TempDir root;
  ChannelDir ch(root.Path(), "Ch0");
  dbtest::PutSized(ch.Reserve(0), 1000);
  dbtest::PutSized(ch.Reserve(7), 24);
  dbtest::PutSized(ch.dir / "reserv" / "Reserv3.spac", 5000);
  dbtest::PutSized(ch.dir / "reserv" / "Other1.space", 5000);
  dbtest::PutSized(ch.dir / "Reserv1.space", 5000);  // not in reserv
  EXPECT_EQ(ch.Make()->GetReserveSize(), 1024);

  TempDir other;
  ChannelDir bare(other.Path(), "Ch0");
  fs::remove(bare.dir / "reserv");
  EXPECT_EQ(bare.Make()->GetReserveSize(), 0);
}

// Lengths of the reserve files present, by number.
std::map<int64_t, uintmax_t> Reserves(const ChannelDir& ch) {
  std::map<int64_t, uintmax_t> out;
  if (!fs::exists(ch.dir / "reserv")) return out;
  for (const auto& e : fs::directory_iterator(ch.dir / "reserv")) {
    std::string n = e.path().filename().string();
    out[std::stoll(n.substr(6, n.size() - 12))] = e.file_size();
  }
  return out;
}

// Existing reserve files are made with their length only (no data), so that
// gigabyte fixtures cost nothing.
void PutReserve(const ChannelDir& ch, int64_t k, uintmax_t length) { dbtest::PutLength(ch.Reserve(k), length); }

TEST(ExtendReserve, TopsUpTheHighestFileFirstThenAddsFiles) {
  TempDir root;
  ChannelDir ch(root.Path(), "Ch0");
  PutReserve(ch, 0, kCap);
  PutReserve(ch, 1, 400000000);
  auto channel = ch.Make();
  EXPECT_EQ(channel->ExtendReserve(1400000000 + 700000000), 2100000000);
  EXPECT_EQ(Reserves(ch), (std::map<int64_t, uintmax_t>{{0, kCap}, {1, kCap}, {2, 100000000}}));
}

TEST(ExtendReserve, AnEmptyReserveDirectoryGetsFilesFromZero) {
  TempDir root;
  ChannelDir ch(root.Path(), "Ch0");
  EXPECT_EQ(ch.Make()->ExtendReserve(1500000000), 1500000000);
  EXPECT_EQ(Reserves(ch), (std::map<int64_t, uintmax_t>{{0, kCap}, {1, 500000000}}));
}

TEST(ExtendReserve, AFullHighestFileIsLeftAloneAndTheNextNumberCreated) {
  TempDir root;
  ChannelDir ch(root.Path(), "Ch0");
  PutReserve(ch, 3, kCap);
  PutReserve(ch, 1, 10);  // a lower number is not topped up
  EXPECT_EQ(ch.Make()->ExtendReserve(kCap + 10 + 4096), kCap + 10 + 4096);
  EXPECT_EQ(Reserves(ch), (std::map<int64_t, uintmax_t>{{1, 10}, {3, kCap}, {4, 4096}}));
}

TEST(ExtendReserve, ATargetBelowTheCurrentTotalChangesNothing) {
  TempDir root;
  ChannelDir ch(root.Path(), "Ch0");
  PutReserve(ch, 0, 5000);
  PutReserve(ch, 1, 3000);
  auto channel = ch.Make();
  EXPECT_EQ(channel->ExtendReserve(100), 8000);
  EXPECT_EQ(channel->ExtendReserve(8000), 8000);
  EXPECT_EQ(Reserves(ch), (std::map<int64_t, uintmax_t>{{0, 5000}, {1, 3000}}));
}

TEST(ExtendReserve, NoReserveDirectoryIsNeverCreated) {
  TempDir root;
  ChannelDir ch(root.Path(), "Ch0");
  fs::remove(ch.dir / "reserv");
  // Numbers 0 and 1 fail, the growing stops, nothing counts as added.
  EXPECT_EQ(ch.Make()->ExtendReserve(4096), 0);
  EXPECT_FALSE(fs::exists(ch.dir / "reserv"));
}

TEST(ExtendReserve, NegativeAndGluedNumbers) {
  // Reserv-3.space alone: the highest number starts at 0, so the growing
  // starts with Reserv0.space. Reserv.space reads as 0 and is topped up.
  TempDir root;
  ChannelDir ch(root.Path(), "Ch0");
  PutReserve(ch, -3, 100);
  EXPECT_EQ(ch.Make()->ExtendReserve(300), 300);
  EXPECT_EQ(Reserves(ch), (std::map<int64_t, uintmax_t>{{-3, 100}, {0, 200}}));

  TempDir root2;
  ChannelDir ch2(root2.Path(), "Ch0");
  dbtest::PutSized(ch2.dir / "reserv" / "Reserv.space", 100);
  EXPECT_EQ(ch2.Make()->ExtendReserve(300), 300);
  EXPECT_EQ(fs::file_size(ch2.dir / "reserv" / "Reserv.space"), 100u);
  EXPECT_EQ(fs::file_size(ch2.Reserve(0)), 200u);
}

TEST(BalanceReserve, GrowsByTheKilobytesFreed) {
  TempDir root;
  ChannelDir ch(root.Path(), "Ch0");
  PutReserve(ch, 0, 1000);
  auto channel = ch.Make();
  channel->BalanceReserve(5000 + 7, 7);  // reserve kilobytes cancel out
  EXPECT_EQ(Reserves(ch), (std::map<int64_t, uintmax_t>{{0, 1000 + 5000 * 1024}}));
  channel->BalanceReserve(7, 9);  // space grew: nothing
  EXPECT_EQ(Reserves(ch), (std::map<int64_t, uintmax_t>{{0, 1000 + 5000 * 1024}}));
}

}  // namespace
