/*
 * Tests of the expression machine: instruction semantics (tables of operands
 * and results, NaN and sign-bit cases, domain errors), the stack and its
 * register reuse, the registry order, variables, constant folding of
 * hand-built programs, instruction texts and the exact printouts.
 */
#include "numio.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <string>
#include <vector>

namespace {

using vabo_test::format;
using vabo_test::MemoryStream;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr int kError = -99; /* errval before a run, to see that it is set */

/* One instruction of a hand-built program. */
struct Ins {
  int command;
  int nargs;
  double value = 0;
  double *address = nullptr;
};

/* Appends the instructions to the program's main list. */
void append(NumProg *program, const std::vector<Ins> &list)
{
  for (const Ins &ins : list)
    EXPECT_EQ(numprog_append_instruction(program, 0, ins.command, ins.nargs,
                                         ins.value, ins.address, nullptr),
              0);
}

/* Every test starts and ends with an empty registry. */
class Machine : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_EQ(numprog_remove(nullptr), 0); }
  void TearDown() override { EXPECT_EQ(numprog_remove(nullptr), 0); }

  static NumProg *build(const char *name, const std::vector<Ins> &list)
  {
    NumProg *program = numprog_new(name);
    EXPECT_NE(program, nullptr);
    append(program, list);
    return program;
  }

  static std::vector<Ins> listing(const NumProg *program)
  {
    std::vector<Ins> out;
    for (const NumInstr *i = program->InstructionList; i; i = i->Next)
      out.push_back({i->Command, i->Nargs, i->Value, i->Address});
    return out;
  }
};

/* ---- two-operand instructions ----------------------------------------- */

struct BinaryCase {
  int command;
  double a;
  double b;
  double expected; /* ignored when errval != 0 */
  int errval;
};

TEST_F(Machine, TwoOperandInstructionsFollowTheirTable)
{
  const BinaryCase cases[] = {
      {MUL, 2.385, -4.1, 2.385 * -4.1, 0},
      {SUB, 7.25, 2.5, 4.75, 0},
      {ADD, 7.25, 2.5, 9.75, 0},
      {DIV, 7.5, 2.5, 3.0, 0},
      {DIV, 7.5, 0.0, 0, NUM_EDIVZERO},
      {DIV, 7.5, -0.0, 0, NUM_EDIVZERO},
      {FLOORDIV, 7, 2, 3, 0},
      {FLOORDIV, -7, 2, -4, 0},
      {FLOORDIV, 7, 0, 0, NUM_EDIVZERO},
      {REST, -7, 3, 2, 0},
      {REST, 7, -3, -2, 0},
      {REST, 7.5, 2, 1.5, 0},
      {REST, 7, 0, 0, NUM_EDIVZERO},
      {ATAN2, 1.0, -2.0, std::atan2(1.0, -2.0), 0},
      {EQU, 2.385, 2.385, 1, 0},
      {EQU, kNaN, kNaN, 0, 0},
      {NEQ, 2.385, 2.385, 0, 0},
      {NEQ, kNaN, kNaN, 1, 0},
      {LE, 2.385, 2.385, 1, 0},
      {LE, kNaN, 1, 0, 0},
      {LT, 1.5, 2.385, 1, 0},
      {LT, 2.385, 1.5, 0, 0},
      {LT, 1, kNaN, 0, 0},
      {GE, 2.385, 2.385, 1, 0},
      {GE, kNaN, 1, 0, 0},
      {GT, 2.385, 1.5, 1, 0},
      {GT, 1.5, 2.385, 0, 0},
      {GT, kNaN, 1, 0, 0},
      {AND, 2.385, -1, 1, 0},
      {AND, 2.385, 0, 0, 0},
      {AND, kNaN, kNaN, 1, 0},
      {OR, 0, 0, 0, 0},
      {OR, 0, -0.5, 1, 0},
      {OR, kNaN, 0, 1, 0},
      {FMIN, 2.385, 4.1, 2.385, 0},
      {FMIN, 4.1, 2.385, 2.385, 0},
      {FMIN, kNaN, 4.1, 4.1, 0},
      {FMIN, 4.1, kNaN, kNaN, 0},
      {FMAX, 2.385, 4.1, 4.1, 0},
      {FMAX, 4.1, 2.385, 4.1, 0},
      {FMAX, kNaN, 4.1, 4.1, 0},
      {FMAX, 4.1, kNaN, kNaN, 0},
  };
  for (const BinaryCase &c : cases) {
    NumProg *program =
        build("binary", {{PUSHVAL, 0, c.a}, {PUSHVAL, 0, c.b}, {c.command, 2}});
    int errval = kError;
    const int status = dpprogram_run(program, &errval);
    const std::string what = std::string(numprog_cmd2str(c.command)) + "(" +
                             std::to_string(c.a) + ", " + std::to_string(c.b) +
                             ")";
    EXPECT_EQ(status, 0) << what;
    EXPECT_EQ(errval, c.errval) << what;
    ASSERT_NE(program->CurrentAccumulator, nullptr) << what;
    EXPECT_EQ(program->CurrentAccumulator->Number, 1) << what;
    const double value = program->CurrentAccumulator->Value;
    if (c.errval != 0)
      EXPECT_EQ(value, c.a) << what << ": the left operand stays";
    else if (std::isnan(c.expected))
      EXPECT_TRUE(std::isnan(value)) << what;
    else
      EXPECT_EQ(value, c.expected) << what;
  }
}

struct PowCase {
  double base;
  double exponent;
  double expected;
  int errval;
};

TEST_F(Machine, PowerRulesApplyInOrder)
{
  const PowCase cases[] = {
      {0, 0, 1, 0},
      {kNaN, 0, 1, 0},
      {-2.385, 0, 1, 0},
      {0, -1, 0, NUM_EDOMAIN},
      {0, kNaN, 0, NUM_EDOMAIN},
      {0, 2.5, 0, 0},
      {-0.0, 3, 0, 0},
      {-8, 3, -512, 0},
      {-8, 0.5, 0, NUM_EDOMAIN},
      {-8, kNaN, 0, NUM_EDOMAIN},
      {-8, kInf, 0, NUM_EDOMAIN},
      {-2, -3, -0.125, 0},
      {2, -2, 0.25, 0},
      {2.385, 1.7, std::pow(2.385, 1.7), 0},
      {2.385, -1.7, 1.0 / std::pow(2.385, 1.7), 0},
      {kNaN, 2, kNaN, 0},
      {1.5, kNaN, kNaN, 0},
  };
  for (const PowCase &c : cases) {
    NumProg *program = build(
        "pow", {{PUSHVAL, 0, c.base}, {PUSHVAL, 0, c.exponent}, {POW, 2}});
    int errval = kError;
    EXPECT_EQ(dpprogram_run(program, &errval), 0);
    const std::string what = "pow(" + std::to_string(c.base) + ", " +
                             std::to_string(c.exponent) + ")";
    EXPECT_EQ(errval, c.errval) << what;
    const double value = program->CurrentAccumulator->Value;
    if (c.errval != 0) {
      EXPECT_TRUE(value == c.base || (std::isnan(value) && std::isnan(c.base)))
          << what << ": the base stays";
    } else if (std::isnan(c.expected)) {
      EXPECT_TRUE(std::isnan(value)) << what;
    } else {
      EXPECT_EQ(value, c.expected) << what;
      EXPECT_EQ(std::signbit(value), std::signbit(c.expected)) << what;
    }
  }
}

