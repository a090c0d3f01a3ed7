#!/usr/bin/env python3
"""Whole-program benchmark of boxwalk against cat and every installed peer,
on files kept outside the repository, with a warm and a cold page cache.

    bench/run.py [DIR] [--runs N] [--timeout SECONDS] [--skip-slow] [--skip-many]
                 [--files a,b] [--baseline [REV|BOXWALK]] [--memory-limit GIB]

DIR (default ~/boxwalk-bench) receives the files on the first run:
video.mp4 (about 1 GiB, encoded by ffmpeg from a generated source, tagged by
AtomicParsley and by exiftool, which adds an Xtra atom, its moov ahead of the
media data), video-moov-last.mp4 (the same atoms with the moov moved behind
the media data and the chunk offsets moved with it), sparse-64g.mp4 (64 GiB,
almost all of it a hole: ftyp, an mdat with a 64-bit size, then the video's
moov; sparse-64g-first.mp4 the same with the moov first), cover-art.m4a (a
short AAC file tagged by AtomicParsley with about 17 MB of artwork),
free-2g.mp4 (a udta holding one 2 GiB free atom, a hole), the three
metadata-heavy files from make_bench_files, and small.m4a (a copy of a small
real fixture). Each command runs with its output going to
/dev/null, on every file with its bytes in the page cache (warm), and on the
videos also evicted from the page cache before every run (cold) with
posix_fadvise(POSIX_FADV_DONTNEED). Commands that finish within a few seconds
are timed by hyperfine (or by repeated runs when it is missing) and the
median is shown; slower ones run once, and any run is stopped after
--timeout seconds, or ends when it maps more writable memory than
--memory-limit allows. Peak memory is the maximum resident set size from
/usr/bin/time. --baseline times boxwalk as it was at another git revision
(by default the merge base with main, or HEAD~ on main; built with the
release preset in a temporary work tree) or another boxwalk binary, in the
same run, and prints both side by side, with instruction counts from
callgrind where valgrind is installed; boxwalk-json likewise, built at that
revision or found beside that binary. boxwalk-json runs beside boxwalk on
every file, and on MANY_COUNT copies of the real fixtures in one run beside
`exiftool -j` on the same files (DIR/many/). Nothing here passes or fails:
the targets at the end are figures to read.
"""

import argparse
import json
import math
import os
import resource
import shlex
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
BUILD = ROOT / "build" / "release"
GIB = 1 << 30
MIB = 1 << 20
SPARSE_LENGTH = 64 * GIB
# Bytes of writable private memory each timed command may map
# (RLIMIT_DATA), set by --memory-limit: a peer that grows without bound on
# the sparse file (mediainfo does) must fail on its own, not wake the
# out-of-memory killer on a shared machine. Address space reserved without
# access rights does not count, so a loader that reserves the whole length
# of the sparse file is not refused.
MEMORY_LIMIT = None


def limit_memory():
    if MEMORY_LIMIT is not None:
        resource.setrlimit(resource.RLIMIT_DATA, (MEMORY_LIMIT, MEMORY_LIMIT))


def sh(*args, **kwargs):
    print("+", " ".join(str(a) for a in args), file=sys.stderr)
    subprocess.run([str(a) for a in args], check=True, **kwargs)


def build():
    sh("cmake", "--preset", "release", stdout=subprocess.DEVNULL, cwd=ROOT)
    sh("cmake", "--build", "--preset", "release", "--target", "boxwalk", "boxwalk-json",
       "make_bench_files", "-j", os.cpu_count() or 1, stdout=subprocess.DEVNULL, cwd=ROOT)


def git(*args):
    done = subprocess.run(["git", "-C", str(ROOT), *args], stdout=subprocess.PIPE,
                          stderr=subprocess.DEVNULL, text=True)
    return done.stdout.strip() if done.returncode == 0 else None


