/*
 * vabo_image_tiff.cpp -- the reader of TIFF files through libtiff: one
 * page (directory) of one sample per pixel, 8, 16, 32 or 64-bit unsigned
 * or signed integers or 32 or 64-bit floats, in strips or tiles, with any
 * compression libtiff decodes (Pilatus and fabio write them
 * uncompressed).
 *
 * libtiff's messages are captured per file (TIFFOpenExt with handlers of
 * its own), never printed: its first error becomes the reason of the
 * failure.  The shape is checked against the file's size before the
 * record is allocated.
 */
#include "vabo_image_internal.h"

#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace vabo_image_detail {

namespace {

/* The largest single allocation libtiff may make while reading a page
 * (a strip or tile of raw data): that of the largest image's 8-byte
 * pixels, so that a lying header cannot make it reserve more. */
constexpr tmsize_t kTiffMaxAlloc =
    static_cast<tmsize_t>(VaboImageMaxPixels) * 8;

/* libtiff's first error message on this file. */
struct TiffMessages {
  std::string first_error;
};

int capture_error(TIFF *, void *user_data, const char *module,
                  const char *format, va_list arguments)
{
  auto *messages = static_cast<TiffMessages *>(user_data);
  if (!messages || !messages->first_error.empty()) return 1;
  char text[512];
  std::vsnprintf(text, sizeof text, format, arguments);
  try {
    messages->first_error = text;
    (void)module;
  } catch (...) {
  }
  return 1;
}

int ignore_warning(TIFF *, void *, const char *, const char *, va_list)
{
  return 1;
}

struct TiffCloser {
  void operator()(TIFF *tif) const { TIFFClose(tif); }
};
struct OptionsFree {
  void operator()(TIFFOpenOptions *options) const
  {
    TIFFOpenOptionsFree(options);
  }
};

/* The stored pixel type of a page, or false with the reason. */
bool page_type(uint16_t bits, uint16_t format, PixelType &type,
               std::string &why)
{
  const bool is_int = format == SAMPLEFORMAT_INT;
  const bool is_uint = format == SAMPLEFORMAT_UINT;
  const bool is_float = format == SAMPLEFORMAT_IEEEFP;
  if (is_uint || is_int) {
    switch (bits) {
    case 8: type = is_int ? PixelType::I8 : PixelType::U8; return true;
    case 16: type = is_int ? PixelType::I16 : PixelType::U16; return true;
    case 32: type = is_int ? PixelType::I32 : PixelType::U32; return true;
    case 64: type = is_int ? PixelType::I64 : PixelType::U64; return true;
    default: break;
    }
  } else if (is_float && (bits == 32 || bits == 64)) {
    type = bits == 32 ? PixelType::F32 : PixelType::F64;
    return true;
  }
  why = "TIFF pixels of " + std::to_string(bits) + " bits in sample format " +
        std::to_string(format) +
        " are not read (8 to 64-bit integers, 32 or 64-bit floats)";
  return false;
}

/* Reads a page in strips, one row after the other. */
bool read_strips(TIFF *tif, PixelType type, VaboImage &image)
{
  const size_t width = pixel_size(type);
  if (TIFFScanlineSize(tif) != static_cast<tmsize_t>(image.columns * width))
    return false;
  std::vector<unsigned char> row(image.columns * width);
  for (size_t r = 0; r < image.rows; ++r) {
    if (TIFFReadScanline(tif, row.data(), static_cast<uint32_t>(r), 0) < 0)
      return false;
    convert_pixels(row.data(), type, false, image.columns,
                   image.pixels.data() + r * image.columns,
                   image.invalid.data() + r * image.columns);
  }
  return true;
}

/* Reads a page in tiles: each tile decoded, its rows converted into
 * place (the tiles on the right and bottom edges reach beyond the image). */
bool read_tiles(TIFF *tif, PixelType type, VaboImage &image)
{
  uint32_t tile_width = 0, tile_length = 0;
  if (!TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tile_width) ||
      !TIFFGetField(tif, TIFFTAG_TILELENGTH, &tile_length) || tile_width == 0 ||
      tile_length == 0)
    return false;
  const size_t width = pixel_size(type);
  const tmsize_t tile_size = TIFFTileSize(tif);
  if (tile_size <= 0 ||
      static_cast<uint64_t>(tile_size) !=
          static_cast<uint64_t>(tile_width) * tile_length * width)
    return false;
  std::vector<unsigned char> tile(static_cast<size_t>(tile_size));
  for (size_t y = 0; y < image.rows; y += tile_length)
    for (size_t x = 0; x < image.columns; x += tile_width) {
      const uint32_t index = TIFFComputeTile(tif, static_cast<uint32_t>(x),
                                             static_cast<uint32_t>(y), 0, 0);
      if (TIFFReadEncodedTile(tif, index, tile.data(), tile_size) < 0)
        return false;
      const size_t rows = std::min<size_t>(tile_length, image.rows - y);
      const size_t columns = std::min<size_t>(tile_width, image.columns - x);
      for (size_t r = 0; r < rows; ++r) {
        const size_t at = (y + r) * image.columns + x;
        convert_pixels(tile.data() + r * tile_width * width, type, false,
                       columns, image.pixels.data() + at,
                       image.invalid.data() + at);
      }
    }
  return true;
}

} // namespace

