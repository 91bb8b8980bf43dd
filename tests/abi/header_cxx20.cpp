// The public header on its own, as a C++20 translation unit.
#include "tpsubm.h"

static_assert(TPSUBM_MAX_HANDLES == 64);

int tpsubm_header_compiles_as_cxx20();
int tpsubm_header_compiles_as_cxx20() {
  return TPSUBM_OK;
}
