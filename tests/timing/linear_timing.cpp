// Times tpsubm_cue_at_linear (and tpsubm_cue_at for comparison) on a track
// of 100,000 cues. Run it by hand in a Release build:
//   linear_timing [calls]
// It prints the mean, median, 99th percentile and slowest call in
// microseconds; the slowest call also shows any preemption of the process.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>
#include <utility>
#include <vector>

#include "tpsubm.h"

namespace {

constexpr int32_t kCues = 100000;

struct figures {
  double mean_us;
  double median_us;
  double p99_us;
  double max_us;
  double cpu_us;       // thread CPU time per call: what preemption does not inflate
  long long checksum;  // keeps the calls from being optimised away
};

figures time_calls(int32_t (*lookup)(int32_t, int32_t), int32_t id,
                   const std::vector<int32_t> &times) {
  using clock = std::chrono::steady_clock;
  figures f{0.0, 0.0, 0.0, 0.0, 0.0, 0};
  std::vector<double> us(times.size());
  double total = 0.0;
  timespec cpu_begin;
  timespec cpu_end;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu_begin);
  for (size_t i = 0; i < times.size(); ++i) {
    auto begin = clock::now();
    int32_t position = lookup(id, times[i]);
    auto end = clock::now();
    us[i] = std::chrono::duration<double, std::micro>(end - begin).count();
    total += us[i];
    f.checksum += position;
  }
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu_end);
  double cpu_total = static_cast<double>(cpu_end.tv_sec - cpu_begin.tv_sec) * 1e6 +
                     static_cast<double>(cpu_end.tv_nsec - cpu_begin.tv_nsec) / 1e3;
  f.cpu_us = cpu_total / static_cast<double>(us.size());
  std::sort(us.begin(), us.end());
  f.mean_us = total / static_cast<double>(us.size());
  f.median_us = us[us.size() / 2];
  f.p99_us = us[us.size() * 99 / 100];
  f.max_us = us.back();
  return f;
}

}  // namespace

int main(int argc, char **argv) {
  int calls = argc > 1 ? std::atoi(argv[1]) : 2000;
  if (calls <= 0) calls = 2000;
  int32_t id = tpsubm_create("timing", 1, 0, 0, 0, nullptr);
  if (id < 0) return 1;
  // About two hours of subtitles: a cue every 72 ms on average, lasting up
  // to 4 s, so that several overlap at most times.
  std::mt19937 rng(1);
  std::uniform_int_distribution<int32_t> gap(0, 144);
  std::uniform_int_distribution<int32_t> length(500, 4000);
  int32_t start = 0;
  char line[32];
  for (int32_t i = 0; i < kCues; ++i) {
    start += gap(rng);
    int32_t position = tpsubm_add_cue(id, start, start + length(rng));
    std::snprintf(line, sizeof line, "line %d", static_cast<int>(i));
    if (position < 0 || tpsubm_add_cue_line(id, position, line) != 0) return 1;
  }
  if (tpsubm_finalize(id) != 0) return 1;

  std::uniform_int_distribution<int32_t> when(0, start + 4000);
  std::vector<int32_t> times(static_cast<size_t>(calls));
  for (int32_t &t : times) t = when(rng);

  figures linear = time_calls(tpsubm_cue_at_linear, id, times);
  figures indexed = time_calls(tpsubm_cue_at, id, times);
  std::printf("%d cues, %d calls each\n", static_cast<int>(kCues), calls);
  std::printf("%-21s %10s %10s %10s %10s %10s (us)\n", "", "mean", "median", "p99", "slowest",
              "cpu/call");
  for (const auto &[name, f] :
       {std::pair{"tpsubm_cue_at_linear", linear}, std::pair{"tpsubm_cue_at", indexed}}) {
    std::printf("%-21s %10.2f %10.2f %10.2f %10.2f %10.2f\n", name, f.mean_us, f.median_us,
                f.p99_us, f.max_us, f.cpu_us);
  }
  if (linear.checksum != indexed.checksum) {
    std::printf("the two lookups disagree\n");
    return 1;
  }
  tpsubm_clear();
  return 0;
}
