// The stable text hash: a strict UTF-8 decoder into UTF-16 units and two
// djb2-style lanes (multiply by 33, exclusive or) that take the units in
// pairs. The value is the same on every run, machine and build, so it can
// name a subtitle track. This file holds no global or static data.
//
// The decoder comes in three forms that must agree on every value and every
// refusal: a plain one that takes one character per step, one that takes
// runs of one kind of sequence a word at a time, and, on x86-64 processors
// with AVX-512 (BW, VL, VBMI and VBMI2, asked of glibc at run time), one that
// decodes blocks of up to 64 bytes per step. A feed runs the fastest one the
// processor has; the tests run all of them on every machine that has them.
#include <bit>
#include <cstddef>
#include <cstring>

#if defined(__GNUC__) || defined(__clang__)
// The decoding steps are inlined into each decoder, so that the lanes stay
// in registers instead of going through memory at every unit.
#define TPSUBM_HASH_STEP __attribute__((always_inline)) inline
#else
#define TPSUBM_HASH_STEP inline
#endif

// The vector decoder needs GCC or Clang on x86-64, and glibc's record of
// what the processor can do (<sys/platform/x86.h>): the dynamic loader fills
// it in before any library runs, so asking it runs no detection code of this
// library's own, at load or later.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__)) && \
    __has_include(<sys/platform/x86.h>)
#define TPSUBM_HASH_X86 1
#include <immintrin.h>
#if defined(__clang__)
// The header's inline functions are written in C, with _Bool.
#define _Bool bool  // NOLINT(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
#include <sys/platform/x86.h>
#undef _Bool
#else
#include <sys/platform/x86.h>
#endif
#else
#define TPSUBM_HASH_X86 0
#endif

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

constexpr uint32_t kInverse33 = 0x3E0F83E1u;  // 33 * kInverse33 == 1 modulo 2^32

inline uint32_t unmix(uint32_t h, uint32_t unit) {
  return (h ^ unit) * kInverse33;
}

// Every decoder below reads the text up to end, the position of its
// terminating zero byte, and refuses it (nullptr or -1) at the first
// sequence that is not well-formed:
//   0x01-0x7F      one unit, the byte itself;
//   0xC0-0xDF + 1  one unit; refused when overlong (0x7F or less);
//   0xE0-0xEF + 2  one unit; refused when overlong (0x7FF or less) or a surrogate;
//   0xF0-0xF7 + 3  a surrogate pair; refused below 0x10000 or above 0x10FFFF;
//   any other lead byte is refused, as is a lead without its continuation bytes.
// Continuation bytes are tested in order and the first that fails ends the
// test, so a sequence cut short meets the terminator (never a continuation
// byte) and nothing past it is read. The faster decoders read whole words
// only where the word lies before end.

// The plain decoder: one character per step.
TPSUBM_HASH_STEP const unsigned char *take_char(lanes &l, const unsigned char *p) {
  unsigned char b0 = p[0];
  if (b0 < 0x80) {
    l.take(b0);
    return p + 1;
  }
  if ((b0 & 0xE0) == 0xC0) {
    if (!is_continuation(p[1])) return nullptr;
    uint32_t cp = (static_cast<uint32_t>(b0 & 0x1F) << 6) | (p[1] & 0x3F);
    if (cp <= 0x7F) return nullptr;
    l.take(cp);
    return p + 2;
  }
  if ((b0 & 0xF0) == 0xE0) {
    if (!is_continuation(p[1])) return nullptr;
    if (!is_continuation(p[2])) return nullptr;
    uint32_t cp = (static_cast<uint32_t>(b0 & 0x0F) << 12) |
                  (static_cast<uint32_t>(p[1] & 0x3F) << 6) | (p[2] & 0x3F);
    if (cp <= 0x7FF || (cp >= 0xD800 && cp <= 0xDFFF)) return nullptr;
    l.take(cp);
    return p + 3;
  }
  if ((b0 & 0xF8) == 0xF0) {
    if (!is_continuation(p[1])) return nullptr;
    if (!is_continuation(p[2])) return nullptr;
    if (!is_continuation(p[3])) return nullptr;
    uint32_t cp = (static_cast<uint32_t>(b0 & 0x07) << 18) |
                  (static_cast<uint32_t>(p[1] & 0x3F) << 12) |
                  (static_cast<uint32_t>(p[2] & 0x3F) << 6) | (p[3] & 0x3F);
    uint32_t v = cp - 0x10000u;  // wraps for overlong forms, refused below
    if (v > 0xFFFFFu) return nullptr;
    l.take_pair(0xD800u + (v >> 10), 0xDC00u + (v & 0x3FFu));
    return p + 4;
  }
  return nullptr;
}

