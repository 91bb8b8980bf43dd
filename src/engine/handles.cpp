// Handles and status: the table of 64 track slots, creating, destroying and
// clearing tracks, the per-track values that are only stored and returned,
// and the last-error text and warning list that every family shares.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "state.h"

handle_slot g_h[kMaxHandles];
char g_error[kErrorSize];
char *g_warn[kMaxWarnings];
int32_t g_warn_n;

namespace {

// Serial numbers of created tracks; 0 is never handed out.
uint32_t g_serial_next;

constexpr size_t kSuffixBuffer = 64;

// The stored form of a suffix argument, or null for none (also when memory
// runs out: a suffix is optional).
char *make_suffix(const char *suffix) {
  if (suffix == nullptr || suffix[0] == '\0') return nullptr;
  if (std::strcmp(suffix, "pgssub") == 0) return text_dup(" PGS");
  if (suffix[0] == '.') return text_dup(suffix);
  // "." and the argument, cut to fit 63 bytes, at a UTF-8 boundary.
  char buffer[kSuffixBuffer];
  buffer[0] = '.';
  copy_cut(buffer + 1, sizeof buffer - 1, suffix);
  return text_dup(buffer);
}

}  // namespace

void error_set(const char *message) {
  copy_cut(g_error, sizeof g_error, message);
}

handle_slot *enter_slot(int32_t id) {
  handle_slot *h = valid_slot(id);
  if (h == nullptr) {
    error_set("no such id");
    return nullptr;
  }
  error_clear();
  return h;
}

// printf-style on purpose: the format attribute in state.h has the compiler
// check the arguments of every call.
// NOLINTNEXTLINE(cert-dcl50-cpp)
void warnf(const char *format, ...) {
  char buffer[kErrorSize];
  va_list args;
  va_start(args, format);
  const int written = std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  if (written < 0) return;  // a format that cannot be written records nothing
  if (g_warn_n >= kMaxWarnings) return;
  char *copy = text_dup(buffer);
  if (copy == nullptr) return;
  g_warn[g_warn_n++] = copy;
}

void free_handle(handle_slot *h) {
  std::free(h->parent_file_hash);
  std::free(h->suffix);
  std::free(h->encoding);
  for (int32_t i = 0; i < h->cue_count; ++i) strlist_free(&h->cues[i].lines);
  std::free(h->cues);
  std::free(h->order);  // order_start shares this allocation
  std::memset(h, 0, sizeof *h);
}

extern "C" {

TPSUBM_API int32_t tpsubm_create(const char *parent_file_hash, int32_t index, int32_t delay_ms,
                                 int32_t square_brackets, int32_t reserved, const char *suffix) {
  (void)reserved;
  error_clear();
  if (parent_file_hash == nullptr || parent_file_hash[0] == '\0') {
    error_set("parent_file_hash required");
    return -TPSUBM_INVALID;
  }
  int32_t id = 0;
  while (id < kMaxHandles && g_h[id].in_use) ++id;
  if (id == kMaxHandles) {
    error_set("too many handles");
    return -TPSUBM_NO_MEMORY;
  }
  handle_slot *h = &g_h[id];
  std::memset(h, 0, sizeof *h);
  h->parent_file_hash = text_dup(parent_file_hash);
  if (h->parent_file_hash == nullptr) {
    error_set("oom");
    return -TPSUBM_NO_MEMORY;
  }
  h->in_use = 1;
  h->index = index;
  h->delay_ms = delay_ms;
  h->square_brackets = square_brackets != 0 ? 1 : 0;
  h->suffix = make_suffix(suffix);
  if (++g_serial_next == 0) ++g_serial_next;
  h->serial = g_serial_next;
  return id;
}

TPSUBM_API int32_t tpsubm_destroy(int32_t id) {
  handle_slot *h = enter_slot(id);
  if (h == nullptr) return TPSUBM_NO_SUCH_ID;
  collection_forget(id);
  free_handle(h);
  return TPSUBM_OK;
}

TPSUBM_API void tpsubm_clear(void) {
  for (handle_slot &h : g_h) {
    if (h.in_use) free_handle(&h);
  }
  g_coll_n = 0;
  g_secondary = -1;
  g_primary = -1;
  clean_parts_release();
  for (int32_t i = 0; i < g_warn_n; ++i) {
    std::free(g_warn[i]);
    g_warn[i] = nullptr;
  }
  g_warn_n = 0;
  result_release();
  error_clear();
  g_active_n = 0;
}

TPSUBM_API const char *tpsubm_file_hash(int32_t id) {
  handle_slot *h = valid_slot(id);
  return h != nullptr ? h->file_hash : nullptr;
}

TPSUBM_API int32_t tpsubm_index(int32_t id) {
  handle_slot *h = valid_slot(id);
  return h != nullptr ? h->index : -1;
}

TPSUBM_API const char *tpsubm_parent_file_hash(int32_t id) {
  handle_slot *h = valid_slot(id);
  return h != nullptr ? h->parent_file_hash : nullptr;
}

TPSUBM_API int32_t tpsubm_set_delay_ms(int32_t id, int32_t delay_ms) {
  handle_slot *h = valid_slot(id);
  if (h == nullptr) return TPSUBM_NO_SUCH_ID;
  h->delay_ms = delay_ms;
  return TPSUBM_OK;
}

TPSUBM_API int32_t tpsubm_delay_ms(int32_t id) {
  handle_slot *h = valid_slot(id);
  return h != nullptr ? h->delay_ms : 0;
}

TPSUBM_API int32_t tpsubm_set_encoding(int32_t id, const char *name) {
  handle_slot *h = valid_slot(id);
  if (h == nullptr) return TPSUBM_NO_SUCH_ID;
  std::free(h->encoding);
  h->encoding = text_dup(name);  // optional: absent when the copy fails
  return TPSUBM_OK;
}

TPSUBM_API const char *tpsubm_encoding(int32_t id) {
  handle_slot *h = valid_slot(id);
  return h != nullptr ? h->encoding : nullptr;
}

TPSUBM_API const char *tpsubm_last_error(void) {
  return g_error;
}

TPSUBM_API int32_t tpsubm_warning_count(void) {
  return g_warn_n;
}

TPSUBM_API const char *tpsubm_warning(int32_t i) {
  if (i < 0 || i >= g_warn_n) return nullptr;
  return g_warn[i];
}

}  // extern "C"
