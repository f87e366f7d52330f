// Fuzzes the whole dialogue: the input goes to brelum's standard input, and
// everything it writes is checked against a plain model of the dialogue,
// built here from the rules rather than from brelum's code. Build it with
// tiny stream buffers (-DBRELUM_PUHVER=5) so that line ends, CR and LF pairs,
// NULs and long lines fall across buffer boundaries.
#define main brelum_main
#include "../main.cpp"
#undef main

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/mman.h>

static const std::string prompt = "Sisesta s\xf5na: ";

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
// after each word, up to an empty line or the end of the input.
static std::string dialogue(const std::string &in)
{
	std::string out = prompt;
	for (size_t at = 0; at < in.size();) {
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
	}
	return out;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	static int in = memfd_create("in", 0), out = memfd_create("out", 0);
	static int stdin0 = dup(0), stdout0 = dup(1);
	static char got[1 << 20];

	if (size > sizeof got / 4) // room for every line's answer
		return -1;
	if (ftruncate(in, 0) || pwrite(in, data, size, 0) != (ssize_t)size ||
	    lseek(in, 0, SEEK_SET) || ftruncate(out, 0) ||
	    lseek(out, 0, SEEK_SET))
		abort();
	dup2(in, 0);
	dup2(out, 1);
	sa = sl = vn = 0;
	l6pp = sviga = vviga = 0;
	int status = brelum_main();
	dup2(stdin0, 0);
	dup2(stdout0, 1);

	ssize_t n = pread(out, got, sizeof got, 0);
	std::string want = dialogue(std::string((const char *)data, size));
	if (status != 0 || n < 0 || std::string(got, (size_t)n) != want) {
		fprintf(stderr, "status %d, %zd bytes written, %zu expected\n",
			status, n, want.size());
		abort();
	}
	return 0;
}
