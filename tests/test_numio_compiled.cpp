/*
 * Tests of compiled formulas with variables: the folded instruction lists,
 * variable declaration and prefix resolution, use counts, run-time and
 * compile-time errors, the registry after success and failure, and the
 * example program expr_table as a user runs it.
 */
#include "numio.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace {

/* Expected shape of one compiled instruction. */
struct Instr {
  int command;
  int nargs;
  double value;         /* PUSHVAL only */
  const char *variable; /* PUSHADDR only: the variable it points at */
};

NumVar *find_variable(NumProg *program, const char *key)
{
  for (NumVar *v = program->VariableList; v; v = v->Next)
    if (std::string(v->Key) == key) return v;
  return nullptr;
}

void expect_instructions(NumProg *program, const std::vector<Instr> &expected)
{
  ASSERT_NE(program, nullptr);
  EXPECT_EQ(program->CompiledList, nullptr);
  const NumInstr *ins = program->InstructionList;
  size_t i = 0;
  for (const Instr &want : expected) {
    ASSERT_NE(ins, nullptr) << "list ends before instruction " << i;
    EXPECT_EQ(ins->Command, want.command) << "instruction " << i;
    EXPECT_EQ(ins->Nargs, want.nargs) << "instruction " << i;
    if (want.command == PUSHVAL) {
      EXPECT_EQ(ins->Value, want.value) << "instruction " << i;
    }
    if (want.command == PUSHADDR) {
      NumVar *v = find_variable(program, want.variable);
      ASSERT_NE(v, nullptr);
      EXPECT_EQ(ins->Address, &v->Value) << "instruction " << i;
    }
    ins = ins->Next;
    ++i;
  }
  EXPECT_EQ(ins, nullptr) << "list longer than " << i;
}

/* Every test leaves the registry as it found it: empty. */
class Compiled : public testing::Test {
protected:
  void TearDown() override
  {
    EXPECT_EQ(NumProgRoot, nullptr) << "program left in the registry";
    numprog_remove(nullptr);
  }
};

/* One run of a compiled formula: the variables' values and what comes out. */
struct RunCase {
  double x, y;
  double value;
  int errval;
};

/* Formulas that compile: the end of the reading, the folded instructions,
 * how often each variable is used and the values of some runs. */
TEST_F(Compiled, FormulasCompileToTheirFoldedListsAndRun)
{
  struct FormulaCase {
    const char *formula;
    std::vector<const char *> variables;
    long tail;
    std::vector<Instr> instructions; /* empty: not checked */
    std::vector<int> uses;           /* empty: not checked */
    std::vector<RunCase> runs;
  };
  // clang-format off
  const FormulaCase cases[] = {
      {"_x*_y+1", {"x", "y"}, 7,
       {{PUSHADDR, 0, 0, "x"}, {PUSHADDR, 0, 0, "y"}, {MUL, 2, 0, nullptr},
        {PUSHVAL, 0, 1, nullptr}, {ADD, 2, 0, nullptr}},
       {1, 1},
       {{2.0, 3.0, 7.0, 0}, {0.0, 5.0, 1.0, 0},
        {2.385, -1.75, 2.385 * -1.75 + 1, 0}}},
      /* Constant parts are folded before and after the variable. */
      {"2*3+_x", {"x"}, 6,
       {{PUSHVAL, 0, 6, nullptr}, {PUSHADDR, 0, 0, "x"}, {ADD, 2, 0, nullptr}},
       {1}, {{4.625, 0, 10.625, 0}}},
      {"_x*(2+3)_cm", {"x"}, 11,
       {{PUSHADDR, 0, 0, "x"}, {PUSHVAL, 0, 5 * 0.01, nullptr},
        {MUL, 2, 0, nullptr}},
       {}, {{2.385, 0, 2.385 * (5 * 0.01), 0}}},
      {"2*3+4", {}, 5, {{PUSHVAL, 0, 10, nullptr}}, {}, {{0, 0, 10.0, 0}}},
      /* A reference takes the first declared variable that prefixes it. */
      {"_xy", {"x", "xy"}, 2, {{PUSHADDR, 0, 0, "x"}}, {1, 0},
       {{1.25, 7.5, 1.25, 0}}},
      {"_xy", {"xy", "x"}, 3, {{PUSHADDR, 0, 0, "xy"}}, {},
       {{1.25, 7.5, 1.25, 0}}},
      /* Reading starts at the first non-blank and stops at foreign text. */
      {"  \t_x*2 rest", {"x"}, 7, {}, {}, {{1.5, 0, 3.0, 0}}},
      /* An integer factor beside a variable is folded. */
      {"_x*(double)(7/2)", {"x"}, 16,
       {{PUSHADDR, 0, 0, "x"}, {PUSHVAL, 0, 3, nullptr}, {MUL, 2, 0, nullptr}},
       {}, {}},
      /* Run-time errors: a division by a constant zero waits for the run. */
      {"_x/(2-2)", {"x"}, 8, {}, {}, {{2.385, 0, 0.0, NUM_EDIVZERO}}},
      {"log(_x)", {"x"}, 7, {}, {},
       {{2.385, 0, std::log(2.385), 0}, {0.0, 0, 0.0, NUM_EDOMAIN},
        {-1.5, 0, 0.0, NUM_EDOMAIN}, {0.5, 0, std::log(0.5), 0}}},
  };
  // clang-format on
  for (const FormulaCase &c : cases) {
    SCOPED_TRACE(c.formula);
    const std::vector<const char *> &v = c.variables;
    const int n = static_cast<int>(v.size());
    int errval = -1;
    const char *tail = nullptr;
    NumProg *program =
        num_str2prog("f", c.formula, &tail, &errval, n, n > 0 ? v[0] : nullptr,
                     n > 1 ? v[1] : nullptr);
    ASSERT_NE(program, nullptr);
    EXPECT_EQ(errval, 0);
    EXPECT_EQ(tail - c.formula, c.tail);
    if (!c.instructions.empty()) expect_instructions(program, c.instructions);
    for (size_t i = 0; i < c.uses.size(); ++i) {
      EXPECT_EQ(num_chkvar(program, static_cast<int>(i) + 1, &errval),
                c.uses[i])
          << v[i];
      EXPECT_EQ(errval, 0);
    }
    for (const RunCase &run : c.runs) {
      EXPECT_EQ(num_runprog(program, &errval, run.x, run.y), run.value)
          << run.x << ", " << run.y;
      EXPECT_EQ(errval, run.errval) << run.x << ", " << run.y;
    }
    EXPECT_EQ(num_rmprog(program, &errval), 0);
    EXPECT_EQ(errval, 0);
  }
}

