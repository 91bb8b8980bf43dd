// Markup cleaning: one line of SubStation Alpha text in, plain parts out.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support.h"
#include "tpsubm.h"

namespace {

class CleanTest : public ::testing::Test {
 protected:
  void SetUp() override { tpsubm_test::reset_library(); }
  void TearDown() override { tpsubm_clear(); }

  static std::vector<std::string> parts() {
    std::vector<std::string> list;
    for (int32_t i = 0; i < tpsubm_clean_part_count(); ++i) {
      const char *part = tpsubm_clean_part(i);
      EXPECT_NE(part, nullptr) << "part " << i;
      list.push_back(part != nullptr ? part : "<null>");
    }
    return list;
  }

  static std::vector<std::string> clean(const std::string &line) {
    EXPECT_EQ(tpsubm_clean_line(line.c_str()), TPSUBM_OK);
    EXPECT_STREQ(tpsubm_last_error(), "");
    return parts();
  }
};

using Parts = std::vector<std::string>;

TEST_F(CleanTest, RewritesBlocksAndSplitsAtHardBreaks) {
  struct {
    const char *line;
    Parts expected;
  } cases[] = {
      {"", {""}},
      {"Hello", {"Hello"}},
      // A block becomes one space, which is kept.
      {"{\\an8}Top line", {" Top line"}},
      {"{a}{b}", {"  "}},
      {"{}", {" "}},
      {"{{}", {" "}},
      // A block ends at the first closing brace, whatever it holds.
      {"{a{b}c}", {" c}"}},
      {"x{y\\Nz}w", {"x w"}},
      {"{x\ny}z", {" z"}},
      // An unclosed brace and a stray one stay as they are, and the rest of
      // the line is still rewritten.
      {"A{b\\NC", {"A{b", "C"}},
      {"{", {"{"}},
      {"x}y", {"x}y"}},
      {"}{a}", {"} "}},
      // Only backslash and capital N breaks the line.
      {"First\\NSecond", {"First", "Second"}},
      {"First\\nSecond", {"First\\nSecond"}},
      {"a\\hb\\Tc", {"a\\hb\\Tc"}},
      {"trailing\\", {"trailing\\"}},
      {"Line\\N", {"Line", ""}},
      {"\\NLine", {"", "Line"}},
      {"\\N\\N", {"", "", ""}},
      {"\\\\N", {"\\", ""}},
      {"\\{a}N", {"\\ N"}},  // a block between the backslash and the N
      {"\\", {"\\"}},
      // A line feed splits too; a carriage return is an ordinary byte.
      {"A\nB", {"A", "B"}},
      {"\n", {"", ""}},
      {"A\r\nB", {"A\r", "B"}},
      {"A\rB", {"A\rB"}},
      {"a\\N\nb", {"a", "", "b"}},
      // Multi-byte UTF-8 passes through untouched.
      {"Gr\xC3\xBC\xC3\x9F"
       "e{\\i1}\xE6\x97\xA5\\N\xF0\x9F\x98\x80",
       {"Gr\xC3\xBC\xC3\x9F"
        "e \xE6\x97\xA5",
        "\xF0\x9F\x98\x80"}},
      {"{\xE2\x80\x94}\xE2\x80\x94", {" \xE2\x80\x94"}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(testing::Message() << '"' << c.line << '"');
    EXPECT_EQ(clean(c.line), c.expected);
  }
}

TEST_F(CleanTest, KeepsAtMost64Parts) {
  struct {
    int breaks;
    int kept;
  } cases[] = {{62, 63}, {63, 64}, {64, 64}, {70, 64}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.breaks);
    std::string line = "p0";
    Parts first;
    first.push_back("p0");
    for (int i = 1; i <= c.breaks; ++i) {
      // Alternate the two kinds of break.
      line += (i % 2 != 0 ? "\\N" : "\n") + ("p" + std::to_string(i));
      if (i < c.kept) first.push_back("p" + std::to_string(i));
    }
    EXPECT_EQ(clean(line), first);
    EXPECT_EQ(tpsubm_clean_part_count(), c.kept);
    EXPECT_EQ(tpsubm_clean_part(c.kept), nullptr);
  }
}

TEST_F(CleanTest, PartIndexOutsideTheListIsNull) {
  ASSERT_EQ(clean("a\\Nb"), (Parts{"a", "b"}));
  for (int32_t i : {-1, 2, 3, TPSUBM_MAX_CLEAN_PARTS, INT32_MIN, INT32_MAX}) {
    SCOPED_TRACE(i);
    EXPECT_EQ(tpsubm_clean_part(i), nullptr);
  }
}

TEST_F(CleanTest, NothingIsHeldBeforeTheFirstCleaning) {
  EXPECT_EQ(tpsubm_clean_part_count(), 0);
  EXPECT_EQ(tpsubm_clean_part(0), nullptr);
}

TEST_F(CleanTest, NullLineFailsAndReleasesThePreviousParts) {
  ASSERT_EQ(clean("a\\Nb\\Nc").size(), 3u);
  EXPECT_EQ(tpsubm_clean_line(nullptr), TPSUBM_INVALID);
  EXPECT_STREQ(tpsubm_last_error(), "null");
  EXPECT_EQ(tpsubm_clean_part_count(), 0);
  EXPECT_EQ(tpsubm_clean_part(0), nullptr);
}

TEST_F(CleanTest, NextCleaningReplacesEveryPart) {
  ASSERT_EQ(clean("a\\Nb\\Nc"), (Parts{"a", "b", "c"}));
  EXPECT_EQ(clean("{x}d"), (Parts{" d"}));
  EXPECT_EQ(tpsubm_clean_part(1), nullptr);
}

TEST_F(CleanTest, SuccessEmptiesTheMessageAndReadersLeaveIt) {
  ASSERT_EQ(tpsubm_clean_line(nullptr), TPSUBM_INVALID);
  ASSERT_STREQ(tpsubm_last_error(), "null");
  EXPECT_EQ(tpsubm_clean_line("x"), TPSUBM_OK);
  EXPECT_STREQ(tpsubm_last_error(), "");

  // A message of another export is emptied the same way.
  ASSERT_EQ(tpsubm_destroy(TPSUBM_MAX_HANDLES), TPSUBM_NO_SUCH_ID);
  ASSERT_STRNE(tpsubm_last_error(), "");
  EXPECT_EQ(tpsubm_clean_line(""), TPSUBM_OK);
  EXPECT_STREQ(tpsubm_last_error(), "");

  ASSERT_EQ(tpsubm_clean_line(nullptr), TPSUBM_INVALID);
  tpsubm_clean_part_count();
  tpsubm_clean_part(0);
  tpsubm_clean_part(-1);
  EXPECT_STREQ(tpsubm_last_error(), "null");
}

TEST_F(CleanTest, ClearReleasesTheParts) {
  ASSERT_EQ(clean("a\\Nb").size(), 2u);
  tpsubm_clear();
  EXPECT_EQ(tpsubm_clean_part_count(), 0);
  EXPECT_EQ(tpsubm_clean_part(0), nullptr);
}

TEST_F(CleanTest, LongLinesCleanLikeShortOnes) {
  // Lengths around and far beyond any small working buffer: a plain line
  // with one break, and one with a block, a break and a closing brace that
  // lies far from its opening one.
  for (size_t length : {0u, 100u, 253u, 254u, 255u, 500u, 507u, 508u, 509u, 510u, 700u, 1016u,
                        1024u, 1500u, 4096u, 100u * 1024}) {
    SCOPED_TRACE(length);
    std::string a(length, 'a');
    std::string b(length, 'b');
    EXPECT_EQ(clean(a + "\\N" + b), (Parts{a, b}));
    std::string inside(length, 'i');
    std::string line = a + "{\\b1}" + b + "\\N" + "x{" + inside + "\\N" + inside + "}y";
    EXPECT_EQ(clean(line), (Parts{a + " " + b, "x y"}));
  }
  std::string unclosed = "{" + std::string(100 * 1024, 'u') + "\\Nend";
  EXPECT_EQ(clean(unclosed), (Parts{"{" + std::string(100 * 1024, 'u'), "end"}));
}

}  // namespace
