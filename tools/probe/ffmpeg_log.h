// FFmpeg's own messages while the probe reads a file. The probe is the
// program, so it may take over FFmpeg's log for the whole process; the host
// layer never does, and a player keeps its own log.
#ifndef TPSUBM_PROBE_FFMPEG_LOG_H
#define TPSUBM_PROBE_FFMPEG_LOG_H

#include <string>
#include <vector>

namespace probe {

// Sends FFmpeg's warnings and errors to a list of the calling thread
// instead of standard error, each message once.
void collect_ffmpeg_log();

// The messages collected on this thread since the last call, in order.
std::vector<std::string> take_ffmpeg_log();

}  // namespace probe

#endif
