/*
 * fuzz_program -- compiled expressions with variables: translate and fold a
 * formula under a name, count its variables' uses, run it twice with the
 * given values, print it, free it.
 *
 * Input: a first line of up to three words "name=value" (the variables, in
 * declaration order; a word without "=" declares its name with value 1,
 * names need not be valid) and the formula as the rest.  Checks: a failed
 * compilation leaves no program of the name, a compiled one reports no
 * error, runs are repeatable, the use counts answer for every declared
 * variable and only for those, and without variables the compiled formula
 * gives exactly what num_str2double reads from the same text.
 */
#include "fuzz_support.h"

#include "numio.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using vabo_fuzz::fuzz_check;
using vabo_fuzz::known_errval;
using vabo_fuzz::same_double;

constexpr int kMaxVariables = 3;
constexpr const char *kName = "fuzz";

FILE *null_stream()
{
  static FILE *stream = std::fopen("/dev/null", "w");
  return stream;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  const vabo_fuzz::SplitInput input = vabo_fuzz::split_input(data, size);
  std::vector<std::string> names;
  double values[kMaxVariables] = {1.0, 1.0, 1.0};
  for (const std::string &word : vabo_fuzz::words(input.first_line)) {
    if (names.size() == kMaxVariables) break;
    const size_t equals = word.find('=');
    names.push_back(word.substr(0, equals));
    if (equals != std::string::npos)
      values[names.size() - 1] =
          std::strtod(word.c_str() + equals + 1, nullptr);
  }
  const int nvar = static_cast<int>(names.size());
  while (names.size() < kMaxVariables) names.push_back("unused");
  const char *formula = input.rest.c_str();

  int errval = -1;
  const char *tail = nullptr;
  NumProg *program =
      num_str2prog(kName, formula, &tail, &errval, nvar, names[0].c_str(),
                   names[1].c_str(), names[2].c_str());
  fuzz_check(tail == nullptr ||
                 (tail >= formula && tail <= formula + std::strlen(formula)),
             "the tail lies within the formula");
  fuzz_check(known_errval(errval), "a known error value");
  if (nvar == 0) {
    /* Without variables, compiling and reading are the same translation
     * and the same arithmetic, folded or not. */
    int read_errval = -1;
    const char *read_tail = nullptr;
    const double read = num_str2double(formula, &read_tail, &read_errval);
    fuzz_check(read_tail == tail, "the reader stops where the compiler does");
    if (!program) {
      fuzz_check(read_errval == errval, "the reader fails as the compiler");
    } else {
      int run_errval = -1;
      const double value = num_runprog(program, &run_errval);
      fuzz_check(read_errval == run_errval, "the reader reports as the run");
      fuzz_check(same_double(read, value), "folding keeps the value");
    }
  }
  if (!program) {
    fuzz_check(errval != 0, "a formula without a program has an error");
    fuzz_check(num_searchprog(kName, nullptr) == nullptr,
               "a failed compilation leaves no program");
    fuzz_check(NumProgRoot == nullptr, "nothing is left in the registry");
    return 0;
  }
  fuzz_check(errval == 0, "a compiled formula has no error");

  for (int n = 1; n <= nvar + 1; ++n) {
    int chk_errval = -1;
    const int used = num_chkvar(program, n, &chk_errval);
    fuzz_check(n <= nvar ? chk_errval == 0 && used >= 0
                         : chk_errval == NUM_EUNDEFVAR && used == 0,
               "use counts for the declared variables only");
  }

  int run_errval = -1;
  const double first =
      num_runprog(program, &run_errval, values[0], values[1], values[2]);
  int again_errval = -1;
  const double again =
      num_runprog(program, &again_errval, values[0], values[1], values[2]);
  fuzz_check(known_errval(run_errval), "a known error value");
  fuzz_check(run_errval == again_errval && same_double(first, again),
             "a run can be repeated");
  fuzz_check(run_errval == 0 || first == 0.0, "0 after an error");

  num_prog_print_list(null_stream(), program, 3, 0);
  num_prog_print_list(null_stream(), program, 3, 1);
  fuzz_check(num_prog_size(program) > 0, "a program has a size");
  fuzz_check(num_prog_instructions(program, 2) > 0,
             "a program has instructions");

  fuzz_check(num_rmprog(program, &errval) == 0 && errval == 0,
             "the program is freed");
  fuzz_check(NumProgRoot == nullptr, "nothing is left in the registry");
  return 0;
}
