/*
 * test_vabo_order.cpp -- the ordered parameter record and its texts.
 *
 * Checks the refined-first permutation for several mode vectors, the round
 * trip back to natural order, the exact one-line texts, and that no text
 * form ever writes past bufsiz - 1 (a canary byte after the buffer).
 */
#include "vabo_base.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

const double kStart[NParams] = {5e-05, 5e-05, 500, 500, 0.11, -0.25, 0, 0};
const double kOdd[NParams] = {7.31e-05, 6.87e-05, 1023.417, 987.61,
                              0.20137,  0.0312,   -0.0207,  0.0113};

struct OrderCase {
  const char *what;
  std::array<int, NParams> modes;
  bool null_modes;
  std::array<int, NParams> index;
  size_t nopt;
};

// clang-format off
const OrderCase kOrderCases[] = {
    {"default modes", {0, 0, 1, 1, 1, 1, 1, 0}, false,
     {5, 6, 0, 1, 2, 3, 4, 7}, 5},
    {"pix1 and rot3", {1, 0, 0, 0, 0, 0, 0, 1}, false,
     {0, 2, 3, 4, 5, 6, 7, 1}, 2},
    {"null modes refine all", {}, true, {0, 1, 2, 3, 4, 5, 6, 7}, 8},
    {"all kept", {0, 0, 0, 0, 0, 0, 0, 0}, false, {0, 1, 2, 3, 4, 5, 6, 7}, 0},
    {"missing (-1) counts as refine", {0, -1, 0, 0, 7, 0, -1, 0}, false,
     {3, 0, 4, 5, 1, 6, 2, 7}, 3},
    {"last only", {0, 0, 0, 0, 0, 0, 0, 1}, false, {1, 2, 3, 4, 5, 6, 7, 0}, 1},
};
// clang-format on

std::string print_to_string(const VaboOrdered &ordered)
{
  return vabo_test::printed([&](FILE *out) { fprint_ordered(out, &ordered); });
}

} // namespace

TEST(VaboOrder, PermutationPutsRefinedFirstInNaturalOrder)
{
  for (const OrderCase &c : kOrderCases) {
    SCOPED_TRACE(c.what);
    VaboOrdered ordered;
    memset(&ordered, 0x5a, sizeof ordered);
    size_t nopt =
        order_Par(&ordered, kOdd, c.null_modes ? nullptr : c.modes.data());
    EXPECT_EQ(nopt, c.nopt);
    EXPECT_EQ(ordered.nopt, c.nopt);
    for (int p = 0; p < NParams; ++p) {
      int j = c.index[p];
      EXPECT_EQ(ordered.Index[p], j) << "parameter " << p;
      EXPECT_STREQ(ordered.Names[j], VaboParamNames[p]);
      EXPECT_EQ(ordered.Par[j], kOdd[p]);
      EXPECT_EQ(ordered.ParDev[j], -1.0);
      bool refined = c.null_modes || c.modes[p] != 0;
      EXPECT_EQ(static_cast<size_t>(j) < nopt, refined) << "parameter " << p;
    }
    for (int k = 0; k < NStats; ++k) {
      EXPECT_STREQ(ordered.StatNames[k], VaboStatNames[k]);
      EXPECT_EQ(ordered.Stat[k], -1.0);
    }
  }
}

TEST(VaboOrder, ReorderGivesBackTheVectorForEveryModeSet)
{
  for (const OrderCase &c : kOrderCases) {
    SCOPED_TRACE(c.what);
    VaboOrdered ordered;
    order_Par(&ordered, kOdd, c.null_modes ? nullptr : c.modes.data());
    for (int j = 0; j < NParams; ++j) ordered.ParDev[j] = 0.125 * (j + 1);
    for (int k = 0; k < NStats; ++k) ordered.Stat[k] = 3.75 - k;

    double par[NParams], dev[NParams], stat[NStats];
    EXPECT_EQ(reorder_Par(&ordered, par, dev, stat), c.nopt);
    for (int p = 0; p < NParams; ++p) {
      EXPECT_EQ(par[p], kOdd[p]);
      EXPECT_EQ(dev[p], 0.125 * (c.index[p] + 1));
    }
    for (int k = 0; k < NStats; ++k) EXPECT_EQ(stat[k], 3.75 - k);
  }
}

