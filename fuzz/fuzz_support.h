// Helpers shared by the fuzz targets: a reader that takes values from the
// fuzz input front to back, an independent strict UTF-8 check, and a check
// macro that reports and aborts (libFuzzer keeps the input; the replay
// test fails).
#ifndef TPSUBM_FUZZ_SUPPORT_H
#define TPSUBM_FUZZ_SUPPORT_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#define FUZZ_CHECK(cond)                                                            \
  do {                                                                              \
    if (!(cond)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      std::abort();                                                                 \
    }                                                                               \
  } while (0)

namespace fuzz {

// Takes bytes from the front of the input; every read past the end gives 0,
// so any input is a complete program.
class Reader {
 public:
  Reader(const uint8_t *data, size_t size) : data_(data), size_(size) {}

  bool empty() const { return pos_ >= size_; }
  size_t left() const { return empty() ? 0 : size_ - pos_; }

  uint8_t u8() { return empty() ? 0 : data_[pos_++]; }
  uint16_t u16() { return static_cast<uint16_t>(u8() | (u8() << 8)); }
  uint32_t u32() { return static_cast<uint32_t>(u16()) | (static_cast<uint32_t>(u16()) << 16); }
  int32_t i32() { return static_cast<int32_t>(u32()); }

  // Up to n bytes, fewer at the end of the input.
  std::string bytes(size_t n) {
    size_t take = n < left() ? n : left();
    std::string out(reinterpret_cast<const char *>(data_ + pos_), take);
    pos_ += take;
    return out;
  }
  std::string rest() { return bytes(left()); }

 private:
  const uint8_t *data_;
  size_t size_;
  size_t pos_ = 0;
};

// Well-formed UTF-8 by the table of well-formed byte sequences of the
// Unicode standard, written without reference to the library's decoder.
inline bool utf8_valid(const char *text, size_t len) {
  const auto *p = reinterpret_cast<const unsigned char *>(text);
  size_t i = 0;
  while (i < len) {
    unsigned char b = p[i];
    if (b < 0x80) {
      ++i;
      continue;
    }
    size_t need;
    unsigned char lo = 0x80;
    unsigned char hi = 0xBF;
    if (b >= 0xC2 && b <= 0xDF) {
      need = 1;
    } else if (b == 0xE0) {
      need = 2;
      lo = 0xA0;
    } else if (b == 0xED) {
      need = 2;
      hi = 0x9F;
    } else if ((b >= 0xE1 && b <= 0xEC) || b == 0xEE || b == 0xEF) {
      need = 2;
    } else if (b == 0xF0) {
      need = 3;
      lo = 0x90;
    } else if (b >= 0xF1 && b <= 0xF3) {
      need = 3;
    } else if (b == 0xF4) {
      need = 3;
      hi = 0x8F;
    } else {
      return false;
    }
    if (len - i <= need) return false;
    if (p[i + 1] < lo || p[i + 1] > hi) return false;
    for (size_t k = 2; k <= need; ++k) {
      if (p[i + k] < 0x80 || p[i + k] > 0xBF) return false;
    }
    i += need + 1;
  }
  return true;
}

inline bool utf8_valid(const char *text) {
  return utf8_valid(text, std::strlen(text));
}

}  // namespace fuzz

#endif  // TPSUBM_FUZZ_SUPPORT_H
