// Language detection as a host drives it: the texts the detector is handed,
// how its answers are counted, the rewriting of marked-up lines, the
// threshold and every status.
#include <cmath>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support.h"
#include "tpsubm.h"

namespace {

using Lines = std::vector<std::string>;

// A detector that records every text it is handed and answers from a table
// (text -> code); a text missing from the table gets `fallback`. An answer
// of nullptr stands for NULL.
struct Script {
  std::vector<std::string> seen;
  std::map<std::string, const char *> answers;
  const char *fallback = nullptr;
  std::string answer_buffer;  // one buffer reused for every answer
};

const char *scripted(void *ctx, const char *text) {
  auto *s = static_cast<Script *>(ctx);
  s->seen.emplace_back(text);
  auto it = s->answers.find(text);
  const char *answer = it != s->answers.end() ? it->second : s->fallback;
  if (answer == nullptr) return nullptr;
  s->answer_buffer = answer;
  return s->answer_buffer.c_str();
}

// A detector that answers the part of the text before '#', so that a line
// "en#3" votes "en".
const char *code_before_hash(void *ctx, const char *text) {
  auto *buffer = static_cast<std::string *>(ctx);
  *buffer = std::string(text).substr(0, std::string(text).find('#'));
  return buffer->c_str();
}

// Creates a track with one cue per entry (cue i from i*1000 to i*1000+900),
// each with the given lines, and finalizes it.
int32_t make_track(const std::vector<Lines> &cues, bool finalize = true) {
  int32_t id = tpsubm_create("parent", 0, 0, 0, 0, nullptr);
  EXPECT_GE(id, 0);
  for (size_t i = 0; i < cues.size(); ++i) {
    int32_t start = static_cast<int32_t>(i) * 1000;
    int32_t pos = tpsubm_add_cue(id, start, start + 900);
    EXPECT_EQ(pos, static_cast<int32_t>(i));
    for (const std::string &line : cues[i]) {
      EXPECT_EQ(tpsubm_add_cue_line(id, pos, line.c_str()), TPSUBM_OK);
    }
  }
  if (finalize) {
    EXPECT_EQ(tpsubm_finalize(id), TPSUBM_OK);
  }
  return id;
}

// A track whose lines vote for the given codes, `count` lines each, in one
// cue per line.
int32_t make_voting_track(const std::vector<std::pair<std::string, int>> &votes) {
  std::vector<Lines> cues;
  for (const auto &[code, count] : votes) {
    for (int i = 0; i < count; ++i) cues.push_back({code + "#" + std::to_string(i)});
  }
  return make_track(cues);
}

Lines cue_lines(int32_t id, int32_t pos) {
  Lines out;
  for (int32_t k = 0; k < tpsubm_cue_line_count(id, pos); ++k)
    out.emplace_back(tpsubm_cue_line(id, pos, k));
  return out;
}

// Defined before the fixture so that, when the binary runs as one process,
// it still sees the threshold the library starts with.
TEST(DetectAtLoad, DefaultThresholdMakesTenToEightBilingualButNotTenToSeven) {
  std::string buffer;
  tpsubm_set_detector(code_before_hash, &buffer);
  int32_t eight = make_voting_track({{"en", 10}, {"fr", 8}});
  int32_t seven = make_voting_track({{"en", 10}, {"fr", 7}});
  ASSERT_EQ(tpsubm_detect_languages(eight), TPSUBM_OK);
  ASSERT_EQ(tpsubm_detect_languages(seven), TPSUBM_OK);
  EXPECT_EQ(tpsubm_is_bilingual(eight), 1);
  EXPECT_EQ(tpsubm_is_bilingual(seven), 0);
  tpsubm_set_detector(nullptr, nullptr);
  tpsubm_clear();
}

class Detect : public ::testing::Test {
 protected:
  void SetUp() override {
    tpsubm_clear();
    tpsubm_set_detector(scripted, &script_);
    tpsubm_set_translator(nullptr, nullptr);
    tpsubm_set_bilingual_threshold(0.7);
  }
  void TearDown() override {
    tpsubm_set_detector(nullptr, nullptr);
    tpsubm_clear();
  }
  // Switches to the detector that votes the code before '#'.
  void vote_by_code() { tpsubm_set_detector(code_before_hash, &code_buffer_); }

