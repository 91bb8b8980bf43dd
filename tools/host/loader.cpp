// Loading streams into the library and the default selection.
#include "host/loader.h"

#include <cstring>

#include <strings.h>

#include "host/language.h"
#include "host/text.h"
#include "tpsubm.h"

namespace host {
namespace {

// Why the library refused, for a person.
std::string refused(const char *what) {
  return std::string("the library refused to ") + what + ": " + tpsubm_last_error();
}

std::string lang(const char *code) {
  return code != nullptr ? code : "";
}

int32_t line_total(const Track &track) {
  int32_t total = 0;
  for (int32_t p = 0; p < track.cues; p++) total += tpsubm_cue_line_count(track.id, p);
  return total;
}

// Creates the track, adds its cues, finalizes it and detects its languages.
// Returns "" or the cause of a failure; track.id is set once created.
std::string build(const LoadOptions &options, const Stream &stream, int32_t index,
                  const std::string &encoding, Detector &detector,
                  const std::shared_ptr<const TrackAnswers> &answers, Track &track) {
  const char *suffix = options.suffix.empty() ? nullptr : options.suffix.c_str();
  if (stream.codec == "hdmv_pgs_subtitle") suffix = "pgssub";
  track.id = tpsubm_create(options.parent.c_str(), index, 0, options.brackets ? 1 : 0, 0, suffix);
  if (track.id < 0) return refused("create a track");
  for (const Cue &cue : stream.cues) {
    int32_t position = tpsubm_add_cue(track.id, cue.start_ms, cue.end_ms);
    if (position < 0) return refused("add a cue");
    for (const std::string &line : cue.lines) {
      if (tpsubm_add_cue_line(track.id, position, line.c_str()) != TPSUBM_OK) {
        return refused("add a cue line");
      }
      track.lines++;
    }
  }
  if (tpsubm_finalize(track.id) != TPSUBM_OK) return refused("finalize the track");
  if (!encoding.empty()) tpsubm_set_encoding(track.id, encoding.c_str());
  if (options.server_file) tpsubm_set_tovrin_server_file(track.id, 1);
  if (stream.text) {
    // The detector learns the track's Chinese script from all its lines.
    if (answers) {
      detector.use(answers);
    } else {
      std::vector<std::string> lines;
      for (const Cue &cue : stream.cues)
        lines.insert(lines.end(), cue.lines.begin(), cue.lines.end());
      detector.prepare(lines);
    }
    tpsubm_set_detector(Detector::detect, &detector);
    int32_t status = tpsubm_detect_languages(track.id);
    tpsubm_set_detector(nullptr, nullptr);
    // A track whose lines all go unanswered ("♪ ♪") simply has no language.
    if (status != TPSUBM_OK && status != TPSUBM_NO_LANGUAGES)
      return refused("detect the languages");
  }
  return "";
}

}  // namespace

Loaded Loader::load(const std::string &file, const ReadResult &read,
                    const std::vector<std::shared_ptr<const TrackAnswers>> *answers) {
  Loaded out;
  if (!read.ok) {
    out.error = read.error;
    return out;
  }
  out.warnings = read.warnings;
  std::vector<int> left_out;
  for (size_t k = 0; k < read.streams.size(); k++) {
    const Stream &stream = read.streams[k];
    if (!left_out.empty()) {
      left_out.push_back(stream.index);
      continue;
    }
    Track track;
    track.file = file;
    track.stream = read.container ? stream.index : -1;
    track.format = stream.codec;
    track.text = stream.text;
    track.cues = static_cast<int32_t>(stream.cues.size());
    track.language = stream.language;
    track.title = stream.title;
    // Text in a container is UTF-8 by the container's own rules.
    std::string encoding;
    if (stream.text) encoding = read.container ? "utf-8" : library_encoding_name(read.encoding);
    int32_t index =
        options_.index_from_hash ? 0 : next_index_ + static_cast<int32_t>(out.tracks.size());
    std::shared_ptr<const TrackAnswers> ahead;
    if (answers != nullptr && k < answers->size()) ahead = (*answers)[k];
    std::string error = build(options_, stream, index, encoding, detector_, ahead, track);
    if (track.id >= 0) out.tracks.push_back(track);
    if (error.empty()) continue;
    if (track.id < 0 && std::strcmp(tpsubm_last_error(), "too many handles") == 0) {
      left_out.push_back(stream.index);
      continue;
    }
    if (read.container) error.insert(0, "stream " + std::to_string(stream.index) + ": ");
    for (const Track &t : out.tracks) tpsubm_destroy(t.id);
    out.tracks.clear();
    out.error = error;
    return out;
  }
  if (!left_out.empty()) {
    if (out.tracks.empty() && !read.container) {
      out.error = "the library holds " + std::to_string(TPSUBM_MAX_HANDLES) +
                  " tracks and has no room for this one";
      return out;
    }
    out.warnings.push_back("the library holds " + std::to_string(TPSUBM_MAX_HANDLES) +
                           " tracks: " + stream_list(left_out) + " left out");
  }
  next_index_ += static_cast<int32_t>(out.tracks.size());
  out.ok = true;
  return out;
}

std::string library_encoding_name(const std::string &detected) {
  struct Alias {
    const char *detected;
    const char *listed;
  };
  // Names the detector spells differently from the list. ISO-8859-1 text is
  // read as Windows-1252, which is what browsers do with it too.
  static constexpr Alias ALIASES[] = {
      {"ISO-8859-1", "Windows-1252"},
      {"ASCII", "us-ascii"},
      {"UTF-16LE", "utf-16"},
      {"UTF-32LE", "utf-32"},
      {"GBK", "gb2312"},
      {"IBM866", "cp866"},
      {"TIS-620", "windows-874"},
      {"MAC-CYRILLIC", "x-mac-cyrillic"},
      {"MAC-CENTRALEUROPE", "x-mac-ce"},
  };
  for (const Alias &alias : ALIASES) {
    if (strcasecmp(detected.c_str(), alias.detected) == 0) return alias.listed;
  }
  int32_t n = tpsubm_codepage_count();
  for (int32_t i = 0; i < n; i++) {
    const char *name = tpsubm_codepage(i);
    if (name != nullptr && strcasecmp(detected.c_str(), name) == 0) return name;
  }
  return detected;
}

void add_to_collection(std::vector<Track> &tracks, const Translator &names,
                       std::vector<std::string> &warnings) {
  for (Track &t : tracks) {
    t.name = display_name(t.id, names);
    if (tpsubm_collection_add(t.id) == TPSUBM_OK) {
      t.in_collection = true;
    } else {
      warnings.push_back(t.label() + ": not in the collection: " + tpsubm_last_error());
    }
  }
}

int32_t default_primary(const std::vector<Track> &tracks) {
  int32_t primary = -1;
  int32_t most = 0;
  for (const Track &t : tracks) {
    int32_t lines = t.in_collection ? line_total(t) : 0;
    if (lines > most) {
      most = lines;
      primary = t.id;
    }
  }
  return primary;
}

int32_t default_secondary(const std::vector<Track> &tracks, int32_t primary) {
  std::string taken1 = lang(tpsubm_language1(primary));
  std::string taken2 = tpsubm_is_bilingual(primary) ? lang(tpsubm_language2(primary)) : "";
  for (const Track &t : tracks) {
    std::string first = lang(tpsubm_language1(t.id));
    if (t.in_collection && t.id != primary && !first.empty() && first != taken1 &&
        first != taken2) {
      return t.id;
    }
  }
  return -1;
}

}  // namespace host
