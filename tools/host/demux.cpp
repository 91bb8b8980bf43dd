// FFmpeg reading of subtitle streams. A container is opened by FFmpeg from
// its file, so that only what is read is in memory; a text file (converted
// to UTF-8 already) is read through an in-memory I/O context. The demuxer
// discards every other stream, and the read stops at the budget: FFmpeg's own
// waits are interrupted through the context's interrupt callback, and the
// loop checks the bytes read and kept after every packet.
#include "host/demux.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <numeric>

#include "host/text.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libavutil/dict.h>
#include <libavutil/error.h>
#include <libavutil/mem.h>
}

namespace host {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kIoBufferSize = 1 << 15;
// A cue whose end is unknown lasts until the next one starts, or this long.
constexpr int64_t kOpenEndMs = 5000;
// What a kept packet costs beyond its bytes: the cue record and its line.
constexpr int64_t kPacketOverhead = 64;

struct Memory {
  const uint8_t *data;
  int64_t size;
  int64_t pos;
};

int read_memory(void *opaque, uint8_t *buf, int n) {
  auto *m = static_cast<Memory *>(opaque);
  int64_t left = m->size - m->pos;
  if (left <= 0) return AVERROR_EOF;
  int count = static_cast<int>(std::min<int64_t>(left, n));
  std::memcpy(buf, m->data + m->pos, static_cast<size_t>(count));
  m->pos += count;
  return count;
}

int64_t seek_memory(void *opaque, int64_t offset, int whence) {
  auto *m = static_cast<Memory *>(opaque);
  if (whence & AVSEEK_SIZE) return m->size;
  int64_t base = 0;
  switch (whence & ~AVSEEK_FORCE) {
    case SEEK_SET:
      base = 0;
      break;
    case SEEK_CUR:
      base = m->pos;
      break;
    case SEEK_END:
      base = m->size;
      break;
    default:
      return AVERROR(EINVAL);
  }
  if (offset > m->size - base || offset < -base) return AVERROR(EINVAL);
  m->pos = base + offset;
  return m->pos;
}

// The deadline and the cancel flag, as FFmpeg's interrupt callback sees them.
// The byte budget is checked here too, as the demuxer may read far (past
// the discarded streams) between two subtitle packets.
struct Budget {
  Clock::time_point deadline;
  const std::atomic<bool> *cancel = nullptr;
  int64_t max_bytes = INT64_MAX;
  const AVFormatContext *fmt = nullptr;  // set once the file is open

