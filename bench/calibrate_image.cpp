/*
 * calibrate_image.cpp -- drives the calibration loop on a raw image for
 * bench/calibrate.py, until the program reads images itself: reads a
 * float32 image (native byte order, rows x columns), an optional mask of
 * one byte per pixel (non-zero: invalid), the rings (one TwoTheta in rad
 * per line) and a start geometry, runs vabo_calibrate and prints the
 * status, the refined geometry, the rounds, the wall time of the whole
 * run (reading included), its processor time (and that of the reading
 * alone) and the peak resident memory.
 *
 * usage: calibrate_image IMAGE ROWS COLUMNS MASK|- RINGS
 *                        pix1 pix2 cen1 cen2 dis rot1 rot2 rot3
 */
#include "vabo_calibrate.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <string>
#include <vector>

namespace {

/* Reads exactly count elements of size bytes from path into data. */
bool read_exact(const char *path, void *data, size_t size, size_t count)
{
  FILE *f = fopen(path, "rb");
  if (!f) return false;
  bool ok = fseek(f, 0, SEEK_END) == 0;
  const long length = ok ? ftell(f) : -1;
  ok = ok && length >= 0 &&
       static_cast<unsigned long>(length) == size * count &&
       fseek(f, 0, SEEK_SET) == 0 && fread(data, size, count, f) == count;
  fclose(f);
  return ok;
}

/* The peak resident memory of this program (kB) from /proc/self/status:
 * getrusage's maximum would include the parent's when it forked a large
 * process. -1 when unknown. */
long peak_kb()
{
  FILE *f = fopen("/proc/self/status", "r");
  if (!f) return -1;
  char line[256];
  long kb = -1;
  while (fgets(line, sizeof line, f))
    if (sscanf(line, "VmHWM: %ld", &kb) == 1) break;
  fclose(f);
  return kb;
}

} // namespace

int main(int argc, char **argv)
{
  if (argc != 14) {
    fprintf(stderr,
            "usage: %s IMAGE ROWS COLUMNS MASK|- RINGS pix1 pix2 cen1 "
            "cen2 dis rot1 rot2 rot3\n",
            argv[0]);
    return 1;
  }
  const auto begin = std::chrono::steady_clock::now();
  const std::clock_t cpu_begin = std::clock();
  const unsigned long long rows = strtoull(argv[2], nullptr, 10);
  const unsigned long long columns = strtoull(argv[3], nullptr, 10);
  if (rows == 0 || columns == 0 ||
      rows > std::numeric_limits<size_t>::max() / sizeof(float) / columns) {
    fprintf(stderr, "calibrate_image: bad image size\n");
    return 1;
  }
  VaboImage image;
  image.rows = rows;
  image.columns = columns;
  image.pixels.resize(rows * columns);
  image.invalid.assign(rows * columns, 0);
  if (!read_exact(argv[1], image.pixels.data(), sizeof(float),
                  image.pixels.size())) {
    fprintf(stderr,
            "calibrate_image: %s is not a float32 image of %llu x %llu\n",
            argv[1], rows, columns);
    return 1;
  }
  if (std::string(argv[4]) != "-" &&
      !read_exact(argv[4], image.invalid.data(), 1, image.invalid.size())) {
    fprintf(stderr, "calibrate_image: %s is not a mask of %llu x %llu bytes\n",
            argv[4], rows, columns);
    return 1;
  }
  std::vector<VaboPickRing> rings;
  FILE *f = fopen(argv[5], "r");
  if (!f) {
    fprintf(stderr, "calibrate_image: cannot read %s\n", argv[5]);
    return 1;
  }
  double tth;
  while (fscanf(f, "%lf", &tth) == 1)
    rings.push_back({tth, static_cast<int>(rings.size()) + 1, 0.0});
  fclose(f);
  double start[NParams];
  for (int p = 0; p < NParams; ++p) start[p] = strtod(argv[6 + p], nullptr);

  const double read_cpu =
      static_cast<double>(std::clock() - cpu_begin) / CLOCKS_PER_SEC;
  VaboCalibrateResult result;
  const int status = vabo_calibrate(image, start, rings.data(), rings.size(),
                                    VaboCalibrateOptions{}, result);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - begin)
          .count();
  const double cpu =
      static_cast<double>(std::clock() - cpu_begin) / CLOCKS_PER_SEC;
  char line[VaboLineSize];
  for (const VaboCalibrateRound &round : result.rounds)
    printf("%s\n", vabo_calibrate_round_line(line, sizeof line, round));
  printf("status %d %s\n", status,
         status ? result.reason.c_str() : vabo_calibrate_status_text(status));
  printf("par");
  for (int p = 0; p < NParams; ++p) printf(" %.17g", result.Par[p]);
  printf("\npoints %zu rings %zu/%zu found %.3f chi2 %.4g\n",
         result.points.size(), result.rings_found, result.rings_visible,
         result.found_fraction, result.chi2);
  printf("seconds %.4f cpu %.4f read_cpu %.4f peak_kb %ld\n", seconds, cpu,
         read_cpu, peak_kb());
  return status == VaboCalibrateOk ? 0 : 33;
}
