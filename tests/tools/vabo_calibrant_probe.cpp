/*
 * vabo_calibrant_probe -- prints a calibrant's rings for the cross-checks.
 *
 *   vabo_calibrant_probe NAME_OR_FILE [DMIN]
 *
 * Loads the calibrant with vabo_calibrant_load (DMIN in metres, default
 * VaboCalibrantAllRings) and prints its name on the first line, then one
 * line per ring: "d h k l multiplicity", d in metres with %.17g.  A failure
 * prints the library's line on standard error and exits with 1.
 */
#include "vabo_calibrant.h"

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char **argv)
{
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: vabo_calibrant_probe NAME_OR_FILE [DMIN]\n");
    return 2;
  }
  const double dmin =
      argc == 3 ? std::strtod(argv[2], nullptr) : VaboCalibrantAllRings;
  VaboCalibrant calibrant;
  std::string error;
  if (!vabo_calibrant_load(argv[1], dmin, calibrant, &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  std::printf("%s\n", calibrant.name.c_str());
  for (const VaboRing &ring : calibrant.rings)
    std::printf("%.17g %d %d %d %d\n", ring.d, ring.hkl[0], ring.hkl[1],
                ring.hkl[2], ring.multiplicity);
  return 0;
}
