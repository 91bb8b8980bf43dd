// Cutting texts to a byte length: every cut in the library goes through
// utf8_cut_len / copy_cut, which must never split a UTF-8 sequence and must
// cut ASCII exactly at the length.
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "engine/state.h"

namespace {

struct CutCase {
  const char *name;
  const char *text;
  size_t max_len;
  size_t expected;
};

// é = C3 A9, € = E2 82 AC, U+1F600 = F0 9F 98 80.
const CutCase kCuts[] = {
    {"ascii shorter than the limit", "abc", 10, 3},
    {"ascii exactly at the limit", "abc", 3, 3},
    {"ascii cut exactly", "abcdef", 4, 4},
    {"limit 0", "abc", 0, 0},
    {"two-byte split gives the lead back", "a\xC3\xA9", 2, 1},
    {"two-byte fits", "a\xC3\xA9", 3, 3},
    {"cut right after a whole sequence", "\xC3\xA9\xC3\xA9", 2, 2},
    {"three-byte after one byte", "\xE2\x82\xAC", 1, 0},
    {"three-byte after two bytes", "x\xE2\x82\xAC", 3, 1},
    {"four-byte after three bytes", "\xF0\x9F\x98\x80", 3, 0},
    {"four-byte after one byte", "ab\xF0\x9F\x98\x80", 3, 2},
    {"four-byte fits", "ab\xF0\x9F\x98\x80", 6, 6},
    {"sequence before a cut sequence kept", "\xE2\x82\xAC\xF0\x9F\x98\x80", 5, 3},
    {"stray continuation bytes are cut by bytes", "\x80\x80\x80\x80\x80", 4, 4},
    {"text too short to need a cut, even if broken", "a\xC3", 5, 2},
};

TEST(Utf8CutLen, CutsAtSequenceBoundariesAndAsciiExactly) {
  for (const CutCase &c : kCuts) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(utf8_cut_len(c.text, std::strlen(c.text), c.max_len), c.expected);
  }
}

TEST(CopyCut, CopiesWhatFitsWithItsTerminatorAndNothingMore) {
  struct Case {
    const char *text;
    size_t dst_size;
    const char *expected;
  };
  const Case cases[] = {
      {"abcdef", 4, "abc"},
      {"abc", 4, "abc"},
      {"abc", 1, ""},
      {"a\xC3\xA9", 3, "a"},
      {"a\xC3\xA9", 4, "a\xC3\xA9"},
      {"\xF0\x9F\x98\x80z", 4, ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::string(c.text)) + " into " +
                 std::to_string(c.dst_size));
    char dst[16];
    std::memset(dst, '#', sizeof dst);
    size_t n = copy_cut(dst, c.dst_size, c.text);
    EXPECT_EQ(n, std::strlen(c.expected));
    EXPECT_STREQ(dst, c.expected);
    for (size_t i = n + 1; i < sizeof dst; ++i) ASSERT_EQ(dst[i], '#') << "byte " << i;
  }
}

}  // namespace
