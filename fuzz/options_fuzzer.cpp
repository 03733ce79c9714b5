// The options file reader over any bytes (see the first byte below): load, ask for every item in every
// form, save and load again. The second load must find the same items: the
// writer only ever writes lines the reader takes back under the same names.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "security/multi_options.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static fuzz_support::ScratchDirectory scratch;
  if (size == 0) return 0;
  // With the first byte odd, the rest follows a remark line that ends near
  // the end of the reader's first 8192-byte block, so that the lines of the
  // input meet the block boundary at every offset and the carry-over of a
  // partial line is exercised.
  std::string content;
  if (data[0] & 1) {
    content.assign(7800 + 2 * static_cast<size_t>(data[0] >> 1), '#');
    content += "\r\n";
  }
  content.append(reinterpret_cast<const char*>(data + 1), size - 1);
  fuzz_support::WriteFile("opts.ini", reinterpret_cast<const uint8_t*>(content.data()), content.size());

  MultiOptions store("opts.ini", MO_Manual);
  if (store.Load() != 1) __builtin_trap();
  std::vector<std::string> names;
  for (const auto& item : store.FileData->Items) names.push_back(item->Name);
  for (const std::string& name : names) {
    int32_t blockSize = 0;
    (void)store.GetInt(name.c_str());
    (void)store.GetUInt(name.c_str());
    (void)store.GetFloat(name.c_str());
    const char* text = store.GetString(name.c_str());
    if (text) fuzz_support::Touch(text, std::string(text).size());
    const BYTE* block = store.GetBinary(name.c_str(), &blockSize);
    if (block && blockSize > 0) fuzz_support::Touch(block, static_cast<size_t>(blockSize));
  }
  if (store.Save() != 1) __builtin_trap();
  if (store.Load() != 1) __builtin_trap();
  if (store.FileData->Items.size() != names.size()) __builtin_trap();
  for (size_t i = 0; i < names.size(); ++i) {
    if (names[i] != store.FileData->Items[i]->Name) __builtin_trap();
  }
  return 0;
}
