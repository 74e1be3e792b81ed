/*
 * vabo_calibrant.cpp -- the built-in calibrants and the reader of d-spacing
 * files (vabo_calibrant.h).
 *
 * A built-in is a cell and a lattice: its reflections are searched over
 * every (h k l) that can reach dmin, kept by the lattice's reflection
 * conditions, and merged by d into rings.  A file is read line by line
 * with the expression reader; its d-spacings go through the same merging.
 * Both build the calibrant aside and hand it over only when all went well.
 */
#include "vabo_calibrant.h"

#include "numio.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <string_view>

#include <sys/stat.h>

namespace {

/* ---- the built-ins ----------------------------------------------------- */

/* The lattices of the built-ins, each with its reflection conditions. */
enum class Lattice {
  PrimitiveCubic,   /* every (h k l) */
  FaceCentredCubic, /* h, k, l all even or all odd */
  Diamond,          /* F, and h + k + l = 4n when all are even */
  CorundumR3c,      /* R-3c, obverse setting, hexagonal axes */
  Lamellar,         /* (0 0 l) only: a stack of layers of period c */
};

/* A built-in calibrant: its lattice and cell.  The cubic ones use a, the
 * lamellar one c, the hexagonal one both. */
struct BuiltIn {
  const char *name;
  Lattice lattice;
  double a; /* cell edge a, m */
  double c; /* cell edge c, or the period of the layers, m */
};

/* The certified cells where there is a certificate. */
constexpr BuiltIn kBuiltIns[] = {
    /* lanthanum hexaboride, NIST SRM 660c */
    {"LaB6", Lattice::PrimitiveCubic, 4.156826e-10, 0.0},
    /* ceria, NIST SRM 674b, fluorite structure */
    {"CeO2", Lattice::FaceCentredCubic, 5.411651e-10, 0.0},
    /* silicon, NIST SRM 640e */
    {"Si", Lattice::Diamond, 5.431179e-10, 0.0},
    /* corundum, NIST SRM 676a */
    {"Al2O3", Lattice::CorundumR3c, 4.759091e-10, 12.991779e-10},
    /* gold and nickel, face-centred cubic metals */
    {"Au", Lattice::FaceCentredCubic, 4.0782e-10, 0.0},
    {"Ni", Lattice::FaceCentredCubic, 3.5239e-10, 0.0},
    /* silver behenate, lamellar with a long period */
    {"AgBh", Lattice::Lamellar, 0.0, 58.380e-10},
};
constexpr size_t kBuiltInCount = std::size(kBuiltIns);

constexpr const char *kNames[] = {"LaB6", "CeO2", "Si",  "Al2O3",
                                  "Au",   "Ni",   "AgBh"};
static_assert(std::size(kNames) == kBuiltInCount);
static_assert([] {
  for (size_t i = 0; i < kBuiltInCount; ++i)
    if (std::string_view(kNames[i]) != kBuiltIns[i].name) return false;
  return true;
}());

/* Whether the reflection (h k l), not (0 0 0), is allowed by lattice. */
bool allowed(Lattice lattice, int h, int k, int l)
{
  const bool same_parity = (h & 1) == (k & 1) && (k & 1) == (l & 1);
  switch (lattice) {
  case Lattice::PrimitiveCubic: return true;
  case Lattice::FaceCentredCubic: return same_parity;
  case Lattice::Diamond:
    return same_parity && ((h & 1) != 0 || (h + k + l) % 4 == 0);
  case Lattice::CorundumR3c:
    /* Centring of the obverse setting: -h + k + l = 3n.  The c glides:
     * l = 2n on the zones (h 0 l), (0 k l) and (h -h l), the three that
     * International Tables write as h -h 0 l. */
    if ((-h + k + l) % 3 != 0) return false;
    return (h != 0 && k != 0 && h + k != 0) || l % 2 == 0;
  case Lattice::Lamellar: return h == 0 && k == 0;
  }
  return false;
}

/* The d-spacing (m) of the reflection (h k l), not (0 0 0). */
double spacing(const BuiltIn &cell, int h, int k, int l)
{
  switch (cell.lattice) {
  case Lattice::PrimitiveCubic:
  case Lattice::FaceCentredCubic:
  case Lattice::Diamond:
    return cell.a / std::sqrt(double(h * h + k * k + l * l));
  case Lattice::CorundumR3c: {
    /* 1/d^2 = 4 (h^2 + h k + k^2) / (3 a^2) + l^2 / c^2 */
    const double q = double(h * h + h * k + k * k);
    const double inverse2 =
        4.0 * q / (3.0 * cell.a * cell.a) + double(l * l) / (cell.c * cell.c);
    return 1.0 / std::sqrt(inverse2);
  }
  case Lattice::Lamellar: return cell.c / std::abs(l);
  }
  return 0.0;
}

/* Whether label a comes after label b in the order of (h, k, l). */
bool later(const int *a, const int *b)
{
  return std::lexicographical_compare(b, b + 3, a, a + 3);
}

/* Sorts entries by decreasing d and merges those within VaboCalibrantSameD
 * of the first of their ring into it (its d, the sum of the
 * multiplicities, the greatest label). */
void merge_rings(std::vector<VaboRing> &rings)
{
  std::sort(rings.begin(), rings.end(),
            [](const VaboRing &x, const VaboRing &y) { return x.d > y.d; });
  size_t n = 0;
  for (size_t i = 0; i < rings.size(); ++i) {
    const VaboRing entry = rings[i];
    if (n > 0 &&
        rings[n - 1].d - entry.d <= VaboCalibrantSameD * rings[n - 1].d) {
      VaboRing &ring = rings[n - 1];
      ring.multiplicity += entry.multiplicity;
      if (later(entry.hkl, ring.hkl))
        std::copy(entry.hkl, entry.hkl + 3, ring.hkl);
      continue;
    }
    rings[n++] = entry;
  }
  rings.resize(n);
}

/* The rings of cell with d >= dmin (m, at least VaboCalibrantMinDmin): every
 * (h k l) that can reach dmin, one entry per allowed reflection, merged.
 * |h| and |k| stay below a / d (the cubic and hexagonal metrics give
 * 1/d^2 >= h^2 / a^2), |l| below c / d or a / d. */
std::vector<VaboRing> builtin_rings(const BuiltIn &cell, double dmin)
{
  const int hk = cell.lattice == Lattice::Lamellar
                     ? 0
                     : static_cast<int>(cell.a / dmin) + 1;
  const int lmax =
      cell.lattice == Lattice::Lamellar || cell.lattice == Lattice::CorundumR3c
          ? static_cast<int>(cell.c / dmin) + 1
          : hk;
  std::vector<VaboRing> rings;
  for (int h = -hk; h <= hk; ++h)
    for (int k = -hk; k <= hk; ++k)
      for (int l = -lmax; l <= lmax; ++l) {
        if ((h == 0 && k == 0 && l == 0) || !allowed(cell.lattice, h, k, l))
          continue;
        const double d = spacing(cell, h, k, l);
        if (d >= dmin) rings.push_back({d, 1, {h, k, l}});
      }
  merge_rings(rings);
  return rings;
}

/* The built-in named name, compared without case (ASCII only, whatever the
 * locale); none if there is none. */
const BuiltIn *find_builtin(const char *name)
{
  auto lower = [](unsigned char c) {
    return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c;
  };
  for (const BuiltIn &cell : kBuiltIns) {
    const char *a = cell.name, *b = name;
    while (*a && *b && lower(*a) == lower(*b)) ++a, ++b;
    if (*a == '\0' && *b == '\0') return &cell;
  }
  return nullptr;
}

/* ---- messages ---------------------------------------------------------- */

/* The longest piece of a line that a message quotes, bytes. */
constexpr size_t kQuoteBytes = 40;

/* text made fit for a one-line message: control characters as '?'; cut
 * after limit bytes (not inside a UTF-8 character) with "...". */
std::string printable(std::string_view text, size_t limit = std::string::npos)
{
  std::string out;
  size_t n = text.size();
  if (n > limit) {
    n = limit;
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  }
  for (size_t i = 0; i < n; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    out += c < 0x20 || c == 0x7F ? '?' : char(c);
  }
  if (n < text.size()) out += "...";
  return out;
}

/* A piece of a line as a message quotes it. */
std::string quoted(std::string_view text)
{
  return printable(text, kQuoteBytes);
}

/* The failure's text into *error (if given), formatted; false, to be
 * returned.  Without storage for the text the failure stands without it. */
[[gnu::format(printf, 2, 3)]] bool fail(std::string *error, const char *format,
                                        ...)
{
  if (!error) return false;
  va_list args, again;
  va_start(args, format);
  va_copy(again, args);
  const int length = vsnprintf(nullptr, 0, format, args);
  va_end(args);
  try {
    error->assign(length > 0 ? size_t(length) : 0, '\0');
    if (length > 0) vsnprintf(error->data(), error->size() + 1, format, again);
  } catch (const std::exception &) {
    error->clear();
  }
  va_end(again);
  return false;
}

/* "LaB6, CeO2, ..., AgBh". */
std::string builtin_list()
{
  std::string list;
  for (const char *name : kNames)
    list += (list.empty() ? "" : ", ") + std::string(name);
  return list;
}

/* ---- d-spacing files --------------------------------------------------- */

bool is_blank(char c) { return c == ' ' || c == '\t'; }

/* The d-spacings of the text of a d-spacing file, in file order, appended
 * to rings; where names the file in messages.  false with the message. */
bool read_spacings(const char *text, size_t size, const std::string &where,
                   std::vector<VaboRing> &rings, std::string *error)
{
  std::string value; /* the line's number text, terminated for the reader */
  size_t line = 0;
  for (size_t pos = 0; pos < size;) {
    ++line;
    const char *begin = text + pos;
    const char *newline =
        static_cast<const char *>(std::memchr(begin, '\n', size - pos));
    size_t length = newline ? size_t(newline - begin) : size - pos;
    pos += length + (newline ? 1 : 0);
    if (length > 0 && begin[length - 1] == '\r') --length;

    for (size_t i = 0; i < length; ++i) {
      const unsigned char c = static_cast<unsigned char>(begin[i]);
      if ((c < 0x20 && c != '\t') || c == 0x7F)
        return fail(error,
                    "%s:%zu: control character 0x%02X in column %zu: binary "
                    "data, not a d-spacing file",
                    where.c_str(), line, c, i + 1);
    }
    const char *hash =
        static_cast<const char *>(std::memchr(begin, '#', length));
    if (hash) length = size_t(hash - begin);
    size_t first = 0;
    while (first < length && is_blank(begin[first])) ++first;
    if (first == length) continue;
    while (is_blank(begin[length - 1])) --length;

    value.assign(begin + first, length - first);
    /* numio reads units after '_' ("1_nm"), which would give a length in
     * metres taken for Angstrom: a file's d carries none. */
    if (value.find('_') != std::string::npos)
      return fail(error,
                  "%s:%zu: '%s' carries a unit: a d-spacing file holds d in "
                  "Angstrom as plain numbers",
                  where.c_str(), line, quoted(value).c_str());
    const char *tail = nullptr;
    int errval = 0;
    const double d = num_str2double(value.c_str(), &tail, &errval);
    if (errval == NUM_ENOMEM) throw std::bad_alloc();
    if (errval != 0) {
      char reason[64];
      return fail(error, "%s:%zu: '%s' is not a d-spacing: %s", where.c_str(),
                  line, quoted(value).c_str(),
                  num_errval2str(reason, sizeof reason, errval));
    }
    if (*tail != '\0') {
      while (is_blank(*tail)) ++tail;
      return fail(error,
                  "%s:%zu: '%s' follows the d-spacing %g: one d in Angstrom "
                  "per line, a comment after #",
                  where.c_str(), line, quoted(tail).c_str(), d);
    }
    if (!std::isfinite(d) || d <= 0.0)
      return fail(error, "%s:%zu: d = %g is not a positive d-spacing",
                  where.c_str(), line, d);
    const double metres = d / 1e10;
    if (metres < VaboCalibrantFileMinD || metres > VaboCalibrantFileMaxD)
      return fail(error,
                  "%s:%zu: d = %g Angstrom is outside %g to %g Angstrom (a "
                  "d-spacing file holds plain numbers in Angstrom, no units)",
                  where.c_str(), line, d, VaboCalibrantFileMinD * 1e10,
                  VaboCalibrantFileMaxD * 1e10);
    if (rings.size() == VaboCalibrantMaxSpacings)
      return fail(error,
                  "%s:%zu: more than %zu d-spacings: not a list of rings",
                  where.c_str(), line, VaboCalibrantMaxSpacings);
    rings.push_back({metres, 0, {0, 0, 0}});
  }
  if (rings.empty())
    return fail(error, "%s: no d-spacing in the file", where.c_str());
  return true;
}

/* The calibrant name of the d-spacing file text (size bytes) into out,
 * its rings of d >= dmin (m); where names the file in messages.  false
 * with the message, out untouched. */
bool file_calibrant(const char *text, size_t size, const std::string &where,
                    std::string name, double dmin, VaboCalibrant &out,
                    std::string *error)
{
  if (std::isnan(dmin))
    return fail(error, "%s: dmin is not a number", where.c_str());
  std::vector<VaboRing> rings;
  if (!read_spacings(text, size, where, rings, error)) return false;
  merge_rings(rings);
  auto below = std::find_if(rings.begin(), rings.end(),
                            [dmin](const VaboRing &r) { return r.d < dmin; });
  rings.erase(below, rings.end());
  out.name.swap(name);
  out.rings.swap(rings);
  return true;
}

struct FileCloser {
  void operator()(FILE *file) const { std::fclose(file); }
};

/* The whole content of the file at path.  0, or the errno of the failure
 * (EISDIR for a directory, EFBIG beyond VaboCalibrantMaxFileBytes, checked
 * before reading where the file tells its size). */
int read_file(const char *path, std::string &text)
{
  errno = 0;
  std::unique_ptr<FILE, FileCloser> file(std::fopen(path, "rb"));
  if (!file) return errno ? errno : EIO;
  struct stat status;
  if (fstat(fileno(file.get()), &status) != 0) return errno ? errno : EIO;
  if (S_ISDIR(status.st_mode)) return EISDIR;
  if (S_ISREG(status.st_mode)) {
    if (static_cast<unsigned long long>(status.st_size) >
        VaboCalibrantMaxFileBytes)
      return EFBIG;
    text.reserve(static_cast<size_t>(status.st_size));
  }
  char chunk[1 << 16];
  for (;;) {
    const size_t got = std::fread(chunk, 1, sizeof chunk, file.get());
    if (got > VaboCalibrantMaxFileBytes - text.size()) return EFBIG;
    text.append(chunk, got);
    if (got < sizeof chunk) break;
  }
  return std::ferror(file.get()) ? (errno ? errno : EIO) : 0;
}

/* The last component of path. */
std::string base_name(const char *path)
{
  const char *slash = std::strrchr(path, '/');
  return slash ? slash + 1 : path;
}

} // namespace

