/*
 * numio_machine.cpp -- the stack machine of the expression library.
 *
 * Entry points: the registry of named programs (numprog_insert/search/free/
 * remove/new), a program's variables, registers and two instruction lists,
 * dpprogram_step/run (the instruction set), dpprogram_compile (constant
 * folding), the size queries and the debug printouts.  This file owns the
 * registry (NumProgRoot), NUMIO_debug and the instruction names; the units
 * table and the translation of text into instructions live elsewhere.
 * Instruction lists are meant to be changed only through these functions.
 */
#include "numio.h"

#include "numio_internal.h"

#include "chain.h"

#include <bit>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

NumProg *NumProgRoot = nullptr;
int NUMPROG_init = 0;
int NUMIO_debug = 0;

/* clang-format off */
const char *const NumCommandStrings[EndNumCommand + 1] = {
    "Invalid",   "PUSHVAL",  "PUSHADDR", "NEG",       "MUL",      "NOT",
    "EQU",       "NEQ",      "LE",       "LT",        "GE",       "GT",
    "AND",       "OR",       "IF",       "DIV",       "FLOORDIV", "REST",
    "ADD",       "SUB",      "RAD",      "DEG",       "PI",       "SIN",
    "COS",       "TAN",      "ASIN",     "ACOS",      "ATAN",     "ATAN2",
    "SINH",      "COSH",     "TANH",     "FLOOR",     "CEIL",     "FABS",
    "EXP",       "LOG",      "LOG10",    "POW",       "SQRT",     "ROUND",
    "GAMMA",     "FMIN",     "FMAX",     "DEGC2K",    "K2DEGC",   "DEGF2K",
    "K2DEGF",    "DEGK2K",   "K2DEGK",   "DEGF2DEGC", "DEGC2DEGF", nullptr};
/* clang-format on */

