// Text work: the stable hash against two limits, the bare two-lane loop over
// units that are already decoded and, when the benchmark is built with
// simdutf, that loop after simdutf's validating UTF-8 to UTF-16 conversion;
// and markup cleaning against the floor of the same work (finding the markup
// bytes and making the owned copies of the parts).
#include <cstdlib>
#include <cstring>

#ifdef TPSUBM_BENCH_SIMDUTF
#include <simdutf.h>
#endif

#include "alloc_count.h"
#include "fixtures.h"
#include "tpsubm.h"

namespace {

struct sample {
  const char *name;
  const char *text;  // repeated to the wanted size
};

constexpr sample kSamples[] = {
    {"ascii", "The quick brown fox jumps over the lazy dog. "},
    // French and German: mostly one byte, some two.
    {"latin",
     "O\xC3\xB9 est le caf\xC3\xA9 pr\xC3\xA8s de la gare? \xC3\x87"
     "a d\xC3\xA9pend. "
     "Sch\xC3\xB6ne Gr\xC3\xBC\xC3\x9F"
     "e! "},
    // Russian: two-byte letters between one-byte spaces and punctuation.
    {"cyrillic",
     "\xD0\xA1\xD1\x8A\xD0\xB5\xD1\x88\xD1\x8C \xD0\xB6\xD0\xB5 \xD0\xB5\xD1\x89\xD1\x91 "
     "\xD1\x8D\xD1\x82\xD0\xB8\xD1\x85 \xD0\xBC\xD1\x8F\xD0\xB3\xD0\xBA\xD0\xB8\xD1\x85 "
     "\xD1\x84\xD1\x80\xD0\xB0\xD0\xBD\xD1\x86\xD1\x83\xD0\xB7\xD1\x81\xD0\xBA\xD0\xB8\xD1\x85 "
     "\xD0\xB1\xD1\x83\xD0\xBB\xD0\xBE\xD0\xBA, \xD0\xB4\xD0\xB0 "
     "\xD0\xB2\xD1\x8B\xD0\xBF\xD0\xB5\xD0\xB9 "
     "\xD1\x87\xD0\xB0\xD1\x8E. "},
    // Japanese and Chinese: three bytes each, no spaces.
    {"cjk",
     "\xE5\xAD\x97\xE5\xB9\x95\xE3\x81\xAF\xE6\x98\xA0\xE5\x83\x8F\xE3\x81\xAB\xE5\x90\x88"
     "\xE3\x82\x8F\xE3\x81\x9B\xE3\x81\xA6\xE8\xA1\xA8\xE7\xA4\xBA\xE3\x81\x99\xE3\x82\x8B"
     "\xE3\x80\x82\xE6\x88\x91\xE4\xBB\xAC\xE6\x98\x8E\xE5\xA4\xA9\xE8\xA7\x81\xE3\x80\x82"},
    // Four bytes each, two units each.
    {"emoji",
     "\xF0\x9F\x98\x80\xF0\x9F\x8E\xAC\xF0\x9F\x8D\xBF\xF0\x9F\x8E\xB5\xF0\x9F\x8C\x8A"
     "\xF0\x9F\x9A\x80"},
};

constexpr size_t kHashSizes[] = {16, 256, 4096, 1u << 20};

// The sample repeated and cut at a character boundary to at most size bytes.
std::string sized_text(const char *unit, size_t size) {
  std::string s;
  while (s.size() < size + 4) s += unit;
  size_t cut = size;
  while (cut > 0 && (static_cast<unsigned char>(s[cut]) & 0xC0) == 0x80) --cut;
  s.resize(cut);
  return s;
}

std::string bytes_name(size_t n) {
  if (n >= (1u << 20)) return std::to_string(n >> 20) + "MiB";
  if (n >= 1024) return std::to_string(n >> 10) + "KiB";
  return std::to_string(n) + "B";
}

void bm_hash(benchmark::State &state, const std::string &text, const std::string &limit) {
  std::vector<uint16_t> units = decode_utf16(text);
  bare_hash bare;
  bare.feed(units.data(), units.size());
  int32_t value = -1;
  if (tpsubm_stable_hash_utf8(text.c_str(), &value) != TPSUBM_OK || value != bare.finish()) {
    state.SkipWithError("the bare loop and the library disagree");
    return;
  }
  set_limit(state, limit);
  uint64_t before = bench_alloc_calls();
  for (auto _ : state) {
    tpsubm_stable_hash_utf8(text.c_str(), &value);
    benchmark::DoNotOptimize(value);
  }
  state.counters["allocs"] =
      static_cast<double>(bench_alloc_calls() - before) / static_cast<double>(state.iterations());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void bm_hash_units(benchmark::State &state, const std::string &text) {
  std::vector<uint16_t> units = decode_utf16(text);
  for (auto _ : state) {
    bare_hash h;
    h.feed(units.data(), units.size());
    benchmark::DoNotOptimize(h.finish());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

#ifdef TPSUBM_BENCH_SIMDUTF
// simdutf's validating conversion into a buffer allocated beforehand, then
// the bare loop over what it wrote: the least a hash that decodes its text
// can cost.
void bm_simdutf_units(benchmark::State &state, const std::string &text) {
  std::vector<char16_t> buffer(simdutf::utf16_length_from_utf8(text.data(), text.size()) + 1);
  size_t n = simdutf::convert_utf8_to_utf16le(text.data(), text.size(), buffer.data());
  bare_hash check;
  check.feed(reinterpret_cast<const uint16_t *>(buffer.data()), n);
  int32_t value = -1;
  if ((n == 0 && !text.empty()) || tpsubm_stable_hash_utf8(text.c_str(), &value) != TPSUBM_OK ||
      value != check.finish()) {
    state.SkipWithError("simdutf and the library disagree");
    return;
  }
  for (auto _ : state) {
    n = simdutf::convert_utf8_to_utf16le(text.data(), text.size(), buffer.data());
    bare_hash h;
    h.feed(reinterpret_cast<const uint16_t *>(buffer.data()), n);
    benchmark::DoNotOptimize(h.finish());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
#endif

struct line_sample {
  const char *name;
  const char *line;
};

constexpr line_sample kLines[] = {
    {"plain", "I told you we should never have come down here."},
    {"markup", "{\\an8}{\\i1}I told you{\\i0} we should\\Nnever have come down here."},
    {"karaoke",
     "{\\k25}Twin{\\k20}kle, {\\k30}twin{\\k25}kle, {\\k40}lit{\\k35}tle {\\k50}star, "
     "{\\k30}how {\\k25}I {\\k40}won{\\k35}der {\\k30}what {\\k25}you {\\k60}are"},
};

void bm_clean(benchmark::State &state, const char *line, const std::string &limit) {
  set_limit(state, limit);
  uint64_t before = bench_alloc_calls();
  for (auto _ : state) benchmark::DoNotOptimize(tpsubm_clean_line(line));
  state.counters["allocs"] =
      static_cast<double>(bench_alloc_calls() - before) / static_cast<double>(state.iterations());
  state.counters["parts"] = tpsubm_clean_part_count();
}

// Every "{" and every backslash of the line found with memchr, then one
// malloc, memcpy and free per part: what cleaning cannot avoid doing.
void bm_clean_floor(benchmark::State &state, const char *line) {
  tpsubm_clean_line(line);
  std::vector<std::string> parts;
  for (int32_t i = 0; i < tpsubm_clean_part_count(); ++i) parts.emplace_back(tpsubm_clean_part(i));
  const size_t len = std::strlen(line);
  const char *end = line + len;
  for (auto _ : state) {
    size_t found = 0;
    for (int b : {'{', '\\'}) {
      for (const char *p = line; (p = static_cast<const char *>(std::memchr(p, b, end - p)));) {
        ++p;
        ++found;
      }
    }
    benchmark::DoNotOptimize(found);
    for (const std::string &part : parts) {
      char *copy = static_cast<char *>(std::malloc(part.size() + 1));
      std::memcpy(copy, part.c_str(), part.size() + 1);
      benchmark::DoNotOptimize(copy);
      std::free(copy);
    }
  }
}

}  // namespace

void register_text() {
  for (const sample &s : kSamples) {
    for (size_t size : kHashSizes) {
      std::string c = std::string(s.name) + "/" + bytes_name(size);
      std::string text = sized_text(s.text, size);
#ifdef TPSUBM_BENCH_SIMDUTF
      // The first limit is the one the ratio is taken to; the table shows both.
      benchmark::RegisterBenchmark(("stable_hash_utf8/" + c).c_str(), bm_hash, text,
                                   "simdutf_units/" + c + ",hash_units/" + c);
      benchmark::RegisterBenchmark(("simdutf_units/" + c).c_str(), bm_simdutf_units, text);
#else
      benchmark::RegisterBenchmark(("stable_hash_utf8/" + c).c_str(), bm_hash, text,
                                   "hash_units/" + c);
#endif
      benchmark::RegisterBenchmark(("hash_units/" + c).c_str(), bm_hash_units, text);
    }
  }
  for (const line_sample &l : kLines) {
    std::string c = l.name;
    benchmark::RegisterBenchmark(("clean_line/" + c).c_str(), bm_clean, l.line, "clean_floor/" + c);
    benchmark::RegisterBenchmark(("clean_floor/" + c).c_str(), bm_clean_floor, l.line);
  }
}
