// Callbacks that call back into the library while it is inside
// tpsubm_detect_languages or tpsubm_display_name: cleaning lines, running
// detection, destroying the track, clearing everything. Meant to run under
// AddressSanitizer, which turns any touch of released memory into a failure.
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support.h"
#include "tpsubm.h"

namespace {

using Lines = std::vector<std::string>;

// A detector whose behaviour each test supplies: `on_call` runs first with
// the 1-based call number and the text, then the answer is the first two
// bytes after any leading spaces ("en" for " en one"). Every text is recorded after on_call has
// run, so a text that the callback's own calls released would show up as a use after free.
struct Hook {
  int calls = 0;
  Lines seen;
  std::function<void(int call, const char *text)> on_call;
  std::string answer;
};

const char *hooked(void *ctx, const char *text) {
  auto *h = static_cast<Hook *>(ctx);
  ++h->calls;
  if (h->on_call) h->on_call(h->calls, text);
  h->seen.emplace_back(text);
  h->answer = std::string(text + std::strspn(text, " ")).substr(0, 2);
  return h->answer.c_str();
}

int32_t make_track(const std::vector<Lines> &cues) {
  int32_t id = tpsubm_create("parent", 0, 0, 0, 0, nullptr);
  EXPECT_GE(id, 0);
  for (size_t i = 0; i < cues.size(); ++i) {
    int32_t start = static_cast<int32_t>(i) * 1000;
    int32_t pos = tpsubm_add_cue(id, start, start + 900);
    for (const std::string &line : cues[i]) {
      EXPECT_EQ(tpsubm_add_cue_line(id, pos, line.c_str()), TPSUBM_OK);
    }
  }
  EXPECT_EQ(tpsubm_finalize(id), TPSUBM_OK);
  return id;
}

Lines cue_lines(int32_t id, int32_t pos) {
  Lines out;
  for (int32_t k = 0; k < tpsubm_cue_line_count(id, pos); ++k)
    out.emplace_back(tpsubm_cue_line(id, pos, k));
  return out;
}

// Plain and marked-up lines mixed, so that a callback can strike while a
// plain line or a cleaned part is being handed over.
const std::vector<Lines> kMixed = {
    {"en plain", "{\\an8}en one\\Nen two"}, {"fr plain"}, {"{\\i1}fr three"}, {"en last"}};
const Lines kMixedHanded = {"en plain", " en one", "en two", "fr plain", " fr three", "en last"};

class Reentrancy : public ::testing::Test {
 protected:
  void SetUp() override {
    tpsubm_clear();
    tpsubm_set_detector(hooked, &hook_);
    tpsubm_set_translator(nullptr, nullptr);
    tpsubm_set_bilingual_threshold(0.7);
  }
  void TearDown() override { tpsubm_test::reset_library(); }
  Hook hook_;
};

TEST_F(Reentrancy, DetectorThatCleansLinesLeavesTheRunIntact) {
  hook_.on_call = [](int, const char *) {
    ASSERT_EQ(tpsubm_clean_line("{x}zz\\Nyy\\Nww\\Nvv"), TPSUBM_OK);
    ASSERT_EQ(tpsubm_clean_part_count(), 4);
  };
  int32_t id = make_track(kMixed);
  ASSERT_EQ(tpsubm_detect_languages(id), TPSUBM_OK);
  EXPECT_EQ(hook_.seen, kMixedHanded);
  EXPECT_EQ(cue_lines(id, 0), (Lines{"en plain", " en one", "en two"}));
  EXPECT_EQ(cue_lines(id, 1), (Lines{"fr plain"}));
  EXPECT_EQ(cue_lines(id, 2), (Lines{" fr three"}));
  EXPECT_STREQ(tpsubm_language1(id), "en");
  EXPECT_EQ(tpsubm_language1_lines(id), 4);
}

TEST_F(Reentrancy, DetectorMayRunDetectionOnAnotherTrack) {
  int32_t other = make_track({{"{\\b1}de eins\\Nde zwei"}, {"it uno"}});
  int32_t id = make_track(kMixed);
  int32_t nested_status = -1;
  hook_.on_call = [&](int call, const char *) {
    if (call == 2) nested_status = tpsubm_detect_languages(other);
  };
  ASSERT_EQ(tpsubm_detect_languages(id), TPSUBM_OK);
  EXPECT_EQ(nested_status, TPSUBM_OK);
  EXPECT_STREQ(tpsubm_language1(other), "de");
  EXPECT_STREQ(tpsubm_language2(other), "it");
  EXPECT_EQ(cue_lines(other, 0), (Lines{" de eins", "de zwei"}));
  EXPECT_STREQ(tpsubm_language1(id), "en");
  EXPECT_EQ(tpsubm_language1_lines(id), 4);
  EXPECT_EQ(cue_lines(id, 0), (Lines{"en plain", " en one", "en two"}));
  EXPECT_EQ(cue_lines(id, 2), (Lines{" fr three"}));
}

TEST_F(Reentrancy, NestedDetectionOfTheSameTrackIsRefused) {
  int32_t id = make_track(kMixed);
  int32_t nested_status = -1;
  std::string nested_error;
  hook_.on_call = [&](int call, const char *) {
    if (call != 3) return;
    nested_status = tpsubm_detect_languages(id);
    nested_error = tpsubm_last_error();
  };
  ASSERT_EQ(tpsubm_detect_languages(id), TPSUBM_OK);
  EXPECT_EQ(nested_status, TPSUBM_INVALID);
  EXPECT_EQ(nested_error, "detection in progress");
  EXPECT_EQ(hook_.seen, kMixedHanded);
  EXPECT_STREQ(tpsubm_language1(id), "en");
  EXPECT_EQ(tpsubm_language1_lines(id), 4);
  EXPECT_STREQ(tpsubm_language2(id), "fr");
  EXPECT_EQ(tpsubm_language2_lines(id), 2);

  // The track is no longer marked as being detected.
  hook_.on_call = nullptr;
  EXPECT_EQ(tpsubm_detect_languages(id), TPSUBM_OK);
  EXPECT_STREQ(tpsubm_last_error(), "");
}

// The run leaves the message of the detector's own calls in place, but
// cleaning the next marked-up line empties it, as tpsubm_clean_line does.
TEST_F(Reentrancy, MessageLeftByTheDetectorStaysUntilTheRunCleansALine) {
  int32_t id = make_track(kMixed);
  std::vector<std::string> seen;  // the message when each call starts
  hook_.on_call = [&](int call, const char *) {
    seen.emplace_back(tpsubm_last_error());
    if (call == 1 || call == 3 || call == 6) {
      EXPECT_EQ(tpsubm_destroy(-1), TPSUBM_NO_SUCH_ID);
    }
  };
  ASSERT_EQ(tpsubm_detect_languages(id), TPSUBM_OK);
  ASSERT_EQ(hook_.seen, kMixedHanded);
  // Calls 2 and 5 hand over parts of a marked-up line cleaned after calls 1
  // and 4; nothing is cleaned between calls 3 and 4.
  EXPECT_EQ(seen, (std::vector<std::string>{"", "", "", "no such id", "", ""}));
  EXPECT_STREQ(tpsubm_last_error(), "no such id");  // left by call 6
}

TEST_F(Reentrancy, DetectorThatDestroysTheTrackEndsTheRun) {
  const int handed = static_cast<int>(kMixedHanded.size());
  for (int n = 1; n <= handed; ++n) {
    SCOPED_TRACE("destroyed at call " + std::to_string(n));
    tpsubm_clear();
    hook_ = Hook{};
    int32_t keep = make_track({{"x"}});
    int32_t id = make_track(kMixed);
    hook_.on_call = [&, n](int call, const char *) {
      if (call == n) {
        ASSERT_EQ(tpsubm_destroy(id), TPSUBM_OK);
      }
    };
    EXPECT_EQ(tpsubm_detect_languages(id), TPSUBM_NO_SUCH_ID);
    EXPECT_STREQ(tpsubm_last_error(), "no such id");
    EXPECT_EQ(hook_.calls, n);  // nothing handed over after the destroy
    EXPECT_EQ(hook_.seen, Lines(kMixedHanded.begin(), kMixedHanded.begin() + n));
    EXPECT_EQ(tpsubm_language1(id), nullptr);
    EXPECT_EQ(tpsubm_create("again", 0, 0, 0, 0, nullptr), id);  // the slot is free
    EXPECT_EQ(cue_lines(keep, 0), (Lines{"x"}));
  }
}

TEST_F(Reentrancy, DetectorThatClearsTheLibraryEndsTheRun) {
  for (int n : {1, 2, 6}) {
    SCOPED_TRACE("cleared at call " + std::to_string(n));
    tpsubm_clear();
    hook_ = Hook{};
    int32_t other = make_track({{"x"}});
    int32_t id = make_track(kMixed);
    hook_.on_call = [n](int call, const char *) {
      if (call == n) tpsubm_clear();
    };
    EXPECT_EQ(tpsubm_detect_languages(id), TPSUBM_NO_SUCH_ID);
    EXPECT_STREQ(tpsubm_last_error(), "no such id");
    EXPECT_EQ(hook_.calls, n);
    EXPECT_EQ(tpsubm_language1(id), nullptr);
    EXPECT_EQ(tpsubm_language1(other), nullptr);
    // The detector stays registered.
    hook_.on_call = nullptr;
    int32_t fresh = make_track({{"en x"}});
    EXPECT_EQ(tpsubm_detect_languages(fresh), TPSUBM_OK);
  }
}

TEST_F(Reentrancy, RunDoesNotTouchANewTrackInTheSameSlot) {
  for (int n : {1, 2, 3, 6}) {
    SCOPED_TRACE("replaced at call " + std::to_string(n));
    tpsubm_clear();
    hook_ = Hook{};
    int32_t id = make_track(kMixed);
    int32_t replacement = -1;
    std::string replacement_hash;
    hook_.on_call = [&, n](int call, const char *) {
      if (call != n) return;
      ASSERT_EQ(tpsubm_destroy(id), TPSUBM_OK);
      replacement = make_track({{"{\\an8}new\\Nlines"}, {"more"}});
      replacement_hash = tpsubm_file_hash(replacement);
    };
    EXPECT_EQ(tpsubm_detect_languages(id), TPSUBM_NO_SUCH_ID);
    EXPECT_STREQ(tpsubm_last_error(), "no such id");
    ASSERT_EQ(replacement, id);
    EXPECT_EQ(hook_.calls, n);
    EXPECT_EQ(tpsubm_cue_line_count(replacement, 0), 1);
    EXPECT_EQ(cue_lines(replacement, 0), (Lines{"{\\an8}new\\Nlines"}));
    EXPECT_EQ(cue_lines(replacement, 1), (Lines{"more"}));
    EXPECT_EQ(tpsubm_file_hash(replacement), replacement_hash);
    EXPECT_STREQ(tpsubm_language1(replacement), "");
    EXPECT_EQ(tpsubm_language1_lines(replacement), 0);

    // The new track is not marked as being detected.
    hook_.on_call = nullptr;
    EXPECT_EQ(tpsubm_detect_languages(replacement), TPSUBM_OK);
    EXPECT_EQ(cue_lines(replacement, 0), (Lines{" new", "lines"}));
  }
}

// A translator whose behaviour each test supplies, answering "T-" and the
// English name.
struct TranslatorHook {
  int calls = 0;
  std::function<void(int call)> on_call;
  std::string answer;
};

const char *translator_hooked(void *ctx, const char *english) {
  auto *t = static_cast<TranslatorHook *>(ctx);
  ++t->calls;
  if (t->on_call) t->on_call(t->calls);
  t->answer = std::string("T-") + english;
  return t->answer.c_str();
}

// A track detected as English and French in equal parts (bilingual), or as
// English alone.
int32_t named_track(bool bilingual) {
  std::vector<Lines> cues = {{"en a"}, {"en b"}};
  if (bilingual) cues.insert(cues.end(), {{"fr a"}, {"fr b"}});
  int32_t id = make_track(cues);
  EXPECT_EQ(tpsubm_detect_languages(id), TPSUBM_OK);
  return id;
}

TEST_F(Reentrancy, TranslatorThatDestroysTheTrackGivesNull) {
  struct Case {
    bool bilingual;
    int destroy_at;
  };
  const Case cases[] = {{false, 1}, {true, 1}, {true, 2}};
  TranslatorHook hook;
  tpsubm_set_translator(translator_hooked, &hook);
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.bilingual ? "bilingual" : "one language") + ", call " +
                 std::to_string(c.destroy_at));
    tpsubm_clear();
    hook = TranslatorHook{};
    int32_t id = named_track(c.bilingual);
    hook.on_call = [&](int call) {
      if (call == c.destroy_at) {
        ASSERT_EQ(tpsubm_destroy(id), TPSUBM_OK);
      }
    };
    EXPECT_EQ(tpsubm_display_name(id), nullptr);
    EXPECT_EQ(hook.calls, c.destroy_at);
    EXPECT_EQ(tpsubm_create("again", 0, 0, 0, 0, nullptr), id);
  }
}

