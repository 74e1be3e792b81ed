/*
 * timed_run.c -- runs one command for bench/scale.sh and measures it: the
 * wall time from fork to exit, the peak resident memory and the processor
 * time of the child.  Standard output of the command goes to the file given
 * first, standard error is discarded.  Prints "<seconds> <peak RSS in
 * bytes> <exit status> <processor seconds>".
 *   usage: timed_run <output file> <command> [arguments...]
 */
#define _GNU_SOURCE
#include <fcntl.h>
#include <stdio.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static double seconds_now(void)
{
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec + 1e-9 * (double)t.tv_nsec;
}

int main(int argc, char **argv)
{
  if (argc < 3) {
    fprintf(stderr,
            "usage: timed_run <output file> <command> [arguments...]\n");
    return 2;
  }
  int out = open(argv[1], O_WRONLY | O_CREAT | O_TRUNC, 0644);
  int null = open("/dev/null", O_WRONLY);
  if (out < 0 || null < 0) {
    perror("timed_run");
    return 1;
  }
  double start = seconds_now();
  pid_t pid = fork();
  if (pid < 0) {
    perror("timed_run: fork");
    return 1;
  }
  if (pid == 0) {
    dup2(out, STDOUT_FILENO);
    dup2(null, STDERR_FILENO);
    execvp(argv[2], argv + 2);
    _exit(127);
  }
  int status = 0;
  struct rusage usage;
  if (wait4(pid, &status, 0, &usage) < 0) {
    perror("timed_run: wait4");
    return 1;
  }
  double elapsed = seconds_now() - start;
  int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  /* ru_maxrss is in kilobytes on Linux. */
  const double cpu = (double)usage.ru_utime.tv_sec +
                     1e-6 * (double)usage.ru_utime.tv_usec +
                     (double)usage.ru_stime.tv_sec +
                     1e-6 * (double)usage.ru_stime.tv_usec;
  printf("%.6f %ld %d %.6f\n", elapsed, usage.ru_maxrss * 1024L, code, cpu);
  return 0;
}
