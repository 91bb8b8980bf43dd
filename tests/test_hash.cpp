// The exported stable hash, as a host uses it: known values, the strict
// UTF-8 decoding behind them, long texts of each script against the
// reference decoder, and the export's handling of null arguments.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "reference_utf8.h"
#include "support.h"
#include "tpsubm.h"

namespace {

using reference::hash_of_units;
using reference::signed_combination;

std::string repeat(const std::string &s, size_t n) {
  std::string out;
  for (size_t i = 0; i < n; ++i) out += s;
  return out;
}

std::vector<uint16_t> ascii_units(const std::string &s) {
  return {s.begin(), s.end()};
}

std::vector<uint16_t> repeat_units(std::vector<uint16_t> units, size_t n) {
  std::vector<uint16_t> out;
  for (size_t i = 0; i < n; ++i) out.insert(out.end(), units.begin(), units.end());
  return out;
}

const std::string kGrin = "\xF0\x9F\x98\x80";  // U+1F600
const std::vector<uint16_t> kGrinUnits = {0xD83D, 0xDE00};

struct HashCase {
  const char *name;
  std::string text;
  bool accepted;
  std::vector<uint16_t> units;          // what an accepted text decodes to
  std::optional<int32_t> value;         // published value, when there is one
  std::optional<int32_t> signed_value;  // published signed combination
};

std::vector<HashCase> hash_cases() {
  std::vector<uint16_t> x255_grin = repeat_units({'x'}, 255);
  x255_grin.insert(x255_grin.end(), kGrinUnits.begin(), kGrinUnits.end());
  return {
      {"abc", "abc", true, ascii_units("abc"), 1099313834, {}},
      {"empty", "", true, {}, 371857150, {}},
      {"abcd", "abcd", true, ascii_units("abcd"), 1664220650, -1664220650},
      {"U+1F600", kGrin, true, kGrinUnits, 1126268081, {}},
      {"256 x", repeat("x", 256), true, repeat_units({'x'}, 256), 1600907522, {}},
      {"257 x", repeat("x", 257), true, repeat_units({'x'}, 257), 1333180374, {}},
      // Found offline by trying 6-letter prefixes over [a-zA-Z0-9] and solving
      // for a seventh letter that makes h1 + h2 * 1566083941 == 2^31.
      {"signed combination -2^31", "SiCuhau", true, ascii_units("SiCuhau"), 0, INT32_MIN},
      {"128 x U+1F600 (256 units)",
       repeat(kGrin, 128),
       true,
       repeat_units(kGrinUnits, 128),
       {},
       {}},
      {"surrogate pair across 256 units", repeat("x", 255) + kGrin, true, x255_grin, {}, {}},
      {"U+007F", "\x7F", true, {0x7F}, {}, {}},
      {"U+0080", "\xC2\x80", true, {0x80}, {}, {}},
      {"U+07FF", "\xDF\xBF", true, {0x7FF}, {}, {}},
      {"U+0800", "\xE0\xA0\x80", true, {0x800}, {}, {}},
      {"U+D7FF", "\xED\x9F\xBF", true, {0xD7FF}, {}, {}},
      {"U+E000", "\xEE\x80\x80", true, {0xE000}, {}, {}},
      {"byte-order mark", "\xEF\xBB\xBF", true, {0xFEFF}, {}, {}},
      {"U+FFFF", "\xEF\xBF\xBF", true, {0xFFFF}, {}, {}},
      {"U+10000", "\xF0\x90\x80\x80", true, {0xD800, 0xDC00}, {}, {}},
      {"U+10FFFF", "\xF4\x8F\xBF\xBF", true, {0xDBFF, 0xDFFF}, {}, {}},
      {"lone continuation", "\x80", false, {}, {}, {}},
      {"overlong NUL", "\xC0\x80", false, {}, {}, {}},
      {"overlong C1", "\xC1\xBF", false, {}, {}, {}},
      {"overlong 3-byte", "\xE0\x9F\xBF", false, {}, {}, {}},
      {"first surrogate", "\xED\xA0\x80", false, {}, {}, {}},
      {"last surrogate", "\xED\xBF\xBF", false, {}, {}, {}},
      {"overlong 4-byte", "\xF0\x8F\xBF\xBF", false, {}, {}, {}},
      {"above U+10FFFF", "\xF4\x90\x80\x80", false, {}, {}, {}},
      {"5-byte lead", "\xF8\x88\x80\x80\x80", false, {}, {}, {}},
      {"byte FF", "a\xFF", false, {}, {}, {}},
      {"2-byte cut by the end", "a\xC3", false, {}, {}, {}},
      {"3-byte cut by the end", "\xE2\x82", false, {}, {}, {}},
      {"4-byte cut by the end", "\xF0\x9F\x98", false, {}, {}, {}},
      {"lead followed by ASCII",
       "\xC3"
       "a",
       false,
       {},
       {},
       {}},
      {"bad byte after a long valid run", repeat("x", 300) + "\x80", false, {}, {}, {}},
  };
}

class StableHash : public ::testing::Test {
 protected:
  void SetUp() override { tpsubm_test::reset_library(); }
};

TEST_F(StableHash, HashesKnownTextsAndRefusesMalformedUtf8) {
  constexpr int32_t kUntouched = 12345;
  for (const HashCase &c : hash_cases()) {
    SCOPED_TRACE(c.name);
    // The reference decoder that other tests trust reads the table the same way.
    EXPECT_EQ(reference::utf8_to_utf16(c.text), c.accepted ? std::optional(c.units) : std::nullopt);
    int32_t out = kUntouched;
    int32_t rc = tpsubm_stable_hash_utf8(c.text.c_str(), &out);
    if (!c.accepted) {
      EXPECT_EQ(rc, TPSUBM_INVALID);
      EXPECT_EQ(out, kUntouched);
      continue;
    }
    ASSERT_EQ(rc, TPSUBM_OK);
    EXPECT_EQ(out, hash_of_units(c.units));
    if (c.value) {
      EXPECT_EQ(out, *c.value);
    }
    if (c.signed_value) {
      // The export shows only the absolute value; this holds the reference,
      // which the other tests trust, to the published signed combination.
      EXPECT_EQ(signed_combination(c.units), *c.signed_value);
    }
  }
}

// Texts long enough for the decoder's word and vector steps, of one script
// or several, cut after every length up to a few blocks so that a sequence
// meets the end of every step; each hashed as the reference decoder hashes it.
TEST_F(StableHash, HashesLongTextsOfEveryScriptAsTheReferenceDoes) {
  struct Script {
    const char *name;
    std::string chars;
  };
  const Script scripts[] = {
      {"CJK", "\xE5\xAD\x97\xE5\xB9\x95\xE3\x81\xAF\xE6\x98\xA0\xEF\xBF\xBF\xE0\xA0\x80"},
      {"four-byte", "\xF0\x9F\x98\x80\xF0\x90\x80\x80\xF4\x8F\xBF\xBF\xF0\x9F\x8E\xAC"},
      {"Cyrillic", "\xD0\xA1\xD1\x8A\xD0\xB5\xD1\x88\xD1\x8C \xC2\x80\xDF\xBF"},
      {"mixed", "a\xC3\xA9\xE5\xAD\x97\xF0\x9F\x98\x80z\xE3\x81\xAF\xD0\xB6"},
  };
  for (const Script &s : scripts) {
    SCOPED_TRACE(s.name);
    const std::string text = repeat(s.chars, 12);
    for (size_t len = 0; len <= text.size(); ++len) {
      // Cut at a character boundary only; a cut sequence is refused and
      // covered by the table above.
      if (len < text.size() && (static_cast<unsigned char>(text[len]) & 0xC0) == 0x80) continue;
      const std::string cut = text.substr(0, len);
      std::optional<int32_t> expected = reference::hash_of_text(cut);
      ASSERT_TRUE(expected) << len;
      int32_t out = -1;
      ASSERT_EQ(tpsubm_stable_hash_utf8(cut.c_str(), &out), TPSUBM_OK) << len;
      EXPECT_EQ(out, *expected) << len;
    }
  }
}

TEST_F(StableHash, NullTextHashesAsEmptyText) {
  int32_t out = 0;
  ASSERT_EQ(tpsubm_stable_hash_utf8(nullptr, &out), TPSUBM_OK);
  EXPECT_EQ(out, 371857150);
}

TEST_F(StableHash, LeavesTheLastErrorAsItWas) {
  ASSERT_EQ(tpsubm_destroy(-1), TPSUBM_NO_SUCH_ID);
  ASSERT_STREQ(tpsubm_last_error(), "no such id");

  int32_t out = 0;
  EXPECT_EQ(tpsubm_stable_hash_utf8("abc", nullptr), TPSUBM_INVALID);
  EXPECT_EQ(tpsubm_stable_hash_utf8(nullptr, nullptr), TPSUBM_INVALID);
  EXPECT_EQ(tpsubm_stable_hash_utf8("\xC0\x80", &out), TPSUBM_INVALID);
  EXPECT_EQ(tpsubm_stable_hash_utf8("abc", &out), TPSUBM_OK);
  EXPECT_STREQ(tpsubm_last_error(), "no such id");
}

}  // namespace
