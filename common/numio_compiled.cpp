/*
 * numio_compiled.cpp -- formulas with named variables, compiled once and run
 * many times.
 *
 * Entry points: num_str2prog (translate and fold a formula into a named
 * program of the registry), num_runprog (run it with new variable values),
 * num_chkvar (how often a variable is used), num_searchprog and num_rmprog.
 * The programs belong to the registry of numio_machine.cpp until removed;
 * the grammar is that of numio_grammar.cpp.  Nothing here is printed except
 * the library's debug output of a failed or traced program.
 */
#include "numio.h"
#include "numio_internal.h"

#include <cctype>
#include <cstdarg>

namespace {

/* Initial value of every declared variable. */
constexpr double kInitialVariableValue = 1.0;

/* Why the variable key could not be declared in program: NUM_EBADVAR for a
 * name that is not valid or is declared already, otherwise NUM_ENOMEM. */
int declaration_error(NumProg *program, const char *key)
{
  NumVar *existing = nullptr;
  if (numprog_checkvar(key) != 0 ||
      numprog_search_variable(program, key, &existing, 0) == 0)
    return NUM_EBADVAR;
  return NUM_ENOMEM;
}

} // namespace

/* Translates str (none reads as the empty text) under name with the nvar
 * variable names that follow, each starting at 1.0, and folds its constant
 * parts.  Returns the program, or none with *perrval set: NUM_EBADVAR for a
 * bad or repeated name, NUM_EPROGRAM for a missing name, NUM_ENOMEM when
 * memory runs out, any grammar or folding error; on failure no program of
 * that name is left in the registry. */
NumProg *num_str2prog(const char *name, const char *str, const char **tail,
                      int *perrval, int nvar, ...)
{
  int errval = NUM_SUCCESS;
  const char *s = numio_skip_white(str ? str : "");
  NumProg *program = numprog_new(name);
  if (!program) errval = name ? NUM_ENOMEM : NUM_EPROGRAM;

  va_list names;
  va_start(names, nvar);
  for (int i = 0; i < nvar && errval == NUM_SUCCESS; ++i) {
    const char *key = va_arg(names, const char *);
    if (numprog_append_variable(program, key, kInitialVariableValue, nullptr) !=
        0)
      errval = declaration_error(program, key);
  }
  va_end(names);

  if (!errval) dpcondition(program, &s, 0, &errval);
  if (tail) *tail = s;
  if (!errval && dpprogram_compile(program, &errval) != 0 &&
      errval == NUM_SUCCESS)
    errval = NUM_EPROGRAM;
  numio_print_program(program, errval);
  if (errval && program) {
    if (numprog_free(program) != 0) errval = NUM_EPROGRAM;
    program = nullptr;
  }
  if (perrval) *perrval = errval;
  return program;
}

/* How often the n-th declared variable (counted from 1; n <= 1 is the first)
 * is referred to by the formula.  0 with NUM_EPROGRAM for no program, 0 with
 * NUM_EUNDEFVAR when there is no n-th variable. */
int num_chkvar(NumProg *program, int n, int *perrval)
{
  int errval = NUM_SUCCESS;
  int used = 0;
  if (!program) {
    errval = NUM_EPROGRAM;
  } else {
    NumVar *variable = program->VariableList;
    for (int i = 1; variable && i < n; ++i) variable = variable->Next;
    if (variable)
      used = variable->Used;
    else
      errval = NUM_EUNDEFVAR;
  }
  if (perrval) *perrval = errval;
  return used;
}

/* Stores one double argument per declared variable, in declaration order,
 * and runs the program.  Returns the value, or 0 with *perrval set
 * (NUM_EPROGRAM for no program, or the error of the run). */
double num_runprog(NumProg *program, int *perrval, ...)
{
  int errval = NUM_SUCCESS;
  double value = 0.0;
  if (!program) {
    errval = NUM_EPROGRAM;
  } else {
    va_list values;
    va_start(values, perrval);
    for (NumVar *variable = program->VariableList; variable;
         variable = variable->Next)
      variable->Value = va_arg(values, double);
    va_end(values);
    value = numio_run_value(program, &errval);
    numio_print_program(program, errval);
  }
  if (perrval) *perrval = errval;
  return value;
}

/* The registered program of that name, or none (NUM_SUCCESS also then); only
 * a missing name gives NUM_EPROGRAM. */
NumProg *num_searchprog(const char *name, int *perrval)
{
  NumProg *program = nullptr;
  int errval = numprog_search(name, &program) != 0 ? NUM_EPROGRAM : NUM_SUCCESS;
  if (errval) program = nullptr;
  if (perrval) *perrval = errval;
  return program;
}

/* Frees a program and removes it from the registry: 0, or -1 with
 * NUM_EPROGRAM for a program that is not registered.  None is no error. */
int num_rmprog(NumProg *program, int *perrval)
{
  int status = numprog_free(program) != 0 ? -1 : 0;
  if (perrval) *perrval = status ? NUM_EPROGRAM : NUM_SUCCESS;
  return status;
}
