// The host layer's languages: which lines vote, the Chinese script of a
// track, answers computed ahead on other threads, the names of languages the
// library knows only by their code, and CLD2's heap kept in place.
#include <gtest/gtest.h>
#include <sys/resource.h>
#if __has_include(<valgrind/valgrind.h>)
#include <valgrind/valgrind.h>
#endif

#include <atomic>
#include <cstdio>
#include <fstream>
#include <initializer_list>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "host/language.h"
#include "tpsubm.h"

namespace {

using host::ChineseScript;

struct Cue {
  std::vector<std::string> lines;
};

std::string fixture(const char *name) {
  return std::string(TPSUBM_HOST_LANGUAGE_FIXTURES) + "/" + name;
}

// The text lines of a UTF-8 SubRip fixture, tags left in as a player reads
// them; enough for the small files here.
std::vector<Cue> read_srt(const std::string &path) {
  std::ifstream in(path);
  EXPECT_TRUE(in.good()) << path;
  std::vector<Cue> cues;
  std::string line;
  int row = 0;  // 0: the number, 1: the times, then text until a blank line
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) {
      row = 0;
    } else if (row == 0) {
      row = 1;
    } else if (row == 1) {
      cues.emplace_back();
      row = 2;
    } else {
      cues.back().lines.push_back(line);
    }
  }
  return cues;
}

std::vector<std::string> all_lines(const std::vector<Cue> &cues) {
  std::vector<std::string> lines;
  for (const Cue &cue : cues) lines.insert(lines.end(), cue.lines.begin(), cue.lines.end());
  return lines;
}

std::vector<Cue> one_line_cues(const std::vector<std::string> &lines) {
  std::vector<Cue> cues;
  for (const std::string &line : lines) cues.push_back({{line}});
  return cues;
}

// A finalized track holding `cues`, two seconds apart.
int32_t make_track(const std::vector<Cue> &cues) {
  int32_t id = tpsubm_create("movie", 0, 0, 0, 0, nullptr);
  EXPECT_GE(id, 0) << tpsubm_last_error();
  int32_t t = 0;
  for (const Cue &cue : cues) {
    int32_t position = tpsubm_add_cue(id, t, t + 1500);
    EXPECT_GE(position, 0) << tpsubm_last_error();
    for (const std::string &line : cue.lines) {
      EXPECT_EQ(tpsubm_add_cue_line(id, position, line.c_str()), TPSUBM_OK);
    }
    t += 2000;
  }
  EXPECT_EQ(tpsubm_finalize(id), TPSUBM_OK) << tpsubm_last_error();
  return id;
}

// The track detected the way the probe does it: the detector prepared with
// the track's lines, every text detected on the spot.
int32_t detected_track(const std::vector<Cue> &cues, host::Detector &detector) {
  int32_t id = make_track(cues);
  detector.prepare(all_lines(cues));
  tpsubm_set_detector(host::Detector::detect, &detector);
  tpsubm_detect_languages(id);
  return id;
}

std::string text(const char *s) {
  return s != nullptr ? s : "(null)";
}

