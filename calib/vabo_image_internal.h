/*
 * vabo_image_internal -- what the readers of image formats share, behind
 * vabo_read_image (vabo_image.h); not installed.
 *
 * The entry point (vabo_image.cpp) splits the image source into file and
 * selector, tells the format from the file's first bytes and calls one
 * reader; each reader (vabo_image_<format>.cpp) fills a fresh VaboImage
 * and, on failure, returns a message without the file's name, which the
 * entry point puts before it.  The pixel types, their conversion to float
 * with the rule of invalid pixels, and the check of a claimed shape
 * before any allocation live here, once for all formats.
 */
#ifndef VABO_IMAGE_INTERNAL_H
#define VABO_IMAGE_INTERNAL_H

#include "vabo_image.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace vabo_image_detail {

/* What the image source names: the file, and inside it the HDF5 dataset
 * path (empty: none given) and the frame (frame_given false: frame 0). */
struct ImageSource {
  std::string file;
  std::string path;
  size_t frame = 0;
  bool frame_given = false;
};

/* The pixel types of the files, as stored (before conversion to float). */
enum class PixelType { U8, I8, U16, I16, U32, I32, U64, I64, F32, F64 };

/* Size of one stored pixel in bytes (1, 2, 4 or 8). */
size_t pixel_size(PixelType type);

/* Name of the type for messages ("unsigned 16-bit integer"). */
const char *pixel_type_name(PixelType type);

/* Converts count stored pixels at raw (native byte order unless swap) into
 * float values at out and their marks at invalid, by the rule of
 * vabo_image.h.  raw may be the same memory as out when the stored type is
 * 4 bytes wide: each pixel is read before its float is written. */
void convert_pixels(const void *raw, PixelType type, bool swap, size_t count,
                    float *out, unsigned char *invalid);

/* Checks a claimed shape before anything is allocated for it: both
 * dimensions non-zero, their product within VaboImageMaxPixels.  Returns
 * an empty text when it holds, else the message. */
std::string check_shape(uint64_t rows, uint64_t columns);

/* Gives image the shape rows x columns with its two vectors sized (check
 * the shape first).  Returns false when the memory cannot be had. */
bool allocate_image(VaboImage &image, size_t rows, size_t columns);

/* "rows x columns", the way every message writes a shape. */
std::string shape_text(uint64_t rows, uint64_t columns);

/* The longest value of a file's header quoted in a message: enough for
 * any real value, short enough that a lying header keeps the line short. */
constexpr size_t kMaxQuoted = 40;

/* A value of a file's header as a message quotes it: at most kMaxQuoted
 * characters (then "..."), control characters (line ends) as '?', so
 * that the message stays one line. */
std::string quoted(const std::string &value);

/* A whole non-negative decimal number of a header or a selector, up to 18
 * digits (below 2^62), into value; false when text is not one. */
bool parse_count(const std::string &text, uint64_t &value);

/* The size of an open file in bytes, or -1 when it cannot be told. */
int64_t file_size(const char *file);

/* The address of the symbol name of library, or null. */
void *symbol_address(void *library, const char *name);

/* The shared library soname (libhdf5, libcbf), loaded at the first image
 * that needs it and kept for the life of the process: a run that reads no
 * such image never loads it, nor the tens of libraries it brings (libhdf5
 * brings libcurl and its TLS stack).  null, with why, when it cannot be
 * loaded. */
void *load_library(const char *soname, std::string &why);

/* Sets pointer to the address of the symbol name of library; false when
 * the library has no such symbol. */
template <typename Pointer>
bool bind(void *library, const char *name, Pointer &pointer)
{
  pointer = reinterpret_cast<Pointer>(symbol_address(library, name));
  return pointer != nullptr;
}

/* For a table of a library's symbols, listed by name: the member of a
 * function, of the type its header declares; and, in a bind_all of
 * library_table (parameters library and table), the binding of one member,
 * which returns the name when the library lacks it. */
#define VABO_LIBRARY_FUNCTION(name) decltype(&::name) name = nullptr;
#define VABO_LIBRARY_BIND(name)                                                \
  if (!bind(library, #name, table.name)) return #name;

/* The table of symbols of the library soname, loaded and bound once for
 * the process, when the first image of its format asks for it: bind_all(
 * library, table) binds each member (with bind) and returns the name of
 * the first symbol the library lacks, or null; start(table, failure) then
 * checks the library and starts it, or returns false with the reason.
 * null, with why = needs + the reason, when any of it fails. */
template <typename Table, typename BindAll, typename Start>
const Table *library_table(const char *soname, const char *needs,
                           std::string &why, BindAll bind_all, Start start)
{
  static Table table;
  static std::string failure;
  static const bool ready = [&] {
    void *library = load_library(soname, failure);
    if (!library) return false;
    if (const char *missing = bind_all(library, table)) {
      failure = std::string(soname) + " has no " + missing;
      return false;
    }
    return start(table, failure);
  }();
  if (!ready) why = needs + failure;
  return ready ? &table : nullptr;
}

/* The readers.  Each reads the image that source names into a fresh
 * image (format set) and returns true, or returns false with the reason
 * in why (no file name; one line). */
bool read_tiff(const ImageSource &source, VaboImage &image, std::string &why);
bool read_edf(const ImageSource &source, VaboImage &image, std::string &why);
bool read_cbf(const ImageSource &source, VaboImage &image, std::string &why);
bool read_hdf5(const ImageSource &source, VaboImage &image, std::string &why);

} // namespace vabo_image_detail

#endif
