/*
 * fuzz_npt -- the reader and writer of pyFAI's control-point files
 * (vabo_npt_parse, vabo_npt_text) on arbitrary bytes, read from memory.
 *
 * The input is the file's text as it is.  Checks: a failure leaves an empty
 * record and one line naming the file; a success gives a record that keeps
 * its invariants (points, finite coordinates, rings in range and with
 * their d-spacing, lines in the file), whose written text reads back to
 * the same points and rings in ring order, and the same calibrant and
 * wavelength.
 */
#include "fuzz_support.h"

#include "vabo_npt.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

using vabo_fuzz::fuzz_check;

constexpr const char *kName = "f.npt";

void check_invariants(const VaboNpt &npt, size_t size)
{
  fuzz_check(!npt.points.empty(), "a file read has points");
  fuzz_check(npt.has_dspacing == !npt.dspacing.empty(),
             "has_dspacing says whether there are d-spacings");
  fuzz_check(!npt.has_wavelength ||
                 (npt.wavelength > 0.0 && std::isfinite(npt.wavelength)),
             "the wavelength is positive and finite");
  for (double d : npt.dspacing)
    fuzz_check(d > 0.0 && std::isfinite(d), "d-spacings positive and finite");
  for (const VaboNptPoint &p : npt.points) {
    fuzz_check(std::isfinite(p.i1) && std::isfinite(p.i2),
               "coordinates are finite");
    fuzz_check(p.ring >= 0 && p.ring <= VaboNptMaxRing, "ring in range");
    fuzz_check(!npt.has_dspacing ||
                   static_cast<size_t>(p.ring) < npt.dspacing.size(),
               "each ring has its d-spacing");
    fuzz_check(p.line >= 1 && p.line <= size, "the line lies in the file");
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  const std::string_view text(reinterpret_cast<const char *>(data), size);
  VaboNpt npt;
  std::string error;
  if (!vabo_npt_parse(text, kName, &npt, &error)) {
    fuzz_check(npt.points.empty() && npt.calibrant.empty() &&
                   npt.dspacing.empty() && !npt.has_wavelength,
               "nothing is half-filled");
    fuzz_check(error.rfind(std::string(kName) + ":", 0) == 0,
               "the error names the file");
    fuzz_check(error.find('\n') == std::string::npos, "the error is one line");
    fuzz_check(NumProgRoot == nullptr, "no temporary program is left behind");
    return 0;
  }
  check_invariants(npt, size);

  std::string written;
  fuzz_check(vabo_npt_text(npt, &written, &error), "a record read is written");
  VaboNpt back;
  fuzz_check(vabo_npt_parse(written, kName, &back, &error),
             "the text written reads back");
  fuzz_check(back.calibrant == npt.calibrant, "the calibrant reads back");
  fuzz_check(back.has_wavelength == npt.has_wavelength &&
                 back.wavelength == npt.wavelength,
             "the wavelength reads back");
  fuzz_check(back.dspacing.size() == npt.dspacing.size(),
             "the d-spacings read back");
  std::vector<VaboNptPoint> sorted = npt.points;
  std::stable_sort(sorted.begin(), sorted.end(),
                   [](const VaboNptPoint &a, const VaboNptPoint &b) {
                     return a.ring < b.ring;
                   });
  fuzz_check(back.points.size() == sorted.size(), "every point is written");
  for (size_t k = 0; k < sorted.size(); ++k)
    fuzz_check(back.points[k].i1 == sorted[k].i1 &&
                   back.points[k].i2 == sorted[k].i2 &&
                   back.points[k].ring == sorted[k].ring,
               "points and rings read back in ring order");
  fuzz_check(NumProgRoot == nullptr, "no temporary program is left behind");
  return 0;
}
