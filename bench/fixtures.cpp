#include "fixtures.h"

#include <algorithm>
#include <random>

#include "tpsubm.h"

namespace {

constexpr const char *kLines[] = {
    "Yes.",
    "Where are you going?",
    "I told you we should never have come down here.",
    "Hold on, I'll be right there.",
    "No!",
    "We have to leave before the tide comes in.",
};

std::vector<timed> make_times(shape s, int32_t n) {
  std::vector<timed> t(static_cast<size_t>(n));
  switch (s) {
    case shape::sequential:
      for (int32_t i = 0; i < n; ++i) t[i] = {2000 * i, 2000 * i + 1500};
      break;
    case shape::dialogue:
      for (int32_t i = 0; i < n; ++i) t[i] = {700 * i, 700 * i + 2000};
      break;
    case shape::long_cue:
      for (int32_t i = 1; i < n; ++i) t[i] = {2000 * (i - 1), 2000 * (i - 1) + 1500};
      t[0] = {0, n > 1 ? t[n - 1].end : 1500};
      break;
  }
  return t;
}

track_fixture g_held;
bool g_held_shuffled = false;

}  // namespace

const char *shape_name(shape s) {
  switch (s) {
    case shape::sequential:
      return "sequential";
    case shape::dialogue:
      return "dialogue";
    case shape::long_cue:
      return "long_cue";
  }
  return "?";
}

std::string cue_text(int32_t i) {
  return kLines[static_cast<size_t>(i) % std::size(kLines)];
}

void release_held_track() {
  if (g_held.id >= 0) tpsubm_destroy(g_held.id);
  g_held = track_fixture{};
}

const track_fixture &held_track(shape s, int32_t n, bool shuffled) {
  if (g_held.id >= 0 && g_held.kind == s && g_held.n == n && g_held_shuffled == shuffled) {
    return g_held;
  }
  release_held_track();
  track_fixture f;
  f.kind = s;
  f.n = n;
  f.cues = make_times(s, n);
  if (shuffled) {
    std::mt19937 rng(7);
    std::shuffle(f.cues.begin(), f.cues.end(), rng);
  }
  f.id = tpsubm_create("media-file", 0, 0, 0, 0, nullptr);
  for (int32_t i = 0; i < n; ++i) {
    int32_t position = tpsubm_add_cue(f.id, f.cues[i].start, f.cues[i].end);
    tpsubm_add_cue_line(f.id, position, cue_text(i).c_str());
  }
  tpsubm_finalize(f.id);
  f.sorted_starts.reserve(f.cues.size());
  for (const timed &c : f.cues) {
    f.end_ms = std::max(f.end_ms, c.end);
    f.sorted_starts.push_back(c.start);
  }
  std::sort(f.sorted_starts.begin(), f.sorted_starts.end());
  g_held = std::move(f);
  g_held_shuffled = shuffled;
  return g_held;
}

time_walk::time_walk(bool random, int32_t end_ms) : random_(random), end_ms_(end_ms) {
  if (!random) return;
  std::mt19937 rng(42);
  std::uniform_int_distribution<int32_t> pick(0, end_ms - 1);
  table_.resize(kMask + 1);
  for (int32_t &t : table_) t = pick(rng);
}

void bare_hash::feed(const uint16_t *units, size_t n) {
  // Two independent chains of scalar operations. Left alone, the compiler
  // packs both lanes into one vector register, which lengthens the chain;
  // the empty asm keeps them in general registers and costs nothing.
  uint32_t a = h1;
  uint32_t b = h2;
  size_t i = 0;
  if (n > 0 && pending) {
    a = ((a << 5) + a) ^ pending_unit;
    b = ((b << 5) + b) ^ units[0];
    pending = false;
    i = 1;
  }
  for (; i + 1 < n; i += 2) {
    a = ((a << 5) + a) ^ units[i];
    b = ((b << 5) + b) ^ units[i + 1];
    asm("" : "+r"(a), "+r"(b));
  }
  if (i < n) {
    pending_unit = units[i];
    pending = true;
  }
  h1 = a;
  h2 = b;
}

int32_t bare_hash::finish() {
  if (pending) h1 = ((h1 << 5) + h1) ^ pending_unit;
  uint32_t r = h1 + h2 * 1566083941u;
  if (r == 0x80000000u) return 0;
  if (r & 0x80000000u) r = 0u - r;
  return static_cast<int32_t>(r);
}

std::vector<uint16_t> decode_utf16(const std::string &text) {
  std::vector<uint16_t> units;
  const auto *p = reinterpret_cast<const unsigned char *>(text.data());
  const auto *end = p + text.size();
  while (p < end) {
    uint32_t cp;
    if (*p < 0x80) {
      cp = *p++;
    } else if (*p < 0xE0) {
      cp = (p[0] & 0x1Fu) << 6 | (p[1] & 0x3Fu);
      p += 2;
    } else if (*p < 0xF0) {
      cp = (p[0] & 0x0Fu) << 12 | (p[1] & 0x3Fu) << 6 | (p[2] & 0x3Fu);
      p += 3;
    } else {
      cp = (p[0] & 0x07u) << 18 | (p[1] & 0x3Fu) << 12 | (p[2] & 0x3Fu) << 6 | (p[3] & 0x3Fu);
      p += 4;
    }
    if (cp >= 0x10000) {
      units.push_back(static_cast<uint16_t>(0xD800 + ((cp - 0x10000) >> 10)));
      units.push_back(static_cast<uint16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
    } else {
      units.push_back(static_cast<uint16_t>(cp));
    }
  }
  return units;
}

void set_limit(benchmark::State &state, const std::string &limit_name) {
  state.SetLabel("limit=" + limit_name);
}

std::string size_name(int64_t n) {
  int e = 0;
  int64_t v = n;
  while (v >= 10 && v % 10 == 0) {
    v /= 10;
    ++e;
  }
  if (v == 1 && e >= 3) return "1e" + std::to_string(e);
  return std::to_string(n);
}
