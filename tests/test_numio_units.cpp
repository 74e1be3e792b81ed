/*
 * Tests of the units and constants table: the built table (size, order,
 * telling values bit for bit), longest-prefix and exact lookups, insertion
 * order and updates, the descriptive texts kept only while debugging, the
 * base-unit length limits and the exact texts of the printouts.
 */
#include "numio.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

using vabo_test::printed;

/* Every test starts and ends with an empty table and debugging off. */
class Units : public ::testing::Test {
protected:
  void SetUp() override { Reset(); }
  void TearDown() override { Reset(); }
  static void Reset()
  {
    dpconstant_free();
    DPConstantInit = 0;
    NUMIO_debug = 0;
  }
};

std::vector<const DPConstant *> Entries()
{
  std::vector<const DPConstant *> entries;
  for (const DPConstant *e = DPConstantRoot; e; e = e->Next)
    entries.push_back(e);
  return entries;
}

std::vector<std::string> Keys()
{
  std::vector<std::string> keys;
  for (const DPConstant *e : Entries()) keys.emplace_back(e->Key);
  return keys;
}

/* Bit pattern of a double, so that equal means bit for bit. */
uint64_t Bits(double x) { return std::bit_cast<uint64_t>(x); }

double ExactValue(const char *key)
{
  DPConstant *entry = nullptr;
  if (dpconstant_search(key, &entry, 0) != 0 || !entry) {
    ADD_FAILURE() << "no entry " << key;
    return 0.0;
  }
  return entry->Value;
}

TEST_F(Units, FullTableHas615EntriesInStrictlyDescendingOrder)
{
  ASSERT_EQ(dpconstant_init(), 0);
  EXPECT_EQ(DPConstantInit, 1);

  std::vector<const DPConstant *> entries = Entries();
  ASSERT_EQ(entries.size(), 615u);
  EXPECT_STREQ(entries.front()->Key, "zs");
  EXPECT_STREQ(entries.back()->Key, "A");
  EXPECT_EQ(entries.front()->Previous, nullptr);
  for (size_t i = 1; i < entries.size(); ++i) {
    EXPECT_GT(std::strcmp(entries[i - 1]->Key, entries[i]->Key), 0)
        << entries[i - 1]->Key << " before " << entries[i]->Key;
    EXPECT_EQ(entries[i]->Previous, entries[i - 1]);
  }
  /* With debugging off no descriptive text is kept. */
  for (const DPConstant *e : entries) {
    EXPECT_EQ(e->Quantity, nullptr) << e->Key;
    EXPECT_EQ(e->Unit, nullptr) << e->Key;
  }
}

struct ValueCase {
  const char *key;
  double value;
};

TEST_F(Units, TellingEntriesAreBitExact)
{
  ASSERT_EQ(dpconstant_init(), 0);
  // clang-format off
  const ValueCase cases[] = {
      {"km", 1000},        {"cm", 0.01},         {"mm", 0.001},
      {"um", 1e-06},       {"nm", 1e-09},        {"kg", 1},
      {"g", 0.001},        {"mg", 1e-06},        {"ml", 1e-06},
      {"cm2", 0.0001},     {"cm3", 1e-06},       {"ms", 0.001},
      {"keV", 1.60217653e-16}, {"hPa", 100},     {"mbar", 100},
      {"kcal", 4186.8},    {"mT", 0.001},        {"kG", 0.1},
      {"Ym3", 1e72},       {"ym2", 1e-48},       {"zm3", 1e-63},
      {"zm", 1e-21},       {"Ms", 1e6},          {"MS", 1e6},
      {"mS", 0.001},       {"nA", 1e-09},        {"kN", 1000},
      {"NA", 6.0221415e+23}, {"kn", 0.5144444444444445},
      {"p", 0.00980665},   {"deg", 0.017453292519943295},
      {"inf", DBL_MAX},    {"degF", 0.5555555555555556},
      {"KiB", 1024},       {"KiByte", 1024},     {"MiB", 1048576},
      {"YiB", 1208925819614629174706176.0},      {"YB", 1e24},
      {"kByte", 1000},     {"B", 1},             {"Torr", 133.3224},
      {"kOhm", 1000},      {"GHz", 1e9},         {"ul", 1e-09},
      {"mmol", 0.001},     {"s2", 1},            {"ms2", 1e-06},
      {"e", 2.718281828459045}, {"gamma", 0.5772156649015329},
  };
  // clang-format on
  for (const ValueCase &c : cases)
    EXPECT_EQ(Bits(ExactValue(c.key)), Bits(c.value)) << c.key;
}

