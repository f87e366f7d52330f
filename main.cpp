// brelum: asks for words, one per line, and tells how near each one is to
// the four words the program knows. An empty line ends it.
//
// The dialogue is single-byte text: õ is the byte 0xF5, and a line ends in
// RV, CR LF on Windows and LF elsewhere, as a text-mode stream writes it.
// The helpers around main give it the spelling its destination needs (a
// UTF-8 terminal, a Windows console) and keep it buffered until a read
// would wait for the user, so that batch use costs no system call per word
// while a user or a driving program always sees the prompt.
//
// Names are Estonian, with õ spelled 6, ä 2 and ü y: s6na, v2ljund, tyhjenda.

#include <cerrno>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#define RV "\r\n" // reavahetus, the line end
#else
#define RV "\n"
#include <clocale>
#include <cstdlib>
#include <langinfo.h>
#include <strings.h>
#include <sys/select.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

// Number of positions in which s1 and s2 differ, or -1 if their lengths
// differ. One pass over both: the words are alike in length if they end at
// the same position.
int brelum(const char *s1, const char *s2)
{
	int erinevusi = 0;
	size_t i;

	for (i = 0; s1[i] != '\0' && s2[i] != '\0'; i++)
		if (s1[i] != s2[i])
			erinevusi++;
	return s1[i] == s2[i] ? erinevusi : -1;
}

#ifndef BRELUM_PUHVER
#define BRELUM_PUHVER 65536
#endif
const size_t P = BRELUM_PUHVER; // bytes in each of the two stream buffers
// A console read must hold a letter.
static_assert(P >= 3, "the stream buffers need room for 3 bytes");

static char sisend[P], v2ljund[P];
static size_t sa, sl;    // unread input is sisend[sa..sl)
static size_t vn;        // bytes waiting in v2ljund
static int algus = 1;    // the input's first line is still to come
static int l6pp;         // the input has ended
static int sviga, vviga; // error of a failed read or write, 0 if none
const int UTF16 = -1;    // sviga for input in UTF-16
static const char utf16_tekst[] =
	"the input is UTF-16 text; save the words as ANSI or UTF-8 text";
// tty: standard output is a terminal, whose last line brelum ends before it
// exits. kaja: the input is that terminal too, which echoes what is typed
// but the line end of a word that Ctrl+D ended. Both are always 0 on
// Windows, where the console's Ctrl+Z ends the input only with the Enter
// that ends the line.
static int tty, kaja;

// What each platform's half, after main, gives the dialogue:
// learns what the standard streams are;
static void alusta(void);
// reads at most n bytes of input: the count, 0 at its end, or -1 and sviga
// (on Windows it sets l6pp at a Ctrl+Z, and returns the bytes before it);
static long loe_sisse(char *p, size_t n);
// tells whether a read of the input may wait for its writer;
static int v6ib_oodata(void);
// writes all n <= P bytes, spelled as the output needs: 1, or 0 and vviga;
static int v2lja(const char *p, size_t n);
// closes standard output, which may tell an error that no write did, in
// vviga;
static void sulge(void);
// tells error e of the stream kus ("stdin" or "stdout") on standard error.
static void teata(const char *kus, int e);

// Writes out what waits in the buffer. After a failed write the rest of the
// dialogue is dropped.
static int tyhjenda(void)
{
	int ok = !vviga && v2lja(v2ljund, vn);
	vn = 0;
	return ok;
}

// Fills the buffer, writing it out each time it is full.
static void kirjuta_pikalt(const char *p, size_t n)
{
	while (n > 0) {
		size_t k = n < P - vn ? n : P - vn;
		memcpy(v2ljund + vn, p, k);
		vn += k;
		p += k;
		n -= k;
		if (n > 0 && !tyhjenda())
			return;
	}
}

// Adds to the output. What fits is copied here, inline, and only the rest
// of the work is kirjuta_pikalt's, so that a word's answer costs a test and
// a copy; batch use is slower with the two in one function.
static inline void kirjuta(const char *p, size_t n)
{
	if (n > P - vn) {
		kirjuta_pikalt(p, n);
		return;
	}
	memcpy(v2ljund + vn, p, n);
	vn += n;
}