def baseline_binary(wanted, directory):
    """(binary, name) of the boxwalk to time as "boxwalk before": the file
    `wanted` names, or a build of the git revision `wanted`, by default the
    merge base with main (HEAD~ when HEAD is on main, HEAD itself when the
    work tree has changes not committed). A build is made once
    per commit, with the release preset in a temporary work tree, and kept
    in DIR/baseline/."""
    if wanted and Path(wanted).is_file():
        return Path(wanted).resolve(), wanted
    if not wanted:
        head, base = git("rev-parse", "HEAD"), git("merge-base", "HEAD", "main")
        if git("status", "--porcelain", "--untracked-files=no"):
            wanted = "HEAD"
        else:
            wanted = base if base and base != head else "HEAD~"
    commit = git("rev-parse", "--verify", "--quiet", f"{wanted}^{{commit}}")
    if commit is None:
        sys.exit(f"--baseline: {wanted} is neither a file nor a git revision")
    binary = directory / "baseline" / commit[:12] / "boxwalk"
    if not binary.exists() or not binary.with_name("boxwalk-json").exists():
        with tempfile.TemporaryDirectory(prefix="boxwalk-baseline-") as temp:
            tree = Path(temp) / "tree"
            sh("git", "-C", ROOT, "worktree", "add", "--detach", tree, commit,
               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            try:
                sh("cmake", "--preset", "release", stdout=subprocess.DEVNULL, cwd=tree)
                sh("cmake", "--build", "--preset", "release", "--target", "boxwalk",
                   "boxwalk-json", "-j", os.cpu_count() or 1, stdout=subprocess.DEVNULL, cwd=tree)
                binary.parent.mkdir(parents=True, exist_ok=True)
                for name in ("boxwalk", "boxwalk-json"):
                    shutil.copy2(tree / "build" / "release" / name, binary.with_name(name))
            finally:
                sh("git", "-C", ROOT, "worktree", "remove", "--force", tree)
    return binary, f"{commit[:7]} ({wanted})" if not commit.startswith(wanted) else commit[:7]


def instructions(argv):
    """Instructions that `argv` executes, counted by callgrind (repeatable where
    wall time wanders), or None without valgrind."""
    if not shutil.which("valgrind"):
        return None
    done = subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=/dev/null",
                           *argv], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    for line in done.stderr.splitlines():
        if "refs:" in line:
            return int(line.split("refs:")[1].replace(",", "").strip())
    return None


# Atoms, read with seeks so that a file of any length costs only its headers.

class Atom:
    def __init__(self, offset, size, kind, header):
        self.offset, self.size, self.kind, self.header = offset, size, kind, header


def top_level_atoms(path):
    """The top-level atoms of `path`, up to the first header that does not fit."""
    atoms = []
    with open(path, "rb") as file:
        length = os.fstat(file.fileno()).st_size
        offset = 0
        while offset + 8 <= length:
            file.seek(offset)
            head = file.read(16)
            size, kind = struct.unpack(">I4s", head[:8])
            header = 8
            if size == 1 and len(head) == 16:
                size, header = struct.unpack(">Q", head[8:])[0], 16
            elif size == 0:
                size = length - offset
            if size < header or offset + size > length:
                break
            atoms.append(Atom(offset, size, kind, header))
            offset += size
    return atoms


def first_atom(atoms, kind):
    return next((atom for atom in atoms if atom.kind == kind), None)


def read_atom(path, atom):
    with open(path, "rb") as file:
        file.seek(atom.offset)
        return bytearray(file.read(atom.size))


# The containers on the way from moov to the chunk offset tables.
CHUNK_PATH = {b"moov", b"trak", b"mdia", b"minf", b"stbl"}


def move_chunk_offsets(moov, where):
    """Rewrites every stco and co64 entry of the moov atom `moov` (a bytearray)
    to where(old offset)."""
    def walk(start, end):
        pos = start
        while pos + 8 <= end:
            size, kind = struct.unpack_from(">I4s", moov, pos)
            header = 8
            if size == 1:
                size, header = struct.unpack_from(">Q", moov, pos + 8)[0], 16
            if size < header or pos + size > end:
                return
            if kind in CHUNK_PATH:
                walk(pos + header, pos + size)
            elif kind in (b"stco", b"co64"):
                form = ">I" if kind == b"stco" else ">Q"
                width = struct.calcsize(form)
                count = struct.unpack_from(">I", moov, pos + header + 4)[0]
                for i in range(count):
                    at = pos + header + 8 + i * width
                    struct.pack_into(form, moov, at, where(struct.unpack_from(form, moov, at)[0]))
            pos += size
    walk(0, len(moov))


def copy_range(source, target, offset, count):
    while count > 0:
        done = os.copy_file_range(source.fileno(), target.fileno(), count, offset)
        if done <= 0:
            raise OSError(f"copy_file_range stopped with {count} bytes left")
        offset += done
        count -= done