  bool cancelled() const { return cancel != nullptr && cancel->load(std::memory_order_relaxed); }
  bool expired() const { return Clock::now() >= deadline; }
  bool over_bytes() const {
    // pos: the bytes taken from the file so far, a plain field FFmpeg keeps
    // consistent while it reads.
    return fmt != nullptr && fmt->pb != nullptr && fmt->pb->pos > max_bytes;
  }
};

int interrupt(void *opaque) {
  const auto *budget = static_cast<const Budget *>(opaque);
  return budget->cancelled() || budget->expired() || budget->over_bytes() ? 1 : 0;
}

std::string av_error_text(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {0};
  av_strerror(code, text, sizeof text);
  return text;
}

struct FormatCloser {
  void operator()(AVFormatContext *ctx) const { avformat_close_input(&ctx); }
};
struct IoCloser {
  void operator()(AVIOContext *io) const {
    av_freep(&io->buffer);
    avio_context_free(&io);
  }
};
struct CodecCloser {
  void operator()(AVCodecContext *ctx) const { avcodec_free_context(&ctx); }
};
struct PacketCloser {
  void operator()(AVPacket *pkt) const { av_packet_free(&pkt); }
};
struct DictCloser {
  void operator()(AVDictionary *dict) const { av_dict_free(&dict); }
};

int32_t clamp_ms(int64_t ms) {
  return static_cast<int32_t>(std::clamp<int64_t>(ms, std::numeric_limits<int32_t>::min(),
                                                  std::numeric_limits<int32_t>::max()));
}

// The Text field of a decoded ASS event: "ReadOrder,Layer,Style,Name,
// MarginL,MarginR,MarginV,Effect,Text", where only Text may hold commas.
// The older "Dialogue: Layer,Start,End,..." form has nine fields before it.
std::string event_text(const char *ass) {
  std::string_view event(ass);
  int fields = 8;
  if (event.substr(0, 9) == "Dialogue:") fields = 9;
  size_t pos = 0;
  for (int i = 0; i < fields; i++) {
    size_t comma = event.find(',', pos);
    if (comma == std::string_view::npos) return std::string(event);
    pos = comma + 1;
  }
  std::string text(event.substr(pos));
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.pop_back();
  return text;
}

// Whether a packet holds no visible text: only markup, "&nbsp;" and white
// space, as the cue that clears the screen in SAMI. A decoder that refuses
// such a packet loses nothing.
bool blank_packet(const AVPacket *pkt) {
  std::string_view data(reinterpret_cast<const char *>(pkt->data),
                        pkt->data != nullptr ? static_cast<size_t>(pkt->size) : 0);
  size_t i = 0;
  while (i < data.size()) {
    char c = data[i];
    if (c == '<') {
      size_t close = data.find('>', i);
      if (close == std::string_view::npos) return false;
      i = close + 1;
    } else if (data.substr(i, 6) == "&nbsp;" || data.substr(i, 6) == "&NBSP;") {
      i += 6;
    } else if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\0') {
      i++;
    } else {
      return false;
    }
  }
  return true;
}

// Gives every cue of unknown end the start of the next later cue.
void close_open_ends(std::vector<Cue> &cues, const std::vector<bool> &open_end) {
  std::vector<size_t> order(cues.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t a, size_t b) { return cues[a].start_ms < cues[b].start_ms; });
  for (size_t k = 0; k < order.size(); k++) {
    Cue &cue = cues[order[k]];
    if (!open_end[order[k]]) continue;
    int64_t end = int64_t{cue.start_ms} + kOpenEndMs;
    for (size_t j = k + 1; j < order.size(); j++) {
      if (cues[order[j]].start_ms > cue.start_ms) {
        end = cues[order[j]].start_ms;
        break;
      }
    }
    cue.end_ms = clamp_ms(end);
  }
}

struct StreamState {
  Stream *stream = nullptr;  // null: the stream is not read
  std::unique_ptr<AVCodecContext, CodecCloser> decoder;
  std::vector<bool> open_end;
  int refused = 0;
  std::string first_refused;
};

// Opens the stream's decoder, or says why it cannot be.
bool open_decoder(const AVStream *st, StreamState &state, std::string &why) {
  const AVCodec *codec = avcodec_find_decoder(st->codecpar->codec_id);
  if (codec == nullptr) {
    why = std::string("FFmpeg has no decoder for ") + avcodec_get_name(st->codecpar->codec_id);
    return false;
  }
  state.decoder.reset(avcodec_alloc_context3(codec));
  if (!state.decoder) {
    why = "out of memory";
    return false;
  }
  int r = avcodec_parameters_to_context(state.decoder.get(), st->codecpar);
  if (r >= 0) {
    state.decoder->pkt_timebase = st->time_base;
    r = avcodec_open2(state.decoder.get(), codec, nullptr);
  }
  if (r < 0) {
    state.decoder.reset();
    why = std::string("cannot open the ") + codec->name + " decoder: " + av_error_text(r);
    return false;
  }
  return true;
}

void refuse(StreamState &state, const std::string &cause) {
  if (state.refused++ == 0) state.first_refused = cause;
}

// a + b, held at the ends of int64_t: a hostile file's times may lie
// anywhere, and the sum is clamped to the library's 32 bits anyway.
int64_t add_ms(int64_t a, int64_t b) {
  int64_t sum = 0;
  if (!__builtin_add_overflow(a, b, &sum)) return sum;
  return b > 0 ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min();
}

