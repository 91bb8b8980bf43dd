// The list of encoding names offered to the host.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <iterator>

#include "tpsubm.h"

namespace {

// The expected list, written out here on its own, five names a row.
// clang-format off
constexpr const char *kNames[] = {
    /*   0 */ "IBM037", "IBM437", "IBM500", "ASMO-708", "DOS-720",
    /*   5 */ "ibm737", "ibm775", "ibm850", "ibm852", "IBM855",
    /*  10 */ "ibm857", "IBM00858", "IBM860", "ibm861", "DOS-862",
    /*  15 */ "IBM863", "IBM864", "IBM865", "cp866", "ibm869",
    /*  20 */ "IBM870", "windows-874", "cp875", "shift_jis", "gb2312",
    /*  25 */ "ks_c_5601-1987", "big5", "IBM1026", "IBM01047", "IBM01140",
    /*  30 */ "IBM01141", "IBM01142", "IBM01143", "IBM01144", "IBM01145",
    /*  35 */ "IBM01146", "IBM01147", "IBM01148", "IBM01149", "utf-16",
    /*  40 */ "utf-16BE", "windows-1250", "windows-1251", "Windows-1252", "windows-1253",
    /*  45 */ "windows-1254", "windows-1255", "windows-1256", "windows-1257", "windows-1258",
    /*  50 */ "Johab", "macintosh", "x-mac-japanese", "x-mac-chinesetrad", "x-mac-korean",
    /*  55 */ "x-mac-arabic", "x-mac-hebrew", "x-mac-greek", "x-mac-cyrillic", "x-mac-chinesesimp",
    /*  60 */ "x-mac-romanian", "x-mac-ukrainian", "x-mac-thai", "x-mac-ce", "x-mac-icelandic",
    /*  65 */ "x-mac-turkish", "x-mac-croatian", "utf-32", "utf-32BE", "x-Chinese-CNS",
    /*  70 */ "x-cp20001", "x-Chinese-Eten", "x-cp20003", "x-cp20004", "x-cp20005",
    /*  75 */ "x-IA5", "x-IA5-German", "x-IA5-Swedish", "x-IA5-Norwegian", "us-ascii",
    /*  80 */ "x-cp20261", "x-cp20269", "IBM273", "IBM277", "IBM278",
    /*  85 */ "IBM280", "IBM284", "IBM285", "IBM290", "IBM297",
    /*  90 */ "IBM420", "IBM423", "IBM424", "x-EBCDIC-KoreanExtended", "IBM-Thai",
    /*  95 */ "koi8-r", "IBM871", "IBM880", "IBM905", "IBM00924",
    /* 100 */ "EUC-JP", "x-cp20936", "x-cp20949", "cp1025", "koi8-u",
    /* 105 */ "iso-8859-1", "iso-8859-2", "iso-8859-3", "iso-8859-4", "iso-8859-5",
    /* 110 */ "iso-8859-6", "iso-8859-7", "iso-8859-8", "iso-8859-9", "iso-8859-13",
    /* 115 */ "iso-8859-15", "x-Europa", "iso-8859-8-i", "iso-2022-jp", "csISO2022JP",
    /* 120 */ "iso-2022-jp", "iso-2022-kr", "x-cp50227", "euc-jp", "EUC-CN",
    /* 125 */ "euc-kr", "hz-gb-2312", "GB18030", "x-iscii-de", "x-iscii-be",
    /* 130 */ "x-iscii-ta", "x-iscii-te", "x-iscii-as", "x-iscii-or", "x-iscii-ka",
    /* 135 */ "x-iscii-ma", "x-iscii-gu", "x-iscii-pa", "utf-7", "utf-8",
};
// clang-format on
static_assert(std::size(kNames) == 140);

TEST(Encodings, CountIs140) {
  EXPECT_EQ(tpsubm_codepage_count(), 140);
}

// The places where letter case or a repeat is easy to get wrong.
TEST(Encodings, NamesAtTellingIndexes) {
  struct Case {
    int32_t index;
    const char *name;
  } const cases[] = {
      {0, "IBM037"},        {43, "Windows-1252"}, {100, "EUC-JP"}, {118, "iso-2022-jp"},
      {119, "csISO2022JP"}, {120, "iso-2022-jp"}, {123, "euc-jp"}, {139, "utf-8"},
  };
  for (const Case &c : cases) EXPECT_STREQ(tpsubm_codepage(c.index), c.name) << c.index;
}

TEST(Encodings, IndexesOutsideTheListGiveNullAndLeaveTheMessage) {
  ASSERT_EQ(tpsubm_destroy(-1), TPSUBM_NO_SUCH_ID);
  for (int32_t index : {-1, 140, 141, INT32_MIN, INT32_MAX}) {
    EXPECT_EQ(tpsubm_codepage(index), nullptr) << index;
  }
  EXPECT_STREQ(tpsubm_last_error(), "no such id");
}

TEST(Encodings, ListMatchesNameForName) {
  ASSERT_EQ(tpsubm_codepage_count(), static_cast<int32_t>(std::size(kNames)));
  for (int32_t i = 0; i < tpsubm_codepage_count(); ++i) {
    EXPECT_STREQ(tpsubm_codepage(i), kNames[i]) << "index " << i;
  }
}

// The names are constants: a clear neither moves nor changes them.
TEST(Encodings, NamesOutliveClear) {
  const char *before = tpsubm_codepage(43);
  tpsubm_clear();
  EXPECT_EQ(tpsubm_codepage(43), before);
  EXPECT_STREQ(before, "Windows-1252");
}

}  // namespace
