// Cues and finalization: the host feeds a track cue by cue, then finalize
// scores every cue, gives the track its identity (file hash and index) and
// builds the start-time order on which the time lookups rest.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "state.h"

namespace {

constexpr int32_t kFirstCueCapacity = 16;
// Two lines fill the smallest block the allocator hands out; most cues have
// one or two.
constexpr int32_t kFirstLineCapacity = 2;
constexpr size_t kEmptyTrackText = 1024;

// The next capacity of a doubling array, or -1 when it would overflow the
// count type or the byte size.
int32_t grown_capacity(int32_t capacity, int32_t first, size_t element_size) {
  if (capacity == 0) return first;
  if (capacity > INT32_MAX / 2) return -1;
  int32_t next = capacity * 2;
  if (static_cast<size_t>(next) > SIZE_MAX / element_size) return -1;
  return next;
}

// The bytes that leave a line invisible.
constexpr const char kBlanks[] = "\t\n\r ";

// Hash of a track without cues: the parent text followed by "0", the whole
// cut to 1023 bytes at a UTF-8 boundary. The "0" comes last, so a parent of
// 1023 bytes or more loses it, however far back its own cut falls.
int32_t hash_empty_track(const char *parent, int32_t *out) {
  char text[kEmptyTrackText];
  size_t len = std::strlen(parent);
  if (len + 1 < sizeof text) {
    std::memcpy(text, parent, len);
    text[len] = '0';
    text[len + 1] = '\0';
  } else {
    copy_cut(text, sizeof text, parent);
  }
  return tpsubm_stable_hash_utf8_impl(text, out);
}

// Fills order with the positions sorted by (start_ms, position), a total
// order, so the result does not depend on the sort routine, with their end
// times and scores, and order_start with their start times. The sort runs on
// 64-bit keys, the start (made unsigned) above the position, so that no
// comparison looks into the cues; without memory for the keys it sorts the
// entries directly.
void build_order(const cue *cues, int32_t n, order_entry *order, int32_t *order_start) {
  auto *keys = static_cast<uint64_t *>(std::malloc(static_cast<size_t>(n) * sizeof(uint64_t)));
  if (keys != nullptr) {
    for (int32_t i = 0; i < n; ++i) {
      uint32_t start = static_cast<uint32_t>(cues[i].start_ms) ^ 0x80000000u;
      keys[i] = static_cast<uint64_t>(start) << 32 | static_cast<uint32_t>(i);
    }
    // Files nearly always list their cues in order: then there is nothing
    // to sort.
    if (!std::is_sorted(keys, keys + n)) std::sort(keys, keys + n);
    for (int32_t i = 0; i < n; ++i) order[i].position = static_cast<int32_t>(keys[i] & 0xFFFFFFFFu);
    std::free(keys);
  } else {
    for (int32_t i = 0; i < n; ++i) order[i].position = i;
    std::sort(order, order + n, [cues](const order_entry &a, const order_entry &b) {
      const cue &x = cues[a.position];
      const cue &y = cues[b.position];
      if (x.start_ms != y.start_ms) return x.start_ms < y.start_ms;
      return a.position < b.position;
    });
  }
  for (int32_t i = 0; i < n; ++i) {
    const cue &c = cues[order[i].position];
    order[i].end_ms = c.end_ms;
    order[i].char_score = c.char_score;
    order_start[i] = c.start_ms;
  }
}

// The lookups' window reaches back from t by the longest span, so one cue
// that lasts the whole track (a title, a karaoke background) would make it
// cover every cue started so far. Up to kMaxLongCues cues with a start of 0
// or more whose span is over four times the longest span of the others are
// therefore kept apart: the window reaches back by the others' longest span
// and the lookups test the long ones on their own. A track of cues of
// similar length keeps none apart.
void pick_long_cues(handle_slot *h) {
  // The kMaxLongCues + 1 longest spans, longest first, with their places.
  constexpr int32_t kTop = kMaxLongCues + 1;
  int64_t span[kTop];
  int32_t place[kTop];
  int32_t top = 0;
  for (int32_t i = 0; i < h->cue_count; ++i) {
    if (h->order_start[i] < 0) continue;  // never searched for
    int64_t s = static_cast<int64_t>(h->order[i].end_ms) - h->order_start[i];
    if (top == kTop && s <= span[kTop - 1]) continue;
    int32_t k = top < kTop ? top++ : kTop - 1;
    for (; k > 0 && span[k - 1] < s; --k) {
      span[k] = span[k - 1];
      place[k] = place[k - 1];
    }
    span[k] = s;
    place[k] = i;
  }
  // With fewer than kTop such cues every one that can be active is apart.
  int64_t reference = top == kTop ? span[kTop - 1] : 0;
  int32_t long_n = 0;
  while (long_n < top && long_n < kMaxLongCues && span[long_n] > 4 * reference) ++long_n;
  // A start of 0 or more keeps every span within INT32_MAX.
  h->short_span_ms = long_n < top ? static_cast<int32_t>(std::max<int64_t>(span[long_n], 0)) : 0;
  h->long_n = long_n;
  std::sort(place, place + long_n);
  std::copy(place, place + long_n, h->long_place);
}

// Absolute value of a 32-bit number, with -2^31 giving 0.
int32_t abs_index(int32_t v) {
  if (v == INT32_MIN) return 0;
  return v < 0 ? -v : v;
}

}  // namespace

