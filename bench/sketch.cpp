// For comparison only: the least work a word of brelum's design takes.
// The input is read in 64 KiB blocks and each line answered into a 64 KiB
// buffer, written out when full and at the end, with plain loops and no
// library calls. No terminal, no error told, no prompt written out before
// a read. Windows gets its line ends as CR LF, written in the messages.
#ifdef _WIN32
#include <windows.h>
#define NL "\r\n"
#else
#include <unistd.h>
#define NL "\n"
#endif

static char in[65536], out[65536];
static unsigned n;

static long fill(void)
{
#ifdef _WIN32
	DWORD r;
	return ReadFile(GetStdHandle(STD_INPUT_HANDLE), in, sizeof in, &r, NULL)
		       ? (long)r
		       : 0;
#else
	return (long)read(0, in, sizeof in);
#endif
}

static void flush(void)
{
#ifdef _WIN32
	DWORD w;
	WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), out, n, &w, NULL);
#else
	if (write(1, out, n) < 0)
		return;
#endif
	n = 0;
}

static void put(const char *s)
{
	for (; *s != '\0'; s++) {
		if (n == sizeof out)
			flush();
		out[n++] = *s;
	}
}

static int distance(const char *a, const char *b)
{
	int d = 0;
	int i;

	for (i = 0; a[i] != '\0' && b[i] != '\0'; i++)
		d += a[i] != b[i];
	return a[i] == b[i] ? d : -1;
}

// Answers one word; 0 for the empty line that ends the dialogue.
static int answer(const char *w)
{
	static const char *const words[] = {"koer", "kass", "elevant", "kaer"};
	char digit[2] = {0, 0};
	int best = -1;
	const char *nearby[4];
	int m = 0;

	if (w[0] == '\0')
		return 0;
	for (const char *s : words) {
		int d = distance(w, s);
		if (d == 0) {
			best = 0;
			break;
		}
		if (d > 0 && (best == -1 || d < best))
			best = d;
		if (d == 1)
			nearby[m++] = s;
	}
	if (best == -1) {
		put("Sarnast s\xf5na pole" NL);
	} else if (best == 0) {
		put("See s\xf5na on olemas!" NL);
	} else {
		digit[0] = (char)('0' + best); // at most 7
		put("Brelum on ");
		put(digit);
		put(NL);
		if (best == 1) {
			for (int i = 0; i < m; i++) {
				put(nearby[i]);
				put(" ");
			}
			put(NL);
		}
	}
	put("Sisesta s\xf5na: ");
	return 1;
}

int main()
{
	char word[40];
	unsigned k = 0;
	long r;

	put("Sisesta s\xf5na: ");
	while ((r = fill()) > 0) {
		for (long i = 0; i < r; i++) {
			char c = in[i];
			if (c != '\n') {
				if (k < sizeof word - 1)
					word[k++] = c;
				continue;
			}
			if (k > 0 && word[k - 1] == '\r')
				k--;
			word[k] = '\0';
			k = 0;
			if (!answer(word)) {
				flush();
				return 0;
			}
		}
	}
	word[k] = '\0';
	if (k > 0)
		answer(word);
	flush();
	return 0;
}
