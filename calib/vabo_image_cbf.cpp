/*
 * vabo_image_cbf.cpp -- the reader of CBF files (Pilatus, Eiger, fabio):
 * the first binary section, compressed by byte offset, decoded by libcbf.
 *
 * libcbf's CIF parser prints to stderr and leaks on malformed text, so it
 * never sees the file's text: this reader finds the binary section itself,
 * checks its MIME header (conversions, element type, dimensions, element
 * count, binary size) against the file, and hands libcbf a minimal CBF
 * made of that header and the compressed bytes, read from memory.  What
 * libcbf does is what it is for: the decompression.  libcbf is loaded
 * when the first CBF file is decoded, not with the program.
 */
#include "vabo_image_internal.h"

#include <cbflib/cbf.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace vabo_image_detail {

namespace {

/* The longest text before the binary section: Pilatus headers are a few
 * kilobytes, a megabyte without the section is not an image. */
constexpr size_t kCbfMaxText = size_t{1} << 20;

constexpr const char *kSectionStart = "--CIF-BINARY-FORMAT-SECTION--";

/* The four bytes that open the binary data after the MIME header. */
constexpr unsigned char kBinaryMarker[4] = {0x0c, 0x1a, 0x04, 0xd5};

/* What the reader uses of libcbf, bound when the first CBF file is read. */
// clang-format off
#define VABO_CBF_FUNCTIONS(X) \
  X(cbf_make_handle) X(cbf_free_handle) X(cbf_set_cbf_logfile) \
  X(cbf_read_buffered_file) X(cbf_rewind_datablock) X(cbf_find_category) \
  X(cbf_find_column) X(cbf_get_integerarray)
// clang-format on

struct Cbf {
  VABO_CBF_FUNCTIONS(VABO_LIBRARY_FUNCTION)
};

/* libcbf, loaded and bound once for the process; null, with why, when it
 * cannot be. */
const Cbf *libcbf(std::string &why)
{
  auto bind_all = [](void *library, Cbf &table) -> const char * {
    VABO_CBF_FUNCTIONS(VABO_LIBRARY_BIND)
    return nullptr;
  };
  return library_table<Cbf>(VABO_CBF_SONAME, "CBF images need libcbf: ", why,
                            bind_all,
                            [](const Cbf &, std::string &) { return true; });
}

struct CbfHandle {
  const Cbf &cbf;
  cbf_handle handle = nullptr;
  ~CbfHandle()
  {
    if (handle) cbf.cbf_free_handle(handle);
  }
};

/* The value of a MIME header line "Key: value" (keys without case), or
 * an empty text. */
std::string mime_value(const std::string &header, const char *key)
{
  const size_t n = std::strlen(key);
  size_t at = 0;
  while (at < header.size()) {
    size_t end = header.find('\n', at);
    if (end == std::string::npos) end = header.size();
    std::string line = header.substr(at, end - at);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
      line.pop_back();
    if (line.size() > n && line[n] == ':' &&
        std::equal(key, key + n, line.begin(), [](char a, char b) {
          return std::tolower(static_cast<unsigned char>(a)) ==
                 std::tolower(static_cast<unsigned char>(b));
        })) {
      const size_t value = line.find_first_not_of(' ', n + 1);
      return value == std::string::npos ? "" : line.substr(value);
    }
    at = end + 1;
  }
  return "";
}

/* The stored type from X-Binary-Element-Type, or false. */
bool element_type(std::string text, PixelType &type)
{
  text.erase(std::remove(text.begin(), text.end(), '"'), text.end());
  struct Entry {
    const char *name;
    PixelType type;
  };
  static constexpr Entry kTypes[] = {
      {"signed 32-bit integer", PixelType::I32},
      {"unsigned 32-bit integer", PixelType::U32},
      {"signed 16-bit integer", PixelType::I16},
      {"unsigned 16-bit integer", PixelType::U16},
      {"signed 8-bit integer", PixelType::I8},
      {"unsigned 8-bit integer", PixelType::U8},
  };
  for (const Entry &entry : kTypes)
    if (text == entry.name) {
      type = entry.type;
      return true;
    }
  return false;
}

/* How many bytes of the byte-offset stream data (size bytes) hold its
 * first count values: each value is a difference of 1 byte, or, after the
 * escape 0x80, of 2 bytes, after 0x8000 of 4, after 0x80000000 of 8.
 * Returns false when the stream ends before count values. */
bool byte_offset_length(const unsigned char *data, size_t size, size_t count,
                        size_t &used)
{
  size_t at = 0;
  for (size_t n = 0; n < count; ++n) {
    if (at >= size) return false;
    if (data[at++] != 0x80) continue;
    if (size - at < 2) return false;
    const bool wide = data[at] == 0x00 && data[at + 1] == 0x80;
    at += 2;
    if (!wide) continue;
    if (size - at < 4) return false;
    const bool wider = data[at] == 0 && data[at + 1] == 0 &&
                       data[at + 2] == 0 && data[at + 3] == 0x80;
    at += 4;
    if (!wider) continue;
    if (size - at < 8) return false;
    at += 8;
  }
  used = at;
  return true;
}

} // namespace

