/*
 * fuzz_image -- the image readers behind vabo_read_image: the detection of
 * the format by content and every reader (libtiff, the EDF reader, libcbf,
 * libhdf5) on any bytes, and vabo_apply_mask with the same file as mask.
 *
 * Input: the first line is the selector put after the file's name
 * ("::[n]", "::/path" or "::/path[n]"; anything else: none); the rest is
 * the file's content, written to a file of a temporary directory.  Checks:
 * a success gives a record whose shape and vectors agree, with a format
 * named; a failure gives one line that starts with the file's name and
 * leaves the record as it was.
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

/* The promises of vabo_read_image and vabo_apply_mask for one source. */
void check_source(const std::string &file, const std::string &source)
{
  VaboImage image;
  image.rows = image.columns = 1;
  image.pixels = {2.385f};
  image.invalid = {0};
  std::string error;
  if (vabo_read_image(source.c_str(), image, &error)) {
    vabo_fuzz::fuzz_check(image.rows > 0 && image.columns > 0 &&
                              image.rows * image.columns <= VaboImageMaxPixels,
                          "an image read has pixels, within the limit");
    vabo_fuzz::fuzz_check(image.pixels.size() == image.rows * image.columns &&
                              image.invalid.size() == image.pixels.size(),
                          "both vectors hold rows x columns elements");
    vabo_fuzz::fuzz_check(!image.format.empty(),
                          "an image read names its format");
    VaboImage copy = image;
    vabo_fuzz::fuzz_check(vabo_apply_mask(copy, source.c_str(), &error),
                          "an image masks itself");
  } else {
    /* A bad selector is named with the file: "FILE::[x]: ...". */
    vabo_fuzz::fuzz_check(error.compare(0, file.size(), file) == 0,
                          "the error line starts with the file's name");
    vabo_fuzz::fuzz_check(error.find('\n') == std::string::npos,
                          "the error is one line");
    vabo_fuzz::fuzz_check(image.rows == 1 && image.pixels.size() == 1 &&
                              image.pixels[0] == 2.385f,
                          "a failure leaves the record as it was");
  }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
  char name[] = "/tmp/vabo_fuzz_image.XXXXXX";
  if (!mkdtemp(name)) std::abort();
  TemporaryDirectory = name;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  const vabo_fuzz::SplitInput input = vabo_fuzz::split_input(data, size);
  const std::string file = TemporaryDirectory + "/image";
  FILE *out = std::fopen(file.c_str(), "wb");
  if (!out) std::abort();
  const bool written = std::fwrite(input.rest.data(), 1, input.rest.size(),
                                   out) == input.rest.size();
  if (std::fclose(out) != 0 || !written) std::abort();
  /* A "::" that no "/" or "[" follows is part of the file's name. */
  const std::string &selector = input.first_line;
  if (selector.compare(0, 3, "::/") == 0 || selector.compare(0, 3, "::[") == 0)
    check_source(file, file + selector);
  else
    check_source(file, file);
  return 0;
}
