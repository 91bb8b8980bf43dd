// The reference decoder and hash for the tests and the hash fuzzer: strict
// UTF-8 to UTF-16 units written out rule by rule, one character at a time,
// and the two-lane hash over the units. It shares no code with the library,
// whose decoders are held to it.
#ifndef TPSUBM_TESTS_REFERENCE_UTF8_H
#define TPSUBM_TESTS_REFERENCE_UTF8_H

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace reference {

inline bool is_continuation(unsigned char b) {
  return (b & 0xC0) == 0x80;
}

// The units of text (up to its end or its first zero byte), or nothing when
// it is not well-formed UTF-8: no overlong form, no surrogate, nothing above
// U+10FFFF, no sequence cut short, no stray continuation byte, no byte
// 0xF8-0xFF.
inline std::optional<std::vector<uint16_t>> utf8_to_utf16(std::string_view text) {
  std::vector<uint16_t> units;
  const auto *p = reinterpret_cast<const unsigned char *>(text.data());
  const auto *end = p + text.size();
  auto byte = [&](size_t i) -> unsigned char { return p + i < end ? p[i] : 0; };
  while (p < end && *p != 0) {
    unsigned char b0 = *p;
    uint32_t cp;
    size_t width;
    if (b0 < 0x80) {
      cp = b0;
      width = 1;
    } else if ((b0 & 0xE0) == 0xC0) {
      if (!is_continuation(byte(1))) return std::nullopt;
      cp = (static_cast<uint32_t>(b0 & 0x1F) << 6) | (byte(1) & 0x3F);
      if (cp <= 0x7F) return std::nullopt;
      width = 2;
    } else if ((b0 & 0xF0) == 0xE0) {
      if (!is_continuation(byte(1)) || !is_continuation(byte(2))) return std::nullopt;
      cp = (static_cast<uint32_t>(b0 & 0x0F) << 12) | (static_cast<uint32_t>(byte(1) & 0x3F) << 6) |
           (byte(2) & 0x3F);
      if (cp <= 0x7FF || (cp >= 0xD800 && cp <= 0xDFFF)) return std::nullopt;
      width = 3;
    } else if ((b0 & 0xF8) == 0xF0) {
      if (!is_continuation(byte(1)) || !is_continuation(byte(2)) || !is_continuation(byte(3))) {
        return std::nullopt;
      }
      cp = (static_cast<uint32_t>(b0 & 0x07) << 18) |
           (static_cast<uint32_t>(byte(1) & 0x3F) << 12) |
           (static_cast<uint32_t>(byte(2) & 0x3F) << 6) | (byte(3) & 0x3F);
      if (cp < 0x10000 || cp > 0x10FFFF) return std::nullopt;
      width = 4;
    } else {
      return std::nullopt;
    }
    if (cp >= 0x10000) {
      units.push_back(static_cast<uint16_t>(0xD800 + ((cp - 0x10000) >> 10)));
      units.push_back(static_cast<uint16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
    } else {
      units.push_back(static_cast<uint16_t>(cp));
    }
    p += width;
  }
  return units;
}

// The signed combination of the two lanes (multiply by 33, exclusive or,
// seeded with 5381) that take the units alternately.
inline int32_t signed_combination(const std::vector<uint16_t> &units) {
  uint32_t lanes[2] = {5381u, 5381u};
  for (size_t i = 0; i < units.size(); ++i) lanes[i % 2] = (lanes[i % 2] * 33u) ^ units[i];
  return static_cast<int32_t>(lanes[0] + lanes[1] * 1566083941u);
}

// The hash: the absolute value of the signed combination, -2^31 giving 0.
inline int32_t hash_of_units(const std::vector<uint16_t> &units) {
  int64_t r = signed_combination(units);
  return r == INT32_MIN ? 0 : static_cast<int32_t>(r < 0 ? -r : r);
}

// The hash of text, or nothing when it is refused.
inline std::optional<int32_t> hash_of_text(std::string_view text) {
  std::optional<std::vector<uint16_t>> units = utf8_to_utf16(text);
  if (!units) return std::nullopt;
  return hash_of_units(*units);
}

}  // namespace reference

#endif  // TPSUBM_TESTS_REFERENCE_UTF8_H
