// Text helpers shared by the engine families: owned copies and cuts that
// never split a UTF-8 sequence.
#include <cstdlib>
#include <cstring>

#include "state.h"

char *text_dup_n(const char *text, size_t len) {
  if (len == SIZE_MAX) return nullptr;
  char *copy = static_cast<char *>(std::malloc(len + 1));
  if (copy == nullptr) return nullptr;
  std::memcpy(copy, text, len);
  copy[len] = '\0';
  return copy;
}

char *text_dup(const char *text) {
  if (text == nullptr) return nullptr;
  return text_dup_n(text, std::strlen(text));
}

size_t utf8_cut_len(const char *text, size_t len, size_t max_len) {
  if (len <= max_len) return len;
  size_t cut = max_len;
  // The byte at the cut starts the first sequence that is left out; if it is
  // a continuation byte, its sequence began earlier and goes out whole. A
  // sequence is at most four bytes, so at most three steps back.
  const unsigned char *p = reinterpret_cast<const unsigned char *>(text);
  for (int steps = 0; steps < 3 && cut > 0 && (p[cut] & 0xC0) == 0x80; ++steps) --cut;
  if ((p[cut] & 0xC0) == 0x80) return max_len;  // not UTF-8 here: cut by bytes
  return cut;
}

size_t copy_cut(char *dst, size_t dst_size, const char *text) {
  size_t n = utf8_cut_len(text, std::strlen(text), dst_size - 1);
  std::memcpy(dst, text, n);
  dst[n] = '\0';
  return n;
}
