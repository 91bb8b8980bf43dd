// tpsubm.so, an mpv C plugin: reads the text of every subtitle track when a
// file is opened, names the tracks by the languages found in it, and selects
// the primary and the secondary track by language.
//
// All tpsubm_ calls are made on the plugin's own thread (the one mpv runs
// mpv_open_cplugin on); reading and language detection run on worker threads
// that are joined before the hook returns to mpv.
#include <mpv/client.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "host/language.h"
#include "host/loader.h"
#include "host/reader.h"
#include "mpv/parallel.h"
#include "mpv/selection.h"
#include "tpsubm.h"

namespace tpsubm_mpv {
namespace {

constexpr uint64_t kPreloadedHook = 1;
constexpr uint64_t kTrackCount = 2;
constexpr uint64_t kSid = 3;
constexpr uint64_t kSecondarySid = 4;
constexpr const char *kDefaultKey = "Alt+l";
// Reading the tracks of one file may take this long by default
// (--script-opts=tpsubm-budget-ms=N); what is left unread then is analysed
// from what was read.
constexpr int64_t kBudgetMs = 2000;

// ---------------------------------------------------------------------------
// mpv nodes

const mpv_node *field(const mpv_node &map, const char *key) {
  if (map.format != MPV_FORMAT_NODE_MAP) return nullptr;
  for (int i = 0; i < map.u.list->num; i++) {
    if (std::strcmp(map.u.list->keys[i], key) == 0) return &map.u.list->values[i];
  }
  return nullptr;
}

std::string string_field(const mpv_node &map, const char *key) {
  const mpv_node *v = field(map, key);
  return v != nullptr && v->format == MPV_FORMAT_STRING ? v->u.string : "";
}

int64_t int_field(const mpv_node &map, const char *key, int64_t fallback) {
  const mpv_node *v = field(map, key);
  return v != nullptr && v->format == MPV_FORMAT_INT64 ? v->u.int64 : fallback;
}

bool flag_field(const mpv_node &map, const char *key) {
  const mpv_node *v = field(map, key);
  return v != nullptr && v->format == MPV_FORMAT_FLAG && v->u.flag != 0;
}

// A subtitle track as mpv lists it.
struct MpvTrack {
  int64_t id = 0;
  bool external = false;
  std::string file;  // external-filename
  int64_t ff_index = -1;
  std::string codec;
  std::string lang;
  std::string title;
};

std::vector<MpvTrack> subtitle_tracks(mpv_handle *h) {
  std::vector<MpvTrack> out;
  mpv_node list{};
  if (mpv_get_property(h, "track-list", MPV_FORMAT_NODE, &list) < 0) return out;
  if (list.format == MPV_FORMAT_NODE_ARRAY) {
    for (int i = 0; i < list.u.list->num; i++) {
      const mpv_node &t = list.u.list->values[i];
      if (string_field(t, "type") != "sub") continue;
      MpvTrack track;
      track.id = int_field(t, "id", -1);
      track.external = flag_field(t, "external");
      track.file = string_field(t, "external-filename");
      track.ff_index = int_field(t, "ff-index", -1);
      track.codec = string_field(t, "codec");
      track.lang = string_field(t, "lang");
      track.title = string_field(t, "title");
      if (track.id >= 0) out.push_back(std::move(track));
    }
  }
  mpv_free_node_contents(&list);
  return out;
}

std::string string_property(mpv_handle *h, const char *name) {
  char *value = mpv_get_property_string(h, name);
  std::string out = value != nullptr ? value : "";
  mpv_free(value);
  return out;
}

std::vector<std::string> list_property(mpv_handle *h, const char *name) {
  std::vector<std::string> out;
  mpv_node node{};
  if (mpv_get_property(h, name, MPV_FORMAT_NODE, &node) < 0) return out;
  if (node.format == MPV_FORMAT_NODE_ARRAY) {
    for (int i = 0; i < node.u.list->num; i++) {
      const mpv_node &v = node.u.list->values[i];
      if (v.format == MPV_FORMAT_STRING) out.emplace_back(v.u.string);
    }
  } else if (node.format == MPV_FORMAT_STRING) {
    out = split_list(node.u.string);
  }
  mpv_free_node_contents(&node);
  return out;
}

// The plugin's own option from --script-opts=tpsubm-NAME=VALUE.
std::string script_opt(mpv_handle *h, const std::string &name) {
  std::string out;
  mpv_node node{};
  if (mpv_get_property(h, "options/script-opts", MPV_FORMAT_NODE, &node) < 0) return out;
  const mpv_node *v = field(node, (std::string(mpv_client_name(h)) + "-" + name).c_str());
  if (v != nullptr && v->format == MPV_FORMAT_STRING) out = v->u.string;
  mpv_free_node_contents(&node);
  return out;
}

// ---------------------------------------------------------------------------
// The plugin

// One subtitle track of the current file and what the library made of it.
struct Track {
  MpvTrack mpv;
  int32_t library = -1;  // the library's id, -1 when the track could not be read
  std::string error;
  bool text = false;
  int64_t lines = 0;
  std::string lang1, lang2;  // detected codes; lang2 only for a bilingual track
  std::string second;        // the second language found, bilingual or not
  int32_t lines1 = 0, lines2 = 0;
  double confidence = 0;
  std::string name;    // the library's display name
  bool ready = false;  // analysed (read, loaded and named) or failed
};

// What one reading job brings back: a file read, and the detector's answers
// for each of its streams, computed on the same worker thread.
struct Job {
  std::string file;  // an external file, or the media file for the embedded streams
  bool embedded = false;
  std::vector<int> indexes;  // embedded: the ff-index of each stream to read
  host::ReadResult read;
  std::vector<std::shared_ptr<const host::TrackAnswers>> answers;
  std::atomic<bool> done{false};  // set by the worker when read and answered
  bool early = false;             // started when the file started, before the hook
};

void read_job(Job &job, const host::Limits &limits) {
  host::keep_detection_heap_warm();
  job.read = job.embedded ? host::read_streams(job.file, job.indexes, limits)
                          : host::read_subtitles(job.file, limits);
  for (const host::Stream &stream : job.read.streams) {
    job.answers.push_back(stream.text ? std::make_shared<const host::TrackAnswers>(
                                            host::precompute_answers(stream.cues))
                                      : nullptr);
  }
}

class Plugin {
 public:
  explicit Plugin(mpv_handle *h) : h_(h) {}
  Plugin(const Plugin &) = delete;
  Plugin &operator=(const Plugin &) = delete;

