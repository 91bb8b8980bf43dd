/* The public header on its own, as a C11 translation unit. */
#include "tpsubm.h"

int tpsubm_header_compiles_as_c11(void);
int tpsubm_header_compiles_as_c11(void) {
  return TPSUBM_VERSION_HEX > 0 ? TPSUBM_OK : 1;
}
