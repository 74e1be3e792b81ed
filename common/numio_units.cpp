/*
 * numio_units.cpp -- the table of units and physical constants of numio.
 *
 * The expression grammar looks names such as "km", "keV" or "NA" up here and
 * multiplies by the value found (always in an SI unit).  Entry points:
 * dpconstant_init builds the whole table (615 entries), dpconstant_search
 * finds an exact key or the longest key that starts a text, dpconstant_insert
 * and the dpconstant_insert_unit* family add entries, dpconstant_print and
 * dpconstant_free show and release the table.  This file owns the table
 * (DPConstantRoot, DPConstantInit); it does not parse expressions.
 */
#include "numio.h"
#include "numio_internal.h"

#include "chain.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

DPConstant *DPConstantRoot = nullptr;
int DPConstantInit = 0;

namespace {

/* Prefix factors: the doubles nearest to the powers of ten, with their
 * squares and cubes.  There is no squared zepto: "zm2" would read as zepto
 * metre followed by a 2, so no such entry is made. */
constexpr double Yotta = 1e24, Yotta2 = 1e48, Yotta3 = 1e72;
constexpr double Zetta = 1e21, Zetta2 = 1e42, Zetta3 = 1e63;
constexpr double Exa = 1e18, Exa2 = 1e36, Exa3 = 1e54;
constexpr double Peta = 1e15, Peta2 = 1e30, Peta3 = 1e45;
constexpr double Tera = 1e12, Tera2 = 1e24, Tera3 = 1e36;
constexpr double Giga = 1e9, Giga2 = 1e18, Giga3 = 1e27;
constexpr double Mega = 1e6, Mega2 = 1e12, Mega3 = 1e18;
constexpr double Kilo = 1e3, Kilo2 = 1e6, Kilo3 = 1e9;
constexpr double Hekto = 1e2, Hekto2 = 1e4, Hekto3 = 1e6;
constexpr double deci = 1e-1, deci2 = 1e-2, deci3 = 1e-3;
constexpr double centi = 1e-2, centi2 = 1e-4, centi3 = 1e-6;
constexpr double milli = 1e-3, milli2 = 1e-6, milli3 = 1e-9;
constexpr double micro = 1e-6, micro2 = 1e-12, micro3 = 1e-18;
constexpr double nano = 1e-9, nano2 = 1e-18, nano3 = 1e-27;
constexpr double pico = 1e-12, pico2 = 1e-24, pico3 = 1e-36;
constexpr double femto = 1e-15, femto2 = 1e-30, femto3 = 1e-45;
constexpr double atto = 1e-18, atto2 = 1e-36, atto3 = 1e-54;
constexpr double zepto = 1e-21, zepto3 = 1e-63;
constexpr double yocto = 1e-24, yocto2 = 1e-48, yocto3 = 1e-72;

/* Longest base unit for prefixed entries; with a prefix letter and a power
 * digit the key still fits the key buffer with room to spare. */
constexpr size_t kMaxBaseUnit = 64;
/* Squared and cubed keys carry one more character (the power digit). */
constexpr size_t kMaxBaseUnitPower = 63;
/* Buffer in which the prefixed keys are composed. */
constexpr size_t kKeyBufLen = 128;

/* One prefixed key: the format (prefix letter, base unit, power digit) and
 * the factor applied to the base value.  The unprefixed row has factor 1. */
struct PrefixRow {
  const char *format;
  double factor;
};

/* Prefixed entries in insertion order: large prefixes, the base unit itself,
 * then the small prefixes. */
const PrefixRow kPrefixes[] = {
    {"Y%s", Yotta}, {"Z%s", Zetta}, {"E%s", Exa},   {"P%s", Peta},
    {"T%s", Tera},  {"G%s", Giga},  {"M%s", Mega},  {"k%s", Kilo},
    {"h%s", Hekto}, {"%s", 1.0},    {"d%s", deci},  {"c%s", centi},
    {"m%s", milli}, {"u%s", micro}, {"n%s", nano},  {"p%s", pico},
    {"f%s", femto}, {"a%s", atto},  {"z%s", zepto}, {"y%s", yocto},
};

const PrefixRow kPrefixes2[] = {
    {"Y%s2", Yotta2}, {"Z%s2", Zetta2}, {"E%s2", Exa2},   {"P%s2", Peta2},
    {"T%s2", Tera2},  {"G%s2", Giga2},  {"M%s2", Mega2},  {"k%s2", Kilo2},
    {"h%s2", Hekto2}, {"%s2", 1.0},     {"d%s2", deci2},  {"c%s2", centi2},
    {"m%s2", milli2}, {"u%s2", micro2}, {"n%s2", nano2},  {"p%s2", pico2},
    {"f%s2", femto2}, {"a%s2", atto2},  {"y%s2", yocto2},
};

const PrefixRow kPrefixes3[] = {
    {"Y%s3", Yotta3}, {"Z%s3", Zetta3}, {"E%s3", Exa3},   {"P%s3", Peta3},
    {"T%s3", Tera3},  {"G%s3", Giga3},  {"M%s3", Mega3},  {"k%s3", Kilo3},
    {"h%s3", Hekto3}, {"%s3", 1.0},     {"d%s3", deci3},  {"c%s3", centi3},
    {"m%s3", milli3}, {"u%s3", micro3}, {"n%s3", nano3},  {"p%s3", pico3},
    {"f%s3", femto3}, {"a%s3", atto3},  {"z%s3", zepto3}, {"y%s3", yocto3},
};

/* Inserts one entry per prefix row: key from the row's format and Baseunit,
 * value baseValue * factor.  Stops with -1 at the first failed insertion. */
template <size_t N>
int insert_prefixed(const PrefixRow (&rows)[N], const char *Quantity,
                    const char *Unit, const char *Baseunit, double baseValue)
{
  char key[kKeyBufLen];
  for (const PrefixRow &row : rows) {
    std::snprintf(key, sizeof key, row.format, Baseunit);
    if (dpconstant_insert(Quantity, Unit, key, baseValue * row.factor, nullptr))
      return -1;
  }
  return 0;
}

/* How a row of the built-in table is inserted. */
enum class RowKind { Single, Prefixed, Squared, Cubed };

struct TableRow {
  RowKind kind;
  const char *key; /* key, or base unit for the prefixed kinds */
  double value;
  const char *unit; /* SI unit of the value, or none */
  const char *quantity;
};

/* The built-in units and constants, in insertion order. */
const TableRow kTable[] = {
    {RowKind::Single, "inf", 1.7976931348623157e+308, nullptr, "infinity"},
    {RowKind::Single, "gamma", 0.5772156649015329, nullptr, "gamma number"},
    {RowKind::Single, "pi", kNumioPi, nullptr, "pi number"},
    {RowKind::Single, "e", 2.718281828459045, nullptr, "Euler number"},
    {RowKind::Single, "rad", 1, "rad", "angle"},
    {RowKind::Single, "mrad", 0.001, "rad", "angle"},
    {RowKind::Single, "urad", 1e-06, "rad", "angle"},
    {RowKind::Single, "deg", 0.017453292519943295, "rad", "angle"},
    {RowKind::Single, "mdeg", 1.7453292519943296e-05, "rad", "angle"},
    {RowKind::Single, "udeg", 1.7453292519943295e-08, "rad", "angle"},
    {RowKind::Single, "gon", 0.015707963267948967, "rad", "angle"},
    {RowKind::Single, "mgon", 1.5707963267948967e-05, "rad", "angle"},
    {RowKind::Single, "ugon", 1.5707963267948965e-08, "rad", "angle"},
    {RowKind::Single, "arcmin", 0.0002908882086657216, "rad", "angle"},
    {RowKind::Single, "arcsec", 4.84813681109536e-06, "rad", "angle"},
    {RowKind::Single, "sr", 1, "sr", "spherical angle"},
    {RowKind::Single, "k", 1.3806505e-23, "J/K", "Boltzmann constant"},
    {RowKind::Single, "me", 9.1093826e-31, "kg", "electron rest mass"},
    {RowKind::Single, "mp", 1.67262171e-27, "kg", "proton rest mass"},
    {RowKind::Single, "md", 3.34358335e-27, "kg", "deuteron rest mass"},
    {RowKind::Single, "mn", 1.67492728e-27, "kg", "neutron rest mass"},
    {RowKind::Single, "NA", 6.0221415e+23, "1/mol", "Avogadro number"},
    {RowKind::Single, "re", 2.817940325e-15, "m", "classical electron radius"},
    {RowKind::Single, "c", 299792458, "m/s", "velocity of light"},
    {RowKind::Single, "ec", 1.60217653e-19, "C", "electron charge"},
    {RowKind::Single, "h", 6.6260693e-34, "J*s", "Planck constant"},
    {RowKind::Single, "gN", 6.6742e-11, "m3/kg/s2", "gravitational constant"},
    {RowKind::Single, "ga", 9.80665, "m/s2", "gravitational acceleration"},
    {RowKind::Single, "u0", 1.2566370614359173e-06, "H/m",
     "permeability of vacuum"},
    {RowKind::Single, "e0", 8.854187817620389e-12, "F/m",
     "permittivity of vacuum"},
    {RowKind::Prefixed, "C", 1, "C", "electric charge"},
    {RowKind::Prefixed, "V", 1, "V", "voltage"},
    {RowKind::Prefixed, "F", 1, "F", "electric capacity"},
    {RowKind::Prefixed, "Ohm", 1, "Ohm", "electric resistance"},
    {RowKind::Prefixed, "S", 1, "S", "electric conductivity"},
    {RowKind::Prefixed, "T", 1, "T", "magnetic induction"},
    {RowKind::Prefixed, "G", 0.0001, "T", "magnetic induction"},
    {RowKind::Prefixed, "Wb", 1, "Wb", "magnetic flux"},
    {RowKind::Prefixed, "H", 1, "H", "magnetic inductivity"},
    {RowKind::Prefixed, "A", 1, "A", "electric current"},
    {RowKind::Prefixed, "s", 1, "s", "time"},
    {RowKind::Single, "min", 60, "s", "time"},
    {RowKind::Single, "hr", 3600, "s", "time"},
    {RowKind::Single, "d", 86400, "s", "time"},
    {RowKind::Squared, "s", 1, "s2", "time^2"},
    {RowKind::Prefixed, "Hz", 1, "1/s", "frequency"},
    {RowKind::Prefixed, "m", 1, "m", "length"},
    {RowKind::Single, "in", 0.0254, "m", "length"},
    {RowKind::Single, "ft", 0.3048, "m", "length"},
    {RowKind::Single, "yd", 0.9144, "m", "length"},
    {RowKind::Single, "mile", 1609.344, "m", "length"},
    {RowKind::Single, "sm", 1852, "m", "length"},
    {RowKind::Single, "nmi", 1852, "m", "length"},
    {RowKind::Single, "NM", 1852, "m", "length"},
    {RowKind::Single, "Ao", 1e-10, "m", "length"},
    {RowKind::Single, "kn", 0.5144444444444445, "m/s", "speed"},
    {RowKind::Squared, "m", 1, "m2", "area"},
    {RowKind::Single, "b", 1e-28, "m2", "area"},
    {RowKind::Single, "a", 100, "m2", "area"},
    {RowKind::Single, "ha", 10000, "m2", "area"},
    {RowKind::Cubed, "m", 1, "m3", "volume"},
    {RowKind::Prefixed, "l", 0.001, "m3", "volume"},
    {RowKind::Prefixed, "g", 0.001, "kg", "mass"},
    {RowKind::Single, "lb", 0.45359237, "kg", "mass"},
    {RowKind::Single, "oz", 0.0283495, "kg", "mass"},
    {RowKind::Single, "amu", 1.66053886e-27, "kg", "mass"},
    {RowKind::Prefixed, "mol", 1, "mol", "molecular amount"},
    {RowKind::Prefixed, "J", 1, "J", "energy"},
    {RowKind::Prefixed, "eV", 1.60217653e-19, "J", "energy"},
    {RowKind::Prefixed, "cal", 4.1868, "J", "energy"},
    {RowKind::Single, "erg", 1e-07, "J", "energy"},
    {RowKind::Single, "K", 1, "K", "temperature"},
    {RowKind::Single, "mK", 0.001, "K", "temperature"},
    {RowKind::Single, "uK", 1e-06, "K", "temperature"},
    {RowKind::Single, "degK", 1, "K", "temperature"},
    {RowKind::Single, "degC", 1, "K", "temperature"},
    {RowKind::Single, "degF", 0.5555555555555556, "K", "temperature"},
    {RowKind::Prefixed, "W", 1, "W", "power"},
    {RowKind::Prefixed, "N", 1, "N", "force"},
    {RowKind::Single, "p", 0.00980665, "N", "force"},
    {RowKind::Single, "lbf", 4.4482216152605, "N", "force"},
    {RowKind::Single, "pdl", 0.138255, "N", "force"},
    {RowKind::Single, "dyn", 1e-05, "N", "force"},
    {RowKind::Prefixed, "Pa", 1, "Pa", "pressure"},
    {RowKind::Prefixed, "bar", 100000, "Pa", "pressure"},
    {RowKind::Single, "atm", 101325, "Pa", "physical atmospheric pressure"},
    {RowKind::Single, "at", 98066.5, "Pa", "technical atmospheric pressure"},
    {RowKind::Single, "psi", 6894.757293168361, "Pa", "pressure"},
    {RowKind::Single, "Torr", 133.3224, "Pa", "pressure"},
};

/* Digital information: decimal multiples with their quantity texts. */
struct ByteRow {
  const char *longKey;  /* "kByte" form */
  const char *shortKey; /* "kB" form */
  double value;
  const char *quantity;
};

const ByteRow kDecimalBytes[] = {
    {"Byte", "B", 1, "Byte (digital information)"},
    {"kByte", "kB", 1e3, "KiloByte (digital information)"},
    {"MByte", "MB", 1e6, "MegaByte (digital information)"},
    {"GByte", "GB", 1e9, "GigaByte (digital information)"},
    {"TByte", "TB", 1e12, "TeraByte (digital information)"},
    {"PByte", "PB", 1e15, "PetaByte (digital information)"},
    {"EByte", "EB", 1e18, "ExaByte (digital information)"},
    {"ZByte", "ZB", 1e21, "ZettaByte (digital information)"},
    {"YByte", "YB", 1e24, "YottaByte (digital information)"},
};

/* Binary multiples 2^10 ... 2^80 (the value is 2 to the power binaryExp). */
struct BinaryByteRow {
  const char *longKey;
  const char *shortKey;
  int binaryExp;
  const char *quantity;
};

const BinaryByteRow kBinaryBytes[] = {
    {"KiByte", "KiB", 10, "KibiByte (digital information)"},
    {"MiByte", "MiB", 20, "MebiByte (digital information)"},
    {"GiByte", "GiB", 30, "GibiByte (digital information)"},
    {"TiByte", "TiB", 40, "TebiByte (digital information)"},
    {"PiByte", "PiB", 50, "PebiByte (digital information)"},
    {"EiByte", "EiB", 60, "ExbiByte (digital information)"},
    {"ZiByte", "ZiB", 70, "ZebiByte (digital information)"},
    {"YiByte", "YiB", 80, "YobiByte (digital information)"},
};

const char kByteUnit[] = "Byte";

/* Inserts one row of the built-in table; 0 or -1. */
int insert_row(const TableRow &row)
{
  switch (row.kind) {
  case RowKind::Single:
    return dpconstant_insert(row.quantity, row.unit, row.key, row.value,
                             nullptr);
  case RowKind::Prefixed:
    return dpconstant_insert_unit(row.quantity, row.unit, row.key, row.value);
  case RowKind::Squared:
    return dpconstant_insert_unit2(row.quantity, row.unit, row.key, row.value);
  case RowKind::Cubed:
    return dpconstant_insert_unit3(row.quantity, row.unit, row.key, row.value);
  }
  return -1;
}

/* The digital-information entries in their four runs: long decimal, long
 * binary, short decimal, short binary.  0 or -1 at the first failure. */
int insert_bytes(void)
{
  for (const ByteRow &row : kDecimalBytes)
    if (dpconstant_insert(row.quantity, kByteUnit, row.longKey, row.value,
                          nullptr))
      return -1;
  for (const BinaryByteRow &row : kBinaryBytes)
    if (dpconstant_insert(row.quantity, kByteUnit, row.longKey,
                          std::ldexp(1.0, row.binaryExp), nullptr))
      return -1;
  for (const ByteRow &row : kDecimalBytes)
    if (dpconstant_insert(row.quantity, kByteUnit, row.shortKey, row.value,
                          nullptr))
      return -1;
  for (const BinaryByteRow &row : kBinaryBytes)
    if (dpconstant_insert(row.quantity, kByteUnit, row.shortKey,
                          std::ldexp(1.0, row.binaryExp), nullptr))
      return -1;
  return 0;
}

/* Replaces the entry's descriptive texts by copies of the given ones; a
 * failed copy leaves the text empty (none), which only the printouts see. */
void set_descriptions(DPConstant *entry, const char *Quantity, const char *Unit)
{
  std::free(entry->Quantity);
  std::free(entry->Unit);
  entry->Quantity = num_newstr(Quantity);
  entry->Unit = num_newstr(Unit);
}

const char kSeparator[] =
    "-       -       -       -       -       -       -       -";

/* Whether the whole of key is the beginning of text.  The first bytes are
 * compared before anything else: of the 615 keys of the table, only those
 * that begin with the text's first byte need the full comparison. */
bool key_starts(const char *key, const char *text)
{
  if (key[0] == '\0') return true;
  return key[0] == text[0] && std::strncmp(key, text, std::strlen(key)) == 0;
}

} // namespace

