/*
 * fuzz_format -- the number formatting of the expression library:
 * num_double2str with and without a unit, num_double2hex, double2s,
 * num_long2str, num_long2hex and num_errval2str, on any value, unit,
 * digit count and buffer length.
 *
 * Input: a first line of words -- the double (as strtod reads it, so hex
 * floats, "nan" and "inf" too), the digit count, the buffer length, the
 * long and the error value -- and the unit as the rest (none when empty).
 * Every buffer is a heap block of exactly the length given, so that the
 * address sanitizer sees a byte written past it.  Checks: a text is
 * returned in the caller's buffer, terminated within its length, with
 * error 0; a failure returns none with a known error value.
 */
#include "fuzz_support.h"

#include "numio.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using vabo_fuzz::fuzz_check;

/* Buffer lengths are taken modulo this: every length up to far beyond the
 * longest text (a number of 80 digits with a unit). */
constexpr unsigned long kMaxBufferLength = 300;

/* A heap buffer of exactly length bytes (at least one). */
struct Buffer {
  explicit Buffer(unsigned long length)
      : size(length), bytes(new char[length > 0 ? length : 1])
  {
  }
  unsigned long size;
  std::unique_ptr<char[]> bytes;
};

/* A formatter's result: the buffer with a terminated text and error 0, or
 * none with a known error value. */
void check_result(const char *result, const Buffer &buffer, int errval)
{
  if (result) {
    fuzz_check(result == buffer.bytes.get(),
               "the text is in the caller's buffer");
    fuzz_check(std::memchr(result, '\0', buffer.size) != nullptr,
               "the text ends within the buffer");
    fuzz_check(errval == 0, "a text comes with error 0");
  } else {
    fuzz_check(errval > 0 && errval <= NUM_EUNIT,
               "a failure has its error value");
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  const vabo_fuzz::SplitInput input = vabo_fuzz::split_input(data, size);
  const std::vector<std::string> w = vabo_fuzz::words(input.first_line);
  auto word = [&w](size_t k) { return k < w.size() ? w[k].c_str() : "0"; };
  const double value = std::strtod(word(0), nullptr);
  const int ndigits = static_cast<int>(std::strtol(word(1), nullptr, 10));
  const unsigned long length =
      std::strtoul(word(2), nullptr, 10) % kMaxBufferLength;
  const long integer = std::strtol(word(3), nullptr, 10);
  const int errval_shown = static_cast<int>(std::strtol(word(4), nullptr, 10));
  const char *unit = input.rest.empty() ? nullptr : input.rest.c_str();

  Buffer buffer(length > 0 ? length : 1);
  int errval = -1;
  for (const char *u : {unit, ""}) {
    errval = -1;
    const char *text = num_double2str(buffer.bytes.get(), buffer.size, value, u,
                                      ndigits, &errval);
    check_result(text, buffer, errval);
  }
  errval = -1;
  check_result(
      num_double2hex(buffer.bytes.get(), buffer.size, value, ndigits, &errval),
      buffer, errval);
  errval = -1;
  check_result(num_long2str(buffer.bytes.get(), buffer.size, integer, &errval),
               buffer, errval);
  errval = -1;
  check_result(num_long2hex(buffer.bytes.get(), buffer.size, integer, &errval),
               buffer, errval);

  Buffer wide(NUM_FORMAT_BUFLEN);
  const char *plain = double2s(wide.bytes.get(), value, ndigits);
  fuzz_check(plain == nullptr ||
                 std::memchr(plain, '\0', NUM_FORMAT_BUFLEN) != nullptr,
             "double2s stays within its temporary");

  Buffer message(length);
  const char *text = num_errval2str(message.bytes.get(), length, errval_shown);
  fuzz_check(length == 0 ? text == nullptr
                         : std::memchr(text, '\0', length) != nullptr,
             "an error text ends within its buffer");
  fuzz_check(NumProgRoot == nullptr, "no temporary program is left behind");
  return 0;
}