// Lines of the kind drone cameras and dash cams write, numbers in place.
std::vector<std::string> generated_telemetry(int count) {
  std::mt19937 random(11);
  auto number = [&](int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(random);
  };
  std::vector<std::string> lines;
  char line[512];
  for (int i = 0; i < count; i++) {
    switch (i % 6) {
      case 0:
        std::snprintf(line, sizeof line, "SrtCnt : %d, DiffTime : %dms", number(1, 99999),
                      number(16, 42));
        break;
      case 1:
        std::snprintf(line, sizeof line,
                      "[iso : %d] [shutter : 1/%d.0] [fnum : %d] [ev : %d] [ct : %d] "
                      "[color_md : default] [focal_len : %d] [latitude: %d.%06d] "
                      "[longitude: %d.%06d] [rel_alt: %d.%03d abs_alt: %d.%03d]",
                      number(100, 3200), number(30, 8000), number(170, 1100), number(-3, 3),
                      number(2500, 7500), number(24, 240), number(-89, 89), number(0, 999999),
                      number(-179, 179), number(0, 999999), number(0, 500), number(0, 999),
                      number(0, 3000), number(0, 999));
        break;
      case 2:
        std::snprintf(line, sizeof line,
                      "F/%d.%d, SS %d, ISO %d, EV %d, DZOOM 1.000, GPS (%d.%04d, %d.%04d, %d), "
                      "D %d.%02dm, H %d.%02dm, H.S %d.%02dm/s, V.S %d.%02dm/s",
                      number(1, 11), number(0, 9), number(30, 8000), number(100, 3200),
                      number(-3, 3), number(-179, 179), number(0, 9999), number(-89, 89),
                      number(0, 9999), number(5, 25), number(0, 999), number(0, 99), number(0, 500),
                      number(0, 99), number(0, 20), number(0, 99), number(0, 10), number(0, 99));
        break;
      case 3:
        std::snprintf(line, sizeof line, "%d.%dm %dkm/h ISO%d F%d.%d", number(0, 500), number(0, 9),
                      number(0, 140), number(100, 3200), number(1, 11), number(0, 9));
        break;
      case 4:
        std::snprintf(line, sizeof line, "%04d-%02d-%02d %02d:%02d:%02d.%03d", number(2015, 2030),
                      number(1, 12), number(1, 28), number(0, 23), number(0, 59), number(0, 59),
                      number(0, 999));
        break;
      default:
        std::snprintf(line, sizeof line, "N%d.%05d E%d.%05d %d km/h", number(0, 89),
                      number(0, 99999), number(0, 179), number(0, 99999), number(0, 140));
        break;
    }
    lines.emplace_back(line);
  }
  return lines;
}

// Gives each cue of a fixture one English line: the story's first seven
// lines, then `more`, one line for each cue.
void add_english(std::vector<Cue> &cues, std::initializer_list<const char *> more) {
  std::vector<const char *> english = {
      "The storm came in from the west before anyone expected it.",
      "Mara, have you seen the lamp oil?",
      "It is in the shed behind the house, next to the old nets.",
      "Then I will get it now, before the wind gets any stronger.",
      "Be careful on the stairs.",
      "Do you think a ship will pass the rocks tonight?",
      "The fishing boats went out this morning and none came back."};
  english.insert(english.end(), more);
  ASSERT_EQ(english.size(), cues.size());
  for (size_t i = 0; i < cues.size(); i++) cues[i].lines.emplace_back(english[i]);
}

TEST(Votes, TelemetryAndSymbolLinesCastNoVote) {
  // CLD2 calls most of these reliable: "gl" for the camera settings, "en"
  // for the flight data.
  std::vector<std::string> lines = all_lines(read_srt(fixture("telemetry.srt")));
  std::vector<std::string> generated = generated_telemetry(600);
  lines.insert(lines.end(), generated.begin(), generated.end());
  for (const char *symbols : {"♪ ♪", "-> <- ^^ ** ## ==", "...", "12:34", "100%", "~~~", ""}) {
    lines.emplace_back(symbols);
  }
  for (const std::string &line : lines) {
    EXPECT_EQ(host::detect_line(line), nullptr) << line;
  }
}

TEST(Votes, OrdinaryDialogueLinesVote) {
  // Short and plain lines of the samples' languages, numbers and names
  // included: the rule against telemetry must not silence them.
  const std::pair<const char *, const char *> cases[] = {
      {"Where is he?", "en"},
      {"Come on, hurry up.", "en"},
      {"Thank you.", "en"},
      {"I'll meet you at 10:30 on platform 9.", "en"},
      {"He kept this lighthouse for 40 years.", "en"},
      {"Mara, have you seen the lamp oil?", "en"},
      {"Merci.", "fr"},
      {"Qu'est-ce que c'est ?", "fr"},
      {"Il est parti à 8 heures ce matin.", "fr"},
      {"Danke.", "de"},
      {"Ich weiß es nicht.", "de"},
      {"Was ist das?", "de"},
      {"Gracias.", "es"},
      {"¿Dónde está?", "es"},
      {"No lo sé.", "es"},
      {"你在哪儿？", "zh"},
      {"谢谢。", "zh"},
      {"风暴比任何人预料的都要早，从西边压了过来。", "zh"},
      {"風暴比任何人預料的都要早，從西邊壓了過來。", "zh"},
      {"Благодаря ти.", "bg"},
  };
  for (const auto &[line, code] : cases) {
    EXPECT_EQ(text(host::detect_line(line)), code) << line;
  }
}