def place_moov(source, target, last):
    """Writes `target`: the top-level atoms of `source` in their order, with
    the moov moved ahead of the first mdat, or behind every other atom when
    `last`; the chunk offsets follow the media data that moves."""
    atoms = top_level_atoms(source)
    moov = first_atom(atoms, b"moov")
    order = [atom for atom in atoms if atom is not moov]
    if last:
        order.append(moov)
    else:
        order.insert(order.index(first_atom(order, b"mdat")), moov)
    moved, position = {}, 0
    for atom in order:
        moved[atom.offset] = position
        position += atom.size

    def where(offset):
        atom = next(a for a in atoms if a.offset <= offset < a.offset + a.size)
        return offset - atom.offset + moved[atom.offset]

    moov_bytes = read_atom(source, moov)
    move_chunk_offsets(moov_bytes, where)
    partial = target.with_name(target.name + ".part")
    with open(source, "rb") as src, open(partial, "wb") as out:
        for atom in order:
            if atom is moov:
                out.write(moov_bytes)
            else:
                copy_range(src, out, atom.offset, atom.size)
    partial.rename(target)


def make_sparse(source, target, length, last=True):
    """Writes `target` of `length` bytes: the ftyp and the moov of `source`
    and an mdat with a 64-bit size that is nothing but a hole, the moov after
    it (`last`) or before it; the chunk offsets point into it as they pointed
    into the media data."""
    atoms = top_level_atoms(source)
    ftyp = read_atom(source, first_atom(atoms, b"ftyp"))
    mdat = first_atom(atoms, b"mdat")
    moov = read_atom(source, first_atom(atoms, b"moov"))
    data = len(ftyp) + 16 + (0 if last else len(moov))
    move_chunk_offsets(moov, lambda offset: offset - mdat.offset - mdat.header + data)
    partial = target.with_name(target.name + ".part")
    with open(partial, "wb") as out:
        out.write(ftyp)
        if not last:
            out.write(moov)
        out.write(struct.pack(">I4sQ", 1, b"mdat", length - len(ftyp) - len(moov)))
        if last:
            out.seek(length - len(moov))
            out.write(moov)
        else:
            out.truncate(length)
    partial.rename(target)


def make_cover_art(path):
    """A short AAC .m4a tagged by AtomicParsley with a title and a cover of
    about 17 MB (a PNG of noise, which does not compress)."""
    sh("ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", "sine=frequency=440:duration=5",
       "-c:a", "aac", path)
    cover = path.with_name("cover.png")
    sh("ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
       "nullsrc=s=3400x3400,geq=r='random(1)*255':g='random(2)*255':b='random(3)*255'",
       "-frames:v", "1", cover)
    sh("AtomicParsley", path, "--title", "Cover art", "--artwork", cover, "--overWrite",
       stdout=subprocess.DEVNULL)
    cover.unlink()


def make_free_leaf(path, length):
    """ftyp, then a moov whose udta holds one free leaf of `length` bytes,
    its payload a hole: lines of a hundred bytes for gigabytes of file."""
    ftyp = struct.pack(">I4s4sI4s", 20, b"ftyp", b"isom", 0, b"isom")
    free = length + 8
    with open(path, "wb") as out:
        out.write(ftyp)
        out.write(struct.pack(">I4sI4sI4s", free + 16, b"moov", free + 8, b"udta", free, b"free"))
        out.truncate(len(ftyp) + 24 + length)


def make_video(path):
    """About 1 GiB of H.264: a 10 s clip of a test pattern, repeated by
    stream copy (cheap), then tagged by AtomicParsley and exiftool, with the
    moov ahead of the media data."""
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
    atoms = top_level_atoms(path)
    if atoms.index(first_atom(atoms, b"moov")) > atoms.index(first_atom(atoms, b"mdat")):
        # AtomicParsley moves the moov ahead when it rewrites; without it, we do.
        front = path.with_name("front.mp4")
        place_moov(path, front, last=False)
        front.rename(path)


def make_files(directory, wanted):
    """Makes the files of `wanted` that are not in `directory` yet, and what
    they are made from."""
    directory.mkdir(parents=True, exist_ok=True)
    videos = {"video.mp4", "video-moov-last.mp4", "sparse-64g.mp4", "sparse-64g-first.mp4"}
    video = directory / "video.mp4"
    if wanted & videos and not video.exists():
        if not shutil.which("ffmpeg"):
            sys.exit("ffmpeg is needed to make the video (apt-get install ffmpeg)")
        make_video(video)
    if "video-moov-last.mp4" in wanted and not (directory / "video-moov-last.mp4").exists():
        print("+ moving the moov of video.mp4 to its end", file=sys.stderr)
        place_moov(video, directory / "video-moov-last.mp4", last=True)
    if "sparse-64g.mp4" in wanted and not (directory / "sparse-64g.mp4").exists():
        print("+ writing the 64 GiB sparse file", file=sys.stderr)
        make_sparse(video, directory / "sparse-64g.mp4", SPARSE_LENGTH)
    if "sparse-64g-first.mp4" in wanted and not (directory / "sparse-64g-first.mp4").exists():
        make_sparse(video, directory / "sparse-64g-first.mp4", SPARSE_LENGTH, last=False)
    if "cover-art.m4a" in wanted and not (directory / "cover-art.m4a").exists():
        if not shutil.which("AtomicParsley"):
            sys.exit("AtomicParsley is needed to tag the cover-art file (apt-get install atomicparsley)")
        make_cover_art(directory / "cover-art.m4a")
    if "free-2g.mp4" in wanted and not (directory / "free-2g.mp4").exists():
        make_free_leaf(directory / "free-2g.mp4", 2 * GIB)
    if not all((directory / name).exists() for name in HEAVY if name in wanted):
        sh(BUILD / "bench" / "make_bench_files", directory)
    small = directory / "small.m4a"
    if not small.exists():
        shutil.copyfile(ROOT / "tests" / "fixtures" / "tagged.m4a", small)


