/*
 * test_vabo_debug.cpp -- the debug word: its printout with every label, the
 * level, the printout that setting the vabo bit triggers, and the usage
 * text of the switches.
 */
#include "vabo_base.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using vabo_test::capture;
using vabo_test::printed;

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

class VaboDebug : public ::testing::Test {
protected:
  void TearDown() override { VaboDebugSet(0); }
};

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