bool read_tiff(const ImageSource &source, VaboImage &image, std::string &why)
{
  if (!source.path.empty()) {
    why = "a TIFF file has no dataset '" + source.path + "'";
    return false;
  }
  const int64_t file_bytes = file_size(source.file.c_str());
  TiffMessages messages;
  std::unique_ptr<TIFFOpenOptions, OptionsFree> options(TIFFOpenOptionsAlloc());
  if (!options || file_bytes < 0) {
    why = "cannot open";
    return false;
  }
  TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), kTiffMaxAlloc);
  TIFFOpenOptionsSetErrorHandlerExtR(options.get(), capture_error, &messages);
  TIFFOpenOptionsSetWarningHandlerExtR(options.get(), ignore_warning, nullptr);
  std::unique_ptr<TIFF, TiffCloser> tif(
      TIFFOpenExt(source.file.c_str(), "r", options.get()));
  auto fail = [&](const std::string &reason) {
    why = reason;
    if (!messages.first_error.empty())
      why += " (libtiff: " + messages.first_error + ")";
    return false;
  };
  if (!tif) return fail("corrupt or truncated TIFF file");
  if (source.frame > 0 &&
      (source.frame > 65535 ||
       !TIFFSetDirectory(tif.get(), static_cast<tdir_t>(source.frame)))) {
    messages.first_error.clear();
    const tdir_t pages = TIFFNumberOfDirectories(tif.get());
    return fail("TIFF file of " + std::to_string(pages) + " page" +
                (pages == 1 ? "" : "s") + " has no page " +
                std::to_string(source.frame));
  }
  uint32_t columns = 0, rows = 0;
  uint16_t bits = 1, samples = 1, format = SAMPLEFORMAT_UINT;
  uint16_t compression = COMPRESSION_NONE;
  if (!TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &columns) ||
      !TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &rows))
    return fail("TIFF page without width or length");
  TIFFGetFieldDefaulted(tif.get(), TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetFieldDefaulted(tif.get(), TIFFTAG_SAMPLESPERPIXEL, &samples);
  TIFFGetFieldDefaulted(tif.get(), TIFFTAG_SAMPLEFORMAT, &format);
  TIFFGetFieldDefaulted(tif.get(), TIFFTAG_COMPRESSION, &compression);
  if (samples != 1)
    return fail("TIFF of " + std::to_string(samples) +
                " samples per pixel (a colour image?) is not read");
  PixelType type;
  if (!page_type(bits, format, type, why)) return false;
  const std::string bad_shape = check_shape(rows, columns);
  if (!bad_shape.empty()) return fail("TIFF image of " + bad_shape);
  const uint64_t data_bytes = uint64_t{rows} * columns * pixel_size(type);
  const uint64_t room =
      static_cast<uint64_t>(file_bytes) *
      (compression == COMPRESSION_NONE ? 1 : VaboImageMaxExpansion);
  if (data_bytes > room)
    return fail("truncated TIFF file: " + shape_text(rows, columns) +
                " pixels of " + std::to_string(pixel_size(type)) +
                " bytes need " + std::to_string(data_bytes) +
                " bytes, the file holds " + std::to_string(file_bytes));
  if (!allocate_image(image, rows, columns))
    return fail("out of memory for " + shape_text(rows, columns) + " pixels");
  const bool ok = TIFFIsTiled(tif.get()) ? read_tiles(tif.get(), type, image)
                                         : read_strips(tif.get(), type, image);
  if (!ok) return fail("corrupt TIFF data");
  image.format = "TIFF";
  return true;
}

} // namespace vabo_image_detail
