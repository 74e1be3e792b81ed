/*
 * vabo_image.cpp -- the entry point of the image readers: the image source
 * split into file and selector, the format told by the file's first bytes
 * (fabio's way: each format by its own magic), the pixel conversion with
 * the rule of invalid pixels that every reader uses, and the masks.
 * The formats themselves are read in vabo_image_<format>.cpp.
 */
#include "vabo_image_internal.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <limits>
#include <memory>
#include <new>
#include <dlfcn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <type_traits>

namespace vabo_image_detail {

namespace {

/* The bytes at the head of a file that tell its format: the longest magic
 * below, and room for the white space that may open an EDF file. */
constexpr size_t kMagicLength = 64;

/* HDF5 allows a user block before its signature of 0, 512, 1024, 2048 ...
 * bytes; blocks up to this size are looked through. */
constexpr int64_t kHdf5MaxUserBlock = 1 << 16;

constexpr unsigned char kHdf5Signature[8] = {0x89, 'H',  'D',  'F',
                                             '\r', '\n', 0x1a, '\n'};

template <typename T> T load(const unsigned char *at, bool swap)
{
  unsigned char bytes[sizeof(T)];
  std::memcpy(bytes, at, sizeof(T));
  if (swap)
    for (size_t k = 0; k < sizeof(T) / 2; ++k)
      std::swap(bytes[k], bytes[sizeof(T) - 1 - k]);
  T value;
  std::memcpy(&value, bytes, sizeof(T));
  return value;
}

/* The conversion of one stored type: every pixel read before its float is
 * written, so that raw and out may share memory for 4-byte types. */
template <typename T>
void convert_as(const unsigned char *raw, bool swap, size_t count, float *out,
                unsigned char *invalid)
{
  for (size_t i = 0; i < count; ++i) {
    const T value = load<T>(raw + i * sizeof(T), swap);
    bool bad;
    if constexpr (std::is_floating_point_v<T>)
      bad = !std::isfinite(value) || value < 0;
    else if constexpr (std::is_unsigned_v<T>)
      bad = value == std::numeric_limits<T>::max();
    else
      bad = value < 0;
    out[i] = static_cast<float>(value);
    invalid[i] = bad ? 1 : 0;
  }
}

bool starts_with(const unsigned char *head, size_t length, const char *magic)
{
  const size_t n = std::strlen(magic);
  return length >= n && std::memcmp(head, magic, n) == 0;
}

enum class Format { Unknown, Tiff, Edf, Cbf, Hdf5, Gzip };

/* Whether the HDF5 signature stands at offset 0 or at the end of a user
 * block (512, 1024, ... bytes) in the open file. */
bool has_hdf5_signature(std::FILE *file, int64_t size)
{
  for (int64_t at = 0; at <= kHdf5MaxUserBlock && at + 8 <= size;
       at = at == 0 ? 512 : at * 2) {
    unsigned char bytes[8];
    if (std::fseek(file, static_cast<long>(at), SEEK_SET) != 0 ||
        std::fread(bytes, 1, 8, file) != 8)
      return false;
    if (std::memcmp(bytes, kHdf5Signature, 8) == 0) return true;
  }
  return false;
}

/* The format of the file by its first bytes, or why it cannot be told. */
Format detect_format(const char *name, std::string &why)
{
  std::unique_ptr<std::FILE, int (*)(std::FILE *)> file(std::fopen(name, "rb"),
                                                        std::fclose);
  if (!file) {
    why = std::string("cannot open: ") + std::strerror(errno);
    return Format::Unknown;
  }
  struct stat status;
  if (fstat(fileno(file.get()), &status) != 0 || !S_ISREG(status.st_mode)) {
    why = "not a regular file";
    return Format::Unknown;
  }
  unsigned char head[kMagicLength];
  const size_t length = std::fread(head, 1, sizeof head, file.get());
  if (length == 0) {
    why = "empty file, not an image";
    return Format::Unknown;
  }
  if (starts_with(head, length, "II*") || starts_with(head, length, "II+") ||
      (starts_with(head, length, "MM") && length >= 4 && head[2] == 0 &&
       (head[3] == '*' || head[3] == '+')))
    return Format::Tiff;
  if (starts_with(head, length, "###CBF")) return Format::Cbf;
  size_t at = 0;
  while (at < length && (head[at] == ' ' || head[at] == '\t' ||
                         head[at] == '\r' || head[at] == '\n'))
    ++at;
  if (at < length && head[at] == '{') return Format::Edf;
  if (length >= 2 && head[0] == 0x1f && head[1] == 0x8b) return Format::Gzip;
  if (has_hdf5_signature(file.get(), static_cast<int64_t>(status.st_size)))
    return Format::Hdf5;
  why = "not an image vabo reads (TIFF, EDF, CBF or HDF5)";
  return Format::Unknown;
}

/* Splits the image source into file and selector (see vabo_image.h). */
bool parse_source(const char *text, ImageSource &source, std::string &why)
{
  const std::string all(text);
  size_t at = 0;
  while ((at = all.find("::", at)) != std::string::npos) {
    if (at + 2 < all.size() && (all[at + 2] == '/' || all[at + 2] == '['))
      break;
    at += 1;
  }
  source.file = all.substr(0, at);
  if (at == std::string::npos) return true;
  std::string selector = all.substr(at + 2);
  if (!selector.empty() && selector.back() == ']') {
    const size_t open = selector.rfind('[');
    uint64_t frame = 0;
    if (open == std::string::npos ||
        !parse_count(selector.substr(open + 1, selector.size() - open - 2),
                     frame)) {
      why = "bad frame number in '" +
            selector.substr(open == std::string::npos ? 0 : open) +
            "' (a decimal number in brackets)";
      return false;
    }
    source.frame = static_cast<size_t>(frame);
    source.frame_given = true;
    selector.erase(open);
  }
  source.path = selector;
  if (source.file.empty()) {
    why = "no file name before '::'";
    return false;
  }
  return true;
}

} // namespace

namespace {

/* What each stored type is: its width, its name in messages, and its
 * conversion; in the order of PixelType. */
struct PixelTypeInfo {
  size_t size;
  const char *name;
  void (*convert)(const unsigned char *, bool, size_t, float *,
                  unsigned char *);
};

template <typename T> constexpr PixelTypeInfo info_of(const char *name)
{
  return {sizeof(T), name, convert_as<T>};
}

constexpr PixelTypeInfo kPixelTypes[] = {
    info_of<uint8_t>("unsigned 8-bit integer"),
    info_of<int8_t>("signed 8-bit integer"),
    info_of<uint16_t>("unsigned 16-bit integer"),
    info_of<int16_t>("signed 16-bit integer"),
    info_of<uint32_t>("unsigned 32-bit integer"),
    info_of<int32_t>("signed 32-bit integer"),
    info_of<uint64_t>("unsigned 64-bit integer"),
    info_of<int64_t>("signed 64-bit integer"),
    info_of<float>("32-bit float"),
    info_of<double>("64-bit float"),
};
static_assert(std::size(kPixelTypes) ==
              static_cast<size_t>(PixelType::F64) + 1);

const PixelTypeInfo &info(PixelType type)
{
  return kPixelTypes[static_cast<size_t>(type)];
}

} // namespace

size_t pixel_size(PixelType type) { return info(type).size; }

const char *pixel_type_name(PixelType type) { return info(type).name; }

void convert_pixels(const void *raw, PixelType type, bool swap, size_t count,
                    float *out, unsigned char *invalid)
{
  info(type).convert(static_cast<const unsigned char *>(raw), swap, count, out,
                     invalid);
}

std::string shape_text(uint64_t rows, uint64_t columns)
{
  return std::to_string(rows) + " x " + std::to_string(columns);
}

std::string check_shape(uint64_t rows, uint64_t columns)
{
  if (rows == 0 || columns == 0)
    return "no pixels: " + shape_text(rows, columns) + " (rows x columns)";
  if (columns > VaboImageMaxPixels / rows)
    return "implausible size " + shape_text(rows, columns) +
           " (rows x columns): more than " +
           std::to_string(VaboImageMaxPixels) + " pixels";
  return "";
}

namespace {

/* Stores of at least this many bytes are asked for in huge pages. */
constexpr size_t kHugePageStore = size_t{4} << 20;
constexpr uintptr_t kHugePage = uintptr_t{2} << 20;

/* Gives store room for count elements, asking the kernel to back it with
 * huge pages (2 MiB) where it does so on request (transparent huge pages
 * in "madvise" mode), as numpy does for its large arrays.  Every pixel of
 * an image is written once as it is read, and the picking reads the
 * pixels across the rows, a new 4 KiB page at nearly every sample: with
 * 4 KiB pages filling a 16 MiB image costs 4096 page faults and the
 * picking a miss of the address cache per sample.  Only advice: where it
 * is not taken, nothing else changes.  Throws std::bad_alloc. */
template <typename T> void reserve_store(std::vector<T> &store, size_t count)
{
  const size_t bytes = count * sizeof(T);
  if (bytes < kHugePageStore || store.capacity() >= count) {
    store.reserve(count);
    return;
  }
  /* A huge page more than needed, never touched, so that the last huge
   * page in the store covers its end. */
  store.reserve(count + kHugePage / sizeof(T));
#ifdef MADV_HUGEPAGE
  /* The whole huge pages inside the store, which are not touched yet. */
  const auto begin = reinterpret_cast<uintptr_t>(store.data());
  const uintptr_t first = (begin + kHugePage - 1) & ~(kHugePage - 1);
  const uintptr_t end =
      (begin + store.capacity() * sizeof(T)) & ~(kHugePage - 1);
  if (end > first)
    madvise(reinterpret_cast<void *>(first), end - first, MADV_HUGEPAGE);
#endif
}

} // namespace

bool allocate_image(VaboImage &image, size_t rows, size_t columns)
{
  try {
    reserve_store(image.pixels, rows * columns);
    reserve_store(image.invalid, rows * columns);
    image.pixels.assign(rows * columns, 0.0f);
    image.invalid.assign(rows * columns, 0);
  } catch (const std::bad_alloc &) {
    image.pixels = {};
    image.invalid = {};
    return false;
  }
  image.rows = rows;
  image.columns = columns;
  return true;
}

/* Control characters (line ends, escapes) as '?'. */
static void blank_controls(std::string &text)
{
  for (char &c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
}

bool parse_count(const std::string &text, uint64_t &value)
{
  if (text.empty() || text.size() > 18) return false;
  value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  return true;
}

std::string quoted(const std::string &value)
{
  std::string text =
      value.size() > kMaxQuoted ? value.substr(0, kMaxQuoted) + "..." : value;
  blank_controls(text);
  return text;
}

void *load_library(const char *soname, std::string &why)
{
  void *library = dlopen(soname, RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    const char *reason = dlerror();
    why = std::string("cannot load ") + soname + ": " +
          (reason ? reason : "unknown reason");
  }
  return library;
}

void *symbol_address(void *library, const char *name)
{
  return library ? dlsym(library, name) : nullptr;
}

int64_t file_size(const char *file)
{
  struct stat status;
  if (stat(file, &status) != 0 || !S_ISREG(status.st_mode)) return -1;
  return static_cast<int64_t>(status.st_size);
}

} // namespace vabo_image_detail

using namespace vabo_image_detail;

namespace {

/* vabo_read_image, the image read into store first: a record whose
 * vectors, empty, may bring the room for the pixels from an earlier
 * image, which then costs no fresh memory. */
bool read_image(const char *text, VaboImage &image, VaboImage &&store,
                std::string *error)
{
  std::string why;
  std::string name = text ? text : "";
  try {
    ImageSource source;
    if (!text)
      why = "no image named";
    else if (parse_source(text, source, why)) {
      name = source.file;
      VaboImage read = std::move(store);
      bool ok = false;
      switch (detect_format(source.file.c_str(), why)) {
      case Format::Tiff: ok = read_tiff(source, read, why); break;
      case Format::Edf: ok = read_edf(source, read, why); break;
      case Format::Cbf: ok = read_cbf(source, read, why); break;
      case Format::Hdf5: ok = read_hdf5(source, read, why); break;
      case Format::Gzip:
        why = "gzip-compressed; vabo reads the image once it is uncompressed";
        break;
      case Format::Unknown: break;
      }
      if (ok) {
        image = std::move(read);
        return true;
      }
    }
  } catch (const std::bad_alloc &) {
    why = "out of memory";
  } catch (...) {
    why = "unexpected failure";
  }
  if (error) {
    try {
      *error = name + ": " + why;
      /* Whatever a library or a file put into it, the message is one
       * line. */
      blank_controls(*error);
    } catch (...) {
    }
  }
  return false;
}

} // namespace

bool vabo_read_image(const char *text, VaboImage &image, std::string *error)
{
  return read_image(text, image, VaboImage{}, error);
}

namespace {

/* Marks invalid every pixel i of image for which masked(i) holds, once the
 * mask's shape (rows x columns, count values) is found to be the image's;
 * otherwise false, image unchanged, the message naming the mask name. */
template <typename Masked>
bool mark_masked(VaboImage &image, size_t rows, size_t columns, size_t count,
                 const char *name, std::string *error, Masked masked)
{
  if (rows != image.rows || columns != image.columns ||
      count != image.pixels.size() || count != image.invalid.size()) {
    if (error) {
      try {
        *error = std::string(name ? name : "mask") + ": mask of " +
                 shape_text(rows, columns) + " pixels, the image has " +
                 shape_text(image.rows, image.columns) + " (rows x columns)";
      } catch (...) {
      }
    }
    return false;
  }
  for (size_t i = 0; i < count; ++i)
    if (masked(i)) image.invalid[i] = 1;
  return true;
}

/* The mask's file, as the messages name it. */
std::string mask_name(const char *source)
{
  ImageSource parsed;
  std::string why;
  parse_source(source, parsed, why);
  return parsed.file;
}

} // namespace

bool vabo_apply_mask_image(VaboImage &image, const VaboImage &mask,
                           const char *name, std::string *error)
{
  /* A mask whose two vectors disagree fits no image. */
  const size_t count = mask.invalid.size() == mask.pixels.size()
                           ? mask.pixels.size()
                           : std::numeric_limits<size_t>::max();
  return mark_masked(
      image, mask.rows, mask.columns, count, name, error,
      [&mask](size_t i) { return mask.pixels[i] != 0.0f || mask.invalid[i]; });
}

bool vabo_apply_mask(VaboImage &image, const char *source, std::string *error)
{
  VaboImage mask;
  if (!vabo_read_image(source, mask, error)) return false;
  try {
    return vabo_apply_mask_image(image, mask, mask_name(source).c_str(), error);
  } catch (...) {
    if (error) *error = "out of memory";
    return false;
  }
}

bool vabo_read_masked_image(const char *source, const char *mask,
                            VaboImage &image, std::string *error)
{
  if (!mask) return vabo_read_image(source, image, error);
  try {
    /* The mask's values folded into its marks; the store of its values
     * then takes the image's. */
    VaboImage marks, store;
    std::string mask_error;
    const bool have_marks = vabo_read_image(mask, marks, &mask_error);
    if (have_marks) {
      for (size_t i = 0; i < marks.pixels.size(); ++i)
        if (marks.pixels[i] != 0.0f) marks.invalid[i] = 1;
      store.pixels.swap(marks.pixels);
      store.pixels.clear();
    }
    VaboImage read;
    if (!read_image(source, read, std::move(store), error)) return false;
    if (!have_marks) {
      if (error) *error = std::move(mask_error);
      return false;
    }
    if (!mark_masked(read, marks.rows, marks.columns, marks.invalid.size(),
                     mask_name(mask).c_str(), error,
                     [&marks](size_t i) { return marks.invalid[i] != 0; }))
      return false;
    image = std::move(read);
    return true;
  } catch (...) {
    if (error) *error = "out of memory";
    return false;
  }
}
