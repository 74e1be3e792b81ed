/*
 * vabo_image -- a detector image as the calibration uses it.
 *
 * One record, VaboImage, whatever the file's format: the pixel values
 * converted once to float, row by row as fabio and pyFAI read them, and
 * the mark of every pixel that carries no intensity.  The readers of the
 * formats fill it; the picking of rings reads it and never sees a format.
 *
 * Entry points: vabo_read_image (one image of a TIFF, EDF, CBF or HDF5
 * file, the format told by the file's first bytes, never by its name),
 * vabo_apply_mask (a mask file, non-zero where pixels are to be left out)
 * and vabo_read_masked_image (the two at once, in less memory).
 * Implemented in vabo_image.cpp, one source per format behind it
 * (vabo_image_tiff.cpp, _edf, _cbf, _hdf5).  Nothing here prints.  One
 * thread at a time: libhdf5 (a serial build) and its error settings are
 * global to the process.
 *
 * The text that names an image ("image source"):
 *   FILE                 the file's first image
 *   FILE::[n]            image n (from 0) of a file of several: a TIFF
 *                        page, an EDF frame
 *   FILE::/path          the 2-D dataset /path of an HDF5 (NeXus) file,
 *                        or frame 0 of a 3-D one
 *   FILE::/path[n]       frame n of the 3-D dataset /path
 * The selector starts at the first "::" that a "/" or a "[" follows, so
 * that a file name keeps any other "::"; n is a decimal number.
 */
#ifndef VABO_IMAGE_H
#define VABO_IMAGE_H

#include <cstddef>
#include <string>
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
  std::string format; /* "TIFF", "EDF", "CBF" or "HDF5", for messages;
                         empty for an image made in memory */
};

/* The largest image read: 2^27 pixels (a record of 640 MiB), seven times
 * the largest area detector built so far, so that a file that claims more
 * is refused as a lie before anything is allocated for it. */
inline constexpr size_t VaboImageMaxPixels = size_t{1} << 27;

/* The largest number of pixels that compressed data (TIFF, HDF5) may claim
 * per byte it holds: LZW expands at most about 2700-fold and deflate
 * 1032-fold, so that a header that promises more is lying. */
inline constexpr size_t VaboImageMaxExpansion = 4096;

/* Reads the image that source names (see the file's head) into image.
 * The pixel values are the file's, converted to float; a pixel is marked
 * invalid when its value is negative (module gaps, -1 or -2), the largest
 * of an unsigned type (saturation) or not a finite number.  Returns true on
 * success.  On failure returns false, leaves image unchanged and, when
 * error is not null, sets *error to one line that names the file and what
 * is wrong with it ("x.edf: truncated EDF file: ..."). */
bool vabo_read_image(const char *source, VaboImage &image, std::string *error);

/* Marks invalid every pixel of image where the mask that source names
 * (an image as vabo_read_image reads it) is non-zero or itself invalid.
 * Returns false, with image unchanged and one line in *error, when the
 * mask cannot be read or its shape differs from the image's. */
bool vabo_apply_mask(VaboImage &image, const char *source, std::string *error);

/* The same with a mask already read: name is what the error line calls it.
 * Returns false, image unchanged, when the shapes differ. */
bool vabo_apply_mask_image(VaboImage &image, const VaboImage &mask,
                           const char *name, std::string *error);

/* Reads the image that source names with the mask that mask names applied
 * (a null mask: none), as vabo_read_image and then vabo_apply_mask, with
 * their messages (the image's first when both fail).  The mask is read
 * first and kept only as marks, so that the two images' pixel values are
 * never held at once: the peak memory is that of the image and a byte per
 * pixel, not of two images. */
bool vabo_read_masked_image(const char *source, const char *mask,
                            VaboImage &image, std::string *error);

#endif
