#!/usr/bin/env python3
"""Turns the benchmark program's JSON output into one table.

Each operation names its limit in its label ("limit=<benchmark name>"), or
several separated by commas: the ratio is taken to the first, the others are
shown in the notes with their own ratios. With repetitions the medians are used, otherwise the single run. Times are CPU
time per call: on a shared machine that is less disturbed by other
processes than wall time. Ratios that have a target are marked ok or MISS.
"""
import fnmatch
import json
import sys

# (pattern of the operation's name, largest ratio to its limit); a pattern
# with "@limit" applies only when the ratio is taken to that limit.
TARGETS = [
    ("cue_at/*/1e6/random", 2.0),
    ("cue_at/*/1e6/forward", 1.5),
    ("cue_at_linear/*", 2.0),
    ("stable_hash_utf8/*/16B@simdutf_units", 2.0),
    ("stable_hash_utf8/*@simdutf_units", 1.3),
    ("finalize/*", 2.0),
    ("clean_line/*", 2.0),
]
HEAP_TARGETS = [("heap/one_line_cue/full_array*", 128.0)]


def target_of(name, table):
    for pattern, limit in table:
        if fnmatch.fnmatchcase(name, pattern):
            return limit
    return None


def fmt_time(ns):
    for unit, scale in (("s", 1e9), ("ms", 1e6), ("us", 1e3)):
        if ns >= scale:
            return f"{ns / scale:.3g} {unit}"
    return f"{ns:.3g} ns"


def to_ns(value, unit):
    return value * {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}[unit]


def load(stream):
    data = json.load(stream)
    runs = {}
    for b in data["benchmarks"]:
        if b.get("error_occurred"):
            runs[b["run_name"]] = {"error": b.get("error_message", "error")}
            continue
        if b.get("run_type") == "aggregate" and b.get("aggregate_name") != "median":
            continue
        name = b.get("run_name", b["name"])
        if b.get("run_type") == "iteration" and name in runs and runs[name].get("median"):
            continue
        entry = dict(b)
        entry["median"] = b.get("run_type") == "aggregate"
        runs[name] = entry
    return data.get("context", {}), runs


def main():
    context, runs = load(open(sys.argv[1]) if len(sys.argv) > 1 else sys.stdin)
    limits = set()
    rows = []
    for name, b in runs.items():
        label = b.get("label", "")
        if label.startswith("limit="):
            limits.update(label[len("limit="):].split(","))
    for name, b in runs.items():
        if name in limits or name.startswith("heap/"):
            continue
        if "error" in b:
            rows.append((name, "error: " + b["error"], "", "", "", "", ""))
            continue
        t = to_ns(b["cpu_time"], b["time_unit"])
        limit_names = b.get("label", "")[len("limit="):].split(",")
        limit_name = limit_names[0]
        lb = runs.get(limit_name)
        notes = []
        if "allocs" in b:
            notes.append(f"allocs/call {b['allocs']:.3g}")
        if "per_line" in b:
            notes.append(f"{b['per_line'] * 1e9:.3g} ns/line")
        if lb is None or "error" in lb:
            rows.append((name, fmt_time(t), "", "", "", "", ", ".join(notes)))
            continue
        lt = to_ns(lb["cpu_time"], lb["time_unit"])
        if "per_line" in lb:
            notes.append(f"limit {lb['per_line'] * 1e9:.3g} ns/line")
        ratio = t / lt
        for other in limit_names[1:]:
            ob = runs.get(other)
            if ob is not None and "error" not in ob:
                ot = to_ns(ob["cpu_time"], ob["time_unit"])
                notes.append(f"{other.split('/')[0]} {fmt_time(ot)}: {t / ot:.2f}")
        target = target_of(name + "@" + limit_name.split("/")[0], TARGETS)
        if target is None:
            target = target_of(name, TARGETS)
        verdict = ""
        if target is not None:
            verdict = f"<= {target:g}: " + ("ok" if ratio <= target else "MISS")
        rows.append((name, fmt_time(t), limit_name.split("/")[0], fmt_time(lt), f"{ratio:.2f}",
                     verdict, ", ".join(notes)))

    head = ("operation", "time", "limit", "limit time", "ratio", "target", "notes")
    widths = [max(len(r[i]) for r in rows + [head]) for i in range(len(head))]
    line = lambda r: "| " + " | ".join(c.ljust(w) for c, w in zip(r, widths)) + " |"
    print(line(head))
    print("|" + "|".join("-" * (w + 2) for w in widths) + "|")
    for r in rows:
        print(line(r))

    heap = [(n, b) for n, b in runs.items() if n.startswith("heap/")]
    if heap:
        print()
        hhead = ("heap held", "bytes per cue", "text bytes", "beyond text", "target")
        hrows = []
        for name, b in heap:
            name = name.replace("/iterations:1", "")
            if "error" in b:
                hrows.append((name, "error: " + b["error"], "", "", ""))
                continue
            beyond = b["beyond_text"]
            target = target_of(name, HEAP_TARGETS)
            verdict = ""
            if target is not None:
                verdict = f"<= {target:g}: " + ("ok" if beyond <= target else "MISS")
            hrows.append((name, f"{b['heap_per_cue']:.1f}", f"{b['text_per_cue']:.0f}",
                          f"{beyond:.1f}", verdict))
        widths = [max(len(r[i]) for r in hrows + [hhead]) for i in range(len(hhead))]
        line = lambda r: "| " + " | ".join(c.ljust(w) for c, w in zip(r, widths)) + " |"
        print(line(hhead))
        print("|" + "|".join("-" * (w + 2) for w in widths) + "|")
        for r in hrows:
            print(line(r))

    reps = "medians of the repetitions" if any(b.get("median") for b in runs.values()) else \
        "one run, no repetitions"
    print()
    print(f"CPU time per call, {reps}; {context.get('num_cpus', '?')} CPUs at "
          f"{context.get('mhz_per_cpu', '?')} MHz, load average "
          f"{' '.join(f'{x:.2f}' for x in context.get('load_avg', []))} at the start.")


if __name__ == "__main__":
    main()
