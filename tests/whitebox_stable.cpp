// The decoder and the incremental state behind the stable hash: what the
// export cannot show, such as the units stored, the room a buffer needs and
// the state left after a refused feed.
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tpsubm_internal.h"

namespace {

constexpr uint16_t kGuard = 0xBEEF;
constexpr uintptr_t kCountUntouched = 777;
const char kAbGrin[] = "ab\xF0\x9F\x98\x80";  // "ab" U+1F600: 4 units

struct DecodeCase {
  const char *name;
  const char *text;
  std::vector<uint16_t> units;
};

const DecodeCase kDecodes[] = {
    {"empty", "", {}},
    {"ascii", "abc", {'a', 'b', 'c'}},
    {"two-byte", "\xC3\xA9", {0xE9}},
    {"U+0080", "\xC2\x80", {0x80}},
    {"U+0800", "\xE0\xA0\x80", {0x800}},
    {"byte-order mark", "\xEF\xBB\xBF", {0xFEFF}},
    {"U+FFFE", "\xEF\xBF\xBE", {0xFFFE}},
    {"U+10000", "\xF0\x90\x80\x80", {0xD800, 0xDC00}},
    {"U+10FFFF", "\xF4\x8F\xBF\xBF", {0xDBFF, 0xDFFF}},
    {"mixed", "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z", {'a', 0xE9, 0x20AC, 0xD83D, 0xDE00, 'z'}},
};

const char *const kRefused[] = {
    "\x80",         "\xC0\x80",         "\xC1\xBF",         "\xE0\x9F\xBF",
    "\xED\xA0\x80", "\xF0\x8F\xBF\xBF", "\xF4\x90\x80\x80", "\xF8\x88\x80\x80\x80",
    "a\xC3",        "ab\xE2\x82",       "abc\xF0\x9F\x98",  "\xFF",
};

TEST(Utf8ToUtf16, CountsAndStoresTheUnitsOfEachSequence) {
  for (const DecodeCase &c : kDecodes) {
    SCOPED_TRACE(c.name);
    uintptr_t count = kCountUntouched;
    ASSERT_EQ(utf8_to_utf16(c.text, nullptr, 0, &count), 0);
    EXPECT_EQ(count, c.units.size());

    // Exactly the counted room is enough; the guard after it stays.
    std::vector<uint16_t> buffer(c.units.size() + 1, kGuard);
    count = kCountUntouched;
    ASSERT_EQ(utf8_to_utf16(c.text, buffer.data(), c.units.size(), &count), 0);
    ASSERT_EQ(count, c.units.size());
    EXPECT_EQ(std::vector<uint16_t>(buffer.begin(), buffer.end() - 1), c.units);
    EXPECT_EQ(buffer.back(), kGuard);
  }
}

TEST(Utf8ToUtf16, RefusesMalformedTextInBothModesWithoutWritingTheCount) {
  for (const char *text : kRefused) {
    SCOPED_TRACE(testing::PrintToString(std::string(text)));
    uintptr_t count = kCountUntouched;
    EXPECT_EQ(utf8_to_utf16(text, nullptr, 0, &count), -1);
    uint16_t buffer[8];
    EXPECT_EQ(utf8_to_utf16(text, buffer, 8, &count), -1);
    EXPECT_EQ(count, kCountUntouched);
  }
}

TEST(Utf8ToUtf16, NeedsRoomForBothHalvesOfASurrogatePair) {
  uint16_t buffer[5] = {kGuard, kGuard, kGuard, kGuard, kGuard};
  uintptr_t count = kCountUntouched;
  EXPECT_EQ(utf8_to_utf16(kAbGrin, buffer, 3, &count), -3);
  EXPECT_EQ(count, kCountUntouched);
  EXPECT_EQ(buffer[2], kGuard);  // the high half is not written alone

  ASSERT_EQ(utf8_to_utf16(kAbGrin, buffer, 4, &count), 0);
  EXPECT_EQ(count, 4u);
  EXPECT_EQ(buffer[2], 0xD83D);
  EXPECT_EQ(buffer[3], 0xDE00);
  EXPECT_EQ(buffer[4], kGuard);  // no terminating unit
}

TEST(Utf8ToUtf16, RefusesOneUnitCharactersBeyondTheCapacity) {
  struct Case {
    const char *text;
    uintptr_t capacity;
  };
  const Case cases[] = {{"abc", 2}, {"ab\xC3\xA9", 2}, {"a\xE2\x82\xAC", 1}, {"a", 0}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.text);
    uint16_t buffer[4] = {kGuard, kGuard, kGuard, kGuard};
    uintptr_t count = kCountUntouched;
    EXPECT_EQ(utf8_to_utf16(c.text, buffer, c.capacity, &count), -3);
    EXPECT_EQ(count, kCountUntouched);
    EXPECT_EQ(buffer[c.capacity], kGuard);
  }
}

