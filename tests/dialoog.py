#!/usr/bin/env python3
"""Whole dialogues with the built program: dialoog.py [--crlf] GROUP CMD...

GROUP is sessions, pipes, terminal, descriptors, faults or console. --crlf:
the program is a Windows build, whose line ends are CR LF on pipes and files.
"""
import fcntl, os, pty, re, select, shlex, shutil, signal, subprocess, sys, tempfile, termios, time
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
    # A UTF-8 byte-order mark that starts the input is not typed text;
    # anywhere else, and half of one, are bytes like any other.
    (b"\xef\xbb\xbfkoer\n\n", [ON]),
    (b"\xef\xbb\xbf\r\nkoer\n", []),
    (b"\xef\xbb\xbf", []),
    (b"\xef\xbb\xbfkoer\0" + b"x" * 40 + b"\n\n", [ON]),  # a longer line than is kept
    (b"\xef\xbb\xbf\xef\xbb\xbfkoer\n\n", [brelum(7)]),
    (b"\xef\xbbkoer\n\n", [POLE]),
    (b"\xefkoer\n\n", [POLE]),
    (b"\xef\xbb\xbekoer\n\n", [brelum(7)]),  # all three bytes make the mark
    (b"\xef", [POLE]),  # half a mark, then the end: a word
    (b"\xef\xbb", [POLE]),
    (b"koer\n\xef\xbb\xbfkoer\n\n", [ON, brelum(7)]),
    (b"\xff\n\xfeA\n\n", [POLE, POLE]),
]

# UTF-16 text is refused after the first prompt.
UTF16 = [b"\xff\xfek\0o\0e\0r\0\n\0\n\0", b"\xfe\xff\0k\0o\0e\0r\0\n", b"\xff\xfe",
         b"\xff\xfe" + b"x\0" * 30 + b"\n\0"]
UTF16_ERR = b"brelum: stdin: the input is UTF-16 text; save the words as ANSI or UTF-8 text\n"

# Redirected Windows text ends at a Ctrl+Z byte; elsewhere it is a byte like
# any other. Input, then the verdicts on Linux and on Windows.
CTRL_Z = [
    (b"koer\r\n\x1a", [ON, POLE], [ON]),
    (b"koe\x1a\n\n", [brelum(1, b"koer ")], [POLE]),
    (b"ka\x1aer\nkoer\n\n", [POLE, ON], [POLE]),
    (b"koer\n\x1akaar\n\n", [ON, POLE], [ON]),
    (b"\x1a\nkoer\n", [POLE, ON], []),
    (b"koer\n\x1a" + b"x" * 70000 + b"\nkaar\n\n", [ON, POLE, brelum(1, b"kaer ")], [ON]),  # past 64 KiB
    (b"\xef\x1a" + b"x" * 70000 + b"\nkoer\n\n", [POLE, ON], [POLE]),  # in half a mark
]


# Now and then, with many programs starting at once, wine fails to start the
# program it was given and exits with 1: it falls back to its start.exe,
# which says so, or its client loses the server, or it says nothing at all
# (WINEDEBUG=-all hushes its errors), where brelum, its output read, always
# writes its prompt. Such a run is started once more.
WINE_FAILED = (b"Application could not be started, or no application associated",
               b"wine client error:")


def started(start):
    r = start()
    if WIN and r.returncode == 1 and (r.stdout.startswith(WINE_FAILED[0]) or
                                      r.stderr.startswith(WINE_FAILED[1]) or
                                      r.stdout + r.stderr == b""):
        print("wine could not start the program; starting it again")
        r = start()
    return r


def run(cmd, data, **kw):
    return started(lambda: subprocess.run(cmd, input=data, capture_output=True, timeout=120, **kw))


def run_file(cmd, data):
    """Runs with standard input read from a regular file."""
    def start():
        with tempfile.TemporaryFile() as f:
            f.write(data)
            f.seek(0)
            return subprocess.run(cmd, stdin=f, capture_output=True, timeout=120)
    return started(start)


