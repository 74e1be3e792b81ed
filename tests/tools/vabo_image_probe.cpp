/*
 * vabo_image_probe -- reads one image as vabo does, for the script tests
 * that compare it with fabio (check_images.sh).
 *
 *   vabo_image_probe SOURCE OUT [MASK]
 *
 * Reads the image that SOURCE names (and applies the mask MASK), prints
 * "rows columns format" and writes OUT: the rows x columns pixels as
 * native float32, then their invalid marks as one byte each.  On failure
 * prints the reader's error line on stderr and exits 1; bad usage exits 2.
 */
#include "vabo_image.h"

#include <cstdio>
#include <string>

int main(int argc, char **argv)
{
  if (argc != 3 && argc != 4) {
    std::fprintf(stderr, "usage: vabo_image_probe SOURCE OUT [MASK]\n");
    return 2;
  }
  VaboImage image;
  std::string error;
  if (!vabo_read_image(argv[1], image, &error) ||
      (argc == 4 && !vabo_apply_mask(image, argv[3], &error))) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  std::FILE *out = std::fopen(argv[2], "wb");
  if (!out) {
    std::perror(argv[2]);
    return 1;
  }
  const size_t n = image.pixels.size();
  const bool written =
      std::fwrite(image.pixels.data(), sizeof(float), n, out) == n &&
      std::fwrite(image.invalid.data(), 1, n, out) == n;
  if (std::fclose(out) != 0 || !written) {
    std::fprintf(stderr, "%s: write error\n", argv[2]);
    return 1;
  }
  std::printf("%zu %zu %s\n", image.rows, image.columns, image.format.c_str());
  return 0;
}