int32_t decode_plain(lanes &out, const unsigned char *p, const unsigned char *end) {
  lanes l = out;
  while (p < end) {
    p = take_char(l, p);
    if (p == nullptr) return -1;
  }
  out = l;
  return 0;
}

constexpr bool kLittleEndian = std::endian::native == std::endian::little;

inline uint64_t load64(const unsigned char *p) {
  uint64_t w;
  std::memcpy(&w, p, sizeof w);
  return w;
}

inline uint32_t load32(const unsigned char *p) {
  uint32_t w;
  std::memcpy(&w, p, sizeof w);
  return w;
}

// A run of one kind of sequence from p, whose lead byte is of that kind:
// whole words at a time while they hold only that kind (on a little-endian
// machine, where the low byte of a word is the first of the text), then one
// character at a time while the kind lasts. Each takes at least one
// character or refuses the text.

// Eight ASCII bytes at a time while the words hold nothing else.
TPSUBM_HASH_STEP const unsigned char *ascii_words(lanes &l, const unsigned char *p,
                                                  const unsigned char *end) {
  if constexpr (kLittleEndian) {
    while (end - p >= 8) {
      uint64_t w = load64(p);
      if ((w & 0x8080808080808080u) != 0) break;
      l.take_pair(w & 0xFF, (w >> 8) & 0xFF);
      l.take_pair((w >> 16) & 0xFF, (w >> 24) & 0xFF);
      l.take_pair((w >> 32) & 0xFF, (w >> 40) & 0xFF);
      l.take_pair((w >> 48) & 0xFF, static_cast<uint32_t>(w >> 56));
      p += 8;
    }
  }
  return p;
}

TPSUBM_HASH_STEP const unsigned char *ascii_run(lanes &l, const unsigned char *p,
                                                const unsigned char *end) {
  p = ascii_words(l, p, end);
  for (;;) {
    while (end - p >= 2 && p[0] < 0x80 && p[1] < 0x80) {
      l.take_pair(p[0], p[1]);
      p += 2;
    }
    if (p < end && p[0] < 0x80) {
      l.take(p[0]);
      ++p;
    }
    // A two-byte sequence among ASCII (a Latin letter) does not end the run:
    // going back to the choice of run for each one costs more than it.
    if (p >= end || (p[0] & 0xE0) != 0xC0) return p;
    p = take_char(l, p);
    if (p == nullptr) return nullptr;
  }
}

// Four two-byte sequences in one word: leads 110xxxxx at the even bytes,
// continuation bytes at the odd ones.
inline bool is_two_byte_quad(uint64_t w) {
  return (w & 0xC0E0C0E0C0E0C0E0u) == 0x80C080C080C080C0u;
}

// None of the four leads is 0xC0 or 0xC1 (the overlong forms): bits 1 to 4
// of each are not all zero. Adding 0x7E to those bits carries into bit 7
// exactly when they are not zero, and never into the next lead's bits.
inline bool two_byte_quad_in_range(uint64_t w) {
  constexpr uint64_t kBits = 0x001E001E001E001Eu;
  constexpr uint64_t kCarry = 0x0080008000800080u;
  return (((w & kBits) + 0x007E007E007E007Eu) & kCarry) == kCarry;
}

inline uint32_t two_byte_unit(uint64_t pair) {
  return static_cast<uint32_t>(((pair & 0x1F) << 6) | ((pair >> 8) & 0x3F));
}

TPSUBM_HASH_STEP const unsigned char *two_byte_run(lanes &l, const unsigned char *p,
                                                   const unsigned char *end) {
  if constexpr (kLittleEndian) {
    while (end - p >= 8) {
      uint64_t w = load64(p);
      if (!is_two_byte_quad(w)) break;
      if (!two_byte_quad_in_range(w)) return nullptr;
      l.take_pair(two_byte_unit(w), two_byte_unit(w >> 16));
      l.take_pair(two_byte_unit(w >> 32), two_byte_unit(w >> 48));
      p += 8;
    }
  }
  while (p < end && (p[0] & 0xE0) == 0xC0) {
    p = take_char(l, p);
    if (p == nullptr) return nullptr;
  }
  return p;
}

