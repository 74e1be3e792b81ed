/*
 * Tests of the expression grammars and the readers num_str2double and
 * num_str2long: every precedence level, units and functions, the 32-bit
 * integer arithmetic, the error value and tail position of each failure,
 * bounded recursion on hostile input, an empty program registry after every
 * reading, and the direct reading of plain literals against the grammar.
 */
#include "numio.h"
#include "numio_internal.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <span>
#include <string>

namespace {

/* Relative tolerance for values the units table builds by multiplying a
 * base value with a prefix factor (one rounding each). */
constexpr double kProductTolerance = 1e-15;

struct Row {
  const char *input;
  double value;
  int error;
  long tail;     /* offset of the reading's end in input */
  double reltol; /* 0: the value must be bit-exact */
};

std::string repeat(const std::string &piece, int n)
{
  std::string text;
  text.reserve(piece.size() * static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) text += piece;
  return text;
}

/* The input as a failure message shows it: cut after 60 characters. */
std::string shown(const std::string &text)
{
  return "input '" + (text.size() > 60 ? text.substr(0, 60) + "..." : text) +
         "'";
}

/* Checks the error value and tail of a reading, and an empty registry. */
void expect_end(const std::string &text, int errval, int error, const char *end,
                long tail)
{
  EXPECT_EQ(errval, error) << shown(text);
  EXPECT_EQ(end - text.c_str(), tail) << shown(text);
  EXPECT_EQ(NumProgRoot, nullptr) << "program left after " << shown(text);
}

/* Reads text as a double: value (0 on failure), error, tail, registry. */
void expect_double(const std::string &text, double value, int error, long tail,
                   double reltol = 0.0)
{
  const char *end = nullptr;
  int errval = -1;
  const double got = num_str2double(text.c_str(), &end, &errval);
  expect_end(text, errval, error, end, tail);
  if (error != NUM_SUCCESS) {
    EXPECT_EQ(got, 0.0) << shown(text);
  } else if (reltol == 0.0) {
    EXPECT_EQ(got, value) << shown(text);
  } else {
    EXPECT_NEAR(got, value, std::fabs(value) * reltol) << shown(text);
  }
}

/* The same for a long, whose value is checked on success only. */
void expect_long(const std::string &text, long value, int error, long tail)
{
  const char *end = nullptr;
  int errval = -1;
  const long got = num_str2long(text.c_str(), &end, &errval);
  expect_end(text, errval, error, end, tail);
  if (error == NUM_SUCCESS) {
    EXPECT_EQ(got, value) << shown(text);
  }
}

void run_rows(std::span<const Row> rows)
{
  for (const Row &r : rows)
    expect_double(r.input, r.value, r.error, r.tail, r.reltol);
}

TEST(Grammar, UnitsAndConstantsGiveSiValues)
{
  const Row rows[] = {
      {"11_cm", 0.11, 0, 5, 0},
      {"-22_deg", -0.3839724354387525, 0, 7, 0},
      {"50_um", 50 * 1e-6, 0, 5, 0},
      {"cm", 0.01, 0, 2, 0},
      {"kg", 1.0, 0, 2, 0},
      {"mbar", 100.0, 0, 4, 0},
      {"hPa", 100.0, 0, 3, 0},
      {"keV", 1.60217653e-16, 0, 3, kProductTolerance},
      {"2.385_mm", 2.385e-3, 0, 8, kProductTolerance},
      {"3_min", 180.0, 0, 5, 0},
      {"gamma", 0.5772156649015329, 0, 5, 0},
      {"pi", 3.141592653589793, 0, 2, 0},
      {"_cm", 0, NUM_EUNDEFVAR, 1, 0},
      {"5_", 0, NUM_ENOTFLOAT, 2, 0},
      {"xyz", 0, NUM_ENOTFLOAT, 0, 0},
  };
  run_rows(rows);
}

TEST(Grammar, UnitBindsTighterThanEveryOperator)
{
  const Row rows[] = {
      {"1/2_cm", 1.0 / (2 * 0.01), 0, 6, 0},
      {"2*3_cm", 2 * (3 * 0.01), 0, 6, 0},
      {"-4.5_mm", -(4.5 * 1e-3), 0, 7, 0},
      {"2.385_(1+1)", 2.385 * 2, 0, 11, 0},
      {"2_2_2", 8.0, 0, 5, 0},
  };
  run_rows(rows);
}

TEST(Grammar, ArithmeticLevelsAndAssociativity)
{
  const Row rows[] = {
      {"1+2*3", 7, 0, 5, 0},
      {"(1+2)*3", 9, 0, 7, 0},
      {"8/4/2", 1, 0, 5, 0},
      {"7//2", 3, 0, 4, 0},
      {"-7//2", -3, 0, 5, 0},
      {"(-7)//2", -4, 0, 7, 0},
      {"-7%3", -1, 0, 4, 0},
      {"(-7)%3", 2, 0, 6, 0},
      {"7%-3", 0, NUM_ENOTFLOAT, 2, 0},
      {"7%(-3)", -2, 0, 6, 0},
      {"-2*3", -6, 0, 4, 0},
      {"+2.385", 2.385, 0, 6, 0},
      {"9.5-2.25-1.125", 6.125, 0, 14, 0},
      {"2*-3", 0, NUM_ENOTFLOAT, 2, 0},
      {"!0+1", 2, 0, 4, 0},
      {"!2.385", 0, 0, 6, 0},
      {"!!1", 0, NUM_ENOTFLOAT, 1, 0},
      {"1/0", 0, NUM_EDIVZERO, 3, 0},
  };
  run_rows(rows);
}

TEST(Grammar, ComparisonsAndLogicTakeAtMostOneOperatorPerLevel)
{
  const Row rows[] = {
      {"1<2==1", 1, 0, 6, 0},   {"1<2<3", 1, 0, 3, 0},
      {"2.5<=2.5", 1, 0, 8, 0}, {"2.5<2.5", 0, 0, 7, 0},
      {"2.4>=2.5", 0, 0, 8, 0}, {"3>2", 1, 0, 3, 0},
      {"1!=1", 0, 0, 4, 0},     {"1==1==1", 1, 0, 4, 0},
      {"0||2.385", 1, 0, 8, 0}, {"0||0||0", 0, 0, 7, 0},
      {"1&&0", 0, 0, 4, 0},     {"1&&2&&3", 1, 0, 7, 0},
      {"1|0", 1, 0, 1, 0},      {"1&0", 1, 0, 1, 0},
      {"1=0", 1, 0, 1, 0},      {"1!0", 1, 0, 1, 0},
  };
  run_rows(rows);
}

TEST(Grammar, ConditionalCannotBeChainedWithoutParentheses)
{
  const Row rows[] = {
      {"0?1:2", 2, 0, 5, 0},        {"1?2.385:7", 2.385, 0, 9, 0},
      {"1?2", 0, NUM_ESCAN, 3, 0},  {"1?2:3?4:5", 2, 0, 5, 0},
      {"0?2:(0?4:5)", 5, 0, 11, 0}, {"(0?1:0)?4:5", 5, 0, 11, 0},
  };
  run_rows(rows);
}

TEST(Grammar, ReadingStopsInFrontOfForeignText)
{
  const Row rows[] = {
      {"1 + 2", 1, 0, 1, 0},        {"2 cm", 2, 0, 1, 0},
      {"1,2", 1, 0, 1, 0},          {"2^3", 2, 0, 1, 0},
      {"2.385;", 2.385, 0, 5, 0},   {"  \t4.75", 4.75, 0, 7, 0},
      {"", 0, NUM_ENOTFLOAT, 0, 0}, {"   ", 0, NUM_ENOTFLOAT, 3, 0},
  };
  run_rows(rows);
  const char *end = nullptr;
  int errval = -1;
  EXPECT_EQ(num_str2double(nullptr, &end, &errval), 0.0);
  EXPECT_EQ(errval, NUM_ENOTFLOAT);
  ASSERT_NE(end, nullptr);
  EXPECT_EQ(*end, '\0');
}

TEST(Grammar, NumericLiteralsAreReadLikeStrtod)
{
  const Row rows[] = {
      {".5", 0.5, 0, 2, 0},      {".", 0, 0, 0, 0},
      {"1e3", 1000, 0, 3, 0},    {"2.385e-2", 0.02385, 0, 8, 0},
      {"1e", 1, 0, 1, 0},        {"2e_cm", 2, 0, 1, 0},
      {"007.25", 7.25, 0, 6, 0},
  };
  run_rows(rows);
}

TEST(Grammar, ParenthesesMustBalance)
{
  const Row rows[] = {
      {"((2.385))", 2.385, 0, 9, 0},   {"2)", 0, NUM_EPAREN, 1, 0},
      {"(2", 0, NUM_EPAREN, 2, 0},     {"(1))", 0, NUM_EPAREN, 3, 0},
      {")", 0, NUM_ENOTFLOAT, 0, 0},   {"()", 0, NUM_ENOTFLOAT, 1, 0},
      {"1?2:3)", 0, NUM_EPAREN, 5, 0},
  };
  run_rows(rows);
}

TEST(Grammar, FunctionsTakeTheirArgumentsAndParenthesis)
{
  const Row rows[] = {
      {"pi()", 3.141592653589793, 0, 4, 0},
      {"pi(1)", 0, NUM_EPAREN, 3, 0},
      {"gamma(5)", 24, 0, 8, 0},
      {"atan2(1,2)", std::atan2(1.0, 2.0), 0, 10, 0},
      {"atan2(1)", 0, NUM_ECOMMA, 7, 0},
      {"atan2(1,2", 0, NUM_EPAREN, 9, 0},
      {"pow(2,-2)", 0.25, 0, 9, 0},
      {"pow(-8,3)", -512, 0, 9, 0},
      {"min(3_mm,1_cm)", 3 * 1e-3, 0, 14, 0},
      {"max(3_mm,1_cm)", 0.01, 0, 14, 0},
      {"sin(1", 0, NUM_EPAREN, 5, 0},
      {"sin()", 0, NUM_ENOTFLOAT, 4, 0},
      {"sin(2.385)", std::sin(2.385), 0, 10, 0},
      {"sqrt(2.25)", 1.5, 0, 10, 0},
      {"abs(-2.385)", 2.385, 0, 11, 0},
      {"log10(1000)", 3, 0, 11, 0},
      {"log(0)", 0, NUM_EDOMAIN, 6, 0},
      {"sqrt(-1)", 0, NUM_EDOMAIN, 8, 0},
      {"round(2.5)", 3, 0, 10, 0},
      {"degC2K(25)", 25 + 273.15, 0, 10, 0},
      {"degF2degC(212)", (212 - 32) * 0.5555555555555556, 0, 14, 0},
      {"foo(1)", 0, NUM_EFUNCTION, 0, 0},
      {"SIN(1)", 0, NUM_EFUNCTION, 0, 0},
      {"2*sin(1?2:3)", 2 * std::sin(2.0), 0, 12, 0},
  };
  run_rows(rows);
}

TEST(Grammar, DoubleCastReadsAnIntegerFactor)
{
  const Row rows[] = {
      {"(double)(7/2)", 3, 0, 13, 0},
      {"(double)7/2", 3.5, 0, 11, 0},
      {"(double)(long int)7.9", 7, 0, 21, 0},
      {"(double)(round)(-2.5)", -2, 0, 21, 0},
      {"(double)true", 1, 0, 12, 0},
      {"(double)7x", 7, 0, 9, 0},
      {"(double)(7x)", 0, NUM_ESCAN, 10, 0},
      {"(double)", 0, NUM_ENOTFLOAT, 8, 0},
      {"(double)(long int)_x", 0, NUM_EUNDEFVAR, 19, 0},
  };
  run_rows(rows);
}

TEST(Grammar, LoneOperatorsAndBinaryBytesFailWithoutReading)
{
  // clang-format off
  const Row rows[] = {
      {"+", 0, NUM_ENOTFLOAT, 1, 0},  {"-", 0, NUM_ENOTFLOAT, 1, 0},
      {"*", 0, NUM_ENOTFLOAT, 0, 0},  {"/", 0, NUM_ENOTFLOAT, 0, 0},
      {"?", 0, NUM_ENOTFLOAT, 0, 0},  {":", 0, NUM_ENOTFLOAT, 0, 0},
      {"!", 0, NUM_ENOTFLOAT, 1, 0},  {"_", 0, NUM_EUNDEFVAR, 1, 0},
      {"||", 0, NUM_ENOTFLOAT, 0, 0}, {"1+", 0, NUM_ENOTFLOAT, 2, 0},
      {"1*", 0, NUM_ENOTFLOAT, 2, 0}, {"1?", 0, NUM_ENOTFLOAT, 2, 0},
      {"1?2:", 0, NUM_ENOTFLOAT, 4, 0},
  };
  // clang-format on
  run_rows(rows);
  std::string binary;
  for (int c = 255; c >= 1; --c) binary += static_cast<char>(c);
  expect_double(binary, 0, NUM_ENOTFLOAT, 0);
  expect_long(binary, 0, NUM_ENOTFLOAT, 0);
  expect_double("2.385\x80\xff", 2.385, 0, 5);
}

TEST(Grammar, NestingBeyondTheLimitFailsWithBadParenthesis)
{
  const int n = NUM_MAX_NESTING;
  expect_double(repeat("(", n) + "2.385" + repeat(")", n), 2.385, 0, 2 * n + 5);
  expect_double(repeat("(", n + 1) + "2.385" + repeat(")", n + 1), 0,
                NUM_EPAREN, n);
  expect_long(repeat("(", n) + "7" + repeat(")", n), 7, 0, 2 * n + 1);
  expect_long(repeat("(", n + 1) + "7" + repeat(")", n + 1), 0, NUM_EPAREN, n);
  expect_double(repeat("abs(", n) + "1" + repeat(")", n), 1, 0, 5 * n + 1);
  expect_double(repeat("abs(", n + 1) + "1" + repeat(")", n + 1), 0, NUM_EPAREN,
                4 * n);
  /* Hostile depths fail at the limit without reading on. */
  expect_double(repeat("(", 100000), 0, NUM_EPAREN, n);
  expect_long(repeat("(", 100000), 0, NUM_EPAREN, n);
  expect_double(repeat("sin(", 100000), 0, NUM_EPAREN, 4 * n);
  /* Casts recurse through both grammars without opening a parenthesis. */
  const std::string pair = "(double)(long int)";
  expect_double(repeat(pair, 100000) + "1", 0, NUM_EPAREN,
                static_cast<long>(pair.size()) * n / 2);
  expect_double(repeat(pair, n / 2) + "2.385", 2, 0,
                static_cast<long>(pair.size()) * n / 2 + 5);
  const std::string rpair = "(long int)(double)";
  expect_long(repeat(rpair, 100000) + "1", 0, NUM_EPAREN,
              static_cast<long>(rpair.size()) * n / 2);
}

TEST(Grammar, NestedTemporaryProgramsKeepApart)
{
  /* An integer factor inside the floating-point part of another integer
   * factor: the inner temporary must not discard the outer one. */
  expect_long("(long int)(1.5+(double)(long int)2.5)", 3, 0, 37);
  expect_long(
      "(long int)(1.5+(double)(round)(2.5+(double)(long int)(0.5+(double)7/2)))",
      8, 0, 72);
  expect_long("(round)(2*(double)(long int)(gamma+(double)(round)pi))", 6, 0,
              54);
  expect_long("(long int)(1+(double)(long int)log(0))", 0, NUM_EDOMAIN, 37);
  expect_long("sqrt(1+(double)(long int)(2.385*10))", 5, 0, 36);
}

TEST(Grammar, MegabyteTextsAreReadInFull)
{
  const int n = 500000;
  std::string sum = "1" + repeat("+1", n);
  expect_double(sum, n + 1, 0, static_cast<long>(sum.size()));
  expect_long(sum, n + 1, 0, static_cast<long>(sum.size()));
  std::string digits = repeat("9", 1 << 20);
  expect_double(digits, std::numeric_limits<double>::infinity(), 0,
                static_cast<long>(digits.size()));
  expect_long(digits, 2147483647, 0, static_cast<long>(digits.size()));
  std::string blanks = repeat(" ", 1 << 20) + "2.385";
  expect_double(blanks, 2.385, 0, static_cast<long>(blanks.size()));
  std::string junk = "7" + repeat("#", 1 << 20);
  expect_double(junk, 7, 0, 1);
  expect_long(junk, 0, NUM_ESCAN, 1);
}

TEST(Grammar, ReadingLeavesOtherProgramsAlone)
{
  NumProg *kept = numprog_new("kept");
  ASSERT_NE(kept, nullptr);
  int errval = -1;
  EXPECT_EQ(num_str2double("(double)(long int)2.7*1_cm", nullptr, &errval),
            2 * 0.01);
  EXPECT_EQ(errval, 0);
  EXPECT_EQ(num_str2long("(round)(2.385*1e3)", nullptr, &errval), 2385);
  EXPECT_EQ(errval, 0);
  ASSERT_EQ(NumProgRoot, kept);
  EXPECT_EQ(kept->Next, nullptr);
  EXPECT_EQ(numprog_free(kept), 0);
}

TEST(Grammar, DebugLevelAboveTwoPrintsTheProgram)
{
  testing::internal::CaptureStdout();
  NUMIO_debug = 3;
  int errval = -1;
  double value = num_str2double("1.5+2", nullptr, &errval);
  NUMIO_debug = 0;
  std::string printed = testing::internal::GetCapturedStdout();
  EXPECT_EQ(value, 3.5);
  EXPECT_EQ(errval, 0);
  EXPECT_EQ(printed.rfind(" Program             = 'str2double'\n", 0), 0u)
      << printed;

  testing::internal::CaptureStdout();
  num_str2double("1.5+2", nullptr, &errval);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST(Grammar, OutParametersMayBeNone)
{
  EXPECT_EQ(num_str2double("2.385", nullptr, nullptr), 2.385);
  EXPECT_EQ(num_str2long("17", nullptr, nullptr), 17);
  EXPECT_EQ(NumProgRoot, nullptr);
}

TEST(Grammar, FunctionAndVariableRecognition)
{
  EXPECT_EQ(isfunction("sin(1)"), 1);
  EXPECT_EQ(isfunction("foo2("), 1);
  EXPECT_EQ(isfunction("2sin("), 0);
  EXPECT_EQ(isfunction("sin"), 0);
  EXPECT_EQ(isfunction("s_n("), 0);
  EXPECT_EQ(isfunction(nullptr), 0);
  EXPECT_EQ(isvariable("_x"), 1);
  EXPECT_EQ(isvariable("x_"), 0);
  EXPECT_EQ(isvariable(nullptr), 0);
}

/* ------------------------ plain literals read directly
 * ------------------------ */

/* One random text shaped like a number of a data file or close to one:
 * white space, signs, digits, points, exponents near the ends of the double
 * range, long mantissas, hexadecimal and named forms, and what may follow a
 * number (white space, units, operators, stray characters). */
std::string literal_like_text(std::mt19937_64 &rng)
{
  static const char *const kLeads[] = {"", "", "", " ", "\t "};
  static const char *const kSigns[] = {"",  "",  "",   "",  "+",
                                       "-", "-", "--", "+-"};
  // clang-format off
  static const char *const kOddBodies[] = {
      ".", "..", "1..5", "0x1p3", "0X1A", "0x", "0x.8", "inf", "nan", "e5",
      ".e5", "1.7976931348623157e308", "1.7976931348623159e308",
      "2.2250738585072011e-308", "4.9406564584124654e-324",
      "2.4703282292062327e-324", "2.4703282292062328e-324", "1e-400",
      "1e400", "9007199254740993", "9007199254740992.5000000000000000001",
      "0.1", "1e23", "00000000000000000000000000001"};
  // clang-format on
  static const char *const kTails[] = {
      "",     "",    "",           "",    " ",    " ",  "\t",  "\n",
      "\r\n", " 2",  "  1406.192", "_cm", "_deg", "cm", "*2",  "/3",
      "//2",  "%2",  "+1",         "-1",  ")",    "(",  "e",   "e+",
      "E-",   "x",   ",",          ";",   "?1:2", "<3", "==1", "!=1",
      "||0",  "&&1", "!",          "#",   ".5",   "_",  "\f",  "\v"};
  auto pick = [&rng](const auto &table) {
    return std::string(table[rng() % std::size(table)]);
  };
  auto digits = [&rng](int count) {
    std::string text;
    for (int i = 0; i < count; ++i) text += static_cast<char>('0' + rng() % 10);
    return text;
  };

  std::string text = pick(kLeads) + pick(kSigns);
  if (rng() % 8 == 0) return text + pick(kOddBodies) + pick(kTails);
  /* Mantissas of 0 to 24 digits before and after an optional point. */
  const int lengths[] = {0, 1, 1, 2, 3, 4, 6, 10, 16, 17, 18, 19, 20, 24};
  text += digits(lengths[rng() % std::size(lengths)]);
  if (rng() % 3 != 0) text += "." + digits(lengths[rng() % std::size(lengths)]);
  if (rng() % 2 == 0) {
    text += rng() % 2 ? "e" : "E";
    text += pick(kSigns).substr(0, 1);
    /* Exponents anywhere, or near the edges of the double range. */
    const int exponent = rng() % 2 ? static_cast<int>(rng() % 30)
                                   : 290 + static_cast<int>(rng() % 50);
    text += rng() % 5 == 0 ? "" : std::to_string(exponent);
  }
  return text + pick(kTails);
}

uint64_t bits_of(double value)
{
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

/* Each run of this test (--gtest_repeat=N runs it N times) draws its own
 * texts; the suite draws 20000, enough to meet every piece of the texts in
 * every combination that matters. */
TEST(PlainLiteral, ReadsEveryTextAsTheGrammarDoes)
{
  static int run = 0;
  std::mt19937_64 rng(20131209u + static_cast<unsigned>(run++));
  constexpr int kTexts = 20000;
  int direct = 0;
  int failures = 0;
  for (int i = 0; i < kTexts && failures < 10; ++i) {
    const std::string text = literal_like_text(rng);
    const char *tail = nullptr, *grammar_tail = nullptr;
    int errval = -1, grammar_errval = -1;
    const double value = num_str2double(text.c_str(), &tail, &errval);
    const double grammar_value =
        numio_str2double_grammar(text.c_str(), &grammar_tail, &grammar_errval);
    const bool same = bits_of(value) == bits_of(grammar_value) &&
                      errval == grammar_errval && tail == grammar_tail;
    if (!same) ++failures;
    EXPECT_TRUE(same) << "text '" << text << "': " << value << " error "
                      << errval << " tail " << tail - text.c_str()
                      << ", grammar " << grammar_value << " error "
                      << grammar_errval << " tail "
                      << grammar_tail - text.c_str();
    double ignored;
    const char *ignored_tail;
    direct += numio_plain_literal(numio_skip_white(text.c_str()), &ignored,
                                  &ignored_tail);
  }
  /* The direct reading must have carried a fair share of the texts (about
   * a sixth of them are plain literals). */
  EXPECT_GT(direct, kTexts / 8);
  EXPECT_EQ(NumProgRoot, nullptr);
}

TEST(PlainLiteral, SignsZeroAndRangeEdgesKeepTheirBits)
{
  struct Case {
    const char *text;
    double value;
    long tail;
  };
  const Case cases[] = {
      {"-0", -0.0, 2},
      {"-0.000e12 ", -0.0, 9},
      {"-1e-400", -0.0, 7},
      {"+1e-400\t", 0.0, 7},
      {"-4.9406564584124654e-324", -4.9406564584124654e-324, 24},
      {"1e400", std::numeric_limits<double>::infinity(), 5},
      {"-1.7976931348623159e308", -std::numeric_limits<double>::infinity(), 23},
      {" -.5\n", -0.5, 4},
      {"0x10 ", 16.0, 4},
  };
  for (const Case &c : cases) {
    const char *tail = nullptr;
    int errval = -1;
    const double value = num_str2double(c.text, &tail, &errval);
    EXPECT_EQ(bits_of(value), bits_of(c.value)) << c.text;
    EXPECT_EQ(errval, 0) << c.text;
    EXPECT_EQ(tail - c.text, c.tail) << c.text;
  }
}

TEST(PlainLiteral, DebugLevelAndRegisteredReaderProgramTakeTheGrammar)
{
  testing::internal::CaptureStdout();
  NUMIO_debug = 3;
  EXPECT_EQ(num_str2double("2.385", nullptr, nullptr), 2.385);
  NUMIO_debug = 0;
  const std::string printed = testing::internal::GetCapturedStdout();
  /* The grammar's program, printed at level 2: one PUSHVAL and its
   * register. */
  char instruction[64];
  std::snprintf(instruction, sizeof instruction, "%10s  %10g", "PUSHVAL",
                2.385);
  EXPECT_EQ(printed, std::string(" Program             = 'str2double'\n"
                                 "  InstructionList\n  ") +
                         instruction + "\n  Accumulator #1 = 2.385\n");

  /* The reader discards a program registered under its own name. */
  ASSERT_NE(numprog_new("str2double"), nullptr);
  EXPECT_EQ(num_str2double("2.385", nullptr, nullptr), 2.385);
  EXPECT_EQ(NumProgRoot, nullptr);
}

TEST(PlainLiteral, DecimalCommaLocaleReadsAsStrtodDoes)
{
  const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
  const char *const locales[] = {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8"};
  bool found = false;
  for (const char *name : locales)
    if (std::setlocale(LC_NUMERIC, name)) {
      found = true;
      break;
    }
  if (!found) GTEST_SKIP() << "no locale with a decimal comma installed";
  const char *text = "1.5 2";
  const char *tail = nullptr;
  const double value = num_str2double(text, &tail, nullptr);
  std::setlocale(LC_NUMERIC, saved.c_str());
  EXPECT_EQ(value, 1.0);
  EXPECT_EQ(tail - text, 1);
}

/* ---------------------------- integer grammar ---------------------------- */

struct LongRow {
  const char *input;
  long value;
  int error;
  long tail;
};

void run_rows(std::span<const LongRow> rows)
{
  for (const LongRow &r : rows) expect_long(r.input, r.value, r.error, r.tail);
}

TEST(IntegerGrammar, DivisionTruncatesAndRemainderFollowsTheDividend)
{
  // clang-format off
  const LongRow rows[] = {
      {"7/2", 3, 0, 3},        {"-7/2", -3, 0, 4},      {"-7%2", -1, 0, 4},
      {"(-7)%2", -1, 0, 6},    {"7%(-2)", 1, 0, 6},     {"(-7)/(-2)", 3, 0, 9},
      {"7%0", 0, NUM_EDIVZERO, 3}, {"7/(3-3)", 0, NUM_EDIVZERO, 7},
      {"1+2*3", 7, 0, 5},      {"((3+4)*2)", 14, 0, 9}, {"100/7/2", 7, 0, 7},
      {"-(5)", -5, 0, 4},      {"+12", 12, 0, 3},
  };
  // clang-format on
  run_rows(rows);
}

TEST(IntegerGrammar, ArithmeticWrapsAtThirtyTwoBits)
{
  const LongRow rows[] = {
      {"2147483647+1", -2147483647L - 1, 0, 12},
      {"65536*65536", 0, 0, 11},
      {"46341*46341", -2147479015L, 0, 11},
      {"(-2147483647-1)-1", 2147483647L, 0, 17},
      {"99999999999", 2147483647L, 0, 11},
      {"99999999999999999999999", 2147483647L, 0, 23},
      {"-2147483648", -2147483647L, 0, 11},
      {"(-2147483647-1)/(-1)", -2147483647L - 1, 0, 20},
      {"(-2147483647-1)%(-1)", 0, 0, 20},
      {"7%(-1)", 0, 0, 6},
  };
  run_rows(rows);
}

TEST(IntegerGrammar, EndsAtSeparatorsAndRejectsOtherText)
{
  // clang-format off
  const LongRow rows[] = {
      {"3 4", 3, 0, 1},  {"7,8", 7, 0, 1},   {"7;8", 7, 0, 1},
      {"3x", 0, NUM_ESCAN, 1}, {"3.5", 0, NUM_ESCAN, 1},
      {"7//2", 0, NUM_ENOTFLOAT, 2}, {"0x10", 0, NUM_ESCAN, 1},
      {"7)", 0, NUM_EPAREN, 1}, {"(7", 0, NUM_EPAREN, 2},
      {"", 0, NUM_ENOTFLOAT, 0}, {"  ", 0, NUM_ENOTFLOAT, 2},
      {"  42", 42, 0, 4}, {"_x", 0, NUM_ENOTFLOAT, 0},
  };
  // clang-format on
  run_rows(rows);
}

TEST(IntegerGrammar, CastsTruncateOrRound)
{
  const LongRow rows[] = {
      {"(round)2.5", 3, 0, 10},
      {"(round)(-2.5)", -2, 0, 13},
      {"(round)-2.5", 0, NUM_ENOTFLOAT, 7},
      {"(long int)2.7", 2, 0, 13},
      {"(long int)(2.7*3)", 8, 0, 17},
      {"(long int)(-2.7)", -2, 0, 16},
      {"(long int)1e10", 0, NUM_EOVERFLOW, 14},
      {"(long int)2147483647", 2147483647L, 0, 20},
      {"(long int)(-2147483648)", -2147483647L - 1, 0, 23},
      {"(round)2147483647.4", 2147483647L, 0, 19},
      {"(round)2147483647.5", 0, NUM_EOVERFLOW, 19},
      {"(long int)(inf*10-inf*10)", 0, NUM_EOVERFLOW, 25},
      {"(long int)2.5_cm", 0, 0, 16},
      {"(long int)250_cm", 2, 0, 16},
      {"(long int)_x", 0, NUM_EUNDEFVAR, 11},
      {"(long int)log(0)", 0, NUM_EDOMAIN, 16},
  };
  run_rows(rows);
}

TEST(IntegerGrammar, FunctionsAndConstantsAreRounded)
{
  // clang-format off
  const LongRow rows[] = {
      {"sqrt(2)", 1, 0, 7},     {"pi()", 3, 0, 4},     {"gamma(5)", 24, 0, 8},
      {"round(-2.5)", -2, 0, 11}, {"km", 1000, 0, 2},  {"cm", 0, 0, 2},
      {"2*pi", 6, 0, 4},        {"inf", 0, NUM_EOVERFLOW, 3},
      {"foo(1)", 0, NUM_EFUNCTION, 0},
  };
  // clang-format on
  run_rows(rows);
}

TEST(IntegerGrammar, WordsCompareWithoutCase)
{
  const LongRow rows[] = {
      {"true+yes", 2, 0, 8},        {"TRUE", 1, 0, 4},
      {"False", 0, 0, 5},           {"no", 0, 0, 2},
      {"YES*7", 7, 0, 5},           {"nothing", 0, NUM_ESCAN, 2},
      {"tru", 0, NUM_ENOTFLOAT, 0},
  };
  run_rows(rows);
}

} // namespace
