// Markup cleaning: turns one line of SubStation Alpha text into plain parts.
// Every override block "{...}" becomes one space and the hard break "\N"
// splits the line; nothing else is touched. Language detection cleans every
// marked-up line through tpsubm_clean_line as well.
#include <cstdlib>
#include <cstring>

#include "state.h"

char *g_clean_parts[kMaxCleanParts];
int32_t g_clean_n;
int32_t g_clean_lost;

void clean_parts_release() {
  for (int32_t i = 0; i < g_clean_n; ++i) {
    std::free(g_clean_parts[i]);
    g_clean_parts[i] = nullptr;
  }
  g_clean_n = 0;
  g_clean_lost = 0;
}

namespace {

constexpr size_t kStackBuffer = 1024;

// Rewrites line (len bytes) into out and returns the rewritten length, never
// above len: a block shrinks to one space, "\N" to a line feed.
size_t rewrite_markup(const char *line, size_t len, char *out) {
  size_t o = 0;
  size_t i = 0;
  while (i < len) {
    char b = line[i];
    if (b == '{') {
      const void *close = std::memchr(line + i + 1, '}', len - i - 1);
      if (close != nullptr) {
        out[o++] = ' ';
        i = static_cast<size_t>(static_cast<const char *>(close) - line) + 1;
        continue;
      }
    } else if (b == '\\' && i + 1 < len && line[i + 1] == 'N') {
      out[o++] = '\n';
      i += 2;
      continue;
    }
    out[o++] = b;
    ++i;
  }
  return o;
}

// Stores the line-feed separated pieces of text as parts, at most 64. A piece
// whose copy fails is left out and the next one takes its place.
void store_parts(const char *text, size_t len) {
  size_t start = 0;
  for (;;) {
    const void *lf = std::memchr(text + start, '\n', len - start);
    size_t end = lf != nullptr ? static_cast<size_t>(static_cast<const char *>(lf) - text) : len;
    if (g_clean_n == kMaxCleanParts) return;
    char *part = text_dup_n(text + start, end - start);
    if (part != nullptr) {
      g_clean_parts[g_clean_n++] = part;
    } else {
      ++g_clean_lost;
    }
    if (lf == nullptr) return;
    start = end + 1;
  }
}

}  // namespace

extern "C" {

TPSUBM_API int32_t tpsubm_clean_line(const char *line) {
  clean_parts_release();
  error_clear();
  if (line == nullptr) {
    error_set("null");
    return TPSUBM_INVALID;
  }
  // A line without "{", backslash or line feed is its own single part, the
  // common case, and needs no rewriting.
  size_t len = std::strcspn(line, "{\\\n");
  if (line[len] == '\0') {
    store_parts(line, len);
    return TPSUBM_OK;
  }
  len += std::strlen(line + len);
  // The rewrite never grows the line, so any buffer of its length holds it.
  // A line of up to 508 bytes (subtitle lines are short) is rewritten in a
  // 1024-byte buffer on the stack at no allocation; a longer one in a heap
  // buffer of twice its length plus 8 bytes, a size computed without
  // overflow, and the line fails with "oom" when that cannot be had.
  char stack_buffer[kStackBuffer];
  char *buffer = stack_buffer;
  if (len > (sizeof stack_buffer - 8) / 2) {
    buffer = len > (SIZE_MAX - 8) / 2 ? nullptr : static_cast<char *>(std::malloc(len * 2 + 8));
    if (buffer == nullptr) {
      error_set("oom");
      return TPSUBM_NO_MEMORY;
    }
  }
  size_t n = rewrite_markup(line, len, buffer);
  store_parts(buffer, n);
  if (buffer != stack_buffer) std::free(buffer);
  return TPSUBM_OK;
}

TPSUBM_API int32_t tpsubm_clean_part_count(void) {
  return g_clean_n;
}

TPSUBM_API const char *tpsubm_clean_part(int32_t i) {
  if (i < 0 || i >= g_clean_n) return nullptr;
  return g_clean_parts[i];
}

}  // extern "C"
