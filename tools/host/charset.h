// Text encodings of subtitle files: telling text from a binary container,
// finding the encoding (byte order marks, UTF-8 by its own rules, UTF-16 by
// its byte pattern, else uchardet) and converting to UTF-8 with invalid
// bytes replaced. Internal to the reader; thread-safe.
#ifndef TPSUBM_HOST_CHARSET_H
#define TPSUBM_HOST_CHARSET_H

#include <cstddef>
#include <string>
#include <string_view>

namespace host {

// Whether a file that begins with `head` (its first bytes, up to 64 KiB) is
// text: it has a byte order mark, the byte pattern of UTF-16, or no NUL
// byte. A container has NUL bytes within its first bytes.
bool looks_like_text(std::string_view head);

struct Decoded {
  bool ok = false;
  std::string error;     // why the text cannot be read
  std::string text;      // UTF-8 without a byte order mark
  std::string encoding;  // "UTF-8", "ASCII", "UTF-16LE", "WINDOWS-1252", ...
  size_t bad = 0;        // invalid byte sequences, each replaced by U+FFFD
  size_t first_bad = 0;  // the byte offset of the first of them in the file
};

// Finds the encoding of `raw` and converts it to UTF-8. Valid UTF-8 is taken
// as UTF-8 before any detector is asked, and so is UTF-8 with fewer invalid
// sequences than valid multi-byte ones. A few invalid sequences in any
// encoding are replaced; many mean the encoding is wrong and fail.
Decoded decode_text(std::string_view raw);

}  // namespace host

#endif
