// The script of a Chinese track, from its characters: ICU's transliterators
// between Simplified and Traditional Chinese change exactly the characters
// that belong to one form only, so a character that "Hans-Hant" changes is
// written in the Simplified form and one that "Hant-Hans" changes in the
// Traditional form. Most characters are shared by both forms and say
// nothing; a track of either form has plenty of the others.
#include <unicode/translit.h>
#include <unicode/uscript.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <memory>
#include <unordered_map>

#include "host/language.h"

namespace host {
namespace {

// Whether `transliterator` changes the character `c`.
bool changes(icu::Transliterator &transliterator, UChar32 c) {
  icu::UnicodeString text(c);
  transliterator.transliterate(text);
  return text.length() != 1 + (c > 0xFFFF ? 1 : 0) || text.char32At(0) != c;
}

std::unique_ptr<icu::Transliterator> transliterator(const char *id) {
  UErrorCode status = U_ZERO_ERROR;
  // ICU compiles the rules once per process (about 25 ms for the two here,
  // on the first track with Han characters) and hands out copies; a copy is
  // used by one thread only.
  std::unique_ptr<icu::Transliterator> made(
      icu::Transliterator::createInstance(id, UTRANS_FORWARD, status));
  if (U_FAILURE(status)) return nullptr;
  return made;
}

}  // namespace

ChineseScript chinese_script(const std::vector<std::string> &lines) {
  // Each Han character with the number of its uses; kana tell Japanese.
  std::unordered_map<UChar32, int64_t> han;
  int64_t han_count = 0;
  int64_t kana_count = 0;
  for (const std::string &line : lines) {
    int32_t length = static_cast<int32_t>(std::min<size_t>(line.size(), INT32_MAX));
    const auto *bytes = reinterpret_cast<const uint8_t *>(line.data());
    for (int32_t i = 0; i < length;) {
      UChar32 c;
      U8_NEXT(bytes, i, length, c);
      if (c < 0x2E80) continue;  // below the CJK blocks
      UErrorCode status = U_ZERO_ERROR;
      UScriptCode script = uscript_getScript(c, &status);
      if (script == USCRIPT_HAN) {
        han[c]++;
        han_count++;
      } else if (script == USCRIPT_HIRAGANA || script == USCRIPT_KATAKANA) {
        kana_count++;
      }
    }
  }
  // Japanese writes its own forms of the characters, and kana in nearly
  // every sentence: a track with more than one kana to five Han characters
  // is not Chinese.
  if (han_count == 0 || kana_count * 5 > han_count) return ChineseScript::none;

  std::unique_ptr<icu::Transliterator> to_traditional = transliterator("Hans-Hant");
  std::unique_ptr<icu::Transliterator> to_simplified = transliterator("Hant-Hans");
  if (!to_traditional || !to_simplified) return ChineseScript::none;
  int64_t simplified = 0;
  int64_t traditional = 0;
  for (const auto &[c, uses] : han) {
    if (changes(*to_traditional, c)) simplified += uses;
    if (changes(*to_simplified, c)) traditional += uses;
  }
  if (simplified > traditional) return ChineseScript::simplified;
  if (traditional > simplified) return ChineseScript::traditional;
  return ChineseScript::none;
}

}  // namespace host