/* ---- one-operand instructions ----------------------------------------- */

struct UnaryCase {
  int command;
  double x;
  double expected;
  int errval;
};

TEST_F(Machine, OneOperandInstructionsFollowTheirTable)
{
  const UnaryCase cases[] = {
      {RAD, 180, 3.141592653589793, 0},
      {RAD, 2.385, 2.385 * 0.017453292519943295, 0},
      {DEG, 3.141592653589793, 180, 0},
      {SIN, 0.5, std::sin(0.5), 0},
      {COS, 0.5, std::cos(0.5), 0},
      {TAN, 0.5, std::tan(0.5), 0},
      {ASIN, 0.5, std::asin(0.5), 0},
      {ASIN, -1, -3.141592653589793 / 2, 0},
      {ASIN, 1.0000001, 0, NUM_EDOMAIN},
      {ASIN, kNaN, 0, NUM_EDOMAIN},
      {ACOS, -1, 3.141592653589793, 0},
      {ACOS, -1.5, 0, NUM_EDOMAIN},
      {ACOS, kNaN, 0, NUM_EDOMAIN},
      {ATAN, 1, 3.141592653589793 / 4, 0},
      {SINH, 0.75, std::sinh(0.75), 0},
      {COSH, 0.75, std::cosh(0.75), 0},
      {TANH, 0.75, std::tanh(0.75), 0},
      {FLOOR, -2.385, -3, 0},
      {CEIL, -2.385, -2, 0},
      {EXP, 1, std::exp(1.0), 0},
      {LOG, 2.385, std::log(2.385), 0},
      {LOG, 0, 0, NUM_EDOMAIN},
      {LOG, -2.385, 0, NUM_EDOMAIN},
      {LOG, kNaN, 0, NUM_EDOMAIN},
      {LOG10, 1000, 3, 0},
      {LOG10, 0, 0, NUM_EDOMAIN},
      {LOG10, kNaN, 0, NUM_EDOMAIN},
      {SQRT, 6.25, 2.5, 0},
      {SQRT, -1e-300, 0, NUM_EDOMAIN},
      {SQRT, kNaN, 0, NUM_EDOMAIN},
      {ROUND, 2.5, 3, 0},
      {ROUND, -2.5, -2, 0},
      {ROUND, -2.385, -2, 0},
      {GAMMA, 5, 24, 0},
      {NOT, 0, 1, 0},
      {NOT, -0.0, 1, 0},
      {NOT, 2.385, 0, 0},
      {NOT, kNaN, 0, 0},
      {DEGC2K, 26.85, 26.85 + 273.15, 0},
      {K2DEGC, 300, 300 - 273.15, 0},
      {DEGF2K, 212, 373.15, 0},
      {K2DEGF, 373.15, (373.15 - 273.15) * 1.8 + 32, 0},
      {DEGK2K, 2.385, 2.385, 0},
      {K2DEGK, -2.385, -2.385, 0},
      {DEGF2DEGC, 212, 100, 0},
      {DEGF2DEGC, 50, 18 * 0.5555555555555556, 0},
      {DEGC2DEGF, 100, 212, 0},
  };
  for (const UnaryCase &c : cases) {
    NumProg *program = build("unary", {{PUSHVAL, 0, c.x}, {c.command, 1}});
    int errval = kError;
    EXPECT_EQ(dpprogram_run(program, &errval), 0);
    const std::string what = std::string(numprog_cmd2str(c.command)) + "(" +
                             std::to_string(c.x) + ")";
    EXPECT_EQ(errval, c.errval) << what;
    const double value = program->CurrentAccumulator->Value;
    if (c.errval != 0)
      EXPECT_TRUE(value == c.x || (std::isnan(value) && std::isnan(c.x)))
          << what << ": the operand stays";
    else
      EXPECT_DOUBLE_EQ(value, c.expected) << what;
  }
}

TEST_F(Machine, TemperatureDegreeAndPiUseTheirExactConstants)
{
  struct ExactCase {
    const char *name;
    std::vector<Ins> program;
    double expected; /* bit for bit */
  };
  const ExactCase cases[] = {
      {"DEGF2K",
       {{PUSHVAL, 0, 98.6}, {DEGF2K, 1}},
       (98.6 - 32) * 0.5555555555555556 + 273.15},
      {"DEG", {{PUSHVAL, 0, 2.385}, {DEG, 1}}, 2.385 * 57.29577951308232},
      {"PI", {{PI, 0}}, 3.141592653589793},
  };
  for (const ExactCase &c : cases) {
    NumProg *program = build(c.name, c.program);
    int errval = kError;
    EXPECT_EQ(dpprogram_run(program, &errval), 0) << c.name;
    EXPECT_EQ(program->CurrentAccumulator->Value, c.expected) << c.name;
  }
}

TEST_F(Machine, NegAndFabsWorkOnTheSignBit)
{
  struct SignCase {
    int command;
    double x;
    bool negative;
  };
  const SignCase cases[] = {
      {NEG, 0.0, true},      {NEG, -0.0, false},   {NEG, 2.385, true},
      {NEG, kNaN, true},     {NEG, -kNaN, false},  {FABS, -0.0, false},
      {FABS, -2.385, false}, {FABS, -kNaN, false}, {FABS, -kInf, false},
  };
  for (const SignCase &c : cases) {
    NumProg *program = build("sign", {{PUSHVAL, 0, c.x}, {c.command, 1}});
    int errval = kError;
    EXPECT_EQ(dpprogram_run(program, &errval), 0);
    EXPECT_EQ(errval, 0);
    const double value = program->CurrentAccumulator->Value;
    EXPECT_EQ(std::signbit(value), c.negative)
        << numprog_cmd2str(c.command) << "(" << c.x << ")";
    EXPECT_EQ(std::isnan(value), std::isnan(c.x));
    if (!std::isnan(c.x)) {
      EXPECT_EQ(std::fabs(value), std::fabs(c.x));
    }
  }
}

