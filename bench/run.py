#!/usr/bin/env python3
"""Whole-program benchmark of boxwalk against cat, the load floor and every
installed peer, on files kept outside the repository.

    bench/run.py [DIR] [--runs N] [--timeout SECONDS] [--skip-slow]

DIR (default ~/boxwalk-bench) receives the files on the first run:
video.mp4 (about 1 GiB, encoded by ffmpeg from a generated source, tagged by
AtomicParsley and by exiftool, which adds an Xtra atom), the three
metadata-heavy files from make_bench_files, and small.m4a (a copy of a
small real fixture). Each command runs on warm files with its output going
to /dev/null. Commands that finish within a few seconds are timed by
hyperfine (or by repeated runs when it is missing) and the median is shown;
slower ones run once, and any run is stopped after --timeout seconds. Peak
memory is the maximum resident set size from /usr/bin/time. Nothing here
passes or fails: the targets at the end are figures to read.
"""

import argparse
import json
import math
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
BUILD = ROOT / "build" / "release"
GIB = 1 << 30
MIB = 1 << 20


def sh(*args, **kwargs):
    print("+", " ".join(str(a) for a in args), file=sys.stderr)
    subprocess.run([str(a) for a in args], check=True, **kwargs)


def build():
    sh("cmake", "--preset", "release", stdout=subprocess.DEVNULL, cwd=ROOT)
    sh("cmake", "--build", "--preset", "release", stdout=subprocess.DEVNULL, cwd=ROOT)


def make_video(path):
    """About 1 GiB of H.264: a 10 s clip of a test pattern, repeated by
    stream copy (cheap), then tagged by AtomicParsley and exiftool."""
    clip = path.with_name("clip.mp4")
    sh("ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", "testsrc2=size=1280x720:rate=30",
       "-t", "10", "-c:v", "libx264", "-preset", "ultrafast", "-b:v", "40M",
       "-pix_fmt", "yuv420p", clip)
    loops = math.ceil(GIB / clip.stat().st_size) - 1
    sh("ffmpeg", "-v", "error", "-y", "-stream_loop", loops, "-i", clip, "-c", "copy", path)
    clip.unlink()
    if shutil.which("AtomicParsley"):
        sh("AtomicParsley", path, "--title", "Benchmark video", "--artist", "boxwalk bench",
           "--comment", "generated", "--overWrite", stdout=subprocess.DEVNULL)
    if shutil.which("exiftool"):
        sh("exiftool", "-q", "-overwrite_original", "-Microsoft:Category=Benchmark",
           "-Microsoft:SharedUserRating=75", "-Microsoft:Producer=bench", path)


def make_files(directory):
    directory.mkdir(parents=True, exist_ok=True)
    video = directory / "video.mp4"
    if not video.exists():
        if not shutil.which("ffmpeg"):
            sys.exit("ffmpeg is needed to make the video (apt-get install ffmpeg)")
        make_video(video)
    if not all((directory / name).exists() for name in ("leaves.mp4", "items.mp4", "xtra.mp4")):
        sh(BUILD / "bench" / "make_bench_files", directory)
    small = directory / "small.m4a"
    if not small.exists():
        shutil.copyfile(ROOT / "tests" / "fixtures" / "tagged.m4a", small)


FILES = [
    ("video.mp4", "~1 GiB H.264 video, tags and an Xtra atom"),
    ("leaves.mp4", "udta holding 1,000,000 16-byte leaves"),
    ("items.mp4", "ilst with 200,000 items, half freeform"),
    ("xtra.mp4", "Xtra with 200,000 entries"),
    ("small.m4a", "small real .m4a"),
]


def commands(path):
    """(name, argv) of every command to time on `path`; peers only when installed."""
    result = [
        ("boxwalk", [BUILD / "boxwalk", path]),
        ("cat", ["cat", path]),
    ]
    if (BUILD / "bench" / "hugepage_floor").exists():
        result.append(("huge-page floor", [BUILD / "bench" / "hugepage_floor", path]))
    peers = [
        ("exiftool -v3", ["exiftool", "-v3", path]),
        ("mediainfo --Details=1", ["mediainfo", "--Details=1", path]),
        ("AtomicParsley -T", ["AtomicParsley", path, "-T"]),
        ("mutagen-inspect", ["mutagen-inspect", path]),
    ]
    result += [(name, argv) for name, argv in peers if shutil.which(argv[0])]
    return [(name, [str(a) for a in argv]) for name, argv in result]


def timed_once(argv, timeout):
    """(wall seconds, peak RSS in bytes, exit status) of one run, or None
    when it was stopped after `timeout` seconds."""
    with tempfile.NamedTemporaryFile("r") as report:
        start = time.perf_counter()
        try:
            done = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", report.name, *argv],
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                  timeout=timeout)
        except subprocess.TimeoutExpired:
            return None
        wall = time.perf_counter() - start
        lines = [line for line in report.read().splitlines() if line.strip().isdigit()]
        return wall, int(lines[-1]) * 1024, done.returncode


