// Reading the subtitle tracks mpv has opened, on worker threads: external
// files whole (bounded in size), embedded text streams from the media file
// (subtitle packets only, bounded in bytes and time). Makes no tpsubm_ call.
#ifndef TPSUBM_MPV_READING_H
#define TPSUBM_MPV_READING_H

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "host/demux.h"

namespace tpsubm_mpv {

struct Limits {
  uint64_t max_file_bytes = 64u << 20;    // an external subtitle file
  uint64_t max_packet_bytes = 32u << 20;  // subtitle packets of a media file
  std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max();
  const std::atomic<bool> *cancel = nullptr;  // set: stop as soon as possible
};

// What was read of one track.
struct TrackText {
  bool ok = false;
  std::string error;  // why nothing was read, worded for a log line
  bool text = false;  // false: bitmap, listed without cues
  std::string codec;
  std::string encoding;  // the name to record with tpsubm_set_encoding, or ""
  std::vector<host::Cue> cues;
  std::vector<std::string> warnings;  // read, but not all of it
};

// An external subtitle file: its first subtitle stream.
TrackText read_external(const std::string &path, const Limits &limits);

// The subtitle streams of a media file by FFmpeg index, in the order asked.
std::vector<TrackText> read_embedded(const std::string &path, const std::vector<int64_t> &indices,
                                     const Limits &limits);

}  // namespace tpsubm_mpv

#endif
