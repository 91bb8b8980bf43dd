// The host layer's reading of text subtitle files, from bytes and from
// files: encodings, repairs, cue times, what is warned about and what is
// refused, reads on several threads, and the loader's handling of a full
// table. No FFmpeg file is generated here.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "../support.h"
#include "host/loader.h"
#include "host/reader.h"

namespace {

using host::ReadResult;

const char *const kEnglish[] = {
    "The storm came in from the west before anyone expected it.",
    "Mara, have you seen the lamp oil? We are almost out of it.",
    "It is in the shed behind the house, next to the old nets.",
};

std::string srt_time(int ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d,%03d", ms / 3600000, ms / 60000 % 60,
                ms / 1000 % 60, ms % 1000);
  return text;
}

// SubRip with the given cue texts, cue n from 2n+1 to 2n+2 seconds.
std::string srt(const std::vector<std::string> &texts) {
  std::string out;
  for (size_t n = 0; n < texts.size(); n++) {
    int start = static_cast<int>(n) * 2000 + 1000;
    out += std::to_string(n + 1) + "\n" + srt_time(start) + " --> " + srt_time(start + 1000) +
           "\n" + texts[n] + "\n\n";
  }
  return out;
}

std::string english() {
  return srt({kEnglish[0], kEnglish[1], kEnglish[2]});
}

// Each UTF-16 unit of ASCII text, in either byte order.
std::string utf16(const std::string &ascii, bool little_endian) {
  std::string out;
  for (char c : ascii) {
    out += little_endian ? std::string{c, '\0'} : std::string{'\0', c};
  }
  return out;
}

struct EncodingCase {
  const char *name;
  std::string bytes;
  const char *encoding;
  std::string second_line;  // the text of cue 2, as read
  std::vector<std::string> warnings;
};

TEST(ReadText, FindsTheEncodingAndRepairsFewInvalidBytes) {
  std::string acute = std::string(kEnglish[1]).replace(23, 4, "café");
  std::string emoji = std::string(kEnglish[1]) + " \xF0\x9F\x94\xA6";
  // Latin-1 text: every é is an invalid UTF-8 byte; uchardet is asked.
  std::string latin = "Le caf\xE9 \xE9tait ferm\xE9 et la temp\xEAte arrivait tr\xE8s vite.";
  std::string bad_byte = srt({acute, std::string(kEnglish[1]).replace(0, 1, "\xFF"), acute});
  std::string cut = srt({acute, std::string(kEnglish[1]).replace(4, 1, "\xE2\x80"), acute});
  auto replaced = [](size_t offset) {
    return "replaced 1 invalid byte sequence with U+FFFD, the first at byte " +
           std::to_string(offset) + " (read as UTF-8)";
  };
  const std::vector<EncodingCase> cases = {
      {"one é", srt({kEnglish[0], acute, kEnglish[2]}), "UTF-8", acute, {}},
      {"one emoji", srt({kEnglish[0], emoji, kEnglish[2]}), "UTF-8", emoji, {}},
      {"ASCII", english(), "ASCII", kEnglish[1], {}},
      {"UTF-8 BOM", "\xEF\xBB\xBF" + english(), "UTF-8", kEnglish[1], {}},
      {"UTF-16LE", utf16(english(), true), "UTF-16LE", kEnglish[1], {}},
      {"UTF-16BE", utf16(english(), false), "UTF-16BE", kEnglish[1], {}},
      {"UTF-16LE BOM", "\xFF\xFE" + utf16(english(), true), "UTF-16LE", kEnglish[1], {}},
      {"UTF-16BE BOM", "\xFE\xFF" + utf16(english(), false), "UTF-16BE", kEnglish[1], {}},
      {"one bad byte among é",
       bad_byte,
       "UTF-8",
       "\xEF\xBF\xBD" + std::string(kEnglish[1]).substr(1),
       {replaced(bad_byte.find('\xFF'))}},
      {"a cut sequence",
       cut,
       "UTF-8",
       std::string(kEnglish[1]).replace(4, 1, "\xEF\xBF\xBD"),
       {replaced(cut.find("\xE2\x80"))}},
      {"Latin-1",
       srt({latin, latin, latin}),
       "ISO-8859-1",
       "Le café était fermé et la tempête arrivait très vite.",
       {}},
  };
  for (const EncodingCase &c : cases) {
    SCOPED_TRACE(c.name);
    ReadResult r = host::read_bytes(c.bytes);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_FALSE(r.container);
    EXPECT_EQ(r.encoding, c.encoding);
    ASSERT_EQ(r.streams.size(), 1u);
    ASSERT_EQ(r.streams[0].cues.size(), 3u);
    EXPECT_EQ(r.streams[0].cues[1].lines, std::vector<std::string>{c.second_line});
    EXPECT_EQ(r.warnings, c.warnings);
  }
}

