// The engine's process-wide state and the helpers its sources share.
//
// All state is static data, zero at load except the two selections (-1) and
// the bilingual threshold (0.7). Each global is defined in the source of the
// family that owns it (named beside it); tpsubm_clear in handles.cpp resets
// everything except the callbacks and the threshold.
#ifndef TPSUBM_ENGINE_STATE_H
#define TPSUBM_ENGINE_STATE_H

#include <cstddef>
#include <cstdint>

#include "tpsubm.h"
#include "tpsubm_internal.h"

inline constexpr int32_t kMaxHandles = TPSUBM_MAX_HANDLES;
inline constexpr int32_t kMaxActive = TPSUBM_MAX_ACTIVE;
inline constexpr int32_t kMaxCleanParts = TPSUBM_MAX_CLEAN_PARTS;
inline constexpr int32_t kMaxWarnings = TPSUBM_MAX_WARNINGS;
inline constexpr int32_t kCollectionRoom = 128;
inline constexpr size_t kErrorSize = 512;
inline constexpr size_t kFileHashSize = 32;
inline constexpr size_t kLangSize = 16;
inline constexpr size_t kDisplaySize = 512;
inline constexpr int32_t kMaxLongCues = 7;

// A growable list of owned texts; never holds a null entry.
struct strlist {
  char **items;
  int32_t count;
  int32_t capacity;
};

// One timed entry. Named by its position in the track's cue array.
struct cue {
  int32_t start_ms;
  int32_t end_ms;  // exclusive
  strlist lines;
  int32_t char_score;  // -1 until scored, and when nothing is visible
  int32_t consumed;    // host's mark, 0 or 1
  int32_t seq;         // equals the position
};

// One place of the start-time order of a finalized track: a cue position
// with the end time and char score of that cue, side by side, so that a
// lookup reads one record per place.
struct order_entry {
  int32_t position;
  int32_t end_ms;
  int32_t char_score;  // kept equal to the cue's by cue_set_score
};

// One track.
struct handle_slot {
  int32_t in_use;
  char *parent_file_hash;         // owned, never empty while in use
  char file_hash[kFileHashSize];  // decimal digits, "" until a finalize computes them
  int32_t index;
  int32_t delay_ms;
  int32_t square_brackets;  // 0 or 1
  int32_t server_file;      // 0 or 1
  char *suffix;             // owned, or null
  char *encoding;           // owned, or null
  cue *cues;                // owned, in insertion order
  int32_t cue_count;
  int32_t cue_capacity;
  // The cue positions sorted by (start_ms, seq), cue_count long, built at
  // finalize, each with what the lookups read of its cue; and
  // order_start[i], the start time of order[i], in a dense array of its own
  // for the binary searches. One allocation: order[0..n) then
  // order_start[0..n).
  order_entry *order;
  int32_t *order_start;
  int32_t finalized;    // 0 or 1
  int32_t max_span_ms;  // longest end - start, at least 0
  // The lookups' window reaches back from t by short_span_ms, the longest
  // span of the cues with a start of 0 or more that are not among the few
  // much longer ones; those (long_n of them, their places in order, in
  // ascending order) are tested on their own. Set at finalize.
  int32_t short_span_ms;
  int32_t long_n;
  int32_t long_place[kMaxLongCues];
  // The last place the lookups found to start at or before their time, a
  // guess for the next lookup (playback asks for times close together);
  // always tested before it is used.
  int32_t lookup_hint;
  char lang1[kLangSize];
  char lang2[kLangSize];
  int32_t lang1_lines;
  int32_t lang2_lines;
  char display[kDisplaySize];
  // Guards for callbacks that re-enter the library: serial tells a live
  // track from a later one created in the same slot; detecting is set while
  // a detection run of this track is calling out.
  uint32_t serial;
  int32_t detecting;
};

// --- handles.cpp ---------------------------------------------------------
extern handle_slot g_h[kMaxHandles];
extern char g_error[kErrorSize];
extern char *g_warn[kMaxWarnings];
extern int32_t g_warn_n;

