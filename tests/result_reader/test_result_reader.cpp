// Random sequences of host calls; after each one the result document is read
// back with yyjson's reader and checked against the getters: the counts, the
// selections and, member by member, every field in its place.
#include <gtest/gtest.h>
#include <yyjson.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <random>
#include <set>
#include <string>

#include "tpsubm.h"

namespace {

const char *echo_detector(void *, const char *text) {
  return text;
}

// Parents that need escaping or carry non-ASCII letters, beside plain ones.
constexpr const char *kParents[] = {
    "4021987716",
    "p",
    "say \"hi\"",
    "C:\\media\\film",
    "a/b",
    "bell\x01\x1f",
    "two\nlines",
    "Fr\xc3\xa9"
    "d\xc3\xa9ric \xe5\xad\x97\xe5\xb9\x95 \xf0\x9f\x8e\xac",
};
constexpr const char *kLines[] = {"en", "fr", "zh", "de"};

struct Driver {
  std::mt19937 rng;
  int32_t cue_count[TPSUBM_MAX_HANDLES] = {};

  int32_t pick(int32_t lo, int32_t hi) {
    return std::uniform_int_distribution<int32_t>(lo, hi)(rng);
  }
  int32_t some_id() { return pick(-2, TPSUBM_MAX_HANDLES + 1); }

  void create() {
    const int32_t delays[] = {0, -120, 250, INT32_MIN, INT32_MAX, pick(-5000, 5000)};
    const int32_t id = tpsubm_create(kParents[pick(0, std::size(kParents) - 1)], pick(0, 12),
                                     delays[pick(0, std::size(delays) - 1)], 0, 0, nullptr);
    if (id < 0) return;  // every slot taken
    const int32_t cues = pick(0, 3);
    for (int32_t c = 0; c < cues; ++c) {
      const int32_t position = tpsubm_add_cue(id, c * 1000, c * 1000 + 900);
      ASSERT_EQ(position, c);
      for (int32_t k = pick(1, 2); k > 0; --k) {
        ASSERT_EQ(tpsubm_add_cue_line(id, position, kLines[pick(0, std::size(kLines) - 1)]), 0);
      }
    }
    cue_count[id] = cues;
    if (pick(0, 4) > 0) {
      ASSERT_EQ(tpsubm_finalize(id), TPSUBM_OK);
    }
  }

