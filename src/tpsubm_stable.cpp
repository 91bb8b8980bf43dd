// The stable text hash: a strict UTF-8 decoder into UTF-16 units and two
// djb2-style lanes (multiply by 33, exclusive or) that take the units in
// pairs. The value is the same on every run, machine and build, so it can
// name a subtitle track. This file holds no global or static data.
#include <bit>
#include <cstring>

#include "tpsubm.h"
#include "tpsubm_internal.h"

namespace {

constexpr uint32_t kSeed = 5381;
constexpr uint32_t kCombine = 1566083941u;  // 0x5D588B65

inline uint32_t mix(uint32_t h, uint32_t unit) {
  return ((h << 5) + h) ^ unit;
}

inline bool is_continuation(unsigned char b) {
  return (b & 0xC0) == 0x80;
}

// A byte from 0x01 to 0x7F: one unit of its own, and not the terminator.
inline bool is_ascii_unit(unsigned char b) {
  return static_cast<unsigned char>(b - 1) < 0x7F;
}

// The two lanes of a feed in progress, kept in locals so that a refused text
// never reaches the caller's state. Each unit is mixed at once into the lane
// whose turn it is, and the lanes then trade places: no test of the
// position's parity on the way. An even unit that is still waiting for its
// partner at the end is taken out again (mixing is invertible) and left
// pending, as the state records it.
struct lanes {
  uint32_t next;   // the lane of the next unit
  uint32_t other;  // the lane of the unit before
  uint32_t last;   // the unit taken last
  uint32_t count;  // units taken, only its parity matters

  void take(uint32_t unit) {
    uint32_t mixed = mix(next, unit);
    next = other;
    other = mixed;
    last = unit;
    ++count;
  }
  // Two units at once; the lanes end where they began.
  void take_pair(uint32_t first, uint32_t second) {
    next = mix(next, first);
    other = mix(other, second);
    last = second;
    count += 2;
  }
};

// The value of a three-byte sequence is neither overlong nor a surrogate.
inline bool is_three_byte_unit(uint32_t cp) {
  return cp > 0x7FF && (cp < 0xD800 || cp > 0xDFFF);
}

// The low six bytes of w (read on a little-endian machine) are two three-byte sequences:
// lead bytes 1110xxxx, continuation bytes 10xxxxxx.
inline bool is_three_byte_pair(uint64_t w) {
  return (w & 0xC0C0F0C0C0F0u) == 0x8080E08080E0u;
}

constexpr uint32_t kInverse33 = 0x3E0F83E1u;  // 33 * kInverse33 == 1 modulo 2^32

inline uint32_t unmix(uint32_t h, uint32_t unit) {
  return (h ^ unit) * kInverse33;
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
  // Decoding and mixing go together in one pass over the text, with the same
  // rules as utf8_to_utf16; the state is written only once the whole text
  // has proved well-formed, so a refused text leaves it untouched and no
  // buffer of units is ever needed.
  const unsigned char *p = reinterpret_cast<const unsigned char *>(text);
  const unsigned char *end = p + std::strlen(text);
  lanes l{st->h1, st->h2, 0, 0};
  if (st->has_pending) l.take(st->pending_unit);
  for (;;) {
    // Runs of ASCII, most subtitle text, and of three-byte sequences, most
    // CJK text, each in a loop of its own.
    while (is_ascii_unit(p[0])) {
      if (!is_ascii_unit(p[1])) {
        l.take(p[0]);
        p += 1;
        break;
      }
      l.take_pair(p[0], p[1]);
      p += 2;
    }
    // Two three-byte sequences at a time, read as one word while eight bytes
    // of the text are left: one test of all six bytes' high bits.
    while (std::endian::native == std::endian::little && end - p >= 8) {
      uint64_t w;
      std::memcpy(&w, p, sizeof w);
      if (!is_three_byte_pair(w)) break;
      uint32_t first =
          static_cast<uint32_t>(((w & 0x0F) << 12) | ((w >> 2) & 0xFC0) | ((w >> 16) & 0x3F));
      uint32_t second =
          static_cast<uint32_t>(((w >> 12) & 0xF000) | ((w >> 26) & 0xFC0) | ((w >> 40) & 0x3F));
      if (!is_three_byte_unit(first) || !is_three_byte_unit(second)) return -1;
      l.take_pair(first, second);
      p += 6;
    }
    while ((p[0] & 0xF0) == 0xE0) {
      if (!is_continuation(p[1])) return -1;
      if (!is_continuation(p[2])) return -1;
      uint32_t cp = (static_cast<uint32_t>(p[0] & 0x0F) << 12) |
                    (static_cast<uint32_t>(p[1] & 0x3F) << 6) | (p[2] & 0x3F);
      if (!is_three_byte_unit(cp)) return -1;
      l.take(cp);
      p += 3;
    }
    unsigned char b0 = *p;
    if (b0 == 0) break;
    if (b0 < 0x80 || (b0 & 0xF0) == 0xE0) continue;  // a run of its own kind follows
    if ((b0 & 0xE0) == 0xC0) {
      if (!is_continuation(p[1])) return -1;
      uint32_t cp = (static_cast<uint32_t>(b0 & 0x1F) << 6) | (p[1] & 0x3F);
      if (cp <= 0x7F) return -1;
      l.take(cp);
      p += 2;
    } else if ((b0 & 0xF8) == 0xF0) {
      if (!is_continuation(p[1])) return -1;
      if (!is_continuation(p[2])) return -1;
      if (!is_continuation(p[3])) return -1;
      uint32_t cp = (static_cast<uint32_t>(b0 & 0x07) << 18) |
                    (static_cast<uint32_t>(p[1] & 0x3F) << 12) |
                    (static_cast<uint32_t>(p[2] & 0x3F) << 6) | (p[3] & 0x3F);
      uint32_t v = cp - 0x10000u;  // wraps for overlong forms, refused below
      if (v > 0xFFFFFu) return -1;
      l.take_pair(0xD800u + (v >> 10), 0xDC00u + (v & 0x3FFu));
      p += 4;
    } else {
      return -1;
    }
  }
  if (l.count % 2 == 0) {
    st->h1 = l.next;
    st->h2 = l.other;
    st->has_pending = 0;
  } else {
    st->h1 = unmix(l.other, l.last);
    st->h2 = l.next;
    st->has_pending = 1;
    st->pending_unit = static_cast<uint16_t>(l.last);
  }
  return 0;
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
