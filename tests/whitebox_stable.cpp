// The incremental state behind the stable hash, and its decoders held to one
// another: what the export cannot show, such as the state left after a
// refused feed, and each decoder's values and refusals next to the plain one
// and the reference decoder of the tests, on random texts of every mix of
// scripts and on texts with every kind of fault at every offset of a block.
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "reference_utf8.h"
#include "tpsubm_internal.h"

namespace {

const char *const kRefused[] = {
    "\x80",         "\xC0\x80",         "\xC1\xBF",         "\xE0\x9F\xBF",
    "\xED\xA0\x80", "\xF0\x8F\xBF\xBF", "\xF4\x90\x80\x80", "\xF8\x88\x80\x80\x80",
    "a\xC3",        "ab\xE2\x82",       "abc\xF0\x9F\x98",  "\xFF",
};

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
  const std::string long_bad =
      std::string(300, 'x') + "\xC0\x80";  // past many word and vector steps
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

// Every decoder of the feed, and what the feed says about text with each:
// its result and, when accepted, the hash of "a" followed by the text (so
// that the text's units start at an odd position as well as at an even one).
struct Outcome {
  int32_t rc_even = 0;
  int32_t rc_odd = 0;
  int32_t hash_even = -1;
  int32_t hash_odd = -1;
};

Outcome feed_with(const std::string &text, hash_decoder decoder) {
  Outcome o;
  tpsubm_hash_state st;
  tpsubm_hash_state_init(&st);
  o.rc_even = tpsubm_hash_feed_utf8_by(&st, text.c_str(), decoder);
  if (o.rc_even == 0) o.hash_even = tpsubm_hash_state_finish(&st);
  tpsubm_hash_state_init(&st);
  EXPECT_EQ(tpsubm_hash_feed_utf8_by(&st, "a", decoder), 0);
  o.rc_odd = tpsubm_hash_feed_utf8_by(&st, text.c_str(), decoder);
  if (o.rc_odd == 0) o.hash_odd = tpsubm_hash_state_finish(&st);
  return o;
}

const hash_decoder kDecoders[] = {hash_decoder::plain, hash_decoder::runs, hash_decoder::fastest};

const char *decoder_name(hash_decoder d) {
  switch (d) {
    case hash_decoder::plain:
      return "plain";
    case hash_decoder::runs:
      return "runs";
    default:
      return tpsubm_hash_has_simd() ? "fastest (vector)" : "fastest (runs)";
  }
}

std::string hex(const std::string &text) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
    out += ' ';
  }
  return out;
}

// Each decoder against the reference decoder: the same refusal, or the same
// hash at both parities. Returns false at the first disagreement, so that a
// broken decoder reports one text rather than thousands.
bool decoders_agree(const std::string &text) {
  std::optional<int32_t> even = reference::hash_of_text(text);
  std::optional<int32_t> odd = reference::hash_of_text("a" + text);
  for (hash_decoder d : kDecoders) {
    Outcome o = feed_with(text, d);
    bool same =
        even ? (o.rc_even == 0 && o.hash_even == *even && o.rc_odd == 0 && o.hash_odd == *odd)
             : (o.rc_even == -1 && o.rc_odd == -1);
    if (!same) {
      ADD_FAILURE() << decoder_name(d) << " disagrees with the reference ("
                    << (even ? "accepted" : "refused") << ", " << text.size()
                    << " bytes): " << hex(text);
      return false;
    }
  }
  return true;
}

std::string utf8(uint32_t cp) {
  std::string s;
  if (cp < 0x80) {
    s += static_cast<char>(cp);
  } else if (cp < 0x800) {
    s += static_cast<char>(0xC0 | (cp >> 6));
    s += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    s += static_cast<char>(0xE0 | (cp >> 12));
    s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    s += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    s += static_cast<char>(0xF0 | (cp >> 18));
    s += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    s += static_cast<char>(0x80 | (cp & 0x3F));
  }
  return s;
}

// Code points by the length of their encoding: the ends of each range, the
// letters of real scripts, and the edges of the surrogate gap.
struct Script {
  std::vector<std::pair<uint32_t, uint32_t>> ranges;
};
const Script kScripts[] = {
    {{{0x01, 0x7F}, {0x20, 0x7E}}},                                    // one byte
    {{{0x80, 0xFF}, {0x391, 0x3C9}, {0x410, 0x44F}, {0x7FE, 0x7FF}}},  // two bytes
    {{{0x800, 0x801},
      {0x3041, 0x30FF},
      {0x4E00, 0x9FFF},
      {0xD7FF, 0xD7FF},  // three bytes
      {0xE000, 0xE000},
      {0xFEFF, 0xFFFF}}},
    {{{0x10000, 0x10001}, {0x1F300, 0x1F6FF}, {0x10FFFF, 0x10FFFF}}},  // four bytes
};