TEST(VaboOrder, ReorderSkipsNullOutputs)
{
  VaboOrdered ordered;
  order_Par(&ordered, kOdd, VaboParamDefaultArray());
  double par[NParams] = {};
  EXPECT_EQ(reorder_Par(&ordered, par, nullptr, nullptr), 5u);
  for (int p = 0; p < NParams; ++p) EXPECT_EQ(par[p], kOdd[p]);
  EXPECT_EQ(reorder_Par(&ordered, nullptr, nullptr, nullptr), 5u);
}

TEST(VaboOrder, TablesAndAccessors)
{
  EXPECT_EQ(VaboParamNamesArray(), VaboParamNames);
  EXPECT_EQ(VaboParamDefaultArray(), VaboParamDefault);
  const char *names[] = {"pix1", "pix2", "cen1", "cen2",
                         "dis",  "rot1", "rot2", "rot3"};
  for (int p = 0; p < NParams; ++p) EXPECT_STREQ(VaboParamNames[p], names[p]);
  EXPECT_EQ(VaboParamNames[NParams], nullptr);
  const int modes[] = {0, 0, 1, 1, 1, 1, 1, 0};
  for (int p = 0; p < NParams; ++p) EXPECT_EQ(VaboParamDefault[p], modes[p]);
  const char *stats[] = {"stdev", "mindev", "maxdev", "total", "ndata", "nopt"};
  for (int k = 0; k < NStats; ++k) EXPECT_STREQ(VaboStatNames[k], stats[k]);
  EXPECT_EQ(VaboStatNames[NStats], nullptr);
}

TEST(VaboOrder, ParameterLineShowsKeptValuesInBrackets)
{
  char buffer[1024];
  VaboOrdered ordered;
  order_Par(&ordered, kStart, VaboParamDefault);
  EXPECT_STREQ(sprint_ordered_par(buffer, sizeof buffer, &ordered),
               "pix1=[5e-05] pix2=[5e-05] cen1=500 cen2=500 dis=0.11 "
               "rot1=-0.25 rot2=0 rot3=[0] ");

  order_Par(&ordered, kOdd, nullptr);
  EXPECT_STREQ(sprint_ordered_par(buffer, sizeof buffer, &ordered),
               "pix1=7.31e-05 pix2=6.87e-05 cen1=1023.42 cen2=987.61 "
               "dis=0.20137 rot1=0.0312 rot2=-0.0207 rot3=0.0113 ");

  const int none[NParams] = {};
  order_Par(&ordered, kOdd, none);
  EXPECT_STREQ(sprint_ordered_par(buffer, sizeof buffer, &ordered),
               "pix1=[7.31e-05] pix2=[6.87e-05] cen1=[1023.42] cen2=[987.61] "
               "dis=[0.20137] rot1=[0.0312] rot2=[-0.0207] rot3=[0.0113] ");
}

TEST(VaboOrder, DeviationLineLeavesOutNegativeAndNaN)
{
  char buffer[1024];
  VaboOrdered ordered;
  const int modes[NParams] = {1, 0, 0, 0, 0, 0, 0, 1}; // pix1, rot3 refined
  order_Par(&ordered, kOdd, modes);
  EXPECT_STREQ(sprint_ordered_dev(buffer, sizeof buffer, &ordered), "");

  ordered.ParDev[0] = -1;                                  // pix1: no value
  ordered.ParDev[1] = 0.5;                                 // rot3
  for (int j = 2; j < NParams; ++j) ordered.ParDev[j] = 0; // kept
  ordered.ParDev[6] = NAN;      // rot1 (kept): not a number
  ordered.ParDev[5] = 2.375e-3; // dis (kept)
  EXPECT_STREQ(sprint_ordered_dev(buffer, sizeof buffer, &ordered),
               "pix2Dev=[0] cen1Dev=[0] cen2Dev=[0] disDev=[0.002375] "
               "rot2Dev=[0] rot3Dev=0.5 ");
}