TEST_F(Machine, IfChoosesByConditionAndNaNCountsAsTrue)
{
  struct IfCase {
    double c;
    double expected;
  };
  const IfCase cases[] = {
      {1, 2.385}, {0, -4.1}, {-0.0, -4.1}, {kNaN, 2.385}, {-7.5, 2.385}};
  for (const IfCase &c : cases) {
    NumProg *program = build(
        "if",
        {{PUSHVAL, 0, c.c}, {PUSHVAL, 0, 2.385}, {PUSHVAL, 0, -4.1}, {IF, 3}});
    int errval = kError;
    EXPECT_EQ(dpprogram_run(program, &errval), 0);
    EXPECT_EQ(errval, 0);
    EXPECT_EQ(program->CurrentAccumulator->Number, 1);
    EXPECT_EQ(program->CurrentAccumulator->Value, c.expected) << c.c;
  }
}

TEST_F(Machine, PushAddrReadsTheVariableAtRunTime)
{
  NumProg *program = numprog_new("addr");
  NumVar *x = nullptr;
  ASSERT_EQ(numprog_append_variable(program, "x", 1.0, &x), 0);
  append(program, {{PUSHADDR, 0, 1.0, &x->Value}, {PUSHVAL, 0, 1.5}, {MUL, 2}});
  int errval = kError;
  x->Value = 2.385;
  EXPECT_EQ(dpprogram_run(program, &errval), 0);
  EXPECT_EQ(program->CurrentAccumulator->Value, 2.385 * 1.5);
  x->Value = -4.1;
  EXPECT_EQ(dpprogram_run(program, &errval), 0);
  EXPECT_EQ(program->CurrentAccumulator->Value, -4.1 * 1.5);
}

/* ---- failures of the machine ------------------------------------------ */

/* Programs that cannot run: too few operands (16), an unknown instruction or
 * a PUSHADDR that points nowhere (15). */
TEST_F(Machine, BrokenProgramsFailWithTheirErrorValue)
{
  struct BrokenCase {
    const char *name;
    std::vector<Ins> program;
    int errval;
  };
  const BrokenCase cases[] = {
      {"ADD alone", {{ADD, 2}}, NUM_EREGISTERS},
      {"NEG alone", {{NEG, 1}}, NUM_EREGISTERS},
      {"ADD of one", {{PUSHVAL, 0, 2.385}, {ADD, 2}}, NUM_EREGISTERS},
      {"IF of two",
       {{PUSHVAL, 0, 1}, {PUSHVAL, 0, 2.385}, {IF, 3}},
       NUM_EREGISTERS},
      {"IF of one", {{PUSHVAL, 0, 1}, {IF, 3}}, NUM_EREGISTERS},
      {"command 0", {{PUSHVAL, 0, 1}, {0, 1}}, NUM_EINSTRUCTION},
      {"command 53", {{PUSHVAL, 0, 1}, {53, 1}}, NUM_EINSTRUCTION},
      {"command 99", {{PUSHVAL, 0, 1}, {99, 1}}, NUM_EINSTRUCTION},
      {"command -1", {{PUSHVAL, 0, 1}, {-1, 1}}, NUM_EINSTRUCTION},
      {"command INT_MIN",
       {{PUSHVAL, 0, 1}, {-2147483647 - 1, 1}},
       NUM_EINSTRUCTION},
      {"PUSHADDR of nothing", {{PUSHADDR, 0, 1.0, nullptr}}, NUM_EINSTRUCTION},
  };
  for (const BrokenCase &c : cases) {
    NumProg *program = build("broken", c.program);
    int errval = kError;
    EXPECT_EQ(dpprogram_run(program, &errval), -1) << c.name;
    EXPECT_EQ(errval, c.errval) << c.name;
  }
}

TEST_F(Machine, StepAndRunRejectMissingProgramsAndInstructions)
{
  int errval = kError;
  NumInstr ins{};
  ins.Command = PUSHVAL;
  EXPECT_EQ(dpprogram_step(nullptr, &ins, &errval), -1);
  EXPECT_EQ(errval, NUM_EPROGRAM);
  NumProg *program = numprog_new("step");
  EXPECT_EQ(dpprogram_step(program, nullptr, &errval), -1);
  EXPECT_EQ(errval, NUM_EINSTRUCTION);
  EXPECT_EQ(dpprogram_step(program, &ins, nullptr), 0);
  EXPECT_EQ(dpprogram_run(nullptr, &errval), -1);
  EXPECT_EQ(errval, NUM_EPROGRAM);
  EXPECT_EQ(dpprogram_run(program, &errval), -1);
  EXPECT_EQ(errval, NUM_EINSTRUCTION);
  EXPECT_EQ(dpprogram_run(program, nullptr), -1);
  EXPECT_EQ(dpprogram_compile(nullptr, &errval), -1);
  EXPECT_EQ(errval, NUM_EPROGRAM);
  EXPECT_EQ(dpprogram_compile(program, &errval), -1);
  EXPECT_EQ(errval, NUM_EINSTRUCTION);
  EXPECT_EQ(dpprogram_optimize(nullptr, &ins, &errval), nullptr);
  EXPECT_EQ(errval, NUM_EPROGRAM);
  EXPECT_EQ(dpprogram_optimize(program, nullptr, &errval), nullptr);
  EXPECT_EQ(errval, NUM_EINSTRUCTION);
}

TEST_F(Machine, RunStopsAtTheFirstError)
{
  NumProg *program = build(
      "stop",
      {{PUSHVAL, 0, 2.385}, {PUSHVAL, 0, 0}, {DIV, 2}, {PUSHVAL, 0, 4.1}});
  int errval = kError;
  EXPECT_EQ(dpprogram_run(program, &errval), 0);
  EXPECT_EQ(errval, NUM_EDIVZERO);
  EXPECT_EQ(program->CurrentAccumulator->Number, 1);
  EXPECT_EQ(program->CurrentAccumulator->Value, 2.385);
  EXPECT_EQ(num_prog_accumulators(program), 2);
}

/* ---- registers --------------------------------------------------------- */

