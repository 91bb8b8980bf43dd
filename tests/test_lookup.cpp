// Time lookup and cue fields, as a player uses them during playback: which
// cue to show at a time, which cues are on screen, the cue readers, the
// consumed mark and the effective time of a track.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "support.h"
#include "tpsubm.h"

namespace {

struct cue_def {
  int32_t start;
  int32_t end;
  std::vector<std::string> lines;
};

class LookupTest : public ::testing::Test {
 protected:
  void SetUp() override { tpsubm_test::reset_library(); }
  void TearDown() override { tpsubm_clear(); }

  // A track holding the cues in the given order, finalized unless asked not
  // to be. Index 1 keeps finalize from deriving one.
  static int32_t track(const std::vector<cue_def> &cues, bool finalize = true) {
    int32_t id = tpsubm_create("media", 1, 0, 0, 0, nullptr);
    EXPECT_GE(id, 0);
    for (const cue_def &c : cues) {
      int32_t pos = tpsubm_add_cue(id, c.start, c.end);
      EXPECT_GE(pos, 0);
      for (const std::string &line : c.lines) {
        EXPECT_EQ(tpsubm_add_cue_line(id, pos, line.c_str()), TPSUBM_OK);
      }
    }
    if (finalize) {
      EXPECT_EQ(tpsubm_finalize(id), TPSUBM_OK);
    }
    return id;
  }

  // The active list as the last tpsubm_active_cues left it.
  static std::vector<int32_t> active_list() {
    std::vector<int32_t> list;
    for (int32_t i = 0; i < tpsubm_active_count(); ++i) list.push_back(tpsubm_active_index(i));
    return list;
  }

  static std::vector<int32_t> active_at(int32_t id, int32_t t) {
    EXPECT_EQ(tpsubm_active_cues(id, t), TPSUBM_OK);
    return active_list();
  }

  // Leaves a non-empty active list behind, so that a test can see a later
  // call empty it.
  static void fill_active_list() {
    int32_t other = track({{0, 100, {"x"}}, {0, 100, {"y"}}});
    ASSERT_EQ(tpsubm_active_cues(other, 50), TPSUBM_OK);
    ASSERT_EQ(tpsubm_active_count(), 2);
  }

  // An id whose slot was used and is free again.
  static int32_t free_slot() {
    int32_t id = tpsubm_create("gone", 1, 0, 0, 0, nullptr);
    EXPECT_GE(id, 0);
    EXPECT_EQ(tpsubm_destroy(id), TPSUBM_OK);
    return id;
  }
};

TEST_F(LookupTest, ChoosesHigherScoreThenLowerPosition) {
  struct {
    const char *name;
    std::vector<cue_def> cues;
    int32_t t;
    int32_t expected;
  } cases[] = {
      {"equal scores: lower position", {{1000, 2000, {"ab"}}, {1500, 2500, {"cd"}}}, 1700, 0},
      {"later cue scores higher", {{1000, 2000, {"ab"}}, {1500, 2500, {"cde"}}}, 1700, 1},
      {"earlier cue scores higher", {{1000, 2000, {"abc"}}, {1500, 2500, {"cd"}}}, 1700, 0},
      // Position, not start time, breaks the tie.
      {"later start, lower position", {{1500, 2500, {"ab"}}, {1000, 2000, {"cd"}}}, 1700, 0},
      {"equal starts", {{1000, 2000, {"ab"}}, {1000, 2000, {"cd"}}}, 1500, 0},
      // Scores add up over the visible lines; a blank line counts nothing.
      {"two lines beat one", {{0, 100, {"abc"}}, {0, 100, {"ab", "cd"}}}, 50, 1},
      {"blank line adds nothing", {{0, 100, {"abc"}}, {0, 100, {"ab", "    "}}}, 50, 0},
      // A cue with nothing visible (score -1) is still shown when it is the
      // only one on screen, and loses to any visible cue.
      {"only a blank cue", {{0, 100, {"  "}}}, 50, 0},
      {"only a cue without lines", {{0, 100, {}}}, 50, 0},
      {"visible beats blank", {{0, 100, {" "}}, {0, 100, {}}, {0, 100, {"a"}}}, 50, 2},
      {"blank ties by position", {{10, 100, {" "}}, {0, 100, {}}}, 50, 0},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    tpsubm_clear();
    int32_t id = track(c.cues);
    EXPECT_EQ(tpsubm_cue_at(id, c.t), c.expected);
    EXPECT_EQ(tpsubm_cue_at_linear(id, c.t), c.expected);
  }
}

TEST_F(LookupTest, StartIsInclusiveEndIsExclusive) {
  // Back to back cues, and two that are never active (empty and reversed
  // span).
  int32_t id = track({{1000, 2000, {"first"}},
                      {2000, 3000, {"second"}},
                      {2500, 2500, {"empty span"}},
                      {2800, 2600, {"reversed span"}}});
  struct {
    int32_t t;
    int32_t expected;
  } cases[] = {{999, -1}, {1000, 0}, {1999, 0},  {2000, 1}, {2500, 1},
               {2700, 1}, {2999, 1}, {3000, -1}, {0, -1},   {-1, -1}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.t);
    EXPECT_EQ(tpsubm_cue_at(id, c.t), c.expected);
    EXPECT_EQ(tpsubm_cue_at_linear(id, c.t), c.expected);
    std::vector<int32_t> expected_list;
    if (c.expected >= 0) expected_list.push_back(c.expected);
    EXPECT_EQ(active_at(id, c.t), expected_list);
  }
}