/* Inserts Key with Value, or updates the value of an existing Key; the
 * descriptive texts are stored only while NUMIO_debug > 0.  Returns 0, or -1
 * for a null Key or when memory runs out (the table is then unchanged). */
int dpconstant_insert(const char *Quantity, const char *Unit, const char *Key,
                      double Value, DPConstant **pdpconstant)
{
  if (pdpconstant) *pdpconstant = nullptr;
  if (!Key) return -1;

  /* Keys descend along the table. */
  DPConstant *previous = nullptr;
  bool found = false;
  DPConstant *current = chain_seek(
      DPConstantRoot,
      [Key](const DPConstant *e) {
        return numio_descending(std::strcmp(e->Key, Key));
      },
      &previous, &found);

  DPConstant *entry;
  if (found) {
    entry = current;
  } else {
    entry = static_cast<DPConstant *>(std::calloc(1, sizeof(DPConstant)));
    if (!entry) return -1;
    entry->Key = num_newstr(Key);
    if (!entry->Key) {
      std::free(entry);
      return -1;
    }
    chain_link<DPConstant>(entry, previous, current, &DPConstantRoot, nullptr);
  }

  entry->Value = Value;
  if (NUMIO_debug > 0) set_descriptions(entry, Quantity, Unit);

  if (pdpconstant) *pdpconstant = entry;
  return 0;
}