def median_wall(argv, runs):
    if shutil.which("hyperfine"):
        with tempfile.NamedTemporaryFile("r", suffix=".json") as export:
            subprocess.run(["hyperfine", "-N", "-i", "--warmup", "2", "--runs", str(runs),
                            "--export-json", export.name, "--", " ".join(_quote(a) for a in argv)],
                           check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            result = json.load(export)["results"][0]
            return result["median"], result["min"]
    walls = []
    for _ in range(runs):
        start = time.perf_counter()
        subprocess.run(argv, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        walls.append(time.perf_counter() - start)
    return statistics.median(walls), min(walls)


def _quote(arg):
    return "'" + arg.replace("'", "'\\''") + "'" if any(c in arg for c in " '\"\\$") else arg


def measure(argv, runs, timeout):
    """A row of figures: wall (median, or one run), RSS, and how it was timed."""
    first = timed_once(argv, timeout)
    if first is None:
        return {"wall": None, "min": None, "rss": None, "how": f"stopped after {timeout:.0f} s"}
    wall, rss, status = first
    notes = [] if status == 0 else [f"exit {status}"]
    if wall < 5:
        # Runs of a few milliseconds are cheap and noisy: take many.
        repeats = runs if wall >= 0.1 else max(runs, 100)
        wall, fastest = median_wall(argv, repeats)
        notes.append(f"median of {repeats}")
    else:
        fastest = wall
        notes.append("1 run")
    return {"wall": wall, "min": fastest, "rss": rss, "how": ", ".join(notes)}


def seconds(value):
    if value is None:
        return "-"
    return f"{value * 1000:.1f} ms" if value < 0.1 else f"{value:.3f} s"


def megabytes(value):
    return "-" if value is None else f"{value / 1e6:.1f} MB"


def ratio(a, b):
    return "-" if a is None or b is None or b == 0 else f"{a / b:.2f}"


def write_calls(path):
    """write(2) calls that boxwalk makes for `path`'s output, when strace is here."""
    if not shutil.which("strace"):
        return None
    with tempfile.NamedTemporaryFile("r") as trace:
        subprocess.run(["strace", "-f", "-c", "-e", "trace=write", "-o", trace.name,
                        str(BUILD / "boxwalk"), str(path)],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
        for line in trace.read().splitlines():
            fields = line.split()
            if fields and fields[-1] == "write":
                return int(fields[3])
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("dir", nargs="?", default=Path.home() / "boxwalk-bench", type=Path)
    parser.add_argument("--runs", type=int, default=10, help="runs per median (default 10)")
    parser.add_argument("--timeout", type=float, default=600,
                        help="seconds after which a run is stopped (default 600)")
    parser.add_argument("--skip-slow", action="store_true",
                        help="skip peers on the metadata-heavy files (they take minutes)")
    parser.add_argument("--files", default=",".join(name for name, _ in FILES),
                        help="comma-separated subset of the files to time")
    args = parser.parse_args()

    build()
    make_files(args.dir)
    print(f"machine: {os.cpu_count()} CPUs, load average {os.getloadavg()[0]:.2f}, "
          f"transparent huge pages: {Path('/sys/kernel/mm/transparent_hugepage/enabled').read_text().strip()}")
    print("wall is the median; wall / boxwalk above 1 means that boxwalk is that many times "
          "faster.")
    print()
    results = {}
    for name, what in FILES:
        if name not in args.files.split(","):
            continue
        path = args.dir / name
        size = path.stat().st_size
        subprocess.run(["cat", str(path)], stdout=subprocess.DEVNULL, check=True)  # warm
        rows = {}
        for command, argv in commands(path):
            heavy = name in ("leaves.mp4", "items.mp4", "xtra.mp4")
            if args.skip_slow and heavy and command not in ("boxwalk", "cat", "huge-page floor"):
                continue
            rows[command] = measure(argv, args.runs, args.timeout)
            print(f"  {name}: {command}: {seconds(rows[command]['wall'])}", file=sys.stderr)
        results[name] = (size, rows)
        bw = rows["boxwalk"]["wall"]
        print(f"### {name}: {what}, {size:,} bytes")
        print()
        print("| command | wall | fastest | peak RSS | wall / cat | wall / boxwalk | timed |")
        print("|---|---|---|---|---|---|---|")
        for command, row in rows.items():
            print(f"| {command} | {seconds(row['wall'])} | {seconds(row['min'])} | "
                  f"{megabytes(row['rss'])} | "
                  f"{ratio(row['wall'], rows['cat']['wall'])} | {ratio(row['wall'], bw)} | "
                  f"{row['how']} |")
        print()

    print("### Targets")
    print()
    if "video.mp4" in results:
        size, video = results["video.mp4"]
        floor = video.get("huge-page floor", {}).get("wall")
        print(f"- video.mp4: boxwalk / huge-page floor = {ratio(video['boxwalk']['wall'], floor)} "
              f"(target <= 1.15); peak RSS - file size = "
              f"{(video['boxwalk']['rss'] - size) / MIB:.1f} MiB (target <= 8 MiB)")
    for name in ("leaves.mp4", "items.mp4", "xtra.mp4"):
        if name not in results:
            continue
        size, rows = results[name]
        exif = rows.get("exiftool -v3", {}).get("wall")
        print(f"- {name}: boxwalk {seconds(rows['boxwalk']['wall'])} (target < 0.25 s); "
              f"exiftool / boxwalk = {ratio(exif, rows['boxwalk']['wall'])} (target > 50); "
              f"peak RSS - file size = {(rows['boxwalk']['rss'] - size) / MIB:.1f} MiB "
              f"(target <= 16 MiB)")
    if "small.m4a" in results:
        _, small = results["small.m4a"]
        parsley = small.get("AtomicParsley -T", {}).get("wall")
        print(f"- small.m4a: boxwalk {seconds(small['boxwalk']['wall'])} (target < 2 ms, "
              f"and no slower than AtomicParsley -T: {seconds(parsley)})")
    calls = write_calls(args.dir / "leaves.mp4")
    if calls is not None:
        out = subprocess.run([str(BUILD / "boxwalk"), str(args.dir / "leaves.mp4")],
                             stdout=subprocess.PIPE, check=True).stdout
        print(f"- leaves.mp4 output: {len(out):,} bytes in {calls} write calls "
              f"(target <= {math.ceil(len(out) / 65536)}, one per 64 KiB)")


if __name__ == "__main__":
    main()