TEST_F(LookupTest, LongCueIsReachedBackThroughTheLongestSpan) {
  // One cue of 100 s, then many short ones that start long after it. The
  // lookups must reach back past all of them to find the long cue.
  std::vector<cue_def> cues{{0, 100000, {"x"}}};
  for (int32_t i = 0; i < 990; ++i) cues.push_back({1000 + 100 * i, 1050 + 100 * i, {"short"}});
  // The same shape again, away from 0, so that the lower bound is positive.
  cues.push_back({500000, 600000, {"y"}});
  for (int32_t i = 0; i < 990; ++i) cues.push_back({501000 + 100 * i, 501050 + 100 * i, {"short"}});
  int32_t id = track(cues);
  const int32_t second_long = 991;

  EXPECT_EQ(active_at(id, 99999), (std::vector<int32_t>{0}));
  EXPECT_EQ(tpsubm_cue_at(id, 99999), 0);
  // Short cue 989 runs from 99900 to 99950 and outscores the long one.
  EXPECT_EQ(active_at(id, 99920), (std::vector<int32_t>{0, 990}));
  EXPECT_EQ(tpsubm_cue_at(id, 99920), 990);
  EXPECT_EQ(active_at(id, 100000), (std::vector<int32_t>{}));
  EXPECT_EQ(tpsubm_cue_at(id, 100000), -1);

  EXPECT_EQ(active_at(id, 599999), (std::vector<int32_t>{second_long}));
  EXPECT_EQ(tpsubm_cue_at(id, 599999), second_long);
  EXPECT_EQ(tpsubm_cue_at(id, 500000), second_long);
  EXPECT_EQ(tpsubm_cue_at(id, 600000), -1);
}

TEST_F(LookupTest, ActiveListKeepsTheFirst256ByStartThenPosition) {
  // 300 cues on screen at once, added out of start order, with runs of
  // equal starts.
  std::vector<cue_def> cues;
  for (int32_t i = 0; i < 300; ++i) cues.push_back({(300 - i) / 3, 10000, {"c"}});
  int32_t id = track(cues);
  std::vector<int32_t> by_order(300);
  for (int32_t i = 0; i < 300; ++i) by_order[i] = i;
  std::stable_sort(by_order.begin(), by_order.end(),
                   [&](int32_t a, int32_t b) { return cues[a].start < cues[b].start; });
  by_order.resize(TPSUBM_MAX_ACTIVE);

  EXPECT_EQ(tpsubm_active_cues(id, 5000), TPSUBM_OK);
  EXPECT_EQ(tpsubm_active_count(), TPSUBM_MAX_ACTIVE);
  EXPECT_EQ(active_list(), by_order);
  EXPECT_EQ(tpsubm_active_index(TPSUBM_MAX_ACTIVE), -1);
  // The cap does not limit the single-cue answer: the lowest position wins.
  EXPECT_EQ(tpsubm_cue_at(id, 5000), 0);
}

