#!/usr/bin/env python3
"""Whole dialogues with the built program: dialoog.py [--crlf] GROUP CMD...

GROUP is sessions, pipes, terminal or faults. --crlf: the program is a
Windows build, whose line ends are CR LF on pipes and files.
"""
import os, pty, select, signal, subprocess, sys, termios, time
from concurrent.futures import ThreadPoolExecutor

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


def run(cmd, data, **kw):
    return subprocess.run(cmd, input=data, capture_output=True, timeout=120, **kw)


def sessions(cmd, nl):
    with ThreadPoolExecutor(4) as pool:  # wine starts slowly
        runs = list(pool.map(lambda s: run(cmd, s[0]), SESSIONS))
    for (data, verdicts), r in zip(SESSIONS, runs):
        yield data[:40], (r.stdout, r.stderr, r.returncode), (
            nl(dialogue(*verdicts)), b"", 0)
    r = run(cmd + ["-h", "--version", "koer"], b"kaar\n")
    yield "arguments", r.stdout, nl(dialogue(brelum(1, b"kaer ")))


def expect(out, want, seconds=10):
    """Reads the program's output until what is wanted has come, or time is up."""
    got, end = b"", time.monotonic() + seconds
    while want not in got and time.monotonic() < end:
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


def terminal(cmd, nl):
    """The prompt at a terminal: õ as the terminal's locale spells it."""
    utf8 = b"Sisesta s\xc3\xb5na: "
    for loc, stdout_tty, prompt, verdict in [
        ("C.UTF-8", True, utf8, b"See s\xc3\xb5na on olemas!\r\n"),
        ("C", True, PROMPT, ON.replace(b"\n", b"\r\n")),
        ("C.UTF-8", False, PROMPT, ON),  # brelum | tee log
    ]:
        name = "%s, stdout %s" % (loc, "tty" if stdout_tty else "pipe")
        master, slave = pty.openpty()
        out, w = (master, slave) if stdout_tty else os.pipe()
        p = subprocess.Popen(cmd, stdin=slave, stdout=w, env=dict(os.environ, LC_ALL=loc))
        os.close(slave)
        if not stdout_tty:
            os.close(w)
        yield name + ": prompt", expect(out, prompt), prompt
        os.write(master, b"koer\n")
        if stdout_tty:
            verdict = b"koer\r\n" + verdict  # the terminal's echo comes first
        yield name + ": verdict", expect(out, verdict + prompt), verdict + prompt
        os.write(master, b"\n")
        yield name + ": exit", p.wait(10), 0
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
    os.write(master, b"\x1a\r")  # Ctrl+Z, Enter: the end of the input
    yield "Ctrl+Z", p.wait(10), 0
    os.close(master)


def faults(cmd, nl):
    words = b"kaar\nkoer\nhunt\n" * 200000
    with open("/dev/full", "wb") as full:
        r = subprocess.run(cmd, input=words, stdout=full, stderr=subprocess.PIPE, timeout=60)
    yield "/dev/full", (r.returncode, r.stderr.count(b"\n"), b"stdout" in r.stderr), (1, 1, True)
    r = subprocess.run(cmd, stdin=subprocess.DEVNULL, capture_output=True,
                       preexec_fn=lambda: os.close(0), timeout=60)
    yield "closed input", (r.returncode, r.stderr.count(b"\n"), b"stdin" in r.stderr), (1, 1, True)
    r = subprocess.run(cmd, capture_output=True, timeout=60, preexec_fn=lambda: os.close(1))
    yield "closed output", (r.returncode, r.stderr.count(b"\n")), (1, 1)
    p = subprocess.Popen(cmd, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                         stderr=subprocess.PIPE)
    expect(p.stdout.fileno(), PROMPT)
    p.stdout.close()
    try:
        p.stdin.write(words)
        p.stdin.close()
    except BrokenPipeError:
        pass
    yield "closed output pipe", p.wait(10) in (1, -signal.SIGPIPE), True


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
