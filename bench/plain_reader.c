/*
 * plain_reader.c -- the yardstick of bench/scale.sh: reads a calibration
 * file the plainest way, fgets and strtod, into four growing arrays
 * (TwoTheta, i1, i2, weight), skipping "#" comments and blank lines as vabo
 * does.  Prints the number of points and the sum of all values, so that the
 * reading cannot be optimised away.  No expressions, no units, no checks.
 *   usage: plain_reader <file>
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

enum { kColumns = 4, kLineSize = 1024 };

int main(int argc, char **argv)
{
  if (argc != 2) {
    fprintf(stderr, "usage: plain_reader <file>\n");
    return 2;
  }
  FILE *in = fopen(argv[1], "r");
  if (!in) {
    perror(argv[1]);
    return 1;
  }
  double *column[kColumns] = {0};
  size_t n = 0, capacity = 0;
  char line[kLineSize];
  while (fgets(line, sizeof line, in)) {
    char *hash = strchr(line, '#');
    if (hash) *hash = '\0';
    double value[kColumns] = {0.0, 0.0, 0.0, 1.0};
    char *s = line;
    int k;
    for (k = 0; k < kColumns; k++) {
      char *end;
      double v = strtod(s, &end);
      if (end == s) break;
      value[k] = v;
      s = end;
    }
    if (k == 0) continue;
    if (n == capacity) {
      capacity = capacity ? 2 * capacity : 1024;
      for (int c = 0; c < kColumns; c++) {
        double *grown = realloc(column[c], capacity * sizeof(double));
        if (!grown) {
          fprintf(stderr, "plain_reader: out of memory\n");
          return 1;
        }
        column[c] = grown;
      }
    }
    for (int c = 0; c < kColumns; c++) column[c][n] = value[c];
    n++;
  }
  fclose(in);
  double sum = 0.0;
  for (int c = 0; c < kColumns; c++)
    for (size_t i = 0; i < n; i++) sum += column[c][i];
  printf("%zu %.17g\n", n, sum);
  for (int c = 0; c < kColumns; c++) free(column[c]);
  return 0;
}
