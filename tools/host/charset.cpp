// Encoding detection and conversion: byte order marks, UTF-8 and UTF-16 by
// their byte patterns, uchardet for the rest, iconv for the conversion.
#include "host/charset.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include <iconv.h>
#include <strings.h>
#include <uchardet/uchardet.h>

namespace host {
namespace {

using namespace std::string_view_literals;

constexpr std::string_view kReplacement = "\xEF\xBF\xBD"sv;  // U+FFFD in UTF-8

struct Bom {
  std::string_view bytes;
  const char *encoding;
};

// Longest first: the UTF-32LE mark begins with the UTF-16LE one.
constexpr Bom BOMS[] = {
    {"\xFF\xFE\x00\x00"sv, "UTF-32LE"}, {"\x00\x00\xFE\xFF"sv, "UTF-32BE"},
    {"\xEF\xBB\xBF"sv, "UTF-8"},        {"\xFF\xFE"sv, "UTF-16LE"},
    {"\xFE\xFF"sv, "UTF-16BE"},
};

const Bom *find_bom(std::string_view raw) {
  for (const Bom &bom : BOMS) {
    if (raw.substr(0, bom.bytes.size()) == bom.bytes) return &bom;
  }
  return nullptr;
}

// "UTF-16LE", "UTF-16BE" or nullptr. Subtitle text is full of ASCII (the
// digits and punctuation of its timing lines), which UTF-16 writes with a
// NUL byte on one side of each pair and rarely on the other.
const char *utf16_pattern(std::string_view raw) {
  size_t pairs = std::min<size_t>(raw.size(), 65536) / 2;
  if (pairs < 8) return nullptr;
  size_t zero_even = 0;
  size_t zero_odd = 0;
  for (size_t i = 0; i < pairs; i++) {
    zero_even += raw[2 * i] == '\0';
    zero_odd += raw[2 * i + 1] == '\0';
  }
  if (zero_odd >= pairs / 4 && zero_even <= pairs / 64) return "UTF-16LE";
  if (zero_even >= pairs / 4 && zero_odd <= pairs / 64) return "UTF-16BE";
  return nullptr;
}

// The length of the valid UTF-8 sequence at `i`, or, negated, the length of
// the invalid one there: the longest start of a valid sequence, at least one
// byte (so that "\xE2\x80" before a space is one bad sequence).
int utf8_sequence(std::string_view s, size_t i) {
  auto byte = [&](size_t k) { return static_cast<uint8_t>(s[k]); };
  uint8_t lead = byte(i);
  if (lead < 0x80) return 1;
  int length = 0;
  uint8_t low = 0x80;
  uint8_t high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // no overlong forms
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
  } else {
    return -1;
  }
  for (int k = 1; k < length; k++) {
    if (i + k >= s.size()) return -k;
    uint8_t c = byte(i + k);
    if (k == 1 ? (c < low || c > high) : (c < 0x80 || c > 0xBF)) return -k;
  }
  return length;
}

struct Utf8Scan {
  size_t multibyte = 0;  // valid sequences of two bytes or more
  size_t bad = 0;
};

Utf8Scan scan_utf8(std::string_view s) {
  Utf8Scan scan;
  size_t i = 0;
  while (i < s.size()) {
    int n = utf8_sequence(s, i);
    if (n > 1) scan.multibyte++;
    if (n < 0) scan.bad++;
    i += static_cast<size_t>(n < 0 ? -n : n);
  }
  return scan;
}

// Copies UTF-8 with each invalid sequence replaced. `offset` is where `s`
// starts in the file, for the offset of the first bad sequence.
void repair_utf8(std::string_view s, size_t offset, Decoded &out) {
  out.text.clear();
  out.text.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    int n = utf8_sequence(s, i);
    if (n > 0) {
      out.text.append(s.substr(i, static_cast<size_t>(n)));
      i += static_cast<size_t>(n);
      continue;
    }
    if (out.bad++ == 0) out.first_bad = offset + i;
    out.text.append(kReplacement);
    i += static_cast<size_t>(-n);
  }
}

