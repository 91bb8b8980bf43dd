/* A host written in C11: calls every export once through the header and
 * checks the answers a host relies on. Exits with the number of failed
 * checks. */
#include <math.h>
#include <stdio.h>
#include <string.h>

#include "tpsubm.h"

static int failures;

#define CHECK(cond)                                                            \
  do {                                                                         \
    if (!(cond)) {                                                             \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      ++failures;                                                              \
    }                                                                          \
  } while (0)

static int streq(const char *a, const char *b) {
  return a != NULL && strcmp(a, b) == 0;
}

static const char *detect(void *ctx, const char *text) {
  (void)ctx;
  return strstr(text, "Bonjour") != NULL ? "fr" : "en";
}

static const char *translate(void *ctx, const char *english) {
  (void)ctx;
  return strcmp(english, "French") == 0 ? "Fran\xC3\xA7"
                                          "ais"
                                        : NULL;
}

static int32_t download(void *ctx, void *first, void *second, void *third) {
  (void)first;
  (void)second;
  (void)third;
  return *(int32_t *)ctx;
}

int main(void) {
  int32_t seven = 7;
  int32_t hash = -1;
  int32_t id;
  int32_t other;
  int32_t pos;

  /* Callbacks and configuration. */
  tpsubm_set_detector(detect, NULL);
  tpsubm_set_translator(translate, NULL);
  tpsubm_set_download_fn(download, &seven);
  CHECK(tpsubm_set_bilingual_threshold(0.5) == 0.5);

  /* Handles. */
  id = tpsubm_create("media-hash", 0, 0, 1, 0, "srt");
  CHECK(id == 0);
  CHECK(streq(tpsubm_last_error(), ""));
  CHECK(streq(tpsubm_parent_file_hash(id), "media-hash"));
  CHECK(tpsubm_set_delay_ms(id, -250) == TPSUBM_OK && tpsubm_delay_ms(id) == -250);
  CHECK(tpsubm_set_encoding(id, "utf-8") == TPSUBM_OK && streq(tpsubm_encoding(id), "utf-8"));

  /* Cues. */
  pos = tpsubm_add_cue(id, 1000, 2000);
  CHECK(pos == 0);
  CHECK(tpsubm_add_cue_line(id, pos, "{\\an8}Hello\\NBonjour") == TPSUBM_OK);
  pos = tpsubm_add_cue(id, 1500, 2500);
  CHECK(pos == 1);
  CHECK(tpsubm_add_cue_line(id, pos, "Bonjour") == TPSUBM_OK);
  CHECK(tpsubm_finalize(id) == TPSUBM_OK);
  CHECK(strlen(tpsubm_file_hash(id)) > 0 && tpsubm_index(id) >= 0);

  /* Hash. */
  CHECK(tpsubm_stable_hash_utf8("abc", &hash) == TPSUBM_OK && hash >= 0);

  /* Lookup and cue fields. */
  CHECK(tpsubm_cue_at(id, 1600) == 0);
  CHECK(tpsubm_cue_at_linear(id, 1600) == 0);
  CHECK(tpsubm_active_cues(id, 1600) == TPSUBM_OK && tpsubm_active_count() == 2);
  CHECK(tpsubm_active_index(0) == 0 && tpsubm_active_index(1) == 1);
  CHECK(tpsubm_effective_ms(id, 1000, 1, 2, 3) == 756);
  CHECK(tpsubm_cue_start_ms(id, 1) == 1500 && tpsubm_cue_end_ms(id, 1) == 2500);
  CHECK(tpsubm_cue_line_count(id, 1) == 1 && streq(tpsubm_cue_line(id, 1, 0), "Bonjour"));
  CHECK(tpsubm_cue_char_score(id, 1) == 7);
  CHECK(tpsubm_cue_set_consumed(id, 1, 5) == TPSUBM_OK && tpsubm_cue_consumed(id, 1) == 1);

  /* Cleaning. */
  CHECK(tpsubm_clean_line("{\\i1}a\\Nb") == TPSUBM_OK && tpsubm_clean_part_count() == 2);
  CHECK(streq(tpsubm_clean_part(0), " a") && streq(tpsubm_clean_part(1), "b"));

  /* Detection: "Hello" votes en, both "Bonjour" fr. */
  CHECK(tpsubm_detect_languages(id) == TPSUBM_OK);
  CHECK(streq(tpsubm_language1(id), "fr") && streq(tpsubm_language2(id), "en"));
  CHECK(tpsubm_language1_lines(id) == 2 && tpsubm_language2_lines(id) == 1);
  CHECK(fabs(tpsubm_confidence(id) - 0.5) < 1e-9);
  CHECK(tpsubm_is_bilingual(id) == 0); /* 0.5 is not above 0.5 */

  /* Display name. */
  CHECK(tpsubm_set_tovrin_server_file(id, 1) == TPSUBM_OK);
  CHECK(streq(tpsubm_display_name(id),
              "{ [ Fran\xC3\xA7"
              "ais.srt ] }"));

  /* Collection and selections. */
  other = tpsubm_create("media-hash", 0, 0, 0, 0, NULL);
  CHECK(tpsubm_finalize(other) == TPSUBM_OK);
  CHECK(tpsubm_collection_add(id) == TPSUBM_OK && tpsubm_collection_add(other) == TPSUBM_OK);
  CHECK(tpsubm_collection_count() == 2 && tpsubm_collection_at(1) == other);
  CHECK(tpsubm_set_primary(id) == TPSUBM_OK && tpsubm_primary() == id);
  CHECK(tpsubm_set_secondary(other) == TPSUBM_OK && tpsubm_secondary() == other);
  CHECK(tpsubm_collection_add(other) == TPSUBM_DUPLICATE && tpsubm_warning_count() == 1);
  CHECK(tpsubm_warning(0) != NULL);
  CHECK(tpsubm_collection_remove(other) == TPSUBM_OK && tpsubm_secondary() == -1);
  tpsubm_close_tracks();
  CHECK(tpsubm_primary() == -1);

  /* Result document. */
  CHECK(strncmp(tpsubm_result_json(), "{\"collection_count\":1,\"primary\":-1", 34) == 0);

  /* Encodings and downloads. */
  CHECK(tpsubm_codepage_count() == 140 && tpsubm_codepage(0) != NULL &&
        tpsubm_codepage(140) == NULL);
  CHECK(tpsubm_download(NULL, &seven, &seven) == 7);

  /* Release. */
  CHECK(tpsubm_destroy(other) == TPSUBM_OK && tpsubm_destroy(other) == TPSUBM_NO_SUCH_ID);
  tpsubm_clear();
  CHECK(tpsubm_collection_count() == 0 && tpsubm_parent_file_hash(id) == NULL);

  if (failures == 0) printf("every export answered\n");
  return failures;
}
