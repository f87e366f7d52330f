#!/usr/bin/env python3
"""Whole dialogues with the built program: dialoog.py [--crlf] GROUP CMD...

GROUP is sessions, pipes, terminal, descriptors, faults or console. --crlf:
the program is a Windows build, whose line ends are CR LF on pipes and files.
"""
import fcntl, os, pty, re, select, shutil, signal, subprocess, sys, tempfile, termios, time
from concurrent.futures import ThreadPoolExecutor

WIN = "--crlf" in sys.argv

PROMPT = b"Sisesta s\xf5na: "
ON = b"See s\xf5na on olemas!\n"
POLE = b"Sarnast s\xf5na pole\n"


def brelum(d, loetelu=None):
    return b"Brelum on %d\n" % d + (b"" if loetelu is None else loetelu + b"\n")


def dialogue(*verdicts):
    return PROMPT + b"".join(v + PROMPT for v in verdicts)


# Input, and the verdicts in order; every run ends with status 0.
SESSIONS = [
    (b"koer\n\n", [ON]),
    (b"kass\n\n", [ON]),
    (b"kaer\n\n", [ON]),  # koer, at 1, came first: still no listing
    (b"kaar\n\n", [brelum(1, b"kaer ")]),
    (b"kaes\n\n", [brelum(1, b"kass kaer ")]),
    (b"kier\n\n", [brelum(1, b"koer kaer ")]),
    (b"Koer\n\n", [brelum(1, b"koer ")]),
    (b"elevand\n\n", [brelum(1, b"elevant ")]),
    (b"kala\nhunt\nELEVANT\n\n", [brelum(2), brelum(4), brelum(7)]),
    (b"kas\nkassid\n koer\nkoer \n\n", [POLE] * 4),
    (b"kaar\nkoer\nkaar\n\n", [brelum(1, b"kaer "), ON, brelum(1, b"kaer ")]),
    (b"x" * 50 + b"\nkoer\n\n", [POLE, ON]),
    (b"koer" + b"x" * 36 + b"\n\n", [POLE]),  # 40 bytes: one too many
    (b"x" * 39 + b"\r\n\n", [POLE]),
    (b"a" * (5 << 20) + b"\nkaer\n\n", [POLE, ON]),
    (b"koer\r\nkaar\r\n\r\n", [ON, brelum(1, b"kaer ")]),
    (b"koer\r\r\n\n", [POLE]),  # only the CR before the LF is a line end
    (b"koer\r\n\rkoer\n\n", [ON, POLE]),
    (b"koer\rx\n\n", [POLE]),
    (b"koer\r", [POLE]),  # no LF follows: the CR is part of the word
    (b"koer", [ON]),  # a last line without a line end
    (b"koer\nkaar", [ON, brelum(1, b"kaer ")]),
    (b"", []),
    (b"\n", []),
    (b"\r\n", []),
    (b"\n\nkoer\n", []),  # nothing is read after the empty line
    (b"\0koer\nkoer\n", []),  # a NUL as the first byte: an empty line
    (b"koer\0xyz\n\n", [ON]),  # a NUL ends the word
    (b"kaa\0" + b"x" * 60 + b"\nkaer\n\n", [POLE, ON]),
    (b"k\xf5er\n\n", [brelum(1, b"koer kaer ")]),  # a single-byte õ
]

# Redirected Windows text ends at a Ctrl+Z byte; elsewhere it is a byte like
# any other. Input, then the verdicts on Linux and on Windows.
CTRL_Z = [
    (b"koer\r\n\x1a", [ON, POLE], [ON]),
    (b"koe\x1a\n\n", [brelum(1, b"koer ")], [POLE]),
    (b"ka\x1aer\nkoer\n\n", [POLE, ON], [POLE]),
    (b"koer\n\x1akaar\n\n", [ON, POLE], [ON]),
    (b"\x1a\nkoer\n", [POLE, ON], []),
]


def run(cmd, data, **kw):
    return subprocess.run(cmd, input=data, capture_output=True, timeout=120, **kw)


def run_file(cmd, data):
    """Runs with standard input read from a regular file."""
    with tempfile.TemporaryFile() as f:
        f.write(data)
        f.seek(0)
        return subprocess.run(cmd, stdin=f, capture_output=True, timeout=120)


