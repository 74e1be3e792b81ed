/*
 * fuzz_edf -- the EDF reader on any header and data: the whole input is
 * an EDF file (a "{" put in front when it does not open with one, so that
 * the format is always EDF), read as frame 0 and as frame 1.
 *
 * Checks: a success gives an EDF record whose shape and vectors agree,
 * with fewer pixels than the file has bytes (each pixel was in the file);
 * a failure gives one line that starts with the file's name.
 */
#include "fuzz_support.h"

#include "vabo_image.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string TemporaryDirectory;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
  char name[] = "/tmp/vabo_fuzz_edf.XXXXXX";
  if (!mkdtemp(name)) std::abort();
  TemporaryDirectory = name;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  std::string content(reinterpret_cast<const char *>(data), size);
  if (content.empty() || content[0] != '{') content.insert(0, "{");
  const std::string file = TemporaryDirectory + "/image.edf";
  FILE *out = std::fopen(file.c_str(), "wb");
  if (!out) std::abort();
  const bool written =
      std::fwrite(content.data(), 1, content.size(), out) == content.size();
  if (std::fclose(out) != 0 || !written) std::abort();
  for (const char *frame : {"", "::[1]"}) {
    VaboImage image;
    std::string error;
    if (vabo_read_image((file + frame).c_str(), image, &error)) {
      vabo_fuzz::fuzz_check(image.format == "EDF", "the file is read as EDF");
      vabo_fuzz::fuzz_check(image.pixels.size() == image.rows * image.columns &&
                                image.invalid.size() == image.pixels.size() &&
                                !image.pixels.empty(),
                            "both vectors hold rows x columns elements");
      vabo_fuzz::fuzz_check(image.pixels.size() < content.size(),
                            "every pixel was in the file");
    } else {
      vabo_fuzz::fuzz_check(error.compare(0, file.size() + 2, file + ": ") == 0,
                            "the error line starts with the file's name");
      vabo_fuzz::fuzz_check(error.find('\n') == std::string::npos,
                            "the error is one line");
    }
  }
  return 0;
}