namespace {

/* Degrees to radians and back, and the Fahrenheit step, as the instruction
 * set defines them (written out so that every build gets the same bits). */
constexpr double kRadPerDeg = 0.017453292519943295;
constexpr double kDegPerRad = 57.29577951308232;
constexpr double kKelvinPerFahrenheit = 0.5555555555555556;
constexpr double kFahrenheitPerKelvin = 1.8;
constexpr double kZeroCelsius = 273.15;
constexpr double kZeroFahrenheitOffset = 32.0;

/* Instruction texts need this much room; shorter buffers get the empty text. */
constexpr size_t kMinInstructionText = 50;
/* Buffer for one instruction text in the printouts. */
constexpr size_t kInstructionTextLen = 128;

const char kSeparator[] =
    "-   -   -   -   -   -   -   -   -   -   -   -   -   -   -";
const char kProgramSeparator[] =
    "- - - - - - - - - - - - - - - - - - - - - - - - - - - - -";

/* The end of the list last appended to, so that building a long program
 * does not walk its whole instruction list for every instruction.  Reset
 * whenever a list of that program is released or replaced. */
struct AppendCursor {
  const NumProg *program = nullptr;
  int mode = -1;
  const NumInstr *head = nullptr;
  NumInstr *tail = nullptr;
};
AppendCursor append_cursor;

void forget_append_cursor() { append_cursor = AppendCursor{}; }

void ensure_registry()
{
  if (!NUMPROG_init) numprog_init();
}

/* The head pointer of instruction list `mode` (0 or 1), or none. */
NumInstr **instruction_head(NumProg *program, int mode)
{
  if (mode == 0) return &program->InstructionList;
  if (mode == 1) return &program->CompiledList;
  return nullptr;
}

const char *text_or_empty(const char *s) { return s ? s : ""; }

bool is_registered(const NumProg *program)
{
  for (const NumProg *p = NumProgRoot; p; p = p->Next)
    if (p == program) return true;
  return false;
}

void free_instructions(NumInstr *ins)
{
  while (ins) {
    NumInstr *next = ins->Next;
    std::free(ins);
    ins = next;
  }
}

/* ---- instruction semantics ------------------------------------------- */

double flip_sign(double x)
{
  return std::bit_cast<double>(std::bit_cast<std::uint64_t>(x) ^
                               (std::uint64_t{1} << 63));
}

double clear_sign(double x)
{
  return std::bit_cast<double>(std::bit_cast<std::uint64_t>(x) &
                               ~(std::uint64_t{1} << 63));
}

/* a to the power b, never by pow with a negative exponent: a negative b
 * gives the reciprocal of a to the power -b. */
double power_by_reciprocal(double a, double b)
{
  return b > 0 ? std::pow(a, b) : 1.0 / std::pow(a, -b);
}

/* POW: the rules are tested in this order; false for a domain error. */
bool power(double a, double b, double *result)
{
  if (b == 0) {
    *result = 1.0;
    return true;
  }
  if (a > 0) {
    *result = power_by_reciprocal(a, b);
    return true;
  }
  if (a == 0) {
    if (!(b > 0)) return false;
    *result = 0.0;
    return true;
  }
  /* a < 0 or NaN: only whole exponents. */
  if (std::floor(b + 0.5) - b != 0) return false;
  *result = power_by_reciprocal(a, b);
  return true;
}

/* One-operand instruction on x; returns the error value (NUM_SUCCESS,
 * NUM_EDOMAIN, or NUM_EINSTRUCTION for a code that is none). */
int unary(int command, double x, double *result)
{
  switch (command) {
  case NEG: *result = flip_sign(x); break;
  case NOT: *result = (x == 0) ? 1.0 : 0.0; break;
  case RAD: *result = x * kRadPerDeg; break;
  case DEG: *result = x * kDegPerRad; break;
  case SIN: *result = std::sin(x); break;
  case COS: *result = std::cos(x); break;
  case TAN: *result = std::tan(x); break;
  case ASIN:
    if (!(std::fabs(x) <= 1)) return NUM_EDOMAIN;
    *result = std::asin(x);
    break;
  case ACOS:
    if (!(std::fabs(x) <= 1)) return NUM_EDOMAIN;
    *result = std::acos(x);
    break;
  case ATAN: *result = std::atan(x); break;
  case SINH: *result = std::sinh(x); break;
  case COSH: *result = std::cosh(x); break;
  case TANH: *result = std::tanh(x); break;
  case FLOOR: *result = std::floor(x); break;
  case CEIL: *result = std::ceil(x); break;
  case FABS: *result = clear_sign(x); break;
  case EXP: *result = std::exp(x); break;
  case LOG:
    if (!(x > 0)) return NUM_EDOMAIN;
    *result = std::log(x);
    break;
  case LOG10:
    if (!(x > 0)) return NUM_EDOMAIN;
    *result = std::log10(x);
    break;
  case SQRT:
    if (!(x >= 0)) return NUM_EDOMAIN;
    *result = std::sqrt(x);
    break;
  case ROUND: *result = std::floor(x + 0.5); break;
  case GAMMA: *result = numio_gamma(x); break;
  case DEGC2K: *result = x + kZeroCelsius; break;
  case K2DEGC: *result = x - kZeroCelsius; break;
  case DEGF2K:
    *result = (x - kZeroFahrenheitOffset) * kKelvinPerFahrenheit + kZeroCelsius;
    break;
  case K2DEGF:
    *result = (x - kZeroCelsius) * kFahrenheitPerKelvin + kZeroFahrenheitOffset;
    break;
  case DEGK2K:
  case K2DEGK: *result = x; break;
  case DEGF2DEGC:
    *result = (x - kZeroFahrenheitOffset) * kKelvinPerFahrenheit;
    break;
  case DEGC2DEGF:
    *result = x * kFahrenheitPerKelvin + kZeroFahrenheitOffset;
    break;
  default: return NUM_EINSTRUCTION;
  }
  return NUM_SUCCESS;
}

/* Two-operand instruction a (pushed first) op b; returns the error value
 * (NUM_SUCCESS, NUM_EDOMAIN, NUM_EDIVZERO, or NUM_EINSTRUCTION for a code
 * that is none). */
int binary(int command, double a, double b, double *result)
{
  switch (command) {
  case MUL: *result = a * b; break;
  case EQU: *result = (a == b) ? 1.0 : 0.0; break;
  case NEQ: *result = (a == b) ? 0.0 : 1.0; break;
  case LE: *result = (a <= b) ? 1.0 : 0.0; break;
  case LT: *result = (a < b) ? 1.0 : 0.0; break;
  case GE: *result = (a >= b) ? 1.0 : 0.0; break;
  case GT: *result = (a > b) ? 1.0 : 0.0; break;
  case AND: *result = (a != 0 && b != 0) ? 1.0 : 0.0; break;
  case OR: *result = (a != 0 || b != 0) ? 1.0 : 0.0; break;
  case DIV:
    if (b == 0) return NUM_EDIVZERO;
    *result = a / b;
    break;
  case FLOORDIV:
    if (b == 0) return NUM_EDIVZERO;
    *result = std::floor(a / b);
    break;
  case REST:
    if (b == 0) return NUM_EDIVZERO;
    *result = a - b * std::floor(a / b);
    break;
  case ADD: *result = a + b; break;
  case SUB: *result = a - b; break;
  case ATAN2: *result = std::atan2(a, b); break;
  case POW:
    if (!power(a, b, result)) return NUM_EDOMAIN;
    break;
  case FMIN: *result = (b > a) ? a : b; break;
  case FMAX: *result = (a > b) ? a : b; break;
  default: return NUM_EINSTRUCTION;
  }
  return NUM_SUCCESS;
}

/* clang-format off */
bool is_binary(int command)
{
  switch (command) {
  case MUL: case EQU: case NEQ: case LE: case LT: case GE: case GT:
  case AND: case OR: case DIV: case FLOORDIV: case REST: case ADD: case SUB:
  case ATAN2: case POW: case FMIN: case FMAX:
    return true;
  default:
    return false;
  }
}
/* clang-format on */

/* Executes one instruction on the stack; returns its error value. */
int execute(NumProg *program, const NumInstr *ins)
{
  const int command = ins->Command;
  if (command <= InValidNumCommand || command >= EndNumCommand)
    return NUM_EINSTRUCTION;

  if (command == PUSHVAL || command == PUSHADDR || command == PI) {
    double value = ins->Value;
    if (command == PI) value = kNumioPi;
    if (command == PUSHADDR) {
      /* A PUSHADDR that points nowhere was not made by the translation. */
      if (ins->Address == nullptr) return NUM_EINSTRUCTION;
      value = *ins->Address;
    }
    /* The program is given, so a push fails only for want of memory. */
    return numprog_up_accumulator(program, value) ? NUM_SUCCESS : NUM_ENOMEM;
  }

  if (command == IF) {
    NumAccu *top = program->CurrentAccumulator;
    if (top == nullptr || numprog_down_accumulator(program) == nullptr)
      return NUM_EREGISTERS;
    NumAccu *cond = numprog_down_accumulator(program);
    if (cond == nullptr) return NUM_EREGISTERS;
    const double t = cond->Next->Value;
    const double f = top->Value;
    cond->Value = (cond->Value != 0) ? t : f;
    return NUM_SUCCESS;
  }

  if (is_binary(command)) {
    NumAccu *right = program->CurrentAccumulator;
    if (right == nullptr) return NUM_EREGISTERS;
    NumAccu *left = numprog_down_accumulator(program);
    if (left == nullptr) return NUM_EREGISTERS;
    double result = 0;
    const int errval = binary(command, left->Value, right->Value, &result);
    if (errval == NUM_SUCCESS) left->Value = result;
    return errval;
  }

  NumAccu *operand = program->CurrentAccumulator;
  if (operand == nullptr) return NUM_EREGISTERS;
  double result = 0;
  const int errval = unary(command, operand->Value, &result);
  if (errval == NUM_SUCCESS) operand->Value = result;
  return errval;
}

long current_number(const NumProg *program)
{
  return program->CurrentAccumulator ? program->CurrentAccumulator->Number : 0;
}

/* ---- printing helpers -------------------------------------------------- */

void print_separator(FILE *out) { std::fprintf(out, "  %s\n", kSeparator); }

void print_program_separator(FILE *out)
{
  std::fprintf(out, " %s\n", kProgramSeparator);
}

void print_one_program(FILE *out, NumProg *program, int level, int verbose)
{
  if (!verbose) {
    std::fprintf(out, " Program             = '%s'\n",
                 text_or_empty(program->Name));
    num_prog_print_variable_list(out, program, level - 1, verbose);
    num_prog_print_instruction_list(out, program, 0, level - 1, verbose);
    num_prog_print_accumulator_list(out, program, level - 1, verbose);
    return;
  }
  print_program_separator(out);
  std::fprintf(out, " Name                = %s\n",
               text_or_empty(program->Name));
  num_prog_print_variable_list(out, program, level - 1, verbose);
  num_prog_print_accumulator_list(out, program, level - 1, verbose);
  num_prog_print_instruction_list(out, program, 0, level - 1, verbose);
  std::fprintf(out, " Previous program = ");
  if (program->Previous)
    std::fprintf(out, "%s\n", text_or_empty(program->Previous->Name));
  else
    std::fprintf(out, "(no previous program)\n");
  std::fprintf(out, " Next program     = ");
  if (program->Next)
    std::fprintf(out, "%s\n", text_or_empty(program->Next->Name));
  else
    std::fprintf(out, "(no next program)\n");
  if (program->CurrentAccumulator) {
    std::fprintf(out, " CurrentAccumulator  = #%ld",
                 program->CurrentAccumulator->Number);
    std::fprintf(out, " (Value = %lg)\n", program->CurrentAccumulator->Value);
  } else {
    std::fprintf(out, " CurrentAccumulator  = (no current accumulator)\n");
  }
}

} // namespace