TEST(VaboOrder, NumericFieldsAreTwelveWide)
{
  char buffer[1024];
  const double stat[NStats] = {-1, -1, -1, -1, -1, -1};
  EXPECT_STREQ(sprint_statistics(buffer, sizeof buffer, stat),
               "          -1           -1           -1           -1 "
               "          -1           -1 ");
  EXPECT_STREQ(sprint_parameters(buffer, sizeof buffer, kOdd),
               "    7.31e-05     6.87e-05      1023.42       987.61 "
               "     0.20137       0.0312      -0.0207       0.0113 ");
}

TEST(VaboOrder, FprintOrderedWritesDeviationLineOnlyWhenThereIsOne)
{
  VaboOrdered ordered;
  order_Par(&ordered, kStart, VaboParamDefault);
  EXPECT_EQ(print_to_string(ordered),
            "pix1=[5e-05] pix2=[5e-05] cen1=500 cen2=500 dis=0.11 "
            "rot1=-0.25 rot2=0 rot3=[0] \n");

  ordered.ParDev[2] = 1.5e-4; // dis
  ordered.ParDev[7] = 0;      // rot3, kept
  EXPECT_EQ(print_to_string(ordered),
            "pix1=[5e-05] pix2=[5e-05] cen1=500 cen2=500 dis=0.11 "
            "rot1=-0.25 rot2=0 rot3=[0] \n"
            "disDev=0.00015 rot3Dev=[0] \n");
}

TEST(VaboOrder, TextsNeverWritePastTheBuffer)
{
  VaboOrdered ordered;
  order_Par(&ordered, kOdd, VaboParamDefault);
  for (int j = 0; j < NParams; ++j) ordered.ParDev[j] = 1e-3 * (j + 1);
  const double stat[NStats] = {1.5e-7, -2e-8, 3e-7, 181.5, 200, 5};

  struct Form {
    const char *name;
    char *(*make)(char *, size_t, const VaboOrdered &, const double *);
  };
  const Form forms[] = {
      {"parameters",
       [](char *b, size_t n, const VaboOrdered &, const double *) {
         return sprint_parameters(b, n, kOdd);
       }},
      {"statistics",
       [](char *b, size_t n, const VaboOrdered &, const double *s) {
         return sprint_statistics(b, n, s);
       }},
      {"ordered par",
       [](char *b, size_t n, const VaboOrdered &o, const double *) {
         return sprint_ordered_par(b, n, &o);
       }},
      {"ordered dev",
       [](char *b, size_t n, const VaboOrdered &o, const double *) {
         return sprint_ordered_dev(b, n, &o);
       }},
  };
  const char kCanary = '\x7e';
  for (const Form &form : forms) {
    SCOPED_TRACE(form.name);
    char full[1024];
    form.make(full, sizeof full, ordered, stat);
    size_t full_length = strlen(full);
    ASSERT_GT(full_length, 20u);
    for (size_t bufsiz = 0; bufsiz <= full_length + 2; ++bufsiz) {
      std::vector<char> buffer(bufsiz + 1, kCanary);
      char *result = form.make(buffer.data(), bufsiz, ordered, stat);
      EXPECT_EQ(result, buffer.data());
      EXPECT_EQ(buffer[bufsiz], kCanary) << "bufsiz " << bufsiz;
      if (bufsiz == 0) continue;
      size_t expected = std::min(full_length, bufsiz - 1);
      ASSERT_EQ(strnlen(buffer.data(), bufsiz), expected)
          << "bufsiz " << bufsiz;
      EXPECT_EQ(std::string(buffer.data()), std::string(full, expected));
    }
  }
}
