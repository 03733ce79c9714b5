#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "security/multi_options.h"
#include "support/temp_dir.h"

using testing_support::ReadBytes;
using testing_support::TempDir;
using testing_support::WriteBytes;

namespace {

const char kFile[] = "opts.ini";

// The items of a store in order, each as one line of text, for comparing
// whole stores at once: "NAME:TYPE:INT:UINT:FLOAT:DATA".
std::string Describe(const MultiOptions& store) {
  std::string out;
  for (const auto& item : store.FileData->Items) {
    char numbers[128];
    std::snprintf(numbers, sizeof numbers, ":%d:%d:%u:%g:", static_cast<int>(item->Type),
                  static_cast<int>(item->IntValue), static_cast<unsigned>(item->UIntValue),
                  static_cast<double>(item->FloatValue));
    out += item->Name;
    out += numbers;
    if (!item->Data) {
      out += "null";
    } else if (item->Type == MO_Binary) {
      for (int32_t i = 0; i < item->DataSize; ++i) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02x", static_cast<unsigned char>(item->Data[i]));
        out += hex;
      }
    } else {
      out += std::string("'") + item->Data + "'";
    }
    out += "\n";
  }
  return out;
}

struct ReadCase {
  const char* what;
  std::string file;
  std::string items;
};

const ReadCase kReadCases[] = {
    {"lines ending in LF alone", "A=I 1\nB=I 2\n", ""},
    {"last line without CR LF", "A=I 1\r\nB=I 2", "A:1:1:1:1:null\n"},
    {"remark without equals sign", "just a remark\r\nA=I 1\r\n", "A:1:1:1:1:null\n"},
    {"no marker", "X=5\r\n", "X:1:0:0:0:null\n"},
    {"blank before equals sign", "X =I 5\r\n", "X :1:5:5:5:null\n"},
    {"blank after equals sign", "X= I 5\r\n", "X:1:0:0:0:null\n"},
    {"float as three numbers", "X=F 2.5\r\n", "X:3:2:2:2.5:null\n"},
    {"negative as unsigned", "X=I -12\r\n", "X:1:-12:4294967284:-12:null\n"},
    {"unsigned beyond 32 bits", "X=U 99999999999\r\n", "X:2:2147483647:4294967295:1e+11:null\n"},
    {"blanks after marker", "X=U    7\r\n", "X:2:7:7:7:null\n"},
    {"white space trimmed", "\t  X=I 3 \t\x0b\x0c\r\n", "X:1:3:3:3:null\n"},
    {"upper-half bytes are not white space", "\xA0X=\"a\xA0\r\n", "\xA0X:4:0:0:0:'a\xA0'\n"},
    {"inner quotes stay", "X=\"a\"b\"\r\n", "X:4:0:0:0:'a\"b'\n"},
    {"no closing quote", "X=\"abc\r\n", "X:4:0:0:0:'abc'\n"},
    {"empty text", "X=\"\"\r\n", "X:4:0:0:0:null\n"},
    {"text after the last quote dropped", "X=\"ab\" tail\r\n", "X:4:0:0:0:'ab'\n"},
    {"digit with lower-case partner", "X={0a}\r\n", "X:5:0:0:0:00\n"},
    {"single digit", "X={A}\r\n", "X:5:0:0:0:a0\n"},
    {"digits with blanks", "X={1 2 3}\r\n", "X:5:0:0:0:102030\n"},
    {"written form", "X={01 AB FF }\r\n", "X:5:0:0:0:01abff\n"},
    {"no closing brace", "X={AB C\r\n", "X:5:0:0:0:abc0\n"},
    {"lower case skipped", "X={ab}\r\n", "X:5:0:0:0:\n"},
    {"empty block", "X={}\r\n", "X:5:0:0:0:null\n"},
    // The scan ends with the value: what follows the closing brace is never
    // taken for more digits.
    {"digits after the closing brace", "X={A}12\r\n", "X:5:0:0:0:a0\n"},
    {"repeated name", "A=I 1\r\nB=I 3\r\nA=I 2\r\n", "A:1:2:2:2:null\nB:1:3:3:3:null\n"},
    {"unknown marker keeps the type", "A=\"x\"\r\nA=?\r\n", "A:4:0:0:0:null\n"},
    {"zero byte ends the line's content",
     std::string("A=I 12\0"
                 "3\r\nB=I 4\r\n",
                 17),
     "A:1:12:12:12:null\nB:1:4:4:4:null\n"},
    {"empty name", "=I 4\r\n", ":1:4:4:4:null\n"},
};

