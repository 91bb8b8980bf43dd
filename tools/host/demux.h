// Demuxing and decoding subtitle streams with FFmpeg, within the reader's
// budget. Internal to the reader; thread-safe.
#ifndef TPSUBM_HOST_DEMUX_H
#define TPSUBM_HOST_DEMUX_H

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include "host/reader.h"

namespace host {

struct DemuxRequest {
  // Exactly one is used: a URL FFmpeg opens ("file:/path/movie.mkv"), or
  // bytes in memory when `url` is empty.
  std::string url;
  std::string_view memory;
  // A text subtitle file: its packets all carry an end, so a packet of no
  // duration is a cue of zero length, and a negative one leaves it open.
  bool text_file = false;
  // Only these stream indexes are read; all subtitle streams when null.
  const std::vector<int> *only = nullptr;
  std::chrono::steady_clock::time_point deadline;
};

struct DemuxCounts {
  int packets = 0;  // subtitle packets FFmpeg's demuxer gave, blank ones included
};

// Reads the subtitle streams into `out` (format, streams, warnings, complete,
// ok or error). Only subtitle packets are decoded: every other stream is
// discarded in the demuxer.
void demux(const DemuxRequest &request, const Limits &limits, ReadResult &out, DemuxCounts &counts);

}  // namespace host

#endif