// Turns one packet into a cue of the stream, or counts it as refused.
void decode_packet(const AVStream *st, AVPacket *pkt, bool text_file, StreamState &state) {
  int64_t pts = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
  if (pts == AV_NOPTS_VALUE) {
    if (!blank_packet(pkt)) refuse(state, "a cue without a time");
    return;
  }
  int64_t base_ms = av_rescale_q(pts, st->time_base, AVRational{1, 1000});
  AVSubtitle sub{};
  int got = 0;
  int r = avcodec_decode_subtitle2(state.decoder.get(), &sub, &got, pkt);
  if (r < 0) {
    if (!blank_packet(pkt)) refuse(state, "at " + format_time(base_ms) + ": " + av_error_text(r));
    return;
  }
  if (!got) return;
  Cue cue;
  for (unsigned i = 0; i < sub.num_rects; i++) {
    const AVSubtitleRect *rect = sub.rects[i];
    if (rect->type == SUBTITLE_ASS && rect->ass != nullptr) {
      cue.lines.push_back(event_text(rect->ass));
    } else if (rect->type == SUBTITLE_TEXT && rect->text != nullptr) {
      cue.lines.emplace_back(rect->text);
    }
  }
  int64_t start_ms = add_ms(base_ms, sub.start_display_time);
  int64_t end_ms = 0;
  bool has_end = true;
  // FFmpeg's text demuxers give every cue its duration from the file and
  // mark an end the file leaves open with -1; 0 is a cue of no length. In a
  // container 0 means the packet does not say.
  if (text_file ? pkt->duration >= 0 : pkt->duration > 0) {
    end_ms = add_ms(base_ms, av_rescale_q(pkt->duration, st->time_base, AVRational{1, 1000}));
  } else if (!text_file && sub.end_display_time > sub.start_display_time &&
             sub.end_display_time != std::numeric_limits<uint32_t>::max()) {
    end_ms = add_ms(base_ms, sub.end_display_time);
  } else {
    has_end = false;
  }
  avsubtitle_free(&sub);
  if (cue.lines.empty()) return;
  cue.start_ms = clamp_ms(start_ms);
  cue.end_ms = clamp_ms(std::max(end_ms, start_ms));
  state.stream->cues.push_back(std::move(cue));
  state.open_end.push_back(!has_end);
}

bool wanted(const DemuxRequest &request, int index) {
  return request.only == nullptr ||
         std::find(request.only->begin(), request.only->end(), index) != request.only->end();
}

}  // namespace

