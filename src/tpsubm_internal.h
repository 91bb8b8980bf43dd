// What the engine reaches of the stable hash and the constant tables. None of
// this is exported; the version script keeps every C++ symbol local.
#ifndef TPSUBM_INTERNAL_H
#define TPSUBM_INTERNAL_H

#include <cstdint>

// Incremental stable hash over UTF-16 units decoded strictly from UTF-8. A
// plain value record kept in the user's own storage; it owns no memory.
struct tpsubm_hash_state {
  uint32_t h1;            // lane of the units at even positions
  uint32_t h2;            // lane of the units at odd positions
  int32_t has_pending;    // 1 while an even unit waits for its odd partner
  uint16_t pending_unit;  // that waiting unit
};

void tpsubm_hash_state_init(tpsubm_hash_state *st);
// 0 fed; -1 state or text null, or text not well-formed UTF-8. A refused
// feed leaves the state exactly as it was.
int32_t tpsubm_hash_feed_utf8(tpsubm_hash_state *st, const char *text);
// Hash of everything fed since init, 0 to 2147483647.
int32_t tpsubm_hash_state_finish(tpsubm_hash_state *st);
// 0 with *out written; -1 text or out null; -2 the feed failed.
int32_t tpsubm_stable_hash_utf8_impl(const char *text, int32_t *out);

// The feed decodes with the fastest of its decoders that the processor can
// run. These name each one, so that the tests can hold them to the same
// values and refusals.
enum class hash_decoder {
  plain,    // one character per step
  runs,     // runs of one kind of sequence, a word at a time
  fastest,  // the vector decoder where the processor has it, else runs
};
// Whether fastest means the vector decoder on this processor.
bool tpsubm_hash_has_simd();
// tpsubm_hash_feed_utf8 with the given decoder.
int32_t tpsubm_hash_feed_utf8_by(tpsubm_hash_state *st, const char *text, hash_decoder decoder);

// Constant tables.
struct lang_entry {
  const char *short_code;
  const char *long_code;
  const char *english_name;
};

// English name for a two- or three-letter code (ASCII case ignored), or null.
const char *tpsubm_data_lang_name(const char *code);
int32_t tpsubm_data_codepage_count();
const char *tpsubm_data_codepage(int32_t index);

#endif  // TPSUBM_INTERNAL_H