TEST(Votes, TelemetryTrackHasNoLanguage) {
  host::Detector detector;
  int32_t id = make_track(one_line_cues(all_lines(read_srt(fixture("telemetry.srt")))));
  detector.prepare({});
  tpsubm_set_detector(host::Detector::detect, &detector);
  EXPECT_EQ(tpsubm_detect_languages(id), TPSUBM_NO_LANGUAGES);
  EXPECT_STREQ(tpsubm_language1(id), "");
}

const std::vector<std::string> kSimplified = {
    "风暴比任何人预料的都要早，从西边压了过来。", "玛拉，你看见灯油了吗？", "我们快没有了。",
    "在房子后面的棚子里，就在那些旧渔网旁边。",
    // Lines CLD2 alone places in Traditional Chinese (or Japanese).
    "好的。", "是。", "走吧", "快走！"};

TEST(ChineseScript, DecidedFromTheCharactersOfTheWholeTrack) {
  const std::vector<std::string> english = {"The storm came in from the west.", "Thank you."};
  const std::vector<std::string> japanese = {"嵐は誰の予想よりも早く西からやって来た。",
                                             "ありがとう。", "灯台の光を消してはいけない。"};
  // Only characters both forms share: no lead either way.
  const std::vector<std::string> shared = {"我不知道。", "好的。"};
  std::vector<std::string> mostly_english = english;
  mostly_english.push_back("你们好");
  const std::pair<std::vector<std::string>, ChineseScript> cases[] = {
      {kSimplified, ChineseScript::simplified},
      {all_lines(read_srt(fixture("traditional.srt"))), ChineseScript::traditional},
      {english, ChineseScript::none},
      {japanese, ChineseScript::none},
      {shared, ChineseScript::none},
      {mostly_english, ChineseScript::simplified},
      {{}, ChineseScript::none},
  };
  for (const auto &[lines, script] : cases) {
    EXPECT_EQ(host::chinese_script(lines), script) << (lines.empty() ? "" : lines[0]);
  }
}

TEST(ChineseTracks, TraditionalTrackIsOneLanguage) {
  // Its short lines go to CLD2's Simplified table ("我不知道。" even to
  // Japanese); the track's script decides for all of them.
  std::vector<Cue> cues = read_srt(fixture("traditional.srt"));
  host::Detector detector;
  int32_t id = detected_track(cues, detector);
  EXPECT_STREQ(tpsubm_language1(id), "cht");
  EXPECT_STREQ(tpsubm_language2(id), "");
  EXPECT_EQ(tpsubm_language1_lines(id), static_cast<int32_t>(all_lines(cues).size()));
  host::Translator names;
  tpsubm_set_translator(host::Translator::translate, &names);
  EXPECT_EQ(host::display_name(id, names), "Chinese (Traditional)");
  ASSERT_TRUE(names.set_language("zh_TW"));
  EXPECT_EQ(host::display_name(id, names), "中文（繁體）");
  tpsubm_set_translator(nullptr, nullptr);
  EXPECT_EQ(host::language_tag(tpsubm_language1(id)), "zh-Hant");
}

TEST(ChineseTracks, SimplifiedTrackIsOneLanguage) {
  host::Detector detector;
  int32_t id = detected_track(one_line_cues(kSimplified), detector);
  EXPECT_STREQ(tpsubm_language1(id), "chs");
  EXPECT_STREQ(tpsubm_language2(id), "");
  EXPECT_EQ(tpsubm_language1_lines(id), static_cast<int32_t>(kSimplified.size()));
  host::Translator names;
  EXPECT_EQ(host::display_name(id, names), "Chinese (Simplified)");
}

