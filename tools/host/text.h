// Small text helpers for what the host layer and its programs tell a person.
#ifndef TPSUBM_HOST_TEXT_H
#define TPSUBM_HOST_TEXT_H

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace host {

// "HH:MM:SS.mmm", with a leading "-" for a negative time.
std::string format_time(int64_t ms);

// A size for a person: "812 bytes", "12.5 KiB", "329.7 MiB".
std::string format_size(int64_t bytes);

// "stream 4", "streams 4 and 5", "streams 65, 66 and 67".
std::string stream_list(const std::vector<int> &indexes);

// The number of terminal columns UTF-8 text takes: East Asian wide and
// full-width characters take two, combining marks and format characters none.
size_t display_width(std::string_view text);

// `text` followed by spaces up to `width` columns.
std::string pad(const std::string &text, size_t width);

// A cue line as a viewer sees it: the soft break "\n" and the hard space "\h"
// of SubStation Alpha shown as spaces, and no spaces at either end.
std::string visible_text(std::string_view line);

}  // namespace host

#endif
