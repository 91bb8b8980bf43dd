// The language names table behind display names: whole-code matches in any
// ASCII letter case, the first matching row winning.
#include <iterator>

#include <gtest/gtest.h>

#include "tpsubm_internal.h"

namespace {

struct Case {
  const char *code;
  const char *name;  // nullptr: not in the table
};

void expect_names(const Case *begin, const Case *end) {
  for (const Case *c = begin; c != end; ++c) {
    SCOPED_TRACE(c->code == nullptr ? "NULL" : c->code);
    const char *got = tpsubm_data_lang_name(c->code);
    if (c->name == nullptr) {
      EXPECT_EQ(got, nullptr);
    } else {
      EXPECT_STREQ(got, c->name);
    }
  }
}

TEST(LanguageNames, MatchesWholeCodesInAnyLetterCase) {
  const Case cases[] = {
      {"EN", "English"},
      {"En", "English"},
      {"eng", "English"},
      {"ENG", "English"},
      {"chs", "Chinese (Simplified)"},
      {"CHT", "Chinese (Traditional)"},
      {"chi", "Chinese"},  // also the long code of chs and cht: the first row wins
      {"zh", "Chinese"},
      {"zho", "Chinese"},
      {"fre", "French"},
      {"fra", "French"},
      {"FR", "French"},
      {"no", "Norwegian"},
      {"en-US", nullptr},
      {"pt-BR", nullptr},
      {"zh-Hans", nullptr},
      {"english", nullptr},
      {"xx", nullptr},
      {"e", nullptr},
      {"en ", nullptr},
      {"\xc3\x89N", nullptr},      // only ASCII letters fold: not a capital E with acute
      {"\xef\xbc\xa5N", nullptr},  // nor a full-width E
      {"", nullptr},
      {nullptr, nullptr},
  };
  expect_names(std::begin(cases), std::end(cases));
}

// Every code of the table, so that a mistyped row shows.
TEST(LanguageNames, KnowsEveryCodeOfTheTable) {
  const Case cases[] = {
      {"en", "English"},
      {"eng", "English"},
      {"zh", "Chinese"},
      {"chi", "Chinese"},
      {"zho", "Chinese"},
      {"chs", "Chinese (Simplified)"},
      {"cht", "Chinese (Traditional)"},
      {"ja", "Japanese"},
      {"jpn", "Japanese"},
      {"ko", "Korean"},
      {"kor", "Korean"},
      {"fr", "French"},
      {"fre", "French"},
      {"fra", "French"},
      {"de", "German"},
      {"ger", "German"},
      {"deu", "German"},
      {"es", "Spanish"},
      {"spa", "Spanish"},
      {"pt", "Portuguese"},
      {"por", "Portuguese"},
      {"ru", "Russian"},
      {"rus", "Russian"},
      {"it", "Italian"},
      {"ita", "Italian"},
      {"ar", "Arabic"},
      {"ara", "Arabic"},
      {"nl", "Dutch"},
      {"dut", "Dutch"},
      {"nld", "Dutch"},
      {"sv", "Swedish"},
      {"swe", "Swedish"},
      {"no", "Norwegian"},
      {"nor", "Norwegian"},
      {"da", "Danish"},
      {"dan", "Danish"},
      {"fi", "Finnish"},
      {"fin", "Finnish"},
      {"pl", "Polish"},
      {"pol", "Polish"},
      {"tr", "Turkish"},
      {"tur", "Turkish"},
      {"th", "Thai"},
      {"tha", "Thai"},
      {"vi", "Vietnamese"},
      {"vie", "Vietnamese"},
      {"hi", "Hindi"},
      {"hin", "Hindi"},
      {"he", "Hebrew"},
      {"heb", "Hebrew"},
      {"cs", "Czech"},
      {"cze", "Czech"},
      {"ces", "Czech"},
      {"hu", "Hungarian"},
      {"hun", "Hungarian"},
      {"ro", "Romanian"},
      {"rum", "Romanian"},
      {"ron", "Romanian"},
      {"uk", "Ukrainian"},
      {"ukr", "Ukrainian"},
      {"el", "Greek"},
      {"gre", "Greek"},
      {"ell", "Greek"},
      {"id", "Indonesian"},
      {"ind", "Indonesian"},
      {"ms", "Malay"},
      {"may", "Malay"},
      {"msa", "Malay"},
  };
  expect_names(std::begin(cases), std::end(cases));
}

}  // namespace