TEST(ChineseTracks, BilingualTraditionalAndEnglish) {
  std::vector<Cue> cues = read_srt(fixture("traditional.srt"));
  add_english(cues, {"All right.", "I don't know.", "Hurry up!", "Thank you.", "What is this?"});
  host::Detector detector;
  int32_t id = detected_track(cues, detector);
  EXPECT_STREQ(tpsubm_language1(id), "cht");
  EXPECT_STREQ(tpsubm_language2(id), "en");
  host::Translator names;
  EXPECT_EQ(host::display_name(id, names), "Chinese (Traditional) & English");
}

TEST(ChineseTracks, ChineseLinesWithoutScriptAnswerChinese) {
  host::Detector detector;
  EXPECT_EQ(text(detector.answer("风暴比任何人预料的都要早。")), "zh");
  detector.set_script(ChineseScript::traditional);
  EXPECT_EQ(text(detector.answer("风暴比任何人预料的都要早。")), "cht");
  EXPECT_EQ(text(detector.answer("我不知道。")), "cht");
  // Japanese stays Japanese, kana and all.
  EXPECT_EQ(text(detector.answer("嵐は誰の予想よりも早く西からやって来た。")), "ja");
  EXPECT_EQ(text(detector.answer("Where is he?")), "en");
}

// Records every text the library hands the detector, and the answer.
struct Recorder {
  host::Detector detector;
  std::vector<std::pair<std::string, std::string>> calls;
  static const char *detect(void *ctx, const char *text_in) {
    auto *self = static_cast<Recorder *>(ctx);
    const char *answer = host::Detector::detect(&self->detector, text_in);
    self->calls.emplace_back(text_in, text(answer));
    return answer;
  }
};

TEST(Precompute, GivesTheAnswersOfDetectionOnTheSpot) {
  // Lines as FFmpeg hands them over, markup left for the library to clean.
  std::vector<Cue> cues = {
      {{"{\\i1}The storm came in from the west before anyone expected it.{\\i0}"}},
      {{"Mara, have you seen the lamp oil?\\NWe have almost none left."}},
      {{"{\\an8}Crois-tu qu'un bateau passera près des rochers ce soir ?"}},
      {{"{\\c&H00FFFF&}Regarde là-bas !{\\c} Je vois une petite lanterne."}},
      {{"风暴比任何人预料的都要早，从西边压了过来。\\N{\\fs20}The storm came early."}},
      {{"{Note without an end", "Line\\N", "\\N\\N", ""}},
      {{"SrtCnt : 1, DiffTime : 33ms", "好的。"}},
  };
  for (Cue &cue : read_srt(fixture("bulgarian.srt"))) cues.push_back(cue);

  Recorder spot;
  int32_t first = make_track(cues);
  spot.detector.prepare(all_lines(cues));
  tpsubm_set_detector(Recorder::detect, &spot);
  ASSERT_EQ(tpsubm_detect_languages(first), TPSUBM_OK);
  EXPECT_EQ(spot.detector.hits(), 0);

  // Computed on another thread, as a player's worker would.
  std::shared_ptr<const host::TrackAnswers> answers;
  std::thread([&] {
    answers = std::make_shared<host::TrackAnswers>(host::precompute_answers(cues));
  }).join();
  EXPECT_EQ(answers->script(), ChineseScript::simplified);
  Recorder ahead;
  ahead.detector.use(answers);
  int32_t second = make_track(cues);
  tpsubm_set_detector(Recorder::detect, &ahead);
  ASSERT_EQ(tpsubm_detect_languages(second), TPSUBM_OK);

  EXPECT_EQ(ahead.calls, spot.calls);
  // The host's cleaning matched the library's for every line: no text was
  // missing from the answers.
  EXPECT_EQ(ahead.detector.hits(), static_cast<int64_t>(ahead.calls.size()));
  EXPECT_EQ(ahead.detector.misses(), 0);
  EXPECT_STREQ(tpsubm_language1(second), tpsubm_language1(first));
  EXPECT_STREQ(tpsubm_language2(second), tpsubm_language2(first));

  // A text the answers lack is detected on the spot.
  EXPECT_EQ(text(ahead.detector.answer("Where is he?")), "en");
  EXPECT_EQ(ahead.detector.misses(), 1);
}

