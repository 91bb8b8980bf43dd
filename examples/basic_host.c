/*
 * A minimal player-side host: feeds two tracks to the library, finalizes
 * them, detects their languages with a toy detector, names them, asks what
 * is on screen at a few times, cleans a marked-up line and prints the
 * collection as JSON. Uses only the public header.
 */
#include <stdio.h>
#include <string.h>

#include "tpsubm.h"

struct cue_text {
  int32_t start_ms;
  int32_t end_ms;
  const char *lines[3];
};

/* Tells CJK text from Latin text by its lead bytes; enough for a demo. */
static const char *script_detector(void *ctx, const char *text) {
  (void)ctx;
  int latin = 0;
  int cjk = 0;
  for (const unsigned char *p = (const unsigned char *)text; *p != 0; ++p) {
    if ((*p >= 'a' && *p <= 'z') || (*p >= 'A' && *p <= 'Z')) ++latin;
    if (*p >= 0xE3 && *p <= 0xE9) ++cjk;
  }
  if (cjk > 0 && cjk * 2 >= latin) return "zh";
  return latin > 0 ? "en" : NULL;
}

static int32_t load_track(const char *parent, int32_t index, const char *suffix,
                          const struct cue_text *cues, size_t n) {
  int32_t id = tpsubm_create(parent, index, 0, 0, 0, suffix);
  if (id < 0) {
    fprintf(stderr, "create failed: %s\n", tpsubm_last_error());
    return -1;
  }
  for (size_t i = 0; i < n; ++i) {
    int32_t pos = tpsubm_add_cue(id, cues[i].start_ms, cues[i].end_ms);
    for (size_t k = 0; k < 3 && cues[i].lines[k] != NULL; ++k) {
      tpsubm_add_cue_line(id, pos, cues[i].lines[k]);
    }
  }
  if (tpsubm_finalize(id) != TPSUBM_OK) {
    fprintf(stderr, "finalize failed: %s\n", tpsubm_last_error());
    return -1;
  }
  return id;
}

/* The library reports no cue count per track; the host knows what it fed. */
static void print_track(int32_t id, int32_t cue_count) {
  printf("track %d: file hash %s, index %d, %s\n", id, tpsubm_file_hash(id), tpsubm_index(id),
         tpsubm_encoding(id) ? tpsubm_encoding(id) : "(no encoding)");
  for (int32_t pos = 0; pos < cue_count; ++pos) {
    int32_t lines = tpsubm_cue_line_count(id, pos);
    printf("  cue %d  %6d-%6d ms  score %3d:", pos, tpsubm_cue_start_ms(id, pos),
           tpsubm_cue_end_ms(id, pos), tpsubm_cue_char_score(id, pos));
    for (int32_t k = 0; k < lines; ++k) printf(" [%s]", tpsubm_cue_line(id, pos, k));
    printf("\n");
  }
}

int main(void) {
  static const struct cue_text english[] = {
      {1000, 3500, {"{\\i1}Where were you last night?{\\i0}", NULL}},
      {3600, 6000, {"At the harbour,\\Nwatching the boats.", NULL}},
      {5500, 9000, {"{\\an8}[waves crashing]", NULL}},
      {9500, 12000, {"You could have called.", "I waited for hours.", NULL}},
  };
  static const struct cue_text bilingual[] = {
      {1000, 3500, {"你昨晚去哪儿了？", "Where were you last night?", NULL}},
      {3600, 6000, {"在港口看船。", "At the harbour, watching the boats.", NULL}},
      {9500, 12000, {"你可以打电话的。", "You could have called.", NULL}},
  };

  tpsubm_set_detector(script_detector, NULL);
  const int32_t en_cues = (int32_t)(sizeof english / sizeof english[0]);
  const int32_t zh_cues = (int32_t)(sizeof bilingual / sizeof bilingual[0]);
  int32_t en = load_track("demo-movie", 0, "srt", english, (size_t)en_cues);
  int32_t zh = load_track("demo-movie", 0, "ass", bilingual, (size_t)zh_cues);
  if (en < 0 || zh < 0) return 1;
  tpsubm_set_encoding(en, "utf-8");
  tpsubm_set_encoding(zh, "utf-8");
  print_track(en, en_cues);
  print_track(zh, zh_cues);

  printf("\nlanguages\n");
  int32_t ids[2] = {en, zh};
  for (int i = 0; i < 2; ++i) {
    int32_t id = ids[i];
    int32_t rc = tpsubm_detect_languages(id);
    printf(
        "  track %d: status %d, %s (%d lines) / %s (%d lines), confidence %.2f, bilingual %d, "
        "name \"%s\"\n",
        id, rc, tpsubm_language1(id), tpsubm_language1_lines(id), tpsubm_language2(id),
        tpsubm_language2_lines(id), tpsubm_confidence(id), tpsubm_is_bilingual(id),
        tpsubm_display_name(id));
  }
  printf("  after detection, track %d cue 1 reads:", en);
  for (int32_t k = 0; k < tpsubm_cue_line_count(en, 1); ++k)
    printf(" [%s]", tpsubm_cue_line(en, 1, k));
  printf("\n");

  printf("\non screen\n");
  static const int32_t times[] = {500, 2000, 5800, 10000};
  for (size_t i = 0; i < sizeof times / sizeof times[0]; ++i) {
    int32_t t = tpsubm_effective_ms(en, times[i], 0, 0, 0);
    int32_t pos = tpsubm_cue_at(en, t);
    tpsubm_active_cues(en, t);
    printf("  %5d ms: show cue %d, %d cue(s) active:", t, pos, tpsubm_active_count());
    for (int32_t a = 0; a < tpsubm_active_count(); ++a) printf(" %d", tpsubm_active_index(a));
    printf("\n");
  }

  const char *marked = "{\\an8}{\\b1}Top line{\\b0}\\Nsecond line";
  tpsubm_clean_line(marked);
  printf("\nclean parts of \"%s\":\n", marked);
  for (int32_t i = 0; i < tpsubm_clean_part_count(); ++i) printf("  [%s]\n", tpsubm_clean_part(i));

  tpsubm_collection_add(en);
  tpsubm_collection_add(zh);
  tpsubm_set_primary(zh);
  tpsubm_set_secondary(en);
  printf("\nresult document:\n%s\n", tpsubm_result_json());
  tpsubm_clear();
  return 0;
}