TEST_F(LookupTest, NegativeStartIsSeenOnlyByTheLinearScan) {
  int32_t id = track({{-500, 500, {"negative"}}, {100, 200, {"a"}}, {INT32_MIN, -400, {"b"}}});
  struct {
    int32_t t;
    int32_t cue_at;
    int32_t linear;
    std::vector<int32_t> active;
  } cases[] = {
      {-100, -1, 0, {}}, {150, 1, 0, {1}},  // the negative cue scores higher but is not searched
      {300, -1, 0, {}},  {INT32_MIN, -1, 2, {}}, {-450, -1, 0, {}},  // score 8 beats score 1
      {-400, -1, 0, {}}, {500, -1, -1, {}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.t);
    EXPECT_EQ(tpsubm_cue_at(id, c.t), c.cue_at);
    EXPECT_EQ(tpsubm_cue_at_linear(id, c.t), c.linear);
    EXPECT_EQ(active_at(id, c.t), c.active);
  }
}

TEST_F(LookupTest, OpenTrackIsAnsweredOnlyByTheLinearScanAndTheReaders) {
  fill_active_list();
  // Position 0 starts later than position 1; before finalize every score is
  // -1, so the lowest active position wins whatever the lines.
  int32_t id = track({{200, 400, {"a"}}, {100, 300, {"much longer line", "two"}}}, false);
  EXPECT_EQ(tpsubm_cue_at(id, 250), -1);
  EXPECT_EQ(tpsubm_active_cues(id, 250), TPSUBM_NO_SUCH_ID);
  EXPECT_EQ(tpsubm_active_count(), 0);
  EXPECT_EQ(tpsubm_cue_at_linear(id, 250), 0);
  EXPECT_EQ(tpsubm_cue_at_linear(id, 150), 1);
  EXPECT_EQ(tpsubm_cue_at_linear(id, 350), 0);
  EXPECT_EQ(tpsubm_cue_at_linear(id, 400), -1);

  EXPECT_EQ(tpsubm_cue_start_ms(id, 1), 100);
  EXPECT_EQ(tpsubm_cue_end_ms(id, 1), 300);
  EXPECT_EQ(tpsubm_cue_line_count(id, 1), 2);
  EXPECT_STREQ(tpsubm_cue_line(id, 1, 1), "two");
  EXPECT_EQ(tpsubm_cue_char_score(id, 1), -1);
  EXPECT_EQ(tpsubm_cue_set_consumed(id, 1, 1), TPSUBM_OK);
  EXPECT_EQ(tpsubm_cue_consumed(id, 1), 1);

  // Once finalized the fast lookups answer too, by score.
  ASSERT_EQ(tpsubm_finalize(id), TPSUBM_OK);
  EXPECT_EQ(tpsubm_cue_at(id, 250), 1);
  EXPECT_EQ(tpsubm_cue_at_linear(id, 250), 1);
  EXPECT_EQ(active_at(id, 250), (std::vector<int32_t>{1, 0}));
}

TEST_F(LookupTest, TrackWithoutCuesHasNothingActive) {
  int32_t open = track({}, false);
  EXPECT_EQ(tpsubm_cue_at_linear(open, 0), -1);

  int32_t id = track({});
  fill_active_list();
  EXPECT_EQ(tpsubm_cue_at(id, 0), -1);
  EXPECT_EQ(tpsubm_cue_at_linear(id, 0), -1);
  EXPECT_EQ(tpsubm_active_cues(id, 0), TPSUBM_OK);
  EXPECT_EQ(tpsubm_active_count(), 0);
}

