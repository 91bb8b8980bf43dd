#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into fuzz/corpus/<target>/.

The fuzz_api seeds are small programs in the target's input format: an
operation byte (taken modulo 20) followed by its arguments, with the
callbacks' answers interleaved where the library calls them. Run it again
after changing that format; the files it writes are committed.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def write(target, name, data):
    path = os.path.join(HERE, "corpus", target, name)
    with open(path, "wb") as f:
        f.write(data)


# --- fuzz_hash: split count, split points (u16 each), a byte the target
# skips (once the room of a unit buffer), text ---
def hash_seed(text, cuts=(), room=8):
    out = bytes([len(cuts)])
    for c in cuts:
        out += struct.pack("<H", c)
    return out + bytes([room]) + text


HASH_SEEDS = {
    "ascii": hash_seed(b"Hello, world", (3, 7)),
    "empty": hash_seed(b""),
    "accents": hash_seed("d\u00e9j\u00e0 vu".encode(), (2, 3, 5)),
    "emoji_pairs": hash_seed("\U0001F600a\U0001F601".encode(), (1, 4, 5), 3),
    "cjk_long": hash_seed(("\u4e2d\u6587" * 200).encode(), (300, 301, 900), 255),
    "overlong": hash_seed(b"ab\xc0\xafcd", (2,)),
    "surrogate": hash_seed(b"x\xed\xa0\x80y", (1,)),
    "truncated": hash_seed(b"abc\xe2\x82", (3,)),
    # Long enough for the vector blocks of each kind, with a fault inside one.
    "cyrillic_long": hash_seed(("\u0421\u044a\u0435\u0448\u044c \u0436\u0435 " * 30).encode(), (65,)),
    "emoji_long": hash_seed(("\U0001F600\U0001F3AC" * 40).encode(), (33, 34)),
    "mixed_long": hash_seed(("a\u00e9\u4e2d\u0436 \U0001F600" * 30).encode(), (31, 64)),
    "fault_in_block": hash_seed(("\u4e2d" * 20).encode() + b"\xed\xa0\x80" + b"x" * 100),
}

# --- fuzz_clean: one line ---
CLEAN_SEEDS = {
    "plain": b"Hello",
    "block": b"{\\an8}Top line",
    "breaks": b"First\\NSecond\\N",
    "nested": b"{a{b}c}x}y",
    "unclosed": b"A{b\\NC",
    "linefeed": b"A\nB\rC",
    "many_breaks": b"x\\N" * 70,
    "long": b"{\\b1}" + "\u00e9".encode() * 400 + b"\\Nend",
}

# --- fuzz_api ---
(CREATE, DESTROY, ADD_CUE, _ADD_CUE2, ADD_LINE, _ADD_LINE2, FINALIZE, DETECT,
 DISPLAY, SET_VALUES, LOOKUPS, COLLECTION, SELECTION, DOCUMENT, CLEAN, HASH,
 CONFIG, BULK, MISC, TABLES) = range(20)


def text(s):
    b = s.encode() if isinstance(s, str) else s
    assert len(b) < 48
    return bytes([len(b)]) + b


def long_text(pattern, length):
    b = pattern.encode() if isinstance(pattern, str) else pattern
    assert 1 <= len(b) <= 8
    return bytes([0xF0 + len(b) - 1]) + struct.pack("<H", length) + b


NULL = b"\xff"


def time(ms):
    return bytes([1]) + struct.pack("<h", ms)


def i32(v):
    return struct.pack("<i", v)


def id_(i):
    return bytes([i])


def answer(code_index, reenter=None):
    """A detector answer from the code table, optionally after a nested step."""
    if reenter is None:
        return bytes([0, code_index])
    return bytes([0x80]) + reenter + bytes([code_index])


def index_time(v):
    return bytes([2]) + i32(v)


def create_simple(parent, suffix=NULL, square=0, index=0):
    return bytes([CREATE]) + text(parent) + index_time(index) + time(0) + bytes([square]) + \
        i32(0) + suffix


def add_cue(i, start, end):
    return bytes([ADD_CUE]) + id_(i) + time(start) + time(end)


def add_line(i, pos, line):
    return bytes([ADD_LINE]) + id_(i) + bytes([pos]) + line


def one(op, *args):
    return bytes([op]) + b"".join(args)


DETECTOR_ON = one(CONFIG, b"\x00")
TRANSLATOR_ON = one(CONFIG, b"\x01")
DOWNLOAD_ON = one(CONFIG, b"\x03")

