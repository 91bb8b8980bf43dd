// Heap accounting for the benchmark program. alloc_count.c replaces malloc,
// calloc, realloc and free for the whole process (the library's calls land
// there too, through the dynamic linker) and forwards them to the C library.
#ifndef TPSUBM_BENCH_ALLOC_COUNT_H
#define TPSUBM_BENCH_ALLOC_COUNT_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// Number of malloc, calloc and realloc calls so far; always counted.
uint64_t bench_alloc_calls(void);

// While tracking is on, live bytes are counted per block: its usable size
// plus the allocator's 8-byte header. Only blocks allocated and freed while
// tracking is on are seen correctly, so tracking is switched on around a
// piece of work whose own allocations are the ones of interest.
void bench_heap_track(int on);
// Heap bytes held by blocks counted since tracking was last switched on.
int64_t bench_heap_bytes(void);
// Number of those blocks still held.
int64_t bench_heap_blocks(void);
// Whether the allocator was replaced in this build (not under sanitizers,
// whose runtimes own malloc).
int bench_heap_counting(void);

#ifdef __cplusplus
}
#endif

#endif  // TPSUBM_BENCH_ALLOC_COUNT_H
