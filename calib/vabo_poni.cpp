/*
 * vabo_poni.cpp -- the PONI geometry both ways, and the reader of PONI
 * files as start values.
 *
 * The reader collects the file's keys first (each with its line, each at
 * most once), then checks them as a whole by version: the pixel sizes come
 * from PixelSize1/2 (version 1) or from the Detector_config JSON object
 * (versions 2, 2.1, 3, read with nlohmann_json after its nesting has been
 * bounded), the geometry from Distance, Poni1, Poni2 and the rotations.
 * Nothing is handed over unless the whole file was good.
 */
#include "vabo_poni.h"

#include "vabo_textfile.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <exception>
#include <map>

namespace {

using Json = nlohmann::json;

/* The versions of the file that vabo reads. */
constexpr double kVersions[] = {1.0, 2.0, 2.1, 3.0};

/* The one detector orientation vabo's pixel axes follow: pyFAI's default,
 * first dimension downwards, second to the right, seen from the sample. */
constexpr int kOrientation = 3;

/* Keys of the file (lower case): those of every version, of version 1,
 * of the later versions. */
constexpr std::string_view kCommonKeys[] = {
    "poni_version", "detector", "distance", "dist",       "poni1",   "poni2",
    "rot1",         "rot2",     "rot3",     "wavelength", "parallax"};
constexpr std::string_view kVersion1Keys[] = {"pixelsize1", "pixelsize2",
                                              "splinefile"};
constexpr std::string_view kVersion2Keys[] = {"detector_config"};

template <size_t N>
bool listed(const std::string_view (&list)[N], const std::string &key)
{
  for (std::string_view k : list)
    if (k == key) return true;
  return false;
}

/* A key's value and its line. */
struct Entry {
  std::string_view value;
  size_t line = 0;
};

std::string lower(std::string_view text)
{
  std::string out(text);
  for (char &c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

/* Whether the JSON text nests arrays and objects deeper than limit
 * (brackets inside strings do not count). */
bool nests_deeper(std::string_view text, int limit)
{
  int depth = 0;
  bool in_string = false;
  for (size_t k = 0; k < text.size(); ++k) {
    const char c = text[k];
    if (in_string) {
      if (c == '\\')
        ++k;
      else if (c == '"')
        in_string = false;
    } else if (c == '"') {
      in_string = true;
    } else if (c == '[' || c == '{') {
      if (++depth > limit) return true;
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return false;
}

class Reader {
public:
  Reader(const char *name, std::string *error) : name_(name), error_(error) {}

  bool fail(size_t line, const std::string &what)
  {
    *error_ = vabo_text_error(name_, line, what);
    return false;
  }

  bool collect(const VaboTextLine &l);
  bool finish(VaboPoni *poni);

private:
  const Entry *find(const char *key) const
  {
    auto at = entries_.find(key);
    return at == entries_.end() ? nullptr : &at->second;
  }
  /* The number of key into *value; a missing key gives fallback when
   * required is false. */
  bool number(const char *key, const char *shown, bool required,
              double fallback, double *value);
  bool version();
  bool version1_pixels(double *pix1, double *pix2);
  bool detector_config(double *pix1, double *pix2);
  bool parallax();

  const char *name_;
  std::string *error_;
  std::map<std::string, Entry> entries_;
  std::map<std::string, std::string> shown_; /* key as the file spells it */
  double version_ = 1.0;
};

bool Reader::collect(const VaboTextLine &l)
{
  if (vabo_text_is_comment(l.text)) return true;
  std::string key;
  std::string_view value;
  if (!vabo_text_key_value(l.text, ":", &key, &value))
    return fail(l.number, "not a \"key: value\" line");
  if (!listed(kCommonKeys, key) && !listed(kVersion1Keys, key) &&
      !listed(kVersion2Keys, key))
    return fail(l.number, "unknown key '" + key + "'");
  if (key == "dist" || key == "distance") {
    const Entry *other = find(key == "dist" ? "distance" : "dist");
    if (other)
      return fail(l.number, "a second distance (line " +
                                std::to_string(other->line) + ")");
  }
  auto [at, added] = entries_.emplace(key, Entry{value, l.number});
  if (!added)
    return fail(l.number, "second \"" + key + ":\" line (the first is line " +
                              std::to_string(at->second.line) + ")");
  const size_t colon = l.text.find(':');
  shown_[key] = std::string(vabo_text_trim(l.text.substr(0, colon)));
  return true;
}

bool Reader::number(const char *key, const char *shown, bool required,
                    double fallback, double *value)
{
  const Entry *e = find(key);
  if (!e) {
    if (required) return fail(0, std::string("no ") + shown + " line");
    *value = fallback;
    return true;
  }
  std::string why;
  bool has_unit = false;
  if (!vabo_text_number(e->value, value, &has_unit, &why))
    return fail(e->line, std::string(shown) + ": " + why);
  return true;
}

bool Reader::version()
{
  const Entry *e = find("poni_version");
  if (!e) return true;
  if (!number("poni_version", "poni_version", true, 0.0, &version_))
    return false;
  for (double v : kVersions)
    if (version_ == v) return true;
  return fail(e->line, "PONI version '" + std::string(e->value) +
                           "' is not one vabo reads (1, 2, 2.1, 3)");
}

bool Reader::version1_pixels(double *pix1, double *pix2)
{
  if (const Entry *e = find("detector_config"))
    return fail(e->line, "Detector_config is a line of version 2 and later; "
                         "this file is of version 1");
  if (const Entry *e = find("splinefile")) {
    if (lower(e->value) != "none" && !e->value.empty())
      return fail(e->line, "spline file '" + std::string(e->value) +
                               "': vabo has no distortion correction");
  }
  return number("pixelsize1", "PixelSize1", true, 0.0, pix1) &&
         number("pixelsize2", "PixelSize2", true, 0.0, pix2);
}

bool Reader::detector_config(double *pix1, double *pix2)
{
  for (const char *key : {"pixelsize1", "pixelsize2", "splinefile"})
    if (const Entry *e = find(key))
      return fail(e->line, shown_[key] +
                               " is a line of version 1; this file's pixel "
                               "sizes come from Detector_config");
  const Entry *e = find("detector_config");
  if (!e) return fail(0, "no Detector_config line (version 2 and later)");
  if (nests_deeper(e->value, VaboPoniMaxJsonDepth))
    return fail(e->line, "Detector_config: nested too deeply");
  const Json config = Json::parse(e->value, nullptr, false);
  if (config.is_discarded() || !config.is_object())
    return fail(e->line, "Detector_config is not a JSON object");
  const auto spline = config.find("splineFile");
  if (spline != config.end() && !spline->is_null() &&
      !(spline->is_string() && spline->get_ref<const std::string &>().empty()))
    return fail(e->line, "Detector_config names a spline file: vabo has no "
                         "distortion correction");
  const auto orientation = config.find("orientation");
  if (orientation != config.end() &&
      !(orientation->is_number() && orientation->get<double>() == kOrientation))
    return fail(e->line, "detector orientation " + orientation->dump() +
                             ": vabo's pixel axes are those of orientation 3");
  const auto p1 = config.find("pixel1");
  const auto p2 = config.find("pixel2");
  if (p1 == config.end() || p2 == config.end()) {
    const Entry *detector = find("detector");
    const std::string which =
        detector ? "detector " + std::string(detector->value) : "the detector";
    return fail(e->line, which + ": the file gives no pixel sizes (pixel1 and "
                                 "pixel2 in Detector_config)");
  }
  if (!p1->is_number() || !p2->is_number())
    return fail(e->line, "Detector_config: pixel1 and pixel2 must be numbers");
  *pix1 = p1->get<double>();
  *pix2 = p2->get<double>();
  return true;
}

bool Reader::parallax()
{
  const Entry *e = find("parallax");
  if (!e) return true;
  const std::string value = lower(e->value);
  if (value == "false") return true;
  if (value == "true")
    return fail(e->line, "parallax correction: vabo has none");
  return fail(e->line, "Parallax must be True or False, not '" +
                           std::string(e->value) + "'");
}

bool Reader::finish(VaboPoni *poni)
{
  VaboPoni out;
  if (!version()) return false;
  out.version = version_;
  VaboPoniGeometry g;
  if (!(version_ == 1.0 ? version1_pixels(&g.pixel1, &g.pixel2)
                        : detector_config(&g.pixel1, &g.pixel2)))
    return false;
  if (!parallax()) return false;
  const char *distance = find("dist") ? "dist" : "distance";
  if (!number(distance, "Distance", true, 0.0, &g.dist) ||
      !number("poni1", "Poni1", true, 0.0, &g.poni1) ||
      !number("poni2", "Poni2", true, 0.0, &g.poni2) ||
      !number("rot1", "Rot1", false, 0.0, &g.rot1) ||
      !number("rot2", "Rot2", false, 0.0, &g.rot2) ||
      !number("rot3", "Rot3", false, 0.0, &g.rot3))
    return false;
  if (!(g.pixel1 > 0.0 && std::isfinite(g.pixel1) && g.pixel2 > 0.0 &&
        std::isfinite(g.pixel2))) {
    const Entry *e = find(version_ == 1.0 ? "pixelsize1" : "detector_config");
    return fail(e ? e->line : 0, "pixel sizes must be positive");
  }
  if (!(g.dist > 0.0))
    return fail(find(distance)->line, "Distance must be positive");
  if (const Entry *e = find("wavelength")) {
    if (!number("wavelength", "Wavelength", true, 0.0, &out.wavelength))
      return false;
    if (!(out.wavelength > 0.0))
      return fail(e->line, "Wavelength must be positive");
    out.has_wavelength = true;
  }
  if (const Entry *e = find("detector")) out.detector = std::string(e->value);
  vabo_poni_parameters(g, out.start.data());
  for (int p = 0; p < NParams; ++p)
    if (!std::isfinite(out.start[p]))
      return fail(0, std::string("the start value of ") + VaboParamNames[p] +
                         " is not finite");
  *poni = std::move(out);
  return true;
}

} // namespace

VaboPoniGeometry vabo_poni_geometry(const double *par)
{
  return {.dist = par[Dis],
          .poni1 = (par[Cen1] + 0.5) * par[Pix1],
          .poni2 = (par[Cen2] + 0.5) * par[Pix2],
          .rot1 = par[Rot1],
          .rot2 = par[Rot2],
          .rot3 = par[Rot3],
          .pixel1 = par[Pix1],
          .pixel2 = par[Pix2]};
}

void vabo_poni_parameters(const VaboPoniGeometry &g, double *par)
{
  par[Pix1] = g.pixel1;
  par[Pix2] = g.pixel2;
  par[Cen1] = g.poni1 / g.pixel1 - 0.5;
  par[Cen2] = g.poni2 / g.pixel2 - 0.5;
  par[Dis] = g.dist;
  par[Rot1] = g.rot1;
  par[Rot2] = g.rot2;
  par[Rot3] = g.rot3;
}

bool vabo_poni_parse(std::string_view text, const char *name, VaboPoni *poni,
                     std::string *error)
{
  *poni = VaboPoni();
  try {
    Reader reader(name, error);
    std::vector<VaboTextLine> lines;
    if (!vabo_text_reader_lines(text, name, true, &lines, error)) return false;
    for (const VaboTextLine &l : lines)
      if (!reader.collect(l)) return false;
    return reader.finish(poni);
  } catch (const std::exception &) {
    *poni = VaboPoni();
    *error = vabo_text_error(name, 0, "out of memory");
    return false;
  }
}

bool vabo_poni_read(const char *path, VaboPoni *poni, std::string *error)
{
  *poni = VaboPoni();
  std::string content;
  int os_error = 0;
  if (!vabo_text_read_file(path, &content, error, &os_error)) return false;
  return vabo_poni_parse(content, path, poni, error);
}
