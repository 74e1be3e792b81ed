/*
 * fuzz_cli -- the whole front end in-process: vabo_main on an argument
 * vector and a calibration text, as many times as libFuzzer likes in one
 * process.
 *
 * Input: the first line holds the arguments, separated by blanks (the
 * program path is put in front); the rest is the calibration text, handed
 * to vabo_main as its input stream.  So that a run touches no file but its
 * own and ends in reasonable time, arguments are adjusted before the run:
 * input=NAME reads the calibration text from a file of a temporary
 * directory (input= with nothing behind it names no file and stays),
 * poni=NAME and json=NAME write there too, debug= loses the savesteps bit
 * (the iteration log would go into the current directory) and maxiter= is
 * at most kMaxSteps (a fit that never converges runs as long as it is
 * told).  Standard output goes to /dev/null.
 *
 * Checks after every run: the exit status is 0, 1, 33 or 65, and the run
 * left nothing behind -- no program in the registry, no keyed list, the
 * debug word and the library's level at 0.
 */
#include "fuzz_support.h"

#include "numio.h"
#include "vabo.h"
#include "vabo_base.h"
#include "vabo_list.h"

#include <unistd.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using vabo_fuzz::fuzz_check;

/* Most refinement steps a run may ask for. */
constexpr int kMaxSteps = 50;

std::string TemporaryDirectory;

bool begins_with(const std::string &arg, const char *word)
{
  return arg.compare(0, std::strlen(word), word) == 0;
}

/* An option's value as vabo reads it: the expression truncated toward zero
 * to an int (clamped; NaN gives 0). */
int option_int(const std::string &arg, const char *word)
{
  const double value =
      num_str2double(arg.c_str() + std::strlen(word), nullptr, nullptr);
  if (std::isnan(value)) return 0;
  if (value >= INT_MAX) return INT_MAX;
  if (value <= INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

/* The argument as the run gets it (see the file's comment). */
std::string adjusted(const std::string &arg, const std::string &data_file)
{
  if (begins_with(arg, "input=") && arg.size() > std::strlen("input="))
    return "input=" + data_file;
  for (const char *word : {"poni=", "json="})
    if (begins_with(arg, word) && arg.size() > std::strlen(word))
      return word + TemporaryDirectory + "/result";
  if (begins_with(arg, "debug=")) {
    const int debug = option_int(arg, "debug=");
    if (debug & VABO_SAVESTEPS)
      return "debug=" + std::to_string(debug & ~VABO_SAVESTEPS);
  }
  if (begins_with(arg, "maxiter=") && option_int(arg, "maxiter=") > kMaxSteps)
    return "maxiter=" + std::to_string(kMaxSteps);
  return arg;
}

/* Whether any keyed list is left: the short listing prints nothing then. */
bool lists_left()
{
  char *text = nullptr;
  size_t length = 0;
  FILE *stream = open_memstream(&text, &length);
  if (!stream) return false;
  print_lists(stream, 2, 0);
  std::fclose(stream);
  std::free(text);
  return length > 0;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
  char name[] = "/tmp/vabo_fuzz_cli.XXXXXX";
  if (!mkdtemp(name)) std::abort();
  TemporaryDirectory = name;
  if (!std::freopen("/dev/null", "w", stdout)) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  const vabo_fuzz::SplitInput input = vabo_fuzz::split_input(data, size);
  const std::string data_file = TemporaryDirectory + "/points.dat";

  std::vector<std::string> args = {"vabo"};
  bool reads_file = false;
  for (const std::string &word : vabo_fuzz::words(input.first_line)) {
    args.push_back(adjusted(word, data_file));
    reads_file |= args.back() == "input=" + data_file;
  }
  if (reads_file) {
    FILE *file = std::fopen(data_file.c_str(), "w");
    if (!file) std::abort();
    std::fwrite(input.rest.data(), 1, input.rest.size(), file);
    std::fclose(file);
  }

  std::string text = input.rest;
  FILE *stream = text.empty() ? std::fopen("/dev/null", "r")
                              : fmemopen(text.data(), text.size(), "r");
  if (!stream) std::abort();
  std::vector<char *> argv;
  for (std::string &arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  const int status =
      vabo_main(static_cast<int>(args.size()), argv.data(), stream);
  std::fclose(stream);

  fuzz_check(status == 0 || status == 1 || status == 33 || status == 65,
             "the exit status is 0, 1, 33 or 65");
  fuzz_check(NumProgRoot == nullptr, "no program is left in the registry");
  fuzz_check(!lists_left(), "no keyed list is left");
  fuzz_check(VABODebug() == 0 && NUMIO_debug == 0,
             "the debug levels are back at 0");
  return 0;
}
