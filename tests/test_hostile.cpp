// Hosts that do everything a host may do, at once or at the limits: call
// back into every export family from inside detection and display names,
// answer with texts far longer than any buffer, with invalid UTF-8 or with a
// buffer that changes between calls, hand over 1 MiB lines and a million
// cues, fill all 64 slots, and call every export with every kind of invalid
// id and with NULL for every pointer. Meant to run under AddressSanitizer
// and valgrind as well as plainly.
#include <climits>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "support.h"
#include "tpsubm.h"

namespace {

// A detector that answers "fr" for texts holding "Bonjour" and "en" for the
// rest, and runs `hook` (once, on its first call) before answering.
struct Host {
  std::function<void()> hook;
  bool hooked = false;
  std::string answer;
  int calls = 0;
};

const char *host_detect(void *ctx, const char *text) {
  auto *h = static_cast<Host *>(ctx);
  ++h->calls;
  if (!h->hooked && h->hook) {
    h->hooked = true;
    h->hook();
  }
  h->answer = std::strstr(text, "Bonjour") != nullptr ? "fr" : "en";
  return h->answer.c_str();
}

const char *host_translate(void *ctx, const char *english) {
  auto *h = static_cast<Host *>(ctx);
  if (!h->hooked && h->hook) {
    h->hooked = true;
    h->hook();
  }
  h->answer = std::string("T:") + english;
  return h->answer.c_str();
}

int32_t backend(void *, void *, void *, void *) {
  return 42;
}

class Hostile : public ::testing::Test {
 protected:
  void SetUp() override { tpsubm_clear(); }
  void TearDown() override {
    tpsubm_set_detector(nullptr, nullptr);
    tpsubm_set_translator(nullptr, nullptr);
    tpsubm_set_download_fn(nullptr, nullptr);
    tpsubm_clear();
  }