/* ======================================================================
 * Registry
 * ==================================================================== */

int numprog_init(void)
{
  NUMPROG_init = 1;
  return 0;
}

int numprog_insert(const char *Name, NumProg **pprogram)
{
  if (pprogram) *pprogram = nullptr;
  if (Name == nullptr) return -1;
  ensure_registry();

  /* Names descend along the registry. */
  NumProg *before = nullptr;
  bool found = false;
  NumProg *walk = chain_seek(
      NumProgRoot,
      [Name](const NumProg *p) {
        return numio_descending(std::strcmp(text_or_empty(p->Name), Name));
      },
      &before, &found);
  if (found) {
    if (pprogram) *pprogram = walk;
    return 0;
  }

  NumProg *program = static_cast<NumProg *>(std::calloc(1, sizeof(NumProg)));
  if (program == nullptr) return -1;
  program->Name = numprog_newstr(Name);
  if (program->Name == nullptr) {
    std::free(program);
    return -1;
  }
  chain_link<NumProg>(program, before, walk, &NumProgRoot, nullptr);

  if (pprogram) *pprogram = program;
  return 0;
}

int numprog_search(const char *Name, NumProg **pprogram)
{
  if (pprogram) *pprogram = nullptr;
  if (Name == nullptr) return -1;
  ensure_registry();
  for (NumProg *p = NumProgRoot; p; p = p->Next) {
    const int cmp = std::strcmp(text_or_empty(p->Name), Name);
    if (cmp == 0) {
      if (pprogram) *pprogram = p;
      break;
    }
    if (cmp < 0) break; /* names descend: it is not further down */
  }
  return 0;
}

