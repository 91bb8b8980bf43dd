// Feeding cues and lines to a track and finalizing it, as a host sees it:
// positions, refusals, character scores, the start-time order, and the
// track's identity (file hash and index).
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support.h"
#include "tpsubm.h"

namespace {

struct Cue {
  int32_t start;
  int32_t end;
  std::vector<const char *> lines;
};

int32_t track_with(const std::vector<Cue> &cues, int32_t index = 0, const char *parent = "parent") {
  int32_t id = tpsubm_create(parent, index, 0, 0, 0, nullptr);
  EXPECT_GE(id, 0);
  for (const Cue &c : cues) {
    int32_t pos = tpsubm_add_cue(id, c.start, c.end);
    EXPECT_GE(pos, 0);
    for (const char *line : c.lines) EXPECT_EQ(tpsubm_add_cue_line(id, pos, line), TPSUBM_OK);
  }
  return id;
}

int32_t finalized_with(const std::vector<Cue> &cues, int32_t index = 0,
                       const char *parent = "parent") {
  int32_t id = track_with(cues, index, parent);
  EXPECT_EQ(tpsubm_finalize(id), TPSUBM_OK);
  return id;
}

int32_t hash_of(const std::string &text) {
  int32_t out = -1;
  EXPECT_EQ(tpsubm_stable_hash_utf8(text.c_str(), &out), TPSUBM_OK);
  return out;
}

std::string repeat(const std::string &s, size_t n) {
  std::string out;
  for (size_t i = 0; i < n; ++i) out += s;
  return out;
}

std::vector<int32_t> active_at(int32_t id, int32_t t) {
  EXPECT_EQ(tpsubm_active_cues(id, t), TPSUBM_OK);
  std::vector<int32_t> out;
  for (int32_t i = 0; i < tpsubm_active_count(); ++i) out.push_back(tpsubm_active_index(i));
  return out;
}

class Cues : public ::testing::Test {
 protected:
  void SetUp() override { reset(); }

 public:
  static void reset() { tpsubm_test::reset_library(); }
};

TEST_F(Cues, ReturnsSuccessivePositionsAndKeepsCuesWhenTheArrayGrows) {
  int32_t id = tpsubm_create("parent", 0, 0, 0, 0, nullptr);
  constexpr int32_t kCount = 40;  // past 16 and 32 records
  for (int32_t i = 0; i < kCount; ++i) {
    ASSERT_EQ(tpsubm_add_cue(id, i * 100, i * 100 + 50 + i), i);
    ASSERT_EQ(tpsubm_add_cue_line(id, i, ("cue " + std::to_string(i)).c_str()), TPSUBM_OK);
  }
  // Lines may go to any earlier cue.
  ASSERT_EQ(tpsubm_add_cue_line(id, 3, "late"), TPSUBM_OK);
  ASSERT_EQ(tpsubm_add_cue_line(id, 5, nullptr), TPSUBM_OK);

  for (int32_t i = 0; i < kCount; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(tpsubm_cue_start_ms(id, i), i * 100);
    EXPECT_EQ(tpsubm_cue_end_ms(id, i), i * 100 + 50 + i);
    EXPECT_STREQ(tpsubm_cue_line(id, i, 0), ("cue " + std::to_string(i)).c_str());
    EXPECT_EQ(tpsubm_cue_char_score(id, i), -1);  // not scored before finalize
    EXPECT_EQ(tpsubm_cue_consumed(id, i), 0);
  }
  EXPECT_EQ(tpsubm_cue_line_count(id, 3), 2);
  EXPECT_STREQ(tpsubm_cue_line(id, 3, 1), "late");
  EXPECT_EQ(tpsubm_cue_line_count(id, 5), 2);
  EXPECT_STREQ(tpsubm_cue_line(id, 5, 1), "");  // a null line is an empty one
}

TEST_F(Cues, RefusesNewCuesAndLinesOnceFinalizedTestingThePositionFirst) {
  int32_t id = finalized_with({{0, 1000, {"one"}}, {1000, 2000, {"two"}}});
  struct Case {
    const char *name;
    int32_t position;  // -100: add a cue instead of a line
    int32_t result;
    const char *message;
  };
  const Case cases[] = {
      {"add_cue", -100, -TPSUBM_INVALID, "already finalized"},
      {"line to cue 0", 0, TPSUBM_INVALID, "already finalized"},
      {"line to the last cue", 1, TPSUBM_INVALID, "already finalized"},
      {"line past the cues", 2, TPSUBM_INVALID, "bad cue"},
      {"line to -1", -1, TPSUBM_INVALID, "bad cue"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    int32_t rc = c.position == -100 ? tpsubm_add_cue(id, 5000, 6000)
                                    : tpsubm_add_cue_line(id, c.position, "more");
    EXPECT_EQ(rc, c.result);
    EXPECT_STREQ(tpsubm_last_error(), c.message);
  }
  EXPECT_EQ(tpsubm_cue_start_ms(id, 2), 0);  // no third cue
  EXPECT_EQ(tpsubm_cue_line_count(id, 0), 1);
  EXPECT_EQ(tpsubm_cue_line_count(id, 1), 1);
}

TEST_F(Cues, RefusesLinesForPositionsOutsideTheCues) {
  int32_t empty = track_with({});
  int32_t two = track_with({{0, 10, {}}, {10, 20, {}}});
  struct Case {
    int32_t id;
    int32_t position;
  };
  const Case cases[] = {{empty, 0}, {two, -1}, {two, 2}, {two, INT32_MIN}, {two, INT32_MAX}};
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << "id " << c.id << " position " << c.position);
    EXPECT_EQ(tpsubm_add_cue_line(c.id, c.position, "x"), TPSUBM_INVALID);
    EXPECT_STREQ(tpsubm_last_error(), "bad cue");
  }
  EXPECT_EQ(tpsubm_cue_line_count(two, 0), 0);
  EXPECT_EQ(tpsubm_cue_line_count(two, 1), 0);
}

