/*
 * vabo_fit2d.cpp -- Fit2D's geometry to and from vabo's parameters, and
 * the reader of Fit2D files.
 *
 * The conversion follows pyFAI's getFit2D and setFit2D, written so that
 * small tilts lose no digits: the sine of the tilt comes from
 * hypot(sin rot1 cos rot2, sin rot2), not from sqrt(1 - cos^2), and the
 * beam centre's offset from the point of normal incidence is
 * dis (-tan rot1, sin rot2 / (cos rot1 cos rot2)), which is pyFAI's
 * dis tan(tilt) (cos tpr, sin tpr) without dividing by the sine of the
 * tilt.  The point of normal incidence goes through vabo_poni, which holds
 * the half-pixel convention.
 */
#include "vabo_fit2d.h"

#include "vabo_poni.h"
#include "vabo_textfile.h"

#include <cmath>
#include <exception>
#include <map>
#include <numbers>

namespace {

constexpr double kDegree = std::numbers::pi / 180.0; /* rad */
constexpr double kMmPerMetre = 1e3;
constexpr double kUmPerMetre = 1e6;

/* The keys of a Fit2D file, lower case, in the order of VaboFit2D, and as
 * getFit2D spells them. */
enum Fit2DKey {
  KeyDirectDist,
  KeyCenterX,
  KeyCenterY,
  KeyTilt,
  KeyTiltPlanRotation,
  KeyPixelX,
  KeyPixelY,
  KeySplineFile,
  NFit2DKeys
};
constexpr const char *kKeys[NFit2DKeys] = {
    "directdist",       "centerx", "centery", "tilt",
    "tiltplanrotation", "pixelx",  "pixely",  "splinefile"};
constexpr const char *kShown[NFit2DKeys] = {
    "directDist",       "centerX", "centerY", "tilt",
    "tiltPlanRotation", "pixelX",  "pixelY",  "splineFile"};

/* Fit2D's unit of each number key, per SI unit (0: the key takes no
 * unit), and whether it must be given. */
constexpr double kPerSi[NFit2DKeys] = {
    kMmPerMetre,   0.0,         0.0,         1.0 / kDegree,
    1.0 / kDegree, kUmPerMetre, kUmPerMetre, 0.0};
constexpr bool kRequired[NFit2DKeys] = {true,  true, true, false,
                                        false, true, true, false};

bool all_finite(const double *values, int n)
{
  for (int k = 0; k < n; ++k)
    if (!std::isfinite(values[k])) return false;
  return true;
}

class Reader {
public:
  Reader(const char *name, std::string *error) : name_(name), error_(error) {}

  bool fail(size_t line, const std::string &what)
  {
    *error_ = vabo_text_error(name_, line, what);
    return false;
  }

  bool line(const VaboTextLine &l);
  bool finish(VaboFit2DFile *file);

private:
  const char *name_;
  std::string *error_;
  double value_[NFit2DKeys] = {};
  size_t line_[NFit2DKeys] = {}; /* 0: not given */
};

bool Reader::line(const VaboTextLine &l)
{
  if (vabo_text_is_comment(l.text)) return true;
  std::string key;
  std::string_view value;
  if (!vabo_text_key_value(l.text, "=:", &key, &value))
    return fail(l.number, "not a \"key = value\" line");
  int k = 0;
  while (k < NFit2DKeys && key != kKeys[k]) ++k;
  if (k == NFit2DKeys) return fail(l.number, "unknown key '" + key + "'");
  if (line_[k] != 0)
    return fail(l.number, std::string("second ") + kShown[k] +
                              " (the first is line " +
                              std::to_string(line_[k]) + ")");
  line_[k] = l.number;
  if (k == KeySplineFile) {
    if (!value.empty() && value != "None" && value != "none")
      return fail(l.number, "spline file '" + std::string(value) +
                                "': vabo has no distortion correction");
    return true;
  }
  std::string why;
  bool has_unit = false;
  if (!vabo_text_number(value, &value_[k], &has_unit, &why))
    return fail(l.number, std::string(kShown[k]) + ": " + why);
  if (has_unit) {
    if (kPerSi[k] == 0.0)
      return fail(l.number,
                  std::string(kShown[k]) + " is in pixels and takes no unit");
    value_[k] *= kPerSi[k];
  }
  return true;
}

bool Reader::finish(VaboFit2DFile *file)
{
  for (int k = 0; k < NFit2DKeys; ++k)
    if (kRequired[k] && line_[k] == 0)
      return fail(0, std::string("no ") + kShown[k] + " line");
  VaboFit2DFile out;
  out.fit2d.directDist = value_[KeyDirectDist];
  out.fit2d.centerX = value_[KeyCenterX];
  out.fit2d.centerY = value_[KeyCenterY];
  out.fit2d.tilt = value_[KeyTilt];
  out.fit2d.tiltPlanRotation = value_[KeyTiltPlanRotation];
  out.fit2d.pixelX = value_[KeyPixelX];
  out.fit2d.pixelY = value_[KeyPixelY];
  for (int k : {KeyDirectDist, KeyPixelX, KeyPixelY})
    if (!(value_[k] > 0.0))
      return fail(line_[k], std::string(kShown[k]) + " must be positive");
  if (!(std::fabs(value_[KeyTilt]) < 90.0))
    return fail(line_[KeyTilt], "tilt must lie between -90 and 90 degrees");
  if (!vabo_parameters_from_fit2d(out.fit2d, out.start.data()))
    return fail(0, "the geometry has no start values (numbers too large)");
  *file = out;
  return true;
}

} // namespace

