// For comparison only: the same dialogue written the plain way, with stdio,
// flushing the prompt every turn so that it is seen before each read.
#include <cstdio>
#include <cstring>

static int distance(const char *a, const char *b)
{
	size_t n = strlen(a);
	if (strlen(b) != n)
		return -1;
	int d = 0;
	for (size_t i = 0; i < n; i++)
		d += a[i] != b[i];
	return d;
}

int main()
{
	const char *words[] = {"koer", "kass", "elevant", "kaer"};
	char line[4096];

	for (;;) {
		printf("Sisesta s\xf5na: ");
		fflush(stdout);
		if (!fgets(line, sizeof line, stdin))
			return 0;
		line[strcspn(line, "\r\n")] = '\0';
		if (line[0] == '\0')
			return 0;
		int best = -1;
		char near[64] = "";
		for (const char *w : words) {
			int d = distance(line, w);
			if (d == 0) {
				best = 0;
				break;
			}
			if (d > 0 && (best == -1 || d < best))
				best = d;
			if (d == 1)
				strcat(strcat(near, w), " ");
		}
		if (best == -1)
			puts("Sarnast s\xf5na pole");
		else if (best == 0)
			puts("See s\xf5na on olemas!");
		else if (best == 1)
			printf("Brelum on %d\n%s\n", best, near);
		else
			printf("Brelum on %d\n", best);
	}
}
