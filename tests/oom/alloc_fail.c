/* The allocation countdown: definitions of the allocation functions that
 * fail on request and count the blocks alive. The real functions are found
 * with dlsym(RTLD_NEXT); while dlsym itself needs memory, it is served from
 * a small static arena that is never released. No thread safety is needed:
 * the test and the library run on one thread. */
#define _GNU_SOURCE
#include "alloc_fail.h"

#include <dlfcn.h>
#include <errno.h>
#include <stdint.h>
#include <string.h>

typedef void *(*malloc_fn)(size_t);
typedef void *(*calloc_fn)(size_t, size_t);
typedef void *(*realloc_fn)(void *, size_t);
typedef void (*free_fn)(void *);
typedef int (*posix_memalign_fn)(void **, size_t, size_t);
typedef void *(*aligned_alloc_fn)(size_t, size_t);

static malloc_fn real_malloc;
static calloc_fn real_calloc;
static realloc_fn real_realloc;
static free_fn real_free;
static posix_memalign_fn real_posix_memalign;
static aligned_alloc_fn real_aligned_alloc;
static aligned_alloc_fn real_memalign;

static int resolving;
static _Alignas(16) unsigned char arena[16384];
static size_t arena_used;

static long countdown; /* 0: disarmed */
static int persistent;
static int tripped; /* the countdown has reached its allocation */
static long failures;
static long attempts;
static long live;

static void resolve(void) {
  if (real_free != NULL || resolving) return;
  resolving = 1;
  real_malloc = (malloc_fn)dlsym(RTLD_NEXT, "malloc");
  real_calloc = (calloc_fn)dlsym(RTLD_NEXT, "calloc");
  real_realloc = (realloc_fn)dlsym(RTLD_NEXT, "realloc");
  real_posix_memalign = (posix_memalign_fn)dlsym(RTLD_NEXT, "posix_memalign");
  real_aligned_alloc = (aligned_alloc_fn)dlsym(RTLD_NEXT, "aligned_alloc");
  real_memalign = (aligned_alloc_fn)dlsym(RTLD_NEXT, "memalign");
  real_free = (free_fn)dlsym(RTLD_NEXT, "free");
  resolving = 0;
}

static void *arena_take(size_t size) {
  size_t at = (arena_used + 15) & ~(size_t)15;
  if (size > sizeof arena - at) return NULL;
  arena_used = at + size;
  return arena + at;
}

static int in_arena(const void *p) {
  return (const unsigned char *)p >= arena && (const unsigned char *)p < arena + sizeof arena;
}

/* Whether the allocation being made now is to fail. */
static int should_fail(void) {
  if (countdown == 0) return 0;
  ++attempts;
  if (tripped) {
    if (!persistent) return 0;
    ++failures;
    return 1;
  }
  if (attempts == countdown) {
    tripped = 1;
    ++failures;
    return 1;
  }
  return 0;
}

void alloc_fail_arm(long n, int keep_failing) {
  countdown = n;
  persistent = keep_failing;
  tripped = 0;
  failures = 0;
  attempts = 0;
}

long alloc_fail_disarm(void) {
  countdown = 0;
  return failures;
}

long alloc_fail_attempts(void) {
  return attempts;
}

long alloc_live_blocks(void) {
  return live;
}

void *malloc(size_t size) {
  resolve();
  if (real_malloc == NULL) return arena_take(size);
  if (should_fail()) {
    errno = ENOMEM;
    return NULL;
  }
  void *p = real_malloc(size);
  if (p != NULL) ++live;
  return p;
}

void *calloc(size_t n, size_t size) {
  resolve();
  if (real_calloc == NULL) {
    if (size != 0 && n > SIZE_MAX / size) return NULL;
    void *p = arena_take(n * size);
    if (p != NULL) memset(p, 0, n * size);
    return p;
  }
  if (should_fail()) {
    errno = ENOMEM;
    return NULL;
  }
  void *p = real_calloc(n, size);
  if (p != NULL) ++live;
  return p;
}

void *realloc(void *old, size_t size) {
  resolve();
  if (old != NULL && in_arena(old)) return NULL; /* never happens in practice */
  if (real_realloc == NULL) return arena_take(size);
  if (should_fail()) {
    errno = ENOMEM;
    return NULL;
  }
  void *p = real_realloc(old, size);
  if (old == NULL && p != NULL) ++live;
  if (old != NULL && size == 0 && p == NULL) --live; /* released */
  return p;
}

void free(void *p) {
  if (p == NULL || in_arena(p)) return;
  resolve();
  --live;
  real_free(p);
}

int posix_memalign(void **out, size_t alignment, size_t size) {
  resolve();
  if (should_fail()) return ENOMEM;
  int rc = real_posix_memalign(out, alignment, size);
  if (rc == 0) ++live;
  return rc;
}

void *aligned_alloc(size_t alignment, size_t size) {
  resolve();
  if (should_fail()) {
    errno = ENOMEM;
    return NULL;
  }
  void *p = real_aligned_alloc(alignment, size);
  if (p != NULL) ++live;
  return p;
}

void *memalign(size_t alignment, size_t size) {
  resolve();
  if (should_fail()) {
    errno = ENOMEM;
    return NULL;
  }
  void *p = real_memalign(alignment, size);
  if (p != NULL) ++live;
  return p;
}
