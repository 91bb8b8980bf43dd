// Fuzzes markup cleaning. The input is one line (up to its first NUL byte).
// Checks what holds for every line: status 0, 1 to 64 parts, no line feed
// in a part, the parts never longer in total than the line, no hard break
// and no closable block left, whole UTF-8 kept, and every part a fixed
// point (cleaning it again gives it back as the only part).
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "tpsubm.h"

namespace {

std::vector<std::string> clean(const std::string &line) {
  FUZZ_CHECK(tpsubm_clean_line(line.c_str()) == TPSUBM_OK);
  FUZZ_CHECK(tpsubm_last_error()[0] == '\0');
  int32_t n = tpsubm_clean_part_count();
  FUZZ_CHECK(n >= 1 && n <= TPSUBM_MAX_CLEAN_PARTS);
  FUZZ_CHECK(tpsubm_clean_part(-1) == nullptr);
  FUZZ_CHECK(tpsubm_clean_part(n) == nullptr);
  std::vector<std::string> parts;
  for (int32_t i = 0; i < n; ++i) {
    const char *p = tpsubm_clean_part(i);
    FUZZ_CHECK(p != nullptr);
    parts.emplace_back(p);
  }
  return parts;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string raw(reinterpret_cast<const char *>(data), size);
  std::string line(raw.c_str());
  std::vector<std::string> parts = clean(line);

  size_t total = 0;
  std::string joined;
  for (const std::string &p : parts) {
    FUZZ_CHECK(p.find('\n') == std::string::npos);
    FUZZ_CHECK(p.find("\\N") == std::string::npos);
    total += p.size();
    joined += p;
    joined += '\n';
  }
  FUZZ_CHECK(total + parts.size() - 1 <= line.size());
  // A "{" that is left has no "}" anywhere after it.
  size_t open = joined.find('{');
  if (open != std::string::npos) FUZZ_CHECK(joined.find('}', open) == std::string::npos);
  if (fuzz::utf8_valid(line.c_str())) {
    for (const std::string &p : parts) FUZZ_CHECK(fuzz::utf8_valid(p.c_str()));
  }
  // A line without markup or line feeds is one part equal to itself.
  if (line.find_first_of("{\n") == std::string::npos && line.find("\\N") == std::string::npos) {
    FUZZ_CHECK(parts.size() == 1 && parts[0] == line);
  }
  for (const std::string &p : parts) {
    std::vector<std::string> again = clean(p);
    FUZZ_CHECK(again.size() == 1 && again[0] == p);
  }

  FUZZ_CHECK(tpsubm_clean_line(nullptr) == TPSUBM_INVALID);
  FUZZ_CHECK(tpsubm_clean_part_count() == 0);
  FUZZ_CHECK(std::string(tpsubm_last_error()) == "null");
  tpsubm_clear();
  return 0;
}