def sessions(cmd, nl):
    table = SESSIONS + [(data, win if WIN else posix) for data, posix, win in CTRL_Z]
    cases = [(how, s) for s in table for how in (run, run_file)]
    with ThreadPoolExecutor(4) as pool:  # wine starts slowly
        runs = list(pool.map(lambda c: c[0](cmd, c[1][0]), cases))
    for (how, (data, verdicts)), r in zip(cases, runs):
        yield (how.__name__, data[:40]), (r.stdout, r.stderr, r.returncode), (
            nl(dialogue(*verdicts)), b"", 0)
    r = run(cmd + ["-h", "--version", "koer"], b"kaar\n")
    yield "arguments", r.stdout, nl(dialogue(brelum(1, b"kaer ")))


def expect(out, want=None, seconds=10):
    """Reads the program's output until what is wanted has come, or time is
    up, or (with nothing wanted) the output ends."""
    got, end = b"", time.monotonic() + seconds
    while (want is None or want not in got) and time.monotonic() < end:
        if select.select([out], [], [], 0.05)[0]:
            try:
                b = os.read(out, 65536)
            except OSError:  # a terminal whose other side has closed
                b = b""
            if not b:
                break
            got += b
    return got


def quiet(out, seconds=0.3):
    return not select.select([out], [], [], seconds)[0]


