#!/usr/bin/env python3
"""End-to-end tests of tpsubm-probe on the sample subtitles.

Each case runs the probe as a user would and checks what a person reading
the samples sees in them: how many cues, which languages, which encodings,
the text on screen at a time and the track names. Usage:

    probe_test.py --probe PATH --samples DIR --work DIR [--ffmpeg PATH] CASE
"""
import argparse
import json
import os
import re
import shutil
import struct
import subprocess
import sys
import time
import wave

SKIP = 77
SAMPLES = [
    "lighthouse.de.vtt",
    "lighthouse.en.srt",
    "lighthouse.es.sub",
    "lighthouse.fr.ass",
    "lighthouse.zh-en.ass",
    "lighthouse.zh.srt",
]


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def run(args, *probe_args, expect=0):
    command = [args.probe, *probe_args]
    env = dict(os.environ, LC_ALL="C", LANG="C")
    done = subprocess.run(command, capture_output=True, text=True, env=env, timeout=60,
                          cwd=args.samples)
    if done.returncode != expect:
        raise Failure(f"{' '.join(command)}: exit status {done.returncode}, expected {expect}\n"
                      f"stdout:\n{done.stdout}\nstderr:\n{done.stderr}")
    return done


def parse_table(stdout):
    """The rows of the track table as dicts keyed by the column heads."""
    lines = stdout.splitlines()
    end = lines.index("") if "" in lines else len(lines)
    heads = re.split(r"\s{2,}", lines[0].strip())
    rows = []
    for line in lines[1:end]:
        cells = re.split(r"\s{2,}", line.strip())
        check(len(cells) == len(heads), f"row does not match the heads: {line!r}")
        rows.append(dict(zip(heads, cells)))
    return {row["FILE"]: row for row in rows}


def parse_languages(cell):
    """'zh 16, en 14' -> [('zh', 16), ('en', 14)]; '-' -> []."""
    if cell == "-":
        return []
    return [(code, int(count)) for code, count in
            (part.split(" ") for part in cell.split(", "))]


def selection(stdout, which):
    match = re.search(rf"^{which}:\s+(-?\d+|none)", stdout, re.M)
    check(match, f"no {which} line in:\n{stdout}")
    return match.group(1)


CUE_LINE = re.compile(r"^  ([> ]) #(\d+) +(\S+) --> (\S+)  (.*)$")


def parse_at(stdout):
    """{time: {track label: {'shown': [lines] or None, 'active': [[lines], ...]}}}"""
    blocks = {}
    time = track = cue = None
    for line in stdout.splitlines():
        match = CUE_LINE.match(line)
        if line.startswith("at "):
            time = line[3:]
            blocks[time] = {}
        elif line.startswith("track "):
            label = line.split("  ")[1]
            track = blocks[time][label] = {"shown": None, "active": []}
        elif match:
            cue = [match.group(5)]
            track["active"].append(cue)
            if match.group(1) == ">":
                track["shown"] = cue
        elif line.startswith(" " * 20) and cue is not None:
            cue.append(line.strip())
        elif line == "    nothing on screen":
            cue = None
        elif line:
            raise Failure(f"unexpected line in the --at output: {line!r}")
    return blocks