bool read_cbf(const ImageSource &source, VaboImage &image, std::string &why)
{
  if (!source.path.empty() || source.frame > 0) {
    why = source.path.empty()
              ? "a CBF file holds one image, it has no frame " +
                    std::to_string(source.frame)
              : "a CBF file has no dataset '" + source.path + "'";
    return false;
  }
  std::unique_ptr<std::FILE, int (*)(std::FILE *)> file(
      std::fopen(source.file.c_str(), "rb"), std::fclose);
  const int64_t size = file_size(source.file.c_str());
  if (!file || size < 0) {
    why = "cannot open";
    return false;
  }
  const uint64_t bytes = static_cast<uint64_t>(size);
  std::string text(static_cast<size_t>(std::min<uint64_t>(bytes, kCbfMaxText)),
                   '\0');
  if (std::fread(text.data(), 1, text.size(), file.get()) != text.size()) {
    why = "read error";
    return false;
  }
  const size_t section = text.find(kSectionStart);
  if (section == std::string::npos) {
    why = "CBF file without a binary section";
    return false;
  }
  const size_t header_start = text.find('\n', section) + 1;
  size_t header_end = text.find("\r\n\r\n", header_start);
  size_t gap = 4;
  const size_t lf_end = text.find("\n\n", header_start);
  if (lf_end < header_end) header_end = lf_end, gap = 2;
  if (header_start == 0 || header_end == std::string::npos) {
    why = "truncated CBF binary header";
    return false;
  }
  const std::string header =
      text.substr(header_start, header_end - header_start);
  const uint64_t marker = header_end + gap;
  if (marker + 4 > text.size() ||
      std::memcmp(text.data() + marker, kBinaryMarker, 4) != 0) {
    why = "CBF binary section without its start marker";
    return false;
  }
  const std::string content = mime_value(header, "Content-Type");
  const size_t conversions = header.find("conversions=");
  if (conversions == std::string::npos ||
      header.compare(conversions, 31, "conversions=\"x-CBF_BYTE_OFFSET\"") !=
          0) {
    why = "CBF data not compressed by byte offset (the only compression read)";
    return false;
  }
  PixelType type;
  const std::string type_text = mime_value(header, "X-Binary-Element-Type");
  if (!element_type(type_text, type)) {
    why = "unknown CBF element type '" + quoted(type_text) + "'";
    return false;
  }
  uint64_t binary_size = 0, elements = 0, columns = 0, rows = 0;
  const std::string size_text = mime_value(header, "X-Binary-Size");
  const std::string count_text =
      mime_value(header, "X-Binary-Number-of-Elements");
  const std::string fast =
      mime_value(header, "X-Binary-Size-Fastest-Dimension");
  const std::string slow = mime_value(header, "X-Binary-Size-Second-Dimension");
  if (!parse_count(size_text, binary_size) ||
      !parse_count(count_text, elements) || !parse_count(fast, columns) ||
      !parse_count(slow, rows)) {
    why = "CBF binary header without sizes (X-Binary-Size '" +
          quoted(size_text) + "', elements '" + quoted(count_text) +
          "', dimensions '" + quoted(fast) + "', '" + quoted(slow) + "')";
    return false;
  }
  const std::string third = mime_value(header, "X-Binary-Size-Third-Dimension");
  uint64_t depth = 1;
  if (!third.empty() && (!parse_count(third, depth) || depth != 1)) {
    why = "CBF image of three dimensions (third dimension '" + quoted(third) +
          "')";
    return false;
  }
  why = check_shape(rows, columns);
  if (!why.empty()) return false;
  if (elements != rows * columns) {
    why = "CBF header claims " + std::to_string(elements) + " elements for " +
          shape_text(rows, columns) + " pixels";
    return false;
  }
  /* Byte offset spends at least one byte on every pixel. */
  const uint64_t data_start = marker + 4;
  if (binary_size < elements || data_start > bytes ||
      bytes - data_start < binary_size) {
    why = "truncated CBF file: " + shape_text(rows, columns) + " pixels in " +
          std::to_string(binary_size) + " compressed bytes, " +
          std::to_string(bytes - std::min(bytes, data_start)) +
          " bytes follow the header";
    return false;
  }
  (void)content;

  /* The compressed bytes, cut after the last pixel's value: libcbf's
   * decoder goes on to the end of the stream it is given, past the
   * elements asked for, so that a stream of more values than the header's
   * count would write beyond the pixels. */
  std::vector<unsigned char> packed(binary_size);
  if (std::fseek(file.get(), static_cast<long>(data_start), SEEK_SET) != 0 ||
      std::fread(packed.data(), 1, binary_size, file.get()) != binary_size) {
    why = "read error";
    return false;
  }
  file.reset();
  size_t used = 0;
  if (!byte_offset_length(packed.data(), packed.size(), elements, used)) {
    why = "corrupt CBF data: the byte-offset stream of " +
          std::to_string(binary_size) + " bytes ends before " +
          shape_text(rows, columns) + " pixels";
    return false;
  }

  /* The minimal CBF that libcbf decodes: its header, the binary section's
   * MIME header as checked, and the compressed bytes. */
  const std::string head = "###CBF: VERSION 1.5\r\ndata_image\r\n"
                           "_array_data.data\r\n;\r\n" +
                           std::string(kSectionStart) + "\r\n" +
                           "Content-Type: application/octet-stream;\r\n"
                           "     conversions=\"x-CBF_BYTE_OFFSET\"\r\n"
                           "Content-Transfer-Encoding: BINARY\r\n"
                           "X-Binary-Size: " +
                           std::to_string(used) +
                           "\r\n"
                           "X-Binary-ID: 1\r\n"
                           "X-Binary-Element-Type: \"" +
                           pixel_type_name(type) +
                           "\"\r\n"
                           "X-Binary-Element-Byte-Order: LITTLE_ENDIAN\r\n"
                           "X-Binary-Number-of-Elements: " +
                           count_text +
                           "\r\n"
                           "X-Binary-Size-Fastest-Dimension: " +
                           fast +
                           "\r\n"
                           "X-Binary-Size-Second-Dimension: " +
                           slow +
                           "\r\n"
                           "X-Binary-Size-Padding: 0\r\n\r\n";
  const std::string tail = "\r\n--CIF-BINARY-FORMAT-SECTION----\r\n;\r\n";
  std::vector<char> minimal;
  minimal.reserve(head.size() + 4 + used + tail.size());
  minimal.insert(minimal.end(), head.begin(), head.end());
  minimal.insert(minimal.end(), kBinaryMarker, kBinaryMarker + 4);
  minimal.insert(minimal.end(), packed.begin(), packed.begin() + used);
  packed = {};
  minimal.insert(minimal.end(), tail.begin(), tail.end());

  const Cbf *lib = libcbf(why);
  if (!lib) return false;
  if (!allocate_image(image, rows, columns)) {
    why = "out of memory for " + shape_text(rows, columns) + " pixels";
    return false;
  }
  const size_t width = pixel_size(type);
  const bool is_signed =
      type == PixelType::I32 || type == PixelType::I16 || type == PixelType::I8;
  std::vector<unsigned char> scratch;
  if (width != 4) scratch.resize(elements * width);
  void *raw = width == 4 ? static_cast<void *>(image.pixels.data())
                         : static_cast<void *>(scratch.data());
  CbfHandle cbf{*lib};
  int id = 0;
  size_t read = 0;
  if (lib->cbf_make_handle(&cbf.handle) != 0) {
    why = "out of memory";
    return false;
  }
  lib->cbf_set_cbf_logfile(cbf.handle, nullptr);
  if (lib->cbf_read_buffered_file(cbf.handle, nullptr, MSG_NODIGEST,
                                  minimal.data(), minimal.size()) != 0 ||
      lib->cbf_rewind_datablock(cbf.handle) != 0 ||
      lib->cbf_find_category(cbf.handle, "array_data") != 0 ||
      lib->cbf_find_column(cbf.handle, "data") != 0 ||
      lib->cbf_get_integerarray(cbf.handle, &id, raw, width, is_signed ? 1 : 0,
                                elements, &read) != 0 ||
      read != elements) {
    why = "corrupt CBF data: the byte-offset stream does not decode to " +
          shape_text(rows, columns) + " pixels";
    return false;
  }
  convert_pixels(raw, type, false, elements, image.pixels.data(),
                 image.invalid.data());
  image.format = "CBF";
  return true;
}

} // namespace vabo_image_detail
