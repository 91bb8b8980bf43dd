// Reading a subtitle file the way a player does: the whole file into memory,
// its encoding found and the text converted to UTF-8 before FFmpeg sees it.
#ifndef TPSUBM_HOST_INPUT_H
#define TPSUBM_HOST_INPUT_H

#include <string>

namespace host {

// One file as it is handed to the demuxer.
struct Input {
  std::string bytes;     // UTF-8 text without a BOM, or the raw bytes of a container
  bool is_text = false;  // false: a binary container, handed over unchanged
  std::string encoding;  // the detected encoding as uchardet names it ("" for containers)
};

// Reads `path` whole. Returns false with `error` set to the cause, worded
// for a person ("cannot open: No such file or directory").
bool read_file(const std::string &path, std::string &bytes, std::string &error);

// Decides whether the bytes are text or a container and, for text, detects
// the encoding and converts to UTF-8. Returns false with `error` set when
// the encoding cannot be found or the bytes are not valid in it.
bool decode_input(std::string raw, Input &out, std::string &error);

// The encoding name to record with tpsubm_set_encoding: the spelling of the
// library's own list where the list has the encoding (compared without
// regard to case, with a few aliases such as ISO-8859-1 -> Windows-1252),
// else the detector's name unchanged.
std::string library_encoding_name(const std::string &detected);

}  // namespace host

#endif
