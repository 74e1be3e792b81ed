/*
 * vabo_npt.cpp -- reading and writing pyFAI's control-point files, and the
 * TwoTheta of a ring.
 *
 * The reader walks the lines once (vabo_textfile.h splits them), keeps the
 * group being read open until the next "New group of points:" or the end,
 * and gives its ring to its points when it closes; the checks that need
 * the whole file (the d-spacing of every ring, the wavelength of the
 * calibrant line) come at the end.  It fills a record of its own and hands
 * it over only when the whole file was good.  The writer builds the text in
 * pyFAI's layout, with groups ordered by ring.
 */
#include "vabo_npt.h"

#include "vabo_textfile.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <exception>
#include <numeric>

namespace {

/* Angstrom per metre: pyFAI's d-spacings are in Angstrom.  1e10 is exact in
 * binary, but dividing by it on reading and multiplying on writing round
 * once each, so a d written back may differ from the file's in its last
 * bit (1.2533302 comes back as 1.2533302000000002). */
constexpr double kAngstromPerMetre = 1e10;

/* pyFAI's word for a calibrant without a name. */
constexpr std::string_view kNoCalibrant = "undefined";

/* The shortest text that reads back to value. */
std::string shortest(double value)
{
  char buffer[64];
  auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
  if (ec != std::errc()) return "nan";
  return std::string(buffer, end);
}

/* The words of text, separated by blanks. */
std::vector<std::string_view> words(std::string_view text)
{
  std::vector<std::string_view> list;
  size_t at = 0;
  while (at < text.size()) {
    const size_t begin = text.find_first_not_of(" \t", at);
    if (begin == std::string_view::npos) break;
    size_t end = text.find_first_of(" \t", begin);
    if (end == std::string_view::npos) end = text.size();
    list.push_back(text.substr(begin, end - begin));
    at = end;
  }
  return list;
}

/* The state of one reading.  Every check that fails sets the message and
 * returns false, which the caller passes on at once. */
class Reader {
public:
  Reader(const char *name, std::string *error) : name_(name), error_(error) {}

  bool line(const VaboTextLine &l);
  bool finish(size_t last_line);
  VaboNpt &result() { return npt_; }

  bool fail(size_t line, const std::string &what)
  {
    *error_ = vabo_text_error(name_, line, what);
    return false;
  }

private:
  bool calibrant(std::string_view value, size_t line);
  bool wavelength(std::string_view value, size_t line);
  bool dspacing(std::string_view value, size_t line);
  bool ring(std::string_view value, size_t line);
  bool point(std::string_view value, size_t line);
  bool close_group();
  /* Records the first line of a key that may come once; false when it
   * came before. */
  bool once(size_t *seen, const char *key, size_t line);
  /* A positive number of the file: one with a unit is in SI units, a
   * bare one in the file's unit, of which there are bare_per_si in one SI
   * unit. */
  bool quantity(std::string_view text, const char *what, double bare_per_si,
                size_t line, double *value);