# The real fixtures, copied MANY_COUNT times in all into DIR/many/: what an
# inventory of a music folder meets, in one run of boxwalk-json and one of
# exiftool -j.
MANY_COUNT = 312


def many_files(directory):
    """The MANY_COUNT copies of the real fixtures and samples in
    directory/many, made when missing, in order."""
    sources = sorted((ROOT / "tests" / "fixtures").glob("*.m4a")) + \
        sorted((ROOT / "tests" / "fixtures").glob("*.mp4")) + \
        sorted((ROOT / "samples").glob("*.m4a")) + sorted((ROOT / "tests" / "xmp").glob("*.m4a"))
    many = directory / "many"
    many.mkdir(parents=True, exist_ok=True)
    files = []
    for i in range(MANY_COUNT):
        source = sources[i % len(sources)]
        copy = many / f"{i:03d}-{source.name}"
        if not copy.exists():
            shutil.copyfile(source, copy)
        files.append(copy)
    return files


FILES = [
    ("video.mp4", "~1 GiB H.264 video, moov first, tags and an Xtra atom"),
    ("video-moov-last.mp4", "the same video with its moov at the end"),
    ("sparse-64g.mp4", "64 GiB sparse file, the video's moov at the end"),
    ("sparse-64g-first.mp4", "64 GiB sparse file, the video's moov first"),
    ("cover-art.m4a", "short .m4a with about 17 MB of cover art in its ilst"),
    ("free-2g.mp4", "udta holding one 2 GiB free leaf (a hole)"),
    ("leaves.mp4", "udta holding 1,000,000 16-byte leaves"),
    ("items.mp4", "ilst with 200,000 items, half freeform"),
    ("xtra.mp4", "Xtra with 200,000 entries"),
    ("small.m4a", "small real .m4a"),
]
VIDEOS = ("video.mp4", "video-moov-last.mp4", "sparse-64g.mp4", "sparse-64g-first.mp4",
          "cover-art.m4a")
HEAVY = ("leaves.mp4", "items.mp4", "xtra.mp4")
# How many times faster than the baseline each heavy file is meant to list.
HEAVY_SPEEDUP = {"leaves.mp4": 3, "items.mp4": 2, "xtra.mp4": 2}


def commands(path, baseline):
    """(name, argv) of every command to time on `path`; peers only when
    installed. On a metadata-heavy file, `cat` of boxwalk's output, kept
    beside the file, times the copy of that much text."""
    result = [("boxwalk", [BUILD / "boxwalk", path])]
    if baseline is not None:
        result.append(("boxwalk before", [baseline, path]))
    result.append(("boxwalk-json", [BUILD / "boxwalk-json", path]))
    if baseline is not None and baseline.with_name("boxwalk-json").exists():
        result.append(("boxwalk-json before", [baseline.with_name("boxwalk-json"), path]))
    result.append(("cat", ["cat", path]))
    if path.name in HEAVY:
        output = path.with_suffix(".out")
        with open(output, "wb") as file:
            subprocess.run([BUILD / "boxwalk", path], stdout=file, check=True)
        result.append(("cat of the output", ["cat", output]))
    peers = [
        # Without LargeFileSupport exiftool stops at a 64-bit size beyond 4 GiB.
        ("exiftool -v3", ["exiftool", "-v3", "-api", "LargeFileSupport=1", path]),
        ("mediainfo --Details=1", ["mediainfo", "--Details=1", path]),
        ("AtomicParsley -T", ["AtomicParsley", path, "-T"]),
        ("mutagen-inspect", ["mutagen-inspect", path]),
    ]
    result += [(name, argv) for name, argv in peers if shutil.which(argv[0])]
    return [(name, [str(a) for a in argv]) for name, argv in result]


