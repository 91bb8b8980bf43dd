// The mpv plugin's choice of primary and secondary track by language.
#include <gtest/gtest.h>

#include "mpv/selection.h"

namespace tpsubm_mpv {
namespace {

TEST(Selection, NormalizesLanguageCodes) {
  struct Case {
    const char *code;
    const char *normal;
  } cases[] = {
      {"en", "en"},     {"eng", "en"},    {"EN-us", "en"},       {"ger", "de"},
      {"deu", "de"},    {"fre", "fr"},    {"rus", "ru"},         {"zh", "zh"},
      {"chi", "zh"},    {"zho", "zh"},    {"zh-Hans", "chs"},    {"chs", "chs"},
      {"zh-CN", "chs"}, {"zh_CN", "chs"}, {"zh-Hant", "cht"},    {"cht", "cht"},
      {"zh-TW", "cht"}, {"zh-HK", "cht"}, {"zh-Hant-MO", "cht"}, {"zh-Hans-MY", "chs"},
      {"zh-US", "zh"},  {"tlh", "tlh"},   {" pt-BR ", "pt"},     {"", ""},
  };
  for (const Case &c : cases) EXPECT_EQ(normalize_language(c.code), c.normal) << c.code;
}

TEST(Selection, ChineseScriptsMatchAsAsked) {
  EXPECT_TRUE(language_accepts("zh", "chs"));
  EXPECT_TRUE(language_accepts("zh", "cht"));
  EXPECT_TRUE(language_accepts("chs", "chs"));
  EXPECT_FALSE(language_accepts("chs", "cht"));
  EXPECT_FALSE(language_accepts("cht", "chs"));
  EXPECT_FALSE(language_accepts("en", ""));
  EXPECT_FALSE(same_language("chs", "cht"));
  EXPECT_TRUE(same_language("zh", "cht"));
  EXPECT_EQ(mpv_language("chs"), "zh-Hans");
  EXPECT_EQ(mpv_language("cht"), "zh-Hant");
  EXPECT_EQ(mpv_language("en"), "en");
}

TEST(Selection, SplitsOptionLists) {
  EXPECT_EQ(split_list("eng, de,,zh-Hant "), (std::vector<std::string>{"eng", "de", "zh-Hant"}));
  EXPECT_TRUE(split_list("").empty());
  EXPECT_TRUE(split_list(" , ").empty());
}

// The tracks of one file: English dialogue, English signs, French, a
// Simplified Chinese + English fansub, Traditional Chinese, a Simplified
// Chinese track, and a PGS track tagged German.
const std::vector<Candidate> kTracks = {
    {1, true, "en", "", 900},     {2, true, "en", "", 40},   {3, true, "fr", "", 850},
    {4, true, "chs", "en", 1600}, {5, true, "cht", "", 800}, {6, true, "chs", "", 780},
    {7, false, "ger", "", 0},
};

struct Case {
  const char *what;
  std::vector<std::string> slang;
  std::vector<std::string> secondary;
  int64_t primary;
  int64_t second;
};

TEST(Selection, ChoosesByLanguage) {
  const Case cases[] = {
      {"nothing asked: mpv decides", {}, {}, -1, -1},
      {"nothing matches", {"ja"}, {"ko"}, -1, -1},
      {"more lines among equals", {"en"}, {}, 1, -1},
      {"three-letter code", {"eng"}, {}, 1, -1},
      {"list order first", {"ita", "fre", "en"}, {}, 3, -1},
      {"single before bilingual", {"chs"}, {}, 6, -1},
      {"either script: the single track with more lines", {"chi"}, {}, 5, -1},
      {"Traditional only", {"zh-TW"}, {}, 5, -1},
      {"Simplified only", {"zh-Hans"}, {}, 6, -1},
      {"bitmap by tag", {"de"}, {}, 7, -1},
      {"secondary by its own list", {"fr"}, {"en"}, 3, 1},
      {"secondary never the primary's language", {"en"}, {"eng", "fr"}, 1, 3},
      {"the other script beside Chinese", {"zh-Hant"}, {"zh-Hans"}, 5, 6},
      {"bilingual pair shows both", {"chs"}, {"en"}, 4, -1},
      {"bilingual pair in the other order", {"en"}, {"zh"}, 4, -1},
      {"pair only from the first entries", {"fr", "chs"}, {"en"}, 3, 1},
      {"no secondary without a match", {"en"}, {"ja"}, 1, -1},
      {"secondary is never a bitmap", {"en"}, {"de"}, 1, -1},
  };
  for (const Case &c : cases) {
    Request request;
    request.slang = c.slang;
    request.secondary_slang = c.secondary;
    Choice choice = choose(kTracks, request);
    EXPECT_EQ(choice.primary, c.primary) << c.what;
    EXPECT_EQ(choice.secondary, c.second) << c.what;
  }
}

TEST(Selection, KeepsWhatTheUserGave) {
  Request request;
  request.slang = {"en"};
  request.secondary_slang = {"fr", "en"};
  request.user_gave_primary = true;
  request.user_primary = 3;  // French, given with --sid
  Choice choice = choose(kTracks, request);
  EXPECT_EQ(choice.primary, 3);
  EXPECT_EQ(choice.secondary, 1);  // French is taken: the next entry

  request.user_gave_secondary = true;
  EXPECT_EQ(choose(kTracks, request).secondary, -1);

  // --sid=no: no primary, so the secondary is left to mpv too.
  request = Request{};
  request.secondary_slang = {"fr"};
  request.user_gave_primary = true;
  request.user_primary = -1;
  EXPECT_EQ(choose(kTracks, request).secondary, -1);
}

TEST(Selection, FallsBackToMpvsOwnChoiceWhenNothingMatches) {
  Request request;
  request.slang = {"ja"};
  request.secondary_slang = {"fr"};
  request.fallback_primary = 1;
  Choice choice = choose(kTracks, request);
  EXPECT_EQ(choice.primary, 1);
  EXPECT_EQ(choice.secondary, 3);
  request.slang = {"fr"};
  EXPECT_EQ(choose(kTracks, request).primary, 3);  // a match wins
  request.user_gave_primary = true;
  request.user_primary = -1;  // --sid=no
  EXPECT_EQ(choose(kTracks, request).primary, -1);
}

TEST(Selection, TracksWithoutLanguageNeverMatch) {
  std::vector<Candidate> tracks = {{1, true, "", "", 500}, {2, false, "", "", 0}};
  Request request;
  request.slang = {"en"};
  request.secondary_slang = {"en"};
  Choice choice = choose(tracks, request);
  EXPECT_EQ(choice.primary, -1);
  EXPECT_EQ(choice.secondary, -1);
}

}  // namespace
}  // namespace tpsubm_mpv
