// FFmpeg reading through memory: the converted text (or a container's raw
// bytes) is never written to a file, and no file name reaches the probing,
// so the format is decided by the content.
#include "host/demux.h"
#include "host/text.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <numeric>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libavutil/error.h>
#include <libavutil/mem.h>
}

namespace host {
namespace {

constexpr int kIoBufferSize = 1 << 15;
// A cue whose end is unknown lasts until the next one starts, or this long.
constexpr int64_t kOpenEndMs = 5000;

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

// Gives every cue of unknown end the start of the next cue, in time order.
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

// FFmpeg's messages of the file being read; the probe reads one file at a
// time and FFmpeg logs on the calling thread while demuxing subtitles.
std::vector<std::string> *g_log = nullptr;

void collect_log(void *, int level, const char *format, va_list args) {
  if (level > AV_LOG_WARNING || g_log == nullptr) return;
  char text[512];
  va_list copy;
  va_copy(copy, args);
  std::vsnprintf(text, sizeof text, format, copy);
  va_end(copy);
  std::string message(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) message.pop_back();
  if (message.empty()) return;
  if (std::find(g_log->begin(), g_log->end(), message) == g_log->end()) {
    g_log->push_back(std::move(message));
  }
}

struct LogScope {
  explicit LogScope(std::vector<std::string> &log) { g_log = &log; }
  ~LogScope() { g_log = nullptr; }
  LogScope(const LogScope &) = delete;
  LogScope &operator=(const LogScope &) = delete;
};

struct TextDecoder {
  std::unique_ptr<AVCodecContext, CodecCloser> ctx;
  Stream *stream = nullptr;
  std::vector<bool> open_end;
};

bool open_decoder(const AVStream *st, TextDecoder &dec, std::string &error) {
  const AVCodec *codec = avcodec_find_decoder(st->codecpar->codec_id);
  if (codec == nullptr) {
    error = "stream " + std::to_string(st->index) + ": FFmpeg has no decoder for " +
            avcodec_get_name(st->codecpar->codec_id);
    return false;
  }
  dec.ctx.reset(avcodec_alloc_context3(codec));
  if (!dec.ctx) {
    error = "out of memory";
    return false;
  }
  int r = avcodec_parameters_to_context(dec.ctx.get(), st->codecpar);
  if (r >= 0) {
    dec.ctx->pkt_timebase = st->time_base;
    r = avcodec_open2(dec.ctx.get(), codec, nullptr);
  }
  if (r < 0) {
    error = "stream " + std::to_string(st->index) + ": cannot open the " + codec->name +
            " decoder: " + av_error_text(r);
    return false;
  }
  return true;
}

void skip_packet(TextDecoder &dec, const std::string &cause) {
  if (dec.stream->skipped++ == 0) dec.stream->first_skipped = cause;
}

// Turns one packet into a cue of the stream, or counts it as skipped.
void decode_packet(const AVStream *st, const AVPacket *pkt, TextDecoder &dec) {
  int64_t pts = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
  if (pts == AV_NOPTS_VALUE) {
    skip_packet(dec, "no time");
    return;
  }
  int64_t base_ms = av_rescale_q(pts, st->time_base, AVRational{1, 1000});
  AVSubtitle sub{};
  int got = 0;
  int r = avcodec_decode_subtitle2(dec.ctx.get(), &sub, &got, const_cast<AVPacket *>(pkt));
  if (r < 0) {
    skip_packet(dec, "at " + format_time(base_ms) + ", " + av_error_text(r));
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
  bool has_end = sub.end_display_time > sub.start_display_time &&
                 sub.end_display_time != std::numeric_limits<uint32_t>::max();
  int64_t end_ms = base_ms + sub.end_display_time;
  if (!has_end && pkt->duration > 0) {
    end_ms = base_ms + av_rescale_q(pkt->duration, st->time_base, AVRational{1, 1000});
    has_end = true;
  }
  cue.start_ms = clamp_ms(base_ms + sub.start_display_time);
  cue.end_ms = clamp_ms(end_ms);
  avsubtitle_free(&sub);
  if (cue.lines.empty()) return;
  dec.stream->cues.push_back(std::move(cue));
  dec.open_end.push_back(!has_end);
}

}  // namespace

void quiet_ffmpeg() {
  av_log_set_callback(collect_log);
}

std::string ffmpeg_versions() {
  auto version = [](const char *name, unsigned v) {
    return std::string(name) + " " + std::to_string(AV_VERSION_MAJOR(v)) + "." +
           std::to_string(AV_VERSION_MINOR(v)) + "." + std::to_string(AV_VERSION_MICRO(v));
  };
  return version("libavformat", avformat_version()) + ", " +
         version("libavcodec", avcodec_version()) + ", " + version("libavutil", avutil_version());
}

bool demux(const std::string &bytes, Demuxed &out, std::string &error) {
  out = Demuxed{};
  LogScope log(out.warnings);
  Memory memory{reinterpret_cast<const uint8_t *>(bytes.data()), static_cast<int64_t>(bytes.size()),
                0};
  auto *buffer = static_cast<unsigned char *>(av_malloc(kIoBufferSize));
  if (buffer == nullptr) {
    error = "out of memory";
    return false;
  }
  std::unique_ptr<AVIOContext, IoCloser> io(
      avio_alloc_context(buffer, kIoBufferSize, 0, &memory, read_memory, nullptr, seek_memory));
  if (!io) {
    av_free(buffer);
    error = "out of memory";
    return false;
  }
  AVFormatContext *raw_ctx = avformat_alloc_context();
  if (raw_ctx == nullptr) {
    error = "out of memory";
    return false;
  }
  raw_ctx->pb = io.get();
  raw_ctx->flags |= AVFMT_FLAG_CUSTOM_IO;
  // On failure avformat_open_input frees the context itself.
  int r = avformat_open_input(&raw_ctx, "", nullptr, nullptr);
  if (r < 0) {
    error = "FFmpeg does not recognise its format (" + av_error_text(r) + ")";
    return false;
  }
  std::unique_ptr<AVFormatContext, FormatCloser> fmt(raw_ctx);
  avformat_find_stream_info(fmt.get(), nullptr);
  out.format = fmt->iformat->name;
  out.stream_count = static_cast<int>(fmt->nb_streams);

  // Decoders by stream index; only text subtitle streams have one.
  std::vector<TextDecoder> decoders(fmt->nb_streams);
  out.streams.reserve(fmt->nb_streams);
  for (unsigned i = 0; i < fmt->nb_streams; i++) {
    const AVStream *st = fmt->streams[i];
    if (st->codecpar->codec_type != AVMEDIA_TYPE_SUBTITLE) continue;
    const AVCodecDescriptor *desc = avcodec_descriptor_get(st->codecpar->codec_id);
    Stream stream;
    stream.index = st->index;
    stream.codec = avcodec_get_name(st->codecpar->codec_id);
    stream.text = desc == nullptr || (desc->props & AV_CODEC_PROP_BITMAP_SUB) == 0;
    out.streams.push_back(std::move(stream));
  }
  if (out.streams.empty()) {
    error = "no subtitle stream (FFmpeg reads it as " + out.format + ")";
    return false;
  }
  for (Stream &stream : out.streams) {
    if (!stream.text) continue;
    TextDecoder &dec = decoders[static_cast<size_t>(stream.index)];
    if (!open_decoder(fmt->streams[stream.index], dec, error)) return false;
    dec.stream = &stream;
  }

  std::unique_ptr<AVPacket, PacketCloser> pkt(av_packet_alloc());
  if (!pkt) {
    error = "out of memory";
    return false;
  }
  while ((r = av_read_frame(fmt.get(), pkt.get())) >= 0) {
    auto index = static_cast<size_t>(pkt->stream_index);
    if (index < decoders.size() && decoders[index].stream != nullptr) {
      decode_packet(fmt->streams[index], pkt.get(), decoders[index]);
    }
    av_packet_unref(pkt.get());
  }
  if (r != AVERROR_EOF) {
    error = "FFmpeg stopped reading it: " + av_error_text(r);
    return false;
  }
  for (TextDecoder &dec : decoders) {
    if (dec.stream != nullptr) close_open_ends(dec.stream->cues, dec.open_end);
  }
  return true;
}

}  // namespace host
