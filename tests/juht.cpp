// juht BRELUM.EXE: drives brelum.exe over pipes made the Windows way, with
// CreatePipe, as Python's subprocess, .NET's Process and PowerShell do,
// over pipes set to PIPE_NOWAIT, as Cygwin's and MSYS2's runtime sets its
// own, and over a socket. Prints a line for each check that fails, and a
// second with what it got when there is output to show (the end of it,
// for 21000 answers); then "N passed, N failed".
//
// juht koodilehed IN OUT COMMAND: runs COMMAND at this console with its
// input code page IN and output code page OUT, which chcp cannot set apart,
// and exits with its status.
//
// juht toores COMMAND: runs COMMAND at this console with its input mode
// left as a raw-mode terminal library leaves it, and says on standard
// error the mode that COMMAND left; exits with its status.
//
// juht kirjutuskonsool BRELUM.EXE: runs brelum.exe with "koer" from a pipe
// and this console, opened for writing alone, as its output and error;
// writes the console's screen, read back, on standard error, in UTF-8.
#include <winsock2.h>

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using std::string;
using std::vector;

static const string PROMPT = "Sisesta s\xf5na: ";
static const string ON = "See s\xf5na on olemas!\r\n";
static const string KAES = "Brelum on 1\r\nkass kaer \r\n";
static const string HUNT = "Brelum on 4\r\n";
static const DWORD T = 20000; // ms that an answer may take under load

static int passed, failed;

static void vaata(const char *nimi, bool ok, const string &got = "")
{
	if (ok) {
		passed++;
		return;
	}
	failed++;
	printf("FAIL %s\n", nimi);
	if (!got.empty()) {
		printf("  got  ");
		for (char c : got.substr(0, 200))
			printf(c >= 32 && c < 127 ? "%c" : "\\x%02x",
			       (unsigned char)c);
		printf("\n");
	}
	fflush(stdout);
}

// One end of a pipe, read by a thread of its own into got, slowly when
// paus (ms between reads of tykk bytes) says so. A reader that polls has
// set its end to PIPE_NOWAIT, as Cygwin's and MSYS2's readers do, and
// looks again 5 ms after finding it empty: between its reads no read
// waits on the pipe.
struct lugeja {
	HANDLE h;
	DWORD paus, tykk;
	bool pollib, seisab; // seisab: stops for 2 s, once, after 8 KiB
	CRITICAL_SECTION cs;
	string got;
	HANDLE thread;
};

static DWORD WINAPI loe(void *a)
{
	lugeja *l = (lugeja *)a;
	char b[65536];
	DWORD r;

	for (;;) {
		if (!ReadFile(l->h, b, l->tykk, &r, NULL) || r == 0) {
			if (l->pollib && GetLastError() == ERROR_NO_DATA) {
				Sleep(5);
				continue;
			}
			break;
		}
		EnterCriticalSection(&l->cs);
		bool seisak = l->seisab && l->got.size() < 8192 &&
			      l->got.size() + r >= 8192;
		l->got.append(b, r);
		LeaveCriticalSection(&l->cs);
		Sleep(seisak ? 2000 : l->paus);
	}
	return 0;
}

static string loetud(lugeja *l)
{
	EnterCriticalSection(&l->cs);
	string s = l->got;
	LeaveCriticalSection(&l->cs);
	return s;
}

// What has been read once want has come, or the time is up.
static string oota(lugeja *l, const string &want, DWORD ms = T)
{
	DWORD end = GetTickCount() + ms;
	string s;

	while ((s = loetud(l)).size() < want.size() && GetTickCount() < end)
		Sleep(5);
	return s;
}

// Writes the parts on a thread of its own, each in writes of at most tykk
// bytes and an empty one in one empty write, until all is written or the
// pipe fails; then closes the pipe if kinni says so.
struct kirjutaja {
	HANDLE h;
	vector<string> osad;
	DWORD tykk;
	bool kinni;
	HANDLE thread;
};