  const char *name_;
  std::string *error_;
  VaboNpt npt_;
  size_t calibrant_line_ = 0, wavelength_line_ = 0, dspacing_line_ = 0;
  bool has_calibrant_wavelength_ = false;
  double calibrant_wavelength_ = 0.0;
  /* The open group: its points from group_begin_ on, its ring. */
  size_t group_begin_ = 0;
  size_t ring_line_ = 0; /* line of its "ring:", 0: none yet */
  bool ring_none_ = false;
  int ring_ = 0;
};

bool Reader::once(size_t *seen, const char *key, size_t line)
{
  if (*seen == 0) {
    *seen = line;
    return true;
  }
  return fail(line, std::string("second \"") + key +
                        ":\" line (the first is line " + std::to_string(*seen) +
                        ")");
}

bool Reader::quantity(std::string_view text, const char *what,
                      double bare_per_si, size_t line, double *value)
{
  std::string why;
  bool has_unit = false;
  if (!vabo_text_number(text, value, &has_unit, &why))
    return fail(line, std::string(what) + ": " + why);
  if (!has_unit) *value /= bare_per_si;
  if (!(*value > 0.0) || !std::isfinite(*value))
    return fail(line, std::string(what) + " must be positive, not '" +
                          std::string(text) + "'");
  return true;
}

bool Reader::calibrant(std::string_view value, size_t line)
{
  if (!once(&calibrant_line_, "calibrant", line)) return false;
  const std::vector<std::string_view> w = words(value);
  if (w.empty() || w.front() == kNoCalibrant)
    npt_.calibrant.clear();
  else
    npt_.calibrant.assign(w.front());
  /* pyFAI's description: "NAME Calibrant [with N reflections] [at
   * wavelength W]". */
  const size_t n = w.size();
  if (n >= 3 && w[n - 3] == "at" && w[n - 2] == "wavelength") {
    if (!quantity(w[n - 1], "the calibrant's wavelength", 1.0, line,
                  &calibrant_wavelength_))
      return false;
    has_calibrant_wavelength_ = true;
  }
  return true;
}

bool Reader::wavelength(std::string_view value, size_t line)
{
  if (!once(&wavelength_line_, "wavelength", line)) return false;
  if (!quantity(value, "wavelength", 1.0, line, &npt_.wavelength)) return false;
  npt_.has_wavelength = true;
  return true;
}

bool Reader::dspacing(std::string_view value, size_t line)
{
  if (!once(&dspacing_line_, "dspacing", line)) return false;
  for (std::string_view word : words(value)) {
    double d = 0.0;
    if (!quantity(word, "d-spacing", kAngstromPerMetre, line, &d)) return false;
    npt_.dspacing.push_back(d);
  }
  npt_.has_dspacing = !npt_.dspacing.empty();
  return true;
}

bool Reader::ring(std::string_view value, size_t line)
{
  if (ring_line_ != 0)
    return fail(line, "second \"ring:\" line in one group (the first is line " +
                          std::to_string(ring_line_) + ")");
  ring_line_ = line;
  std::string lower(value);
  for (char &c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  if (lower == "none") {
    ring_none_ = true;
    return true;
  }
  double number = 0.0;
  bool has_unit = false;
  std::string why;
  if (!vabo_text_number(value, &number, &has_unit, &why))
    return fail(line, "ring: " + why);
  if (has_unit || number != std::floor(number) || number < 0.0 ||
      number > VaboNptMaxRing)
    return fail(line, "ring: '" + std::string(value) +
                          "' is not a ring number from 0 to " +
                          std::to_string(VaboNptMaxRing));
  ring_ = static_cast<int>(number);
  return true;
}

bool Reader::point(std::string_view value, size_t line)
{
  double coordinate[2] = {0.0, 0.0};
  bool seen[2] = {false, false};
  for (std::string_view word : words(value)) {
    const int axis = word.starts_with("x=")   ? 0
                     : word.starts_with("y=") ? 1
                                              : -1;
    if (axis < 0)
      return fail(line, "point: '" + std::string(word) +
                            "' is neither x=... nor y=...");
    if (seen[axis])
      return fail(line, std::string("point: a second ") + "xy"[axis] + "=");
    std::string why;
    bool has_unit = false;
    if (!vabo_text_number(word.substr(2), &coordinate[axis], &has_unit, &why))
      return fail(line, std::string("point ") + "xy"[axis] + ": " + why);
    if (has_unit)
      return fail(line, std::string("point ") + "xy"[axis] +
                            ": pixel coordinates take no unit");
    seen[axis] = true;
  }
  if (!seen[0] || !seen[1])
    return fail(line, std::string("point: its ") + (seen[0] ? "y=" : "x=") +
                          " is missing");
  VaboNptPoint p;
  p.i1 = coordinate[1];
  p.i2 = coordinate[0];
  p.line = line;
  npt_.points.push_back(p);
  return true;
}

bool Reader::close_group()
{
  if (group_begin_ < npt_.points.size()) {
    if (ring_line_ == 0 || ring_none_)
      return fail(npt_.points[group_begin_].line,
                  ring_none_ ? "point of a group whose ring is None"
                             : "point without a ring (its group has no "
                               "\"ring:\" line)");
    for (size_t k = group_begin_; k < npt_.points.size(); ++k)
      npt_.points[k].ring = ring_;
  }
  group_begin_ = npt_.points.size();
  ring_line_ = 0;
  ring_none_ = false;
  ring_ = 0;
  return true;
}

bool Reader::line(const VaboTextLine &l)
{
  if (vabo_text_is_comment(l.text)) return true;
  std::string key;
  std::string_view value;
  if (!vabo_text_key_value(l.text, ":", &key, &value))
    return fail(l.number, "not a \"key: value\" line");
  if (key == "calibrant") return calibrant(value, l.number);
  if (key == "wavelength") return wavelength(value, l.number);
  if (key == "dspacing") return dspacing(value, l.number);
  if (key == "ring") return ring(value, l.number);
  if (key == "point") return point(value, l.number);
  if (key == "new group of points") return close_group();
  if (key == "2theta") return true;
  return fail(l.number, "unknown key '" + key + "'");
}

bool Reader::finish(size_t last_line)
{
  if (!close_group()) return false;
  if (npt_.points.empty())
    return fail(0, last_line > 0 ? "no control points in the file"
                                 : "the file is empty");
  if (has_calibrant_wavelength_) {
    if (!npt_.has_wavelength) {
      npt_.has_wavelength = true;
      npt_.wavelength = calibrant_wavelength_;
    } else if (npt_.wavelength != calibrant_wavelength_) {
      return fail(calibrant_line_,
                  "the calibrant's wavelength " +
                      shortest(calibrant_wavelength_) +
                      " m differs from the wavelength of line " +
                      std::to_string(wavelength_line_) + ", " +
                      shortest(npt_.wavelength) + " m");
    }
  }
  if (npt_.has_dspacing) {
    for (const VaboNptPoint &p : npt_.points)
      if (static_cast<size_t>(p.ring) >= npt_.dspacing.size())
        return fail(p.line, "ring " + std::to_string(p.ring) +
                                " has no d-spacing (line " +
                                std::to_string(dspacing_line_) + " lists " +
                                std::to_string(npt_.dspacing.size()) + ")");
  }
  return true;
}

/* Why npt cannot be written, or empty. */
std::string unwritable(const VaboNpt &npt)
{
  for (char c : npt.calibrant)
    if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7f)
      return "the calibrant's name holds a blank or a control byte";
  if (npt.has_wavelength &&
      !(npt.wavelength > 0.0 && std::isfinite(npt.wavelength)))
    return "the wavelength is not a positive number";
  for (double d : npt.dspacing)
    if (!(d > 0.0 && std::isfinite(d)))
      return "a d-spacing is not a positive number";
  for (const VaboNptPoint &p : npt.points) {
    if (!std::isfinite(p.i1) || !std::isfinite(p.i2))
      return "a point's coordinates are not finite";
    if (p.ring < 0 || p.ring > VaboNptMaxRing)
      return "ring " + std::to_string(p.ring) + " is out of range";
    if (npt.has_dspacing && static_cast<size_t>(p.ring) >= npt.dspacing.size())
      return "ring " + std::to_string(p.ring) + " has no d-spacing";
  }
  return std::string();
}

std::string npt_text(const VaboNpt &npt)
{
  std::string text =
      "# Control points of a calibration, written by vabo\n"
      "# angles in radians, wavelength in metres, d-spacings in Angstrom, "
      "positions in pixels\n";
  const bool has_dspacing = npt.has_dspacing && !npt.dspacing.empty();
  if (!npt.calibrant.empty()) {
    /* The description pyFAI writes, whose first word is the name. */
    text += "calibrant: " + npt.calibrant + " Calibrant";
    if (has_dspacing)
      text += " with " + std::to_string(npt.dspacing.size()) + " reflections";
    if (npt.has_wavelength)
      text += " at wavelength " + shortest(npt.wavelength);
    text += "\n";
  }
  if (npt.has_wavelength)
    text += "wavelength: " + shortest(npt.wavelength) + "\n";
  text += "dspacing:";
  if (has_dspacing)
    for (double d : npt.dspacing) text += " " + shortest(d * kAngstromPerMetre);
  text += "\n";

  std::vector<size_t> order(npt.points.size());
  std::iota(order.begin(), order.end(), size_t{0});
  std::stable_sort(order.begin(), order.end(), [&npt](size_t a, size_t b) {
    return npt.points[a].ring < npt.points[b].ring;
  });
  int group = -1;
  int ring = -1;
  for (size_t k : order) {
    const VaboNptPoint &p = npt.points[k];
    if (group < 0 || p.ring != ring) {
      ring = p.ring;
      text += "\nNew group of points: " + std::to_string(++group) + "\n";
      if (npt.has_wavelength && has_dspacing) {
        const double tth =
            vabo_ring_two_theta(npt.wavelength, npt.dspacing[ring]);
        if (!std::isnan(tth)) text += "2theta: " + shortest(tth) + "\n";
      }
      text += "ring: " + std::to_string(ring) + "\n";
    }
    text += "point: x=" + shortest(p.i2) + " y=" + shortest(p.i1) + "\n";
  }
  return text;
}

} // namespace