// Makes room for one more entry; -1 when the array cannot grow.
static int32_t strlist_reserve_one(strlist *list) {
  if (list->count < list->capacity) return 0;
  int32_t next = grown_capacity(list->capacity, kFirstLineCapacity, sizeof(char *));
  if (next < 0) return -1;
  void *items = std::realloc(list->items, static_cast<size_t>(next) * sizeof(char *));
  if (items == nullptr) return -1;
  list->items = static_cast<char **>(items);
  list->capacity = next;
  return 0;
}

int32_t strlist_add(strlist *list, const char *text) {
  if (text == nullptr) text = "";
  if (strlist_reserve_one(list) != 0) return -1;
  char *copy = text_dup(text);
  if (copy == nullptr) return -1;
  list->items[list->count++] = copy;
  return 0;
}

int32_t strlist_push(strlist *list, char *owned) {
  if (strlist_reserve_one(list) != 0) return -1;
  list->items[list->count++] = owned;
  return 0;
}

void strlist_free(strlist *list) {
  for (int32_t i = 0; i < list->count; ++i) std::free(list->items[i]);
  std::free(list->items);
  list->items = nullptr;
  list->count = 0;
  list->capacity = 0;
}

int32_t cue_score(char *const *lines, int32_t count) {
  if (count <= 0) return -1;
  int64_t score = 0;
  bool visible = false;
  for (int32_t i = 0; i < count; ++i) {
    // A line is visible when a byte other than tab, line feed, carriage
    // return or space follows its leading blanks.
    const char *line = lines[i];
    size_t blanks = std::strspn(line, kBlanks);
    if (line[blanks] == '\0') continue;
    visible = true;
    score += static_cast<int64_t>(blanks + std::strlen(line + blanks));
    if (score > INT32_MAX) score = INT32_MAX;  // saturate: a score, not a size
  }
  return visible ? static_cast<int32_t>(score) : -1;
}