TEST_F(Machine, RegistersAreNumberedLinkedAndReused)
{
  /* (1.5 + 2.25) * (4 - 0.5): depth 3 at most. */
  NumProg *program = build("regs", {{PUSHVAL, 0, 1.5},
                                    {PUSHVAL, 0, 2.25},
                                    {ADD, 2},
                                    {PUSHVAL, 0, 4},
                                    {PUSHVAL, 0, 0.5},
                                    {SUB, 2},
                                    {MUL, 2}});
  for (int run = 0; run < 3; ++run) {
    int errval = kError;
    EXPECT_EQ(dpprogram_run(program, &errval), 0);
    EXPECT_EQ(errval, 0);
    EXPECT_EQ(program->CurrentAccumulator->Value, 3.75 * 3.5);
    EXPECT_EQ(num_prog_accumulators(program), 3);
  }
  long number = 0;
  const NumAccu *previous = nullptr;
  for (const NumAccu *r = program->AccumulatorList; r; r = r->Next) {
    EXPECT_EQ(r->Number, ++number);
    EXPECT_EQ(r->Previous, previous);
    previous = r;
  }
  EXPECT_EQ(number, 3);
  EXPECT_EQ(program->CurrentAccumulator, program->AccumulatorList);
}

TEST_F(Machine, PushAndPopMoveTheCurrentRegister)
{
  NumProg *program = numprog_new("stack");
  EXPECT_EQ(numprog_down_accumulator(program), nullptr);
  NumAccu *first = numprog_up_accumulator(program, 2.385);
  NumAccu *second = numprog_up_accumulator(program, -4.1);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(second->Number, 2);
  EXPECT_EQ(numprog_down_accumulator(program), first);
  EXPECT_EQ(numprog_down_accumulator(program), nullptr);
  EXPECT_EQ(program->CurrentAccumulator, nullptr);
  EXPECT_EQ(numprog_down_accumulator(program), nullptr);
  /* Pushing again reuses the bottom register. */
  EXPECT_EQ(numprog_up_accumulator(program, 7.5), first);
  EXPECT_EQ(first->Value, 7.5);
  EXPECT_EQ(num_prog_accumulators(program), 2);
  EXPECT_EQ(numprog_up_accumulator(nullptr, 1), nullptr);
  EXPECT_EQ(numprog_down_accumulator(nullptr), nullptr);
  EXPECT_EQ(numprog_free_accumulator_list(program), 0);
  EXPECT_EQ(num_prog_accumulators(program), 0);
  EXPECT_EQ(program->CurrentAccumulator, nullptr);
}

/* ---- registry ---------------------------------------------------------- */

std::vector<std::string> registry_names()
{
  std::vector<std::string> names;
  const NumProg *previous = nullptr;
  for (const NumProg *p = NumProgRoot; p; p = p->Next) {
    EXPECT_EQ(p->Previous, previous);
    names.push_back(p->Name);
    previous = p;
  }
  return names;
}

TEST_F(Machine, RegistryKeepsNamesInDescendingByteOrder)
{
  for (const char *name : {"b", "a", "c"})
    ASSERT_NE(numprog_new(name), nullptr);
  EXPECT_EQ(registry_names(), (std::vector<std::string>{"c", "b", "a"}));
  EXPECT_EQ(NUMPROG_init, 1);

  ASSERT_EQ(numprog_remove(nullptr), 0);
  for (const char *name : {"ab", "B", "\xc3\xa9", "a", "z", ""})
    ASSERT_NE(numprog_new(name), nullptr);
  EXPECT_EQ(registry_names(),
            (std::vector<std::string>{"\xc3\xa9", "z", "ab", "a", "B", ""}));
}

TEST_F(Machine, InsertReturnsTheProgramAlreadyRegistered)
{
  NumProg *first = nullptr;
  ASSERT_EQ(numprog_insert("calc", &first), 0);
  ASSERT_NE(first, nullptr);
  numprog_append_instruction(first, 0, PUSHVAL, 0, 2.385, nullptr, nullptr);
  NumProg *again = nullptr;
  ASSERT_EQ(numprog_insert("calc", &again), 0);
  EXPECT_EQ(again, first);
  EXPECT_EQ(num_prog_instructions(again, 0), 1);
  NumProg *found = nullptr;
  EXPECT_EQ(numprog_search("calc", &found), 0);
  EXPECT_EQ(found, first);
  EXPECT_EQ(numprog_search("calculator", &found), 0);
  EXPECT_EQ(found, nullptr);
  EXPECT_EQ(numprog_insert("other", nullptr), 0);
  EXPECT_EQ(registry_names(), (std::vector<std::string>{"other", "calc"}));
}

TEST_F(Machine, NewDiscardsTheOldProgramCompletely)
{
  NumProg *old = numprog_new("str2double");
  NumVar *x = nullptr;
  numprog_append_variable(old, "x", 1.0, &x);
  append(old, {{PUSHVAL, 0, 2}, {PUSHADDR, 0, 1, &x->Value}, {MUL, 2}});
  int errval = kError;
  ASSERT_EQ(dpprogram_compile(old, &errval), 0);
  ASSERT_EQ(dpprogram_run(old, &errval), 0);

  NumProg *fresh = numprog_new("str2double");
  ASSERT_NE(fresh, nullptr);
  EXPECT_STREQ(fresh->Name, "str2double");
  EXPECT_EQ(fresh->VariableList, nullptr);
  EXPECT_EQ(fresh->AccumulatorList, nullptr);
  EXPECT_EQ(fresh->CurrentAccumulator, nullptr);
  EXPECT_EQ(fresh->InstructionList, nullptr);
  EXPECT_EQ(fresh->CompiledList, nullptr);
  EXPECT_EQ(registry_names(), (std::vector<std::string>{"str2double"}));
}

TEST_F(Machine, FreeRefusesAProgramOutsideTheRegistry)
{
  NumProg stray{};
  EXPECT_EQ(numprog_free(&stray), -1);
  EXPECT_EQ(numprog_free(nullptr), 0);
  NumProg *program = numprog_new("kept");
  EXPECT_EQ(numprog_free(program), 0);
  EXPECT_EQ(NumProgRoot, nullptr);
}

TEST_F(Machine, RemoveFreesByNameOrEverything)
{
  for (const char *name : {"b", "a", "c"}) numprog_new(name);
  EXPECT_EQ(numprog_remove("b"), 0);
  EXPECT_EQ(registry_names(), (std::vector<std::string>{"c", "a"}));
  EXPECT_EQ(numprog_remove("missing"), 0);
  EXPECT_EQ(numprog_remove(nullptr), 0);
  EXPECT_EQ(NumProgRoot, nullptr);
}