int numprog_free(NumProg *program)
{
  ensure_registry();
  if (program == nullptr) return 0;
  if (!is_registered(program)) return -1;

  chain_unlink<NumProg>(program, &NumProgRoot, nullptr);

  numprog_free_variable_list(program);
  numprog_free_accumulator_list(program);
  numprog_free_instruction_list(program, 0);
  numprog_free_instruction_list(program, 1);
  if (append_cursor.program == program) forget_append_cursor();
  std::free(program->Name);
  std::free(program);
  return 0;
}

int numprog_remove(const char *Name)
{
  ensure_registry();
  if (Name == nullptr) {
    while (NumProgRoot)
      if (numprog_free(NumProgRoot) != 0) return -1;
    return 0;
  }
  NumProg *program = nullptr;
  if (numprog_search(Name, &program) != 0) return -1;
  return numprog_free(program);
}

NumProg *numprog_new(const char *Name)
{
  NumProg *old = nullptr;
  if (numprog_search(Name, &old) != 0) return nullptr;
  if (numprog_free(old) != 0) return nullptr;
  NumProg *program = nullptr;
  if (numprog_insert(Name, &program) != 0) return nullptr;
  return program;
}

/* ======================================================================
 * Variables
 * ==================================================================== */

int numprog_checkvar(const char *string)
{
  if (string == nullptr) return -1;
  if (string[0] == '\0') return 0;
  if (!std::isalpha(static_cast<unsigned char>(string[0]))) return -1;
  for (const char *s = string + 1; *s; ++s)
    if (!std::isalnum(static_cast<unsigned char>(*s))) return -1;
  return 0;
}

int numprog_append_variable(NumProg *program, const char *Key, double InitValue,
                            NumVar **pvariable)
{
  if (pvariable) *pvariable = nullptr;
  if (Key == nullptr || numprog_checkvar(Key) != 0) return -1;
  if (program == nullptr) return 0;

  NumVar *last = nullptr;
  for (NumVar *v = program->VariableList; v; v = v->Next) {
    if (std::strcmp(text_or_empty(v->Key), Key) == 0) {
      if (pvariable) *pvariable = v;
      return -1;
    }
    last = v;
  }

  NumVar *variable = static_cast<NumVar *>(std::calloc(1, sizeof(NumVar)));
  if (variable == nullptr) return -1;
  variable->Key = numprog_newstr(Key);
  if (variable->Key == nullptr) {
    std::free(variable);
    return -1;
  }
  variable->Value = InitValue;
  variable->Used = 0;
  variable->Previous = last;
  if (last)
    last->Next = variable;
  else
    program->VariableList = variable;
  if (pvariable) *pvariable = variable;
  return 0;
}

