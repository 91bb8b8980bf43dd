// Downloads: the library does no network work; it forwards each request to
// the backend the host registered, with three values only the host reads.
#include "state.h"

tpsubm_download_fn g_download;
void *g_download_ctx;

extern "C" {

TPSUBM_API void tpsubm_set_download_fn(tpsubm_download_fn fn, void *ctx) {
  g_download = fn;
  g_download_ctx = ctx;
}

TPSUBM_API int32_t tpsubm_download(void *first, void *second, void *third) {
  error_clear();
  // Both read before the call, so a backend that re-registers itself takes
  // effect at the next request.
  tpsubm_download_fn fn = g_download;
  void *ctx = g_download_ctx;
  if (fn == nullptr) {
    error_set("no download backend");
    return TPSUBM_INVALID;
  }
  if (second == nullptr || third == nullptr) return TPSUBM_INVALID;
  return fn(ctx, first, second, third);
}

}  // extern "C"