class OptionsRead : public ::testing::TestWithParam<ReadCase> {};

TEST_P(OptionsRead, ParsesTheFileAsWritten) {
  const ReadCase& c = GetParam();
  TempDir dir(true);
  WriteBytes(dir / kFile, c.file);
  MultiOptions store(kFile, MO_Manual);
  ASSERT_EQ(store.Load(), 1);
  EXPECT_EQ(Describe(store), c.items) << c.what;
}

INSTANTIATE_TEST_SUITE_P(Table, OptionsRead, ::testing::ValuesIn(kReadCases));

// A test's own directory as the current one, and its options file loaded
// into a store in manual mode.
class OptionsFile : public ::testing::Test {
 protected:
  OptionsFile() : dir_(true) {}
  MultiOptions& Loaded(const std::string& content) {
    WriteBytes(dir_ / kFile, content);
    store_ = std::make_unique<MultiOptions>(kFile, MO_Manual);
    EXPECT_EQ(store_->Load(), 1);
    return *store_;
  }

  TempDir dir_;
  std::unique_ptr<MultiOptions> store_;
};

TEST(Options, PathIsTheCurrentDirectoryAndTheName) {
  TempDir dir(true);
  MultiOptions store(kFile, MO_Manual);
  char expected[MAX_PATH];
  DWORD length = GetCurrentDirectoryA(sizeof expected, expected);
  ASSERT_GT(length, 0u);
  std::string want = std::string(expected) + "\\" + kFile;
  EXPECT_STREQ(store.Path, want.c_str());
  EXPECT_STREQ(store.FileData->Path, want.c_str());
  MultiOptions defaults;
  EXPECT_EQ(std::string(defaults.Path).substr(want.size() - std::strlen(kFile)), "default.opt");
}

TEST(Options, WritesEachTypeInItsLineForm) {
  TempDir dir(true);
  MultiOptions store(kFile, MO_Manual);
  const BYTE bytes[] = {0x01, 0xAB, 0xFF};
  store.SetInt("I", -7);
  store.SetUInt("U", 4294967295u);
  store.SetFloat("F", 2.5f);
  store.SetString("S", "a \"q\" b");
  store.SetBinary("B", bytes, 3);
  store.SetString("E", "");
  store.SetBinary("Z", bytes, 0);
  store.SetInt("Gain", 3, 5);
  store.SetValue("Odd", 9, MO_Value::OfInt(12), 0);
  ASSERT_EQ(store.Save(), 1);
  EXPECT_EQ(ReadBytes(dir / kFile),
            "I=I -7\r\nU=U 4294967295\r\nF=F 2.500000\r\nS=\"a \"q\" b\"\r\nB={01 AB FF }\r\nE=\"\"\r\nZ={}\r\n"
            "Gain[3]=I 5\r\nOdd=I 12\r\n");

  // Read back: every value as set, but the empty text and block are gone.
  MultiOptions again(kFile, MO_Manual);
  ASSERT_EQ(again.Load(), 1);
  EXPECT_EQ(again.GetInt("I"), -7);
  EXPECT_EQ(again.GetUInt("U"), 4294967295u);
  EXPECT_EQ(again.GetFloat("F"), 2.5f);
  EXPECT_STREQ(again.GetString("S"), "a \"q\" b");
  int32_t size = -1;
  const BYTE* got = again.GetBinary("B", &size);
  ASSERT_EQ(size, 3);
  EXPECT_EQ(std::memcmp(got, bytes, 3), 0);
  EXPECT_EQ(again.GetString("E"), nullptr);
  size = -1;
  EXPECT_EQ(again.GetBinary("Z", &size), nullptr);
  EXPECT_EQ(size, 0);
  EXPECT_EQ(again.GetInt("Gain", 3), 5);
  EXPECT_EQ(again.GetInt("Odd"), 12);
}