TEST_F(Machine, NullNamesAreRejected)
{
  NumProg *program = reinterpret_cast<NumProg *>(&program);
  EXPECT_EQ(numprog_insert(nullptr, &program), -1);
  EXPECT_EQ(program, nullptr);
  program = reinterpret_cast<NumProg *>(&program);
  EXPECT_EQ(numprog_search(nullptr, &program), -1);
  EXPECT_EQ(program, nullptr);
  EXPECT_EQ(numprog_new(nullptr), nullptr);
  EXPECT_EQ(NumProgRoot, nullptr);
}

/* ---- variables --------------------------------------------------------- */

TEST_F(Machine, VariableNamesAreALetterThenLettersAndDigits)
{
  struct NameCase {
    const char *name;
    int status;
  };
  const NameCase cases[] = {
      {"x", 0},    {"x2y3", 0}, {"Theta", 0}, {"", 0},          {"2x", -1},
      {"x_y", -1}, {"x y", -1}, {"_x", -1},   {"\xc3\xa9", -1}, {nullptr, -1}};
  for (const NameCase &c : cases)
    EXPECT_EQ(numprog_checkvar(c.name), c.status)
        << (c.name ? c.name : "(null)");
}

TEST_F(Machine, AppendVariableRejectsDuplicatesAndBadNames)
{
  NumProg *program = numprog_new("vars");
  NumVar *x = nullptr;
  ASSERT_EQ(numprog_append_variable(program, "x", 2.385, &x), 0);
  EXPECT_EQ(x->Value, 2.385);
  EXPECT_EQ(x->Used, 0);
  NumVar *y = nullptr;
  ASSERT_EQ(numprog_append_variable(program, "y", -4.1, &y), 0);
  EXPECT_EQ(y->Previous, x);
  EXPECT_EQ(x->Next, y);

  NumVar *again = nullptr;
  EXPECT_EQ(numprog_append_variable(program, "x", 7.0, &again), -1);
  EXPECT_EQ(again, x);
  EXPECT_EQ(x->Value, 2.385);
  EXPECT_EQ(numprog_append_variable(program, "9lives", 1, &again), -1);
  EXPECT_EQ(again, nullptr);
  EXPECT_EQ(numprog_append_variable(program, nullptr, 1, &again), -1);
  EXPECT_EQ(numprog_append_variable(nullptr, "z", 1, &again), 0);
  EXPECT_EQ(again, nullptr);
  EXPECT_EQ(num_prog_variables(program), 2);
  EXPECT_EQ(num_prog_variable_size(program), 2 * sizeof(NumVar));

  EXPECT_EQ(numprog_free_variable_list(program), 0);
  EXPECT_EQ(num_prog_variables(program), 0);
  EXPECT_EQ(numprog_free_variable_list(nullptr), 0);
}

TEST_F(Machine, PrefixSearchTakesTheFirstDeclaredMatch)
{
  NumProg *program = numprog_new("vars");
  NumVar *x = nullptr;
  NumVar *xy = nullptr;
  numprog_append_variable(program, "x", 1, &x);
  numprog_append_variable(program, "xy", 1, &xy);
  NumVar *found = nullptr;
  EXPECT_EQ(numprog_search_variable(program, "xy", &found, 1), 0);
  EXPECT_EQ(found, x);
  EXPECT_EQ(numprog_search_variable(program, "xy", &found, 0), 0);
  EXPECT_EQ(found, xy);
  EXPECT_EQ(numprog_search_variable(program, "xyz", &found, 0), -1);
  EXPECT_EQ(found, nullptr);
  EXPECT_EQ(numprog_search_variable(program, "yx", &found, 1), -1);
  EXPECT_EQ(numprog_search_variable(program, "x", &found, 7), 0);
  EXPECT_EQ(found, x);
  EXPECT_EQ(numprog_search_variable(nullptr, "x", &found, 0), -1);
  EXPECT_EQ(numprog_search_variable(program, nullptr, &found, 0), -1);

  NumProg *other = numprog_new("vars2");
  numprog_append_variable(other, "xy", 1, &xy);
  numprog_append_variable(other, "x", 1, &x);
  EXPECT_EQ(numprog_search_variable(other, "xy+1", &found, 1), 0);
  EXPECT_EQ(found, xy);
}

/* ---- instruction lists ------------------------------------------------- */

TEST_F(Machine, InstructionListsAppendAndCount)
{
  NumProg *program = numprog_new("lists");
  NumInstr *ins = nullptr;
  EXPECT_EQ(numprog_append_instruction(program, 2, ADD, 2, 0, nullptr, &ins),
            -1);
  EXPECT_EQ(ins, nullptr);
  EXPECT_EQ(numprog_append_instruction(nullptr, 0, ADD, 2, 0, nullptr, &ins),
            0);
  EXPECT_EQ(ins, nullptr);
  for (int i = 0; i < 3; ++i)
    numprog_append_instruction(program, 0, PUSHVAL, 0, i, nullptr, &ins);
  EXPECT_EQ(ins->Value, 2);
  EXPECT_EQ(num_prog_instructions(program, 0), 3);
  EXPECT_EQ(num_prog_instructions(program, 1), 0);
  EXPECT_EQ(num_prog_instructions(program, 2), 3);
  numprog_append_instruction(program, 1, NEG, 1, 0, nullptr, nullptr);
  EXPECT_EQ(num_prog_instructions(program, 2), 1);
  EXPECT_EQ(num_prog_instructions(program, 3), 0);
  EXPECT_EQ(num_prog_instructions(nullptr, 0), 0);
  EXPECT_EQ(num_prog_instruction_size(program, 0), 3 * sizeof(NumInstr));
  EXPECT_EQ(num_prog_instruction_size(program, 1), sizeof(NumInstr));
  EXPECT_EQ(num_prog_instruction_size(program, 5), 0u);
  EXPECT_EQ(numprog_free_instruction_list(program, 2), -1);
  EXPECT_EQ(numprog_free_instruction_list(nullptr, 0), 0);
  EXPECT_EQ(numprog_free_instruction_list(program, 1), 0);
  EXPECT_EQ(num_prog_instructions(program, 1), 0);
}