int numprog_search_variable(NumProg *program, const char *Key,
                            NumVar **pvariable, int mode)
{
  if (pvariable) *pvariable = nullptr;
  if (program == nullptr || Key == nullptr) return -1;
  for (NumVar *v = program->VariableList; v; v = v->Next) {
    const char *key = text_or_empty(v->Key);
    const bool found = (mode == 0)
                           ? std::strcmp(key, Key) == 0
                           : std::strncmp(key, Key, std::strlen(key)) == 0;
    if (found) {
      if (pvariable) *pvariable = v;
      return 0;
    }
  }
  return -1;
}

/* Releases every variable with its key; the list becomes empty.  Always 0.
 * Instructions that point at a released variable must not be run. */
int numprog_free_variable_list(NumProg *program)
{
  if (program == nullptr) return 0;
  NumVar *v = program->VariableList;
  while (v) {
    NumVar *next = v->Next;
    std::free(v->Key);
    std::free(v);
    v = next;
  }
  program->VariableList = nullptr;
  return 0;
}

/* Number of declared variables; 0 for no program. */
long num_prog_variables(NumProg *program)
{
  if (program == nullptr) return 0;
  long n = 0;
  for (const NumVar *v = program->VariableList; v; v = v->Next) ++n;
  return n;
}

/* Bytes of the variable records (keys not counted); 0 for no program. */
size_t num_prog_variable_size(NumProg *program)
{
  return static_cast<size_t>(num_prog_variables(program)) * sizeof(NumVar);
}

/* ======================================================================
 * Registers
 * ==================================================================== */

NumAccu *numprog_up_accumulator(NumProg *program, double Value)
{
  if (program == nullptr) return nullptr;
  NumAccu *current = program->CurrentAccumulator;
  NumAccu *reg = current ? current->Next : program->AccumulatorList;
  if (reg == nullptr) {
    reg = static_cast<NumAccu *>(std::calloc(1, sizeof(NumAccu)));
    if (reg == nullptr) return nullptr;
    reg->Number = current ? current->Number + 1 : 1;
    reg->Previous = current;
    if (current)
      current->Next = reg;
    else
      program->AccumulatorList = reg;
  }
  reg->Value = Value;
  program->CurrentAccumulator = reg;
  return reg;
}

NumAccu *numprog_down_accumulator(NumProg *program)
{
  if (program == nullptr || program->CurrentAccumulator == nullptr)
    return nullptr;
  program->CurrentAccumulator = program->CurrentAccumulator->Previous;
  return program->CurrentAccumulator;
}

/* Releases every register and empties the stack.  Always 0. */
int numprog_free_accumulator_list(NumProg *program)
{
  if (program == nullptr) return 0;
  NumAccu *reg = program->AccumulatorList;
  while (reg) {
    NumAccu *next = reg->Next;
    std::free(reg);
    reg = next;
  }
  program->AccumulatorList = nullptr;
  program->CurrentAccumulator = nullptr;
  return 0;
}

/* Number of registers ever allocated (the deepest stack so far). */
long num_prog_accumulators(NumProg *program)
{
  if (program == nullptr) return 0;
  long n = 0;
  for (const NumAccu *reg = program->AccumulatorList; reg; reg = reg->Next) ++n;
  return n;
}

/* Bytes of the register records; 0 for no program. */
size_t num_prog_accumulator_size(NumProg *program)
{
  return static_cast<size_t>(num_prog_accumulators(program)) * sizeof(NumAccu);
}

/* ======================================================================
 * Instructions
 * ==================================================================== */

int numprog_append_instruction(NumProg *program, int mode, int Command,
                               int Nargs, double Value, double *Address,
                               NumInstr **pinstruction)
{
  if (pinstruction) *pinstruction = nullptr;
  if (program == nullptr) return 0;
  NumInstr **head = instruction_head(program, mode);
  if (head == nullptr) return -1;

  NumInstr *ins = static_cast<NumInstr *>(std::calloc(1, sizeof(NumInstr)));
  if (ins == nullptr) return -1;
  ins->Command = Command;
  ins->Nargs = Nargs;
  ins->Value = Value;
  ins->Address = Address;

  NumInstr *tail = nullptr;
  if (*head) {
    const AppendCursor &c = append_cursor;
    if (c.program == program && c.mode == mode && c.head == *head && c.tail &&
        c.tail->Next == nullptr) {
      tail = c.tail;
    } else {
      tail = *head;
      while (tail->Next) tail = tail->Next;
    }
  }
  ins->Previous = tail;
  if (tail)
    tail->Next = ins;
  else
    *head = ins;
  append_cursor = AppendCursor{program, mode, *head, ins};

  if (pinstruction) *pinstruction = ins;
  return 0;
}

