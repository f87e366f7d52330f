#!/usr/bin/env python3
"""brelum next to the copy limit: python3 bench/run.py [WORDS]

Builds brelum (Release), hardened as it ships, once more without
hardening and once more static, as the tarball ships it, and the programs
to compare it with, makes a word list with a fixed seed, and prints one
table of figures, all from this run. With mingw-w64's g++ and wine, the
same for the 64-bit brelum.exe under wine against the sketch built alike.
Needs cmake, g++, gcc, strace and /usr/bin/time (Debian: strace, time).
"""
import os, platform, random, re, shutil, subprocess, sys, tempfile, time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
WORDS = int(sys.argv[1]) if len(sys.argv) > 1 else 5_000_000
RUNS = 7

KNOWN = ["koer", "kass", "elevant", "kaer"]
NEAR = ["kaar", "kaes", "kier", "Koer", "elevand", "koor", "kasn"]  # distance 1
FAR = ["kala", "hunt", "ELEVANT", "sulg", "kaua", "elewamt"]  # distance 2 or more
OTHER = ["kas", "kassid", "elevandid", "a", "x" * 45, "hiir ja kass"]  # other lengths


def sh(cmd, **kw):
    return subprocess.run(cmd, shell=True, check=True, **kw)


def fastest(cmds):
    """The fastest wall time of each command, the commands taken in turn."""
    best = [float("inf")] * len(cmds)
    for _ in range(RUNS):
        for i, c in enumerate(cmds):
            t = time.perf_counter()
            sh(c)
            best[i] = min(best[i], time.perf_counter() - t)
    return best


def peak_kib(feed, prog, rest):
    """Peak resident memory of prog, in KiB: feed | prog rest."""
    with tempfile.NamedTemporaryFile("r") as f:
        sh("%s /usr/bin/time -f %%M -o %s %s %s" % (feed, f.name, prog, rest))
        return int(f.read().split()[-1])


