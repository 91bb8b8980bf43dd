// Display names as a host asks for them: English or translated language
// names, the suffix, the two bracket flags and every cut by bytes.
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support.h"
#include "tpsubm.h"

namespace {

using Votes = std::vector<std::pair<std::string, int>>;
using Names = std::vector<std::string>;

// Votes the part of each line before '#'.
const char *code_before_hash(void *ctx, const char *text) {
  auto *buffer = static_cast<std::string *>(ctx);
  std::string t(text);
  *buffer = t.substr(0, t.find('#'));
  return buffer->c_str();
}

// A translator that records every name it is asked for and answers from a
// table; a name missing from it gets `fallback` (nullptr stands for NULL).
struct Translations {
  Names asked;
  std::map<std::string, std::string> answers;
  const char *fallback = nullptr;
};

const char *translate(void *ctx, const char *english) {
  auto *t = static_cast<Translations *>(ctx);
  t->asked.emplace_back(english);
  auto it = t->answers.find(english);
  return it != t->answers.end() ? it->second.c_str() : t->fallback;
}

std::string repeat(const std::string &s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

class DisplayName : public ::testing::Test {
 protected:
  void SetUp() override {
    tpsubm_clear();
    tpsubm_set_detector(code_before_hash, &code_buffer_);
    tpsubm_set_translator(nullptr, nullptr);
    tpsubm_set_bilingual_threshold(0.7);
  }
  void TearDown() override { tpsubm_test::reset_library(); }

  // A finalized track whose detection found the given votes (none: no run).
  int32_t track(const Votes &votes, int32_t square_brackets = 0, const char *suffix = nullptr) {
    int32_t id = tpsubm_create("parent", 0, 0, square_brackets, 0, suffix);
    EXPECT_GE(id, 0);
    int32_t t = 0;
    for (const auto &[code, count] : votes) {
      for (int i = 0; i < count; ++i, t += 1000) {
        int32_t pos = tpsubm_add_cue(id, t, t + 500);
        EXPECT_EQ(tpsubm_add_cue_line(id, pos, (code + "#" + std::to_string(i)).c_str()),
                  TPSUBM_OK);
      }
    }
    EXPECT_EQ(tpsubm_finalize(id), TPSUBM_OK);
    if (!votes.empty()) {
      EXPECT_EQ(tpsubm_detect_languages(id), TPSUBM_OK);
    }
    return id;
  }
  void use_translator() { tpsubm_set_translator(translate, &translations_); }

  std::string code_buffer_;
  Translations translations_;
};

TEST_F(DisplayName, ComposesFromLanguagesSuffixAndFlags) {
  enum Translator { kNone, kFrench, kNull, kEmpty };
  struct Case {
    const char *name;
    Votes votes;
    Translator translator;
    int32_t square_brackets;
    int32_t server_file;
    const char *suffix;
    const char *expected;
    Names asked;  // names handed to the translator, in order
  };
  const Case cases[] = {
      {"new track", {}, kFrench, 0, 0, nullptr, "", {}},
      {"new track with square brackets", {}, kNone, 1, 0, nullptr, "[  ]", {}},
      {"one language", {{"en", 3}}, kNone, 0, 0, nullptr, "English", {}},
      {"translated", {{"en", 3}}, kFrench, 0, 0, nullptr, "Anglais", {"English"}},
      {"translator answers NULL", {{"en", 3}}, kNull, 0, 0, nullptr, "English", {"English"}},
      {"translator answers empty", {{"en", 3}}, kEmpty, 0, 0, nullptr, "", {"English"}},
      {"code in any case", {{"FRA", 3}}, kNone, 0, 0, nullptr, "French", {}},
      {"unknown code untranslated", {{"xx", 3}}, kFrench, 0, 0, nullptr, "xx", {}},
      {"region is not split off", {{"en-US", 3}}, kNone, 0, 0, nullptr, "en-US", {}},
      {"bilingual", {{"en", 5}, {"fr", 5}}, kNone, 0, 0, nullptr, "English & French", {}},
      {"bilingual translated, second asked first",
       {{"en", 5}, {"fr", 5}},
       kFrench,
       0,
       0,
       nullptr,
       "Anglais & Fran\xc3\xa7"
       "ais",
       {"French", "English"}},
      {"bilingual, translator answers NULL",
       {{"en", 5}, {"fr", 5}},
       kNull,
       0,
       0,
       nullptr,
       "English & French",
       {"French", "English"}},
      {"bilingual, second unknown",
       {{"en", 5}, {"xx", 4}},
       kFrench,
       0,
       0,
       nullptr,
       "Anglais",
       {"English"}},
      {"bilingual, first unknown", {{"xx", 5}, {"fr", 4}}, kNone, 0, 0, nullptr, "French", {}},
      {"bilingual, both unknown", {{"xx", 5}, {"yy", 4}}, kFrench, 0, 0, nullptr, "xx", {}},
      {"second language below the threshold",
       {{"en", 10}, {"fr", 7}},
       kFrench,
       0,
       0,
       nullptr,
       "Anglais",
       {"English"}},
      {"pgs suffix", {{"en", 3}}, kNone, 0, 0, "pgssub", "English PGS", {}},
      {"extension suffix", {{"en", 3}}, kNone, 0, 0, "srt", "English.srt", {}},
      {"suffix with a dot", {{"en", 3}}, kNone, 0, 0, ".forced", "English.forced", {}},
      {"suffix on a new track", {}, kNone, 0, 0, "ass", ".ass", {}},
      {"square brackets", {{"en", 3}}, kNone, 1, 0, nullptr, "[ English ]", {}},
      {"server file", {{"en", 3}}, kNone, 0, 1, nullptr, "{ English }", {}},
      {"both flags", {{"en", 5}, {"fr", 5}}, kNone, 1, 1, nullptr, "{ [ English & French ] }", {}},
      {"everything",
       {{"en", 5}, {"fr", 5}},
       kNone,
       1,
       1,
       "pgssub",
       "{ [ English & French PGS ] }",
       {}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    tpsubm_clear();
    translations_ = Translations{};
    translations_.answers = {{"English", "Anglais"},
                             {"French",
                              "Fran\xc3\xa7"
                              "ais"}};
    switch (c.translator) {
      case kNone:
        tpsubm_set_translator(nullptr, nullptr);
        break;
      case kFrench:
        use_translator();
        break;
      case kNull:
        translations_.answers.clear();
        use_translator();
        break;
      case kEmpty:
        translations_.answers.clear();
        translations_.fallback = "";
        use_translator();
        break;
    }
    int32_t id = track(c.votes, c.square_brackets, c.suffix);
    ASSERT_EQ(tpsubm_set_tovrin_server_file(id, c.server_file), TPSUBM_OK);
    const char *name = tpsubm_display_name(id);
    ASSERT_NE(name, nullptr);
    EXPECT_STREQ(name, c.expected);
    EXPECT_EQ(translations_.asked, c.asked);
  }
}

TEST_F(DisplayName, ThresholdChangeShowsTheSecondLanguageWithoutANewRun) {
  int32_t calls = 0;
  auto counting = [](void *ctx, const char *text) -> const char * {
    ++*static_cast<int32_t *>(ctx);
    return std::strncmp(text, "en", 2) == 0 ? "en" : "fr";
  };
  tpsubm_set_detector(counting, &calls);
  int32_t id = track({{"en", 10}, {"fr", 7}});
  ASSERT_EQ(calls, 17);
  EXPECT_STREQ(tpsubm_display_name(id), "English");
  tpsubm_set_bilingual_threshold(0.5);
  EXPECT_STREQ(tpsubm_display_name(id), "English & French");
  EXPECT_EQ(calls, 17);
}

TEST_F(DisplayName, AsksTheTranslatorAgainOnEveryRequest) {
  use_translator();
  translations_.answers = {{"English", "Anglais"}};
  int32_t id = track({{"en", 2}});
  EXPECT_STREQ(tpsubm_display_name(id), "Anglais");
  translations_.answers["English"] = "Inglese";
  EXPECT_STREQ(tpsubm_display_name(id), "Inglese");
  EXPECT_EQ(translations_.asked, (Names{"English", "English"}));
  tpsubm_set_translator(nullptr, nullptr);
  EXPECT_STREQ(tpsubm_display_name(id), "English");
}

TEST_F(DisplayName, TranslatorMayReuseOneBufferForBothAnswers) {
  struct Reused {
    std::string buffer;
    void *ctx_seen = nullptr;
  } reused;
  auto translator = [](void *ctx, const char *english) -> const char * {
    auto *r = static_cast<Reused *>(ctx);
    r->ctx_seen = ctx;
    r->buffer = std::string("T-") + english;
    return r->buffer.c_str();
  };
  tpsubm_set_translator(translator, &reused);
  int32_t id = track({{"en", 4}, {"fr", 4}});
  EXPECT_STREQ(tpsubm_display_name(id), "T-English & T-French");
  EXPECT_EQ(reused.ctx_seen, &reused);
}

TEST_F(DisplayName, CutsTheNamePartTo399BytesAtACharacterBoundary) {
  const std::string e_acute150 = repeat("\xc3\xa9", 150);
  struct Case {
    const char *name;
    std::string english;  // the translator's answers
    std::string french;   // empty: the track has one language
    size_t expected_bytes;
  };
  const Case cases[] = {
      {"600 ASCII bytes", std::string(600, 'a'), "", 399},
      {"two-byte characters", repeat("\xc3\xa9", 300), "", 398},
      {"three-byte characters", repeat("\xe2\x82\xac", 200), "", 399},
      {"four-byte characters", repeat("\xf0\x9f\x98\x80", 150), "", 396},
      {"both names long", std::string(300, 'a'), std::string(300, 'b'), 399},
      // The second name's characters start at byte 304, so 399 falls inside one.
      {"both names of two-byte characters", e_acute150, "x" + e_acute150, 398},
  };
  use_translator();
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    tpsubm_clear();
    translations_.answers = {{"English", c.english}, {"French", c.french}};
    const bool both = !c.french.empty();
    int32_t id = both ? track({{"en", 4}, {"fr", 4}}) : track({{"en", 3}});
    const std::string full = both ? c.english + " & " + c.french : c.english;
    std::string name = tpsubm_display_name(id);
    EXPECT_EQ(name.size(), c.expected_bytes);
    EXPECT_EQ(name, full.substr(0, c.expected_bytes));
  }
}

TEST_F(DisplayName, SuffixFillsTheDisplayUpTo511Bytes) {
  // A suffix that starts with "." is stored whole.
  const std::string suffix = "." + std::string(600, 's');
  int32_t id = track({{"en", 3}}, 0, suffix.c_str());
  std::string name = tpsubm_display_name(id);
  EXPECT_EQ(name.size(), 511u);
  EXPECT_EQ(name, ("English" + suffix).substr(0, 511));
}

TEST_F(DisplayName, EachWrapFirstCutsTo507Bytes) {
  const std::string suffix = "." + std::string(600, 's');
  int32_t id = track({{"en", 3}}, 1, suffix.c_str());
  std::string square = tpsubm_display_name(id);
  EXPECT_EQ(square, "[ " + ("English" + suffix).substr(0, 507) + " ]");

  // Wrapped twice, the inner closing bracket is cut off before the braces.
  ASSERT_EQ(tpsubm_set_tovrin_server_file(id, 1), TPSUBM_OK);
  std::string both = tpsubm_display_name(id);
  EXPECT_EQ(both.size(), 511u);
  EXPECT_EQ(both, "{ " + square.substr(0, 507) + " }");
  EXPECT_EQ(both.find(']'), std::string::npos);
}

TEST_F(DisplayName, CutsOfSuffixAndWrapsKeepWholeCharacters) {
  // "English." is 8 bytes and every later character 2, so each cut at an
  // odd byte count must give a byte back.
  const std::string suffix = "." + repeat("\xc3\xa9", 300);
  int32_t id = track({{"en", 3}}, 1, suffix.c_str());
  ASSERT_EQ(tpsubm_set_tovrin_server_file(id, 1), TPSUBM_OK);
  // The suffix cut keeps 251 characters (510 bytes), the square wrap 249
  // inside its 507 bytes, the curly one 248 after "[ English.".
  EXPECT_EQ(std::string(tpsubm_display_name(id)), "{ [ English." + repeat("\xc3\xa9", 248) + " }");

  tpsubm_destroy(id);
  id = track({{"en", 3}}, 0, suffix.c_str());
  EXPECT_EQ(std::string(tpsubm_display_name(id)), "English." + repeat("\xc3\xa9", 251));
}

TEST_F(DisplayName, ServerFileFlagIsStoredAsZeroOrOne) {
  int32_t id = track({{"en", 3}});
  const std::pair<int32_t, const char *> cases[] = {
      {7, "{ English }"}, {0, "English"}, {-1, "{ English }"}, {INT32_MIN, "{ English }"}};
  for (const auto &[flag, expected] : cases) {
    SCOPED_TRACE(flag);
    ASSERT_EQ(tpsubm_set_tovrin_server_file(id, flag), TPSUBM_OK);
    EXPECT_STREQ(tpsubm_display_name(id), expected);
  }
}

TEST_F(DisplayName, InvalidIdsGiveNullAndLeaveTheMessage) {
  int32_t freed = track({{"en", 1}});
  ASSERT_EQ(tpsubm_destroy(freed), TPSUBM_OK);
  ASSERT_EQ(tpsubm_detect_languages(-1), TPSUBM_NO_SUCH_ID);
  const int32_t ids[] = {-1, 64, INT32_MIN, INT32_MAX, freed};
  for (int32_t id : ids) {
    SCOPED_TRACE(id);
    EXPECT_EQ(tpsubm_display_name(id), nullptr);
    EXPECT_EQ(tpsubm_set_tovrin_server_file(id, 1), TPSUBM_NO_SUCH_ID);
  }
  EXPECT_STREQ(tpsubm_last_error(), "no such id");
  int32_t id = track({{"en", 1}});  // the track's creation empties the message
  ASSERT_EQ(tpsubm_detect_languages(-1), TPSUBM_NO_SUCH_ID);
  EXPECT_STREQ(tpsubm_display_name(id), "English");
  EXPECT_EQ(tpsubm_set_tovrin_server_file(id, 1), TPSUBM_OK);
  EXPECT_STREQ(tpsubm_last_error(), "no such id");
}

TEST_F(DisplayName, ClearKeepsTheTranslator) {
  use_translator();
  translations_.answers = {{"English", "Anglais"}};
  tpsubm_clear();
  int32_t id = track({{"en", 1}});
  EXPECT_STREQ(tpsubm_display_name(id), "Anglais");
}

}  // namespace
