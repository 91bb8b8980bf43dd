// Output. Everything shown about a track is read back from the library
// through its public functions, except what only the host knows (the file,
// the stream, FFmpeg's format name and the number of cues it handed over).
#include "report.h"

#include <algorithm>
#include <cstdio>

#include "host/text.h"
#include "tpsubm.h"

namespace probe {

using host::display_width;
using host::format_time;
using host::pad;
using host::visible_text;
namespace {

std::string or_dash(const char *text) {
  return text != nullptr && *text != '\0' ? text : "-";
}

std::string languages(int32_t id) {
  std::string lang1 = or_dash(tpsubm_language1(id));
  if (lang1 == "-") return lang1;
  std::string out = lang1 + " " + std::to_string(tpsubm_language1_lines(id));
  std::string lang2 = or_dash(tpsubm_language2(id));
  if (lang2 != "-") out += ", " + lang2 + " " + std::to_string(tpsubm_language2_lines(id));
  return out;
}

std::string quoted(const std::string &text) {
  return "\"" + text + "\"";
}

const Track *find_track(const std::vector<Track> &tracks, int32_t id) {
  for (const Track &track : tracks) {
    if (track.id == id) return &track;
  }
  return nullptr;
}

std::string describe(const std::vector<Track> &tracks, int32_t id) {
  const Track *track = find_track(tracks, id);
  if (track == nullptr) return "none";
  return std::to_string(id) + " " + quoted(track->name) + " (" + track->label() + ")";
}

// The width of the "  > #N" column: room for the largest position of any
// track and two spaces, at least 9 so that short tracks keep one layout.
size_t position_width(const std::vector<Track> &tracks) {
  int32_t most = 0;
  for (const Track &t : tracks) most = std::max(most, t.cues - 1);
  return std::max<size_t>(9, 5 + std::to_string(most).size() + 2);
}

// One cue as "  > #3   00:00:11.000 --> 00:00:14.500  first line", with ">"
// for the cue shown and the further lines below the first, aligned with it.
void print_cue(bool shown, int32_t id, int32_t position, size_t width) {
  std::string prefix =
      pad(std::string(shown ? "  > #" : "    #") + std::to_string(position), width) +
      format_time(tpsubm_cue_start_ms(id, position)) + " --> " +
      format_time(tpsubm_cue_end_ms(id, position)) + "  ";
  std::vector<std::string> lines;
  int32_t count = tpsubm_cue_line_count(id, position);
  for (int32_t k = 0; k < count; k++) {
    const char *line = tpsubm_cue_line(id, position, k);
    std::string text = visible_text(line != nullptr ? line : "");
    if (!text.empty()) lines.push_back(text);
  }
  if (lines.empty()) lines.emplace_back("(no text)");
  std::printf("%s%s\n", prefix.c_str(), lines[0].c_str());
  std::string indent(display_width(prefix), ' ');
  for (size_t k = 1; k < lines.size(); k++) {
    std::printf("%s%s\n", indent.c_str(), lines[k].c_str());
  }
}

}  // namespace

void print_table(const std::vector<Track> &tracks) {
  const std::vector<std::string> heads = {"ID",   "FILE",      "FORMAT", "ENCODING",
                                          "CUES", "LANGUAGES", "CONF",   "BILINGUAL",
                                          "NAME", "HASH",      "INDEX"};
  std::vector<std::vector<std::string>> rows;
  for (const Track &t : tracks) {
    char confidence[16];
    (void)std::snprintf(confidence, sizeof confidence, "%.2f", tpsubm_confidence(t.id));
    rows.push_back({std::to_string(t.id), t.label(), t.format, or_dash(tpsubm_encoding(t.id)),
                    std::to_string(t.cues), languages(t.id), confidence,
                    tpsubm_is_bilingual(t.id) ? "yes" : "no", quoted(t.name),
                    or_dash(tpsubm_file_hash(t.id)), std::to_string(tpsubm_index(t.id))});
  }
  std::vector<size_t> widths(heads.size());
  for (size_t c = 0; c < heads.size(); c++) {
    widths[c] = display_width(heads[c]);
    for (const auto &row : rows) widths[c] = std::max(widths[c], display_width(row[c]));
  }
  auto print_row = [&](const std::vector<std::string> &cells) {
    std::string line;
    for (size_t c = 0; c < cells.size(); c++) {
      line += c + 1 < cells.size() ? pad(cells[c], widths[c]) + "  " : cells[c];
    }
    std::printf("%s\n", line.c_str());
  };
  print_row(heads);
  for (const auto &row : rows) print_row(row);
}

void print_selection(const std::vector<Track> &tracks) {
  std::printf("\nprimary:   %s\nsecondary: %s\n", describe(tracks, tpsubm_primary()).c_str(),
              describe(tracks, tpsubm_secondary()).c_str());
}

void print_at(const std::vector<Track> &tracks, int32_t time_ms) {
  std::printf("at %s\n", format_time(time_ms).c_str());
  size_t width = position_width(tracks);
  for (const Track &t : tracks) {
    int32_t track_time = tpsubm_effective_ms(t.id, time_ms, 0, 0, 0);
    std::string head = "track " + std::to_string(t.id) + "  " + t.label() + "  " + quoted(t.name);
    int32_t delay = tpsubm_delay_ms(t.id);
    if (delay != 0) {
      head += "  (delay " + std::string(delay > 0 ? "+" : "") + std::to_string(delay) +
              " ms, track time " + format_time(track_time) + ")";
    }
    std::printf("%s\n", head.c_str());
    if (!t.text) {
      std::printf("    bitmap subtitles: no text\n");
      continue;
    }
    int32_t shown = tpsubm_cue_at(t.id, track_time);
    tpsubm_active_cues(t.id, track_time);
    // Copied first: the list belongs to the library and is replaced by the
    // next query of its kind.
    std::vector<int32_t> active;
    active.reserve(static_cast<size_t>(std::max(0, tpsubm_active_count())));
    for (int32_t i = 0; i < tpsubm_active_count(); i++) active.push_back(tpsubm_active_index(i));
    if (shown >= 0 && std::find(active.begin(), active.end(), shown) == active.end()) {
      print_cue(true, t.id, shown, width);
    }
    for (int32_t position : active) print_cue(position == shown, t.id, position, width);
    if (shown < 0 && active.empty()) std::printf("    nothing on screen\n");
  }
}

}  // namespace probe
