// Times the trim pass's fill, trim::TouchBlock, against memset and non-temporal store loops on
// fresh mappings of 256 MiB and 1 GiB, first on pages never written (what the trim pass always
// meets) and then on pages already written. On pages never written it also times the kernel's
// own prefault of a fresh mapping (MAP_POPULATE), the ceiling of any first-touch fill. The
// candidates take turns, a fresh mapping each time, so that a drift in the machine's state
// spreads over all of them alike.
//
//   trimbolt_fill_bench [--repetitions N]   (N at least 5, 7 when not given)

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "bench/Baselines.h"
#include "bench/FillTiming.h"
#include "trim/TouchBlock.h"

namespace {

using bench::Memory;

struct Candidate {
  const char* name;
  bench::FillFunction fill;
};

// The fill first; the rest are the baselines.
constexpr Candidate kCandidates[] = {
    {"TouchBlock", trim::TouchBlock},
    {"memset", bench::FillMemset},
    {"stream8", bench::FillStream8},
    {"stream16", bench::FillStream16},
};
constexpr std::size_t kCandidateCount = std::size(kCandidates);

constexpr std::uint64_t kMiB = 1024 * 1024;
constexpr std::uint64_t kSizes[] = {256 * kMiB, 1024 * kMiB};
constexpr Memory kMemories[] = {Memory::kFirstTouch, Memory::kTouched};
constexpr double kTarget = 0.95;
constexpr int kMinRepetitions = 5;

const char* MemoryName(Memory memory) {
  return memory == Memory::kFirstTouch ? "first touch" : "touched";
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  return values.size() % 2 != 0 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// GB/s of every repetition of each candidate, for one size and kind of memory, and of the
// kernel's prefault of as large a mapping (on first touch only).
struct Series {
  std::uint64_t size;
  Memory memory;
  std::vector<double> rates[kCandidateCount];
  std::vector<double> populate;
};

void ReportRow(const char* name, const std::vector<double>& rates) {
  std::printf("  %-12s %8.2f %8.2f %8.2f", name, Median(rates),
              *std::min_element(rates.begin(), rates.end()),
              *std::max_element(rates.begin(), rates.end()));
}

void Report(const Series& series) {
  std::printf("\n%llu MiB, %s\n", static_cast<unsigned long long>(series.size / kMiB),
              MemoryName(series.memory));
  std::printf("  %-12s %8s %8s %8s   %s\n", "candidate", "median", "min", "max", "TouchBlock/this");
  double medians[kCandidateCount];
  for (std::size_t c = 0; c < kCandidateCount; ++c) {
    medians[c] = Median(series.rates[c]);
    ReportRow(kCandidates[c].name, series.rates[c]);
    if (c != 0)
      std::printf("   %.3f", medians[0] / medians[c]);
    std::printf("\n");
  }
  if (!series.populate.empty()) {
    ReportRow("MAP_POPULATE", series.populate);
    std::printf("   %.3f   (the kernel's prefault: the ceiling)\n",
                medians[0] / Median(series.populate));
  }
  std::size_t best = 1;
  for (std::size_t c = 2; c < kCandidateCount; ++c) {
    if (medians[c] > medians[best])
      best = c;
  }
  const double ratio = medians[0] / medians[best];
  std::printf("  TouchBlock / best baseline (%s): %.3f", kCandidates[best].name, ratio);
  if (series.memory == Memory::kFirstTouch)
    std::printf("   target >= %.2f: %s", kTarget, ratio >= kTarget ? "met" : "NOT met");
  std::printf("\n");
}

int ReadRepetitions(int argc, char** argv) {
  int repetitions = 7;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--repetitions" && i + 1 < argc) {
      repetitions = std::atoi(argv[++i]);
    } else {
      std::fprintf(stderr, "usage: %s [--repetitions N]\n", argv[0]);
      std::exit(2);
    }
  }
  return std::max(repetitions, kMinRepetitions);
}

// Where transparent huge pages are always on, the prefaulted mapping gets them (its advice would
// come too late), and its figure is then not one of 4 KiB pages.
void ReportHugePages() {
  std::ifstream setting("/sys/kernel/mm/transparent_hugepage/enabled");
  std::string line;
  if (std::getline(setting, line))
    std::printf("transparent huge pages: %s%s\n", line.c_str(),
                line.find("[always]") != std::string::npos
                    ? " (MAP_POPULATE may then use huge pages: its figure is not comparable)"
                    : "");
}

}  // namespace

int main(int argc, char** argv) try {
  const int repetitions = ReadRepetitions(argc, argv);
  std::printf("fill GB/s (10^9 bytes per second): median, min and max of %d repetitions,\n",
              repetitions);
  std::printf("each on a fresh anonymous mapping, the candidates taking turns\n");
  ReportHugePages();

  std::vector<Series> all;
  for (std::uint64_t size : kSizes) {
    for (Memory memory : kMemories)
      all.push_back(Series{size, memory, {}, {}});
  }
  for (int round = 0; round < repetitions; ++round) {
    for (Series& series : all) {
      // A different candidate goes first in each round; on first touch the prefault is one
      // more turn.
      const std::size_t turns = kCandidateCount + (series.memory == Memory::kFirstTouch ? 1 : 0);
      for (std::size_t turn = 0; turn < turns; ++turn) {
        const std::size_t c = (turn + static_cast<std::size_t>(round)) % turns;
        const bool populate = c == kCandidateCount;
        const double seconds =
            populate ? bench::TimePopulate(series.size)
                     : bench::TimeFill(kCandidates[c].fill, series.size, series.memory);
        const double rate = static_cast<double>(series.size) / seconds / 1e9;
        (populate ? series.populate : series.rates[c]).push_back(rate);
      }
    }
    std::fprintf(stderr, "round %d of %d done\n", round + 1, repetitions);
  }
  for (const Series& series : all)
    Report(series);
  return 0;
} catch (const std::exception& error) {
  std::fprintf(stderr, "fill benchmark: %s\n", error.what());
  return 1;
}
