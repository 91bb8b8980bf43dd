// Fuzzes the host layer's reading: the input is a file's bytes (text or a
// container), read as the reader reads a file and loaded into the library as
// the probe loads it. Checks what holds for every input: a read either fails
// with a cause or gives at least one stream, a text file gives one stream and
// cues, no cue ends before it starts, the loader keeps a track per stream,
// each with the cues it was given, and the library ends with every track
// released.
#include <mutex>
#include <string_view>

#include "fuzz_support.h"
#include "host/loader.h"
#include "host/reader.h"
#include "tpsubm.h"

extern "C" {
#include <libavutil/log.h>
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  // The fuzzer is the program: it may silence FFmpeg's log for the process.
  static std::once_flag quiet;
  std::call_once(quiet, [] { av_log_set_level(AV_LOG_QUIET); });
  static host::Translator names;

  host::Limits limits;
  limits.max_text_bytes = 1 << 20;
  limits.max_packet_bytes = 1 << 20;
  limits.max_milliseconds = 2000;
  std::string_view bytes(reinterpret_cast<const char *>(data), size);
  host::ReadResult read = host::read_bytes(bytes, limits);
  FUZZ_CHECK(read.ok == read.error.empty());
  if (!read.ok) {
    FUZZ_CHECK(read.streams.empty());
    return 0;
  }
  FUZZ_CHECK(!read.streams.empty());
  FUZZ_CHECK(static_cast<int>(read.streams.size()) <= limits.max_streams);
  if (!read.container) {
    FUZZ_CHECK(read.streams.size() == 1);
    FUZZ_CHECK(!read.streams[0].cues.empty());
    FUZZ_CHECK(!read.encoding.empty());
  }
  for (const host::Stream &stream : read.streams) {
    for (const host::Cue &cue : stream.cues) {
      FUZZ_CHECK(cue.end_ms >= cue.start_ms);
      FUZZ_CHECK(!cue.lines.empty());
    }
  }

  host::LoadOptions options;
  options.parent = "fuzz";
  host::Loader loader(options);
  host::Loaded loaded = loader.load("input", read);
  FUZZ_CHECK(loaded.ok);
  FUZZ_CHECK(loaded.tracks.size() == read.streams.size());
  for (size_t k = 0; k < loaded.tracks.size(); k++) {
    FUZZ_CHECK(loaded.tracks[k].cues == static_cast<int32_t>(read.streams[k].cues.size()));
    FUZZ_CHECK(tpsubm_cue_start_ms(loaded.tracks[k].id, 0) ==
               (read.streams[k].cues.empty() ? 0 : read.streams[k].cues[0].start_ms));
  }
  std::vector<std::string> warnings;
  host::add_to_collection(loaded.tracks, names, warnings);
  int32_t primary = host::default_primary(loaded.tracks);
  tpsubm_set_primary(primary);
  tpsubm_set_secondary(host::default_secondary(loaded.tracks, primary));
  tpsubm_clear();
  return 0;
}