/* mode 0: the entry whose key equals Key; other modes: the first entry whose
 * whole key starts the text Key, i.e. the longest such key.  Returns 0 when
 * found, -1 when not (or for a null Key), with *pdpconstant none then. */
int dpconstant_search(const char *Key, DPConstant **pdpconstant, int mode)
{
  if (pdpconstant) *pdpconstant = nullptr;
  if (!Key) return -1;

  DPConstant *entry = DPConstantRoot;
  if (mode == 0) {
    while (entry && std::strcmp(entry->Key, Key) != 0) entry = entry->Next;
  } else {
    while (entry && !key_starts(entry->Key, Key)) entry = entry->Next;
  }
  if (!entry) return -1;

  if (pdpconstant) *pdpconstant = entry;
  if (NUMIO_debug > 0) {
    if (entry->Unit && entry->Quantity)
      std::printf("  %s = %.15g %s (%s)\n", entry->Key, entry->Value,
                  entry->Unit, entry->Quantity);
    else if (entry->Unit)
      std::printf("  %s = %.15g %s\n", entry->Key, entry->Value, entry->Unit);
    else if (entry->Quantity)
      std::printf("  %s = %.15g (%s)\n", entry->Key, entry->Value,
                  entry->Quantity);
    else
      std::printf("  %s = %.15g\n", entry->Key, entry->Value);
  }
  return 0;
}

