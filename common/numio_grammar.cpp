/*
 * numio_grammar.cpp -- the expression grammars and the number readers.
 *
 * Entry points: num_str2double (translate a floating-point expression into a
 * temporary program, run it, free it) and num_str2long (evaluate a 32-bit
 * integer expression directly).  The dp... functions translate one precedence
 * level each into postfix instructions; the lv... functions compute integer
 * values and hand floating-point parts to temporary programs.  A text that
 * is one plain decimal literal, as almost every number of a data file is,
 * num_str2double reads directly with the same result (numio_plain_literal).
 * This file owns no state beyond two depth counters; programs live in the
 * registry of numio_machine.cpp, names of units in the table of
 * numio_units.cpp.
 */
#include "numio.h"
#include "numio_internal.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <system_error>

#include <langinfo.h>

namespace {

/* Longest literal num_str2double reads without the grammar: longer ones
 * (hundreds of digits) are rare enough to take the grammar. */
constexpr size_t kMaxPlainLiteral = 64;

/* Names of the temporary programs of the readers. */
constexpr const char *kStr2DoubleName = "str2double";
constexpr const char *kLvfactorName = "lvfactor";
/* Room for "lvfactor#" and the decimal digits of a nesting count. */
constexpr size_t kTemporaryNameLen = 32;

/* Recursive descents currently open (parentheses, argument lists, casts).
 * Every path by which the readers call themselves again passes through a
 * NestingGuard, so this bounds the depth of the C++ stack. */
int NestingDepth = 0;

/* Temporary programs of the integer grammar currently alive.  A floating-
 * point part can contain an integer factor with a floating-point part of its
 * own; each open temporary gets a name of its own, so that creating an inner
 * one never discards an outer one that is still being filled. */
int OpenTemporaries = 0;

/* Target of the error value when a caller passes none. */
int IgnoredErrval = 0;

/* Sets the error value to 0 on entry of a level function and checks its
 * arguments; false (NUM_ESCAN) when there is no text to read. */
bool enter_level(const char **ps, int *&perrval)
{
  if (!perrval) perrval = &IgnoredErrval;
  *perrval = NUM_SUCCESS;
  if (!ps || !*ps) {
    *perrval = NUM_ESCAN;
    return false;
  }
  return true;
}

/* One more level of recursion for as long as the guard lives; past
 * NUM_MAX_NESTING the guard reports NUM_EPAREN and the caller must
 * return. */
class NestingGuard {
public:
  explicit NestingGuard(int *perrval) : ok_(++NestingDepth <= NUM_MAX_NESTING)
  {
    if (!ok_) *perrval = NUM_EPAREN;
  }
  ~NestingGuard() { --NestingDepth; }
  NestingGuard(const NestingGuard &) = delete;
  NestingGuard &operator=(const NestingGuard &) = delete;
  bool ok() const { return ok_; }

private:
  bool ok_;
};

/* A temporary program of the integer grammar, registered under a name unique
 * among the open temporaries and freed on every path out of its scope. */
class TemporaryProgram {
public:
  TemporaryProgram()
  {
    char name[kTemporaryNameLen];
    if (OpenTemporaries == 0)
      std::snprintf(name, sizeof name, "%s", kLvfactorName);
    else
      std::snprintf(name, sizeof name, "%s#%d", kLvfactorName, OpenTemporaries);
    program_ = numprog_new(name);
    if (program_) ++OpenTemporaries;
  }
  ~TemporaryProgram() { release(); }
  TemporaryProgram(const TemporaryProgram &) = delete;
  TemporaryProgram &operator=(const TemporaryProgram &) = delete;

  NumProg *get() const { return program_; }