bool same_state(const tpsubm_hash_state &a, const tpsubm_hash_state &b) {
  return a.h1 == b.h1 && a.h2 == b.h2 && a.has_pending == b.has_pending &&
         a.pending_unit == b.pending_unit;
}

TEST(HashState, FreshStateFinishesAsTheEmptyText) {
  tpsubm_hash_state st;
  tpsubm_hash_state_init(&st);
  EXPECT_EQ(st.h1, 5381u);
  EXPECT_EQ(st.h2, 5381u);
  EXPECT_EQ(st.has_pending, 0);
  EXPECT_EQ(tpsubm_hash_state_finish(&st), 371857150);
}

TEST(HashState, HashesTheConcatenationOfItsFeeds) {
  const std::vector<std::vector<const char *>> splits = {
      {"abc"}, {"a", "bc"}, {"ab", "c"}, {"a", "", "b", "", "c"}};
  for (const auto &feeds : splits) {
    SCOPED_TRACE(testing::PrintToString(feeds));
    tpsubm_hash_state st;
    tpsubm_hash_state_init(&st);
    for (const char *text : feeds) ASSERT_EQ(tpsubm_hash_feed_utf8(&st, text), 0);
    EXPECT_EQ(tpsubm_hash_state_finish(&st), 1099313834);
  }

  // A surrogate pair split over a pending unit: "a" then U+1F600 pairs 'a'
  // with the high half.
  tpsubm_hash_state split;
  tpsubm_hash_state_init(&split);
  ASSERT_EQ(tpsubm_hash_feed_utf8(&split, "a"), 0);
  ASSERT_EQ(tpsubm_hash_feed_utf8(&split, "\xF0\x9F\x98\x80"), 0);
  int32_t whole = 0;
  ASSERT_EQ(tpsubm_stable_hash_utf8_impl("a\xF0\x9F\x98\x80", &whole), 0);
  EXPECT_EQ(tpsubm_hash_state_finish(&split), whole);
}

TEST(HashState, EmptyFeedChangesNothing) {
  tpsubm_hash_state st;
  tpsubm_hash_state_init(&st);
  ASSERT_EQ(tpsubm_hash_feed_utf8(&st, "a"), 0);
  const tpsubm_hash_state before = st;
  EXPECT_EQ(tpsubm_hash_feed_utf8(&st, ""), 0);
  EXPECT_TRUE(same_state(st, before));
}

TEST(HashState, RefusedFeedLeavesTheStateAsItWas) {
  // One pending unit, so a feed that consumed anything would show.
  std::vector<const char *> refused(std::begin(kRefused), std::end(kRefused));
  const std::string long_bad = std::string(300, 'x') + "\xC0\x80";  // past the stack buffer
  refused.push_back(long_bad.c_str());
  refused.push_back(nullptr);
  for (const char *text : refused) {
    SCOPED_TRACE(text != nullptr ? testing::PrintToString(std::string(text)) : "null");
    tpsubm_hash_state st;
    tpsubm_hash_state_init(&st);
    ASSERT_EQ(tpsubm_hash_feed_utf8(&st, "a"), 0);
    const tpsubm_hash_state before = st;
    EXPECT_EQ(tpsubm_hash_feed_utf8(&st, text), -1);
    EXPECT_TRUE(same_state(st, before));
    // Still usable: the rest of "abc" gives the hash of "abc".
    ASSERT_EQ(tpsubm_hash_feed_utf8(&st, "bc"), 0);
    EXPECT_EQ(tpsubm_hash_state_finish(&st), 1099313834);
  }
  EXPECT_EQ(tpsubm_hash_feed_utf8(nullptr, "a"), -1);
}

TEST(HashState, FinishingTwiceGivesTheSameValue) {
  tpsubm_hash_state st;
  tpsubm_hash_state_init(&st);
  ASSERT_EQ(tpsubm_hash_feed_utf8(&st, "abc"), 0);
  EXPECT_EQ(tpsubm_hash_state_finish(&st), 1099313834);
  EXPECT_EQ(st.has_pending, 0);  // the waiting 'c' has been folded in
  EXPECT_EQ(tpsubm_hash_state_finish(&st), 1099313834);
}

TEST(OneShotHash, ReportsNullArgumentsAndRefusedTextWithoutWritingOut) {
  int32_t out = 42;
  EXPECT_EQ(tpsubm_stable_hash_utf8_impl(nullptr, &out), -1);
  EXPECT_EQ(tpsubm_stable_hash_utf8_impl("abc", nullptr), -1);
  EXPECT_EQ(tpsubm_stable_hash_utf8_impl("a\xC3", &out), -2);
  EXPECT_EQ(out, 42);
  EXPECT_EQ(tpsubm_stable_hash_utf8_impl("abcd", &out), 0);
  EXPECT_EQ(out, 1664220650);
}

}  // namespace
