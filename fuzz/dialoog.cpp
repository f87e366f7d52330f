// Fuzzes the whole dialogue: the input goes to brelum's standard input, once
// from a file and once through a pipe a line at a time. Everything it
// writes and its status are checked against a plain model of the dialogue,
// built here from the rules rather than from brelum's code; its standard
// error must be empty, or after status 1 one line that names stdin. Build
// it with tiny stream buffers (-DBRELUM_PUHVER=5) so that line ends, CR and
// LF pairs, NULs and long lines fall across buffer boundaries.
// Through the pipe the input's first three bytes come one at a time, so that
// a byte-order mark is split at every point.
#define main brelum_main
#include "../main.cpp"
#undef main

#include <atomic>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <poll.h>
#include <sanitizer/common_interface_defs.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <thread>
#include <vector>

static const std::string prompt = "Sisesta s\xf5na: ";
static int stdin0 = -1, stdout0 = -1, stderr0 = -1; // the fuzzer's own
static int ferr = -1; // brelum's standard error, a file in memory

// The answer to one word, from the rules.
static std::string verdict(const std::string &s6na)
{
	const char *known[] = {"koer", "kass", "elevant", "kaer"};
	int best = -1;
	std::string near;
	for (std::string w : known) {
		if (w.size() != s6na.size())
			continue;
		int d = 0;
		for (size_t i = 0; i < w.size(); i++)
			d += w[i] != s6na[i];
		if (d == 0)
			return "See s\xf5na on olemas!\n";
		if (best == -1 || d < best)
			best = d;
		if (d == 1)
			near += w + " ";
	}
	if (best == -1)
		return "Sarnast s\xf5na pole\n";
	std::string v = "Brelum on " + std::to_string(best) + "\n";
	return best == 1 ? v + near + "\n" : v;
}

// The whole dialogue for an input: a prompt before each line, one answer
// after each word, up to an empty line or the end of the input. Each turn
// that ends at a line feed is noted as where the line ends in the input and
// how much of the dialogue is written once the line is answered. A UTF-8
// byte-order mark at the very start is not part of the first word; input
// that starts with a UTF-16 one gets the first prompt, one line on standard
// error and status 1.
static std::string dialogue(const std::string &in,
			    std::vector<std::pair<size_t, size_t>> *turns,
			    int *status)
{
	std::string out = prompt;
	*status = 0;
	if (in.compare(0, 2, "\xff\xfe") == 0 ||
	    in.compare(0, 2, "\xfe\xff") == 0) {
		*status = 1;
		return out;
	}
	size_t at = in.compare(0, 3, "\xef\xbb\xbf") == 0 ? 3 : 0;
	while (at < in.size()) {
		size_t lf = in.find('\n', at);
		size_t end = lf == std::string::npos ? in.size() : lf;
		std::string line = in.substr(at, end - at);
		if (lf != std::string::npos && !line.empty() &&
		    line.back() == '\r')
			line.pop_back();
		std::string s6na = line.substr(0, line.find('\0'));
		if (s6na.empty())
			break;
		out += verdict(s6na.substr(0, 39)) + prompt;
		at = end + 1;
		if (lf != std::string::npos)
			turns->emplace_back(at, out.size());
	}
	return out;
}

// Reads from fd onto got until it holds n bytes or fd ends: false if
// nothing came for ms milliseconds.
static bool read_until(int fd, std::string &got, size_t n, int ms)
{
	char b[4096];
	while (got.size() < n) {
		struct pollfd f = {fd, POLLIN, 0};
		if (poll(&f, 1, ms) != 1)
			return false;
		ssize_t r = read(fd, b, sizeof b);
		if (r <= 0)
			return true;
		got.append(b, (size_t)r);
	}
	return true;
}

static void write_all(int fd, const char *p, size_t n)
{
	for (ssize_t w; n > 0; p += w, n -= (size_t)w)
		if ((w = write(fd, p, n)) < 0)
			return; // brelum has ended and closed its input
}

// Whether brelum has read all that was written to its input, or has ended;
// false if it has done neither in two seconds.
static bool drained(int fd, const std::atomic<bool> &ended)
{
	for (int i = 0; i < 20000; i++) {
		int n;
		if (ioctl(fd, FIONREAD, &n))
			abort();
		if (n == 0 || ended)
			return true;
		usleep(100);
	}
	return false;
}

// Each input starts brelum afresh, its standard error empty.
static void reset(void)
{
	sa = sl = vn = 0;
	l6pp = sviga = vviga = 0;
	algus = 1;
	if (ftruncate(ferr, 0) || lseek(ferr, 0, SEEK_SET) < 0)
		abort();
	dup2(ferr, 2);
}

