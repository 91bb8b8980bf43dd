// What the black-box suites share: bringing the library back to the state
// of a fresh load, and a check that a text is well-formed UTF-8.
#ifndef TPSUBM_TESTS_SUPPORT_H
#define TPSUBM_TESTS_SUPPORT_H

#include <cstddef>
#include <string_view>

#include "tpsubm.h"

namespace tpsubm_test {

// Releases every track and list and unregisters every callback, so that a
// test binary run as one process gives each case the state of a fresh load.
inline void reset_library() {
  tpsubm_clear();
  tpsubm_set_detector(nullptr, nullptr);
  tpsubm_set_translator(nullptr, nullptr);
  tpsubm_set_download_fn(nullptr, nullptr);
  tpsubm_set_bilingual_threshold(0.7);
}

// True when every sequence is complete and its lead byte is one UTF-8 uses;
// enough to show that a cut never split a character.
inline bool is_valid_utf8(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    unsigned char b = static_cast<unsigned char>(s[i]);
    size_t n = b < 0x80 ? 1 : (b >> 5) == 0x6 ? 2 : (b >> 4) == 0xE ? 3 : (b >> 3) == 0x1E ? 4 : 0;
    if (n == 0 || i + n > s.size()) return false;
    for (size_t k = 1; k < n; ++k) {
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    }
    i += n;
  }
  return true;
}

}  // namespace tpsubm_test

#endif  // TPSUBM_TESTS_SUPPORT_H