TEST_F(Cues, RefusesInvalidIds) {
  int32_t live = track_with({{0, 10, {}}});
  int32_t freed = track_with({});
  ASSERT_EQ(tpsubm_destroy(freed), TPSUBM_OK);
  for (int32_t id : {-1, 64, INT32_MIN, freed}) {
    SCOPED_TRACE(id);
    EXPECT_EQ(tpsubm_add_cue(id, 0, 10), -TPSUBM_NO_SUCH_ID);
    EXPECT_STREQ(tpsubm_last_error(), "no such id");
    ASSERT_EQ(tpsubm_add_cue_line(live, 0, ""), TPSUBM_OK);  // empties the message
    EXPECT_EQ(tpsubm_add_cue_line(id, 0, "x"), TPSUBM_NO_SUCH_ID);
    EXPECT_STREQ(tpsubm_last_error(), "no such id");
    ASSERT_EQ(tpsubm_add_cue_line(live, 0, ""), TPSUBM_OK);
    EXPECT_EQ(tpsubm_finalize(id), TPSUBM_NO_SUCH_ID);
    EXPECT_STREQ(tpsubm_last_error(), "no such id");
  }
}

TEST_F(Cues, ScoresTheBytesOfLinesThatHoldAVisibleByte) {
  struct Case {
    const char *name;
    std::vector<const char *> lines;
    int32_t score;
  };
  const Case cases[] = {
      {"no lines", {}, -1},
      {"blank bytes only", {" \t", "\r\n", ""}, -1},
      {"one empty line", {nullptr}, -1},
      {"vertical tab is visible", {"\v"}, 1},
      {"form feed is visible", {"\f"}, 1},
      {"letter between spaces and a blank line", {" a ", "    "}, 3},
      {"blanks inside a visible line count", {"\ta b\r\n"}, 6},
      {"every line with a visible byte", {"ab", "", "  c"}, 5},
      {"bytes, not characters", {"\xC3\xA9t\xC3\xA9"}, 5},
  };
  std::vector<Cue> cues;
  for (size_t i = 0; i < std::size(cases); ++i) {
    cues.push_back(
        {static_cast<int32_t>(i) * 10, static_cast<int32_t>(i) * 10 + 10, cases[i].lines});
  }
  int32_t id = finalized_with(cues);
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].name);
    EXPECT_EQ(tpsubm_cue_char_score(id, static_cast<int32_t>(i)), cases[i].score);
  }
}

