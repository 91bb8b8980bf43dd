// Command-line parsing, the help text and time formats.
#include "options.h"

#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace probe {

const char *const kHelpText = R"(NAME
    tpsubm-probe - load subtitle files into tpsubm the way a media player does

SYNOPSIS
    tpsubm-probe [OPTION]... FILE...

DESCRIPTION
    Treats the FILEs as the subtitle tracks of one media file and hands every
    track to the tpsubm library as a player would: the cues with their times
    and text lines, then finalization, language detection, the display name,
    the collection and the primary and secondary selections. It prints what
    the library made of them.

    Only regular files are read: a FIFO, a device or a directory is refused.
    A text subtitle file (one without NUL bytes in its first 64 KiB, or with
    a byte order mark or the byte pattern of UTF-16) is read whole, up to
    32 MiB. Its encoding is found in this order: a byte order mark; the byte
    pattern of UTF-16 (LE or BE) without one; UTF-8, when the text is valid
    UTF-8 or has fewer invalid sequences than valid multi-byte ones; else
    uchardet. It is converted to UTF-8 (iconv), each invalid byte sequence
    replaced by U+FFFD and counted in a warning. The format is then found by
    FFmpeg from the content, never from the file name: SubRip, ASS/SSA,
    WebVTT, MicroDVD, SAMI, MPL2, SubViewer and every other text subtitle
    format FFmpeg reads.

    Any other file is a container (Matroska, MP4, MPEG-TS, ...), opened by
    FFmpeg from the file and read packet by packet: only its subtitle streams
    are demuxed and decoded, and its text streams are UTF-8 by their format.
    Each of its subtitle streams becomes a track of its own, up to 64 per
    file; the others are named in a warning. Reading stops after 60 seconds
    or 64 MiB of subtitle packets, and a warning says where. Bitmap streams
    (PGS, VobSub, DVB) are listed as tracks without cues; a PGS track gets
    the suffix "pgssub", which the library shows as " PGS".

    Each cue is decoded by FFmpeg into SubStation Alpha text; the Text field
    of every event becomes one line of the cue, with its override blocks and
    "\N" breaks left in for the library's own cleaning. A cue keeps its
    times; one of zero length is shown for no time, and one whose end the
    file leaves open (SAMI, a container without durations) ends where the
    next one starts, after 5 seconds at most. Languages are detected
    by CLD2, one vote per cleaned line, answering ISO 639-1 codes; Chinese
    lines answer "chs" or "cht" by the script of the whole track. Only
    answers CLD2 is sure of, on lines written mostly in words, vote: "♪ ♪"
    and lines of numbers and units (camera telemetry) cast none. Language
    names are translated with ICU's display names, which also name the
    languages the library knows only by their code ("bg": Bulgarian).

    Tracks are numbered in the order of the FILEs and, within a container, of
    its streams. Track n is created with index n (1, 2, 3, ...), so that two
    tracks with the same text, such as a file and a container that carries
    it, both enter the collection; see --index-from-hash.

OPTIONS
    --parent TEXT
        The parent hash text of the media file, given to every track. By
        default it is the longest common prefix of the FILEs' base names, cut
        before its last '.', '-', '_' or space: "lighthouse.en.srt" and
        "lighthouse.fr.ass" give "lighthouse", and one file "movie.en.srt"
        alone gives "movie.en".

    --lang CODE
        The language of the display names, as an ICU locale name or BCP 47
        tag ("fr", "de_CH", "zh-Hant"); C and POSIX mean English. By default
        it is taken from LC_ALL, LC_MESSAGES or LANG, in that order. A
        language ICU has no names in is an error with --lang, and leaves the
        names in English when it comes from the environment.

    --brackets
        Wrap every display name in "[ ... ]".

    --server-file
        Mark every track as a server-provided file: its display name is
        wrapped in "{ ... }".

    --suffix TEXT
        Append TEXT to the display name of every track but a PGS one (the
        library puts a "." before it unless it starts with one).

    --index-from-hash
        Create every track with index 0, so that the library derives it from
        the file hash. Tracks whose first lines are the same then share an
        index, and the collection refuses all but the first of them; each
        refusal is reported on standard error.

    --at TIME
        Instead of the table, print for every track the cues that are active
        at TIME, as the library lists them, and mark with ">" the one it
        chooses to show. TIME is HH:MM:SS.mmm (the milliseconds may be left
        out or follow a comma) or plain milliseconds. May be given more than
        once.

    --delay ID=MS
        Give track ID a delay of MS milliseconds (may be negative). The track
        is then looked up at TIME plus MS. May be given more than once.

    --primary ID, --secondary ID
        Select the primary and the secondary track; -1 selects none. By
        default the primary track is the first of those with the most text
        lines, and the secondary track the first whose first language is
        none of the primary track's languages.

    --json
        Instead of the table, print the library's result document.

    -h, --help
        Print this help and exit.

    --version
        Print the versions of tpsubm-probe and of the libraries it uses.