struct PrefixCase {
  const char *text;
  int mode;
  const char *key; /* expected key, or none when the search fails */
  double value;
};

TEST_F(Units, SearchFindsTheLongestKeyThatStartsTheText)
{
  ASSERT_EQ(dpconstant_init(), 0);
  const PrefixCase cases[] = {
      {"mmol", 1, "mmol", 0.001},
      {"mm", 1, "mm", 0.001},
      {"m3", 1, "m3", 1},
      {"min", 1, "min", 60},
      {"mile", 1, "mile", 1609.344},
      {"ms", 1, "ms", 0.001},
      {"m", 1, "m", 1},
      {"mmHg", 1, "mm", 0.001},
      {"inch", 1, "in", 0.0254},
      {"dega", 1, "deg", 0.017453292519943295},
      {"pa", 1, "p", 0.00980665},
      {"Pa", 1, "Pa", 1},
      {"MS", 1, "MS", 1e6},
      {"Ms", 1, "Ms", 1e6},
      {"mS", 1, "mS", 0.001},
      {"NA", 1, "NA", 6.0221415e+23},
      {"nA", 1, "nA", 1e-09},
      {"kn", 1, "kn", 0.5144444444444445},
      {"kN", 1, "kN", 1000},
      {"zm2", 1, "zm", 1e-21},
      {"zm3", 1, "zm3", 1e-63},
      /* No squared zepto entry, though squared yocto has one. */
      {"zm2", 0, nullptr, 0},
      {"zs2", 0, nullptr, 0},
      {"ym2", 0, "ym2", 1e-48},
      {"Km", 1, "K", 1},
      {"Km", 0, nullptr, 0},
      {"xyz", 1, nullptr, 0},
      {"", 1, nullptr, 0},
      {"gamma(5)", 1, "gamma", 0.5772156649015329},
      {"cm2*3", 7, "cm2", 0.0001},
      {"hPa+1", -1, "hPa", 100},
      {"KiBytes", 1, "KiByte", 1024},
      {"mm", 0, "mm", 0.001},
  };
  for (const PrefixCase &c : cases) {
    DPConstant sentinel{};
    DPConstant *entry = &sentinel;
    int status = dpconstant_search(c.text, &entry, c.mode);
    if (!c.key) {
      EXPECT_EQ(status, -1) << c.text;
      EXPECT_EQ(entry, nullptr) << c.text;
      continue;
    }
    ASSERT_EQ(status, 0) << c.text;
    ASSERT_NE(entry, nullptr) << c.text;
    EXPECT_STREQ(entry->Key, c.key) << c.text;
    EXPECT_EQ(Bits(entry->Value), Bits(c.value)) << c.text;
  }
}

TEST_F(Units, EmptyTableFindsNothing)
{
  DPConstant *entry = nullptr;
  EXPECT_EQ(dpconstant_search("m", &entry, 1), -1);
  EXPECT_EQ(dpconstant_search("m", nullptr, 0), -1);
  EXPECT_EQ(entry, nullptr);
}