static inline void ytle(const char *s)
{
	kirjuta(s, strlen(s));
}

static void kirjuta_arv(int d)
{
	char t[12];
	char *p = t + sizeof t;

	do
		*--p = (char)('0' + d % 10);
	while ((d /= 10) > 0);
	kirjuta(p, (size_t)(t + sizeof t - p));
}

// Reads into p. What was written must be seen before a read that may wait
// for the user.
static long loe_ootel(char *p, size_t n)
{
	if (vn > 0 && v6ib_oodata() && !tyhjenda())
		return -1;
	return loe_sisse(p, n);
}

// Checks the first line, s, which holds the input's first bytes however the
// reads came: -1 for UTF-16, else the bytes taken off its front. Editors on
// Windows save a UTF-8 byte-order mark, which the user did not type. UTF-16
// text, which PowerShell's > writes, is refused: its NULs would end the
// first word and then the input, as if all had gone well.
static int alku(char *s)
{
	algus = 0;
	if (strncmp(s, "\xff\xfe", 2) == 0 || strncmp(s, "\xfe\xff", 2) == 0) {
		sviga = UTF16;
		return -1;
	}
	if (strncmp(s, "\xef\xbb\xbf", 3) != 0)
		return 0;
	memmove(s, s + 3, strlen(s + 3) + 1);
	return 3;
}

// Reads one line into s without its line end: 1 for a line, 0 at the end of
// the input, -1 on an error. A longer line than s can hold is cut, and the
// rest of it is read and dropped. The line end is a LF, or a CR and LF. A
// failed read ends the input as its end does, and sviga tells it: a named
// pipe's server that disconnects has flushed the last word, which counts.
static int loe(char *s, size_t N)
{
	size_t m = 0; // bytes of the line so far, but N for any more than N - 1

	if (vviga)
		return -1;
	for (;;) {
		if (sa == sl) {
			long r = l6pp ? 0 : loe_ootel(sisend, P);
			if (r < 0)
				r = 0;
			sa = 0;
			sl = (size_t)r;
			if (r == 0) {
				l6pp = 1;
				s[m < N ? m : N - 1] = '\0';
				int k = algus ? alku(s) : 0;
				if (k < 0)
					return -1;
				m -= (size_t)k;
				// Ctrl+D after a word: no line end was echoed.
				if (m > 0 && kaja)
					ytle(RV);
				return m > 0;
			}
		}
		const char *p = sisend + sa;
		const char *lf = (const char *)memchr(p, '\n', sl - sa);
		size_t n = lf ? (size_t)(lf - p) : sl - sa;
		sa = lf ? sa + n + 1 : sl;
		if (m < N - 1)
			memcpy(s + m, p, n < N - 1 - m ? n : N - 1 - m);
		m = m + n < N ? m + n : N;
		if (lf) {
			if (m > 0 && m < N && s[m - 1] == '\r')
				m--;
			s[m < N ? m : N - 1] = '\0';
			return algus && alku(s) < 0 ? -1 : 1;
		}
	}
}

// Writes out the rest of the dialogue; the exit status tells whether all of
// it was read and written. Where the input ends, or fails, a terminal's next
// line, the shell's prompt or an error, starts on a line of its own; after
// an empty line nothing more is written. Some file systems tell a failed
// write only when the file is closed.
static int l6peta(void)
{
	if ((l6pp || sviga) && tty)
		ytle(RV);
	if (tyhjenda())
		sulge();
	if (vviga)
		teata("stdout", vviga);
	else if (sviga)
		teata("stdin", sviga);
	return vviga || sviga;
}

int main()
{
	const int S = 4;
	const char *s6nad[S] = {"koer", "kass", "elevant", "kaer"};

	alusta();
	for (;;) {
		ytle("Sisesta s\xf5na: ");
		char s6na[40];
		if (loe(s6na, sizeof s6na) <= 0 || s6na[0] == '\0')
			return l6peta();

		int d = -1;
		char loetelu[1001]; // fits every list word with its space
		loetelu[0] = '\0';
		for (int k = 0; k < S; k++) {
			int dist = brelum(s6na, s6nad[k]);
			if (dist == 0) {
				d = 0;
				break;
			}
			if (dist > 0 && (d == -1 || dist < d))
				d = dist;
			if (dist == 1) {
				strcat(loetelu, s6nad[k]);
				strcat(loetelu, " ");
			}
		}

		if (d == -1) {
			ytle("Sarnast s\xf5na pole" RV);
		} else if (d == 0) {
			ytle("See s\xf5na on olemas!" RV);
		} else {
			ytle("Brelum on ");
			kirjuta_arv(d);
			ytle(RV);
			if (d == 1) {
				ytle(loetelu);
				ytle(RV);
			}
		}
	}
}

