/*
 * vabo_image_edf.cpp -- the reader of EDF files, the text-header format of
 * ESRF's detectors, as fabio writes them: a header "{ key = value ; ... }"
 * (padded with blanks, usually to a multiple of 512 bytes) that ends with
 * "}" and a line end, and right after it the uncompressed pixels, Dim_1
 * (fast, columns) by Dim_2 (slow, rows).  A file of several frames holds
 * one header and its data after another.
 *
 * Every number of a header is checked against the others and against the
 * bytes the file holds before anything is allocated.  Compressed EDF
 * data (gzip, byte offset) is refused, not read.
 */
#include "vabo_image_internal.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace vabo_image_detail {

namespace {

/* The longest header read: ESRF's headers carry motor positions and run
 * to some tens of kilobytes; a megabyte without a closing brace is not an
 * EDF header. */
constexpr size_t kEdfMaxHeader = size_t{1} << 20;
/* The bytes first looked through for the end of a header: room for every
 * header but the longest, and still a block of the heap's reused memory. */
constexpr size_t kEdfFirstRead = size_t{64} << 10;

/* The largest frame number looked for: more frames than that in one file
 * would be a scan that belongs in HDF5. */
constexpr size_t kEdfMaxFrames = 1u << 20;

/* The data types of EDF headers, with fabio's spellings. */
struct EdfType {
  const char *name;
  PixelType type;
};
constexpr EdfType kEdfTypes[] = {
    {"SignedByte", PixelType::I8},
    {"Signed8", PixelType::I8},
    {"UnsignedByte", PixelType::U8},
    {"Unsigned8", PixelType::U8},
    {"SignedShort", PixelType::I16},
    {"Signed16", PixelType::I16},
    {"UnsignedShort", PixelType::U16},
    {"Unsigned16", PixelType::U16},
    {"UnsignedShortInteger", PixelType::U16},
    {"SignedInteger", PixelType::I32},
    {"Signed32", PixelType::I32},
    {"UnsignedInteger", PixelType::U32},
    {"Unsigned32", PixelType::U32},
    {"SignedLong", PixelType::I32},
    {"UnsignedLong", PixelType::U32},
    {"Signed64", PixelType::I64},
    {"Unsigned64", PixelType::U64},
    {"FloatValue", PixelType::F32},
    {"FLOATVALUE", PixelType::F32},
    {"FLOAT", PixelType::F32},
    {"Float", PixelType::F32},
    {"FloatIEEE32", PixelType::F32},
    {"Float32", PixelType::F32},
    {"Double", PixelType::F64},
    {"DoubleValue", PixelType::F64},
    {"FloatIEEE64", PixelType::F64},
    {"DoubleIEEE64", PixelType::F64},
};

using File = std::unique_ptr<std::FILE, int (*)(std::FILE *)>;

/* One frame's header: its key = value pairs, and where its data starts. */
struct EdfHeader {
  std::vector<std::pair<std::string, std::string>> entries;
  uint64_t data_offset = 0;
};

std::string trim(const std::string &text)
{
  const char *blank = " \t\r\n";
  const size_t begin = text.find_first_not_of(blank);
  if (begin == std::string::npos) return "";
  return text.substr(begin, text.find_last_not_of(blank) - begin + 1);
}

bool same_key(const std::string &a, const char *b)
{
  const size_t n = std::strlen(b);
  if (a.size() != n) return false;
  for (size_t k = 0; k < n; ++k)
    if (std::tolower(static_cast<unsigned char>(a[k])) !=
        std::tolower(static_cast<unsigned char>(b[k])))
      return false;
  return true;
}

/* The value of key (keys compared without case), or null. */
const std::string *lookup(const EdfHeader &header, const char *key)
{
  for (const auto &[name, value] : header.entries)
    if (same_key(name, key)) return &value;
  return nullptr;
}

/* The header that starts at offset at, looked for in the length bytes
 * there: found, or why not (at the end of the file found is false and why
 * empty). */
bool scan_header(std::FILE *file, uint64_t at, size_t length, EdfHeader &header,
                 std::string &why)
{
  std::string text(length, '\0');
  if (std::fseek(file, static_cast<long>(at), SEEK_SET) != 0 ||
      std::fread(text.data(), 1, length, file) != length) {
    why = "read error";
    return false;
  }
  const size_t open = text.find('{');
  if (open == std::string::npos || text.find_first_not_of(" \t\r\n") != open) {
    why =
        trim(text).empty() ? "" : "no EDF header at byte " + std::to_string(at);
    return false;
  }
  size_t close = open;
  size_t data = 0;
  while ((close = text.find('}', close + 1)) != std::string::npos) {
    if (close + 1 < length && text[close + 1] == '\n') {
      data = close + 2;
      break;
    }
    if (close + 2 < length && text[close + 1] == '\r' &&
        text[close + 2] == '\n') {
      data = close + 3;
      break;
    }
  }
  if (close == std::string::npos) {
    why = length == kEdfMaxHeader
              ? "EDF header at byte " + std::to_string(at) +
                    " has no end within " + std::to_string(kEdfMaxHeader) +
                    " bytes"
              : "truncated EDF header at byte " + std::to_string(at);
    return false;
  }
  header.entries.clear();
  const std::string body = text.substr(open + 1, close - open - 1);
  size_t begin = 0;
  while (begin < body.size()) {
    size_t end = body.find(';', begin);
    if (end == std::string::npos) end = body.size();
    const std::string entry = body.substr(begin, end - begin);
    const size_t equal = entry.find('=');
    if (equal != std::string::npos)
      header.entries.emplace_back(trim(entry.substr(0, equal)),
                                  trim(entry.substr(equal + 1)));
    begin = end + 1;
  }
  header.data_offset = at + data;
  return true;
}

/* The header that starts at offset at of a file of size bytes: found, or
 * why not (at the end of the file found is false and why empty).  Most
 * headers end within their first few kilobytes: the first kEdfFirstRead
 * bytes are looked through, and only when the header does not end there
 * all kEdfMaxHeader, which finds the same end (the first one). */
bool read_header(std::FILE *file, uint64_t at, uint64_t size, EdfHeader &header,
                 std::string &why)
{
  const size_t length =
      static_cast<size_t>(std::min<uint64_t>(size - at, kEdfMaxHeader));
  if (length > kEdfFirstRead &&
      scan_header(file, at, kEdfFirstRead, header, why))
    return true;
  why.clear();
  return scan_header(file, at, length, header, why);
}

/* The layout of one frame's data, from its header, checked. */
struct EdfFrame {
  uint64_t rows = 0, columns = 0;
  PixelType type = PixelType::U8;
  bool swap = false;
  uint64_t data_offset = 0;
  uint64_t data_size = 0;
};

bool frame_layout(const EdfHeader &header, uint64_t file_bytes, EdfFrame &frame,
                  std::string &why)
{
  const std::string *dim1 = lookup(header, "Dim_1");
  const std::string *dim2 = lookup(header, "Dim_2");
  const std::string *type = lookup(header, "DataType");
  if (!dim1 || !dim2 || !type) {
    why = std::string("EDF header without ") + (!dim1   ? "Dim_1"
                                                : !dim2 ? "Dim_2"
                                                        : "DataType");
    return false;
  }
  if (!parse_count(*dim1, frame.columns) || !parse_count(*dim2, frame.rows)) {
    why = "bad EDF dimensions Dim_1 = '" + quoted(*dim1) + "', Dim_2 = '" +
          quoted(*dim2) + "'";
    return false;
  }
  if (const std::string *dim3 = lookup(header, "Dim_3")) {
    uint64_t depth;
    if (!parse_count(*dim3, depth) || depth != 1) {
      why = "EDF frame of three dimensions (Dim_3 = '" + quoted(*dim3) + "')";
      return false;
    }
  }
  why = check_shape(frame.rows, frame.columns);
  if (!why.empty()) return false;
  bool known = false;
  for (const EdfType &entry : kEdfTypes)
    if (*type == entry.name) {
      frame.type = entry.type;
      known = true;
    }
  if (!known) {
    why = "unknown EDF DataType '" + quoted(*type) + "'";
    return false;
  }
  if (const std::string *compression = lookup(header, "Compression")) {
    if (!same_key(*compression, "None") &&
        !same_key(*compression, "NoCompression")) {
      why = "compressed EDF data (Compression = " + quoted(*compression) +
            ") is not read; uncompress it first";
      return false;
    }
  }
  const size_t bytes = pixel_size(frame.type);
  const std::string *order = lookup(header, "ByteOrder");
  if (order && *order != "LowByteFirst" && *order != "HighByteFirst") {
    why = "unknown EDF ByteOrder '" + quoted(*order) + "'";
    return false;
  }
  if (!order && bytes > 1) {
    why = "EDF header without ByteOrder for a type of " +
          std::to_string(bytes) + " bytes";
    return false;
  }
  const bool big_endian_host = [] {
    const uint16_t probe = 1;
    unsigned char first;
    std::memcpy(&first, &probe, 1);
    return first == 0;
  }();
  frame.swap =
      order && bytes > 1 && (*order == "HighByteFirst") != big_endian_host;
  frame.data_size = frame.rows * frame.columns * bytes;
  for (const char *key : {"Size", "EDF_BinarySize"}) {
    const std::string *size = lookup(header, key);
    uint64_t claimed;
    if (size && (!parse_count(*size, claimed) || claimed != frame.data_size)) {
      why = std::string("EDF ") + key + " = " + quoted(*size) +
            " does not match " + shape_text(frame.rows, frame.columns) +
            " pixels of " + std::to_string(bytes) + " bytes";
      return false;
    }
  }
  frame.data_offset = header.data_offset;
  if (frame.data_offset > file_bytes ||
      file_bytes - frame.data_offset < frame.data_size) {
    why = "truncated EDF file: the header promises " +
          std::to_string(frame.data_size) + " bytes of data, " +
          std::to_string(file_bytes - std::min(file_bytes, frame.data_offset)) +
          " follow it";
    return false;
  }
  return true;
}

} // namespace

