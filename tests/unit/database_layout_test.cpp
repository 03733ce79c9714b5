// The recording database layout: the byte image of every record
// and the rules for names and numbers.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "database/layout.h"
#include "database/volume_walk.h"

namespace {

using Bytes = std::vector<uint8_t>;

template <class Record>
Bytes Image(const Record& r) {
  Bytes out(Record::kSize, 0xEE);
  r.Encode(out.data());
  return out;
}

Bytes Le16(uint16_t v) { return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)}; }
Bytes Le32(uint32_t v) {
  return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 24)};
}
Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}
Bytes Text(const char* s) { return Bytes(s, s + std::char_traits<char>::length(s)); }

const STDateTime kTime{2026, 12, 11, 17, 8, 41, 999};
const Bytes kTimeImage = Cat({Le16(2026), Le16(12), Le16(11), Le16(17), Le16(8), Le16(41), Le16(999)});
const Bytes kPcmImage = Cat({Le16(1), Le16(1), Le32(44100), Le32(88200), Le16(2), Le16(16), Le16(0), Bytes(14, 0)});

TEST(Layout, DateTimeAndPcmFormat) {
  EXPECT_EQ(Image(kTime), kTimeImage);
  EXPECT_EQ(STDateTime::Decode(kTimeImage.data()), kTime);
  EXPECT_EQ(Image(STWaveFormat::Pcm16Mono44100()), kPcmImage);

  // The 14 bytes after WAVEFORMATEX come back as they were.
  Bytes odd = kPcmImage;
  for (size_t i = 18; i < 32; ++i) odd[i] = static_cast<uint8_t>(i * 7);
  EXPECT_EQ(Image(STWaveFormat::Decode(odd.data())), odd);
}

TEST(Layout, VolumeHeaderAndBlockHeader) {
  STVolHdr h;
  h.Volume = -2;
  h.Format = STWaveFormat::Pcm16Mono44100();
  h.Created = kTime;
  Bytes image = Image(h);
  ASSERT_EQ(image.size(), 56u);
  EXPECT_EQ(image, Cat({Text("VolHdr"), Le32(0xFFFFFFFEu), kPcmImage, kTimeImage}));
  STVolHdr back = STVolHdr::Decode(image.data());
  EXPECT_EQ(back.Volume, -2);
  EXPECT_EQ(back.Created, kTime);

  STBcHr b;
  b.RecordNumber = 100;
  b.Time = kTime;
  b.Format = STWaveFormat::Pcm16Mono44100();
  b.Tail = 0;
  image = Image(b);
  ASSERT_EQ(image.size(), 58u);
  EXPECT_EQ(image, Cat({Text("BcHr"), Le32(100), kTimeImage, kPcmImage, Le32(0)}));
  b.Tail = 0x01020304;
  EXPECT_EQ(STBcHr::Decode(Image(b).data()).Tail, 0x01020304);
}

TEST(Layout, IndexEntries) {
  STIdxEntry e;
  e.RecordNumber = 100;
  e.Time = kTime;
  e.Position = 56;
  EXPECT_EQ(Image(e), Cat({Le32(100), kTimeImage, Le32(56)}));
  EXPECT_EQ(STIdxEntry::Decode(Image(e).data()).Position, 56);

  STEdxEntry x;
  x.RecordNumber = 100;
  EXPECT_EQ(Image(x), Cat({Le32(100), Le32(0xFFFFFFFFu), Le32(0), Le32(0)}));
  STEdxEntry y = STEdxEntry::Decode(Cat({Le32(7), Le32(8), Le32(9), Le32(0x80000000u)}).data());
  EXPECT_EQ(y.RecordNumber, 7);
  EXPECT_EQ(y.Fourth, INT32_MIN);
}

TEST(Layout, ChannelInformKeepsItsUninterpretedBytes) {
  Bytes image(78);
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(0x91 + i * 13);
  STChannelInform r = STChannelInform::Decode(image.data());
  EXPECT_EQ(Image(r), image);

  r.VolumeCount = 1;
  r.LastVolume = 8;
  r.RecordNumber = 100;
  r.First = kTime;
  r.Second = kTime;
  Bytes changed = Image(r);
  Bytes expected = image;
  auto put = [&](size_t at, const Bytes& b) { std::copy(b.begin(), b.end(), expected.begin() + at); };
  put(6, Le32(1));
  put(10, Le32(8));
  put(14, Le32(100));
  put(50, kTimeImage);
  put(64, kTimeImage);
  EXPECT_EQ(changed, expected);
}

