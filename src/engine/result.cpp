// The result document: the collection, the selections and every member's
// identity, cue count, languages and delay as one minified JSON object,
// built with yyjson. The text is kept until the next call.
#include <yyjson.h>

#include <cstdlib>

#include "state.h"

char *g_json;

void result_release() {
  std::free(g_json);
  g_json = nullptr;
}

namespace {

// The constant answer when no document can be made; never released.
constexpr const char kEmptyDocument[] = "{}";

// One member of "items"; false when an insertion ran out of memory.
bool add_item(yyjson_mut_doc *doc, yyjson_mut_val *items, int32_t id, const handle_slot &h) {
  yyjson_mut_val *item = yyjson_mut_obj(doc);
  if (item == nullptr) return false;
  bool ok = yyjson_mut_obj_add_int(doc, item, "id", id);
  ok = yyjson_mut_obj_add_int(doc, item, "index", h.index) && ok;
  ok = yyjson_mut_obj_add_str(doc, item, "file_hash", h.file_hash) && ok;
  ok = yyjson_mut_obj_add_strcpy(doc, item, "parent",
                                 h.parent_file_hash != nullptr ? h.parent_file_hash : "") &&
       ok;
  ok = yyjson_mut_obj_add_int(doc, item, "cues", h.cue_count) && ok;
  ok = yyjson_mut_obj_add_str(doc, item, "lang1", h.lang1) && ok;
  ok = yyjson_mut_obj_add_str(doc, item, "lang2", h.lang2) && ok;
  ok = yyjson_mut_obj_add_int(doc, item, "delay_ms", h.delay_ms) && ok;
  return yyjson_mut_arr_append(items, item) && ok;
}

}  // namespace

extern "C" {

TPSUBM_API const char *tpsubm_result_json(void) {
  result_release();
  yyjson_mut_doc *doc = yyjson_mut_doc_new(nullptr);
  if (doc == nullptr) return kEmptyDocument;
  // A document that misses a key or an item would misreport the collection:
  // when any insertion runs out of memory the answer is "{}" instead.
  bool complete = false;
  yyjson_mut_val *root = yyjson_mut_obj(doc);
  if (root != nullptr) {
    yyjson_mut_doc_set_root(doc, root);
    complete = yyjson_mut_obj_add_int(doc, root, "collection_count", g_coll_n);
    complete = yyjson_mut_obj_add_int(doc, root, "primary", g_primary) && complete;
    complete = yyjson_mut_obj_add_int(doc, root, "secondary", g_secondary) && complete;
    yyjson_mut_val *items = yyjson_mut_arr(doc);
    if (items != nullptr && yyjson_mut_obj_add_val(doc, root, "items", items)) {
      for (int32_t i = 0; i < g_coll_n; ++i) {
        const handle_slot *h = valid_slot(g_coll[i]);
        if (h != nullptr) complete = add_item(doc, items, g_coll[i], *h) && complete;
      }
    } else {
      complete = false;
    }
  }
  char *text = complete ? yyjson_mut_write_opts(doc, YYJSON_WRITE_NOFLAG, nullptr, nullptr, nullptr)
                        : nullptr;
  yyjson_mut_doc_free(doc);
  // Writing fails for lack of memory, or when a text is not valid UTF-8.
  g_json = text != nullptr ? text : text_dup(kEmptyDocument);
  return g_json != nullptr ? g_json : kEmptyDocument;
}

}  // extern "C"