TEST_F(Cues, OrdersByStartTimeThenPosition) {
  int32_t id =
      finalized_with({{500, 1000, {"longest line"}}, {100, 1000, {"a"}}, {100, 1000, {"bb"}}});
  EXPECT_EQ(active_at(id, 600), (std::vector<int32_t>{1, 2, 0}));
  EXPECT_EQ(tpsubm_cue_at(id, 600), 0);  // the highest score
  EXPECT_EQ(tpsubm_cue_at(id, 150), 2);

  // Many ties in scrambled order: by start, equal starts in position order.
  std::vector<Cue> cues;
  std::vector<int32_t> expected;
  for (int32_t i = 0; i < 50; ++i) {
    cues.push_back({(i * 7 % 10) * 100, 5000, {"x"}});
    expected.push_back(i);
  }
  std::stable_sort(expected.begin(), expected.end(),
                   [&](int32_t a, int32_t b) { return cues[a].start < cues[b].start; });
  int32_t many = finalized_with(cues);
  EXPECT_EQ(active_at(many, 4999), expected);
}

TEST_F(Cues, AcceptsCuesThatEndBeforeTheyStartAndNeverShowsThem) {
  int32_t backwards = finalized_with({{1000, 500, {"back"}}, {3000, 0, {"back"}}});
  EXPECT_EQ(tpsubm_cue_start_ms(backwards, 0), 1000);
  EXPECT_EQ(tpsubm_cue_end_ms(backwards, 0), 500);
  for (int32_t t : {0, 499, 500, 750, 1000, 2000, 3000}) {
    SCOPED_TRACE(t);
    EXPECT_EQ(tpsubm_cue_at(backwards, t), -1);
    EXPECT_TRUE(active_at(backwards, t).empty());
  }

  int32_t mixed = finalized_with({{2000, 100, {"back"}}, {0, 100, {"ok"}}, {150, 300, {"ok"}}});
  EXPECT_EQ(tpsubm_cue_at(mixed, 50), 1);
  EXPECT_EQ(tpsubm_cue_at(mixed, 200), 2);
  EXPECT_EQ(tpsubm_cue_at(mixed, 2050), -1);
}

TEST_F(Cues, HashesATrackWithoutCuesFromItsParentFollowedByZero) {
  int32_t id = finalized_with({}, 0, "movie");
  EXPECT_STREQ(tpsubm_file_hash(id), std::to_string(hash_of("movie0")).c_str());
  EXPECT_EQ(tpsubm_index(id), hash_of(tpsubm_file_hash(id)));
  EXPECT_TRUE(active_at(id, 0).empty());
  EXPECT_EQ(tpsubm_cue_at(id, 0), -1);
}

TEST_F(Cues, CutsALongParentToWholeSequencesBeforeHashing) {
  // The parent followed by "0" is cut to 1023 bytes after the last whole
  // UTF-8 sequence; a parent of 1023 bytes or more loses the "0".
  const std::string e = "\xC3\xA9";         // 2 bytes
  const std::string euro = "\xE2\x82\xAC";  // 3 bytes
  struct Case {
    const char *name;
    std::string parent;
    std::string hashed;
  };
  const Case cases[] = {
      {"1022 bytes keep the 0", std::string(1022, 'p'), std::string(1022, 'p') + "0"},
      {"1023 bytes lose the 0", std::string(1023, 'p'), std::string(1023, 'p')},
      {"2000 bytes are cut", std::string(2000, 'p'), std::string(1023, 'p')},
      {"1022 bytes of two-byte characters", repeat(e, 511), repeat(e, 511) + "0"},
      {"1024 bytes of two-byte characters", repeat(e, 512), repeat(e, 511)},
      {"two-byte character across the cut", std::string(1022, 'p') + e, std::string(1022, 'p')},
      {"1023 bytes of three-byte characters", repeat(euro, 341), repeat(euro, 341)},
      {"1500 bytes of three-byte characters", repeat(euro, 500), repeat(euro, 341)},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Cues::reset();
    int32_t id = track_with({}, 0, c.parent.c_str());
    ASSERT_EQ(tpsubm_finalize(id), TPSUBM_OK) << tpsubm_last_error();
    EXPECT_STREQ(tpsubm_file_hash(id), std::to_string(hash_of(c.hashed)).c_str());
  }
}

