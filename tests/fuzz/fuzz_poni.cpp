/*
 * fuzz_poni -- the readers of PONI files (vabo_poni_parse) and of Fit2D
 * geometries (vabo_fit2d_parse) on arbitrary bytes, read from memory.
 *
 * The input is the file's text as it is; both readers get it (a PONI line
 * "key: value" is a line of a Fit2D file too).  Checks: a failure leaves a
 * new record and one line naming the file; a PONI file read gives finite
 * start values with positive pixel sizes and distance, and the PONI
 * geometry of them gives the same values back within rounding; a Fit2D
 * file read gives the start values that its numbers convert to.
 */
#include "fuzz_support.h"

#include "vabo_fit2d.h"
#include "vabo_poni.h"

#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

using vabo_fuzz::fuzz_check;

constexpr const char *kName = "f";

void check_error(const std::string &error)
{
  fuzz_check(error.rfind(std::string(kName) + ":", 0) == 0,
             "the error names the file");
  fuzz_check(error.find('\n') == std::string::npos, "the error is one line");
}

void check_poni(std::string_view text)
{
  VaboPoni poni;
  std::string error;
  if (!vabo_poni_parse(text, kName, &poni, &error)) {
    check_error(error);
    fuzz_check(poni.start[Pix1] == 0.0 && !poni.has_wavelength &&
                   poni.detector.empty(),
               "a refused PONI file leaves a new record");
    return;
  }
  for (double v : poni.start) fuzz_check(std::isfinite(v), "finite start");
  fuzz_check(poni.start[Pix1] > 0.0 && poni.start[Pix2] > 0.0 &&
                 poni.start[Dis] > 0.0,
             "positive pixel sizes and distance");
  fuzz_check(!poni.has_wavelength ||
                 (poni.wavelength > 0.0 && std::isfinite(poni.wavelength)),
             "a positive finite wavelength");
  double back[NParams];
  vabo_poni_parameters(vabo_poni_geometry(poni.start.data()), back);
  for (int p = 0; p < NParams; ++p) {
    const double scale = std::fabs(poni.start[p]) + 1.0;
    fuzz_check(!std::isfinite(back[p]) ||
                   std::fabs(back[p] - poni.start[p]) <= 1e-6 * scale,
               "the PONI geometry converts back");
  }
}

void check_fit2d(std::string_view text)
{
  VaboFit2DFile file;
  std::string error;
  if (!vabo_fit2d_parse(text, kName, &file, &error)) {
    check_error(error);
    fuzz_check(file.fit2d.directDist == 0.0 && file.start[Dis] == 0.0,
               "a refused Fit2D file leaves a new record");
    return;
  }
  double par[NParams];
  fuzz_check(vabo_parameters_from_fit2d(file.fit2d, par),
             "the numbers of a Fit2D file read convert");
  for (int p = 0; p < NParams; ++p)
    fuzz_check(vabo_fuzz::same_double(par[p], file.start[p]),
               "the start values are those of the numbers");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  const std::string_view text(reinterpret_cast<const char *>(data), size);
  check_poni(text);
  check_fit2d(text);
  fuzz_check(NumProgRoot == nullptr, "no temporary program is left behind");
  return 0;
}