bool read_edf(const ImageSource &source, VaboImage &image, std::string &why)
{
  if (!source.path.empty()) {
    why = "an EDF file has no dataset '" + source.path + "'";
    return false;
  }
  File file(std::fopen(source.file.c_str(), "rb"), std::fclose);
  const int64_t size = file_size(source.file.c_str());
  if (!file || size < 0) {
    why = "cannot open";
    return false;
  }
  const uint64_t bytes = static_cast<uint64_t>(size);
  EdfHeader header;
  EdfFrame frame;
  uint64_t at = 0;
  for (size_t index = 0;; ++index) {
    if (index > kEdfMaxFrames) {
      why = "more than " + std::to_string(kEdfMaxFrames) + " EDF frames";
      return false;
    }
    if (at >= bytes || !read_header(file.get(), at, bytes, header, why)) {
      if (why.empty())
        why = "EDF file of " + std::to_string(index) + " frame" +
              (index == 1 ? "" : "s") + " has no frame " +
              std::to_string(source.frame);
      return false;
    }
    if (!frame_layout(header, bytes, frame, why)) {
      if (index > 0) why = "frame " + std::to_string(index) + ": " + why;
      return false;
    }
    if (index == source.frame) break;
    at = frame.data_offset + frame.data_size;
  }
  if (!allocate_image(image, frame.rows, frame.columns)) {
    why = "out of memory for " + shape_text(frame.rows, frame.columns) +
          " pixels";
    return false;
  }
  /* The pixels are read a block of rows at a time into a scratch buffer
   * (or, for 4-byte types, straight into the float vector) and converted.
   * A block small enough to come from the heap's reused memory, not from
   * pages of its own. */
  const size_t width = pixel_size(frame.type);
  const size_t row_bytes = frame.columns * width;
  constexpr size_t kBlockBytes = size_t{64} << 10;
  const size_t block_rows = std::max<size_t>(
      1, std::min<size_t>(frame.rows, kBlockBytes / row_bytes));
  std::vector<unsigned char> scratch;
  if (width != 4) scratch.resize(block_rows * row_bytes);
  if (std::fseek(file.get(), static_cast<long>(frame.data_offset), SEEK_SET) !=
      0) {
    why = "read error";
    return false;
  }
  for (size_t row = 0; row < frame.rows; row += block_rows) {
    const size_t rows = std::min(block_rows, frame.rows - row);
    float *out = image.pixels.data() + row * frame.columns;
    void *raw = width == 4 ? static_cast<void *>(out) : scratch.data();
    if (std::fread(raw, 1, rows * row_bytes, file.get()) != rows * row_bytes) {
      why = "read error";
      return false;
    }
    convert_pixels(raw, frame.type, frame.swap, rows * frame.columns, out,
                   image.invalid.data() + row * frame.columns);
  }
  image.format = "EDF";
  return true;
}

} // namespace vabo_image_detail