bool vabo_npt_parse(std::string_view text, const char *name, VaboNpt *npt,
                    std::string *error)
{
  *npt = VaboNpt();
  try {
    Reader reader(name, error);
    std::vector<VaboTextLine> lines;
    if (!vabo_text_reader_lines(text, name, false, &lines, error)) return false;
    for (const VaboTextLine &l : lines)
      if (!reader.line(l)) return false;
    if (!reader.finish(lines.empty() ? 0 : lines.back().number)) return false;
    *npt = std::move(reader.result());
    return true;
  } catch (const std::exception &) {
    *npt = VaboNpt();
    *error = vabo_text_error(name, 0, "out of memory");
    return false;
  }
}

bool vabo_npt_read(const char *path, VaboNpt *npt, std::string *error)
{
  *npt = VaboNpt();
  std::string content;
  int os_error = 0;
  if (!vabo_text_read_file(path, &content, error, &os_error)) return false;
  return vabo_npt_parse(content, path, npt, error);
}

bool vabo_npt_text(const VaboNpt &npt, std::string *text, std::string *error)
{
  text->clear();
  try {
    const std::string why = unwritable(npt);
    if (!why.empty()) {
      *error = why;
      return false;
    }
    *text = npt_text(npt);
    return true;
  } catch (const std::exception &) {
    text->clear();
    error->clear();
    try {
      *error = "out of memory";
    } catch (const std::exception &) {
    }
    return false;
  }
}

