// CLD2 at its real cost. Every detection call allocates about 175 KB of
// scratch buffers (40 KB, 60 KB, 16 KB and 55 KB for a subtitle line) and
// frees them on return. Each is below glibc's mmap threshold, so they come
// from the top of the thread's heap; freed, they leave a free top larger
// than glibc's default trim threshold (128 KB), and glibc gives the memory
// back to the system. The next call grows the heap again and faults its
// fresh pages in. Measured here (bench/README.md): 13 to 20 us per short
// line, where CLD2's own work is 2 to 3 us.
//
// glibc stops this by itself once the process frees a block it had mapped
// with mmap (above 128 KB): it then raises its mmap and trim thresholds for
// the whole process, unless the program fixed them. Reading a file usually
// does that; a program that detects before it frees such a block, or one
// that fixed the thresholds, pays the cycle on every call.
//
// Two ways to be independent of that:
// - A program of its own raises the trim threshold (mallopt), so the top
//   stays mapped between calls. That is a setting of the whole process and
//   belongs in the program's main.
// - Code inside another program (a player plugin) must leave the player's
//   allocator settings alone. It keeps a free block in the middle of its
//   thread's heap instead: a few buffers are allocated one after the other
//   from the top, the last of them stays allocated (the pin), and the
//   others are freed. They merge into one free block that cannot merge with
//   the top, since the pin lies between, so glibc never trims it. CLD2's
//   buffers are carved out of that block and merge back into it when freed;
//   the top of the heap does not move and the pages, touched once, stay
//   mapped. The cost is the block and the pin, 448 KB per detecting thread,
//   held for the life of the thread. Another allocation of the same thread
//   may take part of the block; CLD2's buffers then come from the top again
//   as without it, never worse.
#include <cstdlib>

#include "host/language.h"

namespace host {
namespace {

// Room for CLD2's buffers of the longest texts (two sets for a long text,
// about 350 KB) with margin, in pieces below glibc's lowest mmap threshold
// (128 KB) so that they come from the heap and not from mmap.
// The pin is a piece too: a request that large is served from the top
// (or from a free block as large, rare in a heap), where a small one would
// come from glibc's caches of small chunks anywhere in the heap.
constexpr size_t kPiece = size_t{64} * 1024;
constexpr int kPieces = 7;

// The pin of the calling thread, released with the thread.
struct Pin {
  void *block = nullptr;
  ~Pin() { std::free(block); }
};
thread_local Pin pin;

}  // namespace

void keep_detection_heap_warm() {
  if (pin.block != nullptr) return;
  void *pieces[kPieces] = {};
  for (void *&piece : pieces) piece = std::malloc(kPiece);
  pin.block = pieces[kPieces - 1];
  for (int i = 0; i + 1 < kPieces; i++) std::free(pieces[i]);
}

}  // namespace host
