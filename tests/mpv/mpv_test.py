#!/usr/bin/env python3
"""The mpv plugin in a real, headless mpv.

Each case starts mpv (--vo=null --ao=null, no configuration) with tpsubm.so,
loads a generated video with subtitle files under names that carry no
language, and reads through mpv's JSON IPC what a user would see: the track
list (ids, titles, langs) and the selected sid and secondary-sid. Usage:

    mpv_test.py --mpv PATH --plugin PATH --samples DIR --work DIR --ffmpeg PATH CASE

traditional.srt is the Chinese sample in Traditional characters, made with
`uconv -x Hans-Hant ../../samples/source/lighthouse.zh.srt`.
"""
import argparse
import json
import os
import shutil
import socket
import subprocess
import sys
import time

SKIP = 77
HERE = os.path.dirname(os.path.abspath(__file__))

# The samples under names without a language, as a user might have them.
UNTAGGED = {
    "lighthouse.de.vtt": "track-a.vtt",
    "lighthouse.en.srt": "track-b.srt",
    "lighthouse.es.sub": "track-c.sub",
    "lighthouse.fr.ass": "track-d.ass",
    "lighthouse.zh-en.ass": "track-e.ass",
    "lighthouse.zh.srt": "track-f.srt",
}

SIGNS = """1
00:00:02,000 --> 00:00:04,000
The lighthouse is closed to visitors until the storm has passed.

2
00:00:20,000 --> 00:00:23,000
The harbour office opens again tomorrow morning at eight o'clock.
"""


class Failure(Exception):
    pass


def sanitizer_env(plugin):
    """What mpv needs to load a plugin built with -DTPSUBM_SANITIZE=ON.

    mpv itself is not instrumented, so the AddressSanitizer runtime the
    plugin needs is preloaded (it must come first in the process). Leak
    checking is off: mpv's own allocations at exit are not the plugin's.
    Any error report ends mpv with a failure, which fails the test."""
    try:
        needed = subprocess.run(["readelf", "-d", plugin], capture_output=True, text=True,
                                check=True).stdout
    except (OSError, subprocess.CalledProcessError):
        return {}
    asan = [word.strip("[]") for word in needed.split() if word.startswith("[libasan.so")]
    if not asan:
        return {}
    return {"LD_PRELOAD": asan[0],
            "ASAN_OPTIONS": "detect_leaks=0:abort_on_error=1:halt_on_error=1",
            "UBSAN_OPTIONS": "halt_on_error=1:abort_on_error=1:print_stacktrace=1"}


def check(condition, message):
    if not condition:
        raise Failure(message)


