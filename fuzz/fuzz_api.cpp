// Fuzzes the whole interface. The input is a program: each step takes an
// operation byte and its arguments (ids valid and not, times, any bytes as
// texts, long texts), and the detector, translator and download backend take
// their answers, and the calls they make back into the library, from the
// same input. A shadow of what the host knows (which slots live, how many
// cues each has, the collection, the selections) is kept beside the
// library, every result is checked against it, and after every step,
// callbacks included, the invariants that hold for every state are checked:
// the result document parses and reports exactly the collection, the
// lookups agree with a plain scan of the cues, every score is the one the
// last finalize computed (a failed first finalize included), and every text
// that comes out is valid UTF-8 when every text that went in was.
#include <yyjson.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "fuzz_support.h"
#include "tpsubm.h"

namespace {

constexpr int kSlots = TPSUBM_MAX_HANDLES;
constexpr int kMaxDepth = 2;
constexpr int kMaxSteps = 256;
constexpr int32_t kMaxBulkCues = 1500;  // per track through the bulk step

struct Track {
  bool alive = false;
  bool finalized = false;
  int32_t cues = 0;
  uint32_t generation = 0;  // changes with every create and release
  // An open track's scores: every finalize scores the cues it finds before
  // it can fail, and a first finalize that fails keeps them. A cue added
  // since, or not scored at all, has -1; lines added since leave the score
  // as it was. (A finalized track's scores are those of its current lines.)
  std::vector<int32_t> scores;
};

// A new or released slot's shadow.
Track fresh_track(bool alive, uint32_t generation) {
  Track t;
  t.alive = alive;
  t.generation = generation;
  return t;
}

struct World {
  fuzz::Reader *in = nullptr;
  Track t[kSlots];
  std::vector<int32_t> coll;
  int32_t primary = -1;
  int32_t secondary = -1;
  bool all_valid = true;  // every text fed in so far was well-formed UTF-8
  bool detector_on = false;
  bool translator_on = false;
  bool download_on = false;
  int depth = 0;
  int steps = 0;
  std::vector<std::pair<int32_t, uint32_t>> detecting;  // runs in progress
  std::string detect_answer;                            // reused by every answer
  std::string translate_answer;
  int64_t budget = 0;  // cue reads left for the current round of checks
};

World w;
int g_detect_ctx;
int g_translate_ctx;
int g_download_ctx;

void step();
void check_world();

// --- inputs ------------------------------------------------------------------

const char *const kPool[] = {
    "",
    "Hello",
    "{\\an8}Top\\NBottom",
    "a{b}c{d",
    "x}y\\N\\N",
    "line\nfeed",
    "\xC3\xA9t\xC3\xA9",
    "\xF0\x9F\x98\x80 smile",
    "\xE4\xB8\xAD\xE6\x96\x87",
    "   \t",
    "\xFF\xFE bad",
    "\xC3",
    "pgssub",
    ".srt",
    "\xED\xA0\x80",  // a surrogate
    "{}",
};
constexpr size_t kPoolSize = sizeof kPool / sizeof kPool[0];

// Notes a text going into the library.
void fed(const char *text) {
  if (text != nullptr && !fuzz::utf8_valid(text)) w.all_valid = false;
}

// A text argument: null, a pool text, raw bytes, or a long repetition.
struct Text {
  bool null = false;
  std::string s;
  const char *c() const { return null ? nullptr : s.c_str(); }
};

Text take_text() {
  Text t;
  uint8_t k = w.in->u8();
  if (k == 0xFF) {
    t.null = true;
    return t;
  }
  if (k >= 0xF0) {
    size_t len = w.in->u16() % 8192;
    std::string pattern = w.in->bytes(1 + k % 8);
    if (pattern.empty() || pattern[0] == '\0') pattern = "a";
    pattern = pattern.c_str();
    while (t.s.size() < len) t.s += pattern;
  } else if (k >= 0xD0) {
    t.s = kPool[w.in->u8() % kPoolSize];
  } else {
    t.s = w.in->bytes(k % 48);
  }
  t.s = std::string(t.s.c_str());  // a C text ends at its first NUL
  fed(t.c());
  return t;
}

int32_t take_id() {
  static const int32_t kSpecial[] = {-1, 64, INT32_MIN, INT32_MAX, 65, -64, 128, 63};
  uint8_t b = w.in->u8();
  if (b < 0xC0) return b % 8;
  if (b < 0xF0) return b % kSlots;
  return kSpecial[b % 8];
}

int32_t take_position(int32_t id) {
  static const int32_t kSpecial[] = {-1, INT32_MIN, INT32_MAX, 0};
  uint8_t b = w.in->u8();
  int32_t n = (id >= 0 && id < kSlots && w.t[id].alive) ? w.t[id].cues : 0;
  if (b < 0xF0) return b % (n + 1);  // n itself is out of range
  return kSpecial[b % 4];
}

int32_t take_time() {
  static const int32_t kSpecial[] = {0, -1, INT32_MIN, INT32_MAX, 1000, INT32_MIN + 1, 999, 1};
  uint8_t b = w.in->u8();
  switch (b % 4) {
    case 0:
      return static_cast<int32_t>(w.in->u8()) * 100;
    case 1:
      return static_cast<int16_t>(w.in->u16());
    case 2:
      return w.in->i32();
    default:
      return kSpecial[(b / 4) % 8];
  }
}

// --- helpers ---------------------------------------------------------------

bool alive(int32_t id) {
  return id >= 0 && id < kSlots && w.t[id].alive;
}

void release(int32_t id) {
  w.t[id] = fresh_track(false, w.t[id].generation + 1);
  w.coll.erase(std::remove(w.coll.begin(), w.coll.end(), id), w.coll.end());
  if (w.primary == id) w.primary = -1;
  if (w.secondary == id) w.secondary = -1;
}

void check_out(const char *text) {
  if (text != nullptr && w.all_valid) FUZZ_CHECK(fuzz::utf8_valid(text));
}

bool msg_is(const char *m) {
  return std::strcmp(tpsubm_last_error(), m) == 0;
}

// Score of a list of lines, computed from the exports' view of the cue.
int32_t oracle_score(int32_t id, int32_t pos) {
  int32_t n = tpsubm_cue_line_count(id, pos);
  if (n <= 0) return -1;
  int64_t score = 0;
  bool visible = false;
  for (int32_t k = 0; k < n; ++k) {
    const char *line = tpsubm_cue_line(id, pos, k);
    FUZZ_CHECK(line != nullptr);
    size_t len = std::strlen(line);
    if (std::strspn(line, " \t\r\n") != len) {
      visible = true;
      score = std::min<int64_t>(score + static_cast<int64_t>(len), INT32_MAX);
    }
  }
  return visible ? static_cast<int32_t>(score) : -1;
}

// --- the document ----------------------------------------------------------

std::string json_str(yyjson_val *v) {
  FUZZ_CHECK(yyjson_is_str(v));
  return std::string(yyjson_get_str(v), yyjson_get_len(v));
}

int64_t json_int(yyjson_val *v) {
  FUZZ_CHECK(yyjson_is_int(v));
  return yyjson_get_sint(v);
}

void check_document() {
  const char *text = tpsubm_result_json();
  FUZZ_CHECK(text != nullptr);
  bool member_invalid = false;
  for (int32_t id : w.coll) {
    member_invalid = member_invalid || !fuzz::utf8_valid(tpsubm_parent_file_hash(id)) ||
                     !fuzz::utf8_valid(tpsubm_language1(id)) ||
                     !fuzz::utf8_valid(tpsubm_language2(id));
  }
  if (std::strcmp(text, "{}") == 0) {
    FUZZ_CHECK(member_invalid);
    return;
  }
  FUZZ_CHECK(!member_invalid);
  yyjson_doc *doc = yyjson_read(text, std::strlen(text), 0);
  FUZZ_CHECK(doc != nullptr);
  yyjson_val *root = yyjson_doc_get_root(doc);
  FUZZ_CHECK(yyjson_is_obj(root));
  FUZZ_CHECK(yyjson_obj_size(root) == 4);
  const int32_t count = tpsubm_collection_count();
  FUZZ_CHECK(json_int(yyjson_obj_get(root, "collection_count")) == count);
  FUZZ_CHECK(json_int(yyjson_obj_get(root, "primary")) == tpsubm_primary());
  FUZZ_CHECK(json_int(yyjson_obj_get(root, "secondary")) == tpsubm_secondary());
  yyjson_val *items = yyjson_obj_get(root, "items");
  FUZZ_CHECK(yyjson_is_arr(items));
  FUZZ_CHECK(yyjson_arr_size(items) == static_cast<size_t>(count));
  for (int32_t i = 0; i < count; ++i) {
    yyjson_val *item = yyjson_arr_get(items, static_cast<size_t>(i));
    FUZZ_CHECK(yyjson_is_obj(item) && yyjson_obj_size(item) == 8);
    int32_t id = tpsubm_collection_at(i);
    FUZZ_CHECK(json_int(yyjson_obj_get(item, "id")) == id);
    FUZZ_CHECK(json_int(yyjson_obj_get(item, "index")) == tpsubm_index(id));
    FUZZ_CHECK(json_str(yyjson_obj_get(item, "file_hash")) == tpsubm_file_hash(id));
    FUZZ_CHECK(json_str(yyjson_obj_get(item, "parent")) == tpsubm_parent_file_hash(id));
    FUZZ_CHECK(json_int(yyjson_obj_get(item, "cues")) == w.t[id].cues);
    FUZZ_CHECK(json_str(yyjson_obj_get(item, "lang1")) == tpsubm_language1(id));
    FUZZ_CHECK(json_str(yyjson_obj_get(item, "lang2")) == tpsubm_language2(id));
    FUZZ_CHECK(json_int(yyjson_obj_get(item, "delay_ms")) == tpsubm_delay_ms(id));
  }
  yyjson_doc_free(doc);
}

// --- lookups ---------------------------------------------------------------

// Compares the lookups at t with a scan of every cue through the field
// exports.
void check_lookup(int32_t id, int32_t t) {
  const int32_t n = w.t[id].cues;
  // Large tracks are scanned as far as the round's budget goes, so that a
  // step stays cheap whatever the input builds.
  if (w.budget < n) return;
  w.budget -= n;
  std::vector<std::pair<int32_t, int32_t>> active;  // (start, position)
  bool negative_active = false;
  int32_t best = -1;
  int32_t best_score = -2;
  for (int32_t p = 0; p < n; ++p) {
    int32_t start = tpsubm_cue_start_ms(id, p);
    int32_t end = tpsubm_cue_end_ms(id, p);
    if (!(start <= t && t < end)) continue;
    if (start < 0) {
      negative_active = true;
    } else {
      active.emplace_back(start, p);
    }
    int32_t score = tpsubm_cue_char_score(id, p);
    if (score > best_score) {
      best = p;
      best_score = score;
    }
  }
  FUZZ_CHECK(tpsubm_cue_at_linear(id, t) == best);
  if (!negative_active) FUZZ_CHECK(tpsubm_cue_at(id, t) == best);

  std::sort(active.begin(), active.end());
  if (active.size() > TPSUBM_MAX_ACTIVE) active.resize(TPSUBM_MAX_ACTIVE);
  FUZZ_CHECK(tpsubm_active_cues(id, t) == TPSUBM_OK);
  FUZZ_CHECK(tpsubm_active_count() == static_cast<int32_t>(active.size()));
  for (size_t i = 0; i < active.size(); ++i) {
    FUZZ_CHECK(tpsubm_active_index(static_cast<int32_t>(i)) == active[i].second);
  }
  FUZZ_CHECK(tpsubm_active_index(static_cast<int32_t>(active.size())) == -1);
}

int32_t open_score(const Track &tr, int32_t p) {
  return p < static_cast<int32_t>(tr.scores.size()) ? tr.scores[p] : -1;
}

// On an open track the linear lookup chooses by the scores it holds.
void check_linear_open(int32_t id, int32_t t) {
  const Track &tr = w.t[id];
  if (w.budget < tr.cues) return;
  w.budget -= tr.cues;
  int32_t best = -1;
  int32_t best_score = -2;
  for (int32_t p = 0; p < tr.cues; ++p) {
    if (!(tpsubm_cue_start_ms(id, p) <= t && t < tpsubm_cue_end_ms(id, p))) continue;
    if (open_score(tr, p) > best_score) {
      best = p;
      best_score = open_score(tr, p);
    }
  }
  FUZZ_CHECK(tpsubm_cue_at_linear(id, t) == best);
}

void check_track(int32_t id) {
  const Track &tr = w.t[id];
  check_out(tpsubm_parent_file_hash(id));
  check_out(tpsubm_encoding(id));
  check_out(tpsubm_language1(id));
  check_out(tpsubm_language2(id));
  FUZZ_CHECK(std::strlen(tpsubm_language1(id)) < 16 && std::strlen(tpsubm_language2(id)) < 16);
  FUZZ_CHECK(tpsubm_language1_lines(id) >= tpsubm_language2_lines(id));
  FUZZ_CHECK(tpsubm_language2_lines(id) >= 0);
  double c = tpsubm_confidence(id);
  FUZZ_CHECK(c >= 0.0 && c <= 1.0);
  FUZZ_CHECK(tpsubm_cue_line_count(id, tr.cues) == 0);
  FUZZ_CHECK(tpsubm_cue_char_score(id, tr.cues) == -1);
  const char *hash = tpsubm_file_hash(id);
  FUZZ_CHECK(hash != nullptr && std::strlen(hash) <= 10 &&
             std::strspn(hash, "0123456789") == std::strlen(hash));
  // A finalize that fails here fails at hashing, before the file hash is
  // written (memory does not run out in the fuzzer).
  if (!tr.finalized) FUZZ_CHECK(hash[0] == '\0');
  const int32_t stride = tr.cues > 64 ? tr.cues / 64 : 1;
  for (int32_t p = 0; p < tr.cues; p += stride) {
    int32_t lines = tpsubm_cue_line_count(id, p);
    for (int32_t k = 0; k < lines; ++k) check_out(tpsubm_cue_line(id, p, k));
    FUZZ_CHECK(tpsubm_cue_line(id, p, lines) == nullptr);
    FUZZ_CHECK(tpsubm_cue_char_score(id, p) ==
               (tr.finalized ? oracle_score(id, p) : open_score(tr, p)));
  }
  if (!tr.finalized) {
    FUZZ_CHECK(tpsubm_cue_at(id, 0) == -1);
    FUZZ_CHECK(tpsubm_active_cues(id, 0) == TPSUBM_NO_SUCH_ID && tpsubm_active_count() == 0);
    check_linear_open(id, 0);
    if (tr.cues > 0) check_linear_open(id, tpsubm_cue_start_ms(id, tr.cues - 1));
    return;
  }
  FUZZ_CHECK(hash[0] != '\0');
  FUZZ_CHECK(tpsubm_index(id) >= 0);
  // Times to look at: the edges of a few cues and the extremes.
  std::vector<int32_t> times = {INT32_MIN, -1, 0, 1, INT32_MAX};
  const int32_t n = tr.cues;
  for (int32_t i = 0; i < 6 && n > 0; ++i) {
    int32_t p = static_cast<int32_t>((static_cast<int64_t>(n) * i) / 6);
    int32_t s = tpsubm_cue_start_ms(id, p);
    int32_t e = tpsubm_cue_end_ms(id, p);
    times.push_back(s);
    times.push_back(e);
    times.push_back(static_cast<int32_t>(static_cast<uint32_t>(e) - 1u));
  }
  for (int32_t t : times) check_lookup(id, t);
}

void check_world() {
  w.budget = 100000;
  int32_t live = 0;
  for (int32_t id = 0; id < kSlots; ++id) {
    FUZZ_CHECK((tpsubm_parent_file_hash(id) != nullptr) == w.t[id].alive);
    if (w.t[id].alive) {
      ++live;
      check_track(id);
    } else {
      FUZZ_CHECK(tpsubm_file_hash(id) == nullptr && tpsubm_language1(id) == nullptr);
      FUZZ_CHECK(tpsubm_cue_at_linear(id, 0) == -1 && tpsubm_index(id) == -1);
    }
  }
  (void)live;
  FUZZ_CHECK(tpsubm_collection_count() == static_cast<int32_t>(w.coll.size()));
  for (size_t i = 0; i < w.coll.size(); ++i) {
    FUZZ_CHECK(tpsubm_collection_at(static_cast<int32_t>(i)) == w.coll[i]);
  }
  FUZZ_CHECK(tpsubm_collection_at(static_cast<int32_t>(w.coll.size())) == -1);
  FUZZ_CHECK(tpsubm_primary() == w.primary && tpsubm_secondary() == w.secondary);
  FUZZ_CHECK(tpsubm_warning_count() >= 0 && tpsubm_warning_count() <= TPSUBM_MAX_WARNINGS);
  for (int32_t i = 0; i < tpsubm_warning_count(); ++i) check_out(tpsubm_warning(i));
  int32_t parts = tpsubm_clean_part_count();
  FUZZ_CHECK(parts >= 0 && parts <= TPSUBM_MAX_CLEAN_PARTS);
  for (int32_t i = 0; i < parts; ++i) check_out(tpsubm_clean_part(i));
  check_out(tpsubm_last_error());
  check_document();
}

// --- callbacks ---------------------------------------------------------------

// Runs the calls back into the library that the input asks for.
void reenter(uint8_t mode) {
  if (!(mode & 0x80) || w.depth >= kMaxDepth) return;
  int calls = 1 + (mode >> 5) % 3;
  ++w.depth;
  for (int i = 0; i < calls && w.steps < kMaxSteps; ++i) {
    ++w.steps;
    step();
    check_world();
  }
  --w.depth;
}

const char *detector(void *ctx, const char *text) {
  FUZZ_CHECK(ctx == &g_detect_ctx);
  FUZZ_CHECK(text != nullptr);
  FUZZ_CHECK(std::strstr(text, "\\N") == nullptr);
  const char *open = std::strchr(text, '{');
  if (open != nullptr) FUZZ_CHECK(std::strchr(open, '}') == nullptr);
  check_out(text);
  uint8_t mode = w.in->u8();
  reenter(mode);
  static const char *const kCodes[] = {"en", "fr", "de", "ja", "zh", "EN", "ru", "xx"};
  const char *answer;
  switch (mode % 8) {
    case 0:
    case 1:
    case 2:
    case 3:
      answer = kCodes[w.in->u8() % 8];
      break;
    case 4:
      return nullptr;
    case 5:
      answer = "";
      break;
    case 6:
      answer = "abcdefghijklmn\xC3\xA9xyz";
      break;  // cut inside the sequence
    default: {
      Text t = take_text();
      if (t.null) return nullptr;
      w.detect_answer = t.s;
      return w.detect_answer.c_str();
    }
  }
  w.detect_answer = answer;  // the same buffer, rewritten for every answer
  return w.detect_answer.c_str();
}

const char *translator(void *ctx, const char *english) {
  FUZZ_CHECK(ctx == &g_translate_ctx);
  FUZZ_CHECK(english != nullptr && english[0] != '\0');
  uint8_t mode = w.in->u8();
  reenter(mode);
  switch (mode % 6) {
    case 0:
      return nullptr;
    case 1:
      w.translate_answer = "";
      break;
    case 2:
      w.translate_answer =
          "Fran\xC3\xA7"
          "ais";
      break;
    case 3: {
      // Longer than every buffer, with a sequence across each cut.
      w.translate_answer.assign(w.in->u8() % 8, 'x');
      while (w.translate_answer.size() < 1100) w.translate_answer += "\xE4\xB8\xAD";
      break;
    }
    default: {
      Text t = take_text();
      if (t.null) return nullptr;
      w.translate_answer = t.s;
      break;
    }
  }
  fed(w.translate_answer.c_str());
  return w.translate_answer.c_str();
}

int32_t download(void *ctx, void *first, void *second, void *third) {
  FUZZ_CHECK(ctx == &g_download_ctx);
  FUZZ_CHECK(second != nullptr && third != nullptr);
  (void)first;
  reenter(w.in->u8());
  return 4242;
}

// --- steps -----------------------------------------------------------------

int32_t lowest_free() {
  for (int32_t id = 0; id < kSlots; ++id) {
    if (!w.t[id].alive) return id;
  }
  return -1;
}

void op_create() {
  Text parent = take_text();
  int32_t index = take_time();
  int32_t delay = take_time();
  int32_t square = w.in->u8() % 3;
  int32_t reserved = w.in->i32();
  Text suffix = take_text();
  int32_t expect = lowest_free();
  int32_t id = tpsubm_create(parent.c(), index, delay, square, reserved, suffix.c());
  if (parent.null || parent.s.empty()) {
    FUZZ_CHECK(id == -TPSUBM_INVALID && msg_is("parent_file_hash required"));
  } else if (expect < 0) {
    FUZZ_CHECK(id == -TPSUBM_NO_MEMORY && msg_is("too many handles"));
  } else {
    FUZZ_CHECK(id == expect && msg_is(""));
    w.t[id] = fresh_track(true, w.t[id].generation + 1);
    FUZZ_CHECK(tpsubm_index(id) == index && tpsubm_delay_ms(id) == delay);
    FUZZ_CHECK(parent.s == tpsubm_parent_file_hash(id));
  }
}

void op_fill() {
  while (lowest_free() >= 0) {
    int32_t id = tpsubm_create("fill", 0, 0, 0, 0, ".ass");
    FUZZ_CHECK(id == lowest_free());
    w.t[id] = fresh_track(true, w.t[id].generation + 1);
  }
  FUZZ_CHECK(tpsubm_create("one more", 0, 0, 0, 0, nullptr) == -TPSUBM_NO_MEMORY);
}

void op_destroy() {
  int32_t id = take_id();
  bool was = alive(id);
  int32_t rc = tpsubm_destroy(id);
  FUZZ_CHECK(rc == (was ? TPSUBM_OK : TPSUBM_NO_SUCH_ID));
  FUZZ_CHECK(msg_is(was ? "" : "no such id"));
  if (was) release(id);
}

void op_clear() {
  tpsubm_clear();
  for (int32_t id = 0; id < kSlots; ++id) {
    if (w.t[id].alive) release(id);
  }
  w.primary = w.secondary = -1;
  FUZZ_CHECK(msg_is("") && tpsubm_warning_count() == 0 && tpsubm_clean_part_count() == 0);
  FUZZ_CHECK(tpsubm_active_count() == 0);
}

void op_add_cue() {
  int32_t id = take_id();
  int32_t start = take_time();
  int32_t end = take_time();
  int32_t rc = tpsubm_add_cue(id, start, end);
  if (!alive(id)) {
    FUZZ_CHECK(rc == -TPSUBM_NO_SUCH_ID && msg_is("no such id"));
  } else if (w.t[id].finalized) {
    FUZZ_CHECK(rc == -TPSUBM_INVALID && msg_is("already finalized"));
  } else {
    FUZZ_CHECK(rc == w.t[id].cues);
    ++w.t[id].cues;
    FUZZ_CHECK(tpsubm_cue_start_ms(id, rc) == start && tpsubm_cue_end_ms(id, rc) == end);
  }
}

void op_bulk_cues() {
  int32_t id = take_id();
  int32_t n = w.in->u8() * 4;
  int32_t t = take_time();
  int32_t step_ms = static_cast<int16_t>(w.in->u16());
  int32_t dur = static_cast<int16_t>(w.in->u16());
  uint8_t line_mode = w.in->u8();
  if (!alive(id) || w.t[id].finalized) return;
  n = std::min(n, kMaxBulkCues - w.t[id].cues);
  for (int32_t i = 0; i < n; ++i) {
    int32_t end = static_cast<int32_t>(static_cast<uint32_t>(t) + static_cast<uint32_t>(dur));
    int32_t pos = tpsubm_add_cue(id, t, end);
    FUZZ_CHECK(pos == w.t[id].cues);
    ++w.t[id].cues;
    if (line_mode & 1) {
      const char *line = kPool[(static_cast<uint32_t>(i) * 7u + line_mode) % kPoolSize];
      fed(line);
      FUZZ_CHECK(tpsubm_add_cue_line(id, pos, line) == TPSUBM_OK);
    }
    t = static_cast<int32_t>(static_cast<uint32_t>(t) + static_cast<uint32_t>(step_ms));
  }
}

void op_add_line() {
  int32_t id = take_id();
  int32_t pos = take_position(id);
  Text text = take_text();
  int32_t before = tpsubm_cue_line_count(id, pos);
  int32_t rc = tpsubm_add_cue_line(id, pos, text.c());
  if (!alive(id)) {
    FUZZ_CHECK(rc == TPSUBM_NO_SUCH_ID && msg_is("no such id"));
  } else if (pos < 0 || pos >= w.t[id].cues) {
    FUZZ_CHECK(rc == TPSUBM_INVALID && msg_is("bad cue"));
  } else if (w.t[id].finalized) {
    FUZZ_CHECK(rc == TPSUBM_INVALID && msg_is("already finalized"));
  } else {
    FUZZ_CHECK(rc == TPSUBM_OK && msg_is(""));
    FUZZ_CHECK(tpsubm_cue_line_count(id, pos) == before + 1);
    FUZZ_CHECK(text.s == tpsubm_cue_line(id, pos, before));
  }
}

void op_finalize() {
  int32_t id = take_id();
  if (!alive(id)) {
    FUZZ_CHECK(tpsubm_finalize(id) == TPSUBM_NO_SUCH_ID && msg_is("no such id"));
    return;
  }
  // The identity text: the first line of every cue, or the parent and "0".
  std::string identity;
  bool known = true;
  for (int32_t p = 0; p < w.t[id].cues; ++p) {
    const char *first = tpsubm_cue_line(id, p, 0);
    identity += first != nullptr ? first : "";
  }
  if (w.t[id].cues == 0) {
    identity = std::string(tpsubm_parent_file_hash(id)) + "0";
    known = identity.size() <= 1023;
  }
  const bool valid = fuzz::utf8_valid(identity.c_str());
  int32_t rc = tpsubm_finalize(id);
  if (!w.t[id].finalized) {
    // Scored before anything could fail; kept if the track stays open.
    w.t[id].scores.resize(static_cast<size_t>(w.t[id].cues));
    for (int32_t p = 0; p < w.t[id].cues; ++p) w.t[id].scores[p] = oracle_score(id, p);
  }
  if (rc == TPSUBM_OK) {
    FUZZ_CHECK(msg_is(""));
    w.t[id].finalized = true;
    if (known) {
      int32_t expect = -1;
      FUZZ_CHECK(tpsubm_stable_hash_utf8(identity.c_str(), &expect) == TPSUBM_OK);
      FUZZ_CHECK(std::to_string(expect) == tpsubm_file_hash(id));
    }
  } else {
    FUZZ_CHECK(rc == TPSUBM_INVALID);
    FUZZ_CHECK(msg_is(w.t[id].cues == 0 ? "hash" : "hash utf8"));
    if (known) FUZZ_CHECK(!valid);
  }
}

void op_detect() {
  int32_t id = take_id();
  const bool was = alive(id);
  const uint32_t gen = was ? w.t[id].generation : 0;
  const bool nested = std::find(w.detecting.begin(), w.detecting.end(), std::make_pair(id, gen)) !=
                      w.detecting.end();
  const bool finalized = was && w.t[id].finalized;
  const bool detector_on = w.detector_on;
  if (was) w.detecting.emplace_back(id, gen);
  int32_t rc = tpsubm_detect_languages(id);
  if (was) w.detecting.pop_back();
  if (!was) {
    FUZZ_CHECK(rc == TPSUBM_NO_SUCH_ID && msg_is("no such id"));
  } else if (!finalized) {
    FUZZ_CHECK(rc == TPSUBM_INVALID && msg_is("not finalized"));
  } else if (!detector_on) {
    FUZZ_CHECK(rc == TPSUBM_NO_DETECTOR && msg_is("no detector"));
  } else if (nested) {
    FUZZ_CHECK(rc == TPSUBM_INVALID && msg_is("detection in progress"));
  } else if (!w.t[id].alive || w.t[id].generation != gen) {
    FUZZ_CHECK(rc == TPSUBM_NO_SUCH_ID && msg_is("no such id"));
  } else if (rc == TPSUBM_OK) {
    FUZZ_CHECK(tpsubm_language1(id)[0] != '\0');
    FUZZ_CHECK(tpsubm_language1_lines(id) > 0);
  } else {
    FUZZ_CHECK(rc == TPSUBM_NO_LANGUAGES && msg_is("detect no languages"));
    FUZZ_CHECK(tpsubm_language1(id)[0] == '\0' && tpsubm_language2(id)[0] == '\0');
  }
}

void op_display() {
  int32_t id = take_id();
  const bool was = alive(id);
  const uint32_t gen = was ? w.t[id].generation : 0;
  const char *name = tpsubm_display_name(id);
  if (!was) {
    FUZZ_CHECK(name == nullptr);
  } else if (!w.t[id].alive || w.t[id].generation != gen) {
    FUZZ_CHECK(name == nullptr);
  } else {
    FUZZ_CHECK(name != nullptr && std::strlen(name) <= 511);
    check_out(name);
  }
}

void op_set_values() {
  int32_t id = take_id();
  const bool was = alive(id);
  switch (w.in->u8() % 3) {
    case 0: {
      int32_t delay = take_time();
      FUZZ_CHECK(tpsubm_set_delay_ms(id, delay) == (was ? TPSUBM_OK : TPSUBM_NO_SUCH_ID));
      FUZZ_CHECK(tpsubm_delay_ms(id) == (was ? delay : 0));
      break;
    }
    case 1: {
      Text name = take_text();
      FUZZ_CHECK(tpsubm_set_encoding(id, name.c()) == (was ? TPSUBM_OK : TPSUBM_NO_SUCH_ID));
      const char *stored = tpsubm_encoding(id);
      if (!was || name.null) {
        FUZZ_CHECK(stored == nullptr);
      } else {
        FUZZ_CHECK(stored != nullptr && name.s == stored);
      }
      break;
    }
    default:
      FUZZ_CHECK(tpsubm_set_tovrin_server_file(id, w.in->i32()) ==
                 (was ? TPSUBM_OK : TPSUBM_NO_SUCH_ID));
      break;
  }
}

void op_lookups() {
  int32_t id = take_id();
  int32_t pos = take_position(id);
  int32_t t = take_time();
  const bool was = alive(id);
  const bool in_range = was && pos >= 0 && pos < w.t[id].cues;
  int32_t at = tpsubm_cue_at(id, t);
  int32_t linear = tpsubm_cue_at_linear(id, t);
  FUZZ_CHECK(at >= -1 && (at < 0 || (was && at < w.t[id].cues)));
  FUZZ_CHECK(linear >= -1 && (linear < 0 || (was && linear < w.t[id].cues)));
  if (was && w.t[id].finalized) check_lookup(id, t);
  int32_t x = take_time();
  uint32_t sum = static_cast<uint32_t>(t) + static_cast<uint32_t>(x) * 3u +
                 (was ? static_cast<uint32_t>(tpsubm_delay_ms(id)) : 0u);
  FUZZ_CHECK(tpsubm_effective_ms(id, t, x, x, x) == static_cast<int32_t>(sum));
  if (!in_range) {
    FUZZ_CHECK(tpsubm_cue_start_ms(id, pos) == 0 && tpsubm_cue_end_ms(id, pos) == 0);
    FUZZ_CHECK(tpsubm_cue_line_count(id, pos) == 0 && tpsubm_cue_line(id, pos, 0) == nullptr);
    FUZZ_CHECK(tpsubm_cue_char_score(id, pos) == -1 && tpsubm_cue_consumed(id, pos) == 0);
    FUZZ_CHECK(tpsubm_cue_set_consumed(id, pos, 1) == TPSUBM_INVALID);
  } else {
    int32_t flag = w.in->i32();
    FUZZ_CHECK(tpsubm_cue_set_consumed(id, pos, flag) == TPSUBM_OK);
    FUZZ_CHECK(tpsubm_cue_consumed(id, pos) == (flag != 0 ? 1 : 0));
    FUZZ_CHECK(tpsubm_cue_line(id, pos, -1) == nullptr);
  }
}

void op_collection() {
  int32_t id = take_id();
  switch (w.in->u8() % 2) {
    case 0: {
      int32_t warnings = tpsubm_warning_count();
      int32_t rc = tpsubm_collection_add(id);
      if (!alive(id)) {
        FUZZ_CHECK(rc == TPSUBM_NO_SUCH_ID && msg_is("no such id"));
      } else if (!w.t[id].finalized) {
        FUZZ_CHECK(rc == TPSUBM_INVALID && msg_is("not finalized"));
      } else {
        bool dup = false;
        for (int32_t m : w.coll) dup = dup || tpsubm_index(m) == tpsubm_index(id);
        if (dup) {
          FUZZ_CHECK(rc == TPSUBM_DUPLICATE && msg_is("duplicate"));
          FUZZ_CHECK(tpsubm_warning_count() == std::min(warnings + 1, TPSUBM_MAX_WARNINGS));
        } else {
          FUZZ_CHECK(rc == TPSUBM_OK && msg_is(""));
          w.coll.push_back(id);
        }
      }
      break;
    }
    default: {
      auto it = std::find(w.coll.begin(), w.coll.end(), id);
      int32_t rc = tpsubm_collection_remove(id);
      FUZZ_CHECK(rc == (it != w.coll.end() ? TPSUBM_OK : TPSUBM_NO_SUCH_ID));
      if (it != w.coll.end()) {
        w.coll.erase(it);
        if (w.primary == id) w.primary = -1;
        if (w.secondary == id) w.secondary = -1;
      }
      break;
    }
  }
}

void op_selection() {
  int32_t id = take_id();
  uint8_t which = w.in->u8() % 3;
  if (which == 2) {
    tpsubm_close_tracks();
    w.primary = w.secondary = -1;
    return;
  }
  int32_t rc = which == 0 ? tpsubm_set_primary(id) : tpsubm_set_secondary(id);
  if (id < 0 || alive(id)) {
    FUZZ_CHECK(rc == TPSUBM_OK);
    (which == 0 ? w.primary : w.secondary) = id;
  } else {
    FUZZ_CHECK(rc == TPSUBM_NO_SUCH_ID);
  }
}

void op_clean() {
  Text line = take_text();
  int32_t rc = tpsubm_clean_line(line.c());
  if (line.null) {
    FUZZ_CHECK(rc == TPSUBM_INVALID && msg_is("null") && tpsubm_clean_part_count() == 0);
    return;
  }
  FUZZ_CHECK(rc == TPSUBM_OK && msg_is(""));
  int32_t n = tpsubm_clean_part_count();
  FUZZ_CHECK(n >= 1 && n <= TPSUBM_MAX_CLEAN_PARTS);
  for (int32_t i = 0; i < n; ++i) {
    const char *part = tpsubm_clean_part(i);
    FUZZ_CHECK(part != nullptr && std::strchr(part, '\n') == nullptr);
    check_out(part);
  }
}

void op_hash() {
  Text text = take_text();
  int32_t out = -7;
  int32_t rc = tpsubm_stable_hash_utf8(text.c(), &out);
  bool valid = text.null || fuzz::utf8_valid(text.c());
  FUZZ_CHECK(rc == (valid ? TPSUBM_OK : TPSUBM_INVALID));
  FUZZ_CHECK(valid ? out >= 0 : out == -7);
}

void op_config() {
  switch (w.in->u8() % 4) {
    case 0:
      w.detector_on = !w.detector_on;
      tpsubm_set_detector(w.detector_on ? detector : nullptr, &g_detect_ctx);
      break;
    case 1:
      w.translator_on = !w.translator_on;
      tpsubm_set_translator(w.translator_on ? translator : nullptr, &g_translate_ctx);
      break;
    case 2: {
      static const double kValues[] = {0.0, 0.5, 0.7, 1.0, -0.5, 3.0, NAN, 0.25};
      double v = kValues[w.in->u8() % 8];
      double stored = tpsubm_set_bilingual_threshold(v);
      if (std::isnan(v)) {
        FUZZ_CHECK(std::isnan(stored));
      } else {
        FUZZ_CHECK(stored == std::min(1.0, std::max(0.0, v)));
      }
      break;
    }
    default:
      w.download_on = !w.download_on;
      tpsubm_set_download_fn(w.download_on ? download : nullptr, &g_download_ctx);
      break;
  }
}

void op_download() {
  uint8_t b = w.in->u8();
  int dummy = 0;
  void *second = (b & 1) ? &dummy : nullptr;
  void *third = (b & 2) ? &dummy : nullptr;
  const bool on = w.download_on;  // the backend may unregister itself
  int32_t rc = tpsubm_download((b & 4) ? &dummy : nullptr, second, third);
  if (!on) {
    FUZZ_CHECK(rc == TPSUBM_INVALID && msg_is("no download backend"));
  } else if (second == nullptr || third == nullptr) {
    FUZZ_CHECK(rc == TPSUBM_INVALID);
  } else {
    FUZZ_CHECK(rc == 4242);
  }
}

void op_tables() {
  int32_t i = take_time();
  FUZZ_CHECK(tpsubm_codepage_count() == 140);
  const char *name = tpsubm_codepage(i);
  FUZZ_CHECK((name != nullptr) == (i >= 0 && i < 140));
  int32_t k = take_time();
  const char *warning = tpsubm_warning(k);
  FUZZ_CHECK((warning != nullptr) == (k >= 0 && k < tpsubm_warning_count()));
  FUZZ_CHECK((tpsubm_clean_part(k) != nullptr) == (k >= 0 && k < tpsubm_clean_part_count()));
  FUZZ_CHECK((tpsubm_active_index(k) != -1) == (k >= 0 && k < tpsubm_active_count()));
}

void step() {
  switch (w.in->u8() % 20) {
    case 0:
      op_create();
      break;
    case 1:
      op_destroy();
      break;
    case 2:
      op_add_cue();
      break;
    case 3:
      op_add_cue();
      break;
    case 4:
      op_add_line();
      break;
    case 5:
      op_add_line();
      break;
    case 6:
      op_finalize();
      break;
    case 7:
      op_detect();
      break;
    case 8:
      op_display();
      break;
    case 9:
      op_set_values();
      break;
    case 10:
      op_lookups();
      break;
    case 11:
      op_collection();
      break;
    case 12:
      op_selection();
      break;
    case 13:
      check_document();
      break;
    case 14:
      op_clean();
      break;
    case 15:
      op_hash();
      break;
    case 16:
      op_config();
      break;
    case 17:
      op_bulk_cues();
      break;
    case 18:
      if (w.in->u8() % 8 == 0) {
        op_fill();
      } else if (w.in->u8() % 4 == 0) {
        op_clear();
      } else {
        op_download();
      }
      break;
    default:
      op_tables();
      break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzz::Reader in(data, size);
  // Every input starts from the state of a freshly loaded library.
  tpsubm_clear();
  tpsubm_set_detector(nullptr, nullptr);
  tpsubm_set_translator(nullptr, nullptr);
  tpsubm_set_download_fn(nullptr, nullptr);
  tpsubm_set_bilingual_threshold(0.7);
  w = World{};
  w.in = &in;
  for (int32_t id = 0; id < kSlots; ++id) w.t[id].generation = 1;
  while (!in.empty() && w.steps < kMaxSteps) {
    ++w.steps;
    step();
    check_world();
  }
  tpsubm_clear();
  return 0;
}