TEST_F(Units, InsertionKeepsDescendingByteOrderAndBothLinks)
{
  for (const char *key : {"mm", "A", "zz", "m", "Z", "m2", "b", "mmol", "a"})
    ASSERT_EQ(dpconstant_insert(nullptr, nullptr, key, 2.385, nullptr), 0);

  const std::vector<std::string> expected = {"zz", "mmol", "mm", "m2", "m",
                                             "b",  "a",    "Z",  "A"};
  EXPECT_EQ(Keys(), expected);
  std::vector<const DPConstant *> entries = Entries();
  EXPECT_EQ(entries.front()->Previous, nullptr);
  EXPECT_EQ(entries.back()->Next, nullptr);
  for (size_t i = 1; i < entries.size(); ++i)
    EXPECT_EQ(entries[i]->Previous, entries[i - 1]);
}

TEST_F(Units, ReinsertionUpdatesTheValueOfTheOneEntry)
{
  DPConstant *first = nullptr;
  DPConstant *second = nullptr;
  ASSERT_EQ(dpconstant_insert(nullptr, nullptr, "furlong", 201.168, &first), 0);
  ASSERT_EQ(dpconstant_insert(nullptr, nullptr, "fur", 7.25, nullptr), 0);
  ASSERT_EQ(dpconstant_insert(nullptr, nullptr, "furlong", 3.17, &second), 0);
  EXPECT_EQ(first, second);
  EXPECT_EQ(Keys(), (std::vector<std::string>{"furlong", "fur"}));
  EXPECT_EQ(ExactValue("furlong"), 3.17);
}

TEST_F(Units, NullKeyIsRefused)
{
  DPConstant sentinel{};
  DPConstant *entry = &sentinel;
  EXPECT_EQ(dpconstant_insert("q", "u", nullptr, 1.5, &entry), -1);
  EXPECT_EQ(entry, nullptr);
  EXPECT_EQ(DPConstantRoot, nullptr);
  entry = &sentinel;
  EXPECT_EQ(dpconstant_search(nullptr, &entry, 1), -1);
  EXPECT_EQ(entry, nullptr);
}

TEST_F(Units, DescriptionsAreKeptOnlyWhileDebugging)
{
  DPConstant *entry = nullptr;
  ASSERT_EQ(dpconstant_insert("length", "m", "rod", 5.0292, &entry), 0);
  EXPECT_EQ(entry->Quantity, nullptr);
  EXPECT_EQ(entry->Unit, nullptr);

  NUMIO_debug = 1;
  ASSERT_EQ(dpconstant_insert("length", "m", "rod", 5.0292, &entry), 0);
  EXPECT_STREQ(entry->Quantity, "length");
  EXPECT_STREQ(entry->Unit, "m");
  /* A re-insertion replaces both texts, none included. */
  ASSERT_EQ(dpconstant_insert(nullptr, "m", "rod", 5.0292, &entry), 0);
  EXPECT_EQ(entry->Quantity, nullptr);
  EXPECT_STREQ(entry->Unit, "m");

  NUMIO_debug = 0;
  ASSERT_EQ(dpconstant_insert("area", "m2", "rod", 25.29, &entry), 0);
  EXPECT_STREQ(entry->Unit, "m"); /* untouched at level 0 */
  EXPECT_EQ(entry->Value, 25.29);
}

TEST_F(Units, SearchWhileDebuggingPrintsOneLineInFourForms)
{
  NUMIO_debug = 1;
  ASSERT_EQ(dpconstant_insert("length", "m", "ell", 1.143, nullptr), 0);
  ASSERT_EQ(dpconstant_insert(nullptr, "m", "fathom", 1.8288, nullptr), 0);
  ASSERT_EQ(dpconstant_insert("ratio", nullptr, "dozen", 12, nullptr), 0);
  ASSERT_EQ(dpconstant_insert(nullptr, nullptr, "bare", 0.1, nullptr), 0);

  ::testing::internal::CaptureStdout();
  EXPECT_EQ(dpconstant_search("ells", nullptr, 1), 0);
  EXPECT_EQ(dpconstant_search("fathom", nullptr, 0), 0);
  EXPECT_EQ(dpconstant_search("dozen", nullptr, 0), 0);
  EXPECT_EQ(dpconstant_search("bare", nullptr, 0), 0);
  EXPECT_EQ(dpconstant_search("none", nullptr, 1), -1);
  std::fflush(stdout);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "  ell = 1.143 m (length)\n"
            "  fathom = 1.8288 m\n"
            "  dozen = 12 (ratio)\n"
            "  bare = 0.1\n");
}