class Mpv:
    """One mpv process with the plugin, driven over its IPC socket."""

    def __init__(self, args, *options):
        self.socket_path = os.path.join(args.work, "mpv.sock")
        if os.path.exists(self.socket_path):
            os.unlink(self.socket_path)
        self.log_path = os.path.join(args.work, "mpv.log")
        self.argv = [args.mpv, "--no-config", "--idle=yes", "--pause", "--vo=null", "--ao=null",
                        "--msg-level=all=info", f"--input-ipc-server={self.socket_path}",
                        f"--script={args.plugin}", *options]
        self.log = open(self.log_path, "w")
        env = dict(os.environ, LC_ALL="C", LANG="C")
        env.update(sanitizer_env(args.plugin))
        self.process = subprocess.Popen(self.argv, stdin=subprocess.DEVNULL, stdout=self.log,
                                        stderr=subprocess.STDOUT, cwd=args.work, env=env)
        deadline = time.monotonic() + 20
        self.sock = None
        while self.sock is None:
            try:
                s = socket.socket(socket.AF_UNIX)
                s.connect(self.socket_path)
                self.sock = s
            except OSError:
                s.close()
                if self.process.poll() is not None or time.monotonic() > deadline:
                    raise Failure(f"mpv did not open its IPC socket\n{self.output()}")
                time.sleep(0.05)
        self.sock.settimeout(20)
        self.buffer = b""
        self.events = []
        self.next_id = 1

    def output(self):
        if not self.log.closed:
            self.log.flush()
        with open(self.log_path, errors="replace") as f:
            return f.read()

    def _message(self):
        while b"\n" not in self.buffer:
            try:
                data = self.sock.recv(65536)
            except socket.timeout:
                raise Failure(f"mpv stopped answering\n{self.output()}")
            if not data:
                raise Failure(f"mpv closed the connection\n{self.output()}")
            self.buffer += data
        line, self.buffer = self.buffer.split(b"\n", 1)
        return json.loads(line)

    def command(self, *words):
        request_id = self.next_id
        self.next_id += 1
        self.sock.sendall(json.dumps({"command": list(words), "request_id": request_id}).encode()
                          + b"\n")
        while True:
            message = self._message()
            if "event" in message:
                self.events.append(message)
            elif message.get("request_id") == request_id:
                return message

    def get(self, name):
        reply = self.command("get_property", name)
        check(reply["error"] == "success", f"get_property {name}: {reply}\n{self.output()}")
        return reply["data"]

    def wait_event(self, name, seconds=20):
        deadline = time.monotonic() + seconds
        while True:
            for i, event in enumerate(self.events):
                if event["event"] == name:
                    del self.events[: i + 1]
                    return event
            self.events.clear()
            self.sock.settimeout(max(0.1, deadline - time.monotonic()))
            try:
                message = self._message()
            finally:
                self.sock.settimeout(20)
            if "event" in message:
                self.events.append(message)
            if time.monotonic() > deadline:
                raise Failure(f"no {name} event\n{self.output()}")

    def load(self, path):
        self.command("loadfile", path)
        self.wait_event("file-loaded")

    def subs(self):
        """The subtitle tracks: id -> (title, lang, external file)."""
        return {t["id"]: (t.get("title"), t.get("lang"), t.get("external-filename"))
                for t in self.get("track-list") if t["type"] == "sub"}

    def play_for(self, seconds, limit=20):
        """Unpauses and waits until the playback time passes `seconds` (or
        `limit` seconds of waiting); returns the playback time reached."""
        self.command("set_property", "pause", False)
        deadline = time.monotonic() + limit
        position = self.get("playback-time")
        while position < seconds and time.monotonic() < deadline:
            time.sleep(0.1)
            position = self.get("playback-time")
        return position

    def selection(self):
        return self.get("sid"), self.get("secondary-sid")

    def close(self):
        try:
            self.command("quit")
        except (Failure, OSError):
            pass
        try:
            self.process.wait(timeout=20)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
            raise Failure(f"mpv did not quit\n{self.output()}")
        self.sock.close()
        self.log.close()
        return self.process.returncode

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        if self.process.poll() is None:
            code = self.close()
            if exc[0] is None:
                check(code == 0, f"mpv exited with status {code}\n{self.output()}")


def setup(args):
    os.makedirs(args.work, exist_ok=True)
    for name, untagged in UNTAGGED.items():
        shutil.copyfile(os.path.join(args.samples, name), os.path.join(args.work, untagged))
    shutil.copyfile(os.path.join(HERE, "traditional.srt"), os.path.join(args.work, "track-g.srt"))
    with open(os.path.join(args.work, "signs.srt"), "w") as f:
        f.write(SIGNS)
    video = os.path.join(args.work, "video.mkv")
    if not os.path.exists(video):
        subprocess.run([args.ffmpeg, "-v", "error", "-y", "-f", "lavfi", "-i",
                        "testsrc=size=320x240:rate=5", "-t", "30", "-c:v", "mpeg4", video],
                       check=True, timeout=120)
    return video


def sub_files(*names):
    return [f"--sub-file={name}" for name in names]


ALL = ["track-a.vtt", "track-b.srt", "track-c.sub", "track-d.ass", "track-e.ass", "track-f.srt",
       "track-g.srt"]


