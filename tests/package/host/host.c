/* A tiny host built out of tree against an installed tpsubm: one track
 * through the whole road a player takes, checked at every step. */
#include <stdio.h>
#include <string.h>

#include <tpsubm.h>

static const char *detect(void *ctx, const char *text) {
  (void)ctx;
  return text[0] != '\0' ? "en" : NULL;
}

static int fail(const char *step) {
  fprintf(stderr, "package host: %s failed (%s)\n", step, tpsubm_last_error());
  return 1;
}

int main(void) {
  int32_t id = tpsubm_create("package-test", 0, 0, 0, 0, "srt");
  int32_t cue;
  const char *name;
  if (id < 0) return fail("tpsubm_create");
  cue = tpsubm_add_cue(id, 1000, 2500);
  if (cue < 0 || tpsubm_add_cue_line(id, cue, "{\\i1}Hello from outside the tree{\\i0}") != 0) {
    return fail("adding a cue");
  }
  if (tpsubm_finalize(id) != TPSUBM_OK) return fail("tpsubm_finalize");
  tpsubm_set_detector(detect, NULL);
  if (tpsubm_detect_languages(id) != TPSUBM_OK) return fail("tpsubm_detect_languages");
  name = tpsubm_display_name(id);
  if (name == NULL || strcmp(name, "English.srt") != 0) return fail("tpsubm_display_name");
  if (tpsubm_cue_at(id, 1500) != cue || tpsubm_cue_at(id, 2500) != -1) {
    return fail("tpsubm_cue_at");
  }
  if (tpsubm_collection_add(id) != TPSUBM_OK) return fail("tpsubm_collection_add");
  if (strncmp(tpsubm_result_json(), "{\"collection_count\":1,", 22) != 0) {
    return fail("tpsubm_result_json");
  }
  printf("package host: \"%s\" with tpsubm %s\n", name, TPSUBM_VERSION_STRING);
  tpsubm_clear();
  tpsubm_set_detector(NULL, NULL);
  return 0;
}
