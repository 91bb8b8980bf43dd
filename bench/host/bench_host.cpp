// Reading and language detection of whole subtitle files, stage by stage,
// as the host layer does them for the probe and for a player plugin.
//
// The files are made at start from the samples' sentences, cut at their
// commas and recombined: 1,000 two-line dialogue cues per language, in the
// encodings such files come in (UTF-8, Windows-1252, GBK). Every figure is
// the time for one file, so it reads as "per 1,000 cues".
//
// Each benchmark runs on a worker thread of its own, so that its heap
// (glibc gives each thread an arena) starts in the state the variant
// describes: "default" leaves glibc as it is, "pinned" keeps the free block
// of keep_detection_heap_warm. `--tuned` raises glibc's trim threshold for
// the whole process first, as the probe does.
#include <benchmark/benchmark.h>
#include <iconv.h>
#include <malloc.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "host/language.h"
#include "tpsubm.h"

// The same benchmark builds on the host layer before its reader, detector
// and heap block existed (commit 741d49d), for the figures before and after:
// there a file was read whole, decoded by its detected encoding, demuxed in
// memory, and every CLD2 answer voted.
#if __has_include("host/reader.h")
#define BENCH_HOST_NOW 1
#include "host/charset.h"
#include "host/demux.h"
#include "host/reader.h"
#else
#define BENCH_HOST_NOW 0
#include "host/demux.h"
#include "host/input.h"
#endif

namespace {

namespace fs = std::filesystem;

double thread_seconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// A thread that runs one task at a time for the benchmark thread and times
// it; its heap is its own.
class Worker {
 public:
  explicit Worker(bool pinned)
      : thread_([this, pinned] {
#if BENCH_HOST_NOW
          if (pinned) host::keep_detection_heap_warm();
#endif
          loop();
        }) {
  }
  ~Worker() {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }
  // Runs `task` on the worker and returns the processor time the worker
  // spent on it, in seconds: its own work and the kernel's for it (page
  // faults), not the time it waited for a processor the machine's other
  // programs held.
  double run(const std::function<void()> &task) {
    std::unique_lock lock(mutex_);
    task_ = &task;
    wake_.notify_all();
    done_.wait(lock, [this] { return task_ == nullptr; });
    return seconds_;
  }
  // The page faults the worker took during the last task.
  long faults() const {
    return faults_;
  }