// The low six bytes of w are two three-byte sequences: lead bytes 1110xxxx,
// continuation bytes 10xxxxxx.
inline bool is_three_byte_pair(uint64_t w) {
  return (w & 0xC0C0F0C0C0F0u) == 0x8080E08080E0u;
}

// The value of a three-byte sequence is neither overlong nor a surrogate.
inline bool is_three_byte_unit(uint32_t cp) {
  return cp > 0x7FF && (cp < 0xD800 || cp > 0xDFFF);
}

TPSUBM_HASH_STEP const unsigned char *three_byte_run(lanes &l, const unsigned char *p,
                                                     const unsigned char *end) {
  if constexpr (kLittleEndian) {
    while (end - p >= 8) {
      uint64_t w = load64(p);
      if (!is_three_byte_pair(w)) break;
      uint32_t first =
          static_cast<uint32_t>(((w & 0x0F) << 12) | ((w >> 2) & 0xFC0) | ((w >> 16) & 0x3F));
      uint32_t second =
          static_cast<uint32_t>(((w >> 12) & 0xF000) | ((w >> 26) & 0xFC0) | ((w >> 40) & 0x3F));
      if (!is_three_byte_unit(first) || !is_three_byte_unit(second)) return nullptr;
      l.take_pair(first, second);
      p += 6;
    }
  }
  while (p < end && (p[0] & 0xF0) == 0xE0) {
    p = take_char(l, p);
    if (p == nullptr) return nullptr;
  }
  return p;
}

// One four-byte sequence in the word: lead 11110xxx, three continuation bytes.
inline bool is_four_byte(uint32_t w) {
  return (w & 0xC0C0C0F8u) == 0x808080F0u;
}

TPSUBM_HASH_STEP const unsigned char *four_byte_run(lanes &l, const unsigned char *p,
                                                    const unsigned char *end) {
  if constexpr (kLittleEndian) {
    while (end - p >= 4) {
      uint32_t w = load32(p);
      if (!is_four_byte(w)) break;
      uint32_t cp =
          ((w & 0x07) << 18) | ((w & 0x3F00) << 4) | ((w >> 10) & 0xFC0) | ((w >> 24) & 0x3F);
      uint32_t v = cp - 0x10000u;  // wraps for overlong forms, refused below
      if (v > 0xFFFFFu) return nullptr;
      l.take_pair(0xD800u + (v >> 10), 0xDC00u + (v & 0x3FFu));
      p += 4;
    }
  }
  while (p < end && (p[0] & 0xF8) == 0xF0) {
    p = take_char(l, p);
    if (p == nullptr) return nullptr;
  }
  return p;
}

// One run of whatever kind starts at p (p < end).
TPSUBM_HASH_STEP const unsigned char *take_run(lanes &l, const unsigned char *p,
                                               const unsigned char *end) {
  unsigned char b0 = p[0];
  if (b0 < 0x80) return ascii_run(l, p, end);
  if ((b0 & 0xE0) == 0xC0) return two_byte_run(l, p, end);
  if ((b0 & 0xF0) == 0xE0) return three_byte_run(l, p, end);
  if ((b0 & 0xF8) == 0xF0) return four_byte_run(l, p, end);
  return nullptr;
}

int32_t decode_runs(lanes &out, const unsigned char *p, const unsigned char *end) {
  lanes l = out;
  while (p < end) {
    p = take_run(l, p, end);
    if (p == nullptr) return -1;
  }
  out = l;
  return 0;
}

#if TPSUBM_HASH_X86

// GCC 12 takes the undefined vectors inside its own AVX-512 intrinsics for
// values that may be used uninitialized once they are inlined.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

// The instructions are there and the system saves their registers.
bool simd_supported() {
  return CPU_FEATURE_ACTIVE(AVX512BW) && CPU_FEATURE_ACTIVE(AVX512VL) &&
         CPU_FEATURE_ACTIVE(AVX512_VBMI) && CPU_FEATURE_ACTIVE(AVX512_VBMI2);
}

