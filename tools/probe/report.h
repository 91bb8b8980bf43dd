// What the probe prints: the track table and the cues at a time.
#ifndef TPSUBM_PROBE_REPORT_H
#define TPSUBM_PROBE_REPORT_H

#include <cstdint>
#include <string>
#include <vector>

namespace probe {

// One track the probe loaded into the library.
struct Track {
  int32_t id = -1;     // the library's handle id
  std::string file;    // the file as named on the command line
  int stream = -1;     // the stream index within a container, -1 for a text file
  std::string format;  // FFmpeg's codec name
  bool text = false;   // false: bitmap subtitles without cues
  int32_t cues = 0;    // cues handed to the library
  std::string name;    // the display name, read once after detection
  bool in_collection = false;

  std::string label() const { return stream < 0 ? file : file + "#" + std::to_string(stream); }
};

void print_table(const std::vector<Track> &tracks);
void print_selection(const std::vector<Track> &tracks);
void print_at(const std::vector<Track> &tracks, int32_t time_ms);

}  // namespace probe

#endif