/* Baseunit with the 19 SI prefixes and unprefixed (20 entries).  Returns 0,
 * or -1 for a null or over-long (> 64) base unit, inserting nothing, or at
 * the first failed insertion (earlier entries stay). */
int dpconstant_insert_unit(const char *Quantity, const char *Unit,
                           const char *Baseunit, double Basevalue)
{
  if (!Baseunit || std::strlen(Baseunit) > kMaxBaseUnit) return -1;
  return insert_prefixed(kPrefixes, Quantity, Unit, Baseunit, Basevalue);
}

/* Squared Baseunit ("cm2") with 18 prefixes (no zepto) and unprefixed, value
 * Basevalue^2 times the squared factor.  -1 as above, limit 63 characters. */
int dpconstant_insert_unit2(const char *Quantity, const char *Unit,
                            const char *Baseunit, double Basevalue)
{
  if (!Baseunit || std::strlen(Baseunit) > kMaxBaseUnitPower) return -1;
  return insert_prefixed(kPrefixes2, Quantity, Unit, Baseunit,
                         Basevalue * Basevalue);
}

/* Cubed Baseunit ("cm3") with all 19 prefixes and unprefixed, value
 * Basevalue^3 times the cubed factor.  -1 as above, limit 63 characters. */
int dpconstant_insert_unit3(const char *Quantity, const char *Unit,
                            const char *Baseunit, double Basevalue)
{
  if (!Baseunit || std::strlen(Baseunit) > kMaxBaseUnitPower) return -1;
  return insert_prefixed(kPrefixes3, Quantity, Unit, Baseunit,
                         Basevalue * Basevalue * Basevalue);
}