#ifdef _WIN32 // Windows
static HANDLE hsisse, hv2lja, hviga;
static int konsool, sisse_konsool; // the streams are a Windows console
static int rea_algus = 1;          // the console's next letter starts a line
// The console's input mode for a read: lines, echoed, ended by Enter.
const DWORD REAV =
	ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT | ENABLE_PROCESSED_INPUT;
static volatile LONG leitud = -1; // the mode found, while a read changed it

// Whether h is a console. One opened for writing alone, as the C runtime's
// freopen("CONOUT$", "w", stdout) opens it, cannot be asked its mode, but
// takes an empty WriteConsoleW, which NUL, a character device too, refuses.
static int on_konsool(HANDLE h)
{
	DWORD m;

	return GetConsoleMode(h, &m) || (GetFileType(h) == FILE_TYPE_CHAR &&
					 WriteConsoleW(h, L"", 0, &m, NULL));
}

// Gives the console back the input mode that a read found.
static void palauta(void)
{
	LONG m = InterlockedExchange(&leitud, -1);

	if (m != -1)
		SetConsoleMode(hsisse, (DWORD)m);
}

// Ctrl+C, Ctrl+Break or the console closing ends brelum, by the default
// handler after this one, maybe during a read.
static BOOL WINAPI katkestus(DWORD)
{
	palauta();
	return FALSE;
}

static void alusta(void)
{
	DWORD m;

	hsisse = GetStdHandle(STD_INPUT_HANDLE);
	hv2lja = GetStdHandle(STD_OUTPUT_HANDLE);
	hviga = GetStdHandle(STD_ERROR_HANDLE);
	sisse_konsool = GetConsoleMode(hsisse, &m) != 0;
	konsool = on_konsool(hv2lja);
	if (sisse_konsool)
		SetConsoleCtrlHandler(katkestus, TRUE);
}

// The console is read as UTF-16 and encoded to its input code page without
// the "best fit" letters that ReadFile would put in for those the code page
// lacks: õ must not arrive as o, which would make kõer the word koer. Such a
// letter becomes '?'. Code pages from 50000 up (UTF-8 among them) take no
// flags, so there a missing õ may still arrive as a best fit. A few KiB a
// read: older consoles fail larger reads. Each UTF-16 unit takes 3 bytes at
// most.
//
// The console's mode is its parent's, shared, and may have been left
// without line input, as a terminal library's raw mode leaves it, where
// Enter would end no line: for the read, brelum sets the REAV flags it
// lacks, and then gives the console back the mode it found.
static long loe_konsoolist(char *p, size_t n)
{
	wchar_t w[2048];
	DWORD r, olek, e;
	BOOL ok;

	if (GetConsoleMode(hsisse, &olek) && (olek & REAV) != REAV) {
		InterlockedExchange(&leitud, (LONG)olek);
		SetConsoleMode(hsisse, olek | REAV);
	}
	// Ctrl+C cuts a read short with nothing read. It is no end of the
	// input: the default handler is ending the process meanwhile, on a
	// thread of its own, and where Ctrl+C is ignored the user types on.
	do {
		SetLastError(0);
		ok = ReadConsoleW(hsisse, w,
				  (DWORD)(n / 3 < 2048 ? n / 3 : 2048), &r,
				  NULL);
	} while (ok && r == 0 && GetLastError() == ERROR_OPERATION_ABORTED);
	e = GetLastError();
	palauta();
	if (!ok) {
		sviga = (int)e;
		return -1;
	}
	if (r == 0)
		return 0;
	// Ctrl+Z at the start of a line ends the input.
	if (rea_algus && w[0] == 0x1a)
		return 0;
	rea_algus = w[r - 1] == L'\n';
	UINT cp = GetConsoleCP();
	int m = WideCharToMultiByte(cp, cp < 50000 ? WC_NO_BEST_FIT_CHARS : 0,
				    w, (int)r, p, (int)n, NULL, NULL);
	if (m == 0) {
		sviga = (int)GetLastError();
		return -1;
	}
	return m;
}

