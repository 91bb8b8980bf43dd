// The reader's entry points: which files are read and how (text whole into
// memory, containers by FFmpeg from the file), and the checks that turn
// silent losses into warnings.
#include "host/reader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "host/charset.h"
#include "host/demux.h"
#include "host/text.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
}

namespace host {
namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kHeadBytes = 65536;

Clock::time_point deadline_of(const Limits &limits) {
  // At most about 35 years ahead, so that the sum cannot overflow.
  int64_t ms = std::clamp<int64_t>(limits.max_milliseconds, 0, int64_t{1} << 40);
  return Clock::now() + std::chrono::milliseconds(ms);
}

// strerror's text without its shared buffer: reads run on several threads.
std::string system_error_text(int code) {
  char buffer[256];
  // The GNU strerror_r returns the text, in `buffer` or a constant one.
  return strerror_r(code, buffer, sizeof buffer);
}

bool digits(std::string_view s, size_t &i, size_t min) {
  size_t start = i;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9') i++;
  return i - start >= min;
}

// "0:00:01.000,0:00:02.000" (SubViewer, SBV).
bool subviewer_timing(std::string_view line) {
  size_t i = 0;
  for (int half = 0; half < 2; half++) {
    if (!digits(line, i, 1) || i >= line.size() || line[i++] != ':') return false;
    if (!digits(line, i, 2) || i >= line.size() || line[i++] != ':') return false;
    if (!digits(line, i, 2) || i >= line.size() || (line[i] != '.' && line[i] != ',')) return false;
    i++;
    if (!digits(line, i, 1)) return false;
    if (half == 0 && (i >= line.size() || line[i++] != ',')) return false;
  }
  return true;
}

// "{10}{20}" (MicroDVD) or "[10][20]" (MPL2), the end possibly empty.
bool frame_timing(std::string_view line) {
  if (line.empty() || (line[0] != '{' && line[0] != '[')) return false;
  char open = line[0];
  char close = open == '{' ? '}' : ']';
  size_t i = 1;
  if (!digits(line, i, 1) || i >= line.size() || line[i++] != close) return false;
  if (i >= line.size() || line[i++] != open) return false;
  digits(line, i, 0);
  if (i >= line.size() || line[i++] != close) return false;
  // MicroDVD's "{1}{1}25" gives the frame rate, not a cue.
  std::string_view rest = line.substr(i);
  return rest.find_first_not_of("0123456789.\r") != std::string_view::npos;
}

// The lines of a subtitle text that each start a cue in the formats that
// write one per cue: "-->" (SubRip, WebVTT), "Dialogue:" (SubStation
// Alpha), SubViewer's and MicroDVD's timings. SAMI and others count none.
int timing_lines(std::string_view text) {
  int count = 0;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    size_t first = line.find_first_not_of(" \t");
    if (first == std::string_view::npos) continue;
    line = line.substr(first);
    if (line.find("-->") != std::string_view::npos || line.substr(0, 9) == "Dialogue:" ||
        subviewer_timing(line) || frame_timing(line)) {
      count++;
    }
  }
  return count;
}

std::string plural(size_t n, const char *one, const char *many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

// Reads a text subtitle file converted to UTF-8 and checks that FFmpeg
// found as many cues as the text has timing lines.
void read_text(std::string_view raw, const Limits &limits, ReadResult &out) {
  Decoded decoded = decode_text(raw);
  if (!decoded.ok) {
    out.error = decoded.error;
    return;
  }
  out.encoding = decoded.encoding;
  if (decoded.bad > 0) {
    out.warnings.push_back("replaced " +
                           plural(decoded.bad, "invalid byte sequence", "invalid byte sequences") +
                           " with U+FFFD, the first at byte " + std::to_string(decoded.first_bad) +
                           " (read as " + decoded.encoding + ")");
  }
  // FFmpeg's text demuxers parse the whole file into packets before the
  // first is read, a few hundred bytes each: the lines bound that memory.
  int64_t lines = std::count(decoded.text.begin(), decoded.text.end(), '\n');
  if (lines > limits.max_text_lines) {
    out.error = "has " + std::to_string(lines) + " lines of text, more than the " +
                std::to_string(limits.max_text_lines) + " read as subtitles";
    return;
  }
  DemuxRequest request;
  request.memory = decoded.text;
  request.text_file = true;
  request.deadline = deadline_of(limits);
  DemuxCounts counts;
  demux(request, limits, out, counts);
  if (!out.ok) return;
  int timings = timing_lines(decoded.text);
  size_t cues = 0;
  for (const Stream &stream : out.streams) cues += stream.cues.size();
  if (cues == 0) {
    out.ok = false;
    out.streams.clear();
    out.error = "no cue could be read from it (FFmpeg reads it as " + out.format;
    if (timings > 0) out.error += ", and it has " + plural(timings, "timing line", "timing lines");
    out.error += ")";
    return;
  }
  // A format's parser drops what it cannot place (a WebVTT cue not set off
  // by a blank line, a STYLE block). One in a hundred is noise.
  int lost = timings - counts.packets;
  if (out.complete && lost > 0 && lost >= std::max(1, timings / 100)) {
    out.warnings.push_back("FFmpeg read " +
                           plural(static_cast<size_t>(counts.packets), "cue", "cues") + " (as " +
                           out.format + ") from " +
                           plural(static_cast<size_t>(timings), "timing line", "timing lines"));
  }
}

void read_container(const std::string &url, const std::vector<int> *only, const Limits &limits,
                    ReadResult &out) {
  out.container = true;
  DemuxRequest request;
  request.url = url;
  request.only = only;
  request.deadline = deadline_of(limits);
  DemuxCounts counts;
  demux(request, limits, out, counts);
  if (!out.ok || !out.complete) return;
  // A text stream read to its end without a cue is worth a word: an empty
  // track, or a text file that holds a NUL byte and so came this way.
  for (const Stream &stream : out.streams) {
    if (stream.text && stream.cues.empty()) {
      out.warnings.push_back("stream " + std::to_string(stream.index) + " (" + stream.codec +
                             ") holds no cue FFmpeg could read");
    }
  }
}

// Reads `fd` whole, at most `max` bytes; false with `error` set otherwise.
bool read_all(int fd, int64_t max, std::string &bytes, std::string &error) {
  char buffer[65536];
  for (;;) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n == 0) return true;
    if (n < 0) {
      if (errno == EINTR) continue;
      error = std::string("cannot read: ") + system_error_text(errno);
      return false;
    }
    if (static_cast<int64_t>(bytes.size()) + n > max) {
      error = "the text file grew beyond " + format_size(max) + " while it was read";
      return false;
    }
    bytes.append(buffer, static_cast<size_t>(n));
  }
}

