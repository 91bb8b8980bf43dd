#include "mpv/selection.h"

#include <algorithm>
#include <cctype>
#include <optional>

namespace tpsubm_mpv {
namespace {

struct Alias {
  std::string_view from;
  std::string_view to;
};

// ISO 639-2 codes (bibliographic and terminological) of the languages a
// player meets in subtitle tags, with their ISO 639-1 code.
constexpr Alias THREE_LETTER[] = {
    {"afr", "af"}, {"alb", "sq"}, {"amh", "am"}, {"ara", "ar"}, {"arm", "hy"}, {"aze", "az"},
    {"baq", "eu"}, {"bel", "be"}, {"ben", "bn"}, {"bos", "bs"}, {"bul", "bg"}, {"bur", "my"},
    {"cat", "ca"}, {"ces", "cs"}, {"cym", "cy"}, {"cze", "cs"}, {"dan", "da"}, {"deu", "de"},
    {"dut", "nl"}, {"ell", "el"}, {"eng", "en"}, {"est", "et"}, {"eus", "eu"}, {"fas", "fa"},
    {"fil", "tl"}, {"fin", "fi"}, {"fra", "fr"}, {"fre", "fr"}, {"geo", "ka"}, {"ger", "de"},
    {"gle", "ga"}, {"glg", "gl"}, {"gre", "el"}, {"guj", "gu"}, {"heb", "he"}, {"hin", "hi"},
    {"hrv", "hr"}, {"hun", "hu"}, {"hye", "hy"}, {"ice", "is"}, {"ind", "id"}, {"isl", "is"},
    {"ita", "it"}, {"jpn", "ja"}, {"kan", "kn"}, {"kat", "ka"}, {"kaz", "kk"}, {"khm", "km"},
    {"kor", "ko"}, {"lao", "lo"}, {"lat", "la"}, {"lav", "lv"}, {"lit", "lt"}, {"mac", "mk"},
    {"mal", "ml"}, {"mar", "mr"}, {"may", "ms"}, {"mkd", "mk"}, {"mon", "mn"}, {"msa", "ms"},
    {"mya", "my"}, {"nep", "ne"}, {"nld", "nl"}, {"nob", "nb"}, {"nor", "no"}, {"pan", "pa"},
    {"per", "fa"}, {"pol", "pl"}, {"por", "pt"}, {"ron", "ro"}, {"rum", "ro"}, {"rus", "ru"},
    {"sin", "si"}, {"slk", "sk"}, {"slo", "sk"}, {"slv", "sl"}, {"som", "so"}, {"spa", "es"},
    {"sqi", "sq"}, {"srp", "sr"}, {"swa", "sw"}, {"swe", "sv"}, {"tam", "ta"}, {"tel", "te"},
    {"tgl", "tl"}, {"tha", "th"}, {"tur", "tr"}, {"ukr", "uk"}, {"urd", "ur"}, {"uzb", "uz"},
    {"vie", "vi"}, {"wel", "cy"}, {"yid", "yi"}, {"zul", "zu"},
};

// Tags and spellings of Chinese and its scripts.
constexpr Alias CHINESE[] = {
    {"zh", "zh"},          {"chi", "zh"},         {"zho", "zh"},         {"cmn", "zh"},
    {"chs", "chs"},        {"zh-hans", "chs"},    {"zh-cn", "chs"},      {"zh-sg", "chs"},
    {"zh-my", "chs"},      {"zhs", "chs"},        {"cht", "cht"},        {"zh-hant", "cht"},
    {"zh-tw", "cht"},      {"zh-hk", "cht"},      {"zh-mo", "cht"},      {"zht", "cht"},
    {"zh-hans-cn", "chs"}, {"zh-hant-tw", "cht"}, {"zh-hant-hk", "cht"},
};

std::string lower(std::string_view text) {
  std::string out(text);
  for (char &c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  std::replace(out.begin(), out.end(), '_', '-');
  return out;
}

std::string trim(std::string_view text) {
  size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string_view::npos) return "";
  size_t end = text.find_last_not_of(" \t");
  return std::string(text.substr(begin, end - begin + 1));
}

struct Rank {
  size_t entry;  // position of the first matching entry of the list
  bool bilingual;
  int64_t lines;
  int64_t id;
  bool operator<(const Rank &o) const {
    if (entry != o.entry) return entry < o.entry;
    if (bilingual != o.bilingual) return !bilingual;
    if (lines != o.lines) return lines > o.lines;
    return id < o.id;
  }
};

bool is_bilingual(const Candidate &c) {
  return !c.lang2.empty();
}

std::optional<Rank> rank(const Candidate &c, const std::vector<std::string> &wants) {
  std::string l1 = normalize_language(c.lang1);
  std::string l2 = normalize_language(c.lang2);
  for (size_t i = 0; i < wants.size(); i++) {
    std::string want = normalize_language(wants[i]);
    if (want.empty()) continue;
    if (language_accepts(want, l1) || (is_bilingual(c) && language_accepts(want, l2))) {
      return Rank{i, is_bilingual(c), c.lines, c.id};
    }
  }
  return std::nullopt;
}

// The best track matching `wants` among those `allowed` accepts, or -1.
template <typename Allowed>
int64_t best(const std::vector<Candidate> &tracks, const std::vector<std::string> &wants,
             Allowed allowed) {
  std::optional<Rank> top;
  for (const Candidate &c : tracks) {
    if (!allowed(c)) continue;
    std::optional<Rank> r = rank(c, wants);
    if (r && (!top || *r < *top)) top = r;
  }
  return top ? top->id : -1;
}

const Candidate *find(const std::vector<Candidate> &tracks, int64_t id) {
  for (const Candidate &c : tracks) {
    if (c.id == id) return &c;
  }
  return nullptr;
}

}  // namespace

std::string normalize_language(std::string_view code) {
  std::string text = lower(trim(code));
  if (text.empty()) return "";
  for (const Alias &a : CHINESE) {
    if (text == a.from) return std::string(a.to);
  }
  std::string base = text.substr(0, text.find('-'));
  // Chinese with a script or region not listed above: either script.
  if (base == "zh" || base == "chi" || base == "zho") {
    if (text.find("-hans") != std::string::npos) return "chs";
    if (text.find("-hant") != std::string::npos) return "cht";
    return "zh";
  }
  for (const Alias &a : THREE_LETTER) {
    if (base == a.from) return std::string(a.to);
  }
  return base;
}

bool language_accepts(std::string_view want, std::string_view have) {
  if (want.empty() || have.empty()) return false;
  if (want == "zh") return have == "zh" || have == "chs" || have == "cht";
  return want == have;
}

bool same_language(std::string_view a, std::string_view b) {
  if (a.empty() || b.empty()) return false;
  // A Chinese track of unknown script is the same language as either script.
  if (a == "zh") return b == "zh" || b == "chs" || b == "cht";
  if (b == "zh") return a == "chs" || a == "cht";
  return a == b;
}

std::string mpv_language(std::string_view code) {
  if (code == "chs") return "zh-Hans";
  if (code == "cht") return "zh-Hant";
  return std::string(code);
}

std::vector<std::string> split_list(std::string_view value) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start <= value.size()) {
    size_t end = value.find(',', start);
    if (end == std::string_view::npos) end = value.size();
    std::string entry = trim(value.substr(start, end - start));
    if (!entry.empty()) out.push_back(entry);
    start = end + 1;
  }
  return out;
}