# The page cache: warm by reading what the file holds, cold by eviction.

def warm(path):
    """Reads every data extent of `path` (all of a plain file; a sparse file's
    holes are skipped, as there is nothing to cache)."""
    with open(path, "rb", buffering=0) as file:
        fd, length, offset = file.fileno(), os.fstat(file.fileno()).st_size, 0
        buffer = bytearray(MIB)
        while offset < length:
            try:
                offset = os.lseek(fd, offset, os.SEEK_DATA)
                end = os.lseek(fd, offset, os.SEEK_HOLE)
            except OSError:  # past the last extent
                break
            os.lseek(fd, offset, os.SEEK_SET)
            while offset < end:
                got = os.readv(fd, [memoryview(buffer)[:min(MIB, end - offset)]])
                if got <= 0:
                    break
                offset += got


# Run before each cold run (by hyperfine's --prepare): write back, then drop
# the file's pages from the page cache. Needs no privileges; a filesystem may
# ignore the advice, which cached_bytes() detects.
EVICT = ("import os, sys; fd = os.open(sys.argv[1], os.O_RDONLY); os.fsync(fd); "
         "os.posix_fadvise(fd, 0, 0, os.POSIX_FADV_DONTNEED)")


def evict_argv(path):
    return [sys.executable, "-c", EVICT, str(path)]


def cached_bytes(path):
    """Bytes of `path` in the page cache (by fincore), or None without it."""
    if not shutil.which("fincore"):
        return None
    out = subprocess.run(["fincore", "--bytes", "--noheadings", "--output", "RES", str(path)],
                         stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    return int(out.stdout.split()[0]) if out.returncode == 0 and out.stdout.strip() else None


def timed_once(argv, timeout, prepare=None):
    """(wall seconds, peak RSS in bytes, exit status) of one run, or None
    when it was stopped after `timeout` seconds."""
    if prepare is not None:
        subprocess.run(prepare, check=True)
    with tempfile.NamedTemporaryFile("r") as report:
        start = time.perf_counter()
        try:
            done = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", report.name, *argv],
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                  timeout=timeout, preexec_fn=limit_memory)
        except subprocess.TimeoutExpired:
            return None
        wall = time.perf_counter() - start
        lines = [line for line in report.read().splitlines() if line.strip().isdigit()]
        return wall, int(lines[-1]) * 1024, done.returncode


def median_wall(argv, runs, prepare=None):
    if shutil.which("hyperfine"):
        extra = ["--warmup", "2"] if prepare is None else ["--prepare", shlex.join(prepare)]
        with tempfile.NamedTemporaryFile("r", suffix=".json") as export:
            subprocess.run(["hyperfine", "-N", "-i", *extra, "--runs", str(runs),
                            "--export-json", export.name, "--", shlex.join(argv)],
                           check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                           preexec_fn=limit_memory)
            result = json.load(export)["results"][0]
            return result["median"], result["min"]
    walls = []
    for _ in range(runs):
        if prepare is not None:
            subprocess.run(prepare, check=True)
        start = time.perf_counter()
        subprocess.run(argv, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       preexec_fn=limit_memory)
        walls.append(time.perf_counter() - start)
    return statistics.median(walls), min(walls)


def measure(argv, runs, timeout, prepare=None):
    """A row of figures: wall (median, or one run), RSS, and how it was timed.
    `prepare` runs before every run, the first one too."""
    first = timed_once(argv, timeout, prepare)
    if first is None:
        return {"wall": None, "min": None, "rss": None, "status": None,
                "how": f"stopped after {timeout:.0f} s"}
    wall, rss, status = first
    notes = [] if status == 0 else [f"exit {status}"]
    if wall < 5:
        # Runs of a few milliseconds are cheap and noisy: take many.
        repeats = runs if wall >= 0.1 else max(runs, 100)
        wall, fastest = median_wall(argv, repeats, prepare)
        notes.append(f"median of {repeats}")
    else:
        fastest = wall
        notes.append("1 run")
    return {"wall": wall, "min": fastest, "rss": rss, "status": status, "how": ", ".join(notes)}


def seconds(value):
    if value is None:
        return "-"
    return f"{value * 1000:.1f} ms" if value < 0.1 else f"{value:.3f} s"


def megabytes(value):
    return "-" if value is None else f"{value / 1e6:.1f} MB"


def ratio(a, b):
    return "-" if a is None or b is None or b == 0 else f"{a / b:.2f}"


def wall_of(rows, command):
    return rows.get(command, {}).get("wall")


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


