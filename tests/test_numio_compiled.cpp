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

void expect_instructions(NumProg *program,
                         std::initializer_list<Instr> expected)
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

TEST_F(Compiled, ProductOfTwoVariablesPlusOne)
{
  int errval = -1;
  const char *tail = nullptr;
  const char *formula = "_x*_y+1";
  NumProg *program = num_str2prog("f", formula, &tail, &errval, 2, "x", "y");
  ASSERT_NE(program, nullptr);
  EXPECT_EQ(errval, 0);
  EXPECT_EQ(tail, formula + 7);
  expect_instructions(program, {{PUSHADDR, 0, 0, "x"},
                                {PUSHADDR, 0, 0, "y"},
                                {MUL, 2, 0, nullptr},
                                {PUSHVAL, 0, 1, nullptr},
                                {ADD, 2, 0, nullptr}});
  EXPECT_EQ(num_runprog(program, &errval, 2.0, 3.0), 7.0);
  EXPECT_EQ(errval, 0);
  EXPECT_EQ(num_runprog(program, &errval, 0.0, 5.0), 1.0);
  EXPECT_EQ(num_runprog(program, &errval, 2.385, -1.75), 2.385 * -1.75 + 1);
  EXPECT_EQ(num_rmprog(program, &errval), 0);
  EXPECT_EQ(errval, 0);
}

