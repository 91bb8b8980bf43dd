#include "mpv/reading.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>

#include <sys/stat.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/error.h>
}

#include "host/input.h"

namespace tpsubm_mpv {
namespace {

// host::demux hands FFmpeg's messages to one collector at a time.
std::mutex g_demux_lock;

bool stopped(const Limits &limits) {
  return (limits.cancel != nullptr && limits.cancel->load(std::memory_order_relaxed)) ||
         std::chrono::steady_clock::now() >= limits.deadline;
}

std::string av_error_text(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {0};
  av_strerror(code, text, sizeof text);
  return text;
}

int32_t clamp_ms(int64_t ms) {
  return static_cast<int32_t>(std::clamp<int64_t>(ms, std::numeric_limits<int32_t>::min(),
                                                  std::numeric_limits<int32_t>::max()));
}

// The Text field of a decoded ASS event: "ReadOrder,Layer,Style,Name,
// MarginL,MarginR,MarginV,Effect,Text"; only Text may hold commas.
std::string event_text(const char *ass) {
  std::string_view event(ass);
  size_t pos = 0;
  for (int i = 0; i < 8; i++) {
    size_t comma = event.find(',', pos);
    if (comma == std::string_view::npos) return std::string(event);
    pos = comma + 1;
  }
  std::string text(event.substr(pos));
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.pop_back();
  return text;
}

int interrupt(void *opaque) {
  return stopped(*static_cast<const Limits *>(opaque)) ? 1 : 0;
}

struct FormatCloser {
  void operator()(AVFormatContext *ctx) const { avformat_close_input(&ctx); }
};
struct CodecCloser {
  void operator()(AVCodecContext *ctx) const { avcodec_free_context(&ctx); }
};
struct PacketCloser {
  void operator()(AVPacket *pkt) const { av_packet_free(&pkt); }
};

}  // namespace

TrackText read_external(const std::string &path, const Limits &limits) {
  TrackText out;
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) {
    out.error = std::string("cannot open: ") + std::strerror(errno);
    return out;
  }
  if (!S_ISREG(info.st_mode)) {
    out.error = "not a regular file";
    return out;
  }
  if (static_cast<uint64_t>(info.st_size) > limits.max_file_bytes) {
    out.error = "larger than " + std::to_string(limits.max_file_bytes >> 20) + " MB";
    return out;
  }
  std::string raw;
  host::Input input;
  host::Demuxed demuxed;
  if (!host::read_file(path, raw, out.error)) return out;
  if (raw.size() > limits.max_file_bytes) {
    out.error = "larger than " + std::to_string(limits.max_file_bytes >> 20) + " MB";
    return out;
  }
  if (!host::decode_input(std::move(raw), input, out.error)) return out;
  {
    std::lock_guard<std::mutex> lock(g_demux_lock);
    if (!host::demux(input.bytes, demuxed, out.error)) return out;
  }
  host::Stream &stream = demuxed.streams.front();
  out.ok = true;
  out.text = stream.text;
  out.codec = stream.codec;
  if (stream.text) {
    out.encoding = input.is_text ? host::library_encoding_name(input.encoding) : "utf-8";
  }
  out.cues = std::move(stream.cues);
  if (stream.skipped > 0) {
    out.warnings.push_back("skipped " + std::to_string(stream.skipped) +
                           " cues FFmpeg cannot decode (first: " + stream.first_skipped + ")");
  }
  return out;
}

