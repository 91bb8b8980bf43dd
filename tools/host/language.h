// The two language callbacks a player registers with tpsubm: a detector on
// CLD2 and a translator of language names on ICU.
#ifndef TPSUBM_HOST_LANGUAGE_H
#define TPSUBM_HOST_LANGUAGE_H

#include <memory>
#include <string>

namespace host {

// tpsubm_detector_fn: the ISO 639-1 code of the language CLD2 finds in
// `text` ("zh" for Chinese in either script), or NULL when CLD2 cannot place
// it. The answer is a constant text.
const char *detect_language(void *ctx, const char *text);

// A locale setting as ICU takes it: "fr_FR.UTF-8" gives "fr_FR", and C or
// POSIX give "en".
std::string locale_name(const std::string &setting);

// The user's language from the environment (LC_ALL, LC_MESSAGES, LANG), as
// a locale name such as "fr_FR"; "en" when none is set or it is C/POSIX.
std::string language_from_environment();

// The versions of CLD2 and ICU, as loaded.
std::string cld2_version();
std::string icu_version();

class Translator {
 public:
  Translator();
  ~Translator();
  Translator(const Translator &) = delete;
  Translator &operator=(const Translator &) = delete;

  // Chooses the language to translate into. Returns false when ICU has no
  // locale data for it.
  bool set_language(const std::string &locale_name);

  // tpsubm_translator_fn: the name of `english_name` in the chosen language,
  // or NULL when it has none.
  static const char *translate(void *ctx, const char *english_name);

 private:
  const char *lookup(const char *english_name);

  struct Names;  // ICU's display names, kept out of this header
  std::unique_ptr<Names> names_;
  // tpsubm_display_name asks for two names and reads both after the second
  // answer, so consecutive answers live in different buffers.
  std::string answers_[2];
  int next_ = 0;
};

}  // namespace host

#endif