// The slot of a valid id, or null. Ids are tested unsigned, so every negative
// id is out of range.
inline handle_slot *valid_slot(int32_t id) {
  if (static_cast<uint32_t>(id) >= static_cast<uint32_t>(kMaxHandles)) return nullptr;
  handle_slot *h = &g_h[id];
  return h->in_use ? h : nullptr;
}
inline void error_clear() {
  g_error[0] = '\0';
}
// The entry test of the exports that report on their id: the slot of a valid
// id with the message emptied, or null with "no such id" left.
handle_slot *enter_slot(int32_t id);
// Messages are short constants; written whole with their terminator.
void error_set(const char *message);
// Formats a warning (cut to 511 bytes) and appends it; dropped when 64 are
// held or the copy cannot be allocated.
void warnf(const char *format, ...) __attribute__((format(printf, 1, 2)));
// Releases what a slot owns and zeroes the record.
void free_handle(handle_slot *h);

// --- text.cpp: text helpers shared by every family ------------------------
// A malloc'ed copy of text (null for null), or null when memory runs out.
char *text_dup(const char *text);
// A malloc'ed copy of the first len bytes of text plus a terminator.
char *text_dup_n(const char *text, size_t len);
// The largest length <= max_len at which text (of length len) can be cut
// without splitting a UTF-8 sequence: continuation bytes right at the cut
// are given back to their lead byte. Equal to min(len, max_len) for ASCII.
size_t utf8_cut_len(const char *text, size_t len, size_t max_len);
// Copies text into dst (dst_size > 0 bytes), cut at a UTF-8 boundary so that
// it fits with its terminator. Returns the length written.
size_t copy_cut(char *dst, size_t dst_size, const char *text);

// --- cues.cpp -------------------------------------------------------------
// Appends a copy of text ("" for null). 0, or -1 when memory runs out (the
// list is then unchanged but may have grown its array).
int32_t strlist_add(strlist *list, const char *text);
// Appends a text the list then owns; -1 when the array cannot grow (the text
// then stays the caller's).
int32_t strlist_push(strlist *list, char *owned);
// Releases every text and the array, leaving an empty list.
void strlist_free(strlist *list);
// Byte length of the lines that hold a non-blank byte; -1 when none does.
int32_t cue_score(char *const *lines, int32_t count);
// Gives the cue at a position a new char score, also in its order entry once
// the track is finalized.
void cue_set_score(handle_slot *h, int32_t position, int32_t score);

// --- lookup.cpp -----------------------------------------------------------
extern int32_t g_active[kMaxActive];
extern int32_t g_active_n;

// --- clean.cpp ------------------------------------------------------------
extern char *g_clean_parts[kMaxCleanParts];
extern int32_t g_clean_n;
// Pieces that the last cleaning left out because their copy failed.
extern int32_t g_clean_lost;
// Frees every stored part and empties the list.
void clean_parts_release();

// --- detect.cpp -----------------------------------------------------------
extern tpsubm_detector_fn g_detect;
extern void *g_detect_ctx;
extern double g_bilingual_threshold;

// --- names.cpp ------------------------------------------------------------
extern tpsubm_translator_fn g_translate;
extern void *g_translate_ctx;

// --- collection.cpp -------------------------------------------------------
extern int32_t g_coll[kCollectionRoom];
extern int32_t g_coll_n;
extern int32_t g_primary;
extern int32_t g_secondary;
// Removes every member equal to id (order kept) and resets each selection
// equal to it; what destroying a track does to the collection.
void collection_forget(int32_t id);

// --- result.cpp -----------------------------------------------------------
extern char *g_json;
// Frees the last document and forgets it.
void result_release();

// --- downloads.cpp --------------------------------------------------------
extern tpsubm_download_fn g_download;
extern void *g_download_ctx;

#endif  // TPSUBM_ENGINE_STATE_H