  Script script_;
  std::string code_buffer_;
};

TEST_F(Detect, HandsOverLinesAndPartsInOrderAndRewritesTheCue) {
  int32_t id = make_track({{"Hi", "{\\an8}Hello\\NWorld"}});
  EXPECT_EQ(tpsubm_cue_char_score(id, 0), 2 + 18);  // "Hi" and the marked-up line
  script_.fallback = "en";
  ASSERT_EQ(tpsubm_detect_languages(id), TPSUBM_OK);
  EXPECT_EQ(script_.seen, (Lines{"Hi", " Hello", "World"}));
  EXPECT_EQ(cue_lines(id, 0), (Lines{"Hi", " Hello", "World"}));
  EXPECT_EQ(tpsubm_cue_char_score(id, 0), 2 + 6 + 5);
  EXPECT_STREQ(tpsubm_language1(id), "en");
  EXPECT_EQ(tpsubm_language1_lines(id), 3);
  // The run's cleaning is the process-wide one.
  ASSERT_EQ(tpsubm_clean_part_count(), 2);
  EXPECT_STREQ(tpsubm_clean_part(0), " Hello");
  EXPECT_STREQ(tpsubm_clean_part(1), "World");
}

TEST_F(Detect, VisitsCuesInTheOrderOfAddingNotByTime) {
  int32_t id = tpsubm_create("parent", 0, 0, 0, 0, nullptr);
  const std::pair<int32_t, const char *> cues[] = {{9000, "late"}, {1000, "early"}, {5000, "mid"}};
  for (const auto &[start, text] : cues) {
    int32_t pos = tpsubm_add_cue(id, start, start + 500);
    ASSERT_EQ(tpsubm_add_cue_line(id, pos, text), TPSUBM_OK);
  }
  ASSERT_EQ(tpsubm_finalize(id), TPSUBM_OK);
  script_.fallback = "en";
  ASSERT_EQ(tpsubm_detect_languages(id), TPSUBM_OK);
  EXPECT_EQ(script_.seen, (Lines{"late", "early", "mid"}));
}

TEST_F(Detect, HandsOverEachKindOfLineAsCleaningDefines) {
  struct Case {
    const char *name;
    Lines lines;
    Lines handed;  // texts the detector sees, in order
    Lines after;   // the cue's lines after the run
  };
  const Case cases[] = {
      {"empty line is plain", {""}, {""}, {""}},
      {"unclosed brace cleans to itself", {"{Note"}, {"{Note"}, {"{Note"}},
      {"stray closing brace is plain", {"a}b"}, {"a}b"}, {"a}b"}},
      {"line feed in a plain line is not split", {"one\ntwo"}, {"one\ntwo"}, {"one\ntwo"}},
      {"lower-case \\n is plain", {"a\\nb"}, {"a\\nb"}, {"a\\nb"}},
      {"line feed in a marked-up line splits", {"a\\Nb\nc"}, {"a", "b", "c"}, {"a", "b", "c"}},
      {"blocks become spaces", {"{\\i1}{\\b1}x{\\i0}"}, {"  x "}, {"  x "}},
      {"break at the ends gives empty parts", {"\\Nmid\\N"}, {"", "mid", ""}, {"", "mid", ""}},
      {"plain lines around a marked-up one",
       {"A", "{x}B", "C"},
       {"A", " B", "C"},
       {"A", " B", "C"}},
      {"cue without lines", {}, {}, {}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    tpsubm_clear();
    script_.seen.clear();
    int32_t id = make_track({c.lines});
    tpsubm_detect_languages(id);
    EXPECT_EQ(script_.seen, c.handed);
    EXPECT_EQ(cue_lines(id, 0), c.after);
  }
}

TEST_F(Detect, CueWithoutLinesKeepsItsScore) {
  int32_t id = make_track({{}, {"x"}});
  script_.fallback = "en";
  ASSERT_EQ(tpsubm_detect_languages(id), TPSUBM_OK);
  EXPECT_EQ(script_.seen, (Lines{"x"}));
  EXPECT_EQ(tpsubm_cue_line_count(id, 0), 0);
  EXPECT_EQ(tpsubm_cue_char_score(id, 0), -1);
}

TEST_F(Detect, EmptyLinesCountWhenAnswered) {
  int32_t id = make_track({{"", ""}, {"word"}});
  script_.answers = {{"", "xx"}, {"word", "en"}};
  ASSERT_EQ(tpsubm_detect_languages(id), TPSUBM_OK);
  EXPECT_STREQ(tpsubm_language1(id), "xx");
  EXPECT_EQ(tpsubm_language1_lines(id), 2);
  EXPECT_STREQ(tpsubm_language2(id), "en");
  EXPECT_EQ(tpsubm_language2_lines(id), 1);
}

TEST_F(Detect, NoAnswerGivesNoLanguagesButStillRewrites) {
  const char *const no_answers[] = {nullptr, ""};
  for (const char *answer : no_answers) {
    SCOPED_TRACE(answer == nullptr ? "NULL" : "empty");
    tpsubm_clear();
    int32_t id = make_track({{"plain", "{\\an8}Hello\\NWorld"}, {"more"}});
    // An earlier result is reset by the failing run.
    script_.fallback = "en";
    ASSERT_EQ(tpsubm_detect_languages(id), TPSUBM_OK);
    ASSERT_STREQ(tpsubm_language1(id), "en");

    script_.fallback = answer;
    EXPECT_EQ(tpsubm_detect_languages(id), TPSUBM_NO_LANGUAGES);
    EXPECT_STREQ(tpsubm_last_error(), "detect no languages");
    EXPECT_STREQ(tpsubm_language1(id), "");
    EXPECT_STREQ(tpsubm_language2(id), "");
    EXPECT_EQ(tpsubm_language1_lines(id), 0);
    EXPECT_EQ(tpsubm_language2_lines(id), 0);
    EXPECT_EQ(cue_lines(id, 0), (Lines{"plain", " Hello", "World"}));
  }
}

TEST_F(Detect, FirstRunOnAMarkedUpTrackRewritesEvenWithoutAnswers) {
  int32_t id = make_track({{"{\\an8}Hello\\NWorld"}});
  script_.fallback = nullptr;
  EXPECT_EQ(tpsubm_detect_languages(id), TPSUBM_NO_LANGUAGES);
  EXPECT_EQ(cue_lines(id, 0), (Lines{" Hello", "World"}));
  EXPECT_EQ(tpsubm_cue_char_score(id, 0), 6 + 5);
}

TEST_F(Detect, TrackWithoutCuesGivesNoLanguagesWithoutCalls) {
  int32_t id = make_track({});
  EXPECT_EQ(tpsubm_detect_languages(id), TPSUBM_NO_LANGUAGES);
  EXPECT_STREQ(tpsubm_last_error(), "detect no languages");
  EXPECT_TRUE(script_.seen.empty());
}

TEST_F(Detect, OneLanguageLeavesTheSecondEmpty) {
  vote_by_code();
  int32_t id = make_voting_track({{"de", 4}});
  tpsubm_set_bilingual_threshold(0.0);
  ASSERT_EQ(tpsubm_detect_languages(id), TPSUBM_OK);
  EXPECT_STREQ(tpsubm_language1(id), "de");
  EXPECT_EQ(tpsubm_language1_lines(id), 4);
  EXPECT_STREQ(tpsubm_language2(id), "");
  EXPECT_EQ(tpsubm_language2_lines(id), 0);
  EXPECT_EQ(tpsubm_confidence(id), 0.0);
  EXPECT_EQ(tpsubm_is_bilingual(id), 0);
}

TEST_F(Detect, RanksByCountThenByUnsignedBytes) {
  struct Case {
    const char *name;
    std::vector<std::pair<std::string, int>> votes;  // in order of first answer
    const char *lang1;
    int lines1;
    const char *lang2;
    int lines2;
  };
  const Case cases[] = {
      {"tie goes to the lower bytes", {{"fr", 3}, {"en", 3}}, "en", 3, "fr", 3},
      {"upper case sorts first", {{"en", 2}, {"EN", 2}}, "EN", 2, "en", 2},
      {"count beats byte order", {{"aa", 2}, {"zz", 3}}, "zz", 3, "aa", 2},
      {"a prefix sorts first", {{"enx", 1}, {"en", 1}}, "en", 1, "enx", 1},
      // 0xC3 is above 'z' when bytes are unsigned.
      {"bytes compare unsigned", {{"\xc3\xa9t", 2}, {"zz", 2}}, "zz", 2, "\xc3\xa9t", 2},
      {"third code is dropped", {{"c", 1}, {"b", 5}, {"a", 4}}, "b", 5, "a", 4},
  };
  vote_by_code();
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    tpsubm_clear();
    int32_t id = make_voting_track(c.votes);
    ASSERT_EQ(tpsubm_detect_languages(id), TPSUBM_OK);
    EXPECT_STREQ(tpsubm_language1(id), c.lang1);
    EXPECT_EQ(tpsubm_language1_lines(id), c.lines1);
    EXPECT_STREQ(tpsubm_language2(id), c.lang2);
    EXPECT_EQ(tpsubm_language2_lines(id), c.lines2);
  }
}

TEST_F(Detect, CountsOnlyTheFirstSixtyFourCodes) {
  vote_by_code();
  std::vector<std::pair<std::string, int>> votes;
  for (int i = 0; i < 65; ++i) {
    char code[8];
    std::snprintf(code, sizeof code, "c%02d", i);
    votes.emplace_back(code, 1);
  }
  votes.emplace_back("c64", 5);  // the 65th code: never counted, even later
  votes.emplace_back("c65", 5);  // a later new code: never counted either
  votes.emplace_back("c30", 3);  // a code already held keeps counting
  int32_t id = make_voting_track(votes);
  ASSERT_EQ(tpsubm_detect_languages(id), TPSUBM_OK);
  EXPECT_STREQ(tpsubm_language1(id), "c30");
  EXPECT_EQ(tpsubm_language1_lines(id), 4);
  EXPECT_STREQ(tpsubm_language2(id), "c00");
  EXPECT_EQ(tpsubm_language2_lines(id), 1);
}

TEST_F(Detect, CutsLongAnswersAtACharacterBoundaryAndCountsTheCutForm) {
  const std::string ascii20 = "abcdefghijklmnopqrst";
  const std::string e_acute8 = "\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9";
  const std::string euro6 =
      "\xe2\x82\xac\xe2\x82\xac\xe2\x82\xac\xe2\x82\xac\xe2\x82\xac\xe2\x82\xac";
  struct Case {
    const char *name;
    Lines answers;  // one line per answer
    std::string lang1;
    int lines1;
  };
  const Case cases[] = {
      {"15 bytes kept whole", {"abcdefghijklmno", "abcdefghijklmno"}, "abcdefghijklmno", 2},
      {"20 ASCII bytes twice", {ascii20, ascii20}, ascii20.substr(0, 15), 2},
      {"long answers alike in 15 bytes", {ascii20, "abcdefghijklmnoXYZ"}, ascii20.substr(0, 15), 2},
      {"long answer meets its cut form", {ascii20, "abcdefghijklmno"}, ascii20.substr(0, 15), 2},
      {"16 bytes of two-byte characters", {e_acute8, e_acute8}, e_acute8.substr(0, 14), 2},
      {"18 bytes of three-byte characters", {euro6, euro6}, euro6.substr(0, 15), 2},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    tpsubm_clear();
    script_.answers.clear();
    std::vector<Lines> cues;
    for (size_t i = 0; i < c.answers.size(); ++i) {
      std::string line = "line" + std::to_string(i);
      script_.answers[line] = c.answers[i].c_str();
      cues.push_back({line});
    }
    int32_t id = make_track(cues);
    ASSERT_EQ(tpsubm_detect_languages(id), TPSUBM_OK);
    EXPECT_EQ(std::string(tpsubm_language1(id)), c.lang1);
    EXPECT_EQ(tpsubm_language1_lines(id), c.lines1);
    EXPECT_STREQ(tpsubm_language2(id), "");
  }
}

TEST_F(Detect, ReadsTheAnswerBeforeTheNextCall) {
  // The script returns one buffer for every answer, rewritten at each call.
  int32_t id = make_track({{"a", "b", "c"}, {"d"}});
  script_.answers = {{"a", "en"}, {"b", "fr"}, {"c", "en"}, {"d", "fr"}};
  ASSERT_EQ(tpsubm_detect_languages(id), TPSUBM_OK);
  EXPECT_STREQ(tpsubm_language1(id), "en");
  EXPECT_EQ(tpsubm_language1_lines(id), 2);
  EXPECT_STREQ(tpsubm_language2(id), "fr");
  EXPECT_EQ(tpsubm_language2_lines(id), 2);
}

TEST_F(Detect, ConfidenceAndBilingualFollowTheCounts) {
  struct Case {
    int first;
    int second;
    double confidence;
    int bilingual;  // at the default threshold
  };
  const Case cases[] = {
      {10, 8, 0.8, 1}, {10, 7, 0.7, 0}, {7, 3, 3.0 / 7.0, 0}, {5, 5, 1.0, 1}, {1, 0, 0.0, 0}};
  vote_by_code();
  for (const Case &c : cases) {
    SCOPED_TRACE(std::to_string(c.first) + ":" + std::to_string(c.second));
    tpsubm_clear();
    int32_t id = make_voting_track({{"en", c.first}, {"fr", c.second}});
    ASSERT_EQ(tpsubm_detect_languages(id), TPSUBM_OK);
    EXPECT_DOUBLE_EQ(tpsubm_confidence(id), c.confidence);
    EXPECT_EQ(tpsubm_is_bilingual(id), c.bilingual);
  }
}

TEST_F(Detect, ThresholdIsClampedToTheUnitRange) {
  struct Case {
    double given;
    double stored;
  };
  const Case cases[] = {{-0.5, 0.0}, {3.0, 1.0},       {0.5, 0.5},     {0.0, 0.0},
                        {1.0, 1.0},  {-INFINITY, 0.0}, {INFINITY, 1.0}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.given);
    EXPECT_EQ(tpsubm_set_bilingual_threshold(c.given), c.stored);
  }
}