def case_tracks(args):
    """Cues, languages, encodings and names of every sample, read together."""
    done = run(args, "--lang", "en", *SAMPLES)
    check(done.stderr == "", f"unexpected stderr: {done.stderr}")
    rows = parse_table(done.stdout)
    # file: cues, encoding, languages with the lines a reader counts, bilingual, name
    expected = {
        "lighthouse.de.vtt": ("15", "utf-8", [("de", 15)], "no", '"German"'),
        "lighthouse.en.srt": ("14", "utf-8", [("en", 17)], "no", '"English"'),
        "lighthouse.es.sub": ("14", "Windows-1252", [("es", 17)], "no", '"Spanish"'),
        "lighthouse.fr.ass": ("14", "utf-8", [("fr", 17)], "no", '"French"'),
        "lighthouse.zh-en.ass": ("16", "utf-8", [("chs", 16), ("en", 14)], "yes",
                                 '"Chinese (Simplified) & English"'),
        "lighthouse.zh.srt": ("14", "GB18030", [("chs", 17)], "no", '"Chinese (Simplified)"'),
    }
    check(sorted(rows) == sorted(expected), f"tracks {sorted(rows)}")
    for name, (cues, encoding, languages, bilingual, display) in expected.items():
        row = rows[name]
        got = (row["CUES"], row["ENCODING"], parse_languages(row["LANGUAGES"]),
               row["BILINGUAL"], row["NAME"])
        check(got == (cues, encoding, languages, bilingual, display),
              f"{name}: got {got}, expected {(cues, encoding, languages, bilingual, display)}")
    indexes = [rows[name]["INDEX"] for name in SAMPLES]
    check(indexes == ["1", "2", "3", "4", "5", "6"], f"indexes {indexes}")
    # The bilingual track has the most lines; German is the first other language.
    check(selection(done.stdout, "primary") == rows["lighthouse.zh-en.ass"]["ID"], done.stdout)
    check(selection(done.stdout, "secondary") == rows["lighthouse.de.vtt"]["ID"], done.stdout)


def case_at(args):
    """The cue text on screen at given times, without markup, with a delay."""
    files = ["lighthouse.en.srt", "lighthouse.fr.ass", "lighthouse.zh-en.ass"]
    done = run(args, "--lang", "en", "--at", "00:00:02.000", "--at", "16000",
               "--at", "00:00:04,200", "--delay", "1=-3000", *files)
    blocks = parse_at(done.stdout)
    check(sorted(blocks) == ["00:00:02.000", "00:00:04.200", "00:00:16.000"], str(blocks))
    storm = "The storm came in from the west before anyone expected it."
    title = "第一集　风暴来临的那个夜晚"
    storm_zh = "风暴比任何人预料的都要早，从西边压了过来。"
    expected = {
        "00:00:02.000": {
            "lighthouse.en.srt": {"shown": [storm], "active": [[storm]]},
            # Delayed by -3000: the French track is at -00:00:01.000.
            "lighthouse.fr.ass": {"shown": None, "active": []},
            # The title and the first line overlap; the longer text is shown.
            "lighthouse.zh-en.ass": {"shown": [storm_zh, storm],
                                     "active": [[title], [storm_zh, storm]]},
        },
        "00:00:16.000": {
            "lighthouse.en.srt": {
                "shown": ["Be careful on the stairs.", "They are wet and very slippery tonight."],
                "active": [["Be careful on the stairs.",
                            "They are wet and very slippery tonight."]]},
            "lighthouse.fr.ass": {
                "shown": ["Alors je vais la chercher tout de suite, avant que le vent ne se "
                          "lève encore."],
                "active": [["Alors je vais la chercher tout de suite, avant que le vent ne se "
                            "lève encore."]]},
            "lighthouse.zh-en.ass": {
                "shown": ["下楼梯的时候一定要小心，台阶又湿又滑。",
                          "Be careful on the stairs. They are wet and very slippery tonight."],
                "active": [["下楼梯的时候一定要小心，台阶又湿又滑。",
                            "Be careful on the stairs. They are wet and very slippery "
                            "tonight."]]},
        },
        # Between two cues: nothing on screen (the French track is at 1.2 s).
        "00:00:04.200": {
            "lighthouse.en.srt": {"shown": None, "active": []},
            "lighthouse.fr.ass": {"shown": ["La tempête est arrivée de l'ouest bien plus tôt "
                                            "que prévu."],
                                  "active": [["La tempête est arrivée de l'ouest bien plus "
                                              "tôt que prévu."]]},
            "lighthouse.zh-en.ass": {"shown": None, "active": []},
        },
    }
    for time, tracks in expected.items():
        for label, want in tracks.items():
            got = blocks[time].get(label)
            check(got == want, f"at {time}, {label}:\n got {got}\nwant {want}")
    check("(delay -3000 ms, track time 00:00:13.000)" in done.stdout, done.stdout)
    for marker in ("{", "}", "\\N", "<i>", "</i>"):
        check(marker not in done.stdout, f"markup {marker!r} shown:\n{done.stdout}")


