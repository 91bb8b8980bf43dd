#include "mpv/detection.h"

#include <string_view>

#include "host/language.h"
#include "mpv/parallel.h"
#include "tpsubm.h"

namespace tpsubm_mpv {

void Detector::prepare(const std::vector<Work> &tracks, const std::function<void()> &wait) {
  answers_.clear();
  hits_ = misses_ = 0;
  // The library hands over a line as it is, or the parts of its cleaning
  // when it holds markup.
  for (const Work &work : tracks) {
    int32_t id = work.id;
    for (int32_t p = 0; p < work.cues; p++) {
      int32_t count = tpsubm_cue_line_count(id, p);
      for (int32_t k = 0; k < count; k++) {
        const char *line = tpsubm_cue_line(id, p, k);
        if (line == nullptr) continue;
        std::string_view text(line);
        if (text.find_first_of("{\n") == std::string_view::npos &&
            text.find("\\N") == std::string_view::npos) {
          answers_.try_emplace(std::string(text), nullptr);
          continue;
        }
        if (tpsubm_clean_line(line) != TPSUBM_OK) continue;
        int32_t parts = tpsubm_clean_part_count();
        for (int32_t i = 0; i < parts; i++) {
          const char *part = tpsubm_clean_part(i);
          if (part != nullptr) answers_.try_emplace(part, nullptr);
        }
      }
    }
  }
  if (answers_.empty()) return;
  // The map's shape is fixed now; each job writes only its own entries.
  std::vector<std::pair<const std::string, const char *> *> entries;
  entries.reserve(answers_.size());
  for (auto &entry : answers_) entries.push_back(&entry);
  constexpr size_t threads = 4;
  std::vector<std::function<void()>> jobs;
  for (size_t j = 0; j < threads; j++) {
    jobs.emplace_back([&, j] {
      for (size_t i = j; i < entries.size(); i += threads) {
        entries[i]->second = host::detect_language(nullptr, entries[i]->first.c_str());
      }
    });
  }
  run_parallel(jobs, wait);
}

void Detector::forget() {
  answers_.clear();
}

const char *Detector::detect(void *ctx, const char *text) {
  auto *self = static_cast<Detector *>(ctx);
  auto it = self->answers_.find(std::string_view(text));
  if (it != self->answers_.end()) {
    self->hits_++;
    return it->second;
  }
  self->misses_++;
  return host::detect_language(nullptr, text);
}

}  // namespace tpsubm_mpv