  void step() {
    switch (pick(0, 11)) {
      case 0:
      case 1:
      case 2:
        create();
        break;
      case 3:
      case 4:
        tpsubm_collection_add(some_id());
        break;
      case 5:
        tpsubm_collection_remove(some_id());
        break;
      case 6:
        tpsubm_destroy(some_id());
        break;
      case 7:
        tpsubm_set_primary(pick(0, 3) == 0 ? pick(-9, -1) : some_id());
        break;
      case 8:
        tpsubm_set_secondary(pick(0, 3) == 0 ? pick(-9, -1) : some_id());
        break;
      case 9:
        tpsubm_detect_languages(some_id());
        break;
      case 10:
        tpsubm_set_delay_ms(some_id(), pick(-100000, 100000));
        break;
      case 11:
        if (pick(0, 9) == 0) tpsubm_clear();
        if (pick(0, 9) == 0) tpsubm_close_tracks();
        break;
    }
  }
};

// The value of the next key of an object, which must be `key`.
yyjson_val *next_member(yyjson_obj_iter *it, const char *key) {
  yyjson_val *k = yyjson_obj_iter_next(it);
  if (k == nullptr || !yyjson_equals_str(k, key)) {
    ADD_FAILURE() << "expected key " << key << ", got "
                  << (k != nullptr ? yyjson_get_str(k) : "<end>");
    return nullptr;
  }
  return yyjson_obj_iter_get_val(k);
}

int64_t integer(yyjson_val *v) {
  EXPECT_TRUE(yyjson_is_int(v));
  return yyjson_get_sint(v);
}

std::string text(yyjson_val *v) {
  EXPECT_TRUE(yyjson_is_str(v));
  return yyjson_is_str(v) ? std::string(yyjson_get_str(v), yyjson_get_len(v)) : "";
}

void check_item(yyjson_val *item, int32_t position, const Driver &d) {
  ASSERT_TRUE(yyjson_is_obj(item));
  ASSERT_EQ(yyjson_obj_size(item), 8u);
  const int32_t id = tpsubm_collection_at(position);
  ASSERT_GE(id, 0);
  yyjson_obj_iter it = yyjson_obj_iter_with(item);
  EXPECT_EQ(integer(next_member(&it, "id")), id);
  EXPECT_EQ(integer(next_member(&it, "index")), tpsubm_index(id));
  EXPECT_EQ(text(next_member(&it, "file_hash")), tpsubm_file_hash(id));
  EXPECT_EQ(text(next_member(&it, "parent")), tpsubm_parent_file_hash(id));
  EXPECT_EQ(integer(next_member(&it, "cues")), d.cue_count[id]);
  EXPECT_EQ(text(next_member(&it, "lang1")), tpsubm_language1(id));
  EXPECT_EQ(text(next_member(&it, "lang2")), tpsubm_language2(id));
  EXPECT_EQ(integer(next_member(&it, "delay_ms")), tpsubm_delay_ms(id));
}

void check_document(const Driver &d) {
  const char *json = tpsubm_result_json();
  yyjson_doc *doc = yyjson_read(json, std::strlen(json), 0);
  ASSERT_NE(doc, nullptr) << json;
  yyjson_val *root = yyjson_doc_get_root(doc);
  ASSERT_TRUE(yyjson_is_obj(root)) << json;
  EXPECT_EQ(yyjson_obj_size(root), 4u) << json;

  yyjson_obj_iter it = yyjson_obj_iter_with(root);
  const int64_t count = integer(next_member(&it, "collection_count"));
  EXPECT_EQ(integer(next_member(&it, "primary")), tpsubm_primary());
  EXPECT_EQ(integer(next_member(&it, "secondary")), tpsubm_secondary());
  yyjson_val *items = next_member(&it, "items");
  ASSERT_TRUE(yyjson_is_arr(items)) << json;

  EXPECT_EQ(count, tpsubm_collection_count());
  EXPECT_EQ(static_cast<int64_t>(yyjson_arr_size(items)), count) << json;
  std::set<int64_t> indexes;
  for (size_t i = 0; i < yyjson_arr_size(items); ++i) {
    SCOPED_TRACE("item " + std::to_string(i));
    yyjson_val *item = yyjson_arr_get(items, i);
    check_item(item, static_cast<int32_t>(i), d);
    indexes.insert(yyjson_get_sint(yyjson_obj_get(item, "index")));
  }
  EXPECT_EQ(static_cast<int64_t>(indexes.size()), count) << "members share an index: " << json;
  yyjson_doc_free(doc);
}

TEST(ResultReader, RandomStatesReadBackWithMatchingCountsAndFields) {
  for (uint32_t seed : {1u, 2u, 3u, 4u}) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    tpsubm_clear();
    tpsubm_set_detector(echo_detector, nullptr);
    Driver d{std::mt19937(seed)};
    int32_t largest = 0;
    for (int32_t step = 0; step < 400; ++step) {
      SCOPED_TRACE("step " + std::to_string(step));
      d.step();
      ASSERT_NO_FATAL_FAILURE(check_document(d));
      if (::testing::Test::HasFailure()) return;
      largest = std::max(largest, tpsubm_collection_count());
    }
    // The walk must reach collections of some size to mean anything.
    EXPECT_GE(largest, 4);
  }
  tpsubm_clear();
  tpsubm_set_detector(nullptr, nullptr);
}

}  // namespace
