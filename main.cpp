// brelum: asks for words, one per line, and tells how near each one is to
// the four words the program knows. An empty line ends it.
//
// The dialogue is single-byte text: õ is the byte 0xF5, a line ends in "\n".
// The helpers after brelum() give it the spelling its destination needs (a
// UTF-8 terminal, a Windows console, CR LF on Windows) and keep it buffered
// until a read would wait for the user, so that batch use costs no system
// call per word while a user or a driving program always sees the prompt.

#include <cerrno>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <clocale>
#include <langinfo.h>
#include <poll.h>
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

static char sisend[P], v2ljund[P];
static size_t sa, sl;    // unread input is sisend[sa..sl)
static size_t vn;        // bytes waiting in v2ljund
static int l6pp;         // the input has ended
static int sviga, vviga; // error of a failed read or write, 0 if none

#ifdef _WIN32

static HANDLE hsisse, hv2lja;
static int konsool, sisse_konsool; // the streams are a Windows console

static void alusta(void)
{
	DWORD m;

	hsisse = GetStdHandle(STD_INPUT_HANDLE);
	hv2lja = GetStdHandle(STD_OUTPUT_HANDLE);
	sisse_konsool = GetConsoleMode(hsisse, &m) != 0;
	konsool = GetConsoleMode(hv2lja, &m) != 0;
}

static long loe_sisse(char *p, size_t n)
{
	DWORD r;

	if (!ReadFile(hsisse, p, (DWORD)n, &r, NULL)) {
		DWORD e = GetLastError();
		if (e == ERROR_BROKEN_PIPE) // the writer closed its end
			return 0;
		sviga = (int)e;
		return -1;
	}
	// At the console, Ctrl+Z at the start of a line ends the input.
	if (sisse_konsool && r > 0 && p[0] == '\x1a')
		return 0;
	return (long)r;
}

// Only a pipe with nothing in it or the console can keep a read waiting.
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

static int kirjuta_k6ik(const char *p, size_t n)
{
	DWORD w;

	for (; n > 0; p += w, n -= w)
		if (!WriteFile(hv2lja, p, (DWORD)n, &w, NULL)) {
			vviga = (int)GetLastError();
			return 0;
		}
	return 1;
}

// The console gets UTF-16, so õ shows whatever its code page. The dialogue's
// only byte above 0x7F is õ, 0xF5, which is also its UTF-16 value.
static int konsooli(const char *p, size_t n)
{
	wchar_t w[1024];
	DWORD k;

	while (n > 0) {
		size_t m = n < 1024 ? n : 1024;
		for (size_t i = 0; i < m; i++)
			w[i] = (unsigned char)p[i];
		if (!WriteConsoleW(hv2lja, w, (DWORD)m, &k, NULL)) {
			vviga = (int)GetLastError();
			return 0;
		}
		p += m;
		n -= m;
	}
	return 1;
}

// Writes out n <= P bytes of the dialogue; files and pipes get the text-mode
// line end, CR LF.
static int v2lja(const char *p, size_t n)
{
	static char t[2 * P];
	size_t m = 0;

	if (konsool)
		return konsooli(p, n);
	for (size_t i = 0; i < n; i++) {
		if (p[i] == '\n')
			t[m++] = '\r';
		t[m++] = p[i];
	}
	return kirjuta_k6ik(t, m);
}

static void teata(const char *kus, int e)
{
	char t[512];
	DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM |
					 FORMAT_MESSAGE_IGNORE_INSERTS,
				 NULL, (DWORD)e, 0, t, sizeof t, NULL);
	while (n > 0 &&
	       (t[n - 1] == '\n' || t[n - 1] == '\r' || t[n - 1] == '.'))
		n--;
	t[n] = '\0';
	HANDLE h = GetStdHandle(STD_ERROR_HANDLE);
	DWORD w;
	const char *osad[] = {"brelum: ", kus, ": ", t, "\r\n"};
	for (const char *o : osad)
		WriteFile(h, o, (DWORD)strlen(o), &w, NULL);
}

#else

static int utf8; // standard output is a terminal that shows UTF-8

static void alusta(void)
{
	utf8 = isatty(1) && setlocale(LC_CTYPE, "") &&
	       strcmp(nl_langinfo(CODESET), "UTF-8") == 0;
}

static long loe_sisse(char *p, size_t n)
{
	ssize_t r;

	while ((r = read(0, p, n)) < 0 && errno == EINTR)
		;
	if (r < 0)
		sviga = errno;
	return (long)r;
}

