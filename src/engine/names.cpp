// Display names: a readable track name made of the detected languages'
// English names (or the host's translations of them), the track's suffix and
// its two bracket flags. Rebuilt on every request.
#include <cstdio>
#include <cstring>

#include "state.h"

tpsubm_translator_fn g_translate;
void *g_translate_ctx;

namespace {

constexpr size_t kNamePart = 400;   // the name part holds at most 399 bytes
constexpr size_t kWrapLimit = 507;  // room for "X " and " Y" within 511
// Translations are kept longer than the name part, so that cutting the
// composed name gives the same bytes as cutting the full answers would.
constexpr size_t kTranslation = 512;

// Appends text to dst (holding len bytes) within dst_size, at a UTF-8
// boundary. Returns the new length.
size_t append_cut(char *dst, size_t len, size_t dst_size, const char *text) {
  return len + copy_cut(dst + len, dst_size - len, text);
}

// Wraps display as "<open> text <close>", first cutting the text to 507
// bytes so that the result fits 511.
void wrap_display(char *display, char open, char close) {
  char inner[kWrapLimit + 1];
  copy_cut(inner, sizeof inner, display);
  // At most 511 bytes by the cut above; the length is not needed.
  (void)std::snprintf(display, kDisplaySize, "%c %s %c", open, inner, close);
}

// One composition. The translator may call back into the library, even
// destroy the track, so the track's values are copied first and its liveness
// is checked after every call.
struct composer {
  handle_slot *h;
  uint32_t serial;

  bool track_alive() const { return h->in_use && h->serial == serial; }

  // Puts the translation of an English name (or the name itself) into out.
  // False when the track is gone after the call.
  bool translate(const char *english, char (&out)[kTranslation]) {
    tpsubm_translator_fn fn = g_translate;
    const char *answer = fn != nullptr ? fn(g_translate_ctx, english) : nullptr;
    copy_cut(out, sizeof out, answer != nullptr ? answer : english);
    return track_alive();
  }
};

}  // namespace

extern "C" {

TPSUBM_API const char *tpsubm_display_name(int32_t id) {
  handle_slot *h = valid_slot(id);
  if (h == nullptr) return nullptr;
  composer c{h, h->serial};
  char lang1[kLangSize];
  char lang2[kLangSize];
  std::memcpy(lang1, h->lang1, kLangSize);
  std::memcpy(lang2, h->lang2, kLangSize);
  const bool bilingual = tpsubm_is_bilingual(id) != 0;

  char name[kNamePart];
  const char *english1 = tpsubm_data_lang_name(lang1);
  const char *english2 = bilingual ? tpsubm_data_lang_name(lang2) : nullptr;
  if (english1 != nullptr && english2 != nullptr) {
    // The second name is asked first.
    char second[kTranslation];
    char first[kTranslation];
    if (!c.translate(english2, second) || !c.translate(english1, first)) return nullptr;
    char both[2 * kTranslation + 4];
    (void)std::snprintf(both, sizeof both, "%s & %s", first, second);  // fits: both are cut
    copy_cut(name, sizeof name, both);
  } else if (english1 != nullptr || english2 != nullptr) {
    char only[kTranslation];
    if (!c.translate(english1 != nullptr ? english1 : english2, only)) return nullptr;
    copy_cut(name, sizeof name, only);
  } else {
    copy_cut(name, sizeof name, lang1);  // unknown or no code: shown as it is
  }

  size_t len = copy_cut(h->display, kDisplaySize, name);
  if (h->suffix != nullptr) append_cut(h->display, len, kDisplaySize, h->suffix);
  if (h->square_brackets) wrap_display(h->display, '[', ']');
  if (h->server_file) wrap_display(h->display, '{', '}');
  return h->display;
}

TPSUBM_API void tpsubm_set_translator(tpsubm_translator_fn translator, void *ctx) {
  g_translate = translator;
  g_translate_ctx = ctx;
}

TPSUBM_API int32_t tpsubm_set_tovrin_server_file(int32_t id, int32_t flag) {
  handle_slot *h = valid_slot(id);
  if (h == nullptr) return TPSUBM_NO_SUCH_ID;
  h->server_file = flag != 0 ? 1 : 0;
  return TPSUBM_OK;
}

}  // extern "C"