def case_labels(args, video):
    with Mpv(args, *sub_files(*ALL), "--slang=fr", "--script-opts=tpsubm-secondary-slang=de") as mpv:
        mpv.load(video)
        subs = mpv.subs()
        bindings = [(b["key"], b["cmd"]) for b in mpv.get("input-bindings")
                    if b.get("owner") == "tpsubm"]
        mpv.command("script-message", "tpsubm-print-json")
        mpv.get("sid")  # a round trip, so that the message has been handled
        time.sleep(0.2)
        documents = [json.loads(line) for line in mpv.output().splitlines()
                     if line.startswith('{"collection_count"')]
    check(bindings == [("Alt+l", "script-binding tpsubm/list")], f"key bindings {bindings}")
    check(len(documents) == 1, f"one result document printed: {documents}")
    document = documents[0]
    langs = [(item["index"], item["lang1"], item["lang2"]) for item in document["items"]]
    check(document["collection_count"] == 7 and langs[4] == (5, "chs", "en"),
          f"the result document: {document}")
    ids = {item["id"]: item["index"] for item in document["items"]}
    check((ids.get(document["primary"]), ids.get(document["secondary"])) == (4, 1),
          f"the library's selection follows mpv's (sid 4, secondary 1): {document}")
    expected = {
        1: ("German", "de", "track-a.vtt"),
        2: ("English", "en", "track-b.srt"),
        3: ("Spanish", "es", "track-c.sub"),
        4: ("French", "fr", "track-d.ass"),
        5: ("Chinese (Simplified) & English", "zh-Hans", "track-e.ass"),
        6: ("Chinese (Simplified)", "zh-Hans", "track-f.srt"),
        7: ("Chinese (Traditional)", "zh-Hant", "track-g.srt"),
    }
    check(subs == expected, f"track list {subs}, expected {expected}")


def case_select(args, video):
    # (what, options, sid, secondary-sid); the ids are those of case_labels.
    cases = [
        ("first slang entry", ["--slang=es,fr"], 3, False),
        ("three-letter codes", ["--slang=fre"], 4, False),
        ("secondary by its own list", ["--slang=ger", "--script-opts=tpsubm-secondary-slang=eng"],
         1, 2),
        ("Simplified: single before bilingual", ["--slang=zh-CN"], 6, False),
        ("Traditional only", ["--slang=zh-TW", "--script-opts=tpsubm-secondary-slang=chi"], 7, 6),
        ("Simplified beside Traditional", ["--slang=cht", "--script-opts=tpsubm-secondary-slang=chs"],
         7, 6),
        ("bilingual shows both", ["--slang=chi", "--script-opts=tpsubm-secondary-slang=en"], 5,
         False),
        ("never the primary's language", ["--slang=en", "--script-opts=tpsubm-secondary-slang=[en,de]"],
         2, 1),
        ("explicit --sid stands", ["--sid=3", "--slang=fr", "--script-opts=tpsubm-secondary-slang=de"],
         3, 1),
        ("explicit --secondary-sid stands",
         ["--slang=fr", "--secondary-sid=2", "--script-opts=tpsubm-secondary-slang=de"], 4, 2),
        ("nothing asked: mpv's first external file", [], 1, False),
    ]
    failures = []
    for what, options, sid, secondary in cases:
        with Mpv(args, *sub_files(*ALL), *options) as mpv:
            mpv.load(video)
            got = mpv.selection()
        if got != (sid, secondary):
            failures.append(f"{what} {options}: sid, secondary-sid = {got}, expected "
                            f"{(sid, secondary)}")
    check(not failures, "\n".join(failures))


def case_more_lines(args, video):
    # Two English tracks: a few signs, and the whole dialogue.
    with Mpv(args, *sub_files("signs.srt", "track-b.srt"), "--slang=en") as mpv:
        mpv.load(video)
        subs = mpv.subs()
        sid = mpv.get("sid")
    check(subs[1][1] == "en" and subs[2][1] == "en", f"both should be English: {subs}")
    check(sid == 2, f"sid {sid}: the dialogue track has more lines")


