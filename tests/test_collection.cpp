// The collection of finalized tracks and the primary and secondary
// selections, as a host drives them.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "support.h"
#include "tpsubm.h"

namespace {

// A finalized track with one cue; the given index is kept by finalize.
int32_t finalized_track(int32_t index, const char *line = "line") {
  int32_t id = tpsubm_create("parent", index, 0, 0, 0, nullptr);
  EXPECT_GE(id, 0);
  EXPECT_EQ(tpsubm_add_cue(id, 0, 1000), 0);
  EXPECT_EQ(tpsubm_add_cue_line(id, 0, line), TPSUBM_OK);
  EXPECT_EQ(tpsubm_finalize(id), TPSUBM_OK);
  return id;
}

std::vector<int32_t> members() {
  std::vector<int32_t> out;
  for (int32_t i = 0; i < tpsubm_collection_count(); ++i) out.push_back(tpsubm_collection_at(i));
  return out;
}

// Leaves a message that only a call which empties or sets it can change.
void leave_message() {
  ASSERT_EQ(tpsubm_create(nullptr, 0, 0, 0, 0, nullptr), -TPSUBM_INVALID);
  ASSERT_STREQ(tpsubm_last_error(), "parent_file_hash required");
}

class Collection : public ::testing::Test {
 protected:
  void SetUp() override { tpsubm_test::reset_library(); }
  // Leaves the state of a fresh load behind, for the load-state test when
  // the whole binary runs in one process.
  void TearDown() override { tpsubm_test::reset_library(); }
};

TEST(CollectionAtLoad, IsEmptyWithNothingSelected) {
  EXPECT_EQ(tpsubm_collection_count(), 0);
  EXPECT_EQ(tpsubm_collection_at(0), -1);
  EXPECT_EQ(tpsubm_primary(), -1);
  EXPECT_EQ(tpsubm_secondary(), -1);
}

TEST_F(Collection, AddReportsEachRefusalWithItsMessage) {
  const int32_t open = tpsubm_create("parent", 7, 0, 0, 0, nullptr);
  const int32_t member = finalized_track(3);
  const int32_t same_index = finalized_track(3, "other text");
  const int32_t gone = finalized_track(9);
  ASSERT_EQ(tpsubm_destroy(gone), TPSUBM_OK);
  ASSERT_EQ(tpsubm_collection_add(member), TPSUBM_OK);

  struct Case {
    const char *name;
    int32_t id;
    int32_t result;
    const char *message;
  } const cases[] = {
      {"negative id", -1, TPSUBM_NO_SUCH_ID, "no such id"},
      {"most negative id", INT32_MIN, TPSUBM_NO_SUCH_ID, "no such id"},
      {"id past the table", 64, TPSUBM_NO_SUCH_ID, "no such id"},
      {"destroyed id", gone, TPSUBM_NO_SUCH_ID, "no such id"},
      {"not finalized", open, TPSUBM_INVALID, "not finalized"},
      {"same id again", member, TPSUBM_DUPLICATE, "duplicate"},
      {"other track, same index", same_index, TPSUBM_DUPLICATE, "duplicate"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    leave_message();
    EXPECT_EQ(tpsubm_collection_add(c.id), c.result);
    EXPECT_STREQ(tpsubm_last_error(), c.message);
    EXPECT_EQ(members(), std::vector<int32_t>{member});
  }

  leave_message();
  EXPECT_EQ(tpsubm_finalize(open), TPSUBM_OK);
  leave_message();
  EXPECT_EQ(tpsubm_collection_add(open), TPSUBM_OK);
  EXPECT_STREQ(tpsubm_last_error(), "");
  EXPECT_EQ(members(), (std::vector<int32_t>{member, open}));
}

TEST_F(Collection, DuplicateWarningNamesTheIndex) {
  const int32_t a = finalized_track(3);
  const int32_t b = finalized_track(3, "other text");
  ASSERT_EQ(tpsubm_collection_add(a), TPSUBM_OK);
  ASSERT_EQ(tpsubm_warning_count(), 0);

  EXPECT_EQ(tpsubm_collection_add(a), TPSUBM_DUPLICATE);
  ASSERT_EQ(tpsubm_warning_count(), 1);
  EXPECT_STREQ(tpsubm_warning(0), "collection: duplicate Index 3 rejected");

  EXPECT_EQ(tpsubm_collection_add(b), TPSUBM_DUPLICATE);
  ASSERT_EQ(tpsubm_warning_count(), 2);
  EXPECT_STREQ(tpsubm_warning(1), "collection: duplicate Index 3 rejected");
  EXPECT_EQ(tpsubm_collection_count(), 1);
}

// Two tracks with the same text and parent derive the same index, so the
// second is refused, and the warning names the derived index.
TEST_F(Collection, DerivedIndexesAreComparedToo) {
  const int32_t a = finalized_track(0, "same text");
  const int32_t b = finalized_track(0, "same text");
  ASSERT_NE(a, b);
  const int32_t index = tpsubm_index(a);
  ASSERT_EQ(tpsubm_index(b), index);
  int32_t derived = -1;
  ASSERT_EQ(tpsubm_stable_hash_utf8(tpsubm_file_hash(a), &derived), TPSUBM_OK);
  ASSERT_EQ(index, derived);

  ASSERT_EQ(tpsubm_collection_add(a), TPSUBM_OK);
  EXPECT_EQ(tpsubm_collection_add(b), TPSUBM_DUPLICATE);
  ASSERT_EQ(tpsubm_warning_count(), 1);
  EXPECT_EQ(std::string(tpsubm_warning(0)),
            "collection: duplicate Index " + std::to_string(index) + " rejected");
}

// Every handle fits in the collection; since each one is then a member, no
// further add can reach the "collection full" refusal.
TEST_F(Collection, HoldsAllSixtyFourTracksAndNeverReportsFull) {
  for (int32_t i = 0; i < TPSUBM_MAX_HANDLES; ++i) {
    const int32_t id = finalized_track(100 + i);
    ASSERT_EQ(id, i);
    ASSERT_EQ(tpsubm_collection_add(id), TPSUBM_OK) << "id " << id;
  }
  EXPECT_EQ(tpsubm_collection_count(), 64);
  EXPECT_EQ(tpsubm_create("parent", 1, 0, 0, 0, nullptr), -TPSUBM_NO_MEMORY);

  for (int32_t id = 0; id < TPSUBM_MAX_HANDLES; ++id) {
    EXPECT_EQ(tpsubm_collection_add(id), TPSUBM_DUPLICATE) << "id " << id;
    EXPECT_STREQ(tpsubm_last_error(), "duplicate");
  }
  EXPECT_EQ(tpsubm_collection_add(64), TPSUBM_NO_SUCH_ID);
  EXPECT_EQ(tpsubm_collection_count(), 64);
  for (int32_t i = 0; i < 64; ++i) EXPECT_EQ(tpsubm_collection_at(i), i);

  // The warning list is full now; a further duplicate is still refused and
  // its warning is dropped.
  EXPECT_EQ(tpsubm_warning_count(), TPSUBM_MAX_WARNINGS);
  EXPECT_EQ(tpsubm_collection_add(0), TPSUBM_DUPLICATE);
  EXPECT_EQ(tpsubm_warning_count(), TPSUBM_MAX_WARNINGS);
}

TEST_F(Collection, RemoveKeepsTheOrderOfTheOthers) {
  for (int32_t i = 0; i < 10; ++i) ASSERT_EQ(finalized_track(i + 1), i);
  for (int32_t id : {5, 2, 9, 7}) ASSERT_EQ(tpsubm_collection_add(id), TPSUBM_OK);

  EXPECT_EQ(tpsubm_collection_remove(2), TPSUBM_OK);
  EXPECT_EQ(members(), (std::vector<int32_t>{5, 9, 7}));
  EXPECT_EQ(tpsubm_collection_at(1), 9);
  EXPECT_EQ(tpsubm_collection_at(3), -1);

  EXPECT_EQ(tpsubm_collection_remove(5), TPSUBM_OK);
  EXPECT_EQ(members(), (std::vector<int32_t>{9, 7}));
  EXPECT_EQ(tpsubm_collection_remove(7), TPSUBM_OK);
  EXPECT_EQ(members(), std::vector<int32_t>{9});
  // A removed track can be added again, at the end.
  EXPECT_EQ(tpsubm_collection_add(2), TPSUBM_OK);
  EXPECT_EQ(members(), (std::vector<int32_t>{9, 2}));
}

TEST_F(Collection, RemoveOfNonMemberChangesNothingAndKeepsTheMessage) {
  EXPECT_EQ(tpsubm_collection_remove(0), TPSUBM_NO_SUCH_ID);  // empty collection

  const int32_t a = finalized_track(1);
  const int32_t b = finalized_track(2);
  const int32_t outsider = finalized_track(3);
  ASSERT_EQ(tpsubm_collection_add(a), TPSUBM_OK);
  ASSERT_EQ(tpsubm_collection_add(b), TPSUBM_OK);
  ASSERT_EQ(tpsubm_set_primary(outsider), TPSUBM_OK);
  ASSERT_EQ(tpsubm_set_secondary(a), TPSUBM_OK);

  for (int32_t id : {outsider, -1, 64, INT32_MIN}) {
    SCOPED_TRACE(id);
    leave_message();
    EXPECT_EQ(tpsubm_collection_remove(id), TPSUBM_NO_SUCH_ID);
    EXPECT_STREQ(tpsubm_last_error(), "parent_file_hash required");
    EXPECT_EQ(members(), (std::vector<int32_t>{a, b}));
    EXPECT_EQ(tpsubm_primary(), outsider);
    EXPECT_EQ(tpsubm_secondary(), a);
  }

  // A successful removal leaves the message untouched as well.
  leave_message();
  EXPECT_EQ(tpsubm_collection_remove(b), TPSUBM_OK);
  EXPECT_STREQ(tpsubm_last_error(), "parent_file_hash required");
}

TEST_F(Collection, RemoveResetsOnlyTheSelectionsOfTheRemovedTrack) {
  const int32_t a = finalized_track(1);
  const int32_t b = finalized_track(2);
  ASSERT_EQ(tpsubm_collection_add(a), TPSUBM_OK);
  ASSERT_EQ(tpsubm_collection_add(b), TPSUBM_OK);

  ASSERT_EQ(tpsubm_set_primary(b), TPSUBM_OK);
  ASSERT_EQ(tpsubm_set_secondary(b), TPSUBM_OK);
  EXPECT_EQ(tpsubm_collection_remove(b), TPSUBM_OK);
  EXPECT_EQ(tpsubm_primary(), -1);
  EXPECT_EQ(tpsubm_secondary(), -1);

  ASSERT_EQ(tpsubm_set_primary(b), TPSUBM_OK);  // b is no member now
  ASSERT_EQ(tpsubm_set_secondary(a), TPSUBM_OK);
  EXPECT_EQ(tpsubm_collection_remove(a), TPSUBM_OK);
  EXPECT_EQ(tpsubm_primary(), b);
  EXPECT_EQ(tpsubm_secondary(), -1);
}

TEST_F(Collection, DestroyTakesTheTrackOutOfCollectionAndSelections) {
  const int32_t a = finalized_track(1);
  const int32_t b = finalized_track(2);
  const int32_t c = finalized_track(3);
  const int32_t d = finalized_track(5);
  const int32_t outsider = finalized_track(4);
  for (int32_t id : {a, b, c, d}) ASSERT_EQ(tpsubm_collection_add(id), TPSUBM_OK);
  ASSERT_EQ(tpsubm_set_primary(b), TPSUBM_OK);
  ASSERT_EQ(tpsubm_set_secondary(b), TPSUBM_OK);

  ASSERT_EQ(tpsubm_destroy(b), TPSUBM_OK);
  EXPECT_EQ(members(), (std::vector<int32_t>{a, c, d}));
  EXPECT_EQ(tpsubm_primary(), -1);
  EXPECT_EQ(tpsubm_secondary(), -1);

  // A selected track that is no member is reset as well.
  ASSERT_EQ(tpsubm_set_primary(a), TPSUBM_OK);
  ASSERT_EQ(tpsubm_set_secondary(outsider), TPSUBM_OK);
  ASSERT_EQ(tpsubm_destroy(outsider), TPSUBM_OK);
  EXPECT_EQ(tpsubm_primary(), a);
  EXPECT_EQ(tpsubm_secondary(), -1);
  EXPECT_EQ(members(), (std::vector<int32_t>{a, c, d}));

  // The freed id goes to a new track, which is neither member nor selected.
  const int32_t reused = finalized_track(2);
  EXPECT_EQ(reused, b);
  EXPECT_EQ(members(), (std::vector<int32_t>{a, c, d}));
  EXPECT_EQ(tpsubm_collection_add(reused), TPSUBM_OK);
  EXPECT_EQ(members(), (std::vector<int32_t>{a, c, d, reused}));
}

TEST_F(Collection, ClearEmptiesCollectionAndSelections) {
  const int32_t a = finalized_track(1);
  ASSERT_EQ(tpsubm_collection_add(a), TPSUBM_OK);
  ASSERT_EQ(tpsubm_set_primary(a), TPSUBM_OK);
  ASSERT_EQ(tpsubm_set_secondary(-5), TPSUBM_OK);

  tpsubm_clear();
  EXPECT_EQ(tpsubm_collection_count(), 0);
  EXPECT_EQ(tpsubm_collection_at(0), -1);
  EXPECT_EQ(tpsubm_primary(), -1);
  EXPECT_EQ(tpsubm_secondary(), -1);
}

TEST_F(Collection, SelectionsStoreNegativeValuesAndValidIdsOnly) {
  const int32_t open = tpsubm_create("parent", 1, 0, 0, 0, nullptr);
  const int32_t outsider = finalized_track(2);
  const int32_t member = finalized_track(3);
  const int32_t gone = finalized_track(4);
  ASSERT_EQ(tpsubm_collection_add(member), TPSUBM_OK);
  ASSERT_EQ(tpsubm_destroy(gone), TPSUBM_OK);

  struct Selection {
    const char *name;
    int32_t (*set)(int32_t);
    int32_t (*get)(void);
  } const selections[] = {
      {"primary", tpsubm_set_primary, tpsubm_primary},
      {"secondary", tpsubm_set_secondary, tpsubm_secondary},
  };
  struct Case {
    int32_t value;
    int32_t result;
  } const cases[] = {
      {-1, TPSUBM_OK},           {-7, TPSUBM_OK},         {INT32_MIN, TPSUBM_OK},
      {open, TPSUBM_OK},         {outsider, TPSUBM_OK},   {member, TPSUBM_OK},
      {gone, TPSUBM_NO_SUCH_ID}, {64, TPSUBM_NO_SUCH_ID}, {INT32_MAX, TPSUBM_NO_SUCH_ID},
  };
  for (const Selection &s : selections) {
    for (const Case &c : cases) {
      SCOPED_TRACE(std::string(s.name) + " " + std::to_string(c.value));
      ASSERT_EQ(s.set(member), TPSUBM_OK);
      leave_message();
      EXPECT_EQ(s.set(c.value), c.result);
      EXPECT_EQ(s.get(), c.result == TPSUBM_OK ? c.value : member);
      EXPECT_STREQ(tpsubm_last_error(), "parent_file_hash required");
    }
  }
  // Each selection is its own.
  ASSERT_EQ(tpsubm_set_primary(open), TPSUBM_OK);
  ASSERT_EQ(tpsubm_set_secondary(-3), TPSUBM_OK);
  EXPECT_EQ(tpsubm_primary(), open);
  EXPECT_EQ(tpsubm_secondary(), -3);
  EXPECT_EQ(members(), std::vector<int32_t>{member});
}

TEST_F(Collection, CloseTracksResetsSelectionsAndKeepsMembers) {
  for (int32_t i = 0; i < 3; ++i) ASSERT_EQ(tpsubm_collection_add(finalized_track(i + 1)), 0);
  ASSERT_EQ(tpsubm_set_primary(0), TPSUBM_OK);
  ASSERT_EQ(tpsubm_set_secondary(2), TPSUBM_OK);

  tpsubm_close_tracks();
  EXPECT_EQ(tpsubm_primary(), -1);
  EXPECT_EQ(tpsubm_secondary(), -1);
  EXPECT_EQ(members(), (std::vector<int32_t>{0, 1, 2}));
}

TEST_F(Collection, PositionsOutsideTheMembersGiveMinusOne) {
  ASSERT_EQ(tpsubm_collection_add(finalized_track(1)), TPSUBM_OK);
  ASSERT_EQ(tpsubm_collection_add(finalized_track(2)), TPSUBM_OK);
  for (int32_t position : {-1, INT32_MIN, 2, 3, 64, 128, INT32_MAX}) {
    EXPECT_EQ(tpsubm_collection_at(position), -1) << "position " << position;
  }
  EXPECT_EQ(tpsubm_collection_at(tpsubm_collection_count()), -1);
  EXPECT_EQ(tpsubm_collection_at(1), 1);
}

}  // namespace