TEST(Precompute, ThreadsAtOnceAgree) {
  std::vector<Cue> cues = read_srt(fixture("bulgarian.srt"));
  for (Cue &cue : read_srt(fixture("traditional.srt"))) cues.push_back(cue);
  host::TrackAnswers reference = host::precompute_answers(cues);
  std::vector<std::string> texts;
  for (const std::string &line : all_lines(cues)) {
    for (std::string &part : host::clean_for_detection(line)) texts.push_back(part);
  }
  std::atomic<int> disagreements = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; t++) {
    threads.emplace_back([&] {
      host::TrackAnswers answers = host::precompute_answers(cues);
      if (answers.script() != reference.script()) disagreements++;
      for (const std::string &one : texts) {
        bool found_here = false;
        bool found_there = false;
        if (answers.find(one, found_here) != reference.find(one, found_there) || !found_here ||
            !found_there || host::detect_line(one) != reference.find(one, found_there)) {
          disagreements++;
        }
      }
    });
  }
  for (std::thread &thread : threads) thread.join();
  EXPECT_EQ(disagreements, 0);
}

TEST(Names, CodesOutsideTheLibraryTableGetTheirNames) {
  const std::pair<const char *, const char *> cases[] = {
      {"bg", "Bulgarian"}, {"sk", "Slovak"},
      {"hr", "Croatian"},  {"fa", "Persian"},
      {"ca", "Catalan"},   {"sr", "Serbian"},
      {"et", "Estonian"},  {"lt", "Lithuanian"},
      {"ta", "Tamil"},     {"chs", "Chinese (Simplified)"},
      {"qq", ""},
  };
  host::Translator english;
  for (const auto &[code, name] : cases) {
    EXPECT_EQ(host::language_name(code, "en"), name) << code;
    EXPECT_EQ(english.code_name(code), name) << code;
  }
  EXPECT_EQ(host::language_name("bg", "fr"), "bulgare");
  EXPECT_EQ(host::language_name("sk", "de_DE"), "Slowakisch");
}

TEST(Names, ReadableNameReplacesOnlyBareCodes) {
  struct Case {
    const char *library;
    const char *lang1;
    const char *lang2;
    bool bilingual;
    const char *locale;
    const char *readable;
  };
  const Case cases[] = {
      {"bg", "bg", "", false, "en", "Bulgarian"},
      {"bg", "bg", "", false, "fr", "bulgare"},
      {"[ bg ]", "bg", "", false, "en", "[ Bulgarian ]"},
      {"{ [ bg.srt ] }", "bg", "", false, "en", "{ [ Bulgarian.srt ] }"},
      {"{ bg PGS }", "bg", "", false, "en", "{ Bulgarian PGS }"},
      // Names the library gave stay as they are, also where they begin
      // with their code.
      {"English", "en", "", false, "en", "English"},
      {"español", "es", "", false, "es", "español"},
      {"italiano.srt", "it", "", false, "it", "italiano.srt"},
      // A second language the library cannot name joins the name.
      {"English", "en", "bg", true, "en", "English & Bulgarian"},
      {"anglais", "bg", "en", true, "fr", "bulgare & anglais"},
      {"[ bg ]", "bg", "sk", true, "en", "[ Bulgarian & Slovak ]"},
      {"English & French", "en", "fr", true, "en", "English & French"},
      // Not bilingual: the second language plays no part.
      {"bg", "bg", "en", false, "en", "Bulgarian"},
      // No detection yet.
      {"", "", "", false, "en", ""},
      {"[  ]", "", "", false, "en", "[  ]"},
  };
  for (const Case &c : cases) {
    host::Translator names;
    ASSERT_TRUE(names.set_language(c.locale));
    EXPECT_EQ(host::readable_name(c.library, c.lang1, c.lang2, c.bilingual, names), c.readable)
        << c.library << " " << c.lang1 << "+" << c.lang2 << " in " << c.locale;
  }
}