def case_json(args):
    """The result document, read by a JSON reader, agrees with the table."""
    table = parse_table(run(args, "--lang", "en", *SAMPLES).stdout)
    done = run(args, "--json", "--delay", "2=250", "--primary", "3", "--secondary", "-1",
               *SAMPLES)
    document = json.loads(done.stdout)
    check(document["collection_count"] == 6, str(document))
    check(document["primary"] == 3 and document["secondary"] == -1, str(document))
    items = {item["id"]: item for item in document["items"]}
    for name, row in table.items():
        item = items[int(row["ID"])]
        languages = parse_languages(row["LANGUAGES"])
        lang2 = languages[1][0] if len(languages) > 1 else ""
        got = (item["cues"], item["lang1"], item["lang2"], item["file_hash"], item["index"],
               item["parent"])
        want = (int(row["CUES"]), languages[0][0], lang2, row["HASH"], int(row["INDEX"]),
                "lighthouse")
        check(got == want, f"{name}: JSON {got}, table {want}")
        check(item["delay_ms"] == (250 if item["id"] == 2 else 0), str(item))


def write_pgs(path):
    """A minimal PGS stream: three display sets without objects."""
    def segment(pts, kind, data):
        return b"PG" + struct.pack(">IIBH", pts, 0, kind, len(data)) + data
    out = b""
    for n, pts in enumerate((90000, 180000, 270000)):
        composition = struct.pack(">HHBHBBBB", 1920, 1080, 0x10, n, 0x80 if n == 0 else 0,
                                  0, 0, 0)
        out += segment(pts, 0x16, composition) + segment(pts, 0x17, b"\x00") + \
            segment(pts, 0x80, b"")
    with open(path, "wb") as f:
        f.write(out)


