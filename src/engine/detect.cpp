// Language detection: every line of a finalized track goes to the host's
// detector (marked-up lines cleaned first, their parts replacing them for
// good); the answers are votes, and the two codes with the most votes become
// the track's languages.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "state.h"

tpsubm_detector_fn g_detect;
void *g_detect_ctx;
double g_bilingual_threshold = 0.7;

namespace {

constexpr int32_t kMaxVotes = 64;
constexpr size_t kStackLine = 512;

struct vote {
  char code[kLangSize];  // at most 15 bytes
  int32_t count;
};

struct vote_table {
  vote entries[kMaxVotes];
  int32_t n;
};

// Counts one answer. An answer of 16 bytes or more is cut to 15 at a UTF-8
// boundary and counted in its cut form, so the same long answer always
// lands on the same entry. The answer is read here, before the detector is
// called again, and never kept.
void vote_add(vote_table *votes, const char *answer) {
  if (answer == nullptr || answer[0] == '\0') return;
  size_t len = strnlen(answer, kLangSize);
  if (len == kLangSize) len = utf8_cut_len(answer, len, kLangSize - 1);
  for (int32_t i = 0; i < votes->n; ++i) {
    vote &v = votes->entries[i];
    if (std::strlen(v.code) == len && std::memcmp(v.code, answer, len) == 0) {
      ++v.count;
      return;
    }
  }
  if (votes->n == kMaxVotes) return;  // the 64 codes held keep counting
  vote &v = votes->entries[votes->n++];
  std::memcpy(v.code, answer, len);
  v.code[len] = '\0';
  v.count = 1;
}

// A line is marked up when it holds "{" anywhere or a backslash followed by
// a capital N. A line that is not gets its length in *len, found on the way.
bool is_marked_up(const char *line, size_t *len) {
  for (const char *p = line;; ++p) {
    p += std::strcspn(p, "{\\");
    if (*p == '\0') {
      *len = static_cast<size_t>(p - line);
      return false;
    }
    if (*p == '{' || p[1] == 'N') return true;
  }
}

// A detection run in progress on one track. The detector may call back into
// the library and even destroy the track, so after every call the run checks
// that its track is still the same live one before touching it again.
struct run {
  handle_slot *h;
  uint32_t serial;
  vote_table votes;

  bool track_alive() const { return h->in_use && h->serial == serial; }

  // Asks the detector about one text and counts the answer; false when the
  // track is gone afterwards.
  bool ask(const char *text) {
    tpsubm_detector_fn detect = g_detect;
    if (detect != nullptr) vote_add(&votes, detect(g_detect_ctx, text));
    return track_alive();
  }
};

// Releases the first n texts of an array of owned texts.
void free_texts(char **texts, int32_t n) {
  for (int32_t i = 0; i < n; ++i) std::free(texts[i]);
}

// Asks the detector about a plain line of len bytes. It is handed a copy, not the cue's
// own line, which a detector that destroys the track would release while
// still reading it: on the stack for a line of subtitle length, else on the
// heap, and without memory for that the line gives no vote and *complete is
// cleared. False when the track is gone afterwards.
bool ask_plain(run &r, const char *line, size_t len, bool *complete) {
  char stack_copy[kStackLine];
  char *copy = stack_copy;
  if (len < sizeof stack_copy) {
    std::memcpy(stack_copy, line, len + 1);
  } else {
    copy = text_dup_n(line, len);
    if (copy == nullptr) {
      *complete = false;
      return true;
    }
  }
  bool alive = r.ask(copy);
  if (copy != stack_copy) std::free(copy);
  return alive;
}

// Runs one cue. Returns false when the track was destroyed meanwhile. The
// new line list is only built once a marked-up line shows that the cue will
// be rewritten; most cues have none, and their lines are never copied.
bool detect_cue(run &r, int32_t position) {
  strlist fresh{nullptr, 0, 0};
  bool building = false;   // a marked-up line was met: fresh holds the new lines
  bool rewritten = false;  // one was cleaned
  bool complete = true;    // every line made it into fresh
  for (int32_t k = 0; k < r.h->cues[position].lines.count; ++k) {
    const char *line = r.h->cues[position].lines.items[k];
    size_t len = 0;
    if (!is_marked_up(line, &len)) {
      if (!ask_plain(r, line, len, &complete)) {
        strlist_free(&fresh);
        return false;
      }
      if (building && strlist_add(&fresh, r.h->cues[position].lines.items[k]) != 0) {
        complete = false;
      }
      continue;
    }
    if (!building) {
      // The plain lines before the first marked-up one join the new list.
      for (int32_t j = 0; j < k; ++j) {
        if (strlist_add(&fresh, r.h->cues[position].lines.items[j]) != 0) complete = false;
      }
      building = true;
    }
    if (tpsubm_clean_line(line) != TPSUBM_OK) {
      // Out of memory: no vote, and the cue keeps its old lines rather than
      // lose this one.
      complete = false;
      continue;
    }
    // A part that the cleaning could not copy is missing from its list: the
    // cue keeps its old lines rather than lose that part.
    if (g_clean_lost != 0) complete = false;
    // The detector may clean other lines and so replace the process-wide
    // parts: take copies of this line's parts before the first call. A part
    // that cannot be copied gives no vote, and the cue keeps its old lines.
    char *parts[kMaxCleanParts];
    int32_t n = g_clean_n;
    for (int32_t j = 0; j < n; ++j) {
      parts[j] = text_dup(g_clean_parts[j]);
      if (parts[j] == nullptr) complete = false;
    }
    for (int32_t j = 0; j < n; ++j) {
      if (parts[j] == nullptr) continue;
      if (!r.ask(parts[j])) {
        free_texts(parts, n);
        strlist_free(&fresh);
        return false;
      }
      if (strlist_push(&fresh, parts[j]) != 0) {
        std::free(parts[j]);
        complete = false;
      }
      parts[j] = nullptr;
    }
    rewritten = true;
  }
  cue &c = r.h->cues[position];
  if (rewritten && complete && fresh.count > 0) {
    strlist_free(&c.lines);
    c.lines = fresh;
    cue_set_score(r.h, position, cue_score(c.lines.items, c.lines.count));
  } else {
    strlist_free(&fresh);
  }
  return true;
}

}  // namespace