void cue_set_score(handle_slot *h, int32_t position, int32_t score) {
  cue &c = h->cues[position];
  c.char_score = score;
  if (!h->finalized || h->order == nullptr) return;
  // The cue's place: the first whose (start, position) is not below its own.
  int32_t lo = 0;
  int32_t hi = h->cue_count;
  while (lo < hi) {
    int32_t mid = lo + (hi - lo) / 2;
    int32_t start = h->order_start[mid];
    if (start < c.start_ms || (start == c.start_ms && h->order[mid].position < position)) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  if (lo < h->cue_count && h->order[lo].position == position) h->order[lo].char_score = score;
}

extern "C" {

TPSUBM_API int32_t tpsubm_add_cue(int32_t id, int32_t start_ms, int32_t end_ms) {
  handle_slot *h = enter_slot(id);
  if (h == nullptr) return -TPSUBM_NO_SUCH_ID;
  if (h->finalized) {
    error_set("already finalized");
    return -TPSUBM_INVALID;
  }
  if (h->cue_count == h->cue_capacity) {
    int32_t next = grown_capacity(h->cue_capacity, kFirstCueCapacity, sizeof(cue));
    void *cues =
        next < 0 ? nullptr : std::realloc(h->cues, static_cast<size_t>(next) * sizeof(cue));
    if (cues == nullptr) {
      error_set("oom");
      return -TPSUBM_NO_MEMORY;
    }
    h->cues = static_cast<cue *>(cues);
    h->cue_capacity = next;
  }
  int32_t position = h->cue_count;
  cue *c = &h->cues[position];
  c->start_ms = start_ms;
  c->end_ms = end_ms;
  c->lines = strlist{nullptr, 0, 0};
  c->char_score = -1;
  c->consumed = 0;
  c->seq = position;
  h->cue_count = position + 1;
  return position;
}

TPSUBM_API int32_t tpsubm_add_cue_line(int32_t id, int32_t position, const char *text) {
  handle_slot *h = enter_slot(id);
  if (h == nullptr) return TPSUBM_NO_SUCH_ID;
  if (position < 0 || position >= h->cue_count) {
    error_set("bad cue");
    return TPSUBM_INVALID;
  }
  if (h->finalized) {
    error_set("already finalized");
    return TPSUBM_INVALID;
  }
  if (strlist_add(&h->cues[position].lines, text) != 0) {
    error_set("oom");
    return TPSUBM_NO_MEMORY;
  }
  return TPSUBM_OK;
}

TPSUBM_API int32_t tpsubm_finalize(int32_t id) {
  handle_slot *h = enter_slot(id);
  if (h == nullptr) return TPSUBM_NO_SUCH_ID;
  const int32_t n = h->cue_count;
  // Identity: the first line of every cue, in position order, hashed as one
  // text; later lines, times and the parent take no part. Scoring and
  // hashing share one pass over the cues, so each line is fetched once; a
  // line refused by the hash stops the hashing but not the scoring.
  int32_t hash = 0;
  bool hashed = true;
  tpsubm_hash_state st;
  tpsubm_hash_state_init(&st);
  for (int32_t i = 0; i < n; ++i) {
    cue &c = h->cues[i];
    c.char_score = cue_score(c.lines.items, c.lines.count);
    c.seq = i;
    if (hashed && tpsubm_hash_feed_utf8(&st, c.lines.count > 0 ? c.lines.items[0] : "") != 0) {
      hashed = false;
    }
  }
  if (!hashed) {
    error_set("hash utf8");
    return TPSUBM_INVALID;
  }
  if (n == 0) {
    if (hash_empty_track(h->parent_file_hash, &hash) != 0) {
      error_set("hash");
      return TPSUBM_INVALID;
    }
  } else {
    hash = tpsubm_hash_state_finish(&st);
  }
  (void)std::snprintf(h->file_hash, sizeof h->file_hash, "%d", hash);  // at most 10 digits

  int32_t index = h->index;
  if (index == 0 && tpsubm_stable_hash_utf8_impl(h->file_hash, &index) != 0) {
    error_set("hash index");
    return TPSUBM_INVALID;
  }
  h->index = abs_index(index);

  // The new order is allocated before the old one is released, so a repeated
  // finalize that runs out of memory keeps a finalized track searchable.
  void *block = nullptr;
  if (n > 0) {
    block = std::malloc(static_cast<size_t>(n) * (sizeof(order_entry) + sizeof(int32_t)));
    if (block == nullptr) {
      error_set("oom");
      return TPSUBM_NO_MEMORY;
    }
  }
  std::free(h->order);
  h->order = static_cast<order_entry *>(block);
  h->order_start = block != nullptr ? reinterpret_cast<int32_t *>(h->order + n) : nullptr;
  h->short_span_ms = 0;
  h->long_n = 0;
  if (n > 0) {
    build_order(h->cues, n, h->order, h->order_start);
    pick_long_cues(h);
  }

  int64_t max_span = 0;
  for (int32_t i = 0; i < n; ++i) {
    int64_t span = static_cast<int64_t>(h->cues[i].end_ms) - h->cues[i].start_ms;
    if (span > max_span) max_span = span;
  }
  // Only a cue with a negative start can span more than INT32_MAX, and such a
  // cue is never searched for, so the clamp changes no lookup.
  h->max_span_ms = static_cast<int32_t>(std::min<int64_t>(max_span, INT32_MAX));
  h->finalized = 1;
  return TPSUBM_OK;
}

}  // extern "C"