TEST_F(Machine, AppendsLandAtTheEndOfTheRightList)
{
  NumProg *a = numprog_new("a");
  NumProg *b = numprog_new("b");
  numprog_append_instruction(a, 0, PUSHVAL, 0, 1, nullptr, nullptr);
  numprog_append_instruction(b, 0, PUSHVAL, 0, 10, nullptr, nullptr);
  numprog_append_instruction(a, 1, PUSHVAL, 0, 100, nullptr, nullptr);
  numprog_append_instruction(a, 0, PUSHVAL, 0, 2, nullptr, nullptr);
  numprog_append_instruction(b, 0, PUSHVAL, 0, 20, nullptr, nullptr);
  numprog_append_instruction(a, 0, ADD, 2, 0, nullptr, nullptr);
  EXPECT_EQ(num_prog_instructions(a, 0), 3);
  EXPECT_EQ(num_prog_instructions(a, 1), 1);
  EXPECT_EQ(num_prog_instructions(b, 0), 2);
  EXPECT_EQ(a->InstructionList->Next->Value, 2);
  EXPECT_EQ(a->InstructionList->Next->Previous, a->InstructionList);

  /* After a list is released, appending starts a new one. */
  numprog_free_instruction_list(a, 0);
  numprog_append_instruction(a, 0, PUSHVAL, 0, 3, nullptr, nullptr);
  EXPECT_EQ(num_prog_instructions(a, 0), 1);
  EXPECT_EQ(a->InstructionList->Previous, nullptr);

  /* After compiling, appending continues the compiled list. */
  numprog_free_instruction_list(a, 1);
  int errval = kError;
  ASSERT_EQ(dpprogram_compile(a, &errval), 0);
  numprog_append_instruction(a, 0, PUSHVAL, 0, 4, nullptr, nullptr);
  numprog_append_instruction(a, 0, ADD, 2, 0, nullptr, nullptr);
  EXPECT_EQ(num_prog_instructions(a, 0), 3);
  EXPECT_EQ(dpprogram_run(a, &errval), 0);
  EXPECT_EQ(a->CurrentAccumulator->Value, 7);

  /* A program freed and made again under the same name starts empty. */
  numprog_free(b);
  b = numprog_new("b");
  numprog_append_instruction(b, 0, PUSHVAL, 0, 30, nullptr, nullptr);
  EXPECT_EQ(num_prog_instructions(b, 0), 1);
}

TEST_F(Machine, LongProgramsBuildAndRun)
{
  /* 1 + 1 + ... + 1 with 200000 terms. */
  constexpr int kTerms = 200000;
  NumProg *program = numprog_new("long");
  numprog_append_instruction(program, 0, PUSHVAL, 0, 1, nullptr, nullptr);
  for (int i = 1; i < kTerms; ++i) {
    numprog_append_instruction(program, 0, PUSHVAL, 0, 1, nullptr, nullptr);
    numprog_append_instruction(program, 0, ADD, 2, 0, nullptr, nullptr);
  }
  EXPECT_EQ(num_prog_instructions(program, 0), 2 * kTerms - 1);
  int errval = kError;
  EXPECT_EQ(dpprogram_run(program, &errval), 0);
  EXPECT_EQ(program->CurrentAccumulator->Value, kTerms);
  EXPECT_EQ(dpprogram_compile(program, &errval), 0);
  EXPECT_EQ(num_prog_instructions(program, 0), 1);
  EXPECT_EQ(program->InstructionList->Value, kTerms);
}

/* ---- constant folding -------------------------------------------------- */

void expect_listing(const std::vector<Ins> &got, const std::vector<Ins> &want)
{
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < got.size(); ++i) {
    EXPECT_EQ(got[i].command, want[i].command) << "instruction " << i;
    EXPECT_EQ(got[i].nargs, want[i].nargs) << "instruction " << i;
    EXPECT_EQ(got[i].value, want[i].value) << "instruction " << i;
    EXPECT_EQ(got[i].address, want[i].address) << "instruction " << i;
  }
}

/* Compiling folds each run of constant instructions into one push and keeps
 * what depends on a variable; the result computes what the source did. */
TEST_F(Machine, CompileFoldsConstantsAndKeepsWhatDependsOnAVariable)
{
  NumProg *program = numprog_new("fold");
  NumVar *x = nullptr;
  NumVar *y = nullptr;
  ASSERT_EQ(numprog_append_variable(program, "x", 1.0, &x), 0);
  ASSERT_EQ(numprog_append_variable(program, "y", 1.0, &y), 0);
  double *ax = &x->Value;
  double *ay = &y->Value;
  struct FoldCase {
    const char *name;
    std::vector<Ins> source;
    std::vector<Ins> folded; /* empty: the source unchanged */
    double x, y;
    double expected;
  };
  // clang-format off
  const FoldCase cases[] = {
      {"2*3+4",
       {{PUSHVAL, 0, 2}, {PUSHVAL, 0, 3}, {MUL, 2}, {PUSHVAL, 0, 4}, {ADD, 2}},
       {{PUSHVAL, 0, 10}}, 0, 0, 10},
      {"(2*3)+_x",
       {{PUSHVAL, 0, 2}, {PUSHVAL, 0, 3}, {MUL, 2}, {PUSHADDR, 0, 1.0, ax},
        {ADD, 2}},
       {{PUSHVAL, 0, 6}, {PUSHADDR, 0, 1.0, ax}, {ADD, 2}}, 2.385, 0,
       6 + 2.385},
      {"_x*(2+3)",
       {{PUSHADDR, 0, 1.0, ax}, {PUSHVAL, 0, 2}, {PUSHVAL, 0, 3}, {ADD, 2},
        {MUL, 2}},
       {{PUSHADDR, 0, 1.0, ax}, {PUSHVAL, 0, 5}, {MUL, 2}}, -4.1, 0, -4.1 * 5},
      {"_x*_y+1",
       {{PUSHADDR, 0, 1.0, ax}, {PUSHADDR, 0, 1.0, ay}, {MUL, 2},
        {PUSHVAL, 0, 1}, {ADD, 2}},
       {}, 2, 3, 7},
      /* Two values left: a program ending in a variable push. */
      {"3, _x", {{PUSHVAL, 0, 3}, {PUSHADDR, 0, 2.385, ax}}, {}, 2.385, 0,
       2.385},
  };
  // clang-format on
  for (const FoldCase &c : cases) {
    SCOPED_TRACE(c.name);
    numprog_free_instruction_list(program, 0);
    append(program, c.source);
    int errval = kError;
    EXPECT_EQ(dpprogram_compile(program, &errval), 0);
    EXPECT_EQ(errval, 0);
    EXPECT_EQ(program->CompiledList, nullptr);
    expect_listing(listing(program), c.folded.empty() ? c.source : c.folded);
    x->Value = c.x;
    y->Value = c.y;
    EXPECT_EQ(dpprogram_run(program, &errval), 0);
    EXPECT_EQ(program->CurrentAccumulator->Value, c.expected);
  }
}

