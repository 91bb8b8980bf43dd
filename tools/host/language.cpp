// Language detection with CLD2: which lines vote, under which code, and the
// detector callback the library calls with them.
#include "host/language.h"

// compact_lang_det.h uses FILE without including <cstdio>.
#include <cstdio>

#include <cld2/public/compact_lang_det.h>
#include <cld2/public/encodings.h>
#include <unicode/uchar.h>
#include <unicode/uscript.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>

namespace host {
namespace {

// CLD2's code of each language as this layer answers it: the base code only
// ("zh-Hant" counts as "zh": the script belongs to the whole track), the
// current codes for Hebrew and Javanese where CLD2 keeps the withdrawn ones,
// and nothing for CLD2's placeholders ("un", "xx-...").
class CodeTable {
 public:
  CodeTable() {
    for (int i = 0; i < CLD2::NUM_LANGUAGES; i++) {
      const char *code = CLD2::LanguageCode(static_cast<CLD2::Language>(i));
      if (code == nullptr) continue;
      std::string_view base(code);
      base = base.substr(0, base.find('-'));
      if (base == "iw") base = "he";
      if (base == "jw") base = "jv";
      if (base.empty() || base == "un" || base == "xx") continue;
      codes_[i] = std::string(base);
    }
  }
  const char *code(CLD2::Language language) const {
    if (language < 0 || language >= CLD2::NUM_LANGUAGES) return nullptr;
    const std::string &code = codes_[language];
    return code.empty() ? nullptr : code.c_str();
  }

