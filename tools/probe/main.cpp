// tpsubm-probe: the reference host of tpsubm. It does around the library
// what a media player does: read subtitle files and containers with FFmpeg,
// feed the cues, register a detector and a translator, build the collection
// and select tracks, then show what the library answers.
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "host/demux.h"
#include "host/input.h"
#include "host/language.h"
#include "options.h"
#include "report.h"
#include "tpsubm.h"

namespace probe {
namespace {

using host::Cue;
using host::Demuxed;
using host::Input;
using host::Stream;

constexpr const char *kProgram = "tpsubm-probe";

// Everything the library needs to hold one file's tracks, or the cause why
// it cannot. The file's tracks are added to `tracks` only when all of them
// were built; on failure those already created are destroyed again.
class FileLoader {
 public:
  FileLoader(const Options &options, const std::string &parent, host::Detector &detector)
      : options_(options), parent_(parent), detector_(detector) {}

  bool load(const std::string &path, std::vector<Track> &tracks, std::string &error) {
    std::string raw;
    Input input;
    Demuxed demuxed;
    if (!host::read_file(path, raw, error) || !host::decode_input(std::move(raw), input, error) ||
        !host::demux(input.bytes, demuxed, error)) {
      return false;
    }
    std::vector<Track> made;
    for (const Stream &stream : demuxed.streams) {
      Track track;
      track.file = path;
      track.stream = input.is_text ? -1 : stream.index;
      track.format = stream.codec;
      track.text = stream.text;
      track.cues = static_cast<int32_t>(stream.cues.size());
      // Text in a container is UTF-8 by the container's own rules.
      std::string encoding;
      if (stream.text)
        encoding = input.is_text ? host::library_encoding_name(input.encoding) : "utf-8";
      int32_t index =
          options_.index_from_hash ? 0 : next_index_ + static_cast<int32_t>(made.size());
      bool ok = build(stream, index, encoding, track, error);
      if (track.id >= 0) made.push_back(track);
      if (!ok) {
        if (!input.is_text) error = "stream " + std::to_string(stream.index) + ": " + error;
        for (const Track &t : made) tpsubm_destroy(t.id);
        return false;
      }
    }
    for (const Stream &stream : demuxed.streams) {
      if (stream.skipped == 0) continue;
      std::string where = input.is_text ? path : path + "#" + std::to_string(stream.index);
      std::fprintf(stderr, "%s: %s: skipped %d cue%s FFmpeg cannot decode (first: %s)\n", kProgram,
                   where.c_str(), stream.skipped, stream.skipped == 1 ? "" : "s",
                   stream.first_skipped.c_str());
    }
    if (!demuxed.warnings.empty()) {
      std::string more;
      if (demuxed.warnings.size() > 1) {
        more = " (and " + std::to_string(demuxed.warnings.size() - 1) + " more)";
      }
      std::fprintf(stderr, "%s: %s: FFmpeg warns: %s%s\n", kProgram, path.c_str(),
                   demuxed.warnings[0].c_str(), more.c_str());
    }
    next_index_ += static_cast<int32_t>(made.size());
    tracks.insert(tracks.end(), made.begin(), made.end());
    return true;
  }

 private:
  bool library_error(const char *what, std::string &error) {
    error = std::string("the library refused to ") + what + ": " + tpsubm_last_error();
    return false;
  }

  bool build(const Stream &stream, int32_t index, const std::string &encoding, Track &track,
             std::string &error) {
    const char *suffix = options_.suffix.empty() ? nullptr : options_.suffix.c_str();
    if (stream.codec == "hdmv_pgs_subtitle") suffix = "pgssub";
    track.id = tpsubm_create(parent_.c_str(), index, 0, options_.brackets ? 1 : 0, 0, suffix);
    if (track.id < 0) return library_error("create a track", error);
    for (const Cue &cue : stream.cues) {
      int32_t position = tpsubm_add_cue(track.id, cue.start_ms, cue.end_ms);
      if (position < 0) return library_error("add a cue", error);
      for (const std::string &line : cue.lines) {
        if (tpsubm_add_cue_line(track.id, position, line.c_str()) != TPSUBM_OK) {
          return library_error("add a cue line", error);
        }
      }
    }
    if (tpsubm_finalize(track.id) != TPSUBM_OK) return library_error("finalize the track", error);
    if (!encoding.empty()) tpsubm_set_encoding(track.id, encoding.c_str());
    if (options_.server_file) tpsubm_set_tovrin_server_file(track.id, 1);
    if (stream.text) {
      // The detector learns the track's Chinese script from all its lines.
      std::vector<std::string> lines;
      for (const Cue &cue : stream.cues)
        lines.insert(lines.end(), cue.lines.begin(), cue.lines.end());
      detector_.prepare(lines);
      // A track whose lines all go unanswered ("♪ ♪") simply has no language.
      int32_t status = tpsubm_detect_languages(track.id);
      if (status != TPSUBM_OK && status != TPSUBM_NO_LANGUAGES) {
        return library_error("detect the languages", error);
      }
    }
    return true;
  }