// The vector decoder reads 34 bytes from p: the 32 of a block and the two
// after it, where the last sequences of the block end.
constexpr std::ptrdiff_t kBlockBytes = 32;
constexpr std::ptrdiff_t kBlockReach = kBlockBytes + 2;

#define TPSUBM_HASH_SIMD_TARGET \
  __attribute__((target("avx512f,avx512bw,avx512vl,avx512vbmi,avx512vbmi2")))

// n decoded units into the lanes: a pair per step in two plain scalar chains.
// Left alone the compiler may pack both lanes into one vector register, which
// lengthens the chain; the empty asm keeps them in general registers.
TPSUBM_HASH_STEP void take_units(lanes &l, const uint16_t *units, int n) {
  uint32_t a = l.next;
  uint32_t b = l.other;
  int i = 0;
  for (; i + 3 < n; i += 4) {
    a = mix(a, units[i]);
    b = mix(b, units[i + 1]);
    a = mix(a, units[i + 2]);
    b = mix(b, units[i + 3]);
    asm("" : "+r"(a), "+r"(b));
  }
  if (i + 1 < n) {
    a = mix(a, units[i]);
    b = mix(b, units[i + 1]);
    i += 2;
  }
  l.next = a;
  l.other = b;
  if (i > 0) {
    l.last = units[i - 1];
    l.count += static_cast<uint32_t>(i);
  }
  if (i < n) l.take(units[i]);
}

// The 64 bytes at p (and the one after them) when they hold only one- and
// two-byte sequences, one byte per 16-bit lane in two halves; a two-byte
// sequence that the 64th byte starts is left to the next step. Returns p
// past the sequences taken, p itself when a byte of the 64 is 0xE0 or above,
// or nullptr for a text that is not well-formed.
TPSUBM_HASH_SIMD_TARGET
TPSUBM_HASH_STEP const unsigned char *one_two_byte_block(lanes &l, const unsigned char *p,
                                                         uint16_t *units) {
  const __m512i b0 = _mm512_loadu_si512(p);
  if (_mm512_cmpge_epu8_mask(b0, _mm512_set1_epi8(static_cast<char>(0xE0))) != 0) return p;
  const uint64_t ascii = _mm512_cmplt_epu8_mask(b0, _mm512_set1_epi8(static_cast<char>(0x80)));
  if (ascii == ~uint64_t{0}) {
    _mm512_store_si512(units, _mm512_cvtepu8_epi16(_mm512_castsi512_si256(b0)));
    _mm512_store_si512(units + 32, _mm512_cvtepu8_epi16(_mm512_extracti64x4_epi64(b0, 1)));
    take_units(l, units, 64);
    return p + 64;
  }
  const uint64_t cont =
      _mm512_cmpeq_epi8_mask(_mm512_and_si512(b0, _mm512_set1_epi8(static_cast<char>(0xC0))),
                             _mm512_set1_epi8(static_cast<char>(0x80)));
  uint64_t block = ~uint64_t{0};
  const uint64_t lead2 = ~(ascii | cont);
  if (lead2 >> 63) block >>= 1;
  const uint64_t l2 = lead2 & block;
  if ((l2 << 1) != (cont & block)) return nullptr;
  // Leads 0xC0 and 0xC1 begin overlong forms.
  if (_mm512_mask_cmplt_epu8_mask(l2, b0, _mm512_set1_epi8(static_cast<char>(0xC2))) != 0) {
    return nullptr;
  }
  const __m512i b1 = _mm512_loadu_si512(p + 1);
  const uint64_t starts = (ascii | l2) & block;
  int n = 0;
  for (int half = 0; half < 2; ++half) {
    const __m512i w0 = _mm512_cvtepu8_epi16(half == 0 ? _mm512_castsi512_si256(b0)
                                                      : _mm512_extracti64x4_epi64(b0, 1));
    const __m512i w1 = _mm512_cvtepu8_epi16(half == 0 ? _mm512_castsi512_si256(b1)
                                                      : _mm512_extracti64x4_epi64(b1, 1));
    const __m512i u2 =
        _mm512_or_si512(_mm512_slli_epi16(_mm512_and_si512(w0, _mm512_set1_epi16(0x1F)), 6),
                        _mm512_and_si512(w1, _mm512_set1_epi16(0x3F)));
    const uint32_t l2_half = static_cast<uint32_t>(l2 >> (32 * half));
    const uint32_t starts_half = static_cast<uint32_t>(starts >> (32 * half));
    const __m512i u = _mm512_mask_blend_epi16(l2_half, w0, u2);
    _mm512_storeu_si512(units + n, _mm512_maskz_compress_epi16(starts_half, u));
    n += std::popcount(starts_half);
  }
  take_units(l, units, n);
  return p + std::popcount(block);
}