static DWORD WINAPI kirjuta(void *a)
{
	kirjutaja *k = (kirjutaja *)a;
	DWORD w;

	for (const string &o : k->osad) {
		size_t i = 0;
		do {
			DWORD n = (DWORD)(o.size() - i < k->tykk ? o.size() - i
								 : k->tykk);
			if (!WriteFile(k->h, o.data() + i, n, &w, NULL))
				goto kinni;
			i += w;
		} while (i < o.size());
	}
kinni:
	if (k->kinni)
		CloseHandle(k->h);
	return 0;
}

struct brelum {
	PROCESS_INFORMATION pi;
	HANDLE sisse, v2lja, viga; // our ends of its stdin, stdout, stderr
};

// A pipe of messages, as a named pipe may be made, with its read end
// inheritable and reading whole messages; CreatePipe makes pipes of bytes.
static bool teatetoru(HANDLE *r, HANDLE *w, SECURITY_ATTRIBUTES *sa)
{
	static int k;
	char nimi[64];
	DWORD mode = PIPE_READMODE_MESSAGE;

	snprintf(nimi, sizeof nimi, "\\\\.\\pipe\\juht-%lu-%d",
		 GetCurrentProcessId(), k++);
	*w = CreateNamedPipeA(nimi, PIPE_ACCESS_OUTBOUND, PIPE_TYPE_MESSAGE, 1,
			      65536, 65536, 0, NULL);
	*r = CreateFileA(nimi, GENERIC_READ | FILE_WRITE_ATTRIBUTES, 0, sa,
			 OPEN_EXISTING, 0, NULL);
	return *w != INVALID_HANDLE_VALUE && *r != INVALID_HANDLE_VALUE &&
	       SetNamedPipeHandleState(*r, &mode, NULL, NULL);
}

// Starts exe with the standard handles si, so and se.
static bool k2ivita(PROCESS_INFORMATION *pi, const char *exe, HANDLE si,
		    HANDLE so, HANDLE se)
{
	STARTUPINFOA s = {};
	s.cb = sizeof s;
	s.dwFlags = STARTF_USESTDHANDLES;
	s.hStdInput = si;
	s.hStdOutput = so;
	s.hStdError = se;
	string cmd = string("\"") + exe + "\"";
	return CreateProcessA(NULL, &cmd[0], NULL, NULL, TRUE, 0, NULL, NULL,
			      &s, pi);
}

// Starts brelum.exe on three new pipes, those named in nowait (of "io")
// set to PIPE_NOWAIT on brelum's side, its output pipe holding puhver
// bytes, its input a pipe of messages if teated says so. With a socket, its
// output is that instead.
static bool alusta(brelum *b, const char *exe, const char *nowait,
		   DWORD puhver = 0, bool teated = false,
		   SOCKET pistik = INVALID_SOCKET)
{
	SECURITY_ATTRIBUTES sa = {sizeof sa, NULL, TRUE};
	HANDLE si, so, se;
	DWORD mode = PIPE_NOWAIT;

	if (!(teated ? teatetoru(&si, &b->sisse, &sa)
		     : CreatePipe(&si, &b->sisse, &sa, 0)) ||
	    !CreatePipe(&b->v2lja, &so, &sa, puhver) ||
	    !CreatePipe(&b->viga, &se, &sa, 0))
		return false;
	for (HANDLE h : {b->sisse, b->v2lja, b->viga})
		SetHandleInformation(h, HANDLE_FLAG_INHERIT, 0);
	if ((strchr(nowait, 'i') &&
	     !SetNamedPipeHandleState(si, &mode, NULL, NULL)) ||
	    (strchr(nowait, 'o') &&
	     !SetNamedPipeHandleState(so, &mode, NULL, NULL)))
		return false;
	BOOL ok = k2ivita(&b->pi, exe, si,
			  pistik == INVALID_SOCKET ? so : (HANDLE)pistik, se);
	CloseHandle(si);
	CloseHandle(so);
	CloseHandle(se);
	return ok;
}