TEST(Names, BulgarianTrackIsNamedButKeepsItsCode) {
  host::Detector detector;
  int32_t id = detected_track(read_srt(fixture("bulgarian.srt")), detector);
  EXPECT_STREQ(tpsubm_language1(id), "bg");
  host::Translator names;
  tpsubm_set_translator(host::Translator::translate, &names);
  // The library itself shows the code: its table lacks Bulgarian.
  EXPECT_STREQ(tpsubm_display_name(id), "bg");
  EXPECT_EQ(host::display_name(id, names), "Bulgarian");
  ASSERT_TRUE(names.set_language("fr_FR"));
  EXPECT_EQ(host::display_name(id, names), "bulgare");
  ASSERT_EQ(tpsubm_collection_add(id), TPSUBM_OK);
  EXPECT_NE(std::string(tpsubm_result_json()).find("\"lang1\":\"bg\""), std::string::npos)
      << tpsubm_result_json();
  tpsubm_set_translator(nullptr, nullptr);
}

TEST(Names, BilingualTrackWithBulgarianNamesBoth) {
  // The library names only the language its table has ("English"); the
  // host adds the other one in the library's order.
  std::vector<Cue> cues = read_srt(fixture("bulgarian.srt"));
  add_english(cues, {"Thank you.", "Look over there! A small light is moving on the water.",
                     "My grandfather kept this lighthouse for forty years."});
  host::Detector detector;
  int32_t id = detected_track(cues, detector);
  ASSERT_EQ(tpsubm_is_bilingual(id), 1)
      << tpsubm_language1(id) << " " << tpsubm_language1_lines(id) << ", " << tpsubm_language2(id)
      << " " << tpsubm_language2_lines(id);
  host::Translator names;
  tpsubm_set_translator(host::Translator::translate, &names);
  std::string first = std::string(tpsubm_language1(id)) == "bg" ? "Bulgarian" : "English";
  std::string second = first == "English" ? "Bulgarian" : "English";
  EXPECT_STREQ(tpsubm_display_name(id), "English");
  EXPECT_EQ(host::display_name(id, names), first + " & " + second);
  tpsubm_set_translator(nullptr, nullptr);
}

// Page faults of the calling thread while it detects `count` lines.
long faults_while_detecting(int count) {
  host::detect_line("A first line, so that CLD2's tables are in memory.");
  rusage before{};
  rusage after{};
  getrusage(RUSAGE_THREAD, &before);
  for (int i = 0; i < count; i++) host::detect_line("Mara, have you seen the lamp oil?");
  getrusage(RUSAGE_THREAD, &after);
  return after.ru_minflt - before.ru_minflt;
}

TEST(Heap, PinnedBlockKeepsDetectionOffFreshPages) {
#ifdef __SANITIZE_ADDRESS__
  GTEST_SKIP() << "AddressSanitizer's allocator replaces glibc's heap";
#endif
#ifdef RUNNING_ON_VALGRIND
  if (RUNNING_ON_VALGRIND) GTEST_SKIP() << "valgrind's allocator replaces glibc's heap";
#endif
  // Each thread has a heap of its own here (or shares one with a thread
  // that has ended), so the two runs do not see each other's blocks.
  constexpr int kLines = 300;
  long cold = 0;
  long warm = 0;
  std::thread([&] { cold = faults_while_detecting(kLines); }).join();
  std::thread([&] {
    host::keep_detection_heap_warm();
    warm = faults_while_detecting(kLines);
  }).join();
  if (cold < kLines) GTEST_SKIP() << "this allocator keeps CLD2's buffers mapped by itself";
  // Without the block every call faults its fresh pages in again.
  EXPECT_LT(warm, kLines / 10) << "cold: " << cold;
}

}  // namespace