// What a file in memory holds.
static std::string contents(int fd)
{
	struct stat st;

	if (fstat(fd, &st))
		abort();
	std::string s((size_t)st.st_size, '\0');
	if (pread(fd, &s[0], s.size(), 0) != st.st_size)
		abort();
	return s;
}

// Gives the fuzzer its own standard streams back: brelum's standard error.
static std::string restore(void)
{
	dup2(stdin0, 0);
	dup2(stdout0, 1);
	dup2(stderr0, 2);
	return contents(ferr);
}

// Input from a file: all of it is there at once.
static std::string from_file(const std::string &in, int *status,
			     std::string *err)
{
	static int fin = memfd_create("in", 0), fout = memfd_create("out", 0);

	if (ftruncate(fin, 0) ||
	    pwrite(fin, in.data(), in.size(), 0) != (ssize_t)in.size() ||
	    lseek(fin, 0, SEEK_SET) || ftruncate(fout, 0) ||
	    lseek(fout, 0, SEEK_SET))
		abort();
	dup2(fin, 0);
	dup2(fout, 1);
	reset();
	*status = brelum_main();
	*err = restore();
	return contents(fout);
}

// Input from a program that writes one line, then waits for its answer and
// the next prompt before it writes the next: brelum must have written them
// out before it waits for that line. A stuck turn is one whose output never
// came; its input is then closed, so that brelum ends.
static std::string
turn_by_turn(const std::string &in,
	     const std::vector<std::pair<size_t, size_t>> &turns, int *status,
	     std::string *err, bool *stuck)
{
	int fin[2], fout[2];
	std::string got;
	std::atomic<bool> ended{false};

	if (pipe(fin) || pipe(fout))
		abort();
	int probe = dup(fin[0]); // sees how much brelum has yet to read
	std::thread peer([&] {
		size_t at = 0;
		for (; at < 3 && at < in.size() && !*stuck; at++) {
			write_all(fin[1], in.data() + at, 1);
			*stuck = !drained(probe, ended);
		}
		close(probe);
		for (auto t : turns) {
			if (*stuck)
				break;
			if (t.first > at)
				write_all(fin[1], in.data() + at, t.first - at);
			at = t.first > at ? t.first : at;
			if (!read_until(fout[0], got, t.second, 2000)) {
				*stuck = true;
				break;
			}
		}
		if (!*stuck)
			write_all(fin[1], in.data() + at, in.size() - at);
		close(fin[1]);
		read_until(fout[0], got, SIZE_MAX, 10000);
		close(fout[0]);
	});
	dup2(fin[0], 0);
	dup2(fout[1], 1);
	close(fin[0]);
	close(fout[1]);
	reset();
	*status = brelum_main();
	ended = true;
	*err = restore(); // closes the pipes' ends, so the peer sees the end
	peer.join();
	return got;
}

// An error is one line that names standard input; without one, nothing is
// written to standard error.
static void check(const char *how, const std::string &got,
		  const std::string &want, int status, int want_status,
		  const std::string &err, bool stuck)
{
	bool told = err.rfind("brelum: stdin: ", 0) == 0 &&
		    err.find('\n') == err.size() - 1;
	if (status == want_status && !stuck && got == want &&
	    (status ? told : err.empty()))
		return;
	fprintf(stderr,
		"%s: status %d (%d expected), %zu bytes written, %zu "
		"expected, %zu on standard error%s\n",
		how, status, want_status, got.size(), want.size(), err.size(),
		stuck ? ", stuck: a prompt or a read never came" : "");
	abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	std::string in((const char *)data, size);
	std::vector<std::pair<size_t, size_t>> turns;
	int want_status, status;
	std::string want = dialogue(in, &turns, &want_status), err;
	bool stuck = false;

	if (stdin0 < 0) {
		stdin0 = dup(0);
		stdout0 = dup(1);
		stderr0 = dup(2);
		ferr = memfd_create("err", 0);
		// A sanitizer's report of a fault in brelum still reaches
		// the fuzzer's own standard error.
		__sanitizer_set_report_fd((void *)(intptr_t)stderr0);
		signal(SIGPIPE,
		       SIG_IGN); // the peer writes on after brelum ends
	}
	std::string got = from_file(in, &status, &err);
	check("file", got, want, status, want_status, err, false);
	got = turn_by_turn(in, turns, &status, &err, &stuck);
	check("pipe", got, want, status, want_status, err, stuck);
	return 0;
}