// Up to sixteen three-byte sequences from the 64 bytes at p, one per 32-bit
// lane (bytes 3i, 3i + 1 and 3i + 2 in lane i). Returns p past them, p
// itself when the first is not a three-byte sequence, or nullptr for one
// that is overlong or a surrogate.
TPSUBM_HASH_SIMD_TARGET
TPSUBM_HASH_STEP const unsigned char *three_byte_block(lanes &l, const unsigned char *p,
                                                       uint16_t *units) {
  const __m512i gather = _mm512_setr_epi32(0x20100, 0x50403, 0x80706, 0xb0a09, 0xe0d0c, 0x11100f,
                                           0x141312, 0x171615, 0x1a1918, 0x1d1c1b, 0x201f1e,
                                           0x232221, 0x262524, 0x292827, 0x2c2b2a, 0x2f2e2d);
  const __m512i w = _mm512_permutexvar_epi8(gather, _mm512_loadu_si512(p));
  const uint32_t shaped = _mm512_cmpeq_epi32_mask(_mm512_and_si512(w, _mm512_set1_epi32(0xC0C0F0)),
                                                  _mm512_set1_epi32(0x8080E0));
  const int k = std::countr_one(shaped);
  if (k == 0) return p;
  const __m512i cp = _mm512_or_si512(
      _mm512_or_si512(_mm512_slli_epi32(_mm512_and_si512(w, _mm512_set1_epi32(0x0F)), 12),
                      _mm512_and_si512(_mm512_srli_epi32(w, 2), _mm512_set1_epi32(0xFC0))),
      _mm512_and_si512(_mm512_srli_epi32(w, 16), _mm512_set1_epi32(0x3F)));
  const uint32_t used = (1u << k) - 1;
  const uint32_t overlong = _mm512_mask_cmplt_epu32_mask(used, cp, _mm512_set1_epi32(0x800));
  const uint32_t surrogate = _mm512_mask_cmpeq_epi32_mask(
      used, _mm512_and_si512(cp, _mm512_set1_epi32(0xF800)), _mm512_set1_epi32(0xD800));
  if ((overlong | surrogate) != 0) return nullptr;
  _mm256_store_si256(reinterpret_cast<__m256i *>(units), _mm512_cvtepi32_epi16(cp));
  take_units(l, units, k);
  return p + 3 * static_cast<std::ptrdiff_t>(k);
}

// Up to eight four-byte sequences from p, one per 32-bit lane, each turned
// into its surrogate pair in place (the high half first). Returns p past
// them, p itself when the first is not a four-byte sequence, or nullptr for
// one that is out of range.
TPSUBM_HASH_SIMD_TARGET
TPSUBM_HASH_STEP const unsigned char *four_byte_block(lanes &l, const unsigned char *p,
                                                      uint16_t *units) {
  const __m256i w = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
  const uint32_t shaped = _mm256_cmpeq_epi32_mask(
      _mm256_and_si256(w, _mm256_set1_epi32(0xC0C0C0F8u)), _mm256_set1_epi32(0x808080F0u));
  const int k = std::countr_one(shaped);
  if (k == 0) return p;
  const __m256i cp = _mm256_or_si256(
      _mm256_or_si256(_mm256_slli_epi32(_mm256_and_si256(w, _mm256_set1_epi32(0x07)), 18),
                      _mm256_slli_epi32(_mm256_and_si256(w, _mm256_set1_epi32(0x3F00)), 4)),
      _mm256_or_si256(_mm256_and_si256(_mm256_srli_epi32(w, 10), _mm256_set1_epi32(0xFC0)),
                      _mm256_and_si256(_mm256_srli_epi32(w, 24), _mm256_set1_epi32(0x3F))));
  const __m256i v = _mm256_sub_epi32(cp, _mm256_set1_epi32(0x10000));
  const uint32_t lanes_used = (1u << k) - 1;
  if (_mm256_mask_cmpgt_epu32_mask(lanes_used, v, _mm256_set1_epi32(0xFFFFF)) != 0) {
    return nullptr;
  }
  const __m256i high = _mm256_add_epi32(_mm256_srli_epi32(v, 10), _mm256_set1_epi32(0xD800));
  const __m256i low =
      _mm256_add_epi32(_mm256_and_si256(v, _mm256_set1_epi32(0x3FF)), _mm256_set1_epi32(0xDC00));
  _mm256_store_si256(reinterpret_cast<__m256i *>(units),
                     _mm256_or_si256(high, _mm256_slli_epi32(low, 16)));
  take_units(l, units, 2 * k);
  return p + 4 * static_cast<std::ptrdiff_t>(k);
}

