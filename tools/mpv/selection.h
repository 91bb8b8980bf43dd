// How the mpv plugin chooses the primary and the secondary subtitle track
// from the languages found in their text. Pure functions: no mpv, no library.
#ifndef TPSUBM_MPV_SELECTION_H
#define TPSUBM_MPV_SELECTION_H

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tpsubm_mpv {

// One subtitle track as the policy sees it.
struct Candidate {
  int64_t id = 0;     // mpv's track id
  bool text = true;   // false: a bitmap track, known only by its tag
  std::string lang1;  // a detected code ("en", "chs", "cht"), or a bitmap track's tag
  std::string lang2;  // the second language of a bilingual track, else ""
  int64_t lines = 0;  // text lines of the track
};

struct Request {
  std::vector<std::string> slang;            // mpv's --slang, in order
  std::vector<std::string> secondary_slang;  // the plugin's secondary-slang, in order
  int64_t user_primary = -1;  // the --sid the user gave, or -1 when the plugin chooses
  bool user_gave_primary = false;
  bool user_gave_secondary = false;  // --secondary-sid given: the plugin leaves it
  // The track mpv itself would show when no track matches, if the plugin
  // has to name it (mpv prefers external files, and tracks the plugin added
  // back no longer count as such); -1 leaves the choice to mpv.
  int64_t fallback_primary = -1;
};

struct Choice {
  int64_t primary = -1;  // -1: mpv's own choice stands
  int64_t secondary = -1;
};

// The code a language is compared by: ISO 639-1 for the languages of the
// table ("eng", "ger", "en-US" -> "en"), "chs" for Simplified and "cht" for
// Traditional Chinese ("zh-Hans", "zh-CN", "zh-TW", "zh-Hant", ...), and
// "zh" for Chinese of either script ("chi", "zho"). Unknown codes come back
// in lower case, without a region.
std::string normalize_language(std::string_view code);

// Whether a wanted language (normalised) accepts a track's language
// (normalised): "zh" accepts either script, "chs" and "cht" only their own.
bool language_accepts(std::string_view want, std::string_view have);

// Whether two track languages count as the same one; Simplified and
// Traditional Chinese are two languages.
bool same_language(std::string_view a, std::string_view b);

// The lang mpv shows for a detected code: "zh-Hans" / "zh-Hant" for the
// two scripts of Chinese, the code itself otherwise.
std::string mpv_language(std::string_view code);

// Splits an option value such as "eng,de" into its entries.
std::vector<std::string> split_list(std::string_view value);

Choice choose(const std::vector<Candidate> &tracks, const Request &request);

}  // namespace tpsubm_mpv

#endif
