/* A countdown over every heap allocation of the process, for the
 * out-of-memory test. The test program defines malloc, calloc, realloc,
 * free and the aligned allocators itself, so that the library and yyjson,
 * which take their memory from the general heap, allocate through them;
 * each forwards to the next definition (the C library's, or a leak
 * checker's when one is loaded). */
#ifndef TPSUBM_TEST_ALLOC_FAIL_H
#define TPSUBM_TEST_ALLOC_FAIL_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Arms the countdown: the nth allocation from now fails (n >= 1); with
 * persistent set, so does every later one until alloc_fail_disarm. */
void alloc_fail_arm(long n, int persistent);
/* Stops failing. Returns the number of allocations that failed. */
long alloc_fail_disarm(void);
/* Allocations attempted since the last arm. */
long alloc_fail_attempts(void);
/* Blocks currently allocated through these functions and not yet freed. */
long alloc_live_blocks(void);

#ifdef __cplusplus
}
#endif

#endif
