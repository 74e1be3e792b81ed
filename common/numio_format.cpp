/*
 * numio_format.cpp -- the output side of numio: numbers back into text.
 *
 * Entry points: num_long2str and num_long2hex for longs, double2s and
 * num_double2str for doubles (optionally in a unit, so that the text reads
 * back to the value), num_double2hex for hexadecimal doubles, num_errval2str
 * for the texts of the numeric error values, num_strncasecmp, numio_version
 * and numio_debug.  Every text goes into a caller's buffer of buflen
 * characters, never past buflen - 1; nothing here owns memory beyond a call
 * and nothing is printed.
 */
#include "numio.h"
#include "numio_internal.h"

#include <cctype>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

namespace {

/* More significant digits than a double carries many times over; larger
 * requests are cut to this so the text always fits NUM_FORMAT_BUFLEN. */
constexpr int kMaxDigits = 80;

/* Smallest buffer for a hexadecimal double: "0x", one digit, terminator
 * (one more for a leading "-"). */
constexpr unsigned long kMinHexBuf = 4;

/* Bounds on a power-of-two exponent handed to ldexp: beyond them the result
 * is 0 or infinity anyway, and the bound keeps the int arithmetic safe. */
constexpr long kMaxBinaryExp = 4096;

const char kVersion[] = "numio : V1.40 Kelvardo 2013-07-20";

const char *const kErrorTexts[] = {
    "success",
    "memory allocation failed",
    "error scanning expression",
    "missing comma in expression",
    "bad parenthesis in expression",
    "expression is not a float number",
    "unknown float function in expression",
    "domain error",
    "expression is not an integer number",
    "integer overflow",
    "division by zero",
    "error writing value",
    "undefined variable",
    nullptr, /* 13: raised for a bad variable name, has no text of its own */
    "error creating program",
    "unknown program instruction",
    "not enough program registers",
    "bad unit",
};
const char kUnknownError[] = "unknown error value";
constexpr int kNumErrorTexts =
    static_cast<int>(sizeof kErrorTexts / sizeof kErrorTexts[0]);

void set_error(int *perrval, int errval)
{
  if (perrval) *perrval = errval;
}

/* Copies text (len characters, len >= 1) into buffer, cut to buflen - 1
 * characters and terminated.  none with NUM_EWRITE for a missing buffer, a
 * zero buflen or an empty/failed formatting result (len < 1). */
char *copy_cut(char *buffer, unsigned long buflen, const char *text, int len,
               int *perrval)
{
  if (!buffer || buflen == 0 || len < 1) {
    set_error(perrval, NUM_EWRITE);
    return nullptr;
  }
  size_t n = static_cast<size_t>(len);
  if (n > buflen - 1) n = buflen - 1;
  std::memcpy(buffer, text, n);
  buffer[n] = '\0';
  set_error(perrval, NUM_SUCCESS);
  return buffer;
}

/* 1 if nothing but white space is left in s. */
bool only_white_space(const char *s)
{
  if (!s) return true;
  while (numio_is_white(*s)) ++s;
  return *s == '\0';
}

/* |ndigits| limited to kMaxDigits, safe for INT_MIN. */
int digit_count(int ndigits)
{
  long n = std::labs(static_cast<long>(ndigits));
  return n > kMaxDigits ? kMaxDigits : static_cast<int>(n);
}

/* 2^exp with exp clamped to a range where ldexp is exact or saturates. */
double power_of_two(long exp)
{
  if (exp > kMaxBinaryExp) exp = kMaxBinaryExp;
  if (exp < -kMaxBinaryExp) exp = -kMaxBinaryExp;
  return std::ldexp(1.0, static_cast<int>(exp));
}

/* Floor division by 4 for negative numerators too. */
long floor_div4(long a) { return a >= 0 ? a / 4 : -((-a + 3) / 4); }

/* The largest power of 16 not above m (m > 0 and finite): exact, computed
 * from the binary exponent rather than through log(). */
double leading_hex_place(double m)
{
  int e = 0;
  std::frexp(m, &e); /* m = f * 2^e with 0.5 <= f < 1 */
  return power_of_two(4 * floor_div4(static_cast<long>(e) - 1));
}

} // namespace