TEST(ReadText, RefusesTextThatIsMostlyInvalid) {
  // UTF-16 made of low surrogates that no high one precedes.
  std::string bytes = "\xFF\xFE" + utf16("1\n00:00:01,000 --> 00:00:02,000\n", true);
  for (int i = 0; i < 40; i++) bytes += std::string("\x00\xDC", 2);
  ReadResult r = host::read_bytes(bytes);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error,
            "the text is not valid UTF-16LE: 40 invalid byte sequences, the first at byte 66");
}

struct TimesCase {
  const char *name;
  std::string text;
  std::vector<std::pair<int32_t, int32_t>> times;
};

TEST(ReadText, KeepsZeroLengthCuesAndClosesOpenEnds) {
  const std::vector<TimesCase> cases = {
      {"zero length",
       "1\n00:00:01,000 --> 00:00:02,000\nOne\n\n2\n00:00:03,000 --> 00:00:03,000\nTwo\n\n"
       "3\n00:00:05,000 --> 00:00:06,000\nThree\n",
       {{1000, 2000}, {3000, 3000}, {5000, 6000}}},
      // SAMI leaves each cue open to the next; the last gets five seconds.
      {"open ends",
       "<SAMI><BODY>\n<SYNC Start=1000><P>One\n<SYNC Start=4000><P>Two\n</BODY></SAMI>\n",
       {{1000, 4000}, {4000, 9000}}},
  };
  for (const TimesCase &c : cases) {
    SCOPED_TRACE(c.name);
    ReadResult r = host::read_bytes(c.text);
    ASSERT_TRUE(r.ok) << r.error;
    std::vector<std::pair<int32_t, int32_t>> times;
    for (const host::Cue &cue : r.streams[0].cues) times.emplace_back(cue.start_ms, cue.end_ms);
    EXPECT_EQ(times, c.times);
  }
}

struct LossCase {
  const char *name;
  std::string text;
  const char *error;  // "" when it is read
  std::vector<std::string> warnings;
};

TEST(ReadText, TellsWhatFFmpegDroppedButNotBlankCues) {
  const std::vector<LossCase> cases = {
      // The parser takes cues not set off by blank lines for one.
      {"WebVTT without blank lines",
       "WEBVTT\n\n00:00:01.000 --> 00:00:02.000\nOne\n00:00:03.000 --> 00:00:04.000\nTwo\n"
       "00:00:05.000 --> 00:00:06.000\nThree\n",
       "",
       {"FFmpeg read 1 cue (as webvtt) from 3 timing lines"}},
      {"WebVTT with a STYLE block",
       "WEBVTT\n\nSTYLE\n::cue { color: yellow }\n\n00:00:01.000 --> 00:00:02.000\nOne\n\n"
       "00:00:03.000 --> 00:00:04.000\nTwo\n",
       "no cue could be read from it (FFmpeg reads it as webvtt, and it has 2 timing lines)",
       {}},
      {"WebVTT with a comma before the milliseconds",
       "WEBVTT\n\n00:00:01,000 --> 00:00:02,000\nOne\n\n00:00:03,000 --> 00:00:04,000\nTwo\n",
       "no cue could be read from it (FFmpeg reads it as webvtt, and it has 2 timing lines)",
       {}},
      // The decoder refuses the "&nbsp;" cues that clear the screen.
      {"SAMI blank cues",
       "<SAMI><BODY>\n<SYNC Start=1000><P>One line\n<SYNC Start=2000><P>&nbsp;\n"
       "<SYNC Start=3000><P>Another\n<SYNC Start=4000><P>&nbsp;\n</BODY></SAMI>\n",
       "",
       {}},
      // MicroDVD's first line gives the frame rate and is no cue.
      {"MicroDVD frame rate", "{1}{1}25\n{25}{50}One\n{75}{100}Two\n", "", {}},
      {"no subtitle at all",
       "Just a letter to a friend.\nNothing timed in it.\n",
       "FFmpeg does not recognise its format (Invalid data found when processing input)",
       {}},
  };
  for (const LossCase &c : cases) {
    SCOPED_TRACE(c.name);
    ReadResult r = host::read_bytes(c.text);
    EXPECT_EQ(r.error, c.error);
    EXPECT_EQ(r.ok, *c.error == '\0');
    EXPECT_EQ(r.warnings, c.warnings);
    if (!r.ok) {
      EXPECT_TRUE(r.streams.empty());
    }
  }
}