OUTPUT
    The table has one row per track: ID (the library's handle id), FILE (and
    "#N" for stream N of a container), FORMAT (FFmpeg's codec name), ENCODING
    (the detected encoding, spelled as in the library's list of encodings;
    utf-8 for the text streams of a container, whose formats prescribe it),
    CUES, LANGUAGES (the two most frequent codes with their line counts),
    CONF (the smaller count divided by the larger), BILINGUAL, NAME (the
    display name, in quotes), HASH (the file hash) and INDEX. The selected
    tracks follow the table.

    With --at, each track's active cues follow a line "track ID FILE NAME":
    the cue's position in the order of adding, its start and end time and
    its lines as the library holds them after detection (markup removed),
    with ">" before the cue shown.

EXIT STATUS
    0   every FILE gave at least one track. What was read only in part is
        told in a line on standard error naming the file, and is not a
        failure: invalid bytes replaced, fewer cues than the text has timing
        lines (FFmpeg's parser dropped some), cues FFmpeg's decoder refuses
        (blank cues that only clear the screen are not counted), streams
        beyond 64 or beyond the library's 64 tracks, the part of a container
        the budget left unread, and what FFmpeg warns about (such as a file
        cut short).
    1   at least one FILE gave no track: a line on standard error names it
        and the cause (it cannot be opened, is not a regular file, is a text
        file over 32 MiB, its encoding cannot be found, FFmpeg does not
        recognise it, it has no subtitle stream, or no cue could be read from
        it), and the other FILEs are still shown.
    2   the command line is wrong.

EXAMPLES
    tpsubm-probe movie.en.srt movie.fr.ass
    tpsubm-probe --lang de --at 00:01:02.500 --delay 1=-250 movie.mkv
    tpsubm-probe --json movie.*.srt
)";

namespace {

bool parse_int(const std::string &text, int64_t low, int64_t high, int32_t &out) {
  if (text.empty()) return false;
  errno = 0;
  char *end = nullptr;
  long long value = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || value < low || value > high) return false;
  out = static_cast<int32_t>(value);
  return true;
}

bool all_digits(const std::string &text, size_t length) {
  if (text.size() != length) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// The value of a run of at most three decimal digits, checked by all_digits.
int64_t digits_value(const std::string &digits) {
  int64_t value = 0;
  std::from_chars(digits.data(), digits.data() + digits.size(), value);
  return value;
}

}  // namespace

bool parse_time(const std::string &text, int32_t &ms) {
  if (text.find(':') == std::string::npos) return parse_int(text, INT32_MIN, INT32_MAX, ms);
  // HH:MM:SS[.mmm]
  size_t c1 = text.find(':');
  size_t c2 = text.find(':', c1 + 1);
  if (c2 == std::string::npos) return false;
  size_t dot = text.find_first_of(".,", c2 + 1);
  std::string hours = text.substr(0, c1);
  std::string minutes = text.substr(c1 + 1, c2 - c1 - 1);
  std::string seconds = text.substr(c2 + 1, dot == std::string::npos ? dot : dot - c2 - 1);
  std::string millis = dot == std::string::npos ? "000" : text.substr(dot + 1);
  if (hours.empty() || hours.size() > 3 || !all_digits(hours, hours.size()) ||
      !all_digits(minutes, 2) || !all_digits(seconds, 2) || !all_digits(millis, 3)) {
    return false;
  }
  int64_t m = digits_value(minutes);
  int64_t s = digits_value(seconds);
  if (m > 59 || s > 59) return false;
  int64_t total = digits_value(hours) * 3600000 + m * 60000 + s * 1000 + digits_value(millis);
  if (total > INT32_MAX) return false;
  ms = static_cast<int32_t>(total);
  return true;
}

std::string default_parent(const std::vector<std::string> &files) {
  std::string common;
  for (size_t i = 0; i < files.size(); i++) {
    std::string base = files[i].substr(files[i].find_last_of('/') + 1);
    if (i == 0) {
      common = base;
      continue;
    }
    size_t n = 0;
    while (n < common.size() && n < base.size() && common[n] == base[n]) n++;
    common.resize(n);
  }
  size_t cut = common.find_last_of(".-_ ");
  if (cut != std::string::npos && cut > 0) common.resize(cut);
  return common.empty() ? "tpsubm-probe" : common;
}

bool parse_options(int argc, char **argv, Options &options, std::string &error) {
  options = Options{};
  bool only_files = false;
  for (int i = 1; i < argc; i++) {
    std::string arg = argv[i];
    if (only_files || arg.empty() || arg[0] != '-' || arg == "-") {
      options.files.push_back(arg);
      continue;
    }
    if (arg == "--") {
      only_files = true;
      continue;
    }
    std::string name = arg;
    std::optional<std::string> inline_value;
    if (size_t eq = arg.find('='); arg.compare(0, 2, "--") == 0 && eq != std::string::npos) {
      name = arg.substr(0, eq);
      inline_value = arg.substr(eq + 1);
    }
    auto value = [&](std::string &out) {
      if (inline_value) {
        out = *inline_value;
        return true;
      }
      if (i + 1 >= argc) {
        error = "option " + name + " needs a value";
        return false;
      }
      out = argv[++i];
      return true;
    };
    auto flag = [&](bool &out) {
      if (inline_value) {
        error = "option " + name + " takes no value";
        return false;
      }
      out = true;
      return true;
    };
    std::string v;
    if (name == "-h" || name == "--help") {
      if (!flag(options.help)) return false;
    } else if (name == "--version") {
      if (!flag(options.version)) return false;
    } else if (name == "--brackets") {
      if (!flag(options.brackets)) return false;
    } else if (name == "--server-file") {
      if (!flag(options.server_file)) return false;
    } else if (name == "--json") {
      if (!flag(options.json)) return false;
    } else if (name == "--index-from-hash") {
      if (!flag(options.index_from_hash)) return false;
    } else if (name == "--parent") {
      if (!value(v)) return false;
      options.parent = v;
    } else if (name == "--lang") {
      if (!value(v)) return false;
      options.lang = v;
    } else if (name == "--suffix") {
      if (!value(v)) return false;
      options.suffix = v;
    } else if (name == "--at") {
      int32_t ms = 0;
      if (!value(v)) return false;
      if (!parse_time(v, ms)) {
        error = "--at: '" + v + "' is not a time (HH:MM:SS.mmm or milliseconds)";
        return false;
      }
      options.at.push_back(ms);
    } else if (name == "--delay") {
      if (!value(v)) return false;
      size_t eq = v.find('=');
      Delay delay{};
      if (eq == std::string::npos || !parse_int(v.substr(0, eq), 0, INT32_MAX, delay.id) ||
          !parse_int(v.substr(eq + 1), INT32_MIN, INT32_MAX, delay.ms)) {
        error = "--delay: '" + v + "' is not ID=MS";
        return false;
      }
      options.delays.push_back(delay);
    } else if (name == "--primary" || name == "--secondary") {
      int32_t id = 0;
      if (!value(v)) return false;
      if (!parse_int(v, -1, INT32_MAX, id)) {
        error = name;
        error.append(": '").append(v).append("' is not a track id");
        return false;
      }
      (name == "--primary" ? options.primary : options.secondary) = id;
    } else {
      error = "unknown option " + name;
      return false;
    }
  }
  if (options.help || options.version) return true;
  if (options.files.empty()) {
    error = "no FILE given";
    return false;
  }
  if (options.json && !options.at.empty()) {
    error = "--json and --at cannot be combined";
    return false;
  }
  return true;
}

}  // namespace probe
