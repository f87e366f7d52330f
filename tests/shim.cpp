// Preloaded into brelum by the dialogue tests (LD_PRELOAD), so that the
// system answers as other systems and faults do:
//   SHIM_EIO=N     the N-th write to standard output fails with EIO, once;
//   SHIM_WRITE0=N  the N-th write to standard output writes nothing, once;
//   SHIM_READ=EIO or EINTR  the first read of standard input fails so;
//   SHIM_CLOSE=1   closing standard output fails with EIO, as NFS may tell
//                  a failed write back.
#include <dlfcn.h>
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

extern "C" ssize_t write(int fd, const void *p, size_t n)
{
	using write_t = ssize_t (*)(int, const void *, size_t);
	static write_t real = (write_t)dlsym(RTLD_NEXT, "write");
	static long writes;
	const char *eio = getenv("SHIM_EIO"), *zero = getenv("SHIM_WRITE0");

	if (fd == 1)
		writes++;
	if (fd == 1 && eio != NULL && writes == atol(eio)) {
		errno = EIO;
		return -1;
	}
	if (fd == 1 && zero != NULL && writes == atol(zero))
		return 0;
	return real(fd, p, n);
}

extern "C" ssize_t read(int fd, void *p, size_t n)
{
	using read_t = ssize_t (*)(int, void *, size_t);
	static read_t real = (read_t)dlsym(RTLD_NEXT, "read");
	static int failed;
	const char *how = getenv("SHIM_READ");

	if (fd == 0 && how != NULL && !failed++) {
		errno = strcmp(how, "EIO") == 0 ? EIO : EINTR;
		return -1;
	}
	return real(fd, p, n);
}

extern "C" int close(int fd)
{
	using close_t = int (*)(int);
	static close_t real = (close_t)dlsym(RTLD_NEXT, "close");

	if (fd == 1 && getenv("SHIM_CLOSE") != NULL && real(fd) == 0) {
		errno = EIO;
		return -1;
	}
	return real(fd);
}
