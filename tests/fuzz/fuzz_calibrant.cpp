/*
 * fuzz_calibrant -- the reader of d-spacing files, vabo_calibrant_read_text,
 * on arbitrary bytes (NUL bytes included: the text has its size).
 *
 * Beyond what the sanitizers see, it checks the reader's promises: on
 * success the rings are positive, finite, within the file limits, strictly
 * decreasing beyond the merging tolerance and of unknown multiplicity and
 * label; on failure one line of text, "x.D:" first, and the calibrant
 * untouched.
 */
#include "fuzz_support.h"

#include "vabo_calibrant.h"

#include <cmath>
#include <cstdint>
#include <string>

using vabo_fuzz::fuzz_check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  VaboCalibrant out{"kept", {}};
  std::string error;
  const bool ok = vabo_calibrant_read_text(reinterpret_cast<const char *>(data),
                                           size, "x.D", 0.0, out, &error);
  if (!ok) {
    fuzz_check(error.rfind("x.D:", 0) == 0, "the message names the file");
    fuzz_check(error.find('\n') == std::string::npos, "one line");
    fuzz_check(out.name == "kept" && out.rings.empty(), "out untouched");
    return 0;
  }
  fuzz_check(out.name == "x.D", "the file's name");
  fuzz_check(!out.rings.empty(), "a file holds a d");
  for (size_t i = 0; i < out.rings.size(); ++i) {
    const VaboRing &ring = out.rings[i];
    fuzz_check(std::isfinite(ring.d) && ring.d >= VaboCalibrantFileMinD &&
                   ring.d <= VaboCalibrantFileMaxD,
               "d within the file limits");
    fuzz_check(ring.multiplicity == 0 &&
                   (ring.hkl[0] | ring.hkl[1] | ring.hkl[2]) == 0,
               "a file's ring has no multiplicity and label");
    fuzz_check(i == 0 || ring.d < out.rings[i - 1].d * (1 - VaboCalibrantSameD),
               "distinct d, decreasing");
  }
  return 0;
}