// A pipe that its maker set to PIPE_NOWAIT, as Cygwin's and MSYS2's runtime
// sets its pipes, does not wait: a read from it when empty fails with
// ERROR_NO_DATA. The handle is shared with the parent, so its mode is left
// as it is.
static int ootamatu(HANDLE h)
{
	DWORD t;

	return GetFileType(h) == FILE_TYPE_PIPE &&
	       GetNamedPipeHandleState(h, &t, NULL, NULL, NULL, NULL, 0) &&
	       (t & PIPE_NOWAIT) != 0;
}

// Waits before such a pipe is tried again: briefly at first, so that an
// answer is quick, then longer, so that the wait costs no CPU.
static void puhka(DWORD *ms)
{
	Sleep(*ms);
	if (*ms < 32)
		*ms *= 2;
}

static long loe_sisse(char *p, size_t n)
{
	DWORD r, ms = 1;
	int veel = 1; // ERROR_NO_DATA from a pipe that waits: read once more

	if (sisse_konsool)
		return loe_konsoolist(p, n);
	for (;;) {
		if (ReadFile(hsisse, p, (DWORD)n, &r, NULL)) {
			// A pipe's 0 bytes are its writer's empty write; its
			// end is ERROR_BROKEN_PIPE. A file's 0 is its end, and
			// so is that of the Unix pipes that wine hands down,
			// which cannot be peeked.
			if (r > 0 ||
			    !PeekNamedPipe(hsisse, NULL, 0, NULL, NULL, NULL))
				break;
			continue;
		}
		DWORD e = GetLastError();
		if (e == ERROR_MORE_DATA) // a longer message: its rest is next
			break;
		if (e == ERROR_BROKEN_PIPE) // the writer closed its end
			return 0;
		// The mode is the pipe's, and its parent may change it between
		// the read and the question: read once more, and a pipe that
		// now waits waits.
		if (e == ERROR_NO_DATA && ootamatu(hsisse)) {
			puhka(&ms);
			veel = 1;
		} else if (e != ERROR_NO_DATA || !veel--) {
			sviga = (int)e;
			return -1;
		}
	}
	// Redirected text ends at Ctrl+Z, as in the C runtime's text mode.
	const char *z = (const char *)memchr(p, '\x1a', r);
	if (z != NULL) {
		l6pp = 1;
		return (long)(z - p);
	}
	return (long)r;
}

// Only a pipe with nothing in it or a character device, such as the console,
// can keep a read waiting.
static int v6ib_oodata(void)
{
	DWORD t = GetFileType(hsisse), k;

	if (t == FILE_TYPE_DISK)
		return 0;
	if (t == FILE_TYPE_PIPE &&
	    PeekNamedPipe(hsisse, NULL, 0, NULL, &k, NULL))
		return k == 0;
	return 1;
}

// A write that succeeds with nothing written would be tried for ever.
static int kirjutatud(BOOL ok, DWORD w)
{
	if (!ok)
		vviga = (int)GetLastError();
	else if (w == 0)
		vviga = ERROR_WRITE_FAULT;
	return ok && w > 0;
}

// A PIPE_NOWAIT pipe takes a write whole or not at all: one larger than its
// free room, even an empty pipe's, succeeds with nothing written, which a
// waiting pipe never does with n > 0 bytes. So a write larger than any that
// went in is offered again in halves, down to a byte; one that went in
// before is waited on, and halved too once the wait is long; and after
// each piece that goes in, twice as much is offered. The pipe's mode is not
// asked: a handle opened for writing alone cannot be.
static int kirjuta_k6ik(HANDLE h, const char *p, size_t n)
{
	DWORD w, k = (DWORD)n, g = 0; // bytes offered, and the most taken

	for (; n > 0; p += w, n -= w, k = 2 * w) {
		DWORD ms = 1;
		BOOL ok;
		if (k > n)
			k = (DWORD)n;
		while ((ok = WriteFile(h, p, k, &w, NULL)) && w == 0 &&
		       GetFileType(h) == FILE_TYPE_PIPE) {
			if (k > g && k > 1) {
				k /= 2;
				continue;
			}
			puhka(&ms);
			if (ms == 32 && k > 1)
				k /= 2;
		}
		if (!kirjutatud(ok, w))
			return 0;
		if (w > g)
			g = w;
	}
	return 1;
}

