/*
 * test_vabo_image.cpp -- the image readers on the tiny files of
 * tests/data/images (made by fabio and h5py, see make_images.py there):
 * the good ones against the values written there, the bad ones against
 * their one error line, with nothing on stderr and the record unchanged;
 * the spelling of image sources; masks.  The readers against fabio on
 * images of every type are in check_images.sh.
 */
#include "test_program.h"
#include "test_support.h"
#include "vabo_image.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

namespace {

const std::string kDir = std::string(VABO_SOURCE_DIR) + "/tests/data/images/";
const float kNaN = std::numeric_limits<float>::quiet_NaN();

struct GoodCase {
  const char *source; /* relative to kDir */
  const char *format;
  std::vector<float> pixels; /* 2 x 3, row by row */
  std::vector<unsigned char> invalid;
};

const GoodCase kGood[] = {
    {"good.edf", "EDF", {7, -1, 300, -32768, 12, 32767}, {0, 1, 0, 1, 0, 0}},
    {"good.tif", "TIFF", {0, 65535, 17, 4242, 1, 65534}, {0, 1, 0, 0, 0, 0}},
    {"good.cbf", "CBF", {5, -2, 70000, -70000, 128, 3}, {0, 1, 0, 1, 0, 0}},
    /* X-Binary-Size beyond the stream's last pixel: libcbf decoded on,
     * past the pixels (a finding of fuzz_image); fabio reads these. */
    {"overlong.cbf", "CBF", {5, -2, 70000, -70000, 128, 3}, {0, 1, 0, 1, 0, 0}},
    {"good.h5::/stack", "HDF5", {1.5, 2.25, -0.5, 3, 4, 5}, {0, 0, 1, 0, 0, 0}},
    {"good.h5::/stack[1]",
     "HDF5",
     {6.125, kNaN, 8, 9, 10, 11},
     {0, 1, 0, 0, 0, 0}},
    {"good.edf::[0]",
     "EDF",
     {7, -1, 300, -32768, 12, 32767},
     {0, 1, 0, 1, 0, 0}},
};

TEST(VaboImage, GoodFilesReadAsWritten)
{
  for (const GoodCase &c : kGood) {
    SCOPED_TRACE(c.source);
    VaboImage image;
    std::string error;
    ASSERT_TRUE(vabo_read_image((kDir + c.source).c_str(), image, &error))
        << error;
    EXPECT_EQ(image.rows, 2u);
    EXPECT_EQ(image.columns, 3u);
    EXPECT_EQ(image.format, c.format);
    ASSERT_EQ(image.pixels.size(), 6u);
    ASSERT_EQ(image.invalid, c.invalid);
    for (size_t i = 0; i < 6; ++i) {
      if (std::isnan(c.pixels[i]))
        EXPECT_TRUE(std::isnan(image.pixels[i]));
      else
        EXPECT_EQ(image.pixels[i], c.pixels[i]);
    }
  }
}

struct BadCase {
  const char *source; /* relative to kDir; the line starts with it */
  const char *error;  /* what follows "source: " */
};

const BadCase kBad[] = {
    {"truncated.edf", "truncated EDF file: the header promises 24 bytes of "
                      "data, 10 follow it"},
    {"zero.edf", "no pixels: 3 x 0 (rows x columns)"},
    {"huge.edf", "implausible size 100000 x 100000 (rows x columns): more "
                 "than 134217728 pixels"},
    {"type.edf", "unknown EDF DataType 'ComplexValue'"},
    {"size.edf", "EDF Size = 8 does not match 2 x 2 pixels of 4 bytes"},
    {"order.edf", "EDF header without ByteOrder for a type of 4 bytes"},
    {"open.edf", "truncated EDF header at byte 0"},
    {"nodim.edf", "EDF header without Dim_2"},
    /* Values of a header quoted in a message: short, and one line (a line
     * end inside a value was a finding of fuzz_edf). */
    {"longtype.edf", "unknown EDF DataType "
                     "'FloatFloatFloatFloatFloatFloatFloatFloat...'"},
    {"newline.edf", "EDF EDF_BinarySize = 1ge.Psd ?A does not match 2 x 3 "
                    "pixels of 2 bytes"},
    {"truncated.tif", "corrupt or truncated TIFF file (libtiff: Can not read "
                      "TIFF directory)"},
    {"rgb.tif", "corrupt or truncated TIFF file (libtiff: Cannot handle "
                "different values per sample for \"BitsPerSample\")"},
    {"truncated.cbf", "truncated CBF file: 2 x 3 pixels in 24 compressed "
                      "bytes, 22 bytes follow the header"},
    {"short.cbf", "corrupt CBF data: the byte-offset stream of 12 bytes "
                  "ends before 2 x 3 pixels"},
    {"packed.cbf",
     "CBF data not compressed by byte offset (the only compression read)"},
    {"truncated.h5::/stack", "corrupt or truncated HDF5 file (HDF5: ...)"},
    {"text.txt", "not an image vabo reads (TIFF, EDF, CBF or HDF5)"},
    {"empty.img", "empty file, not an image"},
    {"good.edf.gz",
     "gzip-compressed; vabo reads the image once it is uncompressed"},
    {"missing.edf", "cannot open: No such file or directory"},
    {"good.h5", "an HDF5 file needs the dataset named: " /* + file */},
    {"good.h5::/nothing", "no dataset /nothing (HDF5: ...)"},
    {"good.h5::/line",
     "dataset /line has 1 dimensions; an image has 2, a stack of frames 3"},
    {"good.h5::/stack[2]", "dataset /stack of 2 frames has no frame 2"},
    {"good.edf::[1]", "EDF file of 1 frame has no frame 1"},
    {"good.edf::/data", "an EDF file has no dataset '/data'"},
    {"good.tif::[1]", "TIFF file of 1 page has no page 1"},
    {"good.cbf::[1]", "a CBF file holds one image, it has no frame 1"},
};

TEST(VaboImage, BadFilesGiveOneLineAndKeepTheRecord)
{
  for (const BadCase &c : kBad) {
    SCOPED_TRACE(c.source);
    const std::string source = kDir + c.source;
    const std::string file = source.substr(0, source.find("::"));
    std::string expected = file + ": " + c.error;
    if (std::string(c.source) == "good.h5")
      expected += file + "::/path/to/dataset";
    VaboImage image;
    image.rows = 1;
    image.columns = 1;
    image.pixels = {2.385f};
    image.invalid = {0};
    std::string error;
    bool ok = true;
    const std::string printed = vabo_test::capture(
        stderr, [&] { ok = vabo_read_image(source.c_str(), image, &error); });
    EXPECT_FALSE(ok);
    EXPECT_EQ(printed, "");
    EXPECT_EQ(error.find('\n'), std::string::npos);
    const size_t ellipsis = expected.find("...");
    if (ellipsis == std::string::npos)
      EXPECT_EQ(error, expected);
    else
      EXPECT_EQ(error.substr(0, ellipsis), expected.substr(0, ellipsis));
    EXPECT_EQ(image.rows, 1u);
    EXPECT_EQ(image.pixels, std::vector<float>{2.385f});
  }
}

TEST(VaboImage, SourceSelectorNeedsSlashOrBracketAfterColons)
{
  vabo_test::ScratchDir dir;
  const std::filesystem::path odd = dir.file("run::7.edf");
  std::filesystem::copy_file(kDir + "good.edf", odd);
  VaboImage image;
  std::string error;
  EXPECT_TRUE(vabo_read_image(odd.c_str(), image, &error)) << error;
  EXPECT_TRUE(vabo_read_image((odd.string() + "::[0]").c_str(), image, &error))
      << error;
  const std::string bad = kDir + "good.edf::[x1]";
  EXPECT_FALSE(vabo_read_image(bad.c_str(), image, &error));
  EXPECT_EQ(error,
            bad +
                ": bad frame number in '[x1]' (a decimal number in brackets)");
  EXPECT_FALSE(vabo_read_image("::[0]", image, &error));
  EXPECT_EQ(error, "::[0]: no file name before '::'");
}

TEST(VaboImage, MaskAddsNonZeroAndInvalidPixels)
{
  /* good.tif as a mask: zero only at (0, 0), 65535 (itself invalid) at
   * (0, 1); good.edf has gaps at (0, 1) and (1, 0). */
  VaboImage image;
  std::string error;
  ASSERT_TRUE(vabo_read_image((kDir + "good.edf").c_str(), image, &error));
  ASSERT_TRUE(vabo_apply_mask(image, (kDir + "good.tif").c_str(), &error))
      << error;
  EXPECT_EQ(image.invalid, (std::vector<unsigned char>{0, 1, 1, 1, 1, 1}));
  EXPECT_EQ(image.pixels[0], 7.0f);
}

TEST(VaboImage, MaskOfAnotherShapeIsRefusedNamingBoth)
{
  VaboImage image;
  std::string error;
  ASSERT_TRUE(vabo_read_image((kDir + "good.cbf").c_str(), image, &error));
  VaboImage mask;
  mask.rows = 3;
  mask.columns = 2;
  mask.pixels.assign(6, 1.0f);
  mask.invalid.assign(6, 0);
  EXPECT_FALSE(vabo_apply_mask_image(image, mask, "m.tif", &error));
  EXPECT_EQ(
      error,
      "m.tif: mask of 3 x 2 pixels, the image has 2 x 3 (rows x columns)");
  EXPECT_EQ(image.invalid, (std::vector<unsigned char>{0, 1, 0, 1, 0, 0}));
  const std::string missing = kDir + "missing.tif";
  EXPECT_FALSE(vabo_apply_mask(image, missing.c_str(), &error));
  EXPECT_EQ(error, missing + ": cannot open: No such file or directory");
}

} // namespace