/* Decimal text of value ("%ld"), cut to buflen - 1 characters without an
 * error.  none with NUM_EWRITE when there is no buffer or buflen is 0. */
char *num_long2str(char *buffer, unsigned long buflen, long value, int *perrval)
{
  char text[NUM_FORMAT_BUFLEN];
  int len = std::snprintf(text, sizeof text, "%ld", value);
  return copy_cut(buffer, buflen, text, len, perrval);
}

/* Hexadecimal text "0x..." of value; a negative value within the 32-bit
 * range shows its 32-bit two's-complement pattern (-1: "0xffffffff").  Cut
 * like num_long2str; none with NUM_EWRITE without a buffer. */
char *num_long2hex(char *buffer, unsigned long buflen, long value, int *perrval)
{
  unsigned long pattern = static_cast<unsigned long>(value);
  if (value < 0 && value >= INT32_MIN) pattern = static_cast<uint32_t>(value);
  char text[NUM_FORMAT_BUFLEN];
  int len = std::snprintf(text, sizeof text, "0x%lx", pattern);
  return copy_cut(buffer, buflen, text, len, perrval);
}

/* value with "%lg" (ndigits 0) or "%.<n>lg", n = |ndigits| at most 80, into
 * buffer, which must hold NUM_FORMAT_BUFLEN characters.  Returns buffer, or
 * none for a missing buffer or a failed formatting. */
char *double2s(char *buffer, double value, int ndigits)
{
  if (!buffer) return nullptr;
  int n = digit_count(ndigits);
  char format[16];
  if (n == 0)
    std::snprintf(format, sizeof format, "%%lg");
  else
    std::snprintf(format, sizeof format, "%%.%dlg", n);
  int len = std::snprintf(buffer, NUM_FORMAT_BUFLEN, format, value);
  if (len < 1 || len >= NUM_FORMAT_BUFLEN) {
    buffer[0] = '\0';
    return nullptr;
  }
  return buffer;
}

/* value as a number times the unit ("11_cm", or "2_(m+1)" when the unit
 * would not multiply the number as a whole), a plain number without a unit.
 * Returns buffer, or none with the error: NUM_EWRITE for a missing or too
 * small buffer (nothing written), the unit's reading error, NUM_EUNIT for
 * text after the unit, NUM_EDIVZERO for a unit of value 0, NUM_ENOMEM when
 * memory runs out. */
char *num_double2str(char *buffer, unsigned long buflen, double value,
                     const char *unit, int ndigits, int *perrval)
{
  char number[NUM_FORMAT_BUFLEN];
  if (!buffer || buflen == 0) {
    set_error(perrval, NUM_EWRITE);
    return nullptr;
  }

  if (!unit || !*unit) {
    if (!double2s(number, value, ndigits)) {
      set_error(perrval, NUM_EWRITE);
      return nullptr;
    }
    return copy_cut(buffer, buflen, number,
                    static_cast<int>(std::strlen(number)), perrval);
  }

  int errval = NUM_SUCCESS;
  const char *tail = nullptr;
  double unitValue = num_str2double(unit, &tail, &errval);
  if (errval) {
    set_error(perrval, errval);
    return nullptr;
  }
  if (!only_white_space(tail)) {
    set_error(perrval, NUM_EUNIT);
    return nullptr;
  }
  if (unitValue == 0.0) {
    set_error(perrval, NUM_EDIVZERO);
    return nullptr;
  }
  double scaled = value / unitValue;

  /* Does "<number>_<unit>" multiply the whole number by the unit?  It does
   * exactly when "0_<unit>" reads as 0 ("m+1" does not: 0_m+1 is 1). */
  size_t unitLen = std::strlen(unit);
  std::string zeroText;
  try {
    zeroText.reserve(unitLen + 2);
    zeroText.append("0_").append(unit);
  } catch (const std::exception &) {
    set_error(perrval, NUM_ENOMEM);
    return nullptr;
  }
  double zeroTest = num_str2double(zeroText.c_str(), nullptr, &errval);
  if (errval) {
    set_error(perrval, errval);
    return nullptr;
  }

  if (!double2s(number, scaled, ndigits)) {
    set_error(perrval, NUM_EWRITE);
    return nullptr;
  }
  bool bare = zeroTest == 0.0;
  size_t needed = std::strlen(number) + unitLen + (bare ? 2 : 4);
  if (buflen < needed) {
    set_error(perrval, NUM_EWRITE);
    return nullptr;
  }
  std::snprintf(buffer, buflen, bare ? "%s_%s" : "%s_(%s)", number, unit);
  set_error(perrval, NUM_SUCCESS);
  return buffer;
}

