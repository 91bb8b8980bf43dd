// Tracks, texts and time sequences shared by the benchmarks, and the naming
// that pairs each operation with its limit.
#ifndef TPSUBM_BENCH_FIXTURES_H
#define TPSUBM_BENCH_FIXTURES_H

#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

// The layouts of cues a player meets.
enum class shape {
  sequential,  // one cue after another with a gap: one or none on screen
  dialogue,    // overlapping lines, two or three on screen
  long_cue,    // sequential, plus one cue (added first) that spans the track
};

const char *shape_name(shape s);

// Start and end of one cue, as the host added it.
struct timed {
  int32_t start;
  int32_t end;
};

// A finalized track held by the library, and the bare data of its limits.
struct track_fixture {
  int32_t id = -1;
  shape kind = shape::sequential;
  int32_t n = 0;
  int32_t end_ms = 0;                  // last end time: times are drawn below it
  std::vector<timed> cues;             // by position
  std::vector<int32_t> sorted_starts;  // every start, ascending
};

// A finalized track of a shape and size, one line per cue, built on first
// use; shuffled adds the cues in random start order (a file whose events are
// not sorted). Only one track is held at a time (a million cues take a few
// hundred MB), so the benchmarks of one track are registered side by side.
const track_fixture &held_track(shape s, int32_t n, bool shuffled = false);
// Releases the held track.
void release_held_track();
// The text of cue i's line: ASCII words of varying length.
std::string cue_text(int32_t i);

// Playback times: forward by one 25 fps frame with wrap-around, or drawn at
// random from a fixed table (like seeking). Both cost the same to produce.
class time_walk {
 public:
  time_walk(bool random, int32_t end_ms);
  int32_t next() {
    if (random_) return table_[index_++ & kMask];
    now_ += kFrameMs;
    if (now_ >= end_ms_) now_ -= end_ms_;
    return now_;
  }

 private:
  static constexpr uint32_t kMask = (1u << 16) - 1;
  static constexpr int32_t kFrameMs = 40;
  bool random_;
  int32_t end_ms_;
  int32_t now_ = 0;
  uint32_t index_ = 0;
  std::vector<int32_t> table_;
};

// The stable hash over pre-decoded UTF-16 units, the bare loop the library's
// hash is measured against (same lanes, same combination).
struct bare_hash {
  uint32_t h1 = 5381;
  uint32_t h2 = 5381;
  bool pending = false;
  uint16_t pending_unit = 0;
  void feed(const uint16_t *units, size_t n);
  int32_t finish();
};

// Strict-enough UTF-8 to UTF-16 for the benchmark's own well-formed texts.
std::vector<uint16_t> decode_utf16(const std::string &text);

// A benchmark name is "<operation>/<case>"; an operation names the limit it
// is compared with through its label, "limit=<limit benchmark name>".
void set_limit(benchmark::State &state, const std::string &limit_name);
// Powers of ten as "1e6", anything else in decimal.
std::string size_name(int64_t n);

// Registration of each family, called in this order by main.
void register_lookup();
void register_text();
void register_track();

#endif  // TPSUBM_BENCH_FIXTURES_H
