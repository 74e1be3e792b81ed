/*
 * vabo_peers_probe -- the readers and converters of the peers' files
 * (vabo_npt, vabo_poni, vabo_fit2d) for the cross-checks against pyFAI.
 *
 *   vabo_peers_probe npt FILE      the control points of FILE
 *   vabo_peers_probe npt-write     a control-point file (standard output)
 *                                  of the record on standard input
 *   vabo_peers_probe poni FILE     the start values of a PONI file
 *   vabo_peers_probe fit2d FILE    the start values of a Fit2D file
 *   vabo_peers_probe to-fit2d      lines of eight parameters -> Fit2D
 *   vabo_peers_probe from-fit2d    lines of seven Fit2D numbers -> eight
 *                                  parameters
 *
 * Records are lines of words, numbers with %.17g: "calibrant NAME" (- for
 * none), "wavelength W" (none), "dspacing D..." (none), "point RING I1 I2
 * LINE", "tth RING TwoTheta" (nan when unreachable), "start V1 ... V8",
 * "fit2d directDist centerX centerY tilt tiltPlanRotation pixelX pixelY";
 * a conversion that fails prints "fail".  A reader's error goes to
 * standard error and ends the program with status 1; status 2 is a usage
 * error.
 */
#include "vabo_fit2d.h"
#include "vabo_npt.h"
#include "vabo_poni.h"

#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>

namespace {

void print_start(const double *start)
{
  std::printf("start");
  for (int p = 0; p < NParams; ++p) std::printf(" %.17g", start[p]);
  std::printf("\n");
}

void print_fit2d(const VaboFit2D &f)
{
  std::printf("fit2d %.17g %.17g %.17g %.17g %.17g %.17g %.17g\n", f.directDist,
              f.centerX, f.centerY, f.tilt, f.tiltPlanRotation, f.pixelX,
              f.pixelY);
}

int fail(const std::string &error)
{
  std::fprintf(stderr, "%s\n", error.c_str());
  return 1;
}

int npt(const char *path)
{
  VaboNpt n;
  std::string error;
  if (!vabo_npt_read(path, &n, &error)) return fail(error);
  std::printf("calibrant %s\n",
              n.calibrant.empty() ? "-" : n.calibrant.c_str());
  if (n.has_wavelength)
    std::printf("wavelength %.17g\n", n.wavelength);
  else
    std::printf("wavelength none\n");
  std::printf("dspacing");
  if (!n.has_dspacing) std::printf(" none");
  for (double d : n.dspacing) std::printf(" %.17g", d);
  std::printf("\n");
  for (const VaboNptPoint &p : n.points)
    std::printf("point %d %.17g %.17g %zu\n", p.ring, p.i1, p.i2, p.line);
  if (n.has_wavelength)
    for (size_t k = 0; k < n.dspacing.size(); ++k)
      std::printf("tth %zu %.17g\n", k,
                  vabo_ring_two_theta(n.wavelength, n.dspacing[k]));
  return 0;
}

int npt_write()
{
  VaboNpt n;
  std::string line;
  while (std::getline(std::cin, line)) {
    std::istringstream in(line);
    std::string key;
    in >> key;
    if (key == "calibrant") {
      in >> n.calibrant;
      if (n.calibrant == "-") n.calibrant.clear();
    } else if (key == "wavelength") {
      n.has_wavelength = static_cast<bool>(in >> n.wavelength);
    } else if (key == "dspacing") {
      double d;
      while (in >> d) n.dspacing.push_back(d);
      n.has_dspacing = !n.dspacing.empty();
    } else if (key == "point") {
      VaboNptPoint p;
      in >> p.ring >> p.i1 >> p.i2;
      n.points.push_back(p);
    }
  }
  std::string text, error;
  if (!vabo_npt_text(n, &text, &error)) return fail(error);
  std::fwrite(text.data(), 1, text.size(), stdout);
  return 0;
}

int poni(const char *path)
{
  VaboPoni p;
  std::string error;
  if (!vabo_poni_read(path, &p, &error)) return fail(error);
  print_start(p.start.data());
  if (p.has_wavelength)
    std::printf("wavelength %.17g\n", p.wavelength);
  else
    std::printf("wavelength none\n");
  return 0;
}

int fit2d(const char *path)
{
  VaboFit2DFile f;
  std::string error;
  if (!vabo_fit2d_read(path, &f, &error)) return fail(error);
  print_start(f.start.data());
  print_fit2d(f.fit2d);
  return 0;
}

int to_fit2d()
{
  std::string line;
  while (std::getline(std::cin, line)) {
    std::istringstream in(line);
    double par[NParams];
    for (double &v : par) in >> v;
    VaboFit2D f;
    if (in && vabo_fit2d_from_parameters(par, &f))
      print_fit2d(f);
    else
      std::printf("fail\n");
  }
  return 0;
}

int from_fit2d()
{
  std::string line;
  while (std::getline(std::cin, line)) {
    std::istringstream in(line);
    VaboFit2D f;
    in >> f.directDist >> f.centerX >> f.centerY >> f.tilt >>
        f.tiltPlanRotation >> f.pixelX >> f.pixelY;
    double par[NParams];
    if (in && vabo_parameters_from_fit2d(f, par))
      print_start(par);
    else
      std::printf("fail\n");
  }
  return 0;
}

} // namespace

int main(int argc, char **argv)
{
  const std::string command = argc > 1 ? argv[1] : "";
  if (argc == 3 && command == "npt") return npt(argv[2]);
  if (argc == 3 && command == "poni") return poni(argv[2]);
  if (argc == 3 && command == "fit2d") return fit2d(argv[2]);
  if (argc == 2 && command == "npt-write") return npt_write();
  if (argc == 2 && command == "to-fit2d") return to_fit2d();
  if (argc == 2 && command == "from-fit2d") return from_fit2d();
  std::fprintf(stderr, "usage: vabo_peers_probe npt|poni|fit2d FILE | "
                       "npt-write | to-fit2d | from-fit2d\n");
  return 2;
}