/* Releases list `mode` (0 or 1), which becomes empty.  -1 for another mode;
 * no program: 0. */
int numprog_free_instruction_list(NumProg *program, int mode)
{
  if (program == nullptr) return 0;
  NumInstr **head = instruction_head(program, mode);
  if (head == nullptr) return -1;
  free_instructions(*head);
  *head = nullptr;
  if (append_cursor.program == program) forget_append_cursor();
  return 0;
}

long num_prog_instructions(NumProg *program, int mode)
{
  if (program == nullptr) return 0;
  const NumInstr *ins = nullptr;
  switch (mode) {
  case 0: ins = program->InstructionList; break;
  case 1: ins = program->CompiledList; break;
  case 2:
    ins = program->CompiledList ? program->CompiledList
                                : program->InstructionList;
    break;
  default: return 0;
  }
  long n = 0;
  for (; ins; ins = ins->Next) ++n;
  return n;
}

/* Bytes of the records of list `mode` (0 or 1); 0 for other modes. */
size_t num_prog_instruction_size(NumProg *program, int mode)
{
  if (mode != 0 && mode != 1) return 0;
  return static_cast<size_t>(num_prog_instructions(program, mode)) *
         sizeof(NumInstr);
}

/* ======================================================================
 * Running
 * ==================================================================== */

int dpprogram_step(NumProg *program, NumInstr *instruction, int *perrval)
{
  int errval = NUM_SUCCESS;
  if (program == nullptr)
    errval = NUM_EPROGRAM;
  else if (instruction == nullptr)
    errval = NUM_EINSTRUCTION;
  else
    errval = execute(program, instruction);
  if (perrval) *perrval = errval;
  const bool fatal = errval == NUM_EPROGRAM || errval == NUM_EINSTRUCTION ||
                     errval == NUM_EREGISTERS || errval == NUM_ENOMEM;
  return fatal ? -1 : 0;
}

int dpprogram_run(NumProg *program, int *perrval)
{
  int errval = NUM_SUCCESS;
  int status = -1;
  if (program == nullptr) {
    errval = NUM_EPROGRAM;
  } else if (program->InstructionList == nullptr) {
    errval = NUM_EINSTRUCTION;
  } else {
    program->CurrentAccumulator = nullptr;
    for (NumInstr *ins = program->InstructionList; ins; ins = ins->Next) {
      status = dpprogram_step(program, ins, &errval);
      if (errval != NUM_SUCCESS) break;
    }
  }
  if (perrval) *perrval = errval;
  return status;
}

NumInstr *dpprogram_optimize(NumProg *program, NumInstr *firstinstruction,
                             int *perrval)
{
  int local_errval = NUM_SUCCESS;
  int &errval = perrval ? *perrval : local_errval;
  errval = NUM_SUCCESS;
  if (program == nullptr) {
    errval = NUM_EPROGRAM;
    return nullptr;
  }
  if (firstinstruction == nullptr) {
    errval = NUM_EINSTRUCTION;
    return nullptr;
  }

  /* Fold everything whose operands were all computed within this call. */
  NumAccu *const base_register = program->CurrentAccumulator;
  const long base = current_number(program);
  long top = base;
  NumInstr *ins = firstinstruction;
  while (ins && ins->Command != PUSHADDR && top - ins->Nargs + 1 > base) {
    dpprogram_step(program, ins, &errval);
    if (errval != NUM_SUCCESS) return ins;
    top = current_number(program);
    ins = ins->Next;
  }

  /* The folded values become constants of the compiled program.  Appending
   * to a given program fails only for want of memory. */
  NumAccu *reg = base_register ? base_register->Next : program->AccumulatorList;
  for (; reg && reg->Number <= top; reg = reg->Next) {
    if (numprog_append_instruction(program, 1, PUSHVAL, 0, reg->Value, nullptr,
                                   nullptr) != 0) {
      errval = NUM_ENOMEM;
      return ins ? ins : firstinstruction;
    }
  }
  if (ins == nullptr) return nullptr;

  if (numprog_append_instruction(program, 1, ins->Command, ins->Nargs,
                                 ins->Value, ins->Address, nullptr) != 0) {
    errval = NUM_ENOMEM;
    return ins;
  }

  /* Mirror the stack effect of the instruction that is kept. */
  if (ins->Nargs == 0) {
    const double value = ins->Address ? *ins->Address : ins->Value;
    if (numprog_up_accumulator(program, value) == nullptr) {
      errval = NUM_ENOMEM;
      return ins;
    }
  } else {
    for (int i = 1; i < ins->Nargs; ++i) numprog_down_accumulator(program);
  }
  return ins;
}

