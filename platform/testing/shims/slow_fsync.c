// A slow disk for tests: loaded with LD_PRELOAD, it makes every fsync and fdatasync of the process
// take 150 ms longer before it reaches the C library. The "slowdisk" tests run the analytics
// front end's tests with it, so that no test depends on how fast the disk makes data durable.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <time.h>

static void waitForTheDisk(void) {
  struct timespec left = {0, 150 * 1000 * 1000};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

int fsync(int fd) {
  static int (*next)(int);
  if (!next) next = (int (*)(int))dlsym(RTLD_NEXT, "fsync");
  waitForTheDisk();
  return next(fd);
}

int fdatasync(int fd) {
  static int (*next)(int);
  if (!next) next = (int (*)(int))dlsym(RTLD_NEXT, "fdatasync");
  waitForTheDisk();
  return next(fd);
}
