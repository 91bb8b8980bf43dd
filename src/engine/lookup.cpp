// Time lookup and cue fields: which cue to show at a playback time, which
// cues are on screen, every field of a cue, the host's consumed mark and the
// effective time of a track. Nothing here allocates or touches the message;
// the lookups only keep a guess for the next search in the track.
#include "state.h"

int32_t g_active[kMaxActive];
int32_t g_active_n;

namespace {

// The places of order that can hold an active cue at t, apart from the long
// cues: first..last. Every place up to last starts at or before t. A cue
// that is not long and starts before t - short_span_ms has ended by t, and
// the lower bound is never below 0, so cues with a negative start are never
// in the window (nor among the long cues): for t < 0 nothing is active.
struct window {
  int32_t first;
  int32_t last;  // below first when nothing can be active
};

// The number of places whose start is at or before t. The halving steps
// choose by a conditional move rather than a branch, so a search for a
// random time costs no mispredictions.
int32_t count_started(const int32_t *starts, int32_t n, int32_t t) {
  const int32_t *base = starts;
  int32_t len = n;
  while (len > 1) {
    int32_t half = len / 2;
    // Both places the next step may test, fetched while this one decides.
    __builtin_prefetch(base + half / 2);
    __builtin_prefetch(base + half + half / 2);
    base = base[half] <= t ? base + half : base;
    len -= half;
  }
  return static_cast<int32_t>(base - starts) + (*base <= t ? 1 : 0);
}

// The last place whose start is at or before t, or -1. Playback asks for
// times close together, so the place found last time and the one after it
// are tried before a search.
int32_t last_started(handle_slot *h, int32_t t) {
  const int32_t *starts = h->order_start;
  const int32_t n = h->cue_count;
  for (int32_t guess = h->lookup_hint; guess < h->lookup_hint + 2; ++guess) {
    if (guess >= 0 && guess < n && starts[guess] <= t &&
        (guess + 1 == n || t < starts[guess + 1])) {
      h->lookup_hint = guess;
      return guess;
    }
  }
  int32_t last = count_started(starts, n, t) - 1;
  if (last >= 0) h->lookup_hint = last;
  return last;
}

window find_window(handle_slot *h, int32_t t) {
  const int32_t *starts = h->order_start;
  int32_t last = last_started(h, t);
  if (t < 0 || last < 0) return {0, -1};
  int32_t lim = t - h->short_span_ms;  // t >= 0 and the span >= 0: no overflow
  if (lim < 0) lim = 0;
  if (starts[last] < lim) return {last + 1, last};
  // The first place whose cue starts at or after lim. The window is short,
  // so the search gallops back from last: starts[hi] >= lim, and lo is below
  // the window (starts[lo] < lim, or lo == -1).
  int32_t hi = last;
  int32_t lo = -1;
  for (int32_t step = 1; hi - step >= 0; step *= 2) {
    if (starts[hi - step] < lim) {
      lo = hi - step;
      break;
    }
    hi -= step;
  }
  while (hi - lo > 1) {
    int32_t mid = lo + (hi - lo) / 2;
    if (starts[mid] < lim) {
      lo = mid;
    } else {
      hi = mid;
    }
  }
  return {hi, last};
}

inline bool long_active(const handle_slot *h, int32_t place, int32_t t) {
  return h->order_start[place] <= t && t < h->order[place].end_ms;
}

// The choice among active cues: the highest char score, then the lowest
// position (a cue's seq is its position). Each cue is offered with where its
// score is kept, and scores are read only once a second cue is active, so
// one cue on screen costs no read of a score.
struct choice {
  int32_t best = -1;
  const int32_t *best_score = nullptr;

  void offer(int32_t position, const int32_t *score) {
    // Offering the best again changes nothing, so a long cue that also lies
    // in the window may be offered twice.
    if (best >= 0 && (*score < *best_score || (*score == *best_score && position > best))) return;
    best = position;
    best_score = score;
  }
};

// The cue at a position of a valid id, or null.
const cue *cue_of(int32_t id, int32_t position) {
  const handle_slot *h = valid_slot(id);
  if (h == nullptr || position < 0 || position >= h->cue_count) return nullptr;
  return &h->cues[position];
}

}  // namespace

extern "C" {

TPSUBM_API int32_t tpsubm_cue_at(int32_t id, int32_t t) {
  handle_slot *h = valid_slot(id);
  if (h == nullptr || !h->finalized || h->cue_count == 0) return -1;
  window w = find_window(h, t);
  choice c;
  for (int32_t i = w.first; i <= w.last; ++i) {
    const order_entry &e = h->order[i];
    if (t < e.end_ms) c.offer(e.position, &e.char_score);
  }
  for (int32_t k = 0; k < h->long_n; ++k) {
    int32_t place = h->long_place[k];
    if (long_active(h, place, t)) c.offer(h->order[place].position, &h->order[place].char_score);
  }
  return c.best;
}

TPSUBM_API int32_t tpsubm_cue_at_linear(int32_t id, int32_t t) {
  const handle_slot *h = valid_slot(id);
  if (h == nullptr || h->cue_count == 0) return -1;
  // One pass instead of sorting every cue on every call. A finalized track
  // has the times of every cue, negative starts included, in two dense
  // arrays; an open one is read from the cues.
  choice c;
  if (h->finalized) {
    const int32_t *starts = h->order_start;
    for (int32_t i = 0; i < h->cue_count; ++i) {
      const order_entry &e = h->order[i];
      if (starts[i] <= t && t < e.end_ms) c.offer(e.position, &e.char_score);
    }
  } else {
    for (int32_t i = 0; i < h->cue_count; ++i) {
      const cue &q = h->cues[i];
      if (q.start_ms <= t && t < q.end_ms) c.offer(i, &q.char_score);
    }
  }
  return c.best;
}

TPSUBM_API int32_t tpsubm_active_cues(int32_t id, int32_t t) {
  g_active_n = 0;
  handle_slot *h = valid_slot(id);
  if (h == nullptr || !h->finalized) return TPSUBM_NO_SUCH_ID;
  if (h->cue_count == 0) return TPSUBM_OK;
  window w = find_window(h, t);
  // The window and the long cues merged by place, so the list comes in
  // order; a long cue inside the window is listed once.
  int32_t n = 0;
  int32_t k = 0;
  for (int32_t i = w.first; i <= w.last && n < kMaxActive; ++i) {
    for (; k < h->long_n && h->long_place[k] < i && n < kMaxActive; ++k) {
      if (long_active(h, h->long_place[k], t)) g_active[n++] = h->order[h->long_place[k]].position;
    }
    if (k < h->long_n && h->long_place[k] == i) ++k;
    if (n < kMaxActive && t < h->order[i].end_ms) g_active[n++] = h->order[i].position;
  }
  for (; k < h->long_n && n < kMaxActive; ++k) {
    if (long_active(h, h->long_place[k], t)) g_active[n++] = h->order[h->long_place[k]].position;
  }
  g_active_n = n;
  return TPSUBM_OK;
}

TPSUBM_API int32_t tpsubm_active_count(void) {
  return g_active_n;
}

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