  const Options &options_;
  const std::string &parent_;
  host::Detector &detector_;
  int32_t next_index_ = 1;
};

int32_t line_total(const Track &track) {
  int32_t total = 0;
  for (int32_t p = 0; p < track.cues; p++) total += tpsubm_cue_line_count(track.id, p);
  return total;
}

std::string lang(const char *code) {
  return code != nullptr ? code : "";
}

// The first member with the most lines, or -1 when no member has a line.
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

// The first other member whose first language is none of the primary's.
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

bool known_id(const std::vector<Track> &tracks, int32_t id) {
  for (const Track &t : tracks) {
    if (t.id == id) return true;
  }
  return false;
}

int usage_error(const std::string &message) {
  std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", kProgram, message.c_str(),
               kProgram);
  return 2;
}

int run(int argc, char **argv) {
  Options options;
  std::string error;
  if (!parse_options(argc, argv, options, error)) return usage_error(error);
  if (options.help) {
    std::fputs(kHelpText, stdout);
    return 0;
  }
  if (options.version) {
    std::printf("%s %s\ntpsubm %s\n%s\nCLD2 %s\nICU %s\n", kProgram, TPSUBM_PROBE_VERSION,
                TPSUBM_VERSION_STRING, host::ffmpeg_versions().c_str(),
                host::cld2_version().c_str(), host::icu_version().c_str());
    return 0;
  }
  std::string parent = options.parent.value_or(default_parent(options.files));
  if (parent.empty()) return usage_error("--parent: the text must not be empty");

  host::Translator translator;
  std::string language =
      options.lang ? host::locale_name(*options.lang) : host::language_from_environment();
  if (!translator.set_language(language) && options.lang) {
    return usage_error("--lang: ICU has no names in '" + language + "'");
  }
  host::quiet_ffmpeg();
  // The probe is a program of its own: it may set the allocator for CLD2.
  host::tune_allocator_for_detection();
  host::Detector detector;
  tpsubm_set_detector(host::Detector::detect, &detector);
  tpsubm_set_translator(host::Translator::translate, &translator);

  std::vector<Track> tracks;
  bool failed = false;
  FileLoader loader(options, parent, detector);
  for (const std::string &file : options.files) {
    if (!loader.load(file, tracks, error)) {
      std::fprintf(stderr, "%s: %s: %s\n", kProgram, file.c_str(), error.c_str());
      failed = true;
    }
  }

  for (Track &t : tracks) {
    t.name = host::display_name(t.id, translator);
    if (tpsubm_collection_add(t.id) == TPSUBM_OK) {
      t.in_collection = true;
    } else {
      std::fprintf(stderr, "%s: %s: not in the collection: %s\n", kProgram, t.label().c_str(),
                   tpsubm_last_error());
    }
  }
  for (const Delay &delay : options.delays) {
    if (!known_id(tracks, delay.id)) {
      return usage_error("--delay: no track has the id " + std::to_string(delay.id));
    }
    tpsubm_set_delay_ms(delay.id, delay.ms);
  }
  for (auto [given, name] :
       {std::pair{options.primary, "--primary"}, std::pair{options.secondary, "--secondary"}}) {
    if (given && *given >= 0 && !known_id(tracks, *given)) {
      return usage_error(std::string(name) + ": no track has the id " + std::to_string(*given));
    }
  }
  int32_t primary = options.primary.value_or(default_primary(tracks));
  int32_t secondary = options.secondary.value_or(default_secondary(tracks, primary));
  tpsubm_set_primary(primary);
  tpsubm_set_secondary(secondary);

  if (options.json) {
    std::printf("%s\n", tpsubm_result_json());
  } else if (!options.at.empty()) {
    for (size_t i = 0; i < options.at.size(); i++) {
      if (i > 0) std::printf("\n");
      print_at(tracks, options.at[i]);
    }
  } else if (!tracks.empty()) {
    print_table(tracks);
    print_selection(tracks);
  }
  std::fflush(stdout);
  tpsubm_clear();
  tpsubm_set_translator(nullptr, nullptr);
  tpsubm_set_detector(nullptr, nullptr);
  return failed ? 1 : 0;
}

}  // namespace
}  // namespace probe

int main(int argc, char **argv) {
  return probe::run(argc, argv);
}
