// Encoding names: the fixed list of 140 names a player can offer. Nothing in
// the library looks a name up in it.
#include "state.h"

extern "C" {

TPSUBM_API int32_t tpsubm_codepage_count(void) {
  return tpsubm_data_codepage_count();
}

TPSUBM_API const char *tpsubm_codepage(int32_t i) {
  return tpsubm_data_codepage(i);
}

}  // extern "C"
