// Time lookup: the cue to show and the cues on screen at a playback time,
// against a bare binary search over the sorted start times; the one-pass
// choice against a bare scan of start/end pairs.
#include <algorithm>

#include "alloc_count.h"
#include "fixtures.h"
#include "tpsubm.h"

namespace {

constexpr int32_t kSizes[] = {1000, 100000, 1000000};
constexpr shape kShapes[] = {shape::sequential, shape::dialogue, shape::long_cue};

// The lowest active position, found without stopping early: the floor of a
// pass that must look at every cue.
int32_t bare_linear(const timed *cues, int32_t n, int32_t t) {
  int32_t found = -1;
  for (int32_t i = n - 1; i >= 0; --i) {
    if (cues[i].start <= t && t < cues[i].end) found = i;
  }
  return found;
}

// Allocations per call, measured over the timed loop.
void count_allocs(benchmark::State &state, uint64_t before) {
  double calls = static_cast<double>(bench_alloc_calls() - before);
  state.counters["allocs"] = calls / static_cast<double>(state.iterations());
}

// The fast lookup and the linear one must agree on these tracks (no cue
// starts below 0); a benchmark of a wrong answer is worthless.
bool agrees(const track_fixture &f) {
  time_walk w(true, f.end_ms);
  for (int k = 0; k < 64; ++k) {
    int32_t t = w.next();
    if (tpsubm_cue_at(f.id, t) != tpsubm_cue_at_linear(f.id, t)) return false;
  }
  return true;
}

std::string case_name(shape s, int32_t n, bool random) {
  return std::string(shape_name(s)) + "/" + size_name(n) + (random ? "/random" : "/forward");
}

void bm_cue_at(benchmark::State &state, shape s, int32_t n, bool random) {
  const track_fixture &f = held_track(s, n);
  if (!agrees(f)) {
    state.SkipWithError("tpsubm_cue_at disagrees with tpsubm_cue_at_linear");
    return;
  }
  set_limit(state, "upper_bound/" + case_name(s, n, random));
  time_walk w(random, f.end_ms);
  uint64_t before = bench_alloc_calls();
  for (auto _ : state) benchmark::DoNotOptimize(tpsubm_cue_at(f.id, w.next()));
  count_allocs(state, before);
}

void bm_active_cues(benchmark::State &state, shape s, int32_t n, bool random) {
  const track_fixture &f = held_track(s, n);
  set_limit(state, "upper_bound/" + case_name(s, n, random));
  time_walk w(random, f.end_ms);
  uint64_t before = bench_alloc_calls();
  for (auto _ : state) {
    tpsubm_active_cues(f.id, w.next());
    benchmark::DoNotOptimize(tpsubm_active_count());
  }
  count_allocs(state, before);
}

void bm_upper_bound(benchmark::State &state, shape s, int32_t n, bool random) {
  const track_fixture &f = held_track(s, n);
  const int32_t *first = f.sorted_starts.data();
  const int32_t *last = first + f.sorted_starts.size();
  time_walk w(random, f.end_ms);
  for (auto _ : state) benchmark::DoNotOptimize(std::upper_bound(first, last, w.next()));
}

void bm_cue_at_linear(benchmark::State &state, shape s, int32_t n, bool random) {
  const track_fixture &f = held_track(s, n);
  set_limit(state, "linear_scan/" + case_name(s, n, random));
  time_walk w(random, f.end_ms);
  uint64_t before = bench_alloc_calls();
  for (auto _ : state) benchmark::DoNotOptimize(tpsubm_cue_at_linear(f.id, w.next()));
  count_allocs(state, before);
}

void bm_linear_scan(benchmark::State &state, shape s, int32_t n, bool random) {
  const track_fixture &f = held_track(s, n);
  time_walk w(random, f.end_ms);
  for (auto _ : state) benchmark::DoNotOptimize(bare_linear(f.cues.data(), n, w.next()));
}

}  // namespace

void register_lookup() {
  for (shape s : kShapes) {
    for (int32_t n : kSizes) {
      for (bool random : {false, true}) {
        std::string c = case_name(s, n, random);
        benchmark::RegisterBenchmark(("cue_at/" + c).c_str(), bm_cue_at, s, n, random);
        benchmark::RegisterBenchmark(("active_cues/" + c).c_str(), bm_active_cues, s, n, random);
        benchmark::RegisterBenchmark(("upper_bound/" + c).c_str(), bm_upper_bound, s, n, random);
      }
      // The one-pass choice reads every cue whatever the time: random only.
      std::string c = case_name(s, n, true);
      benchmark::RegisterBenchmark(("cue_at_linear/" + c).c_str(), bm_cue_at_linear, s, n, true);
      benchmark::RegisterBenchmark(("linear_scan/" + c).c_str(), bm_linear_scan, s, n, true);
    }
  }
}
