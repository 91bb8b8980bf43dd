// Track handles and status reporting, as a host sees them: slots and their
// reuse, the stored per-track values, the suffix rule, the last-error text
// and which exports change it, the warning list and the reset by clear.
#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support.h"
#include "tpsubm.h"

namespace {

int32_t create_track(const char *parent = "parent", int32_t index = 0,
                     const char *suffix = nullptr) {
  return tpsubm_create(parent, index, 0, 0, 0, suffix);
}

// A finalized track with one cue per line, 1 s each.
int32_t finalized_track(int32_t index, const std::vector<const char *> &lines = {"line"}) {
  int32_t id = create_track("parent", index);
  for (size_t i = 0; i < lines.size(); ++i) {
    int32_t start = static_cast<int32_t>(i) * 1000;
    int32_t pos = tpsubm_add_cue(id, start, start + 1000);
    tpsubm_add_cue_line(id, pos, lines[i]);
  }
  EXPECT_EQ(tpsubm_finalize(id), TPSUBM_OK);
  return id;
}

std::string repeat(const std::string &s, size_t n) {
  std::string out;
  for (size_t i = 0; i < n; ++i) out += s;
  return out;
}

class Handles : public ::testing::Test {
 protected:
  void SetUp() override { reset(); }

 public:
  static void reset() { tpsubm_test::reset_library(); }
};

TEST_F(Handles, TakesTheLowestFreeSlot) {
  for (int32_t i = 0; i < 6; ++i) ASSERT_EQ(create_track(), i);
  ASSERT_EQ(tpsubm_destroy(3), TPSUBM_OK);
  ASSERT_EQ(tpsubm_destroy(1), TPSUBM_OK);
  EXPECT_EQ(create_track(), 1);
  EXPECT_EQ(create_track(), 3);
  EXPECT_EQ(create_track(), 6);
  tpsubm_clear();
  EXPECT_EQ(create_track(), 0);
}

TEST_F(Handles, RefusesAFullTableButTestsTheParentFirst) {
  for (int32_t i = 0; i < TPSUBM_MAX_HANDLES; ++i) ASSERT_EQ(create_track(), i);

  EXPECT_EQ(create_track(), -TPSUBM_NO_MEMORY);
  EXPECT_STREQ(tpsubm_last_error(), "too many handles");
  EXPECT_EQ(create_track(""), -TPSUBM_INVALID);
  EXPECT_STREQ(tpsubm_last_error(), "parent_file_hash required");
  EXPECT_EQ(create_track(nullptr), -TPSUBM_INVALID);
  EXPECT_STREQ(tpsubm_last_error(), "parent_file_hash required");

  // The refusals took no slot: freeing one makes exactly that one available.
  ASSERT_EQ(tpsubm_destroy(40), TPSUBM_OK);
  EXPECT_EQ(create_track(), 40);
  EXPECT_STREQ(tpsubm_last_error(), "");
  EXPECT_EQ(create_track(), -TPSUBM_NO_MEMORY);
}

TEST_F(Handles, StoresTheSuffixByItsRule) {
  const std::string a100(100, 'a');
  const std::string dot100 = "." + std::string(99, 'b');
  // Multi-byte suffixes longer than 62 bytes are cut after the last whole
  // sequence that fits: é is 2 bytes, € 3, U+1F600 4.
  const std::string e40 = repeat("\xC3\xA9", 40);
  const std::string euro30 = repeat("\xE2\x82\xAC", 30);
  const std::string grin20 = repeat("\xF0\x9F\x98\x80", 20);
  const std::string a_e40 = "a" + e40;
  const std::string dot_e40 = "." + e40;
  struct Case {
    const char *name;
    const char *suffix;
    std::string stored;
  };
  const Case cases[] = {
      {"null", nullptr, ""},
      {"empty", "", ""},
      {"pgssub", "pgssub", " PGS"},
      {"capitals are not replaced", "PGSSUB", ".PGSSUB"},
      {"pgssub with more", "pgssubx", ".pgssubx"},
      {"extension", "srt", ".srt"},
      {"leading dot kept", ".ass", ".ass"},
      {"100 bytes cut to 63", a100.c_str(), "." + std::string(62, 'a')},
      {"100 bytes with a dot stored whole", dot100.c_str(), dot100},
      {"two-byte characters", e40.c_str(), "." + repeat("\xC3\xA9", 31)},
      {"two-byte characters after one byte", a_e40.c_str(), ".a" + repeat("\xC3\xA9", 30)},
      {"three-byte characters", euro30.c_str(), "." + repeat("\xE2\x82\xAC", 20)},
      {"four-byte characters", grin20.c_str(), "." + repeat("\xF0\x9F\x98\x80", 15)},
      {"multi-byte with a dot stored whole", dot_e40.c_str(), dot_e40},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Handles::reset();
    int32_t id = create_track("parent", 0, c.suffix);
    ASSERT_GE(id, 0);
    // A track without languages is named by its suffix alone.
    const char *name = tpsubm_display_name(id);
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(std::string(name), c.stored);
  }
}

TEST_F(Handles, StoresAndReturnsPerTrackValues) {
  std::string parent = "movie-hash";
  int32_t id = tpsubm_create(parent.c_str(), -7, 250, 1, 99, nullptr);
  ASSERT_EQ(id, 0);
  parent[0] = 'X';  // the library holds its own copy

  EXPECT_STREQ(tpsubm_parent_file_hash(id), "movie-hash");
  EXPECT_EQ(tpsubm_index(id), -7);  // kept as given until a finalize
  EXPECT_EQ(tpsubm_delay_ms(id), 250);
  EXPECT_STREQ(tpsubm_file_hash(id), "");
  EXPECT_EQ(tpsubm_encoding(id), nullptr);

  EXPECT_EQ(tpsubm_set_delay_ms(id, -40), TPSUBM_OK);
  EXPECT_EQ(tpsubm_delay_ms(id), -40);

  const char *names[] = {"utf-8", "", "windows-1252", nullptr};
  for (const char *name : names) {
    SCOPED_TRACE(name != nullptr ? name : "null");
    EXPECT_EQ(tpsubm_set_encoding(id, name), TPSUBM_OK);
    if (name == nullptr) {
      EXPECT_EQ(tpsubm_encoding(id), nullptr);
    } else {
      EXPECT_STREQ(tpsubm_encoding(id), name);
    }
  }
}

TEST_F(Handles, AnswersInvalidIdsWithNeutralValues) {
  for (int32_t id : {-1, 1, 64, INT32_MIN, INT32_MAX}) {
    SCOPED_TRACE(id);
    tpsubm_clear();
    ASSERT_EQ(create_track(), 0);  // id 1 is a free slot
    EXPECT_EQ(tpsubm_destroy(id), TPSUBM_NO_SUCH_ID);
    EXPECT_STREQ(tpsubm_last_error(), "no such id");
    EXPECT_EQ(tpsubm_file_hash(id), nullptr);
    EXPECT_EQ(tpsubm_index(id), -1);
    EXPECT_EQ(tpsubm_parent_file_hash(id), nullptr);
    EXPECT_EQ(tpsubm_set_delay_ms(id, 5), TPSUBM_NO_SUCH_ID);
    EXPECT_EQ(tpsubm_delay_ms(id), 0);
    EXPECT_EQ(tpsubm_set_encoding(id, "utf-8"), TPSUBM_NO_SUCH_ID);
    EXPECT_EQ(tpsubm_encoding(id), nullptr);
    EXPECT_STREQ(tpsubm_parent_file_hash(0), "parent");  // the valid track is untouched
  }
  // A destroyed id is invalid from then on.
  ASSERT_EQ(tpsubm_destroy(0), TPSUBM_OK);
  EXPECT_EQ(tpsubm_destroy(0), TPSUBM_NO_SUCH_ID);
}

TEST_F(Handles, DestroyTakesTheTrackOutOfTheCollectionAndSelections) {
  int32_t a = finalized_track(1);
  int32_t b = finalized_track(2);
  int32_t c = finalized_track(3);
  for (int32_t id : {a, b, c}) ASSERT_EQ(tpsubm_collection_add(id), TPSUBM_OK);
  ASSERT_EQ(tpsubm_set_primary(b), TPSUBM_OK);
  ASSERT_EQ(tpsubm_set_secondary(b), TPSUBM_OK);

  ASSERT_EQ(tpsubm_destroy(b), TPSUBM_OK);
  EXPECT_EQ(tpsubm_collection_count(), 2);
  EXPECT_EQ(tpsubm_collection_at(0), a);
  EXPECT_EQ(tpsubm_collection_at(1), c);
  EXPECT_EQ(tpsubm_primary(), -1);
  EXPECT_EQ(tpsubm_secondary(), -1);

  ASSERT_EQ(tpsubm_set_primary(a), TPSUBM_OK);
  ASSERT_EQ(tpsubm_set_secondary(c), TPSUBM_OK);
  ASSERT_EQ(tpsubm_destroy(c), TPSUBM_OK);
  EXPECT_EQ(tpsubm_primary(), a);
  EXPECT_EQ(tpsubm_secondary(), -1);
}

// Which exports empty, set or leave the last-error text. Every row starts
// from the same tracks with the message "bad cue" held.
constexpr const char *kKept = "bad cue";
constexpr const char *kEmptied = "";

struct Tracks {
  int32_t open;   // one cue with one line
  int32_t final;  // finalized, in the collection
};

const char *answer_en(void *, const char *) {
  return "en";
}
int32_t download_ok(void *, void *, void *, void *) {
  return 0;
}

TEST_F(Handles, ChangesTheLastErrorOnlyWhereDocumented) {
  int32_t out = 0;
  int32_t x = 0;
  struct Row {
    const char *name;
    std::function<void(const Tracks &)> act;
    const char *message;
  };
  const Row rows[] = {
      // Emptied on success.
      {"create", [](const Tracks &) { create_track(); }, kEmptied},
      {"destroy", [](const Tracks &t) { tpsubm_destroy(t.open); }, kEmptied},
      {"clear", [](const Tracks &) { tpsubm_clear(); }, kEmptied},
      {"add_cue", [](const Tracks &t) { tpsubm_add_cue(t.open, 0, 1); }, kEmptied},
      {"add_cue_line", [](const Tracks &t) { tpsubm_add_cue_line(t.open, 0, "x"); }, kEmptied},
      {"finalize", [](const Tracks &t) { tpsubm_finalize(t.open); }, kEmptied},
      {"finalize again", [](const Tracks &t) { tpsubm_finalize(t.final); }, kEmptied},
      {"detect_languages",
       [](const Tracks &t) {
         tpsubm_set_detector(answer_en, nullptr);
         tpsubm_detect_languages(t.final);
       },
       kEmptied},
      {"collection_add",
       [](const Tracks &t) {
         tpsubm_finalize(t.open);
         tpsubm_collection_add(t.open);
       },
       kEmptied},
      {"clean_line", [](const Tracks &) { tpsubm_clean_line("a{b}c"); }, kEmptied},
      {"download",
       [&](const Tracks &) {
         tpsubm_set_download_fn(download_ok, nullptr);
         tpsubm_download(nullptr, &x, &x);
       },
       kEmptied},
      {"download without a required argument",
       [](const Tracks &) {
         tpsubm_set_download_fn(download_ok, nullptr);
         tpsubm_download(nullptr, nullptr, nullptr);
       },
       kEmptied},
      // Set on failure.
      {"create without parent", [](const Tracks &) { create_track(""); },
       "parent_file_hash required"},
      {"destroy invalid", [](const Tracks &) { tpsubm_destroy(64); }, "no such id"},
      {"add_cue invalid", [](const Tracks &) { tpsubm_add_cue(-1, 0, 1); }, "no such id"},
      {"add_cue finalized", [](const Tracks &t) { tpsubm_add_cue(t.final, 0, 1); },
       "already finalized"},
      {"add_cue_line invalid", [](const Tracks &) { tpsubm_add_cue_line(64, 0, "x"); },
       "no such id"},
      {"finalize invalid", [](const Tracks &) { tpsubm_finalize(63); }, "no such id"},
      {"detect invalid", [](const Tracks &) { tpsubm_detect_languages(64); }, "no such id"},
      {"collection_add open", [](const Tracks &t) { tpsubm_collection_add(t.open); },
       "not finalized"},
      {"clean_line null", [](const Tracks &) { tpsubm_clean_line(nullptr); }, "null"},
      {"download without backend", [&](const Tracks &) { tpsubm_download(nullptr, &x, &x); },
       "no download backend"},
      // Left untouched, whatever the result.
      {"file_hash", [](const Tracks &t) { tpsubm_file_hash(t.final); }, kKept},
      {"index", [](const Tracks &t) { tpsubm_index(t.final); }, kKept},
      {"parent_file_hash", [](const Tracks &t) { tpsubm_parent_file_hash(t.final); }, kKept},
      {"set_delay_ms", [](const Tracks &t) { tpsubm_set_delay_ms(t.final, 3); }, kKept},
      {"set_delay_ms invalid", [](const Tracks &) { tpsubm_set_delay_ms(64, 3); }, kKept},
      {"delay_ms", [](const Tracks &t) { tpsubm_delay_ms(t.final); }, kKept},
      {"set_encoding", [](const Tracks &t) { tpsubm_set_encoding(t.final, "utf-8"); }, kKept},
      {"set_encoding invalid", [](const Tracks &) { tpsubm_set_encoding(64, "utf-8"); }, kKept},
      {"encoding", [](const Tracks &t) { tpsubm_encoding(t.final); }, kKept},
      {"last_error", [](const Tracks &) { tpsubm_last_error(); }, kKept},
      {"warning_count", [](const Tracks &) { tpsubm_warning_count(); }, kKept},
      {"warning", [](const Tracks &) { tpsubm_warning(0); }, kKept},
      {"stable_hash", [&](const Tracks &) { tpsubm_stable_hash_utf8("abc", &out); }, kKept},
      {"stable_hash refused", [&](const Tracks &) { tpsubm_stable_hash_utf8("\x80", &out); },
       kKept},
      {"stable_hash null out", [](const Tracks &) { tpsubm_stable_hash_utf8("a", nullptr); },
       kKept},
      {"cue_at", [](const Tracks &t) { tpsubm_cue_at(t.final, 500); }, kKept},
      {"cue_at_linear", [](const Tracks &t) { tpsubm_cue_at_linear(t.final, 500); }, kKept},
      {"active_cues", [](const Tracks &t) { tpsubm_active_cues(t.final, 500); }, kKept},
      {"active_cues open", [](const Tracks &t) { tpsubm_active_cues(t.open, 500); }, kKept},
      {"active_count", [](const Tracks &) { tpsubm_active_count(); }, kKept},
      {"active_index", [](const Tracks &) { tpsubm_active_index(0); }, kKept},
      {"effective_ms", [](const Tracks &t) { tpsubm_effective_ms(t.final, 1, 2, 3, 4); }, kKept},
      {"cue_start_ms", [](const Tracks &t) { tpsubm_cue_start_ms(t.final, 0); }, kKept},
      {"cue_end_ms", [](const Tracks &t) { tpsubm_cue_end_ms(t.final, 0); }, kKept},
      {"cue_line_count", [](const Tracks &t) { tpsubm_cue_line_count(t.final, 0); }, kKept},
      {"cue_line", [](const Tracks &t) { tpsubm_cue_line(t.final, 0, 0); }, kKept},
      {"cue_char_score", [](const Tracks &t) { tpsubm_cue_char_score(t.final, 0); }, kKept},
      {"cue_set_consumed", [](const Tracks &t) { tpsubm_cue_set_consumed(t.final, 0, 1); }, kKept},
      {"cue_set_consumed invalid", [](const Tracks &t) { tpsubm_cue_set_consumed(t.final, 9, 1); },
       kKept},
      {"cue_consumed", [](const Tracks &t) { tpsubm_cue_consumed(t.final, 0); }, kKept},
      {"clean_part_count", [](const Tracks &) { tpsubm_clean_part_count(); }, kKept},
      {"clean_part", [](const Tracks &) { tpsubm_clean_part(0); }, kKept},
      {"set_detector", [](const Tracks &) { tpsubm_set_detector(answer_en, nullptr); }, kKept},
      {"set_bilingual_threshold", [](const Tracks &) { tpsubm_set_bilingual_threshold(0.5); },
       kKept},
      {"language1", [](const Tracks &t) { tpsubm_language1(t.final); }, kKept},
      {"language2", [](const Tracks &t) { tpsubm_language2(t.final); }, kKept},
      {"language1_lines", [](const Tracks &t) { tpsubm_language1_lines(t.final); }, kKept},
      {"language2_lines", [](const Tracks &t) { tpsubm_language2_lines(t.final); }, kKept},
      {"confidence", [](const Tracks &t) { tpsubm_confidence(t.final); }, kKept},
      {"is_bilingual", [](const Tracks &t) { tpsubm_is_bilingual(t.final); }, kKept},
      {"set_translator", [](const Tracks &) { tpsubm_set_translator(nullptr, nullptr); }, kKept},
      {"display_name", [](const Tracks &t) { tpsubm_display_name(t.final); }, kKept},
      {"set_tovrin_server_file", [](const Tracks &t) { tpsubm_set_tovrin_server_file(t.final, 1); },
       kKept},
      {"set_tovrin_server_file invalid",
       [](const Tracks &) { tpsubm_set_tovrin_server_file(64, 1); }, kKept},
      {"collection_remove", [](const Tracks &t) { tpsubm_collection_remove(t.final); }, kKept},
      {"collection_remove non-member", [](const Tracks &t) { tpsubm_collection_remove(t.open); },
       kKept},
      {"collection_count", [](const Tracks &) { tpsubm_collection_count(); }, kKept},
      {"collection_at", [](const Tracks &) { tpsubm_collection_at(0); }, kKept},
      {"set_primary", [](const Tracks &t) { tpsubm_set_primary(t.final); }, kKept},
      {"set_primary invalid", [](const Tracks &) { tpsubm_set_primary(64); }, kKept},
      {"set_secondary", [](const Tracks &t) { tpsubm_set_secondary(t.final); }, kKept},
      {"set_secondary invalid", [](const Tracks &) { tpsubm_set_secondary(64); }, kKept},
      {"primary", [](const Tracks &) { tpsubm_primary(); }, kKept},
      {"secondary", [](const Tracks &) { tpsubm_secondary(); }, kKept},
      {"close_tracks", [](const Tracks &) { tpsubm_close_tracks(); }, kKept},
      {"result_json", [](const Tracks &) { tpsubm_result_json(); }, kKept},
      {"codepage_count", [](const Tracks &) { tpsubm_codepage_count(); }, kKept},
      {"codepage", [](const Tracks &) { tpsubm_codepage(0); }, kKept},
      {"set_download_fn", [](const Tracks &) { tpsubm_set_download_fn(download_ok, nullptr); },
       kKept},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    Handles::reset();
    Tracks t;
    t.open = create_track("open");
    tpsubm_add_cue_line(t.open, tpsubm_add_cue(t.open, 0, 1000), "hello");
    t.final = finalized_track(9);
    ASSERT_EQ(tpsubm_collection_add(t.final), TPSUBM_OK);
    ASSERT_EQ(tpsubm_add_cue_line(t.open, 5, "x"), TPSUBM_INVALID);
    ASSERT_STREQ(tpsubm_last_error(), kKept);

    row.act(t);
    EXPECT_STREQ(tpsubm_last_error(), row.message);
  }
}

TEST_F(Handles, KeepsAtMost64WarningsUntilClear) {
  EXPECT_EQ(tpsubm_warning_count(), 0);
  EXPECT_EQ(tpsubm_warning(0), nullptr);

  int32_t first = finalized_track(5);
  int32_t twin = finalized_track(5);
  ASSERT_EQ(tpsubm_collection_add(first), TPSUBM_OK);
  for (int32_t i = 0; i < TPSUBM_MAX_WARNINGS + 2; ++i) {
    SCOPED_TRACE(i);
    ASSERT_EQ(tpsubm_collection_add(twin), TPSUBM_DUPLICATE);
    ASSERT_STREQ(tpsubm_last_error(), "duplicate");
    ASSERT_EQ(tpsubm_warning_count(), std::min(i + 1, TPSUBM_MAX_WARNINGS));
  }
  EXPECT_STREQ(tpsubm_warning(0), "collection: duplicate Index 5 rejected");
  EXPECT_STREQ(tpsubm_warning(TPSUBM_MAX_WARNINGS - 1), "collection: duplicate Index 5 rejected");
  EXPECT_EQ(tpsubm_warning(-1), nullptr);
  EXPECT_EQ(tpsubm_warning(tpsubm_warning_count()), nullptr);

  ASSERT_EQ(tpsubm_destroy(twin), TPSUBM_OK);
  ASSERT_EQ(tpsubm_destroy(first), TPSUBM_OK);
  EXPECT_EQ(tpsubm_warning_count(), TPSUBM_MAX_WARNINGS);

  tpsubm_clear();
  EXPECT_EQ(tpsubm_warning_count(), 0);
  EXPECT_EQ(tpsubm_warning(0), nullptr);
}

TEST_F(Handles, ClearResetsEveryTrackAndList) {
  ASSERT_EQ(tpsubm_clean_line("x\\Ny"), TPSUBM_OK);
  ASSERT_EQ(tpsubm_clean_part_count(), 2);
  int32_t a = finalized_track(1, {"hello"});
  int32_t b = finalized_track(1, {"hello"});
  ASSERT_EQ(tpsubm_collection_add(a), TPSUBM_OK);
  ASSERT_EQ(tpsubm_collection_add(b), TPSUBM_DUPLICATE);
  ASSERT_EQ(tpsubm_set_primary(a), TPSUBM_OK);
  ASSERT_EQ(tpsubm_set_secondary(b), TPSUBM_OK);
  ASSERT_EQ(tpsubm_active_cues(a, 500), TPSUBM_OK);
  ASSERT_EQ(tpsubm_active_count(), 1);
  ASSERT_STRNE(tpsubm_result_json(), "{}");  // a document is held
  ASSERT_EQ(tpsubm_warning_count(), 1);
  ASSERT_STREQ(tpsubm_last_error(), "duplicate");

  tpsubm_clear();
  EXPECT_EQ(tpsubm_file_hash(a), nullptr);
  EXPECT_EQ(tpsubm_file_hash(b), nullptr);
  EXPECT_EQ(tpsubm_collection_count(), 0);
  EXPECT_EQ(tpsubm_primary(), -1);
  EXPECT_EQ(tpsubm_secondary(), -1);
  EXPECT_EQ(tpsubm_active_count(), 0);
  EXPECT_EQ(tpsubm_clean_part_count(), 0);
  EXPECT_EQ(tpsubm_warning_count(), 0);
  EXPECT_STREQ(tpsubm_last_error(), "");
  EXPECT_EQ(create_track(), 0);
}

struct Callbacks {
  int detector_calls = 0;
  int translator_calls = 0;
};

const char *detect_by_first_letter(void *ctx, const char *text) {
  ++static_cast<Callbacks *>(ctx)->detector_calls;
  return text[0] == 'f' ? "fr" : "en";
}

const char *translate_to_french(void *ctx, const char *english) {
  ++static_cast<Callbacks *>(ctx)->translator_calls;
  if (std::string(english) == "English") return "Anglais";
  if (std::string(english) == "French") return "Francais";
  return nullptr;
}

int32_t download_77(void *, void *, void *, void *) {
  return 77;
}

TEST_F(Handles, ClearKeepsTheCallbacksAndTheThreshold) {
  Callbacks calls;
  tpsubm_set_detector(detect_by_first_letter, &calls);
  tpsubm_set_translator(translate_to_french, &calls);
  tpsubm_set_download_fn(download_77, nullptr);
  tpsubm_set_bilingual_threshold(0.25);

  tpsubm_clear();

  int32_t id = finalized_track(0, {"english one", "english two", "english three", "french"});
  ASSERT_EQ(tpsubm_detect_languages(id), TPSUBM_OK);
  EXPECT_EQ(calls.detector_calls, 4);
  EXPECT_STREQ(tpsubm_language1(id), "en");
  EXPECT_STREQ(tpsubm_language2(id), "fr");
  // 1 of 3 is above 0.25, not above the 0.7 that a reset would give.
  EXPECT_EQ(tpsubm_is_bilingual(id), 1);
  EXPECT_STREQ(tpsubm_display_name(id), "Anglais & Francais");
  EXPECT_EQ(calls.translator_calls, 2);
  int32_t x = 0;
  EXPECT_EQ(tpsubm_download(nullptr, &x, &x), 77);
}

}  // namespace
