// Time lookup and cue fields: which cue to show at a playback time, which
// cues are on screen, every field of a cue, the host's consumed mark and the
// effective time of a track. Nothing here allocates or touches the message.
#include "state.h"

int32_t g_active[kMaxActive];
int32_t g_active_n;

namespace {

// The places of order that can hold a cue active at t: first..last. A cue
// that starts before t - max_span_ms has ended by t, and the lower bound is
// never below 0, so cues with a negative start are never in the window.
struct window {
  int32_t first;
  int32_t last;  // below first when nothing can be active
};

window find_window(const handle_slot *h, int32_t t) {
  const int32_t *starts = h->order_start;
  const int32_t n = h->cue_count;
  // Search A: the last place whose cue starts at or before t.
  int32_t lo = 0;
  int32_t hi = n - 1;
  int32_t last = -1;
  while (lo <= hi) {
    int32_t mid = lo + (hi - lo) / 2;
    if (starts[mid] <= t) {
      last = mid;
      lo = mid + 1;
    } else {
      hi = mid - 1;
    }
  }
  if (last < 0) return {0, -1};
  // The lower bound wraps like the 32-bit arithmetic it stands for.
  int32_t lim = static_cast<int32_t>(static_cast<uint32_t>(t) - static_cast<uint32_t>(h->max_span_ms));
  if (lim < 0) lim = 0;
  // Search B: the first place whose cue starts at or after lim.
  lo = 0;
  hi = n;
  while (lo < hi) {
    int32_t mid = lo + (hi - lo) / 2;
    if (starts[mid] < lim) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return {lo, last};
}

inline bool is_active(const cue &c, int32_t t) { return c.start_ms <= t && t < c.end_ms; }

// Higher score first, then lower position.
inline bool better(const cue &c, int32_t best_score, int32_t best_seq) {
  return c.char_score > best_score || (c.char_score == best_score && c.seq < best_seq);
}

// The cue at a position of a valid id, or null.
const cue *cue_of(int32_t id, int32_t position) {
  const handle_slot *h = valid_slot(id);
  if (h == nullptr || position < 0 || position >= h->cue_count) return nullptr;
  return &h->cues[position];
}

}  // namespace

extern "C" {

TPSUBM_API int32_t tpsubm_cue_at(int32_t id, int32_t t) {
  const handle_slot *h = valid_slot(id);
  if (h == nullptr || !h->finalized || h->cue_count == 0) return -1;
  window w = find_window(h, t);
  int32_t best = -1;
  int32_t best_score = -2;  // below every char_score
  int32_t best_seq = INT32_MAX;
  for (int32_t i = w.first; i <= w.last; ++i) {
    const cue &c = h->cues[h->order[i]];
    if (is_active(c, t) && better(c, best_score, best_seq)) {
      best = h->order[i];
      best_score = c.char_score;
      best_seq = c.seq;
    }
  }
  return best;
}

TPSUBM_API int32_t tpsubm_cue_at_linear(int32_t id, int32_t t) {
  const handle_slot *h = valid_slot(id);
  if (h == nullptr || h->cue_count == 0) return -1;
  // The first active cue in (score descending, seq ascending) order, found in
  // one pass instead of sorting every cue on every call.
  int32_t best = -1;
  int32_t best_score = -2;
  int32_t best_seq = INT32_MAX;
  for (int32_t i = 0; i < h->cue_count; ++i) {
    const cue &c = h->cues[i];
    if (is_active(c, t) && better(c, best_score, best_seq)) {
      best = i;
      best_score = c.char_score;
      best_seq = c.seq;
    }
  }
  return best;
}

TPSUBM_API int32_t tpsubm_active_cues(int32_t id, int32_t t) {
  g_active_n = 0;
  const handle_slot *h = valid_slot(id);
  if (h == nullptr || !h->finalized) return TPSUBM_NO_SUCH_ID;
  if (h->cue_count == 0) return TPSUBM_OK;
  window w = find_window(h, t);
  int32_t n = 0;
  for (int32_t i = w.first; i <= w.last && n < kMaxActive; ++i) {
    if (is_active(h->cues[h->order[i]], t)) g_active[n++] = h->order[i];
  }
  g_active_n = n;
  return TPSUBM_OK;
}

TPSUBM_API int32_t tpsubm_active_count(void) { return g_active_n; }

TPSUBM_API int32_t tpsubm_active_index(int32_t i) {
  if (i < 0 || i >= g_active_n) return -1;
  return g_active[i];
}

TPSUBM_API int32_t tpsubm_effective_ms(int32_t id, int32_t t, int32_t x, int32_t y, int32_t z) {
  uint32_t sum = static_cast<uint32_t>(t);
  if (const handle_slot *h = valid_slot(id)) sum += static_cast<uint32_t>(h->delay_ms);
  sum += static_cast<uint32_t>(x) + static_cast<uint32_t>(y) + static_cast<uint32_t>(z);
  return static_cast<int32_t>(sum);
}

TPSUBM_API int32_t tpsubm_cue_start_ms(int32_t id, int32_t position) {
  const cue *c = cue_of(id, position);
  return c != nullptr ? c->start_ms : 0;
}

TPSUBM_API int32_t tpsubm_cue_end_ms(int32_t id, int32_t position) {
  const cue *c = cue_of(id, position);
  return c != nullptr ? c->end_ms : 0;
}

TPSUBM_API int32_t tpsubm_cue_line_count(int32_t id, int32_t position) {
  const cue *c = cue_of(id, position);
  return c != nullptr ? c->lines.count : 0;
}

TPSUBM_API const char *tpsubm_cue_line(int32_t id, int32_t position, int32_t k) {
  const cue *c = cue_of(id, position);
  if (c == nullptr || k < 0 || k >= c->lines.count) return nullptr;
  return c->lines.items[k];
}

TPSUBM_API int32_t tpsubm_cue_char_score(int32_t id, int32_t position) {
  const cue *c = cue_of(id, position);
  return c != nullptr ? c->char_score : -1;
}

TPSUBM_API int32_t tpsubm_cue_set_consumed(int32_t id, int32_t position, int32_t flag) {
  handle_slot *h = valid_slot(id);
  if (h == nullptr || position < 0 || position >= h->cue_count) return TPSUBM_INVALID;
  h->cues[position].consumed = flag != 0 ? 1 : 0;
  return TPSUBM_OK;
}

TPSUBM_API int32_t tpsubm_cue_consumed(int32_t id, int32_t position) {
  const cue *c = cue_of(id, position);
  return c != nullptr ? c->consumed : 0;
}

}  // extern "C"