static int v6ib_oodata(void)
{
	struct pollfd f = {0, POLLIN, 0};

	return poll(&f, 1, 0) == 0;
}

static int kirjuta_k6ik(const char *p, size_t n)
{
	ssize_t w;

	for (; n > 0; p += w, n -= (size_t)w)
		if ((w = write(1, p, n)) < 0) {
			if (errno == EINTR) {
				w = 0;
				continue;
			}
			vviga = errno;
			return 0;
		}
	return 1;
}

// Writes out n <= P bytes of the dialogue; a UTF-8 terminal gets õ as UTF-8.
static int v2lja(const char *p, size_t n)
{
	static char t[2 * P];
	size_t m = 0;

	if (!utf8)
		return kirjuta_k6ik(p, n);
	for (size_t i = 0; i < n; i++) {
		if (p[i] == '\xf5') {
			t[m++] = '\xc3';
			t[m++] = '\xb5';
		} else {
			t[m++] = p[i];
		}
	}
	return kirjuta_k6ik(t, m);
}

static void teata(const char *kus, int e)
{
	char t[512] = "brelum: ";
	strncat(t, kus, 64);
	strcat(t, ": ");
	strncat(t, strerror(e), sizeof t - strlen(t) - 2);
	strcat(t, "\n");
	if (write(2, t, strlen(t)) < 0)
		return; // nowhere left to tell it
}

#endif

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
	while (n > P - vn) {
		size_t k = P - vn;
		memcpy(v2ljund + vn, p, k);
		vn = P;
		p += k;
		n -= k;
		if (!tyhjenda())
			return;
	}
	memcpy(v2ljund + vn, p, n);
	vn += n;
}

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

// Refills the input buffer: the number of bytes read, 0 at the end of the
// input, -1 on an error. What was written must be seen before a read that may
// wait for the user.
static long t2ida(void)
{
	if (l6pp)
		return 0;
	if (vn > 0 && v6ib_oodata() && !tyhjenda())
		return -1;
	long r = loe_sisse(sisend, P);
	if (r == 0)
		l6pp = 1;
	sa = 0;
	sl = r > 0 ? (size_t)r : 0;
	return r;
}

// Adds n bytes of the line to the word s, which keeps at most N - 1 of them;
// *m counts the line's bytes, but stops at N.
static void lisa(char *s, size_t N, size_t *m, const char *p, size_t n)
{
	size_t vaba = *m < N - 1 ? N - 1 - *m : 0;
	memcpy(s + *m, p, n < vaba ? n : vaba);
	*m = n < N - *m ? *m + n : N;
}

// Reads one line into s without its line end: 1 for a line, 0 at the end of
// the input, -1 on an error. A longer line than s can hold is cut, and the
// rest of it is read and dropped. The line end is a LF, or a CR and LF; a CR
// at the end of what has arrived is held until the next byte shows which.
static int loe(char *s, size_t N)
{
	size_t m = 0;
	int cr = 0, rida = 0;

	if (vviga)
		return -1;
	for (;;) {
		if (sa == sl) {
			long r = t2ida();
			if (r < 0)
				return -1;
			if (r == 0) {
				if (cr)
					lisa(s, N, &m, "\r", 1);
				s[m < N ? m : N - 1] = '\0';
				return rida;
			}
		}
		rida = 1;
		const char *p = sisend + sa;
		const char *lf = (const char *)memchr(p, '\n', sl - sa);
		size_t n = lf ? (size_t)(lf - p) : sl - sa;
		sa = lf ? sa + n + 1 : sl;
		if (cr && n > 0)
			lisa(s, N, &m, "\r", 1);
		cr = n > 0 && p[n - 1] == '\r';
		lisa(s, N, &m, p, n - cr);
		if (lf) {
			s[m < N ? m : N - 1] = '\0';
			return 1;
		}
	}
}

// Writes out the rest of the dialogue; the exit status tells whether all of
// it was read and written.
static int l6peta(void)
{
	tyhjenda();
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
			ytle("Sarnast s\xf5na pole\n");
		} else if (d == 0) {
			ytle("See s\xf5na on olemas!\n");
		} else {
			ytle("Brelum on ");
			kirjuta_arv(d);
			ytle("\n");
			if (d == 1) {
				ytle(loetelu);
				ytle("\n");
			}
		}
	}
}
