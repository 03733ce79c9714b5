// Benchmarks of the recording database (Linux build): the channel purge
// against the unlink floor, the purge of a range that is almost all holes,
// and the growth of the reserve.
//
//   database_bench [--dir DIR] [--rounds N] [--reserve-gb N] [--only NAME] [--cached]
//
// DIR must lie on the disk to be measured (default: a fresh directory under
// the current one); everything made there is removed again. NAME is one of
// purge10000, holes, reserve, channels32.
//
// Each ratio is taken within one run: the same files are made twice, once
// deleted by `find DIR -name 'Ch0Vol*' -delete` (the unlink floor) and once
// purged; the two take turns going first, and the median of the rounds is
// the figure. The files are written out to the disk before each timed
// deletion, as a recorder's volumes are; with --cached they stay in the page
// cache, which leaves only the file system's own work in the floor and shows
// every system call of the purge the more. Wall and CPU times are printed;
// on a machine shared with other work the CPU times vary much less.
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "app/error_class.h"
#include "config/channel_list.h"

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

// Whether the fixtures are written out before the timed deletion (then the
// deletions meet the disk) or left in the page cache (then they measure the
// file system's own work, and any overhead of the purge shows the more).
bool g_sync = true;

double Seconds(Clock::time_point from) { return std::chrono::duration<double>(Clock::now() - from).count(); }

double CpuSeconds(const struct rusage& u) {
  return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double OwnCpu() {
  struct rusage u;
  getrusage(RUSAGE_SELF, &u);
  return CpuSeconds(u);
}

// Wall time and CPU time of one measured step. On a machine shared with
// other work the wall time varies with the load; the CPU time much less.
struct Cost {
  double wall = 0;
  double cpu = 0;
};

// What one system call costs here (getppid, the cheapest there is): on a
// virtual machine it can be many times what it is on bare hardware, and the
// purge makes several calls per file where find makes one.
double NullSyscallMicroseconds() {
  const int n = 200000;
  auto start = Clock::now();
  for (int i = 0; i < n; ++i) getppid();
  return Seconds(start) / n * 1e6;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : (v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2);
}

void WriteFile(const std::string& path, size_t size) {
  static const std::string kBytes(64 * 1024, 'r');
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0 || write(fd, kBytes.data(), size) != static_cast<ssize_t>(size)) {
    std::perror(path.c_str());
    std::exit(2);
  }
  close(fd);
}

// A channel directory with volumes first..last (four files of a few KB
// each), an information file and an empty reserve directory.
void MakeChannel(const fs::path& dir, int index, int first, int last) {
  fs::create_directories(dir / "Ext");
  fs::create_directories(dir / "reserv");
  WriteFile((dir / "ChannelInform.Chd").string(), 78);
  std::string prefix = "Ch" + std::to_string(index) + "Vol";
  for (int v = first; v <= last; ++v) {
    std::string n = prefix + std::to_string(v);
    WriteFile((dir / (n + ".idx")).string(), 2 * 1024 + 22);
    WriteFile((dir / (n + ".wdb")).string(), 6 * 1024 + 114);
    WriteFile((dir / "Ext" / (n + ".edx")).string(), 1024 + 16);
    WriteFile((dir / "Ext" / (n + ".edb")).string(), 3 * 1024 + 500);
  }
}

// The unlink floor: find deleting the volume files.
Cost FindDelete(const fs::path& root, const char* pattern) {
  auto start = Clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    execlp("find", "find", root.c_str(), "-name", pattern, "-delete", static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  struct rusage usage;
  wait4(pid, &status, 0, &usage);
  Cost cost{Seconds(start), CpuSeconds(usage)};
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "find failed\n");
    std::exit(2);
  }
  return cost;
}

size_t CountVolumeFiles(const fs::path& root) {
  size_t n = 0;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    std::string name = e.path().filename().string();
    if (e.is_regular_file() && name.find("Vol") != std::string::npos) ++n;
  }
  return n;
}

std::string Configured(const fs::path& dir) { return dir.string() + "/"; }