std::string detect_charset(std::string_view raw) {
  uchardet_t detector = uchardet_new();
  if (detector == nullptr) return "";
  std::string name;
  if (uchardet_handle_data(detector, raw.data(), raw.size()) == 0) {
    uchardet_data_end(detector);
    name = uchardet_get_charset(detector);
  }
  uchardet_delete(detector);
  return name;
}

bool starts_with_ci(const std::string &text, const char *prefix) {
  return strncasecmp(text.c_str(), prefix, std::strlen(prefix)) == 0;
}

// The size of the code unit a bad sequence is skipped by.
size_t unit_size(const std::string &encoding) {
  if (starts_with_ci(encoding, "UTF-16")) return 2;
  if (starts_with_ci(encoding, "UTF-32")) return 4;
  return 1;
}

// Converts `raw` from `encoding` with iconv, replacing what is not valid in
// it one code unit at a time.
bool convert(std::string_view raw, size_t offset, const std::string &encoding, Decoded &out) {
  iconv_t cd = iconv_open("UTF-8", encoding.c_str());
  // (iconv_t)-1 is iconv_open's documented failure value.
  if (cd == reinterpret_cast<iconv_t>(-1)) {  // NOLINT(performance-no-int-to-ptr)
    out.error = "the detected encoding " + encoding + " is not supported by iconv";
    return false;
  }
  size_t unit = unit_size(encoding);
  out.text.clear();
  out.text.reserve(raw.size() + raw.size() / 2 + 16);
  char *in = const_cast<char *>(raw.data());
  size_t in_left = raw.size();
  char buffer[16384];
  while (in_left > 0) {
    char *dst = buffer;
    size_t dst_left = sizeof buffer;
    size_t r = iconv(cd, &in, &in_left, &dst, &dst_left);
    out.text.append(buffer, static_cast<size_t>(dst - buffer));
    if (r != static_cast<size_t>(-1) || errno == E2BIG) continue;
    // EILSEQ: an invalid sequence; EINVAL: the text ends inside one.
    if (out.bad++ == 0) out.first_bad = offset + (raw.size() - in_left);
    out.text.append(kReplacement);
    size_t skip = errno == EINVAL ? in_left : std::min(unit, in_left);
    in += skip;
    in_left -= skip;
  }
  iconv_close(cd);
  return true;
}

}  // namespace

bool looks_like_text(std::string_view head) {
  if (find_bom(head) != nullptr || utf16_pattern(head) != nullptr) return true;
  return head.find('\0') == std::string_view::npos;
}

Decoded decode_text(std::string_view raw) {
  Decoded out;
  if (raw.empty()) {
    out.error = "the file is empty";
    return out;
  }
  const Bom *bom = find_bom(raw);
  size_t offset = bom != nullptr ? bom->bytes.size() : 0;
  std::string_view body = raw.substr(offset);
  const char *utf16 = bom == nullptr ? utf16_pattern(raw) : nullptr;
  if (utf16 == nullptr && (bom == nullptr || std::strcmp(bom->encoding, "UTF-8") == 0)) {
    Utf8Scan scan = scan_utf8(body);
    if (bom != nullptr || scan.bad == 0 || (scan.multibyte > 0 && scan.bad <= scan.multibyte)) {
      out.encoding = bom == nullptr && scan.multibyte == 0 && scan.bad == 0 ? "ASCII" : "UTF-8";
      repair_utf8(body, offset, out);
      out.ok = true;
      return out;
    }
  }
  if (bom != nullptr) {
    out.encoding = bom->encoding;
  } else if (utf16 != nullptr) {
    out.encoding = utf16;
  } else {
    out.encoding = detect_charset(raw);
    if (out.encoding.empty()) {
      out.error = "cannot detect the text encoding";
      return out;
    }
  }
  if (!convert(body, offset, out.encoding, out)) return out;
  if (out.text.compare(0, 3, "\xEF\xBB\xBF") == 0) out.text.erase(0, 3);
  // Many invalid sequences mean the encoding was guessed wrong, and the
  // text would be mostly replacement characters.
  if (out.bad > 16 && out.bad > raw.size() / 64) {
    out.error = "the text is not valid " + out.encoding + ": " + std::to_string(out.bad) +
                " invalid byte sequences, the first at byte " + std::to_string(out.first_bad);
    return out;
  }
  out.ok = true;
  return out;
}

}  // namespace host