 private:
  void loop() {
    std::unique_lock lock(mutex_);
    for (;;) {
      wake_.wait(lock, [this] { return stop_ || task_ != nullptr; });
      if (stop_) return;
      rusage before{};
      rusage after{};
      getrusage(RUSAGE_THREAD, &before);
      double start = thread_seconds();
      (*task_)();
      seconds_ = thread_seconds() - start;
      getrusage(RUSAGE_THREAD, &after);
      faults_ = after.ru_minflt - before.ru_minflt;
      task_ = nullptr;
      done_.notify_all();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable done_;
  const std::function<void()> *task_ = nullptr;
  double seconds_ = 0;
  long faults_ = 0;
  bool stop_ = false;
  std::thread thread_;  // last: starts once the rest is ready
};

Worker &worker(bool pinned) {
  static Worker plain(false);
  static Worker warm(true);
  return pinned ? warm : plain;
}

#if BENCH_HOST_NOW
using Answers = std::shared_ptr<const host::TrackAnswers>;
#else
using Answers = std::shared_ptr<const int>;  // nothing was computed ahead then
#endif

// The three stages of reading one text subtitle file, in either version.
std::string read_and_convert(const std::string &path) {
#if BENCH_HOST_NOW
  std::ifstream in(path, std::ios::binary);
  std::string raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return host::decode_text(raw).text;
#else
  std::string raw;
  std::string error;
  host::Input input;
  if (!host::read_file(path, raw, error) || !host::decode_input(std::move(raw), input, error)) {
    return "";
  }
  return input.bytes;
#endif
}

std::vector<host::Cue> demux_text(const std::string &utf8) {
#if BENCH_HOST_NOW
  host::DemuxRequest request;
  request.memory = utf8;
  request.text_file = true;
  request.deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  host::ReadResult out;
  host::DemuxCounts counts;
  host::demux(request, host::Limits{}, out, counts);
  return out.ok && !out.streams.empty() ? out.streams[0].cues : std::vector<host::Cue>{};
#else
  host::Demuxed out;
  std::string error;
  if (!host::demux(utf8, out, error) || out.streams.empty()) return {};
  return out.streams[0].cues;
#endif
}

// The cues of the file's first stream, read the way the host reads a file.
std::vector<host::Cue> read_cues(const std::string &path) {
#if BENCH_HOST_NOW
  host::ReadResult read = host::read_subtitles(path);
  return read.ok && !read.streams.empty() ? read.streams[0].cues : std::vector<host::Cue>{};
#else
  return demux_text(read_and_convert(path));
#endif
}

struct GeneratedFile {
  std::string path;
  std::string raw;              // the file's bytes
  std::string utf8;             // the same text in UTF-8
  std::vector<host::Cue> cues;  // as the reader reads them
  size_t lines = 0;             // text lines, after the library's cleaning
  size_t distinct = 0;          // different ones among them
};

std::map<std::string, GeneratedFile> &files() {
  static std::map<std::string, GeneratedFile> all;
  return all;
}

std::string convert(const std::string &utf8, const char *encoding) {
  if (std::strcmp(encoding, "UTF-8") == 0) return utf8;
  iconv_t cd = iconv_open(encoding, "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) return "";
  std::string out(utf8.size() * 2 + 16, '\0');
  char *in = const_cast<char *>(utf8.data());
  size_t in_left = utf8.size();
  char *to = out.data();
  size_t out_left = out.size();
  size_t done = iconv(cd, &in, &in_left, &to, &out_left);
  iconv_close(cd);
  if (done == static_cast<size_t>(-1)) return "";
  out.resize(out.size() - out_left);
  return out;
}

std::string trim(std::string s) {
  size_t b = s.find_first_not_of(' ');
  size_t e = s.find_last_not_of(' ');
  return b == std::string::npos ? "" : s.substr(b, e - b + 1);
}

// A line of the samples with its markup gone: each "{...}" block and
// "<...>" tag dropped, "\N" and "|" (MicroDVD) ending a part.
std::vector<std::string> plain_parts(const std::string &line) {
  std::vector<std::string> parts(1);
  for (size_t i = 0; i < line.size(); i++) {
    char c = line[i];
    size_t close = c == '{' ? line.find('}', i) : c == '<' ? line.find('>', i) : std::string::npos;
    if (close != std::string::npos) {
      i = close;
    } else if (c == '\\' && i + 1 < line.size() && line[i + 1] == 'N') {
      parts.emplace_back();
      i++;
    } else if (c == '|') {
      parts.emplace_back();
    } else {
      parts.back() += c;
    }
  }
  return parts;
}

// The clauses of the samples' lines, by language: the language is the
// sample's name ("lighthouse.fr.ass"), and in the bilingual sample a part
// with Chinese characters is Chinese.
std::map<std::string, std::vector<std::string>> sample_clauses() {
  std::map<std::string, std::vector<std::string>> clauses;
  std::vector<fs::path> paths;
  for (const auto &entry : fs::directory_iterator(TPSUBM_BENCH_SAMPLES)) {
    if (entry.is_regular_file() && entry.path().filename().string().starts_with("lighthouse.")) {
      paths.push_back(entry.path());
    }
  }
  std::sort(paths.begin(), paths.end());
  for (const fs::path &path : paths) {
    std::string code = path.stem().extension().string().substr(1);  // "fr", "zh-en"
    code = code.substr(0, code.find('-'));
    for (const host::Cue &cue : read_cues(path.string())) {
      for (const std::string &line : cue.lines) {
        for (std::string part : plain_parts(line)) {
          part = trim(part);
          if (part.empty() || part.find("♪") != std::string::npos) continue;
          bool han = std::any_of(part.begin(), part.end(),
                                 [](char c) { return static_cast<unsigned char>(c) >= 0xE3; });
          std::vector<std::string> &to = clauses[han ? "zh" : code == "zh" ? "en" : code];
          // Cut after commas and sentence ends (both widths); each piece
          // keeps its mark.
          std::string piece;
          size_t i = 0;
          while (i < part.size()) {
            bool wide = part.compare(i, 3, "，") == 0 || part.compare(i, 3, "。") == 0 ||
                        part.compare(i, 3, "？") == 0 || part.compare(i, 3, "！") == 0;
            size_t width = wide ? 3 : 1;
            piece.append(part, i, width);
            if (wide || std::strchr(",.?!", part[i]) != nullptr) {
              to.push_back(trim(piece));
              piece.clear();
            }
            i += width;
          }
          if (!trim(piece).empty()) to.push_back(trim(piece));
        }
      }
    }
  }
  for (auto &[code, pool] : clauses) {
    std::sort(pool.begin(), pool.end());
    pool.erase(std::unique(pool.begin(), pool.end()), pool.end());
    pool.erase(
        std::remove_if(pool.begin(), pool.end(), [](const std::string &c) { return c.size() < 4; }),
        pool.end());
  }
  return clauses;
}

std::string srt_time(int ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d,%03d", ms / 3600000, ms / 60000 % 60,
                ms / 1000 % 60, ms % 1000);
  return text;
}

// 1,000 cues of two lines, each line one or two clauses; now and then a
// line in italics, as dialogue files have them.
std::string dialogue_file(const std::vector<std::string> &clauses, unsigned seed, bool cjk) {
  std::mt19937 random(seed);
  auto pick = [&] { return clauses[random() % clauses.size()]; };
  std::string out;
  int t = 1000;
  for (int i = 1; i <= 1000; i++) {
    out += std::to_string(i) + "\r\n" + srt_time(t) + " --> " + srt_time(t + 2400) + "\r\n";
    for (int line = 0; line < 2; line++) {
      // A clause, and most often a second one: subtitle lines run to
      // about 40 characters, and few lines repeat in a film.
      std::string text = pick();
      if (random() % 10 < 8) {
        if (!cjk) text += ' ';
        text += pick();
      }
      if (random() % 10 == 0) text = "<i>" + text + "</i>";
      out += text + "\r\n";
    }
    out += "\r\n";
    t += 2500 + static_cast<int>(random() % 1500);
  }
  return out;
}

void make_files() {
  std::map<std::string, std::vector<std::string>> clauses = sample_clauses();
  fs::path dir = fs::temp_directory_path() / ("tpsubm-bench-host-" + std::to_string(getpid()));
  fs::create_directories(dir);
  struct FileKind {
    const char *name;
    const char *code;
    const char *encoding;
  };
  const FileKind kinds[] = {{"en", "en", "UTF-8"},
                            {"fr", "fr", "UTF-8"},
                            {"de", "de", "UTF-8"},
                            {"es", "es", "WINDOWS-1252"},
                            {"zh", "zh", "GBK"}};
  unsigned seed = 1;
  for (const FileKind &kind : kinds) {
    GeneratedFile file;
    file.utf8 = dialogue_file(clauses[kind.code], seed++, std::strcmp(kind.code, "zh") == 0);
    file.raw = convert(file.utf8, kind.encoding);
    file.path = (dir / (std::string(kind.name) + ".srt")).string();
    std::ofstream(file.path, std::ios::binary) << file.raw;
    file.cues = read_cues(file.path);
    std::set<std::string> seen;
    for (const host::Cue &cue : file.cues) {
      for (const std::string &line : cue.lines) {
        for (const std::string &part : plain_parts(line)) {
          file.lines++;
          seen.insert(part);
        }
      }
    }
    file.distinct = seen.size();
    files()[kind.name] = std::move(file);
  }
}

const GeneratedFile *file_or_skip(benchmark::State &state, const std::string &name) {
  auto it = files().find(name);
  if (it == files().end() || it->second.cues.size() != 1000) {
    state.SkipWithError("the generated file could not be read back");
    return nullptr;
  }
  return &it->second;
}

// Loads the cues into the library as the loader does, detects and
// releases the track. With `answers` the detector takes them; without, it
// is prepared from the lines and detects on the spot.
void load_and_detect(const std::vector<host::Cue> &cues, const Answers &answers) {
  int32_t id = tpsubm_create("bench", 0, 0, 0, 0, nullptr);
  for (const host::Cue &cue : cues) {
    int32_t position = tpsubm_add_cue(id, cue.start_ms, cue.end_ms);
    for (const std::string &line : cue.lines) tpsubm_add_cue_line(id, position, line.c_str());
  }
  tpsubm_finalize(id);
#if BENCH_HOST_NOW
  host::Detector detector;
  if (answers) {
    detector.use(answers);
  } else {
    std::vector<std::string> lines;
    for (const host::Cue &cue : cues) lines.insert(lines.end(), cue.lines.begin(), cue.lines.end());
    detector.prepare(lines);
  }
  tpsubm_set_detector(host::Detector::detect, &detector);
#else
  (void)answers;
  tpsubm_set_detector(host::detect_language, nullptr);
#endif
  tpsubm_detect_languages(id);
  benchmark::DoNotOptimize(tpsubm_language1(id));
  tpsubm_set_detector(nullptr, nullptr);
  tpsubm_destroy(id);
}

using Body = std::function<void(const GeneratedFile &)>;

void run_on_worker(benchmark::State &state, const std::string &name, bool pinned,
                   const Body &body) {
  const GeneratedFile *file = file_or_skip(state, name);
  if (file == nullptr) return;
  std::function<void()> task = [&] { body(*file); };
  long faults = 0;
  for (auto _ : state) {
    state.SetIterationTime(worker(pinned).run(task));
    faults += worker(pinned).faults();
  }
  state.counters["cues"] = static_cast<double>(file->cues.size());
  state.counters["lines"] = static_cast<double>(file->lines);
  state.counters["distinct"] = static_cast<double>(file->distinct);
  state.counters["faults"] =
      benchmark::Counter(static_cast<double>(faults), benchmark::Counter::kAvgIterations);
}

void register_all() {
  for (const auto &[name, file] : files()) {
    const std::string n = name;
    auto add = [&](const std::string &stage, bool pinned, Body body) {
      benchmark::RegisterBenchmark(
          (stage + "/" + n).c_str(),
          [n, pinned, body](benchmark::State &state) { run_on_worker(state, n, pinned, body); })
          ->UseManualTime()
          ->Unit(benchmark::kMillisecond);
    };
    // Reading: the file's bytes and their encoding, then FFmpeg, then both
    // as the host does them.
    add("read_charset", false,
        [](const GeneratedFile &f) { benchmark::DoNotOptimize(read_and_convert(f.path).data()); });
    add("demux_decode", false,
        [](const GeneratedFile &f) { benchmark::DoNotOptimize(demux_text(f.utf8).data()); });
    add("read", false,
        [](const GeneratedFile &f) { benchmark::DoNotOptimize(read_cues(f.path).data()); });
    // Detection with the library: create, cues, finalize, detect.
    add("detect/default", false, [](const GeneratedFile &f) { load_and_detect(f.cues, nullptr); });
    add("read_and_detect/default", false,
        [](const GeneratedFile &f) { load_and_detect(read_cues(f.path), nullptr); });
#if BENCH_HOST_NOW
    // The same on a thread whose heap keeps a pinned free block.
    add("detect/pinned", true, [](const GeneratedFile &f) { load_and_detect(f.cues, nullptr); });
    add("read_and_detect/pinned", true,
        [](const GeneratedFile &f) { load_and_detect(read_cues(f.path), nullptr); });
    // A player's split: answers computed on a worker, the library's run
    // then takes them.
    add("precompute/pinned", true, [](const GeneratedFile &f) {
      host::TrackAnswers answers = host::precompute_answers(f.cues);
      benchmark::DoNotOptimize(answers.size());
    });
    Answers answers =
        std::make_shared<const host::TrackAnswers>(host::precompute_answers(file.cues));
    add("detect_precomputed", true,
        [answers](const GeneratedFile &f) { load_and_detect(f.cues, answers); });
#endif
  }
}

// CLD2 in a thread of a process whose heap glibc has not yet adjusted:
// before anything has freed a block above glibc's mmap threshold, glibc
// keeps its default trim threshold, and each detection grows and trims the
// heap. Once a large block is freed (reading a file does it), glibc raises
// both thresholds for the whole process and the cycle stops by itself; the
// benchmarks above run after that. So this is measured first, on fresh
// threads: `pinned` with the block of keep_detection_heap_warm.
std::string fresh_thread_detection([[maybe_unused]] bool pinned) {
  const char *lines[] = {"Where is he?", "Mara, have you seen the lamp oil?",
                         "Fais bien attention dans l'escalier.", "Ich weiß es nicht.",
                         "风暴比任何人预料的都要早，从西边压了过来。"};
  constexpr int kCalls = 5000;
  double seconds = 0;
  long faults = 0;
  std::thread([&] {
#if BENCH_HOST_NOW
    if (pinned) host::keep_detection_heap_warm();
#endif
    rusage before{};
    rusage after{};
    getrusage(RUSAGE_THREAD, &before);
    double start = thread_seconds();
    for (int i = 0; i < kCalls; i++) {
#if BENCH_HOST_NOW
      benchmark::DoNotOptimize(host::detect_line(lines[i % 5]));
#else
      benchmark::DoNotOptimize(host::detect_language(nullptr, lines[i % 5]));
#endif
    }
    seconds = thread_seconds() - start;
    getrusage(RUSAGE_THREAD, &after);
    faults = after.ru_minflt - before.ru_minflt;
  }).join();
  char text[96];
  std::snprintf(text, sizeof text, "%.2f us/line, %.1f page faults/line", seconds * 1e6 / kCalls,
                static_cast<double>(faults) / kCalls);
  return text;
}

}  // namespace

int main(int argc, char **argv) {
  bool tuned = false;
  int kept = 1;
  for (int i = 1; i < argc; i++) {
    if (std::strcmp(argv[i], "--tuned") == 0) {
      tuned = true;
    } else {
      argv[kept++] = argv[i];
    }
  }
  argc = kept;
  // What the probe's main does.
  if (tuned) mallopt(M_TRIM_THRESHOLD, 16 * 1024 * 1024);
  // Before anything else touches the heap.
  std::string fresh = fresh_thread_detection(false);
#if BENCH_HOST_NOW
  std::string fresh_pinned = fresh_thread_detection(true);
#endif
  make_files();
  register_all();
  benchmark::AddCustomContext("allocator", tuned ? "trim threshold raised (--tuned)" : "glibc's");
  benchmark::AddCustomContext("fresh thread, default heap", fresh);
#if BENCH_HOST_NOW
  benchmark::AddCustomContext("fresh thread, pinned block", fresh_pinned);
#endif
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code ignored;
  if (!files().empty())
    fs::remove_all(fs::path(files().begin()->second.path).parent_path(), ignored);
  return 0;
}