TEST(Names, PathsByPlainConcatenation) {
  using namespace vastel_db;
  EXPECT_EQ(VolumeFilePath("D:\\Rec\\Ch1\\", "Ch0", 5, kIdx), "D:\\Rec\\Ch1\\Ch0Vol5.idx");
  EXPECT_EQ(VolumeFilePath("D:\\Rec\\A", "Ch0", 5, kIdx), "D:\\Rec\\ACh0Vol5.idx");
  EXPECT_EQ(VolumeFilePath("D:\\Rec\\Ch1\\Ext\\", "Ch10", -2, kEdb), "D:\\Rec\\Ch1\\Ext\\Ch10Vol-2.edb");
  EXPECT_EQ(VolumeFilePath("X\\", "Ch0", INT32_MIN, kWdb), "X\\Ch0Vol-2147483648.wdb");
  EXPECT_EQ(ChannelInformPath("D:\\Rec\\Ch1\\"), "D:\\Rec\\Ch1\\ChannelInform.Chd");
  EXPECT_EQ(ReserveFilePath("D:\\Rec\\Ch1\\", 12), "D:\\Rec\\Ch1\\reserv\\Reserv12.space");
  EXPECT_EQ(VolumeSearchPattern("D:\\Rec\\Ch1\\", "Ch1"), "D:\\Rec\\Ch1\\Ch1Vol*.*");
  EXPECT_EQ(ReserveSearchPattern("D:\\Rec\\Ch1\\"), "D:\\Rec\\Ch1\\reserv\\Reserv*.space");
}

struct NumberCase {
  const char* name;
  const char* prefix;
  bool hasPrefix;
  int32_t number;
};

TEST(Names, VolumeNumbersReadFromNames) {
  const NumberCase cases[] = {
      {"Ch1Vol7.wdb", "Ch1", true, 7},
      {"Ch1Vol7.idx", "Ch1", true, 7},
      {"Ch1Vol7.bak", "Ch1", true, 7},
      {"Ch1VolX.idx", "Ch1", true, 0},
      {"Ch1Vol-2.idx", "Ch1", true, -2},
      {"Ch1Vol 12.idx", "Ch1", true, 12},
      {"ACh0Vol5.idx", "Ch0", true, 5},                   // directory without separator
      {"ch1Vol7.idx", "Ch1", false, 0},                   // listed (case-blind search), but not the prefix
      {"ch1VOLCh1VOL9.idx", "Ch1", true, 9},              // the first exact occurrence
      {"cH0VolCh0", "Ch0", true, 0},                      // prefix at the very end: no digits
      {"Ch0Vol99999999999.idx", "Ch0", true, INT32_MAX},  // atol of a 32-bit long
      {"Ch0Vol-99999999999.idx", "Ch0", true, INT32_MIN},
  };
  for (const NumberCase& c : cases) {
    int32_t number = -12345;
    EXPECT_EQ(vastel_db::VolumeNumberFromName(c.name, c.prefix, &number), c.hasPrefix) << c.name;
    if (c.hasPrefix) {
      EXPECT_EQ(number, c.number) << c.name;
    }
  }
}

TEST(Names, ReserveNumbersReadFromNames) {
  EXPECT_EQ(vastel_db::ReserveNumberFromName("Reserv12.space"), 12);
  EXPECT_EQ(vastel_db::ReserveNumberFromName("Reserv.space"), 0);
  EXPECT_EQ(vastel_db::ReserveNumberFromName("Reserv-3.space"), -3);
  EXPECT_EQ(vastel_db::ReserveNumberFromName("ReservX7.space"), 0);
  EXPECT_EQ(vastel_db::ReserveNumberFromName("Reserv99999999999.space"), INT32_MAX);
  EXPECT_EQ(vastel_db::ReserveNumberFromName("x.space"), 0);
}

TEST(Names, TheNumberANameCarries) {
  // The signed decimal right before the extension: every name the path
  // rules form carries its own number, whatever its stem.
  struct Carried {
    const char* name;
    bool carries;
    int32_t number;
  };
  const Carried cases[] = {
      {"Ch0Vol7.idx", true, 7},
      {"Ch0Vol-2.edb", true, -2},
      {"ACh0Vol15.wdb", true, 15},
      {"CH0VOL8.IDX", true, 8},
      {"Ch0VolX.idx", false, 0},
      {"Ch0Vol7", true, 7},
      {"Ch0Vol2147483647.idx", true, INT32_MAX},
      {"Ch0Vol-2147483648.idx", true, INT32_MIN},
      {"Ch0Vol2147483648.idx", false, 0},
      {"Ch0Vol7.idx.bak", false, 0},
  };
  for (const Carried& c : cases) {
    int32_t number = -12345;
    EXPECT_EQ(vastel_db::CarriedNumber(c.name, &number), c.carries) << c.name;
    if (c.carries) {
      EXPECT_EQ(number, c.number) << c.name;
    }
  }
}

}  // namespace