TEST_F(Units, SearchIsSilentAtLevelZero)
{
  ASSERT_EQ(dpconstant_insert("length", "m", "ell", 1.143, nullptr), 0);
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(dpconstant_search("ell", nullptr, 0), 0);
  std::fflush(stdout);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
}

TEST_F(Units, PrefixedSquaredAndCubedUnitsMakeTheirEntries)
{
  ASSERT_EQ(dpconstant_insert_unit(nullptr, nullptr, "q", 0.5), 0);
  EXPECT_EQ(Entries().size(), 20u);
  ASSERT_EQ(dpconstant_insert_unit2(nullptr, nullptr, "q", 0.5), 0);
  EXPECT_EQ(Entries().size(), 39u);
  ASSERT_EQ(dpconstant_insert_unit3(nullptr, nullptr, "q", 0.5), 0);
  EXPECT_EQ(Entries().size(), 59u);

  const ValueCase cases[] = {
      {"q", 0.5},    {"kq", 500},       {"uq", 5e-07},     {"zq", 5e-22},
      {"yq", 5e-25}, {"q2", 0.25},      {"kq2", 250000},   {"yq2", 2.5e-49},
      {"q3", 0.125}, {"mq3", 1.25e-10}, {"zq3", 1.25e-64}, {"Yq3", 1.25e71},
      {"hq", 50},
  };
  for (const ValueCase &c : cases)
    EXPECT_EQ(Bits(ExactValue(c.key)), Bits(c.value)) << c.key;
  EXPECT_EQ(dpconstant_search("zq2", nullptr, 0), -1);
  EXPECT_EQ(dpconstant_search("daq", nullptr, 0), -1);
}

TEST_F(Units, OverlongBaseUnitsAreRefusedWithoutInserting)
{
  const std::string base64(64, 'x');
  const std::string base65(65, 'x');
  const std::string base63(63, 'w');

  EXPECT_EQ(dpconstant_insert_unit(nullptr, nullptr, base65.c_str(), 1), -1);
  EXPECT_EQ(dpconstant_insert_unit2(nullptr, nullptr, base64.c_str(), 1), -1);
  EXPECT_EQ(dpconstant_insert_unit3(nullptr, nullptr, base64.c_str(), 1), -1);
  EXPECT_EQ(dpconstant_insert_unit(nullptr, nullptr, nullptr, 1), -1);
  EXPECT_EQ(DPConstantRoot, nullptr);

  EXPECT_EQ(dpconstant_insert_unit(nullptr, nullptr, base64.c_str(), 1), 0);
  EXPECT_EQ(dpconstant_insert_unit2(nullptr, nullptr, base63.c_str(), 1), 0);
  EXPECT_EQ(dpconstant_insert_unit3(nullptr, nullptr, base63.c_str(), 1), 0);
  EXPECT_EQ(Entries().size(), 59u);
  EXPECT_EQ(dpconstant_search(("Y" + base63 + "3").c_str(), nullptr, 0), 0);
  EXPECT_EQ(dpconstant_search(("y" + base64).c_str(), nullptr, 0), 0);
}

TEST_F(Units, RebuildingRestoresChangedEntriesAndKeepsTheCount)
{
  ASSERT_EQ(dpconstant_init(), 0);
  ASSERT_EQ(dpconstant_insert(nullptr, nullptr, "km", 7.5, nullptr), 0);
  ASSERT_EQ(dpconstant_init(), 0);
  EXPECT_EQ(Entries().size(), 615u);
  EXPECT_EQ(ExactValue("km"), 1000.0);
}