bool vabo_fit2d_from_parameters(const double *par, VaboFit2D *fit2d)
{
  if (!all_finite(par, NParams) || !(par[Pix1] > 0.0) || !(par[Pix2] > 0.0) ||
      !(par[Dis] > 0.0))
    return false;
  const VaboPoniGeometry g = vabo_poni_geometry(par);
  const double c1 = std::cos(g.rot1), s1 = std::sin(g.rot1);
  const double c2 = std::cos(g.rot2), s2 = std::sin(g.rot2);
  const double cos_tilt = c1 * c2;
  if (!(cos_tilt > 0.0)) return false;
  const double sin_tilt = std::hypot(s1 * c2, s2);
  VaboFit2D f;
  f.directDist = kMmPerMetre * g.dist / cos_tilt;
  f.tilt = std::atan2(sin_tilt, cos_tilt) / kDegree;
  if (sin_tilt != 0.0) {
    f.tiltPlanRotation = std::atan2(s2, -c2 * s1) / kDegree;
    if (f.tiltPlanRotation == -180.0) f.tiltPlanRotation = 180.0;
  }
  f.centerX = (g.poni2 - g.dist * s1 / c1) / g.pixel2;
  f.centerY = (g.poni1 + g.dist * s2 / cos_tilt) / g.pixel1;
  f.pixelX = g.pixel2 * kUmPerMetre;
  f.pixelY = g.pixel1 * kUmPerMetre;
  const double check[] = {f.directDist, f.tilt,   f.centerX,
                          f.centerY,    f.pixelX, f.pixelY};
  if (!all_finite(check, 6)) return false;
  *fit2d = f;
  return true;
}

bool vabo_parameters_from_fit2d(const VaboFit2D &f, double *par)
{
  const double given[] = {f.directDist,       f.centerX, f.centerY, f.tilt,
                          f.tiltPlanRotation, f.pixelX,  f.pixelY};
  if (!all_finite(given, 7) || !(f.directDist > 0.0) || !(f.pixelX > 0.0) ||
      !(f.pixelY > 0.0) || !(std::fabs(f.tilt) < 90.0))
    return false;
  const double cos_tilt = std::cos(f.tilt * kDegree);
  const double sin_tilt = std::sin(f.tilt * kDegree);
  const double cos_tpr = std::cos(f.tiltPlanRotation * kDegree);
  const double sin_tpr = std::sin(f.tiltPlanRotation * kDegree);
  VaboPoniGeometry g;
  g.pixel1 = f.pixelY / kUmPerMetre;
  g.pixel2 = f.pixelX / kUmPerMetre;
  g.dist = f.directDist * cos_tilt / kMmPerMetre;
  g.poni1 =
      f.centerY * g.pixel1 - f.directDist * sin_tilt * sin_tpr / kMmPerMetre;
  g.poni2 =
      f.centerX * g.pixel2 - f.directDist * sin_tilt * cos_tpr / kMmPerMetre;
  g.rot2 = std::asin(sin_tilt * sin_tpr);
  g.rot1 = std::atan2(-sin_tilt * cos_tpr, cos_tilt);
  g.rot3 = std::atan2(std::sin(g.rot1) * std::sin(g.rot2),
                      std::cos(g.rot1) + std::cos(g.rot2));
  double out[NParams];
  vabo_poni_parameters(g, out);
  if (!all_finite(out, NParams) || !(out[Pix1] > 0.0) || !(out[Pix2] > 0.0) ||
      !(out[Dis] > 0.0))
    return false;
  for (int p = 0; p < NParams; ++p) par[p] = out[p];
  return true;
}

bool vabo_fit2d_parse(std::string_view text, const char *name,
                      VaboFit2DFile *file, std::string *error)
{
  *file = VaboFit2DFile();
  try {
    Reader reader(name, error);
    std::vector<VaboTextLine> lines;
    if (!vabo_text_reader_lines(text, name, true, &lines, error)) return false;
    for (const VaboTextLine &l : lines)
      if (!reader.line(l)) return false;
    return reader.finish(file);
  } catch (const std::exception &) {
    *file = VaboFit2DFile();
    *error = vabo_text_error(name, 0, "out of memory");
    return false;
  }
}

bool vabo_fit2d_read(const char *path, VaboFit2DFile *file, std::string *error)
{
  *file = VaboFit2DFile();
  std::string content;
  int os_error = 0;
  if (!vabo_text_read_file(path, &content, error, &os_error)) return false;
  return vabo_fit2d_parse(content, path, file, error);
}
