// Language detection with CLD2 and translation of language names with ICU's
// locale display names, which come with ICU's data and need no system
// locales.
#include "host/language.h"

// compact_lang_det.h uses FILE without including <cstdio>.
#include <cstdio>

#include <cld2/public/compact_lang_det.h>
#include <cld2/public/encodings.h>
#include <unicode/locdspnm.h>
#include <unicode/locid.h>
#include <unicode/uloc.h>
#include <unicode/uversion.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string_view>

namespace host {
namespace {

struct CodeFix {
  std::string_view cld2;
  const char *iso;
};
// CLD2 still answers the withdrawn codes for Hebrew and Javanese.
constexpr CodeFix CODE_FIXES[] = {{"iw", "he"}, {"jw", "jv"}};

}  // namespace

const char *detect_language(void *, const char *text) {
  size_t length = std::strlen(text);
  if (length == 0) return nullptr;
  CLD2::CLDHints hints = {nullptr, nullptr, CLD2::UNKNOWN_ENCODING, CLD2::UNKNOWN_LANGUAGE};
  CLD2::Language language3[3];
  int percent3[3];
  double score3[3];
  int text_bytes = 0;
  bool reliable = false;
  int valid_prefix = 0;
  CLD2::Language found = CLD2::ExtDetectLanguageSummaryCheckUTF8(
      text, static_cast<int>(std::min<size_t>(length, INT_MAX)), true, &hints,
      CLD2::kCLDFlagBestEffort, language3, percent3, score3, nullptr, &text_bytes, &reliable,
      &valid_prefix);
  if (found == CLD2::UNKNOWN_LANGUAGE || found == CLD2::TG_UNKNOWN_LANGUAGE) return nullptr;
  const char *code = CLD2::LanguageCode(found);
  if (code == nullptr || std::strcmp(code, "un") == 0) return nullptr;
  // One code per language: "zh-Hant" counts as "zh". CLD2 splits short
  // Chinese lines between its two scripts, and two codes would split the
  // vote of a Chinese track and hide the second language of a bilingual one.
  std::string_view base(code);
  base = base.substr(0, base.find('-'));
  for (const CodeFix &fix : CODE_FIXES) {
    if (base == fix.cld2) return fix.iso;
  }
  if (base == "zh") return "zh";
  // LanguageCode answers constant texts; a cut one needs its own copy.
  static std::map<std::string, std::string, std::less<>> cut;
  if (base.size() == std::strlen(code)) return code;
  auto it = cut.try_emplace(std::string(base), base).first;
  return it->second.c_str();
}

std::string cld2_version() {
  return CLD2::DetectLanguageVersion();
}

std::string icu_version() {
  UVersionInfo version;
  u_getVersion(version);
  char text[U_MAX_VERSION_STRING_LENGTH];
  u_versionToString(version, text);
  return text;
}

std::string locale_name(const std::string &setting) {
  std::string locale = setting.substr(0, setting.find_first_of(".@"));
  if (locale == "C" || locale == "POSIX") return "en";
  return locale;
}

std::string language_from_environment() {
  for (const char *name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char *value = std::getenv(name);
    if (value != nullptr && *value != '\0') return locale_name(value);
  }
  return "en";
}

struct Translator::Names {
  std::unique_ptr<icu::LocaleDisplayNames> target;
  std::map<std::string, std::string, std::less<>> ids;  // English name -> locale id
};

Translator::Translator() : names_(std::make_unique<Names>()) {
  // The library's table names languages as ICU's English display names do;
  // this map turns a name back into the locale id ICU can name in another
  // language. Two-letter codes come first in ICU's list and are kept.
  std::unique_ptr<icu::LocaleDisplayNames> english(
      icu::LocaleDisplayNames::createInstance(icu::Locale::getEnglish()));
  if (!english) return;
  icu::UnicodeString name;
  auto remember = [&](const char *id) {
    english->localeDisplayName(id, name);
    std::string utf8;
    name.toUTF8String(utf8);
    names_->ids.try_emplace(utf8, id);
  };
  for (const char *const *code = uloc_getISOLanguages(); *code != nullptr; code++) {
    remember(*code);
  }
  // The library's two names for Chinese in one script.
  remember("zh_Hans");
  remember("zh_Hant");
}

Translator::~Translator() = default;

bool Translator::set_language(const std::string &locale_name) {
  icu::Locale locale = icu::Locale::createCanonical(locale_name.c_str());
  if (locale.isBogus() || *locale.getLanguage() == '\0') return false;
  bool available = false;
  int32_t count = 0;
  const icu::Locale *all = icu::Locale::getAvailableLocales(count);
  for (int32_t i = 0; i < count && !available; i++) {
    available = std::strcmp(all[i].getLanguage(), locale.getLanguage()) == 0;
  }
  if (!available) return false;
  names_->target.reset(icu::LocaleDisplayNames::createInstance(locale));
  return names_->target != nullptr;
}

const char *Translator::translate(void *ctx, const char *english_name) {
  return static_cast<Translator *>(ctx)->lookup(english_name);
}

const char *Translator::lookup(const char *english_name) {
  if (!names_->target || english_name == nullptr) return nullptr;
  auto it = names_->ids.find(std::string_view(english_name));
  if (it == names_->ids.end()) return nullptr;
  icu::UnicodeString name;
  names_->target->localeDisplayName(it->second.c_str(), name);
  std::string &answer = answers_[next_];
  next_ = 1 - next_;
  answer.clear();
  name.toUTF8String(answer);
  // Without data for the name ICU answers the id itself.
  if (answer.empty() || answer == it->second) return nullptr;
  return answer.c_str();
}

}  // namespace host
