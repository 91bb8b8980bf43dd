// tpsubm-probe: the reference host of tpsubm. It does around the library
// what a media player does: read subtitle files and containers with FFmpeg,
// feed the cues, register a detector and a translator, build the collection
// and select tracks, then show what the library answers.
#include <malloc.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "ffmpeg_log.h"
#include "host/language.h"
#include "host/loader.h"
#include "host/reader.h"
#include "options.h"
#include "report.h"
#include "tpsubm.h"

namespace probe {
namespace {

constexpr const char *kProgram = "tpsubm-probe";

void warn(const std::string &where, const std::string &message) {
  // Standard error is the last place to report to: a failed write has nowhere to go.
  (void)std::fprintf(stderr, "%s: %s: %s\n", kProgram, where.c_str(), message.c_str());
}

// Reads and loads one file, reporting on standard error. False when the file
// gave no track.
bool load_file(const std::string &file, host::Loader &loader, std::vector<Track> &tracks) {
  host::ReadResult read = host::read_subtitles(file);
  std::vector<std::string> ffmpeg = take_ffmpeg_log();
  host::Loaded loaded = loader.load(file, read);
  if (!loaded.ok) {
    warn(file, loaded.error);
    return false;
  }
  for (const std::string &warning : loaded.warnings) warn(file, warning);
  if (!ffmpeg.empty()) {
    std::string more;
    if (ffmpeg.size() > 1) more = " (and " + std::to_string(ffmpeg.size() - 1) + " more)";
    warn(file, "FFmpeg warns: " + ffmpeg[0] + more);
  }
  tracks.insert(tracks.end(), loaded.tracks.begin(), loaded.tracks.end());
  return true;
}

bool known_id(const std::vector<Track> &tracks, int32_t id) {
  for (const Track &t : tracks) {
    if (t.id == id) return true;
  }
  return false;
}

int usage_error(const std::string &message) {
  (void)std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", kProgram,
                     message.c_str(), kProgram);
  return 2;
}

int run(int argc, char **argv) {
  Options options;
  std::string error;
  if (!parse_options(argc, argv, options, error)) return usage_error(error);
  if (options.help) {
    return std::fputs(kHelpText, stdout) < 0 ? 1 : 0;
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
  collect_ffmpeg_log();
  // The probe is a program of its own: it may set the allocator for CLD2,
  // whose scratch buffers would otherwise make the heap grow and shrink
  // around every line. This also fixes the mmap threshold at its default,
  // where glibc would raise it after the first large free; CLD2's buffers
  // stay below it either way.
  mallopt(M_TRIM_THRESHOLD, 16 * 1024 * 1024);
  tpsubm_set_translator(host::Translator::translate, &translator);

  std::vector<Track> tracks;
  bool failed = false;
  host::LoadOptions load_options;
  load_options.parent = parent;
  load_options.brackets = options.brackets;
  load_options.server_file = options.server_file;
  load_options.suffix = options.suffix;
  load_options.index_from_hash = options.index_from_hash;
  host::Loader loader(load_options);
  for (const std::string &file : options.files) {
    if (!load_file(file, loader, tracks)) failed = true;
  }
  std::vector<std::string> refusals;
  host::add_to_collection(tracks, translator, refusals);
  for (const std::string &refusal : refusals) {
    (void)std::fprintf(stderr, "%s: %s\n", kProgram, refusal.c_str());
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
  int32_t primary = options.primary.value_or(host::default_primary(tracks));
  int32_t secondary = options.secondary.value_or(host::default_secondary(tracks, primary));
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
  // A full disk or a closed pipe must not pass for a complete report.
  if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
    warn("standard output", "cannot write the report");
    failed = true;
  }
  tpsubm_clear();
  tpsubm_set_translator(nullptr, nullptr);
  return failed ? 1 : 0;
}

}  // namespace
}  // namespace probe

int main(int argc, char **argv) {
  return probe::run(argc, argv);
}
