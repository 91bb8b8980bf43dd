// The result document: the collection and the selections as one minified
// JSON text, compared byte for byte with the text the getters imply.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>

#include "support.h"
#include "tpsubm.h"

namespace {

constexpr const char kEmptyDocument[] =
    R"({"collection_count":0,"primary":-1,"secondary":-1,"items":[]})";

// Answers with the text it is given, so a line "zh" votes for "zh".
const char *echo_detector(void *, const char *text) {
  return text;
}

// Answers every text with the code passed as context.
const char *fixed_detector(void *ctx, const char *) {
  return static_cast<const char *>(ctx);
}

// A finalized track whose cues hold one line each, in the order given.
int32_t track(const char *parent, int32_t index, int32_t delay_ms,
              std::initializer_list<const char *> lines) {
  const int32_t id = tpsubm_create(parent, index, delay_ms, 0, 0, nullptr);
  EXPECT_GE(id, 0);
  int32_t t = 0;
  for (const char *line : lines) {
    const int32_t position = tpsubm_add_cue(id, t, t + 500);
    EXPECT_GE(position, 0);
    EXPECT_EQ(tpsubm_add_cue_line(id, position, line), TPSUBM_OK);
    t += 1000;
  }
  EXPECT_EQ(tpsubm_finalize(id), TPSUBM_OK);
  return id;
}

// The item the getters describe, for a parent text that needs no escaping.
std::string expected_item(int32_t id, int32_t cues) {
  return "{\"id\":" + std::to_string(id) + ",\"index\":" + std::to_string(tpsubm_index(id)) +
         ",\"file_hash\":\"" + tpsubm_file_hash(id) + "\",\"parent\":\"" +
         tpsubm_parent_file_hash(id) + "\",\"cues\":" + std::to_string(cues) + ",\"lang1\":\"" +
         tpsubm_language1(id) + "\",\"lang2\":\"" + tpsubm_language2(id) +
         "\",\"delay_ms\":" + std::to_string(tpsubm_delay_ms(id)) + "}";
}

std::string expected_head(int32_t count) {
  return "{\"collection_count\":" + std::to_string(count) +
         ",\"primary\":" + std::to_string(tpsubm_primary()) +
         ",\"secondary\":" + std::to_string(tpsubm_secondary()) + ",\"items\":[";
}

// The "parent" value as written, for a one-member collection.
std::string written_parent() {
  const std::string doc = tpsubm_result_json();
  const std::string key = "\"parent\":\"";
  const size_t start = doc.find(key);
  const size_t end = doc.find("\",\"cues\":");
  if (start == std::string::npos || end == std::string::npos) return "<no parent in " + doc + ">";
  return doc.substr(start + key.size(), end - start - key.size());
}

class ResultDocument : public ::testing::Test {
 protected:
  void SetUp() override { tpsubm_test::reset_library(); }
  // Leaves the state of a fresh load behind, for the load-state test when
  // the whole binary runs in one process.
  void TearDown() override { tpsubm_test::reset_library(); }
};

TEST(ResultDocumentAtLoad, IsTheEmptyCollection) {
  EXPECT_STREQ(tpsubm_result_json(), kEmptyDocument);
}

TEST_F(ResultDocument, ClearBringsBackTheEmptyCollection) {
  const int32_t id = track("parent", 1, 0, {"a"});
  ASSERT_EQ(tpsubm_collection_add(id), TPSUBM_OK);
  ASSERT_EQ(tpsubm_set_primary(id), TPSUBM_OK);
  ASSERT_STRNE(tpsubm_result_json(), kEmptyDocument);

  tpsubm_clear();  // also releases the text of the last call
  EXPECT_STREQ(tpsubm_result_json(), kEmptyDocument);
}

// Two tracks of one media file: handle 3 added first and primary, without
// languages; handle 0 secondary, with two languages and a negative delay.
TEST_F(ResultDocument, WritesMembersInCollectionOrderWithEveryField) {
  const char *parent = "4021987716";
  const int32_t second = track(parent, 1, -120, {"zh", "zh", "en", "zh"});
  const int32_t spare1 = track(parent, 5, 0, {"x"});
  const int32_t spare2 = track(parent, 6, 0, {"y"});
  const int32_t first = track(parent, 2, 0, {"one", "two", "three"});
  ASSERT_EQ(second, 0);
  ASSERT_EQ(first, 3);
  ASSERT_EQ(tpsubm_destroy(spare1), TPSUBM_OK);
  ASSERT_EQ(tpsubm_destroy(spare2), TPSUBM_OK);

  tpsubm_set_detector(echo_detector, nullptr);
  ASSERT_EQ(tpsubm_detect_languages(second), TPSUBM_OK);
  ASSERT_STREQ(tpsubm_language1(second), "zh");
  ASSERT_STREQ(tpsubm_language2(second), "en");
  ASSERT_STREQ(tpsubm_language1(first), "");

  ASSERT_EQ(tpsubm_collection_add(first), TPSUBM_OK);
  ASSERT_EQ(tpsubm_collection_add(second), TPSUBM_OK);
  ASSERT_EQ(tpsubm_set_primary(first), TPSUBM_OK);
  ASSERT_EQ(tpsubm_set_secondary(second), TPSUBM_OK);

  // The file hashes are decimal digits, so they come out as quoted digits.
  for (int32_t id : {first, second}) {
    const std::string hash = tpsubm_file_hash(id);
    ASSERT_FALSE(hash.empty());
    EXPECT_EQ(hash.find_first_not_of("0123456789"), std::string::npos) << hash;
  }

  const std::string expected = "{\"collection_count\":2,\"primary\":3,\"secondary\":0,\"items\":[" +
                               expected_item(first, 3) + "," + expected_item(second, 4) + "]}";
  const std::string doc = tpsubm_result_json();
  EXPECT_EQ(doc, expected);
  EXPECT_NE(doc.find(R"("lang1":"","lang2":"","delay_ms":0})"), std::string::npos);
  EXPECT_NE(doc.find(R"("lang1":"zh","lang2":"en","delay_ms":-120})"), std::string::npos);

  // Nothing changed: the next call writes the same text.
  EXPECT_EQ(std::string(tpsubm_result_json()), doc);
}

TEST_F(ResultDocument, IntegersKeepTheirSign) {
  ASSERT_EQ(tpsubm_set_primary(-7), TPSUBM_OK);
  ASSERT_EQ(tpsubm_set_secondary(INT32_MIN), TPSUBM_OK);
  EXPECT_STREQ(tpsubm_result_json(),
               R"({"collection_count":0,"primary":-7,"secondary":-2147483648,"items":[]})");

  const int32_t id = track("p", INT32_MAX, INT32_MIN, {"a"});
  ASSERT_EQ(tpsubm_collection_add(id), TPSUBM_OK);
  const std::string doc = tpsubm_result_json();
  EXPECT_EQ(doc, expected_head(1) + expected_item(id, 1) + "]}");
  EXPECT_NE(doc.find(R"("index":2147483647,)"), std::string::npos) << doc;
  EXPECT_NE(doc.find(R"("delay_ms":-2147483648})"), std::string::npos) << doc;
}

TEST_F(ResultDocument, SelectionThatIsNoMemberHasNoItem) {
  const int32_t member = track("p", 1, 0, {"a"});
  const int32_t outsider = track("p", 2, 0, {"b"});
  const int32_t open = tpsubm_create("p", 3, 0, 0, 0, nullptr);
  ASSERT_EQ(tpsubm_collection_add(member), TPSUBM_OK);
  ASSERT_EQ(tpsubm_set_primary(outsider), TPSUBM_OK);
  ASSERT_EQ(tpsubm_set_secondary(open), TPSUBM_OK);

  EXPECT_EQ(std::string(tpsubm_result_json()),
            "{\"collection_count\":1,\"primary\":" + std::to_string(outsider) + ",\"secondary\":" +
                std::to_string(open) + ",\"items\":[" + expected_item(member, 1) + "]}");
}

TEST_F(ResultDocument, EscapesQuoteBackslashAndControlCharactersInTheParent) {
  struct Case {
    const char *parent;
    const char *written;
  } const cases[] = {
      {"say \"hi\"", R"(say \"hi\")"},
      {"C:\\media\\film", R"(C:\\media\\film)"},
      {"a/b", "a/b"},  // the slash is not escaped
      {"bell\x01", R"(bell\u0001)"},
      {"tab\there", R"(tab\there)"},
      {"two\nlines", R"(two\nlines)"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.parent);
    tpsubm_clear();
    ASSERT_EQ(tpsubm_collection_add(track(c.parent, 1, 0, {"a"})), TPSUBM_OK);
    EXPECT_EQ(written_parent(), c.written);
  }
}

TEST_F(ResultDocument, WritesNonAsciiParentBytesAsTheyAre) {
  const char *parent =
      "Fr\xc3\xa9"
      "d\xc3\xa9ric \xe5\xad\x97\xe5\xb9\x95 \xf0\x9f\x8e\xac";
  ASSERT_EQ(tpsubm_collection_add(track(parent, 1, 0, {"a"})), TPSUBM_OK);
  EXPECT_EQ(written_parent(), parent);
}

// yyjson's writer refuses text that is not UTF-8; the whole result is then
// "{}", until the offending track is gone.
TEST_F(ResultDocument, InvalidUtf8TurnsTheWholeDocumentIntoEmptyBraces) {
  struct Case {
    const char *name;
    const char *parent;
    const char *language;  // answered by the detector, or null for none
  } const cases[] = {
      {"byte 0xff in parent", "ab\xff", nullptr},
      {"stray continuation byte in parent", "\x80z", nullptr},
      {"sequence cut short in parent", "ab\xe5\xad", nullptr},
      {"language code", "parent", "e\xfe"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    tpsubm_clear();
    const int32_t good = track("good", 1, 0, {"a"});
    const int32_t bad = track(c.parent, 2, 0, {"b"});
    if (c.language != nullptr) {
      tpsubm_set_detector(fixed_detector, const_cast<char *>(c.language));
      ASSERT_EQ(tpsubm_detect_languages(bad), TPSUBM_OK);
      tpsubm_set_detector(nullptr, nullptr);
    }
    ASSERT_EQ(tpsubm_collection_add(good), TPSUBM_OK);
    ASSERT_EQ(tpsubm_collection_add(bad), TPSUBM_OK);

    EXPECT_STREQ(tpsubm_result_json(), "{}");
    EXPECT_STREQ(tpsubm_result_json(), "{}");  // the copy of the last call is released

    ASSERT_EQ(tpsubm_destroy(bad), TPSUBM_OK);
    EXPECT_EQ(std::string(tpsubm_result_json()), expected_head(1) + expected_item(good, 1) + "]}");
  }
}

TEST_F(ResultDocument, LeavesTheMessageAlone) {
  ASSERT_EQ(tpsubm_destroy(-1), TPSUBM_NO_SUCH_ID);
  tpsubm_result_json();
  EXPECT_STREQ(tpsubm_last_error(), "no such id");

  ASSERT_EQ(tpsubm_collection_add(track("\xff", 1, 0, {"a"})), TPSUBM_OK);
  ASSERT_EQ(tpsubm_destroy(-1), TPSUBM_NO_SUCH_ID);
  ASSERT_STREQ(tpsubm_result_json(), "{}");
  EXPECT_STREQ(tpsubm_last_error(), "no such id");
}

}  // namespace