TEST(VaboImage, MaskedReadIsTheReadThenTheMask)
{
  const std::string image_file = kDir + "good.edf",
                    mask_file = kDir + "good.tif";
  const std::string missing = kDir + "missing.tif", bad = kDir + "text.txt";
  VaboImage apart, together;
  std::string error;
  ASSERT_TRUE(vabo_read_image(image_file.c_str(), apart, &error));
  ASSERT_TRUE(vabo_apply_mask(apart, mask_file.c_str(), &error));
  ASSERT_TRUE(vabo_read_masked_image(image_file.c_str(), mask_file.c_str(),
                                     together, &error))
      << error;
  EXPECT_EQ(together.invalid, apart.invalid);
  EXPECT_EQ(together.pixels, apart.pixels);
  EXPECT_EQ(together.format, "EDF");

  /* Whichever fails, the message is the one of the read, then the mask. */
  std::string expected;
  VaboImage unread;
  vabo_read_image(bad.c_str(), unread, &expected);
  EXPECT_FALSE(
      vabo_read_masked_image(bad.c_str(), missing.c_str(), together, &error));
  EXPECT_EQ(error, expected);
  EXPECT_FALSE(vabo_read_masked_image(image_file.c_str(), missing.c_str(),
                                      together, &error));
  EXPECT_EQ(error, missing + ": cannot open: No such file or directory");
  EXPECT_EQ(together.invalid, apart.invalid); /* unchanged on failure */
}

TEST(VaboImage, LongEdfHeadersAreReadWhole)
{
  /* A header of 100 kB (a long motor list), one frame after another. */
  vabo_test::ScratchDir dir;
  const std::string pad = "Comment = " + std::string(100000, 'x') + " ;\n";
  std::string frame;
  for (const unsigned char value : {3, 5})
    frame += "{\nByteOrder = LowByteFirst ;\nDataType = UnsignedByte ;\n"
             "Dim_1 = 2 ;\nDim_2 = 1 ;\n" +
             pad + "}\n" + std::string(2, static_cast<char>(value));
  dir.write("long.edf", frame);
  VaboImage image;
  std::string error;
  ASSERT_TRUE(vabo_read_image((dir.file("long.edf").string() + "::[1]").c_str(),
                              image, &error))
      << error;
  EXPECT_EQ(image.pixels, (std::vector<float>{5, 5}));
}