/* Inserts every built-in unit and constant (existing keys are updated) and
 * sets DPConstantInit.  Returns 0, or -1 at the first failed insertion with
 * DPConstantInit left at 0 and the entries made so far kept. */
int dpconstant_init(void)
{
  for (const TableRow &row : kTable)
    if (insert_row(row)) return -1;
  if (insert_bytes()) return -1;

  DPConstantInit = 1;
  if (NUMIO_debug > 1) dpconstant_print(stdout, 1, 0);
  return 0;
}

/* Prints the table from the head to out, one line per entry or (verbose) a
 * block per entry with its neighbours.  Nothing for level <= 0 or a null
 * stream.  Returns 0. */
int dpconstant_print(FILE *out, int level, int verbose)
{
  if (level <= 0 || !out) return 0;

  for (const DPConstant *entry = DPConstantRoot; entry; entry = entry->Next) {
    if (verbose) {
      std::fprintf(out, "   %s\n", kSeparator);
      std::fprintf(out, "   Key               = %s\n", entry->Key);
      std::fprintf(out, "   Value             = %lg\n", entry->Value);
      if (entry->Quantity)
        std::fprintf(out, "   Quantity       = %s\n", entry->Quantity);
      if (entry->Unit)
        std::fprintf(out, "   Unit           = %s\n", entry->Unit);
      std::fprintf(out, "   Previous Key      = ");
      if (entry->Previous)
        std::fprintf(out, "%s\n", entry->Previous->Key);
      else
        std::fprintf(out, "(no previous dpconstant)\n");
      std::fprintf(out, "   Next Key          = ");
      if (entry->Next)
        std::fprintf(out, "%s\n", entry->Next->Key);
      else
        std::fprintf(out, "(no next dpconstant)\n");
    } else if (entry->Unit && entry->Quantity) {
      std::fprintf(out, "   '%s' = %lg %s (%s)\n", entry->Key, entry->Value,
                   entry->Unit, entry->Quantity);
    } else if (entry->Quantity) {
      std::fprintf(out, "   '%s' = %lg (%s)\n", entry->Key, entry->Value,
                   entry->Quantity);
    } else if (entry->Unit) {
      std::fprintf(out, "   '%s' = %lg %s\n", entry->Key, entry->Value,
                   entry->Unit);
    } else {
      std::fprintf(out, "   '%s' = %lg\n", entry->Key, entry->Value);
    }
  }
  if (verbose) std::fprintf(out, "   %s\n", kSeparator);
  return 0;
}

/* Releases every entry with its texts; the table is empty afterwards.
 * DPConstantInit is left as it is.  Returns 0. */
int dpconstant_free(void)
{
  DPConstant *entry = DPConstantRoot;
  while (entry) {
    DPConstant *next = entry->Next;
    std::free(entry->Key);
    std::free(entry->Quantity);
    std::free(entry->Unit);
    std::free(entry);
    entry = next;
  }
  DPConstantRoot = nullptr;
  return 0;
}