TEST_F(Compiled, ConstantPartsAreFoldedBeforeTheVariable)
{
  int errval = -1;
  NumProg *program = num_str2prog("g", "2*3+_x", nullptr, &errval, 1, "x");
  expect_instructions(
      program,
      {{PUSHVAL, 0, 6, nullptr}, {PUSHADDR, 0, 0, "x"}, {ADD, 2, 0, nullptr}});
  EXPECT_EQ(num_chkvar(program, 1, &errval), 1);
  EXPECT_EQ(errval, 0);
  EXPECT_EQ(num_runprog(program, &errval, 4.625), 10.625);

  program = num_str2prog("g", "_x*(2+3)_cm", nullptr, &errval, 1, "x");
  expect_instructions(program, {{PUSHADDR, 0, 0, "x"},
                                {PUSHVAL, 0, 5 * 0.01, nullptr},
                                {MUL, 2, 0, nullptr}});
  EXPECT_EQ(num_runprog(program, &errval, 2.385), 2.385 * (5 * 0.01));

  program = num_str2prog("g", "2*3+4", nullptr, &errval, 0);
  expect_instructions(program, {{PUSHVAL, 0, 10, nullptr}});
  EXPECT_EQ(num_runprog(program, &errval), 10.0);
  num_rmprog(program, nullptr);
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

TEST_F(Compiled, BadOrRepeatedVariableNamesFailWith13)
{
  int errval = -1;
  NumProg *old = num_str2prog("v", "1", nullptr, &errval, 0);
  ASSERT_NE(old, nullptr);
  EXPECT_EQ(num_str2prog("v", "_x", nullptr, &errval, 2, "x", "x"), nullptr);
  EXPECT_EQ(errval, NUM_EBADVAR);
  EXPECT_EQ(num_searchprog("v", &errval), nullptr);
  EXPECT_EQ(errval, 0);
  EXPECT_EQ(num_str2prog("v", "1", nullptr, &errval, 1, "1x"), nullptr);
  EXPECT_EQ(errval, NUM_EBADVAR);
  EXPECT_EQ(num_str2prog("v", "1", nullptr, &errval, 1, "x_y"), nullptr);
  EXPECT_EQ(errval, NUM_EBADVAR);
  EXPECT_EQ(num_str2prog("v", "1", nullptr, &errval, 1,
                         static_cast<const char *>(nullptr)),
            nullptr);
  EXPECT_EQ(errval, NUM_EBADVAR);
}

TEST_F(Compiled, UndeclaredVariableFailsWith12)
{
  int errval = -1;
  const char *tail = nullptr;
  const char *formula = "_x+_w";
  EXPECT_EQ(num_str2prog("u", formula, &tail, &errval, 1, "x"), nullptr);
  EXPECT_EQ(errval, NUM_EUNDEFVAR);
  EXPECT_EQ(tail, formula + 4);
}

TEST_F(Compiled, VariableReferenceTakesTheFirstDeclaredPrefix)
{
  int errval = -1;
  const char *tail = nullptr;
  const char *formula = "_xy";
  NumProg *program = num_str2prog("p", formula, &tail, &errval, 2, "x", "xy");
  ASSERT_NE(program, nullptr);
  EXPECT_EQ(tail, formula + 2);
  expect_instructions(program, {{PUSHADDR, 0, 0, "x"}});
  EXPECT_EQ(num_chkvar(program, 1, &errval), 1);
  EXPECT_EQ(num_chkvar(program, 2, &errval), 0);
  EXPECT_EQ(num_runprog(program, &errval, 1.25, 7.5), 1.25);

  program = num_str2prog("p", formula, &tail, &errval, 2, "xy", "x");
  ASSERT_NE(program, nullptr);
  EXPECT_EQ(tail, formula + 3);
  expect_instructions(program, {{PUSHADDR, 0, 0, "xy"}});
  EXPECT_EQ(num_runprog(program, &errval, 1.25, 7.5), 1.25);
  num_rmprog(program, nullptr);
}

TEST_F(Compiled, DomainErrorOfAConstantPartIsFoundAtCompilation)
{
  int errval = -1;
  EXPECT_EQ(num_str2prog("l", "log(0)+_x", nullptr, &errval, 1, "x"), nullptr);
  EXPECT_EQ(errval, NUM_EDOMAIN);
  EXPECT_EQ(num_str2prog("l", "_x+1/(2-2)", nullptr, &errval, 1, "x"), nullptr);
  EXPECT_EQ(errval, NUM_EDIVZERO);
  /* A division whose operand is a variable waits for the run. */
  NumProg *quotient = num_str2prog("l", "_x/(2-2)", nullptr, &errval, 1, "x");
  ASSERT_NE(quotient, nullptr);
  EXPECT_EQ(num_runprog(quotient, &errval, 2.385), 0.0);
  EXPECT_EQ(errval, NUM_EDIVZERO);

  NumProg *program = num_str2prog("l", "log(_x)", nullptr, &errval, 1, "x");
  ASSERT_NE(program, nullptr);
  EXPECT_EQ(errval, 0);
  EXPECT_EQ(num_runprog(program, &errval, 2.385), std::log(2.385));
  EXPECT_EQ(errval, 0);
  EXPECT_EQ(num_runprog(program, &errval, 0.0), 0.0);
  EXPECT_EQ(errval, NUM_EDOMAIN);
  EXPECT_EQ(num_runprog(program, &errval, -1.5), 0.0);
  EXPECT_EQ(errval, NUM_EDOMAIN);
  EXPECT_EQ(num_runprog(program, &errval, 0.5), std::log(0.5));
  EXPECT_EQ(errval, 0);
  num_rmprog(program, nullptr);
}

TEST_F(Compiled, GrammarErrorsLeaveNoProgramAndReportTheTail)
{
  int errval = -1;
  const char *tail = nullptr;
  EXPECT_EQ(num_str2prog("e", "sin(_x", &tail, &errval, 1, "x"), nullptr);
  EXPECT_EQ(errval, NUM_EPAREN);
  EXPECT_EQ(num_str2prog("e", nullptr, &tail, &errval, 1, "x"), nullptr);
  EXPECT_EQ(errval, NUM_ENOTFLOAT);
  ASSERT_NE(tail, nullptr);
  EXPECT_EQ(*tail, '\0');
  std::string deep = std::string(100000, '(');
  EXPECT_EQ(num_str2prog("e", deep.c_str(), &tail, &errval, 1, "x"), nullptr);
  EXPECT_EQ(errval, NUM_EPAREN);
  EXPECT_EQ(tail, deep.c_str() + NUM_MAX_NESTING);
  EXPECT_EQ(num_str2prog(nullptr, "_x", &tail, &errval, 1, "x"), nullptr);
  EXPECT_EQ(errval, NUM_EPROGRAM);
}

TEST_F(Compiled, FormulaReadsFromItsFirstNonBlankAndStopsAtForeignText)
{
  int errval = -1;
  const char *tail = nullptr;
  const char *formula = "  \t_x*2 rest";
  NumProg *program = num_str2prog("t", formula, &tail, &errval, 1, "x");
  ASSERT_NE(program, nullptr);
  EXPECT_EQ(tail, formula + 7);
  EXPECT_EQ(num_runprog(program, &errval, 1.5), 3.0);
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

TEST_F(Compiled, VariablesAreNotVisibleInsideIntegerCasts)
{
  /* A variable inside a "(double)" integer factor is not visible: the
   * integer grammar evaluates its floating-point parts apart. */
  int errval = -1;
  EXPECT_EQ(num_str2prog("c", "(double)(long int)_x", nullptr, &errval, 1, "x"),
            nullptr);
  EXPECT_EQ(errval, NUM_EUNDEFVAR);
  NumProg *program =
      num_str2prog("c", "_x*(double)(7/2)", nullptr, &errval, 1, "x");
  expect_instructions(
      program,
      {{PUSHADDR, 0, 0, "x"}, {PUSHVAL, 0, 3, nullptr}, {MUL, 2, 0, nullptr}});
  num_rmprog(program, nullptr);
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

TEST(ExprTable, TabulatesAFormulaInTheRequestedUnit)
{
  int status = -1;
  std::string output = run_command("'" + expr_table_path() +
                                       "' '_x*_x_cm' x 0 10 2.5 mm 2>/dev/null",
                                   &status);
  EXPECT_EQ(status, 0);
  /* x*x centimetres in millimetres: 10*x*x. */
  EXPECT_EQ(output, "# x\t_x*_x_cm in mm\n"
                    "0\t0_mm\n"
                    "2.5\t62.5_mm\n"
                    "5\t250_mm\n"
                    "7.5\t562.5_mm\n"
                    "10\t1000_mm\n");
}

TEST(ExprTable, RowsThatFailShowTheErrorAndTheStatusIsOne)
{
  int status = -1;
  std::string output = run_command(
      "'" + expr_table_path() + "' 'sqrt(_t)' t -1 1 1 2>/dev/null", &status);
  EXPECT_EQ(status, 1);
  EXPECT_EQ(output, "# t\tsqrt(_t)\n"
                    "-1\t(domain error)\n"
                    "0\t0\n"
                    "1\t1\n");
  output =
      run_command("'" + expr_table_path() + "' '_x' x 0 1 0 2>&1", &status);
  EXPECT_EQ(status, 2);
}

} // namespace
