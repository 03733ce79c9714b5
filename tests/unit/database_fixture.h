// Fixtures for the recording database tests: channel directories with
// volume, information and reserve files in a temporary directory, and a
// snapshot of what lies on disk afterwards.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "app/error_class.h"
#include "config/channel_list.h"
#include "database/layout.h"
#include "support/temp_dir.h"

namespace dbtest {

// The error a purge ends with; a purge that ends without one fails the test.
inline ErrorClass PurgeError(CSaverZaglushka& channel) {
  try {
    channel.Purge();
  } catch (const ErrorClass& e) {
    return e;
  }
  ADD_FAILURE() << "the purge ended without an error";
  return ErrorClass("", 0);
}

namespace fs = std::filesystem;

// A channel directory as the INI file names it: ending with a backslash.
inline std::string Configured(const fs::path& dir) { return dir.string() + "\\"; }

inline void Put(const fs::path& path, const std::string& bytes) { testing_support::WriteBytes(path.string(), bytes); }

inline void PutSized(const fs::path& path, size_t size) { Put(path, std::string(size, 'x')); }

inline std::string Get(const fs::path& path) { return testing_support::ReadBytes(path.string()); }

inline int32_t I32At(const std::string& bytes, size_t offset) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(bytes.at(offset + i));
  return static_cast<int32_t>(v);
}

// A channel information record with recognisable uninterpreted bytes.
inline std::string InformImage(int32_t count, int32_t last, int32_t record) {
  STChannelInform r;
  for (int i = 0; i < 6; ++i) r.Head[i] = static_cast<uint8_t>(0xA0 + i);
  for (int i = 0; i < 32; ++i) r.Middle[i] = static_cast<uint8_t>(0x40 + i);
  r.VolumeCount = count;
  r.LastVolume = last;
  r.RecordNumber = record;
  r.First = STDateTime{2020, 1, 2, 3, 4, 5, 6};
  r.Second = STDateTime{2020, 1, 2, 3, 4, 5, 7};
  uint8_t image[STChannelInform::kSize];
  r.Encode(image);
  return std::string(reinterpret_cast<char*>(image), sizeof image);
}

// One channel of index `index` in <root>/<name>, with its Ext and reserv
// directories and a channel information file.
struct ChannelDir {
  ChannelDir(const fs::path& root, const std::string& name, int32_t index = 0, bool withInform = true)
      : dir(root / name) {
    fs::create_directories(dir / "Ext");
    fs::create_directories(dir / "reserv");
    if (withInform) Put(dir / "ChannelInform.Chd", InformImage(5, 7, 1234));
    prefix = "Ch" + std::to_string(index);
    this->index = index;
  }
  // A fresh channel object, as the start-up makes it.
  std::unique_ptr<CSaverZaglushka> Make() const {
    return std::make_unique<CSaverZaglushka>(Configured(dir).c_str(), index);
  }
  fs::path Vol(int32_t v, const char* ext) const {
    bool ext_dir = std::string(ext) == ".edx" || std::string(ext) == ".edb";
    return (ext_dir ? dir / "Ext" : dir) / (prefix + "Vol" + std::to_string(v) + ext);
  }
  // All four files of a volume, of the sizes given.
  void Volume(int32_t v, size_t idx = 22, size_t wdb = 3000, size_t edx = 16, size_t edb = 700) const {
    PutSized(Vol(v, ".idx"), idx);
    PutSized(Vol(v, ".wdb"), wdb);
    PutSized(Vol(v, ".edx"), edx);
    PutSized(Vol(v, ".edb"), edb);
  }
  fs::path Reserve(int64_t k) const { return dir / "reserv" / ("Reserv" + std::to_string(k) + ".space"); }

  fs::path dir;
  std::string prefix;
  int32_t index;
};

// Every entry under root: relative path (with '/') -> bytes; directories map
// to "<dir>", files over a megabyte (reserve files) to their length.
inline std::map<std::string, std::string> Snapshot(const fs::path& root) {
  std::map<std::string, std::string> state;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    std::string rel = entry.path().lexically_relative(root).generic_string();
    if (entry.is_directory()) {
      state[rel] = "<dir>";
    } else if (entry.file_size() > (1u << 20)) {
      state[rel] = "<length " + std::to_string(entry.file_size()) + ">";
    } else {
      state[rel] = Get(entry.path());
    }
  }
  return state;
}

// A file of this length with no data written (sparse where it can be).
inline void PutLength(const fs::path& path, uintmax_t length) {
  Put(path, "");
  fs::resize_file(path, length);
}

// The same snapshot with every time stamp the purge writes zeroed, so that
// two runs a moment apart compare equal.
inline std::map<std::string, std::string> WithoutTimes(std::map<std::string, std::string> state) {
  auto zero = [](std::string& bytes, size_t at, size_t size) {
    if (bytes.size() >= at + size) bytes.replace(at, size, size, '\0');
  };
  for (auto& [name, bytes] : state) {
    auto ends = [&](const char* tail) {
      std::string t(tail);
      return name.size() >= t.size() && name.compare(name.size() - t.size(), t.size(), t) == 0;
    };
    if (ends("ChannelInform.Chd")) zero(bytes, 50, 28);
    if (ends(".wdb") && bytes.size() == 114) zero(bytes, 42, 14), zero(bytes, 64, 14);
    if (ends(".idx") && bytes.size() == 22) zero(bytes, 4, 14);
  }
  return state;
}

}  // namespace dbtest
