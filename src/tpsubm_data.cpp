// The library's constant tables: language codes with their English names,
// used for display names, and the encoding names offered to the host.
#include "tpsubm_internal.h"

namespace {

// Several codes share a name; both the bibliographic and the terminology
// forms of ISO 639-2 are listed where they differ. The first match wins, so
// "chi" is "Chinese", never one of the two script variants below it.
constexpr lang_entry ISO_LANGS[] = {
    {"en", "eng", "English"},
    {"zh", "chi", "Chinese"},
    {"zh", "zho", "Chinese"},
    {"chs", "chi", "Chinese (Simplified)"},
    {"cht", "chi", "Chinese (Traditional)"},
    {"ja", "jpn", "Japanese"},
    {"ko", "kor", "Korean"},
    {"fr", "fre", "French"},
    {"fr", "fra", "French"},
    {"de", "ger", "German"},
    {"de", "deu", "German"},
    {"es", "spa", "Spanish"},
    {"pt", "por", "Portuguese"},
    {"ru", "rus", "Russian"},
    {"it", "ita", "Italian"},
    {"ar", "ara", "Arabic"},
    {"nl", "dut", "Dutch"},
    {"nl", "nld", "Dutch"},
    {"sv", "swe", "Swedish"},
    {"no", "nor", "Norwegian"},
    {"da", "dan", "Danish"},
    {"fi", "fin", "Finnish"},
    {"pl", "pol", "Polish"},
    {"tr", "tur", "Turkish"},
    {"th", "tha", "Thai"},
    {"vi", "vie", "Vietnamese"},
    {"hi", "hin", "Hindi"},
    {"he", "heb", "Hebrew"},
    {"cs", "cze", "Czech"},
    {"cs", "ces", "Czech"},
    {"hu", "hun", "Hungarian"},
    {"ro", "rum", "Romanian"},
    {"ro", "ron", "Romanian"},
    {"uk", "ukr", "Ukrainian"},
    {"el", "gre", "Greek"},
    {"el", "ell", "Greek"},
    {"id", "ind", "Indonesian"},
    {"ms", "may", "Malay"},
    {"ms", "msa", "Malay"},
    {nullptr, nullptr, nullptr},
};

// Windows code page names in ascending code page order. Letter case is part
// of each name, and two names repeat ("iso-2022-jp" at 118 and 120).
constexpr const char *CODEPAGES[] = {
    "IBM037",
    "IBM437",
    "IBM500",
    "ASMO-708",
    "DOS-720",
    "ibm737",
    "ibm775",
    "ibm850",
    "ibm852",
    "IBM855",
    "ibm857",
    "IBM00858",
    "IBM860",
    "ibm861",
    "DOS-862",
    "IBM863",
    "IBM864",
    "IBM865",
    "cp866",
    "ibm869",
    "IBM870",
    "windows-874",
    "cp875",
    "shift_jis",
    "gb2312",
    "ks_c_5601-1987",
    "big5",
    "IBM1026",
    "IBM01047",
    "IBM01140",
    "IBM01141",
    "IBM01142",
    "IBM01143",
    "IBM01144",
    "IBM01145",
    "IBM01146",
    "IBM01147",
    "IBM01148",
    "IBM01149",
    "utf-16",
    "utf-16BE",
    "windows-1250",
    "windows-1251",
    "Windows-1252",
    "windows-1253",
    "windows-1254",
    "windows-1255",
    "windows-1256",
    "windows-1257",
    "windows-1258",
    "Johab",
    "macintosh",
    "x-mac-japanese",
    "x-mac-chinesetrad",
    "x-mac-korean",
    "x-mac-arabic",
    "x-mac-hebrew",
    "x-mac-greek",
    "x-mac-cyrillic",
    "x-mac-chinesesimp",
    "x-mac-romanian",
    "x-mac-ukrainian",
    "x-mac-thai",
    "x-mac-ce",
    "x-mac-icelandic",
    "x-mac-turkish",
    "x-mac-croatian",
    "utf-32",
    "utf-32BE",
    "x-Chinese-CNS",
    "x-cp20001",
    "x-Chinese-Eten",
    "x-cp20003",
    "x-cp20004",
    "x-cp20005",
    "x-IA5",
    "x-IA5-German",
    "x-IA5-Swedish",
    "x-IA5-Norwegian",
    "us-ascii",
    "x-cp20261",
    "x-cp20269",
    "IBM273",
    "IBM277",
    "IBM278",
    "IBM280",
    "IBM284",
    "IBM285",
    "IBM290",
    "IBM297",
    "IBM420",
    "IBM423",
    "IBM424",
    "x-EBCDIC-KoreanExtended",
    "IBM-Thai",
    "koi8-r",
    "IBM871",
    "IBM880",
    "IBM905",
    "IBM00924",
    "EUC-JP",
    "x-cp20936",
    "x-cp20949",
    "cp1025",
    "koi8-u",
    "iso-8859-1",
    "iso-8859-2",
    "iso-8859-3",
    "iso-8859-4",
    "iso-8859-5",
    "iso-8859-6",
    "iso-8859-7",
    "iso-8859-8",
    "iso-8859-9",
    "iso-8859-13",
    "iso-8859-15",
    "x-Europa",
    "iso-8859-8-i",
    "iso-2022-jp",
    "csISO2022JP",
    "iso-2022-jp",
    "iso-2022-kr",
    "x-cp50227",
    "euc-jp",
    "EUC-CN",
    "euc-kr",
    "hz-gb-2312",
    "GB18030",
    "x-iscii-de",
    "x-iscii-be",
    "x-iscii-ta",
    "x-iscii-te",
    "x-iscii-as",
    "x-iscii-or",
    "x-iscii-ka",
    "x-iscii-ma",
    "x-iscii-gu",
    "x-iscii-pa",
    "utf-7",
    "utf-8",
};

constexpr int32_t kCodepageCount = 140;
static_assert(sizeof(CODEPAGES) / sizeof(CODEPAGES[0]) == kCodepageCount);
static_assert(sizeof(ISO_LANGS) / sizeof(ISO_LANGS[0]) == 40);

// ASCII-only case folding, so that the host's locale can never change a match.
constexpr unsigned char ascii_lower(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + ('a' - 'A')) : c;
}

bool equals_ascii_nocase(const char *a, const char *b) {
  for (;; ++a, ++b) {
    unsigned char ca = ascii_lower(static_cast<unsigned char>(*a));
    unsigned char cb = ascii_lower(static_cast<unsigned char>(*b));
    if (ca != cb) return false;
    if (ca == 0) return true;
  }
}

}  // namespace

const char *tpsubm_data_lang_name(const char *code) {
  if (code == nullptr || code[0] == '\0') return nullptr;
  for (const lang_entry *row = ISO_LANGS; row->short_code != nullptr; ++row) {
    // Whole texts only: "en-US" matches nothing.
    if (equals_ascii_nocase(code, row->short_code) || equals_ascii_nocase(code, row->long_code)) {
      return row->english_name;
    }
  }
  return nullptr;
}

int32_t tpsubm_data_codepage_count() {
  return kCodepageCount;
}

const char *tpsubm_data_codepage(int32_t index) {
  if (static_cast<uint32_t>(index) >= static_cast<uint32_t>(kCodepageCount)) return nullptr;
  return CODEPAGES[index];
}