TEST_F(LookupTest, InvalidIdsAnswerNothingAndEmptyTheActiveList) {
  struct {
    const char *name;
    int32_t id;  // ignored for the free slot
    bool free_slot;
  } cases[] = {{"one past the last slot", TPSUBM_MAX_HANDLES, false},
               {"-1", -1, false},
               {"smallest", INT32_MIN, false},
               {"largest", INT32_MAX, false},
               {"free slot", 0, true}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    tpsubm_clear();
    fill_active_list();
    int32_t id = c.free_slot ? free_slot() : c.id;
    EXPECT_EQ(tpsubm_active_cues(id, 50), TPSUBM_NO_SUCH_ID);
    EXPECT_EQ(tpsubm_active_count(), 0);
    EXPECT_EQ(tpsubm_active_index(0), -1);
    EXPECT_EQ(tpsubm_cue_at(id, 50), -1);
    EXPECT_EQ(tpsubm_cue_at_linear(id, 50), -1);
  }
}

TEST_F(LookupTest, ActiveIndexOutsideTheListIsMinusOne) {
  int32_t id = track({{0, 100, {"a"}}, {0, 100, {"b"}}, {50, 100, {"c"}}});
  ASSERT_EQ(active_at(id, 60), (std::vector<int32_t>{0, 1, 2}));
  for (int32_t i : {-1, 3, 4, TPSUBM_MAX_ACTIVE, INT32_MIN, INT32_MAX}) {
    SCOPED_TRACE(i);
    EXPECT_EQ(tpsubm_active_index(i), -1);
  }
  // A later query with fewer cues shortens the list: old entries are gone.
  ASSERT_EQ(active_at(id, 10), (std::vector<int32_t>{0, 1}));
  EXPECT_EQ(tpsubm_active_index(2), -1);
}

TEST_F(LookupTest, ActiveListOutlivesItsTrackUntilClear) {
  int32_t id = track({{0, 100, {"a"}}, {10, 100, {"b"}}});
  ASSERT_EQ(active_at(id, 50), (std::vector<int32_t>{0, 1}));
  ASSERT_EQ(tpsubm_destroy(id), TPSUBM_OK);
  EXPECT_EQ(active_list(), (std::vector<int32_t>{0, 1}));
  tpsubm_clear();
  EXPECT_EQ(tpsubm_active_count(), 0);
  EXPECT_EQ(tpsubm_active_index(0), -1);
}

