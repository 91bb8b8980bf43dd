// File reading, encoding detection (uchardet) and conversion (iconv).
#include "host/input.h"

#include <cerrno>
#include <cstring>
#include <string_view>

#include <fcntl.h>
#include <iconv.h>
#include <strings.h>
#include <sys/stat.h>
#include <uchardet/uchardet.h>
#include <unistd.h>

#include "tpsubm.h"

namespace host {
namespace {

struct Bom {
  std::string_view bytes;
  const char *encoding;
};

using namespace std::string_view_literals;

// Longest first: the UTF-32LE mark begins with the UTF-16LE one.
constexpr Bom BOMS[] = {
    {"\xFF\xFE\x00\x00"sv, "UTF-32LE"}, {"\x00\x00\xFE\xFF"sv, "UTF-32BE"},
    {"\xEF\xBB\xBF"sv, "UTF-8"},        {"\xFF\xFE"sv, "UTF-16LE"},
    {"\xFE\xFF"sv, "UTF-16BE"},
};

const char *bom_encoding(std::string_view raw) {
  for (const Bom &bom : BOMS) {
    if (raw.substr(0, bom.bytes.size()) == bom.bytes) return bom.encoding;
  }
  return nullptr;
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

// Converts `raw` from `encoding` to UTF-8. On failure `error` names the byte
// offset where the text stops making sense.
bool to_utf8(const std::string &raw, const std::string &encoding, std::string &out,
             std::string &error) {
  iconv_t cd = iconv_open("UTF-8", encoding.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    error = "the detected encoding " + encoding + " is not supported by iconv";
    return false;
  }
  out.clear();
  out.reserve(raw.size() + raw.size() / 2 + 16);
  char *in = const_cast<char *>(raw.data());
  size_t in_left = raw.size();
  char buffer[16384];
  bool ok = true;
  while (in_left > 0) {
    char *dst = buffer;
    size_t dst_left = sizeof buffer;
    size_t r = iconv(cd, &in, &in_left, &dst, &dst_left);
    out.append(buffer, static_cast<size_t>(dst - buffer));
    if (r != static_cast<size_t>(-1)) continue;
    if (errno == E2BIG) continue;
    size_t offset = raw.size() - in_left;
    if (errno == EINVAL) {
      error = "the text ends inside a character (detected encoding " + encoding + ")";
    } else {
      error = "the text is not valid " + encoding + " at byte " + std::to_string(offset);
    }
    ok = false;
    break;
  }
  iconv_close(cd);
  return ok;
}

}  // namespace

bool read_file(const std::string &path, std::string &bytes, std::string &error) {
  bytes.clear();
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = std::string("cannot open: ") + std::strerror(errno);
    return false;
  }
  struct stat info {};
  if (fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
    close(fd);
    error = "is a directory";
    return false;
  }
  char buffer[65536];
  for (;;) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      error = std::string("cannot read: ") + std::strerror(errno);
      close(fd);
      return false;
    }
    bytes.append(buffer, static_cast<size_t>(n));
  }
  close(fd);
  return true;
}

bool decode_input(std::string raw, Input &out, std::string &error) {
  out = Input{};
  if (raw.empty()) {
    error = "the file is empty";
    return false;
  }
  const char *bom = bom_encoding(raw);
  std::string encoding = bom != nullptr ? bom : detect_charset(raw);
  bool unicode_wide = starts_with_ci(encoding, "UTF-16") || starts_with_ci(encoding, "UTF-32");
  // Text in any 8-bit encoding or UTF-8 never holds a NUL byte; a container
  // does within its first bytes. Those go to FFmpeg unchanged.
  if (!unicode_wide && raw.find('\0') != std::string::npos) {
    out.bytes = std::move(raw);
    return true;
  }
  if (encoding.empty()) {
    error = "cannot detect the text encoding";
    return false;
  }
  std::string text;
  if (!to_utf8(raw, encoding, text, error)) return false;
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
  out.bytes = std::move(text);
  out.is_text = true;
  out.encoding = encoding;
  return true;
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

}  // namespace host