/* Formulas that do not compile leave no program and report the error and,
 * where given, the end of the reading. */
TEST_F(Compiled, FailedCompilationsReportTheirError)
{
  const std::string deep(100000, '(');
  struct FailureCase {
    const char *label;
    const char *name;
    const char *formula;
    int nvar;
    const char *variable1;
    const char *variable2;
    int errval;
    long tail; /* -1: not checked */
  };
  // clang-format off
  const FailureCase cases[] = {
      {"repeated variable", "v", "_x", 2, "x", "x", NUM_EBADVAR, -1},
      {"digit first", "v", "1", 1, "1x", nullptr, NUM_EBADVAR, -1},
      {"underscore", "v", "1", 1, "x_y", nullptr, NUM_EBADVAR, -1},
      {"no variable name", "v", "1", 1, nullptr, nullptr, NUM_EBADVAR, -1},
      {"undeclared variable", "u", "_x+_w", 1, "x", nullptr, NUM_EUNDEFVAR, 4},
      /* A domain error of a constant part is found at compilation. */
      {"log(0)", "l", "log(0)+_x", 1, "x", nullptr, NUM_EDOMAIN, -1},
      {"1/0", "l", "_x+1/(2-2)", 1, "x", nullptr, NUM_EDIVZERO, -1},
      {"open parenthesis", "e", "sin(_x", 1, "x", nullptr, NUM_EPAREN, -1},
      {"hostile nesting", "e", deep.c_str(), 1, "x", nullptr, NUM_EPAREN,
       NUM_MAX_NESTING},
      {"no program name", nullptr, "_x", 1, "x", nullptr, NUM_EPROGRAM, -1},
      /* The integer grammar evaluates its floating-point parts apart, so a
       * variable inside a "(double)" integer factor is not visible. */
      {"cast", "c", "(double)(long int)_x", 1, "x", nullptr, NUM_EUNDEFVAR, -1},
  };
  // clang-format on
  for (const FailureCase &c : cases) {
    int errval = -1;
    const char *tail = nullptr;
    EXPECT_EQ(num_str2prog(c.name, c.formula, &tail, &errval, c.nvar,
                           c.variable1, c.variable2),
              nullptr)
        << c.label;
    EXPECT_EQ(errval, c.errval) << c.label;
    if (c.tail >= 0) {
      EXPECT_EQ(tail - c.formula, c.tail) << c.label;
    }
  }
  /* A missing formula reads as an empty one. */
  int errval = -1;
  const char *tail = nullptr;
  EXPECT_EQ(num_str2prog("e", nullptr, &tail, &errval, 1, "x"), nullptr);
  EXPECT_EQ(errval, NUM_ENOTFLOAT);
  ASSERT_NE(tail, nullptr);
  EXPECT_EQ(*tail, '\0');
}

TEST_F(Compiled, FailedCompilationDiscardsTheProgramOfItsName)
{
  int errval = -1;
  ASSERT_NE(num_str2prog("v", "1", nullptr, &errval, 0), nullptr);
  EXPECT_EQ(num_str2prog("v", "_x", nullptr, &errval, 2, "x", "x"), nullptr);
  EXPECT_EQ(errval, NUM_EBADVAR);
  EXPECT_EQ(num_searchprog("v", &errval), nullptr);
  EXPECT_EQ(errval, 0);
}