const char *file_kind(mode_t mode) {
  if (S_ISDIR(mode)) return "a directory";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a regular file";
}

// Opens `path` for reading if it is a regular file, without waiting on a
// FIFO; -1 with `error` set otherwise.
int open_regular(const std::string &path, struct stat &info, std::string &error) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    error = std::string("cannot open: ") + system_error_text(errno);
    return -1;
  }
  if (fstat(fd, &info) != 0) {
    error = std::string("cannot read: ") + system_error_text(errno);
    close(fd);
    return -1;
  }
  if (!S_ISREG(info.st_mode)) {
    error = std::string("is ") + file_kind(info.st_mode) + ": only regular files are read";
    close(fd);
    return -1;
  }
  return fd;
}

struct Fd {
  int fd;
  ~Fd() {
    if (fd >= 0) close(fd);
  }
};

ReadResult read_path(const std::string &path, const std::vector<int> *only, const Limits &limits) {
  ReadResult out;
  struct stat info {};
  Fd fd{open_regular(path, info, out.error)};
  if (fd.fd < 0) return out;
  std::string head(kHeadBytes, '\0');
  ssize_t n = 0;
  do {
    n = pread(fd.fd, head.data(), head.size(), 0);
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    out.error = std::string("cannot read: ") + system_error_text(errno);
    return out;
  }
  head.resize(static_cast<size_t>(n));
  if (head.empty()) {
    out.error = "the file is empty";
    return out;
  }
  if (only == nullptr && looks_like_text(head)) {
    if (info.st_size > limits.max_text_bytes) {
      out.error = "is a text file of " + format_size(info.st_size) + ", more than the " +
                  format_size(limits.max_text_bytes) + " read as subtitles";
      return out;
    }
    std::string raw;
    raw.reserve(static_cast<size_t>(info.st_size));
    if (!read_all(fd.fd, limits.max_text_bytes, raw, out.error)) return out;
    read_text(raw, limits, out);
    return out;
  }
  close(fd.fd);
  fd.fd = -1;
  // FFmpeg reads the file itself; "file:" keeps a name with a colon from
  // being taken for another protocol.
  read_container("file:" + path, only, limits, out);
  return out;
}

ReadResult out_of_memory() {
  ReadResult out;
  out.error = "out of memory";
  return out;
}

}  // namespace

ReadResult read_subtitles(const std::string &path, const Limits &limits) {
  try {
    return read_path(path, nullptr, limits);
  } catch (const std::bad_alloc &) {
    return out_of_memory();
  }
}

ReadResult read_streams(const std::string &path, const std::vector<int> &indexes,
                        const Limits &limits) {
  try {
    // A URL is left to FFmpeg's protocols, within the same time budget.
    if (path.find("://") != std::string::npos) {
      ReadResult out;
      read_container(path, &indexes, limits, out);
      return out;
    }
    return read_path(path, &indexes, limits);
  } catch (const std::bad_alloc &) {
    return out_of_memory();
  }
}

ReadResult read_bytes(std::string_view bytes, const Limits &limits) {
  try {
    ReadResult out;
    if (bytes.empty()) {
      out.error = "the file is empty";
    } else if (looks_like_text(bytes.substr(0, kHeadBytes))) {
      if (static_cast<int64_t>(bytes.size()) > limits.max_text_bytes) {
        out.error = "is a text file of " + format_size(static_cast<int64_t>(bytes.size())) +
                    ", more than the " + format_size(limits.max_text_bytes) + " read as subtitles";
      } else {
        read_text(bytes, limits, out);
      }
    } else {
      out.container = true;
      DemuxRequest request;
      request.memory = bytes;
      request.deadline = deadline_of(limits);
      DemuxCounts counts;
      demux(request, limits, out, counts);
    }
    return out;
  } catch (const std::bad_alloc &) {
    return out_of_memory();
  }
}

std::string ffmpeg_versions() {
  auto version = [](const char *name, unsigned v) {
    return std::string(name) + " " + std::to_string(AV_VERSION_MAJOR(v)) + "." +
           std::to_string(AV_VERSION_MINOR(v)) + "." + std::to_string(AV_VERSION_MICRO(v));
  };
  return version("libavformat", avformat_version()) + ", " +
         version("libavcodec", avcodec_version()) + ", " + version("libavutil", avutil_version());
}

}  // namespace host
