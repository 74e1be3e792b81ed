/*
 * fuzz_str2double -- the number readers num_str2double and num_str2long on
 * arbitrary bytes (a NUL byte ends the text).
 *
 * Beyond what the sanitizers see, it checks the readers' promises: the tail
 * lies within the text, an error value is one of the table and comes with
 * the value 0, an integer fits 32 bits, no temporary program is left in
 * the registry, and the direct reading of a plain literal gives exactly
 * what the grammar gives (value bits, tail and error value).
 */
#include "fuzz_support.h"

#include "numio.h"
#include "numio_internal.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

namespace {

using vabo_fuzz::fuzz_check;
using vabo_fuzz::known_errval;
using vabo_fuzz::same_double;

void check_tail(const char *text, const char *tail)
{
  fuzz_check(tail != nullptr && tail >= text &&
                 tail <= text + std::strlen(text),
             "the tail lies within the text");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  const std::string input(reinterpret_cast<const char *>(data), size);
  const char *text = input.c_str();

  int errval = -1;
  const char *tail = nullptr;
  const double value = num_str2double(text, &tail, &errval);
  check_tail(text, tail);
  fuzz_check(known_errval(errval), "a known error value");
  fuzz_check(errval == 0 || value == 0.0, "0 after an error");

  int grammar_errval = -1;
  const char *grammar_tail = nullptr;
  const double grammar_value =
      numio_str2double_grammar(text, &grammar_tail, &grammar_errval);
  fuzz_check(grammar_errval == errval, "the grammar gives the same error");
  fuzz_check(grammar_tail == tail, "the grammar stops at the same place");
  fuzz_check(same_double(grammar_value, value),
             "the grammar gives the same value");

  errval = -1;
  tail = nullptr;
  const long integer = num_str2long(text, &tail, &errval);
  check_tail(text, tail);
  fuzz_check(known_errval(errval), "a known error value");
  fuzz_check(errval != 0 || (integer >= INT32_MIN && integer <= INT32_MAX),
             "an integer of 32 bits");
  fuzz_check(errval == 0 || integer == 0, "0 after an error");

  fuzz_check(NumProgRoot == nullptr, "no temporary program is left behind");
  return 0;
}