  /* Frees the program now; -1 if the registry refused it. */
  int release()
  {
    if (!program_) return 0;
    int status = numprog_free(program_);
    program_ = nullptr;
    --OpenTemporaries;
    return status;
  }

private:
  NumProg *program_ = nullptr;
};

bool starts_with(const char *s, const char *prefix)
{
  return std::strncmp(s, prefix, std::strlen(prefix)) == 0;
}

bool is_digit(char c)
{
  return std::isdigit(static_cast<unsigned char>(c)) != 0;
}
bool is_alnum(char c)
{
  return std::isalnum(static_cast<unsigned char>(c)) != 0;
}

/* Appends one instruction to the program's InstructionList; false
 * (NUM_ENOMEM) when the append fails, which for list 0 means no memory was
 * left. */
bool append(NumProg *program, NumCommand command, int nargs, double value,
            double *address, int *perrval)
{
  if (numprog_append_instruction(program, 0, command, nargs, value, address,
                                 nullptr) != 0) {
    *perrval = NUM_ENOMEM;
    return false;
  }
  return true;
}

/* Skips the character c at *ps; otherwise sets the error value. */
bool expect(const char **ps, char c, int error, int *perrval)
{
  if (**ps != c) {
    *perrval = error;
    return false;
  }
  ++*ps;
  return true;
}

/* ---- 32-bit integer arithmetic (long is wider on this platform) ---- */

constexpr long kInt32Min = INT32_MIN;
constexpr long kInt32Max = INT32_MAX;

long wrap32(uint32_t bits) { return static_cast<int32_t>(bits); }
long add32(long a, long b)
{
  return wrap32(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}
long sub32(long a, long b)
{
  return wrap32(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}
long mul32(long a, long b)
{
  return wrap32(static_cast<uint32_t>(a) * static_cast<uint32_t>(b));
}
long neg32(long a) { return wrap32(0u - static_cast<uint32_t>(a)); }

/* Quotient truncated toward zero; -2147483648 / -1 wraps to -2147483648. */
long div32(long a, long b) { return b == -1 ? neg32(a) : a / b; }
/* Remainder with the dividend's sign; anything % -1 is 0. */
long rem32(long a, long b) { return b == -1 ? 0 : a % b; }

/* A double within the 32-bit range, truncated toward zero; NUM_EOVERFLOW
 * outside the range and for NaN. */
long double_to_int32(double v, int *perrval)
{
  if (!(v >= static_cast<double>(kInt32Min) &&
        v <= static_cast<double>(kInt32Max))) {
    *perrval = NUM_EOVERFLOW;
    return 0;
  }
  return static_cast<long>(static_cast<int32_t>(v));
}

/* The kinds of floating-point part an integer factor can hand over. */
enum class FloatPart { UnitProduct, Function, Constant };

/* Translates one floating-point part into a temporary program, runs it and
 * returns its value; errors of translation, run and registry stand (a
 * temporary that cannot be made is NUM_ENOMEM: its name is never
 * missing). */
double evaluate_float_part(FloatPart part, const char **ps, int level,
                           int *perrval)
{
  TemporaryProgram temporary;
  NumProg *program = temporary.get();
  if (!program) {
    *perrval = NUM_ENOMEM;
    return 0.0;
  }
  switch (part) {
  case FloatPart::UnitProduct: dpfactor1(program, ps, level, perrval); break;
  case FloatPart::Function: dpfunction(program, ps, level, perrval); break;
  case FloatPart::Constant: dpconstant(program, ps, perrval); break;
  }
  if (*perrval) return 0.0;
  double value = numio_run_value(program, perrval);
  if (*perrval) return 0.0;
  if (temporary.release() != 0) *perrval = NUM_EPROGRAM;
  return value;
}

/* The rounding of the integer grammar: floor(v + 0.5). */
double round_half_up(double v) { return std::floor(v + 0.5); }

/* One entry of the function table: the name with its "(", the number of
 * arguments and the instruction appended after them. */
struct FunctionEntry {
  const char *name;
  int nargs;
  NumCommand command;
};

/* Searched in this order; case matters. "pi(" takes no argument and pushes
 * the value of pi. */
/* clang-format off */
constexpr FunctionEntry kFunctions[] = {
    {"rad(", 1, RAD},       {"deg(", 1, DEG},          {"pi(", 0, PUSHVAL},
    {"sin(", 1, SIN},       {"cos(", 1, COS},          {"tan(", 1, TAN},
    {"asin(", 1, ASIN},     {"acos(", 1, ACOS},        {"atan(", 1, ATAN},
    {"atan2(", 2, ATAN2},   {"sinh(", 1, SINH},        {"cosh(", 1, COSH},
    {"tanh(", 1, TANH},     {"floor(", 1, FLOOR},      {"ceil(", 1, CEIL},
    {"abs(", 1, FABS},      {"exp(", 1, EXP},          {"log(", 1, LOG},
    {"log10(", 1, LOG10},   {"pow(", 2, POW},          {"sqrt(", 1, SQRT},
    {"round(", 1, ROUND},   {"gamma(", 1, GAMMA},      {"min(", 2, FMIN},
    {"max(", 2, FMAX},      {"degC2K(", 1, DEGC2K},    {"K2degC(", 1, K2DEGC},
    {"degF2K(", 1, DEGF2K}, {"K2degF(", 1, K2DEGF},    {"degK2K(", 1, DEGK2K},
    {"K2degK(", 1, K2DEGK}, {"degF2degC(", 1, DEGF2DEGC},
    {"degC2degF(", 1, DEGC2DEGF},
};
/* clang-format on */

/* The words of the integer grammar and their values, tested in this order. */
struct WordEntry {
  const char *word;
  long value;
};
constexpr WordEntry kWords[] = {
    {"true", 1}, {"false", 0}, {"yes", 1}, {"no", 0}};

} // namespace

const char *numio_skip_white(const char *s)
{
  while (numio_is_white(*s)) ++s;
  return s;
}

double numio_run_value(NumProg *program, int *perrval)
{
  if (dpprogram_run(program, perrval) != 0 && *perrval == NUM_SUCCESS)
    *perrval = NUM_EPROGRAM;
  if (*perrval) return 0.0;
  if (!program->CurrentAccumulator) {
    *perrval = NUM_EREGISTERS;
    return 0.0;
  }
  return program->CurrentAccumulator->Value;
}

void numio_print_program(NumProg *program, int errval)
{
  if (!program) return;
  if (errval > NUM_EBADVAR)
    num_prog_print_list(stderr, program, 2, 0);
  else if (NUMIO_debug > 2)
    num_prog_print_list(stdout, program, 2, 0);
}

/* ======================= floating-point grammar ======================= */

/* condition := logicsum [ "?" logicsum ":" logicsum ] */
void dpcondition(NumProg *program, const char **ps, int level, int *perrval)
{
  if (!enter_level(ps, perrval)) return;
  dplogicsum(program, ps, level, perrval);
  if (*perrval || **ps != '?') return;
  ++*ps;
  dplogicsum(program, ps, level, perrval);
  if (*perrval || !expect(ps, ':', NUM_ESCAN, perrval)) return;
  dplogicsum(program, ps, level, perrval);
  if (*perrval) return;
  append(program, IF, 3, 0.0, nullptr, perrval);
}

/* logicsum := logicproduct { "||" logicproduct } */
void dplogicsum(NumProg *program, const char **ps, int level, int *perrval)
{
  if (!enter_level(ps, perrval)) return;
  dplogicproduct(program, ps, level, perrval);
  while (!*perrval && starts_with(*ps, "||")) {
    *ps += 2;
    dplogicproduct(program, ps, level, perrval);
    if (*perrval) return;
    append(program, OR, 2, 0.0, nullptr, perrval);
  }
}

/* logicproduct := equality { "&&" equality } */
void dplogicproduct(NumProg *program, const char **ps, int level, int *perrval)
{
  if (!enter_level(ps, perrval)) return;
  dpequality(program, ps, level, perrval);
  while (!*perrval && starts_with(*ps, "&&")) {
    *ps += 2;
    dpequality(program, ps, level, perrval);
    if (*perrval) return;
    append(program, AND, 2, 0.0, nullptr, perrval);
  }
}

/* equality := comparison [ ("==" | "!=") comparison ] */
void dpequality(NumProg *program, const char **ps, int level, int *perrval)
{
  if (!enter_level(ps, perrval)) return;
  dpcomparison(program, ps, level, perrval);
  if (*perrval) return;
  NumCommand command;
  if (starts_with(*ps, "=="))
    command = EQU;
  else if (starts_with(*ps, "!="))
    command = NEQ;
  else
    return;
  *ps += 2;
  dpcomparison(program, ps, level, perrval);
  if (*perrval) return;
  append(program, command, 2, 0.0, nullptr, perrval);
}

/* comparison := expression [ ("<=" | "<" | ">=" | ">") expression ] */
void dpcomparison(NumProg *program, const char **ps, int level, int *perrval)
{
  if (!enter_level(ps, perrval)) return;
  dpexpression(program, ps, level, perrval);
  if (*perrval) return;
  NumCommand command;
  size_t length = 1;
  if (starts_with(*ps, "<=")) {
    command = LE;
    length = 2;
  } else if (**ps == '<') {
    command = LT;
  } else if (starts_with(*ps, ">=")) {
    command = GE;
    length = 2;
  } else if (**ps == '>') {
    command = GT;
  } else {
    return;
  }
  *ps += length;
  dpexpression(program, ps, level, perrval);
  if (*perrval) return;
  append(program, command, 2, 0.0, nullptr, perrval);
}

/* expression := [ "+" | "-" ] term { ("+" | "-") term }   (")" at level 0: 4)
 */
void dpexpression(NumProg *program, const char **ps, int level, int *perrval)
{
  if (!enter_level(ps, perrval)) return;
  char sign = **ps;
  if (sign == '+' || sign == '-') ++*ps;
  dpterm(program, ps, level, perrval);
  if (*perrval) return;
  if (sign == '-' && !append(program, NEG, 1, 0.0, nullptr, perrval)) return;
  while (**ps == '+' || **ps == '-') {
    NumCommand command = **ps == '+' ? ADD : SUB;
    ++*ps;
    dpterm(program, ps, level, perrval);
    if (*perrval) return;
    if (!append(program, command, 2, 0.0, nullptr, perrval)) return;
  }
  if (**ps == ')' && level <= 0) *perrval = NUM_EPAREN;
}

/* term := negation { ("*" | "//" | "/" | "%") negation } */
void dpterm(NumProg *program, const char **ps, int level, int *perrval)
{
  if (!enter_level(ps, perrval)) return;
  dpfactor0(program, ps, level, perrval);
  while (!*perrval) {
    NumCommand command;
    size_t length = 1;
    if (**ps == '*') {
      command = MUL;
    } else if (starts_with(*ps, "//")) {
      command = FLOORDIV;
      length = 2;
    } else if (**ps == '/') {
      command = DIV;
    } else if (**ps == '%') {
      command = REST;
    } else {
      return;
    }
    *ps += length;
    dpfactor0(program, ps, level, perrval);
    if (*perrval) return;
    append(program, command, 2, 0.0, nullptr, perrval);
  }
}

/* negation := [ "!" ] unitproduct */
void dpfactor0(NumProg *program, const char **ps, int level, int *perrval)
{
  if (!enter_level(ps, perrval)) return;
  bool negate = **ps == '!';
  if (negate) ++*ps;
  dpfactor1(program, ps, level, perrval);
  if (*perrval || !negate) return;
  append(program, NOT, 1, 0.0, nullptr, perrval);
}

/* unitproduct := primary { "_" primary } */
void dpfactor1(NumProg *program, const char **ps, int level, int *perrval)
{
  if (!enter_level(ps, perrval)) return;
  dpfactor2(program, ps, level, perrval);
  while (!*perrval && **ps == '_') {
    ++*ps;
    dpfactor2(program, ps, level, perrval);
    if (*perrval) return;
    append(program, MUL, 2, 0.0, nullptr, perrval);
  }
}

/* primary := "(double)" intfactor | "(" condition ")" | number | function
 *          | "_" variable | constant */
void dpfactor2(NumProg *program, const char **ps, int level, int *perrval)
{
  if (!enter_level(ps, perrval)) return;
  const char *s = *ps;
  if (starts_with(s, "(double)")) {
    NestingGuard nesting(perrval);
    if (!nesting.ok()) return;
    *ps += std::strlen("(double)");
    long value = lvfactor(ps, level, perrval);
    if (*perrval) return;
    append(program, PUSHVAL, 0, static_cast<double>(value), nullptr, perrval);
  } else if (*s == '(') {
    NestingGuard nesting(perrval);
    if (!nesting.ok()) return;
    ++*ps;
    dpcondition(program, ps, level + 1, perrval);
    if (*perrval) return;
    expect(ps, ')', NUM_EPAREN, perrval);
  } else if (is_digit(*s) || *s == '.') {
    char *end = nullptr;
    double value = std::strtod(s, &end);
    *ps = end;
    append(program, PUSHVAL, 0, value, nullptr, perrval);
  } else if (isfunction(s)) {
    dpfunction(program, ps, level, perrval);
  } else if (isvariable(s)) {
    ++*ps;
    dpvariable(program, ps, perrval);
  } else {
    dpconstant(program, ps, perrval);
  }
}

/* function := name "(" [ condition [ "," condition ] ] ")"   (names in
 * kFunctions) */
void dpfunction(NumProg *program, const char **ps, int level, int *perrval)
{
  if (!enter_level(ps, perrval)) return;
  const FunctionEntry *function = nullptr;
  for (const FunctionEntry &entry : kFunctions) {
    if (starts_with(*ps, entry.name)) {
      function = &entry;
      break;
    }
  }
  if (!function) {
    *perrval = NUM_EFUNCTION;
    return;
  }
  NestingGuard nesting(perrval);
  if (!nesting.ok()) return;
  *ps += std::strlen(function->name);
  if (function->nargs >= 1) {
    dpcondition(program, ps, level + 1, perrval);
    if (*perrval) return;
  }
  if (function->nargs == 2) {
    if (!expect(ps, ',', NUM_ECOMMA, perrval)) return;
    dpcondition(program, ps, level + 1, perrval);
    if (*perrval) return;
  }
  if (!expect(ps, ')', NUM_EPAREN, perrval)) return;
  if (function->nargs == 0)
    append(program, PUSHVAL, 0, kNumioPi, nullptr, perrval);
  else
    append(program, function->command, function->nargs, 0.0, nullptr, perrval);
}

/* variable := declared name, first declared prefix of the text (after "_") */
void dpvariable(NumProg *program, const char **ps, int *perrval)
{
  if (!enter_level(ps, perrval)) return;
  NumVar *variable = nullptr;
  if (numprog_search_variable(program, *ps, &variable, 1) != 0 || !variable) {
    *perrval = NUM_EUNDEFVAR;
    return;
  }
  *ps += std::strlen(variable->Key);
  ++variable->Used;
  append(program, PUSHADDR, 0, variable->Value, &variable->Value, perrval);
}

/* constant := longest key of the units table that starts the text
 * A table that cannot be built completely is NUM_ENOMEM and is not searched:
 * with "cm" missing, "c" would match the text "cm". */
void dpconstant(NumProg *program, const char **ps, int *perrval)
{
  if (!enter_level(ps, perrval)) return;
  if (DPConstantInit == 0 && dpconstant_init() != 0) {
    *perrval = NUM_ENOMEM;
    return;
  }
  DPConstant *constant = nullptr;
  if (dpconstant_search(*ps, &constant, 1) != 0 || !constant) {
    *perrval = NUM_ENOTFLOAT;
    return;
  }
  *ps += std::strlen(constant->Key);
  append(program, PUSHVAL, 0, constant->Value, nullptr, perrval);
}

int isfunction(const char *s)
{
  if (!s || is_digit(*s)) return 0;
  while (is_alnum(*s)) ++s;
  return *s == '(' ? 1 : 0;
}

int isvariable(const char *s) { return s && *s == '_' ? 1 : 0; }

/* =========================== integer grammar ========================== */

/* intexpression := [ "+" | "-" ] intterm { ("+" | "-") intterm }
 *                  ending at end, ",", ";", white space or ")" */
long lvexpression(const char **ps, int level, int *perrval)
{
  if (!enter_level(ps, perrval)) return 0;
  char sign = **ps;
  if (sign == '+' || sign == '-') ++*ps;
  long value = lvterm(ps, level, perrval);
  if (*perrval) return 0;
  if (sign == '-') value = neg32(value);
  for (;;) {
    char c = **ps;
    if (c == '+' || c == '-') {
      ++*ps;
      long operand = lvterm(ps, level, perrval);
      if (*perrval) return 0;
      value = c == '+' ? add32(value, operand) : sub32(value, operand);
    } else if (c == '\0' || c == ',' || c == ';' || numio_is_white(c)) {
      return value;
    } else if (c == ')') {
      if (level <= 0) *perrval = NUM_EPAREN;
      return value;
    } else {
      *perrval = NUM_ESCAN;
      return value;
    }
  }
}

/* intterm := intfactor { ("*" | "/" | "%") intfactor } */
long lvterm(const char **ps, int level, int *perrval)
{
  if (!enter_level(ps, perrval)) return 0;
  long value = lvfactor(ps, level, perrval);
  while (!*perrval && (**ps == '*' || **ps == '/' || **ps == '%')) {
    char op = **ps;
    ++*ps;
    long operand = lvfactor(ps, level, perrval);
    if (*perrval) return 0;
    if (op == '*') {
      value = mul32(value, operand);
    } else if (operand == 0) {
      *perrval = NUM_EDIVZERO;
      return 0;
    } else {
      value = op == '/' ? div32(value, operand) : rem32(value, operand);
    }
  }
  return value;
}

/* intfactor := "(long int)" unitproduct | "(round)" unitproduct
 *            | "(" intexpression ")" | decimal | function | word | constant */
long lvfactor(const char **ps, int level, int *perrval)
{
  if (!enter_level(ps, perrval)) return 0;
  const char *s = *ps;
  bool truncate = starts_with(s, "(long int)");
  if (truncate || starts_with(s, "(round)")) {
    NestingGuard nesting(perrval);
    if (!nesting.ok()) return 0;
    *ps += truncate ? std::strlen("(long int)") : std::strlen("(round)");
    double value =
        evaluate_float_part(FloatPart::UnitProduct, ps, level, perrval);
    if (*perrval) return 0;
    return double_to_int32(truncate ? value : round_half_up(value), perrval);
  }
  if (*s == '(') {
    NestingGuard nesting(perrval);
    if (!nesting.ok()) return 0;
    ++*ps;
    long value = lvexpression(ps, level + 1, perrval);
    if (*perrval) return 0;
    return expect(ps, ')', NUM_EPAREN, perrval) ? value : 0;
  }
  if (is_digit(*s)) {
    /* strtol reads 64 bits here; a literal beyond the 32-bit range reads as
     * its largest value, as it would with a 32-bit long. */
    char *end = nullptr;
    long value = std::strtol(s, &end, 10);
    *ps = end;
    return value > kInt32Max ? kInt32Max : value;
  }
  if (isfunction(s)) {
    double value = evaluate_float_part(FloatPart::Function, ps, level, perrval);
    if (*perrval) return 0;
    return double_to_int32(round_half_up(value), perrval);
  }
  for (const WordEntry &entry : kWords) {
    size_t length = std::strlen(entry.word);
    if (num_strncasecmp(s, entry.word, length) == 0) {
      *ps += length;
      return entry.value;
    }
  }
  double value = evaluate_float_part(FloatPart::Constant, ps, level, perrval);
  if (*perrval) return 0;
  return double_to_int32(round_half_up(value), perrval);
}

/* ============================== readers =============================== */

/* The grammar reads a text made of an optional sign and a literal, ended by
 * white space or the end of the text, as PUSHVAL of strtod's value and, for
 * "-", NEG: that is the value read here, by a correctly rounded parser that
 * agrees with strtod bit for bit.  Every other text is declined: strtod's
 * hexadecimal form, a literal that another operator, unit or character
 * follows, a lone "." (which reads as 0 and consumes nothing), and values
 * out of range (strtod's overflow to infinity and underflow to 0 are left to
 * strtod itself). */
bool numio_plain_literal(const char *s, double *value, const char **tail)
{
  const char *p = s;
  const bool negative = *p == '-';
  if (*p == '+' || *p == '-') ++p;
  if (!(*p >= '0' && *p <= '9') && *p != '.') return false;
  if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) return false;
  double literal = 0.0;
  const std::from_chars_result read =
      std::from_chars(p, p + strnlen(p, kMaxPlainLiteral), literal);
  if (read.ec != std::errc() ||
      !(*read.ptr == '\0' || numio_is_white(*read.ptr)))
    return false;
  *value = negative ? -literal : literal;
  *tail = read.ptr;
  return true;
}

/* Whether num_str2double may read a plain literal directly: not when the
 * library's debug level prints every program, not when a program of the
 * reader's name is registered (the reader replaces it), and not under a
 * numeric locale whose decimal point is not "." (strtod would stop at the
 * ".").  The locale is asked each time, since the caller may change it
 * between readings; asking costs less than looking for a "." first. */
static bool plain_literal_allowed()
{
  if (NUMIO_debug > 2) return false;
  NumProg *registered = nullptr;
  if (numprog_search(kStr2DoubleName, &registered) != 0 || registered)
    return false;
  const char *point = nl_langinfo(RADIXCHAR);
  return point && point[0] == '.' && point[1] == '\0';
}

/* Reads a floating-point expression.  Returns its value, or 0 with *perrval
 * set; *tail is where reading stopped.  What follows the expression is left
 * to the caller.  A plain literal is read directly, anything else through
 * the grammar. */
double num_str2double(const char *str, const char **tail, int *perrval)
{
  const char *s = numio_skip_white(str ? str : "");
  double value = 0.0;
  const char *end = s;
  if (numio_plain_literal(s, &value, &end) && plain_literal_allowed()) {
    if (tail) *tail = end;
    if (perrval) *perrval = NUM_SUCCESS;
    return value;
  }
  return numio_str2double_grammar(s, tail, perrval);
}

/* Reads a floating-point expression through the temporary program
 * "str2double"; the result as for num_str2double. */
double numio_str2double_grammar(const char *str, const char **tail,
                                int *perrval)
{
  int errval = NUM_SUCCESS;
  double value = 0.0;
  const char *s = numio_skip_white(str ? str : "");
  NumProg *program = numprog_new(kStr2DoubleName);
  if (!program)
    errval = NUM_ENOMEM; /* the name is given: only memory can be missing */
  else
    dpcondition(program, &s, 0, &errval);
  if (tail) *tail = s;
  if (!errval) value = numio_run_value(program, &errval);
  numio_print_program(program, errval);
  if (program && numprog_free(program) != 0) errval = NUM_EPROGRAM;
  if (errval) value = 0.0;
  if (perrval) *perrval = errval;
  return value;
}

/* Reads a 32-bit integer expression; returns its value, or 0 with *perrval
 * set.  *tail is where reading stopped.  Prints nothing. */
long num_str2long(const char *str, const char **tail, int *perrval)
{
  int errval = NUM_SUCCESS;
  const char *s = numio_skip_white(str ? str : "");
  long value = lvexpression(&s, 0, &errval);
  if (tail) *tail = s;
  if (perrval) *perrval = errval;
  return errval ? 0 : value;
}
