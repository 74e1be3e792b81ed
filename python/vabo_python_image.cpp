/*
 * vabo_python_image.cpp -- detector images in the Python module:
 * vabo.read_image, the image readers of vabo_image.h (TIFF, EDF, CBF,
 * HDF5; a mask file optional) as numpy arrays.
 *
 * The record's two vectors become the arrays' memory as they are (moved,
 * not copied), so that a large image is held once.  Errors: OSError when
 * the file cannot be opened, ValueError for everything else, each with
 * the reader's one line.
 */
#include "vabo_python.h"

#include "vabo_image.h"

#include <pybind11/numpy.h>

#include <memory>
#include <utility>
#include <vector>

namespace vabo_python {

namespace {

constexpr const char *kReadImageDoc =
    R"doc(read_image(source, mask=None)

Read one detector image as vabo reads it.

The format (TIFF, EDF, CBF or HDF5/NeXus) is told by the file's content,
not by its name.

Parameters
----------
source : str or os.PathLike
    The image: ``FILE`` (its first image), ``FILE::[n]`` (TIFF page or
    EDF frame n, from 0), ``FILE::/path/to/dataset`` (an HDF5 dataset of
    2 dimensions, or frame 0 of one of 3) or ``FILE::/path/to/dataset[n]``
    (frame n of it).
mask : str or os.PathLike, optional
    A mask image of the same shape, spelled as source: its non-zero (and
    its own invalid) pixels are marked invalid too.

Returns
-------
pixels : numpy.ndarray of float32, shape (rows, columns)
    The intensities, rows first as fabio reads them: ``pixels[i1, i2]``.
invalid : numpy.ndarray of bool, same shape
    True where the pixel carries no intensity: negative (module gaps),
    the largest value of an unsigned type (saturation), not finite, or
    masked.

Raises
------
OSError
    The file (or the mask's) cannot be opened.
ValueError
    Anything else: not an image, a truncated or corrupt file, a dataset
    or frame that does not exist, a mask of another shape.  The message
    is one line that names the file.
)doc";

/* A vector handed to numpy: the array's base owns it. */
template <typename T>
py::array_t<T> adopt(std::vector<T> &&values, size_t rows, size_t columns)
{
  auto *owned = new std::vector<T>(std::move(values));
  py::capsule base(owned,
                   [](void *p) { delete static_cast<std::vector<T> *>(p); });
  return py::array_t<T>({rows, columns}, owned->data(), base);
}

/* The text of a path argument: str, bytes or os.PathLike. */
std::string path_text(py::handle value, const char *what)
{
  py::object path = py::module_::import("os").attr("fsdecode");
  try {
    return path(value).cast<std::string>();
  } catch (const py::error_already_set &) {
    throw py::type_error(std::string(what) + " must be a str or a path, not " +
                         std::string(py::str(py::type::of(value))));
  }
}

py::tuple read_image(py::handle source, py::handle mask)
{
  const std::string source_text = path_text(source, "source");
  const std::string mask_text =
      mask.is_none() ? std::string() : path_text(mask, "mask");
  VaboImage image;
  std::string error;
  const bool ok = with_library([&] {
    return vabo_read_masked_image(
        source_text.c_str(), mask_text.empty() ? nullptr : mask_text.c_str(),
        image, &error);
  });
  if (!ok) {
    /* The readers say "FILE: cannot open: <reason>" when the system
     * refuses the file, and only then. */
    if (error.find(": cannot open: ") != std::string::npos)
      PyErr_SetString(PyExc_OSError, error.c_str());
    else
      PyErr_SetString(PyExc_ValueError, error.c_str());
    throw py::error_already_set();
  }
  const size_t rows = image.rows, columns = image.columns;
  py::array_t<float> pixels = adopt(std::move(image.pixels), rows, columns);
  py::array_t<unsigned char> marks =
      adopt(std::move(image.invalid), rows, columns);
  return py::make_tuple(pixels, marks.attr("view")("bool"));
}

} // namespace

void bind_image(py::module_ &m)
{
  m.def("read_image", &read_image, py::arg("source"),
        py::arg("mask") = py::none(), kReadImageDoc);
}

} // namespace vabo_python
