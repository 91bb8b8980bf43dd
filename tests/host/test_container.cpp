// The host layer's container reading on Matroska files made with the ffmpeg
// program: chosen streams only, the tags, and the byte, packet, time and
// cancel bounds. The program's path comes from the build (TPSUBM_FFMPEG).
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "host/reader.h"

extern "C" {
#include <libavutil/log.h>
}

namespace {

using host::ReadResult;

std::string srt_time(int ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d,%03d", ms / 3600000, ms / 60000 % 60,
                ms / 1000 % 60, ms % 1000);
  return text;
}

class Container : public ::testing::Test {
 protected:
  // One film for the whole suite: 60 s of raw video (about 35 MB) with two
  // SubRip streams of 30 cues each, interleaved to the end.
  static void SetUpTestSuite() {
    const char *ffmpeg = TPSUBM_FFMPEG;
    if (*ffmpeg == '\0') return;
    dir_ =
        std::filesystem::temp_directory_path() / ("tpsubm-container-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir_);
    for (const char *lang : {"en", "de"}) {
      std::ofstream out(dir_ / (std::string(lang) + ".srt"));
      for (int n = 0; n < 30; n++) {
        out << n + 1 << "\n"
            << srt_time(n * 2000) << " --> " << srt_time(n * 2000 + 1500) << "\n"
            << lang << " line " << n << "\n\n";
      }
    }
    film_ = (dir_ / "film.mkv").string();
    std::string command = std::string(ffmpeg) +
                          " -v error -y -f lavfi -i color=c=gray:size=160x120:rate=25:duration=60"
                          " -i " +
                          (dir_ / "en.srt").string() + " -i " + (dir_ / "de.srt").string() +
                          " -map 0:v -map 1:s -map 2:s -c:v rawvideo -pix_fmt rgb24"
                          " -allow_raw_vfw 1 -c:s srt -metadata:s:s:0 language=eng"
                          " -metadata:s:s:1 language=ger -metadata:s:s:1 title=Deutsch " +
                          film_;
    if (std::system(command.c_str()) != 0) film_.clear();
    // The same video with subtitles only in its first seconds.
    {
      std::ofstream out(dir_ / "early.srt");
      out << "1\n00:00:01,000 --> 00:00:02,000\nearly line\n\n";
    }
    early_ = (dir_ / "early.mkv").string();
    command = std::string(ffmpeg) + " -v error -y -i " + film_ + " -i " +
              (dir_ / "early.srt").string() + " -map 0:v -map 1:s -c copy -allow_raw_vfw 1 " +
              early_;
    if (film_.empty() || std::system(command.c_str()) != 0) film_.clear();
  }
  static void TearDownTestSuite() {
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
  }
  void SetUp() override {
    if (*TPSUBM_FFMPEG == '\0') GTEST_SKIP() << "the ffmpeg program is not installed";
    ASSERT_FALSE(film_.empty()) << "ffmpeg could not make the film";
  }

  static std::filesystem::path dir_;
  static std::string film_;
  static std::string early_;
};

std::filesystem::path Container::dir_;
std::string Container::film_;
std::string Container::early_;

TEST_F(Container, ReadsEveryStreamWithItsTags) {
  ReadResult r = host::read_subtitles(film_);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_TRUE(r.container);
  EXPECT_TRUE(r.complete);
  EXPECT_EQ(r.encoding, "");
  EXPECT_TRUE(r.warnings.empty());
  ASSERT_EQ(r.streams.size(), 2u);
  EXPECT_EQ(r.streams[0].index, 1);
  EXPECT_EQ(r.streams[0].language, "eng");
  EXPECT_EQ(r.streams[1].language, "ger");
  EXPECT_EQ(r.streams[1].title, "Deutsch");
  ASSERT_EQ(r.streams[1].cues.size(), 30u);
  EXPECT_EQ(r.streams[1].cues[29].start_ms, 58000);
  EXPECT_EQ(r.streams[1].cues[29].end_ms, 59500);
  EXPECT_EQ(r.streams[1].cues[29].lines, std::vector<std::string>{"de line 29"});
}

TEST_F(Container, ReadsOnlyTheStreamsAskedFor) {
  ReadResult r = host::read_streams(film_, {2, 0, 7});
  ASSERT_TRUE(r.ok) << r.error;
  ASSERT_EQ(r.streams.size(), 1u);
  EXPECT_EQ(r.streams[0].index, 2);
  EXPECT_EQ(r.streams[0].cues.size(), 30u);
  EXPECT_EQ(r.warnings, std::vector<std::string>{
                            "streams 0 and 7 asked for: not a subtitle stream of the file"});
  ReadResult video = host::read_streams(film_, {0});
  EXPECT_FALSE(video.ok);
  EXPECT_EQ(video.error, "none of the streams asked for is a subtitle stream");
  // A URL goes to FFmpeg's protocols.
  ReadResult url = host::read_streams("file://" + film_, {1});
  ASSERT_TRUE(url.ok) << url.error;
  EXPECT_EQ(url.streams[0].cues.size(), 30u);
}

TEST_F(Container, StopsAtTheBudgetAndSaysWhatIsLeft) {
  struct Case {
    const char *name;
    host::Limits limits;
    const char *stopped;  // the start of the warning
  };
  host::Limits bytes;
  bytes.max_container_bytes = 10 << 20;
  host::Limits packets;
  packets.max_packet_bytes = 1000;
  std::vector<Case> cases = {
      {"bytes", bytes, "reading stopped at the budget of 10.0 MiB read ("},
      {"packets", packets, "reading stopped at the budget of 1000 bytes of subtitle packets ("},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    ReadResult r = host::read_subtitles(film_, c.limits);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_FALSE(r.complete);
    ASSERT_EQ(r.warnings.size(), 1u);
    EXPECT_EQ(r.warnings[0].rfind(c.stopped, 0), 0u) << r.warnings[0];
    EXPECT_NE(r.warnings[0].find("): subtitles after "), std::string::npos) << r.warnings[0];
    size_t cues = r.streams[0].cues.size();
    EXPECT_GT(cues, 0u);
    EXPECT_LT(cues, 30u);
  }
  // Past its last subtitle the demuxer reads on without returning a packet;
  // the byte budget stops it there too.
  ReadResult early = host::read_subtitles(early_, bytes);
  ASSERT_TRUE(early.ok) << early.error;
  EXPECT_FALSE(early.complete);
  EXPECT_EQ(early.streams[0].cues.size(), 1u);
  ASSERT_EQ(early.warnings.size(), 1u);
  EXPECT_EQ(early.warnings[0].rfind("reading stopped at the budget of 10.0 MiB read (", 0), 0u)
      << early.warnings[0];
  EXPECT_TRUE(host::read_subtitles(early_).complete);

  host::Limits no_time;
  no_time.max_milliseconds = 0;
  ReadResult r = host::read_subtitles(film_, no_time);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error, "FFmpeg could not open it within the time budget");
}