TEST_F(Detect, ThresholdDecidesBilingualWithoutANewRun) {
  vote_by_code();
  int32_t even = make_voting_track({{"en", 4}, {"fr", 4}});
  int32_t uneven = make_voting_track({{"en", 7}, {"fr", 1}});
  ASSERT_EQ(tpsubm_detect_languages(even), TPSUBM_OK);
  ASSERT_EQ(tpsubm_detect_languages(uneven), TPSUBM_OK);
  struct Case {
    double threshold;
    int even;
    int uneven;
  };
  const Case cases[] = {{1.0, 0, 0}, {0.0, 1, 1}, {0.5, 1, 0}, {0.999, 1, 0}, {NAN, 0, 0}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.threshold);
    tpsubm_set_bilingual_threshold(c.threshold);
    EXPECT_EQ(tpsubm_is_bilingual(even), c.even);
    EXPECT_EQ(tpsubm_is_bilingual(uneven), c.uneven);
  }
}

TEST_F(Detect, NaNThresholdIsStoredAsItIs) {
  EXPECT_TRUE(std::isnan(tpsubm_set_bilingual_threshold(NAN)));
  vote_by_code();
  int32_t id = make_voting_track({{"en", 3}, {"fr", 3}});
  ASSERT_EQ(tpsubm_detect_languages(id), TPSUBM_OK);
  EXPECT_DOUBLE_EQ(tpsubm_confidence(id), 1.0);
  EXPECT_EQ(tpsubm_is_bilingual(id), 0);
}

