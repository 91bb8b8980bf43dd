// Reading subtitles from files: text subtitle files and the subtitle streams
// of containers (Matroska, MP4, MPEG-TS, ...), with their cues as FFmpeg's
// decoders render them.
//
// Everything here is safe to call from several threads at once: each call
// keeps its state in its own objects, prints nothing, changes no
// process-wide setting (FFmpeg's log callback and level stay as the program
// set them) and makes no tpsubm_* call. What happened is returned as data:
// an error that stopped the read, or warnings about what was read only in
// part. No input makes a call run out of memory or hang: text files are
// refused above a size, containers are read within a byte and time budget,
// and only regular files are opened.
#ifndef TPSUBM_HOST_READER_H
#define TPSUBM_HOST_READER_H

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace host {

struct Limits {
  // A text subtitle file larger than this is refused (it is read whole).
  int64_t max_text_bytes = int64_t{32} << 20;
  // And one with more lines than this (a film has about 10,000): FFmpeg
  // holds every cue of a text file as a packet of its own while it is read.
  int64_t max_text_lines = 300000;
  // Of a container, at most this many bytes of the file are read. The
  // subtitle packets of a movie are spread over all of it, so what lies
  // beyond is named in a warning and left out.
  int64_t max_container_bytes = INT64_MAX;
  // At most this many bytes of subtitle packets are kept, across all
  // streams of one file (each packet counts 64 bytes more than its size).
  int64_t max_packet_bytes = int64_t{64} << 20;
  // Wall time for one read, from opening the file to the last packet.
  // FFmpeg's own reads are interrupted when it runs out.
  int64_t max_milliseconds = 60000;
  // Subtitle streams read from one container; the library holds 64 tracks.
  int max_streams = 64;
  // When set and it becomes true, the read stops as soon as it can and
  // fails with the error "cancelled".
  const std::atomic<bool> *cancel = nullptr;
};

struct Cue {
  int32_t start_ms = 0;
  // Exclusive. A cue of zero length (end == start) is shown for no time;
  // one whose end the file leaves open ends where the next one starts.
  int32_t end_ms = 0;
  std::vector<std::string> lines;  // the Text field of each ASS event, whole
};

struct Stream {
  int index = 0;         // the stream's index in the file (mpv's ff-index)
  std::string codec;     // FFmpeg's codec name: "subrip", "ass", "hdmv_pgs_subtitle", ...
  bool text = false;     // false: a bitmap stream, listed without cues
  std::string language;  // the container's language tag ("eng"), "" when none
  std::string title;     // the container's title tag, "" when none
  std::vector<Cue> cues;
};

struct ReadResult {
  bool ok = false;
  std::string error;       // why nothing was read, worded for a person; "" when ok
  std::string format;      // FFmpeg's name of the file format ("srt", "matroska,webm")
  bool container = false;  // false: a text subtitle file, one stream
  // The text file's encoding as detected ("UTF-8", "UTF-16LE",
  // "WINDOWS-1252"); "" for a container, whose text streams are UTF-8.
  std::string encoding;
  std::vector<Stream> streams;  // the subtitle streams read, in file order
  // What was read only in part or repaired, one sentence each, without the
  // file name: invalid bytes replaced, cues FFmpeg dropped or refused,
  // streams beyond max_streams, the part of a container the budget left
  // unread.
  std::vector<std::string> warnings;
  // False when the budget stopped a container before its end.
  bool complete = true;
};

// Reads every subtitle stream of the file at `path`: a text subtitle file
// (its encoding detected and converted to UTF-8) or a container opened by
// FFmpeg from the file. The format is found from the content.
ReadResult read_subtitles(const std::string &path, const Limits &limits = {});

// Reads only the subtitle streams with the given indexes (FFmpeg's stream
// indexes, mpv's ff-index) of the media file at `path`; the other streams
// are not decoded. A stream index that is not a subtitle stream of the file
// is named in a warning. `path` may also be a URL FFmpeg can open; it is read
// within the same budget.
ReadResult read_streams(const std::string &path, const std::vector<int> &indexes,
                        const Limits &limits = {});

// As read_subtitles, for bytes already in memory (tests and fuzzing): text
// when it looks like text, else a container read through an in-memory I/O
// context.
ReadResult read_bytes(std::string_view bytes, const Limits &limits = {});

// "libavformat 59.27.100, libavcodec 59.37.100, libavutil 57.28.100", as loaded.
std::string ffmpeg_versions();

}  // namespace host

#endif