TEST_F(Compiled, UseCountsTellUnusedVariables)
{
  int errval = -1;
  NumProg *program = num_str2prog("h", "_x+1", nullptr, &errval, 2, "x", "z");
  ASSERT_NE(program, nullptr);
  EXPECT_EQ(num_chkvar(program, 2, &errval), 0);
  EXPECT_EQ(errval, 0);
  EXPECT_EQ(num_chkvar(program, 3, &errval), 0);
  EXPECT_EQ(errval, NUM_EUNDEFVAR);
  EXPECT_EQ(num_chkvar(program, 0, &errval), 1);
  EXPECT_EQ(errval, 0);
  EXPECT_EQ(num_chkvar(nullptr, 1, &errval), 0);
  EXPECT_EQ(errval, NUM_EPROGRAM);
  num_rmprog(program, nullptr);

  program = num_str2prog("h", "_a*_a+_b/_a", nullptr, &errval, 2, "a", "b");
  EXPECT_EQ(num_chkvar(program, 1, &errval), 3);
  EXPECT_EQ(num_chkvar(program, 2, &errval), 1);
  num_rmprog(program, nullptr);
}

TEST_F(Compiled, ProgramLivesUntilRemovedOrReplaced)
{
  int errval = -1;
  NumProg *program = num_str2prog("keep", "_x+0.5", nullptr, &errval, 1, "x");
  ASSERT_NE(program, nullptr);
  EXPECT_EQ(num_str2double("2.385", nullptr, &errval), 2.385);
  EXPECT_EQ(num_str2long("(long int)7.5", nullptr, &errval), 7);
  EXPECT_EQ(num_searchprog("keep", &errval), program);
  EXPECT_EQ(num_runprog(program, &errval, 1.0), 1.5);

  NumProg *replaced = num_str2prog("keep", "_x*4", nullptr, &errval, 1, "x");
  ASSERT_NE(replaced, nullptr);
  EXPECT_EQ(num_searchprog("keep", &errval), replaced);
  EXPECT_EQ(num_runprog(replaced, &errval, 1.5), 6.0);

  EXPECT_EQ(num_rmprog(replaced, &errval), 0);
  EXPECT_EQ(num_searchprog("keep", &errval), nullptr);
  EXPECT_EQ(errval, 0);
  EXPECT_EQ(num_runprog(nullptr, &errval, 1.0), 0.0);
  EXPECT_EQ(errval, NUM_EPROGRAM);
}

TEST_F(Compiled, RegistryLookupsAndRemovalReportTheirErrors)
{
  int errval = -1;
  EXPECT_EQ(num_searchprog(nullptr, &errval), nullptr);
  EXPECT_EQ(errval, NUM_EPROGRAM);
  EXPECT_EQ(num_searchprog("nothing", &errval), nullptr);
  EXPECT_EQ(errval, 0);
  EXPECT_EQ(num_rmprog(nullptr, &errval), 0);
  EXPECT_EQ(errval, 0);
  NumProg unregistered{};
  EXPECT_EQ(num_rmprog(&unregistered, &errval), -1);
  EXPECT_EQ(errval, NUM_EPROGRAM);
}

/* Runs a command and returns its standard output; *status gets its exit
 * status (-1 if it did not exit normally). */
std::string run_command(const std::string &command, int *status)
{
  std::string output;
  FILE *pipe = popen(command.c_str(), "r");
  if (!pipe) {
    *status = -1;
    return output;
  }
  char buffer[256];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
    output.append(buffer, n);
  int raw = pclose(pipe);
  *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return output;
}

std::string expr_table_path()
{
  std::string vabo = VABO_BINARY;
  return vabo.substr(0, vabo.find_last_of('/') + 1) + "examples/expr_table";
}

/* The example as a user runs it: the table on standard output and the exit
 * status (1 when a row failed, 2 for bad arguments). */
TEST(ExprTable, TabulatesAFormulaAndTellsFailuresInTheStatus)
{
  struct TableCase {
    const char *arguments;
    int status;
    const char *output; /* none: not checked */
  };
  const TableCase cases[] = {
      /* x*x centimetres in millimetres: 10*x*x. */
      {"'_x*_x_cm' x 0 10 2.5 mm 2>/dev/null", 0,
       "# x\t_x*_x_cm in mm\n"
       "0\t0_mm\n"
       "2.5\t62.5_mm\n"
       "5\t250_mm\n"
       "7.5\t562.5_mm\n"
       "10\t1000_mm\n"},
      {"'sqrt(_t)' t -1 1 1 2>/dev/null", 1,
       "# t\tsqrt(_t)\n"
       "-1\t(domain error)\n"
       "0\t0\n"
       "1\t1\n"},
      {"'_x' x 0 1 0 2>&1", 2, nullptr},
  };
  for (const TableCase &c : cases) {
    int status = -1;
    const std::string output =
        run_command("'" + expr_table_path() + "' " + c.arguments, &status);
    EXPECT_EQ(status, c.status) << c.arguments;
    if (c.output) {
      EXPECT_EQ(output, c.output) << c.arguments;
    }
  }
}

} // namespace
