#include "ffmpeg_log.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

extern "C" {
#include <libavutil/log.h>
}

namespace probe {
namespace {

// FFmpeg logs on the thread that calls it, so each reading thread collects
// its own file's messages.
thread_local std::vector<std::string> t_log;

void collect(void *, int level, const char *format, va_list args) {
  if (level > AV_LOG_WARNING) return;
  char text[512];
  va_list copy;
  va_copy(copy, args);
  // A longer message is cut; what fits is enough for the report.
  (void)std::vsnprintf(text, sizeof text, format, copy);
  va_end(copy);
  // No exception may leave a callback that C code calls.
  try {
    std::string message(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) {
      message.pop_back();
    }
    if (message.empty()) return;
    if (std::find(t_log.begin(), t_log.end(), message) == t_log.end()) {
      t_log.push_back(std::move(message));
    }
  } catch (...) {
  }
}

}  // namespace

void collect_ffmpeg_log() {
  av_log_set_callback(collect);
}

std::vector<std::string> take_ffmpeg_log() {
  std::vector<std::string> log;
  log.swap(t_log);
  return log;
}

}  // namespace probe