// The vector decoder. Each step takes the first that fits the text at p:
// ASCII words as the runs take them, 64 bytes of one- and two-byte
// sequences, sixteen three-byte or eight four-byte sequences, or else 32
// bytes of any one-, two- and three-byte sequences, one byte per 16-bit
// lane: every lane that starts a sequence computes its unit from its own
// byte and the next two, the lanes of continuation bytes are dropped and the
// units left are packed together and mixed in. That block ends early before
// a byte 0xF0-0xFF (a four-byte run or a refusal handles it) and before a
// sequence that the block's end cuts. The last bytes of the text, fewer than
// a block reads, go to the runs.
TPSUBM_HASH_SIMD_TARGET
int32_t decode_simd(lanes &out, const unsigned char *p, const unsigned char *end) {
  lanes l = out;
  alignas(64) uint16_t units[2 * kBlockBytes];
  const __m256i k80 = _mm256_set1_epi8(static_cast<char>(0x80));
  const __m256i kC0 = _mm256_set1_epi8(static_cast<char>(0xC0));
  const __m256i kE0 = _mm256_set1_epi8(static_cast<char>(0xE0));
  const __m256i kF0 = _mm256_set1_epi8(static_cast<char>(0xF0));
  while (end - p >= kBlockReach) {
    if (p[0] < 0x80) {
      // ASCII goes faster straight from the text, a word at a time, than
      // through a block of units in memory.
      const unsigned char *next = ascii_words(l, p, end);
      if (next != p) {
        p = next;
        continue;
      }
    }
    if (p[0] >= 0xF0) {
      const unsigned char *next = four_byte_block(l, p, units);
      if (next == p) next = take_run(l, p, end);
      if (next == nullptr) return -1;
      p = next;
      continue;
    }
    if (p[0] < 0xE0 && end - p > 64) {
      const unsigned char *next = one_two_byte_block(l, p, units);
      if (next == nullptr) return -1;
      if (next != p) {
        p = next;
        continue;
      }
    }
    if ((p[0] & 0xF0) == 0xE0 && end - p >= 64) {
      const unsigned char *next = three_byte_block(l, p, units);
      if (next == nullptr) return -1;
      if (next != p) {
        p = next;
        continue;
      }
    }
    const __m256i b0 = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
    const uint32_t ascii = _mm256_cmplt_epu8_mask(b0, k80);
    if (ascii == 0xFFFFFFFFu) {
      // All one-byte sequences: each byte is its unit.
      _mm512_store_si512(units, _mm512_cvtepu8_epi16(b0));
      take_units(l, units, kBlockBytes);
      p += kBlockBytes;
      continue;
    }
    const __m256i b1 = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p + 1));
    const __m256i b2 = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p + 2));
    const uint32_t cont = _mm256_cmpeq_epi8_mask(_mm256_and_si256(b0, kC0), k80);
    const uint32_t lead2 = _mm256_cmpeq_epi8_mask(_mm256_and_si256(b0, kE0), kC0);
    const uint32_t lead3 = _mm256_cmpeq_epi8_mask(_mm256_and_si256(b0, kF0), kE0);
    const uint32_t stop = _mm256_cmpge_epu8_mask(b0, kF0);

    // The lanes of this block: up to the first stop byte, and short of a
    // sequence that would reach past lane 31.
    uint32_t block = 0xFFFFFFFFu;
    if (stop != 0) block = (1u << std::countr_zero(stop)) - 1;
    if (lead3 & (1u << 30)) {
      block &= (1u << 30) - 1;
    } else if ((lead2 | lead3) & (1u << 31)) {
      block &= (1u << 31) - 1;
    }
    const uint32_t l2 = lead2 & block;
    const uint32_t l3 = lead3 & block;
    // Each continuation byte of the block exactly where a lead of the block
    // needs one (a lead's needs past the block are refusals too: a stop byte
    // or a lead stands there).
    const uint64_t needed = (static_cast<uint64_t>(l2) << 1) | (static_cast<uint64_t>(l3) << 1) |
                            (static_cast<uint64_t>(l3) << 2);
    if (needed != (cont & block)) return -1;

    const __m512i w0 = _mm512_cvtepu8_epi16(b0);
    const __m512i c1 = _mm512_and_si512(_mm512_cvtepu8_epi16(b1), _mm512_set1_epi16(0x3F));
    const __m512i c2 = _mm512_and_si512(_mm512_cvtepu8_epi16(b2), _mm512_set1_epi16(0x3F));
    const __m512i u2 =
        _mm512_or_si512(_mm512_slli_epi16(_mm512_and_si512(w0, _mm512_set1_epi16(0x1F)), 6), c1);
    const __m512i u3 =
        _mm512_or_si512(_mm512_or_si512(_mm512_slli_epi16(w0, 12), _mm512_slli_epi16(c1, 6)), c2);
    const uint32_t overlong2 = _mm512_mask_cmplt_epu16_mask(l2, u2, _mm512_set1_epi16(0x80));
    const uint32_t overlong3 = _mm512_mask_cmplt_epu16_mask(l3, u3, _mm512_set1_epi16(0x800));
    const uint32_t surrogate =
        _mm512_mask_cmpeq_epi16_mask(l3, _mm512_and_si512(u3, _mm512_set1_epi16(0xF800)),
                                     _mm512_set1_epi16(static_cast<short>(0xD800)));
    if ((overlong2 | overlong3 | surrogate) != 0) return -1;

    __m512i u = _mm512_mask_blend_epi16(l2, w0, u2);
    u = _mm512_mask_blend_epi16(l3, u, u3);
    const uint32_t starts = (ascii | l2 | l3) & block;
    _mm512_store_si512(units, _mm512_maskz_compress_epi16(starts, u));
    take_units(l, units, std::popcount(starts));
    p += std::popcount(block);
  }
  while (p < end) {
    p = take_run(l, p, end);
    if (p == nullptr) return -1;
  }
  out = l;
  return 0;
}