TEST_F(Machine, CompileReportsADomainErrorAndKeepsTheProgram)
{
  /* log(0)+_x */
  NumProg *program = numprog_new("fold");
  NumVar *x = nullptr;
  numprog_append_variable(program, "x", 1.0, &x);
  append(program,
         {{PUSHVAL, 0, 0}, {LOG, 1}, {PUSHADDR, 0, 1, &x->Value}, {ADD, 2}});
  int errval = kError;
  EXPECT_EQ(dpprogram_compile(program, &errval), 0);
  EXPECT_EQ(errval, NUM_EDOMAIN);
  EXPECT_EQ(num_prog_instructions(program, 0), 4);
  EXPECT_EQ(program->CompiledList, nullptr);

  /* Folding that fails after something was emitted leaves no scratch list,
   * so a later compilation of the repaired program starts clean. */
  numprog_free_instruction_list(program, 0);
  append(program, {{PUSHVAL, 0, 2},
                   {PUSHADDR, 0, 1, &x->Value},
                   {ADD, 2},
                   {PUSHVAL, 0, 1}});
  NumInstr *divisor = nullptr;
  numprog_append_instruction(program, 0, PUSHVAL, 0, 0, nullptr, &divisor);
  numprog_append_instruction(program, 0, DIV, 2, 0, nullptr, nullptr);
  EXPECT_EQ(dpprogram_compile(program, &errval), 0);
  EXPECT_EQ(errval, NUM_EDIVZERO);
  EXPECT_EQ(program->CompiledList, nullptr);
  EXPECT_EQ(num_prog_instructions(program, 2), 6);
  divisor->Value = 4;
  EXPECT_EQ(dpprogram_compile(program, &errval), 0);
  EXPECT_EQ(errval, 0);
  expect_listing(listing(program), {{PUSHVAL, 0, 2},
                                    {PUSHADDR, 0, 1, &x->Value},
                                    {ADD, 2},
                                    {PUSHVAL, 0, 0.25}});
}

TEST_F(Machine, OptimizeStopsAtAVariableAndMirrorsItsPush)
{
  NumProg *program = numprog_new("opt");
  NumVar *x = nullptr;
  numprog_append_variable(program, "x", 2.385, &x);
  NumInstr *first = nullptr;
  NumInstr *addr = nullptr;
  numprog_append_instruction(program, 0, PUSHVAL, 0, 1.5, nullptr, &first);
  numprog_append_instruction(program, 0, PUSHADDR, 0, 2.385, &x->Value, &addr);
  int errval = kError;
  EXPECT_EQ(dpprogram_optimize(program, first, &errval), addr);
  EXPECT_EQ(errval, 0);
  EXPECT_EQ(num_prog_instructions(program, 1), 2);
  EXPECT_EQ(program->CurrentAccumulator->Number, 2);
  EXPECT_EQ(program->CurrentAccumulator->Value, 2.385);
  numprog_free_instruction_list(program, 1);
}

/* ---- texts ------------------------------------------------------------- */

TEST_F(Machine, CommandNamesCoverEveryInstruction)
{
  EXPECT_STREQ(numprog_cmd2str(0), "Invalid");
  EXPECT_STREQ(numprog_cmd2str(PUSHVAL), "PUSHVAL");
  EXPECT_STREQ(numprog_cmd2str(FLOORDIV), "FLOORDIV");
  EXPECT_STREQ(numprog_cmd2str(LOG10), "LOG10");
  EXPECT_STREQ(numprog_cmd2str(DEGC2DEGF), "DEGC2DEGF");
  EXPECT_STREQ(numprog_cmd2str(53), "Invalid");
  EXPECT_STREQ(numprog_cmd2str(-1), "Invalid");
  EXPECT_EQ(NumCommandStrings[EndNumCommand], nullptr);
  for (int c = 0; c < EndNumCommand; ++c)
    EXPECT_NE(NumCommandStrings[c], nullptr) << c;
  EXPECT_EQ(NUMIO_debug, 0);
}

TEST_F(Machine, InstructionTextsHaveFixedColumns)
{
  char buffer[128];
  NumInstr ins{};
  ins.Command = PUSHVAL;
  ins.Value = 2.385;
  EXPECT_STREQ(numprog_ins2str(buffer, sizeof buffer, &ins),
               "   PUSHVAL       2.385");
  ins.Command = MUL;
  ins.Nargs = 2;
  EXPECT_STREQ(numprog_ins2str(buffer, sizeof buffer, &ins),
               "       MUL             (2 args)");
  ins.Command = 77;
  ins.Nargs = 1;
  EXPECT_STREQ(numprog_ins2str(buffer, sizeof buffer, &ins),
               "   Invalid             (1 args)");
  double cell = 0;
  ins.Command = PUSHADDR;
  ins.Address = &cell;
  EXPECT_EQ(std::string(numprog_ins2str(buffer, sizeof buffer, &ins)),
            "  PUSHADDR *" + format("%10p", &cell));

  ins.Command = PUSHVAL;
  char small[50];
  std::memset(small, 'x', sizeof small);
  EXPECT_STREQ(numprog_ins2str(small, 49, &ins), "");
  EXPECT_STREQ(numprog_ins2str(small, 50, &ins), "   PUSHVAL       2.385");
  EXPECT_STREQ(numprog_ins2str(buffer, sizeof buffer, nullptr), "");
  EXPECT_EQ(numprog_ins2str(nullptr, 128, &ins), nullptr);
}

TEST_F(Machine, StringHelpers)
{
  char *copy = numprog_newstr("2.385_cm");
  ASSERT_NE(copy, nullptr);
  EXPECT_STREQ(copy, "2.385_cm");
  std::free(copy);
  copy = num_newstr("");
  ASSERT_NE(copy, nullptr);
  EXPECT_STREQ(copy, "");
  std::free(copy);
  EXPECT_EQ(numprog_newstr(nullptr), nullptr);
  EXPECT_EQ(num_newstr(nullptr), nullptr);

  EXPECT_EQ(numprog_is_empty(nullptr), 1);
  EXPECT_EQ(numprog_is_empty(""), 1);
  EXPECT_EQ(numprog_is_empty(" \t\r\n\f\v"), 1);
  EXPECT_EQ(numprog_is_empty("  x "), 0);
  EXPECT_EQ(numprog_is_empty("\xa0"), 0);

  MemoryStream capture;
  print_spaces(capture.file(), 3);
  print_spaces(capture.file(), 0);
  print_spaces(capture.file(), -5);
  print_spaces(nullptr, 3);
  EXPECT_EQ(capture.text(), "   ");
}