def sessions(cmd, nl):
    table = SESSIONS + [(data, win if WIN else posix) for data, posix, win in CTRL_Z]
    want = lambda verdicts: (nl(dialogue(*verdicts)), b"", 0)
    table = [(data, want(verdicts)) for data, verdicts in table]
    table += [(data, (nl(PROMPT), nl(UTF16_ERR), 1)) for data in UTF16]
    cases = [(how, s) for s in table for how in (run, run_file)]
    with ThreadPoolExecutor(4) as pool:  # wine starts slowly
        runs = list(pool.map(lambda c: c[0](cmd, c[1][0]), cases))
    for (how, (data, wanted)), r in zip(cases, runs):
        yield (how.__name__, data[:40]), (r.stdout, r.stderr, r.returncode), wanted
    r = run(cmd + ["-h", "--version", "koer"], b"kaar\n")
    yield "arguments", r.stdout, nl(dialogue(brelum(1, b"kaer ")))
    if WIN:  # as the Windows README gives it, in wine's cmd.exe
        with tempfile.TemporaryDirectory() as d:
            with open(os.path.join(d, "words.txt"), "wb") as f:
                f.write(b"koer\r\nkaes\r\n\r\n")
            exe = "Z:" + os.path.abspath(cmd[-1]).replace("/", "\\")
            r = subprocess.run(cmd[:-1] + ["cmd", "/c", "%s < words.txt > answers.txt" % exe],
                               cwd=d, capture_output=True, timeout=120)
            with open(os.path.join(d, "answers.txt"), "rb") as f:
                yield "cmd.exe: brelum < words.txt > answers.txt", (f.read(), r.returncode), (
                    nl(dialogue(ON, brelum(1, b"kass kaer "))), 0)


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


def preload():
    """The test shim to preload into brelum, or None, said once, where the
    build cannot take one."""
    shim = os.environ.get("BRELUM_SHIM")
    if not shim:
        print("SKIP the checks with a preloaded shim: %s" % os.environ.get(
            "BRELUM_NO_SHIM", "BRELUM_SHIM is not set"), flush=True)
    return shim


def wait(p, seconds=10):
    """The exit status, or None for a program that is still running."""
    try:
        return p.wait(seconds)
    except subprocess.TimeoutExpired:
        p.kill()
        p.wait()
        return None


def quiet(out, seconds=0.3):
    return not select.select([out], [], [], seconds)[0]


# The start of the input in parts, written one after another: a mark split
# across writes, or alone with the words after it, is still a mark.
SPLITS = [
    (b"\xef\xbb\xbfkoer\nkaar\n\n", [1, 2, 3, 4] + list(range(5, 15)),
     dialogue(ON, brelum(1, b"kaer ")), b"", 0),
    (b"\xef\xbb\xbfkoer\n\n", [1], dialogue(ON), b"", 0),
    (b"\xef\xbb\xbfkoer\n\n", [2], dialogue(ON), b"", 0),
    (b"\xef\xbb\xbfkoer\n\n", [3], dialogue(ON), b"", 0),
    (b"\xef\xbbkoer\n\n", [1], dialogue(POLE), b"", 0),
    (b"\xfe\xff\0k\0\n", [1], PROMPT, UTF16_ERR, 1),
]