/* Folds every constant part of InstructionList, which is then replaced by
 * the compiled list.  A folding error (NUM_EDOMAIN, NUM_EDIVZERO, ...)
 * returns 0 with the error in *perrval and leaves InstructionList as it was,
 * CompiledList empty; so does running out of memory (NUM_ENOMEM), but with
 * -1. */
int dpprogram_compile(NumProg *program, int *perrval)
{
  int local_errval = NUM_SUCCESS;
  int &errval = perrval ? *perrval : local_errval;
  errval = NUM_SUCCESS;
  if (program == nullptr) {
    errval = NUM_EPROGRAM;
    return -1;
  }
  if (program->InstructionList == nullptr) {
    errval = NUM_EINSTRUCTION;
    return -1;
  }
  /* Leftovers of an earlier compilation would end up in front. */
  numprog_free_instruction_list(program, 1);
  program->CurrentAccumulator = nullptr;

  NumInstr *next = program->InstructionList;
  while (next) {
    NumInstr *stop = dpprogram_optimize(program, next, &errval);
    if (errval != NUM_SUCCESS) {
      /* InstructionList stays as it was; the partial result is dropped. */
      numprog_free_instruction_list(program, 1);
      return (errval == NUM_EPROGRAM || errval == NUM_ENOMEM) ? -1 : 0;
    }
    next = stop ? stop->Next : nullptr;
  }

  if (numprog_free_instruction_list(program, 0) != 0) {
    errval = NUM_EPROGRAM;
    return -1;
  }
  program->InstructionList = program->CompiledList;
  program->CompiledList = nullptr;
  forget_append_cursor();
  return 0;
}

/* ======================================================================
 * Texts and sizes
 * ==================================================================== */

/* Print name of an instruction code; "Invalid" outside 0 ... 52. */
const char *numprog_cmd2str(int numprog_cmd)
{
  if (numprog_cmd < 0 || numprog_cmd >= EndNumCommand)
    return NumCommandStrings[InValidNumCommand];
  return NumCommandStrings[numprog_cmd];
}

char *numprog_ins2str(char *buffer, size_t buflen, const NumInstr *ins)
{
  if (buffer == nullptr || buflen == 0) return buffer;
  buffer[0] = '\0';
  if (buflen < kMinInstructionText || ins == nullptr) return buffer;
  const char *name = numprog_cmd2str(ins->Command);
  switch (ins->Command) {
  case PUSHVAL:
    std::snprintf(buffer, buflen, "%10s  %10g", name, ins->Value);
    break;
  case PUSHADDR:
    std::snprintf(buffer, buflen, "%10s *%10p", name,
                  static_cast<void *>(ins->Address));
    break;
  default:
    std::snprintf(buffer, buflen, "%10s  %10s (%d args)", name, "", ins->Nargs);
    break;
  }
  return buffer;
}

char *numprog_newstr(const char *string)
{
  if (string == nullptr) return nullptr;
  const size_t len = std::strlen(string) + 1;
  char *copy = static_cast<char *>(std::malloc(len));
  if (copy) std::memcpy(copy, string, len);
  return copy;
}

char *num_newstr(const char *string) { return numprog_newstr(string); }

int numprog_is_empty(const char *s)
{
  if (s == nullptr) return 1;
  for (; *s; ++s)
    if (!numio_is_white(*s)) return 0;
  return 1;
}

/* Writes n blanks to out; nothing for n <= 0 or no stream. */
void print_spaces(FILE *out, int n)
{
  if (out == nullptr) return;
  for (int i = 0; i < n; ++i) std::fputc(' ', out);
}

/* Bytes held by a program: record, name with its NUL, and the records of
 * its variables, registers and both instruction lists; 0 for none. */
size_t num_prog_size(NumProg *program)
{
  if (program == nullptr) return 0;
  size_t size = sizeof(NumProg);
  if (program->Name) size += std::strlen(program->Name) + 1;
  size += num_prog_variable_size(program);
  size += num_prog_accumulator_size(program);
  size += num_prog_instruction_size(program, 0);
  size += num_prog_instruction_size(program, 1);
  return size;
}

/* num_prog_size summed over the registry. */
size_t num_prog_size_all(void)
{
  size_t size = 0;
  for (NumProg *p = NumProgRoot; p; p = p->Next) size += num_prog_size(p);
  return size;
}

