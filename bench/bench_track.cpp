// Whole-track work done when a file is opened: finalization against its
// limits (sorting the start times and one pass of the bare hash), a
// detection run with a constant detector against the bare detector calls,
// the result document against building the same document with the JSON
// library directly, and the heap a track holds per cue and per line.
#include <yyjson.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "alloc_count.h"
#include "fixtures.h"
#include "tpsubm.h"

namespace {

constexpr int32_t kFinalizeSizes[] = {1000, 10000, 100000, 1000000};

std::string order_name(bool shuffled) {
  return shuffled ? "shuffled" : "in_order";
}

// The inputs of finalization's limits: the (start, position) pairs in adding
// order and the first line of every cue decoded into one run of units.
struct finalize_inputs {
  std::vector<std::pair<int32_t, int32_t>> pairs;
  std::vector<uint16_t> units;
  int64_t text_bytes = 0;
};

finalize_inputs inputs_of(const track_fixture &f) {
  finalize_inputs in;
  in.pairs.reserve(f.cues.size());
  for (int32_t i = 0; i < f.n; ++i) {
    in.pairs.emplace_back(f.cues[i].start, i);
    std::string line = cue_text(i);
    std::vector<uint16_t> u = decode_utf16(line);
    in.units.insert(in.units.end(), u.begin(), u.end());
    in.text_bytes += static_cast<int64_t>(line.size());
  }
  return in;
}

void bm_finalize(benchmark::State &state, int32_t n, bool shuffled) {
  const track_fixture &f = held_track(shape::dialogue, n, shuffled);
  finalize_inputs in = inputs_of(f);
  bare_hash bare;
  bare.feed(in.units.data(), in.units.size());
  if (std::atoi(tpsubm_file_hash(f.id)) != bare.finish()) {
    state.SkipWithError("the bare hash and the file hash disagree");
    return;
  }
  set_limit(state, "finalize_limit/" + order_name(shuffled) + "/" + size_name(n));
  for (auto _ : state) benchmark::DoNotOptimize(tpsubm_finalize(f.id));
  state.SetBytesProcessed(state.iterations() * in.text_bytes);
}

void bm_finalize_limit(benchmark::State &state, int32_t n, bool shuffled) {
  const track_fixture &f = held_track(shape::dialogue, n, shuffled);
  finalize_inputs in = inputs_of(f);
  std::vector<std::pair<int32_t, int32_t>> work(in.pairs.size());
  for (auto _ : state) {
    std::copy(in.pairs.begin(), in.pairs.end(), work.begin());
    std::sort(work.begin(), work.end());
    bare_hash h;
    h.feed(in.units.data(), in.units.size());
    benchmark::DoNotOptimize(h.finish());
    benchmark::DoNotOptimize(work.data());
  }
  state.SetBytesProcessed(state.iterations() * in.text_bytes);
}

const char *constant_detector(void *, const char *) {
  return "en";
}

void bm_detect(benchmark::State &state) {
  const track_fixture &f = held_track(shape::dialogue, 10000);
  tpsubm_set_detector(constant_detector, nullptr);
  set_limit(state, "detector_calls/1e4_lines");
  for (auto _ : state) benchmark::DoNotOptimize(tpsubm_detect_languages(f.id));
  state.counters["per_line"] = benchmark::Counter(
      f.n, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  tpsubm_set_detector(nullptr, nullptr);
}

// The detector called once for every line, through a pointer the compiler
// cannot see through: the part of a run that is the host's.
void bm_detector_calls(benchmark::State &state) {
  const track_fixture &f = held_track(shape::dialogue, 10000);
  std::vector<const char *> lines;
  for (int32_t i = 0; i < f.n; ++i) lines.push_back(tpsubm_cue_line(f.id, i, 0));
  tpsubm_detector_fn detect = constant_detector;
  for (auto _ : state) {
    benchmark::DoNotOptimize(detect);
    for (const char *line : lines) benchmark::DoNotOptimize(detect(nullptr, line));
  }
  state.counters["per_line"] = benchmark::Counter(
      f.n, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// 64 finalized, detected tracks in the collection.
struct member {
  int32_t id, index, cues, delay;
  std::string file_hash, parent, lang1, lang2;
};

std::vector<member> make_collection() {
  release_held_track();
  tpsubm_clear();
  tpsubm_set_detector(constant_detector, nullptr);
  std::vector<member> members;
  for (int32_t k = 0; k < TPSUBM_MAX_HANDLES; ++k) {
    // Distinct given indexes: members with equal lines would otherwise
    // derive equal indexes and be refused as duplicates.
    std::string parent = "media-" + std::to_string(k);
    int32_t id = tpsubm_create(parent.c_str(), k + 1, 40 * k, 0, 0, ".srt");
    for (int32_t i = 0; i < 10; ++i) {
      tpsubm_add_cue_line(id, tpsubm_add_cue(id, 1000 * i, 1000 * i + 900),
                          cue_text(i + k).c_str());
    }
    tpsubm_finalize(id);
    tpsubm_detect_languages(id);
    tpsubm_collection_add(id);
    members.push_back({id, tpsubm_index(id), 10, tpsubm_delay_ms(id), tpsubm_file_hash(id), parent,
                       tpsubm_language1(id), tpsubm_language2(id)});
  }
  tpsubm_set_detector(nullptr, nullptr);
  tpsubm_set_primary(members[0].id);
  tpsubm_set_secondary(members[1].id);
  return members;
}

void bm_result_json(benchmark::State &state) {
  std::vector<member> members = make_collection();
  set_limit(state, "yyjson_direct/64_members");
  for (auto _ : state) benchmark::DoNotOptimize(tpsubm_result_json());
  state.counters["members"] = tpsubm_collection_count();
  state.counters["bytes"] = static_cast<double>(std::strlen(tpsubm_result_json()));
  tpsubm_clear();
}

// The same document built and written with the JSON library directly, from
// values already at hand.
void bm_yyjson_direct(benchmark::State &state) {
  std::vector<member> members = make_collection();
  for (auto _ : state) {
    yyjson_mut_doc *doc = yyjson_mut_doc_new(nullptr);
    yyjson_mut_val *root = yyjson_mut_obj(doc);
    yyjson_mut_doc_set_root(doc, root);
    yyjson_mut_obj_add_int(doc, root, "collection_count", static_cast<int64_t>(members.size()));
    yyjson_mut_obj_add_int(doc, root, "primary", members[0].id);
    yyjson_mut_obj_add_int(doc, root, "secondary", members[1].id);
    yyjson_mut_val *items = yyjson_mut_arr(doc);
    yyjson_mut_obj_add_val(doc, root, "items", items);
    for (const member &m : members) {
      yyjson_mut_val *item = yyjson_mut_obj(doc);
      yyjson_mut_obj_add_int(doc, item, "id", m.id);
      yyjson_mut_obj_add_int(doc, item, "index", m.index);
      yyjson_mut_obj_add_str(doc, item, "file_hash", m.file_hash.c_str());
      yyjson_mut_obj_add_strcpy(doc, item, "parent", m.parent.c_str());
      yyjson_mut_obj_add_int(doc, item, "cues", m.cues);
      yyjson_mut_obj_add_str(doc, item, "lang1", m.lang1.c_str());
      yyjson_mut_obj_add_str(doc, item, "lang2", m.lang2.c_str());
      yyjson_mut_obj_add_int(doc, item, "delay_ms", m.delay);
      yyjson_mut_arr_append(items, item);
    }
    char *text = yyjson_mut_write_opts(doc, YYJSON_WRITE_NOFLAG, nullptr, nullptr, nullptr);
    yyjson_mut_doc_free(doc);
    benchmark::DoNotOptimize(text);
    std::free(text);
  }
  tpsubm_clear();
}

// A line of exactly 32 bytes, so that the bytes of text are known.
constexpr char kLine32[] = "We have to leave before the tide";
static_assert(sizeof kLine32 == 33);

// Heap held by a finalized track of n cues with `lines` lines each, beyond
// what the same track without cues holds.
double heap_of_track(int32_t n, int32_t lines) {
  auto held = [lines](int32_t count) {
    bench_heap_track(1);
    int32_t id = tpsubm_create("media-file", 0, 0, 0, 0, nullptr);
    for (int32_t i = 0; i < count; ++i) {
      int32_t position = tpsubm_add_cue(id, 1000 * i, 1000 * i + 900);
      for (int32_t k = 0; k < lines; ++k) tpsubm_add_cue_line(id, position, kLine32);
    }
    tpsubm_finalize(id);
    int64_t bytes = bench_heap_bytes();
    tpsubm_destroy(id);
    bench_heap_track(0);
    return static_cast<double>(bytes);
  };
  return held(n) - held(0);
}

// The cue array doubles from 16 entries: 65536 cues fill it exactly, one
// more is the first cue of a new, half-empty array.
void bm_heap(benchmark::State &state, int32_t n, int32_t lines) {
  if (!bench_heap_counting()) {
    state.SkipWithError("the allocator is not replaced in this build");
    return;
  }
  release_held_track();
  double bytes = 0;
  for (auto _ : state) bytes = heap_of_track(n, lines);
  double text = static_cast<double>(lines) * (sizeof kLine32 - 1);
  state.counters["heap_per_cue"] = bytes / n;
  state.counters["text_per_cue"] = text;
  state.counters["beyond_text"] = bytes / n - text;
}

// What one more line of a cue costs: a cue of three lines against one of
// one line, per line added.
void bm_heap_line(benchmark::State &state, int32_t n) {
  if (!bench_heap_counting()) {
    state.SkipWithError("the allocator is not replaced in this build");
    return;
  }
  release_held_track();
  double per_line = 0;
  for (auto _ : state) per_line = (heap_of_track(n, 3) - heap_of_track(n, 1)) / (2.0 * n);
  double text = sizeof kLine32 - 1;
  state.counters["heap_per_cue"] = per_line;
  state.counters["text_per_cue"] = text;
  state.counters["beyond_text"] = per_line - text;
}

}  // namespace

void register_track() {
  for (bool shuffled : {false, true}) {
    for (int32_t n : kFinalizeSizes) {
      std::string c = order_name(shuffled) + "/" + size_name(n);
      benchmark::RegisterBenchmark(("finalize/" + c).c_str(), bm_finalize, n, shuffled)
          ->Unit(benchmark::kMicrosecond);
      benchmark::RegisterBenchmark(("finalize_limit/" + c).c_str(), bm_finalize_limit, n, shuffled)
          ->Unit(benchmark::kMicrosecond);
    }
  }
  benchmark::RegisterBenchmark("detect_languages/1e4_lines", bm_detect)
      ->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("detector_calls/1e4_lines", bm_detector_calls)
      ->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("result_json/64_members", bm_result_json);
  benchmark::RegisterBenchmark("yyjson_direct/64_members", bm_yyjson_direct);
  benchmark::RegisterBenchmark("heap/one_line_cue/full_array", bm_heap, 65536, 1)->Iterations(1);
  benchmark::RegisterBenchmark("heap/one_line_cue/after_growth", bm_heap, 65537, 1)->Iterations(1);
  benchmark::RegisterBenchmark("heap/extra_line", bm_heap_line, 65536)->Iterations(1);
}