TEST_F(Cues, HashesOnlyTheFirstLinesInPositionOrder) {
  const std::string expected = std::to_string(hash_of("Hello thereGeneral"));
  struct Case {
    const char *name;
    std::vector<Cue> cues;
    const char *parent;
  };
  const Case cases[] = {
      {"two cues", {{0, 1000, {"Hello there", "second"}}, {2000, 3000, {"General"}}}, "p1"},
      {"other times, lines and parent",
       {{50, 60, {"Hello there"}}, {10, 20, {"General", "x", "y"}}},
       "p2"},
      {"one cue", {{0, 1000, {"Hello thereGeneral"}}}, "p3"},
      {"split differently", {{0, 1, {"Hello "}}, {1, 2, {"there"}}, {2, 3, {"General"}}}, "p4"},
      {"cues without lines change nothing",
       {{0, 1, {}}, {1, 2, {"Hello there"}}, {2, 3, {}}, {3, 4, {"General"}}, {4, 5, {nullptr}}},
       "p5"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    int32_t id = finalized_with(c.cues, 0, c.parent);
    EXPECT_EQ(std::string(tpsubm_file_hash(id)), expected);
  }
  int32_t other = finalized_with({{0, 1000, {"Hello there"}}, {2000, 3000, {"General!"}}});
  EXPECT_NE(std::string(tpsubm_file_hash(other)), expected);
}

TEST_F(Cues, MakesTheIndexNonNegativeOrDerivesItFromTheFileHash) {
  struct Case {
    int32_t given;
    int32_t expected;  // -1: the hash of the file hash text
  };
  const Case cases[] = {
      {-7, 7},        {42, 42}, {-1, 1}, {INT32_MAX, INT32_MAX}, {-INT32_MAX, INT32_MAX},
      {INT32_MIN, 0}, {0, -1}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.given);
    Cues::reset();
    int32_t id = track_with({{0, 1000, {"some text"}}}, c.given);
    EXPECT_EQ(tpsubm_index(id), c.given);
    ASSERT_EQ(tpsubm_finalize(id), TPSUBM_OK);
    int32_t derived = hash_of(tpsubm_file_hash(id));
    EXPECT_EQ(tpsubm_index(id), c.expected == -1 ? derived : c.expected);
  }

  // INT32_MIN became 0, so the next finalize derives the index.
  int32_t id = finalized_with({{0, 1000, {"some text"}}}, INT32_MIN);
  ASSERT_EQ(tpsubm_index(id), 0);
  ASSERT_EQ(tpsubm_finalize(id), TPSUBM_OK);
  EXPECT_EQ(tpsubm_index(id), hash_of(tpsubm_file_hash(id)));
  EXPECT_NE(tpsubm_index(id), 0);
}

TEST_F(Cues, FinalizingAgainGivesTheSameResults) {
  int32_t id =
      finalized_with({{300, 900, {"  three  "}}, {100, 400, {"one", "x"}}, {100, 200, {}}});
  const std::string hash = tpsubm_file_hash(id);
  const int32_t index = tpsubm_index(id);
  const std::vector<int32_t> active = active_at(id, 350);

  ASSERT_EQ(tpsubm_finalize(id), TPSUBM_OK);
  EXPECT_STREQ(tpsubm_last_error(), "");
  EXPECT_EQ(tpsubm_file_hash(id), hash);
  EXPECT_EQ(tpsubm_index(id), index);
  EXPECT_EQ(active_at(id, 350), active);
  EXPECT_EQ(active, (std::vector<int32_t>{1, 0}));
  EXPECT_EQ(tpsubm_cue_char_score(id, 0), 9);
  EXPECT_EQ(tpsubm_cue_char_score(id, 1), 4);
  EXPECT_EQ(tpsubm_cue_char_score(id, 2), -1);
}