/* ======================================================================
 * Printouts
 * ==================================================================== */

/* Prints one program, or the whole registry for none; the lists inside are
 * printed at level - 1.  Nothing at level <= 0.  -1 only without a stream;
 * the verbose form ends with one program separator. */
int num_prog_print_list(FILE *out, NumProg *program, int level, int verbose)
{
  if (out == nullptr) return -1;
  if (level <= 0) return 0;
  if (program) {
    print_one_program(out, program, level, verbose);
  } else {
    for (NumProg *p = NumProgRoot; p; p = p->Next)
      print_one_program(out, p, level, verbose);
  }
  if (verbose) print_program_separator(out);
  return 0;
}

/* The list printers: nothing at level <= 0 or for no program; -1 only
 * without a stream (and for a mode other than 0 or 1). */
int num_prog_print_variable_list(FILE *out, NumProg *program, int level,
                                 int verbose)
{
  if (out == nullptr) return -1;
  if (level <= 0 || program == nullptr) return 0;
  for (NumVar *v = program->VariableList; v; v = v->Next) {
    if (!verbose) {
      std::fprintf(out, "  '%s' = %lg = *%p\n", text_or_empty(v->Key), v->Value,
                   static_cast<void *>(&v->Value));
      continue;
    }
    print_separator(out);
    std::fprintf(out, "  Variable            = %s\n", text_or_empty(v->Key));
    std::fprintf(out, "  Value               = %lg\n", v->Value);
    std::fprintf(out, "  Used                = %d\n", v->Used);
    std::fprintf(out, "  Previous variable = ");
    if (v->Previous)
      std::fprintf(out, "%s\n", text_or_empty(v->Previous->Key));
    else
      std::fprintf(out, "(no previous variable)\n");
    std::fprintf(out, "  Next variable     = ");
    if (v->Next)
      std::fprintf(out, "%s\n", text_or_empty(v->Next->Key));
    else
      std::fprintf(out, "(no next variable)\n");
  }
  if (verbose) print_separator(out);
  return 0;
}

int num_prog_print_accumulator_list(FILE *out, NumProg *program, int level,
                                    int verbose)
{
  if (out == nullptr) return -1;
  if (level <= 0 || program == nullptr) return 0;
  for (NumAccu *reg = program->AccumulatorList; reg; reg = reg->Next) {
    if (!verbose) {
      std::fprintf(out, "  Accumulator #%ld =", reg->Number);
      std::fprintf(out, " %lg\n", reg->Value);
      continue;
    }
    print_separator(out);
    std::fprintf(out, "  Accumulator          = #%ld\n", reg->Number);
    std::fprintf(out, "  Value                = %lg\n", reg->Value);
    std::fprintf(out, "  Previous accumulator = ");
    if (reg->Previous)
      std::fprintf(out, "#%ld\n", reg->Previous->Number);
    else
      std::fprintf(out, "(no previous accumulator)\n");
    std::fprintf(out, "  Next accumulator     = ");
    if (reg->Next)
      std::fprintf(out, "#%ld\n", reg->Next->Number);
    else
      std::fprintf(out, "(no next accumulator)\n");
  }
  if (verbose) print_separator(out);
  return 0;
}

int num_prog_print_instruction_list(FILE *out, NumProg *program, int mode,
                                    int level, int verbose)
{
  if (mode != 0 && mode != 1) return -1;
  if (out == nullptr) return -1;
  if (level <= 0 || program == nullptr) return 0;
  std::fprintf(out, "  %s\n", mode == 0 ? "InstructionList" : "CompiledList");
  char text[kInstructionTextLen];
  for (NumInstr *ins = *instruction_head(program, mode); ins; ins = ins->Next) {
    if (!verbose) {
      std::fprintf(out, "  %s\n", numprog_ins2str(text, sizeof text, ins));
      continue;
    }
    print_separator(out);
    std::fprintf(out, "  Command              = %s\n",
                 numprog_ins2str(text, sizeof text, ins));
    std::fprintf(out, "  Previous instruction = ");
    if (ins->Previous)
      std::fprintf(out, "%s\n",
                   numprog_ins2str(text, sizeof text, ins->Previous));
    else
      std::fprintf(out, "(no previous instruction)\n");
    std::fprintf(out, "  Next instruction     = ");
    if (ins->Next)
      std::fprintf(out, "%d\n", ins->Next->Command);
    else
      std::fprintf(out, "(no next instruction)\n");
  }
  if (verbose) print_separator(out);
  return 0;
}