class Files : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("tpsubm-reader-" + std::to_string(getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string write(const std::string &name, const std::string &bytes) {
    std::string path = (dir_ / name).string();
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }

  std::filesystem::path dir_;
};

TEST_F(Files, RefusesWhatIsNotARegularFileOrTooLarge) {
  std::string fifo = (dir_ / "fifo.srt").string();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::string text = write("big.srt", english());
  std::string empty = write("empty.srt", "");
  host::Limits small;
  small.max_text_bytes = 100;
  host::Limits few_lines;
  few_lines.max_text_lines = 11;
  struct Case {
    std::string path;
    host::Limits limits;
    std::string error;
  };
  const std::vector<Case> cases = {
      // Opened plainly, a FIFO nobody writes to would block the read.
      {fifo, {}, "is a FIFO: only regular files are read"},
      {"/dev/zero", {}, "is a character device: only regular files are read"},
      {dir_.string(), {}, "is a directory: only regular files are read"},
      {(dir_ / "missing.srt").string(), {}, "cannot open: No such file or directory"},
      {empty, {}, "the file is empty"},
      {text, small, "is a text file of 275 bytes, more than the 100 bytes read as subtitles"},
      {text, few_lines, "has 12 lines of text, more than the 11 read as subtitles"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.path);
    ReadResult r = host::read_subtitles(c.path, c.limits);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, c.error);
  }
  EXPECT_TRUE(host::read_subtitles(text).ok);
}

TEST_F(Files, StopsWhenCancelled) {
  std::string path = write("a.srt", english());
  std::atomic<bool> cancel{true};
  host::Limits limits;
  limits.cancel = &cancel;
  ReadResult r = host::read_subtitles(path, limits);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error, "cancelled");
  cancel = false;
  EXPECT_TRUE(host::read_subtitles(path, limits).ok);
}

// What a read gives, flattened for comparison.
std::string summary(const ReadResult &r) {
  std::string out = r.error + "|" + r.encoding + "|" + r.format;
  for (const host::Stream &s : r.streams) {
    for (const host::Cue &c : s.cues) {
      out += "|" + std::to_string(c.start_ms) + "-" + std::to_string(c.end_ms);
      for (const std::string &line : c.lines) out += ":" + line;
    }
  }
  for (const std::string &w : r.warnings) out += "|" + w;
  return out;
}

TEST_F(Files, ReadsOnSeveralThreadsAtOnceAsOnOne) {
  std::vector<std::string> paths = {
      write("a.srt", english()),
      write("b.srt", utf16(english(), false)),
      write("c.vtt",
            "WEBVTT\n\n00:00:01.000 --> 00:00:02.000\nOne\n00:00:03.000 --> "
            "00:00:04.000\nTwo\n"),
      write("d.smi",
            "<SAMI><BODY>\n<SYNC Start=1000><P>One\n<SYNC Start=2000><P>&nbsp;\n"
            "</BODY></SAMI>\n"),
  };
  std::vector<std::string> expected;
  for (const std::string &p : paths) expected.push_back(summary(host::read_subtitles(p)));
  std::atomic<int> mismatches{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; t++) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 25; round++) {
        size_t k = static_cast<size_t>(t + round) % paths.size();
        if (summary(host::read_subtitles(paths[k])) != expected[k]) mismatches++;
      }
    });
  }
  for (std::thread &t : threads) t.join();
  EXPECT_EQ(mismatches.load(), 0);
}