bool vabo_ring_reachable(double wavelength, double d)
{
  return wavelength > 0.0 && std::isfinite(wavelength) && d > 0.0 &&
         std::isfinite(d) && wavelength / (2.0 * d) <= 1.0;
}

double vabo_ring_two_theta(double wavelength, double d)
{
  if (!vabo_ring_reachable(wavelength, d)) return std::nan("");
  return 2.0 * std::asin(wavelength / (2.0 * d));
}

bool vabo_npt_recognise(const char *path)
{
  /* The first line that says anything lies within the first few KiB of
   * any control-point file; a data file is not read further than that. */
  static constexpr size_t kHead = 4096;
  static constexpr std::string_view kKeys[] = {
      "calibrant", "wavelength", "dspacing", "new group of points",
      "ring",      "point",      "2theta"};
  FILE *file = fopen(path, "rb");
  if (!file) return false;
  char buffer[kHead];
  const size_t got = fread(buffer, 1, sizeof buffer, file);
  fclose(file);
  std::string_view text(buffer, got);
  while (!text.empty()) {
    const size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    if (!vabo_text_is_comment(line)) {
      const size_t colon = line.find(':');
      if (colon == std::string_view::npos) return false;
      const std::string_view key = vabo_text_trim(line.substr(0, colon));
      for (std::string_view k : kKeys) {
        if (key.size() != k.size()) continue;
        bool same = true;
        for (size_t i = 0; i < k.size() && same; i++)
          same = std::tolower(static_cast<unsigned char>(key[i])) == k[i];
        if (same) return true;
      }
      return false;
    }
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return false;
}