// The exit status, or -1 if brelum is still running when the time is up.
static long l6pp(brelum *b, DWORD ms = T)
{
	DWORD status;

	if (WaitForSingleObject(b->pi.hProcess, ms) != WAIT_OBJECT_0) {
		TerminateProcess(b->pi.hProcess, 99);
		WaitForSingleObject(b->pi.hProcess, INFINITE);
		return -1;
	}
	GetExitCodeProcess(b->pi.hProcess, &status);
	return (long)status;
}

// What brelum wrote to standard error; it has ended.
static string vead(brelum *b)
{
	char t[4096];
	DWORD k = 0, r = 0;

	PeekNamedPipe(b->viga, NULL, 0, NULL, &k, NULL);
	if (k > 0 && !ReadFile(b->viga, t, sizeof t, &r, NULL))
		r = 0;
	return string(t, r);
}

// CPU seconds that brelum's thread has used so far.
static double cpu(brelum *b)
{
	FILETIME c, e, k, u;

	if (!GetThreadTimes(b->pi.hThread, &c, &e, &k, &u))
		return -1;
	return ((double)k.dwLowDateTime + (double)u.dwLowDateTime +
		4294967296.0 * (k.dwHighDateTime + u.dwHighDateTime)) /
	       1e7;
}

static void alusta_lugeja(lugeja *l, HANDLE h, DWORD paus = 0,
			  DWORD tykk = 65536, bool pollib = false,
			  bool seisab = false)
{
	l->h = h;
	l->paus = paus;
	l->tykk = tykk;
	l->pollib = pollib;
	l->seisab = seisab;
	InitializeCriticalSection(&l->cs);
	l->thread = CreateThread(NULL, 0, loe, l, 0, NULL);
}

static void alusta_kirjutaja(kirjutaja *k, HANDLE h, const vector<string> &osad,
			     bool kinni, DWORD tykk = 4096)
{
	k->h = h;
	k->osad = osad;
	k->tykk = tykk;
	k->kinni = kinni;
	k->thread = CreateThread(NULL, 0, kirjuta, k, 0, NULL);
}

static void saada(brelum *b, const string &s)
{
	DWORD w;

	WriteFile(b->sisse, s.data(), (DWORD)s.size(), &w, NULL);
}

// A word at a time, each prompt before the next word: so a program sees
// the dialogue that waits for it. nowait says which of brelum's pipes are
// PIPE_NOWAIT.
static void turns(const char *exe, const char *nowait)
{
	brelum b;
	lugeja l;
	string nimi = string("turns, PIPE_NOWAIT: ") + nowait;

	if (!alusta(&b, exe, nowait)) {
		vaata((nimi + ": started").c_str(), false);
		return;
	}
	alusta_lugeja(&l, b.v2lja);
	string want = PROMPT;
	string got = oota(&l, want);
	vaata((nimi + ": first prompt").c_str(), got == want, got);
	// An empty pipe waited on costs no CPU.
	double c0 = cpu(&b);
	Sleep(1000);
	double c1 = cpu(&b);
	char t[100];
	snprintf(t, sizeof t, ": a second's wait takes %.3f s of CPU", c1 - c0);
	vaata((nimi + t).c_str(), c0 >= 0 && c1 - c0 < 0.05);
	const char *s6nad[] = {"koer\r\n", "kaes\n", "hunt\r\n"};
	const string *vastused[] = {&ON, &KAES, &HUNT};
	for (int i = 0; i < 3; i++) {
		saada(&b, s6nad[i]);
		want += *vastused[i] + PROMPT;
		got = oota(&l, want);
		string s6na = s6nad[i];
		s6na.erase(s6na.find_first_of("\r\n"));
		vaata((nimi + ": answer and prompt to " + s6na).c_str(),
		      got == want, got);
	}
	saada(&b, "\r\n");
	long status = l6pp(&b);
	WaitForSingleObject(l.thread, T);
	vaata((nimi + ": exit 0, nothing on stderr").c_str(),
	      status == 0 && vead(&b).empty() && loetud(&l) == want);
}