Choice choose(const std::vector<Candidate> &tracks, const Request &request) {
  Choice choice;
  bool paired = false;
  if (request.user_gave_primary) {
    choice.primary = request.user_primary;
  } else if (!request.slang.empty()) {
    // A bilingual track carrying exactly the first wanted language and the
    // first wanted secondary language shows both at once.
    if (!request.secondary_slang.empty()) {
      std::string a = normalize_language(request.slang[0]);
      std::string b = normalize_language(request.secondary_slang[0]);
      choice.primary = best(tracks, {request.slang[0]}, [&](const Candidate &c) {
        if (!c.text || !is_bilingual(c)) return false;
        std::string l1 = normalize_language(c.lang1), l2 = normalize_language(c.lang2);
        return (language_accepts(a, l1) && language_accepts(b, l2)) ||
               (language_accepts(a, l2) && language_accepts(b, l1));
      });
      paired = choice.primary >= 0;
    }
    if (!paired)
      choice.primary = best(tracks, request.slang, [](const Candidate &) { return true; });
  }
  if (!request.user_gave_primary && choice.primary < 0) choice.primary = request.fallback_primary;
  if (request.user_gave_secondary || paired || request.secondary_slang.empty()) return choice;
  // Without a known primary the secondary could end up the same track as
  // mpv's own choice; it is left to mpv then.
  const Candidate *primary = find(tracks, choice.primary);
  if (primary == nullptr) return choice;
  std::string p1 = normalize_language(primary->lang1);
  std::string p2 = normalize_language(primary->lang2);
  // An entry naming a language the primary already shows asks for nothing
  // more: a bilingual track is not chosen for its second language then.
  std::vector<std::string> wants;
  for (const std::string &entry : request.secondary_slang) {
    std::string want = normalize_language(entry);
    if (want != p1 && want != p2) wants.push_back(want);
  }
  choice.secondary = best(tracks, wants, [&](const Candidate &c) {
    if (c.id == primary->id || !c.text) return false;
    std::string first = normalize_language(c.lang1);
    return !same_language(first, p1) && !same_language(first, p2);
  });
  return choice;
}

}  // namespace tpsubm_mpv
