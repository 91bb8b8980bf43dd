// The collection: one ordered list of finalized tracks with distinct
// indexes, and the primary and secondary selections beside it. The
// selections are independent of the collection.
#include "state.h"

int32_t g_coll[kCollectionRoom];
int32_t g_coll_n;
int32_t g_primary = -1;
int32_t g_secondary = -1;

namespace {

// Removes the member at a position; the later members move up one place.
void remove_at(int32_t position) {
  for (int32_t i = position; i + 1 < g_coll_n; ++i) g_coll[i] = g_coll[i + 1];
  --g_coll_n;
}

void reset_selections_of(int32_t id) {
  if (g_primary == id) g_primary = -1;
  if (g_secondary == id) g_secondary = -1;
}

int32_t set_selection(int32_t *selection, int32_t id) {
  // A negative value means no track and is stored as given.
  if (id >= 0 && valid_slot(id) == nullptr) return TPSUBM_NO_SUCH_ID;
  *selection = id;
  return TPSUBM_OK;
}

}  // namespace

void collection_forget(int32_t id) {
  for (int32_t i = 0; i < g_coll_n;) {
    if (g_coll[i] == id) {
      remove_at(i);  // the same place is tested again
    } else {
      ++i;
    }
  }
  reset_selections_of(id);
}

extern "C" {

TPSUBM_API int32_t tpsubm_collection_add(int32_t id) {
  handle_slot *h = enter_slot(id);
  if (h == nullptr) return TPSUBM_NO_SUCH_ID;
  if (!h->finalized) {
    error_set("not finalized");
    return TPSUBM_INVALID;
  }
  // The duplicate test comes before the limit test, so an id that is already
  // a member is refused as a duplicate (its own index matches).
  for (int32_t i = 0; i < g_coll_n; ++i) {
    const handle_slot *member = valid_slot(g_coll[i]);
    if (member != nullptr && member->index == h->index) {
      warnf("collection: duplicate Index %d rejected", h->index);
      error_set("duplicate");
      return TPSUBM_DUPLICATE;
    }
  }
  if (g_coll_n == kCollectionRoom) {
    error_set("collection full");
    return TPSUBM_NO_MEMORY;
  }
  g_coll[g_coll_n++] = id;
  return TPSUBM_OK;
}

TPSUBM_API int32_t tpsubm_collection_remove(int32_t id) {
  for (int32_t i = 0; i < g_coll_n; ++i) {
    if (g_coll[i] == id) {
      remove_at(i);
      reset_selections_of(id);
      return TPSUBM_OK;
    }
  }
  return TPSUBM_NO_SUCH_ID;
}

TPSUBM_API int32_t tpsubm_collection_count(void) {
  return g_coll_n;
}

TPSUBM_API int32_t tpsubm_collection_at(int32_t position) {
  if (position < 0 || position >= g_coll_n) return -1;
  return g_coll[position];
}

TPSUBM_API int32_t tpsubm_set_primary(int32_t id) {
  return set_selection(&g_primary, id);
}

TPSUBM_API int32_t tpsubm_set_secondary(int32_t id) {
  return set_selection(&g_secondary, id);
}

TPSUBM_API int32_t tpsubm_primary(void) {
  return g_primary;
}

TPSUBM_API int32_t tpsubm_secondary(void) {
  return g_secondary;
}

TPSUBM_API void tpsubm_close_tracks(void) {
  g_secondary = -1;
  g_primary = -1;
}

}  // extern "C"