  int run();

 private:
  void log(const std::string &message);
  void on_preloaded();
  void on_tracks_changed();
  void on_message(const std::vector<std::string> &args);
  std::vector<Track> analyse(const std::string &path, std::vector<MpvTrack> subs,
                             bool relabel_early, bool &relabelled);
  bool relabel(std::vector<Track> &tracks, size_t first);
  void relabel_begin(std::vector<Track> &tracks, size_t first);
  void relabel_advance();
  bool relabel_finish();
  void select(const std::vector<Track> &tracks, bool relabelled);
  void show_list();
  void forget_file();
  void read_budget();
  void start_early();
  void join_early();
  void read_early();
  void sync_selection();
  void pump();
  void pump(mpv_event *event);
  void handle(mpv_event *event);
  void note(mpv_event *event);

  mpv_handle *h_;
  // Set when mpv shuts down or the file ends while tracks are read: the
  // workers stop at their next check and the analysis is thrown away.
  std::atomic<bool> cancel_{false};
  bool shutdown_ = false;
  bool file_ended_ = false;
  bool tracks_changed_ = false;
  bool selection_changed_ = false;
  // Key presses that came while the plugin was busy, answered afterwards.
  std::deque<std::vector<std::string>> messages_;
  // A hook of the next file that came while a track added during playback
  // was read: run when that reading has stopped.
  struct Hook {
    uint64_t userdata;
    uint64_t id;
  };
  std::deque<Hook> hooks_;
  // The external tracks being given their names (removed, then added back
  // one by one as soon as each is analysed and the one before is added).
  struct Relabelling {
    std::vector<Track> *tracks = nullptr;
    std::vector<size_t> external;  // their positions in *tracks, in order
    bool started = false;          // the removals were sent
    size_t sent = 0;               // sub-adds sent
    uint64_t pending = 0;          // the reply_userdata of the sub-add awaited
  };
  Relabelling relabel_;
  // The reply_userdata of the next asynchronous command (replies are told
  // apart from the hook's, which use small numbers).
  uint64_t next_reply_ = 1000;
  // The files given with --sub-file are known when a file starts: they are
  // read while mpv opens the media file, and taken over by the hook.
  std::vector<std::unique_ptr<Job>> early_;
  std::thread early_thread_;
  // The early jobs in order, and the next one a thread takes.
  std::vector<Job *> early_queue_;
  std::atomic<size_t> early_next_{0};
  host::Limits early_limits_;
  host::Translator translator_;
  int64_t budget_ms_ = kBudgetMs;
  std::string path_;     // the media file, while one is open
  bool loaded_ = false;  // the hook ran for the current file
  std::vector<Track> tracks_;
  // One per file, so that tracks added during playback get indexes after
  // those of the file's own tracks.
  std::unique_ptr<host::Loader> loader_;
};

void Plugin::log(const std::string &message) {
  std::string text = "[tpsubm] " + message;
  const char *args[] = {"print-text", text.c_str(), nullptr};
  mpv_command(h_, args);
}

void Plugin::forget_file() {
  tpsubm_clear();
  tracks_.clear();
  path_.clear();
  loaded_ = false;
  loader_.reset();
}

// What the library made of a track, from the file (or streams) it was in.
void fill(Track &t, const host::Loaded &l) {
  t.ready = true;
  if (!l.ok) {
    t.error = l.error;
    return;
  }
  // A text file has one stream; in a container mpv's ff-index is FFmpeg's.
  const host::Track *found = nullptr;
  for (const host::Track &h : l.tracks) {
    if (h.stream < 0 || h.stream == t.mpv.ff_index) {
      found = &h;
      break;
    }
  }
  if (found == nullptr) {
    t.error = "stream " + std::to_string(t.mpv.ff_index) + " was not read";
    return;
  }
  t.library = found->id;
  t.text = found->text;
  t.lines = found->lines;
  t.name = found->name;
  const char *l1 = tpsubm_language1(t.library);
  const char *l2 = tpsubm_language2(t.library);
  t.lang1 = l1 != nullptr ? l1 : "";
  t.second = l2 != nullptr ? l2 : "";
  if (tpsubm_is_bilingual(t.library)) t.lang2 = t.second;
  t.lines1 = tpsubm_language1_lines(t.library);
  t.lines2 = tpsubm_language2_lines(t.library);
  t.confidence = tpsubm_confidence(t.library);
}

std::vector<Track> Plugin::analyse(const std::string &path, std::vector<MpvTrack> subs,
                                   bool relabel_early, bool &relabelled) {
  relabelled = false;
  host::Limits limits;
  limits.max_milliseconds = budget_ms_;
  limits.max_container_bytes = int64_t{256} << 20;
  limits.cancel = &cancel_;

  // Each external file is one job, the embedded streams together another
  // (one pass over the media file).
  std::vector<std::unique_ptr<Job>> jobs;
  std::vector<size_t> job_of(subs.size());
  std::map<std::string, size_t> external_job;
  for (size_t i = 0; i < subs.size(); i++) {
    const MpvTrack &m = subs[i];
    std::string key = m.external ? m.file : std::string();
    auto [it, fresh] = external_job.try_emplace((m.external ? "e:" : "m:") + key, jobs.size());
    if (fresh) {
      std::unique_ptr<Job> job;
      for (auto &early : early_) {
        if (m.external && early && early->file == m.file) job = std::move(early);
      }
      if (!job) {
        job = std::make_unique<Job>();
        job->file = m.external ? m.file : path;
        job->embedded = !m.external;
      }
      jobs.push_back(std::move(job));
    }
    job_of[i] = it->second;
    if (!m.external && m.ff_index >= 0) {
      jobs[it->second]->indexes.push_back(static_cast<int>(m.ff_index));
    }
  }

  // The library, on this thread, in mpv's order of the files: each file is
  // loaded as soon as it and those before it are read, while the workers
  // go on with the others.
  host::keep_detection_heap_warm();
  if (!loader_) {
    host::LoadOptions options;
    options.parent = path;
    loader_ = std::make_unique<host::Loader>(options);
  }
  host::Loader &loader = *loader_;
  std::vector<host::Loaded> loaded(jobs.size());
  std::vector<Track> tracks(subs.size());
  for (size_t i = 0; i < subs.size(); i++) tracks[i].mpv = std::move(subs[i]);
  // The external tracks are given their names while the later files are
  // still read: mpv opens each file again when it is added back.
  if (relabel_early) relabel_begin(tracks, 0);
  size_t next = 0;
  auto load_ready = [&] {
    for (; next < jobs.size() && jobs[next]->done.load(); next++) {
      Job &job = *jobs[next];
      loaded[next] = loader.load(job.file, job.read, &job.answers);
      for (const std::string &w : loaded[next].warnings) log(job.file + ": " + w);
      std::vector<std::string> warnings;
      host::add_to_collection(loaded[next].tracks, translator_, warnings);
      for (const std::string &w : warnings) log(w);
      for (size_t i = 0; i < tracks.size(); i++) {
        if (job_of[i] == next) fill(tracks[i], loaded[next]);
      }
    }
    if (relabel_early) relabel_advance();
  };
  std::vector<std::function<void()>> work;
  // The files read since the file started are read by one thread while mpv
  // opens them too; from here mpv waits, and a second thread joins in.
  bool early_left = false;
  for (auto &job : jobs) early_left = early_left || (job->early && !job->done.load());
  if (early_left) work.emplace_back([this] { read_early(); });
  for (auto &job : jobs) {
    if (job->early) continue;  // already being read
    work.emplace_back([this, &job, &limits] {
      read_job(*job, limits);
      job->done = true;
      mpv_wakeup(h_);  // the plugin's thread waits in mpv_wait_event
    });
  }
  auto wait = [&] {
    if (!cancel_) load_ready();
    pump();
  };
  run_parallel(work, wait);
  auto all_done = [&] {
    for (const auto &job : jobs) {
      if (!job->done.load()) return false;
    }
    return true;
  };
  while (!all_done()) wait();
  join_early();
  if (!cancel_) load_ready();
  if (cancel_) {
    // Tracks removed and not yet added back stay removed: the file is
    // closing.
    relabel_ = Relabelling{};
    for (const host::Loaded &l : loaded) {
      for (const host::Track &t : l.tracks) tpsubm_destroy(t.id);
    }
    return {};
  }
  if (relabel_early) relabelled = relabel_finish();
  return tracks;
}

// Gives the external tracks from position `first` on their names and
// languages. mpv cannot retitle a track in place: they are removed, then
// added back in the same order, so they get the same ids again.
bool Plugin::relabel(std::vector<Track> &tracks, size_t first) {
  relabel_begin(tracks, first);
  return relabel_finish();
}

void Plugin::relabel_begin(std::vector<Track> &tracks, size_t first) {
  relabel_ = Relabelling{};
  std::map<std::string, int> files;
  std::vector<size_t> external;
  for (size_t i = first; i < tracks.size(); i++) {
    if (!tracks[i].mpv.external) continue;
    external.push_back(i);
    files[tracks[i].mpv.file]++;
  }
  for (const auto &[file, count] : files) {
    if (count > 1) {
      log(file + ": holds several subtitle streams; external tracks keep mpv's names");
      return;
    }
  }
  relabel_.tracks = &tracks;
  relabel_.external = std::move(external);
}

// Sends what can be sent: the removals once a track is known to get a
// language, then the next sub-add once its track is analysed and the one
// before has been added. mpv runs a client's commands in order, but it
// opens the files of sub-add on several threads and numbers a track when
// its file is open: the additions must not overlap if the ids are to stay
// in order. pump() takes the reply.
void Plugin::relabel_advance() {
  Relabelling &r = relabel_;
  if (r.tracks == nullptr || shutdown_) return;
  std::vector<Track> &tracks = *r.tracks;
  auto named = [&](const Track &t) { return t.ready && t.library >= 0 && !t.lang1.empty(); };
  if (!r.started) {
    if (std::none_of(r.external.begin(), r.external.end(),
                     [&](size_t i) { return named(tracks[i]); })) {
      return;
    }
    for (size_t i : r.external) {
      std::string id = std::to_string(tracks[i].mpv.id);
      const char *args[] = {"sub-remove", id.c_str(), nullptr};
      mpv_command_async(h_, 0, args);
    }
    r.started = true;
  }
  while (r.pending == 0 && r.sent < r.external.size() && tracks[r.external[r.sent]].ready) {
    const Track &t = tracks[r.external[r.sent]];
    std::string title = named(t) ? t.name : t.mpv.title;
    std::string lang = named(t) ? mpv_language(t.lang1) : t.mpv.lang;
    const char *args[] = {"sub-add",     t.mpv.file.c_str(), "auto",
                          title.c_str(), lang.c_str(),       nullptr};
    uint64_t reply = next_reply_++;
    if (mpv_command_async(h_, reply, args) < 0) {
      log(t.mpv.file + ": mpv could not add it back");
    } else {
      r.pending = reply;
    }
    r.sent++;
  }
}

// Waits until every track is added back (all are analysed by now) and
// finds their ids again; false when nothing was relabelled.
bool Plugin::relabel_finish() {
  Relabelling &r = relabel_;
  if (r.tracks != nullptr) {
    for (size_t i : r.external) (*r.tracks)[i].ready = true;
  }
  relabel_advance();
  while (r.started && !shutdown_ && (r.pending != 0 || r.sent < r.external.size())) {
    pump(mpv_wait_event(h_, -1));
    relabel_advance();
  }
  bool relabelled = r.started;
  if (relabelled) {
    // mpv gives a new track the next free id; find each file's id again.
    std::vector<MpvTrack> now = subtitle_tracks(h_);
    for (size_t i : r.external) {
      Track &t = (*r.tracks)[i];
      for (const MpvTrack &m : now) {
        if (m.external && m.file == t.mpv.file) {
          t.mpv.id = m.id;
          t.mpv.title = m.title;
          t.mpv.lang = m.lang;
        }
      }
    }
  }
  relabel_ = Relabelling{};
  return relabelled;
}

void Plugin::select(const std::vector<Track> &tracks, bool relabelled) {
  Request request;
  request.slang = list_property(h_, "options/slang");
  request.secondary_slang = split_list(script_opt(h_, "secondary-slang"));
  std::string sid = string_property(h_, "options/sid");
  std::string secondary_sid = string_property(h_, "options/secondary-sid");
  request.user_gave_primary = sid != "auto";
  if (request.user_gave_primary) {
    char *end = nullptr;
    long long value = std::strtoll(sid.c_str(), &end, 10);
    request.user_primary = end != sid.c_str() && *end == '\0' ? value : -1;
  }
  request.user_gave_secondary = secondary_sid != "no" && !secondary_sid.empty();

  std::vector<Candidate> candidates;
  for (const Track &t : tracks) {
    // mpv would have taken the first external file; added back, they no
    // longer count as external for its choice.
    if (relabelled && t.mpv.external && request.fallback_primary < 0) {
      request.fallback_primary = t.mpv.id;
    }
    Candidate c;
    c.id = t.mpv.id;
    c.text = t.text;
    if (t.text) {
      c.lang1 = t.lang1;
      c.lang2 = t.lang2;
      c.lines = t.lines;
    } else {
      c.lang1 = t.mpv.lang;  // a bitmap track is known by its tag
    }
    candidates.push_back(std::move(c));
  }
  Choice choice = choose(candidates, request);
  if (!request.user_gave_primary && choice.primary >= 0) {
    mpv_set_property_string(h_, "file-local-options/sid", std::to_string(choice.primary).c_str());
  }
  if (!request.user_gave_secondary && choice.secondary >= 0) {
    mpv_set_property_string(h_, "file-local-options/secondary-sid",
                            std::to_string(choice.secondary).c_str());
  }
}

void Plugin::on_preloaded() {
  forget_file();
  file_ended_ = false;
  if (!shutdown_) cancel_ = false;
  path_ = string_property(h_, "path");
  read_budget();
  std::vector<MpvTrack> subs = subtitle_tracks(h_);
  loaded_ = true;
  if (subs.empty()) return;
  if (subs.size() > TPSUBM_MAX_HANDLES) {
    log("only the first " + std::to_string(TPSUBM_MAX_HANDLES) + " of " +
        std::to_string(subs.size()) + " subtitle tracks are analysed");
    subs.resize(TPSUBM_MAX_HANDLES);
  }
  bool relabelled = false;
  tracks_ = analyse(path_, std::move(subs), true, relabelled);
  for (const Track &t : tracks_) {
    if (t.library < 0) {
      log((t.mpv.external ? t.mpv.file : path_ + " #" + std::to_string(t.mpv.ff_index)) +
          ": skipped, " + t.error);
    }
  }
  if (cancel_) return;
  select(tracks_, relabelled);
  selection_changed_ = true;
}

// A subtitle added during playback (sub-add, drag and drop): analysed and
// named like the others.
void Plugin::on_tracks_changed() {
  if (!loaded_ || cancel_) return;
  std::vector<MpvTrack> now = subtitle_tracks(h_);
  std::set<int64_t> known;
  for (const Track &t : tracks_) known.insert(t.mpv.id);
  std::vector<MpvTrack> added;
  for (const MpvTrack &m : now) {
    if (m.external && known.count(m.id) == 0) added.push_back(m);
  }
  // Tracks removed by the user are dropped from the list.
  tracks_.erase(std::remove_if(tracks_.begin(), tracks_.end(),
                               [&](const Track &t) {
                                 for (const MpvTrack &m : now) {
                                   if (m.id == t.mpv.id) return false;
                                 }
                                 if (t.library >= 0) tpsubm_destroy(t.library);
                                 return true;
                               }),
                tracks_.end());
  if (added.empty()) return;
  if (tracks_.size() + added.size() > TPSUBM_MAX_HANDLES) {
    log("the added subtitles are not analysed: " + std::to_string(TPSUBM_MAX_HANDLES) +
        " tracks are analysed at most");
    return;
  }
  std::string sid = string_property(h_, "sid");
  std::string secondary_sid = string_property(h_, "secondary-sid");
  file_ended_ = false;
  bool unused = false;
  std::vector<Track> fresh = analyse(path_, added, false, unused);
  if (cancel_) {
    // The file was closed (or mpv is quitting) while the new track was read.
    if (!shutdown_) {
      forget_file();
      cancel_ = false;
    }
    return;
  }
  // Every external track from the first new one on is added back, so that
  // the ids stay as they are.
  int64_t lowest = added.front().id;
  std::vector<Track> later;
  for (auto it = tracks_.begin(); it != tracks_.end();) {
    if (it->mpv.external && it->mpv.id > lowest) {
      later.push_back(std::move(*it));
      it = tracks_.erase(it);
    } else {
      ++it;
    }
  }
  size_t first = tracks_.size();
  for (Track &t : fresh) tracks_.push_back(std::move(t));
  for (Track &t : later) tracks_.push_back(std::move(t));
  std::sort(tracks_.begin() + static_cast<std::ptrdiff_t>(first), tracks_.end(),
            [](const Track &a, const Track &b) { return a.mpv.id < b.mpv.id; });
  for (const Track &t : tracks_) {
    if (t.library < 0 && !t.error.empty() && t.mpv.id >= lowest) {
      log(t.mpv.file + ": skipped, " + t.error);
    }
  }
  relabel(tracks_, first);
  selection_changed_ = true;
  // Removing and adding back loses the selection of those tracks.
  if (string_property(h_, "sid") != sid) mpv_set_property_string(h_, "sid", sid.c_str());
  if (string_property(h_, "secondary-sid") != secondary_sid) {
    mpv_set_property_string(h_, "secondary-sid", secondary_sid.c_str());
  }
}

void Plugin::read_budget() {
  std::string budget = script_opt(h_, "budget-ms");
  char *end = nullptr;
  long long ms = std::strtoll(budget.c_str(), &end, 10);
  budget_ms_ = !budget.empty() && *end == '\0' && ms > 0 ? ms : kBudgetMs;
}

void Plugin::start_early() {
  join_early();
  read_budget();
  if (!shutdown_) cancel_ = false;
  std::vector<std::string> files = list_property(h_, "options/sub-files");
  if (files.empty()) return;
  if (files.size() > TPSUBM_MAX_HANDLES) files.resize(TPSUBM_MAX_HANDLES);
  early_limits_ = host::Limits{};
  early_limits_.max_milliseconds = budget_ms_;
  early_limits_.cancel = &cancel_;
  std::vector<Job *> jobs;
  for (const std::string &file : files) {
    auto job = std::make_unique<Job>();
    job->file = file;
    job->early = true;
    jobs.push_back(job.get());
    early_.push_back(std::move(job));
  }
  early_queue_ = std::move(jobs);
  early_next_ = 0;
  // One thread only: mpv opens the files on another at the same time.
  early_thread_ = std::thread([this] { read_early(); });
}

void Plugin::read_early() {
  for (size_t i; (i = early_next_.fetch_add(1)) < early_queue_.size();) {
    Job &job = *early_queue_[i];
    read_job(job, early_limits_);
    job.done = true;
    mpv_wakeup(h_);  // the plugin's thread waits in mpv_wait_event
  }
}

// Waits for the early reading to end (it stops soon once cancel_ is set)
// and drops what the hook did not take.
void Plugin::join_early() {
  if (early_thread_.joinable()) early_thread_.join();
  early_queue_.clear();
  early_.clear();
}

// The library's primary and secondary follow mpv's sid and secondary-sid,
// so that its result document tells what is shown.
void Plugin::sync_selection() {
  auto library_id = [&](const char *property) {
    std::string value = string_property(h_, property);
    for (const Track &t : tracks_) {
      if (std::to_string(t.mpv.id) == value) return t.library;
    }
    return -1;
  };
  tpsubm_set_primary(library_id("sid"));
  tpsubm_set_secondary(library_id("secondary-sid"));
}

std::string percent(double ratio) {
  char text[16];
  // A ratio is 0 to 1, so the text is at most "100%".
  (void)std::snprintf(text, sizeof text, "%.0f%%", ratio * 100);
  return text;
}

void Plugin::show_list() {
  std::string text;
  if (tracks_.empty()) text = "tpsubm: no subtitle tracks";
  for (const Track &t : tracks_) {
    std::string line = std::to_string(t.mpv.id) + "  ";
    if (t.library < 0) {
      line += (t.mpv.title.empty() ? t.mpv.file : t.mpv.title) + "  (not read: " + t.error + ")";
    } else if (!t.text) {
      line += (t.name.empty() ? t.mpv.codec : t.name) + "  bitmap" +
              (t.mpv.lang.empty() ? "" : ", " + t.mpv.lang);
    } else {
      line += (t.name.empty() ? "no language" : t.name);
      if (!t.lang1.empty()) line += "  " + t.lang1 + " " + std::to_string(t.lines1);
      if (!t.second.empty()) line += ", " + t.second + " " + std::to_string(t.lines2);
      line += t.lang2.empty() ? "" : "  bilingual";
      // The share of the second language against the first.
      if (!t.second.empty()) line += "  confidence " + percent(t.confidence);
    }
    if (!text.empty()) text += "\n";
    text += line;
  }
  const char *args[] = {"show-text", text.c_str(), "8000", nullptr};
  mpv_command(h_, args);
}

void Plugin::on_message(const std::vector<std::string> &args) {
  if (args.empty()) return;
  const std::string &what = args[0];
  if (what == "key-binding" && args.size() >= 3 && args[1] == "list") {
    char state = args[2].empty() ? 'p' : args[2][0];
    if (state == 'd' || state == 'p') show_list();
  } else if (what == "tpsubm-print-json") {
    const char *command[] = {"print-text", tpsubm_result_json(), nullptr};
    mpv_command(h_, command);
  }
}

void Plugin::handle(mpv_event *event) {
  switch (event->event_id) {
    case MPV_EVENT_SHUTDOWN:
      shutdown_ = true;
      cancel_ = true;
      break;
    case MPV_EVENT_HOOK: {
      // The event is only valid until the next mpv_wait_event, which the
      // analysis calls.
      uint64_t id = static_cast<mpv_event_hook *>(event->data)->id;
      if (event->reply_userdata == kPreloadedHook) on_preloaded();
      mpv_hook_continue(h_, id);
      break;
    }
    case MPV_EVENT_START_FILE:
      start_early();
      break;
    case MPV_EVENT_END_FILE:
      if (early_thread_.joinable()) {
        cancel_ = true;
        join_early();
        if (!shutdown_) cancel_ = false;
      }
      forget_file();
      break;
    default:
      note(event);
      break;
  }
}

// Events both loops take alike: a changed track list or selection is noted
// for later, a script message kept until the plugin is free for it.
void Plugin::note(mpv_event *event) {
  switch (event->event_id) {
    case MPV_EVENT_PROPERTY_CHANGE:
      if (event->reply_userdata == kTrackCount) tracks_changed_ = true;
      if (event->reply_userdata == kSid || event->reply_userdata == kSecondarySid) {
        selection_changed_ = true;
      }
      break;
    case MPV_EVENT_CLIENT_MESSAGE: {
      auto *message = static_cast<mpv_event_client_message *>(event->data);
      messages_.emplace_back(message->args, message->args + message->num_args);
      break;
    }
    default:
      break;
  }
}

// Called while workers run: answers mpv for a moment without touching the
// library or the tracks the workers fill.
void Plugin::pump() {
  pump(mpv_wait_event(h_, 0.05));
}

void Plugin::pump(mpv_event *event) {
  switch (event->event_id) {
    case MPV_EVENT_SHUTDOWN:
      shutdown_ = true;
      cancel_ = true;
      break;
    case MPV_EVENT_END_FILE:
      file_ended_ = true;
      cancel_ = true;
      break;
    case MPV_EVENT_HOOK:
      hooks_.push_back({event->reply_userdata, static_cast<mpv_event_hook *>(event->data)->id});
      cancel_ = true;
      break;
    case MPV_EVENT_COMMAND_REPLY:
      if (relabel_.pending != 0 && event->reply_userdata == relabel_.pending) {
        relabel_.pending = 0;
        if (event->error < 0) {
          const Track &t = (*relabel_.tracks)[relabel_.external[relabel_.sent - 1]];
          log(t.mpv.file + ": mpv could not add it back");
        }
      }
      break;
    default:
      note(event);
      break;
  }
}

int Plugin::run() {
  tpsubm_set_translator(host::Translator::translate, &translator_);

  mpv_hook_add(h_, kPreloadedHook, "on_preloaded", 50);
  mpv_observe_property(h_, kTrackCount, "track-list/count", MPV_FORMAT_INT64);
  mpv_observe_property(h_, kSid, "sid", MPV_FORMAT_NONE);
  mpv_observe_property(h_, kSecondarySid, "secondary-sid", MPV_FORMAT_NONE);
  // Bound only where the user has not bound the key to something else.
  std::string name = mpv_client_name(h_);
  std::string section = "input_" + name;
  std::string binding = std::string(kDefaultKey) + " script-binding " + name + "/list\n";
  const char *define[] = {"define-section", section.c_str(), binding.c_str(), "default", nullptr};
  const char *enable[] = {"enable-section", section.c_str(), nullptr};
  // Asynchronous: mpv waits for the plugin's first mpv_wait_event before it
  // serves commands.
  mpv_command_async(h_, 0, define);
  mpv_command_async(h_, 0, enable);
  // mpv waits for a plugin's first mpv_wait_event before it goes on: the
  // rest of the setup is done after it, while mpv opens the file.
  handle(mpv_wait_event(h_, 0));
  translator_.set_language(host::language_from_environment());

  while (!shutdown_) {
    handle(mpv_wait_event(h_, hooks_.empty() ? -1 : 0));
    while (!hooks_.empty()) {
      Hook hook = hooks_.front();
      hooks_.pop_front();
      if (hook.userdata == kPreloadedHook && !shutdown_) on_preloaded();
      mpv_hook_continue(h_, hook.id);
    }
    while (!shutdown_ && !messages_.empty()) {
      std::vector<std::string> args = std::move(messages_.front());
      messages_.pop_front();
      on_message(args);
    }
    if (!shutdown_ && tracks_changed_) {
      tracks_changed_ = false;
      on_tracks_changed();
    }
    if (!shutdown_ && selection_changed_) {
      selection_changed_ = false;
      sync_selection();
    }
  }
  cancel_ = true;
  join_early();
  tpsubm_clear();
  tpsubm_set_translator(nullptr, nullptr);
  return 0;
}

}  // namespace
}  // namespace tpsubm_mpv

extern "C" __attribute__((visibility("default"))) int mpv_open_cplugin(mpv_handle *handle) {
  tpsubm_mpv::Plugin plugin(handle);
  return plugin.run();
}
