// Out-of-memory test: for each scenario, fails the 1st, 2nd, ... allocation
// in turn (and, in a second pass, every allocation from the nth on) until
// the scenario runs through without a failure. Each time it checks that the
// library answered as it documents for running out of memory, that the
// state is still usable, and that no block is left behind once the library
// is cleared. It needs no test framework, so that nothing but the library
// allocates while the countdown is armed.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "alloc_fail.h"
#include "tpsubm.h"

namespace {

int g_errors;
const char *g_scenario = "";
long g_n;
int g_persistent;

#define CHECK(cond)                                                                                \
  do {                                                                                             \
    if (!(cond)) {                                                                                 \
      ++g_errors;                                                                                  \
      std::fprintf(stderr, "%s:%d: [%s, allocation %ld%s] check failed: %s\n", __FILE__, __LINE__, \
                   g_scenario, g_n, g_persistent ? " on" : "", #cond);                             \
    }                                                                                              \
  } while (0)

bool msg_is(const char *m) {
  return std::strcmp(tpsubm_last_error(), m) == 0;
}
bool same(const char *a, const char *b) {
  return a != nullptr && b != nullptr && std::strcmp(a, b) == 0;
}

// Arms the countdown for the scenario's attempt.
void arm() {
  alloc_fail_arm(g_n, g_persistent);
}
// Disarms it; true when an allocation failed.
bool disarm() {
  return alloc_fail_disarm() > 0;
}

// Runs one attempt function for n = 1, 2, ... in both modes until an
// attempt meets no failure, checking for leaks after each.
void run(const char *name, bool (*attempt)()) {
  g_scenario = name;
  long total = 0;
  for (g_persistent = 0; g_persistent < 2; ++g_persistent) {
    for (g_n = 1;; ++g_n) {
      tpsubm_clear();
      const long base = alloc_live_blocks();
      bool failed = attempt();
      tpsubm_clear();
      CHECK(alloc_live_blocks() == base);
      ++total;
      if (!failed) break;
      if (g_n > 100000) {
        CHECK(!"the scenario never ran through");
        break;
      }
    }
  }
  std::printf("%-28s %ld attempts\n", name, total);
}

// --- detector and translator that never allocate ---------------------------

const char *detect_fr_en(void *, const char *text) {
  if (text[0] == '\0') return nullptr;
  return (std::strstr(text, "Bonjour") != nullptr || std::strstr(text, "\xC3\xA0") != nullptr)
             ? "fr"
             : "en";
}

const char *translate_fixed(void *, const char *english) {
  if (std::strcmp(english, "French") == 0)
    return "Fran\xC3\xA7"
           "ais";
  return nullptr;
}

int32_t make_track(const char *const *first_lines, int n) {
  int32_t id = tpsubm_create("parent", 0, 0, 0, 0, nullptr);
  for (int i = 0; i < n; ++i) {
    int32_t pos = tpsubm_add_cue(id, i * 1000, i * 1000 + 900);
    tpsubm_add_cue_line(id, pos, first_lines[i]);
  }
  return id;
}

// --- handles -----------------------------------------------------------------

const char *g_suffix;
const char *g_suffix_shown;

bool create_with_suffix() {
  arm();
  int32_t id = tpsubm_create("movie-hash", 0, 0, 0, 0, g_suffix);
  bool failed = disarm();
  if (id < 0) {
    CHECK(failed && id == -TPSUBM_NO_MEMORY && msg_is("oom"));
    CHECK(tpsubm_parent_file_hash(0) == nullptr);  // the slot stays free
    CHECK(tpsubm_create("again", 0, 0, 0, 0, g_suffix) == 0);
    CHECK(same(tpsubm_display_name(0), g_suffix_shown));
  } else {
    CHECK(id == 0 && msg_is(""));
    // Without its copy the suffix is simply absent.
    const char *name = tpsubm_display_name(0);
    CHECK(same(name, g_suffix_shown) || (failed && same(name, "")));
  }
  return failed;
}

bool set_encoding() {
  int32_t id = tpsubm_create("p", 0, 0, 0, 0, nullptr);
  tpsubm_set_encoding(id, "utf-8");
  arm();
  int32_t rc = tpsubm_set_encoding(id, "windows-1252");
  bool failed = disarm();
  CHECK(rc == TPSUBM_OK);
  const char *enc = tpsubm_encoding(id);
  CHECK(same(enc, "windows-1252") || (failed && enc == nullptr));
  CHECK(tpsubm_set_encoding(id, "koi8-r") == TPSUBM_OK && same(tpsubm_encoding(id), "koi8-r"));
  return failed;
}

// --- cues --------------------------------------------------------------------

bool add_cues() {
  constexpr int kCues = 70;  // past the growth points 16, 32 and 64
  int32_t id = tpsubm_create("p", 0, 0, 0, 0, nullptr);
  int32_t rc[kCues];
  bool oom_msg[kCues];
  arm();
  for (int i = 0; i < kCues; ++i) {
    rc[i] = tpsubm_add_cue(id, i * 100, i * 100 + 50);
    oom_msg[i] = msg_is("oom");
  }
  bool failed = disarm();
  int32_t next = 0;
  int32_t starts[kCues];
  for (int i = 0; i < kCues; ++i) {
    if (rc[i] >= 0) {
      CHECK(rc[i] == next && !oom_msg[i]);
      starts[next++] = i * 100;
    } else {
      CHECK(rc[i] == -TPSUBM_NO_MEMORY && oom_msg[i]);
    }
  }
  // The cues held are unchanged, and the track goes on taking cues.
  for (int32_t p = 0; p < next; ++p) {
    CHECK(tpsubm_cue_start_ms(id, p) == starts[p] && tpsubm_cue_end_ms(id, p) == starts[p] + 50);
  }
  CHECK(tpsubm_add_cue(id, 1, 2) == next);
  CHECK(tpsubm_finalize(id) == TPSUBM_OK);
  if (next > 0) CHECK(tpsubm_cue_at(id, starts[next - 1] + 10) == next - 1);
  return failed;
}

bool add_lines() {
  constexpr int kLines = 20;  // past the growth points 4, 8 and 16
  static const char *const kText[kLines] = {"l0",  "l1",  "l2",  "l3",  "l4",  "l5",  "l6",
                                            "l7",  "l8",  "l9",  "l10", "l11", "l12", "l13",
                                            "l14", "l15", "l16", "l17", "l18", "l19"};
  int32_t id = tpsubm_create("p", 0, 0, 0, 0, nullptr);
  tpsubm_add_cue(id, 0, 10);
  int32_t rc[kLines];
  bool oom_msg[kLines];
  arm();
  for (int i = 0; i < kLines; ++i) {
    rc[i] = tpsubm_add_cue_line(id, 0, kText[i]);
    oom_msg[i] = msg_is("oom");
  }
  bool failed = disarm();
  int32_t k = 0;
  for (int i = 0; i < kLines; ++i) {
    if (rc[i] == TPSUBM_OK) {
      CHECK(!oom_msg[i] && same(tpsubm_cue_line(id, 0, k), kText[i]));
      ++k;
    } else {
      CHECK(rc[i] == TPSUBM_NO_MEMORY && oom_msg[i]);
    }
  }
  CHECK(tpsubm_cue_line_count(id, 0) == k);
  CHECK(tpsubm_add_cue_line(id, 0, "after") == TPSUBM_OK);
  CHECK(same(tpsubm_cue_line(id, 0, k), "after"));
  return failed;
}

std::string g_long_line;  // over 256 UTF-16 units
const char *g_first_lines[3];
int32_t g_reference_at;
std::string g_reference_hash;
std::vector<int32_t> g_reference_scores;

// A first finalize: fails with 6 "oom", or with 5 "hash utf8" when the
// feed of a long first line finds no memory; the track then stays open.
bool finalize_first() {
  int32_t id = make_track(g_first_lines, 3);
  arm();
  int32_t rc = tpsubm_finalize(id);
  bool failed = disarm();
  if (rc == TPSUBM_OK) {
    CHECK(msg_is(""));
  } else {
    CHECK(failed);
    CHECK((rc == TPSUBM_NO_MEMORY && msg_is("oom")) ||
          (rc == TPSUBM_INVALID && msg_is("hash utf8") && g_first_lines[0] == g_long_line.c_str()));
    // The scores come first and are kept; failing at the order, the file
    // hash and index are kept too.
    for (int32_t pos = 0; pos < 3; ++pos) {
      CHECK(tpsubm_cue_char_score(id, pos) == g_reference_scores[static_cast<size_t>(pos)]);
    }
    if (rc == TPSUBM_NO_MEMORY) CHECK(g_reference_hash == tpsubm_file_hash(id));
    // Still open: lookups that need the order refuse it, lines can be added.
    CHECK(tpsubm_cue_at(id, 1500) == -1);
    CHECK(tpsubm_active_cues(id, 1500) == TPSUBM_NO_SUCH_ID);
    CHECK(tpsubm_add_cue_line(id, 2, "more") == TPSUBM_OK);
    CHECK(tpsubm_finalize(id) == TPSUBM_OK);
  }
  CHECK(tpsubm_cue_at(id, 1500) == g_reference_at);
  return failed;
}

// A repeated finalize that fails keeps the track finalized and searchable.
bool finalize_again() {
  int32_t id = make_track(g_first_lines, 3);
  CHECK(tpsubm_finalize(id) == TPSUBM_OK);
  std::string hash = tpsubm_file_hash(id);
  arm();
  int32_t rc = tpsubm_finalize(id);
  bool failed = disarm();
  CHECK(rc == TPSUBM_OK || (failed && (rc == TPSUBM_NO_MEMORY || rc == TPSUBM_INVALID)));
  CHECK(tpsubm_cue_at(id, 1500) == g_reference_at);
  CHECK(tpsubm_active_cues(id, 1500) == TPSUBM_OK && tpsubm_active_count() == 1);
  CHECK(tpsubm_add_cue(id, 0, 1) == -TPSUBM_INVALID);
  CHECK(hash == tpsubm_file_hash(id));
  CHECK(tpsubm_finalize(id) == TPSUBM_OK);
  return failed;
}

// A track without cues whose parent text is long enough to need a heap
// buffer in the hash: 5 "hash" when that buffer cannot be had.
bool finalize_empty_long_parent() {
  int32_t id = tpsubm_create(g_long_line.c_str(), 0, 0, 0, 0, nullptr);
  arm();
  int32_t rc = tpsubm_finalize(id);
  bool failed = disarm();
  if (rc != TPSUBM_OK) {
    CHECK(failed && rc == TPSUBM_INVALID && msg_is("hash"));
    CHECK(tpsubm_cue_at_linear(id, 0) == -1 && tpsubm_active_cues(id, 0) == TPSUBM_NO_SUCH_ID);
    CHECK(tpsubm_finalize(id) == TPSUBM_OK);
  }
  CHECK(tpsubm_file_hash(id)[0] != '\0');
  return failed;
}

bool stable_hash() {
  int32_t out = -1;
  arm();
  int32_t rc = tpsubm_stable_hash_utf8(g_long_line.c_str(), &out);
  bool failed = disarm();
  CHECK(rc == TPSUBM_OK || (failed && rc == TPSUBM_INVALID && out == -1));
  return failed;
}

// --- detection -----------------------------------------------------------------

struct DetectCue {
  std::vector<std::string> lines;
};
std::vector<DetectCue> g_detect_in;   // the cues as added
std::vector<DetectCue> g_detect_out;  // their lines after an undisturbed run
std::string g_ref_lang1, g_ref_lang2;
int32_t g_ref_lines1, g_ref_lines2;

int32_t make_detect_track() {
  int32_t id = tpsubm_create("parent", 0, 0, 0, 0, nullptr);
  for (size_t i = 0; i < g_detect_in.size(); ++i) {
    int32_t pos =
        tpsubm_add_cue(id, static_cast<int32_t>(i) * 1000, static_cast<int32_t>(i) * 1000 + 900);
    for (const std::string &l : g_detect_in[i].lines) tpsubm_add_cue_line(id, pos, l.c_str());
  }
  tpsubm_finalize(id);
  return id;
}

bool cue_has(int32_t id, int32_t pos, const std::vector<std::string> &lines) {
  if (tpsubm_cue_line_count(id, pos) != static_cast<int32_t>(lines.size())) return false;
  for (size_t k = 0; k < lines.size(); ++k) {
    if (!same(tpsubm_cue_line(id, pos, static_cast<int32_t>(k)), lines[k].c_str())) return false;
  }
  return true;
}

int32_t score_of(int32_t id, int32_t pos) {
  int32_t n = tpsubm_cue_line_count(id, pos);
  int32_t score = 0;
  bool visible = false;
  for (int32_t k = 0; k < n; ++k) {
    const char *l = tpsubm_cue_line(id, pos, k);
    if (std::strspn(l, " \t\r\n") != std::strlen(l)) {
      visible = true;
      score += static_cast<int32_t>(std::strlen(l));
    }
  }
  return visible ? score : -1;
}

void record_detect_reference() {
  tpsubm_clear();
  int32_t id = make_detect_track();
  tpsubm_detect_languages(id);
  g_detect_out.clear();
  for (size_t i = 0; i < g_detect_in.size(); ++i) {
    DetectCue c;
    int32_t n = tpsubm_cue_line_count(id, static_cast<int32_t>(i));
    for (int32_t k = 0; k < n; ++k)
      c.lines.emplace_back(tpsubm_cue_line(id, static_cast<int32_t>(i), k));
    g_detect_out.push_back(c);
  }
  g_ref_lang1 = tpsubm_language1(id);
  g_ref_lang2 = tpsubm_language2(id);
  g_ref_lines1 = tpsubm_language1_lines(id);
  g_ref_lines2 = tpsubm_language2_lines(id);
  tpsubm_clear();
}

bool detect_rewrite() {
  int32_t id = make_detect_track();
  arm();
  int32_t rc = tpsubm_detect_languages(id);
  bool failed = disarm();
  // Every text handed to the detector is a copy: with no memory at all there
  // is no vote.
  CHECK(rc == TPSUBM_OK || (failed && rc == TPSUBM_NO_LANGUAGES));
  CHECK(msg_is("") || (failed && (msg_is("oom") || msg_is("detect no languages"))));
  // Each cue has either its old lines or all of its new ones.
  for (size_t i = 0; i < g_detect_in.size(); ++i) {
    int32_t pos = static_cast<int32_t>(i);
    CHECK(cue_has(id, pos, g_detect_out[i].lines) ||
          (failed && cue_has(id, pos, g_detect_in[i].lines)));
    CHECK(tpsubm_cue_char_score(id, pos) == score_of(id, pos));
  }
  CHECK(tpsubm_language1_lines(id) <= g_ref_lines1);
  // The next run, with memory, completes the rewriting and the result.
  CHECK(tpsubm_detect_languages(id) == TPSUBM_OK);
  for (size_t i = 0; i < g_detect_in.size(); ++i) {
    CHECK(cue_has(id, static_cast<int32_t>(i), g_detect_out[i].lines));
  }
  CHECK(g_ref_lang1 == tpsubm_language1(id) && g_ref_lang2 == tpsubm_language2(id));
  CHECK(tpsubm_language1_lines(id) == g_ref_lines1 && tpsubm_language2_lines(id) == g_ref_lines2);
  return failed;
}

// --- names, cleaning, collection, document -------------------------------------

std::string g_ref_name;

int32_t make_named_track() {
  static const char *const kLines[] = {"Hello", "Bonjour", "World", "Bonjour encore"};
  int32_t id = tpsubm_create("parent", 0, 0, 1, 0, "srt");
  for (int i = 0; i < 4; ++i) {
    int32_t pos = tpsubm_add_cue(id, i * 1000, i * 1000 + 900);
    tpsubm_add_cue_line(id, pos, kLines[i]);
  }
  tpsubm_finalize(id);
  tpsubm_detect_languages(id);
  tpsubm_set_tovrin_server_file(id, 1);
  return id;
}

// A display name is composed in fixed buffers: it asks for no memory.
bool display_name() {
  int32_t id = make_named_track();
  arm();
  const char *name = tpsubm_display_name(id);
  long attempts = alloc_fail_attempts();
  bool failed = disarm();
  CHECK(attempts == 0);
  CHECK(same(name, g_ref_name.c_str()));
  return failed;
}

const char *g_clean_line;
std::vector<std::string> g_clean_ref;
bool g_clean_may_fail;  // long enough for a heap working buffer

bool clean_line() {
  arm();
  int32_t rc = tpsubm_clean_line(g_clean_line);
  bool failed = disarm();
  int32_t n = tpsubm_clean_part_count();
  if (rc == TPSUBM_NO_MEMORY) {
    CHECK(failed && g_clean_may_fail && msg_is("oom") && n == 0);
  } else {
    CHECK(rc == TPSUBM_OK && msg_is(""));
    // A part whose copy failed is left out; the others keep their order.
    size_t r = 0;
    for (int32_t i = 0; i < n; ++i) {
      while (r < g_clean_ref.size() && !same(tpsubm_clean_part(i), g_clean_ref[r].c_str())) ++r;
      CHECK(r < g_clean_ref.size());
      ++r;
    }
    CHECK(failed || n == static_cast<int32_t>(g_clean_ref.size()));
  }
  CHECK(tpsubm_clean_line(g_clean_line) == TPSUBM_OK);
  CHECK(tpsubm_clean_part_count() == static_cast<int32_t>(g_clean_ref.size()));
  return failed;
}

bool collection_duplicate() {
  int32_t a = tpsubm_create("a", 5, 0, 0, 0, nullptr);
  int32_t b = tpsubm_create("b", 5, 0, 0, 0, nullptr);
  tpsubm_finalize(a);
  tpsubm_finalize(b);
  CHECK(tpsubm_collection_add(a) == TPSUBM_OK);
  arm();
  int32_t rc = tpsubm_collection_add(b);
  bool failed = disarm();
  CHECK(rc == TPSUBM_DUPLICATE && msg_is("duplicate"));
  CHECK(tpsubm_collection_count() == 1);
  // The warning is optional: absent when its copy fails.
  int32_t warnings = tpsubm_warning_count();
  CHECK(warnings == 1 || (failed && warnings == 0));
  if (warnings == 1) CHECK(same(tpsubm_warning(0), "collection: duplicate Index 5 rejected"));
  return failed;
}

std::string g_ref_document;

void make_collection() {
  int32_t a = make_named_track();
  int32_t b = tpsubm_create("second \"parent\" \xC3\xA9", 9, -250, 0, 0, nullptr);
  tpsubm_finalize(b);
  tpsubm_collection_add(a);
  tpsubm_collection_add(b);
  tpsubm_set_primary(b);
  tpsubm_set_secondary(a);
}

bool result_document() {
  make_collection();
  arm();
  const char *doc = tpsubm_result_json();
  bool failed = disarm();
  CHECK(doc != nullptr);
  const bool expected = same(doc, g_ref_document.c_str()) || (failed && same(doc, "{}"));
  CHECK(expected);
  if (!expected) std::fprintf(stderr, "  document: %s\n", doc != nullptr ? doc : "(null)");
  CHECK(same(tpsubm_result_json(), g_ref_document.c_str()));
  return failed;
}

}  // namespace

int main() {
  tpsubm_set_detector(detect_fr_en, nullptr);
  tpsubm_set_translator(translate_fixed, nullptr);
  for (int i = 0; i < 300; ++i) g_long_line += "\xC3\xA9";

  struct SuffixCase {
    const char *suffix;
    const char *shown;
  };
  static const SuffixCase kSuffixes[] = {
      {"srt", ".srt"}, {"pgssub", " PGS"}, {".sup", ".sup"}, {"", ""}};
  for (const SuffixCase &c : kSuffixes) {
    g_suffix = c.suffix;
    g_suffix_shown = c.shown;
    run("create with a suffix", create_with_suffix);
  }
  run("set encoding", set_encoding);
  run("add cues", add_cues);
  run("add lines", add_lines);

  const char *short_lines[3] = {"one", "two", "three"};
  const char *long_lines[3] = {g_long_line.c_str(), "two", "three"};
  for (const char *const *lines : {short_lines, long_lines}) {
    for (int i = 0; i < 3; ++i) g_first_lines[i] = lines[i];
    tpsubm_clear();
    int32_t id = make_track(g_first_lines, 3);
    tpsubm_finalize(id);
    g_reference_at = tpsubm_cue_at(id, 1500);
    g_reference_hash = tpsubm_file_hash(id);
    g_reference_scores.clear();
    for (int32_t pos = 0; pos < 3; ++pos)
      g_reference_scores.push_back(tpsubm_cue_char_score(id, pos));
    tpsubm_clear();
    run(lines == short_lines ? "finalize" : "finalize, long first line", finalize_first);
    run(lines == short_lines ? "finalize again" : "finalize again, long line", finalize_again);
  }
  run("finalize, no cues", finalize_empty_long_parent);
  run("stable hash, long text", stable_hash);

  std::string long_markup = "{\\b1}" + std::string(600, 'x') + "\\NBonjour \xC3\xA0 tous{\\b0}";
  g_detect_in = {
      {{"Hello there", "{\\an8}Bonjour\\N\xC3\xA0 tous"}},
      {{long_markup}},
      {{"plain only", ""}},
      {{"{\\i1}A\\NB\\NC", "tail"}},
      {{}},
  };
  record_detect_reference();
  run("detection with rewriting", detect_rewrite);

  tpsubm_clear();
  g_ref_name = tpsubm_display_name(make_named_track());
  tpsubm_clear();
  run("display name", display_name);

  for (const std::string &line : {std::string("{a}x\\Ny"), long_markup + "\\N\\Nlast"}) {
    g_clean_line = line.c_str();
    g_clean_may_fail = line.size() > 500;
    tpsubm_clean_line(g_clean_line);
    g_clean_ref.clear();
    for (int32_t i = 0; i < tpsubm_clean_part_count(); ++i)
      g_clean_ref.emplace_back(tpsubm_clean_part(i));
    tpsubm_clear();
    run(g_clean_may_fail ? "clean a long line" : "clean a short line", clean_line);
  }

  run("collection add, duplicate", collection_duplicate);

  tpsubm_clear();
  make_collection();
  g_ref_document = tpsubm_result_json();
  tpsubm_clear();
  run("result document", result_document);

  if (g_errors != 0) {
    std::fprintf(stderr, "%d checks failed\n", g_errors);
    return 1;
  }
  std::printf("all out-of-memory scenarios passed\n");
  return 0;
}