def case_container(args):
    """A Matroska file: each subtitle stream a track, a PGS stream named ' PGS'."""
    if not args.ffmpeg or not shutil.which(args.ffmpeg):
        print("SKIPPED: the ffmpeg program is not installed (scripts/setup-deps installs it)")
        return SKIP
    pgs = os.path.join(args.work, "signs.sup")
    mkv = os.path.join(args.work, "lighthouse.mkv")
    write_pgs(pgs)
    subprocess.run([args.ffmpeg, "-v", "error", "-y",
                    "-i", os.path.join(args.samples, "lighthouse.en.srt"),
                    "-i", os.path.join(args.samples, "lighthouse.fr.ass"), "-i", pgs,
                    "-map", "0", "-map", "1", "-map", "2", "-c", "copy", mkv],
                   check=True, timeout=60)
    rows = parse_table(run(args, "--lang", "en", mkv, "lighthouse.en.srt").stdout)
    expected = {
        mkv + "#0": ("subrip", "14", "utf-8", [("en", 17)], '"English"'),
        mkv + "#1": ("ass", "14", "utf-8", [("fr", 17)], '"French"'),
        mkv + "#2": ("hdmv_pgs_subtitle", "0", "-", [], '" PGS"'),
        "lighthouse.en.srt": ("subrip", "14", "utf-8", [("en", 17)], '"English"'),
    }
    check(sorted(rows) == sorted(expected), f"tracks {sorted(rows)}")
    for name, want in expected.items():
        row = rows[name]
        got = (row["FORMAT"], row["CUES"], row["ENCODING"], parse_languages(row["LANGUAGES"]),
               row["NAME"])
        check(got == want, f"{name}: got {got}, expected {want}")
    # The same text in the container and in the file: the same hash, and
    # with indexes from the hash the collection keeps only the first.
    check(rows[mkv + "#0"]["HASH"] == rows["lighthouse.en.srt"]["HASH"], str(rows))
    done = run(args, "--index-from-hash", "--json", mkv, "lighthouse.en.srt")
    check(json.loads(done.stdout)["collection_count"] == 3, done.stdout)
    check(done.stderr == "tpsubm-probe: lighthouse.en.srt: not in the collection: duplicate\n",
          done.stderr)
    # A cut-off file: what FFmpeg read is shown, and the cut is reported.
    cut = os.path.join(args.work, "cut.mkv")
    with open(mkv, "rb") as f, open(cut, "wb") as g:
        g.write(f.read()[:os.path.getsize(mkv) // 2])
    done = run(args, "--lang", "en", cut)
    check(done.stderr == f"tpsubm-probe: {cut}: FFmpeg warns: File ended prematurely\n",
          done.stderr)
    cues = int(parse_table(done.stdout)[cut + "#0"]["CUES"])
    check(0 < cues < 14, done.stdout)


def case_streams(args):
    """A Matroska file with video and 70 subtitle streams: the first 64 are read."""
    if not args.ffmpeg or not shutil.which(args.ffmpeg):
        print("SKIPPED: the ffmpeg program is not installed (scripts/setup-deps installs it)")
        return SKIP
    mkv = os.path.join(args.work, "many.mkv")
    maps = []
    for _ in range(70):
        maps += ["-map", "1:s"]
    subprocess.run([args.ffmpeg, "-v", "error", "-y", "-f", "lavfi",
                    "-i", "testsrc=size=32x32:rate=1:duration=20",
                    "-i", os.path.join(args.samples, "lighthouse.en.srt"), "-map", "0:v", *maps,
                    "-c:v", "mpeg4", "-c:s", "copy", mkv], check=True, timeout=60)
    done = run(args, "--json", mkv)
    document = json.loads(done.stdout)
    check(document["collection_count"] == 64, done.stdout)
    check(all(item["cues"] == 14 and item["lang1"] == "en" for item in document["items"]),
          done.stdout)
    # Stream 0 is the video; 1 to 64 are read.
    check(done.stderr == f"tpsubm-probe: {mkv}: the file has 70 subtitle streams, of which the "
          "first 64 are read: streams 65, 66, 67, 68, 69 and 70 left out\n", done.stderr)
    # With the library's table partly taken, the streams that fit are kept.
    done = run(args, "--lang", "en", "lighthouse.en.srt", "lighthouse.fr.ass", mkv)
    rows = parse_table(done.stdout)
    check(len(rows) == 64 and mkv + "#62" in rows and mkv + "#63" not in rows, done.stdout)
    check(done.stderr.splitlines()[1] == f"tpsubm-probe: {mkv}: the library holds 64 tracks: "
          "streams 63 and 64 left out", done.stderr)


def case_bounds(args):
    """A container of a few hundred MB is read in bounded memory and time."""
    if not args.ffmpeg or not shutil.which(args.ffmpeg):
        print("SKIPPED: the ffmpeg program is not installed (scripts/setup-deps installs it)")
        return SKIP
    subs = os.path.join(args.work, "film.srt")
    with open(subs, "w") as f:
        f.write(long_srt(40, lambda n: f"Line {n} of the film: " + ENGLISH[n % 3]))
    mkv = os.path.join(args.work, "film.mkv")
    # 80 s of raw RGB video at 320x240: 230 KB a frame, about 460 MB, with the
    # cues interleaved to the end. Cheap to write, costly to read whole.
    subprocess.run([args.ffmpeg, "-v", "error", "-y", "-f", "lavfi",
                    "-i", "color=c=gray:size=320x240:rate=25:duration=80", "-i", subs,
                    "-map", "0:v", "-map", "1:s", "-c:v", "rawvideo", "-pix_fmt", "rgb24",
                    "-allow_raw_vfw", "1", "-c:s", "srt", mkv], check=True, timeout=120)
    size = os.path.getsize(mkv)
    check(size > 400_000_000, f"the film is only {size} bytes")
    # wait4 gives the resources of the probe alone.
    out_path = os.path.join(args.work, "out.txt")
    started = time.monotonic()
    # Under AddressSanitizer freed blocks wait in a quarantine of 256 MB by
    # default, which would count as the probe's; a small one keeps the
    # bound meaningful there too. Other builds ignore the variable.
    env = dict(os.environ)
    env["ASAN_OPTIONS"] = env.get("ASAN_OPTIONS", "") + ":quarantine_size_mb=16"
    with open(out_path, "w") as out:
        child = subprocess.Popen([args.probe, "--lang", "en", "--at", "00:01:18.500", mkv],
                                 stdout=out, stderr=subprocess.STDOUT, env=env)
        _, status, usage = os.wait4(child.pid, 0)
    wall = time.monotonic() - started
    with open(out_path) as out:
        stdout = out.read()
    check(status == 0, stdout)
    print(f"read {size / 1e6:.0f} MB in {wall:.2f} s, peak resident set {usage.ru_maxrss} KB")
    # The last cue, 78 s in, was read.
    blocks = parse_at(stdout)
    check(blocks["00:01:18.500"][mkv + "#1"]["shown"] == ["Line 39 of the film: " + ENGLISH[0]],
          stdout)
    # Generous bounds: the file whole in memory would be 460 MB.
    check(usage.ru_maxrss < 200_000, f"peak resident set {usage.ru_maxrss} KB")
    check(wall < 120, f"{wall:.1f} s")


def srt(cues):
    return "".join(f"{n}\n00:00:{2 * n - 1:02d},000 --> 00:00:{2 * n:02d},000\n{text}\n\n"
                   for n, text in enumerate(cues, 1))


FORMAT_CASES = [
    # file, bytes, format, encoding, languages
    ("story.mpl2", "[10][19]The storm came in from the west before anyone expected it.\n"
     "[30][39]Mara, have you seen the lamp oil?|We are almost out of it.\n"
     "[50][59]/It is in the shed behind the house, next to the old nets.\n".encode(),
     "mpl2", "us-ascii", [("en", 4)]),
    ("story.sub", "[INFORMATION]\n[TITLE]Lighthouse\n[END INFORMATION]\n[SUBTITLE]\n"
     "00:00:01.00,00:00:02.00\nThe storm came in from the west before anyone expected it.\n\n"
     "00:00:03.00,00:00:04.00\nMara, have you seen the lamp oil?[br]We are almost out of it.\n"
     .encode(), "subviewer", "us-ascii", [("en", 3)]),
    ("story.smi", "<SAMI><HEAD><TITLE>Lighthouse</TITLE></HEAD><BODY>\n"
     "<SYNC Start=1000><P>The storm came in from the west before anyone expected it.\n"
     "<SYNC Start=2000><P>&nbsp;\n"
     "<SYNC Start=3000><P><i>Mara, have you seen the lamp oil?</i><br>We are almost out.\n"
     "<SYNC Start=4000><P>&nbsp;\n</BODY></SAMI>\n".encode(), "sami", "us-ascii", [("en", 3)]),
    ("story.utf16.srt", b"\xff\xfe" + srt([
        "The storm came in from the west before anyone expected it.",
        "It is in the shed behind the house, next to the old nets."]).encode("utf-16-le"),
     "subrip", "utf-16", [("en", 2)]),
    ("story.ru.srt", srt([
        "Буря пришла с запада раньше, чем кто-либо ожидал.",
        "Мара, ты не видела масло для лампы? Его почти не осталось.",
        "Оно в сарае за домом, рядом со старыми сетями."]).encode("cp1251"),
     "subrip", "windows-1251", [("ru", 3)]),
    ("story.ja.srt", srt([
        "嵐は誰も予想しなかったほど早く、西からやって来た。",
        "マーラ、ランプの油を見なかった？もうほとんど残っていないんだ。",
        "家の裏の物置の中、古い網の隣にあるよ。"]).encode("shift_jis"),
     "subrip", "shift_jis", [("ja", 3)]),
]


def case_formats(args):
    """Formats and encodings beyond the samples, found from the content alone."""
    paths = []
    for name, data, *_ in FORMAT_CASES:
        paths.append(os.path.join(args.work, name))
        with open(paths[-1], "wb") as f:
            f.write(data)
    done = run(args, "--lang", "en", *paths)
    rows = parse_table(done.stdout)
    for path, (name, _, fmt, encoding, languages) in zip(paths, FORMAT_CASES):
        row = rows.get(path)
        check(row is not None, f"{name} missing:\n{done.stdout}\n{done.stderr}")
        got = (row["FORMAT"], row["ENCODING"], parse_languages(row["LANGUAGES"]))
        check(got == (fmt, encoding, languages), f"{name}: {got}")
    # FFmpeg's SAMI decoder refuses the blank "&nbsp;" cues that clear the
    # screen: nothing is lost, and nothing is reported.
    check(rows[paths[2]]["CUES"] == "2", rows[paths[2]])
    check(done.stderr == "", done.stderr)


def case_errors(args):
    """Each unreadable file gives one line naming it; the others are still shown."""
    noise = os.path.join(args.work, "noise.bin")
    with open(noise, "wb") as f:
        f.write(bytes((i * 7919 + 13) * 104729 % 251 for i in range(4096)))
    silence = os.path.join(args.work, "silence.wav")
    with wave.open(silence, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(8000)
        w.writeframes(b"\x00\x00" * 800)
    broken = os.path.join(args.work, "broken.srt")
    with open(broken, "wb") as f:
        # UTF-16 made mostly of low surrogates that no high one precedes.
        f.write(b"\xff\xfe" + "1\n00:00:01,000 --> 00:00:02,000\n".encode("utf-16-le") +
                b"\x00\xdc" * 40 + b"\n\x00")
    missing = os.path.join(args.work, "missing.srt")
    done = run(args, "--lang", "en", missing, noise, "lighthouse.en.srt", silence, broken,
               expect=1)
    errors = done.stderr.splitlines()
    expected = [
        (missing, "cannot open: No such file or directory"),
        (noise, "FFmpeg does not recognise its format"),
        (silence, "no subtitle stream"),
        (broken, "the text is not valid UTF-16LE: 40 invalid byte sequences, the first at byte 66"),
    ]
    check(len(errors) == len(expected), f"stderr:\n{done.stderr}")
    for line, (path, cause) in zip(errors, expected):
        check(line.startswith(f"tpsubm-probe: {path}: {cause}"), f"{line!r}, expected {cause}")
    rows = parse_table(done.stdout)
    check(list(rows) == ["lighthouse.en.srt"], done.stdout)
    check(rows["lighthouse.en.srt"]["NAME"] == '"English"', done.stdout)
    # Usage errors are told apart from unreadable files.
    done = run(args, "--at", "later", "lighthouse.en.srt", expect=2)
    check("--at: 'later' is not a time" in done.stderr, done.stderr)
    done = run(args, "--primary", "9", "lighthouse.en.srt", expect=2)
    check("--primary: no track has the id 9" in done.stderr, done.stderr)


def case_names(args):
    """Display names in the user's language and with the library's flags."""
    files = ["lighthouse.en.srt", "lighthouse.zh-en.ass", "lighthouse.zh.srt"]
    want = {
        "fr": ['"anglais"', '"chinois (simplifié) & anglais"', '"chinois (simplifié)"'],
        "de": ['"Englisch"', '"Chinesisch (Vereinfacht) & Englisch"',
               '"Chinesisch (Vereinfacht)"'],
        "zh": ['"英语"', '"中文（简体） & 英语"', '"中文（简体）"'],
    }
    for lang, names in want.items():
        rows = parse_table(run(args, "--lang", lang, *files).stdout)
        got = [rows[name]["NAME"] for name in files]
        check(got == names, f"--lang {lang}: {got}, expected {names}")
    rows = parse_table(run(args, "--lang", "en", "--brackets", "--server-file", "--suffix",
                           "srt", *files).stdout)
    got = [rows[name]["NAME"] for name in files]
    names = ['"{ [ English.srt ] }"', '"{ [ Chinese (Simplified) & English.srt ] }"',
             '"{ [ Chinese (Simplified).srt ] }"']
    check(got == names, f"flags: {got}, expected {names}")
    # Without --lang the names follow the environment (C here: English).
    rows = parse_table(run(args, "lighthouse.en.srt").stdout)
    check(rows["lighthouse.en.srt"]["NAME"] == '"English"', str(rows))


ENGLISH = [
    "The storm came in from the west before anyone expected it.",
    "Mara, have you seen the lamp oil? We are almost out of it.",
    "It is in the shed behind the house, next to the old nets.",
]


def srt_time(ms):
    return f"{ms // 3600000:02d}:{ms // 60000 % 60:02d}:{ms // 1000 % 60:02d},{ms % 1000:03d}"


def long_srt(count, text):
    """SubRip with `count` cues, two seconds apart; text(n) gives cue n's line."""
    return "".join(f"{n + 1}\n{srt_time(2000 * n)} --> {srt_time(2000 * n + 1500)}\n{text(n)}\n\n"
                   for n in range(count))


def late_invalid_byte():
    """3,000 cues of UTF-8 with a few é, and one byte 0xFF near the end."""
    data = long_srt(3000, lambda n: ENGLISH[n % 3] + (" Café." if n % 500 == 0 else "")).encode()
    offset = data.rfind(b"nets")
    return data[:offset] + b"\xff" + data[offset + 1:], offset


READING_CASES = [
    # file, bytes, encoding, cues, languages, stderr (after "tpsubm-probe: FILE: ")
    ("acute.srt", srt([ENGLISH[0], ENGLISH[1].replace("lamp", "café lamp"), ENGLISH[2]]).encode(),
     "utf-8", 3, [("en", 3)], []),
    ("emoji.srt", srt([ENGLISH[0], ENGLISH[1] + " \U0001F526", ENGLISH[2]]).encode(),
     "utf-8", 3, [("en", 3)], []),
    ("bom.srt", b"\xef\xbb\xbf" + srt(ENGLISH).encode(), "utf-8", 3, [("en", 3)], []),
    ("le.srt", srt(ENGLISH).encode("utf-16-le"), "utf-16", 3, [("en", 3)], []),
    ("be.srt", srt(ENGLISH).encode("utf-16-be"), "utf-16BE", 3, [("en", 3)], []),
    ("late.srt", late_invalid_byte()[0], "utf-8", 3000, [("en", 3000)],
     [f"replaced 1 invalid byte sequence with U+FFFD, the first at byte {late_invalid_byte()[1]} "
      "(read as UTF-8)"]),
    # FFmpeg's WebVTT parser takes cues not set off by a blank line for one.
    ("joined.vtt", ("WEBVTT\n\n00:00:01.000 --> 00:00:02.000\n" + ENGLISH[0] +
                    "\n00:00:03.000 --> 00:00:04.000\n" + ENGLISH[1] +
                    "\n00:00:05.000 --> 00:00:06.000\n" + ENGLISH[2] + "\n").encode(),
     "us-ascii", 1, [("en", 3)], ["FFmpeg read 1 cue (as webvtt) from 3 timing lines"]),
]


def case_reading(args):
    """Encodings, invalid bytes and cues a parser drops, one small file each."""
    paths = []
    for name, data, *_ in READING_CASES:
        paths.append(os.path.join(args.work, name))
        with open(paths[-1], "wb") as f:
            f.write(data)
    done = run(args, "--lang", "en", *paths)
    rows = parse_table(done.stdout)
    want_stderr = []
    for path, (name, _, encoding, cues, languages, warnings) in zip(paths, READING_CASES):
        row = rows.get(path)
        check(row is not None, f"{name} missing:\n{done.stdout}\n{done.stderr}")
        got = (row["ENCODING"], int(row["CUES"]), parse_languages(row["LANGUAGES"]), row["NAME"])
        check(got == (encoding, cues, languages, '"English"'), f"{name}: {got}")
        want_stderr += [f"tpsubm-probe: {path}: {w}" for w in warnings]
    check(done.stderr.splitlines() == want_stderr, done.stderr)
    # The replaced byte shows as U+FFFD where it was.
    late = paths[5]
    done = run(args, "--lang", "en", "--at", "01:39:58.500", late)
    check("next to the old \ufffdets." in done.stdout, done.stdout)
    # A NUL byte sends a text file to FFmpeg as it is; when no cue comes back,
    # the user is told so instead of seeing an empty track in silence.
    nul = os.path.join(args.work, "nul.srt")
    with open(nul, "wb") as f:
        f.write(srt(ENGLISH).encode().replace(b"storm", b"st\0rm"))
    done = run(args, "--lang", "en", nul)
    check(f"tpsubm-probe: {nul}: stream 0 (subrip) holds no cue FFmpeg could read"
          in done.stderr.splitlines(), done.stderr)


def case_times(args):
    """A cue of zero length shows for no time; an open end lasts to the next cue."""
    path = os.path.join(args.work, "zero.srt")
    with open(path, "w") as f:
        f.write("1\n00:00:01,000 --> 00:00:02,000\nOne line here.\n\n"
                "2\n00:00:03,000 --> 00:00:03,000\nA cue of no length.\n\n"
                "3\n00:00:05,000 --> 00:00:06,000\nThe last line.\n")
    done = run(args, "--lang", "en", "--at", "3000", "--at", "4000", "--at", "5000", path)
    blocks = parse_at(done.stdout)
    got = {time: blocks[time][path]["shown"] for time in blocks}
    want = {"00:00:03.000": None, "00:00:04.000": None, "00:00:05.000": ["The last line."]}
    check(got == want, f"{got}\n{done.stdout}")
    check(done.stderr == "", done.stderr)
    # SAMI leaves each cue open until the next SYNC.
    smi = os.path.join(args.work, "open.smi")
    with open(smi, "w") as f:
        f.write("<SAMI><BODY>\n<SYNC Start=1000><P>" + ENGLISH[0] + "\n"
                "<SYNC Start=7000><P>" + ENGLISH[1] + "\n</BODY></SAMI>\n")
    blocks = parse_at(run(args, "--lang", "en", "--at", "6999", smi).stdout)
    check(blocks["00:00:06.999"][smi]["shown"] == [ENGLISH[0]], str(blocks))
    # The --at columns stay aligned past cue 999.
    long = os.path.join(args.work, "long.srt")
    with open(long, "w") as f:
        f.write(long_srt(1200, lambda n: ENGLISH[n % 3]))
    done = run(args, "--lang", "en", "--at", "00:39:58.000", "--at", "00:00:00.000", long)
    columns = {line.index("-->") for line in done.stdout.splitlines() if "-->" in line}
    check(len(columns) == 1, done.stdout)
    check("  > #1199  00:39:58.000 --> 00:39:59.500  " in done.stdout, done.stdout)


def case_refused(args):
    """Files that give no track: each named with its cause, the others shown."""
    style = os.path.join(args.work, "style.vtt")
    with open(style, "w") as f:
        # FFmpeg 5.1 reads no cue of a WebVTT file with a STYLE block.
        f.write("WEBVTT\n\nSTYLE\n::cue { color: yellow }\n\n"
                "00:00:01.000 --> 00:00:02.000\n" + ENGLISH[0] + "\n\n"
                "00:00:03.000 --> 00:00:04.000\n" + ENGLISH[1] + "\n")
    fifo = os.path.join(args.work, "fifo.srt")
    os.mkfifo(fifo)
    big = os.path.join(args.work, "big.srt")
    with open(big, "w") as f:
        f.write(long_srt(1000, lambda n: ENGLISH[n % 3]))
        f.truncate(40 << 20)  # sparse: text at the start, over the limit in size
    # A FIFO nobody writes to would block a reader that opened it plainly.
    done = run(args, "--lang", "en", style, fifo, "/dev/zero", big, args.work,
               "lighthouse.en.srt", expect=1)
    expected = [
        (style, "no cue could be read from it (FFmpeg reads it as webvtt, and it has 2 "
                "timing lines)"),
        (fifo, "is a FIFO: only regular files are read"),
        ("/dev/zero", "is a character device: only regular files are read"),
        (big, "is a text file of 40.0 MiB, more than the 32.0 MiB read as subtitles"),
        (args.work, "is a directory: only regular files are read"),
    ]
    check(done.stderr.splitlines() == [f"tpsubm-probe: {p}: {c}" for p, c in expected],
          done.stderr)
    check(list(parse_table(done.stdout)) == ["lighthouse.en.srt"], done.stdout)


CASES = {
    "tracks": case_tracks,
    "at": case_at,
    "json": case_json,
    "container": case_container,
    "formats": case_formats,
    "errors": case_errors,
    "names": case_names,
    "reading": case_reading,
    "times": case_times,
    "refused": case_refused,
    "streams": case_streams,
    "bounds": case_bounds,
}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--probe", required=True)
    parser.add_argument("--samples", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--ffmpeg", default="")
    parser.add_argument("case", choices=sorted(CASES))
    args = parser.parse_args()
    args.probe = os.path.abspath(args.probe)
    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)
    try:
        status = CASES[args.case](args)
    except Failure as failure:
        print(f"FAILED: {failure}")
        return 1
    if status == SKIP:
        return SKIP
    print(f"{args.case}: passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