/* value in hexadecimal ("0xff", "-0x1.8", "0x0.8000"): the whole integer
 * part and |ndigits| significant digits in all, truncated.  none with error
 * NUM_EWRITE for a missing buffer or buflen below 4 (5 for a negative
 * value). */
char *num_double2hex(char *buffer, unsigned long buflen, double value,
                     int ndigits, int *perrval)
{
  bool negative = value < 0.0;
  double m = negative ? -value : value;
  if (!buffer || buflen < kMinHexBuf + (negative ? 1 : 0)) {
    set_error(perrval, NUM_EWRITE);
    return nullptr;
  }

  unsigned long pos = 0;
  if (negative) buffer[pos++] = '-';
  buffer[pos++] = '0';
  buffer[pos++] = 'x';

  /* Place values: leading is the largest power of 16 not above m; digits
   * stop at the place |ndigits| - 1 hexadecimal places below it, or at the
   * units place for short requests.  NaN and infinity yield no digit. */
  double leading = 1.0;
  if (std::isnan(m) || std::isinf(m))
    leading = m;
  else if (m > 0.0)
    leading = leading_hex_place(m);
  long n = std::labs(static_cast<long>(ndigits));
  double smallest = leading * power_of_two(4 * (1 - n));
  if (smallest > 1.0) smallest = 1.0;
  double place = leading < 1.0 ? 1.0 : leading;

  bool pointWritten = false;
  while (place >= smallest && pos < buflen - 1) {
    double quotient = std::floor(m / place);
    if (!(quotient >= 0.0 && quotient <= 15.0)) break;
    if (place < 1.0 && !pointWritten) {
      /* The point needs room for itself and at least one digit after it;
       * without that the fraction is dropped rather than written as if it
       * were part of the integer. */
      if (pos >= buflen - 2) break;
      buffer[pos++] = '.';
      pointWritten = true;
    }
    int digit = static_cast<int>(quotient);
    m -= place * digit;
    buffer[pos++] = "0123456789abcdef"[digit];
    place /= 16.0;
  }
  buffer[pos] = '\0';
  set_error(perrval, NUM_SUCCESS);
  return buffer;
}

/* The text of errval, cut to buflen - 1 characters; NUM_EBADVAR, negative
 * values and values above NUM_EUNIT give "unknown error value".  none for a
 * missing buffer or a zero buflen. */
char *num_errval2str(char *buffer, unsigned long buflen, int errval)
{
  if (!buffer || buflen == 0) return nullptr;
  const char *text = kUnknownError;
  if (errval >= 0 && errval < kNumErrorTexts && kErrorTexts[errval])
    text = kErrorTexts[errval];
  return copy_cut(buffer, buflen, text, static_cast<int>(std::strlen(text)),
                  nullptr);
}

/* Compares the first n characters of s1 and s2 with ASCII upper-case letters
 * taken as lower case; negative, 0 or positive as strcmp.  A null text
 * compares as the empty text. */
int num_strncasecmp(const char *s1, const char *s2, unsigned long n)
{
  if (!s1) s1 = "";
  if (!s2) s2 = "";
  for (unsigned long i = 0; i < n; ++i) {
    unsigned char c1 = static_cast<unsigned char>(s1[i]);
    unsigned char c2 = static_cast<unsigned char>(s2[i]);
    if (c1 >= 'A' && c1 <= 'Z') c1 = static_cast<unsigned char>(c1 - 'A' + 'a');
    if (c2 >= 'A' && c2 <= 'Z') c2 = static_cast<unsigned char>(c2 - 'A' + 'a');
    if (c1 != c2) return c1 < c2 ? -1 : 1;
    if (c1 == '\0') return 0;
  }
  return 0;
}

/* The library's version text. */
const char *numio_version(void) { return kVersion; }

/* Sets the library debug level NUMIO_debug (0 = silent). */
void numio_debug(int debug) { NUMIO_debug = debug; }
