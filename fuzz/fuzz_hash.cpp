// Fuzzes the stable hash. The input is a few split points followed by the
// text (up to its first NUL byte). Checks that the export accepts exactly
// the well-formed UTF-8 texts, that the one-shot hash equals an incremental
// feed of the same text cut at the chosen points (a piece that splits a
// sequence is refused and carried into the next piece), that every refused
// feed leaves the state exactly as it was, and that the decoder's storing
// mode fails for lack of room exactly when the units do not fit.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "tpsubm.h"
#include "tpsubm_internal.h"

namespace {

bool same_state(const tpsubm_hash_state &a, const tpsubm_hash_state &b) {
  return a.h1 == b.h1 && a.h2 == b.h2 && a.has_pending == b.has_pending &&
         a.pending_unit == b.pending_unit;
}

// Feeds text and checks the refusal contract; returns the feed's result.
int32_t feed_checked(tpsubm_hash_state *st, const std::string &text) {
  tpsubm_hash_state before = *st;
  int32_t rc = tpsubm_hash_feed_utf8(st, text.c_str());
  FUZZ_CHECK(rc == 0 || rc == -1);  // -3 needs an allocation failure
  FUZZ_CHECK((rc == 0) == fuzz::utf8_valid(text.c_str()));
  if (rc != 0) FUZZ_CHECK(same_state(before, *st));
  return rc;
}

void check_decoder_room(const std::string &text, uintptr_t capacity) {
  uintptr_t count = 0;
  if (utf8_to_utf16(text.c_str(), nullptr, 0, &count) != 0) return;
  std::vector<uint16_t> full(count + 1);
  uintptr_t stored = 0;
  FUZZ_CHECK(utf8_to_utf16(text.c_str(), full.data(), count, &stored) == 0);
  FUZZ_CHECK(stored == count);
  std::vector<uint16_t> small(capacity + 1, 0xABCD);
  uintptr_t small_count = 7777;
  int32_t rc = utf8_to_utf16(text.c_str(), small.data(), capacity, &small_count);
  FUZZ_CHECK((rc == -3) == (count > capacity));
  if (rc == 0) {
    FUZZ_CHECK(small_count == count);
    FUZZ_CHECK(
        std::equal(full.begin(), full.begin() + static_cast<ptrdiff_t>(count), small.begin()));
  } else {
    FUZZ_CHECK(small_count == 7777);        // the count is written only on success
    FUZZ_CHECK(small[capacity] == 0xABCD);  // nothing past the room
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzz::Reader in(data, size);
  size_t splits = in.u8() % 9;
  std::vector<size_t> cuts;
  for (size_t i = 0; i < splits; ++i) cuts.push_back(in.u16());
  uintptr_t capacity = in.u8();
  std::string raw = in.rest();
  std::string text(raw.c_str());  // up to the first NUL
  const bool valid = fuzz::utf8_valid(text.c_str());

  int32_t one_shot = -12345;
  int32_t rc = tpsubm_stable_hash_utf8(text.c_str(), &one_shot);
  FUZZ_CHECK(rc == TPSUBM_OK || rc == TPSUBM_INVALID);
  FUZZ_CHECK((rc == TPSUBM_OK) == valid);
  if (rc == TPSUBM_OK) {
    FUZZ_CHECK(one_shot >= 0);
  } else {
    FUZZ_CHECK(one_shot == -12345);
  }
  int32_t impl = -1;
  FUZZ_CHECK((tpsubm_stable_hash_utf8_impl(text.c_str(), &impl) == 0) == valid);
  if (valid) FUZZ_CHECK(impl == one_shot);
  FUZZ_CHECK(tpsubm_stable_hash_utf8(text.c_str(), nullptr) == TPSUBM_INVALID);
  if (text.empty()) {
    int32_t null_hash = -1;
    FUZZ_CHECK(tpsubm_stable_hash_utf8(nullptr, &null_hash) == TPSUBM_OK);
    FUZZ_CHECK(null_hash == one_shot);
  }

  // The incremental feed over the pieces between the cuts.
  for (size_t &c : cuts) c %= text.size() + 1;
  std::sort(cuts.begin(), cuts.end());
  cuts.push_back(text.size());
  tpsubm_hash_state st;
  tpsubm_hash_state_init(&st);
  std::string carry;
  size_t from = 0;
  for (size_t cut : cuts) {
    carry += text.substr(from, cut - from);
    from = cut;
    if (feed_checked(&st, carry) == 0) carry.clear();
  }
  if (valid) {
    FUZZ_CHECK(carry.empty());
    FUZZ_CHECK(tpsubm_hash_state_finish(&st) == one_shot);
  } else {
    FUZZ_CHECK(!carry.empty());
  }
  FUZZ_CHECK(tpsubm_hash_feed_utf8(&st, nullptr) == -1);
  FUZZ_CHECK(tpsubm_hash_feed_utf8(nullptr, "") == -1);

  check_decoder_room(text, capacity);
  return 0;
}