def startup(progs, n=500):
    """Median CPU time of the process itself to start, read empty input and
    exit, the programs taken in turn; the spawning costs are not counted."""
    null = os.open(os.devnull, os.O_RDWR)
    dup = [(os.POSIX_SPAWN_DUP2, null, 0), (os.POSIX_SPAWN_DUP2, null, 1)]
    times = [[] for _ in progs]
    for _ in range(n):
        for i, p in enumerate(progs):
            ru = os.wait4(os.posix_spawn(p, [p], os.environ, file_actions=dup), 0)[2]
            times[i].append(ru.ru_utime + ru.ru_stime)
    os.close(null)
    return [sorted(t)[n // 2] for t in times]


def wine_loader():
    """wine's 64-bit loader, as cmake/windows.cmake finds it, or None."""
    for w in [shutil.which("wine64"), "/usr/lib/wine/wine64"]:
        if w and os.access(w, os.X_OK):
            return w
    return None


def machine():
    cpu = re.search(r"model name\s*:\s*(.*)", open("/proc/cpuinfo").read())
    mem = int(open("/proc/meminfo").readline().split()[1]) >> 20
    return "%s, %d cores, %d GiB, Linux %s" % (
        cpu.group(1) if cpu else platform.machine(), os.cpu_count(), mem, platform.release())


def build(name, flags, src=ROOT):
    """Builds brelum (Release) from src into name, with the given CMake flags."""
    d = os.path.join(ROOT, name)
    sh("cmake -S %s -B %s -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF %s >/dev/null" % (src, d, flags))
    sh("cmake --build %s >/dev/null" % d)
    return os.path.join(d, "brelum")


SKETCH_SRC = os.path.join(ROOT, "build-bench-sketch-src")


def sketch_source():
    """A copy of brelum's source with the sketch in place of main.cpp, so
    that CMake builds the sketch with every flag it gives brelum; made anew
    in one place, and the sketch's build trees afresh, since a tree is
    configured from one source folder alone."""
    src = SKETCH_SRC
    for d in src, "build-bench-sketch", "build-bench-win-sketch":
        shutil.rmtree(os.path.join(ROOT, d), ignore_errors=True)
    shutil.copytree(ROOT, src, ignore=shutil.ignore_patterns(".git", "build*", "out"))
    shutil.copy(os.path.join(ROOT, "bench", "sketch.cpp"), os.path.join(src, "main.cpp"))
    return src


def main():
    tmp = tempfile.mkdtemp(prefix="brelum-bench.")
    brelum, plain, static = [build(name, flags) for name, flags in [
        ("build-bench", ""), ("build-bench-plain", "-DBRELUM_HARDENING=OFF"),
        ("build-bench-static", "-DBRELUM_STATIC=ON")]]
    peer, minimal = os.path.join(tmp, "peer"), os.path.join(tmp, "minimal")
    sh("g++ -O2 -o %s %s/bench/peer.cpp" % (peer, ROOT))
    sh("gcc -O2 -o %s %s/bench/minimal.c" % (minimal, ROOT))
    # The sketch is built as CMake builds brelum for Release, hardened.
    sketch = build("build-bench-sketch", "", sketch_source())

    r = random.Random(2026)
    groups = [KNOWN, NEAR, FAR, OTHER]
    words, out = os.path.join(tmp, "words"), os.path.join(tmp, "out")
    with open(words, "w") as f:
        f.write("".join(r.choice(r.choice(groups)) + "\n" for _ in range(WORDS)))
    sh("%s < %s > %s" % (brelum, words, out))
    sh("%s < %s | cmp -s - %s" % (peer, words, out))  # the peer says the same
    size = os.path.getsize(out)

    sh("%s < %s | cmp -s - %s" % (static, words, out))
    sh("%s < %s | cmp -s - %s" % (sketch, words, out))
    t_brelum, t_cat, t_peer, t_plain, t_static, t_sketch = fastest([
        "%s < %s | cat > /dev/null" % (brelum, words),
        "cat %s | cat > /dev/null" % out,
        "%s < %s | cat > /dev/null" % (peer, words),
        "%s < %s | cat > /dev/null" % (plain, words),
        "%s < %s | cat > /dev/null" % (static, words),
        "%s < %s | cat > /dev/null" % (sketch, words),
    ])
    stats = os.path.join(tmp, "strace")
    sh("strace -c -e trace=write -o %s %s < %s | cat > /dev/null" % (stats, brelum, words))
    writes = int(re.search(r"^\s*[\d.]+\s+[\d.]+\s+\d+\s+(\d+)\s+(?:\d+\s+)?write$",
                           open(stats).read(), re.M).group(1))
    mem_words = peak_kib("", brelum, "< %s > /dev/null" % words)
    mem_line = peak_kib("head -c 1073741824 /dev/zero | tr '\\0' a |", brelum, "> /dev/null")
    s_brelum, s_minimal, s_static = startup([brelum, minimal, static])

    rows = [
        ("throughput", "%.2f M words/s, %.0f MB/s out" % (WORDS / t_brelum / 1e6, size / t_brelum / 1e6), ""),
        ("brelum / cat, wall time", "%.2f (%.3f s / %.3f s)" % (t_brelum / t_cat, t_brelum, t_cat), "<= 2.0"),
        ("hardened / not hardened, wall time", "%.2f (%.1f ns / %.1f ns a word)" % (
            t_brelum / t_plain, t_brelum / WORDS * 1e9, t_plain / WORDS * 1e9), "<= 1.05"),
        ("static / dynamic, wall time", "%.2f (%.1f ns / %.1f ns a word)" % (
            t_static / t_brelum, t_static / WORDS * 1e9, t_brelum / WORDS * 1e9), "<= 1.10"),
        ("brelum / sketch, wall time", "%.2f (%.3f s / %.3f s)" % (
            t_brelum / t_sketch, t_brelum, t_sketch), "<= 1.10"),
        ("peer / brelum, wall time", "%.1f (%.3f s)" % (t_peer / t_brelum, t_peer), "many times"),
        ("bytes per write(2)", "%.0f KiB (%d writes)" % (size / writes / 1024, writes), ">= 16 KiB"),
        ("peak RSS, %d words" % WORDS, "%d KiB" % mem_words, "<= 2048 KiB"),
        ("peak RSS, 1 GiB line", "%d KiB" % mem_line, "<= 2048 KiB"),
        ("start-up / minimal C, CPU", "%.2f (%.0f us / %.0f us)" % (
            s_brelum / s_minimal, s_brelum * 1e6, s_minimal * 1e6), "<= 1.25"),
        ("static start-up / dynamic, CPU", "%.2f (%.0f us / %.0f us)" % (
            s_static / s_brelum, s_static * 1e6, s_brelum * 1e6), "<= 1.0"),
    ]
    rows.append(windows(tmp, words, out))
    print("%d words (%d bytes in, %d out), fastest of %d runs; %s\n" % (
        WORDS, os.path.getsize(words), size, RUNS, machine()))
    print("| measure | brelum | target |\n|---|---|---|")
    for row in rows:
        print("| %s | %s | %s |" % row)
    sh("rm -rf %s" % tmp)


def windows(tmp, words, out):
    """The row of brelum.exe against the sketch, each built with mingw-w64
    as CMake builds brelum.exe, from a file to a file under wine; or a row
    that says why it was not measured."""
    wine, gxx = wine_loader(), shutil.which("x86_64-w64-mingw32-g++")
    row = "brelum.exe / sketch.exe under wine, wall time"
    if not wine or not gxx:
        return (row, "not measured: needs g++-mingw-w64-x86-64, wine and wine64", "<= 1.10")
    d = os.path.join(ROOT, "build-bench-win")
    sh("cmake -S %s -B %s -DCMAKE_TOOLCHAIN_FILE=%s/cmake/windows.cmake "
       "-DBRELUM_TRIPLE=x86_64-w64-mingw32 -DBUILD_TESTING=OFF >/dev/null" % (ROOT, d, ROOT))
    sh("cmake --build %s >/dev/null" % d)
    exe = os.path.join(d, "brelum.exe")
    s = os.path.join(ROOT, "build-bench-win-sketch")
    sh("cmake -S %s -B %s -DCMAKE_TOOLCHAIN_FILE=%s/cmake/windows.cmake "
       "-DBRELUM_TRIPLE=x86_64-w64-mingw32 -DBUILD_TESTING=OFF >/dev/null" % (SKETCH_SRC, s, ROOT))
    sh("cmake --build %s >/dev/null" % s)
    sketch = os.path.join(s, "brelum.exe")
    os.environ.update(WINEPREFIX=os.path.join(tmp, "wine"), WINEDEBUG="-all")
    # One wine server for all the runs, made with the prefix before them.
    os.makedirs(os.environ["WINEPREFIX"])
    sh("wineserver -p </dev/null >/dev/null 2>&1 && %s wineboot --init </dev/null >/dev/null 2>&1" % wine)
    crlf = os.path.join(tmp, "crlf")
    with open(out, "rb") as f, open(crlf, "wb") as g:
        g.write(f.read().replace(b"\n", b"\r\n"))
    got = os.path.join(tmp, "got")
    for prog in exe, sketch:  # both write what brelum writes, in CR LF
        sh("%s %s < %s > %s && cmp -s %s %s" % (wine, prog, words, got, got, crlf))
    t_exe, t_sketch = fastest(["%s %s < %s > %s" % (wine, p, words, got) for p in (exe, sketch)])
    sh("wineserver -k || true")
    return (row, "%.2f (%.3f s / %.3f s)" % (t_exe / t_sketch, t_exe, t_sketch), "<= 1.10")


main()
