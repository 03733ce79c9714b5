// The channel purge on real files: what is deleted, what is
// written, what each error leaves; and the walk over listed numbers against
// the described walk over every number.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/error_class.h"
#include "database_fixture.h"
#include "platform/win32.h"
#include "support/temp_dir.h"

using dbtest::ChannelDir;
using dbtest::I32At;
using testing_support::TempDir;

namespace {

namespace fs = std::filesystem;
using Walk = CSaverZaglushka::VolumeWalk;

// The fresh volume N with record number 100, byte for byte apart from the
// time stamps, which must agree with each other.
void ExpectFreshVolume(const ChannelDir& ch, int32_t n, size_t edxBefore = 0) {
  std::string wdb = dbtest::Get(ch.Vol(n, ".wdb"));
  std::string idx = dbtest::Get(ch.Vol(n, ".idx"));
  std::string edx = dbtest::Get(ch.Vol(n, ".edx"));
  ASSERT_EQ(wdb.size(), 114u);
  ASSERT_EQ(idx.size(), 22u);
  ASSERT_EQ(edx.size(), edxBefore + 16);
  EXPECT_FALSE(fs::exists(ch.Vol(n, ".edb")));

  const uint8_t* w = reinterpret_cast<const uint8_t*>(wdb.data());
  STVolHdr header = STVolHdr::Decode(w);
  EXPECT_EQ(std::string(header.Signature, 6), "VolHdr");
  EXPECT_EQ(header.Volume, n);
  EXPECT_TRUE(header.Format == STWaveFormat::Pcm16Mono44100());
  STBcHr block = STBcHr::Decode(w + 56);
  EXPECT_EQ(std::string(block.Signature, 4), "BcHr");
  EXPECT_EQ(block.RecordNumber, 100);
  EXPECT_TRUE(block.Format == STWaveFormat::Pcm16Mono44100());
  EXPECT_EQ(block.Tail, 0);

  STIdxEntry entry = STIdxEntry::Decode(reinterpret_cast<const uint8_t*>(idx.data()));
  EXPECT_EQ(entry.RecordNumber, 100);
  EXPECT_EQ(entry.Position, 56);
  EXPECT_EQ(entry.Time, block.Time);  // the one stamp of the purge

  STEdxEntry extra = STEdxEntry::Decode(reinterpret_cast<const uint8_t*>(edx.data()) + edxBefore);
  EXPECT_EQ(extra.RecordNumber, 100);
  EXPECT_EQ(extra.Second, -1);
  EXPECT_EQ(extra.Third, 0);
  EXPECT_EQ(extra.Fourth, 0);
}

// The channel information file after a purge to volume N: the counters set,
// the uninterpreted bytes as the fixture wrote them.
void ExpectInform(const ChannelDir& ch, int32_t n) {
  std::string now = dbtest::Get(ch.dir / "ChannelInform.Chd");
  std::string before = dbtest::InformImage(5, 7, 1234);
  ASSERT_EQ(now.size(), 78u);
  EXPECT_EQ(now.substr(0, 6), before.substr(0, 6));
  EXPECT_EQ(I32At(now, 6), 1);
  EXPECT_EQ(I32At(now, 10), n);
  EXPECT_EQ(I32At(now, 14), 100);
  EXPECT_EQ(now.substr(18, 32), before.substr(18, 32));
  STChannelInform r = STChannelInform::Decode(reinterpret_cast<const uint8_t*>(now.data()));
  EXPECT_GE(r.First.Year, 2000);
  EXPECT_NE(r.First, (STDateTime{2020, 1, 2, 3, 4, 5, 6}));
}

std::vector<std::string> Names(const fs::path& dir) {
  std::vector<std::string> out;
  for (const auto& e : fs::directory_iterator(dir)) {
    if (e.is_regular_file()) out.push_back(e.path().filename().string());
  }
  std::sort(out.begin(), out.end());
  return out;
}

using Strings = std::vector<std::string>;

TEST(Purge, AChannelWithoutVolumesGetsVolumeTwo) {
  TempDir root;
  ChannelDir ch(root.Path(), "Ch0");
  dbtest::PutSized(ch.Reserve(0), 4096);
  auto channel = ch.Make();
  channel->Purge();
  ExpectFreshVolume(ch, 2);
  ExpectInform(ch, 2);
  EXPECT_EQ(channel->VolumeCount, 1);
  EXPECT_EQ(channel->LastVolume, 2);
  EXPECT_EQ(channel->RecordNumber, 101);
  // Nothing freed: the reserve stays as it was.
  EXPECT_EQ(Names(ch.dir / "reserv"), Strings{"Reserv0.space"});
  EXPECT_EQ(fs::file_size(ch.Reserve(0)), 4096u);
}

TEST(Purge, EveryVolumeOfTheRangeGoesAndTheFreedSpaceToTheReserve) {
  TempDir root;
  ChannelDir ch(root.Path(), "Ch0");
  for (int v = 3; v <= 7; ++v) ch.Volume(v, 1024, 200 * 1024, 1024, 798 * 1024);  // 1000 KB each
  auto channel = ch.Make();
  channel->Purge();
  EXPECT_EQ(Names(ch.dir), (Strings{"Ch0Vol8.idx", "Ch0Vol8.wdb", "ChannelInform.Chd"}));
  EXPECT_EQ(Names(ch.dir / "Ext"), Strings{"Ch0Vol8.edx"});
  ExpectFreshVolume(ch, 8);
  ExpectInform(ch, 8);
  // 5000 KB freed, a fresh volume of 0 KB.
  EXPECT_EQ(Names(ch.dir / "reserv"), Strings{"Reserv0.space"});
  EXPECT_EQ(fs::file_size(ch.Reserve(0)), 5000u * 1024);
}

TEST(Purge, HolesVolXAndOtherChannelsPrefixes) {
  TempDir root;
  ChannelDir ch(root.Path(), "Rec", 1);
  ChannelDir ten(root.Path(), "Rec", 10);  // the same directory, channel 10
  ch.Volume(3);
  ch.Volume(7);
  dbtest::PutSized(ch.Vol(5, ".edb"), 10);       // in range, Ext only: deleted
  dbtest::PutSized(ch.Vol(9, ".edx"), 10);       // out of range, Ext only: stays
  dbtest::PutSized(ch.Vol(2, ".edb"), 10);       // below the range: stays
  dbtest::PutSized(ch.dir / "Ch1Vol5.bak", 10);  // other extension: stays, but is listed
  ten.Volume(4);
  ten.Volume(12);
  auto channel = ch.Make();
  channel->Purge();
  EXPECT_EQ(Names(ch.dir), (Strings{"Ch10Vol12.idx", "Ch10Vol12.wdb", "Ch10Vol4.idx", "Ch10Vol4.wdb", "Ch1Vol5.bak",
                                    "Ch1Vol8.idx", "Ch1Vol8.wdb", "ChannelInform.Chd"}));
  EXPECT_EQ(Names(ch.dir / "Ext"), (Strings{"Ch10Vol12.edb", "Ch10Vol12.edx", "Ch10Vol4.edb", "Ch10Vol4.edx",
                                            "Ch1Vol2.edb", "Ch1Vol8.edx", "Ch1Vol9.edx"}));
}

TEST(Purge, VolXCountsAsVolumeZeroButIsNotItsFile) {
  TempDir root;
  ChannelDir ch(root.Path(), "Ch0");
  dbtest::PutSized(ch.dir / "Ch0VolX.idx", 10);
  ch.Volume(0);
  ch.Volume(2);
  ch.Make()->Purge();
  EXPECT_EQ(Names(ch.dir), (Strings{"Ch0Vol3.idx", "Ch0Vol3.wdb", "Ch0VolX.idx", "ChannelInform.Chd"}));
}

TEST(Purge, AnExistingExtraIndexGetsTheEntryAtItsEnd) {
  TempDir root;
  ChannelDir ch(root.Path(), "Ch0");
  ch.Volume(1);
  dbtest::Put(ch.Vol(2, ".edx"), std::string(32, '\x55'));  // only in Ext: not scanned
  ch.Make()->Purge();
  ExpectFreshVolume(ch, 2, 32);
  EXPECT_EQ(dbtest::Get(ch.Vol(2, ".edx")).substr(0, 32), std::string(32, '\x55'));
}

TEST(Purge, ASecondPurgeReplacesTheFreshVolume) {
  TempDir root;
  ChannelDir ch(root.Path(), "Ch0");
  ch.Volume(4);
  auto channel = ch.Make();
  channel->Purge();
  ExpectFreshVolume(ch, 5);
  channel->Purge();
  EXPECT_FALSE(fs::exists(ch.Vol(5, ".idx")));
  EXPECT_FALSE(fs::exists(ch.Vol(5, ".edx")));
  ExpectFreshVolume(ch, 6);
  ExpectInform(ch, 6);
  EXPECT_EQ(channel->RecordNumber, 101);
  // 4 KB went to the reserve the first time; the fresh volume counted 0 KB,
  // so nothing the second time.
  EXPECT_EQ(Names(ch.dir / "reserv"), Strings{"Reserv0.space"});
  EXPECT_EQ(fs::file_size(ch.Reserve(0)), 4096u);
}

TEST(Purge, AShortChannelInformIsCompletedWithZeros) {
  TempDir root;
  ChannelDir ch(root.Path(), "Ch0");
  dbtest::Put(ch.dir / "ChannelInform.Chd", "ABCDEFGHIJKLMNOPQRSTUVWXYZ");  // 26 bytes
  ch.Make()->Purge();
  std::string now = dbtest::Get(ch.dir / "ChannelInform.Chd");
  ASSERT_EQ(now.size(), 78u);
  EXPECT_EQ(now.substr(0, 6), "ABCDEF");
  EXPECT_EQ(I32At(now, 10), 2);
  EXPECT_EQ(now.substr(18, 8), "STUVWXYZ");
  EXPECT_EQ(now.substr(26, 24), std::string(24, '\0'));
}

TEST(Purge, NoChannelInformGives206AfterEveryVolumeIsDeleted) {
  TempDir root;
  ChannelDir ch(root.Path(), "Ch0", 0, false);
  ch.Volume(1);
  ch.Volume(2);
  auto channel = ch.Make();
  const ErrorClass e = dbtest::PurgeError(*channel);
  EXPECT_EQ(e.Code, 206);
  EXPECT_STREQ(e.Text,
               "Ошибка открытия ChannelInform.Chd.  Очистка БД проведена с ошибками, необходимо "
               "переиндексировать БД запуском программы Velmora");
  EXPECT_EQ(Names(ch.dir), Strings{});
  EXPECT_EQ(Names(ch.dir / "Ext"), Strings{});
  EXPECT_EQ(Names(ch.dir / "reserv"), Strings{});
}

TEST(Purge, AChannelInformHeldForWritingElsewhereGives206) {
  TempDir root;
  ChannelDir ch(root.Path(), "Ch0");
  std::string path = (ch.dir / "ChannelInform.Chd").string();
  HANDLE held = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  int32_t code = 0;
  try {
    ch.Make()->Purge();
  } catch (const ErrorClass& e) {
    code = e.Code;
  }
  CloseHandle(held);
  EXPECT_EQ(code, 206);
  EXPECT_EQ(dbtest::Get(ch.dir / "ChannelInform.Chd"), dbtest::InformImage(5, 7, 1234));
}

TEST(CreateEmptyVolume, AnIndexThatCannotBeCreatedReportsTheDataFile) {
  TempDir root;
  ChannelDir ch(root.Path(), "Ch0");
  fs::create_directory(ch.Vol(8, ".idx"));  // a directory where the file goes
  auto channel = ch.Make();
  channel->LastVolume = 8;
  channel->RecordNumber = 100;
  try {
    channel->CreateEmptyVolume(STDateTime::Now());
    FAIL() << "no error";
  } catch (const ErrorClass& e) {
    EXPECT_EQ(e.Code, 204);
    EXPECT_EQ(std::string(e.Text), "Ошибка создания файла " + dbtest::Configured(ch.dir) + "Ch0Vol8.wdb");
  }
  EXPECT_EQ(fs::file_size(ch.Vol(8, ".wdb")), 0u);  // created, left empty
  EXPECT_EQ(channel->RecordNumber, 100);
  // Nothing holds the empty file: it can be opened for writing at once.
  HANDLE again = CreateFileA(ch.Vol(8, ".wdb").string().c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(again, INVALID_HANDLE_VALUE);
  CloseHandle(again);
}

TEST(CreateEmptyVolume, AnOverlong204MessageIsCutAndKeepsTheFileName) {
  // A directory of 259 characters that does not exist: the .wdb path is
  // longer than ErrorClass holds beside the message.
  TempDir root;
  std::string dir = root.Path().string() + "\\";
  while (dir.size() < 258) dir += "d";
  dir += "\\";
  CSaverZaglushka channel(dir.c_str(), 31);
  ASSERT_EQ(std::strlen(channel.ChannelDir), 259u);
  channel.LastVolume = -2147483647 - 1;
  channel.RecordNumber = 100;
  try {
    channel.CreateEmptyVolume(STDateTime::Now());
    FAIL() << "no error";
  } catch (const ErrorClass& e) {
    EXPECT_EQ(e.Code, 204);
    std::string text = e.Text;
    EXPECT_EQ(text.size(), 299u);
    EXPECT_EQ(text.compare(0, 22 + 20, "Ошибка создания файла " + dir.substr(0, 20)), 0);
    EXPECT_EQ(text.substr(text.size() - 26), "...\\Ch31Vol-2147483648.wdb");
  }
}

TEST(Purge, VolumeNumbersAtThe32BitLimit) {
  struct Case {
    std::vector<std::string> names;
    int32_t fresh;
  };
  const Case cases[] = {
      {{"Ch0Vol2147483646.idx"}, 2147483647},
      // largest + 1 wraps in 32 bits instead of overflowing
      {{"Ch0Vol2147483647.idx"}, -2147483647 - 1},
      // a span wider than a 32-bit count: both ends are still deleted
      {{"Ch0Vol-5.idx", "Ch0Vol2147483647.wdb"}, -2147483647 - 1},
      {{"Ch0Vol-2147483648.idx", "Ch0Vol99999999999.idx"}, -2147483647 - 1},
  };
  for (const Case& c : cases) {
    TempDir root;
    ChannelDir ch(root.Path(), "Ch0");
    for (const std::string& n : c.names) dbtest::PutSized(ch.dir / n, 10);
    auto channel = ch.Make();
    channel->Purge();
    EXPECT_EQ(channel->LastVolume, c.fresh);
    ExpectFreshVolume(ch, c.fresh);
    ExpectInform(ch, c.fresh);
    for (const std::string& n : c.names) {
      if (n == "Ch0Vol" + std::to_string(c.fresh) + ".idx") continue;  // the fresh volume's own
      // Only a name that is the file of its number goes; the stray name
      // Vol99999999999 reads as 2147483647 but is no volume's file.
      bool stray = n.find("99999999999") != std::string::npos;
      EXPECT_EQ(fs::exists(ch.dir / n), stray) << n;
    }
  }
}

// ---- The listed numbers against every number --------------------------------

struct Fixture {
  const char* what;
  void (*build)(const ChannelDir& ch);
};

const Fixture kFixtures[] = {
    {"empty", [](const ChannelDir&) {}},
    {"3 to 7",
     [](const ChannelDir& ch) {
       for (int v = 3; v <= 7; ++v) ch.Volume(v, 22 * v, 1000 * v, 16 * v, 333 * v);
     }},
    {"holes and Ext strays",
     [](const ChannelDir& ch) {
       ch.Volume(3, 100, 5000, 16, 0);
       ch.Volume(40, 100, 7000, 16, 9000);
       dbtest::PutSized(ch.Vol(12, ".edb"), 4000);
       dbtest::PutSized(ch.Vol(41, ".edx"), 4000);
       dbtest::PutSized(ch.Vol(-1, ".edb"), 4000);
       dbtest::PutSized(ch.dir / "Ch0VolX.idx", 2000);
       dbtest::PutSized(ch.dir / "Ch0Vol20.bak", 2000);
       dbtest::PutSized(ch.dir / "Ch00Vol5.idx", 2000);
       dbtest::PutSized(ch.dir / "Ext" / "Ch0Vol07.edb", 2000);
       dbtest::PutLength(ch.Reserve(0), 999999000);
     }},
    {"negative numbers",
     [](const ChannelDir& ch) {
       ch.Volume(-3, 10, 3000, 10, 3000);
       ch.Volume(2, 10, 3000, 10, 3000);
       dbtest::PutSized(ch.Vol(0, ".edx"), 1500);
     }},
    {"existing fresh .edx and a full reserve",
     [](const ChannelDir& ch) {
       ch.Volume(9, 22, 9000, 16, 100);
       dbtest::PutSized(ch.Vol(10, ".edx"), 48);
       dbtest::PutSized(ch.Reserve(2), 100);
       dbtest::PutSized(ch.Reserve(5), 1000);
     }},
};

TEST(ListedWalk, SameDiskAndFiguresAsTheDescribedWalk) {
  using Walk = CSaverZaglushka::VolumeWalk;
  for (const Fixture& f : kFixtures) {
    std::map<std::string, std::string> disk[2];
    int64_t figures[2][3];
    int i = 0;
    for (Walk walk : {Walk::EveryNumber, Walk::ListedNumbers}) {
      TempDir root;
      ChannelDir ch(root.Path(), "Ch0");
      f.build(ch);
      auto channel = ch.Make();
      // The figures of the range the purge will find.
      channel->VolumeCount = 0;
      channel->LastVolume = 1;
      for (const auto& e : fs::directory_iterator(ch.dir)) {
        int32_t n;
        std::string name = e.path().filename().string();
        if (name.rfind("Ch0Vol", 0) == 0 && vastel_db::VolumeNumberFromName(name.c_str(), "Ch0", &n)) {
          int64_t first = channel->VolumeCount ? channel->LastVolume - channel->VolumeCount + 1 : n;
          int64_t last = channel->VolumeCount ? channel->LastVolume : n;
          first = std::min<int64_t>(first, n);
          last = std::max<int64_t>(last, n);
          channel->LastVolume = static_cast<int32_t>(last);
          channel->VolumeCount = last - first + 1;
        }
      }
      channel->CalcSpace(figures[i][0], figures[i][1], figures[i][2], walk);
      channel->Purge(walk);
      disk[i++] = dbtest::WithoutTimes(dbtest::Snapshot(root.Path()));
    }
    EXPECT_EQ(figures[0][0], figures[1][0]) << f.what;
    EXPECT_EQ(figures[0][1], figures[1][1]) << f.what;
    EXPECT_EQ(figures[0][2], figures[1][2]) << f.what;
    EXPECT_EQ(disk[0], disk[1]) << f.what;
  }
}

}  // namespace