// Thousands of words written while the answers are read, at full speed,
// slowly, or by a reader that polls its own PIPE_NOWAIT end, and may stop
// reading for a while, busy elsewhere; answers byte for byte.
static void bulk(const char *exe, const char *nowait, DWORD paus, DWORD tykk,
		 bool pollib = false, bool seisab = false)
{
	brelum b;
	lugeja l;
	kirjutaja k;
	string nimi = string("bulk, PIPE_NOWAIT: ") + nowait +
		      (pollib ? ", read by polling" : "") +
		      (seisab ? ", stopping for 2 s" : "");
	DWORD mode = PIPE_NOWAIT;
	string words, want = PROMPT;

	for (int i = 0; i < 7000; i++) {
		words += "koer\r\nkaes\r\nhunt\r\n";
		want += ON + PROMPT + KAES + PROMPT + HUNT + PROMPT;
	}
	if (!alusta(&b, exe, nowait, 4096)) {
		vaata((nimi + ": started").c_str(), false);
		return;
	}
	if (pollib && !SetNamedPipeHandleState(b.v2lja, &mode, NULL, NULL)) {
		vaata((nimi + ": the reader's end set").c_str(), false);
		return;
	}
	alusta_lugeja(&l, b.v2lja, paus, tykk, pollib, seisab);
	alusta_kirjutaja(&k, b.sisse, {words + "\r\n"}, true);
	DWORD t0 = GetTickCount();
	double c = 0;
	while (WaitForSingleObject(b.pi.hProcess, 50) == WAIT_TIMEOUT &&
	       GetTickCount() - t0 < 6 * T)
		c = cpu(&b); // its thread's times, while it has them
	double wall = (GetTickCount() - t0) / 1000.0;
	long status = l6pp(&b);
	WaitForSingleObject(l.thread, T);
	WaitForSingleObject(k.thread, T);
	string got = loetud(&l);
	vaata((nimi + ": 21000 answers").c_str(),
	      status == 0 && got == want && vead(&b).empty(),
	      got.substr(got.size() < 200 ? 0 : got.size() - 200) + vead(&b));
	if (paus > 0 || pollib) { // and so the CPU times are seen measured
		char t[100];
		snprintf(t, sizeof t, ": %.2f s of CPU in %.2f s", c, wall);
		vaata((nimi + t).c_str(), c > 0 && c < wall / 5);
	}
}

// A socket's two ends over loopback: s, made for I/O that waits, as
// ReadFile and WriteFile use it, and inheritable, is brelum's; t is ours.
static bool pistikud(SOCKET *s, SOCKET *t)
{
	WSADATA w;
	sockaddr_in a = {};
	int n = sizeof a;

	a.sin_family = AF_INET;
	a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
	if (WSAStartup(MAKEWORD(2, 2), &w) != 0)
		return false;
	SOCKET l = socket(AF_INET, SOCK_STREAM, 0);
	*s = WSASocketW(AF_INET, SOCK_STREAM, 0, NULL, 0, 0);
	bool ok = l != INVALID_SOCKET &&
		  bind(l, (sockaddr *)&a, sizeof a) == 0 && listen(l, 1) == 0 &&
		  getsockname(l, (sockaddr *)&a, &n) == 0 &&
		  connect(*s, (sockaddr *)&a, sizeof a) == 0 &&
		  (*t = accept(l, NULL, NULL)) != INVALID_SOCKET &&
		  SetHandleInformation((HANDLE)*t, HANDLE_FLAG_INHERIT, 0) &&
		  SetHandleInformation((HANDLE)*s, HANDLE_FLAG_INHERIT,
				       HANDLE_FLAG_INHERIT);
	closesocket(l);
	return ok;
}