class Loading : public ::testing::Test {
 protected:
  static host::LoadOptions options(const char *parent) {
    host::LoadOptions o;
    o.parent = parent;
    return o;
  }

  void SetUp() override { tpsubm_test::reset_library(); }
  void TearDown() override { tpsubm_test::reset_library(); }

  static ReadResult container(int streams) {
    ReadResult read;
    read.ok = true;
    read.container = true;
    for (int i = 0; i < streams; i++) {
      host::Stream s;
      s.index = i + 1;
      s.codec = "subrip";
      s.text = true;
      s.cues.push_back({1000, 2000, {kEnglish[i % 3]}});
      read.streams.push_back(s);
    }
    return read;
  }

  host::Translator names_;
};

TEST_F(Loading, KeepsTheStreamsThatFitAndNamesTheRest) {
  host::Loader loader(options("movie"));
  host::Loaded first = loader.load("a.mkv", container(60));
  ASSERT_TRUE(first.ok) << first.error;
  EXPECT_EQ(first.tracks.size(), 60u);
  EXPECT_TRUE(first.warnings.empty());
  host::Loaded second = loader.load("b.mkv", container(7));
  ASSERT_TRUE(second.ok) << second.error;
  ASSERT_EQ(second.tracks.size(), 4u);
  EXPECT_EQ(second.tracks[3].label(), "b.mkv#4");
  EXPECT_EQ(tpsubm_index(second.tracks[3].id), 64);
  EXPECT_EQ(second.warnings,
            std::vector<std::string>{"the library holds 64 tracks: streams 5, 6 and 7 left out"});
  // A text file that finds no room at all is not read.
  ReadResult text = container(1);
  text.container = false;
  host::Loaded third = loader.load("c.srt", text);
  EXPECT_FALSE(third.ok);
  EXPECT_EQ(third.error, "the library holds 64 tracks and has no room for this one");
}

TEST_F(Loading, FailsWithTheLibrarysCause) {
  host::Loader loader(options(""));  // the library refuses an empty parent text
  host::Loaded loaded = loader.load("a.mkv", container(3));
  EXPECT_FALSE(loaded.ok);
  EXPECT_EQ(loaded.error.rfind("stream 1: the library refused to create a track: ", 0), 0u)
      << loaded.error;
  EXPECT_TRUE(loaded.tracks.empty());
}

TEST_F(Loading, DetectsNamesAndSelects) {
  host::Loader loader(options("movie"));
  ReadResult read = host::read_bytes(english());
  ASSERT_TRUE(read.ok) << read.error;
  host::Loaded loaded = loader.load("a.srt", read);
  ASSERT_TRUE(loaded.ok) << loaded.error;
  ASSERT_EQ(loaded.tracks.size(), 1u);
  std::vector<std::string> warnings;
  host::add_to_collection(loaded.tracks, names_, warnings);
  const host::Track &t = loaded.tracks[0];
  EXPECT_EQ(t.label(), "a.srt");
  EXPECT_EQ(t.cues, 3);
  EXPECT_EQ(t.lines, 3);
  EXPECT_STREQ(tpsubm_encoding(t.id), "us-ascii");
  EXPECT_STREQ(tpsubm_language1(t.id), "en");
  EXPECT_EQ(t.name, "English");
  EXPECT_TRUE(t.in_collection);
  EXPECT_TRUE(warnings.empty());
  EXPECT_EQ(host::default_primary(loaded.tracks), t.id);
  EXPECT_EQ(host::default_secondary(loaded.tracks, t.id), -1);
}

}  // namespace