TEST(Options, EmptyTextIsEmptyInMemoryAndGoneAfterASaveAndARead) {
  TempDir dir(true);
  MultiOptions store(kFile, MO_Manual);
  store.SetString("E", "");
  ASSERT_NE(store.GetString("E"), nullptr);
  EXPECT_STREQ(store.GetString("E"), "");
  ASSERT_EQ(store.Save(), 1);
  ASSERT_EQ(store.Load(), 1);
  EXPECT_EQ(store.GetString("E"), nullptr);
  EXPECT_EQ(store.FileData->Items.size(), 1u);
}

TEST_F(OptionsFile, RemarksAndUnknownLinesAreGoneAfterTheNextWrite) {
  MultiOptions& store = Loaded("; remark\r\nX=5\r\nE=\"\"\r\n");
  ASSERT_EQ(store.Save(), 1);
  EXPECT_EQ(ReadBytes(dir_ / kFile), "X=I 0\r\nE=\"\"\r\n");
}

TEST_F(OptionsFile, GetterTypeChoosesTheField) {
  MultiOptions& store = Loaded("X=F 2.5\r\nT=\"txt\"\r\n");
  EXPECT_EQ(store.GetInt("X"), 2);
  EXPECT_EQ(store.GetUInt("X"), 2u);
  EXPECT_EQ(store.GetFloat("X"), 2.5f);
  EXPECT_EQ(store.GetValue("X", 9, nullptr).Int, 0);
  EXPECT_EQ(store.GetString("X"), nullptr);
  // A text asked for as a block gives its bytes with the zero; the size
  // never promises more than the item holds.
  int32_t size = 77;
  EXPECT_STREQ(reinterpret_cast<const char*>(store.GetBinary("T", &size)), "txt");
  EXPECT_EQ(size, 4);
  size = 77;
  EXPECT_EQ(store.GetBinary("X", &size), nullptr);
  EXPECT_EQ(size, 0);
  // Absent names give zero and create nothing; the out size is untouched.
  size = 77;
  EXPECT_EQ(store.GetBinary("Missing", &size), nullptr);
  EXPECT_EQ(size, 77);
  EXPECT_EQ(store.GetFloat("Missing"), 0.0f);
  EXPECT_EQ(store.FileData->Items.size(), 2u);
}

TEST_F(OptionsFile, BlocksAskedForAsTextEndWithinTheBlock) {
  // "B" becomes a block, then an unknown marker clears it: no bytes, and no
  // size left from the block.
  MultiOptions& store = Loaded("A={41 42}\r\nB={41 42 43}\r\nB=?\r\nC={4}\r\n");
  EXPECT_STREQ(store.GetString("A"), "AB");
  EXPECT_STREQ(store.GetString("C"), "@");
  int32_t size = 77;
  EXPECT_EQ(store.GetBinary("B", &size), nullptr);
  EXPECT_EQ(size, 0);
  const BYTE bytes[] = {'x', 'y'};
  store.SetBinary("D", bytes, 2);
  EXPECT_STREQ(store.GetString("D"), "xy");
  MO_DataItem copy(*store.FileData->Items[3]);
  EXPECT_STREQ(copy.Data, "xy");
}

TEST_F(OptionsFile, SetterKeepsTheOtherFieldsAndTakesBadTypesAsInt) {
  MultiOptions& store = Loaded("X=F 2.5\r\n");
  store.SetInt("X", 9);
  EXPECT_EQ(store.GetInt("X"), 9);
  EXPECT_EQ(store.GetUInt("X"), 2u);
  EXPECT_EQ(store.GetFloat("X"), 2.5f);
  store.SetValue("X", 0, MO_Value::OfInt(4), 0);
  EXPECT_EQ(store.FileData->Items[0]->Type, MO_Int);
  EXPECT_EQ(store.GetInt("X"), 4);
  // A negative size or no bytes make an empty block, never a bad copy.
  const BYTE byte = 1;
  store.SetBinary("B", &byte, -5);
  int32_t size = 77;
  EXPECT_NE(store.GetBinary("B", &size), nullptr);
  EXPECT_EQ(size, 0);
  store.SetBinary("B", nullptr, 3);
  EXPECT_EQ(store.FileData->Items[1]->DataSize, 0);
  store.SetString("S", nullptr);
  EXPECT_STREQ(store.GetString("S"), "");
}