bool vabo_calibrant_read_text(const char *text, size_t size, const char *name,
                              double dmin, VaboCalibrant &out,
                              std::string *error)
{
  if (!name) name = "";
  try {
    return file_calibrant(text ? text : "", text ? size : 0, printable(name),
                          name, dmin, out, error);
  } catch (const std::exception &) {
    return fail(error, "%s: memory allocation failed", printable(name).c_str());
  }
}

bool vabo_calibrant_load(const char *name_or_file, double dmin,
                         VaboCalibrant &out, std::string *error)
{
  const char *name = name_or_file ? name_or_file : "";
  try {
    const std::string where = printable(name);
    if (std::isnan(dmin))
      return fail(error, "%s: dmin is not a number", where.c_str());
    if (const BuiltIn *cell = find_builtin(name)) {
      if (dmin < VaboCalibrantMinDmin)
        return fail(error,
                    "%s: dmin = %g m is below %g m, the shortest for which a "
                    "built-in calibrant computes its rings",
                    cell->name, dmin, VaboCalibrantMinDmin);
      std::string built = cell->name;
      std::vector<VaboRing> rings = builtin_rings(*cell, dmin);
      out.name.swap(built);
      out.rings.swap(rings);
      return true;
    }
    std::string text;
    const int errnum = name[0] ? read_file(name, text) : ENOENT;
    if (errnum == ENOENT || errnum == ENOTDIR)
      return fail(error,
                  "unknown calibrant %s: neither a built-in one (%s) nor a "
                  "file",
                  where.c_str(), builtin_list().c_str());
    if (errnum == EFBIG)
      return fail(error, "%s: larger than %zu bytes: not a d-spacing file",
                  where.c_str(), VaboCalibrantMaxFileBytes);
    if (errnum != 0)
      return fail(error, "%s: cannot read: %s", where.c_str(),
                  std::strerror(errnum));
    return file_calibrant(text.data(), text.size(), where, base_name(name),
                          dmin, out, error);
  } catch (const std::exception &) {
    return fail(error, "%s: memory allocation failed", printable(name).c_str());
  }
}

std::span<const char *const> vabo_calibrant_names() { return kNames; }