extern "C" {

TPSUBM_API void tpsubm_set_detector(tpsubm_detector_fn detector, void *ctx) {
  g_detect = detector;
  g_detect_ctx = ctx;
}

TPSUBM_API double tpsubm_set_bilingual_threshold(double threshold) {
  // A NaN fails both tests and is stored as it is.
  if (threshold < 0.0) {
    threshold = 0.0;
  } else if (threshold > 1.0) {
    threshold = 1.0;
  }
  g_bilingual_threshold = threshold;
  return threshold;
}

TPSUBM_API int32_t tpsubm_detect_languages(int32_t id) {
  handle_slot *h = enter_slot(id);
  if (h == nullptr) return TPSUBM_NO_SUCH_ID;
  if (!h->finalized) {
    error_set("not finalized");
    return TPSUBM_INVALID;
  }
  if (g_detect == nullptr) {
    error_set("no detector");
    return TPSUBM_NO_DETECTOR;
  }
  if (h->detecting) {
    // A detector that asks for the track it is detecting: refused before the
    // outer run's result is touched.
    error_set("detection in progress");
    return TPSUBM_INVALID;
  }
  h->lang1[0] = '\0';
  h->lang2[0] = '\0';
  h->lang1_lines = 0;
  h->lang2_lines = 0;
  if (h->cue_count == 0) {
    error_set("detect no languages");
    return TPSUBM_NO_LANGUAGES;
  }

  run r{};
  r.h = h;
  r.serial = h->serial;
  h->detecting = 1;
  for (int32_t i = 0; i < h->cue_count; ++i) {
    if (!detect_cue(r, i)) {
      // The detector destroyed the track (or cleared the library); the slot
      // is not ours any more, so it is left as it is.
      error_set("no such id");
      return TPSUBM_NO_SUCH_ID;
    }
  }
  h->detecting = 0;

  if (r.votes.n == 0) {
    error_set("detect no languages");
    return TPSUBM_NO_LANGUAGES;
  }
  vote *first = r.votes.entries;
  std::sort(first, first + r.votes.n, [](const vote &a, const vote &b) {
    if (a.count != b.count) return a.count > b.count;
    return std::strcmp(a.code, b.code) < 0;  // strcmp compares unsigned bytes
  });
  std::memcpy(h->lang1, first[0].code, kLangSize);
  h->lang1_lines = first[0].count;
  if (r.votes.n > 1) {
    std::memcpy(h->lang2, first[1].code, kLangSize);
    h->lang2_lines = first[1].count;
  }
  return TPSUBM_OK;
}

TPSUBM_API const char *tpsubm_language1(int32_t id) {
  handle_slot *h = valid_slot(id);
  return h != nullptr ? h->lang1 : nullptr;
}

TPSUBM_API const char *tpsubm_language2(int32_t id) {
  handle_slot *h = valid_slot(id);
  return h != nullptr ? h->lang2 : nullptr;
}

TPSUBM_API int32_t tpsubm_language1_lines(int32_t id) {
  handle_slot *h = valid_slot(id);
  return h != nullptr ? h->lang1_lines : 0;
}

TPSUBM_API int32_t tpsubm_language2_lines(int32_t id) {
  handle_slot *h = valid_slot(id);
  return h != nullptr ? h->lang2_lines : 0;
}

TPSUBM_API double tpsubm_confidence(int32_t id) {
  handle_slot *h = valid_slot(id);
  if (h == nullptr || h->lang1_lines == 0 || h->lang2_lines == 0) return 0.0;
  double a = h->lang1_lines;
  double b = h->lang2_lines;
  return a < b ? a / b : b / a;
}

TPSUBM_API int32_t tpsubm_is_bilingual(int32_t id) {
  handle_slot *h = valid_slot(id);
  if (h == nullptr || h->lang1[0] == '\0' || h->lang2[0] == '\0') return 0;
  if (h->lang1_lines == 0 || h->lang2_lines == 0) return 0;
  return tpsubm_confidence(id) > g_bilingual_threshold ? 1 : 0;
}

}  // extern "C"
