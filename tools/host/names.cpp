// Names of languages in the user's language, from ICU's locale display
// names, which come with ICU's data and need no system locales: the
// translator the library calls for the names in its table, and the names
// this layer puts in where the library can show only a code.
#include <unicode/locdspnm.h>
#include <unicode/locid.h>
#include <unicode/uloc.h>
#include <unicode/uversion.h>

#include <cstdlib>
#include <cstring>
#include <map>

#include "host/language.h"
#include "tpsubm.h"

namespace host {
namespace {

// The locale id ICU names a language code by: the library's two codes for
// Chinese in one script are ICU's Chinese with a script.
std::string icu_id(std::string_view code) {
  if (code == "chs") return "zh_Hans";
  if (code == "cht") return "zh_Hant";
  return std::string(code);
}

std::string name_in(const icu::LocaleDisplayNames &names, std::string_view code) {
  if (code.empty()) return "";
  std::string id = icu_id(code);
  icu::UnicodeString name;
  names.localeDisplayName(id.c_str(), name);
  std::string utf8;
  name.toUTF8String(utf8);
  // Without data for the code ICU answers the id itself.
  if (utf8 == id) return "";
  return utf8;
}

}  // namespace

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

std::string language_name(std::string_view code, const std::string &locale) {
  std::unique_ptr<icu::LocaleDisplayNames> names(
      icu::LocaleDisplayNames::createInstance(icu::Locale::createCanonical(locale.c_str())));
  if (!names) return "";
  return name_in(*names, code);
}

struct Translator::Names {
  std::unique_ptr<icu::LocaleDisplayNames> english;
  std::unique_ptr<icu::LocaleDisplayNames> target;
  std::map<std::string, std::string, std::less<>> ids;  // English name -> locale id
};

Translator::Translator() : names_(std::make_unique<Names>()) {
  // The library's table names languages as ICU's English display names do;
  // this map turns a name back into the locale id ICU can name in another
  // language. Two-letter codes come first in ICU's list and are kept.
  names_->english.reset(icu::LocaleDisplayNames::createInstance(icu::Locale::getEnglish()));
  if (!names_->english) return;
  icu::UnicodeString name;
  auto remember = [&](const char *id) {
    names_->english->localeDisplayName(id, name);
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

std::string Translator::code_name(std::string_view code) const {
  const icu::LocaleDisplayNames *names =
      names_->target ? names_->target.get() : names_->english.get();
  if (names == nullptr) return "";
  std::string name = name_in(*names, code);
  // The library's translator falls back to English the same way.
  if (name.empty() && names != names_->english.get() && names_->english) {
    name = name_in(*names_->english, code);
  }
  return name;
}

std::string readable_name(std::string_view library_name, std::string_view lang1,
                          std::string_view lang2, bool bilingual, const Translator &names) {
  std::string result(library_name);
  if (lang1.empty()) return result;
  // The name comes first, inside the "{ " and "[ " the library may wrap it
  // in; the suffix and the closing marks follow it.
  size_t start = 0;
  for (std::string_view open : {"{ ", "[ "}) {
    if (library_name.substr(start).starts_with(open)) start += open.size();
  }
  std::string_view name = library_name.substr(start);
  std::string first = names.code_name(lang1);
  std::string second = bilingual ? names.code_name(lang2) : "";
  // What the library shows for a language its table names is the same
  // ICU name this layer would give, so a name found in place means the
  // library named the language itself.
  auto named = [&](const std::string &text) { return !text.empty() && name.starts_with(text); };
  if (!bilingual || second.empty() || lang2.empty()) {
    if (!named(first) && !first.empty() && name.starts_with(lang1)) {
      result.replace(start, lang1.size(), first);
    }
    return result;
  }
  if (named(first + " & " + second)) return result;
  if (named(first)) {
    result.insert(start + first.size(), " & " + second);
  } else if (named(second)) {
    result.insert(start, first + " & ");
  } else if (!first.empty() && name.starts_with(lang1)) {
    result.replace(start, lang1.size(), first + " & " + second);
  }
  return result;
}

std::string display_name(int32_t id, const Translator &names) {
  const char *library_name = tpsubm_display_name(id);
  if (library_name == nullptr) return "";
  std::string name(library_name);
  const char *lang1 = tpsubm_language1(id);
  const char *lang2 = tpsubm_language2(id);
  return readable_name(name, lang1 != nullptr ? lang1 : "", lang2 != nullptr ? lang2 : "",
                       tpsubm_is_bilingual(id) == 1, names);
}

}  // namespace host
