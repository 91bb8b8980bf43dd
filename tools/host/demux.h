// Demuxing and decoding with FFmpeg: every subtitle stream of one file, with
// the cues of the text streams as FFmpeg's decoders render them (ASS text).
#ifndef TPSUBM_HOST_DEMUX_H
#define TPSUBM_HOST_DEMUX_H

#include <cstdint>
#include <string>
#include <vector>

namespace host {

struct Cue {
  int32_t start_ms = 0;
  int32_t end_ms = 0;
  std::vector<std::string> lines;  // the Text field of each ASS event, whole
};

struct Stream {
  int index = 0;      // the stream's index in the file
  std::string codec;  // FFmpeg's codec name: "subrip", "ass", "hdmv_pgs_subtitle", ...
  bool text = false;  // false: a bitmap stream, listed without cues
  std::vector<Cue> cues;
  // Packets FFmpeg's decoder refused (some decoders refuse a blank cue,
  // as a SAMI "&nbsp;" that clears the screen); a player skips them.
  int skipped = 0;
  std::string first_skipped;  // "at 00:00:04.000, Operation not permitted"
};

struct Demuxed {
  std::string format;  // FFmpeg's name of the file format
  int stream_count = 0;
  // What FFmpeg warned about while reading ("File ended prematurely"), in
  // order, each message once.
  std::vector<std::string> warnings;
  std::vector<Stream> streams;  // the subtitle streams, in file order
};

// Opens the bytes through an in-memory I/O context; the format is found from
// the content alone. Returns false with `error` set when FFmpeg cannot read
// the bytes or finds no subtitle stream. A packet the decoder refuses is
// skipped and counted in its stream.
bool demux(const std::string &bytes, Demuxed &out, std::string &error);

// Keeps FFmpeg from writing its own messages to stderr; demux() collects
// its warnings and errors instead.
void quiet_ffmpeg();

// "libavformat 59.27.100, libavcodec 59.37.100, libavutil 57.28.100", as loaded.
std::string ffmpeg_versions();

}  // namespace host

#endif