std::vector<TrackText> read_embedded(const std::string &path, const std::vector<int64_t> &indices,
                                     const Limits &limits) {
  std::vector<TrackText> out(indices.size());
  auto fail_all = [&](const std::string &error) {
    for (TrackText &t : out) t.error = error;
    return out;
  };
  AVFormatContext *raw_ctx = avformat_alloc_context();
  if (raw_ctx == nullptr) return fail_all("out of memory");
  raw_ctx->interrupt_callback.callback = interrupt;
  raw_ctx->interrupt_callback.opaque = const_cast<Limits *>(&limits);
  int r = avformat_open_input(&raw_ctx, path.c_str(), nullptr, nullptr);
  if (r < 0) return fail_all("FFmpeg cannot open it: " + av_error_text(r));
  std::unique_ptr<AVFormatContext, FormatCloser> fmt(raw_ctx);

  // Only the asked subtitle streams are demuxed; every other packet is
  // discarded by the demuxer where it can.
  std::vector<int> slot(fmt->nb_streams, -1);
  for (unsigned i = 0; i < fmt->nb_streams; i++) fmt->streams[i]->discard = AVDISCARD_ALL;
  std::vector<std::unique_ptr<AVCodecContext, CodecCloser>> decoders(indices.size());
  for (size_t k = 0; k < indices.size(); k++) {
    int64_t index = indices[k];
    TrackText &t = out[k];
    if (index < 0 || index >= static_cast<int64_t>(fmt->nb_streams)) {
      t.error = "no stream " + std::to_string(index);
      continue;
    }
    AVStream *st = fmt->streams[index];
    t.codec = avcodec_get_name(st->codecpar->codec_id);
    if (st->codecpar->codec_type != AVMEDIA_TYPE_SUBTITLE) {
      t.error = "stream " + std::to_string(index) + " is not a subtitle stream";
      continue;
    }
    const AVCodecDescriptor *desc = avcodec_descriptor_get(st->codecpar->codec_id);
    t.ok = true;
    t.text = desc == nullptr || (desc->props & AV_CODEC_PROP_BITMAP_SUB) == 0;
    if (!t.text) continue;
    t.encoding = "utf-8";
    const AVCodec *codec = avcodec_find_decoder(st->codecpar->codec_id);
    AVCodecContext *ctx = codec != nullptr ? avcodec_alloc_context3(codec) : nullptr;
    decoders[k].reset(ctx);
    if (ctx == nullptr || avcodec_parameters_to_context(ctx, st->codecpar) < 0 ||
        (ctx->pkt_timebase = st->time_base, avcodec_open2(ctx, codec, nullptr)) < 0) {
      t.ok = false;
      t.error = "FFmpeg cannot decode " + t.codec;
      decoders[k].reset();
      continue;
    }
    st->discard = AVDISCARD_DEFAULT;
    slot[static_cast<size_t>(index)] = static_cast<int>(k);
  }

  std::unique_ptr<AVPacket, PacketCloser> pkt(av_packet_alloc());
  if (!pkt) return fail_all("out of memory");
  uint64_t bytes = 0;
  std::string stop;
  while (true) {
    if (stopped(limits)) {
      stop = "the time budget ran out";
      break;
    }
    r = av_read_frame(fmt.get(), pkt.get());
    if (r < 0) {
      if (r != AVERROR_EOF) stop = "FFmpeg stopped reading: " + av_error_text(r);
      break;
    }
    auto index = static_cast<size_t>(pkt->stream_index);
    int k = index < slot.size() ? slot[index] : -1;
    if (k >= 0) {
      bytes += static_cast<uint64_t>(pkt->size);
      AVStream *st = fmt->streams[index];
      int64_t pts = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
      AVSubtitle sub{};
      int got = 0;
      if (pts != AV_NOPTS_VALUE &&
          avcodec_decode_subtitle2(decoders[static_cast<size_t>(k)].get(), &sub, &got, pkt.get()) >=
              0 &&
          got) {
        int64_t base = av_rescale_q(pts, st->time_base, AVRational{1, 1000});
        host::Cue cue;
        for (unsigned i = 0; i < sub.num_rects; i++) {
          const AVSubtitleRect *rect = sub.rects[i];
          if (rect->type == SUBTITLE_ASS && rect->ass != nullptr) {
            cue.lines.push_back(event_text(rect->ass));
          } else if (rect->type == SUBTITLE_TEXT && rect->text != nullptr) {
            cue.lines.emplace_back(rect->text);
          }
        }
        int64_t length = sub.end_display_time > sub.start_display_time &&
                                 sub.end_display_time != std::numeric_limits<uint32_t>::max()
                             ? sub.end_display_time
                             : av_rescale_q(std::max<int64_t>(pkt->duration, 0), st->time_base,
                                            AVRational{1, 1000});
        cue.start_ms = clamp_ms(base + sub.start_display_time);
        cue.end_ms = clamp_ms(base + length);
        avsubtitle_free(&sub);
        if (!cue.lines.empty()) out[static_cast<size_t>(k)].cues.push_back(std::move(cue));
      }
    }
    av_packet_unref(pkt.get());
    if (bytes > limits.max_packet_bytes) {
      stop = "the size budget of " + std::to_string(limits.max_packet_bytes >> 20) +
             " MB of subtitle packets ran out";
      break;
    }
  }
  if (!stop.empty()) {
    for (TrackText &t : out) {
      if (t.ok && t.text) t.warnings.push_back("read in part, " + stop);
    }
  }
  return out;
}

}  // namespace tpsubm_mpv