TEST_F(LookupTest, LookupsAtTheEdgesOfTheTimeRange) {
  struct {
    const char *name;
    std::vector<cue_def> cues;
    int32_t t;
    int32_t cue_at;
    int32_t linear;
    std::vector<int32_t> active;
  } cases[] = {
      {"cue ending at the largest time, at it", {{5, INT32_MAX, {"a"}}}, INT32_MAX, -1, -1, {}},
      {"cue ending at the largest time, just before",
       {{5, INT32_MAX, {"a"}}},
       INT32_MAX - 1,
       0,
       0,
       {0}},
      {"cue ending at the largest time, at the smallest",
       {{5, INT32_MAX, {"a"}}},
       INT32_MIN,
       -1,
       -1,
       {}},
      {"span of the whole positive range",
       {{0, INT32_MAX, {"a"}}, {100, 200, {"b"}}},
       INT32_MAX - 1,
       0,
       0,
       {0}},
      // The lower bound t - longest span stays far above 0 here.
      {"short cue at the top",
       {{0, 1000, {"a"}}, {INT32_MAX - 10, INT32_MAX, {"b"}}},
       INT32_MAX - 1,
       1,
       1,
       {1}},
      // t - longest span goes below the smallest time and must wrap without
      // skipping or inventing cues.
      {"negative t with a long span",
       {{0, 1000000, {"a"}}, {INT32_MIN, INT32_MIN + 10, {"bb"}}},
       INT32_MIN + 5,
       -1,
       1,
       {}},
      {"smallest t, cue starting at it",
       {{INT32_MIN, INT32_MIN + 1, {"a"}}, {0, 10, {"b"}}},
       INT32_MIN,
       -1,
       0,
       {}},
      // A span wider than the largest time (from a negative start) must not
      // hide the cues that the fast lookups search.
      {"widest span, positive t",
       {{INT32_MIN, INT32_MAX, {"wide"}}, {100, 200, {"b"}}},
       150,
       1,
       0,
       {1}},
      {"widest span, t near the top",
       {{INT32_MIN, INT32_MAX, {"w"}}, {INT32_MAX - 5, INT32_MAX, {"b"}}},
       INT32_MAX - 1,
       1,
       0,
       {1}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    tpsubm_clear();
    int32_t id = track(c.cues);
    EXPECT_EQ(tpsubm_cue_at(id, c.t), c.cue_at);
    EXPECT_EQ(tpsubm_cue_at_linear(id, c.t), c.linear);
    EXPECT_EQ(active_at(id, c.t), c.active);
  }
}

TEST_F(LookupTest, EffectiveTimeAddsTheDelayOfAValidTrackAndWraps) {
  int32_t delayed = tpsubm_create("media", 1, 250, 0, 0, nullptr);
  int32_t at_max = tpsubm_create("media", 2, INT32_MAX, 0, 0, nullptr);
  int32_t at_min = tpsubm_create("media", 3, INT32_MIN, 0, 0, nullptr);
  ASSERT_GE(at_min, 0);
  int32_t gone = free_slot();
  struct {
    const char *name;
    int32_t id;
    int32_t t, x, y, z;
    int32_t expected;
  } cases[] = {
      {"invalid id adds nothing", TPSUBM_MAX_HANDLES, 1000, 1, 2, 3, 1006},
      {"negative id adds nothing", -1, 1000, 1, 2, 3, 1006},
      {"free slot adds nothing", gone, 1000, 1, 2, 3, 1006},
      {"delay 250", delayed, 1000, 1, 2, 3, 1256},
      {"negative offsets", delayed, 0, -100, -200, -300, -350},
      {"wraps past the top", TPSUBM_MAX_HANDLES, INT32_MAX, 1, 0, 0, INT32_MIN},
      {"wraps past the bottom", -1, INT32_MIN, 0, -1, 0, INT32_MAX},
      {"delay wraps past the top", at_max, 1, 0, 0, 0, INT32_MIN},
      {"delay wraps past the bottom", at_min, -1, 0, 0, 0, INT32_MAX},
      // Partial sums leave the range and come back: the result is exact.
      {"round trip through the top", -1, INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN, -2},
      {"round trip through both ends", at_max, INT32_MAX, INT32_MAX, INT32_MIN, 2, -1},
      {"all at the bottom", at_min, INT32_MIN, INT32_MIN, INT32_MIN, INT32_MIN, INT32_MIN},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(tpsubm_effective_ms(c.id, c.t, c.x, c.y, c.z), c.expected);
  }
  // The stored delay is read at the call, finalized or not.
  ASSERT_EQ(tpsubm_set_delay_ms(delayed, -40), TPSUBM_OK);
  EXPECT_EQ(tpsubm_effective_ms(delayed, 1000, 0, 0, 0), 960);
}

TEST_F(LookupTest, ConsumedMarkIsStoredAsZeroOrOneAndChangesNoLookup) {
  int32_t id = track({{0, 100, {"a"}}, {0, 100, {"b"}}});
  EXPECT_EQ(tpsubm_cue_consumed(id, 0), 0);
  struct {
    int32_t flag;
    int32_t stored;
  } flags[] = {{7, 1}, {0, 0}, {1, 1}, {-1, 1}, {INT32_MIN, 1}, {0, 0}};
  for (const auto &f : flags) {
    SCOPED_TRACE(f.flag);
    EXPECT_EQ(tpsubm_cue_set_consumed(id, 0, f.flag), TPSUBM_OK);
    EXPECT_EQ(tpsubm_cue_consumed(id, 0), f.stored);
    EXPECT_EQ(tpsubm_cue_consumed(id, 1), 0);
  }
  ASSERT_EQ(tpsubm_cue_set_consumed(id, 0, 1), TPSUBM_OK);
  EXPECT_EQ(tpsubm_cue_at(id, 50), 0);
  EXPECT_EQ(tpsubm_cue_at_linear(id, 50), 0);
  EXPECT_EQ(active_at(id, 50), (std::vector<int32_t>{0, 1}));
}

TEST_F(LookupTest, CueReadersGiveEachField) {
  int32_t id = track({{-20, 30, {"ab", "   ", "cde"}}, {40, 10, {}}});
  EXPECT_EQ(tpsubm_cue_start_ms(id, 0), -20);
  EXPECT_EQ(tpsubm_cue_end_ms(id, 0), 30);
  EXPECT_EQ(tpsubm_cue_line_count(id, 0), 3);
  EXPECT_STREQ(tpsubm_cue_line(id, 0, 0), "ab");
  EXPECT_STREQ(tpsubm_cue_line(id, 0, 1), "   ");
  EXPECT_STREQ(tpsubm_cue_line(id, 0, 2), "cde");
  EXPECT_EQ(tpsubm_cue_char_score(id, 0), 5);
  EXPECT_EQ(tpsubm_cue_start_ms(id, 1), 40);
  EXPECT_EQ(tpsubm_cue_end_ms(id, 1), 10);
  EXPECT_EQ(tpsubm_cue_line_count(id, 1), 0);
  EXPECT_EQ(tpsubm_cue_char_score(id, 1), -1);
}

TEST_F(LookupTest, CueReadersAnswerBadArgumentsNeutrally) {
  int32_t id = track({{100, 200, {"a", "b"}}, {300, 400, {"c"}}});
  int32_t gone = free_slot();
  struct {
    const char *name;
    int32_t id;
    int32_t position;
  } bad[] = {
      {"position = count", id, 2},
      {"position -1", id, -1},
      {"huge position", id, INT32_MAX},
      {"smallest position", id, INT32_MIN},
      {"invalid id", TPSUBM_MAX_HANDLES, 0},
      {"negative id", -1, 0},
      {"free slot", gone, 0},
  };
  for (const auto &b : bad) {
    SCOPED_TRACE(b.name);
    EXPECT_EQ(tpsubm_cue_start_ms(b.id, b.position), 0);
    EXPECT_EQ(tpsubm_cue_end_ms(b.id, b.position), 0);
    EXPECT_EQ(tpsubm_cue_line_count(b.id, b.position), 0);
    EXPECT_EQ(tpsubm_cue_line(b.id, b.position, 0), nullptr);
    EXPECT_EQ(tpsubm_cue_char_score(b.id, b.position), -1);
    EXPECT_EQ(tpsubm_cue_set_consumed(b.id, b.position, 1), TPSUBM_INVALID);
    EXPECT_EQ(tpsubm_cue_consumed(b.id, b.position), 0);
  }
  EXPECT_EQ(tpsubm_cue_consumed(id, 0), 0);
  EXPECT_EQ(tpsubm_cue_consumed(id, 1), 0);

  for (int32_t k : {2, -1, INT32_MAX, INT32_MIN}) {
    SCOPED_TRACE(k);
    EXPECT_EQ(tpsubm_cue_line(id, 0, k), nullptr);
  }
  EXPECT_EQ(tpsubm_cue_line(id, 1, 1), nullptr);
  EXPECT_STREQ(tpsubm_cue_line(id, 0, 1), "b");
}

TEST_F(LookupTest, LookupsAndReadersLeaveTheMessage) {
  int32_t id = track({{0, 100, {"a"}}});
  ASSERT_EQ(tpsubm_destroy(TPSUBM_MAX_HANDLES), TPSUBM_NO_SUCH_ID);
  const std::string message = tpsubm_last_error();
  ASSERT_FALSE(message.empty());
  // Successes and failures alike.
  tpsubm_cue_at(id, 50);
  tpsubm_cue_at(-1, 50);
  tpsubm_cue_at_linear(id, 50);
  tpsubm_active_cues(id, 50);
  tpsubm_active_cues(-1, 50);
  tpsubm_active_index(5);
  tpsubm_effective_ms(id, 1, 2, 3, 4);
  tpsubm_cue_line(id, 0, 0);
  tpsubm_cue_line(id, 0, 9);
  tpsubm_cue_char_score(id, 7);
  tpsubm_cue_set_consumed(id, 0, 1);
  tpsubm_cue_set_consumed(id, 9, 1);
  EXPECT_EQ(tpsubm_last_error(), message);
  EXPECT_EQ(tpsubm_warning_count(), 0);
}

// Random tracks: the indexed lookup, the linear scan and the active list all
// agree with a brute-force reading of the same cues.
TEST_F(LookupTest, LookupsAgreeWithABruteForceScanOnRandomTracks) {
  struct shape {
    int32_t cues;
    int32_t start_range;  // starts fall in 0..start_range
    int32_t max_length;
    bool negative_starts;
  } shapes[] = {
      {1, 100, 50, false},     {2, 10, 20, false},      {7, 50, 40, true},
      {40, 1000, 200, false},  {100, 5000, 1500, true}, {300, 20000, 20000, false},
      {600, 300, 3000, false},  // more than 256 cues on screen at once
      {200, 40, 60, true},      // many equal starts
  };
  std::mt19937 rng(20240611);
  for (const shape &s : shapes) {
    for (int round = 0; round < 4; ++round) {
      SCOPED_TRACE(testing::Message() << "cues " << s.cues << " round " << round);
      tpsubm_clear();
      auto pick = [&rng](int32_t lo, int32_t hi) {
        return std::uniform_int_distribution<int32_t>(lo, hi)(rng);
      };
      std::vector<cue_def> cues;
      for (int32_t i = 0; i < s.cues; ++i) {
        cue_def c;
        c.start = pick(0, s.start_range);
        if (s.negative_starts && pick(0, 9) == 0) c.start = -pick(1, s.start_range + 1);
        if (i > 0 && pick(0, 4) == 0) c.start = cues[pick(0, i - 1)].start;  // equal start
        int32_t length = pick(0, 19) == 0 ? -pick(0, 10) : pick(1, s.max_length);
        c.end = c.start + length;
        int32_t lines = pick(0, 3);
        for (int32_t k = 0; k < lines; ++k) {
          // Blank lines and short lines, so that scores often tie.
          std::string line(static_cast<size_t>(pick(0, 4)), pick(0, 3) == 0 ? ' ' : 'x');
          c.lines.push_back(line);
        }
        cues.push_back(c);
      }
      int32_t id = track(cues, false);

      std::vector<int32_t> times{INT32_MIN, INT32_MAX, 0, -1};
      for (const cue_def &c : cues) {
        for (int32_t t : {c.start, c.end, c.end - 1, c.start - 1}) times.push_back(t);
      }
      for (int i = 0; i < 50; ++i)
        times.push_back(pick(-s.start_range - 10, 2 * s.start_range + s.max_length));

      auto active = [&](size_t i, int32_t t) { return cues[i].start <= t && t < cues[i].end; };
      // Open track: every score is -1, so the lowest active position wins.
      for (int32_t t : times) {
        int32_t lowest = -1;
        for (size_t i = 0; i < cues.size() && lowest < 0; ++i) {
          if (active(i, t)) lowest = static_cast<int32_t>(i);
        }
        ASSERT_EQ(tpsubm_cue_at_linear(id, t), lowest) << "open track, t " << t;
      }

      ASSERT_EQ(tpsubm_finalize(id), TPSUBM_OK);
      std::vector<int32_t> score(cues.size());
      for (size_t i = 0; i < cues.size(); ++i) {
        score[i] = tpsubm_cue_char_score(id, static_cast<int32_t>(i));
      }
      std::vector<int32_t> by_start(cues.size());
      for (size_t i = 0; i < cues.size(); ++i) by_start[i] = static_cast<int32_t>(i);
      std::stable_sort(by_start.begin(), by_start.end(),
                       [&](int32_t a, int32_t b) { return cues[a].start < cues[b].start; });

      for (int32_t t : times) {
        SCOPED_TRACE(testing::Message() << "t " << t);
        // Best by score then position, over all cues and over those that
        // start at 0 or later.
        int32_t best_all = -1;
        int32_t best_nonnegative = -1;
        bool negative_active = false;
        for (size_t i = 0; i < cues.size(); ++i) {
          if (!active(i, t)) continue;
          int32_t p = static_cast<int32_t>(i);
          if (best_all < 0 || score[i] > score[best_all]) best_all = p;
          if (cues[i].start < 0) {
            negative_active = true;
          } else if (best_nonnegative < 0 || score[i] > score[best_nonnegative]) {
            best_nonnegative = p;
          }
        }
        int32_t at = tpsubm_cue_at(id, t);
        int32_t linear = tpsubm_cue_at_linear(id, t);
        ASSERT_EQ(linear, best_all);
        ASSERT_EQ(at, best_nonnegative);
        if (!negative_active) {
          ASSERT_EQ(at, linear);
        }

        std::vector<int32_t> expected;
        for (int32_t p : by_start) {
          if (cues[p].start >= 0 && active(static_cast<size_t>(p), t) &&
              expected.size() < TPSUBM_MAX_ACTIVE) {
            expected.push_back(p);
          }
        }
        ASSERT_EQ(active_at(id, t), expected);
      }
    }
  }
}

}  // namespace