TEST_F(Detect, InvalidIdsGiveNeutralValues) {
  int32_t freed = make_track({{"x"}});
  ASSERT_EQ(tpsubm_destroy(freed), TPSUBM_OK);
  const int32_t ids[] = {-1, 64, INT32_MIN, INT32_MAX, freed, 5};
  for (int32_t id : ids) {
    SCOPED_TRACE(id);
    EXPECT_EQ(tpsubm_language1(id), nullptr);
    EXPECT_EQ(tpsubm_language2(id), nullptr);
    EXPECT_EQ(tpsubm_language1_lines(id), 0);
    EXPECT_EQ(tpsubm_language2_lines(id), 0);
    EXPECT_EQ(tpsubm_confidence(id), 0.0);
    EXPECT_EQ(tpsubm_is_bilingual(id), 0);
    EXPECT_EQ(tpsubm_detect_languages(id), TPSUBM_NO_SUCH_ID);
    EXPECT_STREQ(tpsubm_last_error(), "no such id");
  }
  EXPECT_TRUE(script_.seen.empty());
}

TEST_F(Detect, NewTrackHasNoLanguages) {
  int32_t id = make_track({{"x"}});
  EXPECT_STREQ(tpsubm_language1(id), "");
  EXPECT_STREQ(tpsubm_language2(id), "");
  EXPECT_EQ(tpsubm_language1_lines(id), 0);
  EXPECT_EQ(tpsubm_is_bilingual(id), 0);
}