// The reader, of a pipe or a socket, goes after the first prompt: brelum
// ends at its next write, with 1 and no message, though input is left.
static void reader_gone(const char *exe, bool pistik)
{
	brelum b;
	kirjutaja k;
	char t[64];
	DWORD r, n = 0;
	SOCKET s = INVALID_SOCKET, u = INVALID_SOCKET;
	string nimi = string("reader gone, ") + (pistik ? "socket" : "pipe");

	if ((pistik && !pistikud(&s, &u)) ||
	    !alusta(&b, exe, "", 0, false, s)) {
		vaata((nimi + ": started").c_str(), false);
		return;
	}
	if (pistik) {
		closesocket(s);
		int m;
		while (n < PROMPT.size() &&
		       (m = recv(u, t + n, (int)(PROMPT.size() - n), 0)) > 0)
			n += (DWORD)m;
		closesocket(u);
	} else {
		while (n < PROMPT.size() &&
		       ReadFile(b.v2lja, t + n, (DWORD)(PROMPT.size() - n), &r,
				NULL))
			n += r;
	}
	CloseHandle(b.v2lja);
	string words;
	for (int i = 0; i < 20000; i++)
		words += "koer\r\n";
	alusta_kirjutaja(&k, b.sisse, {words}, false);
	long status = l6pp(&b);
	string err = vead(&b);
	vaata((nimi + ": ends with 1, nothing on stderr").c_str(),
	      string(t, n) == PROMPT && status == 1 && err.empty(),
	      string(t, n) + err + " status " + std::to_string(status));
	CloseHandle(b.sisse);
	WaitForSingleObject(k.thread, T);
}

// A PIPE_NOWAIT pipe of 64 bytes, all but 6 full, as both standard output
// and error, read 8 bytes at a time, more slowly than brelum's longest wait
// frees room for the error line, and no input: the prompt, then the whole
// error line.
static void full_stderr(const char *exe)
{
	SECURITY_ATTRIBUTES sa = {sizeof sa, NULL, TRUE};
	PROCESS_INFORMATION pi;
	HANDLE r, w;
	DWORD mode = PIPE_NOWAIT, k;
	string t(58, 'x');
	lugeja l;
	const char *nimi =
		"PIPE_NOWAIT stdout and stderr, all but 6 bytes full";

	if (!CreatePipe(&r, &w, &sa, 64) ||
	    !SetHandleInformation(r, HANDLE_FLAG_INHERIT, 0) ||
	    !WriteFile(w, t.data(), (DWORD)t.size(), &k, NULL) ||
	    !SetNamedPipeHandleState(w, &mode, NULL, NULL) ||
	    !k2ivita(&pi, exe, NULL, w, w)) {
		vaata((string(nimi) + ": started").c_str(), false);
		return;
	}
	CloseHandle(w);
	alusta_lugeja(&l, r, 20, 8);
	brelum b = {pi, NULL, NULL, NULL};
	long status = l6pp(&b);
	WaitForSingleObject(l.thread, T);
	string got =
		loetud(&l).substr(t.size() < loetud(&l).size() ? t.size() : 0);
	vaata(nimi,
	      status == 1 && got.rfind(PROMPT + "brelum: stdin: ", 0) == 0 &&
		      got.size() > 30 && got.substr(got.size() - 2) == "\r\n",
	      got);
}

// The parts written, each in one write, to a pipe of bytes or, if teated
// says so, of messages; then the pipe closed. Every answer, status 0 and
// nothing on standard error.
static void fed(const char *exe, const char *nimi, bool teated,
		const vector<string> &osad, const string &want)
{
	brelum b;
	lugeja l;
	kirjutaja k;

	if (!alusta(&b, exe, "", 0, teated)) {
		vaata((string(nimi) + ": started").c_str(), false);
		return;
	}
	alusta_lugeja(&l, b.v2lja);
	alusta_kirjutaja(&k, b.sisse, osad, true, 0xffffffff);
	long status = l6pp(&b);
	WaitForSingleObject(l.thread, T);
	WaitForSingleObject(k.thread, T);
	string got = loetud(&l), err = vead(&b);
	vaata(nimi, got == want && status == 0 && err.empty(), got + err);
}

