// koodilehed IN OUT COMMAND: runs COMMAND at a console whose input code page
// is IN and output code page is OUT, and exits with its status. wine's chcp,
// like Windows's, sets both to one.
#include <windows.h>

#include <cstdlib>

int main(int argc, char **argv)
{
	STARTUPINFOA si = {};
	PROCESS_INFORMATION pi;
	DWORD status;

	if (argc != 4 || !SetConsoleCP((UINT)atoi(argv[1])) ||
	    !SetConsoleOutputCP((UINT)atoi(argv[2])))
		return 2;
	si.cb = sizeof si;
	if (!CreateProcessA(NULL, argv[3], NULL, NULL, TRUE, 0, NULL, NULL, &si,
			    &pi))
		return 2;
	WaitForSingleObject(pi.hProcess, INFINITE);
	if (!GetExitCodeProcess(pi.hProcess, &status))
		return 2;
	return (int)status;
}