TEST_F(Detect, RefusesATrackThatIsNotFinalizedBeforeLookingForADetector) {
  int32_t id = make_track({{"{x}y"}}, /*finalize=*/false);
  tpsubm_set_detector(nullptr, nullptr);
  EXPECT_EQ(tpsubm_detect_languages(id), TPSUBM_INVALID);
  EXPECT_STREQ(tpsubm_last_error(), "not finalized");
  tpsubm_set_detector(scripted, &script_);
  EXPECT_EQ(tpsubm_detect_languages(id), TPSUBM_INVALID);
  EXPECT_STREQ(tpsubm_last_error(), "not finalized");
  EXPECT_TRUE(script_.seen.empty());
  EXPECT_EQ(cue_lines(id, 0), (Lines{"{x}y"}));
}

TEST_F(Detect, WithoutADetectorKeepsTheEarlierResult) {
  vote_by_code();
  int32_t id = make_voting_track({{"en", 3}, {"fr", 2}});
  tpsubm_set_detector(nullptr, nullptr);
  EXPECT_EQ(tpsubm_detect_languages(id), TPSUBM_NO_DETECTOR);
  EXPECT_STREQ(tpsubm_last_error(), "no detector");

  vote_by_code();
  ASSERT_EQ(tpsubm_detect_languages(id), TPSUBM_OK);
  tpsubm_set_detector(nullptr, nullptr);
  EXPECT_EQ(tpsubm_detect_languages(id), TPSUBM_NO_DETECTOR);
  EXPECT_STREQ(tpsubm_last_error(), "no detector");
  EXPECT_STREQ(tpsubm_language1(id), "en");
  EXPECT_EQ(tpsubm_language1_lines(id), 3);
  EXPECT_STREQ(tpsubm_language2(id), "fr");
  EXPECT_EQ(tpsubm_language2_lines(id), 2);
}

