// The command line of tpsubm-probe.
#ifndef TPSUBM_PROBE_OPTIONS_H
#define TPSUBM_PROBE_OPTIONS_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace probe {

struct Delay {
  int32_t id;
  int32_t ms;
};

struct Options {
  std::vector<std::string> files;
  std::optional<std::string> parent;
  std::optional<std::string> lang;
  bool brackets = false;
  bool server_file = false;
  std::string suffix;
  bool json = false;
  std::vector<int32_t> at;
  std::vector<Delay> delays;
  std::optional<int32_t> primary;
  std::optional<int32_t> secondary;
  bool index_from_hash = false;
  bool help = false;
  bool version = false;
};

// Parses argv. Returns false with `error` set for a usage error.
bool parse_options(int argc, char **argv, Options &options, std::string &error);

extern const char *const kHelpText;

// "HH:MM:SS.mmm" (also with "," before the milliseconds, and without them)
// or plain milliseconds, optionally negative.
bool parse_time(const std::string &text, int32_t &ms);

// The parent hash text used when --parent is not given: the longest common
// prefix of the files' base names, cut before its last '.', '-', '_' or
// space ("lighthouse.en.srt" and "lighthouse.fr.ass" give "lighthouse").
std::string default_parent(const std::vector<std::string> &files);

}  // namespace probe

#endif
