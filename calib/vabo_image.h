/*
 * vabo_image -- a detector image as the calibration uses it.
 *
 * One record, VaboImage, whatever the file's format: the pixel values
 * converted once to float, row by row as fabio and pyFAI read them, and
 * the mark of every pixel that carries no intensity.  The readers of the
 * formats fill it; the picking of rings reads it and never sees a format.
 */
#ifndef VABO_IMAGE_H
#define VABO_IMAGE_H

#include <cstddef>
#include <vector>

/* rows x columns pixels, row-major: pixel (i1, i2) -- i1 the row (first
 * dimension, slow axis), i2 the column (second dimension, fast axis) -- is
 * element i1 * columns + i2 of pixels and of invalid.  Whole coordinates
 * are pixel centres: the pixel of row 3 spans i1 from 2.5 to 3.5.  Both
 * vectors hold rows * columns elements; an invalid pixel (module gap,
 * saturation, not a number, masked) has a non-zero mark and a pixel value
 * that means nothing. */
struct VaboImage {
  size_t rows = 0;                    /* first dimension: vabo's i1 */
  size_t columns = 0;                 /* second dimension: vabo's i2 */
  std::vector<float> pixels;          /* intensities, counts */
  std::vector<unsigned char> invalid; /* non-zero: no intensity here */
};

#endif