TEST_F(OptionsFile, LongNamesAreCutTo63Characters) {
  const std::string name70(70, 'n');
  MultiOptions& store = Loaded(name70 + "=I 1\r\n");
  ASSERT_EQ(store.FileData->Items.size(), 1u);
  EXPECT_EQ(std::string(store.FileData->Items[0]->Name), name70.substr(0, 63));
  EXPECT_EQ(store.GetInt(name70.c_str()), 1);
  store.SetInt(name70.c_str(), 2);
  EXPECT_EQ(store.FileData->Items.size(), 1u);
  EXPECT_EQ(store.GetInt(name70.substr(0, 63).c_str()), 2);

  // An indexed name is composed, then cut the same way.
  const std::string base(60, 'b');
  store.SetInt(base.c_str(), 1234, 7);
  EXPECT_EQ(store.GetInt((base + "[12").c_str()), 7);
  EXPECT_EQ(store.GetInt(base.c_str(), 1234), 7);
}

TEST(Options, LongValuesAreCutToOneLine) {
  TempDir dir(true);
  MultiOptions store(kFile, MO_Manual);
  const std::string text(9000, 't');
  std::vector<BYTE> block(3000, 0x5A);
  store.SetString("TT", text.c_str());
  store.SetBinary("BB", block.data(), static_cast<int32_t>(block.size()));
  ASSERT_EQ(store.Save(), 1);
  std::string file = ReadBytes(dir / kFile);
  const size_t textKept = 8188 - 4;
  const size_t bytesKept = 2725;
  EXPECT_EQ(file.size(), (4 + textKept + 3) + (4 + 3 * bytesKept + 3));

  ASSERT_EQ(store.Load(), 1);
  EXPECT_EQ(std::string(store.GetString("TT")), text.substr(0, textKept));
  int32_t size = 0;
  ASSERT_NE(store.GetBinary("BB", &size), nullptr);
  EXPECT_EQ(size, static_cast<int32_t>(bytesKept));
}

TEST_F(OptionsFile, LinesCrossingTheBlockBoundaryAreCarriedOver) {
  // Item lines of 100 bytes: the 82nd straddles the end of the first block.
  std::string file;
  for (int i = 0; i < 200; ++i) {
    char line[128];
    std::snprintf(line, sizeof line, "K%03d=\"%0*d\"\r\n", i, 100 - 9, i);
    file += line;
  }
  ASSERT_EQ(file.size(), 200u * 100);
  // Then a line longer than a block: its block holds no line end and is
  // dropped whole; reading goes on after it.
  file += std::string(8192 + 50, 'x') + "\r\nLast=I 5\r\n";
  MultiOptions& store = Loaded(file);
  for (int i = 0; i < 200; ++i) {
    char name[8];
    std::snprintf(name, sizeof name, "K%03d", i);
    ASSERT_NE(store.GetString(name), nullptr) << name;
    EXPECT_EQ(std::atoi(store.GetString(name)), i) << name;
  }
  EXPECT_EQ(store.GetInt("Last"), 5);
}

TEST(Options, ManualModeTouchesTheFileOnlyThroughLoadAndSave) {
  TempDir dir(true);
  WriteBytes(dir / kFile, "A=I 1\r\n");
  MultiOptions store(kFile, MO_Manual);
  EXPECT_EQ(store.GetInt("A"), 0);
  store.SetInt("B", 2);
  EXPECT_EQ(ReadBytes(dir / kFile), "A=I 1\r\n");
  // A load discards what was not saved.
  ASSERT_EQ(store.Load(), 1);
  EXPECT_EQ(store.GetInt("A"), 1);
  EXPECT_EQ(store.GetInt("B"), 0);
  // A file that cannot be opened leaves the items as they are.
  MultiOptions missing("none.ini", MO_Manual);
  missing.SetInt("C", 3);
  EXPECT_EQ(missing.Load(), 0);
  EXPECT_EQ(missing.GetInt("C"), 3);
}