TEST_F(Cues, FailsOnAFirstLineThatIsNotUtf8AndLeavesTheTrackOpen) {
  int32_t id = track_with({{0, 1000, {"fine"}}, {1000, 2000, {"bad \xC3(", "ok"}}}, -7);
  EXPECT_EQ(tpsubm_finalize(id), TPSUBM_INVALID);
  EXPECT_STREQ(tpsubm_last_error(), "hash utf8");
  EXPECT_STREQ(tpsubm_file_hash(id), "");
  EXPECT_EQ(tpsubm_index(id), -7);
  EXPECT_EQ(tpsubm_cue_at(id, 500), -1);  // not searchable
  EXPECT_EQ(tpsubm_active_cues(id, 500), TPSUBM_NO_SUCH_ID);
  EXPECT_EQ(tpsubm_add_cue(id, 2000, 3000), 2);  // still open

  // Only first lines are hashed: a broken later line is no failure.
  int32_t later = track_with({{0, 1000, {"fine", "\xFF"}}});
  EXPECT_EQ(tpsubm_finalize(later), TPSUBM_OK);
  EXPECT_STREQ(tpsubm_file_hash(later), std::to_string(hash_of("fine")).c_str());
}

// Scoring comes before hashing: a first finalize that fails keeps the scores,
// and the linear lookup, which works on an open track, chooses by them.
TEST_F(Cues, AFailedFirstFinalizeKeepsTheScoresItComputed) {
  int32_t id =
      track_with({{0, 1000, {"ab"}}, {0, 1000, {"bad \xC3(", "and more"}}, {500, 1500, {"x"}}});
  for (int32_t pos = 0; pos < 3; ++pos) EXPECT_EQ(tpsubm_cue_char_score(id, pos), -1);
  EXPECT_EQ(tpsubm_cue_at_linear(id, 600), 0);  // all -1: the lowest position

  ASSERT_EQ(tpsubm_finalize(id), TPSUBM_INVALID);
  EXPECT_STREQ(tpsubm_last_error(), "hash utf8");
  EXPECT_EQ(tpsubm_cue_char_score(id, 0), 2);
  EXPECT_EQ(tpsubm_cue_char_score(id, 1), 14);
  EXPECT_EQ(tpsubm_cue_char_score(id, 2), 1);
  EXPECT_EQ(tpsubm_cue_at_linear(id, 600), 1);
  EXPECT_EQ(tpsubm_cue_at(id, 600), -1);  // still open

  // Lines and cues added now are not scored until the next finalize.
  ASSERT_EQ(tpsubm_add_cue_line(id, 2, "a much longer line"), TPSUBM_OK);
  ASSERT_EQ(tpsubm_add_cue(id, 0, 1000), 3);
  ASSERT_EQ(tpsubm_add_cue_line(id, 3, "the longest line of them all"), TPSUBM_OK);
  EXPECT_EQ(tpsubm_cue_char_score(id, 2), 1);
  EXPECT_EQ(tpsubm_cue_char_score(id, 3), -1);
  EXPECT_EQ(tpsubm_cue_at_linear(id, 600), 1);

  // The next finalize, failing again on the same first line, scores them.
  ASSERT_EQ(tpsubm_finalize(id), TPSUBM_INVALID);
  EXPECT_EQ(tpsubm_cue_char_score(id, 2), 19);
  EXPECT_EQ(tpsubm_cue_char_score(id, 3), 28);
  EXPECT_EQ(tpsubm_cue_at_linear(id, 600), 3);
  EXPECT_EQ(tpsubm_cue_at_linear(id, 1200), 2);
  EXPECT_STREQ(tpsubm_file_hash(id), "");
}

TEST_F(Cues, FailsOnAnEmptyTrackWhoseParentIsNotUtf8) {
  int32_t id = track_with({}, 0, "movie\xFF");
  EXPECT_EQ(tpsubm_finalize(id), TPSUBM_INVALID);
  EXPECT_STREQ(tpsubm_last_error(), "hash");
  EXPECT_STREQ(tpsubm_file_hash(id), "");
  EXPECT_EQ(tpsubm_add_cue(id, 0, 10), 0);  // still open

  // With a cue the parent takes no part.
  ASSERT_EQ(tpsubm_add_cue_line(id, 0, "text"), TPSUBM_OK);
  EXPECT_EQ(tpsubm_finalize(id), TPSUBM_OK);
}

}  // namespace