def pipes(cmd, nl):
    """A program that drives brelum turn by turn, never closing its input."""
    for data, cuts, want, err, status in SPLITS:
        p = subprocess.Popen(cmd, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE)
        for a, b in zip([0] + cuts, cuts + [len(data)]):
            time.sleep(0.2)
            feed(p.stdin.fileno(), data[a:b])
        p.stdin.close()
        yield "%r cut after %r" % (data, cuts), (p.stdout.read(), p.stderr.read(), wait(p)), (
            nl(want), nl(err), status)
    p = subprocess.Popen(cmd, stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    out, w = p.stdout.fileno(), p.stdin.fileno()
    yield "first prompt", expect(out, nl(PROMPT)), nl(PROMPT)
    os.write(w, b"koer\r")  # were the CR a line end, koer would be answered
    time.sleep(0.2)
    os.write(w, b"x\n")
    yield "a CR alone is no line end", expect(out, nl(POLE + PROMPT)), nl(POLE + PROMPT)
    os.write(w, b"koer\r")
    time.sleep(0.2)
    os.write(w, b"\n")
    yield "a CR whose LF comes later", expect(out, nl(ON + PROMPT)), nl(ON + PROMPT)
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
# written as UTF-8 (C3 B5) or as the one byte F5. None set, C or POSIX:
# nobody chose one, and the terminal gets UTF-8.
LOCALES = [
    ({}, True),
    ({"LC_ALL": "C"}, True),
    ({"LANG": "POSIX"}, True),
    ({"LC_ALL": "C", "LANG": "C.UTF-8"}, True),
    ({"LC_ALL": "xx_XX.ISO-8859-1"}, False),  # not installed
    ({"LC_ALL": "C.UTF-8"}, True),
    ({"LANG": "C.UTF-8"}, True),
    ({"LC_ALL": "et_EE.UTF-8"}, True),
    ({"LC_CTYPE": "xx_XX.utf8@euro"}, True),
    ({"LANG": "et_EE.Utf-8"}, True),
    ({"LC_ALL": "", "LANG": "et_EE.UTF-8"}, True),  # empty is not set
    ({"LC_ALL": "et_EE.ISO-8859-15", "LANG": "et_EE.UTF-8"}, False),
    ({"LC_ALL": "et_EE", "LANG": "C.UTF-8"}, False),
    ({"LC_ALL": "xx_XX.UTF-16"}, False),
    ({"LC_ALL": "xx_XX.utf-8x"}, False),
    ({"LC_ALL": "xx_XX.utf8x"}, False),
    ({"LC_ALL": "et_EE.utf7"}, False),  # four letters, and not utf8
    ({"LC_ALL": "ja_JP.eucJP"}, False),  # five, and not utf-8
    ({"LC_ALL": "C.ISO-8859-1"}, False),  # neither C nor POSIX, though before POSIX
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
        yield name, (got, wait(p)), (prompt + echo + verdict + prompt + end, 0)
        os.close(master)
        if not stdout_tty:
            os.close(out)

    # A word ended by Ctrl+D, and an error after the prompt, start their line
    # at a terminal; a pipe gets the bytes unchanged. Two Ctrl+D end brelum.
    tty = lambda b: b.replace(b"\n", b"\r\n")
    utf8 = dict(env, LC_ALL="C.UTF-8")
    spell = lambda b: b.replace(b"\xf5", b"\xc3\xb5")
    for stdout_tty in True, False:
        master, slave = pty.openpty()
        out, w = (master, slave) if stdout_tty else os.pipe()
        p = subprocess.Popen(cmd, stdin=slave, stdout=w, env=utf8)
        os.close(slave)
        if not stdout_tty:
            os.close(w)
        got = expect(out, spell(PROMPT))
        os.write(master, b"koe\x04")
        time.sleep(0.3)
        os.write(master, b"\x04")
        got += expect(out)
        want = (tty(spell(PROMPT + b"koe\n" + POLE + PROMPT + b"\n")) if stdout_tty
                else PROMPT + POLE + PROMPT)
        yield "koe, Ctrl+D, Ctrl+D, stdout %s" % ("tty" if stdout_tty else "pipe"), (
            got, wait(p)), (want, 0)
        os.close(master)
        if not stdout_tty:
            os.close(out)
    # A last word without a line end from a pipe: no echo to make up for.
    master, slave = pty.openpty()
    p = subprocess.Popen(cmd, stdin=subprocess.PIPE, stdout=slave, env=utf8)
    os.close(slave)
    p.stdin.write(b"koer")
    p.stdin.close()
    yield "koer without a line end, from a pipe", (expect(master, seconds=5), wait(p)), (
        tty(spell(PROMPT + ON + PROMPT + b"\n")), 0)
    os.close(master)
    # Half a mark, then Ctrl+D twice: a word, then the end.
    master, slave = pty.openpty()
    p = subprocess.Popen(cmd, stdin=slave, stdout=slave, env=utf8)
    os.close(slave)
    got = expect(master, spell(PROMPT))
    os.write(master, b"\xef\x04")
    time.sleep(0.3)
    os.write(master, b"\x04")
    got += expect(master, seconds=5)
    yield "EF, Ctrl+D, Ctrl+D", (got, wait(p)), (tty(spell(PROMPT + b"\xef\n" + POLE + PROMPT + b"\n")), 0)
    os.close(master)
    # A file that holds nothing but the mark: the prompt, one line end.
    with tempfile.TemporaryFile() as f:
        f.write(b"\xef\xbb\xbf")
        f.seek(0)
        master, slave = pty.openpty()
        p = subprocess.Popen(cmd, stdin=f, stdout=slave, env=utf8)
        os.close(slave)
        yield "only the mark, from a file", (expect(master), wait(p)), (spell(PROMPT) + b"\r\n", 0)
        os.close(master)
    master, slave = pty.openpty()
    p = subprocess.Popen(cmd, stdin=os.open("/", os.O_RDONLY), stdout=slave,
                         stderr=subprocess.PIPE, env=utf8)
    os.close(slave)
    got = expect(master)
    yield "an error after the prompt", (got, p.stderr.read().count(b"\n"), wait(p)), (
        tty(spell(PROMPT + b"\n")), 1, 1)
    os.close(master)

    # Many answers at once to a UTF-8 terminal, compared whole.
    with tempfile.TemporaryFile() as f:
        f.write(b"koer\nkaes\nkas\nhunt\n" * 5000)
        f.seek(0)
        master, slave = pty.openpty()
        p = subprocess.Popen(cmd, stdin=f, stdout=slave, env=utf8)
        os.close(slave)
        got = expect(master, seconds=60)
        os.close(master)
        want = tty(spell(dialogue(*[ON, brelum(1, b"kass kaer "), POLE, brelum(4)] * 5000) + b"\n"))
        yield "20000 answers to a UTF-8 terminal", (len(got), got == want, wait(p)), (
            len(want), True, 0)

    # A UTF-8 locale whose name does not say so is known by loading it. Its
    # files are in the program's byte order, which under qemu-user may not be
    # this machine's: the ELF header tells it.
    localedef = shutil.which("localedef")
    yield "localedef is there to make a locale", localedef is not None, True
    with open(cmd[-1], "rb") as f:
        order = "--big-endian" if f.read(6)[5:] == b"\x02" else "--little-endian"
    with tempfile.TemporaryDirectory() as d:
        made = subprocess.run([localedef, order, "-i", "C", "-f", "UTF-8", os.path.join(d, "xx_XX")],
                              capture_output=True).returncode
        master, slave = pty.openpty()
        p = subprocess.Popen(cmd, stdin=slave, stdout=slave, env=dict(env, LOCPATH=d, LC_ALL="xx_XX"))
        os.close(slave)
        got = expect(master, spell(PROMPT))
        os.write(master, b"\x04")
        yield "a UTF-8 locale named xx_XX", (made, got, wait(p)), (0, spell(PROMPT), 0)
        os.close(master)


def raw(master):
    """Waits until wine's console has the terminal in raw mode."""
    end = time.monotonic() + 10
    while termios.tcgetattr(master)[3] & termios.ICANON and time.monotonic() < end:
        time.sleep(0.05)


def type_koer(master):
    """Types koer at wine's console and tells whether it was answered. The
    console drops keys typed before it has the terminal in raw mode, and now
    and then just after: the word is typed again if no answer comes, and
    may then be answered late, and twice, which is let pass."""
    raw(master)
    for _ in range(3):
        os.write(master, b"koer\r")
        answered = b"olemas!" in expect(master, b"olemas!", 8)
        if answered:
            break
    while not quiet(master, 1):
        os.read(master, 65536)
    return answered


def console(cmd, nl):
    """A Windows console, as wine makes one of a terminal."""
    master, slave = pty.openpty()
    p = subprocess.Popen(cmd, stdin=slave, stdout=slave, stderr=slave,
                         env=dict(os.environ, LC_ALL="C.UTF-8"))
    os.close(slave)
    yield "prompt", b"s\xc3\xb5na:" in expect(master, b"s\xc3\xb5na:", 20), True
    yield "verdict", type_koer(master), True
    # The console's code page (437) lacks õ: kõer must not become koer. It has
    # ö, which must arrive as one byte: köer is one position from koer.
    for typed in ["k\u00f5er", "k\u00f6er"]:
        os.write(master, typed.encode() + b"\r")
        got = expect(master, b"Sisesta", 10)  # the echo, the answer, the prompt
        yield typed, (b"olemas" in got, b"koer kaer" in got), (False, True)
    os.write(master, b"\x1a\r")  # Ctrl+Z, Enter: the end of the input
    yield "Ctrl+Z", p.wait(10), 0
    os.close(master)

    # At code page 65001 kõer arrives as its 5 UTF-8 bytes: no word is that long.
    # Where the input and output code pages differ, the input's decides. A line
    # longer than a console read is read in parts; typed 100 letters at a time,
    # so that wine's console keeps up with its echo.
    exe = "Z:" + os.path.abspath(cmd[-1]).replace("/", "\\")
    pages = lambda i, o: cmd[:-1] + [os.environ["BRELUM_JUHT"], "koodilehed", i, o, exe]
    for name, argv, typed, want in [
        ("console in, pipe out", cmd, b"koer", nl(dialogue(ON))),
        ("code page 65001", cmd[:-1] + ["cmd", "/c", "chcp 65001 > nul & " + exe],
         "k\u00f5er".encode(), nl(dialogue(POLE))),
        ("input code page 437, output 65001", pages("437", "65001"),
         "k\u00f6er".encode(), nl(dialogue(brelum(1, b"koer kaer ")))),
        ("input code page 65001, output 437", pages("65001", "437"),
         "k\u00f6er".encode(), nl(dialogue(POLE))),
        ("a typed line of 3000 letters", cmd, b"koer" * 750, nl(dialogue(POLE))),
    ]:
        master, slave = pty.openpty()
        r, w = os.pipe()
        p = subprocess.Popen(argv, stdin=slave, stdout=w, stderr=subprocess.PIPE,
                             env=dict(os.environ, LC_ALL="C.UTF-8"))
        os.close(slave)
        os.close(w)
        got = expect(r, nl(PROMPT), 20)
        raw(master)
        for i in range(0, len(typed), 100):
            os.write(master, typed[i:i + 100])
            time.sleep(0.05)
        os.write(master, b"\r")
        got += expect(r, nl(PROMPT) * 2, 10)
        os.write(master, b"\r")
        got += expect(r, seconds=10)
        yield name, (got, wait(p), p.stderr.read()), (want, 0, b"")
        os.close(master)
        os.close(r)

    # A console left in raw mode by the parent, as a terminal library leaves
    # it: brelum reads lines all the same, and the parent gets its mode back.
    # (Ctrl+C at wine's console made of a terminal reaches no program.)
    juht = cmd[:-1] + [os.environ["BRELUM_JUHT"]]
    master, slave = pty.openpty()
    p = subprocess.Popen(juht + ["toores", exe], stdin=slave, stdout=slave, stderr=subprocess.PIPE,
                         env=dict(os.environ, LC_ALL="C.UTF-8"))
    os.close(slave)
    expect(master, b"s\xc3\xb5na:", 20)
    answered = type_koer(master)
    os.write(master, b"\r")
    # A brelum left running, the parent killed, would keep its error pipe.
    yield "a console left in raw mode", (answered, wait(p, 20), expect(p.stderr.fileno(), seconds=5)), (
        True, 0, b"input mode after: 0x8\n")
    os.close(master)

    # A console opened for writing alone, as freopen("CONOUT$", "w", stdout)
    # opens it, is a console too: its screen shows õ, whatever the code page.
    master, slave = pty.openpty()
    p = subprocess.Popen(juht + ["kirjutuskonsool", exe], stdin=slave, stdout=slave,
                         stderr=subprocess.PIPE, env=dict(os.environ, LC_ALL="C.UTF-8"))
    os.close(slave)
    expect(master, seconds=30)
    screen = expect(p.stderr.fileno(), seconds=5)
    yield "a console opened for writing alone", (wait(p), "Sisesta s\u00f5na: See s\u00f5na on olemas!\n"
                                                  "Sisesta s\u00f5na:\n".encode() in screen), (0, True)
    os.close(master)

    # The console goes away while brelum waits: an error, told.
    master, slave = pty.openpty()
    p = subprocess.Popen(cmd, stdin=slave, stdout=slave, stderr=subprocess.PIPE,
                         env=dict(os.environ, LC_ALL="C.UTF-8"))
    os.close(slave)
    expect(master, b"s\xc3\xb5na:", 20)
    raw(master)
    os.close(master)
    status = wait(p, 20)
    yield "the console goes away", (status, p.stderr.read().startswith(b"brelum: stdin: ")), (1, True)

    # Input from a file, output to the console: the screen, read whole, over
    # many console writes.
    tmux = shutil.which("tmux")
    yield "tmux is there to read the screen", tmux is not None, True
    words = [b"koer", b"kaes", b"hunt", b"kassid"] * 300
    with tempfile.TemporaryDirectory() as d:
        with open(os.path.join(d, "words"), "wb") as f:
            f.write(b"".join(w + b"\r\n" for w in words) + b"\r\n")
        sock = ["tmux", "-L", "brelum-%d" % os.getpid()]
        env = ["-e", "LC_ALL=C.UTF-8"] + sum((["-e", "%s=%s" % (k, os.environ[k])]
                                              for k in ("WINEPREFIX", "WINEDEBUG") if k in os.environ), [])
        run_it = "%s < words; echo $? > status; sleep 600" % " ".join(
            map(shlex.quote, cmd[:-1] + [os.path.abspath(cmd[-1])]))
        with open(os.path.join(d, "tmux.conf"), "w") as f:
            f.write("set -g history-limit 10000\n")
        subprocess.run(sock + ["-f", os.path.join(d, "tmux.conf"), "new-session", "-d", "-x", "100",
                               "-y", "50", "-c", d] + env + [run_it], check=True)
        end = time.monotonic() + 120
        while not os.path.exists(os.path.join(d, "status")) and time.monotonic() < end:
            time.sleep(0.2)
        time.sleep(0.5)
        shown = subprocess.run(sock + ["capture-pane", "-p", "-J", "-S", "-"],
                               capture_output=True).stdout.rstrip(b"\n")
        subprocess.run(sock + ["kill-server"])
        answers = {b"koer": ON, b"kaes": brelum(1, b"kass kaer "), b"hunt": brelum(4), b"kassid": POLE}
        want = dialogue(*[answers[w] for w in words]).decode("latin-1").encode()
        want = b"\n".join(line.rstrip() for line in want.split(b"\n"))
        yield "%d words to the console, the screen whole" % len(words), shown, want


def feed(w, data):
    """Writes to the program's input, which it may have closed by failing."""
    try:
        os.write(w, data)
    except BrokenPipeError:
        pass


def cpu_wait(p):
    """The exit status of p, and the CPU time it used, in seconds; None for
    the time when p was reaped before (Popen.send_signal may do that)."""
    if p.returncode is not None:
        return p.returncode, None
    _, status, ru = os.wait4(p.pid, 0)
    p.returncode = os.waitstatus_to_exitcode(status)
    return p.returncode, ru.ru_utime + ru.ru_stime


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
    return got, cpu_wait(p)


def descriptors(cmd, nl):
    """Standard streams as parents hand them down: non-blocking, stopped and
    continued, and input from a file answered in large writes."""
    name = "non-blocking input"
    r, w = os.pipe()
    os.set_blocking(r, False)
    p = subprocess.Popen(cmd, stdin=r, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    os.close(r)
    out = p.stdout.fileno()
    yield name + ": prompt", expect(out, PROMPT), PROMPT
    yield name + ": waits", quiet(out, 0.5) and p.poll() is None, True
    feed(w, b"koer\n")
    yield name + ": verdict", expect(out, ON + PROMPT), ON + PROMPT
    time.sleep(1)
    feed(w, b"\n")
    os.close(w)
    status, cpu = cpu_wait(p)
    yield name + ": exit", (status, p.stderr.read()), (0, b"")
    yield "%s: waits without using the CPU (%.2f s)" % (name, cpu), cpu < 0.3, True

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
            start = time.monotonic()
            got, (status, cpu) = slow_reader(p, r, each)
            wall = time.monotonic() - start
            os.close(r)
            yield name, (len(got), got == want, status), (len(want), True, 0)
            if nonblocking:
                yield "%s: waits without using the CPU (%.2f s of %.2f s)" % (
                    name, cpu, wall), cpu < wall / 4, True

    # A full non-blocking standard error still gets the whole error line.
    r, w = os.pipe()
    os.set_blocking(w, False)
    filled = 0
    try:
        while True:
            filled += os.write(w, b"x" * 4096)
    except BlockingIOError:
        pass
    p = subprocess.Popen(cmd, stdin=os.open("/", os.O_RDONLY), stdout=subprocess.DEVNULL, stderr=w)
    os.close(w)
    time.sleep(0.5)
    got = b""
    while select.select([r], [], [], 10)[0]:
        b = os.read(r, 65536)
        if not b:
            break
        got += b
    os.close(r)
    yield "non-blocking full stderr", (got[filled:].startswith(b"brelum: stdin: "), got.endswith(b"\n"),
                                       wait(p)), (True, True, 1)

    # Output to a file, input from a pipe that runs empty: what was answered
    # is in the file while brelum waits.
    with tempfile.NamedTemporaryFile() as f:
        p = subprocess.Popen(cmd, stdin=subprocess.PIPE, stdout=f)
        p.stdin.write(b"koer\n")
        p.stdin.flush()
        end = time.monotonic() + 10
        while os.path.getsize(f.name) < len(dialogue(ON)) and time.monotonic() < end:
            time.sleep(0.05)
        yield "output to a file: answered while waiting", open(f.name, "rb").read(), dialogue(ON)
        p.stdin.close()
        yield "output to a file: exit", wait(p), 0

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
            p = subprocess.Popen([strace, "-e", "trace=write", "-o", log.name] + cmd,
                                 stdin=f, stdout=subprocess.PIPE, env=traced)
            p.communicate(timeout=60)
            writes = len(re.findall(rb"^write\(1,", log.read(), re.M))
        size = len(dialogue(*[verdict] * n))
        yield "%d bytes of answers in %d writes" % (size, writes), 0 < writes <= size // 16384 + 1, True


def faults(cmd, nl):
    words = b"kaar\nkoer\nhunt\n" * 200000
    with open("/dev/full", "wb") as full:
        r = subprocess.run(cmd, input=words, stdout=full, stderr=subprocess.PIPE, timeout=60)
    yield "/dev/full", (r.returncode, r.stderr.count(b"\n"), b"stdout" in r.stderr), (1, 1, True)
    # A failed write stops the reading too: most of a long file stays unread.
    with tempfile.TemporaryFile() as f, open("/dev/full", "wb") as full:
        f.write(words)
        f.seek(0)
        r = subprocess.run(cmd, stdin=f, stdout=full, stderr=subprocess.DEVNULL, timeout=60)
        yield "a failed write stops the reading", (r.returncode, f.tell() < len(words) // 4), (1, True)
    # Both streams fail: the output's error is the one told.
    with open("/dev/full", "wb") as full:
        r = subprocess.run(cmd, stdin=os.open("/", os.O_RDONLY), stdout=full,
                           stderr=subprocess.PIPE, timeout=60)
    yield "stdin and stdout fail", (r.returncode, r.stderr.count(b"\n"), b"stdout" in r.stderr), (
        1, 1, True)
    # A failed write just before a read that would wait ends brelum there: a
    # long line fed slowly finds its pipe closed long before it ends.
    with open("/dev/full", "wb") as full:
        p = subprocess.Popen(cmd, stdin=subprocess.PIPE, stdout=full, stderr=subprocess.DEVNULL)
    end = time.monotonic() + 10
    try:
        while time.monotonic() < end:
            os.write(p.stdin.fileno(), b"x" * 100)
            time.sleep(0.02)
    except BrokenPipeError:
        pass
    closed = time.monotonic() < end
    p.stdin.close()
    yield "a failed write before a wait", (closed, wait(p)), (True, 1)
    r = subprocess.run(cmd, stdin=os.open("/", os.O_RDONLY), capture_output=True, timeout=60)
    yield "stdin fails after the prompt", (r.stdout, r.returncode), (nl(PROMPT), 1)
    # Error lines end as the platform's text lines do.
    yield "an error is one line", r.stderr.count(b"\n") == 1 and r.stderr.endswith(nl(b"\n")), True
    shim = preload()
    if shim:
        # After one failed write nothing more is written: no hole in the output.
        with tempfile.TemporaryFile() as f:
            f.write(words)
            f.seek(0)
            r = subprocess.run(cmd, stdin=f, capture_output=True, timeout=60,
                               env=dict(os.environ, LD_PRELOAD=shim, SHIM_EIO="2"))
        yield "one failed write, then nothing", (len(r.stdout), r.returncode, b"stdout: " in r.stderr), (
            65536, 1, True)
        # What the system says, once: an error is told by its name; a write
        # that takes nothing is an error; an interrupted read is read again.
        for name, env, out, err, status in [
            ("read fails with EIO", {"SHIM_READ": "EIO"}, PROMPT,
             b"brelum: stdin: Input/output error\n", 1),
            ("a write takes nothing", {"SHIM_WRITE0": "1"}, b"",
             b"brelum: stdout: Input/output error\n", 1),
            ("read interrupted", {"SHIM_READ": "EINTR"}, dialogue(ON), b"", 0),
            ("closing stdout fails", {"SHIM_CLOSE": "1"}, dialogue(ON),
             b"brelum: stdout: Input/output error\n", 1),
        ]:
            r = subprocess.run(cmd, input=b"koer\n", capture_output=True, timeout=60,
                               env=dict(os.environ, LD_PRELOAD=shim, **env))
            yield name, (r.stdout, r.stderr, r.returncode), (out, err, status)
    if WIN:
        # The system's words without their full stop, in the ANSI code page
        # when standard error is redirected: wine's German for Disk full.
        with tempfile.TemporaryDirectory() as d:
            made = subprocess.run(["localedef", "-i", "de_DE", "-f", "UTF-8",
                                   os.path.join(d, "de_DE.UTF-8")], capture_output=True).returncode
            for env, text in [({"LC_ALL": "C"}, b"Disk full"),
                              ({"LC_ALL": "de_DE.UTF-8", "LOCPATH": d}, b"Datentr\xe4ger voll")]:
                with open("/dev/full", "wb") as full:
                    r = subprocess.run(cmd, input=b"koer\n", stdout=full, stderr=subprocess.PIPE,
                                       timeout=60, env=dict(os.environ, **env))
                yield "error words, %r" % env, (made, r.stderr, r.returncode), (
                    0, b"brelum: stdout: " + text + b"\r\n", 1)
        # Input from a file is answered in large writes: strace counts them.
        with tempfile.TemporaryFile() as f, tempfile.NamedTemporaryFile() as out, \
                tempfile.NamedTemporaryFile() as log:
            f.write((b"x" * 1000 + b"\n") * 2000)
            f.seek(0)
            subprocess.run(["strace", "-f", "-e", "trace=write", "-P", out.name, "-o", log.name]
                           + cmd, stdin=f, stdout=out, timeout=120)
            writes = len(re.findall(rb"write\(", log.read()))
            size = os.path.getsize(out.name)
        yield "%d bytes of answers from a file in %d writes" % (size, writes), (
            size, 0 < writes <= size // 16384 + 1), (len(nl(dialogue(*[POLE] * 2000))), True)
    r = started(lambda: subprocess.run(cmd, stdin=subprocess.DEVNULL, capture_output=True,
                                       preexec_fn=lambda: os.close(0), timeout=60))
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
    yield "closed output pipe: quiet", err, b""


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
            print("FAIL %r\n  got  %r\n  want %r" % (name, got, want), flush=True)
    print("%d passed, %d failed" % (passed, failed))
    sys.exit(failed > 0)


main()