Cost PurgeChannels(const fs::path& root, int channels) {
  std::vector<CSaverZaglushka*> list;
  for (int c = 0; c < channels; ++c) {
    list.push_back(new CSaverZaglushka(Configured(root / ("Ch" + std::to_string(c))).c_str(), c));
  }
  double cpu = OwnCpu();
  auto start = Clock::now();
  try {
    for (CSaverZaglushka* channel : list) channel->Purge();
  } catch (const ErrorClass& e) {
    std::fprintf(stderr, "purge failed: error %ld\n", static_cast<long>(e.Code));
    std::exit(1);
  }
  Cost cost{Seconds(start), OwnCpu() - cpu};
  for (CSaverZaglushka* channel : list) delete channel;
  return cost;
}

// Purge against find on the same files; returns the median ratio. The two
// take turns going first, so that a drift of the disk's state over the run
// favours neither.
double PurgeAgainstFloor(const fs::path& work, const char* title, int channels, int volumes, int rounds) {
  std::vector<double> floors, purges, ratios, cpuRatios;
  fs::path root = work / "purge";
  for (int r = 0; r < rounds; ++r) {
    Cost floor, purge;
    for (int pass = 0; pass < 2; ++pass) {
      bool findPass = (pass == 0) == (r % 2 == 0);
      fs::remove_all(root);
      for (int c = 0; c < channels; ++c) MakeChannel(root / ("Ch" + std::to_string(c)), c, 1, volumes);
      if (g_sync) sync();
      if (findPass) {
        floor = FindDelete(root, channels == 1 ? "Ch0Vol*" : "Ch*Vol*");
      } else {
        purge = PurgeChannels(root, channels);
        // The fresh volumes are what is left: two files a channel, and its .edx.
        size_t left = CountVolumeFiles(root);
        if (left != static_cast<size_t>(3 * channels)) {
          std::fprintf(stderr, "%s: %zu volume files left\n", title, left);
          std::exit(1);
        }
      }
    }
    floors.push_back(floor.wall);
    purges.push_back(purge.wall);
    ratios.push_back(purge.wall / floor.wall);
    cpuRatios.push_back(purge.cpu / floor.cpu);
    std::printf("  round %d: find -delete %.3f s (cpu %.3f s), purge %.3f s (cpu %.3f s), ratio %.3f (cpu %.3f)\n",
                r + 1, floor.wall, floor.cpu, purge.wall, purge.cpu, ratios.back(), cpuRatios.back());
  }
  fs::remove_all(root);
  double ratio = Median(ratios);
  double best = *std::min_element(purges.begin(), purges.end()) / *std::min_element(floors.begin(), floors.end());
  std::printf(
      "%s: %d x %d volumes (%d files, %s)\n  median: find -delete %.3f s, purge %.3f s; median ratio %.3f, "
      "ratio of the fastest runs %.3f, median cpu ratio %.3f (target <= 1.3) %s\n\n",
      title, channels, volumes, channels * volumes * 4, g_sync ? "written to disk first" : "in the page cache",
      Median(floors), Median(purges), ratio, best, Median(cpuRatios), ratio <= 1.3 ? "MET" : "MISSED");
  return ratio;
}

void Holes(const fs::path& work, int rounds) {
  std::vector<double> times;
  for (int r = 0; r < rounds; ++r) {
    fs::path root = work / "holes";
    fs::remove_all(root);
    MakeChannel(root / "Ch0", 0, 0, 0);
    MakeChannel(root / "Ch0", 0, 100000000, 100000000);
    sync();
    times.push_back(PurgeChannels(root, 1).wall);
    if (!fs::exists(root / "Ch0" / "Ch0Vol100000001.wdb") || CountVolumeFiles(root) != 3) {
      std::fprintf(stderr, "holes: wrong end state\n");
      std::exit(1);
    }
    fs::remove_all(root);
  }
  double t = Median(times);
  std::printf("purge of volumes 0 and 100,000,000 alone: %.2f ms (target < 50 ms) %s\n\n", t * 1000,
              t < 0.050 ? "MET" : "MISSED");
}