namespace {

struct lookup_probe {
  int32_t id;
  int32_t t;
  std::vector<std::pair<int32_t, int32_t>> seen;  // (cue_at, cue_at_linear) at each call
};

const char *detector_that_looks_up(void *ctx, const char *) {
  auto *probe = static_cast<lookup_probe *>(ctx);
  probe->seen.emplace_back(tpsubm_cue_at(probe->id, probe->t),
                           tpsubm_cue_at_linear(probe->id, probe->t));
  return "en";
}

}  // namespace

// Detection rewrites marked-up lines and scores their cues again; the fast
// lookup must choose by the new scores, also while the run is in progress.
TEST_F(LookupTest, ChoiceFollowsScoresThatDetectionRewrote) {
  int32_t id = track({{0, 1000, {"{\\an8}{\\b1}{\\i1}ab{\\i0}"}},  // 23 bytes, " " x3 + "ab " after
                      {0, 1000, {"abcdefgh"}},
                      {2000, 3000, {"{\\i1}x"}}});
  ASSERT_EQ(tpsubm_cue_at(id, 500), 0);
  lookup_probe probe{id, 500, {}};
  tpsubm_set_detector(detector_that_looks_up, &probe);
  ASSERT_EQ(tpsubm_detect_languages(id), TPSUBM_OK);
  EXPECT_EQ(tpsubm_cue_char_score(id, 0), 6);
  EXPECT_EQ(tpsubm_cue_at(id, 500), 1);
  EXPECT_EQ(tpsubm_cue_at_linear(id, 500), 1);
  EXPECT_EQ(active_at(id, 500), (std::vector<int32_t>{0, 1}));
  ASSERT_EQ(probe.seen.size(), 3u);  // "   ab ", "abcdefgh", " x"
  for (const auto &[fast, linear] : probe.seen) EXPECT_EQ(fast, linear);
  EXPECT_EQ(probe.seen.back().first, 1);  // cue 0 was rescored before cue 2 was read
}
