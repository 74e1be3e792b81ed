/*
 * test_vabo_debug.cpp -- the debug word: its printout with every label, the
 * level, the printout that setting the vabo bit triggers, the usage text of
 * the switches, and the trace that the vabo bit turns on: one table of each
 * module's entries with the names they print, and no trace without the bit.
 */
#include "vabo_base.h"
#include "test_program.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace {

using vabo_test::capture;
using vabo_test::kUntouched;
using vabo_test::output_with;
using vabo_test::Points;
using vabo_test::printed;
using vabo_test::split_lines;

/* The printout of a word whose bits are as given, written out here. */
std::string switches(const char *word, int verbose, int level, int data,
                     int temp, int vabo, int list, int savesteps)
{
  return vabo_test::format("debug      = %s\n"
                           "verbose    = %d\n"
                           "level      = %d\n"
                           "showdata   = %d\n"
                           "showtemp   = %d\n"
                           "vabodebug  = %d\n"
                           "listdebug  = %d\n"
                           "savesteps   = %d\n",
                           word, verbose, level, data, temp, vabo, list,
                           savesteps);
}

/* Every test ends with the word cleared, in a scratch directory of its own
 * (the step log's entry writes its file into the current directory). */
class VaboDebug : public ::testing::Test {
protected:
  void SetUp() override
  {
    home_ = std::filesystem::current_path();
    std::filesystem::current_path(scratch_.path());
  }
  void TearDown() override
  {
    VaboDebugSet(0);
    std::filesystem::current_path(home_);
  }

private:
  vabo_test::ScratchDir scratch_;
  std::filesystem::path home_;
};

/* ---- the trace of each module ------------------------------------------ */

/* A line "..." in an expected trace stands for any lines, none included. */
const std::string kAnyLines = "...\n";

/* Whether trace is the expected text, each "..." line of it standing for
 * any lines. */
bool trace_matches(const std::string &trace, const std::string &expected)
{
  std::vector<std::string> pieces;
  size_t from = 0;
  for (size_t gap; (gap = expected.find(kAnyLines, from)) != std::string::npos;
       from = gap + kAnyLines.size())
    pieces.push_back(expected.substr(from, gap - from));
  pieces.push_back(expected.substr(from));
  if (pieces.size() == 1) return trace == expected;

  const std::string &first = pieces.front(), &last = pieces.back();
  if (trace.size() < first.size() + last.size()) return false;
  if (trace.compare(0, first.size(), first) != 0) return false;
  const size_t end = trace.size() - last.size();
  if (trace.compare(end, last.size(), last) != 0) return false;
  size_t at = first.size();
  for (size_t k = 1; k + 1 < pieces.size(); ++k) {
    at = trace.find(pieces[k], at);
    if (at == std::string::npos || at + pieces[k].size() > end) return false;
    at += pieces[k].size();
  }
  return true;
}

/* One module: a body that calls its entries and the trace that body prints
 * with the vabo bit set. */
struct TraceRow {
  const char *module;
  std::function<void()> entries;
  std::string trace;
};

const vabo_test::Params kGeometry = {75e-6,  74.6e-6, 1024.3,  987.6,
                                     0.2013, 0.0312,  -0.0207, 0.011};

/* The rows; what the bodies need besides their entries (ordered records,
 * calibration points) is made here, before any bit is set. */
std::vector<TraceRow> trace_rows()
{
  VaboOrdered ordered;
  order_Par(&ordered, kGeometry.data(), VaboParamDefault);
  /* A dozen points over the detector with their angles at kGeometry. */
  Points pts;
  for (int k = 0; k < 12; ++k) {
    const double i1 = 41.3 + 163.7 * k, i2 = 1987.1 - 151.9 * k;
    pts.i1.push_back(i1);
    pts.i2.push_back(i2);
    pts.angle.push_back(vabo_test::two_theta(kGeometry.data(), i1, i2));
    pts.weight.push_back(0.5 + 0.125 * (k % 5));
  }
  return {
      {"linalg",
       [] {
         double A[4] = {1, 2, 3, 4}, V[2] = {1, 1}, Out[4];
         mat_mul(Out, A, A, 2, 2, 2);
         transpose_mul(Out, A, A, 2, 2, 2);
         transpose_mul_weight(Out, A, A, V, 2, 2, 2);
         vec_mul(Out, A, V, 2);
         vec_add(V, V, V, 2);
         scalar_product(V, V, 2);
         scalar_product_weight(V, V, V, 2);
         scalar_components_sum(V, 2);
         scalar_absmin(V, 2);
         scalar_absmax(V, 2);
         printed([&](FILE *out) { fprint_vector(out, 2, V, "x"); });
       },
       "mat_mul\ntranspose_mul\ntranspose_mul_weight\nvec_mul\n"
       "mat_mul\nvec_add\nscalar_product\nscalar_product_weight\n"
       "scalar_components_sum\nscalar_absmin\nscalar_absmax\n"},
      {"model",
       [ordered] {
         double X[3] = {0.1, 0.2, -0.3}, DX[3 * NParams];
         DiffAngle(&ordered, 0.3, 10, 20);
         DX_matrix_3d(DX, &ordered, 10, 20);
         Azimuth_3d(X);
         DAngle_3d(X, DX, 0);
       },
       "DiffAngle\nX_vector_3d\ni2normal_3d\nrotation_matrix_3d\n"
       "vec_mul\nmat_mul\nAngle_3d\nDX_matrix_3d\nAzimuth_3d\n"
       "DAngle_3d\n"},
      {"beam",
       [] {
         char buffer[1024];
         sprint_beam_parameters(buffer, sizeof buffer, kGeometry.data());
       },
       "VaboBeamCenter\nVaboBeamDistance\nVaboBeamCenter\n"
       "order_Par\nX_vector_3d\ni2normal_3d\nrotation_matrix_3d\n"
       "vec_mul\nmat_mul\nVaboTilt\nrotation_matrix_3d\n"},
      {"order",
       [] {
         VaboOrdered o;
         double par[NParams];
         order_Par(&o, kGeometry.data(), VaboParamDefault);
         reorder_Par(&o, par, nullptr, nullptr);
         char buffer[64];
         sprint_ordered_par(buffer, sizeof buffer, &o);
       },
       "order_Par\nreorder_Par\n"},
      {"refine",
       [pts] {
         const vabo_test::Result r = vabo_test::optimize_points(
             kGeometry, VaboParamDefault, pts, 1e-7, 1, kUntouched);
         EXPECT_EQ(r.status, 0);
       },
       "VaboOptimize\norder_Par\nget_VaboB\n" + kAnyLines + "get_VaboParDev\n" +
           kAnyLines + "reorder_Par\n"},
      {"steplog",
       [ordered, pts] {
         EXPECT_EQ(vabo_save_step(0, pts.size(), &ordered, pts.angle.data(),
                                  pts.i1.data(), pts.i2.data(),
                                  pts.weight.data(), 1),
                   0);
       },
       "vabo_save_step\n" + kAnyLines},
  };
}

} // namespace