TEST_F(Detect, SuccessEmptiesTheMessage) {
  int32_t id = make_track({{"x"}});
  script_.fallback = "en";
  ASSERT_EQ(tpsubm_detect_languages(-1), TPSUBM_NO_SUCH_ID);
  ASSERT_STREQ(tpsubm_last_error(), "no such id");
  ASSERT_EQ(tpsubm_detect_languages(id), TPSUBM_OK);
  EXPECT_STREQ(tpsubm_last_error(), "");
}

TEST_F(Detect, PassesTheRegisteredContext) {
  struct Seen {
    void *ctx = nullptr;
  } seen;
  auto detector = [](void *ctx, const char *) -> const char * {
    static_cast<Seen *>(ctx)->ctx = ctx;
    return "en";
  };
  tpsubm_set_detector(detector, &seen);
  int32_t id = make_track({{"x"}});
  ASSERT_EQ(tpsubm_detect_languages(id), TPSUBM_OK);
  EXPECT_EQ(seen.ctx, &seen);
}

TEST_F(Detect, RewriteLastsAcrossRunsAndRefinalize) {
  int32_t id = make_track({{"{\\an8}Hello\\NWorld", "plain"}, {"{\\i1}Bye"}, {"Same"}});
  const std::string hash_before = tpsubm_file_hash(id);
  script_.answers = {{" Hello", "en"}, {"World", "en"}, {"plain", "fr"}, {" Bye", "en"}};
  script_.fallback = "de";
  ASSERT_EQ(tpsubm_detect_languages(id), TPSUBM_OK);
  const Lines first_run = script_.seen;
  EXPECT_EQ(first_run, (Lines{" Hello", "World", "plain", " Bye", "Same"}));

  script_.seen.clear();
  ASSERT_EQ(tpsubm_detect_languages(id), TPSUBM_OK);
  EXPECT_EQ(script_.seen, first_run);
  EXPECT_STREQ(tpsubm_language1(id), "en");
  EXPECT_EQ(tpsubm_language1_lines(id), 3);
  EXPECT_STREQ(tpsubm_language2(id), "de");
  EXPECT_EQ(tpsubm_language2_lines(id), 1);

  // Finalizing again hashes the rewritten first lines: the hash is that of a
  // track built with those lines from the start.
  ASSERT_EQ(tpsubm_finalize(id), TPSUBM_OK);
  int32_t twin = make_track({{" Hello", "World", "plain"}, {" Bye"}, {"Same"}});
  EXPECT_NE(tpsubm_file_hash(id), hash_before);
  EXPECT_STREQ(tpsubm_file_hash(id), tpsubm_file_hash(twin));
  EXPECT_EQ(tpsubm_cue_char_score(id, 0), tpsubm_cue_char_score(twin, 0));
  EXPECT_EQ(cue_lines(id, 0), (Lines{" Hello", "World", "plain"}));

  script_.seen.clear();
  ASSERT_EQ(tpsubm_detect_languages(id), TPSUBM_OK);
  EXPECT_EQ(script_.seen, first_run);
}

TEST_F(Detect, ClearKeepsTheDetectorAndTheThreshold) {
  vote_by_code();
  tpsubm_set_bilingual_threshold(0.5);
  tpsubm_clear();
  int32_t id = make_voting_track({{"en", 10}, {"fr", 6}});
  ASSERT_EQ(tpsubm_detect_languages(id), TPSUBM_OK);
  EXPECT_STREQ(tpsubm_language1(id), "en");
  EXPECT_EQ(tpsubm_is_bilingual(id), 1);  // 0.6: above 0.5, not above 0.7
}

}  // namespace