// Older consoles fail large writes, as they fail large reads: the caller
// gives a small piece at a time.
static int konsooli_w(HANDLE h, const wchar_t *t, DWORD m)
{
	DWORD w;

	for (DWORD i = 0; i < m; i += w) {
		BOOL ok = WriteConsoleW(h, t + i, m - i, &w, NULL);
		if (!kirjutatud(ok, w))
			return 0;
	}
	return 1;
}

// The console gets UTF-16, so õ shows whatever its code page. The dialogue's
// only byte above 0x7F is õ, 0xF5, which is also its UTF-16 value.
static int konsooli(const char *p, size_t n)
{
	wchar_t t[1024];
	DWORD m;

	for (; n > 0; p += m, n -= m) {
		m = n < 1024 ? (DWORD)n : 1024;
		for (DWORD i = 0; i < m; i++)
			t[i] = (unsigned char)p[i];
		if (!konsooli_w(hv2lja, t, m))
			return 0;
	}
	return 1;
}

static int v2lja(const char *p, size_t n)
{
	return konsool ? konsooli(p, n) : kirjuta_k6ik(hv2lja, p, n);
}

// Windows tells no write's error at CloseHandle, and FlushFileBuffers would
// wait for the disk, or for a pipe's reader: the output is left open.
static void sulge(void)
{
}

// "brelum: stdout: " and the system's text for the error, or its number if
// the system has none, written as the output is. A console gets the text as
// UTF-16, since text in the ANSI code page garbles its letters on a console
// in the OEM code page.
static void teata(const char *kus, int e)
{
	wchar_t t[512];
	char a[3 * 512]; // a UTF-16 unit is 3 bytes at most, at code page 65001
	DWORD n = 0, k;

	// The output's reader has gone: quiet, as SIGPIPE is on POSIX. wine
	// says ERROR_PIPE_NOT_CONNECTED where Windows says ERROR_NO_DATA; a
	// socket's reader that went says so in its own words.
	if (strcmp(kus, "stdout") == 0 &&
	    (e == ERROR_NO_DATA || e == ERROR_BROKEN_PIPE ||
	     e == ERROR_PIPE_NOT_CONNECTED || e == ERROR_NETNAME_DELETED ||
	     e == WSAECONNRESET || e == WSAECONNABORTED))
		return;
	const char *osad[] = {"brelum: ", kus, ": "};
	for (const char *o : osad)
		while (*o != '\0')
			t[n++] = (unsigned char)*o++;
	if (e == UTF16)
		for (k = 0; utf16_tekst[k] != '\0'; k++)
			t[n + k] = (unsigned char)utf16_tekst[k];
	else
		k = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM |
					   FORMAT_MESSAGE_IGNORE_INSERTS,
				   NULL, (DWORD)e, 0, t + n, 400, NULL);
	while (k > 0 && wcschr(L"\r\n. ", t[n + k - 1]) != NULL)
		k--;
	if (k == 0) {
		wcscpy(t + n, L"error ");
		_ultow((unsigned long)e, t + n + 6, 10);
		k = (DWORD)wcslen(t + n);
	}
	n += k;
	t[n++] = L'\r';
	t[n++] = L'\n';
	if (on_konsool(hviga)) {
		konsooli_w(hviga, t, n);
		return;
	}
	int b = WideCharToMultiByte(CP_ACP, 0, t, (int)n, a, sizeof a, NULL,
				    NULL);
	kirjuta_k6ik(hviga, a, (size_t)b);
}

#else // POSIX
static int utf8; // standard output is a terminal that shows UTF-8

