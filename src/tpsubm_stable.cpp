// The stable text hash: a strict UTF-8 decoder into UTF-16 units and two
// djb2-style lanes (multiply by 33, exclusive or) that take the units in
// pairs. The value is the same on every run, machine and build, so it can
// name a subtitle track. This file holds no global or static data.
#include <cstdlib>

#include "tpsubm.h"
#include "tpsubm_internal.h"

namespace {

constexpr uint32_t kSeed = 5381;
constexpr uint32_t kCombine = 1566083941u;  // 0x5D588B65
constexpr uintptr_t kStackUnits = 256;

inline uint32_t mix(uint32_t h, uint32_t unit) { return ((h << 5) + h) ^ unit; }

inline bool is_continuation(unsigned char b) { return (b & 0xC0) == 0x80; }

// Feeds decoded units into the state's lanes.
void consume_units(tpsubm_hash_state *st, const uint16_t *units, uintptr_t n) {
  uint32_t h1 = st->h1;
  uint32_t h2 = st->h2;
  uintptr_t i = 0;
  if (n > 0 && st->has_pending) {
    h1 = mix(h1, st->pending_unit);
    h2 = mix(h2, units[0]);
    st->has_pending = 0;
    i = 1;
  }
  for (; i + 1 < n; i += 2) {
    h1 = mix(h1, units[i]);
    h2 = mix(h2, units[i + 1]);
  }
  if (i < n) {
    st->pending_unit = units[i];
    st->has_pending = 1;
  }
  st->h1 = h1;
  st->h2 = h2;
}

}  // namespace

int32_t utf8_to_utf16(const char *text, uint16_t *units, uintptr_t capacity, uintptr_t *count) {
  const unsigned char *p = reinterpret_cast<const unsigned char *>(text);
  uintptr_t n = 0;
  for (;;) {
    unsigned char b0 = *p;
    if (b0 == 0) break;
    if (b0 < 0x80) {
      // Runs of ASCII are the common case in subtitles: take them in one go.
      if (units == nullptr) {
        do {
          ++n;
          ++p;
        } while (*p != 0 && *p < 0x80);
      } else {
        do {
          if (n >= capacity) return -3;
          units[n++] = *p++;
        } while (*p != 0 && *p < 0x80);
      }
      continue;
    }
    uint32_t cp;
    int width;
    if ((b0 & 0xE0) == 0xC0) {
      if (!is_continuation(p[1])) return -1;
      cp = (static_cast<uint32_t>(b0 & 0x1F) << 6) | (p[1] & 0x3F);
      if (cp <= 0x7F) return -1;
      width = 2;
    } else if ((b0 & 0xF0) == 0xE0) {
      if (!is_continuation(p[1])) return -1;
      if (!is_continuation(p[2])) return -1;
      cp = (static_cast<uint32_t>(b0 & 0x0F) << 12) | (static_cast<uint32_t>(p[1] & 0x3F) << 6) |
           (p[2] & 0x3F);
      if (cp <= 0x7FF || (cp >= 0xD800 && cp <= 0xDFFF)) return -1;
      width = 3;
    } else if ((b0 & 0xF8) == 0xF0) {
      if (!is_continuation(p[1])) return -1;
      if (!is_continuation(p[2])) return -1;
      if (!is_continuation(p[3])) return -1;
      cp = (static_cast<uint32_t>(b0 & 0x07) << 18) | (static_cast<uint32_t>(p[1] & 0x3F) << 12) |
           (static_cast<uint32_t>(p[2] & 0x3F) << 6) | (p[3] & 0x3F);
      uint32_t v = cp - 0x10000u;  // wraps for overlong forms, refused below
      if (v > 0xFFFFFu) return -1;
      if (units != nullptr) {
        // Both halves of the pair need room; neither is written alone.
        if (n + 1 >= capacity) return -3;
        units[n] = static_cast<uint16_t>(0xD800u + (v >> 10));
        units[n + 1] = static_cast<uint16_t>(0xDC00u + (v & 0x3FFu));
      }
      n += 2;
      p += 4;
      continue;
    } else {
      return -1;
    }
    if (units != nullptr) {
      if (n >= capacity) return -3;
      units[n] = static_cast<uint16_t>(cp);
    }
    ++n;
    p += width;
  }
  *count = n;
  return 0;
}

void tpsubm_hash_state_init(tpsubm_hash_state *st) {
  st->h1 = kSeed;
  st->h2 = kSeed;
  st->has_pending = 0;
  st->pending_unit = 0;
}

int32_t tpsubm_hash_feed_utf8(tpsubm_hash_state *st, const char *text) {
  if (st == nullptr || text == nullptr) return -1;
  // Validate and count the whole text before consuming anything, so that a
  // refused text leaves the state untouched.
  uintptr_t count = 0;
  int32_t rc = utf8_to_utf16(text, nullptr, 0, &count);
  if (rc != 0) return rc;
  if (count == 0) return 0;

  uint16_t stack_units[kStackUnits];
  uint16_t *units = stack_units;
  if (count > kStackUnits) {
    if (count > SIZE_MAX / sizeof(uint16_t)) return -3;
    units = static_cast<uint16_t *>(std::malloc(count * sizeof(uint16_t)));
    if (units == nullptr) return -3;
  }
  uintptr_t stored = 0;
  rc = utf8_to_utf16(text, units, count, &stored);
  if (rc == 0) consume_units(st, units, stored);
  if (units != stack_units) std::free(units);
  return rc;
}

int32_t tpsubm_hash_state_finish(tpsubm_hash_state *st) {
  if (st->has_pending) {
    st->h1 = mix(st->h1, st->pending_unit);
    st->has_pending = 0;
  }
  uint32_t r = st->h1 + st->h2 * kCombine;
  // The absolute value of the signed reading, with -2^31 mapped to 0; done on
  // the unsigned value so that no signed overflow can occur.
  if (r == 0x80000000u) return 0;
  if (r & 0x80000000u) r = 0u - r;
  return static_cast<int32_t>(r);
}

int32_t tpsubm_stable_hash_utf8_impl(const char *text, int32_t *out) {
  if (text == nullptr || out == nullptr) return -1;
  tpsubm_hash_state st;
  tpsubm_hash_state_init(&st);
  if (tpsubm_hash_feed_utf8(&st, text) != 0) return -2;
  *out = tpsubm_hash_state_finish(&st);
  return 0;
}

extern "C" TPSUBM_API int32_t tpsubm_stable_hash_utf8(const char *text, int32_t *out) {
  if (out == nullptr) return TPSUBM_INVALID;
  int32_t value = 0;
  if (tpsubm_stable_hash_utf8_impl(text != nullptr ? text : "", &value) != 0) {
    return TPSUBM_INVALID;
  }
  *out = value;
  return TPSUBM_OK;
}
