// Formatting helpers. Widths come from ICU's character properties, so that
// the table stays aligned with Chinese or Japanese names in it.
#include "host/text.h"

#include <cstdio>

#include <unicode/uchar.h>
#include <unicode/utf8.h>

namespace host {

std::string format_time(int64_t ms) {
  char text[40];
  // Unsigned, so that the most negative time has a magnitude too.
  uint64_t a = ms < 0 ? 0 - static_cast<uint64_t>(ms) : static_cast<uint64_t>(ms);
  // Forty bytes hold any int64_t time, so nothing is cut.
  (void)std::snprintf(
      text, sizeof text, "%s%02llu:%02llu:%02llu.%03llu", ms < 0 ? "-" : "",
      static_cast<unsigned long long>(a / 3600000), static_cast<unsigned long long>(a / 60000 % 60),
      static_cast<unsigned long long>(a / 1000 % 60), static_cast<unsigned long long>(a % 1000));
  return text;
}

std::string stream_list(const std::vector<int> &indexes) {
  std::string text = indexes.size() == 1 ? "stream " : "streams ";
  for (size_t i = 0; i < indexes.size(); i++) {
    if (i > 0) text += i + 1 == indexes.size() ? " and " : ", ";
    text += std::to_string(indexes[i]);
  }
  return text;
}

std::string format_size(int64_t bytes) {
  char text[40];
  if (bytes < 10240) {
    (void)std::snprintf(text, sizeof text, "%lld bytes", static_cast<long long>(bytes));
  } else if (bytes < (int64_t{1} << 20)) {
    (void)std::snprintf(text, sizeof text, "%.1f KiB", static_cast<double>(bytes) / 1024.0);
  } else {
    (void)std::snprintf(text, sizeof text, "%.1f MiB", static_cast<double>(bytes) / 1048576.0);
  }
  return text;
}

size_t display_width(std::string_view text) {
  size_t width = 0;
  int32_t i = 0;
  auto length = static_cast<int32_t>(text.size());
  while (i < length) {
    UChar32 c = 0;
    U8_NEXT(text.data(), i, length, c);
    if (c < 0) {
      width++;  // an invalid byte shows as one replacement character
      continue;
    }
    int8_t category = static_cast<int8_t>(u_charType(c));
    if (category == U_NON_SPACING_MARK || category == U_ENCLOSING_MARK ||
        category == U_FORMAT_CHAR) {
      continue;
    }
    auto ea = static_cast<UEastAsianWidth>(u_getIntPropertyValue(c, UCHAR_EAST_ASIAN_WIDTH));
    width += (ea == U_EA_WIDE || ea == U_EA_FULLWIDTH) ? 2 : 1;
  }
  return width;
}

std::string pad(const std::string &text, size_t width) {
  size_t have = display_width(text);
  return have >= width ? text : text + std::string(width - have, ' ');
}

std::string visible_text(std::string_view line) {
  std::string out;
  out.reserve(line.size());
  for (size_t i = 0; i < line.size(); i++) {
    if (line[i] == '\\' && i + 1 < line.size() && (line[i + 1] == 'h' || line[i + 1] == 'n')) {
      out += ' ';
      i++;
    } else {
      out += line[i];
    }
  }
  size_t first = out.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return "";
  size_t last = out.find_last_not_of(" \t\r\n");
  return out.substr(first, last - first + 1);
}

}  // namespace host
