// The languages of subtitle text: a detector on CLD2 that the library calls
// for each line, the script of a Chinese track, and the names of languages
// in the user's language on ICU.
//
// Threads: detect_line, chinese_script, clean_for_detection, TrackAnswers
// and language_name may run on any thread, several at once. A Detector and
// a Translator are registered with the library and used on the library's
// thread; each object serves one thread at a time.
#ifndef TPSUBM_HOST_LANGUAGE_H
#define TPSUBM_HOST_LANGUAGE_H

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace host {

// ---------------------------------------------------------------------------
// Detection

// The ISO 639-1 code of the language of `text`, or nullptr: no vote. A line
// votes when CLD2 calls its answer reliable and the line is written mostly
// in words: lines of numbers, units and field names (camera and GPS
// telemetry, "12.3m 45km/h ISO100 F2.8"), which CLD2 places as readily as
// dialogue, and lines of symbols ("♪ ♪") get nullptr. Chinese of either
// script answers "zh"; the script is a property of the whole track
// (chinese_script). The answer is a constant text that lives as long as the
// program.
const char *detect_line(std::string_view text);

enum class ChineseScript { none, simplified, traditional };

// The script of a track's Chinese text, decided once from all its
// characters: Simplified or Traditional when its Han characters lean to one
// of the two forms, none when it has no Chinese or gives no lead.
ChineseScript chinese_script(const std::vector<std::string> &lines);

// The texts the library hands the detector for one cue line: the line
// itself when it has no markup, else its parts after the library's cleaning
// (each "{...}" block becomes a space, "\N" splits the line).
std::vector<std::string> clean_for_detection(std::string_view line);

// What a Detector answers for one track, computed away from the library's
// thread: the track's Chinese script and the answer for every text the
// library will hand the detector (keyed by the exact text).
class TrackAnswers {
 public:
  // Adds one cue line as it will be given to tpsubm_add_cue_line.
  void add_line(std::string_view line);
  // Decides the script from the lines added so far.
  void finish();

  ChineseScript script() const { return script_; }
  // The answer for `text` (nullptr when it casts no vote); `found` tells
  // whether the text was precomputed at all.
  const char *find(std::string_view text, bool &found) const;
  size_t size() const { return answers_.size(); }

 private:
  struct Hash {
    using is_transparent = void;
    size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
  };
  std::unordered_map<std::string, const char *, Hash, std::equal_to<>> answers_;
  std::vector<std::string> han_text_;  // the lines that may hold Chinese, until finish
  ChineseScript script_ = ChineseScript::none;
};

// Answers for all lines of a track: `cues` is any range of records with a
// `lines` member (host::Cue).
template <class Cues>
TrackAnswers precompute_answers(const Cues &cues) {
  TrackAnswers answers;
  for (const auto &cue : cues) {
    for (const auto &line : cue.lines) answers.add_line(line);
  }
  answers.finish();
  return answers;
}

// The library's detector callback. Its context is a Detector set up for the
// track about to be detected: its Chinese script (Chinese lines answer "chs"
// or "cht", or "zh" when the script is unknown) and, optionally, answers
// precomputed on other threads. Texts not among them are detected on the
// spot, so the answers are the same either way.
class Detector {
 public:
  // For a track whose lines are at hand: decides its script now; every text
  // is detected on the spot.
  void prepare(const std::vector<std::string> &lines);
  // For a track detected ahead: takes its script and answers.
  void use(std::shared_ptr<const TrackAnswers> answers);
  void set_script(ChineseScript script) { script_ = script; }
  ChineseScript script() const { return script_; }

  // tpsubm_detector_fn; `ctx` is the Detector.
  static const char *detect(void *ctx, const char *text);
  const char *answer(std::string_view text) const;

  // Texts answered from the precomputed answers and on the spot since the
  // last prepare or use.
  int64_t hits() const { return hits_; }
  int64_t misses() const { return misses_; }

 private:
  ChineseScript script_ = ChineseScript::none;
  std::shared_ptr<const TrackAnswers> answers_;
  mutable int64_t hits_ = 0;
  mutable int64_t misses_ = 0;
};

// The code tagged for other programs: "chs" and "cht" become "zh-Hans" and
// "zh-Hant"; other codes are returned as they are.
std::string_view language_tag(std::string_view code);

// ---------------------------------------------------------------------------
// Names

// A locale setting as ICU takes it: "fr_FR.UTF-8" gives "fr_FR", and C or
// POSIX give "en".
std::string locale_name(const std::string &setting);

// The user's language from the environment (LC_ALL, LC_MESSAGES, LANG), as
// a locale name such as "fr_FR"; "en" when none is set or it is C/POSIX.
std::string language_from_environment();

// The versions of CLD2 and ICU, as loaded.
std::string cld2_version();
std::string icu_version();

// The name of the language `code` (ISO 639, or "chs"/"cht") in `locale`
// ("bg" in "fr" gives "bulgare"); "" when ICU has no name for it.
std::string language_name(std::string_view code, const std::string &locale);

class Translator {
 public:
  Translator();
  ~Translator();
  Translator(const Translator &) = delete;
  Translator &operator=(const Translator &) = delete;

  // Chooses the language to translate into. Returns false when ICU has no
  // locale data for it; names then stay English.
  bool set_language(const std::string &locale_name);

  // tpsubm_translator_fn: the name of `english_name` in the chosen language,
  // or NULL when it has none.
  static const char *translate(void *ctx, const char *english_name);

  // The name of the language `code` in the chosen language (English when
  // none was chosen); "" when ICU has none.
  std::string code_name(std::string_view code) const;

 private:
  const char *lookup(const char *english_name);

  struct Names;  // ICU's display names, kept out of this header
  std::unique_ptr<Names> names_;
  // tpsubm_display_name asks for two names and reads both after the second
  // answer, so consecutive answers live in different buffers.
  std::string answers_[2];
  int next_ = 0;
};

// The name a user reads for a track whose library display name is
// `library_name`: where the library shows a language only by its code
// (its table lacks it), the code is replaced by its name from `names`; a
// bilingual track of which the library names only one language gets both.
// The suffix and brackets stay as the library put them.
std::string readable_name(std::string_view library_name, std::string_view lang1,
                          std::string_view lang2, bool bilingual, const Translator &names);

// readable_name for track `id` from the library's own answers (library
// thread only; "" for an invalid id).
std::string display_name(int32_t id, const Translator &names);

// ---------------------------------------------------------------------------
// Speed

// CLD2 takes a large scratch buffer from malloc for every text. A program
// of its own (the probe's main) may raise glibc's trim threshold, which
// keeps the heap from growing and shrinking around every call; that is a
// setting of the whole process, so the layer leaves it to the program.
// For code inside another program's process: keeps a free block below a
// pinned allocation in the calling thread's heap (448 KB in all, held until
// the thread ends), so that CLD2's buffers are served from it without moving
// the top of the heap. Call once on each thread that detects (detect_line,
// TrackAnswers, a Detector's thread); cheap when called again. Changes no
// setting. The detection functions do not call it themselves.
void keep_detection_heap_warm();

}  // namespace host

#endif