 private:
  std::array<std::string, CLD2::NUM_LANGUAGES> codes_;
};

const CodeTable &code_table() {
  static const CodeTable table;  // built once, then only read
  return table;
}

// The classes of one code point that mostly_words tells apart.
enum : uint8_t { kSpace = 1, kDigit = 2, kLetter = 4, kCased = 8, kLower = 16, kUpper = 32 };

constexpr std::array<uint8_t, 128> ascii_classes() {
  std::array<uint8_t, 128> table{};
  for (int c = 0; c < 128; c++) {
    if (c == ' ' || (c >= '\t' && c <= '\r')) table[c] = kSpace;
    if (c >= '0' && c <= '9') table[c] = kDigit;
    if (c >= 'a' && c <= 'z') table[c] = kLetter | kCased | kLower;
    if (c >= 'A' && c <= 'Z') table[c] = kLetter | kCased | kUpper;
  }
  return table;
}
constexpr std::array<uint8_t, 128> kAsciiClasses = ascii_classes();

uint8_t classify(UChar32 c) {
  if (c < 0x80) return kAsciiClasses[c];  // most subtitle text, without ICU's tables
  if (c >= 0xC0 && c <= 0xFF && c != 0xD7 && c != 0xF7) {  // the accented letters of Latin-1
    return kLetter | kCased | (c >= 0xDF ? kLower : kUpper);
  }
  if (u_isUWhiteSpace(c)) return kSpace;
  if (u_isdigit(c)) return kDigit;
  if (!u_isalpha(c)) return 0;
  if (!u_hasBinaryProperty(c, UCHAR_CASED)) return kLetter;
  return kLetter | kCased | (u_islower(c) ? kLower : 0) | (u_isupper(c) ? kUpper : 0);
}

// Whether a line is written in words rather than in numbers and codes.
// CLD2 calls its answer reliable for telemetry as readily as for dialogue
// ("12.3m 45km/h ISO100 F2.8" is reliable Galician to it), so a line votes
// only when at least three quarters of its letters and digits are letters
// of words. Letters of a cased script (Latin, Cyrillic, Greek...) do not
// count when their token holds a digit ("45km/h", "ISO100"), an underscore
// ("focal_len") or a lower-case letter followed by a capital ("DiffTime"):
// those are units, codes and field names. Scripts written without spaces
// (Han, kana, Thai...) have no such tokens, so their letters always count.
bool mostly_words(std::string_view text) {
  int32_t letters = 0;
  int32_t digits = 0;
  int32_t word_letters = 0;
  int32_t length = static_cast<int32_t>(std::min<size_t>(text.size(), INT32_MAX));
  const auto *bytes = reinterpret_cast<const uint8_t *>(text.data());
  int32_t i = 0;
  while (i < length) {
    // One token: the code points up to the next white space.
    int32_t cased_letters = 0;
    int32_t other_letters = 0;
    bool code_like = false;
    bool previous_lower = false;
    while (i < length) {
      UChar32 c = bytes[i];
      if (c < 0x80) {
        i++;
      } else {
        U8_NEXT(bytes, i, length, c);
        if (c < 0) c = 0xFFFD;
      }
      uint8_t k = classify(c);
      if (k & kSpace) break;
      if (k & kDigit) {
        digits++;
        code_like = true;
      } else if (c == '_') {
        code_like = true;
      } else if (k & kLetter) {
        letters++;
        if (k & kCased) {
          cased_letters++;
          if (previous_lower && (k & kUpper)) code_like = true;
        } else {
          other_letters++;
        }
      }
      previous_lower = (k & kLower) != 0;
    }
    word_letters += other_letters + (code_like ? 0 : cased_letters);
  }
  int64_t counted = int64_t{letters} + digits;
  return counted > 0 && int64_t{word_letters} * 4 >= counted * 3;
}

bool has_kana(std::string_view text) {
  int32_t length = static_cast<int32_t>(std::min<size_t>(text.size(), INT32_MAX));
  const auto *bytes = reinterpret_cast<const uint8_t *>(text.data());
  for (int32_t i = 0; i < length;) {
    UChar32 c;
    U8_NEXT(bytes, i, length, c);
    if (c < 0) continue;
    UErrorCode status = U_ZERO_ERROR;
    UScriptCode script = uscript_getScript(c, &status);
    if (script == USCRIPT_HIRAGANA || script == USCRIPT_KATAKANA) return true;
  }
  return false;
}

}  // namespace

const char *detect_line(std::string_view text) {
  // The rule on words first: it is cheaper than CLD2, and spares it the
  // lines of symbols and numbers.
  if (text.empty() || text.size() > INT_MAX || !mostly_words(text)) return nullptr;
  CLD2::CLDHints hints = {nullptr, nullptr, CLD2::UNKNOWN_ENCODING, CLD2::UNKNOWN_LANGUAGE};
  CLD2::Language language3[3];
  int percent3[3];
  double score3[3];
  int text_bytes = 0;
  bool reliable = false;
  int valid_prefix = 0;
  CLD2::Language found = CLD2::ExtDetectLanguageSummaryCheckUTF8(
      text.data(), static_cast<int>(text.size()), true, &hints, CLD2::kCLDFlagBestEffort, language3,
      percent3, score3, nullptr, &text_bytes, &reliable, &valid_prefix);
  if (!reliable) return nullptr;
  return code_table().code(found);
}

std::vector<std::string> clean_for_detection(std::string_view line) {
  // The library's cleaning: each "{" with a "}" after it drops everything
  // up to that "}" and leaves one space; "\N" ends a part. Nothing else
  // changes.
  if (line.find('{') == std::string_view::npos && line.find("\\N") == std::string_view::npos) {
    return {std::string(line)};
  }
  std::vector<std::string> parts(1);
  for (size_t i = 0; i < line.size(); i++) {
    char c = line[i];
    if (c == '{') {
      size_t close = line.find('}', i + 1);
      if (close != std::string_view::npos) {
        parts.back() += ' ';
        i = close;
        continue;
      }
    } else if (c == '\\' && i + 1 < line.size() && line[i + 1] == 'N') {
      parts.emplace_back();
      i++;
      continue;
    } else if (c == '\n') {
      parts.emplace_back();
      continue;
    }
    parts.back() += c;
  }
  // The library keeps at most this many parts of one line.
  constexpr size_t kMaxParts = 64;
  if (parts.size() > kMaxParts) parts.resize(kMaxParts);
  return parts;
}

void TrackAnswers::add_line(std::string_view line) {
  for (std::string &part : clean_for_detection(line)) {
    if (answers_.find(std::string_view(part)) == answers_.end()) {
      const char *answer = detect_line(part);
      answers_.emplace(std::move(part), answer);
    }
  }
  // Only lines with characters from U+2000 up can hold Chinese; their UTF-8
  // has a byte of 0xE2 or more.
  if (std::any_of(line.begin(), line.end(),
                  [](char c) { return static_cast<uint8_t>(c) >= 0xE2; })) {
    han_text_.emplace_back(line);
  }
}

void TrackAnswers::finish() {
  script_ = chinese_script(han_text_);
  han_text_.clear();
  han_text_.shrink_to_fit();
}

const char *TrackAnswers::find(std::string_view text, bool &found) const {
  auto it = answers_.find(text);
  found = it != answers_.end();
  return found ? it->second : nullptr;
}

void Detector::prepare(const std::vector<std::string> &lines) {
  answers_.reset();
  script_ = chinese_script(lines);
  hits_ = misses_ = 0;
}

void Detector::use(std::shared_ptr<const TrackAnswers> answers) {
  answers_ = std::move(answers);
  script_ = answers_ ? answers_->script() : ChineseScript::none;
  hits_ = misses_ = 0;
}

const char *Detector::detect(void *ctx, const char *text) {
  if (ctx == nullptr || text == nullptr) return nullptr;
  return static_cast<const Detector *>(ctx)->answer(text);
}

const char *Detector::answer(std::string_view text) const {
  const char *code = nullptr;
  bool found = false;
  if (answers_) code = answers_->find(text, found);
  if (found) {
    hits_++;
  } else {
    misses_++;
    code = detect_line(text);
  }
  if (code == nullptr || script_ == ChineseScript::none) return code;
  // In a Chinese track, a line of Han characters without kana is Chinese
  // even when CLD2 takes a short one for Japanese ("我不知道。").
  bool chinese = std::strcmp(code, "zh") == 0 || (std::strcmp(code, "ja") == 0 && !has_kana(text));
  if (!chinese) return code;
  return script_ == ChineseScript::traditional ? "cht" : "chs";
}

std::string_view language_tag(std::string_view code) {
  if (code == "chs") return "zh-Hans";
  if (code == "cht") return "zh-Hant";
  return code;
}

std::string cld2_version() {
  return CLD2::DetectLanguageVersion();
}

}  // namespace host