void demux(const DemuxRequest &request, const Limits &limits, ReadResult &out,
           DemuxCounts &counts) {
  Budget budget{request.deadline, limits.cancel, limits.max_container_bytes};
  std::unique_ptr<AVIOContext, IoCloser> io;
  Memory memory{reinterpret_cast<const uint8_t *>(request.memory.data()),
                static_cast<int64_t>(request.memory.size()), 0};
  AVFormatContext *raw_ctx = avformat_alloc_context();
  if (raw_ctx == nullptr) {
    out.error = "out of memory";
    return;
  }
  raw_ctx->interrupt_callback = AVIOInterruptCB{interrupt, &budget};
  AVDictionary *raw_options = nullptr;
  // Nothing read here opens further files or connections on its own (a
  // playlist, a reference to external data): a local file may open local
  // files only, and bytes in memory nothing.
  if (request.url.compare(0, 5, "file:") == 0) {
    av_dict_set(&raw_options, "protocol_whitelist", "file", 0);
  } else if (request.url.empty()) {
    av_dict_set(&raw_options, "protocol_whitelist", "none", 0);
    auto *buffer = static_cast<unsigned char *>(av_malloc(kIoBufferSize));
    if (buffer != nullptr) {
      io.reset(
          avio_alloc_context(buffer, kIoBufferSize, 0, &memory, read_memory, nullptr, seek_memory));
      if (!io) av_free(buffer);
    }
    if (!io) {
      avformat_free_context(raw_ctx);
      av_dict_free(&raw_options);
      out.error = "out of memory";
      return;
    }
    raw_ctx->pb = io.get();
    raw_ctx->flags |= AVFMT_FLAG_CUSTOM_IO;
  }
  std::unique_ptr<AVDictionary, DictCloser> options_guard;
  // On failure avformat_open_input frees the context itself.
  int r = avformat_open_input(&raw_ctx, request.url.c_str(), nullptr, &raw_options);
  options_guard.reset(raw_options);
  if (r < 0) {
    if (budget.cancelled()) {
      out.error = "cancelled";
    } else if (r == AVERROR_EXIT) {
      out.error = "FFmpeg could not open it within the time budget";
    } else if (r == AVERROR_INVALIDDATA) {
      out.error = "FFmpeg does not recognise its format (" + av_error_text(r) + ")";
    } else {
      out.error = "FFmpeg cannot open it: " + av_error_text(r);
    }
    return;
  }
  std::unique_ptr<AVFormatContext, FormatCloser> fmt(raw_ctx);
  budget.fmt = fmt.get();
  out.format = fmt->iformat->name;
  // Formats that declare their streams in a header need no probing of
  // packets; the others (MPEG-TS) find them while reading.
  if (fmt->nb_streams == 0 || (fmt->ctx_flags & AVFMTCTX_NOHEADER) != 0) {
    for (unsigned i = 0; i < fmt->nb_streams; i++) {
      if (fmt->streams[i]->codecpar->codec_type != AVMEDIA_TYPE_SUBTITLE) {
        fmt->streams[i]->discard = AVDISCARD_ALL;
      }
    }
    avformat_find_stream_info(fmt.get(), nullptr);
  }

  std::vector<int> skipped;  // subtitle streams beyond max_streams
  std::vector<int> subtitle_indexes;
  for (unsigned i = 0; i < fmt->nb_streams; i++) {
    AVStream *st = fmt->streams[i];
    bool subtitle = st->codecpar->codec_type == AVMEDIA_TYPE_SUBTITLE;
    if (subtitle) subtitle_indexes.push_back(st->index);
    if (!subtitle || !wanted(request, st->index)) {
      st->discard = AVDISCARD_ALL;
      continue;
    }
    if (static_cast<int>(out.streams.size()) >= limits.max_streams) {
      st->discard = AVDISCARD_ALL;
      skipped.push_back(st->index);
      continue;
    }
    st->discard = AVDISCARD_DEFAULT;
    const AVCodecDescriptor *desc = avcodec_descriptor_get(st->codecpar->codec_id);
    Stream stream;
    stream.index = st->index;
    stream.codec = avcodec_get_name(st->codecpar->codec_id);
    stream.text = desc == nullptr || (desc->props & AV_CODEC_PROP_BITMAP_SUB) == 0;
    if (const AVDictionaryEntry *e = av_dict_get(st->metadata, "language", nullptr, 0)) {
      stream.language = e->value;
    }
    if (const AVDictionaryEntry *e = av_dict_get(st->metadata, "title", nullptr, 0)) {
      stream.title = e->value;
    }
    out.streams.push_back(std::move(stream));
  }
  if (request.only != nullptr) {
    std::vector<int> missing;
    for (int index : *request.only) {
      if (std::find(subtitle_indexes.begin(), subtitle_indexes.end(), index) ==
          subtitle_indexes.end()) {
        missing.push_back(index);
      }
    }
    if (!missing.empty()) {
      out.warnings.push_back(stream_list(missing) +
                             " asked for: not a subtitle stream of the file");
    }
  }
  if (!skipped.empty()) {
    out.warnings.push_back("the file has " + std::to_string(out.streams.size() + skipped.size()) +
                           " subtitle streams, of which the first " +
                           std::to_string(limits.max_streams) +
                           " are read: " + stream_list(skipped) + " left out");
  }
  if (out.streams.empty()) {
    out.error = request.only == nullptr
                    ? "no subtitle stream (FFmpeg reads it as " + out.format + ")"
                    : "none of the streams asked for is a subtitle stream";
    return;
  }

  // States by stream index; only the streams read have one.
  std::vector<StreamState> states(fmt->nb_streams);
  for (Stream &stream : out.streams) {
    StreamState &state = states[static_cast<size_t>(stream.index)];
    state.stream = &stream;
    if (!stream.text) continue;
    std::string why;
    if (!open_decoder(fmt->streams[stream.index], state, why)) {
      if (request.text_file) {
        out.error = why;
        return;
      }
      out.warnings.push_back("stream " + std::to_string(stream.index) + ": " + why +
                             "; listed without cues");
    }
  }

  std::unique_ptr<AVPacket, PacketCloser> pkt(av_packet_alloc());
  if (!pkt) {
    out.error = "out of memory";
    return;
  }
  int64_t kept = 0;
  int64_t last_ms = std::numeric_limits<int64_t>::min();
  std::string stopped;  // why the budget ended the read
  const std::string time_budget =
      "the time budget of " + std::to_string(limits.max_milliseconds) + " ms";
  const std::string byte_budget =
      "the budget of " + format_size(limits.max_container_bytes) + " read";
  for (;;) {
    r = av_read_frame(fmt.get(), pkt.get());
    if (r < 0) break;
    auto index = static_cast<size_t>(pkt->stream_index);
    if (index < states.size() && states[index].stream != nullptr) {
      // Checked before decoding, so that no packet beyond the budget is kept.
      int64_t cost = int64_t{pkt->size} + kPacketOverhead;
      if (kept + cost > limits.max_packet_bytes) {
        stopped = "the budget of " + format_size(limits.max_packet_bytes) + " of subtitle packets";
        av_packet_unref(pkt.get());
        break;
      }
      kept += cost;
      const AVStream *st = fmt->streams[index];
      counts.packets++;
      if (pkt->pts != AV_NOPTS_VALUE) {
        last_ms = std::max(last_ms, av_rescale_q(pkt->pts, st->time_base, AVRational{1, 1000}));
      }
      if (states[index].decoder) decode_packet(st, pkt.get(), request.text_file, states[index]);
    }
    av_packet_unref(pkt.get());
    if (budget.cancelled()) break;
    if (budget.expired()) {
      stopped = time_budget;
    } else if (budget.over_bytes()) {
      stopped = byte_budget;
    }
    if (!stopped.empty()) break;
  }
  if (budget.cancelled()) {
    out.streams.clear();
    out.error = "cancelled";
    return;
  }
  if (r < 0 && r != AVERROR_EOF && stopped.empty()) {
    if (r == AVERROR_EXIT) {
      stopped = budget.over_bytes() ? byte_budget : time_budget;
    } else {
      out.warnings.push_back("FFmpeg stopped reading it: " + av_error_text(r));
      out.complete = false;
    }
  }
  if (!stopped.empty()) {
    out.complete = false;
    int64_t pos = fmt->pb != nullptr ? avio_tell(fmt->pb) : 0;
    int64_t size = fmt->pb != nullptr ? avio_size(fmt->pb) : -1;
    std::string where = format_size(pos) + (size > 0 ? " of " + format_size(size) : "");
    std::string after = last_ms == std::numeric_limits<int64_t>::min()
                            ? "no subtitle was read"
                            : "subtitles after " + format_time(last_ms) + " are not read";
    out.warnings.push_back("reading stopped at " + stopped + " (" + where + "): " + after);
  }
  for (StreamState &state : states) {
    if (state.stream == nullptr) continue;
    close_open_ends(state.stream->cues, state.open_end);
    if (state.refused == 0) continue;
    std::string where =
        request.text_file ? "" : "stream " + std::to_string(state.stream->index) + ": ";
    out.warnings.push_back(where + "left out " + std::to_string(state.refused) +
                           (state.refused == 1 ? " cue" : " cues") +
                           " FFmpeg cannot decode (the first " + state.first_refused + ")");
  }
  out.ok = true;
}

}  // namespace host
