/*
 * fail_alloc.cpp -- a shim preloaded (LD_PRELOAD) into a program by the
 * allocation-failure tests: it counts the calls of malloc, calloc and
 * realloc that the program makes from the start of main on, and makes one
 * of them fail as an exhausted heap does (null, errno ENOMEM).
 *
 *   VABO_FAIL_ALLOC=N       the N-th counted call fails (from 1); unset or
 *                           0: none fails
 *   VABO_ALLOC_COUNT=FILE   at exit, the number of calls counted is written
 *                           to FILE as a decimal line
 *
 * What the C and C++ runtimes allocate while the process starts is neither
 * counted nor failed: counting begins when __libc_start_main hands over to
 * main.  The allocation functions themselves are failing_allocator.h's.
 */
#include "failing_allocator.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace {

long FailAt = 0;       /* the call that fails; 0: none */
long Counted = 0;      /* calls counted so far */
bool Counting = false; /* main has started */

using MainFunction = int (*)(int, char **, char **);
MainFunction RealMain = nullptr;

int counting_main(int argc, char **argv, char **envp)
{
  const char *at = std::getenv("VABO_FAIL_ALLOC");
  FailAt = at ? std::strtol(at, nullptr, 10) : 0;
  Counting = true;
  return RealMain(argc, argv, envp);
}

/* Writes the count to the file named by VABO_ALLOC_COUNT, with system calls
 * only (the heap may be the thing that failed). */
[[gnu::destructor]] void report_count()
{
  Counting = false;
  const char *path = std::getenv("VABO_ALLOC_COUNT");
  if (!path) return;
  char text[32];
  const int length = std::snprintf(text, sizeof text, "%ld\n", Counted);
  const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd < 0) return;
  if (length > 0 && write(fd, text, static_cast<size_t>(length)) < 0) {
    /* nothing to be done: the test sees a missing count */
  }
  close(fd);
}

} // namespace

namespace vabo_alloc {
bool fails_now()
{
  if (!Counting) return false;
  return ++Counted == FailAt;
}
void taken(void *) {}
void released(size_t) {}
} // namespace vabo_alloc

extern "C" {

/* Hands main over wrapped, so that counting starts with it. */
int __libc_start_main(MainFunction main, int argc, char **argv,
                      void (*init)(void), void (*fini)(void),
                      void (*rtld_fini)(void), void *stack_end)
{
  using StartMain = int (*)(MainFunction, int, char **, void (*)(void),
                            void (*)(void), void (*)(void), void *);
  auto real =
      reinterpret_cast<StartMain>(dlsym(RTLD_NEXT, "__libc_start_main"));
  if (!real) _exit(127);
  RealMain = main;
  return real(counting_main, argc, argv, init, fini, rtld_fini, stack_end);
}

} // extern "C"
