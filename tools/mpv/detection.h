// The language detector the plugin registers with the library. Before a
// detection run, prepare() computes the answer for every line of the tracks
// on worker threads; the library's calls, on the plugin's thread, then only
// look the answers up.
#ifndef TPSUBM_MPV_DETECTION_H
#define TPSUBM_MPV_DETECTION_H

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tpsubm_mpv {

class Detector {
 public:
  // Library thread: collects the texts the library will hand to the
  // detector for these finalized tracks, then answers them in parallel.
  struct Work {
    int32_t id;    // a finalized track
    int32_t cues;  // its number of cues
  };
  void prepare(const std::vector<Work> &tracks, const std::function<void()> &wait = nullptr);
  void forget();

  // tpsubm_detector_fn; ctx is a Detector. A text prepare() did not see is
  // answered on the spot.
  static const char *detect(void *ctx, const char *text);

  size_t hits() const { return hits_; }
  size_t misses() const { return misses_; }

 private:
  struct Hash {
    using is_transparent = void;
    size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
  };
  std::unordered_map<std::string, const char *, Hash, std::equal_to<>> answers_;
  size_t hits_ = 0;
  size_t misses_ = 0;
};

}  // namespace tpsubm_mpv

#endif
