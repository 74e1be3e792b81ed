/*
 * vabo_image_hdf5.cpp -- the reader of HDF5 (NeXus) files through libhdf5:
 * a 2-D dataset, or one frame of a 3-D one, read by a hyperslab, of
 * integers (8 to 64 bits) or floats (32 or 64 bits).
 *
 * libhdf5's printing of errors is switched off while a file is read (and
 * the caller's setting put back after), so that errors come back as
 * values; the innermost message of its error stack joins the reason.  A
 * dataset compressed by a filter that neither libhdf5 nor an HDF5 plugin
 * provides is refused with the filter's number and name.  libhdf5 is
 * loaded when the first HDF5 file is read, not with the program.
 */
#include "vabo_image_internal.h"

#include <hdf5.h>

#include <algorithm>
#include <string>
#include <vector>

namespace vabo_image_detail {

namespace {

/* What the reader uses of libhdf5, bound when the first HDF5 file is read:
 * the functions, and the variables behind its type and class identifiers
 * (H5T_NATIVE_FLOAT ...), which H5open sets. */
// clang-format off
#define VABO_HDF5_FUNCTIONS(X) \
  X(H5open) X(H5get_libversion) X(H5Dclose) X(H5Dget_create_plist) \
  X(H5Dget_offset) X(H5Dget_space) X(H5Dget_storage_size) X(H5Dget_type) \
  X(H5Dopen2) X(H5Dread) X(H5Eclear2) X(H5Eget_auto2) X(H5Eset_auto2) \
  X(H5Ewalk2) X(H5Fclose) X(H5Fget_filesize) X(H5Fopen) X(H5Iget_file_id) \
  X(H5Iget_type) X(H5Oclose) X(H5Oopen) X(H5Pclose) X(H5Pcreate) \
  X(H5Pget_filter2) X(H5Pget_layout) X(H5Pget_nfilters) \
  X(H5Pset_fclose_degree) X(H5Sclose) X(H5Screate_simple) \
  X(H5Sget_simple_extent_dims) X(H5Sget_simple_extent_ndims) \
  X(H5Sselect_hyperslab) X(H5Tclose) X(H5Tget_class) X(H5Tget_sign) \
  X(H5Tget_size) X(H5Zfilter_avail)
#define VABO_HDF5_VARIABLES(X) \
  X(H5T_NATIVE_UINT8_g) X(H5T_NATIVE_INT8_g) X(H5T_NATIVE_UINT16_g) \
  X(H5T_NATIVE_INT16_g) X(H5T_NATIVE_UINT32_g) X(H5T_NATIVE_INT32_g) \
  X(H5T_NATIVE_UINT64_g) X(H5T_NATIVE_INT64_g) X(H5T_NATIVE_FLOAT_g) \
  X(H5T_NATIVE_DOUBLE_g) X(H5P_CLS_FILE_ACCESS_ID_g)
// clang-format on

/* H5F_ACC_RDONLY without the version check that its macro makes: the
 * loading checks the version once. */
constexpr unsigned kReadOnly = 0x0000u;

struct Hdf5 {
#define VABO_VARIABLE(name) const hid_t *name = nullptr;
  VABO_HDF5_FUNCTIONS(VABO_LIBRARY_FUNCTION)
  VABO_HDF5_VARIABLES(VABO_VARIABLE)
#undef VABO_VARIABLE
};

/* libhdf5, loaded and bound once for the process; null, with why, when it
 * cannot be. */
const Hdf5 *libhdf5(std::string &why)
{
  auto bind_all = [](void *library, Hdf5 &table) -> const char * {
    VABO_HDF5_FUNCTIONS(VABO_LIBRARY_BIND)
    VABO_HDF5_VARIABLES(VABO_LIBRARY_BIND)
    return nullptr;
  };
  auto start = [](const Hdf5 &h5, std::string &failure) {
    /* The check that H5F_ACC_RDONLY would make, as a failure rather than
     * libhdf5's abort. */
    unsigned major = 0, minor = 0, release = 0;
    if (h5.H5get_libversion(&major, &minor, &release) < 0 ||
        major != H5_VERS_MAJOR || minor != H5_VERS_MINOR) {
      failure = std::string(VABO_HDF5_SONAME) + " is libhdf5 " +
                std::to_string(major) + "." + std::to_string(minor) +
                ", vabo was built for " + std::to_string(H5_VERS_MAJOR) + "." +
                std::to_string(H5_VERS_MINOR);
      return false;
    }
    if (h5.H5open() < 0) {
      failure = "libhdf5 does not start";
      return false;
    }
    return true;
  };
  return library_table<Hdf5>(
      VABO_HDF5_SONAME, "HDF5 images need libhdf5: ", why, bind_all, start);
}

} // namespace

namespace {

/* One libhdf5 identifier, closed with its own closing function. */
class Hid {
public:
  using Close = herr_t (*)(hid_t);
  Hid(hid_t id, Close close) : id_(id), close_(close) {}
  Hid(const Hid &) = delete;
  Hid &operator=(const Hid &) = delete;
  ~Hid()
  {
    if (id_ >= 0) close_(id_);
  }
  hid_t get() const { return id_; }
  bool ok() const { return id_ >= 0; }

private:
  hid_t id_;
  Close close_;
};

/* libhdf5's automatic printing of errors off for the life of the guard,
 * the caller's setting restored after. */
class QuietErrors {
public:
  explicit QuietErrors(const Hdf5 &library) : h5(library)
  {
    h5.H5Eget_auto2(H5E_DEFAULT, &function_, &data_);
    h5.H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
  }
  QuietErrors(const QuietErrors &) = delete;
  QuietErrors &operator=(const QuietErrors &) = delete;
  ~QuietErrors()
  {
    h5.H5Eclear2(H5E_DEFAULT);
    h5.H5Eset_auto2(H5E_DEFAULT, function_, data_);
  }

private:
  const Hdf5 &h5;
  H5E_auto2_t function_ = nullptr;
  void *data_ = nullptr;
};

herr_t innermost_message(unsigned n, const H5E_error2_t *entry, void *data)
{
  if (n == 0 && entry && entry->desc) {
    try {
      *static_cast<std::string *>(data) = entry->desc;
    } catch (...) {
    }
  }
  return 0;
}

/* The innermost message on libhdf5's error stack, as " (HDF5: ...)", or
 * an empty text. */
std::string hdf5_detail(const Hdf5 &h5)
{
  std::string message;
  h5.H5Ewalk2(H5E_DEFAULT, H5E_WALK_UPWARD, innermost_message, &message);
  h5.H5Eclear2(H5E_DEFAULT);
  return message.empty() ? "" : " (HDF5: " + message + ")";
}

/* The stored type and libhdf5's native memory type of a dataset. */
bool dataset_type(const Hdf5 &h5, hid_t dataset, PixelType &type, hid_t &memory,
                  std::string &why)
{
  Hid stored(h5.H5Dget_type(dataset), h5.H5Tclose);
  if (!stored.ok()) {
    why = "dataset without a type";
    return false;
  }
  const H5T_class_t kind = h5.H5Tget_class(stored.get());
  const size_t size = h5.H5Tget_size(stored.get());
  if (kind == H5T_INTEGER) {
    const bool is_signed = h5.H5Tget_sign(stored.get()) == H5T_SGN_2;
    switch (size) {
    case 1: type = is_signed ? PixelType::I8 : PixelType::U8; break;
    case 2: type = is_signed ? PixelType::I16 : PixelType::U16; break;
    case 4: type = is_signed ? PixelType::I32 : PixelType::U32; break;
    case 8: type = is_signed ? PixelType::I64 : PixelType::U64; break;
    default:
      why = std::to_string(size) + "-byte integers are not read";
      return false;
    }
  } else if (kind == H5T_FLOAT && (size == 4 || size == 8)) {
    type = size == 4 ? PixelType::F32 : PixelType::F64;
  } else {
    why = "dataset of " + std::to_string(size) +
          "-byte elements that are not integers nor floats of 4 or 8 bytes";
    return false;
  }
  switch (type) {
  case PixelType::U8: memory = *h5.H5T_NATIVE_UINT8_g; break;
  case PixelType::I8: memory = *h5.H5T_NATIVE_INT8_g; break;
  case PixelType::U16: memory = *h5.H5T_NATIVE_UINT16_g; break;
  case PixelType::I16: memory = *h5.H5T_NATIVE_INT16_g; break;
  case PixelType::U32: memory = *h5.H5T_NATIVE_UINT32_g; break;
  case PixelType::I32: memory = *h5.H5T_NATIVE_INT32_g; break;
  case PixelType::U64: memory = *h5.H5T_NATIVE_UINT64_g; break;
  case PixelType::I64: memory = *h5.H5T_NATIVE_INT64_g; break;
  case PixelType::F32: memory = *h5.H5T_NATIVE_FLOAT_g; break;
  case PixelType::F64: memory = *h5.H5T_NATIVE_DOUBLE_g; break;
  }
  return true;
}

/* Whether every filter of the dataset can be applied; else why not, with
 * the filter's number and name. */
bool filters_available(const Hdf5 &h5, hid_t dataset, std::string &why)
{
  Hid plist(h5.H5Dget_create_plist(dataset), h5.H5Pclose);
  if (!plist.ok()) return true;
  const int count = h5.H5Pget_nfilters(plist.get());
  for (int k = 0; k < count; ++k) {
    unsigned flags = 0, config = 0;
    unsigned values[16];
    size_t nvalues = 16;
    char name[128] = "";
    const H5Z_filter_t filter =
        h5.H5Pget_filter2(plist.get(), static_cast<unsigned>(k), &flags,
                          &nvalues, values, sizeof name, name, &config);
    if (filter < 0) continue;
    name[sizeof name - 1] = '\0';
    if (h5.H5Zfilter_avail(filter) <= 0) {
      why = "dataset compressed by HDF5 filter " + std::to_string(filter) +
            (name[0] ? " (" + std::string(name) + ")" : std::string()) +
            ", which neither libhdf5 nor an HDF5 plugin here provides"
            " (plugins are looked for in HDF5_PLUGIN_PATH)";
      return false;
    }
  }
  return true;
}

} // namespace

bool read_hdf5(const ImageSource &source, VaboImage &image, std::string &why)
{
  if (source.path.empty()) {
    why = "an HDF5 file needs the dataset named: " + source.file +
          "::/path/to/dataset";
    return false;
  }
  const Hdf5 *library = libhdf5(why);
  if (!library) return false;
  const Hdf5 &h5 = *library;
  QuietErrors quiet(h5);
  Hid access(h5.H5Pcreate(*h5.H5P_CLS_FILE_ACCESS_ID_g), h5.H5Pclose);
  if (!access.ok() ||
      h5.H5Pset_fclose_degree(access.get(), H5F_CLOSE_STRONG) < 0) {
    why = "cannot open";
    return false;
  }
  Hid file(h5.H5Fopen(source.file.c_str(), kReadOnly, access.get()),
           h5.H5Fclose);
  if (!file.ok()) {
    why = "corrupt or truncated HDF5 file" + hdf5_detail(h5);
    return false;
  }
  const std::string &path = source.path;
  Hid object(h5.H5Oopen(file.get(), path.c_str(), H5P_DEFAULT), h5.H5Oclose);
  if (!object.ok()) {
    why = "no dataset " + path + hdf5_detail(h5);
    return false;
  }
  if (h5.H5Iget_type(object.get()) != H5I_DATASET) {
    why = path + " is not a dataset";
    return false;
  }
  Hid dataset(h5.H5Dopen2(file.get(), path.c_str(), H5P_DEFAULT), h5.H5Dclose);
  Hid space(dataset.ok() ? h5.H5Dget_space(dataset.get()) : -1, h5.H5Sclose);
  if (!dataset.ok() || !space.ok()) {
    why = "cannot open dataset " + path + hdf5_detail(h5);
    return false;
  }
  const int rank = h5.H5Sget_simple_extent_ndims(space.get());
  if (rank != 2 && rank != 3) {
    why = "dataset " + path + " has " + std::to_string(rank) +
          " dimensions; an image has 2, a stack of frames 3";
    return false;
  }
  hsize_t dims[3] = {1, 0, 0};
  h5.H5Sget_simple_extent_dims(space.get(), rank == 3 ? dims : dims + 1,
                               nullptr);
  if (rank == 2 && source.frame > 0) {
    why = "dataset " + path + " is one image, it has no frame " +
          std::to_string(source.frame);
    return false;
  }
  if (source.frame >= dims[0]) {
    why = "dataset " + path + " of " + std::to_string(dims[0]) +
          " frames has no frame " + std::to_string(source.frame);
    return false;
  }
  const std::string bad_shape = check_shape(dims[1], dims[2]);
  if (!bad_shape.empty()) {
    why = "dataset " + path + " of " + bad_shape;
    return false;
  }
  PixelType type;
  hid_t memory_type;
  if (!dataset_type(h5, dataset.get(), type, memory_type, why)) {
    why = "dataset " + path + ": " + why;
    return false;
  }
  if (!filters_available(h5, dataset.get(), why)) {
    why = path + ": " + why;
    return false;
  }
  /* What the file holds for the dataset, against what it claims (the
   * count of frames divides, a lying one may reach 2^64): all of
   * it when stored contiguously, within the file that holds the dataset
   * (an external link's target), or the frame within what its compressed
   * chunks can expand to.  Virtual and compact datasets are exempt: their
   * data lies in other datasets or in the object header. */
  const size_t width = pixel_size(type);
  const uint64_t frame_bytes = uint64_t{dims[1]} * dims[2] * width;
  const uint64_t stored = h5.H5Dget_storage_size(dataset.get());
  Hid create(h5.H5Dget_create_plist(dataset.get()), h5.H5Pclose);
  const H5D_layout_t layout =
      create.ok() ? h5.H5Pget_layout(create.get()) : H5D_LAYOUT_ERROR;
  Hid holder(h5.H5Iget_file_id(dataset.get()), h5.H5Fclose);
  hsize_t holder_bytes = 0;
  if (!holder.ok() || h5.H5Fget_filesize(holder.get(), &holder_bytes) < 0) {
    why = "cannot tell the size of the file of dataset " + path;
    return false;
  }
  const bool too_small =
      layout == H5D_CONTIGUOUS ? stored / frame_bytes < dims[0]
      : layout == H5D_CHUNKED
          ? stored == 0 || stored < frame_bytes / VaboImageMaxExpansion
          : false;
  if (too_small) {
    why = "dataset " + path + " holds " + std::to_string(stored) +
          " bytes, too few for " + std::to_string(dims[0]) + " frame" +
          (dims[0] == 1 ? "" : "s") + " of " + shape_text(dims[1], dims[2]) +
          " pixels of " + std::to_string(width) + " bytes";
    return false;
  }
  if (layout == H5D_CONTIGUOUS) {
    const haddr_t offset = h5.H5Dget_offset(dataset.get());
    if (offset == HADDR_UNDEF || offset > holder_bytes ||
        holder_bytes - offset < stored) {
      why = "truncated HDF5 file: dataset " + path + " reaches beyond its end";
      return false;
    }
  }
  if (!allocate_image(image, dims[1], dims[2])) {
    why = "out of memory for " + shape_text(dims[1], dims[2]) + " pixels";
    return false;
  }
  std::vector<unsigned char> scratch;
  if (width != 4) scratch.resize(image.pixels.size() * width);
  void *raw = width == 4 ? static_cast<void *>(image.pixels.data())
                         : static_cast<void *>(scratch.data());
  const hsize_t start[3] = {source.frame, 0, 0};
  const hsize_t count[3] = {1, dims[1], dims[2]};
  const int skip = rank == 3 ? 0 : 1;
  Hid memory_space(h5.H5Screate_simple(2, count + 1, nullptr), h5.H5Sclose);
  if (!memory_space.ok() ||
      h5.H5Sselect_hyperslab(space.get(), H5S_SELECT_SET, start + skip, nullptr,
                             count + skip, nullptr) < 0 ||
      h5.H5Dread(dataset.get(), memory_type, memory_space.get(), space.get(),
                 H5P_DEFAULT, raw) < 0) {
    why = "cannot read dataset " + path + hdf5_detail(h5);
    return false;
  }
  convert_pixels(raw, type, false, image.pixels.size(), image.pixels.data(),
                 image.invalid.data());
  image.format = "HDF5";
  return true;
}

} // namespace vabo_image_detail