  // A finalized bilingual track: two English lines, one French, one marked
  // up line of both.
  static int32_t make_track(const char *parent = "parent", int32_t index = 0) {
    static const char *const kLines[] = {"Hello", "Bonjour", "{\\an8}World\\NBonjour", "Again"};
    int32_t id = tpsubm_create(parent, index, 0, 1, 0, "srt");
    for (int i = 0; i < 4; ++i) {
      int32_t pos = tpsubm_add_cue(id, i * 1000, i * 1000 + 900);
      tpsubm_add_cue_line(id, pos, kLines[i]);
    }
    EXPECT_EQ(tpsubm_finalize(id), TPSUBM_OK);
    return id;
  }
};

// --- re-entering every family ------------------------------------------------

struct Family {
  const char *name;
  // Runs calls of the family from inside a callback working on `self`;
  // `other` is a second finalized track, `open` an open one.
  void (*calls)(int32_t self, int32_t other, int32_t open);
};

const Family kFamilies[] = {
    {"Handles",
     [](int32_t self, int32_t, int32_t) {
       int32_t id = tpsubm_create("nested", 0, 0, 0, 0, ".ass");
       EXPECT_GE(id, 0);
       EXPECT_EQ(tpsubm_set_delay_ms(self, 5), TPSUBM_OK);
       EXPECT_EQ(tpsubm_set_encoding(self, "koi8-r"), TPSUBM_OK);
       EXPECT_STREQ(tpsubm_parent_file_hash(self), "parent");
       // The identity finalize gave the track: its first lines, as added.
       int32_t hash = -1;
       int32_t index = -1;
       ASSERT_EQ(tpsubm_stable_hash_utf8("HelloBonjour{\\an8}World\\NBonjourAgain", &hash),
                 TPSUBM_OK);
       EXPECT_EQ(tpsubm_file_hash(self), std::to_string(hash));
       ASSERT_EQ(tpsubm_stable_hash_utf8(tpsubm_file_hash(self), &index), TPSUBM_OK);
       EXPECT_EQ(tpsubm_index(self), index);
       EXPECT_EQ(tpsubm_destroy(id), TPSUBM_OK);
       EXPECT_EQ(tpsubm_destroy(id), TPSUBM_NO_SUCH_ID);
       // A sanitizer probe: the read must only touch live memory.
       (void)tpsubm_warning(tpsubm_warning_count() - 1);
     }},
    {"Cues",
     [](int32_t self, int32_t, int32_t open) {
       EXPECT_EQ(tpsubm_add_cue(self, 0, 1), -TPSUBM_INVALID);
       int32_t pos = tpsubm_add_cue(open, 10, 20);
       EXPECT_GE(pos, 0);
       EXPECT_EQ(tpsubm_add_cue_line(open, pos, "{x}nested\\Nline"), TPSUBM_OK);
       EXPECT_EQ(tpsubm_finalize(open), TPSUBM_OK);
       EXPECT_EQ(tpsubm_finalize(self), TPSUBM_OK);  // the track being worked on
     }},
    {"Hash",
     [](int32_t, int32_t, int32_t) {
       int32_t out = -1;
       EXPECT_EQ(tpsubm_stable_hash_utf8("nested", &out), TPSUBM_OK);
     }},
    {"Lookup",
     [](int32_t self, int32_t, int32_t) {
       EXPECT_EQ(tpsubm_cue_at(self, 1500), 1);
       EXPECT_EQ(tpsubm_cue_at_linear(self, 1500), 1);
       EXPECT_EQ(tpsubm_active_cues(self, 2500), TPSUBM_OK);
       EXPECT_EQ(tpsubm_active_count(), 1);
       EXPECT_EQ(tpsubm_active_index(0), 2);
       EXPECT_EQ(tpsubm_cue_set_consumed(self, 0, 1), TPSUBM_OK);
       EXPECT_GE(tpsubm_cue_line_count(self, 2), 1);
       // Sanitizer probes: what these read depends on whether detection has
       // rewritten cue 2 yet; they must only touch live memory.
       (void)tpsubm_cue_line(self, 2, 0);
       (void)tpsubm_cue_char_score(self, 2);
       EXPECT_EQ(tpsubm_effective_ms(self, 1, 0, 0, 0), 1);
     }},
    {"Cleaning",
     [](int32_t, int32_t, int32_t) {
       EXPECT_EQ(tpsubm_clean_line("{\\b1}Nested\\Nparts\\Nthree"), TPSUBM_OK);
       EXPECT_EQ(tpsubm_clean_part_count(), 3);
     }},
    {"Detection",
     [](int32_t self, int32_t other, int32_t) {
       EXPECT_EQ(tpsubm_detect_languages(other), TPSUBM_OK);
       EXPECT_EQ(tpsubm_set_bilingual_threshold(0.1), 0.1);
       tpsubm_set_bilingual_threshold(0.7);  // the name asked for stays the same
       // Sanitizer probes: the values depend on where the callback strikes.
       (void)tpsubm_language1(self);
       (void)tpsubm_confidence(self);
       (void)tpsubm_is_bilingual(other);
     }},
    {"Names",
     [](int32_t self, int32_t other, int32_t) {
       // Both tracks were created with square brackets and "srt". From the
       // detector neither has languages yet; from the translator both have
       // English, which the translator answers as "T:English".
       for (int32_t id : {other, self}) {
         const char *name = tpsubm_display_name(id);
         ASSERT_NE(name, nullptr);
         const std::string shown = name;
         EXPECT_TRUE(shown == "[ .srt ]" || shown == "[ T:English.srt ]") << shown;
       }
       EXPECT_EQ(tpsubm_set_tovrin_server_file(other, 1), TPSUBM_OK);
     }},
    {"Collection",
     [](int32_t self, int32_t other, int32_t) {
       EXPECT_EQ(tpsubm_collection_add(other), TPSUBM_OK);
       EXPECT_EQ(tpsubm_collection_add(self), TPSUBM_OK);
       EXPECT_EQ(tpsubm_collection_remove(other), TPSUBM_OK);
       EXPECT_EQ(tpsubm_set_primary(self), TPSUBM_OK);
       EXPECT_EQ(tpsubm_set_secondary(other), TPSUBM_OK);
       EXPECT_EQ(tpsubm_collection_count(), 1);
       EXPECT_EQ(tpsubm_collection_at(0), self);
       tpsubm_close_tracks();
       EXPECT_EQ(tpsubm_primary() + tpsubm_secondary(), -2);
     }},
    {"ResultDocument",
     [](int32_t, int32_t, int32_t) {
       // No track is in the collection here.
       EXPECT_STREQ(tpsubm_result_json(),
                    "{\"collection_count\":0,\"primary\":-1,\"secondary\":-1,\"items\":[]}");
     }},
    {"Encodings",
     [](int32_t, int32_t, int32_t) {
       EXPECT_EQ(tpsubm_codepage_count(), 140);
       EXPECT_STREQ(tpsubm_codepage(139), "utf-8");
     }},
    {"Downloads",
     [](int32_t, int32_t, int32_t) {
       int v = 0;
       tpsubm_set_download_fn(backend, nullptr);
       EXPECT_EQ(tpsubm_download(nullptr, &v, &v), 42);
     }},
    {"Registration",
     [](int32_t, int32_t, int32_t) {
       // Re-registering the callbacks from inside one of them.
       tpsubm_set_detector(host_detect, nullptr);
       tpsubm_set_translator(nullptr, nullptr);
     }},
};

class Reentry : public Hostile, public ::testing::WithParamInterface<Family> {};

// The detector calls the family on its first call; the run goes on and
// ends as it would have without those calls.
TEST_P(Reentry, FromTheDetectorLeavesTheRunIntact) {
  int32_t self = make_track();
  int32_t other = make_track("other", 77);
  int32_t open = tpsubm_create("open", 0, 0, 0, 0, nullptr);
  Host host;
  tpsubm_set_detector(host_detect, &host);
  host.hook = [&] {
    // The family's calls may re-register the detector: put this one back.
    GetParam().calls(self, other, open);
    tpsubm_set_detector(host_detect, &host);
  };
  ASSERT_EQ(tpsubm_detect_languages(self), TPSUBM_OK);
  EXPECT_STREQ(tpsubm_language1(self), "en");
  EXPECT_STREQ(tpsubm_language2(self), "fr");
  EXPECT_EQ(tpsubm_language1_lines(self), 3);
  EXPECT_EQ(tpsubm_language2_lines(self), 2);
  ASSERT_EQ(tpsubm_cue_line_count(self, 2), 2);
  EXPECT_STREQ(tpsubm_cue_line(self, 2, 0), " World");
  EXPECT_STREQ(tpsubm_cue_line(self, 2, 1), "Bonjour");
  EXPECT_EQ(tpsubm_cue_char_score(self, 2), 13);
  EXPECT_EQ(tpsubm_cue_at(self, 2500), 2);
}

// The translator calls the family on its first call; the name is then the
// one a later, undisturbed request composes.
TEST_P(Reentry, FromTheTranslatorGivesAWholeName) {
  int32_t self = make_track();
  int32_t other = make_track("other", 77);
  int32_t open = tpsubm_create("open", 0, 0, 0, 0, nullptr);
  Host detector;
  tpsubm_set_detector(host_detect, &detector);
  ASSERT_EQ(tpsubm_detect_languages(self), TPSUBM_OK);
  ASSERT_EQ(tpsubm_detect_languages(other), TPSUBM_OK);
  Host host;
  tpsubm_set_translator(host_translate, &host);
  host.hook = [&] {
    GetParam().calls(self, other, open);
    tpsubm_set_translator(host_translate, &host);
  };
  const char *name = tpsubm_display_name(self);
  ASSERT_NE(name, nullptr);
  std::string first = name;
  EXPECT_EQ(first, tpsubm_display_name(self));
  EXPECT_NE(first.find("T:English"), std::string::npos) << first;
}

INSTANTIATE_TEST_SUITE_P(EveryFamily, Reentry, ::testing::ValuesIn(kFamilies),
                         [](const ::testing::TestParamInfo<Family> &param_info) {
                           return std::string(param_info.param.name);
                         });

// --- hostile answers -------------------------------------------------------------

struct Answers {
  explicit Answers(std::vector<std::string> answers) : list(std::move(answers)) {}
  std::vector<std::string> list;  // answered in turn, the last one repeated
  size_t next = 0;
  std::string buffer;  // one buffer, rewritten for every answer
};

const char *answer_in_turn(void *ctx, const char *) {
  auto *a = static_cast<Answers *>(ctx);
  a->buffer = a->list[a->next < a->list.size() ? a->next : a->list.size() - 1];
  ++a->next;
  return a->buffer.c_str();
}

std::string long_text(size_t bytes) {
  // ASCII then three-byte sequences, so that every cut lands inside one.
  std::string s = "ab";
  while (s.size() < bytes) s += "\xE4\xB8\xAD";
  return s;
}

TEST_F(Hostile, AnswersFarLongerThanAnyBufferAreCutAtWholeCharacters) {
  int32_t id = make_track();
  Answers detector{{long_text(1 << 20)}};
  tpsubm_set_detector(answer_in_turn, &detector);
  ASSERT_EQ(tpsubm_detect_languages(id), TPSUBM_OK);
  // 15 bytes hold "ab" and four whole characters.
  EXPECT_EQ(std::string(tpsubm_language1(id)), long_text(1 << 20).substr(0, 14));
  EXPECT_EQ(tpsubm_language1_lines(id), 5);

  // A code the table lacks is shown as it is, untranslated: for a name that
  // the translator is asked for, the track needs a known code.
  Answers english{{"en"}};
  tpsubm_set_detector(answer_in_turn, &english);
  ASSERT_EQ(tpsubm_detect_languages(id), TPSUBM_OK);
  Answers translator{{long_text(1 << 20)}};
  tpsubm_set_translator(answer_in_turn, &translator);
  tpsubm_set_tovrin_server_file(id, 1);
  const char *name = tpsubm_display_name(id);
  ASSERT_NE(name, nullptr);
  EXPECT_EQ(translator.next, 1u);
  // The name part holds 398 of its 399 bytes: "ab" and 132 characters.
  EXPECT_EQ(std::string(name), "{ [ " + long_text(1 << 20).substr(0, 398) + ".srt ] }");
}

TEST_F(Hostile, InvalidUtf8AnswersAreKeptAsBytesAndTheDocumentFallsBack) {
  int32_t id = make_track();
  Answers detector{{"\xC3", "\xFF\xFE", "\xFF\xFE", "\xFF\xFE", "\xC3"}};
  tpsubm_set_detector(answer_in_turn, &detector);
  ASSERT_EQ(tpsubm_detect_languages(id), TPSUBM_OK);
  EXPECT_STREQ(tpsubm_language1(id), "\xFF\xFE");
  EXPECT_STREQ(tpsubm_language2(id), "\xC3");
  ASSERT_EQ(tpsubm_collection_add(id), TPSUBM_OK);
  EXPECT_STREQ(tpsubm_result_json(), "{}");
  // An unknown code is shown as it is; the broken translation is not asked.
  EXPECT_STREQ(tpsubm_display_name(id), "[ \xFF\xFE.srt ]");

  // A translator answering broken bytes: the name holds them, within bounds.
  Answers clean{{"en"}};
  tpsubm_set_detector(answer_in_turn, &clean);
  ASSERT_EQ(tpsubm_detect_languages(id), TPSUBM_OK);
  Answers translator{{std::string(600, 'x') + "\xE4\xB8"}};
  tpsubm_set_translator(answer_in_turn, &translator);
  const char *name = tpsubm_display_name(id);
  ASSERT_NE(name, nullptr);
  EXPECT_EQ(std::string(name), "[ " + std::string(399, 'x') + ".srt ]");
}

TEST_F(Hostile, AnswersReadFromOneChangingBufferCountAsGiven) {
  int32_t id = make_track();
  Answers detector{{"en", "fr", "en", "fr", "de"}};
  tpsubm_set_detector(answer_in_turn, &detector);
  ASSERT_EQ(tpsubm_detect_languages(id), TPSUBM_OK);
  EXPECT_STREQ(tpsubm_language1(id), "en");
  EXPECT_STREQ(tpsubm_language2(id), "fr");
  EXPECT_EQ(tpsubm_language1_lines(id), 2);
  EXPECT_EQ(tpsubm_language2_lines(id), 2);
  EXPECT_EQ(detector.next, 5u);
}

// --- sizes at the limits -----------------------------------------------------------

TEST_F(Hostile, OneMebibyteTextsEverywhere) {
  const std::string big = long_text(1 << 20);
  std::string marked;
  while (marked.size() < (1u << 20)) marked += "{\\i1}word\\Nmot ";
  int32_t id = tpsubm_create(big.c_str(), 0, 0, 1, 0, big.c_str());
  ASSERT_GE(id, 0);
  EXPECT_EQ(std::strlen(tpsubm_parent_file_hash(id)), big.size());
  EXPECT_EQ(tpsubm_set_encoding(id, big.c_str()), TPSUBM_OK);
  EXPECT_EQ(std::strlen(tpsubm_encoding(id)), big.size());
  int32_t pos = tpsubm_add_cue(id, 0, 1000);
  ASSERT_EQ(tpsubm_add_cue_line(id, pos, big.c_str()), TPSUBM_OK);
  ASSERT_EQ(tpsubm_add_cue_line(id, pos, marked.c_str()), TPSUBM_OK);
  ASSERT_EQ(tpsubm_finalize(id), TPSUBM_OK);
  EXPECT_EQ(tpsubm_cue_char_score(id, pos), static_cast<int32_t>(big.size() + marked.size()));
  int32_t whole = -1;
  ASSERT_EQ(tpsubm_stable_hash_utf8(big.c_str(), &whole), TPSUBM_OK);
  EXPECT_EQ(std::to_string(whole), tpsubm_file_hash(id));

  ASSERT_EQ(tpsubm_clean_line(marked.c_str()), TPSUBM_OK);
  EXPECT_EQ(tpsubm_clean_part_count(), 64);

  Answers detector{{"en"}};
  tpsubm_set_detector(answer_in_turn, &detector);
  ASSERT_EQ(tpsubm_detect_languages(id), TPSUBM_OK);
  EXPECT_EQ(tpsubm_cue_line_count(id, pos), 1 + 64);  // the marked line's 64 parts
  // The suffix keeps at most its first 62 bytes: "ab" and 20 characters.
  EXPECT_EQ(std::string(tpsubm_display_name(id)), "[ English." + big.substr(0, 62) + " ]");
  ASSERT_EQ(tpsubm_collection_add(id), TPSUBM_OK);
  std::string doc = tpsubm_result_json();
  EXPECT_NE(doc.find(big), std::string::npos);
}

TEST_F(Hostile, AMillionCuesInOneTrack) {
  constexpr int32_t kCues = 1000000;
  int32_t id = tpsubm_create("parent", 0, 0, 0, 0, nullptr);
  // Cues of 30 ms every 10 ms, added in reverse time order: three overlap
  // at every time.
  for (int32_t i = 0; i < kCues; ++i) {
    int32_t start = (kCues - 1 - i) * 10;
    ASSERT_EQ(tpsubm_add_cue(id, start, start + 30), i);
    ASSERT_EQ(tpsubm_add_cue_line(id, i, (i % 7) == 0 ? "longer line" : "line"), TPSUBM_OK);
  }
  ASSERT_EQ(tpsubm_finalize(id), TPSUBM_OK);
  for (int32_t t : {0, 5, 10, 4999995, 9999990, 9999999, 10000019, 10000020, -1, INT32_MAX}) {
    EXPECT_EQ(tpsubm_cue_at(id, t), tpsubm_cue_at_linear(id, t)) << t;
  }
  ASSERT_EQ(tpsubm_active_cues(id, 5000005), TPSUBM_OK);
  ASSERT_EQ(tpsubm_active_count(), 3);
  // By start time: the cue that started earliest was added last.
  EXPECT_EQ(tpsubm_active_index(0), kCues - 1 - 499998);
  EXPECT_EQ(tpsubm_active_index(2), kCues - 1 - 500000);
}

TEST_F(Hostile, SixtyFourTracksFillEveryTable) {
  for (int32_t i = 0; i < TPSUBM_MAX_HANDLES; ++i) {
    ASSERT_EQ(tpsubm_create("parent", i + 1, 0, 0, 0, "srt"), i);
    ASSERT_EQ(tpsubm_finalize(i), TPSUBM_OK);
    ASSERT_EQ(tpsubm_collection_add(i), TPSUBM_OK);
  }
  EXPECT_EQ(tpsubm_create("parent", 0, 0, 0, 0, nullptr), -TPSUBM_NO_MEMORY);
  EXPECT_STREQ(tpsubm_last_error(), "too many handles");
  EXPECT_EQ(tpsubm_collection_count(), 64);
  std::string doc = tpsubm_result_json();
  size_t items = 0;
  for (size_t at = doc.find("\"id\":"); at != std::string::npos; at = doc.find("\"id\":", at + 1))
    ++items;
  EXPECT_EQ(items, 64u);
  // A freed slot in the middle is the next one taken.
  ASSERT_EQ(tpsubm_destroy(40), TPSUBM_OK);
  EXPECT_EQ(tpsubm_collection_count(), 63);
  EXPECT_EQ(tpsubm_create("again", 0, 0, 0, 0, nullptr), 40);
}

// --- invalid ids and NULL pointers -------------------------------------------------

// Every export that takes an id, with its neutral answer for an invalid one.
TEST_F(Hostile, EveryExportAnswersEveryInvalidIdNeutrally) {
  int32_t freed = make_track();
  int32_t live = make_track("live");
  ASSERT_EQ(tpsubm_destroy(freed), TPSUBM_OK);
  Answers detector{{"en"}};
  tpsubm_set_detector(answer_in_turn, &detector);
  tpsubm_set_translator(host_translate, nullptr);
  ASSERT_EQ(tpsubm_collection_add(live), TPSUBM_OK);
  ASSERT_EQ(tpsubm_set_primary(live), TPSUBM_OK);
  const std::string doc = tpsubm_result_json();

  for (int32_t bad : {-1, 64, INT32_MIN, INT32_MAX, freed}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(tpsubm_destroy(bad), TPSUBM_NO_SUCH_ID);
    EXPECT_STREQ(tpsubm_last_error(), "no such id");
    EXPECT_EQ(tpsubm_file_hash(bad), nullptr);
    EXPECT_EQ(tpsubm_index(bad), -1);
    EXPECT_EQ(tpsubm_parent_file_hash(bad), nullptr);
    EXPECT_EQ(tpsubm_set_delay_ms(bad, 5), TPSUBM_NO_SUCH_ID);
    EXPECT_EQ(tpsubm_delay_ms(bad), 0);
    EXPECT_EQ(tpsubm_set_encoding(bad, "x"), TPSUBM_NO_SUCH_ID);
    EXPECT_EQ(tpsubm_encoding(bad), nullptr);
    EXPECT_EQ(tpsubm_add_cue(bad, 0, 1), -TPSUBM_NO_SUCH_ID);
    EXPECT_EQ(tpsubm_add_cue_line(bad, 0, "x"), TPSUBM_NO_SUCH_ID);
    EXPECT_EQ(tpsubm_finalize(bad), TPSUBM_NO_SUCH_ID);
    EXPECT_EQ(tpsubm_cue_at(bad, 0), -1);
    EXPECT_EQ(tpsubm_cue_at_linear(bad, 0), -1);
    EXPECT_EQ(tpsubm_active_cues(bad, 0), TPSUBM_NO_SUCH_ID);
    EXPECT_EQ(tpsubm_active_count(), 0);
    EXPECT_EQ(tpsubm_effective_ms(bad, 1, 2, 3, 4), 10);
    EXPECT_EQ(tpsubm_cue_start_ms(bad, 0), 0);
    EXPECT_EQ(tpsubm_cue_end_ms(bad, 0), 0);
    EXPECT_EQ(tpsubm_cue_line_count(bad, 0), 0);
    EXPECT_EQ(tpsubm_cue_line(bad, 0, 0), nullptr);
    EXPECT_EQ(tpsubm_cue_char_score(bad, 0), -1);
    EXPECT_EQ(tpsubm_cue_set_consumed(bad, 0, 1), TPSUBM_INVALID);
    EXPECT_EQ(tpsubm_cue_consumed(bad, 0), 0);
    EXPECT_EQ(tpsubm_detect_languages(bad), TPSUBM_NO_SUCH_ID);
    EXPECT_STREQ(tpsubm_last_error(), "no such id");
    EXPECT_EQ(tpsubm_language1(bad), nullptr);
    EXPECT_EQ(tpsubm_language2(bad), nullptr);
    EXPECT_EQ(tpsubm_language1_lines(bad), 0);
    EXPECT_EQ(tpsubm_language2_lines(bad), 0);
    EXPECT_EQ(tpsubm_confidence(bad), 0.0);
    EXPECT_EQ(tpsubm_is_bilingual(bad), 0);
    EXPECT_EQ(tpsubm_display_name(bad), nullptr);
    EXPECT_EQ(tpsubm_set_tovrin_server_file(bad, 1), TPSUBM_NO_SUCH_ID);
    EXPECT_EQ(tpsubm_collection_add(bad), TPSUBM_NO_SUCH_ID);
    EXPECT_EQ(tpsubm_collection_remove(bad), TPSUBM_NO_SUCH_ID);
    EXPECT_EQ(tpsubm_collection_at(bad), bad == INT32_MIN || bad == -1 || bad >= 1 ? -1 : live);
    if (bad >= 0) {
      EXPECT_EQ(tpsubm_set_primary(bad), TPSUBM_NO_SUCH_ID);
      EXPECT_EQ(tpsubm_set_secondary(bad), TPSUBM_NO_SUCH_ID);
    }
    EXPECT_EQ(tpsubm_warning(bad), nullptr);
    EXPECT_EQ(tpsubm_clean_part(bad), nullptr);
    EXPECT_EQ(tpsubm_active_index(bad), -1);
    if (bad < 0 || bad >= 140) {
      EXPECT_EQ(tpsubm_codepage(bad), nullptr);
    }
    // Nothing about the live track changed.
    EXPECT_EQ(tpsubm_primary(), live);
    EXPECT_EQ(tpsubm_result_json(), doc);
  }
}

TEST_F(Hostile, NullForEveryPointer) {
  EXPECT_EQ(tpsubm_create(nullptr, 0, 0, 0, 0, nullptr), -TPSUBM_INVALID);
  EXPECT_STREQ(tpsubm_last_error(), "parent_file_hash required");
  int32_t id = tpsubm_create("p", 0, 0, 0, 0, nullptr);
  ASSERT_EQ(id, 0);
  EXPECT_EQ(tpsubm_set_encoding(id, nullptr), TPSUBM_OK);
  EXPECT_EQ(tpsubm_encoding(id), nullptr);
  int32_t pos = tpsubm_add_cue(id, 0, 10);
  EXPECT_EQ(tpsubm_add_cue_line(id, pos, nullptr), TPSUBM_OK);
  EXPECT_STREQ(tpsubm_cue_line(id, pos, 0), "");
  EXPECT_EQ(tpsubm_finalize(id), TPSUBM_OK);

  int32_t out = 7;
  EXPECT_EQ(tpsubm_stable_hash_utf8("x", nullptr), TPSUBM_INVALID);
  EXPECT_EQ(tpsubm_stable_hash_utf8(nullptr, nullptr), TPSUBM_INVALID);
  EXPECT_EQ(tpsubm_stable_hash_utf8(nullptr, &out), TPSUBM_OK);
  int32_t empty = 8;
  EXPECT_EQ(tpsubm_stable_hash_utf8("", &empty), TPSUBM_OK);
  EXPECT_EQ(out, empty);

  EXPECT_EQ(tpsubm_clean_line(nullptr), TPSUBM_INVALID);
  EXPECT_STREQ(tpsubm_last_error(), "null");

  tpsubm_set_detector(nullptr, nullptr);
  EXPECT_EQ(tpsubm_detect_languages(id), TPSUBM_NO_DETECTOR);
  Answers none{{""}};
  tpsubm_set_detector([](void *, const char *) -> const char * { return nullptr; }, &none);
  EXPECT_EQ(tpsubm_detect_languages(id), TPSUBM_NO_LANGUAGES);
  tpsubm_set_translator(nullptr, nullptr);
  EXPECT_STREQ(tpsubm_display_name(id), "");
  tpsubm_set_translator([](void *, const char *) -> const char * { return nullptr; }, nullptr);
  EXPECT_STREQ(tpsubm_display_name(id), "");

  tpsubm_set_download_fn(nullptr, nullptr);
  EXPECT_EQ(tpsubm_download(nullptr, nullptr, nullptr), TPSUBM_INVALID);
  EXPECT_STREQ(tpsubm_last_error(), "no download backend");
  tpsubm_set_download_fn(backend, nullptr);
  int v = 0;
  EXPECT_EQ(tpsubm_download(nullptr, nullptr, &v), TPSUBM_INVALID);
  EXPECT_EQ(tpsubm_download(nullptr, &v, nullptr), TPSUBM_INVALID);
  EXPECT_EQ(tpsubm_download(nullptr, &v, &v), 42);
}

}  // namespace
