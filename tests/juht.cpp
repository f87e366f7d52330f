// juht BRELUM.EXE: drives brelum.exe over pipes made the Windows way, with
// CreatePipe, as Python's subprocess, .NET's Process and PowerShell do, and
// over pipes set to PIPE_NOWAIT, as Cygwin's and MSYS2's runtime sets its
// own. Prints a line for each check that fails, and a second with the
// first 200 bytes of what it got when there is output to show; then
// "N passed, N failed".
//
// juht koodilehed IN OUT COMMAND: runs COMMAND at this console with its
// input code page IN and output code page OUT, which chcp cannot set apart,
// and exits with its status.
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
	bool pollib;
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
		l->got.append(b, r);
		LeaveCriticalSection(&l->cs);
		Sleep(l->paus);
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

// Starts brelum.exe on three new pipes, those named in nowait (of "io")
// set to PIPE_NOWAIT on brelum's side, its output pipe holding puhver
// bytes, its input a pipe of messages if teated says so.
static bool alusta(brelum *b, const char *exe, const char *nowait,
		   DWORD puhver = 0, bool teated = false)
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
	STARTUPINFOA s = {};
	s.cb = sizeof s;
	s.dwFlags = STARTF_USESTDHANDLES;
	s.hStdInput = si;
	s.hStdOutput = so;
	s.hStdError = se;
	string cmd = string("\"") + exe + "\"";
	BOOL ok = CreateProcessA(NULL, &cmd[0], NULL, NULL, TRUE, 0, NULL, NULL,
				 &s, &b->pi);
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
			  DWORD tykk = 65536, bool pollib = false)
{
	l->h = h;
	l->paus = paus;
	l->tykk = tykk;
	l->pollib = pollib;
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
// slowly, or by a reader that polls its own PIPE_NOWAIT end; answers byte
// for byte.
static void bulk(const char *exe, const char *nowait, DWORD paus, DWORD tykk,
		 bool pollib = false)
{
	brelum b;
	lugeja l;
	kirjutaja k;
	string nimi = string("bulk, PIPE_NOWAIT: ") + nowait +
		      (pollib ? ", read by polling" : "");
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
	alusta_lugeja(&l, b.v2lja, paus, tykk, pollib);
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

// The reader goes after the first prompt: brelum ends at its next write,
// with 1 and no message, though input is left.
static void reader_gone(const char *exe)
{
	brelum b;
	kirjutaja k;
	char t[64];
	DWORD r, n = 0;

	if (!alusta(&b, exe, "")) {
		vaata("reader gone: started", false);
		return;
	}
	while (n < PROMPT.size() &&
	       ReadFile(b.v2lja, t + n, (DWORD)(PROMPT.size() - n), &r, NULL))
		n += r;
	CloseHandle(b.v2lja);
	string words;
	for (int i = 0; i < 20000; i++)
		words += "koer\r\n";
	alusta_kirjutaja(&k, b.sisse, {words}, false);
	long status = l6pp(&b);
	string err = vead(&b);
	vaata("reader gone: ends with 1, nothing on stderr",
	      string(t, n) == PROMPT && status == 1 && err.empty(), err);
	CloseHandle(b.sisse);
	WaitForSingleObject(k.thread, T);
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

static int koodilehed(UINT in, UINT out, char *cmd)
{
	STARTUPINFOA si = {};
	PROCESS_INFORMATION pi;
	DWORD status;

	if (!SetConsoleCP(in) || !SetConsoleOutputCP(out))
		return 2;
	si.cb = sizeof si;
	if (!CreateProcessA(NULL, cmd, NULL, NULL, TRUE, 0, NULL, NULL, &si,
			    &pi))
		return 2;
	WaitForSingleObject(pi.hProcess, INFINITE);
	if (!GetExitCodeProcess(pi.hProcess, &status))
		return 2;
	return (int)status;
}

int main(int argc, char **argv)
{
	if (argc == 5 && strcmp(argv[1], "koodilehed") == 0)
		return koodilehed((UINT)atoi(argv[2]), (UINT)atoi(argv[3]),
				  argv[4]);
	if (argc != 2) {
		fprintf(stderr, "usage: juht BRELUM.EXE\n");
		return 2;
	}
	turns(argv[1], "");
	turns(argv[1], "i");
	bulk(argv[1], "", 0, 65536);
	bulk(argv[1], "o", 2, 1024);
	bulk(argv[1], "o", 0, 65536, true);
	reader_gone(argv[1]);
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