def read_bytes(argv):
    """(calls, bytes) that read(2) and pread64(2) returned to `argv`, when
    strace is here; the program's own file, read by the loader, is not
    counted."""
    if not shutil.which("strace"):
        return None
    with tempfile.NamedTemporaryFile("r") as trace:
        subprocess.run(["strace", "-e", "trace=read,pread64", "-e", "signal=none", "-qq",
                        "-o", trace.name] + argv,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
        calls = total = 0
        for line in trace.read().splitlines():
            result = line.rsplit("= ", 1)[-1].split()[0]
            if result.isdigit():
                calls += 1
                total += int(result)
        return calls, total


def moov_text(atoms):
    moov = first_atom(atoms, b"moov")
    if moov is None:
        return "no moov"
    mdat = first_atom(atoms, b"mdat")
    place = "first" if mdat is None or moov.offset < mdat.offset else "last"
    return f"moov of {moov.size:,} bytes at offset {moov.offset:,} ({place})"


def print_table(title, rows):
    print(f"### {title}")
    print()
    print("| command | wall | fastest | peak RSS | wall / cat | wall / boxwalk | timed |")
    print("|---|---|---|---|---|---|---|")
    for command, row in rows.items():
        print(f"| {command} | {seconds(row['wall'])} | {seconds(row['min'])} | "
              f"{megabytes(row['rss'])} | {ratio(row['wall'], wall_of(rows, 'cat'))} | "
              f"{ratio(row['wall'], wall_of(rows, 'boxwalk'))} | {row['how']} |")
    print()


def print_beside(results, directory, baseline, program="boxwalk"):
    """`program`'s figures beside the baseline's, file by file; on the
    metadata-heavy files and small.m4a also the instructions each executes."""
    before = baseline.with_name(program)
    if not before.exists():
        return
    print(f"### {program} beside {program} before")
    print()
    print(f"| file | {program} | before | before / {program} | instructions | before | "
          f"before / {program} |")
    print("|---|---|---|---|---|---|---|")
    for (name, state), rows in results.items():
        now, then = wall_of(rows, program), wall_of(rows, f"{program} before")
        counts = ["-", "-", "-"]
        if name in HEAVY + ("small.m4a",) and state == "warm":
            path = str(directory / name)
            mine, theirs = instructions([str(BUILD / program), path]), \
                instructions([str(before), path])
            if mine and theirs:
                counts = [f"{mine:,}", f"{theirs:,}", ratio(theirs, mine)]
        print(f"| {name}, {state} | {seconds(now)} | {seconds(then)} | {ratio(then, now)} | "
              f"{' | '.join(counts)} |")
    print()


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
    parser.add_argument("--skip-many", action="store_true",
                        help=f"skip the {MANY_COUNT} small files in one run")
    parser.add_argument("--baseline", nargs="?", const="", metavar="REV|BOXWALK",
                        help="time boxwalk as built at git revision REV (default: the merge "
                             "base with main, or HEAD~ on main), or the binary BOXWALK, "
                             "beside this one")
    memory = os.sysconf("SC_PAGE_SIZE") * os.sysconf("SC_PHYS_PAGES")
    parser.add_argument("--memory-limit", type=float, default=memory / 4 / GIB,
                        help="GiB of writable memory a command may map (default a quarter of "
                             "the machine's memory)")
    args = parser.parse_args()
    global MEMORY_LIMIT
    MEMORY_LIMIT = int(args.memory_limit * GIB)
    wanted = set(args.files.split(","))

    build()
    make_files(args.dir, wanted)
    baseline, baseline_name = (baseline_binary(args.baseline, args.dir)
                               if args.baseline is not None else (None, None))
    print(f"machine: {os.cpu_count()} CPUs, load average {os.getloadavg()[0]:.2f}, "
          f"{memory / GIB:.1f} GiB of memory ({MEMORY_LIMIT / GIB:.1f} GiB allowed to each "
          f"command), transparent huge pages: "
          f"{Path('/sys/kernel/mm/transparent_hugepage/enabled').read_text().strip()}")
    print("wall is the median; wall / boxwalk above 1 means that boxwalk is that many times "
          "faster. warm: the file's data in the page cache; cold: evicted before every run.")
    if baseline is not None:
        print(f"boxwalk: {git('describe', '--always', '--dirty') or 'this tree'}; "
              f"boxwalk before: {baseline_name}")
    print()
    results = {}
    for name, what in FILES:
        if name not in args.files.split(","):
            continue
        path = args.dir / name
        size = path.stat().st_size
        atoms = top_level_atoms(path)
        states = ("warm", "cold") if name in VIDEOS else ("warm",)
        for state in states:
            prepare = None
            note = ""
            if state == "warm":
                warm(path)
            else:
                subprocess.run(evict_argv(path), check=True)
                left = cached_bytes(path)
                if left is None:
                    note = " (eviction unchecked: no fincore)"
                elif left > MIB:
                    note = (f" (the filesystem kept {left:,} bytes in the page cache after "
                            f"POSIX_FADV_DONTNEED: these runs are not cold)")
                prepare = evict_argv(path)
            rows = {}
            for command, argv in commands(path, baseline):
                if args.skip_slow and name in HEAVY and not command.startswith(("boxwalk", "cat")):
                    continue
                if command == "cat" and name.startswith("sparse") and state == "cold":
                    continue  # the holes never come from the disk: the warm figure holds
                rows[command] = measure(argv, args.runs, args.timeout, prepare)
                print(f"  {name}, {state}: {command}: {seconds(rows[command]['wall'])}",
                      file=sys.stderr)
            results[name, state] = rows
            if name.startswith("sparse") or name == "free-2g.mp4":
                subprocess.run(evict_argv(path), check=True)  # cat cached gigabytes of zeros
            print_table(f"{name}, {state}: {what}, {size:,} bytes, {moov_text(atoms)}{note}", rows)

    many = None
    if not args.skip_many:
        files = many_files(args.dir)
        many = {"boxwalk-json": measure([str(BUILD / "boxwalk-json")] + [str(f) for f in files],
                                        args.runs, args.timeout)}
        if baseline is not None and baseline.with_name("boxwalk-json").exists():
            many["boxwalk-json before"] = measure(
                [str(baseline.with_name("boxwalk-json"))] + [str(f) for f in files], args.runs,
                args.timeout)
        if shutil.which("exiftool"):
            many["exiftool -j"] = measure(["exiftool", "-j"] + [str(f) for f in files],
                                          args.runs, args.timeout)
        total = sum(f.stat().st_size for f in files)
        print_table(f"{len(files)} small files in one run: copies of the real fixtures, "
                    f"{total:,} bytes in all", many)

    if baseline is not None:
        print_beside(results, args.dir, baseline)
        print_beside(results, args.dir, baseline, "boxwalk-json")
    print("### Targets")
    print()
    for name in VIDEOS:
        if (name, "warm") not in results:
            continue
        moov = first_atom(top_level_atoms(args.dir / name), b"moov")
        warm_rows, cold_rows = results[name, "warm"], results[name, "cold"]
        rss = max((rows["boxwalk"]["rss"] or 0) for rows in (warm_rows, cold_rows))
        over = "-" if moov is None or rss == 0 else f"{(rss - moov.size) / MIB:.1f} MiB"
        failed = [rows["boxwalk"] for rows in (warm_rows, cold_rows)
                  if rows["boxwalk"]["status"] != 0]
        failure = ""
        if failed:
            status = failed[0]["status"]
            failure = (f"boxwalk failed ({'stopped' if status is None else f'exit {status}'}), "
                       f"these are the figures of its error: ")
        print(f"- {name}: {failure}boxwalk / AtomicParsley -T = "
              f"{ratio(wall_of(warm_rows, 'boxwalk'), wall_of(warm_rows, 'AtomicParsley -T'))} "
              f"warm, {ratio(wall_of(cold_rows, 'boxwalk'), wall_of(cold_rows, 'AtomicParsley -T'))}"
              f" cold (target <= 1); peak RSS - moov size = {over} (moov "
              f"{moov.size if moov else 0:,} bytes)")
    if ("items.mp4", "warm") in results:
        rows = results["items.mp4", "warm"]
        print(f"- items.mp4: boxwalk-json {seconds(wall_of(rows, 'boxwalk-json'))}, boxwalk "
              f"{seconds(wall_of(rows, 'boxwalk'))}: boxwalk-json / boxwalk = "
              f"{ratio(wall_of(rows, 'boxwalk-json'), wall_of(rows, 'boxwalk'))} (target <= 3)")
    if many is not None:
        print(f"- {MANY_COUNT} small files in one run: boxwalk-json "
              f"{seconds(wall_of(many, 'boxwalk-json'))}, exiftool -j "
              f"{seconds(wall_of(many, 'exiftool -j'))}: exiftool -j / boxwalk-json = "
              f"{ratio(wall_of(many, 'exiftool -j'), wall_of(many, 'boxwalk-json'))} "
              f"(target >= 20)")
    for name in HEAVY:
        if (name, "warm") not in results:
            continue
        rows = results[name, "warm"]
        size = (args.dir / name).stat().st_size
        before = ""
        if baseline is not None:
            before = (f"; boxwalk before / boxwalk = "
                      f"{ratio(wall_of(rows, 'boxwalk before'), wall_of(rows, 'boxwalk'))} "
                      f"(target >= {HEAVY_SPEEDUP[name]})")
        copy = ratio(wall_of(rows, 'boxwalk'), wall_of(rows, 'cat of the output'))
        print(f"- {name}: boxwalk {seconds(wall_of(rows, 'boxwalk'))}{before}; boxwalk / cat of "
              f"the output = {copy}{' (target <= 4)' if name == 'leaves.mp4' else ''}; peak RSS "
              f"{megabytes(rows['boxwalk']['rss'])} for a file of {size / MIB:.1f} MiB")
    for name in ("cover-art.m4a", "free-2g.mp4", "video-moov-last.mp4", "sparse-64g.mp4"):
        path = args.dir / name
        if (name, "warm") not in results:
            continue
        reads = read_bytes([str(BUILD / "boxwalk"), str(path)])
        if reads is not None:
            print(f"- {name}: boxwalk reads {reads[1]:,} bytes in {reads[0]} calls")
    for name in HEAVY:
        path = args.dir / name
        reads = read_bytes([str(BUILD / "boxwalk"), str(path)]) if path.exists() else None
        if reads is not None:
            print(f"- {name}: boxwalk reads {reads[1]:,} bytes of {path.stat().st_size:,} in "
                  f"{reads[0]} calls (target: at most its size + 2 MiB, in at most 64 calls)")
    if ("cover-art.m4a", "warm") in results:
        warm_rows, cold_rows = results["cover-art.m4a", "warm"], results["cover-art.m4a", "cold"]
        print(f"- cover-art.m4a: warm {seconds(wall_of(warm_rows, 'boxwalk'))}, cold "
              f"{seconds(wall_of(cold_rows, 'boxwalk'))}; AtomicParsley -T warm "
              f"{seconds(wall_of(warm_rows, 'AtomicParsley -T'))}, cold "
              f"{seconds(wall_of(cold_rows, 'AtomicParsley -T'))} (target: reads <= 256 KiB, "
              f"times at or under AtomicParsley's)")
    if ("free-2g.mp4", "warm") in results:
        row = results["free-2g.mp4", "warm"]["boxwalk"]
        print(f"- free-2g.mp4: boxwalk {seconds(row['wall'])}, peak RSS {megabytes(row['rss'])} "
              f"(target < 50 ms and 16 MiB)")
    if "video-moov-last.mp4" in args.files.split(","):
        piped = measure(["sh", "-c", f"cat {shlex.quote(str(args.dir / 'video-moov-last.mp4'))} | "
                                     f"{shlex.quote(str(BUILD / 'boxwalk'))} /dev/stdin"],
                        3, args.timeout)
        print(f"- video-moov-last.mp4 through a pipe: {seconds(piped['wall'])}, peak RSS "
              f"{megabytes(piped['rss'])} (target < 12 MiB)")
    for name in ("sparse-64g.mp4", "sparse-64g-first.mp4"):
        if name not in args.files.split(","):
            continue
        path = str(args.dir / name)
        free = subprocess.run([str(BUILD / "boxwalk"), path], stdout=subprocess.PIPE).stdout
        limited = subprocess.run(["sh", "-c", f"ulimit -v 262144 && exec {shlex.quote(str(BUILD / 'boxwalk'))} "
                                  f"{shlex.quote(path)}"], stdout=subprocess.PIPE)
        print(f"- {name} under ulimit -v 262144: exit {limited.returncode}, output "
              f"{'the same' if limited.stdout == free else 'DIFFERENT'} as without the limit "
              f"({len(free.splitlines())} lines)")
    if ("small.m4a", "warm") in results:
        small = results["small.m4a", "warm"]
        parsley = wall_of(small, "AtomicParsley -T")
        print(f"- small.m4a: boxwalk {seconds(wall_of(small, 'boxwalk'))} (target < 2 ms, "
              f"and no slower than AtomicParsley -T: {seconds(parsley)})")
    if ("leaves.mp4", "warm") in results:
        calls = write_calls(args.dir / "leaves.mp4")
        if calls is not None:
            out = subprocess.run([str(BUILD / "boxwalk"), str(args.dir / "leaves.mp4")],
                                 stdout=subprocess.PIPE, check=True).stdout
            print(f"- leaves.mp4 output: {len(out):,} bytes in {calls} write calls "
                  f"(target <= {math.ceil(len(out) / 65536)}, one per 64 KiB)")


if __name__ == "__main__":
    main()