def pipes(cmd, nl):
    """A program that drives brelum turn by turn, never closing its input."""
    p = subprocess.Popen(cmd, stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    out, w = p.stdout.fileno(), p.stdin.fileno()
    yield "first prompt", expect(out, nl(PROMPT)), nl(PROMPT)
    os.write(w, b"koer\r")
    yield "a CR alone is no line end", quiet(out), True
    os.write(w, b"\n")
    yield "its LF comes later", expect(out, nl(ON + PROMPT)), nl(ON + PROMPT)
    long_line = b"koer" * 50000 + b"\n"  # more than an input buffer
    p.stdin.write(long_line)
    p.stdin.flush()
    yield "long line", expect(out, nl(POLE + PROMPT)), nl(POLE + PROMPT)
    os.write(w, b"kaar\nkala\n")
    want = nl(brelum(1, b"kaer ") + PROMPT + brelum(2) + PROMPT)
    yield "two words at once", expect(out, want), want
    os.write(w, b"\n")
    yield "empty line", (quiet(out, 5) or os.read(out, 1), p.wait(10)), (b"", 0)


# The first of LC_ALL, LC_CTYPE and LANG that is set names the terminal's
# encoding, whether or not that locale is installed here; and whether õ is
# written as UTF-8 (C3 B5) or as the one byte F5.
LOCALES = [
    ({"LC_ALL": "C.UTF-8"}, True),
    ({"LC_ALL": "C"}, False),
    ({"LANG": "C.UTF-8"}, True),
    ({"LC_ALL": "et_EE.UTF-8"}, True),
    ({"LC_CTYPE": "xx_XX.utf8@euro"}, True),
    ({"LANG": "et_EE.Utf-8"}, True),
    ({"LC_ALL": "", "LANG": "et_EE.UTF-8"}, True),  # empty is not set
    ({"LC_ALL": "et_EE.ISO-8859-15", "LANG": "et_EE.UTF-8"}, False),
    ({"LC_ALL": "et_EE", "LANG": "C.UTF-8"}, False),
    ({"LC_ALL": "xx_XX.UTF-16"}, False),
]


def terminal(cmd, nl):
    """brelum at a terminal: õ as the terminal's locale spells it, and the
    shell's next prompt on a line of its own when the input ends there."""
    env = {k: v for k, v in os.environ.items() if not k.startswith("LC_") and k != "LANG"}
    cases = [(loc, utf8, True, b"\x04") for loc, utf8 in LOCALES] + [
        ({"LC_ALL": "C.UTF-8"}, True, True, b"\n"),  # the echo ends the line
        ({"LC_ALL": "C.UTF-8"}, False, False, b"\x04"),  # brelum | tee log
        ({"LC_ALL": "C.UTF-8"}, False, False, b"\n"),
    ]
    for loc, utf8, stdout_tty, last in cases:
        name = "%r, stdout %s, last key %r" % (loc, "tty" if stdout_tty else "pipe", last)
        spell = (lambda b: b.replace(b"\xf5", b"\xc3\xb5")) if utf8 else (lambda b: b)
        tty = (lambda b: b.replace(b"\n", b"\r\n")) if stdout_tty else (lambda b: b)
        master, slave = pty.openpty()
        out, w = (master, slave) if stdout_tty else os.pipe()
        p = subprocess.Popen(cmd, stdin=slave, stdout=w, env=dict(env, **loc))
        os.close(slave)
        if not stdout_tty:
            os.close(w)
        prompt, verdict = spell(PROMPT), tty(spell(ON))
        got = expect(out, prompt)
        os.write(master, b"koer\n")
        got += expect(out, verdict + prompt)
        os.write(master, last)
        got += expect(out)
        echo = b"koer\r\n" if stdout_tty else b""
        end = b"\r\n" if stdout_tty else b""  # the echoed Enter, or brelum's
        yield name, (got, p.wait(10)), (prompt + echo + verdict + prompt + end, 0)
        os.close(master)
        if not stdout_tty:
            os.close(out)


def console(cmd, nl):
    """A Windows console, as wine makes one of a terminal."""
    master, slave = pty.openpty()
    p = subprocess.Popen(cmd, stdin=slave, stdout=slave, stderr=slave,
                         env=dict(os.environ, LC_ALL="C.UTF-8"))
    os.close(slave)
    yield "prompt", b"s\xc3\xb5na:" in expect(master, b"s\xc3\xb5na:", 20), True
    # wine's console drops keys typed before it has the terminal in raw mode,
    # and now and then just after: type the word again if no answer comes.
    end = time.monotonic() + 10
    while termios.tcgetattr(master)[3] & termios.ICANON and time.monotonic() < end:
        time.sleep(0.05)
    for _ in range(3):
        os.write(master, b"koer\r")
        answered = b"olemas!" in expect(master, b"olemas!", 4)
        if answered:
            break
    yield "verdict", answered, True
    # The console's code page (437) lacks õ: kõer must not become koer. It has
    # ö, which must arrive as one byte: köer is one position from koer.
    for typed in ["k\u00f5er", "k\u00f6er"]:
        os.write(master, typed.encode() + b"\r")
        got = expect(master, b"Sisesta", 10)  # the echo, the answer, the prompt
        yield typed, (b"olemas" in got, b"koer kaer" in got), (False, True)
    os.write(master, b"\x1a\r")  # Ctrl+Z, Enter: the end of the input
    yield "Ctrl+Z", p.wait(10), 0
    os.close(master)


def feed(w, data):
    """Writes to the program's input, which it may have closed by failing."""
    try:
        os.write(w, data)
    except BrokenPipeError:
        pass


def slow_reader(p, out, each):
    """Reads all of the program's output a little at a time, calling each(p)
    after every read, while the program writes into the pipe."""
    got = b""
    while select.select([out], [], [], 20)[0]:
        b = os.read(out, 4096)
        if not b:
            break
        got += b
        each(p)
    return got, p.wait(10)


def descriptors(cmd, nl):
    """Standard streams as parents hand them down: non-blocking, stopped and
    continued, and input from a file answered in large writes."""
    r, w = os.pipe()
    os.set_blocking(r, False)
    p = subprocess.Popen(cmd, stdin=r, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    os.close(r)
    out = p.stdout.fileno()
    yield "non-blocking input: prompt", expect(out, PROMPT), PROMPT
    yield "non-blocking input: waits", quiet(out, 0.5) and p.poll() is None, True
    feed(w, b"koer\n")
    yield "non-blocking input: verdict", expect(out, ON + PROMPT), ON + PROMPT
    feed(w, b"\n")
    os.close(w)
    yield "non-blocking input: exit", (p.wait(10), p.stderr.read()), (0, b"")

    words = b"kaar\nkoer\nhunt\n" * 50000
    want = dialogue(*[brelum(1, b"kaer "), ON, brelum(4)] * 50000)
    with tempfile.TemporaryFile() as f:
        f.write(words)
        for name, nonblocking, each in [
            ("non-blocking output", True, lambda p: time.sleep(0.0005)),
            ("stopped and continued", False, lambda p: (
                p.send_signal(signal.SIGSTOP), time.sleep(0.0005), p.send_signal(signal.SIGCONT))),
        ]:
            f.seek(0)
            r, w = os.pipe()
            os.set_blocking(w, not nonblocking)
            p = subprocess.Popen(cmd, stdin=f, stdout=w)
            os.close(w)
            got, status = slow_reader(p, r, each)
            os.close(r)
            yield name, (len(got), got == want, status), (len(want), True, 0)

    strace = shutil.which("strace")
    # LeakSanitizer cannot work under ptrace; a sanitized build checks leaks
    # in the other runs.
    asan = os.environ.get("ASAN_OPTIONS", "")
    traced = dict(os.environ, ASAN_OPTIONS=asan + (":" if asan else "") + "detect_leaks=0")
    yield "strace is there to count writes", strace is not None, True
    # Long lines with short answers: a flush before every read would show.
    for line, verdict, n in [(b"koer\n", ON, 100000), (b"x" * 1000 + b"\n", POLE, 2000)]:
        with tempfile.TemporaryFile() as f, tempfile.NamedTemporaryFile() as log:
            f.write(line * n)
            f.seek(0)
            subprocess.run([strace, "-e", "trace=write", "-o", log.name] + cmd,
                           stdin=f, stdout=subprocess.DEVNULL, check=True, timeout=60,
                           env=traced)
            writes = len(re.findall(rb"^write\(1,", log.read(), re.M))
        size = len(dialogue(*[verdict] * n))
        yield "%d bytes of answers in %d writes" % (size, writes), writes <= size // 16384 + 1, True


def faults(cmd, nl):
    words = b"kaar\nkoer\nhunt\n" * 200000
    with open("/dev/full", "wb") as full:
        r = subprocess.run(cmd, input=words, stdout=full, stderr=subprocess.PIPE, timeout=60)
    yield "/dev/full", (r.returncode, r.stderr.count(b"\n"), b"stdout" in r.stderr), (1, 1, True)
    # An error must stop the reading too, however much input is left.
    yes = subprocess.Popen(["yes", "koer"], stdout=subprocess.PIPE)
    with open("/dev/full", "wb") as full:
        try:
            status = subprocess.run(cmd, stdin=yes.stdout, stdout=full,
                                    stderr=subprocess.DEVNULL, timeout=30).returncode
        except subprocess.TimeoutExpired:
            status = "still reading after 30 s"
    yes.kill()
    yes.wait()
    yes.stdout.close()
    yield "endless input to /dev/full", status, 1
    r = subprocess.run(cmd, stdin=subprocess.DEVNULL, capture_output=True,
                       preexec_fn=lambda: os.close(0), timeout=60)
    yield "closed input", (r.returncode, r.stderr.count(b"\n"), b"stdin" in r.stderr), (1, 1, True)
    if not WIN:  # wine opens its own files on a closed standard output
        r = subprocess.run(cmd, capture_output=True, timeout=60, preexec_fn=lambda: os.close(1))
        yield "closed output", (r.returncode, r.stderr.count(b"\n")), (1, 1)
    p = subprocess.Popen(cmd, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                         stderr=subprocess.PIPE)
    expect(p.stdout.fileno(), nl(PROMPT))
    p.stdout.close()
    try:
        p.stdin.write(words)
        p.stdin.close()
    except BrokenPipeError:
        pass
    # As SIGPIPE ends it on POSIX, a Windows build ends quietly with status 1.
    status, err = p.wait(10), p.stderr.read()
    yield "closed output pipe", status in ((1,) if WIN else (1, -signal.SIGPIPE)), True
    yield "closed output pipe: quiet", err if WIN else b"", b""


def main():
    crlf = sys.argv[1] == "--crlf"
    group, cmd = sys.argv[1 + crlf], sys.argv[2 + crlf:]
    nl = (lambda b: b.replace(b"\n", b"\r\n")) if crlf else (lambda b: b)
    passed = failed = 0
    for name, got, want in globals()[group](cmd, nl):
        if got == want:
            passed += 1
        else:
            failed += 1
            print("FAIL %r\n  got  %r\n  want %r" % (name, got, want))
    print("%d passed, %d failed" % (passed, failed))
    sys.exit(failed > 0)


main()