// Whether a locale name such as et_EE.UTF-8@euro names UTF-8.
static int utf8_nimi(const char *v)
{
	const char *c = strchr(v, '.');

	if (c == NULL)
		return 0;
	size_t n = strcspn(++c, "@");
	return (n == 5 && strncasecmp(c, "utf-8", 5) == 0) ||
	       (n == 4 && strncasecmp(c, "utf8", 4) == 0);
}

// Whether the terminal's locale is UTF-8. That of C or POSIX, or none set,
// means that nobody set one, as in a new container, not a terminal that
// expects single bytes: terminals today show UTF-8. A locale that is not
// installed still tells it by its name.
static int utf8_lokaal(void)
{
	const char *nimed[] = {"LC_ALL", "LC_CTYPE", "LANG"};
	const char *v = NULL;

	for (const char *n : nimed)
		if ((v = getenv(n)) != NULL && *v != '\0')
			break;
	if (v == NULL || *v == '\0' || strcmp(v, "C") == 0 ||
	    strcmp(v, "POSIX") == 0)
		return 1;
	if (setlocale(LC_CTYPE, "") != NULL)
		return strcmp(nl_langinfo(CODESET), "UTF-8") == 0;
	return utf8_nimi(v);
}

static void alusta(void)
{
	struct stat a, b;

	tty = isatty(1);
	kaja = tty && isatty(0) && fstat(0, &a) == 0 && fstat(1, &b) == 0 &&
	       a.st_rdev == b.st_rdev;
	utf8 = tty && utf8_lokaal();
}

// Whether standard input (fd 0) can be read or standard output (fd 1)
// written without waiting, or, with no time t, waits until it can: a parent
// may have left it non-blocking. select rather than poll, which cannot wait
// on a terminal on macOS.
static int valmis(int fd, struct timeval *t)
{
	fd_set s;

	FD_ZERO(&s);
	FD_SET(fd, &s);
	return select(fd + 1, fd == 0 ? &s : NULL, fd == 0 ? NULL : &s, NULL,
		      t) == 1;
}

static int kohe_ei(void)
{
	return errno == EAGAIN || errno == EWOULDBLOCK;
}

static long loe_sisse(char *p, size_t n)
{
	ssize_t r;

	while ((r = read(0, p, n)) < 0 && (errno == EINTR || kohe_ei()))
		if (errno != EINTR)
			valmis(0, NULL);
	if (r < 0)
		sviga = errno;
	return (long)r;
}

// Only input that select reports ready is sure not to keep a read waiting.
static int v6ib_oodata(void)
{
	struct timeval t = {0, 0};

	return !valmis(0, &t);
}

// Writes all n bytes to fd, standard output or error.
static int kirjuta_k6ik(int fd, const char *p, size_t n)
{
	while (n > 0) {
		ssize_t w = write(fd, p, n);
		if (w > 0) {
			p += w;
			n -= (size_t)w;
		} else if (w < 0 && kohe_ei()) {
			valmis(fd, NULL);
		} else if (w == 0 || errno != EINTR) {
			vviga = w == 0 ? EIO : errno; // 0 would loop for ever
			return 0;
		}
	}
	return 1;
}

// A UTF-8 terminal gets õ as UTF-8.
static int v2lja(const char *p, size_t n)
{
	static char t[2 * P];
	size_t m = 0;

	if (!utf8)
		return kirjuta_k6ik(1, p, n);
	for (size_t i = 0; i < n; i++) {
		if (p[i] == '\xf5') {
			t[m++] = '\xc3';
			t[m++] = '\xb5';
		} else {
			t[m++] = p[i];
		}
	}
	return kirjuta_k6ik(1, t, m);
}

static void sulge(void)
{
	if (close(1) != 0)
		vviga = errno;
}

// Written as the output is, whole, though a parent left it non-blocking.
static void teata(const char *kus, int e)
{
	char t[512] = "brelum: ";
	strncat(t, kus, 64);
	strcat(t, ": ");
	strncat(t, e == UTF16 ? utf16_tekst : strerror(e),
		sizeof t - strlen(t) - 2);
	strcat(t, "\n");
	// If it fails, nowhere is left to tell it.
	kirjuta_k6ik(2, t, strlen(t));
}

#endif // POSIX