// The server of a named pipe that is brelum's input writes words, waits
// until they are read, and disconnects, as Microsoft's examples of pipe
// servers end: every word is answered, the last too, which has no line end,
// and then the error is told.
static void server_gone(const char *exe)
{
	SECURITY_ATTRIBUTES sa = {sizeof sa, NULL, TRUE};
	brelum b;
	lugeja l;
	DWORD w;
	const char *nimi = "named pipe, its server disconnected";
	char t[64];

	snprintf(t, sizeof t, "\\\\.\\pipe\\juht-%lu-server",
		 GetCurrentProcessId());
	HANDLE s = CreateNamedPipeA(t, PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE, 1,
				    65536, 65536, 0, NULL);
	HANDLE si =
		CreateFileA(t, GENERIC_READ, 0, &sa, OPEN_EXISTING, 0, NULL);
	HANDLE so, se;
	if (s == INVALID_HANDLE_VALUE || si == INVALID_HANDLE_VALUE ||
	    !CreatePipe(&b.v2lja, &so, &sa, 0) ||
	    !CreatePipe(&b.viga, &se, &sa, 0) ||
	    !SetHandleInformation(b.v2lja, HANDLE_FLAG_INHERIT, 0) ||
	    !SetHandleInformation(b.viga, HANDLE_FLAG_INHERIT, 0) ||
	    !k2ivita(&b.pi, exe, si, so, se)) {
		vaata((string(nimi) + ": started").c_str(), false);
		return;
	}
	CloseHandle(si);
	CloseHandle(so);
	CloseHandle(se);
	alusta_lugeja(&l, b.v2lja);
	WriteFile(s, "koer\r\nkaes", 10, &w, NULL); // the last without its end
	FlushFileBuffers(s);
	DisconnectNamedPipe(s);
	long status = l6pp(&b);
	WaitForSingleObject(l.thread, T);
	string got = loetud(&l), err = vead(&b);
	vaata(nimi,
	      got == PROMPT + ON + PROMPT + KAES + PROMPT && status == 1 &&
		      err.rfind("brelum: stdin: ", 0) == 0,
	      got + err);
	CloseHandle(s);
}

// What the process that a command line starts exits with, or 2.
static int oota_l6ppu(char *cmd, STARTUPINFOA *si)
{
	PROCESS_INFORMATION pi;
	DWORD status;

	si->cb = sizeof *si;
	if (!CreateProcessA(NULL, cmd, NULL, NULL, TRUE, 0, NULL, NULL, si,
			    &pi) ||
	    WaitForSingleObject(pi.hProcess, INFINITE) != WAIT_OBJECT_0 ||
	    !GetExitCodeProcess(pi.hProcess, &status))
		return 2;
	return (int)status;
}

static void stderr_ile(const string &s)
{
	DWORD w;

	WriteFile(GetStdHandle(STD_ERROR_HANDLE), s.data(), (DWORD)s.size(), &w,
		  NULL);
}

// libuv's raw mode (uv_tty_set_mode) leaves ENABLE_WINDOW_INPUT alone.
static int toores(char *cmd)
{
	HANDLE h = GetStdHandle(STD_INPUT_HANDLE);
	STARTUPINFOA si = {};
	DWORD enne, m = 0;
	char t[100];

	if (!GetConsoleMode(h, &enne) ||
	    !SetConsoleMode(h, ENABLE_WINDOW_INPUT))
		return 2;
	int status = oota_l6ppu(cmd, &si);
	GetConsoleMode(h, &m);
	SetConsoleMode(h, enne);
	snprintf(t, sizeof t, "input mode after: %#lx\n", (unsigned long)m);
	stderr_ile(t);
	return status;
}

