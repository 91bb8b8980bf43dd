// Loading what the reader read into the library, the way a player does:
// create a track per stream, add its cues, finalize, record the encoding,
// detect the languages, name the tracks and put them into the collection,
// then choose the primary and secondary tracks.
//
// Everything here calls the library, so it runs on the one thread that
// makes the program's tpsubm_* calls. It prints nothing: failures and
// warnings come back as data.
#ifndef TPSUBM_HOST_LOADER_H
#define TPSUBM_HOST_LOADER_H

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "host/language.h"
#include "host/reader.h"

namespace host {

// One track the host loaded into the library.
struct Track {
  int32_t id = -1;       // the library's handle id
  std::string file;      // the file as the host named it
  int stream = -1;       // the stream index within a container, -1 for a text file
  std::string format;    // FFmpeg's codec name
  bool text = false;     // false: bitmap subtitles without cues
  int32_t cues = 0;      // cues handed to the library
  int32_t lines = 0;     // text lines handed to the library
  std::string language;  // the container's language tag, "" when none
  std::string title;     // the container's title tag, "" when none
  std::string name;      // the display name, read once by add_to_collection
  bool in_collection = false;

  // "movie.srt", or "movie.mkv#2" for stream 2 of a container.
  std::string label() const { return stream < 0 ? file : file + "#" + std::to_string(stream); }
};

struct LoadOptions {
  std::string parent;  // the parent hash text of the media file, given to every track
  bool brackets = false;
  bool server_file = false;
  std::string suffix;  // for every track but a PGS one, which gets "pgssub"
  // False: tracks get the indexes 1, 2, 3, ... in loading order, so that two
  // tracks with the same text both enter the collection. True: index 0, the
  // library derives it from the file hash.
  bool index_from_hash = false;
};

struct Loaded {
  bool ok = false;
  std::string error;                  // why no track of the file was kept; "" when ok
  std::vector<Track> tracks;          // the tracks made, in stream order
  std::vector<std::string> warnings;  // as the reader's, without the file name
};

class Loader {
 public:
  explicit Loader(LoadOptions options) : options_(std::move(options)) {}

  // Loads every stream of `read` (the result of reading `file`) into the
  // library, detecting the languages of the text tracks. A failed read is
  // returned as it is. When the library's table is full, the streams that
  // fit are kept and the others named in a warning; any other refusal of the
  // library destroys the file's tracks again and fails.
  //
  // Detection runs with the loader's own Detector registered, which is
  // removed again afterwards (tpsubm_set_detector(nullptr, nullptr)).
  //
  // `answers`, when given, holds one entry per stream of `read`, in order:
  // the detector's answers computed ahead on another thread
  // (precompute_answers(stream.cues)), or null to detect on the spot.
  Loaded load(const std::string &file, const ReadResult &read,
              const std::vector<std::shared_ptr<const TrackAnswers>> *answers = nullptr);

 private:
  LoadOptions options_;
  Detector detector_;
  int32_t next_index_ = 1;
};

// The encoding name to record with tpsubm_set_encoding: the spelling of the
// library's own list where the list has the encoding (compared without
// regard to case, with a few aliases such as ISO-8859-1 -> Windows-1252),
// else the detector's name unchanged.
std::string library_encoding_name(const std::string &detected);

// Reads each track's display name (with languages outside the library's
// table named by `names`) and adds the track to the collection, in order.
// A track the collection refuses (a duplicate) stays out, with a warning
// "FILE: not in the collection: CAUSE".
void add_to_collection(std::vector<Track> &tracks, const Translator &names,
                       std::vector<std::string> &warnings);

// The default selection: the primary is the first member with the most text
// lines (-1 when no member has one); the secondary the first other member
// whose first language is none of the primary's languages (-1 when none).
int32_t default_primary(const std::vector<Track> &tracks);
int32_t default_secondary(const std::vector<Track> &tracks, int32_t primary);

}  // namespace host

#endif