// FFmpeg's messages of the program's own callback.
std::vector<std::string> g_messages;

void collect(void *, int level, const char *format, va_list args) {
  if (level > AV_LOG_WARNING) return;
  char text[512];
  std::vsnprintf(text, sizeof text, format, args);
  g_messages.emplace_back(text);
}

TEST_F(Container, LeavesFFmpegsLogToTheProgram) {
  std::string cut = (dir_ / "cut.mkv").string();
  std::filesystem::copy_file(film_, cut, std::filesystem::copy_options::overwrite_existing);
  std::filesystem::resize_file(cut, std::filesystem::file_size(film_) / 2);
  av_log_set_callback(collect);
  ReadResult r = host::read_subtitles(cut);
  av_log_set_callback(av_log_default_callback);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_GT(r.streams[0].cues.size(), 0u);
  EXPECT_LT(r.streams[0].cues.size(), 30u);
  bool cut_seen = false;
  for (const std::string &m : g_messages) cut_seen |= m.find("File ended prematurely") == 0;
  EXPECT_TRUE(cut_seen);
}

TEST_F(Container, StopsWhenCancelled) {
  std::atomic<bool> cancel{true};
  host::Limits limits;
  limits.cancel = &cancel;
  ReadResult r = host::read_streams(film_, {1}, limits);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error, "cancelled");
  EXPECT_TRUE(r.streams.empty());
}

}  // namespace