TEST_F(VaboDebug, PrintoutShowsEachSwitchUnderItsLabel)
{
  struct Case {
    int word;
    std::string printout;
    int level;
  };
  const Case cases[] = {
      {0, switches("0x0", 0, 0, 0, 0, 0, 0, 0), 0},
      {0x1, switches("0x1", 1, 0, 0, 0, 0, 0, 0), 0},
      {0x4, switches("0x4", 0, 2, 0, 0, 0, 0, 0), 2},
      {0x8 | 0x2, switches("0xa", 0, 1, 1, 0, 0, 0, 0), 1},
      {0x10, switches("0x10", 0, 0, 0, 1, 0, 0, 0), 0},
      {0x40, switches("0x40", 0, 0, 0, 0, 0, 1, 0), 0},
      {0x80, switches("0x80", 0, 0, 0, 0, 0, 0, 1), 0},
      {0x99, switches("0x99", 1, 0, 1, 1, 0, 0, 1), 0},
      // A negative word sets every bit: all switches on, level 3.
      {-1, switches("0xffffffff", 1, 3, 1, 1, 1, 1, 1), 3},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.word);
    capture(stdout, [&] { VaboDebugSet(c.word); });
    EXPECT_EQ(VABODebug(), c.word);
    EXPECT_EQ(VABOLevel(), c.level);
    EXPECT_EQ(printed([](FILE *out) { fprint_debug(out); }), c.printout);
  }
}

TEST_F(VaboDebug, SettingTheVaboBitPrintsTheSwitchesAtOnce)
{
  EXPECT_EQ(capture(stdout, [] { VaboDebugSet(0x26); }),
            switches("0x26", 0, 3, 0, 0, 1, 0, 0));
  EXPECT_EQ(capture(stdout, [] { VaboDebugSet(0x1); }), "");
  EXPECT_EQ(VABOLevel(), 0);
}

TEST_F(VaboDebug, UsageNamesEveryBit)
{
  const std::string usage =
      "verbose=0x1,level=0x6,data=0x8,temp=0x10,vabo=0x20,list=0x40,"
      "savesteps=0x80";
  EXPECT_EQ(VaboUsage2str(), usage);
  EXPECT_EQ(vabo_usage2str(), usage);
  EXPECT_EQ(printed([](FILE *out) { fprint_debug_usage(out); }), usage + "\n");
}

TEST_F(VaboDebug, VaboBitTracesTheEntriesOfEachModule)
{
  for (const TraceRow &row : trace_rows()) {
    SCOPED_TRACE(row.module);
    const std::string trace = output_with(VABO_VABO, row.entries);
    EXPECT_TRUE(trace_matches(trace, row.trace)) << "traced:\n" << trace;
  }
}

/* Without the vabo bit nothing is traced: nothing at all is printed with
 * the word 0, and no line of a trace with every other printing switch. */
TEST_F(VaboDebug, NoTraceWithoutTheVaboBit)
{
  const int others =
      VABO_VERBOSE | VABO_LEVEL | VABO_DATA | VABO_SHOWTEMP | VABO_LIST;
  for (const TraceRow &row : trace_rows()) {
    SCOPED_TRACE(row.module);
    EXPECT_EQ(output_with(0, row.entries), "");
    std::vector<std::string> traced = split_lines(row.trace);
    std::erase(traced, "...");
    for (const std::string &line :
         split_lines(output_with(others, row.entries)))
      EXPECT_EQ(std::count(traced.begin(), traced.end(), line), 0) << line;
  }
}