void Reserve(const fs::path& work, int gigabytes, int rounds) {
  const int64_t target = static_cast<int64_t>(gigabytes) * 1000000000;
  std::vector<double> times;
  for (int r = 0; r < rounds; ++r) {
    fs::path root = work / "reserve";
    fs::remove_all(root);
    fs::create_directories(root / "Ch0" / "reserv");
    sync();
    CSaverZaglushka channel(Configured(root / "Ch0").c_str(), 0);
    auto start = Clock::now();
    int64_t reached = channel.ExtendReserve(target);
    times.push_back(Seconds(start));
    // The space must be held for real: allocated blocks, not only lengths.
    int64_t length = 0, allocated = 0, files = 0;
    for (const auto& e : fs::directory_iterator(root / "Ch0" / "reserv")) {
      struct stat st;
      stat(e.path().c_str(), &st);
      length += st.st_size;
      allocated += static_cast<int64_t>(st.st_blocks) * 512;
      ++files;
    }
    std::printf("  round %d: %.1f ms, %lld files, length %lld, allocated %lld bytes\n", r + 1, times.back() * 1000,
                static_cast<long long>(files), static_cast<long long>(length), static_cast<long long>(allocated));
    if (reached != target || length != target || allocated < target) {
      std::fprintf(stderr, "reserve: not all of it allocated\n");
      fs::remove_all(root);
      std::exit(1);
    }
    fs::remove_all(root);
    sync();
  }
  double t = Median(times);
  std::printf(
      "reserve growth by %d GB in 1,000,000,000-byte files, allocated: %.1f ms (target < 200 ms for 100 GB) %s\n\n",
      gigabytes, t * 1000, gigabytes >= 100 ? (t < 0.200 ? "MET" : "MISSED") : "(smaller than the target size)");
}

}  // namespace

int main(int argc, char** argv) {
  std::string dir;
  std::string only;
  int rounds = 3;
  int reserveGb = 100;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--dir" && i + 1 < argc) {
      dir = argv[++i];
    } else if (a == "--rounds" && i + 1 < argc) {
      rounds = std::max(1, std::atoi(argv[++i]));
    } else if (a == "--reserve-gb" && i + 1 < argc) {
      reserveGb = std::max(1, std::atoi(argv[++i]));
    } else if (a == "--cached") {
      g_sync = false;
    } else if (a == "--only" && i + 1 < argc) {
      only = argv[++i];
    } else {
      std::fprintf(stderr, "usage: %s [--dir DIR] [--rounds N] [--reserve-gb N] [--only NAME] [--cached]\n", argv[0]);
      return 2;
    }
  }
  char scratch[] = "vastel-bench.XXXXXX";
  fs::path work;
  if (dir.empty()) {
    if (!mkdtemp(scratch)) {
      std::perror("mkdtemp");
      return 2;
    }
    work = fs::absolute(scratch);
  } else {
    work = fs::absolute(dir) / "vastel-bench";
    fs::create_directories(work);
  }
  struct statvfs vfs;
  statvfs(work.c_str(), &vfs);
  double freeGb = static_cast<double>(vfs.f_bavail) * vfs.f_frsize / 1e9;
  std::printf("working in %s (%.1f GB free), %d rounds, %s; a system call costs %.2f us here\n\n", work.c_str(), freeGb,
              rounds, g_sync ? "files written to disk before each deletion" : "files in the page cache",
              NullSyscallMicroseconds());

  if (only.empty() || only == "purge10000") PurgeAgainstFloor(work, "purge of one channel", 1, 10000, rounds);
  if (only.empty() || only == "holes") Holes(work, rounds);
  if (only.empty() || only == "reserve") {
    if (reserveGb + 2 > freeGb) {
      std::printf("reserve growth by %d GB: skipped, only %.1f GB free here (use --reserve-gb or another --dir)\n\n",
                  reserveGb, freeGb);
    } else {
      Reserve(work, reserveGb, rounds);
    }
  }
  if (only.empty() || only == "channels32") PurgeAgainstFloor(work, "purge of 32 channels", 32, 1000, rounds);

  fs::remove_all(work);
  return 0;
}