TEST_F(Machine, SizesAddUpRecordsAndName)
{
  EXPECT_EQ(num_prog_size(nullptr), 0u);
  EXPECT_EQ(num_prog_size_all(), 0u);
  NumProg *program =
      build("sizes", {{PUSHVAL, 0, 1}, {PUSHVAL, 0, 2}, {ADD, 2}});
  numprog_append_variable(program, "longname", 1, nullptr);
  int errval = kError;
  dpprogram_run(program, &errval);
  const size_t expected = sizeof(NumProg) + 6 + sizeof(NumVar) +
                          2 * sizeof(NumAccu) + 3 * sizeof(NumInstr);
  EXPECT_EQ(num_prog_size(program), expected);
  NumProg *other = numprog_new("x");
  EXPECT_EQ(num_prog_size_all(), expected + sizeof(NumProg) + 2);
  EXPECT_EQ(num_prog_size(other), sizeof(NumProg) + 2);
}

/* ---- printouts --------------------------------------------------------- */

/* Separators of the verbose printout: between records, around a program. */
const std::string kSep =
    "  -   -   -   -   -   -   -   -   -   -   -   -   -   -   -\n";
const std::string kProgramSep =
    " - - - - - - - - - - - - - - - - - - - - - - - - - - - - -\n";

/* calc: variable x = 2.385, program _x*1.5, run once. */
NumProg *make_calc(NumVar **px)
{
  NumProg *program = numprog_new("calc");
  numprog_append_variable(program, "x", 2.385, px);
  append(program,
         {{PUSHADDR, 0, 2.385, &(*px)->Value}, {PUSHVAL, 0, 1.5}, {MUL, 2}});
  int errval = kError;
  dpprogram_run(program, &errval);
  return program;
}

TEST_F(Machine, PrintoutNonVerbose)
{
  NumVar *x = nullptr;
  NumProg *program = make_calc(&x);
  MemoryStream capture;
  EXPECT_EQ(num_prog_print_list(capture.file(), program, 2, 0), 0);
  // clang-format off
  const std::string expected =
      " Program             = 'calc'\n"
      "  'x' = 2.385 = *" + format("%p", &x->Value) + "\n"
      "  InstructionList\n"
      "    PUSHADDR *" + format("%10p", &x->Value) + "\n"
      "     PUSHVAL         1.5\n"
      "         MUL             (2 args)\n"
      "  Accumulator #1 = 3.5775\n"
      "  Accumulator #2 = 1.5\n";
  // clang-format on
  EXPECT_EQ(capture.text(), expected);
}

TEST_F(Machine, PrintoutLevelsCutTheDepth)
{
  NumVar *x = nullptr;
  NumProg *program = make_calc(&x);
  numprog_new("aux");
  MemoryStream capture;
  EXPECT_EQ(num_prog_print_list(capture.file(), program, 0, 0), 0);
  EXPECT_EQ(num_prog_print_list(capture.file(), program, -3, 1), 0);
  EXPECT_EQ(capture.text(), "");
  EXPECT_EQ(num_prog_print_list(capture.file(), nullptr, 1, 0), 0);
  EXPECT_EQ(capture.text(), " Program             = 'calc'\n"
                            " Program             = 'aux'\n");
  EXPECT_EQ(num_prog_print_instruction_list(capture.file(), program, 2, 5, 0),
            -1);
  EXPECT_EQ(num_prog_print_list(nullptr, program, 2, 0), -1);
  EXPECT_EQ(num_prog_print_variable_list(capture.file(), nullptr, 2, 1), 0);
}

TEST_F(Machine, PrintoutVerbose)
{
  NumVar *x = nullptr;
  NumProg *program = make_calc(&x);
  x->Used = 3;
  const std::string addr = "  PUSHADDR *" + format("%10p", &x->Value);
  MemoryStream capture;
  EXPECT_EQ(num_prog_print_list(capture.file(), program, 2, 1), 0);
  const std::string expected =
      kProgramSep + " Name                = calc\n" + kSep +
      "  Variable            = x\n"
      "  Value               = 2.385\n"
      "  Used                = 3\n"
      "  Previous variable = (no previous variable)\n"
      "  Next variable     = (no next variable)\n" +
      kSep + kSep +
      "  Accumulator          = #1\n"
      "  Value                = 3.5775\n"
      "  Previous accumulator = (no previous accumulator)\n"
      "  Next accumulator     = #2\n" +
      kSep +
      "  Accumulator          = #2\n"
      "  Value                = 1.5\n"
      "  Previous accumulator = #1\n"
      "  Next accumulator     = (no next accumulator)\n" +
      kSep + "  InstructionList\n" + kSep + "  Command              = " + addr +
      "\n"
      "  Previous instruction = (no previous instruction)\n"
      "  Next instruction     = 1\n" +
      kSep +
      "  Command              =    PUSHVAL         1.5\n"
      "  Previous instruction = " +
      addr +
      "\n"
      "  Next instruction     = 4\n" +
      kSep +
      "  Command              =        MUL             (2 args)\n"
      "  Previous instruction =    PUSHVAL         1.5\n"
      "  Next instruction     = (no next instruction)\n" +
      kSep +
      " Previous program = (no previous program)\n"
      " Next program     = (no next program)\n"
      " CurrentAccumulator  = #1 (Value = 3.5775)\n" +
      kProgramSep;
  EXPECT_EQ(capture.text(), expected);
}

TEST_F(Machine, PrintoutVerboseNamesNeighbours)
{
  numprog_new("b");
  numprog_new("a");
  numprog_new("c");
  NumProg *b = nullptr;
  numprog_search("b", &b);

  MemoryStream capture;
  EXPECT_EQ(num_prog_print_list(capture.file(), b, 2, 1), 0);
  EXPECT_EQ(capture.text(),
            kProgramSep + " Name                = b\n" + kSep + kSep +
                "  InstructionList\n" + kSep +
                " Previous program = c\n"
                " Next program     = a\n"
                " CurrentAccumulator  = (no current accumulator)\n" +
                kProgramSep);
}

} // namespace