#undef TPSUBM_HASH_SIMD_TARGET

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

#endif  // TPSUBM_HASH_X86

}  // namespace

void tpsubm_hash_state_init(tpsubm_hash_state *st) {
  st->h1 = kSeed;
  st->h2 = kSeed;
  st->has_pending = 0;
  st->pending_unit = 0;
}

bool tpsubm_hash_has_simd() {
#if TPSUBM_HASH_X86
  return simd_supported();
#else
  return false;
#endif
}

int32_t tpsubm_hash_feed_utf8_by(tpsubm_hash_state *st, const char *text, hash_decoder decoder) {
  if (st == nullptr || text == nullptr) return -1;
  // Decoding and mixing go together in one pass over the text. The lanes
  // live in locals and the state is written only once the whole text has
  // proved well-formed, so a refused text leaves it untouched and no buffer
  // of units is ever needed.
  const unsigned char *p = reinterpret_cast<const unsigned char *>(text);
  const unsigned char *end = p + std::strlen(text);
  lanes l{st->h1, st->h2, 0, 0};
  if (st->has_pending) l.take(st->pending_unit);
  // A text shorter than one vector block goes to the runs without asking
  // the processor what it has.
  int32_t rc;
  if (decoder == hash_decoder::plain) {
    rc = decode_plain(l, p, end);
#if TPSUBM_HASH_X86
  } else if (decoder == hash_decoder::fastest && end - p >= kBlockReach && simd_supported()) {
    rc = decode_simd(l, p, end);
#endif
  } else {
    rc = decode_runs(l, p, end);
  }
  if (rc != 0) return -1;
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

int32_t tpsubm_hash_feed_utf8(tpsubm_hash_state *st, const char *text) {
  return tpsubm_hash_feed_utf8_by(st, text, hash_decoder::fastest);
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
