// Replaces the process's allocator entry points with thin counters over the
// C library's own (glibc exports them as __libc_*). Written in C so that the
// definitions match the C declarations exactly.
#include "alloc_count.h"

#include <malloc.h>
#include <stdlib.h>

static uint64_t g_calls;
static int g_tracking;
static int64_t g_bytes;
static int64_t g_blocks;

#ifndef TPSUBM_BENCH_NO_ALLOC_COUNT

extern void *__libc_malloc(size_t size);
extern void *__libc_calloc(size_t count, size_t size);
extern void *__libc_realloc(void *ptr, size_t size);
extern void __libc_free(void *ptr);

// glibc keeps an 8-byte size word in front of every block it hands out.
enum { kHeader = 8 };

static void held(void *ptr, int sign) {
  if (!g_tracking || ptr == NULL) return;
  g_bytes += sign * (int64_t)(malloc_usable_size(ptr) + kHeader);
  g_blocks += sign;
}

void *malloc(size_t size) {
  ++g_calls;
  void *p = __libc_malloc(size);
  held(p, 1);
  return p;
}

void *calloc(size_t count, size_t size) {
  ++g_calls;
  void *p = __libc_calloc(count, size);
  held(p, 1);
  return p;
}

void *realloc(void *ptr, size_t size) {
  ++g_calls;
  held(ptr, -1);
  void *p = __libc_realloc(ptr, size);
  if (p == NULL && size != 0) {
    held(ptr, 1);  // the old block is still held
  } else {
    held(p, 1);
  }
  return p;
}

void free(void *ptr) {
  held(ptr, -1);
  __libc_free(ptr);
}

int bench_heap_counting(void) {
  return 1;
}

#else

int bench_heap_counting(void) {
  return 0;
}

#endif

uint64_t bench_alloc_calls(void) {
  return g_calls;
}

void bench_heap_track(int on) {
  g_tracking = on;
  if (on) {
    g_bytes = 0;
    g_blocks = 0;
  }
}

int64_t bench_heap_bytes(void) {
  return g_bytes;
}
int64_t bench_heap_blocks(void) {
  return g_blocks;
}