TEST(Options, AutomaticModeReadsOnFirstUseAndWritesEveryChange) {
  TempDir dir(true);
  WriteBytes(dir / kFile, "A=I 1\r\n");
  MultiOptions store(kFile, MO_Auto);
  EXPECT_EQ(store.Load(), 0);
  EXPECT_EQ(store.Save(), 0);
  EXPECT_EQ(store.GetInt("A"), 1);
  // Once read, the file is not read again.
  WriteBytes(dir / kFile, "A=I 9\r\n");
  EXPECT_EQ(store.GetInt("A"), 1);
  store.SetInt("B", 2);
  EXPECT_EQ(ReadBytes(dir / kFile), "A=I 1\r\nB=I 2\r\n");

  // Without a file every access tries again, and the first set creates it.
  MultiOptions fresh("fresh.ini", MO_Auto);
  EXPECT_EQ(fresh.GetInt("A"), 0);
  WriteBytes(dir / "fresh.ini", "A=I 4\r\n");
  EXPECT_EQ(fresh.GetInt("A"), 4);
  fresh.SetUInt("U", 5);
  EXPECT_EQ(ReadBytes(dir / "fresh.ini"), "A=I 4\r\nU=U 5\r\n");
}

TEST(Options, OtherModesNeverTouchTheFile) {
  TempDir dir(true);
  WriteBytes(dir / kFile, "A=I 1\r\n");
  MultiOptions store(kFile, 7);
  EXPECT_EQ(store.Load(), 0);
  EXPECT_EQ(store.GetInt("A"), 0);
  store.SetInt("A", 3);
  EXPECT_EQ(store.GetInt("A"), 3);
  EXPECT_EQ(store.Save(), 0);
  EXPECT_EQ(ReadBytes(dir / kFile), "A=I 1\r\n");
}

TEST(Options, SetFileNameMovesLaterReadsAndWrites) {
  TempDir dir(true);
  MultiOptions store(kFile, MO_Manual);
  store.SetInt("A", 1);
  std::string other = dir / "other.ini";
  store.SetFileName(other.c_str());
  EXPECT_STREQ(store.FileData->Path, other.c_str());
  ASSERT_EQ(store.Save(), 1);
  EXPECT_EQ(ReadBytes(other), "A=I 1\r\n");
  EXPECT_FALSE(std::filesystem::exists(dir / kFile));
}

TEST(Options, TextsHandedOutStayWhileOtherItemsAreAdded) {
  TempDir dir(true);
  MultiOptions store(kFile, MO_Manual);
  store.SetString("First", "kept");
  const char* first = store.GetString("First");
  for (int i = 0; i < 100; ++i) store.SetInt("N", i, i);
  EXPECT_STREQ(first, "kept");
}

TEST(OptionsItem, NewCopiedAndDestroyed) {
  MO_DataItem item;
  EXPECT_STREQ(item.Name, "Create");
  EXPECT_EQ(item.Type, MO_Int);
  EXPECT_EQ(item.Data, nullptr);

  item.SetName("Blob");
  item.Type = MO_Binary;
  item.DataSize = 3;
  item.Data = new char[3]{1, 2, 3};
  MO_DataItem copy(item);
  ASSERT_NE(copy.Data, nullptr);
  EXPECT_NE(copy.Data, item.Data);
  EXPECT_EQ(std::memcmp(copy.Data, item.Data, 3), 0);
  EXPECT_STREQ(copy.Name, "Blob");

  MO_DataItem number;
  number.IntValue = 5;
  number.Data = nullptr;
  copy = number;
  EXPECT_EQ(copy.Data, nullptr);
  EXPECT_EQ(copy.IntValue, 5);
  EXPECT_EQ(copy.Type, MO_Int);
}

}  // namespace