TEST_F(Units, BuildingWhileDebuggingPrintsTheTable)
{
  NUMIO_debug = 2;
  ::testing::internal::CaptureStdout();
  ASSERT_EQ(dpconstant_init(), 0);
  std::fflush(stdout);
  std::string out = ::testing::internal::GetCapturedStdout();

  size_t lines = 0;
  for (char ch : out) lines += ch == '\n';
  EXPECT_EQ(lines, 615u);
  EXPECT_EQ(out.rfind("   'zs' = 1e-21 s (time)\n", 0), 0u);
  EXPECT_NE(out.find("   'pi' = 3.14159 (pi number)\n"), std::string::npos);
  EXPECT_NE(out.find("   'YiB' = 1.20893e+24 Byte "
                     "(YobiByte (digital information))\n"),
            std::string::npos);
  EXPECT_NE(out.find("   'cm3' = 1e-06 m3 (volume)\n"), std::string::npos);
  EXPECT_TRUE(out.ends_with("\n   'A' = 1 A (electric current)\n"));
}

TEST_F(Units, CompactPrintoutHasOneLinePerEntryInFourForms)
{
  NUMIO_debug = 1;
  ASSERT_EQ(dpconstant_insert("length", "m", "ell", 1.143, nullptr), 0);
  ASSERT_EQ(dpconstant_insert(nullptr, "m", "fathom", 1.8288, nullptr), 0);
  ASSERT_EQ(dpconstant_insert("ratio", nullptr, "dozen", 12, nullptr), 0);
  ASSERT_EQ(dpconstant_insert(nullptr, nullptr, "bare", 2.385e-07, nullptr), 0);

  EXPECT_EQ(printed([](FILE *f) { dpconstant_print(f, 1, 0); }),
            "   'fathom' = 1.8288 m\n"
            "   'ell' = 1.143 m (length)\n"
            "   'dozen' = 12 (ratio)\n"
            "   'bare' = 2.385e-07\n");
  EXPECT_EQ(printed([](FILE *f) { dpconstant_print(f, 0, 0); }), "");
  EXPECT_EQ(printed([](FILE *f) { dpconstant_print(f, -3, 1); }), "");
}

/* Separator of the verbose printout's entries. */
const std::string kSep =
    "   -       -       -       -       -       -       -       -\n";

TEST_F(Units, VerbosePrintoutShowsNeighbours)
{
  NUMIO_debug = 1;
  ASSERT_EQ(dpconstant_insert("length", "m", "ell", 1.143, nullptr), 0);
  ASSERT_EQ(dpconstant_insert(nullptr, nullptr, "bare", 0.25, nullptr), 0);

  EXPECT_EQ(printed([](FILE *f) { dpconstant_print(f, 2, 1); }),
            kSep +
                "   Key               = ell\n"
                "   Value             = 1.143\n"
                "   Quantity       = length\n"
                "   Unit           = m\n"
                "   Previous Key      = (no previous dpconstant)\n"
                "   Next Key          = bare\n" +
                kSep +
                "   Key               = bare\n"
                "   Value             = 0.25\n"
                "   Previous Key      = ell\n"
                "   Next Key          = (no next dpconstant)\n" +
                kSep);
}

TEST_F(Units, VerbosePrintoutOfAnEmptyTableIsTheSeparator)
{
  EXPECT_EQ(printed([](FILE *f) { dpconstant_print(f, 1, 1); }), kSep);
  EXPECT_EQ(printed([](FILE *f) { dpconstant_print(f, 1, 0); }), "");
}

TEST_F(Units, FreeEmptiesTheTableButKeepsTheBuiltFlag)
{
  ASSERT_EQ(dpconstant_init(), 0);
  EXPECT_EQ(dpconstant_free(), 0);
  EXPECT_EQ(DPConstantRoot, nullptr);
  EXPECT_EQ(DPConstantInit, 1);
  EXPECT_EQ(dpconstant_free(), 0);
}

} // namespace