basic = (DETECTOR_ON + TRANSLATOR_ON +
         create_simple("movie-hash", text("srt"), square=1) +
         add_cue(0, 500, 900) + add_line(0, 0, text("{\\an8}Hello\\NWorld")) +
         add_cue(0, 100, 2000) + add_line(0, 1, text("Bonjour")) +
         add_cue(0, 100, 300) +
         one(FINALIZE, id_(0)) +
         one(DETECT, id_(0)) + answer(0) + answer(0) + answer(1) +
         one(DISPLAY, id_(0)) + bytes([2]) +
         one(COLLECTION, id_(0), b"\x00") + one(SELECTION, id_(0), b"\x00") +
         one(DOCUMENT) + one(LOOKUPS, id_(0), bytes([1]), time(600), time(5)) +
         one(DESTROY, id_(0)) + one(DOCUMENT))

bilingual = (DETECTOR_ON + TRANSLATOR_ON + one(CONFIG, b"\x02", b"\x01") +
             create_simple("p", text(".ass")) +
             one(BULK, id_(0), bytes([4]), time(0), struct.pack("<h", 100),
                 struct.pack("<h", 150), b"\x01") +
             one(FINALIZE, id_(0)) + one(DETECT, id_(0)) +
             b"".join(answer(k % 2) for k in range(16)) +
             one(DISPLAY, id_(0)) + bytes([3, 0]) + bytes([3, 2]))

reentrant = (DETECTOR_ON + create_simple("a") + create_simple("b") +
             add_cue(0, 0, 10) + add_line(0, 0, text("x{y}z")) + add_cue(0, 5, 20) +
             one(FINALIZE, id_(0)) + add_cue(1, 1, 2) + one(FINALIZE, id_(1)) +
             one(DETECT, id_(0)) + answer(2, one(DETECT, id_(0))) +
             answer(3, one(DETECT, id_(1)) + answer(4)) +
             one(DETECT, id_(0)) + answer(0, one(DESTROY, id_(0))) +
             one(DOCUMENT))

collection = (create_simple("one", index=7) + create_simple("two", index=7) +
              create_simple("three") + one(FINALIZE, id_(0)) + one(FINALIZE, id_(1)) +
              one(FINALIZE, id_(2)) + one(COLLECTION, id_(0), b"\x00") +
              one(COLLECTION, id_(1), b"\x00") + one(COLLECTION, id_(2), b"\x00") +
              one(SELECTION, id_(2), b"\x01") + one(SELECTION, bytes([0xF0]), b"\x00") +
              one(COLLECTION, id_(0), b"\x01") + one(DOCUMENT) +
              one(MISC, b"\x00") + one(DOCUMENT) + one(MISC, b"\x01", b"\x00"))

hostile_texts = (create_simple("x", long_text("\u00e9", 700)) +
                 one(CREATE) + b"\x03\xff\xfe\x80" + index_time(0) + time(0) + b"\x00" +
                 i32(0) + NULL +
                 add_cue(0, -50, 50) + add_line(0, 0, long_text("{a}\\N", 3000)) +
                 one(FINALIZE, id_(0)) + one(CLEAN, long_text("b{", 1200)) +
                 one(HASH, long_text("\U0001F600", 2000)) +
                 one(SET_VALUES, id_(0), b"\x01", text("windows-1252")) +
                 one(LOOKUPS, id_(0), b"\x00", time(-10), time(0)) + one(DOCUMENT))

# MISC: 0 fills every slot; 1, 0 clears; 1, 1, flags downloads.
downloads = (one(MISC, b"\x01", b"\x01", b"\x03") + DOWNLOAD_ON +
             one(MISC, b"\x01", b"\x01", b"\x01") + one(MISC, b"\x01", b"\x01", b"\x03", b"\x00") +
             one(MISC, b"\x01", b"\x01", b"\x07", b"\x00") +
             one(TABLES, time(139), time(-1)) + one(TABLES, b"\x02" + i32(140), time(0)))

API_SEEDS = {
    "basic": basic,
    "bilingual": bilingual,
    "reentrant": reentrant,
    "collection": collection,
    "hostile_texts": hostile_texts,
    "downloads": downloads,
    "fill": one(MISC, b"\x00", b"\x00") + one(DOCUMENT) + one(MISC, b"\x00", b"\x00"),
}

for name, data in HASH_SEEDS.items():
    write("fuzz_hash", name, data)
for name, data in CLEAN_SEEDS.items():
    write("fuzz_clean", name, data)
for name, data in API_SEEDS.items():
    write("fuzz_api", name, data)