def case_embedded(args, video):
    # Untagged text streams in a Matroska file: mpv cannot retitle them, but
    # the plugin selects them by language.
    mkv = os.path.join(args.work, "embedded.mkv")
    subprocess.run([args.ffmpeg, "-v", "error", "-y", "-i", video, "-i", "track-b.srt", "-i",
                    "track-d.ass", "-i", "track-g.srt", "-map", "0", "-map", "1", "-map", "2",
                    "-map", "3", "-c", "copy", "-metadata:s:s", "language=und",
                    mkv], check=True, cwd=args.work, timeout=120)
    with Mpv(args, "--slang=fr", "--script-opts=tpsubm-secondary-slang=zh") as mpv:
        mpv.load(mkv)
        subs = mpv.subs()
        got = mpv.selection()
    check(len(subs) == 3 and all(lang in (None, "und") for _, lang, _ in subs.values()),
          f"embedded tracks keep their (empty) tags: {subs}")
    check(got == (2, 3), f"sid, secondary-sid = {got}, expected (2, 3)")


def case_unreadable(args, video):
    # mpv opens both files, the plugin can read no cue from them: each is
    # skipped with one line, the others are named and mpv plays on.
    with open(os.path.join(args.work, "empty.vtt"), "w") as f:
        f.write("WEBVTT\n\n")
    with open(os.path.join(args.work, "blank.srt"), "w") as f:
        f.write("1\n00:00:01,000 --> 00:00:02,000\n\n")
    with Mpv(args, *sub_files("empty.vtt", "track-d.ass", "blank.srt"), "--slang=fr") as mpv:
        mpv.load(video)
        subs = mpv.subs()
        sid = mpv.get("sid")
        position = mpv.play_for(0.5)
        output = mpv.output()
    check(subs[2][:2] == ("French", "fr"), f"the French track is named: {subs}")
    check(subs[1][1] is None and subs[3][1] is None, f"the unread ones keep no lang: {subs}")
    check(sid == 2, f"sid {sid}, expected 2")
    lines = [line for line in output.splitlines() if line.startswith("[tpsubm]")]
    check(len(lines) == 2 and "empty.vtt" in lines[0] and "blank.srt" in lines[1],
          f"one log line per unread file:\n{output}")
    check(position >= 0.5, f"mpv plays on: playback-time {position}")


def case_added(args, video):
    # A subtitle added during playback is named too, and its selection kept.
    with Mpv(args, *sub_files("track-b.srt"), "--slang=en") as mpv:
        mpv.load(video)
        check(mpv.get("sid") == 1, "the English file is selected")
        reply = mpv.command("sub-add", "track-d.ass", "select")
        check(reply["error"] == "success", f"sub-add: {reply}")
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            subs = mpv.subs()
            if subs.get(2, (None, None))[1] == "fr":
                break
            time.sleep(0.1)
        sid = mpv.get("sid")
        output = mpv.output()
    check("[tpsubm]" not in output, f"no complaint from the plugin:\n{output}")
    check(subs == {1: ("English", "en", "track-b.srt"), 2: ("French", "fr", "track-d.ass")},
          f"track list after sub-add: {subs}")
    check(sid == 2, f"the added track stays selected: sid {sid}")


def write(args, name, data):
    path = os.path.join(args.work, name)
    with open(path, "wb") as f:
        f.write(data)
    return name