TEST_F(Reentrancy, TranslatorThatClearsTheLibraryGivesNull) {
  TranslatorHook hook;
  hook.on_call = [](int) { tpsubm_clear(); };
  tpsubm_set_translator(translator_hooked, &hook);
  int32_t id = named_track(true);
  EXPECT_EQ(tpsubm_display_name(id), nullptr);
  EXPECT_EQ(hook.calls, 1);
  EXPECT_EQ(tpsubm_display_name(id), nullptr);
}

TEST_F(Reentrancy, TranslatorMayAskForTheSameDisplayNameOnce) {
  TranslatorHook hook;
  tpsubm_set_translator(translator_hooked, &hook);
  int32_t id = tpsubm_create("parent", 0, 0, 1, 0, "pgssub");
  for (const char *line : {"en a", "en b", "fr a", "fr b"}) {
    int32_t pos = tpsubm_add_cue(id, 0, 100);
    ASSERT_EQ(tpsubm_add_cue_line(id, pos, line), TPSUBM_OK);
  }
  ASSERT_EQ(tpsubm_finalize(id), TPSUBM_OK);
  ASSERT_EQ(tpsubm_detect_languages(id), TPSUBM_OK);
  std::string nested;
  hook.on_call = [&](int call) {
    if (call != 1) return;
    const char *inner = tpsubm_display_name(id);
    ASSERT_NE(inner, nullptr);
    nested = inner;
  };
  const char *outer = tpsubm_display_name(id);
  ASSERT_NE(outer, nullptr);
  EXPECT_STREQ(outer, "[ T-English & T-French PGS ]");
  EXPECT_EQ(nested, "[ T-English & T-French PGS ]");
  EXPECT_EQ(hook.calls, 4);  // two for the outer name, two for the nested one
}

}  // namespace
