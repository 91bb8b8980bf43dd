// The exported stable hash, as a host uses it: known values, the strict
// UTF-8 decoding behind them, and the export's handling of null arguments.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support.h"
#include "tpsubm.h"

namespace {

// The hash written out over UTF-16 units: two multiply-by-33/xor lanes seeded
// with 5381 taking the units alternately, combined with 1566083941. Used to
// say which units a byte sequence must decode to; checked against the
// published values in the same table.
int32_t signed_combination(const std::vector<uint16_t> &units) {
  uint32_t lanes[2] = {5381u, 5381u};
  for (size_t i = 0; i < units.size(); ++i) lanes[i % 2] = (lanes[i % 2] * 33u) ^ units[i];
  return static_cast<int32_t>(lanes[0] + lanes[1] * 1566083941u);
}

int32_t hash_of_units(const std::vector<uint16_t> &units) {
  int64_t r = signed_combination(units);
  return r == INT32_MIN ? 0 : static_cast<int32_t>(r < 0 ? -r : r);
}

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
      {"256 x (stack buffer)", repeat("x", 256), true, repeat_units({'x'}, 256), 1600907522, {}},
      {"257 x (heap buffer)", repeat("x", 257), true, repeat_units({'x'}, 257), 1333180374, {}},
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
      EXPECT_EQ(hash_of_units(c.units), *c.value);
    }
    if (c.signed_value) {
      EXPECT_EQ(signed_combination(c.units), *c.signed_value);
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
