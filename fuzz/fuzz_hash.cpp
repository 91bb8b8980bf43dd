// Fuzzes the stable hash. The input is a few split points followed by the
// text (up to its first NUL byte). Checks that the export accepts exactly
// the well-formed UTF-8 texts and gives the reference decoder's hash, that
// every decoder of the feed (plain, runs of one kind, the vector one where
// the processor has it) gives the same result and value at either parity,
// that the one-shot hash equals an incremental feed of the same text cut at
// the chosen points (a piece that splits a sequence is refused and carried
// into the next piece), and that every refused feed leaves the state
// exactly as it was.
#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "../tests/reference_utf8.h"
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
  FUZZ_CHECK(rc == 0 || rc == -1);
  FUZZ_CHECK((rc == 0) == fuzz::utf8_valid(text.c_str()));
  if (rc != 0) FUZZ_CHECK(same_state(before, *st));
  return rc;
}

// Each decoder after a feed that leaves the state at even or odd parity:
// the same result as the plain decoder, and on success the same state.
void check_decoders(const std::string &text, bool odd) {
  const hash_decoder decoders[] = {hash_decoder::plain, hash_decoder::runs, hash_decoder::fastest};
  tpsubm_hash_state first{};
  int32_t first_rc = 0;
  for (hash_decoder d : decoders) {
    tpsubm_hash_state st;
    tpsubm_hash_state_init(&st);
    FUZZ_CHECK(tpsubm_hash_feed_utf8_by(&st, odd ? "a" : "", d) == 0);
    const tpsubm_hash_state before = st;
    int32_t rc = tpsubm_hash_feed_utf8_by(&st, text.c_str(), d);
    FUZZ_CHECK(rc == 0 || rc == -1);
    if (rc != 0) FUZZ_CHECK(same_state(before, st));
    if (d == hash_decoder::plain) {
      first = st;
      first_rc = rc;
    } else {
      FUZZ_CHECK(rc == first_rc);
      FUZZ_CHECK(same_state(st, first));
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzz::Reader in(data, size);
  size_t splits = in.u8() % 9;
  std::vector<size_t> cuts;
  for (size_t i = 0; i < splits; ++i) cuts.push_back(in.u16());
  in.u8();  // once the capacity of a unit buffer; kept so that the corpus reads as before
  std::string raw = in.rest();
  std::string text(raw.c_str());  // up to the first NUL
  const bool valid = fuzz::utf8_valid(text.c_str());

  int32_t one_shot = -12345;
  int32_t rc = tpsubm_stable_hash_utf8(text.c_str(), &one_shot);
  FUZZ_CHECK(rc == TPSUBM_OK || rc == TPSUBM_INVALID);
  FUZZ_CHECK((rc == TPSUBM_OK) == valid);
  std::optional<int32_t> expected = reference::hash_of_text(text);
  FUZZ_CHECK(expected.has_value() == valid);
  FUZZ_CHECK(one_shot == (expected ? *expected : -12345));
  check_decoders(text, false);
  check_decoders(text, true);
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

  return 0;
}