def srt_cues(texts, step=2000):
    def t(ms):
        return "%02d:%02d:%02d,%03d" % (ms // 3600000, ms // 60000 % 60, ms // 1000 % 60, ms % 1000)
    return "".join(f"{i + 1}\n{t(i * step)} --> {t(i * step + step - 200)}\n{text}\n\n"
                   for i, text in enumerate(texts))


def case_hostile(args, video):
    # Inputs that have broken readers, all in one mpv: mpv must open the
    # file, keep playing and answer; the plugin names what it can read.
    english = ["The storm came in from the west before anyone expected it.",
               "Mara, have you seen the lamp oil? We are almost out of it."] * 3
    names = [
        write(args, "h-emoji.srt", srt_cues(english[:2] + ["We made it \U0001F600 caf\u00e9."])
              .encode()),
        write(args, "h-utf16le.srt", srt_cues(english).encode("utf-16-le")),
        write(args, "h-utf16be.srt", srt_cues(english).encode("utf-16-be")),
        write(args, "h-invalid.srt", srt_cues(english * 200).encode()[:-40] + b"\xff\xfe ok\n\n"),
        write(args, "h-zero.srt", b"1\n00:00:01,000 --> 00:00:01,000\nGone at once.\n\n"),
        write(args, "h-telemetry.srt", srt_cues(["12.5 km/h 230 m 45%", "N 51.5 E 0.12 7 sat"])
              .encode()),
        write(args, "h-nul.srt", srt_cues(english).encode().replace(b"storm", b"st\0rm")),
        write(args, "h-huge-line.srt", srt_cues(["word " * 200000]).encode()),
        write(args, "h-braces.ass", (
            "[Script Info]\nScriptType: v4.00+\n\n[Events]\nFormat: Layer, Start, End, Style, "
            "Name, MarginL, MarginR, MarginV, Effect, Text\n" + "".join(
                f"Dialogue: 0,0:00:{i % 60:02d}.00,9:99:99.99,Default,,0,0,0,,"
                + "{" * 300 + "\\N" * 300 + "}" * 50 + "The storm is here.\n" for i in range(80))
        ).encode()),
        write(args, "h-times.srt", b"1\n99:99:99,999 --> -1:00:00,000\nBackwards in time.\n\n"
              b"2\n2147483647:00:00,000 --> 2147483648:00:00,000\nFar away.\n\n"),
        write(args, "h-many.srt", srt_cues([f"Line number {i} of a long night at sea."
                                            for i in range(60000)]).encode()),
    ]
    # A Matroska file with more subtitle streams than the library holds.
    crowded = os.path.join(args.work, "crowded.mkv")
    if not os.path.exists(crowded):
        maps = []
        for _ in range(70):
            maps += ["-map", "1:0"]
        subprocess.run([args.ffmpeg, "-v", "error", "-y", "-i", video, "-i", "track-b.srt",
                        "-map", "0", *maps, "-c", "copy", crowded], check=True, cwd=args.work,
                       timeout=120)
    for media, files in ((video, names), (crowded, [])):
        with Mpv(args, *sub_files(*files), "--slang=en") as mpv:
            mpv.load(media)
            subs = mpv.subs()
            position = mpv.play_for(0.5)
            sid = mpv.get("sid")
            output = mpv.output()
        check(position >= 0.5, f"mpv plays on: playback-time {position}\n{output}")
        check(isinstance(sid, int), f"a track is selected: sid {sid}\n{output}")
        if files:
            langs = {subs[i][2]: subs[i][1] for i in subs}
            # mpv opens no UTF-16 file without a byte order mark itself.
            for name in ("h-emoji.srt", "h-invalid.srt", "h-zero.srt", "h-many.srt"):
                check(langs.get(name) == "en", f"{name} is named English: {subs}\n{output}")
        else:
            check(len(subs) == 70, f"mpv lists the 70 streams: {len(subs)}")
            check("only the first 64 of 70" in output, f"the plugin says what it left:\n{output}")


CASES = {name[5:].replace("_", "-"): f for name, f in globals().items() if name.startswith("case_")}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--mpv", required=True)
    parser.add_argument("--plugin", required=True)
    parser.add_argument("--samples", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--ffmpeg", default="")
    parser.add_argument("case", choices=sorted(CASES))
    args = parser.parse_args()
    args.work = os.path.abspath(args.work)
    args.plugin = os.path.abspath(args.plugin)
    args.samples = os.path.abspath(args.samples)
    if not args.ffmpeg or not shutil.which(args.ffmpeg):
        print("SKIPPED: the mpv tests need the ffmpeg program (scripts/setup-deps installs it)")
        return SKIP
    video = setup(args)
    try:
        CASES[args.case](args, video)
    except Failure as failure:
        print(f"FAIL: {failure}")
        return 1
    print("ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