// Runs of one script at a time, of 1 to 40 characters, drawn from the
// scripts in mix (bit i for kScripts[i]), until the text has at least bytes.
std::string random_text(std::mt19937 &rng, unsigned mix, size_t bytes) {
  std::vector<const Script *> pool;
  for (unsigned i = 0; i < 4; ++i) {
    if (mix & (1u << i)) pool.push_back(&kScripts[i]);
  }
  std::string text;
  while (text.size() < bytes) {
    const Script &s = *pool[rng() % pool.size()];
    size_t run = 1 + rng() % 40;
    for (size_t i = 0; i < run; ++i) {
      const auto &r = s.ranges[rng() % s.ranges.size()];
      text += utf8(r.first + rng() % (r.second - r.first + 1));
    }
  }
  return text;
}

TEST(HashDecoders, AgreeOnRandomTextsOfEveryMixOfScripts) {
  std::mt19937 rng(20261211);
  for (unsigned mix = 1; mix < 16; ++mix) {
    SCOPED_TRACE("mix " + std::to_string(mix));
    for (int i = 0; i < 300; ++i) {
      size_t bytes = i < 250 ? rng() % 160 : rng() % 4096;
      if (!decoders_agree(random_text(rng, mix, bytes))) return;
    }
  }
}

// Faults of each kind, put into valid text at a character boundary.
struct Fault {
  const char *kind;
  std::vector<std::string> bytes;
};

std::vector<Fault> faults() {
  std::vector<Fault> f = {
      {"truncated sequence", {"\xC3", "\xE2\x82", "\xE2", "\xF0\x9F\x98", "\xF0\x9F", "\xF0"}},
      {"stray continuation byte", {"\x80", "\xBF", "\x80\x80"}},
      {"overlong form",
       {"\xC0\x80", "\xC1\xBF", "\xE0\x80\x80", "\xE0\x9F\xBF", "\xF0\x80\x80\x80",
        "\xF0\x8F\xBF\xBF"}},
      {"surrogate", {"\xED\xA0\x80", "\xED\xAF\xBF", "\xED\xB0\x80", "\xED\xBF\xBF"}},
      {"above U+10FFFF", {"\xF4\x90\x80\x80", "\xF4\xBF\xBF\xBF", "\xF7\xBF\xBF\xBF"}},
      {"byte 0xF5-0xFF", {}},
  };
  for (int b = 0xF5; b <= 0xFF; ++b) {
    f.back().bytes.push_back(std::string(1, static_cast<char>(b)));
    f.back().bytes.push_back(std::string(1, static_cast<char>(b)) + "\x80\x80\x80\x80");
  }
  return f;
}

TEST(HashDecoders, AgreeOnEveryFaultAtEveryOffsetOfABlock) {
  // Texts of each script alone and mixed, long enough for every decoder to
  // take whole words and vector blocks before and after the fault.
  std::mt19937 rng(7);
  std::vector<std::string> bases;
  for (unsigned mix : {1u, 2u, 4u, 8u, 3u, 6u, 15u}) bases.push_back(random_text(rng, mix, 200));
  for (const Fault &fault : faults()) {
    SCOPED_TRACE(fault.kind);
    for (const std::string &base : bases) {
      // Every offset through two of the largest vector blocks (64 bytes)
      // and the two bytes after them, moved forward to the next character
      // boundary.
      for (size_t offset = 0; offset <= 130; ++offset) {
        size_t at = offset;
        while (at < base.size() &&
               reference::is_continuation(static_cast<unsigned char>(base[at]))) {
          ++at;
        }
        for (const std::string &bad : fault.bytes) {
          std::string text = base.substr(0, at) + bad + base.substr(at);
          ASSERT_FALSE(reference::hash_of_text(text)) << hex(text);
          if (!decoders_agree(text)) return;
          // The fault as the last bytes of the text.
          if (!decoders_agree(base.substr(0, at) + bad)) return;
        }
      }
    }
  }
}

}  // namespace