static int kirjutuskonsool(char *exe)
{
	SECURITY_ATTRIBUTES sa = {sizeof sa, NULL, TRUE};
	STARTUPINFOA si = {};
	HANDLE r, w;
	DWORD k;
	string cmd = string("\"") + exe + "\"";

	HANDLE c = CreateFileA("CONOUT$", GENERIC_WRITE,
			       FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
			       OPEN_EXISTING, 0, NULL);
	if (c == INVALID_HANDLE_VALUE || !CreatePipe(&r, &w, &sa, 0) ||
	    !SetHandleInformation(w, HANDLE_FLAG_INHERIT, 0) ||
	    !WriteFile(w, "koer\r\n\r\n", 8, &k, NULL))
		return 2;
	CloseHandle(w);
	si.dwFlags = STARTF_USESTDHANDLES;
	si.hStdInput = r;
	si.hStdOutput = c;
	si.hStdError = c;
	int status = oota_l6ppu(&cmd[0], &si);
	// The screen's rows down to the cursor's, each without its trailing
	// blanks.
	HANDLE l = CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE,
			       FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
			       OPEN_EXISTING, 0, NULL);
	CONSOLE_SCREEN_BUFFER_INFO i;
	if (!GetConsoleScreenBufferInfo(l, &i))
		return 2;
	string ekraan;
	for (SHORT y = 0; y <= i.dwCursorPosition.Y; y++) {
		wchar_t rida[512];
		char u[4 * 512];
		DWORD n = i.dwSize.X < 512 ? (DWORD)i.dwSize.X : 512;
		if (!ReadConsoleOutputCharacterW(l, rida, n, {0, y}, &n))
			return 2;
		while (n > 0 && rida[n - 1] == L' ')
			n--;
		int m = WideCharToMultiByte(CP_UTF8, 0, rida, (int)n, u,
					    sizeof u, NULL, NULL);
		ekraan.append(u, (size_t)m).append("\n");
	}
	stderr_ile(ekraan);
	return status;
}

static int koodilehed(UINT in, UINT out, char *cmd)
{
	STARTUPINFOA si = {};

	if (!SetConsoleCP(in) || !SetConsoleOutputCP(out))
		return 2;
	return oota_l6ppu(cmd, &si);
}

int main(int argc, char **argv)
{
	if (argc == 5 && strcmp(argv[1], "koodilehed") == 0)
		return koodilehed((UINT)atoi(argv[2]), (UINT)atoi(argv[3]),
				  argv[4]);
	if (argc == 3 && strcmp(argv[1], "toores") == 0)
		return toores(argv[2]);
	if (argc == 3 && strcmp(argv[1], "kirjutuskonsool") == 0)
		return kirjutuskonsool(argv[2]);
	if (argc != 2) {
		fprintf(stderr, "usage: juht BRELUM.EXE\n");
		return 2;
	}
	turns(argv[1], "");
	turns(argv[1], "i");
	bulk(argv[1], "", 0, 65536);
	bulk(argv[1], "o", 2, 1024);
	bulk(argv[1], "o", 0, 65536, true);
	bulk(argv[1], "o", 0, 65536, true, true);
	reader_gone(argv[1], false);
	reader_gone(argv[1], true);
	full_stderr(argv[1]);
	server_gone(argv[1]);
	// The writer gone after a word, with no empty line: ERROR_BROKEN_PIPE
	// is the end of the input.
	fed(argv[1], "writer gone after a word", false, {"koer\r\n"},
	    PROMPT + ON + PROMPT);
	// A pipe of messages: an empty one is a read of 0 bytes, not the end,
	// and one longer than brelum's buffer comes in several reads, each
	// part of it words to answer.
	fed(argv[1], "messages: an empty one between words", true,
	    {"koer\r\n", "", "kaes\r\n", "\r\n"},
	    PROMPT + ON + PROMPT + KAES + PROMPT);
	string pikk, vastused = PROMPT;
	for (int i = 0; i < 3888; i++) {
		pikk += "koer\r\nkaes\r\nhunt\r\n";
		vastused += ON + PROMPT + KAES + PROMPT + HUNT + PROMPT;
	}
	pikk += "kala\r\nkas\r\nkaar\n"; // 70000 bytes in all
	vastused += "Brelum on 2\r\n" + PROMPT + "Sarnast s\xf5na pole\r\n" +
		    PROMPT + "Brelum on 1\r\nkaer \r\n" + PROMPT;
	fed(argv[1], "messages: one of 70000 bytes", true, {pikk, "\r\n"},
	    vastused);
	printf("%d passed, %d failed\n", passed, failed);
	return failed > 0;
}
